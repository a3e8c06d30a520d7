// Semaphore.h - counting semaphores, in place of Mach semaphores.
//
// This file defines platform::Semaphore, what the task layer expects of a Mach
// semaphore: a count that Signal raises and Wait lowers, waiting while it is 0,
// with a relative time-out. It stands on a POSIX unnamed semaphore. Waits are
// restarted after a signal interrupts them and time-outs are measured on the
// monotonic clock. Shortfalls: there is no "signal all" and no aborted-wait
// result (an interrupted wait simply goes on waiting). Any thread may signal or
// wait; Destroy must not run while a thread waits.
#pragma once

#include <semaphore.h>

namespace bkit::platform {

class Semaphore {
public:
    Semaphore() = default;
    ~Semaphore() { Destroy(); }
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Creates the semaphore with the given count. Answers 0 or the errno.
    int Create(unsigned int count = 0);
    bool IsCreated() const { return fCreated; }

    // Raises the count, waking one waiter.
    void Signal();
    // Waits until the count is positive and lowers it.
    void Wait();
    // As Wait for at most ms milliseconds (ms <= 0: only looks). Answers whether
    // the count was lowered (false: timed out).
    bool TimedWait(int ms);

    void Destroy();

private:
    sem_t fSemaphore;
    bool fCreated = false;
};

}  // namespace bkit::platform
