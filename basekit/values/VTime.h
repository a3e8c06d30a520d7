// VTime.h - the date and time value: one instant as a UTC date and a time of day.
//
// This file defines VTime (value kind 8), a VValueSingle holding a UTC calendar
// date (year, month, day) and the milliseconds since midnight UTC of that day,
// with the calendar arithmetic of the toolbox, conversions to and from local
// time through the system facade, arithmetic with durations, comparisons, the
// raw, stream and text forms (RFC 3339 for XML and JSON, RFC 822, display
// texts), and its descriptor.
//
// Contracts:
// - The zero date (year, month and day 0) is a valid, non-null value; it may
//   carry milliseconds of the day (a time of day without a date). Null is the
//   flag of the value base and is independent of the fields.
// - The millisecond scale used by all arithmetic is day number x 86400000 +
//   milliseconds of the day, the day number being the Julian day number minus
//   one (1970-01-01 is 2440587). The zero date counts as 0 whatever its time of
//   day, a null time as -1. Arithmetic on a null time leaves it null.
// - The stamp packs year (bits 48-63), month (40-47), day (32-39) and the
//   milliseconds of the day (0-31); the raw memory form is the stamp in the
//   machine's byte order. The stream form is the year (16 bits), month and day
//   (one byte each) and the milliseconds (32 bits) in the stream's byte order.
//   Neither holds the null flag.
// - Comparisons order by year, month, day and milliseconds; null flags are not
//   compared.
// - Local time goes through VSystem (the zone of the TZ environment, re-read
//   after VSystem::SystemDateTimeChanged or tzset); the offset written with a
//   local RFC 3339 text is the one in force at that instant, not today's.
// - Text readers never raise errors: refused or invalid texts leave the value
//   null, and the readers that answer bool answer false only for a refused
//   text.
// - Values are not thread-safe; one task owns a value at a time. Clone and the
//   descriptor's Generate and LoadFromPtr hand a new value to the caller.
#pragma once

#include <cstdint>

#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VValue.h"

namespace bkit {

// The argument of VTime(VTimeInitParam): the current UTC time, or the zero date.
enum VTimeInitParam : int32_t {
    eInitWithZero = 0,
    eInitWithCurrentTime = 1,
};

// Option bits of GetRfc3339String and GetXMLString.
constexpr uint32_t kRfc3339_UTC = 0x1;             // UTC with a final 'Z'; else local time
constexpr uint32_t kRfc3339_NoOffset = 0x2;        // local time without an offset
constexpr uint32_t kRfc3339_TimeOnly = 0x4;
constexpr uint32_t kRfc3339_DateOnly = 0x8;
constexpr uint32_t kRfc3339_ZeroDate = 0x10;       // the date part of a date-and-time form as zeros
constexpr uint32_t kRfc3339_NoMilliseconds = 0x20; // (UTC or no offset) whole seconds only

// Option bits of GetJSONString.
constexpr uint32_t kTimeJSON_Quoted = 0x1;          // between double quotes
constexpr uint32_t kTimeJSON_DateOnlyAtMidnight = 0x200;
constexpr uint32_t kTimeJSON_Markers = 0x1000;      // between "!!" markers
// Option bit of GetJSONValue: a JSON date rather than a JSON string.
constexpr uint32_t kTimeJSONValue_Date = 0x1;

class VTime : public VValueSingle {
public:
    // The zero date, not null, dirty.
    VTime() : fYear(0), fMonth(0), fDay(0), fMilliseconds(0) {}
    // eInitWithCurrentTime: the current UTC time; any other value: the zero date.
    explicit VTime(VTimeInitParam init);
    // Fields and null flag; the copy is dirty.
    VTime(const VTime& other) = default;
    // The fields packed in a stamp; not null.
    explicit VTime(uint64_t stamp) { _SetStamp(stamp); }
    // With init false the stamp read from data; with init true the zero date.
    VTime(const uint64_t* data, bool init);
    ~VTime() override = default;

    // Assigns through FromTime: fields and null flag.
    VTime& operator=(const VTime& other)
    {
        FromTime(other);
        return *this;
    }

    // --- calendar (static; no validation of the arguments) ---

    // The day number (Julian day number minus one) of a Gregorian date.
    static int32_t ComputeJulianDay(int32_t year, int32_t month, int32_t day);
    // 0 for Sunday to 6 for Saturday.
    static int32_t ComputeWeekDay(int32_t year, int32_t month, int32_t day);
    // 1 for 1 January.
    static int32_t ComputeYearDay(int32_t year, int32_t month, int32_t day);
    static bool IsLeapYear(int32_t year);
    // A Gregorian date with a year of 0 or more (29 February in leap years only).
    static bool CheckDate(int32_t year, int32_t month, int32_t day);

    // --- fields in UTC ---

    // Year, month and day 0 store the zero date with the time of day, unchecked.
    // Otherwise an invalid date or time clears the value and makes it null.
    void FromUTCTime(int16_t year, int16_t month, int16_t day, int16_t hour, int16_t minute, int16_t second,
                     int16_t millisecond);
    // All 0 when null.
    void GetUTCTime(int16_t& year, int16_t& month, int16_t& day, int16_t& hour, int16_t& minute, int16_t& second,
                    int16_t& millisecond) const;

    int16_t GetYear() const { return fYear; }
    uint8_t GetMonth() const { return fMonth; }
    uint8_t GetDay() const { return fDay; }
    uint32_t GetMillisecondsOfDay() const { return fMilliseconds; }

    uint64_t GetStamp() const;
    // The fields of the stamp; not null, dirty.
    void FromStamp(uint64_t stamp);

    // --- fields in local time (through the system facade) ---

    // The fields are local time; the zero date is stored as given.
    void FromLocalTime(int16_t year, int16_t month, int16_t day, int16_t hour, int16_t minute, int16_t second,
                       int16_t millisecond);
    // A null time gives all 0.
    void GetLocalTime(int16_t& year, int16_t& month, int16_t& day, int16_t& hour, int16_t& minute, int16_t& second,
                      int16_t& millisecond) const;

    int16_t GetLocalYear() const;
    int16_t GetLocalMonth() const;
    int16_t GetLocalDay() const;
    int16_t GetLocalHour() const;
    int16_t GetLocalMinute() const;
    int16_t GetLocalSecond() const;
    int16_t GetLocalMillisecond() const;

    // Replace one local field and set the result. The month carries whole years
    // (truncating); the day moves by day numbers (0 and 32 roll into the
    // neighbouring months); hour, minute, second and millisecond set the field
    // to 0 and add n units, so larger values roll over.
    void SetLocalYear(int32_t year);
    void SetLocalMonth(int32_t month);
    void SetLocalDay(int32_t day);
    void SetLocalHour(int32_t hours);
    void SetLocalMinute(int32_t minutes);
    void SetLocalSecond(int32_t seconds);
    void SetLocalMillisecond(int32_t ms);

    // The local hour, minute, second and millisecond as a duration.
    VDuration GetLocalDurationSinceMidnight() const;
    // mktime of the local fields (daylight saving unknown): seconds, or
    // seconds x 1000 + the local milliseconds.
    int64_t GetLocalUnixTime(bool inMilliseconds = false) const;

    // The current UTC time.
    static void Now(VTime& time);
    void FromSystemTime();
    // Today's local midnight plus ms milliseconds.
    void FromToday(int32_t ms = 0);

    // --- millisecond scale and day numbers ---

    // -1 when null, 0 for the zero date.
    int64_t GetMilliseconds() const;
    // 0: the zero date; -1: null (fields kept); else the date and time of day.
    // Not null otherwise; dirty.
    void FromMilliseconds(int64_t ms);

    // -1 when null.
    int32_t GetJulianDay() const;
    // The date of a day number, time of day 0, not null.
    void FromJulianDay(int32_t dayNumber);
    // -1 when null.
    int32_t GetWeekDay() const;
    int32_t GetYearDay() const;

    // The date in the Julian calendar (all 0 when null).
    void GetJulianDate(int16_t& year, int16_t& month, int16_t& day) const;
    // Sets the given date (checked as a Julian-calendar date: 29 February when
    // the year is divisible by 4), time of day 0; an invalid date makes it null.
    void FromJulianDate(int16_t year, int16_t month, int16_t day);

    // --- arithmetic ---

    // Adds to the year field only.
    void AddYears(int32_t years);
    // Moves the month (carrying years, rounding down); the day is kept as it
    // is, so 31 January plus one month reads 31 February.
    void AddMonths(int32_t months);
    void AddDays(int32_t days);
    void AddHours(int32_t hours);
    void AddMinutes(int32_t minutes);
    void AddSeconds(int32_t seconds);
    void AddMilliseconds(int64_t ms);
    void Add(const VDuration& duration);
    void Substract(const VDuration& duration);
    // result = this - other on the millisecond scale; not null, dirty.
    void Substract(const VTime& other, VDuration& result) const;

    // Null when the date is the zero date.
    void NullIfZero();

    // --- comparisons (fields only, null flags ignored) ---
    CompareResult CompareTo(const VTime& other) const;
    bool operator==(const VTime& other) const { return CompareTo(other) == CR_EQUAL; }
    bool operator!=(const VTime& other) const { return CompareTo(other) != CR_EQUAL; }
    bool operator<(const VTime& other) const { return CompareTo(other) == CR_SMALLER; }
    bool operator<=(const VTime& other) const { return CompareTo(other) != CR_BIGGER; }
    bool operator>(const VTime& other) const { return CompareTo(other) == CR_BIGGER; }
    bool operator>=(const VTime& other) const { return CompareTo(other) != CR_SMALLER; }

    // --- text forms (VTimeText.cpp) ---

    // A null time gives "0000-00-00T00:00:00Z" whatever the options.
    void GetRfc3339String(VString& text, uint32_t options = kRfc3339_UTC) const;
    // Full form, date, time of day or a number of seconds; with 'Z', an offset
    // or as local time. False (and null) for a text it refuses.
    bool FromRfc3339String(const VString& text);

    // RFC 822: "Thu, 01 Jan 1970 00:00:00 GMT".
    void GetRfc822String(VString& text) const;
    void FromRfc822String(const VString& text);

    // "YYYY-MM-DD hh:mm:ss:mmm" in local time; empty when null.
    void GetStringLocalTime(VString& text) const;

    // The date and the time in the platform's short styles, through the
    // calling task's international manager; shown in GMT with utc, else in
    // the local zone. A null time clears both.
    void FormatByOS(VString& dateText, VString& timeText, bool utc) const;
    // The date, " " and the time; empty when null.
    void FormatByOS(VString& text, bool utc) const;

    // "day!month!year" without padding; a null text when null.
    void toSimpleDateString(VString& text) const;

    // The __DATE__ and __TIME__ texts of the compiler, read as local time.
    void FromCompilerDateTime(const char* date, const char* time);

    // --- value model ---
    const VValueInfo* GetValueInfo() const override;
    // The zero date, not null, dirty.
    void Clear() override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override { return true; }

    // The RFC 3339 text in UTC (the date alone at midnight with 0x200), quoted
    // (0x1) and/or between "!!" markers (0x1000). Answers 0.
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // FromXMLString. Answers 0.
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    // JSON null when null; a JSON date with 0x1; else the JSON string text.
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;
    // JSON null makes the value null; anything else is read as text.
    VError FromJSONValue(const VJSONValue& json) override;

    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    // Copies fields and null flag; answers true.
    bool FromValueSameKind(const VValue* other) override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;

    // The stamp, 8 bytes in the machine's order (never swapped); loading
    // clears the null flag.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    VSize GetSpace(VSize max = 0) const override { (void)max; return sizeof(uint64_t); }
    // Reading sets the fields and leaves the null flag as it was.
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;

    // The millisecond scale (-1 when null).
    int64_t GetLong8OrMilliSeconds() const override { return GetMilliseconds(); }
    // The stamp as a double.
    double GetReal() const override { return static_cast<double>(GetStamp()); }
    // Call the destination's FromTime.
    void GetTime(VTime& time) const override;
    void GetValue(VValueSingle& value) const override;
    // FormatByOS in UTC.
    void GetString(VString& string) const override;

    // Copies the fields and the null flag; dirty only through a change of the
    // null flag.
    void FromTime(const VTime& time) override;
    // day!month!year, or up to seven numbers year, month, day, hour, minute,
    // second, millisecond in UTC.
    void FromString(const VString& string) override;
    // The value fills this time through its GetTime; then its null flag.
    void FromValue(const VValueSingle& value) override;

    // GetRfc3339String.
    void GetXMLString(VString& string, uint32_t options = 0) const override;
    // "!!" markers around an RFC 3339 text, or an RFC 3339 text without '!',
    // go to FromRfc3339String; any other text to FromString (answering true).
    bool FromXMLString(const VString& string) override;

    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    static const VValueInfo_scalar<VTime, VK_TIME, uint64_t> sInfo;

private:
    // Stores the fields of the stamp; flags untouched.
    void _SetStamp(uint64_t stamp);
    // Stores the fields: not null, dirty.
    void _SetFields(int16_t year, uint8_t month, uint8_t day, uint32_t ms);
    // Local fields as the seven shorts of the facade (all 0 when null).
    void _GetLocalFields(int16_t* fields) const;
    // Converts local fields to UTC and sets them through FromUTCTime.
    void _SetFromLocalFields(int16_t* fields);
    void _SetLocalFieldToZeroAndAdd(int fieldIndex, int64_t ms);
    // Adds on the millisecond scale; a null time stays null.
    void _AddToScale(int64_t ms);

    int16_t fYear;
    uint8_t fMonth;
    uint8_t fDay;
    uint32_t fMilliseconds;
};

}  // namespace bkit
