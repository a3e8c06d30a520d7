// VJSONUtilities.h - small tools over JSON objects and arrays.
//
// This file defines VJSONAlter, one-line editors that set (or remove) a value
// at a path of an object value, turning the value into an object first;
// VJSONIter, a walk over the elements of an array or the property names of
// an object; and two class tests: IsObjectAFormula and GetSingletonFromMap.
//
// Contracts: VJSONAlter keeps nothing; VJSONIter holds its subject while it
// lives and reads a shared array's elements under a use of its locker.
// One task at a time.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONClass;

class VJSONAlter {
public:
    explicit VJSONAlter(VJSONValue& value);
    // Removes the own property named path (the whole text as one name).
    VJSONAlter(VJSONValue& value, const VString& path);
    VJSONAlter(VJSONValue& value, const VString& path, bool flag);
    VJSONAlter(VJSONValue& value, const VString& path, int number);
    VJSONAlter(VJSONValue& value, const VString& path, double number);
    VJSONAlter(VJSONValue& value, const VString& path, const VString& text);
    VJSONAlter(VJSONValue& value, const VString& path, const char* text);
    VJSONAlter(VJSONValue& value, const VString& path, const UniChar* text);
    VJSONAlter(VJSONValue& value, const VString& path, const VJSONValue& member);
    // A new value of that kind; for an array kind *array receives the array
    // (no reference), else null.
    VJSONAlter(VJSONValue& value, const VString& path, JSONType type, VJSONArray** array);
    // The date's JSON text as a string.
    VJSONAlter(VJSONValue& value, const VString& path, const VTime& time);

    static void _MakeObjIfNecessary(VJSONValue& value);

private:
    static void _Set(VJSONValue& value, const VString& path, const VJSONValue& member);
};

class VJSONIter : public VObject, public IJSONObject {
public:
    // Property names in insertion order, or the implementation's own walk.
    VJSONIter(VJSONObject* object, int64_t start = 0, int64_t end = -1, bool toEnd = true);
    // Elements from start (negative: from the end) to end (negative: from the
    // end, unless toEnd, which means the element count).
    VJSONIter(VJSONArray* array, int64_t start = 0, int64_t end = -1, bool toEnd = true);
    ~VJSONIter() override;

    // Sets value (undefined first); false after the last one.
    bool NextValue(VJSONValue& value);

private:
    VJSONValue fSubject;
    std::vector<VString> fNames;
    size_t fPosition = 0;
    int64_t fEnd = 0;
    int64_t fCurrent = 0;
    IJSONIterator* fIterator = nullptr;
};

// The object is an instance of the process store's "Function" class.
bool IsObjectAFormula(const VJSONObject* object);
bool IsObjectAFormula(const VJSONValue& value);

// The instance of cls recorded in map (made and recorded when absent), retained.
using VJSONSingletonMap = std::map<const VJSONClass*, VJSONValue>;
VJSONObject* GetSingletonFromMap(VJSONSingletonMap& map, const VJSONClass* cls, VDBLanguageContext* languageContext,
                                 IJSONFunctionContext* context);

}  // namespace bkit
