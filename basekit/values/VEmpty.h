// VEmpty.h - the empty value (kind 0).
//
// This file defines VEmpty, the value that holds nothing and is always null, and
// its descriptor VEmpty_info. Every getter answers 0 or clears its destination,
// every setter does nothing, and it compares with nothing (CR_UNRELEVANT). It is
// also the value the plain descriptor of kind 65535 generates.
#pragma once

#include "basekit/values/VValue.h"

namespace bkit {

class VEmpty;

// Descriptor of kind 0: generates and loads new empty values; raw data has no
// bytes, so pointers come back unchanged.
class VEmpty_info : public VValueInfo {
public:
    VEmpty_info() : VValueInfo(VK_EMPTY) {}

    VValue* Generate() const override;
    VValue* Generate(VBlob* blob) const override;
    VValue* LoadFromPtr(const void* data, bool swap) const override;
    void* ByteSwapPtr(void* data, bool fromNative) const override { (void)fromNative; return data; }
};

class VEmpty : public VValueSingle {
public:
    // Null and dirty, for good.
    VEmpty() : VValueSingle(true) {}
    VEmpty(const VEmpty& other) = default;
    VEmpty& operator=(const VEmpty& other) = default;
    ~VEmpty() override = default;

    const VValueInfo* GetValueInfo() const override;
    // A new null empty value.
    VValue* Clone() const override;
    bool CanBeEvaluated() const override { return false; }
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    static const VEmpty_info sInfo;
};

}  // namespace bkit
