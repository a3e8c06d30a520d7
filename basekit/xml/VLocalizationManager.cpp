// VLocalizationManager.cpp - tables, loading, updating and look-ups of localized strings.
#include "basekit/xml/VLocalizationManager.h"

#include <algorithm>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/xml/VLocalizationXMLHandler.h"
#include "basekit/xml/VXMLParser.h"

namespace bkit {

namespace {

// Listing options: files only, no invisible items, no sub-folders.
constexpr unsigned int kVisibleFilesOnly = 4;

}  // namespace

bool VLocalizationManager::RawLess::operator()(const VString& a, const VString& b) const
{
    // Past its end a text reads as NUL, where the comparison stops.
    for (VIndex i = 0;; ++i) {
        UniChar x = i < a.GetLength() ? a.GetCPointer()[i] : 0;
        UniChar y = i < b.GetLength() ? b.GetCPointer()[i] : 0;
        if (x != y)
            return x < y;
        if (x == 0)
            return false;
    }
}

bool VLocalizationManager::LooseLess::operator()(const VString& a, const VString& b) const
{
    return a.CompareToString(b, false) == CR_SMALLER;
}

VLocalizationManager::VLocalizationManager(uint32_t dialect) : fLanguage(dialect)
{
    VXMLParser::Init();
    fParser = new VXMLParser;
    fRootHandler = new VLocalizationXMLHandler(this);
}

VLocalizationManager::~VLocalizationManager()
{
    ReleaseRefCountable(&fRootHandler);
    delete fParser;
    VXMLParser::DeInit();
}

// --- loading ---

bool VLocalizationManager::LoadDefaultLocalizationFoldersForComponentOrPlugin(IFolder* bundle)
{
    if (!bundle || !bundle->Exists())
        return false;
    VRefPtr<IFolder> resources =
        VRefPtr<IFolder>::Adopt(bundle->RetainRelativeFolder(VString("Contents/Resources/"), FPS_POSIX));
    return LoadDefaultLocalizationFolders(resources.Get());
}

bool VLocalizationManager::LoadDefaultLocalizationFolders(IFolder* resources)
{
    if (!resources || !resources->Exists())
        return false;
    ScanAndLoadFolder(resources, true);
    std::vector<VRefPtr<IFolder>> folders;
    if (!VIntlMgr::GetLocalizationFoldersWithDialect(fLanguage, resources, folders) || folders.empty())
        return false;
    fLanguageFolders = folders;
    bool loaded = false;
    for (const VRefPtr<IFolder>& folder : folders) {
        if (ScanAndLoadFolder(folder.Get(), false) == VE_OK)
            loaded = true;
    }
    return loaded;
}

std::vector<VRefPtr<IFile>> VLocalizationManager::_ListFiles(IFolder* folder)
{
    std::vector<VRefPtr<IFile>> files;
    folder->IterateFiles(
        [&files](IFile* file, IFileAttributeAccessor*) {
            files.emplace_back(file);
            return true;
        },
        kVisibleFilesOnly);
    // Listings come in no particular order here: loading by name makes the
    // strings that win the same on every run.
    std::sort(files.begin(), files.end(), [](const VRefPtr<IFile>& a, const VRefPtr<IFile>& b) {
        return a->GetPath().GetPath().CompareToStringRaw(b->GetPath().GetPath()) < 0;
    });
    return files;
}

void VLocalizationManager::_AddLocation(const VFilePath& path, bool force)
{
    for (Location& location : fLocations) {
        if (location.fPath.IsFolder() == path.IsFolder() && location.fPath.GetPath() == path.GetPath()) {
            location.fForce = location.fForce || force;
            return;
        }
    }
    fLocations.push_back(Location{path, force});
}

VError VLocalizationManager::ScanAndLoadFolder(IFolder* folder, bool force)
{
    if (!folder)
        return VE_INVALID_PARAMETER;
    if (!folder->Exists())
        return VE_LOCALIZATION_NOT_FOUND;
    for (const VRefPtr<IFile>& file : _ListFiles(folder))
        _LoadFile(file.Get(), true, force);
    _AddLocation(folder->GetPath(), force);
    return VE_OK;
}

VError VLocalizationManager::LoadFile(IFile* file, bool force) { return _LoadFile(file, false, force); }

VError VLocalizationManager::_LoadFile(IFile* file, bool inFolderScan, bool force)
{
    if (!file)
        return VE_INVALID_PARAMETER;
    if (!file->Exists())
        return VE_LOCALIZATION_NOT_FOUND;
    if (file->MatchExtension(VString("xlf"))) {
        if (AnalyzeXLIFFFile(file, force) != VE_OK)
            return VE_OK;
        if (!inFolderScan)
            _AddLocation(file->GetPath(), force);
        VTime modified;
        if (file->GetTimeAttributes(&modified) == VE_OK)
            fFileDates[file->GetPath().GetPath()] = modified;
        return VE_OK;
    }
    if (file->MatchExtension(VString("strings")))
        AnalyzeDotStringsFile(file);
    return VE_LOCALIZATION_NOT_XLIFF;
}

bool VLocalizationManager::DoesNeedAnUpdate()
{
    StLocker<VCriticalSection> lock(fLock);
    std::map<VString, VTime, RawLess> dates;
    bool changed = false;
    for (const auto& [path, date] : fFileDates) {
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(VFilePath(path)));
        VTime modified;
        if (!file->Exists()) {
            changed = true;
        } else if (file->GetTimeAttributes(&modified) == VE_OK) {
            dates[path] = modified;
            if (modified != date)
                changed = true;
        }
    }
    fFileDates = dates;
    if (changed)
        return true;
    for (const Location& location : fLocations) {
        if (!location.fPath.IsFolder())
            continue;
        VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(location.fPath));
        if (!folder->Exists())
            continue;
        folder->IterateFiles(
            [&](IFile* file, IFileAttributeAccessor*) {
                if (file->MatchExtension(VString("xlf")) && dates.find(file->GetPath().GetPath()) == dates.end())
                    changed = true;
                return true;
            },
            kVisibleFilesOnly);
        if (changed)
            break;
    }
    return changed;
}

bool VLocalizationManager::UpdateIfNeeded()
{
    if (!DoesNeedAnUpdate())
        return false;
    ClearLocalizations();
    std::vector<Location> locations = fLocations;
    for (const Location& location : locations) {
        if (!location.fPath.IsValid() || location.fPath.IsEmpty())
            continue;
        if (location.fPath.IsFolder()) {
            VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(location.fPath));
            if (folder->Exists())
                ScanAndLoadFolder(folder.Get(), location.fForce);
        } else {
            VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(location.fPath));
            if (file->Exists())
                _LoadFile(file.Get(), false, location.fForce);
        }
    }
    return true;
}

bool VLocalizationManager::ClearLocalizations()
{
    StLocker<VCriticalSection> lock(fLock);
    fCodes.clear();
    fKeys.clear();
    fGroupStrings.clear();
    fGroupStringList.clear();
    fDotStrings.clear();
    fGroupBagsByName.clear();
    fGroupBagsByType.clear();
    return true;
}

// --- look-ups ---

namespace {

template <class Map, class Key>
bool CopyOut(const Map& map, const Key& key, VString& out)
{
    auto found = map.find(key);
    if (found == map.end())
        return false;
    out = found->second;
    return true;
}

}  // namespace

bool VLocalizationManager::LocalizeStringWithKey(const VString& key, VString& out)
{
    StLocker<VCriticalSection> lock(fLock);
    return CopyOut(fKeys, key, out);
}

bool VLocalizationManager::LocalizeStringWithDotStringsKey(const VString& key, VString& out)
{
    StLocker<VCriticalSection> lock(fLock);
    return CopyOut(fDotStrings, key, out);
}

bool VLocalizationManager::LocalizeStringWithSTRSharpCodes(const STRSharpCodes& codes, VString& out)
{
    StLocker<VCriticalSection> lock(fLock);
    return CopyOut(fCodes, codes, out);
}

bool VLocalizationManager::LocalizeGroupOfStringsWithAStrSharpID(int32_t id, std::vector<VString>& out)
{
    out.clear();
    StLocker<VCriticalSection> lock(fLock);
    for (uint32_t index = 1;; ++index) {
        auto found = fCodes.find(STRSharpCodes(id, index));
        if (found == fCodes.end())
            break;
        out.push_back(found->second);
    }
    return !out.empty();
}

bool VLocalizationManager::GetOrderedStringsOfGroup(const VString& group, std::vector<VString>& out)
{
    out.clear();
    StLocker<VCriticalSection> lock(fLock);
    auto found = fGroupStrings.find(group);
    if (found == fGroupStrings.end())
        return false;
    // In the order stored, so that a later text of an id replaces an earlier.
    std::map<uint32_t, const VString*> texts;
    for (const GroupRun& run : found->second) {
        for (size_t i = run.fBegin; i < run.fEnd; ++i)
            texts[fGroupStringList[i].fID] = &fGroupStringList[i].fText;
    }
    if (texts.empty())
        return false;
    out.reserve(texts.size());
    for (const auto& entry : texts)
        out.push_back(*entry.second);
    return true;
}

bool VLocalizationManager::LocalizeErrorMessage(VError code, VString& out)
{
    // The key is built whole: a cut key could name another error's text.
    VString key("ERR_");
    key.AppendOsType(COMPONENT_FROM_VERROR(code));
    key.AppendUniChar('_');
    key.AppendLong(ERRCODE_FROM_VERROR(code));
    return LocalizeStringWithKey(key, out);
}

const VValueBag* VLocalizationManager::RetainGroupBag(const VString& groupName)
{
    StLocker<VCriticalSection> lock(fLock);
    auto found = fGroupBagsByName.find(groupName);
    if (found == fGroupBagsByName.end())
        return nullptr;
    return RetainRefCountable(found->second.Get());
}

void VLocalizationManager::RetainGroupBagsByRestype(const VString& type, std::vector<VRefPtr<const VValueBag>>& out)
{
    auto range = fGroupBagsByType.equal_range(type);
    for (auto entry = range.first; entry != range.second; ++entry)
        out.push_back(entry->second);
}

// --- insertions ---

bool VLocalizationManager::_InsertSTRSharpCodeAndString(STRSharpCodes codes, VString& text, bool overwrite)
{
    auto [entry, added] = fCodes.emplace(codes, text);
    if (!added && overwrite)
        entry->second = text;
    return true;
}

bool VLocalizationManager::_InsertObjectURLAndString(const VString& key, const VString& text, bool overwrite)
{
    auto [entry, added] = fKeys.emplace(key, text);
    if (!added && overwrite)
        entry->second = text;
    return true;
}

bool VLocalizationManager::_InsertIDAndStringInAGroup(uint32_t id, const VString& text, const VString& group, bool)
{
    const size_t begin = _BeginGroupStrings();
    _InsertIDAndStringInOpenGroups(id, text);
    _EndGroupStrings(group, begin);
    return true;
}

void VLocalizationManager::_InsertIDAndStringInOpenGroups(uint32_t id, const VString& text)
{
    fGroupStringList.push_back(GroupString{id, text});
}

void VLocalizationManager::_EndGroupStrings(const VString& group, size_t begin)
{
    const size_t end = fGroupStringList.size();
    // A group that got no text makes no entry, as none was inserted for it.
    if (begin >= end)
        return;
    std::vector<GroupRun>& runs = fGroupStrings[group];
    // Groups close innermost first: a run of the same name that begins
    // inside this one belongs to a group nested in it, and is part of it.
    while (!runs.empty() && runs.back().fBegin >= begin)
        runs.pop_back();
    runs.push_back(GroupRun{begin, end});
}

void VLocalizationManager::_InsertGroupBag(const VString& name, const VString& type, const VValueBag* bag)
{
    if (!bag)
        return;
    if (!name.IsEmpty())
        fGroupBagsByName.emplace(name, VRefPtr<const VValueBag>(bag));
    fGroupBagsByType.emplace(type, VRefPtr<const VValueBag>(bag));
}

}  // namespace bkit
