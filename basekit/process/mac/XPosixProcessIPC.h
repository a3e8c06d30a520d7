// XPosixProcessIPC.h - the handlers of the quit signals.
//
// This file defines XPosixProcessIPC, which installs one handler for SIGTERM,
// SIGINT and SIGQUIT (in that order, stopping at the first failure). A quit
// signal asks the process to quit (VProcess::QuitFromAnotherThread: the
// running process's QuitAsynchronously while Run runs, else the main task is
// told to end); on SIGINT a line telling so is written to standard output
// first. SIGQUIT goes back to its default action after its first delivery, so
// a second one ends the process the system's way.
//
// The handler itself only writes that line and posts a semaphore, the two
// things a signal handler may safely do; a watcher thread that Init starts
// takes the request on. Destroying the installer stops the watcher (its owner
// does so before anything it hands requests to goes away); the handlers stay
// installed until the program ends and do nothing while no watcher runs. One
// installer at a time.
#pragma once

#include "basekit/values/VObject.h"

namespace bkit {

class XPosixProcessIPC : public VObject {
public:
    XPosixProcessIPC() = default;
    ~XPosixProcessIPC() override;
    XPosixProcessIPC(const XPosixProcessIPC&) = delete;
    XPosixProcessIPC& operator=(const XPosixProcessIPC&) = delete;

    // Installs the handlers and starts the watcher; true on success.
    bool Init();

    // The line written on SIGINT.
    static constexpr const char* kInterruptMessage = "\n (ctrl-c has been received - quit)\n\n";
};

}  // namespace bkit
