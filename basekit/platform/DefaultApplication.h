// DefaultApplication.h - opening a file with the application the user prefers for it.
//
// This file stands in for LaunchServices' LSOpenCFURLRef called with a file URL:
// the file is handed to xdg-open, started without a shell through PATH. The
// call waits a short while for xdg-open to answer, so that a missing file or a
// missing opener is reported; an opener that is still running after that (some
// start the application in the foreground) is left to run and counts as
// success, and it is reaped when it ends.
//
// Where it falls short: the answer is xdg-open's, which cannot tell every
// failure of the application it starts. Tests put a program of their own named
// xdg-open first on PATH to see what is opened. Thread-safe.
#pragma once

#include "basekit/BKitTypes.h"

namespace bkit::platform {

// Opens the file at path (UTF-8). 0 on success; 'POSX' ENOENT when xdg-open
// cannot be found or the file does not exist; 'POSX' with the spawn's errno
// when it cannot be started; 'POSX' EIO when xdg-open answers a failure.
VError OpenWithDefaultApplication(const char* path);

}  // namespace bkit::platform
