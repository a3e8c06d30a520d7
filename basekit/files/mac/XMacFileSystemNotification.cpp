// XMacFileSystemNotification.cpp - snapshots of watched trees and the change lists made from them.

#include "basekit/files/mac/XMacFileSystemNotification.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>

#include "basekit/files/VFolder.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

namespace {

using Notifier = VFileSystemNotifier;

VFilePath PathFromPosix(const std::string& text)
{
    VString path;
    path.FromCString(text.c_str());
    return VFilePath(path, FPS_POSIX);
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

XMacFileSystemNotification::XMacChangeData::XMacChangeData(const VFilePath& folder, Notifier::EventKind kinds,
                                                           Notifier::IEventHandler* handler, VTask* task,
                                                           XMacFileSystemNotification* owner, Notifier* notifier,
                                                           const std::string& posixPath)
    : VChangeData(folder, kinds, handler, task, owner, notifier), fPosixPath(posixPath)
{
}

XMacFileSystemNotification::XMacFileSystemNotification(Notifier* notifier) : fNotifier(notifier) {}

VError XMacFileSystemNotification::StartWatchingForChanges(const VFolder& folder, Notifier::EventKind kinds,
                                                           Notifier::IEventHandler* handler, int latencyMs)
{
    VString text;
    folder.GetPlatformPath(text, FPS_POSIX);
    std::string posixPath = to_string(text);
    if (posixPath.empty() || posixPath.back() != '/')
        posixPath += '/';

    VTask* task = VTask::RetainCurrent();
    VRefPtr<XMacChangeData> watch = VRefPtr<XMacChangeData>::Adopt(
        new XMacChangeData(folder.GetPath(), kinds, handler, task, this, fNotifier, posixPath));
    if (task)
        task->Release();

    if (VError err = watch->fFeed.Open(posixPath); err != 0)
        return err;
    CreateDirectorySnapshot(posixPath, watch->fSnapshot, true);
    fNotifier->PushChangeData(watch.Get());
    XMacChangeData* data = watch.Get();
    VError err = watch->fFeed.Start(latencyMs, [this, data](const std::vector<platform::FolderChangeFeed::Event>& events) {
        FSEventCallback(data, events);
    });
    if (err != 0) {
        // A watch that never runs must not stay in the list, where it would
        // refuse the next start for this folder and handler.
        fNotifier->RemoveChangeData(data);
        watch->fFeed.Stop();
    }
    return err;
}

void XMacFileSystemNotification::StopWatchingForChanges(Notifier::VChangeData* data, bool)
{
    static_cast<XMacChangeData*>(data)->fFeed.Stop();
}

void XMacFileSystemNotification::FSEventCallback(XMacChangeData* watch,
                                                 const std::vector<platform::FolderChangeFeed::Event>& events)
{
    using Feed = platform::FolderChangeFeed;
    std::set<std::string> folders;
    bool signal = false;
    for (const Feed::Event& event : events) {
        if (event.flags & Feed::kWatchFailed) {
            watch->AddWatchError(PathFromPosix(event.folder), event.error);
            signal = true;
        }
        if (event.flags & Feed::kRootChanged) {
            struct stat info;
            if (::stat(watch->fPosixPath.c_str(), &info) == 0)
                folders.insert(watch->fPosixPath);
        } else if ((event.flags & Feed::kMustScanSubDirs) && (event.flags & Feed::kDropped)) {
            // Events were lost somewhere below: every folder known there is
            // compared, not only the top one.
            folders.insert(event.folder);
            for (auto it = watch->fSnapshot.lower_bound(event.folder);
                 it != watch->fSnapshot.end() && StartsWith(it->first, event.folder); ++it)
                folders.insert(it->first);
        } else {
            folders.insert(event.folder);
        }
    }
    // Sorted, so a folder comes before the folders inside it.
    for (const std::string& folder : folders) {
        if (BuildChangeList(watch, folder))
            signal = true;
    }
    if (signal)
        fNotifier->SignalChange(watch);
}

bool XMacFileSystemNotification::CreateDirectorySnapshot(const std::string& folder, Snapshot& snapshot, bool recursive)
{
    dirent** entries = nullptr;
    int count = ::scandir(folder.c_str(), &entries, nullptr, alphasort);
    if (count < 0)
        return false;
    auto map = std::make_unique<FolderMap>();
    std::vector<std::string> subFolders;
    for (int i = 0; i < count; ++i) {
        std::string name = entries[i]->d_name;
        unsigned char type = entries[i]->d_type;
        std::free(entries[i]);
        if (name == "." || name == ".." || name == ".DS_Store")
            continue;
        struct stat info;
        if (::lstat((folder + name).c_str(), &info) != 0)
            continue;
        FileInfo& entry = (*map)[name];
        entry.seconds = info.st_mtim.tv_sec;
        entry.nanoseconds = info.st_mtim.tv_nsec;
        entry.isDirectory = type == DT_DIR || (type == DT_UNKNOWN && S_ISDIR(info.st_mode));
        if (entry.isDirectory && recursive)
            subFolders.push_back(folder + name + "/");
    }
    std::free(entries);
    snapshot[folder] = std::move(map);
    for (const std::string& sub : subFolders)
        CreateDirectorySnapshot(sub, snapshot, true);
    return true;
}

void XMacFileSystemNotification::ClearDirectorySnapshot(const std::string& folder, Snapshot& snapshot)
{
    auto it = snapshot.lower_bound(folder);
    while (it != snapshot.end() && StartsWith(it->first, folder))
        it = snapshot.erase(it);
}

bool XMacFileSystemNotification::BuildChangeList(XMacChangeData* watch, const std::string& folder)
{
    Snapshot& snapshot = watch->fSnapshot;
    Snapshot fresh;
    if (!CreateDirectorySnapshot(folder, fresh, false))
        return false;
    auto previousEntry = snapshot.find(folder);
    if (previousEntry == snapshot.end()) {
        // Not seen before (its parent reports it): known from now on.
        snapshot[folder] = std::move(fresh[folder]);
        return false;
    }
    const FolderMap& previous = *previousEntry->second;
    const FolderMap& current = *fresh[folder];
    bool added = false;
    for (const auto& [name, info] : previous) {
        if (current.find(name) != current.end())
            continue;
        added |= AddChangeToList(watch, folder, name, info.isDirectory, Notifier::kFileDeleted);
        if (info.isDirectory)
            ClearDirectorySnapshot(folder + name + "/", snapshot);
    }
    for (const auto& [name, info] : current) {
        auto before = previous.find(name);
        if (before == previous.end()) {
            added |= AddChangeToList(watch, folder, name, info.isDirectory, Notifier::kFileCreated);
        } else if (!before->second.isDirectory &&
                   (before->second.seconds != info.seconds || before->second.nanoseconds != info.nanoseconds)) {
            added |= AddChangeToList(watch, folder, name, info.isDirectory, Notifier::kFileModified);
        }
        bool wasDirectory = before != previous.end() && before->second.isDirectory;
        if (info.isDirectory && !wasDirectory)
            CreateDirectorySnapshot(folder + name + "/", snapshot, true);
        else if (!info.isDirectory && wasDirectory)
            ClearDirectorySnapshot(folder + name + "/", snapshot);
    }
    // What was just listed is what the next comparison starts from.
    snapshot[folder] = std::move(fresh[folder]);
    return added;
}

bool XMacFileSystemNotification::AddChangeToList(XMacChangeData* watch, const std::string& folder,
                                                 const std::string& name, bool isDirectory, Notifier::EventKind kind)
{
    if ((watch->GetKinds() & kind) == 0)
        return false;
    watch->AddPendingChange(PathFromPosix(folder + name + (isDirectory ? "/" : "")), kind);
    return true;
}

}  // namespace bkit
