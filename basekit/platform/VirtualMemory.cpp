// VirtualMemory.cpp - page-granular virtual memory over mmap.
//
// This file implements the virtual-memory stand-in declared in VirtualMemory.h.
#include "basekit/platform/VirtualMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace bkit {
namespace platform {

size_t VirtualMemoryPageSize()
{
    static const size_t sPageSize = [] {
        long size = ::sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<size_t>(size) : static_cast<size_t>(4096);
    }();
    return sPageSize;
}

size_t VirtualMemoryRoundToPage(size_t size)
{
    size_t page = VirtualMemoryPageSize();
    if (size > SIZE_MAX - (page - 1))
        return 0;
    return (size + page - 1) / page * page;
}

void* VirtualMemoryAllocate(size_t size, const void* address, bool locked)
{
    size_t rounded = VirtualMemoryRoundToPage(size);
    if (rounded == 0) {
        errno = (size == 0) ? EINVAL : ENOMEM;
        return nullptr;
    }
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    // An explicit address must be honoured exactly, but never at the expense of
    // a mapping that is already there.
    if (address)
        flags |= MAP_FIXED_NOREPLACE;
    void* region = ::mmap(const_cast<void*>(address), rounded, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (region == MAP_FAILED)
        return nullptr;
    if (address && region != address) {
        // Kernels older than 4.17 take the flag as a mere hint.
        ::munmap(region, rounded);
        errno = EEXIST;
        return nullptr;
    }
    if (locked && ::mlock(region, rounded) != 0) {
        int saved = errno;
        ::munmap(region, rounded);
        errno = saved;
        return nullptr;
    }
    return region;
}

bool VirtualMemoryFree(void* address, size_t size, bool locked)
{
    if (!address)
        return true;
    size_t rounded = VirtualMemoryRoundToPage(size);
    if (rounded == 0) {
        errno = EINVAL;
        return false;
    }
    if (locked)
        ::munlock(address, rounded);
    return ::munmap(address, rounded) == 0;
}

bool VirtualMemoryQuery(const void* address, uintptr_t& start, size_t& size)
{
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return false;
    uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
    bool found = false;
    char line[512];
    while (!found && std::fgets(line, sizeof(line), maps)) {
        unsigned long long low = 0, high = 0;
        if (std::sscanf(line, "%llx-%llx", &low, &high) != 2 || high <= wanted) continue;
        start = static_cast<uintptr_t>(low);
        size = static_cast<size_t>(high - low);
        found = true;
    }
    std::fclose(maps);
    return found;
}

}  // namespace platform
}  // namespace bkit
