// VSplitableLogFile.h - a numbered series of log files, split past 10 MiB.
//
// This file defines VSplitableLogFile, one open file of a series named
// "<base>_<n>.txt" directly in a folder. Before each write the size is
// checked: a file holding more than 10 MiB is closed and the next number is
// created empty, and the file 50 numbers older is deleted, so that at most 50
// files of the series remain. A line is never split across files. A file is
// flushed to the disk when it is closed (on a split and when its writer
// stops), so that the log of a run survives a machine that stops after it.
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

    // Opens the current number (succeeds at once when open). With findFree,
    // the number first grows past every existing file. The folder is created
    // with its missing parents (errors kept off the caller's stack). An
    // existing file is appended to unless overwrite is set; a missing one is
    // created empty. False when no file could be opened.
    bool Open(bool overwrite, bool findFree);
    // Sets the number and opens it as above, without looking for a free one.
    bool Open(int32_t number, bool overwrite);
    // Sets the number; an open file is closed and the new number opened.
    void SetLogNumber(int32_t number, bool overwrite);
    int32_t GetLogNumber() const { return static_cast<int32_t>(fLogNumber); }
    bool IsOpen() const { return fFile != nullptr; }
    // Closes the file once its lines and its folder are flushed to the disk.
    void Close();
    void Flush();

    // Each runs CheckLogSize, then writes the text when a file is open.
    void AppendFormattedString(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AppendString(const char* utf8);
    void AppendString(const VString& text);

    // Splits when the open file holds more than 10 MiB: answers the new number,
    // or 0 when nothing changed.
    int32_t CheckLogSize();

    int32_t GetMaxLogsToKeep() const { return fMostLogsToKeep; }
    void SetMaxLogsToKeep(int32_t count) { fMostLogsToKeep = count; }

    void GetCurrentFileName(VString& out) const;
    void GetFolderPath(VFilePath& out) const;

    // "<base>_<number>.txt"; the second form takes the extension (without the
    // dot) in place of "txt" when it is neither empty nor null.
    static void BuildLogFileName(const VString& baseName, int32_t number, VString& out);
    static void BuildLogFileNameWithExt(const VString& baseName, int32_t number, const VString& extension, VString& out);

private:
    // The POSIX path of the file of a number; empty without a folder.
    std::string _BuildFilePath(uint32_t number) const;

    FILE* fFile = nullptr;
    // The position in the open file: its size when opened plus what was
    // written since, so that the size check needs no ftell (a seek per line on
    // a file opened for appending).
    long fPosition = 0;
    VFolder* fFolder = nullptr;
    VString fBaseName;
    uint32_t fLogNumber;
    int32_t fMostLogsToKeep;
    CharSet fCharSet = VTC_UTF_8;
    bool fBinary;
};

}  // namespace bkit
