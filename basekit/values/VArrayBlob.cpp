// VArrayBlob.cpp - the array of blobs.
#include "basekit/values/VArrayBlob.h"

#include "basekit/files/VStream.h"
#include "basekit/values/VBlob.h"

namespace bkit {

VArrayBlob::VArrayBlob(int32_t count) : VArrayValue(sizeof(VBlobWithPtr*)) { InitWithCount(count); }
VArrayBlob::VArrayBlob(const VArrayBlob& other) : VArrayValue(sizeof(VBlobWithPtr*)) { Copy(other); }
VArrayBlob& VArrayBlob::operator=(const VArrayBlob& other)
{
    Copy(other);
    return *this;
}
VArrayBlob::~VArrayBlob() { DeleteElements(0, fCount); }

const VValueInfo* VArrayBlob::GetValueInfo() const { return &sInfo; }
VValue* VArrayBlob::Clone() const { return new VArrayBlob(*this); }

int32_t VArrayBlob::Find(const VValueSingle&, int32_t, bool, CompareMethod) const
{
    return -1;
}

void VArrayBlob::FromValue(const VValueSingle& value, int32_t pos)
{
    // A slot is typed as a blob: values of other kinds would be read as one.
    const auto* blob = dynamic_cast<const VBlob*>(&value);
    if (!blob || !IsValidPos(pos))
        return;
    VBlobWithPtr*& slot = Slots()[pos - 1];
    if (slot && slot->FromValueSameKind(&value))
        return;
    auto* copy = new VBlobWithPtr(*blob);
    copy->SetNull(blob->IsNull());
    delete slot;
    slot = copy;
}

void VArrayBlob::GetValue(VValueSingle& value, int32_t pos) const
{
    const VBlobWithPtr* element = GetBlobPtr(pos);
    if (element)
        value.FromValueSameKind(element);
    else
        value.Clear();
}

VValueSingle* VArrayBlob::CloneValue(int32_t pos) const
{
    if (!IsValidPos(pos))
        return nullptr;
    const VBlobWithPtr* element = GetBlobPtr(pos);
    return element ? new VBlobWithPtr(*element) : new VBlobWithPtr();
}

CompareResult VArrayBlob::CompareTo(const VValueSingle& value, bool diacritical, int32_t pos) const
{
    const VBlobWithPtr* element = GetBlobPtr(pos);
    if (!element)
        return CR_SMALLER;
    return element->CompareToSameKind(&value, diacritical);
}

bool VArrayBlob::Copy(const VArrayValue& other)
{
    if (&other == this)
        return true;
    if (!VArrayValue::Copy(other))
        return false;
    // The block now shares the other's blobs: make them this array's own.
    VBlobWithPtr** slots = Slots();
    for (int32_t i = 0; i < fCount; ++i) {
        if (slots[i])
            slots[i] = new VBlobWithPtr(*slots[i]);
    }
    return true;
}

void VArrayBlob::DeleteElements(int32_t from, int32_t n)
{
    if (!fData || from < 0 || n < 1)
        return;
    VBlobWithPtr** slots = Slots();
    for (int32_t i = from; i < from + n && i < fCount; ++i) {
        delete slots[i];
        slots[i] = nullptr;
    }
}

void VArrayBlob::SwapElements(uint8_t* data, int32_t i, int32_t j)
{
    auto** slots = reinterpret_cast<VBlobWithPtr**>(data);
    VBlobWithPtr* t = slots[i];
    slots[i] = slots[j];
    slots[j] = t;
}

CompareResult VArrayBlob::CompareElements(uint8_t* data, int32_t i, int32_t j)
{
    auto** slots = reinterpret_cast<VBlobWithPtr**>(data);
    const VBlobWithPtr* a = slots[i];
    const VBlobWithPtr* b = slots[j];
    if (!a || !b)
        return a ? CR_BIGGER : (b ? CR_SMALLER : CR_EQUAL);
    return a->CompareToSameKind(b, false);
}

VError VArrayBlob::WriteElements(VStream* stream) const
{
    VBlobWithPtr** slots = Slots();
    const VBlobWithPtr empty;
    for (int32_t i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        // An empty slot still writes one blob form, so the reader keeps step.
        const VBlobWithPtr* blob = slots[i] ? slots[i] : &empty;
        blob->WriteToStream(stream);
    }
    return stream->GetLastError();
}

VError VArrayBlob::ReadElements(VStream* stream)
{
    VBlobWithPtr** slots = Slots();
    for (int32_t i = 0; i < fCount; ++i) {
        if (!slots[i])
            slots[i] = new VBlobWithPtr();
        VError err = slots[i]->ReadFromStream(stream);
        if (err != VE_OK)
            return err;
    }
    return stream->GetLastError();
}

}  // namespace bkit
