// VProgressIndicatorInfo.h - the state of one progress session and its copies.
//
// This file defines VProgressIndicatorInfo, the state of one session of a
// progress indicator (message, value, maximum, start time, extra attributes,
// the collector of sub-operations); IProgressInfoCollector, which describes a
// session's sub-operations as JSON; VRefCountedSessionInfo, the snapshot of
// every session that a working task publishes for observers; and
// VProgressSessionInfo, a plain copyable list of session infos.
//
// Ownership: an info retains its extra-info bag and its collected JSON; it does
// not retain its collector. Copies share the bag and the JSON by reference.
// An info is not thread-safe: the indicator's locks decide who touches it.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VUUID.h"

namespace bkit {

class VJSONObject;
class VValueBag;

// Describes the sub-operations of a session, on the working task, when an
// observer asked for a snapshot. Answers a new JSON object (the caller's
// reference) or null.
class IProgressInfoCollector {
public:
    virtual ~IProgressInfoCollector() = default;
    virtual VJSONObject* CollectInfo() = 0;
};

// Bits of "fUpdateFlags": which fields a delta record carries.
enum EProgressInfoUpdate : uint32_t {
    eProgressUpdate_Message = 1,
    eProgressUpdate_Value = 2,
    eProgressUpdate_Max = 4,
    eProgressUpdate_StartTime = 8,
    eProgressUpdate_CanInterrupt = 16,
    eProgressUpdate_ExtraInfoVersion = 32,
    eProgressUpdate_ExtraInfo = 64,
    eProgressUpdate_All = 1024,
};

class VProgressIndicatorInfo : public VObject {
public:
    VProgressIndicatorInfo();
    VProgressIndicatorInfo(const VProgressIndicatorInfo& other);
    VProgressIndicatorInfo& operator=(const VProgressIndicatorInfo& other);
    ~VProgressIndicatorInfo() override;

    // Value and maximum 0, empty message, start time now, no extra info (its
    // version grows), no collector, no collected info.
    void Reset();

    // Opens the info for a new session.
    void Begin(const VString& message, int64_t value, int64_t max, bool canInterrupt,
               IProgressInfoCollector* collector);

    int32_t GetTaskID() const { return fTaskID; }
    const VUUID& GetUUID() const { return fUUID; }
    const VString& GetRawMessage() const { return fMessage; }
    void SetMessage(const VString& message) { fMessage = message; }
    // The message with its placeholders replaced: "maxValue", "curValue",
    // "rateValue" (percent done, 0 when undetermined), "startTime", "duration".
    void GetMessage(VString& message) const;

    int64_t GetValue() const { return fValue; }
    void SetValue(int64_t value) { fValue = value; }
    int64_t GetMax() const { return fMax; }
    void SetMax(int64_t max) { fMax = max; }
    uint32_t GetStartTime() const { return fStartTime; }
    bool IsStarted() const { return fStarted; }
    // Milliseconds since the session started.
    uint32_t GetElapsed() const;
    bool GetCanInterrupt() const { return fCanInterrupt; }
    void SetCanInterrupt(bool value) { fCanInterrupt = value; }
    bool IsRemote() const { return fRemote; }
    void SetRemote(bool value) { fRemote = value; }

    // Named attributes of the session; each change grows the version.
    void SetAttribute(const VString& name, const VString& value);
    void RemoveAttribute(const VString& name);
    // The extra-info bag retained, or null.
    VValueBag* RetainExtraInfoBag() const;
    uint32_t GetExtraInfoVersion() const { return fExtraInfoVersion; }
    // Replaces a bag shared with other copies by a copy of its own, so that
    // changes made through those copies no longer reach this info.
    void DetachExtraInfoBag();

    IProgressInfoCollector* GetCollector() const { return fCollector; }
    void SetCollector(IProgressInfoCollector* collector) { fCollector = collector; }
    // Asks the collector, when there is one, and keeps its answer.
    void Collect();
    VJSONObject* GetCollectedInfo() const { return fCollectedInfo; }
    void DropCollectedInfo();

    // The JSON description of the session (the caller's reference); its
    // "startTime" is the local start moment as text ("YYYY-MM-DD hh:mm:ss:mmm").
    VJSONObject* GetJSONObject() const;

    // Writes the session as an element of bag: every field without previous,
    // else only what differs from it ("fUpdateFlags" tells which).
    void SaveToBag(VValueBag& bag, const VString& elementName, const VProgressIndicatorInfo* previous) const;
    // Applies what "fUpdateFlags" names.
    void LoadFromBag(const VValueBag& bag);
    // Takes a remote info's fields by flags; the start time and the started
    // flag stay local, and a taken extra-info bag is copied, never shared.
    void UpdateFromRemoteInfo(const VProgressIndicatorInfo& info, uint32_t flags);

private:
    void _SetExtraInfo(VValueBag* bag);
    void _DetachSharedExtraInfo();

    int32_t fTaskID = 0;
    VUUID fUUID;
    VString fMessage;
    int64_t fValue = 0;
    int64_t fMax = 0;
    uint32_t fStartTime = 0;
    bool fStarted = false;
    bool fCanInterrupt = true;
    bool fRemote = false;
    VValueBag* fExtraInfo = nullptr;
    uint32_t fExtraInfoVersion = 0;
    IProgressInfoCollector* fCollector = nullptr;
    VJSONObject* fCollectedInfo = nullptr;
};

// A published snapshot: copies of every session, outermost first.
class VRefCountedSessionInfo : public VObject, public IRefCountable {
public:
    VRefCountedSessionInfo() = default;
    ~VRefCountedSessionInfo() override;
    VRefCountedSessionInfo(const VRefCountedSessionInfo&) = delete;
    VRefCountedSessionInfo& operator=(const VRefCountedSessionInfo&) = delete;

    // Takes ownership of info.
    void Add(VProgressIndicatorInfo* info) { fInfos.push_back(info); }
    size_t GetCount() const { return fInfos.size(); }
    const VProgressIndicatorInfo* GetNth(size_t index) const { return fInfos[index]; }

private:
    std::vector<VProgressIndicatorInfo*> fInfos;
};

// Plain copies of every session, outermost first.
class VProgressSessionInfo {
public:
    std::vector<VProgressIndicatorInfo> fSessions;
};

}  // namespace bkit
