// VStreamText.cpp - text through streams: charsets, byte-order marks, lines.
//
// This file implements the text half of VStream: the charset guess, byte-order
// marks, writing text with line-end conversion and the three ways of reading
// text (all of it, a number of characters, a line). Text is converted here for
// UTF-8 (which is also the platform default on this system) and for UTF-16 in
// both byte orders; a stream refuses to open with any other charset
// (VE_STREAM_NO_TEXT_CONVERTER), so the readers and writers below only ever
// meet those three.
#include <algorithm>
#include <cstring>
#include <vector>

#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

// Raised when text cannot be expressed in the stream's charset.
constexpr VError kTextConversionFailed = MakeBKitError(300);

constexpr UniChar kCR = 13;
constexpr UniChar kLF = 10;
constexpr UniChar kTab = 9;

// The charset text is really converted with.
CharSet EffectiveCharSet(CharSet charSet)
{
    return charSet == VTC_DefaultTextExport ? VTC_UTF_8 : charSet;
}

bool IsUTF16(CharSet charSet)
{
    return charSet == VTC_UTF_16_BIGENDIAN || charSet == VTC_UTF_16_SMALLENDIAN;
}

UniChar SwapUnit(UniChar u)
{
    return static_cast<UniChar>((u >> 8) | (u << 8));
}

// Length of the sequence a UTF-8 lead byte starts; 1 for bytes that cannot
// lead, so that they are consumed one by one (and decoded as replacements).
VSize UTF8SequenceLength(uint8_t lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// The longest prefix of bytes that ends on a character boundary: a sequence cut
// by the end of the bytes waits for the bytes that complete it.
VSize UTF8CompletePrefix(const uint8_t* bytes, VSize count)
{
    VSize i = 0;
    while (i < count) {
        VSize n = UTF8SequenceLength(bytes[i]);
        if (i + n > count) {
            // Only a run of continuation bytes can still be completed.
            bool truncated = true;
            for (VSize k = i + 1; k < count; ++k)
                truncated = truncated && (bytes[k] & 0xC0) == 0x80;
            if (truncated)
                return i;
            n = 1;
        }
        i += n;
    }
    return count;
}

// True when the bytes are well-formed UTF-8, a sequence cut by the end of the
// sample excepted (the sample may end inside a character).
bool LooksLikeUTF8(const uint8_t* bytes, VSize count)
{
    VSize i = 0;
    while (i < count) {
        uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        VSize n = UTF8SequenceLength(b);
        if (n == 1)
            return false;
        for (VSize k = 1; k < n; ++k) {
            if (i + k >= count)
                return true;
            uint8_t c = bytes[i + k];
            if ((c & 0xC0) != 0x80)
                return false;
            // Overlong forms, surrogates and values past U+10FFFF.
            if (k == 1 && ((b == 0xE0 && c < 0xA0) || (b == 0xED && c > 0x9F) || (b == 0xF0 && c < 0x90) ||
                           (b == 0xF4 && c > 0x8F)))
                return false;
        }
        i += n;
    }
    return true;
}

// Appends to text the characters of the whole characters at the start of bytes
// and returns the bytes consumed. UTF-16 forms consume whole units; UTF-8 waits
// for the rest of a cut sequence.
VSize AppendConverted(const void* bytes, VSize count, CharSet charSet, VString& text)
{
    charSet = EffectiveCharSet(charSet);
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
    VSize whole = UTF8CompletePrefix(static_cast<const uint8_t*>(bytes), count);
    if (whole > 0)
        text.AppendBlock(bytes, whole, VTC_UTF_8);
    return whole;
}

// The units of text with each line end (CR LF, CR or LF) written as the mode
// asks; other modes keep the text as it is.
std::vector<UniChar> UnitsWithLineEnds(const VString& text, ECarriageReturnMode mode)
{
    const UniChar* p = text.GetCPointer();
    VIndex n = text.GetLength();
    std::vector<UniChar> out;
    out.reserve(static_cast<size_t>(n));
    bool convert = mode == eCRM_CRLF || mode == eCRM_CR || mode == eCRM_LF;
    for (VIndex i = 0; i < n; ++i) {
        UniChar u = p[i];
        if (!convert || (u != kCR && u != kLF)) {
            out.push_back(u);
            continue;
        }
        if (u == kCR && i + 1 < n && p[i + 1] == kLF)
            ++i;
        if (mode == eCRM_CRLF) {
            out.push_back(kCR);
            out.push_back(kLF);
        } else {
            out.push_back(mode == eCRM_CR ? kCR : kLF);
        }
    }
    return out;
}

}  // namespace

bool VStream::_CharSetHasConverter() const
{
    CharSet charSet = EffectiveCharSet(fCharSet);
    return charSet == VTC_UTF_8 || IsUTF16(charSet);
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
    static const uint8_t kUTF16BE[] = {0xFE, 0xFF};
    static const uint8_t kUTF16LE[] = {0xFF, 0xFE};
    static const uint8_t kUTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};
    static const uint8_t kUTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
    static const uint8_t kUTF8[] = {0xEF, 0xBB, 0xBF};

    const uint8_t* mark = nullptr;
    size_t length = 0;
    switch (fCharSet) {
        case VTC_UTF_16_BIGENDIAN: mark = kUTF16BE; length = sizeof(kUTF16BE); break;
        case VTC_UTF_16_SMALLENDIAN: mark = kUTF16LE; length = sizeof(kUTF16LE); break;
        case VTC_UTF_32_BIGENDIAN: mark = kUTF32BE; length = sizeof(kUTF32BE); break;
        case VTC_UTF_32_SMALLENDIAN: mark = kUTF32LE; length = sizeof(kUTF32LE); break;
        case VTC_UTF_8: mark = kUTF8; length = sizeof(kUTF8); break;
        default: break;
    }
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
                    if (LooksLikeUTF8(sample.data(), read))
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

    CharSet charSet = EffectiveCharSet(fCharSet);
    if (IsUTF16(charSet)) {
        std::vector<UniChar> units = UnitsWithLineEnds(text, fCRMode);
        if (charSet == VTC_UTF_16_BIGENDIAN) {
            for (UniChar& u : units)
                u = SwapUnit(u);
        }
        return PutData(units.data(), units.size() * sizeof(UniChar));
    }

    StStringConverter<char> converter(VTC_UTF_8, fCRMode);
    converter.ConvertString(text);
    // Nothing written must not pass for the text written.
    if (!converter.IsOK())
        return ReportError(kTextConversionFailed);
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

    CharSet charSet = EffectiveCharSet(fCharSet);
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
            // Too many characters: take them again one character at a time
            // until the count is reached, and give back the bytes not used. A
            // surrogate pair is never cut.
            text.Truncate(before);
            VSize used = 0;
            VIndex taken = 0;
            while (used < consumed) {
                VSize next = used + UTF8SequenceLength(buffer[used]);
                if (next > consumed)
                    next = consumed;
                VString one;
                AppendConverted(buffer + used, next - used, fCharSet, one);
                if (taken + one.GetLength() > remaining)
                    break;
                text.AppendString(one);
                taken += one.GetLength();
                used = next;
                if (taken == remaining)
                    break;
            }
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
    CharSet charSet = EffectiveCharSet(fCharSet);
    const VSize width = IsUTF16(charSet) ? 2 : 1;
    const bool swap = charSet == VTC_UTF_16_BIGENDIAN;
    auto unitAt = [&](const uint8_t* p) -> UniChar {
        return width == 1 ? p[0] : static_cast<UniChar>(p[0] | (p[1] << 8));
    };
    auto streamUnit = [&](UniChar u) -> UniChar {
        if (width == 1)
            return static_cast<UniChar>(u & 0xFF);
        return swap ? SwapUnit(u) : u;
    };
    const UniChar cr = streamUnit(kCR);
    const UniChar lf = streamUnit(kLF);
    const UniChar custom = terminator ? streamUnit(*terminator) : 0;

    // The line's bytes are gathered first and converted once, so that a
    // character cut by a chunk boundary is not torn apart.
    std::vector<uint8_t> bytes;
    uint8_t chunk[512];
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
            UniChar u = unitAt(chunk + i * width);
            VSize restFrom = 0;
            if (terminator) {
                if (u != custom)
                    continue;
                restFrom = i + 1;
            } else if (u == cr) {
                if (i + 1 == units) {
                    uint8_t next[2];
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

    // A line is all there is to convert: a cut UTF-8 sequence at its end is
    // decoded as it is rather than dropped.
    if (!bytes.empty()) {
        if (width == 1)
            line.AppendBlock(bytes.data(), bytes.size(), VTC_UTF_8);
        else
            AppendConverted(bytes.data(), bytes.size(), charSet, line);
    }
    if (keepLineEnd && anyRead)
        line.AppendUniChar((foundEnd && terminator) ? *terminator : kCR);
    if (anyRead && fLastError == VE_STREAM_EOF)
        fLastError = VE_OK;
    return fLastError;
}

}  // namespace bkit
