// bench_allocator.cpp - the toolbox's own allocator against the system one.
//
// Four threads each allocate a batch of 64 blocks and free them again, small
// blocks (16 to 128 bytes) and large ones (16 KiB to 256 KiB), once through a
// memory manager of the system allocator and once through one of the own
// allocator (given 256 MiB up front). The own allocator serialises every call
// on the manager's mutex, so the comparison shows what that costs under
// contention. The small sizes span 8 size classes, so a batch shares each
// page among several blocks; still, a page goes back when its last block is
// freed, so every batch also takes and returns a few pages. Items per second
// are reported; their ratio is the comparison.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "basekit/runtime/VMemoryMgr.h"

namespace {

constexpr int kBatch = 64;

bkit::VCppMemMgr* SystemManager()
{
    static bkit::VCppMemMgr* manager = new bkit::VCppMemMgr(bkit::eAllocatorKind_System);
    return manager;
}

bkit::VCppMemMgr* OwnManager()
{
    static bkit::VCppMemMgr* manager = [] {
        auto* m = new bkit::VCppMemMgr(bkit::eAllocatorKind_Own);
        m->AddVirtualAllocation(256u * 1024 * 1024, nullptr, false);
        return m;
    }();
    return manager;
}

void Churn(benchmark::State& state, bkit::VCppMemMgr* manager, size_t smallest, size_t spread)
{
    std::vector<void*> blocks(kBatch);
    size_t seed = static_cast<size_t>(state.thread_index()) * 7919 + 1;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            size_t size = smallest + (seed >> 33) % spread;
            blocks[static_cast<size_t>(i)] = manager->Malloc(size, false, bkit::MakeOsType("bnch"));
            if (blocks[static_cast<size_t>(i)])
                static_cast<char*>(blocks[static_cast<size_t>(i)])[0] = 1;
        }
        benchmark::ClobberMemory();
        for (void* block : blocks)
            manager->Free(block);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Small_System(benchmark::State& state) { Churn(state, SystemManager(), 16, 113); }
void BM_Small_Own(benchmark::State& state) { Churn(state, OwnManager(), 16, 113); }
void BM_Large_System(benchmark::State& state) { Churn(state, SystemManager(), 16384, 245760); }
void BM_Large_Own(benchmark::State& state) { Churn(state, OwnManager(), 16384, 245760); }

BENCHMARK(BM_Small_System)->Threads(4)->UseRealTime();
BENCHMARK(BM_Small_Own)->Threads(4)->UseRealTime();
BENCHMARK(BM_Large_System)->Threads(4)->UseRealTime();
BENCHMARK(BM_Large_Own)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
