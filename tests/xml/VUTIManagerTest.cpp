// VUTIManagerTest.cpp - type declarations from a property list: conformance, tags and file kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/platform/LocaleStringCompare.h"
#include "basekit/xml/VUTI.h"
#include "basekit/xml/VUTIManager.h"
#include "support/TempFolder.h"

namespace bkit::test {
namespace {

std::string Declaration(const std::string& id, const std::string& body)
{
    return "<dict><key>UTTypeIdentifier</key><string>" + id + "</string>" + body + "</dict>";
}

std::string Conforms(std::initializer_list<const char*> parents)
{
    std::string text = "<key>UTTypeConformsTo</key><array>";
    for (const char* parent : parents)
        text += std::string("<string>") + parent + "</string>";
    return text + "</array>";
}

const char* kPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleName</key><string>Acme</string>
<key>UTExportedTypeDeclarations</key><array>)";

class VUTIManagerTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        if (!VFileKindManager::Get()) {
            VFileKindManager::Init();
            fOwnsKinds = true;
        }
        std::string plist = kPlist;
        plist += Declaration("com.acme.doc",
                             "<key>UTTypeDescription</key><string>Acme document</string>" +
                                 Conforms({"com.acme.base", "public.xml"}) +
                                 "<key>UTTypeTagSpecification</key><dict>"
                                 "<key>public.filename-extension</key><array><string>acd</string><string>acme</string></array>"
                                 "<key>public.mime-type</key><string>application/x-acme</string>"
                                 "<key>com.apple.ostype</key><string>ACME</string></dict>"
                                 "<key>UTTypeIconFile</key><string>doc.icns</string>");
        plist += Declaration("COM.ACME.DOC", "<key>UTTypeDescription</key><string>duplicate</string>");
        plist += Declaration("com.acme.loop1", Conforms({"com.acme.loop2"}) + "<key>UTTypeTagSpecification</key><dict>"
                                                   "<key>public.filename-extension</key><string>l1</string></dict>");
        plist += Declaration("com.acme.loop2", Conforms({"com.acme.loop1"}));
        plist += "</array><key>UTImportedTypeDeclarations</key><array>";
        plist += Declaration("com.acme.shared", "<key>UTTypeTagSpecification</key><dict>"
                                                "<key>public.filename-extension</key><string>shr</string></dict>");
        plist += Declaration("public.shared", "<key>UTTypeTagSpecification</key><dict>"
                                              "<key>public.filename-extension</key><string>shr</string></dict>");
        plist += Declaration("com.acme.base", "<key>UTTypeDescription</key><string>Acme base</string>");
        plist += Declaration("com.acme.orphan", Conforms({"com.never.declared"}));
        plist += Declaration("", "<key>UTTypeDescription</key><string>no identifier</string>");
        plist += "</array></dict></plist>";
        ASSERT_TRUE(fTemp.WriteFile("Info.plist", plist));

        fManager = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("Info.plist")));
        ASSERT_TRUE(fManager->LoadXMLFile(file.Get()));
    }
    void TearDown() override
    {
        fManager = nullptr;
        if (fOwnsKinds)
            VFileKindManager::DeInit();
    }

    std::string Preferred(const char* tagClass, const char* tag, const char* conformingTo = "")
    {
        VRefPtr<VUTI> uti = VRefPtr<VUTI>::Adopt(
            fManager->UTTypeCreatePreferredIdentifierForTag(VString(tagClass), VString(tag), VString(conformingTo)));
        return uti ? to_string(uti->GetIdentifier()) : "<none>";
    }

    VRefPtr<VUTIManager> fManager;
    bool fOwnsKinds = false;
};

TEST_F(VUTIManagerTest, DeclarationsAreReadAndLinked)
{
    EXPECT_EQ(7, fManager->GetUTIsCount());  // the duplicate and the one without identifier are dropped
    VUTI* doc = fManager->GetUTI(VString("com.acme.doc"));
    ASSERT_TRUE(doc);
    EXPECT_EQ("Acme document", to_string(doc->GetDescription()));
    EXPECT_EQ(2u, doc->GetExtensionsVector().size());
    ASSERT_EQ(1u, doc->GetMIMETypesVector().size());
    EXPECT_EQ("application/x-acme", to_string(doc->GetMIMETypesVector()[0]));
    ASSERT_EQ(1u, doc->GetOSTypesVector().size());

    // Declared later, the base is now the document's parent; public.xml stays a placeholder.
    VUTI* base = fManager->GetUTI(VString("com.acme.base"));
    ASSERT_TRUE(base);
    ASSERT_EQ(2u, doc->GetParentUTIsMap().size());
    EXPECT_FALSE(doc->GetParentUTIsMap().at(VString("com.acme.base"))->IsTemporary());
    EXPECT_TRUE(doc->GetParentUTIsMap().at(VString("public.xml"))->IsTemporary());
    EXPECT_TRUE(base->IsChild(doc));
    EXPECT_TRUE(doc->IsParent(base));
    EXPECT_FALSE(doc->IsParent(fManager->GetUTI(VString("com.acme.shared"))));

    struct Case {
        const char* id;
        bool conforms;
    } cases[] = {
        {"com.acme.doc", true}, {"COM.ACME.BASE", true}, {"public.xml", true},  // the platform's table
        {"public.text", true},  {"public.image", false}, {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.conforms, doc->ConformsToIdentifier(VString(c.id))) << c.id;
}

TEST_F(VUTIManagerTest, TagsFindTheirPreferredType)
{
    struct Case {
        const char* tagClass;
        const char* tag;
        const char* conformingTo;
        const char* expected;
    } cases[] = {
        {kUTTagClassFilenameExtension, "acd", "", "com.acme.doc"},
        {kUTTagClassFilenameExtension, "ACME", "", "com.acme.doc"},
        {kUTTagClassMIMEType, "application/x-acme", "", "com.acme.doc"},
        {kUTTagClassOSType, "ACME", "", "com.acme.doc"},
        {kUTTagClassFilenameExtension, "shr", "", "public.shared"},  // public wins
        {kUTTagClassFilenameExtension, "acd", "com.acme.base", "com.acme.doc"},
        {kUTTagClassFilenameExtension, "acd", "public.image", "<none>"},
        {kUTTagClassFilenameExtension, "unknown", "", "<none>"},
        {"public.other-class", "acd", "", "<none>"},
        {kUTTagClassFilenameExtension, "", "", "<none>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Preferred(c.tagClass, c.tag, c.conformingTo)) << c.tag;

    std::unique_ptr<std::vector<VUTI*>> all(fManager->UTTypeCreateAllIdentifiersForTag(
        VString(kUTTagClassFilenameExtension), VString("shr"), VString()));
    ASSERT_TRUE(all);
    EXPECT_EQ(2u, all->size());
    for (VUTI* uti : *all)
        uti->Release();
    EXPECT_EQ(nullptr, fManager->UTTypeCreateAllIdentifiersForTag(VString(), VString("shr"), VString()));
}

TEST_F(VUTIManagerTest, MutualConformanceEndsEveryWalk)
{
    VUTI* loop1 = fManager->GetUTI(VString("com.acme.loop1"));
    VUTI* loop2 = fManager->GetUTI(VString("com.acme.loop2"));
    ASSERT_TRUE(loop1 && loop2);
    EXPECT_TRUE(loop1->IsParent(loop2));
    EXPECT_TRUE(loop2->IsParent(loop1));
    EXPECT_FALSE(loop1->ConformsToIdentifier(VString("com.acme.nothing")));
    EXPECT_TRUE(loop2->ConformsToIdentifier(VString("com.acme.loop1")));
    EXPECT_TRUE(loop2->ConformsToExtension(VString("l1")));
    EXPECT_FALSE(loop2->ConformsToMIMEType(VString("x/y")));
    EXPECT_FALSE(loop1->IsChildOrChildOfAParent(fManager->GetUTI(VString("com.acme.doc"))));
    std::vector<VString> extensions;
    loop2->GetAllExtensionsVector(extensions);
    EXPECT_EQ(1u, extensions.size());

    VRefPtr<VFileKind> kind = VRefPtr<VFileKind>::Adopt(VFileKindManager::Get()->RetainFileKind(VString("com.acme.loop1")));
    ASSERT_TRUE(kind);
    EXPECT_FALSE(kind->ConformsTo(VString("public.image")));
}

TEST_F(VUTIManagerTest, FilesConformByExtensionAndKindsAreRegistered)
{
    ASSERT_TRUE(fTemp.WriteFile("a.acd", "x"));
    ASSERT_TRUE(fTemp.WriteFile("plain", "x"));
    VRefPtr<VFile> doc = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("a.acd")));
    VRefPtr<VFile> plain = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("plain")));
    VRefPtr<VFile> missing = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("missing.acd")));
    EXPECT_TRUE(fManager->UTTypeConformsTo(doc.Get(), VString("com.acme.base")));
    EXPECT_FALSE(fManager->UTTypeConformsTo(doc.Get(), VString("com.acme.shared")));
    EXPECT_FALSE(fManager->UTTypeConformsTo(plain.Get(), VString("com.acme.base")));
    EXPECT_FALSE(fManager->UTTypeConformsTo(missing.Get(), VString("com.acme.base")));
    EXPECT_FALSE(fManager->UTTypeConformsTo(nullptr, VString("com.acme.base")));

    VFileKindManager* kinds = VFileKindManager::Get();
    VRefPtr<VFileKind> orphan = VRefPtr<VFileKind>::Adopt(kinds->RetainFileKind(VString("com.acme.orphan")));
    ASSERT_TRUE(orphan);
    std::vector<VString> parents;
    ASSERT_TRUE(orphan->GetParentIDs(parents));
    EXPECT_EQ("com.never.declared", to_string(parents[0]));

    VRefPtr<VFileKind> docKind = VRefPtr<VFileKind>::Adopt(kinds->RetainFileKind(VString("com.acme.doc")));
    ASSERT_TRUE(docKind);
    EXPECT_EQ("Acme document", to_string(docKind->GetDescription()));
    EXPECT_TRUE(docKind->MatchExtension(VString("ACD")));
    EXPECT_TRUE(docKind->ConformsTo(VString("com.acme.base")));
    EXPECT_TRUE(docKind->ConformsTo(VString("public.text")));
    EXPECT_FALSE(docKind->ConformsTo(VString("com.acme.shared")));
}

// A registry loaded from one declaration file; the comparisons of text that
// reading and linking it made go to comparisons.
class VUTIManagerLoadTest : public TempFolderTest {
protected:
    VRefPtr<VUTIManager> Load(const std::string& declarations, uint64_t* comparisons = nullptr)
    {
        const std::string plist = std::string(kPlist) + declarations + "</array></dict></plist>";
        EXPECT_TRUE(fTemp.WriteFile("Info.plist", plist));
        VRefPtr<VUTIManager> manager = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("Info.plist")));
        const uint64_t before = platform::StringComparer::GetComparisonsForTesting();
        EXPECT_TRUE(manager->LoadXMLFile(file.Get()));
        if (comparisons)
            *comparisons = platform::StringComparer::GetComparisonsForTesting() - before;
        return manager;
    }
};

TEST_F(VUTIManagerLoadTest, ManyTagsKeepTheirOrderWithoutRepeatsAtAFewComparisonsEach)
{
    // Each tag twice, the second time in capitals: the list keeps the first
    // spelling of each, in order. Sizes eight times apart cost eight times
    // the comparisons, give or take a logarithm, not sixty-four times.
    auto declaration = [](int tags) {
        std::string list;
        for (int i = 0; i < tags; ++i)
            list += "<string>e" + std::to_string(i) + "</string>";
        for (int i = 0; i < tags; ++i)
            list += "<string>E" + std::to_string(i) + "</string>";
        return Declaration("com.acme.many", "<key>UTTypeTagSpecification</key><dict>"
                                            "<key>public.filename-extension</key><array>" + list + "</array>"
                                            "<key>public.mime-type</key><array>" + list + "</array></dict>");
    };
    uint64_t small = 0, large = 0;
    Load(declaration(500), &small);
    VRefPtr<VUTIManager> manager = Load(declaration(4000), &large);
    VUTI* many = manager->GetUTI(VString("com.acme.many"));
    ASSERT_TRUE(many);
    for (const std::vector<VString>* list : {&many->GetExtensionsVector(), &many->GetMIMETypesVector()}) {
        ASSERT_EQ(4000u, list->size());
        for (size_t i = 0; i < list->size(); i += 397)
            EXPECT_EQ("e" + std::to_string(i), to_string((*list)[i]));
    }
    EXPECT_TRUE(many->ConformsToExtension(VString("E3999")));
    EXPECT_FALSE(many->ConformsToExtension(VString("e4000")));
    EXPECT_LE(large, 16 * small) << small << " then " << large;
}

TEST_F(VUTIManagerLoadTest, ManyDeclarationsAreProcessedAtAFewComparisonsEach)
{
    // Every type names two parents nobody declares, the last type also the
    // first one. Only the placeholders are looked at, not every pair of types.
    auto declarations = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            const std::string other = "com.other.t" + std::to_string(i);
            const std::string last = i + 1 == count ? "com.acme.t0" : "public.text";
            text += Declaration("com.acme.t" + std::to_string(i), Conforms({"public.data", other.c_str(), last.c_str()}));
        }
        return text;
    };
    uint64_t small = 0, large = 0;
    Load(declarations(250), &small);
    VRefPtr<VUTIManager> manager = Load(declarations(2000), &large);
    EXPECT_EQ(2000, manager->GetUTIsCount());
    VUTI* first = manager->GetUTI(VString("com.acme.t0"));
    VUTI* last = manager->GetUTI(VString("com.acme.t1999"));
    ASSERT_TRUE(first && last);
    ASSERT_EQ(3u, last->GetParentUTIsMap().size());
    EXPECT_FALSE(last->GetParentUTIsMap().at(VString("com.acme.t0"))->IsTemporary());
    EXPECT_TRUE(last->GetParentUTIsMap().at(VString("public.data"))->IsTemporary());
    EXPECT_TRUE(first->IsChild(last));
    EXPECT_TRUE(last->ConformsToIdentifier(VString("com.acme.t0")));
    EXPECT_LE(large, 16 * small) << small << " then " << large;
}

TEST_F(VUTIManagerLoadTest, AnIdentifierAndDescriptionInManyPiecesAreReadWhole)
{
    // Comments split the texts into 1.6 million pieces each (a 25 MB list).
    // Read in step with the file this takes about a second; copying the text
    // read so far for every piece took minutes. The limit is far above the
    // first and far below the second.
    constexpr int kPieces = 1600000;
    std::string id = "com.acme.", description, text;
    text.reserve(static_cast<size_t>(kPieces) * 16 + 200);
    text = "<dict><key>UTTypeIdentifier</key><string>" + id;
    for (int i = 0; i < kPieces; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        id += c;
        text += c;
        text += "<!---->";
    }
    text += "</string><key>UTTypeDescription</key><string>";
    for (int i = 0; i < kPieces; ++i) {
        const char c = static_cast<char>('A' + i % 26);
        description += c;
        text += c;
        text += "<!---->";
    }
    text += "</string></dict>";

    const auto start = std::chrono::steady_clock::now();
    VRefPtr<VUTIManager> manager = Load(text);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
    VUTI* uti = manager->GetUTI(VString(id.c_str()));
    ASSERT_TRUE(uti);
    EXPECT_EQ(description, to_string(uti->GetDescription()));
}

TEST(VUTIManagerSingletonTest, ProcessInstanceAndMissingFiles)
{
    VUTIManager* manager = VUTIManager::GetUTIManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager, VUTIManager::GetUTIManager());
    EXPECT_FALSE(manager->LoadXMLFile(nullptr));
    VRefPtr<VFile> missing = VRefPtr<VFile>::Adopt(new VFile(VString("/nonexistent/Info.plist"), FPS_POSIX));
    EXPECT_FALSE(manager->LoadXMLFile(missing.Get()));
    EXPECT_TRUE(VUTIManager::DeInit());
    EXPECT_TRUE(VUTIManager::UTTypeEqual(VString("Public.Data"), VString("public.data")));
}

}  // namespace
}  // namespace bkit::test
