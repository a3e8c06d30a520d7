// VLoggerTest.cpp - the process logger: level masks, the ring, listeners, its task and crawl texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "basekit/runtime/VLogger.h"
#include "basekit/runtime/VSystem.h"
#include "runtime/LoggerTestSupport.h"

namespace bkit {
namespace {

using test::RecordingListener;

VRefPtr<VValueBag> Entry(const char* message, int32_t level = -1)
{
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    ILoggerBagKeys::message.Set(bag.Get(), VString(message));
    if (level >= 0) ILoggerBagKeys::level.Set(bag.Get(), level);
    return bag;
}

VRefPtr<RecordingListener> NewListener()
{
    return VRefPtr<RecordingListener>::Adopt(new RecordingListener());
}

TEST(VLogger, LevelMaskAndStartDecideWhatIsKept)
{
    VRefPtr<VLogger> logger = VRefPtr<VLogger>::Adopt(new VLogger());
    VRefPtr<RecordingListener> listener = NewListener();
    logger->AddLogListener(listener.Get());

    logger->LogBag(Entry("before start").Get());
    EXPECT_FALSE(logger->ShouldLog(EML_Information));
    logger->Start();
    struct Case {
        int32_t level;  // -1: no "level" key, an info entry
        bool kept;
    };
    const Case cases[] = {{-1, true}, {EML_Dump, false}, {EML_Trace, false}, {EML_Assert, false}, {EML_Debug, false},
                          {EML_Information, true}, {EML_Warning, true}, {EML_Error, true}, {EML_Fatal, true},
                          {36, true}};  // taken modulo 32: 4
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        std::string text = "level " + std::to_string(c.level);
        logger->LogBag(Entry(text.c_str(), c.level).Get());
        if (c.kept) expected.push_back(text);
    }
    EXPECT_FALSE(logger->WithDebug(true));
    EXPECT_TRUE(logger->WithDebug(false));
    EXPECT_TRUE(logger->WithInfo(false));
    logger->LogBag(Entry("info off").Get());
    EXPECT_FALSE(logger->WithInfo(true));
    EXPECT_TRUE(logger->WithTag(EML_Fatal, true));
    logger->LogBag(nullptr);
    logger->Flush();
    EXPECT_EQ(listener->Messages(), expected);
    logger->RemoveLogListener(listener.Get());
}

TEST(VLogger, FullRingDropsTheOldestAndListenersGetBatchesNewestListenerFirst)
{
    VRefPtr<VLogger> logger = VRefPtr<VLogger>::Adopt(new VLogger());
    logger->Start();
    // The order in which listeners see a batch.
    struct OrderListener : RecordingListener {
        OrderListener(std::vector<int>* order, int id) : fOrder(order), fId(id) {}
        void Put(const std::vector<const VValueBag*>& bags) override
        {
            fOrder->push_back(fId);
            RecordingListener::Put(bags);
        }
        std::vector<int>* fOrder;
        int fId;
    };
    std::vector<int> order;
    VRefPtr<OrderListener> first = VRefPtr<OrderListener>::Adopt(new OrderListener(&order, 1));
    VRefPtr<OrderListener> second = VRefPtr<OrderListener>::Adopt(new OrderListener(&order, 2));
    EXPECT_TRUE(logger->AddLogListener(first.Get()));
    EXPECT_TRUE(logger->AddLogListener(second.Get()));
    EXPECT_FALSE(logger->AddLogListener(first.Get())) << "already listening";
    EXPECT_FALSE(logger->AddLogListener(nullptr));
    // The ring is tested without the task's flushes: it is stopped, and the
    // logger (still started) is flushed by hand.
    logger->Stop();
    for (int i = 1; i <= 1001; ++i) logger->LogBag(Entry(std::to_string(i).c_str()).Get());
    logger->Flush();

    std::vector<std::string> expected;
    for (int i = 2; i <= 1001; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(first->Messages(), expected);
    EXPECT_EQ(second->Messages(), expected);
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], 2) << "the newest listener receives each batch first";
    EXPECT_EQ(order[1], 1);
    EXPECT_TRUE(logger->RemoveLogListener(first.Get()));
    EXPECT_FALSE(logger->RemoveLogListener(first.Get()));
    EXPECT_FALSE(logger->RemoveLogListener(nullptr));
}

TEST(VLogger, LogMessageStoresLevelOnlyWhenNotInfoAndFillsTheSource)
{
    VRefPtr<VLogger> logger = VRefPtr<VLogger>::Adopt(new VLogger());
    logger->Start();
    VString processSource;
    ILogger::GetLogSourceIdentifier(processSource);
    logger->LogMessage(EML_Information, VString("info"), VString());
    logger->LogMessage(EML_Error, VString("error"), VString("Mine"));
    logger->LogMessage(EML_Debug, VString("masked"), VString());
    VRefPtr<RecordingListener> listener = NewListener();
    logger->AddLogListener(listener.Get());
    logger->RemoveLogListener(listener.Get());  // flushes first
    std::vector<const VValueBag*> bags = listener->Bags();
    ASSERT_EQ(bags.size(), 2u);
    EXPECT_FALSE(ILoggerBagKeys::level.HasAttribute(bags[0]));
    EXPECT_EQ(ILoggerBagKeys::level.Get(bags[1]), EML_Error);
    VString source;
    ILoggerBagKeys::source.Get(bags[0], source);
    EXPECT_EQ(to_string(source), to_string(processSource));
    EXPECT_FALSE(processSource.IsEmpty());
    ILoggerBagKeys::source.Get(bags[1], source);
    EXPECT_EQ(to_string(source), "Mine");
}

TEST(VLogger, LoggerTaskFlushesOnItsOwnAndStopEndsIt)
{
    VRefPtr<VLogger> logger = VRefPtr<VLogger>::Adopt(new VLogger());
    logger->Start();
    VRefPtr<RecordingListener> listener = NewListener();
    logger->AddLogListener(listener.Get());
    logger->LogMessage(EML_Warning, VString("by the task"), VString());
    for (int i = 0; i < 500 && listener->Messages().empty(); ++i) VSystem::Delay(10);
    EXPECT_EQ(listener->Messages(), std::vector<std::string>{"by the task"});
    logger->Stop();
    // No more flushes once stopped.
    logger->LogMessage(EML_Warning, VString("after stop"), VString());
    VSystem::Delay(250);
    EXPECT_EQ(listener->Messages().size(), 1u);
    // Destroyed with a listener and an entry still in the ring.
}

TEST(VLogger, DestroyingAFlushingLoggerWaitsForItsTask)
{
    // A slow listener keeps the task inside Flush while the logger goes.
    struct SlowListener : RecordingListener {
        void Put(const std::vector<const VValueBag*>& bags) override
        {
            VSystem::Delay(30);
            RecordingListener::Put(bags);
        }
    };
    for (int round = 0; round < 3; ++round) {
        VRefPtr<SlowListener> listener = VRefPtr<SlowListener>::Adopt(new SlowListener());
        {
            VRefPtr<VLogger> logger = VRefPtr<VLogger>::Adopt(new VLogger());
            logger->Start();
            logger->AddLogListener(listener.Get());
            for (int i = 0; i < 20; ++i) {
                logger->LogMessage(EML_Information, VString("x"), VString());
                VSystem::Delay(7);
            }
        }
        EXPECT_GT(listener->Batches(), 0);
    }
}

TEST(VLogger, SequenceNumbersCountUpAndCrawlTextsAreSimplified)
{
    uint64_t first = ILogger::GetSequenceNumber();
    EXPECT_GE(first, 1u);
    EXPECT_EQ(ILogger::GetSequenceNumber(), first + 1);

    const std::pair<const char*, const char*> cases[] = {
        {"   {1} 0x10 - bkit::VFile::Open(bkit::VString const&, int) const\n   {0} 0x20 - main\n",
         "   {1} 0x10 - VFile::Open <-    {0} 0x20 - main"},
        {"non-virtual thunk to bkit::VTask::DoRun()", "VTask::DoRun"},
        {"a) before (b", "a) before (b"},
        {"", ""},
    };
    for (auto [crawl, expected] : cases) {
        VString out;
        ILogger::SimplifyStackCrawl(VString(crawl), out);
        EXPECT_EQ(to_string(out), expected) << crawl;
    }
}

}  // namespace
}  // namespace bkit
