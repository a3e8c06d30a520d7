// VBlob.h - byte-blob values: the interface, the owning blob, the read-only blob.
//
// This file defines VBlob, the abstract value of kind 11 that holds a run of
// bytes read and written at an offset; VBlobWithPtr, the blob that owns its
// bytes in a growable buffer of the memory manager (tag 'memb'); VConstBlobWithPtr,
// a read-only blob over bytes that somebody else owns; and VBlob_info, the
// descriptor of kind 11 that every blob class reports.
//
// Contracts:
// - Every operation that can fail returns an error code (VE_OK for success) and
//   pushes nothing: the caller decides what to raise.
// - Sizes are bytes; offsets are signed 32-bit byte positions. A negative
//   offset is refused with VE_INVALID_PARAMETER.
// - Reading at or past the end copies nothing and reports VE_STREAM_EOF (200);
//   a short read copies what there is and reports VE_STREAM_EOF too.
// - Bytes a blob gains without being written (growing with SetSize, or a
//   PutData beyond the end) read as zeros.
// - Raw-memory form: a 32-bit size in host byte order, then the bytes. Stream
//   form: the size as an unsigned 32-bit integer in the stream's byte order,
//   then the bytes. Neither carries the null flag.
// - VConstBlobWithPtr never allocates, frees or changes the bytes it is given;
//   they must outlive it (and every copy of it). Each change it is asked for
//   returns VE_STREAM_NOT_OPENED_FOR_WRITING (204) and changes nothing.
// - Clone and the descriptor's Generate and LoadFromPtr hand a new value to the
//   caller, who deletes it. Blobs are not thread-safe: one task owns a blob at
//   a time.
#pragma once

#include <cstdint>

#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/values/VValue.h"

namespace bkit {

class VBlob_info;

class VBlob : public VValueSingle {
public:
    ~VBlob() override = default;

    // The byte count.
    virtual VSize GetSize() const = 0;
    // Grows or cuts the blob to size bytes. Null and dirty flags untouched.
    virtual VError SetSize(VSize size) = 0;
    // Copies up to size bytes from offset into dst; *read (optional) receives
    // the count copied. VE_OK when all size bytes were copied, else
    // VE_STREAM_EOF.
    virtual VError GetData(void* dst, VSize size, int32_t offset = 0, VSize* read = nullptr) const = 0;
    // Writes size bytes at offset, growing the blob when they reach past its end.
    virtual VError PutData(const void* src, VSize size, int32_t offset = 0) = 0;
    // SetSize(size), then, unless size is 0, PutData(src, size, 0); the first
    // error.
    virtual VError FromData(const void* src, VSize size);

    // FromData(nothing, 0).
    void Clear() override;
    const VValueInfo* GetValueInfo() const override;
    // Blobs have no order: always CR_UNRELEVANT.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
    // The base reads and writes no raw form: both answer null.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    // The base copies nothing either way.
    void GetValue(VValueSingle& value) const override;
    void FromValue(const VValueSingle& value) override;
    bool CanBeEvaluated() const override { return false; }
    VSize GetFullSpaceOnDisk() const override { return GetSize(); }

    // JSON form: an object of the JSON class "Blob" with a copy of the bytes.
    // FromJSONValue clears the blob, then copies a "Blob" object's bytes in;
    // any other value makes the blob null.
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;
    VError FromJSONValue(const VJSONValue& json) override;

    static const VBlob_info sInfo;

protected:
    VBlob() = default;
    VBlob(const VBlob&) = default;
    VBlob& operator=(const VBlob&) = default;

    // A blob that becomes null is emptied.
    void DoNullChanged() override;
};

// A blob owning its bytes. New blobs are not null and dirty.
class VBlobWithPtr : public VBlob {
public:
    using Buffer = VMemoryBuffer<1024, 2, 1048576>;

    // Empty.
    VBlobWithPtr();
    // A copy of size bytes at data, in a block of exactly that size; the blob
    // stays empty when the block cannot be had.
    VBlobWithPtr(const void* data, VSize size);
    // The other's bytes in a block of exactly their size, and its null flag.
    VBlobWithPtr(const VBlobWithPtr& other);
    // The same from any blob through its GetSize and GetData; nothing is copied
    // from a null blob.
    explicit VBlobWithPtr(const VBlob& other);
    // As FromValueSameKind.
    VBlobWithPtr& operator=(const VBlobWithPtr& other);
    ~VBlobWithPtr() override;

    VSize GetSize() const override { return fBuffer.GetDataSize(); }
    // Makes the block exactly size bytes (0 frees it); new bytes are zeros.
    // VE_MEMORY_FULL, block and contents kept, when it cannot be had.
    VError SetSize(VSize size) override;
    VError GetData(void* dst, VSize size, int32_t offset = 0, VSize* read = nullptr) const override;
    // Grows the block by the buffer's amortised rule when needed; any gap
    // between the old end and offset is zero-filled. The blob is then not null
    // and dirty, also when VE_MEMORY_FULL is returned.
    VError PutData(const void* src, VSize size, int32_t offset = 0) override;
    // Makes the block exactly size bytes and copies them; not null, dirty.
    VError FromData(const void* src, VSize size) override;

    // Size + 4 (the raw-memory form).
    VSize GetSpace(VSize max = 0) const override;
    VValue* Clone() const override;
    // Only from another VBlobWithPtr: its bytes and null flag, dirty. False when
    // other is null, of another class, or its copy cannot be allocated.
    bool FromValueSameKind(const VValue* other) override;
    // True when other is a non-null VBlobWithPtr with the same bytes.
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    // Into a blob target: its FromData with these bytes; other targets untouched.
    void GetValue(VValueSingle& target) const override;
    // Clear, then the bytes of a VBlobWithPtr value.
    void FromValue(const VValueSingle& value) override;

    // Raw-memory form; LoadFromPtr answers the address behind the bytes read.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    // The first stream error. A size read as negative gives VE_MEMORY_FULL.
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;

private:
    Buffer fBuffer;
};

// A read-only blob over bytes owned elsewhere (see the file comment).
class VConstBlobWithPtr : public VBlob {
public:
    // Over size bytes at data; not null, dirty.
    VConstBlobWithPtr(const void* data, VSize size);
    // Shares the other's outside bytes; takes its null flag; dirty.
    VConstBlobWithPtr(const VConstBlobWithPtr& other);
    VConstBlobWithPtr& operator=(const VConstBlobWithPtr& other);
    ~VConstBlobWithPtr() override;

    VSize GetSize() const override { return fSize; }
    VError GetData(void* dst, VSize size, int32_t offset = 0, VSize* read = nullptr) const override;
    // Each answers VE_STREAM_NOT_OPENED_FOR_WRITING and changes nothing.
    VError SetSize(VSize size) override;
    VError PutData(const void* src, VSize size, int32_t offset = 0) override;
    VError FromData(const void* src, VSize size) override;
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;

    VSize GetSpace(VSize max = 0) const override;
    VValue* Clone() const override;
    // Only from another VConstBlobWithPtr: its pointer, size and null flag.
    bool FromValueSameKind(const VValue* other) override;
    void GetValue(VValueSingle& target) const override;
    // Does nothing: the bytes cannot change.
    void FromValue(const VValueSingle& value) override;
    // Reads nothing and answers null.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;

private:
    const void* fData;
    VSize fSize;
};

// Descriptor of kind 11.
class VBlob_info : public VValueInfo {
public:
    VBlob_info();

    // A new empty VBlobWithPtr.
    VValue* Generate() const override;
    VValue* Generate(VBlob* blob) const override;
    // A new VBlobWithPtr loaded from the raw-memory form (empty for a size
    // below 1).
    VValue* LoadFromPtr(const void* data, bool swap) const override;
    // Reverses the 32-bit size; answers the address just behind it.
    void* ByteSwapPtr(void* data, bool fromNative) const override;
    // The 32-bit size at data plus 4.
    VSize GetSizeOfValueDataPtr(const void* data) const override;
};

}  // namespace bkit
