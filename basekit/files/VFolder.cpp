// VFolder.cpp - construction, paths, wrapping of platform failures and the
// single-folder operations of VFolder. Listings, deletion of contents, copies
// and walks are in VFolderContents.cpp.
#include "basekit/files/VFolder.h"

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFileIterator.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolderIterator.h"
#include "basekit/files/VURL.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

namespace {

void RetainFileSystem(VFileSystem* fileSystem)
{
    if (fileSystem)
        fileSystem->Retain();
}

bool LiesInFileSystem(const VFilePath& path, VFileSystem* fileSystem)
{
    return fileSystem->IsAuthorized(path);
}

// Appends the style's separator to a non-empty text that lacks it.
VString WithFolderSeparator(const VString& text, FilePathStyle style)
{
    VString out(text);
    UniChar separator = style == FPS_SYSTEM ? u':' : u'/';
    if (!out.IsEmpty() && out.GetCPointer()[out.GetLength() - 1] != separator)
        out.AppendUniChar(separator);
    return out;
}

}  // namespace

VFolder::VFolder(const VFilePath& path, VFileSystem* fileSystem) : fPath(path), fFileSystem(fileSystem)
{
    RetainFileSystem(fFileSystem);
    fImpl.Init(this);
}

VFolder::VFolder(const VFolder& other)
    : VObject(), IFolder(), fImpl(other.fImpl.GetPosixPathCString()), fPath(other.fPath), fFileSystem(other.fFileSystem)
{
    RetainFileSystem(fFileSystem);
    fImpl.Init(this);
}

VFolder::VFolder(const VString& fullPath, FilePathStyle style)
    : fImpl(style == FPS_POSIX && !fullPath.IsEmpty() ? StStringConverter<char>(fullPath).GetCPointer() : nullptr),
      fPath(fullPath, style)
{
    // A POSIX text is kept as the on-disk name the caller gave: the internal
    // path may have been found through symbolic links, and a folder named by
    // a link must act on the link (delete, Trash), not on its target.
    fImpl.Init(this);
}

VFolder::VFolder(const VFolder& parent, const VString& relativeName, FilePathStyle style)
    : fPath(parent.fPath, WithFolderSeparator(relativeName, style), style), fFileSystem(parent.fFileSystem)
{
    if (fFileSystem != nullptr && !LiesInFileSystem(fPath, fFileSystem))
        fFileSystem = nullptr;
    RetainFileSystem(fFileSystem);
    fImpl.Init(this);
}

VFolder::VFolder(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem)
    : fImpl(posixPath), fPath(path), fFileSystem(fileSystem)
{
    RetainFileSystem(fFileSystem);
    fImpl.Init(this);
}

VFolder::~VFolder()
{
    if (fFileSystem)
        fFileSystem->Release();
}

VError VFolder::_WrapNative(VError result, VError defaultError, const VString* newName) const
{
    if (result == 0 || !VErrorBase::IsNativeError(result))
        return result;
    VError code = VErrorBase::EncodedNativeErrorToVError(result, defaultError);
    VFileError* error = new VFileError(fPath, code);
    if (newName != nullptr)
        error->SetString(VString("newname"), *newName);
    _PushRetainedError(error, result);
    return code;
}

bool VFolder::Exists() const
{
    return fPath.IsFolder() && fImpl.Exists(true);
}

VError VFolder::Create() const
{
    if (fImpl.Exists(true))
        return 0;
    return _WrapNative(fImpl.Create(), VE_CANNOT_CREATE_FOLDER);
}

VError VFolder::CreateRecursive(bool makeWritableByAll) const
{
    if (Exists())
        return 0;
    VError err = 0;
    if (VRefPtr<VFolder> parent = VRefPtr<VFolder>::Adopt(RetainParentFolder(false))) {
        err = parent->CreateRecursive(makeWritableByAll);
        if (err != 0)
            return err;
    }
    err = Create();
    if (err == 0 && makeWritableByAll)
        err = MakeWritableByAll();
    return err;
}

VError VFolder::MakeWritableByAll() const
{
    return _WrapNative(fImpl.MakeWritableByAll(), VE_CANNOT_SET_FOLDER_INFO);
}

VError VFolder::DeleteForced() const
{
    VError err = fImpl.DeleteForced();
    if (err == VE_UNIMPLEMENTED) {
        err = DeleteContents(true);
        if (err == 0)
            err = fImpl.Delete();
    }
    return _WrapNative(err, VE_CANNOT_DELETE_FOLDER);
}

VError VFolder::MoveToTrash() const
{
    // A folder reached through a symbolic link is trashed as the link.
    if (!Exists())
        return 0;
    return _WrapNative(fImpl.MoveToTrash(), VE_CANNOT_MOVE_FOLDER_TO_TRASH);
}

VError VFolder::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
    return _WrapNative(fImpl.SetTimeAttributes(modified, created, accessed), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

VError VFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
    return _WrapNative(fImpl.GetTimeAttributes(modified, created, accessed), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::GetVolumeCapacity(int64_t* bytes) const
{
    return _WrapNative(fImpl.GetVolumeCapacity(bytes), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::GetVolumeFreeSpace(int64_t* bytes, bool withQuotas) const
{
    return _WrapNative(fImpl.GetVolumeFreeSpace(bytes, withQuotas), VE_CANNOT_GET_FOLDER_INFO);
}

bool VFolder::RevealInFinder(bool inside) const
{
    if (inside) {
        VFileIterator files(this, FI_WANT_FILES | FI_RESOLVE_ALIASES);
        if (files.Current() != nullptr && files.Current()->RevealInFinder() == 0)
            return true;
        VFolderIterator folders(this, FI_WANT_FOLDERS);
        if (folders.Current() != nullptr && folders.Current()->RevealInFinder(false))
            return true;
    }
    return _WrapNative(fImpl.RevealInFinder(), VE_CANNOT_REVEAL_FOLDER) == 0;
}

VError VFolder::Rename(const VString& newName, VFolder** outRenamed) const
{
    return _WrapNative(fImpl.Rename(newName, outRenamed), VE_CANNOT_RENAME_FOLDER, &newName);
}

VError VFolder::Move(const VFolder& destination, VFolder** outFolder) const
{
    return _WrapNative(fImpl.Move(destination, nullptr, outFolder), VE_CANNOT_RENAME_FOLDER);
}

VError VFolder::Move(const VFolder& destination, const VString& newName, VFolder** outFolder) const
{
    return _WrapNative(fImpl.Move(destination, &newName, outFolder), VE_CANNOT_RENAME_FOLDER);
}

VFolder* VFolder::RetainParentFolder(bool sandboxed) const
{
    VFilePath parent;
    if (!fPath.GetParent(parent))
        return nullptr;
    if (fFileSystem != nullptr) {
        if (fFileSystem->IsAuthorized(parent))
            return new VFolder(parent, fFileSystem);
        return sandboxed ? nullptr : new VFolder(parent);
    }
    return new VFolder(parent);
}

VFolder* VFolder::RetainRelativeFolder(const VString& text, FilePathStyle style, VFileSystem* fileSystem) const
{
    if (fileSystem == nullptr)
        fileSystem = fFileSystem;
    VFilePath path(fPath, WithFolderSeparator(text, style), style);
    if (!path.IsFolder())
        return nullptr;
    if (fileSystem != nullptr && !fileSystem->IsAuthorized(path))
        return nullptr;
    return new VFolder(path, fileSystem);
}

VFile* VFolder::RetainRelativeFile(const VString& text, FilePathStyle style) const
{
    VFilePath path(fPath, text, style);
    if (!path.IsFile())
        return nullptr;
    if (fFileSystem != nullptr && !fFileSystem->IsAuthorized(path))
        return nullptr;
    return new VFile(path, fFileSystem);
}

IFile* VFolder::_RetainRelativeIFile(const VString& text, FilePathStyle style) const
{
    return RetainRelativeFile(text, style);
}

void VFolder::GetPlatformPath(VString& out, FilePathStyle style) const
{
    if (style == FPS_POSIX) {
        fImpl.GetPosixPath(out);
        if (out.IsEmpty())
            fPath.GetPosixPath(out);
    } else if (style == FPS_SYSTEM) {
        fPath.GetPath(out);
    } else {
        out.Clear();
    }
}

VString VFolder::GetPathWithFileSystem() const
{
    VString out;
    if (fFileSystem != nullptr) {
        VFilePath root;
        fFileSystem->GetRoot(root);
        VString relative;
        if (fPath.IsSameOrChildOf(root) && fPath.GetRelativePosixPath(root, relative)) {
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

VError VFolder::GetFolderAttributes(uint32_t& attributes) const { return fImpl.GetFolderAttributes(attributes); }

VError VFolder::SetFolderAttributes(uint32_t attributes) const { return fImpl.SetFolderAttributes(attributes); }

VError VFolder::IsHidden(bool& hidden) const { return fImpl.IsHidden(hidden); }

bool VFolder::IsWritableByAll() const { return fImpl.IsWritableByAll(); }

bool VFolder::MAC_IsPackage() const { return fImpl.IsPackage(); }

VError VFolder::MAC_SetPermissions(uint16_t mode) const
{
    return _WrapNative(fImpl.SetPermissions(mode), VE_CANNOT_SET_FOLDER_INFO);
}

VError VFolder::MAC_GetPermissions(uint16_t* mode) const
{
    return _WrapNative(fImpl.GetPermissions(mode), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::Mac_GetOwner(uint32_t& uid, uint32_t& gid) const
{
    return _WrapNative(fImpl.GetOwner(uid, gid), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::GetURL(VString& out, bool encoded) const
{
    VURL url(fPath);
    url.GetAbsoluteURL(out, encoded);
    return 0;
}

VError VFolder::GetRelativeURL(VFolder* base, VString& out, bool encoded) const
{
    GetURL(out, encoded);
    if (base != nullptr) {
        VString baseURL;
        base->GetURL(baseURL, encoded);
        if (!baseURL.IsEmpty() && out.BeginsWithRawString(baseURL))
            out.Remove(1, baseURL.GetLength());
    }
    return 0;
}

VError VFolder::ResolveAliasFolder(VFolder** ioFolder, bool deleteBrokenAlias)
{
    if (ioFolder == nullptr || *ioFolder == nullptr || !(*ioFolder)->fPath.IsFolder() || (*ioFolder)->fImpl.Exists(false))
        return 0;
    // The folder path less its final ':' names the alias file.
    VString text = (*ioFolder)->fPath.GetPath();
    text.Truncate(text.GetLength() - 1);
    VFile alias(VFilePath(text, FPS_SYSTEM));
    if (!alias.Exists() || !alias.IsAliasFile())
        return 0;
    VFilePath target;
    VError err;
    {
        StErrorContextInstaller quiet(false, true);
        err = alias.ResolveAlias(target);
    }
    if (err == 0) {
        if (target.IsFolder()) {
            (*ioFolder)->Release();
            *ioFolder = new VFolder(target);
            return 0;
        }
        if (deleteBrokenAlias)
            return alias.Delete();
        VError code = VE_FOLDER_ALIAS_TARGET_NOT_A_FOLDER;
        _PushRetainedError(new VFileError((*ioFolder)->fPath, code), 0);
        return code;
    }
    if (deleteBrokenAlias)
        return alias.Delete();
    if (VErrorBase::IsNativeError(err)) {
        VError code = VErrorBase::EncodedNativeErrorToVError(err, VE_FILE_CANNOT_RESOLVE_ALIAS);
        _PushRetainedError(new VFileError(alias.GetPathRef(), code), err);
        return code;
    }
    return err;
}

VFolder* VFolder::CreateAndResolveAlias(const VFolder& parent, const VString& name)
{
    VFolder* folder = parent.RetainRelativeFolder(name, FPS_SYSTEM);
    if (folder != nullptr && ResolveAliasFolder(&folder, true) != 0)
        ReleaseRefCountable(&folder);
    return folder;
}

VFolder* VFolder::RetainSystemFolder(ESystemFolderKind kind, bool create)
{
    VFolder* folder = nullptr;
    XMacFolder::RetainSystemFolder(kind, create, &folder);
    return folder;
}

}  // namespace bkit
