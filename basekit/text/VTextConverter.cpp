// VTextConverter.cpp - the converter interfaces and the Unicode-form converters.
//
// The UTF-8 paths copy runs of 7-bit text eight bytes at a time, which is
// where most text spends its time; everything else goes one character at a
// time. The UTF-16 forms are block copies (plus a byte swap).
#include "basekit/text/VTextConverter.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

inline UniChar Swap16(UniChar u) { return static_cast<UniChar>(__builtin_bswap16(static_cast<uint16_t>(u))); }

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

inline uint32_t Combine(uint32_t high, uint32_t low) { return (high << 10) + low - 0x35FDC00; }

inline uint32_t Load32(const uint8_t* p, bool bigEndian)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return bigEndian ? __builtin_bswap32(v) : v;
}

inline void Store32(uint8_t* p, uint32_t v, bool bigEndian)
{
    if (bigEndian)
        v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

void PushConversionFailure(const char* message)
{
    VString text(message);
    _ThrowError(VE_TEXT_CONVERSION_FAILED, &text);
}

void SwapUnits(UniChar* units, size_t n)
{
    // Plain loop: the compiler turns it into vector shuffles.
    for (size_t i = 0; i < n; ++i)
        units[i] = Swap16(units[i]);
}

}  // namespace

// --- VToUnicodeConverter ---

bool VToUnicodeConverter::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                        VString& target)
{
    if (bytesConsumed)
        *bytesConsumed = 0;
    if (source == nullptr || sourceBytes == 0)
        return true;
    VIndex oldLength = target.GetLength();
    if (sourceBytes > static_cast<size_t>(INT32_MAX) - 1 - static_cast<size_t>(oldLength)) {
        PushConversionFailure("conversion failed (EnsureSize failed).");
        return false;
    }
    size_t room = sourceBytes;
    if (!target._ReallocBuffer(oldLength + static_cast<VIndex>(room), true)) {
        PushConversionFailure("conversion failed (EnsureSize failed).");
        return false;
    }
    const uint8_t* in = static_cast<const uint8_t*>(source);
    size_t consumed = 0;
    size_t produced = 0;
    bool ok = true;
    while (consumed < sourceBytes) {
        size_t roundBytes = 0;
        int roundUnits = 0;
        size_t left = room - produced;
        int roomUnits = static_cast<int>(std::min<size_t>(left, INT32_MAX));
        Convert(in + consumed, sourceBytes - consumed, &roundBytes,
                target.GetCPointerForWrite() + oldLength + produced, roomUnits, &roundUnits);
        consumed += roundBytes;
        produced += static_cast<size_t>(roundUnits);
        if (roundBytes == 0 || roundUnits == 0 || consumed >= sourceBytes)
            break;
        size_t bytesLeft = sourceBytes - consumed;
        if (room - produced < bytesLeft) {
            size_t grown = produced + bytesLeft + 100;
            // The units written so far count as text only once the length says so.
            target.Validate(oldLength + static_cast<VIndex>(produced));
            if (grown > static_cast<size_t>(INT32_MAX) - 1 - static_cast<size_t>(oldLength) ||
                !target._ReallocBuffer(oldLength + static_cast<VIndex>(grown), true)) {
                PushConversionFailure("conversion failed (EnsureSize failed).");
                ok = false;
                break;
            }
            room = grown;
        }
    }
    target.Validate(oldLength + static_cast<VIndex>(produced));
    if (bytesConsumed)
        *bytesConsumed = consumed;
    return ok;
}

// --- VFromUnicodeConverter ---

namespace {

// Room for the rest of a text: the converter's bytes per unit for each unit
// left, plus slack that grows when a round could not write a single character
// (a stateful encoding may need more than that for one character).
size_t RoomFor(int charSize, int unitsLeft, size_t slack)
{
    return static_cast<size_t>(charSize) * static_cast<size_t>(unitsLeft + 2) + slack;
}

// After a round that wrote nothing although room was given: true when the
// units left cannot be converted at all (a high surrogate at the very end,
// whose low half never comes), so that the conversion ends there.
bool OnlyATrailingHighSurrogateLeft(const UniChar* source, int done, int units)
{
    return units - done == 1 && IsHighSurrogate(source[done]);
}

}  // namespace

bool VFromUnicodeConverter::ConvertRealloc(const UniChar* source, int units, void*& block, size_t& usedBytes,
                                           size_t reserveBytes)
{
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    int done = 0;
    size_t slack = 0;
    for (;;) {
        size_t worst = RoomFor(GetCharSize(), units - done, slack) + usedBytes;
        void* grown = block == nullptr ? (manager ? manager->Malloc(worst + reserveBytes, false, kMemTag_Buffer)
                                                  : std::malloc(worst + reserveBytes))
                                       : (manager ? manager->Realloc(block, worst + reserveBytes)
                                                  : std::realloc(block, worst + reserveBytes));
        if (grown == nullptr) {
            PushConversionFailure("mem failure");
            return false;
        }
        block = grown;
        bool progressed = false;
        while (done < units) {
            int roundUnits = 0;
            size_t roundBytes = 0;
            bool ok = Convert(source + done, units - done, &roundUnits, static_cast<char*>(block) + usedBytes,
                              worst - usedBytes, &roundBytes);
            done += roundUnits;
            usedBytes += roundBytes;
            if (!ok)
                return false;
            if (roundBytes == 0 && roundUnits == 0)
                break;
            progressed = true;
        }
        if (done >= units || OnlyATrailingHighSurrogateLeft(source, done, units))
            return true;
        if (!progressed) {
            // Growing for ever would not help a converter that cannot move on.
            if (slack > 0)
                return false;
            slack = 16 + 8 * static_cast<size_t>(GetCharSize());
        }
    }
}

bool VFromUnicodeConverter::ConvertToBuffer(const UniChar* source, int units, Buffer& buffer, size_t reserveBytes)
{
    size_t used = buffer.GetDataSize();
    int done = 0;
    size_t slack = 0;
    for (;;) {
        size_t size = used + RoomFor(GetCharSize(), units - done, slack) + reserveBytes;
        if (!buffer.SetSize(size)) {
            PushConversionFailure("mem failure");
            return false;
        }
        size_t room = size - reserveBytes;
        bool progressed = false;
        bool ok = true;
        while (done < units) {
            int roundUnits = 0;
            size_t roundBytes = 0;
            ok = Convert(source + done, units - done, &roundUnits, static_cast<char*>(buffer.GetDataPtr()) + used,
                         room - used, &roundBytes);
            done += roundUnits;
            used += roundBytes;
            if (!ok || (roundBytes == 0 && roundUnits == 0))
                break;
            progressed = true;
        }
        bool finished = !ok || done >= units || OnlyATrailingHighSurrogateLeft(source, done, units);
        if (!finished && !progressed) {
            if (slack > 0)
                ok = false;
            finished = slack > 0;
            slack = 16 + 8 * static_cast<size_t>(GetCharSize());
        }
        if (finished) {
            buffer.SetDataSize(used + reserveBytes);
            return ok;
        }
    }
}

// --- native UTF-16 ---

bool VToUnicodeConverter_Null::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                             VString& target)
{
    target.AppendBlock(source, sourceBytes, VTC_UTF_16_SMALLENDIAN);
    if (bytesConsumed)
        *bytesConsumed = sourceBytes;
    return true;
}

bool VToUnicodeConverter_Null::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                       UniChar* target, int targetUnits, int* unitsProduced)
{
    size_t bytes = std::min(sourceBytes, 2 * static_cast<size_t>(std::max(targetUnits, 0))) & ~size_t(1);
    if (bytes > 0)
        std::memmove(target, source, bytes);
    *bytesConsumed = bytes;
    *unitsProduced = static_cast<int>(bytes / 2);
    return true;
}

bool VFromUnicodeConverter_Null::Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target,
                                         size_t targetBytes, size_t* bytesProduced)
{
    size_t bytes = std::min(2 * static_cast<size_t>(std::max(sourceUnits, 0)), targetBytes) & ~size_t(1);
    if (bytes > 0)
        std::memmove(target, source, bytes);
    if (unitsConsumed)
        *unitsConsumed = static_cast<int>(bytes / 2);
    if (bytesProduced)
        *bytesProduced = bytes;
    return true;
}

// --- swapped UTF-16 ---

bool VToUnicodeConverter_Swap::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                             VString& target)
{
    VIndex before = target.GetLength();
    target.AppendBlock(source, sourceBytes, VTC_UTF_16_SMALLENDIAN);
    VIndex after = target.GetLength();
    SwapUnits(target.GetCPointerForWrite() + before, static_cast<size_t>(after - before));
    if (bytesConsumed)
        *bytesConsumed = sourceBytes;
    return true;
}

bool VToUnicodeConverter_Swap::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                       UniChar* target, int targetUnits, int* unitsProduced)
{
    size_t bytes = std::min(sourceBytes, 2 * static_cast<size_t>(std::max(targetUnits, 0))) & ~size_t(1);
    if (bytes > 0)
        std::memmove(target, source, bytes);
    SwapUnits(target, bytes / 2);
    *bytesConsumed = bytes;
    *unitsProduced = static_cast<int>(bytes / 2);
    return true;
}

bool VFromUnicodeConverter_Swap::Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target,
                                         size_t targetBytes, size_t* bytesProduced)
{
    size_t bytes = std::min(2 * static_cast<size_t>(std::max(sourceUnits, 0)), targetBytes) & ~size_t(1);
    uint8_t* out = static_cast<uint8_t*>(target);
    for (size_t i = 0; i < bytes / 2; ++i) {
        UniChar u = Swap16(source[i]);
        std::memcpy(out + 2 * i, &u, 2);
    }
    if (unitsConsumed)
        *unitsConsumed = static_cast<int>(bytes / 2);
    if (bytesProduced)
        *bytesProduced = bytes;
    return true;
}

// --- UTF-32 ---

bool VToUnicodeConverter_UTF32::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                        UniChar* target, int targetUnits, int* unitsProduced)
{
    const uint8_t* in = static_cast<const uint8_t*>(source);
    size_t i = 0;
    int w = 0;
    bool ok = true;
    while (i + 4 <= sourceBytes) {
        if (w >= targetUnits) {
            ok = false;
            break;
        }
        uint32_t v = Load32(in + i, fSwap != 0);
        if (v < 0x10000) {
            if (v >= 0xD800 && v <= 0xDFFF) {
                ok = false;
                break;
            }
            target[w++] = static_cast<UniChar>(v);
        } else if (v < 0x110000) {
            if (w + 2 > targetUnits) {
                ok = false;
                break;
            }
            target[w++] = static_cast<UniChar>(((v + 0x3FF0000) >> 10) - 0x2800);
            target[w++] = static_cast<UniChar>((v & 0x3FF) | 0xDC00);
        } else {
            ok = false;  // skipped
        }
        i += 4;
    }
    *bytesConsumed = i;
    *unitsProduced = w;
    return ok;
}

bool VFromUnicodeConverter_UTF32::Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target,
                                          size_t targetBytes, size_t* bytesProduced)
{
    uint8_t* out = static_cast<uint8_t*>(target);
    int i = 0;
    size_t w = 0;
    bool ok = true;
    while (i < sourceUnits) {
        if (w + 4 > targetBytes) {
            ok = false;
            break;
        }
        uint32_t u = source[i];
        int used = 1;
        if (IsHighSurrogate(u)) {
            if (i + 1 >= sourceUnits || !IsLowSurrogate(source[i + 1])) {
                ok = false;
                break;
            }
            u = Combine(u, source[i + 1]);
            used = 2;
        } else if (IsLowSurrogate(u)) {
            ok = false;
            break;
        }
        Store32(out + w, u, fSwap != 0);
        w += 4;
        i += used;
    }
    if (unitsConsumed)
        *unitsConsumed = i;
    if (bytesProduced)
        *bytesProduced = w;
    return ok;
}

// --- raw UTF-32 ---

bool VToUnicodeConverter_UTF32_Raw::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                                  VString& target)
{
    if (bytesConsumed)
        *bytesConsumed = 0;
    size_t units = sourceBytes / 4;
    VIndex oldLength = target.GetLength();
    if (units > static_cast<size_t>(INT32_MAX - oldLength) ||
        !target._ReallocBuffer(oldLength + static_cast<VIndex>(units), true))
        return false;
    const uint8_t* in = static_cast<const uint8_t*>(source);
    UniChar* out = target.GetCPointerForWrite() + oldLength;
    for (size_t i = 0; i < units; ++i)
        out[i] = static_cast<UniChar>(Load32(in + 4 * i, fSwap != 0) & 0xFFFF);
    target.Validate(oldLength + static_cast<VIndex>(units));
    if (bytesConsumed)
        *bytesConsumed = units * 4;
    return true;
}

bool VToUnicodeConverter_UTF32_Raw::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                            UniChar* target, int targetUnits, int* unitsProduced)
{
    size_t bytes = std::min(sourceBytes, 4 * static_cast<size_t>(std::max(targetUnits, 0))) & ~size_t(3);
    const uint8_t* in = static_cast<const uint8_t*>(source);
    // From the last group to the first, so that source and target may overlap.
    for (size_t k = bytes / 4; k-- > 0;)
        target[k] = static_cast<UniChar>(Load32(in + 4 * k, fSwap != 0) & 0xFFFF);
    *bytesConsumed = bytes;
    *unitsProduced = static_cast<int>(bytes / 4);
    return true;
}

bool VFromUnicodeConverter_UTF32_Raw::Convert(const UniChar* source, int sourceUnits, int* unitsConsumed,
                                              void* target, size_t targetBytes, size_t* bytesProduced)
{
    size_t bytes = std::min(4 * static_cast<size_t>(std::max(sourceUnits, 0)), targetBytes) & ~size_t(3);
    uint8_t* out = static_cast<uint8_t*>(target);
    for (size_t k = bytes / 4; k-- > 0;)
        Store32(out + 4 * k, source[k], fSwap != 0);
    if (unitsConsumed)
        *unitsConsumed = static_cast<int>(bytes / 4);
    if (bytesProduced)
        *bytesProduced = bytes;
    return true;
}

// --- UTF-8 ---

bool VToUnicodeConverter_UTF8::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                       UniChar* target, int targetUnits, int* unitsProduced)
{
    static constexpr uint32_t kOffsets[6] = {0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080, 0x82082080};
    static constexpr uint32_t kMinimum[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    const uint8_t* in = static_cast<const uint8_t*>(source);
    const size_t n = sourceBytes;
    const size_t room = static_cast<size_t>(std::max(targetUnits, 0));
    size_t i = 0;
    size_t w = 0;
    bool ok = true;
    while (i < n && w < room) {
        uint8_t b = in[i];
        if (b < 0x80) {
            // Runs of 7-bit text, eight bytes at a time.
            uint64_t chunk;
            if (i + 8 <= n && w + 8 <= room && (std::memcpy(&chunk, in + i, 8), (chunk & 0x8080808080808080ULL) == 0)) {
                do {
                    for (int k = 0; k < 8; ++k)
                        target[w + k] = static_cast<UniChar>((chunk >> (8 * k)) & 0xFF);
                    i += 8;
                    w += 8;
                } while (i + 8 <= n && w + 8 <= room &&
                         (std::memcpy(&chunk, in + i, 8), (chunk & 0x8080808080808080ULL) == 0));
                continue;
            }
            target[w++] = b;
            ++i;
            continue;
        }
        // Well-formed sequences of two to four bytes, the bulk of non-ASCII
        // text, without the general checks below.
        if (b >= 0xC2 && b < 0xE0) {
            if (i + 1 < n) {
                uint8_t c1 = in[i + 1];
                if ((c1 & 0xC0) == 0x80) {
                    target[w++] = static_cast<UniChar>(((b & 0x1F) << 6) | (c1 & 0x3F));
                    i += 2;
                    continue;
                }
            }
        } else if (b >= 0xE0 && b < 0xF0) {
            if (i + 2 < n) {
                uint8_t c1 = in[i + 1], c2 = in[i + 2];
                uint32_t v = ((b & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
                if ((c1 & 0xC0) == 0x80 && (c2 & 0xC0) == 0x80 && v >= 0x800) {
                    target[w++] = static_cast<UniChar>(v);
                    i += 3;
                    continue;
                }
            }
        } else if (b >= 0xF0 && b < 0xF4 + 1 && i + 3 < n && w + 2 <= room) {
            uint8_t c1 = in[i + 1], c2 = in[i + 2], c3 = in[i + 3];
            uint32_t v = ((b & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((c2 & 0x3Fu) << 6) | (c3 & 0x3Fu);
            if ((c1 & 0xC0) == 0x80 && (c2 & 0xC0) == 0x80 && (c3 & 0xC0) == 0x80 && v >= 0x10000 && v < 0x110000) {
                target[w++] = static_cast<UniChar>(((v + 0x3FF0000) >> 10) - 0x2800);
                target[w++] = static_cast<UniChar>((v & 0x3FF) | 0xDC00);
                i += 4;
                continue;
            }
        }
        size_t extra = b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
        // A lead byte whose following bytes are no continuation bytes, or that
        // spells a value in more bytes than it needs (an overlong form, which
        // could smuggle a "/" or a NUL past a check), stands for itself, as a
        // stray continuation byte does.
        size_t available = std::min(extra, n - i - 1);
        bool wellFormed = true;
        for (size_t k = 1; k <= available && wellFormed; ++k)
            wellFormed = (in[i + k] & 0xC0) == 0x80;
        if (wellFormed && available < extra)
            break;  // cut short: left for the next call
        uint32_t value = 0;
        if (wellFormed) {
            for (size_t k = 0; k <= extra; ++k)
                value = (value << 6) + in[i + k];
            value -= kOffsets[extra];
            wellFormed = value >= kMinimum[extra];
        }
        if (!wellFormed) {
            value = b;
            extra = 0;
        }
        if (value < 0x10000) {
            target[w++] = static_cast<UniChar>(value);
        } else if (value < 0x110000) {
            if (w + 2 > room)
                break;
            target[w++] = static_cast<UniChar>(((value + 0x3FF0000) >> 10) - 0x2800);
            target[w++] = static_cast<UniChar>((value & 0x3FF) | 0xDC00);
        } else {
            target[w++] = u'?';
            ok = false;
        }
        i += extra + 1;
    }
    *bytesConsumed = i;
    *unitsProduced = static_cast<int>(w);
    return ok;
}

namespace {

// Bytes needed for a value (up to six, for the wide-text form).
inline int UTF8Length(uint32_t v)
{
    return v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : v < 0x200000 ? 4 : v < 0x4000000 ? 5 : 6;
}

inline void PutUTF8(uint8_t* out, uint32_t v, int length)
{
    static constexpr uint8_t kMarks[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (int k = length - 1; k > 0; --k) {
        out[k] = static_cast<uint8_t>(0x80 | (v & 0x3F));
        v >>= 6;
    }
    out[0] = static_cast<uint8_t>(kMarks[length] | v);
}

}  // namespace

bool VFromUnicodeConverter_UTF8::Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target,
                                         size_t targetBytes, size_t* bytesProduced)
{
    uint8_t* out = static_cast<uint8_t*>(target);
    const int n = std::max(sourceUnits, 0);
    const bool counting = out == nullptr;
    const size_t room = counting ? SIZE_MAX : targetBytes;
    int i = 0;
    size_t w = 0;
    while (i < n) {
        if (!counting) {
            // Runs of 7-bit text, eight units at a time.
            while (i + 8 <= n && w + 8 <= room) {
                uint64_t a, b;
                std::memcpy(&a, source + i, 8);
                std::memcpy(&b, source + i + 4, 8);
                if ((a | b) & 0xFF80FF80FF80FF80ULL)
                    break;
                for (int k = 0; k < 8; ++k)
                    out[w + k] = static_cast<uint8_t>(source[i + k]);
                i += 8;
                w += 8;
            }
            while (i < n && w < room && source[i] < 0x80)
                out[w++] = static_cast<uint8_t>(source[i++]);
            if (i >= n || w >= room)
                break;
            // Two- and three-byte characters written straight away.
            uint32_t u = source[i];
            if (u < 0x800) {
                if (w + 2 > room)
                    break;
                out[w] = static_cast<uint8_t>(0xC0 | (u >> 6));
                out[w + 1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
                w += 2;
                ++i;
                continue;
            }
            if (u < 0xD800 || u > 0xDFFF) {
                if (w + 3 > room)
                    break;
                out[w] = static_cast<uint8_t>(0xE0 | (u >> 12));
                out[w + 1] = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
                out[w + 2] = static_cast<uint8_t>(0x80 | (u & 0x3F));
                w += 3;
                ++i;
                continue;
            }
            if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(source[i + 1])) {
                if (w + 4 > room)
                    break;
                uint32_t v = Combine(u, source[i + 1]);
                out[w] = static_cast<uint8_t>(0xF0 | (v >> 18));
                out[w + 1] = static_cast<uint8_t>(0x80 | ((v >> 12) & 0x3F));
                out[w + 2] = static_cast<uint8_t>(0x80 | ((v >> 6) & 0x3F));
                out[w + 3] = static_cast<uint8_t>(0x80 | (v & 0x3F));
                w += 4;
                i += 2;
                continue;
            }
        }
        uint32_t v = source[i];
        int used = 1;
        if (IsHighSurrogate(v)) {
            if (i + 1 >= n)
                break;  // its low half may come with the next call
            // A high surrogate not followed by a low one is written alone, as a
            // lone low surrogate is, rather than swallowing the next character.
            if (IsLowSurrogate(source[i + 1])) {
                v = Combine(v, source[i + 1]);
                used = 2;
            }
        }
        int length = UTF8Length(v);
        if (w + static_cast<size_t>(length) > room)
            break;
        if (!counting)
            PutUTF8(out + w, v, length);
        w += static_cast<size_t>(length);
        i += used;
    }
    if (unitsConsumed)
        *unitsConsumed = counting ? n : i;
    if (bytesProduced)
        *bytesProduced = w;
    return true;
}

bool VFromUnicodeConverter_UTF8::ConvertFrom_wchar(const wchar_t* source, int units, int* unitsConsumed,
                                                   void* target, size_t targetBytes, size_t* bytesProduced)
{
    uint8_t* out = static_cast<uint8_t*>(target);
    int i = 0;
    size_t w = 0;
    bool ok = true;
    while (i < units) {
        uint32_t v = static_cast<uint32_t>(source[i]);
        int used = 1;
        if (v >= 0x80000000u) {
            ok = false;
            break;
        }
        if (IsHighSurrogate(v)) {
            if (i + 1 >= units)
                break;
            uint32_t low = static_cast<uint32_t>(source[i + 1]);
            if (IsLowSurrogate(low)) {
                v = Combine(v, low);
                used = 2;
            }
        }
        int length = UTF8Length(v);
        if (w + static_cast<size_t>(length) > targetBytes)
            break;
        PutUTF8(out + w, v, length);
        w += static_cast<size_t>(length);
        i += used;
    }
    if (unitsConsumed)
        *unitsConsumed = i;
    if (bytesProduced)
        *bytesProduced = w;
    return ok;
}

// --- void ---

bool VToUnicodeConverter_Void::ConvertString(const void*, size_t, size_t* bytesConsumed, VString&)
{
    if (bytesConsumed)
        *bytesConsumed = 0;
    return false;
}

bool VToUnicodeConverter_Void::Convert(const void*, size_t, size_t* bytesConsumed, UniChar*, int, int* unitsProduced)
{
    *bytesConsumed = 0;
    *unitsProduced = 0;
    return false;
}

bool VFromUnicodeConverter_Void::Convert(const UniChar*, int, int* unitsConsumed, void*, size_t,
                                         size_t* bytesProduced)
{
    if (unitsConsumed)
        *unitsConsumed = 0;
    if (bytesProduced)
        *bytesProduced = 0;
    return false;
}

}  // namespace bkit
