// ThreadInfo.h - thread ids, names, stacks, times and timed condition waits.
//
// This file stands in for the Mach and Darwin thread services that the task
// layer uses:
// - the thread port (pthread_mach_thread_np): the kernel thread id (gettid).
//   Shortfall: Linux tells a thread's id only to the thread itself, so the task
//   layer has a new thread report its own id once it starts;
// - pthread_get_stacksize_np and pthread_get_stackaddr_np: pthread_getattr_np;
// - pthread_setname_np of the calling thread: names longer than the 15 bytes
//   Linux keeps are cut at a UTF-8 character boundary, never refused.
//   Shortfall: Linux gives the main thread no name of its own; its name is the
//   process's, which ps, top, pgrep and killall show. Naming the main thread
//   therefore does nothing here, and it keeps the executable's name;
// - thread_info basic information: /proc/self/task/<tid>/stat. Shortfall: the
//   usage is the thread's processor time over its whole life divided by that
//   life, not the kernel's decaying recent usage;
// - pthread_cond_timedwait_relative_np: pthread_cond_timedwait on a condition
//   made for CLOCK_MONOTONIC with InitMonotonicCondition.
// Every function is thread-safe and acts on the calling thread unless told.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace bkit::platform {

// The calling thread's kernel id (never 0).
int32_t GetCurrentThreadPort();

// The calling thread's stack: its highest address and its size. False when the
// system cannot tell (both are then 0).
bool GetCurrentThreadStack(char** top, size_t* size);

// Names the calling thread; the name is cut to 15 bytes at a character boundary.
// The process's main thread is left alone: its name is the process's.
void SetCurrentThreadName(const char* utf8Name);

// The name of the calling thread as the system keeps it.
bool GetCurrentThreadName(char* buffer, size_t size);

// Processor times of thread tid of this process, in seconds, and its usage as a
// fraction of one processor. False when the thread cannot be read.
bool GetThreadCPUTimes(int32_t tid, double& user, double& system);
bool GetThreadCPUUsage(int32_t tid, double& usage);

// Initialises a condition whose timed waits measure the monotonic clock.
// Answers 0 or the error.
int InitMonotonicCondition(pthread_cond_t* condition);

// Waits on a condition made by InitMonotonicCondition for at most ms
// milliseconds from now (the mutex held). Answers 0, ETIMEDOUT or the error.
int CondTimedWaitRelative(pthread_cond_t* condition, pthread_mutex_t* mutex, int ms);

// The same with an absolute deadline on the monotonic clock.
int CondTimedWaitUntil(pthread_cond_t* condition, pthread_mutex_t* mutex, const struct timespec& deadline);

}  // namespace bkit::platform
