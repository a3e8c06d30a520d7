// VArrayBoolean.cpp - the array of booleans, one bit per element.
#include "basekit/values/VArrayBoolean.h"

#include <vector>

#include "basekit/files/VStream.h"
#include "basekit/values/VScalars.h"

namespace bkit {

VArrayBoolean::VArrayBoolean(int32_t count) : VArrayValue(0) { InitWithCount(count); }
VArrayBoolean::VArrayBoolean(const VArrayBoolean& other) : VArrayValue(0) { Copy(other); }
VArrayBoolean& VArrayBoolean::operator=(const VArrayBoolean& other)
{
    Copy(other);
    return *this;
}
const VValueInfo* VArrayBoolean::GetValueInfo() const { return &sInfo; }
VValue* VArrayBoolean::Clone() const { return new VArrayBoolean(*this); }

int32_t VArrayBoolean::DataSizeForCount(int32_t count) const
{
    return count <= 0 ? 0 : static_cast<int32_t>((static_cast<int64_t>(count) + 8) / 8);
}

uint8_t VArrayBoolean::GetBoolean(int32_t pos) const
{
    return IsValidPos(pos) && GetBit(fData, pos - 1) ? 1 : 0;
}

void VArrayBoolean::FromBoolean(uint8_t value, int32_t pos)
{
    if (IsValidPos(pos))
        SetBit(fData, pos - 1, value != 0);
}

int32_t VArrayBoolean::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    return Find(value.GetBoolean(), start, forward, method);
}

int32_t VArrayBoolean::Find(uint8_t value, int32_t start, bool forward, CompareMethod) const
{
    if (fCount == 0 || start < 1 || start > fCount)
        return -1;
    const bool wanted = value != 0;
    const int32_t step = forward ? 1 : -1;
    for (int32_t i = start - 1; i >= 0 && i < fCount; i += step) {
        if (GetBit(fData, i) == wanted)
            return i + 1;
    }
    return -1;
}

VValueSingle* VArrayBoolean::CloneValue(int32_t pos) const
{
    auto* value = new VBoolean();
    GetValue(*value, pos);
    return value;
}

CompareResult VArrayBoolean::CompareTo(const VValueSingle& value, bool, int32_t pos) const
{
    int element = GetBoolean(pos);
    int other = value.GetBoolean() != 0 ? 1 : 0;
    return element < other ? CR_SMALLER : (element > other ? CR_BIGGER : CR_EQUAL);
}

void VArrayBoolean::Sort(int32_t first, int32_t last, bool descending)
{
    if (first < 1 || first >= last || last > fCount)
        return;
    if (first > 1 || last < fCount) {
        VArrayValue::Sort(first, last, descending);
        return;
    }
    int32_t trues = 0;
    for (int32_t i = 0; i < fCount; ++i)
        trues += GetBit(fData, i) ? 1 : 0;
    const int32_t falses = fCount - trues;
    for (int32_t i = 0; i < fCount; ++i)
        SetBit(fData, i, descending ? i < trues : i >= falses);
}

void VArrayBoolean::MoveElements(int32_t from, int32_t to, int32_t n)
{
    if (from < 0 || to < 0 || n < 1 || from == to || !fData)
        return;
    if (n > fCount - from || n > fCount - to)
        return;
    // Walk against the direction of the move so that overlapping ranges copy
    // each bit before it is overwritten.
    if (to > from) {
        for (int32_t k = n - 1; k >= 0; --k)
            SetBit(fData, to + k, GetBit(fData, from + k));
    } else {
        for (int32_t k = 0; k < n; ++k)
            SetBit(fData, to + k, GetBit(fData, from + k));
    }
}

void VArrayBoolean::InitElements(int32_t from, int32_t n)
{
    if (from < 0 || n < 1 || !fData)
        return;
    const int64_t bits = static_cast<int64_t>(fDataSize) * 8;
    for (int64_t i = from; i < from + static_cast<int64_t>(n) && i < bits; ++i)
        SetBit(fData, static_cast<int32_t>(i), false);
}

void VArrayBoolean::SwapElements(uint8_t* data, int32_t i, int32_t j)
{
    bool a = GetBit(data, i);
    SetBit(data, i, GetBit(data, j));
    SetBit(data, j, a);
}

CompareResult VArrayBoolean::CompareElements(uint8_t* data, int32_t i, int32_t j)
{
    int a = GetBit(data, i) ? 1 : 0;
    int b = GetBit(data, j) ? 1 : 0;
    return a < b ? CR_SMALLER : (a > b ? CR_BIGGER : CR_EQUAL);
}

VError VArrayBoolean::WriteElements(VStream* stream) const
{
    if (fCount == 0)
        return stream->GetLastError();
    return stream->PutData(fData, static_cast<VSize>(fDataSize));
}

VError VArrayBoolean::ReadElements(VStream* stream)
{
    if (fCount == 0)
        return stream->GetLastError();
    VError err = stream->GetData(fData, static_cast<VSize>(fDataSize));
    // The spare bits of the last byte are not elements: keep them false.
    InitElements(fCount, 8);
    return err;
}

}  // namespace bkit
