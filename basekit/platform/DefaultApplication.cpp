// DefaultApplication.cpp - xdg-open started without a shell.
#include "basekit/platform/DefaultApplication.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <string>
#include <thread>

#include "basekit/platform/PosixError.h"

extern char** environ;

namespace bkit::platform {

namespace {

// How long xdg-open is given to report a failure before it is left to run.
constexpr int kAnswerWaitMs = 3000;

}  // namespace

VError OpenWithDefaultApplication(const char* path)
{
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return PosixErrorFromErrno(ENOENT);

    std::string file(path);
    char program[] = "xdg-open";
    char* argv[] = {program, file.data(), nullptr};
    pid_t pid = -1;
    int result = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
    if (result != 0) return PosixErrorFromErrno(result);

    for (int waited = 0; waited < kAnswerWaitMs; waited += 10) {
        int status = 0;
        pid_t ended = RetryOnEINTR([&] { return ::waitpid(pid, &status, WNOHANG); });
        if (ended == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return VE_OK;
            // 3 is xdg-open's "no tool to open with".
            return PosixErrorFromErrno((WIFEXITED(status) && WEXITSTATUS(status) == 3) ? ENOENT : EIO);
        }
        if (ended < 0) return LastPosixError();
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    std::thread([pid] { RetryOnEINTR([&] { return ::waitpid(pid, nullptr, 0); }); }).detach();
    return VE_OK;
}

}  // namespace bkit::platform
