// IXMLDomWrapper.cpp - navigation, documents, values and attributes of DOM trees.
#include "basekit/xml/IXMLDomWrapper.h"

#include <new>
#include <vector>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "basekit/files/VURL.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VValue.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/SAX_Handlers.h"
#include "basekit/xml/VXMLParser.h"
#include "basekit/xml/XMLDomHandles.h"
#include "basekit/xml/XMLDTDCounting.h"
#include "basekit/xml/XMLExpansionBudget.h"

namespace bkit {

using namespace xercesc;
using xmldom::Document;
using xmldom::DocumentOf;
using xmldom::Element;
using xmldom::Guard;
using xmldom::Node;
using xmldom::ToHandle;

namespace {

// The namespaces the Namespaces in XML recommendation binds to "xml" and "xmlns".
constexpr XMLCh kXMLNamespace[] = u"http://www.w3.org/XML/1998/namespace";
constexpr XMLCh kXMLNSNamespace[] = u"http://www.w3.org/2000/xmlns/";
constexpr XMLCh kBlobSystemID[] = u"Blob";

bool SameText(const XMLCh* a, const XMLCh* b) { return XMLString::equals(a, b); }

// The namespace of prefix on element: its in-scope declarations, else the two
// fixed ones. Null when the prefix is unbound.
const XMLCh* ResolvePrefix(const DOMElement* element, const XMLCh* prefix)
{
    const XMLCh* ns = element ? element->lookupNamespaceURI(prefix) : nullptr;
    if (!ns && prefix) {
        if (SameText(prefix, u"xml"))
            ns = kXMLNamespace;
        else if (SameText(prefix, u"xmlns"))
            ns = kXMLNSNamespace;
    }
    return ns;
}

// A qualified name split at its first ':' (no prefix without one).
struct QualifiedName {
    explicit QualifiedName(const VString& name)
    {
        VIndex colon = name.FindUniChar(':');
        if (colon > 1) {
            fPrefix = name.GetSubString(1, colon - 1);
            fLocal = name.GetSubString(colon + 1, name.GetLength() - colon);
            fHasPrefix = true;
        } else {
            fLocal = name;
        }
    }
    VString fPrefix;
    VString fLocal;
    bool fHasPrefix = false;
};

// The first child's text when it is a text or CDATA node, else empty.
VString FirstChildText(XMLDOMElement element)
{
    return Guard(VString(), [&] {
        DOMNode* child = element ? Element(element)->getFirstChild() : nullptr;
        if (child && (child->getNodeType() == DOMNode::TEXT_NODE ||
                      child->getNodeType() == DOMNode::CDATA_SECTION_NODE))
            return VString(child->getNodeValue() ? child->getNodeValue() : u"");
        return VString();
    });
}

// Records the first fatal error of a document parse and pushes every error.
class DocumentErrorHandler : public DOMErrorHandler {
public:
    bool handleError(const DOMError& error) override
    {
        if (error.getSeverity() == DOMError::DOM_SEVERITY_WARNING)
            return true;
        DOMLocator* where = error.getLocation();
        PushXMLError(VE_XML_FATAL_ERROR, VString(error.getMessage() ? error.getMessage() : u""),
                     where ? where->getURI() : nullptr, nullptr, where ? where->getLineNumber() : 0,
                     where ? where->getColumnNumber() : 0);
        fFailed = true;
        return false;
    }
    bool fFailed = false;
};

// The load-and-save parser kept to an expansion budget, as a SAX parse is
// (the DOM holds every expanded character, so the bound matters as much).
// Built directly rather than through the implementation, which makes the
// same parser without a way to count or to give it its memory.
class BoundedLSParser : public DTDCounting<DOMLSParserImpl> {
    using Base = DTDCounting<DOMLSParserImpl>;

public:
    // The budget outlives the parser.
    explicit BoundedLSParser(XMLExpansionBudget& budget)
        : Base(budget, nullptr, budget.GetMemoryManager()), fBudget(budget)
    {
    }

    const Locator* GetLocator() const { return getScanner() ? getScanner()->getLocator() : nullptr; }

    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override
    {
        fBudget.CountDelivered(length);
        Base::docCharacters(chars, length, cdataSection);
    }
    void startElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                      const RefVectorOf<XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
                      const bool isRoot) override
    {
        if (attrCount > kXMLDomAttributesPerElement)
            fBudget.Refuse("An element of the document has more than ", kXMLDomAttributesPerElement,
                           " attributes, the most a document tree takes");
        fBudget.CountAttributes(attrList, attrCount);
        // A child element ends its parent's row of comments.
        if (!fCommentsInARow.empty())
            fCommentsInARow.back() = 0;
        Base::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        if (!isEmpty)
            fCommentsInARow.push_back(0);
    }
    void endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const elemPrefix) override
    {
        Base::endElement(elemDecl, urlId, isRoot, elemPrefix);
        if (!fCommentsInARow.empty())
            fCommentsInARow.pop_back();
    }
    void docComment(const XMLCh* const comment) override
    {
        if (!fCommentsInARow.empty() && ++fCommentsInARow.back() > kXMLDomCommentsInARow)
            fBudget.Refuse("The document has more than ", kXMLDomCommentsInARow,
                           " comments in a row without an element between them, the most a document tree takes");
        Base::docComment(comment);
    }
    void startEntityReference(const XMLEntityDecl& entDecl) override
    {
        fBudget.EnterEntity(entDecl);
        // What the entity holds becomes the children of a node of its own.
        fCommentsInARow.push_back(0);
        Base::startEntityReference(entDecl);
    }
    void endEntityReference(const XMLEntityDecl& entDecl) override
    {
        fBudget.LeaveEntity();
        if (!fCommentsInARow.empty())
            fCommentsInARow.pop_back();
        Base::endEntityReference(entDecl);
    }

private:
    XMLExpansionBudget& fBudget;
    // One entry per open element and entity reference, innermost last: the
    // comments among its content since its last child element. Writing a
    // comment looks through its siblings for the nearest element, so these
    // rows bound what writing the tree takes.
    std::vector<size_t> fCommentsInARow;
};

// What the library's recursive walks take per level of a tree (measured near
// 130 bytes), with a margin, and what they need besides.
constexpr size_t kLibraryWalkStackPerLevel = 512;
constexpr size_t kLibraryWalkStackReserve = 64 * 1024;

}  // namespace

bool xmldom::StackHoldsLibraryWalk(DOMNode* node)
{
    const size_t free = VTaskMgr::Get()->GetCurrentFreeStackSize();
    const size_t deepest =
        free > kLibraryWalkStackReserve ? (free - kLibraryWalkStackReserve) / kLibraryWalkStackPerLevel : 0;
    // Document order without recursion, stopping as soon as it is too deep.
    size_t depth = 0;
    DOMNode* current = node;
    while (current && depth <= deepest) {
        if (DOMNode* child = current->getFirstChild()) {
            current = child;
            ++depth;
            continue;
        }
        while (current && current != node && !current->getNextSibling()) {
            current = current->getParentNode();
            --depth;
        }
        current = (current && current != node) ? current->getNextSibling() : nullptr;
    }
    if (depth <= deepest)
        return true;
    _ThrowError(VE_STACK_TOO_SMALL);
    return false;
}

// --- handles and navigation ---

XMLDOMNode IXMLDomWrapper::GetNodeFromNodeElement(XMLDOMElement element)
{
    return ToHandle(static_cast<DOMNode*>(Element(element)));
}

XMLDOMNode IXMLDomWrapper::GetNodeFromNodeDocument(XMLDOMDocument document)
{
    return ToHandle(static_cast<DOMNode*>(Document(document)));
}

int32_t IXMLDomWrapper::GetNumberOfChildrenNodes(XMLDOMNode node)
{
    return Guard<int32_t>(0, [&] {
        return node ? static_cast<int32_t>(Node(node)->getChildNodes()->getLength()) : 0;
    });
}

XMLDOMNode IXMLDomWrapper::GetChildNode(XMLDOMNode node, int32_t index)
{
    return Guard<XMLDOMNode>(nullptr, [&]() -> XMLDOMNode {
        if (!node || index < 0)
            return nullptr;
        return ToHandle(Node(node)->getChildNodes()->item(static_cast<XMLSize_t>(index)));
    });
}

XMLDOMElement IXMLDomWrapper::GetNodeElement(XMLDOMNode node)
{
    return Guard<XMLDOMElement>(nullptr, [&]() -> XMLDOMElement {
        if (!node || Node(node)->getNodeType() != DOMNode::ELEMENT_NODE)
            return nullptr;
        return ToHandle(static_cast<DOMElement*>(Node(node)));
    });
}

void IXMLDomWrapper::GetNodeElementName(XMLDOMElement element, VString& out)
{
    out = Guard(VString(), [&] {
        const XMLCh* name = element ? Element(element)->getNodeName() : nullptr;
        return name ? VString(name) : VString();
    });
}

XMLDOMDocument IXMLDomWrapper::GetNodeDocument(XMLDOMNode node)
{
    return Guard<XMLDOMDocument>(nullptr, [&] { return ToHandle(DocumentOf(Node(node))); });
}

XMLDOMElement IXMLDomWrapper::GetRootNodeElement(XMLDOMNode node)
{
    return Guard<XMLDOMElement>(nullptr, [&]() -> XMLDOMElement {
        DOMDocument* document = DocumentOf(Node(node));
        return document ? ToHandle(document->getDocumentElement()) : nullptr;
    });
}

XMLDOMElement IXMLDomWrapper::FindNodeElementByID(XMLDOMNode node, const VString& id)
{
    return Guard<XMLDOMElement>(nullptr, [&]() -> XMLDOMElement {
        DOMDocument* document = DocumentOf(Node(node));
        return document ? ToHandle(document->getElementById(id.GetCPointer())) : nullptr;
    });
}

bool IXMLDomWrapper::GetDocumentURL(XMLDOMNode node, VURL& out)
{
    return Guard(false, [&] {
        DOMDocument* document = DocumentOf(Node(node));
        const XMLCh* uri = document ? document->getDocumentURI() : nullptr;
        if (!uri)
            return false;
        VString text(uri);
        bool isFile = text.GetLength() >= 7 && text.GetSubString(1, 7).CompareToStringRawCase(VString("file://")) == 0;
        out.FromString(text, !isFile);
        return out.IsValid();
    });
}

// --- documents ---

XMLDOMNode IXMLDomWrapper::CreateNodeDocumentFromBuffer(const void* data, size_t size, const VString* systemID)
{
    return Guard<XMLDOMNode>(nullptr, [&]() -> XMLDOMNode {
        // All of these outlive the parser, which keeps pointers to them. The
        // budget's memory manager stays with the document the parse hands
        // over; the source draws on it too, so that a refusal while the parse
        // starts loses nothing for good.
        XMLExpansionBudget budget(data ? size : 0);
        static const XMLByte kNothing = 0;
        MemBufInputSource source(data ? static_cast<const XMLByte*>(data) : &kNothing, data ? size : 0,
                                 systemID ? systemID->GetCPointer() : kBlobSystemID, false,
                                 budget.GetMemoryManager());
        Wrapper4InputSource input(&source, false, budget.GetMemoryManager());
        SecurityManager security;
        security.setEntityExpansionLimit(kXMLEntityExpansionLimit);
        DocumentErrorHandler errors;
        BoundedLSParser parser(budget);

        DOMConfiguration* config = parser.getDomConfig();
        config->setParameter(XMLUni::fgDOMEntities, true);
        config->setParameter(XMLUni::fgDOMNamespaces, true);
        config->setParameter(XMLUni::fgXercesValidationErrorAsFatal, true);
        config->setParameter(XMLUni::fgXercesContinueAfterFatalError, false);
        config->setParameter(XMLUni::fgDOMValidate, false);
        config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
        config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
        // Untrusted buffers: no entity from disk or network, bounded expansion.
        config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        config->setParameter(XMLUni::fgXercesSecurityManager, &security);
        config->setParameter(XMLUni::fgDOMErrorHandler, &errors);

        budget.SetLocator(parser.GetLocator());

        DOMDocument* document = nullptr;
        try {
            document = parser.parse(&input);
        } catch (const XMLExpansionExceeded&) {
            // Pushed where the parse stood; the partial tree is the parser's.
            return nullptr;
        } catch (const OutOfMemoryException&) {
            if (budget.MemoryExceeded())
                return nullptr;
            throw;
        }
        // After a fatal error, or a refusal of memory the library caught
        // itself, it may still hand back a partial tree.
        if (document && (errors.fFailed || budget.MemoryExceeded())) {
            document->release();
            document = nullptr;
        }
        if (!document)
            return nullptr;
        budget.KeepBlocks();
        return ToHandle(static_cast<DOMNode*>(document));
    });
}

XMLDOMDocument IXMLDomWrapper::CloneNodeDocument(XMLDOMNode node)
{
    return Guard<XMLDOMDocument>(nullptr, [&]() -> XMLDOMDocument {
        DOMDocument* document = DocumentOf(Node(node));
        if (!document)
            return nullptr;
        if (!xmldom::StackHoldsLibraryWalk(document))
            return nullptr;
        DOMDocument* clone = static_cast<DOMDocument*>(document->cloneNode(true));
        if (clone)
            clone->setDocumentURI(document->getDocumentURI());
        return ToHandle(clone);
    });
}

void IXMLDomWrapper::ReleaseNode(XMLDOMNode node)
{
    Guard(false, [&] {
        if (node)
            Node(node)->release();
        return true;
    });
}

void IXMLDomWrapper::RegisterNodeIDs(XMLDOMNode node)
{
    Guard(false, [&] {
        DOMDocument* document = DocumentOf(Node(node));
        DOMElement* element = document ? document->getDocumentElement() : nullptr;
        // Document order without recursion: first child, else next sibling of
        // the nearest ancestor that has one.
        while (element) {
            DOMNamedNodeMap* attributes = element->getAttributes();
            for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
                DOMAttr* attr = static_cast<DOMAttr*>(attributes->item(i));
                QualifiedName name{VString(attr->getName())};
                bool isID = !name.fHasPrefix ? name.fLocal.EqualToUSASCIICString("id")
                                             : name.fLocal.EqualToUSASCIICString("id") &&
                                                   ResolvePrefix(element, name.fPrefix.GetCPointer()) != nullptr;
                if (isID)
                    element->setIdAttributeNode(attr, true);
            }
            DOMElement* next = element->getFirstElementChild();
            while (!next && element) {
                next = element->getNextElementSibling();
                if (!next) {
                    DOMNode* parent = element->getParentNode();
                    element = (parent && parent->getNodeType() == DOMNode::ELEMENT_NODE)
                                  ? static_cast<DOMElement*>(parent)
                                  : nullptr;
                }
            }
            element = next;
        }
        return true;
    });
}

// --- writing values ---

XMLDOMElement IXMLDomWrapper::CreateElement(XMLDOMDocument document, XMLDOMElement parentElement,
                                            const UniChar* qualifiedName)
{
    return Guard<XMLDOMElement>(nullptr, [&]() -> XMLDOMElement {
        if (!document || !qualifiedName)
            return nullptr;
        QualifiedName name{VString(qualifiedName)};
        const XMLCh* ns = nullptr;
        if (DOMElement* parent = Element(parentElement))
            ns = parent->lookupNamespaceURI(name.fHasPrefix ? name.fPrefix.GetCPointer() : nullptr);
        DOMDocument* doc = Document(document);
        return ToHandle(ns ? doc->createElementNS(ns, qualifiedName) : doc->createElement(qualifiedName));
    });
}

namespace {

XMLDOMElement AddTextElement(XMLDOMElement parent, const VString& name, const VString* text)
{
    return Guard<XMLDOMElement>(nullptr, [&]() -> XMLDOMElement {
        DOMDocument* document = parent ? Element(parent)->getOwnerDocument() : nullptr;
        if (!document)
            return nullptr;
        XMLDOMElement created = IXMLDomWrapper::CreateElement(ToHandle(document), parent, name.GetCPointer());
        if (!created)
            return nullptr;
        if (text)
            Element(created)->appendChild(document->createTextNode(text->GetCPointer()));
        Element(parent)->appendChild(Element(created));
        return created;
    });
}

template <class Value>
VString XMLText(const Value& value, uint32_t options = 0)
{
    VString text;
    value.GetXMLString(text, options);
    return text;
}

VString LongText(int32_t value)
{
    VString text;
    text.FromLong(value);
    return text;
}

}  // namespace

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name)
{
    return AddTextElement(parent, name, nullptr);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, const VString& text)
{
    return AddTextElement(parent, name, &text);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, int32_t value)
{
    VString text = LongText(value);
    return AddTextElement(parent, name, &text);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, double value)
{
    VString text = XMLText(VReal(value));
    return AddTextElement(parent, name, &text);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, uint8_t value)
{
    VString text = XMLText(VBoolean(value != 0));
    return AddTextElement(parent, name, &text);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, const VTime& value,
                                             uint32_t options)
{
    VString text = XMLText(value, options);
    return AddTextElement(parent, name, &text);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, const VDuration& value,
                                             uint32_t options)
{
    VString text = XMLText(value, options);
    return AddTextElement(parent, name, &text);
}

XMLDOMElement IXMLDomWrapper::AddNodeElement(XMLDOMElement parent, const VString& name, const VValueSingle* value)
{
    if (!value)
        return nullptr;
    switch (value->GetValueKind()) {
        case VK_BOOLEAN:
            return AddNodeElement(parent, name, value->GetBoolean());
        case VK_LONG:
            return AddNodeElement(parent, name, value->GetLong());
        case VK_REAL:
            return AddNodeElement(parent, name, value->GetReal());
        case VK_TIME: {
            VTime time;
            value->GetTime(time);
            return AddNodeElement(parent, name, time, 0);
        }
        case VK_DURATION: {
            VDuration duration;
            value->GetDuration(duration);
            return AddNodeElement(parent, name, duration, 0);
        }
        case VK_STRING: {
            VString text;
            value->GetString(text);
            return AddNodeElement(parent, name, text);
        }
        default:
            return nullptr;
    }
}

bool IXMLDomWrapper::SetNodeElementValue(XMLDOMElement element, const VString& text)
{
    return Guard(false, [&] {
        if (!element)
            return false;
        DOMElement* e = Element(element);
        DOMNode* first = e->getFirstChild();
        if (first && first->getNodeType() == DOMNode::TEXT_NODE) {
            first->setNodeValue(text.GetCPointer());
            return true;
        }
        DOMDocument* document = e->getOwnerDocument();
        if (!document)
            return false;
        while (DOMNode* child = e->getFirstChild())
            e->removeChild(child)->release();
        e->appendChild(document->createTextNode(text.GetCPointer()));
        return true;
    });
}

bool IXMLDomWrapper::SetNodeElementValue(XMLDOMElement element, uint8_t value)
{
    return SetNodeElementValue(element, XMLText(VBoolean(value != 0)));
}

bool IXMLDomWrapper::SetNodeElementValue(XMLDOMElement element, int32_t value)
{
    return SetNodeElementValue(element, LongText(value));
}

bool IXMLDomWrapper::SetNodeElementValue(XMLDOMElement element, double value)
{
    return SetNodeElementValue(element, XMLText(VReal(value)));
}

bool IXMLDomWrapper::SetNodeElementValue(XMLDOMElement element, const VTime& value, uint32_t options)
{
    return SetNodeElementValue(element, XMLText(value, options));
}

bool IXMLDomWrapper::SetNodeElementValue(XMLDOMElement element, const VDuration& value, uint32_t options)
{
    return SetNodeElementValue(element, XMLText(value, options));
}

bool IXMLDomWrapper::SetNodeElementAttribute(XMLDOMElement element, const VString& name, const VString& value,
                                             bool removeWhenEmpty, bool* done)
{
    if (done)
        *done = false;
    return Guard(false, [&] {
        if (!element)
            return false;
        DOMElement* e = Element(element);
        QualifiedName qname(name);
        const XMLCh* ns = qname.fHasPrefix ? ResolvePrefix(e, qname.fPrefix.GetCPointer()) : nullptr;
        const VString& idPart = ns ? qname.fLocal : name;
        const XMLCh* text = value.IsNull() ? u"" : value.GetCPointer();
        if (value.IsEmpty() && removeWhenEmpty) {
            bool existed = ns ? e->hasAttributeNS(ns, qname.fLocal.GetCPointer()) : e->hasAttribute(name.GetCPointer());
            if (ns)
                e->removeAttributeNS(ns, qname.fLocal.GetCPointer());
            else
                e->removeAttribute(name.GetCPointer());
            if (done)
                *done = existed;
            return true;
        }
        if (ns)
            e->setAttributeNS(ns, name.GetCPointer(), text);
        else
            e->setAttribute(name.GetCPointer(), text);
        if (idPart.EqualToUSASCIICString("id")) {
            if (ns)
                e->setIdAttributeNS(ns, qname.fLocal.GetCPointer(), true);
            else
                e->setIdAttribute(name.GetCPointer(), true);
        }
        if (done)
            *done = true;
        return true;
    });
}

bool IXMLDomWrapper::GetNodeElementAttribute(XMLDOMElement element, const VString& name, VString& out)
{
    return Guard(false, [&] {
        if (!element)
            return false;
        DOMElement* e = Element(element);
        QualifiedName qname(name);
        const XMLCh* ns = qname.fHasPrefix ? ResolvePrefix(e, qname.fPrefix.GetCPointer()) : nullptr;
        DOMAttr* attr = ns ? e->getAttributeNodeNS(ns, qname.fLocal.GetCPointer())
                           : e->getAttributeNode(name.GetCPointer());
        if (!attr)
            return false;
        out = VString(attr->getValue() ? attr->getValue() : u"");
        return true;
    });
}

// --- reading values ---

void IXMLDomWrapper::GetNodeElementValueString(XMLDOMElement element, VString& out)
{
    out = Guard(VString(), [&] {
        DOMNode* child = element ? Element(element)->getFirstChild() : nullptr;
        const XMLCh* value = child ? child->getNodeValue() : nullptr;
        return value ? VString(value) : VString();
    });
}

void IXMLDomWrapper::GetNodeElementCDATA(XMLDOMElement element, VString& out)
{
    out = Guard(VString(), [&] {
        DOMNode* child = element ? Element(element)->getFirstChild() : nullptr;
        if (!child || child->getNodeType() != DOMNode::CDATA_SECTION_NODE || !child->getNodeValue())
            return VString();
        return VString(child->getNodeValue());
    });
}

bool IXMLDomWrapper::GetNodeElementValueBoolean(XMLDOMElement element)
{
    VBoolean value;
    value.FromXMLString(FirstChildText(element));
    return value.GetBoolean() != 0;
}

int32_t IXMLDomWrapper::GetNodeElementValueLong(XMLDOMElement element)
{
    VLong value;
    value.FromXMLString(FirstChildText(element));
    return value.GetLong();
}

double IXMLDomWrapper::GetNodeElementValueReal(XMLDOMElement element)
{
    VReal value;
    value.FromXMLString(FirstChildText(element));
    return value.GetReal();
}

void IXMLDomWrapper::GetNodeElementValueTime(XMLDOMElement element, VTime& out)
{
    out.FromXMLString(FirstChildText(element));
}

void IXMLDomWrapper::GetNodeElementValueDuration(XMLDOMElement element, VDuration& out)
{
    out.FromXMLString(FirstChildText(element));
}

// --- replay into handlers ---

namespace {

// One open element of a replay: the handler that answers for it and the next
// child to visit. The node is null for the non-element node a replay starts
// from, which gets no events of its own.
struct ReplayFrame {
    DOMElement* fElement;
    VRefPtr<IXMLHandler> fHandler;
    DOMNode* fNext;
};

// StartElement on parent and the element's attributes on the child handler,
// which is pushed as a new frame. False (nothing pushed) when parent refuses.
bool OpenElement(DOMElement* element, IXMLHandler* parent, std::vector<ReplayFrame>& frames)
{
    VRefPtr<IXMLHandler> child = VRefPtr<IXMLHandler>::Adopt(parent->StartElement(VString(element->getNodeName())));
    if (!child)
        return false;
    if (DOMNamedNodeMap* attributes = element->getAttributes()) {
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
            DOMNode* attr = attributes->item(i);
            child->SetAttribute(VString(attr->getNodeName()),
                                VString(attr->getNodeValue() ? attr->getNodeValue() : u""));
        }
    }
    frames.push_back(ReplayFrame{element, std::move(child), element->getFirstChild()});
    return true;
}

// A DOM can be nested far deeper than any stack holds (the library builds such
// trees without trouble), so the walk keeps its open elements in frames of its
// own. An element answers whether it was accepted; a walk of children answers
// for its last element child (true when there is none).
bool Replay(DOMNode* start, IXMLHandler* handler)
{
    std::vector<ReplayFrame> frames;
    if (start->getNodeType() == DOMNode::ELEMENT_NODE) {
        if (!OpenElement(static_cast<DOMElement*>(start), handler, frames))
            return false;
    } else {
        frames.push_back(ReplayFrame{nullptr, VRefPtr<IXMLHandler>(handler), start->getFirstChild()});
    }
    bool result = true;
    while (!frames.empty()) {
        ReplayFrame& top = frames.back();
        DOMNode* child = top.fNext;
        if (child == nullptr) {
            if (top.fElement)
                top.fHandler->EndElement(VString(top.fElement->getNodeName()));
            frames.pop_back();
            continue;
        }
        top.fNext = child->getNextSibling();
        IXMLHandler* current = top.fHandler.Get();
        switch (child->getNodeType()) {
            case DOMNode::ELEMENT_NODE: {
                const bool outermost = frames.size() == 1 && frames.front().fElement == nullptr;
                const bool opened = OpenElement(static_cast<DOMElement*>(child), current, frames);
                if (outermost)
                    result = opened;
                break;
            }
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
                if (child->getNodeValue())
                    current->SetText(VString(child->getNodeValue()));
                break;
            case DOMNode::PROCESSING_INSTRUCTION_NODE: {
                auto* pi = static_cast<DOMProcessingInstruction*>(child);
                if (pi->getTarget() && pi->getData())
                    current->processingInstruction(VString(pi->getTarget()), VString(pi->getData()));
                break;
            }
            default:
                break;
        }
    }
    return result;
}

}  // namespace

bool IXMLDomWrapper::Parse(XMLDOMNode node, IXMLHandler* handler)
{
    return Guard(false, [&] {
        if (!node || !handler)
            return false;
        return Replay(Node(node), handler);
    });
}

}  // namespace bkit
