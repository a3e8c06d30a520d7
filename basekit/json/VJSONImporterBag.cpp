// VJSONImporterBag.cpp - the JSON text reader's bag mode: an object read
// straight into a bag.
#include <memory>

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONImporterWords.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

using namespace json_reader;

// --- bags ---

VValueSingle* VJSONImporter::_BagScalar(bool asAttribute, VError* error)
{
    VIndex n = 0;
    const UniChar* p = _TokenText(&n);
    const VString text(p, n);
    if (fQuoted) {
        const bool isDate = (fOptions & kOption_NonAmbiguousDates) ? text.IsNonAmbigousDate() : text.IsISODate();
        if (asAttribute && isDate) {
            VTime* time = new VTime();
            time->FromXMLString(text);
            return time;
        }
        return new VString(text);
    }
    if (SameWord(p, n, "null"))
        return new VString(true);
    if (SameWord(p, n, "true") || SameWord(p, n, "false"))
        return new VBoolean(SameWord(p, n, "true"));
    if (n > 0 && IsNumberWord(p, p + n)) {
        bool real = false;
        for (VIndex i = 0; i < n; ++i)
            real = real || p[i] == u'.' || p[i] == u'e' || p[i] == u'E';
        if (real)
            return new VReal(NumberValue(p, p + n));
        return new VLong8(text.GetLong8());
    }
    // Other bare words: text, as the plain reader gives them, unless strict.
    if (fOptions & kOption_Strict) {
        *error = _ThrowInvalid(text, kExpectedValue);
        return nullptr;
    }
    return new VString(text);
}

VError VJSONImporter::_ArrayToBag(VValueBag& bag, const StPackedDictionaryKey& name, uint32_t depth)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginArray, &err))
        return err;
    bool empty = true;
    while (err == 0) {
        JsonToken token = _ReadToken(&err);
        if (err != 0)
            break;
        if (token == jsonEndArray) {
            if (!empty)
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "]");
            break;
        }
        VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag());
        if (token == jsonBeginObject) {
            err = _ObjectToBag(*child, depth + 1);
        } else if (token == jsonString) {
            std::unique_ptr<VValueSingle> value(_BagScalar(false, &err));
            if (value)
                child->SetAttribute(VValueBagKeys::FakeArrayElement(), *value);
        } else {
            // An array directly inside an array has no bag form.
            err = _ThrowInvalid(_TokenToString(token), empty ? kExpectedElement : kExpectedValue);
            break;
        }
        bag.AddElement(name, child.Get());
        empty = false;
        if (err != 0)
            break;
        if (!_NextElement(&err))
            break;
    }
    return err;
}

VError VJSONImporter::_ObjectToBag(VValueBag& bag, uint32_t depth)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginObject, &err))
        return err;
    bool empty = true;
    while (err == 0) {
        JsonToken token = _ReadToken(&err);
        if (err != 0 || token == jsonNone)
            break;
        if (token == jsonEndObject) {
            if (!empty)
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "}");
            break;
        }
        if (token != jsonString || (!fQuoted && (fOptions & kOption_Strict))) {
            VIndex n = 0;
            const UniChar* p = _TokenText(&n);
            err = token == jsonString ? _ThrowInvalid(View(p, n), "\"")
                                      : _ThrowInvalid(_TokenToString(token), empty ? "\" }" : "\"");
            break;
        }
        VIndex nameLength = 0;
        const UniChar* nameUnits = _TokenText(&nameLength);
        const VString name(nameUnits, nameLength);
        if (!_ReadColon(&err))
            break;
        token = _ReadToken(&err);
        if (err != 0)
            break;
        const StPackedDictionaryKey key(name);
        if (token == jsonBeginObject) {
            VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag());
            child->SetBool(VValueBagKeys::ObjectUnic(), true);
            err = _ObjectToBag(*child, depth + 1);
            bag.AddElement(key, child.Get());
        } else if (token == jsonBeginArray) {
            err = _ArrayToBag(bag, key, depth + 1);
        } else if (token == jsonString && name == PrivateBinaryObjectName()) {
            VIndex n = 0;
            const UniChar* p = _TokenText(&n);
            VJSONValue revived;
            err = DecodeBinaryObject(VString(p, n), revived);
            if (err == 0)
                err = bag.FromJSONValue(revived);
        } else if (token == jsonString) {
            const bool isText = name == VString("__CDATA");
            std::unique_ptr<VValueSingle> value(_BagScalar(!isText, &err));
            if (value)
                bag.SetAttribute(isText ? VValueBag::CDataAttributeName() : key, *value);
        } else {
            err = _ThrowInvalid(_TokenToString(token), kExpectedValue);
        }
        empty = false;
        if (err != 0)
            break;
        token = _ReadToken(&err);
        if (err != 0 || token == jsonEndObject || token == jsonNone)
            break;
        if (token != jsonSeparator)
            err = _ThrowInvalid(_TokenToString(token), "} ,");
    }
    return err;
}

VError VJSONImporter::JSONObjectToBag(VValueBag& bag)
{
    VError err = 0;
    JsonToken token = _ReadToken(&err);
    if (err != 0)
        return err;
    if (token != jsonBeginObject)
        return _ThrowInvalid(_TokenToString(token), "{");
    return _ObjectToBag(bag, 0);
}

}  // namespace bkit
