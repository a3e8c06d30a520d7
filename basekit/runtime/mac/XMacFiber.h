// XMacFiber.h - fibers: threads that run only while they hold the baton.
//
// This file defines XMacFiber. A fiber is a thread of its own that waits on its
// semaphore until another fiber switches to it (YieldTo): the switching fiber
// signals the target and waits on its own semaphore, so exactly one fiber of a
// group runs at a time. A fiber made for an existing thread (CreateFiberForThread)
// has no entry function; it lets that thread take part in the switching.
//
// Life: a fiber is created paused, starts at the first switch to it and ends
// when its entry returns. Destroying a fiber with an entry joins its thread,
// so it must not be destroyed from that thread; a fiber that never started
// ends without running its entry.
// Shortfalls on Linux: there is no event toolbox whose current queue and loop
// a fiber would take over from the main thread, so no such key is ever set.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <functional>

#include "basekit/platform/Semaphore.h"

namespace bkit {

class XMacFiber {
public:
    // A paused fiber of stackSize bytes (rounded up to the page size) that will
    // run entry; null, with 'MACH' or 'POSX' raised, when it cannot be made.
    static XMacFiber* Create(size_t stackSize, std::function<void()>&& entry);
    // A fiber for the calling thread; null with 'MACH' raised when its
    // semaphore cannot be made.
    static XMacFiber* CreateFiberForThread();

    // Hands the baton from from (the calling fiber) to to, and waits until
    // somebody hands it back.
    static void YieldTo(XMacFiber* from, XMacFiber* to);
    // Lets the fiber go on (signals its semaphore).
    void WakeUp() { fSemaphore.Signal(); }

    ~XMacFiber();
    XMacFiber(const XMacFiber&) = delete;
    XMacFiber& operator=(const XMacFiber&) = delete;

    pthread_t GetPThread() const { return fThread; }

private:
    XMacFiber() = default;
    static void* _ThreadProc(void* self);

    std::function<void()> fEntry;
    platform::Semaphore fSemaphore;
    pthread_t fThread{};
    bool fHasThread = false;
    std::atomic<bool> fDestroying{false};
};

}  // namespace bkit
