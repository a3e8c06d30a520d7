// VFileSystemNotifier.cpp - the watch list and the delivery of changes to the watching task.

#include "basekit/files/VFileSystemNotifier.h"

#include <atomic>

#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFileSystemNotification.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

namespace {

std::atomic<VFileSystemNotifier*> sInstance{nullptr};

}  // namespace

// --- watch data and message ---

VFileSystemNotifier::VChangeData::VChangeData(const VFilePath& folder, EventKind kinds, IEventHandler* handler,
                                              VTask* task, XMacFileSystemNotification* owner,
                                              VFileSystemNotifier* notifier)
    : fFolderPath(folder), fKinds(kinds), fHandler(handler), fTask(task), fOwner(owner), fNotifier(notifier)
{
    if (fTask)
        fTask->Retain();
}

VFileSystemNotifier::VChangeData::~VChangeData()
{
    if (fTask)
        fTask->Release();
}

void VFileSystemNotifier::VChangeData::AddPendingChange(const VFilePath& path, EventKind kind)
{
    std::lock_guard<std::mutex> lock(fPendingMutex);
    fPending.emplace_back(path, kind);
}

void VFileSystemNotifier::VChangeData::AddWatchError(const VFilePath& folder, VError error)
{
    std::lock_guard<std::mutex> lock(fPendingMutex);
    fWatchErrors.emplace_back(folder, error);
}

VFileSystemNotifier::VChangeMessage::VChangeMessage(VFileSystemNotifier*, VChangeData* data) : fData(data)
{
    fData->Retain();
}

VFileSystemNotifier::VChangeMessage::~VChangeMessage() { fData->Release(); }

void VFileSystemNotifier::VChangeMessage::DoExecute()
{
    std::lock_guard<std::recursive_mutex> delivering(fData->fDeliveryMutex);
    if (fData->fNotifier != nullptr)
        fData->fNotifier->EventSignaledCallback(fData);
}

// --- the notifier ---

VFileSystemNotifier::VFileSystemNotifier() : fPlatform(new XMacFileSystemNotification(this))
{
    VFileSystemNotifier* none = nullptr;
    sInstance.compare_exchange_strong(none, this);
}

VFileSystemNotifier::~VFileSystemNotifier()
{
    std::vector<VRefPtr<VChangeData>> watches;
    {
        StLocker<VCriticalSection> lock(&fLock);
        watches = fWatches;
    }
    // Deliveries still queued must not reach this object: each watch forgets
    // it, waiting for a delivery that is running.
    for (const VRefPtr<VChangeData>& watch : watches) {
        std::lock_guard<std::recursive_mutex> delivering(watch->fDeliveryMutex);
        watch->fNotifier = nullptr;
    }
    {
        StLocker<VCriticalSection> lock(&fLock);
        while (!fWatches.empty()) {
            VRefPtr<VChangeData> watch = std::move(fWatches.back());
            fWatches.pop_back();
            fPlatform->StopWatchingForChanges(watch.Get(), fWatches.empty());
        }
    }
    delete fPlatform;
    VFileSystemNotifier* self = this;
    sInstance.compare_exchange_strong(self, nullptr);
}

VFileSystemNotifier* VFileSystemNotifier::Instance() { return sInstance.load(std::memory_order_acquire); }

int VFileSystemNotifier::_Find(const VFilePath& folder, IEventHandler* handler) const
{
    for (size_t i = 0; i < fWatches.size(); ++i) {
        if (fWatches[i]->GetHandler() == handler && fWatches[i]->GetFolderPath() == folder)
            return static_cast<int>(i);
    }
    return -1;
}

bool VFileSystemNotifier::_IsLive(const VChangeData* data) const
{
    for (const VRefPtr<VChangeData>& watch : fWatches) {
        if (watch.Get() == data)
            return true;
    }
    return false;
}

VError VFileSystemNotifier::StartWatchingForChanges(const VFolder& folder, EventKind kinds, IEventHandler* handler,
                                                    int latencyMs)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (_Find(folder.GetPath(), handler) >= 0)
        return VE_FS_NOTIFIER_ALREADY_WATCHING;
    return fPlatform->StartWatchingForChanges(folder, kinds, handler, latencyMs);
}

VError VFileSystemNotifier::StopWatchingForChanges(const VFolder& folder, IEventHandler* handler)
{
    StLocker<VCriticalSection> lock(&fLock);
    int index = _Find(folder.GetPath(), handler);
    if (index < 0)
        return VE_FS_NOTIFIER_NOT_WATCHING;
    VRefPtr<VChangeData> watch = std::move(fWatches[static_cast<size_t>(index)]);
    fWatches.erase(fWatches.begin() + index);
    fPlatform->StopWatchingForChanges(watch.Get(), fWatches.empty());
    return VE_OK;
}

void VFileSystemNotifier::PushChangeData(VChangeData* data)
{
    StLocker<VCriticalSection> lock(&fLock);
    fWatches.emplace_back(data);
}

bool VFileSystemNotifier::RemoveChangeData(VChangeData* data)
{
    StLocker<VCriticalSection> lock(&fLock);
    for (auto it = fWatches.begin(); it != fWatches.end(); ++it) {
        if (it->Get() == data) {
            fWatches.erase(it);
            return true;
        }
    }
    return false;
}

void VFileSystemNotifier::SignalChange(VChangeData* data)
{
    VChangeMessage* message = new VChangeMessage(this, data);
    message->PostTo(data->GetTask(), false, 0);
    message->Release();
}

void VFileSystemNotifier::EventSignaledCallback(VChangeData* data)
{
    StLocker<VCriticalSection> lock(&fLock);
    std::vector<std::pair<VFilePath, EventKind>> pending;
    std::vector<std::pair<VFilePath, VError>> watchErrors;
    {
        std::lock_guard<std::mutex> taking(data->fPendingMutex);
        pending.swap(data->fPending);
        watchErrors.swap(data->fWatchErrors);
    }
    // A watch stopped after this delivery was posted: its handler may be gone.
    if (!_IsLive(data))
        return;

    for (const auto& [folder, error] : watchErrors) {
        VErrorBase* record = new VErrorBase(error);
        record->SetString("path", folder.GetPath(FPS_POSIX));
        _PushRetainedError(record);
    }

    std::vector<VFilePath> run;
    EventKind runKind = 0;
    auto flush = [&] {
        // The handler may have stopped its own watch in the previous run.
        if (!run.empty() && _IsLive(data))
            data->GetHandler()->HandleFileSystemEvent(run, runKind);
        run.clear();
    };
    for (const auto& [path, kind] : pending) {
        if (kind != runKind) {
            flush();
            runKind = kind;
        }
        if (run.empty() || run.back() != path)
            run.push_back(path);
    }
    flush();
}

}  // namespace bkit
