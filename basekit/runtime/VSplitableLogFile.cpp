// VSplitableLogFile.cpp - opening, splitting and deleting the numbered log files.
#include "basekit/runtime/VSplitableLogFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FileSync.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

int32_t VSplitableLogFile::sDefaultMaxLogsToKeep = 50;

namespace {

bool FileExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
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

bool VSplitableLogFile::Open(bool overwrite, bool findFree)
{
    if (fFile) return true;
    std::string path = _BuildFilePath(fLogNumber);
    if (path.empty()) return false;
    if (findFree) {
        while (FileExists(path)) path = _BuildFilePath(++fLogNumber);
    }
    {
        // A folder that cannot be made shows as a file that cannot be opened.
        StErrorContextInstaller quiet(false, true);
        if (!fFolder->Exists()) fFolder->CreateRecursive();
    }
    const char* mode = (overwrite || !FileExists(path)) ? (fBinary ? "wb" : "w") : (fBinary ? "ab" : "a");
    fFile = std::fopen(path.c_str(), mode);
    // The size check reads the position: it starts at the end of what is there.
    if (fFile) {
        std::fseek(fFile, 0, SEEK_END);
        fPosition = std::ftell(fFile);
    }
    return fFile != nullptr;
}

bool VSplitableLogFile::Open(int32_t number, bool overwrite)
{
    fLogNumber = static_cast<uint32_t>(number);
    return Open(overwrite, false);
}

void VSplitableLogFile::SetLogNumber(int32_t number, bool overwrite)
{
    fLogNumber = static_cast<uint32_t>(number);
    if (fFile) {
        Close();
        Open(overwrite, false);
    }
}

void VSplitableLogFile::Close()
{
    if (fFile && fFile != stdout) {
        // What was written survives a machine that stops right after: the
        // file's lines, and its name in the folder. Nothing is reported, as
        // for any other write of the log.
        std::fflush(fFile);
        FlushOpenItem(::fileno(fFile));
        std::fclose(fFile);
        FlushFolderOf(_BuildFilePath(fLogNumber).c_str());
    }
    fFile = nullptr;
}

void VSplitableLogFile::Flush()
{
    if (fFile) std::fflush(fFile);
}

int32_t VSplitableLogFile::CheckLogSize()
{
    if (!fFile || fPosition < kSplitSize) return 0;
    Close();
    uint32_t previous = fLogNumber++;
    if (fMostLogsToKeep > 0 && previous >= static_cast<uint32_t>(fMostLogsToKeep)) {
        std::string old = _BuildFilePath(fLogNumber - static_cast<uint32_t>(fMostLogsToKeep));
        ::unlink(old.c_str());
    }
    Open(true, false);
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
}

void VSplitableLogFile::AppendString(const char* utf8)
{
    CheckLogSize();
    if (!fFile || !utf8) return;
    size_t length = std::strlen(utf8);
    fPosition += static_cast<long>(std::fwrite(utf8, 1, length, fFile));
}

void VSplitableLogFile::AppendString(const VString& text)
{
    AppendString(to_string(text).c_str());
}

}  // namespace bkit
