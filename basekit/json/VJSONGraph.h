// VJSONGraph.h - collection of reference cycles among JSON objects and arrays.
//
// This file defines VJSONGraph, the group of containers linked to each other,
// with the counters that let a release tell whether the group is still
// reachable from outside; StGraphLocker, the scoped holder of the process-wide
// graph lock; and VSharedObjectLocker, the scoped holder of one storage
// locker's critical section.
//
// The collector's invariant, kept by every operation: a graph's total
// references equal the sum of its members' reference counts, and its internal
// links equal the number of values inside members that refer to members (the
// sum of the members' in-graph counts). Every container a member refers to is
// a member. So when total references equal internal links plus one, the
// reference being dropped is the last one from outside and the whole group is
// garbage.
//
// Two checks use this: the group check, run by a release of a member of a
// graph where a link closed a cycle, and the local check, run on a container
// that lost a link, which collects the part of the structure below it when
// that part is a cycle reachable only through the dropped link. Graphs never
// split; a member leaves only when it is freed or collected.
//
// Lock order: the graph lock first, then a storage locker's critical section.
// Counters of a shared graph change only under the graph lock; others belong
// to the one task using the containers. Every walk uses an explicit stack.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONArray;
class VJSONContainer;
class VJSONObject;
class VJSONValue;
class VStorageLocker;

class VJSONGraph : public VObject, public IRefCountable {
public:
    VJSONGraph() = default;
    ~VJSONGraph() override = default;

    // Records a new link from an owner container (ownerObject or ownerArray,
    // the other null) to a value container, after the value was stored.
    static void Connect(VJSONGraph** ownerGraph, VJSONGraph** valueGraph, VJSONObject* ownerObject,
                        VJSONArray* ownerArray, VJSONObject* valueObject, VJSONArray* valueArray);
    // The same with the value container taken from a value (kind 5 or 6;
    // other kinds do nothing).
    static void Connect(VJSONGraph** ownerGraph, const VJSONValue& value, VJSONObject* ownerObject,
                        VJSONArray* ownerArray);

    // Records that a value inside a member of graph no longer refers to its
    // container, then runs the local check on that container. The caller still
    // holds the value.
    static void Disconnect(VJSONGraph* graph, const VJSONValue& value);

    // The local check on a container that lost a link.
    static void ReleaseObjectDependenciesIfNecessary(VJSONObject* object);
    static void ReleaseArrayDependenciesIfNecessary(VJSONArray* array);

    // The group check, run by a member's release while its graph has a cycle;
    // true when the group was collected.
    static bool ReleaseGraphDependenciesIfNecessary(IRefCountable* member);

    // Adds the containers reachable from object or array to this graph (with
    // their reference counts and links); a container already a member ends
    // the walk there, and one of another graph brings its whole graph.
    void CollectReferences(VJSONObject* object, VJSONArray* array);
    void CollectObjectReferences(VJSONObject* object);
    void CollectArrayReferences(VJSONArray* array);

    // --- state, for diagnosis and tests (read under the graph lock when shared) ---
    bool HasCycle() const { return fHasCycle; }
    bool IsShared() const { return fShared.load(std::memory_order_acquire); }
    void SetShared() { fShared.store(true, std::memory_order_release); }
    uint32_t GetTotalReferences() const { return fTotalReferences.load(std::memory_order_relaxed); }
    uint32_t GetInternalLinks() const { return fInternalLinks; }
    using MemberSet = std::unordered_set<VJSONContainer*>;
    const MemberSet& GetMembers() const { return fMembers; }

    // Checks the invariant: the counters against the members' counts and
    // links. For tests and diagnosis; take the graph lock on a shared graph.
    bool CheckInvariant() const;

private:
    friend class VJSONContainer;

    static void _Connect(VJSONContainer* owner, VJSONContainer* value);
    static void _LocalCheck(VJSONContainer* container);
    // Moves every member of from into this graph, with its counters.
    void _Absorb(VJSONGraph* from);
    // Makes container, in no graph, a member with its reference count.
    void _Adopt(VJSONContainer* container);
    // Empties and releases members that the collector took out of their graph.
    static void _EmptyAndRelease(const std::vector<VJSONContainer*>& members);
    void _Collect(VJSONContainer* start, VJSONContainer* expected);

    bool fHasCycle = false;
    std::atomic<bool> fShared{false};
    std::atomic<uint32_t> fTotalReferences{0};
    uint32_t fInternalLinks = 0;
    MemberSet fMembers;
};

// Holds the process-wide graph lock for a scope, when asked to.
class StGraphLocker {
public:
    explicit StGraphLocker(bool lock = true);
    ~StGraphLocker();
    StGraphLocker(const StGraphLocker&) = delete;
    StGraphLocker& operator=(const StGraphLocker&) = delete;

    bool IsLocked() const { return fLocked; }

    // The graph lock, built on first use and kept until the end of the program.
    static VCriticalSection& GetMutex();
    static VCriticalSection* sMutex;

private:
    bool fLocked;
};

// Holds one storage locker's critical section for a scope (null: nothing).
class VSharedObjectLocker {
public:
    explicit VSharedObjectLocker(VStorageLocker* locker);
    ~VSharedObjectLocker();
    VSharedObjectLocker(const VSharedObjectLocker&) = delete;
    VSharedObjectLocker& operator=(const VSharedObjectLocker&) = delete;

private:
    VStorageLocker* fLocker;
};

// The locking of one operation on a container: the graph lock when the
// container is shared or in a shared graph (or force is set), then its
// storage locker's critical section when it has one.
class StContainerLock {
public:
    explicit StContainerLock(const VJSONContainer* container, bool force = false);
    StContainerLock(const StContainerLock&) = delete;
    StContainerLock& operator=(const StContainerLock&) = delete;

private:
    StGraphLocker fGraphLock;
    VSharedObjectLocker fLockerLock;
};

}  // namespace bkit
