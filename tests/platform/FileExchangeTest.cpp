// FileExchangeTest.cpp - swapping two items in one step, and through renames where the file system cannot.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FolderOps.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

class FileExchangeTest : public test::TempFolderTest {
protected:
    void TearDown() override { FaultSeam::DisarmAll(); }

    // Folders "new" and "app", each with a file "content" telling which it
    // is, in place of whatever stood at their names or aside.
    void MakeNewAndApp()
    {
        for (const char* name : {"new", "app", ".app.bkit-aside"})
            test::TempFolder::RemoveTree(fTemp.Path(name));
        fTemp.MakeFolder("new");
        fTemp.WriteFile("new/content", "new");
        fTemp.MakeFolder("app");
        fTemp.WriteFile("app/content", "old");
    }
};

TEST_F(FileExchangeTest, ItemsTradePlacesWithOrWithoutTheOneStepExchange)
{
    for (bool oneStep : {true, false}) {
        SCOPED_TRACE(oneStep);
        if (!oneStep)
            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
        // A folder with a file, and a folder with a link.
        MakeNewAndApp();
        fTemp.MakeLink("app/current", "content");

        ASSERT_EQ(0, ExchangeItems(fTemp.Path("new").c_str(), fTemp.Path("app").c_str()));
        EXPECT_EQ("new", fTemp.ReadFile("app/content"));
        EXPECT_FALSE(fTemp.ItemExists("app/current"));
        EXPECT_EQ("old", fTemp.ReadFile("new/current"));
        // Nothing is left aside.
        EXPECT_EQ((std::vector<std::string>{"app", "new"}), fTemp.List(""));
    }
}

TEST_F(FileExchangeTest, AFailedExchangeChangesNothing)
{
    fTemp.MakeFolder("app");
    fTemp.WriteFile("app/content", "old");
    fTemp.WriteFile("file", "file");
    struct Case {
        const char* a;
        FaultOperation fault;  // kCount: none
        int expected;
    } cases[] = {
        {"missing", FaultOperation::kCount, ENOENT},
        {"file", FaultOperation::kRename, EBUSY},
    };
    for (bool oneStep : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.a) + (oneStep ? " one step" : " renames"));
            FaultSeam::DisarmAll();
            if (!oneStep)
                FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
            if (c.fault != FaultOperation::kCount)
                FaultSeam::Arm(c.fault, 1, EBUSY);
            EXPECT_EQ(c.expected, ExchangeItems(fTemp.Path(c.a).c_str(), fTemp.Path("app").c_str()));
            EXPECT_EQ("old", fTemp.ReadFile("app/content"));
            EXPECT_EQ("file", fTemp.ReadFile("file"));
            EXPECT_EQ((std::vector<std::string>{"app", "file"}), fTemp.List(""));
        }
    }
}

TEST_F(FileExchangeTest, AsideNamesTellTheItemTheyHold)
{
    EXPECT_EQ(".App.app.bkit-aside", ExchangeAsideName("App.app"));
    struct Case {
        const char* name;
        const char* original;  // null: not an aside name
    } cases[] = {
        {".App.app.bkit-aside", "App.app"},
        {"..hidden.bkit-aside", ".hidden"},
        {".bkit-aside", nullptr},
        {"..bkit-aside", nullptr},
        {"App.app.bkit-aside", nullptr},
        {".bkit-copy-12-0-1", nullptr},
        {".App.app.bkit-aside2", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string original;
        EXPECT_EQ(c.original != nullptr, ExchangeAsideOriginal(c.name, original));
        if (c.original != nullptr) {
            EXPECT_EQ(c.original, original);
        }
    }
}

// Without the one-step exchange, a process stopped before, between or after
// the renames leaves the item that was at b under its aside name at worst,
// never under a temporary item's name, and putting the asides back restores
// an item at b.
TEST_F(FileExchangeTest, AStopBetweenTheRenamesLeavesTheItemUnderItsAsideName)
{
    for (int step = 1; step <= 4; ++step) {
        SCOPED_TRACE(step);
        MakeNewAndApp();

        pid_t child = fork();
        if (child == 0) {
            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
            FaultSeam::ArmStop(FaultOperation::kExchangeStep, step);
            _exit(ExchangeItems(fTemp.Path("new").c_str(), fTemp.Path("app").c_str()));
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        if (step == 4) {
            // Three renames and no fourth: the exchange was complete.
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(0, WEXITSTATUS(status));
        } else {
            ASSERT_TRUE(WIFSIGNALED(status));
        }
        for (const std::string& name : fTemp.List(""))
            EXPECT_NE(0u, name.find(".bkit-copy-")) << name;
        const std::string oldAt = fTemp.ItemExists(".app.bkit-aside") ? ".app.bkit-aside/content"
                                  : step == 4                       ? "new/content"
                                                                    : "app/content";
        EXPECT_EQ("old", fTemp.ReadFile(oldAt));

        std::vector<std::string> restored;
        EXPECT_EQ(0, RestoreExchangeAsides(fTemp.Path().c_str(), &restored));
        // After the first rename nothing stood at app: the old item is back.
        EXPECT_EQ(step == 2 ? std::vector<std::string>{"app"} : std::vector<std::string>{}, restored);
        EXPECT_TRUE(fTemp.ItemExists("app/content"));
        // Past the second rename, app holds the new item and the old one stays
        // aside, for its owner to clear.
        EXPECT_EQ(step == 3, fTemp.ItemExists(".app.bkit-aside"));
    }
}

TEST_F(FileExchangeTest, FailedRenamesThatCannotBeUndoneLeaveTheItemAside)
{
    FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
    MakeNewAndApp();
    // The second rename fails and so does its undoing: app is missing and its
    // item aside, from where it is put back.
    FaultSeam::Arm(FaultOperation::kExchangeStep, 2, EIO, 2);
    EXPECT_EQ(EIO, ExchangeItems(fTemp.Path("new").c_str(), fTemp.Path("app").c_str()));
    EXPECT_FALSE(fTemp.ItemExists("app"));
    EXPECT_EQ("old", fTemp.ReadFile(".app.bkit-aside/content"));
    int dir = open(fTemp.Path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(0, RestoreExchangeAside(dir, "app"));
    EXPECT_EQ(EEXIST, RestoreExchangeAside(dir, "app"));
    EXPECT_EQ(ENOENT, RestoreExchangeAside(dir, "missing"));
    close(dir);
    EXPECT_EQ("old", fTemp.ReadFile("app/content"));
    EXPECT_EQ((std::vector<std::string>{"app", "new"}), fTemp.List(""));

    // An item already aside is never replaced, and a name too long for its
    // aside name is refused before anything moves.
    fTemp.MakeFolder(".app.bkit-aside");
    fTemp.WriteFile(".app.bkit-aside/content", "older");
    EXPECT_EQ(EEXIST, ExchangeItems(fTemp.Path("new").c_str(), fTemp.Path("app").c_str()));
    EXPECT_EQ("older", fTemp.ReadFile(".app.bkit-aside/content"));
    const std::string longName(250, 'n');
    fTemp.MakeFolder(longName);
    EXPECT_EQ(ENAMETOOLONG, ExchangeItems(fTemp.Path("new").c_str(), fTemp.Path(longName).c_str()));
    EXPECT_EQ("old", fTemp.ReadFile("app/content"));
    EXPECT_EQ("new", fTemp.ReadFile("new/content"));
    EXPECT_TRUE(fTemp.ItemExists(longName));
}

}  // namespace
}  // namespace bkit
