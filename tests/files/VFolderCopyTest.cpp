// VFolderCopyTest.cpp - what a folder copy keeps beyond names and data: owners
// and the set-id bits that depend on them, the type of pipes and devices,
// hard links inside the tree, and the holes of sparse files. Each check runs
// over every way a tree gets copied (new, replacing, merged into existing
// folders, content replacing existing items, and the whole-tree copy that
// moves across volumes use); moves to another file system carry every kind
// of item and leave no source behind.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/runtime/VErrorContext.h"
#include "files/CopyTestSupport.h"
#include "tests/support/StMount.h"
#include "tests/support/TempFolder.h"

namespace bkit {
namespace {

using test::StatOf;
using test::TempFolder;

// The pipes and device nodes of a tree: where they lie below its root, and
// what they are.
struct Node {
    const char* path;
    mode_t type;
    dev_t device;
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

// Makes the nodes below the folder root of temp (their folders must exist).
// 0 or the errno of the first node that could not be made.
int MakeNodes(const TempFolder& temp, const std::string& root, const std::vector<Node>& nodes)
{
    for (const Node& node : nodes) {
        const std::string path = temp.Path(root + "/" + node.path);
        if (int err = test::MakeNode(path, node.type, node.device, node.uid, node.gid, node.mode))
            return err;
    }
    return 0;
}

// Expects the item copy to be what reference is (both paths inside temp):
// same type, device number, owner, group and mode.
void ExpectSameNode(const TempFolder& temp, const std::string& reference, const std::string& copy)
{
    SCOPED_TRACE(copy);
    struct stat expected = StatOf(temp.Path(reference));
    struct stat st = StatOf(temp.Path(copy));
    EXPECT_EQ(expected.st_mode & S_IFMT, st.st_mode & S_IFMT);
    EXPECT_EQ(expected.st_rdev, st.st_rdev);
    EXPECT_EQ(expected.st_uid, st.st_uid);
    EXPECT_EQ(expected.st_gid, st.st_gid);
    EXPECT_EQ(expected.st_mode & 07777, st.st_mode & 07777);
}


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

TEST_F(VFolderCopyTest, PipesAndDevicesKeepTheirTypeDeviceOwnerAndModeAsCpDoes)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "device nodes are made by the superuser";
    const auto [user, group] = test::NobodyIds();
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/Dev"));
    const std::vector<Node> nodes = {
        {"Contents/pipe", S_IFIFO, 0, 0, 0, 0620},
        // A set-id bit on another user's pipe stays with that owner only.
        {"Contents/owned-pipe", S_IFIFO, 0, user, group, 04644},
        {"Contents/Dev/null", S_IFCHR, makedev(1, 3), 0, 0, 0666},
        {"Contents/Dev/loop", S_IFBLK, makedev(7, 0), user, 0, 02660},
    };
    if (int err = MakeNodes(fTemp, "src", nodes))
        GTEST_SKIP() << "device nodes cannot be made here: " << std::strerror(err);
    ASSERT_EQ(0, test::RunProgram({"cp", "-a", fTemp.Path("src"), fTemp.Path("reference")}));

    for (const std::string& root : CopyEveryWay(fTemp)) {
        for (const Node& node : nodes) {
            ExpectSameNode(fTemp, std::string("reference/") + node.path, root + "/" + node.path);
            EXPECT_EQ(node.type, StatOf(fTemp.Path(root + "/" + node.path)).st_mode & S_IFMT);
        }
    }
}

// Run as a user who may make pipes but no device: a tree holding a device
// fails to copy, as cp -a fails, and leaves nothing; a pipe of another user
// copies as a pipe of this user without its set-id bit, as cp -a copies it.
TEST_F(VFolderCopyTest, AsAUserWhoCannotMakeDevicesATreeWithOneFailsAsCpDoesAndLeavesNothing)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the test makes a device node, then gives up its rights";
    const auto [user, group] = test::NobodyIds();
    ASSERT_EQ(0, chmod(fTemp.Path().c_str(), 0755));
    for (const char* folder : {"devices", "pipes", "ref", "dest"})
        ASSERT_TRUE(fTemp.MakeFolder(folder));
    for (const char* folder : {"ref", "dest"})
        ASSERT_EQ(0, chown(fTemp.Path(folder).c_str(), user, group));
    ASSERT_TRUE(fTemp.WriteFile("devices/a", "a"));
    ASSERT_EQ(0, mkfifo(fTemp.Path("devices/pipe").c_str(), 0644));
    if (int err = MakeNodes(fTemp, "devices", {{"null", S_IFCHR, makedev(1, 3), 0, 0, 0666}}))
        GTEST_SKIP() << "device nodes cannot be made here: " << std::strerror(err);
    ASSERT_EQ(0, MakeNodes(fTemp, "pipes", {{"pipe", S_IFIFO, 0, 0, 0, 04644}}));
    if (test::RunAsUser(user, group, [&] { return std::to_string(access(fTemp.Path().c_str(), X_OK)); }) != "0")
        GTEST_SKIP() << "the unprivileged user cannot reach the test folder";

    const std::string outcome = test::RunAsUser(user, group, [&] {
        std::string out;
        out += "cp devices: " + std::to_string(test::RunProgram({"cp", "-a", fTemp.Path("devices"), fTemp.Path("ref")}));
        out += ", cp pipes: " + std::to_string(test::RunProgram({"cp", "-a", fTemp.Path("pipes"), fTemp.Path("ref")}));
        for (const char* name : {"devices", "pipes"}) {
            VFolder* copy = nullptr;
            VError err = FolderAt(fTemp, name)->CopyTo(*FolderAt(fTemp, "dest"), &copy, FCP_Default);
            ReleaseRefCountable(&copy);
            out += std::string(", ") + name + ": " + (err == 0 ? "copied" : err == VE_FILE_CANNOT_COPY ? "cannot copy" : std::to_string(err));
        }
        return out;
    });
    EXPECT_EQ("cp devices: 1, cp pipes: 0, devices: cannot copy, pipes: copied", outcome);
    // Nothing of the failed copy is left, not even under a hidden name.
    EXPECT_EQ((std::vector<std::string>{"pipes"}), fTemp.List("dest"));
    // cp -a keeps the set-user-id bit on the pipe it now owns; this copy
    // never lets a bit meant for another owner pass to the one it got.
    struct stat reference = StatOf(fTemp.Path("ref/pipes/pipe"));
    struct stat pipe = StatOf(fTemp.Path("dest/pipes/pipe"));
    EXPECT_TRUE(S_ISFIFO(reference.st_mode));
    EXPECT_TRUE(S_ISFIFO(pipe.st_mode));
    EXPECT_EQ(reference.st_uid, pipe.st_uid);
    EXPECT_EQ(reference.st_gid, pipe.st_gid);
    EXPECT_EQ(user, pipe.st_uid);
    EXPECT_EQ(0644u, pipe.st_mode & 07777);
}

// The move to another file system copies, then deletes the source: every kind
// of item gets across and nothing of the source stays; a tree with an item
// that cannot be copied (a socket) stays whole where it was.
TEST_F(VFolderCopyTest, AMoveToAnotherFileSystemCarriesEveryKindAndLeavesNoSource)
{
    test::StTmpfs other(fTemp.Path("other"));
    if (!other.IsMounted())
        GTEST_SKIP() << "no file system can be mounted here: " << std::strerror(other.GetError());
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/MacOS"));
    ASSERT_TRUE(fTemp.WriteFile("src/Contents/MacOS/app", "#!/bin/sh\n", 0755));
    ASSERT_TRUE(fTemp.MakeLink("src/Contents/app", "MacOS/app"));
    ASSERT_TRUE(fTemp.MakeFolder("src/Contents/Shared"));
    std::vector<Node> nodes = {{"Contents/pipe", S_IFIFO, 0, 0, 0, 0640},
                               {"Contents/Shared/pipe", S_IFIFO, 0, 0, 0, 0600}};
    ASSERT_EQ(0, MakeNodes(fTemp, "src", nodes));
    if (geteuid() == 0) {
        nodes.push_back({"Contents/Shared/null", S_IFCHR, makedev(1, 3), 0, 0, 0666});
        if (MakeNodes(fTemp, "src", {nodes.back()}) != 0)
            nodes.pop_back();
    }
    ASSERT_EQ(0, chmod(fTemp.Path("src/Contents/Shared").c_str(), 0555));

    VFolder* moved = nullptr;
    EXPECT_EQ(0u, FolderAt(fTemp, "src")->Move(*FolderAt(fTemp, "other"), &moved));
    ReleaseRefCountable(&moved);
    EXPECT_FALSE(fTemp.ItemExists("src"));
    EXPECT_EQ((std::vector<std::string>{"src"}), fTemp.List("other"));
    EXPECT_EQ("#!/bin/sh\n", fTemp.ReadFile("other/src/Contents/app"));
    for (const Node& node : nodes) {
        SCOPED_TRACE(node.path);
        struct stat st = StatOf(fTemp.Path(std::string("other/src/") + node.path));
        EXPECT_EQ(node.type, st.st_mode & S_IFMT);
        EXPECT_EQ(node.device, st.st_rdev);
        EXPECT_EQ(node.mode, st.st_mode & 07777);
    }

    ASSERT_TRUE(fTemp.MakeFolder("sockets"));
    ASSERT_TRUE(fTemp.WriteFile("sockets/a", "a"));
    ASSERT_TRUE(test::MakeSocket(fTemp.Path("sockets/socket")));
    {
        StErrorContextInstaller context(false, true);
        EXPECT_EQ(VE_CANNOT_RENAME_FOLDER, FolderAt(fTemp, "sockets")->Move(*FolderAt(fTemp, "other"), &moved));
    }
    EXPECT_EQ(nullptr, moved);
    EXPECT_EQ((std::vector<std::string>{"a", "socket"}), fTemp.List("sockets"));
    EXPECT_EQ((std::vector<std::string>{"src"}), fTemp.List("other"));
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

// Renames of the exchange that fail and cannot be undone: the old tree is
// never removed as a temporary item; it takes its name back, and the failed
// copy leaves nothing else.
TEST_F(VFolderCopyTest, AReplacingCopyWhoseRenamesFailKeepsTheOldTree)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.WriteFile("src/content", "new"));
    ASSERT_TRUE(fTemp.MakeFolder("dest"));
    ASSERT_TRUE(fTemp.MakeFolder("dest/src"));
    ASSERT_TRUE(fTemp.WriteFile("dest/src/content", "old"));
    FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
    FaultSeam::Arm(FaultOperation::kExchangeStep, 2, EIO, 2);
    VFolder* out = nullptr;
    EXPECT_NE(0u, FolderAt(fTemp, "src")->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_Overwrite));
    ReleaseRefCountable(&out);
    FaultSeam::DisarmAll();
    EXPECT_EQ((std::vector<std::string>{"src"}), fTemp.List("dest"));
    EXPECT_EQ("old", fTemp.ReadFile("dest/src/content"));
}

// Without the one-step exchange, a replacing copy stopped before any of its
// renames, or after them before the old tree went, leaves the old tree
// aside or under a temporary name: a whole folder copy at the folder's
// place, a content copy at the place of a sub-folder. The next replacing
// copies repair that first: each succeeds, the last copy is what stands,
// and nothing is left hidden. Until then the old tree is always somewhere.
TEST_F(VFolderCopyTest, ReplacingCopiesAfterOneStoppedBetweenItsRenamesRepairItAndSucceed)
{
    struct Moment {
        const char* what;
        FaultOperation op;
        int nth;
    } moments[] = {
        {"before the old tree steps aside", FaultOperation::kExchangeStep, 1},
        {"before the new tree takes its name", FaultOperation::kExchangeStep, 2},
        {"before the old tree takes the temporary name", FaultOperation::kExchangeStep, 3},
        {"before the old tree is removed", FaultOperation::kDelete, 1},
    };
    // Copies src (holding sub/content with the version) over dest/src, as a
    // whole folder or as content.
    auto copyVersion = [this](bool contentsOnly, const std::string& version) {
        EXPECT_TRUE(fTemp.WriteFile("src/sub/content", version));
        if (contentsOnly)
            return FolderAt(fTemp, "src")->CopyContentsTo(*FolderAt(fTemp, "dest/src"), FCP_Overwrite);
        VFolder* out = nullptr;
        VError err = FolderAt(fTemp, "src")->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_Overwrite);
        ReleaseRefCountable(&out);
        return err;
    };
    // True when a file named content in folder, or in any folder below it,
    // still holds "old".
    std::function<bool(const std::string&)> holdsOld = [&](const std::string& folder) {
        for (const std::string& name : fTemp.List(folder)) {
            const std::string item = folder + "/" + name;
            if ((name == "content" && fTemp.ReadFile(item) == "old") || holdsOld(item))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/sub"));
    for (bool contentsOnly : {false, true}) {
        for (const Moment& moment : moments) {
            SCOPED_TRACE(std::string(contentsOnly ? "content copy, " : "folder copy, ") + moment.what);
            TempFolder::RemoveTree(fTemp.Path("dest"));
            for (const char* folder : {"dest", "dest/src", "dest/src/sub"})
                ASSERT_TRUE(fTemp.MakeFolder(folder));
            ASSERT_TRUE(fTemp.WriteFile("dest/src/sub/content", "old"));
            ASSERT_TRUE(fTemp.WriteFile("dest/src/sub/only-old", "old"));

            pid_t child = fork();
            if (child == 0) {
                FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
                FaultSeam::ArmStop(moment.op, moment.nth);
                _exit(copyVersion(contentsOnly, "v1") == 0 ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(child, waitpid(child, &status, 0));
            ASSERT_TRUE(WIFSIGNALED(status)) << "the copy was not stopped";
            EXPECT_TRUE(holdsOld("dest")) << "the old tree is lost";

            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
            for (const char* version : {"v2", "v3"}) {
                SCOPED_TRACE(version);
                EXPECT_EQ(0u, copyVersion(contentsOnly, version));
                EXPECT_EQ((std::vector<std::string>{"src"}), fTemp.List("dest"));
                EXPECT_EQ((std::vector<std::string>{"sub"}), fTemp.List("dest/src"));
                EXPECT_EQ((std::vector<std::string>{"content"}), fTemp.List("dest/src/sub"));
                EXPECT_EQ(version, fTemp.ReadFile("dest/src/sub/content"));
            }
            FaultSeam::DisarmAll();
        }
    }
}

// Hidden copies in the destination that a stopped process left go with the
// next replacing copy there; those of a live process, of a process that no
// number here can tell (made in another pid space), and one that holds the
// folder being copied, stay.
TEST_F(VFolderCopyTest, AReplacingCopyRemovesOnlyTheHiddenCopiesOfStoppedProcessesThatDoNotHoldItsSource)
{
    pid_t stopped = fork();
    if (stopped == 0)
        _exit(0);
    ASSERT_EQ(stopped, waitpid(stopped, nullptr, 0));
    const std::string ofStopped = ".bkit-copy-" + std::to_string(stopped) + "-0-0";
    const std::string ofLive = ".bkit-copy-1-0-0";  // init runs as long as the machine does
    // Names as made now, with the mark of the pid space they were made in:
    // this one's, or another's (a container's, another machine's), where the
    // same number may be a copy still under way.
    const std::string made = TemporaryItemName();
    const std::string mark = made.substr(made.rfind('-'));
    std::string foreignMark = mark;
    foreignMark.back() = foreignMark.back() == '0' ? '1' : '0';
    struct Case {
        std::string item;
        bool holdsSource;
        bool stays;
    } cases[] = {
        {ofStopped, false, false},
        {ofStopped, true, true},
        {ofLive, false, true},
        {ofStopped + mark, false, false},
        {ofStopped + foreignMark, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item + (c.holdsSource ? " holding the source" : ""));
        TempFolder::RemoveTree(fTemp.Path("dest"));
        TempFolder::RemoveTree(fTemp.Path("src"));
        ASSERT_TRUE(fTemp.MakeFolder("dest"));
        ASSERT_TRUE(fTemp.MakeFolder("dest/" + c.item));
        const std::string source = c.holdsSource ? "dest/" + c.item + "/src" : "src";
        ASSERT_TRUE(fTemp.MakeFolder(source));
        ASSERT_TRUE(fTemp.WriteFile(source + "/content", "new"));
        VFolder* out = nullptr;
        EXPECT_EQ(0u, FolderAt(fTemp, source)->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_Overwrite));
        ReleaseRefCountable(&out);
        EXPECT_EQ("new", fTemp.ReadFile("dest/src/content"));
        EXPECT_EQ(c.stays, fTemp.ItemExists("dest/" + c.item));
    }
}

}  // namespace
}  // namespace bkit
