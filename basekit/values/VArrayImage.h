// VArrayImage.h - the array of images.
//
// This file defines VArrayImage (kind 111), an array of single values of kind
// 12 (images), a kind this system does not register. Its elements live in an
// owned list of value pointers beside the (unused) data block; an entry may be
// empty. The stream form is the count (never a kind header), then each
// element's own stream form, or 8 zero bytes for an empty entry.
//
// Contracts: those of VArrayValue, except that Insert, Delete and
// MoveElements are not defined for images. The count and the list always
// agree. Reading an array that holds elements while kind 12 is not registered
// leaves the array empty and answers VE_UNIMPLEMENTED. Find is not supported
// (0); CompareElements answers CR_UNRELEVANT.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/values/VArrayValue.h"

namespace bkit {

constexpr ValueKind VK_IMAGE = 12;

class VArrayImage : public VArrayValue {
public:
    explicit VArrayImage(int32_t count = 0);
    VArrayImage(const VArrayImage& other);
    VArrayImage& operator=(const VArrayImage& other);
    ~VArrayImage() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_IMAGE; }
    ValueKind GetElemValueKind() const override { return VK_IMAGE; }

    // Dropped entries delete their elements; new entries are empty.
    bool SetCount(int32_t count) override;
    // Not supported: always 0.
    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;

    // Replaces the element at pos by a clone of value; nothing outside 1 to count.
    void FromValue(const VValueSingle& value, int32_t pos) override;
    // Copies the element's null and dirty flags into value; clears value
    // outside 1 to count or for an empty entry.
    void GetValue(VValueSingle& value, int32_t pos) const override;
    // A clone of the element; null outside 1 to count or for an empty entry.
    VValueSingle* CloneValue(int32_t pos) const override;
    // The element itself (owned by the array), or null.
    const VValueSingle* GetImagePtr(int32_t pos) const { return IsValidPos(pos) ? fImages[pos - 1] : nullptr; }

    bool Copy(const VArrayValue& other) override;
    // Deletes the elements of n entries from the 0-based index from and
    // empties the entries.
    void DeleteElements(int32_t from, int32_t n) override;
    // Deletes every element and empties the list (the count becomes 0).
    void DeleteAllElements();
    void Sort(int32_t first, int32_t last, bool descending = false) override;
    void Unsort() override {}

    void SwapElements(uint8_t* data, int32_t i, int32_t j) override;
    CompareResult CompareElements(uint8_t* data, int32_t i, int32_t j) override;

    // The count, then the elements; the tag is not used.
    VError WriteToStream(VStream* stream, int32_t tag = 0) const override;
    VError ReadFromStream(VStream* stream, int32_t tag = 0) override;

    static const VValueInfo_array<VArrayImage, VK_ARRAY_IMAGE, char> sInfo;

protected:
    int32_t DataSizeForCount(int32_t count) const override { (void)count; return 0; }

private:
    std::vector<VValueSingle*> fImages;
};

}  // namespace bkit
