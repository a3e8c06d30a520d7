// LocaleStringCompare.cpp - comparison and search over ICU collators.
#include "basekit/platform/LocaleStringCompare.h"

#include <atomic>
#include <cstring>

#include <unicode/normalizer2.h>
#include <unicode/ucol.h>
#include <unicode/usearch.h>
#include <unicode/uversion.h>

#include "basekit/platform/Locale.h"

namespace bkit::platform {

namespace {

// Unit-by-unit width fold of U+3000 and the block U+FF00 to U+FFEF: ICU
// counts width differences at the tertiary level, the platform ignores them.
class WidthFold {
public:
    static const WidthFold& Get()
    {
        static const WidthFold sFold;
        return sFold;
    }

    // Whether any unit may be U+2000 or above: OR-ing four units at a time
    // settles most text before any closer look.
    static uint64_t HighBits(const char16_t* text, int32_t n)
    {
        uint64_t bits = 0;
        uint64_t first, second;
        if (n >= 8) {
            for (int32_t i = 0; i + 8 <= n; i += 8) {
                std::memcpy(&first, text + i, sizeof(first));
                std::memcpy(&second, text + i + 4, sizeof(second));
                bits |= first | second;
            }
            // The last eight units, overlapping what was read: no tail loop.
            std::memcpy(&first, text + n - 8, sizeof(first));
            std::memcpy(&second, text + n - 4, sizeof(second));
            bits |= first | second;
        } else if (n >= 4) {
            std::memcpy(&first, text, sizeof(first));
            std::memcpy(&second, text + n - 4, sizeof(second));
            bits = first | second;
        } else {
            for (int32_t i = 0; i < n; ++i)
                bits |= text[i];
        }
        return bits & 0xE000E000E000E000ULL;
    }

    static bool NeedsFold(const char16_t* text, int32_t n)
    {
        if (HighBits(text, n) == 0)
            return false;
        for (int32_t i = 0; i < n; ++i) {
            if (text[i] == 0x3000 || (text[i] >= 0xFF00 && text[i] <= 0xFFEF))
                return true;
        }
        return false;
    }

    // Points text at a folded copy in storage; the caller has seen NeedsFold.
    void Apply(const char16_t*& text, int32_t n, std::u16string& storage) const
    {
        storage.assign(text, static_cast<size_t>(n));
        for (char16_t& c : storage) {
            if (c == 0x3000)
                c = u' ';
            else if (c >= 0xFF00 && c <= 0xFFEF)
                c = fTable[c - 0xFF00];
        }
        text = storage.data();
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


std::atomic<uint64_t> sSearchedUnits{0};

}  // namespace

constinit thread_local uint64_t StringComparer::tComparisons = 0;

uint64_t StringComparer::GetSearchedUnitsForTesting()
{
    return sSearchedUnits.load(std::memory_order_relaxed);
}

StringComparer::StringComparer(const Locale& locale)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* tertiary = ucol_open(locale.GetIdentifier().c_str(), &status);
    if (U_FAILURE(status) || tertiary == nullptr)
        return;
    // Canonically equivalent texts (composed or not) compare equal.
    ucol_setAttribute(tertiary, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    ucol_setStrength(tertiary, UCOL_TERTIARY);
    UCollator* primary = ucol_clone(tertiary, &status);
    if (U_FAILURE(status) || primary == nullptr) {
        ucol_close(tertiary);
        return;
    }
    ucol_setStrength(primary, UCOL_PRIMARY);
    fTertiary = tertiary;
    fPrimary = primary;
}

StringComparer::StringComparer(const StringComparer& other)
{
    if (!other.IsValid())
        return;
    UErrorCode status = U_ZERO_ERROR;
    UCollator* tertiary = ucol_clone(other.fTertiary, &status);
    UCollator* primary = ucol_clone(other.fPrimary, &status);
    if (U_SUCCESS(status) && tertiary != nullptr && primary != nullptr) {
        fTertiary = tertiary;
        fPrimary = primary;
        return;
    }
    if (tertiary != nullptr)
        ucol_close(tertiary);
    if (primary != nullptr)
        ucol_close(primary);
}

StringComparer::~StringComparer()
{
    if (fTertiary != nullptr)
        ucol_close(fTertiary);
    if (fPrimary != nullptr)
        ucol_close(fPrimary);
}

int32_t StringComparer::_CompareIgnoringWidth(const char16_t* a, int32_t aLength, const char16_t* b,
                                              int32_t bLength, UCollationResult result) const
{
    if ((WidthFold::HighBits(a, aLength) | WidthFold::HighBits(b, bLength)) != 0) {
        std::u16string foldedA, foldedB;
        if (WidthFold::NeedsFold(a, aLength))
            WidthFold::Get().Apply(a, aLength, foldedA);
        if (WidthFold::NeedsFold(b, bLength))
            WidthFold::Get().Apply(b, bLength, foldedB);
        result = ucol_strcoll(fTertiary, a, aLength, b, bLength);
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

bool StringComparer::Find(const char16_t* text, int32_t textLength, const char16_t* pattern, int32_t patternLength,
                          bool withDiacritics, int32_t& location, int32_t& length) const
{
    location = 0;
    length = 0;
    bool found = false;
    FindEach(text, textLength, pattern, patternLength, withDiacritics, [&](int32_t at, int32_t matched) {
        location = at;
        length = matched;
        found = true;
        return false;
    });
    return found;
}

void StringComparer::FindEach(const char16_t* text, int32_t textLength, const char16_t* pattern,
                              int32_t patternLength, bool withDiacritics,
                              const std::function<bool(int32_t location, int32_t length)>& found) const
{
    if (!IsValid() || textLength <= 0 || patternLength <= 0)
        return;
    // Folded once for the whole text: folding what is left before every
    // occurrence would make the cost grow with the square of the text.
    std::u16string foldedText, foldedPattern;
    if (WidthFold::NeedsFold(text, textLength))
        WidthFold::Get().Apply(text, textLength, foldedText);
    if (WidthFold::NeedsFold(pattern, patternLength))
        WidthFold::Get().Apply(pattern, patternLength, foldedPattern);
    sSearchedUnits.fetch_add(static_cast<uint64_t>(textLength), std::memory_order_relaxed);
    UErrorCode status = U_ZERO_ERROR;
    UStringSearch* search = usearch_openFromCollator(pattern, patternLength, text, textLength,
                                                     withDiacritics ? fTertiary : fPrimary, nullptr,
                                                     &status);
    if (U_FAILURE(status) || search == nullptr)
        return;
    // Without overlap each next search starts where the last occurrence ends.
    usearch_setAttribute(search, USEARCH_OVERLAP, USEARCH_OFF, &status);
    int32_t at = usearch_first(search, &status);
    while (U_SUCCESS(status) && at != USEARCH_DONE) {
        const int32_t length = usearch_getMatchedLength(search);
        if (!found(at, length))
            break;
        if (length > 0)
            at = usearch_next(search, &status);
        else if (at + 1 < textLength)
            at = usearch_following(search, at + 1, &status);
        else
            break;
    }
    usearch_close(search);
}

std::string StringComparer::GetVersion() const
{
    if (!IsValid())
        return std::string();
    UVersionInfo version;
    char text[U_MAX_VERSION_STRING_LENGTH];
    ucol_getVersion(fTertiary, version);
    u_versionToString(version, text);
    return std::string(text);
}

}  // namespace bkit::platform
