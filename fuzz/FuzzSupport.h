// FuzzSupport.h - what every fuzz target shares.
//
// Check aborts on a broken invariant, which libFuzzer reports as a finding
// with the input that broke it. StartProcess initialises the toolbox's
// process object once for the whole run (tasks, error stacks, the process's
// international manager), as a program's entry does.
#pragma once

#include <cstdlib>

#include "basekit/process/VProcess.h"

namespace bkit::fuzz {

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

inline void StartProcess()
{
    static VProcess process;
    Check(process.Init(0));
}

}  // namespace bkit::fuzz
