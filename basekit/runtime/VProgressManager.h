// VProgressManager.h - the process-wide registry of progress indicators.
//
// This file defines VProgressManager, which knows every progress indicator by
// its UUID. It exists between Init and Deinit (the process's initialisation and
// shut-down); indicators made outside that time are not registered. The map
// keeps no reference: an indicator unregisters itself when destroyed, so it
// stays listed from its last Release until its destructor takes the manager's
// lock. Look-ups therefore retain only an indicator that is still alive and
// treat a dying one as absent.
// Thread-safety: every operation may be called from any task.
#pragma once

#include <map>
#include <vector>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VUUID.h"

namespace bkit {

class VProgressIndicator;
class VRefCountedSessionInfo;
class VString;
class VValueBag;

class VProgressManager : public VObject {
public:
    // Makes standard indicators; none is installed in this system.
    using StdProgressCreator = VProgressIndicator* (*)(int32_t kind, uint32_t flags);

    // Creates the single manager when absent; true.
    static bool Init();
    // Deletes it; true.
    static bool Deinit();

    // Files the indicator under its UUID unless a live one is filed there
    // (a dying one gives way).
    static void RegisterProgress(VProgressIndicator* indicator);
    // Records the indicator's metric, then removes it.
    static void UnregisterProgress(VProgressIndicator* indicator);
    // The registered indicator, retained, or null (also when it is dying).
    static VProgressIndicator* RetainProgress(const VUUID& uuid);
    // The first live registered indicator (UUID order) whose user info is
    // userInfo, retained, or null.
    static VProgressIndicator* _RetainProgressIndicator(const VString& userInfo);
    // Adds the "ProgressInfo" element of the indicator whose user info is userInfo.
    static void _GetProgressInfo(VValueBag& bag, const VString& userInfo);
    static void _ProgressInfoToBag(VValueBag& bag, VProgressIndicator* indicator);
    static VProgressIndicator* CreateStdProgress(int32_t kind, uint32_t flags);
    static void SetStdProgressCreator(StdProgressCreator creator);

    // For every registered indicator with an open session: asks for a snapshot
    // and appends the last published one (retained) to list.
    void GetAllProgressInfo(std::vector<VRefCountedSessionInfo*>& list);

    static VProgressManager* sProgressManager;

private:
    struct UUIDLess {
        bool operator()(const VUUID& a, const VUUID& b) const { return a < b; }
    };

    VCriticalSection fLock;
    std::map<VUUID, VProgressIndicator*, UUIDLess> fIndicators;
    StdProgressCreator fCreator = nullptr;
};

}  // namespace bkit
