// fuzz_text.cpp - libFuzzer target for the byte decoders of the text layer.
//
// Each input runs through the UTF-8 decoder (whole and in two pieces, so that
// characters cut at the seam are exercised), a stateful legacy decoder
// (ISO-2022-JP) and a multi-byte one (Shift_JIS), the charset guess, the
// Base64 decoder in both alphabets and the XML and JSON unescaping of strings. Decoded UTF-16 is written back as UTF-8
// and UTF-32 so that the encoders see every unit the decoders can make,
// lone surrogates included. Crashes, sanitizer reports and the invariants
// below are the findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/Base64Coder.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverters.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

void RoundTripUnits(const VString& text)
{
    VTextConverters* registry = VTextConverters::Get();
    for (CharSet charSet : {VTC_UTF_8, VTC_UTF_32_BIGENDIAN, 1005}) {
        VFromUnicodeConverter* out = registry->RetainFromUnicodeConverter(charSet);
        VFromUnicodeConverter::Buffer buffer;
        out->ConvertToBuffer(text.GetCPointer(), text.GetLength(), buffer, 1);
        out->Release();
    }
}

void Decode(CharSet charSet, const uint8_t* data, size_t size)
{
    VToUnicodeConverter* in = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
    VString text;
    size_t consumed = 0;
    in->ConvertString(data, size, &consumed, text);
    Check(consumed <= size);
    // Feeding the same bytes in two pieces, the first piece's leftover joined
    // to the second, must give the same text.
    size_t half = size / 2;
    VString pieces;
    size_t first = 0;
    in->ConvertString(data, half, &first, pieces);
    Check(first <= half);
    size_t second = 0;
    in->ConvertString(data + first, size - first, &second, pieces);
    if (charSet == VTC_UTF_8)
        Check(pieces == text && first + second == consumed);
    in->Release();
    RoundTripUnits(text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static VProcess process;
    VTaskMgr::Init(&process);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Decode(VTC_UTF_8, data, size);
    Decode(1001, data, size);  // ISO-2022-JP
    Decode(1000, data, size);  // Shift_JIS
    Decode(VTC_UTF_32_SMALLENDIAN, data, size);

    CharSet guess = VTC_UTF_16_SMALLENDIAN;
    VTextConverters::GuessCharsetWithNoBom(data, static_cast<int>(size), &guess, true);
    size_t bom = 0;
    VTextConverters::ParseBOM(data, size, &bom, &guess);
    Check(bom <= size);

    // The same bytes as text units: the string side of Base64 and the
    // escaping forms read them back.
    VString units;
    units.FromBlock(data, size, VTC_ISO_8859_1);
    VString copy(units);
    copy.DecodeBase64(VTC_UTF_8, false);
    VString xml(units);
    xml.TranscodeFromXML();
    VString json;
    json.FromJSONString(units, 0);
    VString escaped;
    json.GetJSONString(escaped, kJSONWithQuotes);

    for (bool urlSafe : {false, true}) {
        Base64Coder::Buffer decoded;
        if (Base64Coder::Decode(data, size, decoded, urlSafe, false)) {
            Base64Coder::Buffer encoded;
            Check(Base64Coder::_Encode(decoded.GetDataPtr(), decoded.GetDataSize(), encoded, 0, urlSafe));
        }
    }
    return 0;
}
