// FolderLock.cpp - flock on a folder, or on a lock file inside it where folders cannot be locked.

#include "basekit/platform/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

constexpr const char* kLockFileName = ".bkit-folder-lock";

int _Flock(int fd)
{
    if (int err = FaultSeam::Check(FaultOperation::kLock))
        return err;
    return RetryOnEINTR([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0 ? 0 : errno;
}

// True when the error says the file system has no flock for this descriptor,
// not that another holds the lock.
bool _LockRefused(int err)
{
    return err == EBADF || err == ENOLCK || err == EOPNOTSUPP || err == ENOTSUP || err == EINVAL;
}

}  // namespace

int TryLockFolder(const char* folder, int& outFD)
{
    StFileDescriptor dir(RetryOnEINTR([&] { return ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!dir.IsValid())
        return errno;
    int err = _Flock(dir.Get());
    if (err == 0) {
        outFD = dir.Release();
        return 0;
    }
    if (!_LockRefused(err))
        return err;

    StFileDescriptor file(RetryOnEINTR([&] {
        return ::openat(dir.Get(), kLockFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
    if (!file.IsValid())
        return errno;
    if ((err = _Flock(file.Get())) != 0)
        return err;
    outFD = file.Release();
    return 0;
}

}  // namespace bkit
