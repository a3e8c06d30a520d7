// XBSDSystemFiles.cpp - executable search along PATH and symbolic links over the BSD layer.

#include "basekit/runtime/mac/XBSDSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/files/VFilePath.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

constexpr size_t kWorkBufferSize = 1024;

bool _IsExecutableFile(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_uid == ::geteuid())
        return (st.st_mode & S_IXUSR) != 0;
    if (st.st_gid == ::getegid())
        return (st.st_mode & S_IXGRP) != 0;
    return (st.st_mode & S_IXOTH) != 0;
}

}  // namespace

bool XBSDSystem::SearchExecutablePath(const VString& name, VFilePath& outPath)
{
    std::string utf8 = to_string(name);
    std::string found;
    if (!utf8.empty() && utf8.find('\0') == std::string::npos) {
        if (utf8.find('/') != std::string::npos) {
            char resolved[PATH_MAX];
            if (::realpath(utf8.c_str(), resolved) && std::strlen(resolved) <= kWorkBufferSize &&
                _IsExecutableFile(resolved))
                found = resolved;
        } else if (const char* path = std::getenv("PATH"); path && *path) {
            std::string entries(path);
            size_t start = 0;
            while (found.empty() && start <= entries.size()) {
                size_t colon = entries.find(':', start);
                std::string candidate = entries.substr(start, colon == std::string::npos ? std::string::npos
                                                                                         : colon - start);
                start = colon == std::string::npos ? entries.size() + 1 : colon + 1;
                // An empty entry would mean the current folder, which a
                // search for tools should never pick by accident.
                if (candidate.empty())
                    continue;
                if (candidate.back() != '/')
                    candidate += '/';
                candidate += utf8;
                if (candidate.size() > kWorkBufferSize)
                    continue;
                if (_IsExecutableFile(candidate.c_str()))
                    found = candidate;
            }
        }
    }
    if (found.empty()) {
        outPath.Clear();
        return false;
    }
    VString text;
    text.FromCString(found.c_str());
    outPath.FromFullPath(text, FPS_POSIX);
    return true;
}

VError XBSDSystem::CreateSymbolicLink(const char* target, const char* linkPath)
{
    if (::symlink(target, linkPath) == 0 || errno == 0)
        return VE_OK;
    return _ThrowError(LastPosixError());
}

}  // namespace bkit
