// fuzz_command_line.cpp - libFuzzer target for the command-line parser.
//
// The input is split at NUL bytes into an argument list (the program path
// first). The parser declares an option of every kind of value it converts
// (flags, numbers, texts, lists, paths, files, folders, JSON), short and
// long names, and a positional list, as programs built on the toolbox do,
// then parses. Its answer must be 0, 1 or 2; crashes and sanitizer reports
// are the findings. The parser writes its messages to the standard streams:
// run with -close_fd_mask=3 to keep the output quiet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/process/VCommandLineParser.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    std::vector<VString> arguments{VString("/usr/bin/program")};
    size_t start = 0;
    for (size_t i = 0; i <= size && arguments.size() < 64; ++i) {
        if (i == size || data[i] == 0) {
            VString argument;
            argument.FromBlock(data + start, i - start, VTC_UTF_8);
            arguments.push_back(argument);
            start = i + 1;
        }
    }
    StErrorContextInstaller quiet(false, true);

    bool flag = false, verbose = false;
    int32_t pid = -1;
    uint32_t count = 0;
    int64_t offset = 0;
    uint64_t limit = 0;
    VString name;
    std::vector<VString> includes, positional;
    VFilePath path;
    VRefPtr<VFile> file;
    VRefPtr<VFolder> folder;
    VJSONValue json;

    VCommandLineParser parser(arguments);
    parser.AddParagraph(VString("Options:\n"));
    parser.AddFlag(flag, u'f', VString("flag"), VString("a flag"));
    parser.AddFlag(verbose, VString("verbose"), VString("more output"));
    parser.AddOption(pid, u'p', VString("pid"), VString("a process id"));
    parser.AddOption(count, VString("count"), VString("a count"));
    parser.AddOption(offset, u'o', VString("offset"), VString("an offset"));
    parser.AddOption(limit, VString("limit"), VString("a limit"));
    parser.AddOption(name, u'n', VString("name"), VString("a name"));
    parser.AddOption(includes, u'I', VString("include"), VString("a list"));
    parser.AddOption(path, VString("path"), VString("a path"));
    parser.AddOption(file, VString("file"), VString("a file"));
    parser.AddOption(folder, VString("folder"), VString("a folder"));
    parser.AddOption(json, u'j', VString("json"), VString("a JSON value"));
    parser.AddPositionalArguments(positional);
    int32_t result = parser.Parse();
    Check(result == 0 || result == 1 || result == 2);
    quiet.Flush();
    return 0;
}
