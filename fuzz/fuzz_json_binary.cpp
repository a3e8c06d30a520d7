// fuzz_json_binary.cpp - libFuzzer target for the binary JSON reader and the
// revival of binary objects inside JSON text.
//
// Each input is read as a binary stream; a tree read without error is
// written back in binary form, which must read again. The same bytes are
// then put into text as the Base64 of "__PRIVATE_BINARY_OBJECT" and read by
// the text reader, into a tree and into a bag. Crashes, sanitizer reports and a failed re-read are the
// findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VProcess* process = [] {
        VProcess* p = new VProcess();
        Check(p->Init(0) && VTaskMgr::IsInited());
        VJSONClassStore::InitProcessStore();
        return p;
    }();
    (void)process;

    StErrorContextInstaller silent(false, true);
    VJSONValue value;
    VJSONBinaryImporter importer(data, size);
    if (importer.GetValue(value) == 0) {
        VMemoryBuffer<> again;
        VJSONBinaryWriter writer;
        if (writer.StreamValue(value, again) == 0) {
            VJSONValue reread;
            VJSONBinaryImporter second(again.GetDataPtr(), again.GetDataSize());
            Check(second.GetValue(reread) == 0);
        }
    }

    VString base64;
    if (base64.EncodeBase64(data, size)) {
        VString text("{\"__PRIVATE_BINARY_OBJECT\":\"");
        text.AppendString(base64);
        text.AppendCString("\"}");
        VJSONValue revived;
        VJSONImporter::ParseString(text, revived, 0);
        VValueBag bag;
        VJSONImporter toBag(text);
        toBag.JSONObjectToBag(bag);
    }
    return 0;
}
