// LoadableBundle.h - bundles of loadable code, in place of CoreFoundation's
// bundle objects.
//
// This file defines platform::LoadableBundle, what the toolbox expects of a
// bundle that holds code: its folder, its executable and its standard
// sub-folders. A bundle is a folder laid out as on macOS:
//   <B>/Contents/Info.plist with "CFBundleExecutable", the code in
//   <B>/Contents/MacOS/<name>, resources in <B>/Contents/Resources; or a
//   framework <F>.framework with the code in <F>.framework/<F> (usually a
//   link into Versions/Current) and resources in <F>.framework/Resources.
// The executable is opened with dlopen(RTLD_GLOBAL).
// Shortfalls: no bundle cache (each Create makes a new object); the executable
// name comes only from an XML Info.plist (binary lists are not read), else
// from the folder's name without extension.
#pragma once

#include <string>

namespace bkit::platform {

class LoadableBundle {
public:
    enum Folder { kBundle, kExecutableFolder, kResources, kPlugIns, kPrivateFrameworks, kSupportFiles };

    // A bundle for the folder, or null when no executable can be named for it.
    static LoadableBundle* Create(const std::string& folder);
    ~LoadableBundle();
    LoadableBundle(const LoadableBundle&) = delete;
    LoadableBundle& operator=(const LoadableBundle&) = delete;

    const std::string& GetFolder() const { return fFolder; }
    const std::string& GetExecutablePath() const { return fExecutable; }
    // The path of one of its folders (it may not exist).
    std::string GetFolderPath(Folder folder) const;

    // dlopen of the executable; false with the dlerror text in reason.
    bool LoadExecutable(std::string& reason);
    void UnloadExecutable();
    bool IsLoaded() const { return fHandle != nullptr; }
    void* GetFunctionPointerForName(const char* name) const;

private:
    LoadableBundle() = default;
    bool fIsFramework = false;
    std::string fFolder;
    std::string fExecutable;
    void* fHandle = nullptr;
};

}  // namespace bkit::platform
