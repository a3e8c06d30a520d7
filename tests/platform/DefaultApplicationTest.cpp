// DefaultApplicationTest.cpp - opening a file through xdg-open, with an xdg-open of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <string>

#include "basekit/platform/DefaultApplication.h"
#include "basekit/platform/PosixError.h"
#include "runtime/ScopedEnv.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

class DefaultApplicationTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("bin"));
        ASSERT_TRUE(fTemp.WriteFile("bin/xdg-open",
                                    "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"$FAKE_OPEN_RECORD\"\nexit \"$FAKE_OPEN_EXIT\"\n",
                                    0755));
        ASSERT_TRUE(fTemp.WriteFile("log file_1.txt", "x"));
    }
};

TEST_F(DefaultApplicationTest, FileIsHandedToXdgOpenWithoutAShellAndFailuresAreReported)
{
    std::string path = fTemp.Path("bin") + ":" + (getenv("PATH") ? getenv("PATH") : "");
    test::StEnv searchPath("PATH", path.c_str()), record("FAKE_OPEN_RECORD", fTemp.Path("record").c_str());
    std::string file = fTemp.Path("log file_1.txt");
    struct Case {
        const char* exitCode;
        VError expected;
    };
    for (const Case& c : {Case{"0", VE_OK}, Case{"3", PosixErrorFromErrno(ENOENT)}, Case{"4", PosixErrorFromErrno(EIO)}}) {
        test::StEnv exitCode("FAKE_OPEN_EXIT", c.exitCode);
        EXPECT_EQ(platform::OpenWithDefaultApplication(file.c_str()), c.expected) << c.exitCode;
        EXPECT_EQ(fTemp.ReadFile("record"), "1|" + file) << "one argument, the path with its blank intact";
    }
    EXPECT_EQ(platform::OpenWithDefaultApplication(fTemp.Path("missing.txt").c_str()), PosixErrorFromErrno(ENOENT));
}

TEST_F(DefaultApplicationTest, MissingXdgOpenIsAnErrorNotACrash)
{
    test::StEnv searchPath("PATH", fTemp.Path("nowhere").c_str());
    EXPECT_EQ(platform::OpenWithDefaultApplication(fTemp.Path("log file_1.txt").c_str()), PosixErrorFromErrno(ENOENT));
}

}  // namespace
}  // namespace bkit
