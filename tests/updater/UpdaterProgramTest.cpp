// UpdaterProgramTest.cpp - the built updater run as its caller runs it, end to end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "basekit/platform/FolderLock.h"
#include "basekit/process/VProcessLauncher.h"
#include "process/ProcessTestSupport.h"
#include "support/StMount.h"
#include "support/TempFolder.h"
#include "updater/UpdaterTestSupport.h"

extern char** environ;

namespace bkit {
namespace {

struct ProgramRun {
    int result;  // the launcher's
    int32_t exitCode;
    std::string out;
    std::string err;
};

class UpdaterProgramTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        fTemp.MakeFolder("logs");
        fTemp.MakeFolder("notices");
        fTemp.MakeFolder("xdg");
        // Whoever reads the notices answers "No" to each (fAnswer: 4), unless
        // a test asks for another answer, or for none (0).
        fAnswering = std::thread([this] {
            while (!fStop.load()) {
                if (int answer = fAnswer.load())
                    AnswerNotices(std::to_string(answer));
                usleep(20000);
            }
        });
    }
    void TearDown() override
    {
        fStop.store(true);
        fAnswering.join();
    }

    void AnswerNotices(const std::string& answer) { test::AnswerNotices(fTemp, "notices", answer); }

    // Runs the updater with the test's environment: our "open" first on PATH,
    // notices into a folder, the Trash below the temporary folder.
    ProgramRun RunUpdater(const std::vector<std::string>& args, const std::string& program = BKIT_UPDATER_PROGRAM,
                          const std::string& workingFolder = "")
    {
        test::LaunchedRun run = test::RunLaunched(fTemp, program, args, "notices", workingFolder);
        return {run.result, run.exitCode, run.out, run.err};
    }

    // A bundle whose executable writes its arguments into "<marker>".
    void MakeApp(const std::string& name, const std::string& content, const std::string& marker)
    {
        test::MakeSampleApp(fTemp, name, content, "#!/bin/sh\necho \"started $*\" > '" + fTemp.Path(marker) + "'\n");
        fTemp.MakeLink(name + "/Contents/current", "content.txt");
    }

    std::string WaitForFile(const std::string& name) { return test::WaitForFile(fTemp, name); }

    // The variables RunUpdater sets, for a program started by StartProgram.
    std::vector<std::string> Variables() const
    {
        const char* path = getenv("PATH");
        return {"PATH=" + std::string(BKIT_OPEN_FOLDER) + ":" + (path ? path : "/usr/bin:/bin"),
                "BKIT_NOTICE_DIR=" + fTemp.Path("notices"), "XDG_DATA_HOME=" + fTemp.Path("xdg")};
    }

    // Waits until a hidden item (a copy being built) stands in folder, or
    // the program has ended; true for the first.
    bool WaitForHiddenItem(const std::string& folder, pid_t pid)
    {
        for (int i = 0; i < 100000; ++i) {
            for (const std::string& name : fTemp.List(folder)) {
                if (name[0] == '.')
                    return true;
            }
            if (waitpid(pid, nullptr, WNOHANG | WNOWAIT | __WALL) == pid)
                return false;
            usleep(100);
        }
        return false;
    }

    // The items of a folder whose names begin with a dot.
    std::vector<std::string> HiddenItems(const std::string& folder = "")
    {
        std::vector<std::string> hidden;
        for (const std::string& name : fTemp.List(folder)) {
            if (name[0] == '.')
                hidden.push_back(name);
        }
        return hidden;
    }

    std::thread fAnswering;
    std::atomic<bool> fStop{false};
    std::atomic<int> fAnswer{4};

    std::string FolderText(const std::string& folder) { return test::FolderText(fTemp, folder); }
};

TEST_F(UpdaterProgramTest, HelpVersionAndRejectedCommandLines)
{
    ProgramRun help = RunUpdater({"--help"});
    EXPECT_EQ(0, help.result);
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("Usage: "));
    EXPECT_NE(std::string::npos, help.out.find("--restart-headless"));

    ProgramRun version = RunUpdater({"--version"});
    EXPECT_EQ(0, version.exitCode);

    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"/a", "/b", "/c"}, "two many arguments from the command line\n"},
        {{"/a"}, "not enough arguments from the command line (required <dest> <src>)\n\n"},
        {{"--bogus"}, "error: unknown option `bogus`\n"},
        {{}, "mismatched value for option --uptodate-app\n\nmismatched value for option --outdated-app\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        ProgramRun run = RunUpdater(c.args);
        EXPECT_EQ(1, run.exitCode);
        EXPECT_EQ(c.err, run.err);
    }
    EXPECT_EQ("", FolderText("notices"));
}

TEST_F(UpdaterProgramTest, FullUpdateWithACallerThatQuits)
{
    MakeApp("Name.app", "old", "restarted-old");
    MakeApp("New \"v2\".app", "new", "restarted");
    // The caller: a process that quits a moment after the updater started
    // and is reaped at once, as its own parent would.
    pid_t caller = fork();
    if (caller == 0) {
        usleep(300000);
        _exit(0);
    }
    std::thread reaper([caller] { waitpid(caller, nullptr, 0); });
    ProgramRun run = RunUpdater({"--pid", std::to_string(caller), "--log-dir", fTemp.Path("logs"), "--restart-headless",
                          fTemp.Path("Name.app"), fTemp.Path("New \"v2\".app")});
    reaper.join();
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_TRUE(fTemp.ItemExists("Name.app/Contents/current"));
    EXPECT_FALSE(fTemp.ItemExists("Name_old0001.app"));
    EXPECT_EQ("old", fTemp.ReadFile("xdg/Trash/files/Name_old0001.app/Contents/content.txt"));
    EXPECT_EQ("started --headless\n", WaitForFile("restarted"));
    EXPECT_EQ("<missing>", fTemp.ReadFile("restarted-old"));

    std::string log = FolderText("logs");
    for (const char* line : {"Updater starting - ", "Waiting for process", "has quit. Proceeding.",
                             "Restarting installed application (open -a \"", "Update successful - "}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
    }
    EXPECT_EQ("", FolderText("notices"));
}

// Through a bind mount the home Trash lies on the same device but on another
// mount, which no rename crosses: the old bundle goes to the Trash at the top
// of the bind mount, with a record of where it was, and the update succeeds.
TEST_F(UpdaterProgramTest, AnUpdateThroughABindMountTrashesTheOldBundleAtTheTopOfThatMount)
{
    ASSERT_TRUE(fTemp.MakeFolder("Apps"));
    test::StBindMount bind(fTemp.Path("Apps"), fTemp.Path("AppsBind"));
    if (!bind.IsMounted())
        GTEST_SKIP() << "a bind mount cannot be made here: " << strerror(bind.GetError());
    MakeApp("Apps/App.app", "old", "restarted-old");
    MakeApp("New.app", "new", "restarted");
    ProgramRun run = RunUpdater({"--log-dir", fTemp.Path("logs"), "--restart-headless", fTemp.Path("AppsBind/App.app"),
                                 fTemp.Path("New.app")});
    EXPECT_EQ(0, run.exitCode) << run.err << FolderText("logs");
    EXPECT_EQ("new", fTemp.ReadFile("AppsBind/App.app/Contents/content.txt"));
    const std::string trash = ".Trash-" + std::to_string(getuid());
    EXPECT_EQ((std::vector<std::string>{trash, "App.app"}), fTemp.List("AppsBind"));
    EXPECT_EQ("old", fTemp.ReadFile("AppsBind/" + trash + "/files/App_old0001.app/Contents/content.txt"));
    const std::string info = fTemp.ReadFile("AppsBind/" + trash + "/info/App_old0001.app.trashinfo");
    EXPECT_EQ(0u, info.rfind("[Trash Info]\nPath=App_old0001.app\nDeletionDate=", 0)) << info;
    EXPECT_EQ((std::vector<std::string>{}), fTemp.List("xdg/Trash/files"));
    EXPECT_EQ("started --headless\n", WaitForFile("restarted"));
}

TEST_F(UpdaterProgramTest, MissingBundleFailsWithItsNotice)
{
    MakeApp("New.app", "new", "restarted");
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent);
        test::TempFolder::RemoveTree(fTemp.Path("notices"));
        fTemp.MakeFolder("notices");
        std::vector<std::string> args = {"--log-dir", fTemp.Path("logs"), fTemp.Path("Gone.app"), fTemp.Path("New.app")};
        if (silent)
            args.insert(args.begin(), "--silent");
        ProgramRun run = RunUpdater(args);
        EXPECT_EQ(2, run.exitCode);
        std::string notices = FolderText("notices");
        if (silent) {
            EXPECT_EQ("", notices);
        } else {
            EXPECT_NE(std::string::npos, notices.find("The application to update cannot be found at"));
            EXPECT_NE(std::string::npos, notices.find("More information is available in the log file '"));
            EXPECT_NE(std::string::npos, notices.find("_log_1.txt'"));
        }
        EXPECT_NE(std::string::npos, FolderText("logs").find("Update failed - "));
        EXPECT_EQ("new", fTemp.ReadFile("New.app/Contents/content.txt"));
    }
}

TEST_F(UpdaterProgramTest, ErrorsAreLoggedNewestFirst)
{
    ProgramRun run = RunUpdater({"--silent", "--log-dir", fTemp.Path("logs"), fTemp.Path("Gone.app"),
                                 fTemp.Path("Away.app")});
    EXPECT_EQ(2, run.exitCode);
    std::string log = FolderText("logs");
    size_t upToDate = log.find("ERROR - The up-to-date application cannot be found at");
    size_t outdated = log.find("ERROR - The application to update cannot be found at");
    size_t failed = log.find("INFO - Update failed - ");
    ASSERT_NE(std::string::npos, outdated) << log;
    EXPECT_LT(upToDate, outdated) << log;
    EXPECT_LT(outdated, failed) << log;
}

TEST_F(UpdaterProgramTest, LogThatCannotStartShowsTheNoticeEvenWhenSilent)
{
    MakeApp("Name.app", "old", "restarted-old");
    MakeApp("New.app", "new", "restarted");
    fTemp.WriteFile("plain", "x");
    // The log folder is a file, or would lie inside one: it cannot be created,
    // and the notice says which folder.
    for (const char* logDir : {"plain", "plain/logs"}) {
        SCOPED_TRACE(logDir);
        test::TempFolder::RemoveTree(fTemp.Path("notices"));
        fTemp.MakeFolder("notices");
        ProgramRun run = RunUpdater({"--silent", "--log-dir", fTemp.Path(logDir), fTemp.Path("Name.app"),
                                     fTemp.Path("New.app")});
        EXPECT_EQ(2, run.exitCode);
        std::string notices = FolderText("notices");
        EXPECT_NE(std::string::npos,
                  notices.find("\"title\":\"The folder '" + fTemp.Path("plain") + "/' cannot be created. Reason: File exists.\""))
            << notices;
        // Without a log file the notice carries the error alone.
        EXPECT_EQ(std::string::npos, notices.find("More information"));
        // Nothing was touched.
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_FALSE(fTemp.ItemExists("Name_old0001.app"));
    }
}

TEST_F(UpdaterProgramTest, CallerLogClientFileAndNestedBundle)
{
    MakeApp("Name.app", "old", "restarted-old");
    MakeApp("New.app", "new", "restarted");
    fTemp.WriteFile("New.app/Contents/MacOS/app", "#!/bin/sh\necho \"started $*\" > '" + fTemp.Path("restarted") + "'\n",
                    0644);
    fTemp.WriteFile("client.json", "{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"server.example\", "
                                   "\"BuildIPPort\": \"19812\", \"PublishName\": \"Base\"}");
    ProgramRun run = RunUpdater({"--caller-log", "1", "--client-info", fTemp.Path("client.json"), "--restart-params",
                                 fTemp.Path("link file.json"), fTemp.Path("Name.app"), fTemp.Path("New.app")});
    EXPECT_EQ(0, run.exitCode) << run.err;
    // The progress line, then nothing: the standard streams were closed.
    EXPECT_EQ("waitquit,-1\n", run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ("started " + fTemp.Path("link file.json") + "\n", WaitForFile("restarted"));
    // The link file and the executable's mode came with the new bundle.
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><database_shortcut is_remote=\"true\" "
              "server_database_name=\"Base\" server_path=\"server.example:19812\" cache_folder_name=\"\" "
              "remote_shared_resources=\"false\"/>",
              fTemp.ReadFile("Name.app/Contents/Database/ZizozazIzudud.Zanthlink"));
    struct stat st;
    ASSERT_EQ(0, stat(fTemp.Path("Name.app/Contents/MacOS/app").c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);

    // The up-to-date bundle inside the outdated one: refused, nothing touched.
    MakeApp("Name.app/Contents/Inner.app", "inner", "restarted-inner");
    run = RunUpdater({"--silent", fTemp.Path("Name.app"), fTemp.Path("Name.app/Contents/Inner.app")});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_FALSE(fTemp.ItemExists("Name_old0001.app"));
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
}

TEST_F(UpdaterProgramTest, RelativeClientFileAndLogFolderAreUsed)
{
    MakeApp("Name.app", "old", "restarted-old");
    MakeApp("New.app", "new", "restarted");
    chmod(fTemp.Path("New.app/Contents/MacOS/app").c_str(), 0644);
    fTemp.WriteFile("client.json", "{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"server.example\"}");
    ProgramRun run = RunUpdater({"--client-info", "client.json", "--log-dir", "relative logs", fTemp.Path("Name.app"),
                                 fTemp.Path("New.app")},
                                BKIT_UPDATER_PROGRAM, fTemp.Path());
    EXPECT_EQ(0, run.exitCode) << run.err;
    struct stat st;
    ASSERT_EQ(0, stat(fTemp.Path("Name.app/Contents/MacOS/app").c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
    EXPECT_NE(std::string::npos,
              fTemp.ReadFile("Name.app/Contents/Database/ZizozazIzudud.Zanthlink").find("server_path=\"server.example\""));
    EXPECT_NE(std::string::npos, FolderText("relative logs").find("Update successful - "));

    // A path that still names no file is refused before anything is touched.
    run = RunUpdater({"--client-info", "client.json/", fTemp.Path("Name.app"), fTemp.Path("New.app")},
                     BKIT_UPDATER_PROGRAM, fTemp.Path());
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("invalid path for option --client-info\n\n", run.err);
    EXPECT_FALSE(fTemp.ItemExists("Name_old0001.app"));
}

TEST_F(UpdaterProgramTest, RestartThatExitsNonZeroFailsTheUpdate)
{
    struct Case {
        const char* what;
        void (*spoil)(const test::TempFolder&);  // makes the new bundle unable to start
    } cases[] = {
        {"interpreter missing",
         [](const test::TempFolder& t) { t.WriteFile("New.app/Contents/MacOS/app", "#!/nonexistent/sh\n", 0755); }},
        {"executable no program",
         [](const test::TempFolder& t) { t.WriteFile("New.app/Contents/MacOS/app", "not a program\n", 0755); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : {"Name.app", "Name_old0001.app", "New.app", "logs", "notices"})
            test::TempFolder::RemoveTree(fTemp.Path(name));
        fTemp.MakeFolder("notices");
        MakeApp("Name.app", "old", "restarted-old");
        MakeApp("New.app", "new", "restarted");
        c.spoil(fTemp);
        ProgramRun run = RunUpdater({"--log-dir", fTemp.Path("logs"), fTemp.Path("Name.app"), fTemp.Path("New.app")});
        EXPECT_EQ(2, run.exitCode);
        // The new bundle stays installed; the old one is left set aside, not trashed.
        EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ("old", fTemp.ReadFile("Name_old0001.app/Contents/content.txt"));
        std::string log = FolderText("logs");
        for (const char* line : {"Failed to restart updated application (returned error 0 - exit status 1)",
                                 "Up-to-date application restart failed", "Update failed - "})
            EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
        EXPECT_EQ(std::string::npos, log.find("Update successful")) << log;
        EXPECT_NE(std::string::npos, FolderText("notices").find("The updated application '" + fTemp.Path("Name.app") + "/" +
                                                               "' could not be restarted."));
    }
}

TEST_F(UpdaterProgramTest, BundleWithoutBothResourcesSpellingsIsRefused)
{
    // The built bundle carries both spellings; a copy without the link does not.
    std::string built = std::string(BKIT_UPDATER_PROGRAM);
    built = built.substr(0, built.rfind("/Contents/MacOS/"));
    ASSERT_EQ(0, VProcessLauncher::ExecuteCommandLine(
                     std::vector<VString>{VString("/bin/cp"), VString("-a"), VString(built.c_str()),
                                          VString(fTemp.Path("Copy.app").c_str())}));
    std::string copy = fTemp.Path("Copy.app/Contents/MacOS/updater");
    ProgramRun run = RunUpdater({"--version"}, copy);
    EXPECT_EQ(0, run.exitCode);

    ASSERT_EQ(0, unlink(fTemp.Path("Copy.app/Contents/resources").c_str()));
    run = RunUpdater({"--version"}, copy);
    EXPECT_EQ(1, run.exitCode);
    std::string notices = FolderText("notices");
    EXPECT_NE(std::string::npos, notices.find("Initialization failed"));
    EXPECT_NE(std::string::npos, notices.find("Please install the application on a case insensitive file system."));
}

TEST_F(UpdaterProgramTest, UpToDateFolderThatIsNoApplicationChangesNothing)
{
    struct Case {
        const char* what;
        void (*spoil)(const test::TempFolder&);  // turns New.app into a folder the restart cannot start
    } cases[] = {
        {"plain folder",
         [](const test::TempFolder& t) {
             test::TempFolder::RemoveTree(t.Path("New.app/Contents"));
             t.WriteFile("New.app/readme.txt", "not an application");
         }},
        {"no executable named",
         [](const test::TempFolder& t) {
             t.WriteFile("New.app/Contents/Info.plist", "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n"
                                                        "</dict>\n</plist>\n");
         }},
        {"executable missing", [](const test::TempFolder& t) { unlink(t.Path("New.app/Contents/MacOS/app").c_str()); }},
        {"executable is a folder",
         [](const test::TempFolder& t) {
             unlink(t.Path("New.app/Contents/MacOS/app").c_str());
             t.MakeFolder("New.app/Contents/MacOS/app");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : {"Name.app", "Name_old0001.app", "New.app", "notices", "xdg"})
            test::TempFolder::RemoveTree(fTemp.Path(name));
        fTemp.MakeFolder("notices");
        fTemp.MakeFolder("xdg");
        MakeApp("Name.app", "old", "restarted-old");
        MakeApp("New.app", "new", "restarted");
        c.spoil(fTemp);
        ProgramRun run = RunUpdater({fTemp.Path("Name.app"), fTemp.Path("New.app")});
        EXPECT_EQ(2, run.exitCode);
        EXPECT_NE(std::string::npos, FolderText("notices").find("The up-to-date application cannot be found at '" +
                                                                fTemp.Path("New.app") + "/" + "'."));
        // The application stays where it was, whole; nothing was made or trashed.
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app", "logs", "notices", "xdg"}), fTemp.List(""));
        EXPECT_EQ((std::vector<std::string>{}), fTemp.List("xdg"));
    }
}

TEST_F(UpdaterProgramTest, NoticeNamesTheLogFileThisRunWrote)
{
    // The logs of the coming seconds already hold a full file 1 (an earlier
    // run's, split past its limit): this run writes file 2.
    time_t now = time(nullptr);
    for (time_t t = now - 1; t <= now + 15; ++t) {
        struct tm local;
        localtime_r(&t, &local);
        char name[64];
        strftime(name, sizeof(name), "logs/%Y-%m-%d_%H-%M-%S_log_1.txt", &local);
        ASSERT_TRUE(fTemp.WriteFile(name, "earlier run\n"));
        ASSERT_EQ(0, truncate(fTemp.Path(name).c_str(), 0xA00001));
    }
    // The answer is "Yes": the log file is opened with the default application.
    fTemp.MakeFolder("bin");
    fTemp.WriteFile("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + fTemp.Path("opened") + "'\n", 0755);
    test::StEnvironmentVariable path("PATH", fTemp.Path("bin") + ":" + getenv("PATH"));
    fAnswer.store(3);

    ProgramRun run = RunUpdater({"--log-dir", fTemp.Path("logs"), fTemp.Path("Gone.app"), fTemp.Path("Away.app")});
    EXPECT_EQ(2, run.exitCode);
    std::string written;
    for (const std::string& name : fTemp.List("logs")) {
        if (fTemp.ReadFile("logs/" + name).find("Update failed - ") != std::string::npos)
            written = fTemp.Path("logs/" + name);
    }
    ASSERT_EQ("_log_2.txt", written.substr(written.size() - 10));
    EXPECT_NE(std::string::npos,
              FolderText("notices").find("More information is available in the log file '" + written + "'"));
    EXPECT_EQ(written, WaitForFile("opened"));
}

TEST_F(UpdaterProgramTest, QuitSignalWhileTheNoticeWaitsEndsTheRunAsFailed)
{
    // Nobody answers: the notice waits until the signal ends it.
    fAnswer.store(0);
    fTemp.MakeFolder("bin");
    // A zenity that stays up until it is ended.
    fTemp.WriteFile("bin/zenity", "#!/bin/sh\necho $$ > '" + fTemp.Path("zenity.pid") + "'\nexec sleep 30\n", 0755);
    const char* path = getenv("PATH");
    struct Case {
        const char* what;
        int signal;
        bool zenity;
    } cases[] = {
        {"SIGTERM, seam notice", SIGTERM, false},
        {"SIGINT, seam notice", SIGINT, false},
        {"SIGTERM, zenity", SIGTERM, true},
    };
    int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(fTemp.Path("notices"));
        fTemp.MakeFolder("notices");
        unlink(fTemp.Path("zenity.pid").c_str());
        std::vector<std::string> variables = Variables();
        if (c.zenity) {
            variables = {"PATH=" + fTemp.Path("bin") + ":" + (path ? path : "/usr/bin:/bin"), "BKIT_NOTICE_DIR=",
                         "DISPLAY=:0", "XDG_DATA_HOME=" + fTemp.Path("xdg")};
        }
        pid_t pid = test::StartProgram(BKIT_UPDATER_PROGRAM, {fTemp.Path("Gone.app"), fTemp.Path("Away.app")},
                                       variables, devNull);
        ASSERT_GT(pid, 0);
        bool waiting = false;
        for (int i = 0; i < 500 && !waiting; ++i) {
            waiting = c.zenity ? fTemp.ReadFile("zenity.pid") != "<missing>" : !FolderText("notices").empty();
            usleep(10000);
        }
        EXPECT_TRUE(waiting) << "no notice was shown";
        kill(pid, c.signal);
        int status = test::WaitForProgram(pid, 5000);
        EXPECT_TRUE(WIFEXITED(status)) << "still running after the signal";
        EXPECT_EQ(2, WEXITSTATUS(status));
        if (c.zenity) {
            // The viewer went with the notice; ended here only if it stayed.
            pid_t viewer = atoi(fTemp.ReadFile("zenity.pid").c_str());
            bool viewerLeft = viewer > 0 && kill(viewer, 0) == 0;
            if (viewerLeft)
                kill(viewer, SIGKILL);
            EXPECT_FALSE(viewerLeft);
        }
    }
    close(devNull);
}

TEST_F(UpdaterProgramTest, StoppedByAFileSizeLimitThenRunAgainLeavesNothingBehind)
{
    test::MakeLargeApp(fTemp, "Name.app", "old", 20);
    test::MakeLargeApp(fTemp, "New.app", "new", 20);
    const std::string newTree = test::TreeText(fTemp.Path("New.app"));
    const std::string oldTree = test::TreeText(fTemp.Path("Name.app"));
    // The first file of 2 KiB is past the limit: the copy dies there.
    pid_t pid = test::StartProgramWithFileSizeLimit(
        BKIT_UPDATER_PROGRAM, {"--silent", fTemp.Path("Name.app"), fTemp.Path("New.app")}, Variables(), 1024, false);
    ASSERT_GT(pid, 0);
    int status = test::WaitForProgram(pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    EXPECT_EQ(oldTree, test::TreeText(fTemp.Path("Name.app")));
    // The partial copy, and the lock file of the folder, which the kernel
    // unlocked when the run died and the next run takes over and removes.
    ASSERT_EQ(2u, HiddenItems().size()) << "the stopped copy left no partial copy";
    EXPECT_TRUE(fTemp.ItemExists(StFolderLock::kLockFileName));

    ProgramRun run = RunUpdater({"--log-dir", fTemp.Path("logs"), fTemp.Path("Name.app"), fTemp.Path("New.app")});
    EXPECT_EQ(0, run.exitCode) << FolderText("logs");
    EXPECT_EQ(newTree, test::TreeText(fTemp.Path("Name.app")));
    EXPECT_EQ((std::vector<std::string>{}), HiddenItems());
    EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app", "logs", "notices", "xdg"}), fTemp.List(""));
    EXPECT_EQ(oldTree, test::TreeText(fTemp.Path("xdg/Trash/files/Name_old0001.app")));
}

TEST_F(UpdaterProgramTest, HandledFailureLeavesNoHiddenItem)
{
    test::MakeLargeApp(fTemp, "Name.app", "old", 20);
    test::MakeLargeApp(fTemp, "New.app", "new", 20);
    const std::string oldTree = test::TreeText(fTemp.Path("Name.app"));
    // An earlier run stopped after its exchange: the application it replaced
    // still bears the staging name.
    MakeApp(".Name.app.uptodate", "replaced", "restarted-replaced");
    // Writes past the limit fail (EFBIG): the copy fails, the run rolls back.
    pid_t pid = test::StartProgramWithFileSizeLimit(
        BKIT_UPDATER_PROGRAM, {"--silent", fTemp.Path("Name.app"), fTemp.Path("New.app")}, Variables(), 1024, true);
    ASSERT_GT(pid, 0);
    int status = test::WaitForProgram(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(2, WEXITSTATUS(status));
    EXPECT_EQ(oldTree, test::TreeText(fTemp.Path("Name.app")));
    EXPECT_EQ((std::vector<std::string>{}), HiddenItems());
    EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app", "logs", "notices", "xdg"}), fTemp.List(""));
    // The application the earlier run replaced went to the Trash, as a bundle set aside.
    EXPECT_EQ("replaced", fTemp.ReadFile("xdg/Trash/files/Name_old0001.app/Contents/content.txt"));
}

}  // namespace
}  // namespace bkit

namespace bkit {
namespace {

// Bundles of many files, so that the copy takes a while: the up-to-date
// apps/New.app and, for each run, a fresh outdated apps/Name.app.
class UpdaterLargeBundleTest : public UpdaterProgramTest {
protected:
    static constexpr int kFiles = 1000;

    void SetUp() override
    {
        UpdaterProgramTest::SetUp();
        fTemp.MakeFolder("apps");
        test::MakeLargeApp(fTemp, "apps/New.app", "new", kFiles);
        test::MakeLargeApp(fTemp, "Name.app", "old", kFiles);
        fNewTree = test::TreeText(fTemp.Path("apps/New.app"));
        fOldTree = test::TreeText(fTemp.Path("Name.app"));
    }

    // Puts what the last run left out of the way (removed with the temporary
    // folder) and lays out apps/Name.app again.
    void ResetOutdated()
    {
        for (const std::string& name : fTemp.List("apps")) {
            if (name != "New.app")
                rename(fTemp.Path("apps/" + name).c_str(), fTemp.Path(std::to_string(++fRuns) + name).c_str());
        }
        // The old bundle's files are only ever renamed or removed: links to
        // one set of them serve every run.
        ASSERT_EQ(0, test::WaitForProgram(test::StartProgram(
                         "/bin/cp", {"-al", fTemp.Path("Name.app"), fTemp.Path("apps/Name.app")}, {})));
    }

    std::string fNewTree;
    std::string fOldTree;
    int fRuns = 0;
};

TEST_F(UpdaterLargeBundleTest, KilledAtAnyMomentLeavesACompleteApplicationAtItsPath)
{
    // Moments after the copy of the new bundle began: SIGKILL, as a power cut
    // or a crash would stop the updater.
    for (int delayMs : {0, 40, 100, 180, 300}) {
        SCOPED_TRACE(delayMs);
        ResetOutdated();
        pid_t pid = test::StartProgram(BKIT_UPDATER_PROGRAM,
                                       {"--silent", fTemp.Path("apps/Name.app"), fTemp.Path("apps/New.app")},
                                       Variables());
        ASSERT_GT(pid, 0);
        bool copying = WaitForHiddenItem("apps", pid);
        usleep(static_cast<useconds_t>(delayMs) * 1000);
        kill(pid, SIGKILL);
        test::WaitForProgram(pid);
        EXPECT_TRUE(copying) << "the updater ended before its copy was seen";
        std::string installed = test::TreeText(fTemp.Path("apps/Name.app"));
        EXPECT_TRUE(installed == fOldTree || installed == fNewTree)
            << "neither application is whole at its path; " << installed.size() << " bytes of listing";
    }
}

TEST_F(UpdaterLargeBundleTest, QuitSignalsAndAClosedPipeDoNotStopTheUpdate)
{
    struct Case {
        std::vector<std::string> options;
        const char* logged;  // a line the log must hold
    } cases[] = {
        {{}, "Update successful - "},
        // The progress line cannot reach the caller: logged, and the update goes on.
        {{"--caller-log", "1"}, "ERROR - Progress line to the caller not written (Broken pipe)"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        ResetOutdated();
        std::string logs = "logs" + std::to_string(++n);
        std::vector<std::string> args = c.options;
        for (const std::string& arg : {std::string("--log-dir"), fTemp.Path(logs), fTemp.Path("apps/Name.app"),
                                       fTemp.Path("apps/New.app")})
            args.push_back(arg);
        // Standard output is a pipe whose reader has already gone.
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        close(ends[0]);
        pid_t pid = test::StartProgram(BKIT_UPDATER_PROGRAM, args, Variables(), ends[1]);
        close(ends[1]);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(WaitForHiddenItem("apps", pid));
        for (int i = 0; i < 3; ++i) {
            kill(pid, SIGINT);
            usleep(30000);
        }
        int status = test::WaitForProgram(pid);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(0, WEXITSTATUS(status));
        EXPECT_TRUE(fNewTree == test::TreeText(fTemp.Path("apps/Name.app")));
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app"}), fTemp.List("apps"));
        std::string log = FolderText(logs);
        EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
        EXPECT_NE(std::string::npos, log.find("Update successful - ")) << log;
    }
}

}  // namespace
}  // namespace bkit
