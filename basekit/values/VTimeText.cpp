// VTimeText.cpp - the text forms of the date and time value.
//
// This file implements the RFC 3339 writer and reader that serve as the XML
// and JSON forms of VTime, the JSON values, RFC 822, the local display text,
// the display through the international manager, the day!month!year form, the generic number reader and the reader of the
// compiler's build date. The digit-level formats are those of the stored texts
// and must not change.
#include <unicode/uchar.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60000;
constexpr int64_t kMsPerHour = 3600000;
constexpr int64_t kMsPerDay = 86400000;

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The text being written: at most a few dozen units, widened as it goes.
class TextOut {
public:
    void Char(char c) { fUnits[fLength++] = static_cast<UniChar>(c); }

    void Chars(const char* text)
    {
        while (*text != '\0')
            Char(*text++);
    }

    // printf's "%0<width>d" (also "%0<width>ld"), without printf for the
    // values a date holds.
    void Padded(long value, int width)
    {
        static const long kLimits[5] = {1, 10, 100, 1000, 10000};
        if (value >= 0 && width <= 4 && value < kLimits[width]) {
            for (int i = width - 1; i >= 0; --i) {
                fUnits[fLength + i] = static_cast<UniChar>('0' + value % 10);
                value /= 10;
            }
            fLength += width;
            return;
        }
        char buffer[32];
        int n = std::snprintf(buffer, sizeof(buffer), "%0*ld", width, value);
        for (int i = 0; i < n && i < static_cast<int>(sizeof(buffer)) - 1; ++i)
            Char(buffer[i]);
    }

    // Plain "%d".
    void Number(long value) { Padded(value, 1); }

    void Store(VString& text) const { text.FromUniString(fUnits, fLength); }
    void Append(VString& text) const { text.AppendUniChars(fUnits, fLength); }

private:
    UniChar fUnits[128];
    VIndex fLength = 0;
};

struct Fields {
    int y, mo, d, h, mi, s, ms;
};

Fields SplitOfDay(int y, int mo, int d, uint32_t ofDay)
{
    return Fields{y, mo, d, static_cast<int>(ofDay / kMsPerHour), static_cast<int>((ofDay / kMsPerMinute) % 60),
                  static_cast<int>((ofDay / kMsPerSecond) % 60), static_cast<int>(ofDay % kMsPerSecond)};
}

void PutDate(TextOut& out, int y, int mo, int d)
{
    out.Padded(y, 4);
    out.Char('-');
    out.Padded(mo, 2);
    out.Char('-');
    out.Padded(d, 2);
}

void PutClock(TextOut& out, const Fields& f)
{
    out.Padded(f.h, 2);
    out.Char(':');
    out.Padded(f.mi, 2);
    out.Char(':');
    out.Padded(f.s, 2);
}

// The text as bytes (ASCII narrowed directly, anything else through the UTF-8
// converter; at most 256 bytes, terminated), with the places of the characters
// the RFC 3339 reader decides by, found in one pass. The text ends at its
// first NUL, as it does for the C functions that read it.
struct ScannedText {
    char bytes[257];
    VSize length = 0;
    int firstT = -1, firstColon = -1, firstDash = -1, lastPlus = -1, lastDash = -1;
    bool hasZ = false;
    bool canonicalStart = false;  // begins with "dddd-dd-ddThh:mm:ss"
};

// Notes the place of one character of the text.
inline void Note(ScannedText& out, char c, int i)
{
    if (c >= '0' && c <= '9')
        return;
    switch (c) {
        case 'T':
            if (out.firstT < 0)
                out.firstT = i;
            break;
        case ':':
            if (out.firstColon < 0)
                out.firstColon = i;
            break;
        case '-':
            if (out.firstDash < 0)
                out.firstDash = i;
            out.lastDash = i;
            break;
        case '+':
            out.lastPlus = i;
            break;
        case 'Z':
            out.hasZ = true;
            break;
        default:
            break;
    }
}

void Scan(const VString& text, ScannedText& out)
{
    const UniChar* units = text.GetCPointer();
    const VIndex length = text.GetLength();
    const int room = static_cast<int>(sizeof(out.bytes)) - 1;
    const int limit = length < room ? static_cast<int>(length) : room;
    int n = 0;
    // The common beginning "dddd-dd-ddThh:mm:ss" is taken as a whole; only what
    // follows it is looked at character by character.
    if (limit >= 19) {
        auto digit = [units](int i) { return units[i] >= '0' && units[i] <= '9'; };
        bool canonical = digit(0) && digit(1) && digit(2) && digit(3) && units[4] == '-' && digit(5) && digit(6) &&
                         units[7] == '-' && digit(8) && digit(9) && units[10] == 'T' && digit(11) && digit(12) &&
                         units[13] == ':' && digit(14) && digit(15) && units[16] == ':' && digit(17) && digit(18);
        if (canonical) {
            for (int i = 0; i < 19; ++i)
                out.bytes[i] = static_cast<char>(units[i]);
            out.firstDash = 4;
            out.lastDash = 7;
            out.firstT = 10;
            out.firstColon = 13;
            out.canonicalStart = true;
            n = 19;
        }
    }
    for (; n < limit; ++n) {
        UniChar unit = units[n];
        if (static_cast<UniChar>(unit - 1) >= 0x7F)  // NUL or not ASCII
            break;
        out.bytes[n] = static_cast<char>(unit);
        Note(out, static_cast<char>(unit), n);
    }
    if (n < limit && units[n] != 0) {
        // Not ASCII: the UTF-8 form of the whole text, scanned afresh.
        out = ScannedText();
        StStringConverter<char> converter(text);
        const char* bytes = converter.GetCPointer();
        n = 0;
        for (; bytes != nullptr && bytes[n] != '\0' && n < room; ++n) {
            out.bytes[n] = bytes[n];
            Note(out, bytes[n], n);
        }
    }
    out.bytes[n] = '\0';
    out.length = static_cast<VSize>(n);
}

// A field read from text, for the 16-bit setters: a number that does not fit
// becomes -1, which every field check refuses, rather than wrapping into a
// plausible value.
int16_t Field(int64_t v)
{
    if (v > std::numeric_limits<int16_t>::max() || v < std::numeric_limits<int16_t>::min())
        return -1;
    return static_cast<int16_t>(v);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int Digits2(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

// The canonical full form "YYYY-MM-DDThh:mm:ss[.fff...]" read without sscanf,
// for a text whose scan found that beginning. Answers false whenever sscanf
// might read the text differently, so that the caller asks sscanf itself.
// fractionMs is the milliseconds (and seconds the whole seconds) when the
// digits give them directly; otherwise it is left alone and seconds holds the
// number sscanf would read.
bool ReadCanonicalFull(const char* p, int& y, int& mo, int& d, int& h, int& mi, double& seconds, int& fractionMs)
{
    const char* rest = p + 19;
    if (IsDigit(*rest))
        return false;
    const char* end = rest;
    if (*end == '.') {
        ++end;
        while (IsDigit(*end))
            ++end;
    }
    if (*end == 'e' || *end == 'E')
        return false;
    y = Digits2(p) * 100 + Digits2(p + 2);
    mo = Digits2(p + 5);
    d = Digits2(p + 8);
    h = Digits2(p + 11);
    mi = Digits2(p + 14);
    if (end == rest) {
        seconds = Digits2(p + 17);
        fractionMs = 0;
    } else if (end - rest <= 7) {
        // Up to six decimals: the milliseconds are exactly their first three
        // digits (see MillisecondsOfSeconds).
        fractionMs = 0;
        for (int i = 1; i <= 3; ++i)
            fractionMs = fractionMs * 10 + (rest + i < end ? rest[i] - '0' : 0);
        seconds = Digits2(p + 17);
    } else {
        char secondsText[48];
        size_t n = static_cast<size_t>(end - (p + 17));
        if (n >= sizeof(secondsText))
            return false;
        std::memcpy(secondsText, p + 17, n);
        secondsText[n] = '\0';
        seconds = std::strtod(secondsText, nullptr);
    }
    return true;
}

// The milliseconds of a number of seconds. The fraction is taken to its third
// decimal: a plain "x 1000, truncated" would read the .123 of 53.123 as 122,
// since the double just below 53.123 is all a double can hold.
int32_t MillisecondsOfSeconds(double seconds)
{
    double fraction = (seconds - std::trunc(seconds)) * 1000.0;
    int32_t ms = scalar::TruncToInt32(fraction + (fraction >= 0 ? 1e-6 : -1e-6));
    if (ms > 999)
        ms = 999;
    if (ms < -999)
        ms = -999;
    return ms;
}

}  // namespace

// ---------------------------------------------------------------------------
// RFC 3339

void VTime::GetRfc3339String(VString& text, uint32_t options) const
{
    TextOut out;
    if (IsNull()) {
        out.Chars("0000-00-00T00:00:00Z");
        out.Store(text);
        return;
    }
    bool utc = (options & kRfc3339_UTC) != 0;
    bool withOffset = !utc && (options & kRfc3339_NoOffset) == 0;
    Fields f;
    long offset = 0;
    if (utc) {
        f = SplitOfDay(fYear, fMonth, fDay, fMilliseconds);
    } else {
        int16_t local[7];
        _GetLocalFields(local);
        f = Fields{local[0], local[1], local[2], local[3], local[4], local[5], local[6]};
        if (withOffset) {
            if (fYear == 0 && fMonth == 0 && fDay == 0) {
                // A time of day without a date has no instant to ask about.
                offset = VSystem::GetGMTOffset(true);
            } else {
                // The offset in force at this instant, which in the other
                // daylight-saving season is not today's.
                int64_t localSeconds = static_cast<int64_t>(ComputeJulianDay(f.y, f.mo, f.d)) * 86400 +
                                       f.h * 3600 + f.mi * 60 + f.s;
                int64_t utcSeconds = static_cast<int64_t>(ComputeJulianDay(fYear, fMonth, fDay)) * 86400 +
                                     fMilliseconds / kMsPerSecond;
                offset = static_cast<long>(localSeconds - utcSeconds);
            }
        }
    }
    bool zeroDate = (options & kRfc3339_ZeroDate) != 0;
    int dy = zeroDate ? 0 : f.y, dmo = zeroDate ? 0 : f.mo, dd = zeroDate ? 0 : f.d;

    if (options & kRfc3339_TimeOnly) {
        PutClock(out, f);
    } else if (options & kRfc3339_DateOnly) {
        PutDate(out, f.y, f.mo, f.d);
    } else {
        PutDate(out, dy, dmo, dd);
        out.Char('T');
        PutClock(out, f);
        if (!withOffset && (options & kRfc3339_NoMilliseconds) == 0) {
            out.Char('.');
            out.Padded(f.ms, 3);
        }
    }
    if (utc) {
        if ((options & kRfc3339_DateOnly) == 0 || (options & kRfc3339_TimeOnly) != 0)
            out.Char('Z');
    } else if (withOffset) {
        long magnitude = offset < 0 ? -offset : offset;
        out.Char(offset >= 0 ? '+' : '-');
        out.Padded(magnitude / 3600, 2);
        out.Char(':');
        out.Padded((magnitude % 3600) / 60, 2);
    }
    out.Store(text);
}

bool VTime::FromRfc3339String(const VString& text)
{
    if (text.IsNull() || text.IsEmpty()) {
        Clear();
        SetNull(true);
        return false;
    }
    ScannedText scanned;
    Scan(text, scanned);
    const char* buffer = scanned.bytes;

    enum Shape { kFull, kTime, kDate, kNumber } shape;
    if (scanned.firstT == 10)
        shape = kFull;
    else if (scanned.firstColon >= 2 && scanned.firstColon <= 4)
        shape = kTime;
    else if (scanned.firstDash == 4)
        shape = kDate;
    else
        shape = kNumber;

    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double seconds = 0.0;
    int count = 0;
    int fractionMs = -1;
    switch (shape) {
        case kFull:
            if (scanned.canonicalStart && ReadCanonicalFull(buffer, y, mo, d, h, mi, seconds, fractionMs))
                count = 6;
            else
                count = std::sscanf(buffer, "%4d-%2d-%2dT%2d:%2d:%lf", &y, &mo, &d, &h, &mi, &seconds);
            if (y == 0 && mo == 0 && d == 0) {
                // A full form on the zero date is a time of day.
                shape = kTime;
                count -= 3;
            }
            break;
        case kTime:
            count = std::sscanf(buffer, "%d:%2d:%lf", &h, &mi, &seconds);
            break;
        case kDate:
            count = std::sscanf(buffer, "%4d-%2d-%2d", &y, &mo, &d);
            break;
        case kNumber: {
            int total = 0;
            count = std::sscanf(buffer, "%d", &total);
            h = total / 3600;
            mi = (total % 3600) / 60;
            break;
        }
    }
    bool wasFull = shape == kFull || (shape == kTime && scanned.firstT == 10);

    int32_t wholeSeconds = fractionMs >= 0 ? static_cast<int32_t>(seconds) : scalar::TruncToInt32(seconds);
    int32_t ms = fractionMs >= 0 ? fractionMs : MillisecondsOfSeconds(seconds);

    // Zone: a short text is UTC; a longer one only with 'Z'. The offset sign
    // is the last '+', else the last '-' (past the date for the forms that
    // hold one).
    bool isUTC = scanned.length <= 10 || scanned.hasZ;
    const char* sign = nullptr;
    if (scanned.lastPlus >= 0)
        sign = buffer + scanned.lastPlus;
    else if (scanned.lastDash >= 0 && !((shape == kFull || shape == kDate) && scanned.lastDash < 10))
        sign = buffer + scanned.lastDash;

    bool dateFailed = false;
    if ((y != 0 || mo != 0 || d != 0) &&
        !(mo >= 1 && mo <= 12 && d >= 1 && static_cast<unsigned>(y) <= 22000 && CheckDate(y, mo, d))) {
        y = mo = d = h = mi = 0;
        wholeSeconds = 0;
        ms = 0;
        seconds = 0.0;
        dateFailed = true;
    }

    bool countFits = false;
    switch (shape) {
        case kFull: countFits = count == 6; break;
        case kTime: countFits = count == 2 || count == 3; break;
        case kDate: countFits = count == 3; break;
        case kNumber: countFits = count == 1; break;
    }
    if (!countFits) {
        Clear();
        SetNull(true);
        return false;
    }

    if (wasFull && y == 0 && mo == 0 && d == 0 && h == 0 && mi == 0 && wholeSeconds == 0 && ms == 0) {
        Clear();
        SetNull(true);
        return true;
    }

    if (shape == kTime || shape == kNumber || (shape == kDate && dateFailed) || (shape == kFull && dateFailed)) {
        int64_t ofDay = static_cast<int64_t>(h) * kMsPerHour + static_cast<int64_t>(mi) * kMsPerMinute +
                        static_cast<int64_t>(wholeSeconds) * kMsPerSecond + ms;
        _SetFields(0, 0, 0, static_cast<uint32_t>(ofDay));
        return true;
    }

    if (isUTC) {
        if (shape == kDate)
            FromUTCTime(Field(y), Field(mo), Field(d), 0, 0, 0, 0);
        else
            FromUTCTime(Field(y), Field(mo), Field(d), Field(h), Field(mi),
                        Field(wholeSeconds), 0);
    } else if (sign != nullptr) {
        int offsetHours = 0, offsetMinutes = 0;
        const char* o = sign + 1;
        bool canonical = IsDigit(o[0]) && IsDigit(o[1]) && o[2] == ':' && IsDigit(o[3]) && IsDigit(o[4]) &&
                         !IsDigit(o[5]);
        if (canonical) {
            offsetHours = Digits2(o);
            offsetMinutes = Digits2(o + 3);
        } else if (std::sscanf(o, "%2d:%2d", &offsetHours, &offsetMinutes) != 2) {
            Clear();
            SetNull(true);
            return false;
        }
        int64_t offsetSeconds = static_cast<int64_t>(offsetHours) * 3600 + static_cast<int64_t>(offsetMinutes) * 60;
        if (*sign == '-')
            offsetSeconds = -offsetSeconds;
        if (shape == kFull) {
            // The text's own offset decides the instant; the local zone plays
            // no part, whatever season the date falls in.
            int64_t scale = static_cast<int64_t>(ComputeJulianDay(y, mo, d)) * kMsPerDay +
                            static_cast<int64_t>(h) * kMsPerHour + static_cast<int64_t>(mi) * kMsPerMinute +
                            static_cast<int64_t>(wholeSeconds) * kMsPerSecond - offsetSeconds * kMsPerSecond;
            FromMilliseconds(scale);
        } else {
            FromLocalTime(Field(y), Field(mo), Field(d), 0, 0, 0, 0);
        }
    } else {
        FromLocalTime(Field(y), Field(mo), Field(d), Field(h), Field(mi),
                      Field(wholeSeconds), 0);
    }
    if (ms != 0)
        _AddToScale(ms);
    return true;
}

// ---------------------------------------------------------------------------
// XML and JSON

void VTime::GetXMLString(VString& string, uint32_t options) const
{
    GetRfc3339String(string, options);
}

bool VTime::FromXMLString(const VString& string)
{
    const UniChar* units = string.GetCPointer();
    VIndex length = string.GetLength();
    if (length >= 3 && units[0] == '!' && units[1] == '!') {
        VString inner(units + 2, length >= 4 ? length - 4 : 0);
        return FromRfc3339String(inner);
    }
    if (string.FindUniChar('!') <= 0)
        return FromRfc3339String(string);
    FromString(string);
    return true;
}

VError VTime::GetJSONString(VString& json, uint32_t options) const
{
    VString text;
    if ((options & kTimeJSON_DateOnlyAtMidnight) != 0 && fMilliseconds == 0)
        GetRfc3339String(text, kRfc3339_UTC | kRfc3339_DateOnly);
    else
        GetRfc3339String(text, kRfc3339_UTC);
    bool quoted = (options & kTimeJSON_Quoted) != 0;
    bool markers = (options & kTimeJSON_Markers) != 0;
    if (!quoted && !markers) {
        json.FromString(text);
        return VE_OK;
    }
    json.Clear();
    if (quoted)
        json.AppendUniChar('"');
    if (markers)
        json.AppendCString("!!");
    json.AppendString(text);
    if (markers)
        json.AppendCString("!!");
    if (quoted)
        json.AppendUniChar('"');
    return VE_OK;
}

VError VTime::FromJSONString(const VString& json, uint32_t options)
{
    (void)options;
    FromXMLString(json);
    return VE_OK;
}

VError VTime::GetJSONValue(VJSONValue& json, uint32_t options) const
{
    if (IsNull()) {
        json.SetNull();
    } else if (options & kTimeJSONValue_Date) {
        json.SetDate(fYear, fMonth, fDay);
    } else {
        VString text;
        GetJSONString(text, 0);
        json.SetString(text);
    }
    return VE_OK;
}

VError VTime::FromJSONValue(const VJSONValue& json)
{
    if (json.IsNull()) {
        SetNull(true);
        return VE_OK;
    }
    VString text;
    json.GetString(text);
    FromXMLString(text);
    return VE_OK;
}

// ---------------------------------------------------------------------------
// RFC 822

void VTime::GetRfc822String(VString& text) const
{
    TextOut out;
    if (IsNull()) {
        out.Chars(", ");
        out.Padded(0, 2);
        out.Chars("  ");
        out.Padded(0, 4);
        out.Chars(" 00:00:00 GMT");
        out.Store(text);
        return;
    }
    Fields f = SplitOfDay(fYear, fMonth, fDay, fMilliseconds);
    int weekDay = GetWeekDay();
    if (weekDay >= 0 && weekDay < 7)
        out.Chars(kDayNames[weekDay]);
    out.Chars(", ");
    out.Padded(f.d, 2);
    out.Char(' ');
    if (f.mo >= 1 && f.mo <= 12)
        out.Chars(kMonthNames[f.mo - 1]);
    out.Char(' ');
    out.Padded(f.y, 4);
    out.Char(' ');
    PutClock(out, f);
    out.Chars(" GMT");
    out.Store(text);
}

void VTime::FromRfc822String(const VString& text)
{
    const UniChar* p = text.GetCPointer();
    const UniChar* end = p + text.GetLength();
    auto isDigit = [](UniChar c) { return c >= '0' && c <= '9'; };
    auto isLetter = [](UniChar c) { return u_isalpha(c) != 0; };
    // The next run of digits, 0 when the text has none left.
    auto nextNumber = [&]() -> int64_t {
        while (p < end && !isDigit(*p))
            ++p;
        int64_t value = 0;
        while (p < end && isDigit(*p)) {
            if (value < 1000000)
                value = value * 10 + (*p - '0');
            ++p;
        }
        return value;
    };

    int64_t day = nextNumber();
    while (p < end && !isLetter(*p))
        ++p;
    const UniChar* nameStart = p;
    while (p < end && isLetter(*p))
        ++p;
    int month = 0;
    if (p > nameStart) {
        VString name(nameStart, static_cast<VIndex>(p - nameStart));
        for (int i = 0; i < 12; ++i) {
            if (name.EqualToString(VString(kMonthNames[i]), false)) {
                month = i + 1;
                break;
            }
        }
    }
    int64_t year = nextNumber();
    int64_t hour = nextNumber();
    int64_t minute = nextNumber();
    int64_t second = nextNumber();
    FromUTCTime(Field(year), static_cast<int16_t>(month), Field(day), Field(hour),
                Field(minute), Field(second), 0);
}

// ---------------------------------------------------------------------------
// Other texts

void VTime::GetStringLocalTime(VString& text) const
{
    text.Clear();
    if (IsNull())
        return;
    int16_t f[7];
    _GetLocalFields(f);
    TextOut out;
    PutDate(out, f[0], f[1], f[2]);
    out.Char(' ');
    out.Padded(f[3], 2);
    out.Char(':');
    out.Padded(f[4], 2);
    out.Char(':');
    out.Padded(f[5], 2);
    out.Char(':');
    out.Padded(f[6], 3);
    out.Store(text);
}

void VTime::FormatByOS(VString& dateText, VString& timeText, bool utc) const
{
    // The manager leaves a text alone when the platform cannot format it.
    dateText.Clear();
    timeText.Clear();
    if (IsNull())
        return;
    VIntlMgr* intlMgr = VIntlMgr::GetCurrentOrDefault();
    intlMgr->FormatDate(*this, dateText, eOS_SHORT_FORMAT, utc);
    intlMgr->FormatTime(*this, timeText, eOS_SHORT_FORMAT, utc);
}

void VTime::FormatByOS(VString& text, bool utc) const
{
    text.Clear();
    if (IsNull())
        return;
    VString timeText;
    FormatByOS(text, timeText, utc);
    text.AppendUniChar(' ');
    text.AppendString(timeText);
}

void VTime::GetString(VString& string) const
{
    FormatByOS(string, true);
}

void VTime::toSimpleDateString(VString& text) const
{
    if (IsNull()) {
        text.Clear();
        text.SetNull(true);
        return;
    }
    TextOut out;
    out.Number(fDay);
    out.Char('!');
    out.Number(fMonth);
    out.Char('!');
    out.Number(fYear);
    out.Store(text);
}

void VTime::FromString(const VString& string)
{
    const UniChar* p = string.GetCPointer();
    const UniChar* end = p + string.GetLength();
    int64_t numbers[7] = {0, 0, 0, 0, 0, 0, 0};
    int count = 0;
    bool dayFirst = false;
    // Every character that is not a digit ends a number, an empty one too.
    while (count < 7) {
        int64_t value = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            if (value < 1000000)
                value = value * 10 + (*p - '0');
            ++p;
        }
        numbers[count++] = value;
        if (p >= end)
            break;
        UniChar separator = *p++;
        if (separator == '!') {
            if (count == 1)
                dayFirst = true;
            else if (!dayFirst)
                break;
        }
        if (dayFirst && count == 3)
            break;
    }
    if (dayFirst) {
        int64_t day = numbers[0], month = numbers[1], year = numbers[2];
        if ((day == 0 && month == 0 && year == 0) || CheckDate(Field(year), Field(month), Field(day))) {
            _SetFields(static_cast<int16_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day), 0);
        } else {
            Clear();
            SetNull(true);
        }
        return;
    }
    FromUTCTime(Field(numbers[0]), Field(numbers[1]), Field(numbers[2]),
                Field(numbers[3]), Field(numbers[4]), Field(numbers[5]),
                Field(numbers[6]));
}

void VTime::FromCompilerDateTime(const char* date, const char* time)
{
    static const char* const kLowerMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
    char joined[256];
    std::snprintf(joined, sizeof(joined), "%s %s", date != nullptr ? date : "", time != nullptr ? time : "");

    const char* tokens[6] = {};
    int count = 0;
    char* save = nullptr;
    for (char* token = strtok_r(joined, " ,:", &save); token != nullptr && count < 6;
         token = strtok_r(nullptr, " ,:", &save))
        tokens[count++] = token;

    int16_t f[7] = {0, 0, 0, 0, 0, 0, 0};
    if (tokens[0] != nullptr) {
        for (int i = 0; i < 12; ++i) {
            if (std::strcmp(tokens[0], kLowerMonths[i]) == 0 || std::strcmp(tokens[0], kMonthNames[i]) == 0) {
                f[1] = static_cast<int16_t>(i + 1);
                break;
            }
        }
    }
    // day, year, hour, minute, second
    static const int kSlots[5] = {2, 0, 3, 4, 5};
    for (int i = 1; i < count; ++i)
        f[kSlots[i - 1]] = Field(std::strtol(tokens[i], nullptr, 10));
    if (f[1] == 0) {
        // Without a month there is no date to convert (the conversion would
        // make one up from month 0); only the all-zero text is a value.
        if (f[0] == 0 && f[2] == 0 && f[3] == 0 && f[4] == 0 && f[5] == 0) {
            FromUTCTime(0, 0, 0, 0, 0, 0, 0);
        } else {
            Clear();
            SetNull(true);
        }
        return;
    }
    VSystem::LocalToUTCTime(f);
    FromUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

}  // namespace bkit
