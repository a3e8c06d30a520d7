// VValueBagElements.cpp - paths through child bags, merging bags and ordering element names.
#include <algorithm>
#include <cstring>
#include <memory>

#include "basekit/bags/VValueBag.h"
#include "basekit/text/VTextConverter.h"

namespace bkit {

namespace {

constexpr size_t kMaxNameBytes = 255;

VValueBag* FirstBag(const VBagArray* list)
{
    return (list != nullptr && list->GetCount() > 0) ? list->GetNth(1) : nullptr;
}

bool SameName(const StPackedDictionaryKey* a, const char* bytes, size_t length)
{
    return a != nullptr && a->Equal(bytes, length);
}

}  // namespace

// --- paths ---

void VValueBag::GetKeysFromPath(const VString& path, KeyList& keys)
{
    const UniChar* units = path.GetCPointer();
    const VIndex length = path.GetLength();
    VIndex start = 0;
    while (start < length) {
        VIndex end = start;
        while (end < length && units[end] != '/')
            ++end;
        char buffer[kMaxNameBytes + 1];
        VFromUnicodeConverter_UTF8 converter;
        int consumed = 0;
        size_t produced = 0;
        if (!converter.Convert(units + start, end - start, &consumed, buffer, kMaxNameBytes, &produced))
            produced = 0;
        keys.emplace_back(buffer, produced);
        start = end + 1;
    }
}

void VValueBag::GetKeysFromUTF8PathNoCopy(const char* path, KeyList& keys)
{
    if (path == nullptr)
        return;
    const char* start = path;
    while (*start != 0) {
        const char* end = start;
        while (*end != 0 && *end != '/')
            ++end;
        size_t length = static_cast<size_t>(end - start);
        if (length > kMaxNameBytes) {
            // Cut back to the start of the character that does not fit whole.
            length = kMaxNameBytes;
            while (length > 0 && (static_cast<uint8_t>(start[length]) & 0xC0) == 0x80)
                --length;
        }
        keys.push_back(StPackedDictionaryKey::Borrowing(start, length));
        if (*end == 0)
            break;
        start = end + 1;
    }
}

const VValueBag* VValueBag::GetUniqueElementByPath(const KeyList& path) const
{
    const VValueBag* bag = this;
    for (const StPackedDictionaryKey& key : path) {
        bag = FirstBag(bag->GetElements(key));
        if (bag == nullptr)
            return nullptr;
    }
    return bag;
}

VValueBag* VValueBag::GetUniqueElementByPath(const KeyList& path)
{
    return const_cast<VValueBag*>(static_cast<const VValueBag*>(this)->GetUniqueElementByPath(path));
}

const VValueBag* VValueBag::GetUniqueElementByPath(const VString& path) const
{
    KeyList keys;
    GetKeysFromPath(path, keys);
    return GetUniqueElementByPath(keys);
}

VValueBag* VValueBag::GetElementByPathAndCreateIfDontExists(const KeyList& path)
{
    VValueBag* bag = this;
    for (const StPackedDictionaryKey& key : path) {
        VValueBag* next = FirstBag(bag->GetElements(key));
        if (next == nullptr) {
            next = new VValueBag();
            bag->ReplaceElement(key, next);
            next->Release();
            next = FirstBag(bag->GetElements(key));
            if (next == nullptr)
                return nullptr;
        }
        bag = next;
    }
    return bag;
}

bool VValueBag::ReplaceElementByPath(const KeyList& path, VValueBag* bag)
{
    if (path.empty())
        return false;
    if (path.size() == 1)
        return ReplaceElement(path[0], bag);
    const KeyList parents(path.begin(), path.end() - 1);
    if (bag != nullptr) {
        VValueBag* parent = GetElementByPathAndCreateIfDontExists(parents);
        return parent != nullptr && parent->ReplaceElement(path.back(), bag);
    }
    if (VValueBag* parent = GetUniqueElementByPath(parents))
        parent->RemoveElements(path.back());
    return true;
}

VValueBag* VValueBag::RetainUniqueElementWithAttribute(const StPackedDictionaryKey& name,
                                                       const StPackedDictionaryKey& attribute,
                                                       const VValueSingle& value) const
{
    const VBagArray* list = GetElements(name);
    if (list == nullptr || list->GetCount() == 0)
        return nullptr;
    std::unique_ptr<VValueSingle> copy(static_cast<VValueSingle*>(value.Clone()));
    if (!copy)
        return nullptr;
    VValueBag* found = nullptr;
    for (VIndex i = 1; i <= list->GetCount(); ++i) {
        VValueBag* bag = list->GetNth(i);
        if (!bag->GetAttribute(attribute, *copy))
            copy->Clear();
        if (copy->EqualTo(value, false)) {
            if (found != nullptr)
                return nullptr;
            found = bag;
        }
    }
    if (found)
        found->Retain();
    return found;
}

VValueBag* VValueBag::GetUniqueElementAnyKind(VString& name) const
{
    if (GetElementNamesCount() == 1) {
        VBagArray* list = GetNthElementName(1, &name);
        if (list != nullptr && list->GetCount() == 1)
            return list->GetNth(1);
    }
    name.Clear();
    return nullptr;
}

// --- merging ---

bool VValueBag::_UnionAttributes(const VValueBag& other)
{
    for (size_t i = 0; i < other.fAttributes.GetCount(); ++i) {
        const VValueSingle* value = other.fAttributes.GetNthValue(i);
        if (value == nullptr)
            continue;
        size_t length = 0;
        const char* bytes = other.fAttributes.GetNameBytes(i, &length);
        SetAttribute(StPackedDictionaryKey::Borrowing(bytes, length), *value);
    }
    return true;
}

bool VValueBag::_AppendClones(const StPackedDictionaryKey& name, const VBagArray& list)
{
    for (VIndex j = 1; j <= list.GetCount(); ++j) {
        VValueBag* clone = static_cast<VValueBag*>(list.GetNth(j)->Clone());
        if (clone == nullptr)
            return false;
        AddElement(name, clone);
        clone->Release();
    }
    return true;
}

bool VValueBag::UnionClone(const VValueBag* other)
{
    if (other == nullptr)
        return true;
    _UnionAttributes(*other);
    for (VIndex i = 1; i <= other->GetElementNamesCount(); ++i) {
        const VBagArray* list = other->GetNthElementName(i, nullptr);
        if (list == nullptr)
            continue;
        size_t length = 0;
        const char* bytes = other->fElements->GetNameBytes(static_cast<size_t>(i - 1), &length);
        if (!_AppendClones(StPackedDictionaryKey::Borrowing(bytes, length), *list))
            return false;
    }
    return true;
}

bool VValueBag::Override(const VValueBag* other)
{
    if (other == nullptr)
        return true;
    _UnionAttributes(*other);
    bool result = true;
    for (VIndex i = 1; result && i <= other->GetElementNamesCount(); ++i) {
        const VBagArray* theirs = other->GetNthElementName(i, nullptr);
        if (theirs == nullptr)
            continue;
        size_t length = 0;
        const char* bytes = other->fElements->GetNameBytes(static_cast<size_t>(i - 1), &length);
        const StPackedDictionaryKey name = StPackedDictionaryKey::Borrowing(bytes, length);
        const VBagArray* mine = GetElements(name);
        if (mine != nullptr && mine->GetCount() == 1 && theirs->GetCount() == 1)
            result = mine->GetNth(1)->Override(theirs->GetNth(1));
        else
            result = _AppendClones(name, *theirs);
    }
    return result;
}

// --- ordering ---

void VValueBag::SortElements(const StPackedDictionaryKey& name, const StBagElementsOrdering* orderings)
{
    if (orderings == nullptr || GetElementNamesCount() == 0)
        return;
    for (const StBagElementsOrdering* record = orderings; record->fElementName != nullptr; ++record) {
        if (SameName(record->fElementName, name.GetKey(), name.GetKeyLength())) {
            _SortElements(orderings, *record);
            return;
        }
    }
}

void VValueBag::_SortElements(const StBagElementsOrdering* orderings, const StBagElementsOrdering& record)
{
    const size_t count = fElements ? fElements->GetCount() : 0;
    if (count >= 2) {
        std::vector<std::pair<size_t, int>> ranks;
        bool needed = false;
        for (size_t i = 0; i < count; ++i) {
            size_t length = 0;
            const char* bytes = fElements->GetNameBytes(i, &length);
            int rank = 0;
            for (int c = 0; c < 10 && record.fChildren[c] != nullptr; ++c) {
                if (SameName(record.fChildren[c], bytes, length)) {
                    rank = c + 1;
                    break;
                }
            }
            if (rank > 0 && i > 0 && rank < ranks.back().second)
                needed = true;
            ranks.emplace_back(i, rank);
        }
        if (needed) {
            std::sort(ranks.begin(), ranks.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
            std::vector<size_t> order;
            for (const auto& r : ranks)
                order.push_back(r.first);
            fElements->Reorder(order);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        const VBagArray* list = fElements->GetNthList(i);
        if (list == nullptr)
            continue;
        size_t length = 0;
        const char* bytes = fElements->GetNameBytes(i, &length);
        const StBagElementsOrdering* childRecord = nullptr;
        for (const StBagElementsOrdering* r = orderings; r->fElementName != nullptr; ++r) {
            if (SameName(r->fElementName, bytes, length)) {
                childRecord = r;
                break;
            }
        }
        if (childRecord == nullptr)
            continue;
        for (VIndex j = 1; j <= list->GetCount(); ++j) {
            VValueBag* child = list->GetNth(j);
            if (child->GetElementNamesCount() > 0)
                child->_SortElements(orderings, *childRecord);
        }
    }
}

}  // namespace bkit
