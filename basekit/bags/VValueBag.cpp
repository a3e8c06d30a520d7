// VValueBag.cpp - the bag: construction, attributes, element lists and the debug text.
#include "basekit/bags/VValueBag.h"

#include <cstring>
#include <new>

#include "basekit/process/VProcess.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

const VValueInfo_default<VValueBag, VK_BAG> VValueBag::sInfo;

namespace VValueBagKeys {

const StPackedDictionaryKey& ObjectUnic()
{
    static const StPackedDictionaryKey key("____objectunic");
    return key;
}

const StPackedDictionaryKey& PropertyNameInJSArray()
{
    static const StPackedDictionaryKey key("____property_name_in_jsarray");
    return key;
}

const StPackedDictionaryKey& FakeArrayElement()
{
    static const StPackedDictionaryKey key("____FakeArrayElement");
    return key;
}

const StBagKeyWithDefault<VUUID, VUUID>& UUID()
{
    static const StBagKeyWithDefault<VUUID, VUUID> key("uuid", VUUID::sNullUUID);
    return key;
}

}  // namespace VValueBagKeys

const StPackedDictionaryKey& VValueBag::CDataAttributeName()
{
    static const StPackedDictionaryKey key("<>");
    return key;
}

bool VValueBag::_IsHiddenMarker(const char* bytes, size_t length)
{
    return VValueBagKeys::ObjectUnic().Equal(bytes, length) ||
           VValueBagKeys::PropertyNameInJSArray().Equal(bytes, length);
}

VValueBag::VValueBag() = default;

VValueBag::VValueBag(const VValueBag& other) : VValue(other), IRefCountable(), fAttributes(other.fAttributes)
{
    if (other.fElements == nullptr)
        return;
    fElements = new ElementStore(*other.fElements);
    for (size_t i = 0; i < other.fElements->GetCount(); ++i) {
        if (const VBagArray* list = other.fElements->GetNthList(i))
            fElements->SetNthListAdopting(i, new VBagArray(*list));
    }
}

VValueBag::~VValueBag()
{
    delete fElements;
}

const VValueInfo* VValueBag::GetValueInfo() const
{
    return &sInfo;
}

VValue* VValueBag::Clone() const
{
    return new (std::nothrow) VValueBag(*this);
}

void VValueBag::Destroy()
{
    fAttributes.Destroy();
    delete fElements;
    fElements = nullptr;
}

CharSet VValueBag::DebugDump(char* buffer, int& size)
{
    if (VProcess::sInstance == nullptr || buffer == nullptr || size <= 0) {
        size = 0;
        return VTC_UTF_16;
    }
    VString text;
    VString name;
    for (VIndex i = 1; i <= GetAttributesCount(); ++i) {
        const VValueSingle* value = GetNthAttribute(i, &name);
        if (value)
            text.AppendPrintf("%S = %A\n", &name, value);
        else
            text.AppendPrintf("%S = \n", &name);
    }
    for (VIndex i = 1; i <= GetElementNamesCount(); ++i) {
        const VBagArray* list = GetNthElementName(i, &name);
        const VIndex count = list ? list->GetCount() : 0;
        text.AppendPrintf("=======\n%d %S :\n", static_cast<int>(count), &name);
        for (VIndex j = 1; j <= count; ++j)
            text.AppendPrintf("--\n%V", list->GetNth(j));
    }
    VIndex units = text.GetLength();
    if (units > size / 2)
        units = size / 2;
    std::memcpy(buffer, text.GetCPointer(), static_cast<size_t>(units) * sizeof(UniChar));
    size = units * static_cast<int>(sizeof(UniChar));
    return VTC_UTF_16;
}

// --- attributes ---

void VValueBag::SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value)
{
    if (!fAttributes.SetExistingValue(key, value))
        fAttributes.Append(key, value);
}

void VValueBag::SetBool(const StPackedDictionaryKey& key, bool value)
{
    SetAttribute(key, VBoolean(value));
}

void VValueBag::SetLong(const StPackedDictionaryKey& key, int32_t value)
{
    SetAttribute(key, VLong(value));
}

void VValueBag::SetLong8(const StPackedDictionaryKey& key, long long value)
{
    SetAttribute(key, VLong8(static_cast<int64_t>(value)));
}

void VValueBag::SetReal(const StPackedDictionaryKey& key, double value)
{
    SetAttribute(key, VReal(value));
}

void VValueBag::SetTime(const StPackedDictionaryKey& key, const VTime& value)
{
    SetAttribute(key, value);
}

void VValueBag::SetString(const StPackedDictionaryKey& key, const VString& value)
{
    SetAttribute(key, value);
}

void VValueBag::SetVUUID(const StPackedDictionaryKey& key, const VUUID& value)
{
    SetAttribute(key, value);
}

bool VValueBag::GetAttribute(const StPackedDictionaryKey& key, VValueSingle& value) const
{
    return fAttributes.GetValue(key, value);
}

bool VValueBag::GetLong(const StPackedDictionaryKey& key, int32_t& out) const
{
    VLong value;
    if (!GetAttribute(key, value))
        return false;
    out = value.GetLong();
    return true;
}

bool VValueBag::GetLong8(const StPackedDictionaryKey& key, int64_t& out) const
{
    VLong8 value;
    if (!GetAttribute(key, value))
        return false;
    out = value.GetLong8();
    return true;
}

bool VValueBag::GetBool(const StPackedDictionaryKey& key, bool& out) const
{
    VBoolean value;
    if (!GetAttribute(key, value))
        return false;
    out = value.GetBoolean() != 0;
    return true;
}

const VValueSingle* VValueBag::GetAttributeValue(const StPackedDictionaryKey& key) const
{
    return fAttributes.GetCachedValue(key);
}

bool VValueBag::AttributeExists(const StPackedDictionaryKey& key) const
{
    return fAttributes._FindIndex(key) < fAttributes.GetCount();
}

void VValueBag::RemoveAttribute(const StPackedDictionaryKey& key)
{
    fAttributes.Clear(key);
}

const VValueSingle* VValueBag::GetNthAttribute(VIndex n, VString* name) const
{
    if (n < 1 || n > GetAttributesCount()) {
        if (name)
            name->Clear();
        return nullptr;
    }
    if (name)
        fAttributes.GetName(static_cast<size_t>(n - 1), *name);
    return fAttributes.GetNthValue(static_cast<size_t>(n - 1));
}

void VValueBag::AppendToCData(const VString& text)
{
    const StPackedDictionaryKey& key = CDataAttributeName();
    VValueSingle* current = fAttributes.GetCachedValue(key);
    if (current == nullptr && !AttributeExists(key)) {
        SetAttribute(key, text);
        return;
    }
    if (current != nullptr && current->GetValueKind() == VK_STRING) {
        static_cast<VString*>(current)->AppendString(text);
    } else {
        VString joined;
        if (current)
            current->GetString(joined);
        joined.AppendString(text);
        fAttributes.SetExistingValue(key, joined);
    }
    fAttributes.SetDirty(true);
}

void VValueBag::GetCData(VString& out) const
{
    out.Clear();
    GetAttribute(CDataAttributeName(), out);
}

bool VValueBag::IsEmpty(bool ignoreMarkers) const
{
    if (fElements != nullptr && !fElements->IsEmpty())
        return false;
    if (!ignoreMarkers)
        return fAttributes.IsEmpty();
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        size_t length = 0;
        const char* bytes = fAttributes.GetNameBytes(i, &length);
        if (!_IsHiddenMarker(bytes, length))
            return false;
    }
    return true;
}

// --- elements ---

VValueBag::ElementStore* VValueBag::_Elements()
{
    if (fElements == nullptr)
        fElements = new (std::nothrow) ElementStore();
    return fElements;
}

VBagArray* VValueBag::GetElements(const StPackedDictionaryKey& name) const
{
    return fElements ? fElements->GetList(name) : nullptr;
}

void VValueBag::SetElements(const StPackedDictionaryKey& name, VBagArray* list)
{
    if (ElementStore* elements = _Elements())
        elements->SetValue(name, list);
}

VIndex VValueBag::GetElementNamesCount() const
{
    return fElements ? static_cast<VIndex>(fElements->GetCount()) : 0;
}

VBagArray* VValueBag::GetNthElementName(VIndex n, VString* name) const
{
    if (n < 1 || n > GetElementNamesCount()) {
        if (name)
            name->Clear();
        return nullptr;
    }
    if (name)
        fElements->GetName(static_cast<size_t>(n - 1), *name);
    return fElements->GetNthList(static_cast<size_t>(n - 1));
}

void VValueBag::AddElement(const StPackedDictionaryKey& name, VValueBag* bag)
{
    if (bag == nullptr)
        return;
    if (VBagArray* list = GetElements(name)) {
        list->AddTail(bag);
        return;
    }
    ElementStore* elements = _Elements();
    VBagArray* list = new (std::nothrow) VBagArray();
    if (elements == nullptr || list == nullptr) {
        delete list;
        return;
    }
    if (!list->AddTail(bag)) {
        list->Release();
        return;
    }
    // A name kept without a list (SetElements with null) takes the new list,
    // so that a name never appears twice.
    if (elements->_FindIndex(name) < elements->GetCount()) {
        elements->SetValue(name, list);
        list->Release();
    } else {
        elements->AppendAdopting(name, list);
    }
}

VError VValueBag::AddElement(const IBaggable* object)
{
    if (object == nullptr)
        return VE_OK;
    VValueBag* bag = new (std::nothrow) VValueBag();
    if (bag == nullptr)
        return VE_MEMORY_FULL;
    VStr<31> kind;
    VError err = object->SaveToBag(*bag, kind);
    if (err == VE_OK)
        AddElement(StPackedDictionaryKey(kind), bag);
    bag->Release();
    return err;
}

void VValueBag::RemoveElements(const StPackedDictionaryKey& name)
{
    if (fElements)
        fElements->Remove(name);
}

bool VValueBag::ReplaceElement(const StPackedDictionaryKey& name, VValueBag* bag)
{
    if (bag == nullptr) {
        RemoveElements(name);
        return false;
    }
    VBagArray* list = GetElements(name);
    if (list == nullptr) {
        AddElement(name, bag);
        return GetElements(name) != nullptr;
    }
    if (list->GetCount() == 1 && list->GetNth(1) == bag)
        return false;
    bag->Retain();
    list->Destroy();
    bool added = list->AddTail(bag);
    bag->Release();
    return added;
}

// --- IBaggable ---

VError IBaggable::LoadFromBagWithLoader(const VValueBag& bag, VBagLoader* loader, void* context)
{
    (void)loader;
    (void)context;
    return LoadFromBag(bag);
}

VError IBaggable::LoadFromBag(const VValueBag& bag)
{
    (void)bag;
    return VE_OK;
}

// --- VBagLoader ---

VBagLoader::VBagLoader(bool regenerateUUIDs, bool second) : fRegenerateUUIDs(regenerateUUIDs), fSecond(second)
{
    (void)fSecond;
    (void)fThird;
    (void)fFourth;
}

bool VBagLoader::GetUUID(const VValueBag& bag, VUUID& uuid)
{
    VUUID stored;
    const bool present = VValueBagKeys::UUID().Get(&bag, stored);
    if (!fRegenerateUUIDs) {
        if (present) {
            uuid.FromVUUID(stored);
            return true;
        }
        uuid.Clear();
        uuid.Regenerate();
        return false;
    }
    if (!present) {
        uuid.Regenerate();
        return false;
    }
    if (stored.IsNull()) {
        uuid.Regenerate();
        return true;
    }
    auto found = fUUIDs.find(stored);
    if (found != fUUIDs.end()) {
        uuid.FromVUUID(found->second);
    } else {
        uuid.Regenerate();
        fUUIDs.emplace(stored, uuid);
    }
    return true;
}

bool VBagLoader::ResolveUUID(VUUID& uuid) const
{
    if (!fRegenerateUUIDs)
        return true;
    auto found = fUUIDs.find(uuid);
    if (found == fUUIDs.end())
        return false;
    uuid.FromVUUID(found->second);
    return true;
}

}  // namespace bkit
