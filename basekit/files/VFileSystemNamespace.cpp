// VFileSystemNamespace.cpp - the table of named file systems and the path texts that name them.

#include "basekit/files/VFileSystemNamespace.h"

#include <vector>

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

namespace {

bool EndsWith(const VString& text, UniChar unit)
{
    return !text.IsEmpty() && text.GetCPointer()[text.GetLength() - 1] == unit;
}

bool BeginsWithSlash(const VString& text) { return !text.IsEmpty() && text.GetCPointer()[0] == u'/'; }

// A new unbound file object for a full POSIX text naming a file, else null.
IFile* NewFileFromFullPosix(const VString& text)
{
    VFilePath path(text, FPS_POSIX);
    return path.IsFile() ? new VFile(path) : nullptr;
}

// A new unbound folder object for a full POSIX text naming a folder, else null.
IFolder* NewFolderFromFullPosix(const VString& text)
{
    VFilePath path(text, FPS_POSIX);
    return path.IsFolder() ? new VFolder(text, FPS_POSIX) : nullptr;
}

// A property of the wrong JSON kind counts as missing.
VString StringProperty(const VJSONObject& object, const char* name)
{
    VString out;
    VJSONValue value = object.GetProperty(VString(name));
    if (value.IsString())
        value.GetString(out);
    return out;
}

}  // namespace

VFileSystemNamespace::VFileSystemNamespace(VFileSystemNamespace* parent) : fParent(parent) {}

VFileSystemNamespace::~VFileSystemNamespace() = default;

// --- the table ---

void VFileSystemNamespace::RegisterFileSystem(VFileSystem* fileSystem)
{
    if (fileSystem == nullptr)
        return;
    VRefPtr<VFileSystem> replaced(fileSystem);
    {
        StLocker<VCriticalSection> lock(&fLock);
        std::swap(fTable[fileSystem->GetName()], replaced);
    }
    // A temporary file system deletes its root when released: not under the lock.
}

VError VFileSystemNamespace::RegisterFileSystem(const VString& name, IFolder* root, uint32_t flags)
{
    VError err = VE_OK;
    VRefPtr<VFileSystem> fileSystem = VRefPtr<VFileSystem>::Adopt(VFileSystem::Create(name, root, flags, 0, 0, err));
    RegisterFileSystem(fileSystem.Get());
    return err;
}

void VFileSystemNamespace::UnregisterFileSystem(const VString& name)
{
    VRefPtr<VFileSystem> removed;
    {
        StLocker<VCriticalSection> lock(&fLock);
        auto found = fTable.find(name);
        if (found == fTable.end())
            return;
        removed = std::move(found->second);
        fTable.erase(found);
    }
    // A temporary file system deletes its root when released: not under the lock.
}

VFileSystem* VFileSystemNamespace::RetainFileSystem(const VString& name, uint32_t options) const
{
    for (const VFileSystemNamespace* ns = this; ns != nullptr; ns = ns->fParent.Get()) {
        VFileSystem* found = nullptr;
        {
            StLocker<VCriticalSection> lock(&ns->fLock);
            auto entry = ns->fTable.find(name);
            if (entry != ns->fTable.end())
                found = RetainRefCountable(entry->second.Get());
        }
        if (found != nullptr) {
            if ((options & eFSN_SkipHidden) != 0 && (found->GetFlags() & eFSHidden) != 0) {
                found->Release();
                return nullptr;
            }
            return found;
        }
        if ((options & eFSN_SearchParents) == 0)
            break;
    }
    return nullptr;
}

IFolder* VFileSystemNamespace::RetainFileSystemRootFolder(const VString& name, uint32_t options) const
{
    VRefPtr<VFileSystem> fileSystem = VRefPtr<VFileSystem>::Adopt(RetainFileSystem(name, options));
    return fileSystem ? fileSystem->RetainRootFolder() : nullptr;
}

VError VFileSystemNamespace::RetainMapOfFileSystems(std::map<VString, VRefPtr<VFileSystem>>& out,
                                                    uint32_t options) const
{
    if ((options & eFSN_SearchParents) != 0 && fParent)
        fParent->RetainMapOfFileSystems(out, options);
    StLocker<VCriticalSection> lock(&fLock);
    for (const auto& [name, fileSystem] : fTable) {
        if ((options & eFSN_SkipHidden) != 0 && (fileSystem->GetFlags() & eFSHidden) != 0)
            continue;
        out[name] = fileSystem;
    }
    return VE_OK;
}

// --- definition files ---

VError VFileSystemNamespace::LoadFromDefinitionFile(VFile* file)
{
    if (file == nullptr)
        return _ThrowError(VE_UNKNOWN_ERROR);
    VJSONValue value;
    VError err = VJSONImporter::ParseFile(file, value, VJSONImporter::kOption_UndefinedOnError |
                                                           VJSONImporter::kOption_Strict);
    if (err != VE_OK) {
        StThrowError<> error(VE_FS_INVALID_DEFINITION_FILE);
        error->SetString("path", file->GetPath().GetPath());
        return err;
    }
    if (value.IsArray())
        LoadFromJSONArray(value.GetArray());
    return VE_OK;
}

VError VFileSystemNamespace::LoadFromJSONArray(const VJSONArray* array)
{
    if (array == nullptr)
        return VE_OK;
    StLocker<VCriticalSection> lock(&fLock);
    for (size_t i = 0; i < array->GetCount(); ++i) {
        VJSONValue element = array->GetAt(i);
        const VJSONObject* object = element.GetObject();
        if (object == nullptr)
            continue;
        VString name = StringProperty(*object, "name");
        VString path = StringProperty(*object, "path");
        VString parentName = StringProperty(*object, "parent");
        VJSONValue writable = object->GetProperty(VString("writable"));
        // Without a path the root would be the parent's root, or the whole
        // disk: an entry must say where its files are.
        if (path.IsEmpty())
            continue;
        if (!EndsWith(path, u'/') && !EndsWith(path, u'\\'))
            path.AppendUniChar(u'/');

        VRefPtr<IFolder> root;
        if (!parentName.IsEmpty()) {
            VRefPtr<IFolder> parentRoot =
                VRefPtr<IFolder>::Adopt(RetainFileSystemRootFolder(parentName, eFSN_SearchParents));
            if (!parentRoot)
                continue;
            root = VRefPtr<IFolder>::Adopt(parentRoot->RetainRelativeFolder(path, FPS_POSIX, nullptr));
        } else {
            root = VRefPtr<IFolder>::Adopt(NewFolderFromFullPosix(path));
        }
        if (!root)
            continue;
        RegisterFileSystem(name, root.Get(), writable.IsTrue() ? eFSWritable : 0);
    }
    return VE_OK;
}

// --- path texts ---

bool VFileSystemNamespace::ParsePathWithFileSystem(const VString& text, VRefPtr<VFileSystem>& fs, VString& relative,
                                                   uint32_t options) const
{
    if (text.IsNull() || !BeginsWithSlash(text))
        return false;
    VIndex second = text.FindUniChar(u'/', 2, false);
    if (second == 0)
        return false;
    VString name(text.GetCPointer() + 1, second - 2);
    VString rest(text.GetCPointer() + second, text.GetLength() - second);

    VRefPtr<VFileSystem> found = VRefPtr<VFileSystem>::Adopt(RetainFileSystem(name, options));
    if (!found)
        return false;
    VFilePath root;
    found->GetRoot(root);
    VFilePath resolved(root, rest, FPS_POSIX, true);
    VString relativeText;
    if (!found->IsAuthorized(resolved) || !resolved.GetRelativePosixPath(root, relativeText))
        return false;
    fs = std::move(found);
    relative = relativeText;
    return true;
}

IFile* VFileSystemNamespace::RetainFile(const VString& text, IFolder* base, uint32_t options,
                                        bool fullPathAllowed) const
{
    if (text.IsEmpty() || text.IsNull())
        return nullptr;
    if (!BeginsWithSlash(text)) {
        if (base != nullptr)
            return base->_RetainRelativeIFile(text, FPS_POSIX);
        return fullPathAllowed ? NewFileFromFullPosix(text) : nullptr;
    }
    VRefPtr<VFileSystem> fs;
    VString relative;
    if (ParsePathWithFileSystem(text, fs, relative, options) && !relative.IsEmpty() && !EndsWith(relative, u'/')) {
        VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(fs->RetainRootFolder());
        return root ? root->_RetainRelativeIFile(relative, FPS_POSIX) : nullptr;
    }
    return base == nullptr && fullPathAllowed ? NewFileFromFullPosix(text) : nullptr;
}

IFolder* VFileSystemNamespace::RetainFolder(const VString& text, IFolder* base, uint32_t options,
                                            bool fullPathAllowed) const
{
    if (text.IsEmpty() || text.IsNull())
        return nullptr;
    if (!BeginsWithSlash(text)) {
        if (base != nullptr)
            return base->RetainRelativeFolder(text, FPS_POSIX, nullptr);
        return fullPathAllowed ? NewFolderFromFullPosix(text) : nullptr;
    }
    VString withSlash(text);
    if (!EndsWith(withSlash, u'/'))
        withSlash.AppendUniChar(u'/');
    VRefPtr<VFileSystem> fs;
    VString relative;
    if (ParsePathWithFileSystem(withSlash, fs, relative, options) && (relative.IsEmpty() || EndsWith(relative, u'/'))) {
        VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(fs->RetainRootFolder());
        return root ? root->RetainRelativeFolder(relative, FPS_POSIX, nullptr) : nullptr;
    }
    return base == nullptr && fullPathAllowed ? NewFolderFromFullPosix(text) : nullptr;
}

IFile* VFileSystemNamespace::RetainFile(VFileSystemNamespace* ns, const VString& text, IFolder* base,
                                        uint32_t options, bool fullPathAllowed)
{
    if (ns != nullptr)
        return ns->RetainFile(text, base, options, fullPathAllowed);
    if (text.IsEmpty() || text.IsNull())
        return nullptr;
    if (base != nullptr)
        return base->_RetainRelativeIFile(text, FPS_POSIX);
    return NewFileFromFullPosix(text);
}

IFolder* VFileSystemNamespace::RetainFolder(VFileSystemNamespace* ns, const VString& text, IFolder* base,
                                            uint32_t options, bool fullPathAllowed)
{
    if (ns != nullptr)
        return ns->RetainFolder(text, base, options, fullPathAllowed);
    if (text.IsEmpty() || text.IsNull())
        return nullptr;
    if (base != nullptr)
        return base->RetainRelativeFolder(text, FPS_POSIX, nullptr);
    return NewFolderFromFullPosix(text);
}

}  // namespace bkit
