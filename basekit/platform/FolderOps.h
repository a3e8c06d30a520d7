// FolderOps.h - whole-folder copies, forced deletion and folder identity.
//
// This file defines the Linux stand-ins for the tree operations the
// platform's file manager and fts offer folders. Every walk works relative to
// open directory descriptors (openat, mkdirat, fstatat, copy_file_range,
// the f*xattr calls, futimens), so neither the depth of a tree nor the length
// of its paths matters, and a symbolic link met inside a tree is never entered.
// - CopyFolderInto / CopyFolderContents copy the way the file manager keeps an
//   application bundle intact: symbolic links copied as links, regular files
//   with their data, mode (execute and set-id bits included), extended
//   attributes and times, named pipes and devices re-made with their type and
//   device number (one the process may not make fails the copy), folders
//   with their extended attributes and times, and a folder's mode applied
//   only after its content was written (so read-only folders copy). Names
//   are copied byte for byte, whatever their encoding. A new or replacing folder is built under a
//   hidden name beside its target and takes the target's name only once it is
//   complete: a failed copy never destroys what was there. A replacing copy
//   (file or folder) is flushed to the disk with all its content before it
//   takes the old item's place, and the folder after that (FileSync.h), so
//   that a machine that stops keeps the old item or the whole new one; a new
//   item made where nothing stood is not flushed.
//   Every item keeps its owner and group where the process may give them (the
//   superuser always); an item that cannot keep both loses its set-user-id and
//   set-group-id bits, so that a copy never runs with rights its source did
//   not have. A file's owner is set before its mode, a folder's once its
//   content is written. Names of one file inside the tree stay names of one
//   file in the copy (hard links), and the holes of sparse files stay holes.
// - ForceDeleteFolder removes a folder and everything in it, whatever the kind
//   of each item, without ever following a symbolic link or crossing into
//   another mount. It unlocks (flags, owner permissions) only what it must
//   inside the tree; the parent folder may be unlocked and given owner access
//   for the duration and is always put back as it was, also after a failure.
//   A folder path that is itself a symbolic link removes the link only.
//
// Shortcomings: sockets cannot be copied (each one fails with ENOTSUP); extended
// attributes of symbolic links are not copied (Linux refuses user attributes
// on links); only regular files are kept as hard links, and past a few
// hundred files whose other names are still to come, further ones are copied
// name by name. Nothing here pushes an error record. Each created item asks
// the fault seam (kCreate), each file's data or node kCopy, each change of
// owner kOwner, each rename that puts a copy in place kRename (and kRenameFlag,
// through the renames of FileOps.h), each removal kDelete, each flush around
// a replacement kFlush.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bkit {

// The copy options of a folder object.
struct FolderCopyOptions {
    bool replace = false;         // an existing item is replaced (only once its copy is complete)
    bool goOn = false;            // the copy goes on past a failing item
    bool skipInvisibles = false;  // names beginning with '.' and items with the hidden flag are left out
};

// The outcome of a tree copy: the first failure (error 0 when none) and how
// many items failed.
struct FolderCopyFailure {
    int error = 0;
    bool onSource = false;  // the source could not be read (else the copy could not be written)
    bool isFolder = false;  // the failing item is a folder
    std::string item;       // its path below the source folder, '/'-separated; empty for the folder itself
    int count = 0;
};

// Copies the folder at from (a final link followed) as the item name inside
// the folder toParent.
// - Nothing there: the copy is built under a hidden name and renamed to name
//   once complete. After a failure it is removed, except with goOn, where the
//   partial copy takes the name (as an item-by-item copy would leave it).
// - A folder there (links followed), without replace: the source's content is
//   merged into it; existing items stay, an existing item of a file's name
//   fails with EEXIST, sub-folders merge the same way.
// - Anything there, with replace: the copy is built under a hidden name and
//   exchanged with the old item only once complete, then the old item is
//   deleted; after a failure the old item stays as it was.
// - Something other than a folder there, without replace: EEXIST.
// A replacing copy first repairs what a replacing copy stopped between the
// renames of its exchange left at name (see ExchangeItems in FileOps.h): the
// old item waiting under its aside name goes back to name when nothing
// stands there; when the new item stands there, the item aside is the old
// one that stopped copy was replacing, and goes. It also removes, in
// toParent, the temporary items of processes that no longer run; those made
// on another machine or in another pid namespace, whose process cannot be
// asked about, stay.
FolderCopyFailure CopyFolderInto(const char* from, const char* toParent, const char* name,
                                 const FolderCopyOptions& options);

// Copies the content of the folder at from into the existing folder at to,
// each item by the rules of CopyFolderInto (merge, or with replace each
// sub-folder and file replaced as a whole once its copy is complete, after
// the same repairs, in to).
FolderCopyFailure CopyFolderContents(const char* from, const char* to, const FolderCopyOptions& options);

// Copies the folder at from (a final symbolic link is followed: the folder is
// what is copied) into a new folder at to, which must not exist (EEXIST).
int CopyFolderTree(const char* from, const char* to);

// Opens the folder at path (links followed) for reading; a path longer than
// PATH_MAX is opened one component at a time. The descriptor, or -1 with errno.
int OpenFolderPath(const char* path);

// Device and inode of the folder at path (links followed).
int GetFolderIdentity(const char* path, dev_t& device, ino_t& inode);

// True when the folder at path (or, when it does not exist, its nearest
// existing ancestor) is the folder (device, inode) or lies inside it. The
// ancestors are found through "..", so a symbolic link anywhere on the path
// counts as the folder it leads to.
bool FolderLiesWithin(const char* path, dev_t device, ino_t inode);

// Removes the pipes, sockets and devices directly inside the folder at path
// (a final link followed), by name, never opening them: the items that a
// listing of files and folders leaves out, and that would keep the folder
// from being removed once its files and sub-folders are gone.
int RemoveNodesInFolder(const char* path);

// Puts back, in the folder at path, every item that an exchange made of
// renames left under its aside name while nothing stands at its own name
// (see ExchangeItems and RestoreExchangeAside in FileOps.h). An item whose
// name is taken stays aside. restored, when given, receives the names put
// back. 0, or the first errno other than EEXIST and ENOENT (the other items
// are still tried).
int RestoreExchangeAsides(const char* path, std::vector<std::string>* restored = nullptr);

// Result of ForceDeleteFolder: the deletion's errno, and the errno of putting
// the parent's mode or flags back (reported apart: the deletion may have
// succeeded all the same).
struct ForceDeleteResult {
    int error = 0;
    int restoreError = 0;
};

// Deletes the folder at path with all its contents, items of every kind
// (pipes, sockets and devices too: they are removed by name, never opened).
ForceDeleteResult ForceDeleteFolder(const char* path);

}  // namespace bkit
