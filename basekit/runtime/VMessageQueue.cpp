// VMessageQueue.cpp - a task's first-in first-out list of messages.
#include "basekit/runtime/VMessageQueue.h"

#include <algorithm>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VMessage.h"
#include "basekit/runtime/VSyncEvent.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

namespace {

// Tells the processor that this thread is spinning.
inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Holds a queue's critical section for a scope. The queue's sections last a
// few instructions, so a contended caller first retries briefly: a critical
// section's own contention path puts the caller to sleep on an event, which
// costs two system calls per collision between a poster and the owner.
class StQueueLock {
public:
    explicit StQueueLock(VCriticalSection& lock) : fLock(lock)
    {
        for (int attempt = 0; attempt < kSpinAttempts; ++attempt) {
            if (fLock.TryToLock())
                return;
            CpuRelax();
        }
        fLock.Lock();
    }
    ~StQueueLock() { fLock.Unlock(); }
    StQueueLock(const StQueueLock&) = delete;
    StQueueLock& operator=(const StQueueLock&) = delete;

private:
    static constexpr int kSpinAttempts = 64;

    VCriticalSection& fLock;
};

}  // namespace

VMessageQueue::VMessageQueue()
    : fEvent(new VSyncEvent), fStamp(0), fWakeUp(0), fEventSet(false)
{
}

VMessageQueue::~VMessageQueue()
{
    for (VMessage* message : fMessages)
        message->Release();
    fMessages.clear();
    fEvent->Release();
}

bool VMessageQueue::AddMessage(VMessage* message)
{
    if (message == nullptr)
        return false;
    const int signature = message->GetCoalescingSignature();
    StQueueLock lock(fLock);
    if (signature != 0) {
        auto queued = std::find_if(fMessages.begin(), fMessages.end(), [signature](VMessage* m) {
            return m->GetCoalescingSignature() == signature;
        });
        if (queued != fMessages.end() && !(*queued)->DoCoalesce(*message))
            return false;
    }
    message->Retain();
    fMessages.push_back(message);
    _RaiseStamp();
    _SetEvent();
    return true;
}

void VMessageQueue::_RaiseStamp()
{
    // Only writers holding the lock change the stamp: no read-modify-write.
    fStamp.store(fStamp.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void VMessageQueue::_SetEvent()
{
    if (!fEventSet) {
        fEventSet = true;
        fEvent->Set();
    }
}

bool VMessageQueue::_ResetEventIfIdle()
{
    if (!fMessages.empty() || fWakeUp != 0)
        return false;
    if (fEventSet) {
        fEventSet = false;
        fEvent->Reset();
    }
    return true;
}

VMessage* VMessageQueue::_RetainMessage()
{
    if (fMessages.empty())
        return nullptr;
    VMessage* message = fMessages.front();
    fMessages.pop_front();
    return message;
}

bool VMessageQueue::_ConsumeWakeUp()
{
    if (fWakeUp == 0)
        return false;
    fWakeUp = 0;
    return true;
}

VMessage* VMessageQueue::RetainMessage()
{
    StQueueLock lock(fLock);
    return _RetainMessage();
}

VMessage* VMessageQueue::RetainMessageWithTimeout(int ms, bool* timedOut)
{
    // Look before waiting: a busy queue is served without touching the event.
    // An empty one is first watched for a moment through its stamp, since
    // messages tend to come in bursts and putting the owner to sleep and
    // waking it costs system calls on both sides; the event is reset, and
    // waited on, only when nothing came. After a wait, look again; an event
    // that fired for a message someone else removed meanwhile sends us back to
    // waiting for the rest of the time.
    const uint64_t start = VSystem::GetCurrentTime();
    bool fired = false;
    bool watched = ms == 0;
    for (bool waited = false;;) {
        uint32_t stamp;
        {
            StQueueLock lock(fLock);
            const bool wokenUp = _ConsumeWakeUp();
            VMessage* message = wokenUp ? nullptr : _RetainMessage();
            if (wokenUp || message) {
                if (timedOut)
                    *timedOut = false;
                return message;
            }
            stamp = fStamp.load(std::memory_order_relaxed);
            if (watched)
                _ResetEventIfIdle();
        }
        if (!watched) {
            watched = true;
            _WatchStamp(stamp);
            continue;
        }
        if (waited && !fired)
            break;
        int remaining = -1;
        if (ms >= 0) {
            const uint64_t elapsed = VSystem::GetCurrentTime() - start;
            remaining = elapsed >= static_cast<uint64_t>(ms) ? 0 : ms - static_cast<int>(elapsed);
            if (waited && remaining == 0)
                break;
        }
        fired = (remaining < 0) ? fEvent->Lock() : fEvent->Lock(remaining);
        waited = true;
    }
    if (timedOut)
        *timedOut = true;
    return nullptr;
}

bool VMessageQueue::_WatchStamp(uint32_t stamp) const
{
    for (int i = 0; i < kStampWatches; ++i) {
        if (fStamp.load(std::memory_order_relaxed) != stamp)
            return true;
        CpuRelax();
    }
    return false;
}

bool VMessageQueue::Wait(int ms)
{
    bool mustWait;
    {
        StQueueLock lock(fLock);
        mustWait = _ResetEventIfIdle();
    }
    const bool fired = !mustWait || ((ms < 0) ? fEvent->Lock() : fEvent->Lock(ms));
    StQueueLock lock(fLock);
    _ConsumeWakeUp();
    return fired;
}

void VMessageQueue::SetEvent()
{
    StQueueLock lock(fLock);
    _RaiseStamp();
    fWakeUp = 1;
    _SetEvent();
}

void VMessageQueue::CancelMessages(IMessageable* target)
{
    std::deque<VMessage*> removed;
    {
        StQueueLock lock(fLock);
        auto keep = std::stable_partition(fMessages.begin(), fMessages.end(), [target](VMessage* m) {
            return target ? m->GetBoundTarget() != target : m->IsBound();
        });
        removed.assign(keep, fMessages.end());
        fMessages.erase(keep, fMessages.end());
    }
    // Aborting wakes senders, whose code must not run under our lock.
    for (VMessage* message : removed) {
        message->Abort();
        message->Release();
    }
}

void VMessageQueue::CancelMessages()
{
    std::deque<VMessage*> removed;
    {
        StQueueLock lock(fLock);
        removed.swap(fMessages);
    }
    for (VMessage* message : removed) {
        message->Abort();
        message->Release();
    }
}

bool VMessageQueue::RemoveMessage(VMessage* message)
{
    {
        StQueueLock lock(fLock);
        auto found = std::find(fMessages.begin(), fMessages.end(), message);
        if (found == fMessages.end())
            return false;
        fMessages.erase(found);
    }
    message->Release();
    return true;
}

VIndex VMessageQueue::CountMessages() const
{
    StQueueLock lock(fLock);
    return static_cast<VIndex>(fMessages.size());
}

bool VMessageQueue::IsEmpty() const
{
    StQueueLock lock(fLock);
    return fMessages.empty();
}

// --- the queue and message loop of a task ---

namespace {

// The longest single wait of a message loop, so that a task notices that it
// is dying or that its queue event was raised.
constexpr int kMessageWaitSliceMs = 1000;

// A task that passed no message loop for this long is not responding.
constexpr uint64_t kRespondingMs = 1000;

// Milliseconds left of ms since start; 0 once used up.
int RemainingMs(uint64_t start, int ms)
{
    const uint64_t elapsed = VSystem::GetCurrentTime() - start;
    return elapsed >= static_cast<uint64_t>(ms) ? 0 : static_cast<int>(static_cast<uint64_t>(ms) - elapsed);
}

// The queue of a task, created when missing. It is only removed by the task's
// destructor, so whoever holds the task may use it without a reference of its
// own: that saves two contended atomic operations per message on each side.
// slot is the task's queue pointer, handed in by the task's own members.
VMessageQueue* QueueOf(VTask* task, std::atomic<VMessageQueue*>& slot)
{
    VMessageQueue* queue = slot.load(std::memory_order_acquire);
    if (queue == nullptr) {
        task->RetainMessageQueue()->Release();
        queue = slot.load(std::memory_order_acquire);
    }
    return queue;
}

}  // namespace

VMessageQueue* VTask::RetainMessageQueue()
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    if (queue == nullptr) {
        VMessageQueue* created = new VMessageQueue;
        if (fMessageQueue.compare_exchange_strong(queue, created, std::memory_order_acq_rel))
            queue = created;
        else
            created->Release();  // another thread installed one first
    }
    queue->Retain();
    return queue;
}

bool VTask::AddMessage(VMessage* message)
{
    return QueueOf(this, fMessageQueue)->AddMessage(message);
}

bool VTask::IsAnyMessagePending() const
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue != nullptr && !queue->IsEmpty();
}

uint32_t VTask::GetMessageQueueStamp() const
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue ? queue->GetStamp() : 0;
}

bool VTask::IsResponding() const
{
    return VSystem::GetCurrentTime() - fLastMessagePassTime.load(std::memory_order_acquire) < kRespondingMs;
}

void VTask::SetMessageQueueEvent()
{
    VMessageQueue* queue = RetainMessageQueue();
    fQueueEventStamp.fetch_add(1, std::memory_order_acq_rel);
    queue->SetEvent();
    queue->Release();
}

void VTask::CancelMessages(IMessageable* target)
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    if (queue)
        queue->CancelMessages(target);
}

bool VTask::_ExecuteMessages(VTask* task, VMessage* first, bool allowIdle)
{
    bool executed = false;
    if (first) {
        VMessageQueue* queue = QueueOf(task, task->fMessageQueue);
        VMessage* message = first;
        while (message) {
            VRefPtr<VMessage> owner = VRefPtr<VMessage>::Adopt(message);
            {
                // Errors a message leaves behind are its own, not the task's.
                StErrorContextInstaller errors(false, false);
                message->Execute();
            }
            executed = true;
            message = queue->RetainMessage();
        }
    } else {
        // The manager's system-message polling is never switched on here and
        // no platform task delivers system messages, so there is none to ask.
        if (allowIdle && !task->fInIdle &&
            VSystem::GetCurrentDeltaTicks(task->fLastIdleTick) > task->fIdleIntervalTicks)
            task->_CheckIdleEvents();
    }
    task->fLastMessagePassTime.store(VSystem::GetCurrentTime(), std::memory_order_release);
    return executed;
}

VMessage* VTask::_RetainMessageWithTimeout(VTask* task, int ms, bool* timedOut)
{
    // Only a fiber's wait concerns the fiber scheduler; asking for it would
    // take the registry mutex at every wait of a thread task.
    IFiberScheduler* scheduler = task->_IsFiber() ? VTaskMgr::Get()->RetainFiberScheduler() : nullptr;
    if (scheduler)
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(true);
    const bool blocked = task->SetBlockedReason(eTaskWaitingForMessage);
    VMessage* message = QueueOf(task, task->fMessageQueue)->RetainMessageWithTimeout(ms, timedOut);
    if (blocked)
        task->ClearBlockedReason(eTaskWaitingForMessage);
    if (scheduler) {
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(false);
        scheduler->Release();
    }
    return message;
}

bool VTask::ExecuteMessages(bool allowIdle)
{
    VTask* task = GetCurrent();
    if (task == nullptr)
        return false;
    VMessage* first = nullptr;
    if (VMessageQueue* queue = task->fMessageQueue.load(std::memory_order_acquire))
        first = queue->RetainMessage();
    return _ExecuteMessages(task, first, allowIdle);
}

bool VTask::ExecuteMessagesWithTimeout(int ms, bool allowIdle)
{
    VTask* task = GetCurrent();
    if (task == nullptr) {
        // No queue to wait on: the caller still gets the pause it asked for.
        if (ms > 0)
            VSystem::Delay(ms);
        return false;
    }
    VMessage* first = _RetainMessageWithTimeout(task, ms, nullptr);
    return _ExecuteMessages(task, first, allowIdle);
}

VMessage* VTask::RetainMessageWithTimeout(int ms)
{
    VTask* task = GetCurrent();
    if (task == nullptr) {
        if (ms > 0)
            VSystem::Delay(ms);
        return nullptr;
    }
    return _RetainMessageWithTimeout(task, ms, nullptr);
}

bool VTask::WaitAndExecuteMessages(int ms, bool* timedOut)
{
    bool result = false;
    VTask* task = GetCurrent();
    if (ms < 1) {
        result = true;
    } else if (task == nullptr) {
        VSystem::Delay(ms);
        result = true;
    } else if (!task->IsDying()) {
        const uint32_t stamp = task->fQueueEventStamp.load(std::memory_order_acquire);
        const uint64_t start = VSystem::GetCurrentTime();
        do {
            if (task->fQueueEventStamp.load(std::memory_order_acquire) != stamp)
                break;
            bool waitTimedOut = false;
            const int slice = std::min(RemainingMs(start, ms), kMessageWaitSliceMs);
            VMessage* message = _RetainMessageWithTimeout(task, slice, &waitTimedOut);
            if (message == nullptr && !waitTimedOut)
                break;  // woken without a message
            _ExecuteMessages(task, message, true);
            if (RemainingMs(start, ms) == 0) {
                result = true;
                break;
            }
        } while (!task->IsDying());
    }
    if (timedOut)
        *timedOut = result;
    return result;
}

bool VTask::WaitAndExecuteMessages()
{
    VTask* task = GetCurrent();
    if (task == nullptr)
        return false;
    const uint32_t stamp = task->fQueueEventStamp.load(std::memory_order_acquire);
    while (!task->IsDying()) {
        if (task->fQueueEventStamp.load(std::memory_order_acquire) != stamp)
            break;
        bool waitTimedOut = false;
        VMessage* message = _RetainMessageWithTimeout(task, kMessageWaitSliceMs, &waitTimedOut);
        if (message == nullptr && !waitTimedOut)
            break;
        _ExecuteMessages(task, message, true);
    }
    return false;
}

}  // namespace bkit
