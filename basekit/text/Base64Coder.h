// Base64Coder.h - Base64 encoding and decoding of bytes, and checksum texts.
//
// This file defines Base64Coder, the static coder between bytes and Base64
// text (RFC 4648): the standard alphabet with "=" padding and optional line
// breaks, or the URL-safe alphabet without padding; and the two small helpers
// that give a checksum's bytes as Base64 or as lower-case hexadecimal text.
//
// Contracts:
// - Output goes to a VMemoryBuffer that the coder empties first; its block
//   comes from the buffer's memory manager (tag 'memb'). Encoders size it
//   exactly, decoders once from the input length.
// - Encoding and decoding report failure by returning false; bad input never
//   reads or writes outside the caller's bytes. Only the whitespace copy of the
//   standard decoder pushes an error ('bkit' 100) when memory runs out.
// - The standard decoder ignores space, tab, carriage return and line feed
//   anywhere; the URL-safe decoder accepts none of them, nor "=".
// - Everything here is stateless and may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "basekit/runtime/VMemoryBuffer.h"

namespace bkit {

class VString;

class Base64Coder {
public:
    using Buffer = VMemoryBuffer<1024, 2, 1048576>;

    static constexpr char sBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static constexpr char sBase64URLAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    // Each byte's 6-bit value in the matching alphabet, 255 for every other
    // byte ("=" included).
    static const std::array<uint8_t, 256> sBase64Inverse;
    static const std::array<uint8_t, 256> sBase64URLInverse;

    // Encodes size bytes into out. Standard alphabet: "=" padding, and with
    // quadsPerLine >= 1 a CR LF after every quadsPerLine groups of four
    // characters (never after the last). URL-safe: no padding, no line breaks.
    // Empty input gives true and empty output; null bytes with a non-zero size,
    // or an output block that cannot be had, give false.
    static bool _Encode(const void* bytes, size_t size, Buffer& out, int quadsPerLine, bool urlSafe);

    // Decodes size bytes of text into out. On failure out is emptied, unless
    // keepPartial keeps what was decoded before the fault. Empty input gives
    // true and empty output.
    static bool Decode(const void* text, size_t size, Buffer& out, bool urlSafe, bool keepPartial);

    // The decoding steps. Each sizes out, decodes and sets out's data size to
    // the bytes produced, also when it fails part-way.
    static bool _DecodeBase64(const uint8_t* text, size_t size, Buffer& out);
    static bool _DecodeBase64URL(const uint8_t* text, size_t size, Buffer& out);
    // Decodes quads groups of four characters of text, from readPosition, into
    // out at writePosition, advancing both past each complete group. False at
    // the first group holding a character the inverse table rejects (the
    // positions are then left at the start of that group).
    static bool _DecodeQuads(const uint8_t* inverse, const uint8_t* text, size_t quads, uint8_t* out,
                             size_t& readPosition, size_t& writePosition);

    // text becomes the standard Base64 of the bytes, without line breaks.
    static void DO_EncodeChecksumBase64(const uint8_t* bytes, size_t size, VString& text);
    // text becomes two lower-case hexadecimal digits per byte, high nibble
    // first; it is cleared when its buffer cannot be enlarged.
    static void DO_EncodeChecksumHexa(const uint8_t* bytes, size_t size, VString& text);

    // The process localizer's text for key (VProcess::GetLocalizer, through
    // bkit::LocalizeString); without localizer or text, defaultText (UTF-8)
    // when given, else empty.
    static VString LocalizeString(const VString& key, const char* defaultText);

    Base64Coder() = delete;
};

}  // namespace bkit
