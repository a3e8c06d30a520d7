// TemporaryItemTest.cpp - the hidden names of items being built, and the process they tell.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "basekit/platform/FileOps.h"

namespace bkit {
namespace {

// The eight-digit mark that ends the names this process makes.
std::string OwnMark()
{
    const std::string made = TemporaryItemName();
    return made.substr(made.size() - 8);
}

// The same mark with its last digit changed: another machine's or namespace's.
std::string ForeignMark()
{
    std::string mark = OwnMark();
    mark.back() = mark.back() == '0' ? '1' : '0';
    return mark;
}

TEST(TemporaryItemTest, NamesTellTheirProcessAndWhetherItIsOneOfThisPidSpace)
{
    // The names the folder copy really gives, and names that only look alike.
    std::string made = TemporaryItemName(3);
    bool here = false;
    EXPECT_EQ(getpid(), TemporaryItemProcess(made.c_str(), &here)) << made;
    EXPECT_TRUE(here) << made;
    const std::string own = OwnMark(), foreign = ForeignMark();
    std::string upper = own;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        std::string name;
        pid_t pid;
        bool inThisSpace;
    } cases[] = {
        {".bkit-copy-4242-0-0", 4242, true},  // made before names carried their mark
        {".bkit-copy-17-120-1", 17, true},
        {".bkit-copy-4242-0-0-" + own, 4242, true},
        {".bkit-copy-4242-0-0-" + foreign, 4242, false},
        {".bkit-copy-4242-0", 0, false},
        {".bkit-copy-4242-0-0-1", 0, false},
        {".bkit-copy-4242-0-0-" + own + "0", 0, false},
        {".bkit-copy-4242-0-0-" + own.substr(1), 0, false},
        {".bkit-copy-4242-0-0-" + own + "-", 0, false},
        {".bkit-copy-4242-0-0-", 0, false},
        {".bkit-copy-4242-0-0x", 0, false},
        {".bkit-copy-42x-0-0", 0, false},
        {".bkit-copy--1-0-0", 0, false},
        {".bkit-copy-99999999999-0-0", 0, false},
        {"bkit-copy-4242-0-0", 0, false},
        {".Name.app.uptodate", 0, false},
    };
    if (upper != own) {
        EXPECT_EQ(0, TemporaryItemProcess((".bkit-copy-4242-0-0-" + upper).c_str()));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool inThisSpace = false;
        EXPECT_EQ(c.pid, TemporaryItemProcess(c.name.c_str(), &inThisSpace));
        if (c.pid != 0) {
            EXPECT_EQ(c.inThisSpace, inThisSpace);
        }
        EXPECT_EQ(c.pid, TemporaryItemProcess(c.name.c_str()));
    }
}

// A process in a pid namespace of its own (as in a container) numbers its
// processes apart from this one: its names say so, whatever its number.
TEST(TemporaryItemTest, ANameMadeInAnotherPidNamespaceIsNotOfThisOne)
{
    TemporaryItemName();  // this process's mark is made before the fork
    int report[2];
    ASSERT_EQ(0, pipe(report));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        if (unshare(CLONE_NEWPID) != 0)
            _exit(2);
        pid_t inner = fork();
        if (inner == 0) {
            const std::string name = TemporaryItemName();
            _exit(write(report[1], name.data(), name.size()) == static_cast<ssize_t>(name.size()) ? 0 : 1);
        }
        int status = 0;
        _exit(inner > 0 && waitpid(inner, &status, 0) == inner && WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    close(report[1]);
    char buffer[128];
    ssize_t n = read(report[0], buffer, sizeof(buffer));
    close(report[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "no pid namespace can be made here";
    ASSERT_EQ(0, WEXITSTATUS(status));
    ASSERT_GT(n, 0);
    const std::string name(buffer, static_cast<size_t>(n));
    bool here = true;
    EXPECT_EQ(1, TemporaryItemProcess(name.c_str(), &here)) << name;
    EXPECT_FALSE(here) << name;
}

}  // namespace
}  // namespace bkit
