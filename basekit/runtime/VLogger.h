// VLogger.h - the process logger: a ring of entries flushed to listeners by a task of its own.
//
// This file defines VLogger, the ILogger the process object creates. Producers
// only drop a retained reference to their entry into a ring of 1000 slots (one
// lock, one retain, at most one release: the oldest entry is dropped when the
// ring is full); the "Logger" task, created with the first listener, hands the
// ring's entries to every listener every 100 ms, and Flush does the same on the
// calling task.
//
// Locks: the ring lock is held only while entries go in or out, so producers
// never wait for a listener; the listener lock is held while listeners run, so
// Put calls never overlap (batches of two concurrent flushes may reach the
// listeners in either order). A listener may take locks of its own inside Put,
// but must not wait, while holding them, for a task that flushes this logger.
//
// Life: created stopped (every entry refused), Start, Stop (ends the task,
// waiting up to 3000 ms), destroyed. The destructor stops the task before it
// releases listeners and entries.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VTask;

class VLogger : public VObject, public ILogger {
public:
    static constexpr int32_t kRingSize = 1000;
    static constexpr uint32_t kDefaultLevelMask = 0xF0;  // info, warning, error, fatal
    static constexpr size_t kLoggerTaskStackSize = 64000;
    static constexpr int kFlushIntervalMs = 100;
    static constexpr int kStopWaitMs = 3000;

    VLogger();
    ~VLogger() override;
    VLogger(const VLogger&) = delete;
    VLogger& operator=(const VLogger&) = delete;

    void Start() override;
    // Ends the "Logger" task (waiting up to 3000 ms). Neither flushes nor
    // clears the started flag.
    void Stop() override;
    bool IsStarted() const override;
    bool ShouldLog(EMessageLevel level) const override;
    void LogBag(const VValueBag* bag) override;
    void LogMessage(EMessageLevel level, const VString& message, const VString& source) override;
    bool WithTrace(bool on) override { return WithTag(EML_Trace, on); }
    bool WithDump(bool on) override { return WithTag(EML_Dump, on); }
    bool WithDebug(bool on) override { return WithTag(EML_Debug, on); }
    bool WithWarning(bool on) override { return WithTag(EML_Warning, on); }
    bool WithError(bool on) override { return WithTag(EML_Error, on); }
    bool WithFatal(bool on) override { return WithTag(EML_Fatal, on); }
    bool WithAssert(bool on) override { return WithTag(EML_Assert, on); }
    bool WithInfo(bool on) override { return WithTag(EML_Information, on); }
    // Sets or clears the bit of any level; answers its previous state.
    bool WithTag(EMessageLevel level, bool on);
    void Flush() override;
    bool AddLogListener(ILogListener* listener) override;
    bool RemoveLogListener(ILogListener* listener) override;

    // The ring's entries, oldest first, each with its reference, emptying the
    // ring. Takes no lock: the caller holds the ring lock.
    std::vector<const VValueBag*> Read();
    // Stores bag as LogBag does, without the level test and without the lock.
    void AddLogBag(const VValueBag* bag);

private:
    // Stores bag (retained) and answers the entry it pushed out, if any.
    const VValueBag* _Store(const VValueBag* bag);
    void _RunLoggerTask(VTask* task);

    const VValueBag* fRing[kRingSize] = {};
    int32_t fNextIndex = 0;
    bool fWrapped = false;
    VCriticalSection fRingLock;
    VCriticalSection fListenerLock;
    std::atomic<uint32_t> fLevelMask{kDefaultLevelMask};
    std::atomic<bool> fStarted{false};
    std::vector<ILogListener*> fListeners;
    VTask* fTask = nullptr;
};

}  // namespace bkit
