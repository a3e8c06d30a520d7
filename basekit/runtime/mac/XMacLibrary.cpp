// XMacLibrary.cpp - the platform side of VLibrary.
#include "basekit/runtime/mac/XMacLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "basekit/files/VFileError.h"
#include "basekit/files/VFilePath.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/platform/LoadableBundle.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

VError ThrowCannotLoad(const VFilePath& path, const std::string& reason)
{
    StThrowError<VFileError> err(new VFileError(path, VE_LIBRARY_CANNOT_LOAD));
    err->SetString("reason", VString(reason.c_str()));
    return VE_LIBRARY_CANNOT_LOAD;
}

// Adds the missing bits of mode to the file; true when they are all there.
bool EnsureMode(const std::string& file, mode_t mode)
{
    struct stat info;
    if (::stat(file.c_str(), &info) != 0)
        return false;
    if ((info.st_mode & mode) == mode)
        return true;
    return ::chmod(file.c_str(), (info.st_mode & 07777) | mode) == 0;
}

// Replaces item by a symbolic link to target, never leaving the item absent.
VError ReplaceByLink(const std::string& item, const std::string& target)
{
    std::string temporary = item + ".xsym-link";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
        return _ThrowError(LastPosixError());
    if (::rename(temporary.c_str(), item.c_str()) != 0) {
        VError err = LastPosixError();
        ::unlink(temporary.c_str());
        return _ThrowError(err);
    }
    return VE_OK;
}

}  // namespace

VError XMacLibrary::RepairFrameworkLinks(const VFilePath& framework)
{
    const std::string folder = XMacFile::PosixPathText(framework);
    VString name;
    framework.GetFolderName(name, false);
    const std::string items[] = {"Versions/Current", "Resources", to_string(name)};
    for (const std::string& relative : items) {
        const std::string item = folder + "/" + relative;
        struct stat info;
        // A link, a folder or nothing: nothing to repair.
        if (::lstat(item.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        std::ifstream in(item, std::ios::binary);
        if (!in)
            return _ThrowError(LastPosixError());
        char magic[4] = {};
        in.read(magic, 4);
        if (in.gcount() != 4 || std::string(magic, 4) != "XSym")
            continue;  // a real executable or an ordinary file
        in.seekg(0);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        if (lines.size() < 4) {
            StThrowError<VFileError> err(new VFileError(framework, VE_LIBRARY_BAD_LINK_FILE));
            err->SetString("name", VString(relative.c_str()));
            return VE_LIBRARY_BAD_LINK_FILE;
        }
        VError err = ReplaceByLink(item, lines[3]);
        if (err != VE_OK)
            return err;
    }
    return VE_OK;
}

bool XMacLibrary::Load(const VFilePath& path)
{
    if (fHandle || fBundle)
        return true;
    const std::string posix = XMacFile::PosixPathText(path);
    if (path.IsFile()) {
        EnsureMode(posix, 0555);
        fHandle = ::dlopen(posix.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (!fHandle) {
            const char* reason = ::dlerror();
            ThrowCannotLoad(path, reason ? reason : "");
        }
        return fHandle != nullptr;
    }

    const bool framework = path.MatchExtension("framework", false);
    if (framework && RepairFrameworkLinks(path) != VE_OK)
        return ThrowCannotLoad(path, "the framework's links could not be repaired"), false;
    platform::LoadableBundle* bundle = platform::LoadableBundle::Create(posix);
    if (!bundle)
        return ThrowCannotLoad(path, "not a bundle"), false;
    if (framework)
        EnsureMode(bundle->GetExecutablePath(), 0500);
    std::string reason;
    if (!bundle->LoadExecutable(reason)) {
        delete bundle;
        ThrowCannotLoad(path, reason);
        return false;
    }
    fBundle = bundle;
    return true;
}

void XMacLibrary::Unload()
{
    delete fBundle;
    fBundle = nullptr;
    if (fHandle) {
        ::dlclose(fHandle);
        fHandle = nullptr;
    }
}

void* XMacLibrary::GetProcAddress(const VString& name) const
{
    std::string symbol = to_string(name);
    if (fBundle)
        return fBundle->GetFunctionPointerForName(symbol.c_str());
    return fHandle ? ::dlsym(fHandle, symbol.c_str()) : nullptr;
}

}  // namespace bkit
