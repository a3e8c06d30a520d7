// VFileSystemNotifierTest.cpp - changes inside watched folders, delivered to the watching task.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "basekit/files/VFileSystemNotifier.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FolderChangeFeed.h"
#include "basekit/runtime/VTask.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

using Notifier = VFileSystemNotifier;
using Feed = platform::FolderChangeFeed;

constexpr int kLatencyMs = 100;

// One delivered run: its kind and its paths relative to the watched folder.
using Delivered = std::pair<Notifier::EventKind, std::vector<std::string>>;

class RecordingHandler : public Notifier::IEventHandler {
public:
    explicit RecordingHandler(std::string root, bool* destroyed = nullptr) : fRoot(std::move(root)), fDestroyed(destroyed) {}
    ~RecordingHandler() override
    {
        if (fDestroyed)
            *fDestroyed = true;
    }

    void HandleFileSystemEvent(const std::vector<VFilePath>& paths, Notifier::EventKind kind) override
    {
        EXPECT_EQ(VTask::GetCurrent(), VTask::GetMain()) << "delivered on the watching task";
        std::vector<std::string> names;
        for (const VFilePath& path : paths) {
            std::string text = Text(path.GetPath(FPS_POSIX));
            names.push_back(text.compare(0, fRoot.size(), fRoot) == 0 ? text.substr(fRoot.size()) : text);
        }
        fRuns.emplace_back(kind, std::move(names));
        fErrorsSeen.push_back(VTask::GetLastError());
    }

    std::vector<Delivered> fRuns;
    // The calling task's last error at each call.
    std::vector<VError> fErrorsSeen;

private:
    std::string fRoot;
    bool* fDestroyed;
};

// Runs the main task's messages until done() or a generous time-out.
bool PumpUntil(const std::function<bool()>& done)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        VTask::ExecuteMessagesWithTimeout(20, false);
    }
    return true;
}

// Waits, without running it, until a message is queued for the main task.
bool WaitForQueuedDelivery()
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!VTask::GetMain()->IsAnyMessagePending()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        usleep(5000);
    }
    return true;
}

class VFileSystemNotifierTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("w"));
        ASSERT_TRUE(fTemp.MakeFolder("w/sub"));
        fFolder = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("w")));
        fRoot = fTemp.Path("w/");
        fNotifier = std::make_unique<Notifier>();
    }
    void TearDown() override
    {
        fNotifier.reset();
        Feed::SetWatchLimitForTests(-1);
        // Nothing of a test may reach the next one.
        VTask::ExecuteMessages(false);
    }

    // Waits for the handler's runs to reach count and answers them.
    std::vector<Delivered> WaitForRuns(RecordingHandler& handler, size_t count)
    {
        EXPECT_TRUE(PumpUntil([&] { return handler.fRuns.size() >= count; }))
            << "only " << handler.fRuns.size() << " of " << count << " runs arrived";
        return handler.fRuns;
    }

    VRefPtr<VFolder> fFolder;
    std::string fRoot;
    std::unique_ptr<Notifier> fNotifier;
};

TEST_F(VFileSystemNotifierTest, PendingChangesAreDeliveredInRunsOfOneKind)
{
    // Changes found by several platform callbacks before one delivery.
    RecordingHandler handler(fRoot);
    auto watch = VRefPtr<Notifier::VChangeData>::Adopt(new Notifier::VChangeData(
        fFolder->GetPath(), Notifier::kAllEvents, &handler, VTask::GetCurrent(), nullptr, fNotifier.get()));
    fNotifier->PushChangeData(watch.Get());
    using N = Notifier;
    const std::pair<const char*, N::EventKind> changes[] = {
        {"a", N::kFileCreated}, {"a", N::kFileModified}, {"a", N::kFileModified}, {"b", N::kFileModified},
        {"a", N::kFileModified}, {"c/", N::kFileDeleted}, {"c/", N::kFileDeleted}, {"d", N::kFileCreated},
    };
    for (const auto& [name, kind] : changes)
        watch->AddPendingChange(fTemp.FilePath(std::string("w/") + name), kind);
    fNotifier->EventSignaledCallback(watch.Get());
    EXPECT_EQ(handler.fRuns, (std::vector<Delivered>{{N::kFileCreated, {"a"}},
                                                     {N::kFileModified, {"a", "b", "a"}},
                                                     {N::kFileDeleted, {"c/"}},
                                                     {N::kFileCreated, {"d"}}}));
    // Taken once: a second delivery has nothing; a stopped watch tells nobody.
    fNotifier->EventSignaledCallback(watch.Get());
    EXPECT_EQ(handler.fRuns.size(), 4u);
    ASSERT_TRUE(fNotifier->RemoveChangeData(watch.Get()));
    watch->AddPendingChange(fTemp.FilePath("w/e"), N::kFileCreated);
    fNotifier->EventSignaledCallback(watch.Get());
    EXPECT_EQ(handler.fRuns.size(), 4u);
}

TEST_F(VFileSystemNotifierTest, ChangesInNestedFoldersInOrder)
{
    RecordingHandler handler(fRoot);
    ASSERT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, &handler, kLatencyMs), VE_OK);
    using N = Notifier;
    std::vector<Delivered> expected;
    auto step = [&](const std::function<void()>& change, std::vector<Delivered> runs) {
        change();
        expected.insert(expected.end(), runs.begin(), runs.end());
        EXPECT_EQ(WaitForRuns(handler, expected.size()), expected);
    };
    step([&] { ASSERT_TRUE(fTemp.MakeFolder("w/sub/deep")); }, {{N::kFileCreated, {"sub/deep/"}}});
    // Created and written within one window: created only.
    step([&] { ASSERT_TRUE(fTemp.WriteFile("w/sub/deep/f.txt", "one")); }, {{N::kFileCreated, {"sub/deep/f.txt"}}});
    step([&] { ASSERT_TRUE(fTemp.WriteFile("w/sub/deep/f.txt", "two")); }, {{N::kFileModified, {"sub/deep/f.txt"}}});
    step([&] { ASSERT_EQ(::rename(fTemp.Path("w/sub/deep/f.txt").c_str(), fTemp.Path("w/sub/deep/g.txt").c_str()), 0); },
         {{N::kFileDeleted, {"sub/deep/f.txt"}}, {N::kFileCreated, {"sub/deep/g.txt"}}});
    // A folder renamed with its content; the content is still watched under the new name.
    step([&] { ASSERT_EQ(::rename(fTemp.Path("w/sub/deep").c_str(), fTemp.Path("w/sub/moved").c_str()), 0); },
         {{N::kFileDeleted, {"sub/deep/"}}, {N::kFileCreated, {"sub/moved/"}}});
    step([&] { ASSERT_TRUE(fTemp.WriteFile("w/sub/moved/g.txt", "three")); }, {{N::kFileModified, {"sub/moved/g.txt"}}});
    step([&] { ASSERT_EQ(::unlink(fTemp.Path("w/sub/moved/g.txt").c_str()), 0); },
         {{N::kFileDeleted, {"sub/moved/g.txt"}}});
    step([&] { ASSERT_EQ(::rmdir(fTemp.Path("w/sub/moved").c_str()), 0); }, {{N::kFileDeleted, {"sub/moved/"}}});
    EXPECT_EQ(fNotifier->StopWatchingForChanges(*fFolder, &handler), VE_OK);
}

TEST_F(VFileSystemNotifierTest, KindsFilterAndDotDSStoreIsNeverReported)
{
    RecordingHandler handler(fRoot);
    ASSERT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kFileCreated, &handler, kLatencyMs), VE_OK);
    ASSERT_TRUE(fTemp.WriteFile("w/a", "1"));
    ASSERT_TRUE(fTemp.WriteFile("w/sub/.DS_Store", "x"));
    WaitForRuns(handler, 1);
    ASSERT_TRUE(fTemp.WriteFile("w/a", "2"));
    ASSERT_EQ(::unlink(fTemp.Path("w/a").c_str()), 0);
    // Runs arrive in order: once the marker is in, nothing else came before it.
    ASSERT_TRUE(fTemp.WriteFile("w/marker", ""));
    EXPECT_EQ(WaitForRuns(handler, 2),
              (std::vector<Delivered>{{Notifier::kFileCreated, {"a"}}, {Notifier::kFileCreated, {"marker"}}}));
}

TEST_F(VFileSystemNotifierTest, StartAndStopResults)
{
    RecordingHandler first(fRoot), second(fRoot);
    EXPECT_EQ(Notifier::Instance(), fNotifier.get());
    ASSERT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, &first, kLatencyMs), VE_OK);
    EXPECT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, &first, kLatencyMs),
              VE_FS_NOTIFIER_ALREADY_WATCHING);
    EXPECT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, &second, kLatencyMs), VE_OK);
    EXPECT_EQ(fNotifier->StopWatchingForChanges(*fFolder, &first), VE_OK);
    EXPECT_EQ(fNotifier->StopWatchingForChanges(*fFolder, &first), VE_FS_NOTIFIER_NOT_WATCHING);

    // The other handler still hears.
    ASSERT_TRUE(fTemp.WriteFile("w/x", ""));
    EXPECT_EQ(WaitForRuns(second, 1), (std::vector<Delivered>{{Notifier::kFileCreated, {"x"}}}));
    EXPECT_TRUE(first.fRuns.empty());

    VRefPtr<VFolder> missing = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("missing")));
    EXPECT_EQ(fNotifier->StartWatchingForChanges(*missing, Notifier::kAllEvents, &first, kLatencyMs), Posix(ENOENT));
    // Failures leave no watch behind: the same start succeeds afterwards.
    ASSERT_TRUE(fTemp.MakeFolder("missing"));
    Feed::FailNextStartForTests(EAGAIN);
    EXPECT_EQ(fNotifier->StartWatchingForChanges(*missing, Notifier::kAllEvents, &first, kLatencyMs), Posix(EAGAIN));
    Feed::SetWatchLimitForTests(0);
    EXPECT_EQ(fNotifier->StartWatchingForChanges(*missing, Notifier::kAllEvents, &first, kLatencyMs), Posix(ENOSPC));
    Feed::SetWatchLimitForTests(-1);
    EXPECT_EQ(fNotifier->StartWatchingForChanges(*missing, Notifier::kAllEvents, &first, kLatencyMs), VE_OK);
    EXPECT_EQ(fNotifier->StopWatchingForChanges(*missing, &first), VE_OK);
    EXPECT_EQ(fNotifier->StopWatchingForChanges(*missing, &first), VE_FS_NOTIFIER_NOT_WATCHING);

    fNotifier.reset();
    EXPECT_EQ(Notifier::Instance(), nullptr);
}

TEST_F(VFileSystemNotifierTest, StoppedHandlerIsNeverCalledByPendingChanges)
{
    bool destroyed = false;
    auto* handler = new RecordingHandler(fRoot, &destroyed);
    ASSERT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, handler, kLatencyMs), VE_OK);
    ASSERT_TRUE(fTemp.WriteFile("w/sub/pending", ""));
    // The delivery is queued for this task, not yet run.
    ASSERT_TRUE(WaitForQueuedDelivery());
    EXPECT_EQ(fNotifier->StopWatchingForChanges(*fFolder, handler), VE_OK);
    delete handler;
    ASSERT_TRUE(destroyed);
    // Running the queued delivery must not reach the deleted handler (ASan
    // would report it); the queue empties.
    EXPECT_TRUE(PumpUntil([] { return !VTask::GetMain()->IsAnyMessagePending(); }));
}

TEST_F(VFileSystemNotifierTest, NotifierDestroyedWithDeliveriesPending)
{
    RecordingHandler handler(fRoot);
    ASSERT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, &handler, kLatencyMs), VE_OK);
    ASSERT_TRUE(fTemp.WriteFile("w/late", ""));
    ASSERT_TRUE(WaitForQueuedDelivery());
    fNotifier.reset();
    EXPECT_TRUE(PumpUntil([] { return !VTask::GetMain()->IsAnyMessagePending(); }));
    EXPECT_TRUE(handler.fRuns.empty());
}

TEST_F(VFileSystemNotifierTest, FolderBeyondTheWatchLimitIsReportedAsAnError)
{
    RecordingHandler handler(fRoot);
    ASSERT_EQ(fNotifier->StartWatchingForChanges(*fFolder, Notifier::kAllEvents, &handler, kLatencyMs), VE_OK);
    Feed::SetWatchLimitForTests(0);
    ASSERT_TRUE(fTemp.MakeFolder("w/unwatched"));
    EXPECT_EQ(WaitForRuns(handler, 1), (std::vector<Delivered>{{Notifier::kFileCreated, {"unwatched/"}}}));
    // Pushed on the watching task before the handler hears of the folder.
    EXPECT_EQ(handler.fErrorsSeen, std::vector<VError>{Posix(ENOSPC)});
    Feed::SetWatchLimitForTests(-1);
    ASSERT_TRUE(fTemp.WriteFile("w/after", ""));
    WaitForRuns(handler, 2);
    EXPECT_EQ(handler.fErrorsSeen.back(), VE_OK) << "a delivery's errors stay with it";
}

}  // namespace
}  // namespace bkit::test
