// BKitTypes.h - plain types shared by the whole toolbox.
//
// This file defines the fixed-width names the toolbox speaks in (error codes,
// UTF-16 code units, four-character codes, indexes), the helpers that build and
// take apart four-character codes and error codes, and the small enumerations
// every area needs (charsets, line-end modes, comparison results). It holds no
// behaviour and includes nothing of the toolbox, so any header may include it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bkit {

// One UTF-16 code unit. char16_t, so that ICU and xerces-c text is usable as is.
using UniChar = char16_t;

// Error code: component signature in the high 32 bits, number in the low 32.
using VError = uint64_t;

// Counts, lengths and positions in characters are signed 32-bit.
using VIndex = int32_t;

// Byte sizes.
using VSize = uint64_t;

// Four-character code: first character in the most significant byte.
using OsType = uint32_t;

// Milliseconds of a duration.
using VMilliseconds = int64_t;

// Builds a four-character code from a literal such as "bkit".
// Multi-character literals ('bkit') would warn under -Wall; this does not.
constexpr OsType MakeOsType(const char (&code)[5])
{
    return (static_cast<OsType>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<OsType>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<OsType>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<OsType>(static_cast<unsigned char>(code[3]));
}

// Writes the four characters of a code in reading order and a NUL into out.
inline void OsTypeToChars(OsType code, char out[5])
{
    out[0] = static_cast<char>((code >> 24) & 0xFF);
    out[1] = static_cast<char>((code >> 16) & 0xFF);
    out[2] = static_cast<char>((code >> 8) & 0xFF);
    out[3] = static_cast<char>(code & 0xFF);
    out[4] = 0;
}

constexpr OsType kBKIT_SIGNATURE = MakeOsType("bkit");
constexpr OsType kCARB_SIGNATURE = MakeOsType("CARB");
constexpr OsType kPOSX_SIGNATURE = MakeOsType("POSX");
constexpr OsType kMACH_SIGNATURE = MakeOsType("MACH");
constexpr OsType kCOCO_SIGNATURE = MakeOsType("COCO");

constexpr VError VE_OK = 0;

constexpr VError MakeVError(OsType component, int32_t number)
{
    return (static_cast<VError>(component) << 32) | static_cast<uint32_t>(number);
}

constexpr OsType COMPONENT_FROM_VERROR(VError err) { return static_cast<OsType>(err >> 32); }

// The number is read as signed wherever it is printed or stored.
constexpr int32_t ERRCODE_FROM_VERROR(VError err) { return static_cast<int32_t>(static_cast<uint32_t>(err & 0xFFFFFFFFu)); }

constexpr VError MakeBKitError(int32_t number) { return MakeVError(kBKIT_SIGNATURE, number); }

// Toolbox error codes used across areas. Each area adds its own beside its code.
constexpr VError VE_UNKNOWN_ERROR = MakeBKitError(1);
constexpr VError VE_UNIMPLEMENTED = MakeBKitError(2);
constexpr VError VE_INVALID_PARAMETER = MakeBKitError(3);
constexpr VError VE_INIT_FAILED = MakeBKitError(4);
constexpr VError VE_ACCESS_DENIED = MakeBKitError(5);
constexpr VError VE_USER_ABORT = MakeBKitError(6);
constexpr VError VE_MEMORY_FULL = MakeBKitError(100);
constexpr VError VE_STRING_ALLOC_FAILED = MakeBKitError(107);
// A walk that input drives would need more stack than the task has left.
constexpr VError VE_STACK_TOO_SMALL = MakeBKitError(108);

// Result of every value comparison: the receiver against the argument.
using CompareResult = int32_t;
constexpr CompareResult CR_SMALLER = -1;
constexpr CompareResult CR_EQUAL = 0;
constexpr CompareResult CR_BIGGER = 1;
constexpr CompareResult CR_UNRELEVANT = -1000;

// Encoding of byte text: a plain number, stored in files and streams, so any
// number can be passed and unknown ones simply have no converter. The names
// below are the numbers the toolbox itself refers to.
using CharSet = int32_t;
constexpr CharSet VTC_DefaultTextExport = -2;
constexpr CharSet VTC_UNKNOWN = 0;
constexpr CharSet VTC_UTF_16_BIGENDIAN = 1;
constexpr CharSet VTC_UTF_16_SMALLENDIAN = 2;
constexpr CharSet VTC_UTF_32_BIGENDIAN = 3;
constexpr CharSet VTC_UTF_32_SMALLENDIAN = 4;
constexpr CharSet VTC_UTF_32_RAW_BIGENDIAN = 5;
constexpr CharSet VTC_UTF_32_RAW_SMALLENDIAN = 6;
constexpr CharSet VTC_UTF_8 = 7;
constexpr CharSet VTC_UTF_7 = 8;
constexpr CharSet VTC_US_ASCII = 9;
constexpr CharSet VTC_MacOSAnsi = 100;
constexpr CharSet VTC_Win32Ansi = 101;
constexpr CharSet VTC_ISO_8859_1 = 1005;
// The native UTF-16 order of this machine.
constexpr CharSet VTC_UTF_16 = VTC_UTF_16_SMALLENDIAN;

// Line-end convention of text conversion; other values leave line ends alone.
enum ECarriageReturnMode : int32_t {
    eCRM_NONE = 0,
    eCRM_CRLF = 2,
    eCRM_CR = 3,
    eCRM_LF = 4,
};

}  // namespace bkit
