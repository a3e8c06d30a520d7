// VMemCppImplTest.cpp - the own allocator: size classes, pages, regions, reuse,
// statistics, the leak report, and the memory manager on it under load.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/runtime/VMemCppImpl.h"
#include "basekit/runtime/VMemStats.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/runtime/mac/XMacStackCrawl.h"
#include "support/TempFolder.h"

using namespace bkit;
using bkit::test::TempFolder;

namespace {

constexpr size_t kRegion = 4 * 1024 * 1024;
constexpr OsType kTagA = MakeOsType("tagA");
constexpr OsType kTagB = MakeOsType("tagB");

// One implementation with one region.
class OwnImplTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fImpl.AddAllocation(kRegion, nullptr, false)); }
    VMemCppImpl fImpl{0};
};

// A manager of the own allocator with memory, deleted at the end.
struct OwnManager {
    OwnManager() : fManager(new VCppMemMgr(eAllocatorKind_Own)) {}
    ~OwnManager() { delete fManager; }
    VCppMemMgr* operator->() const { return fManager; }
    VCppMemMgr* fManager;
};

}  // namespace

TEST(OwnAllocatorSizesTest, ClassesOfSmallAndBigBlocks)
{
    struct Case {
        size_t request;
        size_t rounded;
        int32_t sizeClass;
    };
    const Case small[] = {
        {100 + 8, 112, 7}, {1 + 8, 16, 1}, {1024, 1024, 64}, {1025, 1088, 66}, {5000 + 8, 5120, 118},
    };
    for (const Case& c : small) {
        int32_t sizeClass = -1;
        EXPECT_EQ(VMemThreadImpl::GetStepFromSize(c.request, &sizeClass, nullptr), c.rounded) << c.request;
        EXPECT_EQ(sizeClass, c.sizeClass) << c.request;
    }
    EXPECT_EQ(VMemThreadImpl::GetPageSize(112), 8168u);

    int32_t list = 0;
    EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(9000, &list), 9216u);
    EXPECT_EQ(list, 9);
    EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(2000000, &list), 2000032u);
    EXPECT_EQ(list, 1025);
    EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(2147481599, &list), 0u) << "too large";

    VMemCppImpl impl(0);
    EXPECT_FALSE(impl.AddAllocation(65535, nullptr, false));
    EXPECT_EQ(impl.Malloc(100, 0, 0, kTagA), nullptr) << "no memory before a region is added";
}

TEST_F(OwnImplTest, SmallBlocksShareAPageThatGoesWithItsLastBlock)
{
    void* first = fImpl.Malloc(100, 0, 0, kTagA);
    void* second = fImpl.Malloc(100, 0, 0, kTagA);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(static_cast<char*>(second) - static_cast<char*>(first), 112);
    EXPECT_EQ(fImpl.GetPtrSize(first), 104u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 16, 0u) << "aligned as malloc's blocks";
    size_t used = 0;
    size_t free = 0;
    fImpl.GetMemUsageInfo(used, free);
    EXPECT_EQ(used, 8192u) << "the page is in use as a whole, its blocks are not counted again";

    VMemStats stats;
    fImpl.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbPages, 1u);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 2u);
    EXPECT_EQ(stats.fTags[kTagA].fCount, 2u);

    fImpl.Free(first);
    fImpl.Free(second);
    fImpl.GetMemUsageInfo(used, free);
    EXPECT_EQ(used, 0u) << "the empty page went back";
    stats.Clear();
    fImpl.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0u) << "and the region's bump offset came down";
    EXPECT_TRUE(fImpl.Check());
}

TEST_F(OwnImplTest, APageHolds72BlocksOf100Bytes)
{
    std::vector<void*> blocks;
    for (int i = 0; i < 73; ++i) {
        blocks.push_back(fImpl.Malloc(100, 0, 0, kTagA));
        ASSERT_NE(blocks.back(), nullptr);
    }
    VMemStats stats;
    fImpl.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbPages, 2u) << "the 73rd block opened a second page";
    EXPECT_EQ(stats.fPages[112], std::make_pair(size_t{1}, size_t{1})) << "one full, one partial";
    for (void* block : blocks)
        fImpl.Free(block);
    EXPECT_TRUE(fImpl.Check());
}

TEST_F(OwnImplTest, BigBlocksAreReusedSplitAndMerged)
{
    void* a = fImpl.Malloc(9000, 0, 0, kTagA);
    void* b = fImpl.Malloc(50000, 0, 0, kTagB);
    void* c = fImpl.Malloc(9000, 0, 0, kTagA);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(fImpl.GetPtrSize(b), 50176u - 24u);
    std::memset(b, 0x5A, fImpl.GetPtrSize(b));

    fImpl.Free(b);
    void* reused = fImpl.Malloc(50000, 0, 0, kTagB);
    EXPECT_EQ(reused, b) << "a freed block of the class serves the next request of it";
    void* rest = fImpl.Malloc(20000, 0, 0, kTagB);
    EXPECT_GT(rest, c) << "with room in the region, a new block is cut at its end";
    EXPECT_TRUE(fImpl.Check());

    fImpl.Free(reused);
    fImpl.Free(rest);
    fImpl.Free(a);  // merges with the free space after it
    EXPECT_TRUE(fImpl.Check());
    VMemStats stats;
    fImpl.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 1u) << "neighbouring free blocks became one";
    EXPECT_EQ(stats.fNbUsedBigBlocks, 1u);
    fImpl.Free(c);
    stats.Clear();
    fImpl.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0u);

    void* grown = fImpl.Malloc(10, 0, 0, kTagA);
    std::memcpy(grown, "0123456789", 10);
    grown = fImpl.Realloc(grown, 100000);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "0123456789", 10), 0);
    fImpl.Free(grown);
}

TEST_F(OwnImplTest, CheckPtrAcceptsOnlyTheStartOfABlockInUse)
{
    // The region's first block, freed but not last, so its word before the
    // pointer is a free block's negated size.
    void* freedBig = fImpl.Malloc(9000, 0, 0, kTagA);
    void* big = fImpl.Malloc(9000, 0, 0, kTagA);
    void* small = fImpl.Malloc(100, 0, 0, kTagA);
    void* freedSmall = fImpl.Malloc(100, 0, 0, kTagA);
    void* lastSmall = fImpl.Malloc(100, 0, 0, kTagA);
    ASSERT_TRUE(freedBig && big && small && freedSmall && lastSmall);
    // User data that reads as a small block's (negative) word.
    std::memset(small, 0x80, 104);
    std::memset(big, 0x80, 9000);
    fImpl.Free(freedBig);
    fImpl.Free(freedSmall);

    EXPECT_TRUE(fImpl.CheckPtr(big));
    EXPECT_TRUE(fImpl.CheckPtr(small));
    EXPECT_TRUE(fImpl.CheckPtr(lastSmall));
    const void* bad[] = {
        freedBig, freedSmall, static_cast<char*>(small) + 16, static_cast<char*>(small) + 8,
        static_cast<char*>(big) + 16, static_cast<char*>(big) + 8192,
    };
    for (const void* pointer : bad)
        EXPECT_FALSE(fImpl.CheckPtr(pointer)) << pointer;
    fImpl.Free(big);
    fImpl.Free(small);
    fImpl.Free(lastSmall);
}

TEST(OwnAllocatorRegionsTest, AFullRegionSplitsALargerFreeBlock)
{
    VMemCppImpl impl(0);
    ASSERT_TRUE(impl.AddAllocation(65536, nullptr, false));
    void* large = impl.Malloc(40000, 0, 0, kTagA);   // 40 KiB
    void* blocker = impl.Malloc(9000, 0, 0, kTagA);  // 9 KiB; about 15 KiB stay at the end
    ASSERT_TRUE(large && blocker);
    impl.Free(large);
    void* first = impl.Malloc(20000, 0, 0, kTagB);
    EXPECT_EQ(first, large) << "no room at the end: the larger free block is split";
    void* second = impl.Malloc(20000, 0, 0, kTagB);
    EXPECT_EQ(static_cast<char*>(second) - static_cast<char*>(first), 20480) << "its remainder serves the next";
    EXPECT_EQ(impl.Malloc(20000, 0, 0, kTagB), nullptr) << "and then the region is full";
    EXPECT_TRUE(impl.Check());
    impl.Free(first);
    impl.Free(second);
    impl.Free(blocker);
    EXPECT_TRUE(impl.Check());
}

TEST(OwnAllocatorRegionsTest, AutomaticAllocationAddsAndReleasesRegions)
{
    VMemCppImpl impl(0);
    impl.SetAutoAllocationState(true);
    void* block = impl.Malloc(3000000, 0, 0, kTagA);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(impl.CountAllocations(), 1);
    EXPECT_GE(impl.GetTotalAllocation(), 20970432u);
    impl.Free(block);
    EXPECT_EQ(impl.CountAllocations(), 0) << "an emptied region goes back to the system";
}

TEST(OwnAllocatorManagerTest, SelectedByKindAndServingAfterVirtualAllocation)
{
    OwnManager manager;
    ASSERT_FALSE(manager->IsSystemAllocator());
    EXPECT_EQ(manager->Malloc(100, false, kTagA), nullptr) << "nothing before memory is added";
    ASSERT_TRUE(manager->AddVirtualAllocation(16 * 1024 * 1024, nullptr, false));
    EXPECT_EQ(manager->CountVirtualAllocations(), 4);

    void* blocks[4];
    for (int i = 0; i < 4; ++i) {
        blocks[i] = manager->Malloc(200, false, kTagA, i);
        ASSERT_NE(blocks[i], nullptr);
        EXPECT_EQ(manager->GetAllocationBlockNumber(blocks[i]), i) << "the preferred implementation served it";
        EXPECT_TRUE(manager->CheckPtr(blocks[i]));
    }
    void* big = manager->Malloc(100000, false, kTagB, 2);

    VMemStats stats;
    manager->GetStatistics(stats, 2);
    EXPECT_EQ(stats.fTags[kTagA].fCount, 1u);
    EXPECT_EQ(stats.fTags[kTagB].fCount, 1u);
    manager->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fTags[kTagA].fCount, 4u) << "every implementation";

    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stats.DumpToStream(&stream), VE_OK);
    stream.CloseWriting();
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    std::string text(static_cast<const char*>(data.fData), data.fSize);
    EXPECT_EQ(text.rfind("Used Mem = " + std::to_string(stats.fUsedMem) + "\nFree Mem = ", 0), 0u) << text;
    EXPECT_NE(text.find("\n\nBlocks by Tags\n\ntagA : 4   ,  mem = 832\n"), std::string::npos) << text;
    EXPECT_NE(stats.Dump().Find("Nb Used Small Blocks = 4"), 0);

    for (void* block : blocks)
        manager->Free(block);  // implementation 0 hands each to its owner
    manager->Free(big);
    manager->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fUsedMem, 0u);
}

TEST(OwnAllocatorManagerTest, ManyThreadsAllocateAndFreeWithoutLosingAByte)
{
    OwnManager manager;
    ASSERT_TRUE(manager->AddVirtualAllocation(64 * 1024 * 1024, nullptr, false));
    std::atomic<int> corrupted{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t + 1));
            std::vector<std::pair<unsigned char*, size_t>> live;
            for (int i = 0; i < 4000; ++i) {
                if (!live.empty() && random() % 3 == 0) {
                    size_t at = random() % live.size();
                    auto [block, size] = live[at];
                    for (size_t k = 0; k < size; ++k) {
                        if (block[k] != static_cast<unsigned char>(t + size))
                            ++corrupted;
                    }
                    manager->Free(block);
                    live.erase(live.begin() + static_cast<long>(at));
                    continue;
                }
                size_t size = (random() % 10 == 0) ? 8192 + random() % 60000 : 1 + random() % 2000;
                auto* block = static_cast<unsigned char*>(manager->Malloc(size, false, kTagA));
                if (!block) {
                    ++failed;
                    continue;
                }
                std::memset(block, static_cast<unsigned char>(t + size), size);
                live.emplace_back(block, size);
            }
            for (auto& entry : live)
                manager->Free(entry.first);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(corrupted.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    VMemStats stats;
    manager->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fUsedMem, 0u);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 0u);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(manager->GetImpl(i)->Check());
}

TEST(LeaksCheckerTest, CountsRegisteredBlocksAndWritesTheReportHead)
{
    TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("Tool.app") && temp.MakeFolder("Tool.app/Contents") &&
                temp.MakeFolder("Tool.app/Contents/MacOS"));
    VLeaksChecker checker;
    XMacStackCrawl crawl;
    checker.RegisterBlock(crawl);
    EXPECT_EQ(checker.GetRegisteredBlocks(), 0) << "disabled by default";
    EXPECT_EQ(checker.OpenDumpFile("x"), nullptr) << "no main bundle";

    platform::BundleInfo::SetExecutablePathForTesting(temp.Path("Tool.app/Contents/MacOS/Tool").c_str());
    FILE* file = checker.OpenDumpFile("x");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    std::string report = temp.ReadFile("Tool.x.leaks");
    EXPECT_EQ(report.substr(report.find('\n') + 1), "No memory leaks.\n");

    EXPECT_FALSE(checker.SetLeaksCheck(true));
    checker.SetStackFramesToSkip(0);
    XMacStackCrawl first;
    XMacStackCrawl second;
    checker.RegisterBlock(first);
    checker.RegisterBlock(second);
    EXPECT_EQ(checker.GetRegisteredBlocks(), 2);
    checker.UnregisterBlock(second);
    file = checker.OpenDumpFile("x");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    report = temp.ReadFile("Tool.x.leaks");
    EXPECT_EQ(report.substr(report.find('\n') + 1), "You have one leak:\n\n");
    platform::BundleInfo::SetExecutablePathForTesting(nullptr);
}
