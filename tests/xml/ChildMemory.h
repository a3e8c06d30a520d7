// ChildMemory.h - running a piece of work in a child process and measuring how far its memory grew.
//
// RunInChild forks, runs the work in the child and answers how far the child's
// memory rose above what it held before the work, at its peak, whether the
// work ran to its end, or why the child was stopped: a watchdog polls the
// child and kills it, by pid, once its resident memory is more than the
// ceiling above its start or it runs past the deadline, so that work that
// would take the machine's memory fails its test instead. The deadline guards
// against a hang; it is no speed measure.
// The peak is the resident memory's (from /proc) in a plain build. Under a
// sanitizer it is that of the bytes allocated and not yet freed, counted
// through the sanitizer's allocation hooks: its allocator keeps freed blocks
// in quarantine and adds shadow memory, which would make any work that
// allocates and frees a lot look as if it kept it.
#pragma once

#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "basekit/platform/PosixError.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BKIT_CHILD_MEMORY_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BKIT_CHILD_MEMORY_HOOKS 1
#endif
#endif

#ifdef BKIT_CHILD_MEMORY_HOOKS
#include <atomic>
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                          void (*free_hook)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace bkit::test {

struct ChildOutcome {
    bool finished = false;      // the work returned and the child exited normally
    bool overCeiling = false;   // killed for holding too much
    bool overDeadline = false;  // killed for running too long
    bool workAnswer = false;    // what the work answered
    size_t growth = 0;          // peak resident bytes above the child's start
};

namespace child_memory {

// A "Key:   123 kB" line of a /proc status file, in bytes; 0 when absent.
inline size_t StatusBytes(const char* statusPath, const char* key)
{
    FILE* file = fopen(statusPath, "r");
    if (!file)
        return 0;
    char line[256];
    size_t bytes = 0;
    const size_t keyLength = strlen(key);
    while (fgets(line, sizeof(line), file)) {
        if (strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
            bytes = static_cast<size_t>(strtoull(line + keyLength + 1, nullptr, 10)) * 1024;
            break;
        }
    }
    fclose(file);
    return bytes;
}

// Moves size bytes through fd with write or read, retrying on EINTR and
// after short transfers; false when it ends early.
template <class Transfer, class Bytes>
bool TransferAll(Transfer transfer, int fd, Bytes* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = RetryOnEINTR([&] { return transfer(fd, data, size); });
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

inline bool WriteAll(int fd, const void* data, size_t size)
{
    return TransferAll(::write, fd, static_cast<const char*>(data), size);
}

inline bool ReadAll(int fd, void* data, size_t size)
{
    return TransferAll(::read, fd, static_cast<char*>(data), size);
}

#ifdef BKIT_CHILD_MEMORY_HOOKS
// Bytes allocated less bytes freed since the hooks went in, and its peak.
inline std::atomic<long long> sLive{0};
inline std::atomic<long long> sPeak{0};

inline void OnAllocate(const volatile void*, size_t size)
{
    const long long live = sLive.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
    long long peak = sPeak.load();
    while (live > peak && !sPeak.compare_exchange_weak(peak, live)) {
    }
}

inline void OnFree(const volatile void* p)
{
    if (p)
        sLive.fetch_sub(static_cast<long long>(__sanitizer_get_allocated_size(p)));
}
#endif

}  // namespace child_memory

inline ChildOutcome RunInChild(const std::function<bool()>& work, size_t ceiling, std::chrono::seconds deadline)
{
    using namespace child_memory;
    ChildOutcome outcome;
    int channel[2];
    if (pipe(channel) != 0)
        return outcome;
    const pid_t pid = fork();
    if (pid < 0) {
        close(channel[0]);
        close(channel[1]);
        return outcome;
    }
    if (pid == 0) {
        close(channel[0]);
        // Starts the peak over from what the child holds now (what it shares
        // with the parent included).
        if (FILE* clear = fopen("/proc/self/clear_refs", "w")) {
            fputs("5", clear);
            fclose(clear);
        }
        const uint64_t start = StatusBytes("/proc/self/status", "VmRSS");
        WriteAll(channel[1], &start, sizeof(start));
#ifdef BKIT_CHILD_MEMORY_HOOKS
        __sanitizer_install_malloc_and_free_hooks(&OnAllocate, &OnFree);
        const uint8_t answer = work() ? 1 : 0;
        const uint64_t growth = static_cast<uint64_t>(sPeak.load());
#else
        const uint8_t answer = work() ? 1 : 0;
        const uint64_t peak = StatusBytes("/proc/self/status", "VmHWM");
        const uint64_t growth = peak > start ? peak - start : 0;
#endif
        WriteAll(channel[1], &answer, sizeof(answer));
        WriteAll(channel[1], &growth, sizeof(growth));
        // Straight to the system, past the sanitizers' exit checks: they
        // would judge the threads of the parent, whose records the child
        // only inherited.
        syscall(SYS_exit_group, 0);
    }
    close(channel[1]);
    uint64_t start = 0;
    const bool started = ReadAll(channel[0], &start, sizeof(start));
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const auto until = std::chrono::steady_clock::now() + deadline;
    int waitStatus = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &waitStatus, WNOHANG);
        if (done == pid)
            break;
        const size_t resident = StatusBytes(status.c_str(), "VmRSS");
        outcome.overCeiling = started && resident > start + ceiling;
        outcome.overDeadline = std::chrono::steady_clock::now() > until;
        if (outcome.overCeiling || outcome.overDeadline || !started) {
            kill(pid, SIGKILL);
            waitpid(pid, &waitStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    uint8_t answer = 0;
    uint64_t growth = 0;
    if (started && !outcome.overCeiling && !outcome.overDeadline && WIFEXITED(waitStatus) &&
        WEXITSTATUS(waitStatus) == 0 && ReadAll(channel[0], &answer, sizeof(answer)) &&
        ReadAll(channel[0], &growth, sizeof(growth))) {
        outcome.finished = true;
        outcome.workAnswer = answer != 0;
        outcome.growth = static_cast<size_t>(growth);
    }
    close(channel[0]);
    return outcome;
}

}  // namespace bkit::test
