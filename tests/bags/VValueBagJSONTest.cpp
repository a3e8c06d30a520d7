// VValueBagJSONTest.cpp - the JSON text of bags.
#include <gtest/gtest.h>

#include <string>

#include "basekit/bags/VPackedDictionary.h"
#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

using Bag = VRefPtr<VValueBag>;

Bag NewBag() { return Bag::Adopt(new VValueBag()); }

std::string JSON(const VValueBag& bag, uint32_t options = 0)
{
    VString out("stale");
    EXPECT_EQ(bag.GetJSONString(out, options), VE_OK);
    return to_string(out);
}

TEST(VValueBagJSON, WriterForms)
{
    Bag empty = NewBag();
    Bag text = NewBag();
    text->AppendToCData(VString("t\"q"));
    Bag values = NewBag();
    values->SetLong("n", 1);
    values->SetBool("b", false);
    values->SetString("s", VString("x"));
    values->SetBool(VValueBagKeys::ObjectUnic(), true);
    values->SetString(VValueBagKeys::PropertyNameInJSArray(), VString("p"));
    Bag list = NewBag();
    list->AddElement("x", NewBag().Get());
    Bag marked = NewBag();
    Bag markedChild = NewBag();
    markedChild->SetBool(VValueBagKeys::ObjectUnic(), true);
    markedChild->SetLong("v", 2);
    marked->AddElement("x", markedChild.Get());
    Bag fake = NewBag();
    Bag plain = NewBag();
    plain->SetLong(VValueBagKeys::FakeArrayElement(), 5);
    plain->SetLong("ignored", 1);
    fake->AddElement("arr", plain.Get());
    fake->AddElement("arr", plain.Get());
    Bag two = NewBag();
    two->SetLong("a", 1);
    two->AddElement("x", NewBag().Get());

    struct Case {
        const char* what;
        Bag bag;
        uint32_t options;
        const char* expected;
    } cases[] = {
        {"empty", empty, 0, "{}"},
        {"empty pretty", empty, 8, "\n{\n}"},
        {"text only", text, 0, "{\"__CDATA\":\"t\\\"q\"}"},
        {"values and markers", values, 0, "{\"n\":1,\"b\":false,\"s\":\"x\"}"},
        {"one child as array", list, 0, "{\"x\":[{}]}"},
        {"one child as object", list, 32, "{\"x\":{}}"},
        {"marked child", marked, 0, "{\"x\":{\"v\":2}}"},
        {"plain values in an array", fake, 0, "{\"arr\":[5,5]}"},
        {"pretty", two, 8, "\n{\n\t\"a\" : 1,\n\t\"x\" : \n\t[\n\t\t{\n\t\t}\n\t]\n}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JSON(*c.bag, c.options), c.expected) << c.what;
}

TEST(VValueBagJSON, ReadingTypesAndMarkers)
{
    Bag bag = NewBag();
    ASSERT_EQ(bag->FromJSONString(VString("{\"a\":1,\"r\":2.5,\"s\":\"x\",\"d\":\"2020-01-02\",\"w\":word,"
                                          "\"__CDATA\":\"t\",\"o\":{\"k\":true},\"arr\":[{\"v\":1},2,\"z\",null]}")),
              VE_OK);
    struct Case {
        const char* name;
        ValueKind kind;
    } kinds[] = {{"a", VK_LONG8}, {"r", VK_REAL}, {"s", VK_STRING}, {"d", VK_TIME}, {"w", VK_STRING}, {"<>", VK_STRING}};
    for (const Case& c : kinds) {
        ASSERT_NE(bag->GetAttributeValue(c.name), nullptr) << c.name;
        EXPECT_EQ(bag->GetAttributeValue(c.name)->GetValueKind(), c.kind) << c.name;
    }
    const VValueBag* o = bag->GetUniqueElementByPath(VString("o"));
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(o->AttributeExists(VValueBagKeys::ObjectUnic()));
    const VBagArray* arr = bag->GetElements("arr");
    ASSERT_NE(arr, nullptr);
    ASSERT_EQ(arr->GetCount(), 4);
    EXPECT_FALSE(arr->GetNth(1)->AttributeExists(VValueBagKeys::ObjectUnic()));
    EXPECT_EQ(arr->GetNth(2)->GetAttributeValue(VValueBagKeys::FakeArrayElement())->GetValueKind(), VK_LONG8);
    EXPECT_EQ(JSON(*bag), "{\"a\":1,\"r\":2.5,\"s\":\"x\",\"d\":\"2020-01-02\",\"w\":\"word\",\"__CDATA\":\"t\","
                          "\"o\":{\"k\":true},\"arr\":[{\"v\":1},2,\"z\",\"\"]}");
}

TEST(VValueBagJSON, ReadingErrors)
{
    StErrorContextInstaller quiet(false, true);
    struct Case {
        const char* text;
        VError inner;
    } cases[] = {
        {"[1]", VE_JSON_INVALID_TOKEN},
        {"{\"a\":[[1]]}", VE_JSON_INVALID_TOKEN},
        {"{\"a\":1,}", VE_JSON_EXTRA_COMMA},
        {"{\"a\":[1,]}", VE_JSON_EXTRA_COMMA},
        {"{\"a\" 1}", VE_JSON_INVALID_TOKEN},
    };
    for (const Case& c : cases) {
        quiet.Flush();
        Bag bag = NewBag();
        EXPECT_EQ(bag->FromJSONString(VString(c.text)), VE_JSON_MALFORMED) << c.text;
        EXPECT_NE(quiet.GetContext()->Find(c.inner), nullptr) << c.text;
    }
    // Strict reading refuses bare words.
    Bag bag = NewBag();
    VJSONImporter strict(VString("{\"a\":word}"), VJSONImporter::kOption_Strict);
    EXPECT_EQ(strict.JSONObjectToBag(*bag), VE_JSON_MALFORMED);
}

TEST(VValueBagJSON, AnObjectOfManyKeysIsReadAtAFewProbesAKey)
{
    constexpr int kKeys = 20000;
    std::string text = "{";
    for (int i = 0; i < kKeys; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    text += "}";
    Bag bag = NewBag();
    const uint64_t before = _GetDictionaryProbesForTesting();
    VJSONImporter importer{VString(text.c_str())};
    ASSERT_EQ(importer.JSONObjectToBag(*bag), VE_OK);
    EXPECT_LE(_GetDictionaryProbesForTesting() - before, 8u * kKeys);
    ASSERT_EQ(bag->GetAttributesCount(), kKeys);
    for (int i = 0; i < kKeys; i += 1999) {
        const std::string key = "k" + std::to_string(i);
        EXPECT_EQ(bag->GetAttributeValue(key.c_str())->GetLong(), i) << key;
    }
}

TEST(VValueBagJSON, JSONValuesBothWays)
{
    Bag bag = NewBag();
    bag->SetLong("n", 3);
    Bag child = NewBag();
    child->SetString("s", VString("x"));
    bag->AddElement("kid", child.Get());
    VJSONValue value;
    ASSERT_EQ(bag->GetJSONValue(value), VE_OK);
    ASSERT_TRUE(value.IsObject());
    VString text;
    value.Stringify(text, 1);
    EXPECT_EQ(to_string(text), "{\"n\":3,\"kid\":[{\"s\":\"x\"}]}");

    Bag back = NewBag();
    ASSERT_EQ(back->FromJSONValue(value), VE_OK);
    EXPECT_EQ(JSON(*back), JSON(*bag));

    // A bag that stands for a plain value has no object form.
    Bag plain = NewBag();
    plain->SetLong(VValueBagKeys::FakeArrayElement(), 5);
    VError err = 1;
    EXPECT_EQ(plain->BuildJSONObject(err), nullptr);
    EXPECT_EQ(err, VE_OK);
    EXPECT_EQ(plain->GetJSONValue(value), VE_OK);
    EXPECT_TRUE(value.IsUndefined());
}

}  // namespace
}  // namespace bkit
