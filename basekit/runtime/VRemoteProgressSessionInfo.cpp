// VRemoteProgressSessionInfo.cpp - the record a peer follows a progress indicator by.
#include "basekit/runtime/VRemoteProgressSessionInfo.h"

#include "basekit/bags/VValueBag.h"

namespace bkit {

namespace {

const StPackedDictionaryKey kFlags("fFlags");
const StPackedDictionaryKey kSessionCount("fSessionCount");
const StPackedDictionaryKey kChangesVersion("fChangesVersion");
const StPackedDictionaryKey kSessionVersion("fSessionVersion");
const StPackedDictionaryKey kMasterSessionVersion("fMasterSessionVersion");
const StPackedDictionaryKey kUserAbort("fUserAbort");
const StPackedDictionaryKey kCanInterrupt("fCanInterrupt");
const StPackedDictionaryKey kCurrent("fCurrent");
const StPackedDictionaryKey kSessionStack("fSessionStack");
const StPackedDictionaryKey kUpdateFlags("fUpdateFlags");

// A copy that leaves the remote indicator's task nothing to share: no
// collector to call, and an extra-info bag of its own.
VProgressIndicatorInfo DetachedCopy(const VProgressIndicatorInfo& info)
{
    VProgressIndicatorInfo copy(info);
    copy.SetCollector(nullptr);
    copy.DetachExtraInfoBag();
    return copy;
}

bool ReadLong(const VValueBag& bag, const StPackedDictionaryKey& key, uint32_t flags, uint32_t bit, int32_t& out)
{
    return !(flags & bit) || bag.GetLong(key, out);
}

bool ReadBool(const VValueBag& bag, const StPackedDictionaryKey& key, uint32_t flags, uint32_t bit, bool& out)
{
    return !(flags & bit) || bag.GetBool(key, out);
}

}  // namespace

void VRemoteProgressSessionInfo::_Clear()
{
    *this = VRemoteProgressSessionInfo();
}

void VRemoteProgressSessionInfo::FromProgressInfo(int32_t sessionCount, uint32_t changesVersion,
                                                  int32_t sessionVersion, int32_t masterSessionVersion,
                                                  const std::deque<VProgressIndicatorInfo>& saved,
                                                  const VProgressIndicatorInfo& current, bool includeStack)
{
    fFlags &= ~static_cast<uint32_t>(eRemoteProgress_Current | eRemoteProgress_SessionStack);
    fFlags |= eRemoteProgress_SessionCount | eRemoteProgress_ChangesVersion | eRemoteProgress_SessionVersion |
              eRemoteProgress_MasterSessionVersion;
    fSessionCount = sessionCount;
    fChangesVersion = changesVersion;
    fSessionVersion = sessionVersion;
    fMasterSessionVersion = masterSessionVersion;
    fSessions.clear();
    fCurrentUpdateFlags = eProgressUpdate_All;
    if (includeStack) {
        fFlags |= eRemoteProgress_SessionStack;
        // Without an open session the current info is what the last session
        // left behind: sending it would make the peer open a session.
        if (sessionCount > 0) {
            for (const VProgressIndicatorInfo& info : saved)
                fSessions.push_back(DetachedCopy(info));
            fSessions.push_back(DetachedCopy(current));
        }
    } else if (sessionCount > 0) {
        fFlags |= eRemoteProgress_Current;
        fSessions.push_back(DetachedCopy(current));
    }
}

void VRemoteProgressSessionInfo::SaveToBag(VValueBag& bag, VString& elementName,
                                           const VRemoteProgressSessionInfo* previous) const
{
    bag.SetLong(kFlags, static_cast<int32_t>(fFlags));
    if (fFlags & eRemoteProgress_SessionCount)
        bag.SetLong(kSessionCount, fSessionCount);
    if (fFlags & eRemoteProgress_ChangesVersion)
        bag.SetLong(kChangesVersion, static_cast<int32_t>(fChangesVersion));
    if (fFlags & eRemoteProgress_SessionVersion)
        bag.SetLong(kSessionVersion, fSessionVersion);
    if (fFlags & eRemoteProgress_MasterSessionVersion)
        bag.SetLong(kMasterSessionVersion, fMasterSessionVersion);
    if (fFlags & eRemoteProgress_UserAbort)
        bag.SetBool(kUserAbort, fUserAbort);
    if (fFlags & eRemoteProgress_CanInterrupt)
        bag.SetBool(kCanInterrupt, fCanInterrupt);
    if ((fFlags & eRemoteProgress_Current) && !fSessions.empty()) {
        const VProgressIndicatorInfo& current = fSessions.back();
        const VProgressIndicatorInfo* base = nullptr;
        // The start time tells two sessions of one nesting level apart; the
        // session version tells apart the first sessions of two runs.
        if (previous && !previous->fSessions.empty() && previous->fSessionVersion == fSessionVersion &&
            previous->fSessionCount == fSessionCount &&
            previous->fSessions.back().GetStartTime() == current.GetStartTime())
            base = &previous->fSessions.back();
        current.SaveToBag(bag, "fCurrent", base);
    }
    if (fFlags & eRemoteProgress_SessionStack) {
        for (const VProgressIndicatorInfo& info : fSessions)
            info.SaveToBag(bag, "fSessionStack", nullptr);
    }
    elementName = "DistantSessionInfo";
}

VError VRemoteProgressSessionInfo::LoadFromBag(const VValueBag& bag, const VRemoteProgressSessionInfo* previous)
{
    VRemoteProgressSessionInfo record;
    if (previous) {
        record.fSessionCount = previous->fSessionCount;
        record.fChangesVersion = previous->fChangesVersion;
        record.fSessionVersion = previous->fSessionVersion;
        record.fMasterSessionVersion = previous->fMasterSessionVersion;
        record.fUserAbort = previous->fUserAbort;
        record.fCanInterrupt = previous->fCanInterrupt;
    }
    int32_t flagsValue = 0;
    if (!bag.GetLong(kFlags, flagsValue)) {
        _Clear();
        return VE_INVALID_PARAMETER;
    }
    const uint32_t flags = static_cast<uint32_t>(flagsValue);
    record.fFlags = flags;
    int32_t changesVersion = static_cast<int32_t>(record.fChangesVersion);
    bool ok = ReadLong(bag, kSessionCount, flags, eRemoteProgress_SessionCount, record.fSessionCount) &&
              ReadLong(bag, kChangesVersion, flags, eRemoteProgress_ChangesVersion, changesVersion) &&
              ReadLong(bag, kSessionVersion, flags, eRemoteProgress_SessionVersion, record.fSessionVersion) &&
              ReadLong(bag, kMasterSessionVersion, flags, eRemoteProgress_MasterSessionVersion,
                       record.fMasterSessionVersion) &&
              ReadBool(bag, kUserAbort, flags, eRemoteProgress_UserAbort, record.fUserAbort) &&
              ReadBool(bag, kCanInterrupt, flags, eRemoteProgress_CanInterrupt, record.fCanInterrupt);
    record.fChangesVersion = static_cast<uint32_t>(changesVersion);

    if (ok && (flags & eRemoteProgress_SessionStack)) {
        if (VBagArray* stack = bag.GetElements(kSessionStack)) {
            for (VIndex i = 1; i <= stack->GetCount(); ++i) {
                VProgressIndicatorInfo info;
                info.LoadFromBag(*stack->GetNth(i));
                record.fSessions.push_back(info);
            }
        }
    } else if (ok && (flags & eRemoteProgress_Current)) {
        VBagArray* currents = bag.GetElements(kCurrent);
        const VValueBag* element = currents && currents->GetCount() > 0 ? currents->GetNth(1) : nullptr;
        int32_t updateFlags = 0;
        if (!element || !element->GetLong(kUpdateFlags, updateFlags)) {
            ok = false;
        } else {
            record.fCurrentUpdateFlags = static_cast<uint32_t>(updateFlags);
            // A delta names only what changed since the previous record; the
            // rest is that record's.
            VProgressIndicatorInfo info;
            if (!(record.fCurrentUpdateFlags & eProgressUpdate_All) && previous && previous->GetCurrent())
                info = *previous->GetCurrent();
            info.LoadFromBag(*element);
            record.fSessions.push_back(info);
        }
    }
    if (!ok) {
        _Clear();
        return VE_INVALID_PARAMETER;
    }
    *this = record;
    return VE_OK;
}

}  // namespace bkit
