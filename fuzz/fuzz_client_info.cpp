// fuzz_client_info.cpp - libFuzzer target for the updater's client-info file.
//
// Each input is written as the client-customization file of an update of a
// small sample bundle made at start, and the updater's engine reads it and
// customizes the up-to-date bundle as a run would: the server link file and
// the executable's mode. The findings, beside crashes and sanitizer reports:
// a file that does not read whole as an object is refused with 'UPQN' 41 and
// the reader's error beneath it; a link file that was written reads back as
// XML with its root element; nothing is written outside the bundle.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include "basekit/bags/VValueBag.h"
#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/files/VFile.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/process/VCommandLineParser.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "updater/VUpdateEngine.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

std::string gTree;  // with its final '/'
VUpdateEngine* gEngine = nullptr;

void Write(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

void MakeBundle(const std::string& name)
{
    std::string app = gTree + name;
    for (const char* folder : {"", "/Contents", "/Contents/MacOS", "/Contents/Resources"})
        mkdir((app + folder).c_str(), 0755);
    Write(app + "/Contents/Info.plist",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
          "<key>CFBundleExecutable</key><string>app</string></dict></plist>\n");
    Write(app + "/Contents/MacOS/app", "#!/bin/sh\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartProcess();
    char pattern[] = "/tmp/fuzz-client-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    gTree = std::string(pattern) + "/";
    MakeBundle("Old.app");
    MakeBundle("New.app");
    // The engine makes itself the process object; the run's one stays.
    VProcess* process = VProcess::sInstance;
    gEngine = new VUpdateEngine;
    VProcess::sInstance = process;
    std::vector<VString> arguments = {VString("updater"), VString("--client-info"),
                                      VString((gTree + "client.json").c_str()), VString((gTree + "Old.app").c_str()),
                                      VString((gTree + "New.app").c_str())};
    VCommandLineParser parser(arguments);
    Check(gEngine->DoParseCommandLine(parser) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    const std::string link = gTree + "New.app/Contents/Database/ZizozazIzudud.Zanthlink";
    unlink(link.c_str());
    Write(gTree + "client.json", std::string(reinterpret_cast<const char*>(data), size));

    StErrorContextInstaller errors(true, true);
    const bool done = gEngine->_FinishClientCustomization();

    // What the engine should have made of the file, read the same way.
    VJSONValue value;
    VError readError;
    {
        StErrorContextInstaller quiet(false, true);
        VFile file(VFilePath(VString((gTree + "client.json").c_str()), FPS_POSIX));
        readError = VJSONImporter::ParseFile(&file, value, VJSONImporter::kOption_Strict);
    }
    if (readError != VE_OK || !value.IsObject()) {
        Check(!done);
        Check(errors.GetLastError() == VE_UPDATER_CLIENT_INFO_UNUSABLE);
        if (readError != VE_OK) {
            const VErrorContext::ErrorList& list = errors.GetContext()->GetErrors();
            Check(list.size() >= 2 && list[list.size() - 2]->GetError() == readError);
        }
    }
    struct stat status;
    if (stat(link.c_str(), &status) == 0) {
        VValueBag bag;
        VFile file(VFilePath(VString(link.c_str()), FPS_POSIX));
        StErrorContextInstaller quiet(false, true);
        Check(LoadBagFromXML(&file, VString("database_shortcut"), bag) == VE_OK);
    }
    return 0;
}
