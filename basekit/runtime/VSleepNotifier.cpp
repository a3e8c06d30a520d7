// VSleepNotifier.cpp - system sleep and wake notifications.
#include "basekit/runtime/VSleepNotifier.h"

#include <atomic>
#include <vector>

#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacSleepNotifier.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {
std::atomic<VSleepNotifier*> sInstance{nullptr};
}

VSleepNotifier::VSleepNotifier() : fPlatform(new XMacSleepNotifier) {}

VSleepNotifier::~VSleepNotifier()
{
    UnregisterSleepHandlers();
    // Deregistering first: no notification reaches a half-destroyed owner.
    delete fPlatform;
    fPlatform = nullptr;
    VSleepNotifier* self = this;
    sInstance.compare_exchange_strong(self, nullptr);
}

VError VSleepNotifier::Init()
{
    if (!fPlatform)
        return _ThrowError(VE_INVALID_PARAMETER);
    VError err = fPlatform->Init();
    if (err != VE_OK)
        return _ThrowError(err);
    fPlatform->SetOwner(this);
    return VE_OK;
}

VSleepNotifier* VSleepNotifier::Instance()
{
    return sInstance.load(std::memory_order_acquire);
}

void VSleepNotifier::SetInstance(VSleepNotifier* notifier)
{
    sInstance.store(notifier, std::memory_order_release);
}

VError VSleepNotifier::RegisterSleepHandler(ISleepHandler* handler)
{
    if (!handler)
        return VE_INVALID_PARAMETER;
    StLocker<VCriticalSection> locker(fLock);
    if (fHandlers.insert(handler).second)
        handler->Retain();
    return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandler(ISleepHandler* handler)
{
    if (!handler)
        return VE_INVALID_PARAMETER;
    StLocker<VCriticalSection> locker(fLock);
    if (fHandlers.erase(handler) > 0)
        handler->Release();
    return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandlers()
{
    std::set<ISleepHandler*> handlers;
    {
        StLocker<VCriticalSection> locker(fLock);
        handlers.swap(fHandlers);
    }
    for (ISleepHandler* handler : handlers)
        handler->Release();
    return VE_OK;
}

void VSleepNotifier::HaveSleepNotification()
{
    _Notify(true);
}

void VSleepNotifier::HaveWakeupNotification()
{
    _Notify(false);
}

void VSleepNotifier::_Notify(bool sleep)
{
    if (ILogger* logger = ILogger::GetProcessLogger())
        logger->LogMessage(EML_Information, sleep ? "System is going to sleep" : "System woke up from sleep",
                           "sleepNotifications");

    IFiberScheduler* scheduler = VTaskMgr::Get()->RetainFiberScheduler();
    if (scheduler)
        scheduler->SetSystemCallCFRunloop(sleep);

    // Each handler is kept alive by the copy while it runs.
    std::vector<ISleepHandler*> handlers;
    {
        StLocker<VCriticalSection> locker(fLock);
        for (ISleepHandler* handler : fHandlers) {
            handler->Retain();
            handlers.push_back(handler);
        }
    }
    for (ISleepHandler* handler : handlers) {
        if (sleep)
            handler->HandleSleep();
        else
            handler->HandleWakeUp();
        VString description;
        handler->GetDescription(description);
        handler->Release();
    }
    if (scheduler)
        scheduler->Release();
}

}  // namespace bkit
