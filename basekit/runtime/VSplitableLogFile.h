// VSplitableLogFile.h - a numbered series of log files, split past 10 MiB.
//
// This file defines VSplitableLogFile, one open file of a series named
// "<base>_<n>.txt" directly in a folder. Every file of the series it writes
// is one it created itself, exclusively: when the name of the number it wants
// exists at that moment (a file, a link, anything), it takes the next number.
// So writers of separate processes that share a folder and a base name never
// write into one file, and none overwrites or tears another's lines: no file
// it did not make is ever written into or emptied. Its own file, once closed,
// is reopened for appending while it is still there, unless a new file is
// asked for (overwrite).
//
// Before each write the size is checked: a file holding more than 10 MiB is
// closed and a new file is created as above; making file n deletes file
// n - 50, so that at most 50 files of the series remain, except one that
// another writer still holds open (each writer holds a shared lock on its
// open file): lines still being written are never deleted. A line is never
// split across files. A file is flushed to the disk when it is closed (on a
// split and when its writer stops), so that the log of a run survives a
// machine that stops after it.
//
// Failures are kept, not raised: the errno for which the last Open could not
// open a file, and the errno of the first write (or flush of the stream) that
// did not reach the file, so that a log that is missing or incomplete can be
// told.
//
// The object has no lock: its writer (VLog4jMsgFileLogger) serialises every
// call. The folder is retained. Texts are written as UTF-8 in text mode.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFilePath;
class VFolder;

class VSplitableLogFile : public VObject {
public:
    static int32_t sDefaultMaxLogsToKeep;  // 50
    // A file whose position reached this many bytes is closed before the next write.
    static constexpr long kSplitSize = 0xA00001;

    VSplitableLogFile(VFolder* folder, const VString& baseName, int32_t number, bool binary);
    ~VSplitableLogFile() override;
    VSplitableLogFile(const VSplitableLogFile&) = delete;
    VSplitableLogFile& operator=(const VSplitableLogFile&) = delete;

    // Opens a file to write; succeeds at once when one is open. Without
    // overwrite, the file this object made last is appended to when it has
    // the current number and that very file is still there; in every other
    // case (overwrite, another number, its file gone or replaced) a new empty
    // file is created exclusively at the current number or the first higher
    // one whose name is free at that moment. An existing file is never
    // emptied, and never written into unless this object made it. With
    // findFree, the number first grows while a name of its number exists (a
    // file, a link, anything), so that nothing is appended to. The folder is
    // created with its missing parents (errors kept off the caller's stack).
    // False when no file could be opened.
    bool Open(bool overwrite, bool findFree);
    // When closed, sets the number and opens as Open(overwrite, false); an
    // open file stays, with its number.
    bool Open(int32_t number, bool overwrite);
    // Sets the number; an open file is closed and a file is opened again as
    // Open(overwrite, false) (which may take a higher number). A closed one
    // stays closed.
    void SetLogNumber(int32_t number, bool overwrite);
    // The number of the file written (after Open, the one it took).
    int32_t GetLogNumber() const { return static_cast<int32_t>(fLogNumber); }
    bool IsOpen() const { return fFile != nullptr; }
    // The errno for which the last Open opened no file; 0 after one that did.
    int GetOpenError() const { return fOpenError; }
    // The errno of the first write, flush or close of the stream, or of the
    // opening of the next file of a split, that failed since the object was
    // made (lines were lost from then on); 0 when every line reached a file.
    int GetWriteError() const { return fWriteError; }
    // Closes the file once its lines and its folder are flushed to the disk.
    void Close();
    void Flush();

    // Each runs CheckLogSize, then writes the text when a file is open.
    void AppendFormattedString(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AppendString(const char* utf8);
    void AppendString(const VString& text);

    // Splits when the open file holds more than 10 MiB: answers the number of
    // the new file, or 0 when nothing changed.
    int32_t CheckLogSize();

    int32_t GetMaxLogsToKeep() const { return fMostLogsToKeep; }
    void SetMaxLogsToKeep(int32_t count) { fMostLogsToKeep = count; }

    // The name of the file written (or last written).
    void GetCurrentFileName(VString& out) const;
    void GetFolderPath(VFilePath& out) const;

    // "<base>_<number>.txt"; the second form takes the extension (without the
    // dot) in place of "txt" when it is neither empty nor null.
    static void BuildLogFileName(const VString& baseName, int32_t number, VString& out);
    static void BuildLogFileNameWithExt(const VString& baseName, int32_t number, const VString& extension, VString& out);

private:
    // The POSIX path of the file of a number; empty without a folder.
    std::string _BuildFilePath(uint32_t number) const;
    // Opens the file this object made (for the current number), when its name
    // still leads to it; -1 otherwise.
    int _ReopenMadeFile() const;
    // Creates a new file at the current number or the first free one above,
    // locked shared; -1 when none can be made.
    int _CreateNewFile();
    // Holds the file just made (open as fd at path) as the one to reopen.
    void _RememberMadeFile(int fd, const std::string& path);
    // Deletes the file of a number unless another writer holds it open.
    void _DeleteUnlessInUse(uint32_t number) const;
    // Keeps errno as the write error unless one is kept already.
    void _NoteWriteError();

    FILE* fFile = nullptr;
    // The file this object made last, held by a path-only descriptor (no
    // reading, writing or lock) while the object lives, so that no other file
    // can take its inode number and pass for it; -1 when there is none.
    int fMadeFD = -1;
    uint32_t fMadeNumber = 0;
    // The position in the open file: its size when opened plus what was
    // written since, so that the size check needs no ftell (a seek per line on
    // a file opened for appending).
    long fPosition = 0;
    VFolder* fFolder = nullptr;
    VString fBaseName;
    uint32_t fLogNumber;
    int32_t fMostLogsToKeep;
    CharSet fCharSet = VTC_UTF_8;
    int fOpenError = 0;
    int fWriteError = 0;
    bool fBinary;
};

}  // namespace bkit
