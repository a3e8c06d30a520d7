// VMessage.h - messages between tasks: post, send, post-and-wait, functions.
//
// This file defines VMessage, a reference-counted unit of work executed on the
// task that owns its target, and VFunctionMessage, which carries a plain function
// to a task. A message is bound while it holds a context (posted, delayed or
// being sent) and cannot be posted again until it was executed, aborted or
// dropped. The binding is one atomic pointer taken by exchange, so exactly one
// of execute, abort, time-out and re-post wins for each delivery.
//
// Ownership: a queue retains the messages it holds; the poster keeps its own
// reference and releases it when it no longer needs the message. Make messages
// with new, never on the stack: the executing task may drop its reference
// after a sender has already woken and returned.
//
// Threads: posting, sending and aborting may be done from any thread; Execute
// runs on the target's task. A thread that is no task may post, send and
// post-and-wait; having no messages of its own to execute, it sleeps until the
// answer comes. A message whose DoExecute throws is marked aborted (its sender
// wakes) and the exception goes on to the executing task's loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "basekit/runtime/IMessageable.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VMessageQueue;
class VSyncEvent;
class VTask;

class VMessage : public VObject, public IRefCountable {
public:
    // Reference count 1, unbound, neither answered nor aborted.
    VMessage();
    // Releases a context that is still bound.
    ~VMessage() override;

    VMessage(const VMessage&) = delete;
    VMessage& operator=(const VMessage&) = delete;

    // Messages with the same non-zero signature meet in a queue's coalescing
    // (see VMessageQueue::AddMessage). 0: never coalesced.
    virtual int GetCoalescingSignature() const;

    // The work. Default: the target's DoMessage(*this) when the context and its
    // target still exist.
    virtual void DoExecute();

    // Called on the message already queued with a newer one of the same
    // signature. False: the newer one is absorbed and not queued; true: it is
    // queued as well. Default true.
    virtual bool DoCoalesce(const VMessage& newer);

    // Posts to the target's task. executeNowIfSameTask runs the message at once
    // when the caller is that task. delayMs > 0 delivers it at the first idle
    // pass of some task after the delay. False for a null target, a target
    // without running task or with messaging off; true at once when the message
    // is already bound (it is not queued twice).
    bool PostTo(IMessageable* target, bool executeNowIfSameTask = false, int delayMs = 0);

    // Runs the message on the target's task and blocks until it ran (at most ms
    // milliseconds for the first form). A message the target's task had not
    // taken yet when the time ran out is aborted and the answer is false; one
    // already executing is waited for. A send to the calling task executes at
    // once. False for a null target or a bound message.
    bool SendTo(IMessageable* target, int ms);
    bool SendTo(IMessageable* target);

    // The common road of PostTo and SendTo on a context the caller keeps its
    // own reference to. False for a null context or a bound message.
    bool SendOrPostTo(VMessagingContext* context, int delayMs, bool executeNowIfSameTask, bool sendIt, int ms);

    // Posts to the target and executes the caller's own messages until the
    // answer comes, the time (ms) is used up, the message is aborted or the
    // caller is dying. Answers whether the message was executed. When the time
    // runs out before the target's task took the message, it is aborted.
    bool PostToAndWaitExecutingMessages(IMessageable* target, int ms);
    bool PostToAndWaitExecutingMessages(IMessageable* target);

    // On the target's task: takes the binding; when it was still bound, runs
    // DoExecute, marks the message answered and wakes a waiting sender.
    void Execute();

    // Takes the binding; when it was still bound, marks the message aborted and
    // wakes a waiting sender. A message already taken is not affected.
    void Abort();

    // Delivers a delayed message: when its context is still on, with a target
    // whose task exists, it is added to that task's queue; otherwise dropped.
    void RePost();

    bool Answered() const { return fAnswered.load(std::memory_order_acquire) != 0; }
    void AnswerIt() { fAnswered.store(1, std::memory_order_release); }
    bool IsAborted() const { return fAborted.load(std::memory_order_acquire) != 0; }

    // True while bound (posted, delayed or being sent).
    bool IsBound() const { return fContext.load(std::memory_order_acquire) != nullptr; }

    // Binds the message to the target's context, or unbinds it for null.
    // Answers whether the message is bound afterwards.
    bool ActivateContext(IMessageable* target);

    // Consumes the caller's reference to context. When the context is valid,
    // its task exists and the message is unbound, binds the message to it and
    // returns the task retained; otherwise releases the context and answers null.
    VTask* _InstallContextAndRetainTask(VMessagingContext* context);

    // The target of the bound context, null when unbound or gone. For queues
    // cancelling the messages of one target; carries no reference.
    IMessageable* GetBoundTarget() const;

protected:
    // Consume the caller's reference to context.
    bool _Post(VMessagingContext* context, bool executeNowIfSameTask);
    bool _Send(VMessagingContext* context, int ms, bool infinite);

private:
    // _Post that hands back the target's task (retained, null when it could
    // not be bound); posted tells whether the message was queued or run.
    VTask* _PostAndRetainTask(VMessagingContext* context, bool executeNowIfSameTask, bool* posted);
    bool _PostToAndWait(IMessageable* target, int ms, bool infinite);
    // Runs DoExecute with context, which the caller has taken from the binding.
    void _ExecuteHere(VMessagingContext* context);
    // On the target's own task: runs the message at once and answers it, then
    // releases task.
    void _ExecuteNowAndRelease(VTask* task);
    // Answered and aborted describe one delivery: a new one clears both.
    void _StartDelivery()
    {
        fAnswered.store(0, std::memory_order_release);
        fAborted.store(0, std::memory_order_release);
    }
    // Marks the message answered or aborted and wakes a sender or a
    // post-and-wait caller.
    void _Finish(bool answered);
    // Takes the binding back; null when it was already taken.
    VMessagingContext* _TakeContext() { return fContext.exchange(nullptr, std::memory_order_acq_rel); }

    std::atomic<VMessagingContext*> fContext;
    // The context while DoExecute runs; touched only by the executing task.
    VMessagingContext* fRunContext;
    std::atomic<VSyncEvent*> fSyncEvent;
    std::atomic<VMessageQueue*> fReplyQueue;
    std::atomic<uint8_t> fAnswered;
    std::atomic<uint8_t> fAborted;
};

// A message that calls a function on the receiving task. The static helpers
// move the function into a new message and release it when done.
class VFunctionMessage : public VMessage {
public:
    explicit VFunctionMessage(std::function<void()>&& function);

    // Calls the function; an empty function throws std::bad_function_call.
    void DoExecute() override;

    // Posts to the task's queue (never executed at once, even on that task).
    // Nothing happens for a null task or one that takes no messages.
    static void PostFunctionTo(VTask* task, std::function<void()>&& function);

    // Post-and-wait to the task; answers whether the function ran.
    static bool PostToAndWait(VTask* task, std::function<void()>&& function);
    static bool PostToAndWait(VTask* task, std::function<void()>&& function, int ms);

    // Runs the function on the main task and waits; runs it here at once when
    // runHere is set or the caller is the main task.
    static void PostToMainTaskAndWait(std::function<void()>&& function, bool runHere = false);

    // Posts the function to the main task's queue; runs it here at once when
    // runHere is set.
    static void PostToMainTask(std::function<void()>&& function, bool runHere = false);

private:
    std::function<void()> fFunction;
};

}  // namespace bkit
