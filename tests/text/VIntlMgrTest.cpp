// VIntlMgrTest.cpp - creation, locale variables, formats, characters, case and
// words of the international manager.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VValue.h"

using namespace bkit;

namespace {

std::string UTF8(const VString& s)
{
    StStringConverter<char> converter(s);
    return converter.GetCPointer() ? std::string(converter.GetCPointer()) : std::string();
}

VRefPtr<VIntlMgr> Manager(uint32_t dialect)
{
    return VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(dialect, dialect, 0));
}

// 5 March 2024, 13:07:09 UTC (a Tuesday).
VTime TestTime()
{
    VTime time;
    time.FromUTCTime(2024, 3, 5, 13, 7, 9, 0);
    return time;
}

}  // namespace

TEST(VIntlMgr, CreateFallsBackToPrimaryDialectThenUSEnglish)
{
    struct Case {
        uint32_t dialect;
        uint32_t collator;
        uint32_t expected;
        uint32_t expectedCollator;
    } cases[] = {
        {5, 5, 1029, 1029},         // primary dialect of language 5
        {9999, 9999, 1033, 1033},   // nothing near it
        {3084, 3084, 3084, 3084},   // a regional dialect of its own
        {1036, 1054, 1036, 1033},   // Thai collation sorts as US English
        {1038, 1038, 1038, 1033},   // and so does Hungarian
        {7 * 1024 + 12, 1036, 1036, 1036},  // unknown French variant
    };
    for (const Case& c : cases) {
        VRefPtr<VIntlMgr> manager = VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(c.dialect, c.collator, 0));
        ASSERT_NE(manager.Get(), nullptr);
        EXPECT_EQ(manager->GetDialectCode(), c.expected) << c.dialect;
        EXPECT_EQ(manager->GetCollator()->GetDialectCode(), c.expectedCollator) << c.collator;
    }
}

TEST(VIntlMgr, CloneSharesVariablesAndOwnsItsCollator)
{
    VRefPtr<VIntlMgr> manager = Manager(1036);
    manager->GetCollator()->SetWildChar(u'*');
    VRefPtr<VIntlMgr> copy = VRefPtr<VIntlMgr>::Adopt(manager->Clone());
    EXPECT_NE(copy->GetCollator(), manager->GetCollator());
    EXPECT_EQ(copy->GetWildChar(), u'*');
    EXPECT_EQ(UTF8(copy->GetDecimalSeparator()), ",");
    EXPECT_EQ(copy->GetDateOrder(), manager->GetDateOrder());
    copy->Reset();
    EXPECT_EQ(copy->GetWildChar(), u'@');
    EXPECT_EQ(manager->GetWildChar(), u'*');
    VString name;
    copy->GetMonthName(3, false, name);  // the copy makes its own locale again
    EXPECT_EQ(UTF8(name), "mars");
}

TEST(VIntlMgr, LocaleVariablesOfSomeDialects)
{
    struct Case {
        uint32_t dialect;
        const char* decimal;
        const char* thousands;
        const char* dateSeparator;
        const char* timeSeparator;
        int32_t dateOrder;
        bool amPm;
        const char* currency;
    } cases[] = {
        {1033, ".", ",", "/", ":", 0, true, "$"},
        {1036, ",", "\u202F", "/", ":", 1, false, "\u20AC"},
        {1031, ",", ".", ".", ":", 1, false, "\u20AC"},
        {1041, ".", ",", "/", ":", 2, false, "\uFFE5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialect);
        VRefPtr<VIntlMgr> manager = Manager(c.dialect);
        EXPECT_EQ(UTF8(manager->GetDecimalSeparator()), c.decimal);
        EXPECT_EQ(UTF8(manager->GetThousandsSeparator()), c.thousands);
        EXPECT_EQ(UTF8(manager->GetDateSeparator()), c.dateSeparator);
        EXPECT_EQ(UTF8(manager->GetTimeSeparator()), c.timeSeparator);
        EXPECT_EQ(manager->GetDateOrder(), c.dateOrder);
        EXPECT_EQ(manager->UseAmPm(), c.amPm);
        EXPECT_EQ(UTF8(manager->GetCurrency()), c.currency);
        EXPECT_FALSE(manager->GetDatePattern(0).IsEmpty());
        EXPECT_FALSE(manager->GetTimePattern(3).IsEmpty());
    }
}

TEST(VIntlMgr, FormatsDatesAndTimesInTheDialect)
{
    struct Case {
        uint32_t dialect;
        const char* shortDate;
        const char* fullDate;
        const char* shortTime;
    } cases[] = {
        {1033, "3/5/24", "Tuesday, March 5, 2024", "1:07\u202FPM"},
        {1036, "05/03/2024", "mardi 5 mars 2024", "13:07"},
        {1031, "05.03.24", "Dienstag, 5. M\u00E4rz 2024", "13:07"},
        {1041, "2024/03/05", "2024\u5E743\u67085\u65E5\u706B\u66DC\u65E5", "13:07"},
    };
    VTime time = TestTime();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialect);
        VRefPtr<VIntlMgr> manager = Manager(c.dialect);
        VString text;
        manager->FormatDate(time, text, eOS_SHORT_FORMAT, true);
        EXPECT_EQ(UTF8(text), c.shortDate);
        manager->FormatDate(time, text, eOS_LONG_FORMAT, true);
        EXPECT_EQ(UTF8(text), c.fullDate);
        manager->FormatTime(time, text, eOS_SHORT_FORMAT, true);
        EXPECT_EQ(UTF8(text), c.shortTime);
        manager->FormatTime(time, text, eOS_MEDIUM_FORMAT, true);
        EXPECT_NE(UTF8(text).find("07:09"), std::string::npos) << UTF8(text);
    }
}

TEST(VIntlMgr, FormatEdgeStyles)
{
    VRefPtr<VIntlMgr> manager = Manager(1033);
    VString text("untouched");
    manager->FormatDate(TestTime(), text, static_cast<EOSFormats>(7), true);
    EXPECT_EQ(UTF8(text), "untouched");
    manager->FormatTime(TestTime(), text, static_cast<EOSFormats>(7), true);  // no style at all
    EXPECT_TRUE(text.IsEmpty());

    VDuration duration;
    duration.FromNbHours(2);
    duration.AddMinutes(5);
    const char* tz = std::getenv("TZ");
    std::string saved = tz ? tz : "";
    setenv("TZ", "UTC", 1);
    manager->FormatDuration(duration, text, eOS_MEDIUM_FORMAT);
    if (tz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    EXPECT_EQ(UTF8(text), "2:05:00\u202FAM");

    EXPECT_EQ(manager->CustomFormatTime(TestTime(), false, VString("x"), text), 0);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(VIntlMgr, FormatsWithLetterPatterns)
{
    struct Case {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"dd/MM/yyyy", "05/03/2024"},
        {"d/M/y", "5/3/2024"},
        {"yy", "2024"},
        {"yyyyyy", "002024"},
        {"EEEE", "Tuesday"},
        {"EEE", "Tue"},
        {"EEEEE", "T"},
        {"EEEEEE", "Tu"},
        {"MMM MMMM MMMMM", "Mar March M"},
        {"yyyy-MM-dd'T'HH:mm:ss", "2024-03-05'T'13:07:09"},
        {"hh:mm a", "01:07 PM"},
        {"kk KK", "13 01"},
        {"D DDD", "65 065"},
        {"G GGGG GGGGG", "AD Anno Domini A"},
        {"zZS", ""},
        {"g", "2460375"},
        {"[x]", "[x]"},
    };
    VRefPtr<VIntlMgr> manager = Manager(1033);
    for (const Case& c : cases) {
        VString out("old");
        manager->FormatDateTimeWithPattern(TestTime(), VString(c.pattern), true, nullptr, out);
        EXPECT_EQ(UTF8(out), c.expected) << c.pattern;
    }
    VString month("Lenz");
    VString out;
    manager->FormatDateTimeWithPattern(TestTime(), VString("MMM|MMMMM"), true, &month, out);
    EXPECT_EQ(UTF8(out), "Lenz|L");

    VTime midnight;
    midnight.FromUTCTime(2024, 3, 5, 0, 30, 0, 0);
    manager->FormatDateTimeWithPattern(midnight, VString("h k K H a"), true, nullptr, out);
    EXPECT_EQ(UTF8(out), "12 24 0 0 AM");
}

TEST(VIntlMgr, MonthAndWeekdayNames)
{
    VRefPtr<VIntlMgr> manager = Manager(1031);
    VString name;
    manager->GetMonthName(3, false, name);
    EXPECT_EQ(UTF8(name), "M\u00E4rz");
    manager->GetMonthName(12, true, name);
    EXPECT_EQ(UTF8(name), "Dez.");
    manager->GetWeekDayName(0, false, name);
    EXPECT_EQ(UTF8(name), "Sonntag");
    manager->GetWeekDayName(7, false, name);
    EXPECT_TRUE(name.IsEmpty());
    name = "x";
    manager->GetMonthName(0, true, name);
    EXPECT_TRUE(name.IsEmpty());
}

TEST(VIntlMgr, CharacterClasses)
{
    VRefPtr<VIntlMgr> manager = Manager(1033);
    struct Case {
        UniChar c;
        bool alpha, digit, punct, space;
    } cases[] = {
        {u'A', true, false, false, false},      {u'z', true, false, false, false},
        {u'[', false, false, true, false},      {u'+', false, false, false, false},
        {u'#', false, false, true, false},      {u'$', false, false, false, false},
        {u'5', false, true, false, false},      {0x00B2, false, true, false, false},
        {0x0663, false, true, false, false},    {0xFF19, false, true, false, false},
        {0x00E9, true, false, false, false},    {0x4E00, true, false, false, false},
        {0xFFDC, true, false, false, false},    {0xFFDD, false, false, false, false},
        {0xFF65, false, false, true, false},    {0xFF5C, false, false, false, false},
        {0x0020, false, false, false, true},    {0x00A0, false, false, false, true},
        {0x200B, false, false, false, true},    {0x200C, false, false, false, false},
        {0x0009, false, false, false, false},   {0x3000, false, false, false, true},
        {0x000D, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(c.c));
        EXPECT_EQ(manager->IsAlpha(c.c), c.alpha);
        EXPECT_EQ(manager->IsDigit(c.c), c.digit);
        EXPECT_EQ(manager->IsPunctuation(c.c), c.punct);
        EXPECT_EQ(manager->IsSpace(c.c), c.space);
    }
    EXPECT_EQ(manager->CharDigitValue(u'7'), 7);
    EXPECT_EQ(manager->CharDigitValue(0x0667), -1);

    EXPECT_TRUE(VIntlMgr::IsAMacCharacter('\t', 0));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter(0x7F, 0));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter(0xCD, 1));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter('7', 1));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter('7', 2));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter(0x85, 3));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter('_', 4));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter('a', 5));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter('a', 6));
}

TEST(VIntlMgr, CaseMappingIgnoresTheDialect)
{
    struct Case {
        const char* text;
        bool upper;
        const char* expected;
    } cases[] = {
        {"stra\u00DFe", true, "STRASSE"},    // length changes
        {"istanbul", true, "ISTANBUL"},      // no Turkish dotted capital I
        {"\u00C9T\u00C9", false, "\u00E9t\u00E9"},
        {"", true, ""},
    };
    for (uint32_t dialect : {1033u, 1055u}) {
        VRefPtr<VIntlMgr> manager = Manager(dialect);
        for (const Case& c : cases) {
            VString text(c.text);
            manager->ToUpperLowerCase(text, false, c.upper);
            EXPECT_EQ(UTF8(text), c.expected) << dialect << " " << c.text;
        }
    }
    // Longer than the stack buffer.
    std::string longText(300, 'a');
    longText += "\u00DF";
    VString text(longText.c_str());
    Manager(1033)->ToUpperLowerCase(text, false, true);
    EXPECT_EQ(text.GetLength(), 302);
    EXPECT_EQ(UTF8(text), std::string(300, 'A') + "SS");
}

TEST(VIntlMgr, WordBoundaries)
{
    std::vector<std::pair<VIndex, VIndex>> words;
    EXPECT_TRUE(VIntlMgr::GetWordBoundariesWithOptions(VString("  hello, w0rld!\tx"), words, 1));
    std::vector<std::pair<VIndex, VIndex>> expected = {{3, 5}, {10, 5}, {17, 1}};
    EXPECT_EQ(words, expected);
    EXPECT_FALSE(VIntlMgr::GetWordBoundariesWithOptions(VString("hello"), words, 2));
    EXPECT_TRUE(words.empty());
    EXPECT_FALSE(VIntlMgr::GetWordBoundariesWithOptions(VString(""), words, 1));
}

TEST(VIntlMgr, FindStringsAdvancesPastEveryMatch)
{
    VRefPtr<VIntlMgr> manager = Manager(1033);
    std::vector<std::pair<VIndex, VIndex>> found;
    // One-unit matches used to be found again and again.
    manager->FindStrings(VString("a.b.c"), VString("."), eFindAnywhere, false, found, true);
    std::vector<std::pair<VIndex, VIndex>> expected = {{2, 1}, {4, 1}};
    EXPECT_EQ(found, expected);

    manager->FindStrings(VString("aaa"), VString("aa"), eFindAnywhere, false, found, true);
    expected = {{1, 2}, {2, 2}};  // from the match's last unit: overlapping by one
    EXPECT_EQ(found, expected);

    struct Case {
        EFindStringMode mode;
        std::vector<std::pair<VIndex, VIndex>> expected;
    } cases[] = {
        {eFindAnywhere, {{1, 3}, {5, 3}, {14, 3}}},
        {eFindWholeWord, {{1, 3}}},
        {eFindStartsWithWord, {{1, 3}, {5, 3}}},
        {eFindEndsWithWord, {{1, 3}, {14, 3}}},
    };
    VString text("cat catch bobcat");
    for (const Case& c : cases) {
        manager->FindStrings(text, VString("CAT"), c.mode, false, found, true);
        EXPECT_EQ(found, c.expected) << c.mode;
    }
    manager->FindStrings(text, VString("cat"), eFindAnywhere, false, found, false);
    EXPECT_EQ(found.size(), 1u);
    manager->FindStrings(text, VString(""), eFindAnywhere, false, found, true);
    EXPECT_TRUE(found.empty());
}

TEST(VIntlMgr, FindWord)
{
    VRefPtr<VIntlMgr> manager = Manager(1033);
    VCompareOptions options;
    EXPECT_TRUE(manager->FindWord(VString("the Cat sat"), VString("cat"), options));
    EXPECT_FALSE(manager->FindWord(VString("concatenate cats"), VString("cat"), options));
    EXPECT_TRUE(manager->FindWord(VString("concatenate cat"), VString("cat"), options));
    options.SetLike(true);
    EXPECT_TRUE(manager->FindWord(VString("the caterpillar"), VString("cat@"), options));
    EXPECT_FALSE(manager->FindWord(VString("the dog"), VString("cat@"), options));
    options.SetDiacritical(true);
    EXPECT_FALSE(manager->FindWord(VString("the Caterpillar"), VString("cat@"), options));
}

TEST(VIntlMgr, SignaturesBidiAndDebugConversion)
{
    VRefPtr<VIntlMgr> manager = Manager(1033);
    VString signature;
    manager->GetKewordAlgorithmSignature(signature);
    EXPECT_EQ(UTF8(signature), "AlphaNum");
    manager->GetStringComparisonAlgorithmSignature(signature);
    EXPECT_TRUE(signature.BeginsWithRawString(VString("system:")));

    std::vector<VBidiRun> runs;
    std::vector<int32_t> order;
    EXPECT_TRUE(VIntlMgr::GetBidiRuns(u"abc\r", 4, runs, order, 1, true));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].fLength, 3);
    EXPECT_EQ(runs[0].fRightToLeft, 1);
    EXPECT_EQ(order, std::vector<int32_t>{0});
    EXPECT_FALSE(VIntlMgr::GetBidiRuns(u"abc\r", 4, runs, order, 0, false));
    EXPECT_EQ(runs[0].fLength, 4);

    VString text;
    EXPECT_TRUE(manager->TextLogicalToVisual(text, 0));
    text = "\r";
    EXPECT_TRUE(manager->TextLogicalToVisual(text, 0));
    text = "ab";
    EXPECT_FALSE(manager->TextLogicalToVisual(text, 0));

    char source[4] = {'a', 'b', 'c', 'd'};
    char target[4] = {};
    int32_t targetSize = 3;
    EXPECT_TRUE(VIntlMgr::DebugConvertString(source, 4, VTC_UTF_8, target, targetSize, VTC_UTF_8));
    EXPECT_EQ(targetSize, 3);
    EXPECT_EQ(std::string(target, 3), "abc");
    EXPECT_FALSE(VIntlMgr::DebugConvertString(source, 4, VTC_UTF_8, target, targetSize, VTC_UTF_16));
}

TEST(VIntlMgr, ManagersOfDifferentThreadsWorkSideBySide)
{
    // Each thread has its own managers and collators; only constant tables
    // and the once-resolved system dialect are shared.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            uint32_t dialects[] = {1033, 1036, 1031, 1041};
            VRefPtr<VIntlMgr> manager = Manager(dialects[t]);
            for (int i = 0; i < 200; ++i) {
                if (manager->CompareString(u"r\u00E9sum\u00E9", 6, u"RESUME", 6, false) != CR_EQUAL)
                    ++failures;
                if (!manager->EqualString_Like(u"abcdef", 6, u"a@f", 3, false))
                    ++failures;
                if (VIntlMgr::ResolveDialectCode(0) != VIntlMgr::ResolveDialectCode(static_cast<uint32_t>(-1)))
                    ++failures;
                VString text;
                manager->FormatDate(TestTime(), text, eOS_SHORT_FORMAT, true);
                if (text.IsEmpty())
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}
