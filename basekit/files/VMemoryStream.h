// VMemoryStream.h - streams over bytes in memory.
//
// This file defines VConstPtrStream, which reads a caller's constant block, and
// VPtrStream, which reads and writes a growable block of its own. Both supply
// only the storage primitives of VStream: position, sticky error, byte order,
// charset and progress follow the base's rules.
//
// Contracts:
// - VConstPtrStream neither copies nor owns its block, which must outlive the
//   stream and stay unchanged while it is read. Writing to it fails with
//   VE_STREAM_NOT_OPENED_FOR_WRITING.
// - VPtrStream owns its block (allocated with the tag 'memb') and frees it when
//   destroyed. Growing its data, by writing or by moving the position past the
//   end, fills the new bytes that nothing was written to with zeros.
// - Reading past the end stores VE_STREAM_EOF; out of memory is VE_MEMORY_FULL.
// - Both show their block to the base as its direct window, so that numbers
//   and byte blocks move without a call per transfer. VPtrStream's data size
//   is the window's, which direct writes extend; GetBuffer brings the buffer's
//   own data size up to date before handing it out.
// - Like every stream, one task uses a memory stream at a time.
#pragma once

#include "basekit/files/VStream.h"
#include "basekit/runtime/VMemoryBuffer.h"

namespace bkit {

class VConstPtrStream : public VStream {
public:
    // Reads size bytes at data (not copied, not owned).
    VConstPtrStream(const void* data, VSize size);
    ~VConstPtrStream() override;

    // The caller's block and its size.
    VStreamUnderlyingData GetUnderlyingData() const override;

protected:
    VError DoOpenWriting() override;
    VError DoPutData(const void* buffer, VSize count) override;
    VError DoGetData(void* buffer, VSize* ioCount) override;
    int64_t DoGetSize() override;
    VError DoSetSize(int64_t size) override;
    VError DoSetPos(int64_t position) override;

private:
    const void* fData;
    VSize fSize;
};

class VPtrStream : public VStream {
public:
    using Buffer = VMemoryBuffer<1024, 2, 1048576>;

    // An empty stream; the first write allocates.
    VPtrStream();
    ~VPtrStream() override;

    // The stream's block and its data size; valid until the next change.
    VStreamUnderlyingData GetUnderlyingData() const override;

    // The growable buffer (data pointer, data size, capacity), for reading.
    const Buffer& GetBuffer() const;

protected:
    VError DoPutData(const void* buffer, VSize count) override;
    VError DoGetData(void* buffer, VSize* ioCount) override;
    int64_t DoGetSize() override;
    // Resizes the block to exactly size bytes (0 frees it).
    VError DoSetSize(int64_t size) override;
    // A position past the end grows the data to it.
    VError DoSetPos(int64_t position) override;

private:
    VSize _DataSize() const { return static_cast<VSize>(GetDirectWindowSize()); }
    // Makes size the data size of the buffer and shows the block as the
    // window again.
    void _Publish(VSize size);

    // Mutable for GetBuffer, which catches the buffer's data size up with
    // direct writes.
    mutable Buffer fBuffer;
};

}  // namespace bkit
