// bench_readers_xml.cpp - the readers of XML documents, on the shapes that cost them most.
//
// The SAX parser (VXMLParser) reads plain elements from a FIFO, whose size is
// not known beforehand, and from a file on disk for comparison; one element
// with many attributes; a text split by many comments; deep nesting. The DOM
// wrapper builds and serializes the same wide and split shapes. Bags read XML
// with many distinct attribute and element names and their binary stream with
// many names. The localization manager reads XLIFF with nested groups, a
// group carrying many attributes and many units, and "strings" files of many
// keys; the type-identifier manager reads a declaration with many extension
// tags, an identifier split by comments and many declarations. See
// ReaderBench.h for the sizes, names and counters. Files live in a private
// folder under $TMPDIR, removed at the end.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "bench/ReaderBench.h"
#include "basekit/bags/VValueBag.h"
#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/values/VBlob.h"
#include "basekit/xml/IXMLDomWrapper.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/VLocalizationManager.h"
#include "basekit/xml/VUTIManager.h"
#include "basekit/xml/VXMLParser.h"

using namespace bkit;
using namespace bkit::bench;

namespace {

// Accepts every element and keeps its text, as a reader that builds a tree
// would; counts the elements it saw.
class KeepingHandler : public VObject, public IXMLHandler {
public:
    explicit KeepingHandler(size_t* elements) : fElements(elements) {}
    IXMLHandler* StartElement(const VString&) override
    {
        ++*fElements;
        return new KeepingHandler(fElements);
    }
    void SetAttribute(const VString&, const VString& value) override { fText.AppendString(value); }
    void SetText(const VString& text) override { fText.AppendString(text); }

private:
    size_t* fElements;
    VString fText;
};

bool ParseBytes(const std::string& xml, size_t expectedElements)
{
    StErrorContextInstaller quiet(false, true);
    VXMLParser parser;
    size_t elements = 0;
    VRefPtr<KeepingHandler> root = VRefPtr<KeepingHandler>::Adopt(new KeepingHandler(&elements));
    return parser.Parse(xml.data(), xml.size(), root.Get(), XML_ValidateNever) && elements == expectedElements;
}

// --- shapes ---

std::string PlainElements(int64_t n)
{
    std::string xml = "<r>";
    for (int64_t i = 0; i < n; ++i)
        xml += "<a/>";
    return xml + "</r>";
}

std::string ManyAttributes(const char* element, int64_t n, const char* rest = "")
{
    std::string xml = std::string("<") + element;
    for (int64_t i = 0; i < n; ++i)
        xml += " a" + std::to_string(i) + "=\"v\"";
    return xml + rest;
}

std::string CommentSplitText(const char* element, int64_t n)
{
    std::string xml = std::string("<") + element + ">";
    for (int64_t i = 0; i < n; ++i)
        xml += "t<!---->";
    return xml + "</" + element + ">";
}

std::string DeepNesting(int64_t n)
{
    std::string xml;
    for (int64_t i = 0; i < n; ++i)
        xml += "<e>";
    for (int64_t i = 0; i < n; ++i)
        xml += "</e>";
    return xml;
}

// --- SAX ---

// Writes a document into a FIFO while the parser reads it, from a thread of
// its own; gives up when the reader never opens the FIFO or goes away.
class FifoFeeder {
public:
    FifoFeeder(const std::string& path, const std::string& content)
        : fThread([this, path, &content] { _Feed(path, content); })
    {
    }
    ~FifoFeeder()
    {
        fStop = true;
        fThread.join();
    }

private:
    void _Feed(const std::string& path, const std::string& content)
    {
        int fd = -1;
        while (fd < 0 && !fStop) {
            fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                ::usleep(200);
        }
        if (fd < 0)
            return;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        size_t done = 0;
        while (done < content.size()) {
            ssize_t n = ::write(fd, content.data() + done, content.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;  // the reader is gone (EPIPE: SIGPIPE is ignored)
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }

    std::atomic<bool> fStop{false};
    std::thread fThread;
};

// Whether the file parses whole with count plain elements under its root.
bool ReadsEveryElement(VFile* file, int64_t count)
{
    StErrorContextInstaller quiet(false, true);
    VXMLParser parser;
    size_t elements = 0;
    VRefPtr<KeepingHandler> root = VRefPtr<KeepingHandler>::Adopt(new KeepingHandler(&elements));
    return parser.Parse(file, root.Get(), XML_ValidateNever) && elements == static_cast<size_t>(count) + 1;
}

void SaxFifoPlainElements(benchmark::State& state)
{
    const std::string xml = PlainElements(state.range(0));
    const std::string path = sFolder + "/plain.fifo";
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) {
        state.SkipWithError("no FIFO");
        return;
    }
    VRefPtr<VFile> file = FileAt(path);
    Measure(state, xml.size(), "refused", [&] {
        FifoFeeder feeder(path, xml);
        return ReadsEveryElement(file.Get(), state.range(0));
    });
    ::unlink(path.c_str());
}

void SaxFilePlainElements(benchmark::State& state)
{
    const std::string xml = PlainElements(state.range(0));
    const std::string path = sFolder + "/plain.xml";
    WriteWhole(path, xml);
    VRefPtr<VFile> file = FileAt(path);
    Measure(state, xml.size(), "refused", [&] {
        return ReadsEveryElement(file.Get(), state.range(0));
    });
    ::unlink(path.c_str());
}

void SaxManyAttributes(benchmark::State& state)
{
    const std::string xml = ManyAttributes("r", state.range(0), "/>");
    Measure(state, xml.size(), "refused", [&] { return ParseBytes(xml, 1); });
}

void SaxCommentSplitText(benchmark::State& state)
{
    const std::string xml = CommentSplitText("r", state.range(0));
    Measure(state, xml.size(), "refused", [&] { return ParseBytes(xml, 1); });
}

void SaxDeepNesting(benchmark::State& state)
{
    const std::string xml = DeepNesting(state.range(0));
    Measure(state, xml.size(), "refused", [&] { return ParseBytes(xml, static_cast<size_t>(state.range(0))); });
}

// --- DOM ---

bool BuildAndSerialize(const std::string& xml)
{
    StErrorContextInstaller quiet(false, true);
    XMLDOMNode document = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
    if (!document)
        return false;
    VBlobWithPtr blob;
    size_t written = 0;
    const bool serialized = IXMLDomWrapper::SerializeToBlob(document, &blob, 0, written, false);
    IXMLDomWrapper::ReleaseNode(document);
    return serialized && written >= xml.size() / 2;
}

void DomManyAttributes(benchmark::State& state)
{
    const std::string xml = ManyAttributes("r", state.range(0), "/>");
    Measure(state, xml.size(), "refused", [&] { return BuildAndSerialize(xml); });
}

void DomCommentSplitText(benchmark::State& state)
{
    const std::string xml = CommentSplitText("r", state.range(0));
    Measure(state, xml.size(), "refused", [&] { return BuildAndSerialize(xml); });
}

// --- bags ---

bool LoadBag(const VString& xml, VIndex expectedAttributes, VIndex expectedElementNames)
{
    StErrorContextInstaller quiet(false, true);
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    return LoadBagFromXML(xml, VString("bag"), *bag) == VE_OK && bag->GetAttributesCount() == expectedAttributes &&
           bag->GetElementNamesCount() == expectedElementNames;
}

void BagXmlManyAttributes(benchmark::State& state)
{
    const std::string xml = ManyAttributes("bag", state.range(0), "/>");
    const VString text(xml.c_str());
    Measure(state, xml.size(), "refused",
            [&] { return LoadBag(text, static_cast<VIndex>(state.range(0)), 0); });
}

void BagXmlManyElementNames(benchmark::State& state)
{
    std::string xml = "<bag>";
    for (int64_t i = 0; i < state.range(0); ++i)
        xml += "<e" + std::to_string(i) + "/>";
    xml += "</bag>";
    const VString text(xml.c_str());
    Measure(state, xml.size(), "refused",
            [&] { return LoadBag(text, 0, static_cast<VIndex>(state.range(0))); });
}

void BagStreamManyNames(benchmark::State& state)
{
    VRefPtr<VValueBag> source = VRefPtr<VValueBag>::Adopt(new VValueBag());
    for (int64_t i = 0; i < state.range(0); ++i) {
        const std::string name = "attribute_" + std::to_string(i);
        source->SetLong(StPackedDictionaryKey(name.c_str()), static_cast<int32_t>(i));
        if (i % 8 == 0) {
            VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag());
            source->AddElement(StPackedDictionaryKey(("element_" + name).c_str()), child.Get());
        }
    }
    VPtrStream written;
    written.OpenWriting();
    source->WriteToStream(&written);
    written.CloseWriting();
    const VStreamUnderlyingData data = written.GetUnderlyingData();
    const std::string bytes(static_cast<const char*>(data.fData), data.fSize);
    Measure(state, bytes.size(), "refused", [&] {
        StErrorContextInstaller quiet(false, true);
        VConstPtrStream stream(bytes.data(), bytes.size());
        stream.OpenReading();
        VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
        const VError err = bag->ReadFromStream(&stream);
        stream.CloseReading();
        return err == VE_OK && bag->GetAttributesCount() == source->GetAttributesCount();
    });
}

// --- localization ---

const char kXliffHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xliff version=\"1.2\"><file source-language=\"en\""
    " target-language=\"fr\" original=\"bench\"><body>";
const char kXliffTail[] = "</body></file></xliff>";

std::string Unit(int64_t i)
{
    const std::string n = std::to_string(i);
    return "<trans-unit id=\"" + n + "\" resname=\"u" + n + "\"><source>text " + n + "</source></trans-unit>";
}

bool LoadLocalization(const std::string& path)
{
    StErrorContextInstaller quiet(false, true);
    VRefPtr<VLocalizationManager> manager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(1036));
    // A "strings" file is read but answered as no XLIFF: the look-up tells.
    manager->LoadFile(FileAt(path).Get(), false);
    VString out;
    manager->LocalizeStringWithKey(VString("u1"), out);
    return out.EqualToString(VString("text 1"), true);
}

void XliffNestedGroups(benchmark::State& state)
{
    std::string xml = kXliffHead;
    for (int64_t i = 0; i < state.range(0); ++i)
        xml += "<group resname=\"g" + std::to_string(i) + "\">" + Unit(i);
    for (int64_t i = 0; i < state.range(0); ++i)
        xml += "</group>";
    xml += kXliffTail;
    const std::string path = sFolder + "/nested.xlf";
    WriteWhole(path, xml);
    Measure(state, xml.size(), "not read", [&] { return LoadLocalization(path); });
}

void XliffGroupAttributes(benchmark::State& state)
{
    const std::string xml = kXliffHead +
                            ManyAttributes("group restype=\"x-list\" resname=\"g\"", state.range(0), ">") +
                            Unit(1) + "</group>" + kXliffTail;
    const std::string path = sFolder + "/attributes.xlf";
    WriteWhole(path, xml);
    Measure(state, xml.size(), "not read", [&] { return LoadLocalization(path); });
}

void XliffManyUnits(benchmark::State& state)
{
    std::string xml = std::string(kXliffHead) + "<group resname=\"g\">";
    for (int64_t i = 0; i < state.range(0); ++i)
        xml += Unit(i);
    xml += std::string("</group>") + kXliffTail;
    const std::string path = sFolder + "/units.xlf";
    WriteWhole(path, xml);
    Measure(state, xml.size(), "not read", [&] { return LoadLocalization(path); });
}

// "strings" files are UTF-16, big-endian.
void StringsManyKeys(benchmark::State& state)
{
    std::string utf16;
    for (int64_t i = 0; i < state.range(0); ++i) {
        const std::string n = std::to_string(i);
        for (char c : "\"u" + n + "\" = \"text " + n + "\";\n") {
            utf16 += '\0';
            utf16 += c;
        }
    }
    const std::string path = sFolder + "/keys.strings";
    WriteWhole(path, utf16);
    Measure(state, utf16.size(), "not read", [&] { return LoadLocalization(path); });
}

// --- type identifiers ---

const char kPlistHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
    "<key>UTExportedTypeDeclarations</key><array>";
const char kPlistTail[] = "</array></dict></plist>";

std::string Declaration(const std::string& identifier, const std::string& tags)
{
    return "<dict><key>UTTypeIdentifier</key><string>" + identifier +
           "</string><key>UTTypeConformsTo</key><array><string>public.data</string></array>"
           "<key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key><array>" +
           tags + "</array></dict></dict>";
}

bool LoadTypes(const std::string& path, const char* identifier)
{
    StErrorContextInstaller quiet(false, true);
    const bool ownsKinds = VFileKindManager::Get() == nullptr && VFileKindManager::Init();
    bool found = false;
    {
        VRefPtr<VUTIManager> manager = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
        VRefPtr<VFile> file = FileAt(path);
        if (manager->LoadXMLFile(file.Get())) {
            VRefPtr<VUTI> uti = VRefPtr<VUTI>::Adopt(manager->UTTypeCreatePreferredIdentifierForTag(
                VString(kUTTagClassFilenameExtension), VString("e1"), VString("")));
            VString text;
            if (uti)
                text = uti->GetIdentifier();
            found = text.EqualToString(VString(identifier), true);
        }
    }
    if (ownsKinds)
        VFileKindManager::DeInit();
    return found;
}

void UtiManyExtensions(benchmark::State& state)
{
    std::string tags;
    for (int64_t i = 0; i < state.range(0); ++i)
        tags += "<string>e" + std::to_string(i) + "</string>";
    const std::string xml = kPlistHead + Declaration("com.example.many", tags) + kPlistTail;
    const std::string path = sFolder + "/extensions.plist";
    WriteWhole(path, xml);
    Measure(state, xml.size(), "not read", [&] { return LoadTypes(path, "com.example.many"); });
}

void UtiCommentSplitIdentifier(benchmark::State& state)
{
    std::string identifier;
    std::string expected;
    for (int64_t i = 0; i < state.range(0); ++i) {
        identifier += "x<!---->";
        expected += "x";
    }
    const std::string xml = kPlistHead + Declaration(identifier, "<string>e1</string>") + kPlistTail;
    const std::string path = sFolder + "/split.plist";
    WriteWhole(path, xml);
    Measure(state, xml.size(), "not read", [&] { return LoadTypes(path, expected.c_str()); });
}

void UtiManyDeclarations(benchmark::State& state)
{
    std::string xml = kPlistHead;
    for (int64_t i = 0; i < state.range(0); ++i) {
        const std::string n = std::to_string(i);
        xml += Declaration("com.example.t" + n, "<string>e" + n + "</string>");
    }
    xml += kPlistTail;
    const std::string path = sFolder + "/declarations.plist";
    WriteWhole(path, xml);
    Measure(state, xml.size(), "not read", [&] { return LoadTypes(path, "com.example.t1"); });
}

const ReaderCase kCases[] = {
    {"xml.sax", "fifo_plain_elements", 50000, SaxFifoPlainElements},
    {"xml.sax", "file_plain_elements", 50000, SaxFilePlainElements},
    {"xml.sax", "many_attributes", 10000, SaxManyAttributes},
    {"xml.sax", "comment_split_text", 10000, SaxCommentSplitText},
    {"xml.sax", "deep_nesting", 10000, SaxDeepNesting},
    {"xml.dom", "many_attributes", 5000, DomManyAttributes},
    {"xml.dom", "comment_split_text", 1000, DomCommentSplitText},
    {"bag.xml", "many_attributes", 10000, BagXmlManyAttributes},
    {"bag.xml", "many_element_names", 10000, BagXmlManyElementNames},
    {"bag.stream", "many_names", 10000, BagStreamManyNames},
    {"xliff", "nested_groups", 500, XliffNestedGroups},
    {"xliff", "group_attributes", 10000, XliffGroupAttributes},
    {"xliff", "many_units", 10000, XliffManyUnits},
    {"strings", "many_keys", 10000, StringsManyKeys},
    {"uti", "many_extensions", 2500, UtiManyExtensions},
    {"uti", "comment_split_identifier", 25000, UtiCommentSplitIdentifier},
    {"uti", "many_declarations", 2000, UtiManyDeclarations},
};

}  // namespace

int main(int argc, char** argv)
{
    if (!StartProcess())
        return 1;
    VXMLParser::Init();
    ::signal(SIGPIPE, SIG_IGN);
    if (!MakeFolder("bench-readers-xml"))
        return 1;
    RegisterCases(kCases);
    const int result = RunCases(argc, argv);
    RemoveFolder();
    VXMLParser::DeInit();
    return result;
}
