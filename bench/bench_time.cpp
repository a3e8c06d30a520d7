// bench_time.cpp - RFC 3339 texts of VTime against strftime and strptime.
//
// Each VTime benchmark has a C library twin doing the same work on the same
// instant, so the pair's times read as a ratio: writing starts from the
// instant (a VTime, or a time_t given to gmtime_r or localtime_r and then
// strftime) and ends with the text; reading starts from the text and ends with
// the instant (timegm or mktime after strptime). The local zone is fixed to
// Central European rules so that local conversions do real work.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "basekit/text/VString.h"
#include "basekit/values/VTime.h"

namespace {

using bkit::VString;
using bkit::VTime;

constexpr time_t kInstant = 1796806433;  // 2026-12-09T08:53:53Z

VTime Instant()
{
    VTime t;
    t.FromUTCTime(2026, 12, 9, 8, 53, 53, 0);
    return t;
}

// --- writing in UTC ---

void BM_VTime_FormatUTC(benchmark::State& state)
{
    VTime t = Instant();
    VString text;
    for (auto _ : state) {
        t.GetRfc3339String(text, bkit::kRfc3339_UTC | bkit::kRfc3339_NoMilliseconds);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_VTime_FormatUTC);

void BM_strftime_FormatUTC(benchmark::State& state)
{
    char buffer[64];
    for (auto _ : state) {
        time_t t = kInstant;
        benchmark::DoNotOptimize(t);
        struct tm fields;
        gmtime_r(&t, &fields);
        size_t n = strftime(buffer, sizeof(buffer), "%Y-%m-%dT%H:%M:%SZ", &fields);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_strftime_FormatUTC);

// --- writing in local time with the offset ---

void BM_VTime_FormatLocalWithOffset(benchmark::State& state)
{
    VTime t = Instant();
    VString text;
    for (auto _ : state) {
        t.GetRfc3339String(text, 0);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}
BENCHMARK(BM_VTime_FormatLocalWithOffset);

void BM_strftime_FormatLocalWithOffset(benchmark::State& state)
{
    char buffer[64];
    for (auto _ : state) {
        time_t t = kInstant;
        benchmark::DoNotOptimize(t);
        struct tm fields;
        localtime_r(&t, &fields);
        size_t n = strftime(buffer, sizeof(buffer), "%Y-%m-%dT%H:%M:%S%z", &fields);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_strftime_FormatLocalWithOffset);

// --- reading UTC ---

void BM_VTime_ParseUTC(benchmark::State& state)
{
    VString text("2026-12-09T08:53:53Z");
    VTime t;
    for (auto _ : state) {
        bool ok = t.FromRfc3339String(text);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(t.GetStamp());
    }
}
BENCHMARK(BM_VTime_ParseUTC);

void BM_strptime_ParseUTC(benchmark::State& state)
{
    const char* text = "2026-12-09T08:53:53Z";
    for (auto _ : state) {
        struct tm fields = {};
        const char* end = strptime(text, "%Y-%m-%dT%H:%M:%SZ", &fields);
        benchmark::DoNotOptimize(end);
        time_t t = timegm(&fields);
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_strptime_ParseUTC);

// --- reading with milliseconds ---

void BM_VTime_ParseUTCWithMilliseconds(benchmark::State& state)
{
    VString text("2026-12-09T08:53:53.123Z");
    VTime t;
    for (auto _ : state) {
        bool ok = t.FromRfc3339String(text);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(t.GetStamp());
    }
}
BENCHMARK(BM_VTime_ParseUTCWithMilliseconds);

void BM_strptime_ParseUTCWithMilliseconds(benchmark::State& state)
{
    // strptime has no fractions: the milliseconds are read after it.
    const char* text = "2026-12-09T08:53:53.123Z";
    for (auto _ : state) {
        struct tm fields = {};
        const char* end = strptime(text, "%Y-%m-%dT%H:%M:%S", &fields);
        double fraction = (end != nullptr && *end == '.') ? strtod(end, nullptr) : 0.0;
        time_t t = timegm(&fields);
        benchmark::DoNotOptimize(t);
        benchmark::DoNotOptimize(fraction);
    }
}
BENCHMARK(BM_strptime_ParseUTCWithMilliseconds);

// --- reading with an offset ---

void BM_VTime_ParseOffset(benchmark::State& state)
{
    VString text("2026-12-09T10:53:53+02:00");
    VTime t;
    for (auto _ : state) {
        bool ok = t.FromRfc3339String(text);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(t.GetStamp());
    }
}
BENCHMARK(BM_VTime_ParseOffset);

void BM_strptime_ParseOffset(benchmark::State& state)
{
    const char* text = "2026-12-09T10:53:53+02:00";
    for (auto _ : state) {
        struct tm fields = {};
        const char* end = strptime(text, "%Y-%m-%dT%H:%M:%S%z", &fields);
        benchmark::DoNotOptimize(end);
        time_t t = timegm(&fields) - fields.tm_gmtoff;
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_strptime_ParseOffset);

// --- reading local time (no zone in the text) ---

void BM_VTime_ParseLocal(benchmark::State& state)
{
    VString text("2026-12-09T09:53:53");
    VTime t;
    for (auto _ : state) {
        bool ok = t.FromRfc3339String(text);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(t.GetStamp());
    }
}
BENCHMARK(BM_VTime_ParseLocal);

void BM_strptime_ParseLocal(benchmark::State& state)
{
    const char* text = "2026-12-09T09:53:53";
    for (auto _ : state) {
        struct tm fields = {};
        const char* end = strptime(text, "%Y-%m-%dT%H:%M:%S", &fields);
        benchmark::DoNotOptimize(end);
        fields.tm_isdst = -1;
        time_t t = mktime(&fields);
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_strptime_ParseLocal);

}  // namespace

int main(int argc, char** argv)
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
