// VCriticalSection.h - the recursive lock of the toolbox.
//
// This file defines VCriticalSection, the lock every area takes, and StLocker,
// the scoped holder of any lock with Lock and Unlock. A critical section is
// owned by a task id, not by a thread, so a fiber task keeps it across thread
// switches; a thread that is no task locks under its own thread id. The owner
// may lock again (recursion); each Lock is paired with one Unlock, and Unlock
// does not check the caller (callers pair them). The fields are guarded by the
// process-wide spin-lock word, never held across a wait: a contended caller
// waits on an event that the last Unlock sets, so every waiter wakes and
// contends again. A critical section is neither copyable nor movable.
#pragma once

#include <cstdint>

#include "basekit/runtime/VSpinLock.h"

namespace bkit {

class VSyncEvent;

class VCriticalSection {
public:
    VCriticalSection() = default;
    // Releases every level still held, waking any waiter.
    ~VCriticalSection();

    VCriticalSection(const VCriticalSection&) = delete;
    VCriticalSection& operator=(const VCriticalSection&) = delete;

    // Blocks until the calling task owns the lock, one level more. Answers true.
    bool Lock();

    // Takes the lock when it is free or already the caller's (one level more);
    // false, nothing changed, when another task holds it.
    bool TryToLock();

    // Releases one level. The last level frees the lock and wakes every waiter.
    // Answers true.
    bool Unlock();

    // The owner's id, 0 when free, and the recursion count. For diagnostics and
    // tests: stale as soon as they are read by anyone but the owner.
    int32_t GetOwner() const;
    int32_t GetUseCount() const;

    // The id that the calling thread locks under: its task id, or its thread id
    // for a thread that is no task (also before the task manager runs). Never 0.
    static int32_t GetCurrentOwnerID();

private:
    VSyncEvent* fEvent = nullptr;
    int32_t fOwner = 0;
    int32_t fCount = 0;
    mutable SpinLockWord fWord{0};
};

// Holds a lock of type T (VCriticalSection, the task manager's registry mutex)
// for a scope.
template <class T>
class StLocker {
public:
    explicit StLocker(T* lock) : fLock(lock) { if (fLock) fLock->Lock(); }
    explicit StLocker(T& lock) : fLock(&lock) { fLock->Lock(); }
    ~StLocker() { if (fLock) fLock->Unlock(); }
    StLocker(const StLocker&) = delete;
    StLocker& operator=(const StLocker&) = delete;

private:
    T* fLock;
};

}  // namespace bkit
