// bench_readers_files.cpp - the readers of paths, URLs, file-system definitions,
// command lines and the updater's client-info file, on the shapes that cost them most.
//
// URL texts come with long runs of percent escapes and many path segments;
// file path texts with long runs of "." and ".." steps and many components.
// File-system definition files hold a chain of file systems, each one's
// parent the previous one, and many file systems under one parent. The
// command-line parser reads many options with values and many positional
// arguments. The updater's engine reads a client-info file of many keys and
// one whose values are long runs of escapes, as an update does (the server
// link file written into a small sample bundle). See ReaderBench.h for the
// sizes, names and counters. Files live in a private folder under $TMPDIR,
// removed at the end.
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "bench/ReaderBench.h"
#include "basekit/files/VFilePath.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VURL.h"
#include "basekit/process/VCommandLineParser.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "updater/VUpdateEngine.h"

using namespace bkit;
using namespace bkit::bench;

namespace {

VString Utf8(const std::string& text)
{
    VString out;
    out.FromBlock(text.data(), text.size(), VTC_UTF_8);
    return out;
}

std::string Repeat(const std::string& piece, int64_t n)
{
    std::string out;
    for (int64_t i = 0; i < n; ++i)
        out += piece;
    return out;
}

// --- URLs ---

bool ReadUrl(const VString& text)
{
    StErrorContextInstaller quiet(false, true);
    VURL url(text, true);
    VString path;
    url.GetPath(path, eURL_POSIX_STYLE, false);
    VString last;
    url.GetLastPathComponent(last, false);
    VString absolute;
    url.GetAbsoluteURL(absolute, false);
    VString decoded(text);
    VURL::Decode(decoded);
    return !path.IsEmpty() && !absolute.IsEmpty();
}

void UrlPercentEscapes(benchmark::State& state)
{
    const std::string text = "http://host/" + Repeat("%41%c3%a9%2F", state.range(0)) + "?q=" +
                             Repeat("%20", state.range(0));
    const VString url = Utf8(text);
    Measure(state, text.size(), "not read", [&] { return ReadUrl(url); });
}

void UrlManySegments(benchmark::State& state)
{
    const std::string text = "http://host/" + Repeat("s/", state.range(0)) + "last";
    const VString url = Utf8(text);
    Measure(state, text.size(), "not read", [&] { return ReadUrl(url); });
}

// --- file paths ---

void PathDotRuns(benchmark::State& state)
{
    const std::string text = Repeat("a/./b/../", state.range(0)) + "c.txt";
    const VString relative = Utf8(text);
    const VFilePath base(VString("/bench-base/dir/"), FPS_POSIX);
    Measure(state, text.size(), "not read", [&] {
        StErrorContextInstaller quiet(false, true);
        VFilePath path(base, relative, FPS_POSIX, true);
        VString resolved(relative);
        VFilePath::ResolveRelativePosix(resolved);
        VString posix;
        path.GetPosixPath(posix);
        return path.IsValid() && path.IsChildOf(base);
    });
}

// Full POSIX texts are refused past 1024 bytes: the components come as a
// path relative to a base folder, which has no such bound.
void PathManyComponents(benchmark::State& state)
{
    const std::string text = Repeat("c/", state.range(0)) + "f.txt";
    const VString relative = Utf8(text);
    const VFilePath base(VString("/bench-base/dir/"), FPS_POSIX);
    Measure(state, text.size(), "not read", [&] {
        StErrorContextInstaller quiet(false, true);
        VFilePath path(base, relative, FPS_POSIX, true);
        VFilePath again(path.GetPath(), FPS_SYSTEM);
        VString posix;
        again.GetPosixPath(posix);
        VString name;
        again.GetName(name);
        again.ToParent();
        return again.IsChildOf(base) && path.GetDepth() > state.range(0);
    });
}

// --- file-system definitions ---

bool LoadDefinitions(const std::string& path, size_t expected)
{
    StErrorContextInstaller quiet(false, true);
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace);
    VRefPtr<VFile> file = FileAt(path);
    if (ns->LoadFromDefinitionFile(file.Get()) != VE_OK)
        return false;
    std::map<VString, VRefPtr<VFileSystem>> all;
    ns->RetainMapOfFileSystems(all, 0);
    return all.size() == expected;
}

void FsParentChain(benchmark::State& state)
{
    std::string json = "[{\"name\":\"fs0\",\"path\":\"" + sFolder + "/root/\"}";
    for (int64_t i = 1; i < state.range(0); ++i)
        json += ",{\"name\":\"fs" + std::to_string(i) + "\",\"parent\":\"fs" + std::to_string(i - 1) +
                "\",\"path\":\"a/\"}";
    json += "]";
    const std::string path = sFolder + "/chain.json";
    WriteWhole(path, json);
    Measure(state, json.size(), "not loaded whole",
            [&] { return LoadDefinitions(path, static_cast<size_t>(state.range(0))); });
}

void FsManyUnderOneParent(benchmark::State& state)
{
    std::string json = "[{\"name\":\"fs0\",\"path\":\"" + sFolder + "/root/\"}";
    for (int64_t i = 1; i < state.range(0); ++i)
        json += ",{\"name\":\"fs" + std::to_string(i) + "\",\"parent\":\"fs0\",\"path\":\"d" + std::to_string(i) +
                "/\"}";
    json += "]";
    const std::string path = sFolder + "/flat.json";
    WriteWhole(path, json);
    Measure(state, json.size(), "not loaded whole",
            [&] { return LoadDefinitions(path, static_cast<size_t>(state.range(0))); });
}

// --- command line ---

// Parses arguments against options of every kind of value, as programs built
// on the toolbox declare them.
bool ParseArguments(const std::vector<VString>& arguments, size_t expectedIncludes, size_t expectedPositional)
{
    bool flag = false;
    int32_t pid = -1;
    VString name;
    std::vector<VString> includes, positional;
    VFilePath path;
    VCommandLineParser parser(arguments);
    parser.AddFlag(flag, u'f', VString("flag"), VString("a flag"));
    parser.AddOption(pid, u'p', VString("pid"), VString("a process id"));
    parser.AddOption(name, u'n', VString("name"), VString("a name"));
    parser.AddOption(includes, u'I', VString("include"), VString("a list"));
    parser.AddOption(path, VString("path"), VString("a path"));
    parser.AddPositionalArguments(positional);
    return parser.Parse() == 0 && includes.size() == expectedIncludes && positional.size() == expectedPositional;
}

void CommandLineManyOptions(benchmark::State& state)
{
    std::vector<VString> arguments{VString("/usr/bin/program"), VString("-f"), VString("--pid=12")};
    size_t bytes = 0;
    for (int64_t i = 0; i < state.range(0); ++i) {
        const std::string value = "value" + std::to_string(i);
        arguments.push_back(i % 2 == 0 ? VString("--include") : VString("-I"));
        arguments.push_back(Utf8(value));
        bytes += value.size() + 10;
    }
    Measure(state, bytes, "refused", [&] {
        return ParseArguments(arguments, static_cast<size_t>(state.range(0)), 0);
    });
}

void CommandLineManyPositional(benchmark::State& state)
{
    std::vector<VString> arguments{VString("/usr/bin/program"), VString("--name=x")};
    size_t bytes = 0;
    for (int64_t i = 0; i < state.range(0); ++i) {
        const std::string value = "file" + std::to_string(i) + ".txt";
        arguments.push_back(Utf8(value));
        bytes += value.size() + 1;
    }
    Measure(state, bytes, "refused", [&] {
        return ParseArguments(arguments, 0, static_cast<size_t>(state.range(0)));
    });
}

// --- the client-info file ---

VUpdateEngine* sEngine = nullptr;

void MakeBundle(const std::string& app)
{
    for (const char* folder : {"", "/Contents", "/Contents/MacOS", "/Contents/Resources"})
        ::mkdir((app + folder).c_str(), 0755);
    WriteWhole(app + "/Contents/Info.plist",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>CFBundleExecutable</key><string>app</string></dict></plist>\n");
    WriteWhole(app + "/Contents/MacOS/app", "#!/bin/sh\n");
    ::chmod((app + "/Contents/MacOS/app").c_str(), 0755);
}

// The engine as a run with "--client-info" over two sample bundles has it.
bool StartEngine()
{
    MakeBundle(sFolder + "/Old.app");
    MakeBundle(sFolder + "/New.app");
    // The engine makes itself the process object; the run's own stays.
    VProcess* process = VProcess::sInstance;
    sEngine = new VUpdateEngine;
    VProcess::sInstance = process;
    std::vector<VString> arguments = {VString("updater"), VString("--client-info"),
                                      Utf8(sFolder + "/client.json"), Utf8(sFolder + "/Old.app"),
                                      Utf8(sFolder + "/New.app")};
    VCommandLineParser parser(arguments);
    return sEngine->DoParseCommandLine(parser) == 0;
}

void ClientInfoCase(benchmark::State& state, const std::string& json)
{
    WriteWhole(sFolder + "/client.json", json);
    Measure(state, json.size(), "refused", [&] {
        StErrorContextInstaller quiet(false, true);
        return sEngine->_FinishClientCustomization();
    });
}

void ClientInfoManyKeys(benchmark::State& state)
{
    std::string json = "{\"ServerPlatform\":\"mac\",\"BuildIPAdress\":\"host\",\"BuildIPPort\":\"80\"";
    for (int64_t i = 0; i < state.range(0); ++i)
        json += ",\"Key" + std::to_string(i) + "\":\"value\"";
    ClientInfoCase(state, json + "}");
}

void ClientInfoEscapeRuns(benchmark::State& state)
{
    const std::string escaped = Repeat("\\u00e9\\\"<&", state.range(0));
    ClientInfoCase(state, "{\"ServerPlatform\":\"mac\",\"BuildIPAdress\":\"" + escaped + "\",\"PublishName\":\"" +
                              escaped + "\"}");
}

const ReaderCase kCases[] = {
    {"url", "percent_escapes", 20000, UrlPercentEscapes},
    {"url", "many_segments", 10000, UrlManySegments},
    {"file_path", "dot_runs", 10000, PathDotRuns},
    {"file_path", "many_components", 10000, PathManyComponents},
    {"fs.definitions", "parent_chain", 125, FsParentChain},
    {"fs.definitions", "many_under_one_parent", 1000, FsManyUnderOneParent},
    {"command_line", "many_options", 10000, CommandLineManyOptions},
    {"command_line", "many_positional", 10000, CommandLineManyPositional},
    {"client_info", "many_keys", 10000, ClientInfoManyKeys},
    {"client_info", "escape_runs", 10000, ClientInfoEscapeRuns},
};

}  // namespace

int main(int argc, char** argv)
{
    if (!StartProcess() || !MakeFolder("bench-readers-files"))
        return 1;
    if (!StartEngine()) {
        std::fprintf(stderr, "the engine refused its command line\n");
        RemoveFolder();
        return 1;
    }
    RegisterCases(kCases);
    const int result = RunCases(argc, argv);
    RemoveFolder();
    return result;
}
