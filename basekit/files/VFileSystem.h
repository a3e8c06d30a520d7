// VFileSystem.h - a named root folder that file and folder objects may be bound to.
//
// This file defines VFileSystem: a name, a root folder (retained), flags, an
// optional byte quota and, with flag 32, a VFileAttributesCache that answers
// the existence and times of its files without asking the disk. A bound file
// or folder object refuses to leave the root.
//
// Contracts:
// - Reference counted (count 1 at creation). After creation nothing changes
//   but the available byte count (atomic: Request and Relinquish may race from
//   any task) and the cache's content, which is locked by the cache.
// - Confinement (IsAuthorized) is decided twice, and both must agree. On the
//   path components, compared exactly, code unit by code unit, once the
//   climbing steps are resolved: the file systems here are case-sensitive, so
//   "Docs" is not inside "docs". The path's components must begin with the
//   root's own, or, for a root that is itself a symbolic link, with those of
//   the path the root leads to (the paths of the folders below such a root
//   are converted with their links resolved). And on disk: the path, every
//   symbolic link on its way followed (the last one too, even a link whose
//   target is missing, from its deepest existing ancestor), must lead at or
//   below where the root leads, resolved the same way. A path that reaches
//   outside through a link, or whose way cannot be told (a link loop), is
//   refused like one that climbs out.
//   IsAuthorized therefore reads the disk each time it is asked.
// - A temporary file system (flag 4) deletes its root folder, contents and
//   all, when its last reference goes; a failure leaves no error behind.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/files/VFileAttributesCache.h"
#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFolder;

// 'bkit' 684: Request or Relinquish on a file system that is not writable.
constexpr VError VE_FS_NOT_WRITABLE = MakeBKitError(684);
// 'bkit' 685: Request of more bytes than the quota has left.
constexpr VError VE_FS_QUOTA_EXCEEDED = MakeBKitError(685);
// 'bkit' 686: a file-system name that is empty or holds '/'.
constexpr VError VE_FS_INVALID_NAME = MakeBKitError(686);
// 'bkit' 687: a file-system definition file that is not valid JSON.
constexpr VError VE_FS_INVALID_DEFINITION_FILE = MakeBKitError(687);

// File-system flags.
constexpr uint32_t eFSWritable = 1;
constexpr uint32_t eFSTemporary = 4;
constexpr uint32_t eFSHidden = 16;
constexpr uint32_t eFSAttributesCache = 32;

class VFileSystem : public VObject, public IRefCountable {
public:
    // A name that is empty, null or holds '/' pushes 'bkit' 686 ("name") and
    // gives null; otherwise a new file system (one reference for the caller).
    // usedBytes is what the quota has already spent.
    static VFileSystem* Create(const VString& name, IFolder* root, uint32_t flags, uint64_t quota,
                               uint64_t usedBytes, VError& outError);

    const VString& GetName() const { return fName; }
    void GetRoot(VFilePath& out) const;
    uint32_t GetFlags() const { return fFlags; }
    uint64_t GetQuota() const { return fQuota; }
    uint64_t GetAvailable() const { return fAvailable.load(std::memory_order_acquire); }

    // A new folder object for the root, bound to this file system; null when
    // the file system has no root.
    IFolder* RetainRootFolder() const;

    // Takes bytes from the quota: 'bkit' 684 when not writable, 'bkit' 685
    // (nothing taken) when fewer are left; without a quota always 0 and
    // nothing is counted. Errors are returned, not pushed.
    VError Request(size_t bytes);
    // Gives bytes back to the quota (never above it): 'bkit' 684 when not
    // writable, else 0.
    VError Relinquish(size_t bytes);

    // The path is the root or lies below it, compared on resolved components
    // and on where both lead on disk through their links.
    bool IsAuthorized(const VFilePath& path) const;

    // Null unless created with flag 32; no reference for the caller.
    VFileAttributesCache* GetAttributesCache() const { return fAttributesCache.Get(); }

private:
    VFileSystem(const VString& name, IFolder* root, uint32_t flags, uint64_t quota, uint64_t usedBytes);
    ~VFileSystem() override;

    VString fName;
    IFolder* fRoot;
    VRefPtr<VFileAttributesCache> fAttributesCache;
    uint64_t fQuota;
    uint32_t fFlags;
    std::atomic<uint64_t> fAvailable;
};

}  // namespace bkit
