// VConditionVariable.h - a condition bound to one critical section.
//
// This file defines VConditionVariable. While it has waiters it is bound to the
// one critical section they passed; a waiter with another critical section is
// refused. A waiter must hold its critical section (once) when it calls _Wait:
// the wait releases it, waits for a Broadcast and takes it again. A broadcast
// wakes every waiter present; it is remembered until the last of them leaves,
// so a broadcast that comes between a waiter's release and its wait is not
// lost. Any thread may broadcast.
#pragma once

#include <cstdint>

#include "basekit/runtime/VSpinLock.h"

namespace bkit {

class VCriticalSection;
class VSyncEvent;

class VConditionVariable {
public:
    VConditionVariable() = default;
    // Releases the event. There must be no waiter left.
    ~VConditionVariable();

    VConditionVariable(const VConditionVariable&) = delete;
    VConditionVariable& operator=(const VConditionVariable&) = delete;

    // Waits for a broadcast, without limit or (timed) for at most ms
    // milliseconds. Answers whether a broadcast came while this waiter was
    // bound; false at once, nothing changed, when the condition is bound to
    // another critical section.
    bool _Wait(VCriticalSection* cs, bool timed, int ms);

    // Wakes every waiter. Answers true.
    bool Broadcast();

private:
    VSyncEvent* fEvent = nullptr;
    VCriticalSection* fBoundSection = nullptr;
    SpinLockWord fWord{0};
    uint16_t fWaiters = 0;
    uint16_t fBroadcasts = 0;
};

}  // namespace bkit
