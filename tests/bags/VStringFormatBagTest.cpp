// VStringFormatBagTest.cpp - {name} placeholders filled from a bag's attributes.
#include <gtest/gtest.h>

#include "basekit/bags/VValueBag.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

TEST(VStringFormatBag, FillsNamesFromAttributes)
{
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    bag->SetString("name", VString("Ann"));
    bag->SetLong("n", 3);
    bag->SetString("brace", VString("{name}"));
    bag->AddElement("child", VRefPtr<VValueBag>::Adopt(new VValueBag()).Get());
    struct Case {
        const char* text;
        bool removeUnknown;
        const char* expected;
    } cases[] = {
        {"Hi {name}, {n}!", false, "Hi Ann, 3!"},
        {"{child}|{nobody}", false, "{child}|{nobody}"},  // elements are no attributes
        {"{child}|{nobody}|{n}", true, "||3"},
        {"{{name}} {brace}", false, "{{name}} {name}"},
        {"{first name}", true, "{first name}"},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        text.Format(bag.Get(), c.removeUnknown);
        EXPECT_EQ(to_string(text), c.expected) << c.text;
    }
    VRefPtr<VValueBag> empty = VRefPtr<VValueBag>::Adopt(new VValueBag());
    for (const VValueBag* b : {static_cast<const VValueBag*>(nullptr), static_cast<const VValueBag*>(empty.Get())}) {
        VString text("{name} {x}");
        text.Format(b, true);
        EXPECT_EQ(to_string(text), "{name} {x}");
    }
}

}  // namespace
}  // namespace bkit
