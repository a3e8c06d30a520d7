// VSystem.h - static system services: time, ticks, virtual memory.
//
// This file defines VSystem, the toolbox's facade over the operating system. All
// operations are static and thread-safe. Fine time is counted in milliseconds of
// a monotonic clock, coarse time in ticks of 1/60 s of the same clock. The macOS
// half of the facade is XBSDSystem (runtime/mac/), which stands on the services
// of basekit/platform/.
//
// More of the facade (OS version, process list, notices, machine information)
// is added beside these operations as the toolbox grows.
#pragma once

#include "basekit/BKitTypes.h"

namespace bkit {

class VSystem {
public:
    // --- time (runtime/VSystem.cpp) ---

    // Milliseconds of the monotonic clock.
    static uint64_t GetCurrentTime();

    // Sixtieths of a second of the monotonic clock.
    static uint32_t GetCurrentTicks();

    // Absolute difference between the current ticks (taken as 32-bit) and ticks.
    static uint32_t GetCurrentDeltaTicks(uint32_t ticks);

    // Sleeps for the given milliseconds, sleeping again after each interruption.
    static void Delay(int32_t milliseconds);

    // --- machine (runtime/VSystem.cpp) ---

    // Processors the system can run, cached; 1 when the query fails or gives
    // less than 2.
    static int32_t GetNumberOfLogicalProcessors();

    // --- virtual memory (runtime/VSystemMemory.cpp) ---
    // Sizes are rounded up to the page size first.

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
