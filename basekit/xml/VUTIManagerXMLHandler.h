// VUTIManagerXMLHandler.h - the handlers that read type declarations from property-list XML.
//
// This file defines the five handlers of a declaration file: the root (finds
// the "UTExportedTypeDeclarations" and "UTImportedTypeDeclarations" arrays), the
// array of declarations, one declaration (a "dict"), its table of tags and
// an array of strings under one key. Element names and keys are compared
// without case or accent sensitivity. Each finished declaration is offered to
// the registry; parents named in "UTTypeConformsTo" become temporary
// placeholders until the registry links them.
#pragma once

#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"
#include "basekit/xml/IXMLHandler.h"

namespace bkit {

class VUTI;
class VUTIManager;

class VUTIManagerXMLHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerXMLHandler(VUTIManager* manager) : fManager(manager) {}
    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetText(const VString& text) override;

private:
    VUTIManager* fManager;
    VString fCurrentElement;
    VString fKey;
    bool fInKey = false;
};

class VUTIManagerArrayHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerArrayHandler(VUTIManager* manager) : fManager(manager) {}
    IXMLHandler* StartElement(const VString& name) override;

private:
    VUTIManager* fManager;
};

class VUTIManagerUTIHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerUTIHandler(VUTIManager* manager);
    ~VUTIManagerUTIHandler() override;
    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetText(const VString& text) override;

private:
    VUTIManager* fManager;
    VUTI* fUTI;
    std::vector<VString> fElements;
    VString fCurrentElement;
    VString fKey;
    VString fKeyBeingRead;
    bool fCollecting = false;
    // The identifier and description as read so far: text comes in pieces
    // (a comment splits it), and the type takes them once, at the end of the
    // declaration, instead of a new copy of the whole text for every piece.
    VString fIdentifier;
    VString fDescription;
    bool fHasIdentifier = false;
    bool fHasDescription = false;
};

class VUTIManagerUTIKeyUTISpecificationHandler : public VObject, public IXMLHandler {
public:
    explicit VUTIManagerUTIKeyUTISpecificationHandler(VUTI* uti);
    ~VUTIManagerUTIKeyUTISpecificationHandler() override;
    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetText(const VString& text) override;

private:
    VUTI* fUTI;
    VString fCurrentElement;
    VString fKey;
    VString fTagClass;
    bool fCollecting = false;
    VString fExtension;
    VString fOSType;
    VString fMIMEType;
};

class VUTIManagerUTIKeyArrayStringHandler : public VObject, public IXMLHandler {
public:
    VUTIManagerUTIKeyArrayStringHandler(VUTI* uti, const VString& key);
    ~VUTIManagerUTIKeyArrayStringHandler() override;
    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetText(const VString& text) override;

private:
    VUTI* fUTI;
    VString fKey;
    VString fText;
    bool fCollecting = false;
};

}  // namespace bkit
