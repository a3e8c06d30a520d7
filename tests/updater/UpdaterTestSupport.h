// UpdaterTestSupport.h - sample application bundles and updater processes for the updater's tests.
//
// MakeSampleApp lays out <name>/Contents with an Info.plist naming the
// executable "app", Contents/MacOS/app holding script (mode given) and
// Contents/content.txt holding content; MakeLargeApp adds many files below
// Contents, so that copying the bundle takes a while. TreeText describes a
// whole tree in one text, to compare a bundle with another.
//
// UpdateEngineTest is the fixture of the engine's own tests.
//
// StartProgram starts a program with the test's own environment plus some
// variables, optionally with its standard output on a given descriptor, and
// hands back its pid; StartProgramWithFileSizeLimit starts it with a limit on
// the size of the files it writes; WaitForProgram collects it. The tests end the processes
// they start by that pid and nothing else. FindProgram looks a program up on
// PATH; RunProgram starts one and waits for its exit code.
//
// Programs run as another user: the checkout, and with it the built updater
// and "open", may lie in a folder other users cannot enter (a clone in root's
// home, a 0700 temporary folder). CopyProgramsForOtherUsers copies them into
// a temporary folder that user can reach, and StartProgramAsUser starts a
// program as that user.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/process/VProcessLauncher.h"
#include "files/CopyTestSupport.h"
#include "support/TempFolder.h"
#include "updater/VUpdateEngine.h"

extern char** environ;

namespace bkit::test {

inline void MakeSampleApp(const TempFolder& temp, const std::string& name, const std::string& content,
                          const std::string& script = "#!/bin/sh\n", mode_t executableMode = 0755)
{
    temp.MakeFolder(name);
    temp.MakeFolder(name + "/Contents");
    temp.MakeFolder(name + "/Contents/MacOS");
    temp.WriteFile(name + "/Contents/Info.plist",
                   "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>CFBundleExecutable</key>\n"
                   "\t<string>app</string>\n</dict>\n</plist>\n");
    temp.WriteFile(name + "/Contents/MacOS/app", script, executableMode);
    temp.WriteFile(name + "/Contents/content.txt", content);
}

// A sample bundle with that many more files of 2 KiB below Contents/Data<n>,
// each telling its bundle by content.
inline void MakeLargeApp(const TempFolder& temp, const std::string& name, const std::string& content, int files,
                         const std::string& script = "#!/bin/sh\n")
{
    MakeSampleApp(temp, name, content, script);
    const std::string data = content + std::string(2048, 'x');
    for (int i = 0; i < files; ++i) {
        std::string folder = name + "/Contents/Data" + std::to_string(i / 100);
        if (i % 100 == 0)
            temp.MakeFolder(folder);
        temp.WriteFile(folder + "/file" + std::to_string(i), data);
    }
}

// Every item below path with its kind and content ("<path>/" for a folder,
// "<path> -> <target>" for a link, "<path>: <content>" for a file), sorted,
// one a line. Empty when path cannot be read.
inline std::string TreeText(const std::string& path, const std::string& below = "")
{
    std::vector<std::string> lines;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return "";
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string item = path + "/" + name;
        std::string relative = below + name;
        struct stat st;
        if (::lstat(item.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            lines.push_back(relative + "/\n" + TreeText(item, relative + "/"));
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = ::readlink(item.c_str(), target, sizeof(target));
            lines.push_back(relative + " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0) + "\n");
        } else {
            std::string content;
            int fd = ::open(item.c_str(), O_RDONLY | O_CLOEXEC);
            char buffer[4096];
            ssize_t got;
            while (fd >= 0 && (got = ::read(fd, buffer, sizeof(buffer))) > 0)
                content.append(buffer, static_cast<size_t>(got));
            if (fd >= 0)
                ::close(fd);
            lines.push_back(relative + ": " + content + "\n");
        }
    }
    ::closedir(dir);
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines)
        all += line;
    return all;
}

// The argument and environment lists of a program started by the tests: the
// test's environment with variables set or replaced ("NAME=value" each).
struct ProgramLine {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ProgramLine(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& variables)
    {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string text(*entry);
            bool replaced = std::any_of(variables.begin(), variables.end(), [&](const std::string& v) {
                return text.compare(0, v.find('=') + 1, v, 0, v.find('=') + 1) == 0;
            });
            if (!replaced)
                environment.push_back(text);
        }
        environment.insert(environment.end(), variables.begin(), variables.end());
        arguments = {program};
        arguments.insert(arguments.end(), args.begin(), args.end());
        for (std::string& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

// Each test builds its own engine, which waits for nothing; the program's
// process object and the fault seam are put back after.
class UpdateEngineTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        fSaved = VProcess::sInstance;
        fEngine = new VUpdateEngine;
        VUpdateEngine::SetWaitsForTesting(&NoSleep, nullptr);
    }
    void TearDown() override
    {
        delete fEngine;
        VProcess::sInstance = fSaved;
        VUpdateEngine::SetWaitsForTesting(nullptr, nullptr);
        FaultSeam::DisarmAll();
    }
    static void NoSleep(int) {}

    VProcess* fSaved = nullptr;
    VUpdateEngine* fEngine = nullptr;
};

// Starts program with args, in the test's environment with variables set or
// replaced ("NAME=value" each), its standard output on outFD when given (-1
// keeps the test's). The pid, or -1.
inline pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& variables, int outFD = -1)
{
    ProgramLine line(program, args, variables);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFD >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFD, STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, line.argv.data(), line.envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts program as StartProgram does, its files limited to sizeLimit bytes
// (RLIMIT_FSIZE) and without core files: a write past the limit kills it with
// SIGXFSZ, as a full quota would stop it, or fails with EFBIG when
// ignoreSizeSignal. The pid, or -1.
inline pid_t StartProgramWithFileSizeLimit(const std::string& program, const std::vector<std::string>& args,
                                           const std::vector<std::string>& variables, rlim_t sizeLimit,
                                           bool ignoreSizeSignal)
{
    ProgramLine line(program, args, variables);
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit size = {sizeLimit, sizeLimit};
        struct rlimit core = {0, 0};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0 || setrlimit(RLIMIT_CORE, &core) != 0)
            _exit(127);
        signal(SIGXFSZ, ignoreSizeSignal ? SIG_IGN : SIG_DFL);
        execve(program.c_str(), line.argv.data(), line.envp.data());
        _exit(127);
    }
    return pid;
}

// Waits up to timeoutMs for the program to end and collects it; its wait
// status, or -1 when it still runs (it is then killed and collected).
inline int WaitForProgram(pid_t pid, int timeoutMs = 30000)
{
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        ::usleep(2000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// The path of a program found on PATH, or empty.
inline std::string FindProgram(const char* name)
{
    const char* path = getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= folders.size();) {
        size_t end = folders.find(':', at);
        if (end == std::string::npos)
            end = folders.size();
        std::string candidate = folders.substr(at, end - at) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = end + 1;
    }
    return "";
}

// Runs the program with the test's environment and these variables; its exit
// code, or -1 when it did not end by itself.
inline int RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& variables = {})
{
    pid_t pid = StartProgram(program, args, variables);
    int status = pid > 0 ? WaitForProgram(pid, 120000) : -1;
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts program with args as StartProgram does, as the user and group given
// (no other groups) when the test runs as root, in the folder "/" (the
// test's working folder may be one that user cannot enter), its standard
// output and standard error on outFD when given. A variable given with an
// empty value ("NAME=") is left out. The pid, or -1.
inline pid_t StartProgramAsUser(const std::string& program, const std::vector<std::string>& args,
                                const std::vector<std::string>& variables, uid_t uid, gid_t gid, int outFD = -1)
{
    ProgramLine line(program, args, variables);
    std::vector<char*> envp;
    for (char* entry : line.envp) {
        const char* equal = entry != nullptr ? strchr(entry, '=') : nullptr;
        if (entry == nullptr || equal == nullptr || equal[1] != '\0' ||
            std::find(variables.begin(), variables.end(), std::string(entry)) == variables.end())
            envp.push_back(entry);
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
        if (chdir("/") != 0)
            _exit(126);
        if (outFD >= 0 && (dup2(outFD, STDOUT_FILENO) < 0 || dup2(outFD, STDERR_FILENO) < 0))
            _exit(126);
        execve(program.c_str(), line.argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// Copies of the built updater and "open" that another user can run.
struct ProgramsForOtherUsers {
    std::string updater;     // the updater's executable, in its bundle
    std::string openFolder;  // the folder that holds "open", to put first on PATH
};

// Copies the built updater's bundle (its resources with it) and "open" into
// temp's new folder named folder, every item readable by all, and checks
// that the user given can run both from there: temp and the folders above
// it must let that user in (the caller opens temp itself). False with the
// reason in whyNot when a copy fails or the user cannot reach them.
inline bool CopyProgramsForOtherUsers(const TempFolder& temp, const std::string& folder, uid_t uid, gid_t gid,
                                      ProgramsForOtherUsers& copies, std::string& whyNot)
{
    const std::string updater = BKIT_UPDATER_PROGRAM;
    // <bundle>/Contents/MacOS/<updater>
    std::string bundle = updater;
    for (int up = 0; up < 3; ++up)
        bundle.erase(bundle.rfind('/'));
    const std::string bundleName = bundle.substr(bundle.rfind('/') + 1);
    const std::string cp = FindProgram("cp");
    if (cp.empty() || !temp.MakeFolder(folder) || !temp.MakeFolder(folder + "/bin") ||
        RunProgram(cp, {"-a", bundle, temp.Path(folder)}) != 0 ||
        RunProgram(cp, {"-a", std::string(BKIT_OPEN_FOLDER) + "/open", temp.Path(folder + "/bin")}) != 0) {
        whyNot = "the built programs could not be copied into " + temp.Path(folder);
        return false;
    }
    // Past the umask the checkout was built with; links are left alone.
    ::nftw(
        temp.Path(folder).c_str(),
        [](const char* path, const struct stat* st, int type, struct FTW*) {
            if (type != FTW_SL && type != FTW_SLN)
                ::chmod(path, (st->st_mode & 07777) | 0444 | (S_ISDIR(st->st_mode) || (st->st_mode & 0111) ? 0111 : 0));
            return 0;
        },
        16, FTW_PHYS);
    copies.updater = temp.Path(folder + "/" + bundleName + updater.substr(bundle.size()));
    copies.openFolder = temp.Path(folder + "/bin");
    pid_t pid = StartProgramAsUser(
        "/bin/sh", {"-c", "test -x \"$0\" && test -x \"$1/open\"", copies.updater, copies.openFolder}, {}, uid, gid);
    int status = pid > 0 ? WaitForProgram(pid) : -1;
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        whyNot = "the user " + std::to_string(uid) + " cannot reach the temporary folder " + temp.Path() +
                 " (TMPDIR names a folder other users cannot enter)";
        return false;
    }
    return true;
}

// The path of strace when it can trace here, else empty (not installed, or
// ptrace refused) with the reason in whyNot.
inline std::string FindUsableStrace(std::string& whyNot)
{
    const std::string strace = FindProgram("strace");
    if (strace.empty())
        whyNot = "strace is not installed";
    else if (RunProgram(strace, {"-qq", "-o", "/dev/null", "/bin/true"}) != 0)
        whyNot = "tracing is refused here (ptrace)";
    return whyNot.empty() ? strace : "";
}

// A program run through the process launcher, as the updater runs "open".
struct LaunchedRun {
    int result = -1;          // the launcher's
    int32_t exitCode = -1000;
    std::string out;
    std::string err;
};

// Runs program with args and the test's environment in which our "open"
// comes first on PATH and the Trash lies in temp's "xdg"; notices go into
// temp's noticeFolder when one is named, else (no graphical session, no
// notice folder) to standard error, answered at once. In workingFolder when
// one is named.
inline LaunchedRun RunLaunched(const TempFolder& temp, const std::string& program,
                               const std::vector<std::string>& args, const std::string& noticeFolder = "",
                               const std::string& workingFolder = "")
{
    EnvironmentVariables environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        size_t equal = text.find('=');
        std::string name = text.substr(0, equal);
        if (equal != std::string::npos && name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "BKIT_NOTICE_DIR")
            environment[VString(name.c_str())] = VString(text.substr(equal + 1).c_str());
    }
    const char* path = getenv("PATH");
    environment[VString("PATH")] =
        VString((std::string(BKIT_OPEN_FOLDER) + ":" + (path ? path : "/usr/bin:/bin")).c_str());
    environment[VString("XDG_DATA_HOME")] = VString(temp.Path("xdg").c_str());
    if (!noticeFolder.empty())
        environment[VString("BKIT_NOTICE_DIR")] = VString(temp.Path(noticeFolder).c_str());

    std::vector<VString> command = {VString(program.c_str())};
    for (const std::string& arg : args)
        command.emplace_back(arg.c_str());
    VMemoryBuffer<> out, err;
    LaunchedRun run;
    VFilePath folder;
    if (!workingFolder.empty())
        folder = VFilePath(VString((workingFolder + "/").c_str()), FPS_POSIX);
    run.result = VProcessLauncher::ExecuteCommandLine(command, 0, nullptr, &out, &err, &environment,
                                                      workingFolder.empty() ? nullptr : &folder, &run.exitCode);
    run.out.assign(static_cast<const char*>(out.GetDataPtr()), out.GetDataSize());
    run.err.assign(static_cast<const char*>(err.GetDataPtr()), err.GetDataSize());
    return run;
}

// Every file's content in temp's folder, concatenated in name order: the
// files whose name ends in extension, or, without one, every file but
// hidden ones and notice answers.
inline std::string FolderText(const TempFolder& temp, const std::string& folder, const std::string& extension = "")
{
    std::string all;
    for (const std::string& name : temp.List(folder)) {
        bool wanted = extension.empty()
                          ? name[0] != '.' && name.find(".answer") == std::string::npos
                          : name.size() > extension.size() &&
                                name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
        if (wanted)
            all += temp.ReadFile(folder + "/" + name);
    }
    return all;
}

// Answers, in temp's folder of notices, every notice that has no answer yet.
inline void AnswerNotices(const TempFolder& temp, const std::string& folder, const std::string& answer)
{
    for (const std::string& name : temp.List(folder)) {
        size_t dot = name.rfind(".json");
        if (dot == std::string::npos || dot + 5 != name.size())
            continue;
        std::string answerName = folder + "/" + name.substr(0, dot) + ".answer";
        if (!temp.ItemExists(answerName))
            temp.WriteFile(answerName, answer);
    }
}

// Waits up to 5 s for a file of temp written by a detached process; its
// content.
inline std::string WaitForFile(const TempFolder& temp, const std::string& name)
{
    for (int i = 0; i < 250; ++i) {
        struct stat st;
        if (::stat(temp.Path(name).c_str(), &st) == 0 && st.st_size > 0)
            break;
        ::usleep(20000);
    }
    return temp.ReadFile(name);
}

}  // namespace bkit::test
