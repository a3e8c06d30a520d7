// VJSONObject.cpp - the JSON object's properties in insertion order.
#include "basekit/json/VJSONObject.h"

#include "basekit/json/VJSONCloner.h"

namespace bkit {

VJSONObject::VJSONObject() = default;

VJSONObject::~VJSONObject() = default;

std::u16string_view VJSONObject::_View(const VString& name)
{
    const UniChar* units = name.GetCPointer();
    return units ? std::u16string_view(units, static_cast<size_t>(name.GetLength())) : std::u16string_view();
}

ptrdiff_t VJSONObject::_Find(const VString& name) const
{
    auto found = fIndex.find(_View(name));
    return (found == fIndex.end()) ? -1 : static_cast<ptrdiff_t>(found->second);
}

VJSONValue VJSONObject::GetProperty(const VString& name) const
{
    ptrdiff_t position = _Find(name);
    if (position < 0)
        return VJSONValue(VJSONValue::sUndefined);
    return fProperties[static_cast<size_t>(position)].second;
}

bool VJSONObject::HasOwnProperty(const VString& name) const
{
    return _Find(name) >= 0;
}

bool VJSONObject::SetProperty(const VString& name, const VJSONValue& value)
{
    if (value.IsUndefined()) {
        RemoveProperty(name);
        return true;
    }
    ptrdiff_t position = _Find(name);
    if (position >= 0) {
        fProperties[static_cast<size_t>(position)].second = value;
    } else {
        fIndex.emplace(std::u16string(_View(name)), fProperties.size());
        fProperties.emplace_back(name, value);
    }
    return true;
}

bool VJSONObject::SetPropertyAsBool(const VString& name, bool value)
{
    VJSONValue v;
    v.SetBool(value);
    return SetProperty(name, v);
}

void VJSONObject::RemoveProperty(const VString& name)
{
    auto found = fIndex.find(_View(name));
    if (found == fIndex.end())
        return;
    size_t position = found->second;
    fIndex.erase(found);
    // Later properties move up by one so that the indexes stay dense.
    for (auto& entry : fIndex) {
        if (entry.second > position)
            --entry.second;
    }
    // Take the value out before erasing: releasing it may run arbitrary code
    // (a container's destructor) that must see a consistent object.
    VJSONValue removed(std::move(fProperties[position].second));
    fProperties.erase(fProperties.begin() + static_cast<ptrdiff_t>(position));
}

void VJSONObject::Clear()
{
    std::vector<Entry> old;
    old.swap(fProperties);
    fIndex.clear();
    // old and the values it holds go here, after the object is consistent.
}

VError VJSONObject::MergeWith(const VJSONObject* other, bool onlyMissing)
{
    if (other == nullptr || other == this)
        return 0;
    // Copy first: setting properties here must not disturb the walk over other.
    std::vector<Entry> entries = other->fProperties;
    for (const Entry& entry : entries) {
        if (!onlyMissing || !HasOwnProperty(entry.first))
            SetProperty(entry.first, entry.second);
    }
    return 0;
}

VError VJSONObject::Clone(VJSONValue& out, VJSONCloner& cloner) const
{
    VJSONObject* copy = new VJSONObject();
    out.SetObject(copy);
    copy->Release();
    return CloneProperties(cloner, copy);
}

VError VJSONObject::CloneProperties(VJSONCloner& cloner, VJSONObject* target) const
{
    if (target == nullptr)
        return 0;
    target->Clear();
    for (const Entry& entry : fProperties) {
        VJSONValue value(entry.second);
        VError error = cloner.CloneValue(value);
        if (error != 0)
            return error;
        target->SetOwnProperty(entry.first, value);
    }
    return 0;
}

VError VJSONObject::GetString(VString& out) const
{
    out.FromCString("[object Object]");
    return 0;
}

void VJSONObject::GetClassName(VString& out) const
{
    out.FromCString("Object");
}

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32_t)
    : fObject(object)
{
}

}  // namespace bkit
