// XMacSleepNotifier.cpp - the platform side of the sleep notifier.
#include "basekit/runtime/mac/XMacSleepNotifier.h"

#include "basekit/platform/SystemPower.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VSleepNotifier.h"

namespace bkit {

XMacSleepNotifier::~XMacSleepNotifier()
{
    if (fConnection != 0)
        platform::DeregisterForSystemPower(fConnection);
}

VError XMacSleepNotifier::Init()
{
    if (fConnection == 0)
        fConnection = platform::RegisterForSystemPower(this, &XMacSleepNotifier::SystemCallback);
    if (fConnection == 0)
        return _ThrowError(VE_SLEEP_NOTIFIER_CANNOT_REGISTER);
    return VE_OK;
}

void XMacSleepNotifier::SystemCallback(void* inRef, unsigned int, unsigned int inMessage, void* inArgument)
{
    auto* self = static_cast<XMacSleepNotifier*>(inRef);
    if (!self)
        return;
    switch (inMessage) {
        case platform::kPowerMessageSystemHasPoweredOn:
            if (self->fOwner)
                self->fOwner->HaveWakeupNotification();
            break;
        case platform::kPowerMessageSystemWillSleep:
            if (self->fOwner)
                self->fOwner->HaveSleepNotification();
            platform::AllowPowerChange(self->fConnection, inArgument);
            break;
        case platform::kPowerMessageCanSystemSleep:
            // Sleep is never refused.
            platform::AllowPowerChange(self->fConnection, inArgument);
            break;
        default:
            break;
    }
}

}  // namespace bkit
