// VStreamText.cpp - text through streams: charsets, byte-order marks, lines.
//
// This file implements the text half of VStream: the charset guess, byte-order
// marks, writing text with line-end conversion and the three ways of reading
// text (all of it, a number of characters, a line). UTF-16 in either byte
// order is handled here directly (a copy and a swap); every other charset goes
// through the converters of the text-converter registry, so a stream reads
// and writes any charset the registry converts, the platform default (-2)
// included, so text written through a stream has the bytes the registry gives
// the same charset everywhere else. A stream refuses a charset without a
// converter (VE_STREAM_NO_TEXT_CONVERTER).
#include <algorithm>
#include <cstring>
#include <vector>

#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverterLineEnds.h"
#include "basekit/text/VTextConverters.h"

namespace bkit {

namespace {

constexpr UniChar kCR = 13;
constexpr UniChar kLF = 10;

bool IsUTF16(CharSet charSet)
{
    return charSet == VTC_UTF_16_BIGENDIAN || charSet == VTC_UTF_16_SMALLENDIAN;
}

UniChar SwapUnit(UniChar u)
{
    return static_cast<UniChar>((u >> 8) | (u << 8));
}

// The bytes of a sample that a UTF-8 check can judge: when more data follows,
// a sequence cut by the end of the sample is left out.
VSize UTF8JudgeableLength(const uint8_t* bytes, VSize count, bool moreFollows)
{
    if (!moreFollows)
        return count;
    VSize k = count;
    while (k > 0 && count - k < 3 && (bytes[k - 1] & 0xC0) == 0x80)
        --k;
    if (k > 0 && bytes[k - 1] >= 0xC0)
        return k - 1;
    return count;
}

// Code-unit width of a charset for finding line ends in its bytes.
VSize UnitWidth(CharSet charSet)
{
    switch (charSet) {
        case VTC_UTF_16_BIGENDIAN:
        case VTC_UTF_16_SMALLENDIAN:
            return 2;
        case VTC_UTF_32_BIGENDIAN:
        case VTC_UTF_32_SMALLENDIAN:
        case VTC_UTF_32_RAW_BIGENDIAN:
        case VTC_UTF_32_RAW_SMALLENDIAN:
            return 4;
        default:
            return 1;
    }
}

bool IsBigEndian(CharSet charSet)
{
    return charSet == VTC_UTF_16_BIGENDIAN || charSet == VTC_UTF_32_BIGENDIAN || charSet == VTC_UTF_32_RAW_BIGENDIAN;
}

// Appends to text the characters of the whole characters at the start of bytes
// and returns the bytes consumed. UTF-16 forms consume whole units; UTF-8 waits
// for the rest of a cut sequence.
VSize AppendConverted(const void* bytes, VSize count, CharSet charSet, VString& text)
{
    if (IsUTF16(charSet)) {
        VSize units = count / 2;
        if (units == 0)
            return 0;
        VIndex start = text.GetLength();
        if (!text._ReallocBuffer(start + static_cast<VIndex>(units), true))
            return 0;
        UniChar* out = text.GetCPointerForWrite() + start;
        std::memcpy(out, bytes, units * 2);
        if (charSet == VTC_UTF_16_BIGENDIAN) {
            for (VSize i = 0; i < units; ++i)
                out[i] = SwapUnit(out[i]);
        }
        text.Validate(start + static_cast<VIndex>(units));
        return units * 2;
    }
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
    size_t consumed = 0;
    converter->ConvertString(bytes, static_cast<size_t>(count), &consumed, text);
    converter->Release();
    return consumed;
}

// The units of text with each line end (CR LF, CR or LF) written as the mode
// asks; other modes keep the text as it is.
std::vector<UniChar> UnitsWithLineEnds(const VString& text, ECarriageReturnMode mode)
{
    size_t n = static_cast<size_t>(text.GetLength());
    std::vector<UniChar> units(text.GetCPointer(), text.GetCPointer() + n);
    size_t length = ConvertLineEndUnits<UniChar>(units.data(), n, n, mode, kCR, kLF);
    if (length > n) {
        units.resize(length);
        length = ConvertLineEndUnits<UniChar>(units.data(), n, length, mode, kCR, kLF);
    }
    units.resize(length);
    return units;
}

}  // namespace

bool VStream::_CharSetHasConverter() const
{
    const CharSet charSet = fCharSet;
    if (IsUTF16(charSet) || charSet == VTC_UTF_8)
        return true;
    VTextConverters* registry = VTextConverters::Get();
    VToUnicodeConverter* in = registry->RetainToUnicodeConverter(charSet);
    VFromUnicodeConverter* out = registry->RetainFromUnicodeConverter(charSet);
    bool valid = in->IsValid() && out->IsValid();
    in->Release();
    out->Release();
    return valid;
}

VError VStream::SetCharSet(CharSet charSet)
{
    if (fLastError != VE_OK)
        return fLastError;
    fCharSet = charSet;
    if ((fIsReading || fIsWriting) && !_CharSetHasConverter())
        return ReportError(VE_STREAM_NO_TEXT_CONVERTER);
    return fLastError;
}

VError VStream::WriteBOM()
{
    size_t length = 0;
    const uint8_t* mark = VTextConverters::GetBOMForCharSet(fCharSet, &length);
    for (size_t i = 0; i < length; ++i)
        Put<uint8_t>(mark[i]);
    return fLastError;
}

VError VStream::GuessCharSetFromLeadingBytes(CharSet defaultCharSet, bool detectUTF8, bool* outFoundBOM)
{
    bool foundBOM = false;
    CharSet guess = defaultCharSet;
    {
        // What goes wrong while peeking is nobody's business: the guess falls
        // back to the default.
        StErrorContextInstaller quiet(false, true);
        uint8_t b[4] = {0, 0, 0, 0};
        VSize n = 0;
        VError err = GetData(b, sizeof(b), &n);
        if (err == VE_STREAM_EOF) {
            fLastError = VE_OK;
            err = VE_OK;
        }
        if (err == VE_OK) {
            bool zeroPattern = false;
            if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
                guess = VTC_UTF_8;
                foundBOM = true;
                UngetData(b + 3, n - 3);
            } else if (n == 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) {
                guess = VTC_UTF_32_BIGENDIAN;
                foundBOM = true;
            } else if (n == 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) {
                guess = VTC_UTF_32_SMALLENDIAN;
                foundBOM = true;
            } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
                guess = VTC_UTF_16_BIGENDIAN;
                foundBOM = true;
                UngetData(b + 2, n - 2);
            } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
                guess = VTC_UTF_16_SMALLENDIAN;
                foundBOM = true;
                UngetData(b + 2, n - 2);
            } else {
                if (n == 4 && b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) {
                    guess = VTC_UTF_16_BIGENDIAN;
                    zeroPattern = true;
                } else if (n == 4 && b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) {
                    guess = VTC_UTF_16_SMALLENDIAN;
                    zeroPattern = true;
                } else if ((defaultCharSet == VTC_UTF_16_BIGENDIAN || defaultCharSet == VTC_UTF_16_SMALLENDIAN) &&
                           std::all_of(b, b + 4, [](uint8_t c) { return c >= 1 && c <= 127; })) {
                    guess = VTC_UTF_8;
                }
                UngetData(b, n);
            }
            // Zero bytes are valid UTF-8 too: a zero pattern is a better
            // witness of UTF-16 than the UTF-8 check, which would accept it.
            if (!foundBOM && !zeroPattern && detectUTF8 && fLastError == VE_OK) {
                int64_t left = GetSize() - fPosition;
                VSize sampleSize = static_cast<VSize>(std::clamp<int64_t>(left, 0, 2048));
                std::vector<uint8_t> sample(sampleSize);
                VSize read = 0;
                if (sampleSize > 0 && GetData(sample.data(), sampleSize, &read) == VE_OK) {
                    VSize judged = UTF8JudgeableLength(sample.data(), read, left > static_cast<int64_t>(read));
                    if (VTextConverters::DetectUTF8(sample.data(), static_cast<int>(judged)))
                        guess = VTC_UTF_8;
                }
                if (fLastError == VE_OK || fLastError == VE_STREAM_EOF)
                    UngetData(sample.data(), read);
            }
        }
    }
    if (outFoundBOM)
        *outFoundBOM = foundBOM;
    return SetCharSet(guess);
}

// --- writing text ------------------------------------------------------------------

VError VStream::PutText(const VString& text)
{
    VError err = _CheckWriting();
    if (err != VE_OK || text.IsEmpty())
        return err;

    const CharSet charSet = fCharSet;
    if (IsUTF16(charSet)) {
        std::vector<UniChar> units = UnitsWithLineEnds(text, fCRMode);
        if (charSet == VTC_UTF_16_BIGENDIAN) {
            for (UniChar& u : units)
                u = SwapUnit(u);
        }
        return PutData(units.data(), units.size() * sizeof(UniChar));
    }

    StStringConverter<char> converter(charSet, fCRMode);
    converter.ConvertString(text);
    // Nothing written must not pass for the text written.
    if (!converter.IsOK())
        return ReportError(VE_TEXT_CONVERSION_FAILED);
    return PutData(converter.GetCPointer(), converter.GetSize());
}

VError VStream::PutPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    VError err = PutVPrintf(format, args);
    va_end(args);
    return err;
}

VError VStream::PutVPrintf(const char* format, va_list args)
{
    VStr255 text;
    text.VPrintf(format, args);
    return PutText(text);
}

// --- reading text ------------------------------------------------------------------

VError VStream::GetText(VString& text)
{
    if (fLastError != VE_OK)
        return fLastError;

    StErrorContextInstaller keeping(true, false);
    constexpr VSize kBufferSize = 4096;
    uint8_t buffer[kBufferSize];
    VSize pending = 0;
    for (;;) {
        int64_t left = GetSize() - fPosition;
        if (left <= 0)
            break;
        VSize want = std::min<VSize>(static_cast<VSize>(left), kBufferSize - pending);
        VSize read = 0;
        GetData(buffer + pending, want, &read);
        pending += read;
        VSize consumed = AppendConverted(buffer, pending, fCharSet, text);
        if (consumed > 0) {
            std::memmove(buffer, buffer + consumed, pending - consumed);
            pending -= consumed;
        }
        if (consumed == 0 || fLastError != VE_OK)
            break;
    }
    if (fLastError == VE_OK && pending > 0) {
        auto* error = new VErrorBase(VE_STREAM_TEXT_CONVERSION_FAILURE);
        error->SetString(VString("message"), VString("unterminated unicode conversion."));
        _PushRetainedError(error);
        fLastError = VE_STREAM_TEXT_CONVERSION_FAILURE;
    }
    return fLastError;
}

VError VStream::GetText(VString& text, VIndex count, bool allowMore)
{
    if (count < 1 || fLastError != VE_OK)
        return fLastError;

    StErrorContextInstaller endOfDataExpected(VE_STREAM_EOF);
    VIndex start = text.GetLength();
    if (count > 0x7FFFFFFF - start || !text._ReallocBuffer(start + count, true))
        return ReportError(VE_MEMORY_FULL);

    const CharSet charSet = fCharSet;
    if (IsUTF16(charSet)) {
        UniChar* out = text.GetCPointerForWrite() + start;
        VSize read = 0;
        GetData(out, static_cast<VSize>(count) * 2, &read);
        if (read % 2 != 0)
            UngetData(reinterpret_cast<uint8_t*>(out) + read - 1, 1);
        VSize units = read / 2;
        if (charSet == VTC_UTF_16_BIGENDIAN) {
            for (VSize i = 0; i < units; ++i)
                out[i] = SwapUnit(out[i]);
        }
        text.Validate(start + static_cast<VIndex>(units));
    } else {
        _GetTextCountConverted(text, count, allowMore);
    }
    if (fLastError == VE_STREAM_EOF)
        fLastError = VE_OK;
    return fLastError;
}

VError VStream::_GetTextCountConverted(VString& text, VIndex count, bool allowMore)
{
    constexpr VSize kBufferSize = 32;
    uint8_t buffer[kBufferSize];
    VSize pending = 0;
    VIndex remaining = count;
    while (remaining > 0) {
        VSize want = std::min<VSize>(2 * static_cast<VSize>(remaining) + 10, kBufferSize - pending);
        VSize read = 0;
        if (fLastError == VE_OK)
            GetData(buffer + pending, want, &read);
        else if (fLastError != VE_STREAM_EOF)
            break;
        pending += read;
        if (pending == 0)
            break;

        VIndex before = text.GetLength();
        VSize consumed = AppendConverted(buffer, pending, fCharSet, text);
        VIndex produced = text.GetLength() - before;
        if (consumed == 0) {
            // Bytes that no more data can complete.
            if (read == 0)
                ReportError(VE_STREAM_TEXT_CONVERSION_FAILURE);
            else
                continue;
            break;
        }
        if (produced == remaining || (produced > remaining && allowMore)) {
            UngetData(buffer + consumed, pending - consumed);
            break;
        }
        if (produced > remaining) {
            // Too many characters: convert again one growing slice of bytes at
            // a time and keep the longest that does not exceed the count (a
            // surrogate pair is never cut), giving back the bytes not used.
            text.Truncate(before);
            VString best;
            VSize used = 0;
            for (VSize slice = 1; slice <= consumed; ++slice) {
                VString part;
                VSize partUsed = AppendConverted(buffer, slice, fCharSet, part);
                if (part.GetLength() > remaining)
                    break;
                if (part.GetLength() > best.GetLength()) {
                    best = part;
                    used = partUsed;
                }
                if (part.GetLength() == remaining)
                    break;
            }
            text.AppendString(best);
            UngetData(buffer + used, pending - used);
            break;
        }
        remaining -= produced;
        std::memmove(buffer, buffer + consumed, pending - consumed);
        pending -= consumed;
        if (read == 0 && pending == 0)
            break;
    }
    return fLastError;
}

VError VStream::GetTextLine(VString& line, bool keepLineEnd, const UniChar* terminator)
{
    line.Clear();
    if (fLastError != VE_OK)
        return fLastError;

    StErrorContextInstaller endOfDataExpected(VE_STREAM_EOF);
    const CharSet charSet = fCharSet;
    // Line ends are found in the code units of the charset: a byte 0D inside
    // a UTF-16 or UTF-32 unit is no CR.
    const VSize width = UnitWidth(charSet);
    const bool swap = IsBigEndian(charSet);
    auto unitAt = [&](const uint8_t* p) -> uint32_t {
        if (width == 1)
            return p[0];
        if (width == 2)
            return static_cast<uint32_t>(p[0] | (p[1] << 8));
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    auto streamUnit = [&](UniChar u) -> uint32_t {
        if (width == 1)
            return u & 0xFFu;
        if (width == 2)
            return swap ? SwapUnit(u) : u;
        return swap ? __builtin_bswap32(uint32_t(u)) : uint32_t(u);
    };
    const uint32_t cr = streamUnit(kCR);
    const uint32_t lf = streamUnit(kLF);
    const uint32_t custom = terminator ? streamUnit(*terminator) : 0;

    // The line's bytes are gathered first and converted once, so that a
    // character cut by a chunk boundary is not torn apart.
    std::vector<uint8_t> bytes;
    uint8_t chunk[1024];
    const VSize chunkSize = 256 * width;
    bool anyRead = false;
    bool foundEnd = false;
    for (;;) {
        VSize got = 0;
        VError err = GetData(chunk, chunkSize, &got);
        if (err != VE_OK && err != VE_STREAM_EOF)
            return err;
        if (got > 0)
            anyRead = true;
        VSize units = got / width;
        VSize i = 0;
        for (; i < units && !foundEnd; ++i) {
            uint32_t u = unitAt(chunk + i * width);
            VSize restFrom = 0;
            if (terminator) {
                if (u != custom)
                    continue;
                restFrom = i + 1;
            } else if (u == cr) {
                if (i + 1 == units) {
                    uint8_t next[4];
                    VSize more = 0;
                    GetData(next, width, &more);
                    if (more == width && unitAt(next) != lf)
                        UngetData(next, width);
                    restFrom = units;
                } else {
                    restFrom = unitAt(chunk + (i + 1) * width) == lf ? i + 2 : i + 1;
                }
            } else if (u == lf) {
                restFrom = i + 1;
            } else {
                continue;
            }
            foundEnd = true;
            bytes.insert(bytes.end(), chunk, chunk + i * width);
            if (restFrom * width < got)
                UngetData(chunk + restFrom * width, got - restFrom * width);
        }
        if (foundEnd)
            break;
        bytes.insert(bytes.end(), chunk, chunk + units * width);
        if (got < chunkSize || fLastError != VE_OK)
            break;
    }

    // A character cut short at the end of the data has nothing to complete
    // it: the converter leaves it out.
    if (!bytes.empty())
        AppendConverted(bytes.data(), bytes.size(), charSet, line);
    if (keepLineEnd && anyRead)
        line.AppendUniChar((foundEnd && terminator) ? *terminator : kCR);
    if (anyRead && fLastError == VE_STREAM_EOF)
        fLastError = VE_OK;
    return fLastError;
}

}  // namespace bkit
