// VJSONArray.h - the reference-counted JSON array.
//
// This file defines VJSONArray, the array of JSON values that a value of kind
// array points to.
//
// Contracts:
// - An array starts with one reference for its creator; values that hold it
//   retain it. Elements are addressed from 0.
// - An array is used by one task at a time; it takes no lock.
// - Arrays that contain themselves are not collected: break such cycles before
//   dropping the last reference.
#pragma once

#include <cstddef>
#include <set>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONCloner;
class VString;

// 'QNRT' errors of the JSON containers.
constexpr OsType kQNRT_SIGNATURE = MakeOsType("QNRT");
constexpr VError VE_JSON_INDEX_OUT_OF_RANGE = MakeVError(kQNRT_SIGNATURE, -10713);
// An array found inside itself while writing it as text.
constexpr VError VE_JSON_CYCLE = MakeBKitError(900);

class VJSONArray : public VObject, public IRefCountable {
public:
    // A new empty array with one reference.
    VJSONArray();
    ~VJSONArray() override;

    VJSONArray(const VJSONArray&) = delete;
    VJSONArray& operator=(const VJSONArray&) = delete;

    size_t GetCount() const { return fValues.size(); }
    bool IsEmpty() const { return fValues.empty(); }

    // A copy of the element; past the end out becomes undefined and the
    // result is false.
    bool GetAt(size_t index, VJSONValue& out) const;
    // A copy of the element, undefined past the end.
    VJSONValue GetAt(size_t index) const;

    // Stores value at index. With grow, an index at or past the end first
    // grows the array with nulls. Without grow, an index past the end raises
    // 'QNRT' -10713, changes nothing and gives false.
    bool SetAt(size_t index, const VJSONValue& value, bool grow = false);

    // Appends a copy of value.
    void Push(const VJSONValue& value);

    // Grows with copies of one VJSONValue(fillKind) (so with kind object or
    // array all new elements share one new container), or shrinks.
    bool Resize(size_t count, JSONType fillKind = JSON_null);

    // Removes count elements from index (cut at the end); an index past the end
    // changes nothing.
    void RemoveAt(size_t index, size_t count = 1);
    void Clear() { fValues.clear(); }

    // Copies every element into out (replacing its content).
    void GetValues(std::vector<VJSONValue>& out) const { out = fValues; }

    // A deep copy into out, through the cloner.
    VError Clone(VJSONValue& out, VJSONCloner& cloner) const;

    // The elements' texts joined with ","; nested arrays flatten. An array met
    // inside itself fails with 'bkit' 900. visited guards the walk; pass null.
    VError GetString(VString& out, std::set<const VJSONArray*>* visited = nullptr) const;

private:
    std::vector<VJSONValue> fValues;
};

}  // namespace bkit
