// VCollatorTest.cpp - comparison, search and LIKE matching of the system collator.
#include <gtest/gtest.h>

#include <string>

#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"

using namespace bkit;

namespace {

class CollatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fCollator = VRefPtr<VCollator>::Adopt(VCollator_system::Create(1033, nullptr));
        ASSERT_NE(fCollator.Get(), nullptr);
    }

    CompareResult Compare(std::u16string a, std::u16string b, bool withDiacritics)
    {
        return fCollator->CompareString(a.data(), Len(a), b.data(), Len(b), withDiacritics);
    }

    VIndex Find(std::u16string text, std::u16string pattern, bool withDiacritics, VIndex& matched)
    {
        return fCollator->FindString(text.data(), Len(text), pattern.data(), Len(pattern), withDiacritics, &matched);
    }

    bool Like(std::u16string text, std::u16string pattern, bool withDiacritics)
    {
        return fCollator->EqualString_Like(text.data(), Len(text), pattern.data(), Len(pattern), withDiacritics);
    }

    CompareResult CompareLike(std::u16string text, std::u16string pattern, bool withDiacritics)
    {
        return fCollator->CompareString_Like(text.data(), Len(text), pattern.data(), Len(pattern), withDiacritics);
    }

    static VIndex Len(const std::u16string& s) { return static_cast<VIndex>(s.size()); }

    VRefPtr<VCollator> fCollator;
};

}  // namespace

TEST_F(CollatorTest, ComparesWithAndWithoutDiacritics)
{
    struct Case {
        const char16_t* a;
        const char16_t* b;
        CompareResult with;
        CompareResult without;
    } cases[] = {
        {u"abc", u"ABC", CR_SMALLER, CR_EQUAL},       // lower case sorts first
        {u"\u00E9t\u00E9", u"ete", CR_BIGGER, CR_EQUAL},
        {u"e\u0301", u"\u00E9", CR_EQUAL, CR_EQUAL},  // decomposed against composed
        {u"\uFF41bc", u"abc", CR_EQUAL, CR_EQUAL},    // width never counts
        {u"\uFF21bc", u"abc", CR_BIGGER, CR_EQUAL},   // but case still does
        {u"\uFF41bc", u"Abc", CR_SMALLER, CR_EQUAL},
        {u"\uFF76\uFF9E", u"\u30AB\u3099", CR_EQUAL, CR_EQUAL},
        {u"a\u3000b", u"a b", CR_EQUAL, CR_EQUAL},
        {u"apple", u"banana", CR_SMALLER, CR_SMALLER},
        {u"", u"", CR_EQUAL, CR_EQUAL},
        {u"", u"a", CR_SMALLER, CR_SMALLER},
        {u"a", u"", CR_BIGGER, CR_BIGGER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(Compare(c.a, c.b, true), c.with);
        EXPECT_EQ(Compare(c.a, c.b, false), c.without);
        EXPECT_EQ(Compare(c.b, c.a, true), -c.with);
    }
}

TEST_F(CollatorTest, FindReportsPositionAndMatchLength)
{
    VIndex matched = -1;
    EXPECT_EQ(Find(u"abc", u"", false, matched), 1);
    EXPECT_EQ(matched, 0);
    EXPECT_EQ(Find(u"", u"a", false, matched), 0);
    EXPECT_EQ(Find(u"", u"", false, matched), 0);
    EXPECT_EQ(Find(u"xxABCxx", u"abc", false, matched), 3);
    EXPECT_EQ(matched, 3);
    EXPECT_EQ(Find(u"xxABCxx", u"abc", true, matched), 0);
    EXPECT_EQ(matched, 0);
    // A decomposed match is longer than the pattern.
    EXPECT_EQ(Find(u"cafe\u0301!", u"caf\u00E9", true, matched), 1);
    EXPECT_EQ(matched, 5);
    // Full-width text found by a plain pattern, positions in the caller's text.
    EXPECT_EQ(Find(u"12\uFF21\uFF22", u"ab", false, matched), 3);
    EXPECT_EQ(matched, 2);
}

TEST_F(CollatorTest, ReversedFindBeginsAndEndsWith)
{
    std::u16string text = u"abcabc";
    VIndex matched = -1;
    EXPECT_EQ(fCollator->ReversedFindString(text.data(), 6, u"bc", 2, false, &matched), 5);
    EXPECT_EQ(matched, 2);
    EXPECT_EQ(fCollator->ReversedFindString(text.data(), 6, u"", 0, false, &matched), 1);
    EXPECT_EQ(fCollator->ReversedFindString(text.data(), 0, u"a", 1, false, &matched), 0);

    EXPECT_TRUE(fCollator->EndsWithString(text.data(), 6, u"abc", 3, false, &matched));
    EXPECT_EQ(matched, 3);
    EXPECT_FALSE(fCollator->EndsWithString(text.data(), 6, u"ab", 2, false, &matched));
    EXPECT_EQ(matched, 0);
    EXPECT_TRUE(fCollator->EndsWithString(text.data(), 6, u"", 0, false, &matched));
    EXPECT_TRUE(fCollator->BeginsWithString(text.data(), 6, u"AB", 2, false, &matched));
    EXPECT_EQ(matched, 2);
    EXPECT_FALSE(fCollator->BeginsWithString(text.data(), 6, u"bc", 2, false, &matched));
}

TEST_F(CollatorTest, LikePatterns)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        bool withDiacritics;
        bool match;
    } cases[] = {
        {u"abcdef", u"abc@", false, true},
        {u"abcdef", u"@def", false, true},
        {u"abcdef", u"a@c@f", false, true},
        {u"abcdef", u"@cd@", false, true},
        {u"abc", u"a@x", false, false},
        {u"abcdef", u"@de", false, false},    // the final segment must end the text
        {u"abcdefde", u"@de", false, true},   // its last occurrence counts
        {u"", u"@", false, true},
        {u"anything", u"@@", false, true},
        {u"ABC", u"abc", false, true},
        {u"ABC", u"abc", true, false},
        {u"\u00E9", u"e", false, true},       // goes to the platform comparison
        {u"\u00E9", u"e", true, false},
        {u"r\u00E9sum\u00E9", u"resu@", false, true},
        {u"a\u0001bc", u"abc", true, true},   // controls are ignored
        {u"abc", u"a\u0001b\u0002c", true, true},
        {u"abc", u"ab", false, false},
        {u"ab", u"abc", false, false},
        {u"ab", u"ab@@", false, true},
        {u"a^b", u"A^B", false, true},
    };
    for (const Case& c : cases) {
        std::u16string text(c.text), pattern(c.pattern);
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(Like(text, pattern, c.withDiacritics), c.match);
        EXPECT_EQ(CompareLike(text, pattern, c.withDiacritics) == CR_EQUAL, c.match);
    }
}

TEST_F(CollatorTest, WildCardCanBeChangedAndReset)
{
    fCollator->SetWildChar(u'*');
    EXPECT_TRUE(Like(u"abcdef", u"ab*", false));
    EXPECT_FALSE(Like(u"abcdef", u"ab@", false));
    fCollator->Reset();
    EXPECT_EQ(fCollator->GetWildChar(), u'@');
    EXPECT_TRUE(Like(u"abcdef", u"ab@", false));
}

TEST_F(CollatorTest, WildCardInTheMiddleIsOrdinaryWithOptionTwo)
{
    fCollator->SetOptions(VCollator::kOptionIgnoreWildCharInMiddle);
    EXPECT_TRUE(Like(u"a@c", u"a@c", false));
    EXPECT_FALSE(Like(u"abc", u"a@c", false));
    EXPECT_TRUE(Like(u"abcdef", u"abc@", false));
    EXPECT_TRUE(Like(u"abcdef", u"@def", false));
    EXPECT_TRUE(Like(u"abcdef", u"@cd@", false));
    EXPECT_FALSE(Like(u"abcdef", u"@xy@", false));
    EXPECT_TRUE(Like(u"xyz", u"@@", false));
    EXPECT_EQ(CompareLike(u"abcdef", u"@xy@", false), CR_BIGGER);  // text longer than pattern
}

TEST_F(CollatorTest, DichotomyCompatiblePatterns)
{
    struct Case {
        const char16_t* pattern;
        bool compatible;
    } cases[] = {
        {u"", true},        {u"abc", true},          {u"abc@", true},        {u"@abc", false},
        {u"a@c", false},    {u"ab@@", false},        {u"\u30AB@", false},    {u"\u30AB", true},
        {u"\uFF76@", false}, {u"\u4E00@", true},
    };
    for (const Case& c : cases) {
        std::u16string p(c.pattern);
        EXPECT_EQ(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(p.data(), static_cast<VIndex>(p.size())),
                  c.compatible)
            << "case " << (&c - cases);
    }
}

TEST_F(CollatorTest, CloneIsIndependentAndKeepsSettings)
{
    fCollator->SetWildChar(u'%');
    VRefPtr<VCollator> copy = VRefPtr<VCollator>::Adopt(fCollator->Clone());
    EXPECT_EQ(copy->GetWildChar(), u'%');
    EXPECT_EQ(copy->GetDialectCode(), 1033u);
    copy->SetWildChar(u'@');
    EXPECT_EQ(fCollator->GetWildChar(), u'%');
    EXPECT_EQ(copy->CompareString(u"abc", 3, u"ABC", 3, false), CR_EQUAL);
    VString signature;
    copy->GetStringComparisonAlgorithmSignature(signature);
    EXPECT_TRUE(signature.BeginsWithRawString(VString("system:")));
    EXPECT_GT(signature.GetLength(), 7);
}
