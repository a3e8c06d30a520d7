// FileOps.h - the file operations the platform's file manager and BSD layer offer.
//
// This file defines the Linux stand-ins for what the file implementation asks
// of services Linux lacks:
// - renames that never replace (renameat2 RENAME_NOREPLACE; where the file
//   system refuses the flag, a hard link and unlink for files, never a plain
//   replacing rename);
// - the exchange of two items in one step (renameat2 RENAME_EXCHANGE; where
//   the file system refuses the flag, renames through a temporary sibling, so
//   that the second path lacks an item for the span of one rename);
// - the BSD file flags (user and system immutable, hidden), kept as a 32-bit
//   value in the extended attribute "user.bkit.st_flags", with the kernel's
//   immutable attribute read as system immutable; symbolic links have none;
// - opening with an exclusive or shared lock (flock right after open, and
//   truncation only once the lock is held, so a refused lock never empties the
//   file of another process);
// - birth times (statx), falling back to the modification time;
// - copying a file or symbolic link the way the file manager does (data with
//   copy_file_range, holes kept, owner and group kept where the process may,
//   mode, extended attributes and times kept; a link copied as a link, a pipe
//   or device made anew with its type and device number), always
//   into a temporary sibling first, so that an existing destination is
//   replaced only once the copy is complete; a copy that cannot keep its
//   source's owner and group loses the set-user-id and set-group-id bits, so
//   that it never runs with rights its source did not have. The pieces of
//   that copy (file data, owner and mode) also serve the tree copies;
// - moving a file or link (rename, or copy and delete across volumes);
// - the freedesktop.org Trash, with its info/<name>.trashinfo records.
//
// Shortcomings against the platform: the creation time cannot be set; flags
// are honoured only by this toolbox (other programs ignore the attribute);
// locks are advisory flock locks.
//
// Every function returns 0 or an errno value and pushes nothing. Every
// operation asks the fault seam (FaultSeam.h) first; a copy asks it for
// kCopy before its data and kOwner before giving the owner, and a
// replacement for kFlush before and after its rename.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace bkit {

// BSD flag bits kept in the extended attribute.
constexpr uint32_t kFileFlagUserImmutable = 0x00000002;
constexpr uint32_t kFileFlagHidden = 0x00008000;
constexpr uint32_t kFileFlagSystemImmutable = 0x00020000;

// The name of the extended attribute that keeps the flags.
constexpr const char* kFileFlagsAttributeName = "user.bkit.st_flags";

// Result of a copy or move: the errno and whether it concerns the source.
struct FileOpResult {
    int error = 0;
    bool onSource = false;
    explicit operator bool() const { return error == 0; }
};

// Renames from to to; fails with EEXIST when to exists (a link or a file
// counts, a dangling link too). Never replaces, also on file systems that
// refuse RENAME_NOREPLACE. The overload takes names relative to folder
// descriptors (AT_FDCWD for the working folder), as do the overloads below.
int RenameNoReplace(const char* from, const char* to);
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to);

// Swaps the items (files, links or folders) at a and b, which must both
// exist on one volume: afterwards a names what b named and b what a named. A
// program watching b always finds an item there. Where the file system
// refuses the one-step exchange (EINVAL on NFS, SMB, exFAT, FUSE...), b steps
// aside to ExchangeAsideName(b's name) in its folder, a takes its place, then
// the item aside takes a; b is then missing for the span of one rename, and a
// failed step puts everything back as far as it can. A process stopped
// between those renames leaves b's item under the aside name, which nothing
// clears as a temporary item: RestoreExchangeAside (FolderOps.h:
// RestoreExchangeAsides, for a whole folder) puts it back, and a replacing
// folder copy (CopyFolderInto) repairs it at its own target. The fallback
// fails with EEXIST while an item already bears the aside name, and with
// ENAMETOOLONG when b's name leaves no room for it, before anything moved.
// Asks the seam for kRename once, for kRenameFlag to refuse the one-step
// exchange, and for kExchangeStep before each of the renames.
int ExchangeItems(const char* a, const char* b);
int ExchangeItems(int dirA, const char* a, int dirB, const char* b);

// The name under which an exchange made of renames keeps the item named name
// while its place changes hands: ".<name>.bkit-aside".
constexpr const char* kExchangeAsideSuffix = ".bkit-aside";
std::string ExchangeAsideName(const char* name);
// True when asideName is such a name; original then receives the name of the
// item it was set aside from.
bool ExchangeAsideOriginal(const char* asideName, std::string& original);

// Puts the item that an exchange made of renames left under the aside name of
// name, in the folder dir, back at name, when nothing stands there (a process
// was stopped, or the exchange could not undo itself, between the renames).
// EEXIST when name is taken (the item aside stays), ENOENT when nothing is
// aside.
int RestoreExchangeAside(int dir, const char* name);


// Renames from to to, replacing what is there (rename(2)).
int RenameReplacing(const char* from, const char* to);
int RenameReplacing(int fromDir, const char* from, int toDir, const char* to);

// Removes a file or a symbolic link (never a folder); a link is removed, not
// its target.
int UnlinkItem(const char* path);

// Reads the flags of the item (follow: of a final link's target). A missing
// attribute reads as 0. A link not followed has none.
int GetFileFlags(const char* path, bool follow, uint32_t& flags);

// Writes the flags (only the user-settable ones are kept; the system immutable
// flag reflects the kernel's attribute and is not written). Writing to a link
// not followed does nothing and succeeds.
int SetFileFlags(const char* path, bool follow, uint32_t flags);

// Lock kinds of OpenFileLocked.
enum class FileLockKind { kNone, kExclusive, kShared };

// Opens path with the open(2) flags and mode, then takes the lock without
// waiting. O_TRUNC in flags is applied only once the lock is held. A lock
// held by another open file fails with EWOULDBLOCK (== EAGAIN). On success
// outFD receives the descriptor, which the caller closes.
int OpenFileLocked(const char* path, int flags, mode_t mode, FileLockKind lock, int& outFD);

// The birth time of the item, else its modification time.
int GetBirthTime(const char* path, bool follow, struct timespec& out);

// Copies the regular file, symbolic link, pipe or device at from to a new
// item at to (through a temporary sibling of to). With replace false an
// existing item at to is never touched and the result is EEXIST; with replace
// true it is replaced, but only after the copy completed and was flushed to
// the disk (FileSync.h), and the folder is flushed after the rename: a failed
// copy or flush before the rename leaves it as it was and removes the partial
// copy.
FileOpResult CopyFileItem(const char* from, const char* to, bool replace);

// Copies data (holes kept), owner and group (where the process may), mode,
// extended attributes and times of the file or link at from into a new item
// at to, which must not exist; a pipe or device is made anew (CopyNodeAt),
// other items (folders, sockets) fail on the source. On failure the partial
// item is removed. The building block of CopyFileItem and of tree copies.
FileOpResult CopyFileItemDirect(const char* from, const char* to);

// The same relative to folder descriptors (AT_FDCWD for the working folder),
// so that neither the depth nor the length of the paths matters.
// likelyRegular: the caller's listing said a regular file, which is then
// opened at once (and still checked).
FileOpResult CopyFileItemAt(int fromDir, const char* fromName, int toDir, const char* toName,
                            bool likelyRegular = false);

// Copies the regular file open as source (st: its status) into the new item
// toName inside toDir. The copy stays private (0600, the caller's) while it
// is written, then is finished by FinishCopiedItem. On failure the partial
// copy is removed. keptFD, when given, receives on success a descriptor of
// the copy without access (O_PATH; -1 when it could not be had), through
// which linkat gives it further names whatever it is called by then; the
// caller closes it.
FileOpResult CopyRegularFileAt(int source, const struct stat& st, int toDir, const char* toName,
                               int* keptFD = nullptr);

// Makes toName inside toDir a new pipe or device like the item whose status
// is st: its type and device number, its owner where the process may give
// it, its mode (CopiedMode) and its times. A node the process may not make
// (devices, for others than the superuser) is a failure, never an item of
// another type; a partial node is removed. Asks the seam for kCopy.
FileOpResult CopyNodeAt(const struct stat& st, int toDir, const char* toName);

// Copies the bytes of the regular file from (st: its status) to the same
// offsets of the new, empty file to. Only the extents that hold data are
// written and the length is set last, so that holes stay holes. Uses
// copy_file_range while the volumes allow it, else reads and writes.
FileOpResult CopyFileData(int from, int to, const struct stat& st);

// Gives a copied item the owner and group of its source, as far as the
// process may: the superuser always, others only their own items and groups.
// An empty name gives them to dirFD's item itself; a symbolic link gets them,
// never its target. Answers whether both were kept.
bool KeepCopiedOwner(int dirFD, const char* name, const struct stat& source);

// The mode of a copy of source: all its bits, less the set-user-id and
// set-group-id bits when the copy did not keep its source's owner and group
// (the superuser's copy of another user's set-user-id program would otherwise
// run with the superuser's rights).
mode_t CopiedMode(const struct stat& source, bool ownerKept);

// Finishes the open copy to of the file or folder open as from (st: from's
// status): owner and group (KeepCopiedOwner; not keeping them is no failure),
// extended attributes, mode (CopiedMode), times. The owner comes first, since
// a change of owner drops set-id bits and file capabilities.
int FinishCopiedItem(int from, int to, const struct stat& st);

// Replaces the content of the file at path (a final symbolic link followed)
// by size bytes: they are written into a new file beside it, which takes the
// old file's owner where the process may, its extended attributes and its mode
// (set-id bits only with the owner, as for a copy) and replaces it only once
// every byte was written and flushed to the disk (the file's other hard links
// keep the old content); the folder is flushed after the rename (FileSync.h).
// On any failure before the rename the old file stays as it was; a failed
// flush of the folder after it is reported with the new content in place.
// A missing file is made the same way (mode 0666 less the umask) but not
// flushed, as there is nothing to lose; nor is a file that the caller has
// just made, empty, for this write (hadContent false). Behind a dangling link
// the file is written in place. Asks the seam for kWrite.
int ReplaceFileContent(const char* path, const void* data, size_t size, bool hadContent = true);

// Moves a file or link: rename (never replacing unless replace is true); across
// volumes, a copy then the removal of the source.
FileOpResult MoveFileItem(const char* from, const char* to, bool replace);

// Moves the item (file, link or folder) to the Trash of its mount (the mount
// its folder lies on, from the mount table; a bind mount is a mount of its
// own although it shares its device): the home Trash ($XDG_DATA_HOME/Trash,
// else ~/.local/share/Trash) when it lies on the same mount, else
// $topdir/.Trash-$UID at the top of the item's mount, also when the rename
// into the home Trash fails with EXDEV. A top Trash that exists is used only
// when it is a folder of this user, not a link. Writes info/<name>.trashinfo
// (Path: the absolute path for the home Trash, the path below $topdir for a
// top Trash) before moving the item into files/<name> (the name made unique).
// outTrashedPath, when given, receives the item's new path. ENOTSUP when no
// Trash can be used on that mount.
int MoveItemToTrash(const char* path, std::string* outTrashedPath = nullptr);

// Copies the extended attributes of one open item to another; attributes the
// target refuses (ENOTSUP, EPERM) are left out.
int CopyExtendedAttributes(int from, int to);

// The text of path without its final '/'s ("/" stays "/"; null gives "").
std::string WithoutTrailingSlashes(const char* path);

// The folder that holds the last name of path (without a final '/'): "." for
// a bare name, "/" for a name at the top.
std::string ParentOf(const std::string& path);

// A hidden name, unique in this process, for an item being built beside the
// one it will become or replace (".bkit-copy-<pid>-<n>-<attempt>-<space>",
// space being eight hex digits that mark this machine's boot and this pid
// namespace, in which alone pid names a process).
std::string TemporaryItemName(int attempt = 0);

// The process that TemporaryItemName made name in, so that what a stopped
// process left can be told from a copy still under way; 0 for any other name.
// inThisSpace, when given, tells whether that process number means the same
// process here: false for a name made on another machine sharing the folder,
// before a restart, or in another pid namespace (a container), whose process
// no kill(pid, 0) here can ask about. A name without the mark (as made before
// it carried one) counts as made here.
pid_t TemporaryItemProcess(const char* name, bool* inThisSpace = nullptr);

// The path the descriptor designates (readlink of /proc/self/fd/N).
int GetPathOfDescriptor(int fd, std::string& out);

}  // namespace bkit
