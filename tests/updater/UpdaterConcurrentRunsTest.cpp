// UpdaterConcurrentRunsTest.cpp - built updaters that meet in one folder take turns, whatever pid namespace they run in, and share a log folder without sharing a file.
#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "basekit/platform/FolderLock.h"
#include "support/TempFolder.h"
#include "support/UserChild.h"
#include "updater/UpdaterTestSupport.h"

namespace bkit {
namespace {

class UpdaterConcurrentRunsTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        char real[PATH_MAX];
        ASSERT_NE(nullptr, realpath(fTemp.Path().c_str(), real));
        fRoot = real;
        for (const char* folder : {"logs", "notices", "xdg"})
            fTemp.MakeFolder(folder);
        test::MakeSampleApp(fTemp, "Name.app", "old");
        test::MakeSampleApp(fTemp, "New.app", "new");
    }

    // Our "open" first on PATH, notices into a folder, the Trash below the
    // temporary folder; a sanitised build's leak checker off, since it cannot
    // work under a tracer or in a pid namespace of its own.
    std::vector<std::string> Variables() const
    {
        const char* path = getenv("PATH");
        const char* sanitizer = getenv("ASAN_OPTIONS");
        return {"PATH=" + std::string(BKIT_OPEN_FOLDER) + ":" + (path ? path : "/usr/bin:/bin"),
                "BKIT_NOTICE_DIR=" + fRoot + "/notices", "XDG_DATA_HOME=" + fRoot + "/xdg",
                "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + (sanitizer && *sanitizer ? ":" : "") +
                    "detect_leaks=0"};
    }

    // The updater's arguments for the update of Name.app by New.app.
    std::vector<std::string> Arguments() const
    {
        return {"--silent", "--log-dir", fRoot + "/logs", fRoot + "/Name.app", fRoot + "/New.app"};
    }

    // The arguments of a program that runs the updater: its own, then the
    // updater with its arguments.
    std::vector<std::string> Running(std::vector<std::string> arguments) const
    {
        arguments.push_back(BKIT_UPDATER_PROGRAM);
        for (const std::string& arg : Arguments())
            arguments.push_back(arg);
        return arguments;
    }

    // Waits up to 60 s for a log line holding text; false when the program
    // ended (or the time ran out) without one.
    bool WaitForLogLine(const std::string& text, pid_t pid)
    {
        for (int i = 0; i < 3000; ++i) {
            for (const std::string& name : fTemp.List("logs")) {
                if (fTemp.ReadFile("logs/" + name).find(text) != std::string::npos)
                    return true;
            }
            if (waitpid(pid, nullptr, WNOHANG | WNOWAIT | __WALL) == pid)
                return false;
            usleep(20000);
        }
        return false;
    }

    std::vector<std::string> HiddenItems()
    {
        std::vector<std::string> hidden;
        for (const std::string& name : fTemp.List("")) {
            if (name[0] == '.')
                hidden.push_back(name);
        }
        return hidden;
    }

    std::string fRoot;
};

int ExitCode(int status)
{
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Run A, its flush before the exchange slowed down, holds its complete staged
// copy; run B for the same application starts then. B waits for A instead of
// taking A's staging folder for a leftover, and both succeed.
TEST_F(UpdaterConcurrentRunsTest, ASecondRunWaitsWhileTheFirstHoldsItsStagedCopy)
{
    std::string whyNot;
    const std::string strace = test::FindUsableStrace(whyNot);
    if (strace.empty())
        GTEST_SKIP() << whyNot;

    pid_t first = test::StartProgram(
        strace, Running({"-f", "-qq", "-o", "/dev/null", "-e", "trace=syncfs", "-e", "inject=syncfs:delay_enter=3s"}),
        Variables());
    ASSERT_GT(first, 0);
    // The staged copy is complete once it bears the staging name.
    bool staged = false;
    for (int i = 0; i < 3000 && !staged; ++i) {
        staged = fTemp.ItemExists(".Name.app.uptodate");
        if (!staged)
            usleep(10000);
    }
    ASSERT_TRUE(staged);
    pid_t second = test::StartProgram(BKIT_UPDATER_PROGRAM, Arguments(), Variables());
    ASSERT_GT(second, 0);
    EXPECT_EQ(0, ExitCode(test::WaitForProgram(first, 120000)));
    EXPECT_EQ(0, ExitCode(test::WaitForProgram(second, 120000)));
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ(std::vector<std::string>{}, HiddenItems());
    const std::string logs = test::FolderText(fTemp, "logs");
    EXPECT_NE(std::string::npos, logs.find("Waiting for another update in '" + fRoot + "' to end")) << logs;
}

// A run in another pid namespace (a container, a sandbox) sees no process
// with the pid of a live run's partial copy. The lock of the folder, which
// the live run holds, tells it to wait instead of clearing the live run's
// items.
TEST_F(UpdaterConcurrentRunsTest, ARunInAnotherPidNamespaceLeavesALiveRunsItemsAlone)
{
    const std::string unshare = test::FindProgram("unshare");
    if (unshare.empty() || test::RunProgram(unshare, {"--pid", "--fork", "--mount-proc", "/bin/true"}) != 0)
        GTEST_SKIP() << "no pid namespace can be made here";

    // The live run: this process, holding the folder's lock, with its partial
    // copy and its staging folder beside the application.
    StFolderLock held;
    ASSERT_EQ(0, held.TryLock(fRoot.c_str()));
    const std::string partial = ".bkit-copy-" + std::to_string(getpid()) + "-0-0";
    fTemp.MakeFolder(partial);
    test::MakeSampleApp(fTemp, ".Name.app.uptodate", "staged");

    pid_t other = test::StartProgram(unshare, Running({"--pid", "--fork", "--mount-proc"}), Variables());
    ASSERT_GT(other, 0);
    ASSERT_TRUE(WaitForLogLine("Waiting for another update", other));
    EXPECT_EQ((std::vector<std::string>{".Name.app.uptodate", partial, StFolderLock::kLockFileName}), HiddenItems());
    EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));

    // The live run ends: the other goes on and clears what it left.
    held.Unlock();
    EXPECT_EQ(0, ExitCode(test::WaitForProgram(other, 120000)));
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ(std::vector<std::string>{}, HiddenItems());
}

// Run A waits for its caller to quit; run B, for another application in the
// same folder, has no caller to wait for. B goes ahead: A holds the folder's
// lock only while it changes the folder, never while it waits.
TEST_F(UpdaterConcurrentRunsTest, ARunForAnotherApplicationGoesAheadWhileTheFirstWaitsForItsCaller)
{
    test::MakeSampleApp(fTemp, "Other.app", "other old");
    test::MakeSampleApp(fTemp, "OtherNew.app", "other new");
    pid_t caller = fork();
    if (caller == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(caller, 0);
    std::vector<std::string> arguments = Arguments();
    arguments.insert(arguments.begin(), {"--pid", std::to_string(caller)});
    pid_t first = test::StartProgram(BKIT_UPDATER_PROGRAM, arguments, Variables());
    ASSERT_GT(first, 0);
    EXPECT_TRUE(WaitForLogLine("Waiting for process " + std::to_string(caller) + " to quit", first));

    pid_t second = test::StartProgram(
        BKIT_UPDATER_PROGRAM, {"--silent", "--log-dir", fRoot + "/logs", fRoot + "/Other.app", fRoot + "/OtherNew.app"},
        Variables());
    ASSERT_GT(second, 0);
    EXPECT_EQ(0, ExitCode(test::WaitForProgram(second, 120000)));
    EXPECT_EQ("other new", fTemp.ReadFile("Other.app/Contents/content.txt"));
    EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));

    kill(caller, SIGKILL);
    waitpid(caller, nullptr, 0);
    EXPECT_EQ(0, ExitCode(test::WaitForProgram(first, 120000)));
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ(std::vector<std::string>{}, HiddenItems());
    const std::string logs = test::FolderText(fTemp, "logs");
    EXPECT_EQ(std::string::npos, logs.find("Waiting for another update")) << logs;
}

// Root and another user who may change a shared folder (a member of its
// group, or anyone in a sticky world-writable one) update an application
// there in turn, on a file system that refuses flock on a folder as NFS
// does (imitated by tracing the runs). Each run succeeds, and none leaves
// anything beside the application that would stop the next.
TEST_F(UpdaterConcurrentRunsTest, RootAndAnotherUserTakeTurnsInASharedFolderThatCannotBeFlocked)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user";
    std::string whyNot;
    const std::string strace = test::FindUsableStrace(whyNot), setpriv = test::FindProgram("setpriv");
    if (strace.empty())
        GTEST_SKIP() << whyNot;
    if (setpriv.empty())
        GTEST_SKIP() << "setpriv is not installed";
    ASSERT_EQ(0, chmod(fRoot.c_str(), 0755));
    constexpr gid_t kGroup = 4242;
    const test::UserIds member = test::NobodyUser({kGroup}), anyone = test::NobodyUser();
    // The user runs copies of the programs it can reach, whatever folder
    // the checkout is in.
    test::ProgramsForOtherUsers programs;
    if (!test::CopyProgramsForOtherUsers(fTemp, "programs", anyone.uid, anyone.gid, programs, whyNot))
        GTEST_SKIP() << whyNot;
    const std::string apps = fRoot + "/Apps";
    struct Case {
        const char* what;
        mode_t mode;
        gid_t group;
        test::UserIds user;
    } cases[] = {
        {"group-writable", 0775, kGroup, member},
        {"sticky, world-writable", 01777, 0, anyone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(apps);
        ASSERT_TRUE(fTemp.MakeFolder("Apps"));
        ASSERT_EQ(0, chown(apps.c_str(), 0, c.group));
        ASSERT_EQ(0, chmod(apps.c_str(), c.mode));
        test::MakeSampleApp(fTemp, "Apps/Name.app", "old");
        for (int turn = 0; turn < 3; ++turn) {
            const bool asUser = turn == 1;
            SCOPED_TRACE(asUser ? "the user" : "root");
            const std::string trash = fRoot + (asUser ? "/xdg-user" : "/xdg");
            std::vector<std::string> arguments = {"-f", "-qq", "-o", "/dev/null", "-P", apps, "-e", "trace=flock",
                                                  "-e", "inject=flock:error=ENOLCK"};
            if (asUser) {
                // The user's application is the user's own.
                fTemp.MakeFolder("xdg-user");
                ASSERT_EQ(0, test::RunProgram("/bin/chown", {"-R", std::to_string(c.user.uid) + ":" +
                                                                       std::to_string(c.user.gid),
                                                             apps + "/Name.app", trash}));
                std::string groups = "--clear-groups";
                if (!c.user.groups.empty())
                    groups = "--groups=" + std::to_string(c.user.groups[0]);
                arguments.insert(arguments.end(), {setpriv, "--reuid=" + std::to_string(c.user.uid),
                                                   "--regid=" + std::to_string(c.user.gid), groups});
            }
            arguments.insert(arguments.end(),
                             {programs.updater, "--silent", apps + "/Name.app", fRoot + "/New.app"});
            std::vector<std::string> variables = Variables();
            for (std::string& variable : variables) {
                if (variable.rfind("XDG_DATA_HOME=", 0) == 0)
                    variable = "XDG_DATA_HOME=" + trash;
                else if (variable.rfind("PATH=", 0) == 0)
                    variable = "PATH=" + programs.openFolder + variable.substr(variable.find(':'));
            }
            pid_t run = test::StartProgram(strace, arguments, variables);
            ASSERT_GT(run, 0);
            EXPECT_EQ(0, ExitCode(test::WaitForProgram(run, 120000)));
            EXPECT_EQ("new", fTemp.ReadFile("Apps/Name.app/Contents/content.txt"));
            EXPECT_EQ(std::vector<std::string>{"Name.app"}, fTemp.List("Apps"));
        }
    }
}

// Runs started together with one log folder each write a file of their own:
// none loses or tears another's lines.
TEST_F(UpdaterConcurrentRunsTest, RunsSharingALogFolderEachWriteTheirOwnFile)
{
    std::vector<pid_t> runs;
    for (int i = 0; i < 4; ++i) {
        // Each fails at once, for a bundle of its own that is missing.
        const std::string missing = fRoot + "/Missing" + std::to_string(i) + ".app";
        runs.push_back(test::StartProgram(BKIT_UPDATER_PROGRAM,
                                          {"--silent", "--log-dir", fRoot + "/logs", missing, fRoot + "/New.app"},
                                          Variables()));
    }
    for (pid_t run : runs) {
        ASSERT_GT(run, 0);
        EXPECT_EQ(2, ExitCode(test::WaitForProgram(run, 60000)));
    }
    int starts = 0;
    for (const std::string& name : fTemp.List("logs")) {
        const std::string text = fTemp.ReadFile("logs/" + name);
        size_t inFile = 0;
        for (size_t at = 0; (at = text.find("Updater starting", at)) != std::string::npos; ++at)
            ++inFile;
        EXPECT_EQ(1u, inFile) << name << ":\n" << text;
        starts += static_cast<int>(inFile);
        // Every line whole: its number, then its time.
        size_t begin = 0;
        for (int line = 1; begin < text.size(); ++line) {
            const size_t end = text.find('\n', begin);
            EXPECT_EQ(0u, text.compare(begin, std::to_string(line).size() + 1, std::to_string(line) + " "))
                << name << ": " << text.substr(begin, end - begin);
            begin = end == std::string::npos ? text.size() : end + 1;
        }
    }
    EXPECT_EQ(4, starts);
    for (int i = 0; i < 4; ++i) {
        const std::string all = test::FolderText(fTemp, "logs");
        EXPECT_NE(std::string::npos, all.find(fRoot + "/Missing" + std::to_string(i) + ".app")) << i;
    }
}

}  // namespace
}  // namespace bkit
