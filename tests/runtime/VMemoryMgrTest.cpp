// VMemoryMgrTest.cpp - the memory manager, its byte buffer and its bundle key.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "basekit/platform/BundleInfo.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/runtime/VSystem.h"

using namespace bkit;

namespace {

// --- a test allocator for the own mode ---

// Blocks of every fake implementation, with their owner and size, so that any
// implementation can hand a block to its owner as the real ones do.
std::mutex gBlocksMutex;
std::map<void*, std::pair<int32_t, size_t>> gBlocks;

class FakeImpl : public XMemCppImpl {
public:
    explicit FakeImpl(int32_t number) : fNumber(number) {}
    ~FakeImpl() override
    {
        for (auto& region : fRegions)
            VSystem::VirtualFree(region.first, region.second, false);
    }

    void Init(VCppMemMgr* manager) override { fManager = manager; ++fInitCalls; }
    void* Malloc(size_t size, unsigned char, unsigned char, OsType tag) override
    {
        ++fMallocCalls;
        fLastTag = tag;
        if (size > fLimit)
            return nullptr;
        void* block = std::malloc(size ? size : 1);
        std::lock_guard<std::mutex> lock(gBlocksMutex);
        gBlocks[block] = {fNumber, size};
        return block;
    }
    void Free(void* block) override
    {
        std::lock_guard<std::mutex> lock(gBlocksMutex);
        if (gBlocks.erase(block))
            std::free(block);
    }
    void* Realloc(void*, size_t) override { return nullptr; }
    size_t GetPtrSize(const void* block) override
    {
        std::lock_guard<std::mutex> lock(gBlocksMutex);
        auto it = gBlocks.find(const_cast<void*>(block));
        return it == gBlocks.end() ? 0 : it->second.second;
    }
    bool CheckPtr(const void* block) override { return GetPtrSize(block) > 0; }
    bool Check() override { return true; }
    bool AddAllocation(size_t, const void*, unsigned char) override { return false; }
    int32_t CountAllocations() override { return static_cast<int32_t>(fRegions.size()); }
    void SetAutoAllocationState(bool) override {}
    void GetStats(VMemStats&, int16_t) override {}
    size_t GetTotalAllocation() override
    {
        size_t total = 0;
        for (auto& region : fRegions)
            total += region.second;
        return total;
    }
    void GetMemUsageInfo(size_t& used, size_t& free) override { used = GetTotalAllocation(); free = 0; }
    bool AddAlreadyAllocatedMem(void* address, size_t size, bool) override
    {
        // The region must be ours to write to.
        std::memset(address, 0xAB, size);
        fRegions.push_back({address, size});
        return true;
    }
    int32_t GetAllocationBlockNumber(const void* block) override
    {
        std::lock_guard<std::mutex> lock(gBlocksMutex);
        auto it = gBlocks.find(const_cast<void*>(block));
        return it == gBlocks.end() ? -1 : it->second.first;
    }

    int32_t fNumber;
    VCppMemMgr* fManager = nullptr;
    std::atomic<int> fInitCalls{0};
    std::atomic<int> fMallocCalls{0};
    std::atomic<size_t> fLimit{SIZE_MAX};
    OsType fLastTag = 0;
    std::vector<std::pair<void*, size_t>> fRegions;
};

FakeImpl* gFakes[4] = {};

XMemCppImpl* MakeFake(int32_t number)
{
    gFakes[number] = new FakeImpl(number);
    return gFakes[number];
}

// A manager on the fake allocator, served as if memory had been added.
class OwnManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fPrevious = VCppMemMgr::SetOwnImplFactory(MakeFake);
        fManager = new VCppMemMgr(eAllocatorKind_Own);
        ASSERT_NE(fManager, nullptr);
        ASSERT_FALSE(fManager->IsSystemAllocator());
        ASSERT_TRUE(fManager->AddVirtualAllocation(16 * 1024 * 1024, nullptr, false));
    }
    void TearDown() override
    {
        delete fManager;
        VCppMemMgr::SetOwnImplFactory(fPrevious);
        std::fill(std::begin(gFakes), std::end(gFakes), nullptr);
    }
    void SetLimits(size_t limit)
    {
        for (FakeImpl* fake : gFakes)
            fake->fLimit = limit;
    }
    int TotalMallocCalls()
    {
        int total = 0;
        for (FakeImpl* fake : gFakes)
            total += fake->fMallocCalls;
        return total;
    }

    VCppMemMgr::OwnImplFactory fPrevious = nullptr;
    VCppMemMgr* fManager = nullptr;
};

// --- a bundle on disk for the "MemoryAllocator" key ---

class TempBundle {
public:
    TempBundle()
    {
        char pattern[] = "/tmp/bkit-memtest-XXXXXX";
        fRoot = ::mkdtemp(pattern);
        fBundle = fRoot + "/Test.app";
        ::mkdir(fBundle.c_str(), 0755);
        ::mkdir((fBundle + "/Contents").c_str(), 0755);
        ::mkdir((fBundle + "/Contents/MacOS").c_str(), 0755);
        fExecutable = fBundle + "/Contents/MacOS/Test";
        std::ofstream(fExecutable) << "";
    }
    ~TempBundle()
    {
        platform::BundleInfo::SetExecutablePathForTesting(nullptr);
        std::string command = "rm -rf '" + fRoot + "'";
        (void)std::system(command.c_str());
    }
    void WriteInfo(const std::string& dictBody)
    {
        std::ofstream(fBundle + "/Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n<dict>\n"
            << dictBody << "</dict>\n</plist>\n";
    }
    void Activate() { platform::BundleInfo::SetExecutablePathForTesting(fExecutable.c_str()); }

    std::string fRoot, fBundle, fExecutable;
};

}  // namespace

// --- the global manager ---

// Taken by this file's static initialiser, which the linker places before the
// library's: the manager must already be there.
VCppMemMgr* const gManagerAtStaticInit = VObject::sCppMemMgr;

TEST(VMemoryMgr, GlobalManagerExistsAndUsesTheSystemAllocator)
{
    EXPECT_NE(gManagerAtStaticInit, nullptr);
    EXPECT_EQ(gManagerAtStaticInit, VObject::sCppMemMgr);
    // The test program lies in no bundle, so no key selects the own allocator.
    ASSERT_NE(VObject::sCppMemMgr, nullptr);
    EXPECT_TRUE(VObject::sCppMemMgr->IsSystemAllocator());
    // The manager lives in a region of its own, behind the region's size.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(VObject::sCppMemMgr) % static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)), 8u);
    size_t s[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    VObject::sCppMemMgr->GetMemStatistics(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8]);
    EXPECT_EQ(s[2], 1048576u);
    EXPECT_EQ(s[0] + s[1] + s[3] + s[4] + s[5] + s[6] + s[7] + s[8], 0u);
}

TEST(VMemoryMgr, ProgramStartUpAndEndOfTheGlobalManager)
{
    EXPECT_EQ(VObject::sAlternateCppMemMgr, nullptr);
    ASSERT_NE(VProcess::sInstance, nullptr);
    // The end deletes the manager: it runs in a child, which leaves through
    // the kernel at once so that nothing touches the manager after it (nor
    // a sanitizer's exit checks, which take the parent's finished threads
    // for leaked ones in a forked child).
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int failures = 0;
        VCppMemMgr* manager = VObject::sCppMemMgr;
        initializer();
        if (VObject::sCppMemMgr != manager)
            failures |= 1;  // an existing manager is kept
        VObject::sAlternateCppMemMgr = manager;
        finalizer();
        if (VObject::sCppMemMgr || VObject::sAlternateCppMemMgr || VProcess::sInstance)
            failures |= 2;
        initializer();
        if (!VObject::sCppMemMgr || !VObject::sCppMemMgr->IsSystemAllocator())
            failures |= 4;
        syscall(SYS_exit_group, failures);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "bits: 1 existing manager replaced, 2 not cleared, 4 not rebuilt";
}

// --- the choice of allocator ---

TEST(VMemoryMgr, AllocatorChoice)
{
    VCppMemMgr::OwnImplFactory previous = VCppMemMgr::SetOwnImplFactory(MakeFake);
    struct Case {
        const char* dictBody;  // null: no Info.plist at all
        EAllocatorKind kind;
        bool expectSystem;
    } cases[] = {
        {nullptr, eAllocatorKind_FromBundle, true},
        {"<key>CFBundleName</key><string>Test</string>\n", eAllocatorKind_FromBundle, true},
        {"<key>MemoryAllocator</key><string>stdlib</string>\n", eAllocatorKind_FromBundle, true},
        {"<key>MemoryAllocator</key><string>STDLIB</string>\n", eAllocatorKind_FromBundle, true},
        {"<key>MemoryAllocator</key><string>jemalloc</string>\n", eAllocatorKind_FromBundle, true},
        {"<key>MemoryAllocator</key><string>bkit</string>\n", eAllocatorKind_FromBundle, false},
        {"<key>MemoryAllocator</key><string>BKit</string>\n", eAllocatorKind_FromBundle, false},
        {"<key>MemoryAllocator</key><true/>\n", eAllocatorKind_FromBundle, true},
        // A key of a nested dictionary is not the bundle's key.
        {"<key>Nested</key><dict><key>MemoryAllocator</key><string>bkit</string></dict>\n", eAllocatorKind_FromBundle, true},
        {"<key>MemoryAllocator</key><string>bkit</string>\n", eAllocatorKind_System, true},
        {nullptr, eAllocatorKind_Own, false},
    };
    for (const Case& c : cases) {
        TempBundle bundle;
        if (c.dictBody)
            bundle.WriteInfo(c.dictBody);
        bundle.Activate();
        VCppMemMgr* manager = new VCppMemMgr(c.kind);
        ASSERT_NE(manager, nullptr);
        EXPECT_EQ(manager->IsSystemAllocator(), c.expectSystem) << (c.dictBody ? c.dictBody : "(no list)") << " kind " << c.kind;
        if (!c.expectSystem) {
            EXPECT_EQ(manager->GetImplCount(), 4);
            for (FakeImpl* fake : gFakes)
                EXPECT_EQ(fake->fInitCalls, 1);
            // Nothing is served before memory is added.
            EXPECT_EQ(manager->Malloc(16, false, MakeOsType("test")), nullptr);
        }
        delete manager;
    }
    VCppMemMgr::SetOwnImplFactory(previous);
}

TEST(VMemoryMgr, OwnAllocatorMissingFallsBackToSystem)
{
    VCppMemMgr::OwnImplFactory previous = VCppMemMgr::SetOwnImplFactory(nullptr);
    VCppMemMgr* manager = new VCppMemMgr(eAllocatorKind_Own);
    EXPECT_TRUE(manager->IsSystemAllocator());
    void* block = manager->Malloc(100, false, MakeOsType("test"));
    EXPECT_NE(block, nullptr);
    manager->Free(block);
    delete manager;
    VCppMemMgr::SetOwnImplFactory(previous);
}

// --- the information-list reader ---

TEST(BundleInfo, ReadsTopLevelStrings)
{
    const char* list =
        "<?xml version=\"1.0\"?>\n<!-- comment <dict> -->\n<plist version=\"1.0\"><dict>\n"
        "  <key>Array</key><array><string>x</string><dict><key>Inner</key><string>no</string></dict></array>\n"
        "  <key>Empty</key><string/>\n"
        "  <key>Entities</key><string>a&amp;b &lt;c&gt; &#233;&#x20AC;</string>\n"
        "  <key>CData</key><string><![CDATA[<raw>&]]></string>\n"
        "  <key>Number</key><integer>3</integer>\n"
        "  <key>Inner</key><string>yes</string>\n"
        "</dict></plist>\n";
    struct Case {
        const char* key;
        bool found;
        const char* value;
    } cases[] = {
        {"Empty", true, ""},
        {"Entities", true, "a&b <c> \xC3\xA9\xE2\x82\xAC"},
        {"CData", true, "<raw>&"},
        {"Inner", true, "yes"},
        {"Number", false, ""},
        {"Missing", false, ""},
    };
    for (const Case& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(platform::BundleInfo::FindInfoString(list, std::strlen(list), c.key, value), c.found) << c.key;
        if (c.found)
            EXPECT_EQ(value, c.value) << c.key;
        else
            EXPECT_EQ(value, "untouched") << c.key;
    }
}

TEST(BundleInfo, RejectsBrokenLists)
{
    const char* lists[] = {
        "",
        "<plist><array><string>MemoryAllocator</string></array></plist>",
        "<plist><dict><key>MemoryAllocator</key><string>bkit",  // cut short
        "<plist><dict><key>MemoryAllocator</key><string>a &bogus; b</string></dict></plist>",
        "bplist00\x01\x02",
    };
    for (const char* list : lists) {
        std::string value;
        EXPECT_FALSE(platform::BundleInfo::FindInfoString(list, std::strlen(list), "MemoryAllocator", value)) << list;
    }
}

TEST(BundleInfo, BundleOnlyAtContentsMacOS)
{
    struct Case {
        const char* executable;
        const char* bundle;
    } cases[] = {
        {"/Applications/Up.app/Contents/MacOS/Up", "/Applications/Up.app"},
        {"/usr/bin/updater", ""},
        {"/x/Contents/Resources/Up", ""},
        {"/Contents/MacOS/Up", ""},
    };
    for (const Case& c : cases) {
        platform::BundleInfo::SetExecutablePathForTesting(c.executable);
        EXPECT_EQ(platform::BundleInfo::GetMainBundlePath(), c.bundle) << c.executable;
    }
    platform::BundleInfo::SetExecutablePathForTesting(nullptr);
    EXPECT_FALSE(platform::BundleInfo::GetExecutablePath().empty());
}

// --- system mode ---

TEST(VMemoryMgr, ReallocKeepsBytesAndFreesOnZero)
{
    VCppMemMgr* manager = new VCppMemMgr(eAllocatorKind_System);
    char* block = static_cast<char*>(manager->Realloc(nullptr, 8));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcdefgh", 8);

    char* grown = static_cast<char*>(manager->Realloc(block, 4096));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "abcdefgh", 8), 0);
    EXPECT_GE(manager->GetPtrSize(grown), 4096u);

    char* shrunk = static_cast<char*>(manager->Realloc(grown, 3));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(std::memcmp(shrunk, "abc", 3), 0);

    EXPECT_EQ(manager->Realloc(shrunk, 0), nullptr);
    delete manager;
}

TEST(VMemoryMgr, CallocZeroFillsAndRefusesOverflow)
{
    VCppMemMgr* manager = new VCppMemMgr(eAllocatorKind_System);
    unsigned char* block = static_cast<unsigned char*>(manager->Calloc(10, 7, MakeOsType("test")));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 70; ++i)
        ASSERT_EQ(block[i], 0) << i;
    manager->Free(block);
    EXPECT_EQ(manager->Calloc(2, SIZE_MAX / 2 + 1, MakeOsType("test")), nullptr);
    EXPECT_EQ(manager->Calloc(-1, 8, MakeOsType("test")), nullptr);
    // The own allocator's operations answer nothing in system mode.
    EXPECT_FALSE(manager->AddVirtualAllocation(32 * 1024 * 1024, nullptr, false));
    EXPECT_EQ(manager->GetAllocationBlockNumber(nullptr), 0);
    delete manager;
}

TEST(VMemory, PlainFunctions)
{
    VMemory::DisposePtr(nullptr);
    unsigned char* block = static_cast<unsigned char*>(VMemory::NewPtrClear(64, MakeOsType("test")));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(block[i], 0);
    block[63] = 7;
    block = static_cast<unsigned char*>(VMemory::SetPtrSize(block, 128));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[63], 7);
    EXPECT_GE(VMemory::GetPtrSize(block), 128u);
    VMemory::DisposePtr(block);
}

TEST(VMemoryMgr, MemoryHogs)
{
    VCppMemMgr* manager = new VCppMemMgr(eAllocatorKind_System);
    VMemoryHog* first = manager->RegisterMemHog();
    VMemoryHog* second = manager->RegisterMemHog();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first->GetCriticalSection(), nullptr);
    EXPECT_TRUE(manager->UnRegisterMemHog(first));
    EXPECT_FALSE(manager->UnRegisterMemHog(first));
    delete manager;  // still owns the second one
}

// --- virtual memory ---

TEST(VSystemMemory, AllocatesAtAFreeAddressOnly)
{
    const size_t size = 3 * 4096 + 1;  // rounded up to whole pages
    char* region = static_cast<char*>(VSystem::VirtualAlloc(size, nullptr));
    ASSERT_NE(region, nullptr);
    region[size - 1] = 1;
    // The same range is taken: an explicit address is never moved or overlaid.
    EXPECT_EQ(VSystem::VirtualAlloc(4096, region), nullptr);
    VSystem::VirtualFree(region, size, false);
    // Once free, the same address is honoured exactly. Another thread of the
    // process (a sanitizer's, a test's) may map the freed range first, which
    // must give null, never another address; a few rounds see it free.
    bool honoured = false;
    for (int round = 0; round < 20 && !honoured; ++round) {
        void* again = VSystem::VirtualAlloc(4096, region);
        if (again) {
            EXPECT_EQ(again, region);
            VSystem::VirtualFree(again, 4096, false);
            honoured = true;
        } else {
            region = static_cast<char*>(VSystem::VirtualAlloc(size, nullptr));
            ASSERT_NE(region, nullptr);
            VSystem::VirtualFree(region, size, false);
        }
    }
    EXPECT_TRUE(honoured);

    bool physical = false;
    char* locked = static_cast<char*>(VSystem::VirtualAllocPhysicalMemory(4096, nullptr, &physical));
    ASSERT_NE(locked, nullptr);
    locked[0] = 1;
    VSystem::VirtualFree(locked, 4096, physical);
}

// --- own mode ---

TEST_F(OwnManagerTest, AddVirtualAllocationSharesTheRegion)
{
    for (FakeImpl* fake : gFakes) {
        ASSERT_EQ(fake->fRegions.size(), 1u);
        EXPECT_EQ(fake->fRegions[0].second, 4u * 1024 * 1024);
    }
    EXPECT_EQ(fManager->GetMaxBlockSize(), 4u * 1024 * 1024);
    EXPECT_EQ(fManager->GetAllocatedMem(), 16u * 1024 * 1024);
    EXPECT_EQ(fManager->CountVirtualAllocations(), 4);

    // Under 10 MiB: accepted and ignored.
    EXPECT_TRUE(fManager->AddVirtualAllocation(0xA00000 - 1, nullptr, false));
    EXPECT_EQ(fManager->CountVirtualAllocations(), 4);
    EXPECT_EQ(fManager->GetMaxBlockSize(), 4u * 1024 * 1024);
}

TEST_F(OwnManagerTest, TooLargeFailsWithoutAskingAnyImplementation)
{
    EXPECT_EQ(fManager->Malloc(4 * 1024 * 1024 + 1, false, MakeOsType("test")), nullptr);
    EXPECT_EQ(TotalMallocCalls(), 0);
}

TEST_F(OwnManagerTest, PreferredThenRoundRobin)
{
    void* block = fManager->Malloc(32, false, MakeOsType("test"), 2);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fManager->GetAllocationBlockNumber(block), 2);
    EXPECT_EQ(gFakes[2]->fLastTag, MakeOsType("test"));
    fManager->Free(block);

    // Implementation 0 is full: the walk goes on from it to the next one.
    gFakes[0]->fLimit = 0;
    block = fManager->Malloc(32, false, MakeOsType("test"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fManager->GetAllocationBlockNumber(block), 1);

    // Realloc: a new block tagged 'grow', the old bytes copied, the old freed.
    std::memset(block, 'x', 32);
    void* grown = fManager->Realloc(block, 64);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(gFakes[1]->fLastTag, kMemTag_Grow);
    EXPECT_EQ(static_cast<char*>(grown)[31], 'x');
    EXPECT_FALSE(fManager->CheckPtr(block));
    EXPECT_EQ(fManager->GetPtrSize(grown), 64u);

    // A failed Realloc keeps the old block.
    SetLimits(0);
    EXPECT_EQ(fManager->Realloc(grown, 128), nullptr);
    EXPECT_TRUE(fManager->CheckPtr(grown));
    fManager->Free(grown);
}

namespace {
std::atomic<int> gPurgeCalls{0};
std::atomic<int> gFirstAttempts{0};
std::atomic<int> gInHandler{0};
std::atomic<int> gMaxInHandler{0};
std::atomic<bool> gPurgeFrees{false};
VCppMemMgr* gPurgeManager = nullptr;

size_t CountingPurge(int32_t impl, size_t size, bool first)
{
    (void)size;
    int inside = ++gInHandler;
    int seen = gMaxInHandler;
    while (inside > seen && !gMaxInHandler.compare_exchange_weak(seen, inside)) {
    }
    ++gPurgeCalls;
    if (first)
        ++gFirstAttempts;
    // Long enough for other threads to run dry meanwhile.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (gPurgeFrees && impl >= 0)
        gFakes[impl]->fLimit = SIZE_MAX;
    --gInHandler;
    return 0;
}

size_t ReentrantPurge(int32_t, size_t, bool)
{
    ++gPurgeCalls;
    // Running dry again inside the handler must not wait for this very purge.
    EXPECT_EQ(gPurgeManager->Malloc(100, false, MakeOsType("test")), nullptr);
    return 0;
}

void ResetPurgeCounters(bool frees)
{
    gPurgeCalls = 0;
    gFirstAttempts = 0;
    gInHandler = 0;
    gMaxInHandler = 0;
    gPurgeFrees = frees;
}
}  // namespace

TEST_F(OwnManagerTest, ExhaustedMemoryPurgesEachImplementationOnceThenFails)
{
    ResetPurgeCounters(false);
    EXPECT_EQ(fManager->SetPurgeHandlerProc(CountingPurge), nullptr);
    SetLimits(0);
    EXPECT_EQ(fManager->Malloc(100, false, MakeOsType("test")), nullptr);
    EXPECT_EQ(gPurgeCalls, 4);
    EXPECT_EQ(gFirstAttempts, 1);
    EXPECT_EQ(fManager->SetPurgeHandlerProc(nullptr), &CountingPurge);
}

TEST_F(OwnManagerTest, PurgeThatFreesMemoryServesTheRequest)
{
    ResetPurgeCounters(true);
    fManager->SetPurgeHandlerProc(CountingPurge);
    SetLimits(0);
    void* block = fManager->Malloc(100, false, MakeOsType("test"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(gPurgeCalls, 1);
    fManager->Free(block);
}

TEST_F(OwnManagerTest, HandlerThatRunsDryDoesNotDeadlock)
{
    ResetPurgeCounters(false);
    gPurgeManager = fManager;
    fManager->SetPurgeHandlerProc(ReentrantPurge);
    SetLimits(0);
    EXPECT_EQ(fManager->Malloc(100, false, MakeOsType("test")), nullptr);
    fManager->PurgeMem(-1);
    EXPECT_GE(gPurgeCalls, 5);
}

TEST_F(OwnManagerTest, ConcurrentShortagesNeverPurgeTwiceAtOnce)
{
    ResetPurgeCounters(true);
    fManager->SetPurgeHandlerProc(CountingPurge);
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int r = 0; r < kRounds; ++r) {
                // Everyone runs dry now and then; purges refill.
                gFakes[r % 4]->fLimit = 0;
                void* block = fManager->Malloc(64, false, MakeOsType("test"));
                fManager->Free(block);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    // Shortages overlapped, yet one purge ran at a time; the others waited.
    EXPECT_GT(gPurgeCalls, 0);
    EXPECT_EQ(gMaxInHandler, 1);
}

// --- the byte buffer ---

TEST(VMemoryBuffer, AmortisedGrowth)
{
    struct Case {
        size_t needed;
        size_t capacity;
    } cases[] = {
        {1, 1536},
        {1000, 1536},
        {1024, 1536},
        {1025, 3072},
        {3000000, 4048896},  // the growth is capped at 1 MiB
    };
    for (const Case& c : cases) {
        VMemoryBuffer<> buffer;
        ASSERT_TRUE(buffer._EnlargeAmortized(c.needed));
        EXPECT_EQ(buffer.GetAllocatedSize(), c.capacity) << c.needed;
        EXPECT_EQ(buffer.GetDataSize(), 0u);
    }
}

TEST_F(OwnManagerTest, BufferFallsBackToTheExactSize)
{
    // The amortised size cannot be had, the exact one can.
    SetLimits(1000);
    VMemoryBuffer<> buffer(fManager);
    ASSERT_TRUE(buffer._EnlargeAmortized(1000));
    EXPECT_EQ(buffer.GetAllocatedSize(), 1000u);
    EXPECT_EQ(gFakes[fManager->GetAllocationBlockNumber(buffer.GetDataPtr())]->fLastTag, kMemTag_Buffer);

    // Neither can be had: the buffer keeps its block and bytes.
    ASSERT_TRUE(buffer.AddData("hello", 5));
    SetLimits(0);
    EXPECT_FALSE(buffer.AddData(std::string(2000, 'x').data(), 2000));
    EXPECT_EQ(buffer.GetDataSize(), 5u);
    EXPECT_EQ(buffer.GetAllocatedSize(), 1000u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "hello", 5), 0);
}

TEST(VMemoryBuffer, WritesCopiesAndHandsOver)
{
    VMemoryBuffer<> buffer;
    std::string big(5000, 'a');
    ASSERT_TRUE(buffer.AddData("head", 4));
    ASSERT_TRUE(buffer.AddData(big.data(), big.size()));
    ASSERT_TRUE(buffer.PutData(0, "HEAD", 4));
    EXPECT_EQ(buffer.GetDataSize(), 5004u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "HEAD", 4), 0);
    EXPECT_EQ(static_cast<char*>(buffer.GetDataPtr())[5003], 'a');

    VMemoryBuffer<> copy;
    copy = buffer;
    EXPECT_EQ(copy.GetDataSize(), 5004u);
    EXPECT_EQ(copy.GetAllocatedSize(), 5004u);  // exactly the data
    EXPECT_EQ(std::memcmp(copy.GetDataPtr(), buffer.GetDataPtr(), 5004), 0);
    EXPECT_NE(copy.GetDataPtr(), buffer.GetDataPtr());

    VMemoryBuffer<> moved(std::move(copy));
    EXPECT_EQ(copy.GetDataPtr(), nullptr);
    EXPECT_EQ(moved.GetDataSize(), 5004u);

    void* data = moved.ForgetData();
    EXPECT_EQ(moved.GetDataSize(), 0u);
    VMemory::DisposePtr(data);

    EXPECT_FALSE(buffer.SetDataSize(buffer.GetAllocatedSize() + 1));
    EXPECT_FALSE(buffer.PutData(SIZE_MAX, "x", 1));
}
