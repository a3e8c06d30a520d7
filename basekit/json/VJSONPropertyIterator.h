// VJSONPropertyIterator.h - walks over the properties of a JSON object.
//
// This file defines the three property iterators of VJSONObject. Each visits
// first a list of extra names (those an implementation object lists), whose
// values are read through GetProperty, then the stored properties. Iterators
// work on a snapshot of the stored names and values taken at construction, so
// changing the object while iterating neither disturbs the walk nor shows in
// it. The mutable iterator holds a blocking use of a shared object's locker
// for its whole life: never create one on a task that waits for another task
// holding the same locker.
//   for (VJSONPropertyConstOrderedIterator i(object); i.IsValid(); ++i) ...
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/values/VObject.h"

namespace bkit {

// What the three iterators share: the extra names, then the stored properties.
class VJSONPropertyIteratorBase : public VObject {
public:
    bool IsValid() const { return fPosition < fNames.size() + fEntries.size(); }
    VJSONPropertyIteratorBase& operator++()
    {
        ++fPosition;
        return *this;
    }

    const VString& GetName() const;
    // The current value: an extra name's read through GetProperty, a stored
    // property's a copy (new stamp).
    VJSONValue GetValue(VDBLanguageContext* languageContext = nullptr) const;

protected:
    explicit VJSONPropertyIteratorBase(const VJSONObject* object);

    // Appends the implementation's names; false when it did not answer.
    bool _AddImplementationNames(bool skipStored);
    // Appends the names the object's class reads through getters.
    void _AddClassGetterNames();
    // Copies the stored properties under the object's lock.
    void _TakeStoredProperties();
    bool _OnExtraName() const { return fPosition < fNames.size(); }

    VRefPtr<VJSONObject> fObject;
    std::vector<VString> fNames;
    VJSONObject::NameValueList fEntries;
    size_t fPosition = 0;
};

// The implementation's names (else the class getters'), then the stored
// properties in insertion order; SetValue writes through the object.
class VJSONPropertyIterator : public VJSONPropertyIteratorBase {
public:
    explicit VJSONPropertyIterator(VJSONObject* object);

    // On an extra name SetProperty(name, value); on a stored property the
    // same unless value is undefined, which does nothing (the walk is not
    // disturbed by a removal).
    void SetValue(const VJSONValue& value, VDBLanguageContext* languageContext = nullptr);

private:
    std::unique_ptr<VJSONUser> fUser;
};

// The implementation's names, then the stored properties.
class VJSONPropertyConstIterator : public VJSONPropertyIteratorBase {
public:
    explicit VJSONPropertyConstIterator(const VJSONObject* object);
};

// Stored properties in insertion order. options bit 0 (1) leaves out the
// implementation's names, bit 1 (2) the class getters' names. For a shared or
// sharable object the implementation's names that are not stored come first
// and the stored names are read through GetProperty.
class VJSONPropertyConstOrderedIterator : public VJSONPropertyIteratorBase {
public:
    explicit VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32_t options = 0);
};

}  // namespace bkit
