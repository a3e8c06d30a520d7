// XMacFileDesc.h - the platform half of an open file.
//
// This file defines FileAccess, the ways a file is opened, and XMacFileDesc,
// positional reads and writes on one POSIX file descriptor. The position is the
// object's own: no call moves the operating system's file offset, so one
// descriptor can be read at several places by successive calls. The object
// owns its descriptor and closes it when destroyed. Results are native codes
// ('POSX' errno) or 'bkit' 200 at the end of the file; nothing is pushed.
// One task uses an open file at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/values/VObject.h"

namespace bkit {

// How a file is opened.
enum FileAccess : int32_t {
    FA_READ = 0,             // read only
    FA_READ_WRITE = 1,       // read and write with an exclusive lock
    FA_SHARED = 2,           // read and write with a shared lock
    FA_MAX_ACCESS = 3,       // read and write exclusive when possible, else read only
};

class XMacFileDesc : public VObject {
public:
    explicit XMacFileDesc(int fd) : fFD(fd) {}
    ~XMacFileDesc() override;

    XMacFileDesc(const XMacFileDesc&) = delete;
    XMacFileDesc& operator=(const XMacFileDesc&) = delete;

    // fstat size; *size is 0 on failure.
    VError GetSize(int64_t* size) const;
    // ftruncate.
    VError SetSize(int64_t size) const;

    // Read or write count bytes at offset (absolute) or at the position plus
    // offset. count becomes the bytes transferred, and the position advances
    // by them unless absolute. A short read gives 'bkit' 200, a short write
    // 'POSX' EINVAL.
    VError GetData(void* buffer, size_t& count, int64_t offset, bool absolute) const;
    VError PutData(const void* buffer, size_t& count, int64_t offset, bool absolute) const;

    VError GetPos(int64_t* pos) const;
    // absolute: position = pos; otherwise position += pos.
    VError SetPos(int64_t pos, bool absolute) const;

    // fsync.
    VError Flush() const;

    int GetFD() const { return fFD; }

    // Largest single transfer; the task yields between chunks.
    static constexpr size_t kMaxChunk = 524288000;

private:
    int fFD;
    mutable int64_t fPos = 0;
};

}  // namespace bkit
