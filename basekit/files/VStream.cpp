// VStream.cpp - the state machine of streams: opening, positioning, bytes,
// numbers and values.
//
// This file implements the non-text half of VStream. Every data operation has
// the same shape: a stored error is returned at once; the open mode is checked;
// the subclass primitive runs and its result becomes the sticky error; the
// position advances by the bytes actually moved. The text operations live in
// VStreamText.cpp.
#include "basekit/files/VStream.h"

#include <algorithm>
#include <cstring>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/runtime/VProgressIndicator.h"
#include "basekit/text/VString.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VValue.h"

namespace bkit {

namespace {

// Tag of the temporary block an array is swapped in.
constexpr OsType kMemTag_StreamSwap = MakeOsType("stm ");

// Bytes moved at a time by PutContentInto.
constexpr VSize kCopyBlockSize = 4096;

void ReverseBytes(void* data, size_t width)
{
    auto* p = static_cast<uint8_t*>(data);
    std::reverse(p, p + width);
}

void ReverseElements(void* data, VSize count, size_t width)
{
    auto* p = static_cast<uint8_t*>(data);
    for (VSize i = 0; i < count; ++i, p += width)
        ReverseBytes(p, width);
}

}  // namespace

VStream::VStream() = default;

VStream::~VStream()
{
    // The indicator's session is over with the stream; nothing is open in it.
    _ProgressEnd();
    ReleaseRefCountable(&fProgressIndicator);
}

VStreamUnderlyingData VStream::GetUnderlyingData() const
{
    return VStreamUnderlyingData{};
}

// --- primitives of the base ----------------------------------------------------

VError VStream::DoOpenReading() { return VE_OK; }
VError VStream::DoOpenWriting() { return VE_OK; }
VError VStream::DoCloseReading() { return VE_OK; }
VError VStream::DoCloseWriting(bool) { return VE_OK; }
VError VStream::DoUngetData(const void*, VSize) { return VE_OK; }
VError VStream::DoSetPos(int64_t) { return VE_OK; }
VError VStream::DoFlush() { return VE_OK; }

// --- direct window -------------------------------------------------------------

void VStream::SetDirectWindow(void* data, int64_t size, int64_t capacity)
{
    fWindowRead = static_cast<const uint8_t*>(data);
    fWindowWrite = static_cast<uint8_t*>(data);
    fWindowSize = data ? size : 0;
    fWindowCapacity = data ? capacity : 0;
    _UpdateDirectLimits();
}

void VStream::SetDirectReadWindow(const void* data, int64_t size)
{
    fWindowRead = static_cast<const uint8_t*>(data);
    fWindowWrite = nullptr;
    fWindowSize = data ? size : 0;
    fWindowCapacity = 0;
    _UpdateDirectLimits();
}

void VStream::ClearDirectWindow()
{
    fWindowRead = nullptr;
    fWindowWrite = nullptr;
    fWindowSize = 0;
    fWindowCapacity = 0;
    _UpdateDirectLimits();
}

void VStream::_UpdateDirectLimits()
{
    // Progress must see every transfer, so an indicator turns direct access
    // off.
    const bool direct = fProgressIndicator == nullptr;
    fReadLimit = direct && fIsReading && fWindowRead ? fWindowSize : 0;
    fWriteLimit = direct && fIsWriting && fWindowWrite ? fWindowCapacity : 0;
}

VError VStream::ReportError(VError err)
{
    if (err != VE_OK)
        _ThrowError(err);
    fLastError = err;
    return err;
}

VError VStream::_CheckReading()
{
    if (fLastError != VE_OK)
        return fLastError;
    if (!fIsReading)
        return ReportError(VE_STREAM_NOT_OPENED_FOR_READING);
    return VE_OK;
}

VError VStream::_CheckWriting()
{
    if (fLastError != VE_OK)
        return fLastError;
    if (!fIsWriting)
        return ReportError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    return VE_OK;
}

// --- progress ----------------------------------------------------------------

void VStream::SetProgressIndicator(VProgressIndicator* indicator)
{
    if (indicator == fProgressIndicator)
        return;
    _ProgressEnd();
    RetainRefCountable(indicator);
    ReleaseRefCountable(&fProgressIndicator);
    fProgressIndicator = indicator;
    // The new indicator takes over the open transfer: it gets its own session
    // now, or it would see nothing of it.
    if (fIsReading || fIsWriting)
        _ProgressBegin(fIsReading);
    _UpdateDirectLimits();
}

// An indicator has a session exactly while it is set and the stream is open:
// opening begins it once the open flag is up, closing ends it before the flag
// drops, and a change of indicator hands the session over.
bool VStream::_ProgressSessionOpen() const
{
    return fProgressIndicator && (fIsReading || fIsWriting);
}

void VStream::_ProgressBegin(bool reading)
{
    if (!fProgressIndicator)
        return;
    // A read knows how much there is to read; a write does not.
    int64_t max = reading ? DoGetSize() : -1;
    fProgressIndicator->BeginSession(max > 0 ? max : -1, VString());
}

void VStream::_ProgressEnd()
{
    if (_ProgressSessionOpen())
        fProgressIndicator->EndSession();
}

void VStream::_ProgressReport(VSize count)
{
    if (!_ProgressSessionOpen())
        return;
    if (!fProgressIndicator->Increment(static_cast<int64_t>(count)) && fLastError == VE_OK)
        ReportError(VE_STREAM_USER_ABORTED);
}

// --- state -------------------------------------------------------------------

VError VStream::OpenReading()
{
    if (fIsReading || fIsWriting)
        return _ThrowError(VE_STREAM_ALREADY_OPENED);
    if (fIsWriteOnly)
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_READING);
    if (!_CharSetHasConverter())
        return _ThrowError(VE_STREAM_NO_TEXT_CONVERTER);

    fPosition = 0;
    fLastError = DoOpenReading();
    if (fLastError == VE_OK) {
        fIsReading = true;
        _ProgressBegin(true);
        _UpdateDirectLimits();
    }
    return fLastError;
}

VError VStream::OpenReading(OsType signature)
{
    VError err = OpenReading();
    if (err != VE_OK)
        return err;

    uint32_t found = 0;
    GetLong(found);
    if (fLastError == VE_OK) {
        if (found == signature)
            return VE_OK;
        uint32_t swapped = found;
        ReverseBytes(&swapped, sizeof(swapped));
        if (swapped == signature) {
            // The data are in the other order than the one assumed so far.
            fNeedSwap = !fNeedSwap;
            return VE_OK;
        }
        fLastError = DoSetPos(0);
        if (fLastError == VE_OK)
            fPosition = 0;
    }
    return _ThrowError(VE_STREAM_BAD_SIGNATURE);
}

VError VStream::CloseReading()
{
    if (!fIsReading)
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_READING);
    DoCloseReading();
    _ProgressEnd();
    fIsReading = false;
    _UpdateDirectLimits();
    return fLastError;
}

VError VStream::OpenWriting()
{
    if (fIsReading || fIsWriting)
        return _ThrowError(VE_STREAM_ALREADY_OPENED);
    if (fIsReadOnly)
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    if (!_CharSetHasConverter())
        return ReportError(VE_STREAM_NO_TEXT_CONVERTER);

    fPosition = 0;
    fLastError = DoOpenWriting();
    if (fLastError == VE_OK) {
        fIsWriting = true;
        _ProgressBegin(false);
        _UpdateDirectLimits();
    }
    return fLastError;
}

VError VStream::CloseWriting(bool setSize)
{
    if (!fIsWriting)
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    // With an error stored, what is buffered is not worth writing.
    if (fLastError == VE_OK)
        fLastError = DoFlush();
    DoCloseWriting(setSize);
    _ProgressEnd();
    fIsWriting = false;
    _UpdateDirectLimits();
    return fLastError;
}

VError VStream::SetReadOnly(bool readOnly)
{
    fIsReadOnly = readOnly;
    return VE_OK;
}

VError VStream::SetWriteOnly(bool writeOnly)
{
    fIsWriteOnly = writeOnly;
    return VE_OK;
}

// --- position and size -----------------------------------------------------------

VError VStream::SetPos(int64_t position)
{
    if (fLastError != VE_OK)
        return fLastError;
    if (!fIsReading && !fIsWriting)
        return ReportError(VE_STREAM_NOT_OPENED);
    // A negative position would make the next transfer touch bytes before the
    // data.
    if (position < 0)
        return ReportError(VE_INVALID_PARAMETER);
    fLastError = DoSetPos(position);
    if (fLastError == VE_OK)
        fPosition = position;
    return fLastError;
}

VError VStream::SetPosByOffset(int64_t offset)
{
    if (fLastError != VE_OK)
        return fLastError;
    if (offset < -fPosition)
        return ReportError(VE_INVALID_PARAMETER);
    return SetPos(fPosition + offset);
}

int64_t VStream::GetSize()
{
    return DoGetSize();
}

VError VStream::SetSize(int64_t size)
{
    VError err = _CheckWriting();
    if (err != VE_OK)
        return err;
    if (size < 0)
        return ReportError(VE_INVALID_PARAMETER);
    fLastError = DoSetSize(size);
    if (fLastError == VE_OK && fPosition > size)
        fPosition = size;
    return fLastError;
}

VError VStream::Flush()
{
    if (!fIsWriting)
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    fLastError = DoFlush();
    return fLastError;
}

// --- bytes ---------------------------------------------------------------------

VError VStream::PutData(const void* buffer, VSize count)
{
    if (fLastError == VE_OK && fPosition < fWriteLimit && fPosition <= fWindowSize &&
        count <= static_cast<VSize>(fWriteLimit - fPosition) && count > 0) {
        std::memcpy(fWindowWrite + fPosition, buffer, count);
        fPosition += static_cast<int64_t>(count);
        if (fPosition > fWindowSize)
            fWindowSize = fPosition;
        return VE_OK;
    }
    VError err = _CheckWriting();
    if (err != VE_OK)
        return err;
    fLastError = DoPutData(buffer, count);
    if (fLastError == VE_OK)
        fPosition += static_cast<int64_t>(count);
    _ProgressReport(count);
    return fLastError;
}

VError VStream::GetData(void* buffer, VSize count, VSize* outRead)
{
    if (fLastError == VE_OK && fPosition < fReadLimit && count <= static_cast<VSize>(fReadLimit - fPosition) &&
        count > 0) {
        std::memcpy(buffer, fWindowRead + fPosition, count);
        fPosition += static_cast<int64_t>(count);
        if (outRead)
            *outRead = count;
        return VE_OK;
    }
    if (outRead)
        *outRead = 0;
    VError err = _CheckReading();
    if (err != VE_OK)
        return err;
    VSize read = count;
    fLastError = DoGetData(buffer, &read);
    fPosition += static_cast<int64_t>(read);
    if (outRead)
        *outRead = read;
    _ProgressReport(count);
    return fLastError;
}

VError VStream::GetData(void* buffer, VSize* ioCount)
{
    VSize count = *ioCount;
    return GetData(buffer, count, ioCount);
}

VError VStream::UngetData(const void* buffer, VSize count)
{
    if (count == 0)
        return fLastError;
    if (fLastError != VE_OK && fLastError != VE_STREAM_EOF)
        return fLastError;
    if (!fIsReading)
        return ReportError(VE_STREAM_NOT_OPENED_FOR_READING);
    if (static_cast<VSize>(fPosition) < count)
        return ReportError(VE_STREAM_CANNOT_UNGET_DATA);
    fLastError = DoUngetData(buffer, count);
    fPosition -= static_cast<int64_t>(count);
    return fLastError;
}

VError VStream::PutContentInto(VStream* destination)
{
    VError err = OpenReading();
    if (err != VE_OK)
        return err;

    uint8_t block[kCopyBlockSize];
    int64_t size = DoGetSize();
    VSize remaining = size > 0 ? static_cast<VSize>(size) : 0;
    while (remaining > 0 && err == VE_OK) {
        VSize read = std::min(remaining, kCopyBlockSize);
        fLastError = DoGetData(block, &read);
        fPosition += static_cast<int64_t>(read);
        _ProgressReport(read);
        err = fLastError;
        if (err != VE_OK)
            break;
        // The destination follows the shape of PutData, block by block.
        err = destination->_CheckWriting();
        if (err != VE_OK)
            break;
        destination->fLastError = destination->DoPutData(block, read);
        if (destination->fLastError == VE_OK)
            destination->fPosition += static_cast<int64_t>(read);
        destination->_ProgressReport(read);
        err = destination->fLastError;
        if (read == 0)
            break;
        remaining -= read;
    }

    DoCloseReading();
    _ProgressEnd();
    fIsReading = false;
    _UpdateDirectLimits();
    return err;
}

// --- numbers -------------------------------------------------------------------

VError VStream::_PutNumber(const void* value, size_t width)
{
    if (!fNeedSwap || width == 1)
        return PutData(value, width);
    uint8_t swapped[8];
    std::memcpy(swapped, value, width);
    ReverseBytes(swapped, width);
    return PutData(swapped, width);
}

VError VStream::_GetNumber(void* value, size_t width)
{
    VError err = GetData(value, width);
    if (err == VE_OK && fNeedSwap)
        ReverseBytes(value, width);
    return err;
}

VError VStream::_PutArray(const void* values, VIndex count, size_t width)
{
    VError err = _CheckWriting();
    if (err != VE_OK || count <= 0)
        return err;
    VSize bytes = static_cast<VSize>(count) * width;
    if (!fNeedSwap)
        return PutData(values, bytes);

    // The caller's array is never touched: swap a copy.
    void* copy = VMemory::NewPtr(bytes, kMemTag_StreamSwap);
    if (copy == nullptr)
        return ReportError(VE_MEMORY_FULL);
    std::memcpy(copy, values, bytes);
    ReverseElements(copy, static_cast<VSize>(count), width);
    err = PutData(copy, bytes);
    VMemory::DisposePtr(copy);
    return err;
}

VError VStream::_GetArray(void* values, VIndex* ioCount, size_t width)
{
    VIndex wanted = *ioCount;
    *ioCount = 0;
    if (fLastError != VE_OK)
        return fLastError;
    if (wanted <= 0)
        return _CheckReading();
    VSize read = 0;
    VError err = GetData(values, static_cast<VSize>(wanted) * width, &read);
    VSize elements = read / width;
    *ioCount = static_cast<VIndex>(elements);
    if (fNeedSwap)
        ReverseElements(values, elements, width);
    return err;
}

VError VStream::PutWords(const int16_t* values, VIndex count) { return _PutArray(values, count, sizeof(int16_t)); }
VError VStream::PutLongs(const int32_t* values, VIndex count) { return _PutArray(values, count, sizeof(int32_t)); }
VError VStream::PutLong8s(const int64_t* values, VIndex count) { return _PutArray(values, count, sizeof(int64_t)); }
VError VStream::PutReals(const double* values, VIndex count) { return _PutArray(values, count, sizeof(double)); }

VError VStream::GetWords(int16_t* values, VIndex* ioCount) { return _GetArray(values, ioCount, sizeof(int16_t)); }
VError VStream::GetLongs(int32_t* values, VIndex* ioCount) { return _GetArray(values, ioCount, sizeof(int32_t)); }
VError VStream::GetLong8s(int64_t* values, VIndex* ioCount) { return _GetArray(values, ioCount, sizeof(int64_t)); }
VError VStream::GetReals(double* values, VIndex* ioCount) { return _GetArray(values, ioCount, sizeof(double)); }

VError VStream::PutHexBytes(const char* bytes, VSize count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    VError err = _CheckWriting();
    char text[512];
    while (err == VE_OK && count > 0) {
        VSize n = std::min<VSize>(count, sizeof(text) / 2);
        for (VSize i = 0; i < n; ++i) {
            auto byte = static_cast<uint8_t>(bytes[i]);
            text[2 * i] = kDigits[byte >> 4];
            text[2 * i + 1] = kDigits[byte & 0x0F];
        }
        err = PutData(text, 2 * n);
        bytes += n;
        count -= n;
    }
    return err;
}

// --- tab-separated lines ---------------------------------------------------------

VError VStream::GetTTRLine(VArrayString& outArray)
{
    outArray.Clear();
    VString line;
    VError err = GetTextLine(line, false, nullptr);
    if (err == VE_OK || err == VE_STREAM_EOF)
        line.GetSubStrings(u'\t', outArray, true, false);
    return err;
}

// --- values --------------------------------------------------------------------

VError VStream::PutValue(const VValue& value, bool withKind)
{
    if (withKind)
        PutWord(static_cast<int16_t>(value.GetValueKind()));
    return value.WriteToStream(this, 0);
}

VValue* VStream::GetValue()
{
    uint16_t kind = 0;
    if (GetWord(kind) != VE_OK)
        return nullptr;
    VValue* value = VValue::NewValueFromValueKind(kind);
    if (value != nullptr)
        value->ReadFromStream(this, 0);
    return value;
}

}  // namespace bkit
