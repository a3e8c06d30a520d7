// VFileSystemTest.cpp - confinement, quota and lifetime of named file systems.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolder.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

class VFileSystemTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("docs"));
        ASSERT_TRUE(fTemp.MakeFolder("docs/a"));
        fRoot = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("docs")));
    }

    VRefPtr<VFileSystem> Make(uint32_t flags, uint64_t quota = 0, uint64_t used = 0)
    {
        VError err = VE_OK;
        auto fs = VRefPtr<VFileSystem>::Adopt(VFileSystem::Create(VString("docs"), fRoot.Get(), flags, quota, used, err));
        EXPECT_EQ(err, VE_OK);
        return fs;
    }

    VRefPtr<VFolder> fRoot;
};

TEST_F(VFileSystemTest, ConfinementComparesResolvedComponentsExactly)
{
    VRefPtr<VFileSystem> fs = Make(0);
    struct Case {
        const char* what;
        std::function<VFilePath()> path;
        bool inside;
    };
    const VFilePath docs = fTemp.FolderPath("docs");
    const Case cases[] = {
        {"the root itself", [&] { return docs; }, true},
        {"a file below", [&] { return fTemp.FilePath("docs/a/b.txt"); }, true},
        {"a folder below", [&] { return fTemp.FolderPath("docs/a"); }, true},
        {"the root's name as a file", [&] { return fTemp.FilePath("docs"); }, false},
        {"a sibling sharing the prefix", [&] { return fTemp.FilePath("docs-x/y"); }, false},
        {"another case", [&] { return fTemp.FilePath("Docs/a/b.txt"); }, false},
        {"the parent", [&] { return fTemp.FolderPath(); }, false},
        {"a trailing '..' component", [&] { VFilePath p = docs; return p.ToSubFolder(VString("..")); }, false},
        {"'..' then a file", [&] { VFilePath p = docs; return p.ToSubFolder(VString("..")).ToSubFile(VString("x")); }, false},
        // "." and ".." are no names: such a path is invalid, and refused, even
        // where its steps would end inside.
        {"'.' and '..' that would stay inside",
         [&] { VFilePath p = docs; return p.ToSubFolder(VString(".")).ToSubFolder(VString("a")).ToSubFolder(VString("..")).ToSubFile(VString("f")); },
         false},
        {"an empty internal component climbing out",
         [&] { VString t = docs.GetPath(); t.AppendString(VString(":x")); return VFilePath(t); }, false},
        {"an invalid path", [] { return VFilePath(); }, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fs->IsAuthorized(c.path()), c.inside) << c.what;
}

TEST_F(VFileSystemTest, BoundObjectsStayInsideTheRoot)
{
    VRefPtr<VFileSystem> fs = Make(0);
    VRefPtr<VFolder> root = VRefPtr<VFolder>::Adopt(static_cast<VFolder*>(fs->RetainRootFolder()));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetFileSystem(), fs.Get());
    EXPECT_EQ(root->GetPath(), fTemp.FolderPath("docs"));

    VRefPtr<VFolder> inside = VRefPtr<VFolder>::Adopt(root->RetainRelativeFolder(VString("a/"), FPS_POSIX));
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->GetFileSystem(), fs.Get());
    EXPECT_FALSE(VRefPtr<VFolder>::Adopt(root->RetainRelativeFolder(VString("../"), FPS_POSIX)));
    EXPECT_FALSE(VRefPtr<VFolder>::Adopt(root->RetainRelativeFolder(VString("a/../../docs-x/"), FPS_POSIX)));
    EXPECT_FALSE(VRefPtr<VFile>::Adopt(root->RetainRelativeFile(VString("../secret"), FPS_POSIX)));
    EXPECT_FALSE(VRefPtr<VFolder>::Adopt(root->RetainParentFolder(true)));

    // A file made from a bound folder with a climbing text is not bound.
    VFile escaped(*root, VString("../x"), FPS_POSIX);
    EXPECT_EQ(escaped.GetFileSystem(), nullptr);
    VFile kept(*root, VString("a/../x"), FPS_POSIX);
    EXPECT_EQ(kept.GetFileSystem(), fs.Get());
}

// Confinement follows links on disk: where a path leads counts, for the root
// as for the items below it.
TEST_F(VFileSystemTest, ConfinementFollowsLinksOnDisk)
{
    ASSERT_TRUE(fTemp.MakeFolder("outside"));
    ASSERT_TRUE(fTemp.MakeLink("docs/escape", fTemp.Path("outside")));
    ASSERT_TRUE(fTemp.MakeLink("docs/file-link", "../outside/f"));
    ASSERT_TRUE(fTemp.MakeLink("docs/inner", "a"));
    ASSERT_TRUE(fTemp.MakeLink("via", "docs"));
    VRefPtr<VFileSystem> fs = Make(0);
    VRefPtr<VFolder> viaRoot = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("via")));
    VError err = VE_OK;
    VRefPtr<VFileSystem> linkedRoot =
        VRefPtr<VFileSystem>::Adopt(VFileSystem::Create(VString("via"), viaRoot.Get(), 0, 0, 0, err));
    ASSERT_TRUE(linkedRoot);
    struct Case {
        const char* path;
        bool folder;
        bool inDocs, inVia;
    } cases[] = {
        {"docs/escape/f", false, false, false},
        {"docs/escape", true, false, false},
        {"docs/file-link", false, false, false},
        {"docs/inner/new", false, true, true},
        {"docs/a/new/deeper", true, true, true},
        {"via/a/x", false, false, true},
        {"via/escape/x", false, false, false},
        {"via/inner/x", false, false, true},
        // Folders below a root that is a link are converted with the link
        // resolved (to docs/a); so are items not yet created below them.
        {"via/a", true, true, true},
        {"via/a/new/deeper", true, true, true},
        {"via/a/new.txt", false, false, true},
        {"docs/a", true, true, true},
        {"via", true, false, true},
        {"via", false, false, false},
        {"outside", true, false, false},
        {"via/escape", true, false, false},
    };
    for (const Case& c : cases) {
        VFilePath path = c.folder ? fTemp.FolderPath(c.path) : fTemp.FilePath(c.path);
        EXPECT_EQ(fs->IsAuthorized(path), c.inDocs) << c.path;
        EXPECT_EQ(linkedRoot->IsAuthorized(path), c.inVia) << c.path;
    }
    // A file made from a bound folder through a link out is not bound.
    VRefPtr<VFolder> root = VRefPtr<VFolder>::Adopt(static_cast<VFolder*>(fs->RetainRootFolder()));
    ASSERT_TRUE(root);
    VFile escaped(*root, VString("escape/f"), FPS_POSIX);
    EXPECT_EQ(escaped.GetFileSystem(), nullptr);
    VFile kept(*root, VString("inner/f"), FPS_POSIX);
    EXPECT_EQ(kept.GetFileSystem(), fs.Get());

    // The same through the linked root: what lies inside stays bound, what
    // climbs or links out is refused.
    VRefPtr<VFolder> via = VRefPtr<VFolder>::Adopt(static_cast<VFolder*>(linkedRoot->RetainRootFolder()));
    ASSERT_TRUE(via);
    for (const char* text : {"a/", "a/new/", "new/deeper/", "inner/"}) {
        VRefPtr<VFolder> inside = VRefPtr<VFolder>::Adopt(via->RetainRelativeFolder(VString(text), FPS_POSIX));
        ASSERT_TRUE(inside) << text;
        EXPECT_EQ(inside->GetFileSystem(), linkedRoot.Get()) << text;
    }
    for (const char* text : {"a/new.txt", "new.txt", "inner/f"}) {
        VFile inside(*via, VString(text), FPS_POSIX);
        EXPECT_EQ(inside.GetFileSystem(), linkedRoot.Get()) << text;
    }
    for (const char* text : {"../outside/", "escape/", "a/../../outside/"})
        EXPECT_FALSE(VRefPtr<VFolder>::Adopt(via->RetainRelativeFolder(VString(text), FPS_POSIX))) << text;
    for (const char* text : {"../outside/f", "escape/f", "file-link"}) {
        VFile outside(*via, VString(text), FPS_POSIX);
        EXPECT_EQ(outside.GetFileSystem(), nullptr) << text;
    }
}

TEST_F(VFileSystemTest, CreateRefusesBadNames)
{
    for (const VString& name : {VString(), VString(true), VString("a/b"), VString("/")}) {
        StErrorContextInstaller errors;
        VError err = VE_OK;
        VFileSystem* fs = VFileSystem::Create(name, fRoot.Get(), 0, 0, 0, err);
        EXPECT_EQ(fs, nullptr);
        EXPECT_EQ(err, VE_FS_INVALID_NAME);
        ASSERT_EQ(Codes(errors), std::vector<VError>{VE_FS_INVALID_NAME});
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "name"), Text(name));
    }
}

TEST_F(VFileSystemTest, QuotaRequestsAndReturns)
{
    VRefPtr<VFileSystem> readOnly = Make(0, 100);
    EXPECT_EQ(readOnly->Request(1), VE_FS_NOT_WRITABLE);
    EXPECT_EQ(readOnly->Relinquish(1), VE_FS_NOT_WRITABLE);

    VRefPtr<VFileSystem> unlimited = Make(eFSWritable);
    EXPECT_EQ(unlimited->Request(1u << 30), VE_OK);
    EXPECT_EQ(unlimited->Relinquish(5), VE_OK);
    EXPECT_EQ(unlimited->GetAvailable(), 0u);

    VRefPtr<VFileSystem> fs = Make(eFSWritable, 100, 30);
    EXPECT_EQ(fs->GetAvailable(), 70u);
    EXPECT_EQ(fs->Request(71), VE_FS_QUOTA_EXCEEDED);
    EXPECT_EQ(fs->GetAvailable(), 70u);
    EXPECT_EQ(fs->Request(70), VE_OK);
    EXPECT_EQ(fs->GetAvailable(), 0u);
    EXPECT_EQ(fs->Relinquish(20), VE_OK);
    EXPECT_EQ(fs->GetAvailable(), 20u);
    // Giving back more than was taken does not wrap past the quota.
    EXPECT_EQ(fs->Relinquish(UINT64_MAX), VE_OK);
    EXPECT_EQ(fs->GetAvailable(), 100u);
}

TEST_F(VFileSystemTest, ConcurrentRequestsNeverOverspend)
{
    constexpr int kQuota = 4000;
    VRefPtr<VFileSystem> fs = Make(eFSWritable, kQuota);
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                if (fs->Request(1) == VE_OK)
                    granted.fetch_add(1);
                // Returned and taken again at once: the count must not drift.
                if (i % 3 == 0 && fs->Relinquish(1) == VE_OK && fs->Request(1) != VE_OK)
                    granted.fetch_sub(1);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(granted.load(), kQuota);
    EXPECT_EQ(fs->GetAvailable(), 0u);
}

TEST_F(VFileSystemTest, TemporaryRootGoesWithTheLastReference)
{
    ASSERT_TRUE(fTemp.WriteFile("docs/a/f", "x"));
    Make(0).Clear();
    EXPECT_TRUE(fTemp.ItemExists("docs/a/f"));

    StErrorContextInstaller errors;
    VRefPtr<VFileSystem> fs = Make(eFSTemporary);
    VRefPtr<VFile> bound = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("docs/a/f"), fs.Get()));
    fs.Clear();
    EXPECT_TRUE(fTemp.ItemExists("docs")) << "a bound file keeps its file system";
    bound.Clear();
    EXPECT_FALSE(fTemp.ItemExists("docs"));
    // A root already gone is no error.
    ASSERT_TRUE(fTemp.MakeFolder("docs"));
    VRefPtr<VFileSystem> again = Make(eFSTemporary);
    ASSERT_EQ(::rmdir(fTemp.Path("docs").c_str()), 0);
    again.Clear();
    EXPECT_TRUE(Codes(errors).empty());
}

}  // namespace
}  // namespace bkit::test
