// VJSONImporterTest.cpp - the JSON text reader: accepted forms, errors with
// their parameters, positions, dates and nesting.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VStorageLocker.h"
#include "json/JSONTextTestSupport.h"

namespace bkit {
namespace {

using test::Compact;
using test::Parsed;
using test::ParseInto;

constexpr uint32_t kStrict = VJSONImporter::kOption_Strict;

TEST(VJSONImporter, AcceptedForms)
{
    struct Case {
        const char* text;
        uint32_t options;
        const char* compact;
    };
    const Case cases[] = {
        {"{}", kStrict, "{}"},
        {"[]", kStrict, "[]"},
        {" \t\r\n{ \"a\" : 1 ,\n\"b\":[true,false,null] } ", kStrict, "{\"a\":1,\"b\":[true,false,null]}"},
        {"[0,-0,1.5,-2e3,1E+2,1e-2,1.25e-1,123456789]", kStrict, "[0,0,1.5,-2000,100,0.01,0.125,123456789]"},
        // The number grammar lets an empty integer part through; the value is
        // the string reader's.
        {"[-.5,-]", kStrict, "[-0.5,0]"},
        // U+2212 is a minus in the exponent too.
        {"[1e\xE2\x88\x92" "2,-2.5E\xE2\x88\x92" "1,1e400]", kStrict, "[0.01,-0.25,null]"},
        {"\"\\b\\f\\n\\r\\t\\/\\\\\\\"\\x\\'\"", kStrict, "\"\\b\\f\\n\\r\\t/\\\\\\\"x'\""},
        // \u takes four characters and keeps the hexadecimal digits among them.
        {"[\"\\u0041\\u00e9\\u00zA\"]", kStrict, "[\"A\xC3\xA9\\n\"]"},
        {"[\"a\\uD83D\\uDE00b\"]", kStrict, "[\"a\xF0\x9F\x98\x80" "b\"]"},
        // Raw line ends and controls are kept inside strings.
        {"[\"a\nb\tc\"]", kStrict, "[\"a\\nb\\tc\"]"},
        {"[\"x\"]   trailing words", kStrict, "[\"x\"]"},
        {"{\"a\":1,\"a\":2,\"b\":3}", kStrict, "{\"a\":2,\"b\":3}"},
        {"\"\"", kStrict, "\"\""},
        {"  42  ", kStrict, "42"},
        // Lenient: bare names and words are strings; an open string ends the text.
        {"{a:hello, b : it's}", 0, "{\"a\":\"hello\",\"b\":\"it's\"}"},
        {"[/x/, +1, 'q']", 0, "[\"/x/\",\"+1\",\"'q'\"]"},
        {"\"abc", 0, "\"abc\""},
        {"\"abc\\u00", 0, "\"abc\""},
    };
    for (const Case& c : cases) {
        Parsed parsed;
        ParseInto(parsed, c.text, c.options);
        EXPECT_EQ(parsed.err, 0u) << c.text;
        EXPECT_TRUE(parsed.errors.list.empty()) << c.text;
        EXPECT_EQ(Compact(parsed.value), c.compact) << c.text;
    }
}

TEST(VJSONImporter, NulInsideAStringIsDropped)
{
    const UniChar units[] = {u'"', u'a', 0, u'b', u'"'};
    Parsed parsed;
    ParseInto(parsed, VString(units, 5), kStrict);
    ASSERT_EQ(parsed.err, 0u);
    EXPECT_EQ(Compact(parsed.value), "\"ab\"");
}

TEST(VJSONImporter, ErrorsCarryTheirParameters)
{
    struct Case {
        const char* text;
        uint32_t options;
        int32_t number;  // the error below 550
        const char* found;
        const char* expected;
        const char* token;
        int32_t line;
        int32_t position;
    };
    const char* value = "\" 0-9 null true false { [";
    const char* element = "\" 0-9 null true false { [ ]";
    const Case cases[] = {
        {"", 0, 554, "", value, "<none>", 1, 1},
        {"   \n  ", kStrict, 554, "", value, "<none>", 2, 3},
        {":", 0, 551, ":", value, "<none>", 1, 1},
        {"{\"a\":1,}", 0, 553, "<none>", "<none>", "}", 1, 8},
        {"[1,]", kStrict, 553, "<none>", "<none>", "]", 1, 4},
        {"{a:1}", kStrict, 551, "a", "\"", "<none>", 1, 2},
        {"{\"a\":hello}", kStrict, 551, "hello", value, "<none>", 1, 6},
        {"[hello]", kStrict, 551, "hello", element, "<none>", 1, 2},
        {"[1,hello]", kStrict, 551, "hello", element, "<none>", 1, 4},
        {"\"abc", kStrict, 552, "<none>", "<none>", "\"", 1, 1},
        {"[01]", 0, 551, "01", "+- 0-9 eE", "<none>", 1, 2},
        {"[1.]", kStrict, 551, "1.", "+- 0-9 eE", "<none>", 1, 2},
        {"[1e]", kStrict, 551, "1e", "+- 0-9 eE", "<none>", 1, 2},
        {"[0x10]", 0, 551, "0x10", "+- 0-9 eE", "<none>", 1, 2},
        {"[-Infinity]", 0, 551, "-Infinity", "+- 0-9 eE", "<none>", 1, 2},
        {"{\"a\" 1}", 0, 551, "1", ":", "<none>", 1, 6},
        {"{\"a\"", 0, 554, "", ":", "<none>", 1, 5},
        {"{\"a\":1 \"b\":2}", 0, 551, "\"", "} ,", "<none>", 1, 8},
        {"[1 2]", 0, 551, "2", "] ,", "<none>", 1, 4},
        {"[1 {}]", 0, 551, "{", "] ,", "<none>", 1, 4},
        {"[1,", 0, 554, "", value, "<none>", 1, 4},
        {"[", 0, 554, "", element, "<none>", 1, 2},
        {"[,1]", 0, 551, ",", element, "<none>", 1, 2},
        {"[1,,]", 0, 551, ",", value, "<none>", 1, 4},
        {"{", 0, 554, "", "\" }", "<none>", 1, 2},
        {"{,}", 0, 551, ",", "\" }", "<none>", 1, 2},
        {"{\"a\":1,", 0, 554, "", "\"", "<none>", 1, 8},
        {"{\"a\":1,[", 0, 551, "[", "\"", "<none>", 1, 8},
        {"{\"a\":}", 0, 551, "}", value, "<none>", 1, 6},
        // Lines are the larger of the LF and CR counts; the column counts from
        // the last line end of the more frequent kind.
        {"[1,\n  2,\r\n  x]", kStrict, 551, "x", element, "<none>", 3, 3},
        {"[1,\r\r  x]", kStrict, 551, "x", element, "<none>", 3, 3},
    };
    for (const Case& c : cases) {
        Parsed parsed;
        ParseInto(parsed, c.text, c.options);
        EXPECT_EQ(parsed.err, VE_JSON_MALFORMED) << c.text;
        ASSERT_EQ(parsed.errors.Numbers(), (std::vector<int32_t>{c.number, 550})) << c.text;
        const test::RaisedError& specific = parsed.errors.list[0];
        EXPECT_EQ(specific.Param("found"), c.found) << c.text;
        EXPECT_EQ(specific.Param("expected"), c.expected) << c.text;
        EXPECT_EQ(specific.Param("token"), c.token) << c.text;
        const test::RaisedError& place = parsed.errors.list[1];
        EXPECT_EQ(place.Param("source"), "") << c.text;
        EXPECT_EQ(place.Param("line"), std::to_string(c.line)) << c.text;
        EXPECT_EQ(place.Param("position"), std::to_string(c.position)) << c.text;
    }
}

TEST(VJSONImporter, SilencedInvalidTokensStillFail)
{
    // Option 4 drops the reports of invalid tokens only.
    Parsed invalid;
    ParseInto(invalid, "[x]", kStrict | VJSONImporter::kOption_NoInvalidTokenErrors);
    EXPECT_EQ(invalid.err, VE_JSON_MALFORMED);
    EXPECT_TRUE(invalid.errors.list.empty());

    Parsed comma;
    ParseInto(comma, "[1,]", VJSONImporter::kOption_NoInvalidTokenErrors);
    EXPECT_EQ(comma.err, VE_JSON_MALFORMED);
    EXPECT_EQ(comma.errors.Numbers(), (std::vector<int32_t>{553, 550}));
}

TEST(VJSONImporter, PartialResultOrUndefinedOnError)
{
    Parsed partial;
    ParseInto(partial, "{\"a\":[1,2,{\"b\":true,", 0);
    EXPECT_EQ(partial.err, VE_JSON_MALFORMED);
    EXPECT_EQ(Compact(partial.value), "{\"a\":[1,2,{\"b\":true}]}");

    Parsed undefinedOnError;
    ParseInto(undefinedOnError, "{\"a\":[1,2,{\"b\":true,", VJSONImporter::kOption_UndefinedOnError);
    EXPECT_EQ(undefinedOnError.err, VE_JSON_MALFORMED);
    EXPECT_TRUE(undefinedOnError.value.IsUndefined());
}

TEST(VJSONImporter, NestingIsLimited)
{
    auto nested = [](uint32_t depth, char open, char close) {
        return std::string(depth, open) + std::string(depth, close);
    };
    for (auto [open, close] : {std::pair{'[', ']'}, std::pair{'{', '}'}}) {
        // Objects need a name before each nested value.
        auto make = [&](uint32_t depth) {
            if (open == '[')
                return nested(depth, '[', ']');
            std::string text;
            for (uint32_t i = 1; i < depth; ++i)
                text += "{\"k\":";
            return text + "{}" + std::string(depth - 1, '}');
        };
        Parsed deepest;
        ParseInto(deepest, make(VJSONImporter::kMaxDepth).c_str(), kStrict);
        EXPECT_EQ(deepest.err, 0u) << open;

        Parsed tooDeep;
        ParseInto(tooDeep, make(VJSONImporter::kMaxDepth + 1).c_str(), kStrict);
        EXPECT_EQ(tooDeep.err, VE_JSON_MALFORMED) << open;
        ASSERT_EQ(tooDeep.errors.Numbers(), (std::vector<int32_t>{551, 550})) << open;
        EXPECT_EQ(tooDeep.errors.list[0].Param("found"), std::string(1, open));
    }
    // Far deeper input fails the same way instead of exhausting the stack.
    Parsed huge;
    ParseInto(huge, std::string(200000, '[').c_str(), 0);
    EXPECT_EQ(huge.errors.Numbers(), (std::vector<int32_t>{551, 550}));
}

TEST(VJSONImporter, RecordsPositionsOfMembersAndElements)
{
    VJSONImporter importer(VString("{\"a\": [10,\n  {\"b\" : 1}]\r\n}"), VJSONImporter::kOption_RecordPositions);
    VJSONValue value;
    ASSERT_EQ(importer.Parse(value), 0u);
    VJSONObject* positions = importer.GetPathsLines();
    ASSERT_NE(positions, nullptr);
    struct Expected {
        const char* path;
        int line;
        int offset;
    };
    const Expected expected[] = {{"a", 1, 1}, {"a[0]", 1, 7}, {"a[1]", 2, 2}, {"a[1].b", 2, 3}, {"}", 3, 0}};
    ASSERT_EQ(positions->GetPropertyCount(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(to_string(positions->GetNameAt(i)), expected[i].path);
        VJSONValue place = positions->GetValueAt(i);
        EXPECT_EQ(place.GetProperty(VJSONImporter::sLineKey).GetNumber(), expected[i].line) << expected[i].path;
        EXPECT_EQ(place.GetProperty(VJSONImporter::sOffsetKey).GetNumber(), expected[i].offset) << expected[i].path;
    }

    VJSONImporter without(VString("{}"), 0);
    ASSERT_EQ(without.Parse(value), 0u);
    EXPECT_EQ(without.GetPathsLines(), nullptr);
}

// Every recorded position names its whole path: elements deep in a text
// would take memory growing with the square of its size, and are stopped at
// the bound; as many elements near the top are recorded.
TEST(VJSONImporter, RecordedPositionsAreBounded)
{
    constexpr size_t kElements = 20000;
    std::string elements;
    for (size_t i = 0; i < kElements; ++i)
        elements += i ? ",1" : "1";
    struct Case {
        const char* name;
        std::string text;
        bool read;
    } const cases[] = {
        {"900 levels deep", std::string(900, '[') + elements + std::string(900, ']'), false},
        {"one level deep", "[" + elements + "]", true},
    };
    for (const Case& c : cases) {
        const VString text(c.text.c_str());
        const size_t cap = std::max(VJSONImporter::kPositionsMemoryFloor,
                                    static_cast<size_t>(text.GetLength()) * VJSONImporter::kPositionsBytesPerCharacter);
        VJSONImporter importer(text, VJSONImporter::kOption_RecordPositions);
        VJSONValue value;
        test::CapturedErrors errors;
        {
            StErrorContextInstaller level(false, true);
            EXPECT_EQ(importer.Parse(value), c.read ? 0u : VE_JSON_MALFORMED) << c.name;
            errors.Take(level.GetContext());
        }
        const size_t recorded = importer.GetPathsLines()->GetPropertyCount();
        if (c.read) {
            EXPECT_TRUE(errors.list.empty()) << c.name;
            EXPECT_EQ(recorded, kElements) << c.name;
        } else {
            EXPECT_EQ(errors.Numbers(), (std::vector<int32_t>{555, 550})) << c.name;
            EXPECT_LE(recorded * VJSONImporter::kPositionRecordBytes, cap) << c.name;
        }
    }
}

TEST(VJSONImporter, DatesOnlyUnderTheirOptions)
{
    constexpr uint32_t kMarked = VJSONImporter::kOption_MarkedDates;
    constexpr uint32_t kISO = VJSONImporter::kOption_ISODates;
    constexpr uint32_t kNonAmbiguous = VJSONImporter::kOption_NonAmbiguousDates;
    struct Case {
        const char* text;
        uint32_t options;
        bool isDate;
        int16_t year, month, day;
    };
    const Case cases[] = {
        {"\"2024-03-05\"", 0, false, 0, 0, 0},
        {"\"!!2024-03-05!!\"", 0, false, 0, 0, 0},
        {"\"2024-03-05\"", kISO, true, 2024, 3, 5},
        {"\"2024-3-05\"", kISO, false, 0, 0, 0},
        {"\"!!2024-03-05!!\"", kMarked, true, 2024, 3, 5},
        {"\"!!2024-03-05T10:20:30Z!!\"", kMarked, true, 2024, 3, 5},
        {"\"!!2024-03-05!!\"", kMarked | kNonAmbiguous, true, 2024, 3, 5},
        {"\"!!2024-03-05T10:20:30Z!!\"", kMarked | kNonAmbiguous, false, 0, 0, 0},
        {"\"2024-03-05\"", kMarked | kISO, true, 2024, 3, 5},
        // Bare words never become dates.
        {"2024-03-05", kISO, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Parsed parsed;
        ParseInto(parsed, c.text, c.options);
        if (!c.isDate) {
            EXPECT_FALSE(parsed.value.IsDate()) << c.text << " " << c.options;
            continue;
        }
        ASSERT_TRUE(parsed.value.IsDate()) << c.text << " " << c.options;
        int16_t year, month, day;
        parsed.value.GetDate(&year, &month, &day);
        EXPECT_EQ(year, c.year);
        EXPECT_EQ(month, c.month);
        EXPECT_EQ(day, c.day);
    }
}

TEST(VJSONImporter, SharedParsePutsEveryContainerUnderOneLocker)
{
    Parsed parsed;
    ParseInto(parsed, "{\"a\":[1,{\"b\":[]}]}", VJSONImporter::kOption_SharedStorage);
    ASSERT_EQ(parsed.err, 0u);
    VJSONObject* root = parsed.value.GetObject();
    VJSONArray* a = root->GetProperty(VString("a")).GetArray();
    VJSONObject* inner = a->GetAt(1).GetObject();
    VJSONArray* b = inner->GetProperty(VString("b")).GetArray();
    VRefPtr<VStorageLocker> locker = root->GetStorageLocker();
    ASSERT_TRUE(locker);
    EXPECT_TRUE(root->IsShared());
    for (VJSONContainer* container : std::initializer_list<VJSONContainer*>{a, inner, b})
        EXPECT_EQ(container->GetStorageLocker().Get(), locker.Get());

    Parsed plain;
    ParseInto(plain, "{\"a\":[]}", 0);
    EXPECT_FALSE(plain.value.GetObject()->GetStorageLocker());
}

TEST(VJSONImporter, TokensOneByOne)
{
    VJSONImporter importer(VString("{ \"a\\n\" : word ]"), 0);
    struct Expected {
        VJSONImporter::JsonToken token;
        const char* text;
        bool quoted;
    };
    const Expected expected[] = {{VJSONImporter::jsonBeginObject, "", false},
                                 {VJSONImporter::jsonString, "a\n", true},
                                 {VJSONImporter::jsonAssigne, "", false},
                                 {VJSONImporter::jsonString, "word", false},
                                 {VJSONImporter::jsonEndArray, "", false},
                                 {VJSONImporter::jsonNone, "", false}};
    for (const Expected& e : expected) {
        VString text;
        bool quoted = true;
        VError err = 0;
        EXPECT_EQ(importer.GetNextJSONToken(text, &quoted, &err), e.token);
        EXPECT_EQ(to_string(text), e.text);
        EXPECT_EQ(quoted, e.quoted);
        EXPECT_EQ(err, 0u);
    }
}

}  // namespace
}  // namespace bkit
