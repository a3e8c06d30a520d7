// fuzz_time_text.cpp - libFuzzer target for the text readers of dates and
// durations.
//
// Each input, decoded as UTF-8, goes to every reader of VTime (RFC 3339, XML,
// JSON text and value, RFC 822, the generic and day-first reader, and the
// compiler build date with the input cut in two at its first newline) and of
// VDuration (clock text, XML with ISO 8601, JSON). Whatever a reader leaves
// is written back through every writer. Crashes, sanitizer reports and these
// invariants are the findings:
// - a refused RFC 3339 text leaves the value null;
// - a dated value of the years 1 to 9999 reads back from its UTC RFC 3339,
//   XML and JSON texts unchanged, from its local RFC 3339 text and its RFC 822
//   text to the second, and from its day-first text to the day;
// - a duration reads back from its whole-seconds XML text to the second, and
//   from its ISO 8601 text exactly.
// Local time runs in a zone with daylight saving, so that the season changes
// of the local forms are exercised.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "basekit/json/VJSONValue.h"
#include "basekit/process/VProcess.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

bool SameTime(const VTime& a, const VTime& b)
{
    return a.IsNull() == b.IsNull() && (a.IsNull() || a.GetStamp() == b.GetStamp());
}

// The value cut to the whole second (or day) it lies in.
VTime Truncated(const VTime& time, bool toDay)
{
    VTime cut(time);
    uint32_t ms = time.GetMillisecondsOfDay();
    cut.FromStamp((time.GetStamp() & ~uint64_t{0xFFFFFFFF}) | (toDay ? 0 : ms - ms % 1000));
    return cut;
}

void WriteEverything(const VTime& time)
{
    VString text;
    for (uint32_t options : {0x0u, 0x1u, 0x2u, 0x4u, 0x5u, 0x8u, 0x9u, 0x10u, 0x11u, 0x21u, 0x22u, 0x16u})
        time.GetRfc3339String(text, options);
    for (uint32_t options : {0x0u, 0x1u, 0x200u, 0x1001u})
        time.GetJSONString(text, options);
    VJSONValue json;
    time.GetJSONValue(json, 0);
    time.GetJSONValue(json, kTimeJSONValue_Date);
    time.GetRfc822String(text);
    time.GetStringLocalTime(text);
    time.toSimpleDateString(text);
    VString dateText, timeText;
    time.FormatByOS(dateText, timeText, false);
    time.FormatByOS(dateText, timeText, true);
}

void CheckRoundTrips(const VTime& time)
{
    if (time.IsNull() || time.GetYear() < 1 || time.GetYear() > 9999 || time.GetMonth() == 0)
        return;
    VString text;
    VTime back;
    time.GetRfc3339String(text, kRfc3339_UTC);
    Check(back.FromRfc3339String(text) && SameTime(back, time));
    time.GetXMLString(text, kRfc3339_UTC);
    Check(back.FromXMLString(text) && SameTime(back, time));
    time.GetJSONString(text, kTimeJSON_Markers);
    back.FromJSONString(text);
    Check(SameTime(back, time));

    VTime toSecond = Truncated(time, false);
    time.GetRfc3339String(text, 0);
    Check(back.FromRfc3339String(text) && SameTime(back, toSecond));
    time.GetRfc822String(text);
    back.FromRfc822String(text);
    Check(SameTime(back, toSecond));

    time.toSimpleDateString(text);
    back.FromString(text);
    Check(SameTime(back, Truncated(time, true)));
}

void ReadTime(const VString& text, const uint8_t* data, size_t size)
{
    VTime time;
    bool accepted = time.FromRfc3339String(text);
    Check(accepted || time.IsNull());
    WriteEverything(time);
    CheckRoundTrips(time);

    time.FromXMLString(text);
    WriteEverything(time);
    CheckRoundTrips(time);

    time.FromJSONString(text);
    time.FromJSONValue(VJSONValue(text));
    time.FromRfc822String(text);
    WriteEverything(time);
    CheckRoundTrips(time);

    time.FromString(text);
    WriteEverything(time);
    CheckRoundTrips(time);

    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t cut = bytes.find('\n');
    std::string date = bytes.substr(0, cut);
    std::string clock = cut == std::string::npos ? std::string() : bytes.substr(cut + 1);
    time.FromCompilerDateTime(date.c_str(), clock.c_str());
    WriteEverything(time);
    CheckRoundTrips(time);
}

void CheckDurationRoundTrips(const VDuration& duration)
{
    int64_t ms = duration.ConvertToMilliseconds();
    VString text;
    VDuration back;
    duration.GetXMLString(text, 0);
    Check(back.FromXMLString(text) && back.ConvertToMilliseconds() == ms / 1000 * 1000);
    // Days are written as a 32-bit number: past that the text cannot hold them.
    if (duration.IsNull() || ms > INT64_C(86400000) * INT32_MAX || ms < INT64_C(-86400000) * INT32_MAX)
        return;
    duration.GetXMLString(text, kDurationXML_ISO8601);
    Check(back.FromXMLString(text) && back.ConvertToMilliseconds() == ms);
}

void ReadDuration(const VString& text)
{
    VDuration duration;
    duration.FromString(text);
    CheckDurationRoundTrips(duration);
    duration.FromXMLString(text);
    CheckDurationRoundTrips(duration);
    duration.FromJSONString(text);
    CheckDurationRoundTrips(duration);
    duration.FromJSONValue(VJSONValue(text));
    CheckDurationRoundTrips(duration);

    VJSONValue json;
    for (uint32_t options : {0x0u, kDurationJSON_Milliseconds, kDurationJSON_ClockText})
        duration.GetJSONValue(json, options);
    VString out;
    duration.GetJSONString(out);
    duration.GetString(out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    fuzz::StartProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VString text;
    text.FromBlock(data, size, VTC_UTF_8);
    ReadTime(text, data, size);
    ReadDuration(text);
    return 0;
}
