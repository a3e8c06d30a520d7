// VProgressIndicator.cpp - nested progress sessions of a long operation.
#include "basekit/runtime/VProgressIndicator.h"

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VMetricsManager.h"
#include "basekit/runtime/VProgressManager.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

namespace {

const StPackedDictionaryKey kUserInfo("UserInfo");
const StPackedDictionaryKey kSessionCount("SessionCount");
const StPackedDictionaryKey kTitle("Title");
const StPackedDictionaryKey kCanInterrupt("CanInterrupt");

}  // namespace

VProgressIndicator::VProgressIndicator() : fUUID(true)
{
    _Init();
}

VProgressIndicator::VProgressIndicator(const VUUID& uuid, int32_t sessionVersion)
    : fUUID(uuid), fSessionVersion(sessionVersion), fMasterSessionVersion(sessionVersion)
{
    _Init();
}

void VProgressIndicator::_Init()
{
    VProgressManager::RegisterProgress(this);
}

VProgressIndicator::~VProgressIndicator()
{
    VProgressManager::UnregisterProgress(this);
    ReleaseRefCountable(&fSnapshot);
}

// --- sessions ---

void VProgressIndicator::BeginSession(int64_t max, const VString& message)
{
    BeginSession(max, 0, message, fInterruptibleByDefault, fDefaultCollector);
}

void VProgressIndicator::BeginSession(int64_t max, const VString& message, IProgressInfoCollector* collector)
{
    BeginSession(max, 0, message, fInterruptibleByDefault, collector);
}

void VProgressIndicator::BeginSession(int64_t max, const VString& message, bool canInterrupt,
                                      IProgressInfoCollector* collector)
{
    BeginSession(max, 0, message, canInterrupt, collector);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message)
{
    BeginSession(-1, 0, message, fInterruptibleByDefault, fDefaultCollector);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message, bool canInterrupt,
                                                  IProgressInfoCollector* collector)
{
    BeginSession(-1, 0, message, canInterrupt, collector);
}

void VProgressIndicator::BeginSession(int64_t max, int64_t value, const VString& message, bool canInterrupt,
                                      IProgressInfoCollector* collector)
{
    if (fSessionCount == 0)
        fOwnerTaskID = VTask::GetCurrentID();
    StLocker<VCriticalSection> locker(fLock);
    ++fChangesVersion;
    if (fSessionCount == 0) {
        ++fSessionVersion;
        if (!collector)
            collector = fDefaultCollector;
    } else {
        fSavedSessions.push_back(fCurrent);
    }
    fCurrent.Begin(message, value, max, canInterrupt, collector);
    ++fSessionCount;
    DoBeginSession(fSessionCount);
}

void VProgressIndicator::EndSession()
{
    if (fSessionCount <= 0)
        return;
    if (fRemoteSession) {
        while (fSessionCount > fRemoteBaseLevel && fSessionCount > 0)
            _EndSession();
        fRemoteSession = false;
        if (fSessionCount <= 0)
            return;
    }
    _EndSession();
}

void VProgressIndicator::_EndSession()
{
    {
        StLocker<VCriticalSection> locker(fLock);
        _ServeSnapshotIfRequested();
        ++fChangesVersion;
        if (!fSavedSessions.empty()) {
            fCurrent = fSavedSessions.back();
            fSavedSessions.pop_back();
        }
        DoEndSession(fSessionCount);
        --fSessionCount;
        if (fSessionCount == 0)
            ++fSessionVersion;
    }
    DoMetrics();
}

// --- progress ---

bool VProgressIndicator::DoProgress()
{
    VTaskMgr::Get()->Yield();
    return !IsUserAbort();
}

bool VProgressIndicator::_AfterProgress()
{
    bool goOn = DoProgress();
    if (goOn && fInterruptibleByDefault) {
        VTask* task = VTask::GetCurrent();
        if (task && task->GetState() >= TS_DYING)
            goOn = false;
    }
    return goOn;
}

bool VProgressIndicator::Increment(int64_t delta)
{
    _ServeSnapshotIfRequested();
    if (fSessionCount <= 0)
        return true;
    ++fChangesVersion;
    fCurrent.SetValue(fCurrent.GetValue() + delta);
    return _AfterProgress();
}

bool VProgressIndicator::Decrement(int64_t delta)
{
    return Increment(-delta);
}

bool VProgressIndicator::Progress(int64_t value)
{
    _ServeSnapshotIfRequested();
    if (fSessionCount <= 0)
        return true;
    ++fChangesVersion;
    fCurrent.SetValue(value);
    return _AfterProgress();
}

void VProgressIndicator::SetMaxValue(int64_t max)
{
    if (fSessionCount <= 0)
        return;
    ++fChangesVersion;
    fCurrent.SetMax(max);
}

int64_t VProgressIndicator::GetMaxValue() const
{
    return fSessionCount > 0 ? fCurrent.GetMax() : 0;
}

int64_t VProgressIndicator::GetCurrentValue() const
{
    return fSessionCount > 0 ? fCurrent.GetValue() : 0;
}

void VProgressIndicator::SetMessage(const VString& message)
{
    if (fSessionCount <= 0)
        return;
    ++fChangesVersion;
    fCurrent.SetMessage(message);
}

void VProgressIndicator::GetMessage(VString& message) const
{
    if (fSessionCount > 0)
        fCurrent.GetMessage(message);
}

bool VProgressIndicator::SetMessageAndValue(const VString& message, int64_t value)
{
    SetMessage(message);
    return Progress(value);
}

bool VProgressIndicator::SetMessageAndIncrementValue(const VString& message, int64_t delta)
{
    SetMessage(message);
    return Increment(delta);
}

void VProgressIndicator::Reset(const VString& message, int64_t max, int64_t value)
{
    if (fSessionCount <= 0)
        return;
    StLocker<VCriticalSection> locker(fLock);
    ++fChangesVersion;
    fCurrent.Begin(message, value, max, true, nullptr);
}

void VProgressIndicator::SetCanInterrupt(bool value, bool forCurrentSession)
{
    if (!forCurrentSession) {
        fInterruptibleByDefault = value;
    } else if (fSessionCount > 0) {
        ++fChangesVersion;
        fCurrent.SetCanInterrupt(value);
    }
}

void VProgressIndicator::SetAttribute(const VString& name, const VString& value)
{
    if (fSessionCount <= 0)
        return;
    ++fChangesVersion;
    fCurrent.SetAttribute(name, value);
}

void VProgressIndicator::RemoveAttribute(const VString& name)
{
    if (fSessionCount <= 0)
        return;
    ++fChangesVersion;
    fCurrent.RemoveAttribute(name);
}

void VProgressIndicator::SetProgressInfoCollector(IProgressInfoCollector* collector,
                                                  IProgressInfoCollector** previous)
{
    if (previous)
        *previous = nullptr;
    if (fSessionCount <= 0)
        return;
    if (previous)
        *previous = fCurrent.GetCollector();
    fCurrent.SetCollector(collector);
}

float VProgressIndicator::_ComputePercentDone() const
{
    if (fSessionCount <= 0)
        return 0.0f;
    if (fCurrent.GetMax() <= 0)
        return static_cast<float>(fCurrent.GetValue());
    float result = 0.0f;
    float scale = 1.0f;
    for (const VProgressIndicatorInfo& saved : fSavedSessions) {
        if (saved.GetMax() <= 0)
            return 0.0f;
        scale *= static_cast<float>(saved.GetMax());
        result += static_cast<float>(saved.GetValue()) / scale;
    }
    result += static_cast<float>(fCurrent.GetValue()) / (static_cast<float>(fCurrent.GetMax()) * scale);
    return result;
}

// --- snapshots ---

void VProgressIndicator::UpdateSessionsInfos()
{
    if (fSessionCount > 0)
        fSnapshotRequested.fetch_add(1, std::memory_order_acq_rel);
}

void VProgressIndicator::_ServeSnapshot()
{
    const uint32_t requested = fSnapshotRequested.load(std::memory_order_acquire);
    if (fSessionCount > 0) {
        VRefCountedSessionInfo* snapshot = new VRefCountedSessionInfo;
        for (VProgressIndicatorInfo& saved : fSavedSessions) {
            saved.Collect();
            snapshot->Add(new VProgressIndicatorInfo(saved));
        }
        fCurrent.Collect();
        snapshot->Add(new VProgressIndicatorInfo(fCurrent));
        StLocker<VCriticalSection> locker(fSnapshotLock);
        ReleaseRefCountable(&fSnapshot);
        fSnapshot = snapshot;
    }
    fSnapshotServed = requested;
}

VRefCountedSessionInfo* VProgressIndicator::RetainSessionsInfos()
{
    StLocker<VCriticalSection> locker(fSnapshotLock);
    return RetainRefCountable(fSnapshot);
}

// --- copies ---

void VProgressIndicator::GetProgressInfo(VProgressSessionInfo& info)
{
    StLocker<VCriticalSection> locker(fLock);
    info.fSessions.clear();
    if (fSessionCount <= 0)
        return;
    info.fSessions.assign(fSavedSessions.begin(), fSavedSessions.end());
    info.fSessions.push_back(fCurrent);
}

void VProgressIndicator::SetProgressInfo(const VProgressSessionInfo& info)
{
    StLocker<VCriticalSection> locker(fLock);
    ++fChangesVersion;
    fSavedSessions.clear();
    if (info.fSessions.empty()) {
        fSessionCount = 0;
        return;
    }
    fSavedSessions.assign(info.fSessions.begin(), info.fSessions.end() - 1);
    fCurrent = info.fSessions.back();
    fSessionCount = static_cast<int32_t>(info.fSessions.size());
}

void VProgressIndicator::SaveInfoToBag(VValueBag& bag)
{
    StLocker<VCriticalSection> locker(fLock);
    bag.SetString(kUserInfo, fUserInfo);
    bag.SetLong(kSessionCount, fSessionCount);
    bag.SetString(kTitle, fTitle);
    bag.SetBool(kCanInterrupt, fInterruptibleByDefault);
    if (fSessionCount <= 0)
        return;
    for (const VProgressIndicatorInfo& saved : fSavedSessions)
        saved.SaveToBag(bag, "SessionInfo", nullptr);
    fCurrent.SaveToBag(bag, "SessionInfo", nullptr);
}

// --- metrics ---

void VProgressIndicator::DoMetrics()
{
    if (!fCurrent.IsStarted())
        return;
    const unsigned long long duration = fCurrent.GetElapsed();
    VMetricsManager* metrics = VMetricsManager::GetProcessManager();
    if (!metrics || !metrics->IsCollecting(eMetricsKind_ProgressSession))
        return;
    VJSONObject* data = fCurrent.GetJSONObject();
    data->SetPropertyAsString("title", fTitle);
    VString message;
    fCurrent.GetMessage(message);
    data->SetPropertyAsString("infoMessage", message);
    if (VValueBag* extra = fCurrent.RetainExtraInfoBag()) {
        VJSONValue json;
        if (extra->GetJSONValue(json) == VE_OK && json.IsObject())
            data->SetProperty("extraInfo", json);
        extra->Release();
    }
    if (VJSONObject* collected = fCurrent.GetCollectedInfo()) {
        VJSONCloner cloner;
        VJSONValue clone;
        if (cloner.CloneObject(collected, clone) == VE_OK)
            data->SetProperty("subOperations", clone);
    }
    metrics->Push(eMetricsKind_ProgressSession, duration, data);
    data->Release();
}

}  // namespace bkit
