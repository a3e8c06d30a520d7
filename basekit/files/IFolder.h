// IFolder.h - the folder interface of the toolbox.
//
// This file defines IFolder, the reference-counted interface through which the
// toolbox lists and derives folders without knowing their concrete class
// (VFolder implements it), and the option bits of folder listing.
//
// Contracts:
// - RetainRelativeFolder, _RetainRelativeIFile and the elements handed out by
//   GetElements are new references owned by the caller (VRefPtr in vectors).
// - Listing a folder that does not exist yields nothing and reports nothing.
// - IterateFiles/IterateFolders call the callback on the calling task; the
//   accessor is valid only during the call. A false answer stops the listing
//   of the current folder.
// - Symbolic links are listed as files unless option 16 replaces them by
//   their targets; a recursive walk with 16 never enters a folder twice.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "basekit/files/IFileSystemObject.h"

namespace bkit {

class IFile;

// Option bits of folder listing.
enum FileIteratorOptions : uint32_t {
    FI_RECURSIVE = 1,           // walks only: descend into sub-folders
    FI_WANT_FOLDERS = 2,
    FI_WANT_FILES = 4,           // regular files and unfollowed symbolic links
    FI_WANT_INVISIBLES = 8,      // names beginning with '.' and hidden-flagged items
    FI_RESOLVE_ALIASES = 16,     // links replaced by their targets
    FI_NORMAL_FILES = FI_WANT_FILES,
    FI_NORMAL_FOLDERS = FI_WANT_FOLDERS,
};

class IFolder : public IFileSystemObject {
public:
    ~IFolder() override = default;

    // GetFolderName(out, false) of the path.
    void GetNameWithoutExtension(VString& out) const override;

    virtual IFolder* RetainRelativeFolder(const VString& text, FilePathStyle style,
                                          VFileSystem* fileSystem = nullptr) const = 0;
    virtual void GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders,
                             bool withInvisible) const = 0;
    virtual void IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
                              unsigned int options) const = 0;
    virtual void IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
                                unsigned int options) const = 0;
    virtual IFile* _RetainRelativeIFile(const VString& text, FilePathStyle style) const = 0;

    // False for null; else the two path texts compared ignoring case and accents.
    bool IsSameFolder(const IFolder* other) const;
};

}  // namespace bkit
