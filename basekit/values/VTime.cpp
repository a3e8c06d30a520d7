// VTime.cpp - the date and time value: calendar, local time, arithmetic, value model.
//
// This file implements VTime except its text forms (VTimeText.cpp) and
// defines its descriptor, registered from this file's initialiser.
#include "basekit/values/VTime.h"

#include <time.h>

#include "basekit/files/VStream.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {

const VValueInfo_scalar<VTime, VK_TIME, uint64_t> VTime::sInfo;

namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60000;
constexpr int64_t kMsPerHour = 3600000;
constexpr int64_t kMsPerDay = 86400000;

// Greatest day of each month, and the day offset of each month in a year that
// begins on 1 March (entry 0 unused).
constexpr uint8_t kMaxDays[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int32_t kMonthOffsets[13] = {0, 306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The date of a day number. The formula is the toolbox's own (it decides the
// dates of every stored stamp); its divisions were done in double precision
// and rounded down, which floor division on integers gives exactly for every
// day number a 64-bit millisecond scale holds. The year wraps to 16 bits.
void DateOfDayNumber(int64_t n, int16_t& year, uint8_t& month, uint8_t& day)
{
    int64_t a = FloorDiv(100 * n - 172111825, 3652425);
    int64_t k = n + a - FloorDiv(a, 4);
    auto y = static_cast<int16_t>(FloorDiv(100 * k - 172111825, 36525));
    int64_t e = k - 365 * static_cast<int64_t>(y) - 1721118 - FloorDiv(y, 4);
    int64_t m = (5 * e + 456) / 153;
    int64_t d = e - (153 * m - 457) / 5;
    if (m >= 13) {
        year = static_cast<int16_t>(y + 1);
        month = static_cast<uint8_t>(m - 12);
    } else {
        year = y;
        month = static_cast<uint8_t>(m);
    }
    day = static_cast<uint8_t>(d);
}

int64_t TimeOfDayMs(int64_t hour, int64_t minute, int64_t second, int64_t ms)
{
    return hour * kMsPerHour + minute * kMsPerMinute + second * kMsPerSecond + ms;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and fields

VTime::VTime(VTimeInitParam init) : VTime()
{
    if (init == eInitWithCurrentTime)
        FromSystemTime();
}

VTime::VTime(const uint64_t* data, bool init) : VTime()
{
    if (!init)
        _SetStamp(scalar::LoadRaw<uint64_t>(data));
}

void VTime::_SetStamp(uint64_t stamp)
{
    fYear = static_cast<int16_t>(stamp >> 48);
    fMonth = static_cast<uint8_t>(stamp >> 40);
    fDay = static_cast<uint8_t>(stamp >> 32);
    fMilliseconds = static_cast<uint32_t>(stamp);
}

uint64_t VTime::GetStamp() const
{
    return (static_cast<uint64_t>(static_cast<uint16_t>(fYear)) << 48) | (static_cast<uint64_t>(fMonth) << 40) |
           (static_cast<uint64_t>(fDay) << 32) | fMilliseconds;
}

void VTime::FromStamp(uint64_t stamp)
{
    _SetStamp(stamp);
    SetNull(false);
    SetDirty(true);
}

void VTime::_SetFields(int16_t year, uint8_t month, uint8_t day, uint32_t ms)
{
    fYear = year;
    fMonth = month;
    fDay = day;
    fMilliseconds = ms;
    SetNull(false);
    SetDirty(true);
}

// ---------------------------------------------------------------------------
// Calendar

int32_t VTime::ComputeJulianDay(int32_t year, int32_t month, int32_t day)
{
    // A month outside 1..12 carries into the year rather than reading past
    // the table.
    int64_t y = year;
    int64_t m = month;
    if (m < 1 || m > 12) {
        y += FloorDiv(m - 1, 12);
        m = m - 12 * FloorDiv(m - 1, 12);
    }
    if (m < 3)
        --y;
    int64_t n = FloorDiv(y, 400) + FloorDiv(y, 4) + kMonthOffsets[m] + day + 365 * y - FloorDiv(y, 100) + 1721118;
    return static_cast<int32_t>(n);
}

int32_t VTime::ComputeWeekDay(int32_t year, int32_t month, int32_t day)
{
    int64_t n = static_cast<int64_t>(ComputeJulianDay(year, month, day)) + 2;
    return static_cast<int32_t>(n - FloorDiv(n, 7) * 7);
}

int32_t VTime::ComputeYearDay(int32_t year, int32_t month, int32_t day)
{
    return ComputeJulianDay(year, month, day) - ComputeJulianDay(year, 1, 1) + 1;
}

bool VTime::IsLeapYear(int32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool VTime::CheckDate(int32_t year, int32_t month, int32_t day)
{
    if (day < 1 || year < 0 || month < 1 || month > 12 || day > kMaxDays[month])
        return false;
    return !(month == 2 && day == 29 && !IsLeapYear(year));
}

// ---------------------------------------------------------------------------
// UTC fields

void VTime::FromUTCTime(int16_t year, int16_t month, int16_t day, int16_t hour, int16_t minute, int16_t second,
                        int16_t millisecond)
{
    if (year == 0 && month == 0 && day == 0) {
        _SetFields(0, 0, 0, static_cast<uint32_t>(TimeOfDayMs(hour, minute, second, millisecond)));
        return;
    }
    bool timeValid = static_cast<uint16_t>(millisecond) <= 999 && static_cast<uint16_t>(second) <= 59 &&
                     static_cast<uint16_t>(minute) <= 59 && static_cast<uint16_t>(hour) <= 23;
    if (timeValid && CheckDate(year, month, day)) {
        _SetFields(year, static_cast<uint8_t>(month), static_cast<uint8_t>(day),
                   static_cast<uint32_t>(TimeOfDayMs(hour, minute, second, millisecond)));
    } else {
        Clear();
        SetNull(true);
    }
}

void VTime::GetUTCTime(int16_t& year, int16_t& month, int16_t& day, int16_t& hour, int16_t& minute, int16_t& second,
                       int16_t& millisecond) const
{
    if (IsNull()) {
        year = month = day = hour = minute = second = millisecond = 0;
        return;
    }
    year = fYear;
    month = fMonth;
    day = fDay;
    hour = static_cast<int16_t>(fMilliseconds / kMsPerHour);
    minute = static_cast<int16_t>((fMilliseconds / kMsPerMinute) % 60);
    second = static_cast<int16_t>((fMilliseconds / kMsPerSecond) % 60);
    millisecond = static_cast<int16_t>(fMilliseconds % kMsPerSecond);
}

// ---------------------------------------------------------------------------
// Local fields

void VTime::_GetLocalFields(int16_t* f) const
{
    GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    VSystem::UTCToLocalTime(f);
}

void VTime::_SetFromLocalFields(int16_t* f)
{
    VSystem::LocalToUTCTime(f);
    FromUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

void VTime::FromLocalTime(int16_t year, int16_t month, int16_t day, int16_t hour, int16_t minute, int16_t second,
                          int16_t millisecond)
{
    int16_t f[7] = {year, month, day, hour, minute, second, millisecond};
    _SetFromLocalFields(f);
}

void VTime::GetLocalTime(int16_t& year, int16_t& month, int16_t& day, int16_t& hour, int16_t& minute,
                         int16_t& second, int16_t& millisecond) const
{
    int16_t f[7];
    _GetLocalFields(f);
    year = f[0];
    month = f[1];
    day = f[2];
    hour = f[3];
    minute = f[4];
    second = f[5];
    millisecond = f[6];
}

#define BKIT_LOCAL_FIELD_GETTER(name, index) \
    int16_t VTime::name() const              \
    {                                        \
        int16_t f[7];                        \
        _GetLocalFields(f);                  \
        return f[index];                     \
    }

BKIT_LOCAL_FIELD_GETTER(GetLocalYear, 0)
BKIT_LOCAL_FIELD_GETTER(GetLocalMonth, 1)
BKIT_LOCAL_FIELD_GETTER(GetLocalDay, 2)
BKIT_LOCAL_FIELD_GETTER(GetLocalHour, 3)
BKIT_LOCAL_FIELD_GETTER(GetLocalMinute, 4)
BKIT_LOCAL_FIELD_GETTER(GetLocalSecond, 5)
BKIT_LOCAL_FIELD_GETTER(GetLocalMillisecond, 6)

#undef BKIT_LOCAL_FIELD_GETTER

void VTime::SetLocalYear(int32_t year)
{
    int16_t f[7];
    _GetLocalFields(f);
    f[0] = static_cast<int16_t>(year);
    _SetFromLocalFields(f);
}

void VTime::SetLocalMonth(int32_t month)
{
    int16_t f[7];
    _GetLocalFields(f);
    int32_t carry = (month - 1) / 12;
    f[0] = static_cast<int16_t>(f[0] + carry);
    f[1] = static_cast<int16_t>(month - 12 * carry);
    _SetFromLocalFields(f);
}

void VTime::SetLocalDay(int32_t day)
{
    int16_t f[7];
    _GetLocalFields(f);
    int64_t n = static_cast<int64_t>(ComputeJulianDay(f[0], f[1], 1)) + day - 1;
    int16_t year;
    uint8_t month, dayOfMonth;
    DateOfDayNumber(n, year, month, dayOfMonth);
    f[0] = year;
    f[1] = month;
    f[2] = dayOfMonth;
    _SetFromLocalFields(f);
}

// Larger values roll over: the field is set to 0 in local time, then the
// units are added on the millisecond scale.
void VTime::_SetLocalFieldToZeroAndAdd(int fieldIndex, int64_t ms)
{
    int16_t f[7];
    _GetLocalFields(f);
    f[fieldIndex] = 0;
    _SetFromLocalFields(f);
    _AddToScale(ms);
}

void VTime::SetLocalHour(int32_t hours)
{
    _SetLocalFieldToZeroAndAdd(3, hours * kMsPerHour);
}

void VTime::SetLocalMinute(int32_t minutes)
{
    _SetLocalFieldToZeroAndAdd(4, minutes * kMsPerMinute);
}

void VTime::SetLocalSecond(int32_t seconds)
{
    _SetLocalFieldToZeroAndAdd(5, seconds * kMsPerSecond);
}

void VTime::SetLocalMillisecond(int32_t ms)
{
    _SetLocalFieldToZeroAndAdd(6, ms);
}

VDuration VTime::GetLocalDurationSinceMidnight() const
{
    int16_t f[7];
    _GetLocalFields(f);
    VDuration duration;
    duration.SetDuration(0, f[3], f[4], f[5], f[6]);
    return duration;
}

int64_t VTime::GetLocalUnixTime(bool inMilliseconds) const
{
    int16_t f[7];
    _GetLocalFields(f);
    struct tm fields = {};
    fields.tm_year = f[0] - 1900;
    fields.tm_mon = f[1] - 1;
    fields.tm_mday = f[2];
    fields.tm_hour = f[3];
    fields.tm_min = f[4];
    fields.tm_sec = f[5];
    fields.tm_isdst = -1;
    auto seconds = static_cast<int64_t>(::mktime(&fields));
    return inMilliseconds ? seconds * 1000 + f[6] : seconds;
}

void VTime::Now(VTime& time)
{
    time.FromSystemTime();
}

void VTime::FromSystemTime()
{
    int16_t f[7];
    VSystem::GetSystemUTCTime(f);
    FromUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

void VTime::FromToday(int32_t ms)
{
    int16_t f[7];
    VSystem::GetSystemLocalTime(f);
    f[3] = f[4] = f[5] = f[6] = 0;
    _SetFromLocalFields(f);
    if (ms != 0)
        _AddToScale(ms);
}

// ---------------------------------------------------------------------------
// Millisecond scale

int64_t VTime::GetMilliseconds() const
{
    if (IsNull())
        return -1;
    if (fYear == 0 && fMonth == 0 && fDay == 0)
        return 0;
    return static_cast<int64_t>(ComputeJulianDay(fYear, fMonth, fDay)) * kMsPerDay + fMilliseconds;
}

void VTime::FromMilliseconds(int64_t ms)
{
    if (ms == 0) {
        _SetFields(0, 0, 0, 0);
        return;
    }
    if (ms == -1) {
        SetNull(true);
        SetDirty(true);
        return;
    }
    int64_t n = ms / kMsPerDay;
    int16_t year;
    uint8_t month, day;
    DateOfDayNumber(n, year, month, day);
    _SetFields(year, month, day, static_cast<uint32_t>(ms - n * kMsPerDay));
}

void VTime::_AddToScale(int64_t ms)
{
    // A null time has no place on the scale; it stays null.
    if (IsNull())
        return;
    // Within the day of a valid date the scale's round trip gives back the
    // same date (checked for every day of the years 0 to 9999), so the sum
    // can stay in the time of day.
    if (fYear >= 0 && fYear <= 9999 && CheckDate(fYear, fMonth, fDay) && ms > -kMsPerDay && ms < kMsPerDay) {
        int64_t ofDay = static_cast<int64_t>(fMilliseconds) + ms;
        if (ofDay >= 0 && ofDay < kMsPerDay) {
            _SetFields(fYear, fMonth, fDay, static_cast<uint32_t>(ofDay));
            return;
        }
    }
    FromMilliseconds(scalar::WrapAdd(GetMilliseconds(), ms));
}

int32_t VTime::GetJulianDay() const
{
    return IsNull() ? -1 : ComputeJulianDay(fYear, fMonth, fDay);
}

void VTime::FromJulianDay(int32_t dayNumber)
{
    int16_t year;
    uint8_t month, day;
    DateOfDayNumber(dayNumber, year, month, day);
    _SetFields(year, month, day, 0);
}

int32_t VTime::GetWeekDay() const
{
    return IsNull() ? -1 : ComputeWeekDay(fYear, fMonth, fDay);
}

int32_t VTime::GetYearDay() const
{
    return IsNull() ? -1 : ComputeYearDay(fYear, fMonth, fDay);
}

void VTime::GetJulianDate(int16_t& year, int16_t& month, int16_t& day) const
{
    if (IsNull()) {
        year = month = day = 0;
        return;
    }
    int64_t n = ComputeJulianDay(fYear, fMonth, fDay);
    int64_t y = FloorDiv(100 * n - 172111625, 36525);
    int64_t e = n - 365 * y - 1721116 - FloorDiv(y, 4);
    int64_t m = (5 * e + 456) / 153;
    int64_t d = e - (153 * m - 457) / 5;
    if (m >= 13) {
        ++y;
        m -= 12;
    }
    year = static_cast<int16_t>(y);
    month = static_cast<int16_t>(m);
    day = static_cast<int16_t>(d);
}

void VTime::FromJulianDate(int16_t year, int16_t month, int16_t day)
{
    bool valid = month >= 1 && month <= 12 && day >= 1 && day <= kMaxDays[month] &&
                 !(month == 2 && day == 29 && year % 4 != 0);
    if (!valid) {
        Clear();
        SetNull(true);
        return;
    }
    FromJulianDay(ComputeJulianDay(year, month, day));
}

// ---------------------------------------------------------------------------
// Arithmetic

void VTime::AddYears(int32_t years)
{
    fYear = static_cast<int16_t>(fYear + years);
    SetDirty(true);
}

void VTime::AddMonths(int32_t months)
{
    // Rounding the carry down keeps the month in 1..12 for negative counts
    // too: January minus one month is December of the year before.
    int64_t total = static_cast<int64_t>(fMonth) + months - 1;
    int64_t carry = FloorDiv(total, 12);
    fYear = static_cast<int16_t>(fYear + carry);
    fMonth = static_cast<uint8_t>(total - carry * 12 + 1);
    SetDirty(true);
}

void VTime::AddDays(int32_t days) { _AddToScale(days * kMsPerDay); }
void VTime::AddHours(int32_t hours) { _AddToScale(hours * kMsPerHour); }
void VTime::AddMinutes(int32_t minutes) { _AddToScale(minutes * kMsPerMinute); }
void VTime::AddSeconds(int32_t seconds) { _AddToScale(seconds * kMsPerSecond); }
void VTime::AddMilliseconds(int64_t ms) { _AddToScale(ms); }
void VTime::Add(const VDuration& duration) { _AddToScale(duration.ConvertToMilliseconds()); }

void VTime::Substract(const VDuration& duration)
{
    _AddToScale(scalar::WrapSub(0, duration.ConvertToMilliseconds()));
}

void VTime::Substract(const VTime& other, VDuration& result) const
{
    result.FromNbMilliseconds(scalar::WrapSub(GetMilliseconds(), other.GetMilliseconds()));
}

void VTime::NullIfZero()
{
    if (fYear == 0 && fMonth == 0 && fDay == 0)
        SetNull(true);
}

CompareResult VTime::CompareTo(const VTime& other) const
{
    if (fYear != other.fYear)
        return fYear < other.fYear ? CR_SMALLER : CR_BIGGER;
    if (fMonth != other.fMonth)
        return fMonth < other.fMonth ? CR_SMALLER : CR_BIGGER;
    if (fDay != other.fDay)
        return fDay < other.fDay ? CR_SMALLER : CR_BIGGER;
    return scalar::CompareNumbers(fMilliseconds, other.fMilliseconds);
}

// ---------------------------------------------------------------------------
// Value model

const VValueInfo* VTime::GetValueInfo() const { return &sInfo; }

void VTime::Clear() { _SetFields(0, 0, 0, 0); }

VValue* VTime::Clone() const { return new VTime(*this); }

CompareResult VTime::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return CompareTo(*static_cast<const VTime*>(other));
}

bool VTime::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return CompareTo(*static_cast<const VTime*>(other)) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return CompareTo(VTime(scalar::LoadRaw<uint64_t>(data)));
}

bool VTime::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return CompareTo(VTime(scalar::LoadRaw<uint64_t>(data))) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return CompareTo(*static_cast<const VTime*>(other));
}

bool VTime::EqualToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return CompareTo(*static_cast<const VTime*>(other)) == CR_EQUAL;
}

bool VTime::FromValueSameKind(const VValue* other)
{
    FromTime(*static_cast<const VTime*>(other));
    return true;
}

CompareResult VTime::CompareToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return CompareTo(VTime(scalar::LoadRaw<uint64_t>(data)));
}

bool VTime::EqualToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return CompareTo(VTime(scalar::LoadRaw<uint64_t>(data))) == CR_EQUAL;
}

const void* VTime::LoadFromPtr(const void* data, bool swap)
{
    (void)swap;
    FromStamp(scalar::LoadRaw<uint64_t>(data));
    return static_cast<const char*>(data) + sizeof(uint64_t);
}

void* VTime::WriteToPtr(void* data, bool swap, VSize max) const
{
    (void)swap;
    (void)max;
    scalar::StoreRaw<uint64_t>(data, GetStamp());
    return static_cast<char*>(data) + sizeof(uint64_t);
}

VError VTime::ReadFromStream(VStream* stream, int32_t param)
{
    (void)param;
    int16_t year = 0;
    uint8_t month = 0, day = 0;
    uint32_t ms = 0;
    stream->GetWord(year);
    stream->GetByte(month);
    stream->GetByte(day);
    stream->GetLong(ms);
    if (stream->GetLastError() == VE_OK) {
        fYear = year;
        fMonth = month;
        fDay = day;
        fMilliseconds = ms;
        SetDirty(true);
    }
    return stream->GetLastError();
}

VError VTime::WriteToStream(VStream* stream, int32_t param) const
{
    (void)param;
    stream->PutWord(fYear);
    stream->PutByte(fMonth);
    stream->PutByte(fDay);
    stream->PutLong(static_cast<int32_t>(fMilliseconds));
    return stream->GetLastError();
}

void VTime::GetTime(VTime& time) const { time.FromTime(*this); }

void VTime::GetValue(VValueSingle& value) const { value.FromTime(*this); }

void VTime::FromTime(const VTime& time)
{
    fYear = time.fYear;
    fMonth = time.fMonth;
    fDay = time.fDay;
    fMilliseconds = time.fMilliseconds;
    SetNull(time.IsNull());
}

void VTime::FromValue(const VValueSingle& value)
{
    value.GetTime(*this);
    SetNull(value.IsNull());
    SetDirty(true);
}

CompareResult VTime::CompareTo(const VValueSingle& other, bool diacritical) const
{
    (void)diacritical;
    VTime read;
    other.GetTime(read);
    return CompareTo(read);
}

}  // namespace bkit
