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
#include "basekit/json/VStorageLocker.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONCloner : public VObject {
public:
    VJSONCloner() = default;
    ~VJSONCloner() override;

    VJSONCloner(const VJSONCloner&) = delete;
    VJSONCloner& operator=(const VJSONCloner&) = delete;

    // An object or array value is replaced by its clone; other kinds stay.
    VError CloneValue(VJSONValue& value);

    // value becomes the clone of source (the one made before when source was
    // met already); a null source gives undefined.
    VError CloneObject(const VJSONObject* source, VJSONValue& value);
    VError CloneArray(const VJSONArray* source, VJSONValue& value);

    // The one locker that clones of shared containers are placed under: made
    // at first need (as a new shared object's), made public when it was
    // private. No reference for the caller.
    VStorageLocker* GetStorageLockerAndAssignIfNecessary();
    // Replaces the locker (the new one retained, the old one released).
    void SetStorageLocker(VStorageLocker* locker);

private:
    // Source address -> (the source, held so that its address stays unique
    // while it is a key; its clone).
    std::map<const void*, std::pair<VJSONValue, VJSONValue>> fClones;
    VStorageLocker* fLocker = nullptr;
};

}  // namespace bkit
