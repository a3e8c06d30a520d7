// IIdleable.h - objects called by their task between messages.
//
// This file defines IIdleable, the mixin of objects that want DoIdle called on
// one task at every idle pass of its message loop, and XIdleMessage, a message
// that calls an idler and posts itself again 16 ms later, for loops that run no
// idle passes. An idler retains the task it idles on and is called on that
// task only. It may be stopped or destroyed on any thread: stopping it from
// another thread waits until an idle pass of its task that may be calling it
// is over, so the idler can be freed at once afterwards; a task that stops it
// executes its own messages while it waits, so DoIdle may send to that task.
// The base destructor stops idling only after a derived class's members are
// gone: a derived idler whose DoIdle uses its own members and that may be
// destroyed on another task calls StopIdling in its own destructor.
// An idle message holds its idler without reference: keep the idler alive
// while one of its idle messages is queued or delayed.
#pragma once

#include <atomic>
#include <cstdint>

#include "basekit/runtime/VMessage.h"

namespace bkit {

class VTask;

class IIdleable {
public:
    IIdleable();
    IIdleable(const IIdleable&) = delete;
    IIdleable& operator=(const IIdleable&) = delete;
    // Stops idling.
    virtual ~IIdleable();

    // The work of one idle pass. Does nothing here.
    virtual void DoIdle();

    // Starts idling on task (the calling task for the second form; nothing
    // happens without one). Moving to another task unregisters from the old
    // one and releases it.
    void StartIdling(VTask* task);
    void StartIdling();

    // Stops idling, unregisters from the task and releases it.
    void StopIdling();

    // Calls DoIdle when idling.
    void Idle();

    bool IsIdling() const { return fIdling.load(std::memory_order_acquire) != 0; }

    // The task idled on, without reference; null when none.
    VTask* GetIdlingTask() const { return fTask; }

private:
    VTask* fTask;
    std::atomic<uint8_t> fIdling;
};

class XIdleMessage : public VMessage {
public:
    explicit XIdleMessage(IIdleable* idler);

    // When the idler is idling: calls its DoIdle, then posts a new idle message
    // for it to the calling task, due 16 ms later.
    void DoExecute() override;

private:
    IIdleable* fIdler;
};

}  // namespace bkit
