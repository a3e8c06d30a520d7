// VValueBagStreamTest.cpp - the binary bag form byte for byte, its read-back and refused input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

using Bag = VRefPtr<VValueBag>;
using Bytes = std::vector<uint8_t>;

Bag NewBag() { return Bag::Adopt(new VValueBag()); }

Bytes Write(const VValueBag& bag, bool swap)
{
    VPtrStream stream;
    stream.OpenWriting();
    stream.SetNeedSwap(swap);
    EXPECT_EQ(bag.WriteToStream(&stream), VE_OK);
    stream.CloseWriting();
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    const auto* p = static_cast<const uint8_t*>(data.fData);
    return Bytes(p, p + data.fSize);
}

VError Read(VValueBag& bag, const Bytes& bytes, bool swap)
{
    VConstPtrStream stream(bytes.data(), bytes.size());
    stream.OpenReading();
    stream.SetNeedSwap(swap);
    VError err = bag.ReadFromStream(&stream);
    stream.CloseReading();
    return err;
}

// Little-endian builders for expected streams (big-endian when swapped).
struct Out {
    bool big = false;
    Bytes b;
    Out& u8(uint8_t v) { b.push_back(v); return *this; }
    Out& u16(uint16_t v) { return big ? u8(v >> 8).u8(v & 0xFF) : u8(v & 0xFF).u8(v >> 8); }
    Out& u32(uint32_t v) { return big ? u16(v >> 16).u16(v & 0xFFFF) : u16(v & 0xFFFF).u16(v >> 16); }
    Out& text(const char* s) { b.insert(b.end(), s, s + std::strlen(s)); return *this; }
};

std::string Text(const VValueBag& bag, const char* key)
{
    VString s;
    bag.GetString(StPackedDictionaryKey(key), s);
    return to_string(s);
}

TEST(VValueBagStream, EmptyBagIsNineBytes)
{
    Bag bag = NewBag();
    Bytes bytes = Write(*bag, false);
    EXPECT_EQ(bytes, (Out{}.u32(0x56424147).u16(1).u16(0).u8(0).b));
    Bag read = NewBag();
    read->SetLong("stale", 1);
    EXPECT_EQ(Read(*read, bytes, false), VE_OK);
    EXPECT_TRUE(read->IsEmpty());
}

TEST(VValueBagStream, LayoutByteForByteInBothOrders)
{
    Bag bag = NewBag();
    bag->SetLong("n", 0x01020304);
    bag->SetString("s", VString("A"));
    Bag child = NewBag();
    bag->AddElement("c", child.Get());
    for (bool swap : {false, true}) {
        Out o;
        o.big = swap;
        o.u32(0x56424147).u16(1).u16(0).u8(3);
        // attribute names: 2 names, 4 bytes, no index
        o.u32(2).u32(4).u8(1).text("n").u8(1).text("s").u8(0);
        // store: long (kind + 4 bytes) = 3 units; string (kind + 4 + 2) = 4 units
        o.u32(7).u16(4).u32(0x01020304).u16(10).u32(1).u16('A');
        // element names, then the list of one empty bag
        o.u32(1).u32(2).u8(1).text("c").u8(0).u32(1).u8(0);
        EXPECT_EQ(Write(*bag, swap), o.b) << "swap " << swap;

        Bag read = NewBag();
        ASSERT_EQ(Read(*read, o.b, swap), VE_OK);
        VLong n;
        ASSERT_TRUE(read->GetAttribute("n", n));
        EXPECT_EQ(n.GetLong(), 0x01020304);
        EXPECT_EQ(Text(*read, "s"), "A");
        ASSERT_NE(read->GetElements("c"), nullptr);
        EXPECT_EQ(read->GetElements("c")->GetCount(), 1);
    }
    // Writing in the other order leaves the writer's own store as it was.
    VLong n;
    ASSERT_TRUE(bag->GetAttribute("n", n));
    EXPECT_EQ(n.GetLong(), 0x01020304);
    EXPECT_EQ(Text(*bag, "s"), "A");
}

TEST(VValueBagStream, IndexFlagFromSixNamesAndAlwaysForChildren)
{
    Bag five = NewBag();
    for (int i = 0; i < 5; ++i)
        five->SetLong(StPackedDictionaryKey(std::to_string(i).c_str()), i);
    Bytes b5 = Write(*five, false);
    // header 8, flags 1, count 4, length 4, names 10 → index flag at 27
    EXPECT_EQ(b5[27], 0);

    Bag six = NewBag();
    for (int i = 0; i < 6; ++i)
        six->SetLong(StPackedDictionaryKey(std::to_string(i).c_str()), i);
    Bytes b6 = Write(*six, false);
    EXPECT_EQ(b6[29], 1);
    uint32_t buckets = 0;
    std::memcpy(&buckets, &b6[30], 4);
    EXPECT_EQ(buckets, 11u);
    Bag read = NewBag();
    ASSERT_EQ(Read(*read, b6, false), VE_OK);
    for (int i = 0; i < 6; ++i) {
        VLong v;
        ASSERT_TRUE(read->GetAttribute(StPackedDictionaryKey(std::to_string(i).c_str()), v));
        EXPECT_EQ(v.GetLong(), i);
    }

    // The top call may leave its index out; child bags always carry theirs.
    Bag parent = NewBag();
    for (int i = 0; i < 6; ++i)
        parent->SetLong(StPackedDictionaryKey(std::to_string(i).c_str()), i);
    parent->AddElement("kid", six.Get());
    VPtrStream without;
    without.OpenWriting();
    parent->WriteToStreamMinimal(&without, false);
    without.CloseWriting();
    VPtrStream with;
    with.OpenWriting();
    parent->WriteToStreamMinimal(&with, true);
    with.CloseWriting();
    // The difference is the parent's own index only: 4 + 11 * 4 bytes.
    EXPECT_EQ(with.GetSize() - without.GetSize(), 48);
    Bytes childBytes = Write(*six, false);
    const auto* data = static_cast<const uint8_t*>(without.GetUnderlyingData().fData);
    Bytes tail(data + without.GetSize() - (childBytes.size() - 8), data + without.GetSize());
    EXPECT_EQ(tail, Bytes(childBytes.begin() + 8, childBytes.end()));
}

TEST(VValueBagStream, DirtyBagIsPackedBeforeWriting)
{
    Bag bag = NewBag();
    bag->SetString("s", VString("ab"));
    bag->SetString("s", VString("a much longer text"));
    Bag read = NewBag();
    ASSERT_EQ(Read(*read, Write(*bag, false), false), VE_OK);
    EXPECT_EQ(Text(*read, "s"), "a much longer text");
}

TEST(VValueBagStream, DeepTreeOfManyKindsRoundTrips)
{
    Bag root = NewBag();
    root->SetReal("r", -2.25);
    root->SetBool("b", false);
    root->SetVUUID("u", VUUID(true));
    root->SetLong8("l8", -5);
    VValueBag* at = root.Get();
    for (int depth = 0; depth < 20; ++depth) {
        Bag child = NewBag();
        child->SetLong("d", depth);
        for (int k = 0; k < depth % 4; ++k)
            at->AddElement("sib", NewBag().Get());
        at->AddElement("next", child.Get());
        at = child.Get();
    }
    for (bool swap : {false, true}) {
        Bytes bytes = Write(*root, swap);
        Bag read = NewBag();
        ASSERT_EQ(Read(*read, bytes, swap), VE_OK);
        EXPECT_EQ(Write(*read, swap), bytes);
        VString a, b;
        root->DebugDump(a);
        read->DebugDump(b);
        EXPECT_EQ(to_string(a), to_string(b));
    }
}

TEST(VValueBagStream, WrongHeaderAndVersion)
{
    Bag bag = NewBag();
    bag->SetLong("x", 1);
    Bytes bytes = Write(*bag, false);
    Bag read = NewBag();
    // Written in the other byte order and read without swapping: bad signature.
    EXPECT_EQ(Read(*read, Write(*bag, true), false), VE_STREAM_BAD_SIGNATURE);
    EXPECT_TRUE(read->IsEmpty());
    Bytes v2 = bytes;
    v2[4] = 2;
    EXPECT_EQ(Read(*read, v2, false), VE_STREAM_BAD_VERSION);
    EXPECT_TRUE(read->IsEmpty());
}

// Every truncation of a valid stream is an error and leaves the bag empty.
TEST(VValueBagStream, TruncatedInputIsRefused)
{
    Bag bag = NewBag();
    for (int i = 0; i < 7; ++i)
        bag->SetString(StPackedDictionaryKey(("k" + std::to_string(i)).c_str()), VString("value"));
    Bag kid = NewBag();
    kid->SetLong("n", 1);
    bag->AddElement("kid", kid.Get());
    Bytes bytes = Write(*bag, false);
    for (size_t n = 0; n < bytes.size(); ++n) {
        Bag read = NewBag();
        EXPECT_NE(Read(*read, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)), false), VE_OK) << n;
        EXPECT_TRUE(read->IsEmpty()) << n;
    }
}

TEST(VValueBagStream, MalformedBlocksAreRefused)
{
    auto header = [] { return Out{}.u32(0x56424147).u16(1).u16(0); };
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"more names than name bytes", header().u8(1).u32(3).u32(2).u8(1).text("a").u8(0).u32(0).b},
        {"name bytes left over", header().u8(1).u32(1).u32(3).u8(1).text("ab").u8(0).u32(2).u16(1).u8(1).u8(0).b},
        {"name length past its block", header().u8(1).u32(1).u32(2).u8(9).text("a").u8(0).u32(2).u16(1).u8(1).u8(0).b},
        {"huge name block", header().u8(1).u32(1).u32(0x7FFFFFFF).u8(1).text("a").b},
        {"string longer than the store",
         header().u8(1).u32(1).u32(2).u8(1).text("s").u8(0).u32(3).u16(10).u32(1000).b},
        {"store shorter than its entries", header().u8(1).u32(1).u32(2).u8(1).text("l").u8(0).u32(2).u16(4).u16(0).b},
        {"store longer than its entries",
         header().u8(1).u32(1).u32(2).u8(1).text("l").u8(0).u32(4).u16(4).u32(7).u16(0).b},
        {"list kind as attribute value",
         header().u8(1).u32(1).u32(2).u8(1).text("a").u8(0).u32(1).u16(VK_ARRAY_LONG).b},
        {"bag kind as attribute value", header().u8(1).u32(1).u32(2).u8(1).text("a").u8(0).u32(1).u16(VK_BAG).b},
        {"bucket index beyond the names",
         header().u8(1).u32(1).u32(2).u8(1).text("a").u8(1).u32(1).u32(5).u32(2).u16(1).u8(1).u8(0).b},
        {"zero buckets", header().u8(1).u32(1).u32(2).u8(1).text("a").u8(1).u32(0).u32(2).u16(1).u8(1).u8(0).b},
        {"index hiding a name",
         header().u8(1).u32(1).u32(2).u8(1).text("a").u8(1).u32(1).u32(0xFFFFFFFF).u32(2).u16(1).u8(1).u8(0).b},
        {"repeated name",
         header().u8(1).u32(2).u32(4).u8(1).text("a").u8(1).text("a").u8(0).u32(4).u16(1).u8(1).u16(1).u8(1).b},
        {"unknown index flag", header().u8(1).u32(1).u32(2).u8(1).text("a").u8(7).u32(2).u16(1).u8(1).u8(0).b},
        {"more bags than data", header().u8(2).u32(1).u32(2).u8(1).text("c").u8(0).u32(0x7FFFFFFF).u8(0).b},
    };
    for (const Case& c : cases) {
        Bag read = NewBag();
        EXPECT_NE(Read(*read, c.bytes, false), VE_OK) << c.what;
        EXPECT_TRUE(read->IsEmpty()) << c.what;
    }
    // A negative bag count reads nothing and is no error.
    Bag read = NewBag();
    EXPECT_EQ(Read(*read, header().u8(2).u32(1).u32(2).u8(1).text("c").u8(0).u32(0xFFFFFFFF).b, false), VE_OK);
    EXPECT_EQ(read->GetElements("c")->GetCount(), 0);
}

TEST(VValueBagStream, NestingIsBounded)
{
    // Each level: flags 2, one element name "c", a list of one bag.
    Out o;
    o.u32(0x56424147).u16(1).u16(0);
    const int levels = VValueBag::kMaxStreamDepth + 10;
    for (int i = 0; i < levels; ++i)
        o.u8(2).u32(1).u32(2).u8(1).text("c").u8(0).u32(1);
    o.u8(0);
    Bag read = NewBag();
    EXPECT_EQ(Read(*read, o.b, false), VE_STREAM_BAD_SIGNATURE);
    EXPECT_TRUE(read->IsEmpty());
}

}  // namespace
}  // namespace bkit
