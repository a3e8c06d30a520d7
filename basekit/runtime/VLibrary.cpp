// VLibrary.cpp - a dynamic library or bundle loaded at run time.
#include "basekit/runtime/VLibrary.h"

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/LoadableBundle.h"
#include "basekit/text/VString.h"

namespace bkit {

VLibrary::VLibrary(const VFilePath& path) : fPath(path) {}

VLibrary::~VLibrary()
{
    Unload();
}

bool VLibrary::Load()
{
    StLocker<VCriticalSection> locker(fLock);
    if (!fLoaded)
        fLoaded = fImpl.Load(fPath);
    return fLoaded;
}

void VLibrary::Unload()
{
    StLocker<VCriticalSection> locker(fLock);
    if (!fLoaded)
        return;
    fImpl.Unload();
    fLoaded = false;
    ReleaseRefCountable(&fResourceFile);
    fResourceFileLookedUp = false;
}

bool VLibrary::IsLoaded()
{
    StLocker<VCriticalSection> locker(fLock);
    return fLoaded;
}

void* VLibrary::GetProcAddress(const VString& name)
{
    StLocker<VCriticalSection> locker(fLock);
    return fLoaded ? fImpl.GetProcAddress(name) : nullptr;
}

bool VLibrary::IsSameFile(const VFilePath& path)
{
    StLocker<VCriticalSection> locker(fLock);
    return fPath.GetPath().CompareToString(path.GetPath()) == 0;
}

VFolder* VLibrary::RetainFolder(BundleFolderKind kind)
{
    StLocker<VCriticalSection> locker(fLock);
    platform::LoadableBundle* bundle = fLoaded ? fImpl.GetBundle() : nullptr;
    if (!bundle)
        return nullptr;
    platform::LoadableBundle::Folder folder;
    switch (kind) {
        case kBUNDLE_FOLDER: folder = platform::LoadableBundle::kBundle; break;
        case kBUNDLE_EXECUTABLE_FOLDER: folder = platform::LoadableBundle::kExecutableFolder; break;
        case kBUNDLE_RESOURCES_FOLDER: folder = platform::LoadableBundle::kResources; break;
        case kBUNDLE_PLUGINS_FOLDER: folder = platform::LoadableBundle::kPlugIns; break;
        case kBUNDLE_PRIVATE_FRAMEWORKS_FOLDER: folder = platform::LoadableBundle::kPrivateFrameworks; break;
        case kBUNDLE_SUPPORT_FOLDER: folder = platform::LoadableBundle::kSupportFiles; break;
        default: return nullptr;
    }
    std::string path = bundle->GetFolderPath(folder) + "/";
    return new VFolder(VString(path.c_str()), FPS_POSIX);
}

VFile* VLibrary::RetainExecutableFile()
{
    StLocker<VCriticalSection> locker(fLock);
    platform::LoadableBundle* bundle = fLoaded ? fImpl.GetBundle() : nullptr;
    if (!bundle)
        return nullptr;
    return new VFile(VString(bundle->GetExecutablePath().c_str()), FPS_POSIX);
}

const platform::LoadableBundle* VLibrary::MAC_GetBundleRef()
{
    StLocker<VCriticalSection> locker(fLock);
    return fLoaded ? fImpl.GetBundle() : nullptr;
}

VFile* VLibrary::RetainResourceFile()
{
    StLocker<VCriticalSection> locker(fLock);
    // The platform keeps no resource files; the answer is looked up once.
    fResourceFileLookedUp = true;
    return RetainRefCountable(fResourceFile);
}

}  // namespace bkit
