// VStream.h - the abstract byte and text stream.
//
// This file defines VStream, the stream through which values, arrays and text
// are written and read, and the error codes of streams. The base class holds
// the whole state machine (open and close for reading or for writing, the
// position, a sticky error, the byte order, the charset and line-end mode of
// text, progress reporting); subclasses supply only the storage primitives, the
// virtual operations whose names begin with Do. The base buffers nothing.
//
// Contracts:
// - Errors are sticky: the first failure is stored and every later data
//   operation returns it at once without moving any byte. Only an open, Flush,
//   a successful UngetData after end of data and the text readers that clear
//   end of data can replace a stored error by success. Every failure is also
//   pushed on the calling task's error stack.
// - Need-swap set means the stream's data are in the opposite byte order to
//   the host; every multi-byte number is swapped on the way in and out. Writers
//   of arrays swap through a temporary copy and never change the caller's data.
// - Text is converted to and from the stream's charset by the converters of
//   the text-converter registry, so the platform default (-2) is the
//   registry's platform default here too; opening a stream whose charset has
//   no converter fails with VE_STREAM_NO_TEXT_CONVERTER.
// - A stream is used by one task at a time; it has no lock. It is not
//   copyable. The stream owns nothing the caller passes to it, except its
//   progress indicator.
// - A subclass that keeps its bytes in one block of memory may show that block
//   to the base as a direct window (SetDirectWindow). Single numbers and byte
//   blocks that fit inside it are then moved inline, without a call to a
//   primitive, whenever the stream is open in the matching direction, has no
//   error stored and has no progress indicator; every other case takes the
//   common path through the primitives. The outcome is the same either way.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "basekit/BKitTypes.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VString;
class VValue;
class VArrayString;
class VProgressIndicator;

// Error codes of streams (component 'bkit'). A negative position is
// VE_INVALID_PARAMETER (3), out of memory VE_MEMORY_FULL (100).
constexpr VError VE_STREAM_EOF = MakeBKitError(200);
constexpr VError VE_STREAM_NOT_OPENED = MakeBKitError(201);
constexpr VError VE_STREAM_ALREADY_OPENED = MakeBKitError(202);
constexpr VError VE_STREAM_NOT_OPENED_FOR_READING = MakeBKitError(203);
constexpr VError VE_STREAM_NOT_OPENED_FOR_WRITING = MakeBKitError(204);
constexpr VError VE_STREAM_USER_ABORTED = MakeBKitError(206);
constexpr VError VE_STREAM_BAD_SIGNATURE = MakeBKitError(207);
constexpr VError VE_STREAM_NO_TEXT_CONVERTER = MakeBKitError(208);
constexpr VError VE_STREAM_TEXT_CONVERSION_FAILURE = MakeBKitError(210);
constexpr VError VE_STREAM_CANNOT_UNGET_DATA = MakeBKitError(211);

// What GetUnderlyingData answers: the bytes of a stream that keeps them in one
// block it can show. The pointer belongs to the stream and is valid until the
// stream's next change.
struct VStreamUnderlyingData {
    bool fHasData = false;
    const void* fData = nullptr;
    VSize fSize = 0;
};

class VStream : public VObject {
public:
    VStream();
    ~VStream() override;

    VStream(const VStream&) = delete;
    VStream& operator=(const VStream&) = delete;

    // The stream's bytes as one block when it keeps them so; the base answers
    // none.
    virtual VStreamUnderlyingData GetUnderlyingData() const;

    // --- State -------------------------------------------------------------

    // Opens for reading at position 0. Already open (202) or write-only (203)
    // is pushed and returned but not stored; so is a charset without converter
    // (208). Otherwise the subclass's open result becomes the sticky error.
    VError OpenReading();

    // OpenReading, then reads a 32-bit signature. The signature as written
    // succeeds; its byte-swapped form sets need-swap and succeeds; anything else
    // rewinds to 0 and returns VE_STREAM_BAD_SIGNATURE (pushed, not stored),
    // leaving the stream open for reading.
    VError OpenReading(OsType signature);

    // Closes reading (203 pushed and returned when not reading). Returns the
    // sticky error, which survives closing.
    VError CloseReading();

    // Opens for writing at position 0. Already open (202) or read-only (204) is
    // pushed and returned but not stored; a charset without converter (208) is
    // stored. Otherwise the subclass's open result becomes the sticky error.
    VError OpenWriting();

    // Flushes (only when no error is stored) and closes writing; setSize asks
    // the subclass to cut its data at the position. 204 pushed and returned
    // when not writing. Returns the sticky error.
    VError CloseWriting(bool setSize = true);

    bool IsReading() const { return fIsReading; }
    bool IsWriting() const { return fIsWriting; }

    // A read-only stream refuses OpenWriting, a write-only one OpenReading.
    VError SetReadOnly(bool readOnly);
    VError SetWriteOnly(bool writeOnly);
    bool IsReadOnly() const { return fIsReadOnly; }
    bool IsWriteOnly() const { return fIsWriteOnly; }

    // The error code of the first failure, 0 when none.
    VError GetLastError() const { return fLastError; }

    // --- Position and size -------------------------------------------------

    // Byte offset of the next read or write.
    int64_t GetPos() const { return fPosition; }

    // Moves the position (reading or writing, else 201). Memory streams that
    // can grow extend their data to a position beyond their end.
    VError SetPos(int64_t position);

    // Moves the position by offset; before the start is VE_INVALID_PARAMETER.
    VError SetPosByOffset(int64_t offset);

    // The subclass's size, without any check of the state.
    int64_t GetSize();

    // Sets the size (writing only); a position beyond it is clamped.
    VError SetSize(int64_t size);

    // Hands buffered bytes to the storage (writing only, else 204 pushed and
    // returned, not stored). Does not look at the stored error: the flush's
    // result replaces it.
    VError Flush();

    // --- Progress ----------------------------------------------------------

    // The indicator that reads and writes report to (retained; null for none).
    // Each opening runs one session of it; a false answer from it stops the
    // transfer with VE_STREAM_USER_ABORTED. Set while the stream is open, the
    // previous indicator's session ends and the new one begins its own at once.
    void SetProgressIndicator(VProgressIndicator* indicator);
    VProgressIndicator* GetProgressIndicator() const { return fProgressIndicator; }

    // --- Byte order --------------------------------------------------------

    // The host is little-endian: big-endian data need swapping.
    void SetBigEndian() { fNeedSwap = true; }
    void SetLittleEndian() { fNeedSwap = false; }
    void SetNeedSwap(bool needSwap) { fNeedSwap = needSwap; }
    bool NeedSwap() const { return fNeedSwap; }

    // True once a file stream has written to its file.
    bool IsWritten() const { return fIsWritten; }

    // --- Bytes -------------------------------------------------------------

    // Writes count bytes at the position and advances it.
    VError PutData(const void* buffer, VSize count);

    // Reads up to count bytes at the position and advances it by the bytes
    // read (in outRead, optional). A short read stores VE_STREAM_EOF and leaves
    // the rest of the buffer as it was.
    VError GetData(void* buffer, VSize count, VSize* outRead = nullptr);

    // The same with the count in and out.
    VError GetData(void* buffer, VSize* ioCount);

    // Puts count bytes just read back in front of the position. Before the
    // start is VE_STREAM_CANNOT_UNGET_DATA. A successful unget clears a stored
    // end of data.
    VError UngetData(const void* buffer, VSize count);

    // Opens this stream for reading, copies its whole content to destination
    // (which must be open for writing) in blocks of 4096 bytes and closes
    // reading. Returns the first error of either stream.
    VError PutContentInto(VStream* destination);

    // --- Numbers -----------------------------------------------------------
    // Each multi-byte number is swapped when need-swap is set; single numbers
    // read are swapped after the read.

    // Any arithmetic type of 1, 2, 4 or 8 bytes.
    template <class T>
    VError Put(T value)
    {
        static_assert(std::is_arithmetic_v<T> && (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8),
                      "streams put numbers of 1, 2, 4 or 8 bytes");
        const int64_t end = fPosition + static_cast<int64_t>(sizeof(T));
        // The write limit is 0 unless writing through a direct window; a
        // position past the window's data would leave a gap to fill, which is
        // the primitive's business.
        if (end <= fWriteLimit && fLastError == VE_OK && fPosition <= fWindowSize) [[likely]] {
            if constexpr (sizeof(T) > 1) {
                if (fNeedSwap)
                    value = _Swapped(value);
            }
            _StoreWindowBytes(fWindowWrite + fPosition, value);
            fPosition = end;
            if (end > fWindowSize)
                fWindowSize = end;
            return VE_OK;
        }
        return _PutNumber(&value, sizeof(T));
    }
    template <class T>
    VError Get(T& value)
    {
        static_assert(std::is_arithmetic_v<T> && (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8),
                      "streams get numbers of 1, 2, 4 or 8 bytes");
        const int64_t end = fPosition + static_cast<int64_t>(sizeof(T));
        // The read limit is 0 unless reading through a direct window.
        if (end <= fReadLimit && fLastError == VE_OK) [[likely]] {
            _LoadWindowBytes(fWindowRead + fPosition, value);
            if constexpr (sizeof(T) > 1) {
                if (fNeedSwap)
                    value = _Swapped(value);
            }
            fPosition = end;
            return VE_OK;
        }
        return _GetNumber(&value, sizeof(T));
    }

    VError PutByte(uint8_t value) { return Put(value); }
    VError GetByte(uint8_t& value) { return Get(value); }
    VError GetByte(int8_t& value) { return Get(value); }
    VError PutWord(int16_t value) { return Put(value); }
    VError GetWord(uint16_t& value) { return Get(value); }
    VError GetWord(int16_t& value) { return Get(value); }
    VError PutLong(int32_t value) { return Put(value); }
    VError GetLong(int32_t& value) { return Get(value); }
    VError GetLong(uint32_t& value) { return Get(value); }
    VError PutLong8(int64_t value) { return Put(value); }
    VError GetLong8(int64_t& value) { return Get(value); }
    VError GetLong8(uint64_t& value) { return Get(value); }
    VError PutReal(double value) { return Put(value); }
    VError GetReal(double& value) { return Get(value); }

    // Arrays: count elements written; the caller's array is never changed.
    VError PutWords(const int16_t* values, VIndex count);
    VError PutLongs(const int32_t* values, VIndex count);
    VError PutLong8s(const int64_t* values, VIndex count);
    VError PutReals(const double* values, VIndex count);

    // Arrays: ioCount elements asked, the whole elements read returned (0 when
    // an error was already stored), swapped in place.
    VError GetWords(int16_t* values, VIndex* ioCount);
    VError GetLongs(int32_t* values, VIndex* ioCount);
    VError GetLong8s(int64_t* values, VIndex* ioCount);
    VError GetReals(double* values, VIndex* ioCount);

    // Writes each byte as two upper-case hexadecimal digits, high nibble first.
    VError PutHexBytes(const char* bytes, VSize count);

    // Writes the value's stream form, preceded by its 16-bit kind when withKind
    // is set. Returns the result of the value's write.
    VError PutValue(const VValue& value, bool withKind = true);

    // Reads a 16-bit kind and a value of that kind. Null on error or for an
    // unknown kind; the caller owns the value.
    VValue* GetValue();

    // --- Text --------------------------------------------------------------

    // Sets the charset of text; converters are made for the open direction
    // (208 stored when the charset has none).
    VError SetCharSet(CharSet charSet);
    CharSet GetCharSet() const { return fCharSet; }

    // Line ends of text written: 2 CR LF, 3 CR, 4 LF (the default); other
    // values leave them as they are.
    void SetCarriageReturnMode(ECarriageReturnMode mode) { fCRMode = mode; }
    ECarriageReturnMode GetCarriageReturnMode() const { return fCRMode; }

    // Guesses the charset from the leading bytes (byte-order marks, zero-byte
    // patterns, optionally a UTF-8 check of up to 2048 bytes) and sets it.
    // Reading only. The position is left after a byte-order mark, else where it
    // was. *outFoundBOM tells whether a mark was found.
    VError GuessCharSetFromLeadingBytes(CharSet defaultCharSet, bool detectUTF8 = false, bool* outFoundBOM = nullptr);

    // Writes the byte-order mark of the charset (nothing for charsets without).
    VError WriteBOM();

    // Writes text in the charset with the line ends of the mode.
    VError PutText(const VString& text);

    // Formats with the toolbox's printf and writes the text.
    VError PutPrintf(const char* format, ...);
    VError PutVPrintf(const char* format, va_list args);

    // Appends all the text from the position to the end. Bytes left that do
    // not make a whole character report VE_STREAM_TEXT_CONVERSION_FAILURE.
    VError GetText(VString& text);

    // Appends count more characters (exactly count unless allowMore; fewer at
    // the end of the data, which is not an error here).
    VError GetText(VString& text, VIndex count, bool allowMore);

    // Reads one line into line. Without a terminator, CR, LF and CR LF end a
    // line; with one, only that character does. keepLineEnd keeps one CR in
    // place of the line end found (a custom terminator as itself). A call at
    // the very end of the data returns VE_STREAM_EOF.
    VError GetTextLine(VString& line, bool keepLineEnd, const UniChar* terminator = nullptr);

    // Empties outArray, reads one line as GetTextLine(line, false) does and,
    // when that succeeded or met the end of the data, appends each of the
    // line's TAB-separated fields to it (the last one too, so an empty line
    // gives one empty string). Returns GetTextLine's result.
    VError GetTTRLine(VArrayString& outArray);

protected:
    // Storage primitives. The base versions of the non-abstract ones do
    // nothing and return 0.
    virtual VError DoOpenReading();
    virtual VError DoOpenWriting();
    virtual VError DoCloseReading();
    virtual VError DoCloseWriting(bool setSize);
    virtual VError DoPutData(const void* buffer, VSize count) = 0;
    // Reads *ioCount bytes at GetPos(); sets *ioCount to the bytes read and
    // returns VE_STREAM_EOF on a short read.
    virtual VError DoGetData(void* buffer, VSize* ioCount) = 0;
    virtual VError DoUngetData(const void* buffer, VSize count);
    virtual int64_t DoGetSize() = 0;
    virtual VError DoSetSize(int64_t size) = 0;
    virtual VError DoSetPos(int64_t position);
    virtual VError DoFlush();

    // For the file stream once it has written.
    void SetWritten(bool written) { fIsWritten = written; }

    // Pushes err on the task's error stack and stores it as the sticky error.
    VError ReportError(VError err);

    // Direct window: the subclass's block, size bytes of data in capacity
    // bytes of room, with offset 0 at data. The base then reads and writes
    // inside it without calling DoGetData or DoPutData; a write beyond size
    // grows the window's size, which the subclass takes back as its data size
    // with GetDirectWindowSize. The subclass sets the window again after every
    // change of its block (a primitive that moved or resized it) and keeps the
    // bytes from size to capacity its own until written. A read-only block is
    // shown with a capacity of 0. Positions stay the base's.
    void SetDirectWindow(void* data, int64_t size, int64_t capacity);
    void SetDirectReadWindow(const void* data, int64_t size);
    void ClearDirectWindow();
    int64_t GetDirectWindowSize() const { return fWindowSize; }

private:
    VError _PutNumber(const void* value, size_t width);
    VError _GetNumber(void* value, size_t width);
    VError _PutArray(const void* values, VIndex count, size_t width);
    VError _GetArray(void* values, VIndex* ioCount, size_t width);
    VError _CheckReading();
    VError _CheckWriting();
    VError _PutConverted(const void* bytes, VSize count);
    bool _CharSetHasConverter() const;
    VError _GetTextLineBytes(VString& line, bool keepLineEnd, const UniChar* terminator);
    VError _GetTextLineUnits(VString& line, bool keepLineEnd, const UniChar* terminator);
    VError _GetTextCountConverted(VString& text, VIndex count, bool allowMore);

    // Progress hooks; they do nothing without an indicator.
    void _ProgressBegin(bool reading);
    void _ProgressEnd();
    void _ProgressReport(VSize count);
    // True while the indicator has a session of this stream.
    bool _ProgressSessionOpen() const;

    // Recomputes the limits of direct access from the window and the state;
    // called whenever either changes.
    void _UpdateDirectLimits();

    // Unaligned access to window bytes typed as 16-bit units. A byte-wise copy
    // would tell the compiler that it may overwrite any object, the stream's
    // position included, which forces a reload of every field after each
    // number moved; 16-bit units cannot alias any field of the stream.
    typedef int16_t _Unit2 __attribute__((aligned(1)));
    typedef int16_t _Unit4 __attribute__((vector_size(4), aligned(1)));
    typedef int16_t _Unit8 __attribute__((vector_size(8), aligned(1)));

    template <class T>
    static void _StoreWindowBytes(uint8_t* at, T value)
    {
        if constexpr (sizeof(T) == 1) {
            std::memcpy(at, &value, 1);
        } else if constexpr (sizeof(T) == 2) {
            _Unit2 unit;
            std::memcpy(&unit, &value, 2);
            *reinterpret_cast<_Unit2*>(at) = unit;
        } else if constexpr (sizeof(T) == 4) {
            _Unit4 unit;
            std::memcpy(&unit, &value, 4);
            *reinterpret_cast<_Unit4*>(at) = unit;
        } else {
            _Unit8 unit;
            std::memcpy(&unit, &value, 8);
            *reinterpret_cast<_Unit8*>(at) = unit;
        }
    }
    template <class T>
    static void _LoadWindowBytes(const uint8_t* at, T& value)
    {
        if constexpr (sizeof(T) == 1) {
            std::memcpy(&value, at, 1);
        } else if constexpr (sizeof(T) == 2) {
            _Unit2 unit = *reinterpret_cast<const _Unit2*>(at);
            std::memcpy(&value, &unit, 2);
        } else if constexpr (sizeof(T) == 4) {
            _Unit4 unit = *reinterpret_cast<const _Unit4*>(at);
            std::memcpy(&value, &unit, 4);
        } else {
            _Unit8 unit = *reinterpret_cast<const _Unit8*>(at);
            std::memcpy(&value, &unit, 8);
        }
    }

    template <class T>
    static T _Swapped(T value)
    {
        if constexpr (sizeof(T) == 2) {
            uint16_t bits;
            std::memcpy(&bits, &value, 2);
            bits = __builtin_bswap16(bits);
            std::memcpy(&value, &bits, 2);
        } else if constexpr (sizeof(T) == 4) {
            uint32_t bits;
            std::memcpy(&bits, &value, 4);
            bits = __builtin_bswap32(bits);
            std::memcpy(&value, &bits, 4);
        } else if constexpr (sizeof(T) == 8) {
            uint64_t bits;
            std::memcpy(&bits, &value, 8);
            bits = __builtin_bswap64(bits);
            std::memcpy(&value, &bits, 8);
        }
        return value;
    }

    // Direct window (see SetDirectWindow) and the limits that gate it: the
    // byte offset a direct read or write may reach, 0 while direct access is
    // off in that direction. Kept first with the position and the error, the
    // fields every inline transfer looks at.
    const uint8_t* fWindowRead = nullptr;
    uint8_t* fWindowWrite = nullptr;
    int64_t fWindowSize = 0;
    int64_t fWindowCapacity = 0;
    int64_t fReadLimit = 0;
    int64_t fWriteLimit = 0;
    int64_t fPosition = 0;
    VError fLastError = VE_OK;
    bool fNeedSwap = false;

    VProgressIndicator* fProgressIndicator = nullptr;
    bool fIsReading = false;
    bool fIsWriting = false;
    bool fIsReadOnly = false;
    bool fIsWriteOnly = false;
    bool fIsWritten = false;
    CharSet fCharSet = VTC_DefaultTextExport;
    ECarriageReturnMode fCRMode = eCRM_LF;
};

}  // namespace bkit
