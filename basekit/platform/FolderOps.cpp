// FolderOps.cpp - whole-folder copy and forced deletion over descriptors.
//
// Both walks work relative to open directory descriptors (openat, unlinkat,
// O_NOFOLLOW), so that a symbolic link met on the way is never entered and a
// folder renamed meanwhile is not mistaken for another. Items are written
// with the pieces of the single-file copy (FileOps.h), so that a file keeps
// the same things alone or inside a tree; the tree only adds that a file may
// be a further name of a file copied earlier.
#include "basekit/platform/FolderOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FileSync.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

constexpr uint32_t kLockFlags = kFileFlagUserImmutable | kFileFlagSystemImmutable;

std::string Join(const std::string& folder, const char* name)
{
    std::string out(folder);
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

unsigned char TypeOfMode(mode_t mode)
{
    return S_ISDIR(mode) ? DT_DIR : S_ISREG(mode) ? DT_REG : S_ISLNK(mode) ? DT_LNK : S_ISFIFO(mode) ? DT_FIFO
         : S_ISCHR(mode) ? DT_CHR : S_ISBLK(mode) ? DT_BLK : DT_SOCK;
}

// A listing of the open folder that leaves folderFD open; null with errno.
DIR* OpenListing(int folderFD)
{
    int listFD = dup(folderFD);
    if (listFD < 0)
        return nullptr;
    DIR* dir = fdopendir(listFD);
    if (dir == nullptr) {
        int err = errno;
        close(listFD);
        errno = err;
    }
    return dir;
}

// Calls handle(name, type) for each entry of the open folder but "." and
// "..", the type taken from the listing or else from the item (an entry gone
// meanwhile is passed over), until handle answers an errno. That errno, or
// the listing's, or 0.
template <typename Handle>
int ForEachEntry(int folderFD, Handle&& handle)
{
    DIR* dir = OpenListing(folderFD);
    if (dir == nullptr)
        return errno;
    int result = 0;
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (IsDotOrDotDot(name))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(folderFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    errno = 0;
                    continue;
                }
                result = errno;
                break;
            }
            type = TypeOfMode(st.st_mode);
        }
        if ((result = handle(name, type)) != 0)
            break;
        errno = 0;
    }
    if (result == 0 && errno != 0)
        result = errno;
    closedir(dir);
    return result;
}

int OpenSubFolder(int parentFD, const char* name, int extraFlags = O_NOFOLLOW)
{
    return RetryOnEINTR([&] { return openat(parentFD, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags); });
}

// A path that reaches name inside the open folder without spelling out its
// ancestors, for the few calls that take paths (flags, unlocking).
std::string PathAt(int folderFD, const char* name)
{
    return "/proc/self/fd/" + std::to_string(folderFD) + "/" + name;
}

bool IsHiddenAt(int folderFD, const char* name)
{
    uint32_t flags = 0;
    ssize_t n = lgetxattr(PathAt(folderFD, name).c_str(), kFileFlagsAttributeName, &flags, sizeof(flags));
    return n == static_cast<ssize_t>(sizeof(flags)) && (flags & kFileFlagHidden) != 0;
}

int CheckCreate()
{
    return FaultSeam::Check(FaultOperation::kCreate);
}

int DeleteFolderAt(int parentFD, const char* name, const std::string& path, dev_t device);

// Removes whatever is at name inside the folder (a folder with its content).
int RemoveItemAt(int folderFD, const char* name)
{
    struct stat st;
    if (fstatat(folderFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(st.st_mode))
        return DeleteFolderAt(folderFD, name, PathAt(folderFD, name), st.st_dev);
    if (int err = FaultSeam::Check(FaultOperation::kDelete))
        return err;
    return unlinkat(folderFD, name, 0) == 0 || errno == ENOENT ? 0 : errno;
}

// Repairs, before name inside the folder is replaced, what a replacing copy
// stopped between the renames of an exchange (ExchangeItems without the
// one-step exchange) left there: the old item waits under its aside name.
// With nothing at name the replacement never took place, and the old item
// goes back. With an item at name the new one was already in place, and the
// item aside is the old one that replacement was removing: it goes.
int RepairStoppedReplacement(int folderFD, const char* name)
{
    const std::string aside = ExchangeAsideName(name);
    struct stat st;
    if (fstatat(folderFD, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || errno == ENAMETOOLONG ? 0 : errno;
    int err = RestoreExchangeAside(folderFD, name);
    if (err == EEXIST)
        return RemoveItemAt(folderFD, aside.c_str());
    return err == ENOENT ? 0 : err;
}

// Removes the temporary items (TemporaryItemName) of processes that no
// longer run, directly inside the folder: the halves of copies and
// replacements that were stopped, a new copy not yet in place or an old item
// not yet removed. An item of a live process (or of one whose id cannot be
// asked about, made on another machine or in another pid namespace) is a
// copy under way and stays, and so does one that holds source, the folder
// being copied. A failure to remove one is no failure of the caller's copy.
void RemoveStoppedTemporaryItems(int folderFD, const char* source)
{
    std::vector<std::string> stopped;
    ForEachEntry(folderFD, [&](const char* name, unsigned char type) {
        bool inThisSpace = false;
        pid_t owner = TemporaryItemProcess(name, &inThisSpace);
        if (owner <= 0 || !inThisSpace || owner == getpid() || kill(owner, 0) == 0 || errno != ESRCH)
            return 0;
        struct stat st;
        if (type == DT_DIR && (fstatat(folderFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                               FolderLiesWithin(source, st.st_dev, st.st_ino)))
            return 0;
        stopped.emplace_back(name);
        return 0;
    });
    for (const std::string& name : stopped)
        RemoveItemAt(folderFD, name.c_str());
}

// One copy of a tree (or of a folder's content). Each step answers whether
// the copy goes on: false after a failure unless the options say to go on.
class TreeCopier {
public:
    explicit TreeCopier(const FolderCopyOptions& options) : fOptions(options) {}
    ~TreeCopier()
    {
        for (auto& [file, copy] : fCopiesWithMoreNames)
            close(copy.fd);
    }
    TreeCopier(const TreeCopier&) = delete;
    TreeCopier& operator=(const TreeCopier&) = delete;

    const FolderCopyFailure& GetFailure() const { return fFailure; }

    bool Fail(int err, bool onSource, bool isFolder, const std::string& folder, const char* name = nullptr)
    {
        if (fFailure.error == 0) {
            fFailure.error = err;
            fFailure.onSource = onSource;
            fFailure.isFolder = isFolder;
            fFailure.item = name == nullptr ? folder : folder.empty() ? std::string(name) : Join(folder, name);
        }
        ++fFailure.count;
        return fOptions.goOn;
    }

    // The folder fromFD as name inside toParentFD, by the rules of
    // CopyFolderInto. item is its path below the copy's source.
    bool CopyFolderAt(int fromFD, int toParentFD, const char* name, const std::string& item)
    {
        // What an earlier replacement stopped half-way left is repaired
        // first, so that the old item is neither lost behind the new copy
        // nor in the way of the exchange's aside name. A copy that does not
        // replace leaves it alone: it must not merge into a tree it was not
        // given.
        if (fOptions.replace) {
            if (int err = RepairStoppedReplacement(toParentFD, name))
                return Fail(err, false, true, item);
        }
        struct stat target;
        bool isFolder = fstatat(toParentFD, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        bool present = isFolder || fstatat(toParentFD, name, &target, AT_SYMLINK_NOFOLLOW) == 0;
        if (!present && errno != ENOENT)
            return Fail(errno, false, true, item);
        if (present && !fOptions.replace) {
            if (!isFolder)
                return Fail(EEXIST, false, true, item);
            StFileDescriptor to(OpenSubFolder(toParentFD, name, 0));
            if (!to.IsValid())
                return Fail(errno, false, true, item);
            return CopyEntries(fromFD, to.Get(), true, item);
        }

        const std::string hidden = TemporaryItemName();
        const int failuresBefore = fFailure.count;
        bool goOn = CopyNewFolder(fromFD, toParentFD, hidden.c_str(), item);
        if (fFailure.count != failuresBefore && (present || !fOptions.goOn)) {
            RemoveItemAt(toParentFD, hidden.c_str());
            return goOn;
        }
        // What is replaced goes only once the whole copy is on the disk.
        int err = present ? FlushTreeAt(toParentFD, hidden.c_str()) : 0;
        if (err == 0)
            err = present ? ExchangeItems(toParentFD, hidden.c_str(), toParentFD, name)
                          : RenameNoReplace(toParentFD, hidden.c_str(), toParentFD, name);
        if (err != 0) {
            // An exchange made of renames that could not undo itself left the
            // old item aside: it takes its name back, and is never removed.
            if (present)
                RestoreExchangeAside(toParentFD, name);
            RemoveItemAt(toParentFD, hidden.c_str());
            return Fail(err, false, true, item);
        }
        // The old item now bears the hidden name.
        if (present) {
            int flushed = FlushOpenItem(toParentFD);
            if (int err = RemoveItemAt(toParentFD, hidden.c_str()))
                return Fail(err, false, true, item);
            if (flushed != 0)
                return Fail(flushed, false, true, item);
        }
        return goOn;
    }

    // Copies every entry of fromFD into toFD. merge: toFD may hold items
    // already (else it is new and empty).
    bool CopyEntries(int fromFD, int toFD, bool merge, const std::string& folder)
    {
        DIR* dir = OpenListing(fromFD);
        if (dir == nullptr)
            return Fail(errno, true, true, folder);
        bool goOn = true;
        errno = 0;
        while (struct dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (IsDotOrDotDot(name) || (fOptions.skipInvisibles && name[0] == '.')) {
                errno = 0;
                continue;
            }
            unsigned char type = entry->d_type;
            struct stat st;
            if (type == DT_UNKNOWN) {
                if (fstatat(fromFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    goOn = Fail(errno, true, false, folder, name);
                    if (!goOn)
                        break;
                    errno = 0;
                    continue;
                }
                type = TypeOfMode(st.st_mode);
            }
            if (fOptions.skipInvisibles && type != DT_LNK && IsHiddenAt(fromFD, name)) {
                errno = 0;
                continue;
            }
            if (type == DT_DIR) {
                std::string item = folder.empty() ? std::string(name) : Join(folder, name);
                StFileDescriptor sub(OpenSubFolder(fromFD, name));
                if (!sub.IsValid())
                    goOn = Fail(errno, true, true, item);
                else
                    goOn = merge ? CopyFolderAt(sub.Get(), toFD, name, item)
                                 : CopyNewFolder(sub.Get(), toFD, name, item);
            } else if (type != DT_SOCK) {
                goOn = CopyFile(fromFD, name, type == DT_REG, toFD, merge, folder);
            } else {
                // A socket cannot be copied; left out, it is a failure all the
                // same, never a silent gap in the copy.
                goOn = Fail(ENOTSUP, true, false, folder, name);
            }
            if (!goOn)
                break;
            errno = 0;
        }
        if (goOn && errno != 0)
            goOn = Fail(errno, true, true, folder);
        closedir(dir);
        return goOn;
    }

private:
    // Makes the new folder name inside toParentFD as a copy of fromFD.
    bool CopyNewFolder(int fromFD, int toParentFD, const char* name, const std::string& item)
    {
        struct stat st;
        if (fstat(fromFD, &st) != 0)
            return Fail(errno, true, true, item);
        if (int err = CheckCreate())
            return Fail(err, false, true, item);
        // Owner access while the content is written; the real mode comes last.
        if (mkdirat(toParentFD, name, 0700) != 0)
            return Fail(errno, false, true, item);
        StFileDescriptor to(OpenSubFolder(toParentFD, name));
        if (!to.IsValid())
            return Fail(errno, false, true, item);
        bool goOn = CopyEntries(fromFD, to.Get(), false, item);
        if (!goOn)
            return false;
        // The owner only now: until then nobody else may enter the folder
        // being written.
        if (int err = FinishCopiedItem(fromFD, to.Get(), st))
            goOn = Fail(err, false, true, item);
        return goOn;
    }

    bool CopyFile(int fromFD, const char* name, bool regular, int toFD, bool merge, const std::string& folder)
    {
        if (int err = CheckCreate())
            return Fail(err, false, false, folder, name);
        struct stat existing;
        bool present = merge && fstatat(toFD, name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
        if (present && !fOptions.replace)
            return Fail(EEXIST, false, false, folder, name);
        if (present && S_ISDIR(existing.st_mode))
            return Fail(EISDIR, false, false, folder, name);
        if (!present) {
            FileOpResult result = CopyItem(fromFD, name, regular, toFD, name);
            return result ? true : Fail(result.error, result.onSource, false, folder, name);
        }
        // Replaced only once the new copy is complete.
        std::string hidden = TemporaryItemName();
        FileOpResult result = CopyItem(fromFD, name, regular, toFD, hidden.c_str());
        if (!result)
            return Fail(result.error, result.onSource, false, folder, name);
        int err = FlushItemAt(toFD, hidden.c_str());
        if (err == 0)
            err = RenameReplacing(toFD, hidden.c_str(), toFD, name);
        if (err != 0) {
            unlinkat(toFD, hidden.c_str(), 0);
            return Fail(err, false, false, folder, name);
        }
        if (int err = FlushOpenItem(toFD))
            return Fail(err, false, false, folder, name);
        return true;
    }

    // Makes toName inside toFD a copy of the item name inside fromFD (a file,
    // link, pipe or device). regular: the listing said a regular file.
    FileOpResult CopyItem(int fromFD, const char* name, bool regular, int toFD, const char* toName)
    {
        struct stat st;
        if (regular) {
            StFileDescriptor source(RetryOnEINTR(
                [&] { return openat(fromFD, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY); }));
            if (source.IsValid()) {
                if (fstat(source.Get(), &st) != 0)
                    return {errno, true};
                if (S_ISREG(st.st_mode))
                    return CopyRegularFile(source.Get(), st, toFD, toName);
            } else if (errno != ELOOP) {
                return {errno, true};
            }
            // No longer a regular file (replaced meanwhile): the general way.
        }
        return CopyFileItemAt(fromFD, name, toFD, toName);
    }

    // Copies the regular file open as source into the new item toName inside
    // toFD, or, when it is a further name of a file copied earlier in this
    // tree, links toName to that copy.
    FileOpResult CopyRegularFile(int source, const struct stat& st, int toFD, const char* toName)
    {
        if (st.st_nlink > 1 && LinkToEarlierCopy(st, toFD, toName))
            return {};
        int named = -1;
        bool remember = st.st_nlink > 1 && fCopiesWithMoreNames.size() < kMaxRemembered;
        FileOpResult result = CopyRegularFileAt(source, st, toFD, toName, remember ? &named : nullptr);
        if (named >= 0)
            fCopiesWithMoreNames[{st.st_dev, st.st_ino}] = {named, st.st_nlink - 1};
        return result;
    }

    // The path through which linkat reaches an open file whatever its names
    // are now: copies are built under hidden names and renamed afterwards.
    static std::string PathOfOpenFile(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

    bool LinkToEarlierCopy(const struct stat& st, int toFD, const char* toName)
    {
        auto found = fCopiesWithMoreNames.find({st.st_dev, st.st_ino});
        if (found == fCopiesWithMoreNames.end())
            return false;
        // A copy removed meanwhile (a failed sub-folder) cannot be linked to:
        // this name is then copied on its own.
        if (linkat(AT_FDCWD, PathOfOpenFile(found->second.fd).c_str(), toFD, toName, AT_SYMLINK_FOLLOW) != 0)
            return false;
        if (--found->second.namesToCome == 0) {
            close(found->second.fd);
            fCopiesWithMoreNames.erase(found);
        }
        return true;
    }

    // The copy of a file with several names stays open (O_PATH, without
    // access) until its other names in the tree are met. Past a bound, further
    // such files are copied name by name, so that the walk never runs out of
    // descriptors.
    struct CopyWithMoreNames {
        int fd;
        nlink_t namesToCome;  // names of the source not yet met
    };
    static constexpr size_t kMaxRemembered = 256;

    FolderCopyOptions fOptions;
    FolderCopyFailure fFailure;
    std::map<std::pair<dev_t, ino_t>, CopyWithMoreNames> fCopiesWithMoreNames;
};

// --- forced deletion ---

// Gives the owner full access and removes the lock flags of one item inside
// the tree being deleted.
void UnlockInside(const std::string& path, bool isFolder)
{
    uint32_t flags = 0;
    if (GetFileFlags(path.c_str(), false, flags) == 0 && (flags & kLockFlags) != 0)
        SetFileFlags(path.c_str(), false, flags & ~kLockFlags);
    struct stat st;
    if (isFolder && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0700) != 0700)
        chmod(path.c_str(), (st.st_mode & 07777) | 0700);
}

int RemoveAt(int parentFD, const char* name, int flags)
{
    if (int err = FaultSeam::Check(FaultOperation::kDelete))
        return err;
    return unlinkat(parentFD, name, flags) == 0 ? 0 : errno;
}

int DeleteFolderAt(int parentFD, const char* name, const std::string& path, dev_t device);

int DeleteContentsOf(int folderFD, const std::string& path, dev_t device)
{
    return ForEachEntry(folderFD, [&](const char* name, unsigned char type) {
        if (type == DT_DIR)
            return DeleteFolderAt(folderFD, name, Join(path, name), device);
        // Every other kind goes by its name alone, pipes, sockets and devices
        // included: none is ever opened, so none can block.
        int result = RemoveAt(folderFD, name, 0);
        if (result != 0 && result != ENOENT && type != DT_LNK) {
            UnlockInside(Join(path, name), false);
            result = RemoveAt(folderFD, name, 0);
        }
        return result == ENOENT ? 0 : result;
    });
}

int DeleteFolderAt(int parentFD, const char* name, const std::string& path, dev_t device)
{
    int fd = RetryOnEINTR([&] { return openat(parentFD, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0 && errno == EACCES) {
        UnlockInside(path, true);
        fd = RetryOnEINTR([&] { return openat(parentFD, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    }
    if (fd < 0)
        return errno;
    StFileDescriptor folder(fd);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errno;
    if (st.st_dev != device)
        return EXDEV;  // a mount inside the tree is never entered
    uint32_t flags = 0;
    if (GetFileFlags(path.c_str(), false, flags) == 0 && (flags & kLockFlags) != 0)
        UnlockInside(path, true);
    if ((st.st_mode & 0300) != 0300 && geteuid() != 0)
        UnlockInside(path, true);
    if (int err = DeleteContentsOf(fd, path, device))
        return err;
    folder.Reset();
    int err = RemoveAt(parentFD, name, AT_REMOVEDIR);
    return err == ENOENT ? 0 : err;
}

}  // namespace

FolderCopyFailure CopyFolderInto(const char* from, const char* toParent, const char* name,
                                 const FolderCopyOptions& options)
{
    TreeCopier copier(options);
    StFileDescriptor fromFD(OpenFolderPath(from));
    if (!fromFD.IsValid()) {
        copier.Fail(errno, true, true, std::string());
        return copier.GetFailure();
    }
    StFileDescriptor parentFD(OpenFolderPath(toParent));
    if (!parentFD.IsValid()) {
        copier.Fail(errno, false, true, std::string());
        return copier.GetFailure();
    }
    if (options.replace)
        RemoveStoppedTemporaryItems(parentFD.Get(), from);
    copier.CopyFolderAt(fromFD.Get(), parentFD.Get(), name, std::string());
    return copier.GetFailure();
}

FolderCopyFailure CopyFolderContents(const char* from, const char* to, const FolderCopyOptions& options)
{
    TreeCopier copier(options);
    StFileDescriptor fromFD(OpenFolderPath(from));
    if (!fromFD.IsValid()) {
        copier.Fail(errno, true, true, std::string());
        return copier.GetFailure();
    }
    StFileDescriptor toFD(OpenFolderPath(to));
    if (!toFD.IsValid()) {
        copier.Fail(errno, false, true, std::string());
        return copier.GetFailure();
    }
    if (options.replace)
        RemoveStoppedTemporaryItems(toFD.Get(), from);
    copier.CopyEntries(fromFD.Get(), toFD.Get(), true, std::string());
    return copier.GetFailure();
}

int CopyFolderTree(const char* from, const char* to)
{
    std::string toPath = WithoutTrailingSlashes(to);
    size_t slash = toPath.find_last_of('/');
    std::string toName = toPath.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string toParent = ParentOf(toPath);
    StFileDescriptor parentFD(OpenFolderPath(toParent.c_str()));
    if (!parentFD.IsValid())
        return errno;
    struct stat existing;
    if (fstatat(parentFD.Get(), toName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return CopyFolderInto(from, toParent.c_str(), toName.c_str(), FolderCopyOptions()).error;
}

int OpenFolderPath(const char* path)
{
    int fd = RetryOnEINTR([&] { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd >= 0 || errno != ENAMETOOLONG)
        return fd;
    // Too long for one call: one component at a time, links followed as the
    // kernel would.
    std::string text(path);
    StFileDescriptor folder(OpenSubFolder(AT_FDCWD, text[0] == '/' ? "/" : ".", 0));
    for (size_t at = 0; folder.IsValid() && at < text.size();) {
        size_t end = text.find('/', at);
        if (end == std::string::npos)
            end = text.size();
        if (end > at) {
            std::string component = text.substr(at, end - at);
            int next = OpenSubFolder(folder.Get(), component.c_str(), 0);
            if (next < 0)
                return -1;
            folder.Reset(next);
        }
        at = end + 1;
    }
    return folder.IsValid() ? folder.Release() : -1;
}

int GetFolderIdentity(const char* path, dev_t& device, ino_t& inode)
{
    StFileDescriptor fd(OpenFolderPath(path));
    struct stat st;
    if (!fd.IsValid() || fstat(fd.Get(), &st) != 0)
        return errno;
    device = st.st_dev;
    inode = st.st_ino;
    return 0;
}

bool FolderLiesWithin(const char* path, dev_t device, ino_t inode)
{
    std::string text = WithoutTrailingSlashes(path);
    StFileDescriptor folder(OpenFolderPath(text.c_str()));
    while (!folder.IsValid() && (errno == ENOENT || errno == ENOTDIR) && text.size() > 1 &&
           text.find('/') != std::string::npos) {
        text = ParentOf(text);
        folder.Reset(OpenFolderPath(text.c_str()));
    }
    struct stat st;
    if (!folder.IsValid() || fstat(folder.Get(), &st) != 0)
        return false;
    for (;;) {
        if (st.st_dev == device && st.st_ino == inode)
            return true;
        StFileDescriptor up(OpenSubFolder(folder.Get(), "..", 0));
        struct stat upStat;
        if (!up.IsValid() || fstat(up.Get(), &upStat) != 0)
            return false;
        if (upStat.st_dev == st.st_dev && upStat.st_ino == st.st_ino)
            return false;  // the root
        folder.Reset(up.Release());
        st = upStat;
    }
}

int RemoveNodesInFolder(const char* path)
{
    StFileDescriptor folder(OpenFolderPath(path));
    if (!folder.IsValid())
        return errno;
    return ForEachEntry(folder.Get(), [&](const char* name, unsigned char type) {
        if (type != DT_FIFO && type != DT_CHR && type != DT_BLK && type != DT_SOCK)
            return 0;
        int err = RemoveAt(folder.Get(), name, 0);
        return err == ENOENT ? 0 : err;
    });
}

int RestoreExchangeAsides(const char* path, std::vector<std::string>* restored)
{
    StFileDescriptor folder(OpenFolderPath(path));
    if (!folder.IsValid())
        return errno;
    // Listed first, put back after: renames while listing could show an
    // entry twice.
    std::vector<std::string> originals;
    int first = ForEachEntry(folder.Get(), [&](const char* name, unsigned char) {
        std::string original;
        if (ExchangeAsideOriginal(name, original))
            originals.push_back(original);
        return 0;
    });
    for (const std::string& original : originals) {
        int err = RestoreExchangeAside(folder.Get(), original.c_str());
        if (err == 0 && restored != nullptr)
            restored->push_back(original);
        if (err != 0 && err != EEXIST && err != ENOENT && first == 0)
            first = err;
    }
    return first;
}

ForceDeleteResult ForceDeleteFolder(const char* path)
{
    ForceDeleteResult result;
    std::string target = WithoutTrailingSlashes(path);
    std::string parent = ParentOf(target);
    std::string name = target.substr(target.find_last_of('/') == std::string::npos ? 0 : target.find_last_of('/') + 1);

    struct stat st;
    if (lstat(target.c_str(), &st) != 0) {
        result.error = errno;
        return result;
    }

    // The parent may be unlocked and opened to its owner for the duration.
    uint32_t parentFlags = 0;
    if ((result.error = GetFileFlags(parent.c_str(), true, parentFlags)) != 0)
        return result;
    bool unlocked = false;
    if ((parentFlags & kLockFlags) != 0) {
        if ((result.error = SetFileFlags(parent.c_str(), true, parentFlags & ~kLockFlags)) != 0)
            return result;
        unlocked = true;
    }
    struct stat parentStat;
    bool modeChanged = false;
    if (stat(parent.c_str(), &parentStat) != 0) {
        result.error = errno;
    } else if ((parentStat.st_mode & 0700) != 0700 && parentStat.st_uid == geteuid() && geteuid() != 0) {
        if (chmod(parent.c_str(), (parentStat.st_mode & 07777) | 0700) != 0)
            result.error = errno;
        else
            modeChanged = true;
    }

    if (result.error == 0) {
        StFileDescriptor parentFD(RetryOnEINTR([&] { return open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
        if (!parentFD.IsValid())
            result.error = errno;
        else if (S_ISLNK(st.st_mode))
            result.error = RemoveAt(parentFD.Get(), name.c_str(), 0);  // the link, never its target
        else if (!S_ISDIR(st.st_mode))
            result.error = ENOTDIR;
        else
            result.error = DeleteFolderAt(parentFD.Get(), name.c_str(), target, st.st_dev);
    }

    // Put back whatever the outcome.
    if (modeChanged && chmod(parent.c_str(), parentStat.st_mode & 07777) != 0)
        result.restoreError = errno;
    if (unlocked) {
        if (int err = SetFileFlags(parent.c_str(), true, parentFlags); err != 0 && result.restoreError == 0)
            result.restoreError = err;
    }
    return result;
}

}  // namespace bkit
