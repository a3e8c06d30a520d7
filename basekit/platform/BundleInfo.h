// BundleInfo.h - the main bundle's location and its information list.
//
// This file stands in for the bundle services of CoreFoundation that the
// toolbox asks for the main bundle and the keys of its Info.plist. The
// executable is /proc/self/exe; when it lies at <B>/Contents/MacOS/<name>, <B>
// is the main bundle and <B>/Contents/Info.plist its information list.
// Otherwise there is no bundle and every key is absent.
//
// The list is read by a small XML property-list reader that uses no toolbox
// object and no static object that needs construction, because the memory
// manager asks it for "MemoryAllocator" while it is being built, before any
// other static initialiser has run.
//
// Where it falls short: binary property lists are not read; only string values
// of the top-level dictionary are answered; the bundle is not cached, so every
// call reads the file again. Thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace bkit {
namespace platform {

class BundleInfo {
public:
    // The path of the running executable (or the one a test set); empty when it
    // cannot be read.
    static std::string GetExecutablePath();

    // The main bundle's folder (no trailing '/'), or empty when the executable
    // does not lie at <B>/Contents/MacOS/<name>.
    static std::string GetMainBundlePath();

    // Reads the string value of a top-level key of the main bundle's
    // Info.plist into value. False when there is no bundle, no readable list, no
    // such key, or its value is not a string.
    static bool GetMainBundleInfoString(const char* key, std::string& value);

    // The same for the list in the file at path.
    static bool ReadInfoString(const char* path, const char* key, std::string& value);

    // The same for list text in memory.
    static bool FindInfoString(const char* text, size_t length, const char* key, std::string& value);

    // Test seam: makes the reader take path as the executable's path; null goes
    // back to /proc/self/exe. The text is copied.
    static void SetExecutablePathForTesting(const char* path);
};

}  // namespace platform
}  // namespace bkit
