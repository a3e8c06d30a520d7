// IFileSystemObject.h - what files and folders have in common.
//
// This file defines IFileSystemObject, the reference-counted base of the file
// and folder interfaces (IFile, IFolder), and IFileAttributeAccessor, through
// which a listing hands out the times of the item it stands on.
//
// Contracts:
// - The object names one item by its VFilePath; it never changes that path
//   after construction (operations producing another item return new objects).
// - GetFileSystem returns the bound file system without a new reference (or
//   null); RetainParentFolder returns a new reference the caller releases.
// - GetName, GetExtension and MatchExtension are answered from GetPath alone
//   and never touch the disk.
// - No locks: one task uses one object at a time (sharing a const object
//   between tasks is fine).
#pragma once

#include "basekit/BKitTypes.h"
#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"

namespace bkit {

class IFolder;
class VFileSystem;
class VTime;

class IFileSystemObject : public IRefCountable {
public:
    ~IFileSystemObject() override = default;

    virtual VFilePath GetPath() const = 0;
    virtual VFileSystem* GetFileSystem() const = 0;
    // Style 1: the on-disk POSIX text; style 0: the internal text.
    virtual void GetPlatformPath(VString& out, FilePathStyle style) const = 0;
    // "/" + file-system name + "/" + the POSIX path relative to its root, or
    // the plain POSIX path when unbound or outside the root.
    virtual VString GetPathWithFileSystem() const = 0;
    virtual IFolder* RetainParentFolder(bool sandboxed = false) const = 0;
    virtual bool Exists() const = 0;
    virtual void GetNameWithoutExtension(VString& out) const = 0;
    // Modification, creation and last access; null pointers are skipped.
    virtual VError GetTimeAttributes(VTime* modified, VTime* created = nullptr, VTime* accessed = nullptr) const = 0;

    void GetName(VString& out) const;
    void GetExtension(VString& out) const;
    bool MatchExtension(const VString& ext) const;
};

// Answers the times of the item a listing currently stands on.
class IFileAttributeAccessor {
public:
    virtual ~IFileAttributeAccessor() = default;
    virtual VError GetTime(VTime* modified, VTime* created, VTime* accessed) const = 0;
};

}  // namespace bkit
