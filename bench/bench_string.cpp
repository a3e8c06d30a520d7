// bench_string.cpp - VString against std::u16string, and the formatter against snprintf.
//
// Each VString benchmark has a std::u16string twin doing the same work on the
// same text, so the pair's times read as a ratio. Copying a 64 KiB string is
// where sharing shows (a count increment against a 64 KiB copy); appending
// short pieces, exact search and comparison show the plain unit work.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "basekit/text/VString.h"

namespace {

using bkit::UniChar;
using bkit::VString;

constexpr size_t k64KiBUnits = 64 * 1024 / sizeof(UniChar);

// 64 KiB of varied text whose last unit is 'Z', with no "needle" before its end.
std::u16string MakeText()
{
    std::u16string text;
    text.reserve(k64KiBUnits);
    for (size_t i = 0; text.size() < k64KiBUnits; ++i)
        text.push_back(static_cast<UniChar>(u'a' + (i * 7) % 26));
    text.replace(text.size() - 7, 7, u"needleZ");
    return text;
}

const std::u16string& Text()
{
    static const std::u16string text = MakeText();
    return text;
}

VString MakeVString(const std::u16string& text)
{
    return VString(text.data(), static_cast<bkit::VIndex>(text.size()));
}

// --- copy of a 64 KiB string ---

void BM_Copy64KiB_VString(benchmark::State& state)
{
    const VString source = MakeVString(Text());
    for (auto _ : state) {
        VString copy(source);
        benchmark::DoNotOptimize(copy.GetCPointer());
    }
}
BENCHMARK(BM_Copy64KiB_VString);

void BM_Copy64KiB_U16String(benchmark::State& state)
{
    const std::u16string source = Text();
    for (auto _ : state) {
        std::u16string copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_Copy64KiB_U16String);

// --- append of short pieces: 1000 pieces of 8 units to an empty string ---

constexpr int kPieces = 1000;
const UniChar kPiece[] = u"piece-8_";

void BM_AppendShort_VString(benchmark::State& state)
{
    for (auto _ : state) {
        VString text;
        for (int i = 0; i < kPieces; ++i)
            text.AppendUniChars(kPiece, 8);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(BM_AppendShort_VString);

void BM_AppendShort_U16String(benchmark::State& state)
{
    for (auto _ : state) {
        std::u16string text;
        for (int i = 0; i < kPieces; ++i)
            text.append(kPiece, 8);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(BM_AppendShort_U16String);

// --- exact search of a pattern found at the end of 64 KiB ---

void BM_Find_VString(benchmark::State& state)
{
    const VString text = MakeVString(Text());
    const VString needle(u"needleZ");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.FindRawString(needle, 1));
}
BENCHMARK(BM_Find_VString);

void BM_Find_U16String(benchmark::State& state)
{
    const std::u16string text = Text();
    const std::u16string needle = u"needleZ";
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(needle));
}
BENCHMARK(BM_Find_U16String);

// --- comparison of two 64 KiB texts differing in their last unit ---

void BM_Compare_VString(benchmark::State& state)
{
    std::u16string other = Text();
    other.back() = u'Y';
    const VString a = MakeVString(Text());
    const VString b = MakeVString(other);
    for (auto _ : state)
        benchmark::DoNotOptimize(a.CompareToStringRaw(b));
}
BENCHMARK(BM_Compare_VString);

void BM_Compare_U16String(benchmark::State& state)
{
    std::u16string other = Text();
    other.back() = u'Y';
    const std::u16string a = Text();
    const std::u16string& b = other;
    for (auto _ : state)
        benchmark::DoNotOptimize(a.compare(b));
}
BENCHMARK(BM_Compare_U16String);

// --- formatting the same text ---

constexpr char kFormat[] = "%d items in %s, %5.2f%% done (%s)";

void BM_Format_VString(benchmark::State& state)
{
    VString text;
    for (auto _ : state) {
        text.Printf(kFormat, 42, "the box", 73.456, "ok");
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_Format_VString);

void BM_Format_Snprintf(benchmark::State& state)
{
    char buffer[1024];
    for (auto _ : state) {
        snprintf(buffer, sizeof buffer, kFormat, 42, "the box", 73.456, "ok");
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_Format_Snprintf);

// The same text with the box's name passed as a string object.
void BM_FormatObject_VString(benchmark::State& state)
{
    const VString box("the box");
    VString text;
    for (auto _ : state) {
        text.Printf("%d items in %S, %5.2f%% done (%s)", 42, &box, 73.456, "ok");
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_FormatObject_VString);

}  // namespace

BENCHMARK_MAIN();
