// fuzz_bag_xml.cpp - libFuzzer target for reading XML documents into bags.
//
// Each input is parsed into a bag through the bag handlers, once expecting the
// root name "bag" and once accepting any. The bag read is written back as XML
// text, which must parse again without error (the writer's output is always
// well-formed), and as a binary stream that must read back. Names that could
// not be kept (longer than 255 bytes, stored as the empty name) make no
// well-formed element and skip the reparse check. Crashes, sanitizer reports
// and broken invariants are the findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/xml/VXMLParser.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

bool AllNamesKept(const VValueBag& bag)
{
    VString name;
    for (VIndex i = 1; i <= bag.GetAttributesCount(); ++i) {
        bag.GetNthAttribute(i, &name);
        if (name.IsEmpty())
            return false;
    }
    for (VIndex i = 1; i <= bag.GetElementNamesCount(); ++i) {
        const VBagArray* list = bag.GetNthElementName(i, &name);
        if (name.IsEmpty())
            return false;
        for (VIndex j = 1; list && j <= list->GetCount(); ++j) {
            if (!AllNamesKept(*list->GetNth(j)))
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static VProcess process;
    VTaskMgr::Init(&process);
    VXMLParser::Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StErrorContextInstaller quiet(false, true);
    const VString text(data, size, VTC_UTF_8);
    for (const char* root : {"bag", ""}) {
        VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
        if (LoadBagFromXML(text, VString(root), *bag) != VE_OK)
            continue;
        for (bool indented : {false, true}) {
            VString xml;
            bag->DumpXML(xml, VString("bag"), indented);
            VRefPtr<VValueBag> again = VRefPtr<VValueBag>::Adopt(new VValueBag());
            VError err = LoadBagFromXML(xml, VString("bag"), *again);
            Check(err == VE_OK || !AllNamesKept(*bag));
        }
        VPtrStream stream;
        stream.OpenWriting();
        bag->WriteToStream(&stream);
        stream.CloseWriting();
        stream.OpenReading();
        VRefPtr<VValueBag> binary = VRefPtr<VValueBag>::Adopt(new VValueBag());
        Check(binary->ReadFromStream(&stream) == VE_OK);
        stream.CloseReading();
    }
    return 0;
}
