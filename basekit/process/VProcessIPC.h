// VProcessIPC.h - the process class of programs without a user interface.
//
// This file defines VProcessIPC: on top of VProcess it collects the program's
// arguments (sProcessCommandLineArgc/Argv, written by main), hands them to the
// program's DoParseCommandLine through a VCommandLineParser, installs the
// quit-signal handlers (XPosixProcessIPC), creates the file-system change
// notifier when asked and the sleep notifier, and keeps the exit code the program
// returns when Init stops early: 1 after a failed start-up or a rejected
// command line, 0 when the command line asked only for help or the version.
//
// A quit signal reaches the object's QuitAsynchronously only while Run runs;
// before Run it tells the main task to end (Run then returns at once), after
// it there is nothing left to stop. Destruction stops the quit-signal watcher
// before anything else.
//
// VProcessIPC::sInstance points at the object while it exists. Init, Run and
// destruction run on the main thread.
#pragma once

#include <cstdint>
#include <memory>

#include "basekit/process/VProcess.h"

namespace bkit {

class VCommandLineParser;
class VFileSystemNotifier;
class VSleepNotifier;
class XPosixProcessIPC;

// The program's arguments as main received them (program path first).
extern int32_t sProcessCommandLineArgc;
extern char** sProcessCommandLineArgv;

class VProcessIPC : public VProcess {
public:
    VProcessIPC();
    ~VProcessIPC() override;

    // VProcess::Init, then the command line, the quit signals and the
    // notifiers. False when the program must not run; GetExitCode then tells
    // what it returns. A second call answers the first result.
    bool Init(uint32_t flags) override;

    // Declares the program's options and parses: 0 go on, 1 rejected, 2 stop
    // without error. The default declares nothing and answers 0.
    virtual int32_t DoParseCommandLine(VCommandLineParser& parser);

    // Executes the main task's messages (100 ms at a time) while the process runs.
    void DoRun() override;

    // The change notifier Init made with kInitCreateFileSystemNotifier (it is
    // then VFileSystemNotifier::Instance()), or null. Owned by the process.
    VFileSystemNotifier* GetFileSystemNotifier() const { return fFileSystemNotifier.get(); }

    // The sleep notifier Init made (it is then VSleepNotifier::Instance()), or
    // null before. Owned by the process.
    VSleepNotifier* GetSleepNotifier() const { return fSleepNotifier.get(); }

    int32_t GetExitCode() const { return fExitCode; }
    void SetExitCode(int32_t code) { fExitCode = code; }

    static VProcessIPC* sInstance;

private:
    bool fIPCInitialized = false;
    bool fIPCInitResult = false;
    std::unique_ptr<XPosixProcessIPC> fSignalHandler;
    std::unique_ptr<VFileSystemNotifier> fFileSystemNotifier;
    std::unique_ptr<VSleepNotifier> fSleepNotifier;
    int32_t fExitCode = 1;
};

}  // namespace bkit
