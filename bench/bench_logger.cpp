// bench_logger.cpp - one million log entries through the process logger into its file.
//
// Each iteration logs 1,000,000 info entries (the same message and source)
// through the process logger with a log-file writer listening, stops the
// writer (which flushes the logger) and checks that the file holds every line:
// an iteration that loses one fails. The same lines, formatted the same way, are
// written with a plain buffered fprintf for comparison, from one thread and
// from four.
//
// The logger's ring holds 1000 entries and its task empties it every 100 ms, so
// a producer that logs faster than 10,000 entries a second must flush the
// logger itself to lose nothing: the producers here flush after every 200
// entries (four producers then never hold more than 800 between flushes).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "basekit/files/VFolder.h"
#include "basekit/runtime/VLog4jMsgFileLogger.h"
#include "basekit/runtime/VLogger.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VString.h"

namespace {

using namespace bkit;

constexpr int kEntries = 1000000;
constexpr int kFlushEvery = 200;

std::string MakeTempFolder()
{
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/bkit-bench-XXXXXX";
    return mkdtemp(templ.data()) ? templ : std::string();
}

size_t CountLines(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "re");
    if (!file) return 0;
    size_t lines = 0;
    char buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
        for (size_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
    fclose(file);
    return lines;
}

void RemoveFolder(const std::string& folder, const std::vector<std::string>& names)
{
    for (const std::string& name : names) unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

// Runs body(thread index, entries) on producers threads and waits for them.
template <class Body>
void RunProducers(int producers, Body body)
{
    if (producers == 1) {
        body(0, kEntries);
        return;
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < producers; ++t) threads.emplace_back([&, t] { body(t, kEntries / producers); });
    for (std::thread& thread : threads) thread.join();
}

void BM_LoggerToFile(benchmark::State& state)
{
    int producers = static_cast<int>(state.range(0));
    VRefPtr<VLogger> logger = VRefPtr<VLogger>::Adopt(new VLogger());
    logger->Start();
    ILogger::SetProcessLogger(logger.Get());
    const VString message("Copying the up-to-date bundle into place");
    const VString source("Updater");

    for (auto _ : state) {
        state.PauseTiming();
        std::string folderPath = MakeTempFolder();
        VString text;
        text.FromCString((folderPath + "/").c_str());
        VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(text, FPS_POSIX)));
        VLog4jMsgFileLogger writer(folder.Get(), VString("bench"));
        writer.Start();
        state.ResumeTiming();

        RunProducers(producers, [&](int, int count) {
            for (int i = 1; i <= count; ++i) {
                logger->LogMessage(EML_Information, message, source);
                if (i % kFlushEvery == 0) logger->Flush();
            }
        });
        writer.Stop();

        state.PauseTiming();
        // Past 10 MiB the writer moves on to the next file of the series.
        size_t lines = 0;
        std::vector<std::string> names;
        for (int n = 1; n < 100; ++n) {
            std::string name = "bench_" + std::to_string(n) + ".txt";
            struct stat st;
            if (stat((folderPath + "/" + name).c_str(), &st) != 0) break;
            lines += CountLines(folderPath + "/" + name);
            names.push_back(name);
        }
        RemoveFolder(folderPath, names);
        if (lines != static_cast<size_t>(kEntries)) {
            state.SkipWithError(("entries lost: " + std::to_string(kEntries - lines)).c_str());
            break;
        }
        state.ResumeTiming();
    }
    ILogger::SetProcessLogger(nullptr);
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_LoggerToFile)->Arg(1)->Arg(4)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// The local time of a line, computed again only when the millisecond changes.
const char* TimeText(char* cache, long long& cachedMs)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    long long ms = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    if (ms != cachedMs) {
        struct tm local;
        localtime_r(&now.tv_sec, &local);
        size_t n = strftime(cache, 32, "%Y-%m-%dT%H:%M:%S", &local);
        snprintf(cache + n, 32 - n, ".%03lld", ms % 1000);
        cachedMs = ms;
    }
    return cache;
}

void BM_PlainFprintf(benchmark::State& state)
{
    int producers = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::string folderPath = MakeTempFolder();
        std::string path = folderPath + "/plain_1.txt";
        FILE* file = fopen(path.c_str(), "w");
        std::atomic<unsigned long long> sequence{0};
        state.ResumeTiming();

        RunProducers(producers, [&](int, int count) {
            char cache[32];
            long long cachedMs = -1;
            for (int i = 0; i < count; ++i)
                fprintf(file, "%llu %s [%s] %s - %s\n", ++sequence, TimeText(cache, cachedMs), "Updater", "INFO",
                        "Copying the up-to-date bundle into place ()");
        });
        fclose(file);

        state.PauseTiming();
        size_t lines = CountLines(path);
        RemoveFolder(folderPath, {"plain_1.txt"});
        if (lines != static_cast<size_t>(kEntries)) {
            state.SkipWithError("lines lost");
            break;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_PlainFprintf)->Arg(1)->Arg(4)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // The calling thread becomes the main task, so that the "Logger" task runs.
    bkit::VTaskMgr::Init(nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bkit::VTaskMgr::DeInit();
    return 0;
}
