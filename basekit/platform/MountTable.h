// MountTable.h - the mounted volumes of the machine and their names.
//
// This file stands in for the macOS services the volume cache asks: the list
// of mounted volumes with their names (the volume URLs of the file manager and
// their volume-name resource), statfs's mount-on path and file-system type of
// the volume holding a path, and F_GETPATH, the resolved path of an open file.
//
// On Linux the volumes are the mount points of /proc/self/mountinfo. Each gets
// a name that is unique on the machine so that every full path converts to the
// volume form and back to the same text: the root file system is "Root", any
// other mount is named by its last component (':' written as '/', the way the
// volume form writes it), and a name already taken gets " 2", " 3"... in
// mount-table order, the root first. Overmounted points are listed once.
//
// Where it falls short: the names are made up from the mount points, not read
// from file-system labels, so a volume is renamed when it is mounted elsewhere;
// the mount holding a path is the longest mount point that begins its resolved
// path, which is what statfs answers except for paths the process cannot
// resolve. Thread-safe.
//
// Test seam: SetVolumesForTesting replaces the mount table by a caller's list
// (off unless a test turns it on); every list change bumps GetGeneration so
// that caches built over the table can tell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bkit {
namespace platform {

struct MountedVolume {
    std::string fMountPath;  // UTF-8, no trailing '/' except for "/"
    std::string fName;       // UTF-8
    std::string fType;       // file-system type ("ext4", "tmpfs", ...)
};

class MountTable {
public:
    // The mounted volumes with their names, the root first. Empty when the
    // table cannot be read.
    static std::vector<MountedVolume> GetMountedVolumes();

    // The mount point (and its file-system type, when type is not null) of the
    // volume holding path, resolving symbolic links the way the kernel does
    // (statfs). False when the path cannot be resolved.
    static bool GetMountPointOfPath(const char* path, std::string& mountPoint, std::string* type = nullptr);

    // The resolved absolute path of an existing file or folder (F_GETPATH of
    // an item opened for events only): links among the containing folders are
    // followed, a link in the last place is not, so a path naming a link
    // resolves to the link itself. False with errno set when it cannot be
    // opened.
    static bool GetResolvedPath(const char* path, std::string& resolved);

    // Decodes the octal escapes (\040 and the like) of a mountinfo field.
    static std::string UnescapeField(const std::string& field);

    // Names the given mount points (mount-table order) as described above.
    static std::vector<std::string> MakeVolumeNames(const std::vector<std::string>& mountPaths);

    // Test seam: the list to answer instead of the mount table (copied); null
    // goes back to the real table.
    static void SetVolumesForTesting(const std::vector<MountedVolume>* volumes);

    // Changes each time the test list is set or cleared.
    static uint32_t GetGeneration();
};

}  // namespace platform
}  // namespace bkit
