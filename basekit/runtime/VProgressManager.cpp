// VProgressManager.cpp - the process-wide registry of progress indicators.
#include "basekit/runtime/VProgressManager.h"

#include "basekit/bags/VValueBag.h"
#include "basekit/runtime/VProgressIndicator.h"

namespace bkit {

VProgressManager* VProgressManager::sProgressManager = nullptr;

bool VProgressManager::Init()
{
    if (!sProgressManager)
        sProgressManager = new VProgressManager;
    return true;
}

bool VProgressManager::Deinit()
{
    delete sProgressManager;
    sProgressManager = nullptr;
    return true;
}

void VProgressManager::RegisterProgress(VProgressIndicator* indicator)
{
    VProgressManager* manager = sProgressManager;
    if (!manager || !indicator)
        return;
    StLocker<VCriticalSection> locker(manager->fLock);
    auto [it, added] = manager->fIndicators.emplace(indicator->GetUUID(), indicator);
    // An indicator whose count reached 0 is leaving and counts as absent to
    // look-ups: a new one under its UUID takes the entry, or it could never
    // be found. The leaving one removes only an entry that is its own.
    if (!added && it->second->GetRefCount() <= 0)
        it->second = indicator;
}

void VProgressManager::UnregisterProgress(VProgressIndicator* indicator)
{
    VProgressManager* manager = sProgressManager;
    if (!manager || !indicator)
        return;
    indicator->DoMetrics();
    StLocker<VCriticalSection> locker(manager->fLock);
    auto it = manager->fIndicators.find(indicator->GetUUID());
    // Another indicator may have been registered under the same UUID first.
    if (it != manager->fIndicators.end() && it->second == indicator)
        manager->fIndicators.erase(it);
}

VProgressIndicator* VProgressManager::RetainProgress(const VUUID& uuid)
{
    VProgressManager* manager = sProgressManager;
    if (!manager)
        return nullptr;
    StLocker<VCriticalSection> locker(manager->fLock);
    auto it = manager->fIndicators.find(uuid);
    if (it == manager->fIndicators.end() || !it->second->RetainIfAlive())
        return nullptr;
    return it->second;
}

VProgressIndicator* VProgressManager::_RetainProgressIndicator(const VString& userInfo)
{
    VProgressManager* manager = sProgressManager;
    if (!manager)
        return nullptr;
    StLocker<VCriticalSection> locker(manager->fLock);
    for (auto& entry : manager->fIndicators) {
        if (entry.second->GetUserInfo().EqualToString(userInfo, true) && entry.second->RetainIfAlive())
            return entry.second;
    }
    return nullptr;
}

void VProgressManager::_GetProgressInfo(VValueBag& bag, const VString& userInfo)
{
    VProgressIndicator* indicator = _RetainProgressIndicator(userInfo);
    if (!indicator)
        return;
    _ProgressInfoToBag(bag, indicator);
    indicator->Release();
}

void VProgressManager::_ProgressInfoToBag(VValueBag& bag, VProgressIndicator* indicator)
{
    if (!indicator)
        return;
    VValueBag* element = new VValueBag;
    indicator->SaveInfoToBag(*element);
    bag.AddElement("ProgressInfo", element);
    element->Release();
}

VProgressIndicator* VProgressManager::CreateStdProgress(int32_t kind, uint32_t flags)
{
    VProgressManager* manager = sProgressManager;
    if (!manager || !manager->fCreator)
        return nullptr;
    return manager->fCreator(kind, flags);
}

void VProgressManager::SetStdProgressCreator(StdProgressCreator creator)
{
    if (sProgressManager)
        sProgressManager->fCreator = creator;
}

void VProgressManager::GetAllProgressInfo(std::vector<VRefCountedSessionInfo*>& list)
{
    StLocker<VCriticalSection> locker(fLock);
    for (auto& entry : fIndicators) {
        VProgressIndicator* indicator = entry.second;
        if (indicator->GetSessionCount() <= 0)
            continue;
        indicator->UpdateSessionsInfos();
        if (VRefCountedSessionInfo* snapshot = indicator->RetainSessionsInfos())
            list.push_back(snapshot);
    }
}

}  // namespace bkit
