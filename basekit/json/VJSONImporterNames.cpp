// VJSONImporterNames.cpp - the member names of one JSON text read.
#include "basekit/json/VJSONImporterNames.h"

#include <cstring>

#include "basekit/json/VJSONObject.h"

namespace bkit::json_reader {

const VString& NameTable::Get(const UniChar* units, VIndex length, uint32_t* hash)
{
    const uint32_t h = VJSONObject::HashName(units, static_cast<size_t>(length));
    *hash = h;
    if ((fNames.size() + 1) * 2 > fSlots.size())
        _Grow();
    const size_t mask = fSlots.size() - 1;
    size_t i = h & mask;
    for (; fSlots[i].name != nullptr; i = (i + 1) & mask) {
        const Slot& slot = fSlots[i];
        if (slot.hash == h && slot.length == length &&
            std::memcmp(slot.units, units, static_cast<size_t>(length) * sizeof(UniChar)) == 0)
            return *slot.name;
    }
    fNames.push_back(std::make_unique<VString>(units, length));
    const VString* name = fNames.back().get();
    fSlots[i] = Slot{h, name->GetLength(), name->GetCPointer(), name};
    return *name;
}

void NameTable::_Grow()
{
    std::vector<Slot> slots(fSlots.empty() ? 256 : fSlots.size() * 2, Slot{0, 0, nullptr, nullptr});
    const size_t mask = slots.size() - 1;
    for (const Slot& slot : fSlots) {
        if (slot.name == nullptr)
            continue;
        size_t i = slot.hash & mask;
        while (slots[i].name != nullptr)
            i = (i + 1) & mask;
        slots[i] = slot;
    }
    fSlots.swap(slots);
}

}  // namespace bkit::json_reader
