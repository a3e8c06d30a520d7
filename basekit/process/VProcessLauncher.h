// VProcessLauncher.h - starts a child process and collects its output and exit status.
//
// This file defines VProcessLauncher, the portable facade over
// XPosixProcessLauncher (process/mac/), which holds the contracts: arguments
// as a list (argv[0] first), PATH lookup of a bare program name at Start,
// pipes for the standard streams drained together, an optional time-out kill,
// the exit status (-127 after a signal), and failures returned as -1 or the
// system's error number.
//
// ExecuteCommandLine runs one command and waits for it. Prefer its list form:
// a command given as text is split again into words, so a path holding a
// quote character would change the arguments.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "basekit/process/mac/XPosixProcessLauncher.h"

namespace bkit {

class VFilePath;

class VProcessLauncher : public VObject {
public:
    // ExecuteCommandLine option: start the child and do not wait for its end.
    static constexpr uint32_t kDontWaitForChild = 2;

    VProcessLauncher();
    ~VProcessLauncher() override;
    VProcessLauncher(const VProcessLauncher&) = delete;
    VProcessLauncher& operator=(const VProcessLauncher&) = delete;

    void SetDefaultDirectory(const VFilePath& folder);
    void SetEnvironmentVariable(const VString& name, const VString& value);
    void SetEnvironmentVariables(const EnvironmentVariables& variables);
    void SetBinaryPath(const VString& path);
    void CreateArgumentsFromFullCommandLine(const VString& commandLine);
    void AddArgument(const VString& argument, bool quote = false);
    void ClearArguments();
    void SetWaitClosingChildProcess(int32_t ms);
    void SetRedirectStandardInput(bool on);
    void SetRedirectStandardOutput(bool on);
    void SetQuoteArgumentsIfNeeded(bool on);
    void EnableProcessTreeKill();

    int Start();
    // Applies the variables, then starts.
    int Start(const EnvironmentVariables& environment);

    void CloseStandardInput();
    int WriteToChild(const void* data, size_t size, bool closeAfter);
    int WaitForData(int ms = -1);
    ssize_t ReadFromChild(void* buffer, size_t size);
    ssize_t ReadErrorFromChild(void* buffer, size_t size);
    int ReadFromChildAndShutdown(const ChildOutputHandler& out, const ChildOutputHandler& err);
    int ReadStd(VMemoryBuffer<>* out, VMemoryBuffer<>* err);
    int KillProcess(int signal);
    bool IsRunning();
    pid_t GetPid() const;
    VError Shutdown(bool wait, bool killTree);
    int32_t GetExitStatus() const;

    XPosixProcessLauncher& GetImpl() { return *fImpl; }

    // Runs commandLine (split into words; the first is the program) and, unless
    // options has kDontWaitForChild, waits for its end. input is written to its
    // standard input, which is then closed; its output goes to out and err
    // when given. exitStatus is set when the child was collected. With
    // outLauncher the launcher is handed to the caller (who deletes it) and
    // not shut down. extraArguments are appended after the words. 0, or the
    // failing step's code (a missing program gives ENOENT, and no status).
    static int ExecuteCommandLine(const VString& commandLine, uint32_t options = 0,
                                  const VMemoryBuffer<>* input = nullptr, VMemoryBuffer<>* out = nullptr,
                                  VMemoryBuffer<>* err = nullptr, const EnvironmentVariables* environment = nullptr,
                                  const VFilePath* workingFolder = nullptr, int32_t* exitStatus = nullptr,
                                  VProcessLauncher** outLauncher = nullptr,
                                  const std::vector<VString>* extraArguments = nullptr, bool quoteIfNeeded = true,
                                  bool killTree = false);

    // The same for a program and its arguments given as a list: no text is
    // split, so each entry reaches the child as one argument whatever it holds.
    static int ExecuteCommandLine(const std::vector<VString>& arguments, uint32_t options = 0,
                                  const VMemoryBuffer<>* input = nullptr, VMemoryBuffer<>* out = nullptr,
                                  VMemoryBuffer<>* err = nullptr, const EnvironmentVariables* environment = nullptr,
                                  const VFilePath* workingFolder = nullptr, int32_t* exitStatus = nullptr,
                                  VProcessLauncher** outLauncher = nullptr, bool quoteIfNeeded = true,
                                  bool killTree = false);

private:
    static int _Execute(VProcessLauncher* launcher, uint32_t options, const VMemoryBuffer<>* input,
                        VMemoryBuffer<>* out, VMemoryBuffer<>* err, const EnvironmentVariables* environment,
                        const VFilePath* workingFolder, int32_t* exitStatus, VProcessLauncher** outLauncher,
                        const std::vector<VString>* extraArguments, bool quoteIfNeeded, bool killTree);

    std::unique_ptr<XPosixProcessLauncher> fImpl;
};

}  // namespace bkit
