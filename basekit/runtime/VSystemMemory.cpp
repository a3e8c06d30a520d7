// VSystemMemory.cpp - the virtual-memory operations of the system facade.
//
// This file implements VSystem::VirtualAlloc, VirtualAllocPhysicalMemory and
// VirtualFree over the virtual-memory stand-in of basekit/platform/. They run
// while the memory manager is being built, so they use no toolbox object and
// raise no error.
#include "basekit/platform/VirtualMemory.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {

void* VSystem::VirtualAlloc(size_t size, const void* address)
{
    return platform::VirtualMemoryAllocate(size, address, false);
}

void* VSystem::VirtualAllocPhysicalMemory(size_t size, const void* address, bool* isPhysical)
{
    // Memory locked in RAM first; plain virtual memory when the lock is refused.
    void* region = platform::VirtualMemoryAllocate(size, address, true);
    bool physical = region != nullptr;
    if (!region)
        region = platform::VirtualMemoryAllocate(size, address, false);
    if (isPhysical)
        *isPhysical = region ? physical : false;
    return region;
}

void VSystem::VirtualFree(void* address, size_t size, bool physical)
{
    platform::VirtualMemoryFree(address, size, physical);
}

}  // namespace bkit
