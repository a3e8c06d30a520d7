// VDebugMgr.h - the receiver of debug messages, failed assertions and thrown errors.
//
// This file defines VDebugMgr, the one process-wide object (VDebugMgr::Get)
// that fans each event out to the assertion file, the process logger, standard
// error and an optional handler that may ask the user what to do;
// IDebugMessageHandler, that handler; and VNotificationDebugMessageHandler, a
// handler that asks through a system notice.
//
// The manager is built before main and reports nothing until Init (the process
// object calls it). Every event needs a current task: each task's VDebugContext
// keeps its low-level mode and a reentrancy guard, so that an event raised while
// the manager handles one of the same task is not handled again, and two tasks
// can report at the same time. The flags are meant to be set at start-up; the
// ignored assertion locations and error codes only grow, under a lock of their
// own. The handler is retained. A "quit" reply ends the process with exit code 0.
//
// The assertion file lies beside the main bundle (else beside the executable):
// its path cut before its last '.', followed by "_asserts.txt", kept in UTF-8.
// Its first opening in a run truncates it; a file past 10 MiB is set aside
// under its path followed by a counter (0, 1, ...) and started again.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VDebugContext.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VErrorBase;
class VString;

// The replies of a handler.
enum EDebugReply : int32_t {
    eDebugReplyContinue = 0,
    eDebugReplyBreak = 1,      // break into the debugger (quit without one)
    eDebugReplyQuit = 2,       // end the process, exit code 0
    eDebugReplyIgnoreThis = 3, // ignore this assertion location or error code from now on
    eDebugReplyIgnoreAll = 4,  // ignore every assertion, or every error, from now on
};

class IDebugMessageHandler : public IRefCountable {
public:
    virtual int32_t AssertFailed(VDebugContext& context, const char* condition, const char* file, int line) = 0;
    virtual int32_t ErrorThrown(VDebugContext& context, VErrorBase* error) = 0;
};

class VDebugMgr : public VObject {
public:
    static VDebugMgr* Get() { return &sInstance; }

    // Enables the messages; true.
    bool Init();
    // Releases the handler, disables messages and the assertion file, forgets
    // the cached path.
    void DeInit();

    // Retains handler and releases the previous one.
    void SetDebugMessageHandler(IDebugMessageHandler* handler);

    // Each stores its flag and answers the previous value.
    bool SetBreakOnAssert(bool on);
    bool SetBreakOnDebugMsg(bool on);
    bool SetBreakOnError(bool on);
    bool SetMessagesEnabled(bool on);
    bool SetLogInDebugger(bool on);
    bool SetWriteAssertFile(bool on);
    bool GetBreakOnAssert() const { return fBreakOnAssert; }
    bool GetBreakOnDebugMsg() const { return fBreakOnDebugMsg; }
    bool GetMessagesEnabled() const { return fMessagesEnabled; }
    bool GetLogInDebugger() const { return fLogInDebugger; }
    // True from the start: a break reply breaks instead of quitting.
    bool GetDebuggerPresent() const { return fDebuggerPresent; }

    // The calling task's low-level counter (nothing without a current task).
    void StartLowLevelMode();
    void StopLowLevelMode();

    // A debug message. The formatted variant uses the toolbox formatter.
    void DebugMsg(const char* format, va_list args);
    void DebugMsg(const VString& message);

    // A failed assertion; true when the caller should break into the debugger.
    bool AssertFailed(const char* condition, const char* file, int line);

    // An error that was pushed and not silenced.
    void ErrorThrown(VErrorBase* error);

    // Print to standard error.
    void fprintf_console(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void vfprintf_console(const char* format, va_list args);

    // A debugger break, unless the calling task suppresses breaks; without an
    // attached debugger it does nothing (a trap would stop the process).
    void Break();
    // Ends the process with exit code 0.
    [[noreturn]] void Abort();
    // Stores 2 (the system debugger) and answers true.
    bool _GetDebuggerType(int32_t* type);

    // Writes text (as UTF-8, line ends untouched) to the assertion file, after
    // the date and before a crawl of the caller when asked.
    void WriteToAssertFile(const VString& text, bool withDate, bool withCrawl);
    // Opens the assertion file as described in the file comment; the caller
    // closes the result. Null when it cannot be opened.
    FILE* _OpenAssertFile(bool withDate, bool withCrawl);
    // The assertion file's path (UTF-8), cached.
    std::string _GetAssertFilePath();

    // Test seam: the next opening of the assertion file counts as the first of
    // the run (truncating it), and the rotation counter starts again at 0.
    void _ResetAssertFileForTesting();

private:
    // Built before main. Static storage starts zeroed, so an event raised by a
    // static initialiser that runs earlier finds messages disabled.
    VDebugMgr() = default;
    ~VDebugMgr() override;

    bool _IsLocationIgnored(const std::string& location);
    bool _IsErrorIgnored(VError code);
    // Applies a handler's break and quit replies: answers whether to break.
    bool _BreakOrQuit(int32_t reply);

    static VDebugMgr sInstance;

    bool fDebuggerPresent = true;
    bool fMessagesEnabled = false;
    bool fBreakOnAssert = false;
    bool fBreakOnDebugMsg = false;
    bool fBreakOnError = false;
    bool fLogInDebugger = false;
    bool fWriteAssertFile = false;
    IDebugMessageHandler* fHandler = nullptr;
    // The ignored assertion locations ("%s%d" of file and line) and error
    // codes; created on first use, guarded by fIgnoredMutex.
    std::set<std::string>* fIgnoredLocations = nullptr;
    bool fIgnoreAllAsserts = false;
    std::set<VError>* fIgnoredErrors = nullptr;
    bool fIgnoreAllErrors = false;
    std::mutex fIgnoredMutex;
    // The assertion file: cached path, first-opening flag and rotation counter,
    // guarded by fAssertFileMutex (two tasks may write at once).
    std::string* fAssertFilePath = nullptr;
    bool fAssertFileOpened = false;
    uint32_t fRotationCounter = 0;
    std::recursive_mutex fAssertFileMutex;
};

// Asks through a system notice with the Retry, Ignore and Abort buttons.
class VNotificationDebugMessageHandler : public VObject, public IDebugMessageHandler {
public:
    int32_t AssertFailed(VDebugContext& context, const char* condition, const char* file, int line) override;
    int32_t ErrorThrown(VDebugContext& context, VErrorBase* error) override;
    // Abort: break with a debugger present, else quit; Retry: continue; any
    // other answer: ignore this.
    static int32_t _TranslateNotificationResponse(int32_t response);
};

}  // namespace bkit
