// VIntlMgrFormat.cpp - dates and times written with a letter pattern.
//
// FormatDateTimeWithPattern reads a pattern of repeated letters (yyyy, MM, dd,
// EEEE, HH, mm, ss, a ...) without any quoting: characters outside "A" to "z"
// and letters it does not know are copied as they stand. Numbers are written
// zero-padded to the number of letters; month and weekday names come from the
// manager's locale.
#include <cstdio>

#include "basekit/text/VIntlMgr.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

void AppendNumber(VString& out, int64_t value, VIndex width)
{
    char buffer[1040];
    if (width > 999)
        width = 999;
    std::snprintf(buffer, sizeof(buffer), "%0*lld", static_cast<int>(width), static_cast<long long>(value));
    out.AppendCString(buffer);
}

void AppendFirstUnits(VString& out, const VString& name, VIndex count)
{
    out.AppendUniChars(name.GetCPointer(), name.GetLength() < count ? name.GetLength() : count);
}

}  // namespace

void VIntlMgr::FormatDateTimeWithPattern(const VTime& time, const VString& pattern, bool utc,
                                         const VString* monthText, VString& out) const
{
    int16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (utc)
        time.GetUTCTime(year, month, day, hour, minute, second, ms);
    else
        time.GetLocalTime(year, month, day, hour, minute, second, ms);

    VString result;
    const UniChar* p = pattern.GetCPointer();
    VIndex n = pattern.GetLength();
    VString name;
    for (VIndex i = 0; i < n;) {
        UniChar c = p[i];
        VIndex count = 1;
        while (i + count < n && p[i + count] == c)
            ++count;
        i += count;
        if (c < u'A' || c > u'z') {
            for (VIndex k = 0; k < count; ++k)
                result.AppendUniChar(c);
            continue;
        }
        switch (c) {
            case u'G':
                result.AppendCString(count <= 3 ? "AD" : (count == 4 ? "Anno Domini" : "A"));
                break;
            case u'y':
            case u'Y':
                AppendNumber(result, year, count == 1 ? 0 : count);
                break;
            case u'M':
            case u'L':
                if (count <= 2) {
                    AppendNumber(result, month, count);
                    break;
                }
                if (monthText != nullptr)
                    name = *monthText;
                else
                    GetMonthName(month, count == 3, name);
                if (count <= 4)
                    result.AppendString(name);
                else
                    AppendFirstUnits(result, name, 1);
                break;
            case u'd':
                AppendNumber(result, day, count);
                break;
            case u'D':
                AppendNumber(result, VTime::ComputeYearDay(year, month, day), count);
                break;
            case u'g':
                // The Julian day number proper: the toolbox's day number plus one.
                AppendNumber(result, static_cast<int64_t>(VTime::ComputeJulianDay(year, month, day)) + 1, count);
                break;
            case u'E': {
                int32_t weekDay = VTime::ComputeWeekDay(year, month, day);
                GetWeekDayName(weekDay, count <= 3, name);
                if (count <= 4)
                    result.AppendString(name);
                else
                    AppendFirstUnits(result, name, count == 5 ? 1 : 2);
                break;
            }
            case u'a':
                result.AppendCString(hour < 12 ? "AM" : "PM");
                break;
            case u'H':
                AppendNumber(result, hour, count);
                break;
            case u'k':
                AppendNumber(result, hour == 0 ? 24 : hour, count);
                break;
            case u'K':
                AppendNumber(result, hour % 12, count);
                break;
            case u'h':
                AppendNumber(result, hour % 12 == 0 ? 12 : hour % 12, count);
                break;
            case u'm':
                AppendNumber(result, minute, count);
                break;
            case u's':
                AppendNumber(result, second, count);
                break;
            case u'A':
            case u'F':
            case u'Q':
            case u'S':
            case u'V':
            case u'W':
            case u'Z':
            case u'c':
            case u'e':
            case u'q':
            case u'u':
            case u'v':
            case u'w':
            case u'z':
                break;
            default:
                for (VIndex k = 0; k < count; ++k)
                    result.AppendUniChar(c);
                break;
        }
    }
    out = result;
}

}  // namespace bkit
