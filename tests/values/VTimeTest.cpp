// VTimeTest.cpp - the date and time value: calendar, arithmetic, local time, forms.
#include <gtest/gtest.h>

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <memory>
#include <string>

#include "basekit/files/VMemoryStream.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {
namespace {

constexpr int64_t kDay = 86400000;
constexpr int64_t kHour = 3600000;

// Sets TZ for the scope and puts the previous zone back afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        fHadOld = old != nullptr;
        if (fHadOld)
            fOld = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (fHadOld)
            ::setenv("TZ", fOld.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool fHadOld = false;
    std::string fOld;
};

// Central European rules without a zone database: +01:00, +02:00 from the
// last Sunday of March 01:00 UTC to the last Sunday of October 01:00 UTC.
constexpr const char* kParis = "CET-1CEST,M3.5.0,M10.5.0/3";
// -05:00, -04:00 from the second Sunday of March to the first of November.
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

VTime UTC(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    VTime t;
    t.FromUTCTime(static_cast<int16_t>(y), static_cast<int16_t>(mo), static_cast<int16_t>(d),
                  static_cast<int16_t>(h), static_cast<int16_t>(mi), static_cast<int16_t>(s),
                  static_cast<int16_t>(ms));
    return t;
}

struct Date {
    int y, mo, d;
};

Date DateOf(const VTime& t)
{
    return Date{t.GetYear(), t.GetMonth(), t.GetDay()};
}

#define EXPECT_DATE(t, Y, M, D)               \
    do {                                      \
        Date got_ = DateOf(t);                \
        EXPECT_EQ((Y), got_.y);               \
        EXPECT_EQ((M), got_.mo);              \
        EXPECT_EQ((D), got_.d);               \
    } while (0)

// ---------------------------------------------------------------------------
// Calendar

TEST(VTimeCalendar, DayNumbersWeekdaysAndYearDaysMatchCivilArithmeticForYears0To9999)
{
    using namespace std::chrono;
    // The day number is the Julian day number minus one: 1970-01-01 is 2440587.
    constexpr int64_t kEpochDayNumber = 2440587;
    VTime t;
    for (int y = 0; y <= 9999; ++y) {
        int yearDay = 0;
        for (unsigned m = 1; m <= 12; ++m) {
            unsigned last = static_cast<unsigned>(year_month_day_last(year(y) / month(m) / last_spec()).day());
            for (unsigned d = 1; d <= last; ++d) {
                ++yearDay;
                sys_days civil = year(y) / month(m) / day(d);
                int64_t expected = civil.time_since_epoch().count() + kEpochDayNumber;
                int32_t n = VTime::ComputeJulianDay(y, static_cast<int>(m), static_cast<int>(d));
                if (n != expected) {
                    ADD_FAILURE() << y << "-" << m << "-" << d << ": " << n << " != " << expected;
                    return;
                }
                ASSERT_EQ(static_cast<int>(weekday(civil).c_encoding()),
                          VTime::ComputeWeekDay(y, static_cast<int>(m), static_cast<int>(d)));
                ASSERT_EQ(yearDay, VTime::ComputeYearDay(y, static_cast<int>(m), static_cast<int>(d)));
                ASSERT_TRUE(VTime::CheckDate(y, static_cast<int>(m), static_cast<int>(d)));

                // Back from the millisecond scale to the same date and time.
                int64_t ms = n * kDay + 12345678;
                t.FromMilliseconds(ms);
                if (t.GetYear() != y || t.GetMonth() != m || t.GetDay() != d || t.GetMillisecondsOfDay() != 12345678) {
                    ADD_FAILURE() << "FromMilliseconds of " << y << "-" << m << "-" << d;
                    return;
                }
                ASSERT_EQ(ms, t.GetMilliseconds());
            }
        }
        ASSERT_EQ(year(y).is_leap(), VTime::IsLeapYear(y)) << y;
        ASSERT_EQ(year(y).is_leap(), VTime::CheckDate(y, 2, 29)) << y;
    }
}

TEST(VTimeCalendar, KnownValues)
{
    EXPECT_EQ(2440587, VTime::ComputeJulianDay(1970, 1, 1));
    EXPECT_EQ(4, VTime::ComputeWeekDay(1970, 1, 1));
    EXPECT_EQ(366, VTime::ComputeYearDay(2024, 12, 31));
    EXPECT_EQ(210866716800000LL, UTC(1970, 1, 1).GetMilliseconds());
    EXPECT_EQ(2440587, UTC(1970, 1, 1, 23).GetJulianDay());
    EXPECT_EQ(4, UTC(1970, 1, 1).GetWeekDay());
    EXPECT_EQ(60, UTC(2024, 2, 29).GetYearDay());
    VTime fromDay = UTC(2024, 5, 5, 10);
    fromDay.FromJulianDay(2440587 + 366);
    EXPECT_EQ(UTC(1971, 1, 2), fromDay);

    struct {
        int y, m, d;
        bool valid;
    } cases[] = {
        {2024, 2, 29, true}, {2000, 2, 29, true}, {2023, 2, 29, false}, {1900, 2, 29, false},
        {2024, 4, 31, false}, {2024, 13, 1, false}, {2024, 0, 1, false}, {2024, 1, 0, false},
        {-1, 1, 1, false}, {0, 1, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.y << "-" << c.m << "-" << c.d);
        EXPECT_EQ(c.valid, VTime::CheckDate(c.y, c.m, c.d));
        VTime t = UTC(c.y, c.m, c.d, 1, 2, 3, 4);
        EXPECT_EQ(!c.valid, t.IsNull());
        if (!c.valid)
            EXPECT_DATE(t, 0, 0, 0);  // cleared to the zero date, then null
    }
}

TEST(VTimeCalendar, ZeroDateWeekdayDoesNotReadPastTheTables)
{
    // The zero date has month 0; the calendar must carry it, not index with it.
    VTime zero;
    int32_t weekDay = zero.GetWeekDay();
    EXPECT_GE(weekDay, 0);
    EXPECT_LE(weekDay, 6);
}

TEST(VTimeCalendar, JulianCalendarDate)
{
    // 1582-10-15 (Gregorian) is 1582-10-05 in the Julian calendar.
    int16_t y, m, d;
    UTC(1582, 10, 15).GetJulianDate(y, m, d);
    EXPECT_EQ(1582, y);
    EXPECT_EQ(10, m);
    EXPECT_EQ(5, d);
    UTC(2024, 3, 14).GetJulianDate(y, m, d);
    EXPECT_EQ(2024, y);
    EXPECT_EQ(3, m);
    EXPECT_EQ(1, d);

    VTime t;
    t.FromJulianDate(2024, 3, 14);
    EXPECT_FALSE(t.IsNull());
    EXPECT_DATE(t, 2024, 3, 14);
    t.FromJulianDate(2023, 2, 29);
    EXPECT_TRUE(t.IsNull());
}

// ---------------------------------------------------------------------------
// Fields, stamp, millisecond scale

TEST(VTimeFields, ZeroDateCarriesATimeOfDayAndCountsAsZero)
{
    VTime t = UTC(0, 0, 0, 30, 0, 0, 0);
    EXPECT_FALSE(t.IsNull());
    EXPECT_DATE(t, 0, 0, 0);
    EXPECT_EQ(108000000u, t.GetMillisecondsOfDay());

    VTime noon = UTC(0, 0, 0, 12);
    EXPECT_EQ(0, noon.GetMilliseconds());
    noon.SetNull(true);
    EXPECT_EQ(-1, noon.GetMilliseconds());
    EXPECT_EQ(-1, noon.GetJulianDay());
    EXPECT_EQ(-1, noon.GetWeekDay());
    EXPECT_EQ(-1, noon.GetYearDay());

    t.FromMilliseconds(0);
    EXPECT_FALSE(t.IsNull());
    EXPECT_DATE(t, 0, 0, 0);
    EXPECT_EQ(0u, t.GetMillisecondsOfDay());
    t = UTC(2024, 5, 6);
    t.FromMilliseconds(-1);
    EXPECT_TRUE(t.IsNull());
    EXPECT_DATE(t, 2024, 5, 6);  // fields kept
}

TEST(VTimeFields, TimeFieldsAreCheckedAsUnsigned)
{
    struct {
        int h, mi, s, ms;
        bool valid;
    } cases[] = {
        {23, 59, 59, 999, true}, {24, 0, 0, 0, false}, {0, 60, 0, 0, false},
        {0, 0, 60, 0, false},   {0, 0, 0, 1000, false}, {-1, 0, 0, 0, false}, {0, 0, 0, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.h << ":" << c.mi << ":" << c.s << "." << c.ms);
        EXPECT_EQ(!c.valid, UTC(2024, 1, 1, c.h, c.mi, c.s, c.ms).IsNull());
    }
}

TEST(VTimeFields, StampPacksYearMonthDayAndMilliseconds)
{
    VTime t = UTC(2026, 12, 9, 8, 53, 53, 123);
    uint64_t expected = (uint64_t{2026} << 48) | (uint64_t{12} << 40) | (uint64_t{9} << 32) | 32033123u;
    EXPECT_EQ(expected, t.GetStamp());
    EXPECT_DOUBLE_EQ(static_cast<double>(expected), t.GetReal());

    VTime back(expected);
    EXPECT_TRUE(back == t);
    EXPECT_FALSE(back.IsNull());

    // A negative year survives the packing.
    VTime negative;
    negative.FromStamp(UTC(2000, 1, 1).GetStamp());
    negative.AddYears(-2100);
    EXPECT_EQ(-100, VTime(negative.GetStamp()).GetYear());
}

// ---------------------------------------------------------------------------
// Arithmetic

TEST(VTimeArithmetic, MonthsKeepTheDayAndCarryYears)
{
    struct {
        Date from;
        int months;
        Date to;
    } cases[] = {
        {{2024, 1, 31}, 1, {2024, 2, 31}},  // no day correction
        {{2024, 11, 15}, 2, {2025, 1, 15}},
        {{2024, 1, 15}, -1, {2023, 12, 15}},
        {{2024, 3, 15}, -27, {2021, 12, 15}},
        {{2024, 12, 1}, 12, {2025, 12, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from.y << "-" << c.from.mo << " + " << c.months);
        VTime t = UTC(c.from.y, c.from.mo, c.from.d);
        t.AddMonths(c.months);
        EXPECT_DATE(t, c.to.y, c.to.mo, c.to.d);
    }
}

TEST(VTimeArithmetic, DaysAndSmallerUnitsGoThroughTheScale)
{
    VTime t = UTC(2024, 2, 28);
    t.AddDays(1);
    EXPECT_DATE(t, 2024, 2, 29);
    t.AddDays(1);
    EXPECT_DATE(t, 2024, 3, 1);
    t.AddHours(-1);
    EXPECT_DATE(t, 2024, 2, 29);
    EXPECT_EQ(static_cast<uint32_t>(23 * kHour), t.GetMillisecondsOfDay());
    t.AddMinutes(61);
    t.AddSeconds(1);
    t.AddMilliseconds(1);
    EXPECT_EQ(UTC(2024, 3, 1, 0, 1, 1, 1), t);
    t.AddDays(-366);
    EXPECT_EQ(UTC(2023, 3, 1, 0, 1, 1, 1), t);

    VDuration d;
    UTC(2024, 1, 2).Substract(UTC(2024, 1, 1), d);
    EXPECT_EQ(kDay, d.ConvertToMilliseconds());
    EXPECT_FALSE(d.IsNull());

    VTime u = UTC(2024, 12, 31, 23, 59, 59, 999);
    u.Add(VDuration(1));
    EXPECT_EQ(UTC(2025, 1, 1), u);
    u.Substract(VDuration(kDay + 1));
    EXPECT_EQ(UTC(2024, 12, 30, 23, 59, 59, 999), u);
}

TEST(VTimeArithmetic, NullTimeStaysNull)
{
    VTime t = UTC(2024, 1, 1);
    t.SetNull(true);
    t.AddDays(3);
    t.AddMilliseconds(5);
    t.Add(VDuration(kHour));
    EXPECT_TRUE(t.IsNull());

    VDuration d;
    UTC(1970, 1, 1).Substract(t, d);
    EXPECT_EQ(210866716800000LL + 1, d.ConvertToMilliseconds());  // null counts as -1
}

TEST(VTimeArithmetic, ComparisonIgnoresNullFlags)
{
    VTime a = UTC(2024, 5, 5, 10);
    VTime b = a;
    b.SetNull(true);
    EXPECT_TRUE(a == b);
    EXPECT_EQ(CR_EQUAL, a.CompareTo(static_cast<const VValueSingle&>(b)));
    EXPECT_TRUE(UTC(2024, 5, 5, 10) < UTC(2024, 5, 5, 11));
    EXPECT_TRUE(UTC(2024, 5, 6) > UTC(2024, 5, 5, 23));
    EXPECT_TRUE(UTC(2023, 12, 31) < UTC(2024, 1, 1));
    EXPECT_TRUE(UTC(-5, 1, 1).IsNull());
    VTime negative = UTC(1, 1, 1);
    negative.AddYears(-10);
    EXPECT_TRUE(negative < UTC(0, 1, 1));  // signed years

    uint64_t stamp = UTC(2024, 5, 5, 9).GetStamp();
    EXPECT_EQ(CR_BIGGER, a.CompareToSameKindPtr(&stamp));
    EXPECT_TRUE(a.EqualToSameKind(&b));
}

TEST(VTimeArithmetic, NullIfZero)
{
    VTime t = UTC(0, 0, 0, 5);
    t.NullIfZero();
    EXPECT_TRUE(t.IsNull());
    VTime u = UTC(2024, 1, 1);
    u.NullIfZero();
    EXPECT_FALSE(u.IsNull());
}

// ---------------------------------------------------------------------------
// Value model: raw, stream, conversions

TEST(VTimeForms, RawFormIsTheStampInMachineOrder)
{
    VTime t = UTC(2024, 7, 4, 1, 2, 3, 4);
    unsigned char raw[8];
    EXPECT_EQ(raw + 8, t.WriteToPtr(raw, true));
    uint64_t stamp;
    std::memcpy(&stamp, raw, 8);
    EXPECT_EQ(t.GetStamp(), stamp);

    VTime back;
    back.SetNull(true);
    EXPECT_EQ(raw + 8, back.LoadFromPtr(raw, true));
    EXPECT_FALSE(back.IsNull());
    EXPECT_EQ(t, back);

    std::unique_ptr<VValue> loaded(VTime::sInfo.LoadFromPtr(raw, false));
    EXPECT_EQ(t, *static_cast<VTime*>(loaded.get()));
    VTime::sInfo.ByteSwapPtr(raw, true);
    std::memcpy(&stamp, raw, 8);
    EXPECT_EQ(__builtin_bswap64(t.GetStamp()), stamp);

    // The descriptor orders stamps as unsigned numbers.
    uint64_t a = UTC(2024, 1, 1).GetStamp(), b = UTC(2024, 1, 2).GetStamp();
    EXPECT_EQ(CR_SMALLER, VTime::sInfo.CompareTwoPtrToData(&a, &b, false));
    EXPECT_EQ(8u, VTime::sInfo.GetSizeOfValueDataPtr(&a));
    EXPECT_EQ(VK_TIME, t.GetValueKind());
}

TEST(VTimeForms, StreamHoldsYearMonthDayAndMillisecondsInTheStreamOrder)
{
    VTime t = UTC(2024, 7, 4, 1, 2, 3, 4);  // 3723004 ms = 0x0038CEFC
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(VE_OK, stream.OpenWriting());
        EXPECT_EQ(VE_OK, t.WriteToStream(&stream));
        ASSERT_EQ(VE_OK, stream.CloseWriting());
        VStreamUnderlyingData data = stream.GetUnderlyingData();
        ASSERT_EQ(8u, data.fSize);
        const auto* bytes = static_cast<const unsigned char*>(data.fData);
        std::vector<unsigned char> got(bytes, bytes + 8);
        std::vector<unsigned char> expected = swap ? std::vector<unsigned char>{0x07, 0xE8, 7, 4, 0x00, 0x38, 0xCE, 0xFC}
                                                   : std::vector<unsigned char>{0xE8, 0x07, 7, 4, 0xFC, 0xCE, 0x38, 0x00};
        EXPECT_EQ(expected, got);

        VTime back;
        back.SetNull(true);
        ASSERT_EQ(VE_OK, stream.OpenReading());
        EXPECT_EQ(VE_OK, back.ReadFromStream(&stream));
        EXPECT_EQ(t, back);
        EXPECT_TRUE(back.IsNull());  // the flag is not in the stream

        // A stream that runs dry leaves the fields alone and says so.
        VTime untouched = UTC(1999, 9, 9);
        EXPECT_NE(VE_OK, untouched.ReadFromStream(&stream));
        EXPECT_EQ(UTC(1999, 9, 9), untouched);
        stream.CloseReading();
    }
}

TEST(VTimeForms, ValueModelCopiesFieldsAndNullFlag)
{
    VTime source = UTC(2024, 2, 29, 12);
    source.SetNull(true);
    VTime copy;
    copy.FromValue(source);
    EXPECT_TRUE(copy.IsNull());
    EXPECT_EQ(source, copy);

    std::unique_ptr<VValue> clone(source.Clone());
    EXPECT_TRUE(clone->IsNull());
    EXPECT_TRUE(clone->IsDirty());
    EXPECT_TRUE(static_cast<VTime*>(clone.get())->operator==(source));

    VTime other;
    EXPECT_TRUE(other.FromValueSameKind(&source));
    EXPECT_TRUE(other.IsNull());

    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_TIME));
    ASSERT_NE(nullptr, generated);
    EXPECT_EQ(VTime(), *static_cast<VTime*>(generated.get()));

    // FromTime marks dirty only through a change of the null flag.
    VTime clean = UTC(2024, 1, 1);
    clean.SetDirty(false);
    clean.FromTime(UTC(2025, 1, 1));
    EXPECT_FALSE(clean.IsDirty());
    EXPECT_EQ(UTC(2025, 1, 1), clean);

    EXPECT_EQ(UTC(1970, 1, 1).GetMilliseconds(), UTC(1970, 1, 1).GetLong8OrMilliSeconds());
    VLong other8(5);
    VTime fromLong = UTC(2024, 1, 1);
    fromLong.FromValue(other8);  // a long has no time: the destination is cleared
    EXPECT_EQ(VTime(), fromLong);
}

// ---------------------------------------------------------------------------
// Local time

TEST(VTimeLocal, FieldsOnBothSidesOfADaylightSavingChange)
{
    ScopedTimeZone zone(kParis);
    struct {
        VTime utc;
        int16_t local[7];
    } cases[] = {
        {UTC(2024, 3, 31, 0, 59, 59, 500), {2024, 3, 31, 1, 59, 59, 500}},  // winter, +1
        {UTC(2024, 3, 31, 1, 0, 0, 0), {2024, 3, 31, 3, 0, 0, 0}},          // summer, +2
        {UTC(2024, 10, 27, 0, 59, 0, 0), {2024, 10, 27, 2, 59, 0, 0}},      // summer
        {UTC(2024, 10, 27, 1, 0, 0, 0), {2024, 10, 27, 2, 0, 0, 0}},        // winter again
        {UTC(2024, 12, 31, 23, 30, 0, 0), {2025, 1, 1, 0, 30, 0, 0}},       // across a year
    };
    for (const auto& c : cases) {
        int16_t f[7];
        c.utc.GetLocalTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(c.local[i], f[i]) << "field " << i;
    }
    // Back from local fields on both sides (outside the repeated hour).
    VTime t;
    t.FromLocalTime(2024, 3, 31, 3, 0, 0, 7);
    EXPECT_EQ(UTC(2024, 3, 31, 1, 0, 0, 7), t);
    t.FromLocalTime(2024, 3, 31, 1, 59, 59, 0);
    EXPECT_EQ(UTC(2024, 3, 31, 0, 59, 59, 0), t);
    t.FromLocalTime(2024, 7, 14, 12, 0, 0, 0);
    EXPECT_EQ(UTC(2024, 7, 14, 10), t);
    EXPECT_EQ(12, t.GetLocalHour());
    EXPECT_EQ(7, t.GetLocalMonth());
}

TEST(VTimeLocal, FacadeLeavesATimeWithoutDateAloneAndKeepsMilliseconds)
{
    ScopedTimeZone zone(kNewYork);
    int16_t timeOnly[7] = {0, 0, 0, 10, 0, 0, 0};
    VSystem::LocalToUTCTime(timeOnly);
    EXPECT_EQ(10, timeOnly[3]);
    EXPECT_EQ(0, timeOnly[1]);

    int16_t winter[7] = {2024, 1, 15, 10, 0, 0, 123};
    VSystem::LocalToUTCTime(winter);
    int16_t expected[7] = {2024, 1, 15, 15, 0, 0, 123};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(expected[i], winter[i]) << i;
    VSystem::UTCToLocalTime(winter);
    EXPECT_EQ(10, winter[3]);
    EXPECT_EQ(123, winter[6]);

    // Year 0 with a month and an hour is converted like any date.
    int16_t yearZero[7] = {0, 5, 0, 3, 0, 0, 0};
    int16_t before[7];
    std::memcpy(before, yearZero, sizeof(before));
    VSystem::LocalToUTCTime(yearZero);
    EXPECT_NE(0, std::memcmp(before, yearZero, sizeof(before)));

    // A zero date with a time passes through unchanged in both directions.
    VTime t;
    t.FromLocalTime(0, 0, 0, 10, 30, 0, 0);
    EXPECT_EQ(UTC(0, 0, 0, 10, 30), t);
    EXPECT_EQ(10, t.GetLocalHour());
}

TEST(VTimeLocal, GMTOffsetFollowsTheZone)
{
    {
        ScopedTimeZone zone("UTC0");
        EXPECT_EQ(0, VSystem::GetGMTOffset(true));
    }
    {
        ScopedTimeZone zone("JST-9");
        EXPECT_EQ(9 * 3600, VSystem::GetGMTOffset(true));
        EXPECT_EQ(9 * 3600, VSystem::GetGMTOffset(false));
    }
    {
        ScopedTimeZone zone(kNewYork);
        time_t now = ::time(nullptr);
        struct tm fields;
        ::localtime_r(&now, &fields);
        EXPECT_EQ(fields.tm_gmtoff, VSystem::GetGMTOffset(true));
        EXPECT_EQ(-5 * 3600, VSystem::GetGMTOffset(false));  // standard time whatever the season
    }
}

TEST(VTimeLocal, SettersReplaceOneLocalFieldAndRollOver)
{
    ScopedTimeZone zone(kParis);
    VTime t;
    t.FromLocalTime(2024, 1, 31, 10, 20, 30, 400);

    VTime u = t;
    u.SetLocalDay(32);  // rolls into February
    EXPECT_EQ(2, u.GetLocalMonth());
    EXPECT_EQ(1, u.GetLocalDay());
    u = t;
    u.SetLocalDay(0);
    EXPECT_EQ(12, u.GetLocalMonth());
    EXPECT_EQ(31, u.GetLocalDay());
    EXPECT_EQ(2023, u.GetLocalYear());

    u = t;
    u.SetLocalMonth(14);  // 31 February of the next year, normalised by the zone conversion
    EXPECT_EQ(2025, u.GetLocalYear());
    EXPECT_EQ(3, u.GetLocalMonth());
    EXPECT_EQ(3, u.GetLocalDay());
    u = t;
    u.SetLocalMonth(15);
    EXPECT_EQ(2025, u.GetLocalYear());
    EXPECT_EQ(3, u.GetLocalMonth());

    u = t;
    u.SetLocalHour(25);
    EXPECT_EQ(1, u.GetLocalDay());
    EXPECT_EQ(2, u.GetLocalMonth());
    EXPECT_EQ(1, u.GetLocalHour());
    EXPECT_EQ(20, u.GetLocalMinute());

    u = t;
    u.SetLocalMinute(5);
    u.SetLocalSecond(6);
    u.SetLocalMillisecond(7);
    u.SetLocalYear(2023);
    int16_t f[7];
    u.GetLocalTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    int16_t expected[7] = {2023, 1, 31, 10, 5, 6, 7};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(expected[i], f[i]) << i;

    VDuration sinceMidnight = t.GetLocalDurationSinceMidnight();
    EXPECT_EQ(10 * kHour + 20 * 60000 + 30400, sinceMidnight.ConvertToMilliseconds());

    // mktime of the local fields is the instant itself.
    int64_t unix = t.GetLocalUnixTime(true);
    EXPECT_EQ(t.GetMilliseconds() - UTC(1970, 1, 1).GetMilliseconds(), unix);
}

TEST(VTimeLocal, NowAndTodayAreCurrent)
{
    ScopedTimeZone zone(kParis);
    VTime now(eInitWithCurrentTime);
    int64_t unixMs = now.GetMilliseconds() - UTC(1970, 1, 1).GetMilliseconds();
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    int64_t clockMs = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    EXPECT_LE(std::llabs(clockMs - unixMs), 2000);

    VTime today;
    today.FromToday(1000);
    EXPECT_EQ(0, today.GetLocalHour());
    EXPECT_EQ(1, today.GetLocalSecond());
    EXPECT_EQ(now.GetLocalDay(), today.GetLocalDay());
    EXPECT_EQ(VTime(), VTime(eInitWithZero));
}

}  // namespace
}  // namespace bkit
