// VLocalizationXMLHandler.cpp - reading XLIFF elements into the localization manager's tables.
#include "basekit/xml/VLocalizationXMLHandler.h"

#include "basekit/bags/VValueBag.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/xml/VLocalizationManager.h"

namespace bkit {

namespace {

bool Is(const VString& name, const char* literal) { return name.EqualToUSASCIICString(literal); }

// Inline elements of a source or target (such as g, ph, x): their text, and
// that of anything nested in them, belongs to the enclosing text.
class InlineTextHandler : public VObject, public IXMLHandler {
public:
    explicit InlineTextHandler(VLocalizationUnitBase* unit) : fUnit(unit) {}
    IXMLHandler* StartElement(const VString&) override
    {
        Retain();
        return this;
    }
    void SetText(const VString& text) override { fUnit->AppendInlineText(text); }

private:
    VRefPtr<VLocalizationUnitBase> fUnit;
};

void AppendTo(VString& target, const VString& text)
{
    if (target.IsNull())
        target = text;
    else
        target.AppendString(text);
}

int32_t ReadInteger(const VString& text) { return text.GetLong(); }

}  // namespace

// --- root ---

IXMLHandler* VLocalizationXMLHandler::StartElement(const VString& name)
{
    if (Is(name, "file")) {
        fCurrentElement = name;
        // Each file element is judged by its own target language: one
        // without it is taken only when forced.
        fAccepted = false;
        fOverwrite = true;
    } else {
        fCurrentElement.Clear();
    }
    bool taken = fAccepted || fForced;
    if (taken && Is(name, "group"))
        return new VLocalizationGroupHandler(fManager, fOverwrite);
    if (taken && Is(name, "trans-unit"))
        return new VLocalizationTransUnitHandler(fManager, 0, UnitGroupPlace(), nullptr, fOverwrite);
    Retain();
    return this;
}

void VLocalizationXMLHandler::SetAttribute(const VString& name, const VString& value)
{
    if (!Is(fCurrentElement, "file") || !Is(name, "target-language"))
        return;
    VString own;
    if (!VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(fManager->GetLocalizationLanguage(), own, '-'))
        return;
    switch (VIntlMgr::Compare2RFC3066LanguageCodes(own, value)) {
        case -1:
        case 0:
            fAccepted = false;
            break;
        case 4:
            fAccepted = true;
            fOverwrite = true;
            break;
        case 1:
        case 2:
        case 3:
            // A near match only fills the gaps an exact match leaves.
            fAccepted = true;
            fOverwrite = false;
            break;
        default:
            break;
    }
}

// --- groups ---

VLocalizationGroupHandler::VLocalizationGroupHandler(VLocalizationManager* manager, bool overwrite)
    : fManager(manager), fOverwrite(overwrite)
{
    _OpenLevel();
}

VLocalizationGroupHandler::~VLocalizationGroupHandler()
{
    while (!fLevels.empty())
        _CloseLevel();
    ReleaseRefCountable(&fGroupBag);
}

void VLocalizationGroupHandler::_OpenLevel() { fLevels.push_back(Level{VString(), fManager->_BeginGroupStrings()}); }

void VLocalizationGroupHandler::_CloseLevel()
{
    fManager->_EndGroupStrings(fLevels.back().fResname, fLevels.back().fBegin);
    fLevels.pop_back();
}

void VLocalizationGroupHandler::SetAttribute(const VString& name, const VString& value)
{
    if (!fGroupBag)
        fGroupBag = new VValueBag;
    if (Is(name, "id")) {
        int32_t id = ReadInteger(value);
        if (id != 0)
            fGroupID = id;
    } else if (Is(name, "resname")) {
        if (!value.IsEmpty() && !fLevels.empty())
            fLevels.back().fResname = value;
    } else if (Is(name, "restype")) {
        fGroupType = value;
    }
    fGroupBag->SetString(StPackedDictionaryKey(name), value);
}

IXMLHandler* VLocalizationGroupHandler::StartElement(const VString& name)
{
    if (Is(name, "trans-unit")) {
        UnitGroupPlace place;
        place.fDepth = fLevels.size();
        if (place.fDepth >= 1)
            place.fInner = fLevels.back().fResname;
        if (place.fDepth >= 2)
            place.fEnclosing = fLevels[place.fDepth - 2].fResname;
        return new VLocalizationTransUnitHandler(fManager, fGroupID, place,
                                                 fGroupType.IsEmpty() ? nullptr : fGroupBag, fOverwrite);
    }
    if (Is(name, "group")) {
        _OpenLevel();
        Retain();
        return this;
    }
    return nullptr;
}

void VLocalizationGroupHandler::EndElement(const VString&)
{
    VString top = fLevels.empty() ? VString() : fLevels.back().fResname;
    if (fGroupBag && !fGroupType.IsEmpty()) {
        if (!top.IsEmpty())
            fGroupBag->SetString(StPackedDictionaryKey("resname"), top);
        fManager->_InsertGroupBag(top, fGroupType, fGroupBag);
    }
    ReleaseRefCountable(&fGroupBag);
    fGroupType.Clear();
    if (!fLevels.empty())
        _CloseLevel();
}

// --- units and alt-trans ---

VLocalizationUnitBase::VLocalizationUnitBase(VLocalizationManager* manager, VValueBag* parentBag)
    : fManager(manager), fParentBag(RetainRefCountable(parentBag))
{
    if (fParentBag)
        fOwnBag = new VValueBag;
}

VLocalizationUnitBase::~VLocalizationUnitBase()
{
    ReleaseRefCountable(&fOwnBag);
    ReleaseRefCountable(&fParentBag);
}

IXMLHandler* VLocalizationUnitBase::StartElement(const VString& name)
{
    if (Is(fCurrentChild, "source") || Is(fCurrentChild, "target"))
        return new InlineTextHandler(this);
    fCurrentChild = name;
    if (Is(name, "source") || Is(name, "target")) {
        Retain();
        return this;
    }
    return _StartOtherElement(name);
}

IXMLHandler* VLocalizationUnitBase::_StartOtherElement(const VString&) { return nullptr; }

void VLocalizationUnitBase::SetText(const VString& text)
{
    if (Is(fCurrentChild, "source"))
        AppendTo(fSource, text);
    else if (Is(fCurrentChild, "target"))
        AppendTo(fTarget, text);
}

void VLocalizationUnitBase::AppendInlineText(const VString& text) { SetText(text); }

bool VLocalizationUnitBase::_EndOfChild()
{
    if (!Is(fCurrentChild, "source") && !Is(fCurrentChild, "target"))
        return false;
    fCurrentChild.Clear();
    return true;
}

void VLocalizationUnitBase::_ReadAttribute(const VString& name, const VString& value, int32_t* id, VString* resname)
{
    if (fOwnBag)
        fOwnBag->SetString(StPackedDictionaryKey(name), value);
    if (Is(name, "id")) {
        *id = ReadInteger(value);
    } else if (Is(name, "resname")) {
        *resname = value;
    } else if (Is(name, "zt:excludeIf")) {
        CheckPlatformTag(name, value, false, &fExcluded);
    } else if (Is(name, "zt:includeIf")) {
        CheckPlatformTag(name, value, true, &fExcluded);
    }
}

VString VLocalizationUnitBase::_Text() const
{
    if (!fTarget.IsNull())
        return fTarget;
    if (!fSource.IsNull())
        return fSource;
    return VString();
}

void VLocalizationUnitBase::CheckPlatformTag(const VString&, const VString& value, bool include, bool* excluded)
{
    std::vector<VString> tokens;
    value.GetSubStrings(' ', tokens, false, true);
    bool mac = false;
    bool known = false;
    for (const VString& token : tokens) {
        if (token.EqualToString(VString("mac"), false)) {
            mac = true;
            known = true;
        } else if (token.EqualToString(VString("win"), false) || token.EqualToString(VString("linux"), false)) {
            known = true;
        }
    }
    if (!known || !excluded)
        return;
    // This program is the macOS one, whatever system builds it.
    if (include ? !mac : mac)
        *excluded = true;
}

VLocalizationTransUnitHandler::VLocalizationTransUnitHandler(VLocalizationManager* manager, int32_t groupID,
                                                             const UnitGroupPlace& place, VValueBag* groupBag,
                                                             bool overwrite)
    : VLocalizationUnitBase(manager, groupBag), fGroupID(groupID), fPlace(place), fOverwrite(overwrite)
{
}

void VLocalizationTransUnitHandler::SetAttribute(const VString& name, const VString& value)
{
    int32_t id = 0;
    bool isID = Is(name, "id");
    _ReadAttribute(name, value, &id, &fResname);
    if (isID && id > 0)
        fUnitID = static_cast<uint32_t>(id);
}

IXMLHandler* VLocalizationTransUnitHandler::_StartOtherElement(const VString& name)
{
    if (Is(name, "alt-trans"))
        return new VLocalizationAltTransHandler(fManager, fOwnBag);
    return nullptr;
}

void VLocalizationTransUnitHandler::EndElement(const VString&)
{
    if (_EndOfChild() || fExcluded)
        return;
    VString text = _Text();
    if (fOwnBag) {
        fOwnBag->SetString(StPackedDictionaryKey("target"), text);
        fParentBag->AddElement(StPackedDictionaryKey("trans-unit"), fOwnBag);
    }
    if (fStored)
        return;
    if (fUnitID != 0 && fGroupID != 0) {
        fManager->_InsertSTRSharpCodeAndString(STRSharpCodes(fGroupID, fUnitID), text, fOverwrite);
        fStored = true;
    }
    if (text.IsEmpty())
        return;
    if (fPlace.fDepth >= 2 && !fResname.IsEmpty()) {
        const VString& inner = fPlace.fInner;
        const VString& enclosing = fPlace.fEnclosing;
        if (!inner.IsEmpty() && !enclosing.IsEmpty() && enclosing[0] == '[' &&
            enclosing[enclosing.GetLength() - 1] == ']') {
            VString key(enclosing);
            key.AppendCString("#}[{@").AppendString(inner).AppendCString("#}[{@").AppendString(fResname);
            fManager->_InsertObjectURLAndString(key, text, fOverwrite);
            fStored = true;
            return;
        }
    }
    if (!fResname.IsEmpty()) {
        fManager->_InsertObjectURLAndString(fResname, text, fOverwrite);
        fStored = true;
    }
    // Under its id in every enclosing group, each level of nesting, stored once.
    if (fPlace.fDepth > 0) {
        fManager->_InsertIDAndStringInOpenGroups(fUnitID, text);
        fStored = true;
    }
}

VLocalizationAltTransHandler::VLocalizationAltTransHandler(VLocalizationManager* manager, VValueBag* unitBag)
    : VLocalizationUnitBase(manager, unitBag)
{
}

void VLocalizationAltTransHandler::SetAttribute(const VString& name, const VString& value)
{
    _ReadAttribute(name, value, &fID, &fResname);
}

void VLocalizationAltTransHandler::EndElement(const VString&)
{
    if (_EndOfChild() || fExcluded || !fOwnBag)
        return;
    fOwnBag->SetString(StPackedDictionaryKey("target"), _Text());
    fParentBag->AddElement(StPackedDictionaryKey("alt-trans"), fOwnBag);
}

}  // namespace bkit
