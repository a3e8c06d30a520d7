// FolderLock.h - the exclusive lock of a folder, shared by every process that works in it.
//
// This file defines LockFolder, the advisory lock through which processes that
// clear, stage and replace items inside one folder take turns: while one holds
// it, what any other left there is known to be a leftover of a process that
// has stopped, whatever its process id says (a pid means nothing across pid
// namespaces, containers or machines sharing the folder). The lock is flock on
// the folder itself; where the file system refuses flock on a folder (NFS
// emulates it with byte-range locks, which need a descriptor open for
// writing), it is flock on a hidden file ".bkit-folder-lock" inside the
// folder, made on first use and left there. Either way the kernel frees the
// lock when its holder ends, however it ends, and a descriptor shared with a
// child (fork, exec) keeps it held: descriptors are opened close-on-exec.
//
// The lock is not recursive across descriptors: a process that asks twice
// for the same folder waits for itself. Follows a final symbolic link of the
// folder path. Asks the fault seam for kLock before each flock.
#pragma once

namespace bkit {

// Takes the folder's lock without waiting. On success outFD receives the
// descriptor that holds it (close it, or hand it to an StFileDescriptor, to
// release the lock). EWOULDBLOCK (== EAGAIN) while another descriptor holds
// it; ENOENT, ENOTDIR, EACCES... when the folder cannot be opened.
int TryLockFolder(const char* folder, int& outFD);

}  // namespace bkit
