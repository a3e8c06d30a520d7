// VProgressIndicator.h - nested progress sessions of a long operation.
//
// This file defines VProgressIndicator: a stack of nested sessions, each with a
// message, a value and a maximum (undetermined when the maximum is 0 or less),
// one unit of a session being subdivided by the session opened inside it.
//
// Contracts:
// - The working task opens and ends sessions and reports progress; a progress
//   call answers false when the operation should stop (user abort, or an
//   interruptible indicator whose task is dying). Streams turn that answer into
//   'bkit' 206.
// - Observers never touch the sessions: UpdateSessionsInfos asks for a snapshot
//   (an atomic counter), the working task publishes it at its next progress
//   call or session end, and RetainSessionsInfos hands out the last one. The
//   working task never waits for an observer and takes no lock on a progress
//   call unless a snapshot was asked for.
// - Each ended session (and the unregistering of the indicator) pushes a metric
//   of kind 2 to the process's metrics manager when that kind is collected.
// - Remote exchange (VProgressIndicatorRemote.cpp): GetProgressInfo fills
//   delta records of this indicator for a peer without ever waiting for the
//   lock; UpdateFromRemoteInfo applies a peer's records, under the lock, to the
//   sessions opened above the local ones (the remote base level), so that this
//   indicator mirrors the remote one. The task that applies records is the
//   mirror's working task: it serves the snapshots observers ask for.
// - Reference counted; registered by UUID with the progress manager (when it
//   exists) from construction to destruction; the manager keeps no reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VProgressIndicatorInfo.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VUUID.h"

namespace bkit {

class VValueBag;
class VStream;
class VRemoteProgressSessionInfo;

class VProgressIndicator : public VObject, public IRefCountable {
public:
    VProgressIndicator();
    VProgressIndicator(const VUUID& uuid, int32_t sessionVersion);
    ~VProgressIndicator() override;
    VProgressIndicator(const VProgressIndicator&) = delete;
    VProgressIndicator& operator=(const VProgressIndicator&) = delete;

    // --- overridables ---
    virtual void SaveInfoToBag(VValueBag& bag);
    virtual bool IsManagerValid() { return true; }
    virtual void DoBeginSession(int32_t /*sessionCount*/) {}
    virtual void DoEndSession(int32_t /*sessionCount*/) {}
    // Yields the processor; false when user abort is set.
    virtual bool DoProgress();

    void Lock() { fLock.Lock(); }
    void Unlock() { fLock.Unlock(); }

    // --- sessions ---
    void BeginSession(int64_t max, const VString& message);
    void BeginSession(int64_t max, const VString& message, IProgressInfoCollector* collector);
    void BeginSession(int64_t max, const VString& message, bool canInterrupt, IProgressInfoCollector* collector);
    void BeginSession(int64_t max, int64_t value, const VString& message, bool canInterrupt,
                      IProgressInfoCollector* collector);
    void BeginUndeterminedSession(const VString& message);
    void BeginUndeterminedSession(const VString& message, bool canInterrupt, IProgressInfoCollector* collector);
    // Ends the innermost session (nothing when none is open).
    void EndSession();
    int32_t GetSessionCount() const { return fSessionCount; }
    int32_t GetSessionVersion() const { return fSessionVersion; }

    // --- progress (answers whether the operation may go on) ---
    bool Increment(int64_t delta = 1);
    bool Decrement(int64_t delta = 1);
    bool Progress(int64_t value);

    void SetMaxValue(int64_t max);
    // 0 without a session.
    int64_t GetMaxValue() const;
    int64_t GetCurrentValue() const;
    void SetMessage(const VString& message);
    // The formatted message; untouched without a session.
    void GetMessage(VString& message) const;
    bool SetMessageAndValue(const VString& message, int64_t value);
    bool SetMessageAndIncrementValue(const VString& message, int64_t delta);
    // Restarts the current session with these values (can interrupt true).
    void Reset(const VString& message, int64_t max, int64_t value);

    // forCurrentSession false: the interruptible-by-default flag; true: the
    // current session's flag (only while a session is open).
    void SetCanInterrupt(bool value, bool forCurrentSession);
    bool IsInterruptibleByDefault() const { return fInterruptibleByDefault; }

    void SetAttribute(const VString& name, const VString& value);
    void RemoveAttribute(const VString& name);
    void SetProgressInfoCollector(IProgressInfoCollector* collector, IProgressInfoCollector** previous);
    void SetDefaultInfoCollector(IProgressInfoCollector* collector) { fDefaultCollector = collector; }

    // The fraction done, from the outermost session in (takes no lock).
    float ComputePercentDone() const { return _ComputePercentDone(); }
    float _ComputePercentDone() const;

    // --- user abort ---
    void SetUserAbort(bool abort) { fUserAbort.store(abort, std::memory_order_release); }
    bool IsUserAbort() const { return fUserAbort.load(std::memory_order_acquire); }

    // --- identity ---
    const VUUID& GetUUID() const { return fUUID; }
    void SetTitle(const VString& title) { fTitle = title; }
    const VString& GetTitle() const { return fTitle; }
    void SetUserInfo(const VString& info) { fUserInfo = info; }
    const VString& GetUserInfo() const { return fUserInfo; }
    uint32_t GetChangesVersion() const { return fChangesVersion; }
    int32_t GetOwnerTaskID() const { return fOwnerTaskID; }

    // --- observers (any task) ---
    // Asks the working task for a new snapshot (while a session is open).
    void UpdateSessionsInfos();
    // The last published snapshot, retained, or null.
    VRefCountedSessionInfo* RetainSessionsInfos();

    // --- copies ---
    // Copies of every session, outermost first, under the lock.
    void GetProgressInfo(VProgressSessionInfo& info);
    // Replaces the sessions by copies of info's (the last one current).
    void SetProgressInfo(const VProgressSessionInfo& info);
    // The identification a peer needs: byte-order marker, UUID, session version.
    VError WriteInfoForRemote(VStream* stream);
    void WriteInfoForRemote(VValueBag& bag, VString& elementName);

    // --- remote exchange ---
    // Fills remoteInfo with what changed since previous (everything without
    // one). False, remoteInfo untouched, when another task holds the lock or
    // nothing changed since previous.
    bool GetProgressInfo(VRemoteProgressSessionInfo& remoteInfo, const VRemoteProgressSessionInfo* previous);
    // Applies a remote indicator's record to the sessions mirrored above the
    // local ones, opening and ending them as the remote ones open and end.
    // A record for another run of the master session than the mirrored one
    // ends the mirrored sessions.
    void UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& remoteInfo);
    // True while sessions of a remote peer are mirrored.
    bool IsRemoteSession() const { return fRemoteSession; }
    // The number of local sessions below the mirrored ones.
    int32_t GetRemoteBaseLevel() const { return fRemoteBaseLevel; }
    // The session version of the indicator this one reports to: the version
    // given at construction, or that of the remote indicator it mirrors.
    int32_t GetMasterSessionVersion() const { return fMasterSessionVersion; }

    // Records the metric of the current session (progress manager and EndSession).
    void DoMetrics();

private:
    void _Init();
    void _EndSession();
    bool _AfterProgress();
    void _ServeSnapshot();
    // Remote exchange, under the lock.
    void _BeginRemoteSession(const VProgressIndicatorInfo& info);
    void _BeginRemoteSessions(const VRemoteProgressSessionInfo& remoteInfo);
    void _EndRemoteSessions();
    void _TakeRemoteStack(const VRemoteProgressSessionInfo& remoteInfo);
    void _ServeSnapshotIfRequested()
    {
        if (fSnapshotRequested.load(std::memory_order_acquire) != fSnapshotServed)
            _ServeSnapshot();
    }

    VUUID fUUID;
    VCriticalSection fLock;
    std::deque<VProgressIndicatorInfo> fSavedSessions;
    VProgressIndicatorInfo fCurrent;
    std::atomic<int32_t> fSessionCount{0};
    bool fRemoteSession = false;
    int32_t fRemoteBaseLevel = 0;
    bool fInterruptibleByDefault = true;
    VString fTitle;
    int32_t fSessionVersion = 0;
    int32_t fMasterSessionVersion = 0;
    std::atomic<bool> fUserAbort{false};
    uint32_t fChangesVersion = 0;
    VString fUserInfo;
    IProgressInfoCollector* fDefaultCollector = nullptr;
    VCriticalSection fSnapshotLock;
    VRefCountedSessionInfo* fSnapshot = nullptr;
    uint32_t fSnapshotServed = 0xFFFFFFFF;
    std::atomic<uint32_t> fSnapshotRequested{0};
    int32_t fOwnerTaskID = 0;
};

}  // namespace bkit
