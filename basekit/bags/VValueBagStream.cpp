// VValueBagStream.cpp - the binary form of bags: 'VBAG' header, names, packed store and child lists.
#include <algorithm>
#include <memory>
#include <new>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VStream.h"
#include "basekit/values/VArrayString.h"

namespace bkit {

namespace {

constexpr uint32_t kBagSignature = 0x56424147;  // 'VBAG'
constexpr uint16_t kBagVersion = 1;
constexpr uint8_t kHasAttributes = 1;
constexpr uint8_t kHasElements = 2;
// Room reserved up front for a list, whatever count the data claims.
constexpr int32_t kMaxReserve = 1024;

}  // namespace

// --- writing ---

VError VValueBag::WriteToStream(VStream* stream, int32_t) const
{
    stream->Put(kBagSignature);
    stream->Put(kBagVersion);
    stream->Put(static_cast<uint16_t>(0));
    WriteToStreamMinimal(stream, true);
    return stream->GetLastError();
}

VError VValueBag::WriteToStreamMinimal(VStream* stream, bool withIndex) const
{
    uint8_t flags = 0;
    if (!fAttributes.IsEmpty())
        flags |= kHasAttributes;
    if (fElements != nullptr && !fElements->IsEmpty())
        flags |= kHasElements;
    stream->PutByte(flags);
    if (flags & kHasAttributes) {
        if (fAttributes.IsDirty()) {
            // Packing changes no value, only brings the store up to date.
            auto& attributes = const_cast<AttributeStore&>(fAttributes);
            attributes._Pack();
            attributes.SetDirty(false);
        }
        fAttributes.WriteToStream(stream, withIndex);
    }
    if (flags & kHasElements)
        fElements->WriteToStream(stream, withIndex);
    return stream->GetLastError();
}

VError VPackedDictionary<VPackedValue_VBagArray>::WriteToStream(VStream* stream, bool withIndex) const
{
    VError err = _WriteKeysToStream(stream, withIndex);
    for (size_t i = 0; err == VE_OK && i < fSlots.size(); ++i) {
        if (fSlots[i].fList)
            err = fSlots[i].fList->WriteToStreamMinimal(stream);
        else
            err = stream->PutLong(0);
    }
    return stream->GetLastError();
}

VError VBagArray::WriteToStreamMinimal(VStream* stream) const
{
    VError err = stream->PutLong(static_cast<int32_t>(fBags.size()));
    for (size_t i = 0; err == VE_OK && i < fBags.size(); ++i)
        err = fBags[i]->WriteToStreamMinimal(stream, true);
    return stream->GetLastError();
}

// --- reading ---

VError VValueBag::ReadFromStream(VStream* stream, int32_t)
{
    Destroy();
    VError err = stream->GetLastError();
    if (err != VE_OK)
        return err;
    uint32_t signature = 0;
    uint16_t version = 0;
    uint16_t reserved = 0;
    stream->Get(signature);
    stream->Get(version);
    err = stream->Get(reserved);
    if (err != VE_OK)
        return err;
    if (signature != kBagSignature)
        return VE_STREAM_BAD_SIGNATURE;
    if (version != kBagVersion)
        return VE_STREAM_BAD_VERSION;
    return ReadFromStreamMinimal(stream);
}

VError VValueBag::ReadFromStreamMinimal(VStream* stream)
{
    Destroy();
    VError err = _ReadFromStreamMinimal(stream, 0);
    // Half a bag is worse than none: the caller gets the error and an empty bag.
    if (err != VE_OK)
        Destroy();
    return err;
}

VError VValueBag::_ReadFromStreamMinimal(VStream* stream, int depth)
{
    if (depth > kMaxStreamDepth)
        return VE_STREAM_BAD_SIGNATURE;
    uint8_t flags = 0;
    VError err = stream->GetByte(flags);
    if (err == VE_OK && (flags & kHasAttributes))
        err = fAttributes.ReadFromStream(stream);
    if (err == VE_OK && (flags & kHasElements)) {
        ElementStore* elements = _Elements();
        err = elements ? elements->ReadFromStream(stream, depth) : VE_MEMORY_FULL;
    }
    return err;
}

VError VPackedDictionary<VPackedValue_VBagArray>::ReadFromStream(VStream* stream, int depth)
{
    Destroy();
    VError err = stream->GetLastError();
    if (err != VE_OK)
        return err;
    err = _ReadKeysFromStream(stream);
    for (size_t i = 0; err == VE_OK && i < fSlots.size(); ++i) {
        VBagArray* list = new (std::nothrow) VBagArray();
        if (list == nullptr) {
            err = VE_MEMORY_FULL;
            break;
        }
        fSlots[i].fList = list;
        err = list->_ReadFromStreamMinimal(stream, depth + 1);
    }
    if (err != VE_OK)
        Destroy();
    return err;
}

VError VBagArray::ReadFromStreamMinimal(VStream* stream)
{
    return _ReadFromStreamMinimal(stream, 1);
}

VError VBagArray::_ReadFromStreamMinimal(VStream* stream, int depth)
{
    VError err = stream->GetLastError();
    if (err != VE_OK)
        return err;
    if (depth > VValueBag::kMaxStreamDepth)
        return VE_STREAM_BAD_SIGNATURE;
    int32_t count = 0;
    err = stream->GetLong(count);
    if (err != VE_OK || count <= 0)
        return err;
    try {
        fBags.reserve(fBags.size() + static_cast<size_t>(std::min(count, kMaxReserve)));
        for (int32_t i = 0; i < count; ++i) {
            VValueBag* bag = new VValueBag();
            err = bag->_ReadFromStreamMinimal(stream, depth);
            if (err == VE_OK && !AddTail(bag))
                err = VE_MEMORY_FULL;
            bag->Release();
            if (err != VE_OK)
                return err;
        }
    } catch (const std::bad_alloc&) {
        return VE_MEMORY_FULL;
    }
    return VE_OK;
}

// --- the older layout ---

void VValueBag::_ReadFromStream_v1(VStream* stream)
{
    Destroy();
    VArrayString names;
    names.ReadFromStream(stream, 0);
    uint32_t count = 0;
    if (stream->GetLong(count) != VE_OK)
        return;
    for (uint32_t i = 1; i <= count && stream->GetLastError() == VE_OK; ++i) {
        uint32_t kind = 0;
        if (stream->GetLong(kind) != VE_OK)
            return;
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(static_cast<ValueKind>(kind & 0xFFFF)));
        if (!value || value->IsVValueSingle() == nullptr)
            continue;
        if (value->ReadFromStream(stream, 0) != VE_OK)
            return;
        VString name;
        names.GetString(name, static_cast<int32_t>(i));
        fAttributes.Append(StPackedDictionaryKey(name), *value->IsVValueSingle());
    }
    VArrayString elementNames;
    elementNames.ReadFromStream(stream, 0);
    uint32_t lists = 0;
    if (stream->GetLong(lists) != VE_OK || lists < 1)
        return;
    ElementStore* elements = _Elements();
    for (uint32_t j = 1; elements != nullptr && j <= lists && stream->GetLastError() == VE_OK; ++j) {
        VBagArray* list = new (std::nothrow) VBagArray();
        if (list == nullptr)
            return;
        VError err = list->ReadFromStreamMinimal(stream);
        VString name;
        elementNames.GetString(name, static_cast<int32_t>(j));
        elements->AppendAdopting(StPackedDictionaryKey(name), list);
        if (err != VE_OK)
            return;
    }
}

}  // namespace bkit
