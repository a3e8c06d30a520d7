// MonotonicClock.cpp - the monotonic clock over CLOCK_MONOTONIC.
#include "basekit/platform/MonotonicClock.h"

namespace bkit::platform {

uint64_t AbsoluteTime()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

void GetTimebase(uint32_t& numerator, uint32_t& denominator)
{
    numerator = 1;
    denominator = 1;
}

struct timespec MonotonicDeadline(int64_t ms)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    if (ms < 0) ms = 0;
    t.tv_sec += static_cast<time_t>(ms / 1000);
    t.tv_nsec += static_cast<long>((ms % 1000) * 1000000);
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

}  // namespace bkit::platform
