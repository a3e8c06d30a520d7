// VJSONValueCompare.cpp - comparing, converting and stamping JSON values, and paths from a root.
#include <cmath>
#include <limits>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VValue.h"

namespace bkit {

void VJSONValue::GetTime(VTime& out) const
{
    if (fType == JSON_date) {
        int16_t year, month, day;
        GetDate(&year, &month, &day);
        out.FromUTCTime(year, month, day, 0, 0, 0, 0);
    } else if (fType == JSON_string) {
        out.FromString(VString(fString));
    } else {
        out.Clear();
        out.SetNull(true);
    }
}

VValueSingle* VJSONValue::CreateVValue(bool markContainers) const
{
    switch (fType) {
        case JSON_false:
        case JSON_true:
            return new VBoolean(fType == JSON_true);
        case JSON_string:
            return new VString(fString);
        case JSON_number:
            return new VReal(fNumber);
        case JSON_date: {
            VTime* time = new VTime();
            GetTime(*time);
            return time;
        }
        case JSON_object:
        case JSON_array: {
            if (fType == JSON_object && fObject && fObject->GetImplementation()) {
                if (VValueSingle* value = fObject->GetImplementation()->IJSON_CreateVValue(fObject))
                    return value;
            }
            if (markContainers) {
                const UniChar marks[4] = {1, 2, 3, static_cast<UniChar>(fType == JSON_object ? 1 : 2)};
                return new VString(marks, 4);
            }
            break;
        }
        default:
            break;
    }
    VString* none = new VString();
    none->SetNull(true);
    return none;
}

int VJSONValue::CompareTo(const VJSONValue& other, const VCompareOptions& options) const
{
    if (fType != other.fType) {
        const bool absent = (fType == JSON_null || fType == JSON_undefined);
        const bool otherAbsent = (other.fType == JSON_null || other.fType == JSON_undefined);
        if (absent && otherAbsent)
            return 0;
        return (fType < other.fType) ? -1 : 1;
    }
    switch (fType) {
        case JSON_string: {
            VString a(fString);
            VString b(other.fString);
            return a.CompareToSameKindWithOptions(&b, options);
        }
        case JSON_number: {
            VReal a(fNumber);
            VReal b(other.fNumber);
            return a.CompareToSameKindWithOptions(&b, options);
        }
        case JSON_object:
        case JSON_array: {
            const void* a = (fType == JSON_object) ? static_cast<const void*>(fObject) : fArray;
            const void* b = (fType == JSON_object) ? static_cast<const void*>(other.fObject) : other.fArray;
            return (a == b) ? 0 : (std::less<const void*>()(a, b) ? -1 : 1);
        }
        case JSON_date:
            return (fDate == other.fDate) ? 0 : (fDate < other.fDate ? -1 : 1);
        default:
            return 0;
    }
}

namespace {

// Deep comparison with an explicit stack. A pair of containers met again is
// taken as equal: it is being compared already, so a cycle cannot make the
// answer differ, and the walk ends.
bool DeepEqual(const VJSONValue& first, const VJSONValue& second, const VCompareOptions& options)
{
    std::vector<std::pair<VJSONValue, VJSONValue>> stack;
    stack.emplace_back(first, second);
    std::set<std::pair<const void*, const void*>> seen;
    while (!stack.empty()) {
        auto [a, b] = std::move(stack.back());
        stack.pop_back();
        if (a.GetType() != b.GetType())
            return false;
        if (const VJSONObject* objectA = a.GetObject()) {
            const VJSONObject* objectB = b.GetObject();
            if (objectA == objectB)
                continue;
            if (objectB == nullptr || !seen.emplace(objectA, objectB).second)
                continue;
            if (IJSONObject* implementation = objectA->GetImplementation()) {
                bool equal = false;
                EJSONStatus status = implementation->IJSON_DeepEqualTo(objectA, objectB, &equal);
                if (status == eJSON_failed || (status == eJSON_done && !equal))
                    return false;
                if (status == eJSON_done)
                    continue;
            }
            VJSONObject::NameValueList propertiesA = objectA->GetInternalProperties();
            VJSONObject::NameValueList propertiesB = objectB->GetInternalProperties();
            if (propertiesA.size() != propertiesB.size())
                return false;
            for (auto& [name, value] : propertiesA) {
                VJSONValue valueB = objectB->GetOwnProperty(name);
                if (valueB.IsUndefined())
                    return false;
                stack.emplace_back(std::move(value), std::move(valueB));
            }
        } else if (const VJSONArray* arrayA = a.GetArray()) {
            const VJSONArray* arrayB = b.GetArray();
            if (arrayA == arrayB)
                continue;
            if (arrayB == nullptr || !seen.emplace(arrayA, arrayB).second)
                continue;
            std::vector<VJSONValue> valuesA;
            std::vector<VJSONValue> valuesB;
            arrayA->GetValues(valuesA);
            arrayB->GetValues(valuesB);
            if (valuesA.size() != valuesB.size())
                return false;
            for (size_t i = 0; i < valuesA.size(); ++i)
                stack.emplace_back(std::move(valuesA[i]), std::move(valuesB[i]));
        } else if (a.CompareTo(b, options) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool VJSONValue::DeepEqualTo(const VJSONValue& other, const VCompareOptions& options) const
{
    return DeepEqual(*this, other, options);
}

bool VJSONObject::DeepEqualTo(const VJSONObject* other, const VCompareOptions& options) const
{
    if (other == nullptr)
        return false;
    return DeepEqual(VJSONValue(const_cast<VJSONObject*>(this)), VJSONValue(const_cast<VJSONObject*>(other)),
                     options);
}

bool VJSONArray::DeepEqualTo(const VJSONArray* other, const VCompareOptions& options) const
{
    if (other == nullptr)
        return false;
    return DeepEqual(VJSONValue(const_cast<VJSONArray*>(this)), VJSONValue(const_cast<VJSONArray*>(other)),
                     options);
}

void VJSONValue::CheckAndUpdateJsonStamp(const VJSONValue& value, VJSONStamp* stamp)
{
    if (stamp == nullptr)
        return;
    stamp->Increment();
    VJSONContainer* start = VJSONContainer::ContainerOf(value);
    if (start == nullptr || start->GetJSONStamp() == stamp)
        return;
    VJSONContainer::_WalkReachable(start, [stamp](VJSONContainer* container) {
        container->SetJSONStamp(stamp);
        return true;
    });
}

// --- paths from a root ---

namespace {

VJSONValue ValueAtPath(const VJSONValue& root, const VString& path)
{
    const VJSONObject* object = root.GetObject();
    return object ? object->GetPropertyWithPath(path) : VJSONValue();
}

}  // namespace

bool VJSONValue::GetBoolByPath(const VJSONValue& root, const VString& path)
{
    return ValueAtPath(root, path).IsTrue();
}

int32_t VJSONValue::GetLongByPath(const VJSONValue& root, const VString& path)
{
    VJSONValue value = ValueAtPath(root, path);
    if (!value.IsNumber())
        return 0;
    return IJSONFunctionContext::ToLong(value.GetNumber());
}

bool VJSONValue::GetStringByPath(const VJSONValue& root, const VString& path, VString& out)
{
    VJSONValue value = ValueAtPath(root, path);
    if (!value.IsString())
        return false;
    value.GetString(out);
    return true;
}

}  // namespace bkit
