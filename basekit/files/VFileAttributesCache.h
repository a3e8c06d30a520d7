// VFileAttributesCache.h - remembered existence and times of a set of files.
//
// This file defines VFileAttributesCache, which a file system may own so that
// VFile::Exists and VFile::GetTimeAttributes of its files are answered without
// asking the disk. The owner fills a new map off-line (CollectFileAttributes)
// and swaps it in at once (SwapMap); readers on other tasks keep reading the
// old map meanwhile. Lookups take a reader-writer lock shared, swap and clear
// take it exclusive, so a lookup sees either the whole old map or the whole
// new one. Only files are collected: a folder path is never found. A miss says
// nothing about the disk.
#pragma once

#include <map>
#include <shared_mutex>

#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VTime.h"

namespace bkit {

class IFile;
class IFolder;

class VFileAttributesCache : public VObject, public IRefCountable {
public:
    struct Attributes {
        VTime fModified;
        VTime fCreated;
        VTime fAccessed;
    };

    // Path texts in the order of the locale comparison ignoring case and accents.
    struct PathLess {
        bool operator()(const VString& a, const VString& b) const;
    };

    using Map = std::map<VString, Attributes, PathLess>;

    VFileAttributesCache() = default;

    bool FileExists(const VFilePath& path) const;
    // True with each given time set when the path is known; false, nothing
    // written, otherwise.
    bool GetTimeAttributes(const VFilePath& path, VTime* modified, VTime* created, VTime* accessed) const;

    // Add the files of the folder (not recursive) / the file; an entry already
    // in the map is kept; files whose times cannot be read are skipped.
    static void CollectFileAttributes(Map& map, IFolder* folder);
    static void CollectFileAttributes(Map& map, IFile* file);

    // Exchanges the cache's map with map (the caller then holds the old one).
    void SwapMap(Map& map);
    void Clear();

private:
    mutable std::shared_mutex fLock;
    Map fMap;
};

}  // namespace bkit
