// VArrayOf.h - small growable arrays of plain values and their iterators.
//
// This file defines VArrayOf<T>, a growable array of plain values with 1-based
// positions, optionally of unique values; VArrayRetainedPtrOf<T>, which
// releases its reference-counted elements when they are removed; and
// VArrayIteratorOf<T>, a cursor over an array (position 0 before the start).
// The component registry keeps its types, creators, libraries and instances
// in them. Not thread-safe: the owner locks.
// Elements are moved as raw bytes: T must be trivially copyable.
// Destroying an array frees its storage only: a subclass whose elements need
// releasing does it in its own destructor (VArrayRetainedPtrOf does), since
// the base destructor cannot reach the subclass's DoDeleteDataRange.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/values/VObject.h"

namespace bkit {

constexpr OsType kMemTag_Array = MakeOsType("arr ");

template <class T>
class VArrayOf : public VObject {
    static_assert(std::is_trivially_copyable_v<T>, "elements are moved as raw bytes");

public:
    explicit VArrayOf(int32_t growStep = 10, bool uniqueValues = false)
        : fGrowStep(growStep > 0 ? growStep : 10), fUnique(uniqueValues)
    {
    }
    ~VArrayOf() override { VMemory::DisposePtr(fData); }
    VArrayOf(const VArrayOf&) = delete;
    VArrayOf& operator=(const VArrayOf&) = delete;

    int32_t GetCount() const { return fCount; }
    bool IsEmpty() const { return fCount == 0; }
    // Removing an element (and, for retained arrays, destroying the array)
    // then disposes of it through DoDeleteDataRange.
    void SetDeleteWhenRemoving(bool on) { fDeleteData = on; }
    bool GetDeleteWhenRemoving() const { return fDeleteData; }

    // 1-based; a position out of range reads a zero value.
    T GetNth(int32_t position) const { return (position >= 1 && position <= fCount) ? fData[position - 1] : T(); }
    T& operator[](int32_t index) { return fData[index]; }
    const T& operator[](int32_t index) const { return fData[index]; }
    T* First() const { return fData; }

    // 1-based position of value, 0 when absent.
    int32_t FindPos(const T& value) const
    {
        T* end = fData + fCount;
        T* found = DoFindData(fData, end, value);
        return found == end ? 0 : static_cast<int32_t>(found - fData) + 1;
    }

    // Inserts value at position, clamped to 1..count + 1. 0 when a unique array
    // holds it already or memory runs out ('bkit' 100 raised); else its position.
    int32_t AddNth(const T& value, int32_t position)
    {
        if (fUnique && FindPos(value) != 0)
            return 0;
        if (fCount == fCapacity && !_Grow())
            return 0;
        if (position < 1)
            position = 1;
        if (position > fCount + 1)
            position = fCount + 1;
        std::memmove(fData + position, fData + position - 1, sizeof(T) * static_cast<size_t>(fCount - position + 1));
        fData[position - 1] = value;
        ++fCount;
        return position;
    }
    int32_t AddTail(const T& value) { return AddNth(value, fCount + 1); }

    // Removes the element at position (1-based).
    void DeleteNth(int32_t position)
    {
        if (position < 1 || position > fCount)
            return;
        if (fDeleteData)
            DoDeleteDataRange(fData + position - 1, fData + position);
        std::memmove(fData + position - 1, fData + position, sizeof(T) * static_cast<size_t>(fCount - position));
        --fCount;
    }
    bool Delete(const T& value)
    {
        int32_t position = FindPos(value);
        if (position == 0)
            return false;
        DeleteNth(position);
        return true;
    }

protected:
    virtual T* DoFindData(T* first, T* last, const T& value) const
    {
        for (T* p = first; p != last; ++p) {
            if (*p == value)
                return p;
        }
        return last;
    }
    virtual void DoDeleteDataRange(T*, T*) {}

private:
    bool _Grow()
    {
        for (int32_t capacity : {fCount + fGrowStep, fCount + 1}) {
            void* block = VMemory::NewPtr(sizeof(T) * static_cast<size_t>(capacity), kMemTag_Array);
            if (block) {
                if (fCount > 0)
                    std::memcpy(block, fData, sizeof(T) * static_cast<size_t>(fCount));
                VMemory::DisposePtr(fData);
                fData = static_cast<T*>(block);
                fCapacity = capacity;
                return true;
            }
        }
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }

    T* fData = nullptr;
    int32_t fCount = 0;
    int32_t fCapacity = 0;
    int32_t fGrowStep;
    bool fUnique;
    bool fDeleteData = false;
};

// Elements are reference counted: removing one releases it; with the delete
// flag, destroying the array releases them all.
template <class T>
class VArrayRetainedPtrOf : public VArrayOf<T> {
public:
    using VArrayOf<T>::VArrayOf;
    ~VArrayRetainedPtrOf() override
    {
        if (this->GetDeleteWhenRemoving()) {
            while (!this->IsEmpty())
                this->DeleteNth(this->GetCount());
        }
    }

protected:
    void DoDeleteDataRange(T* first, T* last) override
    {
        for (T* p = first; p != last; ++p) {
            if (*p)
                (*p)->Release();
        }
    }
};

template <class T>
class VArrayIteratorOf : public VObject {
public:
    explicit VArrayIteratorOf(const VArrayOf<T>* array) : fArray(array) {}
    virtual T Next() { return _At(++fPos); }
    virtual T Previous() { return _At(--fPos); }
    virtual T Current() { return _At(fPos); }
    virtual T First() { return _At(fPos = 1); }
    virtual T Last() { return _At(fPos = fArray ? fArray->GetCount() : 0); }
    virtual void SetPos(int32_t position) { fPos = position; }
    virtual int32_t GetPos() { return fPos; }

private:
    T _At(int32_t position) const { return fArray ? fArray->GetNth(position) : T(); }
    const VArrayOf<T>* fArray;
    int32_t fPos = 0;
};

}  // namespace bkit
