// VCriticalSection.cpp - the task-owned recursive lock.
#include "basekit/runtime/VCriticalSection.h"

#include <sched.h>
#include <sys/single_threaded.h>

#include "basekit/runtime/VSyncEvent.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"

namespace bkit {

namespace {

inline int32_t CallerID()
{
    if (VTaskMgr::IsInited()) {
        if (int32_t id = XMacTaskMgr::GetCurrentTaskID(); id != 0) return id;
    }
    return XMacTaskMgr::GetCurrentForeignTaskID();
}

// While the process has a single thread nobody else can hold or even read a
// critical section's word, so it is taken and released with plain stores, as
// the C library does for its own mutexes. The flag only goes from true to false,
// and only when the one thread starts another, which orders everything it did
// before; every later acquire and release then goes through the atomic road.
inline bool SingleThreaded()
{
    return __libc_single_threaded != 0;
}

// Tells the processor that this thread is spinning.
inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// A critical section holds its word for a few instructions only, never across
// a call that can block. A caller that finds it held watches it for a short
// while before handing over to the strategy in force, whose yields are system
// calls that cost far more than the wait for such a short hold.
constexpr int kWordWatches = 128;

bool WatchAndTryWord(SpinLockWord* word)
{
    for (int i = 0; i < kWordWatches; ++i) {
        CpuRelax();
        if (!(word->load(std::memory_order_relaxed) & SpinLock::kHeldBit) && SpinLock::TryLock(word)) return true;
    }
    return false;
}

// Every acquire strategy begins with one attempt; making it here saves the
// indirect call on the uncontended path.
inline void AcquireWord(SpinLockWord* word)
{
    if (SingleThreaded()) {
        word->store(SpinLock::kHeldBit, std::memory_order_relaxed);
        return;
    }
    if (!SpinLock::TryLock(word) && !WatchAndTryWord(word)) SpinLock::Lock(word);
}

// The release in force is always ClearBit. A critical section's own word never
// has another bit set, so clearing bit 31 is a release store of 0; that saves
// the indirect call and the reload of the word on the uncontended path.
inline void ReleaseWord(SpinLockWord* word)
{
    if (SpinLock::Unlock == &SpinLock::ClearBit || SingleThreaded())
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
