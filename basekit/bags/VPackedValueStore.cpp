// VPackedValueStore.cpp - the attribute store: values packed into 16-bit units, unpacked on demand.
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "basekit/bags/VPackedDictionary.h"
#include "basekit/files/VStream.h"
#include "basekit/values/VValue.h"

namespace bkit {

namespace {

using Store = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

size_t UnitsFor(size_t bytes) { return (bytes + 1) / 2; }

uint32_t LoadU32(const uint16_t* at, bool swapped)
{
    uint32_t v;
    std::memcpy(&v, at, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

// Size of the packed entry whose kind unit is already in host order; the
// length field of a string or blob is read in the order lengthSwapped says.
bool PackedSize(const uint16_t* store, size_t unitCount, size_t offset, bool lengthSwapped, size_t& bytes)
{
    if (offset >= unitCount)
        return false;
    const ValueKind kind = store[offset];
    const size_t available = (unitCount - offset - 1) * 2;
    const uint16_t* data = store + offset + 1;
    size_t size = 0;
    switch (kind) {
        case VK_BOOLEAN:
        case VK_BYTE: size = 1; break;
        case VK_WORD: size = 2; break;
        case VK_LONG: size = 4; break;
        case VK_LONG8:
        case VK_REAL:
        case VK_DURATION: size = 8; break;
        case VK_STRING:
        case VK_BLOB: {
            if (available < 4)
                return false;
            const uint32_t n = LoadU32(data, lengthSwapped);
            if (kind == VK_STRING && n > 0x7FFFFFFFu)
                return false;
            size = 4 + (kind == VK_STRING ? 2 * static_cast<size_t>(n) : static_cast<size_t>(n));
            break;
        }
        default: {
            const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
            size = info ? static_cast<size_t>(info->GetSizeOfValueDataPtr(data)) : 0;
            break;
        }
    }
    if (size > available)
        return false;
    bytes = 2 + size;
    return true;
}

// True when the kind makes single values (or has no descriptor at all, which
// leaves the entry unreadable but harmless). Kinds of lists and bags cannot be
// attribute values: stored data claiming one is refused.
bool IsAcceptableKind(ValueKind kind, std::map<ValueKind, bool>& seen)
{
    auto found = seen.find(kind);
    if (found != seen.end())
        return found->second;
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
    bool ok = true;
    if (info != nullptr) {
        std::unique_ptr<VValue> probe(info->Generate());
        ok = probe && probe->IsVValueSingle() != nullptr;
    }
    seen[kind] = ok;
    return ok;
}

}  // namespace

bool VPackedValue_VValueSingle::GetPackedSize(const uint16_t* store, size_t unitCount, size_t offset, size_t& bytes)
{
    return PackedSize(store, unitCount, offset, false, bytes);
}

Store::VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& other) : VPackedDictionary_base()
{
    *this = other;
}

Store& Store::operator=(const VPackedDictionary_with_backstore& other)
{
    if (this == &other)
        return *this;
    if (other.fDirty) {
        auto& source = const_cast<VPackedDictionary_with_backstore&>(other);
        source._Pack();
        source.fDirty = false;
    }
    _DeleteValues();
    fKeys = other.fKeys;
    fSlots = other.fSlots;
    for (Slot& slot : fSlots)
        slot.fValue = nullptr;
    fIndex = other.fIndex;
    fLookup.Clear();
    fStore = other.fStore;
    fDirty = false;
    return *this;
}

Store::~VPackedDictionary_with_backstore()
{
    _DeleteValues();
}

void Store::_DeleteValues()
{
    for (Slot& slot : fSlots) {
        delete slot.fValue;
        slot.fValue = nullptr;
    }
}

void Store::Destroy()
{
    _DeleteValues();
    _ClearKeys();
    fStore.clear();
    fDirty = false;
}

size_t Store::_EntryEnd(size_t i) const
{
    return i + 1 < fSlots.size() ? static_cast<size_t>(fSlots[i + 1].fValueOffset) : fStore.size();
}

bool Store::_OverwriteInPlace(const Slot& slot, const VValueSingle& value)
{
    const size_t offset = static_cast<size_t>(slot.fValueOffset);
    size_t bytes = 0;
    if (!PackedSize(fStore.data(), fStore.size(), offset, false, bytes))
        return false;
    if (bytes != 2 + static_cast<size_t>(value.GetSpace(0)))
        return false;
    fStore[offset] = value.GetValueKind();
    value.WriteToPtr(fStore.data() + offset + 1, false, 0);
    return true;
}

bool Store::Append(const StPackedDictionaryKey& key, const VValueSingle& value)
{
    const size_t size = static_cast<size_t>(value.GetSpace(0));
    const size_t offset = fStore.size();
    Slot slot;
    slot.fValueOffset = offset;
    try {
        fStore.resize(offset + (size + 3) / 2, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto added = _AppendKeyAndSlot(key, slot);
    if (added == fSlots.end()) {
        fStore.resize(offset);
        return false;
    }
    fStore[offset] = value.GetValueKind();
    value.WriteToPtr(fStore.data() + offset + 1, false, 0);
    return true;
}

bool Store::SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value)
{
    auto it = _Find(key);
    if (it == fSlots.end())
        return false;
    Slot& slot = *it;
    if (slot.fValue == nullptr) {
        if (!_OverwriteInPlace(slot, value)) {
            slot.fValue = static_cast<VValueSingle*>(value.Clone());
            fDirty = true;
        }
        return true;
    }
    if (slot.fValue != &value) {
        if (slot.fValue->GetValueKind() == value.GetValueKind()) {
            slot.fValue->FromValueSameKind(&value);
        } else {
            delete slot.fValue;
            slot.fValue = static_cast<VValueSingle*>(value.Clone());
        }
    }
    fDirty = true;
    return true;
}

VValueSingle* Store::_Unpack(const Slot& slot) const
{
    if (slot.fValue != nullptr)
        return slot.fValue;
    const size_t offset = static_cast<size_t>(slot.fValueOffset);
    const VValueInfo* info = VValue::ValueInfoFromValueKind(fStore[offset]);
    if (info == nullptr)
        return nullptr;
    VValue* value = info->LoadFromPtr(fStore.data() + offset + 1, false);
    if (value != nullptr && value->IsVValueSingle() == nullptr) {
        delete value;
        value = nullptr;
    }
    slot.fValue = static_cast<VValueSingle*>(value);
    return slot.fValue;
}

bool Store::GetValue(const StPackedDictionaryKey& key, VValueSingle& value) const
{
    auto it = _Find(key);
    if (it == fSlots.end())
        return false;
    const Slot& slot = *it;
    if (slot.fValue == nullptr) {
        const size_t offset = static_cast<size_t>(slot.fValueOffset);
        const ValueKind kind = fStore[offset];
        if (VValue::ValueInfoFromValueKind(kind) == nullptr)
            return true;
        if (value.GetValueKind() == kind) {
            value.LoadFromPtr(fStore.data() + offset + 1, false);
            return true;
        }
    }
    if (VValueSingle* stored = _Unpack(slot))
        stored->GetValue(value);
    return true;
}

VValueSingle* Store::GetNthValue(size_t i) const
{
    return i < fSlots.size() ? _Unpack(fSlots[i]) : nullptr;
}

VValueSingle* Store::GetCachedValue(const StPackedDictionaryKey& key) const
{
    auto it = _Find(key);
    return it == fSlots.end() ? nullptr : _Unpack(*it);
}

void Store::Clear(const StPackedDictionaryKey& key)
{
    const size_t i = _FindIndex(key);
    if (i == fSlots.size())
        return;
    delete fSlots[i].fValue;
    fSlots[i].fValue = nullptr;
    const size_t begin = static_cast<size_t>(fSlots[i].fValueOffset);
    const size_t end = _EntryEnd(i);
    fStore.erase(fStore.begin() + static_cast<std::ptrdiff_t>(begin), fStore.begin() + static_cast<std::ptrdiff_t>(end));
    for (size_t j = i + 1; j < fSlots.size(); ++j)
        fSlots[j].fValueOffset -= end - begin;
    _EraseKeyAndSlot(i);
}

void Store::_Pack()
{
    bool fits = true;
    for (const Slot& slot : fSlots) {
        if (slot.fValue != nullptr && !_OverwriteInPlace(slot, *slot.fValue)) {
            fits = false;
            break;
        }
    }
    if (fits)
        return;
    std::vector<uint16_t> store;
    std::vector<Slot> slots = fSlots;
    for (size_t i = 0; i < fSlots.size(); ++i) {
        const size_t offset = store.size();
        slots[i].fValueOffset = offset;
        if (const VValueSingle* value = fSlots[i].fValue) {
            store.resize(offset + (static_cast<size_t>(value->GetSpace(0)) + 3) / 2, 0);
            store[offset] = value->GetValueKind();
            value->WriteToPtr(store.data() + offset + 1, false, 0);
        } else {
            const size_t begin = static_cast<size_t>(fSlots[i].fValueOffset);
            store.insert(store.end(), fStore.begin() + static_cast<std::ptrdiff_t>(begin),
                         fStore.begin() + static_cast<std::ptrdiff_t>(_EntryEnd(i)));
        }
    }
    fSlots.swap(slots);
    fStore.swap(store);
}

VError Store::WriteToStream(VStream* stream, bool withIndex) const
{
    _WriteKeysToStream(stream, withIndex);
    stream->PutLong(static_cast<int32_t>(fStore.size()));
    if (!stream->NeedSwap())
        return stream->PutData(fStore.data(), fStore.size() * 2);
    // The other byte order goes out through a copy; the store itself stays as it is.
    std::vector<uint16_t> swapped = fStore;
    for (const Slot& slot : fSlots) {
        const size_t offset = static_cast<size_t>(slot.fValueOffset);
        const ValueKind kind = swapped[offset];
        swapped[offset] = __builtin_bswap16(kind);
        if (const VValueInfo* info = VValue::ValueInfoFromValueKind(kind))
            info->ByteSwapPtr(swapped.data() + offset + 1, true);
    }
    return stream->PutData(swapped.data(), swapped.size() * 2);
}

VError Store::ReadFromStream(VStream* stream)
{
    Destroy();
    VError err = stream->GetLastError();
    if (err != VE_OK)
        return err;
    err = _ReadKeysFromStream(stream);
    uint32_t units = 0;
    if (err == VE_OK)
        err = stream->GetLong(units);
    std::vector<uint8_t> bytes;
    if (err == VE_OK)
        err = _ReadBoundedBytes(stream, static_cast<size_t>(units) * 2, bytes);
    if (err == VE_OK) {
        try {
            fStore.resize(units);
        } catch (const std::bad_alloc&) {
            err = VE_MEMORY_FULL;
        }
    }
    if (err != VE_OK) {
        Destroy();
        return err;
    }
    if (units > 0)
        std::memcpy(fStore.data(), bytes.data(), bytes.size());
    const bool swap = stream->NeedSwap();
    std::map<ValueKind, bool> kinds;
    size_t offset = 0;
    for (Slot& slot : fSlots) {
        slot.fValueOffset = offset;
        slot.fValue = nullptr;
        if (offset >= fStore.size()) {
            err = VE_STREAM_BAD_SIGNATURE;
            break;
        }
        if (swap)
            fStore[offset] = __builtin_bswap16(fStore[offset]);
        size_t size = 0;
        if (!IsAcceptableKind(fStore[offset], kinds) || !PackedSize(fStore.data(), fStore.size(), offset, swap, size)) {
            err = VE_STREAM_BAD_SIGNATURE;
            break;
        }
        if (swap) {
            if (const VValueInfo* info = VValue::ValueInfoFromValueKind(fStore[offset]))
                info->ByteSwapPtr(fStore.data() + offset + 1, false);
        }
        offset += UnitsFor(size);
    }
    if (err == VE_OK && offset != fStore.size())
        err = VE_STREAM_BAD_SIGNATURE;
    if (err != VE_OK)
        Destroy();
    return err;
}

}  // namespace bkit
