// VFileDesc.h - an open file.
//
// This file defines VFileDesc, what VFile::Open hands to its caller: it keeps
// the file object alive (one reference) while open, reads and writes bytes at
// absolute offsets or offsets relative to its own position, moves that
// position, changes the size and flushes. Each failure is pushed as a
// VFileError naming the file with the count, offset and size involved.
//
// Ownership: the caller of Open owns the object and deletes it to close the
// file. One task uses an open file at a time; nothing here is locked.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/files/mac/XMacFileDesc.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFile;

class VFileDesc : public VObject {
public:
    // Retains file (when not null) and takes over the descriptor.
    VFileDesc(const VFile* file, int descriptor, FileAccess access);
    // Releases the file, then closes the descriptor.
    ~VFileDesc() override;

    VFileDesc(const VFileDesc&) = delete;
    VFileDesc& operator=(const VFileDesc&) = delete;

    // 0 on failure (with 'bkit' 218 pushed): test the task's last error to
    // tell a failure from an empty file.
    int64_t GetSize() const;
    VError SetSize(int64_t size) const;

    // Reads up to count bytes at the absolute offset; *read (when given) gets
    // the count read, also on failure. Reaching the end first returns
    // 'bkit' 200 and pushes a file error with "count", "offset" and "size".
    VError GetData(void* buffer, unsigned long count, int64_t offset = 0, unsigned long* read = nullptr) const;
    // The same at the position plus offset; the end of the file returns
    // 'bkit' 200 without pushing anything.
    VError GetDataAtPos(void* buffer, unsigned long count, int64_t offset = 0, unsigned long* read = nullptr) const;
    VError PutData(const void* buffer, unsigned long count, int64_t offset = 0,
                   unsigned long* written = nullptr) const;
    VError PutDataAtPos(const void* buffer, unsigned long count, int64_t offset = 0,
                        unsigned long* written = nullptr) const;

    // 0 on failure (with 'bkit' 213 pushed).
    int64_t GetPos() const;
    VError SetPos(int64_t offset, bool fromStart = true) const;
    VError Flush() const;

    FileAccess GetMode() const { return fMode; }
    const VFile* GetParentVFile() const { return fFile; }
    const XMacFileDesc& GetImpl() const { return fImpl; }

private:
    VError _Wrap(VError code, VError defaultError, bool withCount, uint32_t count, bool withOffset, int64_t offset,
                 bool withSize) const;

    FileAccess fMode;
    const VFile* fFile;
    XMacFileDesc fImpl;
};

}  // namespace bkit
