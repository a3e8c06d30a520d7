// ReaderBench.h - what the benchmarks of the readers of outside data share.
//
// Each case reads one input, generated in code, of a shape that costs its
// reader most (many distinct names, text in many pieces, deep nesting, many
// references, long runs of escapes, chains) at the size n given as the
// benchmark's argument. Every case is registered at n and at 8n, so that the
// ratio of the two times shows how the reader scales: near 8 is linear, near
// 64 quadratic. Cases are named "<reader>:<shape>/<n>", which
// bench/readers-table.sh pairs up into its table.
//
// Every case reports two counters: "peak_MB", the most resident memory the
// process gained while the case ran above what it held when the case started
// (its input already built), read from the kernel's high-water mark once it
// has been reset; and "input_KB", the size of the input. The high-water mark
// is reset by writing to /proc/self/clear_refs; where that is refused the
// counter is the gain over the process's whole life, an upper bound.
//
// Inputs that readers take from files are written into one private folder
// of the run (MakeFolder, RemoveFolder).
#pragma once

#include <benchmark/benchmark.h>
#include <ftw.h>
#include <malloc.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"
#include "tests/support/WholeFile.h"

namespace bkit::bench {

// One line of /proc/self/status ("VmRSS:", "VmHWM:") in KiB; 0 when absent.
inline int64_t StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0)
            return std::atoll(line.c_str() + length);
    }
    return 0;
}

// The resident memory a case gains above what the process held when it was made.
class StPeakMemory {
public:
    StPeakMemory()
    {
        // Freed blocks given back first, so that the base is what is in use.
        malloc_trim(0);
        if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", refs);
            std::fclose(refs);
        }
        fBaseKiB = StatusKiB("VmRSS:");
    }

    double MegaBytes() const
    {
        const int64_t gained = StatusKiB("VmHWM:") - fBaseKiB;
        return gained > 0 ? static_cast<double>(gained) / 1024.0 : 0.0;
    }

private:
    int64_t fBaseKiB = 0;
};

// Runs read once per iteration and sets the counters of the case. read
// answers whether the reader accepted its input; the first refusal ends the
// case with message as its error, so that a refused input shows in the table
// instead of a time.
template <class Read>
void Measure(benchmark::State& state, size_t inputBytes, const char* message, Read read)
{
    StPeakMemory peak;
    for (auto _ : state) {
        if (!read()) {
            state.SkipWithError(message);
            break;
        }
    }
    state.counters["peak_MB"] = peak.MegaBytes();
    state.counters["input_KB"] = static_cast<double>(inputBytes) / 1024.0;
}

// One case of a table: its reader, its shape, the smaller of its two sizes
// and the function that runs it at the size state.range(0).
struct ReaderCase {
    const char* reader;
    const char* shape;
    int64_t smallSize;
    void (*run)(benchmark::State&);
};

template <size_t N>
void RegisterCases(const ReaderCase (&cases)[N])
{
    for (const ReaderCase& c : cases) {
        const std::string name = std::string(c.reader) + ":" + c.shape;
        benchmark::RegisterBenchmark(name.c_str(), c.run)
            ->Arg(c.smallSize)
            ->Arg(8 * c.smallSize)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
}

// Starts the process object the readers need (tasks, error stacks, the
// international manager), as a program's entry does; false when it cannot.
inline bool StartProcess()
{
    static VProcess* process = new VProcess;
    static const bool started = process->Init(0) && VTaskMgr::IsInited();
    if (!started)
        std::fprintf(stderr, "the process could not be initialised\n");
    return started;
}

// The private folder of the run's files, without its final '/': made under
// $TMPDIR (else /tmp) by MakeFolder, removed with its content by RemoveFolder.
inline std::string sFolder;

inline bool MakeFolder(const char* prefix)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "no temporary folder\n");
        return false;
    }
    sFolder = pattern;
    return true;
}

inline int RemoveItem(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

inline void RemoveFolder()
{
    if (!sFolder.empty())
        ::nftw(sFolder.c_str(), RemoveItem, 16, FTW_DEPTH | FTW_PHYS);
}

using test::FileAt;
using test::WriteWhole;

inline int RunCases(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bkit::bench
