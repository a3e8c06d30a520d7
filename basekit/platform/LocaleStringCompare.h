// LocaleStringCompare.h - locale-aware comparison and search of UTF-16 text.
//
// This file defines platform::StringComparer, which replaces
// CFStringCompareWithOptionsAndLocale and CFStringFindWithOptionsAndLocale as
// the collator calls them: localized and width-insensitive, and, without
// diacritics, also case- and diacritic-insensitive. It is built on ICU
// collation (tertiary strength with diacritics, primary strength without;
// canonically equivalent texts compare equal) and ICU string search.
//
// Contracts:
// - Width is always ignored: U+3000 and the half- and full-width forms
//   U+FF00 to U+FFEF are folded unit by unit before comparing; the fold keeps
//   the length, so positions found are positions in the caller's text.
// - A comparer is used by one thread at a time (ICU collators and searches
//   are not to be shared); copy it for another thread.
// - Where it falls short of macOS: the order is ICU's (CLDR) root or locale
//   order, which may differ in details from the macOS order; lengths of
//   matches come from ICU's string search, which matches whole grapheme
//   clusters only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <unicode/coll.h>
#include <unicode/ucol.h>

namespace bkit::platform {

class Locale;

class StringComparer {
public:
    explicit StringComparer(const Locale& locale);
    // An independent copy of the same locale and settings.
    StringComparer(const StringComparer& other);
    StringComparer& operator=(const StringComparer&) = delete;
    ~StringComparer();

    // False when ICU has no collator for the locale.
    bool IsValid() const { return fTertiary != nullptr && fPrimary != nullptr; }

    // -1, 0 or 1: a against b. Inline: every sort and search of the toolbox
    // comes through here.
    int32_t Compare(const char16_t* a, int32_t aLength, const char16_t* b, int32_t bLength,
                    bool withDiacritics) const
    {
        ++tComparisons;
        if (!IsValid())
            return 0;
        // Straight to the collator object: the C wrapper only forwards.
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult result = icu::Collator::fromUCollator(withDiacritics ? fTertiary : fPrimary)
                                      ->compare(a, aLength, b, bLength, status);
        // Width differences are tertiary differences: the primary strength
        // never sees them, and texts equal at the tertiary strength have the
        // same widths throughout. Only a difference may be one of width alone.
        if (!withDiacritics || result == UCOL_EQUAL)
            return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
        return _CompareIgnoringWidth(a, aLength, b, bLength, result);
    }
    // The first occurrence of pattern in text: its 0-based location and the
    // length it covers in text; false when none (or on failure).
    bool Find(const char16_t* text, int32_t textLength, const char16_t* pattern, int32_t patternLength,
              bool withDiacritics, int32_t& location, int32_t& length) const;
    // Every occurrence of pattern in text from left to right, each as Find
    // would give it on the text that follows the previous one (one unit
    // further on after an occurrence that covers nothing): found gets the
    // 0-based location and the covered length, and returns false to stop.
    // One search runs over the whole text, so the cost follows the text once
    // however many occurrences there are.
    void FindEach(const char16_t* text, int32_t textLength, const char16_t* pattern, int32_t patternLength,
                  bool withDiacritics, const std::function<bool(int32_t location, int32_t length)>& found) const;
    // The units of text that searches of every comparer were opened over
    // since the process started, for tests that check a search cost.
    static uint64_t GetSearchedUnitsForTesting();
    // The comparisons made on the calling thread so far, for the same tests.
    static uint64_t GetComparisonsForTesting() { return tComparisons; }
    // The collation data's version ("153.112").
    std::string GetVersion() const;

private:
    // The tertiary comparison again on width-folded texts when either text
    // holds a unit that folds; else the result it was given.
    int32_t _CompareIgnoringWidth(const char16_t* a, int32_t aLength, const char16_t* b, int32_t bLength,
                                  UCollationResult result) const;

    static constinit thread_local uint64_t tComparisons;

    UCollator* fTertiary = nullptr;  // with diacritics
    UCollator* fPrimary = nullptr;   // without
};

}  // namespace bkit::platform
