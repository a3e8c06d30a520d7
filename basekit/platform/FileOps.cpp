// FileOps.cpp - renames, flags, locked opens, birth times, copies and moves.

#include "basekit/platform/FileOps.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileSync.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

int _Errno(int result)
{
    return result == 0 ? 0 : errno;
}

// renameat2 with a flag: 0 or the errno. The seam's kRenameFlag makes the
// file system refuse the flag (EINVAL).
int _RenameWithFlag(int fromDir, const char* from, int toDir, const char* to, unsigned int flag)
{
    if (int err = FaultSeam::Check(FaultOperation::kRenameFlag))
        return err;
    return _Errno(::renameat2(fromDir, from, toDir, to, flag));
}

// True when the error says the file system has no such rename flag.
bool _FlagRefused(int err)
{
    return err == EINVAL || err == ENOSYS || err == ENOTSUP;
}

// The no-replace rename itself, without asking the seam for a rename fault.
int _RenameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    int err = _RenameWithFlag(fromDir, from, toDir, to, RENAME_NOREPLACE);
    if (!_FlagRefused(err))
        return err;

    // The file system refuses the flag. A plain rename would replace, so a file
    // goes through a hard link, which fails when the name is taken.
    struct stat st;
    if (::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (::linkat(fromDir, from, toDir, to, 0) == 0) {
            ::unlinkat(fromDir, from, 0);
            return 0;
        }
        if (errno == EEXIST)
            return EEXIST;
    }
    struct stat dest;
    if (::fstatat(toDir, to, &dest, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return _Errno(::renameat(fromDir, from, toDir, to));
}

// The path beside b where an exchange through renames keeps what b held;
// ENAMETOOLONG, before anything moved, when b's name leaves no room for it.
int _ExchangeAsidePath(const char* b, std::string& out)
{
    const std::string path(b);
    const std::string::size_type slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string asideName = ExchangeAsideName(name.c_str());
    if (asideName.size() > NAME_MAX)
        return ENAMETOOLONG;
    out = ParentOf(path) + "/" + asideName;
    return 0;
}

// One rename of an exchange made of renames, or of its undoing; the first
// one never replaces.
int _ExchangeStep(int fromDir, const char* from, int toDir, const char* to, bool noReplace = false)
{
    if (int err = FaultSeam::Check(FaultOperation::kExchangeStep))
        return err;
    return noReplace ? _RenameNoReplace(fromDir, from, toDir, to) : _Errno(::renameat(fromDir, from, toDir, to));
}

// A name in the folder of to that nothing else uses.
std::string _TemporarySibling(const char* to, int attempt)
{
    return ParentOf(to) + "/" + TemporaryItemName(attempt);
}

}  // namespace

int CopyExtendedAttributes(int from, int to)
{
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return size < 0 && errno != ENOTSUP ? errno : 0;
    std::vector<char> names(static_cast<size_t>(size));
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0)
        return errno;
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
        ssize_t len = ::fgetxattr(from, name, nullptr, 0);
        if (len < 0)
            continue;  // vanished meanwhile
        value.resize(static_cast<size_t>(len) + 1);
        len = ::fgetxattr(from, name, value.data(), value.size());
        if (len < 0)
            continue;
        // Attributes the target's file system or this user may not set
        // (security, trusted) are left out, as the file manager does.
        if (::fsetxattr(to, name, value.data(), static_cast<size_t>(len), 0) != 0 && errno != ENOTSUP &&
            errno != EPERM)
            return errno;
    }
    return 0;
}

std::string WithoutTrailingSlashes(const char* path)
{
    std::string text(path ? path : "");
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string ParentOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

namespace {

// What tells this machine's boot and this process's pid namespace from any
// other that may share a folder (another host over NFS, a container): the
// first line of a /proc file, or "" where there is none.
std::string _ProcText(const char* path, bool isLink)
{
    char text[256];
    ssize_t n = -1;
    if (isLink) {
        n = ::readlink(path, text, sizeof(text));
    } else {
        int fd = RetryOnEINTR([&] { return ::open(path, O_RDONLY | O_CLOEXEC); });
        if (fd >= 0) {
            n = RetryOnEINTR([&] { return ::read(fd, text, sizeof(text)); });
            ::close(fd);
        }
    }
    if (n <= 0)
        return std::string();
    std::string line(text, static_cast<size_t>(n));
    return line.substr(0, line.find('\n'));
}

// Eight hex digits of a hash of this boot's id and this pid namespace: the
// space in which the process number of a temporary item's name means
// something. Made again in a forked child, which may have entered another
// namespace (its process number tells it is no longer its parent).
std::string _PidSpaceMark()
{
    thread_local pid_t sMadeIn = 0;
    thread_local std::string sMark;
    const pid_t self = ::getpid();
    if (sMadeIn != self) {
        const std::string identity =
            _ProcText("/proc/sys/kernel/random/boot_id", false) + "/" + _ProcText("/proc/self/ns/pid", true);
        uint32_t hash = 2166136261u;  // FNV-1a
        for (unsigned char c : identity)
            hash = (hash ^ c) * 16777619u;
        char text[9];
        std::snprintf(text, sizeof(text), "%08x", hash);
        sMark = text;
        sMadeIn = self;
    }
    return sMark;
}

}  // namespace

std::string TemporaryItemName(int attempt)
{
    static std::atomic<unsigned> sCounter{0};
    char name[80];
    std::snprintf(name, sizeof(name), ".bkit-copy-%d-%u-%d-%s", static_cast<int>(::getpid()), sCounter.fetch_add(1),
                  attempt, _PidSpaceMark().c_str());
    return name;
}

pid_t TemporaryItemProcess(const char* name, bool* inThisSpace)
{
    static constexpr char kPrefix[] = ".bkit-copy-";
    if (std::strncmp(name, kPrefix, sizeof(kPrefix) - 1) != 0)
        return 0;
    const char* at = name + sizeof(kPrefix) - 1;
    long numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && *at++ != '-')
            return 0;
        if (*at < '0' || *at > '9')
            return 0;
        for (; *at >= '0' && *at <= '9'; ++at) {
            numbers[i] = numbers[i] * 10 + (*at - '0');
            if (numbers[i] > 0x7FFFFFFF)
                return 0;
        }
    }
    // Names made before they carried the mark of their pid space are taken
    // as made in this one, as they always were.
    bool here = true;
    if (*at == '-') {
        ++at;
        if (std::strlen(at) != 8 || std::strspn(at, "0123456789abcdef") != 8)
            return 0;
        here = _PidSpaceMark() == at;
    } else if (*at != '\0') {
        return 0;
    }
    if (inThisSpace != nullptr)
        *inThisSpace = here;
    return static_cast<pid_t>(numbers[0]);
}

int RenameNoReplace(const char* from, const char* to)
{
    return RenameNoReplace(AT_FDCWD, from, AT_FDCWD, to);
}

int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (int err = FaultSeam::Check(FaultOperation::kRename))
        return err;
    return _RenameNoReplace(fromDir, from, toDir, to);
}

int ExchangeItems(const char* a, const char* b)
{
    return ExchangeItems(AT_FDCWD, a, AT_FDCWD, b);
}

int ExchangeItems(int dirA, const char* a, int dirB, const char* b)
{
    if (int err = FaultSeam::Check(FaultOperation::kRename))
        return err;
    int err = _RenameWithFlag(dirA, a, dirB, b, RENAME_EXCHANGE);
    if (!_FlagRefused(err))
        return err;

    // The file system has no exchange: three plain renames, each undone when
    // a later one fails. What b held waits under a name that tells what it is
    // (never a temporary item's, which clean-ups delete), so that whoever
    // finds b missing after a stop can put it back.
    std::string aside;
    if ((err = _ExchangeAsidePath(b, aside)) != 0)
        return err;
    const char* asideName = aside.c_str();
    if ((err = _ExchangeStep(dirB, b, dirB, asideName, true)) != 0)
        return err;
    if ((err = _ExchangeStep(dirA, a, dirB, b)) != 0) {
        _ExchangeStep(dirB, asideName, dirB, b);
        return err;
    }
    if ((err = _ExchangeStep(dirB, asideName, dirA, a)) != 0) {
        if (_ExchangeStep(dirB, b, dirA, a) == 0)
            _ExchangeStep(dirB, asideName, dirB, b);
        return err;
    }
    return 0;
}

std::string ExchangeAsideName(const char* name)
{
    return std::string(".") + name + kExchangeAsideSuffix;
}

bool ExchangeAsideOriginal(const char* asideName, std::string& original)
{
    const size_t length = std::strlen(asideName);
    const size_t suffix = std::strlen(kExchangeAsideSuffix);
    if (length <= suffix + 1 || asideName[0] != '.' ||
        std::strcmp(asideName + length - suffix, kExchangeAsideSuffix) != 0)
        return false;
    original.assign(asideName + 1, length - suffix - 1);
    return original != "." && original != "..";
}

int RestoreExchangeAside(int dir, const char* name)
{
    const std::string aside = ExchangeAsideName(name);
    struct stat st;
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return EEXIST;  // its place is taken: the item aside is a leftover for its owner to clear
    return RenameNoReplace(dir, aside.c_str(), dir, name);
}

int RenameReplacing(const char* from, const char* to)
{
    return RenameReplacing(AT_FDCWD, from, AT_FDCWD, to);
}

int RenameReplacing(int fromDir, const char* from, int toDir, const char* to)
{
    if (int err = FaultSeam::Check(FaultOperation::kRename))
        return err;
    return _Errno(::renameat(fromDir, from, toDir, to));
}

int UnlinkItem(const char* path)
{
    if (int err = FaultSeam::Check(FaultOperation::kDelete))
        return err;
    return _Errno(::unlink(path));
}

int GetFileFlags(const char* path, bool follow, uint32_t& flags)
{
    flags = 0;
    struct stat st;
    if ((follow ? ::stat(path, &st) : ::lstat(path, &st)) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return 0;
    uint32_t value = 0;
    ssize_t n = ::getxattr(path, kFileFlagsAttributeName, &value, sizeof(value));
    if (n == static_cast<ssize_t>(sizeof(value)))
        flags = value & ~kFileFlagSystemImmutable;
    else if (n < 0 && errno != ENODATA && errno != ENOTSUP)
        return errno;

    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        StFileDescriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        int attr = 0;
        if (fd.IsValid() && ::ioctl(fd.Get(), FS_IOC_GETFLAGS, &attr) == 0 && (attr & FS_IMMUTABLE_FL) != 0)
            flags |= kFileFlagSystemImmutable;
    }
    return 0;
}

int SetFileFlags(const char* path, bool follow, uint32_t flags)
{
    struct stat st;
    if ((follow ? ::stat(path, &st) : ::lstat(path, &st)) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return 0;
    uint32_t value = flags & ~kFileFlagSystemImmutable;
    if (value == 0) {
        if (::removexattr(path, kFileFlagsAttributeName) != 0 && errno != ENODATA)
            return errno;
        return 0;
    }
    return _Errno(::setxattr(path, kFileFlagsAttributeName, &value, sizeof(value), 0));
}

int OpenFileLocked(const char* path, int flags, mode_t mode, FileLockKind lock, int& outFD)
{
    outFD = -1;
    bool truncate = (flags & O_TRUNC) != 0;
    if (lock != FileLockKind::kNone)
        flags &= ~O_TRUNC;
    StFileDescriptor fd(RetryOnEINTR([&] { return ::open(path, flags, mode); }));
    if (!fd.IsValid())
        return errno;
    if (lock != FileLockKind::kNone) {
        int op = (lock == FileLockKind::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (RetryOnEINTR([&] { return ::flock(fd.Get(), op); }) != 0)
            return errno;
        if (truncate && ::ftruncate(fd.Get(), 0) != 0)
            return errno;
    }
    outFD = fd.Release();
    return 0;
}

int GetBirthTime(const char* path, bool follow, struct timespec& out)
{
    struct statx stx;
    if (::statx(AT_FDCWD, path, follow ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &stx) != 0)
        return errno;
    const struct statx_timestamp& t = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime;
    out.tv_sec = t.tv_sec;
    out.tv_nsec = t.tv_nsec;
    return 0;
}

FileOpResult CopyFileItemAt(int fromDir, const char* fromName, int toDir, const char* toName, bool likelyRegular)
{
    struct stat st;
    StFileDescriptor source;
    if (likelyRegular) {
        // One lookup of the name instead of two; anything else than a regular
        // file (replaced meanwhile) takes the general way below.
        source.Reset(RetryOnEINTR(
            [&] { return ::openat(fromDir, fromName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY); }));
        if (source.IsValid() && (::fstat(source.Get(), &st) != 0 || !S_ISREG(st.st_mode)))
            source.Reset();
    }
    if (!source.IsValid() && ::fstatat(fromDir, fromName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {errno, true};

    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 2);
        ssize_t n = ::readlinkat(fromDir, fromName, target.data(), target.size() - 1);
        if (n < 0)
            return {errno, true};
        target[static_cast<size_t>(n)] = 0;
        if (int err = FaultSeam::Check(FaultOperation::kCopy))
            return {err, false};
        if (::symlinkat(target.data(), toDir, toName) != 0)
            return {errno, false};
        KeepCopiedOwner(toDir, toName, st);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(toDir, toName, times, AT_SYMLINK_NOFOLLOW);
        return {};
    }
    if (S_ISDIR(st.st_mode))
        return {EISDIR, true};
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return CopyNodeAt(st, toDir, toName);
    if (!S_ISREG(st.st_mode))
        return {ENOTSUP, true};

    if (!source.IsValid()) {
        source.Reset(RetryOnEINTR([&] { return ::openat(fromDir, fromName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW); }));
        if (!source.IsValid())
            return {errno, true};
        // The status of the file opened, not of one it replaced meanwhile:
        // the copy takes its owner and mode from it.
        if (::fstat(source.Get(), &st) != 0)
            return {errno, true};
        if (!S_ISREG(st.st_mode))
            return {ENOTSUP, true};
    }
    return CopyRegularFileAt(source.Get(), st, toDir, toName);
}

FileOpResult CopyFileItemDirect(const char* from, const char* to)
{
    return CopyFileItemAt(AT_FDCWD, from, AT_FDCWD, to);
}

FileOpResult CopyFileItem(const char* from, const char* to, bool replace)
{
    struct stat st;
    if (::lstat(from, &st) != 0)
        return {errno, true};
    const bool present = ::lstat(to, &st) == 0;
    if (!replace && present)
        return {EEXIST, false};

    std::string temporary;
    FileOpResult result;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = _TemporarySibling(to, attempt);
        result = CopyFileItemDirect(from, temporary.c_str());
        if (result.error != EEXIST || result.onSource)
            break;
    }
    if (!result)
        return result;

    // What is replaced goes only once its replacement is on the disk.
    int err = present ? FlushItemAt(AT_FDCWD, temporary.c_str()) : 0;
    if (err == 0)
        err = replace ? RenameReplacing(temporary.c_str(), to) : RenameNoReplace(temporary.c_str(), to);
    if (err != 0) {
        ::unlink(temporary.c_str());
        return {err, false};
    }
    if (present)
        err = FlushFolderOf(to);
    return {err, false};
}

namespace {

int _WriteAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        ssize_t n = RetryOnEINTR([&] { return ::write(fd, bytes + done, size - done); });
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

int ReplaceFileContent(const char* path, const void* data, size_t size, bool hadContent)
{
    StFileDescriptor old(RetryOnEINTR([&] { return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); }));
    struct stat st;
    std::string target(path);
    if (old.IsValid()) {
        if (::fstat(old.Get(), &st) != 0)
            return errno;
        if (!S_ISREG(st.st_mode))
            return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        // Behind a link, the file it leads to is the one replaced.
        struct stat own;
        if (::lstat(path, &own) == 0 && S_ISLNK(own.st_mode)) {
            if (int err = GetPathOfDescriptor(old.Get(), target))
                return err;
        }
    } else if (errno != ENOENT) {
        return errno;
    } else if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        StFileDescriptor fd(RetryOnEINTR([&] { return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666); }));
        if (!fd.IsValid())
            return errno;
        if (int err = FaultSeam::Check(FaultOperation::kWrite))
            return err;
        if (int err = _WriteAll(fd.Get(), data, size))
            return err;
        return ::close(fd.Release()) == 0 ? 0 : errno;
    }

    std::string temporary;
    StFileDescriptor fresh;
    for (int attempt = 0; attempt < 100 && !fresh.IsValid(); ++attempt) {
        temporary = _TemporarySibling(target.c_str(), attempt);
        fresh.Reset(RetryOnEINTR(
            [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, old.IsValid() ? 0600 : 0666); }));
        if (!fresh.IsValid() && errno != EEXIST)
            return errno;
    }
    if (!fresh.IsValid())
        return EEXIST;
    int err = FaultSeam::Check(FaultOperation::kWrite);
    if (err == 0)
        err = _WriteAll(fresh.Get(), data, size);
    if (err == 0 && old.IsValid()) {
        // As for a copy: the owner first (a change of owner drops set-id bits
        // and file capabilities), and set-id bits only with the owner kept.
        const bool ownerKept = KeepCopiedOwner(fresh.Get(), "", st);
        err = CopyExtendedAttributes(old.Get(), fresh.Get());
        if (err == 0 && ::fchmod(fresh.Get(), CopiedMode(st, ownerKept)) != 0)
            err = errno;
    }
    // The old content goes only once the new one is on the disk.
    const bool replacing = old.IsValid() && hadContent;
    if (err == 0 && replacing)
        err = FlushOpenItem(fresh.Get());
    if (err == 0 && ::close(fresh.Release()) != 0)
        err = errno;
    if (err == 0)
        err = RenameReplacing(temporary.c_str(), target.c_str());
    if (err != 0) {
        fresh.Reset();
        ::unlink(temporary.c_str());
        return err;
    }
    return replacing ? FlushFolderOf(target.c_str()) : 0;
}

FileOpResult MoveFileItem(const char* from, const char* to, bool replace)
{
    int err = replace ? RenameReplacing(from, to) : RenameNoReplace(from, to);
    if (err == 0)
        return {};
    if (err != EXDEV) {
        struct stat st;
        bool sourceMissing = ::lstat(from, &st) != 0;
        return {err, sourceMissing};
    }
    FileOpResult copied = CopyFileItem(from, to, replace);
    if (!copied)
        return copied;
    if (int removeErr = UnlinkItem(from))
        return {removeErr, true};
    return {};
}

int GetPathOfDescriptor(int fd, std::string& out)
{
    char link[64];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    std::vector<char> buffer(4097);
    ssize_t n = ::readlink(link, buffer.data(), buffer.size() - 1);
    if (n < 0)
        return errno;
    out.assign(buffer.data(), static_cast<size_t>(n));
    return 0;
}

}  // namespace bkit
