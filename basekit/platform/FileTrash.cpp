// FileTrash.cpp - the freedesktop.org Trash behind MoveItemToTrash.
//
// An item goes to the home Trash when it lies on the mount of that Trash, and
// otherwise to $topdir/.Trash-$UID at the top of its own mount, so that the
// move is always a rename and never a copy. Mounts are told apart by the
// mount table, not by the device: a bind mount shows a folder of the same
// device, and a rename from it into the home Trash still fails (EXDEV). The
// info record is written first (its exclusive creation reserves the name),
// then the item is moved; a failed move removes the record again.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/MountTable.h"
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

// $topdir/.Trash-$UID, made (0700) when missing. One that exists is used
// only when it is a folder of this user and no link, nor are its files/ and
// info/ links: on a mount that others may write to, anyone could otherwise
// steer where this user's items go.
bool _PrepareTopTrash(const std::string& trash)
{
    for (const std::string& folder : {trash, trash + "/files", trash + "/info"}) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        struct stat st;
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            return false;
    }
    return true;
}

// Moves item into the Trash folder trash as files/<name> (name made unique),
// after writing info/<name>.trashinfo with recordedPath. The rename's errno
// as it is (EXDEV included); ENOTSUP when no record can be made.
int _MoveIntoTrash(const std::string& trash, const std::string& item, const std::string& recordedPath,
                   const std::string& name, std::string* outTrashedPath)
{
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
        ssize_t written = RetryOnEINTR([&] { return ::write(fd.Get(), record.data(), record.size()); });
        int err = written == static_cast<ssize_t>(record.size()) ? 0 : written < 0 ? errno : ENOSPC;
        fd.Reset();
        if (err == 0 && ::renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            err = errno;
            if (err == EINVAL && ::rename(item.c_str(), target.c_str()) == 0)
                err = 0;
        }
        if (err != 0) {
            ::unlink(info.c_str());
            return err;
        }
        if (outTrashedPath)
            *outTrashedPath = target;
        return 0;
    }
    return EEXIST;
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
    const std::string name = item.substr(item.find_last_of('/') + 1);

    // The item lies on the mount of its folder (the item itself may be a
    // link). A bind mount shares its device with the mount it shows, yet a
    // rename between the two fails: the device alone cannot tell them apart.
    char resolved[PATH_MAX];
    if (::realpath(_Parent(item).c_str(), resolved) == nullptr)
        return errno;
    const std::string folder(resolved);
    const std::string resolvedItem = (folder == "/" ? std::string() : folder) + "/" + name;
    std::string mount;
    const bool mountKnown = platform::MountTable::GetMountPointOfPath(folder.c_str(), mount);

    // The home Trash serves the mount it lies on.
    std::string home = _HomeTrash();
    if (!home.empty() && _PrepareTrash(home)) {
        std::string homeMount;
        struct stat homeStat;
        bool sameMount = mountKnown ? platform::MountTable::GetMountPointOfPath(home.c_str(), homeMount) &&
                                          homeMount == mount
                                    : ::stat(home.c_str(), &homeStat) == 0 && homeStat.st_dev == st.st_dev;
        if (sameMount) {
            int err = _MoveIntoTrash(home, item, item, name, outTrashedPath);
            // EXDEV: another mount of the same volume after all (the mount
            // table did not show it); the item's own mount has a Trash.
            if (err != EXDEV)
                return err;
        }
    }

    // Any other mount has its own Trash at its top, where the item is
    // recorded by its path below that top.
    const std::string top = mountKnown ? mount : _TopOfMount(resolvedItem, st.st_dev);
    const std::string trash = (top == "/" ? std::string() : top) + "/.Trash-" + std::to_string(::getuid());
    if (!_PrepareTopTrash(trash))
        return ENOTSUP;
    std::string recordedPath = resolvedItem.substr(top == "/" ? 1 : top.size() + 1);
    int err = _MoveIntoTrash(trash, item, recordedPath, name, outTrashedPath);
    return err == EXDEV ? ENOTSUP : err;
}

}  // namespace bkit
