// VTextConverterFormsTest.cpp - VString's hexadecimal, XML, JSON, Base64 and other text forms.
#include <gtest/gtest.h>

#include <string>

#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

VString Str(const std::u16string& text)
{
    return VString(text.data(), static_cast<VIndex>(text.size()));
}

TEST(VTextConverterForms, Hexadecimal)
{
    struct Case {
        uint64_t value;
        int bits;
        bool prefixed;
        std::u16string text;
    } cases[] = {
        {255, 64, true, u"0x00FF"},
        {0x12345, 64, true, u"0x00012345"},
        {0x123456789, 64, true, u"0x0000000123456789"},
        {0, 64, false, u"0"},
        {0xABCDEF, 64, false, u"ABCDEF"},
        {0xFFFFFFFFFFFFFFFF, 32, true, u"0xFFFFFFFF"},  // -1 over 32 bits
        {0x1F, 32, true, u"0x001F"},
        {0x1FF, 8, true, u"0xFF"},
        {7, 8, true, u"0x07"},
    };
    for (const Case& c : cases) {
        VString text("previous text that is long");
        if (c.bits == 64)
            text.FromHexLong(static_cast<long long>(c.value), c.prefixed);
        else if (c.bits == 32)
            text.FromHexLong(static_cast<int>(static_cast<uint32_t>(c.value)), c.prefixed);
        else
            text.FromHexLong(static_cast<unsigned char>(c.value), c.prefixed);
        EXPECT_EQ(c.text, Text(text)) << c.value;
    }
    VString byte;
    byte.FromHexLong(static_cast<char>(-1), true);
    EXPECT_EQ(u"0xFF", Text(byte));
    EXPECT_EQ(31, VString("0x1F").GetHexLong());
    EXPECT_EQ(0xABC, VString("a-b.C").GetHexLong());
    EXPECT_EQ(0, VString("").GetHexLong());
    EXPECT_EQ(-1, VString("FFFFFFFFFFFFFFFF").GetHexLong());
}

TEST(VTextConverterForms, XMLEscaping)
{
    struct Case {
        std::u16string in;
        bool controls;
        std::u16string out;
    } to[] = {
        {u"a<b>&\"c'", false, u"a&lt;b&gt;&amp;&quot;c&apos;"},
        {u"bell\u0007 tab\t del\u007F", true, u"bell&#x07; tab\t del&#x7F;"},
        {u"bell\u0007", false, u"bell\u0007"},
        {std::u16string(u"a<\0<", 4), false, std::u16string(u"a&lt;\0<", 7)},  // the scan ends at a zero
    };
    for (const Case& c : to) {
        VString text = Str(c.in);
        text.TranscodeToXML(c.controls);
        EXPECT_EQ(c.out, Text(text));
    }
    // A text that needs no change keeps its shared buffer.
    VString plain("nothing to escape in here, nothing at all");
    VString copy(plain);
    copy.TranscodeToXML(true);
    EXPECT_EQ(plain.GetCPointer(), copy.GetCPointer());

    struct Back {
        std::u16string in;
        std::u16string out;
    } from[] = {
        {u"&apos;&#x41;&#65;", u"'A&#65;"},
        {u"&lt;&gt;&amp;&quot;", u"<>&\""},
        {u"&#x0;&#x;&#x41&unknown;&", u"&#x0;&#x;&#x41&unknown;&"},
        {u"&#x1F600;", u"\uF600"},  // cut to 16 bits
        {u"&#x4a;&#X4a;", u"J&#X4a;"},
    };
    for (const Back& b : from) {
        VString text = Str(b.in);
        text.TranscodeFromXML();
        EXPECT_EQ(b.out, Text(text));
    }

    // The value forms escape without controls and read back what they wrote.
    VString out("stale");
    VString(u"<a\u0007>").GetXMLString(out);
    EXPECT_EQ(u"&lt;a\u0007&gt;", Text(out));
    VString back("stale");
    EXPECT_TRUE(back.FromXMLString(out));
    EXPECT_EQ(u"<a\u0007>", Text(back));
}

TEST(VTextConverterForms, JSONEscaping)
{
    struct Case {
        std::u16string in;
        uint32_t options;
        std::u16string out;
    } cases[] = {
        {u"a\t\"b", kJSONWithQuotes, u"\"a\\t\\\"b\""},
        {u"back\\slash\b\f\n\r", 0, u"back\\\\slash\\b\\f\\n\\r"},
        {u"\u0001\u007F&'", 0, u"\\u0001\\u007F&'"},
        {u"&'", kJSONEscapeAmpersandAndApos, u"\\u0026\\u0027"},
        {u"raw\t\"", kJSONNoEscaping, u"raw\t\""},
        {u"raw\t", kJSONNoEscaping | kJSONWithQuotes, u"\"raw\t\""},
        {u"", kJSONWithQuotes, u"\"\""},
    };
    for (const Case& c : cases) {
        VString out("stale");
        EXPECT_EQ(VE_OK, Str(c.in).GetJSONString(out, c.options));
        EXPECT_EQ(c.out, Text(out));
    }

    struct Back {
        std::u16string in;
        std::u16string out;
    } back[] = {
        {u"a\\tb\\n\\\"q\\\"\\\\", u"a\tb\n\"q\"\\"},
        {u"\\u0041\\u00e9", u"A\u00e9"},
        {u"\\uZ041", u"A"},     // a first unit that is no digit counts as 0
        {u"\\u12", u"u12"},     // fewer than four units left
        {u"\\x\\/", u"x/"},
        {u"end\\", u"end"},     // a last backslash is dropped
    };
    for (const Back& b : back) {
        VString out("stale");
        EXPECT_EQ(VE_OK, out.FromJSONString(Str(b.in)));
        EXPECT_EQ(b.out, Text(out));
    }
    VString plain;
    plain.FromJSONString(VString("a\\tb"), kJSONNoEscaping);
    EXPECT_EQ(u"a\\tb", Text(plain));

    struct Name {
        std::u16string in;
        std::u16string out;
    } names[] = {{u"9lives", u"_9lives"}, {u"my-var $x_1", u"myvar$x_1"}, {u"\u00e9t\u00e9", u"t"}};
    for (const Name& n : names) {
        VString out;
        Str(n.in).GetCleanJSName(out);
        EXPECT_EQ(n.out, Text(out));
    }
}

TEST(VTextConverterForms, JSONValues)
{
    // Null and text survive the round trip through a JSON value.
    VJSONValue json;
    EXPECT_EQ(VE_OK, VString(true).GetJSONValue(json));
    EXPECT_TRUE(json.IsNull());
    VString s("was here");
    EXPECT_EQ(VE_OK, s.FromJSONValue(json));
    EXPECT_TRUE(s.IsNull());
    EXPECT_TRUE(s.IsEmpty());

    EXPECT_EQ(VE_OK, VString(u"caf\u00e9 \"q\"").GetJSONValue(json));
    EXPECT_FALSE(json.IsNull());
    EXPECT_EQ(VE_OK, s.FromJSONValue(json));
    EXPECT_FALSE(s.IsNull());
    EXPECT_EQ(u"caf\u00e9 \"q\"", Text(s));

    // An empty, not null, string stays a string.
    EXPECT_EQ(VE_OK, VString().GetJSONValue(json));
    EXPECT_FALSE(json.IsNull());
}

TEST(VTextConverterForms, OsTypesBlocksAndBuffers)
{
    EXPECT_EQ(MakeOsType("ab  "), VString("ab").GetOsType());
    EXPECT_EQ(MakeOsType("TEXT"), VString("TEXTS").GetOsType());
    EXPECT_EQ(MakeOsType("    "), VString("").GetOsType());

    struct Block {
        std::string bytes;
        int given;
        int used;
        std::u16string text;
    } blocks[] = {
        {"\xEF\xBB\xBF" "caf\xC3\xA9", 1005, 7, u"caf\u00e9"},
        {std::string("\xFE\xFF\x00h\x00i", 6), 7, 1, u"hi"},
        {std::string("h\0i\0", 4), 7, 2, u"hi"},
        {"caf\xE9", 1005, 1005, u"caf\u00e9"},
    };
    for (const Block& b : blocks) {
        VString text;
        EXPECT_EQ(b.used, text.FromBlockWithOptionalBOM(b.bytes.data(), b.bytes.size(), b.given));
        EXPECT_EQ(b.text, Text(text));
    }

    VMemoryBuffer<> buffer;
    ASSERT_TRUE(VString(u"\u65e5x").ToBuffer(buffer, 1000));
    EXPECT_EQ(std::string("\x93\xFAx"), std::string(static_cast<char*>(buffer.GetDataPtr()), buffer.GetDataSize()));
    EXPECT_FALSE(VString("x").ToBuffer(buffer, 50));
}

TEST(VTextConverterForms, StringLineEnds)
{
    struct Case {
        std::u16string in;
        ECarriageReturnMode mode;
        std::u16string out;
    } cases[] = {
        {u"a\nb", eCRM_CRLF, u"a\r\nb"},
        {u"a\r\nb", eCRM_LF, u"a\nb"},
        {u"a\r\nb", eCRM_CR, u"a\rb"},
        {u"\r\r\n\n", eCRM_CRLF, u"\r\n\r\n\r\n"},
        {u"a\rb", static_cast<ECarriageReturnMode>(1), u"a\rb"},
        {u"a\rb", static_cast<ECarriageReturnMode>(9), u"a\rb"},
    };
    for (const Case& c : cases) {
        VString text = Str(c.in);
        VString shared(text);
        ASSERT_TRUE(text.ConvertCarriageReturns(c.mode));
        EXPECT_EQ(c.out, Text(text));
        EXPECT_EQ(c.in, Text(shared));  // a copy sharing the buffer keeps its text
    }
    // Many line ends grow the text past its room.
    std::u16string many(3000, u'\n');
    VString text = Str(many);
    ASSERT_TRUE(text.ConvertCarriageReturns(eCRM_CRLF));
    EXPECT_EQ(6000, text.GetLength());
}

TEST(VTextConverterForms, Base64)
{
    VString text("unchanged");
    ASSERT_TRUE(text.EncodeBase64("Hello", 5, false));
    EXPECT_EQ(u"SGVsbG8=", Text(text));
    ASSERT_TRUE(text.EncodeBase64("\xFB\xFF", 2, true));
    EXPECT_EQ(u"-_8", Text(text));

    VString utf8(u"caf\u00e9");
    ASSERT_TRUE(utf8.EncodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(u"Y2Fmw6k=", Text(utf8));
    ASSERT_TRUE(utf8.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(u"caf\u00e9", Text(utf8));

    VString latin1(u"caf\u00e9");
    ASSERT_TRUE(latin1.EncodeBase64(VTC_ISO_8859_1, true));
    EXPECT_EQ(u"Y2Fm6Q", Text(latin1));
    ASSERT_TRUE(latin1.DecodeBase64(VTC_ISO_8859_1, true));
    EXPECT_EQ(u"caf\u00e9", Text(latin1));

    VString empty;
    EXPECT_TRUE(empty.EncodeBase64(VTC_UTF_8, false));
    EXPECT_TRUE(empty.IsEmpty());

    VTask::FlushErrors();
    VString wide(u"SGVs\u00e9G8=");
    EXPECT_FALSE(wide.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(u"SGVs\u00e9G8=", Text(wide));
    EXPECT_EQ(MakeBKitError(210), VTask::GetLastError());
    VTask::FlushErrors();

    VString bad("SGV*bG8=");
    EXPECT_FALSE(bad.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(u"SGV*bG8=", Text(bad));
}

}  // namespace
}  // namespace bkit
