// VProcess.cpp - registration, initialisation and shutdown of the process object.
#include "basekit/process/VProcess.h"

#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
{
    sInstance = this;
}

VProcess::~VProcess()
{
    if (fInitialized)
        _DeInit();
    if (fIntlMgr) {
        fIntlMgr->Release();
        fIntlMgr = nullptr;
    }
    if (sInstance == this)
        sInstance = nullptr;
}

bool VProcess::Init(uint32_t flags)
{
    if (!fInitialized) {
        fInitialized = true;
        fInitResult = _Init(flags);
    }
    return fInitResult;
}

bool VProcess::_Init(uint32_t flags)
{
    sInstance = this;
    fFibersAllowed = (flags & kInitAllowFibers) != 0;

    // Made before the main task, which starts with a copy of it.
    // Dialect 0 stands for the system's dialect.
    fIntlMgr = VIntlMgr::Create(0, 0, 1);
    if (!fIntlMgr)
        return false;

    // A task manager already started (by another process object of a test)
    // stays with whoever started it.
    if (VTaskMgr::IsInited())
        return true;
    fStartedTaskMgr = VTaskMgr::Init(this);
    return fStartedTaskMgr;
}

void VProcess::_DeInit()
{
    if (sInstance == this)
        sInstance = nullptr;
    if (fStartedTaskMgr) {
        fStartedTaskMgr = false;
        VTaskMgr::DeInit();
    }
    if (fIntlMgr) {
        fIntlMgr->Release();
        fIntlMgr = nullptr;
    }
}

}  // namespace bkit
