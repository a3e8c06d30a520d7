// VSystem.cpp - time, OS version, processes, notices and the machine of the system facade.
#include "basekit/runtime/VSystem.h"

#include <cxxabi.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/ProcessTable.h"
#include "basekit/platform/SystemInfo.h"
#include "basekit/runtime/mac/XBSDSystem.h"
#include "basekit/runtime/mac/XMacSystem.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

std::atomic<int16_t> sCenturyPivotYear{0};

// Microseconds per unit of the profiling counter, fixed at start-up.
const double sProfilingFactor = 1000000.0 / static_cast<double>(XMacSystem::GetProfilingFrequency());

// Caches filled on first use without a lock: a race computes the same value twice.
int32_t CachedCount(std::atomic<int32_t>& cache, int32_t (*query)())
{
    int32_t count = cache.load(std::memory_order_relaxed);
    if (count == 0) {
        count = query();
        if (count < 2) count = 1;
        cache.store(count, std::memory_order_relaxed);
    }
    return count;
}

// Trims outer white space and makes every run of spaces one space.
std::string CompactText(std::string text)
{
    size_t first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    size_t last = text.size();
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    text = text.substr(first, last - first);
    for (size_t found; (found = text.find("  ")) != std::string::npos;) text.erase(found, 1);
    return text;
}

}  // namespace

// --- time ---

uint64_t VSystem::GetCurrentTime()
{
    return XBSDSystem::GetCurrentTime();
}

uint32_t VSystem::GetCurrentTicks()
{
    return XBSDSystem::GetCurrentTicks();
}

uint32_t VSystem::GetCurrentDeltaTicks(uint32_t ticks)
{
    uint32_t now = GetCurrentTicks();
    return now >= ticks ? now - ticks : ticks - now;
}

void VSystem::Delay(int32_t milliseconds)
{
    XBSDSystem::Delay(milliseconds);
}

int64_t VSystem::GetUptime()
{
    return XMacSystem::GetUptime();
}

int64_t VSystem::GetProfilingCounter(int64_t& counter)
{
    counter = static_cast<int64_t>(platform::AbsoluteTime());
    return counter;
}

int64_t VSystem::GetProfilingFrequency()
{
    return XMacSystem::GetProfilingFrequency();
}

uint64_t VSystem::GetMicrosecFromProfilingCounter()
{
    return static_cast<uint64_t>(static_cast<double>(platform::AbsoluteTime()) * sProfilingFactor);
}

uint32_t VSystem::GetDoubleClicTicks()
{
    // The threshold of this system is half a second; there is no preference.
    return 30;
}

void VSystem::SetCenturyPivotYear(int16_t year)
{
    sCenturyPivotYear.store(year, std::memory_order_relaxed);
}

int16_t VSystem::GetCenturyPivotYear()
{
    return sCenturyPivotYear.load(std::memory_order_relaxed);
}

// --- OS version ---

bool VSystem::IsSystemVersionOrAbove(SystemVersion version)
{
    return XMacSystem::IsSystemVersionOrAbove(version);
}

int32_t VSystem::MAC_GetSystemVersionDecimal()
{
    platform::OSRelease release = platform::GetOSRelease();
    return release.major * 10000 + release.minor * 100 + release.patch;
}

void VSystem::GetOSVersionString(VString& out)
{
    static std::string* sVersion = nullptr;
    static std::once_flag sOnce;
    std::call_once(sOnce, [] { sVersion = new std::string(platform::GetOSVersionText()); });
    out.FromCString(sVersion->c_str());
}

void VSystem::GetFullOSName(VString& out)
{
    XMacSystem::GetFullOSName(out);
}

void VSystem::GetSystemBuildNumber(VString& out)
{
    XMacSystem::GetSystemBuildNumber(out);
}

// --- processes ---

void VSystem::GetProcessList(std::vector<int>& ids)
{
    XMacSystem::GetProcessList(ids);
}

bool VSystem::GetProcessName(int pid, VString& name)
{
    return XMacSystem::GetProcessName(pid, name);
}

bool VSystem::GetProcessPath(int pid, VString& path)
{
    return XMacSystem::GetProcessPath(pid, path);
}

bool VSystem::KillProcess(int pid)
{
    return XMacSystem::KillProcess(pid);
}

bool VSystem::WaitForProcess(int pid, int timeout, EWFP_Reason* reason)
{
    // waitid by id never reaches a group, but 0 and below are no child's id.
    if (pid <= 0) {
        if (reason) *reason = WFP_NO_SUCH_CHILD;
        return false;
    }
    siginfo_t info {};
    int options = WEXITED | (timeout < 0 ? 0 : WNOHANG);
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid), &info, options);
    } while (result != 0 && errno == EINTR);
    if (result == 0 && info.si_pid == pid) return true;
    if (reason) {
        if (result != 0 && errno == ECHILD)
            *reason = WFP_NO_SUCH_CHILD;
        else if (result == 0)
            *reason = WFP_STILL_RUNNING;
    }
    return false;
}

// --- notices ---

bool VSystem::DisplayNotification(const VString& title, const VString& message, uint32_t flags,
                                  ENotificationResponse* response)
{
    return XMacSystem::DisplayNotification(title, message, flags, response);
}

void VSystem::CancelAllPendingUserNotifications()
{
    XMacSystem::CancelAllPendingUserNotifications();
}

// --- machine ---

int32_t VSystem::GetNumberOfLogicalProcessors()
{
    static std::atomic<int32_t> sCount{0};
    return CachedCount(sCount, platform::GetConfiguredProcessorCount);
}

int32_t VSystem::GetNumberOfPhysicalProcessors()
{
    static std::atomic<int32_t> sCount{0};
    return CachedCount(sCount, platform::GetPhysicalCoreCount);
}

int32_t VSystem::GetEnabledCoresNumber()
{
    return XMacSystem::GetEnabledCoresNumber();
}

void VSystem::GetProcessorTypeString(VString& out, bool compact)
{
    static std::string* sType = nullptr;
    static std::once_flag sOnce;
    std::call_once(sOnce, [compact] {
        std::string brand = platform::GetProcessorBrand();
        if (compact && brand.size() >= 2) brand = CompactText(brand);
        sType = new std::string(brand.empty() ? "-" : brand);
    });
    out.FromCString(sType->c_str());
}

bool VSystem::GetProcessorsPercentageUse(double& use)
{
    return XMacSystem::GetProcessorsPercentageUse(use);
}

double VSystem::GetApplicationProcessorsPercentageUse()
{
    return XMacSystem::GetApplicationProcessorsPercentageUse();
}

uint64_t VSystem::GetPhysicalMemSize()
{
    uint64_t total = 0, available = 0;
    return platform::GetMachineMemory(total, available) ? total : 0;
}

uint64_t VSystem::GetPhysicalFreeMemSize()
{
    uint64_t total = 0, available = 0;
    return platform::GetMachineMemory(total, available) ? available : 0;
}

uint64_t VSystem::GetApplicationPhysicalMemSize()
{
    return XMacSystem::GetApplicationPhysicalMemSize();
}

uint64_t VSystem::VirtualMemoryUsedSize()
{
    uint64_t resident = 0, virtualSize = 0;
    return platform::GetOwnMemorySizes(resident, virtualSize) ? virtualSize : 0;
}

void VSystem::GetComputerManufacturer(VString& out)
{
    XMacSystem::GetComputerManufacturer(out);
}

void VSystem::GetHostName(VString& out)
{
    XMacSystem::GetHostName(out);
}

void VSystem::GetLoginUserName(VString& out)
{
    XMacSystem::GetLoginUserName(out);
}

void VSystem::GetCurrentUserName(VString& out)
{
    XMacSystem::GetCurrentUserName(out);
}

bool VSystem::AllowedToGetSystemInfo()
{
    return true;
}

// --- network and volumes ---

bool VSystem::GetInOutNetworkStats(std::vector<double>& values)
{
    values.clear();
    return XMacSystem::GetInOutNetworkStats(values);
}

void VSystem::GetNetworkAdaptersInformations(VJSONArray& out)
{
    XMacSystem::GetNetworkAdaptersInformations(out);
}

void VSystem::GetDiskPartitionsInfos(VJSONArray& out)
{
    XMacSystem::GetDiskPartitionsInfos(out);
}

// --- other ---

void VSystem::Beep()
{
    if (::isatty(STDERR_FILENO)) {
        ssize_t ignored = ::write(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
}

int32_t VSystem::Random(bool fromRandom)
{
    return XMacSystem::Random(fromRandom);
}

bool VSystem::Init()
{
    Random(false);
    return true;
}

void VSystem::DemangleSymbol(const char* symbol, VString& out)
{
    if (!symbol) {
        out.Clear();
        return;
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
    out.FromCString(status == 0 && demangled ? demangled : symbol);
    std::free(demangled);
}

bool VSystem::SearchExecutablePath(const VString& name, VFilePath& outPath)
{
    return XMacSystem::SearchExecutablePath(name, outPath);
}

}  // namespace bkit
