// XMacFolderIterator.cpp - reading and filtering one folder's entries.
#include "basekit/files/mac/XMacFolderIterator.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

XMacFSObjectIterator::XMacFSObjectIterator(const VFolder* folder, uint32_t options) : fOptions(options)
{
    if (folder == nullptr)
        return;
    fFileSystem = folder->GetFileSystem();
    int fd = OpenFolderPath(folder->MAC_GetImpl().GetPosixPathCString());
    if (fd < 0)
        return;
    fDir = fdopendir(fd);
    if (fDir == nullptr) {
        close(fd);
        return;
    }
    // A folder too deep for the system to name keeps the text it was given.
    if (GetPathOfDescriptor(fd, fFolderText) != 0)
        fFolderText = folder->MAC_GetImpl().GetPosixPathCString();
    if (fFolderText.empty() || fFolderText.back() != '/')
        fFolderText.push_back('/');
    VString hfs;
    if (XMacFile::PosixFullPathToHFS(fFolderText.c_str(), true, hfs))
        fFolderPath.FromFullPath(hfs, FPS_SYSTEM);
    else
        fFolderPath = folder->GetPathRef();

    if (fFileSystem != nullptr) {
        fFileSystem->GetRoot(fRootPath);
        char* rootPosix = XMacFile::AllocatePosixPathFromFilePath(fRootPath);
        char resolvedRoot[PATH_MAX + 1];
        if (rootPosix != nullptr && XMacFile::RealPath(rootPosix, true, resolvedRoot, sizeof(resolvedRoot))) {
            fRootText = resolvedRoot;
            if (fRootText.empty() || fRootText.back() != '/')
                fRootText.push_back('/');
        }
        XMacFile::FreePosixPath(rootPosix);
    }
}

XMacFSObjectIterator::~XMacFSObjectIterator()
{
    if (fDir)
        closedir(fDir);
}

bool XMacFSObjectIterator::_IsHiddenByFlag(const char* text) const
{
    uint32_t flags = 0;
    ssize_t n = lgetxattr(text, kFileFlagsAttributeName, &flags, sizeof(flags));
    return n == static_cast<ssize_t>(sizeof(flags)) && (flags & kFileFlagHidden) != 0;
}

bool XMacFSObjectIterator::GetNextPath(VFilePath& path, std::string& text, bool* isFolder)
{
    if (fDir == nullptr)
        return false;
    const bool wantInvisibles = (fOptions & 8) != 0;
    const bool resolveLinks = (fOptions & 16) != 0;
    const int folderFD = dirfd(fDir);
    while (struct dirent* entry = readdir(fDir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = entry->d_type;
        bool statKnown = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(folderFD, name, &fLastStat, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // vanished
            statKnown = true;
            type = S_ISDIR(fLastStat.st_mode) ? DT_DIR : S_ISREG(fLastStat.st_mode) ? DT_REG
                 : S_ISLNK(fLastStat.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        if (type != DT_DIR && type != DT_REG && type != DT_LNK)
            continue;
        text.assign(fFolderText).append(name);

        bool replaced = false;
        if (resolveLinks && type == DT_LNK) {
            if (!wantInvisibles && name[0] == '.')
                continue;
            // The target is reached through the folder's descriptor, so the
            // length of the link's own path does not matter.
            StFileDescriptor target(openat(folderFD, name, O_PATH | O_CLOEXEC));
            struct stat st;
            if (!target.IsValid() || fstat(target.Get(), &st) != 0 || (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)))
                continue;  // dangling, or neither a file nor a folder
            if (GetPathOfDescriptor(target.Get(), text) != 0)
                continue;
            fLastStat = st;
            statKnown = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
            replaced = true;
        }
        if (!wantInvisibles) {
            if (name[0] == '.')
                continue;
            if (!statKnown && fstatat(folderFD, name, &fLastStat, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // cannot be examined: invisible
            statKnown = true;
            if (type != DT_LNK) {
                std::string flagged = replaced ? text : "/proc/self/fd/" + std::to_string(folderFD) + "/" + name;
                if (_IsHiddenByFlag(flagged.c_str()))
                    continue;
            }
        }
        const bool folder = type == DT_DIR;
        if (folder ? (fOptions & 2) == 0 : (fOptions & 4) == 0)
            continue;
        if (folder && text.back() != '/')
            text.push_back('/');
        if (!fRootText.empty() && text.compare(0, fRootText.size(), fRootText) != 0)
            continue;  // a link leading out of the file system
        if (!statKnown && folder && fstatat(folderFD, name, &fLastStat, AT_SYMLINK_NOFOLLOW) != 0)
            fLastStat = {};

        if (replaced) {
            VString hfs;
            if (!XMacFile::PosixFullPathToHFS(text.c_str(), folder, hfs))
                continue;
            // A folder's path ends with ':' whatever the conversion gave.
            if (folder && (hfs.IsEmpty() || hfs[hfs.GetLength() - 1] != u':'))
                hfs.AppendUniChar(u':');
            path.FromFullPath(hfs, FPS_SYSTEM);
        } else {
            // The name below the folder's path; a ':' in a POSIX name is a
            // '/' in the internal form.
            VString relative(name);
            relative.Compose();
            if (std::strchr(name, ':') != nullptr)
                relative.Exchange(u':', u'/');
            path = fFolderPath;
            if (folder)
                path.ToSubFolder(relative);
            else
                path.ToSubFile(relative);
        }
        if (!path.IsValid())
            continue;
        if (fFileSystem != nullptr && fRootText.empty() && !path.IsSameOrChildOf(fRootPath))
            continue;
        if (isFolder)
            *isFolder = folder;
        return true;
    }
    return false;
}

VFile* XMacFileIterator::Next()
{
    VFilePath path;
    std::string text;
    if (!GetNextPath(path, text))
        return nullptr;
    return new VFile(text.c_str(), path, fFileSystem);
}

VError XMacFileIterator::GetTimeAttributes(const VFile* file, VTime* modified, VTime* created, VTime* accessed)
{
    return file->GetTimeAttributes(modified, created, accessed);
}

VFolder* XMacFolderIterator::Next()
{
    VFilePath path;
    std::string text;
    if (!GetNextPath(path, text))
        return nullptr;
    return new VFolder(text.c_str(), path, fFileSystem);
}

VError XMacFolderIterator::GetTimeAttributes(const VFolder* folder, VTime* modified, VTime* created, VTime* accessed)
{
    return folder->GetTimeAttributes(modified, created, accessed);
}

}  // namespace bkit
