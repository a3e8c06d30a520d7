// VFileCopyTest.cpp - what the copy of one file keeps beyond its data and
// mode: its owner and the set-id bits that depend on it, and its holes. Each
// check runs over the ways a single file gets copied (to a new path, onto an
// existing file, into a folder).
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "files/CopyTestSupport.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

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
    const auto [user, group] = NobodyIds();

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
    // Replacing a file's content writes a new file too: the same rule holds.
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        VFile file(VFilePath(VString(fTemp.Path(item.name).c_str()), FPS_POSIX));
        ASSERT_EQ(VE_OK, file.SetContent("y", 1));
        EXPECT_EQ(item.copied, StatOf(fTemp.Path(item.name)).st_mode & 07777);
        EXPECT_EQ("y", fTemp.ReadFile(item.name));
    }
}

TEST_F(VFileCopyTest, SparseFilesKeepTheirHoles)
{
    if (!MakeSparseFiles(fTemp, ""))
        GTEST_SKIP() << "the volume of the test folder does not keep holes";

    for (const std::string& name : SparseFileNames()) {
        for (const std::string& copy : CopyEveryWay(fTemp, name))
            ExpectSameHolesAndBytes(fTemp, name, copy);
    }
}

}  // namespace
}  // namespace bkit::test
