// VFile.h - the file object of the toolbox.
//
// This file defines VFile, a reference-counted handle on one file path,
// optionally confined to a named file system, that offers every file
// operation (existence, size, times, attributes, open, create, copy, move,
// rename, delete, Trash, links, permissions, whole-content read and write),
// and VVolumeInfo, the cached free space of its volume.
//
// Contracts:
// - A file object owns no open file; Open hands out a VFileDesc the caller
//   deletes. The path never changes after construction: Rename, Move and Copy
//   hand out new file objects through their out-parameters (one reference for
//   the caller) and leave this one naming the old path.
// - Every operation returns an error code (0 success). A native failure is
//   pushed as a VFileError naming this file (with the native record beneath),
//   carrying the operation's number as code unless the native code maps to a
//   toolbox code; a toolbox failure passes through without a second record.
// - Symbolic links: Exists, GetSize, times and attributes look at a link
//   itself; the content operations (GetContent, GetData, SetContent,
//   AppendContent) and IsWritable follow it. Delete removes the link only.
// - Copy and Move never replace an existing destination unless asked to
//   (option 4), and with it replace the destination only once the copy is
//   complete.
// - Not locked: share a file object between tasks for reading only. The
//   cached volume information is exchanged atomically.
#pragma once

#include <atomic>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/files/IFile.h"
#include "basekit/files/VFileDesc.h"
#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFileKind;
class VFileSystem;
class VFolder;
class VTime;
class VURL;

// The free and total bytes of a volume as last asked.
class VVolumeInfo : public VObject, public IRefCountable {
public:
    VVolumeInfo(uint32_t stamp, bool withQuotas, int64_t freeBytes, int64_t totalBytes)
        : fStamp(stamp), fWithQuotas(withQuotas), fFreeBytes(freeBytes), fTotalBytes(totalBytes)
    {
    }

    uint32_t fStamp;
    bool fWithQuotas;
    int64_t fFreeBytes;
    int64_t fTotalBytes;
};

class VFile : public VObject, public IFile {
public:
    // The path is copied; the file system retained when not null.
    explicit VFile(const VFilePath& path, VFileSystem* fileSystem = nullptr);
    VFile(const VString& fullPath, FilePathStyle style);
    VFile(const VFilePath& base, const VString& relativePath, FilePathStyle style);
    // Bound to the folder's file system when the path lies below its root.
    VFile(const VFolder& folder, const VString& relativePath, FilePathStyle style);
    VFile(const VFile& other);
    explicit VFile(const VURL& url);
    // posixPath: the on-disk POSIX text (UTF-8) a listing found the file under.
    VFile(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem);
    VFile& operator=(const VFile&) = delete;
    ~VFile() override;

    static bool Init() { return true; }

    CharSet DebugDump(char* buffer, int& length) override;

    // --- IFileSystemObject / IFile ---
    VFilePath GetPath() const override { return fPath; }
    const VFilePath& GetPathRef() const { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    void GetPlatformPath(VString& out, FilePathStyle style) const override;
    VString GetPathWithFileSystem() const override;
    // Null without parent, or when sandboxed and the file system refuses it.
    VFolder* RetainParentFolder(bool sandboxed = false) const override;
    // False for a folder path or an invalid path; true for a dangling link.
    bool Exists() const override;
    VError GetTimeAttributes(VTime* modified, VTime* created = nullptr, VTime* accessed = nullptr) const override;
    VError GetSize(long long* size) const override;
    VError GetContent(VMemoryBuffer<>& buffer) const override;
    VError GetData(void* buffer, unsigned long size, unsigned long* read) const override;
    VError SetContent(const void* data, unsigned long size) const override;
    VError AppendContent(const void* data, unsigned long size) const override;
    // A missing file is success without a record.
    VError Delete() const override;
    bool IsWritable() const override;
    VError CopyTo(const VFile& destination, unsigned int options) const override;
    VError CopyTo(const VFolder& destination, VFile** outFile, unsigned int options) const override;

    // --- more of the same ---
    VError GetResourceForkSize(long long* size) const;
    bool HasResourceFork() const;
    VError SetTimeAttributes(const VTime* modified, const VTime* created = nullptr,
                             const VTime* accessed = nullptr) const;
    VError GetFileAttributes(unsigned int& attributes) const;
    VError SetFileAttributes(unsigned int attributes) const;
    // cacheMilliseconds 0: always asks the system.
    VError GetVolumeFreeSpace(long long* freeBytes, long long* totalBytes, bool withQuotas,
                              unsigned int cacheMilliseconds, const VFileDesc* openFile = nullptr) const;

    VError Open(FileAccess access, VFileDesc** outDesc, unsigned int options = 0) const;
    VError Create(unsigned int options = 0) const;
    VError CopyTo(const VFilePath& destination, VFile** outFile = nullptr, unsigned int options = 0) const;
    VError CopyFrom(const VFile& source, unsigned int options = 0) const;
    VError Move(const VFilePath& destination, VFile** outFile, unsigned int options = 0) const;
    VError Move(const VFile& destination, unsigned int options = 0) const;
    VError Move(const VFolder& destination, VFile** outFile, unsigned int options = 0) const;
    VError Rename(const VString& newName, VFile** outFile = nullptr) const;
    VError MoveToTrash() const;
    VError RevealInFinder() const;

    VError ResolveAlias(VFilePath& target) const;
    VError CreateAlias(const VFilePath& target, const VFilePath* lookup) const;
    bool IsAliasFile() const;
    bool MAC_IsSymbolicLink() const;
    bool MAC_IsWritableByAll() const;
    VError MAC_CreateSymbolicLink(const VFilePath& target, bool absolute) const;
    VError MAC_GetKind(unsigned int* kind) const;
    VError MAC_GetCreator(unsigned int* creator) const;
    VError Mac_GetOwner(unsigned int& uid, unsigned int& gid) const;
    VError MAC_GetPermissions(unsigned short* mode) const;
    VError MAC_SetPermissions(unsigned short mode) const;
    VError MAC_MakeWritableByAll() const;
    VError MAC_SetKind(unsigned int kind) const;
    VError MAC_SetCreator(unsigned int creator) const;
    void MAC_SetExtensionVisible(bool visible) const;
    void Unlock() const;

    bool ConformsTo(const VFileKind& kind) const;
    bool ConformsTo(const VString& kindID) const;
    // The two path texts compared ignoring case and accents.
    bool IsSameFile(const VFile* other) const;

    VError GetURL(VString& out, bool encoded) const;
    VError GetRelativeURL(VFolder* base, VString& out, bool encoded) const;

    const XMacFile& MAC_GetImpl() const { return fImpl; }

    // "bkt_" + 32 hexadecimal digits in the temporary folder, created empty.
    // One reference for the caller; null when creation fails.
    static VFile* CreateTemporaryFile();
    static VFile* CreateAndResolveAlias(const VFolder& folder, const VString& relativePath, FilePathStyle style);
    // Replaces *ioFile (an alias) by its target. See the source.
    static VError ResolveAliasFile(VFile** ioFile, bool deleteInvalidAlias);
    static VError ResolveAliasFile(VRefPtr<VFile>& ioFile, bool deleteInvalidAlias);

    // Wraps a native result into a file error of this file with its
    // parameters set by fill; other codes pass unchanged.
    VError WrapNativeError(VError code, VError defaultError) const;

private:
    template <class Fill>
    VError _Wrap(VError code, VError defaultError, Fill fill) const;
    VFileSystem* _FileSystemForDestination(const VFilePath& destination) const;

    XMacFile fImpl;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
    mutable std::atomic<VVolumeInfo*> fVolumeInfo{nullptr};
};

}  // namespace bkit
