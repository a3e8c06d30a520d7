// VSplitableLogFile.cpp - opening, splitting and deleting the numbered log files.
#include "basekit/runtime/VSplitableLogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstring>

#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FileSync.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

int32_t VSplitableLogFile::sDefaultMaxLogsToKeep = 50;

namespace {

// Read and write: where flock is carried by byte-range locks (NFS), a shared
// lock needs a file open for reading and an exclusive one for writing.
constexpr int kLogOpenFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;

// Takes the shared lock that keeps other writers' pruning off the file. False
// when a pruner holds the file, or deleted it between its creation and the
// lock; a file system without locks still gets its lines (true).
bool LockAsWritten(int fd)
{
    if (RetryOnEINTR([&] { return ::flock(fd, LOCK_SH | LOCK_NB); }) != 0 && errno == EWOULDBLOCK)
        return false;
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

bool SameFile(int fd, int otherFD)
{
    struct stat st, other;
    return ::fstat(fd, &st) == 0 && ::fstat(otherFD, &other) == 0 && st.st_dev == other.st_dev &&
           st.st_ino == other.st_ino;
}

}  // namespace

VSplitableLogFile::VSplitableLogFile(VFolder* folder, const VString& baseName, int32_t number, bool binary)
    : fFolder(folder), fBaseName(baseName), fLogNumber(static_cast<uint32_t>(number)),
      fMostLogsToKeep(sDefaultMaxLogsToKeep), fBinary(binary)
{
    if (fFolder) fFolder->Retain();
}

VSplitableLogFile::~VSplitableLogFile()
{
    Close();
    if (fMadeFD >= 0) ::close(fMadeFD);
    if (fFolder) fFolder->Release();
}

void VSplitableLogFile::BuildLogFileName(const VString& baseName, int32_t number, VString& out)
{
    BuildLogFileNameWithExt(baseName, number, VString(), out);
}

void VSplitableLogFile::BuildLogFileNameWithExt(const VString& baseName, int32_t number, const VString& extension,
                                                VString& out)
{
    out = baseName;
    out.AppendUniChar(u'_').AppendLong(number).AppendUniChar(u'.');
    if (extension.IsNull() || extension.IsEmpty())
        out.AppendCString("txt");
    else
        out.AppendString(extension);
}

std::string VSplitableLogFile::_BuildFilePath(uint32_t number) const
{
    if (!fFolder) return std::string();
    VString name;
    BuildLogFileName(fBaseName, static_cast<int32_t>(number), name);
    VFilePath path(fFolder->GetPath());
    path.ToSubFile(name);
    VString posix;
    path.GetPosixPath(posix);
    return to_string(posix);
}

void VSplitableLogFile::GetCurrentFileName(VString& out) const
{
    BuildLogFileName(fBaseName, static_cast<int32_t>(fLogNumber), out);
}

void VSplitableLogFile::GetFolderPath(VFilePath& out) const
{
    if (fFolder) out = fFolder->GetPath();
}

int VSplitableLogFile::_ReopenMadeFile() const
{
    if (fMadeFD < 0 || fMadeNumber != fLogNumber) return -1;
    std::string path = _BuildFilePath(fLogNumber);
    StFileDescriptor fd(RetryOnEINTR([&] { return ::open(path.c_str(), kLogOpenFlags); }));
    if (!fd.IsValid() || !SameFile(fd.Get(), fMadeFD) || !LockAsWritten(fd.Get())) return -1;
    return fd.Release();
}

int VSplitableLogFile::_CreateNewFile()
{
    for (; fLogNumber <= static_cast<uint32_t>(INT32_MAX); ++fLogNumber) {
        std::string path = _BuildFilePath(fLogNumber);
        StFileDescriptor fd(RetryOnEINTR([&] { return ::open(path.c_str(), kLogOpenFlags | O_CREAT | O_EXCL, 0666); }));
        if (!fd.IsValid()) {
            if (errno == EEXIST) continue;
            return -1;
        }
        if (!LockAsWritten(fd.Get())) continue;
        _RememberMadeFile(fd.Get(), path);
        if (fMostLogsToKeep > 0 && fLogNumber > static_cast<uint32_t>(fMostLogsToKeep))
            _DeleteUnlessInUse(fLogNumber - static_cast<uint32_t>(fMostLogsToKeep));
        return fd.Release();
    }
    return -1;
}

void VSplitableLogFile::_RememberMadeFile(int fd, const std::string& path)
{
    if (fMadeFD >= 0) ::close(fMadeFD);
    fMadeFD = RetryOnEINTR([&] { return ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); });
    fMadeNumber = fLogNumber;
    // Only the file just made, which fd keeps from being replaced by another
    // of the same inode number.
    if (fMadeFD >= 0 && !SameFile(fd, fMadeFD)) {
        ::close(fMadeFD);
        fMadeFD = -1;
    }
}

void VSplitableLogFile::_DeleteUnlessInUse(uint32_t number) const
{
    // Held exclusively, the file is no one's: a writer that opens it again
    // meanwhile finds it unlinked once it has its lock, and makes another.
    std::string path = _BuildFilePath(number);
    int fd = -1;
    if (OpenFileLocked(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0,
                       FileLockKind::kExclusive, fd) != 0)
        return;
    StFileDescriptor held(fd);
    ::unlink(path.c_str());
}

bool VSplitableLogFile::Open(bool overwrite, bool findFree)
{
    if (fFile) return true;
    if (!fFolder || _BuildFilePath(fLogNumber).empty()) {
        fOpenError = EINVAL;
        return false;
    }
    {
        // A folder that cannot be made shows as a file that cannot be opened.
        StErrorContextInstaller quiet(false, true);
        if (!fFolder->Exists()) fFolder->CreateRecursive();
    }
    // Overwriting makes a new file rather than emptying one: an old file may
    // be another run's, or still be read. Finding a free number is what making
    // a new file does: it passes every name that exists (a dangling link too).
    int fd = overwrite || findFree ? -1 : _ReopenMadeFile();
    if (fd < 0) fd = _CreateNewFile();
    if (fd < 0) {
        fOpenError = errno != 0 ? errno : EIO;
        return false;
    }
    fFile = ::fdopen(fd, fBinary ? "ab" : "a");
    if (!fFile) {
        fOpenError = errno != 0 ? errno : ENOMEM;
        ::close(fd);
        return false;
    }
    fOpenError = 0;
    // The size check reads the position: it starts at the end of what is there.
    struct stat st;
    fPosition = ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : 0;
    return true;
}

bool VSplitableLogFile::Open(int32_t number, bool overwrite)
{
    // The number of an open file stays the one its name was built from.
    if (fFile) return true;
    fLogNumber = static_cast<uint32_t>(number);
    return Open(overwrite, false);
}

void VSplitableLogFile::SetLogNumber(int32_t number, bool overwrite)
{
    bool wasOpen = IsOpen();
    Close();
    fLogNumber = static_cast<uint32_t>(number);
    if (wasOpen) Open(overwrite, false);
}

void VSplitableLogFile::Close()
{
    if (fFile && fFile != stdout) {
        // What was written survives a machine that stops right after: the
        // file's lines, and its name in the folder. Nothing is reported, as
        // for any other write of the log.
        if (std::fflush(fFile) != 0) _NoteWriteError();
        FlushOpenItem(::fileno(fFile));
        if (std::fclose(fFile) != 0) _NoteWriteError();
        FlushFolderOf(_BuildFilePath(fLogNumber).c_str());
    }
    fFile = nullptr;
}

void VSplitableLogFile::Flush()
{
    if (fFile && std::fflush(fFile) != 0) _NoteWriteError();
}

void VSplitableLogFile::_NoteWriteError()
{
    if (fWriteError == 0) fWriteError = errno != 0 ? errno : EIO;
}

int32_t VSplitableLogFile::CheckLogSize()
{
    if (!fFile || fPosition < kSplitSize) return 0;
    Close();
    ++fLogNumber;
    // Without a next file every line from here on is lost.
    if (!Open(true, false) && fWriteError == 0) fWriteError = fOpenError;
    return static_cast<int32_t>(fLogNumber);
}

void VSplitableLogFile::AppendFormattedString(const char* format, ...)
{
    CheckLogSize();
    if (!fFile) return;
    va_list args;
    va_start(args, format);
    int written = std::vfprintf(fFile, format, args);
    va_end(args);
    if (written > 0) fPosition += written;
    else if (written < 0) _NoteWriteError();
}

void VSplitableLogFile::AppendString(const char* utf8)
{
    CheckLogSize();
    if (!fFile || !utf8) return;
    size_t length = std::strlen(utf8);
    size_t written = std::fwrite(utf8, 1, length, fFile);
    fPosition += static_cast<long>(written);
    if (written < length) _NoteWriteError();
}

void VSplitableLogFile::AppendString(const VString& text)
{
    AppendString(to_string(text).c_str());
}

}  // namespace bkit
