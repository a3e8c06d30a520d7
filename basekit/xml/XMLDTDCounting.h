// XMLDTDCounting.h - keeping what a document type reads to the parse's expansion budget.
//
// This file defines DTDCounting, a layer over one of the library's parsers
// (the SAX parser, the DOM load-and-save parser) that counts what the
// document type's declarations are read from against the parse's
// XMLExpansionBudget. The library expands parameter entities between the
// declarations of the document type without telling the document handler,
// so a short document repeating a large one would otherwise read without
// bound; the parser's document type callbacks are the only place that sees
// that reading, through the scanner's reader stack.
//
// Contracts:
// - Every callback is passed on to the parser it wraps, after counting.
// - An internal parameter entity's replacement text is counted whole the
//   first time the library reports anything read from it (a declaration, a
//   comment, an instruction, whitespace), which is as it begins for any entity
//   that holds more than whitespace and references. What the document itself
//   and external entities deliver to those callbacks is counted as it arrives
//   (see XMLExpansionBudget::CountDeclarationEvent).
// - The SAX parser only reports its document type when it has a DTD handler:
//   give it one.
// - Past the bound the budget pushes 'xmlc' 3 and throws XMLExpansionExceeded
//   out of the parse.
#pragma once

#include <utility>

#include <xercesc/framework/XMLNotationDecl.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/DTD/DTDAttDef.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include "basekit/xml/XMLExpansionBudget.h"

namespace bkit {

template <class Parser>
class DTDCounting : public Parser {
public:
    // The budget outlives the parser; args build the parser.
    template <class... Args>
    explicit DTDCounting(XMLExpansionBudget& budget, Args&&... args)
        : Parser(std::forward<Args>(args)...), fBudget(budget)
    {
    }

    void doctypeComment(const XMLCh* const comment) override
    {
        _Count(xercesc::XMLString::stringLen(comment));
        Parser::doctypeComment(comment);
    }
    void doctypePI(const XMLCh* const target, const XMLCh* const data) override
    {
        _Count(xercesc::XMLString::stringLen(target) + xercesc::XMLString::stringLen(data));
        Parser::doctypePI(target, data);
    }
    void doctypeWhitespace(const XMLCh* const chars, const XMLSize_t length) override
    {
        _Count(length);
        Parser::doctypeWhitespace(chars, length);
    }
    // Declarations deliver nothing to count by themselves (what an entity
    // declares is counted when it is referenced), but they tell which entity
    // is being read.
    void elementDecl(const xercesc::DTDElementDecl& decl, const bool isIgnored) override
    {
        _Count(0);
        Parser::elementDecl(decl, isIgnored);
    }
    void startAttList(const xercesc::DTDElementDecl& elemDecl) override
    {
        _Count(0);
        Parser::startAttList(elemDecl);
    }
    void attDef(const xercesc::DTDElementDecl& elemDecl, const xercesc::DTDAttDef& attDef,
                const bool ignoring) override
    {
        _Count(0);
        Parser::attDef(elemDecl, attDef, ignoring);
    }
    void entityDecl(const xercesc::DTDEntityDecl& entityDecl, const bool isPEDecl, const bool isIgnored) override
    {
        _Count(0);
        Parser::entityDecl(entityDecl, isPEDecl, isIgnored);
    }
    void notationDecl(const xercesc::XMLNotationDecl& notDecl, const bool isIgnored) override
    {
        _Count(0);
        Parser::notationDecl(notDecl, isIgnored);
    }

private:
    // The SAX parser shows its scanner by reference, the DOM parser by pointer.
    static const xercesc::XMLScanner* _Scanner(const xercesc::XMLScanner& scanner) { return &scanner; }
    static const xercesc::XMLScanner* _Scanner(const xercesc::XMLScanner* scanner) { return scanner; }

    void _Count(size_t delivered)
    {
        const xercesc::XMLScanner* scanner = _Scanner(this->getScanner());
        if (const xercesc::ReaderMgr* readers = scanner ? scanner->getReaderMgr() : nullptr)
            fBudget.CountDeclarationEvent(*readers, delivered);
    }

    XMLExpansionBudget& fBudget;
};

}  // namespace bkit
