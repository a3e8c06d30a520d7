// XMacSystem.cpp - OS version, processes, notices and the machine over the platform layer.
#include "basekit/runtime/mac/XMacSystem.h"

#include <signal.h>
#include <stdlib.h>

#include <mutex>
#include <string>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/ProcessTable.h"
#include "basekit/platform/SystemInfo.h"
#include "basekit/platform/SystemNotice.h"
#include "basekit/platform/ThreadInfo.h"
#include "basekit/runtime/mac/XBSDSystem.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

VString FromUTF8(const std::string& text)
{
    VString out;
    out.FromCString(text.c_str());
    return out;
}

// The (major, minor) of the releases the checks know, from 11 on.
struct KnownRelease {
    int32_t major;
    int32_t minor;
};
constexpr KnownRelease kKnownReleases[] = {{10, 9}, {10, 10}, {10, 11}, {10, 12}, {10, 13}, {10, 14},
                                           {10, 15}, {11, 0}, {12, 0},  {13, 0},  {14, 0},  {15, 0}};
constexpr SystemVersion kFirstKnownRelease = 11;

// The buttons of a notice, default first, by the low four bits of its flags.
void NoticeButtons(uint32_t flags, platform::Notice& notice)
{
    using B = platform::NoticeButton;
    const B ok{"OK", eNotificationResponseOK}, cancel{"Cancel", eNotificationResponseCancel};
    const B yes{"Yes", eNotificationResponseYes}, no{"No", eNotificationResponseNo};
    bool defaultFirst = (flags & kNotificationDefaultFirst) != 0;
    switch (flags & 0xF) {
    case kNotificationOKCancel:
        notice.buttons = defaultFirst ? std::vector<B>{ok, cancel} : std::vector<B>{cancel, ok};
        break;
    case kNotificationYesNo:
        notice.buttons = defaultFirst ? std::vector<B>{yes, no} : std::vector<B>{no, yes};
        break;
    case kNotificationYesNoCancel:
        if ((flags & 0x30) == kNotificationDefaultSecond)
            notice.buttons = {no, yes, cancel};
        else if ((flags & 0x30) == kNotificationDefaultFirst)
            notice.buttons = {yes, no, cancel};
        else
            notice.buttons = {cancel, no, yes};
        break;
    case kNotificationRetryIgnoreAbort:
        notice.buttons = {{"Retry", eNotificationResponseRetry},
                          {"Ignore", eNotificationResponseIgnore},
                          {"Abort", eNotificationResponseAbort}};
        break;
    default:
        notice.buttons.clear();
        notice.defaultResponse = eNotificationResponseOK;
        break;
    }
}

// Notices shown without waiting, until answered or withdrawn.
std::mutex sPendingNoticesMutex;
std::vector<platform::PendingNotice>* sPendingNotices = nullptr;

// The previous processor sample of GetProcessorsPercentageUse.
std::mutex sProcessorSampleMutex;
std::vector<platform::ProcessorTicks>* sPreviousProcessorTicks = nullptr;

}  // namespace

int64_t XMacSystem::GetUptime()
{
    return platform::GetSecondsSinceBoot();
}

int64_t XMacSystem::GetProfilingFrequency()
{
    uint32_t numerator = 1, denominator = 1;
    platform::GetTimebase(numerator, denominator);
    return static_cast<int64_t>(static_cast<double>(denominator) * 1e9 / numerator);
}

// --- OS version ---

bool XMacSystem::IsSystemVersionOrAbove(SystemVersion version)
{
    size_t index = static_cast<size_t>(version - kFirstKnownRelease);
    if (version < kFirstKnownRelease || index >= std::size(kKnownReleases)) return true;
    const KnownRelease& wanted = kKnownReleases[index];
    platform::OSRelease release = platform::GetOSRelease();
    return release.major > wanted.major || (release.major == wanted.major && release.minor >= wanted.minor);
}

void XMacSystem::GetFullOSName(VString& out)
{
    std::string build = platform::GetSystemBuild(15);
    out = FromUTF8(platform::GetOSVersionText() + (build.empty() ? "" : " (" + build + ")"));
}

void XMacSystem::GetSystemBuildNumber(VString& out)
{
    out = FromUTF8(platform::GetSystemBuild(15));
}

// --- processes ---

void XMacSystem::GetProcessList(std::vector<int>& ids)
{
    std::vector<int32_t> found;
    if (platform::ListProcessIDs(found)) ids.insert(ids.end(), found.begin(), found.end());
}

bool XMacSystem::GetProcessName(int pid, VString& name)
{
    std::vector<int32_t> ids;
    if (!platform::ListProcessIDs(ids)) return false;
    std::string shortName;
    if (platform::GetProcessShortName(pid, shortName)) name = FromUTF8(shortName);
    return true;
}

bool XMacSystem::GetProcessPath(int pid, VString& path)
{
    std::string found;
    if (!platform::GetProcessExecutablePath(pid, found)) return false;
    path = FromUTF8(found);
    return true;
}

bool XMacSystem::KillProcess(int pid)
{
    // 0 and negative ids name process groups (-1: every process we may signal).
    if (pid <= 0) return false;
    return ::kill(pid, SIGKILL) == 0;
}

// --- notices ---

bool XMacSystem::DisplayNotification(const VString& title, const VString& message, uint32_t flags,
                                     ENotificationResponse* response)
{
    platform::Notice notice;
    if (!title.IsNull() && !title.IsEmpty()) {
        notice.header = to_string(title);
        if (!message.IsNull() && !message.IsEmpty()) notice.message = to_string(message);
    } else {
        notice.header = to_string(message);
    }
    NoticeButtons(flags, notice);
    notice.flags = flags;
    notice.caution = (flags & kNotificationCaution) != 0;

    if (response) {
        *response = eNotificationResponseNone;
        int32_t answer = 0;
        if (!platform::ShowNotice(notice, &answer, nullptr)) return false;
        *response = static_cast<ENotificationResponse>(answer);
        return true;
    }
    platform::PendingNotice pending;
    if (!platform::ShowNotice(notice, nullptr, &pending)) return false;
    if (pending.viewer > 0 || !pending.noticeFile.empty()) {
        std::lock_guard<std::mutex> lock(sPendingNoticesMutex);
        if (!sPendingNotices) sPendingNotices = new std::vector<platform::PendingNotice>;
        sPendingNotices->push_back(pending);
    }
    return true;
}

void XMacSystem::CancelAllPendingUserNotifications()
{
    std::lock_guard<std::mutex> lock(sPendingNoticesMutex);
    if (!sPendingNotices) return;
    for (platform::PendingNotice& pending : *sPendingNotices) platform::CancelNotice(pending);
    sPendingNotices->clear();
}

size_t XMacSystem::GetPendingUserNotificationsCount()
{
    std::lock_guard<std::mutex> lock(sPendingNoticesMutex);
    if (!sPendingNotices) return 0;
    std::erase_if(*sPendingNotices, [](platform::PendingNotice& pending) { return !platform::IsNoticePending(pending); });
    return sPendingNotices->size();
}

// --- machine ---

int32_t XMacSystem::GetEnabledCoresNumber()
{
    int32_t count = platform::GetOnlineCoreCount();
    return count < 2 ? 1 : count;
}

bool XMacSystem::GetProcessorsPercentageUse(double& use)
{
    use = 0;
    std::vector<platform::ProcessorTicks> ticks;
    if (!platform::GetProcessorTicks(ticks)) return false;
    std::lock_guard<std::mutex> lock(sProcessorSampleMutex);
    if (!sPreviousProcessorTicks) {
        sPreviousProcessorTicks = new std::vector<platform::ProcessorTicks>(std::move(ticks));
        return false;
    }
    double busy = 0, idle = 0;
    const std::vector<platform::ProcessorTicks>& previous = *sPreviousProcessorTicks;
    for (size_t i = 0; i < ticks.size() && i < previous.size(); ++i) {
        // Unsigned differences: a counter that wrapped still gives its advance.
        busy += static_cast<double>(ticks[i].user - previous[i].user) +
                static_cast<double>(ticks[i].system - previous[i].system) +
                static_cast<double>(ticks[i].nice - previous[i].nice);
        idle += static_cast<double>(ticks[i].idle - previous[i].idle);
    }
    double total = busy + idle;
    if (total == 0) total = 1;
    use = (total - idle) / total / VSystem::GetNumberOfLogicalProcessors();
    *sPreviousProcessorTicks = std::move(ticks);
    return true;
}

double XMacSystem::GetApplicationProcessorsPercentageUse()
{
    std::vector<int32_t> threads;
    if (!platform::ListOwnThreadIDs(threads)) return -1.0;
    double sum = 0;
    for (int32_t tid : threads) {
        // A thread that ended since the list was read no longer uses anything.
        double usage = 0;
        if (platform::GetThreadCPUUsage(tid, usage)) sum += usage;
    }
    return sum / VSystem::GetNumberOfLogicalProcessors();
}

uint64_t XMacSystem::GetApplicationPhysicalMemSize()
{
    uint64_t resident = 0, virtualSize = 0;
    return platform::GetOwnMemorySizes(resident, virtualSize) ? resident : 0;
}

void XMacSystem::GetComputerManufacturer(VString& out)
{
    out = FromUTF8(platform::GetMachineModel(24));
}

void XMacSystem::GetHostName(VString& out)
{
    out = FromUTF8(platform::GetComputerName());
}

void XMacSystem::GetLoginUserName(VString& out)
{
    out = FromUTF8(platform::GetUserFullName());
}

void XMacSystem::GetCurrentUserName(VString& out)
{
    std::string name = platform::GetUserLoginName();
    if (!name.empty()) out = FromUTF8(name);
}

// --- other ---

int32_t XMacSystem::Random(bool fromRandom)
{
    if (fromRandom) return static_cast<int32_t>(::random());
    return static_cast<int32_t>(::arc4random() & 0x7FFFFFFF);
}

bool XMacSystem::SearchExecutablePath(const VString& name, VFilePath& outPath)
{
    // There are no application bundles to look up by name here.
    return XBSDSystem::SearchExecutablePath(name, outPath);
}

}  // namespace bkit
