// XMacIntlMgr.h - the platform half of the international manager.
//
// This file defines XMacIntlMgr, the member of VIntlMgr that talks to the
// platform's locale services (basekit/platform/Locale*.h): the dialect's
// locale, created on first use and kept, the month and weekday names, loaded
// together on first use, case mapping, and the platform's date, time and
// duration formatters; and the factories of the platform's text converters.
//
// Contracts:
// - One XMacIntlMgr belongs to one manager and thus to one task; it is not
//   locked. A copy starts again without locale and names.
// - The locale of the system dialect is the user's current locale when its
//   language is the dialect's; any other dialect gets the locale of its BCP 47
//   code.
// - Outputs are replaced only when the platform answers; a formatter or
//   locale that cannot be made leaves them untouched (or empty where said).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "basekit/BKitTypes.h"

namespace bkit {

namespace platform {
class Locale;
}

class VString;
class VToUnicodeConverter;
class VFromUnicodeConverter;
class VTime;
class VDuration;

class XMacIntlMgr {
public:
    // The platform's date and time styles.
    enum EStyle : int32_t { eNoStyle = 0, eShortStyle = 1, eMediumStyle = 2, eLongStyle = 3, eFullStyle = 4 };

    explicit XMacIntlMgr(uint32_t dialect);
    // Same dialect, no locale, no names.
    XMacIntlMgr(const XMacIntlMgr& other);
    XMacIntlMgr& operator=(const XMacIntlMgr&) = delete;
    ~XMacIntlMgr();

    uint32_t GetDialectCode() const { return fDialect; }

    // A platform converter for the charset, with one reference for the
    // caller, or null when the platform does not convert it.
    static VToUnicodeConverter* NewToUnicodeConverter(CharSet charSet);
    static VFromUnicodeConverter* NewFromUnicodeConverter(CharSet charSet);

    // A new locale for the dialect's BCP 47 code (the root locale when the
    // dialect has none); never null.
    static std::shared_ptr<const platform::Locale> CreateCFLocaleRef(uint32_t dialect);
    // The manager's locale, created on first use and kept. Get: borrowed.
    const platform::Locale& GetCFLocaleRef();
    // The same, with a reference of the caller's own.
    std::shared_ptr<const platform::Locale> RetainCFLocaleRef();

    // Maps the whole string, without locale rules.
    void ToUpperLowerCase(VString& text, bool upper) const;

    // Formats in the locale with the given date and time styles: shown in GMT
    // when utc, else in the user's time zone.
    void FormatVTime(const VTime& time, VString& out, EStyle dateStyle, EStyle timeStyle, bool utc);
    // The duration's days, hours, minutes, seconds in a date of year 0 taken
    // as GMT, shown with the time style in the user's zone.
    void FormatVDuration(const VDuration& duration, VString& out, EStyle timeStyle);
    // Formats with the locale's best pattern for a skeleton ("yMMMd").
    void FormatVTimeWithTemplate(const VTime& time, const VString& skeleton, VString& out, bool utc);
    void FormatDate(const VTime& time, VString& out, EStyle style, bool utc);
    void FormatTime(const VTime& time, VString& out, EStyle style, bool utc);
    void FormatDuration(const VDuration& duration, VString& out, EStyle style);

    // The platform pattern of a formatter with these styles (empty on failure).
    void GetFormatPattern(EStyle dateStyle, EStyle timeStyle, VString& pattern);
    // AM and PM symbols of the locale (untouched on failure).
    void GetAMPMSymbols(VString& am, VString& pm);
    // Decimal and grouping separators and currency symbol of the locale.
    void GetNumberSymbols(VString& decimal, VString& grouping, VString& currency);

    // Months 1 to 12, weekdays 0 (Sunday) to 6. Out of range clears the name;
    // names that cannot be had leave it as it was.
    void GetMonthName(int32_t month, bool shortName, VString& name);
    void GetWeekDayName(int32_t day, bool shortName, VString& name);
    // Loads the four name arrays together; false when any is missing.
    bool LoadCalendarSymbols();

private:
    struct Symbols;

    uint32_t fDialect;
    std::shared_ptr<const platform::Locale> fLocale;
    std::unique_ptr<Symbols> fSymbols;
};

}  // namespace bkit
