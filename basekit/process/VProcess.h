// VProcess.h - the process object.
//
// This file defines VProcess, the one process object of a program. A program
// constructs exactly one, which registers itself as VProcess::sInstance for its
// whole life and unregisters itself when destroyed; everything in the toolbox
// may reach it from any task through sInstance (null before it exists and after
// it is gone). Several toolbox services behave differently without it: raising
// an error, for one, does nothing before the process object exists.
//
// Only the registration is here so far; initialisation, the run of the
// application and the process-wide services are added as they are built.
#pragma once

#include "basekit/values/VObject.h"

namespace bkit {

class VProcess : public VObject {
public:
    // Registers this object as sInstance (replacing an earlier registration).
    VProcess();

    // Clears sInstance when it is this object.
    ~VProcess() override;

    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // The process object, or null.
    static VProcess* Get() { return sInstance; }

    static VProcess* sInstance;
};

}  // namespace bkit
