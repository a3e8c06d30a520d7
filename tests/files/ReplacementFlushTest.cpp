// ReplacementFlushTest.cpp - writes that replace data flush it before the rename that shows it, and the folder after.
//
// Each replacement asks the disk to keep the new item before it takes the old
// one's place, and the folder after that. The fault seam fails the first or
// the second of those flushes: a failure of the first must leave the old data
// whole with nothing beside it, a failure of the second must be reported
// (the new data then stands in place). A new item made where nothing stood
// needs no flush, so a flush that always fails must not stop it.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/platform/FaultSeam.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

class ReplacementFlushTest : public TempFolderTest {
protected:
    void TearDown() override { FaultSeam::DisarmAll(); }

    VRefPtr<VFolder> FolderAt(const std::string& name)
    {
        return VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath(name)));
    }
};

TEST_F(ReplacementFlushTest, AFileIsReplacedOnlyOnceItsNewContentIsOnTheDisk)
{
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    bag->SetString(StPackedDictionaryKey("name"), VString("new"));
    const std::string bagText = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root name=\"new\"/>";
    struct Case {
        const char* what;
        std::function<VError(const VFile&)> write;
        std::string written;
    } cases[] = {
        {"SetContent", [](const VFile& f) { return f.SetContent("new", 3); }, "new"},
        {"SetContentAsString",
         [](const VFile& f) { return f.SetContentAsString(VString("new"), VTC_UTF_8, static_cast<ECarriageReturnMode>(1), false); },
         "new"},
        {"JSON writer",
         [](const VFile& f) { return VJSONWriter::StringifyValueToFile(const_cast<VFile*>(&f), VJSONValue(7.0), 0); },
         "7"},
        {"XML bag writer",
         [&](const VFile& f) { return WriteBagToFileInXML(*bag, VString("root"), const_cast<VFile*>(&f), false); },
         bagText},
        {"copy with overwrite",
         [this](const VFile& f) { return FileIn(fTemp, "source")->CopyTo(f, FCP_Overwrite); }, "new"},
    };
    ASSERT_TRUE(fTemp.WriteFile("source", "new"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VRefPtr<VFile> target = FileIn(fTemp, "target");
        {
            // The new data could not be kept: the old stays, nothing beside it.
            ASSERT_TRUE(fTemp.WriteFile("target", "old"));
            StErrorContextInstaller errors(false, true);
            StFaultSeam fault(FaultOperation::kFlush, 1, EIO);
            EXPECT_NE(c.write(*target), VE_OK);
            EXPECT_EQ("old", fTemp.ReadFile("target"));
            EXPECT_EQ((std::vector<std::string>{"source", "target"}), fTemp.List(""));
        }
        {
            // The rename could not be kept: said, with the new data in place.
            StErrorContextInstaller errors(false, true);
            StFaultSeam fault(FaultOperation::kFlush, 2, EIO);
            EXPECT_NE(c.write(*target), VE_OK);
            EXPECT_FALSE(FaultSeam::IsArmed(FaultOperation::kFlush));
            EXPECT_EQ(c.written, fTemp.ReadFile("target"));
            EXPECT_EQ((std::vector<std::string>{"source", "target"}), fTemp.List(""));
        }
        {
            // A new file replaces nothing and is not flushed.
            StErrorContextInstaller errors(false, true);
            FaultSeam::ArmAlways(FaultOperation::kFlush, EIO);
            EXPECT_EQ(VE_OK, c.write(*FileIn(fTemp, "fresh")));
            FaultSeam::DisarmAll();
            EXPECT_EQ(c.written, fTemp.ReadFile("fresh"));
            ASSERT_EQ(VE_OK, FileIn(fTemp, "fresh")->Delete());
        }
    }
}

TEST_F(ReplacementFlushTest, AFolderCopyReplacesOnlyOnceTheWholeNewTreeIsOnTheDisk)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/sub"));
    ASSERT_TRUE(fTemp.WriteFile("src/sub/content", "new"));
    // The whole folder replaced (CopyTo), or its content item by item over an
    // existing one (CopyContentsTo): a file and a sub-folder each replaced.
    struct Case {
        const char* what;
        std::function<VError()> copy;
        const char* file;  // the replaced file, below the temporary folder
    } cases[] = {
        {"folder", [this] { return FolderAt("src")->CopyTo(*FolderAt("dest"), nullptr, FCP_Overwrite); },
         "dest/src/sub/content"},
        {"contents, a folder", [this] { return FolderAt("src")->CopyContentsTo(*FolderAt("dest/src"), FCP_Overwrite); },
         "dest/src/sub/content"},
        {"contents, a file",
         [this] { return FolderAt("src/sub")->CopyContentsTo(*FolderAt("dest/src/sub"), FCP_Overwrite); },
         "dest/src/sub/content"},
    };
    for (const Case& c : cases) {
        for (int nth : {1, 2}) {
            SCOPED_TRACE(std::string(c.what) + (nth == 1 ? ", before" : ", after"));
            TempFolder::RemoveTree(fTemp.Path("dest"));
            ASSERT_TRUE(fTemp.MakeFolder("dest"));
            ASSERT_TRUE(fTemp.MakeFolder("dest/src"));
            ASSERT_TRUE(fTemp.MakeFolder("dest/src/sub"));
            ASSERT_TRUE(fTemp.WriteFile("dest/src/sub/content", "old"));
            StErrorContextInstaller errors(false, true);
            StFaultSeam fault(FaultOperation::kFlush, nth, EIO);
            EXPECT_NE(VE_OK, c.copy());
            EXPECT_FALSE(FaultSeam::IsArmed(FaultOperation::kFlush));
            EXPECT_EQ(nth == 1 ? "old" : "new", fTemp.ReadFile(c.file));
            // No copy in the making is left anywhere.
            EXPECT_EQ((std::vector<std::string>{"src"}), fTemp.List("dest"));
            EXPECT_EQ((std::vector<std::string>{"sub"}), fTemp.List("dest/src"));
            EXPECT_EQ((std::vector<std::string>{"content"}), fTemp.List("dest/src/sub"));
        }
    }
}

}  // namespace
}  // namespace bkit::test
