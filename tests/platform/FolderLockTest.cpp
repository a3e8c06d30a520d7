// FolderLockTest.cpp - the lock of a folder: one holder at a time, freed when its holder ends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FolderLock.h"
#include "basekit/platform/PosixError.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

class FolderLockTest : public test::TempFolderTest {
protected:
    void TearDown() override { FaultSeam::DisarmAll(); }
};

TEST_F(FolderLockTest, OneHolderAtATimeOnTheFolderOrItsLockFile)
{
    const std::string folder = fTemp.Path();
    // Where the file system refuses flock on a folder, the lock file inside
    // it serves; it excludes as the folder itself does.
    for (bool lockFile : {false, true}) {
        SCOPED_TRACE(lockFile);
        int first = -1, second = -1;
        if (lockFile)
            FaultSeam::Arm(FaultOperation::kLock, 1, ENOLCK);
        ASSERT_EQ(0, TryLockFolder(folder.c_str(), first));
        StFileDescriptor held(first);
        EXPECT_EQ(lockFile, fTemp.ItemExists(".bkit-folder-lock"));
        if (lockFile)
            FaultSeam::Arm(FaultOperation::kLock, 1, ENOLCK);
        EXPECT_EQ(EWOULDBLOCK, TryLockFolder(folder.c_str(), second));
        held.Reset();
        if (lockFile)
            FaultSeam::Arm(FaultOperation::kLock, 1, ENOLCK);
        ASSERT_EQ(0, TryLockFolder(folder.c_str(), second));
        close(second);
    }
    int fd = -1;
    EXPECT_EQ(ENOENT, TryLockFolder(fTemp.Path("missing").c_str(), fd));
    fTemp.WriteFile("file", "x");
    EXPECT_EQ(ENOTDIR, TryLockFolder(fTemp.Path("file").c_str(), fd));
}

TEST_F(FolderLockTest, TheKernelFreesTheLockOfAKilledHolder)
{
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t holder = fork();
    if (holder == 0) {
        int fd = -1;
        char ok = TryLockFolder(fTemp.Path().c_str(), fd) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(1, read(ready[0], &ok, 1));
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ('y', ok);
    int fd = -1;
    EXPECT_EQ(EWOULDBLOCK, TryLockFolder(fTemp.Path().c_str(), fd));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    ASSERT_EQ(0, TryLockFolder(fTemp.Path().c_str(), fd));
    close(fd);
}

}  // namespace
}  // namespace bkit
