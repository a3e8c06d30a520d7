// VJSONValueText.cpp - a JSON value to and from JSON text, in strings and files.
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/json/VJSONWriter.h"
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
    // What is refused is an answer, not a fault to report: the errors stay
    // on the caller's stack but are not reported as thrown.
    StErrorContextInstaller quiet(true, true);
    VJSONWriter writer(flags | kRefusingFlags);
    return writer.StringifyValue(*this, out);
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
