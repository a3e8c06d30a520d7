// VBlobStream.h - a stream that reads and writes a blob value.
//
// This file defines VBlobStream, the stream whose bytes are those of a VBlob.
// It supplies only the storage primitives of VStream: position, sticky error,
// byte order, charset and progress follow the base's rules.
//
// Contracts:
// - Built over a caller's blob, the stream uses it and never deletes it; the
//   blob must outlive the stream. Built with null, the stream makes an empty
//   VBlobWithPtr of its own and deletes it with itself.
// - Writing goes through the blob's PutData at the position, so writes past
//   the end grow the blob; moving the position past the end grows the blob to
//   it. New bytes nothing was written to read as zeros.
// - A read-only blob (VConstBlobWithPtr) can be read; every write or resize
//   fails with VE_STREAM_NOT_OPENED_FOR_WRITING.
// - Positions past the reach of a blob's 32-bit offsets fail with
//   VE_INVALID_PARAMETER.
// - Like every stream, one task uses it at a time.
#pragma once

#include "basekit/files/VStream.h"

namespace bkit {

class VBlob;

class VBlobStream : public VStream {
public:
    // Over blob (not owned), or over a new empty blob of its own when null.
    explicit VBlobStream(VBlob* blob = nullptr);
    ~VBlobStream() override;

protected:
    VError DoPutData(const void* buffer, VSize count) override;
    VError DoGetData(void* buffer, VSize* ioCount) override;
    int64_t DoGetSize() override;
    VError DoSetSize(int64_t size) override;
    // A position past the end grows the blob to it.
    VError DoSetPos(int64_t position) override;

private:
    VBlob* fBlob;
    bool fOwnsBlob;
};

}  // namespace bkit
