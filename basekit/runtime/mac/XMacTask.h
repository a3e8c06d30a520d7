// XMacTask.h - the platform side of a task.
//
// This file defines XMacTask, the platform object that a VTask owns, and
// XMacTask_preemptive, a task on a joinable thread of its own (or the adopted
// main thread). The thread is created with the task, waits on a semaphore until
// the task runs, runs it and ends; the platform task is destroyed with its
// VTask, which wakes a thread that never ran (it then ends without running the
// task) and joins it. A platform task destroyed on its own thread (a task that
// dropped the last reference to itself) detaches the thread instead of joining
// it. XMacTask_fiber is the platform task of a fiber task: a fiber
// (XMacFiber.h) started by a switch from the task that runs it.
//
// Switching: every platform task can take part in fiber switches through
// GetFiber (a thread task gets a fiber wrapping its thread at its first
// switch, made on its own thread). Fibers of one home task switch among
// themselves only; a thread task is its own home.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "basekit/platform/Semaphore.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VTask;
class XMacFiber;

class XMacTask : public VObject {
public:
    explicit XMacTask(VTask* owner) : fOwner(owner) {}
    ~XMacTask() override;

    // Lets the task start; false when it cannot be started.
    virtual bool Run() = 0;
    // Wakes the task from Sleep or Freeze.
    virtual void WakeUp() = 0;
    // The calling task (this one) waits until woken.
    virtual void Freeze() = 0;
    // The calling task (this one) waits until woken or ms milliseconds passed.
    virtual void Sleep(int ms) = 0;
    // Platform messages handled; none here.
    virtual int CheckSystemMessages() { return 0; }
    // The id that a task of this kind takes: the thread's id, or 0.
    virtual int32_t GetValueForVTaskID() const = 0;
    virtual bool GetCPUUsage(double& usage) const;
    virtual bool GetCPUTimes(double& user, double& system) const;

    // The fiber this task runs on, or null. For a thread task, the fiber of its
    // thread once EnsureFiber made it.
    virtual XMacFiber* GetFiber() const { return fThreadFiber; }
    // The fiber, made for the calling thread when missing; call it on this
    // task's own thread. Null when it cannot be made.
    virtual XMacFiber* EnsureFiber();
    // The task whose fibers this one switches with: itself for a thread task.
    virtual VTask* GetHomeTask() const { return fOwner; }

    pthread_t GetPThread() const { return fPThread; }
    int32_t GetThreadPort() const { return fThreadPort.load(std::memory_order_acquire); }
    size_t GetStackSize() const { return fStackSize; }
    char* GetStackTop() const { return fStackTop; }
    bool IsAdopted() const { return fAdopted; }
    VTask* GetOwner() const { return fOwner; }

protected:
    pthread_t fPThread{};
    std::atomic<int32_t> fThreadPort{0};
    VTask* fOwner;
    size_t fStackSize = 0;
    char* fStackTop = nullptr;
    bool fAdopted = false;
    XMacFiber* fThreadFiber = nullptr;
};

class XMacTask_preemptive : public XMacTask {
public:
    // Adopts the calling thread for the main task.
    static XMacTask_preemptive* CreateMain(VTask* owner);
    // A new thread of stackSize bytes (rounded up to the page size) waiting to
    // run owner; null, with the error on the caller's stack, when it cannot be
    // made.
    static XMacTask_preemptive* Create(VTask* owner, size_t stackSize);

    // Wakes a thread that never ran, joins it (never the calling thread, never
    // the adopted one) and destroys the semaphore.
    ~XMacTask_preemptive() override;

    bool Run() override;
    void WakeUp() override;
    void Freeze() override;
    void Sleep(int ms) override;
    int32_t GetValueForVTaskID() const override { return GetThreadPort(); }

private:
    explicit XMacTask_preemptive(VTask* owner) : XMacTask(owner) {}
    bool _CreateThread(size_t stackSize);
    static void* _ThreadProc(void* self);

    platform::Semaphore fSemaphore;
    // Raised by the new thread once it has told its id.
    platform::Semaphore fStarted;
    bool fThreadCreated = false;
    // Set by the destructor: a waiting thread that never ran ends.
    std::atomic<bool> fAbandoned{false};
};

// A fiber task: its fiber starts at once when the task runs, on a thread of its
// own, and hands the baton back to its home task when it ends.
//
// Waiting: Sleep and Freeze wait until the wait flag moves on from the value it
// had when they were called (a WakeUp before the call is not kept), Sleep at
// most ms milliseconds. With a fiber scheduler installed they wait through it,
// so that the home's other fibers go on; under the default one the fiber's
// thread waits (XMacTaskMgr::FiberWaitsUseScheduler). WakeUp may be called from
// any thread.
class XMacTask_fiber : public XMacTask {
public:
    // The fiber itself is made by Run.
    static XMacTask_fiber* Create(VTask* owner, size_t stackSize);
    ~XMacTask_fiber() override;

    // Called by the task that runs it: makes the fiber and switches to it at
    // once; true when control came back. False when no fiber can be made.
    bool Run() override;
    void WakeUp() override;
    void Freeze() override;
    void Sleep(int ms) override;
    int CheckSystemMessages() override { return 0; }
    // Fiber tasks take recycled or negative ids.
    int32_t GetValueForVTaskID() const override { return 0; }
    XMacFiber* GetFiber() const override { return fFiber; }
    XMacFiber* EnsureFiber() override { return fFiber; }
    VTask* GetHomeTask() const override { return fHome; }

private:
    explicit XMacTask_fiber(VTask* owner);
    void _Entry();
    // Waits until the wait flag leaves value, at most ms milliseconds (ms < 0:
    // no limit).
    void _Wait(int value, int ms);
    int* _WaitWord();

    XMacFiber* fFiber = nullptr;
    VTask* fHome = nullptr;
    std::atomic<int> fWaitFlag{0};
    // The thread wait under the default scheduler: WakeUp raises the flag
    // under the mutex and broadcasts.
    pthread_mutex_t fWaitMutex;
    pthread_cond_t fWaitCondition;
};

}  // namespace bkit
