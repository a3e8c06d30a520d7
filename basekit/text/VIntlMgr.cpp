// VIntlMgr.cpp - creation, locale variables, formatting and comparison of the
// international manager.
//
// The dialect table and the language codes live in VIntlMgrDialects.cpp,
// character classes in VIntlMgrChars.cpp, words and text direction in
// VIntlMgrWords.cpp and pattern formatting in VIntlMgrFormat.cpp.
#include "basekit/text/VIntlMgr.h"

#include <atomic>
#include <cstring>

#include "basekit/platform/Locale.h"
#include "basekit/platform/PreferredLanguages.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VCollator.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

// The resolved system dialect, -2 until first asked. Resolving twice from two
// threads gives the same answer, so no lock.
std::atomic<uint32_t> sSystemDialect{VIntlMgr::kNoDialect};

uint32_t SystemDialect()
{
    uint32_t dialect = sSystemDialect.load(std::memory_order_relaxed);
    if (dialect != VIntlMgr::kNoDialect)
        return dialect;
    dialect = VIntlMgr::kDefaultDialect;
    std::string canonical = platform::Locale::CanonicalLanguageIdentifier(platform::GetPreferredLanguages().front());
    if (canonical.size() > 80)
        canonical.resize(80);
    uint32_t code = VIntlMgr::kNoDialect;
    if (!canonical.empty() && VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(canonical.c_str()), code))
        dialect = code;
    sSystemDialect.store(dialect, std::memory_order_relaxed);
    return dialect;
}

// The dialect when a row has it, else its primary dialect, else none.
uint32_t KnownDialect(uint32_t dialect, bool& found)
{
    found = true;
    if (VIntlMgr::IsDialectCode(dialect))
        return dialect;
    uint32_t primary = (dialect & 0x3FF) | 0x400;
    if (VIntlMgr::IsDialectCode(primary))
        return primary;
    found = false;
    return VIntlMgr::kDefaultDialect;
}

bool IsAsciiLetter(UniChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Walks a platform pattern outside its quoted parts: calls letter(c) for each
// ASCII letter and other(c) for each other unit until one of them says stop.
template <class Letter, class Other>
void ScanPattern(const VString& pattern, Letter letter, Other other)
{
    const UniChar* p = pattern.GetCPointer();
    VIndex n = pattern.GetLength();
    for (VIndex i = 0; i < n; ++i) {
        UniChar c = p[i];
        if (c == u'\'' || c == u'"') {
            VIndex close = i + 1;
            while (close < n && p[close] != c)
                ++close;
            i = close;
            continue;
        }
        if (IsAsciiLetter(c) ? !letter(c) : !other(c))
            return;
    }
}

XMacIntlMgr::EStyle DateStyleOf(EOSFormats format)
{
    switch (format) {
        case eOS_SHORT_FORMAT:
            return XMacIntlMgr::eShortStyle;
        case eOS_MEDIUM_FORMAT:
            return XMacIntlMgr::eMediumStyle;
        case eOS_LONG_FORMAT:
            return XMacIntlMgr::eFullStyle;
        default:
            return XMacIntlMgr::eNoStyle;
    }
}

XMacIntlMgr::EStyle TimeStyleOf(EOSFormats format)
{
    switch (format) {
        case eOS_SHORT_FORMAT:
            return XMacIntlMgr::eShortStyle;
        case eOS_MEDIUM_FORMAT:
            return XMacIntlMgr::eMediumStyle;
        case eOS_LONG_FORMAT:
            return XMacIntlMgr::eLongStyle;
        default:
            return XMacIntlMgr::eNoStyle;
    }
}

}  // namespace

// --- creation and copies ---

bool VIntlMgr::sICU_Available = false;

VIntlMgr::VIntlMgr(uint32_t dialect)
    : fImpl(dialect), fWordRuleKind(1), fCollator(nullptr), fDialect(dialect), fUseAmPm(false), fDateOrder(0)
{
}

VIntlMgr::VIntlMgr(const VIntlMgr& other)
    : VObject(), IRefCountable(), fImpl(other.fImpl), fWordRuleKind(other.fWordRuleKind),
      fCollator(other.fCollator ? other.fCollator->Clone() : nullptr), fDialect(other.fDialect),
      fAMString(other.fAMString), fPMString(other.fPMString), fUseAmPm(other.fUseAmPm),
      fDecimalSeparator(other.fDecimalSeparator), fThousandsSeparator(other.fThousandsSeparator),
      fDateSeparator(other.fDateSeparator), fTimeSeparator(other.fTimeSeparator), fCurrency(other.fCurrency),
      fDateOrder(other.fDateOrder)
{
    for (int i = 0; i < 4; ++i) {
        fDatePatterns[i] = other.fDatePatterns[i];
        fTimePatterns[i] = other.fTimePatterns[i];
    }
}

VIntlMgr::~VIntlMgr()
{
    if (fCollator != nullptr)
        fCollator->Release();
}

VIntlMgr* VIntlMgr::Create(uint32_t dialect, uint32_t collatorDialect, uint8_t options)
{
    bool found = false;
    uint32_t resolved = KnownDialect(ResolveDialectCode(dialect), found);
    uint32_t collatorResolved = KnownDialect(ResolveDialectCode(collatorDialect), found);
    // Hungarian and Thai collation is not offered; they sort as US English.
    if (found && (collatorResolved == 1038 || collatorResolved == 1054))
        collatorResolved = kDefaultDialect;

    // The calling task's manager of the same dialects serves as a model.
    VIntlMgr* current = VTask::GetCurrentIntlManager();
    if (current != nullptr && current->fDialect == resolved && current->fCollator != nullptr &&
        current->fCollator->GetDialectCode() == collatorResolved && current->fCollator->GetOptions() == options) {
        VIntlMgr* copy = current->Clone();
        copy->Reset();
        return copy;
    }

    VIntlMgr* manager = new VIntlMgr(resolved);
    if (sICU_Available && (options & kOptionBuiltInWordRules) == 0)
        manager->fWordRuleKind = 2;
    manager->fCollator =
        VCollator_system::Create(collatorResolved, collatorResolved == resolved ? manager : nullptr);
    if (manager->fCollator == nullptr) {
        manager->Release();
        _ThrowError(VE_INTL_MGR_NOT_CREATED);
        return nullptr;
    }
    manager->_InitLocaleVariables();
    return manager;
}

VIntlMgr* VIntlMgr::Clone() const
{
    return new VIntlMgr(*this);
}

void VIntlMgr::Reset()
{
    if (fCollator != nullptr)
        fCollator->Reset();
}

uint32_t VIntlMgr::ResolveDialectCode(uint32_t dialect)
{
    if (dialect != 0 && dialect != static_cast<uint32_t>(-1) && dialect != kNoDialect)
        return dialect;
    return SystemDialect();
}

VIntlMgr* VIntlMgr::GetCurrentOrDefault()
{
    if (VIntlMgr* manager = VTask::GetCurrentIntlManager())
        return manager;
    // Each thread gets its own, so that no collator is used by two threads.
    thread_local VRefPtr<VIntlMgr> sThreadDefault = VRefPtr<VIntlMgr>::Adopt(Create(kDefaultDialect, kDefaultDialect));
    return sThreadDefault.Get();
}

void VIntlMgr::_InitLocaleVariables()
{
    // The platform versions this runs on all give each manager its own locale.
    fImpl.GetNumberSymbols(fDecimalSeparator, fThousandsSeparator, fCurrency);
    if (fCurrency.GetLength() == 1 && fCurrency.GetUniChar(1) == 0x00A4)
        fCurrency.FromUniChar(0x20AC);

    fImpl.GetAMPMSymbols(fAMString, fPMString);
    VString pattern;
    fImpl.GetFormatPattern(XMacIntlMgr::eNoStyle, XMacIntlMgr::eShortStyle, pattern);
    fUseAmPm = false;
    bool haveSeparator = false;
    ScanPattern(
        pattern,
        [&](UniChar c) {
            if (c == u'a')
                fUseAmPm = true;
            return true;
        },
        [&](UniChar c) {
            if (!haveSeparator) {
                fTimeSeparator.FromUniChar(c);
                haveSeparator = true;
            }
            return true;
        });

    fImpl.GetFormatPattern(XMacIntlMgr::eShortStyle, XMacIntlMgr::eNoStyle, pattern);
    char order[4] = "";
    size_t orderLength = 0;
    haveSeparator = false;
    ScanPattern(
        pattern,
        [&](UniChar c) {
            if ((c == u'M' || c == u'd' || c == u'y') && orderLength < 3 &&
                std::memchr(order, static_cast<char>(c), orderLength) == nullptr)
                order[orderLength++] = static_cast<char>(c);
            return true;
        },
        [&](UniChar c) {
            if (!haveSeparator) {
                fDateSeparator.FromUniChar(c);
                haveSeparator = true;
            }
            return true;
        });
    static const char* const kOrders[] = {"Mdy", "dMy", "yMd", "Myd", "dyM", "ydM"};
    fDateOrder = 0;
    for (int i = 0; i < 6; ++i) {
        if (std::strcmp(order, kOrders[i]) == 0)
            fDateOrder = i;
    }

    static const XMacIntlMgr::EStyle kStyles[] = {XMacIntlMgr::eShortStyle, XMacIntlMgr::eMediumStyle,
                                                  XMacIntlMgr::eLongStyle, XMacIntlMgr::eFullStyle};
    for (int i = 0; i < 4; ++i)
        fImpl.GetFormatPattern(XMacIntlMgr::eNoStyle, kStyles[i], fTimePatterns[i]);
    for (int i = 0; i < 4; ++i)
        fImpl.GetFormatPattern(kStyles[i], XMacIntlMgr::eNoStyle, fDatePatterns[i]);
}

const VString& VIntlMgr::GetDatePattern(int32_t style) const
{
    return fDatePatterns[style >= 0 && style < 4 ? style : 0];
}

const VString& VIntlMgr::GetTimePattern(int32_t style) const
{
    return fTimePatterns[style >= 0 && style < 4 ? style : 0];
}

// --- formatting ---

void VIntlMgr::FormatDate(const VTime& time, VString& out, EOSFormats format, bool utc) const
{
    XMacIntlMgr::EStyle style = DateStyleOf(format);
    if (style != XMacIntlMgr::eNoStyle)
        fImpl.FormatDate(time, out, style, utc);
}

void VIntlMgr::FormatTime(const VTime& time, VString& out, EOSFormats format, bool utc) const
{
    fImpl.FormatTime(time, out, TimeStyleOf(format), utc);
}

void VIntlMgr::FormatDuration(const VDuration& duration, VString& out, EOSFormats format) const
{
    fImpl.FormatDuration(duration, out, TimeStyleOf(format));
}

void VIntlMgr::GetMonthName(int32_t month, bool shortName, VString& name) const
{
    fImpl.GetMonthName(month, shortName, name);
}

void VIntlMgr::GetWeekDayName(int32_t day, bool shortName, VString& name) const
{
    fImpl.GetWeekDayName(day, shortName, name);
}

int32_t VIntlMgr::CustomFormatTime(const VTime&, bool, const VString&, VString& out) const
{
    out.Clear();
    return 0;
}

// --- comparison ---

CompareResult VIntlMgr::CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                      bool withDiacritics) const
{
    return fCollator->CompareString(a, aLength, b, bLength, withDiacritics);
}

CompareResult VIntlMgr::CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                      const VCompareOptions& options) const
{
    if (options.IsLike())
        return fCollator->CompareString_Like(a, aLength, b, bLength, options.IsDiacritical());
    return fCollator->CompareString(a, aLength, b, bLength, options.IsDiacritical());
}

CompareResult VIntlMgr::CompareString_Like(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                           bool withDiacritics) const
{
    return fCollator->CompareString_Like(a, aLength, b, bLength, withDiacritics);
}

bool VIntlMgr::EqualString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                           bool withDiacritics) const
{
    return fCollator->EqualString(a, aLength, b, bLength, withDiacritics);
}

bool VIntlMgr::EqualString_Like(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                bool withDiacritics) const
{
    return fCollator->EqualString_Like(a, aLength, b, bLength, withDiacritics);
}

UniChar VIntlMgr::GetWildChar() const
{
    return fCollator != nullptr ? fCollator->GetWildChar() : VCollator::sDefaultWildChar;
}

void VIntlMgr::GetStringComparisonAlgorithmSignature(VString& out) const
{
    fCollator->GetStringComparisonAlgorithmSignature(out);
}

void VIntlMgr::GetKewordAlgorithmSignature(VString& out) const
{
    if (fWordRuleKind == 1)
        out.FromCString("AlphaNum");
    else if (fWordRuleKind != 2)
        out.Clear();
}

// --- characters ---

bool VIntlMgr::IsSpace(UniChar c, bool) const
{
    return c == 0x0020 || c == 0x00A0 || (c >= 0x2000 && c <= 0x200B) || c == 0x3000;
}

int32_t VIntlMgr::CharDigitValue(UniChar c) const
{
    return (c >= u'0' && c <= u'9') ? static_cast<int32_t>(c - u'0') : -1;
}

int32_t VIntlMgr::CharType(uint32_t)
{
    return 0;
}

void VIntlMgr::ToUpperLowerCase(VString& text, bool, bool upper) const
{
    fImpl.ToUpperLowerCase(text, upper);
}

bool VIntlMgr::IsAMacCharacter(uint8_t byte, uint8_t kind)
{
    bool letter = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
    bool digit = byte >= '0' && byte <= '9';
    bool macLetter = (byte >= 0x80 && byte <= 0x9F) || byte == 0xAE || byte == 0xBE ||
                     (byte >= 0xCB && byte <= 0xCF);
    switch (kind) {
        case 0:
            return byte == '\t' || byte == '\r' || (byte >= 0x20 && byte != 0x7F);
        case 1:
            return letter || digit || byte == '_' || macLetter;
        case 2:
            return letter || byte == '_' || macLetter;
        case 3:
            return letter || digit || byte == '_';
        case 4:
            return letter || byte == '_';
        case 5:
            return digit;
        default:
            return false;
    }
}

bool VIntlMgr::DebugConvertString(void* source, int32_t size, CharSet sourceCharSet, void* target,
                                  int32_t& targetSize, CharSet targetCharSet)
{
    if (sourceCharSet != targetCharSet)
        return false;
    int32_t n = size < targetSize ? size : targetSize;
    if (n > 0)
        std::memmove(target, source, static_cast<size_t>(n));
    targetSize = n;
    return true;
}

}  // namespace bkit
