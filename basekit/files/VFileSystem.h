// VFileSystem.h - a named root folder that file and folder objects may be bound to.
//
// This file defines VFileSystem: a name, a root folder (retained), flags and,
// with flag 32, a VFileAttributesCache that answers the existence and times of
// its files without asking the disk. A bound file or folder object refuses to
// leave the root. Reference counted (count 1 at creation); after creation
// nothing changes but the cache's content, which is locked by the cache.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/files/VFileAttributesCache.h"
#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFolder;

// 'bkit' 686: a file-system name that is empty or holds '/'.
constexpr VError VE_FS_INVALID_NAME = MakeBKitError(686);

// File-system flags.
constexpr uint32_t eFSWritable = 1;
constexpr uint32_t eFSTemporary = 4;
constexpr uint32_t eFSHidden = 16;
constexpr uint32_t eFSAttributesCache = 32;

class VFileSystem : public VObject, public IRefCountable {
public:
    // A name that is empty, null or holds '/' pushes 'bkit' 686 ("name") and
    // gives null; otherwise a new file system (one reference for the caller).
    static VFileSystem* Create(const VString& name, IFolder* root, uint32_t flags, uint64_t quota,
                               uint64_t usedBytes, VError& outError);

    const VString& GetName() const { return fName; }
    void GetRoot(VFilePath& out) const;
    uint32_t GetFlags() const { return fFlags; }
    // The root's path or below it.
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
    uint64_t fAvailable;
};

}  // namespace bkit
