// VFileStream.h - the stream over one file.
//
// This file defines VFileStream, a VStream that opens its file when the
// stream is opened (reading: read-only, following a final symbolic link as the
// content operations do; writing: read-write with a shared lock and the open
// options given at construction) and works on the open file with absolute
// positions. One buffer serves as read-ahead cache while reading and as
// write-behind cache while writing: reads smaller than the buffer are served
// from it, writes are gathered until the buffer would overflow or the position
// leaves the buffered range, and requests larger than the buffer bypass it.
//
// Ownership: the stream retains its file from construction to destruction and
// owns the open file and the buffer. Destroying a stream that is still open
// for writing drops what was buffered without writing it: close it first.
// One task uses a stream at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/files/VStream.h"

namespace bkit {

class VFile;
class VFileDesc;

// 'bkit' 205: a file stream without a file.
constexpr VError VE_STREAM_NO_FILE = MakeBKitError(205);

class VFileStream : public VStream {
public:
    // Retains file (when not null). options: the open options used for writing.
    explicit VFileStream(const VFile* file, uint32_t options = 0);
    ~VFileStream() override;

    // Flushes first while writing; the buffer is reallocated at once when the
    // stream is open.
    void SetBufferSize(size_t size);
    // Allocates a buffer when there is none (size when not 0 and not above the
    // preferred size, else the preferred size), halving the size on failure
    // down to 1 byte and working without a buffer below that.
    void AllocateBuffer(size_t size);
    void ReleaseBuffer();

    size_t GetBufferCapacity() const { return fBufferCapacity; }
    const VFile* GetVFile() const { return fFile; }

    static constexpr size_t kDefaultBufferSize = 32768;

protected:
    VError DoOpenReading() override;
    VError DoOpenWriting() override;
    VError DoCloseReading() override;
    VError DoCloseWriting(bool setSize) override;
    VError DoGetData(void* buffer, VSize* ioCount) override;
    VError DoPutData(const void* buffer, VSize count) override;
    VError DoSetPos(int64_t position) override;
    int64_t DoGetSize() override;
    VError DoSetSize(int64_t size) override;
    VError DoFlush() override;

private:
    void _AllocateExactly(size_t size);
    VError _WriteBuffer();
    void _CloseFile();

    const VFile* fFile;
    VFileDesc* fDesc = nullptr;
    int64_t fFileSize = 0;
    int64_t fBufferPos = 0;
    size_t fBufferLength = 0;
    size_t fBufferCapacity = 0;
    size_t fPreferredBufferSize = kDefaultBufferSize;
    char* fBuffer = nullptr;
    uint32_t fOptions;
};

}  // namespace bkit
