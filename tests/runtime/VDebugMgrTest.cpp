// VDebugMgrTest.cpp - the debug manager's gate, guard, replies, console, logger and assertion file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "basekit/platform/BundleInfo.h"
#include "basekit/runtime/VDebugMgr.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "runtime/LoggerTestSupport.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

// Codes of their own: ignored codes stay ignored for the rest of the process.
const VError kGuarded = MakeVError(MakeOsType("DBGT"), 1);
const VError kInner = MakeVError(MakeOsType("DBGT"), 2);
const VError kIgnored = MakeVError(MakeOsType("DBGT"), 3);
const VError kOther = MakeVError(MakeOsType("DBGT"), 4);

class DebugMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(VTask::GetCurrent(), nullptr);
        fLog.Logger()->WithDebug(true);
        fLog.Logger()->WithAssert(true);
    }
    void TearDown() override { VDebugMgr::Get()->SetLogInDebugger(false); }

    StErrorContextInstaller fDropErrors{false, false};
    test::StDebugHandler fDebug;
    test::StProcessLogger fLog;
};

void ThrowInner() { _ThrowError(kInner); }

TEST_F(DebugMgrTest, ErrorRaisedWhileHandlingAnotherIsNotReportedAgain)
{
    fDebug.Handler()->fOnError = ThrowInner;
    _ThrowError(kGuarded);
    EXPECT_EQ(fDebug.Handler()->fErrors, std::vector<VError>{kGuarded});
    EXPECT_EQ(fLog.LoggedCodes(), std::vector<VError>{kGuarded});
    EXPECT_EQ(VTask::GetLastError(), kInner) << "the inner error is still pushed";
}

TEST_F(DebugMgrTest, IgnoreThisReplySilencesTheCodeEverywhereButNotOtherCodes)
{
    VDebugMgr::Get()->SetLogInDebugger(true);
    fDebug.Handler()->fReply = eDebugReplyIgnoreThis;
    testing::internal::CaptureStderr();
    _ThrowError(kIgnored);
    fDebug.Handler()->fReply = eDebugReplyContinue;
    _ThrowError(kIgnored);
    _ThrowError(kOther);
    std::string console = testing::internal::GetCapturedStderr();

    EXPECT_EQ(fDebug.Handler()->fErrors, (std::vector<VError>{kIgnored, kOther}));
    EXPECT_EQ(fLog.LoggedCodes(), (std::vector<VError>{kIgnored, kOther}));
    size_t first = console.find("Error: ");
    ASSERT_NE(first, std::string::npos) << console;
    size_t second = console.find("Error: ", first + 1);
    ASSERT_NE(second, std::string::npos) << console;
    EXPECT_EQ(console.find("Error: ", second + 1), std::string::npos) << "the ignored code reached the console twice";
}

TEST_F(DebugMgrTest, LowLevelModeReachesOnlyTheConsole)
{
    VDebugMgr* manager = VDebugMgr::Get();
    manager->SetLogInDebugger(true);
    testing::internal::CaptureStderr();
    manager->StartLowLevelMode();
    manager->DebugMsg(VString("low level\n"));
    manager->StopLowLevelMode();
    manager->DebugMsg(VString("normal\n"));
    std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(console, "low level\nnormal\n");
    EXPECT_EQ(fLog.LoggedMessages(), std::vector<std::string>{"normal"}) << "one trailing line feed removed";

    // Disabled messages reach nobody.
    bool was = manager->SetMessagesEnabled(false);
    testing::internal::CaptureStderr();
    manager->DebugMsg(VString("hidden\n"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    manager->SetMessagesEnabled(was);
}

TEST_F(DebugMgrTest, AssertionRepliesDecideTheAnswerAndIgnoredLocations)
{
    VDebugMgr* manager = VDebugMgr::Get();
    test::RecordingHandler* handler = fDebug.Handler();
    struct Case {
        int32_t reply;
        int line;
        bool expected;
    };
    const Case cases[] = {
        {eDebugReplyContinue, 10, false},
        {eDebugReplyBreak, 11, true},  // the debugger-present flag is set from the start
        {eDebugReplyIgnoreThis, 12, false},
    };
    for (const Case& c : cases) {
        handler->fReply = c.reply;
        EXPECT_EQ(manager->AssertFailed("x > 0", "src/a.cpp", c.line), c.expected) << c.reply;
    }
    handler->fReply = eDebugReplyBreak;
    EXPECT_FALSE(manager->AssertFailed("x > 0", "src/a.cpp", 12)) << "location 12 is ignored";
    EXPECT_EQ(handler->fAssertions, (std::vector<std::string>{"x > 0:10", "x > 0:11", "x > 0:12"}));

    // Without a handler the answer is break-on-assert.
    manager->SetDebugMessageHandler(nullptr);
    bool was = manager->SetBreakOnAssert(true);
    EXPECT_TRUE(manager->AssertFailed("y", "b.cpp", 1));
    manager->SetBreakOnAssert(was);

    // The logger gets the file name after its last '/', the line and a simplified crawl.
    fLog.Logger()->Flush();
    std::vector<const VValueBag*> bags = fLog.Listener()->Bags();
    ASSERT_EQ(bags.size(), 4u);
    VString file, crawl;
    int32_t line = 0;
    EXPECT_TRUE(ILoggerBagKeys::file_name.Get(bags[0], file));
    EXPECT_EQ(to_string(file), "a.cpp");
    EXPECT_TRUE(ILoggerBagKeys::line_number.Get(bags[0], line));
    EXPECT_EQ(line, 10);
    EXPECT_EQ(ILoggerBagKeys::level.Get(bags[0]), EML_Assert);
    EXPECT_TRUE(ILoggerBagKeys::stack_crawl.Get(bags[0], crawl));
    EXPECT_NE(to_string(crawl).find(" <- "), std::string::npos) << to_string(crawl);
}

TEST_F(DebugMgrTest, QuitReplyEndsTheProcessWithExitCodeZero)
{
    fDebug.Handler()->fReply = eDebugReplyQuit;
    EXPECT_EXIT(VDebugMgr::Get()->AssertFailed("quit", "q.cpp", 1), testing::ExitedWithCode(0), "");
}

// Ignoring everything lasts for the rest of the process: checked in a child.
TEST_F(DebugMgrTest, IgnoreAllRepliesSilenceEveryLaterErrorAndAssertion)
{
    test::RecordingHandler* handler = fDebug.Handler();
    EXPECT_EXIT(
        {
            handler->fReply = eDebugReplyIgnoreAll;
            _ThrowError(kOther);
            _ThrowError(kGuarded);
            VDebugMgr::Get()->AssertFailed("a", "f.cpp", 1);
            bool answer = VDebugMgr::Get()->AssertFailed("b", "g.cpp", 2);
            bool ok = handler->fErrors == std::vector<VError>{kOther} && handler->fAssertions.size() == 1 && !answer;
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(NotificationDebugHandler, TranslatesNoticeAnswers)
{
    using H = VNotificationDebugMessageHandler;
    EXPECT_EQ(H::_TranslateNotificationResponse(eNotificationResponseAbort), eDebugReplyBreak);
    EXPECT_EQ(H::_TranslateNotificationResponse(eNotificationResponseRetry), eDebugReplyContinue);
    EXPECT_EQ(H::_TranslateNotificationResponse(eNotificationResponseIgnore), eDebugReplyIgnoreThis);
    EXPECT_EQ(H::_TranslateNotificationResponse(eNotificationResponseDismissed), eDebugReplyIgnoreThis);

    VDebugContext context;
    context.SetUIAllowed(false);
    H handler;
    EXPECT_EQ(handler.AssertFailed(context, "c", "f", 1), eDebugReplyContinue) << "no notice without interaction";
}

// The assertion file of a bundle "<tmp>/Mÿ Äpp.app", written beside it.
class AssertFileTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        std::string executable = fTemp.Path("M\xc3\xbf \xc3\x84pp.app/Contents/MacOS/app");
        platform::BundleInfo::SetExecutablePathForTesting(executable.c_str());
        VDebugMgr::Get()->_ResetAssertFileForTesting();
        fPath = fTemp.Path("M\xc3\xbf \xc3\x84pp_asserts.txt");
    }
    void TearDown() override
    {
        platform::BundleInfo::SetExecutablePathForTesting(nullptr);
        VDebugMgr::Get()->_ResetAssertFileForTesting();
        VDebugMgr::Get()->SetWriteAssertFile(false);
    }
    std::string Read(const std::string& path) { return fTemp.ReadFile(path.substr(fTemp.Path().size() + 1)); }
    std::string fPath;
};

TEST_F(AssertFileTest, FirstOpeningTruncatesLaterOnesAppendAndBigFilesAreSetAside)
{
    VDebugMgr* manager = VDebugMgr::Get();
    EXPECT_EQ(manager->_GetAssertFilePath(), fPath) << "UTF-8 kept, extension cut";
    ASSERT_TRUE(fTemp.WriteFile(fPath.substr(fTemp.Path().size() + 1), "previous run\n"));

    manager->WriteToAssertFile(VString("first\n"), false, false);
    manager->WriteToAssertFile(VString("second\n"), false, false);
    std::string text = Read(fPath);
    EXPECT_EQ(text.rfind("Zanth log file opened on ", 0), 0u) << text;
    EXPECT_EQ(text.find("previous run"), std::string::npos);
    EXPECT_EQ(text.substr(text.find("\n\n") + 2), "first\nsecond\n");

    // Past 10 MiB (a sparse file keeps it cheap) the file is set aside as <path>0, then <path>1.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(truncate(fPath.c_str(), 10485761), 0);
        manager->WriteToAssertFile(VString("after split\n"), false, false);
        struct stat st;
        ASSERT_EQ(stat((fPath + std::to_string(round)).c_str(), &st), 0) << round;
        EXPECT_EQ(st.st_size, 10485761);
        text = Read(fPath);
        std::string banner = std::to_string(round + 1) + " nth log opened on ";
        EXPECT_EQ(text.rfind(banner, 0), 0u) << text;
        EXPECT_EQ(text.substr(text.find("\n\n") + 2), "after split\n");
    }
}

TEST_F(AssertFileTest, FailedAssertionIsWrittenWithDateAndCrawl)
{
    test::StDebugHandler debug;
    StErrorContextInstaller dropErrors(false, false);
    VDebugMgr::Get()->SetWriteAssertFile(true);
    VDebugMgr::Get()->AssertFailed("ptr != nullptr", "file.cpp", 42);
    std::string text = Read(fPath);
    size_t body = text.find("\n\n") + 2;
    // "\n<MM/DD/YY, time>\n", the crawl lines, then the text.
    ASSERT_EQ(text[body], '\n') << text;
    EXPECT_EQ(text[body + 3], '/');
    EXPECT_NE(text.find("  :: frame "), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\nAssert Failed: ptr != nullptr, file.cpp, 42\n")) << text;
}

}  // namespace
}  // namespace bkit
