// VArrayValue.cpp - the array value base: block, count, insertion, deletion, stream form.
#include "basekit/values/VArrayValue.h"

#include <cstdarg>
#include <cstring>

#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

constexpr OsType kMemTag_Array = MakeOsType("varr");
constexpr OsType kMemTag_Sort = MakeOsType("sort");
constexpr int32_t kMaxSynchronizedArrays = 15;

}  // namespace

VArrayValue::VArrayValue(uint32_t elemSize) : fElemSize(elemSize) {}

VArrayValue::~VArrayValue()
{
    // The subclasses that own element objects delete them in their own
    // destructors, while their DeleteElements is still theirs.
    VMemory::DisposePtr(fData);
}

void VArrayValue::InitWithCount(int32_t count)
{
    if (count > 0)
        SetCount(count);
}

int32_t VArrayValue::DataSizeForCount(int32_t count) const
{
    int64_t size = static_cast<int64_t>(count) * fElemSize;
    return size > INT32_MAX ? -1 : static_cast<int32_t>(size);
}

bool VArrayValue::ResizeData(int32_t size)
{
    if (size < 0)
        return false;
    if (size == fDataSize && (size == 0) == (fData == nullptr))
        return true;
    if (size == 0) {
        VMemory::DisposePtr(fData);
        fData = nullptr;
        fDataSize = 0;
        return true;
    }
    if (!fData) {
        fData = static_cast<uint8_t*>(VMemory::NewPtrClear(static_cast<size_t>(size), kMemTag_Array));
        if (!fData)
            return false;
        fDataSize = size;
        return true;
    }
    auto* block = static_cast<uint8_t*>(VMemory::SetPtrSize(fData, static_cast<size_t>(size)));
    if (!block) {
        // A block that could not shrink still holds every element.
        return size < fDataSize;
    }
    if (size > fDataSize)
        std::memset(block + fDataSize, 0, static_cast<size_t>(size - fDataSize));
    fData = block;
    fDataSize = size;
    return true;
}

bool VArrayValue::SetCount(int32_t count)
{
    if (count < 0)
        count = 0;
    if (count == fCount)
        return true;
    int32_t oldCount = fCount;
    if (count < oldCount) {
        DeleteElements(count, oldCount - count);
        fCount = count;
        ResizeData(DataSizeForCount(count));
        return true;
    }
    if (!ResizeData(DataSizeForCount(count)))
        return false;
    fCount = count;
    // The block may hold stale bytes past the old count (bits of a boolean
    // array, a block that could not shrink): new elements must read as zero.
    InitElements(oldCount, count - oldCount);
    return true;
}

bool VArrayValue::Insert(int32_t pos, int32_t count)
{
    if (count < 1)
        return count == 0;
    if (pos < 1 || pos > fCount + 1 || count > INT32_MAX - fCount)
        return false;
    int32_t oldCount = fCount;
    if (!SetCount(oldCount + count))
        return false;
    if (pos <= oldCount)
        MoveElements(pos - 1, pos - 1 + count, oldCount - (pos - 1));
    InitElements(pos - 1, count);
    return true;
}

void VArrayValue::Delete(int32_t pos, int32_t count)
{
    if (!fData || count < 1 || !IsValidPos(pos))
        return;
    if (count > fCount - pos + 1)
        count = fCount - pos + 1;
    int32_t from = pos - 1;
    DeleteElements(from, count);
    MoveElements(from + count, from, fCount - (from + count));
    // The tail slots now repeat moved elements: they are dropped without
    // DeleteElements, which would release what the moved ones own.
    fCount -= count;
    InitElements(fCount, count);
    ResizeData(DataSizeForCount(fCount));
}

void VArrayValue::MoveElements(int32_t from, int32_t to, int32_t n)
{
    if (from < 0 || to < 0 || n < 1 || from == to || !fData)
        return;
    if (n > fCount - from || n > fCount - to)
        return;
    std::memmove(fData + static_cast<size_t>(to) * fElemSize, fData + static_cast<size_t>(from) * fElemSize,
                 static_cast<size_t>(n) * fElemSize);
}

void VArrayValue::DeleteElements(int32_t, int32_t) {}

void VArrayValue::InitElements(int32_t from, int32_t n)
{
    if (from < 0 || n < 1 || !fData)
        return;
    int64_t begin = static_cast<int64_t>(from) * fElemSize;
    int64_t size = static_cast<int64_t>(n) * fElemSize;
    if (begin >= fDataSize)
        return;
    if (begin + size > fDataSize)
        size = fDataSize - begin;
    std::memset(fData + begin, 0, static_cast<size_t>(size));
}

bool VArrayValue::Copy(const VArrayValue& other)
{
    if (&other == this)
        return true;
    SetCount(0);
    if (other.GetElemValueKind() != GetElemValueKind() || other.fElemSize != fElemSize)
        return false;
    if (other.fCount == 0)
        return true;
    if (!ResizeData(other.fDataSize))
        return false;
    std::memcpy(fData, other.fData, static_cast<size_t>(other.fDataSize));
    fCount = other.fCount;
    return true;
}

// --- appending ---

namespace {

// Makes room for one more element and sets it through the element setter of
// the value's kind (so every typed array converts as its own setter does).
template <class Param, class Value>
int32_t AppendThrough(VArrayValue& array, void (VValueMultiple::*setter)(Param, int32_t), const Value& value)
{
    if (array.Insert(array.GetCount() + 1, 1))
        (array.*setter)(value, array.GetCount());
    return array.GetCount();
}

}  // namespace

int32_t VArrayValue::AppendBoolean(uint8_t value)
{
    return AppendThrough(*this, &VValueMultiple::FromBoolean, value);
}

int32_t VArrayValue::AppendByte(int8_t value)
{
    return AppendThrough(*this, &VValueMultiple::FromByte, value);
}

int32_t VArrayValue::AppendWord(int16_t value)
{
    return AppendThrough(*this, &VValueMultiple::FromWord, value);
}

int32_t VArrayValue::AppendLong(int32_t value)
{
    return AppendThrough(*this, &VValueMultiple::FromLong, value);
}

int32_t VArrayValue::AppendLong8(int64_t value)
{
    return AppendThrough(*this, &VValueMultiple::FromLong8, value);
}

int32_t VArrayValue::AppendReal(double value)
{
    return AppendThrough(*this, &VValueMultiple::FromReal, value);
}

int32_t VArrayValue::AppendDuration(const VDuration& value)
{
    return AppendThrough(*this, &VValueMultiple::FromDuration, value);
}

int32_t VArrayValue::AppendTime(const VTime& value)
{
    return AppendThrough(*this, &VValueMultiple::FromTime, value);
}

int32_t VArrayValue::AppendString(const VString& value)
{
    return AppendThrough(*this, &VValueMultiple::FromString, value);
}

// --- sorting ---

void VArrayValue::Sort(int32_t first, int32_t last, bool descending)
{
    if (first < 1 || last > fCount || first >= last)
        return;
    ISortable* list[2] = {this, nullptr};
    bool flags[1] = {descending};
    ISortable::MultiCriteriaQSort(list, flags, 1, first - 1, last - 1);
}

void VArrayValue::SynchronizedSort(bool descending, VArrayValue* array, ...)
{
    if (!array)
        return;
    ISortable* list[kMaxSynchronizedArrays + 1];
    int32_t n = 0;
    list[n++] = array;
    va_list args;
    va_start(args, array);
    while (n < kMaxSynchronizedArrays) {
        VArrayValue* next = va_arg(args, VArrayValue*);
        if (!next)
            break;
        list[n++] = next;
    }
    va_end(args);
    list[n] = nullptr;
    // Every array must hold the elements the first one's exchanges reach.
    int32_t count = array->GetCount();
    for (int32_t i = 1; i < n; ++i) {
        if (static_cast<VArrayValue*>(list[i])->GetCount() < count)
            return;
    }
    bool flags[1] = {descending};
    ISortable::MultiCriteriaQSort(list, flags, 1, 0, count - 1);
}

void VArrayValue::Unsort()
{
    if (fCount < 2 || fElemSize == 0 || !fData)
        return;
    auto* scratch = static_cast<uint8_t*>(VMemory::NewPtr(fElemSize, kMemTag_Sort));
    if (!scratch)
        return;
    uint8_t* data = LockAndGetData();
    const int32_t last = fCount - 1;
    int32_t front = 0;
    int32_t back = last;
    // The front index moves 2 and the back 3 per exchange; it stops once the
    // front reaches or passes the last element, so that an even count never
    // makes it step past the block.
    while (front < last) {
        uint8_t* a = data + static_cast<size_t>(front) * fElemSize;
        uint8_t* b = data + static_cast<size_t>(back) * fElemSize;
        std::memcpy(scratch, a, fElemSize);
        std::memcpy(a, b, fElemSize);
        std::memcpy(b, scratch, fElemSize);
        front += 2;
        back -= 3;
        if (back < 0)
            back = last;
    }
    UnlockData();
    VMemory::DisposePtr(scratch);
}

// --- stream form ---

VError VArrayValue::WriteToStream(VStream* stream, int32_t tag) const
{
    if (tag == kArrayStreamTag_VVAL)
        stream->PutLong(static_cast<int32_t>(GetValueKind()));
    stream->PutLong(fCount);
    if (stream->GetLastError() != VE_OK)
        return stream->GetLastError();
    return WriteElements(stream);
}

VError VArrayValue::ReadFromStream(VStream* stream, int32_t)
{
    int32_t count = 0;
    if (stream->GetLong(count) != VE_OK) {
        SetCount(0);
        return stream->GetLastError();
    }
    if (count < 0) {
        SetCount(0);
        return _ThrowError(VE_STREAM_BAD_SIGNATURE);
    }
    if (!SetCount(count)) {
        SetCount(0);
        return _ThrowError(VE_MEMORY_FULL);
    }
    return ReadElements(stream);
}

VError VArrayValue::WriteElements(VStream* stream) const
{
    return stream->GetLastError();
}

VError VArrayValue::ReadElements(VStream* stream)
{
    return stream->GetLastError();
}

}  // namespace bkit
