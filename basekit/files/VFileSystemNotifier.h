// VFileSystemNotifier.h - changes inside watched folders, told to the task that watches.
//
// This file defines VFileSystemNotifier, which watches folder trees and tells
// a handler, on the task that started the watch, which files and folders were
// modified, created or deleted; its handler interface; and the watch record.
// The platform half (XMacFileSystemNotification) turns the platform's coarse
// "something changed in this folder" into lists of changed paths by comparing
// each named folder with a snapshot of the tree.
//
// Contracts:
// - Results are codes only; nothing is pushed on the error stack by start and
//   stop. A folder that appears inside a watched tree but cannot be watched
//   (the user's watch limit) is reported as a 'POSX' error record ("path":
//   the folder) pushed on the watching task's stack by the next delivery,
//   before the handler is called, so a handler may look at it there.
// - Handlers are held by plain pointer: a handler must stay alive until its
//   watch is stopped. Once StopWatchingForChanges (or the destructor)
//   returned, the handler is never called again, even by changes that were
//   already posted to its task.
// - The handler is called on the watching task, through its message queue,
//   with the notifier's lock held; the lock is recursive, so the handler may
//   start and stop watches. It must not destroy the notifier.
// - Folder paths and changed paths are compared exactly: this system's file
//   names are case-sensitive. Directories are never reported as modified; a
//   created or deleted folder is reported with a path ending in its separator.
// - Thread-safe: every operation may be called from any task.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/files/VFilePath.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VMessage.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFolder;
class VTask;
class XMacFileSystemNotification;

// 'bkit' 659: the folder is already watched for that handler.
constexpr VError VE_FS_NOTIFIER_ALREADY_WATCHING = MakeBKitError(659);
// 'bkit' 650: stopping a watch that does not exist.
constexpr VError VE_FS_NOTIFIER_NOT_WATCHING = MakeBKitError(650);

class VFileSystemNotifier : public VObject {
public:
    // A bit set: a watch asks for any combination, each change carries one.
    using EventKind = uint32_t;
    static constexpr EventKind kFileModified = 1;
    static constexpr EventKind kFileCreated = 2;
    static constexpr EventKind kFileDeleted = 4;
    static constexpr EventKind kAllEvents = kFileModified | kFileCreated | kFileDeleted;

    class IEventHandler {
    public:
        virtual ~IEventHandler() = default;
        // Called on the watching task with one run of changes of one kind, in
        // the order they were found.
        virtual void HandleFileSystemEvent(const std::vector<VFilePath>& paths, EventKind kind) = 0;
    };

    // One watch: created by the platform half, retained by the list and by
    // each delivery message still pending.
    class VChangeData : public VObject, public IRefCountable {
    public:
        VChangeData(const VFilePath& folder, EventKind kinds, IEventHandler* handler, VTask* task,
                    XMacFileSystemNotification* owner, VFileSystemNotifier* notifier);
        ~VChangeData() override;

        const VFilePath& GetFolderPath() const { return fFolderPath; }
        EventKind GetKinds() const { return fKinds; }
        IEventHandler* GetHandler() const { return fHandler; }
        VTask* GetTask() const { return fTask; }
        XMacFileSystemNotification* GetOwner() const { return fOwner; }

        // Appends one change (any thread).
        void AddPendingChange(const VFilePath& path, EventKind kind);
        // Records that a folder inside the tree could not be watched.
        void AddWatchError(const VFilePath& folder, VError error);

    private:
        friend class VFileSystemNotifier;

        VFilePath fFolderPath;
        EventKind fKinds;
        IEventHandler* fHandler;
        VTask* fTask;
        XMacFileSystemNotification* fOwner;
        // Pending changes and watch errors: filled on the platform's thread,
        // taken by the delivery. A leaf lock, never held while calling out,
        // so that stopping a watch may wait for the platform's thread.
        std::mutex fPendingMutex;
        std::vector<std::pair<VFilePath, EventKind>> fPending;
        std::vector<std::pair<VFilePath, VError>> fWatchErrors;
        // The notifier while it exists, guarded by fDeliveryMutex, which a
        // delivery holds from start to end: the destructor clears it first,
        // so a message left in a queue never reaches a deleted notifier.
        // Recursive: a handler may run a nested message loop that delivers
        // for the same watch.
        std::recursive_mutex fDeliveryMutex;
        VFileSystemNotifier* fNotifier;
    };

    // Posted to the watching task for one watch; runs the delivery there.
    class VChangeMessage : public VMessage {
    public:
        VChangeMessage(VFileSystemNotifier* notifier, VChangeData* data);
        ~VChangeMessage() override;
        void DoExecute() override;

    private:
        VChangeData* fData;
    };

    // No watches. The first notifier made while none is the process's
    // becomes Instance() until it is destroyed.
    VFileSystemNotifier();
    // Stops every watch, last started first, then deletes the platform half.
    ~VFileSystemNotifier() override;

    VFileSystemNotifier(const VFileSystemNotifier&) = delete;
    VFileSystemNotifier& operator=(const VFileSystemNotifier&) = delete;

    // The process's notifier, null when none exists.
    static VFileSystemNotifier* Instance();

    // Watches folder and everything below it for the kinds, telling handler
    // on the calling task; the platform coalesces changes within latencyMs.
    // 0; 'bkit' 659 when that folder is already watched for that handler;
    // 'POSX' errno when the platform cannot watch it (ENOSPC: the user's
    // limit of watched folders; ENOENT: no such folder).
    VError StartWatchingForChanges(const VFolder& folder, EventKind kinds, IEventHandler* handler, int latencyMs);
    // Ends that watch. 0, or 'bkit' 650 when there is none.
    VError StopWatchingForChanges(const VFolder& folder, IEventHandler* handler);

    // --- used by the platform half ---

    // Posts a delivery of the watch's pending changes to the watch's task.
    void SignalChange(VChangeData* data);
    // The delivery, on the watch's task: hands the pending changes to the
    // handler in runs of one kind, unless the watch was stopped meanwhile.
    void EventSignaledCallback(VChangeData* data);
    // Appends a watch to the list (retained).
    void PushChangeData(VChangeData* data);
    // Takes a watch off the list; answers whether it was there.
    bool RemoveChangeData(VChangeData* data);

    VCriticalSection& GetLock() { return fLock; }

private:
    // The index of the live watch, -1 when absent. Under the lock.
    int _Find(const VFilePath& folder, IEventHandler* handler) const;
    bool _IsLive(const VChangeData* data) const;

    XMacFileSystemNotification* fPlatform;
    mutable VCriticalSection fLock;
    std::vector<VRefPtr<VChangeData>> fWatches;
};

}  // namespace bkit
