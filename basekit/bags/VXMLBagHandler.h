// VXMLBagHandler.h - bags as XML documents: writing them whole, reading them through the handler stack.
//
// This file defines VXMLBagHandler, the XML handler that builds a bag tree from
// parser events (every element a child bag under its name, attributes as
// string attributes, text appended to "<>"); VXMLBagHandler_UniqueElement, the
// handler of a document's root element, which fills a target bag from the
// first root element of the expected name; and the functions that write a bag
// as a whole XML document to a file or a stream, read one back, and move bags
// into and out of DOM trees.
//
// Contracts:
// - Attributes always read back as strings, repeated elements of one name as
//   the bags of one list in document order. Text between child elements
//   (indentation included) is text of the enclosing bag.
// - The loaders run the parse inside their own error context and answer its
//   last error (0 when the document was read); errors stay on the caller's
//   stack as the XML layer pushed them.
// - Characters that XML 1.0 cannot carry (controls other than tab, LF and CR,
//   U+FFFE, U+FFFF, lone surrogates, NUL) are left out of the text written;
//   every other text reads back unchanged.
// - The handlers hold one reference to their bags; one task uses them at a time.
#pragma once

#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/xml/IXMLDomWrapper.h"
#include "basekit/xml/IXMLHandler.h"

namespace bkit {

class IFile;
class VFolder;
class VStream;

// Builds child bags below the bag at the bottom of its stack.
class VXMLBagHandler : public VObject, public IXMLHandler {
public:
    // target (retained) is the bag that receives the events of the element
    // this handler is given for.
    explicit VXMLBagHandler(VValueBag* target);
    ~VXMLBagHandler() override;

    // Elements nested deeper below the target are refused (the sub-tree
    // skipped; 'xmlc' 3 pushed for the first one only).
    static constexpr VIndex kMaxDepth = 1000;

    // A new bag under the name in the bag on top; this handler, retained.
    IXMLHandler* StartElement(const VString& elementName) override;
    void EndElement(const VString& elementName) override;
    void SetAttribute(const VString& name, const VString& value) override;
    void SetText(const VString& text) override;

private:
    VValueBag* _Top() const { return fStack.GetNth(fStack.GetCount()); }

    VBagArray fStack;
    bool fRefusedDeeper = false;
};

// The root element handler: fills the target with the first root element whose
// name equals the expected one (no case or accent distinction; any name when
// none is expected). Text outside the root element is dropped.
class VXMLBagHandler_UniqueElement : public VObject, public IXMLHandler {
public:
    VXMLBagHandler_UniqueElement(VValueBag* target, const VString& expectedName);
    ~VXMLBagHandler_UniqueElement() override;

    IXMLHandler* StartElement(const VString& elementName) override;
    void SetText(const VString& text) override;

private:
    VValueBag* fTarget;
    VString fExpectedName;
    uint32_t fRootCount = 0;
};

// The UTF-8 declaration, then the bag as the root element, written as UTF-8
// without byte-order mark and with its line ends as they are. A null file
// writes nothing (0). A root, element or attribute name that is no XML name
// writes nothing and answers 'bkit' 3 (see VValueBag::CheckXMLNames). When
// writing fails the error is answered and the file keeps its previous content.
VError WriteBagToFileInXML(const VValueBag& bag, const VString& rootName, IFile* file, bool indented);
// A 32-bit marker 1, then the UTF-16 declaration and the bag as element "bag"
// in the string stream form. The write's error; a name that is no XML name
// writes nothing and answers 'bkit' 3.
VError WriteBagToStreamInXML(const VValueBag& bag, VStream* stream);
// Reads what WriteBagToStreamInXML wrote. A marker other than 1 reads nothing
// more and answers the stream's error (0 when sound); otherwise the error of
// this read and parse.
VError ReadBagFromStreamInXML(VValueBag& bag, VStream* stream);

// Parse with a root handler for bag and rootName (empty: any root name).
VError LoadBagFromXML(const VString& xmlText, const VString& rootName, VValueBag& bag, uint32_t options = 0);
VError LoadBagFromXML(IFile* file, const VString& rootName, VValueBag& bag, uint32_t options = 0);
// The same with the handler's entity folder set first, when both prefix and
// folder are given and the folder exists.
VError LoadBagFromXML(IFile* file, const VString& rootName, VValueBag& bag, uint32_t options,
                      const VString* entityPrefix, VFolder* entityFolder);
VError LoadBagFromXML(const VString& xmlText, const VString& rootName, VValueBag& bag, uint32_t options,
                      const VString* entityPrefix, VFolder* entityFolder);

// Replays the element node into bag; 'xmlc' 2 when it is no element.
VError ReadBagFromDomXML(XMLDOMNode node, VValueBag& bag);
// Writes the bag into the element node: attributes on it, child bags as new
// child elements (recorded in created when given). 'bkit' 3 when the node is no
// element, 'bkit' 1 when writing fails. Bags of any depth are written (no
// recursion).
VError WriteBagToDomXML(const VValueBag& bag, XMLDOMNode node, std::vector<XMLDOMNode>* created);
bool WriteBagToDomXMLElement(const VValueBag& bag, XMLDOMElement element, std::vector<XMLDOMNode>* created);

// A typed value inferred from XML text (real, long, long8, boolean, UUID), or a
// copy of the text; the caller owns it.
VValueSingle* ParseXMLValue(const VString& text);

}  // namespace bkit
