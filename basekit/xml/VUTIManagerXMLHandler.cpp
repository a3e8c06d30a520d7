// VUTIManagerXMLHandler.cpp - reading type declarations element by element.
#include "basekit/xml/VUTIManagerXMLHandler.h"

#include "basekit/xml/VUTI.h"
#include "basekit/xml/VUTIManager.h"

namespace bkit {

namespace {

bool Is(const VString& name, const char* literal) { return name.EqualToString(VString(literal), false); }

bool IsTagClass(const VString& key)
{
    return Is(key, kUTTagClassFilenameExtension) || Is(key, kUTTagClassMIMEType) || Is(key, kUTTagClassOSType);
}

// Adds value to the list of the type that the tag class names.
void AddTag(VUTI* uti, const VString& tagClass, const VString& value)
{
    if (Is(tagClass, kUTTagClassFilenameExtension))
        uti->AddExtension(value);
    else if (Is(tagClass, kUTTagClassOSType))
        uti->AddOSType(value);
    else if (Is(tagClass, kUTTagClassMIMEType))
        uti->AddMIMEType(value);
}

IXMLHandler* Self(IXMLHandler* handler)
{
    handler->Retain();
    return handler;
}

}  // namespace

// --- root ---

IXMLHandler* VUTIManagerXMLHandler::StartElement(const VString& name)
{
    if ((Is(fKey, "UTExportedTypeDeclarations") || Is(fKey, "UTImportedTypeDeclarations")) && Is(name, "array"))
        return new VUTIManagerArrayHandler(fManager);
    fInKey = Is(name, "key");
    fCurrentElement = name;
    fKey.Clear();
    return Self(this);
}

void VUTIManagerXMLHandler::EndElement(const VString&) { fInKey = false; }

void VUTIManagerXMLHandler::SetText(const VString& text)
{
    if (fInKey && Is(fCurrentElement, "key") && !text.IsEmpty())
        fKey.AppendString(text);
}

IXMLHandler* VUTIManagerArrayHandler::StartElement(const VString& name)
{
    return Is(name, "dict") ? new VUTIManagerUTIHandler(fManager) : nullptr;
}

// --- one declaration ---

VUTIManagerUTIHandler::VUTIManagerUTIHandler(VUTIManager* manager) : fManager(manager), fUTI(new VUTI) {}

VUTIManagerUTIHandler::~VUTIManagerUTIHandler() { ReleaseRefCountable(&fUTI); }

IXMLHandler* VUTIManagerUTIHandler::StartElement(const VString& name)
{
    fCurrentElement = name;
    fElements.push_back(name);
    if (!fKey.IsEmpty()) {
        if (Is(name, "string") && (Is(fKey, "UTTypeIdentifier") || Is(fKey, "UTTypeDescription"))) {
            fKeyBeingRead = fKey;
        } else if (Is(name, "array") && Is(fKey, "UTTypeConformsTo")) {
            fElements.pop_back();
            return new VUTIManagerUTIKeyArrayStringHandler(fUTI, fKey);
        } else if (Is(name, "dict") && Is(fKey, "UTTypeTagSpecification")) {
            fElements.pop_back();
            return new VUTIManagerUTIKeyUTISpecificationHandler(fUTI);
        } else {
            fKeyBeingRead.Clear();
        }
    }
    if (Is(name, "key") || Is(name, "string"))
        fCollecting = true;
    fKey.Clear();
    return Self(this);
}

void VUTIManagerUTIHandler::SetText(const VString& text)
{
    if (!fCollecting || text.IsEmpty())
        return;
    if (Is(fCurrentElement, "key")) {
        fKey.AppendString(text);
    } else if (Is(fCurrentElement, "string")) {
        if (Is(fKeyBeingRead, "UTTypeIdentifier")) {
            fIdentifier.AppendString(text);
            fHasIdentifier = true;
        } else if (Is(fKeyBeingRead, "UTTypeDescription")) {
            fDescription.AppendString(text);
            fHasDescription = true;
        }
    }
}

void VUTIManagerUTIHandler::EndElement(const VString&)
{
    fCollecting = false;
    if (!fElements.empty()) {
        fElements.pop_back();
        return;
    }
    // The end of the declaration's own dict.
    if (fHasIdentifier)
        fUTI->SetIdentifier(fIdentifier);
    if (fHasDescription)
        fUTI->SetDescription(fDescription);
    fManager->AddNewUTI(fUTI);
}

// --- tag table (the tag classes of one declaration) ---

VUTIManagerUTIKeyUTISpecificationHandler::VUTIManagerUTIKeyUTISpecificationHandler(VUTI* uti)
    : fUTI(RetainRefCountable(uti))
{
}

VUTIManagerUTIKeyUTISpecificationHandler::~VUTIManagerUTIKeyUTISpecificationHandler() { ReleaseRefCountable(&fUTI); }

IXMLHandler* VUTIManagerUTIKeyUTISpecificationHandler::StartElement(const VString& name)
{
    fCurrentElement = name;
    if (Is(name, "key") || Is(name, "string"))
        fCollecting = true;
    IXMLHandler* child = nullptr;
    if (Is(name, "string") && IsTagClass(fKey))
        fTagClass = fKey;
    else if (Is(name, "array") && !fKey.IsEmpty())
        child = new VUTIManagerUTIKeyArrayStringHandler(fUTI, fKey);
    fKey.Clear();
    return child ? child : Self(this);
}

void VUTIManagerUTIKeyUTISpecificationHandler::SetText(const VString& text)
{
    if (!fCollecting)
        return;
    if (Is(fCurrentElement, "key")) {
        fKey.AppendString(text);
    } else if (Is(fCurrentElement, "string")) {
        if (Is(fTagClass, kUTTagClassFilenameExtension))
            fExtension.AppendString(text);
        else if (Is(fTagClass, kUTTagClassOSType))
            fOSType.AppendString(text);
        else if (Is(fTagClass, kUTTagClassMIMEType))
            fMIMEType.AppendString(text);
    }
}

void VUTIManagerUTIKeyUTISpecificationHandler::EndElement(const VString&)
{
    if (!fExtension.IsEmpty())
        fUTI->AddExtension(fExtension);
    else if (!fOSType.IsEmpty())
        fUTI->AddOSType(fOSType);
    else if (!fMIMEType.IsEmpty())
        fUTI->AddMIMEType(fMIMEType);
    fExtension.Clear();
    fOSType.Clear();
    fMIMEType.Clear();
    fCollecting = false;
}

// --- array of strings under one key ---

VUTIManagerUTIKeyArrayStringHandler::VUTIManagerUTIKeyArrayStringHandler(VUTI* uti, const VString& key)
    : fUTI(RetainRefCountable(uti)), fKey(key)
{
}

VUTIManagerUTIKeyArrayStringHandler::~VUTIManagerUTIKeyArrayStringHandler() { ReleaseRefCountable(&fUTI); }

IXMLHandler* VUTIManagerUTIKeyArrayStringHandler::StartElement(const VString& name)
{
    if (!Is(name, "string"))
        return nullptr;
    fCollecting = true;
    return Self(this);
}

void VUTIManagerUTIKeyArrayStringHandler::SetText(const VString& text)
{
    if (fCollecting)
        fText.AppendString(text);
}

void VUTIManagerUTIKeyArrayStringHandler::EndElement(const VString&)
{
    if (fCollecting && !fText.IsEmpty()) {
        if (Is(fKey, "UTTypeConformsTo")) {
            VUTI* placeholder = new VUTI(fText, true);
            fUTI->AddParentUTI(placeholder);
            placeholder->Release();
        } else {
            AddTag(fUTI, fKey, fText);
        }
    }
    fText.Clear();
    fCollecting = false;
}

}  // namespace bkit
