// VLogger.cpp - the ring of entries, the listeners and the "Logger" task.
#include "basekit/runtime/VLogger.h"

#include <algorithm>

#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {

VLogger::VLogger() = default;

VLogger::~VLogger()
{
    // The task flushes into the listeners and the ring: it ends first.
    Stop();
    if (fTask) {
        fTask->Release();
        fTask = nullptr;
    }
    std::vector<ILogListener*> listeners;
    {
        StLocker<VCriticalSection> lock(&fListenerLock);
        listeners.swap(fListeners);
    }
    for (ILogListener* listener : listeners) listener->Release();
    std::vector<const VValueBag*> entries;
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        entries = Read();
    }
    for (const VValueBag* bag : entries) bag->Release();
}

void VLogger::Start()
{
    fStarted.store(true, std::memory_order_release);
}

void VLogger::Stop()
{
    VTask* task = nullptr;
    {
        StLocker<VCriticalSection> lock(&fListenerLock);
        task = fTask;
        if (task) task->Retain();
    }
    if (!task) return;
    task->Kill();
    task->WakeUp();
    task->WaitForDeath(kStopWaitMs);
    task->Release();
}

bool VLogger::IsStarted() const
{
    return fStarted.load(std::memory_order_acquire);
}

bool VLogger::ShouldLog(EMessageLevel level) const
{
    if (!IsStarted()) return false;
    uint32_t bit = 1u << (static_cast<uint32_t>(level) % 32u);
    return (fLevelMask.load(std::memory_order_relaxed) & bit) != 0;
}

bool VLogger::WithTag(EMessageLevel level, bool on)
{
    uint32_t bit = 1u << (static_cast<uint32_t>(level) % 32u);
    uint32_t previous = on ? fLevelMask.fetch_or(bit) : fLevelMask.fetch_and(~bit);
    return (previous & bit) != 0;
}

const VValueBag* VLogger::_Store(const VValueBag* bag)
{
    if (fNextIndex >= kRingSize) {
        fWrapped = true;
        fNextIndex = 0;
    }
    const VValueBag* dropped = fRing[fNextIndex];
    bag->Retain();
    fRing[fNextIndex++] = bag;
    return dropped;
}

void VLogger::LogBag(const VValueBag* bag)
{
    if (!bag) return;
    if (!ShouldLog(static_cast<EMessageLevel>(ILoggerBagKeys::level.Get(bag)))) return;
    const VValueBag* dropped;
    {
        StLocker<VCriticalSection> lock(&fRingLock);
        dropped = _Store(bag);
    }
    if (dropped) dropped->Release();
}

void VLogger::AddLogBag(const VValueBag* bag)
{
    if (!bag) return;
    if (const VValueBag* dropped = _Store(bag)) dropped->Release();
}

void VLogger::LogMessage(EMessageLevel level, const VString& message, const VString& source)
{
    if (!ShouldLog(level)) return;
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    if (!source.IsNull() && !source.IsEmpty()) {
        ILoggerBagKeys::source.Set(bag.Get(), source);
    } else {
        VString processSource;
        GetLogSourceIdentifier(processSource);
        ILoggerBagKeys::source.Set(bag.Get(), processSource);
    }
    if (level != EML_Information) ILoggerBagKeys::level.Set(bag.Get(), level);
    ILoggerBagKeys::message.Set(bag.Get(), message);
    LogBag(bag.Get());
}

std::vector<const VValueBag*> VLogger::Read()
{
    std::vector<const VValueBag*> entries;
    if (fWrapped) {
        entries.reserve(kRingSize);
        entries.insert(entries.end(), fRing + fNextIndex, fRing + kRingSize);
    }
    entries.insert(entries.end(), fRing, fRing + fNextIndex);
    std::fill(fRing, fRing + kRingSize, nullptr);
    fNextIndex = 0;
    fWrapped = false;
    return entries;
}

void VLogger::Flush()
{
    // The listener lock is held from taking the entries to handing them over:
    // otherwise a listener removed in between would never see entries already
    // taken for it, and two flushes could hand entries over out of order.
    std::vector<const VValueBag*> entries;
    {
        StLocker<VCriticalSection> listenerLock(&fListenerLock);
        {
            StLocker<VCriticalSection> ringLock(&fRingLock);
            entries = Read();
        }
        if (entries.empty()) return;
        for (ILogListener* listener : fListeners) listener->Put(entries);
    }
    for (const VValueBag* bag : entries) bag->Release();
}

void VLogger::_RunLoggerTask(VTask* task)
{
    // The logger's task must not keep the process busy on its own.
    VTask::ReleaseCurrentActivityToken();
    while (!task->IsDying()) {
        Flush();
        VTask::Sleep(kFlushIntervalMs);
    }
}

bool VLogger::AddLogListener(ILogListener* listener)
{
    if (!listener) return false;
    StLocker<VCriticalSection> lock(&fListenerLock);
    if (!fTask) {
        fTask = new VTask(kLoggerTaskStackSize, eTaskStylePreemptive, [this] { _RunLoggerTask(VTask::GetCurrent()); });
        fTask->SetName(VString("Logger"));
        fTask->Run();
    }
    if (std::find(fListeners.begin(), fListeners.end(), listener) != fListeners.end()) return false;
    listener->Retain();
    fListeners.insert(fListeners.begin(), listener);
    return true;
}

bool VLogger::RemoveLogListener(ILogListener* listener)
{
    Flush();
    if (!listener) return false;
    StLocker<VCriticalSection> lock(&fListenerLock);
    auto found = std::find(fListeners.begin(), fListeners.end(), listener);
    if (found == fListeners.end()) return false;
    fListeners.erase(found);
    listener->Release();
    return true;
}

}  // namespace bkit
