// XMacFolder.h - the platform half of a folder object.
//
// This file defines XMacFolder, held by value in every VFolder, which does the
// disk work of a folder on its POSIX path (always ending with '/'), and
// ESystemFolderKind, the well-known folders RetainSystemFolder answers.
//
// Contracts:
// - Every operation returns a native code: 0, 'POSX' with errno, or the
//   'COCO' number of the file-manager work (tree copy, move, Trash, system
//   folders) as the platform notes list it. Nothing is pushed, except the
//   one record of DeleteForced when the parent's mode or flags cannot be put
//   back.
// - Folder permissions follow symbolic links (stat, chmod). A folder whose own
//   path is a symbolic link is deleted as the link: DeleteForced never walks
//   through it, and never unlocks or changes modes outside the tree apart from
//   the parent, which it puts back as it was.
// - The POSIX path is fixed after Init; Rename, Move and copy hand out new
//   VFolder objects (new references).
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFolder;
class VTime;

enum ESystemFolderKind : uint32_t {
    eFK_Executable = 0,
    eFK_UserDocuments = 1,
    eFK_Temporary = 2,
    eFK_None = 3,
    eFK_CommonApplicationData = 4,
    eFK_UserApplicationData = 5,
    eFK_CommonPreferences = 6,
    eFK_UserPreferences = 7,
    eFK_UserDesktop = 8,
    eFK_Applications = 9,
    eFK_CommonCache = 10,
    eFK_UserCache = 11,
    eFK_UserLibrary = 12,
    eFK_UserHome = 13,
};

// Folder attribute bits.
constexpr uint32_t FATT_LockedFolder = 1;
constexpr uint32_t FATT_HiddenFolder = 2;

class XMacFolder : public VObject {
public:
    XMacFolder() = default;
    // The on-disk POSIX text (a '/' is appended when missing).
    explicit XMacFolder(const char* posixPath);
    XMacFolder(const XMacFolder&) = delete;
    XMacFolder& operator=(const XMacFolder&) = delete;
    ~XMacFolder() override;

    // Stores the owner and, when no POSIX path was given, makes it from the
    // owner's path.
    void Init(VFolder* owner);

    VError Create() const;
    VError Delete() const;
    VError DeleteForced() const;
    VError MoveToTrash() const;
    bool Exists(bool followLinks) const;
    // The folder's own path (without its final '/') is a symbolic link.
    bool IsSymbolicLink() const;
    VError RevealInFinder() const;
    VError IsHidden(bool& hidden) const;
    bool IsPackage() const;
    bool IsTraversable() const;
    VError Rename(const VString& name, VFolder** outFolder) const;
    VError Move(const VFolder& parent, const VString* name, VFolder** outFolder) const;
    VError CopyToNonExistingFolder(const VFolder& parent, const VString& name) const;
    // Copies this folder as target (a folder inside an existing folder), or
    // with contentsOnly its content into the existing folder target, by the
    // rules of CopyFolderInto (FolderOps.h) for the copy options (4 replace,
    // 8 go on after a failing item, 16 leave invisible items out). The first
    // failing item comes back in failure; the result is its native code
    // ('POSX' for a folder, the file manager's 'COCO' for a file), else 0.
    VError CopyTree(const XMacFolder& target, bool contentsOnly, uint32_t options, FolderCopyFailure& failure) const;
    VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;
    VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;
    VError GetFolderAttributes(uint32_t& attributes) const;
    VError SetFolderAttributes(uint32_t attributes) const;
    VError GetVolumeCapacity(int64_t* bytes) const;
    VError GetVolumeFreeSpace(int64_t* bytes, bool withQuotas) const;
    VError GetPosixPath(VString& out) const;
    VError GetPermissions(uint16_t* mode) const;
    VError SetPermissions(uint16_t mode) const;
    VError MakeWritableByAll() const;
    bool IsWritableByAll() const;
    VError GetOwner(uint32_t& uid, uint32_t& gid) const;

    // The NUL-terminated on-disk text, ending with '/'.
    const char* GetPosixPathCString() const { return fPosixPath ? fPosixPath : ""; }

    // New, unbound folder for a system folder kind; 0 and no folder for kind 3
    // and kinds past 13.
    static VError RetainSystemFolder(ESystemFolderKind kind, bool create, VFolder** outFolder);

private:
    void _SetPosixPath(const char* text);

    VFolder* fOwner = nullptr;
    char* fPosixPath = nullptr;
};

}  // namespace bkit
