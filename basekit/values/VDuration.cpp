// VDuration.cpp - the duration value: components, arithmetic, value model.
//
// This file implements VDuration except its text forms (VDurationText.cpp)
// and defines its descriptor, registered from this file's initialiser.
#include "basekit/values/VDuration.h"

#include <cmath>
#include <limits>

#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

const VValueInfo_scalar<VDuration, VK_DURATION, int64_t> VDuration::sInfo;

namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60000;
constexpr int64_t kMsPerHour = 3600000;
constexpr int64_t kMsPerDay = 86400000;

}  // namespace

void VDuration::_Set(int64_t ms)
{
    fMs = ms;
    SetNull(false);
    SetDirty(true);
}

// ---------------------------------------------------------------------------
// Units

void VDuration::FromNbMilliseconds(int64_t n) { _Set(n); }
void VDuration::FromNbSeconds(int64_t n) { _Set(scalar::WrapMul(n, kMsPerSecond)); }
void VDuration::FromNbMinutes(int64_t n) { _Set(scalar::WrapMul(n, kMsPerMinute)); }
void VDuration::FromNbHours(int64_t n) { _Set(scalar::WrapMul(n, kMsPerHour)); }
void VDuration::FromNbDays(int64_t n) { _Set(scalar::WrapMul(n, kMsPerDay)); }

void VDuration::FromDecimalHour(double hours)
{
    _Set(scalar::TruncToInt64(hours * static_cast<double>(kMsPerHour)));
}

namespace {

// The sum of the parts, in 64 bits.
int64_t SumOfParts(int32_t days, int32_t hours, int32_t minutes, int32_t seconds, int32_t ms)
{
    int64_t total = static_cast<int64_t>(days) * kMsPerDay;
    total += static_cast<int64_t>(hours) * kMsPerHour;
    total += static_cast<int64_t>(minutes) * kMsPerMinute;
    total += static_cast<int64_t>(seconds) * kMsPerSecond;
    return total + ms;
}

}  // namespace

void VDuration::SetDuration(int32_t days, int32_t hours, int32_t minutes, int32_t seconds, int32_t ms)
{
    _Set(SumOfParts(days, hours, minutes, seconds, ms));
}

// ---------------------------------------------------------------------------
// Components (truncating division: a negative duration has negative parts)

int32_t VDuration::GetDay() const
{
    return static_cast<int32_t>(fMs / kMsPerDay);
}

int32_t VDuration::GetHour() const
{
    return static_cast<int32_t>((fMs % kMsPerDay) / kMsPerHour);
}

int32_t VDuration::GetMinute() const
{
    return static_cast<int32_t>((fMs % kMsPerHour) / kMsPerMinute);
}

int32_t VDuration::GetSecond() const
{
    return static_cast<int32_t>((fMs % kMsPerMinute) / kMsPerSecond);
}

int32_t VDuration::GetMillisecond() const
{
    return static_cast<int32_t>(fMs % kMsPerSecond);
}

void VDuration::GetDuration(int32_t& days, int32_t& hours, int32_t& minutes, int32_t& seconds, int32_t& ms) const
{
    if (IsNull()) {
        days = hours = minutes = seconds = ms = -1;
        return;
    }
    days = GetDay();
    hours = GetHour();
    minutes = GetMinute();
    seconds = GetSecond();
    ms = GetMillisecond();
}

void VDuration::AdjustDay(int32_t days)
{
    _Set(scalar::WrapAdd(static_cast<int64_t>(days) * kMsPerDay, fMs % kMsPerDay));
}

void VDuration::AdjustHour(int32_t hours)
{
    _Set(scalar::WrapAdd(fMs, (static_cast<int64_t>(hours) - GetHour()) * kMsPerHour));
}

void VDuration::AdjustMinute(int32_t minutes)
{
    _Set(scalar::WrapAdd(fMs, (static_cast<int64_t>(minutes) - GetMinute()) * kMsPerMinute));
}

void VDuration::AdjustSecond(int32_t seconds)
{
    _Set(scalar::WrapAdd(fMs, (static_cast<int64_t>(seconds) - GetSecond()) * kMsPerSecond));
}

void VDuration::AdjustMillisecond(int32_t ms)
{
    _Set(scalar::WrapAdd(fMs, static_cast<int64_t>(ms) - GetMillisecond()));
}

// ---------------------------------------------------------------------------
// Arithmetic

void VDuration::AddDays(int32_t days) { _Set(scalar::WrapAdd(fMs, static_cast<int64_t>(days) * kMsPerDay)); }
void VDuration::AddHours(int32_t hours) { _Set(scalar::WrapAdd(fMs, static_cast<int64_t>(hours) * kMsPerHour)); }
void VDuration::AddMinutes(int32_t minutes) { _Set(scalar::WrapAdd(fMs, static_cast<int64_t>(minutes) * kMsPerMinute)); }
void VDuration::AddSeconds(int32_t seconds) { _Set(scalar::WrapAdd(fMs, static_cast<int64_t>(seconds) * kMsPerSecond)); }
void VDuration::AddMilliseconds(int64_t ms) { _Set(scalar::WrapAdd(fMs, ms)); }

void VDuration::AddDuration(int32_t days, int32_t hours, int32_t minutes, int32_t seconds, int32_t ms)
{
    _Set(scalar::WrapAdd(fMs, SumOfParts(days, hours, minutes, seconds, ms)));
}

void VDuration::AddDecimalHour(double hours)
{
    _Set(scalar::WrapAdd(fMs, scalar::TruncToInt64(hours * static_cast<double>(kMsPerHour))));
}

void VDuration::Add(const VDuration& other) { fMs = scalar::WrapAdd(fMs, other.fMs); }
void VDuration::Substract(const VDuration& other) { fMs = scalar::WrapSub(fMs, other.fMs); }

void VDuration::Multiply(double factor)
{
    fMs = scalar::TruncToInt64(static_cast<double>(fMs) * factor);
}

void VDuration::Divide(double divisor)
{
    if (divisor == 0.0 || std::isnan(divisor)) {
        _ThrowError(VE_INVALID_PARAMETER);
        return;
    }
    fMs = scalar::TruncToInt64(static_cast<double>(fMs) / divisor);
}

double VDuration::Divide(const VDuration& divisor) const
{
    if (divisor.fMs == 0) {
        _ThrowError(VE_INVALID_PARAMETER);
        return 0.0;
    }
    return static_cast<double>(fMs) / static_cast<double>(divisor.fMs);
}

int64_t VDuration::Remainder(const VDuration& divisor)
{
    if (divisor.fMs == 0) {
        _ThrowError(VE_INVALID_PARAMETER);
        return 0;
    }
    if (divisor.fMs == -1) {
        // The one quotient that overflows (the smallest value by -1) saturates.
        int64_t quotient = (fMs == std::numeric_limits<int64_t>::min()) ? std::numeric_limits<int64_t>::max() : -fMs;
        fMs = 0;
        return quotient;
    }
    int64_t quotient = fMs / divisor.fMs;
    fMs %= divisor.fMs;
    return quotient;
}

CompareResult VDuration::CompareTo(const VDuration& other) const
{
    return scalar::CompareNumbers(fMs, other.fMs);
}

// ---------------------------------------------------------------------------
// Value model

const VValueInfo* VDuration::GetValueInfo() const { return &sInfo; }

void VDuration::Clear() { _Set(0); }

VValue* VDuration::Clone() const { return new VDuration(fMs); }

CompareResult VDuration::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return scalar::CompareNumbers(fMs, static_cast<const VDuration*>(other)->fMs);
}

bool VDuration::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return fMs == static_cast<const VDuration*>(other)->fMs;
}

CompareResult VDuration::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return scalar::CompareNumbers(fMs, scalar::LoadRaw<int64_t>(data));
}

bool VDuration::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return fMs == scalar::LoadRaw<int64_t>(data);
}

CompareResult VDuration::CompareToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareNumbers(fMs, static_cast<const VDuration*>(other)->fMs);
}

bool VDuration::EqualToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return fMs == static_cast<const VDuration*>(other)->fMs;
}

bool VDuration::FromValueSameKind(const VValue* other)
{
    const auto* source = static_cast<const VDuration*>(other);
    FromDuration(*source);
    SetNull(source->IsNull());
    return true;
}

CompareResult VDuration::CompareToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareNumbers(fMs, scalar::LoadRaw<int64_t>(data));
}

bool VDuration::EqualToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return fMs == scalar::LoadRaw<int64_t>(data);
}

const void* VDuration::LoadFromPtr(const void* data, bool swap)
{
    (void)swap;
    _Set(scalar::LoadRaw<int64_t>(data));
    return static_cast<const char*>(data) + sizeof(int64_t);
}

void* VDuration::WriteToPtr(void* data, bool swap, VSize max) const
{
    (void)swap;
    (void)max;
    scalar::StoreRaw<int64_t>(data, fMs);
    return static_cast<char*>(data) + sizeof(int64_t);
}

VError VDuration::ReadFromStream(VStream* stream, int32_t param)
{
    (void)param;
    int64_t ms = 0;
    if (stream->GetLong8(ms) == VE_OK)
        fMs = ms;
    return stream->GetLastError();
}

VError VDuration::WriteToStream(VStream* stream, int32_t param) const
{
    (void)param;
    stream->PutLong8(fMs);
    return stream->GetLastError();
}

void VDuration::GetDuration(VDuration& duration) const
{
    duration.fMs = fMs;
}

void VDuration::GetString(VString& string) const
{
    string.Clear();
    if (!IsNull())
        string.FromLong8(fMs);
}

void VDuration::GetValue(VValueSingle& value) const
{
    value.FromDuration(*this);
}

void VDuration::FromBoolean(uint8_t value) { _Set(value ? kMsPerSecond : 0); }
void VDuration::FromByte(int8_t value) { _Set(static_cast<int64_t>(value) * kMsPerSecond); }
void VDuration::FromWord(int16_t value) { _Set(static_cast<int64_t>(value) * kMsPerSecond); }
void VDuration::FromLong(int32_t value) { _Set(static_cast<int64_t>(value) * kMsPerSecond); }
void VDuration::FromLong8(int64_t value) { _Set(scalar::WrapMul(value, kMsPerSecond)); }

void VDuration::FromReal(double seconds)
{
    _Set(scalar::TruncToInt64(seconds * 1000.0));
}

void VDuration::FromDuration(const VDuration& duration) { _Set(duration.fMs); }

void VDuration::FromValue(const VValueSingle& value)
{
    value.GetDuration(*this);
    SetNull(value.IsNull());
    SetDirty(true);
}

void VDuration::FromRESTValue(const VValueSingle& value)
{
    int64_t ms = value.GetLong8();
    if (ms != 0)
        fMs = ms;
    else
        value.GetDuration(*this);
    SetNull(value.IsNull());
    SetDirty(true);
}

CompareResult VDuration::CompareTo(const VValueSingle& other, bool diacritical) const
{
    (void)diacritical;
    VDuration read;
    read.SetNull(other.IsNull());
    other.GetDuration(read);
    return scalar::CompareNumbers(fMs, read.fMs);
}

}  // namespace bkit
