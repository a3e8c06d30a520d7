// VJSONArrayOps.cpp - sorting, joining and row selection over JSON arrays.
#include <algorithm>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/values/VValue.h"

namespace bkit {

namespace {

// A bottom-up merge sort of positions. It reads and writes only inside its
// two buffers whatever the comparator answers, so an order that is not strict
// and weak (an epsilon comparison, a careless user order) stays in bounds.
void MergeSortPositions(std::vector<size_t>& positions, const std::vector<VJSONValue>& values,
                        IJSONValueComparator& comparator)
{
    const size_t n = positions.size();
    std::vector<size_t> buffer(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t left = 0; left < n; left += 2 * width) {
            const size_t middle = std::min(left + width, n);
            const size_t right = std::min(left + 2 * width, n);
            size_t i = left;
            size_t j = middle;
            size_t k = left;
            while (i < middle && j < right) {
                // Stable: the right run goes first only when strictly before.
                if (comparator.CompareValues(values[positions[j]], values[positions[i]]))
                    buffer[k++] = positions[j++];
                else
                    buffer[k++] = positions[i++];
            }
            while (i < middle)
                buffer[k++] = positions[i++];
            while (j < right)
                buffer[k++] = positions[j++];
        }
        positions.swap(buffer);
    }
}

}  // namespace

void VJSONArray::Sort(IJSONValueComparator* comparator)
{
    if (comparator == nullptr)
        return;
    // The comparator runs on a copy, without the array's locks: it may read
    // other containers or take other time.
    std::vector<VJSONValue> values;
    GetValues(values);
    std::vector<size_t> positions(values.size());
    for (size_t i = 0; i < positions.size(); ++i)
        positions[i] = i;
    try {
        MergeSortPositions(positions, values, *comparator);
    } catch (...) {
        _ThrowError(VE_JSON_SORT_FAILED);
        return;
    }
    StContainerLock lock(this);
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK) || fValues.size() != positions.size())
        return;
    apply_permutation(fValues, positions);
    if (VJSONStamp* stamp = GetJSONStamp())
        stamp->Increment();
}

void VJSONArray::JoinAsString(const VString& separator, VString& out, bool keepEmpty, bool writeNull) const
{
    out.Clear();
    std::vector<VJSONValue> values;
    {
        VJSONUser user(this, false);
        GetValues(values);
    }
    bool first = true;
    VString text;
    for (const VJSONValue& value : values) {
        if (value.IsNull() || value.IsUndefined()) {
            if (!writeNull)
                continue;
            text.FromCString("null");
        } else {
            value.GetString(text);
            if (!keepEmpty && text.IsEmpty())
                continue;
        }
        if (!first)
            out.AppendString(separator);
        out.AppendString(text);
        first = false;
    }
}

VJSONValue VJSONArray::GetSelectedRows(const VJSONValue& selection) const
{
    static const VString kRanges("ranges");
    static const VString kStart("start");
    static const VString kEnd("end");

    VJSONValue result(JSON_object);
    VJSONValue ranges(JSON_array);
    VJSONArray* rangeList = ranges.GetArray();
    if (const VJSONArray* selected = selection.GetArray()) {
        std::vector<VJSONValue> rows;
        std::vector<VJSONValue> wanted;
        {
            VJSONUser rowsUser(this, false);
            VJSONUser selectionUser(selected, false);
            GetValues(rows);
            selected->GetValues(wanted);
        }
        VCompareOptions options;
        options.SetEpsilon(1e-6);
        auto isSelected = [&](const VJSONValue& row) {
            for (const VJSONValue& each : wanted) {
                if (each.IsObject() ? (row.GetObject() == each.GetObject()) : (row.CompareTo(each, options) == 0))
                    return true;
            }
            return false;
        };
        auto addRange = [&](size_t start, size_t end) {
            VJSONValue range(JSON_object);
            range.SetProperty(kStart, VJSONValue(static_cast<double>(start)));
            range.SetProperty(kEnd, VJSONValue(static_cast<double>(end)));
            rangeList->Push(range);
        };
        bool inRun = false;
        size_t runStart = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (isSelected(rows[i])) {
                if (!inRun)
                    runStart = i;
                inRun = true;
            } else if (inRun) {
                addRange(runStart, i - 1);
                inRun = false;
            }
        }
        if (inRun)
            addRange(runStart, rows.size() - 1);
    }
    result.SetProperty(kRanges, ranges);
    return result;
}

}  // namespace bkit
