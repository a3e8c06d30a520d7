// VFileDesc.cpp - an open file and the errors of its operations.

#include "basekit/files/VFileDesc.h"

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VStream.h"

namespace bkit {

VFileDesc::VFileDesc(const VFile* file, int descriptor, FileAccess access)
    : fMode(access), fFile(file), fImpl(descriptor)
{
    if (fFile)
        fFile->Retain();
}

VFileDesc::~VFileDesc()
{
    if (fFile)
        fFile->Release();
}

VError VFileDesc::_Wrap(VError code, VError defaultError, bool withCount, uint32_t count, bool withOffset,
                        int64_t offset, bool withSize) const
{
    if (code == VE_OK)
        return VE_OK;
    bool endOfFile = code == VE_STREAM_EOF;
    if (!VErrorBase::IsNativeError(code) && !endOfFile)
        return code;
    VError mapped = endOfFile ? code : VErrorBase::EncodedNativeErrorToVError(code, defaultError);
    VFileError* error = new VFileError(fFile ? fFile->GetPathRef() : VFilePath(), mapped);
    if (withCount)
        error->SetLong("count", static_cast<int32_t>(count));
    if (withOffset)
        error->SetLong8("offset", offset);
    if (withSize) {
        int64_t size = 0;
        if (fImpl.GetSize(&size) == VE_OK)
            error->SetLong8("size", size);
    }
    return _PushRetainedError(error, endOfFile ? VE_OK : code);
}

int64_t VFileDesc::GetSize() const
{
    int64_t size = 0;
    VError err = fImpl.GetSize(&size);
    if (err != VE_OK) {
        _Wrap(err, VE_FILE_CANNOT_GET_EOF, false, 0, false, 0, false);
        return 0;
    }
    return size;
}

VError VFileDesc::SetSize(int64_t size) const
{
    VError err = fImpl.SetSize(size);
    if (err == VE_OK || !VErrorBase::IsNativeError(err))
        return err;
    VError mapped = VErrorBase::EncodedNativeErrorToVError(err, VE_FILE_CANNOT_SET_EOF);
    VFileError* error = new VFileError(fFile ? fFile->GetPathRef() : VFilePath(), mapped);
    error->SetLong8("size", size);
    return _PushRetainedError(error, err);
}

VError VFileDesc::GetData(void* buffer, unsigned long count, int64_t offset, unsigned long* read) const
{
    size_t done = count;
    VError err = fImpl.GetData(buffer, done, offset, true);
    if (read)
        *read = done;
    return _Wrap(err, VE_FILE_CANNOT_READ, true, static_cast<uint32_t>(count), true, offset, true);
}

VError VFileDesc::GetDataAtPos(void* buffer, unsigned long count, int64_t offset, unsigned long* read) const
{
    int64_t position = 0;
    bool havePosition = fImpl.GetPos(&position) == VE_OK;
    size_t done = count;
    VError err = fImpl.GetData(buffer, done, offset, false);
    if (read)
        *read = done;
    // The end of the file is an answer here, not a failure.
    if (err == VE_STREAM_EOF)
        return err;
    return _Wrap(err, VE_FILE_CANNOT_READ, true, static_cast<uint32_t>(count), havePosition, position + offset,
                 true);
}

VError VFileDesc::PutData(const void* buffer, unsigned long count, int64_t offset, unsigned long* written) const
{
    size_t done = count;
    VError err = fImpl.PutData(buffer, done, offset, true);
    if (written)
        *written = done;
    return _Wrap(err, VE_FILE_CANNOT_WRITE, true, static_cast<uint32_t>(count), true, offset, true);
}

VError VFileDesc::PutDataAtPos(const void* buffer, unsigned long count, int64_t offset,
                               unsigned long* written) const
{
    int64_t position = 0;
    bool havePosition = fImpl.GetPos(&position) == VE_OK;
    size_t done = count;
    VError err = fImpl.PutData(buffer, done, offset, false);
    if (written)
        *written = done;
    return _Wrap(err, VE_FILE_CANNOT_WRITE, true, static_cast<uint32_t>(count), havePosition, position + offset,
                 true);
}

int64_t VFileDesc::GetPos() const
{
    int64_t position = 0;
    VError err = fImpl.GetPos(&position);
    if (err != VE_OK) {
        _Wrap(err, VE_FILE_CANNOT_GET_POS, false, 0, false, 0, false);
        return 0;
    }
    return position;
}

VError VFileDesc::SetPos(int64_t offset, bool fromStart) const
{
    int64_t position = 0;
    bool havePosition = fromStart || fImpl.GetPos(&position) == VE_OK;
    VError err = fImpl.SetPos(offset, fromStart);
    return _Wrap(err, VE_FILE_CANNOT_SET_POS, false, 0, havePosition, fromStart ? offset : position + offset, true);
}

VError VFileDesc::Flush() const
{
    return _Wrap(fImpl.Flush(), VE_FILE_CANNOT_FLUSH, false, 0, false, 0, false);
}

}  // namespace bkit
