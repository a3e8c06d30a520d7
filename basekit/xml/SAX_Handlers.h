// SAX_Handlers.h - the adapter between the SAX parser of xerces-c and the handler stack.
//
// This file defines SAX_Handlers, which lives on the stack for one parse: it
// receives the library's document, entity and error callbacks and turns them
// into calls on a stack of IXMLHandler objects (one entry per open element,
// null for a skipped sub-tree), and PushXMLError, which raises the 'xmlc'
// records of the XML layer. Only the XML layer includes this header: it brings
// the library's types with it.
//
// Contracts:
// - Every pure virtual of the four library interfaces is implemented; the
//   ignored events do nothing.
// - Attributes are read up to the count the library gives, never past it.
// - The library announces no end for an empty element: the child handler gets
//   its EndElement right after its attributes and nothing is pushed.
// - The destructor releases every handler still on the stack.
// - What entity references expand to (whatever the library then does with
//   it: text, elements, instructions, comments, ignorable whitespace) and
//   every element's attribute values are counted against the parse's
//   XMLExpansionBudget, an internal entity as its reference begins and
//   attributes before any handler sees them; past the bound the budget pushes
//   'xmlc' 3 and throws XMLExpansionExceeded out of the parse, which the
//   parse's owner catches. The document type is counted by the parser (see
//   XMLDTDCounting.h), which follows it only because the adapter is its DTD
//   handler.
// - Every element a handler takes, and every attribute handed to it, is
//   charged to the budget before the handler gets the attributes. Every error
//   is counted by the budget before it is pushed; once kXMLErrorsKept were
//   pushed, the budget stops the parse in the same way.
#pragma once

#include <deque>

#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/DTDHandler.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>

#include "basekit/BKitTypes.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/xml/XMLExpansionBudget.h"

namespace bkit {

class IXMLHandler;
class VString;
class VXMLParser;

// Raises code with the parameters of an XML error record. Null texts are left out.
void PushXMLError(VError code, const VString& message, const XMLCh* systemID, const XMLCh* publicID, int64_t line,
                  int64_t column);

class SAX_Handlers : public xercesc::XMLDocumentHandler,
                     public xercesc::EntityResolver,
                     public xercesc::ErrorHandler,
                     public xercesc::DTDHandler {
public:
    // The root handler is pushed, retained, as the only entry; owner may be
    // null. The budget outlives the adapter.
    SAX_Handlers(xercesc::SAXParser* parser, VXMLParser* owner, IXMLHandler* root, XMLExpansionBudget& budget);
    ~SAX_Handlers() override;
    SAX_Handlers(const SAX_Handlers&) = delete;
    SAX_Handlers& operator=(const SAX_Handlers&) = delete;

    // XMLDocumentHandler
    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void docComment(const XMLCh* const comment) override;
    void docPI(const XMLCh* const target, const XMLCh* const data) override;
    void endDocument() override;
    void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int uriId, const bool isRoot,
                    const XMLCh* const prefixName) override;
    void endEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
    void resetDocument() override;
    void startDocument() override;
    void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int uriId, const XMLCh* const prefixName,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount,
                      const bool isEmpty, const bool isRoot) override;
    void startEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
    void XMLDecl(const XMLCh* const versionStr, const XMLCh* const encodingStr, const XMLCh* const standaloneStr,
                 const XMLCh* const autoEncodingStr) override;

    // EntityResolver
    xercesc::InputSource* resolveEntity(const XMLCh* const publicId, const XMLCh* const systemId) override;

    // ErrorHandler
    void warning(const xercesc::SAXParseException& exc) override;
    void error(const xercesc::SAXParseException& exc) override;
    void fatalError(const xercesc::SAXParseException& exc) override;
    void resetErrors() override;

    // DTDHandler: nothing the handlers use; the parser follows the document
    // type only for a DTD handler (see XMLDTDCounting.h).
    void notationDecl(const XMLCh* const name, const XMLCh* const publicId, const XMLCh* const systemId) override;
    void unparsedEntityDecl(const XMLCh* const name, const XMLCh* const publicId, const XMLCh* const systemId,
                            const XMLCh* const notationName) override;
    void resetDocType() override;

    // The parser this adapter serves.
    xercesc::SAXParser* GetParser() const { return fParser; }

private:
    IXMLHandler* _Top() const { return fStack.empty() ? nullptr : fStack.back().Get(); }

    std::deque<VRefPtr<IXMLHandler>> fStack;
    xercesc::SAXParser* fParser;
    VXMLParser* fOwner;
    XMLExpansionBudget& fBudget;
};

}  // namespace bkit
