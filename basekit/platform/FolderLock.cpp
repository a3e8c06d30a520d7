// FolderLock.cpp - flock on a lock file that only those who may change its folder can make or open.

#include "basekit/platform/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

// Each new attempt means another run took and released the lock in between:
// past this many, the folder counts as busy.
constexpr int kAttempts = 64;

int _Flock(int fd)
{
    if (int err = FaultSeam::Check(FaultOperation::kLock))
        return err;
    return RetryOnEINTR([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0 ? 0 : errno;
}

// Opens the lock file for reading and writing: made anew (made = true), or
// the one standing there. -1 with errno set otherwise.
int _OpenLockFile(int folder, bool& made)
{
    made = true;
    int fd = RetryOnEINTR([&] {
        return ::openat(folder, StFolderLock::kLockFileName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (fd >= 0 || errno != EEXIST)
        return fd;
    made = false;
    // Non-blocking: a FIFO put there must not stop the run.
    return RetryOnEINTR([&] {
        return ::openat(folder, StFolderLock::kLockFileName, O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    });
}

// Gives a lock file just made the access of those who may change the folder.
// The group can be given only by a member of it (or root): otherwise the
// group keeps no access rather than that of a group that may not change the
// folder.
void _GrantFolderWriters(int fd, const struct stat& folder)
{
    mode_t mode = S_IRUSR | S_IWUSR;
    if (::geteuid() == 0)
        (void)::fchown(fd, folder.st_uid, folder.st_gid);
    else
        (void)::fchown(fd, static_cast<uid_t>(-1), folder.st_gid);
    struct stat st;
    if ((folder.st_mode & S_IWGRP) != 0 && ::fstat(fd, &st) == 0 && st.st_gid == folder.st_gid)
        mode |= S_IRGRP | S_IWGRP;
    if ((folder.st_mode & S_IWOTH) != 0)
        mode |= S_IROTH | S_IWOTH;
    (void)::fchmod(fd, mode);
}

bool _SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int StFolderLock::TryLock(const char* folder)
{
    Unlock();
    fFailedItem = folder;
    StFileDescriptor dir(RetryOnEINTR([&] { return ::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    struct stat folderStat;
    if (!dir.IsValid() || ::fstat(dir.Get(), &folderStat) != 0)
        return errno;
    std::string item(folder);
    if (item.empty() || item.back() != '/')
        item += '/';
    item += kLockFileName;

    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool made = false;
        StFileDescriptor file(_OpenLockFile(dir.Get(), made));
        if (!file.IsValid()) {
            int err = errno;
            if (!made && err == ENOENT)
                continue;  // its holder removed it between the two opens
            if (!made)
                fFailedItem = item;
            return err;
        }
        struct stat held;
        if (::fstat(file.Get(), &held) != 0) {
            if (errno == ESTALE)
                continue;  // removed by its holder on another NFS client
            return errno;
        }
        if (!S_ISREG(held.st_mode)) {
            fFailedItem = item;
            return EINVAL;
        }
        if (made)
            _GrantFolderWriters(file.Get(), folderStat);
        if (int err = _Flock(file.Get())) {
            if (err == ESTALE)
                continue;
            if (err != EWOULDBLOCK)
                fFailedItem = item;
            return err;
        }
        // A file its holder removed (and so unlocked) after this run opened
        // it is no lock any more: the name may lead to a newer one by now.
        struct stat named;
        if (::fstatat(dir.Get(), kLockFileName, &named, AT_SYMLINK_NOFOLLOW) != 0 || !_SameFile(named, held))
            continue;
        fFolder = dir.Release();
        fFile = file.Release();
        fFailedItem.clear();
        return 0;
    }
    return EWOULDBLOCK;
}

void StFolderLock::Unlock()
{
    if (fFile < 0)
        return;
    // Removed before it is unlocked: a run waiting on this file sees, once it
    // gets the lock, that the name no longer leads to it. A name that leads
    // elsewhere (someone replaced the file) is not this lock's to remove.
    struct stat held, named;
    if (::fstat(fFile, &held) == 0 && ::fstatat(fFolder, kLockFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        _SameFile(held, named))
        (void)::unlinkat(fFolder, kLockFileName, 0);
    ::close(fFile);
    ::close(fFolder);
    fFile = -1;
    fFolder = -1;
}

}  // namespace bkit
