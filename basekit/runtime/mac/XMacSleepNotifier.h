// XMacSleepNotifier.h - the platform side of the sleep notifier.
//
// This file defines XMacSleepNotifier, which registers for the system's power
// messages (platform/SystemPower.h) and hands sleep and wake to its owner; a
// query whether the system may sleep is always allowed. Destroying it
// deregisters, after which no message reaches the owner.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"

namespace bkit {

class VSleepNotifier;

class XMacSleepNotifier {
public:
    XMacSleepNotifier() = default;
    ~XMacSleepNotifier();
    XMacSleepNotifier(const XMacSleepNotifier&) = delete;
    XMacSleepNotifier& operator=(const XMacSleepNotifier&) = delete;

    // Registers; 0, or 'bkit' 1150 raised and returned.
    VError Init();
    void SetOwner(VSleepNotifier* owner) { fOwner = owner; }

    // The power callback (reference: this object).
    static void SystemCallback(void* inRef, unsigned int inService, unsigned int inMessage, void* inArgument);

private:
    VSleepNotifier* fOwner = nullptr;
    uint32_t fConnection = 0;
};

}  // namespace bkit
