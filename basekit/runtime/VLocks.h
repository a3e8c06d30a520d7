// VLocks.h - all the locking primitives of the toolbox in one include.
//
// This file gathers the spin-lock strategy, the critical section with its
// scoped holder StLocker, the manual-reset event and the condition variable.
#pragma once

#include "basekit/runtime/VConditionVariable.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VSpinLock.h"
#include "basekit/runtime/VSyncEvent.h"
