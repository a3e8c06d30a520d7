// VFileStreamTest.cpp - the buffered stream over one file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileStream.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

using VFileStreamTest = TempFolderTest;

off_t DiskSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST_F(VFileStreamTest, ReadBufferFitsSmallFiles)
{
    ASSERT_TRUE(fTemp.WriteFile("small", "0123456789"));
    ASSERT_TRUE(fTemp.WriteFile("large", std::string(1 << 20, 'l')));
    struct Case {
        const char* name;
        size_t capacity;
    } cases[] = {{"small", 10}, {"large", VFileStream::kDefaultBufferSize}};
    for (const Case& c : cases) {
        VFileStream stream(FileIn(fTemp, c.name).Get());
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        EXPECT_EQ(stream.GetBufferCapacity(), c.capacity) << c.name;
        EXPECT_EQ(stream.CloseReading(), VE_OK);
    }
}

TEST_F(VFileStreamTest, ReadsPastTheEndAreShort)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "0123456789"));
    VFileStream stream(FileIn(fTemp, "f").Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char buffer[32] = {};
    VSize read = 0;
    ASSERT_EQ(stream.GetData(buffer, 3, &read), VE_OK);
    EXPECT_EQ(std::string(buffer, read), "012");
    ASSERT_EQ(stream.SetPos(5), VE_OK);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(stream.GetData(buffer, 20, &read), VE_STREAM_EOF);
    EXPECT_EQ(std::string(buffer, read), "56789");
    stream.CloseReading();
}

TEST_F(VFileStreamTest, LargeReadsBypassTheBufferAndSmallOnesUseIt)
{
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(fTemp.WriteFile("f", content));
    VFileStream stream(FileIn(fTemp, "f").Get());
    stream.SetBufferSize(1000);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    std::string got;
    std::vector<char> storage(100000);
    char* buffer = storage.data();
    // Alternating small and large reads must give back the file in order.
    for (size_t step : {7u, 65000u, 999u, 1u, 1001u, 50000u, 3u, 90000u}) {
        VSize read = 0;
        VError err = stream.GetData(buffer, step, &read);
        got.append(buffer, read);
        if (err != VE_OK) {
            EXPECT_EQ(err, VE_STREAM_EOF);
            break;
        }
        if (step == 90000u)
            break;
    }
    EXPECT_EQ(got, content.substr(0, got.size()));
    EXPECT_EQ(got.size(), content.size());
    stream.CloseReading();
}

TEST_F(VFileStreamTest, WritesAreGatheredUntilThePositionLeaves)
{
    VRefPtr<VFile> file = FileIn(fTemp, "w");
    ASSERT_EQ(file->Create(), VE_OK);
    VFileStream stream(file.Get());
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("abc", 3), VE_OK);
    EXPECT_EQ(DiskSize(fTemp.Path("w")), 0);
    // Leaving the buffered range extends the file at once and writes the buffer.
    ASSERT_EQ(stream.SetPos(1000), VE_OK);
    EXPECT_EQ(DiskSize(fTemp.Path("w")), 1000);
    EXPECT_EQ(fTemp.ReadFile("w").substr(0, 3), "abc");
    ASSERT_EQ(stream.PutData("xyz", 3), VE_OK);
    EXPECT_EQ(stream.GetSize(), 1003);
    ASSERT_EQ(stream.CloseWriting(true), VE_OK);
    std::string written = fTemp.ReadFile("w");
    ASSERT_EQ(written.size(), 1003u);
    EXPECT_EQ(written.substr(1000), "xyz");
}

TEST_F(VFileStreamTest, CloseKeepsTheLargerOfOpeningSizeAndWrites)
{
    struct Case {
        int64_t setSize;  // -1: none
        off_t expected;
    } cases[] = {{-1, 1000}, {100, 100}};
    for (const Case& c : cases) {
        ASSERT_TRUE(fTemp.WriteFile("f", std::string(1000, '.')));
        VFileStream stream(FileIn(fTemp, "f").Get());
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(stream.PutData(std::string(100, 'w').data(), 100), VE_OK);
        if (c.setSize >= 0) {
            ASSERT_EQ(stream.SetSize(c.setSize), VE_OK);
        }
        ASSERT_EQ(stream.CloseWriting(true), VE_OK);
        EXPECT_EQ(DiskSize(fTemp.Path("f")), c.expected);
        EXPECT_EQ(fTemp.ReadFile("f").substr(0, 100), std::string(100, 'w'));
    }
}

TEST_F(VFileStreamTest, ReadsThroughALinkAndNeedsAFile)
{
    ASSERT_TRUE(fTemp.WriteFile("target", "linked"));
    ASSERT_TRUE(fTemp.MakeLink("link", "target"));
    VFileStream stream(FileIn(fTemp, "link").Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char buffer[16] = {};
    VSize read = 0;
    EXPECT_EQ(stream.GetData(buffer, 6, &read), VE_OK);
    EXPECT_EQ(std::string(buffer, read), "linked");
    stream.CloseReading();

    StErrorContextInstaller errors(false, true);
    VFileStream none(nullptr);
    EXPECT_EQ(none.OpenReading(), VE_STREAM_NO_FILE);
    EXPECT_EQ(none.OpenWriting(), VE_STREAM_NO_FILE);
}

TEST_F(VFileStreamTest, RoundTripOfTypedValues)
{
    VRefPtr<VFile> file = FileIn(fTemp, "typed");
    ASSERT_EQ(file->Create(), VE_OK);
    {
        VFileStream out(file.Get());
        out.SetBufferSize(16);
        ASSERT_EQ(out.OpenWriting(), VE_OK);
        for (int32_t i = 0; i < 1000; ++i)
            ASSERT_EQ(out.PutLong(i * 7), VE_OK);
        ASSERT_EQ(out.CloseWriting(true), VE_OK);
    }
    EXPECT_EQ(DiskSize(fTemp.Path("typed")), 4000);
    VFileStream in(file.Get());
    in.SetBufferSize(10);
    ASSERT_EQ(in.OpenReading(), VE_OK);
    for (int32_t i = 0; i < 1000; ++i) {
        int32_t value = -1;
        ASSERT_EQ(in.GetLong(value), VE_OK);
        ASSERT_EQ(value, i * 7);
    }
    in.CloseReading();
}

}  // namespace
}  // namespace bkit::test
