// StBindMount.h - a folder shown at a second place by a bind mount, for the span of a test.
//
// Tests of what a bind mount changes (the same device at another mount, where
// a rename between the two fails with EXDEV) make a new folder and bind an
// existing one onto it, and unmount it at the end. Mounting needs root and
// may be refused in a sandbox: a test asks IsMounted and skips when it is
// false (GetError tells why).
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace bkit::test {

class StBindMount {
public:
    // Makes the folder at path and shows the folder at source there.
    StBindMount(const std::string& source, const std::string& path) : fPath(path)
    {
        fMounted = mkdir(path.c_str(), 0755) == 0 && mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0;
        fError = fMounted ? 0 : errno;
    }
    ~StBindMount()
    {
        if (fMounted)
            umount2(fPath.c_str(), MNT_DETACH);
    }
    StBindMount(const StBindMount&) = delete;
    StBindMount& operator=(const StBindMount&) = delete;

    bool IsMounted() const { return fMounted; }
    int GetError() const { return fError; }

private:
    std::string fPath;
    bool fMounted = false;
    int fError = 0;
};

}  // namespace bkit::test
