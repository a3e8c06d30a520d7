// VirtualMemory.h - page-granular virtual memory for the toolbox.
//
// This file stands in for the Mach virtual-memory calls (vm_allocate,
// vm_deallocate) that the system facade uses to obtain whole regions outside
// the heap: the memory manager's own object and the own allocator's regions.
// It is written over mmap, munmap and mlock.
//
// Where it falls short of the Mach calls: a region asked for at an address is
// placed there only when that range is free (otherwise the call fails instead
// of returning an error code); "physical" memory is approximated by locking the
// pages in RAM with mlock, which the process's RLIMIT_MEMLOCK may refuse.
// Thread-safe; sizes are rounded up to the page size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bkit {
namespace platform {

// The size of a page of virtual memory.
size_t VirtualMemoryPageSize();

// Rounds size up to a multiple of the page size (0 stays 0; an overflow gives 0).
size_t VirtualMemoryRoundToPage(size_t size);

// Maps size bytes of zero-filled, readable and writable memory at address, or
// anywhere when address is null. With locked, the pages are also locked in RAM
// and the call fails when they cannot be. Null on failure (errno tells why).
void* VirtualMemoryAllocate(size_t size, const void* address, bool locked);

// Unmaps a region obtained from VirtualMemoryAllocate (unlocking it when it was
// locked). False when the kernel refuses (errno tells why); null is ignored.
bool VirtualMemoryFree(void* address, size_t size, bool locked);

// The first mapped region of this process that ends after address (the region
// holding it, or the next one): its start and size, from /proc/self/maps
// (in place of vm_region_64). False when there is none or the map is unreadable.
bool VirtualMemoryQuery(const void* address, uintptr_t& start, size_t& size);

}  // namespace platform
}  // namespace bkit
