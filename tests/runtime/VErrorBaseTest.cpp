// VErrorBaseTest.cpp - error records, native codes, descriptions and localizers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/ILocalizer.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

const OsType kUPQN = MakeOsType("UPQN");

std::string Text(const VString& s) { return to_string(s); }

std::string Description(const VErrorBase& error)
{
    VString text;
    error.GetErrorDescription(text);
    return Text(text);
}

std::string Parameter(const VErrorBase& error, const char* name)
{
    VString text;
    error.GetParameters()->GetProperty(name).GetString(text);
    return Text(text);
}

// A localizer that knows one code, with a text that may hold placeholders.
class TestLocalizer : public ILocalizer {
public:
    TestLocalizer(VError code, const char* text) : fCode(code), fText(text) {}
    uint32_t GetLocalizationLanguage() override { return 1033; }
    bool LocalizeErrorMessage(VError code, VString& out) override
    {
        ++fCalls;
        if (code != fCode)
            return false;
        out.FromCString(fText);
        return true;
    }
    bool LocalizeStringWithKey(const VString&, VString&) override { return false; }
    bool LocalizeStringWithDotStringsKey(const VString&, VString&) override { return false; }
    const VValueBag* RetainGroupBag(const VString&) override { return nullptr; }

    int fCalls = 0;

private:
    VError fCode;
    const char* fText;
};

// Registers a localizer for the life of the object.
struct StLocalizer {
    StLocalizer(OsType signature, ILocalizer* localizer) : fSignature(signature)
    {
        VErrorBase::RegisterLocalizer(signature, localizer);
    }
    ~StLocalizer() { VErrorBase::UnregisterLocalizer(fSignature); }
    OsType fSignature;
};

// Each test gets a level of its own on the main task that drops its errors.
class VErrorBaseTest : public ::testing::Test {
protected:
    StErrorContextInstaller fLevel{false, true};

    VErrorBase* LastError() const { return VTask::GetErrorContext(false)->GetLast(); }
};

TEST_F(VErrorBaseTest, ThrowErrorRecordsCodeTaskAndParameters)
{
    ASSERT_NE(VTask::GetCurrent(), nullptr) << "the test main adopts the main thread as a task";
    VString path("/tmp/missing");
    EXPECT_EQ(_ThrowError(MakeBKitError(600), &path), MakeBKitError(600));

    VErrorBase* error = LastError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetError(), MakeBKitError(600));
    EXPECT_EQ(error->GetTaskID(), VTask::GetCurrentID());
    EXPECT_EQ(error->GetParameters()->GetProperty("errCode").GetNumber(), 600);
    EXPECT_EQ(Parameter(*error, "componentSignature"), "bkit");
    EXPECT_EQ(Parameter(*error, "p1"), "/tmp/missing");
    EXPECT_TRUE(error->GetParameters()->GetProperty("p2").IsUndefined());
    EXPECT_EQ(Description(*error), "Error code: 600 (bkit)");
    EXPECT_TRUE(error->GetStackCrawl().IsEmpty());
}

TEST_F(VErrorBaseTest, ThrowErrorDoesNothingWithoutProcessObject)
{
    VProcess* process = VProcess::sInstance;
    VProcess::sInstance = nullptr;
    VError result = _ThrowError(MakeBKitError(3));
    VProcess::sInstance = process;
    EXPECT_EQ(result, MakeBKitError(3));
    EXPECT_EQ(fLevel.GetLastError(), 0u);
}

TEST(VErrorBaseNative, NativeCodesMapToToolboxCodes)
{
    const VError d = MakeBKitError(999);
    struct Case {
        VError native;
        VError expected;
    };
    const Case encoded[] = {
        {MakePOSIXVError(ENOENT), MakeBKitError(600)},
        {MakePOSIXVError(EACCES), MakeBKitError(5)},
        {MakePOSIXVError(EINVAL), d},
        {MakeCarbonVError(-108), MakeBKitError(100)},
        {MakeCarbonVError(-43), MakeBKitError(600)},
        {MakeCarbonVError(-128), MakeBKitError(6)},
        {MakeCarbonVError(-50), d},
        {MakeVError(kUPQN, 5), MakeVError(kUPQN, 5)},
        {VE_UNKNOWN_ERROR, d},
        {MakeBKitError(600), MakeBKitError(600)},
        {MakeVError(kMACH_SIGNATURE, 5), d},
        {MakeVError(kCOCO_SIGNATURE, 4), d},
        {MakeVError(kCOCO_SIGNATURE, 0), MakeVError(kCOCO_SIGNATURE, 0)},
        {0, 0},
    };
    for (const Case& c : encoded)
        EXPECT_EQ(VErrorBase::EncodedNativeErrorToVError(c.native, d), c.expected) << std::hex << c.native;

    // Only all 64 bits match: 'POSX' -43 is not 'CARB' -43.
    EXPECT_EQ(VErrorBase::EncodedNativeErrorToVError(MakePOSIXVError(-43), d), d);

    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-43), MakeBKitError(600));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-50), MakeCarbonVError(-50));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(0), 0u);
}

TEST(VErrorBaseNative, NativeRecordsDescribeThemselves)
{
    std::string enoent = strerror(ENOENT);

    struct Case {
        VError code;
        std::string expected;
    };
    const Case cases[] = {
        {MakePOSIXVError(ENOENT), enoent},
        {MakeCarbonVError(-43), "File not found (fnfErr)."},
        {MakeCarbonVError(-12345), "Error code: -12345 (CARB)"},
        {MakeVError(kCOCO_SIGNATURE, 516),
         "The file couldn't be saved because a file with the same name already exists."},
        {MakeVError(kCOCO_SIGNATURE, 77), "The operation couldn't be completed. (Cocoa error 77.)"},
        {MakeVError(kMACH_SIGNATURE, 5), "(os/kern) failure"},
        {MakeVError(kUPQN, 7), "Error code: 7 (UPQN)"},
    };
    for (const Case& c : cases) {
        VErrorBase error(c.code);
        EXPECT_EQ(Description(error), c.expected) << std::hex << c.code;
    }
}

TEST(VErrorBaseNative, CreateReadsOrCompletesTheParameters)
{
    struct Case {
        const char* label;
        bool hasSignature;
        const char* signatureText;
        bool hasNumber;
        double number;
        OsType givenSignature;
        VError expected;
    };
    const Case cases[] = {
        {"empty object", false, "", false, 0, kUPQN, MakeVError(kUPQN, -1)},
        {"object wins", true, "xmlc", true, 3, kUPQN, MakeVError(MakeOsType("xmlc"), 3)},
        {"number truncated", false, "", true, 4294967297.0, kUPQN, MakeVError(kUPQN, 1)},
        {"negative number", false, "", true, -10719, MakeOsType("QNRT"), MakeVError(MakeOsType("QNRT"), -10719)},
        {"zero code", false, "", true, 0, 0, VE_UNKNOWN_ERROR},
        {"zero number, signature", false, "", true, 0, kUPQN, MakeVError(kUPQN, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        if (c.hasSignature)
            object->SetPropertyAsString("componentSignature", c.signatureText);
        if (c.hasNumber)
            object->SetPropertyAsNumber("errCode", c.number);
        VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(VErrorBase::Create(object.Get(), c.givenSignature));
        EXPECT_EQ(error->GetError(), c.expected);
        EXPECT_EQ(error->GetParameters(), object.Get()) << "shared, not copied";
        EXPECT_TRUE(object->GetProperty("componentSignature").IsString());
        EXPECT_TRUE(object->GetProperty("errCode").IsNumber());
    }

    VRefPtr<VJSONObject> empty = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(VErrorBase::Create(empty.Get(), kUPQN));
    EXPECT_EQ(Parameter(*error, "componentSignature"), "UPQN");
    EXPECT_EQ(empty->GetProperty("errCode").GetNumber(), -1);
}

TEST(VErrorBaseNative, DumpOfARecordMadeWithoutTask)
{
    VRefPtr<VErrorBase> error;
    std::thread([&] { error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeVError(kUPQN, 5))); }).join();
    EXPECT_EQ(error->GetTaskID(), 0);
    VString dump;
    error->DumpToString(dump);
    EXPECT_EQ(Text(dump), "Error code: 5 (UPQN)\nError code: 5 (UPQN)\ncomponent: 'UPQN'\ntask 0\n");

    error->SetString("action_description", "Retry {p1}");
    error->SetString("p1", "later");
    error->SetDescription("Broken");
    error->DumpToString(dump);
    EXPECT_EQ(Text(dump), "Error code: 5 (UPQN)\nBroken\ncomponent: 'UPQN'\nRetry later\ntask 0\n");
}

TEST(VErrorBaseNative, DebugDumpWritesUTF16WithinTheBuffer)
{
    ASSERT_NE(VProcess::sInstance, nullptr);
    VErrorBase error(MakeBKitError(600));
    char buffer[20];
    int size = sizeof(buffer);
    EXPECT_EQ(error.DebugDump(buffer, size), VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(Text(VString(buffer, size, VTC_UTF_16_SMALLENDIAN)), "Error code");

    VProcess* process = VProcess::sInstance;
    VProcess::sInstance = nullptr;
    size = sizeof(buffer);
    CharSet charset = error.DebugDump(buffer, size);
    VProcess::sInstance = process;
    EXPECT_EQ(charset, VTC_UTF_8);
    EXPECT_EQ(std::string(buffer, size), "Error code: 600, co");
}

TEST(VErrorBaseNative, LocalizerTextsAreFilledAndMessageWins)
{
    const VError code = MakeVError(kUPQN, 65);
    TestLocalizer localizer(code, "Cannot open {p1}.");
    StLocalizer registration(kUPQN, &localizer);
    EXPECT_EQ(VErrorBase::GetLocalizer(kUPQN), &localizer);
    EXPECT_EQ(VErrorBase::GetLocalizer(kBKIT_SIGNATURE), nullptr);

    VErrorBase error(code);
    error.SetString("p1", "the log");
    EXPECT_EQ(Description(error), "Cannot open the log.");

    // A code the localizer does not know falls back to the record's own text.
    EXPECT_EQ(Description(VErrorBase(MakeVError(kUPQN, 66))), "Error code: 66 (UPQN)");

    error.SetDescription("Fixed text");
    int calls = localizer.fCalls;
    EXPECT_EQ(Description(error), "Fixed text");
    EXPECT_EQ(localizer.fCalls, calls) << "a message is used without asking the localizer";

    VString out("kept");
    EXPECT_TRUE(error.CallLocalizer(&localizer, 0, out));
    EXPECT_EQ(Text(out), "kept");
    EXPECT_FALSE(error.CallLocalizer(&localizer, MakeVError(kUPQN, 1), out));
    EXPECT_EQ(Text(out), "");
    EXPECT_FALSE(error.CallLocalizer(nullptr, code, out));

    TestLocalizer replacement(code, "Other");
    VErrorBase::RegisterLocalizer(kUPQN, &replacement);
    EXPECT_EQ(VErrorBase::GetLocalizer(kUPQN), &replacement);
}

TEST(VErrorBaseNative, FreezeDescriptionOutlivesTheLocalizer)
{
    const VError code = MakeVError(kUPQN, 12);
    TestLocalizer localizer(code, "Localized");
    VErrorBase error(code);
    {
        StLocalizer registration(kUPQN, &localizer);
        error.FreezeDescription();
    }
    EXPECT_EQ(VErrorBase::GetLocalizer(kUPQN), nullptr);
    EXPECT_EQ(Description(error), "Localized");
    EXPECT_EQ(Parameter(error, "message"), "Localized");
}

TEST(VErrorBaseNative, CopiesAndJSONFormsAreIndependent)
{
    VErrorBase error(MakeBKitError(600));
    error.SetString("path", "/a");
    VErrorBase copy(error);
    EXPECT_NE(copy.GetParameters(), error.GetParameters());
    copy.SetString("path", "/b");
    EXPECT_EQ(Parameter(error, "path"), "/a");
    EXPECT_EQ(copy.GetError(), error.GetError());

    VRefPtr<VJSONObject> json = VRefPtr<VJSONObject>::Adopt(error.CreateJSONObject());
    ASSERT_EQ(json->GetPropertyCount(), 3u);
    EXPECT_EQ(to_string(json->GetNameAt(0)), "errCode");
    EXPECT_EQ(json->GetValueAt(0).GetNumber(), 600);
    EXPECT_EQ(to_string(json->GetNameAt(1)), "componentSignature");
    EXPECT_EQ(to_string(json->GetNameAt(2)), "message");
    VString message;
    json->GetValueAt(2).GetString(message);
    EXPECT_EQ(Text(message), "Error code: 600 (bkit)");
}

TEST_F(VErrorBaseTest, NativeRecordLiesUnderTheToolboxRecord)
{
    {
        StThrowError<> error(MakeBKitError(600), MakePOSIXVError(ENOENT));
        error->SetString("path", "/x");
    }
    VErrorContext* level = fLevel.GetContext();
    ASSERT_EQ(level->GetErrorCount(), 2);
    EXPECT_EQ(level->GetFirst()->GetError(), MakePOSIXVError(ENOENT));
    EXPECT_EQ(level->GetLast()->GetError(), MakeBKitError(600));
    EXPECT_EQ(Parameter(*level->GetLast(), "path"), "/x");

    // A level that expects the toolbox code keeps the native record out.
    level->Flush();
    {
        StErrorContextInstaller expecting(MakeBKitError(600));
        _PushRetainedError(new VErrorBase(MakeBKitError(600)), MakePOSIXVError(ENOENT));
        EXPECT_EQ(expecting.GetContext()->GetErrorCount(), 1);
        EXPECT_EQ(expecting.GetLastError(), MakeBKitError(600));
    }
}

TEST_F(VErrorBaseTest, UserGeneratedErrorsDescribeThemselvesByTheirText)
{
    const VError code = MakeVError(kUPQN, 9);
    EXPECT_EQ(vThrowUserGeneratedError(code, "Nothing to update"), code);
    VErrorBase* error = LastError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetError(), code);
    EXPECT_EQ(Description(*error), "Nothing to update");
    VString dump;
    error->DumpToString(dump);
    EXPECT_EQ(Text(dump), "Nothing to update");

    VErrorImported imported(code, "Remote failure");
    VString location;
    imported.GetLocation(location);
    EXPECT_EQ(Text(location), "REST Imported Error");
    EXPECT_EQ(Description(imported), "Remote failure");
}

}  // namespace
}  // namespace bkit
