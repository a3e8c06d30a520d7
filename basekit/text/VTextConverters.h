// VTextConverters.h - the process-wide registry of text converters and charsets.
//
// This file defines VTextConverters, which hands out a converter for every
// CharSet, converts blocks of bytes to and from strings, handles byte-order
// marks, guesses the charset of unmarked text and answers the table of charset
// names with their IANA MIBenum numbers.
//
// Contracts:
// - Retain... converters come with one reference for the caller, who releases
//   it; they are never null: an unknown or unsupported CharSet gives a void
//   converter, whose conversions produce nothing and return false.
//   Get...Converter hands out a shared converter without a reference.
// - The instance is created by the first Get and lives until the process ends.
//   Every operation, the first Get included, may be called from any thread at
//   once (creation happens once; shared converters hold no conversion state).
// - Name lookups compare case- and accent-insensitively through the calling
//   task's collator; the first matching row of the table wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VString;
class VToUnicodeConverter;
class VFromUnicodeConverter;

class VTextConverters : public VObject {
public:
    // The instance, created on the first call.
    static VTextConverters* Get();

    // Releases the twelve shared converters (only ever called at the end of a
    // test or a program that deletes the instance itself).
    ~VTextConverters() override;

    // A converter with one reference for the caller, never null.
    VToUnicodeConverter* RetainToUnicodeConverter(CharSet charSet);
    VFromUnicodeConverter* RetainFromUnicodeConverter(CharSet charSet);

    // The shared UTF-8 converters used for standard-library text; not retained.
    VToUnicodeConverter* GetStdLibToUnicodeConverter() const { return fToUTF8; }
    VFromUnicodeConverter* GetStdLibFromUnicodeConverter() const { return fFromUTF8; }

    // Empties out, then converts size bytes in charSet into it; returns the
    // converter's result. Native UTF-16 is copied directly.
    bool ConvertToVString(const void* bytes, size_t size, CharSet charSet, VString& out);
    // Converts the text into targetBytes bytes in charSet, stopping when the
    // room is full; both counts are optional.
    bool ConvertFromVString(const VString& text, int* unitsConsumed, void* target, size_t targetBytes,
                            size_t* bytesProduced, CharSet charSet);

    // --- byte-order marks and guessing ---

    // The charset of a byte-order mark at the start of bytes and the mark's
    // length; false (length 0, charset 0) when there is none. Both outputs
    // are optional.
    static bool ParseBOM(const void* bytes, size_t size, size_t* bomBytes, CharSet* charSet);
    // The mark of charSet (UTF-16, UTF-32 and UTF-8 forms), or null and length
    // 0 for every other charset.
    static const uint8_t* GetBOMForCharSet(CharSet charSet, size_t* length);
    // True when bytes are well-formed UTF-8 (RFC 3629) to their end; true for
    // no bytes.
    static bool DetectUTF8(const uint8_t* bytes, int size);
    // Guesses the charset of text without a mark: UTF-16 from zero-byte
    // patterns, UTF-8 from the first 2048 bytes when detectUTF8 is set. On a
    // guess sets *charSet and answers true; otherwise *charSet (the caller's
    // default) is left as it is.
    static bool GuessCharsetWithNoBom(const void* bytes, int size, CharSet* charSet, bool detectUTF8);

    // --- charset names ---

    // The canonical name of charSet; empty when the table has none.
    static void GetNameFromCharSet(CharSet charSet, VString& name);
    // 0 when the name is unknown.
    static CharSet GetCharSetFromName(const VString& name);
    static int GetMIBEnumFromCharSet(CharSet charSet);
    static int GetMIBEnumFromName(const VString& name);
    static CharSet GetCharSetFromMIBEnum(int mibEnum);
    static void GetNameFromMIBEnum(int mibEnum, VString& name);
    // Replace the vectors' contents: the names offered to web clients in table
    // order; every charset once, sorted by name.
    static void EnumWebCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets);
    static void EnumCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets);

    // The instance once Get has created it (null before).
    static VTextConverters* sInstance;

private:
    VTextConverters();
    VTextConverters(const VTextConverters&) = delete;
    VTextConverters& operator=(const VTextConverters&) = delete;

    VToUnicodeConverter* fToDefault;
    VFromUnicodeConverter* fFromDefault;
    VToUnicodeConverter* fToNull;
    VFromUnicodeConverter* fFromNull;
    VToUnicodeConverter* fToSwap;
    VFromUnicodeConverter* fFromSwap;
    VToUnicodeConverter* fToUTF32Raw;
    VFromUnicodeConverter* fFromUTF32Raw;
    VToUnicodeConverter* fToUTF32;
    VFromUnicodeConverter* fFromUTF32;
    VToUnicodeConverter* fToUTF8;
    VFromUnicodeConverter* fFromUTF8;
};

}  // namespace bkit
