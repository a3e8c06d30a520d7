// VMemCppImpl.cpp - the toolbox's own allocator: regions, big blocks and pages
// of small blocks.
#include "basekit/runtime/VMemCppImpl.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "basekit/runtime/VMemStats.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {

namespace {

constexpr size_t kRegionHeaderSize = 72;  // the 64-byte header and 8 bytes of alignment
constexpr size_t kAutoRegionMinimum = 20970432;
constexpr size_t kAutoRegionExtra = 1088;
constexpr int32_t kFlagCaller = 1;
constexpr int32_t kFlagPage = 2;
constexpr OsType kMemTag_Page = MakeOsType("page");

struct BigHeader {
    VMemImplAllocation* fRegion;
    uint32_t fPreviousSize;
    uint32_t fUnused;
    int32_t fSizeWord;
    OsType fTag;
};
static_assert(sizeof(BigHeader) == VMemCppImpl::kBigHeaderSize, "big block header size");

struct FreeLinks {
    char* fNext;
    char* fPrevious;
};

inline BigHeader* Big(char* header) { return reinterpret_cast<BigHeader*>(header); }
inline const BigHeader* Big(const char* header) { return reinterpret_cast<const BigHeader*>(header); }
inline FreeLinks* Links(char* header) { return reinterpret_cast<FreeLinks*>(header + sizeof(BigHeader)); }
inline size_t BigSize(const char* header)
{
    int32_t word = Big(header)->fSizeWord;
    return word < 0 ? static_cast<size_t>(-static_cast<int64_t>(word)) : static_cast<size_t>(word & ~3);
}
// The free list of a big block of that size: its KiB count up to 1 MiB, the
// list of larger or unstepped blocks otherwise.
inline int32_t ListOf(size_t blockSize)
{
    if (blockSize <= 1024 * 1024 && blockSize % 1024 == 0)
        return static_cast<int32_t>(blockSize / 1024);
    return VMemCppImpl::kListCount - 1;
}
inline char* Area(VMemImplAllocation* region) { return reinterpret_cast<char*>(region) + kRegionHeaderSize; }

// The word before a user pointer: negative for a small block in use, positive
// for a big block in use.
inline int32_t& SmallWord(const void* block) { return *reinterpret_cast<int32_t*>(static_cast<char*>(const_cast<void*>(block)) - 8); }
inline OsType& SmallTag(const void* block) { return *reinterpret_cast<OsType*>(static_cast<char*>(const_cast<void*>(block)) - 4); }

inline VPageAllocationImpl* PageOf(const void* block)
{
    uint32_t value = static_cast<uint32_t>(-static_cast<int64_t>(SmallWord(block)));
    return reinterpret_cast<VPageAllocationImpl*>(static_cast<char*>(const_cast<void*>(block)) - (value & ~15u));
}

}  // namespace

// --- size classes ---

size_t VMemCppImpl::GetExactStepFromSize(size_t size, int32_t* outList)
{
    if (size > kLargestRequest)
        return 0;
    size_t total = size + kBigHeaderSize;
    if (size < kLargestSteppedRequest) {
        size_t block = (total + 1023) & ~size_t(1023);
        if (outList)
            *outList = static_cast<int32_t>(block / 1024);
        return block;
    }
    // 16-byte steps keep user pointers aligned as malloc's are.
    if (outList)
        *outList = kListCount - 1;
    return (total + 15) & ~size_t(15);
}

size_t VMemThreadImpl::GetStepFromSize(size_t size, int32_t* outClass, size_t* outStep)
{
    size_t step;
    size_t rounded;
    int32_t sizeClass;
    if (size <= 1024) {
        step = 16;
        rounded = std::max<size_t>((size + 15) & ~size_t(15), 16);
        sizeClass = static_cast<int32_t>(rounded / 16);
    } else if (size <= 4096) {
        step = 64;
        rounded = (size + 63) & ~size_t(63);
        sizeClass = static_cast<int32_t>(65 + (rounded - 1024) / 64);
    } else {
        step = 256;
        rounded = (size + 255) & ~size_t(255);
        sizeClass = static_cast<int32_t>(114 + (rounded - 4096) / 256);
    }
    if (outClass)
        *outClass = sizeClass;
    if (outStep)
        *outStep = step;
    return rounded;
}

uint32_t VMemThreadImpl::GetPageSize(size_t blockSize)
{
    if (blockSize < 256)
        return 8168;
    if (blockSize < 1024)
        return 16360;
    if (blockSize < 4096)
        return 65512;
    return 131048;
}

// --- small blocks ---

void VMemThreadImpl::_Unlink(VPageAllocationImpl* page)
{
    if (page->fPrevious)
        page->fPrevious->fNext = page->fNext;
    else
        fPages[page->fClass] = page->fNext;
    if (page->fNext)
        page->fNext->fPrevious = page->fPrevious;
    page->fNext = page->fPrevious = nullptr;
}

void VMemThreadImpl::_PushFront(VPageAllocationImpl* page)
{
    page->fPrevious = nullptr;
    page->fNext = fPages[page->fClass];
    if (page->fNext)
        page->fNext->fPrevious = page;
    fPages[page->fClass] = page;
}

void* VMemThreadImpl::Malloc(size_t size, bool flag, OsType tag)
{
    int32_t sizeClass = 0;
    const size_t rounded = GetStepFromSize(size, &sizeClass, nullptr);
    if (sizeClass < 0 || sizeClass >= kClassCount)
        return nullptr;
    VPageAllocationImpl* page = fPages[sizeClass];
    if (!page) {
        const uint32_t pageSize = GetPageSize(rounded);
        void* memory = fImpl->_MallocBig(pageSize, true, false, kMemTag_Page);
        if (!memory)
            return nullptr;
        page = static_cast<VPageAllocationImpl*>(memory);
        std::memset(page, 0, sizeof(*page));
        page->fOwner = this;
        page->fPageSize = pageSize;
        page->fBumpOffset = sizeof(VPageAllocationImpl);
        page->fBlockSize = static_cast<uint16_t>(rounded);
        page->fCapacity = static_cast<uint16_t>((pageSize - sizeof(VPageAllocationImpl)) / rounded);
        page->fClass = static_cast<uint16_t>(sizeClass);
        _PushFront(page);
    }

    char* block;
    if (page->fFreeList) {
        block = static_cast<char*>(page->fFreeList);
        page->fFreeList = *reinterpret_cast<void**>(block);
    } else {
        block = reinterpret_cast<char*>(page) + page->fBumpOffset + VMemCppImpl::kSmallHeaderSize;
        page->fBumpOffset += static_cast<uint32_t>(rounded);
    }
    ++page->fUsed;
    if (page->fUsed == page->fCapacity)
        _Unlink(page);  // full pages leave their list
    const uint32_t offset = static_cast<uint32_t>(block - reinterpret_cast<char*>(page));
    SmallWord(block) = -static_cast<int32_t>(offset | (flag ? 1u : 0u));
    SmallTag(block) = tag;
    return block;
}

void VMemThreadImpl::Free(void* block)
{
    VPageAllocationImpl* page = PageOf(block);
    const bool wasFull = page->fUsed == page->fCapacity;
    SmallWord(block) = 0;
    SmallTag(block) = 0;
    *static_cast<void**>(block) = page->fFreeList;
    page->fFreeList = block;
    --page->fUsed;
    if (page->fUsed == 0) {
        if (!wasFull)
            _Unlink(page);
        fImpl->_FreeBig(reinterpret_cast<char*>(page) - VMemCppImpl::kBigHeaderSize);
    } else if (wasFull) {
        _PushFront(page);
    }
}

// --- implementation ---

VMemCppImpl::VMemCppImpl(int32_t number) : fNumber(number), fThreadImpl(this) {}

VMemCppImpl::~VMemCppImpl()
{
    while (fRegions) {
        VMemImplAllocation* region = fRegions;
        fRegions = region->fNext;
        VSystem::VirtualFree(region, region->fRegionSize, region->fPhysical);
    }
}

bool VMemCppImpl::AddAllocation(size_t size, const void* address, unsigned char physical)
{
    if (size < kMinRegionSize)
        return false;
    bool isPhysical = false;
    void* region = physical ? VSystem::VirtualAllocPhysicalMemory(size, address, &isPhysical)
                            : VSystem::VirtualAlloc(size, address);
    if (!region)
        return false;
    if (!AddAlreadyAllocatedMem(region, size, isPhysical)) {
        VSystem::VirtualFree(region, size, isPhysical);
        return false;
    }
    return true;
}

bool VMemCppImpl::AddAlreadyAllocatedMem(void* address, size_t size, bool physical)
{
    if (!address || size < kMinRegionSize)
        return false;
    auto* region = static_cast<VMemImplAllocation*>(address);
    std::memset(region, 0, sizeof(*region));
    region->fOwner = this;
    region->fUsableSize = size - kRegionHeaderSize;
    region->fPhysical = physical;
    region->fRegionSize = size;
    region->fNext = fRegions;
    if (fRegions)
        fRegions->fPrevious = region;
    fRegions = region;
    fTotal += size;
    return true;
}

int32_t VMemCppImpl::CountAllocations()
{
    int32_t count = 0;
    for (VMemImplAllocation* region = fRegions; region; region = region->fNext)
        ++count;
    return count;
}

void VMemCppImpl::_ReleaseRegion(VMemImplAllocation* region)
{
    if (region->fPrevious)
        region->fPrevious->fNext = region->fNext;
    else
        fRegions = region->fNext;
    if (region->fNext)
        region->fNext->fPrevious = region->fPrevious;
    fTotal -= region->fRegionSize;
    VSystem::VirtualFree(region, region->fRegionSize, region->fPhysical);
}

char* VMemCppImpl::_CutAtEnd(VMemImplAllocation* region, size_t blockSize)
{
    char* header = Area(region) + region->fBumpOffset;
    Big(header)->fRegion = region;
    Big(header)->fPreviousSize = region->fLastBlockSize;
    region->fBumpOffset += blockSize;
    region->fLastBlockSize = static_cast<uint32_t>(blockSize);
    return header;
}

void VMemCppImpl::_PushFree(char* header, size_t blockSize)
{
    const int32_t list = ListOf(blockSize);
    Big(header)->fSizeWord = -static_cast<int32_t>(blockSize);
    Big(header)->fTag = 0;
    Links(header)->fPrevious = nullptr;
    Links(header)->fNext = fFreeLists[list];
    if (fFreeLists[list])
        Links(fFreeLists[list])->fPrevious = header;
    fFreeLists[list] = header;
}

void VMemCppImpl::_UnlinkFree(char* header, size_t blockSize)
{
    const int32_t list = ListOf(blockSize);
    FreeLinks* links = Links(header);
    if (links->fPrevious)
        Links(links->fPrevious)->fNext = links->fNext;
    else
        fFreeLists[list] = links->fNext;
    if (links->fNext)
        Links(links->fNext)->fPrevious = links->fPrevious;
}

void VMemCppImpl::_Split(char* header, size_t blockSize, size_t keep)
{
    const size_t rest = blockSize - keep;
    char* remainder = header + keep;
    VMemImplAllocation* region = Big(header)->fRegion;
    Big(remainder)->fRegion = region;
    Big(remainder)->fPreviousSize = static_cast<uint32_t>(keep);
    char* following = header + blockSize;
    if (following < Area(region) + region->fBumpOffset)
        Big(following)->fPreviousSize = static_cast<uint32_t>(rest);
    else
        region->fLastBlockSize = static_cast<uint32_t>(rest);
    _PushFree(remainder, rest);
}

char* VMemCppImpl::_SearchLarge(size_t wanted, bool bestFit) const
{
    char* best = nullptr;
    for (char* header = fFreeLists[kListCount - 1]; header; header = Links(header)->fNext) {
        size_t size = BigSize(header);
        if (size < wanted)
            continue;
        if (!bestFit || size == wanted)
            return header;
        if (!best || size < BigSize(best))
            best = header;
    }
    return best;
}

char* VMemCppImpl::_TakeFromLists(int32_t list, size_t blockSize)
{
    if (list < kListCount - 1)
        return fFreeLists[list];
    return _SearchLarge(blockSize, true);
}

void* VMemCppImpl::_MallocBig(size_t size, bool pageMarker, bool flag, OsType tag)
{
    int32_t list = 0;
    const size_t blockSize = GetExactStepFromSize(size, &list);
    if (blockSize == 0)
        return nullptr;

    char* header = _TakeFromLists(list, blockSize);
    bool fromList = header != nullptr;
    if (!header) {
        for (VMemImplAllocation* region = fRegions; region && !header; region = region->fNext) {
            if (region->fUsableSize - region->fBumpOffset >= blockSize)
                header = _CutAtEnd(region, blockSize);
        }
    }
    if (!header) {
        // A larger free block, searching down from the largest list.
        for (int32_t higher = kListCount - 1; higher > list && !header; --higher)
            header = higher == kListCount - 1 ? _SearchLarge(blockSize, false) : fFreeLists[higher];
        fromList = header != nullptr;  // nothing was cut above, or we would not be here
    }
    size_t used = blockSize;
    if (fromList) {
        const size_t available = BigSize(header);
        _UnlinkFree(header, available);
        if (available - blockSize >= kSmallLimit)
            _Split(header, available, blockSize);
        else
            used = available;  // the slack stays with the block
    }
    if (!header && fAutoAllocation) {
        size_t regionSize = std::max(blockSize, kAutoRegionMinimum) + kAutoRegionExtra;
        if (AddAllocation(regionSize, nullptr, false))
            header = _CutAtEnd(fRegions, blockSize);
    }
    if (!header)
        return nullptr;

    Big(header)->fSizeWord = static_cast<int32_t>(used) | (flag ? kFlagCaller : 0) | (pageMarker ? kFlagPage : 0);
    Big(header)->fTag = tag;
    fUsed += used;
    return header + kBigHeaderSize;
}

void VMemCppImpl::_FreeBig(char* header)
{
    VMemImplAllocation* region = Big(header)->fRegion;
    size_t size = BigSize(header);
    fUsed -= size;
    char* area = Area(region);

    if (Big(header)->fPreviousSize != 0) {
        char* previous = header - Big(header)->fPreviousSize;
        if (Big(previous)->fSizeWord < 0) {
            size_t previousSize = BigSize(previous);
            if (previousSize + size <= static_cast<size_t>(INT32_MAX)) {
                _UnlinkFree(previous, previousSize);
                header = previous;
                size += previousSize;
            }
        }
    }
    char* end = area + region->fBumpOffset;
    char* following = header + size;
    if (following < end && Big(following)->fSizeWord < 0) {
        size_t followingSize = BigSize(following);
        if (size + followingSize <= static_cast<size_t>(INT32_MAX)) {
            _UnlinkFree(following, followingSize);
            size += followingSize;
            following = header + size;
        }
    }
    if (following >= end) {
        // The last block gives its room back to the region.
        region->fBumpOffset = static_cast<size_t>(header - area);
        region->fLastBlockSize = Big(header)->fPreviousSize;
        if (region->fBumpOffset == 0 && fAutoAllocation)
            _ReleaseRegion(region);
        return;
    }
    Big(following)->fPreviousSize = static_cast<uint32_t>(size);
    _PushFree(header, size);
}

VMemCppImpl* VMemCppImpl::_OwnerOf(const void* block) const
{
    if (SmallWord(block) < 0)
        return PageOf(block)->fOwner->GetImpl();
    const char* header = static_cast<const char*>(block) - kBigHeaderSize;
    return Big(header)->fRegion->fOwner;
}

void* VMemCppImpl::Malloc(size_t size, unsigned char bigOnly, unsigned char flag, OsType tag)
{
    if (!bigOnly && size < kSmallLimit)
        return fThreadImpl.Malloc(size + kSmallHeaderSize, flag != 0, tag);
    return _MallocBig(size, false, flag != 0, tag);
}

void VMemCppImpl::Free(void* block)
{
    if (!block)
        return;
    VMemCppImpl* owner = _OwnerOf(block);
    if (owner != this) {
        owner->Free(block);
        return;
    }
    if (SmallWord(block) < 0)
        fThreadImpl.Free(block);
    else
        _FreeBig(static_cast<char*>(block) - kBigHeaderSize);
}

void* VMemCppImpl::Realloc(void* block, size_t size)
{
    if (!block)
        return Malloc(size, 0, 0, 0);
    OsType tag = SmallWord(block) < 0 ? SmallTag(block) : Big(static_cast<char*>(block) - kBigHeaderSize)->fTag;
    void* grown = Malloc(size, 0, 0, tag);
    if (!grown)
        return nullptr;
    std::memcpy(grown, block, std::min(GetPtrSize(block), size));
    Free(block);
    return grown;
}

size_t VMemCppImpl::GetPtrSize(const void* block)
{
    if (!block)
        return 0;
    if (SmallWord(block) < 0)
        return PageOf(block)->fBlockSize - kSmallHeaderSize;
    return BigSize(static_cast<const char*>(block) - kBigHeaderSize) - kBigHeaderSize;
}

int32_t VMemCppImpl::GetAllocationBlockNumber(const void* block)
{
    return block ? _OwnerOf(block)->fNumber : 0;
}

VMemImplAllocation* VMemCppImpl::_RegionOf(const void* block) const
{
    const char* pointer = static_cast<const char*>(block);
    for (VMemImplAllocation* region = fRegions; region; region = region->fNext) {
        const char* area = Area(region);
        if (pointer >= area && pointer < area + region->fBumpOffset)
            return region;
    }
    return nullptr;
}

bool VMemCppImpl::CheckPtr(const void* block)
{
    if (!block)
        return false;
    const char* pointer = static_cast<const char*>(block);
    if (VMemImplAllocation* region = _RegionOf(block)) {
        // Only the block chain is trusted: the words around a freed or interior
        // pointer are free-list links or user data, not a header.
        const char* header = Area(region);
        size_t size = BigSize(header);
        while (size != 0 && header + size <= pointer) {
            header += size;
            size = BigSize(header);
        }
        const int32_t word = Big(header)->fSizeWord;
        if (size == 0 || word <= 0)
            return false;
        if (!(word & kFlagPage))
            return pointer == header + kBigHeaderSize;
        auto* page = reinterpret_cast<const VPageAllocationImpl*>(header + kBigHeaderSize);
        const char* first = reinterpret_cast<const char*>(page) + sizeof(VPageAllocationImpl) + kSmallHeaderSize;
        const char* last = reinterpret_cast<const char*>(page) + page->fBumpOffset;
        return page->fOwner == &fThreadImpl && pointer >= first && pointer - kSmallHeaderSize < last &&
               (pointer - first) % page->fBlockSize == 0 && SmallWord(block) < 0;
    }
    // Another implementation's block is checked by its owner.
    if (fManager) {
        for (int32_t i = 0; i < fManager->GetImplCount(); ++i) {
            XMemCppImpl* other = fManager->GetImpl(i);
            if (other && other != this && static_cast<VMemCppImpl*>(other)->_RegionOf(block))
                return other->CheckPtr(block);
        }
    }
    return false;
}

bool VMemCppImpl::Check()
{
    for (VMemImplAllocation* region = fRegions; region; region = region->fNext) {
        char* area = Area(region);
        char* end = area + region->fBumpOffset;
        uint32_t previous = 0;
        for (char* header = area; header < end;) {
            size_t size = BigSize(header);
            if (size == 0 || Big(header)->fRegion != region || Big(header)->fPreviousSize != previous)
                return false;
            previous = static_cast<uint32_t>(size);
            header += size;
            if (header > end)
                return false;
        }
        if (previous != region->fLastBlockSize)
            return false;
    }
    return true;
}

void VMemCppImpl::GetMemUsageInfo(size_t& used, size_t& free)
{
    used = fUsed;
    free = fTotal >= fUsed ? fTotal - fUsed : 0;
}

void VMemCppImpl::GetStats(VMemStats& stats, int16_t)
{
    for (VMemImplAllocation* region = fRegions; region; region = region->fNext) {
        char* area = Area(region);
        char* end = area + region->fBumpOffset;
        const size_t tail = region->fUsableSize - region->fBumpOffset;
        stats.fFreeMem += tail;
        stats.fBiggestFreeBlock = std::max(stats.fBiggestFreeBlock, tail);
        for (char* header = area; header < end; header += BigSize(header)) {
            const size_t size = BigSize(header);
            ++stats.fNbBigBlocks;
            if (Big(header)->fSizeWord < 0) {
                ++stats.fNbFreeBigBlocks;
                stats.fFreeMem += size;
                stats.fBiggestFreeBlock = std::max(stats.fBiggestFreeBlock, size);
                continue;
            }
            ++stats.fNbUsedBigBlocks;
            if (!(Big(header)->fSizeWord & kFlagPage)) {
                stats.fUsedMem += size;
                stats.fBiggestBlock = std::max(stats.fBiggestBlock, size);
                stats.AddTag(Big(header)->fTag, size);
                stats.fOtherBigBlocks[size] += 1;
                continue;
            }
            auto* page = reinterpret_cast<VPageAllocationImpl*>(header + kBigHeaderSize);
            ++stats.fNbPages;
            auto& pages = stats.fPages[page->fBlockSize];
            if (page->fUsed == page->fCapacity)
                ++pages.first;
            else
                ++pages.second;
            char* first = reinterpret_cast<char*>(page) + sizeof(VPageAllocationImpl) + kSmallHeaderSize;
            char* last = reinterpret_cast<char*>(page) + page->fBumpOffset;
            auto& blocks = stats.fSmallBlocks[page->fBlockSize];
            for (char* block = first; block - kSmallHeaderSize < last; block += page->fBlockSize) {
                ++stats.fNbSmallBlocks;
                if (SmallWord(block) < 0) {
                    ++stats.fNbUsedSmallBlocks;
                    ++blocks.first;
                    stats.fUsedMem += page->fBlockSize;
                    stats.AddTag(SmallTag(block), page->fBlockSize);
                } else {
                    ++stats.fNbFreeSmallBlocks;
                    ++blocks.second;
                    stats.fFreeMem += page->fBlockSize;
                }
            }
            // Room of the page never handed out is free too.
            stats.fFreeMem += page->fPageSize - page->fBumpOffset;
        }
    }
}

}  // namespace bkit
