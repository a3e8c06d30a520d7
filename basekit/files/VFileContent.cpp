// VFileContent.cpp - whole-content reads and writes of file objects.
//
// Each operation opens the file (following a final symbolic link), works
// through the open file and closes it before returning.

#include <memory>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"

namespace bkit {

VError VFile::GetContent(VMemoryBuffer<>& buffer) const
{
    VFileDesc* raw = nullptr;
    VError err = Open(FA_READ, &raw, FO_FOLLOW_LINK);
    if (err != VE_OK)
        return err;
    std::unique_ptr<VFileDesc> desc(raw);
    int64_t size = desc->GetSize();
    if (size <= 0) {
        buffer.Clear();
        return VE_OK;
    }
    if (!buffer.SetSize(static_cast<size_t>(size)) || !buffer.SetDataSize(static_cast<size_t>(size))) {
        StThrowError<VFileError> error(new VFileError(fPath, VE_MEMORY_FULL));
        return VE_MEMORY_FULL;
    }
    unsigned long read = 0;
    err = desc->GetData(buffer.GetDataPtr(), static_cast<unsigned long>(size), 0, &read);
    if (err != VE_OK)
        buffer.SetDataSize(read);
    return err;
}

VError VFile::GetData(void* buffer, unsigned long size, unsigned long* read) const
{
    if (read)
        *read = 0;
    VFileDesc* raw = nullptr;
    VError err = Open(FA_READ, &raw, FO_FOLLOW_LINK);
    if (err != VE_OK)
        return err;
    std::unique_ptr<VFileDesc> desc(raw);
    return desc->GetData(buffer, size, 0, read);
}

namespace {

void _CreateParentFolders(const VFile& file)
{
    if (VFolder* parent = file.RetainParentFolder(false)) {
        // A failure shows in the open that follows.
        parent->CreateRecursive();
        parent->Release();
    }
}

}  // namespace

VError VFile::SetContent(const void* data, unsigned long size) const
{
    _CreateParentFolders(*this);
    // Opening for writing (without truncating) reports what an in-place write
    // would meet: no access, a lock, a missing folder.
    const bool existed = fImpl.Exists();
    VFileDesc* raw = nullptr;
    VError err = Open(FA_READ_WRITE, &raw, FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND);
    if (err != VE_OK)
        return err;
    delete raw;
    // The new content goes beside the old one and replaces it only once
    // written whole and on the disk: a full disk or a machine that stops
    // leaves the old content. The empty file just made has none to keep.
    err = WrapNativeError(fImpl.ReplaceContent(data, size, existed), VE_FILE_CANNOT_WRITE);
    if (err != VE_OK && !existed)
        fImpl.Delete();
    return err;
}

VError VFile::AppendContent(const void* data, unsigned long size) const
{
    _CreateParentFolders(*this);
    VFileDesc* raw = nullptr;
    VError err = Open(FA_READ_WRITE, &raw, FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND);
    if (err != VE_OK)
        return err;
    std::unique_ptr<VFileDesc> desc(raw);
    int64_t end = desc->GetSize();
    return size > 0 ? desc->PutData(data, size, end) : VE_OK;
}

}  // namespace bkit
