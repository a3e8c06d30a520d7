// VProcessIPC.cpp - command line, quit signals and notifiers at start-up; the default run.
#include "basekit/process/VProcessIPC.h"

#include <vector>

#include "basekit/files/VFileSystemNotifier.h"
#include "basekit/process/VCommandLineParser.h"
#include "basekit/process/mac/XPosixProcessIPC.h"
#include "basekit/runtime/VSleepNotifier.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

int32_t sProcessCommandLineArgc = 0;
char** sProcessCommandLineArgv = nullptr;

VProcessIPC* VProcessIPC::sInstance = nullptr;

VProcessIPC::VProcessIPC()
{
    sInstance = this;
}

VProcessIPC::~VProcessIPC()
{
    // The watcher goes first: a quit signal during the rest of the teardown
    // must find nothing it could reach.
    fSignalHandler.reset();
    fFileSystemNotifier.reset();
    if (fSleepNotifier && VSleepNotifier::Instance() == fSleepNotifier.get())
        VSleepNotifier::SetInstance(nullptr);
    fSleepNotifier.reset();
    if (sInstance == this)
        sInstance = nullptr;
}

bool VProcessIPC::Init(uint32_t flags)
{
    if (fIPCInitialized)
        return fIPCInitResult;
    fIPCInitialized = true;

    if (!VProcess::Init(flags)) {
        fExitCode = 1;
        return false;
    }

    // The system's launcher may add a "-psn_" argument of its own anywhere.
    std::vector<VString> arguments;
    for (int32_t i = 0; i < sProcessCommandLineArgc && sProcessCommandLineArgv != nullptr; ++i) {
        VString argument;
        argument.FromCString(sProcessCommandLineArgv[i] != nullptr ? sProcessCommandLineArgv[i] : "");
        if (!argument.BeginsWithRawString(VString("-psn_")))
            arguments.push_back(argument);
    }
    int32_t result;
    {
        VCommandLineParser parser(arguments);
        result = DoParseCommandLine(parser);
    }
    fExitCode = (result == 0 || result == 2) ? 0 : 1;
    if (result != 0)
        return false;

    fSignalHandler = std::make_unique<XPosixProcessIPC>();
    if (!fSignalHandler->Init()) {
        fExitCode = 1;
        return false;
    }

    if (flags & kInitCreateFileSystemNotifier)
        fFileSystemNotifier = std::make_unique<VFileSystemNotifier>();
    // A machine that cannot tell about sleep is no reason not to run.
    fSleepNotifier = std::make_unique<VSleepNotifier>();
    VSleepNotifier::SetInstance(fSleepNotifier.get());
    fSleepNotifier->Init();
    fIPCInitResult = true;
    return true;
}

int32_t VProcessIPC::DoParseCommandLine(VCommandLineParser&)
{
    return 0;
}

void VProcessIPC::DoRun()
{
    while (IsRunning())
        VTask::ExecuteMessagesWithTimeout(100, true);
}

}  // namespace bkit
