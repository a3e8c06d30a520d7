// XBSDSystem.h - the platform half of the system facade.
//
// This file defines XBSDSystem, the static operations that VSystem forwards to:
// the monotonic clock read in milliseconds and ticks, and the sleep of Delay.
// They stand on basekit/platform/MonotonicClock and nanosleep. Every operation
// is thread-safe.
#pragma once

#include <cstdint>

namespace bkit {

class XBSDSystem {
public:
    // Milliseconds of the monotonic clock.
    static uint64_t GetCurrentTime();
    // Sixtieths of a second of the monotonic clock.
    static uint32_t GetCurrentTicks();
    // Sleeps ms milliseconds, sleeping again for the remainder after each
    // interruption. ms <= 0 returns at once.
    static void Delay(int32_t ms);
};

}  // namespace bkit
