// VXMLParser.cpp - starting the library, one parse, and entity resolution from a folder.
#include "basekit/xml/VXMLParser.h"

#include <memory>
#include <mutex>
#include <new>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUniDefs.hpp>

#include "basekit/files/IFile.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/SAX_Handlers.h"
#include "basekit/xml/XMLDTDCounting.h"
#include "basekit/xml/XMLExpansionBudget.h"

namespace bkit {

namespace {

std::mutex sInitMutex;
int sInitCount = 0;

const XMLCh kFromMemory[] = u"frommem";

}  // namespace

bool VXMLParser::Init()
{
    std::lock_guard<std::mutex> lock(sInitMutex);
    if (sInitCount++ == 0)
        xercesc::XMLPlatformUtils::Initialize();
    return true;
}

void VXMLParser::DeInit()
{
    std::lock_guard<std::mutex> lock(sInitMutex);
    if (sInitCount > 0 && --sInitCount == 0)
        xercesc::XMLPlatformUtils::Terminate();
}

VXMLParser::~VXMLParser()
{
    if (fEntityFolder)
        fEntityFolder->Release();
}

void VXMLParser::SetEntitiesLocalFolder(const VString& prefix, VFolder* folder)
{
    SetEntityFolderReference(&fEntityFolder, folder);
    fEntityPrefix = prefix;
}

VFile* VXMLParser::ResolveEntity(const VString& systemID)
{
    return ResolveEntityFromFolder(fEntityPrefix, fEntityFolder, systemID);
}

VFile* VXMLParser::ResolveEntityFromFolder(const VString& prefix, VFolder* folder, const VString& systemID)
{
    if (!folder || (!prefix.IsEmpty() && !systemID.BeginsWith(prefix)))
        return nullptr;
    VString rest(systemID);
    if (!prefix.IsEmpty()) {
        VIndex at = rest.Find(prefix);
        if (at <= 0)
            return nullptr;
        rest.Remove(at, prefix.GetLength());
    }
    // An entity must stay inside its folder: an empty step climbs in the
    // internal path form and ".." climbs in both forms, so either refuses the
    // id, as does a ':' that would become a separator.
    std::vector<VString> steps;
    rest.GetSubStrings('/', steps, true);
    if (steps.empty())
        return nullptr;
    for (const VString& step : steps) {
        if (step.IsEmpty() || step.EqualToUSASCIICString("..") || step.FindUniChar(':') > 0)
            return nullptr;
    }
    rest.Exchange('/', ':');
    VFilePath path(folder->GetPath(), rest, FPS_SYSTEM);
    if (!path.IsValid() || path.IsEmpty() || !path.IsFile() || !path.IsChildOfRawPath(folder->GetPath()))
        return nullptr;
    return new VFile(path, folder->GetFileSystem());
}

// Throws what the library throws; every caller runs it inside Guarded below.
template <class MakeSource>
bool VXMLParser::_Parse(size_t documentSize, MakeSource makeSource, IXMLHandler* handler, uint32_t options)
{
    using namespace xercesc;
    // All three outlive the parser, which keeps pointers to them; the
    // parser's memory, and the source's (its stream is made while the parse
    // starts, where a refusal would lose it), come from the budget.
    SecurityManager security;
    security.setEntityExpansionLimit(kXMLEntityExpansionLimit);
    XMLExpansionBudget budget(documentSize);
    const std::unique_ptr<InputSource> source = makeSource(budget);
    // Counts what the document type reads, and opens the scanner's position
    // to the budget's errors.
    struct BoundedSAXParser : DTDCounting<SAXParser> {
        using DTDCounting<SAXParser>::DTDCounting;
        const Locator* GetLocator() const { return getScanner().getLocator(); }
    } parser(budget, nullptr, budget.GetMemoryManager());
    if (options & XML_ValidateAlways)
        parser.setValidationScheme(SAXParser::Val_Always);
    else if (options & XML_ValidateNever)
        parser.setValidationScheme(SAXParser::Val_Never);
    else
        parser.setValidationScheme(SAXParser::Val_Auto);

    bool namespaces = (options & XML_DoNamespaces) != 0;
    parser.setDoSchema(false);
    if ((options & XML_DoSchema) && !(options & XML_ValidateNever)) {
        parser.setDoSchema(true);
        if (!fExternalSchemaLocation.IsEmpty())
            parser.setExternalSchemaLocation(fExternalSchemaLocation.GetCPointer());
        namespaces = true;
        if (!fExternalNoNamespaceSchemaLocation.IsEmpty())
            parser.setExternalNoNamespaceSchemaLocation(fExternalNoNamespaceSchemaLocation.GetCPointer());
    }
    parser.setDoNamespaces(namespaces);
    parser.setLoadExternalDTD((options & XML_LoadExternalDTD) != 0);

    // Untrusted documents: entities come only through the handlers'
    // resolution (an entity folder), never from the library's own look-up of
    // paths and URLs, and their expansion is bounded.
    parser.setDisableDefaultEntityResolution(true);
    parser.setSecurityManager(&security);

    fReportDefaultedAttributes = (options & XML_ReportDefaultedAttributes) != 0;
    budget.SetLocator(parser.GetLocator());
    SAX_Handlers adapter(&parser, this, handler, budget);
    parser.installAdvDocHandler(&adapter);
    parser.setErrorHandler(&adapter);
    parser.setEntityResolver(&adapter);
    // Without one the parser does not follow the document type.
    parser.setDTDHandler(&adapter);
    // The adapter goes before the parser: unhook it first, thrown or not.
    struct Unhook {
        SAXParser& fParser;
        SAX_Handlers& fAdapter;
        ~Unhook()
        {
            fParser.removeAdvDocHandler(&fAdapter);
            fParser.setErrorHandler(nullptr);
            fParser.setEntityResolver(nullptr);
            fParser.setDTDHandler(nullptr);
        }
    } unhook{parser, adapter};
    try {
        parser.parse(*source);
    } catch (const OutOfMemoryException&) {
        // Refused by the budget, which pushed why: the parse's own error, not
        // a shortage of memory.
        if (budget.MemoryExceeded())
            throw XMLExpansionExceeded();
        throw;
    }
    // The library may have gone on after a refusal it caught itself.
    return parser.getErrorCount() == 0 && !budget.MemoryExceeded();
}

namespace {

// Runs one step of a parse that may throw out of the library (building input
// sources, the parse itself); every throw becomes an error record and false.
template <class Step>
bool Guarded(const XMLCh* systemID, Step step)
{
    try {
        return step();
    } catch (const xercesc::OutOfMemoryException&) {
        _ThrowError(VE_MEMORY_FULL);
    } catch (const xercesc::XMLException& e) {
        PushXMLError(VE_XML_FATAL_ERROR, VString(e.getMessage() ? e.getMessage() : u""), systemID, nullptr, 0, 0);
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
    } catch (const XMLExpansionExceeded&) {
        // Already pushed by the budget, where the parse stood.
    }
    return false;
}

// The bytes of a file as the library reads them, told to the budget, so that
// its bounds follow what was read where the size could not be known
// beforehand (a pipe, a FIFO, a /proc file all tell 0) or grew since.
class CountedStream final : public xercesc::BinInputStream {
public:
    // Adopts file.
    CountedStream(xercesc::BinInputStream* file, XMLExpansionBudget& budget) : fFile(file), fBudget(budget) {}
    ~CountedStream() override { delete fFile; }

    XMLFilePos curPos() const override { return fFile->curPos(); }
    XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override
    {
        const XMLSize_t read = fFile->readBytes(toFill, maxToRead);
        fRead += read;
        fBudget.CountDocumentBytes(fRead);
        return read;
    }
    const XMLCh* getContentType() const override { return fFile->getContentType(); }
    const XMLCh* getEncoding() const override { return fFile->getEncoding(); }

private:
    xercesc::BinInputStream* fFile;
    XMLExpansionBudget& fBudget;
    size_t fRead = 0;
};

// A file read by the library itself, counted as above. The budget outlives
// the source.
class CountedFileSource final : public xercesc::LocalFileInputSource {
public:
    CountedFileSource(const XMLCh* path, XMLExpansionBudget& budget)
        : LocalFileInputSource(path, budget.GetMemoryManager()), fBudget(budget)
    {
    }
    xercesc::BinInputStream* makeStream() const override
    {
        xercesc::BinInputStream* file = LocalFileInputSource::makeStream();
        if (!file)
            return nullptr;
        try {
            return new (getMemoryManager()) CountedStream(file, fBudget);
        } catch (...) {
            delete file;
            throw;
        }
    }

private:
    XMLExpansionBudget& fBudget;
};

// Makes a source over size bytes at data (none when data is null), not
// adopted, with the encoding forced when one is given.
auto MemorySource(const void* data, size_t size, const XMLCh* systemID, const XMLCh* encoding = nullptr)
{
    return [=](XMLExpansionBudget& budget) {
        static const XMLByte kNothing = 0;
        auto source = std::make_unique<xercesc::MemBufInputSource>(
            data ? static_cast<const XMLByte*>(data) : &kNothing, data ? size : 0, systemID, false,
            budget.GetMemoryManager());
        if (encoding)
            source->setEncoding(encoding);
        return source;
    };
}

}  // namespace

bool VXMLParser::Parse(IFile* file, IXMLHandler* handler, uint32_t options)
{
    if (!file)
        return false;
    StXMLParserInit library;
    VString path;
    file->GetPlatformPath(path, FPS_POSIX);
    if (dynamic_cast<VFile*>(file)) {
        // Only the bounds need the size. A file that cannot tell it (a pipe,
        // a FIFO, a /proc file say 0) starts from the smallest bounds, which
        // then follow what is read; the parse reports what else is wrong.
        long long size = 0;
        {
            StErrorContextInstaller quiet(false, true);
            if (file->GetSize(&size) != VE_OK || size < 0)
                size = 0;
        }
        return Guarded(path.GetCPointer(), [&] {
            return _Parse(
                static_cast<size_t>(size),
                [&](XMLExpansionBudget& budget) {
                    return std::make_unique<CountedFileSource>(path.GetCPointer(), budget);
                },
                handler, options);
        });
    }
    VMemoryBuffer<> content;
    if (file->GetContent(content) != VE_OK)
        return false;
    return Guarded(path.GetCPointer(), [&] {
        return _Parse(content.GetDataSize(),
                      MemorySource(content.GetDataPtr(), content.GetDataSize(), path.GetCPointer()), handler, options);
    });
}

bool VXMLParser::Parse(const void* data, size_t size, IXMLHandler* handler, uint32_t options)
{
    StXMLParserInit library;
    return Guarded(kFromMemory, [&] {
        return _Parse(data ? size : 0, MemorySource(data, size, kFromMemory), handler, options);
    });
}

bool VXMLParser::Parse(const VString& text, IXMLHandler* handler, uint32_t options)
{
    StXMLParserInit library;
    const size_t size = static_cast<size_t>(text.GetLength()) * sizeof(UniChar);
    return Guarded(kFromMemory, [&] {
        return _Parse(size,
                      MemorySource(text.GetCPointer(), size, kFromMemory, xercesc::XMLUni::fgUTF16LEncodingString),
                      handler, options);
    });
}

}  // namespace bkit
