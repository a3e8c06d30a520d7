// VSystemLocalTime.cpp - the facade's dates: current time, local time, GMT offset.
//
// This file implements the date operations of VSystem over the calendar
// stand-in of basekit/platform/TimeZone.h. The offsets from GMT are not cached:
// on macOS a cache is kept valid by a timer armed for the next daylight-saving
// change, which has no counterpart here, and asking the C library costs one
// localtime_r. A change of the zone is seen after SystemDateTimeChanged or
// UpdateGMTOffset (or tzset).
#include "basekit/platform/TimeZone.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {

namespace {

void ToSevenShorts(const platform::GregorianDate& date, int16_t* fields)
{
    fields[0] = static_cast<int16_t>(date.year);
    fields[1] = static_cast<int16_t>(date.month);
    fields[2] = static_cast<int16_t>(date.day);
    fields[3] = static_cast<int16_t>(date.hour);
    fields[4] = static_cast<int16_t>(date.minute);
    fields[5] = static_cast<int16_t>(date.second);
}

// The calendar date of seven shorts as the Gregorian-date service takes it:
// month, day, hour and minute are 8-bit fields there.
platform::GregorianDate FromSevenShorts(const int16_t* fields)
{
    platform::GregorianDate date;
    date.year = fields[0];
    date.month = static_cast<int8_t>(fields[1]);
    date.day = static_cast<int8_t>(fields[2]);
    date.hour = static_cast<int8_t>(fields[3]);
    date.minute = static_cast<int8_t>(fields[4]);
    date.second = fields[5];
    return date;
}

// A time of day without a date passes through the conversions untouched.
bool IsTimeWithoutDate(const int16_t* fields)
{
    return fields[0] == 0 && (fields[1] == 0 || fields[3] == 0);
}

void CurrentDate(int16_t* fields, bool local)
{
    int64_t nowMs = platform::CurrentAbsoluteTimeMs();
    int64_t seconds = nowMs / 1000;
    platform::GregorianDate date =
        local ? platform::LocalDateFromAbsoluteTime(seconds) : platform::GMTDateFromAbsoluteTime(seconds);
    ToSevenShorts(date, fields);
    fields[6] = static_cast<int16_t>(nowMs % 1000);
}

}  // namespace

void VSystem::GetSystemUTCTime(int16_t* date)
{
    CurrentDate(date, false);
}

void VSystem::GetSystemLocalTime(int16_t* date)
{
    CurrentDate(date, true);
}

void VSystem::LocalToUTCTime(int16_t* date)
{
    if (IsTimeWithoutDate(date))
        return;
    int64_t seconds = platform::AbsoluteTimeFromLocalDate(FromSevenShorts(date));
    ToSevenShorts(platform::GMTDateFromAbsoluteTime(seconds), date);
}

void VSystem::UTCToLocalTime(int16_t* date)
{
    if (IsTimeWithoutDate(date))
        return;
    int64_t seconds = platform::AbsoluteTimeFromGMTDate(FromSevenShorts(date));
    ToSevenShorts(platform::LocalDateFromAbsoluteTime(seconds), date);
}

int32_t VSystem::GetGMTOffset(bool withDaylight)
{
    bool daylightSaving = false;
    int32_t offset = platform::LocalSecondsFromGMT(platform::CurrentAbsoluteTimeMs() / 1000, &daylightSaving);
    return (withDaylight || !daylightSaving) ? offset : offset - 3600;
}

void VSystem::UpdateGMTOffset()
{
    platform::ResetSystemTimeZone();
}

void VSystem::SystemDateTimeChanged()
{
    platform::ResetSystemTimeZone();
    UpdateGMTOffset();
}

}  // namespace bkit
