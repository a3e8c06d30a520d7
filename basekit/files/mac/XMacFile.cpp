// XMacFile.cpp - the per-file operations of the platform file half.

#include "basekit/files/mac/XMacFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileDesc.h"
#include "basekit/files/VFileError.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VMemoryMgr.h"

namespace bkit {

namespace {

constexpr uint32_t kCopyOverwrite = 4;

// A path that cannot be handed to the system (no owner yet, out of memory).
const char* _Text(const char* path)
{
    return path ? path : "";
}

}  // namespace

XMacFile::XMacFile(const char* posixPath)
{
    if (posixPath) {
        size_t len = std::strlen(posixPath);
        fPosixPath = static_cast<char*>(VMemory::NewPtr(len + 1, MakeOsType("path")));
        if (fPosixPath)
            std::memcpy(fPosixPath, posixPath, len + 1);
    }
}

XMacFile::~XMacFile()
{
    FreePosixPath(fPosixPath);
}

void XMacFile::Init(VFile* owner)
{
    fOwner = owner;
    if (!fPosixPath && owner)
        fPosixPath = AllocatePosixPathFromFilePath(owner->GetPathRef());
}

VError XMacFile::Create(uint32_t options) const
{
    if (int err = FaultSeam::Check(FaultOperation::kCreate))
        return PosixErrorFromErrno(err);
    const char* path = _Text(fPosixPath);
    if (options & FO_OVERWRITE)
        ::unlink(path);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | ((options & FO_OVERWRITE) ? O_TRUNC : O_EXCL);
    int fd = RetryOnEINTR([&] { return ::open(path, flags, 0644); });
    if (fd < 0)
        return LastPosixError();
    ::close(fd);
    return VE_OK;
}

VError XMacFile::Open(FileAccess access, uint32_t options, VFileDesc** outDesc) const
{
    if (outDesc)
        *outDesc = nullptr;
    const char* path = _Text(fPosixPath);
    // Resource forks do not exist here.
    if (options & FO_RESOURCE_FORK)
        return PosixErrorFromErrno(ENOENT);

    auto attempt = [&](FileAccess mode, int& fd) -> int {
        int flags = O_CLOEXEC;
        bool linkItself = false;
        if (!(options & FO_FOLLOW_LINK)) {
            struct stat st;
            linkItself = ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
            flags |= O_NOFOLLOW;
        }
        if (linkItself) {
            // The link itself: a handle that names it and reads nothing.
            fd = ::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
            return fd < 0 ? errno : 0;
        }
        if (options & FO_CREATE_IF_NOT_FOUND)
            flags |= O_CREAT;
        if (options & FO_OVERWRITE)
            flags |= O_TRUNC;
        FileLockKind lock = FileLockKind::kNone;
        if (mode == FA_READ) {
            flags |= O_RDONLY;
        } else {
            flags |= O_RDWR;
            lock = mode == FA_READ_WRITE ? FileLockKind::kExclusive : FileLockKind::kShared;
        }
        return OpenFileLocked(path, flags, (options & FO_CREATE_IF_NOT_FOUND) ? 0644 : 0, lock, fd);
    };

    int fd = -1;
    int err;
    if (access == FA_MAX_ACCESS) {
        err = attempt(FA_READ_WRITE, fd);
        if (err != 0)
            err = attempt(FA_READ, fd);
    } else {
        err = attempt(access, fd);
    }
    if (err != 0) {
        // A lock held by another open file reads as a refused permission.
        if (err == EAGAIN || err == EWOULDBLOCK)
            err = EACCES;
        return PosixErrorFromErrno(err);
    }
    if (options & FO_READ_AHEAD)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (options & (FO_NO_CACHE_1 | FO_NO_CACHE_2))
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    VFileDesc* desc = new VFileDesc(fOwner, fd, access);
    if (outDesc)
        *outDesc = desc;
    else
        delete desc;
    return VE_OK;
}

bool XMacFile::Exists() const
{
    struct stat st;
    return ::lstat(_Text(fPosixPath), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

VError XMacFile::Delete() const
{
    return PosixErrorFromErrno(UnlinkItem(_Text(fPosixPath)));
}

VError XMacFile::MoveToTrash() const
{
    return CocoaErrorFromErrno(MoveItemToTrash(_Text(fPosixPath)), false);
}

VError XMacFile::ReplaceContent(const void* data, size_t size, bool hadContent) const
{
    return PosixErrorFromErrno(ReplaceFileContent(_Text(fPosixPath), data, size, hadContent));
}

VError XMacFile::_MakeOutFile(const VFilePath& dest, VFileSystem* fileSystem, VFile** out) const
{
    if (out)
        *out = new VFile(dest, fileSystem);
    return VE_OK;
}

VError XMacFile::_CopyOrMove(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32_t options,
                             bool move) const
{
    if (out)
        *out = nullptr;
    VFilePath destination(dest);
    const bool intoFolder = destination.IsFolder() && fOwner;
    if (intoFolder) {
        VString name;
        fOwner->GetPathRef().GetName(name);
        destination.ToSubFile(name);
    }
    char* to = AllocatePosixPathFromFilePath(destination);
    if (!to)
        return VE_MEMORY_FULL;
    std::string target(to);
    FreePosixPath(to);
    if (intoFolder) {
        // Into a folder the file keeps its on-disk name byte for byte: a name
        // that is not valid UTF-8, or not in composed form, would otherwise
        // come out under another name.
        const char* source = _Text(fPosixPath);
        const char* slash = std::strrchr(source, '/');
        target.erase(target.find_last_of('/') + 1).append(slash ? slash + 1 : source);
    }
    bool replace = (options & kCopyOverwrite) != 0;
    FileOpResult result = move ? MoveFileItem(_Text(fPosixPath), target.c_str(), replace)
                               : CopyFileItem(_Text(fPosixPath), target.c_str(), replace);
    if (!result)
        return CocoaErrorFromErrno(result.error, result.onSource);
    if (out)
        *out = intoFolder ? new VFile(target.c_str(), destination, fileSystem) : new VFile(destination, fileSystem);
    return VE_OK;
}

VError XMacFile::Copy(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32_t options) const
{
    return _CopyOrMove(dest, fileSystem, out, options, false);
}

VError XMacFile::Move(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32_t options) const
{
    if (out)
        *out = nullptr;
    if (fOwner) {
        VFilePath destination(dest);
        if (destination.IsFolder()) {
            VString name;
            fOwner->GetPathRef().GetName(name);
            destination.ToSubFile(name);
        }
        VFilePath sourceFolder, destFolder;
        fOwner->GetPathRef().GetFolder(sourceFolder);
        destination.GetFolder(destFolder);
        if (sourceFolder.GetPath().EqualToString(destFolder.GetPath(), false)) {
            // Within one folder a move is a rename, and it replaces nothing
            // unless the caller asked for it.
            char* to = AllocatePosixPathFromFilePath(destination);
            if (!to)
                return VE_MEMORY_FULL;
            bool replace = (options & kCopyOverwrite) != 0;
            int err = replace ? RenameReplacing(_Text(fPosixPath), to) : RenameNoReplace(_Text(fPosixPath), to);
            FreePosixPath(to);
            if (err == 0)
                return _MakeOutFile(destination, fileSystem, out);
        }
    }
    return _CopyOrMove(dest, fileSystem, out, options, true);
}

VError XMacFile::Rename(const VString& name, VFile** out) const
{
    if (out)
        *out = nullptr;
    if (!fOwner)
        return PosixErrorFromErrno(EINVAL);
    VFilePath newPath(fOwner->GetPathRef());
    if (!newPath.SetName(name))
        return newPath.IsValid() ? VE_FS_BAD_NAME : PosixErrorFromErrno(EINVAL);
    char* to = AllocatePosixPathFromFilePath(newPath);
    if (!to)
        return VE_MEMORY_FULL;
    int err = RenameNoReplace(_Text(fPosixPath), to);
    FreePosixPath(to);
    if (err != 0)
        return PosixErrorFromErrno(err);
    return _MakeOutFile(newPath, fOwner->GetFileSystem(), out);
}

VError XMacFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
    return GetTimeAttributes(_Text(fPosixPath), false, modified, created, accessed);
}

VError XMacFile::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
    return SetTimeAttributes(_Text(fPosixPath), modified, created, accessed);
}

VError XMacFile::GetFileAttributes(uint32_t& attributes) const
{
    return GetPathAttributes(_Text(fPosixPath), false, attributes);
}

VError XMacFile::SetFileAttributes(uint32_t attributes) const
{
    return SetPathAttributes(_Text(fPosixPath), false, attributes);
}

VError XMacFile::GetSize(int64_t* size) const
{
    struct stat st;
    if (::lstat(_Text(fPosixPath), &st) != 0) {
        if (size)
            *size = 0;
        return LastPosixError();
    }
    if (size)
        *size = st.st_size;
    return VE_OK;
}

VError XMacFile::GetResourceForkSize(int64_t* size) const
{
    if (size)
        *size = 0;
    return VE_OK;
}

VError XMacFile::GetVolumeFreeSpace(int64_t* freeBytes, int64_t* totalBytes, bool withQuotas,
                                    const VFileDesc* openFile) const
{
    return GetVolumeFreeSpace(_Text(fPosixPath), freeBytes, totalBytes, withQuotas, openFile);
}

bool XMacFile::IsSymbolicLink() const
{
    struct stat st;
    return ::lstat(_Text(fPosixPath), &st) == 0 && S_ISLNK(st.st_mode);
}

VError XMacFile::ReadSymbolicLink(VString& out) const
{
    struct stat st;
    if (::lstat(_Text(fPosixPath), &st) != 0)
        return LastPosixError();
    std::vector<char> buffer(static_cast<size_t>(st.st_size) * 2 + 10);
    ssize_t n = ::readlink(_Text(fPosixPath), buffer.data(), buffer.size() - 1);
    if (n < 0)
        return LastPosixError();
    buffer[static_cast<size_t>(n)] = 0;
    out.FromCString(buffer.data());
    out.Compose();
    return VE_OK;
}

VError XMacFile::CreateSymbolicLink(const VFilePath& target, bool absolute) const
{
    VString text;
    if (!absolute && fOwner) {
        VFilePath start;
        fOwner->GetPathRef().GetFolder(start);
        VString prefix, relative;
        while (!target.GetRelativePosixPath(start, relative)) {
            if (!start.HasParent()) {
                relative.Clear();
                break;
            }
            start.ToParent();
            prefix.AppendCString("../");
        }
        if (!relative.IsEmpty()) {
            text.FromString(prefix);
            text.AppendString(relative);
        }
    }
    if (text.IsEmpty())
        target.GetPosixPath(text);
    char* linkText = AllocatePosixPathFromString(text);
    if (!linkText)
        return VE_MEMORY_FULL;
    ::unlink(_Text(fPosixPath));
    int result = ::symlink(linkText, _Text(fPosixPath));
    FreePosixPath(linkText);
    return result == 0 ? VE_OK : LastPosixError();
}

VError XMacFile::CreateAlias(const VFilePath& target, const VFilePath* relativeTo) const
{
    return CreateSymbolicLink(target, relativeTo == nullptr);
}

VError XMacFile::ResolveAlias(VFilePath& target) const
{
    struct stat st;
    if (::lstat(_Text(fPosixPath), &st) != 0)
        return LastPosixError();
    if (!S_ISLNK(st.st_mode)) {
        VError code = VE_FILE_CANNOT_RESOLVE_ALIAS;
        if (fOwner)
            StThrowError<VFileError> err(new VFileError(fOwner->GetPathRef(), code));
        return code;
    }
    StFileDescriptor fd(::open(_Text(fPosixPath), O_PATH | O_CLOEXEC));
    if (!fd.IsValid())
        return LastPosixError();
    std::string resolved;
    if (int err = GetPathOfDescriptor(fd.Get(), resolved))
        return PosixErrorFromErrno(err);
    struct stat targetStat;
    if (::fstat(fd.Get(), &targetStat) != 0)
        return LastPosixError();
    GetFilePathFromPosixPath(resolved.c_str(), S_ISDIR(targetStat.st_mode), target);
    return VE_OK;
}

VError XMacFile::GetOwner(uint32_t& uid, uint32_t& gid) const
{
    struct stat st;
    if (::stat(_Text(fPosixPath), &st) != 0)
        return LastPosixError();
    uid = st.st_uid;
    gid = st.st_gid;
    return VE_OK;
}

VError XMacFile::GetPermissions(uint16_t* mode) const
{
    struct stat st;
    if (::lstat(_Text(fPosixPath), &st) != 0) {
        if (mode)
            *mode = 0;
        return LastPosixError();
    }
    if (mode)
        *mode = static_cast<uint16_t>(st.st_mode & 0777);
    return VE_OK;
}

VError XMacFile::SetPermissions(uint16_t mode) const
{
    struct stat st;
    if (::lstat(_Text(fPosixPath), &st) != 0)
        return LastPosixError();
    // A link's own mode means nothing here and is left alone.
    if (S_ISLNK(st.st_mode))
        return VE_OK;
    return ::chmod(_Text(fPosixPath), mode & 0777) == 0 ? VE_OK : LastPosixError();
}

VError XMacFile::MakeWritableByAll() const
{
    struct stat st;
    if (::lstat(_Text(fPosixPath), &st) != 0)
        return LastPosixError();
    if (S_ISLNK(st.st_mode))
        return VE_OK;
    return ::chmod(_Text(fPosixPath), (st.st_mode & 07777) | 0666) == 0 ? VE_OK : LastPosixError();
}

bool XMacFile::IsWritableByAll() const
{
    struct stat st;
    return ::lstat(_Text(fPosixPath), &st) == 0 && (st.st_mode & 0002) != 0;
}

void XMacFile::Unlock() const
{
    UnlockPath(_Text(fPosixPath), true);
}

VError XMacFile::GetPosixPath(VString& out) const
{
    out.FromCString(_Text(fPosixPath));
    out.Compose();
    return VE_OK;
}

}  // namespace bkit
