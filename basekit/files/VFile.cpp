// VFile.cpp - construction, paths and the error wrapping of file objects.

#include "basekit/files/VFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "basekit/files/VFileAttributesCache.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VURL.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VUUID.h"

namespace bkit {

// --- construction ---

VFile::VFile(const VFilePath& path, VFileSystem* fileSystem) : fPath(path), fFileSystem(fileSystem)
{
    if (fFileSystem)
        fFileSystem->Retain();
    fImpl.Init(this);
}

VFile::VFile(const VString& fullPath, FilePathStyle style)
{
    fPath.FromFullPath(fullPath, style);
    fImpl.Init(this);
}

VFile::VFile(const VFilePath& base, const VString& relativePath, FilePathStyle style)
{
    fPath.FromRelativePath(base, relativePath, style, false);
    fImpl.Init(this);
}

VFile::VFile(const VFolder& folder, const VString& relativePath, FilePathStyle style)
    : fFileSystem(folder.GetFileSystem())
{
    if (fFileSystem)
        fFileSystem->Retain();
    fPath.FromRelativePath(folder.GetPathRef(), relativePath, style, false);
    if (fFileSystem) {
        // A relative text that climbs out of the file system leaves it.
        if (!fFileSystem->IsAuthorized(fPath)) {
            fFileSystem->Release();
            fFileSystem = nullptr;
        }
    }
    fImpl.Init(this);
}

VFile::VFile(const VFile& other) : VObject(), IFile(), fPath(other.fPath), fFileSystem(other.fFileSystem)
{
    if (fFileSystem)
        fFileSystem->Retain();
    fImpl.Init(this);
}

VFile::VFile(const VURL& url)
{
    url.GetFilePath(fPath);
    fImpl.Init(this);
}

VFile::VFile(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem)
    : fImpl(posixPath), fPath(path), fFileSystem(fileSystem)
{
    if (fFileSystem)
        fFileSystem->Retain();
    fImpl.Init(this);
}

VFile::~VFile()
{
    if (VVolumeInfo* info = fVolumeInfo.exchange(nullptr))
        info->Release();
    if (fFileSystem)
        fFileSystem->Release();
}

CharSet VFile::DebugDump(char* buffer, int& length)
{
    std::string text = to_string(fPath.GetPath());
    int n = std::snprintf(buffer, static_cast<size_t>(length > 0 ? length : 0), "%s", text.c_str());
    length = n < 0 ? 0 : (n < length ? n : (length > 0 ? length - 1 : 0));
    return VTC_UTF_8;
}

// --- error wrapping ---

template <class Fill>
VError VFile::_Wrap(VError code, VError defaultError, Fill fill) const
{
    if (code == VE_OK || !VErrorBase::IsNativeError(code))
        return code;
    VFileError* error = new VFileError(fPath, VErrorBase::EncodedNativeErrorToVError(code, defaultError));
    fill(error);
    return _PushRetainedError(error, code);
}

VError VFile::WrapNativeError(VError code, VError defaultError) const
{
    return _Wrap(code, defaultError, [](VFileError*) {});
}

namespace {

auto NoParameters = [](VFileError*) {};

// Pushes the operation's own number for a path that cannot be worked on.
template <class Fill>
VError _PushInvalidPath(const VFilePath& path, VError code, Fill fill)
{
    VFileError* error = new VFileError(path, code);
    fill(error);
    return _PushRetainedError(error);
}

}  // namespace

VFileSystem* VFile::_FileSystemForDestination(const VFilePath& destination) const
{
    if (!fFileSystem)
        return nullptr;
    return fFileSystem->IsAuthorized(destination) ? fFileSystem : nullptr;
}

// --- paths ---

void VFile::GetPlatformPath(VString& out, FilePathStyle style) const
{
    if (style == FPS_POSIX) {
        if (fImpl.GetPosixPath(out) != VE_OK)
            fPath.GetPosixPath(out);
    } else if (style == FPS_SYSTEM) {
        fPath.GetPath(out);
    } else {
        out.Clear();
    }
}

VString VFile::GetPathWithFileSystem() const
{
    VString out;
    if (fFileSystem) {
        VFilePath root;
        fFileSystem->GetRoot(root);
        VString relative;
        if (fPath.GetRelativePosixPath(root, relative)) {
            out.AppendUniChar(u'/');
            out.AppendString(fFileSystem->GetName());
            out.AppendUniChar(u'/');
            out.AppendString(relative);
            return out;
        }
    }
    fPath.GetPosixPath(out);
    return out;
}

VFolder* VFile::RetainParentFolder(bool sandboxed) const
{
    VFilePath parent;
    if (!fPath.GetParent(parent))
        return nullptr;
    if (sandboxed && fFileSystem && !fFileSystem->IsAuthorized(parent))
        return nullptr;
    return new VFolder(parent, fFileSystem);
}

bool VFile::IsSameFile(const VFile* other) const
{
    return other && fPath.GetPath().EqualToString(other->fPath.GetPath(), false);
}

VError VFile::GetURL(VString& out, bool encoded) const
{
    VURL(fPath).GetAbsoluteURL(out, encoded);
    return VE_OK;
}

VError VFile::GetRelativeURL(VFolder* base, VString& out, bool encoded) const
{
    GetURL(out, encoded);
    if (base) {
        VString baseURL;
        base->GetURL(baseURL, encoded);
        if (!baseURL.IsEmpty() && out.BeginsWith(baseURL, false))
            out.Remove(1, baseURL.GetLength());
    }
    return VE_OK;
}

// --- queries ---

bool VFile::Exists() const
{
    if (!fPath.IsFile())
        return false;
    if (fFileSystem) {
        if (VFileAttributesCache* cache = fFileSystem->GetAttributesCache(); cache && cache->FileExists(fPath))
            return true;
    }
    return fImpl.Exists();
}

VError VFile::GetSize(long long* size) const
{
    int64_t value = 0;
    VError err = fImpl.GetSize(&value);
    if (size)
        *size = err == VE_OK ? value : 0;
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::GetResourceForkSize(long long* size) const
{
    int64_t value = 0;
    VError err = fImpl.GetResourceForkSize(&value);
    if (size)
        *size = err == VE_OK ? value : 0;
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

bool VFile::HasResourceFork() const
{
    return fImpl.HasResourceFork();
}

VError VFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
    if (fFileSystem) {
        if (VFileAttributesCache* cache = fFileSystem->GetAttributesCache();
            cache && cache->GetTimeAttributes(fPath, modified, created, accessed))
            return VE_OK;
    }
    VError err = fImpl.GetTimeAttributes(modified, created, accessed);
    if (err != VE_OK) {
        for (VTime* time : {modified, created, accessed}) {
            if (time)
                time->Clear();
        }
    }
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
    return _Wrap(fImpl.SetTimeAttributes(modified, created, accessed), VE_FILE_CANNOT_GET_ATTRIBUTES,
                 NoParameters);
}

VError VFile::GetFileAttributes(unsigned int& attributes) const
{
    uint32_t value = 0;
    VError err = fImpl.GetFileAttributes(value);
    attributes = value;
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::SetFileAttributes(unsigned int attributes) const
{
    return _Wrap(fImpl.SetFileAttributes(attributes), VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::GetVolumeFreeSpace(long long* freeBytes, long long* totalBytes, bool withQuotas,
                                 unsigned int cacheMilliseconds, const VFileDesc* openFile) const
{
    auto answer = [&](int64_t freeValue, int64_t totalValue) {
        if (freeBytes)
            *freeBytes = freeValue;
        if (totalBytes)
            *totalBytes = totalValue;
    };
    uint32_t now = static_cast<uint32_t>(VSystem::GetCurrentTime());
    if (cacheMilliseconds != 0) {
        // Taken out while in use, so a concurrent caller never frees it under us.
        if (VVolumeInfo* info = fVolumeInfo.exchange(nullptr)) {
            uint32_t age = now >= info->fStamp ? now - info->fStamp : info->fStamp - now;
            if (age <= cacheMilliseconds && info->fWithQuotas == withQuotas) {
                answer(info->fFreeBytes, info->fTotalBytes);
                if (VVolumeInfo* other = fVolumeInfo.exchange(info))
                    other->Release();
                return VE_OK;
            }
            info->Release();
        }
    }
    int64_t freeValue = 0, totalValue = 0;
    VError err = fImpl.GetVolumeFreeSpace(&freeValue, &totalValue, withQuotas, openFile);
    if (err != VE_OK) {
        if (cacheMilliseconds != 0) {
            if (VVolumeInfo* other = fVolumeInfo.exchange(nullptr))
                other->Release();
        }
        answer(0, 0);
        return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
    }
    answer(freeValue, totalValue);
    if (cacheMilliseconds != 0) {
        if (VVolumeInfo* old = fVolumeInfo.exchange(new VVolumeInfo(now, withQuotas, freeValue, totalValue)))
            old->Release();
    }
    return VE_OK;
}

bool VFile::IsAliasFile() const { return fImpl.IsAliasFile(); }
bool VFile::MAC_IsSymbolicLink() const { return fImpl.IsSymbolicLink(); }
bool VFile::MAC_IsWritableByAll() const { return fImpl.IsWritableByAll(); }
void VFile::MAC_SetExtensionVisible(bool visible) const { fImpl.SetExtensionVisible(visible); }
void VFile::Unlock() const { fImpl.Unlock(); }

bool VFile::IsWritable() const
{
    StErrorContextInstaller silent(false, true);
    VFileDesc* desc = nullptr;
    if (Open(FA_READ_WRITE, &desc, FO_FOLLOW_LINK) != VE_OK)
        return false;
    delete desc;
    return true;
}

// --- operations ---

VError VFile::Open(FileAccess access, VFileDesc** outDesc, unsigned int options) const
{
    if (outDesc)
        *outDesc = nullptr;
    return _Wrap(fImpl.Open(access, options, outDesc), VE_FILE_CANNOT_OPEN, [&](VFileError* e) {
        e->SetLong("access", access);
        e->SetLong("options", static_cast<int32_t>(options));
    });
}

VError VFile::Create(unsigned int options) const
{
    return _Wrap(fImpl.Create(options), VE_FILE_CANNOT_CREATE,
                 [&](VFileError* e) { e->SetLong("options", static_cast<int32_t>(options)); });
}

namespace {

auto DestinationAndOptions(const VFilePath& destination, unsigned int options)
{
    return [&destination, options](VFileError* e) {
        e->SetString("destination", destination.GetPath());
        e->SetLong("options", static_cast<int32_t>(options));
    };
}

}  // namespace

VError VFile::CopyTo(const VFilePath& destination, VFile** outFile, unsigned int options) const
{
    if (outFile)
        *outFile = nullptr;
    if (!fPath.IsValid() || !destination.IsValid())
        return _PushInvalidPath(fPath, VE_FILE_CANNOT_COPY, DestinationAndOptions(destination, options));
    return _Wrap(fImpl.Copy(destination, _FileSystemForDestination(destination), outFile, options),
                 VE_FILE_CANNOT_COPY, DestinationAndOptions(destination, options));
}

VError VFile::CopyTo(const VFile& destination, unsigned int options) const
{
    return _Wrap(fImpl.Copy(destination.fPath, nullptr, nullptr, options), VE_FILE_CANNOT_COPY,
                 DestinationAndOptions(destination.fPath, options));
}

VError VFile::CopyTo(const VFolder& destination, VFile** outFile, unsigned int options) const
{
    if (outFile)
        *outFile = nullptr;
    return _Wrap(fImpl.Copy(destination.GetPathRef(), destination.GetFileSystem(), outFile, options),
                 VE_FILE_CANNOT_COPY, DestinationAndOptions(destination.GetPathRef(), options));
}

VError VFile::CopyFrom(const VFile& source, unsigned int options) const
{
    return source._Wrap(source.fImpl.Copy(fPath, nullptr, nullptr, options), VE_FILE_CANNOT_COPY,
                        DestinationAndOptions(fPath, options));
}

VError VFile::Move(const VFilePath& destination, VFile** outFile, unsigned int options) const
{
    if (outFile)
        *outFile = nullptr;
    if (!destination.IsValid())
        return _PushInvalidPath(fPath, VE_FILE_CANNOT_MOVE, DestinationAndOptions(destination, options));
    return _Wrap(fImpl.Move(destination, _FileSystemForDestination(destination), outFile, options),
                 VE_FILE_CANNOT_MOVE, DestinationAndOptions(destination, options));
}

VError VFile::Move(const VFile& destination, unsigned int options) const
{
    if (!destination.fPath.IsValid())
        return _PushInvalidPath(fPath, VE_FILE_CANNOT_MOVE, DestinationAndOptions(destination.fPath, options));
    return _Wrap(fImpl.Move(destination.fPath, destination.fFileSystem, nullptr, options), VE_FILE_CANNOT_MOVE,
                 DestinationAndOptions(destination.fPath, options));
}

VError VFile::Move(const VFolder& destination, VFile** outFile, unsigned int options) const
{
    if (outFile)
        *outFile = nullptr;
    const VFilePath& folder = destination.GetPathRef();
    if (!folder.IsValid())
        return _PushInvalidPath(fPath, VE_FILE_CANNOT_MOVE, DestinationAndOptions(folder, options));
    return _Wrap(fImpl.Move(folder, destination.GetFileSystem(), outFile, options), VE_FILE_CANNOT_MOVE,
                 DestinationAndOptions(folder, options));
}

VError VFile::Rename(const VString& newName, VFile** outFile) const
{
    if (outFile)
        *outFile = nullptr;
    return _Wrap(fImpl.Rename(newName, outFile), VE_FILE_CANNOT_RENAME,
                 [&](VFileError* e) { e->SetString("newname", newName); });
}

namespace {

bool _ItemIsGone(const XMacFile& impl)
{
    struct stat st;
    return ::lstat(impl.GetPosixPathText(), &st) != 0 && errno == ENOENT;
}

}  // namespace

VError VFile::Delete() const
{
    if (!fPath.IsValid())
        return _PushInvalidPath(fPath, VE_FILE_CANNOT_DELETE, NoParameters);
    VError err = fImpl.Delete();
    // Already gone is what the caller wanted.
    if (err == MakePOSIXVError(ENOENT))
        return VE_OK;
    return _Wrap(err, VE_FILE_CANNOT_DELETE, NoParameters);
}

VError VFile::MoveToTrash() const
{
    if (!fPath.IsValid())
        return _PushInvalidPath(fPath, VE_FILE_CANNOT_DELETE, NoParameters);
    if (_ItemIsGone(fImpl))
        return VE_OK;
    return _Wrap(fImpl.MoveToTrash(), VE_FILE_CANNOT_DELETE, NoParameters);
}

VError VFile::RevealInFinder() const
{
    return _Wrap(fImpl.RevealInFinder(), VE_FILE_CANNOT_REVEAL, NoParameters);
}

VError VFile::ResolveAlias(VFilePath& target) const
{
    VError err = fImpl.ResolveAlias(target);
    if (err != VE_OK)
        target.Clear();
    return _Wrap(err, VE_FILE_CANNOT_RESOLVE_ALIAS, NoParameters);
}

VError VFile::CreateAlias(const VFilePath& target, const VFilePath* lookup) const
{
    return _Wrap(fImpl.CreateAlias(target, lookup), VE_FILE_CANNOT_CREATE_ALIAS, NoParameters);
}

VError VFile::MAC_CreateSymbolicLink(const VFilePath& target, bool absolute) const
{
    VError err = fImpl.CreateSymbolicLink(target, absolute);
    if (err != VE_OK)
        _ThrowError(err);
    return err;
}

VError VFile::MAC_GetKind(unsigned int* kind) const
{
    uint32_t value = 0;
    VError err = fImpl.GetKind(&value);
    if (kind)
        *kind = value;
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::MAC_GetCreator(unsigned int* creator) const
{
    if (creator)
        *creator = 0;
    return VE_OK;
}

VError VFile::Mac_GetOwner(unsigned int& uid, unsigned int& gid) const
{
    uint32_t u = 0, g = 0;
    VError err = fImpl.GetOwner(u, g);
    uid = u;
    gid = g;
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::MAC_GetPermissions(unsigned short* mode) const
{
    uint16_t value = 0;
    VError err = fImpl.GetPermissions(&value);
    if (mode)
        *mode = value;
    return _Wrap(err, VE_FILE_CANNOT_GET_ATTRIBUTES, NoParameters);
}

VError VFile::MAC_SetPermissions(unsigned short mode) const
{
    return _Wrap(fImpl.SetPermissions(mode), VE_FILE_CANNOT_SET_ATTRIBUTES, NoParameters);
}

VError VFile::MAC_MakeWritableByAll() const
{
    return _Wrap(fImpl.MakeWritableByAll(), VE_FILE_CANNOT_SET_ATTRIBUTES, NoParameters);
}

// No type or creator is kept on this platform.
VError VFile::MAC_SetKind(unsigned int) const { return VE_OK; }
VError VFile::MAC_SetCreator(unsigned int) const { return VE_OK; }

// --- aliases and temporary files ---

VFile* VFile::CreateTemporaryFile()
{
    VFolder* folder = VFolder::RetainSystemFolder(eFK_Temporary, false);
    if (!folder)
        return nullptr;
    VUUID uuid(true);
    VString name("bkt_");
    VString digits;
    uuid.GetString(digits);
    name.AppendString(digits);
    VFile* file = new VFile(*folder, name, FPS_POSIX);
    folder->Release();
    if (file->Create(0) != VE_OK) {
        file->Release();
        return nullptr;
    }
    return file;
}

VFile* VFile::CreateAndResolveAlias(const VFolder& folder, const VString& relativePath, FilePathStyle style)
{
    VFile* file = new VFile(folder, relativePath, style);
    if (ResolveAliasFile(&file, true) != VE_OK) {
        file->Release();
        return nullptr;
    }
    return file;
}

VError VFile::ResolveAliasFile(VFile** ioFile, bool deleteInvalidAlias)
{
    if (!ioFile || !*ioFile || !(*ioFile)->IsAliasFile())
        return VE_OK;
    VFile* alias = *ioFile;
    alias->Retain();
    VFilePath target;
    VError err = alias->fImpl.ResolveAlias(target);
    if (err == VE_OK && target.IsFile()) {
        alias->Release();
        *ioFile = new VFile(target);
    } else {
        if (deleteInvalidAlias) {
            err = alias->Delete();
        } else if (err == VE_OK) {
            err = _PushInvalidPath(alias->fPath, VE_FILE_ALIAS_TARGET_NOT_A_FILE, NoParameters);
        } else {
            err = alias->_Wrap(err, VE_FILE_CANNOT_RESOLVE_ALIAS, NoParameters);
        }
    }
    alias->Release();
    return err;
}

VError VFile::ResolveAliasFile(VRefPtr<VFile>& ioFile, bool deleteInvalidAlias)
{
    VFile* file = ioFile.Forget();
    VError err = ResolveAliasFile(&file, deleteInvalidAlias);
    ioFile = VRefPtr<VFile>::Adopt(file);
    return err;
}

}  // namespace bkit
