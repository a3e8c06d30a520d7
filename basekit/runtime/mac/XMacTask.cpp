// XMacTask.cpp - tasks on joinable threads, started and parked on a semaphore.
#include "basekit/runtime/mac/XMacTask.h"

#include <unistd.h>

#include <cerrno>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacFiber.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"

namespace bkit {

XMacTask::~XMacTask()
{
    delete fThreadFiber;
}

XMacFiber* XMacTask::EnsureFiber()
{
    if (!fThreadFiber)
        fThreadFiber = XMacFiber::CreateFiberForThread();
    return fThreadFiber;
}

bool XMacTask::GetCPUUsage(double& usage) const
{
    int32_t port = GetThreadPort();
    return port != 0 && platform::GetThreadCPUUsage(port, usage);
}

bool XMacTask::GetCPUTimes(double& user, double& system) const
{
    int32_t port = GetThreadPort();
    return port != 0 && platform::GetThreadCPUTimes(port, user, system);
}

XMacTask_preemptive* XMacTask_preemptive::CreateMain(VTask* owner)
{
    XMacTask_preemptive* task = new XMacTask_preemptive(owner);
    if (int error = task->fSemaphore.Create(0); error != 0) {
        _ThrowError(MakeVError(kMACH_SIGNATURE, error));
        delete task;
        return nullptr;
    }
    task->fPThread = pthread_self();
    task->fThreadPort.store(platform::GetCurrentThreadPort(), std::memory_order_release);
    platform::GetCurrentThreadStack(&task->fStackTop, &task->fStackSize);
    task->fAdopted = true;
    XMacTaskMgr::SetCurrentTask(owner);
    return task;
}

XMacTask_preemptive* XMacTask_preemptive::Create(VTask* owner, size_t stackSize)
{
    XMacTask_preemptive* task = new XMacTask_preemptive(owner);
    if (!task->_CreateThread(stackSize)) {
        delete task;
        return nullptr;
    }
    return task;
}

bool XMacTask_preemptive::_CreateThread(size_t stackSize)
{
    if (int error = fSemaphore.Create(0); error != 0) {
        _ThrowError(MakeVError(kMACH_SIGNATURE, error));
        return false;
    }
    if (int error = fStarted.Create(0); error != 0) {
        _ThrowError(MakeVError(kMACH_SIGNATURE, error));
        return false;
    }
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t rounded = (stackSize + page - 1) / page * page;

    pthread_attr_t attr;
    int result = pthread_attr_init(&attr);
    if (result != 0) {
        _ThrowError(MakePOSIXVError(result));
        return false;
    }
    result = pthread_attr_setstacksize(&attr, rounded);
    pthread_t thread{};
    if (result == 0) result = pthread_create(&thread, &attr, &_ThreadProc, this);
    pthread_attr_destroy(&attr);
    if (result != 0) {
        _ThrowError(MakePOSIXVError(result));
        return false;
    }
    fPThread = thread;
    fThreadCreated = true;
    // The task's id is its thread's id, which only the thread can tell.
    fStarted.Wait();
    return true;
}

void* XMacTask_preemptive::_ThreadProc(void* self)
{
    XMacTask_preemptive* platformTask = static_cast<XMacTask_preemptive*>(self);
    platform::GetCurrentThreadStack(&platformTask->fStackTop, &platformTask->fStackSize);
    platformTask->fThreadPort.store(platform::GetCurrentThreadPort(), std::memory_order_release);
    platformTask->fStarted.Signal();

    VTask* task = platformTask->fOwner;
    while (true) {
        platformTask->fSemaphore.Wait();
        // Destroyed before it ran: end without running the task.
        if (platformTask->fAbandoned.load(std::memory_order_acquire)) return nullptr;
        if (task->GetState() == TS_STARTING) break;
        // A wake-up of a task that was not started yet: keep waiting.
    }

    // The registry keeps the task alive until it is dead and purged; after
    // _SetStateDead the task may be destroyed at any time (by a thread that
    // then joins this one), so nothing here touches it afterwards.
    XMacTaskMgr::SetCurrentTask(task);
    task->_Run();
    XMacTaskMgr::SetCurrentTask(nullptr);
    task->_SetStateDead();
    return nullptr;
}

XMacTask_preemptive::~XMacTask_preemptive()
{
    fAbandoned.store(true, std::memory_order_release);
    fSemaphore.Signal();
    if (fThreadCreated && !fAdopted) {
        if (pthread_equal(fPThread, pthread_self()))
            pthread_detach(fPThread);
        else
            pthread_join(fPThread, nullptr);
    }
    fSemaphore.Destroy();
    fStarted.Destroy();
}

bool XMacTask_preemptive::Run()
{
    if (!fThreadCreated) return false;
    fSemaphore.Signal();
    return true;
}

void XMacTask_preemptive::WakeUp()
{
    fSemaphore.Signal();
}

void XMacTask_preemptive::Freeze()
{
    fSemaphore.Wait();
}

void XMacTask_preemptive::Sleep(int ms)
{
    fSemaphore.TimedWait(ms);
}

// --- fiber tasks ---

XMacTask_fiber::XMacTask_fiber(VTask* owner) : XMacTask(owner)
{
    pthread_mutex_init(&fWaitMutex, nullptr);
    platform::InitMonotonicCondition(&fWaitCondition);
}

XMacTask_fiber* XMacTask_fiber::Create(VTask* owner, size_t stackSize)
{
    XMacTask_fiber* task = new XMacTask_fiber(owner);
    task->fStackSize = stackSize;
    return task;
}

XMacTask_fiber::~XMacTask_fiber()
{
    delete fFiber;
    pthread_cond_destroy(&fWaitCondition);
    pthread_mutex_destroy(&fWaitMutex);
}

void XMacTask_fiber::_Entry()
{
    // The thread keeps its own data at the top of its stack and rounds the
    // size up, so only the thread's real bounds tell depth guards the truth.
    platform::GetCurrentThreadStack(&fStackTop, &fStackSize);
    fPThread = pthread_self();
    fThreadPort.store(platform::GetCurrentThreadPort(), std::memory_order_release);
    VTask* task = fOwner;
    // Read before the death: once dead, the home task may destroy this task.
    XMacFiber* homeFiber = fHome->GetPlatformTask()->GetFiber();
    XMacTaskMgr::SetCurrentTask(task);
    task->_Run();
    XMacTaskMgr::SetCurrentTask(nullptr);
    task->_SetStateDead();
    homeFiber->WakeUp();
}

bool XMacTask_fiber::Run()
{
    VTask* caller = VTask::GetCurrent();
    XMacTask* callerTask = caller ? caller->GetPlatformTask() : nullptr;
    XMacFiber* callerFiber = callerTask ? callerTask->EnsureFiber() : nullptr;
    if (!callerFiber || fFiber)
        return false;
    fHome = callerTask->GetHomeTask();
    fFiber = XMacFiber::Create(fStackSize, [this] { _Entry(); });
    if (!fFiber)
        return false;
    XMacFiber::YieldTo(callerFiber, fFiber);
    return true;
}

int* XMacTask_fiber::_WaitWord()
{
    // The scheduler watches a plain int; the flag is a lock-free atomic int
    // with the same representation.
    static_assert(sizeof(fWaitFlag) == sizeof(int) && std::atomic<int>::is_always_lock_free);
    return reinterpret_cast<int*>(&fWaitFlag);
}

void XMacTask_fiber::WakeUp()
{
    pthread_mutex_lock(&fWaitMutex);
    fWaitFlag.fetch_add(1, std::memory_order_acq_rel);
    pthread_cond_broadcast(&fWaitCondition);
    pthread_mutex_unlock(&fWaitMutex);
    VTaskMgr::Get()->YieldNow();
}

void XMacTask_fiber::_Wait(int value, int ms)
{
    auto unchanged = [&] { return fWaitFlag.load(std::memory_order_acquire) == value; };
    if (!XMacTaskMgr::FiberWaitsUseScheduler()) {
        pthread_mutex_lock(&fWaitMutex);
        if (ms < 0) {
            while (unchanged()) pthread_cond_wait(&fWaitCondition, &fWaitMutex);
        } else {
            const struct timespec deadline = platform::MonotonicDeadline(ms);
            while (unchanged()) {
                if (platform::CondTimedWaitUntil(&fWaitCondition, &fWaitMutex, deadline) == ETIMEDOUT) break;
            }
        }
        pthread_mutex_unlock(&fWaitMutex);
        return;
    }
    // The scheduler may hand the baton back before the flag moved or the time
    // ran out; the caller is the one to recheck.
    VTaskMgr* manager = VTaskMgr::Get();
    const uint64_t deadline = VSystem::GetCurrentTime() + static_cast<uint64_t>(ms > 0 ? ms : 0);
    while (unchanged()) {
        if (ms < 0) {
            manager->CurrentFiberWaitFlag(_WaitWord(), value);
            continue;
        }
        const uint64_t now = VSystem::GetCurrentTime();
        if (now >= deadline) break;
        manager->CurrentFiberWaitFlagWithTimeout(_WaitWord(), value, static_cast<int>(deadline - now));
    }
}

void XMacTask_fiber::Freeze()
{
    _Wait(fWaitFlag.load(std::memory_order_acquire), -1);
}

void XMacTask_fiber::Sleep(int ms)
{
    _Wait(fWaitFlag.load(std::memory_order_acquire), ms > 0 ? ms : 0);
}

}  // namespace bkit
