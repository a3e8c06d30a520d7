// VFileKindTest.cpp - file kinds and the registry's lookups.
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFileKind.h"

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

}  // namespace
}  // namespace bkit
