// VSyncEvent.cpp - the manual-reset event over a mutex and a monotonic condition.
#include "basekit/runtime/VSyncEvent.h"

#include <sched.h>

#include <cerrno>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VTaskMgr.h"

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

bool VSyncEvent::Lock()
{
    pthread_mutex_lock(&fMutex);
    while (!fFlag) pthread_cond_wait(&fCondition, &fMutex);
    pthread_mutex_unlock(&fMutex);
    return true;
}

bool VSyncEvent::Lock(int ms)
{
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
