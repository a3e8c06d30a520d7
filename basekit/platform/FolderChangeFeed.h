// FolderChangeFeed.h - a feed of the folders to rescan below a watched folder, in place of an FSEvents stream.
//
// This file defines FolderChangeFeed, the stand-in for an event stream on one
// folder tree. It stands on inotify, which watches single folders: the feed
// watches the root and every folder below it, adds a watch for each folder
// that appears (created or moved in) and drops the watches of a folder that
// leaves. Like the stream it replaces, it names folders, not items: an event
// says "something changed directly in this folder", and the client compares
// the folder with what it saw before.
//
// Contracts:
// - Open watches the tree at once, so that changes made after it returns are
//   seen; Start then hands events to the callback on the feed's own thread,
//   coalesced: the first event opens a window of latencyMs milliseconds, and
//   every event of the window comes in one call, each folder once.
// - The watch limit of the user (fs.inotify.max_user_watches) is a failure,
//   not a silent gap: Open answers 'POSX' ENOSPC when the tree cannot be
//   watched whole, and a folder that appears later but cannot be watched is
//   passed to the callback with kWatchFailed.
// - Stop (and the destructor) waits for a running callback to finish; after
//   it the callback is neither running nor will run. Never call Stop from the
//   callback. One feed is used by one owner; the callback runs on the feed's
//   thread only.
// - Symbolic links below the root are never followed: a link to a folder is
//   an item. The root itself may be named through a link.
//
// Where it falls short of the stream it replaces: no history (events since
// the start only), and a kernel queue overflow is reported as "rescan the
// whole tree" (kMustScanSubDirs | kDropped on the root).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "basekit/BKitTypes.h"

namespace bkit::platform {

class FolderChangeFeed {
public:
    // Flags of one event.
    enum : uint32_t {
        kMustScanSubDirs = 0x1,  // the folder and everything below it must be rescanned
        kDropped = 0x2,          // events were lost (kernel queue overflow)
        kRootChanged = 0x20,     // the watched folder itself was deleted or moved
        kWatchFailed = 0x1000,   // a folder that appeared could not be watched (error holds why)
    };

    struct Event {
        std::string folder;  // POSIX path ending with '/'
        uint32_t flags = 0;
        VError error = 0;    // with kWatchFailed
    };

    using Callback = std::function<void(const std::vector<Event>& events)>;

    FolderChangeFeed() = default;
    ~FolderChangeFeed() { Stop(); }
    FolderChangeFeed(const FolderChangeFeed&) = delete;
    FolderChangeFeed& operator=(const FolderChangeFeed&) = delete;

    // Watches root (a POSIX folder path ending with '/') and the folders
    // below it. 0, or 'POSX' with errno: ENOSPC for the watch limit, EMFILE
    // for the limit of inotify instances, ENOENT or ENOTDIR for the root.
    // A failure leaves nothing watched.
    VError Open(const std::string& root);

    // Starts handing events to callback. 0 or 'POSX' with the errno of the
    // thread creation; 'POSX' EINVAL when not open or already started.
    VError Start(int latencyMs, Callback callback);

    // Stops watching and waits for the feed's thread. Safe when never opened.
    void Stop();

    // For tests: from now on at most limit inotify watches exist in the
    // process at once; the next one fails with ENOSPC as the kernel's limit
    // would. A negative limit switches the seam off (the default).
    static void SetWatchLimitForTests(int limit);
    // For tests: the next Start fails with errnum (as a thread that cannot be
    // made would); 0 switches the seam off.
    static void FailNextStartForTests(int errnum);

private:
    // Adds watches for folder and everything below it; folders newly watched
    // are appended to added. 0 or the first failure ('POSX').
    VError _WatchTree(const std::string& folder, std::vector<std::string>* added);
    // Removes the watches of folder and everything below it.
    void _UnwatchTree(const std::string& folder);
    VError _AddWatch(const std::string& folder);
    void _Run();
    // Reads what the kernel has; adds the events to the batch.
    void _ReadEvents(std::map<std::string, Event>& batch);

    std::string fRoot;
    int fFD = -1;
    int fWakeFD = -1;
    int fLatencyMs = 0;
    Callback fCallback;
    std::thread fThread;
    std::atomic<bool> fStopping{false};
    // Touched by the feed's thread only once it runs (by Open before).
    std::map<int, std::string> fFolderByWatch;
    std::map<std::string, int> fWatchByFolder;
};

}  // namespace bkit::platform
