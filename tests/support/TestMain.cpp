// TestMain.cpp - the common main of every test program.
//
// The whole run happens inside one initialised process object, so that raised
// errors are kept, the process's international manager exists, and the main
// thread is adopted as the main task with an error stack like any task of the
// program. The process stops the task manager when it goes.
#include <gtest/gtest.h>

#include <cstdio>

#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bkit::VProcess process;
    if (!process.Init(0) || !bkit::VTaskMgr::IsInited()) {
        fprintf(stderr, "the process could not be initialised\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
