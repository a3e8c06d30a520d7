// VScalars.cpp - the boolean and integer values and the scalar descriptors.
//
// This file implements VBoolean, the shared integer body VScalarInteger and its
// four kinds VByte, VWord, VLong and VLong8, and defines the static descriptors
// of the scalar kinds. VReal lives in VScalarReal.cpp, its descriptor object
// here so that every scalar descriptor registers from one initialiser.
#include "basekit/values/VScalars.h"

#include <cmath>
#include <limits>
#include <type_traits>

#include "basekit/files/VStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"

namespace bkit {

// Objects of one file are built in the order they are defined here, so the
// kinds register as 3, 4, 5, 6, 1, 2, and go away in the reverse order at exit.
// Kind 0 registers from the empty value's own source.
const VValueInfo_scalar<VWord, VK_WORD, int16_t> VWord::sInfo;
const VValueInfo_scalar<VLong, VK_LONG, int32_t> VLong::sInfo;
const VValueInfo_scalar<VLong8, VK_LONG8, int64_t> VLong8::sInfo;
const VReal::VValueInfo_real VReal::sInfo{};
const VValueInfo_scalar<VBoolean, VK_BOOLEAN, uint8_t> VBoolean::sInfo;
const VValueInfo_scalar<VByte, VK_BYTE, int8_t> VByte::sInfo;

// ---------------------------------------------------------------------------
// Integer kinds

template <class TInt>
void VScalarInteger<TInt>::_Set(TInt value)
{
    fValue = value;
    SetNull(false);
    SetDirty(true);
}

template <class TInt>
void VScalarInteger<TInt>::_SetFrom(TInt value, bool null)
{
    fValue = value;
    SetNull(null);
    SetDirty(true);
}

template <class TInt>
void VScalarInteger<TInt>::Clear()
{
    _Set(0);
}

template <class TInt>
VError VScalarInteger<TInt>::FromJSONValue(const VJSONValue& json)
{
    // Only a number that survives the round trip through the payload width is
    // kept; everything else (fractions were floored first) reads as 0.
    TInt value = 0;
    if (!json.IsNull()) {
        double floored = std::floor(json.GetNumber());
        constexpr double kLow = static_cast<double>(std::numeric_limits<TInt>::min());
        if (floored >= kLow && floored < -kLow)
            value = static_cast<TInt>(floored);
    }
    _SetFrom(value, json.IsNull());
    return VE_OK;
}

template <class TInt>
VError VScalarInteger<TInt>::GetJSONValue(VJSONValue& json, uint32_t options) const
{
    (void)options;
    if (IsNull())
        json.SetNull();
    else
        json.SetNumber(static_cast<double>(fValue));
    return VE_OK;
}

template <class TInt>
CompareResult VScalarInteger<TInt>::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return scalar::CompareNumbers(fValue, static_cast<const VScalarInteger*>(other)->fValue);
}

template <class TInt>
bool VScalarInteger<TInt>::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return fValue == static_cast<const VScalarInteger*>(other)->fValue;
}

template <class TInt>
CompareResult VScalarInteger<TInt>::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return scalar::CompareNumbers(fValue, scalar::LoadRaw<TInt>(data));
}

template <class TInt>
bool VScalarInteger<TInt>::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return fValue == scalar::LoadRaw<TInt>(data);
}

template <class TInt>
CompareResult VScalarInteger<TInt>::CompareToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareNumbers(fValue, static_cast<const VScalarInteger*>(other)->fValue);
}

template <class TInt>
bool VScalarInteger<TInt>::EqualToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return fValue == static_cast<const VScalarInteger*>(other)->fValue;
}

template <class TInt>
bool VScalarInteger<TInt>::FromValueSameKind(const VValue* other)
{
    const auto* source = static_cast<const VScalarInteger*>(other);
    _SetFrom(source->fValue, source->IsNull());
    return true;
}

template <class TInt>
CompareResult VScalarInteger<TInt>::CompareToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareNumbers(fValue, scalar::LoadRaw<TInt>(data));
}

template <class TInt>
bool VScalarInteger<TInt>::EqualToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return fValue == scalar::LoadRaw<TInt>(data);
}

template <class TInt>
const void* VScalarInteger<TInt>::LoadFromPtr(const void* data, bool swap)
{
    (void)swap;
    _Set(scalar::LoadRaw<TInt>(data));
    return static_cast<const char*>(data) + sizeof(TInt);
}

template <class TInt>
void* VScalarInteger<TInt>::WriteToPtr(void* data, bool swap, VSize max) const
{
    (void)swap;
    (void)max;
    scalar::StoreRaw<TInt>(data, fValue);
    return static_cast<char*>(data) + sizeof(TInt);
}

template <class TInt>
VSize VScalarInteger<TInt>::GetSpace(VSize max) const
{
    (void)max;
    return sizeof(TInt);
}

template <class TInt>
VError VScalarInteger<TInt>::ReadFromStream(VStream* stream, int32_t param)
{
    (void)param;
    // Read into a local so that a failed read leaves the payload as it was.
    if constexpr (std::is_same_v<TInt, int8_t>) {
        int16_t word = 0;
        if (stream->GetWord(word) == VE_OK)
            fValue = static_cast<int8_t>(word);
    } else {
        TInt value = 0;
        if (stream->Get(value) == VE_OK)
            fValue = value;
    }
    return stream->GetLastError();
}

template <class TInt>
VError VScalarInteger<TInt>::WriteToStream(VStream* stream, int32_t param) const
{
    (void)param;
    if constexpr (std::is_same_v<TInt, int8_t>)
        stream->PutWord(static_cast<int16_t>(fValue));
    else
        stream->Put(fValue);
    return stream->GetLastError();
}

template <class TInt>
VSize VScalarInteger<TInt>::GetStreamSpace() const
{
    // A byte travels as a 16-bit integer.
    return std::is_same_v<TInt, int8_t> ? 2 : sizeof(TInt);
}

// The destination's setter of this kind's own type: bytes and words go as
// words, longs as longs, long8s as long8s.
template <class TInt>
void VScalarInteger<TInt>::GetDuration(VDuration& duration) const
{
    GetValue(duration);
}

template <class TInt>
void VScalarInteger<TInt>::GetString(VString& string) const
{
    GetValue(string);
}

template <class TInt>
void VScalarInteger<TInt>::GetValue(VValueSingle& value) const
{
    if constexpr (sizeof(TInt) <= 2)
        value.FromWord(static_cast<int16_t>(fValue));
    else if constexpr (sizeof(TInt) == 4)
        value.FromLong(fValue);
    else
        value.FromLong8(fValue);
}

template <class TInt>
void VScalarInteger<TInt>::FromReal(double value)
{
    if constexpr (sizeof(TInt) == 8)
        _Set(scalar::TruncToInt64(value));
    else
        _Set(static_cast<TInt>(scalar::TruncToInt32(value)));
}

template <class TInt>
void VScalarInteger<TInt>::FromDuration(const VDuration& duration)
{
    if constexpr (sizeof(TInt) <= 2)
        _SetFrom(static_cast<TInt>(duration.GetWord()), duration.IsNull());
    else if constexpr (sizeof(TInt) == 4)
        _SetFrom(duration.GetLong(), duration.IsNull());
    else
        _SetFrom(duration.GetLong8(), duration.IsNull());
}

template <class TInt>
void VScalarInteger<TInt>::FromString(const VString& string)
{
    // A string's GetWord gives 0 for numbers beyond 16 bits; a word reads the
    // string as a long and keeps the low bits instead.
    if constexpr (sizeof(TInt) == 1)
        _SetFrom(static_cast<TInt>(string.GetWord()), string.IsNull());
    else if constexpr (sizeof(TInt) <= 4)
        _SetFrom(static_cast<TInt>(string.GetLong()), string.IsNull());
    else
        _SetFrom(string.IsNull() ? fValue : string.GetLong8(), string.IsNull());
}

template <class TInt>
void VScalarInteger<TInt>::FromValue(const VValueSingle& value)
{
    if constexpr (sizeof(TInt) <= 2)
        _SetFrom(static_cast<TInt>(value.GetWord()), value.IsNull());
    else if constexpr (sizeof(TInt) == 4)
        _SetFrom(value.GetLong(), value.IsNull());
    else
        _SetFrom(value.GetLong8(), value.IsNull());
}

template <class TInt>
CompareResult VScalarInteger<TInt>::CompareTo(const VValueSingle& other, bool diacritical) const
{
    (void)diacritical;
    if constexpr (sizeof(TInt) == 8)
        return scalar::CompareNumbers(fValue, other.GetLong8());
    else
        return scalar::CompareNumbers(static_cast<int32_t>(fValue), other.GetLong());
}

template class VScalarInteger<int8_t>;
template class VScalarInteger<int16_t>;
template class VScalarInteger<int32_t>;
template class VScalarInteger<int64_t>;

const VValueInfo* VByte::GetValueInfo() const { return &sInfo; }
VValue* VByte::Clone() const { return new VByte(*this); }

const VValueInfo* VWord::GetValueInfo() const { return &sInfo; }
VValue* VWord::Clone() const { return new VWord(*this); }

const VValueInfo* VLong::GetValueInfo() const { return &sInfo; }
VValue* VLong::Clone() const { return new VLong(*this); }

const VValueInfo* VLong8::GetValueInfo() const { return &sInfo; }
VValue* VLong8::Clone() const { return new VLong8(*this); }

// ---------------------------------------------------------------------------
// VBoolean

namespace {

// 1 or 0 for "1", "0", "true", "false" (any ASCII case); -1 for other text.
int ParseBooleanText(const VString& text)
{
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    auto equalsIgnoringCase = [&](const char* word) {
        VIndex i = 0;
        for (; word[i] != 0; ++i) {
            if (i >= length)
                return false;
            UniChar c = units[i];
            if (c >= u'A' && c <= u'Z')
                c = static_cast<UniChar>(c + (u'a' - u'A'));
            if (c != static_cast<UniChar>(word[i]))
                return false;
        }
        return i == length;
    };
    if (length == 1 && units[0] == u'1')
        return 1;
    if (length == 1 && units[0] == u'0')
        return 0;
    if (equalsIgnoringCase("true"))
        return 1;
    if (equalsIgnoringCase("false"))
        return 0;
    return -1;
}

}  // namespace

void VBoolean::_Set(bool value)
{
    fValue = value ? 1 : 0;
    SetNull(false);
    SetDirty(true);
}

const VValueInfo* VBoolean::GetValueInfo() const { return &sInfo; }

void VBoolean::Clear()
{
    _Set(false);
}

VValue* VBoolean::Clone() const { return new VBoolean(*this); }

VError VBoolean::GetJSONString(VString& json, uint32_t options) const
{
    (void)options;
    json.FromCString(fValue ? "true" : "false");
    return VE_OK;
}

VError VBoolean::FromJSONString(const VString& json, uint32_t options)
{
    (void)options;
    if (!FromXMLString(json))
        _Set(false);
    return VE_OK;
}

VError VBoolean::FromJSONValue(const VJSONValue& json)
{
    fValue = json.GetBool() ? 1 : 0;
    SetNull(json.IsNull());
    SetDirty(true);
    return VE_OK;
}

VError VBoolean::GetJSONValue(VJSONValue& json, uint32_t options) const
{
    (void)options;
    if (IsNull())
        json.SetNull();
    else
        json.SetBool(fValue != 0);
    return VE_OK;
}

CompareResult VBoolean::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return scalar::CompareNumbers(fValue, static_cast<const VBoolean*>(other)->fValue);
}

bool VBoolean::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    (void)options;
    return fValue == static_cast<const VBoolean*>(other)->fValue;
}

CompareResult VBoolean::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return scalar::CompareNumbers(fValue, scalar::LoadRaw<uint8_t>(data));
}

bool VBoolean::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    (void)options;
    return fValue == scalar::LoadRaw<uint8_t>(data);
}

CompareResult VBoolean::CompareToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareNumbers(fValue, static_cast<const VBoolean*>(other)->fValue);
}

bool VBoolean::EqualToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return fValue == static_cast<const VBoolean*>(other)->fValue;
}

bool VBoolean::FromValueSameKind(const VValue* other)
{
    const auto* source = static_cast<const VBoolean*>(other);
    fValue = source->fValue;
    SetNull(source->IsNull());
    SetDirty(true);
    return true;
}

CompareResult VBoolean::CompareToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareNumbers(fValue, scalar::LoadRaw<uint8_t>(data));
}

bool VBoolean::EqualToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return fValue == scalar::LoadRaw<uint8_t>(data);
}

const void* VBoolean::LoadFromPtr(const void* data, bool swap)
{
    (void)swap;
    _Set(scalar::LoadRaw<uint8_t>(data) != 0);
    return static_cast<const char*>(data) + 1;
}

void* VBoolean::WriteToPtr(void* data, bool swap, VSize max) const
{
    (void)swap;
    (void)max;
    scalar::StoreRaw<uint8_t>(data, fValue ? 1 : 0);
    return static_cast<char*>(data) + 1;
}

VError VBoolean::ReadFromStream(VStream* stream, int32_t param)
{
    (void)param;
    int16_t word = 0;
    if (stream->GetWord(word) == VE_OK)
        fValue = (word != 0) ? 1 : 0;
    return stream->GetLastError();
}

VError VBoolean::WriteToStream(VStream* stream, int32_t param) const
{
    (void)param;
    stream->PutWord(fValue ? 1 : 0);
    return stream->GetLastError();
}

void VBoolean::GetDuration(VDuration& duration) const { duration.FromBoolean(fValue); }
void VBoolean::GetString(VString& string) const { string.FromBoolean(fValue); }
void VBoolean::GetValue(VValueSingle& value) const { value.FromBoolean(fValue); }

void VBoolean::FromDuration(const VDuration& duration)
{
    fValue = duration.GetBoolean() ? 1 : 0;
    SetNull(duration.IsNull());
    SetDirty(true);
}

void VBoolean::FromString(const VString& string)
{
    fValue = string.GetBoolean() ? 1 : 0;
    SetNull(string.IsNull());
    SetDirty(true);
}

void VBoolean::FromValue(const VValueSingle& value)
{
    fValue = value.GetBoolean() ? 1 : 0;
    SetNull(value.IsNull());
    SetDirty(true);
}

void VBoolean::GetXMLString(VString& string, uint32_t options) const
{
    (void)options;
    string.FromCString(fValue ? "true" : "false");
}

bool VBoolean::FromXMLString(const VString& string)
{
    int parsed = ParseBooleanText(string);
    if (parsed < 0)
        return false;
    _Set(parsed == 1);
    return true;
}

CompareResult VBoolean::CompareTo(const VValueSingle& other, bool diacritical) const
{
    (void)diacritical;
    uint8_t otherValue = other.GetBoolean() ? 1 : 0;
    return scalar::CompareNumbers(fValue, otherValue);
}

}  // namespace bkit
