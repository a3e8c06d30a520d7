// VArrayTest.cpp - array values: block operations, elements, searches, statistics, owned elements.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/VArrayBlob.h"
#include "basekit/values/VArrayBoolean.h"
#include "basekit/values/VArrayImage.h"
#include "basekit/values/VArrayNumeric.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VBlob.h"

namespace bkit {
namespace {

VArrayLong Longs(std::initializer_list<int32_t> values)
{
    VArrayLong array;
    for (int32_t v : values)
        array.AppendLong(v);
    return array;
}

std::vector<int32_t> Elements(const VArrayLong& array)
{
    std::vector<int32_t> out;
    for (int32_t i = 1; i <= array.GetCount(); ++i)
        out.push_back(array.GetLong(i));
    return out;
}

std::vector<int> Bits(const VArrayBoolean& array)
{
    std::vector<int> out;
    for (int32_t i = 1; i <= array.GetCount(); ++i)
        out.push_back(array.GetBoolean(i));
    return out;
}

// Texts of a string array; "<null>" for a null element.
std::vector<std::string> Texts(const VArrayString& array)
{
    std::vector<std::string> out;
    for (int32_t i = 1; i <= array.GetCount(); ++i) {
        const VString* s = array.GetStringPtr(i);
        out.push_back(s ? to_string(*s) : "<null>");
    }
    return out;
}

// --- count, insertion, deletion ---

TEST(VArrayBlock, SetCountInsertAndDeleteAtTheEdges)
{
    VArrayLong array = Longs({10, 20, 30});
    EXPECT_FALSE(array.IsNull());
    EXPECT_TRUE(array.IsDirty());

    EXPECT_TRUE(array.Insert(4, 1));
    EXPECT_EQ((std::vector<int32_t>{10, 20, 30, 0}), Elements(array));
    EXPECT_TRUE(array.Insert(1, 2));
    EXPECT_EQ((std::vector<int32_t>{0, 0, 10, 20, 30, 0}), Elements(array));
    EXPECT_FALSE(array.Insert(8, 1));
    EXPECT_FALSE(array.Insert(0, 1));

    array.Delete(1, 2);
    array.Delete(4, 1);
    EXPECT_EQ((std::vector<int32_t>{10, 20, 30}), Elements(array));
    array.Delete(2, 1);
    EXPECT_EQ((std::vector<int32_t>{10, 30}), Elements(array));
    array.Delete(2, 100);  // clipped to the end
    EXPECT_EQ((std::vector<int32_t>{10}), Elements(array));
    array.Delete(0, 1);
    array.Delete(2, 1);
    EXPECT_EQ((std::vector<int32_t>{10}), Elements(array));

    // Shrinking and growing again gives zeros, not the old elements.
    array.SetCount(3);
    array.FromLong(7, 2);
    array.FromLong(8, 3);
    EXPECT_TRUE(array.SetCount(1));
    EXPECT_TRUE(array.SetCount(3));
    EXPECT_EQ((std::vector<int32_t>{10, 0, 0}), Elements(array));
    EXPECT_TRUE(array.SetCount(-5));
    EXPECT_EQ(0, array.GetCount());

    VArrayLong sized(4);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0}), Elements(sized));
    EXPECT_EQ(0, VArrayLong(-3).GetCount());
}

TEST(VArrayBlock, OutOfRangePositionsReadZeroAndWriteNothing)
{
    VArrayLong array = Longs({4, 5});
    array.FromLong(9, 0);
    array.FromLong(9, 3);
    EXPECT_EQ((std::vector<int32_t>{4, 5}), Elements(array));
    EXPECT_EQ(0, array.GetLong(0));
    EXPECT_EQ(0, array.GetLong(3));

    VLong target(77);
    array.GetValue(target, 3);
    EXPECT_EQ(0, target.GetLong());
    std::unique_ptr<VValueSingle> clone(array.CloneValue(2));
    EXPECT_EQ(5, clone->GetLong());
    EXPECT_EQ(VK_LONG, clone->GetValueKind());

    array.FromValue(VLong(-6), 1);
    EXPECT_EQ(-6, array.GetLong(1));
    EXPECT_EQ(CR_SMALLER, array.CompareTo(VLong(0), false, 1));
    EXPECT_EQ(CR_EQUAL, array.CompareTo(VLong(5), false, 2));
}

TEST(VArrayBlock, BooleanBitsShiftWithInsertAndDelete)
{
    VArrayBoolean bits;
    for (int v : {1, 0, 1, 1, 0, 0, 1, 1, 1})
        bits.AppendBoolean(static_cast<uint8_t>(v));
    EXPECT_TRUE(bits.Insert(2, 2));
    EXPECT_EQ((std::vector<int>{1, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1}), Bits(bits));
    bits.Delete(1, 4);
    EXPECT_EQ((std::vector<int>{1, 1, 0, 0, 1, 1, 1}), Bits(bits));
    bits.SetCount(2);
    bits.SetCount(7);
    EXPECT_EQ((std::vector<int>{1, 1, 0, 0, 0, 0, 0}), Bits(bits));
    EXPECT_EQ(0, bits.GetBoolean(8));
}

TEST(VArrayBlock, CopyTakesTheElementsOfTheSameKindOnly)
{
    VArrayLong source = Longs({1, 2, 3});
    VArrayLong copy(5);
    copy = source;
    EXPECT_EQ(Elements(source), Elements(copy));
    source.FromLong(9, 1);
    EXPECT_EQ(1, copy.GetLong(1));
    std::unique_ptr<VValue> clone(source.Clone());
    EXPECT_EQ((std::vector<int32_t>{9, 2, 3}), Elements(*static_cast<VArrayLong*>(clone.get())));

    VArrayString strings;
    strings.AppendString(VString("x"));
    EXPECT_FALSE(copy.Copy(strings));
    EXPECT_EQ(0, copy.GetCount());
    EXPECT_FALSE(strings.Copy(source));
    EXPECT_EQ(0, strings.GetCount());
}

TEST(VArrayBlock, EveryKindIsRegistered)
{
    for (ValueKind kind : {100, 101, 102, 103, 104, 105, 107, 108, 109, 110, 111}) {
        SCOPED_TRACE(kind);
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
        auto* array = dynamic_cast<VArrayValue*>(value.get());
        ASSERT_NE(nullptr, array);
        EXPECT_EQ(kind, array->GetValueKind());
        EXPECT_EQ(kind, array->GetValueInfo()->GetKind());
        EXPECT_EQ(0, array->GetCount());
    }
    EXPECT_EQ(nullptr, VValue::ValueInfoFromValueKind(106));
}

// --- searches ---

TEST(VArrayFind, LongSearchesWalkFromStartWithEachMethod)
{
    const VArrayLong array = Longs({1, 5, 9});
    struct Case {
        int32_t value, start;
        bool forward;
        CompareMethod method;
        int32_t expected;
    };
    const Case cases[] = {
        {5, 1, true, CM_EQUAL, 2},
        {6, 3, false, CM_GREATER_OR_EQUAL, 3},
        {6, 3, false, CM_SMALLER_OR_EQUAL, 2},
        {6, 1, true, CM_GREATER, 3},
        {5, 1, true, CM_GREATER, 3},
        {5, 3, false, CM_SMALLER, 1},
        {7, 4, true, CM_EQUAL, -1},
        {1, 2, true, CM_EQUAL, -1},
        {1, 3, false, CM_EQUAL, 1},
        // A start below the first element finds nothing rather than reading before the block.
        {1, 0, true, CM_EQUAL, -1},
        {1, -4, false, CM_EQUAL, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " from " << c.start << " method " << c.method);
        EXPECT_EQ(c.expected, array.Find(c.value, c.start, c.forward, c.method));
    }
    EXPECT_EQ(2, array.Find(VReal(5.0), 1, true, CM_EQUAL));
    EXPECT_EQ(3, array.QuickFind(9));
    EXPECT_EQ(1, array.QuickFind(1));
    EXPECT_EQ(-1, array.QuickFind(4));
    EXPECT_EQ(-1, VArrayLong().QuickFind(0));
    EXPECT_EQ(-1, VArrayLong().Find(0, 1, true, CM_EQUAL));
}

TEST(VArrayFind, BooleanFindsEqualElementsWhateverTheMethod)
{
    VArrayBoolean bits;
    for (int v : {0, 0, 1, 0})
        bits.AppendBoolean(static_cast<uint8_t>(v));
    EXPECT_EQ(3, bits.Find(uint8_t{1}, 1, true, CM_GREATER));
    EXPECT_EQ(2, bits.Find(uint8_t{0}, 2, false, CM_SMALLER));
    EXPECT_EQ(-1, bits.Find(uint8_t{1}, 4, true, CM_EQUAL));
    EXPECT_EQ(-1, bits.Find(uint8_t{0}, 0, true, CM_EQUAL));
}

TEST(VArrayFind, StringsSkipNullsAndIgnoreCase)
{
    VArrayString strings(4);
    strings.FromString(VString("apple"), 2);
    strings.FromString(VString("Pear"), 3);
    strings.FromString(VString("plum"), 4);
    EXPECT_EQ(3, strings.Find(VString("PEAR"), 1, true, CM_EQUAL));
    EXPECT_EQ(2, strings.Find(VString("b"), 4, false, CM_SMALLER));
    EXPECT_EQ(-1, strings.Find(VString("a"), 1, false, CM_SMALLER));  // only a null before
    EXPECT_EQ(-1, strings.Find(VString("apple"), 0, true, CM_EQUAL));
    EXPECT_EQ(4, strings.Find(VString("plum"), 1, true, CM_GREATER_OR_EQUAL));
    EXPECT_EQ(4, strings.QuickFind(VString("PLUM")));
    EXPECT_EQ(2, strings.QuickFind(VString("apple")));
    EXPECT_EQ(-1, strings.QuickFind(VString("fig")));
}

// --- statistics ---

TEST(VArrayStatistics, RealSumAverageAndDeviation)
{
    struct Case {
        std::vector<double> values;
        double sum, average, squareSum, stdDev;
    };
    const Case cases[] = {
        {{}, 0, 0, 0, 0},
        {{1, 3}, 4, 2, 2, 1},
        {{2, 4, 4, 4, 5, 5, 7, 9}, 40, 5, 32, 2},
    };
    for (const Case& c : cases) {
        VArrayReal reals;
        for (double v : c.values)
            reals.AppendReal(v);
        EXPECT_DOUBLE_EQ(c.sum, reals.GetSum());
        EXPECT_DOUBLE_EQ(c.average, reals.GetAverage());
        EXPECT_DOUBLE_EQ(c.squareSum, reals.GetSquareSum());
        EXPECT_DOUBLE_EQ(c.stdDev, reals.GetStdDev());
    }
}

TEST(VArrayStatistics, MinAndMaxAreSignedWithTypeLimitsWhenEmpty)
{
    EXPECT_EQ(-128, VArrayByte().GetMax());
    EXPECT_EQ(127, VArrayByte().GetMin());
    EXPECT_EQ(-32768, VArrayWord().GetMax());
    EXPECT_EQ(32767, VArrayWord().GetMin());
    EXPECT_EQ(INT32_MIN, VArrayLong().GetMax());
    EXPECT_EQ(INT32_MAX, VArrayLong().GetMin());

    VArrayByte bytes;
    for (int8_t v : {int8_t{-3}, int8_t{-128}, int8_t{100}})
        bytes.AppendByte(v);
    EXPECT_EQ(100, bytes.GetMax());
    EXPECT_EQ(-128, bytes.GetMin());
    VArrayLong longs = Longs({-7, -3});
    EXPECT_EQ(-3, longs.GetMax());
    EXPECT_EQ(-7, longs.GetMin());
}

// --- dates and durations ---

TEST(VArrayElements, TimesAndDurations)
{
    VArrayTime times;
    VTime early(uint64_t{0x07D0010100000000});  // 2000-01-01
    VTime late(uint64_t{0x07E4060F00000010});
    times.AppendTime(late);
    times.AppendTime(early);
    VTime out(uint64_t{0x07D0020200000000});
    times.GetTime(out, 3);
    EXPECT_EQ(uint64_t{0x07D0020200000000}, out.GetStamp());  // untouched outside
    times.GetTime(out, 2);
    EXPECT_EQ(early.GetStamp(), out.GetStamp());
    EXPECT_EQ(1, times.Find(early, 1, true, CM_GREATER));
    EXPECT_EQ(2, times.Find(early, 2, false, CM_EQUAL));
    times.Sort(1, 2, false);
    times.GetTime(out, 1);
    EXPECT_EQ(early.GetStamp(), out.GetStamp());

    VArrayDuration durations;
    durations.AppendDuration(VDuration(1500));
    durations.AppendDuration(VDuration(-20));
    VDuration d(99);
    durations.GetDuration(d, 2);
    EXPECT_EQ(-20, d.ConvertToMilliseconds());
    durations.GetDuration(d, 0);
    EXPECT_EQ(0, d.ConvertToMilliseconds());
    EXPECT_EQ(CR_BIGGER, durations.CompareTo(VDuration(1000), false, 1));
    durations.Sort(1, 2, false);
    EXPECT_EQ(1, durations.QuickFind(VDuration(-20)));
    EXPECT_EQ(2, durations.Find(VDuration(0), 1, true, CM_GREATER));
}

// --- owned elements ---

TEST(VArrayOwned, StringArraysOwnAndCloneTheirStrings)
{
    VArrayString strings;
    strings.AppendString(VString("a"));
    strings.AppendString(VString("b"));
    strings.AppendString(VString("c"));
    strings.Insert(2, 1);
    EXPECT_EQ((std::vector<std::string>{"a", "<null>", "b", "c"}), Texts(strings));

    VArrayString copy(strings);
    strings.FromString(VString("changed"), 1);
    strings.Delete(3, 1);
    EXPECT_EQ((std::vector<std::string>{"changed", "<null>", "c"}), Texts(strings));
    EXPECT_EQ((std::vector<std::string>{"a", "<null>", "b", "c"}), Texts(copy));

    VString text("stale");
    copy.GetString(text, 2);
    EXPECT_TRUE(text.IsEmpty());
    copy.GetString(text, 9);
    EXPECT_TRUE(text.IsEmpty());
    copy.GetString(text, 3);
    EXPECT_EQ("b", to_string(text));
    EXPECT_EQ(CR_SMALLER, copy.CompareTo(VString("a"), false, 2));
    EXPECT_EQ(CR_EQUAL, copy.CompareTo(VString("B"), false, 3));

    copy.FromValue(VLong(42), 2);
    EXPECT_EQ("42", to_string(*copy.GetStringPtr(2)));
    copy.SetCount(1);
    copy.SetCount(2);
    EXPECT_EQ(nullptr, copy.GetStringPtr(2));
}

TEST(VArrayOwned, BlobArraysTakeBlobsOnly)
{
    VArrayBlob blobs(2);
    blobs.FromValue(VBlobWithPtr("abc", 3), 1);
    blobs.FromValue(VString("not a blob"), 2);
    ASSERT_NE(nullptr, blobs.GetBlobPtr(1));
    EXPECT_EQ(3u, blobs.GetBlobPtr(1)->GetSize());
    EXPECT_EQ(nullptr, blobs.GetBlobPtr(2));
    EXPECT_EQ(-1, blobs.Find(VBlobWithPtr("abc", 3)));

    VArrayBlob copy;
    copy = blobs;
    blobs.FromValue(VBlobWithPtr("zz", 2), 1);
    EXPECT_EQ(3u, copy.GetBlobPtr(1)->GetSize());

    VBlobWithPtr target("old", 3);
    copy.GetValue(target, 1);
    EXPECT_EQ(3u, target.GetSize());
    copy.GetValue(target, 5);
    EXPECT_EQ(0u, target.GetSize());
    std::unique_ptr<VValueSingle> clone(copy.CloneValue(2));
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(VK_BLOB, clone->GetValueKind());
}

TEST(VArrayOwned, ImageArraysKeepCountAndListInStep)
{
    VArrayImage images(3);
    EXPECT_TRUE(images.SetCount(5));
    EXPECT_EQ(5, images.GetCount());
    images.FromValue(VLong(3), 5);
    images.FromValue(VLong(4), 6);
    ASSERT_NE(nullptr, images.GetImagePtr(5));
    EXPECT_EQ(nullptr, images.GetImagePtr(6));
    EXPECT_EQ(0, images.Find(VLong(3)));

    VLong flags(1);
    flags.SetDirty(false);
    images.GetValue(flags, 5);
    EXPECT_TRUE(flags.IsDirty());
    std::unique_ptr<VValueSingle> clone(images.CloneValue(5));
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(3, clone->GetLong());
    EXPECT_EQ(nullptr, images.CloneValue(1));

    VArrayImage copy(images);
    images.SetCount(2);
    EXPECT_EQ(5, copy.GetCount());
    EXPECT_EQ(3, copy.GetImagePtr(5)->GetLong());
    copy.DeleteAllElements();
    EXPECT_EQ(0, copy.GetCount());
}

}  // namespace
}  // namespace bkit
