// VErrorBagTest.cpp - error records and error stacks saved into bags and loaded back.
#include <gtest/gtest.h>

#include <string>

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"

namespace bkit {
namespace {

using Bag = VRefPtr<VValueBag>;

Bag NewBag() { return Bag::Adopt(new VValueBag()); }

std::string Param(const VErrorBase& error, const char* name)
{
    VString text;
    error.GetParameters()->GetProperty(VString(name)).GetString(text);
    return to_string(text);
}

TEST(VErrorBag, RecordRoundTripWithParameters)
{
    VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeBKitError(42)));
    error->SetString(VString("path"), VString("/tmp/x"));
    error->SetLong(VString("count"), 3);
    Bag bag = NewBag();
    EXPECT_EQ(error->SaveToBag(*bag), VE_OK);
    int64_t code = 0;
    EXPECT_TRUE(bag->GetLong8("error_code", code));
    EXPECT_EQ(code, static_cast<int64_t>(MakeBKitError(42)));
    const VValueBag* parameters = bag->GetUniqueElementByPath(VString("parameters"));
    ASSERT_NE(parameters, nullptr);
    VString path;
    EXPECT_TRUE(parameters->GetString("path", path));
    EXPECT_EQ(to_string(path), "/tmp/x");
    // Saving again replaces the element instead of adding a second one.
    error->SaveToBag(*bag);
    EXPECT_EQ(bag->GetElements("parameters")->GetCount(), 1);

    VRefPtr<VErrorBase> loaded = VRefPtr<VErrorBase>::Adopt(new VErrorBase());
    EXPECT_EQ(loaded->LoadFromBag(*bag), VE_OK);
    EXPECT_EQ(loaded->GetError(), MakeBKitError(42));
    EXPECT_EQ(loaded->GetTaskID(), error->GetTaskID());
    VString a, b;
    loaded->GetTaskName(a);
    error->GetTaskName(b);
    EXPECT_EQ(to_string(a), to_string(b));
    EXPECT_EQ(Param(*loaded, "path"), "/tmp/x");
    EXPECT_EQ(Param(*loaded, "count"), "3");
    VString description, original;
    loaded->GetErrorDescription(description);
    error->GetErrorDescription(original);
    EXPECT_EQ(to_string(description), to_string(original));

    // Absent keys leave code and id alone and empty the name.
    VRefPtr<VErrorBase> partial = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeBKitError(7)));
    Bag bare = NewBag();
    EXPECT_EQ(partial->LoadFromBag(*bare), VE_OK);
    EXPECT_EQ(partial->GetError(), MakeBKitError(7));
    partial->GetTaskName(a);
    EXPECT_TRUE(a.IsEmpty());
}

TEST(VErrorBag, LevelsSaveLoadAndPush)
{
    VRefPtr<VErrorContext> level = VRefPtr<VErrorContext>::Adopt(new VErrorContext());
    for (int n : {1, 2, 3}) {
        VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeBKitError(n)));
        level->PushError(error.Get());
    }
    Bag bag = NewBag();
    EXPECT_EQ(level->SaveToBag(*bag), VE_OK);
    ASSERT_EQ(bag->GetElements("error")->GetCount(), 3);

    VRefPtr<VErrorContext> loaded = VRefPtr<VErrorContext>::Adopt(new VErrorContext());
    EXPECT_EQ(loaded->LoadFromBag(*bag), VE_OK);
    ASSERT_EQ(loaded->GetErrorCount(), 3);
    EXPECT_EQ(loaded->GetFirst()->GetError(), MakeBKitError(1));
    EXPECT_EQ(loaded->GetLastError(), MakeBKitError(3));
    VRefPtr<VErrorContext> none = VRefPtr<VErrorContext>::Adopt(new VErrorContext());
    EXPECT_EQ(none->LoadFromBag(*NewBag()), VE_OK);
    EXPECT_TRUE(none->IsEmpty());

    StErrorContextInstaller quiet(true, true);
    VTask::GetErrorContext(true)->PushErrorsFromBag(*bag);
    EXPECT_EQ(quiet.GetContext()->GetErrorCount(), 3);
    EXPECT_EQ(quiet.GetLastError(), MakeBKitError(3));
    quiet.Flush();
}

TEST(VErrorBag, ErrorStackListsTheBottomLevelFirst)
{
    StErrorContextInstaller outer(false, true);
    vThrowUserGeneratedError(MakeBKitError(11), VString("first"));
    Bag bag = NewBag();
    {
        StErrorContextInstaller inner(false, true);
        vThrowUserGeneratedError(MakeVError(MakeOsType("test"), 12), VString("second"));
        VErrorTaskContext::BuildErrorStack(*bag);
    }
    const VBagArray* list = bag->GetElements("__ERROR");
    ASSERT_NE(list, nullptr);
    ASSERT_GE(list->GetCount(), 2);
    const VIndex n = list->GetCount();
    struct Expected {
        const VValueBag* entry;
        const char* message;
        const char* signature;
        int32_t code;
    } expected[] = {
        {list->GetNth(n - 1), "first", "bkit", 11},
        {list->GetNth(n), "second", "test", 12},
    };
    for (const Expected& e : expected) {
        VString message, signature;
        int32_t code = 0;
        EXPECT_TRUE(e.entry->GetString("message", message));
        EXPECT_TRUE(e.entry->GetString("componentSignature", signature));
        EXPECT_TRUE(e.entry->GetLong("errCode", code));
        EXPECT_EQ(to_string(message), e.message);
        EXPECT_EQ(to_string(signature), e.signature);
        EXPECT_EQ(code, e.code);
    }
}

}  // namespace
}  // namespace bkit
