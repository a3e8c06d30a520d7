// VMemCppImpl.h - the toolbox's own allocator.
//
// This file defines VMemCppImpl, one of the four implementations of the own
// allocator of the memory manager (VMemoryMgr.h); VMemImplAllocation, the
// header of one of its virtual-memory regions; VMemThreadImpl, its allocator
// of small blocks; and VPageAllocationImpl, the header of a page of equal small
// blocks.
//
// Layout:
// - A region starts with its 64-byte header, then 8 bytes of padding so that
//   every user pointer is 16-byte aligned; big blocks follow back to back and
//   are cut at the region's bump offset.
// - A big block has a 24-byte header before the user pointer: region (8),
//   preceding block's size (4), unused (4), size word (4) and tag (4). A size
//   word above 0 is a block in use (size with the caller's flag in bit 0 and the
//   page marker in bit 1); below 0 a free block of the negated size. Sizes are
//   1 KiB steps up to 1 MiB, 16-byte steps beyond.
// - A small block has an 8-byte header: the negated offset back to its page's
//   user pointer (with the caller's flag in bit 0), 0 once freed, and the tag.
//
// Contracts: an implementation takes no lock; the memory manager calls it under
// its recursive mutex. Free and GetPtrSize accept a block of any of the four
// implementations and hand it to its owner. Memory exists only once regions
// were added (AddAllocation, AddAlreadyAllocatedMem) or automatic allocation is
// on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/runtime/VMemoryMgr.h"

namespace bkit {

class VMemCppImpl;
class VMemThreadImpl;

// Header of one region (64 bytes).
struct VMemImplAllocation {
    VMemCppImpl* fOwner;
    VMemImplAllocation* fNext;
    VMemImplAllocation* fPrevious;
    size_t fUsableSize;    // bytes after the header and its padding
    size_t fBumpOffset;    // bytes handed out from the start of the usable area
    uint32_t fLastBlockSize;  // the block that ends at the bump offset
    bool fPhysical;
    size_t fRegionSize;
    char fReserved[8];
};
static_assert(sizeof(VMemImplAllocation) == 64, "region header size");

// Header of a page of small blocks (56 bytes), at the user pointer of the big
// block that holds the page.
struct VPageAllocationImpl {
    VMemThreadImpl* fOwner;
    void* fFreeList;  // user pointers of free blocks, linked through their first word
    VPageAllocationImpl* fNext;
    VPageAllocationImpl* fPrevious;
    uint32_t fPageSize;
    uint32_t fBumpOffset;
    uint16_t fUsed;
    uint16_t fCapacity;
    uint16_t fBlockSize;
    uint16_t fClass;
    char fReserved[8];
};
static_assert(sizeof(VPageAllocationImpl) == 56, "page header size");

class VMemThreadImpl {
public:
    static constexpr int kClassCount = 132;

    explicit VMemThreadImpl(VMemCppImpl* impl) : fImpl(impl) {}

    // size includes the 8-byte header.
    void* Malloc(size_t size, bool flag, OsType tag);
    void Free(void* block);
    VMemCppImpl* GetImpl() const { return fImpl; }

    // The rounded size of a small block of size bytes (header included), its
    // class, and the rounding step.
    static size_t GetStepFromSize(size_t size, int32_t* outClass, size_t* outStep);
    // The page size for blocks of that rounded size.
    static uint32_t GetPageSize(size_t blockSize);

    VPageAllocationImpl* GetFirstPage(int32_t sizeClass) const { return fPages[sizeClass]; }

private:
    void _Unlink(VPageAllocationImpl* page);
    void _PushFront(VPageAllocationImpl* page);

    VMemCppImpl* fImpl;
    VPageAllocationImpl* fPages[kClassCount] = {};
};

class VMemCppImpl : public XMemCppImpl {
public:
    static constexpr size_t kBigHeaderSize = 24;
    static constexpr size_t kSmallHeaderSize = 8;
    static constexpr size_t kSmallLimit = 8192;
    static constexpr size_t kMinRegionSize = 65536;
    static constexpr size_t kLargestSteppedRequest = 1048553;
    static constexpr size_t kLargestRequest = 2147481598;
    static constexpr int kListCount = 1026;

    explicit VMemCppImpl(int32_t number);
    ~VMemCppImpl() override;

    void Init(VCppMemMgr* manager) override { fManager = manager; }
    void* Malloc(size_t size, unsigned char bigOnly, unsigned char flag, OsType tag) override;
    void Free(void* block) override;
    void* Realloc(void* block, size_t size) override;
    size_t GetPtrSize(const void* block) override;
    // True only for the user pointer of a block in use of this or another own
    // implementation; a freed block or a pointer inside a block answers false.
    bool CheckPtr(const void* block) override;
    bool Check() override;
    bool AddAllocation(size_t size, const void* address, unsigned char physical) override;
    int32_t CountAllocations() override;
    void SetAutoAllocationState(bool on) override { fAutoAllocation = on; }
    void GetStats(VMemStats& stats, int16_t impl) override;
    size_t GetTotalAllocation() override { return fTotal; }
    void GetMemUsageInfo(size_t& used, size_t& free) override;
    bool AddAlreadyAllocatedMem(void* address, size_t size, bool physical) override;
    int32_t GetAllocationBlockNumber(const void* block) override;

    int32_t GetNumber() const { return fNumber; }
    size_t GetUsedBytes() const { return fUsed; }

    // The block size and free list of a big request of size bytes; 0 when too large.
    static size_t GetExactStepFromSize(size_t size, int32_t* outList);

private:
    friend class VMemThreadImpl;

    void* _MallocBig(size_t size, bool pageMarker, bool flag, OsType tag);
    void _FreeBig(char* header);
    char* _CutAtEnd(VMemImplAllocation* region, size_t blockSize);
    char* _TakeFromLists(int32_t list, size_t blockSize);
    // A free block of list 1025 of at least wanted bytes: the smallest (an exact
    // fit ending the walk) with bestFit, else the first; null when none.
    char* _SearchLarge(size_t wanted, bool bestFit) const;
    void _PushFree(char* header, size_t blockSize);
    void _UnlinkFree(char* header, size_t blockSize);
    void _Split(char* header, size_t blockSize, size_t keep);
    void _ReleaseRegion(VMemImplAllocation* region);
    VMemCppImpl* _OwnerOf(const void* block) const;
    // The region whose handed-out area holds block, or null.
    VMemImplAllocation* _RegionOf(const void* block) const;

    int32_t fNumber;
    VCppMemMgr* fManager = nullptr;
    char* fFreeLists[kListCount] = {};
    VMemImplAllocation* fRegions = nullptr;
    size_t fTotal = 0;
    size_t fUsed = 0;  // big blocks in use; a page of small blocks counts whole
    bool fAutoAllocation = false;
    VMemThreadImpl fThreadImpl;
};

}  // namespace bkit
