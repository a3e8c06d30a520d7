// IXMLDomWrapper.h - DOM trees of xerces-c through opaque handles and toolbox values.
//
// This file defines IXMLDomWrapper, a set of static operations over the DOM of
// xerces-c: building documents from memory, navigating, reading and writing
// typed element values and attributes, registering ID attributes, cloning,
// serializing to a blob, a stream or a file, and replaying a tree into
// IXMLHandler objects. Callers hold opaque handles and never see the library's
// types.
//
// Contracts:
// - An element handle is also a node handle (GetNodeFromNodeElement); a
//   document's node handle is the document itself (GetNodeFromNodeDocument).
// - A document belongs to whoever created it (CreateNodeDocumentFromBuffer,
//   CloneNodeDocument) and is freed with ReleaseNode; its nodes live as long as
//   it does. The library must stay started (VXMLParser::Init) while documents
//   exist: release them before the matching DeInit.
// - Every exception of the library is caught: the operation answers null, 0 or
//   false; when memory ran out it also pushes 'bkit' 100. Missing nodes or
//   owner documents give null or false, nothing pushed.
// - Trees may be nested deeper than a stack holds: the replay into handlers
//   walks without recursion; cloning and serializing, which the library does by
//   recursion, refuse a tree too deep for the calling task's free stack with
//   'bkit' 108 (null or false).
// - Parsing a buffer reads no external entity from disk or network and bounds
//   entity expansion, as VXMLParser does; its errors are pushed as 'xmlc' 3.
//   A tree also refuses, with 'xmlc' 3 naming the bound, what the library
//   would take time out of step with the document for: an element with more
//   than kXMLDomAttributesPerElement attributes (each one added is compared
//   with all before it), and more than kXMLDomCommentsInARow comments among
//   the content of one element without a child element between them
//   (writing each comment looks through its siblings for the nearest
//   element).
//   A parsed document, and its clones, keep the memory manager of their parse
//   (see XMLExpansionBudget.h), no longer capped once the parse is over.
// - Stateless and unlocked: a document is used by one task at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"

namespace bkit {

class IXMLHandler;
class VBlob;
class VDuration;
class VFile;
class VFileStream;
class VTime;
class VURL;
class VValueSingle;

// Most attributes of one element of a parsed tree.
constexpr size_t kXMLDomAttributesPerElement = 256;
// Most comments of a parsed tree in a row among one element's content (text,
// instructions and entity references between them do not end the row, a
// child element does). Comments before and after the document element are
// not counted.
constexpr size_t kXMLDomCommentsInARow = 100;

struct VXMLDOMNode_opaque;
struct VXMLDOMElement_opaque;
struct VXMLDOMDocument_opaque;
struct VXMLMemBufFormatTarget_opaque;

using XMLDOMNode = VXMLDOMNode_opaque*;
using XMLDOMElement = VXMLDOMElement_opaque*;
using XMLDOMDocument = VXMLDOMDocument_opaque*;

class IXMLDomWrapper {
public:
    // --- handles ---
    static XMLDOMNode GetNodeFromNodeElement(XMLDOMElement element);
    static XMLDOMNode GetNodeFromNodeDocument(XMLDOMDocument document);

    // --- navigation ---
    static int32_t GetNumberOfChildrenNodes(XMLDOMNode node);
    // 0-based, in the order of the child list; null past the end.
    static XMLDOMNode GetChildNode(XMLDOMNode node, int32_t index);
    // The node when it is an element, else null.
    static XMLDOMElement GetNodeElement(XMLDOMNode node);
    // The qualified name; out emptied when there is none.
    static void GetNodeElementName(XMLDOMElement element, VString& out);
    // The node itself when it is a document, else its owner document.
    static XMLDOMDocument GetNodeDocument(XMLDOMNode node);
    // The document element of the node's document.
    static XMLDOMElement GetRootNodeElement(XMLDOMNode node);
    // Only attributes registered as IDs count (RegisterNodeIDs,
    // SetNodeElementAttribute).
    static XMLDOMElement FindNodeElementByID(XMLDOMNode node, const VString& id);
    // False without document URI. A "file://" URI is set as text still to be
    // encoded, any other as encoded text; the answer is out's validity.
    static bool GetDocumentURL(XMLDOMNode node, VURL& out);

    // --- documents ---
    // The document node (the caller owns it), or null on any failure. The
    // system id is "Blob" unless one is given.
    static XMLDOMNode CreateNodeDocumentFromBuffer(const void* data, size_t size, const VString* systemID = nullptr);
    // A deep clone of the node's document with its URI; the caller owns it.
    static XMLDOMDocument CloneNodeDocument(XMLDOMNode node);
    // Releases a node through the DOM; a document goes whole.
    static void ReleaseNode(XMLDOMNode node);
    // Declares every "id" attribute (or prefixed one whose local name is "id"
    // and whose prefix resolves) of the node's document an ID.
    static void RegisterNodeIDs(XMLDOMNode node);

    // --- writing values ---
    // In the namespace its prefix (or, without prefix, the parent's default
    // namespace) resolves to among the parent's, else a plain element. Not
    // appended anywhere.
    static XMLDOMElement CreateElement(XMLDOMDocument document, XMLDOMElement parentElement,
                                       const UniChar* qualifiedName);
    // Each creates an element, appends it to parent and answers it; null when
    // parent has no owner document.
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name);
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, const VString& text);
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, int32_t value);
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, double value);
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, uint8_t value);
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, const VTime& value,
                                        uint32_t options);
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, const VDuration& value,
                                        uint32_t options);
    // Boolean, long, real, time, duration and string values; any other kind
    // adds nothing and answers null.
    static XMLDOMElement AddNodeElement(XMLDOMElement parent, const VString& name, const VValueSingle* value);

    // Replaces the first child's value when it is a text node, else every child
    // by one text node. False when the library throws.
    static bool SetNodeElementValue(XMLDOMElement element, const VString& text);
    static bool SetNodeElementValue(XMLDOMElement element, uint8_t value);
    static bool SetNodeElementValue(XMLDOMElement element, int32_t value);
    static bool SetNodeElementValue(XMLDOMElement element, double value);
    static bool SetNodeElementValue(XMLDOMElement element, const VTime& value, uint32_t options);
    static bool SetNodeElementValue(XMLDOMElement element, const VDuration& value, uint32_t options);

    // A prefixed name whose prefix resolves (in-scope, else "xml" and "xmlns")
    // is set in that namespace, anything else as a plain attribute. An empty
    // value sets the empty text, or removes the attribute when asked. A set
    // "id" becomes an ID. *done (when given) tells whether anything was set or
    // removed. False when the library throws.
    static bool SetNodeElementAttribute(XMLDOMElement element, const VString& name, const VString& value,
                                        bool removeWhenEmpty, bool* done);
    // True, with the value in out, when the attribute exists.
    static bool GetNodeElementAttribute(XMLDOMElement element, const VString& name, VString& out);

    // --- reading values ---
    // The first child's value, whatever its type; emptied without child.
    static void GetNodeElementValueString(XMLDOMElement element, VString& out);
    // The first child's value when it is a CDATA section, else emptied.
    static void GetNodeElementCDATA(XMLDOMElement element, VString& out);
    // The first child's text when it is a text node, else an empty text, read
    // with the value's XML text rule.
    static bool GetNodeElementValueBoolean(XMLDOMElement element);
    static int32_t GetNodeElementValueLong(XMLDOMElement element);
    static double GetNodeElementValueReal(XMLDOMElement element);
    static void GetNodeElementValueTime(XMLDOMElement element, VTime& out);
    static void GetNodeElementValueDuration(XMLDOMElement element, VDuration& out);

    // --- output ---
    // The node's document serialized (no byte-order mark, "\n" line ends then
    // turned into CR) into blob at offset; size gets the bytes written.
    static bool SerializeToBlob(XMLDOMNode node, VBlob* blob, int32_t offset, size_t& size, bool prettyPrint);
    // The same bytes written to an open stream; true when the write succeeded.
    static bool SerializeToFile(XMLDOMNode node, VFileStream& stream, size_t& size, bool prettyPrint);
    // Replaces the file's content by the serialized bytes.
    static bool WriteToFile(XMLDOMNode node, const VFile& file, bool prettyPrint);
    // The target's bytes into blob at offset, line ends turned into CR for the
    // Unicode encodings when asked; size gets the bytes written (0 on failure).
    // Out of memory pushes 'bkit' 100.
    static bool CopyMemBufFormatTargetToBlob(VBlob* blob, int32_t offset, size_t& size,
                                             VXMLMemBufFormatTarget_opaque* target, const VString& encoding,
                                             bool convertLineEnds);

    // Replays an element, or the children of any other node, into handler:
    // StartElement, attributes, text, instructions, children, EndElement. False
    // when a handler refuses an element.
    static bool Parse(XMLDOMNode node, IXMLHandler* handler);
};

}  // namespace bkit
