// VTask.cpp - construction, life cycle, identity and per-task services of tasks.
#include "basekit/runtime/VTask.h"

#include <sched.h>

#include <algorithm>

#include "basekit/json/VJSONObject.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VDebugMgr.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VMessageQueue.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacTask.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

// The process's international manager, null before the process made one.
VIntlMgr* GetProcessIntlMgr()
{
    VProcess* process = VProcess::sInstance;
    return process ? process->GetIntlMgr() : nullptr;
}

// A new task starts with its own copy of the process's manager, so that no
// collator is shared between tasks.
VIntlMgr* CloneProcessIntlMgr()
{
    VIntlMgr* manager = GetProcessIntlMgr();
    return manager ? manager->Clone() : nullptr;
}

// The process's manager for a caller without one of its own (a thread that is
// no task, or a task made before the process had a manager). A manager is not
// locked, so callers on different threads must not share one: each thread
// gets its own copy of the process's, made at its first call and released
// when the thread ends.
VIntlMgr* ThreadCopyOfProcessIntlMgr()
{
    VIntlMgr* source = GetProcessIntlMgr();
    if (!source) return nullptr;
    struct ThreadCopy {
        const VIntlMgr* source = nullptr;
        VIntlMgr* copy = nullptr;
        ~ThreadCopy()
        {
            if (copy) copy->Release();
        }
    };
    thread_local ThreadCopy sCopy;
    if (sCopy.source != source || !sCopy.copy) {
        VIntlMgr* copy = source->Clone();
        if (sCopy.copy) sCopy.copy->Release();
        sCopy.copy = copy;
        sCopy.source = source;
    }
    return sCopy.copy;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

VTask::VTask(size_t stackSize, ETaskStyle style, std::function<void()>&& function)
    : fFunction(std::move(function))
{
    _InitCommon(stackSize, style);
}

VTask::VTask(VObject*, size_t stackSize, ETaskStyle style, int (*proc)(VTask*))
    : fFunction([proc]() { proc(VTaskMgr::IsInited() ? VTask::GetCurrent() : nullptr); })
{
    _InitCommon(stackSize, style);
}

VTask::VTask(VTaskMgr* manager)
{
    fManager = manager;
    fStyle = eTaskStylePreemptive;
    fState.store(TS_RUNNING, std::memory_order_release);
    VTime::Now(fCreationTime);
    fStackSize = manager->GetStackSizeForMainTask();
    // The main task stays a thread task even when the process allows fibers:
    // its platform task is the adopted thread, it is the home of the fibers it
    // starts and joins their switching through a fiber wrapping its thread
    // (made at its first switch), and it waits as a thread does.
    fIsFiber = false;
    fIsThread = true;
    fIntlMgr = CloneProcessIntlMgr();
    fPlatformTask = XMacTaskMgr::CreateMain(this);
    fID = manager->GetNewTaskID(this);
    SetMessagingTask(fID);
}

void VTask::_InitCommon(size_t stackSize, ETaskStyle style)
{
    fManager = VTaskMgr::Get();
    fStyle = style;
    fStackSize = stackSize;
    VTime::Now(fCreationTime);
    fIsFiber = style == eTaskStyleFiber;
    fIsThread = !fIsFiber;
    fIntlMgr = CloneProcessIntlMgr();
    fPlatformTask = XMacTaskMgr::Create(this, style, GetStackSize());
    fID = fManager->GetNewTaskID(this);
    SetMessagingTask(fID);
}

VTask::~VTask()
{
    // The thread goes first (woken and joined when it never ran), so that
    // nothing runs on the task while its members are torn down.
    delete fPlatformTask;
    fPlatformTask = nullptr;
    if (VActivityToken* token = fActivityToken.exchange(nullptr)) token->Release();

    delete fName;
    if (fIntlMgr) fIntlMgr->Release();
    if (VMessageQueue* queue = fMessageQueue.exchange(nullptr)) {
        queue->CancelMessages();
        queue->Release();
    }
    if (fErrorContext) fErrorContext->Release();
    if (fDeathWaiters) {
        for (VMessageQueue* queue : *fDeathWaiters) queue->Release();
        delete fDeathWaiters;
    }
    if (fZanthCompanion) fZanthCompanion->Release();
    for (VJSONObject* object : fJSONObjects) object->Release();
}

void VTask::DoInit() {}
void VTask::DoDeInit() {}
bool VTask::DoRun() { return true; }
void VTask::DoIdle() {}
void VTask::DoPrepareToDie() {}

// ---------------------------------------------------------------------------
// State

bool VTask::_ChangeState(ETaskState expected, ETaskState desired)
{
    int32_t value = expected;
    return fState.compare_exchange_strong(value, desired, std::memory_order_acq_rel);
}

void VTask::_ForceStateDead()
{
    fState.exchange(TS_DEAD, std::memory_order_acq_rel);
}

void VTask::_RecordDyingTicks()
{
    fDyingTicks.store(VSystem::GetCurrentTicks(), std::memory_order_release);
}

bool VTask::SetBlockedReason(ETaskBlockedReason reason)
{
    int32_t none = eTaskNotBlocked;
    return fBlockedReason.compare_exchange_strong(none, reason, std::memory_order_acq_rel);
}

void VTask::ClearBlockedReason(ETaskBlockedReason reason)
{
    int32_t expected = reason;
    fBlockedReason.compare_exchange_strong(expected, eTaskNotBlocked, std::memory_order_acq_rel);
}

ETaskBlockedReason VTask::GetBlockedReason() const
{
    return static_cast<ETaskBlockedReason>(fBlockedReason.load(std::memory_order_acquire));
}

bool VTask::IsDying(int* ticksSince) const
{
    bool dying = GetState() >= TS_DYING;
    if (ticksSince)
        *ticksSince = dying ? static_cast<int>(VSystem::GetCurrentDeltaTicks(fDyingTicks.load(std::memory_order_acquire))) : 0;
    return dying;
}

// ---------------------------------------------------------------------------
// Life cycle

bool VTask::Run()
{
    if (!fPlatformTask || !VTaskMgr::IsInited()) return false;
    if (fStyle == eTaskStyleFiber) {
        bool proceed = true;
        IFiberScheduler* scheduler = fManager->RetainFiberScheduler();
        bool answer = scheduler ? scheduler->RunFiber(this, &proceed) : false;
        if (scheduler) scheduler->Release();
        if (!proceed) return answer;
    }
    if (!_ChangeState(TS_CREATED, TS_STARTING)) return false;
    {
        VString name;
        GetName(name);
        VString tokenName("Running task ");
        tokenName.AppendString(name);
        // Only the one caller that moved the task out of created gets here,
        // so there is no earlier token to take over.
        fActivityToken.store(new VActivityToken(tokenName), std::memory_order_release);
    }
    fManager->RegisterTask(this);
    if (!fPlatformTask->Run()) {
        _ChangeState(TS_STARTING, TS_DYING);
        _SetStateDead();
        return false;
    }
    return true;
}

void VTask::_Run()
{
    char stackMark;
    fStackMark = &stackMark;
    if (!_ChangeState(TS_STARTING, TS_RUNNING)) return;

    {
        VString name;
        GetName(name);
        XMacTaskMgr::SetCurrentThreadName(name, fID);
    }

    if (fFunction) {
        fFunction();
        if (_ChangeState(TS_RUNNING, TS_DYING)) _RecordDyingTicks();
    } else {
        DoInit();
        while (true) {
            if (fIsFiber) fManager->Yield();
            if (!DoRun()) {
                Kill();
                DoDeInit();
                break;
            }
            ExecuteMessages(true);
            if (GetState() >= TS_DYING) {
                DoDeInit();
                break;
            }
        }
    }
    _Exit();
}

void VTask::_Exit()
{
    StopMessaging();
    if (VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire)) queue->CancelMessages();
    std::set<VJSONObject*> objects;
    objects.swap(fJSONObjects);
    for (VJSONObject* object : objects) object->Release();
    DisposeAllData();
    fFunction = nullptr;
    IRefCountable* companion = nullptr;
    {
        StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
        fZanthTask = nullptr;
        companion = fZanthCompanion;
        fZanthCompanion = nullptr;
    }
    if (companion) companion->Release();
}

void VTask::ReleaseCurrentActivityToken()
{
    VTask* task = GetCurrent();
    if (!task) return;
    if (VActivityToken* token = task->fActivityToken.exchange(nullptr)) token->Release();
}

void VTask::_SetStateDead()
{
    if (VActivityToken* token = fActivityToken.exchange(nullptr)) token->Release();
    std::vector<VMessageQueue*>* waiters = nullptr;
    {
        StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
        waiters = fDeathWaiters;
        fDeathWaiters = nullptr;
        _ChangeState(TS_DYING, TS_DEAD);
        fManager->fTaskDied.store(true, std::memory_order_release);
    }
    if (waiters) {
        for (VMessageQueue* queue : *waiters) {
            queue->SetEvent();
            queue->Release();
        }
        delete waiters;
    }
}

void VTask::Kill()
{
    if (GetCurrent() != this) {
        while (GetState() == TS_STARTING) fManager->YieldNow();
    }
    if (GetState() < TS_DEAD) DoPrepareToDie();
    if (_ChangeState(TS_RUNNING, TS_DYING)) _RecordDyingTicks();
}

bool VTask::WaitForDeath(int ms)
{
    VTask* caller = GetCurrent();
    if (caller == this) return false;

    const uint64_t start = VSystem::GetCurrentTime();
    bool deadAtStart;
    VMessageQueue* callerQueue = nullptr;
    {
        StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
        deadAtStart = GetState() == TS_DEAD;
        if (!deadAtStart && caller) {
            if (!fDeathWaiters) fDeathWaiters = new std::vector<VMessageQueue*>;
            // The list keeps this reference; whoever removes the queue releases it.
            callerQueue = caller->RetainMessageQueue();
            if (callerQueue) fDeathWaiters->push_back(callerQueue);
        }
    }

    // Undone also when a message executed meanwhile throws: the caller's
    // queue leaves the list (and drops the list's reference) and the caller is
    // no longer marked as waiting.
    struct StWaitEnd {
        VTask* fTarget;
        VTask* fCaller;
        VMessageQueue* fQueue;
        bool fBlocked;
        ~StWaitEnd()
        {
            if (fBlocked) fCaller->ClearBlockedReason(eTaskWaitingForDeath);
            if (!fQueue) return;
            VMessageQueue* removed = nullptr;
            {
                StLocker<XTaskMgrMutexImpl> lock(fTarget->fManager->GetMutex());
                if (std::vector<VMessageQueue*>* waiters = fTarget->fDeathWaiters) {
                    auto it = std::find(waiters->begin(), waiters->end(), fQueue);
                    if (it != waiters->end()) {
                        removed = *it;
                        waiters->erase(it);
                    }
                }
            }
            if (removed) removed->Release();
        }
    } waitEnd{this, caller, callerQueue, caller && caller->SetBlockedReason(eTaskWaitingForDeath)};

    while (GetState() != TS_DEAD) {
        uint64_t elapsed = VSystem::GetCurrentTime() - start;
        if (ms <= 0 || elapsed >= static_cast<uint64_t>(ms)) break;
        int remaining = static_cast<int>(static_cast<uint64_t>(ms) - elapsed);
        if (caller && callerQueue) {
            bool timedOut = false;
            if (VMessage* message = _RetainMessageWithTimeout(caller, remaining, &timedOut))
                _ExecuteMessages(caller, message, true);
        } else {
            VSystem::Delay(std::min(remaining, 5));
        }
    }
    return GetState() == TS_DEAD;
}

void VTask::Sleep(int ms)
{
    VTask* task = GetCurrent();
    if (ms > 0) {
        if (!task) return;
        const bool blocked = task->SetBlockedReason(eTaskSleeping);
        // A fiber's platform task keeps the one wake flag that WakeUp and
        // Freeze also use.
        if (task->fPlatformTask) task->fPlatformTask->Sleep(ms);
        if (blocked) task->ClearBlockedReason(eTaskSleeping);
    } else if (task && task->fIsFiber) {
        task->fManager->YieldNow();
    } else {
        sched_yield();
    }
}

void VTask::WakeUp()
{
    if (fPlatformTask) fPlatformTask->WakeUp();
}

void VTask::Freeze()
{
    if (fPlatformTask) fPlatformTask->Freeze();
}

// ---------------------------------------------------------------------------
// Identity

void VTask::SetName(const VString& name)
{
    {
        StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
        if (fName)
            *fName = name;
        else
            fName = new VString(name);
    }
    if (GetCurrent() == this) XMacTaskMgr::SetCurrentThreadName(name, fID);
}

void VTask::GetName(VString& name) const
{
    StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
    if (fName)
        name = *fName;
    else
        name = VString();
}

uintptr_t VTask::GetSystemID() const
{
    return fPlatformTask ? static_cast<uintptr_t>(fPlatformTask->GetPThread()) : 0;
}

size_t VTask::GetStackSize()
{
    if (fStackSize == 0) {
        if (fManager->GetMainTask() == this)
            fStackSize = fManager->GetStackSizeForMainTask();
        else
            fStackSize = fManager->GetDefaultStackSize();
    }
    return fStackSize;
}

bool VTask::GetCPUTimes(double& user, double& system) const
{
    return fPlatformTask && fPlatformTask->GetCPUTimes(user, system);
}

bool VTask::GetCPUUsage(double& usage) const
{
    return fPlatformTask && fPlatformTask->GetCPUUsage(usage);
}

VTask* VTask::GetCurrent()
{
    return VTaskMgr::IsInited() ? XMacTaskMgr::GetCurrentTask() : nullptr;
}

VTask* VTask::RetainCurrent()
{
    return RetainRefCountable(GetCurrent());
}

VTask* VTask::GetMain()
{
    return VTaskMgr::IsInited() ? VTaskMgr::Get()->GetMainTask() : nullptr;
}

bool VTask::IsCurrentMain()
{
    VTask* task = GetCurrent();
    return task && task == GetMain();
}

int32_t VTask::GetCurrentID()
{
    return VTaskMgr::Get()->GetCurrentTaskID();
}

// ---------------------------------------------------------------------------
// International manager

VIntlMgr* VTask::GetCurrentIntlManager()
{
    VTask* task = GetCurrent();
    if (task && task->fIntlMgr) return task->fIntlMgr;
    return ThreadCopyOfProcessIntlMgr();
}

void VTask::SetCurrentIntlManager(VIntlMgr* manager)
{
    VTask* task = GetCurrent();
    if (!task || !manager || manager == task->fIntlMgr) return;
    manager->Retain();
    VIntlMgr* old = task->fIntlMgr;
    task->fIntlMgr = manager;
    if (old) old->Release();
}

void VTask::SetCurrentDialectCode(uint32_t dialect, uint8_t options)
{
    if (!GetCurrent()) return;
    VIntlMgr* manager = VIntlMgr::Create(dialect, dialect, options);
    if (!manager) return;
    SetCurrentIntlManager(manager);
    manager->Release();
}

uint32_t VTask::GetDialectCode() const
{
    return fIntlMgr ? fIntlMgr->GetDialectCode() : 0;
}

UniChar VTask::GetWildChar()
{
    if (VIntlMgr* manager = GetCurrentIntlManager()) return manager->GetWildChar();
    return u'@';
}

// ---------------------------------------------------------------------------
// Error stack

VErrorTaskContext* VTask::GetErrorContext(bool create)
{
    VTask* task = GetCurrent();
    if (!task) return nullptr;
    if (!task->fErrorContext && create) task->fErrorContext = new VErrorTaskContext;
    return task->fErrorContext;
}

bool VTask::PushError(VErrorBase* error)
{
    if (!error) return false;
    VErrorTaskContext* context = GetErrorContext(true);
    if (!context) return false;
    bool silent = false;
    context->PushError(error, &silent);
    if (!silent) VDebugMgr::Get()->ErrorThrown(error);
    return true;
}

bool VTask::PushRetainedError(VErrorBase* error)
{
    bool pushed = PushError(error);
    if (error) error->Release();
    return pushed;
}

bool VTask::PushErrors(const VErrorContext* errors)
{
    if (!errors || !GetCurrent()) return false;
    if (errors->IsEmpty()) return true;
    VErrorTaskContext* context = GetErrorContext(true);
    if (!context) return false;
    context->PushErrorsFromContext(errors);
    return true;
}

void VTask::FlushErrors()
{
    if (VErrorTaskContext* context = GetErrorContext(false)) context->Flush();
}

VError VTask::GetLastError()
{
    VErrorTaskContext* context = GetErrorContext(false);
    return context ? context->GetLastError() : VE_OK;
}

bool VTask::FailedForMemory()
{
    VErrorTaskContext* context = GetErrorContext(false);
    return context && context->FailedForMemory();
}

// ---------------------------------------------------------------------------
// Per-task data

void* VTask::GetCurrentData(size_t key)
{
    VTask* task = GetCurrent();
    if (!task || key == 0 || key > task->fData.size()) return nullptr;
    return task->fData[key - 1];
}

void VTask::SetCurrentData(size_t key, void* value)
{
    VTask* task = GetCurrent();
    if (!task || key == 0) return;
    if (task->fData.size() < key) task->fData.resize(key, nullptr);
    task->fData[key - 1] = value;
}

void VTask::DisposeAllData()
{
    // Destructors may set data again; they see fresh slots.
    std::vector<void*> data;
    data.swap(fData);
    if (!data.empty()) fManager->DisposeData(data.data(), data.data() + data.size());
}

// ---------------------------------------------------------------------------
// JSON objects and the product task

void VTask::RegisterJSONObject(VJSONObject* object)
{
    VTask* task = GetCurrent();
    if (!task || !object) return;
    if (task->fJSONObjects.insert(object).second) object->Retain();
}

void VTask::UnregisterJSONObject(VJSONObject* object)
{
    VTask* task = GetCurrent();
    if (!task || !object) return;
    if (task->fJSONObjects.erase(object) > 0) object->Release();
}

void VTask::SetZanthTask(VZanthTask* task, IRefCountable* companion)
{
    IRefCountable* old;
    {
        StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
        if (companion) companion->Retain();
        old = fZanthCompanion;
        fZanthTask = task;
        fZanthCompanion = companion;
    }
    if (old) old->Release();
}

VZanthTask* VTask::RetainZanthTask(IRefCountable** companion) const
{
    StLocker<XTaskMgrMutexImpl> lock(fManager->GetMutex());
    if (companion) *companion = RetainRefCountable(fZanthCompanion);
    return fZanthTask;
}

}  // namespace bkit
