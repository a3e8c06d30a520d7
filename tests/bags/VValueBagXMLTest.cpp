// VValueBagXMLTest.cpp - the XML text of bags, the link file, reading XML into bags and DOM trees.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "basekit/bags/VPackedDictionary.h"
#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VScalars.h"
#include "basekit/xml/VXMLParser.h"
#include "support/TempFolder.h"
#include "xml/XMLTestSupport.h"

namespace bkit::test {
namespace {

using Bag = VRefPtr<VValueBag>;

Bag NewBag() { return Bag::Adopt(new VValueBag()); }

std::string Dump(const VValueBag& bag, const char* root, bool indented)
{
    VString out;
    bag.DumpXML(out, VString(root), indented);
    return to_string(out);
}

std::u16string U16(const VString& s) { return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength())); }

class VValueBagXMLTest : public TempFolderTest {
protected:
    StXMLParserInit fLibrary;
};

TEST_F(VValueBagXMLTest, LinkFileIsWrittenByteForByte)
{
    static const StPackedDictionaryKey isRemote("is_remote"), serverDatabaseName("server_database_name"),
        serverPath("server_path"), cacheFolderName("cache_folder_name"),
        remoteSharedResources("remote_shared_resources");
    Bag bag = NewBag();
    bag->SetBool(isRemote, true);
    bag->SetString(serverDatabaseName, VString("Caf\xC3\xA9 & Co"));
    bag->SetString(serverPath, VString("10.0.0.1:19812"));
    bag->SetString(cacheFolderName, VString("cache"));
    bag->SetBool(remoteSharedResources, false);
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("ZizozazIzudud.Zanthlink")));
    ASSERT_EQ(WriteBagToFileInXML(*bag, VString("database_shortcut"), file.Get(), false), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("ZizozazIzudud.Zanthlink"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><database_shortcut is_remote=\"true\" "
              "server_database_name=\"Caf\xC3\xA9 &amp; Co\" server_path=\"10.0.0.1:19812\" "
              "cache_folder_name=\"cache\" remote_shared_resources=\"false\"/>");
    // A replaced file holds the new content only.
    Bag small = NewBag();
    ASSERT_EQ(WriteBagToFileInXML(*small, VString("r"), file.Get(), false), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("ZizozazIzudud.Zanthlink"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>");
    EXPECT_EQ(WriteBagToFileInXML(*small, VString("r"), nullptr, false), VE_OK);
}

TEST_F(VValueBagXMLTest, NamesThatAreNoXMLNamesWriteNothing)
{
    struct Case {
        const char* json;
        const char* root;
        const char* offending;  // null: the bag is written
    } const cases[] = {
        {"{\"a=\\\"1\\\" evil\":\"x\",\"el em\":[{}]}", "bag", "a=\"1\" evil"},
        {"{\"ok\":\"x\",\"el em\":[{\"k\":\"v\"}]}", "bag", "el em"},
        {"{\"kid\":[{\"deep\":[{\"a>b\":\"1\"}]}]}", "bag", "a>b"},
        {"{\"1st\":\"x\"}", "bag", "1st"},
        {"{\"\":\"x\"}", "bag", ""},
        {"{\"a\":\"x\"}", "r s", "r s"},
        {"{\"a\":\"x\"}", "", ""},
        // Names XML allows, text content and an empty list of a bad name.
        {"{\"x:y\":\"1\",\"_z\":\"2\",\"\xC3\xA9t\xC3\xA9\":\"3\",\"__CDATA\":\"t\",\"bad name\":[]}", "r", nullptr},
    };
    const std::string previous = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><old/>";
    for (const Case& c : cases) {
        Bag bag = NewBag();
        ASSERT_EQ(bag->FromJSONString(VString(c.json)), VE_OK) << c.json;
        ASSERT_TRUE(fTemp.WriteFile("link.xml", previous));
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("link.xml")));
        VPtrStream stream;
        stream.OpenWriting();
        StErrorContextInstaller errors(false, true);
        VError toFile = WriteBagToFileInXML(*bag, VString(c.root), file.Get(), false);
        VError toStream = WriteBagToStreamInXML(*bag, &stream);
        if (c.offending == nullptr) {
            EXPECT_EQ(toFile, VE_OK) << c.json;
            Bag read = NewBag();
            EXPECT_EQ(LoadBagFromXML(file.Get(), VString(c.root), *read), VE_OK);
            EXPECT_EQ(Dump(*read, c.root, false), Dump(*bag, c.root, false));
            continue;
        }
        EXPECT_EQ(toFile, VE_INVALID_PARAMETER) << c.json;
        EXPECT_EQ(fTemp.ReadFile("link.xml"), previous) << c.json;
        // The stream form always names its root "bag".
        if (std::string(c.root) != c.offending) {
            EXPECT_EQ(toStream, VE_INVALID_PARAMETER) << c.json;
            EXPECT_EQ(stream.GetSize(), 0) << c.json;
        }
        ASSERT_NE(errors.GetContext(), nullptr);
        ASSERT_FALSE(errors.GetContext()->GetErrors().empty());
        VString name;
        errors.GetContext()->GetErrors().back()->GetParameters()->GetProperty(VString("name")).GetString(name);
        EXPECT_EQ(to_string(name), c.offending) << c.json;
    }
}

TEST_F(VValueBagXMLTest, FailedWriteKeepsThePreviousFile)
{
    Bag bag = NewBag();
    bag->SetString("server_path", VString("10.0.0.1"));
    VRefPtr<MemoryFile> file = VRefPtr<MemoryFile>::Adopt(new MemoryFile("<old/>", true));
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(WriteBagToFileInXML(*bag, VString("database_shortcut"), file.Get(), false), VE_FILE_CANNOT_WRITE);
    EXPECT_FALSE(file->DeleteAsked());
    EXPECT_EQ(file->Content(), "<old/>");
}

TEST_F(VValueBagXMLTest, WriterLayouts)
{
    auto withChild = [] {
        Bag bag = NewBag();
        bag->AddElement("x", NewBag().Get());
        return bag;
    };
    auto withText = [](const char* text) {
        Bag bag = NewBag();
        bag->AppendToCData(VString(text));
        return bag;
    };
    Bag markers = NewBag();
    markers->SetBool(VValueBagKeys::ObjectUnic(), true);
    markers->SetString(VValueBagKeys::PropertyNameInJSArray(), VString("p"));
    markers->SetLong("n", 3);
    Bag textAndChild = withText("hi");
    textAndChild->SetString("a", VString("1"));
    textAndChild->AddElement("c", NewBag().Get());
    Bag nested = withChild();
    nested->GetElements("x")->GetNth(1)->AddElement("y", NewBag().Get());

    struct Case {
        const char* what;
        Bag bag;
        bool indented;
        const char* expected;
    } cases[] = {
        {"indented child", withChild(), true, "<r>\n\t<x/>\n</r>"},
        {"flat child", withChild(), false, "<r>\n<x/></r>"},
        {"nested indented", nested, true, "<r>\n\t<x>\n\t\t<y/>\n\t</x>\n</r>"},
        {"spaces only", withText("   "), true, "<r>   </r>"},
        {"empty text", withText(""), true, "<r>\n</r>"},
        {"markup in text", withText("a<b"), true, "<r><![CDATA[a<b]]></r>"},
        {"section end in text", withText("a]]>b"), false, "<r><![CDATA[a]]>]]<![CDATA[>b]]></r>"},
        {"tab with other text", withText("a\tb"), false, "<r><![CDATA[a\tb]]></r>"},
        {"markers skipped", markers, false, "<r n=\"3\"/>"},
        {"text after children", textAndChild, true, "<r a=\"1\">\n\t<c/>hi</r>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Dump(*c.bag, "r", c.indented), c.expected) << c.what;
}

// Texts that XML can carry read back unchanged; the characters it cannot carry
// are left out, and nothing after a NUL escapes escaping.
TEST_F(VValueBagXMLTest, TrickyTextsReadBack)
{
    const std::u16string nul(1, u'\0');
    struct Case {
        std::u16string written;
        std::u16string read;
    } cases[] = {
        {u"plain", u"plain"},
        {u"a\tb\nc\rd", u"a\tb\nc\rd"},
        {u"line\r\nend", u"line\r\nend"},
        {u"<&>\"'", u"<&>\"'"},
        {u"x]]>y]]]>z", u"x]]>y]]]>z"},
        {u"a" + nul + u"<b>&", u"a<b>&"},
        {u"a\u0001b\uFFFFc\uFFFEd", u"abcd"},
        {u"pair \U0001F600 lone \xD800!", u"pair \U0001F600 lone !"},
    };
    for (const Case& c : cases) {
        Bag bag = NewBag();
        const VString written(c.written.data(), static_cast<VIndex>(c.written.size()));
        bag->SetString("attr", written);
        Bag child = NewBag();
        child->AppendToCData(VString(u"t") + written);  // text that needs a section, so spaces count
        bag->AddElement("kid", child.Get());
        VString xml;
        bag->DumpXML(xml, VString("root"), false);

        Bag read = NewBag();
        ASSERT_EQ(LoadBagFromXML(xml, VString("root"), *read), VE_OK) << to_string(xml);
        VString attr;
        ASSERT_TRUE(read->GetString("attr", attr));
        EXPECT_EQ(U16(attr), c.read) << to_string(xml);
        VString text;
        ASSERT_NE(read->GetUniqueElementByPath(VString("kid")), nullptr);
        read->GetUniqueElementByPath(VString("kid"))->GetCData(text);
        EXPECT_EQ(U16(text), u"t" + c.read) << to_string(xml);
    }
}

TEST_F(VValueBagXMLTest, ReadingFollowsTheExpectedRootName)
{
    const VString xml("<?xml version=\"1.0\"?><bag a=\"1\"><c/><c x=\"2\"/></bag>");
    struct Case {
        const char* root;
        bool filled;
    } cases[] = {{"bag", true}, {"BAG", true}, {"", true}, {"other", false}};
    for (const Case& c : cases) {
        Bag bag = NewBag();
        EXPECT_EQ(LoadBagFromXML(xml, VString(c.root), *bag), VE_OK) << c.root;
        if (!c.filled) {
            EXPECT_TRUE(bag->IsEmpty()) << c.root;
            continue;
        }
        VString a;
        ASSERT_TRUE(bag->GetString("a", a)) << c.root;
        EXPECT_EQ(to_string(a), "1");
        EXPECT_EQ(bag->GetAttributeValue("a")->GetValueKind(), VK_STRING);
        ASSERT_NE(bag->GetElements("c"), nullptr);
        ASSERT_EQ(bag->GetElements("c")->GetCount(), 2);
        VString x;
        EXPECT_TRUE(bag->GetElements("c")->GetNth(2)->GetString("x", x));
        EXPECT_EQ(to_string(x), "2");
    }
    // A document that does not parse answers the parser's error.
    Bag bag = NewBag();
    StErrorContextInstaller quiet(false, true);
    EXPECT_NE(LoadBagFromXML(VString("<bag><unclosed></bag>"), VString("bag"), *bag), VE_OK);

    // Nesting beyond what bags take is refused, not followed.
    std::string deep;
    for (int i = 0; i < 1100; ++i)
        deep += "<a>";
    for (int i = 0; i < 1100; ++i)
        deep += "</a>";
    Bag nested = NewBag();
    EXPECT_EQ(LoadBagFromXML(VString(deep.c_str()), VString("a"), *nested), VE_XML_FATAL_ERROR);
}

TEST_F(VValueBagXMLTest, AnElementOfManyAttributesIsReadAtAFewProbesAnAttribute)
{
    constexpr int kAttributes = 20000;
    std::string xml = "<bag";
    for (int i = 0; i < kAttributes; ++i)
        xml += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    xml += "/>";
    Bag bag = NewBag();
    const uint64_t before = _GetDictionaryProbesForTesting();
    ASSERT_EQ(LoadBagFromXML(VString(xml.c_str()), VString("bag"), *bag), VE_OK);
    EXPECT_LE(_GetDictionaryProbesForTesting() - before, 8u * kAttributes);
    ASSERT_EQ(bag->GetAttributesCount(), kAttributes);
    for (int i = 0; i < kAttributes; i += 1999) {
        const std::string name = "a" + std::to_string(i);
        VString value;
        ASSERT_TRUE(bag->GetString(name.c_str(), value)) << name;
        EXPECT_EQ(to_string(value), std::to_string(i));
    }
}

TEST_F(VValueBagXMLTest, ElementsTooDeepAreRefusedWithOneError)
{
    // The root and kMaxDepth levels below it are taken; every one of the
    // siblings one level further is refused.
    const size_t levels = static_cast<size_t>(VXMLBagHandler::kMaxDepth) + 1;
    std::string xml;
    for (size_t i = 0; i < levels; ++i)
        xml += "<a>";
    for (int i = 0; i < 200; ++i)
        xml += "<b/>";
    for (size_t i = 0; i < levels; ++i)
        xml += "</a>";
    Bag bag = NewBag();
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(VE_XML_FATAL_ERROR, LoadBagFromXML(VString(xml.c_str()), VString("a"), *bag));
    ASSERT_TRUE(errors.GetContext());
    EXPECT_EQ(1, errors.GetContext()->GetErrorCount());
}

// A bag for every element: what entities expand to counts against the
// parse's memory cap, what the document holds itself does not come near it.
TEST_F(VValueBagXMLTest, ElementsFromEntitiesAreBoundedByTheParseMemory)
{
    constexpr size_t kElements = 400000;
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += "<a/>";
    // 1.6 M characters expanded, well within the expansion bound; declared,
    // so that no validation error stops the parse first.
    std::string expanded = "<!DOCTYPE r [<!ELEMENT r (a)*><!ELEMENT a EMPTY><!ENTITY e \"" + thousand + "\">]><r>";
    for (size_t i = 0; i < kElements / 1000; ++i)
        expanded += "&e;";
    expanded += "</r>";
    std::string written = "<r>";
    for (size_t i = 0; i < kElements / 1000; ++i)
        written += thousand;
    written += "</r>";

    auto count = [](const VValueBag& bag) {
        VBagArray* elements = bag.GetElements("a");
        return elements ? static_cast<size_t>(elements->GetCount()) : 0;
    };
    // The parse of a string counts two bytes a character.
    const size_t cap = XMLParseMemoryCap(expanded.size() * sizeof(UniChar));
    ASSERT_GT(kElements * kXMLHandlerNodeBytes, cap);
    StErrorContextInstaller quiet(false, true);
    Bag stopped = NewBag();
    EXPECT_EQ(VE_XML_FATAL_ERROR, LoadBagFromXML(VString(expanded.c_str()), VString("r"), *stopped));
    EXPECT_GT(count(*stopped), 0u);
    EXPECT_LE(count(*stopped) * kXMLHandlerNodeBytes, cap);

    Bag whole = NewBag();
    EXPECT_EQ(VE_OK, LoadBagFromXML(VString(written.c_str()), VString("r"), *whole));
    EXPECT_EQ(kElements, count(*whole));
}

TEST_F(VValueBagXMLTest, WrittenDocumentsReadBackAsTheSameTree)
{
    Bag bag = NewBag();
    bag->SetString("name", VString("n\"1\""));
    bag->SetLong("count", 7);
    for (int i = 0; i < 3; ++i) {
        Bag child = NewBag();
        child->SetLong("i", i);
        Bag grand = NewBag();
        grand->AppendToCData(VString("if a < b"));
        child->AddElement("g", grand.Get());
        bag->AddElement("item", child.Get());
    }
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("bag.xml")));
    ASSERT_EQ(WriteBagToFileInXML(*bag, VString("doc"), file.Get(), false), VE_OK);
    Bag read = NewBag();
    ASSERT_EQ(LoadBagFromXML(file.Get(), VString("doc"), *read), VE_OK);
    // Attributes come back as strings: compare the XML texts.
    EXPECT_EQ(Dump(*read, "doc", true), Dump(*bag, "doc", true));
}

TEST_F(VValueBagXMLTest, StreamFormRoundTripAndOwnError)
{
    Bag bag = NewBag();
    bag->SetString("k", VString("v & w"));
    bag->AddElement("e", NewBag().Get());
    VPtrStream stream;
    stream.OpenWriting();
    ASSERT_EQ(WriteBagToStreamInXML(*bag, &stream), VE_OK);
    stream.CloseWriting();

    // An older error on the caller's stack does not become this read's result.
    StErrorContextInstaller outer(false, true);
    vThrowUserGeneratedError(VE_UNKNOWN_ERROR, VString("older"));
    stream.OpenReading();
    Bag read = NewBag();
    EXPECT_EQ(ReadBagFromStreamInXML(*read, &stream), VE_OK);
    stream.CloseReading();
    EXPECT_EQ(Dump(*read, "bag", false), Dump(*bag, "bag", false));

    // Another marker reads nothing more.
    VPtrStream other;
    other.OpenWriting();
    other.PutLong(2);
    other.CloseWriting();
    other.OpenReading();
    Bag untouched = NewBag();
    EXPECT_EQ(ReadBagFromStreamInXML(*untouched, &other), VE_OK);
    EXPECT_EQ(other.GetPos(), 4);
    EXPECT_TRUE(untouched->IsEmpty());
}

TEST_F(VValueBagXMLTest, DomTreesBothWays)
{
    Bag bag = NewBag();
    bag->SetString("s", VString("a&b"));
    bag->SetReal("r", 2.5);
    Bag child = NewBag();
    child->SetBool("flag", true);
    bag->AddElement("kid", child.Get());
    bag->AddElement("kid", NewBag().Get());

    const std::string xml = "<?xml version=\"1.0\"?><root/>";
    XMLDOMNode doc = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
    ASSERT_NE(doc, nullptr);
    XMLDOMElement root = IXMLDomWrapper::GetRootNodeElement(doc);
    std::vector<XMLDOMNode> created;
    EXPECT_EQ(WriteBagToDomXML(*bag, IXMLDomWrapper::GetNodeFromNodeElement(root), &created), VE_OK);
    EXPECT_EQ(created.size(), 2u);
    EXPECT_EQ(WriteBagToDomXML(*bag, doc, nullptr), VE_INVALID_PARAMETER);

    Bag read = NewBag();
    EXPECT_EQ(ReadBagFromDomXML(IXMLDomWrapper::GetNodeFromNodeElement(root), *read), VE_OK);
    VString s, r, flag;
    EXPECT_TRUE(read->GetString("s", s));
    EXPECT_TRUE(read->GetString("r", r));
    EXPECT_EQ(to_string(s), "a&b");
    EXPECT_EQ(to_string(r), "2.5");
    ASSERT_NE(read->GetElements("kid"), nullptr);
    EXPECT_EQ(read->GetElements("kid")->GetCount(), 2);
    EXPECT_TRUE(read->GetElements("kid")->GetNth(1)->GetString("flag", flag));
    EXPECT_EQ(to_string(flag), "true");
    EXPECT_EQ(ReadBagFromDomXML(doc, *read), VE_XML_ERROR);
    IXMLDomWrapper::ReleaseNode(doc);
}

// How many levels of "n" children hang below bag, each holding its level in "d".
int ChainDepth(const VValueBag& bag)
{
    int depth = 0;
    const VValueBag* current = &bag;
    while (const VBagArray* list = current->GetElements("n")) {
        current = list->GetNth(1);
        VString level;
        if (!current->GetString("d", level) || to_string(level) != std::to_string(depth + 1))
            return -1;
        ++depth;
    }
    return depth;
}

TEST_F(VValueBagXMLTest, DeepBagsMoveIntoAndOutOfDomTreesOnASmallStack)
{
    // As deep as the bag reader accepts; bags are built and freed here, on the
    // test's own stack, and only moved on the small one.
    const int depth = static_cast<int>(VXMLBagHandler::kMaxDepth);
    Bag bag = NewBag();
    VValueBag* current = bag.Get();
    for (int i = 1; i <= depth; ++i) {
        Bag child = NewBag();
        child->SetLong("d", i);
        current->AddElement("n", child.Get());
        current = child.Get();
    }
    Bag read = NewBag();
    VError written = -1;
    VError readBack = -1;
    VTask* task = new VTask(128 * 1024, eTaskStylePreemptive, [&] {
        const std::string xml = "<root/>";
        XMLDOMNode doc = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
        if (!doc)
            return;
        XMLDOMNode root = IXMLDomWrapper::GetNodeFromNodeElement(IXMLDomWrapper::GetRootNodeElement(doc));
        written = WriteBagToDomXML(*bag, root, nullptr);
        readBack = ReadBagFromDomXML(root, *read);
        IXMLDomWrapper::ReleaseNode(doc);
    });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(60000));
    task->Release();
    EXPECT_EQ(written, VE_OK);
    EXPECT_EQ(readBack, VE_OK);
    EXPECT_EQ(ChainDepth(*read), depth);
}

TEST(ParseXMLValue, InfersKinds)
{
    struct Case {
        const char* text;
        ValueKind kind;
        const char* asText;
    } cases[] = {
        {" 42 ", VK_LONG, "42"},
        {"-7", VK_LONG, "-7"},
        {"2147483648", VK_LONG8, "2147483648"},
        {"-2.5e1", VK_REAL, "-25"},
        {"1.", VK_STRING, "1."},
        {"true", VK_BOOLEAN, "true"},
        {"+true", VK_STRING, "+true"},
        {"-INF", VK_REAL, nullptr},
        {"+INF", VK_STRING, "+INF"},
        {"NaN", VK_REAL, nullptr},
        {"99999999999999999999", VK_STRING, "99999999999999999999"},
        {"{12345678-1234-1234-1234-123456789ABC}", VK_UUID, "123456781234123412341234567890AB"},
        {"hello", VK_STRING, "hello"},
        {"1e999", VK_STRING, "1e999"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<VValueSingle> value(ParseXMLValue(VString(c.text)));
        ASSERT_NE(value, nullptr) << c.text;
        EXPECT_EQ(value->GetValueKind(), c.kind) << c.text;
        if (c.asText != nullptr && c.kind != VK_UUID) {
            VString text;
            value->GetString(text);
            EXPECT_EQ(to_string(text), c.asText) << c.text;
        }
    }
    std::unique_ptr<VValueSingle> inf(ParseXMLValue(VString("-INF")));
    EXPECT_TRUE(std::isinf(inf->GetReal()) && inf->GetReal() < 0);
}

}  // namespace
}  // namespace bkit::test
