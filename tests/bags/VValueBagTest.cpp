// VValueBagTest.cpp - bag attributes, element lists, paths, merging, ordering and UUID loading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {
namespace {

using Bag = VRefPtr<VValueBag>;

Bag NewBag() { return Bag::Adopt(new VValueBag()); }

std::string Names(const VValueBag& bag)
{
    std::string out;
    VString name;
    for (VIndex i = 1; i <= bag.GetElementNamesCount(); ++i) {
        bag.GetNthElementName(i, &name);
        out += (i > 1 ? "," : "") + to_string(name);
    }
    return out;
}

std::string Text(const VValueBag& bag, const char* key)
{
    VString s;
    bag.GetString(StPackedDictionaryKey(key), s);
    return to_string(s);
}

TEST(VValueBag, AttributesKeepTheirFirstPositionAndConvert)
{
    Bag bag = NewBag();
    EXPECT_TRUE(bag->IsEmpty());
    bag->SetBool("flag", true);
    bag->SetLong8("big", 1LL << 40);
    bag->SetReal("pi", 3.5);
    bag->SetString("name", VString("x"));
    bag->SetString("flag", VString("replaced"));
    ASSERT_EQ(bag->GetAttributesCount(), 4);
    VString name;
    bag->GetNthAttribute(1, &name);
    EXPECT_EQ(to_string(name), "flag");
    EXPECT_EQ(Text(*bag, "flag"), "replaced");
    int64_t big = 0;
    EXPECT_TRUE(bag->GetLong8("big", big));
    EXPECT_EQ(big, 1LL << 40);
    EXPECT_EQ(Text(*bag, "pi"), "3.5");
    EXPECT_EQ(bag->GetNthAttribute(5, &name), nullptr);
    EXPECT_TRUE(name.IsEmpty());
    bool absent = true;
    EXPECT_FALSE(bag->GetBool("absent", absent));
    bag->RemoveAttribute("pi");
    EXPECT_FALSE(bag->AttributeExists("pi"));
    EXPECT_EQ(bag->GetAttributesCount(), 3);
}

TEST(VValueBag, TypedKeysAndDefaults)
{
    static const StBagKeyWithDefault<VLong, int32_t> level("level", 4);
    static const StBagKeyNoDefault<VString, VString> message("message");
    static const StBagKeyNoDefault<VBoolean, bool> flag("flag");
    Bag bag = NewBag();
    EXPECT_EQ(level.Get(bag.Get()), 4);
    level.Set(bag.Get(), 6);
    message.Set(bag.Get(), VString("hello"));
    flag.Set(bag.Get(), true);
    EXPECT_EQ(level.Get(bag.Get()), 6);
    VString text;
    EXPECT_TRUE(message.Get(bag.Get(), text));
    EXPECT_EQ(to_string(text), "hello");
    bool b = false;
    EXPECT_TRUE(flag.Get(bag.Get(), b));
    EXPECT_TRUE(b);
    EXPECT_EQ(bag->GetAttributeValue(level)->GetValueKind(), VK_LONG);
}

TEST(VValueBag, TextContentAppendsAndConvertsToAString)
{
    Bag bag = NewBag();
    bag->AppendToCData(VString("ab"));
    bag->AppendToCData(VString("cd"));
    VString text;
    bag->GetCData(text);
    EXPECT_EQ(to_string(text), "abcd");
    bag->SetLong(VValueBag::CDataAttributeName(), 12);
    bag->AppendToCData(VString("x"));
    bag->GetCData(text);
    EXPECT_EQ(to_string(text), "12x");
    EXPECT_EQ(bag->GetAttributeValue(VValueBag::CDataAttributeName())->GetValueKind(), VK_STRING);
}

TEST(VValueBag, IsEmptyWithJSONMarkers)
{
    Bag bag = NewBag();
    bag->SetBool(VValueBagKeys::ObjectUnic(), true);
    bag->SetString(VValueBagKeys::PropertyNameInJSArray(), VString("p"));
    EXPECT_TRUE(bag->IsEmpty(true));
    EXPECT_FALSE(bag->IsEmpty(false));
    bag->SetElements("list", nullptr);
    EXPECT_FALSE(bag->IsEmpty(true));
}

TEST(VValueBag, ElementListsAndPositions)
{
    Bag bag = NewBag();
    Bag a = NewBag(), b = NewBag();
    bag->AddElement("x", a.Get());
    bag->AddElement("x", b.Get());
    bag->AddElement("x", nullptr);
    ASSERT_NE(bag->GetElements("x"), nullptr);
    EXPECT_EQ(bag->GetElements("x")->GetCount(), 2);
    EXPECT_EQ(bag->GetElements("x")->Find(b.Get()), 2);
    EXPECT_EQ(a->GetRefCount(), 2);

    VString name("stale");
    EXPECT_EQ(bag->GetNthElementName(0, &name), nullptr);
    EXPECT_TRUE(name.IsEmpty());
    name = "stale";
    EXPECT_EQ(bag->GetNthElementName(2, &name), nullptr);
    EXPECT_TRUE(name.IsEmpty());

    // Replacing with the only bag already there changes nothing.
    Bag only = NewBag();
    bag->AddElement("one", only.Get());
    EXPECT_FALSE(bag->ReplaceElement("one", only.Get()));
    EXPECT_EQ(only->GetRefCount(), 2);
    EXPECT_TRUE(bag->ReplaceElement("x", only.Get()));
    EXPECT_EQ(bag->GetElements("x")->GetCount(), 1);
    EXPECT_EQ(a->GetRefCount(), 1);
    EXPECT_FALSE(bag->ReplaceElement("x", nullptr));
    EXPECT_EQ(bag->GetElements("x"), nullptr);
    EXPECT_EQ(Names(*bag), "one");

    VValueBag* fresh = bag->GetElements("one")->RetainNth(0);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->IsEmpty());
    EXPECT_NE(fresh, only.Get());
    fresh->Release();

    VString single;
    EXPECT_EQ(bag->GetUniqueElementAnyKind(single), only.Get());
    EXPECT_EQ(to_string(single), "one");

    // A name kept without a list takes the next list instead of a second entry.
    bag->SetElements("kept", nullptr);
    EXPECT_EQ(bag->GetElements("kept"), nullptr);
    bag->AddElement("kept", only.Get());
    EXPECT_EQ(Names(*bag), "one,kept");
    EXPECT_EQ(bag->GetElements("kept")->GetCount(), 1);
}

TEST(VValueBag, BagArrayInsertionAndRemoval)
{
    VRefPtr<VBagArray> list = VRefPtr<VBagArray>::Adopt(new VBagArray());
    Bag a = NewBag(), b = NewBag(), c = NewBag();
    EXPECT_FALSE(list->AddTail(nullptr));
    list->AddTail(a.Get());
    list->AddNth(b.Get(), 0);   // below 1: first
    list->AddNth(c.Get(), 99);  // beyond the end: last
    EXPECT_EQ(list->Find(b.Get()), 1);
    EXPECT_EQ(list->Find(c.Get()), 3);
    list->SetNth(c.Get(), 1);
    EXPECT_EQ(b->GetRefCount(), 1);
    list->DeleteNth(3);
    EXPECT_EQ(list->GetCount(), 2);
    list->Delete(a.Get());  // the caller takes the list's reference over
    EXPECT_EQ(a->GetRefCount(), 2);
    a->Release();
    EXPECT_EQ(list->GetCount(), 1);
}

TEST(VValueBag, RetainUniqueElementWithAttribute)
{
    Bag bag = NewBag();
    const char* values[] = {"red", "green", "RED", "blue"};
    for (const char* v : values) {
        Bag child = NewBag();
        child->SetString("color", VString(v));
        bag->AddElement("item", child.Get());
    }
    Bag plain = NewBag();
    bag->AddElement("item", plain.Get());
    // "red" and "RED" both match without case distinction.
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("item", "color", VString("red")), nullptr);
    VValueBag* green = bag->RetainUniqueElementWithAttribute("item", "color", VString("green"));
    ASSERT_NE(green, nullptr);
    EXPECT_EQ(green->GetRefCount(), 2);  // the list's and ours
    green->Release();
    // A missing attribute reads as the cleared value.
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("item", "color", VString("")), plain.Get());
    plain->Release();
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("none", "color", VString("red")), nullptr);
}

TEST(VValueBag, KeysFromPaths)
{
    struct Case {
        const char* path;
        std::vector<std::string> keys;
    } cases[] = {
        {"a//b/", {"a", "", "b"}},
        {"/a", {"", "a"}},
        {"", {}},
        {"one", {"one"}},
    };
    for (const Case& c : cases) {
        for (int noCopy = 0; noCopy < 2; ++noCopy) {
            VValueBag::KeyList keys;
            if (noCopy)
                VValueBag::GetKeysFromUTF8PathNoCopy(c.path, keys);
            else
                VValueBag::GetKeysFromPath(VString(c.path), keys);
            ASSERT_EQ(keys.size(), c.keys.size()) << c.path;
            for (size_t i = 0; i < keys.size(); ++i)
                EXPECT_TRUE(keys[i].Equal(c.keys[i].data(), c.keys[i].size())) << c.path << " " << i;
        }
    }
    // A long piece is cut to whole characters, not emptied.
    std::string longPiece;
    for (int i = 0; i < 200; ++i)
        longPiece += "\xC3\xA9";
    VValueBag::KeyList keys;
    VValueBag::GetKeysFromPath(VString(longPiece.c_str()), keys);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].GetKeyLength(), 254u);
    keys.clear();
    VValueBag::GetKeysFromUTF8PathNoCopy(longPiece.c_str(), keys);
    EXPECT_EQ(keys[0].GetKeyLength(), 254u);
}

TEST(VValueBag, PathsCreateReplaceAndRemove)
{
    Bag bag = NewBag();
    VValueBag::KeyList path;
    VValueBag::GetKeysFromPath(VString("a/b/c"), path);
    EXPECT_EQ(bag->GetUniqueElementByPath(path), nullptr);
    VValueBag* made = bag->GetElementByPathAndCreateIfDontExists(path);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("a/b/c")), made);
    EXPECT_EQ(bag->GetUniqueElementByPath(VValueBag::KeyList()), bag.Get());

    Bag leaf = NewBag();
    leaf->SetLong("v", 1);
    VValueBag::KeyList other;
    VValueBag::GetKeysFromPath(VString("x/y"), other);
    EXPECT_TRUE(bag->ReplaceElementByPath(other, leaf.Get()));
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("x/y")), leaf.Get());
    EXPECT_TRUE(bag->ReplaceElementByPath(other, nullptr));
    EXPECT_EQ(bag->GetUniqueElementByPath(VString("x/y")), nullptr);
    EXPECT_NE(bag->GetUniqueElementByPath(VString("x")), nullptr);
    VValueBag::KeyList missing;
    VValueBag::GetKeysFromPath(VString("q/r"), missing);
    EXPECT_TRUE(bag->ReplaceElementByPath(missing, nullptr));
    EXPECT_FALSE(bag->ReplaceElementByPath(VValueBag::KeyList(), leaf.Get()));
}

TEST(VValueBag, UnionCloneAndOverride)
{
    auto withChild = [](VValueBag* bag, const char* value) {
        Bag child = NewBag();
        child->SetString("v", VString(value));
        bag->AddElement("x", child.Get());
    };
    Bag target = NewBag();
    target->SetLong("n", 1);
    withChild(target.Get(), "mine");
    Bag source = NewBag();
    source->SetLong("n", 2);
    source->SetLong("m", 3);
    withChild(source.Get(), "s1");
    withChild(source.Get(), "s2");
    EXPECT_TRUE(target->UnionClone(source.Get()));
    ASSERT_EQ(target->GetElements("x")->GetCount(), 3);
    EXPECT_EQ(Text(*target->GetElements("x")->GetNth(1), "v"), "mine");
    EXPECT_EQ(Text(*target->GetElements("x")->GetNth(3), "v"), "s2");
    EXPECT_NE(target->GetElements("x")->GetNth(2), source->GetElements("x")->GetNth(1));
    EXPECT_EQ(Text(*target, "n"), "2");
    EXPECT_TRUE(target->UnionClone(nullptr));

    // One bag on each side: overridden in place, recursively.
    Bag b1 = NewBag();
    withChild(b1.Get(), "b1");
    b1->GetElements("x")->GetNth(1)->SetString("keep", VString("k"));
    Bag b2 = NewBag();
    withChild(b2.Get(), "b2");
    EXPECT_TRUE(b1->Override(b2.Get()));
    ASSERT_EQ(b1->GetElements("x")->GetCount(), 1);
    EXPECT_EQ(Text(*b1->GetElements("x")->GetNth(1), "v"), "b2");
    EXPECT_EQ(Text(*b1->GetElements("x")->GetNth(1), "keep"), "k");
    // Two bags on the other side: clones appended.
    withChild(b2.Get(), "b3");
    EXPECT_TRUE(b1->Override(b2.Get()));
    EXPECT_EQ(b1->GetElements("x")->GetCount(), 3);
}

TEST(VValueBag, SortElementsByTable)
{
    static const StPackedDictionaryKey root("root"), a("a"), b("b"), c("c"), inner("inner");
    static const VValueBag::StBagElementsOrdering table[] = {
        {&root, {&b, &a, nullptr}},
        {&inner, {&c, &b, nullptr}},
        {nullptr, {nullptr}},
    };
    struct Case {
        std::vector<const char*> order;
        const char* expected;
    } cases[] = {
        {{"a", "b"}, "b,a"},
        {{"c", "a", "b"}, "c,b,a"},
        {{"a", "c", "b"}, "a,c,b"},
    };
    for (const Case& t : cases) {
        Bag bag = NewBag();
        for (const char* name : t.order) {
            Bag child = NewBag();
            bag->AddElement(StPackedDictionaryKey(name), child.Get());
        }
        bag->SortElements(root, table);
        EXPECT_EQ(Names(*bag), t.expected);
        EXPECT_NE(bag->GetElements(StPackedDictionaryKey(t.order[0])), nullptr);
    }
    // Records apply recursively to children listed under their element name.
    Bag bag = NewBag();
    Bag child = NewBag();
    Bag leaf = NewBag();
    child->AddElement(b, leaf.Get());
    child->AddElement(c, leaf.Get());
    bag->AddElement(inner, child.Get());
    bag->SortElements(root, table);
    EXPECT_EQ(Names(*child), "c,b");
}

TEST(VValueBag, CopyIsDeep)
{
    Bag bag = NewBag();
    bag->SetString("s", VString("short"));
    bag->SetString("s", VString("a longer value"));  // dirty: packed by the copy
    Bag child = NewBag();
    child->SetLong("n", 5);
    bag->AddElement("kid", child.Get());
    Bag copy = Bag::Adopt(static_cast<VValueBag*>(bag->Clone()));
    EXPECT_EQ(Text(*copy, "s"), "a longer value");
    VValueBag* copiedChild = copy->GetElements("kid")->GetNth(1);
    EXPECT_NE(copiedChild, child.Get());
    EXPECT_EQ(Text(*copiedChild, "n"), "5");
    child->SetLong("n", 6);
    EXPECT_EQ(Text(*copiedChild, "n"), "5");
    EXPECT_EQ(copy->GetValueKind(), VK_BAG);
}

class Saver : public IBaggable {
public:
    VError SaveToBag(VValueBag& bag, VString& kind) const override
    {
        bag.SetLong("id", 9);
        kind = "saved";
        return fResult;
    }
    VError fResult = VE_OK;
};

TEST(VValueBag, AddElementOfABaggable)
{
    Bag bag = NewBag();
    Saver saver;
    EXPECT_EQ(bag->AddElement(&saver), VE_OK);
    EXPECT_EQ(Text(*bag->GetUniqueElementByPath(VString("saved")), "id"), "9");
    saver.fResult = VE_UNKNOWN_ERROR;
    EXPECT_EQ(bag->AddElement(&saver), VE_UNKNOWN_ERROR);
    EXPECT_EQ(bag->GetElements("saved")->GetCount(), 1);
    EXPECT_EQ(bag->AddElement(static_cast<const IBaggable*>(nullptr)), VE_OK);
}

TEST(VBagLoader, RegeneratedUUIDsStayConsistent)
{
    VUUID stored(true);
    Bag a = NewBag(), b = NewBag(), none = NewBag(), nullUUID = NewBag();
    a->SetVUUID("uuid", stored);
    b->SetVUUID("uuid", stored);
    nullUUID->SetVUUID("uuid", VUUID());

    VBagLoader keep(false, false);
    VUUID out;
    EXPECT_TRUE(keep.GetUUID(*a, out));
    EXPECT_TRUE(out == stored);
    EXPECT_FALSE(keep.GetUUID(*none, out));
    EXPECT_FALSE(out.IsNull());
    EXPECT_TRUE(keep.ResolveUUID(out));

    VBagLoader regen(true, false);
    VUUID first, second;
    EXPECT_TRUE(regen.GetUUID(*a, first));
    EXPECT_TRUE(regen.GetUUID(*b, second));
    EXPECT_FALSE(first == stored);
    EXPECT_TRUE(first == second);
    VUUID resolved(stored);
    EXPECT_TRUE(regen.ResolveUUID(resolved));
    EXPECT_TRUE(resolved == first);
    VUUID unknown(true);
    EXPECT_FALSE(regen.ResolveUUID(unknown));
    EXPECT_TRUE(regen.GetUUID(*nullUUID, out));
    EXPECT_FALSE(out.IsNull());
    EXPECT_FALSE(regen.GetUUID(*none, out));
}

TEST(VValueBag, DebugDumpListsAttributesAndChildren)
{
    Bag bag = NewBag();
    bag->SetLong("n", 3);
    Bag child = NewBag();
    child->SetString("s", VString("t"));
    bag->AddElement("kid", child.Get());
    VString dump;
    bag->DebugDump(dump);
    EXPECT_EQ(to_string(dump), "n = 3\n=======\n1 kid :\n--\ns = t\n");
}

}  // namespace
}  // namespace bkit
