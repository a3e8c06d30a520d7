// VJSONPropertyIterator.cpp - the three walks over a JSON object's properties.
#include "basekit/json/VJSONPropertyIterator.h"

#include <algorithm>

#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONGraph.h"

namespace bkit {

VJSONPropertyIteratorBase::VJSONPropertyIteratorBase(const VJSONObject* object)
    : fObject(const_cast<VJSONObject*>(object))
{
}

const VString& VJSONPropertyIteratorBase::GetName() const
{
    return _OnExtraName() ? fNames[fPosition] : fEntries[fPosition - fNames.size()].first;
}

VJSONValue VJSONPropertyIteratorBase::GetValue(VDBLanguageContext* languageContext) const
{
    if (_OnExtraName())
        return fObject->GetProperty(fNames[fPosition], languageContext);
    return fEntries[fPosition - fNames.size()].second;
}

bool VJSONPropertyIteratorBase::_AddImplementationNames(bool skipStored)
{
    IJSONObject* implementation = fObject ? fObject->GetImplementation() : nullptr;
    if (implementation == nullptr)
        return false;
    std::vector<VString> names;
    if (implementation->IJSON_GetPropertyNames(fObject.Get(), names) == eJSON_notHandled)
        return false;
    for (VString& name : names) {
        if (!skipStored || !fObject->HasOwnProperty(name))
            fNames.push_back(std::move(name));
    }
    return true;
}

void VJSONPropertyIteratorBase::_AddClassGetterNames()
{
    if (const VJSONClass* cls = fObject ? fObject->GetClass() : nullptr)
        cls->GetGetterNames(fNames);
}

void VJSONPropertyIteratorBase::_TakeStoredProperties()
{
    if (fObject)
        fEntries = fObject->GetInternalProperties();
}

VJSONPropertyIterator::VJSONPropertyIterator(VJSONObject* object)
    : VJSONPropertyIteratorBase(object), fUser(std::make_unique<VJSONUser>(object, false))
{
    if (!_AddImplementationNames(false))
        _AddClassGetterNames();
    _TakeStoredProperties();
}

void VJSONPropertyIterator::SetValue(const VJSONValue& value, VDBLanguageContext* languageContext)
{
    if (!IsValid())
        return;
    if (!_OnExtraName() && value.IsUndefined())
        return;
    fObject->SetProperty(GetName(), value, languageContext);
}

VJSONPropertyConstIterator::VJSONPropertyConstIterator(const VJSONObject* object)
    : VJSONPropertyIteratorBase(object)
{
    if (!_AddImplementationNames(false))
        _AddClassGetterNames();
    _TakeStoredProperties();
}

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32_t options)
    : VJSONPropertyIteratorBase(object)
{
    if (!fObject)
        return;
    bool answered = false;
    if (fObject->IsShared()) {
        // Names only, read back through GetProperty: the values of a shared
        // tree are read under its lock at the moment they are visited.
        if ((options & 1) == 0)
            answered = _AddImplementationNames(true);
        StContainerLock lock(fObject.Get(), true);
        for (const auto& entry : fObject->fProperties)
            fNames.push_back(entry.first);
    } else {
        if ((options & 1) == 0)
            answered = _AddImplementationNames(false);
        _TakeStoredProperties();
    }
    if ((options & 2) == 0 && !answered)
        _AddClassGetterNames();
}

}  // namespace bkit
