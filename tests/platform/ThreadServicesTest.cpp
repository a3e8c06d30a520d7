// ThreadServicesTest.cpp - semaphores, thread ids, names, stacks and the clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/Semaphore.h"
#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {
namespace {

TEST(SemaphoreTest, CountsSignalsAndTimesOut)
{
    platform::Semaphore semaphore;
    ASSERT_EQ(semaphore.Create(0), 0);
    EXPECT_FALSE(semaphore.TimedWait(0));
    semaphore.Signal();
    semaphore.Signal();
    EXPECT_TRUE(semaphore.TimedWait(0));
    EXPECT_TRUE(semaphore.TimedWait(1000));
    uint64_t start = VSystem::GetCurrentTime();
    EXPECT_FALSE(semaphore.TimedWait(40));
    EXPECT_GE(VSystem::GetCurrentTime() - start, 40u);

    std::thread signaller([&] { semaphore.Signal(); });
    semaphore.Wait();
    signaller.join();
}

TEST(ThreadInfoTest, PortIsTheKernelThreadIdAndDiffersPerThread)
{
    EXPECT_EQ(platform::GetCurrentThreadPort(), static_cast<int32_t>(gettid()));
    int32_t other = 0;
    std::thread t([&] { other = platform::GetCurrentThreadPort(); });
    t.join();
    EXPECT_NE(other, 0);
    EXPECT_NE(other, platform::GetCurrentThreadPort());
}

TEST(ThreadInfoTest, StackHoldsTheCallersLocals)
{
    char* top = nullptr;
    size_t size = 0;
    ASSERT_TRUE(platform::GetCurrentThreadStack(&top, &size));
    char local;
    EXPECT_GT(size, 0u);
    EXPECT_LT(&local, top);
    EXPECT_GT(&local, top - size);
}

TEST(ThreadInfoTest, NamesAreCutToFifteenBytesOnCharacterBoundaries)
{
    struct Case {
        const char* given;
        const char* kept;
    } cases[] = {
        {"short", "short"},
        {"exactly15bytes!", "exactly15bytes!"},
        {"Logger (id = 1234)", "Logger (id = 12"},
        // 14 ASCII bytes then a two-byte character: it would straddle byte 15.
        {"abcdefghijklmn\xC3\xA9z", "abcdefghijklmn"},
        {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
         "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        std::string seen;
        std::thread t([&] {
            platform::SetCurrentThreadName(c.given);
            char buffer[32] = {};
            platform::GetCurrentThreadName(buffer, sizeof(buffer));
            seen = buffer;
        });
        t.join();
        EXPECT_EQ(seen, c.kept) << c.given;
    }
}

TEST(ThreadInfoTest, CPUTimesOfALiveThread)
{
    double user = -1, system = -1, usage = -1;
    ASSERT_TRUE(platform::GetThreadCPUTimes(platform::GetCurrentThreadPort(), user, system));
    EXPECT_GE(user, 0.0);
    EXPECT_GE(system, 0.0);
    ASSERT_TRUE(platform::GetThreadCPUUsage(platform::GetCurrentThreadPort(), usage));
    EXPECT_GE(usage, 0.0);
    EXPECT_FALSE(platform::GetThreadCPUTimes(-1, user, system));
}

TEST(ClockTest, MillisecondsAndTicksComeFromOneMonotonicClock)
{
    uint32_t numerator = 0, denominator = 0;
    platform::GetTimebase(numerator, denominator);
    EXPECT_EQ(numerator, 1u);
    EXPECT_EQ(denominator, 1u);

    uint64_t ms0 = VSystem::GetCurrentTime();
    uint32_t ticks0 = VSystem::GetCurrentTicks();
    uint64_t ns0 = platform::AbsoluteTime();
    VSystem::Delay(120);
    uint64_t ns1 = platform::AbsoluteTime();
    uint64_t ms1 = VSystem::GetCurrentTime();
    uint32_t ticks1 = VSystem::GetCurrentTicks();
    EXPECT_GE(ns1 - ns0, 120000000u) << "Delay sleeps at least its time";
    EXPECT_GE(ms1 - ms0, 120u);
    // 120 ms is 7.2 ticks; the two reads straddle tick boundaries differently.
    EXPECT_GE(ticks1 - ticks0, 7u);
    // Ticks and milliseconds describe the same clock.
    EXPECT_NEAR(static_cast<double>(ticks1), static_cast<double>(ms1) * 60.0 / 1000.0, 1.0);
}

TEST(ClockTest, DeltaTicksIsAnAbsoluteDifference)
{
    uint32_t now = VSystem::GetCurrentTicks();
    EXPECT_LE(VSystem::GetCurrentDeltaTicks(now), 1u);
    EXPECT_GE(VSystem::GetCurrentDeltaTicks(now - 600), 600u);
    EXPECT_GE(VSystem::GetCurrentDeltaTicks(now + 600), 599u);
    EXPECT_LE(VSystem::GetCurrentDeltaTicks(now + 600), 600u);
}

TEST(ClockTest, LogicalProcessorsAreCountedOnce)
{
    int32_t count = VSystem::GetNumberOfLogicalProcessors();
    EXPECT_GE(count, 1);
    EXPECT_EQ(VSystem::GetNumberOfLogicalProcessors(), count);
}

}  // namespace
}  // namespace bkit
