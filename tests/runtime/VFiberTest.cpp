// VFiberTest.cpp - fiber tasks handing one baton back and forth with the main
// task, and their waits (freeze, sleep, sync events) through a fiber scheduler
// and under the default one.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VSyncEvent.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacTaskMgr.h"

using namespace bkit;

namespace {

class FiberTest : public ::testing::Test {
protected:
    void SetUp() override { XMacTaskMgr::SetFibersAllowedForTesting(true); }
    void TearDown() override { XMacTaskMgr::SetFibersAllowedForTesting(false); }
};

// A policy for the test: a fiber that must wait hands the baton to the main
// task, and goes on when the main task hands it back, changed flag or not.
class BackToMainScheduler : public VScheduler_void {
public:
    void WaitFlag(int* flag, int value) override
    {
        if (*flag == value)
            VTaskMgr::Get()->YieldToFiber(VTask::GetMain());
    }
};

// A policy for the test that hands the baton back at once, whether the flag
// moved or not: the caller rechecks.
class ReturnsEarlyScheduler : public VScheduler_void {
public:
    void WaitFlag(int*, int) override { VSystem::Delay(1); }
    void WaitFlagWithTimeout(int*, int, int) override { VSystem::Delay(1); }
};

// Installs a scheduler for a scope; the one it replaced comes back afterwards.
class StFiberScheduler {
public:
    // Null installs nothing.
    explicit StFiberScheduler(IFiberScheduler* scheduler)
        : fPrevious(VRefPtr<IFiberScheduler>::Adopt(VTaskMgr::Get()->RetainFiberScheduler()))
    {
        if (!scheduler) return;
        VTaskMgr::Get()->SetFiberScheduler(scheduler);
        scheduler->Release();
    }
    ~StFiberScheduler()
    {
        if (fPrevious.Get()) VTaskMgr::Get()->SetFiberScheduler(fPrevious.Get());
    }

private:
    VRefPtr<IFiberScheduler> fPrevious;
};

}  // namespace

TEST(FiberNotAllowedTest, AFiberTaskNeedsTheProcessToAllowFibers)
{
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [] {}));
    EXPECT_EQ(task->GetPlatformTask(), nullptr);
    EXPECT_FALSE(task->Run());
}

TEST_F(FiberTest, FibersAndTheMainTaskTakeTurns)
{
    std::vector<std::string> steps;
    VTask* main = VTask::GetCurrent();
    ASSERT_EQ(main, VTask::GetMain());
    int32_t fiberID = 0;
    VTask* fiberTask = nullptr;
    auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] {
        fiberID = VTask::GetCurrentID();
        fiberTask = VTask::GetCurrent();
        steps.push_back("fiber 1");
        VTaskMgr::Get()->YieldToFiber(main);
        steps.push_back("fiber 2");
    }));
    ASSERT_NE(fiber->GetPlatformTask(), nullptr);
    EXPECT_LT(fiber->GetID(), 0) << "fiber tasks take negative ids";

    ASSERT_TRUE(fiber->Run()) << "the fiber runs at once and hands the baton back";
    steps.push_back("main 1");
    EXPECT_EQ(fiberTask, fiber.Get());
    EXPECT_EQ(fiberID, fiber->GetID());
    EXPECT_EQ(fiber->GetState(), TS_RUNNING);

    VTaskMgr::Get()->YieldToFiber(fiber.Get());
    steps.push_back("main 2");
    EXPECT_EQ(steps, (std::vector<std::string>{"fiber 1", "main 1", "fiber 2", "main 2"}));
    EXPECT_EQ(fiber->GetState(), TS_DEAD) << "an ended fiber woke its home task";
    EXPECT_EQ(VTask::GetCurrent(), main);
}

TEST_F(FiberTest, YieldingToAnEndedFiberDoesNothing)
{
    bool ran = false;
    auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] { ran = true; }));
    ASSERT_TRUE(fiber->Run());
    ASSERT_TRUE(ran);
    ASSERT_EQ(fiber->GetState(), TS_DEAD);
    // Nobody waits on an ended fiber's baton: a switch would never come back.
    VTaskMgr::Get()->YieldToFiber(fiber.Get());
    EXPECT_EQ(VTask::GetCurrent(), VTask::GetMain());
}

TEST_F(FiberTest, AFiberMeasuresItsFreeStackFromItsThreadsRealBounds)
{
    // Depth guards trust this figure: it must never promise more than the
    // fiber's thread has left, whatever the thread keeps at the top of its stack.
    size_t free = 0;
    size_t realFree = 0;
    auto fiber = VRefPtr<VTask>::Adopt(new VTask(100000, eTaskStyleFiber, [&] {
        char here;
        char* top = nullptr;
        size_t size = 0;
        if (!platform::GetCurrentThreadStack(&top, &size)) return;
        realFree = static_cast<size_t>(&here - (top - size));
        free = VTaskMgr::Get()->GetCurrentFreeStackSize();
    }));
    ASSERT_TRUE(fiber->Run());
    ASSERT_GT(realFree, 0u);
    EXPECT_LE(free, realFree);
    EXPECT_GT(free + 4096, realFree) << "no more than the calling frames are held back";
}

TEST_F(FiberTest, YieldingToATaskOfAnotherHomeDoesNothing)
{
    auto thread = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [] {}));
    // A switch would leave the main task waiting for a baton nobody hands back.
    VTaskMgr::Get()->YieldToFiber(thread.Get());
    VTaskMgr::Get()->YieldToFiber(nullptr);
    EXPECT_EQ(thread->GetState(), TS_CREATED) << "the other task was not touched";
}

TEST_F(FiberTest, AFiberWaitsForAnEventThroughTheScheduler)
{
    StFiberScheduler scheduler(new BackToMainScheduler);
    auto event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
    std::vector<std::string> steps;
    auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] {
        steps.push_back("waiting");
        event->Lock();
        steps.push_back("event seen");
    }));
    ASSERT_TRUE(fiber->Run());
    steps.push_back("main sets");
    event->Set();
    VTaskMgr::Get()->YieldToFiber(fiber.Get());
    EXPECT_EQ(steps, (std::vector<std::string>{"waiting", "main sets", "event seen"}));
    EXPECT_EQ(fiber->GetState(), TS_DEAD);
}

TEST_F(FiberTest, AFrozenFiberRunsOnOnceWoken)
{
    StFiberScheduler scheduler(new BackToMainScheduler);
    std::vector<std::string> steps;
    auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] {
        steps.push_back("freezing");
        VTask::GetCurrent()->Freeze();
        steps.push_back("woken");
    }));
    ASSERT_TRUE(fiber->Run());
    VTaskMgr::Get()->YieldToFiber(fiber.Get());
    EXPECT_EQ(steps, (std::vector<std::string>{"freezing"})) << "a turn without a wake-up leaves it frozen";
    fiber->WakeUp();
    VTaskMgr::Get()->YieldToFiber(fiber.Get());
    EXPECT_EQ(steps, (std::vector<std::string>{"freezing", "woken"}));
    EXPECT_EQ(fiber->GetState(), TS_DEAD);
}

TEST_F(FiberTest, UnderTheDefaultSchedulerAFrozenFiberWaitsOnItsThread)
{
    // Nothing switches fibers under the default scheduler; the fiber's thread
    // waits until another task wakes it.
    std::atomic<bool> wakeSent{false};
    bool wakeSeen = false;
    auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] {
        VTask::GetCurrent()->Freeze();
        wakeSeen = wakeSent.load();
    }));
    auto waker = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [&] {
        VTask::Sleep(20);
        while (fiber->GetState() != TS_DEAD) {
            wakeSent = true;
            fiber->WakeUp();
            VTask::Sleep(1);
        }
    }));
    ASSERT_TRUE(waker->Run());
    ASSERT_TRUE(fiber->Run()) << "comes back when the fiber has ended";
    EXPECT_TRUE(wakeSeen) << "the fiber ran on before anybody woke it";
    EXPECT_TRUE(waker->WaitForDeath(10000));
}

TEST_F(FiberTest, AFibersTimedWaitsLastTheirTime)
{
    // Whatever the scheduler, a wait that nothing ends answers only once its
    // time has passed.
    struct Case {
        const char* what;
        bool earlyScheduler;
        std::function<bool()> wait;  // what the wait answered
    };
    auto lockFresh = [] { return VRefPtr<VSyncEvent>::Adopt(new VSyncEvent)->Lock(30); };
    const Case cases[] = {
        {"sleep, default scheduler", false, [] { VTask::Sleep(30); return false; }},
        {"sleep, early scheduler", true, [] { VTask::Sleep(30); return false; }},
        {"event, default scheduler", false, lockFresh},
        {"event, early scheduler", true, lockFresh},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StFiberScheduler scheduler(c.earlyScheduler ? new ReturnsEarlyScheduler : nullptr);
        uint64_t elapsed = 0;
        bool answer = true;
        auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] {
            const uint64_t start = VSystem::GetCurrentTime();
            answer = c.wait();
            elapsed = VSystem::GetCurrentTime() - start;
        }));
        ASSERT_TRUE(fiber->Run());
        EXPECT_EQ(fiber->GetState(), TS_DEAD);
        EXPECT_FALSE(answer);
        EXPECT_GE(elapsed, 30u);
    }
}

TEST_F(FiberTest, AFiberSeesAnEventThatAnotherTaskSets)
{
    struct Case {
        const char* what;
        bool earlyScheduler;
        int ms;  // 0: untimed
    };
    const Case cases[] = {
        {"default scheduler", false, 0},
        {"default scheduler, timed", false, 60000},
        {"early scheduler", true, 0},
        {"early scheduler, timed", true, 60000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StFiberScheduler scheduler(c.earlyScheduler ? new ReturnsEarlyScheduler : nullptr);
        auto event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
        bool answer = false;
        auto fiber = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, [&] {
            answer = c.ms > 0 ? event->Lock(c.ms) : event->Lock();
        }));
        auto setter = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [&] {
            VTask::Sleep(20);
            event->Set();
        }));
        ASSERT_TRUE(setter->Run());
        ASSERT_TRUE(fiber->Run()) << "comes back when the fiber has seen the event";
        EXPECT_TRUE(answer);
        EXPECT_TRUE(setter->WaitForDeath(10000));
    }
}
