// Base64Coder.cpp - Base64 encoding and decoding, and checksum texts.
#include "basekit/text/Base64Coder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

constexpr uint8_t kInvalid = 255;

constexpr std::array<uint8_t, 256> MakeInverse(const char (&alphabet)[65])
{
    std::array<uint8_t, 256> table{};
    for (auto& entry : table)
        entry = kInvalid;
    for (uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

// The bytes the standard decoder drops before decoding.
constexpr bool IsWhitespace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The position of the first whitespace byte at or after from, or size.
size_t FindWhitespace(const uint8_t* text, size_t from, size_t size)
{
    // Every whitespace byte is below 0x21 and every Base64 character above, so
    // eight bytes at a time are skipped when none of them is below 0x21.
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    size_t i = from;
    while (i + 8 <= size) {
        uint64_t word;
        std::memcpy(&word, text + i, sizeof(word));
        if (((word - kOnes * 0x21) & ~word & kHighs) != 0) {
            for (size_t end = i + 8; i < end; ++i) {
                if (IsWhitespace(text[i]))
                    return i;
            }
        } else {
            i += 8;
        }
    }
    for (; i < size; ++i) {
        if (IsWhitespace(text[i]))
            return i;
    }
    return size;
}

// The two characters of every 12-bit value, first character in the first
// byte, so that one store writes both.
using PairTable = std::array<uint16_t, 4096>;

constexpr PairTable MakePairs(const char (&alphabet)[65])
{
    PairTable pairs{};
    for (uint32_t v = 0; v < 4096; ++v) {
        auto first = static_cast<uint8_t>(alphabet[v >> 6]);
        auto second = static_cast<uint8_t>(alphabet[v & 63]);
        // Stored through memcpy, so the byte order of the host decides.
        pairs[v] = std::endian::native == std::endian::little ? static_cast<uint16_t>(first | (second << 8))
                                                              : static_cast<uint16_t>((first << 8) | second);
    }
    return pairs;
}

constexpr PairTable kStandardPairs = MakePairs(Base64Coder::sBase64Alphabet);
constexpr PairTable kURLPairs = MakePairs(Base64Coder::sBase64URLAlphabet);

// Writes groups complete groups of three bytes as four characters each.
inline void EncodeGroups(const uint8_t* in, size_t groups, char* out, const PairTable& pairs)
{
    for (size_t i = 0; i < groups; ++i, in += 3, out += 4) {
        uint32_t v = (static_cast<uint32_t>(in[0]) << 16) | (static_cast<uint32_t>(in[1]) << 8) | in[2];
        uint16_t high = pairs[v >> 12];
        uint16_t low = pairs[v & 0xFFF];
        std::memcpy(out, &high, 2);
        std::memcpy(out + 2, &low, 2);
    }
}

// Replaces text by n ASCII bytes widened to units. False, text cleared, when
// the string cannot get the room.
bool SetASCIIText(VString& text, const char* chars, size_t n)
{
    if (n > static_cast<size_t>(std::numeric_limits<VIndex>::max()) ||
        !text._ReallocBuffer(static_cast<VIndex>(n), false)) {
        text.Clear();
        return false;
    }
    UniChar* units = text.GetCPointerForWrite();
    for (size_t i = 0; i < n; ++i)
        units[i] = static_cast<UniChar>(static_cast<unsigned char>(chars[i]));
    text.Validate(static_cast<VIndex>(n));
    return true;
}

// The one or two bytes of a last group of two or three characters, which must
// carry no bits beyond them.
bool DecodeTail(const uint8_t* inverse, const uint8_t* text, size_t count, uint8_t* out, size_t& writePosition)
{
    uint8_t a = inverse[text[0]];
    uint8_t b = inverse[text[1]];
    if ((a | b) & 0x80)
        return false;
    if (count == 2) {
        if (b & 0x0F)
            return false;
        out[writePosition++] = static_cast<uint8_t>((a << 2) | (b >> 4));
        return true;
    }
    uint8_t c = inverse[text[2]];
    if ((c & 0x80) || (c & 0x03))
        return false;
    out[writePosition++] = static_cast<uint8_t>((a << 2) | (b >> 4));
    out[writePosition++] = static_cast<uint8_t>((b << 4) | (c >> 2));
    return true;
}

// The standard decoder's work on text free of whitespace.
bool DecodeStandard(const uint8_t* text, size_t size, Base64Coder::Buffer& out)
{
    if (size % 4 != 0)
        return false;
    if (size == 0)
        return true;
    if (!out.SetSize(size / 4 * 3 + 1))
        return false;

    const uint8_t* inverse = Base64Coder::sBase64Inverse.data();
    auto* dst = static_cast<uint8_t*>(out.GetDataPtr());
    size_t read = 0;
    size_t written = 0;
    bool ok = Base64Coder::_DecodeQuads(inverse, text, size / 4 - 1, dst, read, written);
    if (ok) {
        const uint8_t* last = text + read;
        if (last[2] == '=' && last[3] == '=')
            ok = DecodeTail(inverse, last, 2, dst, written);
        else if (last[3] == '=')
            ok = DecodeTail(inverse, last, 3, dst, written);
        else
            ok = Base64Coder::_DecodeQuads(inverse, text, 1, dst, read, written);
    }
    out.SetDataSize(written);
    return ok;
}

}  // namespace

const std::array<uint8_t, 256> Base64Coder::sBase64Inverse = MakeInverse(Base64Coder::sBase64Alphabet);
const std::array<uint8_t, 256> Base64Coder::sBase64URLInverse = MakeInverse(Base64Coder::sBase64URLAlphabet);

// --- encoding ---

bool Base64Coder::_Encode(const void* bytes, size_t size, Buffer& out, int quadsPerLine, bool urlSafe)
{
    out.Clear();
    if (size == 0)
        return true;
    if (!bytes)
        return false;

    // Four characters per started group of three, plus a CR LF per full line.
    if (size > std::numeric_limits<size_t>::max() / 4 - 2)
        return false;
    size_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
    size_t length = 4 * groups;
    bool breakLines = !urlSafe && quadsPerLine >= 1;
    if (breakLines)
        length += 2 * (groups / static_cast<size_t>(quadsPerLine));
    if (!out.SetSize(length))
        return false;

    const char* alphabet = urlSafe ? sBase64URLAlphabet : sBase64Alphabet;
    const PairTable& pairs = urlSafe ? kURLPairs : kStandardPairs;
    const auto* in = static_cast<const uint8_t*>(bytes);
    char* start = static_cast<char*>(out.GetDataPtr());
    char* cursor = start;
    size_t fullGroups = size / 3;

    if (!breakLines) {
        EncodeGroups(in, fullGroups, cursor, pairs);
        cursor += 4 * fullGroups;
    } else {
        // A CR LF after every quadsPerLine groups, never after the last group.
        size_t perLine = static_cast<size_t>(quadsPerLine);
        size_t done = 0;
        while (done < fullGroups) {
            size_t run = std::min(perLine, fullGroups - done);
            EncodeGroups(in + 3 * done, run, cursor, pairs);
            cursor += 4 * run;
            done += run;
            if (run == perLine && done < groups) {
                *cursor++ = '\r';
                *cursor++ = '\n';
            }
        }
    }

    size_t rest = size - 3 * fullGroups;
    if (rest > 0) {
        const uint8_t* tail = in + 3 * fullGroups;
        uint32_t v = static_cast<uint32_t>(tail[0]) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(tail[1]) << 8;
        *cursor++ = alphabet[v >> 18];
        *cursor++ = alphabet[(v >> 12) & 63];
        if (rest == 2)
            *cursor++ = alphabet[(v >> 6) & 63];
        if (!urlSafe) {
            if (rest == 1)
                *cursor++ = '=';
            *cursor++ = '=';
        }
    }

    out.SetDataSize(static_cast<size_t>(cursor - start));
    return true;
}

// --- decoding ---

bool Base64Coder::Decode(const void* text, size_t size, Buffer& out, bool urlSafe, bool keepPartial)
{
    out.Clear();
    if (size == 0)
        return true;
    if (!text)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(text);
    bool ok = urlSafe ? _DecodeBase64URL(bytes, size, out) : _DecodeBase64(bytes, size, out);
    if (!ok && !keepPartial)
        out.Clear();
    return ok;
}

bool Base64Coder::_DecodeQuads(const uint8_t* inverse, const uint8_t* text, size_t quads, uint8_t* out,
                               size_t& readPosition, size_t& writePosition)
{
    const uint8_t* in = text + readPosition;
    uint8_t* dst = out + writePosition;
    for (size_t i = 0; i < quads; ++i, in += 4, dst += 3) {
        uint8_t a = inverse[in[0]];
        uint8_t b = inverse[in[1]];
        uint8_t c = inverse[in[2]];
        uint8_t d = inverse[in[3]];
        // Valid values are below 64; the invalid mark has its high bit set.
        if ((a | b | c | d) & 0x80) {
            readPosition += 4 * i;
            writePosition += 3 * i;
            return false;
        }
        uint32_t v = (static_cast<uint32_t>(a) << 18) | (static_cast<uint32_t>(b) << 12) |
                     (static_cast<uint32_t>(c) << 6) | d;
        dst[0] = static_cast<uint8_t>(v >> 16);
        dst[1] = static_cast<uint8_t>(v >> 8);
        dst[2] = static_cast<uint8_t>(v);
    }
    readPosition += 4 * quads;
    writePosition += 3 * quads;
    return true;
}

bool Base64Coder::_DecodeBase64(const uint8_t* text, size_t size, Buffer& out)
{
    // Text without whitespace, the common case, is decoded in place. Any
    // whitespace makes that pass fail (it is not in the alphabet), so only a
    // failed pass needs to look for it.
    if (size % 4 == 0 && DecodeStandard(text, size, out))
        return true;
    size_t firstSpace = FindWhitespace(text, 0, size);
    if (firstSpace == size)
        return false;

    // Decode a copy without the whitespace.
    Buffer stripped(out.GetMemMgr());
    if (!stripped.SetSize(size)) {
        _ThrowError(VE_MEMORY_FULL);
        out.Clear();
        return false;
    }
    auto* copy = static_cast<uint8_t*>(stripped.GetDataPtr());
    size_t kept = 0;
    for (size_t from = 0, space = firstSpace; from < size; space = FindWhitespace(text, from, size)) {
        std::memcpy(copy + kept, text + from, space - from);
        kept += space - from;
        from = space + 1;
    }
    out.Clear();
    return DecodeStandard(copy, kept, out);
}

bool Base64Coder::_DecodeBase64URL(const uint8_t* text, size_t size, Buffer& out)
{
    if (!out.SetSize(size / 4 * 3 + 4))
        return false;
    const uint8_t* inverse = sBase64URLInverse.data();
    auto* dst = static_cast<uint8_t*>(out.GetDataPtr());
    size_t read = 0;
    size_t written = 0;
    bool ok = _DecodeQuads(inverse, text, size / 4, dst, read, written);
    if (ok) {
        size_t rest = size % 4;
        if (rest == 1)
            ok = false;
        else if (rest > 1)
            ok = DecodeTail(inverse, text + read, rest, dst, written);
    }
    out.SetDataSize(written);
    return ok;
}

// --- checksum texts ---

void Base64Coder::DO_EncodeChecksumBase64(const uint8_t* bytes, size_t size, VString& text)
{
    Buffer encoded;
    if (!_Encode(bytes, size, encoded, 0, false)) {
        text.Clear();
        return;
    }
    SetASCIIText(text, static_cast<const char*>(encoded.GetDataPtr()), encoded.GetDataSize());
}

void Base64Coder::DO_EncodeChecksumHexa(const uint8_t* bytes, size_t size, VString& text)
{
    if (size > static_cast<size_t>(std::numeric_limits<VIndex>::max()) / 2 ||
        !text._ReallocBuffer(static_cast<VIndex>(2 * size), false)) {
        text.Clear();
        return;
    }
    // Each byte's two digits as one 32-bit pair of units, four bytes a step.
    static const auto kPairs = [] {
        std::array<uint32_t, 256> pairs{};
        const char* digits = "0123456789abcdef";
        for (uint32_t b = 0; b < 256; ++b) {
            UniChar units[2] = {static_cast<UniChar>(digits[b >> 4]), static_cast<UniChar>(digits[b & 15])};
            std::memcpy(&pairs[b], units, sizeof(units));
        }
        return pairs;
    }();
    UniChar* units = text.GetCPointerForWrite();
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        uint32_t quad[4] = {kPairs[bytes[i]], kPairs[bytes[i + 1]], kPairs[bytes[i + 2]], kPairs[bytes[i + 3]]};
        std::memcpy(units + 2 * i, quad, sizeof(quad));
    }
    for (; i < size; ++i)
        std::memcpy(units + 2 * i, &kPairs[bytes[i]], sizeof(uint32_t));
    text.Validate(static_cast<VIndex>(2 * size));
}

VString Base64Coder::LocalizeString(const VString& key, const char* defaultText)
{
    return bkit::LocalizeString(key, defaultText != nullptr ? VString(defaultText) : VString());
}

}  // namespace bkit
