// FolderLockTest.cpp - the lock of a folder: one holder at a time, only those who may change the folder, nothing left after.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FolderLock.h"
#include "basekit/platform/PosixError.h"
#include "support/TempFolder.h"
#include "support/UserChild.h"

namespace bkit {
namespace {

constexpr const char* kLockName = StFolderLock::kLockFileName;

class FolderLockTest : public test::TempFolderTest {
protected:
    void TearDown() override { FaultSeam::DisarmAll(); }
};

TEST_F(FolderLockTest, OneHolderAtATimeAndNothingLeftAfter)
{
    const std::string folder = fTemp.Path();
    StFolderLock first, second;
    ASSERT_EQ(0, first.TryLock(folder.c_str()));
    EXPECT_TRUE(first.IsLocked());
    EXPECT_TRUE(fTemp.ItemExists(kLockName));
    EXPECT_EQ(EWOULDBLOCK, second.TryLock(folder.c_str()));
    EXPECT_FALSE(second.IsLocked());
    first.Unlock();
    EXPECT_EQ(std::vector<std::string>{}, fTemp.List(""));
    {
        StFolderLock scoped;
        ASSERT_EQ(0, scoped.TryLock((folder + "/").c_str()));
        EXPECT_EQ(EWOULDBLOCK, first.TryLock(folder.c_str()));
    }
    EXPECT_EQ(std::vector<std::string>{}, fTemp.List(""));

    // A lock that cannot be taken leaves the file it made for the next
    // holder to remove: by then another may hold it.
    FaultSeam::Arm(FaultOperation::kLock, 1, ENOLCK);
    EXPECT_EQ(ENOLCK, first.TryLock(folder.c_str()));
    EXPECT_EQ(fTemp.Path(kLockName), first.FailedItem());
    ASSERT_EQ(0, first.TryLock(folder.c_str()));
    first.Unlock();
    EXPECT_EQ(std::vector<std::string>{}, fTemp.List(""));

    fTemp.WriteFile("file", "x");
    struct Case {
        std::string folder;
        int err;
    } cases[] = {{fTemp.Path("missing"), ENOENT}, {fTemp.Path("file"), ENOTDIR}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        EXPECT_EQ(c.err, first.TryLock(c.folder.c_str()));
        EXPECT_EQ(c.folder, first.FailedItem());
    }
}

TEST_F(FolderLockTest, TheKernelFreesTheLockOfAKilledHolderAndTheNextHolderRemovesItsFile)
{
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t holder = fork();
    if (holder == 0) {
        StFolderLock lock;
        char ok = lock.TryLock(fTemp.Path().c_str()) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(1, read(ready[0], &ok, 1));
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ('y', ok);
    StFolderLock lock;
    EXPECT_EQ(EWOULDBLOCK, lock.TryLock(fTemp.Path().c_str()));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_TRUE(fTemp.ItemExists(kLockName));
    ASSERT_EQ(0, lock.TryLock(fTemp.Path().c_str()));
    lock.Unlock();
    EXPECT_EQ(std::vector<std::string>{}, fTemp.List(""));
}

// Whatever stands at the lock's name and is no regular file is named, and
// left as it is.
TEST_F(FolderLockTest, AnItemInTheWayIsNamedAndLeftAlone)
{
    fTemp.MakeFolder("Apps");
    fTemp.WriteFile("elsewhere", "kept");
    const std::string item = fTemp.Path("Apps/") + kLockName;
    struct Case {
        const char* what;
        int err;
        bool (*make)(const std::string& path, const std::string& target);
    } cases[] = {
        {"folder", EISDIR, [](const std::string& p, const std::string&) { return mkdir(p.c_str(), 0755) == 0; }},
        {"link to a file", ELOOP,
         [](const std::string& p, const std::string& t) { return symlink(t.c_str(), p.c_str()) == 0; }},
        {"dangling link", ELOOP,
         [](const std::string& p, const std::string&) { return symlink("nowhere", p.c_str()) == 0; }},
        {"pipe", EINVAL, [](const std::string& p, const std::string&) { return mkfifo(p.c_str(), 0666) == 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(item);
        ASSERT_TRUE(c.make(item, fTemp.Path("elsewhere")));
        StFolderLock lock;
        EXPECT_EQ(c.err, lock.TryLock(fTemp.Path("Apps").c_str()));
        EXPECT_EQ(item, lock.FailedItem());
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_TRUE(fTemp.ItemExists("Apps/" + std::string(kLockName)));
    }
    EXPECT_EQ("kept", fTemp.ReadFile("elsewhere"));
}

// A user who may only read the folder can make nothing there, open nothing
// that locks it, and so holds up nobody, whatever it locks; every user who
// may create and remove items there takes its turn.
TEST_F(FolderLockTest, OnlyThoseWhoMayChangeTheFolderCanHoldIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as other users";
    ASSERT_EQ(0, chmod(fTemp.Path().c_str(), 0755));
    const test::UserIds member = test::NobodyUser({4242}), other = test::NobodyUser();
    if (!test::UserCanReach(other, fTemp.Path()))
        GTEST_SKIP() << "another user cannot reach " << fTemp.Path();
    const std::string folder = fTemp.Path("Apps"), file = folder + "/" + kLockName;

    struct Case {
        const char* what;
        mode_t mode;
        gid_t group;
        test::UserIds user;
        bool userMayChange;
        mode_t fileMode;  // of root's lock file
    } cases[] = {
        {"read-only for the others", 0755, 0, other, false, 0600},
        {"group-writable, a member", 0775, 4242, member, true, 0660},
        {"group-writable, not a member", 0775, 4242, other, false, 0660},
        {"sticky, world-writable", 01777, 0, other, true, 0666},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(folder);
        ASSERT_TRUE(fTemp.MakeFolder("Apps"));
        ASSERT_EQ(0, chown(folder.c_str(), 0, c.group));
        ASSERT_EQ(0, chmod(folder.c_str(), c.mode));

        // The user locks whatever it can: the folder itself, then the lock.
        test::StUserChild user(c.user, [&] {
            static StFolderLock lock;
            int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            if (dir < 0 || flock(dir, LOCK_EX | LOCK_NB) != 0)
                return 254;
            return lock.TryLock(folder.c_str());
        });
        StFolderLock root;
        if (!c.userMayChange) {
            EXPECT_EQ(EACCES, user.Result());
            ASSERT_EQ(0, root.TryLock(folder.c_str()));
            struct stat st;
            ASSERT_EQ(0, lstat(file.c_str(), &st));
            EXPECT_EQ(c.fileMode, st.st_mode & 07777);
            EXPECT_EQ(c.group, st.st_gid);
            // Nor can it open root's lock file, to lock that.
            test::StUserChild opener(c.user, [&] {
                return open(file.c_str(), O_RDWR) < 0 && open(file.c_str(), O_RDONLY) < 0 ? errno : 0;
            });
            EXPECT_EQ(EACCES, opener.Result());
        } else {
            EXPECT_EQ(0, user.Result());
            EXPECT_EQ(EWOULDBLOCK, root.TryLock(folder.c_str()));
            // The user's run ends without letting go (its file stays): root
            // takes the lock over.
            user.Finish();
            ASSERT_EQ(0, root.TryLock(folder.c_str()));
            root.Unlock();
            ASSERT_EQ(0, root.TryLock(folder.c_str()));
            struct stat st;
            ASSERT_EQ(0, lstat(file.c_str(), &st));
            EXPECT_EQ(c.fileMode, st.st_mode & 07777);
            // The user can open root's file, and finds it held.
            test::StUserChild waiting(c.user, [&] {
                StFolderLock lock;
                return lock.TryLock(folder.c_str());
            });
            EXPECT_EQ(EWOULDBLOCK, waiting.Result());
            root.Unlock();
            // Its turn: it takes the lock, lets it go, and leaves nothing.
            test::StUserChild turn(c.user, [&] {
                StFolderLock lock;
                int err = lock.TryLock(folder.c_str());
                lock.Unlock();
                return err != 0 ? err : access(file.c_str(), F_OK) == 0 ? 253 : 0;
            });
            EXPECT_EQ(0, turn.Result());
        }
        root.Unlock();
        user.Finish();
        EXPECT_EQ(std::vector<std::string>{}, fTemp.List("Apps"));
    }
}

// Processes that take and release the lock over and over, racing on the
// making, locking and removing of one file, are never inside together.
TEST_F(FolderLockTest, ProcessesRacingForTheLockAreNeverInsideTogether)
{
    const std::string folder = fTemp.Path(), inside = fTemp.Path("inside");
    constexpr int kProcesses = 4, kRounds = 300;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t child = fork();
        if (child == 0) {
            int overlaps = 0;
            for (int round = 0; round < kRounds; ++round) {
                StFolderLock lock;
                int err;
                while ((err = lock.TryLock(folder.c_str())) == EWOULDBLOCK)
                    sched_yield();
                if (err != 0)
                    _exit(100);
                // Made exclusively: a second process inside finds it there.
                int fd = open(inside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (fd < 0) {
                    ++overlaps;
                    continue;
                }
                close(fd);
                unlink(inside.c_str());
            }
            _exit(overlaps > 99 ? 99 : overlaps);
        }
        ASSERT_GT(child, 0);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status));
    }
    EXPECT_EQ(std::vector<std::string>{}, fTemp.List(""));
}

}  // namespace
}  // namespace bkit
