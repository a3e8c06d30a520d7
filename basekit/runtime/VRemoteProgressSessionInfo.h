// VRemoteProgressSessionInfo.h - the record a peer follows a progress indicator by.
//
// This file defines VRemoteProgressSessionInfo, one record of the exchange
// through which a local indicator mirrors the sessions of a remote one. The
// remote side fills records with VProgressIndicator::GetProgressInfo, each
// against the record it sent last, writes them into bags with SaveToBag and
// sends the bags; the receiving side reads each bag back with LoadFromBag,
// against the record it read last, and applies it with
// VProgressIndicator::UpdateFromRemoteInfo.
//
// Contracts:
// - fFlags says which parts a record carries (EProgressRemoteFlags). The four
//   numbers are always carried; user abort and can interrupt only when they
//   changed. The sessions are either the whole stack, outermost first and the
//   current one last (eRemoteProgress_SessionStack), or the current session
//   alone (eRemoteProgress_Current); a record without an open session carries
//   none.
// - The current session goes into the bag as a delta against the previous
//   record's current session when both describe the same session; LoadFromBag
//   rebuilds it from the same previous record, so both sides must pass the
//   record they exchanged last. fCurrentUpdateFlags keeps which fields the
//   delta named (eProgressUpdate_All for a full info), so that a mirror takes
//   only those.
// - The infos of a record never carry a collector: a collector belongs to the
//   task that installed it on the remote indicator, and a mirror must not call
//   it. Extra-info bags are copied, never shared with the live indicator.
// - A record is a plain value, not thread-safe; bags read from a peer are
//   untrusted and only checked for what the record needs.
#pragma once

#include <cstdint>
#include <deque>

#include "basekit/runtime/VProgressIndicatorInfo.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VString;
class VValueBag;

// Bits of "fFlags": which parts of the remote indicator a record carries.
enum EProgressRemoteFlags : uint32_t {
    eRemoteProgress_SessionCount = 1,
    eRemoteProgress_ChangesVersion = 2,
    eRemoteProgress_SessionVersion = 4,
    eRemoteProgress_MasterSessionVersion = 8,
    eRemoteProgress_UserAbort = 16,
    eRemoteProgress_CanInterrupt = 32,
    eRemoteProgress_Current = 64,
    eRemoteProgress_SessionStack = 128,
};

class VRemoteProgressSessionInfo : public VObject {
public:
    VRemoteProgressSessionInfo() = default;
    VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo&) = default;
    VRemoteProgressSessionInfo& operator=(const VRemoteProgressSessionInfo&) = default;
    ~VRemoteProgressSessionInfo() override = default;

    // Sets the four numbers (bits 1, 2, 4, 8) and the sessions: with
    // includeStack, copies of the saved sessions then of the current one
    // (bit 128); otherwise a copy of the current one alone (bit 64). With no
    // open session (sessionCount 0 or less) no info is copied, whatever the
    // stale current info holds. Bits 16 and 32 are left as the caller set them.
    void FromProgressInfo(int32_t sessionCount, uint32_t changesVersion, int32_t sessionVersion,
                          int32_t masterSessionVersion, const std::deque<VProgressIndicatorInfo>& saved,
                          const VProgressIndicatorInfo& current, bool includeStack);

    // Fills bag with the parts fFlags names and names its element
    // "DistantSessionInfo". The current session (bit 64) is a delta against
    // previous's last info when previous describes the same session (same
    // session version and count, same start time), else a full info.
    void SaveToBag(VValueBag& bag, VString& elementName, const VRemoteProgressSessionInfo* previous) const;

    // Rebuilds a record from a bag that SaveToBag filled. Parts the flags do
    // not name keep previous's values (defaults without one); a delta current
    // session is applied over previous's last info. VE_INVALID_PARAMETER, the
    // record left empty, when the bag has no "fFlags" or a part its flags name
    // is missing.
    VError LoadFromBag(const VValueBag& bag, const VRemoteProgressSessionInfo* previous);

    // The current session: the last info, or null when the record has none.
    const VProgressIndicatorInfo* GetCurrent() const { return fSessions.empty() ? nullptr : &fSessions.back(); }

    uint32_t fFlags = 0;
    int32_t fSessionCount = 0;
    uint32_t fChangesVersion = 0;
    int32_t fSessionVersion = 0;
    int32_t fMasterSessionVersion = 0;
    bool fUserAbort = false;
    bool fCanInterrupt = true;
    // Outermost first; the current session last.
    std::deque<VProgressIndicatorInfo> fSessions;
    // Which fields of the current session the record carries (bit 64 only).
    uint32_t fCurrentUpdateFlags = eProgressUpdate_All;

private:
    void _Clear();
};

}  // namespace bkit
