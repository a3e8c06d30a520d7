// VTaskActivityTest.cpp - a running task keeps the process busy through its
// activity token until it releases it or dies.
#include <gtest/gtest.h>

#include <atomic>

#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTask.h"

using namespace bkit;

TEST(TaskActivityTest, RunningTasksHoldATokenUntilReleasedOrDead)
{
    VProcess* process = VProcess::sInstance;
    ASSERT_NE(process, nullptr);
    ASSERT_FALSE(process->HasSomeActivityTokens(0)) << "no other task may be busy for this test";

    std::atomic<int> step{0};
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [&] {
        step = 1;
        while (step.load() != 2)
            VTask::Sleep(1);
        VTask::ReleaseCurrentActivityToken();
        step = 3;
        while (step.load() != 4)
            VTask::Sleep(1);
    }));
    EXPECT_FALSE(process->HasSomeActivityTokens(0)) << "a task that was not run holds none";
    ASSERT_TRUE(task->Run());
    while (step.load() != 1)
        VTask::Sleep(1);
    EXPECT_TRUE(process->HasSomeActivityTokens(0));
    step = 2;
    while (step.load() != 3)
        VTask::Sleep(1);
    EXPECT_FALSE(process->HasSomeActivityTokens(0)) << "released by the task itself";
    step = 4;
    ASSERT_TRUE(task->WaitForDeath(5000));

    // A task that dies without releasing it gives it back with its death.
    auto quick = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [] {}));
    ASSERT_TRUE(quick->Run());
    ASSERT_TRUE(quick->WaitForDeath(5000));
    EXPECT_FALSE(process->HasSomeActivityTokens(0));
}
