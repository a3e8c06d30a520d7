// bench_files.cpp - copying one large file with the toolbox and with `cp -a`.
//
// Both copy the same source (kept in a folder below $TMPDIR, else /tmp) to a
// destination removed before each round, so they compare like for like; the
// source stays in the page cache for both. BKIT_BENCH_FILE_MIB sets the size
// (1024 by default). Each round starts after a sync, so that the write-back
// of the previous round is charged to neither.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"

namespace {

using namespace bkit;

struct Fixture {
    std::string folder;
    std::string source;
    std::string dest;
    size_t bytes = 0;

    Fixture()
    {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/bkit-bench-files-XXXXXX";
        folder = ::mkdtemp(templ.data()) ? templ : std::string();
        source = folder + "/source.bin";
        dest = folder + "/dest.bin";
        const char* mib = std::getenv("BKIT_BENCH_FILE_MIB");
        bytes = static_cast<size_t>(mib ? std::atoi(mib) : 1024) << 20;
        int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> chunk(1 << 20);
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>(i * 31 + 7);
        for (size_t done = 0; fd >= 0 && done < bytes; done += chunk.size())
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
                break;
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    ~Fixture()
    {
        ::unlink(dest.c_str());
        ::unlink(source.c_str());
        ::rmdir(folder.c_str());
    }
};

Fixture& GetFixture()
{
    static Fixture fixture;
    return fixture;
}

void BM_ToolboxCopy(benchmark::State& state)
{
    Fixture& f = GetFixture();
    VString sourceText, destText;
    sourceText.FromCString(f.source.c_str());
    destText.FromCString(f.dest.c_str());
    VRefPtr<VFile> source = VRefPtr<VFile>::Adopt(new VFile(sourceText, FPS_POSIX));
    VFilePath dest(destText, FPS_POSIX);
    for (auto _ : state) {
        state.PauseTiming();
        // The previous round's write-back must not be charged to this one.
        ::unlink(f.dest.c_str());
        ::sync();
        state.ResumeTiming();
        if (source->CopyTo(dest) != VE_OK)
            state.SkipWithError("copy failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

void BM_CpA(benchmark::State& state)
{
    Fixture& f = GetFixture();
    std::string command = "cp -a '" + f.source + "' '" + f.dest + "'";
    for (auto _ : state) {
        state.PauseTiming();
        // The previous round's write-back must not be charged to this one.
        ::unlink(f.dest.c_str());
        ::sync();
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

BENCHMARK(BM_ToolboxCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CpA)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    bkit::VProcess process;
    bkit::VTaskMgr::Init(&process);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bkit::VTaskMgr::DeInit();
    return 0;
}
