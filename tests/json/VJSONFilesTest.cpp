// VJSONFilesTest.cpp - JSON text in files: values loaded and saved, file
// content as JSON, the source name of parse errors, and the spin-lock
// settings file.
#include <gtest/gtest.h>

#include "basekit/files/VFile.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/runtime/VSpinLock.h"
#include "json/JSONTextTestSupport.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

using test::Compact;

class VJSONFilesTest : public test::TempFolderTest {
protected:
    VFile File(const char* name) const { return VFile(fTemp.FilePath(name)); }
};

TEST_F(VJSONFilesTest, ValuesSaveAndLoad)
{
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("{\"a\":[1,\"\xC3\xA9\"],\"d\":\"!!2024-03-05!!\"}"), true, true), 0u);
    ASSERT_TRUE(value.GetProperty(VString("d")).IsDate());

    VFile file = File("v.json");
    ASSERT_EQ(value.SaveToFile(&file, 9), 0u);
    EXPECT_EQ(fTemp.ReadFile("v.json"), "{\n\t\"a\": [\n\t\t1,\n\t\t\"\xC3\xA9\"\n\t],\n\t\"d\": \"2024-03-05T00:00:00.000Z\"\n}");

    VJSONValue loaded;
    ASSERT_EQ(loaded.LoadFromFile(&file, true), 0u);
    EXPECT_EQ(Compact(loaded), "{\"a\":[1,\"\xC3\xA9\"],\"d\":\"2024-03-05T00:00:00.000Z\"}");
    EXPECT_EQ(loaded.LoadFromFile(nullptr), 0u);
    EXPECT_TRUE(loaded.IsUndefined());
    EXPECT_EQ(value.SaveToFile(nullptr, 1), 0u);
}

TEST_F(VJSONFilesTest, ParseErrorsNameTheFile)
{
    ASSERT_TRUE(fTemp.WriteFile("bad.json", "{\n  \"a\": 1,\n}"));
    VFile file = File("bad.json");
    test::CapturedErrors errors;
    VJSONValue value;
    {
        StErrorContextInstaller level(false, true);
        EXPECT_EQ(value.LoadFromFile(&file), VE_JSON_MALFORMED);
        errors.Take(level.GetContext());
    }
    ASSERT_EQ(errors.Numbers(), (std::vector<int32_t>{553, 550}));
    EXPECT_EQ(errors.list[1].Param("source"), fTemp.Path("bad.json") + ", ");
    EXPECT_EQ(errors.list[1].Param("line"), "3");
    EXPECT_EQ(errors.list[1].Param("position"), "1");
    // What was read before the error is kept.
    EXPECT_EQ(Compact(value), "{\"a\":1}");

    // A file that cannot be read gives the file error, not a parse error.
    VFile missing = File("missing.json");
    StErrorContextInstaller level(false, true);
    VError err = value.LoadFromFile(&missing);
    EXPECT_NE(err, 0u);
    EXPECT_NE(err, VE_JSON_MALFORMED);
}

TEST_F(VJSONFilesTest, FileContentAsJSON)
{
    VFile file = File("c.json");
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("{\"k\":[true,null]}")), 0u);
    ASSERT_EQ(file.SetContentAsJSON(value, VTC_UTF_8, eCRM_CRLF, true), 0u);
    EXPECT_EQ(fTemp.ReadFile("c.json"), "\xEF\xBB\xBF{\r\n\t\"k\": [\r\n\t\ttrue,\r\n\t\tnull\r\n\t]\r\n}");

    VJSONValue read;
    ASSERT_EQ(file.GetContentAsJSON(read, VTC_UTF_8), 0u);
    EXPECT_EQ(Compact(read), "{\"k\":[true,null]}");

    // File content reads no dates: the unambiguous-date option alone only
    // narrows the marked-date test, which is not asked for.
    ASSERT_TRUE(fTemp.WriteFile("d.json", "[\"!!2024-03-05!!\",\"2024-03-05\"]"));
    VFile dates = File("d.json");
    ASSERT_EQ(dates.GetContentAsJSON(read, VTC_UTF_8), 0u);
    EXPECT_EQ(Compact(read), "[\"!!2024-03-05!!\",\"2024-03-05\"]");
}

TEST_F(VJSONFilesTest, FailedWriterLeavesTheFileAlone)
{
    ASSERT_TRUE(fTemp.WriteFile("keep.json", "[\"old\"]"));
    VFile file = File("keep.json");
    VJSONValue cycle(JSON_array);
    cycle.GetArray()->Push(cycle);
    {
        StErrorContextInstaller level(false, true);
        EXPECT_EQ(file.SetContentAsJSON(cycle, VTC_UTF_8, eCRM_NONE, false), VE_JSON_CYCLE);
        EXPECT_EQ(cycle.SaveToFile(&file, 1), VE_JSON_CYCLE);
    }
    EXPECT_EQ(fTemp.ReadFile("keep.json"), "[\"old\"]");
    cycle.GetArray()->Clear();
}

TEST_F(VJSONFilesTest, SpinLockSettingsFile)
{
    ASSERT_TRUE(SpinLock::ResetToDefaults());
    struct Case {
        const char* content;
        bool applied;
        SpinLock::LockFunction lock;
        int maxSpins;
        bool yield;
    };
    const Case cases[] = {
        {"{\"mode\":\"ALWAYSSLEEP\",\"maxSpins\":7.9,\"yieldAfterCheckEvent\":true}", true, &SpinLock::AlwaysSleep, 7,
         true},
        // Wrong types and unknown modes change nothing of their own.
        {"{\"mode\":\"fastest\",\"maxSpins\":\"3\",\"yieldAfterCheckEvent\":1}", true, &SpinLock::AlwaysSleep, 7, true},
        {"{\"mode\":\"loopMaxSpinsAndYields\",\"maxSpins\":2}", true, &SpinLock::LoopMaxSpinsAndYields, 2, true},
        // Not an object, or not JSON: nothing at all.
        {"[\"alwaysSleep\"]", false, &SpinLock::LoopMaxSpinsAndYields, 2, true},
        {"{mode: ", false, &SpinLock::LoopMaxSpinsAndYields, 2, true},
    };
    VFile file = File(SpinLock::kSettingsFileName);
    for (const Case& c : cases) {
        ASSERT_TRUE(fTemp.WriteFile(SpinLock::kSettingsFileName, c.content));
        StErrorContextInstaller level(false, false);
        EXPECT_EQ(SpinLock::ConfigureFromFile(file), c.applied) << c.content;
        EXPECT_EQ(level.GetLastError(), 0u) << c.content;
        EXPECT_EQ(SpinLock::Lock, c.lock) << c.content;
        EXPECT_EQ(SpinLock::Unlock, &SpinLock::ClearBit);
        EXPECT_EQ(SpinLock::maxSpins, c.maxSpins) << c.content;
        EXPECT_EQ(SpinLock::yieldAfterCheckEvent, c.yield) << c.content;
    }
    EXPECT_FALSE(SpinLock::ConfigureFromFile(File("absent.prm")));
    EXPECT_TRUE(SpinLock::ResetToDefaults());
}

}  // namespace
}  // namespace bkit
