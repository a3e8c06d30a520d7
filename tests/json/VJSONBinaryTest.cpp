// VJSONBinaryTest.cpp - the binary JSON stream byte for byte, back-references,
// untrusted input, and revival through the text reader.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VErrorContext.h"
#include "json/JSONClassTestSupport.h"
#include "xml/ChildMemory.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Write(const VJSONValue& value, VError* err = nullptr)
{
    VMemoryBuffer<> buffer;
    VJSONBinaryWriter writer;
    VError e = writer.StreamValue(value, buffer);
    if (err)
        *err = e;
    const uint8_t* p = static_cast<const uint8_t*>(buffer.GetDataPtr());
    return Bytes(p, p + buffer.GetDataSize());
}

VError Read(const Bytes& bytes, VJSONValue& out)
{
    StErrorContextInstaller silent(false, true);
    VJSONBinaryImporter importer(bytes.data(), bytes.size());
    return importer.GetValue(out);
}

std::string Text(const VJSONValue& value)
{
    VString text;
    value.Stringify(text, VJSONWriter::kFlag_Quoted);
    return to_string(text);
}

class VJSONBinaryTest : public test::ClassStoreTest {};

TEST_F(VJSONBinaryTest, ScalarsAreWrittenByteForByte)
{
    struct Case {
        VJSONValue value;
        Bytes bytes;
    };
    const Case cases[] = {
        {VJSONValue(JSON_null), {0}},
        {VJSONValue(JSON_false), {1}},
        {VJSONValue(JSON_true), {2}},
        {VJSONValue(), {7}},
        {VJSONValue(VString("")), {3, 0, 0, 0, 0}},
        {VJSONValue(VString("Ab")), {3, 2, 0, 0, 0, 'A', 0, 'b', 0}},
        {VJSONValue(1.0), {4, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Write(c.value), c.bytes);
        VJSONValue back;
        EXPECT_EQ(Read(c.bytes, back), 0);
        EXPECT_EQ(back.GetType(), c.value.GetType());
    }
}

TEST_F(VJSONBinaryTest, ObjectsAndArraysWithTheirEndBlocks)
{
    VJSONValue root;
    ASSERT_EQ(root.ParseFromString(VString("{\"a\":[true]}")), 0);
    const Bytes expected = {5, 1, 0, 'a', 0, 6, 1, 0, 0, 0, 2, 0xFF, 0xFF};
    EXPECT_EQ(Write(root), expected);
    VJSONValue back;
    ASSERT_EQ(Read(expected, back), 0);
    EXPECT_EQ(Text(back), "{\"a\":[true]}");
}

TEST_F(VJSONBinaryTest, SharedObjectIsWrittenOnceAndReadBackAsOne)
{
    VJSONObject* root = new VJSONObject();
    VJSONObject* shared = new VJSONObject();
    shared->SetProperty(VString("x"), VJSONValue(1.0));
    root->SetProperty(VString("a~/"), VJSONValue(shared));
    root->SetProperty(VString("b"), VJSONValue(shared));
    shared->SetProperty(VString("self"), VJSONValue(root));  // a cycle too
    VJSONValue value(root);
    root->Release();
    shared->Release();

    const Bytes bytes = Write(value);
    // The second place holds tag 255 and the pointer "#/a~0~1".
    const std::u16string pointer = u"#/a~0~1";
    Bytes reference = {255, static_cast<uint8_t>(pointer.size()), 0, 0, 0};
    for (char16_t c : pointer) {
        reference.push_back(static_cast<uint8_t>(c));
        reference.push_back(0);
    }
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), reference.begin(), reference.end()), bytes.end());

    VJSONValue back;
    ASSERT_EQ(Read(bytes, back), 0);
    VJSONObject* a = back.GetObject()->GetProperty(VString("a~/")).GetObject();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, back.GetObject()->GetProperty(VString("b")).GetObject());
    EXPECT_EQ(a->GetProperty(VString("self")).GetObject(), back.GetObject());
    // Break the cycles the test made.
    a->RemoveProperty(VString("self"));
    value.GetObject()->GetProperty(VString("b")).GetObject()->RemoveProperty(VString("self"));
}

TEST_F(VJSONBinaryTest, BackReferencesUnderNamesHoldingPercentFindTheirObject)
{
    // Each name holds the object first and "again" refers back to it; "aA"
    // and "a" are where a pointer read without its escapes would lead. A
    // decomposed name must not come back composed.
    const UniChar* const names[] = {u"a%41", u"a%2Fb", u"%", u"a%", u"100%25", u"%C3%A9", u"~%/", u"e\u0301",
                                    u"%65\u0301"};
    for (const UniChar* name : names) {
        VJSONValue root;
        ASSERT_EQ(root.ParseFromString(VString("{\"aA\":{\"decoy\":1},\"a\":{\"b\":{\"decoy\":2}}}")), 0);
        VJSONObject* shared = new VJSONObject();
        shared->SetProperty(VString("x"), VJSONValue(1.0));
        root.GetObject()->SetProperty(VString(name), VJSONValue(shared));
        root.GetObject()->SetProperty(VString("again"), VJSONValue(shared));
        shared->Release();

        VJSONValue back;
        const std::string shown = to_string(VString(name));
        ASSERT_EQ(Read(Write(root), back), 0) << shown;
        VJSONObject* first = back.GetProperty(VString(name)).GetObject();
        ASSERT_NE(first, nullptr) << shown;
        EXPECT_EQ(back.GetProperty(VString("again")).GetObject(), first) << shown;
        EXPECT_EQ(first->GetProperty(VString("x")).GetNumber(), 1.0) << shown;
    }
}

TEST_F(VJSONBinaryTest, BlobRecordIsItsSizeThenItsBytes)
{
    const uint8_t data[] = {1, 2, 3};
    VJSONObject* blob = VJSONBlob::Create(data, 3);
    VJSONValue value(blob);
    blob->Release();
    // The end block's length is the blob's size; its payload is the bytes.
    const Bytes expected = {5, 0xFD, 0xFF, 'b', 'l', 'B', 'J', 3, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
    EXPECT_EQ(Write(value), expected);

    struct Case {
        const char* what;
        Bytes bytes;
        VError error;
        Bytes content;  // what the blob read back holds
    };
    const Case cases[] = {
        {"three bytes", expected, 0, {1, 2, 3}},
        {"empty blob", {5, 0xFD, 0xFF, 'b', 'l', 'B', 'J', 0, 0, 0, 0, 0, 0, 0, 0}, 0, {}},
        {"a blob that a size inside its payload would have cut",
         {5, 0xFD, 0xFF, 'b', 'l', 'B', 'J', 9, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 7},
         0,
         {1, 0, 0, 0, 0, 0, 0, 0, 7}},
    };
    for (const Case& c : cases) {
        VJSONValue back;
        ASSERT_EQ(Read(c.bytes, back), c.error) << c.what;
        VJSONBlob* read = VJSONBlob::CastJSONObject(back.GetObject());
        ASSERT_NE(read, nullptr) << c.what;
        const uint8_t* bytes = static_cast<const uint8_t*>(read->GetData());
        EXPECT_EQ(Bytes(bytes, bytes + read->GetSize()), c.content) << c.what;
        EXPECT_TRUE(back.GetObject()->IsInstanceOf(VJSONBlob::GetClass())) << c.what;
    }

    // A length past the bytes is a cut stream, never an empty blob.
    const Bytes cut = {5, 0xFD, 0xFF, 'b', 'l', 'B', 'J', 5, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
    VJSONValue back;
    EXPECT_EQ(Read(cut, back), VE_JSON_BINARY_CUT);
    EXPECT_EQ(VJSONBlob::CastJSONObject(back.GetObject()), nullptr);
}

TEST_F(VJSONBinaryTest, OnlyAValueReadOnItsOwnIsRevived)
{
    const uint8_t data[] = {1, 2, 3};
    VJSONObject* blob = VJSONBlob::Create(data, 3);
    VMemoryBuffer<> bytes;
    VJSONBinaryWriter writer;
    ASSERT_EQ(writer.StreamObject(blob, bytes), 0);
    blob->Release();
    VString base64;
    ASSERT_TRUE(base64.EncodeBase64(bytes.GetDataPtr(), bytes.GetDataSize()));
    const std::string binary = "{\"__PRIVATE_BINARY_OBJECT\":\"" + to_string(base64) + "\"}";

    using Reach = VJSONValue (*)(const VJSONValue&);
    struct Case {
        std::string text;
        Reach reach;  // to where the object stands
        bool revived;
    };
    const Case cases[] = {
        {binary, [](const VJSONValue& v) { return v; }, true},
        {"{\"x\":" + binary + "}", [](const VJSONValue& v) { return v.GetProperty(VString("x")); }, true},
        {"[{\"x\":" + binary + "}]",
         [](const VJSONValue& v) { return v.GetArray()->GetAt(0).GetProperty(VString("x")); }, true},
        {"[" + binary + "]", [](const VJSONValue& v) { return v.GetArray()->GetAt(0); }, false},
        {"[1,[" + binary + "]]", [](const VJSONValue& v) { return v.GetArray()->GetAt(1).GetArray()->GetAt(0); },
         false},
    };
    for (const Case& c : cases) {
        VJSONValue root;
        ASSERT_EQ(root.ParseFromString(VString(c.text.c_str())), 0) << c.text;
        const VJSONValue found = c.reach(root);
        ASSERT_TRUE(found.IsObject()) << c.text;
        EXPECT_EQ(VJSONBlob::CastJSONObject(found.GetObject()) != nullptr, c.revived) << c.text;
        if (!c.revived) {
            EXPECT_EQ(Text(found), binary) << c.text;
        }
    }
}

TEST_F(VJSONBinaryTest, CutAndForgedStreamsAreRefused)
{
    struct Case {
        const char* what;
        Bytes bytes;
        VError expected;
    };
    const Case cases[] = {
        {"empty", {}, VE_JSON_BINARY_CUT},
        {"after a string's length", {3, 2, 0, 0, 0}, VE_JSON_BINARY_CUT},
        {"inside a number", {4, 0, 0}, VE_JSON_BINARY_CUT},
        {"inside a date", {8, 1}, VE_JSON_BINARY_CUT},
        {"huge array count", {6, 0xFF, 0xFF, 0xFF, 0x7F}, VE_JSON_BINARY_CUT},
        {"object without end", {5}, VE_JSON_BINARY_CUT},
        {"after the block marker", {5, 0xFD, 0xFF}, VE_JSON_BINARY_CUT},
        {"payload past the end", {5, 0xFD, 0xFF, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         VE_JSON_BINARY_CUT},
        {"reserved tag past the end", {9, 0xFF, 0xFF, 0xFF, 0xFF}, VE_JSON_BINARY_CUT},
        {"reserved tag skipped", {9, 4, 0, 0, 0}, 0},
        {"undefined array marker", {6, 0xFE, 0xFF, 0xFF, 0xFF}, 0},
    };
    for (const Case& c : cases) {
        VJSONValue out;
        EXPECT_EQ(Read(c.bytes, out), c.expected) << c.what;
    }
}

// Back-references that lead nowhere read as undefined; each failure is
// recorded by the importer's resolver, which keeps only the first ones. In a
// child process, so that a read that keeps them all fails the test, not the
// machine.
TEST_F(VJSONBinaryTest, ForgedBackReferencesKeepTheReadWithinBoundedMemory)
{
    constexpr uint32_t kReferences = 200000;
    Bytes bytes = {6};
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(kReferences >> shift));
    for (uint32_t i = 0; i < kReferences; ++i)
        bytes.insert(bytes.end(), {255, 3, 0, 0, 0, '#', 0, '/', 0, 'x', 0});
    constexpr size_t kMiB = 1024 * 1024;
    const test::ChildOutcome outcome = test::RunInChild(
        [&] {
            VJSONValue out;
            if (Read(bytes, out) != 0 || !out.IsArray() || out.GetArray()->GetCount() != kReferences)
                return false;
            return out.GetArray()->GetAt(kReferences - 1).IsUndefined();
        },
        768 * kMiB, std::chrono::seconds(60));
    EXPECT_FALSE(outcome.overCeiling);
    EXPECT_FALSE(outcome.overDeadline);
    ASSERT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.workAnswer);
    EXPECT_LE(outcome.growth, 64 * kMiB);
}

TEST_F(VJSONBinaryTest, DeepNestingIsRefusedNotFollowed)
{
    Bytes bytes;
    for (int i = 0; i < 5000; ++i) {
        bytes.insert(bytes.end(), {6, 1, 0, 0, 0});
    }
    bytes.push_back(0);
    VJSONValue out;
    EXPECT_EQ(Read(bytes, out), VE_STACK_TOO_SMALL);
}

TEST_F(VJSONBinaryTest, TooLongNameIsAnErrorNotACorruptLength)
{
    VJSONObject* object = new VJSONObject();
    object->SetProperty(VString(std::string(32768, 'n').c_str()), VJSONValue(1.0));
    VJSONValue value(object);
    object->Release();
    StErrorContextInstaller silent(false, true);
    VError err = 0;
    Write(value, &err);
    EXPECT_EQ(err, VE_INVALID_PARAMETER);
}

TEST_F(VJSONBinaryTest, BlobTravelsThroughTextAndBack)
{
    const uint8_t bytes[] = {1, 2, 3};
    VJSONObject* blob = VJSONBlob::Create(bytes, 3);
    VJSONObject* root = new VJSONObject();
    root->SetProperty(VString("data"), VJSONValue(blob));
    VJSONValue value(root);
    root->Release();
    blob->Release();

    VString text;
    ASSERT_EQ(value.Stringify(text, 0x800 | VJSONWriter::kFlag_Quoted), 0);
    EXPECT_EQ(to_string(text).rfind("{\"__PRIVATE_BINARY_OBJECT\":\"", 0), 0u) << to_string(text);

    VJSONValue back;
    ASSERT_EQ(back.ParseFromString(text), 0);
    VJSONObject* data = back.GetProperty(VString("data")).GetObject();
    VJSONBlob* revived = VJSONBlob::CastJSONObject(data);
    ASSERT_NE(revived, nullptr);
    ASSERT_EQ(revived->GetSize(), 3u);
    EXPECT_EQ(std::memcmp(revived->GetData(), bytes, 3), 0);
    EXPECT_TRUE(data->IsInstanceOf(VJSONBlob::GetClass()));
}

TEST_F(VJSONBinaryTest, ClassInstanceKeepsItsClassThroughTheStream)
{
    VJSONObject* classObject = Store()->AddClass(VString("Point"), {}, nullptr, nullptr,
                                                 &VJSONClass::GenericInstantiator, 0);
    VJSONObject* instance = VJSONClass::FromClassObject(classObject)->CreateInstance(classObject, nullptr);
    instance->SetProperty(VString("x"), VJSONValue(2.0));
    VJSONValue value(instance);
    instance->Release();

    VString text;
    ASSERT_EQ(value.Stringify(text, 0x800 | VJSONWriter::kFlag_Quoted), 0);
    VJSONValue back;
    ASSERT_EQ(back.ParseFromString(text), 0);
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.GetObject()->GetClassObject(), classObject);
    EXPECT_EQ(back.GetProperty(VString("x")).GetNumber(), 2.0);
    classObject->Release();
}

TEST_F(VJSONBinaryTest, BrokenBase64OrBytesFailTheTextRead)
{
    VJSONValue out;
    StErrorContextInstaller silent(false, true);
    EXPECT_NE(out.ParseFromString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"BA==\"}")), 0);  // a cut number
}

}  // namespace
}  // namespace bkit
