// VUTI.h - one uniform type identifier with its tags and its place among other types.
//
// This file defines VUTI, a declared type: its identifier, description, the
// file-name extensions, OS types and MIME types that belong to it, and the
// types it conforms to (parents) and that conform to it (children). A parent
// named before its type was declared is a temporary placeholder carrying only
// the identifier.
//
// Contracts:
// - Reference counted, count 1 at creation. Parent and child maps hold one
//   reference per entry; parents and children reference each other, so the
//   registry breaks these cycles with _Detach before it lets the types go.
// - Identifiers and tags are compared without case or accent sensitivity.
// - Queries walk parents and children with a record of the types met, so
//   declarations that conform to each other in a circle end the walk instead
//   of recursing without end. Temporary parents are never walked unless said;
//   ConformsToIdentifier answers for a placeholder from the platform's table
//   of public types.
// - No locks: one task uses the registry and its types.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VUTI;

// Identifier order ignoring case and accents.
struct VUTILess {
    bool operator()(const VString& a, const VString& b) const;
};
using VUTIMap = std::map<VString, VUTI*, VUTILess>;
using VUTIVisited = std::set<const VUTI*>;
// Texts without case or accent duplicates.
using VUTITextSet = std::set<VString, VUTILess>;

class VUTI : public VObject, public IRefCountable {
public:
    VUTI() = default;
    explicit VUTI(const VString& identifier, bool temporary = false);
    ~VUTI() override;
    VUTI(const VUTI&) = delete;
    VUTI& operator=(const VUTI&) = delete;

    const VString& GetIdentifier() const { return fIdentifier; }
    void GetIdentifier(VString& out) const { out = fIdentifier; }
    void SetIdentifier(const VString& identifier) { fIdentifier = identifier; }
    void GetDescription(VString& out) const { out = fDescription; }
    const VString& GetDescription() const { return fDescription; }
    void SetDescription(const VString& description) { fDescription = description; }
    void GetReference(VString& out) const { out = fReference; }
    void SetReference(const VString& reference) { fReference = reference; }
    void GetImagePath(VFilePath& out) const { out = fIconPath; }
    void SetImagePath(const VFilePath& path) { fIconPath = path; }
    bool IsTemporary() const { return fTemporary; }
    void SetTemporary(bool temporary) { fTemporary = temporary; }
    bool IsDynamic() const { return fDynamic; }
    void SetDynamic(bool dynamic) { fDynamic = dynamic; }

    // The Add operations skip a value already present (a set of the values
    // beside each list answers that, so adding many tags costs each one a
    // look-up, not a comparison with every earlier tag). The Set operations
    // take the list as given, duplicates included.
    const std::vector<VString>& GetExtensionsVector() const { return fExtensions.list; }
    void SetExtensionsVector(const std::vector<VString>& extensions) { fExtensions.Assign(extensions); }
    void AddExtension(const VString& extension) { fExtensions.Add(extension); }
    const std::vector<VString>& GetOSTypesVector() const { return fOSTypes.list; }
    void SetOSTypesVector(const std::vector<VString>& osTypes) { fOSTypes.Assign(osTypes); }
    void AddOSType(const VString& osType) { fOSTypes.Add(osType); }
    const std::vector<VString>& GetMIMETypesVector() const { return fMIMETypes.list; }
    void SetMIMETypesVector(const std::vector<VString>& mimeTypes) { fMIMETypes.Assign(mimeTypes); }
    void AddMIMEType(const VString& mimeType) { fMIMETypes.Add(mimeType); }

    // The maps hold one reference per entry. The Set operations retain the new
    // entries and release the old; the Add operations ignore null types, empty
    // identifiers and identifiers already present.
    const VUTIMap& GetParentUTIsMap() const { return fParents; }
    void SetParentUTIsMap(const VUTIMap& parents);
    void AddParentUTI(VUTI* parent);
    const VUTIMap& GetChildrenUTIsMap() const { return fChildren; }
    void SetChildrenUTIsMap(const VUTIMap& children);
    void AddChildUTI(VUTI* child);

    // The identifier equals id, or a parent conforms to it.
    bool ConformsToIdentifier(const VString& id) const;
    // This type when its own list holds the tag, else the first parent (map
    // order) whose search succeeds; one reference for the caller, or null.
    VUTI* GetHighestParentThatConformsToExtension(const VString& extension) const;
    VUTI* GetHighestParentThatConformsToOSType(const VString& osType) const;
    VUTI* GetHighestParentThatConformsToMIMEType(const VString& mimeType) const;
    bool ConformsToExtension(const VString& extension) const;
    bool ConformsToOSType(const VString& osType) const;
    bool ConformsToMIMEType(const VString& mimeType) const;
    // Appends the own extensions missing from out, then those of each parent.
    void GetAllExtensionsVector(std::vector<VString>& out) const;

    // A parent, or a parent's parent, has other's identifier; CouldBeAParent
    // counts a temporary direct parent too. The same on children.
    bool IsParent(const VUTI* other) const;
    bool CouldBeAParent(const VUTI* other) const;
    bool IsChild(const VUTI* other) const;
    bool CouldBeAChild(const VUTI* other) const;
    bool IsChildOrChildOfAParent(const VUTI* other) const;

    // Removes the entry of id from parents and children when it is temporary.
    void RemoveTemporaryUTI(const VString& id);
    // The identifier begins with "public".
    bool IsPublic() const;

    // Releases every parent and child entry.
    void _Detach();

private:
    // A list of tags in the order of addition, with the set of its values.
    struct TagList {
        std::vector<VString> list;
        VUTITextSet values;
        void Add(const VString& value)
        {
            if (values.insert(value).second)
                list.push_back(value);
        }
        void Assign(const std::vector<VString>& given)
        {
            list = given;
            values = VUTITextSet(given.begin(), given.end());
        }
        bool Holds(const VString& value) const { return values.count(value) != 0; }
    };
    using ListOf = TagList VUTI::*;
    VUTI* _FindTagHolder(ListOf list, const VString& tag, VUTIVisited& visited) const;
    bool _Conforms(const VString& id, VUTIVisited& visited) const;
    void _AllExtensions(std::vector<VString>& out, VUTITextSet& seen, VUTIVisited& visited) const;
    bool _HasRelative(const VUTI* other, bool parents, bool withTemporary, VUTIVisited& visited) const;
    bool _IsChildOrChildOfAParent(const VUTI* other, VUTIVisited& visited) const;

    bool fTemporary = false;
    VString fIdentifier;
    VString fDescription;
    VString fReference;
    VFilePath fIconPath;
    bool fDynamic = false;
    TagList fOSTypes;
    TagList fExtensions;
    TagList fMIMETypes;
    VUTIMap fParents;
    VUTIMap fChildren;
};

}  // namespace bkit
