// TemporaryItemTest.cpp - the hidden names of items being built, and the process they tell.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "basekit/platform/FileOps.h"

namespace bkit {
namespace {

TEST(TemporaryItemTest, NamesTellTheirProcess)
{
    // The names the folder copy really gives, and names that only look alike.
    std::string made = TemporaryItemName(3);
    EXPECT_EQ(getpid(), TemporaryItemProcess(made.c_str())) << made;
    struct Case {
        const char* name;
        pid_t pid;
    } cases[] = {
        {".bkit-copy-4242-0-0", 4242},
        {".bkit-copy-17-120-1", 17},
        {".bkit-copy-4242-0", 0},
        {".bkit-copy-4242-0-0-1", 0},
        {".bkit-copy-42x-0-0", 0},
        {".bkit-copy--1-0-0", 0},
        {".bkit-copy-99999999999-0-0", 0},
        {"bkit-copy-4242-0-0", 0},
        {".Name.app.uptodate", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.pid, TemporaryItemProcess(c.name)) << c.name;
}

}  // namespace
}  // namespace bkit
