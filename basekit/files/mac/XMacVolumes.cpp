// XMacVolumes.cpp - the cache of mounted volumes and full-path conversion.
//
// This file implements XMacVolumes over the platform's mount table: the cache
// of volume names and mount paths, and the conversions between POSIX full
// paths and the internal volume form.
#include "basekit/files/mac/XMacVolumes.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/files/VFilePath.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/platform/MountTable.h"
#include "basekit/runtime/VSystem.h"

namespace bkit {

namespace {

// Longest text the conversion takes, in bytes (the size of the resolved-path
// and volume-name buffers it works with).
constexpr size_t kMaxPathBytes = 1024;

// The cache is reloaded when this many milliseconds have passed.
constexpr uint32_t kReloadDelay = 2001;

bool EndsWithSlash(const std::string& text)
{
    return !text.empty() && text.back() == '/';
}

// True when path lies at or below mountPoint, component-wise. A mount point
// only shares a prefix with "/homeother" when it is "/home"; such a path does
// not lie on it.
bool LiesOn(const std::string& path, const std::string& mountPoint)
{
    if (mountPoint == "/")
        return !path.empty() && path[0] == '/';
    if (path.compare(0, mountPoint.size(), mountPoint) != 0)
        return false;
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

// True when the text has a ".." component.
bool HoldsClimb(const std::string& text)
{
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        if (end - start == 2 && text.compare(start, 2, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// True when a ".." step of path, below mountPoint (on which it lies), climbs
// above the mount point's own folder: "/dev/../dev/null" on "/dev". The rest
// of such a text lies on whatever volume it climbed to, not on mountPoint.
bool ClimbsAboveMount(const std::string& path, const std::string& mountPoint)
{
    std::string rest = mountPoint == "/" ? path.substr(1) : path.substr(mountPoint.size());
    int depth = 0;
    for (size_t start = 0; start <= rest.size();) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos)
            end = rest.size();
        size_t n = end - start;
        if (n == 2 && rest.compare(start, 2, "..") == 0) {
            if (--depth < 0)
                return true;
        } else if (n > 0 && !(n == 1 && rest[start] == '.')) {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

// True when the last component of the text is "." or "..": such a text names
// a folder, whatever its final '/'.
bool EndsWithDotStep(const std::string& text)
{
    size_t slash = text.rfind('/');
    std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    return last == "." || last == "..";
}

}  // namespace

bool VolumeNameComparator::operator()(const VString& a, const VString& b) const
{
    // Compose leaves the text as it is on this platform.
    if (a.GetLength() != b.GetLength())
        return a.GetLength() < b.GetLength();
    const UniChar* pa = a.GetCPointer();
    const UniChar* pb = b.GetCPointer();
    for (VIndex i = 0; i < a.GetLength(); ++i) {
        if (pa[i] != pb[i])
            return pa[i] < pb[i];
    }
    return false;
}

XMacVolumes& XMacVolumes::Get()
{
    // Built on first use rather than by a static initialiser, so that it never
    // runs before the lock and string machinery it stands on.
    static XMacVolumes* sInstance = new XMacVolumes();
    return *sInstance;
}

XMacVolumes::XMacVolumes()
{
    _CheckTranslocation();
}

XMacVolumes::~XMacVolumes() = default;

void XMacVolumes::InvalidateCache()
{
    StLocker<VCriticalSection> lock(fLock);
    fLoaded = false;
}

void XMacVolumes::_ReloadCacheIfNecessary()
{
    uint32_t now = static_cast<uint32_t>(VSystem::GetCurrentTime());
    uint32_t generation = platform::MountTable::GetGeneration();
    // A zero load time is a valid clock reading, so the first load is told by
    // its own flag; a change of the platform table (test seam) reloads at once.
    if (fLoaded && generation == fGeneration && static_cast<uint32_t>(now - static_cast<uint32_t>(fLastLoadTime)) < kReloadDelay)
        return;
    fMountPathToName.clear();
    fNameToMountPath.clear();
    for (const platform::MountedVolume& volume : platform::MountTable::GetMountedVolumes()) {
        if (volume.fName.empty())
            continue;
        VString name(volume.fName.c_str());
        name.Compose();
        fMountPathToName.emplace(volume.fMountPath, to_string(name));
        fNameToMountPath.emplace(name, VString(volume.fMountPath.c_str()));
    }
    fLastLoadTime = now;
    fGeneration = generation;
    fLoaded = true;
}

void XMacVolumes::_CheckTranslocation()
{
    // A translocated application runs from a read-only "nullfs" mirror of its
    // bundle. Linux has no such mirror, but the test is honest: it looks at the
    // type of the file system the bundle lies on.
    std::string bundle = platform::BundleInfo::GetMainBundlePath();
    if (bundle.empty() || bundle.size() > kMaxPathBytes)
        return;
    std::string mountPoint, type;
    if (!platform::MountTable::GetMountPointOfPath(bundle.c_str(), mountPoint, &type) || type != "nullfs")
        return;
    for (const platform::MountedVolume& volume : platform::MountTable::GetMountedVolumes()) {
        if (strcasecmp(volume.fMountPath.c_str(), mountPoint.c_str()) == 0 && !volume.fName.empty()) {
            fTranslocationVolumeName = VString(volume.fName.c_str());
            fTranslocationMountPath = VString(mountPoint.c_str());
            return;
        }
    }
}

bool XMacVolumes::GetVolumeNameFromMountPath(const char* mountPath, char* name, size_t size)
{
    if (mountPath == nullptr)
        return false;
    StLocker<VCriticalSection> lock(fLock);
    _ReloadCacheIfNecessary();
    auto found = fMountPathToName.find(mountPath);
    if (found == fMountPathToName.end())
        return false;
    if (name != nullptr && size > 0) {
        size_t n = std::min(size - 1, found->second.size());
        memcpy(name, found->second.data(), n);
        name[n] = 0;
    }
    return true;
}

bool XMacVolumes::_GetMountPointOfPath(const char* path, std::string& mountPoint)
{
    // What statfs answers: the mount the resolved path lies on, the deepest
    // one when mounts nest. The cached table is used so that converting paths
    // does not read the system's mount list each time.
    char buffer[PATH_MAX];
    if (realpath(path, buffer) == nullptr)
        return false;
    std::string resolved(buffer);
    StLocker<VCriticalSection> lock(fLock);
    _ReloadCacheIfNecessary();
    const std::string* best = nullptr;
    for (const auto& entry : fMountPathToName) {
        if (LiesOn(resolved, entry.first) && (best == nullptr || entry.first.size() > best->size()))
            best = &entry.first;
    }
    if (best == nullptr)
        return false;
    mountPoint = *best;
    return true;
}

bool XMacVolumes::GetMountPathFromVolumeName(const VString& name, VString& mountPath)
{
    StLocker<VCriticalSection> lock(fLock);
    _ReloadCacheIfNecessary();
    auto found = fNameToMountPath.find(name);
    if (found != fNameToMountPath.end()) {
        mountPath.FromString(found->second);
        return true;
    }
    return _GetTranslocationMountPathForVolume(name, mountPath);
}

bool XMacVolumes::_GetTranslocationMountPathForVolume(const VString& name, VString& out) const
{
    if (fTranslocationVolumeName.IsEmpty() || !fTranslocationVolumeName.EqualToString(name, false))
        return false;
    out.FromString(fTranslocationMountPath);
    return true;
}

bool XMacVolumes::_ConvertResolvedPath(const std::string& path, const std::string& mountPoint, const char* input,
                                       VString& out)
{
    char volumeName[kMaxPathBytes];
    if (!Get().GetVolumeNameFromMountPath(mountPoint.c_str(), volumeName, sizeof(volumeName)))
        return false;

    bool inputIsFolder = input[0] != 0 && input[strlen(input) - 1] == '/';
    std::string result(volumeName);
    std::string rest = mountPoint == "/" ? path.substr(1) : path.substr(mountPoint.size());

    // Walk the components after the mount point. Every name is preceded by the
    // separator ':'; each ".." writes one more ':' (the internal form's way of
    // climbing a level); "." and empty components (repeated '/') vanish, so
    // "a//../b" climbs once, as POSIX does.
    bool folder = inputIsFolder;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos)
            end = rest.size();
        std::string component = rest.substr(start, end - start);
        bool last = end == rest.size();
        if (component == "..") {
            result.push_back(':');
            folder = folder || last;
        } else if (component == ".") {
            folder = folder || last;
        } else if (!component.empty()) {
            result.push_back(':');
            for (char c : component)
                result.push_back(c == ':' ? '/' : c);
        }
        start = end + 1;
    }
    if (folder)
        result.push_back(':');
    out.FromBlock(result.data(), result.size(), VTC_UTF_8);
    out.Compose();
    return true;
}

bool XMacVolumes::_ConvertUnresolved(const char* posixPath, bool isFolder, VString& out)
{
    // The kernel could not resolve the text, so its ".." steps are taken in
    // the text itself, and the result is converted anew: the folder it names
    // may lie on another volume than the names it climbed from ("/x/../dev/"
    // without "/x" is "/dev/", a mount of its own). Climbing the converted
    // names instead would give that folder a second internal name.
    if (HoldsClimb(posixPath)) {
        VString text;
        text.FromBlock(posixPath, strlen(posixPath), VTC_UTF_8);
        std::string resolved;
        if (VFilePath::ResolveRelativePosix(text) && (resolved = to_string(text)) != posixPath)
            return PosixFullPathToHFS(resolved.c_str(), isFolder, out);
    }
    return _ConvertThroughParent(posixPath, out);
}

bool XMacVolumes::_ConvertThroughParent(const char* posixPath, VString& out)
{
    std::string text(posixPath);
    size_t slash = text.rfind('/');
    if (slash == std::string::npos)
        return false;
    bool folder = false;
    std::string name;
    if (slash + 1 == text.size()) {
        folder = true;
        text.resize(slash);
        slash = text.rfind('/');
        if (slash == std::string::npos)
            return false;
    }
    name = text.substr(slash + 1);
    std::string parent = slash == 0 ? std::string("/") : text.substr(0, slash);
    if (!PosixFullPathToHFS(parent.c_str(), true, out))
        return false;

    auto endsWithColon = [&out] { return out.GetLength() > 0 && out[out.GetLength() - 1] == u':'; };
    if (name.empty())
        return true;
    if (name == ".") {
        if (!endsWithColon())
            out.AppendUniChar(u':');
        return true;
    }
    if (name == "..") {
        if (!endsWithColon())
            out.AppendUniChar(u':');
        out.AppendUniChar(u':');
        return true;
    }
    VString converted;
    converted.FromBlock(name.data(), name.size(), VTC_UTF_8);
    converted.Compose();
    converted.Exchange(u':', u'/');
    if (parent != "/" && !endsWithColon())
        out.AppendUniChar(u':');
    out.AppendString(converted);
    if (folder)
        out.AppendUniChar(u':');
    return true;
}

bool XMacVolumes::PosixFullPathToHFS(const char* posixPath, bool isFolder, VString& out)
{
    if (posixPath == nullptr || *posixPath == 0)
        return false;
    size_t length = strlen(posixPath);
    if (length >= kMaxPathBytes)
        return false;
    if (strcmp(posixPath, "/..") == 0)
        return _ConvertUnresolved(posixPath, isFolder, out);

    // The mount point of the path itself (a folder) or of its folder (a file).
    std::string path(posixPath);
    std::string mountPoint;
    bool found;
    if (isFolder) {
        found = Get()._GetMountPointOfPath(posixPath, mountPoint);
    } else {
        size_t slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? path : (slash == 0 ? std::string("/") : path.substr(0, slash));
        found = Get()._GetMountPointOfPath(folder.c_str(), mountPoint);
    }
    if (!found)
        return _ConvertUnresolved(posixPath, isFolder, out);

    // A file text that climbs out of its folder's mount names an item of
    // another place: the kernel tells which ("/dev/../dev/null" is
    // "/dev/null"). Written as it stands it would climb above the volume in
    // the internal form. Above the top of the tree there is nothing to name:
    // such a text stays the climb above its volume it spells, which no path
    // accepts.
    bool climbsOut = !isFolder && LiesOn(path, mountPoint) && ClimbsAboveMount(path, mountPoint) &&
                     !ClimbsAboveMount(path, "/");
    if (climbsOut && EndsWithDotStep(path))
        return PosixFullPathToHFS((path + "/").c_str(), true, out);
    std::string used;
    if (!isFolder && LiesOn(path, mountPoint) && !climbsOut) {
        used = path;
    } else {
        std::string resolved;
        if (!platform::MountTable::GetResolvedPath(posixPath, resolved))
            return _ConvertUnresolved(posixPath, isFolder, out);
        if (EndsWithSlash(path) && !EndsWithSlash(resolved))
            resolved.push_back('/');
        if (!LiesOn(resolved, mountPoint))
            return _ConvertUnresolved(posixPath, isFolder, out);
        used = resolved;
    }
    if (!_ConvertResolvedPath(used, mountPoint, posixPath, out))
        return _ConvertUnresolved(posixPath, isFolder, out);
    return true;
}

bool XMacVolumes::HFSFullPathToPosix(const VString& path, VString& out)
{
    VIndex colon = path.FindUniChar(u':');
    VString volume = colon > 0 ? path.GetSubString(1, colon - 1) : path;
    VString rest = colon > 0 ? path.GetSubString(colon + 1, path.GetLength() - colon) : VString();
    // Swap the separators: '/' inside a name is ':' on disk.
    const UniChar* units = rest.GetCPointer();
    VString swapped;
    for (VIndex i = 0; i < rest.GetLength(); ++i) {
        UniChar c = units[i];
        swapped.AppendUniChar(c == u'/' ? u':' : (c == u':' ? u'/' : c));
    }

    VString mountPath;
    bool known = Get().GetMountPathFromVolumeName(volume, mountPath);
    if (known) {
        out.AppendString(mountPath);
    } else if (!volume.IsEmpty()) {
        out.AppendUniChar(u'/');
        out.AppendString(volume);
    }
    if (known || !volume.IsEmpty()) {
        if (out.GetLength() == 0 || out[out.GetLength() - 1] != u'/')
            out.AppendUniChar(u'/');
    }
    out.AppendString(swapped);
    return known;
}

}  // namespace bkit
