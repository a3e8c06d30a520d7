// Semaphore.cpp - counting semaphores over POSIX unnamed semaphores.
#include "basekit/platform/Semaphore.h"

#include <semaphore.h>
#include <time.h>

#include <cerrno>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/PosixError.h"

namespace bkit::platform {

int Semaphore::Create(unsigned int count)
{
    if (fCreated) return 0;
    if (sem_init(&fSemaphore, 0, count) != 0) return errno;
    fCreated = true;
    return 0;
}

void Semaphore::Signal()
{
    if (fCreated) sem_post(&fSemaphore);
}

void Semaphore::Wait()
{
    if (!fCreated) return;
    RetryOnEINTR([this] { return sem_wait(&fSemaphore); });
}

bool Semaphore::TimedWait(int ms)
{
    if (!fCreated) return false;
    if (ms <= 0) return RetryOnEINTR([this] { return sem_trywait(&fSemaphore); }) == 0;
    // One absolute deadline, so that interruptions do not stretch the wait.
    const struct timespec deadline = MonotonicDeadline(ms);
    return RetryOnEINTR([&] { return sem_clockwait(&fSemaphore, CLOCK_MONOTONIC, &deadline); }) == 0;
}

void Semaphore::Destroy()
{
    if (!fCreated) return;
    sem_destroy(&fSemaphore);
    fCreated = false;
}

}  // namespace bkit::platform
