// VJSONUtilities.cpp - path editors, value iterators and class tests.
#include "basekit/json/VJSONUtilities.h"

#include <algorithm>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/values/VTime.h"

namespace bkit {

// --- alter ---

void VJSONAlter::_MakeObjIfNecessary(VJSONValue& value)
{
    if (value.IsObject())
        return;
    VJSONObject* object = new VJSONObject();
    value.SetObject(object);
    object->Release();
}

void VJSONAlter::_Set(VJSONValue& value, const VString& path, const VJSONValue& member)
{
    _MakeObjIfNecessary(value);
    value.GetObject()->SetPropertyWithPath(path, member);
}

VJSONAlter::VJSONAlter(VJSONValue& value) { _MakeObjIfNecessary(value); }

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path)
{
    if (VJSONObject* object = value.GetObject())
        object->RemoveOwnProperty(path);
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, bool flag)
{
    _Set(value, path, VJSONValue(flag ? JSON_true : JSON_false));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, int number)
{
    _Set(value, path, VJSONValue(static_cast<double>(number)));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, double number)
{
    _Set(value, path, VJSONValue(number));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const VString& text)
{
    _Set(value, path, VJSONValue(text));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const char* text)
{
    _Set(value, path, VJSONValue(VString(text ? text : "")));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const UniChar* text)
{
    VString s;
    if (text) {
        VIndex n = 0;
        while (text[n] != 0)
            ++n;
        s.FromUniString(text, n);
    }
    _Set(value, path, VJSONValue(s));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const VJSONValue& member)
{
    _Set(value, path, member);
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, JSONType type, VJSONArray** array)
{
    VJSONValue member(type);
    if (array)
        *array = member.GetArray();
    _Set(value, path, member);
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const VTime& time)
{
    VString text;
    time.GetJSONString(text, 0);
    _Set(value, path, VJSONValue(text));
}

// --- iterator ---

VJSONIter::VJSONIter(VJSONObject* object, int64_t start, int64_t end, bool toEnd) : fSubject(object)
{
    IJSONObject* implementation = object ? object->GetImplementation() : nullptr;
    if (implementation)
        fIterator = implementation->IJSON_MakeIterator(object, start, end, toEnd);
    if (fIterator == nullptr && object != nullptr) {
        for (const auto& entry : object->GetInternalProperties())
            fNames.push_back(entry.first);
    }
}

VJSONIter::VJSONIter(VJSONArray* array, int64_t start, int64_t end, bool toEnd) : fSubject(array)
{
    const int64_t count = array ? static_cast<int64_t>(array->GetCount()) : 0;
    fCurrent = std::max<int64_t>(start < 0 ? count + start : start, 0);
    if (toEnd)
        fEnd = count;
    else
        fEnd = std::min(end < 0 ? count + end : end, count);
}

VJSONIter::~VJSONIter() { delete fIterator; }

bool VJSONIter::NextValue(VJSONValue& value)
{
    value.SetUndefined();
    if (VJSONArray* array = fSubject.GetArray()) {
        VJSONUser user(array->_GetStorageLocker(), false);
        if (fCurrent >= fEnd || fCurrent >= static_cast<int64_t>(array->GetCount()))
            return false;
        array->GetAt(static_cast<size_t>(fCurrent++), value);
        return true;
    }
    if (fIterator)
        return fIterator->GetNextValue(value);
    if (fPosition >= fNames.size())
        return false;
    value.SetString(fNames[fPosition++]);
    return true;
}

// --- class tests ---

bool IsObjectAFormula(const VJSONObject* object)
{
    VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    const VJSONClass* function = store ? VJSONClass::FromClassObject(store->GetFunctionClassObject()) : nullptr;
    return object != nullptr && function != nullptr && object->IsInstanceOf(function);
}

bool IsObjectAFormula(const VJSONValue& value) { return IsObjectAFormula(value.GetObject()); }

VJSONObject* GetSingletonFromMap(VJSONSingletonMap& map, const VJSONClass* cls, VDBLanguageContext* languageContext,
                                 IJSONFunctionContext* context)
{
    if (cls == nullptr)
        return nullptr;
    auto found = map.find(cls);
    if (found != map.end())
        return found->second.RetainObject();
    VJSONObject* classObject = cls->GetClassObject();
    VJSONFunctionContext own(classObject, nullptr, nullptr, nullptr, languageContext);
    VJSONObject* instance = cls->CreateInstance(classObject, context ? context : &own);
    map[cls] = instance ? VJSONValue(instance) : VJSONValue(JSON_null);
    return instance;
}

}  // namespace bkit
