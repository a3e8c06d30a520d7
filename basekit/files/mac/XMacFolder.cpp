// XMacFolder.cpp - the disk work of a folder object.
#include "basekit/files/mac/XMacFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/platform/PosixError.h"
#include "basekit/platform/SystemFolders.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

namespace {

constexpr uint32_t kCocoaSignature = MakeOsType("COCO");

VError CocoaCode(int32_t number) { return MakeVError(kCocoaSignature, number); }

// The file manager's answer for a failure of a copy, move or Trash move.
VError FileManagerError(int errnum, bool reading)
{
    if (errnum == ENOTSUP || errnum == EOPNOTSUPP)
        return CocoaCode(kCocoaFeatureUnsupported);
    return CocoaErrorFromErrno(errnum, reading);
}

std::string NoTrailingSlash(const char* path)
{
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string PosixOf(const VFilePath& path)
{
    char* text = XMacFile::AllocatePosixPathFromFilePath(path);
    std::string out(text ? text : "");
    XMacFile::FreePosixPath(text);
    return out;
}

bool PathIsSymbolicLink(const char* path)
{
    struct stat st;
    return lstat(NoTrailingSlash(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

XMacFolder::XMacFolder(const char* posixPath) { _SetPosixPath(posixPath); }

XMacFolder::~XMacFolder() { std::free(fPosixPath); }

void XMacFolder::_SetPosixPath(const char* text)
{
    std::free(fPosixPath);
    fPosixPath = nullptr;
    if (text == nullptr)
        return;
    size_t length = std::strlen(text);
    bool addSlash = length == 0 || text[length - 1] != '/';
    fPosixPath = static_cast<char*>(std::malloc(length + (addSlash ? 2 : 1)));
    if (fPosixPath == nullptr)
        return;
    std::memcpy(fPosixPath, text, length);
    if (addSlash)
        fPosixPath[length++] = '/';
    fPosixPath[length] = 0;
}

void XMacFolder::Init(VFolder* owner)
{
    fOwner = owner;
    if (fPosixPath == nullptr && owner != nullptr)
        _SetPosixPath(PosixOf(owner->GetPathRef()).c_str());
}

VError XMacFolder::Create() const
{
    if (int err = FaultSeam::Check(FaultOperation::kCreate))
        return PosixErrorFromErrno(err);
    return mkdir(GetPosixPathCString(), 0755) == 0 ? 0 : LastPosixError();
}

VError XMacFolder::Delete() const
{
    if (int err = FaultSeam::Check(FaultOperation::kDelete))
        return PosixErrorFromErrno(err);
    std::string path = NoTrailingSlash(GetPosixPathCString());
    // A folder reached through a symbolic link is removed as the link.
    if (PathIsSymbolicLink(path.c_str()))
        return unlink(path.c_str()) == 0 ? 0 : LastPosixError();
    return rmdir(path.c_str()) == 0 ? 0 : LastPosixError();
}

VError XMacFolder::DeleteForced() const
{
    ForceDeleteResult result = ForceDeleteFolder(GetPosixPathCString());
    if (result.restoreError != 0 && fOwner != nullptr) {
        VError native = PosixErrorFromErrno(result.restoreError);
        VError code = VErrorBase::EncodedNativeErrorToVError(native, VE_CANNOT_SET_FOLDER_INFO);
        _PushRetainedError(new VFileError(fOwner->GetPathRef(), code), native);
    }
    return PosixErrorFromErrno(result.error);
}

VError XMacFolder::MoveToTrash() const
{
    int err = MoveItemToTrash(NoTrailingSlash(GetPosixPathCString()).c_str());
    return err == 0 ? 0 : FileManagerError(err, err == ENOENT);
}

bool XMacFolder::Exists(bool followLinks) const
{
    struct stat st;
    std::string path = NoTrailingSlash(GetPosixPathCString());
    int rc = followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    return rc == 0 && S_ISDIR(st.st_mode);
}

bool XMacFolder::IsSymbolicLink() const { return PathIsSymbolicLink(GetPosixPathCString()); }

VError XMacFolder::RevealInFinder() const { return 0; }

VError XMacFolder::IsHidden(bool& hidden) const
{
    hidden = false;
    uint32_t attributes = 0;
    VError err = XMacFile::GetPathAttributes(GetPosixPathCString(), true, attributes);
    if (err == 0)
        hidden = (attributes & FATT_HiddenFolder) != 0 || XMacFile::PosixNameBeginsWithDot(GetPosixPathCString());
    return err;
}

bool XMacFolder::IsPackage() const
{
    // Folders with the extensions the desktop shows as single documents.
    static const char* const kPackageExtensions[] = {".app", ".bundle", ".framework", ".plugin", ".kext", ".pkg"};
    std::string path = NoTrailingSlash(GetPosixPathCString());
    if (!Exists(true))
        return false;
    for (const char* ext : kPackageExtensions) {
        size_t n = std::strlen(ext);
        if (path.size() > n && path.compare(path.size() - n, n, ext) == 0)
            return true;
    }
    return false;
}

bool XMacFolder::IsTraversable() const
{
    uint32_t permission = 0;
    return XMacFile::GetEffectivePermission(GetPosixPathCString(), permission) == 0 && (permission & 1) != 0;
}

VError XMacFolder::Rename(const VString& name, VFolder** outFolder) const
{
    if (outFolder)
        *outFolder = nullptr;
    if (fOwner == nullptr)
        return VE_INVALID_PARAMETER;
    VFilePath path(fOwner->GetPathRef());
    if (!path.SetName(name))
        return VE_FS_BAD_NAME;
    std::string to = NoTrailingSlash(PosixOf(path).c_str());
    int err = RenameNoReplace(NoTrailingSlash(GetPosixPathCString()).c_str(), to.c_str());
    if (err != 0)
        return PosixErrorFromErrno(err);
    if (outFolder)
        *outFolder = new VFolder(path, fOwner->GetFileSystem());
    return 0;
}

VError XMacFolder::Move(const VFolder& parent, const VString* name, VFolder** outFolder) const
{
    if (outFolder)
        *outFolder = nullptr;
    VString ownName;
    if (name == nullptr || name->IsEmpty()) {
        if (fOwner == nullptr)
            return VE_INVALID_PARAMETER;
        fOwner->GetName(ownName);
        name = &ownName;
    }
    VFilePath destination(parent.GetPathRef());
    destination.ToSubFolder(*name);
    std::string from = NoTrailingSlash(GetPosixPathCString());
    std::string to = NoTrailingSlash(PosixOf(destination).c_str());
    int err = RenameNoReplace(from.c_str(), to.c_str());
    if (err == EXDEV) {
        // Across volumes: a whole copy, then the source goes.
        err = CopyFolderTree(from.c_str(), to.c_str());
        if (err == 0)
            err = ForceDeleteFolder(from.c_str()).error;
    }
    if (err != 0) {
        struct stat st;
        return FileManagerError(err, err == ENOENT && lstat(from.c_str(), &st) != 0);
    }
    if (outFolder)
        *outFolder = new VFolder(destination, parent.GetFileSystem());
    return 0;
}

VError XMacFolder::CopyToNonExistingFolder(const VFolder& parent, const VString& name) const
{
    VFilePath destination(parent.GetPathRef());
    destination.ToSubFolder(name);
    int err = CopyFolderTree(GetPosixPathCString(), PosixOf(destination).c_str());
    if (err == 0)
        return 0;
    return FileManagerError(err, (err == ENOENT || err == EACCES) && !Exists(true));
}

VError XMacFolder::CopyTree(const XMacFolder& target, bool contentsOnly, uint32_t options,
                            FolderCopyFailure& failure) const
{
    FolderCopyOptions copyOptions;
    copyOptions.replace = (options & 4) != 0;
    copyOptions.goOn = (options & 8) != 0;
    copyOptions.skipInvisibles = (options & 16) != 0;
    if (contentsOnly) {
        failure = CopyFolderContents(GetPosixPathCString(), target.GetPosixPathCString(), copyOptions);
    } else {
        std::string to = NoTrailingSlash(target.GetPosixPathCString());
        size_t slash = to.find_last_of('/');
        std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
        failure = CopyFolderInto(GetPosixPathCString(), parent.c_str(), to.c_str() + slash + 1, copyOptions);
    }
    if (failure.error == 0)
        return 0;
    return failure.isFolder ? PosixErrorFromErrno(failure.error) : FileManagerError(failure.error, failure.onSource);
}

VError XMacFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
    return XMacFile::GetTimeAttributes(GetPosixPathCString(), true, modified, created, accessed);
}

VError XMacFolder::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
    return XMacFile::SetTimeAttributes(GetPosixPathCString(), modified, created, accessed);
}

VError XMacFolder::GetFolderAttributes(uint32_t& attributes) const
{
    return XMacFile::GetPathAttributes(GetPosixPathCString(), true, attributes);
}

VError XMacFolder::SetFolderAttributes(uint32_t attributes) const
{
    return XMacFile::SetPathAttributes(GetPosixPathCString(), true, attributes);
}

VError XMacFolder::GetVolumeCapacity(int64_t* bytes) const
{
    int64_t freeBytes = 0;
    return XMacFile::GetVolumeFreeSpace(GetPosixPathCString(), &freeBytes, bytes, false, nullptr);
}

VError XMacFolder::GetVolumeFreeSpace(int64_t* bytes, bool withQuotas) const
{
    int64_t total = 0;
    return XMacFile::GetVolumeFreeSpace(GetPosixPathCString(), bytes, &total, withQuotas, nullptr);
}

VError XMacFolder::GetPosixPath(VString& out) const
{
    out.FromCString(GetPosixPathCString());
    return 0;
}

VError XMacFolder::GetPermissions(uint16_t* mode) const
{
    struct stat st;
    if (stat(GetPosixPathCString(), &st) != 0) {
        if (mode)
            *mode = 0;
        return LastPosixError();
    }
    if (mode)
        *mode = static_cast<uint16_t>(st.st_mode & 0777);
    return 0;
}

VError XMacFolder::SetPermissions(uint16_t mode) const
{
    return chmod(GetPosixPathCString(), mode & 0777) == 0 ? 0 : LastPosixError();
}

VError XMacFolder::MakeWritableByAll() const
{
    return chmod(GetPosixPathCString(), 0777) == 0 ? 0 : LastPosixError();
}

bool XMacFolder::IsWritableByAll() const
{
    struct stat st;
    return stat(GetPosixPathCString(), &st) == 0 && (st.st_mode & 0222) != 0;
}

VError XMacFolder::GetOwner(uint32_t& uid, uint32_t& gid) const
{
    struct stat st;
    if (stat(GetPosixPathCString(), &st) != 0)
        return LastPosixError();
    uid = st.st_uid;
    gid = st.st_gid;
    return 0;
}

VError XMacFolder::RetainSystemFolder(ESystemFolderKind kind, bool create, VFolder** outFolder)
{
    if (outFolder)
        *outFolder = nullptr;
    std::string path;
    int err = GetSystemFolderPath(kind, create, path);
    if (err == ENOENT && path.empty())
        return 0;
    if (err != 0)
        return FileManagerError(err, false);
    if (outFolder)
        *outFolder = new VFolder(path.c_str(), VFilePath(VString(path.c_str()), FPS_POSIX), nullptr);
    return 0;
}

}  // namespace bkit
