// VLocalizationManager.h - the localized strings of one language, read from a bundle's resources.
//
// This file defines VLocalizationManager, the ILocalizer of the system: it
// loads the XLIFF files (extension "xlf") and key-value files (extension
// "strings") of a bundle's Resources folder and of the language folders
// (".lproj") of its language, and answers look-ups by key, by numeric codes, by
// group and for error messages ("ERR_" + signature + "_" + number). It updates
// itself when a loaded XLIFF file changes or a new one appears. The file
// grammars are read by the handlers of VLocalizationXMLHandler.h.
//
// Contracts:
// - Reference counted, count 1 at creation. It starts the XML library when
//   built and stops it when destroyed.
// - Look-ups take the manager's one lock and copy their texts out; several
//   tasks may look up at once. Loading and updating do not take it for the
//   parse and must not run while another task looks up.
// - Within a folder, files are loaded in the order of their names, whatever
//   order the system lists them in, so the same folder always gives the same
//   strings.
// - Every folder and file loaded is remembered with the force flag it was
//   loaded with; an update reloads each with that same flag.
// - Registries that hold a manager as localizer keep a plain pointer: its
//   owner keeps it alive while it is registered.
#pragma once

#include <map>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/files/VFilePath.h"
#include "basekit/runtime/ILocalizer.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VTime.h"

namespace bkit {

class IFile;
class IFolder;
class VLocalizationXMLHandler;
class VValueBag;
class VXMLParser;

// 'bkit' 600: the file or folder does not exist; 'bkit' 613: a file that is
// not read as XLIFF.
constexpr VError VE_LOCALIZATION_NOT_FOUND = MakeBKitError(600);
constexpr VError VE_LOCALIZATION_NOT_XLIFF = MakeBKitError(613);

// A numeric string key: a group id and an index in it, ordered by id then index.
struct STRSharpCodes {
    int32_t fID = 0;
    uint32_t fIndex = 0;
    STRSharpCodes() = default;
    STRSharpCodes(int32_t id, uint32_t index) : fID(id), fIndex(index) {}
    bool operator<(const STRSharpCodes& other) const
    {
        return fID != other.fID ? fID < other.fID : fIndex < other.fIndex;
    }
};

class VLocalizationManager : public VObject, public IRefCountable, public ILocalizer {
public:
    explicit VLocalizationManager(uint32_t dialect);
    ~VLocalizationManager() override;
    VLocalizationManager(const VLocalizationManager&) = delete;
    VLocalizationManager& operator=(const VLocalizationManager&) = delete;

    // --- loading ---
    // LoadDefaultLocalizationFolders on bundle's Contents/Resources.
    bool LoadDefaultLocalizationFoldersForComponentOrPlugin(IFolder* bundle);
    // The folder itself with force, then each language folder of the
    // manager's language found in it without force. False for a missing
    // folder or when no language folder exists; else true when a language
    // folder was scanned.
    bool LoadDefaultLocalizationFolders(IFolder* resources);
    // Every visible file directly inside folder. 'bkit' 3 for null, 'bkit' 600
    // for a missing folder, else 0.
    VError ScanAndLoadFolder(IFolder* folder, bool force);
    // One file by itself. 'bkit' 3, 'bkit' 600, 0 for XLIFF, 'bkit' 613 for
    // anything else (a "strings" file is read nonetheless).
    VError LoadFile(IFile* file, bool force);

    // Whether a loaded XLIFF file changed or went, or a new one appeared in a
    // loaded folder; the recorded dates are refreshed either way.
    bool DoesNeedAnUpdate();
    // When DoesNeedAnUpdate: empties the tables and reloads every loaded
    // folder and file; answers whether it did.
    bool UpdateIfNeeded();
    // Empties the string tables and the group bags; returns true.
    bool ClearLocalizations();

    // The XLIFF file's text parsed for this manager's language; with force,
    // every file element is taken. Answers the reading's error.
    VError AnalyzeXLIFFFile(IFile* file, bool force);
    // Every line of a key-value file. 'bkit' 3, 'bkit' 600, else 0.
    VError AnalyzeDotStringsFile(IFile* file);
    // One line: a quoted key, '=', a quoted value and one final unit (the ';').
    void _AnalyseDotString(const VString& line);

    // --- ILocalizer and look-ups ---
    uint32_t GetLocalizationLanguage() override { return fLanguage; }
    // The key "ERR_" + the four signature characters + "_" + the signed number.
    bool LocalizeErrorMessage(VError code, VString& out) override;
    // Exact (case-sensitive) look-ups; out untouched when absent.
    bool LocalizeStringWithKey(const VString& key, VString& out) override;
    bool LocalizeStringWithDotStringsKey(const VString& key, VString& out) override;
    // The bag stored under the name (case and accents ignored), retained.
    const VValueBag* RetainGroupBag(const VString& groupName) override;

    bool LocalizeStringWithSTRSharpCodes(const STRSharpCodes& codes, VString& out);
    // The texts of (id, 1), (id, 2), ... up to the first missing index.
    bool LocalizeGroupOfStringsWithAStrSharpID(int32_t id, std::vector<VString>& out);
    // The texts of a group's ids in ascending order.
    bool GetOrderedStringsOfGroup(const VString& group, std::vector<VString>& out);
    // Appends, retained, every bag stored under the type, in insertion order.
    // Takes no lock (see the file comment).
    void RetainGroupBagsByRestype(const VString& type, std::vector<VRefPtr<const VValueBag>>& out);

    // The language folders found by the last default load.
    const std::vector<VRefPtr<IFolder>>& GetLanguageFolders() const { return fLanguageFolders; }

    // --- insertions of the file readers (the lock is not taken) ---
    bool _InsertSTRSharpCodeAndString(STRSharpCodes codes, VString& text, bool overwrite);
    bool _InsertObjectURLAndString(const VString& key, const VString& text, bool overwrite);
    // Always replaces an existing text.
    bool _InsertIDAndStringInAGroup(uint32_t id, const VString& text, const VString& group, bool overwrite);
    // A unit's text belongs to every group that encloses it, at any depth.
    // Rather than once per group, it is stored once, and each group holds the
    // run of texts stored while it was open: a group that opens asks
    // _BeginGroupStrings where the texts stand, _InsertIDAndStringInOpenGroups
    // stores a text for all groups open at once, and _EndGroupStrings, when
    // the group closes (innermost first), gives it that run under its name.
    // Look-ups answer as if the text had been inserted in each group in turn
    // (the last text of an id wins).
    size_t _BeginGroupStrings() const { return fGroupStringList.size(); }
    void _InsertIDAndStringInOpenGroups(uint32_t id, const VString& text);
    void _EndGroupStrings(const VString& group, size_t begin);
    // The first bag of a name stays; every bag is kept under its type.
    void _InsertGroupBag(const VString& name, const VString& type, const VValueBag* bag);

private:
    // Raw code-unit order, stopping at a NUL.
    struct RawLess {
        bool operator()(const VString& a, const VString& b) const;
    };
    // The locale's order ignoring case and accents.
    struct LooseLess {
        bool operator()(const VString& a, const VString& b) const;
    };
    struct Location {
        VFilePath fPath;
        bool fForce;
    };

    VError _LoadFile(IFile* file, bool inFolderScan, bool force);
    // The folder's visible files, ordered by name.
    static std::vector<VRefPtr<IFile>> _ListFiles(IFolder* folder);
    void _AddLocation(const VFilePath& path, bool force);

    VCriticalSection fLock;
    uint32_t fLanguage;
    std::map<STRSharpCodes, VString> fCodes;
    std::map<VString, VString, RawLess> fKeys;
    // Every text stored for groups, in the order stored; a group name holds
    // the runs [begin, end) of it that its groups enclosed, disjoint and in
    // ascending order (see _BeginGroupStrings).
    struct GroupString {
        uint32_t fID;
        VString fText;
    };
    struct GroupRun {
        size_t fBegin;
        size_t fEnd;
    };
    std::vector<GroupString> fGroupStringList;
    std::map<VString, std::vector<GroupRun>, RawLess> fGroupStrings;
    std::map<VString, VString, RawLess> fDotStrings;
    VXMLParser* fParser = nullptr;
    VLocalizationXMLHandler* fRootHandler = nullptr;
    std::vector<Location> fLocations;
    // Keyed by the path text.
    std::map<VString, VTime, RawLess> fFileDates;
    std::map<VString, VRefPtr<const VValueBag>, LooseLess> fGroupBagsByName;
    std::multimap<VString, VRefPtr<const VValueBag>, RawLess> fGroupBagsByType;
    std::vector<VRefPtr<IFolder>> fLanguageFolders;
};

}  // namespace bkit
