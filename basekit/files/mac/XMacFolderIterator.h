// XMacFolderIterator.h - the platform iterators over one folder's entries.
//
// This file defines XMacFSObjectIterator, which reads a folder's directory
// entries once, forward only, and filters them by the listing options
// (2 folders, 4 files and symbolic links, 8 invisible entries, 16 symbolic
// links replaced by their targets), keeping the walk inside the folder's file
// system; and XMacFileIterator / XMacFolderIterator, which turn each accepted
// entry into a new VFile or VFolder (one reference for the caller).
//
// Contracts:
// - An entry is invisible when its name begins with '.', when it carries the
//   hidden flag, or when it cannot be examined. Entries other than folders,
//   regular files and symbolic links (pipes, sockets, devices) are never
//   yielded. A dangling link is skipped with option 16, listed as a file
//   without it.
// - The folder is opened and read by descriptor, so entries are listed
//   whatever the length of their paths (also past PATH_MAX).
// - A folder that cannot be opened yields nothing; nothing is ever pushed.
// - Order is the directory's; nothing sorts.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "basekit/files/VFilePath.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFile;
class VFolder;
class VFileSystem;
class VTime;

class XMacFSObjectIterator : public VObject {
public:
    XMacFSObjectIterator(const VFolder* folder, uint32_t options);
    ~XMacFSObjectIterator() override;
    XMacFSObjectIterator(const XMacFSObjectIterator&) = delete;
    XMacFSObjectIterator& operator=(const XMacFSObjectIterator&) = delete;

    // Advances to the next accepted entry: true with path and the on-disk
    // text set, whatever their length; isFolder tells the kind of what was
    // accepted. False at the end or on a read error.
    bool GetNextPath(VFilePath& path, std::string& text, bool* isFolder = nullptr);

    // Status of the folder last accepted (of the target for a replaced link);
    // valid after GetNextPath answered true for a folder.
    const struct stat& GetLastStat() const { return fLastStat; }

protected:
    VFileSystem* fFileSystem = nullptr;

private:
    bool _IsHiddenByFlag(const char* text) const;

    uint32_t fOptions;
    DIR* fDir = nullptr;
    std::string fFolderText;  // ends with '/'
    VFilePath fFolderPath;
    std::string fRootText;  // ends with '/'; empty when unknown
    VFilePath fRootPath;
    struct stat fLastStat {};
};

class XMacFileIterator : public XMacFSObjectIterator {
public:
    XMacFileIterator(const VFolder* folder, uint32_t options) : XMacFSObjectIterator(folder, options) {}
    // The next accepted entry as a new VFile, or null at the end.
    VFile* Next();
    static VError GetTimeAttributes(const VFile* file, VTime* modified, VTime* created, VTime* accessed);
};

class XMacFolderIterator : public XMacFSObjectIterator {
public:
    XMacFolderIterator(const VFolder* folder, uint32_t options) : XMacFSObjectIterator(folder, options) {}
    // The next accepted entry as a new VFolder, or null at the end.
    VFolder* Next();
    static VError GetTimeAttributes(const VFolder* folder, VTime* modified, VTime* created, VTime* accessed);
};

}  // namespace bkit
