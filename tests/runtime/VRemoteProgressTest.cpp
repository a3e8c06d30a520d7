// VRemoteProgressTest.cpp - a local indicator that mirrors a remote one through
// delta records, handed over directly, in bags, and in bags sent as bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/runtime/VProgressIndicator.h"
#include "basekit/runtime/VProgressManager.h"
#include "basekit/runtime/VRemoteProgressSessionInfo.h"

using namespace bkit;

namespace {

constexpr uint32_t kNumbers = eRemoteProgress_SessionCount | eRemoteProgress_ChangesVersion |
                              eRemoteProgress_SessionVersion | eRemoteProgress_MasterSessionVersion;

enum class Transport { Direct, Bag, Stream };

// Counts the sessions the mirror opens and ends.
class CountingIndicator : public VProgressIndicator {
public:
    void DoBeginSession(int32_t) override { ++fBegun; }
    void DoEndSession(int32_t) override { ++fEnded; }
    int fBegun = 0;
    int fEnded = 0;
};

// One direction of the exchange: the sender keeps the record it sent last, the
// receiver the record it read last, as two processes would.
class Link {
public:
    explicit Link(Transport transport) : fTransport(transport) {}

    // Sends what changed on remote to mirror; false when GetProgressInfo had
    // nothing to send.
    bool Send(VProgressIndicator& remote, VProgressIndicator& mirror)
    {
        VRemoteProgressSessionInfo record;
        if (!remote.GetProgressInfo(record, fHasSent ? &fSent : nullptr))
            return false;
        VRemoteProgressSessionInfo received;
        if (fTransport == Transport::Direct) {
            received = record;
        } else {
            fBag = VRefPtr<VValueBag>::Adopt(new VValueBag);
            VString elementName;
            record.SaveToBag(*fBag, elementName, fHasSent ? &fSent : nullptr);
            EXPECT_EQ(elementName, VString("DistantSessionInfo"));
            VRefPtr<VValueBag> arrived = fTransport == Transport::Stream ? ThroughBytes(*fBag) : fBag;
            EXPECT_EQ(received.LoadFromBag(*arrived, fHasReceived ? &fReceived : nullptr), VE_OK);
        }
        mirror.UpdateFromRemoteInfo(received);
        fSent = record;
        fReceived = received;
        fHasSent = fHasReceived = true;
        return true;
    }

    const VRemoteProgressSessionInfo& LastSent() const { return fSent; }
    // The bag of the last record (null when handed over directly).
    const VValueBag* LastBag() const { return fBag.Get(); }

    static VRefPtr<VValueBag> ThroughBytes(const VValueBag& bag)
    {
        VPtrStream out;
        out.OpenWriting();
        EXPECT_EQ(bag.WriteToStream(&out), VE_OK);
        out.CloseWriting();
        VStreamUnderlyingData data = out.GetUnderlyingData();
        VConstPtrStream in(data.fData, data.fSize);
        in.OpenReading();
        auto read = VRefPtr<VValueBag>::Adopt(new VValueBag);
        EXPECT_EQ(read->ReadFromStream(&in), VE_OK);
        in.CloseReading();
        return read;
    }

private:
    Transport fTransport;
    VRemoteProgressSessionInfo fSent;
    VRemoteProgressSessionInfo fReceived;
    bool fHasSent = false;
    bool fHasReceived = false;
    VRefPtr<VValueBag> fBag;
};

VString Message(VProgressIndicator& progress)
{
    VString message;
    progress.GetMessage(message);
    return message;
}

VString Attribute(VProgressIndicator& progress, const char* name)
{
    VProgressSessionInfo sessions;
    progress.GetProgressInfo(sessions);
    VString value;
    if (sessions.fSessions.empty())
        return value;
    if (VValueBag* extra = sessions.fSessions.back().RetainExtraInfoBag()) {
        extra->GetString(name, value);
        extra->Release();
    }
    return value;
}

// The mirror shows what the remote shows.
void ExpectMirrors(VProgressIndicator& remote, VProgressIndicator& mirror)
{
    EXPECT_EQ(mirror.GetSessionCount(), remote.GetSessionCount());
    EXPECT_EQ(Message(mirror), Message(remote));
    EXPECT_EQ(mirror.GetCurrentValue(), remote.GetCurrentValue());
    EXPECT_EQ(mirror.GetMaxValue(), remote.GetMaxValue());
    EXPECT_FLOAT_EQ(mirror.ComputePercentDone(), remote.ComputePercentDone());
}

class RemoteProgressTest : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override { fStartedManager = VProgressManager::sProgressManager == nullptr && VProgressManager::Init(); }
    void TearDown() override
    {
        if (fStartedManager)
            VProgressManager::Deinit();
    }
    bool fStartedManager = false;
};

}  // namespace

TEST_P(RemoteProgressTest, MirrorFollowsNestedSessions)
{
    auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    auto mirror = VRefPtr<CountingIndicator>::Adopt(new CountingIndicator);
    Link link(GetParam());

    remote->BeginSession(4, "outer");
    remote->Increment();
    remote->BeginSession(10, "file {curValue} of {maxValue}");
    remote->Progress(5);
    remote->SetAttribute("file", "a.txt");
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_TRUE(mirror->IsRemoteSession());
    EXPECT_EQ(mirror->GetRemoteBaseLevel(), 0);
    EXPECT_EQ(mirror->fBegun, 2);
    EXPECT_EQ(mirror->GetSessionVersion(), remote->GetSessionVersion());
    ExpectMirrors(*remote, *mirror);
    EXPECT_EQ(Message(*mirror), VString("file 5 of 10"));
    EXPECT_EQ(Attribute(*mirror, "file"), VString("a.txt"));

    EXPECT_FALSE(link.Send(*remote, *mirror)) << "nothing changed since the last record";

    remote->Increment();
    remote->SetAttribute("file", "b.txt");
    mirror->UpdateSessionsInfos();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    ExpectMirrors(*remote, *mirror);
    EXPECT_EQ(Attribute(*mirror, "file"), VString("b.txt"));
    // Applying records is the mirror's work: observers get their snapshot.
    auto snapshot = VRefPtr<VRefCountedSessionInfo>::Adopt(mirror->RetainSessionsInfos());
    ASSERT_NE(snapshot.Get(), nullptr);
    ASSERT_EQ(snapshot->GetCount(), 2u);
    EXPECT_EQ(snapshot->GetNth(1)->GetValue(), 6);
    EXPECT_TRUE(snapshot->GetNth(1)->IsRemote());

    // Nesting deeper, then back out: the mirror opens and ends as many.
    remote->BeginUndeterminedSession("scanning");
    ASSERT_TRUE(link.Send(*remote, *mirror));
    ExpectMirrors(*remote, *mirror);
    EXPECT_EQ(mirror->fBegun, 3);
    remote->EndSession();
    remote->EndSession();
    remote->Increment();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    ExpectMirrors(*remote, *mirror);
    EXPECT_EQ(Message(*mirror), VString("outer"));
    EXPECT_EQ(mirror->GetCurrentValue(), 2);
    EXPECT_EQ(mirror->fEnded, 2);

    remote->EndSession();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_TRUE(link.LastSent().fSessions.empty()) << "an ended session is not sent as open";
    EXPECT_FALSE(mirror->IsRemoteSession());
    EXPECT_EQ(mirror->GetSessionCount(), 0);
    EXPECT_EQ(mirror->fEnded, 3);
}

TEST_P(RemoteProgressTest, NewRunOfTheRemoteReplacesTheMirroredOne)
{
    auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    auto mirror = VRefPtr<CountingIndicator>::Adopt(new CountingIndicator);
    Link link(GetParam());
    remote->BeginSession(3, "first run");
    remote->Increment(2);
    ASSERT_TRUE(link.Send(*remote, *mirror));

    // Both happen between two records, within the same millisecond or not.
    remote->EndSession();
    remote->BeginSession(8, "second run");
    remote->Increment();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_TRUE(link.LastSent().fFlags & eRemoteProgress_SessionStack);
    ExpectMirrors(*remote, *mirror);
    EXPECT_EQ(mirror->GetMasterSessionVersion(), remote->GetSessionVersion());
    EXPECT_EQ(mirror->fEnded, 1);
    EXPECT_EQ(mirror->fBegun, 2);
    remote->EndSession();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_EQ(mirror->GetSessionCount(), 0);
}

TEST_P(RemoteProgressTest, UserAbortAndInterruptibilityPropagate)
{
    auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    auto mirror = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    Link link(GetParam());
    remote->BeginSession(10, "work");
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_FALSE(mirror->IsUserAbort());

    remote->SetUserAbort(true);
    remote->SetCanInterrupt(false, false);
    EXPECT_FALSE(remote->Increment());
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_EQ(link.LastSent().fFlags & (eRemoteProgress_UserAbort | eRemoteProgress_CanInterrupt),
              eRemoteProgress_UserAbort | eRemoteProgress_CanInterrupt);
    EXPECT_TRUE(mirror->IsUserAbort());
    EXPECT_FALSE(mirror->IsInterruptibleByDefault());
    EXPECT_FALSE(mirror->Increment()) << "the mirror's own callers stop too";

    // An abort asked for on the mirror is not withdrawn by the peer.
    remote->SetUserAbort(false);
    remote->Increment();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    EXPECT_TRUE(mirror->IsUserAbort());
    remote->EndSession();
}

INSTANTIATE_TEST_SUITE_P(Transports, RemoteProgressTest,
                         ::testing::Values(Transport::Direct, Transport::Bag, Transport::Stream),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                             switch (info.param) {
                                 case Transport::Direct: return "Direct";
                                 case Transport::Bag: return "Bag";
                                 default: return "Stream";
                             }
                         });

using RemoteProgressRecordTest = RemoteProgressTest;

TEST_F(RemoteProgressRecordTest, SecondRecordIsADeltaOfTheCurrentSession)
{
    auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    auto mirror = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    Link link(Transport::Stream);
    remote->BeginSession(4, "outer");
    remote->BeginSession(10, "inner");
    ASSERT_TRUE(link.Send(*remote, *mirror));
    int32_t flags = 0;
    ASSERT_TRUE(link.LastBag()->GetLong("fFlags", flags));
    EXPECT_EQ(static_cast<uint32_t>(flags),
              kNumbers | eRemoteProgress_UserAbort | eRemoteProgress_CanInterrupt | eRemoteProgress_SessionStack);
    ASSERT_NE(link.LastBag()->GetElements("fSessionStack"), nullptr);
    EXPECT_EQ(link.LastBag()->GetElements("fSessionStack")->GetCount(), 2);
    EXPECT_EQ(link.LastBag()->GetElements("fCurrent"), nullptr);

    remote->Increment();
    ASSERT_TRUE(link.Send(*remote, *mirror));
    const VValueBag* bag = link.LastBag();
    ASSERT_TRUE(bag->GetLong("fFlags", flags));
    EXPECT_EQ(static_cast<uint32_t>(flags), kNumbers | eRemoteProgress_Current);
    EXPECT_FALSE(bag->AttributeExists("fUserAbort"));
    EXPECT_EQ(bag->GetElements("fSessionStack"), nullptr);
    ASSERT_NE(bag->GetElements("fCurrent"), nullptr);
    const VValueBag* current = bag->GetElements("fCurrent")->GetNth(1);
    ASSERT_TRUE(current->GetLong("fUpdateFlags", flags));
    EXPECT_EQ(flags, eProgressUpdate_Value);
    EXPECT_EQ(current->GetAttributesCount(), 2) << "the flags and the value alone";
    EXPECT_EQ(mirror->GetCurrentValue(), 1);
    EXPECT_EQ(Message(*mirror), VString("inner")) << "fields the delta leaves out stay as they were";
    remote->EndSession();
    remote->EndSession();
}

TEST_F(RemoteProgressRecordTest, BusyLockSendsNothing)
{
    auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    remote->BeginSession(4, "work");
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        remote->Lock();
        held = true;
        while (!release.load())
            std::this_thread::yield();
        remote->Unlock();
    });
    while (!held.load())
        std::this_thread::yield();
    VRemoteProgressSessionInfo record;
    record.fSessionCount = 77;
    const bool sent = remote->GetProgressInfo(record, nullptr);
    release = true;
    holder.join();
    EXPECT_FALSE(sent);
    EXPECT_EQ(record.fSessionCount, 77) << "a busy indicator leaves the record alone";
    EXPECT_TRUE(remote->GetProgressInfo(record, nullptr));
    EXPECT_EQ(record.fSessionCount, 1);
    remote->EndSession();
}

// The remote side was told who to report to (WriteInfoForRemote) while the
// local indicator had a session of its own open.
TEST_F(RemoteProgressRecordTest, MirroredSessionsLieAboveTheLocalOnes)
{
    auto local = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    local->BeginSession(2, "local");
    local->Increment();
    VValueBag identity;
    VString elementName;
    local->WriteInfoForRemote(identity, elementName);
    VUUID uuid;
    int32_t version = 0;
    ASSERT_TRUE(identity.GetAttribute("uuid", uuid));
    ASSERT_TRUE(identity.GetLong("version", version));

    struct Case {
        const char* name;
        int32_t masterVersion;
        bool mirrored;
    };
    const Case cases[] = {
        {"reports to the open local session", version, true},
        {"reports to an earlier run of it", version - 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator(uuid, c.masterVersion));
        Link link(Transport::Bag);
        remote->BeginSession(10, "remote");
        remote->Progress(4);
        ASSERT_TRUE(link.Send(*remote, *local));
        EXPECT_EQ(local->IsRemoteSession(), c.mirrored);
        if (c.mirrored) {
            EXPECT_EQ(local->GetRemoteBaseLevel(), 1);
            EXPECT_EQ(local->GetSessionCount(), 2);
            EXPECT_EQ(Message(*local), VString("remote"));
            EXPECT_FLOAT_EQ(local->ComputePercentDone(), 0.5f + 0.4f / 2);
            remote->Increment();
            ASSERT_TRUE(link.Send(*remote, *local));
            EXPECT_EQ(local->GetCurrentValue(), 5);
            remote->EndSession();
            ASSERT_TRUE(link.Send(*remote, *local));
        }
        EXPECT_FALSE(local->IsRemoteSession());
        EXPECT_EQ(local->GetSessionCount(), 1);
        EXPECT_EQ(Message(*local), VString("local")) << "the local session is left as it was";
        EXPECT_EQ(local->GetCurrentValue(), 1);
        EXPECT_EQ(local->GetSessionVersion(), version);
    }
    local->EndSession();
}

TEST_F(RemoteProgressRecordTest, IgnoresRecordsItCannotStartFrom)
{
    auto remote = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    auto mirror = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator);
    VRemoteProgressSessionInfo first;
    ASSERT_TRUE(remote->GetProgressInfo(first, nullptr)) << "a first record is always sent";
    EXPECT_TRUE(first.fSessions.empty());
    mirror->UpdateFromRemoteInfo(first);
    EXPECT_FALSE(mirror->IsRemoteSession());

    // A delta of a session the mirror never saw whole.
    remote->BeginSession(5, "work");
    VRemoteProgressSessionInfo whole;
    ASSERT_TRUE(remote->GetProgressInfo(whole, &first));
    remote->Increment();
    VRemoteProgressSessionInfo delta;
    ASSERT_TRUE(remote->GetProgressInfo(delta, &whole));
    ASSERT_TRUE(delta.fFlags & eRemoteProgress_Current);
    mirror->UpdateFromRemoteInfo(delta);
    EXPECT_FALSE(mirror->IsRemoteSession());
    EXPECT_EQ(mirror->GetSessionCount(), 0);
    remote->EndSession();
}

TEST_F(RemoteProgressRecordTest, RefusesBagsMissingWhatTheirFlagsName)
{
    struct Case {
        const char* name;
        int32_t flags;  // -1: no "fFlags"
    };
    const Case cases[] = {
        {"no flags", -1},
        {"current named but absent", static_cast<int32_t>(eRemoteProgress_Current)},
        {"session count named but absent", static_cast<int32_t>(eRemoteProgress_SessionCount)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VValueBag bag;
        if (c.flags >= 0)
            bag.SetLong("fFlags", c.flags);
        VRemoteProgressSessionInfo record;
        record.fSessionCount = 3;
        EXPECT_EQ(record.LoadFromBag(bag, nullptr), VE_INVALID_PARAMETER);
        EXPECT_EQ(record.fSessionCount, 0);
        EXPECT_TRUE(record.fSessions.empty());
    }
}
