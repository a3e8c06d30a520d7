// VBlobStream.cpp - the storage primitives of the blob stream.
#include "basekit/files/VBlobStream.h"

#include <limits>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/values/VBlob.h"

namespace bkit {

namespace {

// Pushes a failure of the blob, as every stream failure is pushed.
VError Raise(VError err)
{
    return err == VE_OK ? err : _ThrowError(err);
}

// Blob offsets are signed 32-bit: a position beyond them cannot be reached.
bool IsReachable(int64_t position)
{
    return position >= 0 && position <= std::numeric_limits<int32_t>::max();
}

}  // namespace

VBlobStream::VBlobStream(VBlob* blob) : fBlob(blob ? blob : new VBlobWithPtr()), fOwnsBlob(blob == nullptr) {}

VBlobStream::~VBlobStream()
{
    if (fOwnsBlob)
        delete fBlob;
}

VError VBlobStream::DoPutData(const void* buffer, VSize count)
{
    int64_t position = GetPos();
    if (!IsReachable(position))
        return Raise(VE_INVALID_PARAMETER);
    return Raise(fBlob->PutData(buffer, count, static_cast<int32_t>(position)));
}

VError VBlobStream::DoGetData(void* buffer, VSize* ioCount)
{
    int64_t position = GetPos();
    VSize wanted = *ioCount;
    *ioCount = 0;
    if (!IsReachable(position))
        return wanted == 0 ? VE_OK : Raise(VE_STREAM_EOF);
    return Raise(fBlob->GetData(buffer, wanted, static_cast<int32_t>(position), ioCount));
}

int64_t VBlobStream::DoGetSize()
{
    return static_cast<int64_t>(fBlob->GetSize());
}

VError VBlobStream::DoSetSize(int64_t size)
{
    if (size < 0)
        return Raise(VE_INVALID_PARAMETER);
    return Raise(fBlob->SetSize(static_cast<VSize>(size)));
}

VError VBlobStream::DoSetPos(int64_t position)
{
    if (static_cast<VSize>(position) <= fBlob->GetSize())
        return VE_OK;
    return DoSetSize(position);
}

}  // namespace bkit
