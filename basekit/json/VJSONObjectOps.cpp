// VJSONObjectOps.cpp - clearing, merging, cloning and describing JSON objects.
#include "basekit/json/VJSONClass.h"
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
    if (!fProperties.empty() || (fClass != nullptr && fClass->HasGetters()))
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
    // The root "Object" names no class of its own: its instances are plain.
    if (!IsGenericObject()) {
        out = fClass->GetName();
        return;
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
    bool needsProperties = false;
    VError error = _CloneWithoutProperties(out, cloner, &needsProperties);
    if (error != 0 || !needsProperties)
        return error;
    return CloneProperties(cloner, out.GetObject());
}

VError VJSONObject::_CloneWithoutProperties(VJSONValue& out, VJSONCloner& cloner, bool* needsProperties) const
{
    *needsProperties = false;
    IJSONObject* implementation = nullptr;
    if (fImplementation) {
        if (fImplementation->IJSON_CloneImpl(this, cloner, &implementation) != eJSON_done)
            ReleaseRefCountable(&implementation);
        if (implementation == nullptr) {
            VError error = 0;
            EJSONStatus status = fImplementation->IJSON_Clone(this, cloner, out, &error);
            if (status != eJSON_notHandled)
                return error;
        }
    }
    // A plain object's copy stays plain: no class pointer, as for the source.
    VJSONObject* copy = new VJSONObject(fClass ? fClass->GetClassObject() : nullptr, implementation, nullptr, false);
    ReleaseRefCountable(&implementation);
    copy->SetClassData(fClassData);
    // Copies of a shared tree form one new shared tree, under the cloner's
    // one locker.
    if (_GetStorageLocker() != nullptr)
        copy->_SetStorageLocker(cloner.GetStorageLockerAndAssignIfNecessary());
    out.SetObject(copy);
    copy->Release();
    *needsProperties = true;
    return 0;
}

VError VJSONObject::CloneProperties(VJSONCloner& cloner, VJSONObject* target) const
{
    if (target == nullptr)
        return 0;
    VJSONUser user(target, false);
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
