// MonotonicClock.h - the monotonic clock, in place of mach_absolute_time.
//
// This file defines the absolute time of the toolbox: a count that only moves
// forward, and the time base that converts it to nanoseconds. It stands on
// CLOCK_MONOTONIC, whose unit is already the nanosecond, so the time base is
// 1/1. Shortfall: like the macOS clock it does not advance while the machine
// sleeps; unlike it, its origin is the boot of the kernel, not of the machine.
// Every function is thread-safe.
#pragma once

#include <time.h>

#include <cstdint>

namespace bkit::platform {

// Nanoseconds of the monotonic clock.
uint64_t AbsoluteTime();

// The factor numerator / denominator turning absolute time into nanoseconds.
void GetTimebase(uint32_t& numerator, uint32_t& denominator);

// The monotonic time ms milliseconds from now, for absolute-deadline waits.
struct timespec MonotonicDeadline(int64_t ms);

}  // namespace bkit::platform
