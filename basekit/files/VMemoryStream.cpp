// VMemoryStream.cpp - the storage primitives of the memory streams.
#include "basekit/files/VMemoryStream.h"

#include <algorithm>
#include <cstring>

#include "basekit/runtime/VErrorBase.h"

namespace bkit {

// --- VConstPtrStream ------------------------------------------------------------

VConstPtrStream::VConstPtrStream(const void* data, VSize size) : fData(data), fSize(data ? size : 0)
{
    SetDirectReadWindow(fData, static_cast<int64_t>(fSize));
}

VConstPtrStream::~VConstPtrStream() = default;

VStreamUnderlyingData VConstPtrStream::GetUnderlyingData() const
{
    return VStreamUnderlyingData{true, fData, fSize};
}

VError VConstPtrStream::DoOpenWriting()
{
    return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoPutData(const void*, VSize)
{
    return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoGetData(void* buffer, VSize* ioCount)
{
    VSize position = static_cast<VSize>(GetPos());
    VSize count = *ioCount;
    VError err = VE_OK;
    if (position > fSize || count > fSize - position) {
        err = _ThrowError(VE_STREAM_EOF);
        count = position < fSize ? fSize - position : 0;
    }
    if (count > 0)
        std::memcpy(buffer, static_cast<const uint8_t*>(fData) + position, count);
    *ioCount = count;
    return err;
}

int64_t VConstPtrStream::DoGetSize()
{
    return static_cast<int64_t>(fSize);
}

VError VConstPtrStream::DoSetSize(int64_t)
{
    return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoSetPos(int64_t position)
{
    if (static_cast<VSize>(position) <= fSize)
        return VE_OK;
    return _ThrowError(VE_STREAM_EOF);
}

// --- VPtrStream -----------------------------------------------------------------
// The window's size is the data size: direct writes extend it without telling
// the stream, so every primitive reads the size from there and publishes the
// block again after changing it.

VPtrStream::VPtrStream() = default;

VPtrStream::~VPtrStream() = default;

void VPtrStream::_Publish(VSize size)
{
    fBuffer.SetDataSize(size);
    SetDirectWindow(fBuffer.GetDataPtr(), static_cast<int64_t>(size), static_cast<int64_t>(fBuffer.GetAllocatedSize()));
}

const VPtrStream::Buffer& VPtrStream::GetBuffer() const
{
    fBuffer.SetDataSize(_DataSize());
    return fBuffer;
}

VStreamUnderlyingData VPtrStream::GetUnderlyingData() const
{
    return VStreamUnderlyingData{true, fBuffer.GetDataPtr(), _DataSize()};
}

VError VPtrStream::DoPutData(const void* buffer, VSize count)
{
    VSize position = static_cast<VSize>(GetPos());
    VSize size = _DataSize();
    if (position > SIZE_MAX - count)
        return VE_MEMORY_FULL;
    VSize end = position + count;
    if (!fBuffer.Reserve(end))
        return VE_MEMORY_FULL;
    auto* data = static_cast<uint8_t*>(fBuffer.GetDataPtr());
    // The base never leaves the position past the end, but a gap must not
    // expose stale bytes if it ever does.
    if (position > size)
        std::memset(data + size, 0, position - size);
    if (count > 0)
        std::memcpy(data + position, buffer, count);
    _Publish(std::max(size, end));
    return VE_OK;
}

VError VPtrStream::DoGetData(void* buffer, VSize* ioCount)
{
    VSize position = static_cast<VSize>(GetPos());
    VSize size = _DataSize();
    VSize wanted = *ioCount;
    if (position > size) {
        *ioCount = 0;
        return wanted == 0 ? VE_OK : _ThrowError(VE_STREAM_EOF);
    }
    VSize count = std::min(wanted, size - position);
    if (count > 0)
        std::memcpy(buffer, static_cast<const uint8_t*>(fBuffer.GetDataPtr()) + position, count);
    *ioCount = count;
    return count < wanted ? _ThrowError(VE_STREAM_EOF) : VE_OK;
}

int64_t VPtrStream::DoGetSize()
{
    return static_cast<int64_t>(_DataSize());
}

VError VPtrStream::DoSetSize(int64_t size)
{
    if (size < 0)
        return VE_INVALID_PARAMETER;
    VSize newSize = static_cast<VSize>(size);
    VSize oldSize = _DataSize();
    if (fBuffer.GetAllocatedSize() != newSize) {
        if (!fBuffer.SetSize(newSize))
            return VE_MEMORY_FULL;
    }
    // Bytes nothing was written to read as zeros, not as what the allocator
    // left there.
    if (newSize > oldSize)
        std::memset(static_cast<uint8_t*>(fBuffer.GetDataPtr()) + oldSize, 0, newSize - oldSize);
    _Publish(newSize);
    return VE_OK;
}

VError VPtrStream::DoSetPos(int64_t position)
{
    if (static_cast<VSize>(position) <= _DataSize())
        return VE_OK;
    return DoSetSize(position);
}

}  // namespace bkit
