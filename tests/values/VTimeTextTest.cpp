// VTimeTextTest.cpp - the text forms of the date and time value.
#include <gtest/gtest.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VTime.h"

namespace bkit {
namespace {

// Sets TZ for the test and puts the previous zone back afterwards.
class LocalZoneTest : public testing::Test {
protected:
    void UseZone(const char* zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    void SetUp() override
    {
        const char* old = std::getenv("TZ");
        fHadOld = old != nullptr;
        if (fHadOld)
            fOld = old;
        UseZone(kParis);
    }
    void TearDown() override
    {
        if (fHadOld)
            ::setenv("TZ", fOld.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

    // +01:00 in winter, +02:00 from the last Sunday of March to the last of October.
    static constexpr const char* kParis = "CET-1CEST,M3.5.0,M10.5.0/3";
    static constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

private:
    bool fHadOld = false;
    std::string fOld;
};

VTime UTC(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    VTime t;
    t.FromUTCTime(static_cast<int16_t>(y), static_cast<int16_t>(mo), static_cast<int16_t>(d),
                  static_cast<int16_t>(h), static_cast<int16_t>(mi), static_cast<int16_t>(s),
                  static_cast<int16_t>(ms));
    return t;
}

VTime Null()
{
    VTime t;
    t.SetNull(true);
    return t;
}

std::string Text(const VString& s) { return to_string(s); }

std::string Rfc3339(const VTime& t, uint32_t options)
{
    VString s;
    t.GetRfc3339String(s, options);
    return Text(s);
}

std::string Describe(const VTime& t)
{
    if (t.IsNull())
        return "null";
    VString s;
    t.GetRfc3339String(s, kRfc3339_UTC);
    return Text(s);
}

// ---------------------------------------------------------------------------
// RFC 3339 writer

TEST_F(LocalZoneTest, Rfc3339WriterShapes)
{
    VTime winter = UTC(2026, 12, 9, 8, 53, 53, 123);
    VTime summer = UTC(2026, 7, 9, 8, 53, 53, 123);
    struct {
        const VTime& time;
        uint32_t options;
        const char* expected;
    } cases[] = {
        {winter, 0x1, "2026-12-09T08:53:53.123Z"},
        {winter, 0x21, "2026-12-09T08:53:53Z"},
        {winter, 0x5, "08:53:53Z"},
        {winter, 0x9, "2026-12-09"},
        {winter, 0xD, "08:53:53Z"},  // time wins over date
        {winter, 0x11, "0000-00-00T08:53:53.123Z"},
        {winter, 0x31, "0000-00-00T08:53:53Z"},
        {winter, 0x19, "2026-12-09"},  // the date-only form keeps the date
        {winter, 0x2, "2026-12-09T09:53:53.123"},
        {winter, 0x22, "2026-12-09T09:53:53"},
        {winter, 0x6, "09:53:53"},
        {winter, 0xA, "2026-12-09"},
        {winter, 0x12, "0000-00-00T09:53:53.123"},
        {winter, 0x0, "2026-12-09T09:53:53+01:00"},
        {winter, 0x20, "2026-12-09T09:53:53+01:00"},  // never milliseconds with an offset
        {winter, 0x4, "09:53:53+01:00"},
        {winter, 0x8, "2026-12-09+01:00"},
        {winter, 0x10, "0000-00-00T09:53:53+01:00"},
        // The offset is the one in force at the instant, not today's.
        {summer, 0x0, "2026-07-09T10:53:53+02:00"},
        {summer, 0x8, "2026-07-09+02:00"},
        {summer, 0x2, "2026-07-09T10:53:53.123"},
        {UTC(2026, 12, 31, 23, 30), 0x8, "2027-01-01+01:00"},
        {UTC(2026, 3, 29, 0, 59, 59), 0x0, "2026-03-29T01:59:59+01:00"},
        {UTC(2026, 3, 29, 1, 0, 0), 0x0, "2026-03-29T03:00:00+02:00"},
        {UTC(0, 0, 0, 10, 30), 0x1, "0000-00-00T10:30:00.000Z"},
        {UTC(0, 0, 0, 10, 30), 0x6, "10:30:00"},
        {Null(), 0x0, "0000-00-00T00:00:00Z"},
        {Null(), 0x9, "0000-00-00T00:00:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << Describe(c.time) << " options 0x" << std::hex << c.options);
        EXPECT_EQ(c.expected, Rfc3339(c.time, c.options));
    }
}

TEST_F(LocalZoneTest, Rfc3339WriterNegativeOffsets)
{
    UseZone(kNewYork);
    EXPECT_EQ("2026-12-09T03:53:53-05:00", Rfc3339(UTC(2026, 12, 9, 8, 53, 53), 0));
    EXPECT_EQ("2026-07-09T04:53:53-04:00", Rfc3339(UTC(2026, 7, 9, 8, 53, 53), 0));
    UseZone("NPT-5:45");
    EXPECT_EQ("2026-12-09T14:38:53+05:45", Rfc3339(UTC(2026, 12, 9, 8, 53, 53), 0));
}

// ---------------------------------------------------------------------------
// RFC 3339 reader

struct ReadCase {
    const char* text;
    bool accepted;
    const char* result;  // "null", or the UTC text with milliseconds
};

void CheckReads(const ReadCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const ReadCase& c = cases[i];
        SCOPED_TRACE(testing::Message() << "\"" << c.text << "\"");
        VTime t = UTC(1999, 9, 9, 9);
        EXPECT_EQ(c.accepted, t.FromRfc3339String(VString(c.text)));
        EXPECT_EQ(c.result, Describe(t));
    }
}

TEST_F(LocalZoneTest, Rfc3339ReaderShapes)
{
    const ReadCase cases[] = {
        // full form in UTC
        {"2026-12-09T08:53:53.123Z", true, "2026-12-09T08:53:53.123Z"},
        {"2026-12-09T08:53:53Z", true, "2026-12-09T08:53:53.000Z"},
        {"2026-12-09T08:53:53.9999Z", true, "2026-12-09T08:53:53.999Z"},
        {"2024-02-29T23:59:59.999Z", true, "2024-02-29T23:59:59.999Z"},
        {"9999-12-31T23:59:59.999Z", true, "9999-12-31T23:59:59.999Z"},
        {"2026-12-09T8:5:53.5Z", true, "2026-12-09T08:05:53.500Z"},
        {"2026-12-09T08:53:5e1Z", true, "2026-12-09T08:53:50.000Z"},
        {"2026-12-09T08:53:53Z \u20ac", true, "2026-12-09T08:53:53.000Z"},  // read as UTF-8
        // null and refusals of the full form
        {"0000-00-00T00:00:00Z", true, "null"},
        {"2026-13-09T08:53:53Z", true, "null"},
        {"2023-02-29T08:53:53Z", true, "null"},
        {"2026-12-09T24:00:00Z", true, "null"},
        {"2026-12-09T08:53Z", false, "null"},
        {"2026-12-09Tab:cd:efZ", false, "null"},
        {"", false, "null"},
        {"garbage", false, "null"},
        // the date form: UTC midnight; a failed date is the zero date
        {"2026-12-09", true, "2026-12-09T00:00:00.000Z"},
        {"2026-13-09", true, "0000-00-00T00:00:00.000Z"},
        {"2026-12", false, "null"},
        // times of day and numbers of seconds: the zero date, no zone applied
        {"10:30", true, "0000-00-00T10:30:00.000Z"},
        {"10:30:15.5+05:00", true, "0000-00-00T10:30:15.500Z"},
        {"10:30:15Z", true, "0000-00-00T10:30:15.000Z"},
        {"0000-00-00T10:30:00Z", true, "0000-00-00T10:30:00.000Z"},
        {"3725", true, "0000-00-00T01:02:00.000Z"},
        {"10:", false, "null"},
        // offsets decide the instant whatever the season and the local zone
        {"2026-12-09T10:53:53+02:00", true, "2026-12-09T08:53:53.000Z"},
        {"2026-07-09T10:53:53+02:00", true, "2026-07-09T08:53:53.000Z"},
        {"2026-12-09T03:53:53-05:00", true, "2026-12-09T08:53:53.000Z"},
        {"2026-12-09T10:53:53.25+02:00", true, "2026-12-09T08:53:53.250Z"},
        {"2026-12-31T23:30:00-01:00", true, "2027-01-01T00:30:00.000Z"},
        {"2026-12-09T10:53:53+0200", false, "null"},
        // the date form with an offset is local midnight (the offset is not applied)
        {"2026-12-09+05:00", true, "2026-12-08T23:00:00.000Z"},
        {"2026-07-09-05:00", true, "2026-07-08T22:00:00.000Z"},
        // no zone: local time, in its own season
        {"2026-12-09T09:53:53", true, "2026-12-09T08:53:53.000Z"},
        {"2026-07-09T10:53:53.5", true, "2026-07-09T08:53:53.500Z"},
    };
    CheckReads(cases, std::size(cases));
}

TEST_F(LocalZoneTest, Rfc3339RoundTripsInEveryZoneAndSeason)
{
    const char* zones[] = {kParis, kNewYork, "UTC0", "NPT-5:45"};
    VTime instants[] = {UTC(2026, 1, 15, 12, 0, 0, 1), UTC(2026, 7, 15, 23, 59, 59, 999), UTC(2026, 3, 29, 1, 30),
                        UTC(1970, 1, 1), UTC(2000, 2, 29, 6, 7, 8, 9)};
    for (const char* zone : zones) {
        UseZone(zone);
        for (const VTime& t : instants) {
            SCOPED_TRACE(testing::Message() << zone << " " << Describe(t));
            for (uint32_t options : {0x0u, 0x1u, 0x2u}) {
                VString text;
                t.GetRfc3339String(text, options);
                VTime back;
                EXPECT_TRUE(back.FromRfc3339String(text));
                VTime expected = t;
                if (options == 0x0)  // no milliseconds with an offset
                    expected.AddMilliseconds(-static_cast<int64_t>(t.GetMillisecondsOfDay() % 1000));
                EXPECT_EQ(Describe(expected), Describe(back)) << Text(text);
            }
        }
    }
}

TEST(VTimeText, CanonicalAndSpacedFullFormsReadAlike)
{
    // "T 08" is read by the general scanner, "T08" may take a shorter road;
    // both must give the same instant for every fraction.
    std::mt19937 random(3339);
    for (int i = 0; i < 5000; ++i) {
        int h = static_cast<int>(random() % 24), mi = static_cast<int>(random() % 60);
        int s = static_cast<int>(random() % 60);
        std::string fraction;
        size_t digits = random() % 10;
        for (size_t j = 0; j < digits; ++j)
            fraction += static_cast<char>('0' + (j % 3 == 0 ? 9 : random() % 10));
        char canonical[64], spaced[64];
        std::snprintf(canonical, sizeof(canonical), "2026-12-09T%02d:%02d:%02d%s%sZ", h, mi, s,
                      digits > 0 ? "." : "", fraction.c_str());
        std::snprintf(spaced, sizeof(spaced), "2026-12-09T %02d:%02d:%02d%s%sZ", h, mi, s, digits > 0 ? "." : "",
                      fraction.c_str());
        VTime a, b;
        EXPECT_TRUE(a.FromRfc3339String(VString(canonical)));
        EXPECT_TRUE(b.FromRfc3339String(VString(spaced)));
        ASSERT_EQ(Describe(a), Describe(b)) << canonical;
        if (digits >= 3 && digits <= 6) {
            ASSERT_EQ(std::stoi(fraction.substr(0, 3)), static_cast<int>(a.GetMillisecondsOfDay() % 1000))
                << canonical;
        }
    }
}

TEST(VTimeText, MalformedTextsNeverGiveAnInvalidDate)
{
    // Random texts from the characters the readers care about: whatever they
    // make of them, a non-null time holds a valid date or the zero date.
    std::mt19937 random(20261209);
    const char alphabet[] = "0123456789-:T+Z.!e ,JanDec/";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        size_t length = random() % 34;
        for (size_t j = 0; j < length; ++j)
            text += alphabet[random() % (sizeof(alphabet) - 1)];
        if (i % 3 == 0)
            text = "2026-12-09T" + text;
        VString s(text.c_str());
        VTime t;
        t.FromRfc3339String(s);
        VTime x;
        x.FromXMLString(s);
        VTime f;
        f.FromString(s);
        VTime r;
        r.FromRfc822String(s);
        for (const VTime* v : {&t, &x, &f, &r}) {
            if (v->IsNull())
                continue;
            bool zero = v->GetYear() == 0 && v->GetMonth() == 0 && v->GetDay() == 0;
            if (!zero && !VTime::CheckDate(v->GetYear(), v->GetMonth(), v->GetDay())) {
                ADD_FAILURE() << "\"" << text << "\" gave " << v->GetYear() << "-" << +v->GetMonth() << "-"
                              << +v->GetDay();
                return;
            }
        }
    }
    // Huge numbers are refused rather than wrapped into a valid field.
    VTime t;
    EXPECT_TRUE(t.FromRfc3339String(VString("2026-12-09T08:53:4294967356Z")));
    EXPECT_TRUE(t.IsNull());
    t.FromString(VString("2026-12-9-65560"));
    EXPECT_TRUE(t.IsNull());
    t.FromRfc822String(VString("09 Dec 67562 08:53:53"));
    EXPECT_TRUE(t.IsNull());
}

// ---------------------------------------------------------------------------
// XML and JSON

TEST(VTimeText, XMLFormGoesByMarkersAndExclamationMarks)
{
    VTime t;
    EXPECT_TRUE(t.FromXMLString(VString("!!2026-12-09T08:53:53.123Z!!")));
    EXPECT_EQ("2026-12-09T08:53:53.123Z", Describe(t));
    EXPECT_TRUE(t.FromXMLString(VString("2026-12-09T08:53:53.123Z")));
    EXPECT_EQ("2026-12-09T08:53:53.123Z", Describe(t));
    EXPECT_FALSE(t.FromXMLString(VString("2026-12-09T08:53Z")));
    // A '!' elsewhere: the generic reader, and the answer is true.
    EXPECT_TRUE(t.FromXMLString(VString("15!1!2024")));
    EXPECT_EQ("2024-01-15T00:00:00.000Z", Describe(t));
    EXPECT_TRUE(t.FromXMLString(VString("31!2!2024")));
    EXPECT_TRUE(t.IsNull());
    EXPECT_FALSE(t.FromXMLString(VString("!!x")));

    VString xml;
    UTC(2026, 12, 9, 8, 53, 53, 123).GetXMLString(xml, kRfc3339_UTC | kRfc3339_NoMilliseconds);
    EXPECT_EQ("2026-12-09T08:53:53Z", Text(xml));
}

TEST(VTimeText, JSONStringWrappings)
{
    VTime t = UTC(2026, 12, 9, 8, 53, 53, 123);
    VTime midnight = UTC(2026, 12, 9);
    struct {
        const VTime& time;
        uint32_t options;
        const char* expected;
    } cases[] = {
        {t, 0x0, "2026-12-09T08:53:53.123Z"},
        {t, 0x1, "\"2026-12-09T08:53:53.123Z\""},
        {t, 0x1000, "!!2026-12-09T08:53:53.123Z!!"},
        {t, 0x1001, "\"!!2026-12-09T08:53:53.123Z!!\""},
        {t, 0x200, "2026-12-09T08:53:53.123Z"},
        {midnight, 0x200, "2026-12-09"},
        {midnight, 0x1201, "\"!!2026-12-09!!\""},
        {midnight, 0x0, "2026-12-09T00:00:00.000Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "options 0x" << std::hex << c.options);
        VString json;
        EXPECT_EQ(VE_OK, c.time.GetJSONString(json, c.options));
        EXPECT_EQ(c.expected, Text(json));
    }
    // The marked form reads back.
    VString marked;
    t.GetJSONString(marked, 0x1000);
    VTime back;
    EXPECT_EQ(VE_OK, back.FromJSONString(marked));
    EXPECT_EQ(t, back);
    EXPECT_FALSE(back.IsNull());
}

TEST(VTimeText, JSONValues)
{
    VTime t = UTC(2026, 12, 9, 8, 53, 53, 123);
    VJSONValue json;
    EXPECT_EQ(VE_OK, t.GetJSONValue(json, 0));
    ASSERT_TRUE(json.IsString());
    VString text;
    json.GetString(text);
    EXPECT_EQ("2026-12-09T08:53:53.123Z", Text(text));

    VTime back;
    EXPECT_EQ(VE_OK, back.FromJSONValue(json));
    EXPECT_EQ(t, back);

    EXPECT_EQ(VE_OK, t.GetJSONValue(json, kTimeJSONValue_Date));
    int16_t y = 0, m = 0, d = 0;
    ASSERT_TRUE(json.GetDate(&y, &m, &d));
    EXPECT_EQ(2026, y);
    EXPECT_EQ(12, m);
    EXPECT_EQ(9, d);

    Null().GetJSONValue(json, kTimeJSONValue_Date);
    EXPECT_TRUE(json.IsNull());
    EXPECT_EQ(VE_OK, back.FromJSONValue(VJSONValue(JSON_null)));
    EXPECT_TRUE(back.IsNull());
}

// ---------------------------------------------------------------------------
// RFC 822 and the other texts

TEST(VTimeText, Rfc822)
{
    struct {
        VTime time;
        const char* text;
    } cases[] = {
        {UTC(1970, 1, 1), "Thu, 01 Jan 1970 00:00:00 GMT"},
        {UTC(2026, 12, 9, 8, 53, 53, 999), "Wed, 09 Dec 2026 08:53:53 GMT"},
        {UTC(2024, 2, 29, 23, 0, 1), "Thu, 29 Feb 2024 23:00:01 GMT"},
        {Null(), ", 00  0000 00:00:00 GMT"},
    };
    for (const auto& c : cases) {
        VString text;
        c.time.GetRfc822String(text);
        EXPECT_EQ(c.text, Text(text));
    }

    struct {
        const char* text;
        const char* result;
    } reads[] = {
        {"Thu, 01 Jan 1970 00:00:00 GMT", "1970-01-01T00:00:00.000Z"},
        {"9 DEC 2026 08:53:53 +0000", "2026-12-09T08:53:53.000Z"},
        {"Wed, 09 dec 2026", "2026-12-09T00:00:00.000Z"},
        {"09 Foo 2026 08:53:53", "null"},
        {"31 Feb 2026", "null"},
        {"09 Dec 2026 25:00:00", "null"},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(r.text);
        VTime t = UTC(1999, 1, 1);
        t.FromRfc822String(VString(r.text));
        EXPECT_EQ(r.result, Describe(t));
    }
}

TEST(VTimeText, FromStringReadsDayFirstOrUpToSevenNumbers)
{
    struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"15!1!2024", "2024-01-15T00:00:00.000Z"},
        {"31!2!2024", "null"},
        {"0!0!0", "0000-00-00T00:00:00.000Z"},
        {"29!2!2024!10:30", "2024-02-29T00:00:00.000Z"},
        {"2024-01-15 10:30:15.250", "2024-01-15T10:30:15.250Z"},
        {"2024/1/15", "2024-01-15T00:00:00.000Z"},
        {"2024-01-15T10:30:00.5Z", "2024-01-15T10:30:00.005Z"},  // the seventh number is milliseconds
        {"2024-01!15", "null"},                                  // a later '!' ends the reading
        {"", "0000-00-00T00:00:00.000Z"},
        {"2024--01-15", "null"},  // every separator ends a number, empty ones too
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        VTime t = UTC(1999, 1, 1, 1);
        t.FromString(VString(c.text));
        EXPECT_EQ(c.result, Describe(t));
    }

    VString simple;
    UTC(2024, 1, 5, 10).toSimpleDateString(simple);
    EXPECT_EQ("5!1!2024", Text(simple));
    VTime back;
    back.FromString(simple);
    EXPECT_EQ(UTC(2024, 1, 5), back);
    Null().toSimpleDateString(simple);
    EXPECT_TRUE(simple.IsNull());
}

TEST_F(LocalZoneTest, DisplayThroughTheInternationalManager)
{
    // The styles are the locale's; the fields and the zone are ours to check.
    // The platform's formatters know zones by name only, not by POSIX rules.
    UseZone("Europe/Paris");
    time_t winter = 1796806433;  // 2026-12-09T08:53:53Z
    struct tm fields;
    if (::localtime_r(&winter, &fields) == nullptr || fields.tm_gmtoff != 3600)
        GTEST_SKIP() << "no zone database for Europe/Paris";
    VTime t = UTC(2026, 12, 9, 8, 53, 53, 7);
    VString date, time;
    t.FormatByOS(date, time, true);
    EXPECT_NE(std::string::npos, Text(date).find("12")) << Text(date);
    EXPECT_NE(std::string::npos, Text(date).find("26")) << Text(date);
    EXPECT_NE(std::string::npos, Text(time).find("8:53")) << Text(time);
    t.FormatByOS(date, time, false);
    EXPECT_NE(std::string::npos, Text(time).find("9:53")) << Text(time);

    VString both, string;
    t.FormatByOS(both, true);
    t.GetString(string);
    t.FormatByOS(date, time, true);
    EXPECT_EQ(Text(date) + " " + Text(time), Text(both));
    EXPECT_EQ(Text(both), Text(string));

    date = "x";
    time = "y";
    Null().FormatByOS(date, time, true);
    EXPECT_TRUE(date.IsEmpty());
    EXPECT_TRUE(time.IsEmpty());
    Null().GetString(string);
    EXPECT_TRUE(string.IsEmpty());
}

TEST_F(LocalZoneTest, LocalDisplayAndCompilerDates)
{
    VString text;
    UTC(2026, 12, 9, 8, 53, 53, 7).GetStringLocalTime(text);
    EXPECT_EQ("2026-12-09 09:53:53:007", Text(text));
    UTC(2026, 7, 9, 8, 53, 53, 7).GetStringLocalTime(text);
    EXPECT_EQ("2026-07-09 10:53:53:007", Text(text));
    Null().GetStringLocalTime(text);
    EXPECT_TRUE(text.IsEmpty());

    struct {
        const char* date;
        const char* time;
        const char* result;
    } cases[] = {
        {"Dec  9 2026", "08:53:53", "2026-12-09T07:53:53.000Z"},
        {"jul 19 2026", "08:53:53", "2026-07-19T06:53:53.000Z"},
        {"Foo  9 2026", "08:53:53", "null"},
        {"DEC  9 2026", "08:53:53", "null"},
        {"", "", "0000-00-00T00:00:00.000Z"},
        {nullptr, nullptr, "0000-00-00T00:00:00.000Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date != nullptr ? c.date : "(null)");
        VTime t = UTC(1999, 1, 1);
        t.FromCompilerDateTime(c.date, c.time);
        EXPECT_EQ(c.result, Describe(t));
    }
}

}  // namespace
}  // namespace bkit
