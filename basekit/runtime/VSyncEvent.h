// VSyncEvent.h - the manual-reset event of the toolbox.
//
// This file defines VSyncObject, the common base of the toolbox's waitable
// objects, and VSyncEvent, a reference-counted event: once set it stays set,
// waking every waiter present and letting every later waiter through, until it
// is reset. Any thread may set, reset or wait. A new event has one reference,
// its flag clear and its stamp 0; every set raises the stamp by one.
// Destroying an event that still has waiters wakes them until the condition can
// be destroyed; holders normally keep a reference while they wait.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "basekit/values/IRefCountable.h"

namespace bkit {

class VSyncObject {
protected:
    VSyncObject() = default;
    ~VSyncObject() = default;
};

class VSyncEvent : public VSyncObject, public IRefCountable {
public:
    VSyncEvent();
    ~VSyncEvent() override;

    VSyncEvent(const VSyncEvent&) = delete;
    VSyncEvent& operator=(const VSyncEvent&) = delete;

    // Sets the flag and wakes every waiter; raises the stamp.
    void Set();

    // Clears the flag.
    void Reset();

    // Waits until the flag is set. Answers true. A fiber task waits through the
    // installed fiber scheduler, watching the stamp, so that its home's other
    // fibers go on; under the default scheduler, which switches nothing, its
    // thread waits as a thread task's does.
    bool Lock();

    // Waits until the flag is set or ms milliseconds have passed, whichever
    // comes first (a spurious wake-up, or a fiber scheduler handing control
    // back early, does not end the wait early); answers the flag. ms < 1
    // answers the flag at once.
    bool Lock(int ms);

    // The flag as it is now.
    bool IsSet() const;

    // Number of sets so far, modulo 2^32.
    uint32_t GetStamp() const { return fStamp.load(std::memory_order_acquire); }

private:
    bool _FiberLock();
    bool _FiberLock(int ms);
    int* _StampWord();

    std::atomic<int32_t> fFiberWaiters{0};
    mutable pthread_mutex_t fMutex;
    pthread_cond_t fCondition;
    uint8_t fFlag = 0;
    std::atomic<uint32_t> fStamp{0};
};

}  // namespace bkit
