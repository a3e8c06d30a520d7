// VJSONValueText.cpp - a JSON value to and from JSON text, in strings and files.
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

namespace {

// What a value written with kStringifyRefuseUnwritable adds to the flags:
// binary objects, non-generic objects and objects met twice are refused.
constexpr uint32_t kStringifyRefuseUnwritable = 0x800;
constexpr uint32_t kRefusingFlags = VJSONWriter::kFlag_RefuseBinaryObjects | VJSONWriter::kFlag_OnlyGenericObjects |
                                    VJSONWriter::kFlag_RefuseRepeated;

constexpr uint32_t kDateOptions = VJSONImporter::kOption_MarkedDates | VJSONImporter::kOption_ISODates;

}  // namespace

VError VJSONValue::Stringify(VString& out, uint32_t flags) const
{
    if (!(flags & kStringifyRefuseUnwritable)) {
        VJSONWriter writer(flags);
        return writer.StringifyValue(*this, out);
    }
    VError err = 0;
    {
        StErrorContextInstaller attempt(true, true);
        VJSONWriter writer(flags | kRefusingFlags);
        err = writer.StringifyValue(*this, out);
        if (err != VE_JSON_CYCLE && err != VE_JSON_BINARY_OBJECT_REFUSED && err != VE_JSON_NOT_GENERIC_OBJECT &&
            err != VE_JSON_OBJECT_WRITTEN_TWICE)
            return err;
        attempt.Flush();
    }
    // Text cannot carry this value: its binary form goes into the text as
    // Base64, which the reader revives.
    VMemoryBuffer<> bytes;
    VJSONBinaryWriter binary(64);
    err = binary.StreamValue(*this, bytes);
    if (err != 0)
        return err;
    VString base64;
    if (!base64.EncodeBase64(bytes.GetDataPtr(), bytes.GetDataSize()))
        return _ThrowError(VE_MEMORY_FULL);
    VJSONObject* holder = new VJSONObject();
    holder->SetProperty(VJSONImporter::PrivateBinaryObjectName(), VJSONValue(base64));
    VJSONValue wrapped(holder);
    holder->Release();
    VJSONWriter writer(flags);
    return writer.StringifyValue(wrapped, out);
}

VError VJSONValue::ParseFromString(const VString& text, bool dates, bool nonAmbiguousDates)
{
    uint32_t options = 0;
    if (dates && nonAmbiguousDates)
        options = VJSONImporter::kOption_MarkedDates | VJSONImporter::kOption_NonAmbiguousDates;
    else if (dates)
        options = kDateOptions;
    return VJSONImporter::ParseString(text, *this, options);
}

VError VJSONValue::LoadFromFile(IFile* file, bool dates)
{
    return VJSONImporter::ParseFile(file, *this, dates ? kDateOptions : 0);
}

VError VJSONValue::SaveToFile(IFile* file, uint32_t flags) const
{
    return VJSONWriter::StringifyValueToFile(file, *this, flags);
}

}  // namespace bkit
