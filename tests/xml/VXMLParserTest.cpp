// VXMLParserTest.cpp - the SAX parse into handler stacks, its errors and its safety limits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/xml/IXMLDomWrapper.h"
#include "basekit/xml/IXMLHandler.h"
#include "basekit/xml/VXMLParser.h"
#include "basekit/xml/XMLExpansionBudget.h"
#include "support/TempFolder.h"
#include "xml/ChildMemory.h"
#include "xml/XMLTestSupport.h"

namespace bkit::test {
namespace {

struct ParseResult {
    bool ok = false;
    EventLog events;
    VError lastError = 0;
    int line = -1;
    int column = -1;
};

ParseResult ParseBytes(const std::string& xml, uint32_t options = XML_ValidateNever, VFolder* entities = nullptr,
                       std::set<std::string> refused = {})
{
    ParseResult result;
    auto log = std::make_shared<EventLog>();
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log, "#root", refused));
    StErrorContextInstaller errors(false, true);
    // Entities are resolved by the handler on top first: the root while the
    // document type is read, then the parser for any element's handler.
    VXMLParser parser;
    if (entities) {
        root->SetEntitiesLocalFolder(VString(""), entities);
        parser.SetEntitiesLocalFolder(VString(""), entities);
    }
    result.ok = parser.Parse(xml.data(), xml.size(), root.Get(), options);
    result.events = *log;
    result.lastError = errors.GetLastError();
    if (errors.GetContext() && !errors.GetContext()->GetErrors().empty()) {
        const VErrorBase* last = errors.GetContext()->GetErrors().back();
        result.line = ErrorParameter(last, "line");
        result.column = ErrorParameter(last, "column");
    }
    // The stack released every handler it took.
    EXPECT_EQ(1, root->GetRefCount());
    return result;
}

TEST(VXMLParserTest, EventsReachTheHandlerStackInDocumentOrder)
{
    ParseResult r = ParseBytes(
        "<?xml version=\"1.0\"?><doc a=\"1\" b='2'><item id=\"x\"/><group>t<leaf/>u</group></doc>");
    ASSERT_TRUE(r.ok);
    EventLog expected = {
        "#root start doc", "doc attr a=1",      "doc attr b=2",   "doc start item", "item attr id=x",
        "item end item",   "doc start group",   "group text t",   "group start leaf", "leaf end leaf",
        "group text u",    "group end group",   "doc end doc",
    };
    EXPECT_EQ(expected, r.events);
}

TEST(VXMLParserTest, DefaultedAttributesOnlyWhenAsked)
{
    std::string xml = "<!DOCTYPE doc [<!ATTLIST doc d CDATA \"dflt\">]><doc a=\"1\"/>";
    EXPECT_EQ((EventLog{"#root start doc", "doc attr a=1", "doc end doc"}), ParseBytes(xml).events);
    EXPECT_EQ((EventLog{"#root start doc", "doc attr a=1", "doc attr d=dflt", "doc end doc"}),
              ParseBytes(xml, XML_ValidateNever | XML_ReportDefaultedAttributes).events);
}

TEST(VXMLParserTest, LibraryStaysStartedWhileAnyOwnerHoldsIt)
{
    ASSERT_TRUE(VXMLParser::Init());
    ASSERT_TRUE(VXMLParser::Init());
    VXMLParser::DeInit();
    // Still started: a DOM document (which needs the library outside any
    // parse) can be made and released.
    std::string xml = "<r/>";
    XMLDOMNode document = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
    EXPECT_TRUE(document);
    IXMLDomWrapper::ReleaseNode(document);
    VXMLParser::DeInit();
    // A parse holds the library by itself.
    EXPECT_TRUE(ParseBytes("<r/>").ok);
}

TEST(VXMLParserTest, RefusedElementSkipsItsWholeSubTreeAndKeepsTheStackBalanced)
{
    ParseResult r = ParseBytes("<doc><skip a=\"1\"><inner>x</inner><inner/></skip><kept>y</kept><skip/></doc>",
                               XML_ValidateNever, nullptr, {"skip"});
    ASSERT_TRUE(r.ok);
    EventLog expected = {"#root start doc",  "doc start skip", "doc start kept", "kept text y",
                         "kept end kept",    "doc start skip", "doc end doc"};
    EXPECT_EQ(expected, r.events);
}

TEST(VXMLParserTest, NullHandlerSwallowsEverything)
{
    VRefPtr<VNullXMLHandler> handler = VRefPtr<VNullXMLHandler>::Adopt(new VNullXMLHandler);
    VXMLParser parser;
    std::string xml = "<a x='1'><b>text<c/></b></a>";
    EXPECT_TRUE(parser.Parse(xml.data(), xml.size(), handler.Get(), 0));
    EXPECT_EQ(1, handler->GetRefCount());
}

TEST(VXMLParserTest, TextAroundAnEntityReferenceArrivesInPieces)
{
    ParseResult r = ParseBytes("<t>first line\nsecond &amp; third\n<![CDATA[<raw>]]>end</t>");
    ASSERT_TRUE(r.ok);
    int pieces = 0;
    for (const std::string& e : r.events)
        pieces += e.rfind("t text ", 0) == 0;
    EXPECT_GT(pieces, 1);
    EXPECT_EQ("first line\nsecond & third\n<raw>end", JoinedText(r.events));
}

TEST(VXMLParserTest, StyleSheetInstructionBecomesStyleSheetCalls)
{
    struct Case {
        const char* data;
        EventLog expected;
    } cases[] = {
        {"type=\"text/xsl\" href=\"a.xsl\"",
         {"#root style-start", "#root style type=text/xsl", "#root style href=a.xsl", "#root style-end"}},
        {"type = 'text/xsl'  href= 'a.xsl'",
         {"#root style-start", "#root style type=text/xsl", "#root style href=a.xsl", "#root style-end"}},
        // Tokens end at every blank, inside quotes too.
        {"title=\"two words\"", {"#root style-start", "#root style title=\"two", "#root style-end"}},
    };
    for (const Case& c : cases) {
        ParseResult r = ParseBytes(std::string("<?xml-stylesheet ") + c.data + "?><doc/>");
        ASSERT_TRUE(r.ok) << c.data;
        r.events.resize(r.events.size() - 2);  // the document element
        EXPECT_EQ(c.expected, r.events) << c.data;
    }
    // Other instructions do nothing.
    ParseResult other = ParseBytes("<?other type=\"x\"?><doc/>");
    EXPECT_EQ((EventLog{"#root start doc", "doc end doc"}), other.events);
}

TEST(VXMLParserTest, ErrorsArePushedWithTheirPosition)
{
    ParseResult broken = ParseBytes("<doc>\n  <open>\n</doc>");
    EXPECT_FALSE(broken.ok);
    EXPECT_EQ(VE_XML_FATAL_ERROR, broken.lastError);
    EXPECT_EQ(3, broken.line);
    EXPECT_GT(broken.column, 0);

    ParseResult invalid = ParseBytes("<!DOCTYPE doc [<!ELEMENT doc EMPTY>]><doc><child/></doc>", XML_ValidateAlways);
    EXPECT_FALSE(invalid.ok);
    EXPECT_EQ(VE_XML_ERROR, invalid.lastError);

    // The same document is fine when validation is off.
    EXPECT_TRUE(ParseBytes("<!DOCTYPE doc [<!ELEMENT doc EMPTY>]><doc><child/></doc>", XML_ValidateNever).ok);

    ParseResult empty = ParseBytes("");
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(VE_XML_FATAL_ERROR, empty.lastError);
}

TEST(VXMLParserTest, StringIsReadAsUTF16WhateverItsDeclarationSays)
{
    auto log = std::make_shared<EventLog>();
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log, "#root"));
    VString text("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><t>\u00e9\u4e2d</t>");
    VXMLParser parser;
    ASSERT_TRUE(parser.Parse(text, root.Get(), XML_ValidateNever));
    EXPECT_EQ("\u00e9\u4e2d", JoinedText(*log));
}

TEST(VXMLParserTest, CharacterClasses)
{
    EXPECT_TRUE(IXMLHandler::WCharIsSpace(' '));
    EXPECT_TRUE(IXMLHandler::WCharIsSpace(0x0C));
    EXPECT_FALSE(IXMLHandler::WCharIsSpace(0x0B));
    EXPECT_FALSE(IXMLHandler::WCharIsSpace(0xA0));
    EXPECT_TRUE(IXMLHandler::IsXMLChar('a'));
    EXPECT_TRUE(IXMLHandler::IsXMLChar(0x09));
    EXPECT_FALSE(IXMLHandler::IsXMLChar(0x01));
    EXPECT_FALSE(IXMLHandler::IsXMLChar(0xFFFF));
    EXPECT_FALSE(IXMLHandler::IsXMLChar(0xD800));  // a lone surrogate half
    EXPECT_FALSE(IXMLHandler::IsXMLChar(0));
}

TEST(VXMLParserTest, OtherFilesAreReadWholeFirst)
{
    auto log = std::make_shared<EventLog>();
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log, "#root"));
    VXMLParser parser;
    VRefPtr<MemoryFile> file = VRefPtr<MemoryFile>::Adopt(new MemoryFile("<d>in memory</d>", false));
    EXPECT_TRUE(parser.Parse(file.Get(), root.Get(), XML_ValidateNever));
    EXPECT_EQ("in memory", JoinedText(*log));

    log->clear();
    StErrorContextInstaller errors(false, true);
    VRefPtr<MemoryFile> unreadable = VRefPtr<MemoryFile>::Adopt(new MemoryFile("<d/>", true));
    EXPECT_FALSE(parser.Parse(unreadable.Get(), root.Get(), XML_ValidateNever));
    EXPECT_EQ(VE_FILE_CANNOT_READ, errors.GetLastError());
    EXPECT_TRUE(log->empty());
}

class VXMLParserFileTest : public TempFolderTest {};

TEST_F(VXMLParserFileTest, ParsesFilesAndReportsUnreadableOnes)
{
    ASSERT_TRUE(fTemp.WriteFile("doc.xml", "<doc><x>1</x></doc>"));
    auto log = std::make_shared<EventLog>();
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log, "#root"));
    VXMLParser parser;
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("doc.xml")));
    EXPECT_TRUE(parser.Parse(file.Get(), root.Get(), XML_ValidateNever));
    EXPECT_EQ("1", JoinedText(*log));

    StErrorContextInstaller errors(false, true);
    VRefPtr<VFile> missing = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("missing.xml")));
    EXPECT_FALSE(parser.Parse(missing.Get(), root.Get(), XML_ValidateNever));
    EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError());
}

TEST_F(VXMLParserFileTest, EntitiesResolveOnlyInsideTheEntityFolder)
{
    ASSERT_TRUE(fTemp.MakeFolder("ents"));
    ASSERT_TRUE(fTemp.MakeFolder("ents/sub"));
    ASSERT_TRUE(fTemp.WriteFile("ents/sub/part.ent", "inside"));
    ASSERT_TRUE(fTemp.WriteFile("secret.ent", "SECRET"));
    VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("ents")));

    struct Case {
        const char* prefix;
        const char* systemID;
        const char* expected;  // the relative path, or null for no file
    } cases[] = {
        {"", "sub/part.ent", "ents/sub/part.ent"},
        {"res://", "RES://sub/part.ent", "ents/sub/part.ent"},
        {"res://", "other://sub/part.ent", nullptr},
        {"", "../secret.ent", nullptr},
        {"", "sub/../../secret.ent", nullptr},
        {"", "/etc/passwd", nullptr},
        {"", "sub//part.ent", nullptr},
        {"", "sub/", nullptr},
        {"", "", nullptr},
    };
    for (const Case& c : cases) {
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(
            VXMLParser::ResolveEntityFromFolder(VString(c.prefix), folder.Get(), VString(c.systemID)));
        if (c.expected) {
            ASSERT_TRUE(file) << c.systemID;
            EXPECT_EQ(fTemp.FilePath(c.expected), file->GetPath()) << c.systemID;
        } else {
            EXPECT_FALSE(file) << c.systemID;
        }
    }
    EXPECT_EQ(nullptr, VXMLParser::ResolveEntityFromFolder(VString(""), nullptr, VString("sub/part.ent")));

    // Through a parse: the folder's entity is read, one outside it is not.
    ParseResult r = ParseBytes("<!DOCTYPE doc [<!ENTITY in SYSTEM \"sub/part.ent\">]><doc>&in;</doc>",
                               XML_ValidateNever, folder.Get());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ("inside", JoinedText(r.events));

    std::string outside = "<!DOCTYPE doc [<!ENTITY out SYSTEM \"../secret.ent\">]><doc>&out;</doc>";
    EXPECT_EQ(std::string::npos, JoinedText(ParseBytes(outside, XML_ValidateNever, folder.Get()).events).find("SECRET"));
}

TEST_F(VXMLParserFileTest, NoEntityIsReadFromDiskWithoutAnEntityFolder)
{
    ASSERT_TRUE(fTemp.WriteFile("secret.ent", "SECRET"));
    ASSERT_TRUE(fTemp.WriteFile("evil.dtd", "<!ENTITY leak \"SECRET\">"));
    std::string path = fTemp.Path("secret.ent");
    std::string cases[] = {
        "<!DOCTYPE doc [<!ENTITY e SYSTEM \"" + path + "\">]><doc>&e;</doc>",
        "<!DOCTYPE doc [<!ENTITY e SYSTEM \"file://" + path + "\">]><doc>&e;</doc>",
        "<!DOCTYPE doc SYSTEM \"" + fTemp.Path("evil.dtd") + "\"><doc>&leak;</doc>",
        "<!DOCTYPE doc [<!ENTITY % p SYSTEM \"" + fTemp.Path("evil.dtd") + "\"> %p;]><doc>&leak;</doc>",
    };
    for (const std::string& xml : cases) {
        ParseResult r = ParseBytes(xml, XML_ValidateNever | XML_LoadExternalDTD);
        EXPECT_EQ(std::string::npos, JoinedText(r.events).find("SECRET")) << xml;
    }
}

TEST(VXMLParserTest, ExponentialEntityExpansionFails)
{
    std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    xml += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
    for (int i = 2; i <= 9; ++i) {
        std::string prev = "&lol" + std::to_string(i - 1) + ";";
        xml += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += prev;
        xml += "\">";
    }
    xml += "]><lolz>&lol9;</lolz>";
    ParseResult r = ParseBytes(xml);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(VE_XML_FATAL_ERROR, r.lastError);
    EXPECT_LT(JoinedText(r.events).size(), 3u * 1000000u);
}

// A document declaring one entity of entitySize characters and using it uses times.
std::string RepeatedEntityDocument(size_t entitySize, int uses)
{
    std::string xml = "<!DOCTYPE d [<!ENTITY e \"" + std::string(entitySize, 'x') + "\">]><d>";
    for (int i = 0; i < uses; ++i)
        xml += "&e;";
    return xml + "</d>";
}

TEST(VXMLParserTest, EntityExpansionIsBoundedInSize)
{
    StXMLParserInit library;  // for the DOM documents
    struct Case {
        size_t entitySize;
        int uses;
        bool read;
    } const cases[] = {
        {200000, 2000, false},  // 206 KB expanding to 400 M characters
        {100000, 150, false},   // 15 M characters: past the 10 M floor
        {1000, 5000, true},     // 5 M characters: within it
    };
    for (const Case& c : cases) {
        const std::string xml = RepeatedEntityDocument(c.entitySize, c.uses);
        const size_t bound = std::max(kXMLEntityExpansionSize, kXMLEntityExpansionRatio * xml.size());
        ParseResult sax = ParseBytes(xml);
        EXPECT_EQ(c.read, sax.ok) << c.entitySize;
        EXPECT_EQ(c.read ? 0 : VE_XML_FATAL_ERROR, sax.lastError) << c.entitySize;
        const size_t text = JoinedText(sax.events).size();
        if (c.read)
            EXPECT_EQ(c.entitySize * c.uses, text);
        else
            EXPECT_LE(text, bound);

        StErrorContextInstaller errors(false, true);
        XMLDOMNode doc = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
        EXPECT_EQ(c.read, doc != nullptr) << c.entitySize;
        EXPECT_EQ(c.read ? 0 : VE_XML_FATAL_ERROR, errors.GetLastError()) << c.entitySize;
        if (doc)
            IXMLDomWrapper::ReleaseNode(doc);
    }
}

// Counts the elements and instruction characters a parse hands over.
class MarkupCounter : public VObject, public IXMLHandler {
public:
    IXMLHandler* StartElement(const VString&) override
    {
        ++fElements;
        Retain();
        return this;
    }
    void processingInstruction(const VString& target, const VString& data) override
    {
        fInstructionCharacters += static_cast<size_t>(target.GetLength() + data.GetLength());
    }
    size_t fElements = 0;
    size_t fInstructionCharacters = 0;
};

// Sends content through a FIFO at path from a child process, which ends by
// itself once all is written or the reader has gone (the write then fails or
// the pipe's signal ends it); answers its pid, or -1.
pid_t WriteThroughFifo(const std::string& path, const std::string& content)
{
    if (mkfifo(path.c_str(), 0600) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0)
            child_memory::WriteAll(fd, content.data(), content.size());
        _exit(0);
    }
    return pid;
}

// Ends the writer, whatever it is doing, and collects it.
void EndWriter(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    RetryOnEINTR([&] { return waitpid(pid, nullptr, 0); });
}

// A FIFO tells no size beforehand: the bounds follow what it delivers, so a
// plain document is read whole, as it is from disk, and one that expands is
// stopped all the same.
TEST_F(VXMLParserFileTest, DocumentsFromAFifoAreBoundedByWhatTheyDeliver)
{
    std::string plain = "<d>";
    for (int i = 0; i < 400000; ++i)
        plain += "<a/>";
    plain += "</d>";
    // Each reference brings 2000 elements: 200 million in all.
    std::string elements;
    for (int i = 0; i < 2000; ++i)
        elements += "<a/>";
    std::string expanding = "<!DOCTYPE d [<!ENTITY e \"" + elements + "\">]><d>";
    for (int i = 0; i < 100000; ++i)
        expanding += "&e;";
    expanding += "</d>";
    struct Case {
        const char* name;
        const std::string& xml;
        bool read;
    } const cases[] = {
        {"400000 plain elements", plain, true},
        {"an entity of 2000 elements used 100000 times", expanding, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "doc" + std::to_string(n++) + ".fifo";
        const pid_t writer = WriteThroughFifo(fTemp.Path(name), c.xml);
        ASSERT_GT(writer, 0) << c.name;
        VRefPtr<MarkupCounter> counter = VRefPtr<MarkupCounter>::Adopt(new MarkupCounter);
        StErrorContextInstaller errors(false, true);
        VXMLParser parser;
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath(name)));
        const bool ok = parser.Parse(file.Get(), counter.Get(), XML_ValidateNever);
        EndWriter(writer);
        EXPECT_EQ(c.read, ok) << c.name;
        if (c.read) {
            EXPECT_EQ(0, errors.GetLastError()) << c.name;
            EXPECT_EQ(400001u, counter->fElements) << c.name;
        } else {
            // Stopped within what the whole document, had its size been
            // known, would have been allowed.
            EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError()) << c.name;
            EXPECT_LE(counter->fElements * kXMLHandlerNodeBytes, XMLParseMemoryCap(c.xml.size())) << c.name;
        }
    }
}

TEST(VXMLParserTest, EverythingAnEntityExpandsToCountsAgainstTheBound)
{
    StXMLParserInit library;  // for the DOM documents
    constexpr size_t kEntitySize = 100000;
    const std::string elementName(20, 'e');
    std::string elements;
    while (elements.size() < kEntitySize)
        elements += "<" + elementName + "/>";
    // Declarations of an entity w of about kEntitySize characters that hold
    // no text and no attribute value.
    struct Kind {
        const char* name;
        std::string declarations;
        uint32_t options;
    } const kinds[] = {
        {"a processing instruction", "<!ENTITY w \"<?pi " + std::string(kEntitySize, 'x') + "?>\">",
         XML_ValidateNever},
        {"a comment", "<!ENTITY w \"<!--" + std::string(kEntitySize, 'x') + "-->\">", XML_ValidateNever},
        // Validated, the whitespace is ignorable rather than text.
        {"whitespace in element content",
         "<!ELEMENT d (e)*><!ELEMENT e EMPTY><!ENTITY w \"" + std::string(kEntitySize, ' ') + "\">",
         XML_ValidateAlways},
        {"empty elements", "<!ENTITY w \"" + elements + "\">", XML_ValidateNever},
    };
    // 20 uses come to 2 M characters, within the 10 M floor; 200 to 20 M.
    for (const Kind& kind : kinds) {
        for (int uses : {20, 200}) {
            std::string xml = "<!DOCTYPE d [" + kind.declarations + "]><d>";
            for (int i = 0; i < uses; ++i)
                xml += "&w;";
            xml += "</d>";
            const bool read = uses == 20;
            const size_t bound = std::max(kXMLEntityExpansionSize, kXMLEntityExpansionRatio * xml.size());

            VRefPtr<MarkupCounter> counter = VRefPtr<MarkupCounter>::Adopt(new MarkupCounter);
            StErrorContextInstaller errors(false, true);
            VXMLParser parser;
            EXPECT_EQ(read, parser.Parse(xml.data(), xml.size(), counter.Get(), kind.options))
                << kind.name << " x" << uses;
            EXPECT_EQ(read ? 0 : VE_XML_FATAL_ERROR, errors.GetLastError()) << kind.name << " x" << uses;
            // The parse stopped at the bound, not after the whole expansion.
            EXPECT_LE(counter->fInstructionCharacters, bound) << kind.name;
            EXPECT_LE(counter->fElements * (elementName.size() + 3), bound) << kind.name;
            EXPECT_EQ(1, counter->GetRefCount());

            XMLDOMNode doc = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
            EXPECT_EQ(read, doc != nullptr) << kind.name << " x" << uses;
            EXPECT_EQ(read ? 0 : VE_XML_FATAL_ERROR, errors.GetLastError()) << kind.name << " x" << uses;
            if (doc)
                IXMLDomWrapper::ReleaseNode(doc);
        }
    }
}

TEST(VXMLParserTest, EverythingAParameterEntityExpandsToCountsAgainstTheBound)
{
    StXMLParserInit library;  // for the DOM documents
    constexpr size_t kEntitySize = 100000;
    const std::string text(kEntitySize, 'x');
    std::string references;  // to %i;, an instruction
    for (int i = 0; i < 20; ++i)
        references += "&#37;i; ";
    // Replacement texts of about kEntitySize characters that hold only what
    // may stand between the declarations of a document type.
    struct Kind {
        const char* name;
        std::string value;
    } const kinds[] = {
        {"a comment", "<!--" + text + "-->"},
        {"whitespace", std::string(kEntitySize, ' ')},
        {"a processing instruction", "<?pi " + text + "?>"},
        // Redeclared at every use after the first, and ignored.
        {"declarations", "<!ENTITY w '" + text.substr(kEntitySize / 2) + "'><!ATTLIST d a CDATA '" +
                             text.substr(kEntitySize / 2) + "'>"},
        // Counted once, not again each time the reading comes back to it
        // from the entity it references (21 times as much would not read).
        {"a comment and references", "<!--" + text + "-->" + references},
    };
    // 20 uses come to 2 M characters, within the 10 M floor; 2000 to 200 M.
    for (const Kind& kind : kinds) {
        for (int uses : {20, 2000}) {
            // One reference a line: the line of the error tells how far the
            // parse went.
            std::string xml = "<!DOCTYPE d [<!ENTITY % i \"<?i?>\"><!ENTITY % p \"" + kind.value + "\">";
            for (int i = 0; i < uses; ++i)
                xml += "\n%p;";
            xml += "\n]><d/>";
            const bool read = uses == 20;
            const size_t bound = std::max(kXMLEntityExpansionSize, kXMLEntityExpansionRatio * xml.size());
            // Reference n stands on line n + 1: the line of the first one
            // past the bound, and one more for whitespace read past it.
            const int lastLine = static_cast<int>(bound / kEntitySize) + 3;

            ParseResult sax = ParseBytes(xml);
            EXPECT_EQ(read, sax.ok) << kind.name << " x" << uses;
            EXPECT_EQ(read ? 0 : VE_XML_FATAL_ERROR, sax.lastError) << kind.name << " x" << uses;
            if (!read) {
                EXPECT_GT(sax.line, 1) << kind.name;
                EXPECT_LE(sax.line, lastLine) << kind.name;
            }

            StErrorContextInstaller errors(false, true);
            XMLDOMNode doc = IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
            EXPECT_EQ(read, doc != nullptr) << kind.name << " x" << uses;
            EXPECT_EQ(read ? 0 : VE_XML_FATAL_ERROR, errors.GetLastError()) << kind.name << " x" << uses;
            if (doc)
                IXMLDomWrapper::ReleaseNode(doc);
            if (!read && errors.GetContext() && !errors.GetContext()->GetErrors().empty()) {
                const int line = ErrorParameter(errors.GetContext()->GetErrors().back(), "line");
                EXPECT_GT(line, 1) << kind.name;
                EXPECT_LE(line, lastLine) << kind.name;
            }
        }
    }
}

TEST(VXMLParserTest, AttributeExpansionIsBoundedInSizeAndMemory)
{
    StXMLParserInit library;  // for the DOM documents
    const std::string big = "<!DOCTYPE d [<!ENTITY big \"" + std::string(200000, 'x') + "\">]>";
    std::string oneElement = big + "<d";
    for (int i = 0; i < 2000; ++i)
        oneElement += " a" + std::to_string(i) + "=\"&big;\"";
    oneElement += "/>";
    std::string manyElements = big + "<d>";
    for (int i = 0; i < 2000; ++i)
        manyElements += "<e a=\"&big;\"/>";
    manyElements += "</d>";
    // A value the document type gives every element that leaves it out.
    std::string defaulted = "<!DOCTYPE d [<!ATTLIST e a CDATA \"" + std::string(100000, 'x') + "\">]><d>";
    for (int i = 0; i < 200; ++i)
        defaulted += "<e/>";
    defaulted += "</d>";
    std::string withinBound = "<!DOCTYPE d [<!ENTITY e \"" + std::string(1000, 'x') + "\">]><d>";
    for (int i = 0; i < 5000; ++i)
        withinBound += "<e a=\"&e;\"/>";
    withinBound += "</d>";

    struct Case {
        const char* name;
        const std::string& xml;
        size_t expanded;  // the characters the values come to
        bool read;
    } const cases[] = {
        {"2000 attributes of one element", oneElement, 2000 * 200000, false},
        {"one attribute on each of 2000 elements", manyElements, 2000 * 200000, false},
        {"a defaulted attribute on 200 elements", defaulted, 200 * 100000, false},
        {"attributes within the bound", withinBound, 5000 * 1000, true},
    };
    for (const Case& c : cases) {
        // What the library may hold for the document. Measured as the parse's
        // memory manager granted it, not as the process grew, which a
        // sanitizer's shadow memory alone takes past the cap.
        const size_t memoryCap = XMLParseMemoryCap(c.xml.size());
        XMLExpansionBudget::TakeLargestMemoryPeak();
        ParseResult sax = ParseBytes(c.xml);
        const size_t saxPeak = XMLExpansionBudget::TakeLargestMemoryPeak();
        EXPECT_EQ(c.read, sax.ok) << c.name;
        EXPECT_EQ(c.read ? 0 : VE_XML_FATAL_ERROR, sax.lastError) << c.name;
        EXPECT_GT(saxPeak, 0u) << c.name;
        EXPECT_LE(saxPeak, memoryCap) << c.name;

        StErrorContextInstaller errors(false, true);
        XMLDOMNode doc = IXMLDomWrapper::CreateNodeDocumentFromBuffer(c.xml.data(), c.xml.size());
        const size_t domPeak = XMLExpansionBudget::TakeLargestMemoryPeak();
        EXPECT_EQ(c.read, doc != nullptr) << c.name;
        EXPECT_EQ(c.read ? 0 : VE_XML_FATAL_ERROR, errors.GetLastError()) << c.name;
        EXPECT_LE(domPeak, memoryCap) << c.name;
        if (doc) {
            // A whole tree holds every character its values expand to: the
            // measure sees the tree's memory.
            EXPECT_GE(domPeak, c.expanded * sizeof(XMLCh)) << c.name;
            IXMLDomWrapper::ReleaseNode(doc);
        }
    }

    // Within the bound, the expanded values arrive whole.
    ParseResult small = ParseBytes("<!DOCTYPE d [<!ENTITY e \"xy\">]><d a=\"&e;&e;\" b=\"plain\"/>");
    EXPECT_EQ((EventLog{"#root start d", "d attr a=xyxy", "d attr b=plain", "d end d"}), small.events);
}

TEST(VXMLParserTest, TheFirstErrorsAreKeptThenTheParseStopsSayingSo)
{
    // One validation error an element, one element a line (the third line
    // holds the first).
    for (size_t errors : {kXMLErrorsKept, kXMLErrorsKept + 50}) {
        std::string xml = "<!DOCTYPE d [<!ELEMENT d ANY>]>\n<d>\n";
        for (size_t i = 0; i < errors; ++i)
            xml += "<a/>\n";
        xml += "</d>";
        VRefPtr<MarkupCounter> counter = VRefPtr<MarkupCounter>::Adopt(new MarkupCounter);
        StErrorContextInstaller stack(false, true);
        VXMLParser parser;
        EXPECT_FALSE(parser.Parse(xml.data(), xml.size(), counter.Get(), 0)) << errors;
        ASSERT_TRUE(stack.GetContext()) << errors;
        const VErrorContext::ErrorList& records = stack.GetContext()->GetErrors();
        const bool stopped = errors > kXMLErrorsKept;
        ASSERT_EQ(kXMLErrorsKept + (stopped ? 1 : 0), records.size()) << errors;
        // The first ones as the library reports them, where it found them.
        for (size_t i = 0; i < kXMLErrorsKept; ++i) {
            EXPECT_EQ(VE_XML_ERROR, records[i]->GetError()) << i;
            EXPECT_EQ(static_cast<int>(i) + 3, ErrorParameter(records[i], "line")) << i;
        }
        if (stopped) {
            EXPECT_EQ(VE_XML_FATAL_ERROR, records.back()->GetError());
            VString message;
            records.back()->GetErrorDescription(message);
            EXPECT_NE(std::string::npos, to_string(message).find("more than " + std::to_string(kXMLErrorsKept)));
            // Read no further than the error past the bound.
            EXPECT_LE(counter->fElements, kXMLErrorsKept + 2);
        } else {
            EXPECT_EQ(errors + 1, counter->fElements);
        }
    }
}

// The documents that once took gigabytes with their error records, parsed
// with the default options (which validate a document with a document type)
// by a handler that only counts: each in a child process, so that a parse
// that runs away fails the test instead of the machine.
TEST(VXMLParserTest, ErrorRecordsKeepAnyDocumentWithinTheMemoryBound)
{
    auto undeclared = [](size_t count) {
        std::string elements;
        for (size_t i = 0; i < count; ++i)
            elements += "<a/>";
        return elements;
    };
    auto references = [](size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i)
            text += "&e;";
        return text;
    };
    std::string attributes = "<a";
    for (int i = 0; i < 2000; ++i)
        attributes += " x" + std::to_string(i) + "=''";
    attributes += "/>";
    struct Case {
        const char* name;
        std::string xml;
    } const cases[] = {
        {"an entity of 25000 undeclared elements used 2000 times",
         "<!DOCTYPE d [<!ENTITY e \"" + undeclared(25000) + "\">]><d>" + references(2000) + "</d>"},
        {"500000 undeclared elements", "<!DOCTYPE d []><d>" + undeclared(500000) + "</d>"},
        {"an entity of an element of 2000 undeclared attributes used 2000 times",
         "<!DOCTYPE d [<!ENTITY e \"" + attributes + "\">]><d>" + references(2000) + "</d>"},
    };
    constexpr size_t kMiB = 1024 * 1024;
    for (const Case& c : cases) {
        const ChildOutcome outcome = RunInChild(
            [&] {
                VRefPtr<MarkupCounter> counter = VRefPtr<MarkupCounter>::Adopt(new MarkupCounter);
                StErrorContextInstaller stack(false, true);
                VXMLParser parser;
                return !parser.Parse(c.xml.data(), c.xml.size(), counter.Get(), 0);
            },
            768 * kMiB, std::chrono::seconds(60));
        EXPECT_FALSE(outcome.overCeiling) << c.name;
        EXPECT_FALSE(outcome.overDeadline) << c.name;
        EXPECT_TRUE(outcome.finished) << c.name;
        if (!outcome.finished)
            continue;
        EXPECT_TRUE(outcome.workAnswer) << c.name << ": read as sound";
        EXPECT_LE(outcome.growth, 256 * kMiB) << c.name;
    }
}

}  // namespace
}  // namespace bkit::test
