// VSyncEvent.cpp - the manual-reset event over a mutex and a monotonic condition.
#include "basekit/runtime/VSyncEvent.h"

#include <sched.h>

#include <cerrno>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"

namespace bkit {

VSyncEvent::VSyncEvent()
{
    pthread_mutex_init(&fMutex, nullptr);
    platform::InitMonotonicCondition(&fCondition);
}

VSyncEvent::~VSyncEvent()
{
    // A waiter still inside the condition keeps it busy: wake it until it leaves.
    while (pthread_cond_destroy(&fCondition) == EBUSY) {
        pthread_cond_broadcast(&fCondition);
        sched_yield();
    }
    pthread_mutex_destroy(&fMutex);
}

void VSyncEvent::Set()
{
    pthread_mutex_lock(&fMutex);
    fFlag = 1;
    pthread_cond_broadcast(&fCondition);
    pthread_mutex_unlock(&fMutex);
    fStamp.fetch_add(1, std::memory_order_acq_rel);
    if (fFiberWaiters.load(std::memory_order_acquire) > 0 && VTaskMgr::IsInited())
        VTaskMgr::Get()->WakeUpSystemEventPolling();
}

void VSyncEvent::Reset()
{
    pthread_mutex_lock(&fMutex);
    fFlag = 0;
    pthread_mutex_unlock(&fMutex);
}

bool VSyncEvent::IsSet() const
{
    pthread_mutex_lock(&fMutex);
    bool set = fFlag != 0;
    pthread_mutex_unlock(&fMutex);
    return set;
}

namespace {

// A fiber task waits through the fiber scheduler instead of blocking its thread,
// which would block every fiber of its home. Under the default scheduler,
// which switches nothing, it blocks its thread as a thread task does: each
// fiber here is a thread of its own, and looping on a scheduler that returns
// at once would only burn the processor.
bool CallerWaitsAsFiber()
{
    if (!VTaskMgr::IsInited()) return false;
    VTask* task = VTask::GetCurrent();
    return task && task->_IsFiber() && XMacTaskMgr::FiberWaitsUseScheduler();
}

}  // namespace

int* VSyncEvent::_StampWord()
{
    // The scheduler watches a plain int; the stamp is a lock-free 32-bit atomic
    // with the same representation.
    static_assert(sizeof(fStamp) == sizeof(int) && std::atomic<uint32_t>::is_always_lock_free);
    return reinterpret_cast<int*>(&fStamp);
}

bool VSyncEvent::_FiberLock()
{
    fFiberWaiters.fetch_add(1, std::memory_order_acq_rel);
    int stamp = static_cast<int>(GetStamp());
    while (!IsSet()) {
        VTaskMgr::Get()->CurrentFiberWaitFlag(_StampWord(), stamp);
        stamp = static_cast<int>(GetStamp());
    }
    fFiberWaiters.fetch_sub(1, std::memory_order_acq_rel);
    return true;
}

bool VSyncEvent::_FiberLock(int ms)
{
    if (IsSet()) return true;
    fFiberWaiters.fetch_add(1, std::memory_order_acq_rel);
    const uint64_t deadline = VSystem::GetCurrentTime() + static_cast<uint64_t>(ms > 0 ? ms : 0);
    // The stamp is read before the flag, so that a set in between changes the
    // stamp the scheduler watches. The scheduler may come back early, whether
    // the stamp moved or not: only the flag and the deadline end the wait.
    int stamp = static_cast<int>(GetStamp());
    while (!IsSet()) {
        const uint64_t now = VSystem::GetCurrentTime();
        if (now >= deadline) break;
        VTaskMgr::Get()->CurrentFiberWaitFlagWithTimeout(_StampWord(), stamp, static_cast<int>(deadline - now));
        stamp = static_cast<int>(GetStamp());
    }
    fFiberWaiters.fetch_sub(1, std::memory_order_acq_rel);
    return IsSet();
}

bool VSyncEvent::Lock()
{
    if (CallerWaitsAsFiber()) return _FiberLock();
    pthread_mutex_lock(&fMutex);
    while (!fFlag) pthread_cond_wait(&fCondition, &fMutex);
    pthread_mutex_unlock(&fMutex);
    return true;
}

bool VSyncEvent::Lock(int ms)
{
    if (CallerWaitsAsFiber()) return _FiberLock(ms);
    pthread_mutex_lock(&fMutex);
    if (ms >= 1 && !fFlag) {
        // One deadline for the whole wait: a spurious wake-up waits on for the rest.
        struct timespec deadline = platform::MonotonicDeadline(ms);
        while (!fFlag) {
            if (platform::CondTimedWaitUntil(&fCondition, &fMutex, deadline) == ETIMEDOUT) break;
        }
    }
    bool set = fFlag != 0;
    pthread_mutex_unlock(&fMutex);
    return set;
}

}  // namespace bkit
