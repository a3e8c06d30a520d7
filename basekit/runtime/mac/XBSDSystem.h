// XBSDSystem.h - the platform half of the system facade.
//
// This file defines XBSDSystem, the static operations that VSystem forwards to:
// the monotonic clock read in milliseconds and ticks, and the sleep of Delay
// (over basekit/platform/MonotonicClock and nanosleep); and the two services
// of the BSD layer that the file layer uses, the search of an executable file
// by name the way a shell does and the creation of a symbolic link
// (files/mac/XBSDSystemFiles.cpp). Every operation is thread-safe; the search
// reads PATH at each call.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"

namespace bkit {

class VFilePath;
class VString;

class XBSDSystem {
public:
    // Milliseconds of the monotonic clock.
    static uint64_t GetCurrentTime();
    // Sixtieths of a second of the monotonic clock.
    static uint32_t GetCurrentTicks();
    // Sleeps ms milliseconds, sleeping again for the remainder after each
    // interruption. ms <= 0 returns at once.
    static void Delay(int32_t ms);

    // True with the found file's full path, or false with outPath cleared. A
    // name holding '/' is resolved to its real path; any other name is looked
    // for along PATH. A candidate is accepted when it is a regular file (links
    // followed) that the calling process may execute: the owner's bit when the
    // effective user owns it, else the group's bit when the effective group is
    // its group, else the others' bit. Empty PATH entries are skipped. Pushes
    // nothing.
    static bool SearchExecutablePath(const VString& name, VFilePath& outPath);

    // Makes a symbolic link at linkPath whose content is target (both POSIX
    // paths in UTF-8). An existing item at linkPath is not replaced. A failure
    // is pushed and returned as 'POSX' with the errno.
    static VError CreateSymbolicLink(const char* target, const char* linkPath);
};

}  // namespace bkit
