// VFolderCopyTest.cpp - what a folder copy keeps beyond names and data: owners
// and the set-id bits that depend on them, hard links inside the tree, and the
// holes of sparse files. Each check runs over every way a tree gets copied
// (new, replacing, merged into existing folders, content replacing existing
// items, and the whole-tree copy that moves across volumes use).
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FolderOps.h"
#include "files/CopyTestSupport.h"
#include "tests/support/TempFolder.h"

namespace bkit {
namespace {

using test::StatOf;
using test::TempFolder;

VRefPtr<VFolder> FolderAt(const TempFolder& temp, const std::string& name = "")
{
    return VRefPtr<VFolder>::Adopt(new VFolder(temp.FolderPath(name)));
}

// Copies the folder src of temp in each way the toolbox copies trees, and
// answers the folders that hold the copies (as paths inside temp).
std::vector<std::string> CopyEveryWay(const TempFolder& temp)
{
    VRefPtr<VFolder> source = FolderAt(temp, "src");
    VFolder* out = nullptr;

    EXPECT_TRUE(temp.MakeFolder("new"));
    EXPECT_EQ(0u, source->CopyTo(*FolderAt(temp, "new"), &out, FCP_Default));
    ReleaseRefCountable(&out);

    // The updater's way: an older copy is there and is replaced.
    EXPECT_TRUE(temp.MakeFolder("replaced"));
    EXPECT_TRUE(temp.MakeFolder("replaced/src"));
    EXPECT_TRUE(temp.WriteFile("replaced/src/old", "old"));
    EXPECT_EQ(0u, source->CopyTo(*FolderAt(temp, "replaced"), &out, FCP_Overwrite));
    ReleaseRefCountable(&out);

    // Merged into folders that exist: files are made in place there.
    EXPECT_TRUE(temp.MakeFolder("merged"));
    EXPECT_TRUE(temp.MakeFolder("merged/Contents"));
    EXPECT_TRUE(temp.MakeFolder("merged/Contents/MacOS"));
    EXPECT_EQ(0u, source->CopyContentsTo(*FolderAt(temp, "merged"), FCP_Default));

    // A content copy that replaces each existing item once its copy is whole.
    EXPECT_TRUE(temp.MakeFolder("overwritten"));
    EXPECT_TRUE(temp.MakeFolder("overwritten/Contents"));
    EXPECT_TRUE(temp.WriteFile("overwritten/Contents/old", "old"));
    EXPECT_EQ(0u, source->CopyContentsTo(*FolderAt(temp, "overwritten"), FCP_Overwrite));

    EXPECT_EQ(0, CopyFolderTree(temp.Path("src").c_str(), temp.Path("tree").c_str()));
    return {"new/src", "replaced/src", "merged", "overwritten", "tree"};
}

class VFolderCopyTest : public test::TempFolderTest {};

TEST_F(VFolderCopyTest, AsRootOwnersAreKeptAndSetIdFilesKeepTheirOwners)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving items to another owner needs the superuser";
    const auto [user, group] = test::NobodyIds();

    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/MacOS"));
    ASSERT_TRUE(fTemp.WriteFile("src/Contents/MacOS/helper", "#!/bin/sh\n"));
    ASSERT_TRUE(fTemp.WriteFile("src/Contents/MacOS/app", "#!/bin/sh\n"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/Shared"));
    ASSERT_TRUE(fTemp.MakeLink("src/Contents/Shared/link", "../MacOS/helper"));
    ASSERT_EQ(0, mkfifo(fTemp.Path("src/Contents/Shared/pipe").c_str(), 0640));

    struct Item {
        const char* path;
        uid_t uid;
        gid_t gid;
        mode_t mode;  // 0: a link, whose mode is left alone
    } items[] = {
        {"Contents/MacOS/helper", user, group, 06755},
        {"Contents/MacOS/app", 0, 0, 06755},
        {"Contents/Shared", user, group, 02775},
        {"Contents/Shared/link", user, group, 0},
        {"Contents/Shared/pipe", user, 0, 0640},
    };
    // Owners first: a change of owner clears the set-id bits.
    for (const Item& item : items) {
        std::string path = fTemp.Path(std::string("src/") + item.path);
        ASSERT_EQ(0, lchown(path.c_str(), item.uid, item.gid)) << item.path;
        if (item.mode != 0) {
            ASSERT_EQ(0, chmod(path.c_str(), item.mode)) << item.path;
        }
    }

    for (const std::string& root : CopyEveryWay(fTemp)) {
        for (const Item& item : items) {
            SCOPED_TRACE(root + "/" + item.path);
            struct stat st = StatOf(fTemp.Path(root + "/" + item.path));
            EXPECT_EQ(item.uid, st.st_uid);
            EXPECT_EQ(item.gid, st.st_gid);
            if (item.mode != 0) {
                EXPECT_EQ(item.mode, st.st_mode & 07777);
            }
        }
    }
}

TEST_F(VFolderCopyTest, AnItemWhoseOwnerIsNotKeptLosesItsSetIdBits)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/MacOS"));
    struct Item {
        const char* path;
        bool folder;
        mode_t mode;
        mode_t copied;
    } items[] = {
        {"Contents/MacOS/helper", false, 06755, 0755},
        {"Contents/MacOS/setuid", false, 04711, 0711},
        {"Contents/MacOS/setgid", false, 02750, 0750},
        {"Contents/MacOS/plain", false, 0640, 0640},
        {"Contents/Shared", true, 02775, 0775},
        {"Contents/Drop", true, 01777, 01777},
    };
    for (const Item& item : items) {
        std::string name = std::string("src/") + item.path;
        ASSERT_TRUE(item.folder ? fTemp.MakeFolder(name) : fTemp.WriteFile(name, "x"));
        ASSERT_EQ(0, chmod(fTemp.Path(name).c_str(), item.mode));
    }

    // The owner could not be given (as for a caller that is not the
    // superuser, or a volume that refuses the owner).
    FaultSeam::ArmAlways(FaultOperation::kOwner, EPERM);
    std::vector<std::string> roots = CopyEveryWay(fTemp);
    FaultSeam::DisarmAll();

    for (const std::string& root : roots) {
        for (const Item& item : items) {
            SCOPED_TRACE(root + "/" + item.path);
            EXPECT_EQ(item.copied, StatOf(fTemp.Path(root + "/" + item.path)).st_mode & 07777);
        }
    }
}

TEST_F(VFolderCopyTest, HardLinksInsideTheTreeStayOneFileInTheCopy)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/MacOS"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/Deep"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/Deep/Er"));
    ASSERT_TRUE(fTemp.WriteFile("src/Contents/MacOS/tool", "shared", 0755));
    ASSERT_EQ(0, link(fTemp.Path("src/Contents/MacOS/tool").c_str(), fTemp.Path("src/Contents/tool").c_str()));
    ASSERT_EQ(0, link(fTemp.Path("src/Contents/MacOS/tool").c_str(), fTemp.Path("src/Contents/Deep/Er/tool").c_str()));
    // A file whose other name lies outside the tree is a plain file in the copy.
    ASSERT_TRUE(fTemp.WriteFile("src/Contents/MacOS/single", "single"));
    ASSERT_EQ(0, link(fTemp.Path("src/Contents/MacOS/single").c_str(), fTemp.Path("outside").c_str()));
    const ino_t sourceInode = StatOf(fTemp.Path("src/Contents/tool")).st_ino;

    for (const std::string& root : CopyEveryWay(fTemp)) {
        SCOPED_TRACE(root);
        struct stat first = StatOf(fTemp.Path(root + "/Contents/MacOS/tool"));
        EXPECT_NE(sourceInode, first.st_ino);
        EXPECT_EQ(3u, first.st_nlink);
        EXPECT_EQ(0755u, first.st_mode & 07777);
        for (const char* other : {"/Contents/tool", "/Contents/Deep/Er/tool"})
            EXPECT_EQ(first.st_ino, StatOf(fTemp.Path(root + other)).st_ino) << other;
        EXPECT_EQ("shared", fTemp.ReadFile(root + "/Contents/Deep/Er/tool"));
        EXPECT_EQ(1u, StatOf(fTemp.Path(root + "/Contents/MacOS/single")).st_nlink);
        EXPECT_EQ("single", fTemp.ReadFile(root + "/Contents/MacOS/single"));
    }
}

TEST_F(VFolderCopyTest, SparseFilesKeepTheirHoles)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents"));
    if (!test::MakeSparseFiles(fTemp, "src/Contents"))
        GTEST_SKIP() << "the volume of the test folder does not keep holes";

    for (const std::string& root : CopyEveryWay(fTemp)) {
        for (const std::string& name : test::SparseFileNames())
            test::ExpectSameHolesAndBytes(fTemp, "src/Contents/" + name, root + "/Contents/" + name);
    }
}

// The replacing copy puts the new tree in place in one exchange; where the
// file system refuses it, in renames that leave no item aside.
TEST_F(VFolderCopyTest, AReplacingCopyTakesThePlaceOfTheOldTreeWithOrWithoutTheOneStepExchange)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.WriteFile("src/content", "new"));
    for (bool oneStep : {true, false}) {
        SCOPED_TRACE(oneStep);
        TempFolder::RemoveTree(fTemp.Path("dest"));
        ASSERT_TRUE(fTemp.MakeFolder("dest"));
        ASSERT_TRUE(fTemp.MakeFolder("dest/src"));
        ASSERT_TRUE(fTemp.WriteFile("dest/src/content", "old"));
        ASSERT_TRUE(fTemp.WriteFile("dest/src/stale", "old"));
        if (!oneStep)
            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
        VFolder* out = nullptr;
        EXPECT_EQ(0u, FolderAt(fTemp, "src")->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_Overwrite));
        ReleaseRefCountable(&out);
        FaultSeam::DisarmAll();
        EXPECT_EQ((std::vector<std::string>{"src"}), fTemp.List("dest"));
        EXPECT_EQ((std::vector<std::string>{"content"}), fTemp.List("dest/src"));
        EXPECT_EQ("new", fTemp.ReadFile("dest/src/content"));
    }
}

}  // namespace
}  // namespace bkit
