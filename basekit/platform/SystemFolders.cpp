// SystemFolders.cpp - well-known folders from the environment.
#include "basekit/platform/SystemFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace bkit {

namespace {

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

// An absolute XDG variable, else the home-relative default.
std::string FromEnvironment(const char* variable, const char* homeRelative)
{
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/')
        return value;
    std::string home = HomeFolder();
    if (home.empty() || home.back() != '/')
        home.push_back('/');
    return home + homeRelative;
}

std::string ExecutableFolder()
{
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return std::string();
    std::string path(buffer.data(), static_cast<size_t>(length));
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int MakeFolders(const std::string& path)
{
    std::string partial;
    size_t at = 0;
    while (at < path.size()) {
        size_t next = path.find('/', at + 1);
        partial = path.substr(0, next == std::string::npos ? path.size() : next);
        at = next == std::string::npos ? path.size() : next;
        if (partial.empty() || partial == "/")
            continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

}  // namespace

int GetSystemFolderPath(uint32_t kind, bool create, std::string& out)
{
    out.clear();
    bool creatable = true;
    switch (kind) {
        case 0: out = ExecutableFolder(); creatable = false; break;
        case 1: out = FromEnvironment("XDG_DOCUMENTS_DIR", "Documents"); break;
        case 2: {
            const char* tmp = std::getenv("TMPDIR");
            out = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp/";
            creatable = false;
            break;
        }
        case 4:
        case 6: out = "/usr/local/share"; break;
        case 5:
        case 7: out = FromEnvironment("XDG_DATA_HOME", ".local/share"); break;
        case 8: out = FromEnvironment("XDG_DESKTOP_DIR", "Desktop"); break;
        case 9: out = "/opt"; break;
        case 10: out = "/var/cache"; break;
        case 11: out = FromEnvironment("XDG_CACHE_HOME", ".cache"); break;
        case 12: out = HomeFolder() + "/.local"; break;
        case 13: out = HomeFolder(); creatable = false; break;
        default: break;
    }
    if (out.empty())
        return ENOENT;
    if (out.back() != '/')
        out.push_back('/');
    if (create && creatable)
        return MakeFolders(out);
    return 0;
}

}  // namespace bkit
