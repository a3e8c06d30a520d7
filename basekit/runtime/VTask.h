// VTask.h - the toolbox's unit of execution.
//
// This file defines VTask, a task: either a thread of its own (preemptive
// style) or a fiber scheduled cooperatively by the task manager's fiber
// scheduler. A task has an id (its thread's kernel id for a thread task), a
// name, a state that only moves forward (created, starting, running, dying,
// dead), a message queue, idlers, per-task data slots, its own error stack and
// its own international manager.
//
// Ownership: a task is reference counted. Its creator holds the first reference;
// the task manager's registry holds one more from Run until the task is purged
// after its death, so a running task is never destroyed under its own feet.
// Destroying a task joins its thread; a task that drops the last reference to
// itself on its own thread detaches it instead. Operations named Retain... hand
// the caller a reference.
//
// Thread-safety: state changes are atomic; the calling task is a thread-specific
// value, so the static operations on the calling task need no lock. Operations
// on another task (Kill, WaitForDeath, WakeUp, SetName, GetName) may be called
// from any thread. Operations that need a calling task answer 0, null or false
// on a thread that is no task and before the task manager is initialised.
//
// Fiber-style tasks exist only when the process allows fibers (else they get no
// platform task and Run answers false); they run one at a time, switched by
// VTaskMgr::YieldToFiber and the installed fiber scheduler. The main task is a
// thread task; it takes part in fiber switches through a fiber wrapping its
// thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/IMessageable.h"
#include "basekit/runtime/VDebugContext.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VTime.h"

namespace bkit {

class IIdleable;
class VActivityToken;
class VErrorBase;
class VErrorContext;
class VErrorTaskContext;
class VIntlMgr;
class VJSONObject;
class VMessage;
class VMessageQueue;
class VString;
class VTaskMgr;
class VZanthTask;
class XMacTask;
class XMacTask_preemptive;
class XMacTaskMgr;

enum ETaskStyle : int32_t {
    eTaskStylePreemptive = 1,  // a thread of its own; the main task
    eTaskStyleFiber = 3,       // a fiber under the fiber scheduler
};

enum ETaskState : int32_t {
    TS_CREATED = 0,
    TS_STARTING = 1,
    TS_RUNNING = 2,
    TS_DYING = 3,
    TS_DEAD = 4,
};

// Why a task is blocked; 0 when it is not.
enum ETaskBlockedReason : int32_t {
    eTaskNotBlocked = 0,
    eTaskSleeping = 1,
    eTaskWaitingForMessage = 4,
    eTaskWaitingForAnswer = 5,
    eTaskWaitingForDeath = 8,
};

class VTask : public VObject, public IMessageable, public IRefCountable {
public:
    // A task running function (empty for derived tasks that override DoRun).
    // stackSize 0 lets the task manager decide at start. The platform task is
    // made at once (a waiting thread for the preemptive style); when that fails
    // the error is left on the caller's stack, the id is 0 and Run answers false.
    VTask(size_t stackSize, ETaskStyle style, std::function<void()>&& function);

    // The same with a procedure called with the current task; owner is unused.
    VTask(VObject* owner, size_t stackSize, ETaskStyle style, int (*proc)(VTask*));

    // Adopts the calling thread as the main task (task manager only).
    explicit VTask(VTaskMgr* manager);

    // Releases the platform task (joining a thread that never ran or has ended;
    // never the calling thread), the name, the international manager, the
    // message queue (cancelled), the error stack and the death waiters.
    ~VTask() override;

    VTask(const VTask&) = delete;
    VTask& operator=(const VTask&) = delete;

    // --- work of derived tasks (called on the task itself) ---
    virtual void DoInit();
    virtual void DoDeInit();
    // Answers false to end the task. Default: true.
    virtual bool DoRun();
    virtual void DoIdle();
    // Called when the task is asked to die, on the asking thread.
    virtual void DoPrepareToDie();

    // --- life cycle ---

    // Starts a created task. False when it has no platform task, before the task
    // manager is initialised, when it was already started, or when the platform
    // could not start it (it is dead then).
    bool Run();

    // Asks the task to die: waits while it is starting, calls DoPrepareToDie
    // unless it is dead, and moves it from running to dying.
    void Kill();

    // State dying or dead; ticksSince receives the ticks (1/60 s) since dying
    // began, 0 when not dying.
    bool IsDying(int* ticksSince = nullptr) const;

    // Waits until this task is dead or ms milliseconds have passed, executing
    // the caller's messages meanwhile. False at once for the calling task itself.
    bool WaitForDeath(int ms);

    ETaskState GetState() const { return static_cast<ETaskState>(fState.load(std::memory_order_acquire)); }
    ETaskStyle GetStyle() const { return fStyle; }
    int32_t GetID() const { return fID; }
    XMacTask* GetPlatformTask() const { return fPlatformTask; }
    VTaskMgr* GetManager() const { return fManager; }

    // Blocked reason: set only when it was 0 (answers whether it was set);
    // cleared only when it still holds reason.
    bool SetBlockedReason(ETaskBlockedReason reason);
    void ClearBlockedReason(ETaskBlockedReason reason);
    ETaskBlockedReason GetBlockedReason() const;

    // Sleeps the calling task ms milliseconds (woken early by WakeUp). ms <= 0
    // yields the processor. On a thread that is no task a positive time does
    // nothing (use VSystem::Delay there).
    static void Sleep(int ms);
    // Wakes this task from Sleep or Freeze.
    void WakeUp();

    // Drops the calling task's activity token (a running task keeps the
    // process busy through it); a task that only waits calls it first.
    static void ReleaseCurrentActivityToken();
    // The calling task waits until woken; call it on this task only.
    void Freeze();

    // --- identity ---
    // Keeps a copy of the name; renames the thread when called by the task itself.
    void SetName(const VString& name);
    // The name, empty when unnamed.
    void GetName(VString& name) const;
    // The platform thread id (pthread_t), 0 without platform task.
    uintptr_t GetSystemID() const;
    // The stack size given at construction, else decided by the task manager;
    // cached at the first call.
    size_t GetStackSize();
    // Processor times (seconds) and usage of the task's thread; false without
    // platform task or when the system cannot tell.
    bool GetCPUTimes(double& user, double& system) const;
    bool GetCPUUsage(double& usage) const;
    // The UTC date and time of construction.
    const VTime& GetCreationTime() const { return fCreationTime; }

    // The calling task, without reference; null on a thread that is no task.
    static VTask* GetCurrent();
    // The calling task with a new reference, or null.
    static VTask* RetainCurrent();
    // The main task, without reference; null before the task manager runs.
    static VTask* GetMain();
    static bool IsCurrentMain();
    // The calling task's id; see VTaskMgr::GetCurrentTaskID.
    static int32_t GetCurrentID();

    // --- international manager ---
    // The calling task's manager, else the process's, else null. No reference.
    // A caller without a manager of its own gets the process's through a copy
    // private to its thread, since a manager is never used by two threads.
    static VIntlMgr* GetCurrentIntlManager();
    // Installs manager (retained) in the calling task; null or the same one
    // changes nothing.
    static void SetCurrentIntlManager(VIntlMgr* manager);
    // Installs a new manager for dialect (second argument passed to VIntlMgr::Create).
    static void SetCurrentDialectCode(uint32_t dialect, uint8_t options);
    // This task's manager's dialect; 0 without manager.
    uint32_t GetDialectCode() const;
    // The wildcard of the calling task's manager, else the process's, else '@'.
    static UniChar GetWildChar();
    // This task's manager, without reference.
    VIntlMgr* GetIntlManager() const { return fIntlMgr; }

    // --- error stack (all on the calling task) ---
    // The calling task's error stack, created when create is set; null without task.
    static VErrorTaskContext* GetErrorContext(bool create);
    // Pushes error (retained) on the top level; reports it to the debug manager
    // unless silenced. False without calling task or for null.
    static bool PushError(VErrorBase* error);
    // As PushError, then releases error (the caller's reference is consumed).
    static bool PushRetainedError(VErrorBase* error);
    // Pushes every error of context; a stack is created only for a non-empty one.
    static bool PushErrors(const VErrorContext* context);
    // Empties the top level.
    static void FlushErrors();
    // The newest error's code of the top level, 0 when none.
    static VError GetLastError();
    // The top level holds an out-of-memory error.
    static bool FailedForMemory();

    // --- debug manager state (read and changed by the task itself only) ---
    VDebugContext& GetDebugContext() { return fDebugContext; }

    // --- per-task data (keys from VTaskMgr::CreateDataKey, starting at 1) ---
    // Key 0 and keys beyond the slots read null; setting key 0 does nothing.
    static void* GetCurrentData(size_t key);
    static void SetCurrentData(size_t key, void* value);
    // Calls each value's key destructor and empties the slots.
    void DisposeAllData();

    // --- JSON objects kept alive by the calling task until it exits ---
    static void RegisterJSONObject(VJSONObject* object);
    static void UnregisterJSONObject(VJSONObject* object);

    // --- product task ---
    // Records the product task and its companion reference (retained).
    void SetZanthTask(VZanthTask* task, IRefCountable* companion);
    // The product task; the companion is retained for the caller (release it).
    VZanthTask* RetainZanthTask(IRefCountable** companion) const;

    // --- messages and idlers (defined with the message queue) ---
    // Adds message to this task's queue (created when missing).
    bool AddMessage(VMessage* message);
    // This task's queue, created when missing, retained.
    VMessageQueue* RetainMessageQueue();
    bool IsAnyMessagePending() const;
    // The queue's stamp, 0 without queue.
    uint32_t GetMessageQueueStamp() const;
    // The last message pass was less than 1000 ms ago.
    bool IsResponding() const;
    // Wakes this task's message loop without a message.
    void SetMessageQueueEvent();
    // Cancels target's messages in this task's queue.
    void CancelMessages(IMessageable* target);
    void RegisterIdler(IIdleable* idler);
    void UnregisterIdler(IIdleable* idler);
    void CallIdlers();
    bool _CheckIdleEvents();

    // Executes the calling task's pending messages; answers whether one ran.
    static bool ExecuteMessages(bool allowIdle);
    static bool ExecuteMessagesWithTimeout(int ms, bool allowIdle);
    static VMessage* RetainMessageWithTimeout(int ms);
    static bool WaitAndExecuteMessages(int ms, bool* timedOut);
    static bool WaitAndExecuteMessages();
    static bool _ExecuteMessages(VTask* task, VMessage* first, bool allowIdle);
    static VMessage* _RetainMessageWithTimeout(VTask* task, int ms, bool* timedOut);

    // --- internal: task manager and platform tasks ---
    // Runs the task on its own thread or fiber.
    void _Run();
    // Drops the activity token, moves dying to dead and wakes the death waiters.
    void _SetStateDead();
    // Moves the state from expected to desired; answers whether it did.
    bool _ChangeState(ETaskState expected, ETaskState desired);
    // The main task only: dead by exchange at the manager's DeInit.
    void _ForceStateDead();
    void _SetStackMark(char* mark) { fStackMark = mark; }
    char* _GetStackMark() const { return fStackMark; }
    bool _IsFiber() const { return fIsFiber; }
    // The next task of the registry (task manager only).
    VTask* _GetNextInRegistry() const { return fNext; }
    void _SetNextInRegistry(VTask* next) { fNext = next; }
    void _RecordDyingTicks();

private:
    friend class VTaskMgr;
    friend class XMacTask_preemptive;

    void _InitCommon(size_t stackSize, ETaskStyle style);
    void _Exit();

    XMacTask* fPlatformTask = nullptr;
    int32_t fID = 0;
    ETaskStyle fStyle = eTaskStylePreemptive;
    VTaskMgr* fManager = nullptr;
    std::atomic<int32_t> fState{TS_CREATED};
    std::atomic<int32_t> fBlockedReason{eTaskNotBlocked};
    std::atomic<uint32_t> fDyingTicks{0};
    VTask* fNext = nullptr;
    // Idle passes (message loop): the tick of the last pass and the interval.
    uint32_t fLastIdleTick = 0;
    uint32_t fIdleIntervalTicks = 0;
    char* fStackMark = nullptr;
    std::function<void()> fFunction;
    VString* fName = nullptr;
    std::atomic<VMessageQueue*> fMessageQueue{nullptr};
    std::atomic<uint32_t> fQueueEventStamp{0};
    size_t fStackSize = 0;
    VErrorTaskContext* fErrorContext = nullptr;
    bool fIsFiber = false;
    bool fIsThread = true;
    VDebugContext fDebugContext;
    // Idlers (guarded by the registry mutex) and the flags of an idle pass.
    std::vector<IIdleable*> fIdlers;
    std::atomic<bool> fIdlerListUnchanged{false};
    bool fInIdle = false;
    std::vector<void*> fData;
    VIntlMgr* fIntlMgr = nullptr;
    // Queues (retained) of tasks waiting for this one's death.
    std::vector<VMessageQueue*>* fDeathWaiters = nullptr;
    std::atomic<uint64_t> fLastMessagePassTime{0};
    VZanthTask* fZanthTask = nullptr;
    IRefCountable* fZanthCompanion = nullptr;
    VTime fCreationTime;
    std::set<VJSONObject*> fJSONObjects;
    // Held from Run to death, exchanged atomically: the task drops it itself
    // while its death may be recorded elsewhere.
    std::atomic<VActivityToken*> fActivityToken{nullptr};
};

}  // namespace bkit
