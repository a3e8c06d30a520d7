// VJSONCloner.h - deep copies of JSON graphs.
//
// This file defines VJSONCloner, which copies objects and arrays deeply while
// remembering what it has copied: a container reached twice is copied once, so
// shared parts stay shared in the copy and cycles are copied as cycles. A
// cloner serves one copy operation on one task; it holds its clones (one
// reference each) until it is destroyed.
#pragma once

#include <map>
#include <utility>

#include "basekit/json/VJSONValue.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONCloner : public VObject {
public:
    VJSONCloner() = default;
    ~VJSONCloner() override = default;

    VJSONCloner(const VJSONCloner&) = delete;
    VJSONCloner& operator=(const VJSONCloner&) = delete;

    // An object or array value is replaced by its clone; other kinds stay.
    VError CloneValue(VJSONValue& value);

    // value becomes the clone of source (the one made before when source was
    // met already); a null source gives undefined.
    VError CloneObject(const VJSONObject* source, VJSONValue& value);
    VError CloneArray(const VJSONArray* source, VJSONValue& value);

private:
    // Source address -> (the source, held so that its address stays unique
    // while it is a key; its clone).
    std::map<const void*, std::pair<VJSONValue, VJSONValue>> fClones;
};

}  // namespace bkit
