// VDebugContext.h - what the debug manager keeps per task.
//
// This file defines VDebugContext, the per-task state the debug manager
// consults: a low-level-mode counter (while it is not 0 the task reports only to
// standard error), a reentrancy guard (set while the manager handles an event of
// the task, so that an event raised meanwhile is not handled again), a
// break-suppression value (not 0: a requested debugger break does nothing) and
// whether a handler may ask the user. Every task owns one (VTask::
// GetDebugContext); only the task itself reads and changes it, so it has no lock.
#pragma once

#include <cstdint>

namespace bkit {

class VDebugContext {
public:
    VDebugContext() = default;

    int32_t GetLowLevelCount() const { return fLowLevelCount; }
    void StartLowLevelMode() { ++fLowLevelCount; }
    void StopLowLevelMode() { if (fLowLevelCount > 0) --fLowLevelCount; }
    bool IsInLowLevelMode() const { return fLowLevelCount != 0; }

    // The reentrancy guard; Enter answers false when it was already set.
    bool EnterGuard() { if (fGuard) return false; fGuard = true; return true; }
    void LeaveGuard() { fGuard = false; }
    bool IsGuarded() const { return fGuard; }

    int32_t GetBreakSuppression() const { return fBreakSuppression; }
    void SetBreakSuppression(int32_t value) { fBreakSuppression = value; }

    // Whether a handler may show a notice and wait for the user (true by default).
    bool IsUIAllowed() const { return fUIAllowed; }
    void SetUIAllowed(bool allowed) { fUIAllowed = allowed; }

private:
    int32_t fLowLevelCount = 0;
    bool fGuard = false;
    int32_t fBreakSuppression = 0;
    bool fUIAllowed = true;
};

}  // namespace bkit
