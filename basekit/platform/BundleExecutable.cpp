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

// An information list is small; anything bigger is not read.
constexpr size_t kMaxInfoSize = 16 * 1024 * 1024;

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

// Reads the "CFBundleExecutable" string of the file at relative below root,
// which holds no link: only a regular file is read (a pipe would keep the
// reader waiting for a writer), and only as much as an information list is.
bool ReadExecutableName(int root, const std::string& relative, std::string& name)
{
    StFileDescriptor file(RetryOnEINTR(
        [&] { return ::openat(root, relative.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    struct stat st;
    if (!file.IsValid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) > kMaxInfoSize)
        return false;
    std::string text;
    char chunk[8192];
    for (;;) {
        ssize_t got = RetryOnEINTR([&] { return ::read(file.Get(), chunk, sizeof(chunk)); });
        if (got < 0)
            return false;
        if (got == 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > kMaxInfoSize)
            return false;
    }
    return BundleInfo::FindInfoString(text.data(), text.size(), "CFBundleExecutable", name);
}

}  // namespace

BundleExecutable::Result BundleExecutable::Find(const std::string& bundle, Execution execution)
{
    Result result;
    result.bundle = WithoutTrailingSlashes(bundle.c_str());
    StFileDescriptor root(
        RetryOnEINTR([&] { return ::open(result.bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!root.IsValid()) {
        result.verdict = Verdict::kNoName;
        return result;
    }

    // The information list is read where the copy will have it: a link
    // leading out of the bundle would dangle in the copy.
    std::vector<std::string> resolved;
    Verdict info = Resolve(root.Get(), {"Contents", "Info.plist"}, resolved);
    if (info != Verdict::kUsable || !ReadExecutableName(root.Get(), Join(resolved), result.name)) {
        result.verdict = info == Verdict::kOutsideBundle ? Verdict::kInfoOutsideBundle : Verdict::kNoName;
        result.name.clear();
        return result;
    }
    result.path = result.bundle + "/Contents/MacOS/" + result.name;
    if (!IsPlainName(result.name)) {
        result.verdict = Verdict::kNameNotPlain;
        return result;
    }

    resolved.clear();
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
    else if (execution == Execution::kSomeExecuteBit && (st.st_mode & 0111) == 0)
        result.verdict = Verdict::kNoExecuteBit;
    else if (execution == Execution::kByThisProcess && ::faccessat(root.Get(), relative.c_str(), X_OK, AT_EACCESS) != 0)
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
    case Verdict::kInfoOutsideBundle:
        return "the information list '" + result.bundle + "/Contents/Info.plist' leads out of the bundle '" +
               result.bundle + "'";
    case Verdict::kNameNotPlain:
        return "the executable name '" + result.name + "' of '" + result.bundle + "' is not a plain file name";
    case Verdict::kMissing:
        return "no executable at '" + result.path + "'";
    case Verdict::kOutsideBundle:
        return "the executable '" + result.path + "' leads out of the bundle '" + result.bundle + "'";
    case Verdict::kNotRegularFile:
        return "the executable '" + result.path + "' is not a regular file";
    case Verdict::kNoExecuteBit:
        return "the executable '" + result.path + "' has no execute permission";
    case Verdict::kNotExecutable:
        return "the executable '" + result.path + "' may not be run by this user (no execute permission)";
    }
    return std::string();
}

}  // namespace platform
}  // namespace bkit
