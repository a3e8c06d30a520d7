// XMacTaskMgr.cpp - thread-specific values, platform tasks, stacks and names.
#include "basekit/runtime/mac/XMacTaskMgr.h"

#include <sys/resource.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <typeinfo>

#include "basekit/platform/ThreadInfo.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacFiber.h"
#include "basekit/runtime/mac/XMacTask.h"
#include "basekit/text/VString.h"

namespace bkit {

int32_t XMacTaskMgr::_ComputeForeignTaskID()
{
    return platform::GetCurrentThreadPort();
}

XMacTask* XMacTaskMgr::CreateMain(VTask* task)
{
    return XMacTask_preemptive::CreateMain(task);
}

namespace {
std::atomic<bool> sFibersAllowedForTesting{false};
}

bool XMacTaskMgr::AreFibersAllowed()
{
    if (sFibersAllowedForTesting.load(std::memory_order_acquire)) return true;
    VProcess* process = VProcess::sInstance;
    return process && process->AreFibersAllowed();
}

void XMacTaskMgr::SetFibersAllowedForTesting(bool allowed)
{
    sFibersAllowedForTesting.store(allowed, std::memory_order_release);
}

XMacTask* XMacTaskMgr::Create(VTask* task, ETaskStyle style, size_t stackSize)
{
    if (style == eTaskStylePreemptive) return XMacTask_preemptive::Create(task, stackSize);
    if (style == eTaskStyleFiber && AreFibersAllowed()) return XMacTask_fiber::Create(task, stackSize);
    return nullptr;
}

bool XMacTaskMgr::FiberWaitsUseScheduler()
{
    if (!VTaskMgr::IsInited()) return false;
    IFiberScheduler* scheduler = VTaskMgr::Get()->RetainFiberScheduler();
    if (!scheduler) return false;
    // A policy built on the default (overriding some of its slots) is a real one.
    const bool real = typeid(*scheduler) != typeid(VScheduler_void);
    scheduler->Release();
    return real;
}

void XMacTaskMgr::YieldToFiber(VTask* target)
{
    VTask* caller = sCurrentTask;
    XMacTask* from = caller ? caller->GetPlatformTask() : nullptr;
    XMacTask* to = target ? target->GetPlatformTask() : nullptr;
    if (!from || !to || from == to || from->GetHomeTask() != to->GetHomeTask()) return;
    // An ended fiber's thread waits for no baton; the switch would never come
    // back. A fiber is marked dead before it wakes its home, so no fiber of
    // this home can see it ended and not yet dead.
    if (target->GetState() == TS_DEAD) return;
    XMacFiber* fromFiber = from->EnsureFiber();
    XMacFiber* toFiber = to->GetFiber();
    if (fromFiber && toFiber) XMacFiber::YieldTo(fromFiber, toFiber);
}

size_t XMacTaskMgr::ComputeMainTaskStackSize()
{
    char* top = nullptr;
    size_t size = 0;
    platform::GetCurrentThreadStack(&top, &size);
    return size;
}

size_t XMacTaskMgr::GetCurrentFreeStackSizeStatic()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1048576;
    return static_cast<size_t>(limit.rlim_cur);
}

size_t XMacTaskMgr::GetCurrentFreeStackSize()
{
    char here;
    char* bottom = nullptr;
    VTask* task = sCurrentTask;
    XMacTask* platformTask = task ? task->GetPlatformTask() : nullptr;
    if (platformTask && platformTask->GetStackTop()) {
        bottom = platformTask->GetStackTop() - platformTask->GetStackSize();
    } else {
        // A thread that is no task still has a stack of known bounds, and
        // the readers' and writers' depth guards need what is left of it, not
        // a constant. Asked once per thread: for the main thread the answer
        // comes from the process's memory map.
        thread_local char* tBottom = nullptr;
        thread_local bool tAsked = false;
        if (!tAsked) {
            tAsked = true;
            char* top = nullptr;
            size_t size = 0;
            if (platform::GetCurrentThreadStack(&top, &size)) tBottom = top - size;
        }
        if (!tBottom) return GetCurrentFreeStackSizeStatic();
        bottom = tBottom;
    }
    char* local = &here;
    return local > bottom ? static_cast<size_t>(local - bottom) : 0;
}

void XMacTaskMgr::SetCurrentThreadName(const VString& name, int32_t id)
{
    std::string utf8;
    if (name.GetLength() > 0) {
        int32_t needed = 0;
        UErrorCode status = U_ZERO_ERROR;
        const UChar* text = reinterpret_cast<const UChar*>(name.GetCPointer());
        u_strToUTF8(nullptr, 0, &needed, text, name.GetLength(), &status);
        utf8.resize(static_cast<size_t>(needed));
        status = U_ZERO_ERROR;
        u_strToUTF8(utf8.data(), needed, &needed, text, name.GetLength(), &status);
        if (U_FAILURE(status)) utf8.clear();
    }
    char suffix[32];
    snprintf(suffix, sizeof(suffix), " (id = %d)", id);
    utf8 += suffix;
    platform::SetCurrentThreadName(utf8.c_str());
}

}  // namespace bkit
