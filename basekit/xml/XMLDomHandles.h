// XMLDomHandles.h - conversions between the DOM wrapper's opaque handles and the library's types.
//
// Only the DOM wrapper's sources include this header. A document handle holds
// the library's DOMDocument pointer and a node handle its DOMNode pointer; the
// two differ in address (the document has several bases), so every crossing
// goes through these casts and never through a plain reinterpretation.
#pragma once

#include <new>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/xml/IXMLDomWrapper.h"

namespace bkit::xmldom {

inline xercesc::DOMNode* Node(XMLDOMNode node) { return reinterpret_cast<xercesc::DOMNode*>(node); }
inline xercesc::DOMElement* Element(XMLDOMElement element) { return reinterpret_cast<xercesc::DOMElement*>(element); }
inline xercesc::DOMDocument* Document(XMLDOMDocument document)
{
    return reinterpret_cast<xercesc::DOMDocument*>(document);
}

inline XMLDOMNode ToHandle(xercesc::DOMNode* node) { return reinterpret_cast<XMLDOMNode>(node); }
inline XMLDOMElement ToHandle(xercesc::DOMElement* element) { return reinterpret_cast<XMLDOMElement>(element); }
inline XMLDOMDocument ToHandle(xercesc::DOMDocument* document) { return reinterpret_cast<XMLDOMDocument>(document); }

// The node's document: the node itself when it is one.
inline xercesc::DOMDocument* DocumentOf(xercesc::DOMNode* node)
{
    if (!node)
        return nullptr;
    if (node->getNodeType() == xercesc::DOMNode::DOCUMENT_NODE)
        return static_cast<xercesc::DOMDocument*>(node);
    return node->getOwnerDocument();
}

// Whether the library's own walks of node's sub-tree (deep clone,
// serialization), which recurse once per level, fit in the calling task's free
// stack. When they do not, pushes 'bkit' 108 and answers false: a tree nested
// deeper than the stack allows is refused, never followed into a crash.
bool StackHoldsLibraryWalk(xercesc::DOMNode* node);

// Runs op, turning any exception of the library (DOM, load-and-save,
// general, out of memory) into fallback; a shortage of memory also raises
// the toolbox's memory error, as every other allocation failure does.
template <class T, class Op>
T Guard(T fallback, Op op)
{
    try {
        return op();
    } catch (const xercesc::DOMException&) {
    } catch (const xercesc::XMLException&) {
    } catch (const xercesc::OutOfMemoryException&) {
        _ThrowError(VE_MEMORY_FULL);
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
    }
    return fallback;
}

}  // namespace bkit::xmldom
