// VArrayString.h - the array of strings.
//
// This file defines VArrayString (kind 109): each slot holds a pointer to a
// VString the array owns, or null for a null element. Null elements order
// before every string. The stream form is the count, then per element the
// marker 2 and the string's own stream form, or the marker 'NULL'.
//
// Contracts: those of VArrayValue. FromString copies the text into the slot's
// string (creating it in an empty slot); GetString of a null element, or of a
// position outside 1 to count, gives an empty text (null for a null element).
// Find skips null elements and compares without diacritics; element ordering
// (CompareElements, hence Sort) compares with diacritics.
#pragma once

#include <cstdint>

#include "basekit/values/VArrayValue.h"

namespace bkit {

class VArrayString : public VArrayValue {
public:
    explicit VArrayString(int32_t count = 0);
    VArrayString(const VArrayString& other);
    VArrayString& operator=(const VArrayString& other);
    ~VArrayString() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    ValueKind GetValueKind() const override { return VK_ARRAY_STRING; }
    ValueKind GetElemValueKind() const override { return VK_STRING; }

    int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                 CompareMethod method = CM_EQUAL) const override;
    virtual int32_t Find(const VString& text, int32_t start = 1, bool forward = true,
                         CompareMethod method = CM_EQUAL) const;
    // Binary search of an ascending array, without diacritics.
    int32_t QuickFind(const VString& text) const;
    virtual void GetString(VString& text, int32_t pos) const;
    void FromString(const VString& text, int32_t pos) override;
    // The element itself (owned by the array), or null.
    const VString* GetStringPtr(int32_t pos) const { return IsValidPos(pos) ? Slots()[pos - 1] : nullptr; }

    void FromValue(const VValueSingle& value, int32_t pos) override;
    void GetValue(VValueSingle& value, int32_t pos) const override;
    VValueSingle* CloneValue(int32_t pos) const override;
    // -1 outside 1 to count and for a null element.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const override;

    // Orders the element pointers themselves, with the order of CompareElements.
    void Sort(int32_t first, int32_t last, bool descending = false) override;

    bool Copy(const VArrayValue& other) override;
    void DeleteElements(int32_t from, int32_t n) override;

    void SwapElements(uint8_t* data, int32_t i, int32_t j) override;
    CompareResult CompareElements(uint8_t* data, int32_t i, int32_t j) override;
    // The pointer sort of Sort on a 0-based range.
    bool SortElementsStably(uint8_t* data, int32_t first, int32_t last, bool descending) override;

    static const VValueInfo_array<VArrayString, VK_ARRAY_STRING, char> sInfo;

protected:
    VError WriteElements(VStream* stream) const override;
    VError ReadElements(VStream* stream) override;

private:
    VString** Slots() const { return reinterpret_cast<VString**>(fData); }
};

}  // namespace bkit
