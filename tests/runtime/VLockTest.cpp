// VLockTest.cpp - critical sections, events, condition variables and spin-lock settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VLocks.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {
namespace {

void EnsureTaskManager()
{
    if (!VTaskMgr::IsInited()) {
        ASSERT_TRUE(VTaskMgr::Init(nullptr));
    }
}

// Runs f on a new preemptive task and waits for its death.
void RunOnTask(std::function<void()> f)
{
    VTask* task = new VTask(0, eTaskStylePreemptive, std::move(f));
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(10000));
    task->Release();
}

class LockTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTaskManager(); }
    void TearDown() override { SpinLock::ResetToDefaults(); }
};

TEST_F(LockTest, RecursionIsCountedPerTaskAndOnlyTheLastUnlockFrees)
{
    VCriticalSection cs;
    ASSERT_TRUE(cs.Lock());
    ASSERT_TRUE(cs.TryToLock());
    EXPECT_EQ(cs.GetOwner(), VTask::GetCurrentID());
    EXPECT_EQ(cs.GetUseCount(), 2);

    bool otherGotIt = true;
    RunOnTask([&] { otherGotIt = cs.TryToLock(); });
    EXPECT_FALSE(otherGotIt);

    cs.Unlock();
    RunOnTask([&] { otherGotIt = cs.TryToLock(); });
    EXPECT_FALSE(otherGotIt) << "one level is still held";

    cs.Unlock();
    int32_t otherID = 0;
    RunOnTask([&] {
        otherGotIt = cs.TryToLock();
        otherID = VTask::GetCurrentID();
        // Left held: ownership belongs to the task id, not to a live thread.
    });
    EXPECT_TRUE(otherGotIt);
    EXPECT_EQ(cs.GetOwner(), otherID);
    EXPECT_FALSE(cs.TryToLock());
    // Unlock does not check the caller; the destructor would also release it.
    cs.Unlock();
    EXPECT_EQ(cs.GetOwner(), 0);
    EXPECT_TRUE(cs.TryToLock());
    cs.Unlock();
}

TEST_F(LockTest, ThreadsThatAreNoTaskStillExcludeEachOther)
{
    VCriticalSection cs;
    std::atomic<bool> taken{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        cs.Lock();
        taken = true;
        while (!release) std::this_thread::yield();
        cs.Unlock();
    });
    while (!taken) std::this_thread::yield();
    bool secondGotIt = true;
    std::thread other([&] { secondGotIt = cs.TryToLock(); });
    other.join();
    EXPECT_FALSE(secondGotIt);
    EXPECT_FALSE(cs.TryToLock());
    release = true;
    holder.join();
    EXPECT_TRUE(cs.TryToLock());
    cs.Unlock();
}

// Counts with a plain integer under the lock, nested, from tasks and from plain
// threads, under each acquire strategy of the spin-lock word.
struct StrategyCase {
    const char* name;
    const char16_t* mode;
    int maxSpins;
};

TEST_F(LockTest, ContendedCountingIsExactUnderEveryStrategy)
{
    const StrategyCase cases[] = {
        {"default", nullptr, 1},
        {"maxSpinsThenLoopYields", u"maxSpinsThenLoopYields", 20},
        {"loopMaxSpinsAndYields", u"loopMaxSpinsAndYields", 4},
        {"alwaysSleep", u"alwaysSleep", 1},
    };
    for (const StrategyCase& c : cases) {
        SCOPED_TRACE(c.name);
        SpinLockSettings settings;
        if (c.mode) settings.mode = c.mode;
        settings.maxSpins = c.maxSpins;
        ASSERT_TRUE(SpinLock::ApplySettings(settings));

        VCriticalSection cs;
        long counter = 0;
        std::atomic<int> inside{0};
        std::atomic<bool> overlap{false};
        const int kRounds = 2000;
        auto work = [&] {
            for (int i = 0; i < kRounds; ++i) {
                cs.Lock();
                cs.Lock();
                if (inside.fetch_add(1) != 0) overlap = true;
                ++counter;
                inside.fetch_sub(1);
                cs.Unlock();
                cs.Unlock();
            }
        };
        std::vector<VTask*> tasks;
        for (int i = 0; i < 3; ++i) tasks.push_back(new VTask(0, eTaskStylePreemptive, work));
        for (VTask* t : tasks) ASSERT_TRUE(t->Run());
        std::thread a(work), b(work);
        work();
        a.join();
        b.join();
        for (VTask* t : tasks) {
            EXPECT_TRUE(t->WaitForDeath(30000));
            t->Release();
        }
        EXPECT_FALSE(overlap);
        EXPECT_EQ(counter, 6L * kRounds);
        EXPECT_EQ(cs.GetUseCount(), 0);
        EXPECT_TRUE(SpinLock::ResetToDefaults());
    }
}

TEST_F(LockTest, EveryBlockedWaiterGetsTheLockAfterRelease)
{
    VCriticalSection cs;
    cs.Lock();
    std::atomic<int> got{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 5; ++i)
        waiters.emplace_back([&] {
            cs.Lock();
            got.fetch_add(1);
            cs.Unlock();
        });
    VSystem::Delay(30);
    EXPECT_EQ(got.load(), 0);
    cs.Unlock();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(got.load(), 5);
}

TEST_F(LockTest, ClearBitLeavesTheOtherBitsAlone)
{
    SpinLockWord word{0x5};
    SpinLock::Lock(&word);
    EXPECT_EQ(word.load(), 0x80000005u);
    EXPECT_FALSE(SpinLock::TryLock(&word));
    SpinLock::Unlock(&word);
    EXPECT_EQ(word.load(), 0x5u);
}

// --- events ---

TEST_F(LockTest, EventAnswersAtOnceWhenSetOrAskedForNoWait)
{
    VSyncEvent* event = new VSyncEvent;
    EXPECT_EQ(event->GetStamp(), 0u);
    uint64_t start = VSystem::GetCurrentTime();
    EXPECT_FALSE(event->Lock(0));
    EXPECT_FALSE(event->Lock(-5));
    event->Set();
    EXPECT_TRUE(event->Lock(0));
    EXPECT_TRUE(event->Lock(10000));
    EXPECT_TRUE(event->Lock());
    EXPECT_LT(VSystem::GetCurrentTime() - start, 5000u) << "a set event must not wait";
    EXPECT_EQ(event->GetStamp(), 1u);
    event->Reset();
    EXPECT_FALSE(event->IsSet());
    event->Release();
}

TEST_F(LockTest, TimedWaitLastsUntilItsDeadline)
{
    VSyncEvent* event = new VSyncEvent;
    for (int ms : {1, 30, 120}) {
        uint64_t start = VSystem::GetCurrentTime();
        EXPECT_FALSE(event->Lock(ms));
        EXPECT_GE(VSystem::GetCurrentTime() - start, static_cast<uint64_t>(ms)) << ms;
    }
    event->Release();
}

TEST_F(LockTest, SettingWakesEveryTimedAndUntimedWaiter)
{
    VSyncEvent* event = new VSyncEvent;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { if (event->Lock()) woken++; });
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { if (event->Lock(60000)) woken++; });
    VSystem::Delay(20);
    event->Set();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(woken.load(), 6);
    event->Release();
}

// --- condition variables ---

TEST_F(LockTest, ConditionRefusesASecondSectionWhileBound)
{
    VConditionVariable condition;
    VCriticalSection first, second;
    std::atomic<bool> waiting{false};
    bool broadcastSeen = false;
    std::thread waiter([&] {
        first.Lock();
        waiting = true;
        broadcastSeen = condition._Wait(&first, true, 60000);
        first.Unlock();
    });
    while (!waiting) std::this_thread::yield();
    VSystem::Delay(20);  // let the waiter bind the condition

    second.Lock();
    EXPECT_FALSE(condition._Wait(&second, true, 10));
    second.Unlock();

    condition.Broadcast();
    waiter.join();
    EXPECT_TRUE(broadcastSeen);

    // Unbound again: the other section is taken now, and a wait without a
    // broadcast times out.
    second.Lock();
    EXPECT_FALSE(condition._Wait(&second, true, 20));
    EXPECT_EQ(second.GetOwner(), VCriticalSection::GetCurrentOwnerID()) << "the section is taken back";
    second.Unlock();
}

TEST_F(LockTest, ManyBroadcastsAreStillSeenByAWaiter)
{
    // More broadcasts than a 16-bit count holds arrive during one wait.
    VConditionVariable condition;
    VCriticalSection cs;
    std::atomic<bool> waiting{false};
    bool seen = false;
    std::thread waiter([&] {
        cs.Lock();
        waiting = true;
        seen = condition._Wait(&cs, true, 60000);
        cs.Unlock();
    });
    while (!waiting) std::this_thread::yield();
    // Taking cs means the waiter is inside the wait; holding it keeps the
    // waiter from counting until every broadcast is made.
    cs.Lock();
    for (int i = 0; i < 65536; ++i) condition.Broadcast();
    cs.Unlock();
    waiter.join();
    EXPECT_TRUE(seen);
}

// Before the task manager runs every thread's task id is 0; the lock must
// still tell threads apart. Runs in a child process, without a task manager.
void CountBeforeTaskManager()
{
    if (VTaskMgr::IsInited()) VTaskMgr::DeInit();
    if (VTaskMgr::Get()->GetCurrentTaskID() != 0) _exit(2);
    VCriticalSection cs;
    long counter = 0;
    std::atomic<bool> overlap{false};
    std::atomic<int> inside{0};
    auto work = [&] {
        for (int i = 0; i < 5000; ++i) {
            cs.Lock();
            if (inside.fetch_add(1) != 0) overlap = true;
            ++counter;
            inside.fetch_sub(1);
            cs.Unlock();
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    _exit(counter == 15000 && !overlap ? 0 : 1);
}

TEST(LockBeforeTaskManagerTest, ThreadsExcludeEachOther)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CountBeforeTaskManager(), ::testing::ExitedWithCode(0), "");
}

// --- spin-lock settings ---

TEST_F(LockTest, SettingsSelectStrategyAndNumbers)
{
    struct Case {
        const char* name;
        std::optional<std::u16string> mode;
        std::optional<double> maxSpins;
        std::optional<bool> yield;
        SpinLock::LockFunction expectLock;
        int expectSpins;
        bool expectYield;
    } cases[] = {
        {"capitals", u"ALWAYSSLEEP", {}, {}, &SpinLock::AlwaysSleep, 1, false},
        {"accents ignored", u"álwaysSleep", {}, {}, &SpinLock::AlwaysSleep, 1, false},
        {"loop", u"loopmaxspinsandyields", 3.0, true, &SpinLock::LoopMaxSpinsAndYields, 3, true},
        {"unknown keeps default", u"other", 50.0, {}, &SpinLock::MaxSpinsThenLoopYields, 50, false},
        {"truncated", {}, 7.9, false, &SpinLock::MaxSpinsThenLoopYields, 7, false},
        {"nothing", {}, {}, {}, &SpinLock::MaxSpinsThenLoopYields, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SpinLock::ResetToDefaults());
        SpinLockSettings settings;
        settings.mode = c.mode;
        settings.maxSpins = c.maxSpins;
        settings.yieldAfterCheckEvent = c.yield;
        EXPECT_TRUE(SpinLock::ApplySettings(settings));
        EXPECT_EQ(SpinLock::Lock, c.expectLock);
        EXPECT_EQ(SpinLock::Unlock, &SpinLock::ClearBit);
        EXPECT_EQ(SpinLock::maxSpins, c.expectSpins);
        EXPECT_EQ(SpinLock::yieldAfterCheckEvent, c.expectYield);
    }
}

TEST_F(LockTest, SettingsAreIgnoredOnceASecondTaskExists)
{
    ASSERT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
    VSyncEvent* release = new VSyncEvent;
    std::atomic<bool> running{false};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
        running = true;
        release->Lock();
    });
    ASSERT_TRUE(task->Run());
    while (!running) std::this_thread::yield();

    SpinLockSettings settings;
    settings.mode = u"alwaysSleep";
    settings.maxSpins = 99;
    EXPECT_FALSE(SpinLock::ApplySettings(settings));
    EXPECT_EQ(SpinLock::Lock, &SpinLock::MaxSpinsThenLoopYields);
    EXPECT_EQ(SpinLock::maxSpins, 1);

    release->Set();
    EXPECT_TRUE(task->WaitForDeath(10000));
    task->Release();
    release->Release();
}

}  // namespace
}  // namespace bkit
