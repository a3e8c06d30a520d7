// VStringCompareTest.cpp - locale-aware comparison, search, LIKE patterns and case of strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/platform/LocaleStringCompare.h"
#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/VValue.h"

using namespace bkit;

namespace {

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

}  // namespace

TEST(VStringCompare, DiacriticsFlagGovernsCaseAndAccentsButNeverWidth)
{
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool equalWith;
        bool equalWithout;
    } cases[] = {
        {u"abc", u"abc", true, true},
        {u"abc", u"ABC", false, true},
        {u"café", u"cafe", false, true},
        {u"cafe\u0301", u"café", true, true},  // composed or not
        {u"\uFF21\uFF22", u"AB", true, true},   // full-width letters
        {u"\uFF76", u"\u30AB", true, true},     // half-width katakana
        {u"abc", u"abd", false, false},
        {u"", u"", true, true},
    };
    for (const Case& c : cases) {
        VString a(c.a), b(c.b);
        EXPECT_EQ(a.EqualToString(b, true), c.equalWith) << Text(a).size();
        EXPECT_EQ(a.EqualToString(b, false), c.equalWithout) << Text(a).size();
    }
    EXPECT_EQ(VString("a").CompareToString(VString("b")), CR_SMALLER);
    EXPECT_EQ(VString("b").CompareToString(VString("a")), CR_BIGGER);
    EXPECT_EQ(VString("").CompareToString(VString("a")), CR_SMALLER);
    EXPECT_EQ(VString("a").CompareToString(VString("")), CR_BIGGER);
}

TEST(VStringCompare, FindBeginsAndEndsThroughTheCollator)
{
    VString text("Le Café de la Gare");
    EXPECT_EQ(text.Find(VString("cafe")), 4);
    EXPECT_EQ(text.Find(VString("cafe"), 1, true), 0);
    EXPECT_EQ(text.Find(VString("Café"), 1, true), 4);
    EXPECT_EQ(text.Find(VString("gare"), 5), 15);
    EXPECT_EQ(text.Find(VString("le"), 2), 0);
    EXPECT_EQ(text.Find(VString("x"), 0), 0);     // start before the text
    EXPECT_EQ(text.Find(VString("x"), 200), 0);   // start past the text
    EXPECT_EQ(VString("\uFF21BC").Find(VString("b"), 1, false), 2);

    EXPECT_TRUE(text.BeginsWith(VString("le CAFE")));
    EXPECT_FALSE(text.BeginsWith(VString("le CAFE"), true));
    EXPECT_FALSE(text.BeginsWith(VString("Café")));
    EXPECT_TRUE(text.EndsWith(VString("GARE")));
    EXPECT_FALSE(text.EndsWith(VString("la")));
    EXPECT_TRUE(VString("abcabc").EndsWith(VString("abc")));

    VIndex matchLength = -1;
    VCollator* collator = VIntlMgr::GetCurrentOrDefault()->GetCollator();
    EXPECT_EQ(collator->FindString(u"abc", 3, u"", 0, false, &matchLength), 1);
    EXPECT_EQ(collator->FindString(u"", 0, u"a", 1, false, &matchLength), 0);
    EXPECT_TRUE(collator->EndsWithString(u"abcabc", 6, u"abc", 3, false, &matchLength));
    EXPECT_EQ(matchLength, 3);
    EXPECT_EQ(collator->ReversedFindString(u"abcabc", 6, u"ABC", 3, false, &matchLength), 4);
}

TEST(VStringCompare, LikePatterns)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        bool withDiacritics;
        bool matches;
    } cases[] = {
        {u"abcdef", u"abc@", false, true},
        {u"abcdef", u"@def", false, true},
        {u"abcdef", u"a@c@f", false, true},
        {u"abc", u"a@x", false, false},
        {u"abc", u"@", false, true},
        {u"", u"@", false, true},
        {u"", u"@@", false, true},
        {u"ABC", u"abc", false, true},
        {u"ABC", u"abc", true, false},
        {u"\u00E9", u"e", false, true},
        {u"\u00E9", u"e", true, false},
        {u"a\u0001bc", u"abc", false, true},
        {u"abc", u"a\u0001b@", false, true},
        {u"abcdef", u"@cd@", false, true},
        {u"abcdef", u"@xy@", false, false},
        {u"abc", u"abcd", false, false},
        {u"abcd", u"abc", false, false},
    };
    for (const Case& c : cases) {
        VString text(c.text), pattern(c.pattern);
        EXPECT_EQ(text.EqualToString_Like(pattern, c.withDiacritics), c.matches)
            << Text(text).size() << " like pattern of " << Text(pattern).size();
        EXPECT_EQ(text.CompareToString_Like(pattern, c.withDiacritics) == CR_EQUAL, c.matches)
            << Text(text).size() << " compare-like pattern of " << Text(pattern).size();
    }
}

TEST(VStringCompare, ValueComparisonsAndOptions)
{
    VString a("Apple"), b("apple"), prefix("app");
    EXPECT_TRUE(a.EqualToSameKind(&b, false));
    EXPECT_FALSE(a.EqualToSameKind(&b, true));
    EXPECT_EQ(a.CompareBeginingToSameKind(&prefix, false), CR_EQUAL);
    EXPECT_EQ(a.CompareToSameKind(&prefix, false), CR_BIGGER);

    char data[64];
    prefix.WriteToPtr(data, false);
    EXPECT_EQ(a.CompareBeginingToSameKindPtr(data, false), CR_EQUAL);
    EXPECT_EQ(a.Swap_CompareToSameKindPtr(data, false), CR_SMALLER);

    // LIKE in both directions over flat data: the receiver as the text, then
    // the flat data as the text with the receiver as the pattern.
    VString likePattern("ap@"), likeText("apricot");
    char patternData[64], textData[64];
    likePattern.WriteToPtr(patternData, false);
    likeText.WriteToPtr(textData, false);
    EXPECT_EQ(likeText.CompareToSameKindPtr_Like(patternData, false), CR_EQUAL);
    EXPECT_EQ(likePattern.Swap_CompareToSameKindPtr_Like(textData, false), CR_EQUAL);
    EXPECT_NE(likePattern.CompareToSameKindPtr_Like(textData, false), CR_EQUAL);
    EXPECT_NE(likeText.Swap_CompareToSameKindPtr_Like(patternData, false), CR_EQUAL);
    EXPECT_EQ(VString::sInfo.CompareTwoPtrToData(data, data, true), CR_EQUAL);

    VCompareOptions options;
    options.SetDiacritical(false);
    EXPECT_TRUE(a.EqualToSameKindWithOptions(&b, options));
    options.SetBeginOnly(true);
    EXPECT_EQ(a.CompareToSameKindWithOptions(&prefix, options), CR_EQUAL);
    options.SetBeginOnly(false);
    options.SetLike(true);
    VString pattern("a@e");
    EXPECT_TRUE(a.EqualToSameKindWithOptions(&pattern, options));

    EXPECT_TRUE(VString("TRUE").GetBoolean());
    EXPECT_FALSE(VString("yes").GetBoolean());
}

TEST(VStringCompare, CaseMappingAndCollatorExchange)
{
    VString s("Straße");
    s.ToUpperCase();
    EXPECT_EQ(Text(s), u"STRASSE");
    s.ToLowerCase();
    EXPECT_EQ(Text(s), u"strasse");

    VString text("one Café, two cafe, three CAFE");
    text.Exchange(VString("cafe"), VString("tea"), 1, 2);
    EXPECT_EQ(Text(text), u"one tea, two tea, three CAFE");
    text.Exchange(VString("cafe"), VString("tea"), 1, 5, true);
    EXPECT_EQ(Text(text), u"one tea, two tea, three CAFE");

    std::vector<VString> pieces;
    EXPECT_TRUE(VString("a--b--").GetSubStrings(VString("--"), pieces, true));
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(Text(pieces[2]), u"");
    EXPECT_FALSE(VString("ab").GetSubStrings(VString(""), pieces));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_FALSE(VString("").GetSubStrings(VString("-"), pieces));
    EXPECT_TRUE(pieces.empty());
}

TEST(VStringCompare, ManagerBasics)
{
    VIntlMgr* manager = VIntlMgr::Create(5, 5, 0);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->GetDialectCode(), 1029u);  // primary dialect of language 5
    EXPECT_EQ(Text(manager->GetDecimalSeparator()), u",");
    manager->Release();

    manager = VIntlMgr::Create(9999, 9999, 0);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->GetDialectCode(), 1033u);
    EXPECT_FALSE(manager->IsSpace(u'\t'));
    EXPECT_FALSE(manager->IsSpace(0x200C));
    EXPECT_TRUE(manager->IsSpace(0x200B));
    EXPECT_TRUE(manager->IsSpace(0x3000));
    VIntlMgr* copy = manager->Clone();
    EXPECT_NE(copy->GetCollator(), manager->GetCollator());
    EXPECT_TRUE(copy->EqualString(u"A", 1, u"a", 1, false));
    copy->Release();
    manager->Release();
}

TEST(VStringCompare, CollatorExchangeCases)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        const char16_t* replacement;
        VIndex start, count;
        bool withDiacritics;
        const char16_t* expected;
    } cases[] = {
        {u"one Caf\u00E9, two cafe, three CAFE", u"cafe", u"tea", 1, 0x7FFFFFFF, false, u"one tea, two tea, three tea"},
        {u"one Caf\u00E9, two cafe, three CAFE", u"cafe", u"tea", 1, 0x7FFFFFFF, true, u"one Caf\u00E9, two tea, three CAFE"},
        {u"one Caf\u00E9, two cafe, three CAFE", u"cafe", u"tea", 1, 2, false, u"one tea, two tea, three CAFE"},
        // Positions count from 1: from 5 the first occurrence is still whole, from 6 it is not.
        {u"one Caf\u00E9, two cafe", u"cafe", u"tea", 5, 0x7FFFFFFF, false, u"one tea, two tea"},
        {u"one Caf\u00E9, two cafe", u"cafe", u"tea", 6, 0x7FFFFFFF, false, u"one Caf\u00E9, two tea"},
        {u"abc", u"b", u"x", 0, 5, false, u"abc"},   // start before the text
        {u"abc", u"b", u"x", 4, 5, false, u"abc"},   // start past the text
        {u"abc", u"b", u"x", 1, 0, false, u"abc"},   // no count
        {u"abc", u"", u"x", 1, 5, false, u"abc"},    // empty pattern
        {u"abc", u"z", u"x", 1, 5, false, u"abc"},   // no occurrence
        {u"", u"a", u"x", 1, 5, false, u""},
        // Occurrences do not overlap; the search goes on after each one.
        {u"aaaa", u"aa", u"b", 1, 0x7FFFFFFF, false, u"bb"},
        {u"aaa", u"aa", u"b", 1, 0x7FFFFFFF, false, u"ba"},
        // A replacement holding the pattern is not searched again.
        {u"abab", u"ab", u"abab", 1, 0x7FFFFFFF, false, u"abababab"},
        {u"x~1y~1~1", u"~1", u"/", 1, 0x7FFFFFFF, false, u"x/y//"},
        {u"abc", u"abc", u"", 1, 5, false, u""},
        // Width never counts: a full-width match is replaced at its own place.
        {u"\uFF21\uFF22-ab-AB", u"ab", u"x", 1, 0x7FFFFFFF, false, u"x-x-x"},
        {u"\uFF41\uFF42-ab-AB", u"ab", u"x", 1, 0x7FFFFFFF, true, u"x-x-AB"},
        // The match length is the collator's: a decomposed accent is covered whole.
        {u"cafe\u0301 cafe", u"caf\u00E9", u"tea", 1, 0x7FFFFFFF, true, u"tea cafe"},
    };
    for (const Case& c : cases) {
        VString s(c.text);
        s.Exchange(VString(c.pattern), VString(c.replacement), c.start, c.count, c.withDiacritics);
        EXPECT_EQ(Text(s), std::u16string(c.expected)) << Text(VString(c.text)).size() << " start " << c.start;
        EXPECT_EQ(s.GetCPointer()[s.GetLength()], 0);
    }
}

TEST(VStringCompare, CollatorExchangeSearchesTheTextOnceHoweverManyOccurrences)
{
    // Escaped slashes of a long pointer token: every occurrence is replaced
    // while the text is searched about once, not once per occurrence.
    constexpr int kOccurrences = 20000;
    std::u16string text;
    std::u16string expected;
    for (int i = 0; i < kOccurrences; ++i) {
        text += u"a~1";
        expected += u"a/";
    }
    VString s(text.c_str());
    const uint64_t before = platform::StringComparer::GetSearchedUnitsForTesting();
    s.Exchange(VString("~1"), VString("/"));
    const uint64_t searched = platform::StringComparer::GetSearchedUnitsForTesting() - before;
    EXPECT_EQ(Text(s), expected);
    EXPECT_LE(searched, 4 * text.size());
}

TEST(VStringCompare, SplittingAtASeparatorStringSearchesTheTextOnce)
{
    constexpr int kPieces = 20000;
    std::u16string text;
    for (int i = 0; i < kPieces; ++i)
        text += u"ab--";
    VString s(text.c_str());
    std::vector<VString> pieces;
    const uint64_t before = platform::StringComparer::GetSearchedUnitsForTesting();
    EXPECT_TRUE(s.GetSubStrings(VString("--"), pieces, true));
    EXPECT_LE(platform::StringComparer::GetSearchedUnitsForTesting() - before, 4 * text.size());
    ASSERT_EQ(pieces.size(), static_cast<size_t>(kPieces) + 1);  // the last piece, after the final separator, is empty
    EXPECT_EQ(Text(pieces[0]), u"ab");
    EXPECT_EQ(Text(pieces[kPieces - 1]), u"ab");
    EXPECT_EQ(Text(pieces[kPieces]), u"");

    struct Case {
        const char16_t* text;
        bool keepEmpty;
        std::vector<std::u16string> expected;
        bool found;
    } cases[] = {
        {u"a--b--", true, {u"a", u"b", u""}, true},
        {u"a--b--", false, {u"a", u"b"}, true},
        {u"--a", true, {u"", u"a"}, true},
        {u"a\uFF0D\uFF0Db", true, {u"a", u"b"}, true},  // full-width hyphens are the same separator
        {u"a-b", true, {u"a-b"}, false},
        {u"----", true, {u"", u"", u""}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VString(c.text).GetSubStrings(VString("--"), pieces, c.keepEmpty), c.found);
        std::vector<std::u16string> got;
        for (const VString& piece : pieces)
            got.push_back(Text(piece));
        EXPECT_EQ(got, c.expected) << Text(VString(c.text)).size();
    }
}
