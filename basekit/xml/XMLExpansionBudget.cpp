// XMLExpansionBudget.cpp - counting what a parse expands to, and capping the library's memory for it.
#include "basekit/xml/XMLExpansionBudget.h"

#include <atomic>
#include <new>

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "basekit/platform/FaultSeam.h"
#include "basekit/text/VString.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/SAX_Handlers.h"
#include "basekit/xml/VXMLParser.h"

namespace bkit {

namespace {

// The largest peak of the parses ended since it was last taken.
std::atomic<size_t> sLargestPeak{0};

}  // namespace

// The library's memory for one parse. Every block carries its size in a
// header, so that what is live is known at every allocation. While its budget
// is open an allocation that would pass the cap is refused, and every block is
// listed: a parse the refusal interrupts loses some blocks for good (the
// library cleans up after its own errors, not after a shortage of memory), and
// they are freed when the budget closes, unless the parse handed a document
// over. Once the budget closes the cap is lifted, and the manager lives on as
// long as any block it handed out (a DOM document frees its blocks through the
// manager it was built with, long after the parse).
class XMLParseMemory final : public xercesc::MemoryManager {
public:
    XMLParseMemory(XMLExpansionBudget* owner, size_t cap) : fOwner(owner), fCap(cap) {}

    xercesc::MemoryManager* getExceptionMemoryManager() override
    {
        // Exceptions may outlive every block of the parse.
        return xercesc::XMLPlatformUtils::fgMemoryManager;
    }

    void* allocate(XMLSize_t size) override
    {
        if (fOwner && (size > fCap || fLive.load(std::memory_order_relaxed) + fReserved + size + kHeader > fCap)) {
            fOwner->_OnMemoryExceeded(fCap);
            throw xercesc::OutOfMemoryException();
        }
        void* raw = FaultSeam::Check(FaultOperation::kAllocate) != 0 ? nullptr : ::operator new(size + kHeader, std::nothrow);
        if (!raw)
            throw xercesc::OutOfMemoryException();
        Block* block = new (raw) Block{size + kHeader};
        if (fOwner)
            _Link(block);
        const size_t live = fLive.fetch_add(block->fSize, std::memory_order_relaxed) + block->fSize;
        if (fOwner && live > fPeak)
            fPeak = live;
        return static_cast<char*>(raw) + kHeader;
    }

    void deallocate(void* p) override
    {
        if (!p)
            return;
        Block* block = reinterpret_cast<Block*>(static_cast<char*>(p) - kHeader);
        if (block->fListed)
            _Unlink(block);
        const size_t size = block->fSize;
        ::operator delete(block);
        if (fLive.fetch_sub(size, std::memory_order_acq_rel) == size && fClosed.load(std::memory_order_acquire))
            delete this;
    }

    size_t Cap() const { return fCap; }
    // The document turned out larger than first known: the cap only grows.
    // Only while the budget is open, by the parsing task.
    void Raise(size_t cap)
    {
        if (cap > fCap)
            fCap = cap;
    }

    // Counts bytes the parse's handlers keep against the cap, with the
    // library's own; false, and nothing counted, when they would pass it.
    // Only while the budget is open, by the parsing task.
    bool Reserve(size_t bytes)
    {
        if (bytes > fCap || fLive.load(std::memory_order_relaxed) + fReserved + bytes > fCap)
            return false;
        fReserved += bytes;
        return true;
    }

    // Lifts the cap; the listed blocks are kept (a document holds them) or
    // freed. Called by the budget's only owner, while no other task holds a
    // block.
    void Close(bool keepBlocks)
    {
        fOwner = nullptr;
        size_t largest = sLargestPeak.load(std::memory_order_relaxed);
        while (fPeak > largest && !sLargestPeak.compare_exchange_weak(largest, fPeak, std::memory_order_relaxed)) {
        }
        while (Block* block = fBlocks) {
            _Unlink(block);
            if (!keepBlocks) {
                fLive.fetch_sub(block->fSize, std::memory_order_relaxed);
                ::operator delete(block);
            }
        }
        fClosed.store(true, std::memory_order_release);
        if (fLive.load(std::memory_order_acquire) == 0)
            delete this;
    }

private:
    struct Block {
        size_t fSize;
        Block* fPrevious = nullptr;
        Block* fNext = nullptr;
        bool fListed = false;
    };
    // Keeps the blocks as aligned as the allocator's own.
    static constexpr size_t kHeader =
        (sizeof(Block) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);

    // The list is only touched while the budget is open, by the parsing task.
    void _Link(Block* block)
    {
        block->fListed = true;
        block->fNext = fBlocks;
        if (fBlocks)
            fBlocks->fPrevious = block;
        fBlocks = block;
    }
    void _Unlink(Block* block)
    {
        if (block->fPrevious)
            block->fPrevious->fNext = block->fNext;
        else
            fBlocks = block->fNext;
        if (block->fNext)
            block->fNext->fPrevious = block->fPrevious;
        block->fPrevious = block->fNext = nullptr;
        block->fListed = false;
    }

    XMLExpansionBudget* fOwner;
    size_t fCap;
    // The most bytes live at once while the budget was open.
    size_t fPeak = 0;
    // What the handlers keep, by estimate (see Reserve).
    size_t fReserved = 0;
    Block* fBlocks = nullptr;
    std::atomic<size_t> fLive{0};
    std::atomic<bool> fClosed{false};
};

namespace {

size_t CharacterLimit(size_t documentSize)
{
    return documentSize > kXMLEntityExpansionSize / kXMLEntityExpansionRatio ? documentSize * kXMLEntityExpansionRatio
                                                                             : kXMLEntityExpansionSize;
}

}  // namespace

size_t XMLParseMemoryCap(size_t documentSize) { return CharacterLimit(documentSize) * kXMLParseMemoryPerCharacter; }

XMLExpansionBudget::XMLExpansionBudget(size_t documentSize)
    : fDocumentSize(documentSize),
      fLimit(CharacterLimit(documentSize)),
      fMemory(new XMLParseMemory(this, XMLParseMemoryCap(documentSize)))
{
}

void XMLExpansionBudget::CountDocumentBytes(size_t read)
{
    if (read <= fDocumentSize)
        return;
    fDocumentSize = read;
    fLimit = CharacterLimit(read);
    fMemory->Raise(XMLParseMemoryCap(read));
}

XMLExpansionBudget::~XMLExpansionBudget() { fMemory->Close(fKeepBlocks); }

xercesc::MemoryManager* XMLExpansionBudget::GetMemoryManager() const { return fMemory; }

size_t XMLExpansionBudget::TakeLargestMemoryPeak()
{
    return sLargestPeak.exchange(0, std::memory_order_relaxed);
}

void XMLExpansionBudget::EnterEntity(const xercesc::XMLEntityDecl& entity)
{
    fEntities.push_back(entity.isExternal());
    // Counted before it is read, so that no kind of content an entity holds
    // can be expanded past the bound, whatever the library does with it.
    if (!entity.isExternal())
        _Count(entity.getValueLen());
}

void XMLExpansionBudget::LeaveEntity()
{
    if (!fEntities.empty())
        fEntities.pop_back();
}

void XMLExpansionBudget::CountDelivered(size_t length)
{
    if (!fEntities.empty() && fEntities.back())
        _Count(length);
}

void XMLExpansionBudget::CountDeclarationEvent(const xercesc::ReaderMgr& readers, size_t delivered)
{
    const xercesc::XMLEntityDecl* entity = readers.getCurrentEntity();
    if (!entity || entity->isExternal()) {
        _Count(delivered);
        return;
    }
    // Reader numbers only grow, and a reader is pushed above every live
    // one: the counted readers numbered above the innermost have ended.
    const XMLSize_t reader = readers.getCurrentReaderNum();
    while (!fCountedReaders.empty() && fCountedReaders.back() > reader)
        fCountedReaders.pop_back();
    if (!fCountedReaders.empty() && fCountedReaders.back() == reader)
        return;
    fCountedReaders.push_back(reader);
    _Count(entity->getValueLen());
}

void XMLExpansionBudget::CountAttributes(const xercesc::RefVectorOf<xercesc::XMLAttr>& list, size_t count)
{
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* attr = list.elementAt(i);
        const XMLCh* value = attr ? attr->getValue() : nullptr;
        if (value)
            length += xercesc::XMLString::stringLen(value);
    }
    _Count(length);
}

void XMLExpansionBudget::CountError()
{
    if (++fErrors <= kXMLErrorsKept)
        return;
    // The first errors are what a user needs to mend the document; the rest
    // would only take memory, as many as the document has elements.
    Refuse("The document has more than ", kXMLErrorsKept, " errors: reading stops here");
}

void XMLExpansionBudget::CountHandedNodes(size_t count)
{
    if (fMemory->Reserve(count * kXMLHandlerNodeBytes))
        return;
    // Only expansion (entities, defaulted attributes) gives more elements and
    // attributes than the document's own bytes pay for, but the message says
    // what was passed, not a guess at why.
    VString message("Reading the document takes more than ");
    message.AppendLong8(static_cast<int64_t>(fMemory->Cap()));
    message.AppendCString(" bytes of memory, the bound for a document of ");
    message.AppendLong8(static_cast<int64_t>(fDocumentSize));
    message.AppendCString(" bytes: it gives too many elements and attributes (");
    message.AppendLong8(static_cast<int64_t>(kXMLHandlerNodeBytes));
    message.AppendCString(" bytes each)");
    Refuse(message);
}

void XMLExpansionBudget::_Count(size_t length)
{
    fUsed += length;
    if (fUsed <= fLimit)
        return;
    Refuse("The entity references and attribute values of the document come to more than ", fLimit,
           " characters");
}

void XMLExpansionBudget::_OnMemoryExceeded(size_t cap)
{
    // The library may ask again while it unwinds: one error is enough.
    if (fMemoryExceeded)
        return;
    fMemoryExceeded = true;
    _PushBound("Reading the document takes more than ", cap,
               " bytes of memory: its entity references or attribute values expand too far");
}

void XMLExpansionBudget::_PushBound(const char* before, size_t bound, const char* after) const
{
    VString message(before);
    message.AppendLong8(static_cast<int64_t>(bound));
    message.AppendCString(after);
    _PushError(message);
}

void XMLExpansionBudget::Refuse(const char* before, size_t bound, const char* after) const
{
    _PushBound(before, bound, after);
    throw XMLExpansionExceeded();
}

void XMLExpansionBudget::Refuse(const VString& message) const
{
    _PushError(message);
    throw XMLExpansionExceeded();
}

void XMLExpansionBudget::_PushError(const VString& message) const
{
    const xercesc::Locator* where = fLocator;
    PushXMLError(VE_XML_FATAL_ERROR, message, where ? where->getSystemId() : nullptr,
                 where ? where->getPublicId() : nullptr, where ? static_cast<int64_t>(where->getLineNumber()) : 0,
                 where ? static_cast<int64_t>(where->getColumnNumber()) : 0);
}

}  // namespace bkit
