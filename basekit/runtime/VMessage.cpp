// VMessage.cpp - posting, sending, executing and aborting messages.
#include "basekit/runtime/VMessage.h"

#include <algorithm>

#include "basekit/runtime/VMessageQueue.h"
#include "basekit/runtime/VSyncEvent.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

namespace {

// The longest single wait of a post-and-wait loop, so that a dying caller or
// an abort is noticed in time.
constexpr int kWaitSliceMs = 1000;

VTask* RetainCurrentTask()
{
    VTask* task = VTask::GetCurrent();
    if (task)
        task->Retain();
    return task;
}

// A real pause for any caller: a task sleeps through its platform task (and
// can be woken); a thread that is no task sleeps on the clock.
void Pause(int ms)
{
    if (VTask::GetCurrent())
        VTask::Sleep(ms);
    else
        VSystem::Delay(ms);
}

// Takes a queued message out of the queue of the task that would run it.
void RemoveFromTaskQueue(VTask* task, VMessage* message)
{
    if (task == nullptr)
        return;
    VMessageQueue* queue = task->RetainMessageQueue();
    if (queue) {
        queue->RemoveMessage(message);
        queue->Release();
    }
}

}  // namespace

VMessage::VMessage()
    : fContext(nullptr), fRunContext(nullptr), fSyncEvent(nullptr), fReplyQueue(nullptr), fAnswered(0), fAborted(0)
{
}

VMessage::~VMessage()
{
    if (VMessagingContext* context = _TakeContext())
        context->Release();
}

int VMessage::GetCoalescingSignature() const { return 0; }

void VMessage::DoExecute()
{
    VMessagingContext* context = fRunContext ? fRunContext : fContext.load(std::memory_order_acquire);
    if (context) {
        if (IMessageable* target = context->GetTarget())
            target->DoMessage(*this);
    }
}

bool VMessage::DoCoalesce(const VMessage&) { return true; }

IMessageable* VMessage::GetBoundTarget() const
{
    VMessagingContext* context = fContext.load(std::memory_order_acquire);
    return context ? context->GetTarget() : nullptr;
}

VTask* VMessage::_InstallContextAndRetainTask(VMessagingContext* context)
{
    if (context && context->IsValid()) {
        VTask* task = VTaskMgr::Get()->RetainTaskByID(context->GetMessagingTask());
        if (task) {
            VMessagingContext* expected = nullptr;
            if (fContext.compare_exchange_strong(expected, context, std::memory_order_acq_rel))
                return task;
            task->Release();
        }
    }
    if (context)
        context->Release();
    return nullptr;
}

bool VMessage::ActivateContext(IMessageable* target)
{
    if (target == nullptr) {
        if (VMessagingContext* context = _TakeContext())
            context->Release();
        return false;
    }
    if (VTask* task = _InstallContextAndRetainTask(target->RetainMessagingContext()))
        task->Release();
    return IsBound();
}

void VMessage::_ExecuteHere(VMessagingContext* context)
{
    struct StRunContext {
        VMessage* fMessage;
        ~StRunContext() { fMessage->fRunContext = nullptr; }
    } scope{this};
    fRunContext = context;
    DoExecute();
}

void VMessage::_ExecuteNowAndRelease(VTask* task)
{
    VRefPtr<VTask> owner = VRefPtr<VTask>::Adopt(task);
    VRefPtr<VMessagingContext> context = VRefPtr<VMessagingContext>::Adopt(_TakeContext());
    if (context) {
        _ExecuteHere(context.Get());
        AnswerIt();
    }
}

VTask* VMessage::_PostAndRetainTask(VMessagingContext* context, bool executeNowIfSameTask, bool* posted)
{
    _StartDelivery();
    *posted = false;
    VTask* task = _InstallContextAndRetainTask(context);
    if (task == nullptr)
        return nullptr;
    if (executeNowIfSameTask && task == VTask::GetCurrent()) {
        *posted = true;
        _ExecuteNowAndRelease(task);
        return nullptr;
    }
    if (task->AddMessage(this)) {
        *posted = true;
    } else if (VMessagingContext* taken = _TakeContext()) {
        taken->Release();
    }
    return task;
}

bool VMessage::_Post(VMessagingContext* context, bool executeNowIfSameTask)
{
    bool posted = false;
    if (VTask* task = _PostAndRetainTask(context, executeNowIfSameTask, &posted))
        task->Release();
    return posted;
}

bool VMessage::_Send(VMessagingContext* context, int ms, bool infinite)
{
    _StartDelivery();
    VTask* task = _InstallContextAndRetainTask(context);
    if (task == nullptr)
        return false;

    if (task == VTask::GetCurrent()) {
        _ExecuteNowAndRelease(task);
        return true;
    }

    VSyncEvent* event = new VSyncEvent;
    fSyncEvent.store(event, std::memory_order_release);
    bool sent = task->AddMessage(this);
    if (sent) {
        VTask* caller = VTask::GetCurrent();
        const bool blocked = caller && caller->SetBlockedReason(eTaskWaitingForAnswer);
        const bool fired = infinite ? event->Lock() : event->Lock(ms);
        if (blocked)
            caller->ClearBlockedReason(eTaskWaitingForAnswer);
        if (!fired) {
            // Out of time. A message still queued is taken out of the queue
            // first, so that nobody reads its context while we drop it.
            RemoveFromTaskQueue(task, this);
            if (VMessagingContext* taken = _TakeContext()) {
                fAborted.store(1, std::memory_order_release);
                taken->Release();
            } else {
                // The target's task is running it: its end is near.
                event->Lock();
            }
        }
        sent = !IsAborted();
    }
    if (VMessagingContext* taken = _TakeContext())
        taken->Release();
    fSyncEvent.store(nullptr, std::memory_order_release);
    event->Release();
    task->Release();
    return sent;
}

bool VMessage::PostTo(IMessageable* target, bool executeNowIfSameTask, int delayMs)
{
    if (target == nullptr)
        return false;
    if (IsBound())
        return true;
    if (delayMs <= 0)
        return _Post(target->RetainMessagingContext(), executeNowIfSameTask);
    VTask* task = _InstallContextAndRetainTask(target->RetainMessagingContext());
    if (task == nullptr)
        return false;
    task->Release();
    return VTaskMgr::Get()->RegisterDelayedMessage(this, delayMs);
}

bool VMessage::SendTo(IMessageable* target, int ms)
{
    if (target == nullptr || IsBound())
        return false;
    return _Send(target->RetainMessagingContext(), ms, false);
}

bool VMessage::SendTo(IMessageable* target)
{
    if (target == nullptr || IsBound())
        return false;
    return _Send(target->RetainMessagingContext(), 0, true);
}

bool VMessage::SendOrPostTo(VMessagingContext* context, int delayMs, bool executeNowIfSameTask, bool sendIt, int ms)
{
    if (context == nullptr || IsBound())
        return false;
    context->Retain();
    if (delayMs > 0) {
        VTask* task = _InstallContextAndRetainTask(context);
        if (task == nullptr)
            return false;
        task->Release();
        return VTaskMgr::Get()->RegisterDelayedMessage(this, delayMs);
    }
    if (sendIt)
        return _Send(context, ms, false);
    return _Post(context, executeNowIfSameTask);
}

void VMessage::_Finish(bool answered)
{
    // The waiter drops the event and the reply queue as soon as it sees the
    // flag, so both are retained before the flag is set.
    VSyncEvent* event = RetainRefCountable(fSyncEvent.load(std::memory_order_acquire));
    VMessageQueue* replyQueue = RetainRefCountable(fReplyQueue.load(std::memory_order_acquire));
    if (answered)
        AnswerIt();
    else
        fAborted.store(1, std::memory_order_release);
    if (event) {
        event->Set();
        event->Release();
    }
    if (replyQueue) {
        replyQueue->SetEvent();
        replyQueue->Release();
    }
}

void VMessage::Execute()
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    try {
        _ExecuteHere(context);
    } catch (...) {
        // A waiting sender must not wait forever for a message that threw.
        _Finish(false);
        context->Release();
        throw;
    }
    _Finish(true);
    context->Release();
}

void VMessage::Abort()
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    _Finish(false);
    context->Release();
}

void VMessage::RePost()
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    if (context->IsValid()) {
        // Hand the binding back, then queue: the reference moves into the
        // message again.
        if (VTask* task = _InstallContextAndRetainTask(context)) {
            if (!task->AddMessage(this)) {
                if (VMessagingContext* taken = _TakeContext())
                    taken->Release();
            }
            task->Release();
        }
        return;
    }
    context->Release();
}

bool VMessage::_PostToAndWait(IMessageable* target, int ms, bool infinite)
{
    if (target == nullptr || IsBound())
        return false;

    VRefPtr<VTask> callerRef = VRefPtr<VTask>::Adopt(RetainCurrentTask());
    VTask* caller = callerRef.Get();
    // A caller that is no task has no messages of its own to run while it
    // waits; a private queue gives it something to sleep on.
    VRefPtr<VMessageQueue> replyQueueRef =
        VRefPtr<VMessageQueue>::Adopt(caller ? caller->RetainMessageQueue() : new VMessageQueue);
    VMessageQueue* replyQueue = replyQueueRef.Get();
    fReplyQueue.store(replyQueue, std::memory_order_release);
    // Also when a message run here at once throws.
    struct StClearReplyQueue {
        std::atomic<VMessageQueue*>& fSlot;
        ~StClearReplyQueue() { fSlot.store(nullptr, std::memory_order_release); }
    } clearReplyQueue{fReplyQueue};

    bool posted = false;
    VRefPtr<VTask> taskRef = VRefPtr<VTask>::Adopt(_PostAndRetainTask(target->RetainMessagingContext(), true, &posted));
    VTask* task = taskRef.Get();
    if (posted && !Answered()) {
        const uint64_t start = VSystem::GetCurrentTime();
        for (;;) {
            int slice = kWaitSliceMs;
            if (!infinite) {
                const uint64_t elapsed = VSystem::GetCurrentTime() - start;
                const uint64_t left = elapsed >= static_cast<uint64_t>(std::max(ms, 0)) ? 0 : ms - elapsed;
                slice = static_cast<int>(std::min<uint64_t>(left, kWaitSliceMs));
            }
            if (caller) {
                const bool blocked = caller->SetBlockedReason(eTaskWaitingForAnswer);
                VTask::ExecuteMessagesWithTimeout(slice, true);
                if (blocked)
                    caller->ClearBlockedReason(eTaskWaitingForAnswer);
            } else {
                replyQueue->Wait(slice);
            }
            if (Answered() || IsAborted())
                break;
            if (!infinite && VSystem::GetCurrentTime() - start >= static_cast<uint64_t>(std::max(ms, 0)))
                break;
            if (caller && caller->IsDying(nullptr))
                break;
        }
    }

    if (posted && !Answered()) {
        RemoveFromTaskQueue(task, this);
        if (VMessagingContext* taken = _TakeContext()) {
            fAborted.store(1, std::memory_order_release);
            taken->Release();
        } else {
            // Taken by the target's task, which is running it now.
            while (!Answered() && !IsAborted())
                Pause(10);
        }
    }
    return Answered();
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target, int ms)
{
    return _PostToAndWait(target, ms, false);
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target)
{
    return _PostToAndWait(target, 0, true);
}

// --- VFunctionMessage ---

VFunctionMessage::VFunctionMessage(std::function<void()>&& function) : fFunction(std::move(function)) {}

void VFunctionMessage::DoExecute()
{
    fFunction();
}

void VFunctionMessage::PostFunctionTo(VTask* task, std::function<void()>&& function)
{
    if (task == nullptr)
        return;
    VFunctionMessage* message = new VFunctionMessage(std::move(function));
    message->PostTo(task, false, 0);
    message->Release();
}

bool VFunctionMessage::PostToAndWait(VTask* task, std::function<void()>&& function)
{
    if (task == nullptr)
        return false;
    VFunctionMessage* message = new VFunctionMessage(std::move(function));
    const bool answered = message->PostToAndWaitExecutingMessages(task);
    message->Release();
    return answered;
}

bool VFunctionMessage::PostToAndWait(VTask* task, std::function<void()>&& function, int ms)
{
    if (task == nullptr)
        return false;
    VFunctionMessage* message = new VFunctionMessage(std::move(function));
    const bool answered = message->PostToAndWaitExecutingMessages(task, ms);
    message->Release();
    return answered;
}

void VFunctionMessage::PostToMainTaskAndWait(std::function<void()>&& function, bool runHere)
{
    if (runHere || VTask::IsCurrentMain()) {
        function();
        return;
    }
    PostToAndWait(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

void VFunctionMessage::PostToMainTask(std::function<void()>&& function, bool runHere)
{
    if (runHere) {
        function();
        return;
    }
    PostFunctionTo(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

// --- delayed messages of the task manager ---

bool VTaskMgr::RegisterDelayedMessage(VMessage* message, int delayMs)
{
    const uint32_t due = VSystem::GetCurrentTicks() + static_cast<uint32_t>((static_cast<int64_t>(delayMs) * 60) / 1000);
    StLocker<XTaskMgrMutexImpl> lock(fMutex);
    message->Retain();
    fDelayedMessages.push_back(message);
    fDelayedTicks.push_back(due);
    return true;
}

void VTaskMgr::_CheckDelayedMessages()
{
    const uint32_t now = VSystem::GetCurrentTicks();
    for (;;) {
        VMessage* due = nullptr;
        {
            StLocker<XTaskMgrMutexImpl> lock(fMutex);
            for (size_t i = 0; i < fDelayedMessages.size(); ++i) {
                // Signed difference: the tick counter wraps after 2^32 ticks.
                if (static_cast<int32_t>(now - fDelayedTicks[i]) > 0) {
                    due = fDelayedMessages[i];
                    fDelayedMessages.erase(fDelayedMessages.begin() + static_cast<std::ptrdiff_t>(i));
                    fDelayedTicks.erase(fDelayedTicks.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
            }
        }
        if (due == nullptr)
            break;
        due->RePost();
        due->Release();
    }
}

void VTaskMgr::CancelMessages(IMessageable* target)
{
    std::vector<VMessage*> dropped;
    {
        StLocker<XTaskMgrMutexImpl> lock(fMutex);
        size_t kept = 0;
        for (size_t i = 0; i < fDelayedMessages.size(); ++i) {
            if (fDelayedMessages[i]->GetBoundTarget() == target) {
                dropped.push_back(fDelayedMessages[i]);
            } else {
                fDelayedMessages[kept] = fDelayedMessages[i];
                fDelayedTicks[kept] = fDelayedTicks[i];
                ++kept;
            }
        }
        fDelayedMessages.resize(kept);
        fDelayedTicks.resize(kept);
    }
    for (VMessage* message : dropped) {
        message->Abort();
        message->Release();
    }
    std::vector<VRefPtr<VTask>> tasks;
    GetTasks(tasks);
    for (const VRefPtr<VTask>& task : tasks)
        task->CancelMessages(target);
}

}  // namespace bkit
