// XMacFileSystemNotification.h - the platform half of the file-system change notifier.
//
// This file defines XMacFileSystemNotification, which watches one folder tree
// per watch through a folder change feed (basekit/platform/FolderChangeFeed)
// and turns the folders it names into lists of changed paths: it keeps a
// snapshot of the tree (names, modification times, folder flags) and compares
// each named folder, one level deep, with it.
//
// Contracts:
// - The feed's callback runs on the feed's own thread; it alone reads and
//   updates the watch's snapshot once the watch started. Changes go to the
//   watch's pending list and a delivery is posted to the watching task.
// - After a folder is compared, its entry of the snapshot becomes what was
//   just listed, so a change made while the callback runs is compared again
//   at the next callback instead of being lost.
// - ".DS_Store" entries are never listed; symbolic links are items, never
//   followed; entries that vanish between listing and lstat are left out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "basekit/files/VFileSystemNotifier.h"
#include "basekit/platform/FolderChangeFeed.h"
#include "basekit/values/VObject.h"

namespace bkit {

class XMacFileSystemNotification : public VObject {
public:
    struct FileInfo {
        int64_t seconds = 0;
        int64_t nanoseconds = 0;
        bool isDirectory = false;
    };
    using FolderMap = std::map<std::string, FileInfo>;
    // Folder text (UTF-8 POSIX path ending with '/') -> its entries by name.
    using Snapshot = std::map<std::string, std::unique_ptr<FolderMap>>;

    class XMacChangeData : public VFileSystemNotifier::VChangeData {
    public:
        XMacChangeData(const VFilePath& folder, VFileSystemNotifier::EventKind kinds,
                       VFileSystemNotifier::IEventHandler* handler, VTask* task, XMacFileSystemNotification* owner,
                       VFileSystemNotifier* notifier, const std::string& posixPath);

        Snapshot fSnapshot;
        platform::FolderChangeFeed fFeed;
        std::string fPosixPath;
    };

    explicit XMacFileSystemNotification(VFileSystemNotifier* notifier);

    // Creates the feed, snapshots the tree, adds the watch to the notifier's
    // list and starts the feed; a failed start takes the watch off the list
    // again. The caller holds the notifier's lock. 0 or 'POSX' errno.
    VError StartWatchingForChanges(const VFolder& folder, VFileSystemNotifier::EventKind kinds,
                                   VFileSystemNotifier::IEventHandler* handler, int latencyMs);
    // Stops the watch's feed (waiting for a running callback).
    void StopWatchingForChanges(VFileSystemNotifier::VChangeData* data, bool listNowEmpty);

    // The feed's callback (feed thread).
    void FSEventCallback(XMacChangeData* watch, const std::vector<platform::FolderChangeFeed::Event>& events);

    // Lists folder (text ending with '/') into snapshot[folder], and each
    // sub-folder too when recursive. False when the folder cannot be listed.
    static bool CreateDirectorySnapshot(const std::string& folder, Snapshot& snapshot, bool recursive);
    // Removes folder's entry and every entry below it.
    static void ClearDirectorySnapshot(const std::string& folder, Snapshot& snapshot);
    // Compares folder with the snapshot and reports the differences; answers
    // whether a change was added. Updates the snapshot to what it found.
    bool BuildChangeList(XMacChangeData* watch, const std::string& folder);
    // Adds one change when the watch asks for its kind; answers whether it did.
    bool AddChangeToList(XMacChangeData* watch, const std::string& folder, const std::string& name,
                         bool isDirectory, VFileSystemNotifier::EventKind kind);

private:
    VFileSystemNotifier* fNotifier;
};

}  // namespace bkit
