// VMessageQueue.h - a task's first-in first-out list of messages.
//
// This file defines VMessageQueue, the reference-counted queue every task has at
// most one of. It holds a reference to each queued message, guards its list with
// its own critical section and signals an event that is set whenever the queue has
// messages or a wake-up is pending. Waiting happens on that event outside the
// lock, so any thread may add, remove or cancel while the owner waits. The stamp
// counts every added message and every wake-up; a task compares stamps to learn
// that something happened without taking a message.
//
// Retain... operations hand the caller the queue's reference to the message.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IMessageable;
class VMessage;
class VSyncEvent;

class VMessageQueue : public VObject, public IRefCountable {
public:
    VMessageQueue();
    // Releases every message still queued, without aborting it: queues of tasks
    // are cancelled by their task before they go.
    ~VMessageQueue() override;

    VMessageQueue(const VMessageQueue&) = delete;
    VMessageQueue& operator=(const VMessageQueue&) = delete;

    // Appends the message (retained) at the back. A message with a non-zero
    // coalescing signature is first offered to the first queued message of the
    // same signature (DoCoalesce); when that one absorbs it, nothing is added
    // and the answer is false.
    bool AddMessage(VMessage* message);

    // Takes the front message without waiting; null when the queue is empty.
    VMessage* RetainMessage();

    // Waits at most ms milliseconds (ms < 0: without limit) for a message or a
    // wake-up. A pending wake-up is consumed and no message is returned, with
    // timedOut false; otherwise the front message is returned, and timedOut is
    // true when the wait ended without anything to take. timedOut may be null.
    VMessage* RetainMessageWithTimeout(int ms, bool* timedOut);

    // Waits at most ms milliseconds (ms < 0: without limit) for a message or a
    // wake-up and consumes a pending wake-up; no message is taken. Answers
    // whether the wait ended by the event.
    bool Wait(int ms);

    // Wakes the waiting owner without a message: raises the stamp, marks a
    // pending wake-up and sets the event.
    void SetEvent();

    // Removes every message bound to target (for null: every message with no
    // context), keeping the order of the others; the removed ones are aborted
    // and released.
    void CancelMessages(IMessageable* target);

    // Aborts and removes every message.
    void CancelMessages();

    // Removes this one message (released, not aborted); answers whether it was
    // queued.
    bool RemoveMessage(VMessage* message);

    VIndex CountMessages() const;
    bool IsEmpty() const;

    // Messages added plus wake-ups, modulo 2^32.
    uint32_t GetStamp() const { return fStamp.load(std::memory_order_acquire); }

private:
    // The event is reset lazily, by a waiter about to block on an empty queue,
    // so that a busy queue touches it only when it wakes a sleeping owner.
    // These run under the lock.
    VMessage* _RetainMessage();
    // Consumes a pending wake-up; answers whether there was one.
    bool _ConsumeWakeUp();
    void _SetEvent();
    void _RaiseStamp();
    // With no message and no wake-up: resets the event and answers true.
    bool _ResetEventIfIdle();
    // Outside the lock: watches the stamp a short while; answers whether it
    // moved away from stamp.
    bool _WatchStamp(uint32_t stamp) const;

    // About a few tens of microseconds of watching.
    static constexpr int kStampWatches = 1000;

    std::deque<VMessage*> fMessages;
    mutable VCriticalSection fLock;
    VSyncEvent* fEvent;
    std::atomic<uint32_t> fStamp;
    uint8_t fWakeUp;
    // Mirrors the event's flag as the queue last set it.
    bool fEventSet;
};

}  // namespace bkit
