// VDurationTest.cpp - the duration value.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

constexpr int64_t kDay = 86400000;
constexpr int64_t kHour = 3600000;
constexpr int64_t kMinute = 60000;
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

std::string Text(const VString& s)
{
    return to_string(s);
}

TEST(VDurationTest, ComponentsTruncateTowardZero)
{
    struct Case {
        int64_t ms;
        int32_t days, hours, minutes, seconds, millis;
    };
    const Case cases[] = {
        {90061001, 1, 1, 1, 1, 1},
        {-1500, 0, 0, 0, -1, -500},
        {-90061001, -1, -1, -1, -1, -1},
        {kDay - 1, 0, 23, 59, 59, 999},
        {3 * kDay + 25 * kMinute, 3, 0, 25, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        VDuration d(c.ms);
        int32_t days, hours, minutes, seconds, millis;
        d.GetDuration(days, hours, minutes, seconds, millis);
        EXPECT_EQ(days, c.days);
        EXPECT_EQ(hours, c.hours);
        EXPECT_EQ(minutes, c.minutes);
        EXPECT_EQ(seconds, c.seconds);
        EXPECT_EQ(millis, c.millis);
        EXPECT_EQ(d.GetDay(), c.days);
        EXPECT_EQ(d.GetMillisecond(), c.millis);
    }

    VDuration null(5);
    null.SetNull(true);
    int32_t days, hours, minutes, seconds, millis;
    null.GetDuration(days, hours, minutes, seconds, millis);
    EXPECT_EQ(days + hours + minutes + seconds + millis, -5);
}

TEST(VDurationTest, NumbersAreSecondsAndGettersGiveSeconds)
{
    struct Case {
        const char* name;
        std::function<void(VDuration&)> set;
        int64_t ms;
    };
    const Case cases[] = {
        {"boolean", [](VDuration& d) { d.FromBoolean(1); }, 1000},
        {"long", [](VDuration& d) { d.FromLong(2); }, 2000},
        {"byte", [](VDuration& d) { d.FromByte(-3); }, -3000},
        {"real", [](VDuration& d) { d.FromReal(1.5); }, 1500},
        {"real saturates", [](VDuration& d) { d.FromReal(1e300); }, kInt64Max},
        {"real NaN", [](VDuration& d) { d.FromReal(std::numeric_limits<double>::quiet_NaN()); }, 0},
        {"long value", [](VDuration& d) { d.FromValue(VLong(4)); }, 4000},
        {"real value", [](VDuration& d) { d.FromValue(VReal(0.25)); }, 250},
        {"string", [](VDuration& d) { d.FromString(VString("45")); }, 45000},
        {"decimal hour", [](VDuration& d) { d.FromDecimalHour(1.5); }, 90 * kMinute},
        {"days", [](VDuration& d) { d.FromNbDays(30); }, 30 * kDay},
        {"set", [](VDuration& d) { d.SetDuration(1, 2, 3, 4, 5); }, kDay + 2 * kHour + 3 * kMinute + 4005},
        // Rest values that are not zero are milliseconds.
        {"REST long8", [](VDuration& d) { d.FromRESTValue(VLong8(1500)); }, 1500},
        {"REST zero", [](VDuration& d) { d.FromRESTValue(VLong8(0)); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VDuration d(77);
        d.SetNull(true);
        d.SetDirty(false);
        c.set(d);
        EXPECT_EQ(d.ConvertToMilliseconds(), c.ms);
        EXPECT_FALSE(d.IsNull());
        EXPECT_TRUE(d.IsDirty());
    }

    VDuration d(-1500);
    EXPECT_EQ(d.GetLong(), -1);
    EXPECT_EQ(d.GetReal(), -1.5);
    EXPECT_EQ(d.GetBoolean(), 1);
    EXPECT_EQ(VDuration(300000 * 1000LL).GetWord(), static_cast<int16_t>(300000));
}

TEST(VDurationTest, NullFlagRules)
{
    VDuration null(2000);
    null.SetNull(true);

    VDuration copy(null);
    EXPECT_FALSE(copy.IsNull());
    EXPECT_EQ(copy.ConvertToMilliseconds(), 2000);

    VDuration same(1);
    EXPECT_TRUE(same.FromValueSameKind(&null));
    EXPECT_TRUE(same.IsNull());
    EXPECT_EQ(same.ConvertToMilliseconds(), 2000);

    VDuration assigned(1);
    assigned.SetNull(true);
    assigned = null;
    EXPECT_FALSE(assigned.IsNull());

    // Arithmetic changes only the number.
    VDuration sum(1000);
    sum.SetNull(true);
    sum.SetDirty(false);
    sum.Add(VDuration(500));
    sum.Multiply(2.0);
    EXPECT_EQ(sum.ConvertToMilliseconds(), 3000);
    EXPECT_TRUE(sum.IsNull());
    EXPECT_FALSE(sum.IsDirty());

    VString text("x");
    null.GetString(text);
    EXPECT_TRUE(text.IsEmpty());
    VDuration(-42).GetString(text);
    EXPECT_EQ(Text(text), "-42");

    VLong fromNull;
    fromNull.FromDuration(null);
    EXPECT_TRUE(fromNull.IsNull());
    EXPECT_EQ(fromNull.GetLong(), 2);
}

TEST(VDurationTest, AdjustAndAdd)
{
    VDuration d;
    d.SetDuration(1, 3, 0, 0, 0);
    d.AdjustHour(5);
    EXPECT_EQ(d.ConvertToMilliseconds(), kDay + 5 * kHour);
    d.AdjustMinute(30);
    d.AdjustSecond(15);
    d.AdjustMillisecond(250);
    EXPECT_EQ(d.ConvertToMilliseconds(), kDay + 5 * kHour + 30 * kMinute + 15250);
    d.AdjustDay(40);  // beyond 24 days of milliseconds: needs 64-bit arithmetic
    EXPECT_EQ(d.ConvertToMilliseconds(), 40 * kDay + 5 * kHour + 30 * kMinute + 15250);

    VDuration a;
    a.AddDays(30);
    a.AddHours(-1);
    a.AddMinutes(2);
    a.AddSeconds(3);
    a.AddMilliseconds(4);
    a.AddDuration(1, 0, 0, 0, 1);
    a.AddDecimalHour(0.5);
    EXPECT_EQ(a.ConvertToMilliseconds(), 31 * kDay - kHour + 2 * kMinute + 3005 + 30 * kMinute);
    EXPECT_EQ(a.ConvertToHours(), (31 * kDay - kHour + 32 * kMinute) / kHour);

    // Overflow wraps instead of being undefined.
    VDuration top(kInt64Max);
    top.AddMilliseconds(1);
    EXPECT_EQ(top.ConvertToMilliseconds(), kInt64Min);
}

class VDurationDivisionTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (VProcess::sInstance == nullptr)
            fProcess = std::make_unique<VProcess>();
    }
    void TearDown() override { fProcess.reset(); }

    std::unique_ptr<VProcess> fProcess;
};

TEST_F(VDurationDivisionTest, RemainderAndQuotient)
{
    struct Case {
        int64_t ms, divisor, remainder, quotient;
    };
    const Case cases[] = {
        {7000, 3000, 1000, 2},
        {-7000, 3000, -1000, -2},
        {7000, -3000, 1000, -2},
        {kInt64Min, -1, 0, kInt64Max},  // the quotient saturates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        VDuration d(c.ms);
        EXPECT_EQ(d.Remainder(VDuration(c.divisor)), c.quotient);
        EXPECT_EQ(d.ConvertToMilliseconds(), c.remainder);
    }

    VDuration d(9000);
    d.Divide(4.0);
    EXPECT_EQ(d.ConvertToMilliseconds(), 2250);
    EXPECT_DOUBLE_EQ(VDuration(9000).Divide(VDuration(2000)), 4.5);
}

TEST_F(VDurationDivisionTest, DividingByZeroLeavesTheValueAndReportsABadArgument)
{
    const std::function<double(VDuration&)> divisions[] = {
        [](VDuration& d) { d.Divide(0.0); return 0.0; },
        [](VDuration& d) { d.Divide(std::numeric_limits<double>::quiet_NaN()); return 0.0; },
        [](VDuration& d) { return static_cast<double>(d.Remainder(VDuration(0))); },
        [](VDuration& d) { return d.Divide(VDuration(0)); },
    };
    for (size_t i = 0; i < std::size(divisions); ++i) {
        SCOPED_TRACE(i);
        VDuration d(5000);
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(divisions[i](d), 0.0);
        EXPECT_EQ(d.ConvertToMilliseconds(), 5000);
        EXPECT_EQ(errors.GetLastError(), VE_INVALID_PARAMETER);
    }
}

TEST(VDurationTest, Comparisons)
{
    VDuration small(-5), big(5);
    EXPECT_TRUE(small < big);
    EXPECT_TRUE(big >= small);
    EXPECT_EQ(small.CompareTo(big), CR_SMALLER);
    EXPECT_EQ(big.CompareToSameKind(&small), CR_BIGGER);
    int64_t raw = 5;
    EXPECT_TRUE(big.EqualToSameKindPtr(&raw));

    // Other kinds are read through their GetDuration: numbers are seconds.
    EXPECT_EQ(VDuration(2000).CompareTo(VLong(2)), CR_EQUAL);
    EXPECT_EQ(VDuration(2000).CompareTo(VReal(1.5)), CR_BIGGER);
    EXPECT_EQ(VDuration(1000).CompareTo(VBoolean(true)), CR_EQUAL);
}

TEST(VDurationTest, XMLText)
{
    struct Case {
        int64_t ms;
        bool null;
        uint32_t options;
        const char* text;
    };
    const Case cases[] = {
        {90061001, false, kDurationXML_ISO8601, "P1DT1H1M1.00100000000000S"},
        {3600000, false, kDurationXML_ISO8601, "PT1H0M0S"},
        {1500, false, kDurationXML_ISO8601, "PT0H0M1.50000000000000S"},
        {2 * kDay + 5000, false, kDurationXML_ISO8601, "P2DT0H0M5S"},
        {7, true, kDurationXML_ISO8601, "P-1DT-1H-1M-1.00100000000000S"},
        {90061001, false, 0, "90061"},
        {-1500, true, 0, "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VDuration d(c.ms);
        d.SetNull(c.null);
        VString text;
        d.GetXMLString(text, c.options);
        EXPECT_EQ(Text(text), c.text);
    }
}

TEST(VDurationTest, ReadingText)
{
    struct Case {
        const char* text;
        int64_t xml;    // FromXMLString
        int64_t plain;  // FromString
    };
    const Case cases[] = {
        {"P1Y2M3DT4H5M6.5S", (360 + 60 + 3) * kDay + 4 * kHour + 5 * kMinute + 6500, 0},
        {"P2M", 60 * kDay, 0},
        {"PT2M", 2 * kMinute, 0},
        {"PT36H", 36 * kHour, 0},
        {"P1DT0.25S", kDay + 250, 1000},
        {"90", 90000, 90000},
        {"1:30", 90000, 90000},
        {"1:02:03", 3723000, 3723000},
        {"1:02:03:004", 3723004, 3723004},
        {" 1 : 30 ", 90000, 90000},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VDuration xml(1);
        xml.SetNull(true);
        EXPECT_TRUE(xml.FromXMLString(VString(c.text)));
        EXPECT_EQ(xml.ConvertToMilliseconds(), c.xml);
        EXPECT_FALSE(xml.IsNull());

        if (c.text[0] != 'P') {
            VDuration plain(1);
            plain.SetNull(true);
            plain.FromString(VString(c.text));
            EXPECT_EQ(plain.ConvertToMilliseconds(), c.plain);
            EXPECT_FALSE(plain.IsNull());
        }
    }
}

// The fraction of a second is the decimal the text spells: the double nearest
// to 1.001 lies below it and must not lose the millisecond on the way.
TEST(VDurationTest, SecondsFractionIsReadAsWritten)
{
    struct Case {
        const char* text;
        int64_t ms;
    };
    const Case cases[] = {
        {"PT0H0M1.00100000000000S", 1001},
        {"PT0H0M0.29S", 290},
        {"PT0H0M4.35S", 4350},
        {"P1DT1H1M1.00100000000000S", 90061001},
        {"PT0H0M59.999S", 59999},
        {"PT0H0M0.0999S", 99},  // beyond the millisecond is cut, not rounded
        {"PT0H0M-1.50000000000000S", -1500},
        {"PT0H0M-0.00900000000000S", -9},
        {"PT+2.5S", 2500},
        {"PT.5S", 500},
        {"PT7.S", 7000},
        {"PT1.5e1S", 15000},  // an exponent is still a number of seconds
        {"PT 0.01S", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VDuration d;
        EXPECT_TRUE(d.FromXMLString(VString(c.text)));
        EXPECT_EQ(d.ConvertToMilliseconds(), c.ms);
    }
}

TEST(VDurationTest, ISOTextReadsBackExactly)
{
    std::vector<int64_t> values;
    for (int64_t ms = -2000; ms <= 62000; ++ms)
        values.push_back(ms);
    for (int64_t base : {kHour, 23 * kHour + 59 * kMinute, kDay, 400 * kDay, -3 * kDay - kHour})
        for (int64_t ms : {1, 7, 99, 101, 999, 1001, 58999})
            values.push_back(base + ms);
    int64_t wrong = 0;
    for (int64_t ms : values) {
        VString text;
        VDuration(ms).GetXMLString(text, kDurationXML_ISO8601);
        VDuration back;
        back.FromXMLString(text);
        if (back.ConvertToMilliseconds() != ms && ++wrong <= 5)
            ADD_FAILURE() << ms << " written " << Text(text) << " read " << back.ConvertToMilliseconds();
    }
    EXPECT_EQ(wrong, 0);
}

TEST(VDurationTest, JSONForms)
{
    struct Case {
        int64_t ms;
        uint32_t options;
        double number;      // when no text is expected
        const char* clock;  // the string of the clock form, or null
    };
    const Case cases[] = {
        {3723000, kDurationJSON_ClockText, 0, "1:02:03"},
        {90000000, kDurationJSON_ClockText, 0, "25:00:00"},
        {36610000, kDurationJSON_ClockText, 0, "10:10:10"},
        {1500, kDurationJSON_Milliseconds, 1500.0, nullptr},
        {1500, 0, 1.5, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        VJSONValue json;
        EXPECT_EQ(VDuration(c.ms).GetJSONValue(json, c.options), VE_OK);
        if (c.clock != nullptr) {
            ASSERT_TRUE(json.IsString());
            VString text;
            json.GetString(text);
            EXPECT_EQ(Text(text), c.clock);
        } else {
            ASSERT_TRUE(json.IsNumber());
            EXPECT_EQ(json.GetNumber(), c.number);
        }
    }

    VDuration null(3);
    null.SetNull(true);
    VJSONValue json;
    null.GetJSONValue(json, kDurationJSON_ClockText);
    EXPECT_TRUE(json.IsNull());

    VDuration d;
    EXPECT_EQ(d.FromJSONValue(VJSONValue(1.5)), VE_OK);
    EXPECT_EQ(d.ConvertToMilliseconds(), 1500);
    d.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(d.IsNull());
    EXPECT_EQ(d.ConvertToMilliseconds(), 1500);

    VString text;
    EXPECT_EQ(VDuration(-1234).GetJSONString(text), VE_OK);
    EXPECT_EQ(Text(text), "-1234");
    EXPECT_EQ(d.FromJSONString(VString("987")), VE_OK);
    EXPECT_EQ(d.ConvertToMilliseconds(), 987);
    EXPECT_FALSE(d.IsNull());
}

TEST(VDurationTest, FormattedStringAppendsComponents)
{
    VString text("d=");
    VDuration(90061001).GetFormattedString(text);
    EXPECT_EQ(Text(text), "d=1:1:1:1:1");

    VDuration null;
    null.SetNull(true);
    VString nullText;
    null.GetFormattedString(nullText);
    EXPECT_EQ(Text(nullText), "-1:-1:-1:-1:-1");
}

}  // namespace
}  // namespace bkit
