// VTaskMgr.cpp - the task registry, ids, stacks, data keys and scheduler hook.
#include "basekit/runtime/VTaskMgr.h"

#include <sched.h>

#include <algorithm>

#include "basekit/runtime/VMessage.h"
#include "basekit/runtime/VSpinLock.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/mac/XMacTask.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

VTaskMgr VTaskMgr::sInstance;
constinit std::atomic<bool> VTaskMgr::sInstanceInited{false};

// ---------------------------------------------------------------------------
// Registry mutex

namespace {
// Tells the threads apart: the address of a per-thread byte, never 0, and
// unique among the threads alive (a thread that ended owns nothing).
uintptr_t CurrentThreadToken()
{
    static thread_local char sToken;
    return reinterpret_cast<uintptr_t>(&sToken);
}
}  // namespace

void XTaskMgrMutexImpl::Lock()
{
    const uintptr_t self = CurrentThreadToken();
    // Only this thread ever stores its own token.
    if (fOwner.load(std::memory_order_relaxed) == self) {
        ++fCount;
        return;
    }
    uintptr_t expected = 0;
    if (!fOwner.compare_exchange_strong(expected, self, std::memory_order_acquire, std::memory_order_relaxed)) {
        // Counted among the waiters before trying again, so that a release
        // either is seen by the retry or sees the waiter and wakes it (both
        // sides use sequentially consistent operations).
        std::unique_lock<std::mutex> lock(fMutex);
        fWaiters.fetch_add(1, std::memory_order_seq_cst);
        for (;;) {
            expected = 0;
            if (fOwner.compare_exchange_strong(expected, self, std::memory_order_seq_cst, std::memory_order_relaxed))
                break;
            fCondition.wait(lock);
        }
        fWaiters.fetch_sub(1, std::memory_order_relaxed);
    }
    fCount = 1;
}

void XTaskMgrMutexImpl::Unlock()
{
    if (fCount <= 0 || --fCount > 0) return;
    fOwner.store(0, std::memory_order_seq_cst);
    if (fWaiters.load(std::memory_order_seq_cst) > 0) {
        // Taking the platform mutex makes sure the waiter is inside its wait.
        { std::lock_guard<std::mutex> lock(fMutex); }
        fCondition.notify_one();
    }
}

using StRegistryLocker = StLocker<XTaskMgrMutexImpl>;

// ---------------------------------------------------------------------------
// Life cycle

VTaskMgr::VTaskMgr() = default;

VTaskMgr::~VTaskMgr()
{
    if (IsInited()) DeInit();
}

bool VTaskMgr::Init(VProcess* process)
{
    if (IsInited()) return true;
    bool ok = sInstance._Init(process);
    sInstanceInited.store(ok, std::memory_order_release);
    SpinLock::Configure();
    return ok;
}

void VTaskMgr::DeInit()
{
    if (!IsInited()) return;
    sInstance._DeInit();
    sInstanceInited.store(false, std::memory_order_release);
}

bool VTaskMgr::_Init(VProcess* process)
{
    fProcess = process;
    {
        StRegistryLocker lock(fMutex);
        if (!fFiberScheduler) fFiberScheduler = new VScheduler_void;
    }
    VTask* main = new VTask(this);
    if (!main->GetPlatformTask()) {
        main->Release();
        return false;
    }
    fMainTask = main;
    XMacTaskMgr::SetCurrentThreadName(VString(), main->GetID());
    return true;
}

void VTaskMgr::_DeInit()
{
    VTask* main = fMainTask;
    if (main) {
        main->DisposeAllData();
        main->_ForceStateDead();
    }
    std::vector<VTask*> dead;
    std::vector<VMessage*> delayed;
    IFiberScheduler* scheduler;
    {
        StRegistryLocker lock(fMutex);
        fTaskDied.store(true, std::memory_order_release);
        _CollectDeadTasks(dead);
        fMainTask = nullptr;
        delayed.swap(fDelayedMessages);
        fDelayedTicks.clear();
        scheduler = fFiberScheduler;
        fFiberScheduler = nullptr;
    }
    for (VTask* task : dead) task->Release();
    for (VMessage* message : delayed) message->Release();
    if (main) {
        if (XMacTaskMgr::GetCurrentTask() == main) XMacTaskMgr::SetCurrentTask(nullptr);
        main->Release();
    }
    if (scheduler) scheduler->Release();
}

// ---------------------------------------------------------------------------
// Tasks and ids

int32_t VTaskMgr::GetCurrentTaskID()
{
    if (!IsInited()) return 0;
    if (int32_t id = XMacTaskMgr::GetCurrentTaskID(); id != 0) return id;
    return XMacTaskMgr::GetCurrentForeignTaskID();
}

VTask* VTaskMgr::GetCurrentTask()
{
    return IsInited() ? XMacTaskMgr::GetCurrentTask() : nullptr;
}

int32_t VTaskMgr::GetNewTaskID(VTask* task)
{
    if (!task || !task->GetPlatformTask()) return 0;
    if (int32_t id = task->GetPlatformTask()->GetValueForVTaskID(); id != 0) return id;
    StRegistryLocker lock(fMutex);
    if (!fFreeIDs.empty()) {
        int32_t id = fFreeIDs.back();
        fFreeIDs.pop_back();
        return id;
    }
    return --fLastGeneratedID;
}

void VTaskMgr::RegisterTask(VTask* task)
{
    PurgeDeadTasks();
    StRegistryLocker lock(fMutex);
    if (!fMainTask) return;
    task->Retain();
    task->fNext = fMainTask->fNext;
    fMainTask->fNext = task;
    fRegistryStamp.fetch_add(1, std::memory_order_acq_rel);
}

void VTaskMgr::_CollectDeadTasks(std::vector<VTask*>& dead)
{
    if (!fMainTask || !fTaskDied.load(std::memory_order_acquire)) return;
    VTask* previous = fMainTask;
    for (VTask* task = fMainTask->fNext; task;) {
        VTask* next = task->fNext;
        if (task->GetState() == TS_DEAD) {
            previous->fNext = next;
            task->fNext = nullptr;
            XMacTask* platformTask = task->GetPlatformTask();
            if (!platformTask || task->GetID() != platformTask->GetValueForVTaskID())
                if (task->GetID() < 0) fFreeIDs.push_back(task->GetID());
            dead.push_back(task);
        } else {
            previous = task;
        }
        task = next;
    }
    fTaskDied.store(false, std::memory_order_release);
    fRegistryStamp.fetch_add(1, std::memory_order_acq_rel);
}

void VTaskMgr::PurgeDeadTasks()
{
    if (!fTaskDied.load(std::memory_order_acquire)) return;
    std::vector<VTask*> dead;
    {
        StRegistryLocker lock(fMutex);
        _CollectDeadTasks(dead);
    }
    // Released outside the mutex: a destructor joins the task's thread.
    for (VTask* task : dead) task->Release();
}

int32_t VTaskMgr::GetTaskCount(bool notDyingOnly)
{
    StRegistryLocker lock(fMutex);
    int32_t count = 0;
    for (VTask* task = fMainTask; task; task = task->fNext) {
        ETaskState state = task->GetState();
        if (notDyingOnly ? state <= TS_RUNNING : (state == TS_RUNNING || state == TS_DYING)) ++count;
    }
    return count;
}

VTask* VTaskMgr::RetainTaskByID(int32_t id)
{
    StRegistryLocker lock(fMutex);
    for (VTask* task = fMainTask; task; task = task->fNext) {
        if (task->GetID() == id && task->GetState() != TS_DEAD) {
            task->Retain();
            return task;
        }
    }
    return nullptr;
}

VRefPtr<VTask> VTaskMgr::GetTaskByID(int32_t id)
{
    return VRefPtr<VTask>::Adopt(RetainTaskByID(id));
}

void VTaskMgr::GetTasks(std::vector<VRefPtr<VTask>>& tasks)
{
    StRegistryLocker lock(fMutex);
    for (VTask* task = fMainTask; task; task = task->fNext) tasks.emplace_back(task);
}

bool VTaskMgr::KillAllTasks(int ms)
{
    auto onlyMainLeft = [this]() {
        StRegistryLocker lock(fMutex);
        return !fMainTask || fMainTask->fNext == nullptr;
    };
    VTask* caller = GetCurrentTask();
    if (!caller || caller != fMainTask) return onlyMainLeft();

    const uint64_t start = VSystem::GetCurrentTime();
    while (true) {
        {
            StRegistryLocker lock(fMutex);
            for (VTask* task = fMainTask->fNext; task; task = task->fNext) {
                if (task == caller || task->GetState() < TS_RUNNING) continue;
                if (task->GetState() < TS_DEAD) task->DoPrepareToDie();
                if (task->_ChangeState(TS_RUNNING, TS_DYING)) task->_RecordDyingTicks();
            }
        }
        PurgeDeadTasks();
        YieldNow();
        VTask::ExecuteMessages(false);
        if (onlyMainLeft() || VSystem::GetCurrentTime() - start >= static_cast<uint64_t>(std::max(ms, 0))) break;
    }
    return onlyMainLeft();
}

// ---------------------------------------------------------------------------
// Stacks

size_t VTaskMgr::GetStackSizeForMainTask()
{
    StRegistryLocker lock(fMutex);
    if (fMainStackSize == 0) {
        size_t size = XMacTaskMgr::ComputeMainTaskStackSize();
        fMainStackSize = size != 0 ? size : 65536;
    }
    return fMainStackSize;
}

size_t VTaskMgr::GetDefaultStackSize()
{
    size_t mainSize = GetStackSizeForMainTask();
    StRegistryLocker lock(fMutex);
    if (fDefaultStackSize == 0) fDefaultStackSize = std::min<size_t>(mainSize, 1048576);
    return fDefaultStackSize;
}

void VTaskMgr::SetDefaultStackSize(size_t size)
{
    StRegistryLocker lock(fMutex);
    fDefaultStackSize = size;
}

size_t VTaskMgr::GetCurrentFreeStackSize()
{
    return XMacTaskMgr::GetCurrentFreeStackSize();
}

// ---------------------------------------------------------------------------
// Data keys

size_t VTaskMgr::CreateDataKey(void (*destructor)(void*))
{
    StRegistryLocker lock(fMutex);
    for (size_t i = 0; i < fDataKeys.size(); ++i) {
        if (fDataKeys[i].deleted) {
            fDataKeys[i] = DataKey{destructor, false};
            return i + 1;
        }
    }
    fDataKeys.push_back(DataKey{destructor, false});
    return fDataKeys.size();
}

void VTaskMgr::DeleteDataKey(size_t key)
{
    if (!IsInited()) return;
    StRegistryLocker lock(fMutex);
    if (key >= 1 && key <= fDataKeys.size() && !fDataKeys[key - 1].deleted) fDataKeys[key - 1].deleted = true;
}

bool VTaskMgr::CheckDataKey(size_t key)
{
    StRegistryLocker lock(fMutex);
    return key >= 1 && key <= fDataKeys.size() && !fDataKeys[key - 1].deleted;
}

void VTaskMgr::DisposeData(void** first, void** last)
{
    for (void** slot = first; slot < last; ++slot) {
        if (!*slot) continue;
        const size_t key = static_cast<size_t>(slot - first) + 1;
        void (*destructor)(void*) = nullptr;
        {
            StRegistryLocker lock(fMutex);
            if (key <= fDataKeys.size() && !fDataKeys[key - 1].deleted) destructor = fDataKeys[key - 1].destructor;
        }
        if (destructor) destructor(*slot);
    }
}

// ---------------------------------------------------------------------------
// Fiber scheduler

void VTaskMgr::SetFiberScheduler(IFiberScheduler* scheduler)
{
    if (!scheduler) return;
    scheduler->Retain();
    IFiberScheduler* old;
    {
        StRegistryLocker lock(fMutex);
        old = fFiberScheduler;
        fFiberScheduler = scheduler;
    }
    if (old) old->Release();
}

IFiberScheduler* VTaskMgr::RetainFiberScheduler()
{
    StRegistryLocker lock(fMutex);
    return RetainRefCountable(fFiberScheduler);
}

namespace {
// Calls f with the scheduler, retained for the call; nothing when there is none.
template <class F>
void WithScheduler(VTaskMgr* manager, F&& f)
{
    if (IFiberScheduler* scheduler = manager->RetainFiberScheduler()) {
        f(scheduler);
        scheduler->Release();
    }
}

bool CallerIsFiber()
{
    VTask* task = VTask::GetCurrent();
    return task && task->_IsFiber();
}
}  // namespace

void VTaskMgr::Yield()
{
    if (CallerIsFiber()) WithScheduler(this, [](IFiberScheduler* s) { s->Yield(); });
}

void VTaskMgr::YieldNow()
{
    if (CallerIsFiber())
        WithScheduler(this, [](IFiberScheduler* s) { s->YieldNow(); });
    else
        sched_yield();
}

void VTaskMgr::YieldToFiber(VTask* task)
{
    XMacTaskMgr::YieldToFiber(task);
}

void VTaskMgr::CurrentFiberWaitFlag(int* flag, int value)
{
    WithScheduler(this, [&](IFiberScheduler* s) { s->WaitFlag(flag, value); });
}

void VTaskMgr::CurrentFiberWaitFlagWithTimeout(int* flag, int value, int ms)
{
    WithScheduler(this, [&](IFiberScheduler* s) { s->WaitFlagWithTimeout(flag, value, ms); });
}

void VTaskMgr::FiberStoppedBeingScheduled(VTask* task)
{
    if (!task || !task->_IsFiber() || task == VTask::GetCurrent()) return;
    if (task->GetState() != TS_DEAD) task->_ForceStateDead();
}

void VTaskMgr::SetSystemEventPolling(bool on)
{
    WithScheduler(this, [&](IFiberScheduler* s) { s->SetSystemEventPolling(on); });
}

void VTaskMgr::WakeUpSystemEventPolling()
{
    WithScheduler(this, [](IFiberScheduler* s) { s->WakeUpSystemEventPolling(); });
}

void VTaskMgr::PollAndExecuteUpdateEvent()
{
    WithScheduler(this, [](IFiberScheduler* s) { s->PollAndExecuteUpdateEvent(); });
}

void VTaskMgr::SetDirectUpdate(bool on)
{
    WithScheduler(this, [&](IFiberScheduler* s) { s->SetDirectUpdate(on); });
}

}  // namespace bkit
