// VStringOpsTest.cpp - editing, searching, splitting and numbers of string texts.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VUUID.h"

using namespace bkit;

namespace {

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

std::u16string U(const char* ascii)
{
    std::u16string out;
    for (const char* p = ascii; *p; ++p)
        out += static_cast<char16_t>(*p);
    return out;
}

}  // namespace

TEST(VStringOps, PositionsAreOneBasedAndCheckedEverywhere)
{
    VString s("abca");
    EXPECT_EQ(s.GetUniChar(1), u'a');
    EXPECT_EQ(s.GetUniChar(4), u'a');
    EXPECT_EQ(s.GetUniChar(0), 0);
    EXPECT_EQ(s.GetUniChar(5), 0);
    EXPECT_FALSE(s.SetUniChar(0, u'x'));
    EXPECT_FALSE(s.SetUniChar(5, u'x'));

    EXPECT_EQ(s.FindUniChar(u'a', 3, true), 1);
    EXPECT_EQ(s.FindUniChar(u'a', 3, false), 4);
    EXPECT_EQ(s.FindUniChar(u'a', 5), 0);
    EXPECT_EQ(s.FindUniChar(u'a', -3), 1);
    EXPECT_EQ(VString().FindUniChar(u'a'), 0);

    struct Sub {
        VIndex first, n;
        const char* expected;
    } subs[] = {
        {1, 2, "ab"}, {3, 100, "ca"}, {0, 2, ""}, {2, 0, ""}, {5, 1, ""}, {4, INT_MAX, "a"},
    };
    for (const Sub& c : subs)
        EXPECT_EQ(Text(s.GetSubString(c.first, c.n)), U(c.expected)) << c.first << "," << c.n;

    EXPECT_EQ(Text(s.Before(1)), u"");
    EXPECT_EQ(Text(s.Before(3)), u"ab");
    EXPECT_EQ(Text(s.Before(9)), u"abca");
    EXPECT_EQ(Text(s.After(0)), u"abca");
    EXPECT_EQ(Text(s.After(2)), u"ca");
    EXPECT_EQ(Text(s.After(4)), u"");
}

TEST(VStringOps, EditingWithinAndOutsideTheText)
{
    struct Case {
        const char* name;
        void (*apply)(VString&);
        const char* expected;
    } cases[] = {
        {"insert unit front", [](VString& s) { s.Insert(u'#', 1); }, "#hello"},
        {"insert unit past end appends", [](VString& s) { s.Insert(u'#', 99); }, "hello#"},
        {"insert unit at 0 ignored", [](VString& s) { s.Insert(u'#', 0); }, "hello"},
        {"insert NUL ignored", [](VString& s) { s.Insert(u'\0', 2); }, "hello"},
        {"insert string", [](VString& s) { s.Insert(VString("XY"), 3); }, "heXYllo"},
        {"insert itself", [](VString& s) { s.Insert(s, 2); }, "hhelloello"},
        {"remove", [](VString& s) { s.Remove(2, 3); }, "ho"},
        {"remove cut at end", [](VString& s) { s.Remove(4, 100); }, "hel"},
        {"remove out of range", [](VString& s) { s.Remove(6, 1); }, "hello"},
        {"remove negative count", [](VString& s) { s.Remove(1, -1); }, "hello"},
        {"replace", [](VString& s) { s.Replace(VString("J"), 1, 1); }, "Jello"},
        {"replace longer", [](VString& s) { s.Replace(VString("ipp"), 2, 1); }, "hippllo"},
        {"replace past end", [](VString& s) { s.Replace(VString("p!"), 4, 10); }, "help!"},
        {"replace zero count", [](VString& s) { s.Replace(VString("x"), 1, 0); }, "hello"},
        {"substring", [](VString& s) { s.SubString(2, 3); }, "ell"},
        {"substring cut", [](VString& s) { s.SubString(4, 50); }, "lo"},
        {"substring before start", [](VString& s) { s.SubString(0, 3); }, "hello"},
        {"substring past end", [](VString& s) { s.SubString(9, 3); }, "hello"},
        {"substring negative count", [](VString& s) { s.SubString(2, -4); }, "hello"},
        {"trim unit", [](VString& s) { s.FromCString("xxhixx"); s.TrimUniChar(u'x'); }, "hi"},
        {"trim only that unit", [](VString& s) { s.FromCString("xxx"); s.TrimUniChar(u'x'); }, ""},
        {"append self", [](VString& s) { s.AppendString(s); }, "hellohello"},
        {"from part of self", [](VString& s) { s.FromUniString(s.GetCPointer() + 1, 3); }, "ell"},
        {"exchange unit", [](VString& s) { s.Exchange(u'l', u'L'); }, "heLLo"},
        {"exchange from start", [](VString& s) { s.Exchange(u'l', u'L', 4, 1); }, "helLo"},
    };
    for (const Case& c : cases) {
        VString s("hello");
        c.apply(s);
        EXPECT_EQ(Text(s), U(c.expected)) << c.name;
        EXPECT_EQ(s.GetCPointer()[s.GetLength()], 0) << c.name;
    }

    VString a("aaaa");
    a.Exchange(u'a', u'b', 1, 2);
    EXPECT_EQ(Text(a), u"bbaa");
    a.Exchange(u'a', u'b', 1, 0x7FFFFFFF);
    EXPECT_EQ(Text(a), u"bbbb");
    a.Exchange(u'b', u'c', 9, 1);
    EXPECT_EQ(Text(a), u"bbbb");
}

TEST(VStringOps, ExchangeRawStringInAllThreeStrategies)
{
    struct Case {
        const char* text;
        const char* pattern;
        const char* replacement;
        VIndex start, count;
        const char* expected;
        VIndex replaced;
    } cases[] = {
        {"abab", "ab", "xyz", 1, 0x7FFFFFFF, "xyzxyz", 2},
        {"abab", "ab", "xyz", 1, 1, "xyzab", 1},
        {"abab", "ab", "xy", 1, 0x7FFFFFFF, "xyxy", 2},
        {"abab", "ab", "x", 1, 0x7FFFFFFF, "xx", 2},
        {"abab", "ab", "", 1, 0x7FFFFFFF, "", 2},
        {"abab", "ab", "", 2, 0x7FFFFFFF, "ab", 1},
        {"aaaa", "aa", "a", 1, 0x7FFFFFFF, "aa", 2},  // no overlap, search goes on after
        {"aaa", "a", "aa", 1, 0x7FFFFFFF, "aaaaaa", 3},
        {"one two one", "one", "three", 2, 5, "one two three", 1},
        {"abc", "x", "y", 1, 5, "abc", 0},
        {"abc", "b", "y", 1, 0, "abc", 0},
        {"abc", "b", "y", 0, 5, "abc", 0},   // start before the text
        {"abc", "b", "y", 50, 5, "abc", 0},  // start past the text
        {"abc", "", "y", 1, 5, "abc", 0},
    };
    for (const Case& c : cases) {
        VString s(c.text);
        VIndex replaced = s.ExchangeRawString(VString(c.pattern), VString(c.replacement), c.start, c.count);
        EXPECT_EQ(Text(s), U(c.expected)) << c.text << " / " << c.pattern << " -> " << c.replacement;
        EXPECT_EQ(replaced, c.replaced) << c.text << " / " << c.pattern;
    }
}

TEST(VStringOps, RawSearchFindsLongPatternsAndRespectsStart)
{
    std::string haystack(3000, 'a');
    std::string needle(299, 'a');
    needle += 'b';
    haystack.replace(2000, needle.size(), needle);
    VString text(haystack.c_str());
    VString pattern(needle.c_str());
    EXPECT_EQ(text.FindRawString(pattern), 2001);
    EXPECT_EQ(text.FindRawString(pattern, 2001), 2001);
    EXPECT_EQ(text.FindRawString(pattern, 2002), 0);

    VString s("abcabc");
    EXPECT_EQ(s.FindRawString(VString("bc"), 3), 5);
    EXPECT_EQ(s.FindRawString(VString(""), 4), 4);
    EXPECT_EQ(s.FindRawString(VString("bc"), 0), 0);
    EXPECT_EQ(s.FindRawString(VString("abcabcd")), 0);
    EXPECT_EQ(VString::FindRawString(u"aabaabaaa", 9, u"aabaaa", 6), 4);
    EXPECT_TRUE(s.BeginsWithRawString(VString("abc")));
    EXPECT_TRUE(s.EndsWithRawString(VString("cabc")));
    EXPECT_FALSE(s.EndsWithRawString(VString("xabcabc")));
}

TEST(VStringOps, RawSearchAgreesWithTheStandardSearch)
{
    // Texts over two or three letters make many false starts (the matcher
    // changes strategy on those) and matches at every offset, the last
    // possible start and unit 0x0000 included.
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    const char16_t alphabets[][3] = {{u'a', u'b', u'a'}, {u'a', u'b', u'c'}, {u'\0', u'\xFFFF', u'x'}};
    for (int round = 0; round < 3000; ++round) {
        const char16_t* letters = alphabets[round % 3];
        std::u16string text(next() % 70, u' '), pattern(1 + next() % (round % 50 == 0 ? 300 : 9), u' ');
        for (char16_t& c : text)
            c = letters[(next() >> 8) % 3];
        for (char16_t& c : pattern)
            c = letters[(next() >> 8) % 3];
        if (round % 4 == 0 && text.size() >= pattern.size())
            text.replace(text.size() - pattern.size(), pattern.size(), pattern);
        size_t expected = text.find(pattern);
        VIndex found = VString::FindRawString(text.data(), static_cast<VIndex>(text.size()), pattern.data(),
                                              static_cast<VIndex>(pattern.size()));
        ASSERT_EQ(expected == std::u16string::npos ? 0 : static_cast<VIndex>(expected + 1), found)
            << "round " << round;
    }

    // Long self-repeating patterns over a long text: linear time and the
    // right place.
    std::u16string text(200000, u'a');
    std::u16string pattern(5000, u'a');
    pattern.back() = u'b';
    text.replace(150000, pattern.size(), pattern);
    EXPECT_EQ(150001, VString::FindRawString(text.data(), static_cast<VIndex>(text.size()), pattern.data(),
                                             static_cast<VIndex>(pattern.size())));
}

TEST(VStringOps, SplittingAndJoining)
{
    struct Case {
        const char* text;
        bool keepEmpty, trim;
        std::vector<const char*> pieces;
        bool found;
    } cases[] = {
        {"a,,b,", false, false, {"a", "b"}, true},
        {"a,,b,", true, false, {"a", "", "b", ""}, true},
        {" a , b ", false, true, {"a", "b"}, true},
        {"alone", false, false, {"alone"}, false},
        {"", true, false, {""}, false},
        {"", false, false, {}, false},
    };
    // The string array receives the same pieces, in place of what it held.
    VArrayString array;
    for (const Case& c : cases) {
        std::vector<VString> pieces;
        EXPECT_EQ(VString(c.text).GetSubStrings(u',', pieces, c.keepEmpty, c.trim), c.found) << c.text;
        ASSERT_EQ(pieces.size(), c.pieces.size()) << c.text;
        for (size_t i = 0; i < pieces.size(); ++i)
            EXPECT_EQ(Text(pieces[i]), U(c.pieces[i])) << c.text << " piece " << i;

        array.AppendString(VString("stale"));
        EXPECT_EQ(VString(c.text).GetSubStrings(u',', array, c.keepEmpty, c.trim), c.found) << c.text;
        ASSERT_EQ(static_cast<size_t>(array.GetCount()), c.pieces.size()) << c.text;
        for (int32_t i = 1; i <= array.GetCount(); ++i) {
            VString piece;
            array.GetString(piece, i);
            EXPECT_EQ(Text(piece), U(c.pieces[static_cast<size_t>(i - 1)])) << c.text << " element " << i;
        }
    }

    std::vector<VString> parts = {VString("a"), VString(""), VString("b")};
    VString joined("old");
    EXPECT_TRUE(joined.Join(parts, u'/'));
    EXPECT_EQ(Text(joined), u"a//b");
    EXPECT_TRUE(joined.Join(parts, VString("--")));
    EXPECT_EQ(Text(joined), u"a----b");
    EXPECT_TRUE(joined.Join({}, VString("--")));
    EXPECT_TRUE(joined.IsEmpty());
    EXPECT_EQ(Text(VString("con") + VString("cat")), u"concat");
}

TEST(VStringOps, NumbersFromText)
{
    struct Case {
        const char* text;
        int64_t long8;
        int32_t long4;
        int16_t word;
    } cases[] = {
        {"", 0, 0, 0},
        {"1,234", 1234, 1234, 1234},
        {"12.75", 12, 12, 12},
        {"-5", -5, -5, -5},
        {"abc", 0, 0, 0},
        {"1-2", 12, 12, 12},
        {"--3", -3, -3, -3},
        {"0-7", -7, -7, -7},
        {"3000000000", 3000000000LL, 0, 0},
        {"40000", 40000, 40000, 0},
        {"-2147483648", INT32_MIN, INT32_MIN, 0},
        {"9223372036854775807", INT64_MAX, 0, 0},
        {"-9223372036854775808", INT64_MIN, 0, 0},
        // Past 64 bits the value wraps like unsigned arithmetic, without overflow.
        {"18446744073709551617", 1, 1, 1},
    };
    for (const Case& c : cases) {
        VString s(c.text);
        EXPECT_EQ(s.GetLong8(), c.long8) << c.text;
        EXPECT_EQ(s.GetLong(), c.long4) << c.text;
        EXPECT_EQ(s.GetWord(), c.word) << c.text;
    }

    bool overflow = true;
    EXPECT_DOUBLE_EQ(VString("2.5e3").GetRealCheckOverflow(&overflow), 2500.0);
    EXPECT_FALSE(overflow);
    VString("1e999").GetRealCheckOverflow(&overflow);
    EXPECT_TRUE(overflow);
    EXPECT_DOUBLE_EQ(VString("-0.125").GetReal(), -0.125);
}

TEST(VStringOps, NumbersToText)
{
    VString s;
    s.FromLong(0);
    EXPECT_EQ(Text(s), u"0");
    s.FromLong(INT32_MIN);
    EXPECT_EQ(Text(s), u"-2147483648");
    s.FromLong8(INT64_MIN);
    EXPECT_EQ(Text(s), u"-9223372036854775808");
    s.FromULong8(UINT64_MAX);
    EXPECT_EQ(Text(s), u"18446744073709551615");
    s.FromReal(0.1);
    EXPECT_EQ(Text(s), u"0.1");
    s.FromReal(1e20);
    EXPECT_EQ(Text(s), u"1E+20");
    s.FromBoolean(1);
    EXPECT_EQ(Text(s), u"true");
    s.FromWord(-12);
    s.AppendLong(7).AppendULong8(8);
    EXPECT_EQ(Text(s), u"-1278");

    // A number replaces a shared text without touching the other owner.
    VString shared("shared text that is long enough");
    VString copy(shared);
    copy.FromLong(5);
    EXPECT_EQ(Text(copy), u"5");
    EXPECT_EQ(Text(shared), u"shared text that is long enough");
}

TEST(VStringOps, TimesAndUUIDsPassThroughTheirText)
{
    VTime time;
    time.FromUTCTime(2024, 3, 5, 6, 7, 8, 9);
    VString text("old text");
    text.FromTime(time);
    VString expected;
    time.GetString(expected);
    EXPECT_EQ(Text(text), Text(expected));

    // A string holding an ISO date and time gives that time, also through the
    // value path of the time.
    VString iso("2024-03-05T06:07:08.009Z");
    VTime back, viaValue;
    iso.GetTime(back);
    viaValue.FromValue(iso);
    for (const VTime* read : {&back, &viaValue}) {
        EXPECT_FALSE(read->IsNull());
        EXPECT_TRUE(read->EqualToSameKind(&time, true));
    }

    VUUID uuid(VString("00112233445566778899AABBCCDDEEFF"));
    text.FromVUUID(uuid);
    EXPECT_EQ(Text(text), u"00112233445566778899AABBCCDDEEFF");
    VUUID read;
    VString("ffeeddcc-bbaa-9988-7766-554433221100").GetVUUID(read);
    VString readText;
    read.GetString(readText);
    EXPECT_EQ(Text(readText), u"FFEEDDCCBBAA99887766554433221100");
}

TEST(VStringOps, RawComparisonsAndWhiteSpace)
{
    EXPECT_EQ(VString("abc").CompareToStringRaw(VString("abd")), CR_SMALLER);
    EXPECT_EQ(VString("abc").CompareToStringRaw(VString("ab")), CR_BIGGER);
    EXPECT_EQ(VString("abc").CompareToStringRaw(VString("abc")), CR_EQUAL);
    EXPECT_EQ(VString("ABC").CompareToStringRawCase(VString("abc")), CR_EQUAL);
    EXPECT_EQ(VString("ABC").CompareToStringRawCase(VString("abd")), CR_SMALLER);
    EXPECT_TRUE(VString("__LockerID").EqualToUSASCIICString("__LockerID"));
    EXPECT_FALSE(VString("__LockerID").EqualToUSASCIICString("__Locker"));
    EXPECT_FALSE(VString("ab").EqualToUSASCIICString("abc"));

    VIndex lead = -1, trail = -1;
    VString s(" \t text \t ");
    s.RemoveWhiteSpaces(true, true, &lead, &trail);
    EXPECT_EQ(Text(s), u"text");
    EXPECT_EQ(lead, 3);
    EXPECT_EQ(trail, 3);
    VString onlyTrailing("  x  ");
    onlyTrailing.RemoveWhiteSpaces(false, true);
    EXPECT_EQ(Text(onlyTrailing), u"  x");

    struct Mode {
        const char16_t* text;
        ECarriageReturnMode mode;
    } modes[] = {
        {u"a\nb\r", eCRM_LF}, {u"a\r\nb", eCRM_CRLF}, {u"a\rb\n", eCRM_CR}, {u"none", eCRM_NONE}, {u"", eCRM_NONE},
    };
    for (const Mode& m : modes)
        EXPECT_EQ(VString(m.text).GetCarriageReturnMode(eCRM_NONE), m.mode);

    EXPECT_TRUE(VString("2024-03-05").IsISODate());
    EXPECT_FALSE(VString("2024-3-05").IsISODate());
    EXPECT_TRUE(VString("!!2024-03-05!!").IsNonAmbigousDate());
    EXPECT_FALSE(VString("!!2024-03-05!").IsNonAmbigousDate());
}

TEST(VStringOps, SimilarityIsLongestCommonSubsequenceOverLength)
{
    EXPECT_DOUBLE_EQ(VString("abcd").SimilarToString(VString("abxd")), 0.75);
    EXPECT_DOUBLE_EQ(VString("ab").SimilarToString(VString("xxaxxbxx")), 1.0);
    EXPECT_DOUBLE_EQ(VString("xxaxxbxx").SimilarToString(VString("ab")), 0.25);
    EXPECT_DOUBLE_EQ(VString("").SimilarToString(VString("ab")), 0.0);
    EXPECT_DOUBLE_EQ(VString("ab").SimilarToString(VString("")), 0.0);

    // Long texts need only a row of the shorter one.
    std::string longer(20000, 'a');
    std::string shorter(100, 'a');
    EXPECT_DOUBLE_EQ(VString(shorter.c_str()).SimilarToString(VString(longer.c_str())), 1.0);
}
