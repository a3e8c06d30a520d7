// VUUID.h - the UUID value.
//
// This file defines VUUIDBuffer, the 16 bytes of a UUID in stored order;
// VUUID, the value of kind 13 that holds them, with its text, raw-memory,
// stream and JSON forms; and VUUID_info, the descriptor of kind 13.
//
// Contracts:
// - Text form: 32 upper-case hexadecimal digits, two per byte in stored order,
//   high nibble first, without dashes or braces. FromString reads any text
//   holding 32 hexadecimal digits (in either case) and skips every other
//   character.
// - Null: built from 16 zero bytes (constructors, FromBuffer, LoadFromPtr,
//   Clone) a UUID is null; reading it from text or from a stream, or
//   generating it, always leaves it not null, even with 16 zero bytes. Setting
//   it null or clearing it makes the bytes 0. Every change leaves it dirty.
// - Raw-memory and stream forms: the 16 bytes as stored, never byte-swapped.
// - Equality and order look at the bytes only, never at the null flag; the
//   order is that of the bytes as unsigned numbers, the first deciding.
// - The cached text (GetCachedConvertedString) belongs to the UUID and follows
//   every change of it; the pointer stays valid until the UUID is destroyed.
// - Clone and the descriptor's Generate and LoadFromPtr hand a new value to the
//   caller, who deletes it. A UUID is not thread-safe: one task owns it at a
//   time; the generator itself may be called from any thread.
#pragma once

#include <cstdint>

#include "basekit/values/VValue.h"

namespace bkit {

class VUUID_info;

// The 16 bytes of a UUID in stored order.
struct VUUIDBuffer {
    uint8_t fBytes[16] = {};
};

class VUUID : public VValueSingle {
public:
    // Null (16 zero bytes).
    VUUID();
    // true: a new UUID from the platform's generator, not null; false: null.
    explicit VUUID(bool generate);
    // The bytes; null when all are 0.
    explicit VUUID(const VUUIDBuffer& buffer);
    // FromString(text).
    explicit VUUID(const VString& text);
    // FromBuffer(text).
    explicit VUUID(const char* text);
    // The bytes and the null flag; the cached text is not copied.
    VUUID(const VUUID& other);
    VUUID& operator=(const VUUID& other);
    ~VUUID() override;

    // New bytes from the generator; not null. When the platform cannot make
    // one the bytes stay as they were (still not null).
    void Regenerate();

    void ToBuffer(VUUIDBuffer& buffer) const;
    // Copies the bytes in; null when all are 0.
    void FromBuffer(const VUUIDBuffer& buffer);
    // By the length of text: exactly 32 characters are read as hexadecimal
    // digits (any other character counts as 0); 16 or fewer are taken as raw
    // bytes padded with zeros; any other length (or null) leaves the bytes.
    // Then null when all bytes are 0.
    void FromBuffer(const char* text);

    // --- text ---

    // The text form (32 zeros for a null UUID).
    void GetString(VString& text) const override;
    // The cached text form, made when there is none and create is true (null
    // otherwise). It carries the UUID's null flag.
    const VString* GetCachedConvertedString(bool create = true) const;
    // Takes the first 32 hexadecimal digits of the text, skipping everything
    // else. With fewer, the bytes become 16 spaces overwritten from the start
    // by the text's UTF-8 bytes (at most 16). Not null either way.
    void FromString(const VString& text) override;
    // Always the second form of FromString.
    void BuildFromAnsiString(const VString& text);
    // Exactly 32 characters '0' to '9' or 'A' to 'F' (upper case only); 32
    // zeros count only with acceptNull.
    static bool IsUUIDString(const VString& text, bool acceptNull = false);

    // --- comparison and copying ---

    bool operator==(const VUUID& other) const;
    bool operator!=(const VUUID& other) const { return !(*this == other); }
    bool operator<(const VUUID& other) const;

    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    // CR_UNRELEVANT against any other kind.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    // The bytes and the null flag.
    void FromVUUID(const VUUID& other) override;
    bool FromValueSameKind(const VValue* other) override;
    // The target's FromVUUID with this UUID.
    void GetVUUID(VUUID& target) const override;
    void GetValue(VValueSingle& target) const override;
    // The value's GetVUUID into this UUID.
    void FromValue(const VValueSingle& value) override;
    // 16 zero bytes, null.
    void Clear() override;

    // --- raw memory and streams ---

    VSize GetSpace(VSize max = 0) const override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;
    // Not null afterwards; answers the stream's error.
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;

    // --- JSON ---

    // JSON null for a null UUID, else a JSON string of the text form.
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;
    // The text form through the string's JSON writer.
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // JSON null: null; anything else read as text with FromString.
    VError FromJSONValue(const VJSONValue& json) override;

    VValue* Clone() const override;
    const VValueInfo* GetValueInfo() const override;

    static const VUUID sNullUUID;
    static const VUUID_info sInfo;

protected:
    // A UUID that becomes null gets 16 zero bytes.
    void DoNullChanged() override;

private:
    // After any change of the bytes or the null flag: rewrites the cached text
    // and marks the value dirty.
    void _Changed();
    void _UpdateCachedText() const;
    bool _IsZero() const;

    VUUIDBuffer fData;
    mutable VString* fCachedText = nullptr;
};

// Descriptor of kind 13.
class VUUID_info : public VValueInfo {
public:
    VUUID_info();

    // A new null UUID.
    VValue* Generate() const override;
    VValue* Generate(VBlob* blob) const override;
    // A new UUID of the 16 bytes at data (null when all are 0).
    VValue* LoadFromPtr(const void* data, bool swap) const override;
    // Nothing to swap; answers the address behind the 16 bytes.
    void* ByteSwapPtr(void* data, bool fromNative) const override;
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions& options) const override;
    VSize GetSizeOfValueDataPtr(const void* data) const override;
    VSize GetAvgSpace() const override;
};

}  // namespace bkit
