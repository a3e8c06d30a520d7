// VJSONArray.cpp - the JSON array.
#include "basekit/json/VJSONArray.h"

#include "basekit/json/VJSONCloner.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

VJSONArray::VJSONArray() = default;

VJSONArray::~VJSONArray() = default;

bool VJSONArray::GetAt(size_t index, VJSONValue& out) const
{
    if (index >= fValues.size()) {
        out.SetUndefined();
        return false;
    }
    out = fValues[index];
    return true;
}

VJSONValue VJSONArray::GetAt(size_t index) const
{
    if (index >= fValues.size())
        return VJSONValue(VJSONValue::sUndefined);
    return fValues[index];
}

bool VJSONArray::SetAt(size_t index, const VJSONValue& value, bool grow)
{
    if (index >= fValues.size()) {
        if (!grow) {
            _ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
            return false;
        }
        fValues.resize(index + 1, VJSONValue(VJSONValue::sNull));
    }
    fValues[index] = value;
    return true;
}

void VJSONArray::Push(const VJSONValue& value)
{
    fValues.push_back(value);
}

bool VJSONArray::Resize(size_t count, JSONType fillKind)
{
    if (count >= fValues.size()) {
        fValues.resize(count, VJSONValue(fillKind));
    } else {
        // Move the dropped values out first: releasing them may reach back here.
        std::vector<VJSONValue> dropped(std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(count)),
                                        std::make_move_iterator(fValues.end()));
        fValues.resize(count);
    }
    return true;
}

void VJSONArray::RemoveAt(size_t index, size_t count)
{
    if (index >= fValues.size() || count == 0)
        return;
    size_t end = (count > fValues.size() - index) ? fValues.size() : index + count;
    std::vector<VJSONValue> dropped(std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(index)),
                                    std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(end)));
    fValues.erase(fValues.begin() + static_cast<ptrdiff_t>(index), fValues.begin() + static_cast<ptrdiff_t>(end));
}

VError VJSONArray::Clone(VJSONValue& out, VJSONCloner& cloner) const
{
    VJSONArray* copy = new VJSONArray();
    out.SetArray(copy);
    copy->Release();
    copy->fValues.reserve(fValues.size());
    for (const VJSONValue& element : fValues) {
        VJSONValue value(element);
        VError error = cloner.CloneValue(value);
        if (error != 0)
            return error;
        copy->fValues.push_back(std::move(value));
    }
    return 0;
}

VError VJSONArray::GetString(VString& out, std::set<const VJSONArray*>* visited) const
{
    if (fValues.empty()) {
        out.Clear();
        return 0;
    }
    std::set<const VJSONArray*> ownSet;
    if (visited == nullptr)
        visited = &ownSet;
    if (!visited->insert(this).second)
        return VE_JSON_CYCLE;

    VError error = 0;
    VString result;
    VString part;
    bool first = true;
    for (const VJSONValue& element : fValues) {
        error = element.GetString(part, visited);
        if (error != 0)
            break;
        if (!first)
            result.AppendUniChar(u',');
        result.AppendString(part);
        first = false;
    }
    // Side by side the same array may appear again, only not inside itself.
    visited->erase(this);
    if (error == 0)
        out.FromString(result);
    return error;
}

}  // namespace bkit
