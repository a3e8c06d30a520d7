// VArrayValue.h - the array value base, the sorting interface and the array descriptor.
//
// This file defines ISortable, the small interface through which several arrays
// are sorted together on several keys; VArrayValue, the base of the typed arrays
// (a count of elements of one kind in one contiguous block, positions from 1);
// CompareMethod, the test of a search; and VValueInfo_array, the descriptor
// template of the array kinds.
//
// Contracts:
// - Public element operations take 1-based positions (1 to count); the block
//   operations (MoveElements, DeleteElements, InitElements and those of
//   ISortable) take 0-based element indexes.
// - The array owns its block (memory tag 'varr') and, for the arrays of
//   strings, blobs and images, the element objects: shrinking, deleting,
//   copying over and destroying an array delete the elements concerned.
// - Positions outside 1 to count make getters answer 0, false or an emptied
//   target, setters do nothing and searches answer -1. Element setters leave
//   the array's null and dirty flags alone.
// - Out of memory makes SetCount, Insert and Copy answer false and leaves the
//   array unchanged (SetCount, Insert) or empty (Copy).
// - LockAndGetData and UnlockData lock nothing: arrays are not thread-safe and
//   are not shared between tasks without outside locking.
// - The sorts are not stable: equal elements can change order. They never read
//   outside the sorted range, whatever the comparisons answer.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/values/VValue.h"

namespace bkit {

class VString;
class VDuration;
class VTime;
class VStream;
class VValueSingle;

// The test of a search, element against searched value.
using CompareMethod = int32_t;
constexpr CompareMethod CM_GREATER_OR_EQUAL = -2;
constexpr CompareMethod CM_GREATER = -1;
constexpr CompareMethod CM_EQUAL = 0;
constexpr CompareMethod CM_SMALLER = 1;
constexpr CompareMethod CM_SMALLER_OR_EQUAL = 2;

// Stream tag that makes an array write its value kind before its count.
constexpr int32_t kArrayStreamTag_VVAL = static_cast<int32_t>(MakeOsType("VVAL"));

// Something whose elements can be compared and exchanged by 0-based index.
class ISortable {
public:
    virtual ~ISortable() = default;

    // The data block handed to SwapElements and CompareElements; the base has none.
    virtual uint8_t* LockAndGetData() const { return nullptr; }
    virtual void UnlockData() const {}

    virtual void SwapElements(uint8_t* data, int32_t i, int32_t j) = 0;
    // CR_SMALLER, CR_EQUAL or CR_BIGGER for element i against element j.
    virtual CompareResult CompareElements(uint8_t* data, int32_t i, int32_t j) = 0;
    // Sorts the 0-based inclusive range first..last in place, stably, in the
    // order of CompareElements (reversed when descending, equal elements
    // keeping their order), and answers true; or answers false, having done
    // nothing, when the sortable has no such sort of its own (the base). The
    // multi-key sort hands it a sort of a single sortable on a single key,
    // which then moves its elements directly rather than through an index.
    virtual bool SortElementsStably(uint8_t* data, int32_t first, int32_t last, bool descending);

    // Sorts the 0-based inclusive range first..last of every sortable of the
    // null-terminated list. The first keyCount sortables are the keys, in order
    // of precedence; descending[k] reverses key k. Every exchange is made in
    // every sortable of the list, keys or not, so that parallel arrays stay in
    // step. Nothing happens for fewer than two elements or when the scratch
    // memory cannot be had.
    static void MultiCriteriaQSort(ISortable** sortables, const bool* descending, int32_t keyCount,
                                   int32_t first, int32_t last);
};

class VArrayValue : public VValueMultiple, public ISortable {
public:
    ~VArrayValue() override;

    // --- count ---
    int32_t GetCount() const override { return fCount; }
    // A negative count counts as 0. Dropped elements release what they own;
    // new elements read as 0, false or null. False when memory runs out (the
    // array is then unchanged).
    virtual bool SetCount(int32_t count);
    // Inserts count zero elements at pos (1 to count + 1). False when memory
    // runs out or pos is outside that range.
    virtual bool Insert(int32_t pos, int32_t count = 1);
    // Removes count elements from pos (clipped to the end of the array).
    virtual void Delete(int32_t pos, int32_t count = 1);
    // SetCount(0).
    void Clear() override { SetCount(0); }
    void Destroy() { SetCount(0); }

    // --- elements of any kind ---
    // The element kind (1 boolean ... 12 image).
    virtual ValueKind GetElemValueKind() const = 0;
    // The 1-based position of the first element from start (towards the end
    // when forward, else towards the first element) that passes the method's
    // test against the value converted to the element type; -1 when none.
    virtual int32_t Find(const VValueSingle& value, int32_t start = 1, bool forward = true,
                         CompareMethod method = CM_EQUAL) const = 0;
    // Sorts the positions first to last (inclusive) on this array.
    virtual void Sort(int32_t first, int32_t last, bool descending = false);
    // A fixed, repeatable scrambling of the elements.
    virtual void Unsort();
    // Element at pos from a single value of any kind / into one; new single value.
    virtual void FromValue(const VValueSingle& value, int32_t pos) = 0;
    virtual void GetValue(VValueSingle& value, int32_t pos) const = 0;
    // A new single value of the element's kind, owned by the caller.
    virtual VValueSingle* CloneValue(int32_t pos) const = 0;
    // Empties this array and takes over the other's elements (cloning owned
    // objects). False, with an empty array, when memory runs out or the other
    // holds another kind of element.
    virtual bool Copy(const VArrayValue& other);

    uint8_t* LockAndGetData() const override { return fData; }
    void UnlockData() const override {}

    // --- 0-based block operations ---
    // Copies n elements from index from to index to (ranges may overlap).
    // Nothing when an index is negative, a range passes the count, n < 1 or
    // from equals to.
    virtual void MoveElements(int32_t from, int32_t to, int32_t n);
    // Releases what n elements from index from own (the base owns nothing).
    virtual void DeleteElements(int32_t from, int32_t n);
    // Zero-fills n elements from index from.
    virtual void InitElements(int32_t from, int32_t n);

    // --- appending: each answers the new count ---
    int32_t AppendBoolean(uint8_t value);
    int32_t AppendByte(int8_t value);
    int32_t AppendWord(int16_t value);
    int32_t AppendLong(int32_t value);
    int32_t AppendLong8(int64_t value);
    int32_t AppendReal(double value);
    int32_t AppendDuration(const VDuration& value);
    int32_t AppendTime(const VTime& value);
    int32_t AppendString(const VString& value);

    // Sorts the whole first array of a null-terminated list (at most 15 arrays;
    // further ones are ignored) as the only key, making the same exchanges in
    // every other array of the list. The others must have at least the first
    // array's count.
    static void SynchronizedSort(bool descending, VArrayValue* array, ...);

    // --- stream form ---
    // Tag 'VVAL': the value kind (32-bit) first; then the 32-bit count and the
    // elements. Answers the stream's error.
    VError WriteToStream(VStream* stream, int32_t tag = 0) const override;
    // Reads from the count on. A negative count or one that cannot be
    // allocated leaves the array empty and pushes and answers an error
    // (VE_STREAM_BAD_SIGNATURE, VE_MEMORY_FULL); otherwise the stream's error.
    VError ReadFromStream(VStream* stream, int32_t tag = 0) override;

protected:
    explicit VArrayValue(uint32_t elemSize);
    VArrayValue(const VArrayValue&) = delete;
    VArrayValue& operator=(const VArrayValue&) = delete;

    // Allocates a zero-filled block of count elements; empty when it fails.
    void InitWithCount(int32_t count);

    // The block size for a count of elements.
    virtual int32_t DataSizeForCount(int32_t count) const;
    // Resizes the block to size bytes (0 frees it); gained bytes are zeros.
    bool ResizeData(int32_t size);

    // The element part of the stream form.
    virtual VError WriteElements(VStream* stream) const;
    virtual VError ReadElements(VStream* stream);

    bool IsValidPos(int32_t pos) const { return pos >= 1 && pos <= fCount; }

    uint32_t fElemSize;
    int32_t fCount = 0;
    uint8_t* fData = nullptr;
    int32_t fDataSize = 0;
};

// Descriptor of an array kind: every generator answers a new empty array.
template <class TArray, ValueKind kKind, class TElem>
class VValueInfo_array : public VValueInfo {
public:
    using ElementType = TElem;

    VValueInfo_array() : VValueInfo(kKind) {}

    VValue* Generate() const override { return new TArray(); }
    VValue* Generate(VBlob* blob) const override { (void)blob; return new TArray(); }
    VValue* LoadFromPtr(const void* data, bool swap) const override
    {
        (void)data; (void)swap;
        return new TArray();
    }
    void* ByteSwapPtr(void* data, bool fromNative) const override { (void)fromNative; return data; }
};

}  // namespace bkit
