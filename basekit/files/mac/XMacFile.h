// XMacFile.h - the platform half of a file object, and the path services.
//
// This file defines XMacFile, which every VFile holds by value and to which it
// forwards each operation that touches the disk. It works on the file's POSIX
// path (fixed once Init has run) with POSIX calls and with the stand-ins of
// basekit/platform/FileOps.h. It returns native codes ('POSX' with errno, or
// 'COCO' numbers for copy, move and the Trash) and pushes no error record,
// except ResolveAlias on an item that is no alias ('bkit' 611 on the owner).
//
// Symbolic links: Exists, GetSize, time, attribute and permission reads look at
// a link itself, not its target; Open follows a final link only with option
// 0x80. Symbolic links are the only aliases here; resource forks are reported
// absent; type and creator read as 0.
//
// The static path services (time, flag, permission access by POSIX path, free
// space, real paths) are shared with the folder implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "basekit/BKitTypes.h"
#include "basekit/files/VFilePath.h"
#include "basekit/files/mac/XMacFileDesc.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFile;
class VFileDesc;
class VFileKind;
class VFileSystem;
class VTime;

// Options of Open and Create.
constexpr uint32_t FO_RESOURCE_FORK = 1;
constexpr uint32_t FO_CREATE_IF_NOT_FOUND = 2;
constexpr uint32_t FO_OVERWRITE = 4;        // Open: truncate; Create: delete first
constexpr uint32_t FO_READ_AHEAD = 8;
constexpr uint32_t FO_NO_CACHE_1 = 0x20;
constexpr uint32_t FO_NO_CACHE_2 = 0x40;
constexpr uint32_t FO_FOLLOW_LINK = 0x80;

// Attribute bits of Get/SetFileAttributes.
constexpr uint32_t FATT_LOCKED = 1;
constexpr uint32_t FATT_HIDDEN = 2;

// Effective permission bits.
constexpr uint32_t FPERM_READ = 4;
constexpr uint32_t FPERM_WRITE = 2;
constexpr uint32_t FPERM_EXECUTE = 1;

class XMacFile : public VObject {
public:
    XMacFile() = default;
    // Copies the POSIX text (UTF-8).
    explicit XMacFile(const char* posixPath);
    ~XMacFile() override;

    XMacFile(const XMacFile&) = delete;
    XMacFile& operator=(const XMacFile&) = delete;

    // Stores the owner (not retained) and, when no POSIX text was given, makes
    // it from the owner's path.
    void Init(VFile* owner);

    // --- path services ---

    // New NUL-terminated UTF-8 POSIX text of the path, from the memory manager
    // (free with FreePosixPath).
    static char* AllocatePosixPathFromFilePath(const VFilePath& path);
    // The text in UTF-8; an empty text (one NUL) when it cannot be converted;
    // null only when memory runs out.
    static char* AllocatePosixPathFromString(const VString& text);
    static void FreePosixPath(char* text);
    // The same text for calls that take a std::string, without a folder's
    // final '/' (the root stays "/").
    static std::string PosixPathText(const VFilePath& path);

    // Null text clears the path; a '/' is appended for a folder.
    static void GetFilePathFromPosixPath(const char* posixPath, bool isFolder, VFilePath& out);
    // The last name (a final '/' ignored) begins with '.'; false below 2 bytes.
    static bool PosixNameBeginsWithDot(const char* posixPath);
    // Full-path conversions of the volume cache.
    static bool PosixFullPathToHFS(const char* posixPath, bool isFolder, VString& out);
    static bool HFSFullPathToPosix(const VString& path, VString& out);

    // Modification, creation (birth) and access times; any pointer may be null.
    static VError GetTimeAttributes(const char* path, bool follow, VTime* modified, VTime* created, VTime* accessed);
    // Null leaves that time; the creation time cannot be set here and is ignored.
    // Does not follow a final link.
    static VError SetTimeAttributes(const char* path, const VTime* modified, const VTime* created,
                                    const VTime* accessed);
    // Locked (1) and hidden (2) bits; a name beginning with '.' is hidden.
    static VError GetPathAttributes(const char* path, bool follow, uint32_t& attributes);
    static VError SetPathAttributes(const char* path, bool follow, uint32_t attributes);
    // What the calling user may do: 4 read, 2 write, 1 execute.
    static VError GetEffectivePermission(const char* path, uint32_t& permission);
    // Removes the user lock and gives the owner read and write (and search).
    static VError UnlockPath(const char* path, bool follow);
    static VError GetVolumeFreeSpace(const char* path, int64_t* freeBytes, int64_t* totalBytes, bool withQuotas,
                                     const VFileDesc* openFile);
    // Canonical path into out (at least 1025 bytes). See the source.
    static bool RealPath(char* path, bool mustExist, char* out, size_t outSize);
    // Where a full POSIX path leads on disk: every symbolic link followed, the
    // last one too, even when its target does not exist (the realpath of the
    // deepest existing ancestor, the missing names below it appended). False
    // when it cannot be told (a link loop, ".." below a missing folder) and
    // for a text or a result of PATH_MAX bytes or more, which names nothing
    // the system can open. The cost follows the number of names and links,
    // however deep the path.
    static bool ResolvePathThroughLinks(const char* path, std::string& out);

    // --- platform file kinds (the built-in type declarations) ---

    // A new public kind (count 1, no OS kinds) from the declaration of the
    // type identifier, or null when none is declared.
    static VFileKind* CreatePublicFileKind(const VString& uti);
    // The same for the preferred identifier of the first four characters taken
    // as an OS type / of a file-name extension; null when none.
    static VFileKind* CreatePublicFileKindFromOsKind(const VString& osKind);
    static VFileKind* CreatePublicFileKindFromExtension(const VString& extension);
    // Whether a's identifier conforms to b's: the same identifier (ignoring
    // ASCII case, declared or not), or a declared descendant of it.
    static bool IsFileKindConformsTo(const VFileKind& a, const VFileKind& b);

    // --- per-file operations ---

    VError Create(uint32_t options) const;
    VError Open(FileAccess access, uint32_t options, VFileDesc** outDesc) const;
    // A regular file or a symbolic link (a dangling one too); false for a folder.
    bool Exists() const;
    // Replaces the file's content (a final link followed) by writing beside it
    // and renaming over it once complete and on the disk (ReplaceFileContent,
    // FileOps.h). hadContent false: the file was just made, empty, for this
    // write, and holds nothing to keep.
    VError ReplaceContent(const void* data, size_t size, bool hadContent = true) const;
    // Unlinks; a missing file gives 'POSX' ENOENT.
    VError Delete() const;
    VError MoveToTrash() const;
    VError Copy(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32_t options) const;
    VError Move(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32_t options) const;
    // Renames within the folder, never replacing an existing item.
    VError Rename(const VString& name, VFile** out) const;
    VError RevealInFinder() const { return VE_OK; }

    VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;
    VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;
    VError GetFileAttributes(uint32_t& attributes) const;
    VError SetFileAttributes(uint32_t attributes) const;
    // Of a link itself for a link.
    VError GetSize(int64_t* size) const;
    VError GetResourceForkSize(int64_t* size) const;
    bool HasResourceFork() const { return false; }
    VError GetVolumeFreeSpace(int64_t* freeBytes, int64_t* totalBytes, bool withQuotas,
                              const VFileDesc* openFile) const;

    bool IsSymbolicLink() const;
    VError ReadSymbolicLink(VString& out) const;
    // Replaces what is at the own path with a link to target (relative unless
    // absolute).
    VError CreateSymbolicLink(const VFilePath& target, bool absolute) const;
    // A symbolic link to the target (the only alias kind here).
    VError CreateAlias(const VFilePath& target, const VFilePath* relativeTo) const;
    bool IsAliasFile() const { return IsSymbolicLink(); }
    VError ResolveAlias(VFilePath& target) const;

    VError GetOwner(uint32_t& uid, uint32_t& gid) const;
    VError GetPermissions(uint16_t* mode) const;
    VError SetPermissions(uint16_t mode) const;
    VError MakeWritableByAll() const;
    bool IsWritableByAll() const;
    void Unlock() const;

    VError GetPosixPath(VString& out) const;
    const char* GetPosixPathText() const { return fPosixPath ? fPosixPath : ""; }
    VError GetKind(uint32_t* kind) const { if (kind) *kind = 0; return VE_OK; }
    void SetExtensionVisible(bool) const {}
    // Whether the file's extension matches the kind's.
    VError ConformsTo(const VFileKind& kind, bool* conforms) const;

private:
    VError _CopyOrMove(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32_t options,
                       bool move) const;
    VError _MakeOutFile(const VFilePath& dest, VFileSystem* fileSystem, VFile** out) const;

    VFile* fOwner = nullptr;
    char* fPosixPath = nullptr;
};

}  // namespace bkit
