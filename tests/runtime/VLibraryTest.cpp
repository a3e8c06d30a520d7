// VLibraryTest.cpp - loading the test component library as a file, a bundle and
// a framework whose links a copy turned into "XSym" text files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VLibrary.h"
#include "support/TempFolder.h"

using namespace bkit;
using bkit::test::TempFolder;

namespace {

std::string LibraryBytes()
{
    std::ifstream in(BKIT_TEST_COMPONENT_LIBRARY, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The text a copy leaves in place of a symbolic link to target.
std::string XSymText(const std::string& target)
{
    return "XSym\n" + std::to_string(target.size()) + "\n0123456789abcdef0123456789abcdef\n" + target + "\n" +
           std::string(64, ' ');
}

using MainCallsProc = int (*)(bool);

}  // namespace

TEST(LibraryTest, LoadsAFileAndFindsItsFunctions)
{
    TempFolder temp;
    ASSERT_TRUE(temp.WriteFile("libcomponents.so", LibraryBytes(), 0600));
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(temp.FilePath("libcomponents.so")));
    EXPECT_EQ(library->GetProcAddress("TestLiveComponents"), nullptr) << "nothing before Load";
    ASSERT_TRUE(library->Load());
    EXPECT_TRUE(library->Load()) << "a second Load keeps it loaded";
    EXPECT_NE(library->GetProcAddress("TestLiveComponents"), nullptr);
    EXPECT_EQ(library->GetProcAddress("NoSuchFunction"), nullptr);
    EXPECT_EQ(library->RetainFolder(kBUNDLE_RESOURCES_FOLDER), nullptr) << "a plain file is no bundle";
    EXPECT_EQ(library->RetainResourceFile(), nullptr);
    EXPECT_TRUE(library->IsSameFile(temp.FilePath("libcomponents.so")));

    struct stat info;
    ASSERT_EQ(::stat(temp.Path("libcomponents.so").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0555, 0555u) << "read and execute were added for everybody";

    library->Unload();
    EXPECT_FALSE(library->IsLoaded());
    EXPECT_EQ(library->GetProcAddress("TestLiveComponents"), nullptr);
}

TEST(LibraryTest, AFileThatIsNoLibraryRaises1010WithTheReason)
{
    TempFolder temp;
    ASSERT_TRUE(temp.WriteFile("bogus.so", "not a library"));
    StErrorContextInstaller errors(false, true);
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(temp.FilePath("bogus.so")));
    EXPECT_FALSE(library->Load());
    ASSERT_EQ(errors.GetLastError(), VE_LIBRARY_CANNOT_LOAD);
    VString reason;
    errors.GetContext()->GetLast()->GetParameters()->GetProperty("reason").GetString(reason);
    EXPECT_FALSE(reason.IsEmpty());
}

TEST(LibraryTest, LoadsABundleAndAnswersItsFolders)
{
    TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("Plug.bundle") && temp.MakeFolder("Plug.bundle/Contents") &&
                temp.MakeFolder("Plug.bundle/Contents/MacOS") && temp.MakeFolder("Plug.bundle/Contents/Resources"));
    ASSERT_TRUE(temp.WriteFile("Plug.bundle/Contents/Info.plist",
                               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                               "<key>CFBundleExecutable</key><string>PlugCode</string></dict></plist>"));
    ASSERT_TRUE(temp.WriteFile("Plug.bundle/Contents/MacOS/PlugCode", LibraryBytes(), 0755));

    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(temp.FolderPath("Plug.bundle")));
    ASSERT_TRUE(library->Load());
    EXPECT_NE(library->GetProcAddress("CreateComponent"), nullptr);
    auto resources = VRefPtr<VFolder>::Adopt(library->RetainFolder(kBUNDLE_RESOURCES_FOLDER));
    ASSERT_NE(resources.Get(), nullptr);
    EXPECT_TRUE(resources->Exists());
    EXPECT_EQ(resources->GetPath(), temp.FolderPath("Plug.bundle/Contents/Resources"));
    auto executable = VRefPtr<VFile>::Adopt(library->RetainExecutableFile());
    ASSERT_NE(executable.Get(), nullptr);
    EXPECT_EQ(executable->GetPath(), temp.FilePath("Plug.bundle/Contents/MacOS/PlugCode"));
    EXPECT_EQ(library->RetainFolder(static_cast<BundleFolderKind>(4)), nullptr);
}

TEST(LibraryTest, FrameworkLinksCopiedAsXSymTextAreRepairedBeforeLoading)
{
    TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("Kit.framework") && temp.MakeFolder("Kit.framework/Versions") &&
                temp.MakeFolder("Kit.framework/Versions/A") && temp.MakeFolder("Kit.framework/Versions/A/Resources"));
    ASSERT_TRUE(temp.WriteFile("Kit.framework/Versions/A/Kit", LibraryBytes(), 0600));
    ASSERT_TRUE(temp.WriteFile("Kit.framework/Versions/Current", XSymText("A")));
    ASSERT_TRUE(temp.WriteFile("Kit.framework/Resources", XSymText("Versions/Current/Resources")));
    ASSERT_TRUE(temp.WriteFile("Kit.framework/Kit", XSymText("Versions/Current/Kit")));

    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(temp.FolderPath("Kit.framework")));
    ASSERT_TRUE(library->Load());
    EXPECT_NE(library->GetProcAddress("GetNthComponentType"), nullptr);
    char target[256] = {};
    ASSERT_GT(::readlink(temp.Path("Kit.framework/Resources").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "Versions/Current/Resources");
    EXPECT_FALSE(temp.ItemExists("Kit.framework/Kit.xsym-link"));
    auto resources = VRefPtr<VFolder>::Adopt(library->RetainFolder(kBUNDLE_RESOURCES_FOLDER));
    ASSERT_NE(resources.Get(), nullptr);
    EXPECT_TRUE(resources->Exists());
}

TEST(LibraryTest, AShortXSymTextStopsTheRepairWith617)
{
    TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("Bad.framework"));
    ASSERT_TRUE(temp.WriteFile("Bad.framework/Resources", "XSym\n12\n"));
    StErrorContextInstaller errors(false, true);
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(temp.FolderPath("Bad.framework")));
    EXPECT_FALSE(library->Load());
    ASSERT_NE(errors.GetContext(), nullptr);
    bool saw617 = false;
    for (VErrorBase* error : errors.GetContext()->GetErrors())
        saw617 = saw617 || error->GetError() == VE_LIBRARY_BAD_LINK_FILE;
    EXPECT_TRUE(saw617);
    EXPECT_EQ(errors.GetLastError(), VE_LIBRARY_CANNOT_LOAD);
    EXPECT_EQ(temp.ReadFile("Bad.framework/Resources"), "XSym\n12\n") << "a bad text is left as it was";
}
