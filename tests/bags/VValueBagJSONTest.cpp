// VValueBagJSONTest.cpp - the JSON text of bags.
#include <gtest/gtest.h>

#include <string>

#include "basekit/bags/VValueBag.h"
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

}  // namespace
}  // namespace bkit
