// VLog4jMsgFileLogger.h - the log-file writer: one log4j-style line per entry, in split files.
//
// This file defines VLog4jMsgFileLogger, which writes the process logger's
// entries into the numbered files "<log name>_<n>.txt" of one folder
// (VSplitableLogFile), one line each:
//   "<sequence> <local time> [<source>[.<sign>]] <LEVEL> - [<[code] >]<message> (<attributes>)"
// formatted with "%llu %s [%s] %s - %s\n". A line is one entry: the control
// characters of its source and message (a line feed in a message, or in a path
// a message names) are written as escapes (ControlEscapes.h), so that no text
// logged can start a line that passes for one of the writer's own. Start registers the writer's
// listener with the process logger (ILogger::GetProcessLogger); Stop removes
// it, which flushes the logger first: everything logged before Stop reaches the
// file, which is flushed to the disk as it closes, and nothing is written
// after Stop returns.
//
// Each writer writes only files it created itself (see VSplitableLogFile): the
// first Start creates the file of the first number whose name is free, so that
// writers of runs sharing a folder and a log name never share a file; Start
// after Stop appends to the writer's own last file while it is still there.
// GetCurrentLogFileName names the file being written. The folder is retained.
//
// Failures are kept for the owner to tell, never raised: GetStartError says
// why the last Start opened no file, GetWriteError why lines did not reach
// the file (a full disk), also after Stop.
//
// Thread-safety: the writer's lock serialises Start, Stop, Flush, the
// keep-count operations and the listener's Put (which runs on the logger's
// task or a task that flushes the logger). Stop removes the listener before it
// takes the writer's lock, so it never holds the writer's lock while it waits
// for the logger's listener lock, which the logger's task holds while it waits
// for the writer's lock in Put.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VTime.h"

namespace bkit {

class VFilePath;
class VFolder;
class VSplitableLogFile;

class VLog4jMsgFileLogger : public VObject {
public:
    static constexpr uint32_t kDefaultLevelMask = 0xF0;

    // Receives the logger's batches for its writer; lives and dies with it.
    class VLog4jLogListener : public VObject, public ILogListener {
    public:
        explicit VLog4jLogListener(VLog4jMsgFileLogger* writer) : fWriter(writer) {}
        void Put(const std::vector<const VValueBag*>& bags) override;
        // Never frees the listener: the writer owns it.
        void DoOnRefCountZero() override {}

    private:
        VLog4jMsgFileLogger* fWriter;
    };

    VLog4jMsgFileLogger(VFolder* folder, const VString& logName);
    // Stop, then releases the folder.
    ~VLog4jMsgFileLogger() override;
    VLog4jMsgFileLogger(const VLog4jMsgFileLogger&) = delete;
    VLog4jMsgFileLogger& operator=(const VLog4jMsgFileLogger&) = delete;

    // Needs a folder and a log name. The first start creates a new file at
    // the first free number; a later one appends to the writer's last file
    // (or, when that is gone, creates one as the first start). A file that
    // cannot be opened leaves it stopped.
    virtual void Start();
    // As Start, from number: the writer's last file when it has that number,
    // else a new file at number or the first free one above.
    void Start(int32_t number);
    virtual void Stop();
    virtual bool IsStarted() const;
    // The errno for which the last Start opened no file; 0 when it opened one
    // (or did nothing, without a folder or a name).
    int GetStartError() const;
    // The errno of the first line, flush or close that did not reach the
    // writer's file (lines were lost from then on), kept after Stop; 0 when
    // every line was written.
    int GetWriteError() const;

    void Flush();
    // While paused, lines are dropped (and use no sequence numbers).
    void Pause() { fPaused.store(true); }
    void Resume() { fPaused.store(false); }
    bool IsPaused() const { return fPaused.load(); }

    // False while stopped; else the level's bit of the mask.
    bool ShouldLog(EMessageLevel level) const;
    static const char* GetMessageLevelName(EMessageLevel level);

    void GetLogFolderPath(VFilePath& out) const;
    void GetLogName(VString& out) const { out = fLogName; }
    // The number of files kept; 0 while stopped, setting ignored while stopped.
    void SetLogMaxNumberToKeep(int32_t count);
    int32_t GetLogMaxNumberToKeep();
    // The name of the file being written; empty while stopped.
    void GetCurrentLogFileName(VString& out);

    static void BuildLogFileName(const VString& logName, int32_t number, VString& out);

    // Source, level and message of a line (see the file comment); a null bag
    // gives level 4, the process's source and the message " ()".
    static void GetLogInfosFromBag(const VValueBag* bag, VString& source, EMessageLevel& level, VString& message);

    // Writes one line when started, not paused and the level is in the mask;
    // the controls of source and message are escaped.
    void Log(const VString& source, EMessageLevel level, const VString& message);
    void Log(const char* source, EMessageLevel level, const char* message);

private:
    friend class VLog4jLogListener;

    // The local time of a line, "YYYY-MM-DDTHH:MM:SS.mmm", computed once per
    // millisecond.
    const char* _CurrentTimeText();

    mutable VCriticalSection fLock;
    VTime fStartTime;
    VFolder* fFolder = nullptr;
    VString fLogName;
    VSplitableLogFile* fFile = nullptr;
    // The closed file of the last Stop, which the next Start appends to.
    VSplitableLogFile* fStoppedFile = nullptr;
    std::atomic<bool> fPaused{false};
    int fStartError = 0;
    // The write error of a file the writer no longer holds.
    int fWriteError = 0;
    uint32_t fLevelMask = kDefaultLevelMask;
    VLog4jLogListener fListener;
    // The cache of _CurrentTimeText (guarded by fLock).
    uint64_t fTimeStamp = ~0ull;
    char fTimeText[32] = {};
};

}  // namespace bkit
