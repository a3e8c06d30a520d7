// IXMLDomWrapperTest.cpp - DOM documents through handles: parse, navigate, edit, serialize, replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufFormatTarget.hpp>

#include "basekit/files/VFile.h"
#include "basekit/files/VURL.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VBlob.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"
#include "basekit/xml/IXMLDomWrapper.h"
#include "basekit/xml/VXMLParser.h"
#include "basekit/xml/XMLExpansionBudget.h"
#include "support/TempFolder.h"
#include "xml/XMLTestSupport.h"

namespace bkit::test {
namespace {

using DOM = IXMLDomWrapper;

// Holds the library and one document for a test.
class IXMLDomWrapperTest : public TempFolderTest {
protected:
    void TearDown() override
    {
        if (fDocument)
            DOM::ReleaseNode(fDocument);
    }
    XMLDOMNode Load(const std::string& xml)
    {
        fDocument = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
        return fDocument;
    }
    std::string BlobText(const VBlob& blob, size_t size)
    {
        std::string bytes(size, '\0');
        EXPECT_EQ(VE_OK, blob.GetData(bytes.data(), size, 0));
        return bytes;
    }

    StXMLParserInit fLibrary;
    XMLDOMNode fDocument = nullptr;
};

std::string Text(const VString& s) { return to_string(s); }

TEST_F(IXMLDomWrapperTest, NavigatesAndReadsTypedValues)
{
    XMLDOMNode doc = Load("<?xml version=\"1.0\"?><root a=\"1\"><b>true</b><n>-42</n><r>2.5</r>"
                          "<c><![CDATA[<x>]]></c><d>P1DT2H</d><empty/></root>");
    ASSERT_TRUE(doc);
    XMLDOMElement root = DOM::GetRootNodeElement(doc);
    ASSERT_TRUE(root);
    EXPECT_EQ(DOM::GetNodeDocument(DOM::GetNodeFromNodeElement(root)), DOM::GetNodeDocument(doc));
    EXPECT_EQ(doc, DOM::GetNodeFromNodeDocument(DOM::GetNodeDocument(doc)));
    VString name;
    DOM::GetNodeElementName(root, name);
    EXPECT_EQ("root", Text(name));
    ASSERT_EQ(6, DOM::GetNumberOfChildrenNodes(DOM::GetNodeFromNodeElement(root)));
    EXPECT_EQ(nullptr, DOM::GetChildNode(DOM::GetNodeFromNodeElement(root), 6));

    auto child = [&](int i) { return DOM::GetNodeElement(DOM::GetChildNode(DOM::GetNodeFromNodeElement(root), i)); };
    EXPECT_TRUE(DOM::GetNodeElementValueBoolean(child(0)));
    EXPECT_EQ(-42, DOM::GetNodeElementValueLong(child(1)));
    EXPECT_DOUBLE_EQ(2.5, DOM::GetNodeElementValueReal(child(2)));
    VString text;
    DOM::GetNodeElementCDATA(child(3), text);
    EXPECT_EQ("<x>", Text(text));
    DOM::GetNodeElementCDATA(child(1), text);
    EXPECT_TRUE(text.IsEmpty());
    VDuration duration;
    DOM::GetNodeElementValueDuration(child(4), duration);
    EXPECT_EQ(26 * 3600 * 1000LL, duration.ConvertToMilliseconds());
    DOM::GetNodeElementValueString(child(5), text);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(0, DOM::GetNodeElementValueLong(child(5)));

    EXPECT_TRUE(DOM::GetNodeElementAttribute(root, VString("a"), text));
    EXPECT_EQ("1", Text(text));
    EXPECT_FALSE(DOM::GetNodeElementAttribute(root, VString("missing"), text));
    // The text child of an element is no element.
    EXPECT_EQ(nullptr, DOM::GetNodeElement(DOM::GetChildNode(DOM::GetNodeFromNodeElement(child(0)), 0)));
}

TEST_F(IXMLDomWrapperTest, DocumentURLAndClones)
{
    std::string xml = "<r><c>text</c></r>";
    VString fileID("file:///tmp/a b.xml");
    fDocument = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size(), &fileID);
    ASSERT_TRUE(fDocument);
    VURL url;
    ASSERT_TRUE(DOM::GetDocumentURL(fDocument, url));
    VString text;
    url.GetAbsoluteURL(text, true);
    EXPECT_EQ("file:///tmp/a%20b.xml", Text(text));  // taken as text still to be encoded

    XMLDOMDocument clone = DOM::CloneNodeDocument(DOM::GetNodeFromNodeElement(DOM::GetRootNodeElement(fDocument)));
    ASSERT_TRUE(clone);
    XMLDOMNode cloneNode = DOM::GetNodeFromNodeDocument(clone);
    EXPECT_NE(fDocument, cloneNode);
    ASSERT_TRUE(DOM::GetDocumentURL(cloneNode, url));
    DOM::GetNodeElementValueString(
        DOM::GetNodeElement(DOM::GetChildNode(DOM::GetNodeFromNodeElement(DOM::GetRootNodeElement(cloneNode)), 0)),
        text);
    EXPECT_EQ("text", Text(text));
    DOM::ReleaseNode(cloneNode);

    // The default system id "Blob" makes no valid URL.
    XMLDOMNode blob = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
    ASSERT_TRUE(blob);
    EXPECT_FALSE(DOM::GetDocumentURL(blob, url));
    DOM::ReleaseNode(blob);
}

// A parsed document keeps the memory of its parse, which its clones share:
// the clone stays whole and editable once the original is gone.
TEST_F(IXMLDomWrapperTest, CloneOutlivesItsOriginal)
{
    std::string xml = "<!DOCTYPE r [<!ENTITY e \"expanded\">]><r a=\"&e;\"><c>&e;</c></r>";
    XMLDOMNode original = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
    ASSERT_TRUE(original);
    XMLDOMDocument clone = DOM::CloneNodeDocument(original);
    DOM::ReleaseNode(original);
    ASSERT_TRUE(clone);
    fDocument = DOM::GetNodeFromNodeDocument(clone);

    XMLDOMElement root = DOM::GetRootNodeElement(fDocument);
    VString value;
    EXPECT_TRUE(DOM::GetNodeElementAttribute(root, VString("a"), value));
    EXPECT_EQ("expanded", Text(value));
    ASSERT_TRUE(DOM::AddNodeElement(root, VString("added"), VString(std::string(100000, 'y').c_str())));
    VBlobWithPtr blob;
    size_t size = 0;
    ASSERT_TRUE(DOM::SerializeToBlob(fDocument, &blob, 0, size, false));
    const std::string text = BlobText(blob, size);
    EXPECT_NE(std::string::npos, text.find("<r a=\"expanded\"><c>&e;</c><added>")) << text.substr(0, 200);
    EXPECT_NE(std::string::npos, text.find(std::string(100000, 'y')));
}

TEST_F(IXMLDomWrapperTest, MalformedBufferGivesNullAndAnError)
{
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(nullptr, Load("<root><open></root>"));
    EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError());
    EXPECT_EQ(nullptr, Load(""));
}

TEST_F(IXMLDomWrapperTest, ExternalEntitiesAreNotReadAndExpansionIsBounded)
{
    ASSERT_TRUE(fTemp.WriteFile("secret.ent", "SECRET"));
    StErrorContextInstaller errors(false, true);
    std::string xml = "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + fTemp.Path("secret.ent") + "\">]><r>&e;</r>";
    XMLDOMNode doc = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
    if (doc) {
        VBlobWithPtr blob;
        size_t size = 0;
        ASSERT_TRUE(DOM::SerializeToBlob(doc, &blob, 0, size, false));
        EXPECT_EQ(std::string::npos, BlobText(blob, size).find("SECRET"));
        DOM::ReleaseNode(doc);
    }
    std::string lolz = "<!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\">";
    const char* names = "abcdefgh";
    for (int i = 1; i < 8; ++i) {
        lolz += std::string("<!ENTITY ") + names[i] + " \"";
        for (int k = 0; k < 10; ++k)
            lolz += std::string("&") + names[i - 1] + ";";
        lolz += "\">";
    }
    lolz += "]><l>&h;</l>";
    EXPECT_EQ(nullptr, Load(lolz));
    EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError());
}

TEST_F(IXMLDomWrapperTest, EveryMemoryFailureRaisesTheMemoryError)
{
    const std::string xml = "<!DOCTYPE d [<!ENTITY e \"text\">]><d a=\"1\"><e>&e;</e><?pi x?><!--c--></d>";
    XMLDOMElement root = DOM::GetRootNodeElement(Load(xml));
    ASSERT_TRUE(root);
    struct Operation {
        const char* name;
        std::function<bool()> run;  // whether it succeeded
    } const operations[] = {
        {"a DOM build",
         [&] {
             XMLDOMNode document = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
             DOM::ReleaseNode(document);
             return document != nullptr;
         }},
        // Too long for the room the document keeps in hand.
        {"an edit of a parsed document",
         [&] { return DOM::AddNodeElement(root, VString("n"), VString(std::string(100000, 't').c_str())) != nullptr; }},
        {"a SAX parse",
         [&] {
             VRefPtr<VNullXMLHandler> handler = VRefPtr<VNullXMLHandler>::Adopt(new VNullXMLHandler);
             VXMLParser parser;
             return parser.Parse(xml.data(), xml.size(), handler.Get(), XML_ValidateNever);
         }},
    };
    for (const Operation& operation : operations) {
        // Fails each allocation of the library's in turn, until the operation
        // makes no more.
        size_t failed = 0;
        for (size_t nth = 1;; ++nth) {
            StErrorContextInstaller errors(false, true);
            FaultSeam::Arm(FaultOperation::kAllocate, nth, ENOMEM);
            const bool succeeded = operation.run();
            if (FaultSeam::IsArmed(FaultOperation::kAllocate)) {
                FaultSeam::Disarm(FaultOperation::kAllocate);
                EXPECT_TRUE(succeeded) << operation.name;
                break;
            }
            ++failed;
            EXPECT_FALSE(succeeded) << operation.name << ", allocation " << nth;
            EXPECT_EQ(VE_MEMORY_FULL, errors.GetLastError()) << operation.name << ", allocation " << nth;
        }
        EXPECT_GT(failed, 0u) << operation.name;
    }
}

TEST_F(IXMLDomWrapperTest, IDsAreFoundOnlyOnceRegistered)
{
    XMLDOMNode doc = Load("<r xmlns:p=\"urn:p\"><a id=\"one\"/><b p:id=\"two\"/><c p:key=\"three\"/></r>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(nullptr, DOM::FindNodeElementByID(doc, VString("one")));
    DOM::RegisterNodeIDs(doc);
    VString name;
    DOM::GetNodeElementName(DOM::FindNodeElementByID(doc, VString("one")), name);
    EXPECT_EQ("a", Text(name));
    DOM::GetNodeElementName(DOM::FindNodeElementByID(doc, VString("two")), name);
    EXPECT_EQ("b", Text(name));
    // Only attributes named id count.
    EXPECT_EQ(nullptr, DOM::FindNodeElementByID(doc, VString("three")));

    XMLDOMElement root = DOM::GetRootNodeElement(doc);
    bool done = false;
    XMLDOMElement added = DOM::AddNodeElement(root, VString("d"));
    ASSERT_TRUE(DOM::SetNodeElementAttribute(added, VString("id"), VString("four"), false, &done));
    EXPECT_TRUE(done);
    EXPECT_EQ(added, DOM::FindNodeElementByID(doc, VString("four")));
}

TEST_F(IXMLDomWrapperTest, WritesValuesAttributesAndNamespacedElements)
{
    XMLDOMNode doc = Load("<r xmlns=\"urn:default\" xmlns:p=\"urn:p\"><old><x/></old></r>");
    ASSERT_TRUE(doc);
    XMLDOMElement root = DOM::GetRootNodeElement(doc);
    ASSERT_TRUE(DOM::AddNodeElement(root, VString("n"), int32_t(7)));
    ASSERT_TRUE(DOM::AddNodeElement(root, VString("p:f"), uint8_t(0)));
    VLong eight(8);
    ASSERT_TRUE(DOM::AddNodeElement(root, VString("v"), &eight));
    VWord unsupported(1);
    EXPECT_EQ(nullptr, DOM::AddNodeElement(root, VString("w"), &unsupported));

    // A child element is replaced by the text.
    XMLDOMElement old = DOM::GetNodeElement(DOM::GetChildNode(DOM::GetNodeFromNodeElement(root), 0));
    ASSERT_TRUE(DOM::SetNodeElementValue(old, VString("plain")));
    VString value;
    DOM::GetNodeElementValueString(old, value);
    EXPECT_EQ("plain", Text(value));
    EXPECT_EQ(1, DOM::GetNumberOfChildrenNodes(DOM::GetNodeFromNodeElement(old)));

    bool done = false;
    ASSERT_TRUE(DOM::SetNodeElementAttribute(root, VString("p:attr"), VString("v1"), false, &done));
    ASSERT_TRUE(DOM::SetNodeElementAttribute(root, VString("xml:lang"), VString("fr"), false, &done));
    ASSERT_TRUE(DOM::SetNodeElementAttribute(root, VString("gone"), VString("x"), false, &done));
    ASSERT_TRUE(DOM::SetNodeElementAttribute(root, VString("gone"), VString(""), true, &done));
    EXPECT_TRUE(done);
    EXPECT_FALSE(DOM::GetNodeElementAttribute(root, VString("gone"), value));

    VBlobWithPtr blob;
    size_t size = 0;
    ASSERT_TRUE(DOM::SerializeToBlob(doc, &blob, 0, size, false));
    std::string xml = BlobText(blob, size);
    EXPECT_NE(std::string::npos, xml.find("<old>plain</old><n>7</n><p:f>false</p:f><v>8</v>")) << xml;
    EXPECT_NE(std::string::npos, xml.find("p:attr=\"v1\"")) << xml;
    EXPECT_NE(std::string::npos, xml.find("xml:lang=\"fr\"")) << xml;
    // Elements created under a default namespace are in it: read back, the
    // document keeps it without repeating a declaration on each child.
    EXPECT_EQ(std::string::npos, xml.find("<n xmlns")) << xml;
}

// Shapes the library would take time out of step with the document for (every
// attribute compared with all before it as the tree is built; every comment
// looking through its siblings for an element as the tree is written) are
// refused past their bound with an error naming it; up to it, and with
// elements between the comments, documents are read and written back whole.
TEST_F(IXMLDomWrapperTest, TreesRefuseShapesTheLibraryWouldTakeTooLongWith)
{
    auto attributes = [](size_t count) {
        std::string element = "<e";
        for (size_t i = 0; i < count; ++i)
            element += " a" + std::to_string(i) + "=\"v\"";
        return element + "/>";
    };
    auto repeated = [](const std::string& piece, size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i)
            text += piece;
        return text;
    };
    const size_t kAttributes = kXMLDomAttributesPerElement;
    const size_t kComments = kXMLDomCommentsInARow;
    const std::string attributesBound = std::to_string(kAttributes) + " attributes";
    const std::string commentsBound = std::to_string(kComments) + " comments";
    struct Case {
        const char* name;
        std::string xml;
        std::string refusal;  // empty: read and written back
    } const cases[] = {
        {"the most attributes on each of many elements", "<d>" + repeated(attributes(kAttributes), 50) + "</d>", ""},
        {"one attribute more", "<d>" + attributes(kAttributes + 1) + "</d>", attributesBound},
        {"40000 attributes on one element", attributes(40000), attributesBound},
        {"a text split by the most comments", "<d>" + repeated("t<!--c-->", kComments) + "t</d>", ""},
        {"one comment more", "<d>" + repeated("t<!--c-->", kComments + 1) + "</d>", commentsBound},
        {"a text split by 8000 comments", "<d>" + repeated("t<!--c-->", 8000) + "</d>", commentsBound},
        {"instructions do not end a row", "<d>" + repeated("<!--c--><?p?>", kComments + 1) + "</d>", commentsBound},
        {"a row in a nested element", "<d><e>" + repeated("<!--c-->", kComments + 1) + "</e></d>", commentsBound},
        {"8000 comments with elements between",
         "<d>" + repeated(repeated("t<!--c-->", kComments) + "<e/>", 80) + "</d>", ""},
        {"comments around the document element",
         repeated("<!--c-->", 2 * kComments) + "<d/>" + repeated("<!--c-->", 2 * kComments), ""},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(false, true);
        XMLDOMNode doc = DOM::CreateNodeDocumentFromBuffer(c.xml.data(), c.xml.size());
        if (!c.refusal.empty()) {
            EXPECT_EQ(nullptr, doc) << c.name;
            EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError()) << c.name;
            if (errors.GetContext() && !errors.GetContext()->GetErrors().empty()) {
                VString message;
                errors.GetContext()->GetErrors().back()->GetErrorDescription(message);
                EXPECT_NE(std::string::npos, Text(message).find("more than " + c.refusal)) << c.name << ": "
                                                                                           << Text(message);
            }
            if (doc)
                DOM::ReleaseNode(doc);
            continue;
        }
        ASSERT_NE(nullptr, doc) << c.name;
        // Written, read again and written again: the same bytes.
        VBlobWithPtr first;
        size_t firstSize = 0;
        EXPECT_TRUE(DOM::SerializeToBlob(doc, &first, 0, firstSize, false)) << c.name;
        DOM::ReleaseNode(doc);
        const std::string written = BlobText(first, firstSize);
        XMLDOMNode again = DOM::CreateNodeDocumentFromBuffer(written.data(), written.size());
        ASSERT_NE(nullptr, again) << c.name;
        VBlobWithPtr second;
        size_t secondSize = 0;
        EXPECT_TRUE(DOM::SerializeToBlob(again, &second, 0, secondSize, false)) << c.name;
        EXPECT_EQ(written, BlobText(second, secondSize)) << c.name;
        DOM::ReleaseNode(again);
        EXPECT_EQ(0, errors.GetLastError()) << c.name;
    }
}

TEST_F(IXMLDomWrapperTest, SerializedUTF8HasCarriageReturnsOnly)
{
    XMLDOMNode doc = Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><a>x</a><b>y</b></r>");
    ASSERT_TRUE(doc);
    VBlobWithPtr blob;
    ASSERT_TRUE(blob.PutData("HEAD", 4, 0) == VE_OK);
    size_t size = 0;
    ASSERT_TRUE(DOM::SerializeToBlob(doc, &blob, 4, size, true));
    std::string bytes = BlobText(blob, size + 4);
    EXPECT_EQ("HEAD<?xml", bytes.substr(0, 9));
    EXPECT_EQ(std::string::npos, bytes.find('\n'));
    EXPECT_NE(std::string::npos, bytes.find("\r  <a>x</a>\r")) << bytes;

    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("out.xml")));
    ASSERT_TRUE(fTemp.WriteFile("out.xml", "older and much longer content than the document"));
    ASSERT_TRUE(DOM::WriteToFile(doc, *file, true));
    EXPECT_EQ(bytes.substr(4), fTemp.ReadFile("out.xml"));
}

TEST_F(IXMLDomWrapperTest, LineEndConversionByEncoding)
{
    struct Case {
        const char* encoding;
        std::u16string text;  // written as units of the encoding's width
        size_t width;
        bool convert;
        std::u16string expected;
    } cases[] = {
        {"UTF-8", u"a\r\nb\nc\rd", 1, true, u"a\rb\rc\rd"},
        {"utf-16", u"a\r\nb\nc", 2, true, u"a\rb\rc"},
        {"UCS-4", u"a\nb", 4, true, u"a\rb"},
        {"ISO-8859-1", u"a\nb", 1, true, u"a\nb"},
        {"UTF-8", u"a\nb", 1, false, u"a\nb"},
    };
    auto encode = [](const std::u16string& text, size_t width) {
        std::string bytes;
        for (char16_t c : text) {
            uint32_t unit = c;
            bytes.append(reinterpret_cast<const char*>(&unit), width);  // little-endian machine
        }
        return bytes;
    };
    for (const Case& c : cases) {
        xercesc::MemBufFormatTarget target;
        std::string in = encode(c.text, c.width);
        target.writeChars(reinterpret_cast<const XMLByte*>(in.data()), in.size(), nullptr);
        VBlobWithPtr blob;
        size_t size = 0;
        ASSERT_TRUE(DOM::CopyMemBufFormatTargetToBlob(
            &blob, 0, size, reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(&target), VString(c.encoding), c.convert));
        EXPECT_EQ(encode(c.expected, c.width), BlobText(blob, size)) << c.encoding;
    }
}

TEST_F(IXMLDomWrapperTest, ReplaysTreesIntoHandlers)
{
    XMLDOMNode doc = Load("<r a=\"1\"><?xml-stylesheet href=\"s.xsl\"?>t<c><![CDATA[d]]></c><!-- no --></r>");
    ASSERT_TRUE(doc);
    auto log = std::make_shared<EventLog>();
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log, "#root"));
    EXPECT_TRUE(DOM::Parse(doc, root.Get()));
    EventLog expected = {"#root start r", "r attr a=1", "r style-start", "r style href=s.xsl", "r style-end",
                         "r text t",      "r start c",  "c text d",      "c end c",            "r end r"};
    EXPECT_EQ(expected, *log);
    EXPECT_EQ(1, root->GetRefCount());

    log->clear();
    VRefPtr<RecordingHandler> refusing =
        VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log, "#root", {"r"}));
    EXPECT_FALSE(DOM::Parse(doc, refusing.Get()));
    EXPECT_EQ(EventLog{"#root start r"}, *log);  // the refusal itself, nothing of r
}

// Follows how deep the replay goes and whether every element it opened ends.
struct DepthLog {
    int open = 0;
    int deepest = 0;
    int ends = 0;
};

class DepthHandler : public VObject, public IXMLHandler {
public:
    explicit DepthHandler(std::shared_ptr<DepthLog> log) : fLog(std::move(log)) {}
    IXMLHandler* StartElement(const VString&) override
    {
        fLog->deepest = std::max(fLog->deepest, ++fLog->open);
        return new DepthHandler(fLog);
    }
    void EndElement(const VString&) override
    {
        --fLog->open;
        ++fLog->ends;
    }

private:
    std::shared_ptr<DepthLog> fLog;
};

TEST_F(IXMLDomWrapperTest, ReplaysTreesDeeperThanASmallStackHolds)
{
    const int depth = 20000;
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<e>";
    xml += "x";
    for (int i = 0; i < depth; ++i)
        xml += "</e>";
    auto log = std::make_shared<DepthLog>();
    bool built = false;
    bool replayed = false;
    // The library clones and serializes by recursion: those refuse the tree.
    bool cloned = true;
    bool serialized = true;
    std::vector<VError> raised;
    VTask* task = new VTask(256 * 1024, eTaskStylePreemptive, [&] {
        XMLDOMNode doc = DOM::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
        built = doc != nullptr;
        if (!doc)
            return;
        VRefPtr<DepthHandler> root = VRefPtr<DepthHandler>::Adopt(new DepthHandler(log));
        replayed = DOM::Parse(doc, root.Get());
        StErrorContextInstaller errors(false, true);
        XMLDOMDocument clone = DOM::CloneNodeDocument(doc);
        cloned = clone != nullptr;
        VBlobWithPtr blob;
        size_t size = 0;
        serialized = DOM::SerializeToBlob(doc, &blob, 0, size, false);
        for (const VErrorBase* error : errors.GetContext()->GetErrors())
            raised.push_back(error->GetError());
        DOM::ReleaseNode(doc);
    });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(60000));
    task->Release();
    ASSERT_TRUE(built);
    EXPECT_TRUE(replayed);
    EXPECT_EQ(depth, log->deepest);
    EXPECT_EQ(depth, log->ends);
    EXPECT_EQ(0, log->open);
    EXPECT_FALSE(cloned);
    EXPECT_FALSE(serialized);
    EXPECT_EQ((std::vector<VError>{MakeBKitError(108), MakeBKitError(108)}), raised);
}

}  // namespace
}  // namespace bkit::test
