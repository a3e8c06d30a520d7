// bench_folders.cpp - copying, listing and deleting a tree of 10,000 small
// files (100 MiB in all) with the toolbox and with cp -a, an in-process nftw
// walk (and find), and rm -rf.
//
// Each copy goes into a folder of its own that no earlier copy used, and no
// copy is deleted before the run ends: on ext4 the first files made after a
// large deletion pay for skipping the recently freed inodes, which made
// whichever side ran after a deletion slower, whatever it was. BM_Copy_Alternating times both sides in turns
// within one run, so that neither always runs after the other.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FolderOps.h"

namespace {

using namespace bkit;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr size_t kFileSize = 100 * 1024 * 1024 / (kFolders * kFilesPerFolder);

// The work folder, with the source tree made once for the whole run.
const std::string& Base()
{
    static std::string base = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/bkit-bench-folders-XXXXXX";
        if (mkdtemp(templ.data()) == nullptr)
            std::abort();
        std::string src = templ + "/src";
        mkdir(src.c_str(), 0755);
        std::vector<char> data(kFileSize, 'x');
        for (int d = 0; d < kFolders; ++d) {
            std::string folder = src + "/d" + std::to_string(d);
            mkdir(folder.c_str(), 0755);
            for (int f = 0; f < kFilesPerFolder; ++f) {
                std::string path = folder + "/f" + std::to_string(f);
                FILE* file = std::fopen(path.c_str(), "wb");
                if (file == nullptr)
                    std::abort();
                std::fwrite(data.data(), 1, data.size(), file);
                std::fclose(file);
            }
        }
        // One untimed copy, kept: the first tree made after the deletions of
        // an earlier run pays for them, and no timed side should.
        if (std::system(("cp -a '" + src + "' '" + templ + "/warm-up'").c_str()) != 0)
            std::abort();
        return templ;
    }();
    return base;
}

std::string Source() { return Base() + "/src"; }
std::string Copy() { return Base() + "/copy"; }

// A folder name no copy has used yet in this run.
std::string FreshCopyName()
{
    static int sCount = 0;
    return "copy-" + std::to_string(++sCount);
}

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::abort();
}

VFolder* FolderOf(const std::string& posix) { return new VFolder(VString((posix + "/").c_str()), FPS_POSIX); }

// Runs copy(name) once per iteration into a fresh folder name, timed alone;
// the copies stay until the run ends.
template <class CopyInto>
void TimeCopies(benchmark::State& state, CopyInto copy)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::string name = FreshCopyName();
        state.ResumeTiming();
        if (!copy(name))
            state.SkipWithError("copy failed");
    }
}

bool CopyWithToolbox(const std::string& name)
{
    VRefPtr<VFolder> source = VRefPtr<VFolder>::Adopt(FolderOf(Source()));
    VRefPtr<VFolder> base = VRefPtr<VFolder>::Adopt(FolderOf(Base()));
    VFolder* out = nullptr;
    VError err = source->CopyTo(*base, VString(name.c_str()), &out, FCP_Overwrite);
    ReleaseRefCountable(&out);
    return err == 0;
}

bool CopyWithCpA(const std::string& name)
{
    return std::system(("cp -a '" + Source() + "' '" + Base() + "/" + name + "'").c_str()) == 0;
}

void BM_Copy_Toolbox(benchmark::State& state) { TimeCopies(state, CopyWithToolbox); }

void BM_Copy_CpA(benchmark::State& state) { TimeCopies(state, CopyWithCpA); }

// Both sides in turns, each into a fresh folder: the counters give the mean
// time of each side in milliseconds and their ratio (toolbox / cp -a).
void BM_Copy_Alternating(benchmark::State& state)
{
    double ours = 0;
    double reference = 0;
    int rounds = 0;
    auto timed = [&](bool (*copy)(const std::string&)) {
        std::string name = FreshCopyName();
        auto start = std::chrono::steady_clock::now();
        if (!copy(name))
            state.SkipWithError("copy failed");
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        // The order flips every round.
        if (rounds % 2 == 0) {
            ours += timed(CopyWithToolbox);
            reference += timed(CopyWithCpA);
        } else {
            reference += timed(CopyWithCpA);
            ours += timed(CopyWithToolbox);
        }
        ++rounds;
    }
    state.counters["toolbox_ms"] = ours / rounds;
    state.counters["cp_a_ms"] = reference / rounds;
    state.counters["ratio"] = ours / reference;
}

void BM_List_Toolbox(benchmark::State& state)
{
    VFolder* source = FolderOf(Source());
    for (auto _ : state) {
        int count = 0;
        source->IterateFiles([&](IFile*, IFileAttributeAccessor*) { ++count; return true; },
                             FI_RECURSIVE | FI_WANT_FOLDERS | FI_WANT_FILES | FI_WANT_INVISIBLES);
        if (count != kFolders * kFilesPerFolder)
            state.SkipWithError("wrong count");
    }
    source->Release();
}

int sNftwFiles = 0;

int CountFile(const char*, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_F || type == FTW_SL)
        ++sNftwFiles;
    return 0;
}

void BM_List_Nftw(benchmark::State& state)
{
    for (auto _ : state) {
        sNftwFiles = 0;
        nftw(Source().c_str(), &CountFile, 64, FTW_PHYS);
        if (sNftwFiles != kFolders * kFilesPerFolder)
            state.SkipWithError("wrong count");
    }
}

void BM_List_Find(benchmark::State& state)
{
    for (auto _ : state)
        Run("find '" + Source() + "' > /dev/null");
}

void BM_Delete_Toolbox(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Run("cp -a '" + Source() + "' '" + Copy() + "'");
        VFolder* copy = FolderOf(Copy());
        state.ResumeTiming();
        if (copy->DeleteForced() != 0)
            state.SkipWithError("delete failed");
        copy->Release();
    }
}

void BM_Delete_RmRf(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Run("cp -a '" + Source() + "' '" + Copy() + "'");
        state.ResumeTiming();
        Run("rm -rf '" + Copy() + "'");
    }
}

BENCHMARK(BM_Copy_Toolbox)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Copy_CpA)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Copy_Alternating)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_List_Toolbox)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_List_Nftw)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_List_Find)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Delete_Toolbox)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Delete_RmRf)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ForceDeleteFolder(Base().c_str());
    return 0;
}
