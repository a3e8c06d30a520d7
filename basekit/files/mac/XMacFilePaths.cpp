// XMacFilePaths.cpp - the static path services of the platform file half.
//
// Times, flags, permissions, free space and real paths by POSIX path; shared
// by files and folders.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "basekit/files/VFileDesc.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/files/mac/XMacVolumes.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

constexpr OsType kPosixPathTag = MakeOsType("path");

// Seconds and nanoseconds to a time; one that cannot be broken down is left.
void _SetTime(VTime* out, const struct timespec& ts)
{
    if (!out)
        return;
    struct tm fields;
    time_t seconds = ts.tv_sec;
    if (!::gmtime_r(&seconds, &fields))
        return;
    int ms = static_cast<int>((ts.tv_nsec / 1000) / 1000);
    out->FromUTCTime(static_cast<int16_t>(fields.tm_year + 1900), static_cast<int16_t>(fields.tm_mon + 1),
                     static_cast<int16_t>(fields.tm_mday), static_cast<int16_t>(fields.tm_hour),
                     static_cast<int16_t>(fields.tm_min), static_cast<int16_t>(fields.tm_sec),
                     static_cast<int16_t>(ms));
}

struct timespec _GetTime(const VTime* in)
{
    struct timespec ts = {0, UTIME_OMIT};
    if (!in)
        return ts;
    int16_t year, month, day, hour, minute, second, ms;
    in->GetUTCTime(year, month, day, hour, minute, second, ms);
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    ts.tv_sec = ::timegm(&fields);
    ts.tv_nsec = static_cast<long>(ms) * 1000000L;
    return ts;
}

int _Stat(const char* path, bool follow, struct stat& st)
{
    return (follow ? ::stat(path, &st) : ::lstat(path, &st)) == 0 ? 0 : errno;
}

// The resolved path of an open descriptor, without following a final link.
bool _ResolveNoFollow(const char* path, std::string& out)
{
    StFileDescriptor fd(::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.IsValid())
        return false;
    return GetPathOfDescriptor(fd.Get(), out) == 0;
}

// The bytes of a path text for the system calls. A text that does not
// convert (or holds a NUL) becomes empty, so the system call fails with its
// error for an empty path.
std::string _PosixBytes(const VString& text)
{
    VString copy(text);
    copy.Decompose();
    std::string bytes = to_string(copy);
    if (bytes.find('\0') != std::string::npos)
        bytes.clear();
    return bytes;
}

// Pushes the names of a path text onto a stack of names still to walk, so
// that the first name is walked next.
void PushNames(std::vector<std::string>& pending, const std::string& text)
{
    size_t end = text.size();
    while (end > 0) {
        size_t slash = text.rfind('/', end - 1);
        size_t begin = slash == std::string::npos ? 0 : slash + 1;
        if (end > begin)
            pending.emplace_back(text, begin, end - begin);
        if (slash == std::string::npos)
            break;
        end = slash;
    }
}

}  // namespace

std::string XMacFile::PosixPathText(const VFilePath& path)
{
    VString text;
    path.GetPosixPath(text);
    std::string bytes = _PosixBytes(text);
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    return bytes;
}

char* XMacFile::AllocatePosixPathFromString(const VString& text)
{
    std::string bytes = _PosixBytes(text);
    char* out = static_cast<char*>(VMemory::NewPtr(bytes.size() + 1, kPosixPathTag));
    if (!out)
        return nullptr;
    std::memcpy(out, bytes.c_str(), bytes.size() + 1);
    return out;
}

char* XMacFile::AllocatePosixPathFromFilePath(const VFilePath& path)
{
    VString text;
    path.GetPosixPath(text);
    return AllocatePosixPathFromString(text);
}

void XMacFile::FreePosixPath(char* text)
{
    VMemory::DisposePtr(text);
}

void XMacFile::GetFilePathFromPosixPath(const char* posixPath, bool isFolder, VFilePath& out)
{
    if (!posixPath) {
        out.Clear();
        return;
    }
    VString text;
    text.FromCString(posixPath);
    text.Compose();
    if (isFolder && (text.IsEmpty() || text.GetCPointer()[text.GetLength() - 1] != u'/'))
        text.AppendUniChar(u'/');
    out.FromFullPath(text, FPS_POSIX);
}

bool XMacFile::PosixNameBeginsWithDot(const char* posixPath)
{
    if (!posixPath)
        return false;
    size_t len = std::strlen(posixPath);
    if (len < 2)
        return false;
    if (posixPath[len - 1] == '/')
        --len;
    size_t start = len;
    while (start > 0 && posixPath[start - 1] != '/')
        --start;
    return start < len && posixPath[start] == '.';
}

bool XMacFile::PosixFullPathToHFS(const char* posixPath, bool isFolder, VString& out)
{
    return XMacVolumes::PosixFullPathToHFS(posixPath, isFolder, out);
}

bool XMacFile::HFSFullPathToPosix(const VString& path, VString& out)
{
    return XMacVolumes::HFSFullPathToPosix(path, out);
}

VError XMacFile::GetTimeAttributes(const char* path, bool follow, VTime* modified, VTime* created, VTime* accessed)
{
    struct stat st;
    if (int err = _Stat(path, follow, st))
        return PosixErrorFromErrno(err);
    _SetTime(modified, st.st_mtim);
    if (created) {
        struct timespec birth;
        if (GetBirthTime(path, follow, birth) != 0)
            birth = st.st_mtim;
        _SetTime(created, birth);
    }
    _SetTime(accessed, st.st_atim);
    return VE_OK;
}

VError XMacFile::SetTimeAttributes(const char* path, const VTime* modified, const VTime*, const VTime* accessed)
{
    struct timespec times[2] = {_GetTime(accessed), _GetTime(modified)};
    if (times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT)
        return VE_OK;
    return ::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0 ? VE_OK : LastPosixError();
}

VError XMacFile::GetPathAttributes(const char* path, bool follow, uint32_t& attributes)
{
    attributes = 0;
    uint32_t flags = 0;
    if (int err = GetFileFlags(path, follow, flags))
        return PosixErrorFromErrno(err);
    if (flags & (kFileFlagUserImmutable | kFileFlagSystemImmutable))
        attributes |= FATT_LOCKED;
    if ((flags & kFileFlagHidden) || PosixNameBeginsWithDot(path))
        attributes |= FATT_HIDDEN;
    return VE_OK;
}

VError XMacFile::SetPathAttributes(const char* path, bool follow, uint32_t attributes)
{
    uint32_t flags = 0;
    if (int err = GetFileFlags(path, follow, flags))
        return PosixErrorFromErrno(err);
    uint32_t newFlags = flags;
    if (attributes & FATT_LOCKED) {
        if (!(flags & kFileFlagSystemImmutable))
            newFlags |= kFileFlagUserImmutable;
    } else {
        newFlags &= ~kFileFlagUserImmutable;
    }
    // A dot name is hidden by its name; no flag is written for it.
    if ((attributes & FATT_HIDDEN) && !PosixNameBeginsWithDot(path))
        newFlags |= kFileFlagHidden;
    else
        newFlags &= ~kFileFlagHidden;
    if (newFlags == flags)
        return VE_OK;
    return PosixErrorFromErrno(SetFileFlags(path, follow, newFlags));
}

VError XMacFile::GetEffectivePermission(const char* path, uint32_t& permission)
{
    permission = 0;
    struct stat st;
    if (int err = _Stat(path, false, st))
        return PosixErrorFromErrno(err);
    uid_t uid = ::geteuid();
    if (uid == 0) {
        permission = 7;
        return VE_OK;
    }
    uint32_t flags = 0;
    if (GetFileFlags(path, false, flags) == 0 && (flags & (kFileFlagUserImmutable | kFileFlagSystemImmutable)))
        return VE_OK;
    if (st.st_uid == uid) {
        permission = (st.st_mode >> 6) & 7;
        return VE_OK;
    }
    errno = 0;
    struct passwd* pw = ::getpwuid(uid);
    if (!pw)
        return PosixErrorFromErrno(errno ? errno : ENOENT);
    gid_t groups[100];
    int count = 100;
    if (::getgrouplist(pw->pw_name, pw->pw_gid, groups, &count) < 0)
        return VE_OK;
    bool member = false;
    for (int i = 0; i < count && !member; ++i)
        member = groups[i] == st.st_gid;
    permission = member ? (st.st_mode >> 3) & 7 : st.st_mode & 7;
    return VE_OK;
}

VError XMacFile::UnlockPath(const char* path, bool follow)
{
    struct stat st;
    if (int err = _Stat(path, follow, st))
        return PosixErrorFromErrno(err);
    uint32_t flags = 0;
    if (int err = GetFileFlags(path, follow, flags))
        return PosixErrorFromErrno(err);
    if (flags & kFileFlagUserImmutable) {
        if (int err = SetFileFlags(path, follow, flags & ~kFileFlagUserImmutable))
            return PosixErrorFromErrno(err);
    }
    uid_t uid = ::geteuid();
    // A link's own mode cannot be changed here and means nothing.
    if ((uid == 0 || st.st_uid == uid) && !S_ISLNK(st.st_mode)) {
        mode_t needed = S_ISDIR(st.st_mode) ? 0700 : 0600;
        if ((st.st_mode & needed) != needed && ::chmod(path, (st.st_mode & 07777) | needed) != 0)
            return LastPosixError();
    }
    return VE_OK;
}

VError XMacFile::GetVolumeFreeSpace(const char* path, int64_t* freeBytes, int64_t* totalBytes, bool withQuotas,
                                    const VFileDesc* openFile)
{
    struct statvfs sv;
    int result;
    if (openFile) {
        result = ::fstatvfs(openFile->GetImpl().GetFD(), &sv);
    } else {
        StFileDescriptor fd(::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.IsValid()) {
            std::string parent(path);
            while (parent.size() > 1 && parent.back() == '/')
                parent.pop_back();
            std::string::size_type slash = parent.find_last_of('/');
            parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : parent.substr(0, slash));
            fd.Reset(::open(parent.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!fd.IsValid())
                return LastPosixError();
        }
        result = ::fstatvfs(fd.Get(), &sv);
    }
    if (result != 0)
        return LastPosixError();
    if (freeBytes)
        *freeBytes = static_cast<int64_t>(sv.f_frsize) * static_cast<int64_t>(withQuotas ? sv.f_bavail : sv.f_bfree);
    if (totalBytes)
        *totalBytes = static_cast<int64_t>(sv.f_frsize) * static_cast<int64_t>(sv.f_blocks);
    return VE_OK;
}

bool XMacFile::RealPath(char* path, bool mustExist, char* out, size_t outSize)
{
    if (!path || !out || outSize < 1025)
        return false;
    size_t len = std::strlen(path);
    if (len == 0) {
        out[0] = 0;
        return true;
    }
    std::string resolved;
    if (_ResolveNoFollow(path, resolved)) {
        if (path[len - 1] == '/' && (resolved.empty() || resolved.back() != '/'))
            resolved += '/';
        if (resolved.size() + 1 > outSize)
            return false;
        std::memcpy(out, resolved.c_str(), resolved.size() + 1);
        return true;
    }
    if (mustExist)
        return false;
    char* slash = std::strrchr(path, '/');
    if (!slash)
        return false;
    std::string lastName(slash + 1);
    *slash = 0;
    if (path[0] == 0) {
        // The head of "/name" is the root itself.
        out[0] = 0;
    } else if (!RealPath(path, false, out, outSize)) {
        return false;
    }
    size_t head = std::strlen(out);
    if (head > 0 && out[head - 1] == '/')
        --head;
    if (head + 1 + lastName.size() + 1 > outSize)
        return false;
    out[head] = '/';
    std::memcpy(out + head + 1, lastName.c_str(), lastName.size() + 1);
    return true;
}

bool XMacFile::ResolvePathThroughLinks(const char* path, std::string& out)
{
    // As many links as the kernel follows in one path before it gives ELOOP.
    constexpr int kMaxLinks = 40;
    if (!path || path[0] != '/')
        return false;
    // The kernel refuses longer texts: nothing can be opened by such a path.
    if (std::strlen(path) >= PATH_MAX)
        return false;
    // The names are walked one at a time from a descriptor on the folder
    // reached so far, so each step costs the same however deep it lies; the
    // text is resolved as the kernel would, ".." from where the links led.
    std::vector<std::string> pending;
    PushNames(pending, path);
    std::string resolved;  // where the names walked so far lead, "" for the root
    StFileDescriptor folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsValid())
        return false;
    // Once a name is missing (or is no folder), the names below it are kept
    // as they are spelled: what is made through them is made there.
    bool missing = false;
    int links = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            if (missing)
                return false;  // which folder it climbs from is not known
            resolved.resize(resolved.empty() ? 0 : resolved.rfind('/'));
            folder.Reset(::open(resolved.empty() ? "/" : resolved.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!folder.IsValid())
                return false;
            continue;
        }
        if (missing) {
            resolved += '/';
            resolved += name;
            continue;
        }
        struct stat st;
        if (::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return false;
            missing = true;
            resolved += '/';
            resolved += name;
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks)
                return false;
            char target[PATH_MAX];
            ssize_t n = ::readlinkat(folder.Get(), name.c_str(), target, sizeof(target) - 1);
            if (n <= 0)
                return false;
            if (target[0] == '/') {
                resolved.clear();
                folder.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (!folder.IsValid())
                    return false;
            }
            PushNames(pending, std::string(target, static_cast<size_t>(n)));
            continue;
        }
        resolved += '/';
        resolved += name;
        if (S_ISDIR(st.st_mode)) {
            folder.Reset(::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!folder.IsValid())
                return false;
        } else {
            missing = true;
        }
    }
    if (resolved.size() >= PATH_MAX)
        return false;
    out = resolved.empty() ? std::string(1, '/') : resolved;
    return true;
}

}  // namespace bkit
