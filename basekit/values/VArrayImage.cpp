// VArrayImage.cpp - the array of images (values of kind 12).
#include "basekit/values/VArrayImage.h"

#include <new>

#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

namespace {

// A clone of any value as a single value, or null.
VValueSingle* CloneSingle(const VValueSingle& value)
{
    VValue* clone = value.Clone();
    if (!clone)
        return nullptr;
    VValueSingle* single = clone->IsVValueSingle();
    if (!single)
        delete clone;
    return single;
}

}  // namespace

VArrayImage::VArrayImage(int32_t count) : VArrayValue(0) { InitWithCount(count); }
VArrayImage::VArrayImage(const VArrayImage& other) : VArrayValue(0) { Copy(other); }
VArrayImage& VArrayImage::operator=(const VArrayImage& other)
{
    Copy(other);
    return *this;
}
VArrayImage::~VArrayImage() { DeleteAllElements(); }

const VValueInfo* VArrayImage::GetValueInfo() const { return &sInfo; }
VValue* VArrayImage::Clone() const { return new VArrayImage(*this); }

bool VArrayImage::SetCount(int32_t count)
{
    if (count < 0)
        count = 0;
    if (count == fCount)
        return true;
    try {
        if (count < fCount)
            DeleteElements(count, fCount - count);
        fImages.resize(static_cast<size_t>(count), nullptr);
    } catch (const std::bad_alloc&) {
        return false;
    }
    fCount = count;
    return true;
}

int32_t VArrayImage::Find(const VValueSingle&, int32_t, bool, CompareMethod) const
{
    return 0;
}

void VArrayImage::FromValue(const VValueSingle& value, int32_t pos)
{
    if (!IsValidPos(pos))
        return;
    VValueSingle*& entry = fImages[static_cast<size_t>(pos - 1)];
    if (entry == &value)
        return;
    VValueSingle* clone = CloneSingle(value);
    delete entry;
    entry = clone;
}

void VArrayImage::GetValue(VValueSingle& value, int32_t pos) const
{
    const VValueSingle* element = GetImagePtr(pos);
    if (!element) {
        value.Clear();
        return;
    }
    value.SetNull(element->IsNull());
    value.SetDirty(element->IsDirty());
}

VValueSingle* VArrayImage::CloneValue(int32_t pos) const
{
    const VValueSingle* element = GetImagePtr(pos);
    return element ? CloneSingle(*element) : nullptr;
}

bool VArrayImage::Copy(const VArrayValue& other)
{
    if (&other == this)
        return true;
    DeleteAllElements();
    const auto* images = dynamic_cast<const VArrayImage*>(&other);
    if (!images)
        return false;
    if (!SetCount(images->fCount))
        return false;
    for (int32_t i = 0; i < fCount; ++i) {
        const VValueSingle* element = images->fImages[static_cast<size_t>(i)];
        fImages[static_cast<size_t>(i)] = element ? CloneSingle(*element) : nullptr;
    }
    return true;
}

void VArrayImage::DeleteElements(int32_t from, int32_t n)
{
    if (from < 0 || n < 1)
        return;
    for (int32_t i = from; i < from + n && i < static_cast<int32_t>(fImages.size()); ++i) {
        delete fImages[static_cast<size_t>(i)];
        fImages[static_cast<size_t>(i)] = nullptr;
    }
}

void VArrayImage::DeleteAllElements()
{
    for (VValueSingle* element : fImages)
        delete element;
    fImages.clear();
    fCount = 0;
}

void VArrayImage::Sort(int32_t, int32_t, bool) {}

void VArrayImage::SwapElements(uint8_t*, int32_t i, int32_t j)
{
    if (i < 0 || j < 0 || i >= fCount || j >= fCount)
        return;
    std::swap(fImages[static_cast<size_t>(i)], fImages[static_cast<size_t>(j)]);
}

CompareResult VArrayImage::CompareElements(uint8_t*, int32_t, int32_t)
{
    return CR_UNRELEVANT;
}

VError VArrayImage::WriteToStream(VStream* stream, int32_t) const
{
    stream->PutLong(fCount);
    static const uint8_t kEmptyEntry[8] = {};
    for (int32_t i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        const VValueSingle* element = fImages[static_cast<size_t>(i)];
        if (element)
            element->WriteToStream(stream);
        else
            stream->PutData(kEmptyEntry, sizeof(kEmptyEntry));
    }
    return stream->GetLastError();
}

VError VArrayImage::ReadFromStream(VStream* stream, int32_t)
{
    DeleteAllElements();
    int32_t count = 0;
    if (stream->GetLong(count) != VE_OK)
        return stream->GetLastError();
    if (count < 0)
        return _ThrowError(VE_STREAM_BAD_SIGNATURE);
    if (count == 0)
        return VE_OK;
    const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_IMAGE);
    if (!info)
        return _ThrowError(VE_UNIMPLEMENTED);
    if (!SetCount(count))
        return _ThrowError(VE_MEMORY_FULL);
    for (int32_t i = 0; i < fCount; ++i) {
        VValue* value = info->Generate();
        VValueSingle* single = value ? value->IsVValueSingle() : nullptr;
        if (!single) {
            delete value;
            DeleteAllElements();
            return _ThrowError(VE_UNIMPLEMENTED);
        }
        fImages[static_cast<size_t>(i)] = single;
        VError err = single->ReadFromStream(stream);
        if (err != VE_OK)
            return err;
    }
    return stream->GetLastError();
}

}  // namespace bkit
