// bench_base64.cpp - Base64 encoding and decoding throughput.
//
// Bytes per second over the input of each call: raw bytes for the encoders,
// Base64 text for the decoders. 64 bytes shows the fixed cost of a call (the
// buffer's allocation), 1 MiB the steady loop; line breaks and whitespace
// show the cost of the standard decoder's whitespace copy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "basekit/text/Base64Coder.h"

namespace {

using bkit::Base64Coder;

std::string MakeBytes(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t state = 0x12345678;
    for (char& byte : bytes) {
        state = state * 1664525 + 1013904223;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string EncodeText(const std::string& bytes, int quadsPerLine, bool urlSafe)
{
    Base64Coder::Buffer out;
    Base64Coder::_Encode(bytes.data(), bytes.size(), out, quadsPerLine, urlSafe);
    return std::string(static_cast<const char*>(out.GetDataPtr()), out.GetDataSize());
}

// Arguments: input size, quads per line (standard only), URL-safe.
void BM_Base64Encode(benchmark::State& state)
{
    std::string bytes = MakeBytes(static_cast<size_t>(state.range(0)));
    int quadsPerLine = static_cast<int>(state.range(1));
    bool urlSafe = state.range(2) != 0;
    Base64Coder::Buffer out;
    for (auto _ : state) {
        bool ok = Base64Coder::_Encode(bytes.data(), bytes.size(), out, quadsPerLine, urlSafe);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.GetDataPtr());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Base64Encode)
    ->ArgNames({"bytes", "perLine", "url"})
    ->Args({64, 0, 0})
    ->Args({1 << 20, 0, 0})
    ->Args({1 << 20, 19, 0})
    ->Args({1 << 20, 0, 1});

// Arguments: decoded size, quads per line of the text, URL-safe.
void BM_Base64Decode(benchmark::State& state)
{
    bool urlSafe = state.range(2) != 0;
    std::string text = EncodeText(MakeBytes(static_cast<size_t>(state.range(0))), static_cast<int>(state.range(1)), urlSafe);
    Base64Coder::Buffer out;
    for (auto _ : state) {
        bool ok = Base64Coder::Decode(text.data(), text.size(), out, urlSafe, false);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.GetDataPtr());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Base64Decode)
    ->ArgNames({"bytes", "perLine", "url"})
    ->Args({64, 0, 0})
    ->Args({1 << 20, 0, 0})
    ->Args({1 << 20, 19, 0})
    ->Args({1 << 20, 0, 1});

}  // namespace

BENCHMARK_MAIN();
