// VUUIDTest.cpp - the UUID value: generation, text forms, null rules, order,
// the cached text, raw-memory, stream and JSON forms.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VUUID.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const VUUID& uuid)
{
    VUUIDBuffer buffer;
    uuid.ToBuffer(buffer);
    return Bytes(buffer.fBytes, buffer.fBytes + 16);
}

VUUIDBuffer BufferOf(const Bytes& bytes)
{
    VUUIDBuffer buffer;
    std::copy(bytes.begin(), bytes.end(), buffer.fBytes);
    return buffer;
}

std::string TextOf(const VUUID& uuid)
{
    VString text;
    uuid.GetString(text);
    return to_string(text);
}

// Sixteen bytes: the given ones, then fill.
Bytes Padded(const std::string& start, uint8_t fill)
{
    Bytes bytes(start.begin(), start.end());
    bytes.resize(16, fill);
    return bytes;
}

const Bytes kSample = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0F, 0xED, 0xCB, 0xA9, 0x87, 0x65, 0x43, 0x21};
const char* const kSampleText = "123456789ABCDEF00FEDCBA987654321";

TEST(VUUIDGenerate, NewUUIDsAreDistinctUpperCaseAndNotNull)
{
    VUUID a(true), b(true);
    EXPECT_FALSE(a.IsNull());
    EXPECT_NE(a, b);
    VString text;
    a.GetString(text);
    EXPECT_TRUE(VUUID::IsUUIDString(text)) << to_string(text);

    VUUID regenerated;
    regenerated.Regenerate();
    EXPECT_FALSE(regenerated.IsNull());
    EXPECT_NE(a, regenerated);
    EXPECT_TRUE(VUUID(false).IsNull());
}

TEST(VUUIDText, FromStringTakesThirtyTwoDigitsOrFallsBackToTheTextBytes)
{
    struct Case {
        const char* name;
        const char* text;
        Bytes expected;
    };
    const Case cases[] = {
        {"plain", kSampleText, kSample},
        {"braced, dashed, lower case", "{12345678-9abc-def0-0fed-cba987654321}", kSample},
        {"digits beyond 32 are ignored", "123456789ABCDEF00FEDCBA987654321FFFF", kSample},
        {"32 zeros", "00000000000000000000000000000000", Bytes(16, 0)},
        {"three letters", "abc", Padded("abc", 0x20)},
        {"empty", "", Bytes(16, 0x20)},
        {"31 digits", "123456789ABCDEF00FEDCBA98765432", Padded("123456789ABCDEF0", 0x20)},
        {"long text without digits is cut", "xyz xyz xyz xyz xyz", Padded("xyz xyz xyz xyz ", 0x20)},
        {"UTF-8 bytes of the text", "\xC3\xA9t\xC3\xA9", Padded("\xC3\xA9t\xC3\xA9", 0x20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VUUID uuid(true);
        uuid.FromString(VString(c.text));
        EXPECT_EQ(c.expected, BytesOf(uuid));
        EXPECT_FALSE(uuid.IsNull());
        EXPECT_EQ(c.expected, BytesOf(VUUID(VString(c.text))));
    }

    VUUID uuid(VString("{12345678-9abc-def0-0fed-cba987654321}"));
    EXPECT_EQ(kSampleText, TextOf(uuid));

    VUUID ansi;
    ansi.BuildFromAnsiString(VString(kSampleText));
    EXPECT_EQ(Padded("123456789ABCDEF0", 0x20), BytesOf(ansi));
    EXPECT_FALSE(ansi.IsNull());
}

TEST(VUUIDText, IsUUIDStringAcceptsOnlyThirtyTwoUpperCaseDigits)
{
    struct Case {
        const char* text;
        bool acceptNull;
        bool expected;
    };
    const Case cases[] = {
        {kSampleText, false, true},
        {"123456789abcdef00fedcba987654321", false, false},
        {"123456789ABCDEF00FEDCBA98765432", false, false},
        {"123456789ABCDEF00FEDCBA9876543210", false, false},
        {"123456789ABCDEF0-FEDCBA987654321", false, false},
        {"00000000000000000000000000000000", false, false},
        {"00000000000000000000000000000000", true, true},
        {"", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.expected, VUUID::IsUUIDString(VString(c.text), c.acceptNull));
    }
}

TEST(VUUIDText, FromBufferReadsByTheLengthOfTheText)
{
    struct Case {
        const char* name;
        const char* text;
        Bytes expected;
        bool null;
    };
    const Case cases[] = {
        {"32 digits, lower case", "123456789abcdef00fedcba987654321", kSample, false},
        {"32 characters, non-digits count as 0", "1x3456789ABCDEF00FEDCBA98765432z", Bytes{0x10, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0F, 0xED, 0xCB, 0xA9, 0x87, 0x65, 0x43, 0x20}, false},
        {"raw bytes padded with zeros", "abc", Padded("abc", 0), false},
        {"empty", "", Bytes(16, 0), true},
        {"other length leaves the bytes", "0123456789ABCDEF0", kSample, false},
        {"null text leaves the bytes", nullptr, kSample, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VUUID uuid(BufferOf(kSample));
        uuid.FromBuffer(c.text);
        EXPECT_EQ(c.expected, BytesOf(uuid));
        EXPECT_EQ(c.null, uuid.IsNull());
    }
}

TEST(VUUIDNull, ZeroBytesMakeNullExceptFromTextOrStream)
{
    EXPECT_TRUE(VUUID().IsNull());
    EXPECT_TRUE(VUUID(VUUIDBuffer()).IsNull());
    EXPECT_FALSE(VUUID(BufferOf(kSample)).IsNull());
    EXPECT_TRUE(VUUID::sNullUUID.IsNull());

    VUUID zeros(VString("00000000000000000000000000000000"));
    EXPECT_FALSE(zeros.IsNull());
    EXPECT_EQ(Bytes(16, 0), BytesOf(zeros));
    // A clone looks at the bytes only.
    std::unique_ptr<VValue> clone(zeros.Clone());
    EXPECT_TRUE(clone->IsNull());
    // A copy keeps the flag.
    EXPECT_FALSE(VUUID(zeros).IsNull());

    Bytes stored(16, 0);
    VConstPtrStream stream(stored.data(), stored.size());
    ASSERT_EQ(VE_OK, stream.OpenReading());
    VUUID read;
    EXPECT_EQ(VE_OK, read.ReadFromStream(&stream));
    EXPECT_FALSE(read.IsNull());

    VUUID sample(BufferOf(kSample));
    sample.SetNull(true);
    EXPECT_EQ(Bytes(16, 0), BytesOf(sample));
    sample.FromBuffer(BufferOf(kSample));
    sample.Clear();
    EXPECT_TRUE(sample.IsNull());
    EXPECT_EQ(Bytes(16, 0), BytesOf(sample));
}

TEST(VUUIDCompare, BytesDecideAsUnsignedFromTheFirst)
{
    Bytes low(16, 0xFF);
    low[0] = 0x7F;
    Bytes high(16, 0x00);
    high[0] = 0x80;
    VUUID a(BufferOf(low)), b(BufferOf(high));
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_EQ(CR_SMALLER, a.CompareToSameKind(&b));
    EXPECT_EQ(CR_BIGGER, b.CompareTo(a));
    EXPECT_EQ(CR_BIGGER, b.CompareToSameKindPtr(low.data()));
    EXPECT_EQ(CR_SMALLER, VUUID::sInfo.CompareTwoPtrToData(low.data(), high.data(), false));
    EXPECT_EQ(CR_EQUAL, a.CompareToSameKindWithOptions(&a, VCompareOptions()));

    // Equality ignores the null flag: a null UUID equals a zero one read from text.
    VUUID zeros(VString("00000000000000000000000000000000"));
    EXPECT_EQ(VUUID(), zeros);
    EXPECT_TRUE(zeros.EqualToSameKind(&VUUID::sNullUUID));
    EXPECT_TRUE(a.EqualToSameKindPtr(low.data()));

    VLong number(1);
    EXPECT_EQ(CR_UNRELEVANT, a.CompareTo(number));
    EXPECT_FALSE(a.EqualToSameKind(&number));
}

TEST(VUUIDCopy, ValuesPassThroughFromVUUIDAndKeepTheNullFlag)
{
    VUUID source(BufferOf(kSample));
    VUUID target;
    source.GetValue(target);
    EXPECT_EQ(source, target);
    EXPECT_FALSE(target.IsNull());

    VUUID fromValue(true);
    fromValue.FromValue(VUUID());
    EXPECT_TRUE(fromValue.IsNull());
    EXPECT_TRUE(fromValue.FromValueSameKind(&source));
    EXPECT_EQ(source, fromValue);
    VLong number(1);
    EXPECT_FALSE(fromValue.FromValueSameKind(&number));
    // Another kind with no UUID to give clears the UUID.
    fromValue.FromValue(number);
    EXPECT_TRUE(fromValue.IsNull());
}

TEST(VUUIDCache, CachedTextFollowsEveryChange)
{
    VUUID uuid;
    EXPECT_EQ(nullptr, uuid.GetCachedConvertedString(false));
    const VString* cached = uuid.GetCachedConvertedString(true);
    ASSERT_NE(nullptr, cached);
    EXPECT_TRUE(cached->IsNull());

    uuid.FromBuffer(BufferOf(kSample));
    EXPECT_EQ(cached, uuid.GetCachedConvertedString(false));
    EXPECT_EQ(kSampleText, to_string(*cached));
    EXPECT_FALSE(cached->IsNull());

    uuid.FromString(VString("abc"));
    EXPECT_EQ("61626320202020202020202020202020", to_string(*cached));
    uuid.SetNull(true);
    EXPECT_TRUE(cached->IsNull());
}

TEST(VUUIDForms, RawMemoryAndStreamKeepTheStoredOrder)
{
    VUUID uuid(BufferOf(kSample));
    ASSERT_EQ(16u, uuid.GetSpace());
    uint8_t raw[16];
    EXPECT_EQ(raw + 16, uuid.WriteToPtr(raw, true));
    EXPECT_EQ(kSample, Bytes(raw, raw + 16));

    const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_UUID);
    ASSERT_EQ(&VUUID::sInfo, info);
    EXPECT_EQ(raw + 16, info->ByteSwapPtr(raw, true));
    EXPECT_EQ(kSample, Bytes(raw, raw + 16));
    std::unique_ptr<VValue> loaded(info->LoadFromPtr(raw, true));
    EXPECT_TRUE(uuid.EqualToSameKind(loaded.get()));
    uint8_t zeros[16] = {};
    std::unique_ptr<VValue> loadedNull(info->LoadFromPtr(zeros, false));
    EXPECT_TRUE(loadedNull->IsNull());
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_UUID));
    EXPECT_TRUE(generated->IsNull());
    EXPECT_EQ(VK_UUID, generated->GetValueKind());

    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(VE_OK, stream.OpenWriting());
        ASSERT_EQ(VE_OK, uuid.WriteToStream(&stream));
        stream.CloseWriting();
        VStreamUnderlyingData data = stream.GetUnderlyingData();
        const auto* bytes = static_cast<const uint8_t*>(data.fData);
        EXPECT_EQ(kSample, Bytes(bytes, bytes + data.fSize));
        ASSERT_EQ(VE_OK, stream.OpenReading());
        VUUID read;
        EXPECT_EQ(VE_OK, read.ReadFromStream(&stream));
        EXPECT_EQ(uuid, read);
        // A short read reports the end and leaves the UUID alone.
        EXPECT_EQ(VE_STREAM_EOF, read.ReadFromStream(&stream));
        EXPECT_EQ(uuid, read);
    }
}

TEST(VUUIDForms, JSONCarriesTheTextOrNull)
{
    VUUID uuid(BufferOf(kSample));
    VJSONValue json;
    EXPECT_EQ(VE_OK, uuid.GetJSONValue(json));
    ASSERT_TRUE(json.IsString());
    VString text;
    json.GetString(text);
    EXPECT_EQ(kSampleText, to_string(text));

    EXPECT_EQ(VE_OK, VUUID().GetJSONValue(json));
    EXPECT_TRUE(json.IsNull());

    VUUID read;
    EXPECT_EQ(VE_OK, read.FromJSONValue(VJSONValue(VString("12345678-9abc-def0-0fed-cba987654321"))));
    EXPECT_EQ(uuid, read);
    EXPECT_EQ(VE_OK, read.FromJSONValue(VJSONValue::sNull));
    EXPECT_TRUE(read.IsNull());
    // Any other JSON value is read as its text.
    EXPECT_EQ(VE_OK, read.FromJSONValue(VJSONValue(12.0)));
    EXPECT_EQ(Padded("12", 0x20), BytesOf(read));
}

}  // namespace
}  // namespace bkit
