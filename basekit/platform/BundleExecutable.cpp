// BundleExecutable.cpp - resolving a bundle's executable one path part at a time, inside the bundle.
//
// This file implements BundleExecutable. The kernel's own resolution cannot
// tell where a link leads relative to the bundle, so the path is walked here
// from a descriptor of the bundle's folder: each part is looked at without
// following it, a link's target is spliced in place of the link, and ".."
// climbs the parts already resolved, which are all real folders.
#include "basekit/platform/BundleExecutable.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "basekit/platform/BundleInfo.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"

namespace bkit {
namespace platform {

namespace {

// As many links as the kernel follows before it answers ELOOP.
constexpr int kMaxLinks = 40;

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string Join(const std::vector<std::string>& parts)
{
    std::string path;
    for (const std::string& part : parts) {
        if (!path.empty())
            path += '/';
        path += part;
    }
    return path.empty() ? std::string(".") : path;
}

// The target's parts, in order, put before those still to resolve; a final
// '/' leaves a "." so that what precedes it must be a folder.
void SpliceTarget(const std::string& target, std::deque<std::string>& pending)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= target.size()) {
        size_t slash = target.find('/', start);
        if (slash == std::string::npos)
            slash = target.size();
        if (slash > start)
            parts.push_back(target.substr(start, slash - start));
        start = slash + 1;
    }
    if (!target.empty() && target.back() == '/')
        parts.push_back(".");
    pending.insert(pending.begin(), parts.begin(), parts.end());
}

// Resolves pending below the folder open at root into parts that hold no
// link; the verdict of the walk (kUsable when it ended inside the bundle on
// an item that exists).
BundleExecutable::Verdict Resolve(int root, std::deque<std::string> pending, std::vector<std::string>& resolved)
{
    int links = 0;
    while (!pending.empty()) {
        std::string part = pending.front();
        pending.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            if (resolved.empty())
                return BundleExecutable::Verdict::kOutsideBundle;
            resolved.pop_back();
            continue;
        }
        resolved.push_back(part);
        std::string relative = Join(resolved);
        struct stat st;
        if (::fstatat(root, relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return BundleExecutable::Verdict::kMissing;
        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            ssize_t length = ::readlinkat(root, relative.c_str(), target, sizeof(target));
            if (++links > kMaxLinks || length <= 0 || static_cast<size_t>(length) >= sizeof(target))
                return BundleExecutable::Verdict::kMissing;
            // An absolute target names a place that stays where it is when
            // the bundle is copied: outside the copy, whatever it names now.
            if (target[0] == '/')
                return BundleExecutable::Verdict::kOutsideBundle;
            resolved.pop_back();
            SpliceTarget(std::string(target, static_cast<size_t>(length)), pending);
        } else if (!pending.empty() && !S_ISDIR(st.st_mode)) {
            return BundleExecutable::Verdict::kMissing;  // as ENOTDIR
        }
    }
    return BundleExecutable::Verdict::kUsable;
}

}  // namespace

BundleExecutable::Result BundleExecutable::Find(const std::string& bundle, bool mustBeExecutable)
{
    Result result;
    result.bundle = WithoutTrailingSlashes(bundle.c_str());
    if (!BundleInfo::ReadInfoString((result.bundle + "/Contents/Info.plist").c_str(), "CFBundleExecutable",
                                    result.name)) {
        result.verdict = Verdict::kNoName;
        result.name.clear();
        return result;
    }
    result.path = result.bundle + "/Contents/MacOS/" + result.name;
    if (!IsPlainName(result.name)) {
        result.verdict = Verdict::kNameNotPlain;
        return result;
    }

    StFileDescriptor root(
        RetryOnEINTR([&] { return ::open(result.bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!root.IsValid()) {
        result.verdict = Verdict::kMissing;
        return result;
    }
    std::vector<std::string> resolved;
    result.verdict = Resolve(root.Get(), {"Contents", "MacOS", result.name}, resolved);
    if (result.verdict != Verdict::kUsable)
        return result;

    // No part of relative is a link any more: what is judged here is the file.
    std::string relative = Join(resolved);
    struct stat st;
    if (::fstatat(root.Get(), relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        result.verdict = Verdict::kMissing;
    else if (!S_ISREG(st.st_mode))
        result.verdict = Verdict::kNotRegularFile;
    else if (mustBeExecutable && ::faccessat(root.Get(), relative.c_str(), X_OK, AT_EACCESS) != 0)
        result.verdict = Verdict::kNotExecutable;
    if (result.verdict == Verdict::kUsable)
        result.resolved = result.bundle + "/" + relative;
    return result;
}

std::string BundleExecutable::Describe(const Result& result)
{
    switch (result.verdict) {
    case Verdict::kUsable:
        return std::string();
    case Verdict::kNoName:
        return "'" + result.bundle + "' is not an application bundle: its Contents/Info.plist names no executable";
    case Verdict::kNameNotPlain:
        return "the executable name '" + result.name + "' of '" + result.bundle + "' is not a plain file name";
    case Verdict::kMissing:
        return "no executable at '" + result.path + "'";
    case Verdict::kOutsideBundle:
        return "the executable '" + result.path + "' leads out of the bundle '" + result.bundle + "'";
    case Verdict::kNotRegularFile:
        return "the executable '" + result.path + "' is not a regular file";
    case Verdict::kNotExecutable:
        return "the executable '" + result.path + "' may not be run by this user (no execute permission)";
    }
    return std::string();
}

}  // namespace platform
}  // namespace bkit
