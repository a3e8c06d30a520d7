// VLocalizationXMLHandler.h - the handlers that read XLIFF files into a localization manager.
//
// This file defines the four handlers of an XLIFF 1.x document: the root
// handler (the document, its "file" elements and whatever encloses groups and
// units), the group handler (an outermost "group" and the groups nested in
// it), the trans-unit handler and the alt-trans handler. They store what they
// read through the manager's insertions and build the group bags of groups that
// carry a "restype".
//
// Contracts:
// - Element and attribute names are compared exactly, as written (the
//   conditions are "zt:excludeIf" and "zt:includeIf").
// - Each "file" element is judged on its own "target-language": a file element
//   without one is taken only when the file is read with force.
// - A unit's text is the whole text of its target (else of its source),
//   inline elements inside them included.
// - This build runs as the "mac" platform for the conditions.
// - Handlers keep a plain pointer to their manager, which outlives them.
#pragma once

#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/xml/IXMLHandler.h"

namespace bkit {

class VLocalizationManager;
class VValueBag;

// Where a unit stands among the groups around it: what its keys need of them,
// the innermost group's resname and the one around that. Never the whole
// stack of names, which nested groups make as deep as the file is long;
// the texts every enclosing group holds are stored once, through the
// manager's group runs.
struct UnitGroupPlace {
    size_t fDepth = 0;    // enclosing groups; 0 outside any
    VString fInner;       // the innermost group's resname (fDepth >= 1)
    VString fEnclosing;   // the resname of the group around it (fDepth >= 2)
};

class VLocalizationXMLHandler : public VObject, public IXMLHandler {
public:
    explicit VLocalizationXMLHandler(VLocalizationManager* manager) : fManager(manager) {}

    IXMLHandler* StartElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

    // Set by the manager around the parse of a file read with force.
    void SetForced(bool forced) { fForced = forced; }

private:
    VLocalizationManager* fManager;
    bool fAccepted = false;
    bool fOverwrite = true;
    VString fCurrentElement;
    bool fForced = false;
};

class VLocalizationGroupHandler : public VObject, public IXMLHandler {
public:
    VLocalizationGroupHandler(VLocalizationManager* manager, bool overwrite);
    // Closes the levels an interrupted parse left open, so that the texts
    // stored in them stay theirs.
    ~VLocalizationGroupHandler() override;

    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

private:
    VLocalizationManager* fManager;
    bool fOverwrite;
    // One open group level: its resname (empty until given) and where the
    // manager's group texts stood when it opened.
    struct Level {
        VString fResname;
        size_t fBegin;
    };
    void _OpenLevel();
    void _CloseLevel();

    int32_t fGroupID = 0;
    std::vector<Level> fLevels;
    VValueBag* fGroupBag = nullptr;
    VString fGroupType;
};

// What a unit and an alt-trans have in common: the source and target texts
// (inline content included), the platform conditions and an optional bag.
class VLocalizationUnitBase : public VObject, public IXMLHandler {
public:
    VLocalizationUnitBase(VLocalizationManager* manager, VValueBag* parentBag);
    ~VLocalizationUnitBase() override;

    IXMLHandler* StartElement(const VString& name) override;
    void SetText(const VString& text) override;

    // The platform condition of a "zt:includeIf" (include) or "zt:excludeIf"
    // value: sets *excluded when this platform ("mac") is left out; never
    // clears it. A value naming none of "mac", "win", "linux" changes nothing.
    static void CheckPlatformTag(const VString& name, const VString& value, bool include, bool* excluded);

    // Text arriving inside an inline element of the current source or target.
    void AppendInlineText(const VString& text);

protected:
    // True when the end is that of a source or target (handled here).
    bool _EndOfChild();
    // Reads id, resname and the conditions; copies every attribute to the bag.
    void _ReadAttribute(const VString& name, const VString& value, int32_t* id, VString* resname);
    // Target text when some arrived, else source text, else empty.
    VString _Text() const;
    // Names the child handler for an element other than source and target.
    virtual IXMLHandler* _StartOtherElement(const VString& name);

    VLocalizationManager* fManager;
    VString fCurrentChild;
    VValueBag* fParentBag = nullptr;  // one reference, or null
    VValueBag* fOwnBag = nullptr;     // new when there is a parent bag
    VString fSource{true};
    VString fTarget{true};
    bool fExcluded = false;
};

class VLocalizationTransUnitHandler : public VLocalizationUnitBase {
public:
    VLocalizationTransUnitHandler(VLocalizationManager* manager, int32_t groupID, const UnitGroupPlace& place,
                                  VValueBag* groupBag, bool overwrite);

    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

    using VLocalizationUnitBase::CheckPlatformTag;

protected:
    IXMLHandler* _StartOtherElement(const VString& name) override;

private:
    int32_t fGroupID;
    UnitGroupPlace fPlace;
    uint32_t fUnitID = 0;
    VString fResname;
    bool fStored = false;
    bool fOverwrite;
};

class VLocalizationAltTransHandler : public VLocalizationUnitBase {
public:
    VLocalizationAltTransHandler(VLocalizationManager* manager, VValueBag* unitBag);

    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

    using VLocalizationUnitBase::CheckPlatformTag;

private:
    int32_t fID = 0;
    VString fResname;
};

}  // namespace bkit
