// VCollator.cpp - LIKE matching and the collator over the ICU collation service.
//
// This file implements the LIKE logic of VCollator (the wild card stands for
// any run of characters) and VCollator_system, which compares and searches
// with an ICU collator of the dialect's locale: tertiary strength with
// diacritics (case and accents count), primary strength without (both
// ignored). Each strength has its own ICU collator, set up once and only read
// afterwards, so a collator never changes under a concurrent reader. ICU counts width differences at the tertiary level, so full- and
// half-width forms are folded unit by unit before every comparison; the fold
// keeps the length, so positions found in the folded text are positions in
// the caller's text.
#include "basekit/text/VCollator.h"

#include <memory>
#include <mutex>
#include <string>

#include <unicode/normalizer2.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/usearch.h>
#include <unicode/uversion.h>

#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

UniChar VCollator::sDefaultWildChar = u'@';

namespace {

// Unit-by-unit width fold of U+3000 and the block U+FF00 to U+FFEF.
class WidthFold {
public:
    static const WidthFold& Get()
    {
        static const WidthFold sFold;
        return sFold;
    }

    static bool NeedsFold(const UniChar* text, VIndex n)
    {
        for (VIndex i = 0; i < n; ++i) {
            if (text[i] == 0x3000 || (text[i] >= 0xFF00 && text[i] <= 0xFFEF))
                return true;
        }
        return false;
    }

    // Points text at a folded copy in storage when the text needs folding.
    void Apply(const UniChar*& text, VIndex n, std::u16string& storage) const
    {
        if (!NeedsFold(text, n))
            return;
        storage.assign(text, static_cast<size_t>(n));
        for (char16_t& c : storage) {
            if (c == 0x3000)
                c = u' ';
            else if (c >= 0xFF00 && c <= 0xFFEF)
                c = fTable[c - 0xFF00];
        }
        text = reinterpret_cast<const UniChar*>(storage.data());
    }

private:
    WidthFold()
    {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
        for (UChar32 c = 0xFF00; c <= 0xFFEF; ++c) {
            char16_t folded = static_cast<char16_t>(c);
            if (U_SUCCESS(status) && nfkc != nullptr) {
                // Only one-unit results keep the positions of the text.
                icu::UnicodeString mapped;
                UErrorCode err = U_ZERO_ERROR;
                nfkc->normalize(icu::UnicodeString(c), mapped, err);
                if (U_SUCCESS(err) && mapped.length() == 1)
                    folded = mapped.charAt(0);
            }
            fTable[c - 0xFF00] = folded;
        }
    }

    char16_t fTable[0xF0];
};

bool IsIgnoredInLike(UniChar c)
{
    return c <= 0x08 || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

UniChar FoldAscii(UniChar c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<UniChar>(c + 32) : c;
}

}  // namespace

struct XCollatorImpl {
    UCollator* fTertiary = nullptr;  // with diacritics
    UCollator* fPrimary = nullptr;   // without
    std::string fLocale;

    ~XCollatorImpl()
    {
        if (fTertiary != nullptr)
            ucol_close(fTertiary);
        if (fPrimary != nullptr)
            ucol_close(fPrimary);
    }

    // Opens both collators of the locale; false when ICU has none.
    bool Open()
    {
        UErrorCode status = U_ZERO_ERROR;
        fTertiary = ucol_open(fLocale.c_str(), &status);
        if (U_FAILURE(status) || fTertiary == nullptr)
            return false;
        // Canonically equivalent texts (composed or not) compare equal.
        ucol_setAttribute(fTertiary, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        ucol_setStrength(fTertiary, UCOL_TERTIARY);
        fPrimary = ucol_clone(fTertiary, &status);
        if (U_FAILURE(status) || fPrimary == nullptr)
            return false;
        ucol_setStrength(fPrimary, UCOL_PRIMARY);
        return true;
    }

    const UCollator* Get(bool withDiacritics) const { return withDiacritics ? fTertiary : fPrimary; }
};

// --- VCollator ---

VCollator::VCollator(uint32_t dialect) : fDialect(dialect), fWildChar(sDefaultWildChar), fOptions(1) {}

VCollator::VCollator(const VCollator& other)
    : VObject(), IRefCountable(), fDialect(other.fDialect), fWildChar(other.fWildChar), fOptions(other.fOptions)
{
}

bool VCollator::BeginsWithString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                 VIndex patternLength, bool withDiacritics, VIndex* matchLength)
{
    VIndex length = 0;
    if (patternLength <= 0) {
        if (matchLength)
            *matchLength = 0;
        return true;
    }
    bool result = FindString(text, textLength, pattern, patternLength, withDiacritics, &length) == 1;
    if (matchLength)
        *matchLength = result ? length : 0;
    return result;
}

bool VCollator::EndsWithString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                               bool withDiacritics, VIndex* matchLength)
{
    if (matchLength)
        *matchLength = 0;
    if (patternLength <= 0)
        return true;
    VIndex last = 0;
    VIndex from = 0;
    while (from < textLength) {
        VIndex length = 0;
        VIndex at = FindString(text + from, textLength - from, pattern, patternLength, withDiacritics, &length);
        if (at == 0)
            break;
        last = from + at;
        from = last;  // the unit after the start of this hit
    }
    if (last == 0)
        return false;
    VIndex tail = textLength - (last - 1);
    bool result = EqualString(text + last - 1, tail, pattern, patternLength, withDiacritics);
    if (result && matchLength)
        *matchLength = tail;
    return result;
}

CompareResult VCollator::CompareString_Like(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                            VIndex patternLength, bool withDiacritics)
{
    if (fOptions & kOptionIgnoreWildCharInMiddle)
        return _CompareString_Like_IgnoreWildCharInMiddle(text, textLength, pattern, patternLength, withDiacritics);
    return _CompareString_Like_SupportWildCharInMiddle(text, textLength, pattern, patternLength, withDiacritics);
}

CompareResult VCollator::_CompareString_Like_SupportWildCharInMiddle(const UniChar* text, VIndex textLength,
                                                                      const UniChar* pattern, VIndex patternLength,
                                                                      bool withDiacritics)
{
    const UniChar wild = fWildChar;
    if (patternLength <= 0)
        return CompareString(text, textLength, pattern, 0, withDiacritics);
    VIndex firstWild = -1;
    for (VIndex i = 0; i < patternLength && firstWild < 0; ++i) {
        if (pattern[i] == wild)
            firstWild = i;
    }
    if (firstWild < 0)
        return CompareString(text, textLength, pattern, patternLength, withDiacritics);

    const UniChar* t = text;
    VIndex tl = textLength;
    VIndex p = 0;
    if (firstWild > 0) {
        VIndex matched = 0;
        if (!BeginsWithString(t, tl, pattern, firstWild, withDiacritics, &matched))
            return CompareString(t, tl, pattern, firstWild, withDiacritics);
        t += matched;
        tl -= matched;
        p = firstWild;
    }
    for (;;) {
        while (p < patternLength && pattern[p] == wild)
            ++p;
        if (p == patternLength)
            return CR_EQUAL;
        VIndex q = p;
        while (q < patternLength && pattern[q] != wild)
            ++q;
        const UniChar* segment = pattern + p;
        VIndex segmentLength = q - p;
        if (q < patternLength) {
            VIndex matched = 0;
            VIndex at = FindString(t, tl, segment, segmentLength, withDiacritics, &matched);
            if (at == 0)
                return CR_SMALLER;
            t += at - 1 + matched;
            tl -= at - 1 + matched;
            p = q;
            continue;
        }
        // Final segment: its last occurrence must end the text.
        VIndex last = 0;
        VIndex from = 0;
        while (from < tl) {
            VIndex matched = 0;
            VIndex at = FindString(t + from, tl - from, segment, segmentLength, withDiacritics, &matched);
            if (at == 0)
                break;
            last = from + at;
            from = last;
        }
        if (last == 0)
            return CR_SMALLER;
        CompareResult r = CompareString(t + last - 1, tl - (last - 1), segment, segmentLength, withDiacritics);
        return r == CR_BIGGER ? CR_SMALLER : CR_EQUAL;
    }
}

CompareResult VCollator::_CompareString_Like_IgnoreWildCharInMiddle(const UniChar* text, VIndex textLength,
                                                                     const UniChar* pattern, VIndex patternLength,
                                                                     bool withDiacritics)
{
    const UniChar wild = fWildChar;
    bool atStart = patternLength > 0 && pattern[0] == wild;
    bool atEnd = patternLength > 0 && pattern[patternLength - 1] == wild;
    if (!atStart && !atEnd)
        return CompareString(text, textLength, pattern, patternLength, withDiacritics);
    CompareResult longer = textLength > patternLength ? CR_BIGGER : CR_SMALLER;
    if (atStart && atEnd) {
        if (patternLength < 3)
            return CR_EQUAL;
        VIndex matched = 0;
        return FindString(text, textLength, pattern + 1, patternLength - 2, withDiacritics, &matched) != 0 ? CR_EQUAL
                                                                                                            : longer;
    }
    if (atEnd) {
        VIndex matched = 0;
        if (BeginsWithString(text, textLength, pattern, patternLength - 1, withDiacritics, &matched))
            return CR_EQUAL;
        return CompareString(text, textLength, pattern, patternLength - 1, withDiacritics);
    }
    VIndex matched = 0;
    if (EndsWithString(text, textLength, pattern + 1, patternLength - 1, withDiacritics, &matched))
        return CR_EQUAL;
    return longer;
}

bool VCollator::EqualString_Like(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                 VIndex patternLength, bool withDiacritics)
{
    const UniChar wild = fWildChar;
    auto slow = [&]() {
        return CompareString_Like(text, textLength, pattern, patternLength, withDiacritics) == CR_EQUAL;
    };
    VIndex i = 0;
    VIndex j = 0;
    for (;;) {
        while (i < textLength && IsIgnoredInLike(text[i]))
            ++i;
        while (j < patternLength && IsIgnoredInLike(pattern[j]))
            ++j;
        if (j == patternLength) {
            if (i == textLength)
                return true;
            if (text[i] < 0x7F)
                return false;
            return slow();
        }
        if (i == textLength) {
            VIndex k = j;
            while (k < patternLength && (pattern[k] == wild || IsIgnoredInLike(pattern[k])))
                ++k;
            if (k == patternLength)
                return true;
            if (pattern[k] < 0x7F)
                return false;
            return slow();
        }
        UniChar tc = text[i];
        UniChar pc = pattern[j];
        bool ordinaryWild = pc == wild && (fOptions & kOptionIgnoreWildCharInMiddle) && j > 0 &&
                            j < patternLength - 1;
        if (pc == wild && !ordinaryWild) {
            if (j == patternLength - 1)
                return true;
            return CompareString_Like(text + i, textLength - i, pattern + j, patternLength - j, withDiacritics) ==
                   CR_EQUAL;
        }
        if (tc < 0x80 && pc < 0x80 && tc != u'`' && pc != u'`' && tc != u'^' && pc != u'^') {
            bool same = withDiacritics ? tc == pc : FoldAscii(tc) == FoldAscii(pc);
            if (!same)
                return false;
            ++i;
            ++j;
            continue;
        }
        return CompareString_Like(text + i, textLength - i, pattern + j, patternLength - j, withDiacritics) ==
               CR_EQUAL;
    }
}

// --- VCollator_system ---

VCollator_system::VCollator_system(uint32_t dialect, XCollatorImpl* impl) : VCollator(dialect), fImpl(impl) {}

VCollator_system::VCollator_system(const VCollator_system& other)
    : VCollator(other), fImpl(new XCollatorImpl())
{
    UErrorCode status = U_ZERO_ERROR;
    fImpl->fLocale = other.fImpl->fLocale;
    fImpl->fTertiary = ucol_clone(other.fImpl->fTertiary, &status);
    fImpl->fPrimary = ucol_clone(other.fImpl->fPrimary, &status);
}

VCollator_system::~VCollator_system()
{
    delete fImpl;
}

VCollator_system* VCollator_system::Create(uint32_t dialect, VIntlMgr* manager)
{
    (void)manager;
    char locale[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLocaleForLCID(dialect, locale, sizeof(locale), &status);
    if (U_FAILURE(status))
        locale[0] = 0;
    auto impl = std::make_unique<XCollatorImpl>();
    impl->fLocale = locale[0] ? locale : "en_US";
    if (!impl->Open())
        return nullptr;
    return new VCollator_system(dialect, impl.release());
}

VCollator* VCollator_system::Clone() const
{
    return new VCollator_system(*this);
}

void VCollator_system::GetStringComparisonAlgorithmSignature(VString& out) const
{
    UVersionInfo version;
    char text[U_MAX_VERSION_STRING_LENGTH];
    ucol_getVersion(fImpl->fTertiary, version);
    u_versionToString(version, text);
    out.FromCString("system:");
    out.AppendCString(text);
}

CompareResult VCollator_system::CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                              bool withDiacritics)
{
    if (aLength <= 0)
        return bLength <= 0 ? CR_EQUAL : CR_SMALLER;
    if (bLength <= 0)
        return CR_BIGGER;
    std::u16string foldedA, foldedB;
    const WidthFold& fold = WidthFold::Get();
    fold.Apply(a, aLength, foldedA);
    fold.Apply(b, bLength, foldedB);
    switch (ucol_strcoll(fImpl->Get(withDiacritics), a, aLength, b, bLength)) {
        case UCOL_LESS:
            return CR_SMALLER;
        case UCOL_GREATER:
            return CR_BIGGER;
        default:
            return CR_EQUAL;
    }
}

bool VCollator_system::EqualString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                   bool withDiacritics)
{
    return CompareString(a, aLength, b, bLength, withDiacritics) == CR_EQUAL;
}

namespace {

// Runs an ICU search of pattern in text; last selects the last match.
VIndex SearchWithCollator(const UCollator* collator, const UniChar* text, VIndex textLength, const UniChar* pattern,
                          VIndex patternLength, bool last, VIndex* matchLength)
{
    UErrorCode status = U_ZERO_ERROR;
    UStringSearch* search =
        usearch_openFromCollator(pattern, patternLength, text, textLength, collator, nullptr, &status);
    if (U_FAILURE(status) || search == nullptr)
        return 0;
    if (last)
        usearch_setAttribute(search, USEARCH_OVERLAP, USEARCH_ON, &status);
    int32_t at = last ? usearch_last(search, &status) : usearch_first(search, &status);
    VIndex result = 0;
    if (U_SUCCESS(status) && at != USEARCH_DONE) {
        result = at + 1;
        if (matchLength)
            *matchLength = usearch_getMatchedLength(search);
    }
    usearch_close(search);
    return result;
}

}  // namespace

VIndex VCollator_system::FindString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                    VIndex patternLength, bool withDiacritics, VIndex* matchLength)
{
    if (matchLength)
        *matchLength = 0;
    if (textLength <= 0 || patternLength <= 0)
        return (patternLength <= 0 && textLength > 0) ? 1 : 0;
    std::u16string foldedText, foldedPattern;
    const WidthFold& fold = WidthFold::Get();
    fold.Apply(text, textLength, foldedText);
    fold.Apply(pattern, patternLength, foldedPattern);
    return SearchWithCollator(fImpl->Get(withDiacritics), text, textLength, pattern, patternLength, false,
                              matchLength);
}

VIndex VCollator_system::ReversedFindString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                            VIndex patternLength, bool withDiacritics, VIndex* matchLength)
{
    if (matchLength)
        *matchLength = 0;
    if (textLength <= 0)
        return 0;
    if (patternLength <= 0)
        return 1;
    std::u16string foldedText, foldedPattern;
    const WidthFold& fold = WidthFold::Get();
    fold.Apply(text, textLength, foldedText);
    fold.Apply(pattern, patternLength, foldedPattern);
    return SearchWithCollator(fImpl->Get(withDiacritics), text, textLength, pattern, patternLength, true,
                              matchLength);
}

}  // namespace bkit
