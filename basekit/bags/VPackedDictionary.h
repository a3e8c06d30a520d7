// VPackedDictionary.h - packed dictionaries of short UTF-8 names, and bag keys.
//
// This file defines StPackedDictionaryKey, the name handed to every bag
// operation (UTF-8 bytes of at most 255 bytes with their 32-bit hash, computed
// once when the key is built); _VHashKeyMap, the optional open-addressing index
// of a dictionary; VPackedDictionary_base, the common core (one byte vector of
// length-prefixed names, one vector of slots, the index); and its two uses:
// VPackedDictionary_with_backstore<VPackedValue_VValueSingle>, the attribute
// store of a bag, whose values are packed one after the other into 16-bit
// units and unpacked into cached value objects only when asked for, and
// VPackedDictionary<VPackedValue_VBagArray>, the element store of a bag, which
// maps a name to a reference-counted list of child bags.
//
// Contracts:
// - Names are unique within a dictionary; slot order is insertion order and is
//   the order of every enumeration and of the stream form.
// - The index is built lazily at the first lookup that finds 6 or more names,
//   is only a starting point for the scan (a lookup never misses a stored
//   name) and is emptied by every removal. It is what the stream form
//   carries; lookups go through a second, private table (_VNameLookup) kept
//   beside it, so that finding or adding a name takes a few probes however
//   many names a dictionary holds and whatever names a document chooses.
// - Reading values fills caches, so even readers of one dictionary must not
//   run on two threads at once. Nothing here takes a lock.
// - The stream readers treat their input as untrusted: every count, length,
//   offset and bucket is checked against the data before use, and a malformed
//   block is refused with VE_STREAM_BAD_SIGNATURE, leaving the dictionary empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "basekit/BKitTypes.h"

namespace bkit {

class VString;
class VStream;
class VValueSingle;
class VBagArray;

// A name as the dictionaries take it. Names longer than 255 bytes cannot be
// stored (their length byte would wrap): every constructor turns them into the
// empty name instead.
class StPackedDictionaryKey {
public:
    // Borrows the NUL-terminated bytes (a literal): they must outlive the key.
    StPackedDictionaryKey(const char* utf8);
    // Copies length bytes into a buffer the key owns.
    StPackedDictionaryKey(const char* bytes, size_t length);
    // Converts the text to UTF-8 into a buffer the key owns; a text that does
    // not convert whole within 255 bytes gives the empty name.
    StPackedDictionaryKey(const VString& text);
    StPackedDictionaryKey(const wchar_t* text);

    // A key over length bytes of the caller's (no terminator needed), who keeps
    // them alive while the key is used.
    static StPackedDictionaryKey Borrowing(const char* bytes, size_t length);

    StPackedDictionaryKey(const StPackedDictionaryKey& other) { _CopyFrom(other); }
    StPackedDictionaryKey& operator=(const StPackedDictionaryKey& other);
    ~StPackedDictionaryKey();

    const char* GetKey() const { return fKey; }
    size_t GetKeyLength() const { return static_cast<size_t>(fLength); }
    uint32_t GetHash() const { return static_cast<uint32_t>(fHash); }
    bool Equal(const char* bytes, size_t length) const;
    // The name decoded from UTF-8.
    void GetKeyString(VString& out) const;

    // h = length; then h = h * 257 + byte over every byte of names shorter than
    // 17 bytes, else over the first 8 and the last 8 bytes only.
    static uint32_t GetHashCode(const char* bytes, size_t length);

private:
    void _CopyFrom(const StPackedDictionaryKey& other);
    void _SetOwned(const char* bytes, size_t length);
    void _SetEmpty();

    const char* fKey = "";
    uint64_t fLength = 0;
    char* fBuffer = nullptr;
    uint64_t fHash = 0;
};

// The hash index: buckets hold a slot index or kFree.
class _VHashKeyMap {
public:
    static constexpr uint32_t kFree = 0xFFFFFFFFu;

    _VHashKeyMap() = default;
    // Copies the buckets; the copy finds its free buckets again when it needs to.
    _VHashKeyMap(const _VHashKeyMap& other) : fBuckets(other.fBuckets) {}
    _VHashKeyMap& operator=(const _VHashKeyMap& other);

    bool IsEmpty() const { return fBuckets.empty(); }
    size_t GetBucketCount() const { return fBuckets.size(); }
    void Clear();
    // The bucket a hash starts at (kFree when the name is absent).
    uint32_t GetBucket(uint32_t hash) const { return fBuckets[hash % fBuckets.size()]; }

    // A fresh index (all buckets free) sized for count names from the prime
    // table; false, with the index emptied, when it cannot be allocated.
    bool Rebuild(size_t count);
    // Stores slotIndex in the first free bucket from hash on (wrapping at the
    // end); false when full. Amortised near constant time, also when the
    // buckets are nearly all taken.
    bool Put(uint32_t hash, uint32_t slotIndex);
    // Reads a bucket count and the buckets; false (the index emptied) on a
    // stream error or a count of 0. The buckets are checked by IsValidFor.
    bool Rebuild(VStream* stream);
    // True when every bucket is free or names a slot below slotCount.
    bool IsValidFor(size_t slotCount) const;
    VError WriteToStream(VStream* stream) const;

    // The bucket count for n names (first row of the table whose bound exceeds n).
    static size_t BucketCountFor(size_t n);

private:
    // The first free bucket at or after i, wrapping; at least one is free.
    size_t _FirstFree(size_t i);

    std::vector<uint32_t> fBuckets;
    // For Put: a free bucket points at itself, a taken one at a later bucket
    // with only taken buckets between (paths shortened as they are walked),
    // so a long run of taken buckets is crossed in a step or two. Made at the
    // first Put after the buckets were replaced.
    std::vector<uint32_t> fNextFree;
    size_t fTaken = 0;
};

// The lookup table of a dictionary of 6 or more names: open addressing over
// a hash of the whole name under a seed drawn once per process (the stored
// hash covers only 16 bytes of a name and is easy to make collide), at most
// half full and doubled as names are added. An entry holds the slot index
// and the name's lookup hash. Names that are equal (which only the element
// store can come to hold) are found in slot order, the first one first.
class _VNameLookup {
public:
    static constexpr uint32_t kFree = 0xFFFFFFFFu;

    bool IsEmpty() const { return fEntries.empty(); }
    void Clear();
    // An empty table sized for count names; false (the table emptied) when it
    // cannot be allocated.
    bool Reset(size_t count);
    // Adds slot under hash, doubling the table when it would be more than
    // half full; false (the table emptied) when that cannot be allocated.
    bool Add(uint32_t hash, uint32_t slot);
    // The first slot under hash for which same(slot) holds, or kFree.
    template <class Same>
    uint32_t Find(uint32_t hash, Same same) const
    {
        const size_t mask = fEntries.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Entry& e = fEntries[i];
            if (e.slot == kFree)
                return kFree;
            if (e.hash == hash && same(e.slot))
                return e.slot;
        }
    }
    // The lookup hash of a name.
    static uint32_t Hash(const char* bytes, size_t length);

private:
    struct Entry {
        uint32_t hash;
        uint32_t slot;
    };
    void _Place(Entry entry);

    std::vector<Entry> fEntries;  // a power of two long, or empty
    size_t fCount = 0;
};

// The stored names compared and the index buckets stepped over by lookups
// and insertions of every dictionary on the calling thread so far, for tests
// that check what a name costs.
uint64_t _GetDictionaryProbesForTesting();

// Reads count bytes into out in bounded steps, so that a count lying about
// the data fails at the end of the stream instead of allocating it all first.
VError _ReadBoundedBytes(VStream* stream, size_t count, std::vector<uint8_t>& out);

template <class Slot>
class VPackedDictionary_base {
public:
    using SlotVector = std::vector<Slot>;

    VPackedDictionary_base() = default;
    // Copies names and slots; the copy's index and lookup table start empty.
    VPackedDictionary_base(const VPackedDictionary_base& other) : fKeys(other.fKeys), fSlots(other.fSlots) {}
    virtual ~VPackedDictionary_base() = default;

    size_t GetCount() const { return fSlots.size(); }
    bool IsEmpty() const { return fSlots.empty(); }

    // The stored bytes and length of the name of slot i (from 0).
    const char* GetNameBytes(size_t i, size_t* length) const;
    // The name of slot i decoded from UTF-8.
    void GetName(size_t i, VString& out) const;

    // The slot of the name, or end() when absent.
    typename SlotVector::iterator _Find(const StPackedDictionaryKey& key);
    typename SlotVector::const_iterator _Find(const StPackedDictionaryKey& key) const;
    // Index of the name's slot, or GetCount() when absent.
    size_t _FindIndex(const StPackedDictionaryKey& key) const;

    // Appends the name and the slot (whose name offset is set here) and keeps
    // the index up to date; end() on failure.
    typename SlotVector::iterator _AppendKeyAndSlot(const StPackedDictionaryKey& key, const Slot& slot);

    // The names block of the stream form.
    VError _WriteKeysToStream(VStream* stream, bool withIndex) const;
    // Replaces names, slots (default-made except their name offsets) and index.
    VError _ReadKeysFromStream(VStream* stream);

    size_t _GetIndexBucketCount() const { return fIndex.GetBucketCount(); }

protected:
    // Removes slot i's name and the slot itself, shifting later name offsets;
    // empties the index.
    void _EraseKeyAndSlot(size_t i);
    // Empties names, slots and index.
    void _ClearKeys();
    // Builds the index when it is empty and 6 or more names are stored.
    void _BuildIndexIfNeeded() const;
    bool _FillIndex() const;
    // Fills the lookup table from the stored names; false (the table empty,
    // lookups then scan) when it cannot be allocated.
    bool _FillLookup() const;

    std::vector<uint8_t> fKeys;
    SlotVector fSlots;
    mutable _VHashKeyMap fIndex;
    // Empty, or holding every slot; emptied with the index.
    mutable _VNameLookup fLookup;
};

// --- attribute store ---

// Policy tag: slots hold scalar values packed into 16-bit units.
struct VPackedValue_VValueSingle {
    // The byte size of the packed entry (its kind unit included) that starts
    // at unit offset in a store of unitCount units; false when the entry is
    // malformed or reaches past the store.
    static bool GetPackedSize(const uint16_t* store, size_t unitCount, size_t offset, size_t& bytes);
};

template <class Policy>
struct _VPackedDictionary_with_backstore_slot;

template <>
struct _VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle> {
    uint64_t fNameOffset = 0;
    uint64_t fValueOffset = 0;  // in 16-bit units
    // Owned by the slot; filled on demand by the const readers.
    mutable VValueSingle* fValue = nullptr;
};

template <class Policy>
class VPackedDictionary_with_backstore;

template <>
class VPackedDictionary_with_backstore<VPackedValue_VValueSingle>
    : public VPackedDictionary_base<_VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>> {
public:
    using Slot = _VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>;

    VPackedDictionary_with_backstore() = default;
    // As assignment: the source is packed first when dirty; values are not
    // copied as objects but unpacked again on demand.
    VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& other);
    VPackedDictionary_with_backstore& operator=(const VPackedDictionary_with_backstore& other);
    ~VPackedDictionary_with_backstore() override;

    // Replaces the value of an existing name (in place when the packed size is
    // unchanged, else as a cached clone); false when the name is absent.
    bool SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value);
    // Adds a name without looking for it first: callers call SetExistingValue
    // first. False when the name could not be stored.
    bool Append(const StPackedDictionaryKey& key, const VValueSingle& value);
    // Fills value from the stored one, converting between kinds; false when
    // the name is absent. A stored kind without descriptor leaves value alone.
    bool GetValue(const StPackedDictionaryKey& key, VValueSingle& value) const;
    // Removes the name and its value.
    void Clear(const StPackedDictionaryKey& key);
    // Deletes every value and empties names, slots, index and store.
    void Destroy();

    // The value of slot i, unpacked when needed; null for a kind without a
    // descriptor. Owned by the dictionary.
    VValueSingle* GetNthValue(size_t i) const;
    // The value of the name, unpacked when needed; null when absent.
    VValueSingle* GetCachedValue(const StPackedDictionaryKey& key) const;

    bool IsDirty() const { return fDirty; }
    void SetDirty(bool dirty) { fDirty = dirty; }

    // Brings the store up to date with the cached values (the caller clears
    // the dirty flag).
    void _Pack();

    // The names block, then the unit count and the store, in the stream's
    // byte order. The store must be packed.
    VError WriteToStream(VStream* stream, bool withIndex) const;
    VError ReadFromStream(VStream* stream);

    // Store access for tests and the writer.
    const std::vector<uint16_t>& _GetStore() const { return fStore; }

private:
    // Overwrites slot's entry in place when the new value packs to the same
    // size; false otherwise.
    bool _OverwriteInPlace(const Slot& slot, const VValueSingle& value);
    size_t _EntryEnd(size_t i) const;
    VValueSingle* _Unpack(const Slot& slot) const;
    void _DeleteValues();

    std::vector<uint16_t> fStore;
    bool fDirty = false;
};

// --- element store ---

// Policy tag: slots hold a reference-counted list of child bags.
struct VPackedValue_VBagArray {};

template <class Policy>
struct _VPackedDictionary_slot;

template <>
struct _VPackedDictionary_slot<VPackedValue_VBagArray> {
    uint64_t fNameOffset = 0;
    VBagArray* fList = nullptr;  // one reference, may be null
};

template <class Policy>
class VPackedDictionary;

template <>
class VPackedDictionary<VPackedValue_VBagArray> : public VPackedDictionary_base<_VPackedDictionary_slot<VPackedValue_VBagArray>> {
public:
    using Slot = _VPackedDictionary_slot<VPackedValue_VBagArray>;

    VPackedDictionary() = default;
    // Names only; every list is null (the bag puts its deep copies in).
    VPackedDictionary(const VPackedDictionary& other);
    VPackedDictionary& operator=(const VPackedDictionary&) = delete;
    ~VPackedDictionary() override;

    // Finds or appends the name; retains list and releases the previous one
    // when they differ. A null list keeps the name with no list.
    void SetValue(const StPackedDictionaryKey& key, VBagArray* list);
    // Appends a new name holding list, taking over the caller's reference;
    // false (the reference released) when the name could not be stored.
    bool AppendAdopting(const StPackedDictionaryKey& key, VBagArray* list);
    // The list of the name, not retained; null when absent.
    VBagArray* GetList(const StPackedDictionaryKey& key) const;
    VBagArray* GetNthList(size_t i) const { return fSlots[i].fList; }
    void SetNthListAdopting(size_t i, VBagArray* list);
    // Releases the name's list and removes the name.
    void Remove(const StPackedDictionaryKey& key);
    // Releases every list and empties the dictionary.
    void Destroy();
    // Moves the names and lists out in the given order into a new dictionary
    // that replaces this one's content; nothing is released.
    void Reorder(const std::vector<size_t>& order);

    // The names block, then each list (depth counts the enclosing bags).
    VError WriteToStream(VStream* stream, bool withIndex) const;
    VError ReadFromStream(VStream* stream, int depth = 0);
};

}  // namespace bkit
