// VSystemTest.cpp - OS version checks, the process table, child waits, machine reports and symbols.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/platform/SystemInfo.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/mac/XMacStackCrawl.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

// Pretends the system is an older release for a scope.
class StPretendRelease {
public:
    StPretendRelease(int32_t major, int32_t minor, int32_t patch)
    {
        platform::OSRelease release{major, minor, patch};
        platform::SetReleaseForTesting(&release);
    }
    ~StPretendRelease() { platform::SetReleaseForTesting(nullptr); }
};

TEST(VSystemVersion, ChecksAgainstTheKnownReleases)
{
    // Values outside the table are satisfied without asking.
    {
        StPretendRelease old(10, 5, 0);
        EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(10));
        EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(23));
        EXPECT_FALSE(VSystem::IsSystemVersionOrAbove(11));
    }
    // This system counts as the newest release.
    for (SystemVersion v = 11; v <= 22; ++v) EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(v)) << v;
    EXPECT_EQ(VSystem::MAC_GetSystemVersionDecimal(), 150000);

    StPretendRelease elCapitan(10, 11, 6);
    const std::pair<SystemVersion, bool> cases[] = {{11, true}, {13, true}, {14, false}, {18, false}, {22, false}};
    for (auto [version, expected] : cases) EXPECT_EQ(VSystem::IsSystemVersionOrAbove(version), expected) << version;
    EXPECT_EQ(VSystem::MAC_GetSystemVersionDecimal(), 101106);

    VString text;
    VSystem::GetOSVersionString(text);
    EXPECT_FALSE(text.IsEmpty());
    VSystem::GetSystemBuildNumber(text);
    EXPECT_LE(text.GetLength(), 15);
}

std::string Utf8(const VString& text)
{
    return to_string(text);
}

std::string OwnExecutable()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer));
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

TEST(VSystemProcesses, ListAppendsAndNamesAndPathsComeFromProc)
{
    std::vector<int> ids = {-7};
    VSystem::GetProcessList(ids);
    ASSERT_GT(ids.size(), 2u);
    EXPECT_EQ(ids.front(), -7) << "the list is appended to, not replaced";
    EXPECT_NE(std::find(ids.begin(), ids.end(), getpid()), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), 1), ids.end());

    VString name("unchanged");
    EXPECT_TRUE(VSystem::GetProcessName(getpid(), name));
    std::string exe = OwnExecutable();
    EXPECT_EQ(Utf8(name), exe.substr(exe.rfind('/') + 1).substr(0, 16));

    VString path("unchanged");
    EXPECT_TRUE(VSystem::GetProcessPath(getpid(), path));
    EXPECT_EQ(Utf8(path), exe);

    // An id nobody has: the table is read (true) but the name stays; no path is read (false).
    int unused = INT_MAX - 3;
    name = VString("unchanged");
    path = VString("unchanged");
    EXPECT_TRUE(VSystem::GetProcessName(unused, name));
    EXPECT_EQ(Utf8(name), "unchanged");
    EXPECT_FALSE(VSystem::GetProcessPath(unused, path));
    EXPECT_EQ(Utf8(path), "unchanged");
    EXPECT_FALSE(VSystem::GetProcessPath(0, path));
}

// A child that sleeps until it is killed, ended and reaped by the test.
pid_t StartSleepingChild()
{
    pid_t pid = fork();
    if (pid == 0) {
        for (;;) pause();
    }
    return pid;
}

TEST(VSystemProcesses, KillRefusesGroupIdsAndKillsAChild)
{
    // Never sent: 0 is our own group, -1 every process we may signal, -pgid a group.
    for (int id : {0, -1, -static_cast<int>(getpgrp()), INT_MIN}) EXPECT_FALSE(VSystem::KillProcess(id)) << id;
    EXPECT_FALSE(VSystem::KillProcess(INT_MAX - 3)) << "no such process";

    pid_t child = StartSleepingChild();
    ASSERT_GT(child, 0);
    VSystem::EWFP_Reason reason = static_cast<VSystem::EWFP_Reason>(0);
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
    EXPECT_EQ(reason, VSystem::WFP_STILL_RUNNING);
    EXPECT_TRUE(VSystem::KillProcess(child));
    EXPECT_TRUE(VSystem::WaitForProcess(child, -1, nullptr));

    reason = static_cast<VSystem::EWFP_Reason>(0);
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason)) << "already reaped";
    EXPECT_EQ(reason, VSystem::WFP_NO_SUCH_CHILD);
    reason = static_cast<VSystem::EWFP_Reason>(0);
    EXPECT_FALSE(VSystem::WaitForProcess(1, -1, &reason));
    EXPECT_EQ(reason, VSystem::WFP_NO_SUCH_CHILD);
}

TEST(VSystemMachine, ReportsHaveSaneValues)
{
    EXPECT_GE(VSystem::GetNumberOfLogicalProcessors(), 1);
    EXPECT_GE(VSystem::GetNumberOfPhysicalProcessors(), 1);
    EXPECT_LE(VSystem::GetNumberOfPhysicalProcessors(), VSystem::GetNumberOfLogicalProcessors());
    EXPECT_GE(VSystem::GetEnabledCoresNumber(), 1);

    double use = -1;
    EXPECT_FALSE(VSystem::GetProcessorsPercentageUse(use)) << "the first call only samples";
    EXPECT_EQ(use, 0.0);
    VSystem::Delay(20);
    EXPECT_TRUE(VSystem::GetProcessorsPercentageUse(use));
    EXPECT_GE(use, 0.0);
    EXPECT_LE(use, 1.0);

    double own = VSystem::GetApplicationProcessorsPercentageUse();
    EXPECT_GE(own, 0.0);
    EXPECT_LE(own, 1.0);

    EXPECT_GT(VSystem::GetPhysicalMemSize(), VSystem::GetPhysicalFreeMemSize());
    EXPECT_GT(VSystem::GetApplicationPhysicalMemSize(), 0u);
    EXPECT_GT(VSystem::VirtualMemoryUsedSize(), VSystem::GetApplicationPhysicalMemSize());

    VString text;
    VSystem::GetProcessorTypeString(text, true);
    EXPECT_FALSE(text.IsEmpty());
    EXPECT_EQ(Utf8(text).find("  "), std::string::npos);
    VSystem::GetHostName(text);
    EXPECT_FALSE(text.IsEmpty());
    VSystem::GetCurrentUserName(text);
    EXPECT_FALSE(text.IsEmpty());

    std::vector<double> rates = {42};
    VSystem::GetInOutNetworkStats(rates);
    if (VSystem::GetInOutNetworkStats(rates)) {
        ASSERT_EQ(rates.size(), 2u) << "cleared, then received and sent";
        EXPECT_GE(rates[0], 0);
        EXPECT_GE(rates[1], 0);
    }

    VRefPtr<VJSONArray> partitions = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    VSystem::GetDiskPartitionsInfos(*partitions);
    ASSERT_GT(partitions->GetCount(), 0u) << "the root file system at least";
    bool rootFound = false;
    for (size_t i = 0; i < partitions->GetCount(); ++i) {
        VJSONObject* partition = partitions->GetAt(i).GetObject();
        ASSERT_NE(partition, nullptr);
        for (const char* key : {"mountPoint", "capacity", "available", "filesystem", "name"})
            EXPECT_TRUE(partition->HasOwnProperty(VString(key))) << key;
        EXPECT_TRUE(partition->GetProperty(VString("disk")).IsObject());
        VString mountPoint;
        partition->GetProperty(VString("mountPoint")).GetString(mountPoint);
        rootFound |= to_string(mountPoint) == "/";
    }
    EXPECT_TRUE(rootFound);

    VRefPtr<VJSONArray> adapters = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    VSystem::GetNetworkAdaptersInformations(*adapters);
    for (size_t i = 0; i < adapters->GetCount(); ++i) {
        VJSONObject* adapter = adapters->GetAt(i).GetObject();
        ASSERT_NE(adapter, nullptr);
        VString name;
        adapter->GetProperty(VString("name")).GetString(name);
        EXPECT_NE(to_string(name), "lo") << "no loopback";
        VJSONArray* addresses = adapter->GetProperty(VString("ipAddresses")).GetArray();
        ASSERT_NE(addresses, nullptr);
        EXPECT_GT(addresses->GetCount(), 0u);
    }
}

TEST(VSystemMemory, QueryFindsTheRegionOfAStackAddress)
{
    int local = 0;
    size_t size = 0;
    uint32_t state = 9;
    const void* base = nullptr;
    ASSERT_TRUE(VSystem::VirtualQuery(&local, &size, &state, &base));
    EXPECT_EQ(state, 0u);
    EXPECT_LE(base, static_cast<const void*>(&local));
    EXPECT_GT(static_cast<const char*>(base) + size, reinterpret_cast<const char*>(&local));
    EXPECT_EQ(VSystem::RoundUpVMPageSize(1), VSystem::GetVMPageSize());
}

TEST(VSystemSymbols, DemangleAndStackCrawl)
{
    VString text;
    VSystem::DemangleSymbol("_ZN4bkit7VSystem4BeepEv", text);
    EXPECT_EQ(Utf8(text), "bkit::VSystem::Beep()");
    VSystem::DemangleSymbol("main", text);
    EXPECT_EQ(Utf8(text), "main");

    XMacStackCrawl crawl;
    crawl.LoadFrames(0, 3);
    EXPECT_EQ(crawl.GetCount(), 3);
    VString dump;
    crawl.Dump(dump);
    std::string lines = Utf8(dump);
    EXPECT_EQ(lines.rfind("   {2} 0x", 0), 0u) << lines;
    EXPECT_NE(lines.find("   {0} 0x"), std::string::npos) << lines;
    EXPECT_NE(lines.find("LoadFrames"), std::string::npos) << "the innermost frame is named: " << lines;

    XMacStackCrawl deep;
    deep.LoadFrames(1000, 8);
    EXPECT_EQ(deep.GetCount(), 0) << "skipping more frames than there are keeps none";
    EXPECT_TRUE(deep < crawl);
}

}  // namespace
}  // namespace bkit
