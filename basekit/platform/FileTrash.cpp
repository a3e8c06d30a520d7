// FileTrash.cpp - the freedesktop.org Trash behind MoveItemToTrash.
//
// An item goes to the home Trash when it lies on the volume of that Trash, and
// otherwise to $topdir/.Trash-$UID at the top of its own mount, so that the
// move is always a rename and never a copy. The info record is written first
// (its exclusive creation reserves the name), then the item is moved; a failed
// move removes the record again.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

int _MakeFolders(const std::string& path)
{
    if (path.empty())
        return EINVAL;
    std::string::size_type pos = 1;
    for (;;) {
        pos = path.find('/', pos);
        std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (pos == std::string::npos)
            break;
        ++pos;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Prepares files/ and info/ of a Trash; true when both are usable.
bool _PrepareTrash(const std::string& trash)
{
    return _MakeFolders(trash + "/files") == 0 && _MakeFolders(trash + "/info") == 0;
}

std::string _HomeTrash()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return std::string(data) + "/Trash";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/share/Trash";
    return {};
}

std::string _Parent(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    return (slash == std::string::npos || slash == 0) ? "/" : path.substr(0, slash);
}

// The highest folder above path that is still on device.
std::string _TopOfMount(const std::string& path, dev_t device)
{
    std::string top = _Parent(path);
    while (top != "/") {
        std::string up = _Parent(top);
        struct stat st;
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != device)
            break;
        top = up;
    }
    return top;
}

std::string _EncodePath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string _AbsolutePath(const char* path)
{
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    if (!text.empty() && text[0] == '/')
        return text;
    char cwd[4096];
    if (!::getcwd(cwd, sizeof(cwd)))
        return text;
    return std::string(cwd) + "/" + text;
}

}  // namespace

int MoveItemToTrash(const char* path, std::string* outTrashedPath)
{
    if (int err = FaultSeam::Check(FaultOperation::kTrash))
        return err;
    std::string item = _AbsolutePath(path);
    struct stat st;
    if (::lstat(item.c_str(), &st) != 0)
        return errno;

    // The home Trash serves the volume it lies on; any other volume has its own.
    std::string trash = _HomeTrash();
    std::string recordedPath = item;
    struct stat trashStat;
    bool useHome = !trash.empty() && _PrepareTrash(trash) && ::stat(trash.c_str(), &trashStat) == 0 &&
                   trashStat.st_dev == st.st_dev;
    if (!useHome) {
        std::string top = _TopOfMount(item, st.st_dev);
        trash = (top == "/" ? std::string() : top) + "/.Trash-" + std::to_string(::getuid());
        if (!_PrepareTrash(trash))
            return ENOTSUP;
        recordedPath = item.substr(top == "/" ? 1 : top.size() + 1);
    }

    std::string name = item.substr(item.find_last_of('/') + 1);
    char date[32];
    time_t now = ::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
    std::string record = "[Trash Info]\nPath=" + _EncodePath(recordedPath) + "\nDeletionDate=" + date + "\n";

    for (int attempt = 1; attempt < 10000; ++attempt) {
        std::string candidate = attempt == 1 ? name : name + "." + std::to_string(attempt);
        std::string info = trash + "/info/" + candidate + ".trashinfo";
        std::string target = trash + "/files/" + candidate;
        StFileDescriptor fd(::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.IsValid()) {
            if (errno == EEXIST)
                continue;
            return ENOTSUP;
        }
        struct stat existing;
        if (::lstat(target.c_str(), &existing) == 0) {
            // A stray item without its record: leave it and take another name.
            fd.Reset();
            ::unlink(info.c_str());
            continue;
        }
        bool written = ::write(fd.Get(), record.data(), record.size()) == static_cast<ssize_t>(record.size());
        fd.Reset();
        int err = written ? 0 : ENOSPC;
        if (err == 0 && ::renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            err = errno;
            if (err == EINVAL && ::rename(item.c_str(), target.c_str()) == 0)
                err = 0;
        }
        if (err != 0) {
            ::unlink(info.c_str());
            return err == EXDEV ? ENOTSUP : err;
        }
        if (outTrashedPath)
            *outTrashedPath = target;
        return 0;
    }
    return EEXIST;
}

}  // namespace bkit
