// VStringConvertTest.cpp - strings to and from UTF-8 and other Unicode byte forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "basekit/text/VString.h"

using namespace bkit;

namespace {

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

}  // namespace

TEST(VStringConvert, Utf8TextIn)
{
    struct Case {
        const char* bytes;
        std::u16string units;
    } cases[] = {
        {"plain", u"plain"},
        {"caf\xC3\xA9", u"café"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"},
        {"a\xFF" "b", u"a\u00FFb"},           // a byte that starts nothing stands for itself
        {"\xC0\xAF", u"\u00C0\u00AF"},         // overlong: no "/"
        {"\xED\xA0\x80", u"\xD800"},           // encoded surrogate: its unit
        {"x\xE2\x82", u"x"},                      // cut short at the end: left out
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(VString(c.bytes)), c.units) << c.bytes;
        VString appended("=");
        appended.AppendCString(c.bytes);
        EXPECT_EQ(Text(appended), u"=" + c.units) << c.bytes;
        VString from("previous");
        from.FromCString(c.bytes);
        EXPECT_EQ(Text(from), c.units) << c.bytes;
    }
    VString n(reinterpret_cast<const void*>("caf\xC3\xA9 au lait"), 5, VTC_UTF_8);
    EXPECT_EQ(Text(n), u"café");
    VString cut;
    EXPECT_EQ(cut.FromBlock("caf\xC3\xA9", 4, VTC_UTF_8), 3u);
    EXPECT_EQ(Text(cut), u"caf");
}

TEST(VStringConvert, BlocksInUnicodeCharsets)
{
    const unsigned char be16[] = {0x00, 'h', 0x00, 'i', 0xD8, 0x3D, 0xDE, 0x00};
    VString s;
    EXPECT_EQ(s.FromBlock(be16, sizeof(be16), VTC_UTF_16_BIGENDIAN), sizeof(be16));
    EXPECT_EQ(Text(s), u"hi\U0001F600");

    const char16_t native[] = u"native";
    EXPECT_EQ(s.FromBlock(native, 12, VTC_UTF_16), 12u);
    EXPECT_EQ(Text(s), u"native");

    const unsigned char le32[] = {0x00, 0xF6, 0x01, 0x00, 'a', 0, 0, 0};
    s.FromBlock(le32, sizeof(le32), VTC_UTF_32_SMALLENDIAN);
    EXPECT_EQ(Text(s), u"\U0001F600a");
    s.FromBlock(le32, sizeof(le32), VTC_UTF_32_RAW_SMALLENDIAN);
    EXPECT_EQ(Text(s), u"\uF600a");

    s.FromBlock("caf\x8E", 4, VTC_MacOSAnsi);
    EXPECT_EQ(Text(s), u"caf\u00e9");
    s.FromBlock("caf\xE9", 4, VTC_ISO_8859_1);
    EXPECT_EQ(Text(s), u"caf\u00e9");
    s.AppendBlock("\x80", 1, VTC_Win32Ansi);
    EXPECT_EQ(Text(s), u"caf\u00e9\u20ac");

    // Bytes taken from the string itself, in a charset that goes through a
    // converter: the buffer may move while the string grows.
    VString self(u"\u6100\u6200 and a text long enough to live on the heap");
    self.AppendBlock(self.GetCPointer(), 4, VTC_UTF_16_BIGENDIAN);
    EXPECT_EQ(Text(self), u"\u6100\u6200 and a text long enough to live on the heap\u0061\u0062");

    s.FromCString("kept?");
    EXPECT_EQ(s.FromBlock("abc", 3, 50), 0u);  // no converter: nothing produced
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(s.IsNull());

    VString code;
    code.FromOsType(MakeOsType("TEXT"));
    EXPECT_EQ(Text(code), u"TEXT");
    code.AppendOsType(MakeOsType("bkit"));
    EXPECT_EQ(Text(code), u"TEXTbkit");
    VString wide(L"wide\x1F600");
    EXPECT_EQ(Text(wide), u"wide\uF600");
}

TEST(VStringConvert, ToBlockWithPrefixAndTerminator)
{
    VString s("h\u00E9!");
    unsigned char out[16];
    std::memset(out, 0xAA, sizeof(out));
    EXPECT_EQ(s.ToBlock(out, sizeof(out), VTC_UTF_8, true, true), 4u);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(std::memcmp(out + 1, "h\xC3\xA9!", 5), 0);

    // Whole characters only: the é does not fit in two bytes after the h.
    std::memset(out, 0xAA, sizeof(out));
    EXPECT_EQ(s.ToBlock(out, 3, VTC_UTF_8, true, false), 1u);
    EXPECT_EQ(out[0], 'h');
    EXPECT_EQ(out[1], 0);

    char16_t units[8];
    EXPECT_EQ(s.ToBlock(units, sizeof(units), VTC_UTF_16, true, true), 6u);
    EXPECT_EQ(units[0], 3);
    EXPECT_EQ(std::u16string(units + 1), u"h\u00E9!");

    // Any charset, written by its converter; the prefix and terminator stay one byte.
    unsigned char sjis[8];
    EXPECT_EQ(VString(u"\u65E5a").ToBlock(sjis, sizeof(sjis), 1000, true, true), 3u);
    EXPECT_EQ(std::memcmp(sjis, "\x03\x93\xFA" "a\0", 5), 0);
    unsigned char wide[12];
    EXPECT_EQ(VString("ab").ToBlock(wide, sizeof(wide), VTC_UTF_32_BIGENDIAN, true, true), 8u);
    EXPECT_EQ(std::memcmp(wide, "\x08\0\0\0a\0\0\0b\0", 10), 0);

    std::string longText(300, 'x');
    std::string buffer(400, '\0');
    EXPECT_EQ(VString(longText.c_str()).ToBlock(buffer.data(), buffer.size(), VTC_UTF_8, false, true), 300u);
    EXPECT_EQ(buffer[0], 0);
}

TEST(VStringConvert, ScopedConverterGivesUtf8Bytes)
{
    VString text(u"line\r\nnext\rlast\U0001F600");
    StStringConverter<char> plain(text);
    EXPECT_TRUE(plain.IsOK());
    EXPECT_STREQ(plain.GetCPointer(), "line\r\nnext\rlast\xF0\x9F\x98\x80");

    StStringConverter<char> lf(text, VTC_UTF_8, eCRM_LF);
    EXPECT_STREQ(lf.GetCPointer(), "line\nnext\nlast\xF0\x9F\x98\x80");
    StStringConverter<char> crlf(VString("a\nb"), VTC_UTF_8, eCRM_CRLF);
    EXPECT_STREQ(crlf.GetCPointer(), "a\r\nb");
    StStringConverter<char> cr(VString("a\r\nb"), VTC_UTF_8, eCRM_CR);
    EXPECT_STREQ(cr.GetCPointer(), "a\rb");

    // Longer than the inline room: the converter moves to the heap.
    std::string big(2000, 'e');
    big += "\xC3\xA9";
    StStringConverter<char> large(VString(big.c_str()));
    EXPECT_EQ(large.GetSize(), big.size());
    EXPECT_EQ(std::string(large.GetCPointer()), big);
    StStringConverter<char> copied(large);
    EXPECT_EQ(std::string(copied.GetCPointer()), big);
    StStringConverter<char> moved(std::move(copied));
    EXPECT_EQ(std::string(moved.GetCPointer()), big);
}
