// VStreamTest.cpp - the stream state machine, typed numbers and memory streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "basekit/files/VMemoryStream.h"
#include "basekit/files/VStream.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VProgressIndicator.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

using Bytes = std::vector<uint8_t>;

// The bytes a stream keeps in one block.
Bytes ContentOf(const VStream& stream)
{
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    const auto* p = static_cast<const uint8_t*>(data.fData);
    return data.fHasData && p ? Bytes(p, p + data.fSize) : Bytes();
}

// A memory stream holding bytes, open for reading at 0.
struct ReadableStream {
    explicit ReadableStream(Bytes bytes) : data(std::move(bytes)), stream(data.data(), data.size())
    {
        stream.OpenReading();
    }
    Bytes data;
    VConstPtrStream stream;
};

TEST(VStreamNumbers, SingleNumbersRoundTripInBothByteOrders)
{
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(VE_OK, stream.OpenWriting());
        stream.PutByte(0xAB);
        stream.PutWord(-2);
        stream.PutLong(0x01020304);
        stream.PutLong8(-0x0102030405060708LL);
        stream.PutReal(-1.5e300);
        stream.Put<uint16_t>(0xBEEF);
        stream.Put<float>(2.5f);
        ASSERT_EQ(VE_OK, stream.CloseWriting());
        ASSERT_EQ(1 + 2 + 4 + 8 + 8 + 2 + 4, stream.GetSize());

        // The byte layout says which order the numbers went out in.
        Bytes bytes = ContentOf(stream);
        Bytes expectedLong = swap ? Bytes{1, 2, 3, 4} : Bytes{4, 3, 2, 1};
        EXPECT_EQ(expectedLong, Bytes(bytes.begin() + 3, bytes.begin() + 7));

        ASSERT_EQ(VE_OK, stream.OpenReading());
        uint8_t b = 0;
        int16_t w = 0;
        int32_t l = 0;
        int64_t l8 = 0;
        double r = 0;
        uint16_t uw = 0;
        float f = 0;
        EXPECT_EQ(VE_OK, stream.GetByte(b));
        EXPECT_EQ(VE_OK, stream.GetWord(w));
        EXPECT_EQ(VE_OK, stream.GetLong(l));
        EXPECT_EQ(VE_OK, stream.GetLong8(l8));
        EXPECT_EQ(VE_OK, stream.GetReal(r));
        EXPECT_EQ(VE_OK, stream.Get(uw));
        EXPECT_EQ(VE_OK, stream.Get(f));
        EXPECT_EQ(0xAB, b);
        EXPECT_EQ(-2, w);
        EXPECT_EQ(0x01020304, l);
        EXPECT_EQ(-0x0102030405060708LL, l8);
        EXPECT_EQ(-1.5e300, r);
        EXPECT_EQ(0xBEEF, uw);
        EXPECT_EQ(2.5f, f);
        EXPECT_EQ(stream.GetSize(), stream.GetPos());
        EXPECT_EQ(VE_OK, stream.CloseReading());
    }
}

TEST(VStreamNumbers, ArraysRoundTripAndLeaveTheCallersArrayAlone)
{
    const int16_t words[] = {1, -2, 0x1234};
    const int32_t longs[] = {0x01020304, -7};
    const int64_t long8s[] = {0x0102030405060708LL, -1};
    const double reals[] = {3.25, -0.0, 1e-300};

    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        int16_t w[3];
        int32_t l[2];
        int64_t l8[2];
        double r[3];
        std::memcpy(w, words, sizeof(w));
        std::memcpy(l, longs, sizeof(l));
        std::memcpy(l8, long8s, sizeof(l8));
        std::memcpy(r, reals, sizeof(r));

        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(VE_OK, stream.OpenWriting());
        EXPECT_EQ(VE_OK, stream.PutWords(w, 3));
        EXPECT_EQ(VE_OK, stream.PutLongs(l, 2));
        EXPECT_EQ(VE_OK, stream.PutLong8s(l8, 2));
        EXPECT_EQ(VE_OK, stream.PutReals(r, 3));
        stream.CloseWriting();
        EXPECT_EQ(0, std::memcmp(w, words, sizeof(w)));
        EXPECT_EQ(0, std::memcmp(l, longs, sizeof(l)));
        EXPECT_EQ(0, std::memcmp(l8, long8s, sizeof(l8)));
        EXPECT_EQ(0, std::memcmp(r, reals, sizeof(r)));

        Bytes bytes = ContentOf(stream);
        ASSERT_EQ(6u + 8u + 16u + 24u, bytes.size());
        Bytes firstWord = swap ? Bytes{0x00, 0x01} : Bytes{0x01, 0x00};
        EXPECT_EQ(firstWord, Bytes(bytes.begin(), bytes.begin() + 2));
        Bytes firstLong8 = swap ? Bytes{1, 2, 3, 4, 5, 6, 7, 8} : Bytes{8, 7, 6, 5, 4, 3, 2, 1};
        EXPECT_EQ(firstLong8, Bytes(bytes.begin() + 14, bytes.begin() + 22));

        int16_t w2[3] = {};
        int32_t l2[2] = {};
        int64_t l82[2] = {};
        double r2[3] = {};
        VIndex nw = 3, nl = 2, nl8 = 2, nr = 3;
        ASSERT_EQ(VE_OK, stream.OpenReading());
        EXPECT_EQ(VE_OK, stream.GetWords(w2, &nw));
        EXPECT_EQ(VE_OK, stream.GetLongs(l2, &nl));
        EXPECT_EQ(VE_OK, stream.GetLong8s(l82, &nl8));
        EXPECT_EQ(VE_OK, stream.GetReals(r2, &nr));
        EXPECT_EQ(3, nw);
        EXPECT_EQ(2, nl);
        EXPECT_EQ(2, nl8);
        EXPECT_EQ(3, nr);
        EXPECT_EQ(0, std::memcmp(w2, words, sizeof(w2)));
        EXPECT_EQ(0, std::memcmp(l2, longs, sizeof(l2)));
        EXPECT_EQ(0, std::memcmp(l82, long8s, sizeof(l82)));
        EXPECT_EQ(0, std::memcmp(r2, reals, sizeof(r2)));
    }
}

TEST(VStreamNumbers, TruncatedInputCountsWholeElementsAndSticks)
{
    ReadableStream in(Bytes{1, 0, 2, 0, 3});
    int16_t words[3] = {9, 9, 9};
    VIndex count = 3;
    EXPECT_EQ(VE_STREAM_EOF, in.stream.GetWords(words, &count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(1, words[0]);
    EXPECT_EQ(2, words[1]);
    EXPECT_EQ(5, in.stream.GetPos());

    // Everything after is refused without moving: arrays report no element.
    count = 1;
    EXPECT_EQ(VE_STREAM_EOF, in.stream.GetWords(words, &count));
    EXPECT_EQ(0, count);
    int32_t l = 42;
    EXPECT_EQ(VE_STREAM_EOF, in.stream.GetLong(l));
    EXPECT_EQ(42, l);
    EXPECT_EQ(VE_STREAM_EOF, in.stream.SetPos(0));
    EXPECT_EQ(5, in.stream.GetPos());

    // The error survives closing; a new open starts afresh.
    EXPECT_EQ(VE_STREAM_EOF, in.stream.CloseReading());
    EXPECT_EQ(VE_STREAM_EOF, in.stream.GetLastError());
    EXPECT_EQ(VE_OK, in.stream.OpenReading());
    EXPECT_EQ(VE_OK, in.stream.GetLong(l));
    EXPECT_EQ(0x00020001, l);
}

TEST(VStreamNumbers, SingleNumberCutShortKeepsEndOfData)
{
    ReadableStream in(Bytes{1, 2, 3});
    int64_t l8 = 0;
    EXPECT_EQ(VE_STREAM_EOF, in.stream.GetLong8(l8));
    EXPECT_EQ(3, in.stream.GetPos());
}

TEST(VStreamState, OpenAndCloseRulesTable)
{
    // Each case: how the stream is prepared, the operation, the result, whether
    // the error is kept and whether the stream is still open afterwards.
    struct Case {
        const char* name;
        VError (*run)(VPtrStream&);
        VError expected;
        bool stored;
    };
    const Case cases[] = {
        {"OpenReading twice", [](VPtrStream& s) { s.OpenReading(); return s.OpenReading(); }, VE_STREAM_ALREADY_OPENED, false},
        {"OpenWriting while reading", [](VPtrStream& s) { s.OpenReading(); return s.OpenWriting(); }, VE_STREAM_ALREADY_OPENED, false},
        {"OpenReading while writing", [](VPtrStream& s) { s.OpenWriting(); return s.OpenReading(); }, VE_STREAM_ALREADY_OPENED, false},
        {"OpenReading write-only", [](VPtrStream& s) { s.SetWriteOnly(true); return s.OpenReading(); }, VE_STREAM_NOT_OPENED_FOR_READING, false},
        {"OpenWriting read-only", [](VPtrStream& s) { s.SetReadOnly(true); return s.OpenWriting(); }, VE_STREAM_NOT_OPENED_FOR_WRITING, false},
        {"CloseReading closed", [](VPtrStream& s) { return s.CloseReading(); }, VE_STREAM_NOT_OPENED_FOR_READING, false},
        {"CloseWriting closed", [](VPtrStream& s) { return s.CloseWriting(); }, VE_STREAM_NOT_OPENED_FOR_WRITING, false},
        {"Flush while reading", [](VPtrStream& s) { s.OpenReading(); return s.Flush(); }, VE_STREAM_NOT_OPENED_FOR_WRITING, false},
        {"PutData while reading", [](VPtrStream& s) { s.OpenReading(); return s.PutData("x", 1); }, VE_STREAM_NOT_OPENED_FOR_WRITING, true},
        {"GetData while writing", [](VPtrStream& s) { char c; s.OpenWriting(); return s.GetData(&c, 1); }, VE_STREAM_NOT_OPENED_FOR_READING, true},
        {"SetPos closed", [](VPtrStream& s) { return s.SetPos(0); }, VE_STREAM_NOT_OPENED, true},
        {"SetSize while reading", [](VPtrStream& s) { s.OpenReading(); return s.SetSize(0); }, VE_STREAM_NOT_OPENED_FOR_WRITING, true},
        {"SetPos negative", [](VPtrStream& s) { s.OpenWriting(); return s.SetPos(-1); }, VE_INVALID_PARAMETER, true},
        {"SetPosByOffset before start", [](VPtrStream& s) { s.OpenWriting(); s.PutLong(1); return s.SetPosByOffset(-5); }, VE_INVALID_PARAMETER, true},
        {"UngetData beyond start", [](VPtrStream& s) { s.OpenReading(); return s.UngetData("ab", 2); }, VE_STREAM_CANNOT_UNGET_DATA, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VTask::FlushErrors();
        VPtrStream stream;
        EXPECT_EQ(c.expected, c.run(stream));
        EXPECT_EQ(c.stored ? c.expected : VE_OK, stream.GetLastError());
        // Stored or not, the failure is on the task's error stack.
        EXPECT_EQ(c.expected, VTask::GetLastError());
    }
    VTask::FlushErrors();
}

TEST(VStreamState, SecondOpenLeavesTheFirstOpen)
{
    Bytes bytes{1, 2, 3, 4};
    ReadableStream in(bytes);
    EXPECT_EQ(VE_STREAM_ALREADY_OPENED, in.stream.OpenReading());
    EXPECT_TRUE(in.stream.IsReading());
    uint32_t l = 0;
    EXPECT_EQ(VE_OK, in.stream.GetLong(l));
}

TEST(VStreamState, SignatureChoosesTheByteOrder)
{
    const OsType signature = MakeOsType("bkit");
    // The signature in host order, then the bytes 01 02 03 04.
    Bytes host{'t', 'i', 'k', 'b', 1, 2, 3, 4};
    Bytes swapped{'b', 'k', 'i', 't', 1, 2, 3, 4};

    {
        VConstPtrStream s(host.data(), host.size());
        ASSERT_EQ(VE_OK, s.OpenReading(signature));
        EXPECT_FALSE(s.NeedSwap());
        uint32_t l = 0;
        s.GetLong(l);
        EXPECT_EQ(0x04030201u, l);
    }
    {
        VConstPtrStream s(swapped.data(), swapped.size());
        ASSERT_EQ(VE_OK, s.OpenReading(signature));
        EXPECT_TRUE(s.NeedSwap());
        uint32_t l = 0;
        s.GetLong(l);
        EXPECT_EQ(0x01020304u, l);
    }
    {
        // A stream already told to swap that meets host-order data turns back.
        VConstPtrStream s(host.data(), host.size());
        s.SetNeedSwap(true);
        ASSERT_EQ(VE_OK, s.OpenReading(signature));
        EXPECT_FALSE(s.NeedSwap());
    }
    {
        VConstPtrStream s(host.data(), host.size());
        EXPECT_EQ(VE_STREAM_BAD_SIGNATURE, s.OpenReading(MakeOsType("none")));
        EXPECT_EQ(VE_OK, s.GetLastError());
        EXPECT_TRUE(s.IsReading());
        EXPECT_EQ(0, s.GetPos());
    }
}

TEST(VStreamState, PositionAndUnget)
{
    VPtrStream stream;
    ASSERT_EQ(VE_OK, stream.OpenWriting());
    stream.PutData("abcdef", 6);
    EXPECT_EQ(VE_OK, stream.SetPosByOffset(-4));
    EXPECT_EQ(2, stream.GetPos());
    stream.PutData("XY", 2);
    EXPECT_EQ(6, stream.GetSize());
    EXPECT_EQ(VE_OK, stream.SetSize(3));
    EXPECT_EQ(3, stream.GetPos());
    stream.CloseWriting();
    EXPECT_EQ((Bytes{'a', 'b', 'X'}), ContentOf(stream));

    ASSERT_EQ(VE_OK, stream.OpenReading());
    char buffer[8] = {};
    VSize read = 0;
    EXPECT_EQ(VE_STREAM_EOF, stream.GetData(buffer, 8, &read));
    EXPECT_EQ(3u, read);
    EXPECT_EQ(3, stream.GetPos());
    // Putting back what was read clears end of data.
    EXPECT_EQ(VE_OK, stream.UngetData(buffer + 1, 2));
    EXPECT_EQ(1, stream.GetPos());
    EXPECT_EQ(VE_OK, stream.GetData(buffer, 2, &read));
    EXPECT_EQ('b', buffer[0]);
}

TEST(VStreamState, PutContentIntoCopiesInBlocksAndClosesReading)
{
    Bytes source(10000);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 7);

    for (size_t size : {size_t(0), size_t(4096), source.size()}) {
        SCOPED_TRACE(size);
        VConstPtrStream in(source.data(), size);
        VPtrStream out;
        out.OpenWriting();
        EXPECT_EQ(VE_OK, in.PutContentInto(&out));
        EXPECT_FALSE(in.IsReading());
        EXPECT_EQ(static_cast<int64_t>(size), out.GetPos());
        out.CloseWriting();
        EXPECT_EQ(Bytes(source.begin(), source.begin() + size), ContentOf(out));
    }

    VConstPtrStream in(source.data(), 10);
    VPtrStream closed;
    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_WRITING, in.PutContentInto(&closed));
    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_WRITING, closed.GetLastError());
    EXPECT_FALSE(in.IsReading());
}

TEST(VStreamState, AnIndicatorSetWhileOpenReportsTheRestOfTheTransfer)
{
    ReadableStream source(Bytes(1000, 'x'));
    VConstPtrStream& stream = source.stream;
    auto first = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    auto second = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    char buffer[100];

    stream.SetProgressIndicator(first.Get());
    EXPECT_EQ(first->GetSessionCount(), 1) << "set on an open stream, it begins at once";
    ASSERT_EQ(stream.GetData(buffer, sizeof(buffer)), VE_OK);
    EXPECT_EQ(first->GetCurrentValue(), 100);

    stream.SetProgressIndicator(second.Get());
    EXPECT_EQ(first->GetSessionCount(), 0) << "the replaced indicator's session ends";
    ASSERT_EQ(second->GetSessionCount(), 1);
    EXPECT_EQ(second->GetMaxValue(), 1000);
    ASSERT_EQ(stream.GetData(buffer, sizeof(buffer)), VE_OK);
    EXPECT_EQ(second->GetCurrentValue(), 100);

    stream.CloseReading();
    EXPECT_EQ(second->GetSessionCount(), 0);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(second->GetSessionCount(), 1) << "the next opening runs a session again";
    stream.SetProgressIndicator(nullptr);
    EXPECT_EQ(second->GetSessionCount(), 0);
    EXPECT_EQ(stream.GetData(buffer, sizeof(buffer)), VE_OK);
    stream.CloseReading();
}

TEST(VStreamState, PutHexBytes)
{
    VPtrStream stream;
    stream.OpenWriting();
    const char bytes[] = {0x00, 0x1F, static_cast<char>(0xA0), static_cast<char>(0xFF)};
    EXPECT_EQ(VE_OK, stream.PutHexBytes(bytes, 4));
    Bytes expected{'0', '0', '1', 'F', 'A', '0', 'F', 'F'};
    EXPECT_EQ(expected, ContentOf(stream));
}

TEST(VStreamState, ValuesTravelWithTheirKind)
{
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "host order");
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        stream.OpenWriting();
        EXPECT_EQ(VE_OK, stream.PutValue(VLong(-123456), true));
        EXPECT_EQ(VE_OK, stream.PutValue(VString("h\xC3\xA9"), true));
        EXPECT_EQ(VE_OK, stream.PutValue(VLong(7), false));
        stream.CloseWriting();
        Bytes bytes = ContentOf(stream);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(swap ? (Bytes{0, VK_LONG}) : (Bytes{VK_LONG, 0}), Bytes(bytes.begin(), bytes.begin() + 2));

        stream.OpenReading();
        std::unique_ptr<VValue> number(stream.GetValue());
        std::unique_ptr<VValue> text(stream.GetValue());
        ASSERT_NE(nullptr, number);
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(VK_LONG, number->GetValueKind());
        EXPECT_EQ(-123456, static_cast<VLong*>(number.get())->GetLong());
        EXPECT_EQ(VK_STRING, text->GetValueKind());
        EXPECT_EQ(VString("h\xC3\xA9"), *static_cast<VString*>(text.get()));
        int32_t bare = 0;
        EXPECT_EQ(VE_OK, stream.GetLong(bare));
        EXPECT_EQ(7, bare);
        // Nothing left: no value.
        EXPECT_EQ(nullptr, stream.GetValue());
    }

    // An unknown kind gives no value.
    Bytes unknown{0xFE, 0xFF};
    VConstPtrStream in(unknown.data(), unknown.size());
    in.OpenReading();
    EXPECT_EQ(nullptr, in.GetValue());
}

// --- memory streams ---------------------------------------------------------------

TEST(VMemoryStream, ConstantBlockReadsAndRefusesWriting)
{
    Bytes bytes{1, 2, 3, 4};
    VConstPtrStream stream(bytes.data(), bytes.size());
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    EXPECT_TRUE(data.fHasData);
    EXPECT_EQ(bytes.data(), data.fData);
    EXPECT_EQ(4u, data.fSize);

    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_WRITING, stream.OpenWriting());
    EXPECT_FALSE(stream.IsWriting());

    ASSERT_EQ(VE_OK, stream.OpenReading());
    uint8_t buffer[6] = {9, 9, 9, 9, 9, 9};
    VSize read = 0;
    EXPECT_EQ(VE_STREAM_EOF, stream.GetData(buffer, 6, &read));
    EXPECT_EQ(4u, read);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 9, 9}), Bytes(buffer, buffer + 6));

    VConstPtrStream other(bytes.data(), bytes.size());
    other.OpenReading();
    EXPECT_EQ(VE_OK, other.SetPos(4));
    EXPECT_EQ(VE_STREAM_EOF, other.SetPos(5));
    EXPECT_EQ(4, other.GetPos());
}

TEST(VMemoryStream, PositionPastTheEndGrowsWithZeros)
{
    VPtrStream stream;
    ASSERT_EQ(VE_OK, stream.OpenWriting());
    stream.PutData("0123456789", 10);
    ASSERT_EQ(VE_OK, stream.SetPos(20));
    stream.PutByte('z');
    EXPECT_EQ(21, stream.GetSize());
    Bytes bytes = ContentOf(stream);
    ASSERT_EQ(21u, bytes.size());
    EXPECT_EQ(Bytes(10, 0), Bytes(bytes.begin() + 10, bytes.begin() + 20));

    // Shrinking and growing again must not bring old bytes back either.
    ASSERT_EQ(VE_OK, stream.SetSize(2));
    ASSERT_EQ(VE_OK, stream.SetSize(8));
    bytes = ContentOf(stream);
    EXPECT_EQ((Bytes{'0', '1', 0, 0, 0, 0, 0, 0}), bytes);
}

TEST(VMemoryStream, SetSizeZeroFreesAndWritingAllocatesAgain)
{
    VPtrStream stream;
    ASSERT_EQ(VE_OK, stream.OpenWriting());
    stream.PutByte(1);
    // One byte rounds up to one 1 KiB unit plus half of it as slack.
    EXPECT_EQ(1536u, stream.GetBuffer().GetAllocatedSize());

    EXPECT_EQ(VE_OK, stream.SetSize(0));
    EXPECT_EQ(nullptr, stream.GetBuffer().GetDataPtr());
    EXPECT_EQ(0u, stream.GetBuffer().GetAllocatedSize());
    EXPECT_EQ(0, stream.GetPos());

    EXPECT_EQ(VE_OK, stream.PutLong(7));
    EXPECT_EQ(4, stream.GetSize());
    EXPECT_NE(nullptr, stream.GetBuffer().GetDataPtr());
}

TEST(VMemoryStream, ReadingPastTheEndOfTheOwnedBlock)
{
    VPtrStream stream;
    stream.OpenWriting();
    stream.PutData("abc", 3);
    stream.CloseWriting();
    stream.OpenReading();
    char buffer[4] = {};
    VSize read = 0;
    EXPECT_EQ(VE_OK, stream.GetData(buffer, 0, &read));
    EXPECT_EQ(VE_STREAM_EOF, stream.GetData(buffer, 4, &read));
    EXPECT_EQ(3u, read);
    EXPECT_EQ(0, std::memcmp(buffer, "abc", 3));
}

// The owned-block rules of VPtrStream kept in a vector and moved only through
// the primitives: a stream without a direct window, to hold VPtrStream's
// inline transfers against.
class PlainStream : public VStream {
public:
    Bytes data;

protected:
    VError DoPutData(const void* buffer, VSize count) override
    {
        auto position = static_cast<size_t>(GetPos());
        if (data.size() < position + count)
            data.resize(position + count, 0);
        if (count > 0)
            std::memcpy(data.data() + position, buffer, count);
        return VE_OK;
    }
    VError DoGetData(void* buffer, VSize* ioCount) override
    {
        auto position = static_cast<size_t>(GetPos());
        VSize wanted = *ioCount;
        VSize count = position < data.size() ? std::min(wanted, data.size() - position) : 0;
        if (count > 0)
            std::memcpy(buffer, data.data() + position, count);
        *ioCount = count;
        return count < wanted ? _ThrowError(VE_STREAM_EOF) : VE_OK;
    }
    int64_t DoGetSize() override { return static_cast<int64_t>(data.size()); }
    VError DoSetSize(int64_t size) override
    {
        data.resize(static_cast<size_t>(size), 0);
        return VE_OK;
    }
    VError DoSetPos(int64_t position) override
    {
        if (static_cast<size_t>(position) > data.size())
            data.resize(static_cast<size_t>(position), 0);
        return VE_OK;
    }
};

// Runs one step on a stream and sums up everything it observably did.
struct StepOutcome {
    VError result;
    int64_t position;
    int64_t size;
    VError stored;
    uint64_t value;
    bool operator==(const StepOutcome&) const = default;
};

StepOutcome RunStep(VStream& stream, int op, uint64_t arg)
{
    uint64_t value = 0;
    VError result = VE_OK;
    uint8_t block[3000] = {};
    switch (op) {
    case 0: result = stream.PutByte(static_cast<uint8_t>(arg)); break;
    case 1: result = stream.PutWord(static_cast<int16_t>(arg)); break;
    case 2: result = stream.PutLong(static_cast<int32_t>(arg)); break;
    case 3: result = stream.PutLong8(static_cast<int64_t>(arg)); break;
    case 4: result = stream.PutReal(static_cast<double>(arg % 100000) / 8); break;
    case 5: {
        VSize count = arg % sizeof(block);
        for (VSize i = 0; i < count; ++i)
            block[i] = static_cast<uint8_t>(arg + i);
        result = stream.PutData(block, count);
        break;
    }
    case 6: { uint8_t v = 0; result = stream.GetByte(v); value = v; break; }
    case 7: { uint16_t v = 0; result = stream.GetWord(v); value = v; break; }
    case 8: { uint32_t v = 0; result = stream.GetLong(v); value = v; break; }
    case 9: { uint64_t v = 0; result = stream.GetLong8(v); value = v; break; }
    case 10: { double v = 0; result = stream.GetReal(v); std::memcpy(&value, &v, 8); break; }
    case 11: {
        VSize count = arg % sizeof(block), read = 0;
        std::memset(block, 0xEE, count);
        result = stream.GetData(block, count, &read);
        for (VSize i = 0; i < read; ++i)
            value = value * 31 + block[i];
        value = value * 31 + read;
        break;
    }
    case 12: result = stream.SetPos(static_cast<int64_t>(arg % static_cast<uint64_t>(stream.GetSize() + 64))); break;
    case 13: result = stream.SetSize(static_cast<int64_t>(arg % static_cast<uint64_t>(stream.GetSize() + 64))); break;
    case 14: result = stream.UngetData(block, arg % 16); break;
    case 15: {
        int32_t longs[7];
        VIndex count = 7;
        result = stream.GetLongs(longs, &count);
        for (VIndex i = 0; i < count; ++i)
            value = value * 31 + static_cast<uint32_t>(longs[i]);
        value = value * 31 + static_cast<uint64_t>(count);
        break;
    }
    case 16: {
        const int64_t long8s[3] = {static_cast<int64_t>(arg), -1, 42};
        result = stream.PutLong8s(long8s, 3);
        break;
    }
    case 17: stream.SetNeedSwap(arg & 1); break;
    default:
        // Reopen in one direction or the other.
        if (stream.IsReading())
            stream.CloseReading();
        if (stream.IsWriting())
            stream.CloseWriting(arg & 2);
        result = (arg & 1) ? stream.OpenReading() : stream.OpenWriting();
        break;
    }
    return StepOutcome{result, stream.GetPos(), stream.GetSize(), stream.GetLastError(), value};
}

TEST(VMemoryStream, InlineTransfersMatchThePrimitives)
{
    // A long pseudo-random walk over every transfer, positioning and reopening
    // crosses capacity growth, gaps, shrinking, end of data and stored errors.
    StErrorContextInstaller quiet(false, true);
    for (uint32_t seed : {1u, 7u, 2024u}) {
        SCOPED_TRACE(seed);
        VPtrStream inlined;
        PlainStream plain;
        inlined.OpenWriting();
        plain.OpenWriting();
        uint64_t state = seed;
        for (int step = 0; step < 4000; ++step) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            uint64_t pick = state >> 33;
            // Transfers dominate, so that runs of numbers fill the capacity.
            int op = static_cast<int>(pick % 40);
            if (op >= 19)
                op = static_cast<int>(pick % 12);
            uint64_t arg = state ^ (state >> 29);
            StepOutcome a = RunStep(inlined, op, arg);
            StepOutcome b = RunStep(plain, op, arg);
            ASSERT_EQ(b.result, a.result) << "step " << step << " op " << op;
            ASSERT_TRUE(a == b) << "step " << step << " op " << op << " position " << a.position << "/"
                                << b.position << " size " << a.size << "/" << b.size;
        }
        EXPECT_EQ(plain.data, ContentOf(inlined));
        EXPECT_EQ(inlined.GetSize(), static_cast<int64_t>(inlined.GetBuffer().GetDataSize()));
    }
}

TEST(VMemoryStream, StoredErrorStopsNumbersInsideTheBlock)
{
    // A refused position leaves the stream where it was with data still ahead:
    // the stored end of data must still stop every read and write.
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    VConstPtrStream stream(bytes, sizeof(bytes));
    ASSERT_EQ(VE_OK, stream.OpenReading());
    uint16_t word = 0;
    ASSERT_EQ(VE_OK, stream.GetWord(word));
    EXPECT_EQ(VE_STREAM_EOF, stream.SetPos(9));
    uint32_t value = 0xFFFFFFFF;
    char buffer[2] = {};
    EXPECT_EQ(VE_STREAM_EOF, stream.GetLong(value));
    EXPECT_EQ(VE_STREAM_EOF, stream.GetData(buffer, 2));
    EXPECT_EQ(0xFFFFFFFFu, value);
    EXPECT_EQ(2, stream.GetPos());

    VPtrStream owned;
    ASSERT_EQ(VE_OK, owned.OpenWriting());
    ASSERT_EQ(VE_OK, owned.PutLong(1));
    ASSERT_EQ(VE_OK, owned.SetPos(0));
    // Reading while writing stores 203; the block has room, yet nothing moves.
    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_READING, owned.GetLong(value));
    EXPECT_EQ(VE_STREAM_NOT_OPENED_FOR_READING, owned.PutLong(2));
    EXPECT_EQ(0, owned.GetPos());
    EXPECT_EQ((Bytes{1, 0, 0, 0}), ContentOf(owned));
}

TEST(VStreamText, TabSeparatedLines)
{
    const char text[] = "a\tb\t\tc\n\nlast\t";
    VConstPtrStream stream(text, sizeof(text) - 1);
    ASSERT_EQ(VE_OK, stream.OpenReading());
    VArrayString fields;
    struct Expected {
        VError result;
        std::vector<std::u16string> fields;
    } expected[] = {
        {VE_OK, {u"a", u"b", u"", u"c"}},
        {VE_OK, {u""}},
        {VE_OK, {u"last", u""}},
        // At the very end: end of data, and the empty line's one empty field.
        {VE_STREAM_EOF, {u""}},
    };
    for (const Expected& e : expected) {
        fields.AppendString(VString("stale"));
        EXPECT_EQ(e.result, stream.GetTTRLine(fields));
        ASSERT_EQ(static_cast<int32_t>(e.fields.size()), fields.GetCount());
        for (int32_t i = 1; i <= fields.GetCount(); ++i) {
            VString field;
            fields.GetString(field, i);
            EXPECT_EQ(e.fields[static_cast<size_t>(i - 1)], std::u16string(field.GetCPointer(), field.GetLength()));
        }
    }
}

}  // namespace
}  // namespace bkit
