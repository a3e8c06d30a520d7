// VJSONImporterRunsTest.cpp - the JSON text reader over string, blank and word
// runs of every length around the block the reader scans at once, over numbers
// near the limits of exact conversion, and over objects large enough to have
// a name index.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/json/VJSONArray.h"
#include "json/JSONTextTestSupport.h"

namespace bkit {
namespace {

using test::Compact;
using test::Parsed;
using test::ParseInto;

constexpr uint32_t kStrict = VJSONImporter::kOption_Strict;

VString Text(const std::u16string& units) { return VString(units.data(), static_cast<VIndex>(units.size())); }

std::u16string Units(const VJSONValue& value)
{
    VString text;
    value.GetString(text);
    return std::u16string(text.GetCPointer(), static_cast<size_t>(text.GetLength()));
}

// n units whose low bytes are those of a quote, a backslash, a NUL or a blank,
// and plain ones: only whole units may stop a run.
std::u16string MixedRun(size_t n)
{
    const char16_t pool[] = {u'a', 0x2222, 0x225C, 0x2200, 0x0120, 0x0109, u'\u00e9', 0xFF20};
    std::u16string out;
    for (size_t i = 0; i < n; ++i)
        out += pool[i % (sizeof(pool) / sizeof(pool[0]))];
    return out;
}

TEST(VJSONImporterRuns, StringsStopOnlyAtTheirOwnUnits)
{
    for (size_t n = 0; n <= 20; ++n) {
        const std::u16string run = MixedRun(n);
        struct Case {
            std::u16string text;
            uint32_t options;
            std::u16string value;
        };
        const Case cases[] = {
            {u"\"" + run + u"\"", kStrict, run},
            {u"\"" + run + u"\\n" + run + u"\"", kStrict, run + u"\n" + run},
            {u"\"" + run + u"\\\"" + run + u"\\u0041\"", kStrict, run + u"\"" + run + u"A"},
            {u"\"" + run + std::u16string(1, u'\0') + run + u"\"", kStrict, run + run},
            // An open string ends the text, whatever the length of its last run.
            {u"\"" + run, 0, run},
            {u"\"" + run + u"\\t" + run, 0, run + u"\t" + run},
        };
        for (const Case& c : cases) {
            Parsed parsed;
            ParseInto(parsed, Text(c.text), c.options);
            EXPECT_EQ(parsed.err, 0u) << "run of " << n;
            EXPECT_TRUE(parsed.value.IsString()) << "run of " << n;
            EXPECT_EQ(Units(parsed.value), c.value) << "run of " << n;
        }
        Parsed open;
        ParseInto(open, Text(u"\"" + run), kStrict);
        EXPECT_EQ(open.errors.Numbers(), (std::vector<int32_t>{552, 550})) << "run of " << n;
    }
}

TEST(VJSONImporterRuns, BlankRunsEndAtTheFirstOtherUnit)
{
    for (size_t n = 0; n <= 20; ++n) {
        // Every unit below 33 is blank, controls included.
        std::u16string blanks;
        for (size_t i = 0; i < n; ++i)
            blanks += (i % 4 == 3) ? char16_t(1) : (i % 4 == 1) ? u'\t' : u' ';

        Parsed array;
        ParseInto(array, Text(blanks + u"[" + blanks + u"\"x\"" + blanks + u"," + blanks + u"2" + blanks + u"]"), kStrict);
        EXPECT_EQ(array.err, 0u) << n << " blanks";
        EXPECT_EQ(Compact(array.value), "[\"x\",2]") << n << " blanks";

        // A bare word may start with a unit above U+7FFF, or one whose low
        // byte is a space: neither is blank.
        for (char16_t first : {char16_t(0x8120), char16_t(0x0120)}) {
            Parsed word;
            ParseInto(word, Text(blanks + first + u"z"), 0);
            EXPECT_EQ(Units(word.value), std::u16string(1, first) + u"z") << n << " blanks";
        }

        // The place of a token after the blanks is reported exactly.
        Parsed bad;
        ParseInto(bad, Text(u"[" + blanks + u"}"), 0);
        ASSERT_EQ(bad.errors.Numbers(), (std::vector<int32_t>{551, 550})) << n << " blanks";
        EXPECT_EQ(bad.errors.list[1].Param("position"), std::to_string(n + 2)) << n << " blanks";
    }
}

TEST(VJSONImporterRuns, WordsEndAtBlanksAndPunctuation)
{
    struct Case {
        const char* stop;
        const char* after;  // compact text after the word's elements, or null for an error
    };
    const Case cases[] = {{",", ",\"q\"]"}, {" ,", ",\"q\"]"}, {"\t,", ",\"q\"]"}, {"\x01,", ",\"q\"]"},
                          {"]", "]"},        {"\n]", "]"},        {"}", nullptr},      {":", nullptr},
                          {"\"", nullptr},   {"[", nullptr},      {"{", nullptr}};
    for (size_t n = 1; n <= 20; ++n) {
        const std::string word = std::string(n - 1, 'w') + "\xC3\xA9";
        for (const Case& c : cases) {
            Parsed parsed;
            ParseInto(parsed, ("[" + word + c.stop + "q]").c_str(), 0);
            if (c.after != nullptr) {
                EXPECT_EQ(Compact(parsed.value), "[\"" + word + "\"" + c.after) << n << " " << c.stop;
            } else {
                ASSERT_EQ(parsed.errors.Numbers(), (std::vector<int32_t>{551, 550})) << n << " " << c.stop;
                EXPECT_EQ(parsed.errors.list[0].Param("found"), std::string(c.stop, 1)) << n;
                EXPECT_EQ(parsed.errors.list[1].Param("position"), std::to_string(n + 2)) << n;
            }
        }
    }
}

TEST(VJSONImporterRuns, NumbersAreCorrectlyRounded)
{
    // Each against the C library's correctly rounded reading of the same text.
    const char* const numbers[] = {
        "0", "-0", "-0.0", "7", "-12", "0.1", "0.3", "0.5", "-2.75", "1.7976931348623157", "9007199254740992",
        "9007199254740993", "9007199254740995", "123456789012345678", "9999999999999999999", "18446744073709551615",
        "12345678901234567890123", "0.30000000000000004", "3.0000000000000004", "0.000000000000000000001",
        "0.0000000000000000000001", "0.00000000000000000000001", "4503599627370497.5", "-65.613616999999977",
        "1e23", "8.98846567431158e307", "2.2250738585072011e-308", "5e-324", "1.5e300", "123.456e-2"};
    std::string text = "[";
    for (const char* number : numbers)
        text += std::string(number) + ",";
    text.back() = ']';
    Parsed parsed;
    ParseInto(parsed, text.c_str(), kStrict);
    ASSERT_EQ(parsed.err, 0u);
    VJSONArray* array = parsed.value.GetArray();
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->GetCount(), sizeof(numbers) / sizeof(numbers[0]));
    for (size_t i = 0; i < array->GetCount(); ++i) {
        const double expected = std::strtod(numbers[i], nullptr);
        const double read = array->GetValueAt(i).GetNumber();
        EXPECT_EQ(std::memcmp(&read, &expected, sizeof(double)), 0) << numbers[i] << " read as " << read;
    }
}

TEST(VJSONImporterRuns, RepeatedShortTextsKeepTheirOwnValues)
{
    // More distinct texts than the reader remembers, each met twice, so that
    // remembered texts are displaced and looked up under colliding hashes.
    std::string text = "[";
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3000; ++i)
            text += "\"" + std::to_string(round == 0 ? i : 2999 - i) + "\",";
    }
    text += "\"" + std::string(40, 'x') + "\",\"" + std::string(40, 'x') + "\"]";
    Parsed parsed;
    ParseInto(parsed, text.c_str(), kStrict);
    ASSERT_EQ(parsed.err, 0u);
    EXPECT_EQ(Compact(parsed.value), text);
}

TEST(VJSONImporterRuns, ManyMemberNamesKeepTheirOwnTexts)
{
    // Enough distinct names of one length for the reader's name table to grow
    // several times, each met again after the growth, and escaped names equal
    // to plain ones.
    std::string text = "[";
    for (int i = 0; i < 600; ++i)
        text += "{\"n" + std::to_string(1000 + i) + "\":" + std::to_string(i) + ",\"same\":" + std::to_string(i) + "},";
    for (int i = 599; i >= 0; --i)
        text += "{\"n" + std::to_string(1000 + i) + "\":" + std::to_string(-i) + "},";
    text += "{\"sa\\u006De\":1,\"same\":2}]";
    Parsed parsed;
    ParseInto(parsed, text.c_str(), kStrict);
    ASSERT_EQ(parsed.err, 0u);
    std::string expected = text.substr(0, text.rfind('{')) + "{\"same\":2}]";
    EXPECT_EQ(Compact(parsed.value), expected);
}

TEST(VJSONImporterRuns, LargeObjectKeepsFirstPlacesAndLastValues)
{
    // Past a dozen members the object files its names in an index.
    std::string text = "{";
    for (int i = 0; i < 40; ++i)
        text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    text += "\"k3\":\"again\",\"k39\":null,\"\":1,\"\":2}";
    Parsed parsed;
    ParseInto(parsed, text.c_str(), kStrict);
    ASSERT_EQ(parsed.err, 0u);
    VJSONObject* object = parsed.value.GetObject();
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(object->GetPropertyCount(), 41u);
    EXPECT_EQ(to_string(object->GetNameAt(3)), "k3");
    EXPECT_EQ(Compact(object->GetValueAt(3)), "\"again\"");
    EXPECT_EQ(Compact(object->GetValueAt(39)), "null");
    EXPECT_EQ(Compact(object->GetValueAt(40)), "2");
    for (int i : {0, 17, 38})
        EXPECT_EQ(object->GetProperty(VString(("k" + std::to_string(i)).c_str())).GetNumber(), i);
    // The index takes later members as any object's would.
    object->SetProperty(VString("k17"), VJSONValue(1.5));
    object->SetProperty(VString("new"), VJSONValue(2.5));
    EXPECT_EQ(object->GetProperty(VString("k17")).GetNumber(), 1.5);
    EXPECT_EQ(object->GetProperty(VString("new")).GetNumber(), 2.5);
    EXPECT_EQ(object->GetPropertyCount(), 42u);
}

TEST(VJSONImporterRuns, SmallObjectWithRepeatedNames)
{
    Parsed parsed;
    ParseInto(parsed, "{\"a\":1,\"b\":2,\"a\":3,\"c\":4,\"b\":5,\"a\":6}", kStrict);
    ASSERT_EQ(parsed.err, 0u);
    EXPECT_EQ(Compact(parsed.value), "{\"a\":6,\"b\":5,\"c\":4}");
}

}  // namespace
}  // namespace bkit
