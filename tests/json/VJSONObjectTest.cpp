// VJSONObjectTest.cpp - paths, implemented objects, iterators, comparison and stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPropertyIterator.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VValue.h"

namespace bkit {
namespace {

VRefPtr<VJSONObject> NewObject() { return VRefPtr<VJSONObject>::Adopt(new VJSONObject()); }

std::string Text(const VJSONValue& value)
{
    VString text;
    value.GetString(text);
    return to_string(text);
}

std::vector<std::string> Names(VJSONPropertyIteratorBase&& iterator)
{
    std::vector<std::string> names;
    for (; iterator.IsValid(); ++iterator)
        names.push_back(to_string(iterator.GetName()));
    return names;
}

TEST(VJSONObjectPaths, ExtractPathSplitsAndRejectsBadSyntax)
{
    struct Case {
        const char* path;
        VError error;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"a.b[2][0].c", 0, {"a", "b", "2", "0", "c"}},
        {" a . b [ 1 ] ", 0, {"a", "b", "1"}},
        {"a..b", VE_JSON_PATH_EMPTY_PART, {}},
        {"", VE_JSON_PATH_EMPTY_PART, {}},
        {"[1]", VE_JSON_PATH_EMPTY_PART, {}},
        {"a[]", VE_JSON_PATH_EMPTY_PART, {}},
        {"a[2", VE_JSON_PATH_MISSING_BRACKET, {}},
        {"a[2]x", VE_JSON_PATH_MISSING_BRACKET, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<VString> parts;
        EXPECT_EQ(VJSONObject::ExtractPath(VString(c.path), parts), c.error);
        if (c.error == 0) {
            std::vector<std::string> got;
            for (const VString& part : parts)
                got.push_back(to_string(part));
            EXPECT_EQ(got, c.parts);
        }
    }
}

TEST(VJSONObjectPaths, SetCreatesContainersAndGetReadsThem)
{
    VRefPtr<VJSONObject> root = NewObject();
    EXPECT_TRUE(root->SetPropertyWithPath("a.b[2]", VJSONValue(5.0)));
    VJSONValue b = root->GetPropertyWithPath("a.b");
    ASSERT_TRUE(b.IsArray());
    ASSERT_EQ(b.GetArray()->GetCount(), 3u);
    EXPECT_TRUE(b.GetArray()->GetAt(0).IsNull());
    EXPECT_TRUE(b.GetArray()->GetAt(1).IsNull());
    EXPECT_TRUE(root->GetPropertyWithPath("a").IsObject());

    EXPECT_TRUE(root->SetPropertyWithPath("a.c[1].d", VJSONValue(VString("deep"))));
    struct Case {
        const char* path;
        std::string text;
    };
    const Case cases[] = {
        {"a.b[2]", "5"},        {"a.b.length", "3"}, {"a.b.LENGTH", "3"}, {"a.c[1].d", "deep"},
        {"a.b[3]", ""},         {"a.b[-1]", ""},     {"a.x.y", ""},       {"a.b[2].z", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        VJSONValue value = root->GetPropertyWithPath(c.path);
        EXPECT_EQ(Text(value), c.text);
        if (c.text.empty()) {
            EXPECT_TRUE(value.IsUndefined());
        }
    }
    VString deep;
    EXPECT_TRUE(VJSONValue::GetStringByPath(VJSONValue(root.Get()), "a.c[1].d", deep));
    EXPECT_EQ(to_string(deep), "deep");
}

TEST(VJSONObjectPaths, SetFailuresNameTheStepAndNeverGrowWildly)
{
    VRefPtr<VJSONObject> root = NewObject();
    ASSERT_TRUE(root->SetPropertyWithPath("a.n", VJSONValue(1.0)));
    ASSERT_TRUE(root->SetPropertyWithPath("list[0]", VJSONValue(1.0)));
    struct Case {
        const char* path;
        VError error;
    };
    const Case cases[] = {
        {"a.n.x", VE_JSON_PATH_NOT_AN_OBJECT},
        {"a.n[0]", VE_JSON_PATH_NOT_AN_ARRAY},
        {"a[", VE_JSON_PATH_MISSING_BRACKET},
        {"list[-1]", VE_INVALID_PARAMETER},
        {"list[99999999999]", VE_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        StErrorContextInstaller errors(false, true);
        EXPECT_FALSE(root->SetPropertyWithPath(c.path, VJSONValue(2.0)));
        EXPECT_EQ(errors.GetLastError(), c.error);
    }
    {
        StErrorContextInstaller errors(false, true);
        root->SetPropertyWithPath("a.n.x", VJSONValue(2.0));
        VString p1;
        errors.GetContext()->GetLast()->GetParameters()->GetProperty("p1").GetString(p1);
        EXPECT_EQ(to_string(p1), "n");
    }
    EXPECT_EQ(root->GetPropertyWithPath("list").GetArray()->GetCount(), 1u);
}

TEST(VJSONObjectPaths, ValueReadersByPath)
{
    VRefPtr<VJSONObject> root = NewObject();
    root->SetPropertyWithPath("on", VJSONValue(JSON_true));
    root->SetPropertyWithPath("one", VJSONValue(1.0));
    root->SetPropertyWithPath("n.big", VJSONValue(1e20));
    root->SetPropertyWithPath("n.small", VJSONValue(-1e20));
    root->SetPropertyWithPath("n.nan", VJSONValue(std::nan("")));
    root->SetPropertyWithPath("n.neg", VJSONValue(-2.7));
    VJSONValue r(root.Get());
    EXPECT_TRUE(VJSONValue::GetBoolByPath(r, "on"));
    EXPECT_FALSE(VJSONValue::GetBoolByPath(r, "one"));
    EXPECT_EQ(VJSONValue::GetLongByPath(r, "n.big"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(VJSONValue::GetLongByPath(r, "n.small"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(VJSONValue::GetLongByPath(r, "n.nan"), 0);
    EXPECT_EQ(VJSONValue::GetLongByPath(r, "n.neg"), -2);
    VString out("kept");
    EXPECT_FALSE(VJSONValue::GetStringByPath(r, "one", out));
    EXPECT_EQ(to_string(out), "kept");
    EXPECT_EQ(VJSONValue::GetLongByPath(VJSONValue(3.0), "x"), 0);
}

// An implementation that computes one property, refuses to set another, and
// names its computed property.
class Computed : public VObject, public IJSONObject {
public:
    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override
    {
        if (name.EqualToStringRaw(VString("computed"))) {
            out = VJSONValue(42.0);
            return eJSON_done;
        }
        return eJSON_notHandled;
    }
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) override
    {
        return name.EqualToStringRaw(VString("computed")) ? eJSON_failed : eJSON_notHandled;
    }
    EJSONStatus IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>& names) override
    {
        names.push_back(VString("computed"));
        return eJSON_done;
    }
    EJSONStatus IJSON_GetClassName(const VJSONObject*, VString& out) override
    {
        out.FromCString("Computed");
        return eJSON_done;
    }
};

TEST(VJSONObject, ImplementationAnswersFirstAndListsItsNames)
{
    VRefPtr<Computed> implementation = VRefPtr<Computed>::Adopt(new Computed());
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get(), false));
    object->SetProperty("own", VJSONValue(1.0));
    EXPECT_EQ(object->GetProperty("computed").GetNumber(), 42);
    EXPECT_TRUE(object->HasProperty("computed"));
    EXPECT_FALSE(object->HasOwnProperty("computed"));
    EXPECT_FALSE(object->SetProperty("computed", VJSONValue(1.0)));
    EXPECT_FALSE(object->IsEmpty());
    VString name;
    object->GetClassName(name);
    EXPECT_EQ(to_string(name), "Computed");

    EXPECT_EQ(Names(VJSONPropertyConstOrderedIterator(object.Get())), (std::vector<std::string>{"computed", "own"}));
    VString description;
    EXPECT_EQ(object->GetDescription(description, false), 0u);
    EXPECT_EQ(to_string(description), "{\"computed\":42,\"own\":1}");
    VRefPtr<VJSONObject> big = NewObject();
    big->SetProperty("text", VJSONValue(VString(std::string(600, 'x').c_str())));
    big->SetProperty("after", VJSONValue(1.0));
    EXPECT_EQ(big->GetDescription(description, true), 0u);
    EXPECT_LT(description.GetLength(), 700);
    EXPECT_EQ(description.GetCPointer()[description.GetLength() - 1], u'.');
    EXPECT_EQ(Names(VJSONPropertyConstOrderedIterator(object.Get(), 1)), (std::vector<std::string>{"own"}));
    EXPECT_EQ(Names(VJSONPropertyConstIterator(object.Get())), (std::vector<std::string>{"computed", "own"}));
    VJSONPropertyConstOrderedIterator first(object.Get());
    EXPECT_EQ(first.GetValue().GetNumber(), 42);
}

TEST(VJSONObject, RemovingKeepsIndexesDenseAndIteratorsWorkOnASnapshot)
{
    VRefPtr<VJSONObject> object = NewObject();
    for (const char* name : {"a", "b", "c"})
        object->SetProperty(name, VJSONValue(1.0));
    object->RemoveProperty("b");
    EXPECT_EQ(to_string(object->GetNameAt(1)), "c");
    object->SetProperty("d", VJSONValue(2.0));
    EXPECT_EQ(Names(VJSONPropertyConstOrderedIterator(object.Get())), (std::vector<std::string>{"a", "c", "d"}));

    // Large objects are indexed; removals down to small ones search in place.
    VRefPtr<VJSONObject> large = NewObject();
    for (int i = 0; i < 30; ++i)
        large->SetProperty(VString(std::to_string(i).c_str()), VJSONValue(static_cast<double>(i)));
    for (int i = 0; i < 30; i += 2)
        large->RemoveProperty(VString(std::to_string(i).c_str()));
    large->SetProperty("5", VJSONValue(-5.0));
    for (int i = 0; i < 30; ++i) {
        VJSONValue value = large->GetProperty(VString(std::to_string(i).c_str()));
        EXPECT_EQ(value.IsUndefined(), i % 2 == 0) << i;
    }
    EXPECT_EQ(to_string(large->GetNameAt(2)), "5");
    EXPECT_EQ(large->GetValueAt(2).GetNumber(), -5);
    for (int i = 1; i < 30; i += 2)
        large->RemoveProperty(VString(std::to_string(i).c_str()));
    EXPECT_TRUE(large->IsEmpty());

    // Setting undefined through the mutable iterator leaves the property.
    for (VJSONPropertyIterator i(object.Get()); i.IsValid(); ++i) {
        i.SetValue(VJSONValue());
        object->SetProperty("added", VJSONValue(3.0));
    }
    EXPECT_EQ(object->GetPropertyCount(), 4u);
    EXPECT_TRUE(object->HasOwnProperty("a"));
}

TEST(VJSONObject, StoringAValueThatSitsInTheSameContainer)
{
    VRefPtr<VJSONObject> object = NewObject();
    object->SetProperty("a", VJSONValue(JSON_object));
    object->SetProperty("a", object->GetValueAt(0));
    object->SetProperty("b", object->GetValueAt(0));
    EXPECT_TRUE(object->GetProperty("a").IsObject());
    EXPECT_EQ(object->GetProperty("a").GetObject(), object->GetProperty("b").GetObject());
}

TEST(VJSONObject, ClearPropertyClassNameAndTheLockerIDName)
{
    VRefPtr<VJSONObject> object = NewObject();
    object->SetProperty("t", VJSONValue(JSON_true));
    object->SetProperty("s", VJSONValue(VString("text")));
    object->SetProperty("n", VJSONValue(3.0));
    object->SetProperty("o", VJSONValue(JSON_object));
    object->SetProperty("__LockerID", VJSONValue(7.0));
    struct Case {
        const char* name;
        JSONType kind;
        std::string text;
    };
    const Case cases[] = {{"t", JSON_false, "false"}, {"s", JSON_string, ""}, {"n", JSON_number, "0"},
                          {"o", JSON_null, ""}, {"missing", JSON_undefined, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(object->ClearProperty(c.name));
        EXPECT_EQ(object->GetProperty(c.name).GetType(), c.kind);
        EXPECT_EQ(Text(object->GetProperty(c.name)), c.text);
    }
    // On an unshared object the reserved name is an ordinary one.
    EXPECT_EQ(object->GetProperty("__LockerID").GetNumber(), 7);
    VString name;
    object->GetClassName(name);
    EXPECT_EQ(to_string(name), "Object");

    VRefPtr<VJSONObject> shared = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    EXPECT_FALSE(shared->SetProperty("__LockerID", VJSONValue(7.0)));
    const int32_t id = shared->GetSharedID();
    EXPECT_LT(id, 0);  // private until a value joins
    EXPECT_EQ(shared->GetProperty("__LockerID").GetNumber(), id);
    EXPECT_TRUE(shared->HasOwnProperty("__LockerID"));
    shared->GetClassName(name);
    EXPECT_EQ(to_string(name), "Shared Object");
}

TEST(VJSONValue, CompareToOrdersKindsAndContents)
{
    VCompareOptions options;
    VRefPtr<VJSONObject> object = NewObject();
    VJSONValue f;
    f.SetBool(false);
    VJSONValue d1, d2;
    d1.SetDate(2020, 1, 2);
    d2.SetDate(2020, 1, 3);
    struct Case {
        VJSONValue a;
        VJSONValue b;
        int expected;
    };
    const Case cases[] = {
        {VJSONValue(), VJSONValue(JSON_null), 0},
        {f, VJSONValue(JSON_true), -1},
        {VJSONValue(1.0), VJSONValue(1.0 + 1e-9), 0},  // within the epsilon
        {VJSONValue(1.0), VJSONValue(2.0), -1},
        {VJSONValue(VString("b")), VJSONValue(VString("a")), 1},
        {VJSONValue(object.Get()), VJSONValue(object.Get()), 0},
        {d1, d2, -1},
        {VJSONValue(VString("1")), VJSONValue(1.0), -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cases[i].a.CompareTo(cases[i].b, options), cases[i].expected);
    }
}

TEST(VJSONValue, DeepEqualityIgnoresOrderAndEndsOnCycles)
{
    VCompareOptions options;
    auto make = [](bool reversed, double leaf) {
        VJSONValue root(JSON_object);
        VJSONValue list(JSON_array);
        list.GetArray()->Push(VJSONValue(leaf));
        list.GetArray()->Push(root);  // a cycle back to the root
        if (reversed) {
            root.SetProperty("list", list);
            root.SetProperty("x", VJSONValue(VString("x")));
        } else {
            root.SetProperty("x", VJSONValue(VString("x")));
            root.SetProperty("list", list);
        }
        return root;
    };
    VJSONValue a = make(false, 1);
    VJSONValue b = make(true, 1);
    VJSONValue c = make(true, 2);
    EXPECT_TRUE(a.DeepEqualTo(b, options));
    EXPECT_FALSE(a.DeepEqualTo(c, options));
    EXPECT_FALSE(a.DeepEqualTo(VJSONValue(JSON_object), options));
    // Break the cycles so the values go.
    for (VJSONValue* v : {&a, &b, &c})
        v->GetObject()->RemoveProperty("list");
}

TEST(VJSONValue, TimesDatesAndToolboxValues)
{
    VTime time;
    time.FromUTCTime(2024, 2, 29, 13, 5, 0, 0);
    VJSONValue date(time);
    ASSERT_TRUE(date.IsDate());
    EXPECT_EQ(Text(date), "2024-02-29");
    VTime back;
    date.GetTime(back);
    EXPECT_EQ(back.GetDay(), 29);
    EXPECT_EQ(back.GetMillisecondsOfDay(), 0u);
    VTime null;
    null.SetNull(true);
    EXPECT_TRUE(VJSONValue(null).IsNull());
    VJSONValue(3.0).GetTime(back);
    EXPECT_TRUE(back.IsNull());

    std::unique_ptr<VValueSingle> marked(VJSONValue(JSON_array).CreateVValue(true));
    VString text;
    marked->GetString(text);
    ASSERT_EQ(text.GetLength(), 4);
    EXPECT_EQ(text.GetCPointer()[3], 2);
    std::unique_ptr<VValueSingle> unmarked(VJSONValue(JSON_object).CreateVValue(false));
    EXPECT_TRUE(unmarked->IsNull());
    std::unique_ptr<VValueSingle> number(VJSONValue(2.5).CreateVValue(false));
    EXPECT_EQ(number->GetReal(), 2.5);
}

TEST(VJSONObject, StampsFollowChangesAtPaths)
{
    VRefPtr<VJSONObject> root = NewObject();
    root->SetPropertyWithPath("a[2]", VJSONValue(1.0));
    EXPECT_EQ(root->GetPropertyStampWithPath("a.length"), 3u);
    const uint32_t before = root->GetPropertyStampWithPath("a[2]");
    EXPECT_NE(before, 0u);
    root->TouchPropertyStampWithPath("a[2]");
    EXPECT_NE(root->GetPropertyStampWithPath("a[2]"), before);
    EXPECT_EQ(root->GetPropertyStampWithPath("missing.x"), 0u);

    // A stamp object spreads through the tree once, cycles included.
    VRefPtr<VJSONStamp> stamp = VRefPtr<VJSONStamp>::Adopt(new VJSONStamp());
    root->SetPropertyWithPath("a[0]", VJSONValue(root.Get()));
    VJSONValue::CheckAndUpdateJsonStamp(VJSONValue(root.Get()), stamp.Get());
    EXPECT_EQ(root->GetJSONStamp(), stamp.Get());
    EXPECT_EQ(root->GetProperty("a").GetArray()->GetJSONStamp(), stamp.Get());
    const uint32_t count = stamp->GetStamp();
    root->SetProperty("b", VJSONValue(1.0));
    EXPECT_EQ(stamp->GetStamp(), count + 1);
    root->RemoveProperty("a");
}

}  // namespace
}  // namespace bkit
