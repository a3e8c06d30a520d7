// VConditionVariable.cpp - a broadcast condition bound to one critical section.
#include "basekit/runtime/VConditionVariable.h"

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VSyncEvent.h"

namespace bkit {

VConditionVariable::~VConditionVariable()
{
    if (fEvent) fEvent->Release();
}

bool VConditionVariable::_Wait(VCriticalSection* cs, bool timed, int ms)
{
    VSyncEvent* event;
    {
        StSpinLocker word(&fWord);
        if (fWaiters == 0) {
            if (fEvent)
                fEvent->Reset();
            else
                fEvent = new VSyncEvent;
            fBroadcasts = 0;
            fBoundSection = cs;
        } else if (fBoundSection != cs) {
            return false;
        }
        ++fWaiters;
        event = fEvent;
    }
    cs->Unlock();
    if (timed)
        event->Lock(ms);
    else
        event->Lock();
    cs->Lock();
    StSpinLocker word(&fWord);
    if (--fWaiters == 0) fBoundSection = nullptr;
    return fBroadcasts >= 1;
}

bool VConditionVariable::Broadcast()
{
    StSpinLocker word(&fWord);
    if (fEvent) {
        // Saturates: a wrap to 0 would make waiters report no broadcast.
        if (fBroadcasts < 0xFFFF) ++fBroadcasts;
        fEvent->Set();
    }
    return true;
}

}  // namespace bkit
