// VStringStorageTest.cpp - how strings hold, share, grow and serialise their text.
#include <gtest/gtest.h>

#include <utility>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VString.h"

using namespace bkit;

namespace {

// The share count of a heap block, at its documented place behind the text.
uint32_t ShareCount(const VString& s)
{
    const UniChar* block = s.GetCPointer();
    return *reinterpret_cast<const uint32_t*>(block + ((s.GetCapacity() | 1) + 1));
}

std::u16string Text(const VString& s)
{
    return std::u16string(s.GetCPointer(), static_cast<size_t>(s.GetLength()));
}

VString Repeat(char c, int n)
{
    return VString(std::string(static_cast<size_t>(n), c).c_str());
}

}  // namespace

TEST(VStringStorage, BlockSizesFollowTheGrowthRule)
{
    struct Case {
        VIndex oldLength;
        VIndex n;
        uint32_t blockUnits;
    } cases[] = {
        {0, 0, 8},
        {0, 5, 8},
        {5, 6, 16},        // slack 1 is under 3: extra 2
        {0, 100, 104},     // an empty string gets only 2 extra
        {100, 101, 128},   // (101 + 20 + 8) rounded down to 8
        {101, 101, 104},   // same length: no slack
        {0, 0x7FFFFFF0, 0x7FFFFFF8},
        {5, 0x7FFFFFF0, 0x7FFFFFF4},  // slack would pass the limit: n + 3, +1 so the count fits
        {5, 0x7FFFFFF1, 0x7FFFFFF4},
        {0, 0x7FFFFFFF, 0},           // too large
        {0, -1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VString::ComputeProgressiveResize(c.oldLength, c.n), c.blockUnits) << c.oldLength << " -> " << c.n;
}

TEST(VStringStorage, CapacityGrowsAsBlocksAreChosen)
{
    VString s = Repeat('a', 5);
    EXPECT_EQ(s.GetCapacity(), 5);  // block of 8 units
    s.AppendUniChar(u'b');
    EXPECT_EQ(s.GetCapacity(), 13);  // block of 16

    VString hundred;
    hundred.FromString(Repeat('x', 100));
    VString own;
    own.AppendUniChars(hundred.GetCPointer(), 100);
    EXPECT_EQ(own.GetCapacity(), 101);  // block of 104
    own.AppendUniChar(u'y');
    EXPECT_EQ(own.GetCapacity(), 101);  // the 101st unit still fits
    own.AppendUniChar(u'y');
    EXPECT_EQ(own.GetCapacity(), 125);  // (102 + 20 + 8) rounded down: block of 128
    EXPECT_EQ(own.GetLength(), 102);
    EXPECT_EQ(own.GetCPointer()[102], 0);

    VString hundredOwn;
    hundredOwn.AppendUniChars(hundred.GetCPointer(), 100);
    ASSERT_TRUE(hundredOwn._ReallocBuffer(101, true));
    EXPECT_EQ(hundredOwn.GetCapacity(), 125);
    EXPECT_EQ(hundredOwn.GetLength(), 100);

    // Appends within the slack stay in the same block.
    const UniChar* block = own.GetCPointer();
    for (int i = 0; i < 23; ++i)
        own.AppendUniChar(u'z');
    EXPECT_EQ(own.GetCPointer(), block);
}

TEST(VStringStorage, LongAppendRunsKeepTheRuleAndTheOtherHolders)
{
    // Many growths of a block held alone, with copies taken on the way: every
    // growth gives the rule's capacity, and no copy sees the later appends.
    VString text;
    std::u16string expected;
    std::vector<std::pair<VString, std::u16string>> copies;
    for (int i = 0; i < 3000; ++i) {
        const UniChar piece[] = {static_cast<UniChar>(u'a' + i % 26), static_cast<UniChar>(u'0' + i % 10)};
        const VIndex before = text.GetCapacity();
        const VIndex length = text.GetLength();
        text.AppendUniChars(piece, 2);
        expected.append(piece, piece + 2);
        if (length + 2 > before) {
            EXPECT_EQ(static_cast<VIndex>(VString::ComputeProgressiveResize(length, length + 2)) - 3, text.GetCapacity());
        }
        if (i % 500 == 0)
            copies.emplace_back(text, expected);
    }
    EXPECT_EQ(expected, std::u16string(text.GetCPointer(), static_cast<size_t>(text.GetLength())));
    for (const auto& [copy, itsText] : copies)
        EXPECT_EQ(itsText, std::u16string(copy.GetCPointer(), static_cast<size_t>(copy.GetLength())));
}

TEST(VStringStorage, CopiesShareUntilOneChanges)
{
    VString a("shared text");
    VString b(a);
    EXPECT_EQ(a.GetCPointer(), b.GetCPointer());
    EXPECT_EQ(ShareCount(a), 2u);

    VString c;
    c = b;
    EXPECT_EQ(ShareCount(a), 3u);

    b.AppendCString("!");
    EXPECT_NE(a.GetCPointer(), b.GetCPointer());
    EXPECT_EQ(Text(a), u"shared text");
    EXPECT_EQ(Text(b), u"shared text!");
    EXPECT_EQ(Text(c), u"shared text");
    EXPECT_EQ(ShareCount(a), 2u);

    c.SetUniChar(1, u'S');
    EXPECT_EQ(Text(a), u"shared text");
    EXPECT_EQ(Text(c), u"Shared text");
    EXPECT_EQ(ShareCount(a), 1u);

    // Every changing operation detaches first.
    struct Change {
        const char* name;
        void (*apply)(VString&);
    } changes[] = {
        {"Truncate", [](VString& s) { s.Truncate(3); }},
        {"Remove", [](VString& s) { s.Remove(1, 2); }},
        {"Insert", [](VString& s) { s.Insert(u'#', 2); }},
        {"Replace", [](VString& s) { s.Replace(VString("XY"), 1, 3); }},
        {"SubString", [](VString& s) { s.SubString(2, 3); }},
        {"Exchange", [](VString& s) { s.Exchange(u'e', u'E'); }},
        {"ExchangeRaw", [](VString& s) { s.ExchangeRawString(VString("text"), VString("t")); }},
        {"FromLong", [](VString& s) { s.FromLong(42); }},
        {"Validate", [](VString& s) { s._ReallocBuffer(4, true); s.Validate(2); }},
        {"TrimUniChar", [](VString& s) { s.TrimUniChar(u's'); }},
        {"ToUpperCase", [](VString& s) { s.ToUpperCase(); }},
    };
    for (const Change& change : changes) {
        VString original("shared text");
        VString copy(original);
        change.apply(copy);
        EXPECT_EQ(Text(original), u"shared text") << change.name;
        EXPECT_EQ(original.GetCPointer()[original.GetLength()], 0) << change.name;
    }
}

TEST(VStringStorage, UnshareableTextIsCopied)
{
    VStr<31> inlineText("fits inline");
    VString fromInline(inlineText);
    EXPECT_NE(fromInline.GetCPointer(), inlineText.GetCPointer());
    EXPECT_EQ(Text(fromInline), u"fits inline");

    UniChar callerBuffer[32] = u"caller";
    VString overCaller(callerBuffer, 6, sizeof(callerBuffer));
    VString fromCaller(overCaller);
    EXPECT_NE(fromCaller.GetCPointer(), callerBuffer);
    EXPECT_EQ(Text(fromCaller), u"caller");

    VString nullString(true);
    VString fromNull(nullString);
    EXPECT_TRUE(fromNull.IsNull());
    EXPECT_EQ(fromNull.GetLength(), 0);
}

TEST(VStringStorage, MovedFromStringIsEmptyAndUsable)
{
    VString source("a text on the heap");
    const UniChar* block = source.GetCPointer();
    VString target(std::move(source));
    EXPECT_EQ(target.GetCPointer(), block);
    EXPECT_EQ(source.GetLength(), 0);
    EXPECT_EQ(source.GetCPointer()[0], 0);
    source.AppendCString("again");
    EXPECT_EQ(Text(source), u"again");

    VStr<15> small("small");
    VStr<15> other(std::move(small));
    EXPECT_EQ(Text(other), u"small");
    EXPECT_EQ(Text(small), u"small");  // inline text is copied, not taken
}

TEST(VStringStorage, SizedStringsKeepShortTextInside)
{
    VStr<4> four("abcd");
    const UniChar* inside = four.GetCPointer();
    EXPECT_EQ(four.GetCapacity(), 4);
    four.Truncate(2);
    four.AppendCString("xy");
    EXPECT_EQ(four.GetCPointer(), inside);
    four.AppendCString("z");
    EXPECT_NE(four.GetCPointer(), inside);
    EXPECT_EQ(Text(four), u"abxyz");
    four.Truncate(3);
    EXPECT_EQ(Text(four), u"abx");
    ASSERT_TRUE(four._ReallocBuffer(3, true));
    EXPECT_EQ(four.GetCPointer(), inside);  // back on its inline array
    EXPECT_EQ(Text(four), u"abx");

    VString* made = VString::NewString(20);
    made->AppendCString("twenty units or less");
    EXPECT_EQ(made->GetCapacity(), 20);
    EXPECT_EQ(Text(*made), u"twenty units or less");
    delete made;

    VOsTypeString code(MakeOsType("TEXT"));
    EXPECT_EQ(Text(code), u"TEXT");
}

TEST(VStringStorage, CallerBufferIsWrittenWhileTextFits)
{
    UniChar buffer[8] = u"abc";
    VString s(buffer, 3, sizeof(buffer));
    EXPECT_EQ(s.GetCapacity(), 7);
    s.AppendCString("defg");
    EXPECT_EQ(s.GetCPointer(), buffer);
    EXPECT_EQ(std::u16string(buffer), u"abcdefg");
    s.AppendCString("h");
    EXPECT_NE(s.GetCPointer(), buffer);
    EXPECT_EQ(Text(s), u"abcdefgh");
    EXPECT_EQ(std::u16string(buffer), u"abcdefg");

    VString none(static_cast<UniChar*>(nullptr), 0, 10UL);
    EXPECT_TRUE(none.IsNull());

    CVSTR_struct literal(u"literal");
    EXPECT_EQ(literal.GetLength(), 7);
    EXPECT_TRUE(literal.EqualToStringRaw(VString("literal")));
}

TEST(VStringStorage, TruncateKeepsPairsAndShrinksWastefulBlocks)
{
    const UniChar text[] = {u'a', u'b', 0xD83D, 0xDE00, u'c', 0};
    VString s(text);
    s.Truncate(3, true);
    EXPECT_EQ(s.GetLength(), 2);
    VString t(text);
    t.Truncate(3, false);
    EXPECT_EQ(t.GetLength(), 3);

    VString big = Repeat('q', 1000);
    VString own;
    own.AppendUniChars(big.GetCPointer(), 1000);
    own.Truncate(900);  // 1000 is within 900 + 112 + 32: the block stays
    EXPECT_GE(own.GetCapacity(), 1000);
    own.Truncate(100);
    EXPECT_LT(own.GetCapacity(), 200);
    EXPECT_EQ(own.GetLength(), 100);
    EXPECT_EQ(own.GetCPointer()[100], 0);
    own.Truncate(-5);
    EXPECT_EQ(own.GetLength(), 0);
}

TEST(VStringStorage, NullStateAndValidate)
{
    VString s("text");
    s.SetNull(true);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetCPointer()[0], 0);
    s.AppendCString("x");
    EXPECT_FALSE(s.IsNull());

    VString target("keep");
    target.FromString(VString(true));
    EXPECT_TRUE(target.IsNull());
    target.Clear();
    EXPECT_FALSE(target.IsNull());

    VString raw;
    ASSERT_TRUE(raw._ReallocBuffer(10, false));
    std::memcpy(raw.GetCPointerForWrite(), u"0123456789", 20);
    EXPECT_FALSE(raw.Validate(-1));
    EXPECT_FALSE(raw.Validate(raw.GetCapacity() + 1));
    EXPECT_TRUE(raw.Validate(10));
    EXPECT_EQ(Text(raw), u"0123456789");
    EXPECT_TRUE(raw.IsStringValid());
}

TEST(VStringStorage, SwapExchangesTextsInEveryHome)
{
    VString heapA("first heap text");
    VString heapB("second heap text");
    heapA.Swap(heapB);
    EXPECT_EQ(Text(heapA), u"second heap text");
    EXPECT_EQ(Text(heapB), u"first heap text");

    VStr<15> inlineOne("inline");
    VString heap("a heap text");
    inlineOne.Swap(heap);
    EXPECT_EQ(Text(inlineOne), u"a heap text");
    EXPECT_EQ(Text(heap), u"inline");

    VStr<15> left("left");
    VStr<4> right("r");
    left.Swap(right);
    EXPECT_EQ(Text(left), u"r");
    EXPECT_EQ(Text(right), u"left");
}

TEST(VStringStorage, RetainBufferHandsOutCountedBlocks)
{
    VString heap("a shareable block");
    VIndex length = 0, capacity = 0;
    UniChar* shared = heap.RetainBuffer(&length, &capacity);
    EXPECT_EQ(shared, heap.GetCPointer());
    EXPECT_EQ(length, heap.GetLength());
    EXPECT_EQ(ShareCount(heap), 2u);
    VString::ReleaseSharedBuffer(shared, capacity);
    EXPECT_EQ(ShareCount(heap), 1u);

    VStr<31> inlineText("inline");
    UniChar* copy = inlineText.RetainBuffer(&length, &capacity);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, inlineText.GetCPointer());
    EXPECT_EQ(length, 6);
    EXPECT_EQ(capacity, 6);
    EXPECT_EQ(std::u16string(copy), u"inline");
    VString::ReleaseSharedBuffer(copy, capacity);

    EXPECT_EQ(VString().RetainBuffer(&length, &capacity), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(VStringStorage, InlineJsonTextIsSharedOrWrapped)
{
    VString owner("text held by a JSON value");
    VInlineString packed{};
    VIndex length = 0, capacity = 0;
    packed.fString = owner.RetainBuffer(&length, &capacity);
    packed.fLength = static_cast<uint32_t>(length);
    packed.fCapacity = static_cast<uint32_t>(capacity);
    EXPECT_EQ(ShareCount(owner), 2u);

    {
        VString shared(packed);
        EXPECT_EQ(shared.GetCPointer(), owner.GetCPointer());
        EXPECT_EQ(ShareCount(owner), 3u);
    }
    EXPECT_EQ(ShareCount(owner), 2u);

    // A wrapper counts nothing, and a change never lands in the shared text.
    VString wrapped(packed, true);
    EXPECT_EQ(ShareCount(owner), 2u);
    wrapped.SetUniChar(1, u'T');
    wrapped.Truncate(4);
    EXPECT_EQ(Text(wrapped), u"Text");
    EXPECT_EQ(Text(owner), u"text held by a JSON value");

    VString::ReleaseSharedBuffer(packed.fString, capacity);
    EXPECT_EQ(ShareCount(owner), 1u);
}

TEST(VStringStorage, StringsWorkWithoutTheMemoryManager)
{
    // As during static initialisation: blocks come from malloc, are never
    // shared and never handed to a manager.
    VCppMemMgr* manager = VObject::sCppMemMgr;
    VObject::sCppMemMgr = nullptr;
    VString early("made before the manager");
    VObject::sCppMemMgr = manager;

    EXPECT_EQ(Text(early), u"made before the manager");
    EXPECT_EQ(early.GetCapacity(), early.GetLength());
    EXPECT_EQ(early.GetBufferFlags(), VString::kBufferNotOwned | VString::kBufferExclusive);
    VString copy(early);
    EXPECT_NE(copy.GetCPointer(), early.GetCPointer());
    EXPECT_EQ(Text(copy), u"made before the manager");

    // Such a block is left alone by the string; this test made it, so it frees it.
    UniChar* block = early.GetCPointerForWrite();
    early._ReallocBuffer(0, false);
    std::free(block);
}

TEST(VStringStorage, FlatDataForm)
{
    VString s("hello");
    EXPECT_EQ(s.GetSpace(), 14u);
    char data[64] = {};
    char* end = static_cast<char*>(s.WriteToPtr(data, false, 10));
    int32_t count;
    std::memcpy(&count, data, 4);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(end - data, 10);

    end = static_cast<char*>(s.WriteToPtr(data, true));
    EXPECT_EQ(end - data, 14);
    VString swapped;
    EXPECT_EQ(swapped.LoadFromPtr(data, true), end);
    EXPECT_EQ(Text(swapped), u"hello");

    // Swapping twice in place gives the native form back.
    s.WriteToPtr(data, false);
    EXPECT_EQ(VString::ByteSwapPtr(data, true), data + 14);
    EXPECT_EQ(VString::ByteSwapPtr(data, false), data + 14);
    VString back;
    back.LoadFromPtr(data, false);
    EXPECT_EQ(Text(back), u"hello");

    std::unique_ptr<VValue> generated(VString::sInfo.LoadFromPtr(data, false));
    EXPECT_EQ(Text(*static_cast<VString*>(generated.get())), u"hello");
    EXPECT_EQ(VString::sInfo.GetSizeOfValueDataPtr(data), 14u);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_STRING), &VString::sInfo);
    EXPECT_TRUE(VString::sEmpty.IsEmpty());
    EXPECT_FALSE(VString::sEmpty.IsNull());
}

namespace {

// Writes raw bytes into a stream to build the forms other writers made.
void PutRaw(VPtrStream& stream, std::initializer_list<int32_t> longs, const std::u16string& units)
{
    for (int32_t v : longs)
        stream.PutLong(v);
    if (!units.empty())
        stream.PutData(units.data(), units.size() * 2);
}

}  // namespace

TEST(VStringStorage, StreamFormRoundTripsInBothByteOrders)
{
    for (bool swap : {false, true}) {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        VString("stream me").WriteToStream(&stream);
        VString().WriteToStream(&stream);
        stream.CloseWriting();
        EXPECT_EQ(stream.GetSize(), static_cast<int64_t>(4 + 18 + 4));

        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VString first("old"), second("not empty");
        EXPECT_EQ(first.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(second.ReadFromStream(&stream), VE_OK);
        stream.CloseReading();
        EXPECT_EQ(Text(first), u"stream me") << swap;
        EXPECT_TRUE(second.IsEmpty());
        EXPECT_FALSE(second.IsNull());
    }
    EXPECT_EQ(VString().GetSizeInStream(), 4u);
    EXPECT_EQ(VString("abc").GetSizeInStream(), 16u);
}

TEST(VStringStorage, OlderStreamFormIsRead)
{
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    PutRaw(stream, {3, VTC_UTF_16_SMALLENDIAN}, std::u16string(u"old\0", 4));
    PutRaw(stream, {3, VTC_UTF_8}, u"");
    stream.PutData("abc\0", 4);  // n + 1 bytes skipped
    PutRaw(stream, {-2}, u"ok");
    stream.CloseWriting();

    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString s;
    s.ReadFromStream(&stream);
    EXPECT_EQ(Text(s), u"old");
    VString unchanged("unchanged");
    unchanged.ReadFromStream(&stream);
    EXPECT_EQ(Text(unchanged), u"unchanged");
    VString next;
    EXPECT_EQ(next.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(Text(next), u"ok");
    stream.CloseReading();
}

TEST(VStringStorage, SharedBlocksSurviveCopiesAcrossThreads)
{
    // Every thread copies and drops shares of the same blocks; a writer
    // detaches before it writes. Run under the sanitizer build too.
    VString texts[4] = {Repeat('a', 40), Repeat('b', 400), Repeat('c', 4000), VString("short shared text")};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const VString& source = texts[(i + t) % 4];
                VString copy(source);
                VString second;
                second = copy;
                if (i % 3 == 0) {
                    second.AppendUniChar(static_cast<UniChar>(u'0' + t));
                    if (second.GetLength() != source.GetLength() + 1 ||
                        second.GetUniChar(second.GetLength()) != static_cast<UniChar>(u'0' + t))
                        failures++;
                }
                std::vector<VString> many(4, copy);
                for (const VString& m : many) {
                    if (!m.EqualToStringRaw(source))
                        failures++;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    for (const VString& text : texts)
        EXPECT_EQ(ShareCount(text), 1u);
}
