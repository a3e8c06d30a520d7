// VMessageTestSupport.h - shared helpers of the message, queue and idler tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "basekit/runtime/IMessageable.h"
#include "basekit/runtime/VMessage.h"
#include "basekit/runtime/VMessageQueue.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit::testing {

// The test program's thread becomes the main task once for all tests.
inline void EnsureTaskManager()
{
    if (!VTaskMgr::IsInited()) {
        ASSERT_TRUE(VTaskMgr::Init(nullptr));
    }
}

// Empties the main task's queue of messages and pending wake-ups that a test
// left behind.
inline void ResetMainQueue()
{
    VMessageQueue* queue = VTask::GetMain()->RetainMessageQueue();
    queue->CancelMessages();
    queue->Wait(0);
    queue->Release();
}

// Messages live on the heap: a queue keeps a reference to a message and may
// drop it only after the sender has returned.
template <class T, class... Args>
VRefPtr<T> New(Args&&... args)
{
    return VRefPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

// A target that records, in order, the numbers of the messages it received
// and the task that ran each.
class RecordingTarget : public IMessageable {
public:
    void DoMessage(VMessage& message) override;

    std::vector<int> Numbers() const
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fNumbers;
    }
    std::vector<int32_t> Tasks() const
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fTasks;
    }

private:
    mutable std::mutex fMutex;
    std::vector<int> fNumbers;
    std::vector<int32_t> fTasks;
};

// A message carrying a number for RecordingTarget.
class NumberedMessage : public VMessage {
public:
    explicit NumberedMessage(int number) : fNumber(number) {}
    int GetNumber() const { return fNumber; }

private:
    int fNumber;
};

inline void RecordingTarget::DoMessage(VMessage& message)
{
    std::lock_guard<std::mutex> lock(fMutex);
    fNumbers.push_back(static_cast<NumberedMessage&>(message).GetNumber());
    fTasks.push_back(VTask::GetCurrentID());
}

// A thread task that runs its message loop (with idle passes) until killed.
// Exceptions thrown by messages are counted rather than ending the thread.
class Worker {
public:
    Worker()
    {
        fTask = new VTask(0, eTaskStylePreemptive, [this] { Loop(); });
        EXPECT_TRUE(fTask->Run());
    }
    ~Worker()
    {
        if (fBlocked && !fOpened)
            Open();
        fTask->Kill();
        EXPECT_TRUE(fTask->WaitForDeath(10000));
        fTask->Release();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    VTask* Task() const { return fTask; }
    int CaughtExceptions() const { return fCaught.load(); }

    // Makes the worker block in a message until Open is called, and returns
    // once it is blocked: its queue is empty then, and later messages wait.
    void Block()
    {
        fBlocked = true;
        std::shared_future<void> gate = fGate.get_future().share();
        std::promise<void> started;
        std::future<void> isStarted = started.get_future();
        VFunctionMessage::PostFunctionTo(fTask, [gate, &started] {
            started.set_value();
            gate.wait();
        });
        isStarted.wait();
    }
    void Open()
    {
        fOpened = true;
        fGate.set_value();
    }

private:
    void Loop()
    {
        VTask* self = VTask::GetCurrent();
        while (!self->IsDying()) {
            try {
                VTask::ExecuteMessagesWithTimeout(20, true);
            } catch (const std::bad_function_call&) {
                ++fCaught;
            }
        }
    }

    VTask* fTask;
    std::atomic<int> fCaught{0};
    std::promise<void> fGate;
    bool fBlocked = false;
    bool fOpened = false;
};

}  // namespace bkit::testing
