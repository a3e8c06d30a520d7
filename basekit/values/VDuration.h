// VDuration.h - the duration value: a signed span of milliseconds.
//
// This file defines VDuration (value kind 9), a VValueSingle holding a signed
// 64-bit count of milliseconds, with component access (days, hours of the day,
// minutes of the hour, seconds of the minute, milliseconds of the second, all
// by truncating division, so a negative duration has negative components),
// arithmetic, and its text forms: whole seconds or an ISO 8601 duration in XML,
// seconds or milliseconds (or clock text) in JSON, clock text "h:m:s" read by
// FromString.
//
// Contracts:
// - Setters, From, Add<Unit>, Adjust and SetDuration clear the null flag and
//   mark the value dirty. Add, Substract, Multiply, Divide and Remainder only
//   change the number; comparisons ignore the null flags.
// - Sums and products of milliseconds wrap on 64-bit overflow; doubles are
//   truncated toward zero and saturate at the 64-bit limits (NaN gives 0).
// - Dividing by zero (Divide by 0.0, Remainder by a zero duration, the ratio to
//   a zero duration) leaves the value unchanged and raises VE_INVALID_PARAMETER
//   on the calling task's error stack.
// - The raw memory form is the 8 bytes of the milliseconds in the machine's
//   order; the byte-stream form the same 8 bytes in the stream's order. The null
//   flag is in neither.
// - Values are not thread-safe.
#pragma once

#include <cstdint>

#include "basekit/values/VScalars.h"
#include "basekit/values/VValue.h"

namespace bkit {

// Option bits of the text forms.
constexpr uint32_t kDurationXML_ISO8601 = 0x1;      // GetXMLString: "P..DT..H..M..S"
constexpr uint32_t kDurationJSON_Milliseconds = 0x2;  // GetJSONValue: milliseconds, not seconds
constexpr uint32_t kDurationJSON_ClockText = 0x4;     // GetJSONValue: "h:mm:ss" string

class VDuration : public VValueSingle {
public:
    // ms milliseconds, not null, dirty.
    explicit VDuration(int64_t ms = 0) : fMs(ms) {}
    // The milliseconds of other; the copy is not null whatever other is.
    VDuration(const VDuration& other) : VValueSingle(false), fMs(other.fMs) {}
    // With init false the 8 raw bytes at data; with init true 0 (data ignored).
    VDuration(const int64_t* data, bool init) : fMs(init ? 0 : scalar::LoadRaw<int64_t>(data)) {}
    ~VDuration() override = default;

    // Copies through FromDuration: the milliseconds, not null, dirty.
    VDuration& operator=(const VDuration& other)
    {
        FromDuration(other);
        return *this;
    }

    // --- milliseconds and units (truncating) ---
    int64_t ConvertToMilliseconds() const { return fMs; }
    int64_t ConvertToSeconds() const { return fMs / 1000; }
    int64_t ConvertToMinutes() const { return fMs / 60000; }
    int64_t ConvertToHours() const { return fMs / 3600000; }
    double GetDecimalHour() const { return static_cast<double>(fMs) / 3600000.0; }
    int64_t GetLong8OrMilliSeconds() const override { return fMs; }

    void FromNbMilliseconds(int64_t n);
    void FromNbSeconds(int64_t n);
    void FromNbMinutes(int64_t n);
    void FromNbHours(int64_t n);
    void FromNbDays(int64_t n);
    void FromDecimalHour(double hours);
    void SetDuration(int32_t days, int32_t hours, int32_t minutes, int32_t seconds, int32_t ms);

    // --- components ---
    int32_t GetDay() const;
    int32_t GetHour() const;
    int32_t GetMinute() const;
    int32_t GetSecond() const;
    int32_t GetMillisecond() const;
    // All five components; all -1 when the duration is null.
    void GetDuration(int32_t& days, int32_t& hours, int32_t& minutes, int32_t& seconds, int32_t& ms) const;

    // Replace one component, keeping the others (the difference is added).
    void AdjustDay(int32_t days);
    void AdjustHour(int32_t hours);
    void AdjustMinute(int32_t minutes);
    void AdjustSecond(int32_t seconds);
    void AdjustMillisecond(int32_t ms);

    // --- arithmetic ---
    void AddDays(int32_t days);
    void AddHours(int32_t hours);
    void AddMinutes(int32_t minutes);
    void AddSeconds(int32_t seconds);
    void AddMilliseconds(int64_t ms);
    void AddDuration(int32_t days, int32_t hours, int32_t minutes, int32_t seconds, int32_t ms);
    void AddDecimalHour(double hours);

    // These change the number only, not the flags.
    void Add(const VDuration& other);
    void Substract(const VDuration& other);
    void Multiply(double factor);
    // By 0.0 (or NaN): unchanged, VE_INVALID_PARAMETER raised.
    void Divide(double divisor);
    // The ratio of the two; 0.0 and VE_INVALID_PARAMETER raised for a zero divisor.
    double Divide(const VDuration& divisor) const;
    // This becomes the remainder (its sign follows this value) and the quotient
    // is returned. By a zero duration: unchanged, 0 returned, VE_INVALID_PARAMETER
    // raised.
    int64_t Remainder(const VDuration& divisor);

    // --- comparisons of the milliseconds, null flags ignored ---
    CompareResult CompareTo(const VDuration& other) const;
    bool operator==(const VDuration& other) const { return fMs == other.fMs; }
    bool operator!=(const VDuration& other) const { return fMs != other.fMs; }
    bool operator<(const VDuration& other) const { return fMs < other.fMs; }
    bool operator<=(const VDuration& other) const { return fMs <= other.fMs; }
    bool operator>(const VDuration& other) const { return fMs > other.fMs; }
    bool operator>=(const VDuration& other) const { return fMs >= other.fMs; }

    // Appends "days:hours:minutes:seconds:ms" (-1 for each when null).
    void GetFormattedString(VString& out) const;

    // --- value model ---
    const VValueInfo* GetValueInfo() const override;
    void Clear() override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override { return true; }

    // The milliseconds as a decimal integer; answers 0.
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // The text's integer reading as milliseconds; not null; answers 0.
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    // JSON null when null; else the seconds, the milliseconds (0x2) or the
    // clock text "h:mm:ss" (0x4) with the total hours. Answers 0.
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;
    // JSON null makes the value null (keeping the number); any other JSON
    // value's number is seconds. Answers 0.
    VError FromJSONValue(const VJSONValue& json) override;

    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    // Copies the milliseconds and the null flag; answers true.
    bool FromValueSameKind(const VValue* other) override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;

    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    VSize GetSpace(VSize max = 0) const override { (void)max; return sizeof(int64_t); }
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;

    // Whole seconds, narrowed by keeping the low bits; GetReal is seconds.
    uint8_t GetBoolean() const override { return fMs != 0; }
    int8_t GetByte() const override { return static_cast<int8_t>(fMs / 1000); }
    int16_t GetWord() const override { return static_cast<int16_t>(fMs / 1000); }
    int32_t GetLong() const override { return static_cast<int32_t>(fMs / 1000); }
    int64_t GetLong8() const override { return fMs / 1000; }
    double GetReal() const override { return static_cast<double>(fMs) / 1000.0; }
    // Copies the milliseconds; the destination's flags are left alone.
    void GetDuration(VDuration& duration) const override;
    // Empty for a null duration, else the milliseconds as a decimal number.
    void GetString(VString& string) const override;
    void GetValue(VValueSingle& value) const override;

    // Numbers are seconds (true is one second).
    void FromBoolean(uint8_t value) override;
    void FromByte(int8_t value) override;
    void FromWord(int16_t value) override;
    void FromLong(int32_t value) override;
    void FromLong8(int64_t value) override;
    void FromReal(double seconds) override;
    void FromDuration(const VDuration& duration) override;
    // Without ':' the text's integer reading is seconds; with ':' clock text:
    // "h:m:s:ms" (four or more parts), "h:m:s" or "m:s". Not null.
    void FromString(const VString& string) override;
    void FromValue(const VValueSingle& value) override;
    // A non-zero GetLong8 is milliseconds, else the value fills this duration.
    void FromRESTValue(const VValueSingle& value) override;

    // Whole seconds; with kDurationXML_ISO8601 the ISO 8601 duration.
    void GetXMLString(VString& string, uint32_t options = 0) const override;
    // An ISO 8601 duration ("P1Y2M3DT4H5M6.5S", years of 360 days and months
    // of 30), clock text, or whole seconds. Always accepted; not null.
    bool FromXMLString(const VString& string) override;

    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    static const VValueInfo_scalar<VDuration, VK_DURATION, int64_t> sInfo;

private:
    // Sets the milliseconds: not null, dirty.
    void _Set(int64_t ms);

    int64_t fMs;
};

}  // namespace bkit
