// VFolderContents.cpp - what VFolder does with a folder's contents: listings,
// recursive walks, deletion of contents, copies.
#include <sys/stat.h>

#include <set>
#include <utility>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFileIterator.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VFolderIterator.h"
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
    if (IsEmpty())
        return _WrapNative(fImpl.Delete(), VE_CANNOT_DELETE_FOLDER);
    if (deleteContents) {
        VError err = DeleteContents(true);
        if (err == 0)
            err = fImpl.Delete();
        return _WrapNative(err, VE_CANNOT_DELETE_FOLDER);
    }
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

bool VFolder::_RefuseCopyInto(const VFolder& destination) const
{
    bool inside = destination.fPath.GetPath().EqualToString(fPath.GetPath(), false) ||
                  destination.fPath.IsSameOrChildOf(fPath);
    if (!inside) {
        // The same folder reached through another name (a symbolic link on
        // the way) counts too.
        struct stat source;
        if (stat(fImpl.GetPosixPathCString(), &source) == 0) {
            VRefPtr<VFolder> probe(const_cast<VFolder*>(&destination));
            while (probe && !inside) {
                struct stat st;
                if (stat(probe->fImpl.GetPosixPathCString(), &st) == 0 && st.st_dev == source.st_dev &&
                    st.st_ino == source.st_ino)
                    inside = true;
                else
                    probe = VRefPtr<VFolder>::Adopt(probe->RetainParentFolder(false));
            }
        }
    }
    if (!inside)
        return false;
    VFileError* error = new VFileError(fPath, VE_CANNOT_COPY_FOLDER_INTO_ITSELF);
    error->SetString(VString("destination"), destination.fPath.GetPath());
    _PushRetainedError(error, 0);
    return true;
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
    if (_RefuseCopyInto(destination))
        return VE_CANNOT_COPY_FOLDER_INTO_ITSELF;

    VRefPtr<VFolder> target = VRefPtr<VFolder>::Adopt(new VFolder(destination, name, FPS_SYSTEM));
    VError err = 0;
    bool copied = false;
    if ((options & FCP_Overwrite) != 0 && target->Exists())
        err = target->Delete(true);
    // A whole-tree copy keeps what an item-by-item one cannot (folder modes,
    // attributes and times); it rolls back by itself when it fails.
    if (err == 0 && (options & FCP_SkipInvisibles) == 0 && !target->Exists() && !target->fImpl.IsSymbolicLink() &&
        destination.Exists()) {
        VError treeErr = fImpl.CopyToNonExistingFolder(destination, name);
        if (treeErr == 0)
            copied = true;
        else if (target->Exists())
            err = target->Delete(true);
    }
    if (err == 0 && !copied)
        err = CopyContentsTo(*target, options);
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
    if (_RefuseCopyInto(destination))
        return VE_CANNOT_COPY_FOLDER_INTO_ITSELF;
    if (!destination.Exists()) {
        if (VError err = destination.Create())
            return err;
    }
    const uint32_t invisibles = (options & FCP_SkipInvisibles) ? 0u : static_cast<uint32_t>(FI_WANT_INVISIBLES);
    const bool goOn = (options & FCP_ContinueOnError) != 0;
    VError first = 0;
    for (VFolderIterator sub(this, FI_WANT_FOLDERS | invisibles); sub.IsValid() && (first == 0 || goOn); ++sub) {
        VString name;
        sub->GetName(name);
        VError err = sub->CopyTo(destination, name, nullptr, options);
        if (first == 0)
            first = err;
    }
    for (VFileIterator file(this, FI_WANT_FILES | invisibles); file.IsValid() && (first == 0 || goOn); ++file) {
        VError err = file->CopyTo(destination, nullptr, options);
        if (first == 0)
            first = err;
    }
    return first;
}

}  // namespace bkit
