// bench_folders.cpp - copying, listing and deleting a tree of 10,000 small
// files (100 MiB in all) with the toolbox and with cp -a, find and rm -rf.
#include <sys/stat.h>
#include <unistd.h>

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
        return templ;
    }();
    return base;
}

std::string Source() { return Base() + "/src"; }
std::string Copy() { return Base() + "/copy"; }

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::abort();
}

void RemoveCopy() { ForceDeleteFolder(Copy().c_str()); }

VFolder* FolderOf(const std::string& posix) { return new VFolder(VString((posix + "/").c_str()), FPS_POSIX); }

void BM_Copy_Toolbox(benchmark::State& state)
{
    VFolder* source = FolderOf(Source());
    VFolder* base = FolderOf(Base());
    for (auto _ : state) {
        VFolder* out = nullptr;
        if (source->CopyTo(*base, VString("copy"), &out, FCP_Overwrite) != 0)
            state.SkipWithError("copy failed");
        ReleaseRefCountable(&out);
        state.PauseTiming();
        RemoveCopy();
        state.ResumeTiming();
    }
    source->Release();
    base->Release();
}

void BM_Copy_CpA(benchmark::State& state)
{
    for (auto _ : state) {
        Run("cp -a '" + Source() + "' '" + Copy() + "'");
        state.PauseTiming();
        RemoveCopy();
        state.ResumeTiming();
    }
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
BENCHMARK(BM_List_Toolbox)->Unit(benchmark::kMillisecond)->Iterations(10);
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
