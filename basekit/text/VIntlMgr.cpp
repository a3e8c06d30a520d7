// VIntlMgr.cpp - the international manager over ICU locales.
//
// This file implements the part of VIntlMgr that strings use: creation for a
// dialect (a numeric language identifier that ICU maps to a locale), the
// system dialect from the environment, the comparisons forwarded to the
// collator, white space, case mapping and the number separators of the
// dialect's locale.
#include "basekit/text/VIntlMgr.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VCollator.h"

namespace bkit {

namespace {

// The ICU locale of a dialect, or empty when ICU knows none. A bare language
// (no region bits) is no dialect of its own.
std::string LocaleOfDialect(uint32_t dialect)
{
    if ((dialect >> 10) == 0)
        return std::string();
    char locale[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = uloc_getLocaleForLCID(dialect, locale, sizeof(locale), &status);
    if (U_FAILURE(status) || length <= 0)
        return std::string();
    return std::string(locale, static_cast<size_t>(length));
}

// The dialect itself, else its primary dialect, else 1033.
uint32_t KnownDialect(uint32_t dialect)
{
    if (!LocaleOfDialect(dialect).empty())
        return dialect;
    uint32_t primary = (dialect & 0x3FF) | 0x400;
    if (!LocaleOfDialect(primary).empty())
        return primary;
    return VIntlMgr::kDefaultDialect;
}

uint32_t SystemDialectFromEnvironment()
{
    const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == 0)
            continue;
        std::string text(value);
        // LANGUAGE lists preferences separated by ':'; the first one counts.
        text = text.substr(0, text.find(':'));
        text = text.substr(0, text.find('.'));
        text = text.substr(0, text.find('@'));
        if (text.empty() || text == "C" || text == "POSIX")
            continue;
        uint32_t dialect = uloc_getLCID(text.c_str());
        if (dialect != 0)
            return dialect;
    }
    return VIntlMgr::kDefaultDialect;
}

// One symbol of the locale's decimal format, or fallback.
VString NumberSymbol(const std::string& locale, UNumberFormatSymbol symbol, const char* fallback)
{
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, locale.c_str(), nullptr, &status);
    VString result(fallback);
    if (U_SUCCESS(status) && format != nullptr) {
        UChar buffer[32];
        int32_t length = unum_getSymbol(format, symbol, buffer, 32, &status);
        if (U_SUCCESS(status) && length > 0 && length <= 32)
            result.FromUniString(buffer, length);
    }
    if (format != nullptr)
        unum_close(format);
    return result;
}

}  // namespace

VIntlMgr::VIntlMgr(uint32_t dialect) : fCollator(nullptr), fDialect(dialect) {}

VIntlMgr::VIntlMgr(const VIntlMgr& other)
    : VObject(), IRefCountable(), fCollator(other.fCollator ? other.fCollator->Clone() : nullptr),
      fDialect(other.fDialect), fDecimalSeparator(other.fDecimalSeparator),
      fThousandsSeparator(other.fThousandsSeparator)
{
}

VIntlMgr::~VIntlMgr()
{
    if (fCollator != nullptr)
        fCollator->Release();
}

VIntlMgr* VIntlMgr::Create(uint32_t dialect, uint32_t collatorDialect, uint8_t options)
{
    uint32_t resolved = KnownDialect(ResolveDialectCode(dialect));
    uint32_t collatorResolved = KnownDialect(ResolveDialectCode(collatorDialect));
    if (collatorResolved == 1038 || collatorResolved == 1054)
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
    if (dialect != 0 && dialect != static_cast<uint32_t>(-1) && dialect != static_cast<uint32_t>(-2))
        return dialect;
    // Read once for the life of the process (the environment is set before main).
    static const uint32_t sSystemDialect = SystemDialectFromEnvironment();
    return sSystemDialect;
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
    std::string locale = LocaleOfDialect(fDialect);
    if (locale.empty())
        locale = "en_US";
    fDecimalSeparator = NumberSymbol(locale, UNUM_DECIMAL_SEPARATOR_SYMBOL, ".");
    fThousandsSeparator = NumberSymbol(locale, UNUM_GROUPING_SEPARATOR_SYMBOL, ",");
}

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

bool VIntlMgr::IsSpace(UniChar c, bool) const
{
    return c == 0x0020 || c == 0x00A0 || (c >= 0x2000 && c <= 0x200B) || c == 0x3000;
}

void VIntlMgr::ToUpperLowerCase(VString& text, bool, bool upper) const
{
    VIndex length = text.GetLength();
    if (length == 0)
        return;
    // Case mapping does not depend on the dialect: the root locale's rules.
    UErrorCode status = U_ZERO_ERROR;
    UChar stackBuffer[512];
    UChar* out = stackBuffer;
    int32_t capacity = 512;
    std::u16string heap;
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = U_ZERO_ERROR;
        int32_t produced = upper ? u_strToUpper(out, capacity, text.GetCPointer(), length, "", &status)
                                 : u_strToLower(out, capacity, text.GetCPointer(), length, "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
            heap.resize(static_cast<size_t>(produced) + 1);
            out = heap.data();
            capacity = produced + 1;
            continue;
        }
        if (U_SUCCESS(status))
            text.FromUniString(out, produced);
        return;
    }
}

}  // namespace bkit
