// VBagArray.cpp - lists of child bags and the element store that names them.
#include <algorithm>
#include <new>

#include "basekit/bags/VValueBag.h"

namespace bkit {

// --- VBagArray ---

VBagArray::VBagArray(const VBagArray& other) : VObject(), IRefCountable()
{
    fBags.reserve(other.fBags.size());
    for (const VValueBag* bag : other.fBags) {
        if (bag != nullptr)
            fBags.push_back(new VValueBag(*bag));
    }
}

VBagArray::~VBagArray()
{
    Destroy();
}

void VBagArray::Destroy()
{
    std::vector<VValueBag*> bags;
    bags.swap(fBags);
    for (VValueBag* bag : bags) {
        if (bag)
            bag->Release();
    }
}

bool VBagArray::AddTail(VValueBag* bag)
{
    if (bag == nullptr)
        return false;
    try {
        fBags.push_back(bag);
    } catch (const std::bad_alloc&) {
        return false;
    }
    bag->Retain();
    return true;
}

bool VBagArray::AddNth(VValueBag* bag, VIndex n)
{
    if (bag == nullptr)
        return false;
    const size_t at = n < 1 ? 0 : std::min(static_cast<size_t>(n - 1), fBags.size());
    try {
        fBags.insert(fBags.begin() + static_cast<std::ptrdiff_t>(at), bag);
    } catch (const std::bad_alloc&) {
        return false;
    }
    bag->Retain();
    return true;
}

void VBagArray::SetNth(VValueBag* bag, VIndex n)
{
    if (bag == nullptr || n < 1 || n > GetCount() || fBags[n - 1] == bag)
        return;
    bag->Retain();
    VValueBag* old = fBags[n - 1];
    fBags[n - 1] = bag;
    if (old)
        old->Release();
}

void VBagArray::DeleteNth(VIndex n)
{
    if (n < 1 || n > GetCount())
        return;
    VValueBag* old = fBags[n - 1];
    fBags.erase(fBags.begin() + (n - 1));
    if (old)
        old->Release();
}

void VBagArray::Delete(VValueBag* bag)
{
    auto found = std::find(fBags.begin(), fBags.end(), bag);
    if (found != fBags.end())
        fBags.erase(found);
}

VIndex VBagArray::Find(const VValueBag* bag) const
{
    auto found = std::find(fBags.begin(), fBags.end(), bag);
    return found == fBags.end() ? 0 : static_cast<VIndex>(found - fBags.begin()) + 1;
}

VValueBag* VBagArray::GetNth(VIndex n) const
{
    return (n >= 1 && n <= GetCount()) ? fBags[n - 1] : nullptr;
}

VValueBag* VBagArray::RetainNth(VIndex n) const
{
    VValueBag* bag = GetNth(n);
    if (bag == nullptr)
        return new VValueBag();
    bag->Retain();
    return bag;
}

// --- the element store ---

using ElementStore = VPackedDictionary<VPackedValue_VBagArray>;

ElementStore::VPackedDictionary(const VPackedDictionary& other) : VPackedDictionary_base(other)
{
    for (Slot& slot : fSlots)
        slot.fList = nullptr;
}

ElementStore::~VPackedDictionary()
{
    Destroy();
}

void ElementStore::Destroy()
{
    for (Slot& slot : fSlots) {
        if (slot.fList)
            slot.fList->Release();
        slot.fList = nullptr;
    }
    _ClearKeys();
}

void ElementStore::SetValue(const StPackedDictionaryKey& key, VBagArray* list)
{
    auto it = _Find(key);
    if (it == fSlots.end()) {
        it = _AppendKeyAndSlot(key, Slot());
        if (it == fSlots.end())
            return;
    }
    if (it->fList == list)
        return;
    if (list)
        list->Retain();
    VBagArray* old = it->fList;
    it->fList = list;
    if (old)
        old->Release();
}

bool ElementStore::AppendAdopting(const StPackedDictionaryKey& key, VBagArray* list)
{
    Slot slot;
    slot.fList = list;
    auto added = _AppendKeyAndSlot(key, slot);
    if (added != fSlots.end())
        return true;
    if (list)
        list->Release();
    return false;
}

VBagArray* ElementStore::GetList(const StPackedDictionaryKey& key) const
{
    auto it = _Find(key);
    return it == fSlots.end() ? nullptr : it->fList;
}

void ElementStore::SetNthListAdopting(size_t i, VBagArray* list)
{
    VBagArray* old = fSlots[i].fList;
    fSlots[i].fList = list;
    if (old)
        old->Release();
}

void ElementStore::Remove(const StPackedDictionaryKey& key)
{
    const size_t i = _FindIndex(key);
    if (i == fSlots.size())
        return;
    VBagArray* list = fSlots[i].fList;
    _EraseKeyAndSlot(i);
    if (list)
        list->Release();
}

void ElementStore::Reorder(const std::vector<size_t>& order)
{
    std::vector<uint8_t> keys;
    SlotVector slots;
    slots.reserve(fSlots.size());
    for (size_t i : order) {
        Slot slot = fSlots[i];
        const size_t offset = static_cast<size_t>(slot.fNameOffset);
        const size_t length = static_cast<size_t>(fKeys[offset]) + 1;
        slot.fNameOffset = keys.size();
        keys.insert(keys.end(), fKeys.begin() + static_cast<std::ptrdiff_t>(offset),
                    fKeys.begin() + static_cast<std::ptrdiff_t>(offset + length));
        slots.push_back(slot);
    }
    fKeys.swap(keys);
    fSlots.swap(slots);
    fIndex.Clear();
    fLookup.Clear();
}

}  // namespace bkit
