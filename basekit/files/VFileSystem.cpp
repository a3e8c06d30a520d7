// VFileSystem.cpp - a named root folder that file and folder objects may be bound to.

#include "basekit/files/VFileSystem.h"

#include "basekit/files/IFolder.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

VFileSystem* VFileSystem::Create(const VString& name, IFolder* root, uint32_t flags, uint64_t quota,
                                 uint64_t usedBytes, VError& outError)
{
    if (name.IsEmpty() || name.IsNull() || name.FindUniChar(u'/', 1, false) > 0) {
        StThrowError<> error(VE_FS_INVALID_NAME);
        error->SetString("name", name);
        outError = VE_FS_INVALID_NAME;
        return nullptr;
    }
    outError = VE_OK;
    return new VFileSystem(name, root, flags, quota, usedBytes);
}

VFileSystem::VFileSystem(const VString& name, IFolder* root, uint32_t flags, uint64_t quota, uint64_t usedBytes)
    : fName(name), fRoot(root), fQuota(quota), fFlags(flags), fAvailable(quota > usedBytes ? quota - usedBytes : 0)
{
    if (fRoot)
        fRoot->Retain();
    if (flags & eFSAttributesCache) {
        VFileSystem* rootSystem = fRoot ? fRoot->GetFileSystem() : nullptr;
        if (rootSystem && rootSystem->GetAttributesCache())
            fAttributesCache.Set(rootSystem->GetAttributesCache());
        else
            fAttributesCache = VRefPtr<VFileAttributesCache>::Adopt(new VFileAttributesCache());
    }
}

VFileSystem::~VFileSystem()
{
    if (fRoot)
        fRoot->Release();
}

void VFileSystem::GetRoot(VFilePath& out) const
{
    if (fRoot)
        out = fRoot->GetPath();
    else
        out.Clear();
}

bool VFileSystem::IsAuthorized(const VFilePath& path) const
{
    VFilePath root;
    GetRoot(root);
    return path.IsSameOrChildOf(root);
}

}  // namespace bkit
