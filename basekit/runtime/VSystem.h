// VSystem.h - static system services: time, dates, OS version, processes, notices, machine.
//
// This file defines VSystem, the toolbox's facade over the operating system. All
// operations are static and may be called from any task; the few caches are
// process-wide and filled without a lock (a race only computes the same value
// twice). Fine time is counted in milliseconds of a monotonic clock, coarse time
// in ticks of 1/60 s of the same clock. No operation raises an error: failures
// show as the documented fallback values. The platform half of the facade is
// XMacSystem and XBSDSystem (runtime/mac/), which stand on basekit/platform/.
#pragma once

#include <cstddef>
#include <vector>

#include "basekit/BKitTypes.h"

namespace bkit {

class VFilePath;
class VJSONArray;
class VString;

// An OS release the version checks know: 11 is 10.9, ... 17 is 10.15, 18 is
// 11.0, ... 22 is 15.0. Any other value is satisfied by every system.
using SystemVersion = int32_t;

// The answer of a notice.
enum ENotificationResponse : int32_t {
    eNotificationResponseNone = 0,
    eNotificationResponseOK = 1,
    eNotificationResponseCancel = 2,
    eNotificationResponseYes = 3,
    eNotificationResponseNo = 4,
    eNotificationResponseAbort = 5,
    eNotificationResponseRetry = 6,
    eNotificationResponseIgnore = 7,
    eNotificationResponseDismissed = 8,
};

// Notice flags: the low four bits choose the buttons, 0x10 and 0x20 the
// default button, 0x200 the caution level.
constexpr uint32_t kNotificationOKCancel = 1;
constexpr uint32_t kNotificationYesNo = 2;
constexpr uint32_t kNotificationYesNoCancel = 4;
constexpr uint32_t kNotificationRetryIgnoreAbort = 5;
constexpr uint32_t kNotificationDefaultFirst = 0x10;
constexpr uint32_t kNotificationDefaultSecond = 0x20;
constexpr uint32_t kNotificationCaution = 0x200;

class VSystem {
public:
    // Why waiting for a child did not end in its exit.
    enum EWFP_Reason : int32_t { WFP_NO_SUCH_CHILD = 1, WFP_STILL_RUNNING = 2 };

    // --- time (runtime/VSystem.cpp) ---

    // Milliseconds of the monotonic clock.
    static uint64_t GetCurrentTime();

    // Sixtieths of a second of the monotonic clock.
    static uint32_t GetCurrentTicks();

    // Absolute difference between the current ticks (taken as 32-bit) and ticks.
    static uint32_t GetCurrentDeltaTicks(uint32_t ticks);

    // Sleeps for the given milliseconds, sleeping again after each interruption.
    static void Delay(int32_t milliseconds);

    // Seconds since the machine booted; -1 when unknown.
    static int64_t GetUptime();

    // The profiling counter (absolute time), stored in counter and returned.
    static int64_t GetProfilingCounter(int64_t& counter);
    // Counter units per second.
    static int64_t GetProfilingFrequency();
    // The current counter in microseconds.
    static uint64_t GetMicrosecFromProfilingCounter();

    // Interface timings: fixed values, and the double-click threshold in ticks
    // (30: half a second, the threshold of this system).
    static int32_t GetDragOffset() { return 2; }
    static uint32_t GetCaretTicks() { return 60; }
    static uint32_t GetTipsTimeoutTicks() { return 600; }
    static uint32_t GetSelectDelayTicks() { return 15; }
    static uint32_t GetDoubleClicTicks();

    static void SetCenturyPivotYear(int16_t year);
    static int16_t GetCenturyPivotYear();

    // --- OS version (runtime/VSystem.cpp) ---

    // Whether the system is the given release or a later one; true for values
    // outside 11-22 without asking.
    static bool IsSystemVersionOrAbove(SystemVersion version);
    // major * 10000 + minor * 100 + patch of the release the checks see.
    static int32_t MAC_GetSystemVersionDecimal();
    // The system's version text, cached.
    static void GetOSVersionString(VString& out);
    // The system's name, version and build.
    static void GetFullOSName(VString& out);
    // The kernel's build text (at most 15 characters).
    static void GetSystemBuildNumber(VString& out);

    // --- processes (runtime/VSystem.cpp) ---

    // Appends the id of every process; the vector is not cleared first.
    static void GetProcessList(std::vector<int>& ids);
    // The short command name (at most 16 bytes) of pid. True when the process
    // table could be read, even when pid is not in it (name unchanged then).
    static bool GetProcessName(int pid, VString& name);
    // The executable path of pid; true only when a path was read (path
    // unchanged otherwise).
    static bool GetProcessPath(int pid, VString& path);
    // Sends SIGKILL to pid. False, sending nothing, for an id of 0 or below
    // (they name process groups), and when the signal cannot be sent.
    static bool KillProcess(int pid);
    // Whether the child pid has ended: waits for it when timeout is negative,
    // else only looks. Otherwise reason (when given) says why: no such child,
    // or still running.
    static bool WaitForProcess(int pid, int timeout, EWFP_Reason* reason);

    // --- notices (runtime/VSystem.cpp) ---

    // Shows a notice (see the flags above). With response, blocks until it is
    // answered and stores the answer; without, returns at once and keeps the
    // notice listed until it is answered or cancelled. True when it was shown.
    static bool DisplayNotification(const VString& title, const VString& message, uint32_t flags,
                                    ENotificationResponse* response = nullptr);
    // Withdraws every notice shown without waiting that is still up.
    static void CancelAllPendingUserNotifications();

    // --- machine (runtime/VSystem.cpp) ---

    // Processors the system can run, cached; 1 when the query fails or gives
    // less than 2.
    static int32_t GetNumberOfLogicalProcessors();
    // Physical cores, cached; online cores, not cached. 1 when unknown or < 2.
    static int32_t GetNumberOfPhysicalProcessors();
    static int32_t GetEnabledCoresNumber();
    // The processor's name, cached at the first call (whose compact flag
    // decides: outer white space removed, double spaces made single); "-" when
    // unknown.
    static void GetProcessorTypeString(VString& out, bool compact);
    // The machine's processor use since the previous call (0 to 1); false and 0
    // at the first call or when the counters cannot be read.
    static bool GetProcessorsPercentageUse(double& use);
    // This process's processor use, each thread counted once, per processor;
    // -1.0 when it cannot be read.
    static double GetApplicationProcessorsPercentageUse();
    // Sizes in bytes, 0 when unknown.
    static uint64_t GetPhysicalMemSize();
    static uint64_t GetPhysicalFreeMemSize();
    static uint64_t GetApplicationPhysicalMemSize();
    static uint64_t VirtualMemoryUsedSize();
    static void GetComputerManufacturer(VString& out);
    static void GetHostName(VString& out);
    static void GetLoginUserName(VString& out);
    static void GetCurrentUserName(VString& out);
    static bool AllowedToGetSystemInfo();

    // --- network and volumes (runtime/VSystemReports.cpp) ---

    // Appends bytes per second received and sent since the previous call
    // (after clearing values). False when a counter went back or cannot be read.
    static bool GetInOutNetworkStats(std::vector<double>& values);
    // One object per interface with usable addresses: "type", "name" and
    // "ipAddresses" (objects with "ip" and "type" "ipv4" or "ipv6").
    static void GetNetworkAdaptersInformations(VJSONArray& out);
    // One object per mounted file system with blocks: "mountPoint",
    // "capacity", "available" (KiB), "filesystem", "name" and "disk".
    static void GetDiskPartitionsInfos(VJSONArray& out);

    // --- other (runtime/VSystem.cpp) ---

    // The terminal bell on standard error when it is a terminal.
    static void Beep();
    // A random number: 31 bits from the system's generator, or random().
    static int32_t Random(bool fromRandom);
    static bool Init();
    // The demangled form of a compiler symbol, or the symbol itself.
    static void DemangleSymbol(const char* symbol, VString& out);
    // The path of an executable found by name; true when found.
    static bool SearchExecutablePath(const VString& name, VFilePath& outPath);

    // --- virtual memory (runtime/VSystemMemory.cpp) ---
    // Sizes are rounded up to the page size first.

    static size_t GetVMPageSize();
    static size_t RoundUpVMPageSize(size_t size);
    // The region at or after address: size, state (0 in use, 1 free) and base
    // (each written when given). A region beginning after address gives its
    // distance, the address itself as base and state 1. All 0 when none.
    // Answers size != 0.
    static bool VirtualQuery(const void* address, size_t* size, uint32_t* state, const void** base);

    // Allocates at the given address, or anywhere when it is null; null on failure.
    static void* VirtualAlloc(size_t size, const void* address);

    // As VirtualAlloc; isPhysical is set true when the first attempt succeeded and
    // false when only the second one did. Null when both fail.
    static void* VirtualAllocPhysicalMemory(size_t size, const void* address, bool* isPhysical);

    // Releases a region obtained from VirtualAlloc.
    static void VirtualFree(void* address, size_t size, bool physical);

    // --- local time (runtime/VSystemLocalTime.cpp) ---
    // A date is seven shorts: year, month (1-12), day (1-31), hour (0-23),
    // minute, second, millisecond. The local zone is the TZ environment's,
    // read once and again after SystemDateTimeChanged or UpdateGMTOffset.

    // The current date in the GMT zone.
    static void GetSystemUTCTime(int16_t* date);
    // The current date in the local zone.
    static void GetSystemLocalTime(int16_t* date);
    // Convert in place between the local zone and GMT. Month, day, hour and
    // minute are taken as 8-bit values; the millisecond is left unchanged; a
    // date whose year is 0 and whose month or hour is 0 is left unchanged.
    static void LocalToUTCTime(int16_t* date);
    static void UTCToLocalTime(int16_t* date);
    // The local offset from GMT now, in seconds: with daylight saving when
    // withDaylight is true, else less 3600 while daylight saving is in effect.
    static int32_t GetGMTOffset(bool withDaylight);
    // Re-read the offsets (after a change of the time zone or the clock).
    static void UpdateGMTOffset();
    static void SystemDateTimeChanged();
};

}  // namespace bkit
