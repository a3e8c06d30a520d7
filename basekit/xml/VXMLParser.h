// VXMLParser.h - reading XML documents into a stack of handlers.
//
// This file defines VXMLParser, which parses an XML document from a file, a
// byte buffer or a string with the SAX parser of xerces-c and hands its events
// to IXMLHandler objects (see IXMLHandler.h), and the option flags of a parse.
//
// Contracts:
// - The library is started and stopped through Init and DeInit, which are
//   counted: the first Init starts it, the last DeInit stops it. Every
//   long-lived owner of a parser calls Init when built and DeInit when
//   destroyed. A parse holds one count of its own for its length, so that a
//   parse never runs on a stopped library and no object of the library outlives
//   the parse.
// - Untrusted input is safe to parse: external entities (DTDs, entity files)
//   are read only from the entity folder given to the parser or the handler,
//   never from elsewhere on disk or from the network; entity expansion is
//   bounded in count, in the characters that entities and attribute values
//   come to, and in the memory the library holds for the parse, so an
//   exponentially expanding document, or one that repeats a large entity
//   (whatever it holds: text, elements, instructions, comments, whitespace;
//   in the content or, a parameter entity, between declarations)
//   or large attribute values, fails with 'xmlc' 3 and the parse stops there,
//   before any handler got the offending element's attributes. What the
//   handlers are handed counts against the same memory cap (see
//   kXMLHandlerNodeBytes). Errors are bounded too: a parse reports at most
//   kXMLErrorsKept of them ('xmlc' 2, as the library reports them), then
//   stops with an 'xmlc' 3 that says so.
// - Parse answers true when the document was read without error. Every failure
//   is pushed on the calling task's error stack ('xmlc' 2 or 3 with the
//   parameters "message", "systemID", "publicID", "line" and "column"; 'bkit'
//   100 when memory ran out); nothing is thrown to the caller.
// - A parser serves any number of parses one after the other, on one task at a
//   time. The root handler is retained for the parse and kept by its creator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class IXMLHandler;
class VFile;
class VFolder;

// Option flags of every Parse.
enum XMLParseOptions : uint32_t {
    XML_ValidateAlways = 1,
    // Only when XML_ValidateAlways is clear; with both clear a document with a
    // grammar is validated.
    XML_ValidateNever = 2,
    XML_DoNamespaces = 4,
    // The external DTD is loaded, from the entity folder only.
    XML_LoadExternalDTD = 8,
    // Attributes the document does not specify (defaulted by the DTD) are
    // reported too.
    XML_ReportDefaultedAttributes = 16,
    // Schema processing, only when XML_ValidateNever is clear; switches
    // namespaces on.
    XML_DoSchema = 32,
};

// Most entity expansions one document may perform.
constexpr size_t kXMLEntityExpansionLimit = 50000;
// Most characters the entity references in one document's content (whatever
// they expand to), together with all its attribute values, may come to: this
// many, or kXMLEntityExpansionRatio times the document's size in bytes when
// that is larger. A few references to one large entity would otherwise read
// into gigabytes while staying under the count above.
constexpr size_t kXMLEntityExpansionSize = 10 * 1024 * 1024;
constexpr size_t kXMLEntityExpansionRatio = 100;
// Most bytes the library may hold at once for one parse: this many per
// character of the bound above. Counting characters as the parse reads them
// cannot stop what the library builds before handing anything over (every
// attribute of one element, a whole DOM tree), so that is capped in memory; the
// factor leaves room for the tree's own nodes beside its text.
constexpr size_t kXMLParseMemoryPerCharacter = 8;
// What a reader is taken to keep for each element and each attribute handed
// to a handler (a node, its name, its entry in its parent), counted against
// the cap above with what the library holds. A document's own markup takes at
// least 4 bytes an element or attribute, so only expansion (entities, defaulted
// attributes) can come near the cap this way.
constexpr size_t kXMLHandlerNodeBytes = 256;
// Most errors one parse reports (validation errors, mostly: one document may
// cause one for each element and attribute it holds); past them the parse
// stops with an error that says so.
constexpr size_t kXMLErrorsKept = 100;

// The most bytes one parse may take for a document of documentSize bytes: the
// library's blocks, and kXMLHandlerNodeBytes for every element and attribute
// handed to a handler.
size_t XMLParseMemoryCap(size_t documentSize);

class VXMLParser : public VObject {
public:
    VXMLParser() = default;
    ~VXMLParser() override;
    VXMLParser(const VXMLParser&) = delete;
    VXMLParser& operator=(const VXMLParser&) = delete;

    // The file's POSIX path is the document's system id. A VFile is read by
    // the library itself; any other IFile is read whole first (false, with the
    // file layer's error, when that fails; the handler then gets nothing).
    // The bounds above are set by the file's size, or by what has been read
    // when that is more: a pipe, a FIFO or a /proc file, which tell no size,
    // are bounded in step with what they deliver.
    bool Parse(IFile* file, IXMLHandler* handler, uint32_t options);
    // The bytes, system id "frommem"; the encoding is detected from them.
    bool Parse(const void* data, size_t size, IXMLHandler* handler, uint32_t options);
    // The string's UTF-16 units, system id "frommem"; an encoding named by the
    // text's XML declaration is overridden.
    bool Parse(const VString& text, IXMLHandler* handler, uint32_t options);

    // Retains the new folder before releasing the old one; copies the prefix.
    void SetEntitiesLocalFolder(const VString& prefix, VFolder* folder);
    // ResolveEntityFromFolder with this parser's prefix and folder.
    VFile* ResolveEntity(const VString& systemID);

    // The file for a system id that begins with prefix (compared without case
    // or accent sensitivity), the rest taken as a '/' path relative to folder.
    // Null without folder, without the prefix, or when the rest is empty, holds
    // an empty or ".." step or names a folder. Existence is not tested. One
    // reference for the caller.
    static VFile* ResolveEntityFromFolder(const VString& prefix, VFolder* folder, const VString& systemID);

    // Schema locations given to schema processing (XML_DoSchema); empty: none.
    void SetExternalSchemaLocation(const VString& location) { fExternalSchemaLocation = location; }
    void SetExternalNoNamespaceSchemaLocation(const VString& location)
    {
        fExternalNoNamespaceSchemaLocation = location;
    }
    const VString& GetExternalSchemaLocation() const { return fExternalSchemaLocation; }
    const VString& GetExternalNoNamespaceSchemaLocation() const { return fExternalNoNamespaceSchemaLocation; }

    // Whether the running parse reports defaulted attributes.
    bool GetReportDefaultedAttributes() const { return fReportDefaultedAttributes; }

    // Counted start and stop of the library; any thread. Init always answers true.
    static bool Init();
    static void DeInit();

private:
    // Declared here, defined with the adapter: keeps the library's types out of
    // this header.
    // makeSource(budget) gives the document's input source, its memory from
    // the budget's manager.
    template <class MakeSource>
    bool _Parse(size_t documentSize, MakeSource makeSource, IXMLHandler* handler, uint32_t options);

    VString fEntityPrefix;
    VFolder* fEntityFolder = nullptr;
    bool fReportDefaultedAttributes = false;
    VString fExternalSchemaLocation;
    VString fExternalNoNamespaceSchemaLocation;
};

// Holds one count of the library for a scope.
class StXMLParserInit {
public:
    StXMLParserInit() { VXMLParser::Init(); }
    ~StXMLParserInit() { VXMLParser::DeInit(); }
    StXMLParserInit(const StXMLParserInit&) = delete;
    StXMLParserInit& operator=(const StXMLParserInit&) = delete;
};

}  // namespace bkit
