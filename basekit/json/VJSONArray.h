// VJSONArray.h - the reference-counted JSON array.
//
// This file defines VJSONArray, the array of JSON values that a value of kind
// array points to; IJSONValueComparator, the order its Sort uses; and
// apply_permutation, which reorders values in place.
//
// Contracts:
// - An array starts with one reference for its creator; values that hold it
//   retain it. Elements are addressed from 0.
// - Arrays holding themselves, directly or through other containers, are
//   collected once nothing outside the cycle refers to them.
// - An array without a storage locker is used by one task at a time. A shared
//   array takes the graph lock, then its locker's critical section, around
//   every operation; a change is refused with 'QNRT' -10720 while another
//   task uses the locker.
// - Positions and counts saturate: index + count never wraps.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "basekit/json/VJSONContainer.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONValue.h"

namespace bkit {

class VCompareOptions;
class VJSONCloner;
class VString;

// The order of a sort: true when a sorts before b. Any answer is safe (the
// sort stays in bounds); an order that is not strict and weak only gives an
// unspecified order. An exception thrown here makes the sort fail cleanly.
class IJSONValueComparator {
public:
    virtual ~IJSONValueComparator() = default;
    virtual bool CompareValues(const VJSONValue& a, const VJSONValue& b) = 0;
};

class VJSONArray : public VJSONContainer {
public:
    // An empty array; with shared, under a new private storage locker.
    explicit VJSONArray(bool shared = false);
    // An empty array under locker (retained; may be null).
    explicit VJSONArray(VStorageLocker* locker);
    ~VJSONArray() override;

    VJSONArray(const VJSONArray&) = delete;
    VJSONArray& operator=(const VJSONArray&) = delete;

    VJSONArray* AsArray() override { return this; }

    size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }

    // A copy of the element; past the end out becomes undefined and the
    // result is false.
    bool GetAt(size_t index, VJSONValue& out) const;
    // A copy of the element (new stamp), undefined past the end.
    VJSONValue GetAt(size_t index) const;

    // Stores value at index. With grow, an index at or past the end first
    // grows the array with nulls. Without grow, an index past the end raises
    // 'QNRT' -10713, changes nothing and gives false. A shared array refuses
    // a value that may not join its graph.
    bool SetAt(size_t index, const VJSONValue& value, bool grow = false);

    // Appends a copy of value; false when refused (shared arrays).
    bool Push(const VJSONValue& value);
    // Appends values, in order, to an array being built by a parse: the array
    // has no locker nor stamp, and the values are owned by the same parse, so
    // no link is recorded (see VJSONGraph on trees out of any graph). The
    // values are moved out and values is left empty; out of memory raises
    // 'bkit' 100 and gives false.
    bool _PushParsedValues(std::vector<VJSONValue>& values);

    // Grows with copies of one VJSONValue(fillKind) (so with kind object or
    // array all new elements share one new container), or shrinks. Out of
    // memory raises 'bkit' 100 and gives false.
    bool Resize(size_t count, JSONType fillKind = JSON_null);

    // Removes count elements from index (cut at the end); an index past the
    // end changes nothing. A cycle detached here is collected.
    void RemoveAt(size_t index, size_t count = 1);
    void Clear();

    // Copies every element into out (replacing its content).
    void GetValues(std::vector<VJSONValue>& out) const;
    // Exchanges the elements with values: the array then holds what values
    // held, and values what the array held (both linked correctly).
    void SwapValues(std::vector<VJSONValue>& values);

    // Appends copies of other's elements; false when a shared array refuses one.
    bool Concatenate(const VJSONArray& other);

    // Sorts by comparator (a merge sort over positions, safe with any
    // comparator). A throwing comparator pushes 'bkit' 917 and keeps the order.
    void Sort(IJSONValueComparator* comparator);

    // The texts of the elements joined by separator. Empty texts only with
    // keepEmpty; null and undefined elements give "null" with writeNull and
    // nothing otherwise.
    void JoinAsString(const VString& separator, VString& out, bool keepEmpty, bool writeNull) const;

    // {"ranges":[{"start":i,"end":j},...]}: the runs of rows equal to an
    // element of selection (an object only to the same object).
    VJSONValue GetSelectedRows(const VJSONValue& selection) const;

    // The element's stamp (0 past the end); touching gives it a new one.
    uint32_t GetStampAt(size_t index) const;
    void TouchStampAt(size_t index);

    // A deep copy into out, through the cloner.
    VError Clone(VJSONValue& out, VJSONCloner& cloner) const;

    // The elements' texts joined with ","; nested arrays flatten. An array met
    // inside itself fails with 'bkit' 900. visited guards the walk; pass null.
    VError GetString(VString& out, std::set<const VJSONArray*>* visited = nullptr) const;

    // Same count and deeply equal elements; cycles end.
    bool DeepEqualTo(const VJSONArray* other, const VCompareOptions& options) const;

    // --- unlocked access for one-task arrays (the writer, tests) ---
    // The elements in place, without a copy: valid while the array is not
    // changed, so only for an array with no locker and out of shared graphs.
    size_t GetValueCount() const { return fValues.size(); }
    const VJSONValue& GetValueAt(size_t index) const { return fValues[index]; }

    // Lowers the link counts of the elements from from on, without removing
    // them: only for a caller that drops them next.
    void DisconnectAll(size_t from);

    // The monitored task (0: off) and the count of its arrays alive.
    static std::atomic<int32_t> sTaskToMonitor;
    static std::atomic<int32_t> sTaskCounter;

protected:
    void _GetChildContainers(std::vector<VJSONContainer*>& out) const override;
    void _DropAllValuesForCollection() override;

private:
    // Lets value join a shared array's graph.
    bool _Admit(const VJSONValue& value);
    // Stores / appends with the graph bookkeeping; the caller holds the locks.
    void _StoreAt(size_t index, const VJSONValue& value);
    void _Append(const VJSONValue& value);
    // Grows with nulls or shrinks; the caller holds the locks.
    bool _Resize(size_t count, JSONType fillKind);
    // Drops the links of values just taken out, one at a time.
    void _DropRemoved(std::vector<VJSONValue>& removed);

    std::vector<VJSONValue> fValues;
    int32_t fCreatorTask = 0;
};

// Reorders values so that position i receives the value formerly at
// indices[i]; indices must be a permutation and is consumed.
template <class T>
void apply_permutation(std::vector<T>& values, std::vector<size_t>& indices)
{
    for (size_t i = 0; i < indices.size(); ++i) {
        if (indices[i] == i)
            continue;
        T held(std::move(values[i]));
        size_t current = i;
        while (indices[current] != i) {
            const size_t next = indices[current];
            values[current] = std::move(values[next]);
            indices[current] = current;
            current = next;
        }
        values[current] = std::move(held);
        indices[current] = current;
    }
}

}  // namespace bkit
