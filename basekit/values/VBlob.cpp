// VBlob.cpp - the blob interface, the owning blob, the read-only blob and the
// descriptor of kind 11.
#include "basekit/values/VBlob.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "basekit/files/VStream.h"

namespace bkit {

const VBlob_info VBlob::sInfo;

namespace {

// The read of every blob over a plain block: the count copied goes to *read.
VError CopyOut(const void* data, VSize dataSize, void* dst, VSize size, int32_t offset, VSize* read)
{
    VSize count = 0;
    VError err = VE_OK;
    if (offset < 0) {
        err = VE_INVALID_PARAMETER;
    } else {
        VSize start = static_cast<VSize>(offset);
        // At or past the end there is nothing to copy: never form a pointer
        // beyond the block.
        VSize available = start < dataSize ? dataSize - start : 0;
        count = std::min(size, available);
        if (count > 0)
            std::memcpy(dst, static_cast<const uint8_t*>(data) + start, count);
        if (count < size)
            err = VE_STREAM_EOF;
    }
    if (read)
        *read = count;
    return err;
}

uint32_t LoadSize(const void* data)
{
    uint32_t size;
    std::memcpy(&size, data, sizeof(size));
    return size;
}

// The raw-memory form: the 32-bit size, then the bytes.
void* WriteRaw(const void* data, VSize size, void* dst)
{
    uint32_t size32 = static_cast<uint32_t>(size);
    std::memcpy(dst, &size32, sizeof(size32));
    uint8_t* bytes = static_cast<uint8_t*>(dst) + sizeof(size32);
    if (size > 0)
        std::memcpy(bytes, data, size);
    return bytes + size;
}

// The stream form: the size as an unsigned 32-bit number, then the bytes.
VError WriteStreamed(const void* data, VSize size, VStream* stream)
{
    // A size the 32-bit field cannot carry would leave a stream that reads
    // back as something else.
    if (size > std::numeric_limits<uint32_t>::max())
        return VE_INVALID_PARAMETER;
    VError err = stream->Put(static_cast<uint32_t>(size));
    if (err == VE_OK && size > 0)
        err = stream->PutData(data, size);
    return err;
}

void FillTargetBlob(const void* data, VSize size, VValueSingle& target)
{
    if (target.GetValueKind() != VK_BLOB)
        return;
    if (auto* blob = dynamic_cast<VBlob*>(&target))
        blob->FromData(data, size);
}

}  // namespace

// --- VBlob ---

VError VBlob::FromData(const void* src, VSize size)
{
    VError err = SetSize(size);
    if (err == VE_OK && size != 0)
        err = PutData(src, size, 0);
    return err;
}

void VBlob::Clear()
{
    FromData(nullptr, 0);
}

const VValueInfo* VBlob::GetValueInfo() const
{
    return &sInfo;
}

CompareResult VBlob::CompareTo(const VValueSingle&, bool) const
{
    return CR_UNRELEVANT;
}

const void* VBlob::LoadFromPtr(const void*, bool)
{
    return nullptr;
}

void* VBlob::WriteToPtr(void*, bool, VSize) const
{
    return nullptr;
}

void VBlob::GetValue(VValueSingle&) const {}

void VBlob::FromValue(const VValueSingle&) {}

void VBlob::DoNullChanged()
{
    if (IsNull())
        SetSize(0);
}

// --- VBlobWithPtr ---

VBlobWithPtr::VBlobWithPtr() = default;

VBlobWithPtr::VBlobWithPtr(const void* data, VSize size)
{
    if (data && size > 0 && fBuffer.SetSize(size))
        std::memcpy(fBuffer.GetDataPtr(), data, size);
}

VBlobWithPtr::VBlobWithPtr(const VBlobWithPtr& other) : VBlob(other), fBuffer(other.fBuffer) {}

VBlobWithPtr::VBlobWithPtr(const VBlob& other) : VBlob(other)
{
    if (other.IsNull())
        return;
    VSize size = other.GetSize();
    if (size > 0 && fBuffer.SetSize(size)) {
        VSize read = 0;
        other.GetData(fBuffer.GetDataPtr(), size, 0, &read);
        fBuffer.SetDataSize(read);
    }
}

VBlobWithPtr& VBlobWithPtr::operator=(const VBlobWithPtr& other)
{
    if (this != &other)
        FromValueSameKind(&other);
    return *this;
}

VBlobWithPtr::~VBlobWithPtr() = default;

VError VBlobWithPtr::SetSize(VSize size)
{
    VSize oldSize = fBuffer.GetDataSize();
    if (size != fBuffer.GetAllocatedSize()) {
        if (!fBuffer.SetSize(size))
            return VE_MEMORY_FULL;
    } else {
        fBuffer.SetDataSize(size);
    }
    // Bytes nobody wrote must not show what the allocator left there.
    if (size > oldSize)
        std::memset(static_cast<uint8_t*>(fBuffer.GetDataPtr()) + oldSize, 0, size - oldSize);
    return VE_OK;
}

VError VBlobWithPtr::GetData(void* dst, VSize size, int32_t offset, VSize* read) const
{
    return CopyOut(fBuffer.GetDataPtr(), fBuffer.GetDataSize(), dst, size, offset, read);
}

VError VBlobWithPtr::PutData(const void* src, VSize size, int32_t offset)
{
    if (offset < 0 || (size > 0 && !src))
        return VE_INVALID_PARAMETER;
    VSize start = static_cast<VSize>(offset);
    VSize oldSize = fBuffer.GetDataSize();
    VError err = VE_OK;
    if (size > std::numeric_limits<VSize>::max() - start || !fBuffer.Reserve(start + size)) {
        err = VE_MEMORY_FULL;
    } else {
        auto* data = static_cast<uint8_t*>(fBuffer.GetDataPtr());
        // A write beyond the end leaves a gap that must read as zeros.
        if (start > oldSize)
            std::memset(data + oldSize, 0, start - oldSize);
        if (size > 0)
            std::memcpy(data + start, src, size);
        if (start + size > oldSize)
            fBuffer.SetDataSize(start + size);
    }
    SetNull(false);
    SetDirty(true);
    return err;
}

VError VBlobWithPtr::FromData(const void* src, VSize size)
{
    if (size > 0 && !src)
        return VE_INVALID_PARAMETER;
    if (!fBuffer.SetSize(size))
        return VE_MEMORY_FULL;
    if (size > 0)
        std::memcpy(fBuffer.GetDataPtr(), src, size);
    SetNull(false);
    SetDirty(true);
    return VE_OK;
}

VSize VBlobWithPtr::GetSpace(VSize) const
{
    return fBuffer.GetDataSize() + sizeof(uint32_t);
}

VValue* VBlobWithPtr::Clone() const
{
    return new VBlobWithPtr(*this);
}

bool VBlobWithPtr::FromValueSameKind(const VValue* other)
{
    auto* source = dynamic_cast<const VBlobWithPtr*>(other);
    if (!source)
        return false;
    if (source != this) {
        Buffer copy(fBuffer.GetMemMgr());
        copy = source->fBuffer;
        if (copy.GetDataSize() != source->fBuffer.GetDataSize())
            return false;
        fBuffer = std::move(copy);
    }
    SetNull(source->IsNull());
    SetDirty(true);
    return true;
}

bool VBlobWithPtr::EqualToSameKind(const VValue* other, bool) const
{
    auto* blob = dynamic_cast<const VBlobWithPtr*>(other);
    if (!blob || blob->IsNull())
        return false;
    VSize size = fBuffer.GetDataSize();
    if (size != blob->fBuffer.GetDataSize())
        return false;
    return size == 0 || std::memcmp(fBuffer.GetDataPtr(), blob->fBuffer.GetDataPtr(), size) == 0;
}

bool VBlobWithPtr::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
    return VBlobWithPtr::EqualToSameKind(other, false);
}

void VBlobWithPtr::GetValue(VValueSingle& target) const
{
    if (&target != this)
        FillTargetBlob(fBuffer.GetDataPtr(), fBuffer.GetDataSize(), target);
}

void VBlobWithPtr::FromValue(const VValueSingle& value)
{
    if (&value == this)
        return;
    Clear();
    if (auto* blob = dynamic_cast<const VBlobWithPtr*>(&value))
        PutData(blob->fBuffer.GetDataPtr(), blob->fBuffer.GetDataSize(), 0);
}

const void* VBlobWithPtr::LoadFromPtr(const void* data, bool)
{
    uint32_t size = LoadSize(data);
    const uint8_t* bytes = static_cast<const uint8_t*>(data) + sizeof(uint32_t);
    // An empty form loads an empty blob, not whatever this blob held before.
    FromData(size > 0 ? bytes : nullptr, size);
    return bytes + size;
}

void* VBlobWithPtr::WriteToPtr(void* data, bool, VSize) const
{
    return WriteRaw(fBuffer.GetDataPtr(), fBuffer.GetDataSize(), data);
}

VError VBlobWithPtr::WriteToStream(VStream* stream, int32_t) const
{
    return WriteStreamed(fBuffer.GetDataPtr(), fBuffer.GetDataSize(), stream);
}

VError VBlobWithPtr::ReadFromStream(VStream* stream, int32_t)
{
    int32_t size = 0;
    VError err = stream->GetLong(size);
    if (err != VE_OK)
        return err;
    if (size < 0)
        return VE_MEMORY_FULL;
    VSize wanted = static_cast<VSize>(size);
    if (wanted != fBuffer.GetAllocatedSize()) {
        if (!fBuffer.SetSize(wanted))
            return VE_MEMORY_FULL;
    } else {
        fBuffer.SetDataSize(wanted);
    }
    if (wanted == 0)
        return VE_OK;
    // The bytes are filled by the read, so a size from a damaged stream costs
    // no more than its address space; only what the read missed is cleared.
    VSize read = 0;
    err = stream->GetData(fBuffer.GetDataPtr(), wanted, &read);
    if (read < wanted)
        std::memset(static_cast<uint8_t*>(fBuffer.GetDataPtr()) + read, 0, wanted - read);
    return err;
}

// --- VConstBlobWithPtr ---

VConstBlobWithPtr::VConstBlobWithPtr(const void* data, VSize size) : fData(data), fSize(data ? size : 0) {}

VConstBlobWithPtr::VConstBlobWithPtr(const VConstBlobWithPtr& other)
    : VBlob(other), fData(other.fData), fSize(other.fSize)
{
}

VConstBlobWithPtr& VConstBlobWithPtr::operator=(const VConstBlobWithPtr& other)
{
    if (this != &other)
        FromValueSameKind(&other);
    return *this;
}

VConstBlobWithPtr::~VConstBlobWithPtr() = default;

VError VConstBlobWithPtr::GetData(void* dst, VSize size, int32_t offset, VSize* read) const
{
    return CopyOut(fData, fSize, dst, size, offset, read);
}

VError VConstBlobWithPtr::SetSize(VSize)
{
    return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VError VConstBlobWithPtr::PutData(const void*, VSize, int32_t)
{
    return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VError VConstBlobWithPtr::FromData(const void*, VSize)
{
    return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VError VConstBlobWithPtr::ReadFromStream(VStream*, int32_t)
{
    return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VSize VConstBlobWithPtr::GetSpace(VSize) const
{
    return fSize + sizeof(uint32_t);
}

VValue* VConstBlobWithPtr::Clone() const
{
    return new VConstBlobWithPtr(*this);
}

bool VConstBlobWithPtr::FromValueSameKind(const VValue* other)
{
    auto* source = dynamic_cast<const VConstBlobWithPtr*>(other);
    if (!source)
        return false;
    fData = source->fData;
    fSize = source->fSize;
    SetNull(source->IsNull());
    SetDirty(true);
    return true;
}

void VConstBlobWithPtr::GetValue(VValueSingle& target) const
{
    if (&target != this)
        FillTargetBlob(fData, fSize, target);
}

void VConstBlobWithPtr::FromValue(const VValueSingle&) {}

const void* VConstBlobWithPtr::LoadFromPtr(const void*, bool)
{
    return nullptr;
}

void* VConstBlobWithPtr::WriteToPtr(void* data, bool, VSize) const
{
    return WriteRaw(fData, fSize, data);
}

VError VConstBlobWithPtr::WriteToStream(VStream* stream, int32_t) const
{
    return WriteStreamed(fData, fSize, stream);
}

// --- VBlob_info ---

VBlob_info::VBlob_info() : VValueInfo(VK_BLOB, VK_BLOB) {}

VValue* VBlob_info::Generate() const
{
    return new VBlobWithPtr();
}

VValue* VBlob_info::Generate(VBlob*) const
{
    return new VBlobWithPtr();
}

VValue* VBlob_info::LoadFromPtr(const void* data, bool swap) const
{
    auto* blob = new VBlobWithPtr();
    blob->LoadFromPtr(data, swap);
    return blob;
}

void* VBlob_info::ByteSwapPtr(void* data, bool) const
{
    auto* bytes = static_cast<uint8_t*>(data);
    std::reverse(bytes, bytes + sizeof(uint32_t));
    return bytes + sizeof(uint32_t);
}

VSize VBlob_info::GetSizeOfValueDataPtr(const void* data) const
{
    return static_cast<VSize>(LoadSize(data)) + sizeof(uint32_t);
}

}  // namespace bkit
