// VJSONPointerResolverDocuments.cpp - finding and loading the documents that
// "$ref" texts name, never outside the folder a run is confined to.
//
// The containment check works on POSIX texts of its own: the path class is
// not asked to climb, so what "." and ".." mean here is settled here, and the
// file object is made only from a text already free of them.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONPointerResolver.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

namespace {

using Names = std::vector<std::string>;

// The names of a POSIX text, "" and "." dropped, ".." taking the previous
// name away; false when ".." would climb above the first name.
bool AppendNames(const std::string& text, Names& names, size_t floor = 0)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            if (names.size() <= floor)
                return false;
            names.pop_back();
        } else {
            names.push_back(name);
        }
    }
    return true;
}

std::string JoinNames(const Names& names, size_t from = 0)
{
    std::string text;
    for (size_t i = from; i < names.size(); ++i) {
        if (i > from || from == 0)
            text += '/';
        text += names[i];
    }
    return text.empty() && from == 0 ? "/" : text;
}

// The names of where a full path leads on disk, every link followed (the
// file layer's resolution); false when that cannot be told (a loop of links).
bool RealNames(const Names& names, Names& real)
{
    std::string resolved;
    if (!XMacFile::ResolvePathThroughLinks(JoinNames(names).c_str(), resolved))
        return false;
    real.clear();
    return AppendNames(resolved, real);
}

bool StartsWith(const Names& names, const Names& prefix)
{
    return names.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), names.begin());
}

Names FolderNames(const IFolder* folder)
{
    VString text;
    folder->GetPath().GetPosixPath(text);
    Names names;
    AppendNames(to_string(text), names);
    return names;
}

// The file that relative names from container, provided it lies inside
// boundary (container itself lies at or below it), also once links are
// resolved; else null. The file is made from boundary and a text without
// "." or ".." steps, and refused unless it names the very path checked.
IFile* RetainContainedFile(const IFolder* container, const IFolder* boundary, const VString& relative)
{
    const std::string text = to_string(relative);
    if (text.empty() || text.back() == '/' || text.find('\0') != std::string::npos)
        return nullptr;
    const Names top = FolderNames(boundary);
    Names names = FolderNames(container);
    if (!StartsWith(names, top) || !AppendNames(text, names, top.size()) ||
        names.size() == top.size())
        return nullptr;
    Names realTop, realNames;
    if (!RealNames(top, realTop) || !RealNames(names, realNames) || !StartsWith(realNames, realTop))
        return nullptr;
    VString inside;
    inside.FromCString(JoinNames(names, top.size()).c_str());
    IFile* file = boundary->_RetainRelativeIFile(inside, FPS_POSIX);
    if (file != nullptr) {
        VString made;
        file->GetPath().GetPosixPath(made);
        if (to_string(made) != JoinNames(names))
            ReleaseRefCountable(&file);
    }
    return file;
}

}  // namespace

IFile* VJSONPointerResolver::_RetainDocumentFile(const VString& path, VRefPtr<IFolder>& boundary) const
{
    if (path[0] == u'/') {
        VRefPtr<VFileSystem> fileSystem;
        VString relative;
        if (!fNamespace ||
            !fNamespace->ParsePathWithFileSystem(path, fileSystem, relative, eFSN_SkipHidden | eFSN_SearchParents))
            return nullptr;
        boundary = VRefPtr<IFolder>::Adopt(fileSystem->RetainRootFolder());
        return boundary ? RetainContainedFile(boundary.Get(), boundary.Get(), relative) : nullptr;
    }
    if (!fBaseFolder || !fBoundary)
        return nullptr;
    boundary = fBoundary;
    return RetainContainedFile(fBaseFolder.Get(), fBoundary.Get(), path);
}

bool VJSONPointerResolver::LoadDocument(Context& context, const VString& uri, const VString& path,
                                        VJSONValue& document, VRefPtr<VJSONPointerResolver>* scope)
{
    if (path.IsEmpty()) {
        document = fRoot;
        if (scope)
            *scope = VRefPtr<VJSONPointerResolver>(this);
        return true;
    }
    VJSONPointerResolver* reporter = _Reporter(context);
    VRefPtr<IFolder> boundary;
    VRefPtr<IFile> file = VRefPtr<IFile>::Adopt(_RetainDocumentFile(path, boundary));
    if (!file) {
        reporter->_ThrowError(VE_JSON_POINTER_DOCUMENT_NOT_FOUND, uri, "pointerURI", path, "referredPath");
        return false;
    }
    VString key;
    file->GetPath().GetPosixPath(key);
    auto known = context.documents.find(key);
    if (known == context.documents.end()) {
        VJSONValue loaded = fCache->GetValue(key);
        if (loaded.IsUndefined()) {
            if (!file->Exists()) {
                reporter->_ThrowError(VE_JSON_POINTER_DOCUMENT_NOT_FOUND, uri, "pointerURI", key, "referredPath");
                return false;
            }
            StErrorContextInstaller silent(false, true);
            if (VJSONImporter::ParseFile(file.Get(), loaded, 131) != 0 || loaded.IsUndefined()) {
                reporter->_ThrowError(VE_JSON_POINTER_DOCUMENT_UNREADABLE, uri, "pointerURI", key, "referredPath");
                return false;
            }
            fCache->SetValue(key, loaded);
        }
        VRefPtr<IFolder> folder = VRefPtr<IFolder>::Adopt(file->RetainParentFolder(true));
        VRefPtr<VJSONPointerResolver> sub =
            VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(loaded, folder.Get(), fNamespace.Get(), fCache.Get()));
        sub->fBoundary = boundary;
        known = context.documents.emplace(key, Document{file, sub}).first;
    }
    document = known->second.scope->fRoot;
    if (scope)
        *scope = known->second.scope;
    return true;
}

}  // namespace bkit
