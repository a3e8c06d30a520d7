// VJSONUtilitiesTest.cpp - array and object text builders, the array text
// reader, path editors, value iterators, the cloner's shapes, class tests,
// byte blobs as JSON and binary objects read into bags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONTextBuilders.h"
#include "basekit/json/VJSONUtilities.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VValue.h"
#include "basekit/values/VBlob.h"
#include "basekit/values/VScalars.h"
#include "json/JSONClassTestSupport.h"

namespace bkit {
namespace {

std::string Compact(const VJSONValue& value)
{
    VString text;
    value.Stringify(text, VJSONWriter::kFlag_Quoted);
    return to_string(text);
}

class VJSONUtilitiesTest : public test::ClassStoreTest {};

TEST_F(VJSONUtilitiesTest, ArrayWriterClosesReopensAndNests)
{
    VJSONArrayWriter writer;
    writer.AddLong(1);
    writer.AddBool(false);
    writer.Close();
    EXPECT_EQ(to_string(writer.GetText()), "[1,false]");
    writer.AddLong(2);
    writer.Close();
    EXPECT_EQ(to_string(writer.GetText()), "[1,false,2]");

    VJSONArrayWriter empty;
    empty.Close();
    EXPECT_EQ(to_string(empty.GetText()), "[]");

    VJSONArrayWriter inner;
    const int longs[] = {3, 4};
    inner.AddLongs(longs, 2);
    inner.AddLongs(nullptr, 5);
    VJSONArrayWriter outer;
    outer.AddString(VString("a\"b"), kJSONWithQuotes);
    outer.AddJSONArray(inner);
    VString text;
    outer.GetArray(text);
    EXPECT_EQ(to_string(text), "[\"a\\\"b\",[3,4]]");
    EXPECT_EQ(to_string(inner.GetText()), "[]");
    EXPECT_EQ(to_string(outer.GetText()), "[]");
}

TEST_F(VJSONUtilitiesTest, ArrayReaderReadsValuesAndSkipsNestedArrays)
{
    VJSONArrayReader reader(VString("[1, \"a\", [2, [3]], true]"));
    VError err = 1;
    EXPECT_EQ(reader.GetCountOfElements(&err), 3);
    EXPECT_EQ(err, 0);
    std::vector<VString> values;
    EXPECT_EQ(reader.ToArrayString(values, false), 0);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(to_string(values[0]), "1");
    EXPECT_EQ(to_string(values[1]), "a");
    EXPECT_EQ(to_string(values[2]), "true");
    char bools[3] = {};
    reader.ToArrayBool(bools);
    EXPECT_EQ(bools[2], 1);
    EXPECT_EQ(bools[0], 0);

    for (const char* bad : {"", "no array", "[1, 2", "[1, [2, 3]"}) {
        VJSONArrayReader broken{VString(bad)};
        EXPECT_EQ(broken.GetCountOfElements(&err), 0) << bad;
        EXPECT_EQ(err, VE_JSON_ARRAY_TEXT_INVALID) << bad;
        int longs[4];
        EXPECT_EQ(broken.ToArrayLong(longs), VE_JSON_ARRAY_TEXT_INVALID);
    }
}

TEST_F(VJSONUtilitiesTest, SingleObjectWriter)
{
    VJSONSingleObjectWriter writer;
    EXPECT_FALSE(writer.AddMember(VString(), VLong(1)));
    EXPECT_TRUE(writer.AddMember(VString("a"), VLong(1)));
    EXPECT_TRUE(writer.AddMember(VString("b"), VString("x"), kJSONWithQuotes));
    VString text;
    writer.GetObject(text);
    writer.GetObject(text);
    EXPECT_EQ(to_string(text), "{\"a\":1,\"b\":\"x\"}");
}

TEST_F(VJSONUtilitiesTest, AlterMakesObjectsAndSetsPaths)
{
    VJSONValue value(JSON_null);
    VJSONAlter(value, VString("a.b"), 1);
    VJSONAlter(value, VString("list[1]"), true);
    VJSONAlter(value, VString("s"), "text");
    VJSONArray* made = nullptr;
    VJSONAlter(value, VString("arr"), JSON_array, &made);
    EXPECT_NE(made, nullptr);
    EXPECT_EQ(Compact(value), "{\"a\":{\"b\":1},\"list\":[null,true],\"s\":\"text\",\"arr\":[]}");
    VJSONAlter(value, VString("a.b"));  // removes nothing: no property has that whole name
    VJSONAlter(value, VString("s"));
    EXPECT_EQ(Compact(value), "{\"a\":{\"b\":1},\"list\":[null,true],\"arr\":[]}");
}

TEST_F(VJSONUtilitiesTest, IteratorsOverArraysAndObjects)
{
    VJSONValue array;
    ASSERT_EQ(array.ParseFromString(VString("[1,2,3,4,5]")), 0);
    VJSONIter tail(array.GetArray(), -2, 0, true);
    std::vector<double> seen;
    VJSONValue v;
    while (tail.NextValue(v))
        seen.push_back(v.GetNumber());
    EXPECT_EQ(seen, (std::vector<double>{4, 5}));
    EXPECT_TRUE(v.IsUndefined());

    VJSONIter middle(array.GetArray(), 1, -1, false);
    seen.clear();
    while (middle.NextValue(v))
        seen.push_back(v.GetNumber());
    EXPECT_EQ(seen, (std::vector<double>{2, 3, 4}));

    VJSONValue object;
    ASSERT_EQ(object.ParseFromString(VString("{\"b\":1,\"a\":2}")), 0);
    VJSONIter names(object.GetObject());
    std::string joined;
    while (names.NextValue(v)) {
        VString s;
        v.GetString(s);
        joined += to_string(s);
    }
    EXPECT_EQ(joined, "ba");
}

TEST_F(VJSONUtilitiesTest, ClonerKeepsSharedPartsAndCycles)
{
    VJSONValue root;
    ASSERT_EQ(root.ParseFromString(VString("{\"a\":{}}")), 0);
    VJSONObject* shared = root.GetProperty(VString("a")).GetObject();
    root.GetObject()->SetProperty(VString("b"), VJSONValue(shared));
    shared->SetProperty(VString("up"), root);
    VJSONCloner cloner;
    VJSONValue copy = root;
    ASSERT_EQ(cloner.CloneValue(copy), 0);
    VJSONObject* a = copy.GetProperty(VString("a")).GetObject();
    EXPECT_NE(a, shared);
    EXPECT_EQ(a, copy.GetProperty(VString("b")).GetObject());
    EXPECT_EQ(a->GetProperty(VString("up")).GetObject(), copy.GetObject());
    EXPECT_TRUE(cloner.GetStorageLockerAndAssignIfNecessary()->IsPrivate());
    EXPECT_FALSE(cloner.GetStorageLockerAndAssignIfNecessary()->IsPrivate());
}

// A chain of depth containers, each the only value of the one before; kinds
// "o" (objects) and "a" (arrays) repeat along the chain.
VJSONValue Chain(int depth, const std::string& kinds)
{
    auto make = [&](int i) { return VJSONValue(kinds[i % kinds.size()] == 'o' ? JSON_object : JSON_array); };
    VJSONValue root = make(0);
    VJSONValue current = root;
    for (int i = 1; i < depth; ++i) {
        VJSONValue next = make(i);
        if (current.IsObject())
            current.GetObject()->SetProperty(VString("v"), next);
        else
            current.GetArray()->Push(next);
        current = next;
    }
    current.IsObject() ? (void)current.GetObject()->SetProperty(VString("end"), VJSONValue(1.0))
                       : (void)current.GetArray()->Push(VJSONValue(1.0));
    return root;
}

TEST_F(VJSONUtilitiesTest, ClonerCopiesAnyDepthOnASmallStack)
{
    std::string nested;
    const int depth = static_cast<int>(VJSONImporter::kMaxDepth);
    for (int i = 0; i < depth; ++i)
        nested += (i % 2) ? "[" : "{\"k\":";
    nested += "0";
    for (int i = depth - 1; i >= 0; --i)
        nested += (i % 2) ? "]" : "}";
    VJSONValue parsed;
    ASSERT_EQ(VJSONImporter::ParseString(VString(nested.c_str()), parsed, 0), 0u);
    struct Case {
        const char* what;
        VJSONValue source;
    };
    const Case cases[] = {
        {"30,000 nested objects", Chain(30000, "o")},
        {"30,000 nested arrays", Chain(30000, "a")},
        {"objects and arrays in turn", Chain(30000, "oao")},
        {"a document the reader accepts", parsed},
    };
    for (const Case& c : cases) {
        for (size_t stack : {128 * 1024, 256 * 1024}) {
            SCOPED_TRACE(std::string(c.what) + ", stack " + std::to_string(stack / 1024) + " KB");
            VJSONValue copy = c.source;
            VError err = 1;
            VTask* task = new VTask(stack, eTaskStylePreemptive, [&] {
                VJSONCloner cloner;
                err = cloner.CloneValue(copy);
            });
            ASSERT_TRUE(task->Run());
            EXPECT_TRUE(task->WaitForDeath(60000));
            task->Release();
            EXPECT_EQ(err, 0u);
            EXPECT_NE(VJSONContainer::ContainerOf(copy), VJSONContainer::ContainerOf(c.source));
            EXPECT_TRUE(copy.DeepEqualTo(c.source, VCompareOptions()));
        }
    }
}

// Every container reachable from a value, each once.
std::vector<VJSONContainer*> Containers(const VJSONValue& value)
{
    std::vector<VJSONContainer*> out;
    if (VJSONContainer* root = VJSONContainer::ContainerOf(value))
        VJSONContainer::_WalkReachable(root, [&](VJSONContainer* c) {
            out.push_back(c);
            return true;
        });
    return out;
}

TEST_F(VJSONUtilitiesTest, ClonesOfASharedTreeFormOneNewSharedTree)
{
    VJSONValue source;
    ASSERT_EQ(VJSONImporter::ParseString(VString("{\"a\":{\"b\":[1,{\"c\":2}]},\"d\":[[]],\"e\":\"x\"}"),
                                         source, VJSONImporter::kOption_SharedStorage),
              0u);
    // A plain object holding the shared tree twice, and a shared array alone.
    VRefPtr<VJSONObject> holder = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    holder->SetProperty(VString("first"), source);
    holder->SetProperty(VString("again"), source);
    const VJSONValue sharedArray = source.GetProperty(VString("d"));
    struct Case {
        const char* what;
        VJSONValue value;
        const char* sharedPart;  // the property holding the shared part, or null: the value itself
    };
    const Case cases[] = {
        {"shared object", source, nullptr},
        {"shared array", sharedArray, nullptr},
        {"plain object holding one", VJSONValue(holder.Get()), "first"},
    };
    VStorageLocker* sourceLocker = source.GetObject()->_GetStorageLocker();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VJSONCloner cloner;
        VJSONValue copy = c.value;
        ASSERT_EQ(cloner.CloneValue(copy), 0u);
        EXPECT_TRUE(copy.DeepEqualTo(c.value, VCompareOptions()));
        VJSONValue part = c.sharedPart ? copy.GetProperty(VString(c.sharedPart)) : copy;
        if (c.sharedPart) {
            EXPECT_FALSE(copy.GetObject()->IsShared());
            EXPECT_EQ(part.GetObject(), copy.GetProperty(VString("again")).GetObject());
        }
        VStorageLocker* locker = VJSONContainer::ContainerOf(part)->_GetStorageLocker();
        ASSERT_NE(locker, nullptr);
        EXPECT_EQ(locker, cloner.GetStorageLockerAndAssignIfNecessary());
        EXPECT_NE(locker, sourceLocker);
        EXPECT_FALSE(locker->IsPrivate());
        EXPECT_EQ(locker->GetOwner(), 0u);  // the copy leaves no use behind
        for (VJSONContainer* each : Containers(part))
            EXPECT_EQ(each->_GetStorageLocker(), locker);
        if (part.IsObject()) {
            EXPECT_TRUE(part.GetObject()->IsShared());
        }
    }
}

TEST_F(VJSONUtilitiesTest, FormulasAndSingletonMaps)
{
    VJSONObject* apply = Store()->GetFunctionClassObject()->GetProperty(VString("new")).GetObject();
    EXPECT_TRUE(IsObjectAFormula(apply));
    VJSONObject* plain = new VJSONObject();
    EXPECT_FALSE(IsObjectAFormula(plain));
    EXPECT_FALSE(IsObjectAFormula(VJSONValue(1.0)));
    plain->Release();

    VJSONObject* classObject = Store()->AddClass(VString("Counter"), {}, nullptr, nullptr,
                                                 &VJSONClass::GenericInstantiator, 0);
    VJSONSingletonMap map;
    const VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    VJSONObject* first = GetSingletonFromMap(map, cls, nullptr, nullptr);
    VJSONObject* second = GetSingletonFromMap(map, cls, nullptr, nullptr);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    ReleaseRefCountable(&first);
    ReleaseRefCountable(&second);
    map.clear();
    classObject->Release();
}

TEST_F(VJSONUtilitiesTest, ByteBlobToJSONAndBack)
{
    VBlobWithPtr blob;
    const char bytes[] = "xyz";
    ASSERT_EQ(blob.FromData(bytes, 3), VE_OK);
    VJSONValue json;
    ASSERT_EQ(blob.GetJSONValue(json), VE_OK);
    VJSONBlob* implementation = VJSONBlob::CastJSONObject(json.GetObject());
    ASSERT_NE(implementation, nullptr);
    EXPECT_EQ(implementation->GetSize(), 3u);

    VBlobWithPtr back;
    ASSERT_EQ(back.FromJSONValue(json), VE_OK);
    EXPECT_EQ(back.GetSize(), 3u);
    EXPECT_FALSE(back.IsNull());
    ASSERT_EQ(back.FromJSONValue(VJSONValue(1.0)), VE_OK);
    EXPECT_TRUE(back.IsNull());
    EXPECT_EQ(back.GetSize(), 0u);
}

TEST_F(VJSONUtilitiesTest, BinaryObjectInTextIsReadIntoABag)
{
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("{\"name\":\"n\",\"size\":3}")), 0);
    VMemoryBuffer<> bytes;
    VJSONBinaryWriter writer;
    ASSERT_EQ(writer.StreamValue(value, bytes), 0);
    VString base64;
    ASSERT_TRUE(base64.EncodeBase64(bytes.GetDataPtr(), bytes.GetDataSize()));
    VString text("{\"__PRIVATE_BINARY_OBJECT\":\"");
    text.AppendString(base64);
    text.AppendCString("\"}");
    VValueBag bag;
    VJSONImporter importer(text);
    ASSERT_EQ(importer.JSONObjectToBag(bag), 0);
    VString name;
    EXPECT_TRUE(bag.GetString(StPackedDictionaryKey(VString("name")), name));
    EXPECT_EQ(to_string(name), "n");
}

}  // namespace
}  // namespace bkit
