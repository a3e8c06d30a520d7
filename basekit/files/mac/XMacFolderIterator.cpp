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
#include "basekit/platform/PosixError.h"

namespace bkit {

XMacFSObjectIterator::XMacFSObjectIterator(const VFolder* folder, uint32_t options) : fOptions(options)
{
    if (folder == nullptr)
        return;
    fFileSystem = folder->GetFileSystem();
    fDir = opendir(folder->MAC_GetImpl().GetPosixPathCString());
    if (fDir == nullptr)
        return;
    std::string resolved;
    if (GetPathOfDescriptor(dirfd(fDir), resolved) != 0 || resolved.size() + 2 > sizeof(fFolderText)) {
        closedir(fDir);
        fDir = nullptr;
        return;
    }
    if (resolved.empty() || resolved.back() != '/')
        resolved.push_back('/');
    std::memcpy(fFolderText, resolved.c_str(), resolved.size() + 1);
    fFolderTextLength = resolved.size();
    VString hfs;
    if (XMacFile::PosixFullPathToHFS(fFolderText, true, hfs))
        fFolderPath.FromFullPath(hfs, FPS_SYSTEM);
    else
        fFolderPath = folder->GetPathRef();

    if (fFileSystem != nullptr) {
        fFileSystem->GetRoot(fRootPath);
        char* rootPosix = XMacFile::AllocatePosixPathFromFilePath(fRootPath);
        if (rootPosix != nullptr && XMacFile::RealPath(rootPosix, true, fRootText, sizeof(fRootText))) {
            fRootLength = std::strlen(fRootText);
            if (fRootLength + 1 < sizeof(fRootText) && (fRootLength == 0 || fRootText[fRootLength - 1] != '/')) {
                fRootText[fRootLength++] = '/';
                fRootText[fRootLength] = 0;
            }
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

bool XMacFSObjectIterator::GetNextPath(VFilePath& path, char* text, size_t size, bool* isFolder)
{
    if (fDir == nullptr || text == nullptr || size == 0)
        return false;
    const bool wantInvisibles = (fOptions & 8) != 0;
    const bool resolveLinks = (fOptions & 16) != 0;
    while (struct dirent* entry = readdir(fDir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = entry->d_type;
        bool statKnown = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(dirfd(fDir), name, &fLastStat, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // vanished
            statKnown = true;
            type = S_ISDIR(fLastStat.st_mode) ? DT_DIR : S_ISREG(fLastStat.st_mode) ? DT_REG
                 : S_ISLNK(fLastStat.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        if (type != DT_DIR && type != DT_REG && type != DT_LNK)
            continue;
        size_t nameLength = std::strlen(name);
        if (fFolderTextLength + nameLength + 1 > size)
            continue;
        std::memcpy(text, fFolderText, fFolderTextLength);
        std::memcpy(text + fFolderTextLength, name, nameLength + 1);
        std::memcpy(fLastName, name, std::min(nameLength + 1, sizeof(fLastName)));
        fLastName[sizeof(fLastName) - 1] = 0;

        bool replaced = false;
        if (resolveLinks && type == DT_LNK) {
            if (!wantInvisibles && name[0] == '.')
                continue;
            char target[PATH_MAX];
            if (realpath(text, target) == nullptr || std::strlen(target) + 2 > size)
                continue;  // dangling or unreadable
            struct stat st;
            if (stat(target, &st) != 0 || (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)))
                continue;
            std::strcpy(text, target);
            fLastStat = st;
            statKnown = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
            replaced = true;
        }
        if (!wantInvisibles) {
            if (name[0] == '.')
                continue;
            if (!statKnown && fstatat(dirfd(fDir), name, &fLastStat, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // cannot be examined: invisible
            statKnown = true;
            if (type != DT_LNK && _IsHiddenByFlag(text))
                continue;
        }
        const bool folder = type == DT_DIR;
        if (folder ? (fOptions & 2) == 0 : (fOptions & 4) == 0)
            continue;
        if (fRootLength > 0) {
            // A folder's own text may equal the root without its final '/'.
            size_t length = std::strlen(text);
            bool inside = std::strncmp(text, fRootText, fRootLength) == 0 ||
                          (folder && length + 1 == fRootLength && std::strncmp(text, fRootText, length) == 0);
            if (!inside)
                continue;
        }
        if (!statKnown && folder && fstatat(dirfd(fDir), name, &fLastStat, AT_SYMLINK_NOFOLLOW) != 0)
            fLastStat = {};

        if (replaced) {
            VString hfs;
            if (!XMacFile::PosixFullPathToHFS(text, folder, hfs))
                continue;
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
        if (fFileSystem != nullptr && fRootLength == 0 && !path.IsSameOrChildOf(fRootPath))
            continue;
        if (folder) {
            size_t length = std::strlen(text);
            if (length + 1 < size && text[length - 1] != '/') {
                text[length] = '/';
                text[length + 1] = 0;
            }
        }
        if (isFolder)
            *isFolder = folder;
        return true;
    }
    return false;
}

VFile* XMacFileIterator::Next()
{
    VFilePath path;
    char text[1025];
    if (!GetNextPath(path, text, sizeof(text)))
        return nullptr;
    return new VFile(text, path, fFileSystem);
}

VError XMacFileIterator::GetTimeAttributes(const VFile* file, VTime* modified, VTime* created, VTime* accessed)
{
    return file->GetTimeAttributes(modified, created, accessed);
}

VFolder* XMacFolderIterator::Next()
{
    VFilePath path;
    char text[1024];
    if (!GetNextPath(path, text, sizeof(text)))
        return nullptr;
    return new VFolder(text, path, fFileSystem);
}

VError XMacFolderIterator::GetTimeAttributes(const VFolder* folder, VTime* modified, VTime* created, VTime* accessed)
{
    return folder->GetTimeAttributes(modified, created, accessed);
}

}  // namespace bkit
