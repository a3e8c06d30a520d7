// FolderLock.h - the exclusive lock of a folder, shared by every process that changes it.
//
// This file defines StFolderLock, the advisory lock through which processes
// that clear, stage and replace items inside one folder take turns: while one
// holds it, what any other left there is known to be a leftover of a process
// that has stopped, whatever its process id says (a pid means nothing across
// pid namespaces, containers or machines sharing the folder).
//
// The lock is flock(LOCK_EX) on a hidden file ".bkit-folder-lock" in the
// folder, opened for reading and writing, on every file system alike (NFS
// emulates flock with byte-range locks, which need a descriptor open for
// writing: this one is). The folder itself is never locked, so that a user
// who may only read the folder has nothing to hold that delays another.
//
// Who can hold it: only who may change the folder. The file is made with
// O_CREAT|O_EXCL, which needs write permission on the folder; its mode then
// follows the folder's write permission (owner read-write; the group's when
// the folder is group-writable, the file taking the folder's group; others'
// when the folder is world-writable), and a file made by root is given to the
// folder's owner. So a user who may only read the folder can neither make nor
// open it. Shortfalls: ACLs of the folder are not followed; a user who may
// change the folder only as its owner outside the folder's group cannot give
// the file that group, and members of that group cannot open it while it
// stands (EACCES, naming the file).
//
// Life of the file: made by the run that finds none, removed by its holder
// when it lets go (unlinked while still locked, then closed). A holder that
// dies leaves it; the kernel frees its lock, and the next run that finds the
// file unlocked takes it over and removes it in its turn. Under a sticky
// folder, a file of another user that cannot be removed is taken over and
// left. Races, and why two holders never coexist:
// - Made but not yet locked: another run may open the new file and lock it
//   first; it holds it as a taken-over file, and the maker finds it busy.
//   The maker never removes a file it could not lock.
// - Opened while its holder lets go: the holder removes the name before it
//   unlocks, so a run that gets the lock of a file it opened earlier checks
//   that the name still leads to that same file (device and inode, the name
//   not followed) and otherwise lets it go and starts again. Every holder has
//   made that check after locking, and a name leaves its file only at its
//   holder's release: so at any time at most one unreleased holder's file is
//   named.
// - Across machines (NFS) the check relies on the client's lookup seeing
//   another client's removal; the default close-to-open consistency does. A
//   file removed by another client answers ESTALE, which starts again too.
//   The NFS side follows nfs(5) (flock as a byte-range lock of the whole
//   file); the tests exercise local file systems only.
//
// The lock is not recursive: a second StFolderLock of the same process finds
// the folder busy. Follows a final symbolic link of the folder path; never a
// link at the lock file's name. Descriptors are opened close-on-exec, so a
// child that execs holds nothing; a forked child shares the lock until both
// close it. Asks the fault seam for kLock before each flock.
#pragma once

#include <string>

namespace bkit {

class StFolderLock {
public:
    // The name of the lock file inside the folder.
    static constexpr const char* kLockFileName = ".bkit-folder-lock";

    StFolderLock() = default;
    // Lets go of a lock still held (see Unlock).
    ~StFolderLock() { Unlock(); }
    StFolderLock(const StFolderLock&) = delete;
    StFolderLock& operator=(const StFolderLock&) = delete;

    // Takes the lock of folder without waiting; lets go first of one this
    // object held. 0 when held; EWOULDBLOCK (== EAGAIN) while another holds
    // it. Any other errno names its item in FailedItem(): the folder (ENOENT,
    // ENOTDIR, EACCES when the user may not make the file...), or the item
    // at the lock name (EISDIR for a folder there, ELOOP for a symbolic link,
    // EINVAL for anything else but a regular file, EACCES for a file the user
    // may not open). A file this call made but could not lock stays, since
    // another may hold it by then; the next holder removes it.
    int TryLock(const char* folder);

    bool IsLocked() const { return fFile >= 0; }

    // Removes the lock file, when its name still leads to it and may be
    // removed, then unlocks. Does nothing when nothing is held.
    void Unlock();

    // The POSIX path of what the last failed TryLock could not use.
    const std::string& FailedItem() const { return fFailedItem; }

private:
    int fFolder = -1;  // the folder (O_PATH), where the lock file is removed
    int fFile = -1;    // the locked file
    std::string fFailedItem;
};

}  // namespace bkit
