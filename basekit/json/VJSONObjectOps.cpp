// VJSONObjectOps.cpp - clearing, merging, cloning and describing JSON objects.
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPropertyIterator.h"
#include "basekit/json/VJSONWriter.h"

namespace bkit {

bool VJSONObject::ClearProperty(const VString& name, VDBLanguageContext* languageContext)
{
    VJSONValue value = GetProperty(name, languageContext);
    switch (value.GetType()) {
        case JSON_undefined:
        case JSON_null:
        case JSON_false:
            return true;
        default:
            value.Clear();
            return SetProperty(name, value, languageContext);
    }
}

void VJSONObject::Clear()
{
    if (fImplementation)
        fImplementation->IJSON_Clear(this);
    ClearInternalProperties();
}

bool VJSONObject::ClearInternalProperties()
{
    std::vector<Entry> old;
    {
        StContainerLock lock(this);
        if (!_CheckWriter(VE_JSON_OBJECT_LOCKED_BY_OTHER_TASK))
            return false;
        old.swap(fProperties);
        fIndex.clear();
        // One link at a time, each value dropped after its own check: a
        // container held twice would otherwise never look collectable.
        StGraphLocker graphLock(IsSharedGraph());
        for (Entry& entry : old) {
            VJSONValue value(std::move(entry.second));
            _DisconnectValue(value);
        }
    }
    return true;
}

VJSONObject::NameValueList VJSONObject::GetInternalProperties() const
{
    StContainerLock lock(this);
    return fProperties;
}

bool VJSONObject::IsEmpty() const
{
    StContainerLock lock(this);
    if (!fProperties.empty())
        return false;
    return fImplementation == nullptr || fImplementation->IJSON_IsEmpty(this);
}

void VJSONObject::GetClassName(VString& out) const
{
    if (fImplementation) {
        VString name;
        if (fImplementation->IJSON_GetClassName(this, name) == eJSON_done && !name.IsEmpty()) {
            out = name;
            return;
        }
    }
    out.FromCString(_GetStorageLocker() != nullptr ? "Shared Object" : "Object");
}

VError VJSONObject::GetDescription(VString& out, bool shortForm, VDBLanguageContext* languageContext) const
{
    if (fImplementation && fImplementation->IJSON_GetDescription(this, out, shortForm) != eJSON_notHandled)
        return 0;
    StContainerLock lock(this);
    VJSONWriter writer(languageContext, VJSONWriter::kFlag_Quoted | (shortForm ? VJSONWriter::kFlag_ShortForm : 0u));
    return writer.StringifyObject(this, out);
}

VError VJSONObject::MergeWith(const VJSONObject* other, bool onlyMissing)
{
    if (other == nullptr || other == this)
        return 0;
    for (VJSONPropertyConstOrderedIterator i(other, 3); i.IsValid(); ++i) {
        if (!onlyMissing || !HasOwnProperty(i.GetName()))
            SetProperty(i.GetName(), i.GetValue());
    }
    return 0;
}

VError VJSONObject::Clone(VJSONValue& out, VJSONCloner& cloner) const
{
    if (fImplementation) {
        IJSONObject* implementation = nullptr;
        if (fImplementation->IJSON_CloneImpl(this, cloner, &implementation) == eJSON_done && implementation) {
            VJSONObject* copy = new VJSONObject(GetClassObject(), implementation, nullptr, false);
            copy->SetClassData(fClassData);
            implementation->Release();
            out.SetObject(copy);
            copy->Release();
            return CloneProperties(cloner, copy);
        }
        VError error = 0;
        EJSONStatus status = fImplementation->IJSON_Clone(this, cloner, out, &error);
        if (status != eJSON_notHandled)
            return error;
    }
    VJSONObject* copy = new VJSONObject(GetClassObject(), nullptr, nullptr, false);
    copy->SetClassData(fClassData);
    out.SetObject(copy);
    copy->Release();
    return CloneProperties(cloner, copy);
}

VError VJSONObject::CloneProperties(VJSONCloner& cloner, VJSONObject* target) const
{
    if (target == nullptr)
        return 0;
    target->ClearInternalProperties();
    for (VJSONPropertyConstOrderedIterator i(this, 3); i.IsValid(); ++i) {
        VJSONValue value = i.GetValue();
        VError error = cloner.CloneValue(value);
        if (error != 0)
            return error;
        target->SetOwnProperty(i.GetName(), value);
    }
    return 0;
}

}  // namespace bkit
