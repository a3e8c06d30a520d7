// TimeZone.h - Gregorian calendar dates in the GMT and the local time zone.
//
// This file defines the calendar services the system facade converts dates
// with. It replaces the CoreFoundation time-zone services (the system's default
// zone, the GMT zone, seconds from GMT and daylight saving at an instant,
// CFTimeZoneResetSystem) and the Gregorian-date services (calendar date of an
// absolute time in a zone, and back). Absolute times here are seconds since
// 1970-01-01 00:00:00 UTC, not since 2001 as on macOS; the callers only ever
// hand them back.
//
// The GMT conversions are plain proleptic Gregorian arithmetic and hold for any
// year. The local zone is the C library's: the TZ environment variable (or the
// system's zone file when it is unset), read at the first local conversion
// and kept until ResetSystemTimeZone (or tzset), as macOS keeps its default
// zone until it is reset.
//
// Where it falls short of macOS:
// - A local wall-clock time that the zone skips or repeats at a daylight-saving
//   change is resolved by mktime with daylight saving unknown (glibc takes the
//   offset in force just before the change for a skipped time); macOS may pick
//   the other side.
// - Outside the range the C library's time functions handle (about the years
//   -2^31 to 2^31), local conversions fall back to the GMT offset in force now.
// - There is no notification of a time-zone change and no transition timer: a
//   caller that must see a new zone calls ResetSystemTimeZone (or sets TZ and
//   calls tzset). Until then local dates to absolute times (mktime) may already
//   use a changed TZ while the other direction does not.
// - Seconds are whole; callers carry fractions themselves.
// Every function is thread-safe (the C library serialises its zone state).
#pragma once

#include <cstdint>

namespace bkit::platform {

// A calendar date and time of day. Fields out of their usual range are
// normalised by the conversions to absolute time (month 13 is January of the
// next year, day 0 the last day of the month before, and so on).
struct GregorianDate {
    int64_t year = 0;
    int32_t month = 1;   // 1 to 12
    int32_t day = 1;     // 1 to 31
    int32_t hour = 0;    // 0 to 23
    int32_t minute = 0;  // 0 to 59
    int32_t second = 0;  // 0 to 59
};

// Days from 1970-01-01 to a proleptic Gregorian date (months and days out of
// range are normalised).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
// The proleptic Gregorian date of a day counted from 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, int32_t& month, int32_t& day);

// Seconds since 1970-01-01 00:00:00 UTC of a date read in the GMT zone.
int64_t AbsoluteTimeFromGMTDate(const GregorianDate& date);
// The date in the GMT zone of an absolute time.
GregorianDate GMTDateFromAbsoluteTime(int64_t seconds);

// Seconds since 1970-01-01 00:00:00 UTC of a date read in the local zone.
int64_t AbsoluteTimeFromLocalDate(const GregorianDate& date);
// The date in the local zone of an absolute time.
GregorianDate LocalDateFromAbsoluteTime(int64_t seconds);

// The local zone's offset from GMT, in seconds, in force at an absolute time
// (daylight saving included); isDaylightSaving, when given, tells whether
// daylight saving is in effect then.
int32_t LocalSecondsFromGMT(int64_t seconds, bool* isDaylightSaving = nullptr);

// The current time: seconds and milliseconds since 1970-01-01 00:00:00 UTC.
int64_t CurrentAbsoluteTimeMs();

// Re-reads the local zone from the environment.
void ResetSystemTimeZone();

}  // namespace bkit::platform
