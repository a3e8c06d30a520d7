// SAX_Handlers.cpp - mapping of the library's SAX events onto the handler stack.
#include "basekit/xml/SAX_Handlers.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLString.hpp>

#include "basekit/files/VFile.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/VXMLParser.h"

namespace bkit {

void PushXMLError(VError code, const VString& message, const XMLCh* systemID, const XMLCh* publicID, int64_t line,
                  int64_t column)
{
    StThrowError<> err(code);
    err->SetString("message", message);
    err->SetString("systemID", VString(systemID ? systemID : u""));
    err->SetString("publicID", VString(publicID ? publicID : u""));
    err->SetLong("line", static_cast<int32_t>(line));
    err->SetLong("column", static_cast<int32_t>(column));
}

SAX_Handlers::SAX_Handlers(xercesc::SAXParser* parser, VXMLParser* owner, IXMLHandler* root,
                           XMLExpansionBudget& budget)
    : fParser(parser), fOwner(owner), fBudget(budget)
{
    fStack.emplace_back(root);
}

SAX_Handlers::~SAX_Handlers()
{
    // Innermost first, as the elements would have closed.
    while (!fStack.empty())
        fStack.pop_back();
}

void SAX_Handlers::startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int, const XMLCh* const,
                                const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount,
                                const bool isEmpty, const bool)
{
    fBudget.CountAttributes(attrList, attrCount);
    IXMLHandler* top = _Top();
    VString name(elemDecl.getFullName());
    IXMLHandler* child = top ? top->StartElement(name) : nullptr;
    if (!child) {
        // A null entry makes every descendant skip too.
        if (!isEmpty)
            fStack.emplace_back(nullptr);
        return;
    }
    VRefPtr<IXMLHandler> held = VRefPtr<IXMLHandler>::Adopt(child);
    const bool withDefaulted = fOwner && fOwner->GetReportDefaultedAttributes();
    auto handed = [&](const xercesc::XMLAttr* attr) { return attr && (attr->getSpecified() || withDefaulted); };
    // The child may keep a node for the element and each attribute: counted
    // before it gets any of them.
    size_t nodes = 1;
    for (XMLSize_t i = 0; i < attrCount; ++i)
        nodes += handed(attrList.elementAt(i)) ? 1 : 0;
    fBudget.CountHandedNodes(nodes);
    if (!isEmpty)
        fStack.push_back(held);
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const xercesc::XMLAttr* attr = attrList.elementAt(i);
        if (handed(attr))
            child->SetAttribute(VString(attr->getQName()), VString(attr->getValue()));
    }
    if (isEmpty)
        child->EndElement(name);
}

void SAX_Handlers::endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int, const bool,
                              const XMLCh* const)
{
    if (fStack.empty())
        return;
    if (IXMLHandler* top = _Top())
        top->EndElement(VString(elemDecl.getFullName()));
    fStack.pop_back();
}

void SAX_Handlers::docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool)
{
    fBudget.CountDelivered(length);
    IXMLHandler* top = _Top();
    if (top && chars && length > 0)
        top->SetText(VString(chars, static_cast<VIndex>(length)));
}

void SAX_Handlers::docPI(const XMLCh* const target, const XMLCh* const data)
{
    fBudget.CountDelivered(xercesc::XMLString::stringLen(target) + xercesc::XMLString::stringLen(data));
    IXMLHandler* top = _Top();
    if (top && target && data)
        top->processingInstruction(VString(target), VString(data));
}

xercesc::InputSource* SAX_Handlers::resolveEntity(const XMLCh* const, const XMLCh* const systemId)
{
    IXMLHandler* top = _Top();
    if (!top || !systemId)
        return nullptr;
    VString id(systemId);
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(top->ResolveEntity(id));
    if (!file && fOwner)
        file = VRefPtr<VFile>::Adopt(fOwner->ResolveEntity(id));
    if (!file)
        return nullptr;
    VString path;
    file->GetPlatformPath(path, FPS_POSIX);
    // The library adopts the source; its memory is the parse's, as the
    // document's source's is.
    xercesc::MemoryManager* memory = fBudget.GetMemoryManager();
    return new (memory) xercesc::LocalFileInputSource(path.GetCPointer(), memory);
}

namespace {

void PushParseException(VError code, const xercesc::SAXParseException& exc)
{
    PushXMLError(code, VString(exc.getMessage() ? exc.getMessage() : u""), exc.getSystemId(), exc.getPublicId(),
                 static_cast<int64_t>(exc.getLineNumber()), static_cast<int64_t>(exc.getColumnNumber()));
}

}  // namespace

void SAX_Handlers::error(const xercesc::SAXParseException& exc)
{
    fBudget.CountError();
    PushParseException(VE_XML_ERROR, exc);
}
void SAX_Handlers::fatalError(const xercesc::SAXParseException& exc) { PushParseException(VE_XML_FATAL_ERROR, exc); }
void SAX_Handlers::warning(const xercesc::SAXParseException&) {}
void SAX_Handlers::resetErrors() {}

// Entity references reach no handler; they are only counted.
void SAX_Handlers::startEntityReference(const xercesc::XMLEntityDecl& entDecl) { fBudget.EnterEntity(entDecl); }
void SAX_Handlers::endEntityReference(const xercesc::XMLEntityDecl&) { fBudget.LeaveEntity(); }

// Events the handlers have no use for, counted all the same: an entity may
// expand to nothing else.
void SAX_Handlers::docComment(const XMLCh* const comment)
{
    fBudget.CountDelivered(xercesc::XMLString::stringLen(comment));
}
void SAX_Handlers::ignorableWhitespace(const XMLCh* const, const XMLSize_t length, const bool)
{
    fBudget.CountDelivered(length);
}
void SAX_Handlers::endDocument() {}
void SAX_Handlers::resetDocument() {}
void SAX_Handlers::startDocument() {}
void SAX_Handlers::notationDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const) {}
void SAX_Handlers::unparsedEntityDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const, const XMLCh* const)
{
}
void SAX_Handlers::resetDocType() {}
void SAX_Handlers::XMLDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const, const XMLCh* const) {}

}  // namespace bkit
