// VStringConvert.cpp - strings to and from byte text.
//
// This file implements the conversions of VString that strings need on their
// own: NUL-terminated UTF-8 text in (pure 7-bit text widened unit by unit, no
// decoder), blocks of bytes in the Unicode charsets (UTF-8, UTF-16 and UTF-32
// in either byte order), four-character codes, and text out as UTF-8 or UTF-16
// bytes (ToBlock, StStringConverter<char>). Malformed UTF-8 gives U+FFFD for
// each byte that starts no valid sequence; a lone surrogate written as UTF-8
// gives the bytes of U+FFFD. A character cut short at the end of the bytes is
// left unconverted, as a converter that reads in pieces would.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

constexpr UniChar kReplacement = 0xFFFD;

// Decodes UTF-8 into out (room for n units is enough for n bytes). With final,
// an incomplete sequence at the end gives U+FFFD; without, it is left
// unconsumed. Returns the units written; *consumed gets the bytes used.
VIndex DecodeUTF8(const unsigned char* in, size_t n, bool final, UniChar* out, size_t* consumed)
{
    size_t i = 0;
    VIndex w = 0;
    while (i < n) {
        unsigned char b = in[i];
        if (b < 0x80) {
            out[w++] = b;
            ++i;
            continue;
        }
        size_t need;
        uint32_t cp;
        uint32_t min;
        if (b >= 0xC2 && b <= 0xDF) { need = 1; cp = b & 0x1F; min = 0x80; }
        else if (b >= 0xE0 && b <= 0xEF) { need = 2; cp = b & 0x0F; min = 0x800; }
        else if (b >= 0xF0 && b <= 0xF4) { need = 3; cp = b & 0x07; min = 0x10000; }
        else { out[w++] = kReplacement; ++i; continue; }
        if (i + need >= n) {
            // Not all continuation bytes are there.
            bool prefixValid = true;
            for (size_t k = i + 1; k < n; ++k)
                prefixValid = prefixValid && (in[k] & 0xC0) == 0x80;
            if (!final && prefixValid)
                break;
        }
        size_t k = 1;
        for (; k <= need && i + k < n; ++k) {
            if ((in[i + k] & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (in[i + k] & 0x3F);
        }
        if (k <= need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out[w++] = kReplacement;
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[w++] = static_cast<UniChar>(0xD800 + (cp >> 10));
            out[w++] = static_cast<UniChar>(0xDC00 + (cp & 0x3FF));
        } else {
            out[w++] = static_cast<UniChar>(cp);
        }
        i += need + 1;
    }
    *consumed = i;
    return w;
}

// The UTF-8 bytes of one character starting at units[i]; sets *used to the
// units it took. Returns the byte count (1 to 4) written into out.
int EncodeUTF8(const UniChar* units, VIndex i, VIndex n, unsigned char out[4], VIndex* used)
{
    uint32_t cp = units[i];
    *used = 1;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        *used = 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
        cp = kReplacement;
    }
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

// Writes units in a charset into out (room bytes), whole characters only.
// Returns false for a charset that is not handled here; *written gets the
// bytes produced and *consumed the units converted.
bool EncodeUnits(const UniChar* units, VIndex n, CharSet charset, unsigned char* out, size_t room, size_t* written,
                 VIndex* consumed)
{
    size_t w = 0;
    VIndex i = 0;
    switch (charset) {
        case VTC_UTF_8:
            while (i < n) {
                unsigned char bytes[4];
                VIndex used;
                int count = EncodeUTF8(units, i, n, bytes, &used);
                if (w + static_cast<size_t>(count) > room)
                    break;
                std::memcpy(out + w, bytes, static_cast<size_t>(count));
                w += static_cast<size_t>(count);
                i += used;
            }
            break;
        case VTC_US_ASCII:
            for (; i < n && w < room; ++i)
                out[w++] = units[i] < 0x80 ? static_cast<unsigned char>(units[i]) : '?';
            break;
        case VTC_UTF_16_SMALLENDIAN:
        case VTC_UTF_16_BIGENDIAN:
            for (; i < n && w + 2 <= room; ++i) {
                UniChar u = units[i];
                if (charset == VTC_UTF_16_BIGENDIAN)
                    u = static_cast<UniChar>(__builtin_bswap16(static_cast<uint16_t>(u)));
                std::memcpy(out + w, &u, 2);
                w += 2;
            }
            break;
        default:
            *written = 0;
            *consumed = 0;
            return false;
    }
    *written = w;
    *consumed = i;
    return true;
}

void* AllocateBytes(size_t bytes)
{
    if (VCppMemMgr* manager = VObject::sCppMemMgr)
        return manager->Malloc(bytes, false, MakeOsType("strc"), -1);
    return std::malloc(bytes);
}

void FreeBytes(void* block)
{
    if (VCppMemMgr* manager = VObject::sCppMemMgr)
        manager->Free(block);
    else
        std::free(block);
}

}  // namespace

// --- byte text in ---

VString::VString(const char* utf8) : VString()
{
    AppendCString(utf8);
}

VString::VString(const wchar_t* text) : VString()
{
    if (text == nullptr)
        return;
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    if (n > static_cast<size_t>(INT32_MAX) || !_ReallocBuffer(static_cast<VIndex>(n), false))
        return;
    for (size_t i = 0; i < n; ++i)
        fBuffer[i] = static_cast<UniChar>(static_cast<uint32_t>(text[i]) & 0xFFFF);
    _SetLengthAndTerminate(static_cast<VIndex>(n));
}

VString::VString(const void* bytes, VSize size, CharSet charset) : VString()
{
    FromBlock(bytes, size, charset);
}

VString& VString::AppendCString(const char* utf8)
{
    if (utf8 == nullptr)
        return *this;
    size_t n = std::strlen(utf8);
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(utf8[i]) < 0x80;
    if (ascii) {
        if (n == 0)
            return *this;
        if (static_cast<int64_t>(fLength) + static_cast<int64_t>(n) > INT32_MAX) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return *this;
        }
        VIndex newLength = fLength + static_cast<VIndex>(n);
        if (!_EnsurePrivate(newLength))
            return *this;
        for (size_t i = 0; i < n; ++i)
            fBuffer[fLength + static_cast<VIndex>(i)] = static_cast<UniChar>(utf8[i]);
        _SetLengthAndTerminate(newLength);
        return *this;
    }
    return AppendBlock(utf8, n, VTC_UTF_8);
}

void VString::FromCString(const char* utf8)
{
    if (utf8 == nullptr) {
        Clear();
        return;
    }
    size_t n = std::strlen(utf8);
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(utf8[i]) < 0x80;
    if (!ascii) {
        FromBlock(utf8, n, VTC_UTF_8);
        return;
    }
    if (n > static_cast<size_t>(INT32_MAX)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    VIndex length = static_cast<VIndex>(n);
    if (!_CanWriteInPlace(length) && !_ReallocBuffer(length, false))
        return;
    for (VIndex i = 0; i < length; ++i)
        fBuffer[i] = static_cast<UniChar>(utf8[i]);
    _SetLengthAndTerminate(length);
}

VString& VString::AppendBlock(const void* bytes, VSize size, CharSet charset)
{
    _AppendBlock(bytes, size, charset);
    return *this;
}

VSize VString::_AppendBlock(const void* bytes, VSize size, CharSet charset)
{
    if (bytes == nullptr || size == 0)
        return 0;
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    if (charset == VTC_UTF_16_SMALLENDIAN) {
        VSize units = size / 2;
        if (units > static_cast<VSize>(INT32_MAX)) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return 0;
        }
        // The bytes need not be aligned for UniChar: copy through a private tail.
        VIndex n = static_cast<VIndex>(units);
        if (static_cast<int64_t>(fLength) + n > INT32_MAX) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return 0;
        }
        VString source;
        if (!source._ReallocBuffer(n, false))
            return 0;
        std::memcpy(source.fBuffer, in, static_cast<size_t>(n) * sizeof(UniChar));
        source._SetLengthAndTerminate(n);
        AppendString(source);
        return 2 * static_cast<VSize>(n);
    }

    // Worst case: one unit per byte (UTF-8, ASCII) or per two bytes (UTF-16), two per four (UTF-32).
    VSize maxUnits = size;
    if (static_cast<int64_t>(fLength) + static_cast<int64_t>(std::min<VSize>(maxUnits, INT32_MAX)) > INT32_MAX ||
        maxUnits > static_cast<VSize>(INT32_MAX)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return 0;
    }
    VString decoded;
    if (!decoded._ReallocBuffer(static_cast<VIndex>(maxUnits), false))
        return 0;
    VIndex written = 0;
    VSize consumed = 0;
    switch (charset) {
        case VTC_UTF_8: {
            size_t used = 0;
            written = DecodeUTF8(in, static_cast<size_t>(size), false, decoded.fBuffer, &used);
            consumed = used;
            break;
        }
        case VTC_US_ASCII:
            for (VSize i = 0; i < size; ++i)
                decoded.fBuffer[written++] = in[i] < 0x80 ? in[i] : kReplacement;
            consumed = size;
            break;
        case VTC_UTF_16_BIGENDIAN:
            for (VSize i = 0; i + 1 < size; i += 2)
                decoded.fBuffer[written++] = static_cast<UniChar>((in[i] << 8) | in[i + 1]);
            consumed = size & ~static_cast<VSize>(1);
            break;
        case VTC_UTF_32_BIGENDIAN:
        case VTC_UTF_32_SMALLENDIAN:
        case VTC_UTF_32_RAW_BIGENDIAN:
        case VTC_UTF_32_RAW_SMALLENDIAN: {
            bool big = charset == VTC_UTF_32_BIGENDIAN || charset == VTC_UTF_32_RAW_BIGENDIAN;
            bool raw = charset == VTC_UTF_32_RAW_BIGENDIAN || charset == VTC_UTF_32_RAW_SMALLENDIAN;
            for (VSize i = 0; i + 3 < size; i += 4) {
                uint32_t cp = big ? (uint32_t(in[i]) << 24) | (uint32_t(in[i + 1]) << 16) | (uint32_t(in[i + 2]) << 8) | in[i + 3]
                                  : (uint32_t(in[i + 3]) << 24) | (uint32_t(in[i + 2]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i];
                if (raw) {
                    decoded.fBuffer[written++] = static_cast<UniChar>(cp & 0xFFFF);
                } else if (cp >= 0x10000 && cp <= 0x10FFFF) {
                    cp -= 0x10000;
                    decoded.fBuffer[written++] = static_cast<UniChar>(0xD800 + (cp >> 10));
                    decoded.fBuffer[written++] = static_cast<UniChar>(0xDC00 + (cp & 0x3FF));
                } else {
                    decoded.fBuffer[written++] = cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)
                                                     ? kReplacement
                                                     : static_cast<UniChar>(cp);
                }
            }
            consumed = size & ~static_cast<VSize>(3);
            break;
        }
        default:
            // No converter for this charset here: nothing is produced.
            return 0;
    }
    decoded._SetLengthAndTerminate(written);
    AppendString(decoded);
    return consumed;
}

VSize VString::FromBlock(const void* bytes, VSize size, CharSet charset)
{
    if (charset == VTC_UTF_16_SMALLENDIAN) {
        if (bytes == nullptr || size < 2) {
            Clear();
            return size;
        }
        VString source;
        source.AppendBlock(bytes, size, charset);
        FromString(source);
        return size;
    }
    _Clear();
    SetNull(false);
    SetDirty(true);
    return _AppendBlock(bytes, size, charset);
}

VString& VString::AppendOsType(OsType code)
{
    char bytes[4] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16), static_cast<char>(code >> 8),
                     static_cast<char>(code)};
    return AppendBlock(bytes, 4, VTC_UTF_8);
}

void VString::FromOsType(OsType code)
{
    char bytes[4] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16), static_cast<char>(code >> 8),
                     static_cast<char>(code)};
    FromBlock(bytes, 4, VTC_UTF_8);
}

// --- byte text out ---

VSize VString::ToBlock(void* buffer, VSize size, CharSet charset, bool withTerminator, bool withLengthPrefix) const
{
    if (buffer == nullptr)
        return 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    bool wide = charset == VTC_UTF_16_SMALLENDIAN;
    VSize unit = wide ? 2 : 1;
    VSize reserved = (withTerminator ? unit : 0) + (withLengthPrefix ? unit : 0);
    if (size < reserved)
        return 0;
    unsigned char* text = out + (withLengthPrefix ? unit : 0);
    size_t written = 0;
    VIndex consumed = 0;
    EncodeUnits(fBuffer, fLength, charset, text, static_cast<size_t>(size - reserved), &written, &consumed);
    if (withTerminator)
        std::memset(text + written, 0, static_cast<size_t>(unit));
    if (withLengthPrefix) {
        if (wide) {
            uint16_t units = static_cast<uint16_t>(written / 2 >= 65536 ? 0 : written / 2);
            std::memcpy(out, &units, 2);
        } else {
            out[0] = static_cast<unsigned char>(written >= 256 ? 0 : written);
        }
    }
    return written;
}

// --- scoped converter ---

StStringConverterBase::StStringConverterBase(CharSet charset, ECarriageReturnMode mode)
    : fBuffer(fInlineBuffer), fSize(0), fMode(mode), fOK(false), fCapacity(sizeof(fInlineBuffer)),
      fHeapBuffer(nullptr), fCharSet(charset)
{
    fInlineBuffer[0] = 0;
}

StStringConverterBase::StStringConverterBase(const StStringConverterBase& other)
    : VObject(), fBuffer(fInlineBuffer), fSize(other.fSize), fMode(other.fMode), fOK(other.fOK),
      fCapacity(sizeof(fInlineBuffer)), fHeapBuffer(nullptr), fCharSet(other.fCharSet)
{
    if (other.fHeapBuffer != nullptr) {
        fHeapBuffer = static_cast<char*>(AllocateBytes(static_cast<size_t>(other.fCapacity)));
        if (fHeapBuffer == nullptr) {
            fSize = 0;
            fOK = false;
            fInlineBuffer[0] = 0;
            return;
        }
        fBuffer = fHeapBuffer;
        fCapacity = other.fCapacity;
    }
    std::memcpy(fBuffer, other.fBuffer, static_cast<size_t>(std::min(other.fSize + 2, fCapacity)));
}

StStringConverterBase::StStringConverterBase(StStringConverterBase&& other) noexcept
    : VObject(), fBuffer(fInlineBuffer), fSize(other.fSize), fMode(other.fMode), fOK(other.fOK),
      fCapacity(sizeof(fInlineBuffer)), fHeapBuffer(other.fHeapBuffer), fCharSet(other.fCharSet)
{
    if (fHeapBuffer != nullptr) {
        fBuffer = fHeapBuffer;
        fCapacity = other.fCapacity;
    } else {
        std::memcpy(fInlineBuffer, other.fInlineBuffer, sizeof(fInlineBuffer));
    }
    other.fHeapBuffer = nullptr;
    other.fBuffer = other.fInlineBuffer;
    other.fCapacity = sizeof(other.fInlineBuffer);
    other.fSize = 0;
    other.fOK = false;
    other.fInlineBuffer[0] = 0;
}

StStringConverterBase::~StStringConverterBase()
{
    if (fHeapBuffer != nullptr)
        FreeBytes(fHeapBuffer);
}

bool StStringConverterBase::_ConvertString(const UniChar* units, VIndex n, VSize reserve)
{
    size_t written = 0;
    VIndex consumed = 0;
    fSize = 0;
    fOK = EncodeUnits(units, n, fCharSet, reinterpret_cast<unsigned char*>(fBuffer),
                      static_cast<size_t>(fCapacity - reserve), &written, &consumed);
    if (fOK && consumed < n) {
        // Four bytes per unit always hold the rest.
        VSize need = static_cast<VSize>(written) + 4 * static_cast<VSize>(n - consumed) + reserve;
        char* block = static_cast<char*>(AllocateBytes(static_cast<size_t>(need)));
        if (block == nullptr) {
            _ThrowError(VE_MEMORY_FULL);
            fOK = false;
        } else {
            std::memcpy(block, fBuffer, written);
            size_t more = 0;
            VIndex consumedMore = 0;
            EncodeUnits(units + consumed, n - consumed, fCharSet, reinterpret_cast<unsigned char*>(block) + written,
                        static_cast<size_t>(need - reserve - written), &more, &consumedMore);
            written += more;
            if (fHeapBuffer != nullptr)
                FreeBytes(fHeapBuffer);
            fHeapBuffer = block;
            fBuffer = block;
            fCapacity = need;
        }
    }
    if (!fOK)
        written = std::min<size_t>(written, static_cast<size_t>(fCapacity - reserve));
    fSize = written;
    std::memset(fBuffer + written, 0, static_cast<size_t>(reserve));
    return fOK;
}

const char* StStringConverter<char>::ConvertString(const VString& text)
{
    VSize reserve = 2;  // room for a UTF-16 terminator as well
    ECarriageReturnMode mode = GetMode();
    if (mode == eCRM_CRLF || mode == eCRM_CR || mode == eCRM_LF) {
        const UniChar* in = text.GetCPointer();
        VIndex n = text.GetLength();
        std::u16string converted;
        converted.reserve(static_cast<size_t>(n));
        for (VIndex i = 0; i < n; ++i) {
            UniChar c = in[i];
            bool crlf = c == u'\r' && i + 1 < n && in[i + 1] == u'\n';
            if (c == u'\r' || c == u'\n') {
                if (mode == eCRM_CRLF)
                    converted += u"\r\n";
                else
                    converted += mode == eCRM_CR ? u'\r' : u'\n';
                if (crlf)
                    ++i;
            } else {
                converted += c;
            }
        }
        _ConvertString(converted.data(), static_cast<VIndex>(converted.size()), reserve);
    } else {
        _ConvertString(text.GetCPointer(), text.GetLength(), reserve);
    }
    return GetCPointer();
}

}  // namespace bkit
