// VValue.cpp - the value base, its single and multiple forms, and the registry.
//
// This file implements the defaults of VValue and VValueSingle, the kind
// registry, the base of the value descriptors and VCompareOptions.
#include "basekit/values/VValue.h"

#include <cstring>

#include "basekit/files/VStream.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"
#include "basekit/values/VEmpty.h"

#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VUUID.h"

namespace bkit {

// --- VCompareOptions ---

VCompareOptions::VCompareOptions() : fIntlMgr(VTask::GetCurrentIntlManager()) {}

VError VCompareOptions::ToJSON(VJSONObject* object) const
{
    if (object)
        object->SetPropertyAsBool(VString("diacritical"), fDiacritical);
    return VE_OK;
}

VError VCompareOptions::FromJSON(VJSONObject* object)
{
    if (object) {
        VJSONValue value = object->GetProperty(VString("diacritical"));
        if (value.IsBool())
            fDiacritical = value.IsTrue();
    }
    return VE_OK;
}

// --- VValue: flags ---

void VValue::SetNull(bool null)
{
    if (IsNull() == null)
        return;
    auto applyNull = [this, null] {
        fFlags = static_cast<uint8_t>(null ? (fFlags | kNullFlag) : (fFlags & ~kNullFlag));
    };
    applyNull();
    DoNullChanged();
    applyNull();  // the hook may not undo the change
    if (!IsDirty()) {
        fFlags = static_cast<uint8_t>(fFlags | kDirtyFlag);
        DoDirtyChanged();
    }
}

void VValue::SetDirty(bool dirty)
{
    if (IsDirty() == dirty)
        return;
    fFlags = static_cast<uint8_t>(dirty ? (fFlags | kDirtyFlag) : (fFlags & ~kDirtyFlag));
    DoDirtyChanged();
}

ValueKind VValue::GetValueKind() const
{
    return GetValueInfo()->GetKind();
}

// --- VValue: registry ---

std::map<ValueKind, const VValueInfo*>* VValue::sInfos = nullptr;

void VValue::RegisterValueInfo(const VValueInfo* info)
{
    if (!info)
        return;
    if (!sInfos)
        sInfos = new std::map<ValueKind, const VValueInfo*>;
    (*sInfos)[info->GetKey()] = info;
}

void VValue::UnregisterValueInfo(const VValueInfo* info)
{
    if (info && sInfos)
        sInfos->erase(info->GetKey());
}

const VValueInfo* VValue::ValueInfoFromValueKind(ValueKind kind)
{
    if (!sInfos)
        return nullptr;
    auto it = sInfos->find(kind);
    return it == sInfos->end() ? nullptr : it->second;
}

VValue* VValue::NewValueFromValueKind(ValueKind kind)
{
    const VValueInfo* info = ValueInfoFromValueKind(kind);
    return info ? info->Generate() : nullptr;
}

const VValueInfo* VValue::GetValueInfo() const
{
    // Created on first use, under the guard of local statics.
    static const VValueInfo_default<VEmpty, VK_VALUE> sPlainValueInfo;
    return &sPlainValueInfo;
}

// --- VValue: JSON ---

VError VValue::FromJSONString(const VString&, uint32_t)
{
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValue::GetJSONString(VString&, uint32_t) const
{
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValue::FromJSONValue(const VJSONValue&)
{
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValue::GetJSONValue(VJSONValue& json, uint32_t) const
{
    json.SetUndefined();
    return _ThrowError(VE_UNIMPLEMENTED);
}

// --- VValue: comparisons ---

CompareResult VValue::CompareToSameKindWithOptions(const VValue*, const VCompareOptions&) const
{
    return CR_EQUAL;
}

bool VValue::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    return CompareToSameKindWithOptions(other, options) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKindPtrWithOptions(const void*, const VCompareOptions&) const
{
    return CR_EQUAL;
}

bool VValue::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    return CompareToSameKindPtrWithOptions(data, options) == CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    return InvertCompResult(CompareToSameKindPtrWithOptions(data, options));
}

CompareResult VValue::CompareToSameKind(const VValue*, bool) const
{
    return CR_EQUAL;
}

CompareResult VValue::CompareBeginingToSameKind(const VValue* other, bool diacritical) const
{
    return CompareToSameKind(other, diacritical);
}

bool VValue::EqualToSameKind(const VValue* other, bool diacritical) const
{
    return CompareToSameKind(other, diacritical) == CR_EQUAL;
}

bool VValue::FromValueSameKind(const VValue*)
{
    return false;
}

CompareResult VValue::CompareToSameKindPtr(const void*, bool) const
{
    return CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtr(const void* data, bool diacritical) const
{
    return InvertCompResult(CompareToSameKindPtr(data, diacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr(const void* data, bool diacritical) const
{
    return CompareToSameKindPtr(data, diacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr(const void* data, bool diacritical) const
{
    return CompareToSameKindPtr(data, diacritical);
}

bool VValue::EqualToSameKindPtr(const void* data, bool diacritical) const
{
    return CompareToSameKindPtr(data, diacritical) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKind_Like(const VValue* other, bool diacritical) const
{
    return CompareToSameKind(other, diacritical);
}

CompareResult VValue::CompareBeginingToSameKind_Like(const VValue* other, bool diacritical) const
{
    return CompareBeginingToSameKind(other, diacritical);
}

bool VValue::EqualToSameKind_Like(const VValue* other, bool diacritical) const
{
    return EqualToSameKind(other, diacritical);
}

CompareResult VValue::CompareToSameKindPtr_Like(const void* data, bool diacritical) const
{
    return CompareToSameKindPtr(data, diacritical);
}

CompareResult VValue::Swap_CompareToSameKindPtr_Like(const void* data, bool diacritical) const
{
    return InvertCompResult(CompareToSameKindPtr(data, diacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr_Like(const void* data, bool diacritical) const
{
    return CompareBeginingToSameKindPtr(data, diacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr_Like(const void* data, bool diacritical) const
{
    return IsTheBeginingToSameKindPtr(data, diacritical);
}

bool VValue::EqualToSameKindPtr_Like(const void* data, bool diacritical) const
{
    return EqualToSameKindPtr(data, diacritical);
}

bool VValue::Swap_EqualToSameKindPtr_Like(const void* data, bool diacritical) const
{
    return EqualToSameKindPtr(data, diacritical);
}

// --- VValue: streams ---

VError VValue::ReadFromStream(VStream* stream, int32_t)
{
    return stream ? stream->GetLastError() : VE_OK;
}

VError VValue::WriteToStream(VStream* stream, int32_t) const
{
    return stream ? stream->GetLastError() : VE_OK;
}

// --- VValueSingle ---

void VValueSingle::GetDuration(VDuration& duration) const
{
    duration.Clear();
}

void VValueSingle::GetTime(VTime& time) const
{
    time.Clear();
}

void VValueSingle::GetVUUID(VUUID& uuid) const
{
    uuid.Clear();
}

void VValueSingle::GetString(VString& string) const
{
    string.Clear();
}

void VValueSingle::GetValue(VValueSingle& value) const
{
    value.Clear();
}

void VValueSingle::GetXMLString(VString& string, uint32_t) const
{
    GetString(string);
}

bool VValueSingle::FromXMLString(const VString& string)
{
    FromString(string);
    return true;
}

CharSet VValueSingle::DebugDump(char* buffer, int& length)
{
    if (!VProcess::sInstance || !buffer || length <= 0) {
        length = 0;
        return VTC_UTF_16;
    }
    VString text;
    GetString(text);
    VIndex units = text.GetLength();
    if (units > length / 2)
        units = length / 2;
    std::memcpy(buffer, text.GetCPointer(), static_cast<size_t>(units) * sizeof(UniChar));
    length = units * static_cast<int>(sizeof(UniChar));
    return VTC_UTF_16;
}

VError VValueSingle::FromJSONString(const VString& json, uint32_t)
{
    FromString(json);
    return VE_OK;
}

VError VValueSingle::GetJSONString(VString& json, uint32_t) const
{
    GetString(json);
    return VE_OK;
}

VError VValueSingle::FromJSONValue(const VJSONValue&)
{
    Clear();
    return VE_UNIMPLEMENTED;
}

VError VValueSingle::GetJSONValue(VJSONValue& json, uint32_t) const
{
    json.SetNull();
    return VE_UNIMPLEMENTED;
}

VValueSingle* VValueSingle::ConvertTo(ValueKind kind) const
{
    VValue* created = NewValueFromValueKind(kind);
    if (!created)
        return nullptr;
    VValueSingle* single = created->IsVValueSingle();
    if (!single) {
        delete created;
        return nullptr;
    }
    GetValue(*single);
    single->SetNull(IsNull());
    return single;
}

namespace {

// A new real number of the registry's kind 6 holding number, with a null flag,
// dirty; null when no real kind is registered.
VValueSingle* NewJSONReal(double number, bool isNull)
{
    VValue* created = VValue::NewValueFromValueKind(VK_REAL);
    VValueSingle* real = created ? created->IsVValueSingle() : nullptr;
    if (!real) {
        delete created;
        return nullptr;
    }
    real->FromReal(number);
    real->SetNull(isNull);
    real->SetDirty(true);
    return real;
}

}  // namespace

VValueSingle* VValueSingle::ConvertVValueToJSONScalar(const VValueSingle& value, bool durationInMilliseconds)
{
    VValueSingle* result = nullptr;
    switch (value.GetValueKind()) {
        case 2: case 3: case 4: case 5: case 7: case 16:
            result = NewJSONReal(value.GetReal(), value.IsNull());
            break;
        case 13: case 14: case 17: case 19: case 20: {
            VString* text = new VString;
            text->FromValue(value);
            result = text;
            break;
        }
        case VK_DURATION:
            if (value.IsNull()) {
                result = NewJSONReal(0.0, true);
            } else {
                double milliseconds = static_cast<double>(value.GetLong8OrMilliSeconds());
                result = NewJSONReal(durationInMilliseconds ? milliseconds : milliseconds / 1000.0, false);
            }
            break;
        default:
            break;
    }
    if (!result) {
        // Every other kind, and a number when no real kind is registered.
        VValue* clone = value.Clone();
        result = clone ? clone->IsVValueSingle() : nullptr;
        if (!result)
            delete clone;
    }
    return result;
}

JSONType VValueSingle::ValueKindToJsonType(ValueKind kind)
{
    switch (kind) {
        case VK_BOOLEAN: return JSON_true;
        case VK_REAL: return JSON_number;
        case VK_TIME: return JSON_date;
        case VK_STRING: return JSON_string;
        default: return JSON_null;
    }
}

// --- VValueInfo ---

VValueInfo::VValueInfo(ValueKind kind) : fKind(kind), fKey(kind)
{
    VValue::RegisterValueInfo(this);
}

VValueInfo::VValueInfo(ValueKind kind, ValueKind key) : fKind(kind), fKey(key)
{
    VValue::RegisterValueInfo(this);
}

VValueInfo::~VValueInfo()
{
    VValue::UnregisterValueInfo(this);
}

CompareResult VValueInfo::CompareTwoPtrToData(const void*, const void*, bool) const
{
    return CR_EQUAL;
}

CompareResult VValueInfo::CompareTwoPtrToDataBegining(const void*, const void*, bool) const
{
    return CR_EQUAL;
}

CompareResult VValueInfo::CompareTwoPtrToDataWithOptions(const void*, const void*, const VCompareOptions&) const
{
    return CR_EQUAL;
}

}  // namespace bkit
