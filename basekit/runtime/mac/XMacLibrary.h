// XMacLibrary.h - the platform side of VLibrary.
//
// This file defines XMacLibrary, which loads a file with dlopen or a folder as
// a bundle (platform/LoadableBundle.h), repairing first the "XSym" text files
// that a copy left in place of a framework's links. It takes no lock: its
// VLibrary serialises the calls.
#pragma once

#include "basekit/BKitTypes.h"

namespace bkit {

namespace platform {
class LoadableBundle;
}

class VFilePath;
class VString;

constexpr VError VE_LIBRARY_CANNOT_LOAD = MakeBKitError(1010);
constexpr VError VE_LIBRARY_BAD_LINK_FILE = MakeBKitError(617);

class XMacLibrary {
public:
    XMacLibrary() = default;
    ~XMacLibrary() { Unload(); }
    XMacLibrary(const XMacLibrary&) = delete;
    XMacLibrary& operator=(const XMacLibrary&) = delete;

    // Raises 'bkit' 1010 for the path, with "reason", when it cannot be loaded.
    bool Load(const VFilePath& path);
    void Unload();
    void* GetProcAddress(const VString& name) const;
    platform::LoadableBundle* GetBundle() const { return fBundle; }

    // Replaces "Versions/Current", "Resources" and the framework's own name,
    // inside the framework, by the symbolic links their "XSym" text names.
    // Stops at the first error (raised; 'bkit' 617 for a text with fewer than
    // four lines).
    static VError RepairFrameworkLinks(const VFilePath& framework);

private:
    platform::LoadableBundle* fBundle = nullptr;
    void* fHandle = nullptr;
};

}  // namespace bkit
