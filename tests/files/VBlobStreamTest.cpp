// VBlobStreamTest.cpp - the blob stream: ownership of its blob, typed round
// trips in both byte orders, growth, reading past the end, read-only blobs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/files/VBlobStream.h"
#include "basekit/values/VBlob.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ContentOf(const VBlob& blob)
{
    Bytes bytes(blob.GetSize());
    blob.GetData(bytes.data(), bytes.size(), 0);
    return bytes;
}

TEST(VBlobStream, TypedValuesRoundTripInBothByteOrders)
{
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VBlobWithPtr blob;
        {
            VBlobStream stream(&blob);
            stream.SetNeedSwap(swap);
            ASSERT_EQ(VE_OK, stream.OpenWriting());
            stream.PutLong(0x01020304);
            stream.PutWord(-2);
            stream.PutData("xyz", 3);
            ASSERT_EQ(VE_OK, stream.CloseWriting());
        }
        // The caller's blob outlives the stream and holds what was written.
        Bytes expected = swap ? Bytes{1, 2, 3, 4, 0xFF, 0xFE} : Bytes{4, 3, 2, 1, 0xFE, 0xFF};
        expected.insert(expected.end(), {'x', 'y', 'z'});
        EXPECT_EQ(expected, ContentOf(blob));

        VBlobStream stream(&blob);
        stream.SetNeedSwap(swap);
        ASSERT_EQ(VE_OK, stream.OpenReading());
        int32_t number = 0;
        int16_t word = 0;
        char text[4] = {};
        EXPECT_EQ(VE_OK, stream.GetLong(number));
        EXPECT_EQ(VE_OK, stream.GetWord(word));
        EXPECT_EQ(VE_OK, stream.GetData(text, 3));
        EXPECT_EQ(0x01020304, number);
        EXPECT_EQ(-2, word);
        EXPECT_STREQ("xyz", text);
        // Past the end: what there is, and the end of data.
        VSize read = 99;
        EXPECT_EQ(VE_STREAM_EOF, stream.GetData(text, 2, &read));
        EXPECT_EQ(0u, read);
    }
}

TEST(VBlobStream, OwnBlobLivesAndDiesWithTheStream)
{
    // Without a blob the stream makes its own (the leak checker of the
    // sanitizer build sees that it is freed).
    VBlobStream stream;
    ASSERT_EQ(VE_OK, stream.OpenWriting());
    ASSERT_EQ(VE_OK, stream.PutData("hello", 5));
    stream.CloseWriting();
    EXPECT_EQ(5, stream.GetSize());
    ASSERT_EQ(VE_OK, stream.OpenReading());
    char text[6] = {};
    EXPECT_EQ(VE_OK, stream.GetData(text, 5));
    EXPECT_STREQ("hello", text);
}

TEST(VBlobStream, PositionPastTheEndGrowsTheBlobWithZeros)
{
    VBlobWithPtr blob("ab", 2);
    VBlobStream stream(&blob);
    ASSERT_EQ(VE_OK, stream.OpenWriting());
    ASSERT_EQ(VE_OK, stream.SetPos(5));
    EXPECT_EQ(5u, blob.GetSize());
    ASSERT_EQ(VE_OK, stream.PutData("z", 1));
    EXPECT_EQ((Bytes{'a', 'b', 0, 0, 0, 'z'}), ContentOf(blob));
    ASSERT_EQ(VE_OK, stream.SetSize(3));
    EXPECT_EQ(3, stream.GetPos());
    EXPECT_EQ((Bytes{'a', 'b', 0}), ContentOf(blob));
}

TEST(VBlobStream, ReadOnlyBlobReadsButRefusesWrites)
{
    const char bytes[] = "read me";
    VConstBlobWithPtr blob(bytes, 7);
    VBlobStream stream(&blob);
    ASSERT_EQ(VE_OK, stream.OpenReading());
    char text[8] = {};
    EXPECT_EQ(VE_OK, stream.GetData(text, 7));
    EXPECT_STREQ("read me", text);
    stream.CloseReading();

    ASSERT_EQ(VE_OK, stream.OpenWriting());
    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_WRITING, stream.PutData("X", 1));
    // The error sticks, and the bytes stay.
    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_WRITING, stream.GetLastError());
    EXPECT_STREQ("read me", bytes);
    EXPECT_EQ(7u, blob.GetSize());
}

}  // namespace
}  // namespace bkit
