// VFileSystem.cpp - a named root folder that file and folder objects may be bound to.

#include "basekit/files/VFileSystem.h"

#include <string>
#include <string_view>
#include <vector>

#include "basekit/files/IFolder.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

namespace {

// The components of an internal path text, "." and ".." steps and the empty
// components of the internal form (one level up each) resolved; the volume is
// the first. False when the text is empty or climbs above its volume.
bool ResolvedComponents(const VString& text, std::vector<std::u16string_view>& out)
{
    out.clear();
    std::u16string_view units(text.GetCPointer(), static_cast<size_t>(text.GetLength()));
    if (units.empty() || units.front() == u':')
        return false;
    size_t start = 0;
    while (start < units.size()) {
        size_t end = units.find(u':', start);
        if (end == std::u16string_view::npos)
            end = units.size();
        std::u16string_view part = units.substr(start, end - start);
        if (part.empty() || part == u"..") {
            if (out.size() <= 1)
                return false;
            out.pop_back();
        } else if (part != u".") {
            out.push_back(part);
        }
        start = end + 1;
    }
    return !out.empty();
}

// Whether path's resolved components are root's or begin with them. The
// root's own path as a file ("Vol:docs" against "Vol:docs:") names the root's
// entry in its parent, which is not inside.
bool LiesBelowByNames(const VFilePath& path, const VFilePath& root)
{
    std::vector<std::u16string_view> rootParts, pathParts;
    if (!root.IsFolder() || !ResolvedComponents(root.GetPath(), rootParts) ||
        !ResolvedComponents(path.GetPath(), pathParts))
        return false;
    if (pathParts.size() < rootParts.size())
        return false;
    for (size_t i = 0; i < rootParts.size(); ++i) {
        if (rootParts[i] != pathParts[i])
            return false;
    }
    return pathParts.size() > rootParts.size() || path.IsFolder();
}

// Where a path leads on disk, every symbolic link on its way followed (a
// missing item where its folder leads, with its name).
bool WhereOnDisk(const VFilePath& path, std::string& out)
{
    return XMacFile::ResolvePathThroughLinks(XMacFile::PosixPathText(path).c_str(), out);
}

bool LeadsBelowOnDisk(const std::string& pathOnDisk, const std::string& rootOnDisk)
{
    if (rootOnDisk == "/")
        return true;
    return pathOnDisk.compare(0, rootOnDisk.size(), rootOnDisk) == 0 &&
           (pathOnDisk.size() == rootOnDisk.size() || pathOnDisk[rootOnDisk.size()] == '/');
}

}  // namespace

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
    if ((fFlags & eFSTemporary) != 0) {
        if (VFolder* folder = dynamic_cast<VFolder*>(fRoot); folder != nullptr && folder->Exists()) {
            // The owner is gone: nobody is left to hear about a root that
            // could not be removed.
            StErrorContextInstaller silent(false, true);
            folder->Delete(true);
        }
    }
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

IFolder* VFileSystem::RetainRootFolder() const
{
    if (fRoot == nullptr)
        return nullptr;
    return fRoot->RetainRelativeFolder(VString(), FPS_POSIX, const_cast<VFileSystem*>(this));
}

VError VFileSystem::Request(size_t bytes)
{
    if ((fFlags & eFSWritable) == 0)
        return VE_FS_NOT_WRITABLE;
    if (fQuota == 0)
        return VE_OK;
    uint64_t available = fAvailable.load(std::memory_order_acquire);
    do {
        if (available < bytes)
            return VE_FS_QUOTA_EXCEEDED;
    } while (!fAvailable.compare_exchange_weak(available, available - bytes, std::memory_order_acq_rel));
    return VE_OK;
}

VError VFileSystem::Relinquish(size_t bytes)
{
    if ((fFlags & eFSWritable) == 0)
        return VE_FS_NOT_WRITABLE;
    if (fQuota == 0)
        return VE_OK;
    // Bytes given back beyond what was taken would wrap the count round.
    uint64_t available = fAvailable.load(std::memory_order_acquire);
    uint64_t next;
    do {
        next = bytes > fQuota - available ? fQuota : available + bytes;
    } while (!fAvailable.compare_exchange_weak(available, next, std::memory_order_acq_rel));
    return VE_OK;
}

bool VFileSystem::IsAuthorized(const VFilePath& path) const
{
    VFilePath root;
    GetRoot(root);
    if (!path.IsValid() || !root.IsFolder())
        return false;
    // Where both lead on disk: the names alone cannot tell, since
    // "docs:escape:passwd" is below "docs:" in the text and is /etc/passwd
    // when escape is a link to /etc.
    std::string rootOnDisk, pathOnDisk;
    if (!WhereOnDisk(root, rootOnDisk) || !WhereOnDisk(path, pathOnDisk) ||
        !LeadsBelowOnDisk(pathOnDisk, rootOnDisk))
        return false;
    if (LiesBelowByNames(path, root))
        return true;
    // A root that is itself a link: the paths of the folders below it are
    // converted with their links resolved, so they spell where the root
    // leads, never the root's own text.
    VString resolvedText(rootOnDisk.c_str());
    if (rootOnDisk != "/")
        resolvedText.AppendUniChar(u'/');
    VFilePath resolvedRoot(resolvedText, FPS_POSIX);
    return resolvedRoot != root && LiesBelowByNames(path, resolvedRoot);
}

}  // namespace bkit
