// VFileCopyTest.cpp - what the copy of one file keeps beyond its data and
// mode: its owner and the set-id bits that depend on it, and its holes. Each
// check runs over the ways a single file gets copied (to a new path, onto an
// existing file, into a folder).
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

struct stat StatOf(const std::string& path)
{
    struct stat st = {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st;
}

// Copies the file name of temp in each way VFile::CopyTo offers, and answers
// the paths of the copies inside temp.
std::vector<std::string> CopyEveryWay(const TempFolder& temp, const std::string& name)
{
    VRefPtr<VFile> source = FileIn(temp, name);
    EXPECT_EQ(VE_OK, source->CopyTo(temp.FilePath(name + ".new")));

    // An older copy is there and is replaced.
    EXPECT_TRUE(temp.WriteFile(name + ".replaced", "old"));
    EXPECT_EQ(VE_OK, source->CopyTo(*FileIn(temp, name + ".replaced"), 4));

    const std::string folder = name + ".folder";
    EXPECT_TRUE(temp.MakeFolder(folder));
    VFile* out = nullptr;
    EXPECT_EQ(VE_OK, source->CopyTo(*VRefPtr<VFolder>::Adopt(new VFolder(temp.FolderPath(folder))), &out, 0));
    ReleaseRefCountable(&out);
    return {name + ".new", name + ".replaced", folder + "/" + name};
}

class VFileCopyTest : public TempFolderTest {
protected:
    void TearDown() override { FaultSeam::DisarmAll(); }
};

TEST_F(VFileCopyTest, AsRootTheCopyKeepsItsOwnerAndItsSetIdBits)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a file to another owner needs the superuser";
    const struct passwd* nobody = getpwnam("nobody");
    const uid_t user = nobody ? nobody->pw_uid : 65534;
    const gid_t group = nobody ? nobody->pw_gid : 65534;

    struct Item {
        const char* name;
        uid_t uid;
        gid_t gid;
        mode_t mode;  // 0: a link, whose mode is left alone
    } items[] = {
        {"helper", user, group, 06755},
        {"setgid", 0, group, 02711},
        {"own", 0, 0, 04755},
        {"link", user, group, 0},
    };
    ASSERT_TRUE(fTemp.WriteFile("helper", "#!/bin/sh\n"));
    ASSERT_TRUE(fTemp.WriteFile("setgid", "#!/bin/sh\n"));
    ASSERT_TRUE(fTemp.WriteFile("own", "#!/bin/sh\n"));
    ASSERT_TRUE(fTemp.MakeLink("link", "helper"));
    // Owners first: a change of owner clears the set-id bits.
    for (const Item& item : items) {
        ASSERT_EQ(0, lchown(fTemp.Path(item.name).c_str(), item.uid, item.gid)) << item.name;
        if (item.mode != 0) {
            ASSERT_EQ(0, chmod(fTemp.Path(item.name).c_str(), item.mode)) << item.name;
        }
    }

    for (const Item& item : items) {
        for (const std::string& copy : CopyEveryWay(fTemp, item.name)) {
            SCOPED_TRACE(copy);
            struct stat st = StatOf(fTemp.Path(copy));
            EXPECT_EQ(item.uid, st.st_uid);
            EXPECT_EQ(item.gid, st.st_gid);
            if (item.mode != 0) {
                EXPECT_EQ(item.mode, st.st_mode & 07777);
            }
        }
    }
}

TEST_F(VFileCopyTest, ACopyWhoseOwnerIsNotKeptLosesItsSetIdBits)
{
    struct Item {
        const char* name;
        mode_t mode;
        mode_t copied;
    } items[] = {
        {"helper", 06755, 0755},
        {"setuid", 04711, 0711},
        {"setgid", 02750, 0750},
        {"sticky", 01644, 01644},
        {"plain", 0640, 0640},
    };
    for (const Item& item : items) {
        ASSERT_TRUE(fTemp.WriteFile(item.name, "x"));
        ASSERT_EQ(0, chmod(fTemp.Path(item.name).c_str(), item.mode));
    }

    // The owner could not be given (as for a caller that is not the
    // superuser, or a volume that refuses the owner).
    FaultSeam::ArmAlways(FaultOperation::kOwner, EPERM);
    for (const Item& item : items) {
        for (const std::string& copy : CopyEveryWay(fTemp, item.name)) {
            SCOPED_TRACE(copy);
            EXPECT_EQ(item.copied, StatOf(fTemp.Path(copy)).st_mode & 07777);
            EXPECT_EQ("x", fTemp.ReadFile(copy));
        }
    }
}

TEST_F(VFileCopyTest, SparseFilesKeepTheirHoles)
{
    const off_t kMiB = 1024 * 1024;
    struct File {
        const char* name;
        std::vector<std::pair<off_t, std::string>> writes;
        off_t size;
    } files[] = {
        {"holes", {{0, "head"}, {2 * kMiB, "middle"}}, 4 * kMiB},  // a hole inside and at the end
        {"leading", {{1 * kMiB, "tail"}}, 1 * kMiB + 4},           // begins with a hole
        {"empty", {}, 2 * kMiB},                                   // nothing but a hole
    };
    for (const File& file : files) {
        int fd = open(fTemp.Path(file.name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_LE(0, fd);
        for (const auto& [offset, text] : file.writes)
            ASSERT_EQ(static_cast<ssize_t>(text.size()), pwrite(fd, text.data(), text.size(), offset));
        ASSERT_EQ(0, ftruncate(fd, file.size));
        ASSERT_EQ(0, fsync(fd));
        close(fd);
        struct stat st = StatOf(fTemp.Path(file.name));
        if (st.st_blocks * 512 >= st.st_size)
            GTEST_SKIP() << "the volume of the test folder does not keep holes";
    }

    for (const File& file : files) {
        const struct stat source = StatOf(fTemp.Path(file.name));
        for (const std::string& copy : CopyEveryWay(fTemp, file.name)) {
            SCOPED_TRACE(copy);
            int fd = open(fTemp.Path(copy).c_str(), O_RDONLY);
            ASSERT_LE(0, fd);
            EXPECT_EQ(0, fsync(fd));
            close(fd);
            struct stat st = StatOf(fTemp.Path(copy));
            EXPECT_EQ(source.st_size, st.st_size);
            EXPECT_EQ(source.st_blocks, st.st_blocks);
            EXPECT_TRUE(fTemp.ReadFile(file.name) == fTemp.ReadFile(copy));
        }
    }
}

}  // namespace
}  // namespace bkit::test
