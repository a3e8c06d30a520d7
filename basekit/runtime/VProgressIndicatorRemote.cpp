// VProgressIndicatorRemote.cpp - how a progress indicator is followed by a peer.
//
// The remote side describes itself (WriteInfoForRemote) and then sends delta
// records (GetProgressInfo); the local side mirrors them above its own sessions
// (UpdateFromRemoteInfo).
#include "basekit/bags/VValueBag.h"
#include "basekit/files/VStream.h"
#include "basekit/runtime/VProgressIndicator.h"
#include "basekit/runtime/VRemoteProgressSessionInfo.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

namespace {

const StPackedDictionaryKey kUUID("uuid");
const StPackedDictionaryKey kVersion("version");

// Unlocks on leaving a scope whose lock was taken by TryToLock.
class StTriedLock {
public:
    explicit StTriedLock(VCriticalSection& lock) : fLock(lock), fHeld(lock.TryToLock()) {}
    ~StTriedLock()
    {
        if (fHeld)
            fLock.Unlock();
    }
    StTriedLock(const StTriedLock&) = delete;
    StTriedLock& operator=(const StTriedLock&) = delete;
    bool IsHeld() const { return fHeld; }

private:
    VCriticalSection& fLock;
    bool fHeld;
};

}  // namespace

VError VProgressIndicator::WriteInfoForRemote(VStream* stream)
{
    if (!stream)
        return VE_INVALID_PARAMETER;
    // A reader that sees 256 knows the two sides disagree on byte order.
    stream->PutWord(stream->NeedSwap() ? 256 : 1);
    fUUID.WriteToStream(stream);
    return stream->PutLong(fSessionVersion);
}

void VProgressIndicator::WriteInfoForRemote(VValueBag& bag, VString& elementName)
{
    bag.SetVUUID(kUUID, fUUID);
    bag.SetLong(kVersion, fSessionVersion);
    elementName = "VProgressIndicator";
}

bool VProgressIndicator::GetProgressInfo(VRemoteProgressSessionInfo& remoteInfo,
                                         const VRemoteProgressSessionInfo* previous)
{
    // The exchange runs beside the working task and must never hold it up.
    StTriedLock locker(fLock);
    if (!locker.IsHeld())
        return false;
    if (previous && previous->fChangesVersion == fChangesVersion)
        return false;

    const bool userAbort = IsUserAbort();
    const int32_t sessionCount = fSessionCount;
    uint32_t flags = 0;
    if (!previous || previous->fUserAbort != userAbort)
        flags |= eRemoteProgress_UserAbort;
    if (!previous || previous->fCanInterrupt != fInterruptibleByDefault)
        flags |= eRemoteProgress_CanInterrupt;
    const VProgressIndicatorInfo* previousCurrent = previous ? previous->GetCurrent() : nullptr;
    // Sessions that replaced those of the previous record go whole. Two
    // sessions begun within one millisecond share a start time, so a new run
    // is also told by its session version.
    const bool includeStack = !previous || previous->fSessionCount != sessionCount || !previousCurrent ||
                              previousCurrent->GetStartTime() != fCurrent.GetStartTime() ||
                              previous->fSessionVersion != fSessionVersion;

    remoteInfo.fFlags = flags;
    remoteInfo.fUserAbort = userAbort;
    remoteInfo.fCanInterrupt = fInterruptibleByDefault;
    remoteInfo.FromProgressInfo(sessionCount, fChangesVersion, fSessionVersion, fMasterSessionVersion,
                                fSavedSessions, fCurrent, includeStack);
    return true;
}

void VProgressIndicator::UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& remoteInfo)
{
    StLocker<VCriticalSection> locker(fLock);
    const uint32_t flags = remoteInfo.fFlags;
    const bool hasSessions = !remoteInfo.fSessions.empty();

    // An abort asked for here stays asked for, whatever the peer says.
    if ((flags & eRemoteProgress_UserAbort) && !IsUserAbort())
        SetUserAbort(remoteInfo.fUserAbort);
    if (flags & eRemoteProgress_CanInterrupt)
        fInterruptibleByDefault = remoteInfo.fCanInterrupt;

    if (!fRemoteSession) {
        // Only a whole stack can start the mirror: a delta has nothing to
        // apply to yet.
        if (!hasSessions || !(flags & eRemoteProgress_SessionStack)) {
            _ServeSnapshotIfRequested();
            return;
        }
        fRemoteSession = true;
        fRemoteBaseLevel = fSessionCount;
        if (fSessionCount == 0)
            fSessionVersion = remoteInfo.fSessionVersion;
        fMasterSessionVersion = remoteInfo.fSessionVersion;
        fChangesVersion = remoteInfo.fChangesVersion;
        _BeginRemoteSessions(remoteInfo);
    }

    if (!hasSessions || (fRemoteBaseLevel != 0 && remoteInfo.fMasterSessionVersion != fSessionVersion)) {
        // The peer's sessions are over, or it reports to another run of the
        // local session: the mirror ends, and the rest of the record would
        // only write the peer's state into the local sessions.
        _EndRemoteSessions();
        fRemoteSession = false;
        _ServeSnapshotIfRequested();
        return;
    }

    if ((flags & eRemoteProgress_Current) && fChangesVersion != remoteInfo.fChangesVersion &&
        fSessionCount > fRemoteBaseLevel) {
        fCurrent.UpdateFromRemoteInfo(remoteInfo.fSessions.back(), remoteInfo.fCurrentUpdateFlags);
        fCurrent.SetRemote(true);
    }

    if (flags & eRemoteProgress_SessionStack) {
        if (fMasterSessionVersion != remoteInfo.fSessionVersion) {
            // A new run of the peer's sessions replaces the mirrored one.
            _EndRemoteSessions();
            if (fRemoteBaseLevel == 0)
                fSessionVersion = remoteInfo.fSessionVersion;
            fMasterSessionVersion = remoteInfo.fSessionVersion;
            fChangesVersion = remoteInfo.fChangesVersion;
            _BeginRemoteSessions(remoteInfo);
        } else if (fChangesVersion != remoteInfo.fChangesVersion) {
            _TakeRemoteStack(remoteInfo);
        }
    }

    fChangesVersion = remoteInfo.fChangesVersion;
    _ServeSnapshotIfRequested();
}

void VProgressIndicator::_BeginRemoteSession(const VProgressIndicatorInfo& info)
{
    // Like BeginSession, except that the versions come from the peer.
    if (fSessionCount == 0)
        fOwnerTaskID = VTask::GetCurrentID();
    else
        fSavedSessions.push_back(fCurrent);
    fCurrent.Begin(info.GetRawMessage(), info.GetValue(), info.GetMax(), info.GetCanInterrupt(), nullptr);
    fCurrent.UpdateFromRemoteInfo(info, eProgressUpdate_All);
    fCurrent.SetCollector(nullptr);
    fCurrent.SetRemote(true);
    ++fSessionCount;
    DoBeginSession(fSessionCount);
}

void VProgressIndicator::_BeginRemoteSessions(const VRemoteProgressSessionInfo& remoteInfo)
{
    for (const VProgressIndicatorInfo& info : remoteInfo.fSessions)
        _BeginRemoteSession(info);
}

void VProgressIndicator::_EndRemoteSessions()
{
    while (fSessionCount > fRemoteBaseLevel && fSessionCount > 0)
        _EndSession();
}

void VProgressIndicator::_TakeRemoteStack(const VRemoteProgressSessionInfo& remoteInfo)
{
    // The peer opened or ended nested sessions: the mirror opens or ends as
    // many, so that its count and fraction done follow.
    const int32_t wanted = static_cast<int32_t>(remoteInfo.fSessions.size());
    while (fSessionCount - fRemoteBaseLevel > wanted)
        _EndSession();
    const int32_t kept = fSessionCount - fRemoteBaseLevel;
    for (int32_t i = 0; i < kept; ++i) {
        const VProgressIndicatorInfo& info = remoteInfo.fSessions[static_cast<size_t>(i)];
        const int32_t level = fRemoteBaseLevel + i;  // 0 is the outermost local session
        VProgressIndicatorInfo& local =
            level == fSessionCount - 1 ? fCurrent : fSavedSessions[static_cast<size_t>(level)];
        local.UpdateFromRemoteInfo(info, eProgressUpdate_All);
        local.SetCollector(nullptr);
        local.SetRemote(true);
    }
    for (int32_t i = kept; i < wanted; ++i)
        _BeginRemoteSession(remoteInfo.fSessions[static_cast<size_t>(i)]);
}

}  // namespace bkit
