// VFileAttributesCache.cpp - remembered existence and times of a set of files.

#include "basekit/files/VFileAttributesCache.h"

#include <mutex>

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"

namespace bkit {

bool VFileAttributesCache::PathLess::operator()(const VString& a, const VString& b) const
{
    return a.CompareToString(b, false) < 0;
}

bool VFileAttributesCache::FileExists(const VFilePath& path) const
{
    std::shared_lock<std::shared_mutex> lock(fLock);
    return fMap.find(path.GetPath()) != fMap.end();
}

bool VFileAttributesCache::GetTimeAttributes(const VFilePath& path, VTime* modified, VTime* created,
                                             VTime* accessed) const
{
    std::shared_lock<std::shared_mutex> lock(fLock);
    auto found = fMap.find(path.GetPath());
    if (found == fMap.end())
        return false;
    if (modified)
        *modified = found->second.fModified;
    if (created)
        *created = found->second.fCreated;
    if (accessed)
        *accessed = found->second.fAccessed;
    return true;
}

void VFileAttributesCache::CollectFileAttributes(Map& map, IFolder* folder)
{
    if (!folder)
        return;
    constexpr unsigned int kFilesOnly = 4;
    folder->IterateFiles(
        [&map](IFile* file, IFileAttributeAccessor* accessor) {
            Attributes attributes;
            if (file && accessor &&
                accessor->GetTime(&attributes.fModified, &attributes.fCreated, &attributes.fAccessed) == VE_OK)
                map.emplace(file->GetPath().GetPath(), attributes);
            return true;
        },
        kFilesOnly);
}

void VFileAttributesCache::CollectFileAttributes(Map& map, IFile* file)
{
    if (!file)
        return;
    Attributes attributes;
    if (file->GetTimeAttributes(&attributes.fModified, &attributes.fCreated, &attributes.fAccessed) == VE_OK)
        map.emplace(file->GetPath().GetPath(), attributes);
}

void VFileAttributesCache::SwapMap(Map& map)
{
    std::unique_lock<std::shared_mutex> lock(fLock);
    fMap.swap(map);
}

void VFileAttributesCache::Clear()
{
    Map old;
    {
        std::unique_lock<std::shared_mutex> lock(fLock);
        fMap.swap(old);
    }
}

}  // namespace bkit
