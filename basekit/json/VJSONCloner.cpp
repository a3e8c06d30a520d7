// VJSONCloner.cpp - deep copies that keep the shape of shared parts and cycles.
#include "basekit/json/VJSONCloner.h"

#include <new>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

VJSONCloner::~VJSONCloner() { ReleaseRefCountable(&fLocker); }

VStorageLocker* VJSONCloner::GetStorageLockerAndAssignIfNecessary()
{
    if (fLocker == nullptr)
        fLocker = new VStorageLocker(true, false);
    else if (fLocker->IsPrivate())
        fLocker->SetPrivate(false);
    return fLocker;
}

void VJSONCloner::SetStorageLocker(VStorageLocker* locker)
{
    VStorageLocker* old = fLocker;
    fLocker = RetainRefCountable(locker);
    ReleaseRefCountable(&old);
}

VError VJSONCloner::CloneValue(VJSONValue& value)
{
    if (value.IsObject())
        return CloneObject(value.GetObject(), value);
    if (value.IsArray())
        return CloneArray(value.GetArray(), value);
    return 0;
}

VError VJSONCloner::CloneObject(const VJSONObject* source, VJSONValue& value)
{
    if (source == nullptr) {
        value.SetUndefined();
        return 0;
    }
    auto [entry, isNew] = fClones.try_emplace(source);
    VError error = 0;
    // The entry is filled before the properties are copied, so a property that
    // leads back to source finds the copy in the making. std::map entries stay
    // in place while others are added.
    if (isNew) {
        // Hold the source while it is in the map: its address is the key.
        entry->second.first = VJSONValue(const_cast<VJSONObject*>(source));
        try {
            error = source->Clone(entry->second.second, *this);
        } catch (const std::bad_alloc&) {
            entry->second.second.SetUndefined();
            error = _ThrowError(VE_MEMORY_FULL);
        }
    }
    value = entry->second.second;
    return error;
}

VError VJSONCloner::CloneArray(const VJSONArray* source, VJSONValue& value)
{
    if (source == nullptr) {
        value.SetUndefined();
        return 0;
    }
    auto [entry, isNew] = fClones.try_emplace(source);
    VError error = 0;
    if (isNew) {
        // Hold the source while it is in the map: its address is the key.
        entry->second.first = VJSONValue(const_cast<VJSONArray*>(source));
        try {
            error = source->Clone(entry->second.second, *this);
        } catch (const std::bad_alloc&) {
            entry->second.second.SetUndefined();
            error = _ThrowError(VE_MEMORY_FULL);
        }
    }
    value = entry->second.second;
    return error;
}

}  // namespace bkit
