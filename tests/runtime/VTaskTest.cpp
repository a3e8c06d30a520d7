// VTaskTest.cpp - task life cycle, ids, names, waits, per-task data and the registry.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "basekit/platform/ThreadInfo.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VLocks.h"
#include "basekit/runtime/VMessage.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

void EnsureTaskManager()
{
    if (!VTaskMgr::IsInited()) {
        ASSERT_TRUE(VTaskMgr::Init(nullptr));
    }
}

class TaskTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTaskManager(); }
    void TearDown() override
    {
        // No test leaves a task behind for the next one.
        EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
    }
};

// Counts the calls of the overridable steps.
class CountingTask : public VTask {
public:
    CountingTask() : VTask(0, eTaskStylePreemptive, std::function<void()>()) {}
    void DoInit() override { inits++; }
    bool DoRun() override
    {
        runs++;
        VTask::Sleep(1);
        return runs < stopAfter;
    }
    void DoDeInit() override { deinits++; }
    void DoPrepareToDie() override { prepares++; }

    std::atomic<int> inits{0}, runs{0}, deinits{0}, prepares{0};
    std::atomic<int> stopAfter{1 << 30};
};

// The free stack seen from a frame that holds 64 KiB.
[[gnu::noinline]] size_t FreeStackBelow64KiB()
{
    volatile char filler[64 * 1024];
    filler[0] = 0;
    return VTaskMgr::Get()->GetCurrentFreeStackSize() + static_cast<size_t>(filler[0]);
}

TEST_F(TaskTest, MainTaskIsTheAdoptedThread)
{
    VTask* main = VTask::GetMain();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(VTask::GetCurrent(), main);
    EXPECT_TRUE(VTask::IsCurrentMain());
    EXPECT_EQ(main->GetState(), TS_RUNNING);
    EXPECT_EQ(main->GetID(), static_cast<int32_t>(getpid()));
    EXPECT_EQ(VTaskMgr::Get()->GetCurrentTaskID(), main->GetID());
    EXPECT_EQ(main->GetMessagingTask(), main->GetID());
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
    EXPECT_GT(main->GetStackSize(), 0u);
    EXPECT_FALSE(main->WaitForDeath(10)) << "a task waiting for itself";
    size_t free = VTaskMgr::Get()->GetCurrentFreeStackSize();
    EXPECT_GT(free, 0u);
    EXPECT_LT(free, main->GetStackSize());

    // A thread that is no task has no task, no manager and the default wildcard.
    // Its free stack is what is left of its own stack, shrinking with depth,
    // so that depth guards work there too.
    VTask* seen = main;
    UniChar wild = 0;
    size_t threadFree = 0;
    size_t deeperFree = 0;
    std::thread t([&] {
        seen = VTask::GetCurrent();
        wild = VTask::GetWildChar();
        threadFree = VTaskMgr::Get()->GetCurrentFreeStackSize();
        deeperFree = FreeStackBelow64KiB();
    });
    t.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(wild, u'@');
    EXPECT_GT(threadFree, 64u * 1024);
    EXPECT_LE(deeperFree + 64 * 1024, threadFree);
}

TEST_F(TaskTest, FunctionTaskGoesFromCreatedToDead)
{
    std::atomic<int> ranOn{0};
    std::atomic<int> stateSeen{-1};
    VTask* task = nullptr;
    task = new VTask(0, eTaskStylePreemptive, [&] {
        ranOn = platform::GetCurrentThreadPort();
        stateSeen = VTask::GetCurrent()->GetState();
    });
    EXPECT_EQ(task->GetState(), TS_CREATED);
    EXPECT_GT(task->GetID(), 0);
    EXPECT_NE(task->GetID(), VTask::GetMain()->GetID());
    EXPECT_EQ(task->GetMessagingTask(), task->GetID());
    ASSERT_TRUE(task->Run());
    EXPECT_FALSE(task->Run()) << "a task starts once";
    EXPECT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(task->GetState(), TS_DEAD);
    EXPECT_EQ(stateSeen.load(), TS_RUNNING);
    EXPECT_EQ(ranOn.load(), task->GetID()) << "a thread task's id is its thread's id";
    EXPECT_TRUE(task->IsDying());
    EXPECT_FALSE(task->Run());
    task->Release();
}

TEST_F(TaskTest, TaskDestroyedBeforeItRanNeverRuns)
{
    std::atomic<bool> ran{false};
    for (int i = 0; i < 20; ++i) {
        VTask* task = new VTask(0, eTaskStylePreemptive, [&] { ran = true; });
        task->Kill();
        EXPECT_EQ(task->GetState(), TS_CREATED) << "Kill before Run changes nothing";
        if (i % 2) task->WakeUp();  // a wake-up must not start it either
        task->Release();
    }
    EXPECT_FALSE(ran);
}

TEST_F(TaskTest, ThreadGetsAtLeastItsStackSizeRoundedUpToPages)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t asked = 40 * page + 123;
    size_t seen = 0;
    VTask* task = new VTask(asked, eTaskStylePreemptive, [&] {
        char* top = nullptr;
        platform::GetCurrentThreadStack(&top, &seen);
    });
    EXPECT_EQ(task->GetStackSize(), asked);
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(10000));
    // Sanitizers may add room of their own.
    EXPECT_GE(seen, 41 * page);
    task->Release();

    // Without a size a task takes the default: the main stack, at most 1 MiB.
    VTask* plain = new VTask(0, eTaskStylePreemptive, [] {});
    EXPECT_EQ(plain->GetStackSize(), std::min<size_t>(VTaskMgr::Get()->GetStackSizeForMainTask(), 1048576));
    plain->Release();
}

TEST_F(TaskTest, ProcedureTaskReceivesItsTask)
{
    static std::atomic<VTask*> seen{nullptr};
    VTask* task = new VTask(nullptr, 0, eTaskStylePreemptive, [](VTask* current) -> int {
        seen = current;
        return 0;
    });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(seen.load(), task);
    task->Release();
}

TEST_F(TaskTest, DerivedTaskRunsItsStepsAndDiesWhenKilled)
{
    CountingTask* task = new CountingTask;
    ASSERT_TRUE(task->Run());
    while (task->runs < 3) VSystem::Delay(1);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 2);
    task->Kill();
    int ticks = -1;
    EXPECT_TRUE(task->IsDying(&ticks));
    EXPECT_GE(ticks, 0);
    EXPECT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(task->inits.load(), 1);
    EXPECT_EQ(task->deinits.load(), 1);
    EXPECT_EQ(task->prepares.load(), 1);
    task->Release();

    // DoRun answering false ends the task on its own.
    CountingTask* selfEnding = new CountingTask;
    selfEnding->stopAfter = 2;
    ASSERT_TRUE(selfEnding->Run());
    EXPECT_TRUE(selfEnding->WaitForDeath(10000));
    EXPECT_EQ(selfEnding->runs.load(), 2);
    EXPECT_EQ(selfEnding->deinits.load(), 1);
    selfEnding->Release();
}

TEST_F(TaskTest, WaitForDeathTimesOutThenSucceeds)
{
    VSyncEvent* release = new VSyncEvent;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] { release->Lock(); });
    ASSERT_TRUE(task->Run());
    uint64_t start = VSystem::GetCurrentTime();
    EXPECT_FALSE(task->WaitForDeath(50));
    EXPECT_GE(VSystem::GetCurrentTime() - start, 50u);
    EXPECT_EQ(VTask::GetMain()->GetBlockedReason(), eTaskNotBlocked);

    // A thread that is no task can wait too.
    bool deadForForeign = false;
    std::thread foreign([&] { deadForForeign = task->WaitForDeath(10000); });
    release->Set();
    EXPECT_TRUE(task->WaitForDeath(10000));
    foreign.join();
    EXPECT_TRUE(deadForForeign);
    task->Release();
    release->Release();
}

TEST_F(TaskTest, AMessageThrowingDuringWaitForDeathLeavesTheWaitClean)
{
    // The task makes its waiter run a message that throws, then waits to be
    // let go; the waiter's wait ends with the exception, and must neither stay
    // marked as waiting nor stay listed among the task's death waiters.
    VSyncEvent* release = new VSyncEvent;
    VTask* main = VTask::GetMain();
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
        while (main->GetBlockedReason() != eTaskWaitingForDeath) VTask::Sleep(1);
        VFunctionMessage::PostFunctionTo(main, std::function<void()>());
        release->Lock();
    });
    ASSERT_TRUE(task->Run());
    EXPECT_THROW(task->WaitForDeath(10000), std::bad_function_call);
    EXPECT_EQ(main->GetBlockedReason(), eTaskNotBlocked);

    // A later wait works as usual and is woken by the death.
    release->Set();
    EXPECT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(main->GetBlockedReason(), eTaskNotBlocked);
    task->Release();
    release->Release();
}

TEST_F(TaskTest, SleepEndsEarlyOnWakeUp)
{
    std::atomic<bool> sleeping{false};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
        sleeping = true;
        VTask::Sleep(600000);
    });
    ASSERT_TRUE(task->Run());
    while (!sleeping) std::this_thread::yield();
    while (task->GetBlockedReason() != eTaskSleeping) std::this_thread::yield();
    task->WakeUp();
    EXPECT_TRUE(task->WaitForDeath(20000));
    task->Release();
}

TEST_F(TaskTest, KillAllTasksStopsEveryOtherTask)
{
    std::vector<CountingTask*> tasks;
    for (int i = 0; i < 4; ++i) {
        tasks.push_back(new CountingTask);
        ASSERT_TRUE(tasks.back()->Run());
    }
    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(20000));
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
    for (CountingTask* t : tasks) {
        EXPECT_EQ(t->GetState(), TS_DEAD);
        EXPECT_GE(t->prepares.load(), 1);
        t->Release();
    }
    // Only the main task may kill them all.
    bool answer = true;
    VTask* other = new VTask(0, eTaskStylePreemptive, [&] { answer = VTaskMgr::Get()->KillAllTasks(0); });
    ASSERT_TRUE(other->Run());
    EXPECT_TRUE(other->WaitForDeath(10000));
    EXPECT_FALSE(answer) << "the asking task itself is still listed";
    other->Release();
}

TEST_F(TaskTest, RegistryFindsLiveTasksAndForgetsDeadOnes)
{
    VSyncEvent* release = new VSyncEvent;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] { release->Lock(); });
    ASSERT_TRUE(task->Run());
    VRefPtr<VTask> found = VTaskMgr::Get()->GetTaskByID(task->GetID());
    EXPECT_EQ(found.Get(), task);
    std::vector<VRefPtr<VTask>> all;
    VTaskMgr::Get()->GetTasks(all);
    EXPECT_EQ(all.size(), 2u);
    all.clear();
    found = nullptr;

    release->Set();
    EXPECT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(VTaskMgr::Get()->RetainTaskByID(task->GetID()), nullptr);
    uint32_t stamp = VTaskMgr::Get()->GetRegistryStamp();
    VTaskMgr::Get()->PurgeDeadTasks();
    EXPECT_NE(VTaskMgr::Get()->GetRegistryStamp(), stamp);
    VTaskMgr::Get()->GetTasks(all);
    EXPECT_EQ(all.size(), 1u);
    EXPECT_EQ(task->GetRefCount(), 1) << "only the creator's reference is left";
    task->Release();
    release->Release();
}

// A task whose creator lets go at once lives on the registry's reference until
// it is dead and purged; purging races with the end of its thread.
class SelfOwnedTask : public VTask {
public:
    explicit SelfOwnedTask(std::atomic<int>* destroyed)
        : VTask(0, eTaskStylePreemptive, std::function<void()>()), fDestroyed(destroyed) {}
    ~SelfOwnedTask() override { fDestroyed->fetch_add(1); }
    bool DoRun() override { return false; }

private:
    std::atomic<int>* fDestroyed;
};

TEST_F(TaskTest, TaskReleasedByItsCreatorAtOnceIsDestroyedAfterItsDeath)
{
    std::atomic<int> destroyed{0};
    const int kTasks = 30;
    for (int i = 0; i < kTasks; ++i) {
        SelfOwnedTask* task = new SelfOwnedTask(&destroyed);
        ASSERT_TRUE(task->Run());
        task->Release();
        VTaskMgr::Get()->PurgeDeadTasks();
    }
    uint64_t start = VSystem::GetCurrentTime();
    while (destroyed < kTasks && VSystem::GetCurrentTime() - start < 20000) {
        VTaskMgr::Get()->PurgeDeadTasks();
        VSystem::Delay(1);
    }
    EXPECT_EQ(destroyed.load(), kTasks);
}

// What ps, top, pgrep and killall see: the process's name, which on Linux is
// its main thread's.
std::string ProcessName()
{
    char name[64] = {};
    FILE* comm = fopen("/proc/self/comm", "r");
    if (!comm) return std::string();
    if (!fgets(name, sizeof(name), comm)) name[0] = 0;
    fclose(comm);
    std::string text(name);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string ExecutableName()
{
    char path[4096] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return std::string();
    std::string name(path, static_cast<size_t>(length));
    name = name.substr(name.rfind('/') + 1);
    return name.substr(0, 15);
}

TEST_F(TaskTest, MainTaskKeepsTheProcessName)
{
    // The test program's start-up adopted this thread as the main task.
    ASSERT_EQ(VTask::GetCurrent(), VTask::GetMain());
    const std::string executable = ExecutableName();
    ASSERT_FALSE(executable.empty());
    EXPECT_EQ(ProcessName(), executable);

    VString previous;
    VTask::GetMain()->GetName(previous);
    VTask::GetMain()->SetName(VString("Renamed main"));
    EXPECT_EQ(ProcessName(), executable);
    VTask::GetMain()->SetName(previous);
}

TEST_F(TaskTest, ThreadIsNamedAfterTheTaskAndCutToFifteenBytes)
{
    struct Case {
        const char* name;
        bool renameFromInside;
    } cases[] = {{"T", false}, {"Logger", false}, {"Été", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char seen[64] = {};
        std::atomic<bool> go{false};
        VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
            if (c.renameFromInside) VTask::GetCurrent()->SetName(VString(c.name));
            platform::GetCurrentThreadName(seen, sizeof(seen));
            go = true;
        });
        if (!c.renameFromInside) task->SetName(VString(c.name));
        ASSERT_TRUE(task->Run());
        EXPECT_TRUE(task->WaitForDeath(10000));
        std::string expected = std::string(c.name) + " (id = " + std::to_string(task->GetID()) + ")";
        if (expected.size() > 15) {
            size_t n = 15;
            while (n > 0 && (static_cast<unsigned char>(expected[n]) & 0xC0) == 0x80) --n;
            expected.resize(n);
        }
        EXPECT_EQ(std::string(seen), expected);
        VString name;
        task->GetName(name);
        EXPECT_EQ(name.GetLength(), VString(c.name).GetLength());
        task->Release();
    }
}

// --- per-task data ---

std::atomic<int> gDisposed{0};
std::atomic<intptr_t> gDisposedValue{0};
void DisposeValue(void* value)
{
    gDisposed++;
    gDisposedValue = reinterpret_cast<intptr_t>(value);
}

TEST_F(TaskTest, DataIsPerTaskAndDisposedAtExit)
{
    VTaskMgr* mgr = VTaskMgr::Get();
    size_t key = mgr->CreateDataKey(&DisposeValue);
    ASSERT_GE(key, 1u);
    EXPECT_TRUE(mgr->CheckDataKey(key));
    EXPECT_FALSE(mgr->CheckDataKey(0));
    EXPECT_EQ(VTask::GetCurrentData(0), nullptr);
    EXPECT_EQ(VTask::GetCurrentData(key + 100), nullptr);

    int mainValue = 1;
    VTask::SetCurrentData(key, &mainValue);
    VTask::SetCurrentData(0, &mainValue);
    EXPECT_EQ(VTask::GetCurrentData(key), &mainValue);

    gDisposed = 0;
    void* seenInTask = &mainValue;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
        seenInTask = VTask::GetCurrentData(key);
        VTask::SetCurrentData(key, reinterpret_cast<void*>(intptr_t{42}));
    });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(10000));
    task->Release();
    EXPECT_EQ(seenInTask, nullptr) << "a new task starts with empty slots";
    EXPECT_EQ(gDisposed.load(), 1);
    EXPECT_EQ(gDisposedValue.load(), 42);
    EXPECT_EQ(VTask::GetCurrentData(key), &mainValue) << "the main task's value is untouched";

    // A deleted key's number is handed out again; a deleted key disposes nothing.
    VTask::SetCurrentData(key, nullptr);
    size_t other = mgr->CreateDataKey(nullptr);
    mgr->DeleteDataKey(key);
    EXPECT_FALSE(mgr->CheckDataKey(key));
    void* values[] = {reinterpret_cast<void*>(intptr_t{7})};
    gDisposed = 0;
    mgr->DisposeData(values, values + 1);
    EXPECT_EQ(gDisposed.load(), 0);
    EXPECT_EQ(mgr->CreateDataKey(&DisposeValue), key);
    mgr->DeleteDataKey(key);
    mgr->DeleteDataKey(other);
}

// --- error stacks ---

TEST_F(TaskTest, EachTaskHasItsOwnErrorStack)
{
    // Errors are kept only inside a process; the test main made one.
    ASSERT_NE(VProcess::sInstance, nullptr);
    const VError mainError = MakeBKitError(5001);
    const VError taskError = MakeBKitError(5002);
    _ThrowError(mainError);
    EXPECT_EQ(VTask::GetLastError(), mainError);

    VError seenInTask = 1, afterThrow = 0;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
        seenInTask = VTask::GetLastError();
        _ThrowError(taskError);
        afterThrow = VTask::GetLastError();
    });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(10000));
    task->Release();
    EXPECT_EQ(seenInTask, VE_OK);
    EXPECT_EQ(afterThrow, taskError);
    EXPECT_EQ(VTask::GetLastError(), mainError);
    VTask::FlushErrors();
    EXPECT_EQ(VTask::GetLastError(), VE_OK);

    // A thread that is no task keeps nothing.
    VError foreign = 1;
    std::thread t([&] {
        EXPECT_FALSE(VTask::PushErrors(nullptr));
        foreign = VTask::GetLastError();
    });
    t.join();
    EXPECT_EQ(foreign, VE_OK);
}

// --- the process's services as tasks see them ---

TEST_F(TaskTest, TasksWorkOnTheirOwnCopiesOfTheProcessIntlManager)
{
    VProcess* process = VProcess::sInstance;
    ASSERT_NE(process, nullptr);
    VIntlMgr* processMgr = process->GetIntlMgr();
    ASSERT_NE(processMgr, nullptr);
    EXPECT_FALSE(process->AreFibersAllowed());

    struct Seen {
        VIntlMgr* manager = nullptr;
        uint32_t dialect = 0;
        UniChar wildChar = 0;
    };
    auto look = [](Seen& seen) {
        seen.manager = VTask::GetCurrentIntlManager();
        seen.dialect = seen.manager ? seen.manager->GetDialectCode() : 0;
        seen.wildChar = VTask::GetWildChar();
    };
    Seen main, task, outsider1, outsider2;
    look(main);
    // All three stay alive until each has looked, so that no copy is freed
    // and its address reused by another.
    std::latch looked(3);
    VTask* worker = new VTask(0, eTaskStylePreemptive, [&] {
        look(task);
        looked.arrive_and_wait();
    });
    ASSERT_TRUE(worker->Run());
    std::thread t1([&] {
        look(outsider1);
        looked.arrive_and_wait();
    });
    std::thread t2([&] {
        look(outsider2);
        looked.arrive_and_wait();
    });
    t1.join();
    t2.join();
    EXPECT_TRUE(worker->WaitForDeath(10000));
    worker->Release();

    // Every caller gets a manager of the process's dialect, and no two callers
    // share one (a manager is not locked): not even the process's own.
    const Seen* all[] = {&main, &task, &outsider1, &outsider2};
    for (size_t i = 0; i < std::size(all); ++i) {
        ASSERT_NE(all[i]->manager, nullptr) << i;
        EXPECT_NE(all[i]->manager, processMgr) << i;
        EXPECT_EQ(all[i]->dialect, processMgr->GetDialectCode()) << i;
        EXPECT_EQ(all[i]->wildChar, processMgr->GetWildChar()) << i;
        for (size_t j = 0; j < i; ++j) EXPECT_NE(all[i]->manager, all[j]->manager) << i << " " << j;
    }
    EXPECT_EQ(main.manager, VTask::GetMain()->GetIntlManager());
}

TEST_F(TaskTest, ProcessInitRunsOnceAndLeavesAForeignTaskManagerAlone)
{
    // A second process object while the test main's runs: its Init finds the
    // task manager started and must not stop it when it goes.
    VProcess* mainProcess = VProcess::sInstance;
    {
        VProcess second;
        EXPECT_EQ(VProcess::sInstance, &second);
        EXPECT_EQ(second.GetIntlMgr(), nullptr);
        EXPECT_TRUE(second.Init(VProcess::kInitAllowFibers));
        EXPECT_TRUE(second.AreFibersAllowed());
        EXPECT_NE(second.GetIntlMgr(), nullptr);
        // Later calls answer the first result and change nothing.
        VIntlMgr* first = second.GetIntlMgr();
        EXPECT_TRUE(second.Init(0));
        EXPECT_TRUE(second.AreFibersAllowed());
        EXPECT_EQ(second.GetIntlMgr(), first);
    }
    EXPECT_TRUE(VTaskMgr::IsInited());
    EXPECT_NE(VTask::GetMain(), nullptr);
    VProcess::sInstance = mainProcess;
}

TEST_F(TaskTest, FiberStyleIsNotAvailable)
{
    VTask* fiber = new VTask(0, eTaskStyleFiber, [] {});
    EXPECT_EQ(fiber->GetPlatformTask(), nullptr);
    EXPECT_EQ(fiber->GetID(), 0);
    EXPECT_FALSE(fiber->Run());
    EXPECT_EQ(fiber->GetState(), TS_CREATED);
    fiber->Release();
}

}  // namespace
}  // namespace bkit
