// VFolderContents.cpp - what VFolder does with a folder's contents: listings,
// recursive walks, deletion of contents, copies.
#include <sys/stat.h>

#include <set>
#include <string>
#include <utility>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFileIterator.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VFolderIterator.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

// Folders a walk that follows symbolic links has entered, by device and inode,
// so that a link to an ancestor does not make it loop.
struct VisitedFolders {
    std::set<std::pair<dev_t, ino_t>> entered;

    // False when the folder was entered before (or cannot be examined).
    bool Enter(const VFolder& folder, unsigned int options)
    {
        if ((options & FI_RESOLVE_ALIASES) == 0)
            return true;  // without links followed, the tree has no cycle
        struct stat st;
        if (stat(folder.MAC_GetImpl().GetPosixPathCString(), &st) != 0)
            return false;
        return entered.emplace(st.st_dev, st.st_ino).second;
    }
};

bool VFolder::IsEmpty() const
{
    if (!Exists())
        return true;
    if (VFolderIterator(this, FI_WANT_FOLDERS | FI_WANT_INVISIBLES).IsValid())
        return false;
    return !VFileIterator(this, FI_WANT_FILES | FI_WANT_INVISIBLES).IsValid();
}

VError VFolder::Delete(bool deleteContents) const
{
    // A folder reached through a symbolic link: the link goes, its target's
    // content stays.
    if (fImpl.IsSymbolicLink())
        return _WrapNative(fImpl.Delete(), VE_CANNOT_DELETE_FOLDER);
    // With its contents, also a folder that looks empty: it may still hold
    // pipes, sockets or devices, which no listing shows.
    if (deleteContents) {
        VError err = DeleteContents(true);
        if (err == 0)
            err = fImpl.Delete();
        return _WrapNative(err, VE_CANNOT_DELETE_FOLDER);
    }
    if (IsEmpty())
        return _WrapNative(fImpl.Delete(), VE_CANNOT_DELETE_FOLDER);
    _PushRetainedError(new VFileError(fPath, VE_FOLDER_NOT_EMPTY), VE_FOLDER_NOT_EMPTY);
    return VE_FOLDER_NOT_EMPTY;
}

VError VFolder::DeleteContents(bool deleteSubFolders) const
{
    VError err = 0;
    if (deleteSubFolders) {
        for (VFolderIterator sub(this, FI_WANT_FOLDERS | FI_WANT_INVISIBLES); sub.IsValid() && err == 0; ++sub) {
            err = sub->DeleteContents(true);
            VTaskMgr::Get()->Yield();
            if (err == 0)
                err = sub->Delete(false);
        }
    }
    for (VFileIterator file(this, FI_WANT_FILES | FI_WANT_INVISIBLES); file.IsValid() && err == 0; ++file)
        err = file->Delete();
    // The items no listing shows go too, or the folder could never be removed.
    if (err == 0 && Exists()) {
        if (int native = RemoveNodesInFolder(fImpl.GetPosixPathCString()))
            err = PosixErrorFromErrno(native);
    }
    return err;
}

void VFolder::GetContents(std::vector<VRefPtr<VFile>>* files, std::vector<VRefPtr<VFolder>>* folders) const
{
    if (!Exists())
        return;
    if (files != nullptr)
        for (VFileIterator it(this, FI_WANT_FILES); it.IsValid(); ++it)
            files->emplace_back(it.Current());
    if (folders != nullptr)
        for (VFolderIterator it(this, FI_WANT_FOLDERS); it.IsValid(); ++it)
            folders->emplace_back(it.Current());
}

void VFolder::GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders,
                          bool withInvisible) const
{
    if (!Exists())
        return;
    uint32_t invisibles = withInvisible ? static_cast<uint32_t>(FI_WANT_INVISIBLES) : 0u;
    if (files != nullptr)
        for (VFileIterator it(this, FI_WANT_FILES | invisibles); it.IsValid(); ++it)
            files->emplace_back(static_cast<IFile*>(it.Current()));
    if (folders != nullptr)
        for (VFolderIterator it(this, FI_WANT_FOLDERS | invisibles); it.IsValid(); ++it)
            folders->emplace_back(static_cast<IFolder*>(it.Current()));
}

void VFolder::IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
                           unsigned int options) const
{
    VisitedFolders visited;
    _IterateFiles(callback, options, visited);
}

void VFolder::_IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
                            unsigned int options, VisitedFolders& visited) const
{
    if (!Exists() || !visited.Enter(*this, options))
        return;
    for (VFileIterator it(this, (options & ~FI_WANT_FOLDERS) | FI_WANT_FILES); it.IsValid(); ++it)
        if (!callback(it.Current(), &it))
            break;
    if ((options & FI_RECURSIVE) != 0) {
        // Bit 2 is not added: only callers that ask for folders descend.
        for (VFolderIterator sub(this, options & ~FI_WANT_FILES); sub.IsValid(); ++sub)
            sub->_IterateFiles(callback, options | FI_WANT_FILES, visited);
    }
}

void VFolder::IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
                             unsigned int options) const
{
    VisitedFolders visited;
    if (visited.Enter(*this, options))
        _IterateFolders(callback, options, visited);
}

void VFolder::_IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
                              unsigned int options, VisitedFolders& visited) const
{
    if (!Exists())
        return;
    for (VFolderIterator it(this, (options & ~FI_WANT_FILES) | FI_WANT_FOLDERS); it.IsValid(); ++it) {
        if (!callback(it.Current(), &it))
            break;
        if ((options & FI_RECURSIVE) != 0 && visited.Enter(*it.Current(), options))
            it->_IterateFolders(callback, options | FI_WANT_FOLDERS, visited);
    }
}

bool VFolder::_RefuseCopyInto(const VFolder& destination, const VFolder* target) const
{
    bool refused = destination.fPath.GetPath().EqualToString(fPath.GetPath(), false) ||
                   destination.fPath.IsSameOrChildOf(fPath);
    // The same folders reached through other names (links on the way) count
    // too: compared by device and inode, ancestors found through "..".
    dev_t device;
    ino_t inode;
    if (!refused && GetFolderIdentity(fImpl.GetPosixPathCString(), device, inode) == 0)
        refused = FolderLiesWithin(destination.fImpl.GetPosixPathCString(), device, inode);
    if (!refused && target != nullptr &&
        GetFolderIdentity(target->fImpl.GetPosixPathCString(), device, inode) == 0)
        refused = FolderLiesWithin(fImpl.GetPosixPathCString(), device, inode);
    if (!refused)
        return false;
    VFileError* error = new VFileError(fPath, VE_CANNOT_COPY_FOLDER_INTO_ITSELF);
    error->SetString(VString("destination"), destination.fPath.GetPath());
    _PushRetainedError(error, 0);
    return true;
}

VError VFolder::_CopyTree(const VFolder& destination, const VFolder& target, bool contentsOnly,
                          uint32_t options) const
{
    FolderCopyFailure failure;
    VError native = fImpl.CopyTree(target.fImpl, contentsOnly, options, failure);
    if (native == 0)
        return 0;
    // The error names the item that failed: a file copy's 605 or a folder
    // creation's 652, with the folder it was copied into.
    VString relative;
    relative.FromBlock(failure.item.data(), failure.item.size(), VTC_UTF_8);
    const VFolder& into = contentsOnly ? destination : target;
    VFilePath item(fPath);
    VFilePath itemDestination(into.fPath);
    if (!relative.IsEmpty()) {
        VString folderPart = relative;
        VIndex slash = relative.FindUniChar(u'/', relative.GetLength(), true);
        folderPart.Truncate(slash > 0 ? slash : 0);
        VString itemText = relative;
        if (failure.isFolder)
            itemText.AppendUniChar(u'/');
        item = VFilePath(fPath, itemText, FPS_POSIX);
        if (!folderPart.IsEmpty()) {
            folderPart.AppendUniChar(u'/');
            itemDestination = VFilePath(into.fPath, folderPart, FPS_POSIX);
        }
    }
    VError code = VErrorBase::EncodedNativeErrorToVError(
        native, failure.isFolder ? VE_CANNOT_CREATE_FOLDER : VE_FILE_CANNOT_COPY);
    VFileError* error = new VFileError(item, code);
    error->SetString(VString("destination"), itemDestination.GetPath());
    error->SetLong(VString("options"), static_cast<int32_t>(options));
    _PushRetainedError(error, native);
    return code;
}

VError VFolder::CopyTo(const VFolder& destination, VFolder** outFolder, uint32_t options) const
{
    VString name;
    GetName(name);
    return CopyTo(destination, name, outFolder, options);
}

VError VFolder::CopyTo(const VFolder& destination, const VString& name, VFolder** outFolder, uint32_t options) const
{
    if (outFolder)
        *outFolder = nullptr;
    VRefPtr<VFolder> target = VRefPtr<VFolder>::Adopt(new VFolder(destination, name, FPS_SYSTEM));
    {
        // Under its own name the folder keeps its on-disk name byte for byte,
        // also one that is not valid UTF-8 and would not survive the text.
        VString ownName;
        GetName(ownName);
        std::string source = fImpl.GetPosixPathCString();
        while (source.size() > 1 && source.back() == '/')
            source.pop_back();
        std::string onDisk = source.substr(source.find_last_of('/') + 1);
        std::string made = target->fImpl.GetPosixPathCString();
        if (ownName == name && made.size() > onDisk.size() && made.compare(made.size() - onDisk.size() - 1, onDisk.size(), onDisk) != 0) {
            std::string posix = std::string(destination.fImpl.GetPosixPathCString()) + onDisk + "/";
            target = VRefPtr<VFolder>::Adopt(new VFolder(posix.c_str(), target->fPath, target->fFileSystem));
        }
    }
    // Refused before anything is touched: the target must neither be the
    // source nor hold it, the destination must not lie inside it.
    if (_RefuseCopyInto(destination, target.Get()))
        return VE_CANNOT_COPY_FOLDER_INTO_ITSELF;
    VError err = VE_FOLDER_NOT_FOUND;
    if (Exists())
        err = _CopyTree(destination, *target, false, options);
    else
        _PushRetainedError(new VFileError(fPath, VE_FOLDER_NOT_FOUND), 0);
    // Handed out whatever the outcome, as the item copy did.
    if (outFolder)
        *outFolder = target.Forget();
    return err;
}

VError VFolder::CopyContentsTo(const VFolder& destination, uint32_t options) const
{
    if (!Exists()) {
        _PushRetainedError(new VFileError(fPath, VE_FOLDER_NOT_FOUND), 0);
        return VE_FOLDER_NOT_FOUND;
    }
    // Refused before anything is created.
    if (_RefuseCopyInto(destination, nullptr))
        return VE_CANNOT_COPY_FOLDER_INTO_ITSELF;
    if (!destination.Exists()) {
        if (VError err = destination.Create())
            return err;
    }
    return _CopyTree(destination, destination, true, options);
}

}  // namespace bkit
