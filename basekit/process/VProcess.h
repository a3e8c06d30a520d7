// VProcess.h - the process object.
//
// This file defines VProcess, the one process object of a program. A program
// constructs exactly one, which registers itself as VProcess::sInstance for its
// whole life and unregisters itself when destroyed; everything in the toolbox
// may reach it from any task through sInstance (null before it exists and after
// it is gone). Several toolbox services behave differently without it: raising
// an error, for one, does nothing before the process object exists.
//
// Init starts the process-wide services once (later calls answer the first
// result): it notes whether fiber tasks are allowed, makes the international
// manager of the system's dialect and adopts the calling thread as the main
// task. The destructor of an initialised process stops them again in reverse
// order. Init and destruction run on the main thread; the getters may be called
// from any task once Init has returned. GetIntlMgr hands out no reference: the
// process keeps its manager until it is destroyed, and a task that wants to use
// one works on its own copy (VTask::GetCurrentIntlManager).
#pragma once

#include <cstdint>

#include "basekit/values/VObject.h"

namespace bkit {

class VIntlMgr;

class VProcess : public VObject {
public:
    // Initialisation flags.
    static constexpr uint32_t kInitAllowFibers = 0x2;
    static constexpr uint32_t kInitCreateLogger = 0x10;
    static constexpr uint32_t kInitCreateFileSystemNotifier = 0x40;

    // Registers this object as sInstance (replacing an earlier registration).
    VProcess();

    // Stops what Init started, then clears sInstance when it is this object.
    ~VProcess() override;

    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // The first call runs the initialisation and keeps its answer; later calls
    // answer it again without doing anything.
    virtual bool Init(uint32_t flags);

    bool IsInitialized() const { return fInitialized; }

    // Whether Init was given kInitAllowFibers.
    bool AreFibersAllowed() const { return fFibersAllowed; }

    // The process's international manager (of the system's dialect), null
    // before Init and after a failed one. No reference.
    VIntlMgr* GetIntlMgr() const { return fIntlMgr; }

    // The process object, or null.
    static VProcess* Get() { return sInstance; }

    static VProcess* sInstance;

protected:
    // The steps of Init, stopping with false at the first that fails.
    virtual bool _Init(uint32_t flags);
    // Undoes _Init (run by the destructor of an initialised process).
    virtual void _DeInit();

private:
    bool fInitialized = false;
    bool fInitResult = false;
    bool fFibersAllowed = false;
    bool fStartedTaskMgr = false;
    VIntlMgr* fIntlMgr = nullptr;
};

}  // namespace bkit
