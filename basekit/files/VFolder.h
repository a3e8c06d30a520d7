// VFolder.h - the toolbox's object for one folder on disk.
//
// This file defines VFolder (the IFolder of the toolbox) and the folder error
// numbers. A folder is named by a folder path (its text ends with ':') and may
// be bound to a named file system that confines the folders derived from it.
//
// Contracts:
// - Reference counted, count 1 at construction; immutable after it, so a const
//   folder may be shared between tasks. Operations producing another folder
//   (rename, move, copy, parent, relative) return new references.
// - Every operation returns an error code (0 success); a native failure is
//   pushed as the cause below a VFileError of this folder with the operation's
//   number; a toolbox code passes through without a second record.
// - Exists follows symbolic links. Delete, DeleteForced and MoveToTrash of a
//   folder whose own path is a symbolic link act on the link, never on the
//   target's contents.
// - CopyTo keeps symbolic links as links, modes, extended attributes and
//   times; a destination inside the source is refused before anything is made.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "basekit/files/IFolder.h"
#include "basekit/files/mac/XMacFolder.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFile;
class VFileSystem;
class VTime;
struct VisitedFolders;

constexpr VError VE_FOLDER_NOT_FOUND = MakeBKitError(650);
constexpr VError VE_FOLDER_NOT_EMPTY = MakeBKitError(651);
constexpr VError VE_CANNOT_CREATE_FOLDER = MakeBKitError(652);
constexpr VError VE_CANNOT_DELETE_FOLDER = MakeBKitError(653);
constexpr VError VE_CANNOT_GET_FOLDER_INFO = MakeBKitError(654);
constexpr VError VE_CANNOT_SET_FOLDER_INFO = MakeBKitError(655);
constexpr VError VE_CANNOT_REVEAL_FOLDER = MakeBKitError(656);
constexpr VError VE_CANNOT_RENAME_FOLDER = MakeBKitError(657);
constexpr VError VE_CANNOT_COPY_FOLDER_INTO_ITSELF = MakeBKitError(660);
constexpr VError VE_CANNOT_MOVE_FOLDER_TO_TRASH = MakeBKitError(661);
constexpr VError VE_FOLDER_ALIAS_TARGET_NOT_A_FOLDER = MakeBKitError(618);

// Options of CopyTo/CopyContentsTo (bit 16 here is not the listing's 16).
enum FileCopyOptions : uint32_t {
    FCP_Default = 0,
    FCP_Overwrite = 4,
    FCP_ContinueOnError = 8,
    FCP_SkipInvisibles = 16,
};

class VFolder : public VObject, public IFolder {
public:
    explicit VFolder(const VFilePath& path, VFileSystem* fileSystem = nullptr);
    VFolder(const VFolder& other);
    VFolder(const VString& fullPath, FilePathStyle style);
    VFolder(const VFolder& parent, const VString& relativeName, FilePathStyle style);
    // From the on-disk POSIX text a listing found the folder under.
    VFolder(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem);
    VFolder& operator=(const VFolder&) = delete;
    ~VFolder() override;

    // IFileSystemObject / IFolder
    bool Exists() const override;
    void GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders,
                     bool withInvisible) const override;
    VError GetTimeAttributes(VTime* modified, VTime* created = nullptr, VTime* accessed = nullptr) const override;
    void IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
                      unsigned int options) const override;
    void IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
                        unsigned int options) const override;
    VFolder* RetainParentFolder(bool sandboxed = false) const override;
    VFolder* RetainRelativeFolder(const VString& text, FilePathStyle style,
                                  VFileSystem* fileSystem = nullptr) const override;
    VFilePath GetPath() const override { return fPath; }
    void GetPlatformPath(VString& out, FilePathStyle style) const override;
    VString GetPathWithFileSystem() const override;
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    IFile* _RetainRelativeIFile(const VString& text, FilePathStyle style) const override;

    const VFilePath& GetPathRef() const { return fPath; }
    const XMacFolder& MAC_GetImpl() const { return fImpl; }

    bool IsEmpty() const;
    VError Create() const;
    VError CreateRecursive(bool makeWritableByAll = false) const;
    VError MakeWritableByAll() const;
    VError Delete(bool deleteContents) const;
    VError DeleteContents(bool deleteSubFolders) const;
    VError DeleteForced() const;
    VError MoveToTrash() const;

    void GetContents(std::vector<VRefPtr<VFile>>* files, std::vector<VRefPtr<VFolder>>* folders) const;

    VError SetTimeAttributes(const VTime* modified, const VTime* created = nullptr,
                             const VTime* accessed = nullptr) const;
    VError GetVolumeCapacity(int64_t* bytes) const;
    VError GetVolumeFreeSpace(int64_t* bytes, bool withQuotas = false) const;
    bool RevealInFinder(bool inside = false) const;

    VError Rename(const VString& newName, VFolder** outRenamed) const;
    VError Move(const VFolder& destination, VFolder** outFolder) const;
    VError Move(const VFolder& destination, const VString& newName, VFolder** outFolder) const;
    VError CopyTo(const VFolder& destination, VFolder** outFolder, uint32_t options = FCP_Default) const;
    VError CopyTo(const VFolder& destination, const VString& name, VFolder** outFolder,
                  uint32_t options = FCP_Default) const;
    VError CopyContentsTo(const VFolder& destination, uint32_t options = FCP_Default) const;

    VFile* RetainRelativeFile(const VString& text, FilePathStyle style) const;

    VError GetFolderAttributes(uint32_t& attributes) const;
    VError SetFolderAttributes(uint32_t attributes) const;
    VError IsHidden(bool& hidden) const;
    bool IsWritableByAll() const;
    bool MAC_IsPackage() const;
    VError MAC_SetPermissions(uint16_t mode) const;
    VError MAC_GetPermissions(uint16_t* mode) const;
    VError Mac_GetOwner(uint32_t& uid, uint32_t& gid) const;

    VError GetURL(VString& out, bool encoded) const;
    VError GetRelativeURL(VFolder* base, VString& out, bool encoded) const;

    static VError ResolveAliasFolder(VFolder** ioFolder, bool deleteBrokenAlias);
    static VFolder* CreateAndResolveAlias(const VFolder& parent, const VString& name);
    static VFolder* RetainSystemFolder(ESystemFolderKind kind, bool create = false);

    // Wraps a native result into a file error of this folder (see above).
    VError _WrapNative(VError result, VError defaultError, const VString* newName = nullptr) const;

private:
    void _IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback, unsigned int options,
                       VisitedFolders& visited) const;
    void _IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
                         unsigned int options, VisitedFolders& visited) const;
    // True (660 pushed) when destination is this folder or lies below it, or
    // when target (may be null) is this folder or contains it; links count as
    // the folders they lead to.
    bool _RefuseCopyInto(const VFolder& destination, const VFolder* target) const;
    // The tree copy of CopyTo (into target) and CopyContentsTo (contentsOnly,
    // into destination itself), with the first failing item reported.
    VError _CopyTree(const VFolder& destination, const VFolder& target, bool contentsOnly, uint32_t options) const;

    // Held by value and initialised last, from the finished object.
    XMacFolder fImpl;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
};

}  // namespace bkit
