// fuzz_xml.cpp - libFuzzer target for the XML parser, its handler stack and the DOM wrapper.
//
// Each input is parsed as bytes through VXMLParser into a handler tree that
// accepts every element (and refuses some, so that skipped sub-trees are
// exercised), with and without validation and namespaces, then parsed as a
// UTF-16 string, and finally loaded as a DOM document that is replayed into
// handlers and serialized. Crashes, sanitizer reports, leaks of handlers (a
// reference count left above one) and unbounded entity expansion (the
// parser's limit) are the findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/values/VBlob.h"
#include "basekit/values/VObject.h"
#include "basekit/xml/IXMLDomWrapper.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/VXMLParser.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

// Accepts every element but those whose name begins with 's', keeps the text
// it gets so that the pieces are touched, and counts its events.
class FuzzHandler : public VObject, public IXMLHandler {
public:
    IXMLHandler* StartElement(const VString& name) override
    {
        ++fEvents;
        if (name.GetLength() > 0 && name[0] == 's')
            return nullptr;
        return new FuzzHandler;
    }
    void EndElement(const VString&) override { ++fEvents; }
    void SetAttribute(const VString& name, const VString& value) override
    {
        fEvents += name.GetLength() >= 0 && value.GetLength() >= 0;
    }
    void SetText(const VString& text) override { fText.AppendString(text); }

    VString fText;
    int fEvents = 0;
};

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
    StErrorContextInstaller errors(false, true);
    VXMLParser parser;
    const uint32_t kOptionSets[] = {XML_ValidateNever, 0,
                                    XML_ValidateAlways | XML_DoNamespaces | XML_LoadExternalDTD |
                                        XML_ReportDefaultedAttributes};
    for (uint32_t options : kOptionSets) {
        VRefPtr<FuzzHandler> root = VRefPtr<FuzzHandler>::Adopt(new FuzzHandler);
        parser.Parse(data, size, root.Get(), options);
        Check(root->GetRefCount() == 1);
    }

    VString text;
    text.FromBlock(data, size, VTC_UTF_16_SMALLENDIAN);
    VRefPtr<FuzzHandler> root = VRefPtr<FuzzHandler>::Adopt(new FuzzHandler);
    parser.Parse(text, root.Get(), XML_ValidateNever);
    Check(root->GetRefCount() == 1);

    XMLDOMNode document = IXMLDomWrapper::CreateNodeDocumentFromBuffer(data, size);
    if (document) {
        IXMLDomWrapper::RegisterNodeIDs(document);
        VRefPtr<FuzzHandler> replay = VRefPtr<FuzzHandler>::Adopt(new FuzzHandler);
        IXMLDomWrapper::Parse(document, replay.Get());
        Check(replay->GetRefCount() == 1);
        VBlobWithPtr blob;
        size_t written = 0;
        IXMLDomWrapper::SerializeToBlob(document, &blob, 0, written, false);
        IXMLDomWrapper::ReleaseNode(document);
    }
    return 0;
}
