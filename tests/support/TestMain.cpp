// TestMain.cpp - the common main of every test program.
//
// The whole run happens inside one process object, so that raised errors are
// kept, with the main thread adopted as the main task, so that it has an error
// stack like any task of the program.
#include <gtest/gtest.h>

#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bkit::VProcess process;
    if (!bkit::VTaskMgr::Init(&process)) {
        fprintf(stderr, "the task manager could not adopt the main thread\n");
        return 1;
    }
    int result = RUN_ALL_TESTS();
    bkit::VTaskMgr::DeInit();
    return result;
}
