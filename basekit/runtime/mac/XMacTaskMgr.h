// XMacTaskMgr.h - the platform side of the task manager.
//
// This file defines XMacTaskMgr: the thread-specific values (the current task
// and the cached id of a thread that is no task), the making of platform tasks,
// stack sizes and thread names. Everything is static and thread-safe; each
// thread-specific value belongs to the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/runtime/VTask.h"

namespace bkit {

class VString;
class XMacTask;

class XMacTaskMgr {
public:
    // The main task's platform task, adopting the calling thread, which becomes
    // the current task's thread.
    static XMacTask* CreateMain(VTask* task);
    // A preemptive platform task (waiting thread) for style 1; a fiber task for
    // style 3 when the process allows fibers; null otherwise and when the
    // thread cannot be made.
    static XMacTask* Create(VTask* task, ETaskStyle style, size_t stackSize);

    // Whether fiber tasks may be made: the process was initialised with its
    // fibers flag, or a test allowed them.
    static bool AreFibersAllowed();
    // Test seam: allows fiber tasks whatever the process's flags (false goes
    // back to the process's answer).
    static void SetFibersAllowedForTesting(bool allowed);

    // Whether a fiber's waits go through the installed fiber scheduler: true
    // when one other than the do-nothing default is installed. Under the
    // default nothing would ever switch fibers, and since each fiber here is a
    // thread of its own, a waiting fiber blocks its thread instead, as a thread
    // task does.
    static bool FiberWaitsUseScheduler();

    // Switches from the calling task's fiber to target's when both have the
    // same home task and target has not ended; does nothing otherwise.
    static void YieldToFiber(VTask* target);

    // The calling thread's stack size, 0 when unknown.
    static size_t ComputeMainTaskStackSize();
    // Bytes between the calling point and the bottom of the calling thread's
    // stack: a task's own, or for a thread that is no task the bounds the
    // system reports (GetCurrentFreeStackSizeStatic when it cannot tell).
    static size_t GetCurrentFreeStackSize();
    // The RLIMIT_STACK value, 1048576 when it cannot be read or is unlimited.
    static size_t GetCurrentFreeStackSizeStatic();

    // Names the calling thread "<name> (id = <id>)" (cut to what the system keeps);
    // the process's main thread keeps the process's name (see ThreadInfo.h).
    static void SetCurrentThreadName(const VString& name, int32_t id);

    // The calling thread's kernel id, cached per thread.
    static int32_t GetCurrentForeignTaskID()
    {
        if (sForeignID == 0) sForeignID = _ComputeForeignTaskID();
        return sForeignID;
    }

    // The calling thread's task (no reference), null for a thread that is no task.
    static VTask* GetCurrentTask() { return sCurrentTask; }
    static void SetCurrentTask(VTask* task)
    {
        sCurrentTask = task;
        sCurrentTaskID = 0;
    }

    // The calling thread's task's id, 0 for a thread that is no task. Kept per
    // thread: every lock asks for it, and reading it from the task would make
    // the task's first bytes (its reference count among them) travel between
    // the processors of the task and of whoever retains it.
    static int32_t GetCurrentTaskID()
    {
        int32_t id = sCurrentTaskID;
        if (id == 0 && sCurrentTask) {
            // A task's id never changes once given; 0 means not given yet.
            id = sCurrentTask->GetID();
            sCurrentTaskID = id;
        }
        return id;
    }

private:
    static int32_t _ComputeForeignTaskID();

    // Plain thread-local values rather than pthread keys: the lock path reads
    // them on every Lock.
    static inline thread_local VTask* sCurrentTask = nullptr;
    static inline thread_local int32_t sForeignID = 0;
    static inline thread_local int32_t sCurrentTaskID = 0;
};

}  // namespace bkit
