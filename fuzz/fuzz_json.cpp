// fuzz_json.cpp - libFuzzer target for the JSON text reader and writer.
//
// Each input is decoded as UTF-8 and read in lenient and strict mode, with
// positions and dates recorded in one of them; every tree read without error
// is written compact and indented, and the compact text read again, which
// must succeed. Numbers keep 14 digits, so the first text may differ from
// the second, but from then on reading and writing give the same text back.
// Crashes, sanitizer reports and these invariants are the findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

// The compact text of what text reads as, strictly.
VString Rewrite(const VString& text)
{
    VJSONValue value;
    Check(VJSONImporter::ParseString(text, value, VJSONImporter::kOption_Strict) == 0);
    VString out;
    Check(value.Stringify(out, VJSONWriter::kFlag_Quoted) == 0);
    return out;
}

void RoundTrip(const VJSONValue& value)
{
    VString indented;
    Check(value.Stringify(indented, VJSONWriter::kFlag_Quoted | VJSONWriter::kFlag_Indented) == 0);
    VString compact;
    Check(value.Stringify(compact, VJSONWriter::kFlag_Quoted) == 0);
    Check(Rewrite(indented) == Rewrite(compact));
    VString stable = Rewrite(compact);
    Check(Rewrite(stable) == stable);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VString text;
    text.FromBlock(data, size, VTC_UTF_8);
    StErrorContextInstaller quiet(false, true);
    const uint32_t runs[] = {
        0,
        VJSONImporter::kOption_Strict,
        VJSONImporter::kOption_RecordPositions | VJSONImporter::kOption_MarkedDates | VJSONImporter::kOption_ISODates,
        VJSONImporter::kOption_Strict | VJSONImporter::kOption_NoInvalidTokenErrors |
            VJSONImporter::kOption_MarkedDates | VJSONImporter::kOption_NonAmbiguousDates,
    };
    for (uint32_t options : runs) {
        VJSONValue value;
        VError err = VJSONImporter::ParseString(text, value, options);
        Check(err == 0 || err == VE_JSON_MALFORMED);
        // Dates are written as full times, which read back as strings: the
        // round trip holds for trees without them.
        if (err == 0 && !(options & (VJSONImporter::kOption_MarkedDates | VJSONImporter::kOption_ISODates)))
            RoundTrip(value);
        quiet.Flush();
    }
    return 0;
}
