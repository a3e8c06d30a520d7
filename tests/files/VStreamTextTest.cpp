// VStreamTextTest.cpp - text through streams: charsets, marks, lines, counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ContentOf(const VStream& stream)
{
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    const auto* p = static_cast<const uint8_t*>(data.fData);
    return data.fHasData && p ? Bytes(p, p + data.fSize) : Bytes();
}

// The bytes of text in one of the charsets the tests use, spelled out here
// rather than taken from the converters under test.
Bytes Encode(const std::u16string& text, CharSet charSet)
{
    Bytes out;
    if (charSet == VTC_UTF_8) {
        std::string utf8 = to_string(VString(text.c_str(), static_cast<VIndex>(text.size())));
        return Bytes(utf8.begin(), utf8.end());
    }
    if (charSet == VTC_ISO_8859_1) {
        for (char16_t u : text) {
            EXPECT_LT(u, 0x100) << "not Latin-1";
            out.push_back(static_cast<uint8_t>(u));
        }
        return out;
    }
    if (charSet == VTC_UTF_32_SMALLENDIAN || charSet == VTC_UTF_32_BIGENDIAN) {
        for (size_t i = 0; i < text.size(); ++i) {
            uint32_t v = text[i];
            if (v >= 0xD800 && v <= 0xDBFF && i + 1 < text.size())
                v = 0x10000 + ((v - 0xD800) << 10) + (text[++i] - 0xDC00);
            for (int k = 0; k < 4; ++k) {
                int shift = charSet == VTC_UTF_32_BIGENDIAN ? 24 - 8 * k : 8 * k;
                out.push_back(static_cast<uint8_t>(v >> shift));
            }
        }
        return out;
    }
    for (char16_t u : text) {
        uint8_t hi = static_cast<uint8_t>(u >> 8), lo = static_cast<uint8_t>(u & 0xFF);
        if (charSet == VTC_UTF_16_BIGENDIAN) {
            out.push_back(hi);
            out.push_back(lo);
        } else {
            out.push_back(lo);
            out.push_back(hi);
        }
    }
    return out;
}

// A stream holding bytes, set to a charset and open for reading at 0.
class TextStream : public VPtrStream {
public:
    TextStream(const Bytes& bytes, CharSet charSet)
    {
        OpenWriting();
        PutData(bytes.data(), bytes.size());
        CloseWriting();
        SetCharSet(charSet);
        OpenReading();
    }
};

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

// Byte charsets, both UTF-16 and both UTF-32 forms (whose units hold the
// bytes 0D and 0A in other places than a CR or LF), and a legacy charset.
const CharSet kTextCharSets[] = {VTC_UTF_8,           VTC_UTF_16_SMALLENDIAN, VTC_UTF_16_BIGENDIAN,
                                 VTC_UTF_32_SMALLENDIAN, VTC_UTF_32_BIGENDIAN,  VTC_ISO_8859_1};

TEST(VStreamText, LinesEndWithCROrLFOrBoth)
{
    const std::u16string input = u"a\r\nb\rc\nd\u00e9";
    for (CharSet charSet : kTextCharSets) {
        for (bool keep : {false, true}) {
            SCOPED_TRACE(testing::Message() << "charset " << charSet << (keep ? " keeping ends" : ""));
            TextStream stream(Encode(input, charSet), charSet);
            std::u16string end = keep ? u"\r" : u"";
            for (std::u16string expected : {u"a", u"b", u"c", u"d\u00e9"}) {
                VString line;
                EXPECT_EQ(VE_OK, stream.GetTextLine(line, keep));
                EXPECT_EQ(expected + end, Text(line));
            }
            VString line("left over");
            EXPECT_EQ(VE_STREAM_EOF, stream.GetTextLine(line, keep));
            EXPECT_TRUE(line.IsEmpty());
        }
    }
}

TEST(VStreamText, LineEndsAndCharactersAcrossChunkBoundaries)
{
    // A chunk holds 256 bytes (UTF-8) or 256 units (UTF-16): put the CR, and
    // then a two-byte character, at its very end.
    const std::u16string x255(255, u'x');
    for (CharSet charSet : kTextCharSets) {
        SCOPED_TRACE(charSet);
        TextStream stream(Encode(x255 + u"\r\ny", charSet), charSet);
        VString line;
        EXPECT_EQ(VE_OK, stream.GetTextLine(line, false));
        EXPECT_EQ(x255, Text(line));
        EXPECT_EQ(VE_OK, stream.GetTextLine(line, false));
        EXPECT_EQ(u"y", Text(line));
    }

    TextStream split(Encode(x255 + u"\u00e9\u00e8\n", VTC_UTF_8), VTC_UTF_8);
    VString line;
    EXPECT_EQ(VE_OK, split.GetTextLine(line, false));
    EXPECT_EQ(x255 + u"\u00e9\u00e8", Text(line));
}

TEST(VStreamText, CustomTerminator)
{
    for (CharSet charSet : kTextCharSets) {
        SCOPED_TRACE(charSet);
        TextStream stream(Encode(u"a;b\nc;", charSet), charSet);
        const UniChar semicolon = u';';
        VString line;
        EXPECT_EQ(VE_OK, stream.GetTextLine(line, true, &semicolon));
        EXPECT_EQ(u"a;", Text(line));
        EXPECT_EQ(VE_OK, stream.GetTextLine(line, false, &semicolon));
        EXPECT_EQ(u"b\nc", Text(line));
        EXPECT_EQ(VE_STREAM_EOF, stream.GetTextLine(line, false, &semicolon));
    }
}

TEST(VStreamText, GuessCharSetFromLeadingBytes)
{
    struct Case {
        Bytes bytes;
        CharSet defaultCharSet;
        bool detectUTF8;
        CharSet expected;
        bool bom;
        int64_t position;
    };
    const Case cases[] = {
        {{0xFF, 0xFE, 0x41, 0x00}, VTC_UTF_8, false, VTC_UTF_16_SMALLENDIAN, true, 2},
        {{0xFE, 0xFF, 0x00, 0x41}, VTC_UTF_8, false, VTC_UTF_16_BIGENDIAN, true, 2},
        {{0xEF, 0xBB, 0xBF, 0x41, 0x42}, VTC_UTF_16_SMALLENDIAN, false, VTC_UTF_8, true, 3},
        {{0xFF, 0xFE}, VTC_UTF_8, false, VTC_UTF_16_SMALLENDIAN, true, 2},
        {{'a', 'b', 'c', 'd'}, VTC_UTF_16_SMALLENDIAN, false, VTC_UTF_8, false, 0},
        {{'a', 'b', 'c', 'd'}, VTC_UTF_8, false, VTC_UTF_8, false, 0},
        {{0x00, 'a', 0x00, 'b'}, VTC_UTF_8, false, VTC_UTF_16_BIGENDIAN, false, 0},
        {{'a', 0x00, 'b', 0x00}, VTC_UTF_8, false, VTC_UTF_16_SMALLENDIAN, false, 0},
        // The zero pattern wins over the UTF-8 check, which would accept it.
        {{'a', 0x00, 'b', 0x00}, VTC_UTF_8, true, VTC_UTF_16_SMALLENDIAN, false, 0},
        {{0xC3, 0xA9, 't', 0xC3, 0xA9}, VTC_UTF_16_SMALLENDIAN, true, VTC_UTF_8, false, 0},
        {{0xC3, 0xA9, 't', 0xC3, 0xA9}, VTC_UTF_16_SMALLENDIAN, false, VTC_UTF_16_SMALLENDIAN, false, 0},
        {{0xE9, 't', 0xE9, 0xE9}, VTC_UTF_16_BIGENDIAN, true, VTC_UTF_16_BIGENDIAN, false, 0},
        {{'a'}, VTC_UTF_16_SMALLENDIAN, false, VTC_UTF_16_SMALLENDIAN, false, 0},
        {{}, VTC_UTF_8, false, VTC_UTF_8, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TextStream stream(c.bytes, VTC_UTF_8);
        bool bom = !c.bom;
        EXPECT_EQ(VE_OK, stream.GuessCharSetFromLeadingBytes(c.defaultCharSet, c.detectUTF8, &bom));
        EXPECT_EQ(c.expected, stream.GetCharSet());
        EXPECT_EQ(c.bom, bom);
        EXPECT_EQ(c.position, stream.GetPos());
    }

    // A UTF-32 mark is recognised and its text read.
    TextStream utf32(Bytes{0xFF, 0xFE, 0x00, 0x00, 'z', 0, 0, 0}, VTC_UTF_8);
    bool bom = false;
    EXPECT_EQ(VE_OK, utf32.GuessCharSetFromLeadingBytes(VTC_UTF_8, false, &bom));
    EXPECT_TRUE(bom);
    EXPECT_EQ(VTC_UTF_32_SMALLENDIAN, utf32.GetCharSet());
    VString z;
    EXPECT_EQ(VE_OK, utf32.GetText(z));
    EXPECT_EQ(u"z", Text(z));
}

TEST(VStreamText, WriteBOM)
{
    struct Case {
        CharSet charSet;
        Bytes expected;
    };
    const Case cases[] = {
        {VTC_UTF_16_BIGENDIAN, {0xFE, 0xFF}},
        {VTC_UTF_16_SMALLENDIAN, {0xFF, 0xFE}},
        {VTC_UTF_8, {0xEF, 0xBB, 0xBF}},
        {VTC_UTF_32_BIGENDIAN, {0x00, 0x00, 0xFE, 0xFF}},
        {VTC_UTF_32_SMALLENDIAN, {0xFF, 0xFE, 0x00, 0x00}},
        {VTC_ISO_8859_1, {}},
        {VTC_DefaultTextExport, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charSet);
        VPtrStream stream;
        stream.SetCharSet(c.charSet);
        stream.OpenWriting();
        EXPECT_EQ(VE_OK, stream.WriteBOM());
        EXPECT_EQ(c.expected, ContentOf(stream));
    }
}

TEST(VStreamText, PutTextConvertsCharsetAndLineEnds)
{
    struct Case {
        ECarriageReturnMode mode;
        std::u16string written;
    };
    const std::u16string input = u"l1\nl2\r\nl3\r\u00e9";
    const Case cases[] = {
        {eCRM_CRLF, u"l1\r\nl2\r\nl3\r\n\u00e9"},
        {eCRM_CR, u"l1\rl2\rl3\r\u00e9"},
        {eCRM_LF, u"l1\nl2\nl3\n\u00e9"},
        {eCRM_NONE, input},
    };
    for (CharSet charSet : kTextCharSets) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "charset " << charSet << " mode " << c.mode);
            VPtrStream stream;
            stream.SetCharSet(charSet);
            stream.SetCarriageReturnMode(c.mode);
            stream.OpenWriting();
            EXPECT_EQ(VE_OK, stream.PutText(VString(input.c_str(), static_cast<VIndex>(input.size()))));
            stream.CloseWriting();
            EXPECT_EQ(Encode(c.written, charSet), ContentOf(stream));

            stream.OpenReading();
            VString back;
            EXPECT_EQ(VE_OK, stream.GetText(back));
            EXPECT_EQ(c.written, Text(back));
        }
    }
}

TEST(VStreamText, PlatformDefaultCharsetIsTheRegistrysOne)
{
    // A new stream writes in the platform default; its bytes are those the
    // string conversions give that charset, and they read back as the text.
    const VString text(u"caf\u00e9 \u2122");
    char expected[32];
    VSize size = text.ToBlock(expected, sizeof(expected), VTC_DefaultTextExport, false, false);
    ASSERT_EQ(6u, size);
    EXPECT_EQ(Bytes({'c', 'a', 'f', 0x8E, ' ', 0xAA}), Bytes(expected, expected + size));  // Mac Roman

    VPtrStream stream;
    ASSERT_EQ(VTC_DefaultTextExport, stream.GetCharSet());
    stream.OpenWriting();
    EXPECT_EQ(VE_OK, stream.PutText(text));
    stream.CloseWriting();
    EXPECT_EQ(Bytes(expected, expected + size), ContentOf(stream));

    stream.OpenReading();
    VString back;
    EXPECT_EQ(VE_OK, stream.GetTextLine(back, false));
    EXPECT_EQ(Text(text), Text(back));
}

TEST(VStreamText, PutPrintf)
{
    VPtrStream stream;
    stream.OpenWriting();
    EXPECT_EQ(VE_OK, stream.PutPrintf("%d-%s", 42, "x"));
    EXPECT_EQ((Bytes{'4', '2', '-', 'x'}), ContentOf(stream));
}

TEST(VStreamText, GetAllTextAcrossBuffersAndCutCharacters)
{
    // Many two-byte characters so that passes of 4096 bytes cut some.
    std::u16string long_text;
    for (int i = 0; i < 6000; ++i)
        long_text += (i % 3 == 0) ? u'\u00e9' : u'a';
    for (CharSet charSet : kTextCharSets) {
        SCOPED_TRACE(charSet);
        TextStream stream(Encode(long_text, charSet), charSet);
        VString text("prefix:");
        EXPECT_EQ(VE_OK, stream.GetText(text));
        EXPECT_EQ(u"prefix:" + long_text, Text(text));
    }

    VTask::FlushErrors();
    TextStream cut(Bytes{'a', 'b', 0xC3}, VTC_UTF_8);
    VString text;
    EXPECT_EQ(VE_STREAM_TEXT_CONVERSION_FAILURE, cut.GetText(text));
    EXPECT_EQ(u"ab", Text(text));
    VErrorBase* error = VTask::GetErrorContext(false)->GetLast();
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(VE_STREAM_TEXT_CONVERSION_FAILURE, error->GetError());
    VString description;
    error->GetErrorDescription(description);
    EXPECT_EQ(u"unterminated unicode conversion.", Text(description));
    VTask::FlushErrors();
}

TEST(VStreamText, ReadersThatExpectEndOfDataLeaveNoErrorBehind)
{
    VTask::FlushErrors();
    TextStream stream(Encode(u"ab\ncd", VTC_UTF_8), VTC_UTF_8);
    bool bom = true;
    EXPECT_EQ(VE_OK, stream.GuessCharSetFromLeadingBytes(VTC_UTF_8, true, &bom));
    VString text;
    EXPECT_EQ(VE_OK, stream.GetText(text, 10, false));
    EXPECT_EQ(u"ab\ncd", Text(text));
    EXPECT_EQ(VE_OK, stream.SetPos(0));
    EXPECT_EQ(VE_OK, stream.GetTextLine(text, false));
    EXPECT_EQ(VE_OK, stream.GetTextLine(text, false));
    EXPECT_EQ(u"cd", Text(text));
    EXPECT_EQ(VE_OK, VTask::GetLastError());

    // The line reader's own end of data is returned, and kept by the stream.
    EXPECT_EQ(VE_STREAM_EOF, stream.GetTextLine(text, false));
    EXPECT_EQ(VE_STREAM_EOF, stream.GetLastError());
    VTask::FlushErrors();
}

TEST(VStreamText, GetTextByCount)
{
    const std::u16string input = u"h\u00e9llo w\u00f6rld";
    for (CharSet charSet : kTextCharSets) {
        SCOPED_TRACE(charSet);
        Bytes bytes = Encode(input, charSet);
        TextStream stream(bytes, charSet);
        VString text;
        EXPECT_EQ(VE_OK, stream.GetText(text, 2, false));
        EXPECT_EQ(u"h\u00e9", Text(text));
        EXPECT_EQ(static_cast<int64_t>(Encode(u"h\u00e9", charSet).size()), stream.GetPos());
        EXPECT_EQ(VE_OK, stream.GetText(text, 4, false));
        EXPECT_EQ(u"h\u00e9llo ", Text(text));
        // Fewer characters than asked at the end is no error.
        EXPECT_EQ(VE_OK, stream.GetText(text, 50, false));
        EXPECT_EQ(input, Text(text));
        EXPECT_EQ(static_cast<int64_t>(bytes.size()), stream.GetPos());

        // allowMore may give more than asked, never fewer, and leaves the
        // position after what it gave.
        TextStream more(bytes, charSet);
        VString some;
        EXPECT_EQ(VE_OK, more.GetText(some, 2, true));
        ASSERT_GE(some.GetLength(), 2);
        EXPECT_EQ(input.substr(0, static_cast<size_t>(some.GetLength())), Text(some));
        EXPECT_EQ(static_cast<int64_t>(Encode(Text(some), charSet).size()), more.GetPos());
    }

    // An odd byte at the end of UTF-16 data is put back.
    TextStream odd(Bytes{'a', 0, 'b', 0, 'c'}, VTC_UTF_16_SMALLENDIAN);
    VString text;
    EXPECT_EQ(VE_OK, odd.GetText(text, 3, false));
    EXPECT_EQ(u"ab", Text(text));
    EXPECT_EQ(4, odd.GetPos());
}

TEST(VStreamText, MultiByteLegacyCharset)
{
    // Shift_JIS: "日本" is 93 FA 96 7B; the first character is cut by the end
    // of the first 256-byte chunk and still converted whole.
    const std::string sjis = std::string(255, 'x') + "\x93\xFA\x96\x7B\nka\x83";
    const Bytes bytes(sjis.begin(), sjis.end());
    const std::u16string x255(255, u'x');
    TextStream lines(bytes, 1000);
    VString line;
    EXPECT_EQ(VE_OK, lines.GetTextLine(line, false));
    EXPECT_EQ(x255 + u"\u65E5\u672C", Text(line));

    TextStream counted(bytes, 1000);
    VString text;
    EXPECT_EQ(VE_OK, counted.GetText(text, 256, false));
    EXPECT_EQ(x255 + u"\u65E5", Text(text));
    EXPECT_EQ(257, counted.GetPos());

    // A lead byte with nothing after it is an unterminated conversion.
    VTask::FlushErrors();
    TextStream all(bytes, 1000);
    EXPECT_EQ(VE_STREAM_TEXT_CONVERSION_FAILURE, all.GetText(text));
    VTask::FlushErrors();

    VPtrStream out;
    out.SetCharSet(1000);
    out.SetCarriageReturnMode(eCRM_CRLF);
    out.OpenWriting();
    EXPECT_EQ(VE_OK, out.PutText(VString(u"\u65E5\n")));
    EXPECT_EQ((Bytes{0x93, 0xFA, '\r', '\n'}), ContentOf(out));
}

TEST(VStreamText, CharsetWithoutConverter)
{
    VPtrStream stream;
    stream.SetCharSet(50);
    EXPECT_EQ(VE_STREAM_NO_TEXT_CONVERTER, stream.OpenReading());
    EXPECT_FALSE(stream.IsReading());
    EXPECT_EQ(VE_OK, stream.GetLastError());
    EXPECT_EQ(VE_STREAM_NO_TEXT_CONVERTER, stream.OpenWriting());
    EXPECT_FALSE(stream.IsWriting());
    EXPECT_EQ(VE_STREAM_NO_TEXT_CONVERTER, stream.GetLastError());

    VPtrStream open;
    open.OpenWriting();
    EXPECT_EQ(VE_STREAM_NO_TEXT_CONVERTER, open.SetCharSet(50));
    EXPECT_EQ(VE_STREAM_NO_TEXT_CONVERTER, open.PutText(VString("a")));
}

}  // namespace
}  // namespace bkit
