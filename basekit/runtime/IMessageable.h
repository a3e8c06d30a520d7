// IMessageable.h - message targets and the context that binds them to a task.
//
// This file defines IMessageable, the mixin of every object that can receive
// messages, and VMessagingContext, the small reference-counted record that ties a
// target to the task that executes its messages. A target owns one context for
// its whole life; messages hold their own reference to it while they are bound,
// so the context outlives the target: the target's destructor clears the
// context's target pointer, and a message that reaches a context without target
// executes nothing. RetainMessagingContext hands the caller a new reference.
// Every operation is thread-safe: the context's fields are atomic words.
#pragma once

#include <atomic>
#include <cstdint>

#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IMessageable;
class VMessage;

class VMessagingContext : public VObject, public IRefCountable {
public:
    // Created with reference count 1, messaging on, bound to the calling task
    // (0 before the task manager runs).
    explicit VMessagingContext(IMessageable* target);

    // The id of the task that executes the target's messages; 0 once the target
    // is gone.
    int GetMessagingTask() const;

    // The target, or null once it is gone. The pointer carries no reference:
    // use it only on the target's own task.
    IMessageable* GetTarget() const { return fTarget.load(std::memory_order_acquire); }

    // Messages can be delivered: messaging is on, the target is set and the
    // task id is not 0.
    bool IsValid() const;

    bool IsMessagingOn() const { return fMessagingOn.load(std::memory_order_acquire) != 0; }

    // Used by IMessageable only.
    void SetMessagingTask(int taskID) { fTaskID.store(taskID, std::memory_order_release); }
    void SetMessagingOn(bool on) { fMessagingOn.store(on ? 1 : 0, std::memory_order_release); }
    void ClearTarget() { fTarget.store(nullptr, std::memory_order_release); }

private:
    std::atomic<IMessageable*> fTarget;
    std::atomic<int> fTaskID;
    std::atomic<uint8_t> fMessagingOn;
};

class IMessageable {
public:
    // Makes the context with this object as target and the calling task as
    // the executing task.
    IMessageable();
    IMessageable(const IMessageable&) = delete;
    IMessageable& operator=(const IMessageable&) = delete;

    // Clears the context's target, then drops this object's reference: messages
    // still bound to the context execute nothing.
    virtual ~IMessageable();

    // Called on the target's task for a message whose DoExecute is the default.
    // Does nothing here.
    virtual void DoMessage(VMessage& message);

    // Switch delivery on or off; posts to a target with messaging off fail.
    void StartMessaging();
    void StopMessaging();

    // The id of the task that executes this target's messages, 0 when none.
    int GetMessagingTask() const;

    // Moves the target to another task (tasks set their own id when built).
    void SetMessagingTask(int taskID);

    // The context with a new reference for the caller.
    VMessagingContext* RetainMessagingContext() const;

private:
    VMessagingContext* fMessagingContext;
};

}  // namespace bkit
