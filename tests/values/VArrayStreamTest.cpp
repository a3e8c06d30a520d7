// VArrayStreamTest.cpp - the stream form of every array kind, and damaged input.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "basekit/values/VArrayBlob.h"
#include "basekit/values/VArrayBoolean.h"
#include "basekit/values/VArrayImage.h"
#include "basekit/values/VArrayNumeric.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VBlob.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes StreamContent(const VPtrStream& stream)
{
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    const auto* p = static_cast<const uint8_t*>(data.fData);
    return p ? Bytes(p, p + data.fSize) : Bytes();
}

Bytes Written(const VArrayValue& array, bool swap, int32_t tag)
{
    VPtrStream stream;
    stream.SetNeedSwap(swap);
    EXPECT_EQ(VE_OK, stream.OpenWriting());
    EXPECT_EQ(VE_OK, array.WriteToStream(&stream, tag));
    stream.CloseWriting();
    return StreamContent(stream);
}

// A 32-bit number as the stream holds it.
Bytes Long(uint32_t v, bool swap)
{
    Bytes le = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                static_cast<uint8_t>(v >> 24)};
    return swap ? Bytes(le.rbegin(), le.rend()) : le;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct KindCase {
    const char* name;
    std::function<VArrayValue*()> make;
    size_t size;  // bytes of the form without the kind header
};

const KindCase kKinds[] = {
    {"boolean",
     [] {
         auto* a = new VArrayBoolean();
         for (int v : {1, 0, 1, 1, 0, 0, 0, 1})
             a->AppendBoolean(static_cast<uint8_t>(v));
         return a;
     },
     4 + 2},
    {"empty boolean", [] { return new VArrayBoolean(); }, 4},
    {"byte",
     [] {
         auto* a = new VArrayByte();
         a->AppendByte(-2);
         a->AppendByte(100);
         return a;
     },
     4 + 2},
    {"word",
     [] {
         auto* a = new VArrayWord();
         a->AppendWord(-300);
         a->AppendWord(7);
         return a;
     },
     4 + 4},
    {"long",
     [] {
         auto* a = new VArrayLong();
         a->AppendLong(1);
         a->AppendLong(-2);
         return a;
     },
     4 + 8},
    {"long8",
     [] {
         auto* a = new VArrayLong8();
         a->AppendLong8(int64_t{1} << 40);
         return a;
     },
     4 + 8},
    {"real",
     [] {
         auto* a = new VArrayReal();
         a->AppendReal(-0.5);
         a->AppendReal(1e300);
         return a;
     },
     4 + 16},
    {"time",
     [] {
         auto* a = new VArrayTime();
         a->AppendTime(VTime(uint64_t{0x07E4060F00000010}));
         return a;
     },
     4 + 8},
    {"duration",
     [] {
         auto* a = new VArrayDuration();
         a->AppendDuration(VDuration(-1234));
         a->AppendDuration(VDuration(86400000));
         return a;
     },
     4 + 16},
    {"string with a null",
     [] {
         auto* a = new VArrayString(3);
         a->FromString(VString("ab"), 1);
         a->FromString(VString(""), 3);
         return a;
     },
     // count, then marker + form of "ab" (length and two units), 'NULL',
     // marker + form of "" (its length).
     4 + (4 + 8) + 4 + (4 + 4)},
    {"blob with an empty slot",
     [] {
         auto* a = new VArrayBlob(2);
         a->FromValue(VBlobWithPtr("xyz", 3), 1);
         return a;
     },
     4 + (4 + 3) + 4},
    {"empty image", [] { return new VArrayImage(); }, 4},
};

TEST(VArrayStream, EveryKindRoundTripsInBothByteOrders)
{
    for (const KindCase& c : kKinds) {
        for (bool swap : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (swap ? " swapped" : " host order"));
            std::unique_ptr<VArrayValue> array(c.make());
            const bool image = array->GetValueKind() == VK_ARRAY_IMAGE;

            Bytes plain = Written(*array, swap, 0);
            EXPECT_EQ(c.size, plain.size());
            EXPECT_EQ(Long(static_cast<uint32_t>(array->GetCount()), swap), Bytes(plain.begin(), plain.begin() + 4));

            // With the tag, the kind comes first (never for images).
            Bytes tagged = Written(*array, swap, kArrayStreamTag_VVAL);
            Bytes expected = image ? plain : Concat({Long(array->GetValueKind(), swap), plain});
            EXPECT_EQ(expected, tagged);

            // Read back through the registry, into an array that held something.
            VConstPtrStream in(tagged.data(), tagged.size());
            in.SetNeedSwap(swap);
            ASSERT_EQ(VE_OK, in.OpenReading());
            ValueKind kind = array->GetValueKind();
            if (!image) {
                uint32_t k = 0;
                ASSERT_EQ(VE_OK, in.GetLong(k));
                kind = static_cast<ValueKind>(k);
            }
            std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
            auto* copy = dynamic_cast<VArrayValue*>(value.get());
            ASSERT_NE(nullptr, copy);
            if (!image)
                copy->SetCount(5);
            EXPECT_EQ(VE_OK, copy->ReadFromStream(&in));
            EXPECT_EQ(tagged.size(), static_cast<size_t>(in.GetPos()));
            EXPECT_EQ(array->GetCount(), copy->GetCount());
            EXPECT_EQ(plain, Written(*copy, swap, 0));
        }
    }
}

TEST(VArrayStream, ElementBytesAndMarkers)
{
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VArrayLong longs;
        longs.AppendLong(1);
        longs.AppendLong(-2);
        EXPECT_EQ(Concat({Long(2, swap), Long(1, swap), Long(0xFFFFFFFE, swap)}), Written(longs, swap, 0));

        VArrayString strings(1);
        EXPECT_EQ(Concat({Long(1, swap), Long(0x4E554C4C, swap)}), Written(strings, swap, 0));
        strings.FromString(VString("q"), 1);
        Bytes form = Written(strings, swap, 0);
        EXPECT_EQ(Long(2, swap), Bytes(form.begin() + 4, form.begin() + 8));
    }
    VArrayBoolean bits;
    for (int v : {1, 0, 0, 0, 0, 0, 0, 1, 1})
        bits.AppendBoolean(static_cast<uint8_t>(v));
    EXPECT_EQ(Concat({Long(9, false), Bytes{0x81, 0x01}}), Written(bits, false, 0));

    // The slot without a blob is read back as an empty blob, and the blob
    // after it is still found.
    VArrayBlob blobs(3);
    blobs.FromValue(VBlobWithPtr("pq", 2), 3);
    Bytes written = Written(blobs, false, 0);
    VConstPtrStream in(written.data(), written.size());
    ASSERT_EQ(VE_OK, in.OpenReading());
    VArrayBlob back;
    EXPECT_EQ(VE_OK, back.ReadFromStream(&in));
    ASSERT_EQ(3, back.GetCount());
    EXPECT_EQ(0u, back.GetBlobPtr(1)->GetSize());
    EXPECT_EQ(2u, back.GetBlobPtr(3)->GetSize());
}

TEST(VArrayStream, DamagedInputLeavesAnEmptyArrayAndReportsTheError)
{
    struct Case {
        const char* name;
        std::function<VArrayValue*()> make;
        Bytes bytes;
        VError expected;
        int32_t count;
    };
    const Case cases[] = {
        {"negative count", [] { return new VArrayLong(3); }, Long(0xFFFFFFFF, false), VE_STREAM_BAD_SIGNATURE, 0},
        {"negative string count", [] { return new VArrayString(2); }, Long(0x80000000, false),
         VE_STREAM_BAD_SIGNATURE, 0},
        {"count too big to hold", [] { return new VArrayLong(3); }, Long(0x7FFFFFFF, false), VE_MEMORY_FULL, 0},
        {"no count", [] { return new VArrayReal(2); }, Bytes{1, 0}, VE_STREAM_EOF, 0},
        {"missing elements", [] { return new VArrayLong(); }, Concat({Long(3, false), Long(7, false)}),
         VE_STREAM_EOF, 3},
        {"image elements without an image kind", [] { return new VArrayImage(2); },
         Concat({Long(1, false), Bytes(8, 0)}), VE_UNIMPLEMENTED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VArrayValue> array(c.make());
        VConstPtrStream in(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(VE_OK, in.OpenReading());
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(c.expected, array->ReadFromStream(&in));
        EXPECT_EQ(c.expected, errors.GetLastError());
        EXPECT_EQ(c.count, array->GetCount());
    }

    // Any marker other than 2 is a null element, and replaces the string there.
    VArrayString strings(1);
    strings.FromString(VString("old"), 1);
    Bytes bytes = Concat({Long(1, false), Long(7, false)});
    VConstPtrStream in(bytes.data(), bytes.size());
    ASSERT_EQ(VE_OK, in.OpenReading());
    EXPECT_EQ(VE_OK, strings.ReadFromStream(&in));
    ASSERT_EQ(1, strings.GetCount());
    EXPECT_EQ(nullptr, strings.GetStringPtr(1));
}

}  // namespace
}  // namespace bkit
