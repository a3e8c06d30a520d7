// VMemoryMgr.h - the process-wide memory manager and its allocator interface.
//
// This file defines VCppMemMgr, through which every explicit block of the
// toolbox is allocated, resized and freed with a four-character tag; XMemCppImpl,
// the interface of the allocators it runs on; VMemCppImpl_stdlib, the system
// allocator; VMemory, plain static allocation functions over the global manager;
// and VMemoryHog, a task's registration as a big memory user.
//
// Contracts:
// - One global manager is created by the first static initialiser of the program
//   (VObject::sCppMemMgr, through initializer) and deleted by finalizer after
//   every other static object. Code that runs before or after it (static
//   initialisers of other libraries, late destructors) finds a null pointer;
//   VMemory falls back to malloc then, which is what the system mode does anyway.
// - The manager never raises errors: a failed allocation answers null (or false);
//   callers raise 'bkit' 100 themselves. A failed Realloc leaves the old block
//   valid.
// - Thread-safety: every operation may be called from any thread. In system mode
//   Malloc, Calloc, Realloc and Free take no lock (the system allocator is
//   thread-safe); with the own allocator every call is serialised on the
//   manager's recursive mutex, and the purge handler runs without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VMemStats.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VCppMemMgr;
class VMemStats;
class VSyncEvent;
class VCriticalSection;

// How a manager chooses its allocator.
enum EAllocatorKind : int32_t {
    // The main bundle's "MemoryAllocator" key: "bkit" (any case) selects the own
    // allocator, anything else or no key the system allocator.
    eAllocatorKind_FromBundle = 0,
    eAllocatorKind_System = 1,
    eAllocatorKind_Own = 2,
};

// Allocation tags used by the manager itself.
constexpr OsType kMemTag_Buffer = MakeOsType("memb");   // growth of VMemoryBuffer
constexpr OsType kMemTag_Grow = MakeOsType("grow");     // new block of Realloc

// The interface of one allocator implementation. The manager owns its
// implementations and calls them under its mutex in own mode.
class XMemCppImpl {
public:
    virtual ~XMemCppImpl() = default;

    virtual void Init(VCppMemMgr* manager) = 0;
    virtual void* Malloc(size_t size, unsigned char bigOnly, unsigned char flag, OsType tag) = 0;
    // Frees a block of this implementation or hands it to the one that owns it.
    virtual void Free(void* block) = 0;
    virtual void* Realloc(void* block, size_t size) = 0;
    // The usable size of a block.
    virtual size_t GetPtrSize(const void* block) = 0;
    virtual bool CheckPtr(const void* block) = 0;
    virtual bool Check() = 0;
    // Adds a region of its own (size, address hint, physical).
    virtual bool AddAllocation(size_t size, const void* address, unsigned char physical) = 0;
    virtual int32_t CountAllocations() = 0;
    virtual void SetAutoAllocationState(bool on) = 0;
    virtual void GetStats(VMemStats& stats, int16_t impl) = 0;
    virtual size_t GetTotalAllocation() = 0;
    virtual void GetMemUsageInfo(size_t& used, size_t& free) = 0;

    // Takes over a region the manager obtained from virtual memory.
    virtual bool AddAlreadyAllocatedMem(void* address, size_t size, bool physical) = 0;
    // The number of the implementation that owns the block.
    virtual int32_t GetAllocationBlockNumber(const void* block) = 0;
};

// The system allocator: malloc, free, malloc_usable_size. Tags and flags are ignored.
class VMemCppImpl_stdlib : public XMemCppImpl {
public:
    void Init(VCppMemMgr*) override {}
    void* Malloc(size_t size, unsigned char, unsigned char, OsType) override;
    void Free(void* block) override;
    void* Realloc(void* block, size_t size) override;
    size_t GetPtrSize(const void* block) override;
    bool CheckPtr(const void*) override { return true; }
    bool Check() override { return true; }
    bool AddAllocation(size_t, const void*, unsigned char) override { return false; }
    int32_t CountAllocations() override { return 0; }
    void SetAutoAllocationState(bool) override {}
    void GetStats(VMemStats&, int16_t) override {}
    // The system allocator keeps no totals; these are fixed answers.
    size_t GetTotalAllocation() override { return 1048576; }
    void GetMemUsageInfo(size_t& used, size_t& free) override { used = 1048576; free = 0; }
    bool AddAlreadyAllocatedMem(void*, size_t, bool) override { return false; }
    int32_t GetAllocationBlockNumber(const void*) override { return 0; }
};

// A task's registration as a big memory user.
class VMemoryHog {
public:
    explicit VMemoryHog(int32_t taskID);
    ~VMemoryHog();

    VCriticalSection* GetCriticalSection() const { return fCriticalSection; }
    int32_t GetTaskID() const { return fTaskID; }

private:
    VMemoryHog(const VMemoryHog&) = delete;
    VMemoryHog& operator=(const VMemoryHog&) = delete;

    VCriticalSection* fCriticalSection;
    int32_t fTaskID;
};

class VCppMemMgr : public VObject {
public:
    // Called when the own allocator runs dry, without the manager's mutex:
    // (implementation being purged, requested size, first attempt of this call).
    using PurgeHandlerProc = size_t (*)(int32_t impl, size_t size, bool firstAttempt);

    // Makes the own allocator's implementation number n (0 to 3). Null means the
    // own allocator is not available; the manager then uses the system allocator.
    using OwnImplFactory = XMemCppImpl* (*)(int32_t number);

    explicit VCppMemMgr(EAllocatorKind kind = eAllocatorKind_FromBundle);
    // The two flags are kept and passed nowhere.
    VCppMemMgr(EAllocatorKind kind, bool flag1, bool flag2);
    ~VCppMemMgr() override;

    // The manager itself lives in virtual memory, not in the heap it manages.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* object);

    // Allocates a block of size bytes; preferredImpl (own mode) names the
    // implementation to try first, -1 for none. Null on failure.
    void* Malloc(size_t size, bool flag, OsType tag, int32_t preferredImpl = -1);

    // count × size bytes, zero-filled. Null on failure or overflow.
    void* Calloc(int32_t count, size_t size, OsType tag);

    // Null block: allocates. Size 0: frees the block and answers null. Otherwise
    // a new block (tag 'grow') receives the old bytes (as many as fit) and the old
    // block is freed. On failure the answer is null and the old block stays valid.
    void* Realloc(void* block, size_t size);

    // Frees a block of this manager; null is ignored.
    void Free(void* block);

    // The usable size of a block (0 for null).
    size_t GetPtrSize(const void* block);

    // Whether the block looks like one of this manager's. The system allocator
    // cannot tell and answers true.
    bool CheckPtr(const void* block);

    // --- statistics ---
    size_t GetAllocatedMem();
    size_t GetMaxFree() { return 0; }
    void GetMemStatistics(size_t& s1, size_t& s2, size_t& allocated, size_t& s4, size_t& s5,
                          size_t& s6, size_t& s7, size_t& s8, size_t& s9);
    void GetMemUsageInfo(size_t& used, size_t& free);
    // Zeroes stats and adds the statistics of implementation impl, or of all of
    // them when impl is no valid index. The system allocator adds nothing.
    void GetStatistics(VMemStats& stats, int impl);
    // Own mode: the implementation that owns the block; 0 in system mode.
    int32_t GetAllocationBlockNumber(const void* block);

    // --- own allocator ---

    // Gives every implementation an equal share of a new virtual-memory region
    // of size bytes. Sizes under 10 MiB are refused with true and no effect.
    // False when a region cannot be obtained; 0 (false) in system mode.
    bool AddVirtualAllocation(size_t size, const void* address, bool physical);
    int32_t CountVirtualAllocations();

    // Installs the purge handler and answers the previous one.
    PurgeHandlerProc SetPurgeHandlerProc(PurgeHandlerProc handler);

    // Runs the purge handler for one implementation (-1: implementation 0),
    // waiting first for a purge already running. Nothing in system mode.
    void PurgeMem(int32_t impl);

    // --- memory hogs ---
    // Registers the calling task; null when the list cannot grow.
    VMemoryHog* RegisterMemHog();
    // Unlists and deletes the hog; false when it was not listed.
    bool UnRegisterMemHog(VMemoryHog* hog);

    static const void* CheckVObject(const void* object) { return object; }

    bool IsSystemAllocator() const { return fUseSystemAllocator; }
    int32_t GetImplCount() const { return fImplCount; }
    // Own mode: implementation index (no ownership); null out of range.
    XMemCppImpl* GetImpl(int32_t index) const
    {
        return (index >= 0 && index < static_cast<int32_t>(fImpls.size())) ? fImpls[static_cast<size_t>(index)] : nullptr;
    }
    VLeaksChecker& GetLeaksChecker() { return fLeaksChecker; }
    size_t GetMaxBlockSize() const { return fMaxBlockSize; }

    // Test seam: the factory of the own allocator's implementations (by
    // default the toolbox's VMemCppImpl); answers the previous one. Managers
    // built afterwards use it.
    static OwnImplFactory SetOwnImplFactory(OwnImplFactory factory);

private:
    VCppMemMgr(const VCppMemMgr&) = delete;
    VCppMemMgr& operator=(const VCppMemMgr&) = delete;

    void _Init(EAllocatorKind kind, bool flag1, bool flag2);
    void* _OwnMalloc(size_t size, bool flag, OsType tag, int32_t preferredImpl);
    void* _TryImpl(int32_t impl, size_t size, bool flag, OsType tag);
    // Waits, with the mutex held on entry and on return, for the running purge.
    void _WaitForPurge(std::unique_lock<std::recursive_mutex>& lock);
    // Runs one purge of impl; the mutex is held on entry and on return.
    void _RunPurge(std::unique_lock<std::recursive_mutex>& lock, int32_t impl, size_t size, bool firstAttempt);

    std::recursive_mutex fMutex;
    std::vector<XMemCppImpl*> fImpls;
    XMemCppImpl* fStdlibImpl = nullptr;
    int32_t fImplCount = 0;
    int32_t fCurrentImpl = 0;
    int32_t fPurgingImpl = -1;
    size_t fMaxBlockSize = 0;
    VSyncEvent* fPurgeEvent = nullptr;
    PurgeHandlerProc fPurgeHandler = nullptr;
    bool fFlag1 = false;
    bool fFlag2 = false;
    bool fUseSystemAllocator = false;

    // The thread running the purge handler, so that it never waits for itself.
    std::thread::id fPurgingThread;

    VCriticalSection* fHogsLock = nullptr;
    std::vector<VMemoryHog*> fHogs;
    VLeaksChecker fLeaksChecker;
};

// The program's start-up of the global manager: creates VObject::sCppMemMgr
// (allocator chosen by the bundle) when there is none. A program's entry may call
// it again to make sure the manager exists.
void initializer();
// The program's end: clears VProcess::sInstance, VObject::sCppMemMgr and
// VObject::sAlternateCppMemMgr, then deletes the manager. Registered with atexit
// by the first static initialiser, so it runs after every static destructor;
// nothing may allocate through the manager afterwards.
void finalizer();

// Plain allocation functions over the global manager (malloc when there is none).
class VMemory {
public:
    static void* NewPtr(size_t size, OsType tag);
    static void* NewPtrClear(size_t size, OsType tag);
    // Null is ignored.
    static void DisposePtr(void* block);
    static void* SetPtrSize(void* block, size_t size);
    static size_t GetPtrSize(const void* block);
};

}  // namespace bkit
