// VSystem.cpp - time, ticks and processor count of the system facade.
#include "basekit/runtime/VSystem.h"

#include <unistd.h>

#include <atomic>

#include "basekit/runtime/mac/XBSDSystem.h"

namespace bkit {

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

int32_t VSystem::GetNumberOfLogicalProcessors()
{
    // Filled without a lock: a race only computes the same value twice.
    static std::atomic<int32_t> sCount{0};
    int32_t count = sCount.load(std::memory_order_relaxed);
    if (count == 0) {
        long n = sysconf(_SC_NPROCESSORS_CONF);
        count = n < 2 ? 1 : static_cast<int32_t>(n);
        sCount.store(count, std::memory_order_relaxed);
    }
    return count;
}

}  // namespace bkit
