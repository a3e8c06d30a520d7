// VCriticalSection.cpp - the task-owned recursive lock.
#include "basekit/runtime/VCriticalSection.h"

#include <sched.h>

#include "basekit/runtime/VSyncEvent.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"

namespace bkit {

namespace {

inline int32_t CallerID()
{
    if (VTaskMgr::IsInited()) {
        if (VTask* task = XMacTaskMgr::GetCurrentTask()) return task->GetID();
    }
    return XMacTaskMgr::GetCurrentForeignTaskID();
}

// Every acquire strategy begins with one attempt; making it here saves the
// indirect call on the uncontended path.
inline void AcquireWord(SpinLockWord* word)
{
    if (!SpinLock::TryLock(word)) SpinLock::Lock(word);
}

// The release in force is always ClearBit. A critical section's own word never
// has another bit set, so clearing bit 31 is a release store of 0; that saves
// the indirect call and the reload of the word on the uncontended path.
inline void ReleaseWord(SpinLockWord* word)
{
    if (SpinLock::Unlock == &SpinLock::ClearBit)
        word->store(0, std::memory_order_release);
    else
        SpinLock::Unlock(word);
}

}  // namespace

int32_t VCriticalSection::GetCurrentOwnerID()
{
    // Before the task manager runs every thread has id 0, which would let two
    // threads own the lock at once; the thread's own id is used instead. It is
    // also what the task manager answers later for this thread (a thread task's
    // id is its thread id), so ownership stays consistent across Init.
    return CallerID();
}

VCriticalSection::~VCriticalSection()
{
    while (fCount > 0) Unlock();
}

bool VCriticalSection::Lock()
{
    const int32_t caller = CallerID();
    AcquireWord(&fWord);
    while (true) {
        if (fCount == 0) {
            fOwner = caller;
            fCount = 1;
            ReleaseWord(&fWord);
            return true;
        }
        if (fOwner == caller) {
            ++fCount;
            ReleaseWord(&fWord);
            return true;
        }
        if (fEvent) {
            // Wait on the current event with our own reference: the last Unlock
            // detaches and sets it, and we contend again.
            VSyncEvent* event = fEvent;
            event->Retain();
            ReleaseWord(&fWord);
            event->Lock();
            event->Release();
            AcquireWord(&fWord);
            continue;
        }
        // No event yet: make one outside the word (allocation may block).
        ReleaseWord(&fWord);
        VSyncEvent* fresh = new VSyncEvent;
        AcquireWord(&fWord);
        if (fCount == 0) {
            fOwner = caller;
            fCount = 1;
            ReleaseWord(&fWord);
            fresh->Release();
            return true;
        }
        if (!fEvent) {
            fEvent = fresh;  // the lock keeps this reference
            continue;
        }
        // Another waiter installed one first.
        ReleaseWord(&fWord);
        fresh->Release();
        if (SpinLock::yieldAfterCheckEvent) sched_yield();
        AcquireWord(&fWord);
    }
}

bool VCriticalSection::TryToLock()
{
    const int32_t caller = CallerID();
    bool taken = false;
    AcquireWord(&fWord);
    if (fCount == 0) {
        fOwner = caller;
        fCount = 1;
        taken = true;
    } else if (fOwner == caller) {
        ++fCount;
        taken = true;
    }
    ReleaseWord(&fWord);
    return taken;
}

bool VCriticalSection::Unlock()
{
    VSyncEvent* released = nullptr;
    AcquireWord(&fWord);
    if (fCount > 0 && --fCount == 0) {
        fOwner = 0;
        released = fEvent;
        fEvent = nullptr;
    }
    ReleaseWord(&fWord);
    if (released) {
        released->Set();
        released->Release();
    }
    return true;
}

int32_t VCriticalSection::GetOwner() const
{
    AcquireWord(&fWord);
    int32_t owner = fOwner;
    ReleaseWord(&fWord);
    return owner;
}

int32_t VCriticalSection::GetUseCount() const
{
    AcquireWord(&fWord);
    int32_t count = fCount;
    ReleaseWord(&fWord);
    return count;
}

}  // namespace bkit
