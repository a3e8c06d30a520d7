// VFileStream.cpp - the stream over one file, with its read and write buffer.

#include "basekit/files/VFileStream.h"

#include <algorithm>
#include <cstring>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileDesc.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"

namespace bkit {

namespace {

constexpr OsType kFileStreamTag = MakeOsType("stmf");
constexpr size_t kMaxBuffer = 2147483647;

}  // namespace

VFileStream::VFileStream(const VFile* file, uint32_t options) : fFile(file), fOptions(options)
{
    if (fFile)
        fFile->Retain();
}

VFileStream::~VFileStream()
{
    ReleaseBuffer();
    _CloseFile();
    if (fFile)
        fFile->Release();
}

void VFileStream::_CloseFile()
{
    delete fDesc;
    fDesc = nullptr;
}

void VFileStream::_AllocateExactly(size_t size)
{
    fBufferPos = 0;
    fBufferLength = 0;
    // A buffer is an optimisation: when memory is short, a smaller one will do.
    for (; size > 0; size /= 2) {
        fBuffer = static_cast<char*>(VMemory::NewPtr(size, kFileStreamTag));
        if (fBuffer) {
            fBufferCapacity = size;
            return;
        }
    }
    fBufferCapacity = 0;
}

void VFileStream::AllocateBuffer(size_t size)
{
    if (fBuffer) {
        fBufferPos = 0;
        fBufferLength = 0;
        return;
    }
    _AllocateExactly(size != 0 && size <= fPreferredBufferSize ? size : fPreferredBufferSize);
}

void VFileStream::ReleaseBuffer()
{
    VMemory::DisposePtr(fBuffer);
    fBuffer = nullptr;
    fBufferCapacity = 0;
    fBufferPos = 0;
    fBufferLength = 0;
}

void VFileStream::SetBufferSize(size_t size)
{
    if (IsWriting())
        Flush();
    ReleaseBuffer();
    fPreferredBufferSize = size;
    if (IsReading()) {
        size_t wanted = fFileSize == 0 ? size
                                       : std::min({static_cast<size_t>(fFileSize), kMaxBuffer, size});
        _AllocateExactly(wanted);
    } else if (IsWriting()) {
        _AllocateExactly(std::min(size, kMaxBuffer));
    }
}

VError VFileStream::DoOpenReading()
{
    if (!fFile)
        return _ThrowError(VE_STREAM_NO_FILE);
    if (!fDesc) {
        // Like the content operations, a stream reads what a link points to.
        VError err = fFile->Open(FA_READ, &fDesc, FO_READ_AHEAD | FO_FOLLOW_LINK);
        if (err != VE_OK)
            return err;
    }
    fFileSize = fDesc->GetSize();
    if (!fBuffer) {
        if (fFileSize >= static_cast<int64_t>(kMaxBuffer) + 1)
            _AllocateExactly(std::min(fPreferredBufferSize, kMaxBuffer));
        else
            AllocateBuffer(static_cast<size_t>(fFileSize));
    }
    fBufferPos = 0;
    fBufferLength = 0;
    return VE_OK;
}

VError VFileStream::DoOpenWriting()
{
    if (!fFile)
        return _ThrowError(VE_STREAM_NO_FILE);
    if (fDesc)
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    VError err = fFile->Open(FA_SHARED, &fDesc, fOptions);
    if (err != VE_OK)
        return err;
    fFileSize = fDesc->GetSize();
    if (!fBuffer)
        _AllocateExactly(std::min(fPreferredBufferSize, kMaxBuffer));
    fBufferPos = 0;
    fBufferLength = 0;
    return VE_OK;
}

VError VFileStream::DoCloseReading()
{
    ReleaseBuffer();
    _CloseFile();
    return VE_OK;
}

VError VFileStream::DoCloseWriting(bool setSize)
{
    ReleaseBuffer();
    VError err = VE_OK;
    if (setSize && fDesc)
        err = fDesc->SetSize(fFileSize);
    _CloseFile();
    return err;
}

VError VFileStream::DoGetData(void* buffer, VSize* ioCount)
{
    char* out = static_cast<char*>(buffer);
    const VSize wanted = *ioCount;
    VSize total = 0;
    int64_t pos = GetPos();
    VError err = VE_OK;

    if (fBufferLength > 0 && pos >= fBufferPos && pos < fBufferPos + static_cast<int64_t>(fBufferLength)) {
        VSize available = static_cast<VSize>(fBufferPos + static_cast<int64_t>(fBufferLength) - pos);
        VSize n = std::min(available, wanted);
        std::memcpy(out, fBuffer + (pos - fBufferPos), n);
        total += n;
        pos += static_cast<int64_t>(n);
    }
    if (total < wanted && fDesc) {
        VSize rest = wanted - total;
        // Never ask for bytes past the end: that is no failure of the file.
        int64_t left = std::max<int64_t>(0, fFileSize - pos);
        if (fBuffer && rest <= fBufferCapacity) {
            unsigned long got = 0;
            int64_t fill = std::min<int64_t>(static_cast<int64_t>(fBufferCapacity), left);
            if (fill > 0)
                err = fDesc->GetData(fBuffer, static_cast<unsigned long>(fill), pos, &got);
            fBufferPos = pos;
            fBufferLength = got;
            VSize n = std::min<VSize>(rest, got);
            std::memcpy(out + total, fBuffer, n);
            total += n;
        } else {
            unsigned long got = 0;
            int64_t direct = std::min<int64_t>(static_cast<int64_t>(rest), left);
            if (direct > 0)
                err = fDesc->GetData(out + total, static_cast<unsigned long>(direct), pos, &got);
            total += got;
        }
    }
    *ioCount = total;
    if (err != VE_OK && err != VE_STREAM_EOF)
        return err;
    return total < wanted ? VE_STREAM_EOF : VE_OK;
}

VError VFileStream::_WriteBuffer()
{
    if (fBufferLength == 0)
        return VE_OK;
    VError err = fDesc ? fDesc->PutData(fBuffer, static_cast<unsigned long>(fBufferLength), fBufferPos)
                       : VE_STREAM_NOT_OPENED;
    SetWritten(true);
    if (err == VE_OK)
        fBufferLength = 0;
    return err;
}

VError VFileStream::DoPutData(const void* buffer, VSize count)
{
    const char* in = static_cast<const char*>(buffer);
    const int64_t pos = GetPos();
    const int64_t end = pos + static_cast<int64_t>(count);
    VSize taken = 0;

    if (count > 0 && fBufferLength > 0 && pos >= fBufferPos &&
        pos <= fBufferPos + static_cast<int64_t>(fBufferLength)) {
        size_t offset = static_cast<size_t>(pos - fBufferPos);
        VSize n = std::min<VSize>(fBufferCapacity - offset, count);
        std::memcpy(fBuffer + offset, in, n);
        fBufferLength = std::max(fBufferLength, offset + static_cast<size_t>(n));
        taken = n;
        if (taken == count) {
            fFileSize = std::max(fFileSize, end);
            return VE_OK;
        }
    }
    if (count > 0) {
        if (VError err = _WriteBuffer())
            return err;
        VSize rest = count - taken;
        int64_t restPos = pos + static_cast<int64_t>(taken);
        if (rest >= fBufferCapacity) {
            VError err = fDesc->PutData(in + taken, static_cast<unsigned long>(rest), restPos);
            SetWritten(true);
            fBufferLength = 0;
            if (err != VE_OK)
                return err;
        } else {
            std::memcpy(fBuffer, in + taken, rest);
            fBufferPos = restPos;
            fBufferLength = static_cast<size_t>(rest);
        }
    }
    fFileSize = std::max(fFileSize, end);
    return VE_OK;
}

VError VFileStream::DoFlush()
{
    VError err = _WriteBuffer();
    if (fDesc) {
        VError flushErr = fDesc->Flush();
        if (err == VE_OK)
            err = flushErr;
    }
    fBufferPos = GetPos();
    fBufferLength = 0;
    return err;
}

VError VFileStream::DoSetPos(int64_t position)
{
    if (IsWriting()) {
        VError flushErr = VE_OK;
        VError sizeErr = VE_OK;
        if (position > fBufferPos + static_cast<int64_t>(fBufferLength))
            flushErr = DoFlush();
        if (position > fFileSize && fDesc) {
            sizeErr = fDesc->SetSize(position);
            if (sizeErr == VE_OK)
                fFileSize = position;
        }
        return flushErr != VE_OK ? flushErr : sizeErr;
    }
    if (position > fFileSize)
        return _ThrowError(VE_STREAM_EOF);
    return VE_OK;
}

int64_t VFileStream::DoGetSize()
{
    return fFileSize;
}

VError VFileStream::DoSetSize(int64_t size)
{
    int64_t bufferEnd = fBufferPos + static_cast<int64_t>(fBufferLength);
    if (size < bufferEnd)
        fBufferLength = size > fBufferPos ? static_cast<size_t>(size - fBufferPos) : 0;
    VError err = fDesc ? fDesc->SetSize(size) : VE_STREAM_NOT_OPENED;
    if (err == VE_OK)
        fFileSize = size;
    return err;
}

}  // namespace bkit
