// XMacSystem.h - the platform half of the system facade's reports and notices.
//
// This file defines XMacSystem, the static operations VSystem forwards to for
// the OS version, the process table, notices, the machine, processor use and
// the network and volume reports. They stand on basekit/platform/
// (SystemInfo, ProcessTable, SystemNotice, NetworkInfo, MountTable). Each
// behaves as the VSystem operation of the same name says. Thread-safe: the
// pending-notice list and the processor sample have their own locks.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/runtime/VSystem.h"

namespace bkit {

class XMacSystem {
public:
    static int64_t GetUptime();
    static int64_t GetProfilingFrequency();

    static bool IsSystemVersionOrAbove(SystemVersion version);
    static void GetFullOSName(VString& out);
    static void GetSystemBuildNumber(VString& out);

    static void GetProcessList(std::vector<int>& ids);
    static bool GetProcessName(int pid, VString& name);
    static bool GetProcessPath(int pid, VString& path);
    static bool KillProcess(int pid);

    static bool DisplayNotification(const VString& title, const VString& message, uint32_t flags,
                                    ENotificationResponse* response);
    static void CancelAllPendingUserNotifications();
    // Notices shown without waiting that are still up (those answered meanwhile
    // are dropped from the list first).
    static size_t GetPendingUserNotificationsCount();

    static int32_t GetEnabledCoresNumber();
    static bool GetProcessorsPercentageUse(double& use);
    static double GetApplicationProcessorsPercentageUse();
    static uint64_t GetApplicationPhysicalMemSize();
    static void GetComputerManufacturer(VString& out);
    static void GetHostName(VString& out);
    static void GetLoginUserName(VString& out);
    static void GetCurrentUserName(VString& out);
    static bool IsUnderRosettaTranslation() { return false; }

    static bool GetInOutNetworkStats(std::vector<double>& values);
    static void GetNetworkAdaptersInformations(VJSONArray& out);
    static void GetDiskPartitionsInfos(VJSONArray& out);

    static int32_t Random(bool fromRandom);
    static bool SearchExecutablePath(const VString& name, VFilePath& outPath);
};

}  // namespace bkit
