// VMessageIdleTest.cpp - idlers, idle passes and waiting in a task's message loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "basekit/runtime/IIdleable.h"
#include "basekit/runtime/VMessageQueue.h"
#include "basekit/runtime/VSystem.h"
#include "VMessageTestSupport.h"

namespace bkit {
namespace {

using testing::EnsureTaskManager;
using testing::Worker;

class CountingIdler : public IIdleable {
public:
    // Stops before its members go: a pass of another task may be calling
    // DoIdle, which uses them.
    ~CountingIdler() override { StopIdling(); }
    void DoIdle() override
    {
        ++fCalls;
        if (fOnIdle)
            fOnIdle();
    }
    std::atomic<int> fCalls{0};
    std::function<void()> fOnIdle;
};

class VMessageIdleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureTaskManager();
        testing::ResetMainQueue();
    }
    void TearDown() override { testing::ResetMainQueue(); }
};

TEST_F(VMessageIdleTest, AnIdlerRegisteredTwiceIsCalledOncePerPass)
{
    CountingIdler idler;
    idler.StartIdling();
    EXPECT_EQ(idler.GetIdlingTask(), VTask::GetMain());
    VTask::GetMain()->RegisterIdler(&idler);
    ASSERT_TRUE(VTask::GetMain()->_CheckIdleEvents());
    EXPECT_EQ(idler.fCalls, 1);

    idler.StopIdling();
    EXPECT_EQ(idler.GetIdlingTask(), nullptr);
    ASSERT_TRUE(VTask::GetMain()->_CheckIdleEvents());
    EXPECT_EQ(idler.fCalls, 1);
}

TEST_F(VMessageIdleTest, ARegistrationChangeEndsThePass)
{
    CountingIdler first;
    CountingIdler second;
    first.StartIdling();
    second.StartIdling();
    first.fOnIdle = [&] { first.StopIdling(); };
    ASSERT_TRUE(VTask::GetMain()->_CheckIdleEvents());
    EXPECT_EQ(first.fCalls, 1);
    EXPECT_EQ(second.fCalls, 0);
    ASSERT_TRUE(VTask::GetMain()->_CheckIdleEvents());
    EXPECT_EQ(first.fCalls, 1);
    EXPECT_EQ(second.fCalls, 1);
}

TEST_F(VMessageIdleTest, IdlePassesDoNotNest)
{
    CountingIdler idler;
    bool nested = true;
    idler.fOnIdle = [&] { nested = VTask::GetMain()->_CheckIdleEvents(); };
    idler.StartIdling();
    ASSERT_TRUE(VTask::GetMain()->_CheckIdleEvents());
    EXPECT_FALSE(nested);
}

TEST_F(VMessageIdleTest, AnIdlerDestroyedOnAnotherTaskIsNoLongerCalled)
{
    // The worker runs idle passes all the time; destroying its idler here
    // must wait out a pass in progress and leave nothing behind to call.
    Worker worker;
    for (int round = 0; round < 20; ++round) {
        auto* idler = new CountingIdler;
        idler->fOnIdle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
        idler->StartIdling(worker.Task());
        for (int i = 0; i < 5000 && idler->fCalls == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_GT(idler->fCalls, 0);
        delete idler;
    }
}

TEST_F(VMessageIdleTest, StoppingAnIdlerThatWaitsForTheStopperDoesNotDeadlock)
{
    // The idler's pass waits for an answer from the main task, which at the
    // same time waits for that pass to end.
    Worker worker;
    auto* idler = new CountingIdler;
    std::atomic<bool> waiting{false};
    idler->fOnIdle = [&waiting] {
        waiting = true;
        VFunctionMessage::PostToAndWait(VTask::GetMain(), [] {});
    };
    idler->StartIdling(worker.Task());
    while (!waiting)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    delete idler;
}

TEST_F(VMessageIdleTest, IdleMessagesComeBackUntilTheIdlerStops)
{
    // Idling but not listed: only the idle messages call it.
    CountingIdler idler;
    idler.StartIdling();
    VTask::GetMain()->UnregisterIdler(&idler);
    auto* message = new XIdleMessage(&idler);
    ASSERT_TRUE(message->PostTo(VTask::GetMain()));
    message->Release();
    EXPECT_TRUE(VTask::ExecuteMessages(false));
    EXPECT_EQ(idler.fCalls, 1);

    // The next one is a delayed message, delivered by an idle pass.
    const uint64_t start = VSystem::GetCurrentTime();
    while (idler.fCalls < 2 && VSystem::GetCurrentTime() - start < 5000)
        VTask::ExecuteMessagesWithTimeout(5, true);
    const int callsWhenStopped = idler.fCalls;
    EXPECT_GE(callsWhenStopped, 2);
    idler.StopIdling();
    VTask::ExecuteMessagesWithTimeout(100, true);
    VTask::ExecuteMessagesWithTimeout(100, true);
    EXPECT_EQ(idler.fCalls, callsWhenStopped);
    VTaskMgr::Get()->CancelMessages(VTask::GetMain());
}

TEST_F(VMessageIdleTest, SettingTheQueueEventEndsAWait)
{
    VTask* self = VTask::GetMain();
    std::thread waker([self] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        self->SetMessageQueueEvent();
    });
    bool timedOut = true;
    const uint64_t start = VSystem::GetCurrentTime();
    EXPECT_FALSE(VTask::WaitAndExecuteMessages(5000, &timedOut));
    EXPECT_FALSE(timedOut);
    EXPECT_LT(VSystem::GetCurrentTime() - start, 4000u);
    waker.join();

    // The untimed form ends the same way.
    std::thread waker2([self] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        self->SetMessageQueueEvent();
    });
    EXPECT_FALSE(VTask::WaitAndExecuteMessages());
    waker2.join();
}

TEST_F(VMessageIdleTest, AWaitThatRunsOutExecutesWhatCameMeanwhile)
{
    VTask* self = VTask::GetMain();
    std::atomic<int> ran{0};
    std::thread poster([self, &ran] {
        VFunctionMessage::PostFunctionTo(self, [&ran] { ++ran; });
    });
    bool timedOut = false;
    EXPECT_TRUE(VTask::WaitAndExecuteMessages(80, &timedOut));
    EXPECT_TRUE(timedOut);
    poster.join();
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(self->IsResponding());
}

TEST_F(VMessageIdleTest, WaitingOnAThreadThatIsNoTaskPausesForReal)
{
    std::thread outsider([] {
        ASSERT_EQ(VTask::GetCurrent(), nullptr);
        const uint64_t start = VSystem::GetCurrentTime();
        EXPECT_FALSE(VTask::ExecuteMessagesWithTimeout(40, true));
        EXPECT_EQ(VTask::RetainMessageWithTimeout(40), nullptr);
        EXPECT_GE(VSystem::GetCurrentTime() - start, 78u);
    });
    outsider.join();
}

}  // namespace
}  // namespace bkit
