// FaultSeam.cpp - injected failures of file and folder operations, for tests.

#include "basekit/platform/FaultSeam.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace bkit {

namespace {

struct Arming {
    int remaining = 0;  // operations left before the failing one (1 = the next)
    int failures = 1;   // operations that fail from there on
    int errnum = 0;
    bool always = false;
    bool stop = false;  // SIGKILL instead of failing
};

std::atomic<int> sArmedCount{0};
std::mutex sMutex;
Arming sArmings[static_cast<int>(FaultOperation::kCount)];

void _Set(FaultOperation op, int nth, int errnum, bool always, bool stop = false, int count = 1)
{
    std::lock_guard<std::mutex> lock(sMutex);
    Arming& a = sArmings[static_cast<int>(op)];
    bool wasArmed = a.errnum != 0;
    a.remaining = nth;
    a.errnum = (nth > 0 || always) ? errnum : 0;
    a.always = always;
    a.stop = stop;
    a.failures = count;
    bool isArmed = a.errnum != 0;
    if (isArmed != wasArmed)
        sArmedCount.fetch_add(isArmed ? 1 : -1);
}

}  // namespace

void FaultSeam::Arm(FaultOperation op, int nth, int errnum, int count)
{
    _Set(op, nth, errnum, false, false, count);
}

void FaultSeam::ArmAlways(FaultOperation op, int errnum)
{
    _Set(op, 1, errnum, true);
}

void FaultSeam::ArmStop(FaultOperation op, int nth)
{
    _Set(op, nth, SIGKILL, false, true);
}

void FaultSeam::Disarm(FaultOperation op)
{
    _Set(op, 0, 0, false);
}

bool FaultSeam::IsArmed(FaultOperation op)
{
    std::lock_guard<std::mutex> lock(sMutex);
    return sArmings[static_cast<int>(op)].errnum != 0;
}

void FaultSeam::DisarmAll()
{
    for (int i = 0; i < static_cast<int>(FaultOperation::kCount); ++i)
        Disarm(static_cast<FaultOperation>(i));
}

int FaultSeam::Check(FaultOperation op)
{
    if (sArmedCount.load(std::memory_order_relaxed) == 0)
        return 0;
    std::lock_guard<std::mutex> lock(sMutex);
    Arming& a = sArmings[static_cast<int>(op)];
    if (a.errnum == 0)
        return 0;
    if (a.always)
        return a.errnum;
    if (--a.remaining > 0)
        return 0;
    if (a.stop)
        ::kill(::getpid(), SIGKILL);
    int errnum = a.errnum;
    if (--a.failures > 0) {
        a.remaining = 1;
        return errnum;
    }
    a.errnum = 0;
    sArmedCount.fetch_sub(1);
    return errnum;
}

}  // namespace bkit
