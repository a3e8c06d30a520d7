// VSleepNotifier.h - system sleep and wake notifications.
//
// This file defines VSleepNotifier, which tells the process when the machine
// is about to sleep and when it woke up: it logs both events, switches the
// fiber scheduler's run-loop mode and calls the registered ISleepHandler
// objects. The IPC process frame creates one notifier and initialises it;
// Instance answers that one.
//
// Contracts:
// - The notifier retains each registered handler once (registering twice keeps
//   one entry) and releases them when unregistered or destroyed.
// - Handlers are called outside the notifier's lock, from a copy of the set, so
//   a handler may register or unregister handlers.
// - Linux tells a plain process nothing about sleep: Init succeeds and no
//   notification arrives unless a test injects one (platform/SystemPower.h).
// Thread-safety: registration from any task; notifications arrive on the
// thread that delivers them.
#pragma once

#include <set>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VString;
class XMacSleepNotifier;

constexpr VError VE_SLEEP_NOTIFIER_CANNOT_REGISTER = MakeBKitError(1150);

class VSleepNotifier : public VObject {
public:
    class ISleepHandler : public IRefCountable {
    public:
        // The machine is going to sleep.
        virtual void HandleSleep() = 0;
        // The machine woke up.
        virtual void HandleWakeUp() = 0;
        // A text naming the handler.
        virtual void GetDescription(VString& description) = 0;
    };

    VSleepNotifier();
    ~VSleepNotifier() override;
    VSleepNotifier(const VSleepNotifier&) = delete;
    VSleepNotifier& operator=(const VSleepNotifier&) = delete;

    // Registers with the system. 0, or the error raised ('bkit' 3 without a
    // platform part, 1150 when the registration fails).
    VError Init();

    // The notifier of the IPC process object, or null.
    static VSleepNotifier* Instance();
    // Called by the IPC process object with its notifier, and with null before
    // it deletes it.
    static void SetInstance(VSleepNotifier* notifier);

    // 'bkit' 3 (returned, not raised) for null; else 0.
    VError RegisterSleepHandler(ISleepHandler* handler);
    VError UnregisterSleepHandler(ISleepHandler* handler);
    VError UnregisterSleepHandlers();

    // Called by the platform part when the machine goes to sleep or woke up.
    void HaveSleepNotification();
    void HaveWakeupNotification();

private:
    void _Notify(bool sleep);

    XMacSleepNotifier* fPlatform;
    std::set<ISleepHandler*> fHandlers;
    VCriticalSection fLock;
};

}  // namespace bkit
