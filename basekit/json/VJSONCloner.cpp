// VJSONCloner.cpp - deep copies that keep the shape of shared parts and cycles.
#include "basekit/json/VJSONCloner.h"

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"

namespace bkit {

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
        error = source->Clone(entry->second.second, *this);
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
        error = source->Clone(entry->second.second, *this);
    }
    value = entry->second.second;
    return error;
}

}  // namespace bkit
