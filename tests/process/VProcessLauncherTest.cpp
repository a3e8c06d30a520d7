// VProcessLauncherTest.cpp - splitting, PATH lookup, exit status, time-out, missing program, output draining.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "basekit/process/VProcessLauncher.h"
#include "basekit/runtime/VErrorContext.h"
#include "process/ProcessTestSupport.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

std::string Text(const VMemoryBuffer<>& buffer)
{
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

std::vector<VString> List(std::initializer_list<const char*> texts)
{
    std::vector<VString> out;
    for (const char* t : texts)
        out.emplace_back(t);
    return out;
}

TEST(VProcessLauncher, CommandLinesSplitIntoWords)
{
    std::string euros;
    for (int i = 0; i < 300; ++i)
        euros += "\xE2\x82\xAC";  // three UTF-8 bytes for one UTF-16 unit
    struct Case {
        std::string text;
        std::vector<std::string> words;
    } cases[] = {
        {"open -a \"/Applications/My App.app\"", {"open", "-a", "/Applications/My App.app"}},
        {"  a\\ b   'c \"d' \"e'f\"  ", {"a b", "c \"d", "e'f"}},
        {"x \"unterminated y", {"x", "unterminated y"}},
        {"tool \"\" end\\", {"tool", "", "end"}},
        {"echo " + euros, {"echo", euros}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        XPosixProcessLauncher launcher;
        launcher.CreateArgumentsFromFullCommandLine(VString(c.text.data(), c.text.size(), VTC_UTF_8));
        std::vector<std::string> words;
        for (const VString& word : launcher.GetArguments())
            words.push_back(to_string(word));
        EXPECT_EQ(c.words, words);
        EXPECT_EQ(c.words.empty() ? std::string() : c.words[0], to_string(launcher.GetBinaryPath()));
    }

    XPosixProcessLauncher launcher;
    launcher.SetBinaryPath(VString("/bin/echo"));
    launcher.AddArgument(VString("plain"), false);
    launcher.AddArgument(VString("wrapped"), true);
    launcher.AddArgument(VString(), true);
    EXPECT_EQ(List({"/bin/echo", "plain", "\"wrapped\""}), launcher.GetArguments());
}

TEST(VProcessLauncher, ExitStatusOfNormalAndSignalledEnds)
{
    struct Case {
        std::vector<VString> command;
        int32_t status;
    } cases[] = {
        {List({"/bin/sh", "-c", "exit 0"}), 0},
        {List({"/bin/sh", "-c", "exit 3"}), 3},
        {List({"/bin/sh", "-c", "kill -KILL $$"}), XPosixProcessLauncher::kExitStatusSignaled},
        {List({"/bin/sh", "-c", "kill -TERM $$"}), XPosixProcessLauncher::kExitStatusSignaled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(to_string(c.command.back()));
        int32_t status = 12345;
        EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(c.command, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                          &status));
        EXPECT_EQ(c.status, status);
    }
}

TEST(VProcessLauncher, MissingProgramFailsWithoutStatus)
{
    test::TempFolder temp;
    test::StEnvironmentVariable path("PATH", temp.Path());
    for (const char* command : {"/no/such/program", "no-such-program-anywhere --flag"}) {
        SCOPED_TRACE(command);
        int32_t status = 12345;
        VMemoryBuffer<> out;
        EXPECT_EQ(ENOENT, VProcessLauncher::ExecuteCommandLine(VString(command), 0, nullptr, &out, nullptr, nullptr,
                                                               nullptr, &status));
        EXPECT_EQ(12345, status);
    }
}

TEST(VProcessLauncher, BareNamesAreFoundAlongPath)
{
    test::TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("first"));
    ASSERT_TRUE(temp.MakeFolder("first/greet"));  // a folder of that name is no program
    ASSERT_TRUE(temp.MakeFolder("second"));
    ASSERT_TRUE(temp.WriteFile("second/greet", "#!/bin/sh\necho \"found $1\"\n", 0755));
    test::StEnvironmentVariable path("PATH", ":" + temp.Path("first") + ":" + temp.Path("second") + ":/usr/bin:/bin");

    VMemoryBuffer<> out;
    int32_t status = -1;
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(VString("greet \"a b\""), 0, nullptr, &out, nullptr, nullptr,
                                                      nullptr, &status));
    EXPECT_EQ("found a b\n", Text(out));
    EXPECT_EQ(0, status);
}

TEST(VProcessLauncher, ChildFloodingStandardErrorDoesNotHang)
{
    VMemoryBuffer<> out, err;
    int32_t status = -1;
    // A megabyte on standard error before a word on standard output: reading
    // one stream to its end first would wait forever on a full error pipe.
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(
                     List({"/bin/sh", "-c", "head -c 1048576 /dev/zero >&2; echo done; head -c 100000 /dev/zero >&2"}),
                     0, nullptr, &out, &err, nullptr, nullptr, &status));
    EXPECT_EQ("done\n", Text(out));
    EXPECT_EQ(1048576u + 100000u, err.GetDataSize());
    EXPECT_EQ(0, status);

    // Nobody reads at all: the output is dropped while waiting for the end.
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(List({"/bin/sh", "-c", "head -c 1048576 /dev/zero >&2; exit 4"}),
                                                      0, nullptr, nullptr, nullptr, nullptr, nullptr, &status));
    EXPECT_EQ(4, status);
}

TEST(VProcessLauncher, InputEnvironmentAndWorkingFolder)
{
    test::TempFolder temp;
    // Far more input than a pipe holds, echoed back while it is written: the
    // input is fed while the output is read, or both sides would wait.
    std::string lines;
    for (int i = 0; lines.size() < (2u << 20); ++i)
        lines += "line " + std::to_string(i) + "\n";
    VMemoryBuffer<> input, out;
    input.AddData(lines.data(), lines.size());
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(VString("/bin/cat"), 0, &input, &out));
    EXPECT_EQ(lines, Text(out));
    // A child that reads nothing ends the feeding without harm.
    int32_t status = -1;
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(VString("/bin/true"), 0, &input, &out, nullptr, nullptr, nullptr,
                                                      &status));
    EXPECT_EQ(0, status);

    EnvironmentVariables environment = {{VString("ONLY"), VString("this one")}};
    VFilePath folder = temp.FolderPath();
    VMemoryBuffer<> printed;
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(List({"/bin/sh", "-c", "echo \"$ONLY|$HOME\"; pwd -P"}), 0,
                                                      nullptr, &printed, nullptr, &environment, &folder));
    char real[PATH_MAX];
    ASSERT_NE(nullptr, realpath(temp.Path().c_str(), real));
    EXPECT_EQ(std::string("this one|\n") + real + "\n", Text(printed));
}

TEST(VProcessLauncher, TimeOutKillsTheChildAndIsReported)
{
    StErrorContextInstaller errors(true, true);
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString("/bin/sleep"));
    launcher.AddArgument(VString("30"));
    launcher.SetWaitClosingChildProcess(100);
    ASSERT_EQ(0, launcher.Start());
    EXPECT_TRUE(launcher.IsRunning());
    EXPECT_EQ(VE_PROCESS_TIMED_OUT, launcher.Shutdown(false, false));
    EXPECT_EQ(VE_PROCESS_TIMED_OUT, errors.GetLastError());
    EXPECT_EQ(XPosixProcessLauncher::kExitStatusSignaled, launcher.GetExitStatus());
    EXPECT_FALSE(launcher.IsRunning());
}

// Gone, or a zombie waiting for its new parent to collect it.
bool HasEnded(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(file, stat))
        return true;
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

TEST(VProcessLauncher, TimeOutKillsTheWholeProcessGroup)
{
    StErrorContextInstaller errors(true, true);
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString("/bin/sh -c 'sleep 30 & echo $!; wait'"));
    launcher.SetWaitClosingChildProcess(300);
    launcher.EnableProcessTreeKill();
    ASSERT_EQ(0, launcher.Start());
    std::string line;
    char buffer[64];
    while (line.find('\n') == std::string::npos && launcher.WaitForData(5000) > 0) {
        ssize_t n = launcher.ReadFromChild(buffer, sizeof(buffer));
        if (n > 0)
            line.append(buffer, static_cast<size_t>(n));
    }
    pid_t grandchild = static_cast<pid_t>(atoi(line.c_str()));
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(VE_PROCESS_TIMED_OUT, launcher.Shutdown(false, true));
    EXPECT_EQ(XPosixProcessLauncher::kExitStatusSignaled, launcher.GetExitStatus());
    for (int i = 0; i < 250 && !HasEnded(grandchild); ++i)
        usleep(20000);
    EXPECT_TRUE(HasEnded(grandchild));
}

TEST(VProcessLauncher, ShutdownWithoutTimeOutTerminatesOrLeavesTheChild)
{
    // Waiting: the child is asked to end with SIGTERM.
    VProcessLauncher waited;
    waited.SetBinaryPath(VString("/bin/sleep"));
    waited.AddArgument(VString("30"));
    waited.SetWaitClosingChildProcess(0);
    ASSERT_EQ(0, waited.Start());
    EXPECT_EQ(VE_OK, waited.Shutdown(true, false));
    EXPECT_EQ(XPosixProcessLauncher::kExitStatusSignaled, waited.GetExitStatus());
    EXPECT_NE(0, kill(waited.GetPid(), 0));

    // Not waiting: the child goes on and is reaped later.
    int32_t status = 12345;
    VProcessLauncher* launcher = nullptr;
    EXPECT_EQ(0, VProcessLauncher::ExecuteCommandLine(VString("/bin/sleep 0.2"), VProcessLauncher::kDontWaitForChild,
                                                      nullptr, nullptr, nullptr, nullptr, nullptr, &status, &launcher));
    ASSERT_NE(nullptr, launcher);
    pid_t pid = launcher->GetPid();
    EXPECT_EQ(0, kill(pid, 0));
    EXPECT_EQ(VE_OK, launcher->Shutdown(false, false));
    delete launcher;
    EXPECT_EQ(12345, status);
    // Once it has ended, the next start reaps it.
    for (int i = 0; i < 100; ++i) {
        siginfo_t info = {};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            break;
        usleep(20000);
    }
    XPosixProcessLauncher::ReapWatchedChildren();
    EXPECT_NE(0, kill(pid, 0));
}

TEST(VProcessLauncher, WorksWhenTheParentClosedItsStandardStreams)
{
    test::TempFolder temp;
    std::string report = temp.Path("report");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
        VMemoryBuffer<> out, err;
        int32_t status = -1;
        int result = VProcessLauncher::ExecuteCommandLine(List({"/bin/sh", "-c", "echo out; echo err >&2; exit 5"}), 0,
                                                          nullptr, &out, &err, nullptr, nullptr, &status);
        std::string text = std::to_string(result) + "|" + Text(out) + "|" + Text(err) + "|" + std::to_string(status);
        int fd = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()))
            close(fd);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_EQ("0|out\n|err\n|5", temp.ReadFile("report"));
}

}  // namespace
}  // namespace bkit
