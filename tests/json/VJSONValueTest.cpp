// VJSONValueTest.cpp - JSON values, objects, arrays and deep copies.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

std::string Text(const VJSONValue& value)
{
    VString text;
    EXPECT_EQ(value.GetString(text), 0u);
    return to_string(text);
}

std::string Text(const VString& text) { return to_string(text); }

VJSONValue Bool(bool b)
{
    VJSONValue v;
    v.SetBool(b);
    return v;
}

VJSONValue Date(int16_t y, int16_t m, int16_t d)
{
    VJSONValue v;
    v.SetDate(y, m, d);
    return v;
}

TEST(VJSONValue, EachKindReadsAsBoolNumberAndText)
{
    struct Case {
        const char* label;
        std::function<VJSONValue()> make;
        JSONType type;
        bool asBool;
        double asNumber;
        const char* asText;
    };
    const Case cases[] = {
        {"default", [] { return VJSONValue(); }, JSON_undefined, false, 0, ""},
        {"null", [] { return VJSONValue(JSON_null); }, JSON_null, false, 0, ""},
        {"false", [] { return Bool(false); }, JSON_false, false, 0, "false"},
        {"true", [] { return Bool(true); }, JSON_true, true, 1, "true"},
        {"empty string", [] { return VJSONValue(JSON_string); }, JSON_string, false, 0, ""},
        {"string 0", [] { return VJSONValue(VString("0")); }, JSON_string, true, 0, "0"},
        {"string real", [] { return VJSONValue(VString("2.5")); }, JSON_string, true, 2.5, "2.5"},
        {"string hex", [] { return VJSONValue(VString("0x1F")); }, JSON_string, true, 31, "0x1F"},
        {"string HEX", [] { return VJSONValue(VString("0X10")); }, JSON_string, true, 16, "0X10"},
        {"one unit", [] { return VJSONValue(VString("7")); }, JSON_string, true, 7, "7"},
        {"zero", [] { return VJSONValue(0.0); }, JSON_number, false, 0, "0"},
        {"integer", [] { return VJSONValue(-42.0); }, JSON_number, true, -42, "-42"},
        {"fraction", [] { return VJSONValue(0.1); }, JSON_number, true, 0.1, "0.1"},
        {"large", [] { return VJSONValue(1e21); }, JSON_number, true, 1e21, "1E+21"},
        {"object", [] { return VJSONValue(JSON_object); }, JSON_object, true, 0, "[object Object]"},
        {"empty array", [] { return VJSONValue(JSON_array); }, JSON_array, true, 0, ""},
        {"zero date", [] { return VJSONValue(JSON_date); }, JSON_date, false, 0, "0000-00-00"},
        {"date", [] { return Date(2024, 2, 29); }, JSON_date, true, 0, "2024-02-29"},
        {"undefined", [] { return VJSONValue(JSON_undefined); }, JSON_undefined, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        VJSONValue v = c.make();
        EXPECT_EQ(v.GetType(), c.type);
        EXPECT_EQ(v.GetBool(), c.asBool);
        EXPECT_DOUBLE_EQ(v.GetNumber(), c.asNumber);
        EXPECT_EQ(Text(v), c.asText);
    }
    EXPECT_EQ(Text(VJSONValue(std::nan(""))), "null");
}

TEST(VJSONValue, NullStringAndNullContainersGiveNull)
{
    EXPECT_TRUE(VJSONValue(VString(true)).IsNull());
    EXPECT_TRUE(VJSONValue(static_cast<VJSONObject*>(nullptr)).IsNull());
    EXPECT_TRUE(VJSONValue(static_cast<VJSONArray*>(nullptr)).IsNull());
    VJSONValue v(1.0);
    v.SetObject(nullptr);
    EXPECT_TRUE(v.IsNull());
}

TEST(VJSONValue, ClearKeepsTheKindButEmptiesIt)
{
    VJSONValue t = Bool(true);
    t.Clear();
    EXPECT_TRUE(t.IsFalse());

    VJSONValue s(VString("x"));
    s.Clear();
    EXPECT_TRUE(s.IsString());
    EXPECT_EQ(Text(s), "");

    VJSONValue n(3.0);
    n.Clear();
    EXPECT_TRUE(n.IsNumber());
    EXPECT_EQ(n.GetNumber(), 0);

    VJSONValue o(JSON_object);
    o.Clear();
    EXPECT_TRUE(o.IsNull());

    VJSONValue u;
    u.Clear();
    EXPECT_TRUE(u.IsUndefined());
}

TEST(VJSONValue, CopiesShareStringsAndContainersAndTakeNewStamps)
{
    VString text("shared text that lives on the heap");
    VJSONValue a(text);
    VJSONValue b(a);
    EXPECT_EQ(a.GetInlineString().GetCPointer(), b.GetInlineString().GetCPointer());
    EXPECT_NE(a.GetStamp(), b.GetStamp());

    uint32_t stamp = b.GetStamp();
    VJSONValue c(std::move(b));
    EXPECT_EQ(c.GetStamp(), stamp);
    EXPECT_EQ(Text(c), Text(text));
    EXPECT_TRUE(b.IsString());
    EXPECT_EQ(Text(b), "");

    // The text survives its string and every value but one.
    text.FromCString("changed");
    a.SetNull();
    EXPECT_EQ(Text(c), "shared text that lives on the heap");

    VJSONValue object(JSON_object);
    VJSONValue copy = object;
    EXPECT_EQ(copy.GetObject(), object.GetObject());
    EXPECT_EQ(object.GetObject()->GetRefCount(), 2);
}

TEST(VJSONValue, MovesHandOverEveryKindWithoutATouchOfItsCounts)
{
    VJSONValue number(2.5);
    VJSONValue date;
    date.SetDate(2024, 2, 29);
    VJSONValue object(JSON_object);
    VJSONValue array(JSON_array);
    VJSONObject* heldObject = object.GetObject();
    VJSONArray* heldArray = array.GetArray();
    {
        VJSONValue movedNumber(std::move(number));
        VJSONValue movedDate(std::move(date));
        VJSONValue movedObject(std::move(object));
        VJSONValue movedArray(std::move(array));
        EXPECT_EQ(movedNumber.GetNumber(), 2.5);
        int16_t y = 0, m = 0, d = 0;
        EXPECT_TRUE(movedDate.GetDate(&y, &m, &d));
        EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
        EXPECT_EQ(movedObject.GetObject(), heldObject);
        EXPECT_EQ(movedArray.GetArray(), heldArray);
        EXPECT_EQ(heldObject->GetRefCount(), 1);
        EXPECT_EQ(heldArray->GetRefCount(), 1);
        // The sources keep their kinds, empty.
        EXPECT_TRUE(object.IsObject());
        EXPECT_EQ(object.GetObject(), nullptr);
        EXPECT_TRUE(array.IsArray());
        EXPECT_EQ(array.GetArray(), nullptr);
        heldObject->Retain();
    }
    // Only the moved value released its container.
    EXPECT_EQ(heldObject->GetRefCount(), 1);
    heldObject->Release();
}

TEST(VJSONValue, AssigningAValueReachedThroughItselfKeepsItAlive)
{
    // v holds the only reference to the object that holds the child.
    VJSONValue v(JSON_object);
    v.SetProperty("child", VJSONValue(VString("kept")));
    VJSONValue child(JSON_object);
    v.SetProperty("inner", child);
    child.SetNull();

    const VJSONValue& inner = v.GetObject()->GetValueAt(1);
    v = inner;  // releases the outer object, which held inner
    EXPECT_TRUE(v.IsObject());
    EXPECT_EQ(v.GetObject()->GetRefCount(), 1);
}

TEST(VJSONObject, PropertiesKeepInsertionOrderAndDenseIndexes)
{
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    object->SetPropertyAsNumber("a", 1);
    object->SetPropertyAsNumber("b", 2);
    object->SetPropertyAsNumber("c", 3);
    object->RemoveProperty("a");
    object->SetPropertyAsNumber("d", 4);
    object->SetPropertyAsNumber("b", 20);  // keeps its place

    std::vector<std::string> names;
    std::vector<double> values;
    for (VJSONPropertyConstOrderedIterator i(object.Get()); i.IsValid(); ++i) {
        names.push_back(Text(i.GetName()));
        values.push_back(i.GetValue().GetNumber());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "d"}));
    EXPECT_EQ(values, (std::vector<double>{20, 3, 4}));

    // Lookups still find every name after the shift.
    EXPECT_EQ(object->GetProperty("d").GetNumber(), 4);
    EXPECT_EQ(object->GetProperty("c").GetNumber(), 3);
    EXPECT_TRUE(object->GetProperty("a").IsUndefined());
}

TEST(VJSONObject, UndefinedRemovesAndNamesAreCaseSensitive)
{
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    object->SetPropertyAsString("Name", "x");
    EXPECT_TRUE(object->GetProperty("name").IsUndefined());

    EXPECT_TRUE(object->SetProperty("missing", VJSONValue()));
    EXPECT_EQ(object->GetPropertyCount(), 1u);

    EXPECT_TRUE(object->SetProperty("Name", VJSONValue()));
    EXPECT_TRUE(object->IsEmpty());
    EXPECT_FALSE(object->HasOwnProperty("Name"));
}

TEST(VJSONObject, MergeWithAppendsInTheOtherOrder)
{
    VRefPtr<VJSONObject> mine = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    VRefPtr<VJSONObject> other = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    mine->SetPropertyAsNumber("a", 1);
    other->SetPropertyAsNumber("z", 26);
    other->SetPropertyAsNumber("a", 100);
    other->SetPropertyAsNumber("y", 25);

    VRefPtr<VJSONObject> onlyMissing = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    onlyMissing->SetPropertyAsNumber("a", 1);
    onlyMissing->MergeWith(other.Get(), true);
    EXPECT_EQ(onlyMissing->GetProperty("a").GetNumber(), 1);

    mine->MergeWith(other.Get(), false);
    EXPECT_EQ(mine->GetProperty("a").GetNumber(), 100);
    ASSERT_EQ(mine->GetPropertyCount(), 3u);
    EXPECT_EQ(Text(mine->GetNameAt(1)), "z");
    EXPECT_EQ(Text(mine->GetNameAt(2)), "y");
}

TEST(VJSONArray, ElementAccessGrowsAndShrinks)
{
    VRefPtr<VJSONArray> array = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    VJSONValue out(1.0);
    EXPECT_FALSE(array->GetAt(0, out));
    EXPECT_TRUE(out.IsUndefined());

    EXPECT_TRUE(array->SetAt(5, VJSONValue(7.0), true));
    ASSERT_EQ(array->GetCount(), 6u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(array->GetAt(i).IsNull());
    EXPECT_EQ(array->GetAt(5).GetNumber(), 7);

    {
        StErrorContextInstaller errors(false, true);
        EXPECT_FALSE(array->SetAt(6, VJSONValue(1.0), false));
        EXPECT_EQ(errors.GetLastError(), VE_JSON_INDEX_OUT_OF_RANGE);
        EXPECT_EQ(array->GetCount(), 6u);
    }

    array->RemoveAt(10, 1);
    EXPECT_EQ(array->GetCount(), 6u);
    array->RemoveAt(1, 100);
    EXPECT_EQ(array->GetCount(), 1u);

    // Growing with a container kind shares one new container.
    array->Resize(3, JSON_object);
    EXPECT_TRUE(array->GetAt(1).IsObject());
    EXPECT_EQ(array->GetAt(1).GetObject(), array->GetAt(2).GetObject());
    array->Resize(0);
    EXPECT_TRUE(array->IsEmpty());
}

TEST(VJSONArray, TextFlattensNestedArraysAndRefusesItself)
{
    VRefPtr<VJSONArray> inner = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    inner->Push(VJSONValue(3.0));
    VRefPtr<VJSONArray> middle = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    middle->Push(VJSONValue(2.0));
    middle->Push(VJSONValue(inner.Get()));
    VRefPtr<VJSONArray> outer = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    outer->Push(VJSONValue(1.0));
    outer->Push(VJSONValue(middle.Get()));
    outer->Push(VJSONValue(inner.Get()));  // the same array twice side by side is fine
    EXPECT_EQ(Text(VJSONValue(outer.Get())), "1,2,3,3");
    VRefPtr<VJSONArray> gap = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    gap->Push(VJSONValue(1.0));
    gap->Push(VJSONValue(JSON_array));  // an empty array is an empty part
    gap->Push(VJSONValue(2.0));
    EXPECT_EQ(Text(VJSONValue(gap.Get())), "1,,2");

    inner->Push(VJSONValue(outer.Get()));
    VString text("unchanged");
    EXPECT_EQ(outer->GetString(text), VE_JSON_CYCLE);
    EXPECT_EQ(Text(text), "unchanged");
    inner->Clear();  // break the cycle
}

TEST(VJSONCloner, DeepCopyKeepsSharedPartsAndCycles)
{
    VRefPtr<VJSONObject> shared = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    shared->SetPropertyAsString("name", "s");
    VRefPtr<VJSONArray> list = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    list->Push(VJSONValue(shared.Get()));
    VRefPtr<VJSONObject> root = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    root->SetProperty("first", VJSONValue(shared.Get()));
    root->SetProperty("list", VJSONValue(list.Get()));
    root->SetProperty("self", VJSONValue(root.Get()));

    VJSONCloner cloner;
    VJSONValue copy;
    ASSERT_EQ(cloner.CloneObject(root.Get(), copy), 0u);
    ASSERT_TRUE(copy.IsObject());
    VJSONObject* copyRoot = copy.GetObject();
    EXPECT_NE(copyRoot, root.Get());

    VJSONObject* copyShared = copyRoot->GetProperty("first").GetObject();
    ASSERT_NE(copyShared, nullptr);
    EXPECT_NE(copyShared, shared.Get());
    EXPECT_EQ(copyRoot->GetProperty("list").GetArray()->GetAt(0).GetObject(), copyShared);
    EXPECT_EQ(copyRoot->GetProperty("self").GetObject(), copyRoot);

    copyShared->SetPropertyAsString("name", "changed");
    EXPECT_EQ(Text(shared->GetProperty("name")), "s");

    // Break both cycles so that everything is freed.
    copyRoot->RemoveProperty("self");
    root->RemoveProperty("self");
}

}  // namespace
}  // namespace bkit
