// bench_arrays.cpp - sorting a million elements in arrays against std::sort on a std::vector.
//
// Each array benchmark has a standard-library twin sorting the same data with
// the same order (plain integers; strings compared with diacritics, as string
// arrays order their elements), so the pair's times read as a ratio: the
// string sorts, which are stable, against std::stable_sort, with std::sort as
// a second reference. The unsorted data is put back, outside the timing,
// before every iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/VArrayNumeric.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VArrayValue.h"

namespace {

using bkit::VArrayLong;
using bkit::VArrayString;
using bkit::VString;

constexpr int32_t kCount = 1000000;

const std::vector<int32_t>& RandomLongs()
{
    static const std::vector<int32_t> values = [] {
        std::mt19937 random(42);
        std::vector<int32_t> v(kCount);
        for (int32_t& x : v)
            x = static_cast<int32_t>(random());
        return v;
    }();
    return values;
}

const std::vector<VString>& RandomStrings()
{
    static const std::vector<VString> values = [] {
        std::mt19937 random(7);
        std::vector<VString> v;
        v.reserve(kCount);
        std::string text;
        for (int32_t i = 0; i < kCount; ++i) {
            text.assign(4 + random() % 8, ' ');
            for (char& c : text)
                c = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 26);
            v.emplace_back(text.c_str());
        }
        return v;
    }();
    return values;
}

void BM_ArrayLong_Sort(benchmark::State& state)
{
    const std::vector<int32_t>& source = RandomLongs();
    VArrayLong array(kCount);
    for (auto _ : state) {
        state.PauseTiming();
        for (int32_t i = 0; i < kCount; ++i)
            array.FromLong(source[static_cast<size_t>(i)], i + 1);
        state.ResumeTiming();
        array.Sort(1, kCount, false);
        benchmark::DoNotOptimize(array.GetLong(1));
    }
}
BENCHMARK(BM_ArrayLong_Sort)->Unit(benchmark::kMillisecond);

void BM_StdVectorLong_Sort(benchmark::State& state)
{
    const std::vector<int32_t>& source = RandomLongs();
    std::vector<int32_t> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = source;
        state.ResumeTiming();
        std::sort(v.begin(), v.end());
        benchmark::DoNotOptimize(v.front());
    }
}
BENCHMARK(BM_StdVectorLong_Sort)->Unit(benchmark::kMillisecond);

void BM_ArrayString_Sort(benchmark::State& state)
{
    const std::vector<VString>& source = RandomStrings();
    VArrayString array(kCount);
    for (auto _ : state) {
        state.PauseTiming();
        for (int32_t i = 0; i < kCount; ++i)
            array.FromString(source[static_cast<size_t>(i)], i + 1);
        state.ResumeTiming();
        array.Sort(1, kCount, false);
        benchmark::DoNotOptimize(array.GetStringPtr(1));
    }
}
BENCHMARK(BM_ArrayString_Sort)->Unit(benchmark::kMillisecond)->Iterations(1);

// The multi-key sort with one key: the order comes from a merge sort of
// indexes over the array's element comparison and is then carried out on the
// array.
void BM_ArrayString_MultiKeySort(benchmark::State& state)
{
    const std::vector<VString>& source = RandomStrings();
    VArrayString array(kCount);
    for (auto _ : state) {
        state.PauseTiming();
        for (int32_t i = 0; i < kCount; ++i)
            array.FromString(source[static_cast<size_t>(i)], i + 1);
        state.ResumeTiming();
        bkit::ISortable* sortables[] = {&array, nullptr};
        bkit::ISortable::MultiCriteriaQSort(sortables, nullptr, 1, 0, kCount - 1);
        benchmark::DoNotOptimize(array.GetStringPtr(1));
    }
}
BENCHMARK(BM_ArrayString_MultiKeySort)->Unit(benchmark::kMillisecond)->Iterations(1);

bool StringLess(const VString& a, const VString& b)
{
    return a.CompareToString(b, true) == bkit::CR_SMALLER;
}

// The references: a stable sort (the reference of both array sorts, which are
// stable) and an unstable one of the same strings with the same comparison.
void BM_StdVectorString_StableSort(benchmark::State& state)
{
    const std::vector<VString>& source = RandomStrings();
    std::vector<VString> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = source;
        state.ResumeTiming();
        std::stable_sort(v.begin(), v.end(), StringLess);
        benchmark::DoNotOptimize(v.front());
    }
}
BENCHMARK(BM_StdVectorString_StableSort)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_StdVectorString_Sort(benchmark::State& state)
{
    const std::vector<VString>& source = RandomStrings();
    std::vector<VString> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = source;
        state.ResumeTiming();
        std::sort(v.begin(), v.end(), StringLess);
        benchmark::DoNotOptimize(v.front());
    }
}
BENCHMARK(BM_StdVectorString_Sort)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
