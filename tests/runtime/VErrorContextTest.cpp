// VErrorContextTest.cpp - error levels, the task error stack and installers.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "runtime/LoggerTestSupport.h"

namespace bkit {
namespace {

const VError kE = MakeVError(MakeOsType("UPQN"), 1);
const VError kF = MakeVError(MakeOsType("UPQN"), 2);
const VError kG = MakeVError(MakeOsType("UPQN"), 3);

// What reached the debug manager's handler and the process logger.
test::StDebugHandler* gDebug = nullptr;
test::StProcessLogger* gLog = nullptr;
std::vector<VError>& Reported() { return gDebug->Handler()->fErrors; }
std::vector<VError> Logged() { return gLog->LoggedCodes(); }
void ClearLogged()
{
    gLog->Logger()->Flush();
    gLog->Listener()->Clear();
}

VErrorBase* NewError(VError code) { return new VErrorBase(code); }

// Pushes a new record on a stack and drops the creator's reference.
void Push(VErrorTaskContext& stack, VError code, bool* silent = nullptr)
{
    VErrorBase* error = NewError(code);
    stack.PushError(error, silent);
    error->Release();
}

std::vector<VError> Codes(const VErrorContext& level)
{
    std::vector<VError> codes;
    for (VErrorBase* error : level.GetErrors())
        codes.push_back(error->GetError());
    return codes;
}

// Records what is reported to the debug manager and what is logged, and runs
// each test inside a non-silent level of the main task that drops its errors.
class VErrorContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(VTask::GetCurrent(), nullptr) << "the test main adopts the main thread as a task";
        gDebug = &fDebug;
        gLog = &fLog;
        fOuter = new StErrorContextInstaller(false, false);
    }
    void TearDown() override
    {
        delete fOuter;
    }

    test::StDebugHandler fDebug;
    test::StProcessLogger fLog;
    StErrorContextInstaller* fOuter = nullptr;
};

TEST_F(VErrorContextTest, InstallerFlagsDecideKeepingReportingAndLogging)
{
    struct Case {
        bool keep;
        bool silent;
        VError lastAfter;
        bool reported;
        bool logged;
    };
    const Case cases[] = {
        // The debug manager logs what it is reported; a silent level logs its
        // errors once, when it is popped into a non-silent one.
        {true, false, kE, true, true},
        {true, true, kE, false, true},
        {false, false, kG, true, true},
        {false, true, kG, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "keep " << c.keep << " silent " << c.silent);
        fOuter->Flush();
        Reported().clear();
        ClearLogged();
        _ThrowError(kG);  // the previous error of the enclosing level
        Reported().clear();
        ClearLogged();
        {
            StErrorContextInstaller level(c.keep, c.silent);
            _ThrowError(kE);
            EXPECT_EQ(VTask::GetLastError(), kE);
        }
        EXPECT_EQ(VTask::GetLastError(), c.lastAfter);
        EXPECT_EQ(Reported(), c.reported ? std::vector<VError>{kE} : std::vector<VError>{});
        EXPECT_EQ(Logged(), c.logged ? std::vector<VError>{kE} : std::vector<VError>{});
    }
}

TEST_F(VErrorContextTest, ExpectedCodeSilencesTheLevelAndDropsItsErrors)
{
    struct Case {
        const char* label;
        std::vector<VError> raised;
        std::vector<VError> reported;
        std::vector<VError> survivors;
    };
    const Case cases[] = {
        {"other code before the expected one", {kF, kE}, {kF}, {}},
        {"other code after the expected one", {kE, kF}, {}, {}},
        {"expected code alone", {kE}, {}, {}},
        {"other code only", {kF}, {kF}, {kF}},
        {"a second expected code", {kF, kG}, {kF}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fOuter->Flush();
        Reported().clear();
        ClearLogged();
        {
            StErrorContextInstaller expecting(kE, kG);
            for (VError code : c.raised)
                _ThrowError(code);
        }
        EXPECT_EQ(Reported(), c.reported);
        EXPECT_EQ(Codes(*fOuter->GetContext()), c.survivors);
        EXPECT_EQ(Logged(), c.reported) << "only what was reported is logged";
    }
}

TEST_F(VErrorContextTest, FilterIsReadFromTheFirstLevelsAndStopsAtASilentOne)
{
    // An expectation in a lower level silences the top level, not itself.
    {
        StErrorContextInstaller expecting(kE);
        {
            StErrorContextInstaller inner(true, false);
            _ThrowError(kF);
            _ThrowError(kE);
            EXPECT_TRUE(inner.GetContext()->IsSilent());
            EXPECT_FALSE(inner.GetContext()->IsKeepingErrors());
        }
        EXPECT_EQ(expecting.GetLastError(), 0u);
        EXPECT_FALSE(expecting.GetContext()->IsSilent());
    }
    EXPECT_EQ(Reported(), std::vector<VError>{kF});

    // A silent level above the expectation answers first: the error is kept.
    Reported().clear();
    {
        StErrorContextInstaller expecting(kE);
        {
            StErrorContextInstaller quiet(true, true);
            _ThrowError(kE);
            EXPECT_TRUE(quiet.GetContext()->IsKeepingErrors());
        }
        EXPECT_EQ(expecting.GetLastError(), kE);
    }
    EXPECT_TRUE(Reported().empty());
}

TEST_F(VErrorContextTest, ExpectationsDoNotOutliveTheirInstaller)
{
    // The level of an installer may be recycled; its expected codes must not be.
    { StErrorContextInstaller expecting(kE); }
    {
        StErrorContextInstaller plain;
        _ThrowError(kE);
        EXPECT_EQ(plain.GetLastError(), kE);
    }
    EXPECT_EQ(Reported(), std::vector<VError>{kE});
    EXPECT_EQ(VTask::GetLastError(), kE);
}

TEST(StErrorContextInstaller, OnAThreadThatIsNoTaskTheLevelStandsAlone)
{
    std::thread([] {
        StErrorContextInstaller level(true, false);
        ASSERT_NE(level.GetContext(), nullptr);
        EXPECT_EQ(_ThrowError(kE), kE);
        EXPECT_EQ(level.GetLastError(), 0u) << "nothing is kept without a task";
        EXPECT_EQ(VTask::GetErrorContext(true), nullptr);
    }).join();
}

TEST(VErrorTaskContext, OnlyLevelStaysAsANonSilentCopy)
{
    test::StProcessLogger log;
    gLog = &log;
    VErrorTaskContext stack;
    VErrorContext* level = stack.PushNewContext(true, true);
    Push(stack, kE);
    stack.PopContext();

    ASSERT_EQ(stack.GetContextCount(), 1);
    VErrorContext* bottom = stack.GetLastContext();
    EXPECT_NE(bottom, level);
    EXPECT_FALSE(bottom->IsSilent());
    EXPECT_TRUE(bottom->IsKeepingErrors());
    EXPECT_EQ(stack.GetLastError(), kE);
    EXPECT_EQ(Logged(), std::vector<VError>{kE});
    level->Release();
}

TEST(VErrorTaskContext, SilentLevelPoppedOntoSilentLevelLogsNothing)
{
    test::StProcessLogger log;
    gLog = &log;
    VErrorTaskContext stack;
    stack.PushNewContext(true, true)->Release();
    stack.PushNewContext(true, true)->Release();
    Push(stack, kE);
    stack.PopContext();

    EXPECT_TRUE(Logged().empty());
    EXPECT_EQ(stack.GetLastError(), kE);
}

TEST(VErrorTaskContext, LastErrorReadsTheTopLevelOnly)
{
    VErrorTaskContext stack;
    EXPECT_EQ(stack.GetLastError(), 0u);
    EXPECT_EQ(stack.GetLast(), nullptr);

    Push(stack, kE);  // creates the bottom level
    Push(stack, kF);
    stack.PushNewContext(true, false)->Release();
    stack.PushNewContext(true, false)->Release();
    EXPECT_EQ(stack.GetLastError(), 0u);
    ASSERT_NE(stack.GetLast(), nullptr);
    EXPECT_EQ(stack.GetLast()->GetError(), kF);
    EXPECT_EQ(stack.GetFirst()->GetError(), kE);
    EXPECT_EQ(stack.Find(kF), stack.GetLast());

    Push(stack, kG);
    VErrorContext all;
    stack.GetErrors(all);
    EXPECT_EQ(Codes(all), (std::vector<VError>{kE, kF, kG}));

    VErrorBase* front = NewError(kG);
    stack.InsertFrontErrors({front});
    front->Release();
    VErrorContext again;
    stack.GetErrors(again);
    EXPECT_EQ(Codes(again), (std::vector<VError>{kG, kE, kF, kG}));
}

TEST(VErrorTaskContext, FailedForMemoryIsPassedDownReplacingTheLowerFlag)
{
    VErrorTaskContext stack;
    Push(stack, VE_MEMORY_FULL);
    EXPECT_TRUE(stack.FailedForMemory());

    stack.PushNewContext(true, false)->Release();
    EXPECT_FALSE(stack.FailedForMemory());
    Push(stack, kE);
    stack.PopContext();
    EXPECT_FALSE(stack.FailedForMemory()) << "the upper level's flag replaces the lower one's";

    stack.PushNewContext(true, false)->Release();
    Push(stack, VE_MEMORY_FULL);
    stack.PopContext();
    EXPECT_TRUE(stack.FailedForMemory());

    stack.Flush();
    EXPECT_FALSE(stack.FailedForMemory());
    EXPECT_EQ(stack.GetLastError(), 0u);
}

TEST(VErrorTaskContext, MergeAndFlushPassesKeptErrorsDown)
{
    VErrorTaskContext stack;
    stack.PushNewContext(true, false)->Release();
    VErrorContext* top = stack.PushNewContext(true, false);
    Push(stack, kE);
    stack.MergeAndFlushLastContext(true);
    EXPECT_TRUE(top->IsEmpty());
    EXPECT_TRUE(top->IsSilent());
    EXPECT_EQ(stack.GetContextCount(), 2);
    EXPECT_EQ(stack.GetLast()->GetError(), kE);

    // A level that drops its errors is only emptied.
    top->SetKeepingErrors(false);
    Push(stack, kF);
    stack.MergeAndFlushLastContext(false);
    EXPECT_EQ(stack.GetLast()->GetError(), kE);
    EXPECT_FALSE(top->IsSilent());
    top->Release();
}

TEST(VErrorContext, LevelOperations)
{
    VErrorContext level;
    EXPECT_FALSE(level.PushError(nullptr));
    VErrorBase* e = NewError(kE);
    VErrorBase* memory = NewError(VE_MEMORY_FULL);
    level.PushError(e);
    level.PushError(memory);
    level.PushError(e);
    EXPECT_EQ(e->GetRefCount(), 3);
    EXPECT_TRUE(level.IsFailedForMemory());
    EXPECT_EQ(level.Find(kE), e);
    EXPECT_EQ(level.GetLastError(), kE);

    EXPECT_TRUE(level.FindAny(kG, VE_MEMORY_FULL));
    EXPECT_FALSE(level.FindAny(kG, 0, VE_MEMORY_FULL)) << "the list ends at the first 0";
    EXPECT_FALSE(VErrorContext().FindAny(kE));

    VErrorContext copy(level);
    EXPECT_EQ(copy.GetErrorCount(), 3);
    EXPECT_TRUE(copy.IsFailedForMemory());
    EXPECT_TRUE(copy.IsKeepingErrors());
    EXPECT_FALSE(copy.IsSilent());

    VJSONValue array;
    level.SaveToJSONArray(array);
    ASSERT_TRUE(array.IsArray());
    VString text;
    EXPECT_EQ(array.GetString(text), 0u);
    EXPECT_EQ(to_string(text), "[object Object],[object Object],[object Object]");

    level.Flush();
    copy.Flush();
    EXPECT_FALSE(level.IsFailedForMemory());
    EXPECT_EQ(e->GetRefCount(), 1);
    level.SaveToJSONArray(array);
    EXPECT_TRUE(array.IsUndefined());
    e->Release();
    memory->Release();
}

}  // namespace
}  // namespace bkit
