// VXMLBagHandler.cpp - XML documents of bags: the bag handlers, file and stream forms, and loaders.
#include "basekit/bags/VXMLBagHandler.h"

#include "basekit/files/IFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/xml/VXMLParser.h"

namespace bkit {

namespace {

const char kUTF8Declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const char kUTF16Declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";
const char kStreamRootName[] = "bag";
constexpr uint32_t kStreamMarker = 1;

// Parses source into bag under its own error level and answers that level's
// last error.
template <class Source>
VError ParseIntoBag(Source& source, const VString& rootName, VValueBag& bag, uint32_t options,
                    const VString* entityPrefix, VFolder* entityFolder)
{
    StErrorContextInstaller errors;
    StXMLParserInit library;
    VRefPtr<VXMLBagHandler_UniqueElement> handler =
        VRefPtr<VXMLBagHandler_UniqueElement>::Adopt(new VXMLBagHandler_UniqueElement(&bag, rootName));
    if (entityPrefix != nullptr && entityFolder != nullptr && entityFolder->Exists())
        handler->SetEntitiesLocalFolder(*entityPrefix, entityFolder);
    VXMLParser parser;
    parser.Parse(source, handler.Get(), options);
    return errors.GetLastError();
}

}  // namespace

// --- VXMLBagHandler ---

VXMLBagHandler::VXMLBagHandler(VValueBag* target)
{
    fStack.AddTail(target);
}

VXMLBagHandler::~VXMLBagHandler() = default;

IXMLHandler* VXMLBagHandler::StartElement(const VString& elementName)
{
    VValueBag* top = _Top();
    if (top == nullptr)
        return nullptr;
    // Bags are freed, copied and written recursively: a document nested
    // deeper than any bag needs is refused rather than allowed to exhaust the
    // stack later.
    if (fStack.GetCount() > kMaxDepth) {
        // Once: every element at that depth is refused, and a record for
        // each would let a document grow the error stack without bound.
        if (!fRefusedDeeper)
            _ThrowError(VE_XML_FATAL_ERROR);
        fRefusedDeeper = true;
        return nullptr;
    }
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    top->AddElement(StPackedDictionaryKey(elementName), bag.Get());
    fStack.AddTail(bag.Get());
    Retain();
    return this;
}

void VXMLBagHandler::EndElement(const VString&)
{
    fStack.DeleteNth(fStack.GetCount());
}

void VXMLBagHandler::SetAttribute(const VString& name, const VString& value)
{
    if (VValueBag* top = _Top())
        top->SetString(StPackedDictionaryKey(name), value);
}

void VXMLBagHandler::SetText(const VString& text)
{
    if (VValueBag* top = _Top())
        top->AppendToCData(text);
}

// --- VXMLBagHandler_UniqueElement ---

VXMLBagHandler_UniqueElement::VXMLBagHandler_UniqueElement(VValueBag* target, const VString& expectedName)
    : fTarget(RetainRefCountable(target)), fExpectedName(expectedName)
{
}

VXMLBagHandler_UniqueElement::~VXMLBagHandler_UniqueElement()
{
    ReleaseRefCountable(&fTarget);
}

IXMLHandler* VXMLBagHandler_UniqueElement::StartElement(const VString& elementName)
{
    ++fRootCount;
    if (!fExpectedName.IsEmpty() && !elementName.EqualToString(fExpectedName, false))
        return nullptr;
    if (fRootCount > 1 || fTarget == nullptr)
        return nullptr;
    if (fExpectedName.IsEmpty())
        fExpectedName = elementName;
    return new VXMLBagHandler(fTarget);
}

void VXMLBagHandler_UniqueElement::SetText(const VString&) {}

// --- documents ---

VError WriteBagToFileInXML(const VValueBag& bag, const VString& rootName, IFile* file, bool indented)
{
    if (file == nullptr)
        return VE_OK;
    if (VError err = bag.CheckXMLNames(rootName); err != VE_OK)
        return err;
    VString text(kUTF8Declaration);
    bag.DumpXML(text, rootName, indented);
    // Mode 1 leaves the line ends as the writer made them. A failed write
    // keeps the file's previous content, which stays the better copy: the
    // file is not deleted.
    return file->SetContentAsString(text, VTC_UTF_8, static_cast<ECarriageReturnMode>(1), false);
}

VError WriteBagToStreamInXML(const VValueBag& bag, VStream* stream)
{
    if (VError err = bag.CheckXMLNames(VString(kStreamRootName)); err != VE_OK)
        return err;
    VString text(kUTF16Declaration);
    bag.DumpXML(text, VString(kStreamRootName), false);
    stream->Put(kStreamMarker);
    return text.WriteToStream(stream);
}

VError ReadBagFromStreamInXML(VValueBag& bag, VStream* stream)
{
    uint32_t marker = 0;
    stream->Get(marker);
    if (marker != kStreamMarker || stream->GetLastError() != VE_OK)
        return stream->GetLastError();
    VString text;
    VError err = text.ReadFromStream(stream);
    if (err != VE_OK)
        return err;
    return ParseIntoBag(text, VString(kStreamRootName), bag, 0, nullptr, nullptr);
}

VError LoadBagFromXML(const VString& xmlText, const VString& rootName, VValueBag& bag, uint32_t options)
{
    return ParseIntoBag(xmlText, rootName, bag, options, nullptr, nullptr);
}

VError LoadBagFromXML(IFile* file, const VString& rootName, VValueBag& bag, uint32_t options)
{
    return ParseIntoBag(file, rootName, bag, options, nullptr, nullptr);
}

VError LoadBagFromXML(IFile* file, const VString& rootName, VValueBag& bag, uint32_t options,
                      const VString* entityPrefix, VFolder* entityFolder)
{
    return ParseIntoBag(file, rootName, bag, options, entityPrefix, entityFolder);
}

VError LoadBagFromXML(const VString& xmlText, const VString& rootName, VValueBag& bag, uint32_t options,
                      const VString* entityPrefix, VFolder* entityFolder)
{
    return ParseIntoBag(xmlText, rootName, bag, options, entityPrefix, entityFolder);
}

}  // namespace bkit
