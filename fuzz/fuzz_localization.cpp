// fuzz_localization.cpp - libFuzzer target for the localization files read by VLocalizationManager.
//
// The first byte of each input chooses the form and the force flag; the rest
// is the file's content, taken as it is or placed inside the body of an XLIFF
// skeleton (so that trans-units, groups and their attributes are reached
// quickly). It is written to disk once as an XLIFF file and once as a
// "strings" file and both are loaded into a fresh manager, whose look-ups then
// run over whatever was read. Crashes, sanitizer reports and a manager whose
// reference count moved are the findings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "FuzzFiles.h"
#include "basekit/files/VFile.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/VLocalizationManager.h"

using namespace bkit;
using namespace bkit::fuzz;

static std::string sFolder;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    sFolder = StartFileFuzzing("/tmp/fuzz_localization");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    if (mode & 1) {
        content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xliff version=\"1.2\"><file source-language=\"en\""
                  " target-language=\"fr\" original=\"fuzz\"><body>" +
                  content + "</body></file></xliff>";
    }
    const bool force = (mode & 2) != 0;
    const std::string xliff = sFolder + "/fuzz.xlf";
    const std::string strings = sFolder + "/fuzz.strings";
    if (!WriteWhole(xliff, content) || !WriteWhole(strings, content))
        return 0;

    StErrorContextInstaller errors(false, true);
    VRefPtr<VLocalizationManager> manager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(1036));
    manager->LoadFile(FileAt(xliff).Get(), force);
    manager->LoadFile(FileAt(strings).Get(), force);

    VString out;
    manager->LocalizeStringWithKey(VString("a"), out);
    manager->LocalizeStringWithDotStringsKey(VString("a"), out);
    manager->LocalizeErrorMessage(MakeVError(kXMLC_SIGNATURE, 3), out);
    manager->LocalizeStringWithSTRSharpCodes(STRSharpCodes{1, 1}, out);
    std::vector<VString> texts;
    manager->LocalizeGroupOfStringsWithAStrSharpID(1, texts);
    manager->GetOrderedStringsOfGroup(VString("a"), texts);
    if (const VValueBag* bag = manager->RetainGroupBag(VString("a")))
        bag->Release();
    std::vector<VRefPtr<const VValueBag>> bags;
    manager->RetainGroupBagsByRestype(VString("a"), bags);
    manager->DoesNeedAnUpdate();
    Check(manager->GetRefCount() == 1);
    return 0;
}
