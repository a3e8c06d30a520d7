// FileSyncTest.cpp - flushing files, folders and trees to the disk: what each kind of item gives, and the seam.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileSync.h"
#include "basekit/platform/PosixError.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

class FileSyncTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        fTemp.MakeFolder("tree");
        fTemp.MakeFolder("tree/sub");
        fTemp.WriteFile("tree/sub/file", "data");
        fTemp.MakeLink("tree/link", "sub");
        fTemp.MakeLink("tree/dangling", "nowhere");
        ASSERT_EQ(0, mkfifo(fTemp.Path("tree/pipe").c_str(), 0600));
    }
    void TearDown() override { FaultSeam::DisarmAll(); }
};

// A pipe without a writer must not block the flush, a link is kept by its
// folder and never followed, and an item that is not there is an error,
// never a flush that seemed to succeed.
TEST_F(FileSyncTest, EachKindOfItem)
{
    struct Case {
        const char* name;
        int item;    // FlushItemAt
        int tree;    // FlushTree
        int folder;  // FlushFolderOf
    } cases[] = {
        {"tree", 0, 0, 0},
        {"tree/sub/file", 0, ENOTDIR, 0},
        {"tree/link", 0, ENOTDIR, 0},
        {"tree/dangling", 0, ENOTDIR, 0},
        {"tree/pipe", 0, ENOTDIR, 0},
        {"tree/missing", ENOENT, ENOENT, 0},
        {"gone/missing", ENOENT, ENOENT, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = fTemp.Path(c.name);
        EXPECT_EQ(c.item, FlushItemAt(AT_FDCWD, path.c_str()));
        EXPECT_EQ(c.tree, FlushTree(path.c_str()));
        EXPECT_EQ(c.folder, FlushFolderOf(path.c_str()));
        StFileDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (fd.IsValid()) {
            EXPECT_EQ(0, FlushOpenItem(fd.Get()));
        }
    }
    // Names relative to a folder, and a folder given with its final '/'.
    StFileDescriptor tree(open(fTemp.Path("tree").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(0, FlushItemAt(tree.Get(), "sub/file"));
    EXPECT_EQ(0, FlushTreeAt(tree.Get(), "sub"));
    EXPECT_EQ(0, FlushFolderOf((fTemp.Path("tree/sub") + "/").c_str()));
}

TEST_F(FileSyncTest, EveryFlushAsksTheSeamOnce)
{
    StFileDescriptor tree(open(fTemp.Path("tree").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string file = fTemp.Path("tree/sub/file");
    struct Case {
        const char* what;
        int (*flush)(int tree, const std::string& file);
    } cases[] = {
        {"open item", [](int t, const std::string&) { return FlushOpenItem(t); }},
        {"item", [](int, const std::string& f) { return FlushItemAt(AT_FDCWD, f.c_str()); }},
        {"folder of", [](int, const std::string& f) { return FlushFolderOf(f.c_str()); }},
        {"tree", [](int t, const std::string&) { return FlushTreeAt(t, "sub"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FaultSeam::Arm(FaultOperation::kFlush, 2, EIO);
        EXPECT_EQ(0, c.flush(tree.Get(), file));
        EXPECT_EQ(EIO, c.flush(tree.Get(), file));
        EXPECT_EQ(0, c.flush(tree.Get(), file));
    }
}

}  // namespace
}  // namespace bkit
