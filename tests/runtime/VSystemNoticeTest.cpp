// VSystemNoticeTest.cpp - notices through the seam folder, zenity and the console.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "basekit/runtime/VDebugMgr.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/mac/XMacSystem.h"
#include "basekit/text/VString.h"
#include "runtime/ScopedEnv.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

using test::StEnv;
using test::TempFolder;

// Plays the user: waits for the next notice file of this process in the seam
// folder, hands its text to the test and answers with the given text.
class NoticeResponder {
public:
    NoticeResponder(const TempFolder& folder, std::string answer) : fFolder(folder), fAnswer(std::move(answer))
    {
        fThread = std::thread([this] { Run(); });
    }
    ~NoticeResponder() { fThread.join(); }
    const std::string& NoticeText() const { return fNotice; }

private:
    void Run()
    {
        for (int tries = 0; tries < 1000; ++tries) {
            for (int n = 1; n < 200; ++n) {
                std::string base = "notice-" + std::to_string(getpid()) + "-" + std::to_string(n);
                if (!fFolder.ItemExists(base + ".json") || fFolder.ItemExists(base + ".answer")) continue;
                fNotice = fFolder.ReadFile(base + ".json");
                fFolder.WriteFile(base + ".tmp", fAnswer);
                std::rename(fFolder.Path(base + ".tmp").c_str(), fFolder.Path(base + ".answer").c_str());
                return;
            }
            usleep(5000);
        }
    }
    const TempFolder& fFolder;
    std::string fAnswer;
    std::string fNotice;
    std::thread fThread;
};

struct ButtonCase {
    uint32_t flags;
    const char* buttons;  // the "buttons" array of the notice file, default first
};

const ButtonCase kButtonCases[] = {
    {1, R"([{"title":"Cancel","response":2},{"title":"OK","response":1}])"},
    {0x11, R"([{"title":"OK","response":1},{"title":"Cancel","response":2}])"},
    {2, R"([{"title":"No","response":4},{"title":"Yes","response":3}])"},
    {0x12, R"([{"title":"Yes","response":3},{"title":"No","response":4}])"},
    {4, R"([{"title":"Cancel","response":2},{"title":"No","response":4},{"title":"Yes","response":3}])"},
    {0x14, R"([{"title":"Yes","response":3},{"title":"No","response":4},{"title":"Cancel","response":2}])"},
    {0x24, R"([{"title":"No","response":4},{"title":"Yes","response":3},{"title":"Cancel","response":2}])"},
    {0x34, R"([{"title":"Cancel","response":2},{"title":"No","response":4},{"title":"Yes","response":3}])"},
    {5, R"([{"title":"Retry","response":6},{"title":"Ignore","response":7},{"title":"Abort","response":5}])"},
    {0, R"([])"},
    {3, R"([])"},
    {0x20F, R"([])"},
};

// The responses a notice file offers, read back from its buttons text.
std::vector<int> Responses(const std::string& buttons)
{
    std::vector<int> responses;
    for (size_t at = 0; (at = buttons.find("\"response\":", at)) != std::string::npos; at += 11)
        responses.push_back(std::atoi(buttons.c_str() + at + 11));
    return responses;
}

class NoticeSeamTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        fSeam.emplace("BKIT_NOTICE_DIR", fTemp.Path().c_str());
    }
    void TearDown() override { VSystem::CancelAllPendingUserNotifications(); }
    std::optional<StEnv> fSeam;
};

TEST_F(NoticeSeamTest, EveryButtonSetOffersItsButtonsAndAnswersEachOne)
{
    for (const ButtonCase& c : kButtonCases) {
        std::vector<int> answers = Responses(c.buttons);
        if (answers.empty()) answers.push_back(1);  // the system's single button answers OK
        answers.push_back(8);                       // dismissed
        for (int answer : answers) {
            SCOPED_TRACE("flags " + std::to_string(c.flags) + " answer " + std::to_string(answer));
            ENotificationResponse response = eNotificationResponseNone;
            NoticeResponder responder(fTemp, std::to_string(answer) + "\n");
            ASSERT_TRUE(VSystem::DisplayNotification(VString("Head"), VString("Body \"quoted\"\n"), c.flags, &response));
            EXPECT_EQ(response, answer);
            std::string expected = std::string("{\"title\":\"Head\",\"message\":\"Body \\\"quoted\\\"\\n\",\"buttons\":") +
                                   c.buttons;
            EXPECT_EQ(responder.NoticeText().substr(0, expected.size()), expected);
            EXPECT_NE(responder.NoticeText().find("\"flags\":" + std::to_string(c.flags)), std::string::npos);
            EXPECT_NE(responder.NoticeText().find(std::string("\"caution\":") + ((c.flags & 0x200) ? "true" : "false")),
                      std::string::npos);
        }
    }
}

TEST_F(NoticeSeamTest, AnswerThatIsNoButtonCountsAsDismissedAndEmptyTitleMakesMessageTheHeader)
{
    for (const char* answer : {"3", "garbage", "99"}) {  // 3 (Yes) is not offered by OK/Cancel
        ENotificationResponse response = eNotificationResponseNone;
        NoticeResponder responder(fTemp, answer);
        ASSERT_TRUE(VSystem::DisplayNotification(VString(), VString("Only text"), 1, &response));
        EXPECT_EQ(response, eNotificationResponseDismissed) << answer;
        EXPECT_EQ(responder.NoticeText().rfind("{\"title\":\"Only text\",\"message\":\"\"", 0), 0u);
    }
}

TEST_F(NoticeSeamTest, NoticeWithoutResponseStaysListedUntilCancelled)
{
    size_t before = XMacSystem::GetPendingUserNotificationsCount();
    ASSERT_TRUE(VSystem::DisplayNotification(VString("Later"), VString("m"), 0));
    EXPECT_EQ(XMacSystem::GetPendingUserNotificationsCount(), before + 1);
    VSystem::CancelAllPendingUserNotifications();
    EXPECT_EQ(XMacSystem::GetPendingUserNotificationsCount(), 0u);
    // Withdrawn: its file is gone.
    bool anyLeft = false;
    for (int n = 1; n < 200; ++n)
        anyLeft |= fTemp.ItemExists("notice-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".json");
    EXPECT_FALSE(anyLeft);
}

TEST_F(NoticeSeamTest, DebugHandlerAsksThroughARetryIgnoreAbortNotice)
{
    VNotificationDebugMessageHandler handler;
    VDebugContext context;
    const std::pair<const char*, int32_t> answers[] = {{"6", eDebugReplyContinue}, {"7", eDebugReplyIgnoreThis},
                                                       {"5", eDebugReplyBreak}, {"8", eDebugReplyIgnoreThis}};
    for (auto [answer, reply] : answers) {
        NoticeResponder responder(fTemp, answer);
        EXPECT_EQ(handler.AssertFailed(context, "n > 0", "main.cpp", 7), reply) << answer;
        EXPECT_EQ(responder.NoticeText().rfind("{\"title\":\"Assert Failed\",\"message\":\"Condition: n > 0\\nFile: main.cpp, 7\",\"buttons\":[{\"title\":\"Retry\"", 0), 0u)
            << responder.NoticeText();
    }
    VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeBKitError(600)));
    NoticeResponder responder(fTemp, "6");
    EXPECT_EQ(handler.ErrorThrown(context, error.Get()), eDebugReplyContinue);
    EXPECT_EQ(responder.NoticeText().rfind("{\"title\":\"Error Thrown\",\"message\":\"Error: ", 0), 0u);
}

TEST(NoticeConsole, HeadlessNoticeAnswersItsDefaultButtonAtOnce)
{
    StEnv seam("BKIT_NOTICE_DIR", nullptr), x11("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
    const std::pair<uint32_t, ENotificationResponse> cases[] = {
        {2, eNotificationResponseNo},     {0x12, eNotificationResponseYes},   {0x24, eNotificationResponseNo},
        {5, eNotificationResponseRetry},  {0, eNotificationResponseOK},       {1, eNotificationResponseCancel},
    };
    for (auto [flags, expected] : cases) {
        ENotificationResponse response = eNotificationResponseNone;
        EXPECT_TRUE(VSystem::DisplayNotification(VString("Headless"), VString("notice"), flags, &response));
        EXPECT_EQ(response, expected) << flags;
    }
    // A desktop without zenity falls back to the console too.
    StEnv desktop("DISPLAY", ":99"), noTools("PATH", "/nonexistent");
    ENotificationResponse response = eNotificationResponseNone;
    EXPECT_TRUE(VSystem::DisplayNotification(VString("No zenity"), VString(), 0x12, &response));
    EXPECT_EQ(response, eNotificationResponseYes);
}

// A zenity of our own on PATH records its arguments and answers as told.
TEST(NoticeZenity, ButtonsBecomeLabelsAndExitCodesBecomeAnswers)
{
    TempFolder folder;
    ASSERT_TRUE(folder.WriteFile("zenity",
                                 "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$FAKE_ZENITY_ARGS\"\n"
                                 "printf '%s\\n' \"$FAKE_ZENITY_OUT\"\nexit \"$FAKE_ZENITY_EXIT\"\n",
                                 0755));
    std::string path = folder.Path() + ":" + (getenv("PATH") ? getenv("PATH") : "");
    StEnv seam("BKIT_NOTICE_DIR", nullptr), x11("DISPLAY", ":99"), searchPath("PATH", path.c_str());
    StEnv args("FAKE_ZENITY_ARGS", folder.Path("args").c_str());
    struct Case {
        uint32_t flags;
        const char* exitCode;
        const char* output;
        ENotificationResponse expected;
        const char* labels;
    };
    const Case cases[] = {
        {0x14, "0", "", eNotificationResponseYes, "--ok-label=Yes\n--cancel-label=No\n--extra-button=Cancel\n"},
        {0x14, "1", "", eNotificationResponseNo, "--ok-label=Yes\n--cancel-label=No\n--extra-button=Cancel\n"},
        {0x14, "1", "Cancel", eNotificationResponseCancel, "--extra-button=Cancel\n"},
        {2, "0", "", eNotificationResponseNo, "--ok-label=No\n--cancel-label=Yes\n"},
        {0x202, "5", "", eNotificationResponseDismissed, "--icon-name=dialog-warning\n"},
        {0, "0", "", eNotificationResponseOK, "--info\n"},
        {0x200, "1", "", eNotificationResponseDismissed, "--warning\n"},
    };
    for (const Case& c : cases) {
        StEnv exitCode("FAKE_ZENITY_EXIT", c.exitCode), output("FAKE_ZENITY_OUT", c.output);
        ENotificationResponse response = eNotificationResponseNone;
        ASSERT_TRUE(VSystem::DisplayNotification(VString("T"), VString("M"), c.flags, &response));
        EXPECT_EQ(response, c.expected) << c.flags << " exit " << c.exitCode;
        std::string recorded = folder.ReadFile("args");
        EXPECT_NE(recorded.find(c.labels), std::string::npos) << recorded;
        EXPECT_NE(recorded.find("--title=T\n--text=M\n"), std::string::npos) << recorded;
    }
}

}  // namespace
}  // namespace bkit
