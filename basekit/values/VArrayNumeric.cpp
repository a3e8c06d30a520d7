// VArrayNumeric.cpp - the arrays of plain numbers, dates and durations.
#include "basekit/values/VArrayNumeric.h"

#include <cmath>
#include <cstring>

#include "basekit/files/VStream.h"
#include "basekit/values/VArraySort.h"

namespace bkit {

namespace {

// Whether an element passes the test of a search method against the value.
template <class T>
bool PassesMethod(T element, T value, CompareMethod method)
{
    switch (method) {
        case CM_GREATER_OR_EQUAL: return !(element < value);
        case CM_GREATER: return value < element;
        case CM_EQUAL: return element == value;
        case CM_SMALLER: return element < value;
        case CM_SMALLER_OR_EQUAL: return !(value < element);
        default: return false;
    }
}

template <class T>
CompareResult CompareNumbers(T a, T b)
{
    return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
}

}  // namespace

// --- VArrayScalar ---

template <class T>
int32_t VArrayScalar<T>::FindElement(T value, int32_t start, bool forward, CompareMethod method) const
{
    if (fCount == 0 || start < 1 || start > fCount)
        return -1;
    const T* p = Elements();
    if (forward) {
        for (int32_t i = start - 1; i < fCount; ++i) {
            if (PassesMethod(p[i], value, method))
                return i + 1;
        }
    } else {
        for (int32_t i = start - 1; i >= 0; --i) {
            if (PassesMethod(p[i], value, method))
                return i + 1;
        }
    }
    return -1;
}

template <class T>
int32_t VArrayScalar<T>::QuickFindElement(T value) const
{
    if (!fData)
        return -1;
    const T* p = Elements();
    int32_t low = 0;
    int32_t high = fCount - 1;
    while (low <= high) {
        int32_t middle = low + (high - low) / 2;
        if (p[middle] == value)
            return middle + 1;
        if (p[middle] < value)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

template <class T>
void VArrayScalar<T>::SortElements(int32_t first, int32_t last, bool descending)
{
    if (first < 1 || first >= last || last > fCount)
        return;
    T* p = reinterpret_cast<T*>(LockAndGetData());
    SortPlainElements(p + (first - 1), p + last, descending);
    UnlockData();
}

template <class T>
VError VArrayScalar<T>::WriteElements(VStream* stream) const
{
    if (fCount == 0)
        return stream->GetLastError();
    const T* p = Elements();
    if constexpr (sizeof(T) == 1)
        return stream->PutData(p, static_cast<VSize>(fCount));
    else if constexpr (sizeof(T) == 2)
        return stream->PutWords(reinterpret_cast<const int16_t*>(p), fCount);
    else if constexpr (sizeof(T) == 4)
        return stream->PutLongs(reinterpret_cast<const int32_t*>(p), fCount);
    else
        return stream->PutLong8s(reinterpret_cast<const int64_t*>(p), fCount);
}

template <class T>
VError VArrayScalar<T>::ReadElements(VStream* stream)
{
    if (fCount == 0)
        return stream->GetLastError();
    T* p = Elements();
    VIndex count = fCount;
    if constexpr (sizeof(T) == 1)
        return stream->GetData(p, static_cast<VSize>(fCount));
    else if constexpr (sizeof(T) == 2)
        return stream->GetWords(reinterpret_cast<int16_t*>(p), &count);
    else if constexpr (sizeof(T) == 4)
        return stream->GetLongs(reinterpret_cast<int32_t*>(p), &count);
    else
        return stream->GetLong8s(reinterpret_cast<int64_t*>(p), &count);
}

template class VArrayScalar<int8_t>;
template class VArrayScalar<int16_t>;
template class VArrayScalar<int32_t>;
template class VArrayScalar<int64_t>;
template class VArrayScalar<uint64_t>;
template class VArrayScalar<double>;

// --- VArrayByte ---

VArrayByte::VArrayByte(int32_t count) : VArrayScalar(count) {}
VArrayByte::VArrayByte(const VArrayByte& other) : VArrayScalar(0) { Copy(other); }
VArrayByte& VArrayByte::operator=(const VArrayByte& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayByte::GetValueInfo() const { return &sInfo; }
VValue* VArrayByte::Clone() const { return new VArrayByte(*this); }

int32_t VArrayByte::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    return Find(value.GetByte(), start, forward, method);
}
int32_t VArrayByte::Find(int8_t value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value, start, forward, method);
}
int8_t VArrayByte::GetMax() const
{
    int8_t result = INT8_MIN;
    for (int32_t i = 0; i < fCount; ++i)
        result = std::max(result, Elements()[i]);
    return result;
}
int8_t VArrayByte::GetMin() const
{
    int8_t result = INT8_MAX;
    for (int32_t i = 0; i < fCount; ++i)
        result = std::min(result, Elements()[i]);
    return result;
}
VValueSingle* VArrayByte::CloneValue(int32_t pos) const
{
    auto* value = new VByte();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayByte::CompareTo(const VValueSingle& value, bool, int32_t pos) const
{
    return CompareNumbers(GetByte(pos), value.GetByte());
}

// --- VArrayWord ---

VArrayWord::VArrayWord(int32_t count) : VArrayScalar(count) {}
VArrayWord::VArrayWord(const VArrayWord& other) : VArrayScalar(0) { Copy(other); }
VArrayWord& VArrayWord::operator=(const VArrayWord& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayWord::GetValueInfo() const { return &sInfo; }
VValue* VArrayWord::Clone() const { return new VArrayWord(*this); }

int32_t VArrayWord::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    return Find(value.GetWord(), start, forward, method);
}
int32_t VArrayWord::Find(int16_t value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value, start, forward, method);
}
int16_t VArrayWord::GetMax() const
{
    int16_t result = INT16_MIN;
    for (int32_t i = 0; i < fCount; ++i)
        result = std::max(result, Elements()[i]);
    return result;
}
int16_t VArrayWord::GetMin() const
{
    int16_t result = INT16_MAX;
    for (int32_t i = 0; i < fCount; ++i)
        result = std::min(result, Elements()[i]);
    return result;
}
VValueSingle* VArrayWord::CloneValue(int32_t pos) const
{
    auto* value = new VWord();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayWord::CompareTo(const VValueSingle& value, bool, int32_t pos) const
{
    return CompareNumbers(GetWord(pos), value.GetWord());
}

// --- VArrayLong ---

VArrayLong::VArrayLong(int32_t count) : VArrayScalar(count) {}
VArrayLong::VArrayLong(const VArrayLong& other) : VArrayScalar(0) { Copy(other); }
VArrayLong& VArrayLong::operator=(const VArrayLong& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayLong::GetValueInfo() const { return &sInfo; }
VValue* VArrayLong::Clone() const { return new VArrayLong(*this); }

int32_t VArrayLong::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    return Find(value.GetLong(), start, forward, method);
}
int32_t VArrayLong::Find(int32_t value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value, start, forward, method);
}
int32_t VArrayLong::GetMax() const
{
    int32_t result = INT32_MIN;
    for (int32_t i = 0; i < fCount; ++i)
        result = std::max(result, Elements()[i]);
    return result;
}
int32_t VArrayLong::GetMin() const
{
    int32_t result = INT32_MAX;
    for (int32_t i = 0; i < fCount; ++i)
        result = std::min(result, Elements()[i]);
    return result;
}
VValueSingle* VArrayLong::CloneValue(int32_t pos) const
{
    auto* value = new VLong();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayLong::CompareTo(const VValueSingle& value, bool, int32_t pos) const
{
    return CompareNumbers(GetLong(pos), value.GetLong());
}

// --- VArrayLong8 ---

VArrayLong8::VArrayLong8(int32_t count) : VArrayScalar(count) {}
VArrayLong8::VArrayLong8(const VArrayLong8& other) : VArrayScalar(0) { Copy(other); }
VArrayLong8& VArrayLong8::operator=(const VArrayLong8& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayLong8::GetValueInfo() const { return &sInfo; }
VValue* VArrayLong8::Clone() const { return new VArrayLong8(*this); }

int32_t VArrayLong8::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    return Find(value.GetLong8(), start, forward, method);
}
int32_t VArrayLong8::Find(int64_t value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value, start, forward, method);
}
VValueSingle* VArrayLong8::CloneValue(int32_t pos) const
{
    auto* value = new VLong8();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayLong8::CompareTo(const VValueSingle& value, bool, int32_t pos) const
{
    return CompareNumbers(GetLong8(pos), value.GetLong8());
}

// --- VArrayReal ---

VArrayReal::VArrayReal(int32_t count) : VArrayScalar(count) {}
VArrayReal::VArrayReal(const VArrayReal& other) : VArrayScalar(0) { Copy(other); }
VArrayReal& VArrayReal::operator=(const VArrayReal& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayReal::GetValueInfo() const { return &sInfo; }
VValue* VArrayReal::Clone() const { return new VArrayReal(*this); }

int32_t VArrayReal::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    return Find(value.GetReal(), start, forward, method);
}
int32_t VArrayReal::Find(double value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value, start, forward, method);
}
double VArrayReal::GetSum() const
{
    double sum = 0.0;
    for (int32_t i = 0; i < fCount; ++i)
        sum += Elements()[i];
    return sum;
}
double VArrayReal::GetAverage() const
{
    return fCount == 0 ? 0.0 : GetSum() / fCount;
}
double VArrayReal::GetSquareSum() const
{
    if (fCount == 0)
        return 0.0;
    double average = GetAverage();
    double sum = 0.0;
    for (int32_t i = 0; i < fCount; ++i) {
        double d = Elements()[i] - average;
        sum += d * d;
    }
    return sum;
}
double VArrayReal::GetStdDev() const
{
    return fCount == 0 ? 0.0 : std::sqrt(GetSquareSum() / fCount);
}
VValueSingle* VArrayReal::CloneValue(int32_t pos) const
{
    auto* value = new VReal();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayReal::CompareTo(const VValueSingle& value, bool, int32_t pos) const
{
    return CompareNumbers(GetReal(pos), value.GetReal());
}

// --- VArrayTime ---

VArrayTime::VArrayTime(int32_t count) : VArrayScalar(count) {}
VArrayTime::VArrayTime(const VArrayTime& other) : VArrayScalar(0) { Copy(other); }
VArrayTime& VArrayTime::operator=(const VArrayTime& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayTime::GetValueInfo() const { return &sInfo; }
VValue* VArrayTime::Clone() const { return new VArrayTime(*this); }

int32_t VArrayTime::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    VTime time;
    value.GetTime(time);
    return Find(time, start, forward, method);
}
int32_t VArrayTime::Find(const VTime& value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value.GetStamp(), start, forward, method);
}
void VArrayTime::GetTime(VTime& time, int32_t pos) const
{
    if (IsValidPos(pos))
        time.FromStamp(Elements()[pos - 1]);
}
void VArrayTime::FromValue(const VValueSingle& value, int32_t pos)
{
    VTime time;
    value.GetTime(time);
    FromTime(time, pos);
}
void VArrayTime::GetValue(VValueSingle& value, int32_t pos) const
{
    VTime time;
    GetTime(time, pos);
    value.FromTime(time);
}
VValueSingle* VArrayTime::CloneValue(int32_t pos) const
{
    auto* value = new VTime();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayTime::CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const
{
    VTime time;
    GetTime(time, pos);
    return time.CompareTo(value, diacritical);
}

// --- VArrayDuration ---

VArrayDuration::VArrayDuration(int32_t count) : VArrayScalar(count) {}
VArrayDuration::VArrayDuration(const VArrayDuration& other) : VArrayScalar(0) { Copy(other); }
VArrayDuration& VArrayDuration::operator=(const VArrayDuration& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayDuration::GetValueInfo() const { return &sInfo; }
VValue* VArrayDuration::Clone() const { return new VArrayDuration(*this); }

int32_t VArrayDuration::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    VDuration duration;
    value.GetDuration(duration);
    return Find(duration, start, forward, method);
}
int32_t VArrayDuration::Find(const VDuration& value, int32_t start, bool forward, CompareMethod method) const
{
    return FindElement(value.ConvertToMilliseconds(), start, forward, method);
}
void VArrayDuration::GetDuration(VDuration& duration, int32_t pos) const
{
    duration.FromNbMilliseconds(ElementAt(pos));
}
void VArrayDuration::FromValue(const VValueSingle& value, int32_t pos)
{
    VDuration duration;
    value.GetDuration(duration);
    FromDuration(duration, pos);
}
void VArrayDuration::GetValue(VValueSingle& value, int32_t pos) const
{
    VDuration duration;
    GetDuration(duration, pos);
    value.FromDuration(duration);
}
VValueSingle* VArrayDuration::CloneValue(int32_t pos) const
{
    auto* value = new VDuration();
    GetValue(*value, pos);
    return value;
}
CompareResult VArrayDuration::CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const
{
    VDuration duration;
    GetDuration(duration, pos);
    return duration.CompareTo(value, diacritical);
}

}  // namespace bkit
