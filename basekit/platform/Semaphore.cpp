// Semaphore.cpp - counting semaphores over POSIX unnamed semaphores.
#include "basekit/platform/Semaphore.h"

#include <semaphore.h>
#include <time.h>

#include <cerrno>

#include "basekit/platform/MonotonicClock.h"

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
    while (sem_wait(&fSemaphore) != 0 && errno == EINTR) {
    }
}

bool Semaphore::TimedWait(int ms)
{
    if (!fCreated) return false;
    if (ms <= 0) {
        while (true) {
            if (sem_trywait(&fSemaphore) == 0) return true;
            if (errno != EINTR) return false;
        }
    }
    // One absolute deadline, so that interruptions do not stretch the wait.
    struct timespec deadline = MonotonicDeadline(ms);
    while (true) {
        if (sem_clockwait(&fSemaphore, CLOCK_MONOTONIC, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void Semaphore::Destroy()
{
    if (!fCreated) return;
    sem_destroy(&fSemaphore);
    fCreated = false;
}

}  // namespace bkit::platform
