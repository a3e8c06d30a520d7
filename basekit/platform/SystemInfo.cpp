// SystemInfo.cpp - version texts, processors, machine and user from the Linux system.
#include "basekit/platform/SystemInfo.h"

#include <pwd.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

namespace bkit::platform {

namespace {

std::atomic<bool> sPretending{false};
OSRelease sPretended;

// The value of a KEY=value line of an os-release file, without its quotes.
std::string OSReleaseValue(const char* key)
{
    FILE* file = std::fopen("/etc/os-release", "re");
    if (!file) file = std::fopen("/usr/lib/os-release", "re");
    if (!file) return std::string();
    std::string value;
    char line[512];
    size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof(line), file)) {
        if (std::strncmp(line, key, keyLength) != 0 || line[keyLength] != '=') continue;
        value = line + keyLength + 1;
        while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        break;
    }
    std::fclose(file);
    return value;
}

std::string ReadFirstLine(const char* path)
{
    FILE* file = std::fopen(path, "re");
    if (!file) return std::string();
    char line[512];
    std::string text;
    if (std::fgets(line, sizeof(line), file)) text = line;
    std::fclose(file);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string Cut(std::string text, size_t maxLength)
{
    if (text.size() > maxLength) text.resize(maxLength);
    return text;
}

const struct passwd* OwnPasswordEntry(struct passwd& entry, char* buffer, size_t size)
{
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer, size, &found) != 0) return nullptr;
    return found;
}

}  // namespace

OSRelease GetOSRelease()
{
    return sPretending.load(std::memory_order_acquire) ? sPretended : OSRelease();
}

void SetReleaseForTesting(const OSRelease* release)
{
    if (release) {
        sPretended = *release;
        sPretending.store(true, std::memory_order_release);
    } else {
        sPretending.store(false, std::memory_order_release);
    }
}

std::string GetOSVersionText()
{
    struct utsname names;
    bool haveKernel = ::uname(&names) == 0;
    std::string text = OSReleaseValue("PRETTY_NAME");
    if (text.empty()) text = haveKernel ? names.sysname : "Linux";
    if (haveKernel) text += std::string(" (") + names.sysname + " " + names.release + ")";
    return text;
}

std::string GetSystemBuild(size_t maxLength)
{
    struct utsname names;
    if (::uname(&names) != 0) return std::string();
    return Cut(names.version, maxLength);
}

std::string GetProcessorBrand()
{
    FILE* file = std::fopen("/proc/cpuinfo", "re");
    if (!file) return std::string();
    std::string brand;
    char line[1024];
    while (std::fgets(line, sizeof(line), file)) {
        if (std::strncmp(line, "model name", 10) != 0) continue;
        const char* colon = std::strchr(line, ':');
        if (!colon) continue;
        brand = colon + 1;
        while (!brand.empty() && (brand.back() == '\n' || brand.back() == '\r')) brand.pop_back();
        break;
    }
    std::fclose(file);
    return brand;
}

int32_t GetConfiguredProcessorCount()
{
    long count = ::sysconf(_SC_NPROCESSORS_CONF);
    return count > 0 ? static_cast<int32_t>(count) : 0;
}

int32_t GetPhysicalCoreCount()
{
    std::set<std::pair<std::string, std::string>> cores;
    for (int32_t cpu = 0;; ++cpu) {
        char path[128];
        snprintf(path, sizeof(path), "/sys/devices/system/cpu/cpu%d/topology/core_id", cpu);
        std::string core = ReadFirstLine(path);
        if (core.empty()) break;
        snprintf(path, sizeof(path), "/sys/devices/system/cpu/cpu%d/topology/physical_package_id", cpu);
        cores.insert({ReadFirstLine(path), core});
    }
    return static_cast<int32_t>(cores.size());
}

int32_t GetOnlineCoreCount()
{
    long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<int32_t>(count) : 0;
}

std::string GetMachineModel(size_t maxLength)
{
    return Cut(ReadFirstLine("/sys/class/dmi/id/product_name"), maxLength);
}

int64_t GetSecondsSinceBoot()
{
    struct sysinfo info;
    if (::sysinfo(&info) != 0) return -1;
    return static_cast<int64_t>(info.uptime);
}

std::string GetComputerName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0) return std::string();
    return name;
}

std::string GetUserLoginName()
{
    struct passwd entry;
    char buffer[4096];
    const struct passwd* found = OwnPasswordEntry(entry, buffer, sizeof(buffer));
    return found && found->pw_name ? found->pw_name : std::string();
}

std::string GetUserFullName()
{
    struct passwd entry;
    char buffer[4096];
    const struct passwd* found = OwnPasswordEntry(entry, buffer, sizeof(buffer));
    if (!found) return std::string();
    std::string full = found->pw_gecos ? found->pw_gecos : "";
    full = full.substr(0, full.find(','));
    return full.empty() && found->pw_name ? std::string(found->pw_name) : full;
}

}  // namespace bkit::platform
