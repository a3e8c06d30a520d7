// IXMLDomWrapperOutput.cpp - serialization of DOM trees into blobs, streams and files.
#include <cstring>
#include <memory>
#include <new>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/values/VBlob.h"
#include "basekit/xml/IXMLDomWrapper.h"
#include "basekit/xml/XMLDomHandles.h"

namespace bkit {

using namespace xercesc;

namespace {

constexpr XMLCh kLSFeature[] = u"LS";
constexpr XMLCh kUTF8[] = u"UTF-8";
constexpr XMLCh kNewLine[] = u"\n";

// Width of the code units of an encoding whose line ends are converted, or 0.
size_t UnitWidth(const VString& encoding)
{
    struct Entry {
        const char* name;
        size_t width;
    } static const kEntries[] = {{"UTF-8", 1}, {"UTF-16", 2}, {"UTF-32", 4},
                                 {"UCS4", 4},  {"UCS-4", 4},  {"UCS_4", 4}};
    for (const Entry& entry : kEntries) {
        if (encoding.CompareToStringRawCase(VString(entry.name)) == 0)
            return entry.width;
    }
    return 0;
}

uint32_t ReadUnit(const uint8_t* p, size_t width)
{
    if (width == 1)
        return *p;
    if (width == 2) {
        uint16_t unit;
        std::memcpy(&unit, p, 2);
        return unit;
    }
    uint32_t unit;
    std::memcpy(&unit, p, 4);
    return unit;
}

// Every LF and CR LF becomes one CR, units of width bytes in the machine's
// order; answers the converted length (never more than size).
size_t ConvertLineEndsToCR(const uint8_t* in, size_t size, size_t width, uint8_t* out)
{
    size_t written = 0;
    size_t units = size / width;
    for (size_t i = 0; i < units; ++i) {
        const uint8_t* unit = in + i * width;
        uint32_t c = ReadUnit(unit, width);
        if (c == 0x0D && i + 1 < units && ReadUnit(unit + width, width) == 0x0A)
            continue;  // the LF that follows becomes the CR
        if (c == 0x0A) {
            uint8_t cr[4] = {0, 0, 0, 0};
            if (width == 1) {
                cr[0] = 0x0D;
            } else if (width == 2) {
                uint16_t v = 0x0D;
                std::memcpy(cr, &v, 2);
            } else {
                uint32_t v = 0x0D;
                std::memcpy(cr, &v, 4);
            }
            std::memcpy(out + written, cr, width);
        } else {
            std::memcpy(out + written, unit, width);
        }
        written += width;
    }
    // A trailing partial unit is kept as it is.
    std::memcpy(out + written, in + units * width, size - units * width);
    return written + (size - units * width);
}

}  // namespace

bool IXMLDomWrapper::CopyMemBufFormatTargetToBlob(VBlob* blob, int32_t offset, size_t& size,
                                                   VXMLMemBufFormatTarget_opaque* target, const VString& encoding,
                                                   bool convertLineEnds)
{
    size = 0;
    if (!blob || !target || offset < 0)
        return false;
    auto* memTarget = reinterpret_cast<MemBufFormatTarget*>(target);
    const uint8_t* bytes = memTarget->getRawBuffer();
    size_t length = memTarget->getLen();
    size_t width = convertLineEnds ? UnitWidth(encoding) : 0;
    VError err = VE_OK;
    if (width == 0 || length == 0) {
        err = blob->PutData(bytes, length, offset);
    } else {
        std::unique_ptr<uint8_t[]> converted(new (std::nothrow) uint8_t[length]);
        if (!converted) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        length = ConvertLineEndsToCR(bytes, length, width, converted.get());
        err = blob->PutData(converted.get(), length, offset);
    }
    if (err != VE_OK)
        return false;
    size = length;
    return true;
}

bool IXMLDomWrapper::SerializeToBlob(XMLDOMNode node, VBlob* blob, int32_t offset, size_t& size, bool prettyPrint)
{
    size = 0;
    DOMNode* domNode = xmldom::Node(node);
    DOMDocument* document = xmldom::DocumentOf(domNode);
    if (!document || !blob || !xmldom::StackHoldsLibraryWalk(domNode))
        return false;
    bool ok = xmldom::Guard(false, [&] {
        DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(kLSFeature);
        if (!implementation)
            return false;
        DOMLSSerializer* serializer = implementation->createLSSerializer();
        if (!serializer)
            return false;
        struct Owner {
            DOMLSSerializer* fSerializer;
            DOMLSOutput* fOutput = nullptr;
            ~Owner()
            {
                if (fOutput)
                    fOutput->release();
                fSerializer->release();
            }
        } owner{serializer};
        DOMConfiguration* config = serializer->getDomConfig();
        if (config->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, prettyPrint))
            config->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, prettyPrint);
        if (config->canSetParameter(XMLUni::fgDOMWRTBOM, false))
            config->setParameter(XMLUni::fgDOMWRTBOM, false);
        serializer->setNewLine(kNewLine);

        owner.fOutput = implementation->createLSOutput();
        const XMLCh* declared = document->getXmlEncoding();
        VString encoding(declared && *declared ? declared : kUTF8);
        owner.fOutput->setEncoding(encoding.GetCPointer());
        MemBufFormatTarget target(1023);
        owner.fOutput->setByteStream(&target);
        if (!serializer->write(domNode, owner.fOutput))
            return false;
        return CopyMemBufFormatTargetToBlob(blob, offset, size,
                                            reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(&target), encoding,
                                            true);
    });
    if (!ok)
        size = 0;
    return ok;
}

namespace {

// The serialized bytes of the node's document, for writers that need them whole.
bool SerializeToBytes(XMLDOMNode node, bool prettyPrint, std::unique_ptr<uint8_t[]>& bytes, size_t& size)
{
    VBlobWithPtr blob;
    if (!IXMLDomWrapper::SerializeToBlob(node, &blob, 0, size, prettyPrint))
        return false;
    bytes.reset(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    if (!bytes) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    return blob.GetData(bytes.get(), size, 0) == VE_OK;
}

}  // namespace

bool IXMLDomWrapper::SerializeToFile(XMLDOMNode node, VFileStream& stream, size_t& size, bool prettyPrint)
{
    std::unique_ptr<uint8_t[]> bytes;
    if (!SerializeToBytes(node, prettyPrint, bytes, size))
        return false;
    return stream.PutData(bytes.get(), size) == VE_OK;
}

bool IXMLDomWrapper::WriteToFile(XMLDOMNode node, const VFile& file, bool prettyPrint)
{
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    if (!SerializeToBytes(node, prettyPrint, bytes, size))
        return false;
    if (file.Exists() && file.Delete() != VE_OK)
        return false;
    if (file.Create() != VE_OK)
        return false;
    VFileStream stream(&file);
    stream.SetCharSet(VTC_UTF_8);
    if (stream.OpenWriting() != VE_OK)
        return false;
    stream.PutData(bytes.get(), size);
    return stream.CloseWriting() == VE_OK;
}

}  // namespace bkit
