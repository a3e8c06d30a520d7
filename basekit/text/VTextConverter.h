// VTextConverter.h - converters between byte text and UTF-16.
//
// This file defines the two converter interfaces, VToUnicodeConverter (bytes
// to the UTF-16 units of VString) and VFromUnicodeConverter (units to bytes),
// and the toolbox's own converters for the Unicode forms: native UTF-16 (Null),
// byte-swapped UTF-16 (Swap), UTF-32 and raw UTF-32 in either byte order, UTF-8,
// and the Void converter that converts nothing. Legacy charsets are converted
// by the platform converters (mac/XMacTextConverter.h); converters are handed
// out by the registry (VTextConverters.h).
//
// Contracts:
// - Positions and counts are bytes on the byte side and UTF-16 units on the
//   Unicode side. Every Convert reports what it consumed and produced, also when
//   it fails; a character is consumed only when all of its output was written.
//   Bytes at the end of the input that do not yet form a whole character are
//   left unconsumed, so that a caller reading in pieces can complete them.
// - Malformed input is handled inside each converter (stop, "?", skip) and
//   never raises an error record; only a lack of memory raises 'bkit' 300.
// - A converter starts with one reference (its creator's) and is deleted when
//   the count falls to zero. The Unicode-form converters hold no conversion
//   state: a shared one may be used by any number of threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VString;

// 'bkit' 300: a text conversion could not get the memory it needed.
constexpr VError VE_TEXT_CONVERSION_FAILED = MakeBKitError(300);

// Bytes to UTF-16.
class VToUnicodeConverter : public VObject, public IRefCountable {
public:
    VToUnicodeConverter() = default;
    ~VToUnicodeConverter() override = default;

    // False for a converter that converts nothing.
    virtual bool IsValid() const { return true; }

    // Appends the text of sourceBytes bytes to target's current text (callers
    // that want a replacement empty it first). bytesConsumed (optional) gets
    // the bytes converted. False when target could not be enlarged ('bkit' 300)
    // or, for the converters that say so, when the input was refused.
    virtual bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& target);

    // Converts as much as fits into targetUnits units.
    virtual bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target,
                         int targetUnits, int* unitsProduced) = 0;

    // Bytes per character of the byte side, as an estimate for sizing (1 for
    // the void converter, 2 for every other).
    virtual int GetCharSize() const { return 2; }
};

// UTF-16 to bytes.
class VFromUnicodeConverter : public VObject, public IRefCountable {
public:
    using Buffer = VMemoryBuffer<>;

    VFromUnicodeConverter() = default;
    ~VFromUnicodeConverter() override = default;

    virtual bool IsValid() const { return true; }

    // Converts as much as fits into targetBytes bytes.
    virtual bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target,
                         size_t targetBytes, size_t* bytesProduced) = 0;

    // Bytes per unit of the byte side, used to size output (worst case for the
    // Unicode forms, an estimate that is grown on demand for the others).
    virtual int GetCharSize() const = 0;

    // Appends the conversion of units to a memory-manager block after its
    // usedBytes bytes, growing the block (which may move; block may be null on
    // entry) and updating usedBytes; reserveBytes stay free after the output.
    // Units that can never be converted (a high surrogate at the very end) are
    // left out: the conversion ends instead of growing for ever. False when a
    // Convert fails or memory runs out ('bkit' 300 "mem failure").
    bool ConvertRealloc(const UniChar* source, int units, void*& block, size_t& usedBytes, size_t reserveBytes);

    // The same at the end of buffer; its data size becomes the bytes used plus
    // reserveBytes.
    bool ConvertToBuffer(const UniChar* source, int units, Buffer& buffer, size_t reserveBytes);
};

// --- native UTF-16: a byte copy ---

class VToUnicodeConverter_Null : public VToUnicodeConverter {
public:
    bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& target) override;
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;
};

class VFromUnicodeConverter_Null : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    int GetCharSize() const override { return 2; }
};

// --- byte-swapped UTF-16 ---

class VToUnicodeConverter_Swap : public VToUnicodeConverter {
public:
    bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& target) override;
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;
};

class VFromUnicodeConverter_Swap : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    int GetCharSize() const override { return 2; }
};

// --- UTF-32 with surrogate pairs; the swap flag chooses big-endian ---

class VToUnicodeConverter_UTF32 : public VToUnicodeConverter {
public:
    explicit VToUnicodeConverter_UTF32(bool swap) : fSwap(swap) {}
    // A surrogate value or a value of 0x110000 or more makes the result false:
    // a surrogate stops the conversion, a too large value is skipped.
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;

private:
    uint8_t fSwap;
};

class VFromUnicodeConverter_UTF32 : public VFromUnicodeConverter {
public:
    explicit VFromUnicodeConverter_UTF32(bool swap) : fSwap(swap) {}
    // A surrogate pair gives one value in both byte orders; a lone surrogate
    // stops the conversion with false.
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    int GetCharSize() const override { return 4; }

private:
    uint8_t fSwap;
};

// --- raw UTF-32: one UTF-16 unit per 32-bit value, no surrogate logic ---

class VToUnicodeConverter_UTF32_Raw : public VToUnicodeConverter {
public:
    explicit VToUnicodeConverter_UTF32_Raw(bool swap) : fSwap(swap) {}
    bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& target) override;
    // Each 4-byte group gives its low 16 bits.
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;

private:
    uint8_t fSwap;
};

class VFromUnicodeConverter_UTF32_Raw : public VFromUnicodeConverter {
public:
    explicit VFromUnicodeConverter_UTF32_Raw(bool swap) : fSwap(swap) {}
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    int GetCharSize() const override { return 4; }

private:
    uint8_t fSwap;
};

// --- UTF-8 ---

class VToUnicodeConverter_UTF8 : public VToUnicodeConverter {
public:
    // Lead bytes decide the sequence length (up to six bytes). A byte that
    // starts no well-formed sequence (a stray 0x80..0xBF, a lead byte without
    // its continuation bytes, an overlong form) gives the unit of its own
    // value. Encoded surrogates give their unit. A value of 0x110000 or more
    // gives "?" and a false result.
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;
};

class VFromUnicodeConverter_UTF8 : public VFromUnicodeConverter {
public:
    // A high surrogate is combined with the next unit; one at the very end is
    // left unconsumed. A null target only counts the bytes needed.
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    int GetCharSize() const override { return 1; }

    // 32-bit wide text to UTF-8 (up to six bytes per value); a value at or
    // above 0x80000000 stops with false.
    bool ConvertFrom_wchar(const wchar_t* source, int units, int* unitsConsumed, void* target, size_t targetBytes,
                           size_t* bytesProduced);
};

// --- void: converts nothing ---

class VToUnicodeConverter_Void : public VToUnicodeConverter {
public:
    bool IsValid() const override { return false; }
    bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& target) override;
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* target, int targetUnits,
                 int* unitsProduced) override;
    int GetCharSize() const override { return 1; }
};

class VFromUnicodeConverter_Void : public VFromUnicodeConverter {
public:
    bool IsValid() const override { return false; }
    bool Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target, size_t targetBytes,
                 size_t* bytesProduced) override;
    int GetCharSize() const override { return 2; }
};

}  // namespace bkit
