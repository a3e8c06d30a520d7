// VJSONArrayTest.cpp - joining, row selection, sorting with any comparator, permutations.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

VRefPtr<VJSONArray> NewArray(std::initializer_list<VJSONValue> values)
{
    VRefPtr<VJSONArray> array = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    for (const VJSONValue& value : values)
        array->Push(value);
    return array;
}

std::vector<double> Numbers(const VJSONArray& array)
{
    std::vector<double> numbers;
    for (size_t i = 0; i < array.GetCount(); ++i)
        numbers.push_back(array.GetAt(i).GetNumber());
    return numbers;
}

TEST(VJSONArrayOps, JoinAsStringKeepsOrDropsEmptyAndNull)
{
    VRefPtr<VJSONArray> array = NewArray({VJSONValue(1.0), VJSONValue(JSON_null), VJSONValue(VString(""))});
    struct Case {
        bool keepEmpty;
        bool writeNull;
        std::string expected;
    };
    const Case cases[] = {{false, false, "1"}, {true, true, "1,null,"}, {true, false, "1,"}, {false, true, "1,null"}};
    for (const Case& c : cases) {
        VString out("old");
        array->JoinAsString(VString(","), out, c.keepEmpty, c.writeNull);
        EXPECT_EQ(to_string(out), c.expected) << c.keepEmpty << c.writeNull;
    }
}

TEST(VJSONArrayOps, SelectedRowsFormRanges)
{
    VJSONValue same(JSON_object);
    VRefPtr<VJSONArray> rows = NewArray({VJSONValue(VString("a")), VJSONValue(VString("b")), VJSONValue(VString("c")),
                                         VJSONValue(VString("d")), same, VJSONValue(JSON_object)});
    VRefPtr<VJSONArray> selection =
        NewArray({VJSONValue(VString("a")), VJSONValue(VString("b")), VJSONValue(VString("d")), same});
    VJSONValue result = rows->GetSelectedRows(VJSONValue(selection.Get()));
    VJSONArray* ranges = result.GetProperty("ranges").GetArray();
    ASSERT_NE(ranges, nullptr);
    ASSERT_EQ(ranges->GetCount(), 2u);
    EXPECT_EQ(ranges->GetAt(0).GetProperty("start").GetNumber(), 0);
    EXPECT_EQ(ranges->GetAt(0).GetProperty("end").GetNumber(), 1);
    EXPECT_EQ(ranges->GetAt(1).GetProperty("start").GetNumber(), 3);
    EXPECT_EQ(ranges->GetAt(1).GetProperty("end").GetNumber(), 4);  // the same object, not an equal one

    VJSONValue none = rows->GetSelectedRows(VJSONValue(1.0));
    EXPECT_EQ(none.GetProperty("ranges").GetArray()->GetCount(), 0u);
}

class Ascending : public IJSONValueComparator {
public:
    bool CompareValues(const VJSONValue& a, const VJSONValue& b) override { return a.GetNumber() < b.GetNumber(); }
};

// Answers at random: no order at all.
class Careless : public IJSONValueComparator {
public:
    bool CompareValues(const VJSONValue&, const VJSONValue&) override { return (fRandom() & 1) != 0; }
    std::mt19937 fRandom{7};
};

class Throwing : public IJSONValueComparator {
public:
    bool CompareValues(const VJSONValue&, const VJSONValue&) override { throw std::runtime_error("no"); }
};

TEST(VJSONArrayOps, SortIsStableSafeWithAnyComparatorAndFailsCleanly)
{
    VRefPtr<VJSONArray> array = NewArray({VJSONValue(3.0), VJSONValue(1.0), VJSONValue(2.0), VJSONValue(1.0)});
    const uint32_t stampOfFirstOne = array->GetStampAt(1);
    Ascending ascending;
    array->Sort(&ascending);
    EXPECT_EQ(Numbers(*array), (std::vector<double>{1, 1, 2, 3}));
    EXPECT_EQ(array->GetStampAt(0), stampOfFirstOne);  // equal values keep their order

    std::vector<VJSONValue> many;
    for (int i = 0; i < 500; ++i)
        many.emplace_back(static_cast<double>(i));
    VRefPtr<VJSONArray> big = NewArray({});
    for (const VJSONValue& value : many)
        big->Push(value);
    Careless careless;
    big->Sort(&careless);
    std::vector<double> sorted = Numbers(*big);
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(sorted[static_cast<size_t>(i)], i);  // a permutation: nothing lost or doubled

    StErrorContextInstaller errors(false, true);
    Throwing throwing;
    VRefPtr<VJSONArray> kept = NewArray({VJSONValue(2.0), VJSONValue(1.0)});
    kept->Sort(&throwing);
    EXPECT_EQ(errors.GetLastError(), VE_JSON_SORT_FAILED);
    EXPECT_EQ(Numbers(*kept), (std::vector<double>{2, 1}));
}

TEST(VJSONArrayOps, ApplyPermutationFollowsEachCycleOnce)
{
    std::vector<std::string> values{"a", "b", "c", "d", "e"};
    std::vector<size_t> indices{2, 0, 1, 4, 3};
    apply_permutation(values, indices);
    EXPECT_EQ(values, (std::vector<std::string>{"c", "a", "b", "e", "d"}));
    EXPECT_EQ(indices, (std::vector<size_t>{0, 1, 2, 3, 4}));
}

TEST(VJSONArrayOps, ConcatenateAppendsCopiesAndIndexesSaturate)
{
    VRefPtr<VJSONArray> array = NewArray({VJSONValue(1.0)});
    VRefPtr<VJSONArray> other = NewArray({VJSONValue(2.0), VJSONValue(JSON_object)});
    EXPECT_TRUE(array->Concatenate(*other));
    EXPECT_TRUE(array->Concatenate(*array));
    EXPECT_EQ(array->GetCount(), 6u);
    EXPECT_EQ(array->GetAt(2).GetObject(), other->GetAt(1).GetObject());
    array->RemoveAt(1, SIZE_MAX);
    EXPECT_EQ(array->GetCount(), 1u);
    StErrorContextInstaller errors(false, true);
    for (size_t index : {SIZE_MAX, SIZE_MAX / 2}) {
        EXPECT_FALSE(array->SetAt(index, VJSONValue(1.0), true));
        EXPECT_EQ(errors.GetLastError(), VE_MEMORY_FULL);
        EXPECT_EQ(array->GetCount(), 1u);
    }
}

}  // namespace
}  // namespace bkit
