// VIntlMgrFolders.cpp - the localization folders (".lproj") of a dialect.

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VFilePath.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

bool VIntlMgr::GetLocalizationFoldersWithDialect(uint32_t dialect, const IFolder* parent,
                                                 std::vector<VRefPtr<IFolder>>& folders)
{
    if (parent == nullptr)
        return false;
    std::vector<VString> names;
    GetLocalizationFolderNames(dialect, names);
    bool appended = false;
    for (const VString& name : names) {
        VRefPtr<IFolder> folder = VRefPtr<IFolder>::Adopt(parent->RetainRelativeFolder(name, FPS_SYSTEM, nullptr));
        if (folder && folder->Exists()) {
            folders.push_back(std::move(folder));
            appended = true;
        }
    }
    return appended;
}

IFile* VIntlMgr::RetainLocalizationFile(const IFolder* parent, const VString& name, uint32_t dialect, bool* found)
{
    if (found != nullptr)
        *found = false;
    std::vector<VRefPtr<IFolder>> folders;
    if (!GetLocalizationFoldersWithDialect(dialect, parent, folders))
        return nullptr;
    // From the last folder found back to the first: the language-name folder
    // (French.lproj) answers before the regional one (fr-ca.lproj). Bundles
    // are laid out for this order, so it is kept.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        IFile* file = (*it)->_RetainRelativeIFile(name, FPS_SYSTEM);
        if (file == nullptr)
            continue;
        if (file->Exists()) {
            if (found != nullptr)
                *found = true;
            return file;
        }
        file->Release();
    }
    return nullptr;
}

}  // namespace bkit
