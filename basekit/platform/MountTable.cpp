// MountTable.cpp - the mounted volumes of the machine and their names.
//
// This file implements MountTable over /proc/self/mountinfo, realpath and the
// /proc/self/fd links.
#include "basekit/platform/MountTable.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

namespace bkit {
namespace platform {

namespace {

std::mutex sTestMutex;
std::unique_ptr<std::vector<MountedVolume>> sTestVolumes;
std::atomic<uint32_t> sGeneration{0};

// True when path lies at or below mountPoint, component-wise.
bool IsAtOrBelow(const std::string& path, const std::string& mountPoint)
{
    if (mountPoint == "/")
        return !path.empty() && path[0] == '/';
    if (path.compare(0, mountPoint.size(), mountPoint) != 0)
        return false;
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::vector<MountedVolume> ReadMountInfo()
{
    std::vector<std::string> paths;
    std::vector<std::string> types;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    std::set<std::string> seen;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, field;
        if (!(fields >> id >> parent >> device >> root >> mountPoint))
            continue;
        std::string type;
        while (fields >> field) {
            if (field == "-") {
                fields >> type;
                break;
            }
        }
        std::string path = MountTable::UnescapeField(mountPoint);
        if (path.empty() || path[0] != '/' || !seen.insert(path).second)
            continue;
        if (path == "/") {
            paths.insert(paths.begin(), path);
            types.insert(types.begin(), type);
        } else {
            paths.push_back(path);
            types.push_back(type);
        }
    }
    std::vector<std::string> names = MountTable::MakeVolumeNames(paths);
    std::vector<MountedVolume> volumes;
    volumes.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        volumes.push_back(MountedVolume{paths[i], names[i], types[i]});
    return volumes;
}

}  // namespace

std::string MountTable::UnescapeField(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string> MountTable::MakeVolumeNames(const std::vector<std::string>& mountPaths)
{
    std::vector<std::string> names(mountPaths.size());
    std::set<std::string> taken;
    // The root is named first so that it keeps "Root" whatever its position.
    std::vector<size_t> order;
    for (size_t i = 0; i < mountPaths.size(); ++i)
        if (mountPaths[i] == "/")
            order.push_back(i);
    for (size_t i = 0; i < mountPaths.size(); ++i)
        if (mountPaths[i] != "/")
            order.push_back(i);
    for (size_t i : order) {
        const std::string& path = mountPaths[i];
        std::string base;
        if (path == "/") {
            base = "Root";
        } else {
            std::string trimmed = path;
            while (trimmed.size() > 1 && trimmed.back() == '/')
                trimmed.pop_back();
            base = trimmed.substr(trimmed.rfind('/') + 1);
            for (char& c : base)
                if (c == ':')
                    c = '/';
            if (base.empty())
                base = "Volume";
        }
        std::string name = base;
        for (int n = 2; !taken.insert(name).second; ++n)
            name = base + " " + std::to_string(n);
        names[i] = name;
    }
    return names;
}

std::vector<MountedVolume> MountTable::GetMountedVolumes()
{
    {
        std::lock_guard<std::mutex> guard(sTestMutex);
        if (sTestVolumes)
            return *sTestVolumes;
    }
    return ReadMountInfo();
}

bool MountTable::GetMountPointOfPath(const char* path, std::string& mountPoint, std::string* type)
{
    if (path == nullptr || *path == 0)
        return false;
    char buffer[PATH_MAX];
    if (realpath(path, buffer) == nullptr)
        return false;
    std::string resolved(buffer);
    std::vector<MountedVolume> volumes = GetMountedVolumes();
    const MountedVolume* best = nullptr;
    for (const MountedVolume& volume : volumes) {
        if (IsAtOrBelow(resolved, volume.fMountPath) &&
            (best == nullptr || volume.fMountPath.size() > best->fMountPath.size()))
            best = &volume;
    }
    if (best == nullptr)
        return false;
    mountPoint = best->fMountPath;
    if (type != nullptr)
        *type = best->fType;
    return true;
}

bool MountTable::GetResolvedPath(const char* path, std::string& resolved)
{
    if (path == nullptr || *path == 0)
        return false;
    // A trailing '/' would make the kernel follow a link in the last place;
    // the last name is the caller's own item, never its target.
    std::string own(path);
    while (own.size() > 1 && own.back() == '/')
        own.pop_back();
    int fd = open(own.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    char link[64];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    char buffer[PATH_MAX];
    ssize_t n = readlink(link, buffer, sizeof(buffer) - 1);
    int saved = errno;
    close(fd);
    if (n <= 0) {
        errno = saved;
        return false;
    }
    resolved.assign(buffer, static_cast<size_t>(n));
    return !resolved.empty() && resolved[0] == '/';
}

void MountTable::SetVolumesForTesting(const std::vector<MountedVolume>* volumes)
{
    std::lock_guard<std::mutex> guard(sTestMutex);
    if (volumes != nullptr)
        sTestVolumes = std::make_unique<std::vector<MountedVolume>>(*volumes);
    else
        sTestVolumes.reset();
    sGeneration.fetch_add(1);
}

uint32_t MountTable::GetGeneration()
{
    return sGeneration.load();
}

}  // namespace platform
}  // namespace bkit
