// bench_streams.cpp - typed values through a memory stream against raw memcpy.
//
// A million mixed numbers (16-, 32-, 64-bit integers and doubles, in turn) are
// written to and read back from a VPtrStream; the reference writes and reads
// the same bytes with memcpy in a block it takes inside the timing, as the
// stream does. Each runs in the host's order and byte-swapped, the reference
// then reversing every value as the stream does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
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

// The values' bytes in the stream's order: reversed when the stream swaps.
template <bool kSwap, class T>
T InStreamOrder(T value)
{
    if constexpr (kSwap) {
        using Bits = std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>;
        Bits bits;
        std::memcpy(&bits, &value, sizeof(T));
        if constexpr (sizeof(T) == 2)
            bits = __builtin_bswap16(bits);
        else if constexpr (sizeof(T) == 4)
            bits = __builtin_bswap32(bits);
        else
            bits = __builtin_bswap64(bits);
        std::memcpy(&value, &bits, sizeof(T));
    }
    return value;
}

template <bool kSwap, class T>
void PutRaw(char*& out, T value)
{
    value = InStreamOrder<kSwap>(value);
    std::memcpy(out, &value, sizeof(T));
    out += sizeof(T);
}

template <bool kSwap, class T>
T GetRaw(const char*& in)
{
    T value;
    std::memcpy(&value, in, sizeof(T));
    in += sizeof(T);
    return InStreamOrder<kSwap>(value);
}

// The reference does the stream's work by hand: it takes a block for the
// bytes inside the timing (as the stream does, without zero-filling it), puts
// the values in with memcpy, swapped when the stream swaps, and reads them back.
template <bool kSwap>
void BM_MemcpyWriteRead(benchmark::State& state)
{
    constexpr size_t kBytes = static_cast<size_t>(kValues / 4) * (2 + 4 + 8 + 8);
    for (auto _ : state) {
        std::unique_ptr<char[]> buffer(new char[kBytes]);
        char* out = buffer.get();
        for (int i = 0; i < kValues; i += 4) {
            PutRaw<kSwap>(out, static_cast<int16_t>(i));
            PutRaw<kSwap>(out, static_cast<int32_t>(i));
            PutRaw<kSwap>(out, static_cast<int64_t>(i) << 20);
            PutRaw<kSwap>(out, i * 0.5);
        }
        benchmark::ClobberMemory();
        const char* in = buffer.get();
        int64_t sum = 0;
        for (int i = 0; i < kValues; i += 4) {
            int16_t w = GetRaw<kSwap, int16_t>(in);
            int32_t l = GetRaw<kSwap, int32_t>(in);
            int64_t l8 = GetRaw<kSwap, int64_t>(in);
            double r = GetRaw<kSwap, double>(in);
            sum += w + l + l8 + static_cast<int64_t>(r);
        }
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

BENCHMARK_TEMPLATE(BM_StreamWriteRead, false)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_StreamWriteRead, true)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MemcpyWriteRead, false)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MemcpyWriteRead, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
