// VTextConverterTest.cpp - converters, the registry, marks, guessing and names.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "basekit/platform/TextEncoding.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverters.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

VString Str(const std::u16string& text)
{
    return VString(text.data(), static_cast<VIndex>(text.size()));
}

// The bytes of text in charSet through a converter the registry hands out.
Bytes Encode(const std::u16string& text, CharSet charSet, bool* ok = nullptr)
{
    VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
    VFromUnicodeConverter::Buffer buffer;
    bool converted = converter->ConvertToBuffer(text.data(), static_cast<int>(text.size()), buffer, 0);
    converter->Release();
    if (ok)
        *ok = converted;
    const auto* p = static_cast<const uint8_t*>(buffer.GetDataPtr());
    return p ? Bytes(p, p + buffer.GetDataSize()) : Bytes();
}

std::u16string Decode(const Bytes& bytes, CharSet charSet, bool* ok = nullptr)
{
    VString out("stale");
    bool converted = VTextConverters::Get()->ConvertToVString(bytes.data(), bytes.size(), charSet, out);
    if (ok)
        *ok = converted;
    return Text(out);
}

struct Converted {
    std::u16string units;
    size_t consumed;
    bool ok;
};

Converted ToUnicode(VToUnicodeConverter& converter, const Bytes& bytes, int room = 64)
{
    std::u16string out(static_cast<size_t>(room), u'\0');
    size_t consumed = 99;
    int produced = -1;
    bool ok = converter.Convert(bytes.data(), bytes.size(), &consumed, out.data(), room, &produced);
    out.resize(static_cast<size_t>(produced));
    return {out, consumed, ok};
}

const std::u16string kMixed = u"Az \u00e9\u00df \u4e2d\u6587 \U0001F600 \u20ac\r\n";

TEST(VTextConverter, RoundTripsThroughEveryUnicodeForm)
{
    const CharSet forms[] = {VTC_UTF_16_BIGENDIAN, VTC_UTF_16_SMALLENDIAN, VTC_UTF_32_BIGENDIAN,
                             VTC_UTF_32_SMALLENDIAN, VTC_UTF_8, VTC_UTF_7, VTC_DefaultTextExport};
    for (CharSet form : forms) {
        SCOPED_TRACE(form);
        std::u16string text = form == VTC_DefaultTextExport ? u"Az \u00e9\u00df\r\n" : kMixed;
        bool encoded = false, decoded = false;
        Bytes bytes = Encode(text, form, &encoded);
        EXPECT_TRUE(encoded);
        EXPECT_EQ(text, Decode(bytes, form, &decoded));
        EXPECT_TRUE(decoded);
    }
    // Raw UTF-32 carries UTF-16 units, surrogates included, one per value.
    for (CharSet raw : {VTC_UTF_32_RAW_BIGENDIAN, VTC_UTF_32_RAW_SMALLENDIAN}) {
        Bytes bytes = Encode(kMixed, raw);
        EXPECT_EQ(4 * kMixed.size(), bytes.size());
        EXPECT_EQ(kMixed, Decode(bytes, raw));
    }
}

TEST(VTextConverter, UTF32ByteOrdersHoldCharactersAboveTheBMP)
{
    EXPECT_EQ((Bytes{0x00, 0x01, 0xF6, 0x00, 0x00, 0x00, 0x00, 0x41}), Encode(u"\U0001F600A", VTC_UTF_32_BIGENDIAN));
    EXPECT_EQ((Bytes{0x00, 0xF6, 0x01, 0x00, 0x41, 0x00, 0x00, 0x00}), Encode(u"\U0001F600A", VTC_UTF_32_SMALLENDIAN));

    // Lone surrogates have no UTF-32 form: the conversion stops before them.
    for (CharSet form : {VTC_UTF_32_BIGENDIAN, VTC_UTF_32_SMALLENDIAN}) {
        bool ok = true;
        EXPECT_EQ(4u, Encode(u"a\xDC00" u"b", form, &ok).size());
        EXPECT_FALSE(ok);
        EXPECT_EQ(4u, Encode(u"a\xD800" u"b", form, &ok).size());
        EXPECT_FALSE(ok);
    }

    VToUnicodeConverter_UTF32 big(true);
    struct Case {
        Bytes bytes;
        std::u16string units;
        size_t consumed;
        bool ok;
    } cases[] = {
        {{0, 0, 0, 'a', 0, 0, 0xD8, 0x00, 0, 0, 0, 'b'}, u"a", 4, false},  // surrogate value stops
        {{0, 0x11, 0, 0, 0, 0, 0, 'b'}, u"b", 8, false},                   // too large: skipped
        {{0, 0, 0, 'a', 0, 0, 0}, u"a", 4, true},                          // partial group waits
    };
    for (const Case& c : cases) {
        Converted r = ToUnicode(big, c.bytes);
        EXPECT_EQ(c.units, r.units);
        EXPECT_EQ(c.consumed, r.consumed);
        EXPECT_EQ(c.ok, r.ok);
    }
}

TEST(VTextConverter, UTF8Decoding)
{
    VToUnicodeConverter_UTF8 utf8;
    struct Case {
        Bytes bytes;
        std::u16string units;
        size_t consumed;
        bool ok;
    } cases[] = {
        {{'c', 'a', 'f', 0xC3, 0xA9}, u"caf\u00e9", 5, true},
        {{0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600", 4, true},
        {{'x', 0xE2, 0x82}, u"x", 1, true},                    // cut short: waits for more
        {{0xF4, 0x90, 0x80, 0x80}, u"?", 4, false},            // 0x110000
        {{0xA9}, u"\u00a9", 1, true},                          // stray continuation byte
        {{0xC0, 0xAF, 'x'}, u"\u00c0\u00afx", 3, true},        // overlong "/" is not a slash
        {{0xE0, 0x80, 0x80}, u"\u00e0\u0080\u0080", 3, true},  // overlong NUL
        {{'c', 'a', 'f', 0xE9, ' ', 'a', 'u'}, u"caf\u00e9 au", 7, true},  // Latin-1 text keeps its letters
        {{0xED, 0xA0, 0x80}, u"\xD800", 3, true},              // an encoded surrogate gives its unit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Converted r = ToUnicode(utf8, c.bytes);
        EXPECT_EQ(c.units, r.units);
        EXPECT_EQ(c.consumed, r.consumed);
        EXPECT_EQ(c.ok, r.ok);
    }

    // A character is consumed only when all its units fit.
    Converted tight = ToUnicode(utf8, Bytes{'a', 0xF0, 0x9F, 0x98, 0x80}, 2);
    EXPECT_EQ(u"a", tight.units);
    EXPECT_EQ(1u, tight.consumed);

    // Long 7-bit runs and a multi-byte character right after them.
    std::string ascii(1000, 'q');
    ascii += "\xC3\xA9";
    EXPECT_EQ(std::u16string(1000, u'q') + u"\u00e9", Decode(Bytes(ascii.begin(), ascii.end()), VTC_UTF_8));
}

TEST(VTextConverter, UTF8Encoding)
{
    VFromUnicodeConverter_UTF8 utf8;
    struct Case {
        std::u16string units;
        std::string bytes;
        int consumed;
    } cases[] = {
        {u"a\u00e9\u4e2d\U0001F600", "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", 5},
        {u"ab\xD800", "ab", 2},                   // high surrogate at the end waits for its pair
        {u"\xD800" u"A", "\xED\xA0\x80" "A", 2},  // a lone high surrogate does not eat the A
        {u"\xDC00", "\xED\xB0\x80", 1},
    };
    for (const Case& c : cases) {
        char out[32];
        int consumed = -1;
        size_t produced = 0;
        EXPECT_TRUE(utf8.Convert(c.units.data(), static_cast<int>(c.units.size()), &consumed, out, sizeof(out),
                                 &produced));
        EXPECT_EQ(c.bytes, std::string(out, produced));
        EXPECT_EQ(c.consumed, consumed);
    }
    // Counting only: everything consumed, the bytes it would take.
    int consumed = 0;
    size_t needed = 0;
    EXPECT_TRUE(utf8.Convert(u"a\u00e9\U0001F600", 4, &consumed, nullptr, 0, &needed));
    EXPECT_EQ(4, consumed);
    EXPECT_EQ(7u, needed);
    // A character that does not fit is left whole.
    char small[2];
    size_t produced = 0;
    utf8.Convert(u"a\u00e9", 2, &consumed, small, sizeof(small), &produced);
    EXPECT_EQ(1, consumed);
    EXPECT_EQ(1u, produced);

    // Wide text: up to six bytes, and values at or above 0x80000000 stop.
    const wchar_t wide[] = {L'a', static_cast<wchar_t>(0x4000000), static_cast<wchar_t>(0x7FFFFFFF),
                            static_cast<wchar_t>(0x80000000u), L'b'};
    char out[32];
    EXPECT_FALSE(utf8.ConvertFrom_wchar(wide, 5, &consumed, out, sizeof(out), &produced));
    EXPECT_EQ(3, consumed);
    EXPECT_EQ(std::string("a\xFC\x84\x80\x80\x80\x80\xFD\xBF\xBF\xBF\xBF\xBF", 13), std::string(out, produced));
}

TEST(VTextConverter, ConvertReallocStopsOnATrailingHighSurrogate)
{
    const std::u16string text = u"abc\xD83D";
    for (CharSet charSet : {VTC_UTF_8, 1005}) {
        SCOPED_TRACE(charSet);
        VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
        void* block = nullptr;
        size_t used = 0;
        EXPECT_TRUE(converter->ConvertRealloc(text.data(), static_cast<int>(text.size()), block, used, 1));
        ASSERT_EQ(3u, used);
        EXPECT_EQ("abc", std::string(static_cast<char*>(block), used));
        VObject::GetMainMemMgr()->Free(block);
        converter->Release();
    }
}

TEST(VTextConverter, LegacyCharsets)
{
    struct Case {
        int charSet;
        std::u16string text;
        Bytes bytes;
    } cases[] = {
        {9, u"plain", {'p', 'l', 'a', 'i', 'n'}},
        {10, u"A1", {0xC1, 0xF1}},                          // EBCDIC 037
        {11, u"\u00e9\u2591", {0x82, 0xB0}},                // IBM 437
        {100, u"\u00e9\u00fc", {0x8E, 0x9F}},               // Mac Roman
        {101, u"\u20ac\u00e9", {0x80, 0xE9}},               // windows-1252
        {102, u"\u0104", {0x84}},                           // Mac Central European
        {103, u"\u0141", {0xA3}},                           // windows-1250
        {104, u"\u0416", {0x86}},                           // Mac Cyrillic
        {105, u"\u0416", {0xC6}},                           // windows-1251
        {115, u"\u0160", {0xD0}},                           // windows-1257
        {117, u"\u4e2d", {0xD6, 0xD0}},                     // GBK
        {119, u"\u4e2d", {0xA4, 0xA4}},                     // code page 950
        {1000, u"\u65e5\u672c", {0x93, 0xFA, 0x96, 0x7B}},  // Shift_JIS
        {1001, u"\u65e5", {0x1B, 0x24, 0x42, 0x46, 0x7C, 0x1B, 0x28, 0x42}},  // ISO-2022-JP
        {1002, u"\u4e2d", {0xA4, 0xA4}},                    // Big5
        {1003, u"\ud55c", {0xC7, 0xD1}},                    // EUC-KR
        {1004, u"\u043f\u0440", {0xD0, 0xD2}},              // KOI8-R
        {1005, u"caf\u00e9", {'c', 'a', 'f', 0xE9}},        // ISO-8859-1
        {1009, u"\u0416", {0xB6}},                          // ISO-8859-5
        {1015, u"\u0160", {0xD0}},                          // ISO-8859-13
        {1016, u"\u4e2d", {0xD6, 0xD0}},                    // GB2312
        {1018, u"\u20ac", {0xA4}},                          // ISO-8859-15
        {1019, u"\u65e5", {0x93, 0xFA}},                    // Windows-31J
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charSet);
        CharSet charSet = c.charSet;
        bool ok = false;
        EXPECT_EQ(c.bytes, Encode(c.text, charSet, &ok));
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.text, Decode(c.bytes, charSet, &ok));
        EXPECT_TRUE(ok);
    }
}

TEST(VTextConverter, LegacyUnmappableAndCutCharacters)
{
    // What a charset cannot hold becomes one "?", a surrogate pair included.
    EXPECT_EQ((Bytes{'a', '?', 'b', '?', 'c'}), Encode(u"a\u4e2db\U0001F600c", 1005));

    VToUnicodeConverter* sjis = VTextConverters::Get()->RetainToUnicodeConverter(1000);
    Converted cut = ToUnicode(*sjis, Bytes{'a', 0x93});
    EXPECT_EQ(u"a", cut.units);
    EXPECT_EQ(1u, cut.consumed);
    EXPECT_TRUE(cut.ok);
    // A full output ends after the last whole character.
    Converted full = ToUnicode(*sjis, Bytes{0x93, 0xFA, 0x96, 0x7B, 'z'}, 1);
    EXPECT_EQ(u"\u65e5", full.units);
    EXPECT_EQ(2u, full.consumed);
    EXPECT_TRUE(full.ok);
    sjis->Release();

    VFromUnicodeConverter* latin1 = VTextConverters::Get()->RetainFromUnicodeConverter(1005);
    char out[2];
    int consumed = 0;
    size_t produced = 0;
    EXPECT_TRUE(latin1->Convert(u"abc", 3, &consumed, out, sizeof(out), &produced));
    EXPECT_EQ(2, consumed);
    EXPECT_EQ(2u, produced);
    EXPECT_EQ(2, latin1->GetCharSize());
    latin1->Release();
}

// Each character a charset cannot hold ends one platform conversion: the
// "?" and the text around it, whole or cut by the room given, stay as they
// were written before the scratch room followed the text.
TEST(VTextConverter, LegacyOutputAroundUnmappableCharacters)
{
    struct Case {
        int charSet;
        std::u16string text;
        size_t room;  // 0: the whole text through ConvertToBuffer
        Bytes bytes;
        int consumed;
    } cases[] = {
        {1005, u"\xD800x\u4e2d", 0, {'?', 'x', '?'}, 3},  // a lone high surrogate
        {1005, u"x\xDC00y", 0, {'x', '?', 'y'}, 3},       // a lone low surrogate
        {1005, u"\U0001F600\U0001F600", 0, {'?', '?'}, 4},
        {1005, u"\u4e2d\u4e2d\u4e2dz", 0, {'?', '?', '?', 'z'}, 4},
        // The "?" goes after the two-byte run is closed.
        {1001, u"\u65e5\u00e9\u672c", 0,
         {0x1B, '$', 'B', 'F', '|', 0x1B, '(', 'B', '?', 0x1B, '$', 'B', 'K', 0x5C, 0x1B, '(', 'B'}, 3},
        {1001, u"a\u65e5\U0001F600b", 0, {'a', 0x1B, '$', 'B', 'F', '|', 0x1B, '(', 'B', '?', 'b'}, 5},
        {1001, u"\u65e5\u672c\ud55c\ud55c\u65e5x", 0,
         {0x1B, '$', 'B', 'F', '|', 'K', 0x5C, 0x1B, '(', 'B', '?', '?', 0x1B, '$', 'B', 'F', '|', 0x1B, '(', 'B', 'x'},
         6},
        {1001, u"\xDC00\u65e5", 0, {'?', 0x1B, '$', 'B', 'F', '|', 0x1B, '(', 'B'}, 2},
        {1000, u"\u65e5\u00e9x\ud55c", 0, {0x93, 0xFA, '?', 'x', '?'}, 4},
        // UTF-7 holds a lone surrogate.
        {8, u"a\u65e5\xDC00" u"b\u00e9", 0,
         {'a', '+', 'Z', 'e', 'U', '-', '+', '3', 'A', 'A', '-', 'b', '+', 'A', 'O', 'k', '-'}, 5},
        {9, u"caf\u00e9 \u20ac", 0, {'c', 'a', 'f', '?', ' ', '?'}, 6},
        {10, u"A\u4e2dB", 0, {0xC1, '?', 0xC2}, 3},
        // Cut by the room: the shifted run is closed, or the cut comes before it.
        {1001, u"\u65e5\u672c\u00e9\u65e5", 4, {}, 0},
        {1001, u"\u65e5\u672c\u00e9\u65e5", 7, {}, 0},
        {1001, u"\u65e5\u672c\u00e9\u65e5", 8, {0x1B, '$', 'B', 'F', '|', 0x1B, '(', 'B'}, 1},
        {1001, u"\u65e5\u672c\u00e9\u65e5", 10, {0x1B, '$', 'B', 'F', '|', 'K', 0x5C, 0x1B, '(', 'B'}, 2},
        {1001, u"\u65e5\u672c\u00e9\u65e5", 12, {0x1B, '$', 'B', 'F', '|', 'K', 0x5C, 0x1B, '(', 'B', '?'}, 3},
        {8, u"\u65e5\u672c\u00e9", 5, {'+', 'Z', 'e', 'U', '-'}, 1},
        {8, u"\u65e5\u672c\u00e9", 9, {'+', 'Z', 'e', 'V', 'n', 'L', 'A', '-'}, 2},
        {1005, u"ab\u4e2dcd", 2, {'a', 'b'}, 2},
        {1005, u"ab\u4e2dcd", 3, {'a', 'b', '?'}, 3},
        {1000, u"a\u65e5\u00e9", 2, {'a'}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.charSet << " room " << c.room << " case " << (&c - cases));
        if (c.room == 0) {
            bool ok = false;
            EXPECT_EQ(c.bytes, Encode(c.text, c.charSet, &ok));
            EXPECT_TRUE(ok);
            continue;
        }
        VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(c.charSet);
        Bytes out(c.room);
        int consumed = -1;
        size_t produced = 0;
        EXPECT_TRUE(converter->Convert(c.text.data(), static_cast<int>(c.text.size()), &consumed, out.data(), c.room,
                                       &produced));
        out.resize(produced);
        EXPECT_EQ(c.bytes, out);
        EXPECT_EQ(c.consumed, consumed);
        converter->Release();
    }
}

// What stands in for a character the charset cannot hold is written in the
// charset's initial state, so that a reader takes it as "?" and not as half of
// a shifted character: the text reads back with each such character as "?",
// written at once or through a small room as a stream writes it.
TEST(VTextConverter, UnmappableCharactersReadBackAsQuestionMarksInStatefulCharsets)
{
    struct Case {
        int charSet;
        std::u16string text;
        std::u16string readBack;
    } cases[] = {
        // ISO-2022-JP: two-byte runs (JIS X 0208) and JIS-Roman runs.
        {1001, u"\u65e5\u00e9\u672c", u"\u65e5?\u672c"},
        {1001, u"\u65e5\u00e9\u00e9\u672c", u"\u65e5??\u672c"},
        {1001, u"a\u65e5\U0001F600b", u"a\u65e5?b"},
        {1001, u"\u65e5\u672c\ud55c\ud55c\u65e5x", u"\u65e5\u672c??\u65e5x"},
        {1001, u"\u00e9\u65e5\u672c", u"?\u65e5\u672c"},
        {1001, u"\u65e5\u672c\u00e9", u"\u65e5\u672c?"},
        {1001, u"\u65e5\xDC00\u672c\xD800\u65e5", u"\u65e5?\u672c?\u65e5"},
        {1001, u"\u00a5\u00e9\u00a5x\u00e9", u"\u00a5?\u00a5x?"},
        {1001, u"\u00a5\u65e5\u20ac\u00a5\u672c\u00e9a", u"\u00a5\u65e5?\u00a5\u672c?a"},
        {1001, u"\u3042\u30a2\u00e9\u4e00\u00e9 \u00e9\u3042", u"\u3042\u30a2?\u4e00? ?\u3042"},
        // Written in pieces, as the room runs out inside a long two-byte run.
        {1001, u"\u65e5\u672c\u8a9e\u306e\u6587\u7ae0\u3092\u66f8\u304f\u65e5\u672c\u8a9e\u306e\u6587\u7ae0"
               u"\u3092\u66f8\u304f\u00e9\u65e5\u672c",
         u"\u65e5\u672c\u8a9e\u306e\u6587\u7ae0\u3092\u66f8\u304f\u65e5\u672c\u8a9e\u306e\u6587\u7ae0\u3092"
         u"\u66f8\u304f?\u65e5\u672c"},
        // UTF-7 holds every unit: its base64 runs come back whole.
        {8, u"a\u65e5\xDC00" u"b\u00e9", u"a\u65e5\xDC00" u"b\u00e9"},
        {8, u"\u65e5\u672c?\u00e9-+x", u"\u65e5\u672c?\u00e9-+x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.charSet << " case " << (&c - cases));
        bool ok = false;
        Bytes whole = Encode(c.text, c.charSet, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.readBack, Decode(whole, c.charSet, &ok));
        EXPECT_TRUE(ok);

        // The smallest rooms that hold one closed two-byte character and more.
        for (size_t room : {8u, 9u, 11u, 13u, 64u}) {
            SCOPED_TRACE(testing::Message() << "room " << room);
            VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(c.charSet);
            Bytes written;
            size_t at = 0;
            while (at < c.text.size()) {
                Bytes out(room);
                int consumed = 0;
                size_t produced = 0;
                ASSERT_TRUE(converter->Convert(c.text.data() + at, static_cast<int>(c.text.size() - at), &consumed,
                                               out.data(), room, &produced));
                ASSERT_TRUE(consumed > 0 || produced > 0) << "no progress at " << at;
                written.insert(written.end(), out.begin(), out.begin() + static_cast<long>(produced));
                at += static_cast<size_t>(consumed);
            }
            converter->Release();
            EXPECT_EQ(c.readBack, Decode(written, c.charSet, &ok));
        }
    }

    // Pieces meet with one escape sequence right after another: that empty run
    // reads as nothing, while bytes that form no character are still replaced.
    EXPECT_EQ(u"\u65e5\u672c", Decode(Bytes{0x1B, '$', 'B', 'F', '|', 0x1B, '(', 'B', 0x1B, '$', 'B', 'K', 0x5C, 0x1B,
                                           '(', 'B'},
                                     1001));
    EXPECT_EQ(u"\ufffd", Decode(Bytes{0x1B, '$', 'B', 0x7F, 0x7F, 0x1B, '(', 'B'}, 1001));
}

// Writing text full of characters the charset cannot hold costs scratch room
// in step with the text, not with the text times the room left after each.
TEST(VTextConverter, UnmappableCharactersCostScratchInStepWithTheText)
{
    constexpr size_t kCount = 160000;
    // Invalid ISO-2022-JP: every pair of bytes in the shifted run reads as
    // one replacement character, which ISO-2022-JP cannot hold.
    std::string invalid;
    for (size_t i = 0; i < kCount / 2; ++i)
        invalid += "\x1B$B\x7F\x7F\x7F\x7F\x1B(B";
    VString decoded;
    ASSERT_TRUE(VTextConverters::Get()->ConvertToVString(invalid.data(), invalid.size(), 1001, decoded));
    ASSERT_GE(static_cast<size_t>(decoded.GetLength()), kCount - 1);

    struct Case {
        const char* what;
        std::u16string text;
        CharSet charSet;
    } cases[] = {
        {"CJK to ISO-8859-1", std::u16string(kCount, u'\u4e2d'), 1005},
        {"pairs to ISO-8859-1", [] {
             std::u16string pairs;
             for (size_t i = 0; i < kCount / 2; ++i)
                 pairs += u"\U0001F600";
             return pairs;
         }(), 1005},
        {"invalid ISO-2022-JP written back", Text(decoded), 1001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint64_t before = platform::FromUnicodeScratchBytes();
        bool ok = false;
        Bytes bytes = Encode(c.text, c.charSet, &ok);
        uint64_t scratch = platform::FromUnicodeScratchBytes() - before;
        EXPECT_TRUE(ok);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '?'), static_cast<long>(bytes.size()));
        // A few kilobytes per character at most; the room left after each
        // character would be hundreds of kilobytes on average here.
        EXPECT_LT(scratch, 4096u * c.text.size()) << scratch;
    }
}

TEST(VTextConverter, CharsetsWithoutConverterGiveVoidConverters)
{
    for (int charSet : {0, -1, 12, 50, 121, 999, 1020, -3}) {
        SCOPED_TRACE(charSet);
        VToUnicodeConverter* in = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
        VFromUnicodeConverter* out = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
        EXPECT_FALSE(in->IsValid());
        EXPECT_FALSE(out->IsValid());
        in->Release();
        out->Release();
        bool ok = true;
        EXPECT_EQ(u"", Decode(Bytes{'a', 'b'}, charSet, &ok));
        EXPECT_FALSE(ok);
        EXPECT_TRUE(Encode(u"ab", charSet, &ok).empty());
        EXPECT_FALSE(ok);
    }
    // Shared converters come with a reference of their own for the caller.
    VToUnicodeConverter* a = VTextConverters::Get()->RetainToUnicodeConverter(VTC_UTF_8);
    EXPECT_EQ(VTextConverters::Get()->GetStdLibToUnicodeConverter(), a);
    int32_t count = a->GetRefCount();
    a->Release();
    EXPECT_EQ(count - 1, a->GetRefCount());
}

TEST(VTextConverter, ByteOrderMarks)
{
    struct Case {
        Bytes bytes;
        bool found;
        int charSet;
        size_t length;
    } cases[] = {
        {{0xEF, 0xBB, 0xBF, 'a'}, true, 7, 3},
        {{0x00, 0x00, 0xFE, 0xFF}, true, 3, 4},
        {{0xFF, 0xFE, 0x00, 0x00}, true, 4, 4},
        {{0xFF, 0xFE, 0x41, 0x00}, true, 2, 2},
        {{0xFE, 0xFF}, true, 1, 2},
        {{0xFE}, false, 0, 0},
        {{0xEF, 0xBB}, false, 0, 0},
        {{'a', 'b', 'c'}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        size_t length = 99;
        CharSet charSet = VTC_UTF_8;
        EXPECT_EQ(c.found, VTextConverters::ParseBOM(c.bytes.data(), c.bytes.size(), &length, &charSet));
        EXPECT_EQ(c.charSet, charSet);
        EXPECT_EQ(c.length, length);
        if (c.found) {
            size_t markLength = 0;
            const uint8_t* mark = VTextConverters::GetBOMForCharSet(charSet, &markLength);
            ASSERT_NE(nullptr, mark);
            EXPECT_EQ(Bytes(c.bytes.begin(), c.bytes.begin() + static_cast<long>(c.length)),
                      Bytes(mark, mark + markLength));
        }
    }
    size_t length = 9;
    EXPECT_EQ(nullptr, VTextConverters::GetBOMForCharSet(VTC_UTF_32_RAW_SMALLENDIAN, &length));
    EXPECT_EQ(0u, length);
}

TEST(VTextConverter, DetectUTF8AndGuessCharset)
{
    struct Detect {
        Bytes bytes;
        bool utf8;
    } detects[] = {
        {{}, true},
        {{'a', 0xC3, 0xA9}, true},
        {{0xF0, 0x9F, 0x98, 0x80}, true},
        {{0xF4, 0x8F, 0xBF, 0xBF}, true},
        {{0xC3}, false},                    // ends inside a sequence
        {{0xC0, 0xAF}, false},              // overlong
        {{0xE0, 0x9F, 0xBF}, false},        // overlong three bytes
        {{0xED, 0xA0, 0x80}, false},        // surrogate
        {{0xF4, 0x90, 0x80, 0x80}, false},  // above U+10FFFF
        {{0xF5, 0x80, 0x80, 0x80}, false},
        {{0x80}, false},
        {{'c', 'a', 'f', 0xE9}, false},
    };
    for (const Detect& d : detects)
        EXPECT_EQ(d.utf8, VTextConverters::DetectUTF8(d.bytes.data(), static_cast<int>(d.bytes.size())))
            << "case " << (&d - detects);

    struct Guess {
        Bytes bytes;
        int defaultCharSet;
        bool detect;
        bool guessed;
        int charSet;
    } guesses[] = {
        {{0x61, 0x00, 0x62, 0x00}, 100, false, true, 2},
        {{0x61, 0x00, 0x62, 0x00}, 100, true, true, 7},  // zero bytes are valid UTF-8 too
        {{0x00, 0x61, 0x00, 0x62}, 100, false, true, 1},
        {{'a', 'b', 'c', 'd'}, 1, false, true, 7},
        {{'a', 'b', 'c', 'd'}, 100, false, false, 100},
        {{'c', 'a', 'f', 0xE9}, 100, true, false, 100},
        {{0xC3, 0xA9}, 100, true, true, 7},
        {{}, 100, true, false, 100},
    };
    for (const Guess& g : guesses) {
        CharSet charSet = g.defaultCharSet;
        EXPECT_EQ(g.guessed, VTextConverters::GuessCharsetWithNoBom(g.bytes.data(), static_cast<int>(g.bytes.size()),
                                                                    &charSet, g.detect))
            << "case " << (&g - guesses);
        EXPECT_EQ(g.charSet, charSet) << "case " << (&g - guesses);
    }
}

TEST(VTextConverter, CharsetNames)
{
    struct ByName {
        const char* name;
        int charSet;
        int mibEnum;
    } names[] = {
        {"utf-8", 7, 106},      {"LATIN1", 1005, 4},           {"x-mac-ce", 102, 1250},
        {"x-mac-chinesesimp", 1016, 2025}, {"UTF-32BE", 3, 1018}, {"ucs-4le", 4, 1019},
        {"UTF-16", 2, 1015},    {"shift_jis", 1000, 17},       {"GBK", 117, 113},
        {"windows-936", 117, 113}, {"no such charset", 0, 0},  {"", 0, 0},
    };
    for (const ByName& n : names) {
        SCOPED_TRACE(n.name);
        EXPECT_EQ(n.charSet, VTextConverters::GetCharSetFromName(VString(n.name)));
        EXPECT_EQ(n.mibEnum, VTextConverters::GetMIBEnumFromName(VString(n.name)));
    }

    VString name("stale");
    VTextConverters::GetNameFromCharSet(114, name);
    EXPECT_EQ(u"x-mac-ce", Text(name));
    VTextConverters::GetNameFromCharSet(VTC_UTF_32_SMALLENDIAN, name);
    EXPECT_EQ(u"UCS4", Text(name));
    VTextConverters::GetNameFromCharSet(118, name);
    EXPECT_TRUE(name.IsEmpty());
    VTextConverters::GetNameFromMIBEnum(2027, name);
    EXPECT_EQ(u"MacRoman", Text(name));
    EXPECT_EQ(1017, VTextConverters::GetCharSetFromMIBEnum(57));
    EXPECT_EQ(2252, VTextConverters::GetMIBEnumFromCharSet(101));
    EXPECT_EQ(0, VTextConverters::GetCharSetFromMIBEnum(424242));

    std::vector<VString> webNames{VString("stale")};
    std::vector<CharSet> webCharSets;
    VTextConverters::EnumWebCharsets(webNames, webCharSets);
    ASSERT_EQ(webNames.size(), webCharSets.size());
    ASSERT_GE(webNames.size(), 4u);
    EXPECT_EQ(u"UTF-8", Text(webNames[0]));
    EXPECT_EQ(u"UTF-7", Text(webNames[1]));
    EXPECT_EQ(u"UNICODE-1-1-UTF-7", Text(webNames[2]));
    EXPECT_EQ(u"Shift_JIS", Text(webNames[3]));
    EXPECT_EQ(u"GBK", Text(webNames.back()));

    std::vector<VString> all;
    std::vector<CharSet> allCharSets;
    VTextConverters::EnumCharsets(all, allCharSets);
    ASSERT_EQ(all.size(), allCharSets.size());
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_LE(all[i - 1].CompareToString(all[i], false), 0) << i;
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(VTextConverters::GetCharSetFromName(all[i]) != 0, true) << i;
}

TEST(VTextConverter, LineEndsInCodeUnitsOfTheCharset)
{
    struct Case {
        int charSet;
        std::u16string text;
        ECarriageReturnMode mode;
        std::u16string expected;
    } cases[] = {
        {2, u"a\nb", eCRM_CRLF, u"a\r\nb"},
        {1, u"a\r\nb\rc\n", eCRM_CRLF, u"a\r\nb\r\nc\r\n"},
        {3, u"a\r\nb", eCRM_LF, u"a\nb"},
        {4, u"a\r\nb\n", eCRM_CR, u"a\rb\r"},
        {7, u"\u0d0a\n\u00e9", eCRM_CRLF, u"\u0d0a\r\n\u00e9"},
        {1, u"\u0d0a\u0a0d\r", eCRM_LF, u"\u0d0a\u0a0d\n"},  // bytes 0D and 0A inside units are no line ends
        {3, u"\u0d0a\n", eCRM_CRLF, u"\u0d0a\r\n"},
        {6, u"x\ry", eCRM_NONE, u"x\ry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        CharSet charSet = c.charSet;
        Bytes bytes = Encode(c.text, charSet);
        VMemoryBuffer<> buffer;
        buffer.SetSize(bytes.size());  // no spare room: growing is part of the test
        std::memcpy(buffer.GetDataPtr(), bytes.data(), bytes.size());
        ASSERT_TRUE(VString::ConvertCarriageReturns(buffer, charSet, c.mode));
        const auto* p = static_cast<const uint8_t*>(buffer.GetDataPtr());
        EXPECT_EQ(Encode(c.expected, charSet), Bytes(p, p + buffer.GetDataSize()));
    }
}

TEST(VTextConverter, ScopedConverterInAnyCharset)
{
    StStringConverter<char> latin1(Str(u"caf\u00e9\n"), 1005, eCRM_CRLF);
    EXPECT_TRUE(latin1.IsOK());
    EXPECT_EQ(std::string("caf\xE9\r\n"), std::string(latin1.GetCPointer(), latin1.GetSize()));

    StStringConverter<char> utf32(Str(u"\U0001F600"), VTC_UTF_32_BIGENDIAN);
    EXPECT_TRUE(utf32.IsOK());
    EXPECT_EQ(std::string("\x00\x01\xF6\x00", 4), std::string(utf32.GetCPointer(), utf32.GetSize()));

    // Longer than the inline room in a charset of four bytes a unit.
    std::u16string big(600, u'\u00e9');
    StStringConverter<char> large(Str(big), VTC_UTF_32_SMALLENDIAN);
    EXPECT_TRUE(large.IsOK());
    EXPECT_EQ(2400u, large.GetSize());
    EXPECT_EQ(big, Decode(Bytes(large.GetCPointer(), large.GetCPointer() + large.GetSize()), VTC_UTF_32_SMALLENDIAN));

    StStringConverter<char> none(VString("x"), 50);
    EXPECT_FALSE(none.IsOK());
    EXPECT_EQ(0u, none.GetSize());
}

TEST(VTextConverter, ScopedConverterCopiesAndMovesKeepTheirCharset)
{
    auto bytes = [](const StStringConverter<char>& c) { return std::string(c.GetCPointer(), c.GetSize()); };
    const std::u16string longText(600, u'\u00e9');  // past the inline room, on the heap
    for (const std::u16string& text : {std::u16string(u"caf\u00e9"), longText}) {
        SCOPED_TRACE(text.size());
        StStringConverter<char> original(Str(text), VTC_ISO_8859_1);
        const std::string expected = bytes(original);
        ASSERT_EQ(text.size(), expected.size());

        StStringConverter<char> copy(original);
        EXPECT_TRUE(copy.IsOK());
        EXPECT_EQ(expected, bytes(copy));
        EXPECT_NE(copy.GetCPointer(), original.GetCPointer());
        // The copy converts again in the same charset, the original is untouched.
        EXPECT_EQ(std::string("\xE8"), std::string(copy.ConvertString(Str(u"\u00e8"))));
        EXPECT_EQ(expected, bytes(original));

        StStringConverter<char> moved(std::move(original));
        EXPECT_TRUE(moved.IsOK());
        EXPECT_EQ(expected, bytes(moved));
        EXPECT_EQ(std::string("\xE8"), std::string(moved.ConvertString(Str(u"\u00e8"))));
        // The source gave its converter away: nothing produced, and no
        // conversion passes for a success.
        EXPECT_EQ(0u, original.GetSize());
        EXPECT_FALSE(original.IsOK());
        EXPECT_STREQ("", original.ConvertString(Str(u"abc")));
        EXPECT_FALSE(original.IsOK());
    }

    StStringConverter<char> dumped(Str(u"abc"), VTC_UTF_8);
    VString dump;
    dumped.DebugDump(dump);
    EXPECT_EQ(u"3 bytes converted, ok", std::u16string(dump.GetCPointer(), static_cast<size_t>(dump.GetLength())));
}

// The registry's early use made by several threads at once. It runs in a
// fresh process (a re-executed death test); the process object's start-up
// already converts file paths there, so the registry may exist before the
// threads start. Every thread must get the one instance, and the thread
// sanitizer build must see no race in its use.
void ConvertOnManyThreadsFirst()
{
    constexpr int kThreads = 8;
    std::atomic<bool> go{false};
    std::vector<VTextConverters*> seen(kThreads, nullptr);
    std::vector<int> converted(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            seen[static_cast<size_t>(t)] = VTextConverters::Get();
            VString text;
            text.FromBlock("caf\xE9", 4, VTC_ISO_8859_1);
            converted[static_cast<size_t>(t)] = text.GetLength();
        });
    }
    go.store(true);
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        if (seen[static_cast<size_t>(t)] != VTextConverters::sInstance || converted[static_cast<size_t>(t)] != 4) {
            std::fprintf(stderr, "thread %d saw another registry or converted nothing\n", t);
            std::exit(3);
        }
    }
    std::exit(0);
}

TEST(VTextConverter, FirstUseFromManyThreadsMakesOneRegistry)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ConvertOnManyThreadsFirst(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace bkit
