// bench_streams.cpp - typed values through a memory stream against raw memcpy.
//
// A million mixed numbers (16-, 32-, 64-bit integers and doubles, in turn) are
// written to and read back from a VPtrStream; the baseline copies the same bytes
// with memcpy into a preallocated buffer. The swapped variant measures the cost
// of byte reversal on every value.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "basekit/files/VMemoryStream.h"

using namespace bkit;

namespace {

constexpr int kValues = 1000000;

template <bool kSwap>
void BM_StreamWriteRead(benchmark::State& state)
{
    for (auto _ : state) {
        VPtrStream stream;
        stream.OpenWriting();
        stream.SetNeedSwap(kSwap);
        for (int i = 0; i < kValues; i += 4) {
            stream.PutWord(static_cast<int16_t>(i));
            stream.PutLong(i);
            stream.PutLong8(static_cast<int64_t>(i) << 20);
            stream.PutReal(i * 0.5);
        }
        stream.CloseWriting();
        stream.OpenReading();
        stream.SetNeedSwap(kSwap);
        int64_t sum = 0;
        for (int i = 0; i < kValues; i += 4) {
            int16_t w; int32_t l; int64_t l8; double r;
            stream.GetWord(w);
            stream.GetLong(l);
            stream.GetLong8(l8);
            stream.GetReal(r);
            sum += w + l + l8 + static_cast<int64_t>(r);
        }
        stream.CloseReading();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void BM_MemcpyWriteRead(benchmark::State& state)
{
    std::vector<char> buffer;
    for (auto _ : state) {
        buffer.clear();
        buffer.resize(static_cast<size_t>(kValues / 4) * (2 + 4 + 8 + 8));
        char* out = buffer.data();
        for (int i = 0; i < kValues; i += 4) {
            int16_t w = static_cast<int16_t>(i); int32_t l = i; int64_t l8 = static_cast<int64_t>(i) << 20; double r = i * 0.5;
            std::memcpy(out, &w, 2); out += 2;
            std::memcpy(out, &l, 4); out += 4;
            std::memcpy(out, &l8, 8); out += 8;
            std::memcpy(out, &r, 8); out += 8;
        }
        const char* in = buffer.data();
        int64_t sum = 0;
        for (int i = 0; i < kValues; i += 4) {
            int16_t w; int32_t l; int64_t l8; double r;
            std::memcpy(&w, in, 2); in += 2;
            std::memcpy(&l, in, 4); in += 4;
            std::memcpy(&l8, in, 8); in += 8;
            std::memcpy(&r, in, 8); in += 8;
            sum += w + l + l8 + static_cast<int64_t>(r);
        }
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

BENCHMARK_TEMPLATE(BM_StreamWriteRead, false)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_StreamWriteRead, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyWriteRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
