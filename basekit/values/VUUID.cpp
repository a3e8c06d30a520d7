// VUUID.cpp - the UUID value and the descriptor of kind 13.
#include "basekit/values/VUUID.h"
#include "basekit/text/HexDigits.h"

#include <algorithm>
#include <cstring>

#include "basekit/files/VStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/mac/XMacUUID.h"

namespace bkit {

const VUUID VUUID::sNullUUID;
const VUUID_info VUUID::sInfo;

namespace {

constexpr size_t kUUIDSize = sizeof(VUUIDBuffer::fBytes);
constexpr int kUUIDDigits = 2 * kUUIDSize;

static_assert(sizeof(VUUIDBuffer) == 16, "a UUID buffer is its 16 bytes and nothing else");

bool IsZero(const uint8_t* bytes)
{
    return std::all_of(bytes, bytes + kUUIDSize, [](uint8_t b) { return b == 0; });
}

VUUIDBuffer LoadBuffer(const void* data)
{
    VUUIDBuffer buffer;
    std::memcpy(buffer.fBytes, data, kUUIDSize);
    return buffer;
}

CompareResult CompareBytes(const void* a, const void* b)
{
    // memcmp orders bytes as unsigned values, the first difference deciding.
    int result = std::memcmp(a, b, kUUIDSize);
    return result < 0 ? CR_SMALLER : (result > 0 ? CR_BIGGER : CR_EQUAL);
}


void MakeText(const VUUIDBuffer& buffer, VString& text)
{
    static const char kDigits[] = "0123456789ABCDEF";
    UniChar units[kUUIDDigits];
    for (size_t i = 0; i < kUUIDSize; ++i) {
        units[2 * i] = static_cast<UniChar>(kDigits[buffer.fBytes[i] >> 4]);
        units[2 * i + 1] = static_cast<UniChar>(kDigits[buffer.fBytes[i] & 0x0F]);
    }
    text.FromUniString(units, kUUIDDigits);
}

// 16 spaces overwritten from the start by at most 16 UTF-8 bytes of the text.
void FillFromText(const VString& text, VUUIDBuffer& buffer)
{
    std::memset(buffer.fBytes, 0x20, kUUIDSize);
    StStringConverter<char> converter(text, VTC_UTF_8);
    size_t size = std::min<size_t>(converter.GetSize(), kUUIDSize);
    if (size > 0)
        std::memcpy(buffer.fBytes, converter.GetCPointer(), size);
}

}  // namespace

// --- construction and generation ---

VUUID::VUUID() : VValueSingle(true) {}

VUUID::VUUID(bool generate) : VValueSingle(!generate)
{
    if (generate)
        XMacUUID::Generate(&fData);
}

VUUID::VUUID(const VUUIDBuffer& buffer) : VValueSingle(IsZero(buffer.fBytes)), fData(buffer) {}

VUUID::VUUID(const VString& text) : VValueSingle(false)
{
    FromString(text);
}

VUUID::VUUID(const char* text) : VValueSingle(false)
{
    FromBuffer(text);
}

VUUID::VUUID(const VUUID& other) : VValueSingle(other), fData(other.fData) {}

VUUID& VUUID::operator=(const VUUID& other)
{
    FromVUUID(other);
    return *this;
}

VUUID::~VUUID()
{
    delete fCachedText;
}

void VUUID::Regenerate()
{
    XMacUUID::Generate(&fData);
    SetNull(false);
    _Changed();
}

void VUUID::ToBuffer(VUUIDBuffer& buffer) const
{
    buffer = fData;
}

void VUUID::FromBuffer(const VUUIDBuffer& buffer)
{
    fData = buffer;
    SetNull(_IsZero());
    _Changed();
}

void VUUID::FromBuffer(const char* text)
{
    size_t length = text ? std::strlen(text) : 0;
    if (text && length == static_cast<size_t>(kUUIDDigits)) {
        for (size_t i = 0; i < kUUIDSize; ++i) {
            int high = HexDigitValue(static_cast<unsigned char>(text[2 * i]));
            int low = HexDigitValue(static_cast<unsigned char>(text[2 * i + 1]));
            fData.fBytes[i] = static_cast<uint8_t>((std::max(high, 0) << 4) | std::max(low, 0));
        }
    } else if (text && length <= kUUIDSize) {
        std::memset(fData.fBytes, 0, kUUIDSize);
        std::memcpy(fData.fBytes, text, length);
    }
    SetNull(_IsZero());
    _Changed();
}

// --- text ---

void VUUID::GetString(VString& text) const
{
    MakeText(fData, text);
}

const VString* VUUID::GetCachedConvertedString(bool create) const
{
    if (!fCachedText && create) {
        fCachedText = new VString;
        _UpdateCachedText();
    }
    return fCachedText;
}

void VUUID::FromString(const VString& text)
{
    VUUIDBuffer buffer;
    int digits = 0;
    const UniChar* units = text.GetCPointer();
    for (VIndex i = 0, n = text.GetLength(); i < n && digits < kUUIDDigits; ++i) {
        int value = HexDigitValue(units[i]);
        if (value < 0)
            continue;
        uint8_t& byte = buffer.fBytes[digits / 2];
        byte = static_cast<uint8_t>((digits % 2 == 0) ? (value << 4) : (byte | value));
        ++digits;
    }
    if (digits < kUUIDDigits)
        FillFromText(text, buffer);
    fData = buffer;
    SetNull(false);
    _Changed();
}

void VUUID::BuildFromAnsiString(const VString& text)
{
    FillFromText(text, fData);
    SetNull(false);
    _Changed();
}

bool VUUID::IsUUIDString(const VString& text, bool acceptNull)
{
    if (text.GetLength() != kUUIDDigits)
        return false;
    const UniChar* units = text.GetCPointer();
    bool allZero = true;
    for (int i = 0; i < kUUIDDigits; ++i) {
        UniChar c = units[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
        allZero = allZero && c == '0';
    }
    return acceptNull || !allZero;
}

// --- comparison and copying ---

bool VUUID::operator==(const VUUID& other) const
{
    return CompareBytes(fData.fBytes, other.fData.fBytes) == CR_EQUAL;
}

bool VUUID::operator<(const VUUID& other) const
{
    return CompareBytes(fData.fBytes, other.fData.fBytes) == CR_SMALLER;
}

CompareResult VUUID::CompareToSameKind(const VValue* other, bool) const
{
    auto* uuid = dynamic_cast<const VUUID*>(other);
    return uuid ? CompareBytes(fData.fBytes, uuid->fData.fBytes) : CR_UNRELEVANT;
}

CompareResult VUUID::CompareToSameKindPtr(const void* data, bool) const
{
    return CompareBytes(fData.fBytes, data);
}

CompareResult VUUID::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
    return VUUID::CompareToSameKind(other, false);
}

CompareResult VUUID::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions&) const
{
    return CompareBytes(fData.fBytes, data);
}

bool VUUID::EqualToSameKind(const VValue* other, bool) const
{
    auto* uuid = dynamic_cast<const VUUID*>(other);
    return uuid && *this == *uuid;
}

bool VUUID::EqualToSameKindPtr(const void* data, bool) const
{
    return CompareBytes(fData.fBytes, data) == CR_EQUAL;
}

bool VUUID::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
    return VUUID::EqualToSameKind(other, false);
}

bool VUUID::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions&) const
{
    return CompareBytes(fData.fBytes, data) == CR_EQUAL;
}

CompareResult VUUID::CompareTo(const VValueSingle& other, bool diacritical) const
{
    if (other.GetValueKind() != VK_UUID)
        return CR_UNRELEVANT;
    return VUUID::CompareToSameKind(&other, diacritical);
}

void VUUID::FromVUUID(const VUUID& other)
{
    fData = other.fData;
    SetNull(other.IsNull());
    _Changed();
}

bool VUUID::FromValueSameKind(const VValue* other)
{
    auto* uuid = dynamic_cast<const VUUID*>(other);
    if (!uuid)
        return false;
    FromVUUID(*uuid);
    return true;
}

void VUUID::GetVUUID(VUUID& target) const
{
    target.FromVUUID(*this);
}

void VUUID::GetValue(VValueSingle& target) const
{
    target.FromVUUID(*this);
}

void VUUID::FromValue(const VValueSingle& value)
{
    value.GetVUUID(*this);
}

void VUUID::Clear()
{
    fData = VUUIDBuffer();
    SetNull(true);
    _Changed();
}

// --- raw memory and streams ---

VSize VUUID::GetSpace(VSize) const
{
    return kUUIDSize;
}

void* VUUID::WriteToPtr(void* data, bool, VSize) const
{
    std::memcpy(data, fData.fBytes, kUUIDSize);
    return static_cast<uint8_t*>(data) + kUUIDSize;
}

const void* VUUID::LoadFromPtr(const void* data, bool)
{
    FromBuffer(LoadBuffer(data));
    return static_cast<const uint8_t*>(data) + kUUIDSize;
}

VError VUUID::WriteToStream(VStream* stream, int32_t) const
{
    return stream->PutData(fData.fBytes, kUUIDSize);
}

VError VUUID::ReadFromStream(VStream* stream, int32_t)
{
    // Read aside, so that a short read leaves the UUID as it was.
    VUUIDBuffer buffer;
    VError err = stream->GetData(buffer.fBytes, kUUIDSize);
    if (err == VE_OK) {
        fData = buffer;
        SetNull(false);
        _Changed();
    }
    return err;
}

// --- JSON ---

VError VUUID::GetJSONValue(VJSONValue& json, uint32_t) const
{
    if (IsNull()) {
        json.SetNull();
    } else {
        VString text;
        MakeText(fData, text);
        json.SetString(text);
    }
    return VE_OK;
}

VError VUUID::GetJSONString(VString& json, uint32_t options) const
{
    VString text;
    MakeText(fData, text);
    return text.GetJSONString(json, options);
}

VError VUUID::FromJSONValue(const VJSONValue& json)
{
    if (json.IsNull()) {
        Clear();
        return VE_OK;
    }
    VString text;
    VError err = json.GetString(text);
    FromString(text);
    return err;
}

VValue* VUUID::Clone() const
{
    return new VUUID(fData);
}

const VValueInfo* VUUID::GetValueInfo() const
{
    return &sInfo;
}

void VUUID::DoNullChanged()
{
    if (IsNull())
        fData = VUUIDBuffer();
    // A SetNull from outside changes the value without passing by _Changed.
    _UpdateCachedText();
}

void VUUID::_Changed()
{
    _UpdateCachedText();
    SetDirty(true);
}

void VUUID::_UpdateCachedText() const
{
    if (fCachedText) {
        MakeText(fData, *fCachedText);
        fCachedText->SetNull(IsNull());
    }
}

bool VUUID::_IsZero() const
{
    return IsZero(fData.fBytes);
}

// --- VUUID_info ---

VUUID_info::VUUID_info() : VValueInfo(VK_UUID, VK_UUID) {}

VValue* VUUID_info::Generate() const
{
    return new VUUID();
}

VValue* VUUID_info::Generate(VBlob*) const
{
    return new VUUID();
}

VValue* VUUID_info::LoadFromPtr(const void* data, bool) const
{
    return new VUUID(LoadBuffer(data));
}

void* VUUID_info::ByteSwapPtr(void* data, bool) const
{
    return static_cast<uint8_t*>(data) + kUUIDSize;
}

CompareResult VUUID_info::CompareTwoPtrToData(const void* a, const void* b, bool) const
{
    return CompareBytes(a, b);
}

CompareResult VUUID_info::CompareTwoPtrToDataBegining(const void* a, const void* b, bool) const
{
    return CompareBytes(a, b);
}

CompareResult VUUID_info::CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions&) const
{
    return CompareBytes(a, b);
}

VSize VUUID_info::GetSizeOfValueDataPtr(const void*) const
{
    return kUUIDSize;
}

VSize VUUID_info::GetAvgSpace() const
{
    return kUUIDSize;
}

}  // namespace bkit
