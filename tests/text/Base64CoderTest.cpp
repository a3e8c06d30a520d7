// Base64CoderTest.cpp - Base64 encoding in both alphabets, line breaks,
// decoding of valid and invalid text, partial results and checksum texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/text/Base64Coder.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

using Buffer = Base64Coder::Buffer;

std::string ContentOf(const Buffer& buffer)
{
    const char* data = static_cast<const char*>(buffer.GetDataPtr());
    return data ? std::string(data, buffer.GetDataSize()) : std::string();
}

std::string Encode(const std::string& bytes, int quadsPerLine, bool urlSafe)
{
    Buffer out;
    EXPECT_TRUE(Base64Coder::_Encode(bytes.data(), bytes.size(), out, quadsPerLine, urlSafe));
    return ContentOf(out);
}

TEST(Base64Encode, AlphabetsPaddingAndLineBreaks)
{
    struct Case {
        std::string bytes;
        int quadsPerLine;
        bool urlSafe;
        std::string expected;
    };
    const Case cases[] = {
        {"", 0, false, ""},
        {"f", 0, false, "Zg=="},
        {"fo", 0, false, "Zm8="},
        {"foo", 0, false, "Zm9v"},
        {"foob", 0, false, "Zm9vYg=="},
        {"fooba", 0, false, "Zm9vYmE="},
        {"foobar", 0, false, "Zm9vYmFy"},
        {"f", 0, true, "Zg"},
        {"fo", 0, true, "Zm8"},
        {"foobar", 0, true, "Zm9vYmFy"},
        {"\xFB\xFF", 0, false, "+/8="},
        {"\xFB\xFF", 0, true, "-_8"},
        {std::string("\0\0\0", 3), 0, false, "AAAA"},
        // A break after every full line, never after the last group.
        {"foobar", 1, false, "Zm9v\r\nYmFy"},
        {"foobarfoo", 2, false, "Zm9vYmFy\r\nZm9v"},
        {"foobarf", 2, false, "Zm9vYmFy\r\nZg=="},
        {"foobar", 2, false, "Zm9vYmFy"},
        {"foobar", 3, false, "Zm9vYmFy"},
        // The URL-safe alphabet never breaks lines.
        {"foobar", 1, true, "Zm9vYmFy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.expected, Encode(c.bytes, c.quadsPerLine, c.urlSafe));
    }

    Buffer out;
    out.AddData("stale", 5);
    EXPECT_FALSE(Base64Coder::_Encode(nullptr, 3, out, 0, false));
    EXPECT_EQ(0u, out.GetDataSize());
}

TEST(Base64Decode, EveryLengthRoundTripsInEveryForm)
{
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes.push_back(static_cast<char>(i * 37 + 11));
    for (size_t length = 0; length <= bytes.size(); length += (length < 20 ? 1 : 17)) {
        std::string input = bytes.substr(0, length);
        for (auto [quadsPerLine, urlSafe] : {std::pair{0, false}, std::pair{1, false}, std::pair{19, false}, std::pair{0, true}}) {
            SCOPED_TRACE(testing::Message() << "length " << length << ", per line " << quadsPerLine << (urlSafe ? ", URL" : ""));
            std::string text = Encode(input, quadsPerLine, urlSafe);
            Buffer out;
            ASSERT_TRUE(Base64Coder::Decode(text.data(), text.size(), out, urlSafe, false));
            EXPECT_EQ(input, ContentOf(out));
        }
    }
}

TEST(Base64Decode, StandardTextMayHoldWhitespaceAnywhere)
{
    const std::string texts[] = {" Zm9v YmFy ", "Zm\r\n9vYm\tFy", "\nZ m 9 v Y m F y\n", "Zm9vYmFy\r\n"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        Buffer out;
        ASSERT_TRUE(Base64Coder::Decode(text.data(), text.size(), out, false, false));
        EXPECT_EQ("foobar", ContentOf(out));
    }
    Buffer out;
    EXPECT_TRUE(Base64Coder::Decode(" \r\n", 3, out, false, false));
    EXPECT_EQ(0u, out.GetDataSize());
}

TEST(Base64Decode, InvalidTextIsRefusedWithAnEmptyResult)
{
    struct Case {
        std::string text;
        bool urlSafe;
    };
    const Case cases[] = {
        {"Zg=", false},        // not a multiple of 4
        {"Zm9vY", false},
        {"Zh==", false},       // bits beyond the one byte
        {"Zm9=", false},       // bits beyond the two bytes
        {"Z===", false},
        {"=Zg=", false},
        {"Zg==Zg==", false},   // padding before the last group
        {"Zm-v", false},       // URL-safe character in the standard alphabet
        {"Zm9v!A==", false},
        {"Zm\xC3\xA9", false},
        {"Zm9vY", true},       // 4n + 1
        {"Zg==", true},        // no padding in the URL-safe alphabet
        {"Zm9 v", true},       // nor whitespace
        {"Zm+v", true},        // standard character
        {"Zh", true},          // bits beyond the one byte
        {"Zm9", true},         // bits beyond the two bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << (c.urlSafe ? " (URL)" : ""));
        Buffer out;
        out.AddData("stale", 5);
        EXPECT_FALSE(Base64Coder::Decode(c.text.data(), c.text.size(), out, c.urlSafe, false));
        EXPECT_EQ(0u, out.GetDataSize());
    }
}

TEST(Base64Decode, URLSafeRemaindersAndPartialResults)
{
    Buffer out;
    ASSERT_TRUE(Base64Coder::Decode("Zm9vYg", 6, out, true, false));
    EXPECT_EQ("foob", ContentOf(out));
    ASSERT_TRUE(Base64Coder::Decode("Zm9vYmE", 7, out, true, false));
    EXPECT_EQ("fooba", ContentOf(out));
    ASSERT_TRUE(Base64Coder::Decode("-_8", 3, out, true, false));
    EXPECT_EQ("\xFB\xFF", ContentOf(out));

    // keepPartial keeps the groups decoded before the fault.
    const std::string broken = "Zm9vYmFy!!!!";
    EXPECT_FALSE(Base64Coder::Decode(broken.data(), broken.size(), out, false, true));
    EXPECT_EQ("foobar", ContentOf(out));
    EXPECT_FALSE(Base64Coder::Decode(broken.data(), broken.size(), out, true, true));
    EXPECT_EQ("foobar", ContentOf(out));
    EXPECT_FALSE(Base64Coder::Decode(broken.data(), broken.size(), out, false, false));
    EXPECT_EQ(0u, out.GetDataSize());
    EXPECT_FALSE(Base64Coder::Decode(nullptr, 4, out, false, false));
}

TEST(Base64Checksum, HexadecimalAndBase64Texts)
{
    struct Case {
        std::vector<uint8_t> bytes;
        const char* hexa;
        const char* base64;
    };
    const Case cases[] = {
        {{}, "", ""},
        {{0x00, 0xAB}, "00ab", "AKs="},
        {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFF}, "0123456789abcdefff", "ASNFZ4mrze//"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hexa);
        VString text("previous");
        Base64Coder::DO_EncodeChecksumHexa(c.bytes.data(), c.bytes.size(), text);
        EXPECT_EQ(c.hexa, to_string(text));
        text = "previous";
        Base64Coder::DO_EncodeChecksumBase64(c.bytes.data(), c.bytes.size(), text);
        EXPECT_EQ(c.base64, to_string(text));
    }
}

}  // namespace
}  // namespace bkit
