// FileExchangeTest.cpp - swapping two items in one step, and through renames where the file system cannot.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

class FileExchangeTest : public test::TempFolderTest {
protected:
    void TearDown() override { FaultSeam::DisarmAll(); }
};

TEST_F(FileExchangeTest, ItemsTradePlacesWithOrWithoutTheOneStepExchange)
{
    for (bool oneStep : {true, false}) {
        SCOPED_TRACE(oneStep);
        if (!oneStep)
            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
        // A folder with a file, and a folder with a link.
        test::TempFolder::RemoveTree(fTemp.Path("new"));
        test::TempFolder::RemoveTree(fTemp.Path("app"));
        fTemp.MakeFolder("new");
        fTemp.WriteFile("new/content", "new");
        fTemp.MakeFolder("app");
        fTemp.WriteFile("app/content", "old");
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

}  // namespace
}  // namespace bkit
