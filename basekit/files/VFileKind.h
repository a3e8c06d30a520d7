// VFileKind.h - kinds of documents and the process's registry of them.
//
// This file defines VFileKind (an identifier, operating-system type codes, a
// description, file-name extensions without dot, the identifiers of the kinds
// it conforms to, and whether the platform made it) and VFileKindManager, the
// one registry of the process (sManager) that answers lookups by identifier,
// extension and OS type, asking the platform (XMacFile) for public kinds it
// does not know yet.
//
// Contracts:
// - Both are reference counted, count 1 at creation. RetainFileKind and the
//   RetainFirst... lookups hand out a new reference (or null).
// - The registry is not locked: registration and lookups that add kinds must
//   not run on two tasks at once. It only grows or replaces entries between
//   Init and DeInit.
#pragma once

#include <map>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFileKind : public VObject, public IRefCountable {
public:
    VFileKind(const VString& id, const std::vector<VString>& osKinds, const VString& description,
              const std::vector<VString>& extensions, const std::vector<VString>& parentIds, bool isPublic);
    ~VFileKind() override;

    static VFileKind* Create(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                             const std::vector<VString>& extensions, const std::vector<VString>& parentIds,
                             bool isPublic);

    const VString& GetID() const { return fID; }
    const VString& GetDescription() const { return fDescription; }
    bool IsPublic() const { return fIsPublic; }

    // Some extension equals ext, ignoring case and accents.
    bool MatchExtension(const VString& ext) const;
    // Some OS kind equals osKind exactly (case and accents count).
    bool MatchOsKind(const VString& osKind) const;
    // The first element, or empty; whether there was one.
    bool GetPreferredExtension(VString& out) const;
    bool GetPreferredOsKind(VString& out) const;
    // Replaces the vector's content; whether there is any.
    bool GetParentIDs(std::vector<VString>& out) const;

    // The platform's conformance test of the two identifiers, else through
    // the parents a declared kind names (a kind met twice ends the walk).
    bool ConformsTo(const VFileKind& other) const;
    // False when the registry has no kind of that identifier.
    bool ConformsTo(const VString& id) const;

private:
    VString fDescription;
    VString fID;
    std::vector<VString> fOsKinds;
    std::vector<VString> fExtensions;
    std::vector<VString> fParentIDs;
    bool fIsPublic;
};

class VFileKindManager : public VObject, public IRefCountable {
public:
    // The process's registry: null before Init and after DeInit.
    static VFileKindManager* sManager;
    static VFileKindManager* Get() { return sManager; }

    static bool Init();
    static void DeInit();

    VFileKind* RetainFileKind(const VString& id);
    void RegisterPrivateFileKind(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                                 const std::vector<VString>& extensions, const std::vector<VString>& parentIds);
    void RegisterPrivateFileKind(const VString& id, const VString& description,
                                 const std::vector<VString>& extensions, const std::vector<VString>& parentIds);
    VFileKind* RetainFirstFileKindMatchingWithExtension(const VString& ext);
    VFileKind* RetainFirstFileKindMatchingWithOsKind(const VString& osKind);

    // Index 0 ("All") and 1 ("All readable documents"); other indexes and
    // empty texts are ignored.
    void RegisterLocalizedString(long index, const VString& text);
    void GetLocalizedString(long index, VString& out) const;

    VFileKindManager();
    ~VFileKindManager() override;

private:
    struct Less {
        bool operator()(const VString& a, const VString& b) const { return a.CompareToString(b, false) < 0; }
    };
    void _Put(const VString& id, VFileKind* kind);

    std::map<VString, VFileKind*, Less> fKinds;
    VString fAllText;
    VString fAllReadableText;
};

}  // namespace bkit
