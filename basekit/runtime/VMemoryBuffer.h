// VMemoryBuffer.h - a growable byte buffer with amortised growth.
//
// This file defines VMemoryBuffer, the byte buffer of conversion output, file
// reads, Base64, binary JSON and child-process output. It owns its block, which
// comes from the memory manager given at construction (the global one by
// default; malloc when there is none) and is freed by the destructor.
//
// Growth: when n bytes are needed, the capacity becomes n rounded up to
// kGranularity plus min(that ÷ kGrowthDivisor, kMaxGrowth); when that much
// cannot be had, exactly n is tried. A failed growth leaves the buffer as it was.
// The data size is the caller's: growing the capacity never changes it.
//
// Not thread-safe: one task owns a buffer at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "basekit/runtime/VMemoryMgr.h"

namespace bkit {

template <size_t kGranularity = 1024, size_t kGrowthDivisor = 2, size_t kMaxGrowth = 1048576>
class VMemoryBuffer {
public:
    explicit VMemoryBuffer(VCppMemMgr* manager = VObject::GetMainMemMgr()) : fMemMgr(manager) {}

    VMemoryBuffer(const VMemoryBuffer& other) : fMemMgr(other.fMemMgr) { *this = other; }

    VMemoryBuffer(VMemoryBuffer&& other) noexcept
        : fMemMgr(other.fMemMgr), fData(other.fData), fDataSize(other.fDataSize), fAllocatedSize(other.fAllocatedSize)
    {
        other.fData = nullptr;
        other.fDataSize = 0;
        other.fAllocatedSize = 0;
    }

    ~VMemoryBuffer() { Clear(); }

    // Resizes this buffer to exactly the source's data size and copies its bytes.
    // On allocation failure this buffer is left unchanged.
    VMemoryBuffer& operator=(const VMemoryBuffer& other)
    {
        if (this != &other && SetSize(other.fDataSize) && other.fDataSize > 0)
            std::memcpy(fData, other.fData, other.fDataSize);
        return *this;
    }

    VMemoryBuffer& operator=(VMemoryBuffer&& other) noexcept
    {
        if (this != &other) {
            std::swap(fMemMgr, other.fMemMgr);
            std::swap(fData, other.fData);
            std::swap(fDataSize, other.fDataSize);
            std::swap(fAllocatedSize, other.fAllocatedSize);
        }
        return *this;
    }

    void* GetDataPtr() const { return fData; }
    size_t GetDataSize() const { return fDataSize; }
    size_t GetAllocatedSize() const { return fAllocatedSize; }
    VCppMemMgr* GetMemMgr() const { return fMemMgr; }

    // Frees the block; the buffer becomes empty.
    void Clear()
    {
        if (fData)
            _Free(fData);
        fData = nullptr;
        fDataSize = 0;
        fAllocatedSize = 0;
    }

    // Gives the block to the caller, who frees it through the buffer's manager
    // (VMemory::DisposePtr for the global one); the buffer becomes empty.
    void* ForgetData()
    {
        void* data = fData;
        fData = nullptr;
        fDataSize = 0;
        fAllocatedSize = 0;
        return data;
    }

    // Makes the capacity exactly size bytes and the data size size (new bytes
    // uninitialised; 0 frees the block). False and unchanged on failure.
    bool SetSize(size_t size)
    {
        if (size == 0) {
            Clear();
            return true;
        }
        void* data = fData ? _Realloc(fData, size) : _Malloc(size);
        if (!data)
            return false;
        fData = data;
        fAllocatedSize = size;
        fDataSize = size;
        return true;
    }

    // Sets the data size after bytes were written into the reserved capacity.
    // False when size exceeds the capacity.
    bool SetDataSize(size_t size)
    {
        if (size > fAllocatedSize)
            return false;
        fDataSize = size;
        return true;
    }

    // Makes the capacity at least size bytes, growing amortised.
    bool Reserve(size_t size) { return size <= fAllocatedSize || _EnlargeAmortized(size); }

    // Writes size bytes at offset, growing as needed; the data size becomes at
    // least offset + size (a gap after the old data is left uninitialised).
    bool PutData(size_t offset, const void* data, size_t size)
    {
        if (offset > SIZE_MAX - size)
            return false;
        size_t end = offset + size;
        if (end > fAllocatedSize && !_EnlargeAmortized(end))
            return false;
        if (size > 0)
            std::memcpy(static_cast<char*>(fData) + offset, data, size);
        if (end > fDataSize)
            fDataSize = end;
        return true;
    }

    // Appends size bytes.
    bool AddData(const void* data, size_t size) { return PutData(fDataSize, data, size); }

    // Grows the capacity for n bytes (see the file comment). True on success.
    bool _EnlargeAmortized(size_t n)
    {
        size_t rounded = (n <= SIZE_MAX - (kGranularity - 1)) ? (n + kGranularity - 1) / kGranularity * kGranularity : n;
        size_t growth = rounded / kGrowthDivisor;
        if (growth > kMaxGrowth)
            growth = kMaxGrowth;
        size_t capacity = (rounded <= SIZE_MAX - growth) ? rounded + growth : rounded;

        void* data = nullptr;
        if (capacity >= n)
            data = fData ? _Realloc(fData, capacity) : _Malloc(capacity);
        if (!data) {
            capacity = n;
            data = fData ? _Realloc(fData, capacity) : _Malloc(capacity);
        }
        if (!data)
            return false;
        fData = data;
        fAllocatedSize = capacity;
        return true;
    }

private:
    void* _Malloc(size_t size) { return fMemMgr ? fMemMgr->Malloc(size, false, kMemTag_Buffer, -1) : std::malloc(size); }
    // The manager's Realloc always moves the block and copies all of it. On the
    // system allocator the C library may grow a large block in place or remap
    // its pages instead, which keeps a buffer that grows by steps of 1 MiB from
    // copying itself again at every step.
    void* _Realloc(void* block, size_t size)
    {
        if (!fMemMgr || fMemMgr->IsSystemAllocator())
            return std::realloc(block, size);
        return fMemMgr->Realloc(block, size);
    }
    void _Free(void* block)
    {
        if (fMemMgr)
            fMemMgr->Free(block);
        else
            std::free(block);
    }

    VCppMemMgr* fMemMgr;
    void* fData = nullptr;
    size_t fDataSize = 0;
    size_t fAllocatedSize = 0;
};

}  // namespace bkit
