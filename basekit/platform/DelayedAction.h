// DelayedAction.h - a cancellable action run once after a delay on a thread of its own.
//
// This file defines DelayedAction, the stand-in for a block scheduled on a
// global dispatch queue after a delay (dispatch_after), which Linux lacks. The
// action runs on a background thread once the delay has passed, unless Cancel
// (or the destructor) came first. Cancel waits for an action already running
// to finish, so after Cancel returns the action is neither running nor will it
// run. The action must not destroy or cancel its own DelayedAction.
//
// Where it falls short: each scheduled action holds one thread while it waits,
// where the system queue shares a pool; the launcher schedules at most one per
// child, so this costs nothing that matters.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace bkit {
namespace platform {

class DelayedAction {
public:
    DelayedAction() = default;
    ~DelayedAction() { Cancel(); }
    DelayedAction(const DelayedAction&) = delete;
    DelayedAction& operator=(const DelayedAction&) = delete;

    // Runs action once after ms milliseconds of the monotonic clock. An action
    // scheduled earlier is cancelled first.
    void Schedule(int ms, std::function<void()> action);

    // Stops a pending action; waits for one that is running. Safe to call when
    // nothing is scheduled.
    void Cancel();

private:
    std::mutex fMutex;
    std::condition_variable fCondition;
    bool fCancelled = false;
    std::thread fThread;
};

}  // namespace platform
}  // namespace bkit
