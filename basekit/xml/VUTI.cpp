// VUTI.cpp - tags, relations and conformance queries of one type identifier.
#include "basekit/xml/VUTI.h"

#include <algorithm>

#include "basekit/files/VFileKindTable.h"

namespace bkit {

namespace {

bool SameText(const VString& a, const VString& b) { return a.EqualToString(b, false); }

void ReplaceMap(VUTIMap& target, const VUTIMap& source)
{
    for (auto& entry : source)
        entry.second->Retain();
    VUTIMap old;
    old.swap(target);
    target = source;
    for (auto& entry : old)
        entry.second->Release();
}

void AddToMap(VUTIMap& map, VUTI* type)
{
    if (!type || type->GetIdentifier().IsEmpty())
        return;
    if (map.emplace(type->GetIdentifier(), type).second)
        type->Retain();
}

}  // namespace

bool VUTILess::operator()(const VString& a, const VString& b) const
{
    return a.CompareToString(b, false) == CR_SMALLER;
}

VUTI::VUTI(const VString& identifier, bool temporary) : fTemporary(temporary), fIdentifier(identifier) {}

VUTI::~VUTI() { _Detach(); }

void VUTI::_Detach()
{
    VUTIMap parents;
    VUTIMap children;
    parents.swap(fParents);
    children.swap(fChildren);
    for (auto& entry : parents)
        entry.second->Release();
    for (auto& entry : children)
        entry.second->Release();
}

void VUTI::SetParentUTIsMap(const VUTIMap& parents) { ReplaceMap(fParents, parents); }
void VUTI::SetChildrenUTIsMap(const VUTIMap& children) { ReplaceMap(fChildren, children); }
void VUTI::AddParentUTI(VUTI* parent) { AddToMap(fParents, parent); }
void VUTI::AddChildUTI(VUTI* child) { AddToMap(fChildren, child); }

bool VUTI::ConformsToIdentifier(const VString& id) const
{
    VUTIVisited visited;
    return !id.IsEmpty() && _Conforms(id, visited);
}

bool VUTI::_Conforms(const VString& id, VUTIVisited& visited) const
{
    if (!visited.insert(this).second)
        return false;
    if (SameText(fIdentifier, id))
        return true;
    for (const auto& [parentID, parent] : fParents) {
        if (parent->IsTemporary()) {
            // An undeclared parent may be a public type the platform knows.
            if (TypeIdentifierConformsTo(parentID, id))
                return true;
        } else if (parent->_Conforms(id, visited)) {
            return true;
        }
    }
    return false;
}

VUTI* VUTI::_FindTagHolder(ListOf list, const VString& tag, VUTIVisited& visited) const
{
    if (!visited.insert(this).second)
        return nullptr;
    if ((this->*list).Holds(tag))
        return RetainRefCountable(const_cast<VUTI*>(this));
    for (const auto& entry : fParents) {
        if (entry.second->IsTemporary())
            continue;
        if (VUTI* found = entry.second->_FindTagHolder(list, tag, visited))
            return found;
    }
    return nullptr;
}

VUTI* VUTI::GetHighestParentThatConformsToExtension(const VString& extension) const
{
    VUTIVisited visited;
    return _FindTagHolder(&VUTI::fExtensions, extension, visited);
}

VUTI* VUTI::GetHighestParentThatConformsToOSType(const VString& osType) const
{
    VUTIVisited visited;
    return _FindTagHolder(&VUTI::fOSTypes, osType, visited);
}

VUTI* VUTI::GetHighestParentThatConformsToMIMEType(const VString& mimeType) const
{
    VUTIVisited visited;
    return _FindTagHolder(&VUTI::fMIMETypes, mimeType, visited);
}

namespace {

bool Found(VUTI* type)
{
    if (!type)
        return false;
    type->Release();
    return true;
}

}  // namespace

bool VUTI::ConformsToExtension(const VString& extension) const
{
    return Found(GetHighestParentThatConformsToExtension(extension));
}

bool VUTI::ConformsToOSType(const VString& osType) const { return Found(GetHighestParentThatConformsToOSType(osType)); }

bool VUTI::ConformsToMIMEType(const VString& mimeType) const
{
    return Found(GetHighestParentThatConformsToMIMEType(mimeType));
}

void VUTI::GetAllExtensionsVector(std::vector<VString>& out) const
{
    VUTIVisited visited;
    VUTITextSet seen(out.begin(), out.end());
    _AllExtensions(out, seen, visited);
}

void VUTI::_AllExtensions(std::vector<VString>& out, VUTITextSet& seen, VUTIVisited& visited) const
{
    if (!visited.insert(this).second)
        return;
    for (const VString& extension : fExtensions.list) {
        if (seen.insert(extension).second)
            out.push_back(extension);
    }
    for (const auto& entry : fParents) {
        if (!entry.second->IsTemporary())
            entry.second->_AllExtensions(out, seen, visited);
    }
}

bool VUTI::_HasRelative(const VUTI* other, bool parents, bool withTemporary, VUTIVisited& visited) const
{
    if (!other || !visited.insert(this).second)
        return false;
    const VUTIMap& relatives = parents ? fParents : fChildren;
    for (const auto& [id, relative] : relatives) {
        if (relative->IsTemporary()) {
            // Only a direct temporary relative counts, and only when asked.
            if (withTemporary && SameText(id, other->GetIdentifier()))
                return true;
            continue;
        }
        if (SameText(id, other->GetIdentifier()) || relative->_HasRelative(other, parents, false, visited))
            return true;
    }
    return false;
}

bool VUTI::IsParent(const VUTI* other) const
{
    VUTIVisited visited;
    return _HasRelative(other, true, false, visited);
}

bool VUTI::CouldBeAParent(const VUTI* other) const
{
    VUTIVisited visited;
    return _HasRelative(other, true, true, visited);
}

bool VUTI::IsChild(const VUTI* other) const
{
    VUTIVisited visited;
    return _HasRelative(other, false, false, visited);
}

bool VUTI::CouldBeAChild(const VUTI* other) const
{
    VUTIVisited visited;
    return _HasRelative(other, false, true, visited);
}

bool VUTI::IsChildOrChildOfAParent(const VUTI* other) const
{
    VUTIVisited visited;
    return _IsChildOrChildOfAParent(other, visited);
}

bool VUTI::_IsChildOrChildOfAParent(const VUTI* other, VUTIVisited& visited) const
{
    if (!other || !visited.insert(this).second)
        return false;
    if (IsChild(other))
        return true;
    for (const auto& entry : fParents) {
        if (!entry.second->IsTemporary() && entry.second->_IsChildOrChildOfAParent(other, visited))
            return true;
    }
    return false;
}

void VUTI::RemoveTemporaryUTI(const VString& id)
{
    for (VUTIMap* map : {&fParents, &fChildren}) {
        auto found = map->find(id);
        if (found != map->end() && found->second->IsTemporary()) {
            VUTI* placeholder = found->second;
            map->erase(found);
            placeholder->Release();
        }
    }
}

bool VUTI::IsPublic() const { return fIdentifier.BeginsWith(VString("public"), false); }

}  // namespace bkit
