// XMacFiber.cpp - fibers: threads that run only while they hold the baton.
#include "basekit/runtime/mac/XMacFiber.h"

#include <unistd.h>

#include "basekit/runtime/VErrorBase.h"

namespace bkit {

XMacFiber* XMacFiber::Create(size_t stackSize, std::function<void()>&& entry)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t rounded = (stackSize + page - 1) / page * page;
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    if (rounded < minimum)
        rounded = (minimum + page - 1) / page * page;

    XMacFiber* fiber = new XMacFiber;
    if (int error = fiber->fSemaphore.Create(0); error != 0) {
        _ThrowError(MakeVError(kMACH_SIGNATURE, error));
        delete fiber;
        return nullptr;
    }
    fiber->fEntry = std::move(entry);
    pthread_attr_t attr;
    int result = pthread_attr_init(&attr);
    if (result == 0) {
        result = pthread_attr_setstacksize(&attr, rounded);
        if (result == 0)
            result = pthread_create(&fiber->fThread, &attr, &_ThreadProc, fiber);
        pthread_attr_destroy(&attr);
    }
    if (result != 0) {
        _ThrowError(MakePOSIXVError(result));
        delete fiber;
        return nullptr;
    }
    fiber->fHasThread = true;
    return fiber;
}

XMacFiber* XMacFiber::CreateFiberForThread()
{
    XMacFiber* fiber = new XMacFiber;
    if (int error = fiber->fSemaphore.Create(0); error != 0) {
        _ThrowError(MakeVError(kMACH_SIGNATURE, error));
        delete fiber;
        return nullptr;
    }
    fiber->fThread = pthread_self();
    return fiber;
}

void* XMacFiber::_ThreadProc(void* self)
{
    XMacFiber* fiber = static_cast<XMacFiber*>(self);
    // The first switch to the fiber starts it.
    fiber->fSemaphore.Wait();
    if (fiber->fDestroying.load(std::memory_order_acquire))
        return nullptr;
    // An empty entry throws the standard bad-function-call exception, as
    // calling any empty function does.
    fiber->fEntry();
    return nullptr;
}

void XMacFiber::YieldTo(XMacFiber* from, XMacFiber* to)
{
    if (!from || !to || from == to)
        return;
    to->fSemaphore.Signal();
    from->fSemaphore.Wait();
}

XMacFiber::~XMacFiber()
{
    fDestroying.store(true, std::memory_order_release);
    fSemaphore.Signal();
    if (fHasThread) {
        if (pthread_equal(fThread, pthread_self()))
            pthread_detach(fThread);
        else
            pthread_join(fThread, nullptr);
    }
    fEntry = nullptr;
    fSemaphore.Destroy();
}

}  // namespace bkit
