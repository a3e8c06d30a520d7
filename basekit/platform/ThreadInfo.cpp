// ThreadInfo.cpp - thread services over gettid, pthread_getattr_np and /proc.
#include "basekit/platform/ThreadInfo.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "basekit/platform/MonotonicClock.h"

namespace bkit::platform {

int32_t GetCurrentThreadPort()
{
    return static_cast<int32_t>(gettid());
}

bool GetCurrentThreadStack(char** top, size_t* size)
{
    *top = nullptr;
    *size = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
    void* low = nullptr;
    size_t length = 0;
    bool ok = pthread_attr_getstack(&attr, &low, &length) == 0;
    pthread_attr_destroy(&attr);
    if (!ok) return false;
    *top = static_cast<char*>(low) + length;
    *size = length;
    return true;
}

void SetCurrentThreadName(const char* utf8Name)
{
    if (gettid() == getpid())
        return;
    // Linux keeps 15 bytes and a NUL; a longer name is refused whole, so cut it,
    // backing off continuation bytes so that no character is split.
    char name[16];
    size_t length = strlen(utf8Name);
    if (length > 15) {
        length = 15;
        while (length > 0 && (static_cast<unsigned char>(utf8Name[length]) & 0xC0) == 0x80) --length;
    }
    memcpy(name, utf8Name, length);
    name[length] = 0;
    pthread_setname_np(pthread_self(), name);
}

bool GetCurrentThreadName(char* buffer, size_t size)
{
    return pthread_getname_np(pthread_self(), buffer, size) == 0;
}

// Reads utime, stime (fields 14 and 15) and starttime (field 22) of a thread,
// in clock ticks. The command name (field 2) may hold blanks and parentheses,
// so fields are counted from the last ')'.
static bool ReadThreadStat(int32_t tid, unsigned long long& utime, unsigned long long& stime,
                           unsigned long long& start)
{
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/task/%d/stat", tid);
    FILE* f = fopen(path, "re");
    if (!f) return false;
    char line[1024];
    bool ok = fgets(line, sizeof(line), f) != nullptr;
    fclose(f);
    if (!ok) return false;
    const char* p = strrchr(line, ')');
    if (!p) return false;
    // After ')': field 3 (state) onwards.
    unsigned long long fields[20] = {};
    int n = sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %llu",
                   &fields[0], &fields[1], &fields[2]);
    if (n != 3) return false;
    utime = fields[0];
    stime = fields[1];
    start = fields[2];
    return true;
}

bool GetThreadCPUTimes(int32_t tid, double& user, double& system)
{
    unsigned long long utime, stime, start;
    if (!ReadThreadStat(tid, utime, stime, start)) return false;
    double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    user = static_cast<double>(utime) / hz;
    system = static_cast<double>(stime) / hz;
    return true;
}

bool GetThreadCPUUsage(int32_t tid, double& usage)
{
    unsigned long long utime, stime, start;
    if (!ReadThreadStat(tid, utime, stime, start)) return false;
    double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    struct timespec boot;
    // starttime counts from boot on the boot-time clock.
    clock_gettime(CLOCK_BOOTTIME, &boot);
    double alive = static_cast<double>(boot.tv_sec) + boot.tv_nsec / 1e9 - static_cast<double>(start) / hz;
    usage = alive > 0 ? static_cast<double>(utime + stime) / hz / alive : 0.0;
    return true;
}

int InitMonotonicCondition(pthread_cond_t* condition)
{
    pthread_condattr_t attr;
    int result = pthread_condattr_init(&attr);
    if (result != 0) return result;
    result = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (result == 0) result = pthread_cond_init(condition, &attr);
    pthread_condattr_destroy(&attr);
    return result;
}

int CondTimedWaitRelative(pthread_cond_t* condition, pthread_mutex_t* mutex, int ms)
{
    struct timespec deadline = MonotonicDeadline(ms);
    return pthread_cond_timedwait(condition, mutex, &deadline);
}

int CondTimedWaitUntil(pthread_cond_t* condition, pthread_mutex_t* mutex, const struct timespec& deadline)
{
    return pthread_cond_timedwait(condition, mutex, &deadline);
}

}  // namespace bkit::platform
