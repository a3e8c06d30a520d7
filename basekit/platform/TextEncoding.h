// TextEncoding.h - conversion of legacy text encodings to and from UTF-16.
//
// This file defines the stand-in for the macOS Text Encoding Conversion
// service as the toolbox uses it: a converter opened for one text encoding
// (the service's TextEncoding numbers: base encoding in the low 16 bits,
// variant in bits 16 to 25, format in bits 26 to 31) in one direction, and the
// two conversion calls, which answer the service's status numbers. It replaces
// CreateTextToUnicodeInfoByEncoding, CreateUnicodeToTextInfoByEncoding,
// ConvertFromTextToUnicode, ConvertFromUnicodeToText and their disposal; the
// conversions run on ICU converters.
//
// Contracts:
// - Each conversion call starts from the encoding's initial state and keeps
//   nothing for the next call (as the service does without its keep-info flag).
// - Text to Unicode: bytes that form no character of the encoding are
//   replaced (fallback mappings), but an escape sequence that directly follows
//   another (an empty run, as text written in pieces holds) reads as nothing;
//   the bytes of a character cut short at the end of the input are not read
//   and the answer is kTECPartialCharErr; a full output ends the call after
//   the last whole character with kTECOutputBufferFullStatus.
// - Unicode to text: the call stops before the first character the encoding
//   cannot hold and answers kTECUnmappableElementErr, reporting what was read
//   before it; the output before it ends in the encoding's initial state (a
//   shifted run is closed), so that a substitute the caller writes next reads
//   as itself. A high surrogate as the last unit is not read.
// - A converter is used by one thread at a time.
// - The scratch room of a Unicode-to-text call follows the output it
//   converts, not the room the caller offers: a caller that calls once for
//   every character the encoding cannot hold pays in step with the text.
//
// Where it falls short of macOS:
// - ICU has no converter for some Mac encodings; the closest ICU converter
//   stands in: Mac Arabic reads as windows-1256, Mac Hebrew as windows-1255,
//   Mac Simplified Chinese and GB 2312-80 as EUC-CN (GB2312), Mac Traditional
//   Chinese as Big5 and Mac Japanese as Shift_JIS. Their Mac-only characters
//   convert differently.
// - There is no general converter between two encodings: one path only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"

namespace bkit::platform {

using TextEncoding = uint32_t;

constexpr TextEncoding MakeTextEncoding(uint32_t base, uint32_t variant, uint32_t format)
{
    return (base & 0xFFFF) | ((variant & 0x3FF) << 16) | ((format & 0x3F) << 26);
}
constexpr uint32_t GetTextEncodingBase(TextEncoding encoding) { return encoding & 0xFFFF; }
constexpr uint32_t GetTextEncodingFormat(TextEncoding encoding) { return encoding >> 26; }

constexpr uint32_t kTextEncodingMacRoman = 0;
constexpr uint32_t kTextEncodingUnicodeDefault = 0x100;
constexpr uint32_t kTextEncodingUnknown = 0xFFFF;

// Status numbers of the service.
constexpr int32_t kTECNoError = 0;
constexpr int32_t kTECParamErr = -50;
constexpr int32_t kTECMemFullErr = -108;
constexpr int32_t kTextUnsupportedEncodingErr = -8738;
constexpr int32_t kTECPartialCharErr = -8753;
constexpr int32_t kTECUnmappableElementErr = -8754;
constexpr int32_t kTECOutputBufferFullStatus = -8785;

// Conversion flags the toolbox passes (accepted; fallbacks and loose mappings
// are what the ICU converters do anyway).
constexpr uint32_t kUnicodeUseFallbacksMask = 0x1;
constexpr uint32_t kUnicodeLooseMappingsMask = 0x20;

struct TextEncodingConverter;

// Opens a converter from the encoding to UTF-16, or from UTF-16 to the
// encoding. Answers 0 with *out set, or kTextUnsupportedEncodingErr (also for
// kTextEncodingUnknown) with *out null. The caller disposes of the converter.
int32_t CreateTextToUnicodeConverter(TextEncoding encoding, TextEncodingConverter** out);
int32_t CreateUnicodeToTextConverter(TextEncoding encoding, TextEncodingConverter** out);
void DisposeTextEncodingConverter(TextEncodingConverter* converter);

// Converts sourceBytes bytes into at most targetBytes bytes of UTF-16 (native
// order); *bytesRead and *bytesWritten get what was read and written, also on
// failure. Answers 0, kTECPartialCharErr or kTECOutputBufferFullStatus, or
// another status when the conversion could not run.
int32_t ConvertTextToUnicode(TextEncodingConverter* converter, uint32_t flags, const void* source, size_t sourceBytes,
                             size_t* bytesRead, UniChar* target, size_t targetBytes, size_t* bytesWritten);

// Converts sourceBytes bytes of UTF-16 into at most targetBytes bytes of the
// encoding. Answers 0, kTECOutputBufferFullStatus or kTECUnmappableElementErr
// (reading stopped before the unmappable character), or another status.
int32_t ConvertUnicodeToText(TextEncodingConverter* converter, uint32_t flags, const UniChar* source,
                             size_t sourceBytes, size_t* bytesRead, void* target, size_t targetBytes,
                             size_t* bytesWritten);

// Bytes of scratch room that ConvertUnicodeToText has taken since the process
// started, from any thread; for tests of its cost.
uint64_t FromUnicodeScratchBytes();

}  // namespace bkit::platform
