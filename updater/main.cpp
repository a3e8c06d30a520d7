// main.cpp - the updater's entry: the process object's start-up, the run and the exit code.
//
// Exit codes: 0 update done (or help or version printed), 1 start-up failed
// or the command line was rejected, 2 the update failed. SIGPIPE is ignored
// from the start.
#include <signal.h>

#include "basekit/process/VProcessIPC.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/runtime/VTask.h"
#include "updater/VUpdateEngine.h"

using namespace bkit;

namespace {

int _main()
{
    // The toolbox's first static initialiser made the memory manager; a
    // program without it cannot run.
    initializer();
    if (VObject::sCppMemMgr == nullptr)
        return 1;

    VUpdateEngine engine;
    if (!engine.Init(VProcess::kInitCreateLogger | VProcess::kInitCreateFileSystemNotifier))
        return engine.GetExitCode();
    engine.SetExitCode(0);
    engine.Run();
    VError last = VTask::GetLastError();
    if (last == VE_OK)
        return 0;
    return last == VE_INIT_FAILED ? 1 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // A caller that stopped reading its end of a standard stream must not end
    // the update: a write there then fails with EPIPE instead.
    signal(SIGPIPE, SIG_IGN);
    sProcessCommandLineArgc = argc;
    sProcessCommandLineArgv = argv;
    return _main();
}
