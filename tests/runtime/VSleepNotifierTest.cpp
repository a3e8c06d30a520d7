// VSleepNotifierTest.cpp - sleep and wake injected through the platform seam.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "basekit/platform/SystemPower.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VSleepNotifier.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacSleepNotifier.h"
#include "runtime/LoggerTestSupport.h"

using namespace bkit;

namespace {

class RecordingSleepHandler : public VObject, public VSleepNotifier::ISleepHandler {
public:
    void HandleSleep() override { fEvents.push_back("sleep"); if (fOnSleep) fOnSleep(); }
    void HandleWakeUp() override { fEvents.push_back("wake"); }
    void GetDescription(VString& description) override { description = "recorder"; }
    std::vector<std::string> fEvents;
    std::function<void()> fOnSleep;
};

class RecordingScheduler : public VScheduler_void {
public:
    void SetSystemCallCFRunloop(bool on) override { fCalls.push_back(on); }
    std::vector<bool> fCalls;
};

}  // namespace

TEST(SleepNotifierTest, InjectedSleepAndWakeReachLoggerSchedulerAndHandlers)
{
    test::StProcessLogger logger;
    auto previous = VRefPtr<IFiberScheduler>::Adopt(VTaskMgr::Get()->RetainFiberScheduler());
    auto scheduler = VRefPtr<RecordingScheduler>::Adopt(new RecordingScheduler);
    VTaskMgr::Get()->SetFiberScheduler(scheduler.Get());
    auto handler = VRefPtr<RecordingSleepHandler>::Adopt(new RecordingSleepHandler);
    {
        VSleepNotifier notifier;
        ASSERT_EQ(notifier.Init(), VE_OK) << "registration succeeds though Linux delivers nothing";
        EXPECT_EQ(notifier.RegisterSleepHandler(handler.Get()), VE_OK);
        EXPECT_EQ(notifier.RegisterSleepHandler(handler.Get()), VE_OK);
        EXPECT_EQ(handler->GetRefCount(), 2) << "registered twice, retained once";
        EXPECT_EQ(notifier.RegisterSleepHandler(nullptr), VE_INVALID_PARAMETER);

        const uint32_t allowed = platform::GetAllowPowerChangeCountForTest();
        platform::InjectPowerMessageForTest(platform::kPowerMessageCanSystemSleep, nullptr);
        EXPECT_TRUE(handler->fEvents.empty()) << "a query is answered, not passed on";
        platform::InjectPowerMessageForTest(platform::kPowerMessageSystemWillSleep, nullptr);
        platform::InjectPowerMessageForTest(platform::kPowerMessageSystemHasPoweredOn, nullptr);
        platform::InjectPowerMessageForTest(0xE0000210, nullptr);  // another message: ignored
        EXPECT_EQ(platform::GetAllowPowerChangeCountForTest(), allowed + 2);

        EXPECT_EQ(handler->fEvents, (std::vector<std::string>{"sleep", "wake"}));
        EXPECT_EQ(scheduler->fCalls, (std::vector<bool>{true, false}));
        std::vector<std::string> messages = logger.LoggedMessages();
        EXPECT_EQ(messages, (std::vector<std::string>{"System is going to sleep", "System woke up from sleep"}));
        std::vector<const VValueBag*> bags = logger.Listener()->Bags();
        ASSERT_FALSE(bags.empty());
        VString source;
        ILoggerBagKeys::source.Get(bags[0], source);
        EXPECT_EQ(source, VString("sleepNotifications"));
    }
    EXPECT_EQ(handler->GetRefCount(), 1) << "the notifier released its handler";

    platform::InjectPowerMessageForTest(platform::kPowerMessageSystemWillSleep, nullptr);
    EXPECT_EQ(handler->fEvents.size(), 2u) << "a destroyed notifier is deregistered";
    VTaskMgr::Get()->SetFiberScheduler(previous.Get());
}

TEST(SleepNotifierTest, HandlersMayUnregisterWhileCalled)
{
    VSleepNotifier notifier;
    ASSERT_EQ(notifier.Init(), VE_OK);
    auto first = VRefPtr<RecordingSleepHandler>::Adopt(new RecordingSleepHandler);
    auto second = VRefPtr<RecordingSleepHandler>::Adopt(new RecordingSleepHandler);
    notifier.RegisterSleepHandler(first.Get());
    notifier.RegisterSleepHandler(second.Get());
    first->fOnSleep = [&] { notifier.UnregisterSleepHandlers(); };
    second->fOnSleep = [&] { notifier.UnregisterSleepHandlers(); };
    notifier.HaveSleepNotification();
    EXPECT_EQ(first->fEvents.size(), 1u);
    EXPECT_EQ(second->fEvents.size(), 1u) << "handlers run from a copy of the set";
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(notifier.UnregisterSleepHandler(nullptr), VE_INVALID_PARAMETER);
}

TEST(SleepNotifierTest, FailedRegistrationRaises1150Twice)
{
    StErrorContextInstaller errors(false, true);
    platform::SetPowerRegistrationFailsForTest(true);
    VSleepNotifier notifier;
    EXPECT_EQ(notifier.Init(), VE_SLEEP_NOTIFIER_CANNOT_REGISTER);
    platform::SetPowerRegistrationFailsForTest(false);
    ASSERT_NE(errors.GetContext(), nullptr);
    ASSERT_EQ(errors.GetContext()->GetErrorCount(), 2);

    // A callback without reference does nothing.
    XMacSleepNotifier::SystemCallback(nullptr, 0, platform::kPowerMessageSystemWillSleep, nullptr);
}
