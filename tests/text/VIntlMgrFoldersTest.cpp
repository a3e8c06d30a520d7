// VIntlMgrFoldersTest.cpp - finding the localization folders and files of a dialect.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/IFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/text/VIntlMgr.h"
#include "tests/support/TempFolder.h"

namespace bkit {
namespace {

std::string Text(const VString& s)
{
    std::string out;
    for (VIndex i = 0; i < s.GetLength(); ++i)
        out += static_cast<char>(s.GetCPointer()[i]);
    return out;
}

std::string NameOf(const IFileSystemObject& object)
{
    VString name;
    object.GetName(name);
    return Text(name);
}

class VIntlMgrFoldersTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        for (const char* name : {"fr-ca.lproj", "fr.lproj", "French.lproj", "en.lproj", "de_DE.lproj"})
            ASSERT_TRUE(fTemp.MakeFolder(name));
        // A file, not a folder, under a candidate name is no localization folder.
        ASSERT_TRUE(fTemp.WriteFile("German.lproj", "not a folder"));
        fParent = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath()));
    }

    std::vector<std::string> FolderNames(uint32_t dialect, bool expected)
    {
        std::vector<VRefPtr<IFolder>> folders;
        EXPECT_EQ(expected, VIntlMgr::GetLocalizationFoldersWithDialect(dialect, fParent.Get(), folders));
        std::vector<std::string> names;
        for (const auto& folder : folders)
            names.push_back(NameOf(*folder));
        return names;
    }

    VRefPtr<VFolder> fParent;
};

TEST_F(VIntlMgrFoldersTest, FoldersThatExistInSearchOrder)
{
    using Names = std::vector<std::string>;
    EXPECT_EQ((Names{"fr-ca.lproj", "fr.lproj", "French.lproj"}), FolderNames(3084, true));
    EXPECT_EQ((Names{"fr.lproj", "French.lproj"}), FolderNames(1036, true));
    EXPECT_EQ((Names{"en.lproj"}), FolderNames(1033, true));
    EXPECT_EQ((Names{"de_DE.lproj"}), FolderNames(1031, true));  // German.lproj is a file
    EXPECT_EQ(Names{}, FolderNames(1041, false));                 // no Japanese folder
    EXPECT_EQ(Names{}, FolderNames(9999, false));                 // no such dialect

    // Appends to what the vector holds.
    std::vector<VRefPtr<IFolder>> folders;
    folders.push_back(VRefPtr<IFolder>(fParent.Get()));
    EXPECT_TRUE(VIntlMgr::GetLocalizationFoldersWithDialect(1033, fParent.Get(), folders));
    EXPECT_EQ(2u, folders.size());
    EXPECT_FALSE(VIntlMgr::GetLocalizationFoldersWithDialect(1033, nullptr, folders));
    EXPECT_EQ(2u, folders.size());
}

TEST_F(VIntlMgrFoldersTest, FileIsTakenFromTheLastFolderFoundFirst)
{
    ASSERT_TRUE(fTemp.WriteFile("fr-ca.lproj/Strings.txt", "canadian"));
    ASSERT_TRUE(fTemp.WriteFile("French.lproj/Strings.txt", "french"));
    ASSERT_TRUE(fTemp.WriteFile("fr-ca.lproj/Only.txt", "canadian only"));
    ASSERT_TRUE(fTemp.MakeFolder("fr.lproj/Dir.txt"));

    struct Case {
        uint32_t dialect;
        const char* name;
        const char* folder;  // where the file must come from, null when not found
    } cases[] = {
        {3084, "Strings.txt", "French.lproj"},  // the language name is searched before fr-ca
        {3084, "Only.txt", "fr-ca.lproj"},
        {1036, "Only.txt", nullptr},            // fr-ca is no folder of plain French
        {1036, "Strings.txt", "French.lproj"},
        {3084, "Dir.txt", nullptr},             // a folder of that name is no file
        {3084, "Missing.txt", nullptr},
        {1041, "Strings.txt", nullptr},         // no folder at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.dialect) + " " + c.name);
        bool found = !c.folder;  // the opposite of what is expected, to see it set
        IFile* file = VIntlMgr::RetainLocalizationFile(fParent.Get(), VString(c.name), c.dialect, &found);
        if (c.folder == nullptr) {
            EXPECT_EQ(nullptr, file);
            EXPECT_FALSE(found);
            continue;
        }
        ASSERT_NE(nullptr, file);
        EXPECT_TRUE(found);
        IFolder* parent = file->RetainParentFolder();
        ASSERT_NE(nullptr, parent);
        EXPECT_EQ(c.folder, NameOf(*parent));
        EXPECT_EQ(c.name, NameOf(*file));
        parent->Release();
        file->Release();
    }
    // The found flag is optional.
    IFile* file = VIntlMgr::RetainLocalizationFile(fParent.Get(), VString("Only.txt"), 3084, nullptr);
    ASSERT_NE(nullptr, file);
    file->Release();
}

}  // namespace
}  // namespace bkit
