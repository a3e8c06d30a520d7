// VScalars.h - the boolean, integer and double values and their descriptors.
//
// This file defines the fixed-size kinds of the value model: VBoolean (kind 1),
// VByte (2), VWord (3), VLong (4), VLong8 (5) and VReal (6), each a
// VValueSingle holding one machine number; the descriptor template
// VValueInfo_scalar that each kind's static sInfo is made of; and
// MAPM_FloatToReal, the reader of a stored arbitrary-precision decimal number.
//
// Contracts:
// - A new scalar is 0, not null and dirty. Every setter leaves the value dirty;
//   setters taking a plain number clear the null flag, setters taking another
//   value take over its null flag.
// - Narrowing keeps the low bits of the target width (no clamping). Doubles are
//   truncated toward zero; a double beyond the range of the integer it is
//   truncated to saturates at that integer's limit, and NaN gives 0.
// - Getters that fill another value call the destination's setter of this
//   value's own type, so the destination decides the conversion.
// - The raw memory form is the payload in the machine's byte order (a boolean
//   is one byte 0 or 1); the values never apply the swap flag there. The
//   byte-stream form follows the stream's byte order; booleans and bytes are
//   streamed as 16-bit integers. The null flag is in neither form.
// - Reals compare equal within 1e-6 (within the options' epsilon for the
//   WithOptions forms); a NaN on either side compares smaller.
// - Clone and the descriptors' Generate and LoadFromPtr hand a new value to the
//   caller, who deletes it. Values are not thread-safe.
#pragma once

#include <cstdint>

#include "basekit/values/VScalarConvert.h"
#include "basekit/values/VValue.h"

namespace bkit {

// Descriptor of a kind whose raw form is one number of type TRaw.
template <class TValue, ValueKind kKind, class TRaw>
class VValueInfo_scalar : public VValueInfo {
public:
    VValueInfo_scalar() : VValueInfo(kKind) {}

    // A new value 0.
    VValue* Generate() const override { return new TValue(); }
    VValue* Generate(VBlob* blob) const override { (void)blob; return new TValue(); }
    // A new value of the raw payload, taken as it is (never swapped).
    VValue* LoadFromPtr(const void* data, bool swap) const override
    {
        (void)swap;
        return new TValue(static_cast<const TRaw*>(data), false);
    }
    // Reverses the bytes of the payload whatever the flag says.
    void* ByteSwapPtr(void* data, bool fromNative) const override
    {
        (void)fromNative;
        if constexpr (sizeof(TRaw) > 1)
            scalar::ReverseBytes(data, sizeof(TRaw));
        return static_cast<char*>(data) + sizeof(TRaw);
    }
    // Signed comparison (unsigned for the boolean); the flag is ignored.
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const override
    {
        (void)diacritical;
        return scalar::CompareNumbers(scalar::LoadRaw<TRaw>(a), scalar::LoadRaw<TRaw>(b));
    }
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical) const override
    {
        return VValueInfo_scalar::CompareTwoPtrToData(a, b, diacritical);
    }
    // The exact comparison; the options are ignored.
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions& options) const override
    {
        (void)options;
        return scalar::CompareNumbers(scalar::LoadRaw<TRaw>(a), scalar::LoadRaw<TRaw>(b));
    }
    VSize GetSizeOfValueDataPtr(const void* data) const override { (void)data; return sizeof(TRaw); }
    VSize GetAvgSpace() const override { return sizeof(TRaw); }
};

// Shared body of the four integer kinds; TInt is the payload type. Only the
// concrete classes below are ever instantiated.
template <class TInt>
class VScalarInteger : public VValueSingle {
public:
    using Payload = TInt;

    TInt Get() const { return fValue; }

    void Clear() override;

    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;

    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    bool FromValueSameKind(const VValue* other) override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;

    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    VSize GetSpace(VSize max = 0) const override;
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;
    VSize GetStreamSpace() const override;
    bool CanBeEvaluated() const override { return true; }

    uint8_t GetBoolean() const override { return fValue != 0; }
    int8_t GetByte() const override { return static_cast<int8_t>(fValue); }
    int16_t GetWord() const override { return static_cast<int16_t>(fValue); }
    int32_t GetLong() const override { return static_cast<int32_t>(fValue); }
    int64_t GetLong8() const override { return static_cast<int64_t>(fValue); }
    double GetReal() const override { return static_cast<double>(fValue); }
    void GetDuration(VDuration& duration) const override;
    void GetString(VString& string) const override;
    void GetValue(VValueSingle& value) const override;

    void FromBoolean(uint8_t value) override { _Set(static_cast<TInt>(value)); }
    void FromByte(int8_t value) override { _Set(static_cast<TInt>(value)); }
    void FromWord(int16_t value) override { _Set(static_cast<TInt>(value)); }
    void FromLong(int32_t value) override { _Set(static_cast<TInt>(value)); }
    void FromLong8(int64_t value) override { _Set(static_cast<TInt>(value)); }
    void FromReal(double value) override;
    void FromDuration(const VDuration& duration) override;
    void FromString(const VString& string) override;
    void FromValue(const VValueSingle& value) override;

    // Against any single value, read through GetLong (GetLong8 for VLong8).
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

protected:
    explicit VScalarInteger(TInt value = 0) : fValue(value) {}
    VScalarInteger(const TInt* data, bool init) : fValue(init ? 0 : scalar::LoadRaw<TInt>(data)) {}
    VScalarInteger(const VScalarInteger&) = default;
    VScalarInteger& operator=(const VScalarInteger&) = default;

    // Stores a plain number: not null, dirty.
    void _Set(TInt value);
    // Stores a number read from another value, taking its null flag; dirty.
    void _SetFrom(TInt value, bool null);

    TInt fValue;
};

extern template class VScalarInteger<int8_t>;
extern template class VScalarInteger<int16_t>;
extern template class VScalarInteger<int32_t>;
extern template class VScalarInteger<int64_t>;

// Signed 8-bit integer (kind 2); streamed as a sign-extended 16-bit integer.
class VByte : public VScalarInteger<int8_t> {
public:
    explicit VByte(int8_t value = 0) : VScalarInteger(value) {}
    // With init false the payload is copied from data; with init true data is
    // ignored and the value is 0.
    VByte(const int8_t* data, bool init) : VScalarInteger(data, init) {}
    VByte(const VByte&) = default;
    VByte& operator=(const VByte&) = default;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;

    static const VValueInfo_scalar<VByte, VK_BYTE, int8_t> sInfo;
};

// Signed 16-bit integer (kind 3).
class VWord : public VScalarInteger<int16_t> {
public:
    explicit VWord(int16_t value = 0) : VScalarInteger(value) {}
    VWord(const int16_t* data, bool init) : VScalarInteger(data, init) {}
    VWord(const VWord&) = default;
    VWord& operator=(const VWord&) = default;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;

    static const VValueInfo_scalar<VWord, VK_WORD, int16_t> sInfo;
};

// Signed 32-bit integer (kind 4).
class VLong : public VScalarInteger<int32_t> {
public:
    explicit VLong(int32_t value = 0) : VScalarInteger(value) {}
    VLong(const int32_t* data, bool init) : VScalarInteger(data, init) {}
    VLong(const VLong&) = default;
    VLong& operator=(const VLong&) = default;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;

    static const VValueInfo_scalar<VLong, VK_LONG, int32_t> sInfo;
};

// Signed 64-bit integer (kind 5). Reading a null string leaves the number.
class VLong8 : public VScalarInteger<int64_t> {
public:
    explicit VLong8(int64_t value = 0) : VScalarInteger(value) {}
    VLong8(const int64_t* data, bool init) : VScalarInteger(data, init) {}
    VLong8(const VLong8&) = default;
    VLong8& operator=(const VLong8&) = default;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;

    static const VValueInfo_scalar<VLong8, VK_LONG8, int64_t> sInfo;
};

// Boolean (kind 1): one byte, 0 or 1; streamed as a 16-bit integer.
class VBoolean : public VValueSingle {
public:
    explicit VBoolean(bool value = false) : fValue(value ? 1 : 0) {}
    VBoolean(const uint8_t* data, bool init) : fValue((init || scalar::LoadRaw<uint8_t>(data) == 0) ? 0 : 1) {}
    VBoolean(const VBoolean&) = default;
    VBoolean& operator=(const VBoolean&) = default;

    bool Get() const { return fValue != 0; }

    const VValueInfo* GetValueInfo() const override;
    void Clear() override;

    // The payload as "true" or "false", whatever the null flag.
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // Reads as FromXMLString; text it refuses gives false. Not null; answers 0.
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;

    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    bool FromValueSameKind(const VValue* other) override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;

    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    VSize GetSpace(VSize max = 0) const override { (void)max; return 1; }
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;
    VSize GetStreamSpace() const override { return 2; }
    VValue* Clone() const override;
    bool CanBeEvaluated() const override { return true; }

    uint8_t GetBoolean() const override { return fValue; }
    int8_t GetByte() const override { return static_cast<int8_t>(fValue); }
    int16_t GetWord() const override { return fValue; }
    int32_t GetLong() const override { return fValue; }
    int64_t GetLong8() const override { return fValue; }
    double GetReal() const override { return fValue ? 1.0 : 0.0; }
    void GetDuration(VDuration& duration) const override;
    void GetString(VString& string) const override;
    void GetValue(VValueSingle& value) const override;

    void FromBoolean(uint8_t value) override { _Set(value != 0); }
    void FromByte(int8_t value) override { _Set(value != 0); }
    void FromWord(int16_t value) override { _Set(value != 0); }
    void FromLong(int32_t value) override { _Set(value != 0); }
    void FromLong8(int64_t value) override { _Set(value != 0); }
    // Anything but 0.0 and -0.0 is true, NaN included.
    void FromReal(double value) override { _Set(value != 0.0); }
    void FromDuration(const VDuration& duration) override;
    void FromString(const VString& string) override;
    void FromValue(const VValueSingle& value) override;

    // "true" or "false".
    void GetXMLString(VString& string, uint32_t options = 0) const override;
    // Accepts "1", "0", and "true" or "false" in any ASCII case; other text
    // answers false and leaves the value as it was.
    bool FromXMLString(const VString& string) override;

    // False is smaller than true; the other is read through GetBoolean.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    static const VValueInfo_scalar<VBoolean, VK_BOOLEAN, uint8_t> sInfo;

private:
    void _Set(bool value);

    uint8_t fValue;
};

// IEEE 754 double (kind 6).
class VReal : public VValueSingle {
public:
    class VValueInfo_real;

    explicit VReal(double value = 0.0) : fValue(value) {}
    VReal(const double* data, bool init) : fValue(init ? 0.0 : scalar::LoadRaw<double>(data)) {}
    VReal(const VReal&) = default;
    VReal& operator=(const VReal&) = default;

    double Get() const { return fValue; }

    const VValueInfo* GetValueInfo() const override;
    void Clear() override;

    // RealToJSONString of the payload; answers 0.
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // Reads as FromXMLString; text it refuses gives 0.0. Not null; answers 0.
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    // A JSON null only sets the null flag and keeps the number.
    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;

    // Equal within the options' epsilon.
    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    // Equal within 1e-6.
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    bool FromValueSameKind(const VValue* other) override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;

    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    VSize GetSpace(VSize max = 0) const override { (void)max; return sizeof(double); }
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override { return true; }

    // Non-zero (NaN included) is true.
    uint8_t GetBoolean() const override { return fValue != 0.0; }
    // Truncated toward zero to 32 bits, then the low 8 or 16 bits.
    int8_t GetByte() const override { return static_cast<int8_t>(scalar::TruncToInt32(fValue)); }
    int16_t GetWord() const override { return static_cast<int16_t>(scalar::TruncToInt32(fValue)); }
    int32_t GetLong() const override { return scalar::TruncToInt32(fValue); }
    int64_t GetLong8() const override { return scalar::TruncToInt64(fValue); }
    double GetReal() const override { return fValue; }
    void GetDuration(VDuration& duration) const override;
    void GetString(VString& string) const override;
    void GetValue(VValueSingle& value) const override;

    void FromBoolean(uint8_t value) override { _Set(static_cast<double>(value)); }
    void FromByte(int8_t value) override { _Set(static_cast<double>(value)); }
    void FromWord(int16_t value) override { _Set(static_cast<double>(value)); }
    void FromLong(int32_t value) override { _Set(static_cast<double>(value)); }
    void FromLong8(int64_t value) override { _Set(static_cast<double>(value)); }
    void FromReal(double value) override { _Set(value); }
    // The duration in seconds.
    void FromDuration(const VDuration& duration) override;
    // A null string leaves the number and makes the value null.
    void FromString(const VString& string) override;
    void FromValue(const VValueSingle& value) override;

    // RealToXMLString of the payload.
    void GetXMLString(VString& string, uint32_t options = 0) const override;
    // Reads a decimal number (',' taken as '.'), which must fill the whole
    // text; an empty text is 0.0. Refused text answers false and leaves the
    // value as it was.
    bool FromXMLString(const VString& string) override;

    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    // Integral values within +-(2^53 - 1) as integers, "NaN", "INF", "-INF",
    // else "%.14G" with '.' as the decimal point whatever the locale.
    static void RealToXMLString(double value, VString& out);
    // As RealToXMLString, but NaN and the infinities give "null".
    static void RealToJSONString(double value, VString& out);
    // The same text as ASCII into out, which has room for kRealTextRoom
    // chars (no terminator); returns its length.
    static constexpr size_t kRealTextRoom = 32;
    static size_t RealToJSONChars(double value, char* out);

    static const VValueInfo_real sInfo;

private:
    void _Set(double value);

    double fValue;
};

// Descriptor of kind 6. CompareTwoPtrToData is equal within 1e-6 without
// diacritical and exact with it; the WithOptions form sorts NaN before every
// number (two NaN are equal) and is equal within the options' epsilon unless
// their diacritical flag asks for the exact comparison.
class VReal::VValueInfo_real : public VValueInfo_scalar<VReal, VK_REAL, double> {
public:
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions& options) const override;
};

// The double of a decimal number stored in the MAPM layout: signed 32-bit
// exponent, signed 8-bit sign (1, 0, -1), signed 32-bit digit count, then the
// digits two per byte (0 to 99), packed in the machine's byte order. Numbers
// this reader does not support give 0.0: a nonzero sign with fewer than one
// digit, or a digit byte above 99. Digits beyond the first 400 are ignored
// (they cannot change a double by more than its last bit's rounding).
// Thread-safe.
double MAPM_FloatToReal(const void* data);

}  // namespace bkit
