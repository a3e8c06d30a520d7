// VMessageTest.cpp - posting, sending and post-and-wait between tasks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "basekit/runtime/VMessageQueue.h"
#include "basekit/runtime/VSystem.h"
#include "VMessageTestSupport.h"

namespace bkit {
namespace {

using testing::EnsureTaskManager;
using testing::New;
using testing::NumberedMessage;
using testing::RecordingTarget;
using testing::Worker;

// A message that counts its executions and can take its time.
class CountingMessage : public VMessage {
public:
    explicit CountingMessage(int runMs = 0) : fRunMs(runMs) {}
    void DoExecute() override
    {
        if (fRunMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(fRunMs));
        ++fExecutions;
    }
    std::atomic<int> fExecutions{0};

private:
    int fRunMs;
};

class VMessageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureTaskManager();
        testing::ResetMainQueue();
    }
    void TearDown() override { testing::ResetMainQueue(); }

    // A target whose messages run on task.
    static void MoveTo(IMessageable& target, VTask* task) { target.SetMessagingTask(task->GetID()); }
};

TEST_F(VMessageTest, PostsArriveInOrderOnTheTargetsTask)
{
    Worker worker;
    RecordingTarget target;
    MoveTo(target, worker.Task());

    std::vector<VMessage*> messages;
    for (int i = 0; i < 200; ++i) {
        auto* m = new NumberedMessage(i);
        ASSERT_TRUE(m->PostTo(&target));
        messages.push_back(m);
    }
    // A send returns after every earlier post ran.
    auto* last = new NumberedMessage(200);
    EXPECT_TRUE(last->SendTo(&target, 10000));
    EXPECT_TRUE(last->Answered());
    messages.push_back(last);

    std::vector<int> expected(201);
    for (int i = 0; i < 201; ++i)
        expected[i] = i;
    EXPECT_EQ(target.Numbers(), expected);
    for (int32_t id : target.Tasks())
        ASSERT_EQ(id, worker.Task()->GetID());
    for (VMessage* m : messages) {
        EXPECT_FALSE(m->IsBound());
        m->Release();
    }
}

TEST_F(VMessageTest, PostingABoundMessageAgainDoesNotQueueItTwice)
{
    Worker worker;
    worker.Block();
    auto message = New<CountingMessage>();
    EXPECT_TRUE(message->PostTo(worker.Task()));
    EXPECT_TRUE(message->PostTo(worker.Task()));
    EXPECT_FALSE(message->SendTo(worker.Task(), 10));  // bound: refused
    VMessageQueue* queue = worker.Task()->RetainMessageQueue();
    EXPECT_EQ(queue->CountMessages(), 1);
    queue->Release();
    worker.Open();
    auto fence = New<CountingMessage>();
    EXPECT_TRUE(fence->SendTo(worker.Task()));
    EXPECT_EQ(message->fExecutions, 1);
}

TEST_F(VMessageTest, TheCallingTaskRunsItsOwnSendsAndImmediatePostsAtOnce)
{
    RecordingTarget target;  // made on the main task
    auto sent = New<NumberedMessage>(1);
    EXPECT_TRUE(sent->SendTo(&target, 0));
    auto immediate = New<NumberedMessage>(2);
    EXPECT_TRUE(immediate->PostTo(&target, true));
    EXPECT_TRUE(immediate->Answered());
    auto queued = New<NumberedMessage>(3);
    EXPECT_TRUE(queued->PostTo(&target));
    EXPECT_FALSE(queued->Answered());
    EXPECT_EQ(target.Numbers(), (std::vector<int>{1, 2}));

    EXPECT_TRUE(VTask::ExecuteMessages(false));
    EXPECT_EQ(target.Numbers(), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(VTask::ExecuteMessages(false));
}

TEST_F(VMessageTest, PostsFailForTargetsThatTakeNoMessages)
{
    RecordingTarget target;
    auto message = New<NumberedMessage>(1);
    EXPECT_FALSE(message->PostTo(nullptr));
    target.StopMessaging();
    EXPECT_FALSE(message->PostTo(&target));
    EXPECT_FALSE(message->PostTo(&target, false, 50));
    EXPECT_FALSE(message->SendTo(&target, 10));
    EXPECT_FALSE(message->IsBound());
    target.StartMessaging();
    EXPECT_TRUE(message->PostTo(&target, true));

    // A target whose task is not running.
    target.SetMessagingTask(0x7ffffff0);
    EXPECT_FALSE(message->PostTo(&target));
}

TEST_F(VMessageTest, SendTimesOutOnlyBeforeTheMessageIsTaken)
{
    Worker worker;
    worker.Block();

    // Not taken in time: aborted, and never executed afterwards.
    auto late = New<CountingMessage>();
    const uint64_t start = VSystem::GetCurrentTime();
    EXPECT_FALSE(late->SendTo(worker.Task(), 50));
    EXPECT_GE(VSystem::GetCurrentTime() - start, 45u);
    EXPECT_TRUE(late->IsAborted());
    EXPECT_FALSE(late->IsBound());
    // Taken out of the queue too: a stale copy could absorb later messages.
    VMessageQueue* queue = worker.Task()->RetainMessageQueue();
    EXPECT_TRUE(queue->IsEmpty());
    queue->Release();
    worker.Open();

    // Taken in time but slower than the time-out: waited for. The message
    // runs until the sender's time-out has passed and its timed wait is over
    // (it is no longer blocked waiting for the answer), whatever the load.
    class OutlastingMessage : public CountingMessage {
    public:
        void DoExecute() override
        {
            while (VSystem::GetCurrentTime() - fSendStart < 350 ||
                   VTask::GetMain()->GetBlockedReason() == eTaskWaitingForAnswer)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            CountingMessage::DoExecute();
        }
        uint64_t fSendStart = 0;
    };
    auto slow = New<OutlastingMessage>();
    slow->fSendStart = VSystem::GetCurrentTime();
    EXPECT_TRUE(slow->SendTo(worker.Task(), 300));
    EXPECT_EQ(slow->fExecutions, 1);
    EXPECT_FALSE(slow->IsAborted());
    EXPECT_EQ(late->fExecutions, 0);

    // The aborted message can be sent again.
    EXPECT_TRUE(late->SendTo(worker.Task()));
    EXPECT_EQ(late->fExecutions, 1);
}

TEST_F(VMessageTest, CancellingWakesSendersWithAbort)
{
    Worker worker;
    worker.Block();
    RecordingTarget target;
    MoveTo(target, worker.Task());
    auto message = New<NumberedMessage>(1);
    std::atomic<bool> result{true};
    std::thread sender([&] { result = message->SendTo(&target); });
    // Wait until the message is really queued behind the blocker.
    VMessageQueue* queue = worker.Task()->RetainMessageQueue();
    while (queue->CountMessages() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    queue->Release();

    VTaskMgr::Get()->CancelMessages(&target);
    sender.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(message->IsAborted());
    worker.Open();
    EXPECT_TRUE(target.Numbers().empty());
}

TEST_F(VMessageTest, MessagesOfADestroyedTargetRunNothing)
{
    Worker worker;
    worker.Block();
    auto* target = new RecordingTarget;
    MoveTo(*target, worker.Task());
    auto message = New<NumberedMessage>(1);
    ASSERT_TRUE(message->PostTo(target));
    delete target;
    worker.Open();
    auto fence = New<CountingMessage>();
    EXPECT_TRUE(fence->SendTo(worker.Task()));
    EXPECT_TRUE(message->Answered());  // executed, with no target to reach
}

// A target on one task whose messages call back into another task.
class EchoTarget : public IMessageable {
public:
    explicit EchoTarget(IMessageable* replyTo) : fReplyTo(replyTo) {}
    void DoMessage(VMessage& message) override
    {
        auto reply = New<NumberedMessage>(static_cast<NumberedMessage&>(message).GetNumber() + 1000);
        fReplyOK = reply->SendTo(fReplyTo, 10000);
    }
    std::atomic<bool> fReplyOK{false};

private:
    IMessageable* fReplyTo;
};

TEST_F(VMessageTest, PostAndWaitKeepsTheCallerServingItsOwnMessages)
{
    // The worker's message sends back to the main task while the main task
    // waits: a plain send would deadlock, post-and-wait does not.
    Worker worker;
    RecordingTarget mainTarget;
    EchoTarget echo(&mainTarget);
    MoveTo(echo, worker.Task());
    auto message = New<NumberedMessage>(1);
    EXPECT_TRUE(message->PostToAndWaitExecutingMessages(&echo, 10000));
    EXPECT_TRUE(echo.fReplyOK);
    EXPECT_EQ(mainTarget.Numbers(), std::vector<int>{1001});
    EXPECT_EQ(mainTarget.Tasks(), std::vector<int32_t>{VTask::GetMain()->GetID()});

    auto again = New<NumberedMessage>(2);
    EXPECT_TRUE(again->PostToAndWaitExecutingMessages(&echo));
    EXPECT_EQ(mainTarget.Numbers(), (std::vector<int>{1001, 1002}));
}

TEST_F(VMessageTest, PostAndWaitGivesUpOnAMessageNotTakenInTime)
{
    Worker worker;
    worker.Block();
    struct Case {
        int ms;
    };
    for (const Case c : {Case{0}, Case{60}}) {
        SCOPED_TRACE(c.ms);
        auto message = New<CountingMessage>();
        const uint64_t start = VSystem::GetCurrentTime();
        EXPECT_FALSE(message->PostToAndWaitExecutingMessages(worker.Task(), c.ms));
        EXPECT_GE(VSystem::GetCurrentTime() - start + 5, static_cast<uint64_t>(c.ms));
        EXPECT_TRUE(message->IsAborted());
        EXPECT_FALSE(message->IsBound());
        VMessageQueue* queue = worker.Task()->RetainMessageQueue();
        EXPECT_EQ(queue->CountMessages(), 0);
        queue->Release();
    }
    worker.Open();
}

TEST_F(VMessageTest, APlainThreadCanPostSendAndPostAndWait)
{
    Worker worker;
    RecordingTarget target;
    MoveTo(target, worker.Task());
    std::thread outsider([&] {
        EXPECT_EQ(VTask::GetCurrent(), nullptr);
        auto posted = New<NumberedMessage>(1);
        EXPECT_TRUE(posted->PostTo(&target));
        auto sent = New<NumberedMessage>(2);
        EXPECT_TRUE(sent->SendTo(&target, 10000));
        auto waited = New<NumberedMessage>(3);
        EXPECT_TRUE(waited->PostToAndWaitExecutingMessages(&target, 10000));
    });
    outsider.join();
    EXPECT_EQ(target.Numbers(), (std::vector<int>{1, 2, 3}));
}

TEST_F(VMessageTest, DelayedMessagesArriveAtAnIdlePassAfterTheirDelay)
{
    RecordingTarget target;
    auto* message = new NumberedMessage(7);
    const uint64_t start = VSystem::GetCurrentTime();
    ASSERT_TRUE(message->PostTo(&target, false, 100));
    EXPECT_TRUE(message->IsBound());
    EXPECT_TRUE(message->PostTo(&target, false, 100));  // bound: not registered twice

    EXPECT_FALSE(VTask::ExecuteMessages(true));
    EXPECT_TRUE(target.Numbers().empty());
    while (target.Numbers().empty() && VSystem::GetCurrentTime() - start < 5000)
        VTask::ExecuteMessagesWithTimeout(5, true);
    // Due 6 ticks after registration, delivered once more than that passed.
    EXPECT_GE(VSystem::GetCurrentTime() - start, 90u);
    EXPECT_EQ(target.Numbers(), std::vector<int>{7});
    message->Release();

    // A cancelled delayed message is aborted and never arrives.
    auto* cancelled = new NumberedMessage(8);
    ASSERT_TRUE(cancelled->PostTo(&target, false, 20));
    VTaskMgr::Get()->CancelMessages(&target);
    EXPECT_TRUE(cancelled->IsAborted());
    VTask::ExecuteMessagesWithTimeout(100, true);
    VTask::ExecuteMessagesWithTimeout(100, true);
    EXPECT_EQ(target.Numbers(), std::vector<int>{7});
    cancelled->Release();
}

TEST_F(VMessageTest, FunctionMessagesRunOnTheirTask)
{
    Worker worker;
    int32_t ranOn = 0;
    EXPECT_TRUE(VFunctionMessage::PostToAndWait(worker.Task(), [&] { ranOn = VTask::GetCurrentID(); }));
    EXPECT_EQ(ranOn, worker.Task()->GetID());

    // From the worker to the main task, while the main task waits for it.
    std::atomic<int32_t> mainRanOn{0};
    VFunctionMessage::PostFunctionTo(worker.Task(), [&] {
        VFunctionMessage::PostToMainTaskAndWait([&] { mainRanOn = VTask::GetCurrentID(); });
    });
    for (int i = 0; i < 500 && mainRanOn == 0; ++i)
        VTask::ExecuteMessagesWithTimeout(10, false);
    EXPECT_EQ(mainRanOn, VTask::GetMain()->GetID());

    // On the main task itself, or asked to, it runs at once.
    bool ranHere = false;
    VFunctionMessage::PostToMainTaskAndWait([&] { ranHere = true; });
    EXPECT_TRUE(ranHere);
    bool posted = false;
    VFunctionMessage::PostToMainTask([&] { posted = true; });
    EXPECT_FALSE(posted);
    EXPECT_TRUE(VTask::ExecuteMessages(false));
    EXPECT_TRUE(posted);
}

TEST_F(VMessageTest, AThrowingMessageReleasesItsSender)
{
    Worker worker;
    auto* empty = new VFunctionMessage(std::function<void()>());
    EXPECT_FALSE(empty->SendTo(worker.Task(), 10000));
    EXPECT_TRUE(empty->IsAborted());
    EXPECT_FALSE(empty->Answered());
    // The worker's loop saw the exception and goes on serving.
    auto fence = New<CountingMessage>();
    EXPECT_TRUE(fence->SendTo(worker.Task(), 10000));
    EXPECT_EQ(worker.CaughtExceptions(), 1);
    empty->Release();
}

}  // namespace
}  // namespace bkit
