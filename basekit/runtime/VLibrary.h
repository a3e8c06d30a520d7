// VLibrary.h - a dynamic library or bundle loaded at run time.
//
// This file defines VLibrary, which loads a dynamic library (a file) or a
// bundle (a folder: framework or plug-in) and finds its functions, and
// BundleFolderKind, the folders of a loaded bundle.
//
// Contracts:
// - A library is created unloaded; Load loads it once, Unload (and the
//   destructor) unloads it. Failures are raised on the calling task ('bkit'
//   1010 with the parameter "reason").
// - Loading a file adds the read and execute bits for everybody when some are
//   missing. Loading a framework first repairs its links that a copy turned
//   into "XSym" text files.
// - Retain... operations hand a new reference to the caller.
// - Reference counted (1 at construction); every operation takes the
//   library's lock, so a library may be shared between tasks.
#pragma once

#include "basekit/files/VFilePath.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/mac/XMacLibrary.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFile;
class VFolder;
class VString;

enum BundleFolderKind : int32_t {
    kBUNDLE_FOLDER = 1,
    kBUNDLE_EXECUTABLE_FOLDER = 2,
    kBUNDLE_RESOURCES_FOLDER = 3,
    kBUNDLE_PLUGINS_FOLDER = 5,
    kBUNDLE_PRIVATE_FRAMEWORKS_FOLDER = 6,
    kBUNDLE_SUPPORT_FOLDER = 7,
};

class VLibrary : public VObject, public IRefCountable {
public:
    explicit VLibrary(const VFilePath& path);
    ~VLibrary() override;
    VLibrary(const VLibrary&) = delete;
    VLibrary& operator=(const VLibrary&) = delete;

    // Loads once; answers whether the library is loaded.
    bool Load();
    void Unload();
    bool IsLoaded();

    // The function of that name, or null (also when not loaded).
    void* GetProcAddress(const VString& name);

    // The library's path text equals path's.
    bool IsSameFile(const VFilePath& path);
    const VFilePath& GetPath() const { return fPath; }

    // Only for a loaded bundle; null otherwise.
    VFolder* RetainFolder(BundleFolderKind kind);
    VFile* RetainExecutableFile();
    const platform::LoadableBundle* MAC_GetBundleRef();

    // The platform has no resource files: always null.
    VFile* RetainResourceFile();

private:
    VCriticalSection fLock;
    VFilePath fPath;
    XMacLibrary fImpl;
    VFile* fResourceFile = nullptr;
    bool fResourceFileLookedUp = false;
    bool fLoaded = false;
};

}  // namespace bkit
