// IXMLHandler.h - the handlers that answer for the elements of a parsed XML document.
//
// This file defines IXMLHandler, the reference-counted base of every object that
// receives the events of one XML element (its attributes, its text, its end) and
// names the handler of each child element, and VNullXMLHandler, which swallows a
// whole sub-tree. VXMLParser drives a stack of them; IXMLDomWrapper replays DOM
// trees into the same handlers.
//
// Contracts:
// - StartElement hands its caller a new reference (or null, which skips the
//   child's whole sub-tree). A handler without per-element state may return
//   itself, retained.
// - Text may arrive in several SetText calls for one element (around entity
//   references, CDATA sections, child elements and buffer ends): append.
// - An empty element gets StartElement, its attributes and EndElement at once.
// - A handler holds one reference to its entity folder. Entity resolution never
//   leaves that folder: a system id whose relative part climbs (".." or an empty
//   step) resolves to nothing.
// - One task uses a handler at a time; nothing here locks.
#pragma once

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFile;
class VFolder;

// Component of the XML layer's errors.
constexpr OsType kXMLC_SIGNATURE = MakeOsType("xmlc");
// 'xmlc' 2: an error the parser reported (validation); 3: a fatal error
// (well-formedness, limits, unreadable input).
constexpr VError VE_XML_ERROR = MakeVError(kXMLC_SIGNATURE, 2);
constexpr VError VE_XML_FATAL_ERROR = MakeVError(kXMLC_SIGNATURE, 3);

class IXMLHandler : public IRefCountable {
public:
    IXMLHandler() = default;
    ~IXMLHandler() override;

    // The handler of a child element, one reference for the caller; null (the
    // default) skips the child and everything inside it.
    virtual IXMLHandler* StartElement(const VString& elementName);
    // The end of the element this handler answers for (also of an empty one).
    virtual void EndElement(const VString& elementName);
    // One attribute of the element, in document order.
    virtual void SetAttribute(const VString& name, const VString& value);
    // One piece of the element's text.
    virtual void SetText(const VString& text);
    // The file an external entity stands for, one reference for the caller, or
    // null. The default looks in the handler's entity folder.
    virtual VFile* ResolveEntity(const VString& systemID);
    // A processing instruction; the default turns an "xml-stylesheet"
    // instruction into the three style-sheet calls below.
    virtual void processingInstruction(const VString& target, const VString& data);
    virtual void StartStyleSheet();
    virtual void SetStyleSheetAttribute(const VString& name, const VString& value);
    virtual void EndStyleSheet();

    // Retains the new folder before releasing the old one; copies the prefix.
    void SetEntitiesLocalFolder(const VString& prefix, VFolder* folder);
    const VString& GetEntitiesPrefix() const { return fEntityPrefix; }
    VFolder* GetEntitiesFolder() const { return fEntityFolder; }

    // True when the code unit is a legal XML 1.0 character on its own (the
    // library's table: surrogate halves are not).
    static bool IsXMLChar(UniChar c);
    // Space, tab, line feed, form feed and carriage return; not U+000B.
    static bool WCharIsSpace(UniChar c);
    // True when the text is an XML 1.0 name (the production Name: a letter,
    // '_' or ':' first, then name characters); an empty text is none.
    static bool IsXMLName(const VString& text);

private:
    VString fEntityPrefix;
    VFolder* fEntityFolder = nullptr;
};

// Swallows an element's whole sub-tree: every child is answered by itself.
class VNullXMLHandler : public VObject, public IXMLHandler {
public:
    IXMLHandler* StartElement(const VString& elementName) override;
    void SetAttribute(const VString& name, const VString& value) override;
    void SetText(const VString& text) override;
};

// Replaces *ioFolder by folder, retaining folder first; shared by the parser and
// the handlers so that both keep the same rule.
void SetEntityFolderReference(VFolder** ioFolder, VFolder* folder);

}  // namespace bkit
