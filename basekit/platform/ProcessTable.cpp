// ProcessTable.cpp - processes, processor ticks and memory sizes from /proc.
#include "basekit/platform/ProcessTable.h"

#include <dirent.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bkit::platform {

namespace {

constexpr size_t kMaxShortNameLength = 16;

// The numeric entries of a /proc folder.
bool ListNumericEntries(const char* folder, std::vector<int32_t>& ids)
{
    DIR* dir = ::opendir(folder);
    if (!dir) return false;
    std::vector<int32_t> found;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (!std::isdigit(static_cast<unsigned char>(*name))) continue;
        char* end = nullptr;
        long id = std::strtol(name, &end, 10);
        if (*end == 0 && id > 0 && id <= INT32_MAX) found.push_back(static_cast<int32_t>(id));
    }
    ::closedir(dir);
    ids.insert(ids.end(), found.begin(), found.end());
    return true;
}

// Whether pid has exited: its /proc entry is gone, or the kernel keeps it
// only for its parent to collect (state 'Z', or 'X' while it is torn down).
bool HasExited(int32_t pid)
{
    char statPath[64];
    snprintf(statPath, sizeof(statPath), "/proc/%d/stat", pid);
    FILE* file = std::fopen(statPath, "re");
    if (!file) return true;
    // "pid (comm) state ...": comm may hold blanks and parentheses, so the
    // state follows the last ')'.
    char buffer[512];
    size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, file);
    std::fclose(file);
    buffer[length] = 0;
    const char* close = std::strrchr(buffer, ')');
    if (!close || close[1] != ' ') return false;
    char state = close[2];
    return state == 'Z' || state == 'X' || state == 'x';
}

}  // namespace

bool ListProcessIDs(std::vector<int32_t>& ids)
{
    std::vector<int32_t> found;
    if (!ListNumericEntries("/proc", found)) return false;
    for (int32_t pid : found) {
        if (!HasExited(pid)) ids.push_back(pid);
    }
    return true;
}

bool GetProcessShortName(int32_t pid, std::string& name)
{
    if (pid <= 0) return false;
    // The kernel's comm is the main thread's name, which programs rename (the
    // task manager does); the executable's name is what the command name means.
    std::string path;
    if (GetProcessExecutablePath(pid, path)) {
        name = path.substr(path.rfind('/') + 1).substr(0, kMaxShortNameLength);
        return true;
    }
    char commPath[64];
    snprintf(commPath, sizeof(commPath), "/proc/%d/comm", pid);
    FILE* file = std::fopen(commPath, "re");
    if (!file) return false;
    char buffer[64];
    bool ok = std::fgets(buffer, sizeof(buffer), file) != nullptr;
    std::fclose(file);
    if (!ok) return false;
    size_t length = std::strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n') --length;
    name.assign(buffer, length);
    return true;
}

bool GetProcessExecutablePath(int32_t pid, std::string& path)
{
    if (pid <= 0) return false;
    char link[64];
    snprintf(link, sizeof(link), "/proc/%d/exe", pid);
    char buffer[PATH_MAX];
    ssize_t length = ::readlink(link, buffer, sizeof(buffer));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return false;
    path.assign(buffer, static_cast<size_t>(length));
    // A replaced executable still answers, marked by the kernel.
    static const char kDeleted[] = " (deleted)";
    if (path.size() > sizeof(kDeleted) - 1 && path.compare(path.size() - (sizeof(kDeleted) - 1), std::string::npos, kDeleted) == 0)
        path.resize(path.size() - (sizeof(kDeleted) - 1));
    return true;
}

bool GetProcessorTicks(std::vector<ProcessorTicks>& ticks)
{
    FILE* file = std::fopen("/proc/stat", "re");
    if (!file) return false;
    ticks.clear();
    char line[512];
    while (std::fgets(line, sizeof(line), file)) {
        // "cpuN user nice system idle ..." ; the summary line "cpu " is skipped.
        if (std::strncmp(line, "cpu", 3) != 0 || !std::isdigit(static_cast<unsigned char>(line[3]))) continue;
        unsigned long long user = 0, nice = 0, system = 0, idle = 0;
        if (std::sscanf(line, "%*s %llu %llu %llu %llu", &user, &nice, &system, &idle) != 4) continue;
        ticks.push_back({user, system, idle, nice});
    }
    std::fclose(file);
    return !ticks.empty();
}

bool ListOwnThreadIDs(std::vector<int32_t>& tids)
{
    return ListNumericEntries("/proc/self/task", tids);
}

bool GetOwnMemorySizes(uint64_t& resident, uint64_t& virtualSize)
{
    FILE* file = std::fopen("/proc/self/statm", "re");
    if (!file) return false;
    unsigned long long pagesVirtual = 0, pagesResident = 0;
    int read = std::fscanf(file, "%llu %llu", &pagesVirtual, &pagesResident);
    std::fclose(file);
    if (read != 2) return false;
    uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    resident = pagesResident * page;
    virtualSize = pagesVirtual * page;
    return true;
}

bool IsBeingTraced()
{
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status) return false;
    char line[256];
    long tracer = 0;
    while (std::fgets(line, sizeof(line), status)) {
        if (std::sscanf(line, "TracerPid: %ld", &tracer) == 1) break;
    }
    std::fclose(status);
    return tracer != 0;
}

bool GetMachineMemory(uint64_t& total, uint64_t& available)
{
    struct sysinfo info;
    if (::sysinfo(&info) != 0) return false;
    total = static_cast<uint64_t>(info.totalram) * info.mem_unit;
    available = static_cast<uint64_t>(info.freeram) * info.mem_unit;
    return true;
}

}  // namespace bkit::platform
