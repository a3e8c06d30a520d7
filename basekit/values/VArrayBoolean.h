// VArrayBoolean.h - the array of booleans, one bit per element.
//
// This file defines VArrayBoolean (kind 100): element i
// is bit (i - 1) mod 8 of byte (i - 1) / 8 of the block, least significant bit
// first. A non-empty array's block holds (count + 8) / 8 bytes, one byte more
// than the bits need when count is a multiple of 8; the stream form is the
// count followed by those bytes (nothing after the count when the array is
// empty).
//
// Contracts: those of VArrayValue. Bits past the count always read false.
// Unsort does nothing; Find looks for equal elements only, whatever the method.
#pragma once

#include <cstdint>

#include "basekit/values/VArrayValue.h"

namespace bkit {

class VArrayBoolean : public VArrayValue {
public:
    explicit VArrayBoolean(int32_t count = 0);
    VArrayBoolean(const VArrayBoolean& other);
    VArrayBoolean& operator=(const VArrayBoolean& other);

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_BOOLEAN; }
    ValueKind GetElemValueKind() const override { return VK_BOOLEAN; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    // Looks for an element equal to value; the method is not used.
    virtual int32_t Find(uint8_t value, int32_t start = 1, bool forward = true, CompareMethod method = CM_EQUAL) const;
    // False outside 1 to count.
    virtual uint8_t GetBoolean(int32_t pos) const;
    void FromBoolean(uint8_t value, int32_t pos) override;

    void FromValue(const VValueSingle& value, int32_t pos) override { FromBoolean(value.GetBoolean(), pos); }
    void GetValue(VValueSingle& value, int32_t pos) const override { value.FromBoolean(GetBoolean(pos)); }
    VValueSingle* CloneValue(int32_t pos) const override;
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;

    // Nothing unless 1 <= first < last <= count. The whole array is rewritten
    // from its count of true elements (false first when ascending); a part of
    // it goes through the multi-key sort.
    void Sort(int32_t first, int32_t last, bool descending = false) override;
    void Unsort() override {}

    void MoveElements(int32_t from, int32_t to, int32_t n) override;
    void InitElements(int32_t from, int32_t n) override;

    void SwapElements(uint8_t* data, int32_t i, int32_t j) override;
    CompareResult CompareElements(uint8_t* data, int32_t i, int32_t j) override;

    static const VValueInfo_array<VArrayBoolean, VK_ARRAY_BOOLEAN, unsigned char> sInfo;

protected:
    int32_t DataSizeForCount(int32_t count) const override;
    VError WriteElements(VStream* stream) const override;
    VError ReadElements(VStream* stream) override;

private:
    static bool GetBit(const uint8_t* data, int32_t index)
    {
        return (data[index >> 3] >> (index & 7)) & 1;
    }
    static void SetBit(uint8_t* data, int32_t index, bool value)
    {
        if (value)
            data[index >> 3] = static_cast<uint8_t>(data[index >> 3] | (1u << (index & 7)));
        else
            data[index >> 3] = static_cast<uint8_t>(data[index >> 3] & ~(1u << (index & 7)));
    }
};

}  // namespace bkit
