// XBSDSystemFilesTest.cpp - executable search along PATH, and symbolic links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "basekit/runtime/mac/XBSDSystem.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

class XBSDSystemFilesTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        const char* old = std::getenv("PATH");
        fHadPath = old != nullptr;
        if (old)
            fOldPath = old;
        char resolved[4096];
        ASSERT_NE(::realpath(fTemp.Path().c_str(), resolved), nullptr);
        fBase = resolved;
    }
    void TearDown() override
    {
        if (fHadPath)
            ::setenv("PATH", fOldPath.c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    VFilePath Found(const std::string& name)
    {
        VFilePath path = fTemp.FilePath("sentinel");
        if (!XBSDSystem::SearchExecutablePath(VString(name.c_str()), path)) {
            EXPECT_TRUE(path.IsEmpty());
        }
        return path;
    }
    VFilePath Expected(const std::string& relative)
    {
        VString text;
        text.FromCString((fBase + "/" + relative).c_str());
        return VFilePath(text, FPS_POSIX);
    }

    bool fHadPath = false;
    std::string fOldPath;
    std::string fBase;
};

TEST_F(XBSDSystemFilesTest, SearchAlongPath)
{
    for (const char* dir : {"d1", "d2", "d3"})
        ASSERT_TRUE(fTemp.MakeFolder(dir));
    ASSERT_TRUE(fTemp.WriteFile("d1/tool", "", 0644));  // not executable
    ASSERT_TRUE(fTemp.MakeFolder("d2/tool"));           // a folder
    ASSERT_TRUE(fTemp.WriteFile("d3/tool", "", 0755));
    ASSERT_TRUE(fTemp.WriteFile("d1/first", "", 0700));
    ASSERT_TRUE(fTemp.WriteFile("d3/first", "", 0700));
    std::string path = ":" + fTemp.Path("d1") + "::" + fTemp.Path("d2") + "/:" + fTemp.Path("d3") + ":";
    ::setenv("PATH", path.c_str(), 1);
    struct Case {
        const char* name;
        const char* expected;  // null: not found
    } cases[] = {
        {"tool", "d3/tool"},
        {"first", "d1/first"},
        {"missing", nullptr},
    };
    for (const Case& c : cases) {
        VFilePath found = Found(c.name);
        if (c.expected) {
            VFilePath expected(fTemp.FilePath(c.expected));
            EXPECT_EQ(found, expected) << c.name;
        } else {
            EXPECT_TRUE(found.IsEmpty()) << c.name;
        }
    }
    ::unsetenv("PATH");
    EXPECT_TRUE(Found("tool").IsEmpty());
    ::setenv("PATH", "", 1);
    EXPECT_TRUE(Found("tool").IsEmpty());
}

TEST_F(XBSDSystemFilesTest, NameWithSlashResolvesLinks)
{
    ASSERT_TRUE(fTemp.WriteFile("real-tool", "", 0755));
    ASSERT_TRUE(fTemp.MakeLink("link-tool", "real-tool"));
    ASSERT_TRUE(fTemp.WriteFile("plain", "", 0644));
    EXPECT_EQ(Found(fTemp.Path("link-tool")), Expected("real-tool"));
    EXPECT_TRUE(Found(fTemp.Path("plain")).IsEmpty());
    EXPECT_TRUE(Found(fTemp.Path("missing")).IsEmpty());
}

TEST_F(XBSDSystemFilesTest, WhichExecuteBitDecides)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing owners needs the superuser";
    const uid_t stranger = 54321;
    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool found;
    } cases[] = {
        // Not the owner, but its group: the group's bit alone decides.
        {"group-only", stranger, ::getegid(), 0010, true},
        {"group-denied", stranger, ::getegid(), 0701, false},
        // Neither owner nor group: the others' bit.
        {"others", stranger, 54321, 0001, true},
        // The owner: the owner's bit, whatever the others'.
        {"owner-denied", ::geteuid(), ::getegid(), 0011, false},
    };
    ::setenv("PATH", fTemp.Path().c_str(), 1);
    for (const Case& c : cases) {
        ASSERT_TRUE(fTemp.WriteFile(c.name, ""));
        ASSERT_EQ(::chown(fTemp.Path(c.name).c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(fTemp.Path(c.name).c_str(), c.mode), 0);
        EXPECT_EQ(!Found(c.name).IsEmpty(), c.found) << c.name;
    }
}

TEST_F(XBSDSystemFilesTest, SymbolicLinkNeverReplaces)
{
    ASSERT_EQ(XBSDSystem::CreateSymbolicLink("target", fTemp.Path("link").c_str()), VE_OK);
    ASSERT_TRUE(fTemp.WriteFile("taken", "kept"));
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink("target", fTemp.Path("taken").c_str()), Posix(EEXIST));
    EXPECT_EQ(Codes(errors), std::vector<VError>{Posix(EEXIST)});
    EXPECT_EQ(fTemp.ReadFile("taken"), "kept");
}

}  // namespace
}  // namespace bkit::test
