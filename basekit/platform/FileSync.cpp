// FileSync.cpp - fsync of files and folders, syncfs under a tree.
#include "basekit/platform/FileSync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

// A file system without a flush has nothing to keep.
int _Fsync(int fd)
{
    if (RetryOnEINTR([&] { return ::fsync(fd); }) == 0 || errno == EINVAL)
        return 0;
    return errno;
}

int _OpenForFlush(int dirFD, const char* name, int extraFlags)
{
    return RetryOnEINTR([&] {
        return ::openat(dirFD, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | extraFlags);
    });
}

}  // namespace

int FlushOpenItem(int fd)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    return _Fsync(fd);
}

int FlushItemAt(int dirFD, const char* name)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    // Opening a device or a pipe can act on it (a tape rewinds, a modem line
    // rises): only what can hold data of its own is opened.
    struct stat st;
    if (::fstatat(dirFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return 0;
    StFileDescriptor item(_OpenForFlush(dirFD, name, 0));
    if (!item.IsValid())
        return errno;
    return _Fsync(item.Get());
}

int FlushFolderOf(const char* path)
{
    const std::string parent = ParentOf(WithoutTrailingSlashes(path));
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    StFileDescriptor folder(RetryOnEINTR([&] { return ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!folder.IsValid())
        return errno;
    return _Fsync(folder.Get());
}

int FlushTreeAt(int dirFD, const char* name)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    StFileDescriptor root(_OpenForFlush(dirFD, name, O_DIRECTORY));
    if (!root.IsValid())
        return errno;
    return RetryOnEINTR([&] { return ::syncfs(root.Get()); }) == 0 ? 0 : errno;
}

int FlushTree(const char* path)
{
    return FlushTreeAt(AT_FDCWD, path);
}

}  // namespace bkit
