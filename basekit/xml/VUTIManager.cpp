// VUTIManager.cpp - the registry of declared types: loading, linking, tag look-ups and file kinds.
#include "basekit/xml/VUTIManager.h"

#include <algorithm>
#include <unordered_map>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/xml/VLocalizationManager.h"
#include "basekit/xml/VUTIManagerXMLHandler.h"
#include "basekit/xml/VXMLParser.h"

namespace bkit {

const char* const kUTTagClassFilenameExtension = "public.filename-extension";
const char* const kUTTagClassMIMEType = "public.mime-type";
const char* const kUTTagClassOSType = "com.apple.ostype";

VUTIManager* VUTIManager::sInstance = nullptr;

VUTIManager* VUTIManager::GetUTIManager()
{
    if (!sInstance)
        sInstance = new VUTIManager;
    return sInstance;
}

bool VUTIManager::DeInit()
{
    Delete();
    return true;
}

void VUTIManager::Delete()
{
    VUTIManager* instance = sInstance;
    sInstance = nullptr;
    if (instance)
        instance->Release();
}

VUTIManager::VUTIManager()
{
    VXMLParser::Init();
    fParser = new VXMLParser;
    fRootHandler = new VUTIManagerXMLHandler(this);
}

VUTIManager::~VUTIManager()
{
    ReleaseRefCountable(&fRootHandler);
    delete fParser;
    VXMLParser::DeInit();
    // Parents and children hold each other: cut the links before letting go.
    for (auto& entry : fTypes)
        entry.second->_Detach();
    for (auto& entry : fTypes)
        entry.second->Release();
}

bool VUTIManager::LoadXMLFile(VFile* file)
{
    if (!file || !file->Exists())
        return false;
    fParser->Parse(file, fRootHandler, XML_ValidateNever);
    ProcessExtractedUTIs();
    return true;
}

bool VUTIManager::AnalyzeXMLFile(const VFile* file)
{
    if (file && file->Exists())
        fParser->Parse(const_cast<VFile*>(file), fRootHandler, XML_ValidateNever);
    return false;
}

bool VUTIManager::AddNewUTI(VUTI* uti)
{
    if (!uti || uti->GetIdentifier().IsEmpty() || uti->GetIdentifier().IsNull())
        return false;
    if (!fTypes.emplace(uti->GetIdentifier(), uti).second)
        return false;
    uti->Retain();
    return true;
}

VUTI* VUTIManager::GetUTI(const VString& identifier) const
{
    auto found = fTypes.find(identifier);
    return found == fTypes.end() ? nullptr : found->second;
}

bool VUTIManager::UTTypeEqual(const VString& a, const VString& b) { return a.EqualToString(b, false); }

namespace {

// The type among uti and its parents that holds the tag of the class; one
// reference, or null (also for an unknown class).
VUTI* FindTagHolder(const VUTI* uti, const VString& tagClass, const VString& tag)
{
    if (VUTIManager::UTTypeEqual(tagClass, VString(kUTTagClassFilenameExtension)))
        return uti->GetHighestParentThatConformsToExtension(tag);
    if (VUTIManager::UTTypeEqual(tagClass, VString(kUTTagClassOSType)))
        return uti->GetHighestParentThatConformsToOSType(tag);
    if (VUTIManager::UTTypeEqual(tagClass, VString(kUTTagClassMIMEType)))
        return uti->GetHighestParentThatConformsToMIMEType(tag);
    return nullptr;
}

bool IsBlank(const VString& text) { return text.IsNull() || text.IsEmpty(); }

}  // namespace

std::vector<VUTI*>* VUTIManager::UTTypeCreateAllIdentifiersForTag(const VString& tagClass, const VString& tag,
                                                                  const VString&)
{
    if (IsBlank(tagClass) || IsBlank(tag))
        return nullptr;
    auto* found = new std::vector<VUTI*>;
    for (auto& entry : fTypes) {
        VUTI* holder = FindTagHolder(entry.second, tagClass, tag);
        if (holder) {
            holder->Release();
            found->push_back(RetainRefCountable(entry.second));
        }
    }
    return found;
}

VUTI* VUTIManager::UTTypeCreatePreferredIdentifierForTag(const VString& tagClass, const VString& tag,
                                                         const VString& conformingTo)
{
    if (IsBlank(tagClass) || IsBlank(tag))
        return nullptr;
    std::vector<VRefPtr<VUTI>> candidates;
    for (auto& entry : fTypes) {
        VRefPtr<VUTI> holder = VRefPtr<VUTI>::Adopt(FindTagHolder(entry.second, tagClass, tag));
        if (!holder)
            continue;
        if (!IsBlank(conformingTo) && !holder->ConformsToIdentifier(conformingTo))
            continue;
        bool known = false;
        for (const VRefPtr<VUTI>& candidate : candidates)
            known = known || candidate == holder;
        if (!known)
            candidates.push_back(holder);
    }
    if (candidates.empty())
        return nullptr;
    // A public type is preferred over the others; then map order.
    for (const VRefPtr<VUTI>& candidate : candidates) {
        if (candidate->IsPublic())
            return RetainRefCountable(candidate.Get());
    }
    return RetainRefCountable(candidates.front().Get());
}

bool VUTIManager::UTTypeConformsTo(VFile* file, const VString& identifier)
{
    if (!file || !file->Exists() || IsBlank(identifier))
        return false;
    VRefPtr<VUTI> byExtension;
    VString extension;
    file->GetExtension(extension);
    if (!extension.IsEmpty())
        byExtension = VRefPtr<VUTI>::Adopt(
            UTTypeCreatePreferredIdentifierForTag(VString(kUTTagClassFilenameExtension), extension, VString()));
    VRefPtr<VUTI> byOSType;
    unsigned int kind = 0;
    if (file->MAC_GetKind(&kind) == VE_OK && kind != 0) {
        VString osType;
        osType.FromOsType(kind);
        byOSType = VRefPtr<VUTI>::Adopt(
            UTTypeCreatePreferredIdentifierForTag(VString(kUTTagClassOSType), osType, VString()));
    }
    VUTI* chosen = byExtension.Get();
    if (byOSType && (!byExtension || byOSType->IsParent(byExtension.Get())))
        chosen = byOSType.Get();
    return chosen && chosen->ConformsToIdentifier(identifier);
}

int32_t VUTIManager::ProcessExtractedUTIs()
{
    // A declared type A is linked to a type B that names it through a
    // placeholder parent. Rather than try every pair of types, the pairs are
    // found from the placeholders, then taken in the order of a walk over
    // every pair (A's place in the map, then B's), since each link changes
    // what the checks of later pairs see. Linking makes no new placeholder,
    // so no pair is missed.
    struct Pair {
        size_t rankA, rankB;
        VUTIMap::iterator a, b;
    };
    std::unordered_map<const VUTI*, size_t> rank;
    size_t next = 0;
    for (auto& entry : fTypes)
        rank.emplace(entry.second, next++);
    std::vector<Pair> pairs;
    for (auto b = fTypes.begin(); b != fTypes.end(); ++b) {
        for (const auto& [parentID, parent] : b->second->GetParentUTIsMap()) {
            if (!parent->IsTemporary())
                continue;
            auto a = fTypes.find(parentID);
            if (a != fTypes.end())
                pairs.push_back({rank[a->second], rank[b->second], a, b});
        }
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
        return x.rankA != y.rankA ? x.rankA < y.rankA : x.rankB < y.rankB;
    });
    for (const Pair& pair : pairs) {
        const VString& idA = pair.a->first;
        VUTI* a = pair.a->second;
        VUTI* b = pair.b->second;
        if (a == b || UTTypeEqual(idA, pair.b->first))
            continue;
        auto placeholder = b->GetParentUTIsMap().find(idA);
        if (placeholder == b->GetParentUTIsMap().end() || !placeholder->second->IsTemporary())
            continue;
        if (a->IsChildOrChildOfAParent(b) || a->IsParent(placeholder->second))
            continue;
        b->RemoveTemporaryUTI(idA);
        a->AddChildUTI(b);
        b->AddParentUTI(a);
    }

    VFileKindManager* kinds = VFileKindManager::Get();
    if (!kinds)
        return 0;
    for (auto& [id, uti] : fTypes) {
        VString description;
        if (!fLocalizationManager ||
            !fLocalizationManager->LocalizeStringWithDotStringsKey(uti->GetDescription(), description))
            description = uti->GetDescription();
        std::vector<VString> parents;
        for (const auto& parent : uti->GetParentUTIsMap())
            parents.push_back(parent.first);
        kinds->RegisterPrivateFileKind(id, uti->GetOSTypesVector(), description, uti->GetExtensionsVector(),
                                       parents);
    }
    return 0;
}

}  // namespace bkit
