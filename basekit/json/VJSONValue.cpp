// VJSONValue.cpp - the tagged JSON value and its packed string.
#include "basekit/json/VJSONValue.h"
#include "basekit/text/HexDigits.h"

#include <atomic>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

uint32_t __VInlineString_tag = 0;

// The constants are built by constant initialisation, so that statics of other
// files may read them whatever the order of dynamic initialisers.
uint32_t VJSONValue::sStamp = 5;
constinit const VJSONValue VJSONValue::sUndefined(JSON_undefined, 1, 0);
constinit const VJSONValue VJSONValue::sNull(JSON_null, 2, 0);
constinit const VJSONValue VJSONValue::sTrue(JSON_true, 3, 0);
constinit const VJSONValue VJSONValue::sFalse(JSON_false, 4, 0);
constinit const VJSONValue VJSONValue::sLastType(static_cast<JSONType>(9), 5, 0);

const VString VJSONValue::sUndefinedString("undefined");
const VString VJSONValue::sNullString("null");
const VString VJSONValue::sTrueString("true");
const VString VJSONValue::sFalseString("false");
const VString VJSONValue::sObjectString("[object Object]");

namespace {

// The counters are plain numbers by design (their uniqueness is not promised
// across tasks), but they are bumped atomically so that values made on several
// threads at once are no data race.

uint32_t NextTag() { return std::atomic_ref<uint32_t>(__VInlineString_tag).fetch_add(1, std::memory_order_relaxed) + 1; }

// The share count of a counted string block sits after room for
// (capacity | 1) + 1 units, as in every VString heap block.
uint32_t& ShareCountOf(UniChar* block, uint32_t capacity)
{
    return *reinterpret_cast<uint32_t*>(block + ((capacity | 1) + 1));
}

}  // namespace

uint32_t VJSONValue::NextStamp()
{
    return std::atomic_ref<uint32_t>(sStamp).fetch_add(1, std::memory_order_relaxed) + 1;
}

// --- VInlineString ---

void VInlineString::Init()
{
    fLength = 0;
    fString = nullptr;
    fCapacity = 0;
    fTag = NextTag();
}

void VInlineString::InitWithString(const VString& text)
{
    VIndex length = 0;
    VIndex capacity = 0;
    fString = text.RetainBuffer(&length, &capacity);
    fLength = fString ? static_cast<uint32_t>(length) : 0;
    fCapacity = fString ? static_cast<uint32_t>(capacity) : 0;
    fTag = NextTag();
}

void VInlineString::InitCopy(const VInlineString& other)
{
    fString = other.fString;
    fLength = other.fLength;
    fCapacity = other.fCapacity;
    if (fString)
        std::atomic_ref<uint32_t>(ShareCountOf(fString, fCapacity)).fetch_add(1, std::memory_order_relaxed);
    fTag = NextTag();
}

void VInlineString::Dispose()
{
    if (fString)
        VString::ReleaseSharedBuffer(fString, static_cast<VIndex>(fCapacity));
    fString = nullptr;
    fLength = 0;
    fCapacity = 0;
}

// --- construction ---

VJSONValue::VJSONValue(JSONType type) : fType(type), fStamp(NextStamp()), fNumber(0)
{
    switch (type) {
        case JSON_string:
            fString.Init();
            break;
        case JSON_date:
            fDate = 0;
            break;
        case JSON_object:
            fObject = new VJSONObject();
            break;
        case JSON_array:
            fArray = new VJSONArray();
            break;
        default:
            break;
    }
}

VJSONValue::VJSONValue(VJSONObject* object) : fType(object ? JSON_object : JSON_null), fStamp(NextStamp()), fNumber(0)
{
    if (object) {
        object->Retain();
        fObject = object;
    }
}

VJSONValue::VJSONValue(VJSONArray* array) : fType(array ? JSON_array : JSON_null), fStamp(NextStamp()), fNumber(0)
{
    if (array) {
        array->Retain();
        fArray = array;
    }
}

VJSONValue::VJSONValue(const VString& text) : fType(text.IsNull() ? JSON_null : JSON_string), fStamp(NextStamp()), fNumber(0)
{
    if (fType == JSON_string)
        fString.InitWithString(text);
}

VJSONValue::VJSONValue(const VInlineString& text) : fType(JSON_string), fStamp(NextStamp()), fNumber(0)
{
    fString.InitCopy(text);
}

VJSONValue::VJSONValue(double number) : fType(JSON_number), fStamp(NextStamp()), fNumber(number) {}

VJSONValue::VJSONValue(const VTime& time) : fType(JSON_null), fStamp(NextStamp()), fNumber(0)
{
    SetTime(time);
}

VJSONValue::VJSONValue(const VJSONValue& other) : fType(other.fType), fStamp(NextStamp()), fNumber(0)
{
    _CopyPayload(other);
}

VJSONValue& VJSONValue::operator=(const VJSONValue& other)
{
    if (this != &other) {
        // Share the new content before dropping the old, which may own it.
        VJSONValue copy(other);
        _Dispose();
        fType = copy.fType;
        _TakePayload(copy);
        fStamp = copy.fStamp;
    }
    return *this;
}

VJSONValue& VJSONValue::operator=(VJSONValue&& other) noexcept
{
    if (this != &other) {
        _Dispose();
        fType = other.fType;
        fStamp = other.fStamp;
        _TakePayload(other);
    }
    return *this;
}

void VJSONValue::_CopyPayload(const VJSONValue& other)
{
    switch (other.fType) {
        case JSON_number:
            fNumber = other.fNumber;
            break;
        case JSON_date:
            fDate = other.fDate;
            break;
        case JSON_string:
            fString.InitCopy(other.fString);
            break;
        case JSON_object:
            fObject = other.fObject;
            if (fObject)
                fObject->Retain();
            break;
        case JSON_array:
            fArray = other.fArray;
            if (fArray)
                fArray->Retain();
            break;
        default:
            break;
    }
}

// Takes the payload of other, whose kind equals ours; other keeps its kind with
// an empty string or a null container.
void VJSONValue::_TakePayload(VJSONValue& other)
{
    switch (fType) {
        case JSON_number:
            fNumber = other.fNumber;
            break;
        case JSON_date:
            fDate = other.fDate;
            break;
        case JSON_string:
            fString = other.fString;
            other.fString.fString = nullptr;
            other.fString.fLength = 0;
            other.fString.fCapacity = 0;
            break;
        case JSON_object:
            fObject = other.fObject;
            other.fObject = nullptr;
            break;
        case JSON_array:
            fArray = other.fArray;
            other.fArray = nullptr;
            break;
        default:
            break;
    }
}

void VJSONValue::_Dispose()
{
    switch (fType) {
        case JSON_string:
            fString.Dispose();
            break;
        case JSON_object:
            if (fObject) {
                VJSONObject* object = fObject;
                fObject = nullptr;
                object->Release();
            }
            break;
        case JSON_array:
            if (fArray) {
                VJSONArray* array = fArray;
                fArray = nullptr;
                array->Release();
            }
            break;
        default:
            break;
    }
}

// --- setters ---

void VJSONValue::SetNull()
{
    _Dispose();
    fType = JSON_null;
}

void VJSONValue::SetUndefined()
{
    _Dispose();
    fType = JSON_undefined;
}

void VJSONValue::SetBool(bool value)
{
    _Dispose();
    fType = value ? JSON_true : JSON_false;
}

void VJSONValue::SetNumber(double number)
{
    _Dispose();
    fType = JSON_number;
    fNumber = number;
}

void VJSONValue::SetString(const VString& text)
{
    if (text.IsNull()) {
        SetNull();
        return;
    }
    VInlineString shared;
    shared.InitWithString(text);
    _Dispose();
    fType = JSON_string;
    fString = shared;
}

void VJSONValue::SetString(const VInlineString& text)
{
    VInlineString shared;
    shared.InitCopy(text);
    _Dispose();
    fType = JSON_string;
    fString = shared;
}

void VJSONValue::SetObject(VJSONObject* object)
{
    if (object == nullptr) {
        SetNull();
        return;
    }
    if (fType == JSON_object && fObject == object)
        return;
    object->Retain();
    _Dispose();
    fType = JSON_object;
    fObject = object;
}

void VJSONValue::SetArray(VJSONArray* array)
{
    if (array == nullptr) {
        SetNull();
        return;
    }
    if (fType == JSON_array && fArray == array)
        return;
    array->Retain();
    _Dispose();
    fType = JSON_array;
    fArray = array;
}

void VJSONValue::SetDate(int16_t year, int16_t month, int16_t day)
{
    _Dispose();
    fType = JSON_date;
    fDate = (static_cast<uint32_t>(static_cast<uint16_t>(year)) << 16) + (static_cast<uint32_t>(month) << 8) +
            static_cast<uint32_t>(day);
}

void VJSONValue::SetTime(const VTime& time)
{
    if (time.IsNull()) {
        SetNull();
        return;
    }
    int16_t year, month, day, hour, minute, second, millisecond;
    time.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    SetDate(year, month, day);
}

void VJSONValue::Clear()
{
    switch (fType) {
        case JSON_true:
            fType = JSON_false;
            break;
        case JSON_string:
            fString.Dispose();
            fString.Init();
            break;
        case JSON_number:
            fNumber = 0;
            break;
        case JSON_date:
            fDate = 0;
            break;
        case JSON_object:
        case JSON_array:
            SetNull();
            break;
        default:
            break;
    }
}

// --- readers ---

VJSONObject* VJSONValue::RetainObject() const
{
    return (fType == JSON_object) ? RetainRefCountable(fObject) : nullptr;
}

VJSONArray* VJSONValue::RetainArray() const
{
    return (fType == JSON_array) ? RetainRefCountable(fArray) : nullptr;
}

VJSONValue VJSONValue::GetProperty(const VString& name) const
{
    if (fType == JSON_object && fObject)
        return fObject->GetProperty(name);
    return VJSONValue(sUndefined);
}

void VJSONValue::SetProperty(const VString& name, const VJSONValue& value) const
{
    if (fType == JSON_object && fObject)
        fObject->SetProperty(name, value);
}

namespace {

// Reads hexadecimal digits after the "0x" prefix until the first other unit.
double ReadHexNumber(const UniChar* units, VIndex length)
{
    uint64_t result = 0;
    for (VIndex i = 2; i < length; ++i) {
        int digit = HexDigitValue(units[i]);
        if (digit < 0)
            break;
        result = (result << 4) | static_cast<unsigned>(digit);
    }
    return static_cast<double>(result);
}

}  // namespace

double VJSONValue::GetNumber() const
{
    switch (fType) {
        case JSON_number:
            return fNumber;
        case JSON_true:
            return 1.0;
        case JSON_string: {
            if (fString.fString == nullptr || fString.fLength == 0)
                return 0.0;
            const UniChar* units = fString.fString;
            VIndex length = fString.GetLength();
            if (length >= 2 && units[0] == u'0' && (units[1] == u'x' || units[1] == u'X'))
                return ReadHexNumber(units, length);
            VString text(fString);
            return text.GetReal();
        }
        default:
            return 0.0;
    }
}

bool VJSONValue::GetBool() const
{
    switch (fType) {
        case JSON_true:
        case JSON_object:
        case JSON_array:
            return true;
        case JSON_string:
            return fString.fString != nullptr && fString.fLength > 0;
        case JSON_number:
            return fNumber != 0.0;
        case JSON_date:
            return fDate != 0;
        default:
            return false;
    }
}

VError VJSONValue::GetString(VString& out, std::set<const VJSONArray*>* visited) const
{
    switch (fType) {
        case JSON_false:
            out.FromCString("false");
            return 0;
        case JSON_true:
            out.FromCString("true");
            return 0;
        case JSON_string:
            if (fString.fString == nullptr)
                out.Clear();
            else
                out.FromString(fString);
            return 0;
        case JSON_number:
            VReal::RealToJSONString(fNumber, out);
            return 0;
        case JSON_object:
            out.FromCString("[object Object]");
            return 0;
        case JSON_array:
            if (fArray == nullptr) {
                out.Clear();
                return 0;
            }
            return fArray->GetString(out, visited);
        case JSON_date: {
            VTime time;
            GetTime(time);
            return time.GetJSONString(out, kTimeJSON_DateOnlyAtMidnight);
        }
        default:  // null, undefined
            out.Clear();
            return 0;
    }
}

bool VJSONValue::GetDate(int16_t* year, int16_t* month, int16_t* day) const
{
    bool isDate = (fType == JSON_date);
    uint32_t packed = isDate ? fDate : 0;
    if (year)
        *year = static_cast<int16_t>(packed >> 16);
    if (month)
        *month = static_cast<int16_t>((packed >> 8) & 0xFF);
    if (day)
        *day = static_cast<int16_t>(packed & 0xFF);
    return isDate;
}

}  // namespace bkit
