// VJSONWriterTest.cpp - the JSON text writer: layouts byte for byte, numbers
// and escapes, cycles and repeats, the short form, dates, the stack check and
// round trips through the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VTime.h"
#include "json/JSONTextTestSupport.h"

namespace bkit {
namespace {

using test::Compact;
using test::Parsed;
using test::ParseInto;

constexpr uint32_t kCompact = VJSONWriter::kFlag_Quoted;
constexpr uint32_t kIndented = VJSONWriter::kFlag_Quoted | VJSONWriter::kFlag_Indented;

// Writes with flags inside a silent level; the codes raised go to *raised.
VError Write(const VJSONValue& value, uint32_t flags, std::string& out, std::vector<int32_t>* raised = nullptr)
{
    StErrorContextInstaller level(false, true);
    VJSONWriter writer(flags);
    VString text("left over");
    VError err = writer.StringifyValue(value, text);
    out = to_string(text);
    if (raised) {
        for (VErrorBase* e : level.GetContext()->GetErrors())
            raised->push_back(e->GetErrorNumber());
    }
    return err;
}

VJSONValue Parse(const char* text)
{
    Parsed parsed;
    ParseInto(parsed, text, VJSONImporter::kOption_Strict);
    EXPECT_EQ(parsed.err, 0u) << text;
    return parsed.value;
}

TEST(VJSONWriter, LayoutsByteForByte)
{
    struct Case {
        const char* json;
        uint32_t flags;
        const char* text;
    };
    const Case cases[] = {
        {"{\"a\":[1,2]}", kIndented, "{\n\t\"a\": [\n\t\t1,\n\t\t2\n\t]\n}"},
        {"{\"a\":[1,2]}", kCompact, "{\"a\":[1,2]}"},
        {"{\"a\":[1,2]}", 0, "{a:[1,2]}"},
        {"{\"a\":{},\"b\":[],\"c\":{\"d\":null}}", kIndented,
         "{\n\t\"a\": {},\n\t\"b\": [],\n\t\"c\": {\n\t\t\"d\": null\n\t}\n}"},
        {"[[],{}]", kIndented, "[\n\t[],\n\t{}\n]"},
        {"{}", kIndented, "{}"},
        {"[]", kIndented, "[]"},
        {"\"x\"", kIndented, "\"x\""},
        {"[true,false,null,\"s\"]", kCompact, "[true,false,null,\"s\"]"},
        {"[\"s\"]", 0, "[s]"},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_EQ(Write(Parse(c.json), c.flags, text), 0u) << c.json;
        EXPECT_EQ(text, c.text) << c.json << " flags " << c.flags;
    }
}

TEST(VJSONWriter, NumbersAndEscapes)
{
    struct Case {
        VJSONValue value;
        const char* text;
    };
    const Case cases[] = {
        {VJSONValue(0.0), "0"},
        {VJSONValue(-0.0), "0"},
        {VJSONValue(-42.0), "-42"},
        {VJSONValue(0.1), "0.1"},
        {VJSONValue(1.0 / 3.0), "0.33333333333333"},
        {VJSONValue(-65.613616999999977), "-65.613617"},
        {VJSONValue(1e20), "1E+20"},
        {VJSONValue(1.5e-7), "1.5E-07"},
        {VJSONValue(0.0001), "0.0001"},
        {VJSONValue(9007199254740991.0), "9007199254740991"},
        {VJSONValue(9007199254740992.0), "9.007199254741E+15"},
        {VJSONValue(std::numeric_limits<double>::quiet_NaN()), "null"},
        {VJSONValue(std::numeric_limits<double>::infinity()), "null"},
        {VJSONValue(VString("q\"b\\s/\x01\x1f\x7f\t\n\r\b\f\xC3\xA9")),
         "\"q\\\"b\\\\s/\\u0001\\u001F\\u007F\\t\\n\\r\\b\\f\xC3\xA9\""},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_EQ(Write(c.value, kCompact, text), 0u);
        EXPECT_EQ(text, c.text);
    }
}

TEST(VJSONWriter, MemberNamesAreEscaped)
{
    VJSONValue object(JSON_object);
    object.SetProperty(VString("a\"b\\c\n"), VJSONValue(1.0));
    std::string text;
    EXPECT_EQ(Write(object, kCompact, text), 0u);
    EXPECT_EQ(text, "{\"a\\\"b\\\\c\\n\":1}");
    // And read back to the same name.
    EXPECT_EQ(Compact(Parse(text.c_str())), text);
}

TEST(VJSONWriter, UndefinedAndMovedFromContainers)
{
    VJSONValue array(JSON_array);
    array.GetArray()->Push(VJSONValue());
    VJSONValue moved(JSON_object);
    VJSONValue taken(std::move(moved));
    array.GetArray()->Push(moved);
    std::string text;
    EXPECT_EQ(Write(array, kCompact, text), 0u);
    EXPECT_EQ(text, "[null,undefined]");
}

TEST(VJSONWriter, CyclesAndRepeatedObjects)
{
    constexpr uint32_t kCircular = kCompact | VJSONWriter::kFlag_CircularText;
    // An object that holds itself, directly and through an array.
    VJSONValue object(JSON_object);
    object.SetProperty(VString("n"), VJSONValue(1.0));
    object.SetProperty(VString("self"), object);
    VJSONValue list(JSON_array);
    list.GetArray()->Push(object);
    object.SetProperty(VString("list"), list);

    std::string text;
    std::vector<int32_t> raised;
    EXPECT_EQ(Write(object, kCircular, text), 0u);
    EXPECT_EQ(text, "{\"n\":1,\"self\":\"[circular]\",\"list\":[\"[circular]\"]}");
    EXPECT_EQ(Write(object, kCompact, text, &raised), VE_JSON_CYCLE);
    EXPECT_EQ(text, "");
    EXPECT_EQ(raised, std::vector<int32_t>{900});

    // An array inside itself fails even with the circular text.
    VJSONValue array(JSON_array);
    array.GetArray()->Push(array);
    EXPECT_EQ(Write(array, kCircular, text), VE_JSON_CYCLE);

    // One object reached twice without a cycle.
    VJSONValue shared = Parse("{\"x\":1}");
    VJSONValue twice(JSON_array);
    twice.GetArray()->Push(shared);
    twice.GetArray()->Push(shared);
    EXPECT_EQ(Write(twice, kCompact, text), 0u);
    EXPECT_EQ(text, "[{\"x\":1},{\"x\":1}]");
    raised.clear();
    EXPECT_EQ(Write(twice, kCompact | VJSONWriter::kFlag_RefuseRepeated, text, &raised), VE_JSON_OBJECT_WRITTEN_TWICE);
    EXPECT_EQ(raised, std::vector<int32_t>{916});

    // Break the cycles so that the objects are freed.
    object.GetObject()->Clear();
    array.GetArray()->Clear();
}

// An implementation that lists one computed property, may claim a binary
// form, and may write its object itself (through the writer it is given).
class Implemented : public VObject, public IJSONObject {
public:
    uint32_t signature = 0;
    bool writesItself = false;

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override
    {
        if (!name.EqualToStringRaw(VString("computed")))
            return eJSON_notHandled;
        out = VJSONValue(42.0);
        return eJSON_done;
    }
    EJSONStatus IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>& names) override
    {
        names.push_back(VString("computed"));
        return eJSON_done;
    }
    uint32_t IJSON_GetBinarySignature(const VJSONObject*) override { return signature; }
    EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter* writer, VString& out, VError* error) override
    {
        if (!writesItself)
            return eJSON_notHandled;
        VString inner;
        *error = writer->StringifyValue(object->GetProperty(VString("own")), inner);
        out.FromCString("{\"mine\":");
        out.AppendString(inner);
        out.AppendUniChar(u'}');
        return eJSON_done;
    }
};

TEST(VJSONWriter, ImplementedObjects)
{
    VRefPtr<Implemented> implementation = VRefPtr<Implemented>::Adopt(new Implemented());
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get(), false));
    object->SetProperty(VString("own"), Parse("[1]"));
    VJSONValue value(object.Get());
    std::string text;
    // The implementation's names come first, read through the object.
    EXPECT_EQ(Write(value, kCompact, text), 0u);
    EXPECT_EQ(text, "{\"computed\":42,\"own\":[1]}");

    implementation->signature = MakeOsType("JBlb");
    EXPECT_EQ(Write(value, kCompact, text), 0u);
    std::vector<int32_t> raised;
    EXPECT_EQ(Write(value, kCompact | VJSONWriter::kFlag_RefuseBinaryObjects, text, &raised),
              VE_JSON_BINARY_OBJECT_REFUSED);
    EXPECT_EQ(raised, std::vector<int32_t>{911});

    implementation->signature = 0;
    implementation->writesItself = true;
    EXPECT_EQ(Write(value, kCompact, text), 0u);
    EXPECT_EQ(text, "{\"mine\":[1]}");
    // Inside a container the implementation's text takes the object's place.
    VJSONValue list(JSON_array);
    list.GetArray()->Push(value);
    EXPECT_EQ(Write(list, kCompact, text), 0u);
    EXPECT_EQ(text, "[{\"mine\":[1]}]");
}

TEST(VJSONWriter, ShortFormStopsPast512Characters)
{
    VJSONValue strings(JSON_array);
    for (int i = 0; i < 1000; ++i)
        strings.GetArray()->Push(VJSONValue(VString("ab")));
    // Each element "ab" counts 4; the element that finds the count above 512
    // is still written, then "..." instead of the bracket.
    std::string expected = "[";
    for (int written = 0, count = 0;; ++written) {
        expected += written ? ",\"ab\"" : "\"ab\"";
        if (count > 512)
            break;
        count += 4;
    }
    expected += "...";

    constexpr uint32_t kShort = kCompact | VJSONWriter::kFlag_ShortForm;
    std::string text;
    EXPECT_EQ(Write(strings, kShort, text), 0u);
    EXPECT_EQ(text, expected);

    // The enclosing container stops too, with no second "...".
    VJSONValue outer(JSON_array);
    outer.GetArray()->Push(strings);
    outer.GetArray()->Push(VJSONValue(1.0));
    EXPECT_EQ(Write(outer, kShort, text), 0u);
    EXPECT_EQ(text, "[" + expected);

    // Short texts are complete.
    EXPECT_EQ(Write(Parse("{\"a\":[1,2]}"), kShort, text), 0u);
    EXPECT_EQ(text, "{\"a\":[1,2]}");
}

TEST(VJSONWriter, DatesAtUTCOrLocalMidnight)
{
    VJSONValue date;
    date.SetDate(2024, 3, 5);
    std::string text;
    EXPECT_EQ(Write(date, kCompact, text), 0u);
    EXPECT_EQ(text, "\"2024-03-05T00:00:00.000Z\"");

    VTime local;
    local.FromLocalTime(2024, 3, 5, 0, 0, 0, 0);
    VString expected;
    local.GetJSONString(expected, kCompact);
    EXPECT_EQ(Write(date, kCompact | VJSONWriter::kFlag_LocalDates, text), 0u);
    EXPECT_EQ(text, to_string(expected));
}

TEST(VJSONWriter, IndentHelpersFollowTheLevel)
{
    VJSONWriter indented(kIndented);
    indented.IncrementLevel();
    indented.IncrementLevel();
    VString text("x");
    indented.InsertIndentString(text);
    indented.AppendIndentString(text);
    EXPECT_EQ(to_string(text), "\n\t\tx\n\t\t");
    indented.DecrementLevel();
    EXPECT_EQ(indented.GetLevel(), 1u);

    VJSONWriter compact(kCompact);
    compact.IncrementLevel();
    VString plain("x");
    compact.InsertIndentString(plain);
    compact.AppendIndentString(plain);
    EXPECT_EQ(to_string(plain), "x");
}

TEST(VJSONWriter, RefusesToGoDeeperThanTheStackAllows)
{
    // A chain of arrays far deeper than a small task stack can write.
    VJSONValue root(JSON_array);
    VJSONValue current = root;
    for (int i = 0; i < 20000; ++i) {
        VJSONValue next(JSON_array);
        current.GetArray()->Push(next);
        current = next;
    }
    VError err = 0;
    std::string text = "unset";
    std::vector<int32_t> raised;
    VTask* task = new VTask(256 * 1024, eTaskStylePreemptive, [&] { err = Write(root, kCompact, text, &raised); });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(60000));
    task->Release();
    EXPECT_EQ(err, VE_STACK_TOO_SMALL);
    EXPECT_EQ(text, "");
    EXPECT_EQ(raised, std::vector<int32_t>{108});
}

TEST(VJSONWriter, RoundTripsThroughTheReader)
{
    const char* texts[] = {
        "{\"a\":1,\"b\":[true,false,null,\"x\\ny\"],\"c\":{\"d\":-0.5,\"e\":\"\\u0001\"}}",
        "[[[[]]],{},\"\",1.2345678901234E+300,-1.5E-300]",
        "{\"\xC3\xA9\":\"\xF0\x9F\x98\x80\",\"q\\\"\":\"\\\\\"}",
    };
    for (const char* text : texts) {
        VJSONValue first = Parse(text);
        for (uint32_t flags : {kCompact, kIndented}) {
            std::string written;
            ASSERT_EQ(Write(first, flags, written), 0u);
            VJSONValue second = Parse(written.c_str());
            std::string again;
            ASSERT_EQ(Write(second, flags, again), 0u);
            EXPECT_EQ(again, written);
        }
        EXPECT_EQ(Compact(first), text);
    }
}

}  // namespace
}  // namespace bkit
