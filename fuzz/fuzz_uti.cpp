// fuzz_uti.cpp - libFuzzer target for the type-identifier property lists read by VUTIManager.
//
// The first byte of each input chooses the form; the rest is the property
// list, taken as it is or placed inside the exported-declarations array of a
// property-list skeleton (so that declarations, tags and conformance lists are
// reached quickly). It is written to disk and loaded into a fresh manager over
// a fresh file-kind registry; the types read are then linked, asked for by
// tag, and walked for conformance (loops among declarations included).
// Crashes, sanitizer reports, endless walks and a manager whose reference
// count moved are the findings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/xml/VUTI.h"
#include "basekit/xml/VUTIManager.h"

using namespace bkit;
using namespace bkit::fuzz;

static std::string sFolder;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    sFolder = StartFileFuzzing("/tmp/fuzz_uti");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                  "<key>UTExportedTypeDeclarations</key><array>" +
                  content + "</array></dict></plist>";
    }
    const std::string path = sFolder + "/Info.plist";
    if (!WriteWhole(path, content))
        return 0;

    // The registry keeps every kind the manager declares: a fresh one per
    // input keeps the inputs apart.
    const bool ownsKinds = VFileKindManager::Get() == nullptr && VFileKindManager::Init();
    {
        StErrorContextInstaller errors(false, true);
        VRefPtr<VUTIManager> manager = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
        VRefPtr<VFile> file = FileAt(path);
        manager->LoadXMLFile(file.Get());

        const char* const kTags[][2] = {{kUTTagClassFilenameExtension, "plist"},
                                        {kUTTagClassMIMEType, "text/xml"},
                                        {kUTTagClassOSType, "TEXT"}};
        for (const auto& tag : kTags) {
            VRefPtr<VUTI> preferred = VRefPtr<VUTI>::Adopt(
                manager->UTTypeCreatePreferredIdentifierForTag(VString(tag[0]), VString(tag[1]), VString("")));
            if (preferred)
                preferred->ConformsToIdentifier(VString("public.data"));
            if (std::vector<VUTI*>* all =
                    manager->UTTypeCreateAllIdentifiersForTag(VString(tag[0]), VString(tag[1]), VString(""))) {
                for (VUTI* uti : *all) {
                    uti->ConformsToIdentifier(VString("public.text"));
                    uti->Release();
                }
                delete all;
            }
        }
        manager->UTTypeConformsTo(file.Get(), VString("public.xml"));
        Check(manager->GetRefCount() == 1);
    }
    if (ownsKinds)
        VFileKindManager::DeInit();
    return 0;
}
