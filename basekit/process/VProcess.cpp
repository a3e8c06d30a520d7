// VProcess.cpp - registration of the process object.
#include "basekit/process/VProcess.h"

namespace bkit {

VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
{
    sInstance = this;
}

VProcess::~VProcess()
{
    if (sInstance == this)
        sInstance = nullptr;
}

}  // namespace bkit
