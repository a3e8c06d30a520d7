// ProcessTable.h - the processes of the machine and this process's use of it.
//
// This file stands in for the kernel queries the system facade makes through
// sysctl (KERN_PROC_ALL, KERN_PROCARGS2), host_processor_info and task_info:
// every process id, a process's short command name and executable path, the
// machine's per-processor tick counters, and this process's threads, resident
// and virtual sizes. It reads /proc. Every function is thread-safe.
//
// Where it falls short: the kernel query lists exited processes that their
// parent has not collected yet; this list leaves them out. The executable path of a process owned by another user
// may be unreadable without privileges; a process that ends while the list is
// read may or may not be listed; tick counters are the kernel's clock ticks
// (USER_HZ), not Mach ticks, which only matters to their ratio.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bkit::platform {

// Appends the id of every running process of /proc to ids. A process that
// has exited is not listed, even while its entry waits for its parent to
// collect it (a zombie): whoever waits for a process to quit sees it gone as
// soon as it has. False when /proc cannot be read (nothing is appended then).
bool ListProcessIDs(std::vector<int32_t>& ids);

// The short command name of pid: the name of its executable cut to 16 bytes,
// or, when the executable cannot be read (another user's process), the
// kernel's name of its main thread (15 bytes at most). False when the process
// does not exist or cannot be read.
bool GetProcessShortName(int32_t pid, std::string& name);

// The path of the executable of pid. False when it cannot be read (no process,
// no permission, a kernel thread).
bool GetProcessExecutablePath(int32_t pid, std::string& path);

// Per-processor tick counters, one entry per processor of /proc/stat.
struct ProcessorTicks {
    uint64_t user = 0;
    uint64_t system = 0;
    uint64_t idle = 0;
    uint64_t nice = 0;
};
bool GetProcessorTicks(std::vector<ProcessorTicks>& ticks);

// The kernel ids of this process's threads.
bool ListOwnThreadIDs(std::vector<int32_t>& tids);

// This process's resident and virtual sizes in bytes (/proc/self/statm).
bool GetOwnMemorySizes(uint64_t& resident, uint64_t& virtualSize);

// Whether a debugger traces this process (TracerPid of /proc/self/status, in
// place of the P_TRACED flag of sysctl).
bool IsBeingTraced();

// The machine's physical memory and its free part in bytes (sysinfo).
bool GetMachineMemory(uint64_t& total, uint64_t& available);

}  // namespace bkit::platform
