// DelayedAction.cpp - a cancellable action run once after a delay.
#include "basekit/platform/DelayedAction.h"

#include <chrono>

namespace bkit {
namespace platform {

void DelayedAction::Schedule(int ms, std::function<void()> action)
{
    Cancel();
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fCancelled = false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    fThread = std::thread([this, deadline, action = std::move(action)] {
        {
            std::unique_lock<std::mutex> lock(fMutex);
            if (fCondition.wait_until(lock, deadline, [this] { return fCancelled; }))
                return;
        }
        action();
    });
}

void DelayedAction::Cancel()
{
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fCancelled = true;
    }
    fCondition.notify_all();
    if (fThread.joinable() && fThread.get_id() != std::this_thread::get_id())
        fThread.join();
}

}  // namespace platform
}  // namespace bkit
