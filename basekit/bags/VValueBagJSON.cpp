// VValueBagJSON.cpp - the JSON text of bags: attributes as properties, element lists as arrays.
#include "basekit/bags/VValueBag.h"

#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"

namespace bkit {

namespace {

// Options of the JSON texts of attribute values: quoted strings, dates alone
// when the time of day is 0.
constexpr uint32_t kValueJSONOptions = 513;
constexpr uint32_t kPrettyOption = 8;
constexpr uint32_t kSingleChildAsObject = 32;

void AppendValueJSON(VString& out, const VValueSingle* value)
{
    if (value == nullptr || value->IsNull()) {
        out.AppendCString("null");
        return;
    }
    VString text;
    value->GetJSONString(text, kValueJSONOptions);
    out.AppendString(text);
}

}  // namespace

void VValueBag::AppendJSONNewline(VString& out, bool pretty)
{
    if (pretty)
        out.AppendUniChar('\n');
}

void VValueBag::AjustJSONTab(VString& out, int level, bool pretty)
{
    if (pretty) {
        for (int i = 0; i < level; ++i)
            out.AppendUniChar('\t');
    }
}

void VValueBag::AppendBeginJSONObject(VString& out, int& level, bool pretty)
{
    AppendJSONNewline(out, pretty);
    AjustJSONTab(out, level, pretty);
    out.AppendUniChar('{');
    ++level;
}

void VValueBag::AppendEndJSONObject(VString& out, int& level, bool pretty)
{
    AppendJSONNewline(out, pretty);
    --level;
    AjustJSONTab(out, level, pretty);
    out.AppendUniChar('}');
}

void VValueBag::AppendBeginJSONArray(VString& out, int& level, bool pretty)
{
    AppendJSONNewline(out, pretty);
    AjustJSONTab(out, level, pretty);
    out.AppendUniChar('[');
    ++level;
}

void VValueBag::AppendEndJSONArray(VString& out, int& level, bool pretty)
{
    AppendJSONNewline(out, pretty);
    --level;
    AjustJSONTab(out, level, pretty);
    out.AppendUniChar(']');
}

void VValueBag::AppendJSONPropertyName(VString& out, int& level, bool pretty, const VString& name)
{
    AppendJSONNewline(out, pretty);
    AjustJSONTab(out, level, pretty);
    VString quoted;
    name.GetJSONString(quoted, kJSONWithQuotes);
    out.AppendString(quoted);
    out.AppendCString(pretty ? " : " : ":");
}

VError VValueBag::GetJSONString(VString& json, uint32_t options) const
{
    json.Clear();
    int level = 0;
    return _GetJSONString(json, level, (options & kPrettyOption) != 0, options);
}

VError VValueBag::_GetJSONString(VString& out, int& level, bool pretty, uint32_t options) const
{
    if (AttributeExists(VValueBagKeys::FakeArrayElement())) {
        AppendValueJSON(out, GetAttributeValue(VValueBagKeys::FakeArrayElement()));
        return VE_OK;
    }
    AppendBeginJSONObject(out, level, pretty);
    bool first = true;
    VString name;
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        size_t length = 0;
        const char* bytes = fAttributes.GetNameBytes(i, &length);
        if (_IsHiddenMarker(bytes, length))
            continue;
        if (!first)
            out.AppendUniChar(',');
        first = false;
        if (CDataAttributeName().Equal(bytes, length))
            name = "__CDATA";
        else
            fAttributes.GetName(i, name);
        AppendJSONPropertyName(out, level, pretty, name);
        AppendValueJSON(out, fAttributes.GetNthValue(i));
    }
    for (VIndex i = 1; i <= GetElementNamesCount(); ++i) {
        const VBagArray* list = GetNthElementName(i, &name);
        if (!first)
            out.AppendUniChar(',');
        first = false;
        AppendJSONPropertyName(out, level, pretty, name);
        const VIndex count = list ? list->GetCount() : 0;
        const VValueBag* single = count == 1 ? list->GetNth(1) : nullptr;
        if (single != nullptr &&
            ((options & kSingleChildAsObject) != 0 || single->AttributeExists(VValueBagKeys::ObjectUnic()))) {
            single->_GetJSONString(out, level, pretty, options);
        } else if (list != nullptr) {
            list->_GetJSONString(out, level, pretty, options);
        } else {
            AppendBeginJSONArray(out, level, pretty);
            AppendEndJSONArray(out, level, pretty);
        }
    }
    AppendEndJSONObject(out, level, pretty);
    return VE_OK;
}

VError VValueBag::FromJSONString(const VString& json, uint32_t options)
{
    // Caller bit 0x1000 becomes the importer's 512 (only unambiguous dates).
    VJSONImporter importer(json, (options >> 3) & VJSONImporter::kOption_NonAmbiguousDates);
    return importer.JSONObjectToBag(*this);
}

VError VValueBag::FromJSONValue(const VJSONValue& json)
{
    VString text;
    VError err = json.Stringify(text, 1);
    if (err != VE_OK)
        return err;
    return FromJSONString(text, 0);
}

VJSONObject* VValueBag::BuildJSONObject(VError& error) const
{
    VString text;
    error = GetJSONString(text, 0);
    if (error != VE_OK)
        return nullptr;
    VJSONValue value;
    error = value.ParseFromString(text, true, false);
    if (error != VE_OK || !value.IsObject())
        return nullptr;
    VJSONObject* object = value.GetObject();
    object->Retain();
    return object;
}

VError VValueBag::GetJSONValue(VJSONValue& json, uint32_t) const
{
    VError err = VE_OK;
    VJSONObject* object = BuildJSONObject(err);
    if (object == nullptr) {
        json.SetUndefined();
        return err;
    }
    json.SetObject(object);
    object->Release();
    return VE_OK;
}

VError VBagArray::_GetJSONString(VString& out, int& level, bool pretty, uint32_t options) const
{
    VValueBag::AppendBeginJSONArray(out, level, pretty);
    for (size_t i = 0; i < fBags.size(); ++i) {
        if (i > 0)
            out.AppendUniChar(',');
        fBags[i]->_GetJSONString(out, level, pretty, options);
    }
    VValueBag::AppendEndJSONArray(out, level, pretty);
    return VE_OK;
}

}  // namespace bkit
