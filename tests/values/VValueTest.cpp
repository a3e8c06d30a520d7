// VValueTest.cpp - the value base, the kind registry, the empty value and the
// comparison options.
#include <gtest/gtest.h>

#include <memory>

#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "basekit/values/VEmpty.h"
#include "basekit/values/VValue.h"

using namespace bkit;

namespace {

// Raising errors needs a process object; the test main may already have one.
class VValueWithProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!VProcess::sInstance)
            fProcess = std::make_unique<VProcess>();
    }
    std::unique_ptr<VProcess> fProcess;
};

// A single value that counts its hooks and overrides nothing else.
class HookedValue : public VValueSingle {
public:
    VValue* Clone() const override { return new HookedValue(*this); }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
    void GetString(VString& s) const override { s = fText.c_str(); }
    void DoNullChanged() override { ++fNullCalls; }
    void DoDirtyChanged() override { ++fDirtyCalls; }

    int fNullCalls = 0;
    int fDirtyCalls = 0;
    std::string fText = "text";
};

// A list that stores only reals, to show the chain of element setters.
class RealList : public VValueMultiple {
public:
    int32_t GetCount() const override { return 10; }
    void FromReal(double value, int32_t index) override
    {
        fLastValue = value;
        fLastIndex = index;
    }
    double fLastValue = -1;
    int32_t fLastIndex = -1;
};

// Descriptors under keys no kind uses.
constexpr ValueKind kSpareKey = 60000;

class SpareInfo : public VValueInfo {
public:
    explicit SpareInfo(ValueKind kind) : VValueInfo(kind, kSpareKey) {}
    VValue* Generate() const override { return new VEmpty; }
    VValue* Generate(VBlob*) const override { return new VEmpty; }
    VValue* LoadFromPtr(const void*, bool) const override { return new VEmpty; }
    void* ByteSwapPtr(void* data, bool) const override { return data; }
};

}  // namespace

TEST(VValue, SetNullAndSetDirtyCallTheirHooksOnChangeOnly)
{
    struct Case {
        bool startDirty;
        bool startNull;
        bool setNull;
        int nullCalls;
        int dirtyCalls;
        bool endDirty;
    } cases[] = {
        {false, false, true, 1, 1, true},   // a clean value becomes dirty too
        {true, false, true, 1, 0, true},    // already dirty: only the null hook
        {false, true, true, 0, 0, false},   // no change, no call
        {false, true, false, 1, 1, true},
    };
    for (const Case& c : cases) {
        HookedValue value;
        value.SetNull(c.startNull);
        value.SetDirty(c.startDirty);
        value.fNullCalls = 0;
        value.fDirtyCalls = 0;
        value.SetNull(c.setNull);
        EXPECT_EQ(value.IsNull(), c.setNull);
        EXPECT_EQ(value.fNullCalls, c.nullCalls);
        EXPECT_EQ(value.fDirtyCalls, c.dirtyCalls);
        EXPECT_EQ(value.IsDirty(), c.endDirty);
    }

    HookedValue value;
    EXPECT_TRUE(value.IsDirty());  // new values are dirty
    EXPECT_FALSE(value.IsNull());
    value.SetDirty(true);
    EXPECT_EQ(value.fDirtyCalls, 0);
    value.SetDirty(false);
    value.SetDirty(false);
    EXPECT_EQ(value.fDirtyCalls, 1);
}

TEST(VValue, InvertCompResult)
{
    struct Case {
        CompareResult in, out;
    } cases[] = {{CR_SMALLER, CR_BIGGER}, {CR_BIGGER, CR_SMALLER}, {CR_EQUAL, CR_EQUAL}, {CR_UNRELEVANT, CR_UNRELEVANT}, {5, 5}};
    for (const Case& c : cases)
        EXPECT_EQ(VValue::InvertCompResult(c.in), c.out) << c.in;
}

TEST(VValue, RegistryLookups)
{
    EXPECT_EQ(VValue::ValueInfoFromValueKind(7), nullptr);
    EXPECT_EQ(VValue::NewValueFromValueKind(12), nullptr);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_EMPTY), &VEmpty::sInfo);

    std::unique_ptr<VValue> empty(VValue::NewValueFromValueKind(VK_EMPTY));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetValueKind(), VK_EMPTY);
    EXPECT_TRUE(empty->IsNull());
    EXPECT_TRUE(empty->IsDirty());

    // A value that does not name its kind has the plain descriptor, 65535,
    // which is registered once asked for.
    RealList list;
    EXPECT_EQ(list.VValue::GetValueKind(), VK_VALUE);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_VALUE), list.GetValueInfo());
}

TEST(VValue, SecondDescriptorReplacesAndEitherRemovesTheKey)
{
    {
        SpareInfo first(1);
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kSpareKey), &first);
        {
            SpareInfo second(2);
            EXPECT_EQ(VValue::ValueInfoFromValueKind(kSpareKey), &second);
            EXPECT_EQ(second.GetKind(), 2);
        }
        // Destroying the second removed the key, though the first is alive.
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kSpareKey), nullptr);
        VValue::RegisterValueInfo(&first);
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kSpareKey), &first);
    }
    EXPECT_EQ(VValue::ValueInfoFromValueKind(kSpareKey), nullptr);
    VValue::UnregisterValueInfo(&VEmpty::sInfo);  // absent keys are ignored ...
    VValue::RegisterValueInfo(&VEmpty::sInfo);    // ... and this puts kind 0 back
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_EMPTY), &VEmpty::sInfo);
}

TEST(VValue, MultipleSettersChainDownToReal)
{
    struct Case {
        void (*set)(RealList&);
        double value;
    } cases[] = {
        {[](RealList& l) { l.FromLong(5, 3); }, 5.0},
        {[](RealList& l) { l.FromLong8(-7, 3); }, -7.0},
        {[](RealList& l) { l.FromWord(300, 3); }, 300.0},
        {[](RealList& l) { l.FromByte(-2, 3); }, -2.0},
        {[](RealList& l) { l.FromBoolean(1, 3); }, 1.0},
    };
    for (const Case& c : cases) {
        RealList list;
        c.set(list);
        EXPECT_EQ(list.fLastValue, c.value);
        EXPECT_EQ(list.fLastIndex, 3);
    }
    RealList list;
    EXPECT_EQ(list.Clone(), nullptr);
    EXPECT_FALSE(list.CanBeEvaluated());
    EXPECT_EQ(list.CompareTo(VEmpty(), false, 1), CR_UNRELEVANT);
    EXPECT_EQ(list.GetValueKind(), VK_VALUE);
}

TEST_F(VValueWithProcess, UnimplementedJSONOperationsPushOnlyFromTheBase)
{
    RealList list;  // no JSON of its own
    VString text("1");
    VJSONValue json(1.0);
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(list.GetJSONValue(json), VE_UNIMPLEMENTED);
        EXPECT_TRUE(json.IsUndefined());
        EXPECT_EQ(errors.GetLastError(), VE_UNIMPLEMENTED);
    }
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(list.FromJSONString(text), VE_UNIMPLEMENTED);
        EXPECT_EQ(errors.GetContext()->GetErrorCount(), 1);
    }

    HookedValue single;
    single.SetDirty(false);
    StErrorContextInstaller errors(false, true);
    VJSONValue out(1.0);
    EXPECT_EQ(single.GetJSONValue(out), VE_UNIMPLEMENTED);
    EXPECT_TRUE(out.IsNull());
    EXPECT_EQ(single.FromJSONValue(out), VE_UNIMPLEMENTED);
    EXPECT_EQ(errors.GetLastError(), VE_OK);
    // The single value's text forms go through its string.
    VString jsonText;
    EXPECT_EQ(single.GetJSONString(jsonText), VE_OK);
    EXPECT_TRUE(jsonText == VString("text"));
}

TEST(VValue, SingleDefaultsClearTheDestination)
{
    HookedValue single;
    VString text("something");
    VEmpty().GetString(text);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(text.IsNull());

    text = "again";
    VEmpty().GetValue(text);
    EXPECT_TRUE(text.IsEmpty());

    VString xml;
    single.GetXMLString(xml);
    EXPECT_TRUE(xml == VString("text"));
    EXPECT_TRUE(single.FromXMLString(xml));
    EXPECT_EQ(single.GetLong8OrMilliSeconds(), 0);
    EXPECT_TRUE(single.CanBeStreamed());
    EXPECT_EQ(single.IsVValueSingle(), &single);
}

TEST(VEmpty, IsAlwaysNullAndComparesWithNothing)
{
    VEmpty empty;
    EXPECT_TRUE(empty.IsNull());
    EXPECT_TRUE(empty.IsDirty());
    empty.FromLong(5);
    empty.FromString(VString("x"));
    EXPECT_TRUE(empty.IsNull());
    EXPECT_EQ(empty.GetLong(), 0);
    EXPECT_EQ(empty.GetReal(), 0.0);
    EXPECT_EQ(empty.CompareTo(VEmpty()), CR_UNRELEVANT);
    EXPECT_FALSE(empty.EqualTo(VEmpty()));
    EXPECT_FALSE(empty.CanBeEvaluated());
    EXPECT_EQ(empty.GetValueKind(), VK_EMPTY);

    std::unique_ptr<VValue> clone(empty.Clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetValueKind(), VK_EMPTY);
    EXPECT_TRUE(clone->IsNull());

    int data = 42;
    std::unique_ptr<VValue> loaded(VEmpty::sInfo.LoadFromPtr(&data, false));
    EXPECT_EQ(loaded->GetValueKind(), VK_EMPTY);
    EXPECT_EQ(VEmpty::sInfo.ByteSwapPtr(&data, true), &data);
    EXPECT_EQ(empty.LoadFromPtr(&data), &data);
    EXPECT_EQ(empty.GetSpace(), 0u);
}

TEST(VValueSingle, ConvertTo)
{
    VEmpty empty;
    EXPECT_EQ(empty.ConvertTo(7), nullptr);  // unassigned kind

    std::unique_ptr<VValueSingle> asString(empty.ConvertTo(VK_STRING));
    ASSERT_NE(asString, nullptr);
    EXPECT_EQ(asString->GetValueKind(), VK_STRING);
    EXPECT_TRUE(asString->IsNull());  // takes the source's null flag

    // A kind whose descriptor makes no single value gives nothing.
    class ListInfo : public SpareInfo {
    public:
        ListInfo() : SpareInfo(kSpareKey) {}
        VValue* Generate() const override { return new RealList; }
    } listInfo;
    EXPECT_EQ(empty.ConvertTo(kSpareKey), nullptr);
}

TEST(VValueSingle, JSONScalarConversion)
{
    EXPECT_EQ(VValueSingle::ValueKindToJsonType(VK_BOOLEAN), JSON_true);
    EXPECT_EQ(VValueSingle::ValueKindToJsonType(VK_REAL), JSON_number);
    EXPECT_EQ(VValueSingle::ValueKindToJsonType(VK_TIME), JSON_date);
    EXPECT_EQ(VValueSingle::ValueKindToJsonType(VK_STRING), JSON_string);
    EXPECT_EQ(VValueSingle::ValueKindToJsonType(VK_LONG), JSON_null);

    // Kinds JSON carries as they are come back as clones.
    VString text("abc");
    std::unique_ptr<VValueSingle> converted(VValueSingle::ConvertVValueToJSONScalar(text, false));
    ASSERT_NE(converted, nullptr);
    EXPECT_NE(converted.get(), &text);
    EXPECT_EQ(converted->GetValueKind(), VK_STRING);
    VString back;
    converted->GetString(back);
    EXPECT_TRUE(back == text);
}

TEST_F(VValueWithProcess, DebugDumpDecodesTheValueText)
{
    HookedValue value;
    value.fText = "dump me";
    VString dump;
    value.DebugDump(dump);
    EXPECT_TRUE(dump == VString("dump me"));

    // The text is cut to the room offered, in whole UTF-16 units.
    char buffer[9];
    int length = 9;
    EXPECT_EQ(value.DebugDump(buffer, length), VTC_UTF_16);
    EXPECT_EQ(length, 8);

    // The root class dumps nothing.
    VValueInfo_default<VEmpty, kSpareKey> info;
    info.DebugDump(dump);
    EXPECT_TRUE(dump.IsEmpty());
}

TEST(VCompareOptions, DefaultsAndJSON)
{
    VCompareOptions options;
    EXPECT_FALSE(options.IsLike());
    EXPECT_FALSE(options.IsDiacritical());
    EXPECT_FALSE(options.IsBeginOnly());
    EXPECT_DOUBLE_EQ(options.GetEpsilon(), 1e-6);

    VJSONObject* object = new VJSONObject;
    options.SetDiacritical(true);
    EXPECT_EQ(options.ToJSON(object), VE_OK);
    EXPECT_TRUE(object->GetProperty(VString("diacritical")).IsTrue());

    struct Case {
        VJSONValue stored;
        bool before, after;
    } cases[] = {
        {VJSONValue(JSON_false), true, false},
        {VJSONValue(JSON_true), false, true},
        {VJSONValue(1.0), false, false},  // not a boolean: left alone
        {VJSONValue(1.0), true, true},
        {VJSONValue(VString("true")), false, false},
    };
    for (const Case& c : cases) {
        object->SetProperty(VString("diacritical"), c.stored);
        VCompareOptions read;
        read.SetDiacritical(c.before);
        EXPECT_EQ(read.FromJSON(object), VE_OK);
        EXPECT_EQ(read.IsDiacritical(), c.after);
    }
    object->Release();
}
