// XMLExpansionBudget.h - the bounds one parse of an untrusted document keeps to.
//
// This file defines XMLExpansionBudget, which a SAX parse or a DOM build owns
// for its length, and XMLExpansionExceeded, thrown out of the library's parse
// once the budget is spent. A small document may expand far beyond its own
// size (one large entity referenced many times, in text, markup or attribute
// values, or a long attribute default given to every element), and any
// document may cause an error for each element and attribute it holds; the
// budget stops it in these ways:
// - Characters are counted: the replacement text of an internal entity whole
//   as its reference begins, before the library reads any of it, whatever it
//   holds (text, elements, instructions, comments, whitespace); what an
//   external entity delivers as it arrives; and every attribute value (the
//   library expands references inside values without telling anyone, and
//   literal values are bounded by the document, so counting them all costs a
//   legitimate document at most its own size).
//   Between the declarations of a document type, an internal parameter
//   entity's replacement text is counted whole the first time the library
//   reports something read from it, and what the document and external
//   entities deliver there (comments, instructions, whitespace) as it comes.
// - The library's memory for the parse comes from the budget's memory manager,
//   capped at kXMLParseMemoryPerCharacter bytes per character of the bound, so
//   that what the library builds before any handler sees it (all attributes of
//   one element, a DOM tree) stays bounded too. What a SAX parse hands its
//   handlers counts against the same cap, kXMLHandlerNodeBytes an element or
//   attribute, since a handler may keep a node for each.
// - Errors are counted: past kXMLErrorsKept the parse stops, so that the error
//   records, which outweigh the markup that causes them many times over, stay
//   few.
// Either way the budget pushes 'xmlc' 3 with the position where the parse
// stood; a spent count throws XMLExpansionExceeded, a spent memory cap makes
// the library's allocation throw its OutOfMemoryException (MemoryExceeded then
// tells the two kinds of out-of-memory apart), or throws XMLExpansionExceeded
// when the handlers' share spends it.
//
// Contracts:
// - Build the parser with GetMemoryManager() and declare the budget before the
//   parser: the parser must go first.
// - When the budget goes, the library's blocks still live are freed (after an
//   interrupted parse the library loses some), unless KeepBlocks was called:
//   then they, and every later one (an adopted DOM document, its changes and
//   clones), stay with the budget's manager, no longer capped, and the manager
//   frees itself with the last block it handed out.
// - One parse on one task at a time; blocks left behind may be freed from any
//   task.
#pragma once

#include <cstddef>
#include <vector>

#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLEntityDecl.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/RefVectorOf.hpp>

namespace bkit {

class VString;
class XMLParseMemory;

// Thrown through the library's parse by a callback once the budget is spent,
// to stop the parse there; the error is already pushed.
struct XMLExpansionExceeded {};

class XMLExpansionBudget {
public:
    // documentSize (bytes) sets the bounds: kXMLEntityExpansionSize characters,
    // or kXMLEntityExpansionRatio times the document when that is more. Give
    // 0 when the size is not known beforehand and report what is read through
    // CountDocumentBytes.
    explicit XMLExpansionBudget(size_t documentSize);
    ~XMLExpansionBudget();
    XMLExpansionBudget(const XMLExpansionBudget&) = delete;
    XMLExpansionBudget& operator=(const XMLExpansionBudget&) = delete;

    // The manager to build the parser with.
    xercesc::MemoryManager* GetMemoryManager() const;
    // The library has read this many bytes of the document in all: past the
    // size the budget was built with, the bounds grow in the same proportion
    // to what was read (a pipe or a FIFO tells no size beforehand). Bytes are
    // read before the library holds anything for them, so the bounds never
    // lag behind the markup they pay for.
    void CountDocumentBytes(size_t read);
    // Where the parse stands, for the errors the budget pushes; may stay null.
    void SetLocator(const xercesc::Locator* where) { fLocator = where; }

    // An entity reference begins: an internal entity's replacement text is
    // counted whole, now.
    void EnterEntity(const xercesc::XMLEntityDecl& entity);
    void LeaveEntity();
    // Counts length characters the library delivered (text, whitespace, an
    // instruction, a comment) when they come from an external entity; an
    // internal one was counted whole when it began.
    void CountDelivered(size_t length);
    // The library reported something read in the document type (a
    // declaration, a comment, an instruction, whitespace: delivered
    // characters) while readers stood where they do. The innermost reader's
    // text is counted whole when it is an internal parameter entity not
    // counted yet; otherwise the delivered characters are counted (the
    // document's are bounded by its size, and whitespace that ran past the
    // end of an entity of nothing else is counted this way).
    void CountDeclarationEvent(const xercesc::ReaderMgr& readers, size_t delivered);
    // Counts the values of the first count attributes of list.
    void CountAttributes(const xercesc::RefVectorOf<xercesc::XMLAttr>& list, size_t count);
    // count elements and attributes were handed to handlers: charged to the
    // memory cap, kXMLHandlerNodeBytes each.
    void CountHandedNodes(size_t count);
    // The library reported an error (not a fatal one) that is about to be
    // pushed; past kXMLErrorsKept, the budget's error is pushed instead.
    void CountError();

    // Pushes 'xmlc' 3 with message where the parse stands and stops the
    // parse: a bound was passed.
    [[noreturn]] void Refuse(const VString& message) const;
    // The same with the message "<before><bound><after>".
    [[noreturn]] void Refuse(const char* before, size_t bound, const char* after) const;

    // The parse handed over what the library built (a DOM document): keep it
    // when the budget goes. Call it only once the parser is gone or done.
    void KeepBlocks() { fKeepBlocks = true; }

    // Whether the library was refused memory for going past the cap (the
    // error is pushed then).
    bool MemoryExceeded() const { return fMemoryExceeded; }

    // The most bytes the library held at once for any one parse that ended
    // since the last call (0 when none), and starts over: what the cap
    // governs, whatever else the process holds (a sanitizer's shadow, the
    // handlers' copies). Any thread.
    static size_t TakeLargestMemoryPeak();

private:
    friend class XMLParseMemory;
    void _Count(size_t length);
    // Pushes 'xmlc' 3 with message where the parse stands.
    void _PushError(const VString& message) const;
    // Pushes the error "<before><bound><after>".
    void _PushBound(const char* before, size_t bound, const char* after) const;
    // Called by the manager when an allocation would pass the cap.
    void _OnMemoryExceeded(size_t cap);

    // The bytes the bounds are set for: the size known beforehand, or what
    // was read when more.
    size_t fDocumentSize;
    size_t fLimit;
    size_t fUsed = 0;
    size_t fErrors = 0;
    // One entry per entity being read, innermost last: whether it is external.
    std::vector<bool> fEntities;
    // The numbers of the internal parameter entity readers counted whole,
    // ascending; those above the innermost reader's are gone.
    std::vector<XMLSize_t> fCountedReaders;
    bool fMemoryExceeded = false;
    bool fKeepBlocks = false;
    const xercesc::Locator* fLocator = nullptr;
    XMLParseMemory* fMemory;
};

}  // namespace bkit
