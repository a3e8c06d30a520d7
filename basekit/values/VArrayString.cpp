// VArrayString.cpp - the array of strings.
#include "basekit/values/VArrayString.h"

#include <algorithm>
#include <new>
#include <vector>

#include "basekit/files/VStream.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

constexpr int32_t kStringMarker = 2;
constexpr int32_t kNullMarker = static_cast<int32_t>(MakeOsType("NULL"));

// Null elements first, then strings with case and accents significant.
bool ElementLess(const VString* a, const VString* b)
{
    if (!a || !b)
        return !a && b;
    return a->CompareToString(*b, true) == CR_SMALLER;
}

bool PassesMethod(const VString& element, const VString& text, CompareMethod method)
{
    if (method == CM_EQUAL)
        return element.EqualToString(text, false);
    CompareResult result = element.CompareToString(text, false);
    switch (method) {
        case CM_GREATER_OR_EQUAL: return result == CR_BIGGER || result == CR_EQUAL;
        case CM_GREATER: return result == CR_BIGGER;
        case CM_SMALLER: return result == CR_SMALLER;
        case CM_SMALLER_OR_EQUAL: return result == CR_SMALLER || result == CR_EQUAL;
        default: return false;
    }
}

}  // namespace

VArrayString::VArrayString(int32_t count) : VArrayValue(sizeof(VString*)) { InitWithCount(count); }
VArrayString::VArrayString(const VArrayString& other) : VArrayValue(sizeof(VString*)) { Copy(other); }
VArrayString& VArrayString::operator=(const VArrayString& other)
{
    Copy(other);
    return *this;
}
VArrayString::~VArrayString() { DeleteElements(0, fCount); }

const VValueInfo* VArrayString::GetValueInfo() const { return &sInfo; }
VValue* VArrayString::Clone() const { return new VArrayString(*this); }

int32_t VArrayString::Find(const VValueSingle& value, int32_t start, bool forward, CompareMethod method) const
{
    VString text;
    value.GetString(text);
    return Find(text, start, forward, method);
}

int32_t VArrayString::Find(const VString& text, int32_t start, bool forward, CompareMethod method) const
{
    if (fCount == 0 || start < 1 || start > fCount)
        return -1;
    VString** slots = Slots();
    const int32_t step = forward ? 1 : -1;
    for (int32_t i = start - 1; i >= 0 && i < fCount; i += step) {
        if (slots[i] && PassesMethod(*slots[i], text, method))
            return i + 1;
    }
    return -1;
}

int32_t VArrayString::QuickFind(const VString& text) const
{
    if (!fData)
        return -1;
    VString** slots = Slots();
    int32_t low = 0;
    int32_t high = fCount - 1;
    while (low <= high) {
        int32_t middle = low + (high - low) / 2;
        // Null elements order before every text.
        CompareResult result = slots[middle] ? text.CompareToString(*slots[middle], false) : CR_BIGGER;
        if (result == CR_EQUAL)
            return middle + 1;
        if (result == CR_BIGGER)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

void VArrayString::GetString(VString& text, int32_t pos) const
{
    const VString* element = GetStringPtr(pos);
    if (element) {
        text.FromString(*element);
    } else {
        text.Clear();
        if (IsValidPos(pos))
            text.SetNull(true);
    }
}

void VArrayString::FromString(const VString& text, int32_t pos)
{
    if (!IsValidPos(pos))
        return;
    VString*& slot = Slots()[pos - 1];
    if (slot)
        slot->FromString(text);
    else
        slot = new VString(text);
}

void VArrayString::FromValue(const VValueSingle& value, int32_t pos)
{
    if (!IsValidPos(pos))
        return;
    VString text;
    value.GetString(text);
    FromString(text, pos);
}

void VArrayString::GetValue(VValueSingle& value, int32_t pos) const
{
    VString text;
    GetString(text, pos);
    value.FromString(text);
}

VValueSingle* VArrayString::CloneValue(int32_t pos) const
{
    auto* value = new VString();
    GetValue(*value, pos);
    return value;
}

CompareResult VArrayString::CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const
{
    const VString* element = GetStringPtr(pos);
    if (!element)
        return CR_SMALLER;
    VString text;
    value.GetString(text);
    return element->CompareToString(text, diacritical);
}

void VArrayString::Sort(int32_t first, int32_t last, bool descending)
{
    if (first < 1 || first >= last || last > fCount)
        return;
    SortElementsStably(LockAndGetData(), first - 1, last - 1, descending);
    UnlockData();
}

bool VArrayString::SortElementsStably(uint8_t* data, int32_t first, int32_t last, bool descending)
{
    if (data == nullptr || first < 0 || last >= fCount)
        return false;
    if (last - first < 1)
        return true;
    // A merge sort (collations need not be transitive) of the slots with each
    // one's text beside it, so that a comparison reads the two texts without
    // going through the string objects; the slots are then written back in
    // their new order. Without room for that, the slots are sorted directly.
    struct Entry {
        const UniChar* fUnits;
        VIndex fLength;
        VString* fString;
    };
    VString** slots = reinterpret_cast<VString**>(data) + first;
    const size_t n = static_cast<size_t>(last - first) + 1;
    std::vector<Entry> entries;
    try {
        entries.resize(n);
    } catch (const std::bad_alloc&) {
        if (descending)
            std::stable_sort(slots, slots + n, [](const VString* a, const VString* b) { return ElementLess(b, a); });
        else
            std::stable_sort(slots, slots + n, ElementLess);
        return true;
    }
    for (size_t k = 0; k < n; ++k) {
        VString* s = slots[k];
        entries[k] = s ? Entry{s->GetCPointer(), s->GetLength(), s} : Entry{nullptr, 0, nullptr};
    }
    // ElementLess over the entries: null elements first, then the texts with
    // case and accents significant.
    const VIntlMgr* manager = VIntlMgr::GetCurrentOrDefault();
    auto less = [manager](const Entry& a, const Entry& b) {
        if (!a.fString || !b.fString)
            return !a.fString && b.fString;
        return manager->CompareString(a.fUnits, a.fLength, b.fUnits, b.fLength, true) == CR_SMALLER;
    };
    if (descending)
        std::stable_sort(entries.begin(), entries.end(), [&less](const Entry& a, const Entry& b) { return less(b, a); });
    else
        std::stable_sort(entries.begin(), entries.end(), less);
    for (size_t k = 0; k < n; ++k)
        slots[k] = entries[k].fString;
    return true;
}

bool VArrayString::Copy(const VArrayValue& other)
{
    if (&other == this)
        return true;
    if (!VArrayValue::Copy(other))
        return false;
    // The block now shares the other's strings: make them this array's own.
    VString** slots = Slots();
    for (int32_t i = 0; i < fCount; ++i) {
        if (slots[i])
            slots[i] = new VString(*slots[i]);
    }
    return true;
}

void VArrayString::DeleteElements(int32_t from, int32_t n)
{
    if (!fData || from < 0 || n < 1)
        return;
    VString** slots = Slots();
    for (int32_t i = from; i < from + n && i < fCount; ++i) {
        delete slots[i];
        slots[i] = nullptr;
    }
}

void VArrayString::SwapElements(uint8_t* data, int32_t i, int32_t j)
{
    auto** slots = reinterpret_cast<VString**>(data);
    VString* t = slots[i];
    slots[i] = slots[j];
    slots[j] = t;
}

CompareResult VArrayString::CompareElements(uint8_t* data, int32_t i, int32_t j)
{
    auto** slots = reinterpret_cast<VString**>(data);
    const VString* a = slots[i];
    const VString* b = slots[j];
    if (!a || !b)
        return a ? CR_BIGGER : (b ? CR_SMALLER : CR_EQUAL);
    return a->CompareToString(*b, true);
}

VError VArrayString::WriteElements(VStream* stream) const
{
    VString** slots = Slots();
    for (int32_t i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        if (slots[i]) {
            stream->PutLong(kStringMarker);
            slots[i]->WriteToStream(stream);
        } else {
            stream->PutLong(kNullMarker);
        }
    }
    return stream->GetLastError();
}

VError VArrayString::ReadElements(VStream* stream)
{
    VString** slots = Slots();
    for (int32_t i = 0; i < fCount; ++i) {
        int32_t marker = 0;
        if (stream->GetLong(marker) != VE_OK)
            break;
        if (marker == kStringMarker) {
            if (!slots[i])
                slots[i] = new VString();
            if (slots[i]->ReadFromStream(stream) != VE_OK)
                break;
        } else {
            delete slots[i];
            slots[i] = nullptr;
        }
    }
    return stream->GetLastError();
}

}  // namespace bkit
