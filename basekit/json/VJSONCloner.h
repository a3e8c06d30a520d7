// VJSONCloner.h - deep copies of JSON graphs.
//
// This file defines VJSONCloner, which copies objects and arrays deeply while
// remembering what it has copied: a container reached twice is copied once, so
// shared parts stay shared in the copy and cycles are copied as cycles. A
// cloner serves one copy operation on one task; it holds its clones (one
// reference each) until it is destroyed.
//
// Contracts:
// - The copy takes no stack per level: a container met while another is
//   being filled is made empty at once and filled later from a work list, so
//   any depth is copied on any task.
// - Copies of containers with a storage locker are put under the cloner's one
//   locker (see GetStorageLockerAndAssignIfNecessary) and filled under a use
//   of it: the copy of a shared tree is one new shared tree.
// - The first error stops the copy: the value is then the part copied so far
//   and the error is returned (it is on the task's error stack).
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONContainer;

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
    // A copy made empty, waiting for the values of its source.
    struct Fill {
        const VJSONContainer* source;
        VJSONContainer* copy;
    };

    VError _Clone(const VJSONContainer* source, VJSONValue& value);
    // The copy of source without its values; *fill tells whether it waits for them.
    VError _MakeCopy(const VJSONContainer* source, VJSONValue& copy, bool* fill);
    // Fills the copies waiting, and those their values bring, until none waits.
    VError _FillPending();
    VError _FillArray(const VJSONArray* source, VJSONArray* copy);

    // Source address -> (the source, held so that its address stays unique
    // while it is a key; its clone). The clones hold the copies of fPending.
    std::map<const void*, std::pair<VJSONValue, VJSONValue>> fClones;
    std::vector<Fill> fPending;
    bool fFilling = false;
    VStorageLocker* fLocker = nullptr;
};

}  // namespace bkit
