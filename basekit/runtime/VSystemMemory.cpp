// VSystemMemory.cpp - the virtual-memory operations of the system facade.
//
// This file implements the page size, VSystem::VirtualAlloc,
// VirtualAllocPhysicalMemory, VirtualFree and VirtualQuery over the virtual-memory stand-in of basekit/platform/. They run
// while the memory manager is being built, so they use no toolbox object and
// raise no error.
#include "basekit/platform/VirtualMemory.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {

size_t VSystem::GetVMPageSize()
{
    return platform::VirtualMemoryPageSize();
}

size_t VSystem::RoundUpVMPageSize(size_t size)
{
    return platform::VirtualMemoryRoundToPage(size);
}

bool VSystem::VirtualQuery(const void* address, size_t* size, uint32_t* state, const void** base)
{
    uintptr_t start = 0;
    size_t regionSize = 0;
    size_t outSize = 0;
    uint32_t outState = 0;
    const void* outBase = nullptr;
    if (platform::VirtualMemoryQuery(address, start, regionSize)) {
        uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
        if (start <= wanted) {
            outSize = regionSize;
            outBase = reinterpret_cast<const void*>(start);
        } else {
            // A hole: the free range up to the next region.
            outSize = start - wanted;
            outBase = address;
            outState = 1;
        }
    }
    if (size) *size = outSize;
    if (state) *state = outState;
    if (base) *base = outBase;
    return outSize != 0;
}

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
