// bench_updater.cpp - one whole update of a large bundle against "cp -a" of the same bundle.
//
// The bundle holds 20,000 small files and 200 MiB in all. BM_UpdaterRun times
// the built updater from the moment its caller has gone (a process id that no
// longer exists) to the moment the restarted application has written its
// marker: the wait's fixed second, the swap (copy beside the old bundle,
// exchange, rename of the old one aside), the restart through our "open" and
// the move of the old bundle to the Trash.
// The updater asks the disk to keep its copy before the exchange; BM_CopyTree/1
// times "cp -a" of the same bundle followed by "sync", the same work done by
// hand, and BM_CopyTree/0 the copy alone. The updater is expected to take no
// more than the copy with its sync plus the 1.5 s of waiting its road
// prescribes. All start from the same disk state, prepared untimed: a freshly
// laid-out outdated bundle and nothing left to write back (sync), and all
// clean up the same way, so that what one run leaves to the disk does not
// weigh on the other.
//
// BM_FlushCopiedTree compares the two ways of getting a freshly copied bundle
// onto the disk before the exchange: an fsync of each of its files and
// folders (argument 0; the writing of every file is started first, so that
// the journal is committed for many files at once), or one syncfs of the file
// system that holds it (argument 1, FlushTree, which the updater uses).
//
// The updater and "open" are found beside this program (Updater.app and open/
// of the build folder): build everything before running it. Data lives below
// $TMPDIR and is removed afterwards.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "basekit/platform/FileSync.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/process/VProcessLauncher.h"

namespace {

using bkit::VProcessLauncher;
using bkit::VString;

constexpr int kFiles = 20000;
constexpr size_t kTotalBytes = 200u << 20;
constexpr int kFilesPerFolder = 500;

std::string BuildFolder()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return ".";
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

int Run(const std::vector<std::string>& args)
{
    std::vector<VString> command;
    for (const std::string& arg : args)
        command.emplace_back(arg.c_str());
    int32_t status = -1;
    VProcessLauncher::ExecuteCommandLine(command, 0, nullptr, nullptr, nullptr, nullptr, nullptr, &status);
    return status;
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

// A bundle whose executable writes marker when started.
void MakeBundle(const std::string& bundle, const std::string& marker)
{
    mkdir(bundle.c_str(), 0755);
    mkdir((bundle + "/Contents").c_str(), 0755);
    mkdir((bundle + "/Contents/MacOS").c_str(), 0755);
    WriteFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>CFBundleExecutable</key>\n"
              "\t<string>app</string>\n</dict>\n</plist>\n");
    WriteFile(bundle + "/Contents/MacOS/app", "#!/bin/sh\ntouch '" + marker + "'\n", 0755);
    std::string content(kTotalBytes / kFiles, 'x');
    for (int i = 0; i < kFiles; ++i) {
        std::string folder = bundle + "/Contents/Resources" + std::to_string(i / kFilesPerFolder);
        if (i % kFilesPerFolder == 0)
            mkdir(folder.c_str(), 0755);
        WriteFile(folder + "/file" + std::to_string(i) + ".dat", content);
    }
}

struct Workspace {
    std::string root;
    Workspace()
    {
        const char* base = getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/bkit-bench-updater-XXXXXX";
        if (mkdtemp(templ.data()) != nullptr)
            root = templ;
        mkdir((root + "/xdg").c_str(), 0755);
        MakeBundle(root + "/New.app", root + "/restarted");
    }
    ~Workspace() { Run({"/bin/rm", "-rf", root}); }
};

Workspace& TheWorkspace()
{
    static Workspace workspace;
    return workspace;
}

// The disk state both runs start from: the outdated bundle freshly laid out
// (as the update finds it) and nothing left to write back, so that neither
// run pays for the other's writes.
void PrepareIteration(Workspace& w)
{
    MakeBundle(w.root + "/Name.app", w.root + "/restarted-old");
    unlink((w.root + "/restarted").c_str());
    sync();
}

void CleanIteration(Workspace& w)
{
    Run({"/bin/rm", "-rf", w.root + "/Name.app", w.root + "/Copy.app", w.root + "/xdg/Trash", w.root + "/.Trash-0"});
}

// Argument 1: followed by "sync".
void BM_CopyTree(benchmark::State& state)
{
    Workspace& w = TheWorkspace();
    for (auto _ : state) {
        state.PauseTiming();
        PrepareIteration(w);
        state.ResumeTiming();
        Run({"/bin/cp", "-a", w.root + "/New.app", w.root + "/Copy.app"});
        if (state.range(0) == 1)
            Run({"/bin/sync"});
        state.PauseTiming();
        CleanIteration(w);
        state.ResumeTiming();
    }
}

// The way FlushTree was measured against: each regular file's writing
// started, then each file and folder (its content first) waited for.
int gFlushError = 0;
bool gStartOnly = false;
int FlushEach(const char* path, const struct stat* st, int type, struct FTW*)
{
    if (type != FTW_F && type != FTW_DP)
        return 0;
    if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode))
        return 0;
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return gFlushError = errno;
    if (gStartOnly)
        sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    else if (fsync(fd) != 0)
        gFlushError = errno;
    close(fd);
    return gFlushError;
}

int FlushEachItem(const std::string& tree)
{
    gFlushError = 0;
    for (bool startOnly : {true, false}) {
        gStartOnly = startOnly;
        if (nftw(tree.c_str(), FlushEach, 64, FTW_PHYS | FTW_DEPTH | FTW_MOUNT) != 0)
            return gFlushError != 0 ? gFlushError : errno;
    }
    return 0;
}

void BM_FlushCopiedTree(benchmark::State& state)
{
    Workspace& w = TheWorkspace();
    const std::string copy = w.root + "/Copy.app";
    for (auto _ : state) {
        state.PauseTiming();
        PrepareIteration(w);
        if (bkit::CopyFolderTree((w.root + "/New.app").c_str(), copy.c_str()) != 0)
            state.SkipWithError("the copy failed");
        state.ResumeTiming();
        int err = state.range(0) == 0 ? FlushEachItem(copy) : bkit::FlushTree(copy.c_str());
        state.PauseTiming();
        if (err != 0)
            state.SkipWithError("the flush failed");
        CleanIteration(w);
        state.ResumeTiming();
    }
}

void BM_UpdaterRun(benchmark::State& state)
{
    Workspace& w = TheWorkspace();
    std::string build = BuildFolder();
    std::string updater = build + "/Updater.app/Contents/MacOS/updater";
    const char* path = getenv("PATH");
    setenv("PATH", (build + "/open:" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    setenv("XDG_DATA_HOME", (w.root + "/xdg").c_str(), 1);
    for (auto _ : state) {
        state.PauseTiming();
        PrepareIteration(w);
        // A caller that has already gone: the clock starts at its exit.
        pid_t caller = fork();
        if (caller == 0)
            _exit(0);
        waitpid(caller, nullptr, 0);
        state.ResumeTiming();
        int status = Run({updater, "--silent", "--pid", std::to_string(caller), w.root + "/Name.app",
                          w.root + "/New.app"});
        struct stat st;
        for (int waited = 0; status == 0 && waited < 30000 && stat((w.root + "/restarted").c_str(), &st) != 0; ++waited)
            usleep(1000);
        state.PauseTiming();
        if (status != 0)
            state.SkipWithError("the update failed");
        CleanIteration(w);
        state.ResumeTiming();
    }
}

BENCHMARK(BM_CopyTree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_FlushCopiedTree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_UpdaterRun)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
