// VBlobTest.cpp - blob values: reads and writes at offsets, null, equality,
// raw-memory and stream forms, the read-only blob and the kind-11 descriptor.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/files/VStream.h"
#include "basekit/values/VBlob.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Everything a blob holds, read through its interface.
Bytes ContentOf(const VBlob& blob)
{
    Bytes bytes(blob.GetSize());
    VSize read = 0;
    EXPECT_EQ(VE_OK, blob.GetData(bytes.data(), bytes.size(), 0, &read));
    EXPECT_EQ(bytes.size(), read);
    return bytes;
}

Bytes StreamContent(const VPtrStream& stream)
{
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    const auto* p = static_cast<const uint8_t*>(data.fData);
    return p ? Bytes(p, p + data.fSize) : Bytes();
}

TEST(VBlobWrite, PutDataAtOffsetsGrowsAndZeroFillsGaps)
{
    struct Case {
        const char* name;
        std::string initial;
        std::string put;
        int32_t offset;
        Bytes expected;
    };
    const Case cases[] = {
        {"into an empty blob past its end", "", "abc", 10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}},
        {"overwrite inside", "abcdef", "XY", 2, Of("abXYef")},
        {"overlap the end", "abcdef", "XYZ", 5, Of("abcdeXYZ")},
        {"append at the end", "ab", "cd", 2, Of("abcd")},
        {"gap after data", "ab", "z", 4, {'a', 'b', 0, 0, 'z'}},
        {"nothing at offset 0", "ab", "", 0, Of("ab")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VBlobWithPtr blob(c.initial.data(), c.initial.size());
        ASSERT_EQ(VE_OK, blob.PutData(c.put.data(), c.put.size(), c.offset));
        EXPECT_EQ(c.expected, ContentOf(blob));
    }
}

TEST(VBlobWrite, SetSizeKeepsBytesAndClearsWhatItAdds)
{
    VBlobWithPtr blob("abcdef", 6);
    ASSERT_EQ(VE_OK, blob.SetSize(3));
    EXPECT_EQ(Of("abc"), ContentOf(blob));
    ASSERT_EQ(VE_OK, blob.SetSize(8));
    EXPECT_EQ((Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0}), ContentOf(blob));
    ASSERT_EQ(VE_OK, blob.SetSize(0));
    EXPECT_EQ(0u, blob.GetSize());
}

TEST(VBlobWrite, BadArgumentsAreRefusedAndChangeNothing)
{
    VBlobWithPtr blob("abc", 3);
    EXPECT_EQ(VE_INVALID_PARAMETER, blob.PutData("x", 1, -1));
    EXPECT_EQ(VE_INVALID_PARAMETER, blob.PutData(nullptr, 4, 0));
    EXPECT_EQ(VE_INVALID_PARAMETER, blob.FromData(nullptr, 4));
    EXPECT_EQ(Of("abc"), ContentOf(blob));
}

// Reads behave the same over an owning and over a read-only blob.
TEST(VBlobRead, GetDataCopiesWhatLiesBehindTheOffset)
{
    struct Case {
        VSize size;
        int32_t offset;
        VSize expectedRead;
        VError expectedError;
    };
    const Case cases[] = {
        {6, 0, 6, VE_OK},
        {8, 2, 4, VE_STREAM_EOF},    // short read: what there is
        {1, 6, 0, VE_STREAM_EOF},    // at the end
        {4, 100, 0, VE_STREAM_EOF},  // far past the end: nothing, no read outside
        {0, 6, 0, VE_OK},
        {2, -1, 0, VE_INVALID_PARAMETER},
    };
    const std::string bytes = "012345";
    VBlobWithPtr owning(bytes.data(), bytes.size());
    VConstBlobWithPtr readOnly(bytes.data(), bytes.size());
    for (const VBlob* blob : {static_cast<const VBlob*>(&owning), static_cast<const VBlob*>(&readOnly)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "size " << c.size << " at " << c.offset);
            std::string out(8, '#');
            VSize read = 99;
            EXPECT_EQ(c.expectedError, blob->GetData(out.data(), c.size, c.offset, &read));
            EXPECT_EQ(c.expectedRead, read);
            std::string expected = bytes.substr(c.offset >= 0 && c.offset < 6 ? c.offset : 0, c.expectedRead);
            EXPECT_EQ(expected + std::string(8 - c.expectedRead, '#'), out);
        }
    }
}

TEST(VBlobValue, NullEmptiesAndWritingClearsNull)
{
    VBlobWithPtr blob("abc", 3);
    EXPECT_FALSE(blob.IsNull());
    blob.SetNull(true);
    EXPECT_EQ(0u, blob.GetSize());

    blob.SetDirty(false);
    ASSERT_EQ(VE_OK, blob.PutData("z", 1, 0));
    EXPECT_FALSE(blob.IsNull());
    EXPECT_TRUE(blob.IsDirty());

    blob.SetNull(true);
    blob.SetDirty(false);
    ASSERT_EQ(VE_OK, blob.FromData("xy", 2));
    EXPECT_FALSE(blob.IsNull());
    EXPECT_TRUE(blob.IsDirty());
    EXPECT_EQ(Of("xy"), ContentOf(blob));
}

TEST(VBlobValue, EqualityNeedsSameBytesAndANonNullOther)
{
    VBlobWithPtr a("abc", 3);
    VBlobWithPtr same("abc", 3);
    VBlobWithPtr other("abd", 3);
    VBlobWithPtr longer("abcd", 4);
    VBlobWithPtr empty1, empty2;
    EXPECT_TRUE(a.EqualToSameKind(&same));
    EXPECT_TRUE(a.EqualToSameKindWithOptions(&same, VCompareOptions()));
    EXPECT_FALSE(a.EqualToSameKind(&other));
    EXPECT_FALSE(a.EqualToSameKind(&longer));
    EXPECT_TRUE(empty1.EqualToSameKind(&empty2));
    empty2.SetNull(true);
    EXPECT_FALSE(empty1.EqualToSameKind(&empty2));

    VConstBlobWithPtr readOnly("abc", 3);
    EXPECT_FALSE(a.EqualToSameKind(&readOnly));
    VLong number(1);
    EXPECT_FALSE(a.EqualToSameKind(&number));

    // Blobs have no order.
    EXPECT_EQ(CR_UNRELEVANT, a.CompareTo(same));
    EXPECT_EQ(CR_UNRELEVANT, a.CompareTo(number));
}

TEST(VBlobValue, CopiesTakeBytesAndNullFlag)
{
    VBlobWithPtr source("abc", 3);

    std::unique_ptr<VValue> clone(source.Clone());
    auto* cloned = dynamic_cast<VBlobWithPtr*>(clone.get());
    ASSERT_NE(nullptr, cloned);
    EXPECT_EQ(Of("abc"), ContentOf(*cloned));
    // The clone owns its own bytes.
    source.PutData("X", 1, 0);
    EXPECT_EQ(Of("abc"), ContentOf(*cloned));

    VConstBlobWithPtr readOnly("hello", 5);
    VBlobWithPtr fromAnyBlob(static_cast<const VBlob&>(readOnly));
    EXPECT_EQ(Of("hello"), ContentOf(fromAnyBlob));

    VBlobWithPtr target("zzzz", 4);
    EXPECT_TRUE(target.FromValueSameKind(&source));
    EXPECT_EQ(Of("Xbc"), ContentOf(target));
    EXPECT_FALSE(target.FromValueSameKind(&readOnly));
    VBlobWithPtr nullSource;
    nullSource.SetNull(true);
    EXPECT_TRUE(target.FromValueSameKind(&nullSource));
    EXPECT_TRUE(target.IsNull());
    EXPECT_EQ(0u, target.GetSize());

    // GetValue fills only blob targets; FromValue only takes owning blobs.
    VBlobWithPtr filled;
    readOnly.GetValue(filled);
    EXPECT_EQ(Of("hello"), ContentOf(filled));
    VLong number(7);
    source.GetValue(number);
    EXPECT_EQ(7, number.GetLong());
    filled.FromValue(source);
    EXPECT_EQ(Of("Xbc"), ContentOf(filled));
    filled.FromValue(number);
    EXPECT_EQ(0u, filled.GetSize());
}

TEST(VBlobForms, RawMemoryRoundTripsThroughTheDescriptor)
{
    VBlobWithPtr blob("abc", 3);
    ASSERT_EQ(7u, blob.GetSpace());
    uint8_t raw[7];
    EXPECT_EQ(raw + 7, blob.WriteToPtr(raw));
    uint32_t size;
    std::memcpy(&size, raw, 4);
    EXPECT_EQ(3u, size);

    const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_BLOB);
    ASSERT_EQ(&VBlob::sInfo, info);
    EXPECT_EQ(7u, info->GetSizeOfValueDataPtr(raw));
    std::unique_ptr<VValue> loaded(info->LoadFromPtr(raw, false));
    ASSERT_NE(nullptr, dynamic_cast<VBlobWithPtr*>(loaded.get()));
    EXPECT_TRUE(blob.EqualToSameKind(loaded.get()));
    EXPECT_EQ(VK_BLOB, loaded->GetValueKind());

    // An empty form loads an empty blob, not what the blob held before.
    uint8_t emptyForm[4] = {0, 0, 0, 0};
    EXPECT_EQ(emptyForm + 4, blob.LoadFromPtr(emptyForm));
    EXPECT_EQ(0u, blob.GetSize());

    // The descriptor swaps only the size field.
    EXPECT_EQ(raw + 4, info->ByteSwapPtr(raw, true));
    EXPECT_EQ((Bytes{0, 0, 0, 3, 'a', 'b', 'c'}), Bytes(raw, raw + 7));

    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_BLOB));
    ASSERT_NE(nullptr, dynamic_cast<VBlobWithPtr*>(generated.get()));
    EXPECT_FALSE(generated->IsNull());
}

TEST(VBlobForms, StreamFormRoundTripsInBothByteOrders)
{
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VBlobWithPtr blob("abc", 3);
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(VE_OK, stream.OpenWriting());
        ASSERT_EQ(VE_OK, blob.WriteToStream(&stream));
        VConstBlobWithPtr readOnly("de", 2);
        ASSERT_EQ(VE_OK, readOnly.WriteToStream(&stream));
        ASSERT_EQ(VE_OK, stream.CloseWriting());
        Bytes size3 = swap ? Bytes{0, 0, 0, 3} : Bytes{3, 0, 0, 0};
        Bytes size2 = swap ? Bytes{0, 0, 0, 2} : Bytes{2, 0, 0, 0};
        Bytes expected = size3;
        expected.insert(expected.end(), {'a', 'b', 'c'});
        expected.insert(expected.end(), size2.begin(), size2.end());
        expected.insert(expected.end(), {'d', 'e'});
        EXPECT_EQ(expected, StreamContent(stream));

        ASSERT_EQ(VE_OK, stream.OpenReading());
        VBlobWithPtr first("old bytes", 9), second;
        EXPECT_EQ(VE_OK, first.ReadFromStream(&stream));
        EXPECT_EQ(VE_OK, second.ReadFromStream(&stream));
        stream.CloseReading();
        EXPECT_TRUE(blob.EqualToSameKind(&first));
        EXPECT_EQ(Of("de"), ContentOf(second));
    }
}

TEST(VBlobForms, DamagedStreamsFailWithoutReadingGarbage)
{
    struct Case {
        const char* name;
        Bytes bytes;
        VError expected;
        Bytes content;
    };
    const Case cases[] = {
        {"negative size", {0xFF, 0xFF, 0xFF, 0xFF, 'a'}, VE_MEMORY_FULL, Of("keep")},
        {"fewer bytes than the size", {5, 0, 0, 0, 'a', 'b'}, VE_STREAM_EOF, {'a', 'b', 0, 0, 0}},
        {"no size at all", {1, 0}, VE_STREAM_EOF, Of("keep")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VConstPtrStream stream(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(VE_OK, stream.OpenReading());
        VBlobWithPtr blob("keep", 4);
        EXPECT_EQ(c.expected, blob.ReadFromStream(&stream));
        EXPECT_EQ(c.content, ContentOf(blob));
    }
}

TEST(VConstBlob, EveryChangeIsRefusedAndTheBytesStay)
{
    char outside[] = "outside";
    VConstBlobWithPtr blob(outside, 7);
    const std::vector<std::pair<const char*, std::function<VError()>>> changes = {
        {"SetSize", [&] { return blob.SetSize(2); }},
        {"PutData", [&] { return blob.PutData("zz", 2, 0); }},
        {"PutData past the end", [&] { return blob.PutData("zz", 2, 20); }},
        {"FromData", [&] { return blob.FromData("zz", 2); }},
        {"ReadFromStream", [&] {
             uint8_t form[] = {1, 0, 0, 0, 'z'};
             VConstPtrStream stream(form, sizeof(form));
             stream.OpenReading();
             return blob.ReadFromStream(&stream);
         }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_WRITING, change());
        EXPECT_EQ(7u, blob.GetSize());
    }
    blob.Clear();
    blob.FromValue(VBlobWithPtr("zz", 2));
    uint8_t form[] = {1, 0, 0, 0, 'z'};
    EXPECT_EQ(nullptr, blob.LoadFromPtr(form));
    EXPECT_STREQ("outside", outside);
    EXPECT_EQ(Of("outside"), ContentOf(blob));

    // Copies share the outside bytes.
    std::unique_ptr<VValue> clone(blob.Clone());
    auto* cloned = dynamic_cast<VConstBlobWithPtr*>(clone.get());
    ASSERT_NE(nullptr, cloned);
    outside[0] = 'O';
    EXPECT_EQ(Of("Outside"), ContentOf(*cloned));
    VConstBlobWithPtr other("xy", 2);
    EXPECT_TRUE(other.FromValueSameKind(&blob));
    EXPECT_EQ(Of("Outside"), ContentOf(other));
    EXPECT_EQ(VK_BLOB, blob.GetValueKind());
}

}  // namespace
}  // namespace bkit
