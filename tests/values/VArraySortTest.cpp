// VArraySortTest.cpp - sorting arrays on one or several keys, in step, and scrambling them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/VArrayBoolean.h"
#include "basekit/values/VArrayNumeric.h"
#include "basekit/values/VArrayString.h"

namespace bkit {
namespace {

template <class TArray, class TGet>
auto Column(const TArray& array, TGet get)
{
    std::vector<decltype(get(array, 1))> out;
    for (int32_t i = 1; i <= array.GetCount(); ++i)
        out.push_back(get(array, i));
    return out;
}

std::vector<int32_t> Longs(const VArrayLong& a)
{
    return Column(a, [](const VArrayLong& x, int32_t i) { return x.GetLong(i); });
}

std::vector<std::string> Texts(const VArrayString& a)
{
    return Column(a, [](const VArrayString& x, int32_t i) {
        const VString* s = x.GetStringPtr(i);
        return s ? to_string(*s) : std::string("<null>");
    });
}

TEST(VArraySort, OneKeyOrdersSmallAndLargeRanges)
{
    struct Case {
        std::vector<int32_t> values;
        bool descending;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {{2, 1}, false, {1, 2}},
        {{5, 3, 9, 3}, false, {3, 3, 5, 9}},
        {{5, 3, 9, 3}, true, {9, 5, 3, 3}},
        {{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 1}, false, {1, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},
        {{3, 14, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9}, true, {14, 9, 9, 9, 8, 7, 6, 5, 5, 5, 3, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        // Through the typed sort of the long array and through the multi-key
        // sort of the base (a long array as the only key of a synchronized sort).
        VArrayLong typed, keyed;
        for (int32_t v : c.values) {
            typed.AppendLong(v);
            keyed.AppendLong(v);
        }
        typed.Sort(1, typed.GetCount(), c.descending);
        VArrayValue::SynchronizedSort(c.descending, &keyed, nullptr);
        EXPECT_EQ(c.expected, Longs(typed));
        EXPECT_EQ(c.expected, Longs(keyed));
    }
}

TEST(VArraySort, SortTouchesOnlyTheGivenRange)
{
    VArrayLong a;
    for (int32_t v : {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, -1, -2})
        a.AppendLong(v);
    a.Sort(3, 10, false);
    EXPECT_EQ((std::vector<int32_t>{9, 8, 0, 1, 2, 3, 4, 5, 6, 7, -1, -2}), Longs(a));
    a.Sort(5, 5, false);
    a.Sort(0, 4, false);
    a.Sort(3, 13, false);
    EXPECT_EQ((std::vector<int32_t>{9, 8, 0, 1, 2, 3, 4, 5, 6, 7, -1, -2}), Longs(a));

    VArrayString s;
    for (const char* t : {"d", "c", "b", "a"})
        s.AppendString(VString(t));
    s.Sort(2, 3, false);
    EXPECT_EQ((std::vector<std::string>{"d", "b", "c", "a"}), Texts(s));
}

TEST(VArraySort, StringSortPutsNullsFirstAndAgreesWithTheMultiKeySort)
{
    const char* texts[] = {"pear", nullptr, "apple", "Fig", nullptr, "fig", "banana", "apple"};
    for (bool descending : {false, true}) {
        VArrayString own(8), keyed(8);
        for (int32_t i = 0; i < 8; ++i) {
            if (texts[i]) {
                own.FromString(VString(texts[i]), i + 1);
                keyed.FromString(VString(texts[i]), i + 1);
            }
        }
        own.Sort(1, 8, descending);
        VArrayValue::SynchronizedSort(descending, &keyed, nullptr);
        std::vector<std::string> sorted = Texts(own);
        EXPECT_EQ(sorted, Texts(keyed));
        const size_t nulls = descending ? 6 : 0;
        EXPECT_EQ("<null>", sorted[nulls]);
        EXPECT_EQ("<null>", sorted[nulls + 1]);
        EXPECT_EQ(descending ? "pear" : "apple", sorted[descending ? 0 : 2]);
        for (size_t i = 1; i < sorted.size(); ++i) {
            if (sorted[i] != "<null>" && sorted[i - 1] != "<null>") {
                CompareResult r = VString(sorted[i - 1].c_str()).CompareToString(VString(sorted[i].c_str()), true);
                EXPECT_NE(descending ? CR_SMALLER : CR_BIGGER, r) << sorted[i - 1] << " / " << sorted[i];
            }
        }
    }
}

TEST(VArraySort, OneStringKeyAloneSortsStablyLikeTheIndexSort)
{
    // Equal under the comparison but told apart by their text: a full-width
    // letter and its plain form, and duplicates. The sort of a single array
    // (its own sort) and the sort of the same key carrying a second array (the
    // index sort) give the same, stable order.
    const char16_t* texts[] = {u"b", u"\uFF21", nullptr, u"a", u"A", u"b", nullptr, u"\uFF41", u"A", u"c"};
    const int32_t n = 10;
    for (bool descending : {false, true}) {
        SCOPED_TRACE(descending);
        VArrayString alone(n), carried(n);
        VArrayLong positions(n);
        for (int32_t i = 0; i < n; ++i) {
            if (texts[i]) {
                alone.FromString(VString(texts[i]), i + 1);
                carried.FromString(VString(texts[i]), i + 1);
            }
            positions.FromLong(i, i + 1);
        }
        ISortable* one[] = {&alone, nullptr};
        ISortable* two[] = {&carried, &positions, nullptr};
        const bool flags[] = {descending};
        ISortable::MultiCriteriaQSort(one, flags, 1, 0, n - 1);
        ISortable::MultiCriteriaQSort(two, flags, 1, 0, n - 1);

        int equalPairs = 0;
        for (int32_t i = 1; i <= n; ++i) {
            int32_t from = positions.GetLong(i);
            const VString* a = alone.GetStringPtr(i);
            ASSERT_EQ(texts[from] == nullptr, a == nullptr) << i;
            if (a) {
                EXPECT_EQ(std::u16string(texts[from]), std::u16string(a->GetCPointer())) << i;
            }
            // Equal neighbours keep their first order.
            const VString* prev = i > 1 ? carried.GetStringPtr(i - 1) : nullptr;
            const VString* cur = carried.GetStringPtr(i);
            if (i > 1 && ((!prev && !cur) || (prev && cur && prev->CompareToString(*cur, true) == CR_EQUAL))) {
                ++equalPairs;
                EXPECT_LT(positions.GetLong(i - 1), from) << i;
            }
        }
        EXPECT_EQ(5, equalPairs);  // the nulls, the b, three forms of A, two of a
    }
}

TEST(VArraySort, SynchronizedSortKeepsParallelArraysInStep)
{
    VArrayLong keys;
    VArrayString names;
    for (int32_t v : {3, 1, 2})
        keys.AppendLong(v);
    for (const char* t : {"c", "a", "b"})
        names.AppendString(VString(t));
    VArrayValue::SynchronizedSort(false, &keys, &names, nullptr);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), Longs(keys));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Texts(names));

    // Strings as the key: nulls first, then with case and accents significant.
    VArrayString key(5);
    VArrayLong rows;
    const char* texts[] = {"b", nullptr, "B", "a", nullptr};
    for (int32_t i = 0; i < 5; ++i) {
        if (texts[i])
            key.FromString(VString(texts[i]), i + 1);
        rows.AppendLong(i);
    }
    VArrayValue::SynchronizedSort(false, &key, &rows, nullptr);
    std::vector<std::string> sorted = Texts(key);
    EXPECT_EQ("<null>", sorted[0]);
    EXPECT_EQ("<null>", sorted[1]);
    EXPECT_EQ("a", sorted[2]);
    for (int32_t i = 1; i <= 5; ++i) {
        const char* original = texts[rows.GetLong(i)];
        EXPECT_EQ(original ? std::string(original) : std::string("<null>"), sorted[static_cast<size_t>(i - 1)]);
    }
}

// Two keys (ascending long, descending string) over 300 rows with many ties,
// against an independent sort of the same rows.
TEST(VArraySort, MultiKeySortAgreesWithAnIndependentSort)
{
    std::mt19937 random(1234);
    const int32_t n = 300;
    VArrayLong k1;
    VArrayString k2;
    VArrayLong8 payload;
    std::vector<std::tuple<int32_t, std::string, int64_t>> rows;
    for (int32_t i = 0; i < n; ++i) {
        int32_t a = static_cast<int32_t>(random() % 7);
        std::string b(1, static_cast<char>('a' + random() % 5));
        k1.AppendLong(a);
        k2.AppendString(VString(b.c_str()));
        payload.AppendLong8(i);
        rows.emplace_back(a, b, i);
    }
    ISortable* list[] = {&k1, &k2, &payload, nullptr};
    const bool descending[] = {false, true};
    ISortable::MultiCriteriaQSort(list, descending, 2, 0, n - 1);

    std::stable_sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) {
        if (std::get<0>(x) != std::get<0>(y))
            return std::get<0>(x) < std::get<0>(y);
        return std::get<1>(x) > std::get<1>(y);
    });
    std::vector<std::string> texts = Texts(k2);
    for (int32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        const auto& row = rows[static_cast<size_t>(i)];
        EXPECT_EQ(std::get<0>(row), k1.GetLong(i + 1));
        EXPECT_EQ(std::get<1>(row), texts[static_cast<size_t>(i)]);
    }
    // Every payload still sits beside the keys it started with.
    std::vector<std::tuple<int32_t, std::string, int64_t>> after;
    for (int32_t i = 0; i < n; ++i)
        after.emplace_back(k1.GetLong(i + 1), texts[static_cast<size_t>(i)], payload.GetLong8(i + 1));
    std::sort(after.begin(), after.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, after);
}

TEST(VArraySort, RealsWithNaNStayInsideTheRange)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::mt19937 random(99);
    VArrayReal typed, keyed;
    std::vector<double> values;
    for (int32_t i = 0; i < 200; ++i) {
        double v = (i % 3 == 0) ? nan : static_cast<double>(random() % 50);
        typed.AppendReal(v);
        keyed.AppendReal(v);
        values.push_back(v);
    }
    typed.Sort(1, typed.GetCount(), false);
    VArrayValue::SynchronizedSort(true, &keyed, nullptr);
    // The same elements, NaNs included, come out; nothing is lost or invented.
    for (const VArrayReal* sorted : {&typed, &keyed}) {
        std::vector<double> out;
        int nans = 0;
        for (int32_t i = 1; i <= sorted->GetCount(); ++i) {
            double v = sorted->GetReal(i);
            if (std::isnan(v))
                ++nans;
            else
                out.push_back(v);
        }
        std::vector<double> expected;
        for (double v : values) {
            if (!std::isnan(v))
                expected.push_back(v);
        }
        std::sort(out.begin(), out.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, out);
        EXPECT_EQ(67, nans);
    }
    // Without NaNs the order is plain.
    VArrayReal plain;
    for (double v : {2.5, -1.0, 2.4999999})
        plain.AppendReal(v);
    plain.Sort(1, 3, false);
    EXPECT_EQ(-1.0, plain.GetReal(1));
    EXPECT_EQ(2.4999999, plain.GetReal(2));
    EXPECT_EQ(2.5, plain.GetReal(3));
}

TEST(VArraySort, BooleanSortRewritesTheBits)
{
    struct Case {
        std::vector<int> bits;
        int32_t first, last;
        bool descending;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{1, 0, 1, 0}, 1, 4, false, {0, 0, 1, 1}},
        {{1, 0, 1, 0}, 1, 4, true, {1, 1, 0, 0}},
        {{1, 1, 0, 1, 0}, 2, 4, false, {1, 0, 1, 1, 0}},
        {{1, 0}, 2, 2, false, {1, 0}},
    };
    for (const Case& c : cases) {
        VArrayBoolean a;
        for (int b : c.bits)
            a.AppendBoolean(static_cast<uint8_t>(b));
        a.Sort(c.first, c.last, c.descending);
        a.Unsort();
        std::vector<int> out;
        for (int32_t i = 1; i <= a.GetCount(); ++i)
            out.push_back(a.GetBoolean(i));
        EXPECT_EQ(c.expected, out);
    }
}

TEST(VArraySort, UnsortIsAFixedScramblingForOddAndEvenCounts)
{
    struct Case {
        std::vector<int32_t> values;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {{1}, {1}},
        {{1, 2}, {2, 1}},
        {{1, 2, 3, 4}, {3, 2, 4, 1}},
        {{1, 2, 3, 4, 5}, {5, 3, 2, 4, 1}},
    };
    for (const Case& c : cases) {
        VArrayLong a;
        for (int32_t v : c.values)
            a.AppendLong(v);
        a.Unsort();
        EXPECT_EQ(c.expected, Longs(a));
    }
    // Repeatable, and a permutation, also for a long even array.
    VArrayString first, second;
    for (int32_t i = 0; i < 64; ++i) {
        VString text;
        text.FromLong(i);
        first.AppendString(text);
        second.AppendString(text);
    }
    first.Unsort();
    second.Unsort();
    std::vector<std::string> a = Texts(first), b = Texts(second);
    EXPECT_EQ(a, b);
    std::sort(a.begin(), a.end());
    EXPECT_EQ(64u, std::unique(a.begin(), a.end()) - a.begin());
}

}  // namespace
}  // namespace bkit
