// VFileKindTest.cpp - file kinds and the registry's lookups.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFileKind.h"
#include "basekit/files/mac/XMacFile.h"

namespace bkit {
namespace {

class VFileKindTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fSaved = VFileKindManager::sManager;
        VFileKindManager::sManager = nullptr;
        ASSERT_TRUE(VFileKindManager::Init());
        fManager = VFileKindManager::sManager;
    }
    void TearDown() override
    {
        VFileKindManager::DeInit();
        VFileKindManager::sManager = fSaved;
    }

    VFileKindManager* fManager = nullptr;
    VFileKindManager* fSaved = nullptr;
};

TEST_F(VFileKindTest, RegisteringAgainReplacesAndReleasesTheFirst)
{
    fManager->RegisterPrivateFileKind(VString("com.x.doc"), VString("first"), {VString("xd")}, {});
    VFileKind* first = fManager->RetainFileKind(VString("com.x.doc"));
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(2, first->GetRefCount());
    fManager->RegisterPrivateFileKind(VString("com.x.doc"), {VString("XDOC")}, VString("second"), {VString("xd2")},
                                      {VString("public.data")});
    EXPECT_EQ(1, first->GetRefCount());  // the registry let go of it
    first->Release();

    VFileKind* second = fManager->RetainFileKind(VString("com.x.doc"));
    ASSERT_NE(nullptr, second);
    EXPECT_TRUE(second->GetDescription().EqualToString(VString("second"), true));
    EXPECT_FALSE(second->IsPublic());
    VString os;
    EXPECT_TRUE(second->GetPreferredOsKind(os));
    EXPECT_TRUE(second->MatchOsKind(VString("XDOC")));
    EXPECT_FALSE(second->MatchOsKind(VString("xdoc")));
    second->Release();
}

TEST_F(VFileKindTest, LookupsByIdentifierExtensionAndOsKind)
{
    EXPECT_EQ(nullptr, fManager->RetainFileKind(VString("com.nobody.nothing")));
    EXPECT_EQ(nullptr, fManager->RetainFirstFileKindMatchingWithExtension(VString("nothing-known")));

    fManager->RegisterPrivateFileKind(VString("com.x.text"), VString("mine"), {VString("txt")}, {});
    VFileKind* byExt = fManager->RetainFirstFileKindMatchingWithExtension(VString("TXT"));
    ASSERT_NE(nullptr, byExt);
    EXPECT_TRUE(byExt->GetID().EqualToString(VString("com.x.text"), true));  // the registered one wins
    byExt->Release();

    VFileKind* json = fManager->RetainFirstFileKindMatchingWithExtension(VString("json"));
    ASSERT_NE(nullptr, json);
    EXPECT_TRUE(json->IsPublic());
    EXPECT_TRUE(json->ConformsTo(VString("public.text")));
    EXPECT_TRUE(json->ConformsTo(VString("public.data")));
    EXPECT_FALSE(json->ConformsTo(VString("public.image")));
    EXPECT_FALSE(json->ConformsTo(VString("com.nobody.nothing")));
    std::vector<VString> parents{VString("stale")};
    EXPECT_TRUE(json->GetParentIDs(parents));
    EXPECT_EQ(1u, parents.size());
    // Added to the registry under its own identifier: the same object again.
    VFileKind* again = fManager->RetainFileKind(VString("public.json"));
    EXPECT_EQ(json, again);
    again->Release();
    json->Release();

    VFileKind* png = fManager->RetainFirstFileKindMatchingWithOsKind(VString("PNGf"));
    ASSERT_NE(nullptr, png);
    VString ext;
    EXPECT_TRUE(png->GetPreferredExtension(ext));
    EXPECT_TRUE(ext.EqualToString(VString("png"), true));
    png->Release();
}

TEST_F(VFileKindTest, LocalizedStrings)
{
    VString text;
    fManager->GetLocalizedString(0, text);
    EXPECT_TRUE(text.EqualToString(VString("All"), true));
    fManager->GetLocalizedString(1, text);
    EXPECT_TRUE(text.EqualToString(VString("All readable documents"), true));
    fManager->RegisterLocalizedString(0, VString(""));
    fManager->RegisterLocalizedString(1, VString("Tous"));
    fManager->RegisterLocalizedString(2, VString("ignored"));
    fManager->GetLocalizedString(0, text);
    EXPECT_TRUE(text.EqualToString(VString("All"), true));
    fManager->GetLocalizedString(1, text);
    EXPECT_TRUE(text.EqualToString(VString("Tous"), true));
    text = VString("kept");
    fManager->GetLocalizedString(5, text);
    EXPECT_TRUE(text.EqualToString(VString("kept"), true));
}

TEST(XMacFileKindsTest, PublicKindsFromTheDeclarations)
{
    struct Case {
        const char* how;  // "id", "os" or "ext"
        const char* text;
        const char* id;   // the kind made, null when none
    } cases[] = {
        {"id", "public.png", "public.png"},
        {"id", "PUBLIC.PNG", "public.png"},  // identifiers ignore case
        {"id", "com.nobody.nothing", nullptr},
        {"id", "", nullptr},
        {"os", "PNGf", "public.png"},
        {"os", "PNGfmore", "public.png"},    // only the first four characters count
        {"os", "pngf", nullptr},             // OS types are exact
        {"os", "PNG", nullptr},
        {"os", "", nullptr},
        {"ext", "JPG", "public.jpeg"},
        {"ext", "txt", "public.plain-text"},
        {"ext", "", nullptr},
        {"ext", "nothing-known", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + " " + c.text);
        VString text(c.text);
        VFileKind* kind = std::string(c.how) == "id"   ? XMacFile::CreatePublicFileKind(text)
                          : std::string(c.how) == "os" ? XMacFile::CreatePublicFileKindFromOsKind(text)
                                                       : XMacFile::CreatePublicFileKindFromExtension(text);
        if (c.id == nullptr) {
            EXPECT_EQ(nullptr, kind);
            continue;
        }
        ASSERT_NE(nullptr, kind);
        EXPECT_TRUE(kind->GetID().EqualToUSASCIICString(c.id));
        EXPECT_TRUE(kind->IsPublic());
        EXPECT_EQ(1, kind->GetRefCount());
        VString os;
        EXPECT_FALSE(kind->GetPreferredOsKind(os));  // public kinds carry no OS kinds
        std::vector<VString> parents;
        EXPECT_TRUE(kind->GetParentIDs(parents));
        kind->Release();
    }
}

TEST(XMacFileKindsTest, Conformance)
{
    auto make = [](const char* id) {
        return VRefPtr<VFileKind>::Adopt(VFileKind::Create(VString(id), {}, VString(), {}, {}, false));
    };
    struct Case {
        const char* a;
        const char* b;
        bool conforms;
    } cases[] = {
        {"public.json", "public.json", true},
        {"public.json", "public.text", true},
        {"public.json", "public.item", true},   // through several parents
        {"public.text", "public.json", false},  // not the other way
        {"public.png", "public.text", false},
        {"com.x.private", "com.x.private", true},  // a kind is of its own kind, declared or not
        {"com.x.private", "COM.X.PRIVATE", true},
        {"com.x.private", "public.data", false},   // undeclared: no parents known
        {"public.data", "com.x.private", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " -> " + c.b);
        EXPECT_EQ(c.conforms, XMacFile::IsFileKindConformsTo(*make(c.a), *make(c.b)));
        EXPECT_EQ(c.conforms, make(c.a)->ConformsTo(*make(c.b)));
    }
}

}  // namespace
}  // namespace bkit
