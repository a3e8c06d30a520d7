// VProgressIndicatorTest.cpp - nested progress sessions, snapshots, metrics and
// the abort of a stream operation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VMetricsManager.h"
#include "basekit/runtime/VProgressIndicator.h"
#include "basekit/runtime/VProgressManager.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VTime.h"
#include "ScopedEnv.h"

using namespace bkit;

namespace {

// The progress manager exists for the test's duration, as between the
// process's initialisation and shut-down.
class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { fStartedManager = VProgressManager::sProgressManager == nullptr && VProgressManager::Init(); }
    void TearDown() override
    {
        if (fStartedManager)
            VProgressManager::Deinit();
    }
    bool fStartedManager = false;
};

// Installs a metrics manager as the process's for one test.
class ScopedMetrics {
public:
    ScopedMetrics() : fPrevious(VMetricsManager::GetProcessManager()) { VMetricsManager::SetProcessManager(&fManager); }
    ~ScopedMetrics() { VMetricsManager::SetProcessManager(fPrevious); }
    VMetricsManager& Get() { return fManager; }

private:
    VMetricsManager fManager;
    VMetricsManager* fPrevious;
};

class CountingCollector : public IProgressInfoCollector {
public:
    VJSONObject* CollectInfo() override
    {
        VJSONObject* object = new VJSONObject;
        object->SetPropertyAsNumber("calls", ++fCalls);
        return object;
    }
    int fCalls = 0;
};

// An indicator whose destructor holds still before the base destructor takes
// it out of the manager: its count is 0 while the manager still lists it.
class StalledIndicator : public VProgressIndicator {
public:
    StalledIndicator(const VUUID& uuid, std::atomic<int>& stage) : VProgressIndicator(uuid, 0), fStage(stage) {}
    ~StalledIndicator() override
    {
        fStage = 1;
        while (fStage.load() != 2)
            std::this_thread::yield();
    }

private:
    std::atomic<int>& fStage;
};

}  // namespace

TEST_F(ProgressTest, NestedSessionsComputeTheFractionDone)
{
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    EXPECT_TRUE(progress->Increment(3)) << "without a session a progress call goes on";
    EXPECT_EQ(progress->GetCurrentValue(), 0);
    EXPECT_EQ(progress->ComputePercentDone(), 0.0f);

    const int32_t version = progress->GetSessionVersion();
    progress->BeginSession(4, "outer");
    EXPECT_EQ(progress->GetSessionVersion(), version + 1);
    EXPECT_TRUE(progress->Increment());
    progress->BeginSession(10, "inner");
    EXPECT_TRUE(progress->Progress(5));
    EXPECT_EQ(progress->GetSessionCount(), 2);
    EXPECT_FLOAT_EQ(progress->ComputePercentDone(), 0.375f);  // 1/4 + 5/40

    progress->EndSession();
    EXPECT_EQ(progress->GetSessionCount(), 1);
    EXPECT_EQ(progress->GetCurrentValue(), 1) << "the outer session comes back as it was";
    EXPECT_EQ(progress->GetMaxValue(), 4);
    EXPECT_EQ(progress->GetSessionVersion(), version + 1);
    progress->EndSession();
    EXPECT_EQ(progress->GetSessionCount(), 0);
    EXPECT_EQ(progress->GetSessionVersion(), version + 2);
    progress->EndSession();  // nothing open: no effect
    EXPECT_EQ(progress->GetSessionCount(), 0);
}

TEST_F(ProgressTest, UndeterminedSessions)
{
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    progress->BeginUndeterminedSession("scanning");
    progress->Progress(7);
    EXPECT_EQ(progress->ComputePercentDone(), 7.0f) << "an undetermined current session answers its value";
    progress->BeginSession(10, "inner");
    progress->Progress(5);
    EXPECT_EQ(progress->ComputePercentDone(), 0.0f) << "an undetermined saved session makes it 0";
    progress->EndSession();
    progress->EndSession();
}

TEST_F(ProgressTest, MessagePlaceholdersAndUndeterminedRate)
{
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    VString message("untouched");
    progress->GetMessage(message);
    EXPECT_EQ(message, VString("untouched"));

    progress->BeginSession(200, "{curValue} of {maxValue}: {rateValue}%");
    progress->Progress(50);
    progress->GetMessage(message);
    EXPECT_EQ(message, VString("50 of 200: 25%"));

    // No division by an undetermined maximum.
    progress->Reset("{rateValue}%", 0, 9);
    progress->GetMessage(message);
    EXPECT_EQ(message, VString("0%"));
    progress->EndSession();
}

TEST_F(ProgressTest, UserAbortAndDyingTaskStopTheOperation)
{
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    progress->BeginSession(10, "work");
    EXPECT_TRUE(progress->Increment());
    progress->SetUserAbort(true);
    EXPECT_FALSE(progress->Increment());
    progress->SetUserAbort(false);
    progress->EndSession();

    // A task asked to die gets false from an interruptible indicator.
    std::atomic<int> answer{-1};
    std::atomic<bool> killed{false};
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [&] {
        auto own = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
        own->BeginSession(10, "work");
        while (!killed.load())
            VTask::Sleep(1);
        answer = own->Increment() ? 1 : 0;
        own->EndSession();
    }));
    ASSERT_TRUE(task->Run());
    task->Kill();
    killed = true;
    ASSERT_TRUE(task->WaitForDeath(5000));
    EXPECT_EQ(answer.load(), 0);
}

TEST_F(ProgressTest, StreamStopsWithUserAbort)
{
    std::vector<char> bytes(1000, 'x');
    VConstPtrStream stream(bytes.data(), bytes.size());
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    stream.SetProgressIndicator(progress.Get());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(progress->GetSessionCount(), 1);
    EXPECT_EQ(progress->GetMaxValue(), 1000);
    char buffer[100];
    EXPECT_EQ(stream.GetData(buffer, sizeof(buffer)), VE_OK);
    EXPECT_EQ(progress->GetCurrentValue(), 100);

    progress->SetUserAbort(true);
    EXPECT_EQ(stream.GetData(buffer, sizeof(buffer)), VE_STREAM_USER_ABORTED);
    EXPECT_EQ(stream.GetData(buffer, sizeof(buffer)), VE_STREAM_USER_ABORTED) << "the error is sticky";
    EXPECT_EQ(VTask::GetLastError(), VE_STREAM_USER_ABORTED);
    VTask::FlushErrors();
    stream.CloseReading();
    EXPECT_EQ(progress->GetSessionCount(), 0);
    VTask::FlushErrors();
}

TEST_F(ProgressTest, SnapshotsArePublishedByTheWorkingTask)
{
    CountingCollector collector;
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    progress->SetUserInfo("copy job");
    progress->BeginSession(2, "outer", &collector);
    progress->BeginSession(8, "inner");
    // The first progress call publishes: nothing was served yet.
    progress->Progress(3);
    EXPECT_EQ(collector.fCalls, 1);

    std::vector<VRefCountedSessionInfo*> all;
    VProgressManager::sProgressManager->GetAllProgressInfo(all);
    ASSERT_EQ(all.size(), 1u) << "the observer gets the last published snapshot at once";
    EXPECT_EQ(all[0]->GetNth(1)->GetValue(), 0) << "the working task has not served the new request yet";
    EXPECT_EQ(collector.fCalls, 1);

    progress->Increment();  // serves the request
    auto snapshot = VRefPtr<VRefCountedSessionInfo>::Adopt(progress->RetainSessionsInfos());
    ASSERT_NE(snapshot.Get(), nullptr);
    ASSERT_EQ(snapshot->GetCount(), 2u);
    EXPECT_EQ(snapshot->GetNth(0)->GetRawMessage(), VString("outer"));
    EXPECT_EQ(snapshot->GetNth(1)->GetValue(), 3) << "taken before the increment";
    ASSERT_NE(snapshot->GetNth(0)->GetCollectedInfo(), nullptr);
    EXPECT_EQ(collector.fCalls, 2);

    // A snapshot is a copy: later progress does not change it.
    progress->Increment();
    EXPECT_EQ(snapshot->GetNth(1)->GetValue(), 3);

    auto found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::_RetainProgressIndicator("copy job"));
    EXPECT_EQ(found.Get(), progress.Get());
    found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(progress->GetUUID()));
    EXPECT_EQ(found.Get(), progress.Get());

    VValueBag bag;
    VProgressManager::_GetProgressInfo(bag, "copy job");
    VBagArray* infos = bag.GetElements("ProgressInfo");
    ASSERT_NE(infos, nullptr);
    ASSERT_NE(infos->GetNth(1)->GetElements("SessionInfo"), nullptr);
    EXPECT_EQ(infos->GetNth(1)->GetElements("SessionInfo")->GetCount(), 2);

    for (VRefCountedSessionInfo* info : all)
        info->Release();
    progress->EndSession();
    progress->EndSession();
}

TEST_F(ProgressTest, ObserverThreadsNeverBlockTheWorker)
{
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    progress->BeginSession(100000, "work");
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    std::thread observer([&] {
        while (!done.load()) {
            progress->UpdateSessionsInfos();
            if (VRefCountedSessionInfo* snapshot = progress->RetainSessionsInfos()) {
                if (snapshot->GetCount() == 1)
                    ++seen;
                snapshot->Release();
            }
            std::this_thread::yield();
        }
    });
    // Bounded so that a broken publication fails instead of hanging.
    for (long i = 0; i < 100000000L && seen.load() < 3; ++i)
        progress->Increment();
    done = true;
    observer.join();
    progress->EndSession();
    EXPECT_GE(seen.load(), 1);
}

TEST_F(ProgressTest, SessionInfoDeltasInBags)
{
    VProgressIndicatorInfo info;
    info.Begin("copying", 5, 10, true, nullptr);
    VProgressIndicatorInfo same(info);

    VValueBag bag;
    info.SaveToBag(bag, "full", nullptr);
    info.SaveToBag(bag, "delta", &same);
    int32_t flags = -1;
    const VValueBag* delta = bag.GetElements("delta")->GetNth(1);
    ASSERT_TRUE(delta->GetLong("fUpdateFlags", flags));
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(delta->GetAttributesCount(), 1) << "an identical info writes only its flags";

    info.SetValue(7);
    info.SetAttribute("file", "a.txt");
    info.SaveToBag(bag, "changed", &same);
    const VValueBag* changed = bag.GetElements("changed")->GetNth(1);
    changed->GetLong("fUpdateFlags", flags);
    EXPECT_EQ(flags, eProgressUpdate_Value | eProgressUpdate_ExtraInfoVersion | eProgressUpdate_ExtraInfo);

    VProgressIndicatorInfo mirror(same);
    mirror.LoadFromBag(*changed);
    EXPECT_EQ(mirror.GetValue(), 7);
    auto extra = VRefPtr<VValueBag>::Adopt(mirror.RetainExtraInfoBag());
    ASSERT_NE(extra.Get(), nullptr);
    VString file;
    EXPECT_TRUE(extra->GetString("file", file));
    EXPECT_EQ(file, VString("a.txt"));

    // A copy shares the bag until either side changes it: a snapshot never
    // sees the working task's later attributes.
    VProgressIndicatorInfo snapshot(info);
    info.SetAttribute("file", "b.txt");
    info.RemoveAttribute("file");
    auto seen = VRefPtr<VValueBag>::Adopt(snapshot.RetainExtraInfoBag());
    ASSERT_NE(seen.Get(), nullptr);
    EXPECT_TRUE(seen->GetString("file", file));
    EXPECT_EQ(file, VString("a.txt"));

    VProgressIndicatorInfo loaded;
    loaded.LoadFromBag(*bag.GetElements("full")->GetNth(1));
    EXPECT_EQ(loaded.GetRawMessage(), VString("copying"));
    EXPECT_EQ(loaded.GetMax(), 10);
}

TEST_F(ProgressTest, EndedSessionsPushMetricsWhenCollected)
{
    ScopedMetrics metrics;
    auto progress = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    progress->SetTitle("Update");
    progress->BeginSession(4, "outer");
    progress->BeginSession(2, "inner");
    progress->EndSession();
    auto collected = VRefPtr<VJSONArray>::Adopt(metrics.Get().Collect());
    EXPECT_EQ(collected->GetCount(), 0u) << "nothing before Start";

    metrics.Get().Start(0, 1u << eMetricsKind_ProgressSession);
    progress->BeginSession(2, "inner again");
    progress->EndSession();
    collected = VRefPtr<VJSONArray>::Adopt(metrics.Get().Collect());
    ASSERT_EQ(collected->GetCount(), 1u);
    VJSONObject* metric = collected->GetAt(0).GetObject();
    ASSERT_NE(metric, nullptr);
    EXPECT_EQ(metric->GetProperty("activityKind").GetNumber(), 4.0);
    VJSONObject* data = metric->GetProperty("activityData").GetObject();
    ASSERT_NE(data, nullptr);
    VString text;
    data->GetProperty("title").GetString(text);
    EXPECT_EQ(text, VString("Update"));
    data->GetProperty("message").GetString(text);
    EXPECT_EQ(text, VString("outer")) << "the metric describes the session that is current again";
    progress->EndSession();
}

TEST_F(ProgressTest, LookupsRetainOnlyLiveIndicators)
{
    VUUID uuid(true);
    std::atomic<int> stage{0};
    auto* indicator = new StalledIndicator(uuid, stage);
    indicator->SetUserInfo("stalled");

    VProgressIndicator* found = VProgressManager::RetainProgress(uuid);
    EXPECT_EQ(found, indicator);
    EXPECT_EQ(indicator->GetRefCount(), 2);
    found->Release();
    found = VProgressManager::_RetainProgressIndicator("stalled");
    EXPECT_EQ(found, indicator);
    found->Release();

    std::thread releaser([&] { indicator->Release(); });
    while (stage.load() != 1)
        std::this_thread::yield();
    // A wrongly retained indicator is not released here: its destructor is
    // already running, and a second one would free it twice.
    EXPECT_EQ(VProgressManager::RetainProgress(uuid), nullptr);
    EXPECT_EQ(VProgressManager::_RetainProgressIndicator("stalled"), nullptr);
    // A new indicator under the leaving one's UUID is the one found, before
    // and after the leaving one is gone.
    auto* successor = new VProgressIndicator(uuid, 0);
    found = VProgressManager::RetainProgress(uuid);
    EXPECT_EQ(found, successor);
    if (found == successor)
        found->Release();
    stage = 2;
    releaser.join();
    found = VProgressManager::RetainProgress(uuid);
    EXPECT_EQ(found, successor);
    if (found == successor)
        found->Release();
    successor->Release();
    EXPECT_EQ(VProgressManager::RetainProgress(uuid), nullptr);
}

TEST_F(ProgressTest, RetainByUUIDWhileAnotherThreadCreatesAndReleases)
{
    std::vector<VUUID> uuids;
    for (int i = 0; i < 64; ++i)
        uuids.emplace_back(true);
    std::atomic<bool> done{false};
    std::atomic<bool> wrongIndicator{false};
    std::thread retainer([&] {
        for (size_t i = 0; !done.load(std::memory_order_relaxed); ++i) {
            const VUUID& uuid = uuids[i % uuids.size()];
            if (VProgressIndicator* found = VProgressManager::RetainProgress(uuid)) {
                if (found->GetUUID() != uuid)
                    wrongIndicator = true;
                found->Release();
            }
        }
    });
    for (int round = 0; round < 100000; ++round)
        (new VProgressIndicator(uuids[round % uuids.size()], 0))->Release();
    done = true;
    retainer.join();
    EXPECT_FALSE(wrongIndicator.load());
    for (const VUUID& uuid : uuids)
        EXPECT_EQ(VProgressManager::RetainProgress(uuid), nullptr) << "every indicator left the manager";
}

TEST_F(ProgressTest, SessionJSONStartTimeIsLocalTimeText)
{
    // Far from UTC, so that a UTC text or a date without its time shows.
    struct ZoneReread {
        ~ZoneReread() { ::tzset(); }
    } rereadAfterwards;  // destroyed after the variable is put back
    test::StEnv zone("TZ", "XYZ-13");
    ::tzset();
    VTime before;
    VTime::Now(before);
    VProgressIndicatorInfo info;
    auto json = VRefPtr<VJSONObject>::Adopt(info.GetJSONObject());
    VTime after;
    VTime::Now(after);

    VJSONValue startTime = json->GetProperty("startTime");
    ASSERT_TRUE(startTime.IsString());
    VString text;
    startTime.GetString(text);
    int f[7] = {};
    char tail = 0;
    ASSERT_EQ(sscanf(to_string(text).c_str(), "%4d-%2d-%2d %2d:%2d:%2d:%3d%c", &f[0], &f[1], &f[2], &f[3], &f[4],
                     &f[5], &f[6], &tail),
              7)
        << to_string(text);
    VTime read;
    read.FromLocalTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    EXPECT_GE(read.GetMilliseconds(), before.GetMilliseconds() - 5) << to_string(text);
    EXPECT_LE(read.GetMilliseconds(), after.GetMilliseconds() + 5) << to_string(text);
}

TEST_F(ProgressTest, SessionInfoBagKeysArePeerNames)
{
    VProgressIndicatorInfo info;
    info.Begin("copying", 5, 10, true, nullptr);
    info.SetAttribute("file", "a.txt");
    VValueBag bag;
    info.SaveToBag(bag, "full", nullptr);
    const VValueBag* full = bag.GetElements("full")->GetNth(1);
    for (const char* key : {"fUpdateFlags", "fMessage", "fValue", "fMax", "fStartTime", "fCanInterrupt",
                            "fExtraInfoBagVersion"})
        EXPECT_TRUE(full->AttributeExists(key)) << key;
    EXPECT_NE(full->GetElements("ExtraInfo"), nullptr);

    // What a peer sends: only the extra-info version changed.
    VValueBag peer;
    peer.SetLong("fUpdateFlags", eProgressUpdate_ExtraInfoVersion);
    peer.SetLong("fExtraInfoBagVersion", 41);
    VProgressIndicatorInfo mirror;
    mirror.LoadFromBag(peer);
    EXPECT_EQ(mirror.GetExtraInfoVersion(), 41u);
}

TEST(MetricsManagerTest, CollectsOnlyStartedKindsAboveTheMinimum)
{
    VMetricsManager metrics;
    auto data = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    data->SetPropertyAsString("name", "copy");

    metrics.Push(eMetricsKind_ProgressSession, 1000, data.Get());
    auto collected = VRefPtr<VJSONArray>::Adopt(metrics.Collect());
    EXPECT_EQ(collected->GetCount(), 0u);

    metrics.Start(500, 4);
    metrics.Push(eMetricsKind_ProgressSession, 499, data.Get());
    metrics.Push(eMetricsKind_ProgressSession, 500, data.Get());
    metrics.Push(static_cast<EMetricsKind>(3), 900, nullptr);  // kind not in the mask
    collected = VRefPtr<VJSONArray>::Adopt(metrics.Collect());
    ASSERT_EQ(collected->GetCount(), 1u);
    VJSONObject* metric = collected->GetAt(0).GetObject();
    EXPECT_EQ(metric->GetProperty("activityKind").GetNumber(), 4.0);
    EXPECT_DOUBLE_EQ(metric->GetProperty("activityDuration").GetNumber(), 0.5);
    VJSONObject* clone = metric->GetProperty("activityData").GetObject();
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, data.Get()) << "collected data are deep clones";

    collected = VRefPtr<VJSONArray>::Adopt(metrics.Collect());
    EXPECT_EQ(collected->GetCount(), 1u) << "collecting leaves the metrics in place";

    metrics.Reset();
    metrics.Push(eMetricsKind_ProgressSession, 1000, nullptr);
    collected = VRefPtr<VJSONArray>::Adopt(metrics.Collect());
    EXPECT_EQ(collected->GetCount(), 0u);
}
