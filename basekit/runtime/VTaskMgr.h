// VTaskMgr.h - the task manager, its registry mutex and the fiber-scheduler hook.
//
// This file defines VTaskMgr, the process-wide singleton that adopts the thread
// calling Init as the main task, keeps the registry of running tasks, hands out
// task ids, owns the data keys, the delayed messages and the fiber scheduler,
// and answers which task is calling. It also defines XTaskMgrMutexImpl, the
// recursive registry mutex, and IFiberScheduler, the pluggable policy of fiber
// tasks, with its do-nothing default VScheduler_void.
//
// Life cycle: the singleton exists from static initialisation; it is usable
// between Init and DeInit (IsInited). Before Init, GetCurrentTaskID answers 0
// and every operation on the calling task answers 0, null or false.
// Thread-safety: every operation may be called from any thread. The registry,
// ids, data keys, delayed messages, idler lists, death waiters and the scheduler
// pointer are guarded by the registry mutex; calls into tasks that can block are
// made outside it, except in KillAllTasks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/IRefCountable.h"

namespace bkit {

class VMessage;
class VProcess;

// The policy of fiber tasks. WaitFlag returns when *flag no longer equals value
// (the caller rechecks). RunFiber clears proceed when it started the fiber itself.
class IFiberScheduler : public IRefCountable {
public:
    virtual void Yield() = 0;
    virtual void YieldNow() = 0;
    virtual void WaitFlag(int* flag, int value) = 0;
    virtual void WaitFlagWithTimeout(int* flag, int value, int ms) = 0;
    virtual void SetSystemEventPolling(bool on) = 0;
    virtual bool WithSystemEventPolling() const = 0;
    virtual void PollAndExecuteUpdateEvent() = 0;
    virtual void SetDirectUpdate(bool on) = 0;
    virtual void WakeUpSystemEventPolling() = 0;
    virtual bool RequiresSystemEventPolling() = 0;
    virtual bool RunFiber(VTask* task, bool* proceed) = 0;
    virtual void SetSystemCallCFRunloop(bool on) = 0;
    virtual void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool on) = 0;
};

// The default scheduler: does nothing, answers true from WithSystemEventPolling
// and false from RunFiber (leaving proceed set).
class VScheduler_void : public IFiberScheduler {
public:
    void Yield() override {}
    void YieldNow() override {}
    void WaitFlag(int*, int) override {}
    void WaitFlagWithTimeout(int*, int, int) override {}
    void SetSystemEventPolling(bool) override {}
    bool WithSystemEventPolling() const override { return true; }
    void PollAndExecuteUpdateEvent() override {}
    void SetDirectUpdate(bool) override {}
    void WakeUpSystemEventPolling() override {}
    bool RequiresSystemEventPolling() override { return false; }
    bool RunFiber(VTask*, bool*) override { return false; }
    void SetSystemCallCFRunloop(bool) override {}
    void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool) override {}
};

// The registry mutex: recursive across threads. Acquiring waits while another
// thread owns it; the last release clears the owner and wakes one waiter.
// The owner is an atomic word, so a free mutex is taken with one exchange and
// given back with one store; the platform mutex and condition are touched only
// when somebody waits.
class XTaskMgrMutexImpl {
public:
    XTaskMgrMutexImpl() = default;
    XTaskMgrMutexImpl(const XTaskMgrMutexImpl&) = delete;
    XTaskMgrMutexImpl& operator=(const XTaskMgrMutexImpl&) = delete;

    void Lock();
    void Unlock();

private:
    std::mutex fMutex;
    std::condition_variable fCondition;
    // A token of the owning thread, 0 when free.
    std::atomic<uintptr_t> fOwner{0};
    // Changed by the owner only.
    int32_t fCount = 0;
    // Threads inside the waiting road of Lock.
    std::atomic<int32_t> fWaiters{0};
};

class VTaskMgr {
public:
    // The singleton (never null; usable once IsInited).
    static VTaskMgr* Get() { return &sInstance; }
    static bool IsInited() { return sInstanceInited.load(std::memory_order_acquire); }

    // Adopts the calling thread as the main task, then applies "spinlock.prm".
    // Answers whether the manager could be set up. process may be null.
    static bool Init(VProcess* process);
    // Sets the main task dead, releases it and frees the manager's resources.
    static void DeInit();

    // --- tasks and ids ---
    // 0 before Init; the calling task's id; for a thread that is no task its
    // kernel thread id, computed once per thread.
    int32_t GetCurrentTaskID();
    // The calling task (thread-specific value), without reference.
    VTask* GetCurrentTask();
    VTask* GetMainTask() const { return fMainTask; }
    // A thread task's id is its thread's id; other tasks get a recycled or a new
    // negative id; 0 for null or a task without platform task.
    int32_t GetNewTaskID(VTask* task);

    // Lists task (retained) right after the main task.
    void RegisterTask(VTask* task);
    // Unlists and releases dead tasks (only after a death).
    void PurgeDeadTasks();
    // notDyingOnly false: listed tasks running or dying; true: created to running.
    int32_t GetTaskCount(bool notDyingOnly);
    // The first listed task with that id that is not dead, retained; or null.
    VTask* RetainTaskByID(int32_t id);
    VRefPtr<VTask> GetTaskByID(int32_t id);
    // Appends every listed task.
    void GetTasks(std::vector<VRefPtr<VTask>>& tasks);
    // Main task only: asks every other task to die and waits up to ms for them
    // to go. Answers whether only the main task is left.
    bool KillAllTasks(int ms);
    // Number of insertions and removals of the registry so far.
    uint32_t GetRegistryStamp() const { return fRegistryStamp.load(std::memory_order_acquire); }

    // --- stacks ---
    size_t GetStackSizeForMainTask();
    // As set, else min(main stack size, 1 MiB).
    size_t GetDefaultStackSize();
    void SetDefaultStackSize(size_t size);
    // Free bytes below the calling point of the calling task's stack.
    size_t GetCurrentFreeStackSize();

    // --- data keys (1-based) ---
    size_t CreateDataKey(void (*destructor)(void*));
    void DeleteDataKey(size_t key);
    bool CheckDataKey(size_t key);
    // Calls the key destructor of each non-null value (value i has key i + 1).
    void DisposeData(void** first, void** last);

    // --- fiber scheduler (each forwards to the scheduler slot of the same name) ---
    // Retains the new one and releases the old; null is ignored.
    void SetFiberScheduler(IFiberScheduler* scheduler);
    IFiberScheduler* RetainFiberScheduler();
    void Yield();
    // A fiber task yields through the scheduler; any other caller sched_yield.
    void YieldNow();
    void YieldToFiber(VTask* task);
    void CurrentFiberWaitFlag(int* flag, int value);
    void CurrentFiberWaitFlagWithTimeout(int* flag, int value, int ms);
    // A fiber task other than the calling one that is not dead is set dead.
    void FiberStoppedBeingScheduled(VTask* task);
    void SetSystemEventPolling(bool on);
    void WakeUpSystemEventPolling();
    void PollAndExecuteUpdateEvent();
    void SetDirectUpdate(bool on);

    // --- delayed messages (defined with the message queue) ---
    bool RegisterDelayedMessage(VMessage* message, int delayMs);
    void _CheckDelayedMessages();
    void CancelMessages(IMessageable* target);
    // The message loop polls the platform's system messages (never set here).
    bool GetSystemMessagePolling() const { return fPollSystemMessages; }

    // --- registry mutex ---
    XTaskMgrMutexImpl& GetMutex() { return fMutex; }

    // Only the static singleton; zeroed by static initialisation.
    VTaskMgr();
    // Runs DeInit when it was not called.
    ~VTaskMgr();
    VTaskMgr(const VTaskMgr&) = delete;
    VTaskMgr& operator=(const VTaskMgr&) = delete;

private:
    friend class VTask;

    bool _Init(VProcess* process);
    void _DeInit();
    // Unlinks dead tasks under the mutex and hands them back for release.
    void _CollectDeadTasks(std::vector<VTask*>& dead);

    static VTaskMgr sInstance;
    static std::atomic<bool> sInstanceInited;

    VTask* fMainTask = nullptr;
    size_t fMainStackSize = 0;
    size_t fDefaultStackSize = 0;
    XTaskMgrMutexImpl fMutex;
    VProcess* fProcess = nullptr;
    // Delayed messages (retained) and their due ticks, in registration order.
    std::vector<VMessage*> fDelayedMessages;
    std::vector<uint32_t> fDelayedTicks;
    int32_t fLastGeneratedID = 0;
    std::deque<int32_t> fFreeIDs;
    struct DataKey {
        void (*destructor)(void*);
        bool deleted;
    };
    std::vector<DataKey> fDataKeys;
    IFiberScheduler* fFiberScheduler = nullptr;
    bool fPollSystemMessages = false;
    std::atomic<bool> fTaskDied{false};
    std::atomic<uint32_t> fRegistryStamp{0};
};

}  // namespace bkit
