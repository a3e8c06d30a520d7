// XMacTask.cpp - tasks on joinable threads, started and parked on a semaphore.
#include "basekit/runtime/mac/XMacTask.h"

#include <unistd.h>

#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VErrorBase.h"
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

XMacTask_fiber* XMacTask_fiber::Create(VTask* owner, size_t stackSize)
{
    XMacTask_fiber* task = new XMacTask_fiber(owner);
    task->fStackSize = stackSize;
    return task;
}

XMacTask_fiber::~XMacTask_fiber()
{
    delete fFiber;
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

void XMacTask_fiber::WakeUp()
{
    ++fWaitFlag;
    VTaskMgr::Get()->YieldNow();
}

void XMacTask_fiber::Freeze()
{
    VTaskMgr::Get()->CurrentFiberWaitFlag(&fWaitFlag, fWaitFlag);
}

void XMacTask_fiber::Sleep(int ms)
{
    VTaskMgr::Get()->CurrentFiberWaitFlagWithTimeout(&fWaitFlag, fWaitFlag, ms);
}

}  // namespace bkit
