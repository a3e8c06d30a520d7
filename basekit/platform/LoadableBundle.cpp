// LoadableBundle.cpp - bundles of loadable code.
#include "basekit/platform/LoadableBundle.h"

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include "basekit/platform/BundleInfo.h"

namespace bkit::platform {

namespace {

bool IsFrameworkFolder(const std::string& folder)
{
    size_t dot = folder.rfind('.');
    return dot != std::string::npos && ::strcasecmp(folder.c_str() + dot, ".framework") == 0;
}

std::string BaseNameWithoutExtension(const std::string& folder)
{
    size_t slash = folder.rfind('/');
    std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

LoadableBundle* LoadableBundle::Create(const std::string& folderPath)
{
    std::string folder = folderPath;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return nullptr;

    auto* bundle = new LoadableBundle;
    bundle->fFolder = folder;
    bundle->fIsFramework = IsFrameworkFolder(folder);
    std::string name;
    if (bundle->fIsFramework) {
        bundle->fExecutable = folder + "/" + BaseNameWithoutExtension(folder);
    } else {
        if (!BundleInfo::ReadInfoString((folder + "/Contents/Info.plist").c_str(), "CFBundleExecutable", name))
            name = BaseNameWithoutExtension(folder);
        bundle->fExecutable = folder + "/Contents/MacOS/" + name;
    }
    return bundle;
}

LoadableBundle::~LoadableBundle()
{
    UnloadExecutable();
}

std::string LoadableBundle::GetFolderPath(Folder folder) const
{
    const std::string contents = fIsFramework ? fFolder : fFolder + "/Contents";
    switch (folder) {
        case kBundle:
            return fFolder;
        case kExecutableFolder: {
            size_t slash = fExecutable.rfind('/');
            return fExecutable.substr(0, slash);
        }
        case kResources:
            return contents + "/Resources";
        case kPlugIns:
            return contents + "/PlugIns";
        case kPrivateFrameworks:
            return contents + "/Frameworks";
        case kSupportFiles:
            return fIsFramework ? fFolder : contents;
    }
    return std::string();
}

bool LoadableBundle::LoadExecutable(std::string& reason)
{
    if (fHandle)
        return true;
    fHandle = ::dlopen(fExecutable.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!fHandle) {
        const char* text = ::dlerror();
        reason = text ? text : "";
        return false;
    }
    return true;
}

void LoadableBundle::UnloadExecutable()
{
    if (fHandle) {
        ::dlclose(fHandle);
        fHandle = nullptr;
    }
}

void* LoadableBundle::GetFunctionPointerForName(const char* name) const
{
    return fHandle ? ::dlsym(fHandle, name) : nullptr;
}

}  // namespace bkit::platform
