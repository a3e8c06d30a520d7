// VTextConverterForms.h - the workers behind VString's text forms (internal).
//
// This file declares the conversions behind the VString members that write a
// text in another form or read it back: hexadecimal numbers, XML and JSON
// escaping, identifier names, four-character codes, Base64 of bytes and of
// text in a charset, blocks with an optional byte-order mark, whole texts into
// memory buffers, line ends of a string and of encoded buffers. It is internal to the string
// code: only the string and converter sources include it; everyone else
// calls the VString members, which forward here.
//
// Contracts: every function is thread-safe for distinct outputs; outputs are
// replaced, not appended to, unless said otherwise. Room that cannot be had
// raises 'bkit' 107 (or the error named) and leaves the output unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VMemoryBuffer.h"

namespace bkit {

class VString;

// --- hexadecimal ---

// The value of the hexadecimal digits of text read from first to last unit;
// every other unit is skipped ("0x1F" gives 31). 0 for no digits.
int64_t TextToHexLong(const VString& text);
// text becomes the upper-case digits of value's low bits (8, 32 or 64) without
// leading zeros ("0" for 0); with prefixed, zero-padded (2 digits for 8 bits;
// 4 or 8 for 32 bits; 4, 8 or 16 for 64 bits, the smallest that holds the
// digits) behind "0x". The text is cleared when its room cannot be had.
void HexLongToText(uint64_t value, int bits, bool prefixed, VString& text);

// --- XML ---

// Escapes '&', '<', '>', U+0022 and U+0027 as entities; with escapeControls
// also units below U+0020 other than tab, LF and CR, and U+007F, as "&#xNN;".
// The scan ends at the first zero unit. A text that needs no change is left
// untouched (no copy, no new buffer).
void TranscodeToXML(VString& text, bool escapeControls);
// Replaces the five entities and "&#x" hexadecimal ";" references (value cut
// to 16 bits; 0 stays as it is) by their units. Decimal references, unknown
// entities and incomplete references stay. The scan ends at the first zero.
void TranscodeFromXML(VString& text);

// --- JSON ---

// out becomes the text escaped for a JSON string (see the kJSON... options
// in VString.h).
// Answers 0, or 'bkit' 107 (raised) when the room for 6 units per unit cannot
// be had; out is then left unchanged.
VError GetJSONStringOf(const VString& text, VString& out, uint32_t options);
// Writes the n units of text escaped for a JSON string (the same options) at
// out, which has room for JSONEscapedRoom(n) units; returns the units written.
VIndex WriteJSONEscaped(const UniChar* text, VIndex n, UniChar* out, uint32_t options);
constexpr int64_t JSONEscapedRoom(VIndex n) { return 6 * static_cast<int64_t>(n) + 2; }
// out becomes the text of a JSON string's content with its escapes undone
// (kJSONNoEscaping: a plain copy). Answers 0.
VError FromJSONStringTo(const VString& json, VString& out, uint32_t options);
// out becomes text reduced to a JavaScript identifier: '_' before a leading
// ASCII digit, then only ASCII letters, digits, '_' and '$'.
void GetCleanJSNameOf(const VString& text, VString& out);

// --- four-character codes ---

// The first four bytes of the text's UTF-8, padded with spaces, read
// big-endian ("ab" gives the code of "ab  ").
OsType TextToOsType(const VString& text);

// --- blocks and buffers ---

// Replaces text with bytes read in the charset of their byte-order mark (the
// mark skipped), else in a charset guessed from zero-byte patterns, else in
// charSet. Answers the charset used.
CharSet FromBlockWithOptionalBOM(VString& text, const void* bytes, size_t size, CharSet charSet);
// buffer is emptied and receives the whole text in charSet. False when the
// charset has no converter or the conversion failed.
bool TextToBuffer(const VString& text, VMemoryBuffer<>& buffer, CharSet charSet);
// Converts the line ends of encoded text in a buffer in the code units of its
// charset: none for charset 0, 16-bit units for the UTF-16 forms, 32-bit units
// for the UTF-32 forms (raw included), bytes for every other charset. The
// buffer grows when CR LF needs more room. False when it cannot grow.
bool ConvertLineEndsInBuffer(VMemoryBuffer<>& buffer, CharSet charSet, ECarriageReturnMode mode);
// Converts the line ends of the string in place (2 CR LF, 3 CR, 4 LF; other
// modes change nothing). False when the room for CR LF cannot be had.
bool ConvertLineEndsOf(VString& text, ECarriageReturnMode mode);

// --- Base64 ---

// text becomes the Base64 of the bytes (one unit per character, no line
// breaks). False, text unchanged, when the coder fails.
bool EncodeBase64To(VString& text, const void* bytes, size_t size, bool urlSafe);
// The text in charSet (line ends as they are) replaced by its Base64. True and
// nothing else for an empty or null text.
bool EncodeBase64Of(VString& text, CharSet charSet, bool urlSafe);
// Decodes the units of text into out. A unit of 128 or more raises 'bkit' 210,
// a lack of memory 'bkit' 100; both give false.
bool DecodeBase64From(const VString& text, VMemoryBuffer<>& out, bool urlSafe);
// The text replaced by its decoded bytes read in charSet. True and nothing
// else for an empty or null text; false, text unchanged, on failure.
bool DecodeBase64Of(VString& text, CharSet charSet, bool urlSafe);

}  // namespace bkit
