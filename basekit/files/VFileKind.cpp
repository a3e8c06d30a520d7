// VFileKind.cpp - file kinds and the process's registry of them.
#include "basekit/files/VFileKind.h"

#include "basekit/files/mac/XMacFile.h"

namespace bkit {

VFileKindManager* VFileKindManager::sManager = nullptr;

VFileKind::VFileKind(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                     const std::vector<VString>& extensions, const std::vector<VString>& parentIds, bool isPublic)
    : fDescription(description), fID(id), fOsKinds(osKinds), fExtensions(extensions), fParentIDs(parentIds),
      fIsPublic(isPublic)
{
}

VFileKind::~VFileKind() = default;

VFileKind* VFileKind::Create(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                             const std::vector<VString>& extensions, const std::vector<VString>& parentIds,
                             bool isPublic)
{
    return new VFileKind(id, osKinds, description, extensions, parentIds, isPublic);
}

bool VFileKind::MatchExtension(const VString& ext) const
{
    for (const VString& e : fExtensions)
        if (e.EqualToString(ext, false))
            return true;
    return false;
}

bool VFileKind::MatchOsKind(const VString& osKind) const
{
    for (const VString& k : fOsKinds)
        if (k.EqualToString(osKind, true))
            return true;
    return false;
}

bool VFileKind::GetPreferredExtension(VString& out) const
{
    if (fExtensions.empty()) {
        out.Clear();
        return false;
    }
    out = fExtensions.front();
    return true;
}

bool VFileKind::GetPreferredOsKind(VString& out) const
{
    if (fOsKinds.empty()) {
        out.Clear();
        return false;
    }
    out = fOsKinds.front();
    return true;
}

bool VFileKind::GetParentIDs(std::vector<VString>& out) const
{
    out = fParentIDs;
    return !out.empty();
}

namespace {

// Kinds registered from type declarations conform through the parents they
// declare; a kind met twice (declarations conforming to each other) ends the walk.
bool ConformsThroughDeclaredParents(const VFileKind& kind, const VFileKind& other, std::vector<VString>& visited)
{
    for (const VString& seen : visited)
        if (seen.EqualToString(kind.GetID(), false))
            return false;
    visited.push_back(kind.GetID());
    std::vector<VString> parents;
    kind.GetParentIDs(parents);
    for (const VString& parentID : parents) {
        if (parentID.EqualToString(other.GetID(), false))
            return true;
        VFileKind* parent = VFileKindManager::sManager ? VFileKindManager::sManager->RetainFileKind(parentID) : nullptr;
        if (!parent)
            continue;
        bool conforms = XMacFile::IsFileKindConformsTo(*parent, other) ||
                        ConformsThroughDeclaredParents(*parent, other, visited);
        parent->Release();
        if (conforms)
            return true;
    }
    return false;
}

}  // namespace

bool VFileKind::ConformsTo(const VFileKind& other) const
{
    if (XMacFile::IsFileKindConformsTo(*this, other))
        return true;
    std::vector<VString> visited;
    return ConformsThroughDeclaredParents(*this, other, visited);
}

bool VFileKind::ConformsTo(const VString& id) const
{
    if (VFileKindManager::sManager == nullptr)
        return false;
    VFileKind* kind = VFileKindManager::sManager->RetainFileKind(id);
    if (kind == nullptr)
        return false;
    bool result = ConformsTo(*kind);
    kind->Release();
    return result;
}

VFileKindManager::VFileKindManager() : fAllText("All"), fAllReadableText("All readable documents") {}

VFileKindManager::~VFileKindManager()
{
    for (auto& entry : fKinds)
        entry.second->Release();
}

bool VFileKindManager::Init()
{
    if (sManager == nullptr)
        sManager = new VFileKindManager;
    return true;
}

void VFileKindManager::DeInit()
{
    VFileKindManager* manager = sManager;
    sManager = nullptr;
    if (manager)
        manager->Release();
}

void VFileKindManager::_Put(const VString& id, VFileKind* kind)
{
    auto found = fKinds.find(id);
    if (found != fKinds.end()) {
        VFileKind* old = found->second;
        found->second = kind;
        old->Release();
    } else {
        fKinds.emplace(id, kind);
    }
}

VFileKind* VFileKindManager::RetainFileKind(const VString& id)
{
    auto found = fKinds.find(id);
    if (found != fKinds.end()) {
        found->second->Retain();
        return found->second;
    }
    VFileKind* kind = XMacFile::CreatePublicFileKind(id);
    if (kind == nullptr)
        return nullptr;
    kind->Retain();
    _Put(id, kind);
    return kind;
}

void VFileKindManager::RegisterPrivateFileKind(const VString& id, const std::vector<VString>& osKinds,
                                               const VString& description, const std::vector<VString>& extensions,
                                               const std::vector<VString>& parentIds)
{
    _Put(id, VFileKind::Create(id, osKinds, description, extensions, parentIds, false));
}

void VFileKindManager::RegisterPrivateFileKind(const VString& id, const VString& description,
                                               const std::vector<VString>& extensions,
                                               const std::vector<VString>& parentIds)
{
    RegisterPrivateFileKind(id, std::vector<VString>(), description, extensions, parentIds);
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithExtension(const VString& ext)
{
    for (auto& entry : fKinds) {
        if (entry.second->MatchExtension(ext)) {
            entry.second->Retain();
            return entry.second;
        }
    }
    VFileKind* kind = XMacFile::CreatePublicFileKindFromExtension(ext);
    if (kind != nullptr) {
        kind->Retain();
        _Put(kind->GetID(), kind);
    }
    return kind;
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithOsKind(const VString& osKind)
{
    for (auto& entry : fKinds) {
        if (entry.second->MatchOsKind(osKind)) {
            entry.second->Retain();
            return entry.second;
        }
    }
    return XMacFile::CreatePublicFileKindFromOsKind(osKind);
}

void VFileKindManager::RegisterLocalizedString(long index, const VString& text)
{
    if (text.IsEmpty())
        return;
    if (index == 0)
        fAllText = text;
    else if (index == 1)
        fAllReadableText = text;
}

void VFileKindManager::GetLocalizedString(long index, VString& out) const
{
    if (index == 0)
        out = fAllText;
    else if (index == 1)
        out = fAllReadableText;
}

}  // namespace bkit
