// ILogger.h - the process logger's interface, its listeners and the keys of log entries.
//
// This file defines ILogger, what every task sees of the process logger;
// ILogListener, the receiver of the logger's batches of entries; EMessageLevel;
// and ILoggerBagKeys, the names under which an entry (a VValueBag) carries its
// values. An entry without "level" is an info entry.
//
// The process logger: the process object creates, starts and owns one logger
// and registers it here with SetProcessLogger (retained); GetProcessLogger
// hands it out without a reference, from any task, null when there is none. The
// process object also names the source of the entries
// (VProcess::GetLogSourceIdentifier; the executable's file name when it names
// none).
//
// Thread-safety: every operation may be called from any task. The sequence
// counter is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VUUID.h"

namespace bkit {

class VErrorBase;

enum EMessageLevel : int32_t {
    EML_Dump = 0,
    EML_Trace = 1,
    EML_Assert = 2,
    EML_Debug = 3,
    EML_Information = 4,
    EML_Warning = 5,
    EML_Error = 6,
    EML_Fatal = 7,
};

// Receives the logger's entries, one batch per call, oldest first. A listener
// that keeps a bag beyond the call retains it.
class ILogListener : public IRefCountable {
public:
    virtual void Put(const std::vector<const VValueBag*>& bags) = 0;
};

class ILogger : public IRefCountable {
public:
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsStarted() const = 0;
    // Whether an entry of that level would be kept (never before Start).
    virtual bool ShouldLog(EMessageLevel level) const = 0;
    // Keeps a reference to the entry until it reaches the listeners.
    virtual void LogBag(const VValueBag* bag) = 0;
    // An entry with the message, the level and the source (the process's
    // source identifier when empty).
    virtual void LogMessage(EMessageLevel level, const VString& message, const VString& source) = 0;
    // Hands the entries kept so far to the listeners.
    virtual void Flush() = 0;
    // Each switch sets or clears its level's bit and answers its previous state.
    virtual bool WithTrace(bool on) = 0;
    virtual bool WithDump(bool on) = 0;
    virtual bool WithDebug(bool on) = 0;
    virtual bool WithWarning(bool on) = 0;
    virtual bool WithError(bool on) = 0;
    virtual bool WithFatal(bool on) = 0;
    virtual bool WithAssert(bool on) = 0;
    virtual bool WithInfo(bool on) = 0;
    // False for null or a listener already there; the newest listener comes first.
    virtual bool AddLogListener(ILogListener* listener) = 0;
    // Flushes first, so that the listener receives everything logged before.
    virtual bool RemoveLogListener(ILogListener* listener) = 0;

    // An error entry from the record: its saved fields, description, component
    // signature and the process's source; nothing when errors are not logged.
    void LogErrorIfNecessary(VErrorBase* error);
    // An assertion entry: file name (after its last '/'), line, message and the
    // simplified stack crawl of the caller; nothing when assertions are not logged.
    void LogAssertIfNecessary(const char* message, const char* file, int line);

    // 1 at the first call of the process, then 2, 3 ...
    static uint64_t GetSequenceNumber();
    static std::atomic<uint64_t> sSequenceNumber;

    // The process logger (see the file comment).
    static ILogger* GetProcessLogger();
    static void SetProcessLogger(ILogger* logger);
    static void GetLogSourceIdentifier(VString& out);

    // A crawl's text made short: per line, the argument list from the first '('
    // to the first ')' removed, every "bkit::" and "non-virtual thunk to "
    // removed, a final " const" removed; lines joined with " <- ".
    static void SimplifyStackCrawl(const VString& crawl, VString& out);
};

// The names of the values of a log entry.
struct ILoggerBagKeys {
    static const StBagKeyNoDefault<VString, VString> message;
    static const StBagKeyWithDefault<VLong, int32_t> level;
    static const StBagKeyNoDefault<VString, VString> source;
    static const StBagKeyNoDefault<VString, VString> task_name;
    static const StBagKeyNoDefault<VString, VString> file_name;
    static const StBagKeyNoDefault<VString, VString> stack_crawl;
    static const StBagKeyNoDefault<VLong, int32_t> line_number;
    static const StBagKeyNoDefault<VLong, uint32_t> component_signature;
    static const StBagKeyNoDefault<VLong, int32_t> elapsed_milliseconds;
    static const StBagKeyNoDefault<VLong, int32_t> count_bytes_sent;
    static const StBagKeyNoDefault<VLong, int32_t> count_bytes_received;
    static const StBagKeyNoDefault<VUUID, VUUID> base_context_uuid;
    static const StBagKeyNoDefault<VLong8, uint64_t> error_code;
    static const StBagKeyNoDefault<VLong, int32_t> count_bytes_asked;
    static const StBagKeyNoDefault<VLong8, int64_t> socket;
    static const StBagKeyNoDefault<VBoolean, bool> is_blocking;
    static const StBagKeyNoDefault<VBoolean, bool> is_ssl;
    static const StBagKeyNoDefault<VBoolean, bool> is_select_io;
    static const StBagKeyNoDefault<VString, VString> payload;
    static const StBagKeyNoDefault<VLong, int32_t> ms_timeout;
    static const StBagKeyNoDefault<VLong, int32_t> ms_spent;
    static const StBagKeyNoDefault<VLong, int32_t> dump_offset;
    static const StBagKeyNoDefault<VString, VString> dump_buffer;
    static const StBagKeyNoDefault<VString, VString> local_addr;
    static const StBagKeyNoDefault<VString, VString> peer_addr;
    static const StBagKeyNoDefault<VLong, int32_t> local_port;
    static const StBagKeyNoDefault<VLong, int32_t> peer_port;
    static const StBagKeyNoDefault<VLong, int32_t> task_id;
    static const StBagKeyNoDefault<VBoolean, bool> exchange_id;
    static const StBagKeyNoDefault<VLong8, int64_t> debug_context;
    static const StBagKeyNoDefault<VString, VString> jobId;
    static const StBagKeyNoDefault<VLong, int32_t> jobState;
    static const StBagKeyNoDefault<VString, VString> pipe;
    static const StBagKeyNoDefault<VString, VString> user_id;
    static const StBagKeyNoDefault<VString, VString> stream_id;
    static const StBagKeyNoDefault<VString, VString> system_username;
    static const StBagKeyNoDefault<VString, VString> hostname;
};

}  // namespace bkit
