// VStorageLocker.h - the lock of a JSON tree shared between tasks.
//
// This file defines VStorageLocker, the reference-counted, task-recursive lock
// that every object and array of a shared graph points to; VJSONUser, the
// scoped use of such a tree; and VJSONStamp, the reference-counted change
// counter that a container may carry.
//
// Contracts:
// - A locker is free (owner 0) or used by one task, which may use it again
//   (each Use paired with one EndUse). Use blocks on the calling task's message
//   queue, so the waiting task keeps executing its messages; it answers false
//   only when the waiting task is being killed.
// - The locker's critical section guards one operation on the tree and is
//   always taken after the process-wide graph lock (StGraphLocker); never wait
//   for a use while holding either.
// - A private locker was made for one new container and has joined no graph;
//   the first value that joins a graph through it makes it public.
// - Changes of a shared tree demand that the calling task uses its locker:
//   objects raise 'QNRT' -10719, arrays -10720 otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONArray;
class VJSONContainer;
class VJSONObject;
class VJSONValue;
class VTask;

class VStorageLocker : public VObject, public IRefCountable {
public:
    // A free locker with the next id. acceptAny is the first mode flag: any
    // value may then be assigned into the graph without checks.
    explicit VStorageLocker(bool isPrivate = false, bool acceptAny = false);
    ~VStorageLocker() override;

    VStorageLocker(const VStorageLocker&) = delete;
    VStorageLocker& operator=(const VStorageLocker&) = delete;

    // Blocks until the calling task owns the locker, then counts one use more.
    // False, without an error, when the waiting task is being killed.
    bool Use();
    // As Use without waiting: false when another task owns the locker or its
    // critical section is busy.
    bool TryToUse();
    // One use less when the calling task is the owner (nothing otherwise); the
    // last one frees the locker and wakes every waiting task.
    void EndUse();

    // The calling task uses this locker (or it is free and nobody else does).
    bool IsFreeOrUsedByCurrentTask() const;
    // The owner task id (0 when free) and its use count; stale once read.
    uint32_t GetOwner() const;
    int32_t GetUseCount() const;

    uint32_t GetID() const { return fID; }
    bool IsPrivate() const { return fPrivate.load(std::memory_order_acquire); }
    void SetPrivate(bool isPrivate) { fPrivate.store(isPrivate, std::memory_order_release); }
    bool AcceptsAnyValue() const { return fAcceptAny; }

    // The id as a shared id: negated while private or accepting any value.
    int32_t GetSharedID() const;

    // The critical section of one operation (taken after the graph lock).
    VCriticalSection& GetCriticalSection() { return fMutex; }

    // Decides whether value (an object or array; other kinds are accepted) may
    // be stored into container, whose locker is containerLocker, and adjusts
    // the lockers: a private locker on either side joins the other's graph.
    // Raises 'QNRT' -10721, -10724, -10725 or -10753 and answers false when
    // the value may not join. Called under the graph lock.
    static bool Assign(VJSONContainer* container, VStorageLocker* containerLocker, const VJSONValue& value);
    static bool Assign(VJSONContainer* container, VStorageLocker* containerLocker, VJSONContainer* value,
                       VStorageLocker* valueLocker);

    // The next id to hand out (post-incremented atomically).
    static std::atomic<uint32_t> sNextID;

private:
    std::set<VTask*> fWaiters;
    mutable VCriticalSection fMutex;
    uint32_t fOwner = 0;
    int32_t fUseCount = 0;
    const uint32_t fID;
    const bool fAcceptAny;
    std::atomic<bool> fPrivate;
};

// A reference-counted change counter; wraps at 2^32.
class VJSONStamp : public VObject, public IRefCountable {
public:
    VJSONStamp() = default;
    uint32_t GetStamp() const { return fStamp.load(std::memory_order_relaxed); }
    void Increment() { fStamp.fetch_add(1, std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> fStamp{0};
};

// A scoped use of a shared tree: Use (or TryToUse) at construction, EndUse at
// destruction when the use was obtained. Nothing to lock counts as obtained.
class VJSONUser : public VObject {
public:
    VJSONUser(VStorageLocker* locker, bool tryOnly);
    VJSONUser(const VJSONObject* object, bool tryOnly);
    VJSONUser(const VJSONArray* array, bool tryOnly);
    VJSONUser(const VJSONValue& value, bool tryOnly);
    ~VJSONUser() override;

    VJSONUser(const VJSONUser&) = delete;
    VJSONUser& operator=(const VJSONUser&) = delete;

    bool IsInUse() const { return fInUse; }
    VStorageLocker* GetLocker() const { return fLocker; }

private:
    void _Start(bool tryOnly);
    void _TakeLockerOf(const VJSONContainer* container);

    VStorageLocker* fLocker = nullptr;
    bool fInUse = false;
};

}  // namespace bkit
