// VJSONContainer.h - what JSON objects and arrays share: counting, graphs, lockers.
//
// This file defines VJSONContainer, the common base of VJSONObject and
// VJSONArray. It carries the reference count as the cycle collector sees it
// (a member of a graph reports every Retain and Release to the graph), the
// graph the container belongs to, the number of links from graph members that
// point to it, the storage locker of a shared tree and the change stamp.
//
// Contracts:
// - Retain and Release of a container in a shared graph (or with a storage
//   locker) take the process-wide graph lock; otherwise they are atomic
//   counts and the container is used by one task at a time.
// - A Release that leaves a cyclic graph reachable only from inside itself
//   collects the graph (see VJSONGraph).
// - Destruction never recurses: a container freed while another is being freed
//   on the same thread is queued and freed by the outermost one, so arbitrarily
//   deep trees can be dropped on any stack.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "basekit/json/VStorageLocker.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONArray;
class VJSONGraph;
class VJSONObject;
class VJSONValue;

class VJSONContainer : public VObject, public IRefCountable {
public:
    int32_t Retain(const char* label = nullptr) const override;
    int32_t Release(const char* label = nullptr) const override;
    void DoOnRefCountZero() override;

    // The container that value refers to (an object or array), else null.
    static VJSONContainer* ContainerOf(const VJSONValue& value);

    virtual VJSONObject* AsObject() { return nullptr; }
    virtual VJSONArray* AsArray() { return nullptr; }

    // --- shared storage ---
    // The locker (a new reference in the result), null when not shared.
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    // Replaces the locker (retains the new, releases the old) under the graph
    // lock; _SetStorageLocker does the same without it.
    void SetStorageLocker(VStorageLocker* locker);
    void _SetStorageLocker(VStorageLocker* locker);
    VStorageLocker* _GetStorageLocker() const { return fStorageLocker.load(std::memory_order_acquire); }

    // With a locker, or in a graph flagged shared.
    bool IsSharedGraph() const;
    // Flags the container's graph shared (nothing without a graph).
    void MakeGraphShared();
    // 0 without a locker; its id, negated while it is private or accepts any value.
    int32_t GetSharedID() const;

    // Whether the tree under this container may be put under locker.
    bool _CanMakeShared(VStorageLocker* locker) const;
    // Puts locker on this container and every container below it.
    void _SetStorageLockerDeep(VStorageLocker* locker);
    // When this container is shared and value's tree may join, puts the tree
    // under this container's locker, which stops being private.
    void MakeValueSharedIfNecessary(VJSONValue& value);

    // The implementation object of an object may declare it sharable.
    virtual bool _IsSharableByImplementation() const { return false; }

    // --- change stamp ---
    VJSONStamp* GetJSONStamp() const { return fStamp; }
    // Replaces the stamp object (retain new, release old).
    virtual void SetJSONStamp(VJSONStamp* stamp);

    // Empties the container: the links of its values stop counting, then
    // every value is dropped. A cycle left behind is collected only with its
    // graph; prefer the removal operations, which check each dropped link.
    void ClearFromGraph();

    // --- graph (for the collector and tests) ---
    VJSONGraph* _GetGraph() const;
    uint32_t _GetInGraphCount() const { return fInGraphCount; }

    // The containers this one's values refer to, in order, with repeats.
    virtual void _GetChildContainers(std::vector<VJSONContainer*>& out) const = 0;

    // --- helpers of objects, arrays and the collector ---
    // The wrong-task test of a change: false, with code raised, while another
    // task uses the locker.
    bool _CheckWriter(VError code) const;
    // Whether storing value takes the graph lock (a shared container value).
    static bool _NeedsGraphLockFor(const VJSONValue& value);
    // Visits each container reachable from start once (an explicit stack, so
    // depth and cycles do not matter); visit answers whether to go below.
    static void _WalkReachable(VJSONContainer* start, const std::function<bool(VJSONContainer*)>& visit);

protected:
    VJSONContainer() = default;
    ~VJSONContainer() override;

    // Takes the graph lock when this container is shared or in a shared graph.
    bool _NeedsGraphLock() const;

    // Called when the last reference goes, before the graph is left.
    virtual void _WillBeFreed() {}

    // Drops every value without graph bookkeeping (the collector has already
    // taken the container out of its graph).
    virtual void _DropAllValuesForCollection() = 0;

    // The graph bookkeeping of a member that goes away: the links of its
    // values stop counting, it leaves the member set and releases the graph.
    void _LeaveGraph();

    // Records that value (held by the caller) no longer sits inside this
    // container: its links stop counting and the local cycle check runs while
    // the caller still holds it. Call once per removed value, then drop it.
    void _DisconnectValue(const VJSONValue& value);
    // Lowers a link's count without the local check (the caller drops it next).
    static void _ForgetLink(VJSONGraph* graph, VJSONContainer* child);
    // Records that value was just stored inside this container.
    void _ConnectValue(const VJSONValue& value);
    // Records that stored just took the place of old (held by the caller):
    // _ConnectValue, then _DisconnectValue of old as its link was counted.
    void _ReplaceValueLinks(const VJSONValue& stored, const VJSONValue& old);

private:
    friend class VJSONGraph;

    // _DisconnectValue for a link made while this container was in no graph.
    void _DisconnectUncounted(const VJSONValue& value);

    VJSONGraph* fGraph = nullptr;
    uint32_t fInGraphCount = 0;
    std::atomic<VStorageLocker*> fStorageLocker{nullptr};
    VJSONStamp* fStamp = nullptr;
};

}  // namespace bkit
