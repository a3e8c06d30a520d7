// SystemInfo.h - the operating system's version, the machine and its user.
//
// This file stands in for the macOS services the system facade asks about the
// system and the machine: NSProcessInfo (version texts, user names), sysctl
// (build number, processor name and counts, model, boot time), the system
// configuration store (computer name) and the translation query. It reads
// uname, /etc/os-release, /proc/cpuinfo, /sys, sysinfo and the password
// database.
//
// The release numbers: Linux has no macOS release, so the version checks see
// this system as the newest release the toolbox knows (15.0.0), unless a test
// pretends an older one through SetReleaseForTesting.
//
// Where it falls short: the processor name is the first "model name" of
// /proc/cpuinfo (absent on some architectures); the machine model is the DMI
// product name, empty in many virtual machines. Thread-safe, except that the
// test seam must not change while another thread reads it.
#pragma once

#include <cstdint>
#include <string>

namespace bkit::platform {

struct OSRelease {
    int32_t major = 15;
    int32_t minor = 0;
    int32_t patch = 0;
};

// The release the version checks see.
OSRelease GetOSRelease();

// Test seam: pretend to be the given release; null goes back to the newest.
void SetReleaseForTesting(const OSRelease* release);

// The system's own version text: the PRETTY_NAME of /etc/os-release (else the
// kernel's name) followed by " (", the kernel's name and release, ")".
std::string GetOSVersionText();

// The kernel's build text (uname's version), cut to maxLength bytes.
std::string GetSystemBuild(size_t maxLength);

// The first processor's model name; empty when unknown.
std::string GetProcessorBrand();

// Processors the system may run (configured), and distinct physical cores
// (distinct (package, core) pairs), and cores online now. 0 when unknown.
int32_t GetConfiguredProcessorCount();
int32_t GetPhysicalCoreCount();
int32_t GetOnlineCoreCount();

// The machine's model name, cut to maxLength bytes; empty when unknown.
std::string GetMachineModel(size_t maxLength);

// Seconds since the kernel booted; -1 when unknown.
int64_t GetSecondsSinceBoot();

// The host name.
std::string GetComputerName();

// The user's login name and full name (the password database's gecos field up
// to its first ','; the login name when it is empty). Empty when unknown.
std::string GetUserLoginName();
std::string GetUserFullName();

}  // namespace bkit::platform
