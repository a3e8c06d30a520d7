// TimeZone.cpp - Gregorian calendar dates in the GMT and the local time zone.
//
// This file implements the calendar stand-in over the C library's zone
// functions (tzset, localtime_r, mktime) and plain civil-day arithmetic.
// localtime_r reads the zone once and keeps it until tzset, as macOS keeps its
// default zone until it is reset; mktime re-reads it at every call by itself.
#include "basekit/platform/TimeZone.h"

#include <time.h>

#include <cerrno>
#include <limits>

namespace bkit::platform {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Floor division, for negative days and months.
int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int64_t SecondsOfDay(const GregorianDate& date)
{
    return static_cast<int64_t>(date.hour) * 3600 + static_cast<int64_t>(date.minute) * 60 + date.second;
}

bool FitsInt(int64_t v)
{
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    // Normalise the month into 1..12, carrying years.
    int64_t m0 = month - 1;
    year += FloorDiv(m0, 12);
    int64_t m = m0 - FloorDiv(m0, 12) * 12 + 1;
    // Count from 1 March so that the leap day ends the year.
    int64_t y = (m <= 2) ? year - 1 : year;
    int64_t era = FloorDiv(y, 400);
    int64_t yoe = y - era * 400;                                   // [0, 399]
    int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;         // [0, 365], day 1 excluded
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;           // [0, 146096]
    return era * 146097 + doe - 719468 + (day - 1);
}

void CivilFromDays(int64_t days, int64_t& year, int32_t& month, int32_t& day)
{
    int64_t z = days + 719468;
    int64_t era = FloorDiv(z, 146097);
    int64_t doe = z - era * 146097;                                          // [0, 146096]
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;     // [0, 399]
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                   // [0, 365]
    int64_t mp = (5 * doy + 2) / 153;                                        // [0, 11]
    day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

int64_t AbsoluteTimeFromGMTDate(const GregorianDate& date)
{
    return DaysFromCivil(date.year, date.month, date.day) * kSecondsPerDay + SecondsOfDay(date);
}

GregorianDate GMTDateFromAbsoluteTime(int64_t seconds)
{
    GregorianDate date;
    int64_t days = FloorDiv(seconds, kSecondsPerDay);
    int64_t rest = seconds - days * kSecondsPerDay;
    CivilFromDays(days, date.year, date.month, date.day);
    date.hour = static_cast<int32_t>(rest / 3600);
    date.minute = static_cast<int32_t>((rest % 3600) / 60);
    date.second = static_cast<int32_t>(rest % 60);
    return date;
}

int64_t AbsoluteTimeFromLocalDate(const GregorianDate& date)
{
    // mktime re-reads the zone itself.
    int64_t tmYear = date.year - 1900;
    if (FitsInt(tmYear)) {
        // mktime normalises every field itself; only the year must fit an int.
        struct tm fields = {};
        fields.tm_year = static_cast<int>(tmYear);
        fields.tm_mon = date.month - 1;
        fields.tm_mday = date.day;
        fields.tm_hour = date.hour;
        fields.tm_min = date.minute;
        fields.tm_sec = date.second;
        fields.tm_isdst = -1;
        errno = 0;
        time_t result = ::mktime(&fields);
        // -1 is also one second before 1970; only errno tells a failure.
        if (result != static_cast<time_t>(-1) || errno == 0)
            return static_cast<int64_t>(result);
    }
    int64_t asGMT = AbsoluteTimeFromGMTDate(date);
    return asGMT - LocalSecondsFromGMT(static_cast<int64_t>(::time(nullptr)));
}

GregorianDate LocalDateFromAbsoluteTime(int64_t seconds)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm fields = {};
    if (::localtime_r(&t, &fields) != nullptr) {
        GregorianDate date;
        date.year = static_cast<int64_t>(fields.tm_year) + 1900;
        date.month = fields.tm_mon + 1;
        date.day = fields.tm_mday;
        date.hour = fields.tm_hour;
        date.minute = fields.tm_min;
        date.second = fields.tm_sec;
        return date;
    }
    return GMTDateFromAbsoluteTime(seconds + LocalSecondsFromGMT(static_cast<int64_t>(::time(nullptr))));
}

int32_t LocalSecondsFromGMT(int64_t seconds, bool* isDaylightSaving)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm fields = {};
    if (::localtime_r(&t, &fields) == nullptr) {
        if (isDaylightSaving != nullptr)
            *isDaylightSaving = false;
        return 0;
    }
    if (isDaylightSaving != nullptr)
        *isDaylightSaving = fields.tm_isdst > 0;
    return static_cast<int32_t>(fields.tm_gmtoff);
}

int64_t CurrentAbsoluteTimeMs()
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void ResetSystemTimeZone()
{
    ::tzset();
}

}  // namespace bkit::platform
