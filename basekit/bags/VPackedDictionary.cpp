// VPackedDictionary.cpp - bag keys, the hash index, the lookup table and the names core of the packed dictionaries.
#include "basekit/bags/VPackedDictionary.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string_view>
#include <unordered_set>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VStream.h"
#include "basekit/runtime/SeededHash.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"

namespace bkit {

namespace {

constexpr size_t kMaxNameBytes = 255;
// The largest block a bounded read asks for at once.
constexpr size_t kReadStep = 1 << 16;

thread_local uint64_t tProbes = 0;

}  // namespace

uint64_t _GetDictionaryProbesForTesting()
{
    return tProbes;
}

// --- StPackedDictionaryKey ---

StPackedDictionaryKey::StPackedDictionaryKey(const char* utf8)
{
    size_t length = utf8 ? std::strlen(utf8) : 0;
    if (utf8 == nullptr || length > kMaxNameBytes) {
        _SetEmpty();
        return;
    }
    fKey = utf8;
    fLength = length;
    fHash = GetHashCode(utf8, length);
}

StPackedDictionaryKey::StPackedDictionaryKey(const char* bytes, size_t length)
{
    if (bytes == nullptr || length > kMaxNameBytes)
        _SetEmpty();
    else
        _SetOwned(bytes, length);
}

StPackedDictionaryKey::StPackedDictionaryKey(const VString& text)
{
    char buffer[kMaxNameBytes + 1];
    VFromUnicodeConverter_UTF8 converter;
    int consumed = 0;
    size_t produced = 0;
    bool ok = converter.Convert(text.GetCPointer(), text.GetLength(), &consumed, buffer, kMaxNameBytes, &produced);
    if (!ok || consumed != text.GetLength())
        _SetEmpty();
    else
        _SetOwned(buffer, produced);
}

StPackedDictionaryKey::StPackedDictionaryKey(const wchar_t* text)
{
    char buffer[kMaxNameBytes + 1];
    VFromUnicodeConverter_UTF8 converter;
    int units = text ? static_cast<int>(std::wcslen(text)) : 0;
    int consumed = 0;
    size_t produced = 0;
    bool ok = text && converter.ConvertFrom_wchar(text, units, &consumed, buffer, kMaxNameBytes, &produced);
    if (!ok || consumed != units)
        _SetEmpty();
    else
        _SetOwned(buffer, produced);
}

StPackedDictionaryKey StPackedDictionaryKey::Borrowing(const char* bytes, size_t length)
{
    StPackedDictionaryKey key("");
    if (bytes != nullptr && length <= kMaxNameBytes) {
        key.fKey = bytes;
        key.fLength = length;
        key.fHash = GetHashCode(bytes, length);
    }
    return key;
}

StPackedDictionaryKey& StPackedDictionaryKey::operator=(const StPackedDictionaryKey& other)
{
    if (this != &other) {
        delete[] fBuffer;
        fBuffer = nullptr;
        _CopyFrom(other);
    }
    return *this;
}

StPackedDictionaryKey::~StPackedDictionaryKey()
{
    delete[] fBuffer;
}

void StPackedDictionaryKey::_CopyFrom(const StPackedDictionaryKey& other)
{
    if (other.fBuffer) {
        _SetOwned(other.fKey, static_cast<size_t>(other.fLength));
    } else {
        fKey = other.fKey;
        fLength = other.fLength;
        fBuffer = nullptr;
        fHash = other.fHash;
    }
}

void StPackedDictionaryKey::_SetOwned(const char* bytes, size_t length)
{
    fBuffer = new char[length + 1];
    if (length > 0)
        std::memcpy(fBuffer, bytes, length);
    fBuffer[length] = 0;
    fKey = fBuffer;
    fLength = length;
    fHash = GetHashCode(fBuffer, length);
}

void StPackedDictionaryKey::_SetEmpty()
{
    fKey = "";
    fLength = 0;
    fBuffer = nullptr;
    fHash = 0;
}

bool StPackedDictionaryKey::Equal(const char* bytes, size_t length) const
{
    return length == fLength && (length == 0 || std::memcmp(bytes, fKey, length) == 0);
}

void StPackedDictionaryKey::GetKeyString(VString& out) const
{
    out.FromBlock(fKey, static_cast<VSize>(fLength), VTC_UTF_8);
}

uint32_t StPackedDictionaryKey::GetHashCode(const char* bytes, size_t length)
{
    const auto* b = reinterpret_cast<const uint8_t*>(bytes);
    uint32_t h = static_cast<uint32_t>(length);
    if (length < 17) {
        for (size_t i = 0; i < length; ++i)
            h = h * 257u + b[i];
    } else {
        for (size_t i = 0; i < 8; ++i)
            h = h * 257u + b[i];
        for (size_t i = length - 8; i < length; ++i)
            h = h * 257u + b[i];
    }
    return h;
}

// --- _VHashKeyMap ---

size_t _VHashKeyMap::BucketCountFor(size_t n)
{
    static const uint64_t kTable[][2] = {
        {5, 5},
        {9, 11},
        {18, 23},
        {30, 41},
        {48, 67},
        {77, 113},
        {124, 199},
        {200, 317},
        {323, 521},
        {522, 839},
        {844, 1361},
        {1365, 2207},
        {2208, 3571},
        {3572, 5779},
        {5779, 9349},
        {9350, 15121},
        {15128, 24473},
        {24477, 39607},
        {39604, 64081},
        {64080, 103681},
        {103683, 167759},
        {167762, 271429},
        {271444, 439199},
        {439205, 710641},
        {710648, 1149857},
        {1149852, 1860503},
        {1860499, 3010349},
        {3010350, 4870843},
        {4870848, 7881193},
        {7881197, 12752029},
        {12752044, 20633237},
        {20633240, 33385273},
        {33385283, 54018521},
        {54018522, 87403763},
        {87403804, 141422317},
        {141422325, 228826121},
        {228826128, 370248451},
        {370248452, 599074561},
        {599074579, 969323023},
        {969323030, 1568397599},
        {1568397608, 2537720629},
        {2537720637, 4106118251},
    };
    for (const auto& row : kTable) {
        if (n < row[0])
            return static_cast<size_t>(row[1]);
    }
    return static_cast<size_t>(kTable[std::size(kTable) - 1][1]);
}

_VHashKeyMap& _VHashKeyMap::operator=(const _VHashKeyMap& other)
{
    if (this != &other) {
        fBuckets = other.fBuckets;
        fNextFree.clear();
        fTaken = 0;
    }
    return *this;
}

void _VHashKeyMap::Clear()
{
    fBuckets.clear();
    fBuckets.shrink_to_fit();
    fNextFree.clear();
    fNextFree.shrink_to_fit();
    fTaken = 0;
}

bool _VHashKeyMap::Rebuild(size_t count)
{
    try {
        std::vector<uint32_t> buckets(BucketCountFor(count), kFree);
        fBuckets.swap(buckets);
        fNextFree.clear();
        fTaken = 0;
        return true;
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
}

size_t _VHashKeyMap::_FirstFree(size_t i)
{
    // Path halving: every bucket passed is pointed two steps further on.
    while (fNextFree[i] != i) {
        ++tProbes;
        fNextFree[i] = fNextFree[fNextFree[i]];
        i = fNextFree[i];
    }
    return i;
}

bool _VHashKeyMap::Put(uint32_t hash, uint32_t slotIndex)
{
    const size_t count = fBuckets.size();
    if (count == 0)
        return false;
    // The index grows only once every bucket is taken, so the runs of taken
    // buckets get long: walking them bucket by bucket would cost each name
    // a walk in step with the whole index.
    if (fNextFree.size() != count) {
        try {
            fNextFree.resize(count);
            fTaken = 0;
            for (size_t i = 0; i < count; ++i) {
                const bool free = fBuckets[i] == kFree;
                fNextFree[i] = static_cast<uint32_t>(free ? i : (i + 1 == count ? 0 : i + 1));
                fTaken += free ? 0 : 1;
            }
        } catch (const std::bad_alloc&) {
            fNextFree.clear();
        }
    }
    if (fNextFree.size() == count) {
        if (fTaken == count)
            return false;
        const size_t at = _FirstFree(hash % count);
        fBuckets[at] = slotIndex;
        fNextFree[at] = static_cast<uint32_t>(at + 1 == count ? 0 : at + 1);
        ++fTaken;
        return true;
    }
    // No room for the shortcuts: the plain walk.
    const size_t start = hash % count;
    size_t i = start;
    do {
        ++tProbes;
        if (fBuckets[i] == kFree) {
            fBuckets[i] = slotIndex;
            return true;
        }
        i = (i + 1 == count) ? 0 : i + 1;
    } while (i != start);
    return false;
}

// --- _VNameLookup ---

void _VNameLookup::Clear()
{
    fEntries.clear();
    fEntries.shrink_to_fit();
    fCount = 0;
}

bool _VNameLookup::Reset(size_t count)
{
    size_t size = 16;
    while (size < 2 * count + 2)
        size *= 2;
    try {
        std::vector<Entry> entries(size, Entry{0, kFree});
        fEntries.swap(entries);
        fCount = 0;
        return true;
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
}

void _VNameLookup::_Place(Entry entry)
{
    const size_t mask = fEntries.size() - 1;
    size_t i = entry.hash & mask;
    while (fEntries[i].slot != kFree)
        i = (i + 1) & mask;
    fEntries[i] = entry;
    ++fCount;
}

bool _VNameLookup::Add(uint32_t hash, uint32_t slot)
{
    if (fEntries.empty())
        return false;
    if (2 * (fCount + 1) > fEntries.size()) {
        std::vector<Entry> old;
        try {
            std::vector<Entry> grown(fEntries.size() * 2, Entry{0, kFree});
            old.swap(fEntries);
            fEntries.swap(grown);
        } catch (const std::bad_alloc&) {
            Clear();
            return false;
        }
        fCount = 0;
        // From a free entry on, each run is met from its start: entries under
        // one hash keep their order, so equal names are still found first-first.
        size_t start = 0;
        while (old[start].slot != kFree)
            ++start;
        for (size_t k = 0; k < old.size(); ++k) {
            const Entry& e = old[(start + k) & (old.size() - 1)];
            if (e.slot != kFree)
                _Place(e);
        }
    }
    _Place(Entry{hash, slot});
    return true;
}

uint32_t _VNameLookup::Hash(const char* bytes, size_t length)
{
    return SeededHash(bytes, length);
}

bool _VHashKeyMap::Rebuild(VStream* stream)
{
    Clear();
    uint32_t count = 0;
    if (stream->GetLong(count) != VE_OK || count == 0)
        return false;
    std::vector<uint8_t> bytes;
    if (_ReadBoundedBytes(stream, static_cast<size_t>(count) * 4, bytes) != VE_OK)
        return false;
    std::vector<uint32_t> buckets(count);
    std::memcpy(buckets.data(), bytes.data(), bytes.size());
    if (stream->NeedSwap()) {
        for (uint32_t& b : buckets)
            b = __builtin_bswap32(b);
    }
    fBuckets.swap(buckets);
    return true;
}

bool _VHashKeyMap::IsValidFor(size_t slotCount) const
{
    return std::all_of(fBuckets.begin(), fBuckets.end(), [slotCount](uint32_t b) { return b == kFree || b < slotCount; });
}

VError _VHashKeyMap::WriteToStream(VStream* stream) const
{
    stream->PutLong(static_cast<int32_t>(fBuckets.size()));
    if (!stream->NeedSwap())
        return stream->PutData(fBuckets.data(), fBuckets.size() * 4);
    for (uint32_t b : fBuckets)
        stream->Put(b);
    return stream->GetLastError();
}

VError _ReadBoundedBytes(VStream* stream, size_t count, std::vector<uint8_t>& out)
{
    out.clear();
    size_t done = 0;
    while (done < count) {
        size_t step = std::min(kReadStep + done, count - done);
        out.resize(done + step);
        VError err = stream->GetData(out.data() + done, step);
        if (err != VE_OK) {
            out.clear();
            return err;
        }
        done += step;
    }
    return stream->GetLastError();
}

// --- VPackedDictionary_base ---

template <class Slot>
const char* VPackedDictionary_base<Slot>::GetNameBytes(size_t i, size_t* length) const
{
    const size_t offset = static_cast<size_t>(fSlots[i].fNameOffset);
    *length = fKeys[offset];
    return reinterpret_cast<const char*>(fKeys.data() + offset + 1);
}

template <class Slot>
void VPackedDictionary_base<Slot>::GetName(size_t i, VString& out) const
{
    size_t length = 0;
    const char* bytes = GetNameBytes(i, &length);
    out.FromBlock(bytes, static_cast<VSize>(length), VTC_UTF_8);
}

template <class Slot>
bool VPackedDictionary_base<Slot>::_FillIndex() const
{
    if (!fIndex.Rebuild(fSlots.size()))
        return false;
    for (size_t i = 0; i < fSlots.size(); ++i) {
        size_t length = 0;
        const char* bytes = GetNameBytes(i, &length);
        if (!fIndex.Put(StPackedDictionaryKey::GetHashCode(bytes, length), static_cast<uint32_t>(i))) {
            fIndex.Clear();
            return false;
        }
    }
    return true;
}

template <class Slot>
bool VPackedDictionary_base<Slot>::_FillLookup() const
{
    if (!fLookup.Reset(fSlots.size()))
        return false;
    for (size_t i = 0; i < fSlots.size(); ++i) {
        size_t length = 0;
        const char* bytes = GetNameBytes(i, &length);
        if (!fLookup.Add(_VNameLookup::Hash(bytes, length), static_cast<uint32_t>(i)))
            return false;
    }
    return true;
}

template <class Slot>
void VPackedDictionary_base<Slot>::_BuildIndexIfNeeded() const
{
    if (fIndex.IsEmpty() && fSlots.size() >= 6)
        _FillIndex();
}

template <class Slot>
size_t VPackedDictionary_base<Slot>::_FindIndex(const StPackedDictionaryKey& key) const
{
    _BuildIndexIfNeeded();
    const size_t count = fSlots.size();
    const size_t keyLength = key.GetKeyLength();
    auto matches = [&](size_t i) {
        ++tProbes;
        const size_t offset = static_cast<size_t>(fSlots[i].fNameOffset);
        return fKeys[offset] == keyLength &&
               (keyLength == 0 || std::memcmp(fKeys.data() + offset + 1, key.GetKey(), keyLength) == 0);
    };
    if (count >= 6 && fLookup.IsEmpty())
        _FillLookup();
    if (!fLookup.IsEmpty()) {
        const uint32_t found = fLookup.Find(_VNameLookup::Hash(key.GetKey(), keyLength),
                                            [&](uint32_t i) { return matches(i); });
        return found == _VNameLookup::kFree ? count : found;
    }
    // Few names, or no room for the table: the scan, started where the index says.
    size_t start = 0;
    if (!fIndex.IsEmpty()) {
        uint32_t b = fIndex.GetBucket(key.GetHash());
        if (b == _VHashKeyMap::kFree)
            return count;
        start = b;
    }
    for (size_t i = start; i < count; ++i) {
        if (matches(i))
            return i;
    }
    for (size_t i = 0; i < start; ++i) {
        if (matches(i))
            return i;
    }
    return count;
}

template <class Slot>
typename VPackedDictionary_base<Slot>::SlotVector::iterator VPackedDictionary_base<Slot>::_Find(
    const StPackedDictionaryKey& key)
{
    return fSlots.begin() + static_cast<std::ptrdiff_t>(_FindIndex(key));
}

template <class Slot>
typename VPackedDictionary_base<Slot>::SlotVector::const_iterator VPackedDictionary_base<Slot>::_Find(
    const StPackedDictionaryKey& key) const
{
    return fSlots.begin() + static_cast<std::ptrdiff_t>(_FindIndex(key));
}

template <class Slot>
typename VPackedDictionary_base<Slot>::SlotVector::iterator VPackedDictionary_base<Slot>::_AppendKeyAndSlot(
    const StPackedDictionaryKey& key, const Slot& slot)
{
    const size_t keyBytes = fKeys.size();
    try {
        Slot added = slot;
        added.fNameOffset = keyBytes;
        fKeys.push_back(static_cast<uint8_t>(key.GetKeyLength()));
        fKeys.insert(fKeys.end(), key.GetKey(), key.GetKey() + key.GetKeyLength());
        fSlots.push_back(added);
    } catch (const std::bad_alloc&) {
        fKeys.resize(keyBytes);
        return fSlots.end();
    }
    const uint32_t index = static_cast<uint32_t>(fSlots.size() - 1);
    if (!fLookup.IsEmpty())
        fLookup.Add(_VNameLookup::Hash(key.GetKey(), key.GetKeyLength()), index);
    if (!fIndex.IsEmpty() && !fIndex.Put(key.GetHash(), index))
        _FillIndex();
    return fSlots.end() - 1;
}

template <class Slot>
void VPackedDictionary_base<Slot>::_EraseKeyAndSlot(size_t i)
{
    const size_t offset = static_cast<size_t>(fSlots[i].fNameOffset);
    const size_t removed = static_cast<size_t>(fKeys[offset]) + 1;
    fKeys.erase(fKeys.begin() + static_cast<std::ptrdiff_t>(offset),
                fKeys.begin() + static_cast<std::ptrdiff_t>(offset + removed));
    for (size_t j = i + 1; j < fSlots.size(); ++j)
        fSlots[j].fNameOffset -= removed;
    fSlots.erase(fSlots.begin() + static_cast<std::ptrdiff_t>(i));
    fIndex.Clear();
    fLookup.Clear();
}

template <class Slot>
void VPackedDictionary_base<Slot>::_ClearKeys()
{
    fKeys.clear();
    fSlots.clear();
    fIndex.Clear();
    fLookup.Clear();
}

template <class Slot>
VError VPackedDictionary_base<Slot>::_WriteKeysToStream(VStream* stream, bool withIndex) const
{
    stream->PutLong(static_cast<int32_t>(fSlots.size()));
    stream->PutLong(static_cast<int32_t>(fKeys.size()));
    stream->PutData(fKeys.data(), fKeys.size());
    if (withIndex)
        _BuildIndexIfNeeded();
    if (withIndex && !fIndex.IsEmpty()) {
        stream->PutByte(1);
        return fIndex.WriteToStream(stream);
    }
    return stream->PutByte(0);
}

template <class Slot>
VError VPackedDictionary_base<Slot>::_ReadKeysFromStream(VStream* stream)
{
    _ClearKeys();
    uint32_t count = 0;
    uint32_t length = 0;
    stream->GetLong(count);
    VError err = stream->GetLong(length);
    if (err != VE_OK)
        return err;
    // Every name takes at least its length byte: a count beyond the bytes is a lie.
    if (count > length)
        return VE_STREAM_BAD_SIGNATURE;
    std::vector<uint8_t> keys;
    err = _ReadBoundedBytes(stream, length, keys);
    if (err != VE_OK)
        return err;
    SlotVector slots(count);
    size_t offset = 0;
    for (Slot& slot : slots) {
        if (offset >= keys.size())
            return VE_STREAM_BAD_SIGNATURE;
        slot.fNameOffset = offset;
        offset += static_cast<size_t>(keys[offset]) + 1;
    }
    if (offset != keys.size())
        return VE_STREAM_BAD_SIGNATURE;
    // Names are unique in a dictionary: a lookup could reach only one of two
    // equal names, so data holding both is refused.
    std::unordered_set<std::string_view> seen;
    seen.reserve(slots.size());
    for (const Slot& slot : slots) {
        const size_t at = static_cast<size_t>(slot.fNameOffset);
        if (!seen.emplace(reinterpret_cast<const char*>(keys.data() + at + 1), keys[at]).second)
            return VE_STREAM_BAD_SIGNATURE;
    }
    uint8_t withIndex = 0;
    err = stream->GetByte(withIndex);
    if (err != VE_OK)
        return err;
    fKeys.swap(keys);
    fSlots.swap(slots);
    if (withIndex == 1) {
        err = stream->GetLastError();
        if (err == VE_OK && (!fIndex.Rebuild(stream) || !fIndex.IsValidFor(fSlots.size())))
            err = stream->GetLastError() != VE_OK ? stream->GetLastError() : VE_STREAM_BAD_SIGNATURE;
        // A stored index that sends a stored name to a free bucket would make
        // the name unreachable: refuse it rather than answer wrongly later.
        for (size_t i = 0; err == VE_OK && i < fSlots.size(); ++i) {
            size_t nameLength = 0;
            const char* bytes = GetNameBytes(i, &nameLength);
            if (fIndex.GetBucket(StPackedDictionaryKey::GetHashCode(bytes, nameLength)) == _VHashKeyMap::kFree)
                err = VE_STREAM_BAD_SIGNATURE;
        }
    } else if (withIndex != 0) {
        err = VE_STREAM_BAD_SIGNATURE;
    } else {
        _BuildIndexIfNeeded();
    }
    if (err != VE_OK)
        _ClearKeys();
    return err;
}

template class VPackedDictionary_base<_VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>>;
template class VPackedDictionary_base<_VPackedDictionary_slot<VPackedValue_VBagArray>>;

}  // namespace bkit
