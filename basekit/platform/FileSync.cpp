// FileSync.cpp - fsync of items, folders and trees, and syncfs of a volume.
#include "basekit/platform/FileSync.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/PosixError.h"

namespace bkit {

namespace {

// A file system without a flush has nothing to keep.
int _Fsync(int fd)
{
    if (RetryOnEINTR([&] { return ::fsync(fd); }) == 0 || errno == EINVAL)
        return 0;
    return errno;
}

int _OpenForFlush(int dirFD, const char* name, int extraFlags)
{
    return RetryOnEINTR([&] {
        return ::openat(dirFD, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | extraFlags);
    });
}

// The two passes over a tree: the first starts the writing of every file's
// data without waiting, the second waits for each file and folder. Once the
// first pass has handed all the data to the disk, the second finds most of
// it written, and the file system's journal is committed for many files at
// once instead of once per file.
enum class TreePass { kStartWriting, kWait };

int _FlushFolderContent(int folderFD, dev_t device, TreePass pass)
{
    int listFD = ::dup(folderFD);
    if (listFD < 0)
        return errno;
    DIR* dir = ::fdopendir(listFD);
    if (dir == nullptr) {
        int err = errno;
        ::close(listFD);
        return err;
    }
    int result = 0;
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(folderFD, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                result = errno;
                break;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            StFileDescriptor sub(_OpenForFlush(folderFD, name, O_DIRECTORY));
            struct stat st;
            if (!sub.IsValid() || ::fstat(sub.Get(), &st) != 0) {
                result = errno;
                break;
            }
            // Another mount below the tree is not part of it.
            if (st.st_dev == device) {
                result = _FlushFolderContent(sub.Get(), device, pass);
                if (result == 0 && pass == TreePass::kWait)
                    result = _Fsync(sub.Get());
            }
        } else if (type == DT_REG) {
            StFileDescriptor file(_OpenForFlush(folderFD, name, 0));
            if (!file.IsValid()) {
                result = errno;
                break;
            }
            if (pass == TreePass::kStartWriting)
                ::sync_file_range(file.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);  // a hint: the wait checks
            else
                result = _Fsync(file.Get());
        }
        if (result != 0)
            break;
        errno = 0;
    }
    if (result == 0 && errno != 0)
        result = errno;
    ::closedir(dir);
    return result;
}

}  // namespace

int FlushOpenItem(int fd)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    return _Fsync(fd);
}

int FlushItemAt(int dirFD, const char* name)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    StFileDescriptor item(_OpenForFlush(dirFD, name, 0));
    if (!item.IsValid())
        return errno == ELOOP || errno == ENXIO ? 0 : errno;  // a link, or a pipe without writer
    struct stat st;
    if (::fstat(item.Get(), &st) != 0)
        return errno;
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ? _Fsync(item.Get()) : 0;
}

int FlushFolderOf(const char* path)
{
    std::string parent(path);
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    std::string::size_type slash = parent.find_last_of('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    StFileDescriptor folder(RetryOnEINTR([&] { return ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!folder.IsValid())
        return errno;
    return _Fsync(folder.Get());
}

int FlushTreeAt(int dirFD, const char* name)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    StFileDescriptor root(_OpenForFlush(dirFD, name, O_DIRECTORY));
    struct stat st;
    if (!root.IsValid() || ::fstat(root.Get(), &st) != 0)
        return errno;
    for (TreePass pass : {TreePass::kStartWriting, TreePass::kWait}) {
        if (int err = _FlushFolderContent(root.Get(), st.st_dev, pass))
            return err;
    }
    return _Fsync(root.Get());
}

int FlushTree(const char* path)
{
    return FlushTreeAt(AT_FDCWD, path);
}

int FlushVolumeOf(int fd)
{
    if (int err = FaultSeam::Check(FaultOperation::kFlush))
        return err;
    return RetryOnEINTR([&] { return ::syncfs(fd); }) == 0 ? 0 : errno;
}

}  // namespace bkit
