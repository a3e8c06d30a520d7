// XPosixProcessLauncher.h - the POSIX child-process launcher behind VProcessLauncher.
//
// This file defines XPosixProcessLauncher: it starts one child with
// posix_spawn in a process group of its own, its standard streams connected to
// pipes (or inherited), collects its output, kills it after an optional
// time-out, waits for its end and reports its exit status.
//
// Contracts:
// - Arguments are a list; the first is the child's argv[0]. A program path
//   that does not begin with "/" and names no regular file as it stands is
//   looked for along PATH (or "path" when PATH is unset) at Start.
// - Failures are returned as -1 or the system's error number, nothing is
//   pushed, except the time-out kill, which Shutdown reports as 'bkit' 8.
// - Exit status: the child's exit code; -127 when a signal ended it; 0 when it
//   was stopped.
// - Standard output and standard error are always drained together, so a
//   child that fills one pipe while the caller waits on the other never
//   blocks. Reading ends when both pipes reach their end, or when the child
//   has ended and nothing more is waiting (a grandchild that kept the pipes
//   open does not hold the caller).
// - A child that ends without being waited for is kept in a process-wide set
//   and reaped before the next spawn of any launcher.
// - One launcher is used by one task; the time-out kill runs on a thread of
//   its own and only sets a flag and sends a signal.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "basekit/platform/DelayedAction.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

// 'bkit' 8: a child process was killed after its time-out.
constexpr VError VE_PROCESS_TIMED_OUT = MakeBKitError(8);

using EnvironmentVariables = std::map<VString, VString>;
// Receives one chunk of the child's output.
using ChildOutputHandler = std::function<void(const char* bytes, size_t size)>;

class XPosixProcessLauncher : public VObject {
public:
    static constexpr int32_t kWaitForever = 2147483647;
    // The exit status of a child that a signal ended.
    static constexpr int32_t kExitStatusSignaled = -127;

    XPosixProcessLauncher();
    // Closes the pipes and cancels the time-out kill; a child still running is
    // left to run and reaped later.
    ~XPosixProcessLauncher() override;

    // --- before Start ---
    void SetDefaultDirectory(const std::string& posixPath) { fWorkingFolder = posixPath; }
    void SetEnvironmentVariable(const VString& name, const VString& value) { fEnvironment[name] = value; }
    void SetEnvironmentVariables(const EnvironmentVariables& variables) { fEnvironment = variables; }
    // The program path; when the list is empty it also becomes argv[0].
    void SetBinaryPath(const VString& path);
    // Cuts the text into words (blanks separate; a word beginning with a
    // double or single quote runs to the matching quote; elsewhere a backslash
    // keeps the next character); the words replace the arguments and the first
    // becomes the program path.
    void CreateArgumentsFromFullCommandLine(const VString& commandLine);
    // Appends an argument; with quote it is wrapped in double quotes first. An
    // empty argument is not added.
    void AddArgument(const VString& argument, bool quote);
    void ClearArguments();
    // How long Shutdown waits for the child's end, and the delay after which it
    // is killed (0 < ms < kWaitForever). 0: Shutdown does not wait.
    void SetWaitClosingChildProcess(int32_t ms) { fWaitClosingMs = ms; }
    void SetRedirectStandardInput(bool on) { fRedirectInput = on; }
    void SetRedirectStandardOutput(bool on) { fRedirectOutput = on; }
    void SetQuoteArgumentsIfNeeded(bool on) { fQuoteIfNeeded = on; }
    void EnableProcessTreeKill() { fProcessTreeKill = true; }

    const std::vector<VString>& GetArguments() const { return fArguments; }
    const VString& GetBinaryPath() const { return fProgramPath; }

    // Starts the child. 0, or -1 / the system's error number.
    int Start();

    // --- while it runs ---
    // Writes to the child's standard input; closes it afterwards with
    // closeAfter. -1 on failure (or without an input pipe).
    int WriteToChild(const void* data, size_t size, bool closeAfter);
    void CloseStandardInput();
    // Waits up to ms (-1: no limit) for output on either pipe. 1 when output
    // is waiting, 0 when the child has ended (its status collected) or the
    // time ran out, -1 on failure.
    int WaitForData(int ms = -1);
    // What is waiting on one pipe, without blocking: the count read, 0 at its
    // end or when nothing waits, -1 on failure.
    ssize_t ReadFromChild(void* buffer, size_t size);
    ssize_t ReadErrorFromChild(void* buffer, size_t size);
    // Reads both pipes to their end into the buffers (either may be null: that
    // stream is read and dropped). 0, or -1 on a read failure.
    int ReadStd(VMemoryBuffer<>* out, VMemoryBuffer<>* err);
    // Writes input to the child's standard input while reading both output
    // pipes, then closes the input. 0, or -1 on a read failure.
    int ExchangeStd(const void* input, size_t size, VMemoryBuffer<>* out, VMemoryBuffer<>* err);
    // Hands both streams chunk by chunk to the handlers, then Shutdown(false, false).
    int ReadFromChildAndShutdown(const ChildOutputHandler& out, const ChildOutputHandler& err);
    // Sends signal to the child (to its group with the process-tree kill).
    int KillProcess(int signal);
    bool IsRunning();
    pid_t GetPid() const { return fPid; }

    // Collects the child (see the file comment); with wait, ends it with
    // SIGTERM, SIGQUIT and SIGKILL in turn, 5 s each. 0, or the time-out error.
    VError Shutdown(bool wait, bool killTree);
    int32_t GetExitStatus() const { return fExitStatus; }
    // The child was collected, so GetExitStatus tells how it ended.
    bool HasExitStatus() const { return fCollected; }

    // Reaps the children of the watched set that have ended.
    static void ReapWatchedChildren();

private:
    int _CreatePipes();
    void _ClosePipes();
    std::string _ResolveProgram() const;
    // Non-blocking check (status left for waitpid): the child has ended.
    bool _HasEnded();
    // Stores the status of a collected child.
    void _Collected(int status);
    // waitpid with WNOHANG: true when the child was collected now.
    bool _TryCollect();
    int _Drain(VMemoryBuffer<>* out, VMemoryBuffer<>* err, const ChildOutputHandler* outHandler,
               const ChildOutputHandler* errHandler, const char* input = nullptr, size_t inputSize = 0);

    std::string fWorkingFolder;
    EnvironmentVariables fEnvironment;
    std::vector<VString> fArguments;
    VString fProgramPath;
    bool fStarted = false;
    bool fCollected = false;
    // Left to the watched set by a Shutdown that did not wait.
    bool fHandedOff = false;
    int32_t fExitStatus = 0;
    int32_t fWaitClosingMs = kWaitForever;
    pid_t fPid = 0;
    pid_t fProcessGroup = 0;
    int fInput[2] = {-1, -1};
    int fOutput[2] = {-1, -1};
    int fError[2] = {-1, -1};
    int fStatus[2] = {-1, -1};
    bool fRedirectInput = true;
    bool fRedirectOutput = true;
    std::shared_ptr<std::atomic<bool>> fTimedOut;
    bool fQuoteIfNeeded = true;
    bool fProcessTreeKill = false;
    platform::DelayedAction fTimeoutKill;
};

}  // namespace bkit
