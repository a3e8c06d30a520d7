// LocaleDateFormatter.h - date formatters of a locale.
//
// This file defines platform::DateFormatter, which replaces the CoreFoundation
// date-formatter services the international manager uses: a formatter for a
// locale with a date style and a time style (CFDateFormatterCreate), one whose
// format comes from a date-format template (CFDateFormatterCreateDateFormat-
// FromTemplate), its format pattern, its AM and PM symbols and the month and
// weekday name arrays (CFDateFormatterCopyProperty), setting its time zone to
// GMT, and formatting an absolute time. It is built on ICU date formats.
//
// Contracts:
// - A formatter shows times in the user's time zone (the TZ environment, as
//   ICU reads it) until SetTimeZoneGMT.
// - Absolute times are seconds since 1970-01-01 00:00:00 UTC (not 2001 as on
//   macOS); fractions are dropped by the callers.
// - A formatter is used by one thread at a time; formatters of different
//   threads may be made and used side by side.
// - Where it falls short of macOS: no user overrides of the formats; with both
//   styles "none" the pattern and every formatted text are empty, as on macOS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bkit::platform {

class Locale;

class DateFormatter {
public:
    enum Style : int32_t { kNoStyle = 0, kShortStyle = 1, kMediumStyle = 2, kLongStyle = 3, kFullStyle = 4 };
    enum Symbols : int32_t { kMonthNames, kShortMonthNames, kWeekdayNames, kShortWeekdayNames };

    DateFormatter(const Locale& locale, Style dateStyle, Style timeStyle);
    // The locale's best pattern for a skeleton of pattern letters ("yMMMd").
    DateFormatter(const Locale& locale, const std::u16string& skeleton);
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;
    ~DateFormatter();

    // False when the platform could not make it.
    bool IsValid() const { return fFormat != nullptr || fEmpty; }

    std::u16string GetPattern() const;
    // False when the platform has no such symbol.
    bool GetAMSymbol(std::u16string& symbol) const;
    bool GetPMSymbol(std::u16string& symbol) const;
    // Months January first, weekdays Sunday first; false when missing.
    bool GetSymbols(Symbols which, std::vector<std::u16string>& names) const;

    void SetTimeZoneGMT();
    // False when the platform fails.
    bool Format(int64_t secondsSince1970, std::u16string& out) const;

private:
    void* fFormat = nullptr;  // UDateFormat
    bool fEmpty = false;      // both styles none
};

}  // namespace bkit::platform
