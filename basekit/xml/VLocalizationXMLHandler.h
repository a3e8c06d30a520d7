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

using ResnameStack = std::vector<VString>;

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
    ~VLocalizationGroupHandler() override;

    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

private:
    VLocalizationManager* fManager;
    bool fOverwrite;
    int32_t fGroupID = 0;
    ResnameStack fResnames;
    VValueBag* fGroupBag = nullptr;
    VString fGroupType;
};

// What a unit and an alt-trans have in common: the source and target texts
// (inline content included), the platform conditions and an optional bag.
class VLocalizationUnitBase : public VObject, public IXMLHandler {
public:
    VLocalizationUnitBase(VLocalizationManager* manager, const ResnameStack& resnames, VValueBag* parentBag);
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
    ResnameStack fResnames;
};

class VLocalizationTransUnitHandler : public VLocalizationUnitBase {
public:
    VLocalizationTransUnitHandler(VLocalizationManager* manager, int32_t groupID, const ResnameStack& resnames,
                                  VValueBag* groupBag, bool overwrite);

    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

    using VLocalizationUnitBase::CheckPlatformTag;

protected:
    IXMLHandler* _StartOtherElement(const VString& name) override;

private:
    int32_t fGroupID;
    uint32_t fUnitID = 0;
    VString fResname;
    bool fStored = false;
    bool fOverwrite;
};

class VLocalizationAltTransHandler : public VLocalizationUnitBase {
public:
    VLocalizationAltTransHandler(VLocalizationManager* manager, const ResnameStack& resnames, VValueBag* unitBag);

    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;

    using VLocalizationUnitBase::CheckPlatformTag;

private:
    int32_t fID = 0;
    VString fResname;
};

}  // namespace bkit
