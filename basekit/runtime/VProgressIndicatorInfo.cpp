// VProgressIndicatorInfo.cpp - the state of one progress session and its copies.
#include "basekit/runtime/VProgressIndicatorInfo.h"

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

const StPackedDictionaryKey kUpdateFlags("fUpdateFlags");
const StPackedDictionaryKey kMessage("fMessage");
const StPackedDictionaryKey kValue("fValue");
const StPackedDictionaryKey kMax("fMax");
const StPackedDictionaryKey kStartTime("fStartTime");
const StPackedDictionaryKey kCanInterrupt("fCanInterrupt");
const StPackedDictionaryKey kExtraInfoVersion("fExtraInfoBagVersion");
const StPackedDictionaryKey kExtraInfo("ExtraInfo");

uint32_t NowMs()
{
    return static_cast<uint32_t>(VSystem::GetCurrentTime());
}

// The local date and time at which a session that began at startMs started.
VTime StartDate(uint32_t startMs)
{
    VTime date;
    VTime::Now(date);
    date.AddMilliseconds(-static_cast<int64_t>(NowMs() - startMs));
    return date;
}

}  // namespace

VProgressIndicatorInfo::VProgressIndicatorInfo()
    : fTaskID(VTask::GetCurrentID()), fUUID(true), fStartTime(NowMs())
{
}

VProgressIndicatorInfo::VProgressIndicatorInfo(const VProgressIndicatorInfo& other) : VObject()
{
    *this = other;
}

VProgressIndicatorInfo& VProgressIndicatorInfo::operator=(const VProgressIndicatorInfo& other)
{
    if (this == &other)
        return *this;
    fTaskID = other.fTaskID;
    fUUID = other.fUUID;
    fMessage = other.fMessage;
    fValue = other.fValue;
    fMax = other.fMax;
    fStartTime = other.fStartTime;
    fStarted = other.fStarted;
    fCanInterrupt = other.fCanInterrupt;
    fRemote = other.fRemote;
    _SetExtraInfo(other.fExtraInfo);
    fExtraInfoVersion = other.fExtraInfoVersion;
    fCollector = other.fCollector;
    VJSONObject* collected = RetainRefCountable(other.fCollectedInfo);
    ReleaseRefCountable(&fCollectedInfo);
    fCollectedInfo = collected;
    return *this;
}

VProgressIndicatorInfo::~VProgressIndicatorInfo()
{
    ReleaseRefCountable(&fExtraInfo);
    ReleaseRefCountable(&fCollectedInfo);
}

void VProgressIndicatorInfo::_SetExtraInfo(VValueBag* bag)
{
    RetainRefCountable(bag);
    ReleaseRefCountable(&fExtraInfo);
    fExtraInfo = bag;
}

void VProgressIndicatorInfo::Reset()
{
    fValue = 0;
    fMax = 0;
    fMessage.Clear();
    fStartTime = NowMs();
    if (fExtraInfo) {
        ReleaseRefCountable(&fExtraInfo);
        ++fExtraInfoVersion;
    }
    fCollector = nullptr;
    DropCollectedInfo();
}

void VProgressIndicatorInfo::Begin(const VString& message, int64_t value, int64_t max, bool canInterrupt,
                                   IProgressInfoCollector* collector)
{
    fMessage = message;
    fValue = value;
    fMax = max;
    fCanInterrupt = canInterrupt;
    fStartTime = NowMs();
    fStarted = true;
    fCollector = collector;
    DropCollectedInfo();
}

uint32_t VProgressIndicatorInfo::GetElapsed() const
{
    return NowMs() - fStartTime;
}

void VProgressIndicatorInfo::GetMessage(VString& message) const
{
    message = fMessage;
    if (message.IsEmpty())
        return;
    VValueBag* bag = new VValueBag;
    bag->SetLong8("maxValue", fMax);
    bag->SetLong8("curValue", fValue);
    // An undetermined session has no rate: dividing by its maximum would
    // divide by zero.
    int64_t rate = 0;
    if (fMax > 0 && fValue > 0)
        rate = static_cast<int64_t>(static_cast<double>(fValue) / static_cast<double>(fMax) * 100.0);
    bag->SetLong8("rateValue", rate);
    VTime start = StartDate(fStartTime);
    bag->SetTime("startTime", start);
    VTime now;
    VTime::Now(now);
    VDuration duration;
    now.Substract(start, duration);
    bag->SetAttribute("duration", duration);
    message.Format(bag, false);
    bag->Release();
}

void VProgressIndicatorInfo::SetAttribute(const VString& name, const VString& value)
{
    if (!fExtraInfo)
        fExtraInfo = new VValueBag;
    else
        _DetachSharedExtraInfo();
    fExtraInfo->SetString(StPackedDictionaryKey(name), value);
    ++fExtraInfoVersion;
}

void VProgressIndicatorInfo::RemoveAttribute(const VString& name)
{
    if (!fExtraInfo)
        return;
    _DetachSharedExtraInfo();
    fExtraInfo->RemoveAttribute(StPackedDictionaryKey(name));
    ++fExtraInfoVersion;
}

void VProgressIndicatorInfo::DetachExtraInfoBag()
{
    if (!fExtraInfo)
        return;
    VValueBag* copy = new VValueBag(*fExtraInfo);
    ReleaseRefCountable(&fExtraInfo);
    fExtraInfo = copy;
}

void VProgressIndicatorInfo::_DetachSharedExtraInfo()
{
    // Copies of this info (observers' snapshots, retained bags) read the bag
    // on other threads: the working task changes only a bag of its own.
    if (fExtraInfo->GetRefCount() > 1)
        DetachExtraInfoBag();
}

VValueBag* VProgressIndicatorInfo::RetainExtraInfoBag() const
{
    return RetainRefCountable(fExtraInfo);
}

void VProgressIndicatorInfo::Collect()
{
    if (!fCollector)
        return;
    VJSONObject* collected = fCollector->CollectInfo();
    ReleaseRefCountable(&fCollectedInfo);
    fCollectedInfo = collected;
}

void VProgressIndicatorInfo::DropCollectedInfo()
{
    ReleaseRefCountable(&fCollectedInfo);
}

VJSONObject* VProgressIndicatorInfo::GetJSONObject() const
{
    VJSONObject* object = new VJSONObject;
    VString message;
    GetMessage(message);
    object->SetPropertyAsString("message", message);
    object->SetPropertyAsNumber("maxValue", static_cast<double>(fMax));
    object->SetPropertyAsNumber("currentValue", static_cast<double>(fValue));
    object->SetPropertyAsBool("interruptible", fCanInterrupt);
    object->SetPropertyAsBool("remote", fRemote);
    VString uuid;
    fUUID.GetString(uuid);
    object->SetPropertyAsString("uuid", uuid);
    object->SetPropertyAsNumber("taskId", fTaskID);
    // A string: a JSON date keeps only the day, and observers want the moment.
    VString startTime;
    StartDate(fStartTime).GetStringLocalTime(startTime);
    object->SetPropertyAsString("startTime", startTime);
    object->SetPropertyAsNumber("duration", GetElapsed());
    if (fCollectedInfo) {
        VJSONCloner cloner;
        VJSONValue clone;
        if (cloner.CloneObject(fCollectedInfo, clone) == VE_OK && clone.GetObject()) {
            for (VJSONPropertyConstIterator it(clone.GetObject()); it.IsValid(); ++it)
                object->SetProperty(it.GetName(), it.GetValue());
        }
    }
    return object;
}

void VProgressIndicatorInfo::SaveToBag(VValueBag& bag, const VString& elementName,
                                       const VProgressIndicatorInfo* previous) const
{
    VValueBag* element = new VValueBag;
    uint32_t flags = 0;
    if (!previous) {
        flags = eProgressUpdate_All;
        element->SetString(kMessage, fMessage);
        element->SetLong8(kValue, fValue);
        element->SetLong8(kMax, fMax);
        element->SetLong(kStartTime, static_cast<int32_t>(fStartTime));
        element->SetBool(kCanInterrupt, fCanInterrupt);
        element->SetLong(kExtraInfoVersion, static_cast<int32_t>(fExtraInfoVersion));
        if (fExtraInfo)
            element->AddElement(kExtraInfo, fExtraInfo);
    } else {
        if (!fMessage.EqualToString(previous->fMessage, true)) {
            flags |= eProgressUpdate_Message;
            element->SetString(kMessage, fMessage);
        }
        if (fValue != previous->fValue) {
            flags |= eProgressUpdate_Value;
            element->SetLong8(kValue, fValue);
        }
        if (fMax != previous->fMax) {
            flags |= eProgressUpdate_Max;
            element->SetLong8(kMax, fMax);
        }
        if (fStartTime != previous->fStartTime) {
            flags |= eProgressUpdate_StartTime;
            element->SetLong(kStartTime, static_cast<int32_t>(fStartTime));
        }
        if (fCanInterrupt != previous->fCanInterrupt) {
            flags |= eProgressUpdate_CanInterrupt;
            element->SetBool(kCanInterrupt, fCanInterrupt);
        }
        if (fExtraInfoVersion != previous->fExtraInfoVersion) {
            flags |= eProgressUpdate_ExtraInfoVersion;
            element->SetLong(kExtraInfoVersion, static_cast<int32_t>(fExtraInfoVersion));
            if (fExtraInfo) {
                flags |= eProgressUpdate_ExtraInfo;
                element->AddElement(kExtraInfo, fExtraInfo);
            }
        }
    }
    element->SetLong(kUpdateFlags, static_cast<int32_t>(flags));
    bag.AddElement(StPackedDictionaryKey(elementName), element);
    element->Release();
}

void VProgressIndicatorInfo::LoadFromBag(const VValueBag& bag)
{
    int32_t flagsValue = 0;
    bag.GetLong(kUpdateFlags, flagsValue);
    const uint32_t flags = static_cast<uint32_t>(flagsValue);
    const bool all = (flags & eProgressUpdate_All) != 0;
    if (all || (flags & eProgressUpdate_Message))
        bag.GetString(kMessage, fMessage);
    if (all || (flags & eProgressUpdate_Value))
        bag.GetLong8(kValue, fValue);
    if (all || (flags & eProgressUpdate_Max))
        bag.GetLong8(kMax, fMax);
    if (all || (flags & eProgressUpdate_StartTime)) {
        int32_t start = 0;
        if (bag.GetLong(kStartTime, start))
            fStartTime = static_cast<uint32_t>(start);
    }
    if (all || (flags & eProgressUpdate_CanInterrupt))
        bag.GetBool(kCanInterrupt, fCanInterrupt);
    if (all || (flags & eProgressUpdate_ExtraInfoVersion)) {
        int32_t version = 0;
        if (bag.GetLong(kExtraInfoVersion, version))
            fExtraInfoVersion = static_cast<uint32_t>(version);
    }
    if (all || (flags & eProgressUpdate_ExtraInfo)) {
        VBagArray* elements = bag.GetElements(kExtraInfo);
        if (elements && elements->GetCount() > 0) {
            VValueBag* copy = new VValueBag(*elements->GetNth(1));
            ReleaseRefCountable(&fExtraInfo);
            fExtraInfo = copy;
        }
    }
}

void VProgressIndicatorInfo::UpdateFromRemoteInfo(const VProgressIndicatorInfo& info, uint32_t flags)
{
    if (flags & eProgressUpdate_All) {
        // The local session has its own clock: its duration and metric are
        // measured here, whatever the remote one says.
        const uint32_t start = fStartTime;
        const bool started = fStarted;
        *this = info;
        fStartTime = start;
        fStarted = started;
        // The remote side may still change its bag; the mirror keeps a copy.
        DetachExtraInfoBag();
        return;
    }
    if (flags & eProgressUpdate_Message)
        fMessage = info.fMessage;
    if (flags & eProgressUpdate_Value)
        fValue = info.fValue;
    if (flags & eProgressUpdate_Max)
        fMax = info.fMax;
    if (flags & eProgressUpdate_CanInterrupt)
        fCanInterrupt = info.fCanInterrupt;
    if (flags & eProgressUpdate_ExtraInfoVersion)
        fExtraInfoVersion = info.fExtraInfoVersion;
    if ((flags & eProgressUpdate_ExtraInfo) && info.fExtraInfo) {
        VValueBag* copy = new VValueBag(*info.fExtraInfo);
        ReleaseRefCountable(&fExtraInfo);
        fExtraInfo = copy;
    }
}

VRefCountedSessionInfo::~VRefCountedSessionInfo()
{
    for (VProgressIndicatorInfo* info : fInfos)
        delete info;
}

}  // namespace bkit
