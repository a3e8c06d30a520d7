// XPosixProcessIPC.cpp - quit-signal handlers and the watcher that hands their request on.
#include "basekit/process/mac/XPosixProcessIPC.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "basekit/platform/Semaphore.h"
#include "basekit/process/VProcess.h"

namespace bkit {

namespace {

// Shared by the handler (which only posts) and the watcher.
platform::Semaphore gQuitRequests;
std::atomic<bool> gWatching{false};
std::atomic<bool> gStopWatcher{false};
std::mutex gWatcherMutex;
std::thread gWatcher;

void _QuitSignalHandler(int signal)
{
    // Whether a process object exists is the watcher's question: the handler
    // may run on any thread, at any moment of the program.
    if (!gWatching.load())
        return;
    if (signal == SIGINT) {
        int saved = errno;
        const char* message = XPosixProcessIPC::kInterruptMessage;
        ssize_t ignored = ::write(STDOUT_FILENO, message, strlen(message));
        (void)ignored;
        errno = saved;
    }
    if (signal == SIGTERM || signal == SIGINT || signal == SIGQUIT)
        gQuitRequests.Signal();
}

void _Watch()
{
    for (;;) {
        gQuitRequests.Wait();
        if (gStopWatcher.load())
            return;
        VProcess::QuitFromAnotherThread();
    }
}

bool _Install(int signal, int blocked1, int blocked2, int flags)
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = _QuitSignalHandler;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, blocked1);
    sigaddset(&action.sa_mask, blocked2);
    action.sa_flags = flags;
    return sigaction(signal, &action, nullptr) == 0;
}

}  // namespace

XPosixProcessIPC::~XPosixProcessIPC()
{
    std::lock_guard<std::mutex> lock(gWatcherMutex);
    if (!gWatcher.joinable())
        return;
    gWatching.store(false);
    gStopWatcher.store(true);
    gQuitRequests.Signal();
    gWatcher.join();
}

bool XPosixProcessIPC::Init()
{
    {
        std::lock_guard<std::mutex> lock(gWatcherMutex);
        if (!gWatcher.joinable()) {
            if (gQuitRequests.Create(0) != 0)
                return false;
            // Requests left from a watcher that was stopped are no longer asked.
            while (gQuitRequests.TimedWait(0)) {
            }
            gStopWatcher.store(false);
            gWatcher = std::thread(_Watch);
        }
        gWatching.store(true);
    }
    return _Install(SIGTERM, SIGINT, SIGQUIT, SA_RESTART) && _Install(SIGINT, SIGQUIT, SIGTERM, SA_RESTART) &&
           _Install(SIGQUIT, SIGINT, SIGTERM, SA_RESTART | SA_RESETHAND);
}

}  // namespace bkit
