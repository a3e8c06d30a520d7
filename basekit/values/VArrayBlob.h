// VArrayBlob.h - the array of blobs.
//
// This file defines VArrayBlob (kind 110): each slot holds a pointer to a
// VBlobWithPtr the array owns, or null for an empty slot. Empty slots order
// before every blob. The stream form is the count, then each element's blob
// stream form; an empty slot is written as an empty blob, so that every
// element has one form to read back.
//
// Contracts: those of VArrayValue. Only blob values go into the array:
// FromValue ignores values of other kinds. Find is not supported (-1).
#pragma once

#include <cstdint>

#include "basekit/values/VArrayValue.h"

namespace bkit {

class VBlobWithPtr;

class VArrayBlob : public VArrayValue {
public:
    explicit VArrayBlob(int32_t count = 0);
    VArrayBlob(const VArrayBlob& other);
    VArrayBlob& operator=(const VArrayBlob& other);
    ~VArrayBlob() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_BLOB; }
    ValueKind GetElemValueKind() const override { return VK_BLOB; }

    // Not supported: always -1.
    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    // The element itself (owned by the array), or null.
    const VBlobWithPtr* GetBlobPtr(int32_t pos) const { return IsValidPos(pos) ? Slots()[pos - 1] : nullptr; }

    // Copies a blob value into the slot (a new blob in an empty slot).
    void FromValue(const VValueSingle& value, int32_t pos) override;
    // Copies the element into the target with its FromValueSameKind; clears
    // the target outside 1 to count or for an empty slot.
    void GetValue(VValueSingle& value, int32_t pos) const override;
    // A new VBlobWithPtr (empty for an empty slot); null outside 1 to count.
    VValueSingle* CloneValue(int32_t pos) const override;
    // -1 outside 1 to count and for an empty slot.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;

    bool Copy(const VArrayValue& other) override;
    void DeleteElements(int32_t from, int32_t n) override;

    void SwapElements(uint8_t* data, int32_t i, int32_t j) override;
    CompareResult CompareElements(uint8_t* data, int32_t i, int32_t j) override;

    static const VValueInfo_array<VArrayBlob, VK_ARRAY_BLOB, char> sInfo;

protected:
    VError WriteElements(VStream* stream) const override;
    VError ReadElements(VStream* stream) override;

private:
    VBlobWithPtr** Slots() const { return reinterpret_cast<VBlobWithPtr**>(fData); }
};

}  // namespace bkit
