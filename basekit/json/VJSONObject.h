// VJSONObject.h - the reference-counted JSON object.
//
// This file defines VJSONObject, a map of named JSON values that keeps the
// order in which names were first added, and VJSONPropertyConstOrderedIterator,
// which walks its properties in that order.
//
// Contracts:
// - An object starts with one reference for its creator. Values that hold it
//   retain it. Get... operations hand out no reference; Retain... ones do.
// - Names compare exactly (UTF-16 units, case-sensitive).
// - Insertion indexes are dense: overwriting a property keeps its place,
//   removing one moves every later property up by one.
// - Setting a property to undefined removes it.
// - An object is used by one task at a time; it takes no lock.
// - Objects that contain themselves (directly or through other containers)
//   are not collected: break such cycles before dropping the last reference.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONCloner;

class VJSONObject : public VObject, public IRefCountable {
public:
    // A new empty generic object with one reference.
    VJSONObject();
    ~VJSONObject() override;

    VJSONObject(const VJSONObject&) = delete;
    VJSONObject& operator=(const VJSONObject&) = delete;

    // The property's value (a copy), undefined when absent.
    VJSONValue GetProperty(const VString& name) const;
    VJSONValue GetOwnProperty(const VString& name) const { return GetProperty(name); }
    bool HasOwnProperty(const VString& name) const;

    // Sets or replaces a property (a new name goes last, a replaced one keeps
    // its place). An undefined value removes the property. True on success.
    bool SetProperty(const VString& name, const VJSONValue& value);
    bool SetOwnProperty(const VString& name, const VJSONValue& value) { return SetProperty(name, value); }

    // Shortcuts for SetProperty with a string, a number or a boolean.
    bool SetPropertyAsString(const VString& name, const VString& text) { return SetProperty(name, VJSONValue(text)); }
    bool SetPropertyAsNumber(const VString& name, double number) { return SetProperty(name, VJSONValue(number)); }
    bool SetPropertyAsBool(const VString& name, bool value);

    // Removes a property; nothing when absent.
    void RemoveProperty(const VString& name);
    void RemoveOwnProperty(const VString& name) { RemoveProperty(name); }

    // True without properties.
    bool IsEmpty() const { return fProperties.empty(); }
    // Removes every property.
    void Clear();

    // Number of properties; the name and value at an insertion index (from 0).
    size_t GetPropertyCount() const { return fProperties.size(); }
    const VString& GetNameAt(size_t index) const { return fProperties[index].first; }
    const VJSONValue& GetValueAt(size_t index) const { return fProperties[index].second; }

    // Sets each of other's properties, in other's order, on this object; with
    // onlyMissing, only names this object lacks. Returns 0.
    VError MergeWith(const VJSONObject* other, bool onlyMissing);

    // A deep copy of this object into out, through the cloner (each reachable
    // container copied once, so shared parts and cycles keep their shape).
    // Start a copy with VJSONCloner::CloneObject, which records this object
    // first: called directly, a path leading back here makes a second copy.
    VError Clone(VJSONValue& out, VJSONCloner& cloner) const;

    // Clears target's properties and fills it with clones of this object's.
    VError CloneProperties(VJSONCloner& cloner, VJSONObject* target) const;

    // "[object Object]"; returns 0.
    VError GetString(VString& out) const;

    // "Object".
    void GetClassName(VString& out) const;

private:
    using Entry = std::pair<VString, VJSONValue>;

    // Lets the index be searched with a view of a name, without a copy.
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view key) const { return std::hash<std::u16string_view>()(key); }
    };
    using Index = std::unordered_map<std::u16string, size_t, KeyHash, std::equal_to<>>;

    static std::u16string_view _View(const VString& name);
    // Position of the name in fProperties, or -1.
    ptrdiff_t _Find(const VString& name) const;

    // Entries in insertion order; fIndex maps a name to its position there.
    std::vector<Entry> fProperties;
    Index fIndex;
};

// Walks an object's properties in insertion order. The object must not change
// while the iterator is in use.
//   for (VJSONPropertyConstOrderedIterator i(obj); i.IsValid(); ++i) ...
class VJSONPropertyConstOrderedIterator : public VObject {
public:
    explicit VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32_t options = 0);

    bool IsValid() const { return fObject != nullptr && fPosition < fObject->GetPropertyCount(); }
    VJSONPropertyConstOrderedIterator& operator++() { ++fPosition; return *this; }

    const VString& GetName() const { return fObject->GetNameAt(fPosition); }
    // A copy of the current value (new stamp).
    VJSONValue GetValue() const { return fObject->GetValueAt(fPosition); }

private:
    const VJSONObject* fObject;
    size_t fPosition = 0;
};

}  // namespace bkit
