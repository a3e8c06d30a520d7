// VString.h - the toolbox's string value: UTF-16 text with shared storage.
//
// This file defines VString, the one text type of the toolbox (value kind 10),
// its sized variants VStr<N> with room for N units inside the object, the
// four-character-code string VOsTypeString, the constant-text wrapper
// CVSTR_struct, the value-kind descriptor VString_info and the scoped UTF-8
// converter StStringConverter<char>.
//
// Contracts:
// - The text is UTF-16 (UniChar), always NUL-terminated in the buffer, except
//   for a string made over a caller's constant text, whose terminator is the
//   caller's. A string carries the null flag of every value; a null string is
//   empty.
// - Positions are 1-based; a search that finds nothing returns 0. Counts that
//   reach past the end of the text are cut at the end; out-of-range positions
//   do nothing (no operation reads or writes outside the text).
// - Copies share one heap block through an atomic share count kept in the
//   block's last four bytes; every change first makes the block private
//   (copy-on-write). A string object itself is not locked and is used by one
//   thread at a time; strings of different threads may share a block.
// - Locale-aware operations (the ones taking a "with diacritics" flag) go
//   through the calling task's international manager and its collator: true
//   compares case and accents, false ignores both; width is always ignored.
// - Room that cannot be had raises 'bkit' 107 (VE_STRING_ALLOC_FAILED) on the
//   calling task's error stack and leaves the text unchanged.
// - Strings made before the memory manager exists (static initialisation) get
//   blocks from malloc that are never shared and never freed.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/values/VValue.h"

namespace bkit {

class VStream;
class VIntlMgr;
class VCollator;
struct VInlineString;
class VJSONObject;
class VJSONValue;
class VValueBag;
class VString_info;
class VArrayString;
class VFromUnicodeConverter;

// Options of VString::GetJSONString.
constexpr uint32_t kJSONWithQuotes = 0x1;                // U+0022 around the text
constexpr uint32_t kJSONNoEscaping = 0x10;               // the text as it is
constexpr uint32_t kJSONEscapeAmpersandAndApos = 0x400;  // '&' and U+0027 escaped too

class VString : public VValueSingle {
public:
    // Buffer marks kept beside the value flags.
    static constexpr uint8_t kBufferNotOwned = 16;   // never freed, never counted
    static constexpr uint8_t kBufferExclusive = 64;  // never shared, freed at once

    // --- construction ---

    // Empty, not null.
    VString();
    // Empty; null when isNull is true.
    explicit VString(bool isNull);
    // Shares the source's heap block when it can, else copies; takes its null flag.
    VString(const VString& source);
    // Takes over the source's heap block; the source is left empty on its
    // inline array and usable. Inline or not-owned text is copied instead.
    VString(VString&& source) noexcept;
    // A string over a caller's buffer, neither copied nor owned. maxBytes is the
    // room of the buffer in bytes (capacity = maxBytes / 2 - 1); pass
    // kConstantText for a read-only constant text of exactly length units. A
    // null buffer gives an empty, null string. The buffer must outlive the string.
    static constexpr unsigned long kConstantText = static_cast<unsigned long>(-1);
    VString(UniChar* buffer, VIndex length, unsigned long maxBytes);
    // Shares the counted buffer of an inline JSON string (count + 1).
    VString(const VInlineString& source);
    // Uses the inline string's buffer without counting it; the inline string
    // must outlive this string.
    VString(const VInlineString& source, bool);
    // One unit, also for 0.
    explicit VString(UniChar c);
    // Copies of UTF-16 units (up to the first 0, or n units); null gives empty.
    VString(const UniChar* text);
    VString(const UniChar* text, VIndex n);
    // A NUL-terminated UTF-8 text (7-bit text widened unit by unit).
    VString(const char* utf8);
    // Each wchar_t keeps its low 16 bits.
    VString(const wchar_t* text);
    // Bytes in a charset (FromBlock).
    VString(const void* bytes, VSize size, CharSet charset);

    ~VString() override;

    VString& operator=(const VString& source) { FromString(source); return *this; }
    VString& operator=(VString&& source) noexcept;
    VString& operator=(const char* utf8) { FromCString(utf8); return *this; }
    VString& operator=(const UniChar* text) { FromUniCString(text); return *this; }

    // A string allocated with operator new with n units of inline room behind
    // its fields; free it with delete.
    static VString* NewString(VIndex n);

    // Unsized allocation functions, so that a string made by NewString (larger
    // than its class) is freed with the size it was allocated with.
    static void* operator new(size_t size) { return ::operator new(size); }
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void* object) { ::operator delete(object); }

    // --- accessors ---

    VIndex GetLength() const { return fLength; }
    bool IsEmpty() const { return fLength == 0; }
    // The terminated text; valid until the string changes.
    const UniChar* GetCPointer() const { return fBuffer; }
    // The buffer for writing units straight in: call _ReallocBuffer(n, keep)
    // first (it makes the buffer private and large enough), write, then Validate.
    UniChar* GetCPointerForWrite() { return fBuffer; }
    // Units the current buffer holds, terminator not counted.
    VIndex GetCapacity() const { return fCapacity; }
    VIndex GetInlineCapacity() const { return fInlineCapacity; }
    uint8_t GetBufferFlags() const { return fBufferFlags; }

    // --- buffer services ---

    // Gives the string a private buffer of capacity >= n; with keep the first
    // min(length, n) units are kept. Writes the terminator after the kept
    // units but leaves the length field to the caller. False, text unchanged,
    // and 'bkit' 107 raised when the room cannot be had.
    bool _ReallocBuffer(VIndex n, bool keep);
    // The heap block size in units that _ReallocBuffer would choose for growing
    // a text of oldLength units to n units; 0 when too large.
    static uint32_t ComputeProgressiveResize(VIndex oldLength, VIndex n);
    // The heap buffer with its count incremented, or null for the inline array,
    // a null string or an exclusive buffer. The caller drops its share with
    // ReleaseSharedBuffer.
    UniChar* _RetainBuffer() const;
    // Makes the buffer private with room for n more units, growing as one
    // append of n units would, so that appends adding up to n units then run
    // in place. False, text unchanged, and 'bkit' 107 raised when the room
    // cannot be had.
    bool _MakeRoomToAppend(VIndex n);
    // Drops the buffer without resetting the fields.
    void _ReleaseBuffer();
    // Drops the buffer and returns to the inline array, empty and terminated;
    // the null flag is left alone.
    void _Clear();
    // As _Clear, then not null and dirty.
    void Clear() override;
    // A counted buffer for an inline JSON string: the shareable heap block with
    // its count incremented, or a new counted copy (tag 'strX'); null with both
    // outputs 0 for an empty or null string or when the copy cannot be made.
    UniChar* RetainBuffer(VIndex* length, VIndex* capacity) const;
    // Drops one share of a counted block of the given capacity, freeing it at 0.
    static void ReleaseSharedBuffer(UniChar* buffer, VIndex capacity);
    // After units were written straight into the buffer: sets the length to n,
    // writes the terminator, clears the null flag. False when n < 0 or n > capacity.
    bool Validate(VIndex n);
    // False when the memory manager rejects the buffer or the terminator is missing.
    bool IsStringValid() const;
    // Exchanges the texts of the two strings.
    void Swap(VString& other);
    // Keeps the first n units (n < 0 counts as 0); with keepPairs a cut
    // inside a surrogate pair keeps the pair out. Shrinks a wasteful block.
    void Truncate(VIndex n, bool keepPairs = false);

    // --- value services ---

    VValue* Clone() const override;
    const VValueInfo* GetValueInfo() const override;
    CharSet DebugDump(char* buffer, int& size) override;
    using VObject::DebugDump;

    // Flat data: signed 32-bit length, then the units, no terminator.
    VSize GetSpace(VSize max = 0) const override;
    void* WriteToPtr(void* dest, bool swap, VSize max = 0) const override;
    const void* LoadFromPtr(const void* src, bool swap) override;
    // Swaps a flat data in place; returns the position after it.
    static void* ByteSwapPtr(void* ptr, bool fromNative);

    // Stream form: int32 minus the length, then the units. Reads the older
    // form (positive length, charset, units with terminator) as well.
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VSize GetSizeInStream() const;

    // --- units ---

    // Unit at pos; 0 when pos is out of 1..length or the string is null.
    UniChar GetUniChar(VIndex pos) const;
    // False when pos is out of 1..length or the string is null.
    bool SetUniChar(VIndex pos, UniChar c);
    // Unit at a 0-based index; 0 outside the text.
    UniChar operator[](VIndex zeroBased) const { return (zeroBased >= 0 && zeroBased < fLength) ? fBuffer[zeroBased] : 0; }

    // Number of units before the first 0; 0 for a null pointer.
    static VIndex UniCStringLength(const UniChar* text);

    // --- appending (each returns the string itself) ---

    // The common case (room left in a buffer this string alone writes) is
    // done inline; growing, sharing and errors take the out-of-line path.
    VString& AppendUniChar(UniChar c)
    {
        const VIndex length = fLength;
        if (length < fCapacity && _CanWriteInPlaceNow()) {
            UniChar* buffer = fBuffer;
            buffer[length] = c;
            buffer[length + 1] = 0;
            _SetLengthNow(length + 1);
            return *this;
        }
        return _AppendUniCharGrowing(c);
    }
    VString& AppendUniChars(const UniChar* units, VIndex n)
    {
        const VIndex length = fLength;
        if (units != nullptr && n > 0 && n <= fCapacity - length && _CanWriteInPlaceNow()) {
            // No reallocation: units inside this buffer stay where they are.
            UniChar* buffer = fBuffer;
            std::memmove(buffer + length, units, static_cast<size_t>(n) * sizeof(UniChar));
            buffer[length + n] = 0;
            _SetLengthNow(length + n);
            return *this;
        }
        return _AppendUniCharsGrowing(units, n);
    }
    VString& AppendUniCString(const UniChar* text);
    VString& AppendString(const VString& s);
    VString& AppendCString(const char* utf8);
    VString& AppendLong(int32_t value);
    VString& AppendLong8(int64_t value);
    VString& AppendULong8(uint64_t value);
    VString& AppendReal(double value);
    VString& AppendOsType(OsType code);
    // Charset 2 copies size / 2 units; other charsets are converted.
    VString& AppendBlock(const void* bytes, VSize size, CharSet charset);
    VString& AppendValue(const VValueSingle& value);

    // --- replacing the whole text ---

    bool FromValueSameKind(const VValue* other) override;
    void FromString(const VString& source) override;
    void FromString(const VInlineString& source);
    // One unit; the empty string for 0.
    void FromUniChar(UniChar c);
    void FromUniString(const UniChar* units, VIndex n);
    void FromUniCString(const UniChar* text);
    void FromCString(const char* utf8);
    void FromBoolean(uint8_t value) override;
    void FromByte(int8_t value) override;
    void FromWord(int16_t value) override;
    void FromLong(int32_t value) override;
    void FromLong8(int64_t value) override;
    void FromULong8(uint64_t value);
    void FromReal(double value) override;
    void FromValue(const VValueSingle& value) override;
    // The text of the duration, time or UUID (its GetString).
    void FromDuration(const VDuration& duration) override;
    void FromTime(const VTime& time) override;
    void FromVUUID(const VUUID& uuid) override;
    void FromOsType(OsType code);

    // Replaces the text with bytes in a charset: 2 copies size / 2 units; every
    // other charset goes through the registry's converter for it (one without
    // a converter gives an empty text). A character cut short at the end is
    // left out. Returns the number of bytes consumed.
    VSize FromBlock(const void* bytes, VSize size, CharSet charset);
    // Writes the text in any charset into buffer of size bytes, whole
    // characters only, with an optional terminator and length prefix (one
    // unit for native UTF-16, one byte otherwise; 0 when it overflows).
    // Returns the text bytes written.
    VSize ToBlock(void* buffer, VSize size, CharSet charset, bool withTerminator, bool withLengthPrefix) const;
    // Replaces the text with bytes read in the charset of their byte-order mark
    // (the mark skipped), else in a charset guessed from zero-byte patterns,
    // else in charset. Returns the charset used.
    CharSet FromBlockWithOptionalBOM(const void* bytes, VSize size, CharSet charset);
    // Empties buffer and converts the whole text into it. False when the
    // charset has no converter or the conversion fails.
    bool ToBuffer(VMemoryBuffer<>& buffer, CharSet charset) const;

    // --- other text forms ---

    // The first four bytes of the text's UTF-8, padded with spaces, read
    // big-endian ("ab" gives the code of "ab  ").
    OsType GetOsType() const;
    // Converts the line ends in place: 2 CR LF, 3 CR, 4 LF; other modes change
    // nothing. False, text unchanged, when the room for CR LF cannot be had.
    bool ConvertCarriageReturns(ECarriageReturnMode mode);
    // Converts the line ends of encoded text in buffer in the code units of
    // its charset (none for charset 0), growing the buffer when needed. False
    // when it cannot grow.
    static bool ConvertCarriageReturns(VMemoryBuffer<>& buffer, CharSet charset, ECarriageReturnMode mode);
    // The value of the hexadecimal digits of the text read from first to last
    // unit; every other unit is skipped ("0x1F" gives 31). 0 for no digits.
    int64_t GetHexLong() const;
    // The text becomes the upper-case hexadecimal digits of value without
    // leading zeros ("0" for 0); with prefixed, zero-padded behind "0x" (64
    // bits: 4, 8 or 16 digits; 32 bits: 4 or 8; 8 bits: 2). Cleared when the
    // room cannot be had.
    void FromHexLong(long long value, bool prefixed = false);
    void FromHexLong(int value, bool prefixed = false);
    void FromHexLong(unsigned char value, bool prefixed = false);
    void FromHexLong(char value, bool prefixed = false);
    // Escapes '&', '<', '>', U+0022 and U+0027 as entities; with
    // escapeControls also units below U+0020 other than tab, LF and CR, and
    // U+007F, as "&#xNN;". Stops at the first zero unit; a text needing no
    // change is left untouched.
    void TranscodeToXML(bool escapeControls = false);
    // Undoes the five entities and "&#x" hexadecimal ";" references (cut to 16
    // bits; 0 stays). Decimal references and unknown entities stay.
    void TranscodeFromXML();
    // out becomes the text escaped for XML (controls kept).
    void GetXMLString(VString& out, uint32_t options = 0) const override;
    // Copies the text and undoes its XML escapes; always true.
    bool FromXMLString(const VString& text) override;
    // out becomes the text escaped for a JSON string; option 0x1 puts it in
    // U+0022 marks, 0x10 escapes nothing, 0x400 also escapes '&' and U+0027.
    // Answers 0, or 'bkit' 107 (raised, out unchanged) when room is lacking.
    VError GetJSONString(VString& out, uint32_t options = 0) const override;
    // The text becomes the content of a JSON string with its escapes undone
    // (option 0x10: a plain copy). Answers 0.
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    // A null string gives a JSON null, any other a JSON string of the text.
    VError GetJSONValue(VJSONValue& out, uint32_t options = 0) const override;
    // A JSON null makes the string null; any other value gives its text.
    VError FromJSONValue(const VJSONValue& value) override;
    // out becomes the text reduced to a JavaScript identifier: '_' before a
    // leading ASCII digit, then only ASCII letters, digits, '_' and '$'.
    void GetCleanJSName(VString& out) const;
    // The text becomes the Base64 of the bytes (one unit per character, no
    // line breaks; urlSafe picks the URL alphabet). False, text unchanged,
    // when the coder fails.
    bool EncodeBase64(const void* bytes, VSize size, bool urlSafe = false);
    // The text in charset replaced by its Base64. True and nothing else for
    // an empty or null text.
    bool EncodeBase64(CharSet charset, bool urlSafe = false);
    // Decodes the units into out. A unit of 128 or more raises 'bkit' 210, a
    // lack of memory 'bkit' 100; both give false.
    bool DecodeBase64(VMemoryBuffer<>& out, bool urlSafe = false) const;
    // The text replaced by its decoded bytes read in charset. True and
    // nothing else for an empty or null text; false, text unchanged, on
    // failure.
    bool DecodeBase64(CharSet charset, bool urlSafe = false);

    // --- reading the text as another value ---

    void GetString(VString& out) const override;
    void GetValue(VValueSingle& out) const override;
    // Hand the text to the target's FromString.
    void GetDuration(VDuration& out) const override;
    void GetTime(VTime& out) const override;
    void GetVUUID(VUUID& out) const override;
    uint8_t GetBoolean() const override;
    int16_t GetWord() const override;
    int32_t GetLong() const override;
    int64_t GetLong8() const override;
    double GetReal() const override;
    double GetRealCheckOverflow(bool* overflow) const;

    // --- editing ---

    // Inserts before pos; pos > length appends; pos < 1 (or c = 0) does nothing.
    void Insert(UniChar c, VIndex pos);
    void Insert(const VString& s, VIndex pos);
    // Removes n units from pos; nothing when pos is out of 1..length or n < 0.
    void Remove(VIndex pos, VIndex n);
    // Replaces n units at pos with s; past the end the text is cut at pos - 1
    // and s appended; nothing when n <= 0 or pos is out of 1..length.
    void Replace(const VString& s, VIndex pos, VIndex n);
    // Keeps only the n units from first; out-of-range arguments leave the text.
    void SubString(VIndex first, VIndex n);
    // Replaces at most count occurrences of c1 by c2 from start.
    void Exchange(UniChar c1, UniChar c2, VIndex start = 1, VIndex count = 0x7FFFFFFF);
    // Replaces at most count non-overlapping exact occurrences from start;
    // returns the number replaced.
    VIndex ExchangeRawString(const VString& pattern, const VString& replacement, VIndex start = 1, VIndex count = 0x7FFFFFFF);
    // The same with occurrences found by the collator (null: the calling task's).
    void Exchange(const VString& pattern, const VString& replacement, VIndex start = 1, VIndex count = 0x7FFFFFFF,
                  bool withDiacritics = false, VCollator* collator = nullptr);

    // --- searching ---

    VIndex FindUniChar(UniChar c, VIndex start = 1, bool backwards = false) const;
    VIndex FindRawString(const VString& s, VIndex start = 1) const;
    // Knuth-Morris-Pratt search over unit arrays: the 1-based position of the
    // first match or 0; an empty pattern matches at 1.
    static VIndex FindRawString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength);
    VIndex Find(const VString& s, VIndex start = 1, bool withDiacritics = false) const;
    bool BeginsWith(const VString& s, bool withDiacritics = false) const;
    bool EndsWith(const VString& s, bool withDiacritics = false) const;
    bool BeginsWithRawString(const VString& s) const;
    bool EndsWithRawString(const VString& s) const;

    // --- substrings (new strings) ---

    VString GetSubString(VIndex first, VIndex n) const;
    void GetSubString(VIndex first, VIndex n, VString& out) const;
    VString Before(VIndex pos) const;
    VString After(VIndex pos) const;

    // --- comparison ---

    bool EqualToStringRaw(const VString& s) const;
    CompareResult CompareToStringRaw(const VString& s) const;
    CompareResult CompareToStringRawCase(const VString& s) const;
    bool EqualToUSASCIICString(const char* text) const;
    CompareResult CompareToString(const VString& s, bool withDiacritics = false) const;
    bool EqualToString(const VString& s, bool withDiacritics = false) const;
    CompareResult CompareToString_Like(const VString& s, bool withDiacritics = false) const;
    bool EqualToString_Like(const VString& s, bool withDiacritics = false) const;
    // Longest common subsequence length over this string's length; 0.0 when
    // either text is empty.
    double SimilarToString(const VString& s) const;

    // Exact unit comparisons, for containers and tests.
    bool operator==(const VString& s) const { return EqualToStringRaw(s); }
    bool operator!=(const VString& s) const { return !EqualToStringRaw(s); }
    bool operator<(const VString& s) const { return CompareToStringRaw(s) < 0; }

    // Value comparisons (the flag is with diacritics).
    CompareResult CompareToSameKind(const VValue* other, bool withDiacritics) const override;
    CompareResult CompareBeginingToSameKind(const VValue* other, bool withDiacritics) const override;
    bool EqualToSameKind(const VValue* other, bool withDiacritics) const override;
    CompareResult CompareToSameKind_Like(const VValue* other, bool withDiacritics) const override;
    CompareResult CompareBeginingToSameKind_Like(const VValue* other, bool withDiacritics) const override;
    bool EqualToSameKind_Like(const VValue* other, bool withDiacritics) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool withDiacritics) const override;
    CompareResult Swap_CompareToSameKindPtr(const void* data, bool withDiacritics) const override;
    CompareResult CompareBeginingToSameKindPtr(const void* data, bool withDiacritics) const override;
    CompareResult IsTheBeginingToSameKindPtr(const void* data, bool withDiacritics) const override;
    bool EqualToSameKindPtr(const void* data, bool withDiacritics) const override;
    CompareResult CompareToSameKindPtr_Like(const void* data, bool withDiacritics) const override;
    CompareResult Swap_CompareToSameKindPtr_Like(const void* data, bool withDiacritics) const override;
    CompareResult CompareBeginingToSameKindPtr_Like(const void* data, bool withDiacritics) const override;
    CompareResult IsTheBeginingToSameKindPtr_Like(const void* data, bool withDiacritics) const override;
    bool EqualToSameKindPtr_Like(const void* data, bool withDiacritics) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    CompareResult CompareTo(const VValueSingle& other, bool withDiacritics) const override;

    // --- case and white space ---

    void ToUpperCase(bool withDiacritics = false);
    void ToLowerCase(bool withDiacritics = false);
    // Both leave the text unchanged here.
    void Compose() {}
    void Decompose() {}
    // Removes the leading and trailing runs of c.
    void TrimUniChar(UniChar c);
    // Without a manager white space is U+0020 and U+0009, with one what its
    // IsSpace accepts. The counts removed go through the optional pointers.
    void RemoveWhiteSpaces(bool leading = true, bool trailing = true, VIndex* leadingCount = nullptr,
                           VIndex* trailingCount = nullptr, VIntlMgr* manager = nullptr, bool flag = false);
    ECarriageReturnMode GetCarriageReturnMode(ECarriageReturnMode defaultMode) const;

    // --- splitting and joining ---

    // Cuts at every unit sep into a cleared vector; true when sep occurs.
    bool GetSubStrings(UniChar sep, std::vector<VString>& out, bool keepEmpty = false, bool trim = false) const;
    // The same into a string array, which is emptied first.
    bool GetSubStrings(UniChar separator, VArrayString& outArray, bool keepEmpty = false,
                       bool trimSpaces = false) const;
    // The same with a separator string found by the collator.
    bool GetSubStrings(const VString& sep, std::vector<VString>& out, bool keepEmpty = false, bool trim = false,
                       bool withDiacritics = false) const;
    bool Join(const std::vector<VString>& parts, UniChar sep);
    bool Join(const std::vector<VString>& parts, const VString& sep);

    // --- dates in text ---

    bool IsISODate() const;
    bool IsNonAmbigousDate() const;

    // --- formatting (implemented with the toolbox formatter) ---

    // Empties the string, then formats; %S takes a VString*, %A a value's
    // text, %V an object's debug dump, besides the standard conversions.
    VString& Printf(const char* format, ...);
    VString& VPrintf(const char* format, va_list args);
    VString& AppendPrintf(const char* format, ...);
    // Fills {name} placeholders from the bag's attributes.
    void Format(const VValueBag* bag, bool removeUnknown);
    // Fills {name} placeholders from the object's properties.
    void Format(const VJSONObject* object, bool removeUnknown);
    // This string is a template with {{path}} placeholders; out gets the result.
    void FormatWithTemplate(const VJSONObject* object, VString& out) const;

    // The process-wide empty, non-null string and the kind-10 descriptor.
    static const VString sEmpty;
    static const VString_info sInfo;

protected:
    // A null string gives up its buffer and returns to its inline array.
    void DoNullChanged() override;

    // For the sized variants: the text starts on the inline array of
    // inlineCapacity + 1 units that the caller provides.
    struct InlineRoom {};
    VString(UniChar* inlineArray, VIndex inlineCapacity, InlineRoom);

    // True when the buffer may be written in place for a text of n units.
    bool _CanWriteInPlace(VIndex n) const { return n <= fCapacity && _CanWriteInPlaceNow(); }
    // True when this string alone writes its current buffer.
    bool _CanWriteInPlaceNow() const
    {
        if (_IsInline() || (fBufferFlags & kBufferExclusive))
            return true;
        // A wrapped buffer that this string does not count belongs to someone else.
        if (fBufferFlags & kBufferNotOwned)
            return false;
        return std::atomic_ref<uint32_t>(*_CountOf(fBuffer, fCapacity)).load(std::memory_order_acquire) < 2;
    }
    // Sets the length of a terminated text, not null and dirty; the flags are
    // written only when they change.
    void _SetLengthNow(VIndex n)
    {
        fLength = n;
        if (IsNull() || !IsDirty())
            _MarkChanged();
    }
    // Not null, dirty.
    void _MarkChanged();
    VString& _AppendUniCharGrowing(UniChar c);
    VString& _AppendUniCharsGrowing(const UniChar* units, VIndex n);
    // Makes the buffer private and able to hold n units, keeping the text.
    bool _EnsurePrivate(VIndex n) { return _CanWriteInPlace(n) || _ReallocBuffer(n, true); }
    // Sets the length, writes the terminator, clears null, sets dirty.
    void _SetLengthAndTerminate(VIndex n);
    // Drops the text for a number setter (gives up a shared or large block).
    void _EmptyForNumber() { _EmptyKeepingRoom(33); }
    // Drops the text; a private heap block of fewer than keepBelow units is
    // kept for the text to come, a shared or larger one is given up.
    void _EmptyKeepingRoom(VIndex keepBelow);
    // Shares or copies the source's text (the FromString rule).
    void _ShareOrCopyFrom(const VString& source);
    // Appends the text of bytes in a charset; returns the bytes consumed
    // (an incomplete character at the end is left).
    VSize _AppendBlock(const void* bytes, VSize size, CharSet charset);
    // True when p points into the first units + 1 units of the buffer; the
    // offset goes to *offset.
    bool _Holds(const UniChar* p, VIndex units, VIndex* offset) const
    {
        uintptr_t begin = reinterpret_cast<uintptr_t>(fBuffer);
        uintptr_t at = reinterpret_cast<uintptr_t>(p);
        if (at < begin || at > begin + static_cast<uintptr_t>(units) * sizeof(UniChar))
            return false;
        *offset = static_cast<VIndex>((at - begin) / sizeof(UniChar));
        return true;
    }
    bool _IsInline() const { return fBuffer == fInlineArray; }
    // The share count of a counted block of the given capacity.
    static uint32_t* _CountOf(UniChar* block, VIndex capacity)
    {
        return reinterpret_cast<uint32_t*>(block + ((capacity | 1) + 1));
    }

private:
    UniChar* fBuffer;
    VIndex fLength;
    VIndex fCapacity;
    VIndex fInlineCapacity;
    UniChar* fInlineArray;
    uint8_t fBufferFlags;
    UniChar fOwnInline[1];
};

// Room for N units in the object: texts of up to N units need no heap block.
template <VIndex N>
struct VStrInlineStorage {
    UniChar fInlineStorage[N + 1];
};

template <VIndex N>
class VStr : private VStrInlineStorage<N>, public VString {
public:
    VStr() : VString(this->fInlineStorage, N, InlineRoom()) {}
    VStr(const VStr& source) : VString(this->fInlineStorage, N, InlineRoom()) { FromString(source); }
    VStr(const VString& source) : VString(this->fInlineStorage, N, InlineRoom()) { FromString(source); }
    VStr(const char* utf8) : VString(this->fInlineStorage, N, InlineRoom()) { FromCString(utf8); }
    VStr(const UniChar* text) : VString(this->fInlineStorage, N, InlineRoom()) { FromUniCString(text); }
    VStr(const UniChar* text, VIndex n) : VString(this->fInlineStorage, N, InlineRoom()) { FromUniString(text, n); }
    explicit VStr(UniChar c) : VString(this->fInlineStorage, N, InlineRoom()) { AppendUniChar(c); }
    ~VStr() override = default;

    VStr& operator=(const VStr& source) { FromString(source); return *this; }
    VStr& operator=(const VString& source) { FromString(source); return *this; }
    VStr& operator=(const char* utf8) { FromCString(utf8); return *this; }
};

using VStr4 = VStr<4>;
using VStr15 = VStr<15>;
using VStr31 = VStr<31>;
using VStr50 = VStr<50>;
using VStr63 = VStr<63>;
using VStr80 = VStr<80>;
using VStr100 = VStr<100>;
using VStr255 = VStr<255>;
using VStr1000 = VStr<1000>;

// A string of inline capacity 4 holding a four-character code as text.
class VOsTypeString : public VStr<4> {
public:
    explicit VOsTypeString(OsType code) { FromOsType(code); }
};

// A string over a constant UTF-16 text, for comparisons with literals. The
// text must outlive the object; the object must not be changed.
class CVSTR_struct : public VString {
public:
    explicit CVSTR_struct(const UniChar* text)
        : VString(const_cast<UniChar*>(text), UniCStringLength(text), kConstantText) {}
};

// A new string: a copy of a with b appended.
VString operator+(const VString& a, const VString& b);

// Free formatting helpers (implemented with the toolbox formatter).
VString Printf(const char* format, ...);
VString ToString(int value);
VString ToString(long long value);
VString ToString(unsigned long long value);
VString ToString(unsigned long value);
// The UTF-8 bytes of the text.
std::string to_string(const VString& text);

// Descriptor of value kind 10.
class VString_info : public VValueInfo {
public:
    VString_info();
    VValue* Generate() const override;
    VValue* Generate(VBlob* blob) const override;
    VValue* LoadFromPtr(const void* data, bool swap) const override;
    void* ByteSwapPtr(void* data, bool fromNative) const override;
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool withDiacritics) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool withDiacritics) const override;
    CompareResult CompareTwoPtrToData_Like(const void* a, const void* b, bool withDiacritics) const override;
    CompareResult CompareTwoPtrToDataBegining_Like(const void* a, const void* b, bool withDiacritics) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions& options) const override;
    VSize GetSizeOfValueDataPtr(const void* data) const override;
    VSize GetAvgSpace() const override;
};

// Scoped conversion of a string to NUL-terminated bytes in a charset. The
// bytes belong to the converter until its next conversion or its end. It
// retains the registry's from-Unicode converter of its charset for its whole
// life: a copy retains the same one, a move takes it over and leaves the
// source without one (its conversions then produce nothing and fail).
class StStringConverterBase : public VObject {
public:
    StStringConverterBase(CharSet charset, ECarriageReturnMode mode);
    StStringConverterBase(const StStringConverterBase& other);
    StStringConverterBase(StStringConverterBase&& other) noexcept;
    StStringConverterBase& operator=(const StStringConverterBase&) = delete;
    ~StStringConverterBase() override;

    // The bytes of the last conversion (terminated) and their count.
    const void* GetCPointer() const { return fBuffer; }
    VSize GetSize() const { return fSize; }
    // Whether the last conversion succeeded.
    bool IsOK() const { return fOK; }

    // A UTF-8 line telling the bytes produced and whether the last conversion
    // succeeded.
    CharSet DebugDump(char* buffer, int& length) override;
    using VObject::DebugDump;

protected:
    ECarriageReturnMode GetMode() const { return fMode; }
    // Converts n units into the buffer, leaving reserve zero bytes after them.
    bool _ConvertString(const UniChar* units, VIndex n, VSize reserve);

private:
    char* fBuffer;
    VSize fSize;
    ECarriageReturnMode fMode;
    bool fOK;
    VSize fCapacity;
    char* fHeapBuffer;
    VFromUnicodeConverter* fConverter;
    char fInlineBuffer[512];
};

template <class T>
class StStringConverter;

template <>
class StStringConverter<char> : public StStringConverterBase {
public:
    StStringConverter(CharSet charset = VTC_UTF_8, ECarriageReturnMode mode = eCRM_NONE)
        : StStringConverterBase(charset, mode) {}
    StStringConverter(const VString& text, CharSet charset = VTC_UTF_8, ECarriageReturnMode mode = eCRM_NONE)
        : StStringConverterBase(charset, mode) { ConvertString(text); }

    // The NUL-terminated bytes of the text in the converter's charset.
    const char* ConvertString(const VString& text);
    const char* GetCPointer() const { return static_cast<const char*>(StStringConverterBase::GetCPointer()); }
};

}  // namespace bkit
