// FolderOps.cpp - whole-folder copy and forced deletion over descriptors.
//
// Both walks work relative to open directory descriptors (openat, unlinkat,
// O_NOFOLLOW), so that a symbolic link met on the way is never entered and a
// folder renamed meanwhile is not mistaken for another.
#include "basekit/platform/FolderOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

constexpr uint32_t kLockFlags = kFileFlagUserImmutable | kFileFlagSystemImmutable;

std::string WithoutTrailingSlashes(const char* path)
{
    std::string text(path ? path : "");
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string ParentOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string Join(const std::string& folder, const char* name)
{
    std::string out(folder);
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

// Copies the extended attributes of one descriptor to another.
int CopyAttributes(int from, int to)
{
    ssize_t size = flistxattr(from, nullptr, 0);
    if (size <= 0)
        return size < 0 && errno != ENOTSUP ? errno : 0;
    std::vector<char> names(static_cast<size_t>(size));
    size = flistxattr(from, names.data(), names.size());
    if (size < 0)
        return errno;
    std::vector<char> value;
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names.data() + at)) + 1) {
        const char* name = names.data() + at;
        ssize_t length = fgetxattr(from, name, nullptr, 0);
        if (length < 0)
            continue;  // vanished meanwhile
        value.resize(static_cast<size_t>(length) + 1);
        length = fgetxattr(from, name, value.data(), value.size());
        if (length < 0)
            continue;
        if (fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0) != 0 && errno != ENOTSUP &&
            errno != EPERM)
            return errno;
    }
    return 0;
}

int CheckCreate()
{
    return FaultSeam::Check(FaultOperation::kCreate);
}

int CopyFolderContents(int fromFD, const std::string& fromPath, int toFD, const std::string& toPath);

// Makes the folder name inside toFD as a copy of the folder fromFD.
int CopyOneFolder(int fromFD, const std::string& fromPath, int toParentFD, const char* name,
                  const std::string& toPath)
{
    struct stat st;
    if (fstat(fromFD, &st) != 0)
        return errno;
    if (int err = CheckCreate())
        return err;
    // Owner access while the content is written; the real mode comes last.
    if (mkdirat(toParentFD, name, 0700) != 0)
        return errno;
    StFileDescriptor toFD(RetryOnEINTR([&] { return openat(toParentFD, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    if (!toFD.IsValid())
        return errno;
    if (int err = CopyFolderContents(fromFD, fromPath, toFD.Get(), toPath))
        return err;
    if (int err = CopyAttributes(fromFD, toFD.Get()))
        return err;
    if (fchmod(toFD.Get(), st.st_mode & 07777) != 0)
        return errno;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(toFD.Get(), times) != 0)
        return errno;
    return 0;
}

int CopyFolderContents(int fromFD, const std::string& fromPath, int toFD, const std::string& toPath)
{
    int listFD = dup(fromFD);
    if (listFD < 0)
        return errno;
    DIR* dir = fdopendir(listFD);
    if (dir == nullptr) {
        int err = errno;
        close(listFD);
        return err;
    }
    int result = 0;
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = entry->d_type;
        struct stat st;
        if (type == DT_UNKNOWN) {
            if (fstatat(fromFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                result = errno;
                break;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK
                 : S_ISFIFO(st.st_mode) ? DT_FIFO : S_ISCHR(st.st_mode) ? DT_CHR : S_ISBLK(st.st_mode) ? DT_BLK
                 : DT_SOCK;
        }
        if (type == DT_DIR) {
            StFileDescriptor sub(RetryOnEINTR([&] { return openat(fromFD, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
            if (!sub.IsValid()) {
                result = errno;
                break;
            }
            result = CopyOneFolder(sub.Get(), Join(fromPath, name), toFD, name, Join(toPath, name));
        } else if (type == DT_REG || type == DT_LNK) {
            if ((result = CheckCreate()) == 0)
                result = CopyFileItemDirect(Join(fromPath, name).c_str(), Join(toPath, name).c_str()).error;
        } else if (type == DT_FIFO || type == DT_CHR || type == DT_BLK) {
            if (fstatat(fromFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                result = errno;
            } else if ((result = CheckCreate()) == 0) {
                if (mknodat(toFD, name, st.st_mode, st.st_rdev) != 0) {
                    result = errno;
                } else {
                    struct timespec times[2] = {st.st_atim, st.st_mtim};
                    utimensat(toFD, name, times, AT_SYMLINK_NOFOLLOW);
                }
            }
        }
        if (result != 0)
            break;
        errno = 0;
    }
    if (result == 0 && errno != 0)
        result = errno;
    closedir(dir);
    return result;
}

// --- forced deletion ---

// Gives the owner full access and removes the lock flags of one item inside
// the tree being deleted.
void UnlockInside(const std::string& path, bool isFolder)
{
    uint32_t flags = 0;
    if (GetFileFlags(path.c_str(), false, flags) == 0 && (flags & kLockFlags) != 0)
        SetFileFlags(path.c_str(), false, flags & ~kLockFlags);
    struct stat st;
    if (isFolder && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0700) != 0700)
        chmod(path.c_str(), (st.st_mode & 07777) | 0700);
}

int RemoveAt(int parentFD, const char* name, int flags)
{
    if (int err = FaultSeam::Check(FaultOperation::kDelete))
        return err;
    return unlinkat(parentFD, name, flags) == 0 ? 0 : errno;
}

int DeleteFolderAt(int parentFD, const char* name, const std::string& path, dev_t device);

int DeleteContentsOf(int folderFD, const std::string& path, dev_t device)
{
    int listFD = dup(folderFD);
    if (listFD < 0)
        return errno;
    DIR* dir = fdopendir(listFD);
    if (dir == nullptr) {
        int err = errno;
        close(listFD);
        return err;
    }
    int result = 0;
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(folderFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    errno = 0;
                    continue;
                }
                result = errno;
                break;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK
                 : DT_FIFO;
        }
        if (type == DT_DIR) {
            result = DeleteFolderAt(folderFD, name, Join(path, name), device);
        } else if (type == DT_REG || type == DT_LNK) {
            result = RemoveAt(folderFD, name, 0);
            if (result != 0 && result != ENOENT && type == DT_REG) {
                UnlockInside(Join(path, name), false);
                result = RemoveAt(folderFD, name, 0);
            }
            if (result == ENOENT)
                result = 0;
        }
        // Pipes, sockets and devices stay: their folder then cannot go.
        if (result != 0)
            break;
        errno = 0;
    }
    if (result == 0 && errno != 0)
        result = errno;
    closedir(dir);
    return result;
}

int DeleteFolderAt(int parentFD, const char* name, const std::string& path, dev_t device)
{
    int fd = RetryOnEINTR([&] { return openat(parentFD, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0 && errno == EACCES) {
        UnlockInside(path, true);
        fd = RetryOnEINTR([&] { return openat(parentFD, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    }
    if (fd < 0)
        return errno;
    StFileDescriptor folder(fd);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errno;
    if (st.st_dev != device)
        return EXDEV;  // a mount inside the tree is never entered
    uint32_t flags = 0;
    if (GetFileFlags(path.c_str(), false, flags) == 0 && (flags & kLockFlags) != 0)
        UnlockInside(path, true);
    if ((st.st_mode & 0300) != 0300 && geteuid() != 0)
        UnlockInside(path, true);
    if (int err = DeleteContentsOf(fd, path, device))
        return err;
    folder.Reset();
    int err = RemoveAt(parentFD, name, AT_REMOVEDIR);
    return err == ENOENT ? 0 : err;
}

}  // namespace

int CopyFolderTree(const char* from, const char* to)
{
    std::string fromPath = WithoutTrailingSlashes(from);
    std::string toPath = WithoutTrailingSlashes(to);
    StFileDescriptor fromFD(RetryOnEINTR([&] { return open(fromPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!fromFD.IsValid())
        return errno;
    std::string toParent = ParentOf(toPath);
    std::string toName = toPath.substr(toPath.find_last_of('/') == std::string::npos ? 0 : toPath.find_last_of('/') + 1);
    StFileDescriptor parentFD(RetryOnEINTR([&] { return open(toParent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!parentFD.IsValid())
        return errno;
    struct stat existing;
    if (fstatat(parentFD.Get(), toName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    int err = CopyOneFolder(fromFD.Get(), fromPath, parentFD.Get(), toName.c_str(), toPath);
    if (err != 0) {
        // Nothing half-made stays behind; the first failure is what counts.
        struct stat st;
        if (fstatat(parentFD.Get(), toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            DeleteFolderAt(parentFD.Get(), toName.c_str(), toPath, st.st_dev);
        }
    }
    return err;
}

ForceDeleteResult ForceDeleteFolder(const char* path)
{
    ForceDeleteResult result;
    std::string target = WithoutTrailingSlashes(path);
    std::string parent = ParentOf(target);
    std::string name = target.substr(target.find_last_of('/') == std::string::npos ? 0 : target.find_last_of('/') + 1);

    struct stat st;
    if (lstat(target.c_str(), &st) != 0) {
        result.error = errno;
        return result;
    }

    // The parent may be unlocked and opened to its owner for the duration.
    uint32_t parentFlags = 0;
    if ((result.error = GetFileFlags(parent.c_str(), true, parentFlags)) != 0)
        return result;
    bool unlocked = false;
    if ((parentFlags & kLockFlags) != 0) {
        if ((result.error = SetFileFlags(parent.c_str(), true, parentFlags & ~kLockFlags)) != 0)
            return result;
        unlocked = true;
    }
    struct stat parentStat;
    bool modeChanged = false;
    if (stat(parent.c_str(), &parentStat) != 0) {
        result.error = errno;
    } else if ((parentStat.st_mode & 0700) != 0700 && parentStat.st_uid == geteuid() && geteuid() != 0) {
        if (chmod(parent.c_str(), (parentStat.st_mode & 07777) | 0700) != 0)
            result.error = errno;
        else
            modeChanged = true;
    }

    if (result.error == 0) {
        StFileDescriptor parentFD(RetryOnEINTR([&] { return open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
        if (!parentFD.IsValid())
            result.error = errno;
        else if (S_ISLNK(st.st_mode))
            result.error = RemoveAt(parentFD.Get(), name.c_str(), 0);  // the link, never its target
        else if (!S_ISDIR(st.st_mode))
            result.error = ENOTDIR;
        else
            result.error = DeleteFolderAt(parentFD.Get(), name.c_str(), target, st.st_dev);
    }

    // Put back whatever the outcome.
    if (modeChanged && chmod(parent.c_str(), parentStat.st_mode & 07777) != 0)
        result.restoreError = errno;
    if (unlocked) {
        if (int err = SetFileFlags(parent.c_str(), true, parentFlags); err != 0 && result.restoreError == 0)
            result.restoreError = err;
    }
    return result;
}

}  // namespace bkit
