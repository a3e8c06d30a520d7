// VDurationText.cpp - the text forms of the duration value.
//
// This file implements the XML form (whole seconds, or an ISO 8601 duration
// with years of 360 days and months of 30), the clock text read by FromString
// ("h:m:s:ms", "h:m:s", "m:s"), the JSON forms (milliseconds as text; seconds,
// milliseconds or "h:mm:ss" as a JSON value) and the formatted component list.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalarCLocale.h"

namespace bkit {

namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60000;
constexpr int64_t kMsPerHour = 3600000;
constexpr int64_t kMsPerDay = 86400000;

// The 64-bit integer reading of a string's units (the string's own rule).
int64_t IntegerReading(const std::u16string& units)
{
    return VString(units.c_str(), static_cast<VIndex>(units.size())).GetLong8();
}

// The seconds of the 'S' designator in milliseconds: the leading number of
// the units, as sscanf's "%lf" takes it ('.' as the decimal point), with the
// fraction truncated to whole milliseconds. A plain decimal is read from its
// digits: the double nearest to "1.001" lies below it, and truncating that
// would lose the millisecond the text holds. What a plain decimal cannot
// spell (an exponent, hexadecimal, an infinity) or a whole part too long to
// count exactly goes through the double.
int64_t SecondsReading(const std::u16string& units)
{
    std::string bytes;
    bytes.reserve(units.size());
    for (char16_t c : units) {
        if (c == 0 || c >= 0x80)
            break;  // nothing past here can be part of the number
        bytes.push_back(static_cast<char>(c));
    }
    char* end = nullptr;
    double seconds = scalar::ReadCDouble(bytes.c_str(), &end);
    const char* p = bytes.c_str();
    while (p < end && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    constexpr int kMaxWholeDigits = 15;  // exact in a double and in ms
    int64_t whole = 0;
    int wholeDigits = 0;
    bool plain = true;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (whole == 0 && *p == '0')
            continue;
        plain = plain && ++wholeDigits <= kMaxWholeDigits;
        if (plain)
            whole = whole * 10 + (*p - '0');
    }
    int64_t fraction = 0;  // the first three digits after the point, in ms
    if (p < end && *p == '.') {
        ++p;
        for (int64_t unit = 100; p < end && *p >= '0' && *p <= '9'; ++p, unit /= 10)
            fraction += unit * (*p - '0');
    }
    if (!plain || p != end) {
        int64_t wholeSeconds = scalar::TruncToInt64(seconds);
        return scalar::WrapAdd(scalar::WrapMul(wholeSeconds, kMsPerSecond),
                               scalar::TruncToInt64((seconds - static_cast<double>(wholeSeconds)) * 1000.0));
    }
    int64_t ms = whole * kMsPerSecond + fraction;
    return negative ? -ms : ms;
}

// Cuts the text at every ':' (empty parts kept), dropping the blanks at
// either end of each part.
std::vector<std::u16string> SplitClockText(const VString& text)
{
    std::vector<std::u16string> parts(1);
    const UniChar* units = text.GetCPointer();
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        if (units[i] == u':')
            parts.emplace_back();
        else
            parts.back().push_back(units[i]);
    }
    for (std::u16string& part : parts) {
        size_t first = part.find_first_not_of(u' ');
        size_t last = part.find_last_not_of(u' ');
        part = (first == std::u16string::npos) ? std::u16string() : part.substr(first, last - first + 1);
    }
    return parts;
}

bool HasColon(const VString& text)
{
    return text.FindUniChar(u':') > 0;
}

// Milliseconds of an ISO 8601 duration; units points just past the 'P'.
int64_t ReadISODuration(const UniChar* units, VIndex length)
{
    int64_t years = 0, months = 0, days = 0, hours = 0, minutes = 0;
    int64_t secondsMs = 0;
    bool inTime = false;
    std::u16string gathered;

    for (VIndex i = 0; i < length; ++i) {
        UniChar c = units[i];
        bool taken = true;
        if (c == u'T' && !inTime)
            inTime = true;
        else if (c == u'Y' && !inTime)
            years = IntegerReading(gathered);
        else if (c == u'M' && !inTime)
            months = IntegerReading(gathered);
        else if (c == u'D' && !inTime)
            days = IntegerReading(gathered);
        else if (c == u'H' && inTime)
            hours = IntegerReading(gathered);
        else if (c == u'M' && inTime)
            minutes = IntegerReading(gathered);
        else if (c == u'S' && inTime)
            secondsMs = SecondsReading(gathered);
        else
            taken = false;

        if (taken) {
            if (c != u'T')
                gathered.clear();
        } else {
            // A designator out of its part counts as part of the number.
            gathered.push_back(c);
        }
    }

    int64_t dayCount = scalar::WrapAdd(scalar::WrapAdd(scalar::WrapMul(years, 360), scalar::WrapMul(months, 30)), days);
    int64_t ms = scalar::WrapMul(dayCount, kMsPerDay);
    ms = scalar::WrapAdd(ms, scalar::WrapMul(hours, kMsPerHour));
    ms = scalar::WrapAdd(ms, scalar::WrapMul(minutes, kMsPerMinute));
    return scalar::WrapAdd(ms, secondsMs);
}

// Formats in the POSIX numeric locale and sets the string to the text.
template <class... Args>
void SetFromFormat(VString& out, const char* format, Args... args)
{
    char buffer[160];
    scalar::FormatCText(buffer, sizeof(buffer), format, args...);
    out.FromCString(buffer);
}

}  // namespace

void VDuration::GetXMLString(VString& string, uint32_t options) const
{
    if ((options & kDurationXML_ISO8601) == 0) {
        string.FromLong8(fMs / kMsPerSecond);
        return;
    }
    if (IsNull()) {
        SetFromFormat(string, "P%dDT%dH%dM%.14fS", -1, -1, -1, -1.001);
        return;
    }
    int days = GetDay(), hours = GetHour(), minutes = GetMinute(), seconds = GetSecond(), ms = GetMillisecond();
    double fractional = seconds + ms / 1000.0;
    if (days == 0) {
        if (ms == 0)
            SetFromFormat(string, "PT%dH%dM%dS", hours, minutes, seconds);
        else
            SetFromFormat(string, "PT%dH%dM%.14fS", hours, minutes, fractional);
    } else {
        if (ms == 0)
            SetFromFormat(string, "P%dDT%dH%dM%dS", days, hours, minutes, seconds);
        else
            SetFromFormat(string, "P%dDT%dH%dM%.14fS", days, hours, minutes, fractional);
    }
}

bool VDuration::FromXMLString(const VString& string)
{
    if (string.IsEmpty() || string.GetCPointer()[0] != u'P') {
        if (HasColon(string))
            FromString(string);
        else
            _Set(scalar::WrapMul(string.GetLong8(), kMsPerSecond));
        return true;
    }
    _Set(ReadISODuration(string.GetCPointer() + 1, string.GetLength() - 1));
    return true;
}

void VDuration::FromString(const VString& string)
{
    if (!HasColon(string)) {
        _Set(scalar::WrapMul(string.GetLong8(), kMsPerSecond));
        return;
    }
    std::vector<std::u16string> parts = SplitClockText(string);
    int64_t hours = 0, minutes = 0, seconds = 0, ms = 0;
    if (parts.size() >= 4) {
        hours = IntegerReading(parts[0]);
        minutes = IntegerReading(parts[1]);
        seconds = IntegerReading(parts[2]);
        ms = IntegerReading(parts[3]);
    } else if (parts.size() == 3) {
        hours = IntegerReading(parts[0]);
        minutes = IntegerReading(parts[1]);
        seconds = IntegerReading(parts[2]);
    } else {
        minutes = IntegerReading(parts[0]);
        seconds = IntegerReading(parts[1]);
    }
    int64_t total = scalar::WrapMul(hours, kMsPerHour);
    total = scalar::WrapAdd(total, scalar::WrapMul(minutes, kMsPerMinute));
    total = scalar::WrapAdd(total, scalar::WrapMul(seconds, kMsPerSecond));
    _Set(scalar::WrapAdd(total, ms));
}

VError VDuration::GetJSONString(VString& json, uint32_t options) const
{
    (void)options;
    json.FromLong8(fMs);
    return VE_OK;
}

VError VDuration::FromJSONString(const VString& json, uint32_t options)
{
    (void)options;
    _Set(json.GetLong8());
    return VE_OK;
}

VError VDuration::GetJSONValue(VJSONValue& json, uint32_t options) const
{
    if (IsNull()) {
        json.SetNull();
    } else if (options & kDurationJSON_ClockText) {
        // Total hours, not limited to a day; a part of 9 or less gets a "0".
        int minutes = GetMinute(), seconds = GetSecond();
        char text[64];
        std::snprintf(text, sizeof(text), "%lld:%s%d:%s%d", static_cast<long long>(fMs / kMsPerHour),
                      minutes <= 9 ? "0" : "", minutes, seconds <= 9 ? "0" : "", seconds);
        json.SetString(VString(text));
    } else if (options & kDurationJSON_Milliseconds) {
        json.SetNumber(static_cast<double>(fMs));
    } else {
        json.SetNumber(static_cast<double>(fMs) / 1000.0);
    }
    return VE_OK;
}

VError VDuration::FromJSONValue(const VJSONValue& json)
{
    if (json.IsNull()) {
        SetNull(true);
        SetDirty(true);
    } else {
        _Set(scalar::TruncToInt64(json.GetNumber() * 1000.0));
    }
    return VE_OK;
}

void VDuration::GetFormattedString(VString& out) const
{
    int32_t days, hours, minutes, seconds, ms;
    GetDuration(days, hours, minutes, seconds, ms);
    char text[80];
    std::snprintf(text, sizeof(text), "%d:%d:%d:%d:%d", days, hours, minutes, seconds, ms);
    out.AppendCString(text);
}

}  // namespace bkit
