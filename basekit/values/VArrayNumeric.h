// VArrayNumeric.h - the arrays of plain numbers, dates and durations.
//
// This file defines VArrayScalar, the storage of an array whose elements are
// one plain machine number each (element access, typed search, binary search,
// comparison and exchange of elements, the numeric stream form), and on it the
// arrays of bytes, words, longs, long8s and reals (kinds 101 to 105), of dates
// (107, held as VTime stamps) and of durations (108, held as milliseconds).
//
// Contracts: those of VArrayValue. The number arrays sort their own element
// type (Sort does nothing unless 1 <= first < last <= count); dates and
// durations sort through the multi-key sort. Reals compare as plain doubles,
// without epsilon: a NaN is neither smaller nor greater than any number.
#pragma once

#include <cstdint>
#include <limits>

#include "basekit/values/VArrayValue.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

// Storage of the arrays of one plain number type T per element.
template <class T>
class VArrayScalar : public VArrayValue {
public:
    void SwapElements(uint8_t* data, int32_t i, int32_t j) override
    {
        T* p = reinterpret_cast<T*>(data);
        T t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
    CompareResult CompareElements(uint8_t* data, int32_t i, int32_t j) override
    {
        const T* p = reinterpret_cast<const T*>(data);
        return p[i] < p[j] ? CR_SMALLER : (p[j] < p[i] ? CR_BIGGER : CR_EQUAL);
    }

protected:
    explicit VArrayScalar(int32_t count) : VArrayValue(sizeof(T)) { InitWithCount(count); }

    T* Elements() const { return reinterpret_cast<T*>(fData); }
    // The element at pos, T() outside 1 to count.
    T ElementAt(int32_t pos) const { return IsValidPos(pos) ? Elements()[pos - 1] : T(); }
    void SetElementAt(int32_t pos, T value)
    {
        if (IsValidPos(pos))
            Elements()[pos - 1] = value;
    }

    // The walk of Find over the elements; -1 when the walk finds nothing or
    // start is outside 1 to count.
    int32_t FindElement(T value, int32_t start, bool forward, CompareMethod method) const;
    // Binary search of an ascending array; -1 when not found.
    int32_t QuickFindElement(T value) const;
    // The typed sort of positions first to last.
    void SortElements(int32_t first, int32_t last, bool descending);

    VError WriteElements(VStream* stream) const override;
    VError ReadElements(VStream* stream) override;
};

extern template class VArrayScalar<int8_t>;
extern template class VArrayScalar<int16_t>;
extern template class VArrayScalar<int32_t>;
extern template class VArrayScalar<int64_t>;
extern template class VArrayScalar<uint64_t>;
extern template class VArrayScalar<double>;

// Array of signed 8-bit integers (kind 101).
class VArrayByte : public VArrayScalar<int8_t> {
public:
    explicit VArrayByte(int32_t count = 0);
    VArrayByte(const VArrayByte& other);
    VArrayByte& operator=(const VArrayByte& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_BYTE; }
    ValueKind GetElemValueKind() const override { return VK_BYTE; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(int8_t value, int32_t start = 1, bool forward = true, CompareMethod method = CM_EQUAL) const;
    int32_t QuickFind(int8_t value) const { return QuickFindElement(value); }
    // 0 outside 1 to count.
    virtual int8_t GetByte(int32_t pos) const { return ElementAt(pos); }
    void FromByte(int8_t value, int32_t pos) override { SetElementAt(pos, value); }
    // -128 (GetMax) and 127 (GetMin) for an empty array.
    int8_t GetMax() const;
    int8_t GetMin() const;

    void FromValue(const VValueSingle& value, int32_t pos) override { FromByte(value.GetByte(), pos); }
    void GetValue(VValueSingle& value, int32_t pos) const override { value.FromByte(GetByte(pos)); }
    VValueSingle* CloneValue(int32_t pos) const override;
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;
    void Sort(int32_t first, int32_t last, bool descending = false) override { SortElements(first, last, descending); }

    static const VValueInfo_array<VArrayByte, VK_ARRAY_BYTE, char> sInfo;
};

// Array of signed 16-bit integers (kind 102).
class VArrayWord : public VArrayScalar<int16_t> {
public:
    explicit VArrayWord(int32_t count = 0);
    VArrayWord(const VArrayWord& other);
    VArrayWord& operator=(const VArrayWord& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_WORD; }
    ValueKind GetElemValueKind() const override { return VK_WORD; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(int16_t value, int32_t start = 1, bool forward = true, CompareMethod method = CM_EQUAL) const;
    int32_t QuickFind(int16_t value) const { return QuickFindElement(value); }
    virtual int16_t GetWord(int32_t pos) const { return ElementAt(pos); }
    void FromWord(int16_t value, int32_t pos) override { SetElementAt(pos, value); }
    // -32768 (GetMax) and 32767 (GetMin) for an empty array.
    int16_t GetMax() const;
    int16_t GetMin() const;

    void FromValue(const VValueSingle& value, int32_t pos) override { FromWord(value.GetWord(), pos); }
    void GetValue(VValueSingle& value, int32_t pos) const override { value.FromWord(GetWord(pos)); }
    VValueSingle* CloneValue(int32_t pos) const override;
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;
    void Sort(int32_t first, int32_t last, bool descending = false) override { SortElements(first, last, descending); }

    static const VValueInfo_array<VArrayWord, VK_ARRAY_WORD, short> sInfo;
};

// Array of signed 32-bit integers (kind 103).
class VArrayLong : public VArrayScalar<int32_t> {
public:
    explicit VArrayLong(int32_t count = 0);
    VArrayLong(const VArrayLong& other);
    VArrayLong& operator=(const VArrayLong& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_LONG; }
    ValueKind GetElemValueKind() const override { return VK_LONG; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(int32_t value, int32_t start = 1, bool forward = true, CompareMethod method = CM_EQUAL) const;
    int32_t QuickFind(int32_t value) const { return QuickFindElement(value); }
    virtual int32_t GetLong(int32_t pos) const { return ElementAt(pos); }
    void FromLong(int32_t value, int32_t pos) override { SetElementAt(pos, value); }
    // INT32_MIN (GetMax) and INT32_MAX (GetMin) for an empty array.
    int32_t GetMax() const;
    int32_t GetMin() const;

    void FromValue(const VValueSingle& value, int32_t pos) override { FromLong(value.GetLong(), pos); }
    void GetValue(VValueSingle& value, int32_t pos) const override { value.FromLong(GetLong(pos)); }
    VValueSingle* CloneValue(int32_t pos) const override;
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;
    void Sort(int32_t first, int32_t last, bool descending = false) override { SortElements(first, last, descending); }

    static const VValueInfo_array<VArrayLong, VK_ARRAY_LONG, int> sInfo;
};

// Array of signed 64-bit integers (kind 104).
class VArrayLong8 : public VArrayScalar<int64_t> {
public:
    explicit VArrayLong8(int32_t count = 0);
    VArrayLong8(const VArrayLong8& other);
    VArrayLong8& operator=(const VArrayLong8& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_LONG8; }
    ValueKind GetElemValueKind() const override { return VK_LONG8; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(int64_t value, int32_t start = 1, bool forward = true, CompareMethod method = CM_EQUAL) const;
    int32_t QuickFind(int64_t value) const { return QuickFindElement(value); }
    virtual int64_t GetLong8(int32_t pos) const { return ElementAt(pos); }
    void FromLong8(int64_t value, int32_t pos) override { SetElementAt(pos, value); }

    void FromValue(const VValueSingle& value, int32_t pos) override { FromLong8(value.GetLong8(), pos); }
    void GetValue(VValueSingle& value, int32_t pos) const override { value.FromLong8(GetLong8(pos)); }
    VValueSingle* CloneValue(int32_t pos) const override;
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;
    void Sort(int32_t first, int32_t last, bool descending = false) override { SortElements(first, last, descending); }

    static const VValueInfo_array<VArrayLong8, VK_ARRAY_LONG8, long long> sInfo;
};

// Array of doubles (kind 105), with statistics.
class VArrayReal : public VArrayScalar<double> {
public:
    explicit VArrayReal(int32_t count = 0);
    VArrayReal(const VArrayReal& other);
    VArrayReal& operator=(const VArrayReal& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_REAL; }
    ValueKind GetElemValueKind() const override { return VK_REAL; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(double value, int32_t start = 1, bool forward = true, CompareMethod method = CM_EQUAL) const;
    // Exact equality.
    int32_t QuickFind(double value) const { return QuickFindElement(value); }
    virtual double GetReal(int32_t pos) const { return ElementAt(pos); }
    void FromReal(double value, int32_t pos) override { SetElementAt(pos, value); }

    // Each answers 0 for an empty array.
    double GetSum() const;
    double GetAverage() const;
    // The sum of the squared differences from the average.
    double GetSquareSum() const;
    // The population standard deviation: the square root of GetSquareSum / count.
    double GetStdDev() const;

    void FromValue(const VValueSingle& value, int32_t pos) override { FromReal(value.GetReal(), pos); }
    void GetValue(VValueSingle& value, int32_t pos) const override { value.FromReal(GetReal(pos)); }
    VValueSingle* CloneValue(int32_t pos) const override;
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;
    void Sort(int32_t first, int32_t last, bool descending = false) override { SortElements(first, last, descending); }

    static const VValueInfo_array<VArrayReal, VK_ARRAY_REAL, double> sInfo;
};

// Array of dates (kind 107), each held as the 64-bit stamp of a VTime and
// ordered as an unsigned number.
class VArrayTime : public VArrayScalar<uint64_t> {
public:
    explicit VArrayTime(int32_t count = 0);
    VArrayTime(const VArrayTime& other);
    VArrayTime& operator=(const VArrayTime& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_TIME; }
    ValueKind GetElemValueKind() const override { return VK_TIME; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(const VTime& value, int32_t start = 1, bool forward = true,
                         CompareMethod method = CM_EQUAL) const;
    // Sets time from the element; leaves it untouched outside 1 to count.
    virtual void GetTime(VTime& time, int32_t pos) const;
    void FromTime(const VTime& time, int32_t pos) override { SetElementAt(pos, time.GetStamp()); }

    void FromValue(const VValueSingle& value, int32_t pos) override;
    void GetValue(VValueSingle& value, int32_t pos) const override;
    VValueSingle* CloneValue(int32_t pos) const override;
    // Through VTime's own comparison.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;

    static const VValueInfo_array<VArrayTime, VK_ARRAY_TIME, unsigned long long> sInfo;
};

// Array of durations (kind 108), each held as a count of milliseconds.
class VArrayDuration : public VArrayScalar<int64_t> {
public:
    explicit VArrayDuration(int32_t count = 0);
    VArrayDuration(const VArrayDuration& other);
    VArrayDuration& operator=(const VArrayDuration& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_DURATION; }
    ValueKind GetElemValueKind() const override { return VK_DURATION; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(const VDuration& value, int32_t start = 1, bool forward = true,
                         CompareMethod method = CM_EQUAL) const;
    int32_t QuickFind(const VDuration& value) const { return QuickFindElement(value.ConvertToMilliseconds()); }
    // Sets the milliseconds; 0 outside 1 to count.
    virtual void GetDuration(VDuration& duration, int32_t pos) const;
    void FromDuration(const VDuration& duration, int32_t pos) override
    {
        SetElementAt(pos, duration.ConvertToMilliseconds());
    }

    void FromValue(const VValueSingle& value, int32_t pos) override;
    void GetValue(VValueSingle& value, int32_t pos) const override;
    VValueSingle* CloneValue(int32_t pos) const override;
    // Through VDuration's own comparison.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;

    static const VValueInfo_array<VArrayDuration, VK_ARRAY_DURATION, long long> sInfo;
};

}  // namespace bkit
