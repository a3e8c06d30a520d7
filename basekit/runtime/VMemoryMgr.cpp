// VMemoryMgr.cpp - the process-wide memory manager.
//
// This file implements VCppMemMgr, the system allocator VMemCppImpl_stdlib,
// VMemory, VMemoryHog, and the program's start-up and end of the global
// manager: initializer, finalizer and the static object that calls the first
// and registers the second before every other static initialiser.
#include "basekit/runtime/VMemoryMgr.h"

#include <malloc.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_LEAK__)
#define BKIT_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define BKIT_LEAK_CHECKED 1
#endif
#endif
#ifdef BKIT_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

#include "basekit/platform/BundleInfo.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VMemCppImpl.h"
#include "basekit/runtime/VSyncEvent.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

VCppMemMgr* VObject::sCppMemMgr = nullptr;
VCppMemMgr* VObject::sAlternateCppMemMgr = nullptr;

namespace {

constexpr int32_t kOwnImplCount = 4;
constexpr size_t kMinVirtualAllocation = 0xA00000;  // 10 MiB

XMemCppImpl* MakeOwnImpl(int32_t number)
{
    return new (std::nothrow) VMemCppImpl(number);
}

VCppMemMgr::OwnImplFactory sOwnImplFactory = &MakeOwnImpl;

// Runs before every static object of default priority. finalizer, registered
// here with atexit, therefore runs after the destructors of all of them.
struct MemoryManagerStartUp {
    MemoryManagerStartUp()
    {
        initializer();
        std::atexit(finalizer);
    }
};

MemoryManagerStartUp sMemoryManagerStartUp __attribute__((init_priority(101)));

}  // namespace

void initializer()
{
    if (!VObject::sCppMemMgr)
        VObject::sCppMemMgr = new VCppMemMgr(eAllocatorKind_FromBundle);
}

void finalizer()
{
    VProcess::sInstance = nullptr;
    VCppMemMgr* manager = VObject::sCppMemMgr;
    VObject::sCppMemMgr = nullptr;
    VObject::sAlternateCppMemMgr = nullptr;
    delete manager;
}

// --- VMemCppImpl_stdlib ---

void* VMemCppImpl_stdlib::Malloc(size_t size, unsigned char, unsigned char, OsType)
{
    return std::malloc(size);
}

void VMemCppImpl_stdlib::Free(void* block)
{
    std::free(block);
}

void* VMemCppImpl_stdlib::Realloc(void* block, size_t size)
{
    return std::realloc(block, size);
}

size_t VMemCppImpl_stdlib::GetPtrSize(const void* block)
{
    return block ? ::malloc_usable_size(const_cast<void*>(block)) : 0;
}

// --- VMemoryHog ---

VMemoryHog::VMemoryHog(int32_t taskID) : fCriticalSection(new VCriticalSection), fTaskID(taskID) {}

VMemoryHog::~VMemoryHog()
{
    delete fCriticalSection;
}

// --- VCppMemMgr: life ---

VCppMemMgr::VCppMemMgr(EAllocatorKind kind)
{
    _Init(kind, false, false);
}

VCppMemMgr::VCppMemMgr(EAllocatorKind kind, bool flag1, bool flag2)
{
    _Init(kind, flag1, flag2);
}

VCppMemMgr::~VCppMemMgr()
{
    for (XMemCppImpl* impl : fImpls)
        delete impl;
    fImpls.clear();
    delete fStdlibImpl;
    fStdlibImpl = nullptr;
    if (fPurgeEvent)
        fPurgeEvent->Release();
    for (VMemoryHog* hog : fHogs)
        delete hog;
    delete fHogsLock;
}

void* VCppMemMgr::operator new(size_t size) noexcept
{
    static_assert(alignof(VCppMemMgr) <= 8, "the manager lies 8 bytes into its region");
    size_t total = size + 8;
    void* region = VSystem::VirtualAlloc(total, nullptr);
    if (!region)
        return nullptr;
    *static_cast<uint64_t*>(region) = total;
#ifdef BKIT_LEAK_CHECKED
    // The leak checker scans no anonymous mapping: without this, the blocks
    // only the manager points to (its locks, its allocators) would be taken
    // for leaks by any check made while it lives.
    __lsan_register_root_region(region, total);
#endif
    return static_cast<char*>(region) + 8;
}

void VCppMemMgr::operator delete(void* object)
{
    if (!object)
        return;
    void* region = static_cast<char*>(object) - 8;
    size_t total = static_cast<size_t>(*static_cast<uint64_t*>(region));
#ifdef BKIT_LEAK_CHECKED
    __lsan_unregister_root_region(region, total);
#endif
    VSystem::VirtualFree(region, total, false);
}

VCppMemMgr::OwnImplFactory VCppMemMgr::SetOwnImplFactory(OwnImplFactory factory)
{
    OwnImplFactory previous = sOwnImplFactory;
    sOwnImplFactory = factory;
    return previous;
}

void VCppMemMgr::_Init(EAllocatorKind kind, bool flag1, bool flag2)
{
    fFlag1 = flag1;
    fFlag2 = flag2;
    fHogsLock = new VCriticalSection;

    bool own = false;
    bool system = false;
    switch (kind) {
        case eAllocatorKind_FromBundle: {
            std::string value;
            own = platform::BundleInfo::GetMainBundleInfoString("MemoryAllocator", value) &&
                  ::strcasecmp(value.c_str(), "bkit") == 0;
            system = !own;
            break;
        }
        case eAllocatorKind_System:
            system = true;
            break;
        case eAllocatorKind_Own:
            own = true;
            break;
        default:
            // Unknown kinds install no implementation: every request fails.
            break;
    }

    if (own) {
        // Without an own allocator in the build, the system one keeps the
        // program working rather than failing every allocation.
        if (sOwnImplFactory) {
            for (int32_t i = 0; i < kOwnImplCount; ++i) {
                XMemCppImpl* impl = sOwnImplFactory(i);
                if (!impl)
                    break;
                fImpls.push_back(impl);
            }
        }
        if (static_cast<int32_t>(fImpls.size()) == kOwnImplCount) {
            for (XMemCppImpl* impl : fImpls)
                impl->Init(this);
            fImplCount = kOwnImplCount;
            fCurrentImpl = 0;
            fPurgingImpl = -1;
            fMaxBlockSize = 0;
            fPurgeEvent = nullptr;
        } else {
            for (XMemCppImpl* impl : fImpls)
                delete impl;
            fImpls.clear();
            system = true;
        }
    }

    if (system) {
        fStdlibImpl = new VMemCppImpl_stdlib;
        fUseSystemAllocator = true;
    }
}

// --- VCppMemMgr: allocation ---

void* VCppMemMgr::Malloc(size_t size, bool flag, OsType tag, int32_t preferredImpl)
{
    if (fUseSystemAllocator)
        return std::malloc(size);
    return _OwnMalloc(size, flag, tag, preferredImpl);
}

void* VCppMemMgr::Calloc(int32_t count, size_t size, OsType tag)
{
    if (count < 0)
        return nullptr;
    size_t total = 0;
    if (__builtin_mul_overflow(static_cast<size_t>(count), size, &total))
        return nullptr;
    void* block = Malloc(total, false, tag, -1);
    if (block)
        std::memset(block, 0, total);
    return block;
}

void* VCppMemMgr::Realloc(void* block, size_t size)
{
    if (!block)
        return Malloc(size, false, 0, -1);
    if (size == 0) {
        Free(block);
        return nullptr;
    }
    void* newBlock = Malloc(size, false, kMemTag_Grow, -1);
    if (!newBlock)
        return nullptr;
    size_t oldSize = GetPtrSize(block);
    std::memcpy(newBlock, block, oldSize < size ? oldSize : size);
    Free(block);
    return newBlock;
}

void VCppMemMgr::Free(void* block)
{
    if (fUseSystemAllocator) {
        std::free(block);
        return;
    }
    if (!block)
        return;
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    if (!fImpls.empty())
        fImpls[0]->Free(block);
}

size_t VCppMemMgr::GetPtrSize(const void* block)
{
    if (!block)
        return 0;
    if (fUseSystemAllocator)
        return ::malloc_usable_size(const_cast<void*>(block));
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    return fImpls.empty() ? 0 : fImpls[0]->GetPtrSize(block);
}

bool VCppMemMgr::CheckPtr(const void* block)
{
    if (fUseSystemAllocator)
        return true;
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    return !fImpls.empty() && fImpls[0]->CheckPtr(block);
}

void* VCppMemMgr::_TryImpl(int32_t impl, size_t size, bool flag, OsType tag)
{
    return fImpls[static_cast<size_t>(impl)]->Malloc(size, 0, flag ? 1 : 0, tag);
}

void* VCppMemMgr::_OwnMalloc(size_t size, bool flag, OsType tag, int32_t preferredImpl)
{
    std::unique_lock<std::recursive_mutex> lock(fMutex);
    if (fImplCount <= 0 || size > fMaxBlockSize)
        return nullptr;

    // The walk ends once the current index has come round to where this call
    // began, or after as many purges or waits as there are implementations:
    // either way every implementation has been purged once meanwhile.
    const int32_t start = fCurrentImpl;
    bool firstPurge = true;
    for (int32_t round = 0; round < fImplCount; ++round) {
        if (preferredImpl >= 0 && preferredImpl < fImplCount && preferredImpl != fPurgingImpl) {
            if (void* block = _TryImpl(preferredImpl, size, flag, tag))
                return block;
        }
        int32_t i = fCurrentImpl;
        do {
            if (i != preferredImpl && i != fPurgingImpl) {
                if (void* block = _TryImpl(i, size, flag, tag))
                    return block;
            }
            i = (i + 1) % fImplCount;
        } while (i != fCurrentImpl);

        if (fPurgingImpl == -1) {
            _RunPurge(lock, fCurrentImpl, size, firstPurge);
            firstPurge = false;
            fCurrentImpl = (fCurrentImpl + 1) % fImplCount;
            i = fCurrentImpl;
            do {
                if (i != fPurgingImpl) {
                    if (void* block = _TryImpl(i, size, flag, tag))
                        return block;
                }
                i = (i + 1) % fImplCount;
            } while (i != fCurrentImpl);
        } else if (fPurgingThread == std::this_thread::get_id()) {
            // The purge handler itself ran dry: waiting would wait for itself.
            return nullptr;
        } else {
            _WaitForPurge(lock);
        }

        if (fCurrentImpl == start)
            return nullptr;
        preferredImpl = -1;
    }
    return nullptr;
}

void VCppMemMgr::_WaitForPurge(std::unique_lock<std::recursive_mutex>& lock)
{
    VSyncEvent* event = fPurgeEvent;
    if (!event)
        return;
    event->Retain();
    lock.unlock();
    event->Lock();
    event->Release();
    lock.lock();
}

void VCppMemMgr::_RunPurge(std::unique_lock<std::recursive_mutex>& lock, int32_t impl, size_t size, bool firstAttempt)
{
    fPurgeEvent = new VSyncEvent;
    fPurgingImpl = impl;
    fPurgingThread = std::this_thread::get_id();
    PurgeHandlerProc handler = fPurgeHandler;

    lock.unlock();
    if (handler)
        handler(impl, size, firstAttempt);
    lock.lock();

    VSyncEvent* event = fPurgeEvent;
    fPurgeEvent = nullptr;
    fPurgingImpl = -1;
    fPurgingThread = std::thread::id();
    event->Set();
    event->Release();
}

void VCppMemMgr::PurgeMem(int32_t impl)
{
    if (fUseSystemAllocator)
        return;
    std::unique_lock<std::recursive_mutex> lock(fMutex);
    while (fPurgingImpl != -1) {
        if (fPurgingThread == std::this_thread::get_id())
            return;
        _WaitForPurge(lock);
    }
    _RunPurge(lock, impl == -1 ? 0 : impl, 0, true);
}

VCppMemMgr::PurgeHandlerProc VCppMemMgr::SetPurgeHandlerProc(PurgeHandlerProc handler)
{
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    PurgeHandlerProc previous = fPurgeHandler;
    fPurgeHandler = handler;
    return previous;
}

// --- VCppMemMgr: statistics ---

size_t VCppMemMgr::GetAllocatedMem()
{
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    if (fUseSystemAllocator)
        return fStdlibImpl->GetTotalAllocation();
    size_t total = 0;
    for (XMemCppImpl* impl : fImpls)
        total += impl->GetTotalAllocation();
    return total;
}

void VCppMemMgr::GetMemStatistics(size_t& s1, size_t& s2, size_t& allocated, size_t& s4, size_t& s5,
                                  size_t& s6, size_t& s7, size_t& s8, size_t& s9)
{
    s1 = s2 = s4 = s5 = s6 = s7 = s8 = s9 = 0;
    allocated = GetAllocatedMem();
}

void VCppMemMgr::GetMemUsageInfo(size_t& used, size_t& free)
{
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    used = 0;
    free = 0;
    if (fUseSystemAllocator) {
        fStdlibImpl->GetMemUsageInfo(used, free);
        return;
    }
    for (XMemCppImpl* impl : fImpls) {
        size_t implUsed = 0;
        size_t implFree = 0;
        impl->GetMemUsageInfo(implUsed, implFree);
        used += implUsed;
        free += implFree;
    }
}

void VCppMemMgr::GetStatistics(VMemStats& stats, int impl)
{
    stats.Clear();
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    const int32_t count = static_cast<int32_t>(fImpls.size());
    if (impl >= 0 && impl < count) {
        fImpls[static_cast<size_t>(impl)]->GetStats(stats, static_cast<int16_t>(impl));
        return;
    }
    for (int32_t i = 0; i < count; ++i)
        fImpls[static_cast<size_t>(i)]->GetStats(stats, static_cast<int16_t>(i));
}

int32_t VCppMemMgr::GetAllocationBlockNumber(const void* block)
{
    if (fUseSystemAllocator)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    return fImpls.empty() ? 0 : fImpls[0]->GetAllocationBlockNumber(block);
}

bool VCppMemMgr::AddVirtualAllocation(size_t size, const void* address, bool physical)
{
    if (fUseSystemAllocator || fImplCount <= 0)
        return false;
    if (size < kMinVirtualAllocation)
        return true;
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    size_t share = size / static_cast<size_t>(fImplCount);
    for (int32_t i = 0; i < fImplCount; ++i) {
        // A hinted layout stays contiguous: share after share.
        const void* hint = address ? static_cast<const char*>(address) + share * static_cast<size_t>(i) : nullptr;
        bool isPhysical = false;
        void* region = physical ? VSystem::VirtualAllocPhysicalMemory(share, hint, &isPhysical)
                                : VSystem::VirtualAlloc(share, hint);
        if (!region)
            return false;
        if (!fImpls[static_cast<size_t>(i)]->AddAlreadyAllocatedMem(region, share, isPhysical)) {
            VSystem::VirtualFree(region, share, isPhysical);
            return false;
        }
        if (share > fMaxBlockSize)
            fMaxBlockSize = share;
    }
    return true;
}

int32_t VCppMemMgr::CountVirtualAllocations()
{
    std::lock_guard<std::recursive_mutex> lock(fMutex);
    if (fUseSystemAllocator)
        return fStdlibImpl->CountAllocations();
    int32_t count = 0;
    for (XMemCppImpl* impl : fImpls)
        count += impl->CountAllocations();
    return count;
}

// --- VCppMemMgr: memory hogs ---

VMemoryHog* VCppMemMgr::RegisterMemHog()
{
    VMemoryHog* hog = new (std::nothrow) VMemoryHog(VTask::GetCurrentID());
    if (!hog)
        return nullptr;
    StLocker<VCriticalSection> locker(fHogsLock);
    try {
        fHogs.push_back(hog);
    } catch (const std::bad_alloc&) {
        delete hog;
        return nullptr;
    }
    return hog;
}

bool VCppMemMgr::UnRegisterMemHog(VMemoryHog* hog)
{
    {
        StLocker<VCriticalSection> locker(fHogsLock);
        auto it = std::find(fHogs.begin(), fHogs.end(), hog);
        if (it == fHogs.end())
            return false;
        fHogs.erase(it);
    }
    delete hog;
    return true;
}

// --- VMemory ---

void* VMemory::NewPtr(size_t size, OsType tag)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager ? manager->Malloc(size, false, tag, -1) : std::malloc(size);
}

void* VMemory::NewPtrClear(size_t size, OsType tag)
{
    void* block = NewPtr(size, tag);
    if (block)
        std::memset(block, 0, size);
    return block;
}

void VMemory::DisposePtr(void* block)
{
    if (!block)
        return;
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (manager)
        manager->Free(block);
    else
        std::free(block);
}

void* VMemory::SetPtrSize(void* block, size_t size)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (manager)
        return manager->Realloc(block, size);
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

size_t VMemory::GetPtrSize(const void* block)
{
    if (!block)
        return 0;
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager ? manager->GetPtrSize(block) : ::malloc_usable_size(const_cast<void*>(block));
}

}  // namespace bkit
