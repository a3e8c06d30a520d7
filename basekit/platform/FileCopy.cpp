// FileCopy.cpp - the data, owner and mode of one copied item, and the
// re-making of a copied pipe or device.
//
// The single-file copy and the tree copies write regular files through the
// same pieces here, so that a file copied alone and a file copied inside a
// folder keep the same things: the holes of a sparse file, the owner where
// the process may give it, and set-id bits only together with that owner.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

constexpr mode_t kSetIdBits = S_ISUID | S_ISGID;

// Copies the bytes of [offset, end) of one file to the same offsets of the
// other; end < 0 copies up to the source's end. copy_file_range while the
// volumes allow it; once they do not, reads and writes through buffer (which
// is then no longer empty).
FileOpResult _CopyExtent(int from, int to, off_t offset, off_t end, std::vector<char>& buffer)
{
    constexpr off_t kStep = off_t(1) << 30;
    off_t in = offset;
    off_t out = offset;
    while (end < 0 || in < end) {
        size_t want = static_cast<size_t>(end < 0 ? kStep : std::min(end - in, kStep));
        if (buffer.empty()) {
            ssize_t n = ::copy_file_range(from, &in, to, &out, want, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return {};
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EBADF)
                return {errno, false};
            buffer.resize(1 << 20);
        }
        ssize_t n = RetryOnEINTR([&] { return ::pread(from, buffer.data(), std::min(want, buffer.size()), in); });
        if (n < 0)
            return {errno, true};
        if (n == 0)
            return {};
        for (ssize_t done = 0; done < n;) {
            ssize_t w = RetryOnEINTR(
                [&] { return ::pwrite(to, buffer.data() + done, static_cast<size_t>(n - done), out + done); });
            if (w < 0)
                return {errno, false};
            // A write that takes nothing would loop for ever: the volume is full.
            if (w == 0)
                return {ENOSPC, false};
            done += w;
        }
        in += n;
        out += n;
    }
    return {};
}

}  // namespace

FileOpResult CopyFileData(int from, int to, const struct stat& st)
{
    std::vector<char> buffer;
    // As many blocks as bytes: no hole worth looking for.
    if (static_cast<off_t>(st.st_blocks) * 512 >= st.st_size)
        return _CopyExtent(from, to, 0, -1, buffer);
    for (off_t offset = 0;;) {
        off_t data = ::lseek(from, offset, SEEK_DATA);
        off_t hole = data < 0 ? -1 : ::lseek(from, data, SEEK_HOLE);
        if (data < 0 && errno == ENXIO)
            break;  // nothing but a hole from offset on
        if (hole < 0)
            return _CopyExtent(from, to, offset, -1, buffer);  // the volume cannot say: the rest as it reads
        if (FileOpResult result = _CopyExtent(from, to, data, hole, buffer); !result)
            return result;
        offset = hole;
    }
    off_t size = ::lseek(from, 0, SEEK_END);
    if (size < 0)
        return {errno, true};
    return ::ftruncate(to, size) == 0 ? FileOpResult() : FileOpResult{errno, false};
}

bool KeepCopiedOwner(int dirFD, const char* name, const struct stat& source)
{
    if (FaultSeam::Check(FaultOperation::kOwner) != 0)
        return false;
    int flags = AT_SYMLINK_NOFOLLOW | (name[0] == 0 ? AT_EMPTY_PATH : 0);
    return ::fchownat(dirFD, name, source.st_uid, source.st_gid, flags) == 0;
}

mode_t CopiedMode(const struct stat& source, bool ownerKept)
{
    return source.st_mode & (ownerKept ? 07777 : 07777 & ~kSetIdBits);
}

int FinishCopiedItem(int from, int to, const struct stat& st)
{
    bool ownerKept = KeepCopiedOwner(to, "", st);
    if (int err = CopyExtendedAttributes(from, to))
        return err;
    if (::fchmod(to, CopiedMode(st, ownerKept)) != 0)
        return errno;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::futimens(to, times) == 0 ? 0 : errno;
}

FileOpResult CopyNodeAt(const struct stat& st, int toDir, const char* toName)
{
    if (int err = FaultSeam::Check(FaultOperation::kCopy))
        return {err, false};
    // Private until its owner is settled: set-id bits come only with it.
    if (::mknodat(toDir, toName, (st.st_mode & S_IFMT) | S_IRUSR | S_IWUSR, st.st_rdev) != 0)
        return {errno, false};
    const bool ownerKept = KeepCopiedOwner(toDir, toName, st);
    int err = ::fchmodat(toDir, toName, CopiedMode(st, ownerKept), AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (err == 0 && ::utimensat(toDir, toName, times, AT_SYMLINK_NOFOLLOW) != 0)
        err = errno;
    if (err != 0) {
        ::unlinkat(toDir, toName, 0);
        return {err, false};
    }
    return {};
}

FileOpResult CopyRegularFileAt(int source, const struct stat& st, int toDir, const char* toName, int* keptFD)
{
    StFileDescriptor dest(RetryOnEINTR(
        [&] { return ::openat(toDir, toName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600); }));
    if (!dest.IsValid())
        return {errno, false};
    FileOpResult result;
    if (int err = FaultSeam::Check(FaultOperation::kCopy))
        result = {err, false};
    if (result)
        result = CopyFileData(source, dest.Get(), st);
    if (result) {
        if (int err = FinishCopiedItem(source, dest.Get(), st))
            result = {err, false};
    }
    StFileDescriptor kept;
    if (result && keptFD != nullptr) {
        const std::string self = "/proc/self/fd/" + std::to_string(dest.Get());
        kept.Reset(RetryOnEINTR([&] { return ::open(self.c_str(), O_PATH | O_CLOEXEC); }));
    }
    if (result && ::close(dest.Release()) != 0)
        result = {errno, false};
    if (!result) {
        dest.Reset();
        ::unlinkat(toDir, toName, 0);
    } else if (keptFD != nullptr) {
        *keptFD = kept.Release();
    }
    return result;
}

}  // namespace bkit
