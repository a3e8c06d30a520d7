// FolderOps.h - whole-folder copy and forced deletion.
//
// This file defines the Linux stand-ins for the two tree operations the
// platform's file manager and fts offer folders:
// - CopyFolderTree copies a folder into a new folder the way the file manager
//   keeps an application bundle intact: symbolic links are copied as links
//   (never followed), regular files with their data, mode (execute and set-id
//   bits included), extended attributes and times, named pipes and devices
//   re-made, folders with their extended attributes and times, and a folder's
//   mode applied only after its content was written (so read-only folders
//   copy). Names are copied byte for byte, whatever their Unicode form.
//   On failure the partial copy is removed: the destination does not exist
//   afterwards.
// - ForceDeleteFolder removes a folder and everything in it without ever
//   following a symbolic link or crossing into another mount. It unlocks
//   (flags, owner permissions) only what it must inside the tree; the parent
//   folder may be unlocked and given owner access for the duration and is
//   always put back as it was, also after a failure. A folder path that is
//   itself a symbolic link removes the link only.
//
// Shortcomings: sockets are not copied (as the file manager); extended
// attributes of symbolic links are not copied (Linux refuses user attributes
// on links). Every function returns 0 or an errno value and pushes nothing.
// Each created item asks the fault seam (kCreate), each file's data kCopy,
// each removal kDelete.
#pragma once

namespace bkit {

// Copies the folder at from (a final symbolic link is followed: the folder is
// what is copied) into a new folder at to, which must not exist (EEXIST).
int CopyFolderTree(const char* from, const char* to);

// Result of ForceDeleteFolder: the deletion's errno, and the errno of putting
// the parent's mode or flags back (reported apart: the deletion may have
// succeeded all the same).
struct ForceDeleteResult {
    int error = 0;
    int restoreError = 0;
};

// Deletes the folder at path with all its contents. Items other than files,
// links and folders (pipes, sockets, devices) are left in place, so that their
// folder cannot be removed (ENOTEMPTY).
ForceDeleteResult ForceDeleteFolder(const char* path);

}  // namespace bkit
