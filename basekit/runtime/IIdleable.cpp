// IIdleable.cpp - idlers and the self-reposting idle message.
#include "basekit/runtime/IIdleable.h"

#include <algorithm>
#include <vector>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

namespace {

// Idle messages come back this often (about one frame).
constexpr int kIdleMessageDelayMs = 16;

}  // namespace

IIdleable::IIdleable() : fTask(nullptr), fIdling(0) {}

IIdleable::~IIdleable()
{
    StopIdling();
}

void IIdleable::DoIdle() {}

void IIdleable::StartIdling(VTask* task)
{
    fIdling.store(1, std::memory_order_release);
    if (task == fTask)
        return;
    VTask* old = fTask;
    if (old)
        old->UnregisterIdler(this);
    if (task) {
        task->Retain();
        task->RegisterIdler(this);
    }
    fTask = task;
    if (old)
        old->Release();
}

void IIdleable::StartIdling()
{
    if (VTask* task = VTask::GetCurrent())
        StartIdling(task);
}

void IIdleable::StopIdling()
{
    fIdling.store(0, std::memory_order_release);
    VTask* task = fTask;
    fTask = nullptr;
    if (task) {
        task->UnregisterIdler(this);
        task->Release();
    }
}

void IIdleable::Idle()
{
    if (IsIdling())
        DoIdle();
}

XIdleMessage::XIdleMessage(IIdleable* idler) : fIdler(idler) {}

void XIdleMessage::DoExecute()
{
    if (fIdler == nullptr || !fIdler->IsIdling())
        return;
    fIdler->DoIdle();
    VTask* task = VTask::GetCurrent();
    if (task == nullptr)
        return;
    XIdleMessage* next = new XIdleMessage(fIdler);
    next->PostTo(task, false, kIdleMessageDelayMs);
    next->Release();
}

}  // namespace bkit

// --- idlers of a task ---

namespace bkit {

void VTask::RegisterIdler(IIdleable* idler)
{
    if (idler == nullptr)
        return;
    StLocker<XTaskMgrMutexImpl> lock(VTaskMgr::Get()->GetMutex());
    if (std::find(fIdlers.begin(), fIdlers.end(), idler) == fIdlers.end())
        fIdlers.push_back(idler);
    fIdlerListUnchanged.store(false, std::memory_order_release);
}

void VTask::UnregisterIdler(IIdleable* idler)
{
    const bool isOwnTask = GetCurrent() == this;
    {
        StLocker<XTaskMgrMutexImpl> lock(VTaskMgr::Get()->GetMutex());
        auto found = std::find(fIdlers.begin(), fIdlers.end(), idler);
        if (found == fIdlers.end())
            return;
        fIdlers.erase(found);
        fIdlerListUnchanged.store(false, std::memory_order_release);
    }
    if (isOwnTask)
        return;
    // Called from elsewhere, typically by an idler being destroyed: the task
    // may be calling it from its copy of the list right now. The cleared flag
    // ends that pass before the next idler; wait for the pass to end so that
    // the caller may free the idler afterwards. A calling task serves its own
    // messages meanwhile, in case the idler is waiting for an answer from it.
    VTask* caller = GetCurrent();
    for (;;) {
        bool inIdle;
        {
            StLocker<XTaskMgrMutexImpl> lock(VTaskMgr::Get()->GetMutex());
            inIdle = fInIdle;
        }
        if (!inIdle)
            break;
        if (caller)
            ExecuteMessagesWithTimeout(1, false);
        else
            VSystem::Delay(1);
    }
}

void VTask::CallIdlers()
{
    if (GetCurrent() != this)
        return;
    std::vector<IIdleable*> idlers;
    {
        StLocker<XTaskMgrMutexImpl> lock(VTaskMgr::Get()->GetMutex());
        idlers = fIdlers;
        fIdlerListUnchanged.store(true, std::memory_order_release);
    }
    for (IIdleable* idler : idlers) {
        if (!fIdlerListUnchanged.load(std::memory_order_acquire))
            break;
        idler->Idle();
    }
}

bool VTask::_CheckIdleEvents()
{
    if (GetCurrent() != this)
        return false;
    XTaskMgrMutexImpl& mutex = VTaskMgr::Get()->GetMutex();
    {
        StLocker<XTaskMgrMutexImpl> lock(mutex);
        if (fInIdle)
            return false;
        fInIdle = true;
    }
    struct StEndPass {
        VTask* fTask;
        XTaskMgrMutexImpl& fMutex;
        ~StEndPass()
        {
            StLocker<XTaskMgrMutexImpl> lock(fMutex);
            fTask->fInIdle = false;
        }
    } endPass{this, mutex};
    fLastIdleTick = VSystem::GetCurrentTicks();
    DoIdle();
    CallIdlers();
    VTaskMgr::Get()->_CheckDelayedMessages();
    return true;
}

}  // namespace bkit
