// StMount.h - a mount on a new folder for the span of a test.
//
// StTmpfs mounts a small tmpfs, for tests that need another file system (moves
// across volumes, a volume name of its own, a read-only mount); StBindMount
// shows an existing folder at a second place, for tests of what a bind mount
// changes (the same device at another mount, where a rename between the two
// fails with EXDEV). Each makes its folder, mounts there and unmounts (lazily)
// when it goes out of scope. Mounting needs root and may be refused in a
// sandbox: a test asks IsMounted and skips when it is false (GetError tells why).
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace bkit::test {

class StMount {
public:
    ~StMount()
    {
        if (fMounted)
            umount2(fPath.c_str(), MNT_DETACH);
    }
    StMount(const StMount&) = delete;
    StMount& operator=(const StMount&) = delete;

    bool IsMounted() const { return fMounted; }
    int GetError() const { return fError; }

protected:
    StMount(const std::string& path, const char* source, const char* type, unsigned long flags, const char* data)
        : fPath(path)
    {
        fMounted = mkdir(path.c_str(), 0755) == 0 && mount(source, path.c_str(), type, flags, data) == 0;
        fError = fMounted ? 0 : errno;
    }

    std::string fPath;

private:
    bool fMounted = false;
    int fError = 0;
};

class StTmpfs : public StMount {
public:
    explicit StTmpfs(const std::string& path, const char* size = "size=16m")
        : StMount(path, "tmpfs", "tmpfs", 0, size)
    {
    }
    // Mounts it again read-only; false when refused.
    bool MakeReadOnly() const { return mount("tmpfs", fPath.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
};

class StBindMount : public StMount {
public:
    // Makes the folder at path and shows the folder at source there.
    StBindMount(const std::string& source, const std::string& path)
        : StMount(path, source.c_str(), nullptr, MS_BIND, nullptr)
    {
    }
};

}  // namespace bkit::test
