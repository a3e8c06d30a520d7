// VJSONCloner.cpp - deep copies that keep the shape of shared parts and cycles.
#include "basekit/json/VJSONCloner.h"

#include <new>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"

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
    return _Clone(source, value);
}

VError VJSONCloner::CloneArray(const VJSONArray* source, VJSONValue& value)
{
    if (source == nullptr) {
        value.SetUndefined();
        return 0;
    }
    return _Clone(source, value);
}

VError VJSONCloner::_Clone(const VJSONContainer* source, VJSONValue& value)
{
    auto [entry, isNew] = fClones.try_emplace(source);
    VError error = 0;
    // The entry is made before the values are copied, so a value that leads
    // back to source finds the copy. std::map entries stay in place while
    // others are added.
    if (isNew) {
        VJSONValue& held = entry->second.first;
        VJSONValue& copy = entry->second.second;
        if (const VJSONObject* object = const_cast<VJSONContainer*>(source)->AsObject())
            held = VJSONValue(const_cast<VJSONObject*>(object));
        else
            held = VJSONValue(const_cast<VJSONContainer*>(source)->AsArray());
        try {
            bool fill = false;
            error = _MakeCopy(source, copy, &fill);
            if (error == 0 && fill)
                fPending.push_back(Fill{source, VJSONContainer::ContainerOf(copy)});
        } catch (const std::bad_alloc&) {
            copy.SetUndefined();
            error = _ThrowError(VE_MEMORY_FULL);
        }
        // Only the outermost call fills: the others return the empty copy,
        // which the outermost fills in its loop.
        if (error == 0 && !fFilling)
            error = _FillPending();
    }
    value = entry->second.second;
    return error;
}

VError VJSONCloner::_MakeCopy(const VJSONContainer* source, VJSONValue& copy, bool* fill)
{
    if (const VJSONObject* object = const_cast<VJSONContainer*>(source)->AsObject())
        return object->_CloneWithoutProperties(copy, *this, fill);
    VStorageLocker* locker = source->_GetStorageLocker() ? GetStorageLockerAndAssignIfNecessary() : nullptr;
    VJSONArray* array = new VJSONArray(locker);
    copy.SetArray(array);
    array->Release();
    *fill = true;
    return 0;
}

VError VJSONCloner::_FillPending()
{
    fFilling = true;
    VError error = 0;
    try {
        while (error == 0 && !fPending.empty()) {
            Fill next = fPending.back();
            fPending.pop_back();
            if (const VJSONObject* object = const_cast<VJSONContainer*>(next.source)->AsObject())
                error = object->CloneProperties(*this, next.copy->AsObject());
            else
                error = _FillArray(const_cast<VJSONContainer*>(next.source)->AsArray(), next.copy->AsArray());
        }
    } catch (const std::bad_alloc&) {
        error = _ThrowError(VE_MEMORY_FULL);
    }
    fPending.clear();
    fFilling = false;
    return error;
}

VError VJSONCloner::_FillArray(const VJSONArray* source, VJSONArray* copy)
{
    std::vector<VJSONValue> values;
    source->GetValues(values);
    VJSONUser user(copy, false);
    for (VJSONValue& value : values) {
        VError error = CloneValue(value);
        if (error != 0)
            return error;
        if (!copy->Push(value))
            return VTask::GetLastError();
    }
    return 0;
}

}  // namespace bkit
