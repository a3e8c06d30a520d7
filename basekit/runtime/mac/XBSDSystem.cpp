// XBSDSystem.cpp - clock and sleep of the system facade.
#include "basekit/runtime/mac/XBSDSystem.h"

#include <time.h>

#include <cerrno>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

struct Timebase {
    uint32_t numerator;
    uint32_t denominator;
    Timebase() { platform::GetTimebase(numerator, denominator); }
};

const Timebase& GetTimebase()
{
    static const Timebase sTimebase;
    return sTimebase;
}

}  // namespace

uint64_t XBSDSystem::GetCurrentTime()
{
    const Timebase& tb = GetTimebase();
    // 128-bit product: the numerator may be large on other clocks.
    unsigned __int128 t = static_cast<unsigned __int128>(platform::AbsoluteTime()) * tb.numerator;
    return static_cast<uint64_t>(t / tb.denominator / 1000000u);
}

uint32_t XBSDSystem::GetCurrentTicks()
{
    const Timebase& tb = GetTimebase();
    unsigned __int128 t = static_cast<unsigned __int128>(platform::AbsoluteTime()) * tb.numerator * 60u;
    return static_cast<uint32_t>(t / (static_cast<unsigned __int128>(tb.denominator) * 1000000000u));
}

void XBSDSystem::Delay(int32_t ms)
{
    if (ms <= 0) return;
    struct timespec wanted;
    wanted.tv_sec = ms / 1000;
    wanted.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec remaining;
    // After an interruption, sleep again for what was left.
    RetryOnEINTR([&] {
        int result = nanosleep(&wanted, &remaining);
        if (result != 0) wanted = remaining;
        return result;
    });
}

}  // namespace bkit
