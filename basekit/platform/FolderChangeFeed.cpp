// FolderChangeFeed.cpp - a feed of the folders to rescan below a watched folder, over inotify.

#include "basekit/platform/FolderChangeFeed.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "basekit/platform/MonotonicClock.h"
#include "basekit/platform/PosixError.h"

namespace bkit::platform {

namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW |
                                IN_EXCL_UNLINK;

std::atomic<int> sWatchLimit{-1};
std::atomic<int> sLiveWatches{0};
std::atomic<int> sStartFailure{0};

uint64_t NowMs() { return AbsoluteTime() / 1000000u; }

bool IsFolderEntry(const std::string& folder, const dirent* entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    struct stat info;
    return ::lstat((folder + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void FolderChangeFeed::SetWatchLimitForTests(int limit) { sWatchLimit.store(limit, std::memory_order_relaxed); }

void FolderChangeFeed::FailNextStartForTests(int errnum) { sStartFailure.store(errnum, std::memory_order_relaxed); }

VError FolderChangeFeed::Open(const std::string& root)
{
    if (fFD >= 0 || root.empty() || root.back() != '/')
        return PosixErrorFromErrno(EINVAL);
    fFD = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fFD < 0)
        return LastPosixError();
    fRoot = root;
    VError err = _WatchTree(root, nullptr);
    if (err != 0)
        Stop();
    return err;
}

VError FolderChangeFeed::Start(int latencyMs, Callback callback)
{
    if (fFD < 0 || fThread.joinable())
        return PosixErrorFromErrno(EINVAL);
    if (int failure = sStartFailure.exchange(0, std::memory_order_relaxed); failure != 0)
        return PosixErrorFromErrno(failure);
    fWakeFD = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fWakeFD < 0)
        return LastPosixError();
    fLatencyMs = latencyMs < 0 ? 0 : latencyMs;
    fCallback = std::move(callback);
    try {
        fThread = std::thread([this] { _Run(); });
    } catch (const std::system_error& e) {
        ::close(fWakeFD);
        fWakeFD = -1;
        return PosixErrorFromErrno(e.code().value());
    }
    return 0;
}

void FolderChangeFeed::Stop()
{
    if (fThread.joinable()) {
        fStopping.store(true, std::memory_order_release);
        uint64_t one = 1;
        (void)!::write(fWakeFD, &one, sizeof(one));
        fThread.join();
    }
    if (fWakeFD >= 0)
        ::close(fWakeFD);
    fWakeFD = -1;
    if (fFD >= 0) {
        // Closing the instance removes every watch it holds.
        ::close(fFD);
        sLiveWatches.fetch_sub(static_cast<int>(fFolderByWatch.size()), std::memory_order_relaxed);
    }
    fFD = -1;
    fFolderByWatch.clear();
    fWatchByFolder.clear();
    fCallback = nullptr;
}

VError FolderChangeFeed::_AddWatch(const std::string& folder)
{
    int limit = sWatchLimit.load(std::memory_order_relaxed);
    if (limit >= 0 && sLiveWatches.load(std::memory_order_relaxed) >= limit)
        return PosixErrorFromErrno(ENOSPC);
    // The root may be named through a link, as a folder object may; below
    // it, links are items and never entered.
    uint32_t mask = folder == fRoot ? (kWatchMask & ~IN_DONT_FOLLOW) : kWatchMask;
    int wd = ::inotify_add_watch(fFD, folder.c_str(), mask);
    if (wd < 0)
        return LastPosixError();
    auto known = fFolderByWatch.find(wd);
    if (known != fFolderByWatch.end()) {
        // The same folder under a new name (moved within the tree).
        fWatchByFolder.erase(known->second);
        known->second = folder;
    } else {
        fFolderByWatch[wd] = folder;
        sLiveWatches.fetch_add(1, std::memory_order_relaxed);
    }
    fWatchByFolder[folder] = wd;
    return 0;
}

VError FolderChangeFeed::_WatchTree(const std::string& folder, std::vector<std::string>* added)
{
    // The watch comes before the listing, so that an item made meanwhile is
    // either listed or reported.
    if (VError err = _AddWatch(folder); err != 0)
        return err;
    if (added != nullptr)
        added->push_back(folder);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;  // gone again: its parent reports that
    VError first = 0;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !IsFolderEntry(folder, entry))
            continue;
        VError err = _WatchTree(folder + name + "/", added);
        if (err != 0 && first == 0)
            first = err;
        if (first != 0 && added == nullptr)
            break;  // opening: the tree must be watched whole
    }
    ::closedir(dir);
    return first;
}

void FolderChangeFeed::_UnwatchTree(const std::string& folder)
{
    auto it = fWatchByFolder.lower_bound(folder);
    while (it != fWatchByFolder.end() && it->first.compare(0, folder.size(), folder) == 0) {
        ::inotify_rm_watch(fFD, it->second);
        fFolderByWatch.erase(it->second);
        sLiveWatches.fetch_sub(1, std::memory_order_relaxed);
        it = fWatchByFolder.erase(it);
    }
}

void FolderChangeFeed::_ReadEvents(std::map<std::string, Event>& batch)
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        ssize_t n = RetryOnEINTR([&] { return ::read(fFD, buffer, sizeof(buffer)); });
        if (n <= 0)
            return;
        for (char* p = buffer; p < buffer + n;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                Event& e = batch[fRoot];
                e.folder = fRoot;
                e.flags |= kMustScanSubDirs | kDropped;
                continue;
            }
            auto known = fFolderByWatch.find(event->wd);
            if (known == fFolderByWatch.end())
                continue;  // unwatched already
            const std::string folder = known->second;
            if (event->mask & IN_IGNORED) {
                fWatchByFolder.erase(folder);
                fFolderByWatch.erase(known);
                sLiveWatches.fetch_sub(1, std::memory_order_relaxed);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // A sub-folder's own end is reported by its parent.
                if (folder == fRoot) {
                    Event& e = batch[fRoot];
                    e.folder = fRoot;
                    e.flags |= kRootChanged;
                }
                continue;
            }
            if (event->len == 0 || event->name[0] == '\0')
                continue;  // the folder's own attributes: its content says more
            const std::string item = folder + event->name + "/";
            if (event->mask & IN_ISDIR) {
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                    std::vector<std::string> added;
                    if (VError err = _WatchTree(item, &added); err != 0) {
                        Event& e = batch[item];
                        e.folder = item;
                        e.flags |= kWatchFailed;
                        e.error = err;
                    }
                    for (const std::string& f : added)
                        batch[f].folder = f;
                } else if (event->mask & (IN_MOVED_FROM | IN_DELETE)) {
                    _UnwatchTree(item);
                }
            }
            batch[folder].folder = folder;
        }
    }
}

void FolderChangeFeed::_Run()
{
    std::map<std::string, Event> batch;
    uint64_t deadline = 0;
    while (!fStopping.load(std::memory_order_acquire)) {
        int timeout = -1;
        if (!batch.empty()) {
            uint64_t now = NowMs();
            timeout = deadline > now ? static_cast<int>(deadline - now) : 0;
        }
        pollfd fds[2] = {{fFD, POLLIN, 0}, {fWakeFD, POLLIN, 0}};
        int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (fStopping.load(std::memory_order_acquire))
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            bool wasEmpty = batch.empty();
            _ReadEvents(batch);
            if (wasEmpty && !batch.empty())
                deadline = NowMs() + static_cast<uint64_t>(fLatencyMs);
        }
        if (!batch.empty() && NowMs() >= deadline) {
            std::vector<Event> events;
            events.reserve(batch.size());
            for (auto& entry : batch)
                events.push_back(std::move(entry.second));
            batch.clear();
            fCallback(events);
        }
    }
}

}  // namespace bkit::platform
