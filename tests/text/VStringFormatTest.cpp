// VStringFormatTest.cpp - the printf engine, string formatting and placeholder filling.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/text/VStringFormatter.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

// Runs the engine on a format and its arguments.
void RunEngine(VStringFormatter& engine, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    engine.Run(format, args);
    va_end(args);
}

struct ExpectedSlot {
    size_t offset;
    char conversion;
    const void* object;
};

void ExpectSlots(const VStringFormatter& engine, std::initializer_list<ExpectedSlot> expected)
{
    ASSERT_EQ(engine.GetObjectCount(), expected.size());
    size_t i = 0;
    for (const ExpectedSlot& slot : expected) {
        SCOPED_TRACE(i);
        EXPECT_EQ(engine.GetObject(i).fOffset, slot.offset);
        EXPECT_EQ(engine.GetObject(i).fConversion, slot.conversion);
        EXPECT_EQ(engine.GetObject(i).fObject, slot.object);
        ++i;
    }
}

// Distinct addresses standing in for objects; the engine never touches them.
int gObjects[12];

TEST(VStringFormatterTest, EachObjectConversionReceivesTheArgumentAtItsOwnPlace)
{
    // Every kind of argument before, between and after the toolbox conversions,
    // including '*' widths, "%%" and the "%A" of hex floats with a precision.
    VStringFormatter engine;
    RunEngine(engine, "%d|%S|%*.*f|%%S|%A|%lld|%c|%V|%Lf|%s|%.1A|%zu|%S|%hhd",
              7, &gObjects[0], 6, 2, 3.14159, &gObjects[1], -5LL, 'x', &gObjects[2],
              2.5L, "str", 1.0, static_cast<size_t>(99), &gObjects[3], 300);
    EXPECT_STREQ(engine.GetOutput(), "7||  3.14|%S||-5|x||2.500000|str|0X1.0P+0|99||44");
    ExpectSlots(engine, {{2, 'S', &gObjects[0]},
                         {13, 'A', &gObjects[1]},
                         {19, 'V', &gObjects[2]},
                         {45, 'S', &gObjects[3]}});
    EXPECT_FALSE(engine.WasCut());
}

TEST(VStringFormatterTest, ObjectConversionsWithModifiersStayObjectConversions)
{
    // vsnprintf would read "%5S" as wide text; the engine keeps it an object
    // conversion and reads its '*' width as an int of its own.
    VStringFormatter engine;
    RunEngine(engine, "%5S|%*S|%-lV|%d", &gObjects[0], 9, &gObjects[1], &gObjects[2], 42);
    EXPECT_STREQ(engine.GetOutput(), "|||42");
    ExpectSlots(engine, {{0, 'S', &gObjects[0]}, {1, 'S', &gObjects[1]}, {2, 'V', &gObjects[2]}});
}

TEST(VStringFormatterTest, ManyObjectsAreAllKeptInOrder)
{
    VStringFormatter engine;
    RunEngine(engine, "%S%S%S%S%S%S%S%S%S%S%S.", &gObjects[0], &gObjects[1], &gObjects[2], &gObjects[3],
              &gObjects[4], &gObjects[5], &gObjects[6], &gObjects[7], &gObjects[8], &gObjects[9], &gObjects[10]);
    ASSERT_EQ(engine.GetObjectCount(), 11u);
    for (size_t i = 0; i < 11; ++i)
        EXPECT_EQ(engine.GetObject(i).fObject, &gObjects[i]);
    EXPECT_STREQ(engine.GetOutput(), ".");
}

TEST(VStringFormatterTest, PercentNCountsTheBytesPrintedSoFar)
{
    VStringFormatter engine;
    int first = -1;
    long long second = -1;
    short third = -1;
    RunEngine(engine, "abc%n%S de%lln%s%hn", &first, &gObjects[0], &second, "xyz", &third);
    EXPECT_STREQ(engine.GetOutput(), "abc dexyz");
    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 6);
    EXPECT_EQ(third, 9);
}

template <class... Args>
void ExpectLikeSnprintf(const char* format, Args... args)
{
    SCOPED_TRACE(format);
    char expected[256];
    snprintf(expected, sizeof expected, format, args...);
    VStringFormatter engine;
    RunEngine(engine, format, args...);
    EXPECT_STREQ(engine.GetOutput(), expected);
}

TEST(VStringFormatterTest, StandardFormatsMatchSnprintf)
{
    ExpectLikeSnprintf("%d %5.2f %-6s| %x %%", -12, 2.345, "ab", 255u);
    ExpectLikeSnprintf("%+08.3e %#o %lu %p", 1234.5, 8u, 123456789UL, static_cast<void*>(&gObjects[0]));
    // Arguments by number work in formats without toolbox conversions.
    ExpectLikeSnprintf("%2$s %1$s %3$d", "a", "b", 3);
}

TEST(VStringFormatterTest, FormatIsCutAt1023BytesWithoutSplittingAConversion)
{
    struct Case {
        size_t prefix;        // bytes of 'a' before the tail
        const char* tail;
        std::string expected;  // expected output after the 'a's
        size_t objects;
        bool cut;
    } cases[] = {
        {1021, "%d", "5", 0, false},   // 1023 bytes: fits
        {1022, "%d", "", 0, true},     // would need 1024: dropped whole
        {1015, "%S", "", 1, false},    // an object weighs 8 bytes: fits
        {1016, "%S", "", 0, true},
        {1021, "%%x", "%", 0, true},   // "%%" fits, 'x' does not
        {1023, "b", "", 0, true},
        {100, "%", "", 0, false},      // a format ending inside a conversion
        {100, "%ll", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.prefix) + c.tail);
        std::string format(c.prefix, 'a');
        format += c.tail;
        VStringFormatter engine;
        if (std::string(c.tail) == "%d")
            RunEngine(engine, format.c_str(), 5);
        else
            RunEngine(engine, format.c_str(), &gObjects[0]);
        EXPECT_EQ(std::string(engine.GetOutput()), std::string(c.prefix, 'a') + c.expected);
        EXPECT_EQ(engine.GetObjectCount(), c.objects);
        EXPECT_EQ(engine.WasCut(), c.cut);
    }
}

TEST(VStringFormatterTest, FormatCutKeepsWholeUtf8Characters)
{
    // 1022 ASCII bytes and a two-byte character do not fit in 1023 bytes.
    std::string format(1022, 'a');
    format += "\xC3\xA9tail";
    VStringFormatter engine;
    RunEngine(engine, format.c_str());
    EXPECT_EQ(std::string(engine.GetOutput()), std::string(1022, 'a'));
}

TEST(VStringFormatterTest, OutputIsCutAt1023BytesAndDropsObjectsBeyond)
{
    const std::string full(1023, 'x');
    const std::string almost(1022, 'x');
    // Two-byte characters after an odd byte: the cut falls inside one.
    std::string accents = "yy";
    for (int i = 0; i < 600; ++i)
        accents += "\xC3\xA9";

    struct Case {
        const char* label;
        const std::string* argument;
        size_t length;
        size_t objects;
    } cases[] = {
        {"exactly full", &full, 1023, 0},
        {"room for the object", &almost, 1022, 1},
        {"cut inside a character", &accents, 1022, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        VStringFormatter engine;
        RunEngine(engine, "%s%S", c.argument->c_str(), &gObjects[0]);
        EXPECT_EQ(engine.GetOutputLength(), c.length);
        EXPECT_EQ(strlen(engine.GetOutput()), c.length);
        EXPECT_EQ(std::string(engine.GetOutput()), c.argument->substr(0, c.length));
        EXPECT_EQ(engine.GetObjectCount(), c.objects);
    }
}

TEST(VStringFormatterTest, Utf8PrefixLength)
{
    struct Case {
        const char* text;
        size_t length;
        size_t expected;
    } cases[] = {
        {"", 0, 0},
        {"abc", 3, 3},
        {"a\xC3\xA9", 3, 3},           // complete two-byte character
        {"a\xC3\xA9", 2, 1},           // lead byte alone
        {"a\xE2\x82\xAC", 3, 1},       // three-byte character missing its last byte
        {"\xF0\x9F\x98\x80", 4, 4},    // complete four-byte character
        {"\xF0\x9F\x98\x80", 3, 0},
        {"a\x80\x80", 3, 3},           // stray continuation bytes are kept
        {"\x80\x80\x80\x80\x80", 5, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(VStringFormatter::Utf8PrefixLength(c.text, c.length), c.expected);
    }
}

// --- strings ---

std::u16string Units(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

// An object that is neither a string nor a value, with a debug dump of its own.
class DumpedObject : public VObject {
public:
    CharSet DebugDump(char* buffer, int& length) override
    {
        static const char kText[] = "dumped \xC3\xA9";
        const int n = std::min<int>(length, static_cast<int>(sizeof kText) - 1);
        memcpy(buffer, kText, static_cast<size_t>(n));
        length = n;
        return VTC_UTF_8;
    }
};

TEST(VStringPrintfTest, ToolboxConversionsGiveTheObjectsTexts)
{
    const VString box("box");
    const VString naive("na\xC3\xAFve");
    const VString nullString(true);
    DumpedObject dumped;
    const VLong number(-42);
    const VString* noString = nullptr;

    struct Case {
        const char* label;
        VString result;
        std::u16string expected;
    } cases[] = {
        {"string", Printf("%d items in %S", 3, &box), u"3 items in box"},
        {"percent", Printf("100%% %S", &box), u"100% box"},
        {"a string is a value", Printf("<%A>", &box), u"<box>"},
        {"value", Printf("<%A>", &number), u"<-42>"},
        {"a value is no string", Printf("<%S>", &number), u"<@@invalid VString@@>"},
        {"dump", Printf("<%V>", &dumped), u"<dumped \u00E9>"},
        {"null pointer", Printf("[%S|%A|%V]", noString, noString, noString),
         u"[@@invalid VObject@@|@@invalid VObject@@|@@invalid VObject@@]"},
        {"wrong class", Printf("[%S|%A]", &dumped, &dumped), u"[@@invalid VString@@|@@invalid VValueSingle@@]"},
        {"null string", Printf("[%S]", &nullString), u"[]"},
        {"UTF-8 around", Printf("caf\xC3\xA9 %S %s", &naive, "\xE2\x82\xAC"), u"caf\u00E9 na\u00EFve \u20AC"},
        // Text that looks like the placeholders of other formatters is kept.
        {"semicolons", Printf("a;;;b %S ;;; %s;;;", &box, ";;;x;;;"), u"a;;;b box ;;; ;;;x;;;;;;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Units(c.result), c.expected);
        EXPECT_FALSE(c.result.IsNull());
    }
}

TEST(VStringPrintfTest, PrintfEmptiesAndAppendPrintfKeeps)
{
    VString original("original text");
    VString shared(original);
    shared.Printf("%d", 5);
    EXPECT_EQ(Units(shared), u"5");
    EXPECT_EQ(Units(original), u"original text");  // the shared block was not written

    VString counter("n=");
    counter.AppendPrintf("%d,%S", 4, &original);
    EXPECT_EQ(Units(counter), u"n=4,original text");

    // The text of "%S" is taken when formatting starts: after Printf emptied
    // the string, before AppendPrintf appends to it.
    VString self("abc");
    self.AppendPrintf("-%S", &self);
    EXPECT_EQ(Units(self), u"abc-abc");
    self.Printf("x%Sy", &self);
    EXPECT_EQ(Units(self), u"xy");

    VString wasNull(true);
    wasNull.Printf("%s", "");
    EXPECT_FALSE(wasNull.IsNull());
}

TEST(VStringPrintfTest, OnlyTheByteOutputIsCut)
{
    const std::string longArgument(1100, 'x');
    const VString box("box");
    const VString result = Printf("%s%S", longArgument.c_str(), &box);
    EXPECT_EQ(Units(result), std::u16string(1023, u'x'));

    // Object texts are not counted against the limit.
    const VString longString(std::string(2000, 'y').c_str());
    const VString whole = Printf("%S%s", &longString, "end");
    EXPECT_EQ(whole.GetLength(), 2003);
    EXPECT_EQ(Units(whole).substr(1995), u"yyyyyend");
}

TEST(VStringPrintfTest, StringTextsComeOutTheSameWhateverTheyHold)
{
    // Texts and formats that a one-pass formatting could get wrong: a '%' in
    // the text, a zero unit in it, a zero byte printed before it, a count
    // taken after it, a text that pushes the output past its limit, a text
    // that leaves the rest of the format no room, and the forms of "%S" whose
    // modifiers are ignored.
    const VString percent("50%d%%s");
    const VString withZero(u"a\u0000b", 3);
    const VString box("box");
    const VString longString(std::string(1020, 'y').c_str());
    const VString fittingString(std::string(1000, 'y').c_str());
    const std::string longTextAfter = "%S" + std::string(500, 'z');
    int count = -1;
    const VString counted = Printf("%S%n|%d", &box, &count, 7);
    EXPECT_EQ(Units(counted), u"box|7");
    EXPECT_EQ(count, 0);  // the object's text is not counted

    struct Case {
        const char* label;
        VString result;
        std::u16string expected;
    } cases[] = {
        {"percent in the text", Printf("<%S>%d", &percent, 7), u"<50%d%%s>7"},
        {"zero unit in the text", Printf("<%S>", &withZero), std::u16string(u"<a\u0000b>", 5)},
        {"zero byte before", Printf("%c%S|%s", 0, &box, "x"), u"box|x"},
        {"width ignored", Printf("[%5S|%*S|%-lS]", &box, 9, &box, &box), u"[box|box|box]"},
        {"positional", Printf("%1$S", &box), u"@@invalid VObject@@"},
        {"past the limit", Printf("%S%S%s", &longString, &box, "12345"),
         Units(longString) + u"box12345"},
        {"long text after", Printf(longTextAfter.c_str(), &fittingString),
         Units(fittingString) + std::u16string(500, u'z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Units(c.result), c.expected);
    }

    // The byte output is cut at 1023 bytes whatever the texts put in it.
    const std::string bytes(1020, 'x');
    const VString cut = Printf("%S%s%S", &box, bytes.c_str(), &box);
    EXPECT_EQ(Units(cut), u"box" + std::u16string(1020, u'x') + u"box");
    const VString cutMore = Printf("%S%s%s%S", &box, bytes.c_str(), "12345", &box);
    EXPECT_EQ(Units(cutMore), u"box" + std::u16string(1020, u'x') + u"123");
}

TEST(VStringPrintfTest, NumbersAndUtf8)
{
    struct Case {
        VString result;
        std::u16string expected;
    } cases[] = {
        {ToString(0), u"0"},
        {ToString(INT_MIN), u"-2147483648"},
        {ToString(LLONG_MIN), u"-9223372036854775808"},
        {ToString(ULLONG_MAX), u"18446744073709551615"},
        {ToString(4294967295UL), u"4294967295"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Units(c.result), c.expected);

    EXPECT_EQ(to_string(VString()), "");
    EXPECT_EQ(to_string(VString(u"caf\u00E9 \U0001F600")), "caf\xC3\xA9 \xF0\x9F\x98\x80");
}

// An object with the properties the placeholder tests read.
class PlaceholderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fObject = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        fObject->SetPropertyAsString(VString("name"), VString("Ann"));
        fObject->SetPropertyAsString(VString("a"), VString("1"));
        fObject->SetPropertyAsString(VString("b"), VString("2"));
        fObject->SetPropertyAsString(VString("empty"), VString(""));
        fObject->SetPropertyAsString(VString("first name"), VString("X"));
        fObject->SetPropertyAsString(VString("brace"), VString("{name}"));
        fObject->SetPropertyAsNumber(VString("num"), 3);
        fObject->SetProperty(VString("nul"), VJSONValue(JSON_null));

        VRefPtr<VJSONObject> user = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        user->SetPropertyAsString(VString("first"), VString("Bo"));
        VRefPtr<VJSONArray> tags = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
        tags->Push(VJSONValue(VString("x")));
        tags->Push(VJSONValue(VString("y")));
        user->SetProperty(VString("tags"), VJSONValue(tags.Get()));
        fObject->SetProperty(VString("user"), VJSONValue(user.Get()));
    }

    VRefPtr<VJSONObject> fObject;
};

TEST_F(PlaceholderTest, FormatFillsNamesFromTheObject)
{
    struct Case {
        std::u16string text;
        bool removeUnknown;
        std::u16string expected;
    } cases[] = {
        {u"Hello {name}!", false, u"Hello Ann!"},
        {u"Hello {nobody}!", false, u"Hello {nobody}!"},
        {u"Hello {nobody}!", true, u"Hello !"},
        {u"{{name}", true, u"{{name}"},
        {u"{name}}", true, u"{name}}"},
        {u"{a}{b}", false, u"12"},
        {u"{first name}", true, u"{first name}"},
        {u"{}", true, u"{}"},
        {u"{nul}", false, u"{nul}"},  // null counts as absent
        {u"{nul}|{nobody}|{a}", true, u"||1"},
        {u"{empty}{a}", false, u"1"},
        {u"{num} {brace}", false, u"3 {name}"},  // inserted text is not scanned again
        {u"{a", true, u"{a"},
        {u"{", true, u"{"},
    };
    for (const Case& c : cases) {
        VString text(c.text.c_str());
        text.Format(fObject.Get(), c.removeUnknown);
        EXPECT_EQ(Units(text), c.expected) << "from " << to_string(VString(c.text.c_str()));
    }

    const VRefPtr<VJSONObject> empty = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    for (const VJSONObject* object : {static_cast<const VJSONObject*>(nullptr), static_cast<const VJSONObject*>(empty.Get())}) {
        VString text("{a} {nobody}");
        text.Format(object, true);
        EXPECT_EQ(Units(text), u"{a} {nobody}");
    }
}

TEST_F(PlaceholderTest, FormatWithTemplateFillsPaths)
{
    struct Case {
        std::u16string text;
        std::u16string expected;
    } cases[] = {
        {u"Dear {{name}}, hi", u"Dear Ann, hi"},
        {u"Dear {{nobody}}, hi", u"Dear , hi"},
        {u"{{user.first}} {{user.tags[1]}} {{num}}", u"Bo y 3"},
        {u"{{user.tags[5]}}|{{user.first.x}}|{{nul}}|{{user.}}|{{[0]}}", u"||||"},
        {u"{{name}}x}}y", u"Annxy"},
        {u"a}}b {{name}}", u"a}}b Ann"},    // text before the first "{{" is never a path
        {u"open {{ only", u"open {{ only"},  // an unclosed "{{" stays
        {u"", u""},
    };
    for (const Case& c : cases) {
        const VString text(c.text.c_str());
        VString out("stale");
        text.FormatWithTemplate(fObject.Get(), out);
        EXPECT_EQ(Units(out), c.expected) << "from " << to_string(text);
    }

    VString out;
    VString(u"Dear {{name}}, hi").FormatWithTemplate(nullptr, out);
    EXPECT_EQ(Units(out), u"Dear , hi");
}

}  // namespace
}  // namespace bkit
