// StTmpfs.h - a tmpfs mounted on a new folder for the span of a test.
//
// Tests that need another file system (moves across volumes, a volume name of
// its own, a read-only mount) mount a small tmpfs on a new folder and unmount
// it at the end. Mounting needs root and may be refused in a sandbox: a test
// asks IsMounted and skips when it is false (GetError tells why).
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace bkit::test {

class StTmpfs {
public:
    explicit StTmpfs(const std::string& path, const char* size = "size=16m") : fPath(path)
    {
        fMounted = mkdir(path.c_str(), 0755) == 0 && mount("tmpfs", path.c_str(), "tmpfs", 0, size) == 0;
        fError = fMounted ? 0 : errno;
    }
    ~StTmpfs()
    {
        if (fMounted)
            umount2(fPath.c_str(), MNT_DETACH);
    }
    StTmpfs(const StTmpfs&) = delete;
    StTmpfs& operator=(const StTmpfs&) = delete;

    bool IsMounted() const { return fMounted; }
    int GetError() const { return fError; }
    // Mounts it again read-only; false when refused.
    bool MakeReadOnly() const { return mount("tmpfs", fPath.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    std::string fPath;
    bool fMounted = false;
    int fError = 0;
};

}  // namespace bkit::test
