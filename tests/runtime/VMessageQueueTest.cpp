// VMessageQueueTest.cpp - order, coalescing, wake-ups and cancelling of queues.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "basekit/runtime/VMessageQueue.h"
#include "basekit/runtime/VSystem.h"
#include "VMessageTestSupport.h"

namespace bkit {
namespace {

using testing::EnsureTaskManager;
using testing::NumberedMessage;
using testing::RecordingTarget;

// Takes every message out of the queue and answers their numbers.
std::vector<int> Drain(VMessageQueue& queue)
{
    std::vector<int> numbers;
    while (VMessage* message = queue.RetainMessage()) {
        numbers.push_back(static_cast<NumberedMessage*>(message)->GetNumber());
        message->Release();
    }
    return numbers;
}

class VMessageQueueTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTaskManager(); }
    void TearDown() override { fQueue->Release(); }

    // Adds a new unbound numbered message; the queue keeps the only reference.
    bool Add(VMessage* message)
    {
        const bool added = fQueue->AddMessage(message);
        message->Release();
        return added;
    }

    VMessageQueue* fQueue = new VMessageQueue;
};

TEST_F(VMessageQueueTest, TakesMessagesInArrivalOrderAndCountsThem)
{
    EXPECT_TRUE(fQueue->IsEmpty());
    const uint32_t stamp = fQueue->GetStamp();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(Add(new NumberedMessage(i)));
    EXPECT_EQ(fQueue->CountMessages(), 5);
    EXPECT_EQ(fQueue->GetStamp(), stamp + 5);
    EXPECT_EQ(Drain(*fQueue), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(fQueue->IsEmpty());
    EXPECT_EQ(fQueue->RetainMessage(), nullptr);
}

// A message whose coalescing is decided by the test; it records who asked it.
class CoalescingMessage : public NumberedMessage {
public:
    CoalescingMessage(int number, int signature, bool keepNewer)
        : NumberedMessage(number), fSignature(signature), fKeepNewer(keepNewer)
    {
    }
    int GetCoalescingSignature() const override { return fSignature; }
    bool DoCoalesce(const VMessage& newer) override
    {
        fOfferedNumbers.push_back(static_cast<const NumberedMessage&>(newer).GetNumber());
        return fKeepNewer;
    }
    std::vector<int> fOfferedNumbers;

private:
    int fSignature;
    bool fKeepNewer;
};

TEST_F(VMessageQueueTest, CoalescesBySignatureWithTheFirstQueuedMatch)
{
    struct Case {
        const char* name;
        int queuedSignature;
        bool queuedKeepsNewer;
        int newSignature;
        bool expectAdded;
        bool expectOffered;
    };
    const Case cases[] = {
        {"absorbed", 7, false, 7, false, true},
        {"kept beside", 7, true, 7, true, true},
        {"other signature", 7, false, 8, true, false},
        {"signature 0 never coalesces", 0, false, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VMessageQueue* queue = new VMessageQueue;
        auto* queued = new CoalescingMessage(1, c.queuedSignature, c.queuedKeepsNewer);
        ASSERT_TRUE(queue->AddMessage(queued));
        auto* newer = new CoalescingMessage(2, c.newSignature, false);
        EXPECT_EQ(queue->AddMessage(newer), c.expectAdded);
        EXPECT_EQ(queue->CountMessages(), c.expectAdded ? 2 : 1);
        EXPECT_EQ(queued->fOfferedNumbers.size(), c.expectOffered ? 1u : 0u);
        queued->Release();
        newer->Release();
        queue->Release();
    }

    // Only the first queued message with the signature is asked.
    auto* first = new CoalescingMessage(1, 5, true);
    auto* between = new CoalescingMessage(2, 6, false);
    auto* second = new CoalescingMessage(3, 5, false);
    for (VMessage* m : {static_cast<VMessage*>(first), static_cast<VMessage*>(between), static_cast<VMessage*>(second)})
        ASSERT_TRUE(fQueue->AddMessage(m));
    auto* newest = new CoalescingMessage(4, 5, false);
    EXPECT_TRUE(fQueue->AddMessage(newest));
    EXPECT_EQ(first->fOfferedNumbers, (std::vector<int>{3, 4}));
    EXPECT_TRUE(second->fOfferedNumbers.empty());
    EXPECT_EQ(Drain(*fQueue), (std::vector<int>{1, 2, 3, 4}));
    for (VMessage* m : {static_cast<VMessage*>(first), static_cast<VMessage*>(between), static_cast<VMessage*>(second),
                        static_cast<VMessage*>(newest)})
        m->Release();
}

TEST_F(VMessageQueueTest, WakeUpEndsAWaitWithoutMessageAndIsConsumedOnce)
{
    const uint32_t stamp = fQueue->GetStamp();
    fQueue->SetEvent();
    EXPECT_EQ(fQueue->GetStamp(), stamp + 1);

    bool timedOut = true;
    EXPECT_EQ(fQueue->RetainMessageWithTimeout(5000, &timedOut), nullptr);
    EXPECT_FALSE(timedOut);

    // Consumed: the next wait runs out.
    EXPECT_EQ(fQueue->RetainMessageWithTimeout(20, &timedOut), nullptr);
    EXPECT_TRUE(timedOut);

    // A wake-up comes before a queued message; the message stays.
    ASSERT_TRUE(Add(new NumberedMessage(9)));
    fQueue->SetEvent();
    EXPECT_EQ(fQueue->RetainMessageWithTimeout(5000, &timedOut), nullptr);
    EXPECT_FALSE(timedOut);
    VMessage* message = fQueue->RetainMessageWithTimeout(5000, &timedOut);
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(timedOut);
    message->Release();

    // Wait consumes a wake-up the same way.
    fQueue->SetEvent();
    EXPECT_TRUE(fQueue->Wait(5000));
    EXPECT_FALSE(fQueue->Wait(10));
}

TEST_F(VMessageQueueTest, WakeUpSurvivesTakingTheLastMessage)
{
    // The event stays set for a pending wake-up even when the queue empties;
    // otherwise the owner would sleep through it.
    ASSERT_TRUE(Add(new NumberedMessage(1)));
    fQueue->SetEvent();
    VMessage* message = fQueue->RetainMessage();
    ASSERT_NE(message, nullptr);
    message->Release();

    bool timedOut = true;
    const uint64_t start = VSystem::GetCurrentTime();
    EXPECT_EQ(fQueue->RetainMessageWithTimeout(5000, &timedOut), nullptr);
    EXPECT_FALSE(timedOut);
    EXPECT_LT(VSystem::GetCurrentTime() - start, 4000u);
}

TEST_F(VMessageQueueTest, AWaitingThreadWakesForAMessageFromAnother)
{
    VMessage* received = nullptr;
    bool timedOut = true;
    std::thread waiter([&] { received = fQueue->RetainMessageWithTimeout(-1, &timedOut); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(Add(new NumberedMessage(3)));
    waiter.join();
    ASSERT_NE(received, nullptr);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(static_cast<NumberedMessage*>(received)->GetNumber(), 3);
    received->Release();
}

TEST_F(VMessageQueueTest, CancellingByTargetAbortsOnlyItsMessagesAndKeepsOrder)
{
    RecordingTarget mine;
    RecordingTarget other;
    std::vector<VMessage*> messages;
    struct Entry {
        int number;
        IMessageable* target;
    };
    const Entry entries[] = {{0, &mine}, {1, &other}, {2, nullptr}, {3, &mine}, {4, &other}, {5, nullptr}};
    for (const Entry& e : entries) {
        VMessage* m = new NumberedMessage(e.number);
        if (e.target) {
            ASSERT_TRUE(m->ActivateContext(e.target));
        }
        ASSERT_TRUE(fQueue->AddMessage(m));
        messages.push_back(m);
    }

    fQueue->CancelMessages(&mine);
    EXPECT_EQ(fQueue->CountMessages(), 4);
    fQueue->CancelMessages(nullptr);  // the unbound ones
    EXPECT_TRUE(messages[0]->IsAborted());
    EXPECT_TRUE(messages[3]->IsAborted());
    EXPECT_FALSE(messages[1]->IsAborted());
    EXPECT_FALSE(messages[0]->IsBound());

    // RemoveMessage takes one out without aborting it.
    EXPECT_TRUE(fQueue->RemoveMessage(messages[4]));
    EXPECT_FALSE(fQueue->RemoveMessage(messages[4]));
    EXPECT_FALSE(messages[4]->IsAborted());
    EXPECT_EQ(Drain(*fQueue), std::vector<int>{1});

    // Cancelling everything aborts bound messages.
    ASSERT_TRUE(fQueue->AddMessage(messages[4]));
    fQueue->CancelMessages();
    EXPECT_TRUE(fQueue->IsEmpty());
    EXPECT_TRUE(messages[4]->IsAborted());
    bool timedOut = false;
    EXPECT_EQ(fQueue->RetainMessageWithTimeout(10, &timedOut), nullptr);
    EXPECT_TRUE(timedOut);

    for (VMessage* m : messages) {
        m->ActivateContext(nullptr);
        m->Release();
    }
}

}  // namespace
}  // namespace bkit
