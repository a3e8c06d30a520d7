// VScalarTest.cpp - the boolean, integer and double values.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

std::string Text(const VString& s)
{
    return to_string(s);
}

// --- reading a value as another type -------------------------------------

struct GetterCase {
    const char* name;
    std::function<VValueSingle*()> make;
    int8_t byte;
    int16_t word;
    int32_t lng;
    int64_t long8;
    double real;
    uint8_t boolean;
};

TEST(VScalarTest, GettersNarrowByKeepingLowBitsAndSaturateDoubles)
{
    const GetterCase cases[] = {
        {"long 300", [] { return new VLong(300); }, 44, 300, 300, 300, 300.0, 1},
        {"long -1", [] { return new VLong(-1); }, -1, -1, -1, -1, -1.0, 1},
        {"long8 wide", [] { return new VLong8(0x123456789LL); }, -119, 0x6789, 0x23456789, 0x123456789LL,
         4886718345.0, 1},
        {"word min", [] { return new VWord(-32768); }, 0, -32768, -32768, -32768, -32768.0, 1},
        {"byte -2", [] { return new VByte(-2); }, -2, -2, -2, -2, -2.0, 1},
        {"boolean true", [] { return new VBoolean(true); }, 1, 1, 1, 1, 1.0, 1},
        {"boolean false", [] { return new VBoolean(false); }, 0, 0, 0, 0, 0.0, 0},
        {"real -1.9", [] { return new VReal(-1.9); }, -1, -1, -1, -1, -1.9, 1},
        // 3e10 saturates at INT32_MAX on 32 bits, whose low bits are all ones.
        {"real 3e10", [] { return new VReal(3e10); }, -1, -1, kInt32Max, 30000000000LL, 3e10, 1},
        {"real -1e300", [] { return new VReal(-1e300); }, 0, 0, kInt32Min, kInt64Min, -1e300, 1},
        {"real 1e300", [] { return new VReal(1e300); }, -1, -1, kInt32Max, kInt64Max, 1e300, 1},
        {"real NaN", [] { return new VReal(kNaN); }, 0, 0, 0, 0, kNaN, 1},
        {"real -0.0", [] { return new VReal(-0.0); }, 0, 0, 0, 0, -0.0, 0},
    };
    for (const GetterCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VValueSingle> v(c.make());
        EXPECT_EQ(v->GetByte(), c.byte);
        EXPECT_EQ(v->GetWord(), c.word);
        EXPECT_EQ(v->GetLong(), c.lng);
        EXPECT_EQ(v->GetLong8(), c.long8);
        if (std::isnan(c.real))
            EXPECT_TRUE(std::isnan(v->GetReal()));
        else
            EXPECT_EQ(v->GetReal(), c.real);
        EXPECT_EQ(v->GetBoolean(), c.boolean);
    }
}

// --- making a value from another type ------------------------------------

struct SetterCase {
    const char* name;
    std::function<VValueSingle*()> make;
    std::function<void(VValueSingle&)> set;
    int64_t expected;  // read back with GetLong8
};

TEST(VScalarTest, SettersNarrowTruncateAndSaturate)
{
    const SetterCase cases[] = {
        {"byte from long 300", [] { return new VByte; }, [](VValueSingle& v) { v.FromLong(300); }, 44},
        {"byte from long8 0x1FF", [] { return new VByte; }, [](VValueSingle& v) { v.FromLong8(0x1FF); }, -1},
        {"word from real -1.9", [] { return new VWord; }, [](VValueSingle& v) { v.FromReal(-1.9); }, -1},
        {"word from real 70000", [] { return new VWord; }, [](VValueSingle& v) { v.FromReal(70000.0); }, 4464},
        {"long from real 1e20", [] { return new VLong; }, [](VValueSingle& v) { v.FromReal(1e20); }, kInt32Max},
        {"long from real -inf", [] { return new VLong; }, [](VValueSingle& v) { v.FromReal(-kInf); }, kInt32Min},
        {"long from long8", [] { return new VLong; }, [](VValueSingle& v) { v.FromLong8(0x100000005LL); }, 5},
        {"long8 from real -1e20", [] { return new VLong8; }, [](VValueSingle& v) { v.FromReal(-1e20); }, kInt64Min},
        {"long8 from real NaN", [] { return new VLong8(7); }, [](VValueSingle& v) { v.FromReal(kNaN); }, 0},
        {"long8 from real 2^62", [] { return new VLong8; }, [](VValueSingle& v) { v.FromReal(4611686018427387904.0); },
         4611686018427387904LL},
        {"long8 from boolean", [] { return new VLong8; }, [](VValueSingle& v) { v.FromBoolean(1); }, 1},
        {"boolean from byte 5", [] { return new VBoolean; }, [](VValueSingle& v) { v.FromByte(5); }, 1},
        {"boolean from long8 2^40", [] { return new VBoolean; }, [](VValueSingle& v) { v.FromLong8(1LL << 40); }, 1},
        {"boolean from real NaN", [] { return new VBoolean; }, [](VValueSingle& v) { v.FromReal(kNaN); }, 1},
        {"boolean from real -0.0", [] { return new VBoolean(true); }, [](VValueSingle& v) { v.FromReal(-0.0); }, 0},
        {"real from long8", [] { return new VReal; }, [](VValueSingle& v) { v.FromLong8(-42); }, -42},
        // Values read through a getter of the source, then narrowed.
        {"byte from long value", [] { return new VByte; }, [](VValueSingle& v) { v.FromValue(VLong(300)); }, 44},
        {"word from string 70000", [] { return new VWord; }, [](VValueSingle& v) { v.FromString(VString("70000")); },
         4464},
        {"long from duration", [] { return new VLong; }, [](VValueSingle& v) { v.FromDuration(VDuration(-2500)); }, -2},
        {"real from duration", [] { return new VReal; }, [](VValueSingle& v) { v.FromDuration(VDuration(4000)); }, 4},
        {"boolean from string TRUE", [] { return new VBoolean; }, [](VValueSingle& v) { v.FromString(VString("TRUE")); },
         1},
    };
    for (const SetterCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VValueSingle> v(c.make());
        v->SetNull(true);
        v->SetDirty(false);
        c.set(*v);
        EXPECT_EQ(v->GetLong8(), c.expected);
        EXPECT_FALSE(v->IsNull());
        EXPECT_TRUE(v->IsDirty());
    }
}

TEST(VScalarTest, NullFlagFollowsTheSourceValue)
{
    VString nullText(true);
    VLong source(12);
    source.SetNull(true);

    VReal real(1.5);
    real.FromValue(source);
    EXPECT_TRUE(real.IsNull());
    EXPECT_EQ(real.GetReal(), 12.0);

    // A getter filling another value calls its number setter, which clears null.
    VReal filled(0.0);
    filled.SetNull(true);
    source.GetValue(filled);
    EXPECT_FALSE(filled.IsNull());
    EXPECT_EQ(filled.GetReal(), 12.0);

    // Long8 and real keep their number when the string is null; the others read it.
    VLong8 long8(99);
    long8.FromString(nullText);
    EXPECT_TRUE(long8.IsNull());
    EXPECT_EQ(long8.GetLong8(), 99);
    VReal realFromNull(2.5);
    realFromNull.FromString(nullText);
    EXPECT_TRUE(realFromNull.IsNull());
    EXPECT_EQ(realFromNull.GetReal(), 2.5);
    VLong longFromNull(99);
    longFromNull.FromString(nullText);
    EXPECT_TRUE(longFromNull.IsNull());
    EXPECT_EQ(longFromNull.GetLong(), 0);

    VLong copy(5);
    EXPECT_TRUE(copy.FromValueSameKind(&source));
    EXPECT_TRUE(copy.IsNull());
    EXPECT_EQ(copy.GetLong(), 12);

    std::unique_ptr<VValue> clone(source.Clone());
    EXPECT_TRUE(clone->IsNull());
    EXPECT_TRUE(clone->IsDirty());
    EXPECT_EQ(static_cast<VLong*>(clone.get())->GetLong(), 12);

    VWord cleared(7);
    cleared.SetNull(true);
    cleared.Clear();
    EXPECT_FALSE(cleared.IsNull());
    EXPECT_EQ(cleared.GetWord(), 0);
}

TEST(VScalarTest, GettersHandTheirOwnTypeToTheDestination)
{
    // A duration takes numbers as seconds, a string prints them.
    VDuration d;
    VByte(-3).GetDuration(d);
    EXPECT_EQ(d.ConvertToMilliseconds(), -3000);
    VReal(1.25).GetDuration(d);
    EXPECT_EQ(d.ConvertToMilliseconds(), 1250);
    VBoolean(true).GetDuration(d);
    EXPECT_EQ(d.ConvertToMilliseconds(), 1000);

    VString s;
    VBoolean(true).GetString(s);
    EXPECT_EQ(Text(s), "true");
    VLong8(-9000000000LL).GetString(s);
    EXPECT_EQ(Text(s), "-9000000000");
    VWord(-12).GetString(s);
    EXPECT_EQ(Text(s), "-12");
}

// --- JSON values ---------------------------------------------------------

TEST(VScalarTest, IntegersFromJSONKeepOnlyNumbersThatFitAfterFlooring)
{
    struct Case {
        const char* name;
        std::function<VValueSingle*()> make;
        VJSONValue json;
        int64_t expected;
        bool null;
    };
    const Case cases[] = {
        {"long 2.5", [] { return new VLong(9); }, VJSONValue(2.5), 2, false},
        {"long -2.5 floors", [] { return new VLong(9); }, VJSONValue(-2.5), -3, false},
        {"long 3e10 does not fit", [] { return new VLong(9); }, VJSONValue(3e10), 0, false},
        {"long null", [] { return new VLong(9); }, VJSONValue(JSON_null), 0, true},
        {"long NaN", [] { return new VLong(9); }, VJSONValue(kNaN), 0, false},
        {"long8 3e10", [] { return new VLong8(9); }, VJSONValue(3e10), 30000000000LL, false},
        {"long8 2^63 does not fit", [] { return new VLong8(9); }, VJSONValue(9223372036854775808.0), 0, false},
        {"long8 -2^63 fits", [] { return new VLong8(9); }, VJSONValue(-9223372036854775808.0), kInt64Min, false},
        {"byte 128 does not fit", [] { return new VByte(9); }, VJSONValue(128.0), 0, false},
        {"byte -128 fits", [] { return new VByte(9); }, VJSONValue(-128.0), -128, false},
        {"word string number", [] { return new VWord(9); }, VJSONValue(VString("12")), 12, false},
        {"boolean true", [] { return new VBoolean(false); }, VJSONValue(JSON_true), 1, false},
        {"boolean null", [] { return new VBoolean(true); }, VJSONValue(JSON_null), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VValueSingle> v(c.make());
        EXPECT_EQ(v->FromJSONValue(c.json), VE_OK);
        EXPECT_EQ(v->GetLong8(), c.expected);
        EXPECT_EQ(v->IsNull(), c.null);
    }
}

TEST(VScalarTest, JSONValuesOfScalars)
{
    VReal real(4.5);
    EXPECT_EQ(real.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(real.IsNull());
    EXPECT_EQ(real.GetReal(), 4.5);  // the number is kept

    VJSONValue json;
    EXPECT_EQ(real.GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsNull());

    real.FromJSONValue(VJSONValue(-0.25));
    EXPECT_FALSE(real.IsNull());
    real.GetJSONValue(json);
    ASSERT_TRUE(json.IsNumber());
    EXPECT_EQ(json.GetNumber(), -0.25);

    VBoolean(true).GetJSONValue(json);
    EXPECT_TRUE(json.IsTrue());
    VLong8(-7).GetJSONValue(json);
    ASSERT_TRUE(json.IsNumber());
    EXPECT_EQ(json.GetNumber(), -7.0);
}

// --- comparisons ---------------------------------------------------------

TEST(VScalarTest, IntegerAndBooleanComparisonsAreSigned)
{
    VLong minusOne(-1), one(1);
    EXPECT_EQ(minusOne.CompareToSameKind(&one), CR_SMALLER);
    EXPECT_EQ(one.CompareToSameKind(&minusOne), CR_BIGGER);
    EXPECT_TRUE(one.EqualToSameKind(&one));

    int32_t raw = -5;
    EXPECT_EQ(minusOne.CompareToSameKindPtr(&raw), CR_BIGGER);
    EXPECT_EQ(minusOne.Swap_CompareToSameKindPtr(&raw), CR_SMALLER);

    VLong8 big(1LL << 40), small(-(1LL << 40));
    EXPECT_EQ(big.CompareToSameKindWithOptions(&small, VCompareOptions()), CR_BIGGER);

    VBoolean no(false), yes(true);
    EXPECT_EQ(no.CompareToSameKind(&yes), CR_SMALLER);
    EXPECT_EQ(yes.CompareTo(VString("true")), CR_EQUAL);

    // Across kinds the other value is read through GetLong (GetLong8 for long8).
    EXPECT_EQ(VLong(2).CompareTo(VReal(2.9)), CR_EQUAL);
    EXPECT_EQ(VByte(-1).CompareTo(VLong(300)), CR_SMALLER);
    EXPECT_EQ(VLong8(1LL << 40).CompareTo(VLong8(1LL << 41)), CR_SMALLER);
}

TEST(VScalarTest, RealComparisonsUseEpsilonAndPutNaNBelow)
{
    struct Case {
        double a, b;
        CompareResult plain;        // CompareToSameKind, epsilon 1e-6
        CompareResult withOptions;  // epsilon 0.001
    };
    const Case cases[] = {
        {1.0, 1.0000005, CR_EQUAL, CR_EQUAL},
        {1.0, 1.00001, CR_SMALLER, CR_EQUAL},
        {1.01, 1.0, CR_BIGGER, CR_BIGGER},
        {kInf, kInf, CR_EQUAL, CR_EQUAL},
        {-kInf, kInf, CR_SMALLER, CR_SMALLER},
        {kNaN, 1.0, CR_SMALLER, CR_SMALLER},
        {1.0, kNaN, CR_SMALLER, CR_SMALLER},
    };
    VCompareOptions options;
    options.SetEpsilon(0.001);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
        VReal a(c.a), b(c.b);
        EXPECT_EQ(a.CompareToSameKind(&b), c.plain);
        EXPECT_EQ(a.CompareToSameKindPtr(&c.b), c.plain);
        EXPECT_EQ(a.EqualToSameKind(&b), c.plain == CR_EQUAL);
        EXPECT_EQ(a.CompareTo(b), c.plain);
        EXPECT_EQ(a.CompareToSameKindWithOptions(&b, options), c.withOptions);
        EXPECT_EQ(a.EqualToSameKindPtrWithOptions(&c.b, options), c.withOptions == CR_EQUAL);
    }
}

TEST(VScalarTest, DescriptorsCompareRawData)
{
    uint8_t f = 0, t = 1;
    EXPECT_EQ(VBoolean::sInfo.CompareTwoPtrToData(&f, &t, false), CR_SMALLER);
    int16_t minus = -1, plus = 1;
    EXPECT_EQ(VWord::sInfo.CompareTwoPtrToData(&minus, &plus, false), CR_SMALLER);
    EXPECT_EQ(VWord::sInfo.CompareTwoPtrToDataBegining(&plus, &minus, false), CR_BIGGER);

    const VValueInfo* realInfo = VValue::ValueInfoFromValueKind(VK_REAL);
    ASSERT_EQ(realInfo, &VReal::sInfo);
    double one = 1.0, close = 1.0000005, nan = kNaN, nan2 = kNaN, minusInf = -kInf;
    EXPECT_EQ(realInfo->CompareTwoPtrToData(&one, &close, false), CR_EQUAL);
    EXPECT_EQ(realInfo->CompareTwoPtrToData(&one, &close, true), CR_SMALLER);

    VCompareOptions options;
    EXPECT_EQ(realInfo->CompareTwoPtrToDataWithOptions(&nan, &minusInf, options), CR_SMALLER);
    EXPECT_EQ(realInfo->CompareTwoPtrToDataWithOptions(&minusInf, &nan, options), CR_BIGGER);
    EXPECT_EQ(realInfo->CompareTwoPtrToDataWithOptions(&nan, &nan2, options), CR_EQUAL);
    EXPECT_EQ(realInfo->CompareTwoPtrToDataWithOptions(&one, &close, options), CR_EQUAL);
    options.SetDiacritical(true);
    EXPECT_EQ(realInfo->CompareTwoPtrToDataWithOptions(&one, &close, options), CR_SMALLER);
}

// --- raw memory ----------------------------------------------------------

TEST(VScalarTest, RawFormRoundTripsAtAnyAlignmentAndDescriptorsSwapIt)
{
    struct Case {
        const char* name;
        std::function<VValueSingle*()> make;
        ValueKind kind;
        VSize size;
    };
    const Case cases[] = {
        {"boolean", [] { return new VBoolean(true); }, VK_BOOLEAN, 1},
        {"byte", [] { return new VByte(-2); }, VK_BYTE, 1},
        {"word", [] { return new VWord(-300); }, VK_WORD, 2},
        {"long", [] { return new VLong(-70000); }, VK_LONG, 4},
        {"long8", [] { return new VLong8(-(1LL << 40) - 3); }, VK_LONG8, 8},
        {"real", [] { return new VReal(-2.75); }, VK_REAL, 8},
        {"duration", [] { return new VDuration(-90061001); }, VK_DURATION, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VValueSingle> v(c.make());
        v->SetNull(true);  // not part of the raw form
        EXPECT_EQ(v->GetSpace(), c.size);

        unsigned char buffer[32] = {};
        unsigned char* at = buffer + 3;  // deliberately unaligned
        EXPECT_EQ(v->WriteToPtr(at, true), at + c.size);

        const VValueInfo* info = VValue::ValueInfoFromValueKind(c.kind);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(v->GetValueInfo(), info);
        EXPECT_EQ(info->GetSizeOfValueDataPtr(at), c.size);
        EXPECT_EQ(v->EqualToSameKindPtr(at), true);

        std::unique_ptr<VValue> loaded(info->LoadFromPtr(at, true));
        ASSERT_NE(loaded, nullptr);
        EXPECT_FALSE(loaded->IsNull());
        EXPECT_TRUE(loaded->EqualToSameKind(v.get()));

        std::unique_ptr<VValueSingle> reloaded(c.make());
        reloaded->Clear();
        reloaded->SetNull(true);
        EXPECT_EQ(reloaded->LoadFromPtr(at, true), at + c.size);
        EXPECT_FALSE(reloaded->IsNull());
        EXPECT_EQ(reloaded->GetLong8(), v->GetLong8());

        // The descriptor reverses the bytes in place whatever the flag.
        unsigned char before[8];
        std::memcpy(before, at, c.size);
        EXPECT_EQ(info->ByteSwapPtr(at, false), at + c.size);
        for (VSize i = 0; i < c.size; ++i)
            EXPECT_EQ(at[i], before[c.size - 1 - i]);

        std::unique_ptr<VValue> generated(info->Generate());
        EXPECT_FALSE(generated->IsNull());
        EXPECT_EQ(static_cast<VValueSingle*>(generated.get())->GetLong8(), 0);
    }
}

// --- byte streams --------------------------------------------------------

struct StreamCase {
    const char* name;
    std::function<VValueSingle*()> make;
    std::vector<unsigned char> littleEndian;  // the bytes without swapping
};

const std::vector<StreamCase>& StreamCases()
{
    static const std::vector<StreamCase> cases = {
        {"boolean", [] { return new VBoolean(true); }, {0x01, 0x00}},
        {"byte", [] { return new VByte(-2); }, {0xFE, 0xFF}},
        {"word", [] { return new VWord(0x1234); }, {0x34, 0x12}},
        {"long", [] { return new VLong(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"long8", [] { return new VLong8(0x0102030405060708LL); }, {8, 7, 6, 5, 4, 3, 2, 1}},
        {"real", [] { return new VReal(1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"duration", [] { return new VDuration(0x0102030405060708LL); }, {8, 7, 6, 5, 4, 3, 2, 1}},
    };
    return cases;
}

TEST(VScalarTest, EveryKindRoundTripsThroughSwappedAndUnswappedStreams)
{
    for (bool swap : {false, true}) {
        for (const StreamCase& c : StreamCases()) {
            SCOPED_TRACE(testing::Message() << c.name << (swap ? " swapped" : " unswapped"));
            std::unique_ptr<VValueSingle> v(c.make());
            EXPECT_EQ(v->GetStreamSpace(), c.littleEndian.size());

            VPtrStream stream;
            stream.SetNeedSwap(swap);
            ASSERT_EQ(stream.OpenWriting(), VE_OK);
            EXPECT_EQ(v->WriteToStream(&stream), VE_OK);
            stream.CloseWriting();

            std::vector<unsigned char> expected = c.littleEndian;
            if (swap)
                std::reverse(expected.begin(), expected.end());
            VStreamUnderlyingData data = stream.GetUnderlyingData();
            ASSERT_EQ(data.fSize, expected.size());
            const auto* bytes = static_cast<const unsigned char*>(data.fData);
            EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + data.fSize), expected);

            // Read back into a null value of the kind: the number comes back,
            // the null flag stays.
            std::unique_ptr<VValueSingle> back(c.make());
            back->Clear();
            back->SetNull(true);
            ASSERT_EQ(stream.OpenReading(), VE_OK);
            EXPECT_EQ(back->ReadFromStream(&stream), VE_OK);
            stream.CloseReading();
            EXPECT_TRUE(back->IsNull());
            EXPECT_EQ(back->GetLong8(), v->GetLong8());
            EXPECT_EQ(back->GetReal(), v->GetReal());
        }
    }
}

TEST(VScalarTest, ShortStreamLeavesTheValueAndReportsEndOfData)
{
    for (const StreamCase& c : StreamCases()) {
        SCOPED_TRACE(c.name);
        const unsigned char one = 0x7F;
        VConstPtrStream stream(&one, 1);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        std::unique_ptr<VValueSingle> v(c.make());
        int64_t before = v->GetLong8();
        EXPECT_EQ(v->ReadFromStream(&stream), VE_STREAM_EOF);
        EXPECT_EQ(v->GetLong8(), before);
        stream.CloseReading();
    }
}

// --- text forms ----------------------------------------------------------

TEST(VScalarTest, RealTexts)
{
    struct Case {
        double value;
        const char* xml;
        const char* json;
    };
    const Case cases[] = {
        {3.0, "3", "3"},
        {-0.0, "0", "0"},
        {0.5, "0.5", "0.5"},
        {1e20, "1E+20", "1E+20"},
        {9007199254740991.0, "9007199254740991", "9007199254740991"},
        {9007199254740992.0, "9.007199254741E+15", "9.007199254741E+15"},
        {-1.0 / 3.0, "-0.33333333333333", "-0.33333333333333"},
        {kNaN, "NaN", "null"},
        {kInf, "INF", "null"},
        {-kInf, "-INF", "null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        VString xml, json;
        VReal::RealToXMLString(c.value, xml);
        VReal::RealToJSONString(c.value, json);
        EXPECT_EQ(Text(xml), c.xml);
        EXPECT_EQ(Text(json), c.json);
        VReal v(c.value);
        VString fromValue;
        v.GetXMLString(fromValue);
        EXPECT_EQ(Text(fromValue), c.xml);
        EXPECT_EQ(v.GetJSONString(fromValue), VE_OK);
        EXPECT_EQ(Text(fromValue), c.json);
    }
}

// The JSON text of a non-integral real is exactly C's "%.14G": checked over
// every magnitude, over decimal-looking values such as coordinates, and over
// exact ties, where a 15th digit of 5 with nothing after it rounds to even.
TEST(VScalarTest, RealTextMatchesPrintfG14)
{
    std::mt19937_64 random(20261211);
    std::vector<double> values = {1e-4,
                                  std::nextafter(1e-4, 0.0),
                                  9.99999999999995e14,
                                  std::nextafter(1e15, 0.0),
                                  99999999999999.5,
                                  0.1,
                                  0.3,
                                  2.0 / 3.0,
                                  1e-300,
                                  5e-324,
                                  1.7976931348623157e308,
                                  12345678901234.5,
                                  12345678901235.5};
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = random();
        double any = 0;
        std::memcpy(&any, &bits, sizeof(any));
        if (std::isfinite(any))
            values.push_back(any);
        values.push_back(std::pow(10.0, std::uniform_real_distribution<double>(-6.0, 17.0)(random)));
        values.push_back(static_cast<double>(static_cast<int64_t>(random() % 360000000000000ULL) - 180000000000000LL) /
                         1e12);
        const int shift = 1 + static_cast<int>(random() % 60);
        values.push_back(std::ldexp(static_cast<double>(random() | 1), -shift - 11));
        values.push_back(static_cast<double>((random() % 32768) | 1) / 32768.0);
    }
    int checked = 0;
    for (double value : values) {
        if (value == std::trunc(value) && std::fabs(value) <= 9007199254740991.0)
            continue;
        char expected[64];
        std::snprintf(expected, sizeof(expected), "%.14G", value);
        char text[VReal::kRealTextRoom];
        const size_t length = VReal::RealToJSONChars(value, text);
        ASSERT_EQ(std::string(text, length), expected) << "bits of the value: " << std::hexfloat << value;
        ++checked;
    }
    EXPECT_GT(checked, 90000);
}

TEST(VScalarTest, RealTextIgnoresTheProcessLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr && std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    VString text;
    VReal::RealToXMLString(0.5, text);
    VReal read;
    bool accepted = read.FromXMLString(VString("2.25"));
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(Text(text), "0.5");
    EXPECT_TRUE(accepted);
    EXPECT_EQ(read.GetReal(), 2.25);
}

TEST(VScalarTest, RealFromTextAcceptsOnlyAWholeNumber)
{
    struct Case {
        const char* text;
        bool accepted;
        double value;  // after reading into a real of 7.0
    };
    const Case cases[] = {
        {"1,5", true, 1.5},    {"1.5x", false, 7.0}, {"", true, 0.0},         {"-2e3", true, -2000.0},
        {"INF", true, kInf},   {"abc", false, 7.0},  {"1.5\xC3\xA9", false, 7.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VReal v(7.0);
        v.SetNull(true);
        EXPECT_EQ(v.FromXMLString(VString(c.text)), c.accepted);
        EXPECT_EQ(v.GetReal(), c.value);
        EXPECT_EQ(v.IsNull(), !c.accepted);

        // The JSON reader sets 0.0 where the XML reader refuses.
        VReal j(7.0);
        EXPECT_EQ(j.FromJSONString(VString(c.text)), VE_OK);
        EXPECT_EQ(j.GetReal(), c.accepted ? c.value : 0.0);
        EXPECT_FALSE(j.IsNull());
    }

    std::string longText(255, '1');
    VReal v(7.0);
    EXPECT_FALSE(v.FromXMLString(VString(longText.c_str())));
    EXPECT_EQ(v.GetReal(), 7.0);
    std::string longest(254, '1');
    EXPECT_TRUE(v.FromXMLString(VString(longest.c_str())));
}

TEST(VScalarTest, BooleanTexts)
{
    struct Case {
        const char* text;
        bool accepted;
        bool value;  // after reading into a true boolean
    };
    const Case cases[] = {
        {"1", true, true},      {"0", true, false},   {"TRUE", true, true}, {"fAlSe", true, false},
        {"yes", false, true},   {"", false, true},    {"true ", false, true}, {"10", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VBoolean b(true);
        b.SetNull(true);
        EXPECT_EQ(b.FromXMLString(VString(c.text)), c.accepted);
        EXPECT_EQ(b.Get(), c.value);
        EXPECT_EQ(b.IsNull(), !c.accepted);

        VBoolean j(true);
        j.SetNull(true);
        EXPECT_EQ(j.FromJSONString(VString(c.text)), VE_OK);
        EXPECT_EQ(j.Get(), c.accepted ? c.value : false);
        EXPECT_FALSE(j.IsNull());
    }

    VBoolean b(true);
    b.SetNull(true);
    VString text;
    b.GetXMLString(text);
    EXPECT_EQ(Text(text), "true");
    b.GetJSONString(text);
    EXPECT_EQ(Text(text), "true");
}

// --- registry ------------------------------------------------------------

TEST(VScalarTest, KindsAreRegisteredAndGenerateZero)
{
    const std::pair<ValueKind, const VValueInfo*> kinds[] = {
        {VK_BOOLEAN, &VBoolean::sInfo}, {VK_BYTE, &VByte::sInfo}, {VK_WORD, &VWord::sInfo},
        {VK_LONG, &VLong::sInfo},       {VK_LONG8, &VLong8::sInfo}, {VK_REAL, &VReal::sInfo},
        {VK_DURATION, &VDuration::sInfo},
    };
    for (const auto& [kind, info] : kinds) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kind), info);
        EXPECT_EQ(info->GetKind(), kind);
        std::unique_ptr<VValue> v(VValue::NewValueFromValueKind(kind));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->GetValueKind(), kind);
        EXPECT_FALSE(v->IsNull());
        EXPECT_TRUE(v->IsDirty());
        EXPECT_EQ(v->IsVValueSingle()->GetLong8(), 0);
    }
}

// --- stored decimal numbers ----------------------------------------------

std::vector<unsigned char> PackMAPM(int32_t exponent, int8_t sign, int32_t count, std::vector<unsigned char> digits)
{
    std::vector<unsigned char> data(9 + digits.size());
    std::memcpy(data.data(), &exponent, 4);
    std::memcpy(data.data() + 4, &sign, 1);
    std::memcpy(data.data() + 5, &count, 4);
    std::copy(digits.begin(), digits.end(), data.begin() + 9);
    return data;
}

TEST(VScalarTest, MAPMNumbers)
{
    struct Case {
        const char* name;
        std::vector<unsigned char> data;
        double expected;
    };
    const Case cases[] = {
        {"123.4", PackMAPM(3, 1, 4, {12, 34}), 123.4},
        {"-123.4", PackMAPM(3, -1, 4, {12, 34}), -123.4},
        {"odd digit count", PackMAPM(0, 1, 3, {12, 30}), 0.123},
        {"single digit", PackMAPM(1, 1, 1, {50}), 5.0},
        {"zero", PackMAPM(7, 0, 4, {12, 34}), 0.0},
        {"no digits", PackMAPM(3, 1, 0, {}), 0.0},
        {"bad digit byte", PackMAPM(3, 1, 2, {120}), 0.0},
        {"tiny exponent", PackMAPM(kInt32Min, 1, 1, {10}), 0.0},
        {"huge exponent", PackMAPM(400, 1, 1, {10}), kInf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(MAPM_FloatToReal(c.data.data()), c.expected);
    }

    // More digits than the reader keeps: the first ones still decide the value.
    std::vector<unsigned char> many(300, 11);
    many[0] = 31;
    many[1] = 41;
    EXPECT_NEAR(MAPM_FloatToReal(PackMAPM(1, 1, 600, many).data()), 3.141111111, 1e-9);
}

}  // namespace
}  // namespace bkit
