// VUpdateEngineSwap.cpp - waiting for the caller, the bundle swap with its roll-back, the restart, file helpers.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FileSync.h"
#include "basekit/platform/FolderLock.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/platform/PosixError.h"
#include "basekit/process/VProcessLauncher.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "updater/VUpdateEngine.h"
#include "updater/VUpdateEngineFiles.h"

using namespace bkit;

VUpdateEngine::SleepFunction VUpdateEngine::sSleep = nullptr;
VUpdateEngine::ClockFunction VUpdateEngine::sClock = nullptr;

void VUpdateEngine::SetWaitsForTesting(SleepFunction sleep, ClockFunction clock)
{
    sSleep = sleep;
    sClock = clock;
}

void VUpdateEngine::_Sleep(int ms)
{
    if (sSleep != nullptr)
        sSleep(ms);
    else
        VTask::Sleep(ms);
}

uint32_t VUpdateEngine::_Now()
{
    return sClock != nullptr ? sClock() : static_cast<uint32_t>(VSystem::GetCurrentTime());
}

bool VUpdateEngine::_WaitForPidToQuit()
{
    if (fCallerPid < 0) {
        LogInfo("Skipping process wait (negative pid)");
        return true;
    }
    LogInfo("Waiting for process %d to quit", fCallerPid);
    uint32_t start = _Now();
    uint32_t elapsed = 0;
    bool present = true;
    for (;;) {
        elapsed = _Now() - start;  // unsigned: safe across the clock's wrap-around
        if (!present || elapsed > kWaitLimitMs - 1)
            break;
        std::vector<int> ids;
        VSystem::GetProcessList(ids);
        // A listing that failed never counts as the process having gone.
        present = ids.empty() || std::find(ids.begin(), ids.end(), fCallerPid) != ids.end();
        _Sleep(kWaitPollMs);
    }
    if (present && elapsed >= kWaitLimitMs) {
        LogError("Process %d still exists after maximum wait time. Giving up.", fCallerPid);
        _ThrowError(VE_UPDATER_WAIT_FAILED);
        return false;
    }
    _Sleep(kWaitAfterQuitMs);
    LogInfo("Process %d has quit. Proceeding.", fCallerPid);
    return true;
}

bool VUpdateEngine::_ComputeTempFolderPath(const VFilePath& folderPath, VFilePath& outPath, const VString* suffix) const
{
    VString baseName;
    folderPath.GetFolderName(baseName, false);
    bool withSuffix = suffix != nullptr && !suffix->IsNull() && !suffix->IsEmpty();
    for (int n = 1;; ++n) {
        outPath = folderPath;
        VString name(baseName);
        if (withSuffix)
            name.AppendPrintf("_%S%04d", suffix, n);
        else
            name.AppendPrintf("%04d", n);
        outPath.SetFolderName(name, false);
        bool taken = VFolder(outPath).Exists();
        if (!taken || n >= 9999)
            return !taken;
    }
}

namespace {

// Swaps the folders at a and b in one step; a failure is pushed as a rename
// error of the folder at b.
bool ExchangeFolders(const VFilePath& a, const VFilePath& b)
{
    int err = ExchangeItems(XMacFile::PosixPathText(a).c_str(), XMacFile::PosixPathText(b).c_str());
    if (err != 0) {
        VFolder folder(b);
        StThrowError<VFileError> error(&folder, PosixErrorFromErrno(err), VE_CANNOT_RENAME_FOLDER);
    }
    return err == 0;
}

// Asks the disk to keep the folder at path with everything below it (tree),
// or the folder that holds it (after a rename there); a failure is pushed as
// a flush error of that folder.
bool FlushFolder(const VFilePath& path, bool tree)
{
    const std::string text = XMacFile::PosixPathText(path);
    int err = tree ? FlushTree(text.c_str()) : FlushFolderOf(text.c_str());
    if (err != 0) {
        VFilePath failing(path);
        if (!tree)
            failing.ToParent();
        VFolder folder(failing);
        StThrowError<VFileError> error(&folder, PosixErrorFromErrno(err), VE_FILE_CANNOT_FLUSH);
    }
    return err == 0;
}

void ThrowCopyFailed(const VFilePath& upToDate, const VFilePath& install)
{
    StThrowError<> error(VE_UPDATER_COPY_FAILED);
    VString from, to;
    upToDate.GetPath(from);
    install.GetPath(to);
    error->SetString(VString("from"), from);
    error->SetString(VString("to"), to);
}

// The hidden siblings the new bundle can be built under: ".<name>.uptodate",
// then ".<name>.uptodate2" for when the first is taken by the up-to-date
// bundle itself (the source of the copy, never a leftover to clear) or by a
// leftover that could not be cleared.
VFilePath StagingPath(const VFilePath& install, bool second)
{
    VString installName;
    install.GetFolderName(installName, true);
    VString stagingName(".");
    stagingName.AppendString(installName).AppendCString(second ? ".uptodate2" : ".uptodate");
    VFilePath stagingPath(install);
    stagingPath.SetFolderName(stagingName, true);
    return stagingPath;
}

// Where an exchange made of renames keeps the bundle at install while the
// new one takes its place.
VFilePath ExchangeAsidePath(const VFilePath& install)
{
    VString installName;
    install.GetFolderName(installName, true);
    VString asideName;
    asideName.FromCString(ExchangeAsideName(to_string(installName).c_str()).c_str());
    VFilePath asidePath(install);
    asidePath.SetFolderName(asideName, true);
    return asidePath;
}

// What a housekeeping context holds is logged and dropped: it stops nothing.
void LogAndDrop(const StErrorContextInstaller& housekeeping)
{
    DumpErrorStack(housekeeping.GetContext(), true);
    housekeeping.Flush();
}

// The kind of item at path, links not followed: 0 when nothing is there.
mode_t ItemKind(const VFilePath& path)
{
    struct stat st;
    return ::lstat(XMacFile::PosixPathText(path).c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// True when the two paths name one folder, or the second lies inside the
// first, once links are followed: a link to the application, or a path
// through one, names the application as surely as its own path does.
bool SameOrInsideOnDisk(const VFilePath& outer, const VFilePath& inner)
{
    const std::string outerText = XMacFile::PosixPathText(outer), innerText = XMacFile::PosixPathText(inner);
    struct stat a, b;
    if (::stat(outerText.c_str(), &a) == 0 && ::stat(innerText.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
        return true;
    char outerReal[PATH_MAX], innerReal[PATH_MAX];
    if (::realpath(outerText.c_str(), outerReal) == nullptr || ::realpath(innerText.c_str(), innerReal) == nullptr)
        return false;
    const std::string prefix = std::string(outerReal) + (std::string(outerReal) == "/" ? "" : "/");
    return std::string(innerReal).compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void VUpdateEngine::_TrashBundle(const VFolder& bundle)
{
    if (bundle.MoveToTrash() == VE_OK)
        return;
    // The Trash's error names a folder that, once deleted, is no more.
    if (bundle.DeleteForced() == VE_OK)
        ThrowErrorWithPath(VE_UPDATER_OLD_APP_DELETED, bundle.GetPath());
}

bool VUpdateEngine::_TrashLeftover(const VFilePath& path, const VFilePath& outdated)
{
    const std::string text = XMacFile::PosixPathText(path);
    VString shown;
    shown.FromCString(text.c_str());
    if (ItemKind(path) == S_IFLNK) {
        // Only the link goes: what it leads to belongs to someone else.
        if (int err = UnlinkItem(text.c_str())) {
            VFile link(path);
            StThrowError<VFileError> error(&link, PosixErrorFromErrno(err), VE_FILE_CANNOT_DELETE);
            return false;
        }
        LogInfo("Removed the link '%S' an earlier run left", &shown);
        return true;
    }
    // Whatever else stands there may hold an application: it goes to the
    // Trash under the old bundle's free name, as any bundle set aside, and
    // is never deleted. What cannot go keeps its name.
    VFilePath freePath;
    VString suffix("old");
    _ComputeTempFolderPath(outdated, freePath, &suffix);
    const std::string freeText = XMacFile::PosixPathText(freePath);
    bool renamed = RenameNoReplace(text.c_str(), freeText.c_str()) == 0;
    const std::string& trashed = renamed ? freeText : text;
    int err = MoveItemToTrash(trashed.c_str());
    if (err == 0) {
        LogInfo("'%S', left by an earlier run, moved to the Trash", &shown);
        return true;
    }
    VFolder folder(renamed ? freePath : path);
    StThrowError<VFileError> error(&folder, PosixErrorFromErrno(err), VE_CANNOT_MOVE_FOLDER_TO_TRASH);
    if (renamed && RenameNoReplace(freeText.c_str(), text.c_str()) != 0) {
        VString freeShown;
        freeShown.FromCString(freeText.c_str());
        LogError("'%S', left by an earlier run, cannot go to the Trash and stays as '%S'", &shown, &freeShown);
    } else {
        LogError("'%S', left by an earlier run, cannot go to the Trash and stays", &shown);
    }
    return false;
}

void VUpdateEngine::_ClearTemporaryItems(const VFilePath& folder, const VFilePath& upToDate)
{
    std::string posix = XMacFile::PosixPathText(folder);
    DIR* dir = opendir(posix.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir)) {
        // Every run makes its temporary items in this folder under its
        // lock and removes them before it lets go: one found while this run
        // holds it was left by a run that has stopped, whatever its process
        // id means here.
        if (TemporaryItemProcess(entry->d_name) > 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        struct stat st;
        if (lstat((posix + "/" + name).c_str(), &st) != 0)
            continue;
        VString text;
        text.FromCString(name.c_str());
        VFilePath path(folder);
        VError error;
        if (S_ISDIR(st.st_mode)) {
            path.ToSubFolder(text);
            if (upToDate.IsSameOrChildOf(path))
                continue;
            error = VFolder(path).DeleteForced();
        } else {
            path.ToSubFile(text);
            error = VFile(path).Delete();
        }
        if (error == VE_OK)
            LogInfo("Removed the temporary item '%S'", &text);
    }
}

void VUpdateEngine::_RestoreSetAsideApplications(const VFilePath& folder)
{
    std::vector<std::string> restored;
    const std::string posix = XMacFile::PosixPathText(folder);
    int err = RestoreExchangeAsides(posix.c_str(), &restored);
    for (const std::string& name : restored) {
        VString text;
        text.FromCString((posix + "/" + name).c_str());
        LogInfo("'%S', set aside by a stopped run, put back at its path", &text);
    }
    if (err != 0 && err != ENOENT) {
        // Logged, as housekeeping: an application that stays aside fails its
        // own update, when that finds it missing, not the others'.
        StErrorContextInstaller housekeeping(true, true);
        VFolder where(folder);
        {
            StThrowError<VFileError> error(&where, PosixErrorFromErrno(err), VE_CANNOT_RENAME_FOLDER);
        }
        LogAndDrop(housekeeping);
    }
}

void VUpdateEngine::_PutBackAfterFailedExchange(const VFilePath& install, const VFilePath& staging)
{
    const VFilePath aside = ExchangeAsidePath(install);
    if (ItemKind(aside) == 0)
        return;
    // The exchange stopped half-way and could not undo itself: the old
    // bundle waits aside. Should the new one already stand at the path, it
    // goes back to its staging name first.
    if (ItemKind(install) != 0 && ItemKind(staging) == 0)
        RenameNoReplace(XMacFile::PosixPathText(install).c_str(), XMacFile::PosixPathText(staging).c_str());
    VFilePath folder(install);
    folder.ToParent();
    _RestoreSetAsideApplications(folder);
}

bool VUpdateEngine::_ClearLeftovers(const VFilePath& outdated, const VFilePath& upToDate, const VFilePath& install,
                                    VFilePath& outStaging)
{
    VFilePath folder(install);
    folder.ToParent();
    // Housekeeping: what cannot be removed only stays, it stops nothing.
    {
        StErrorContextInstaller housekeeping(true, true);
        _ClearTemporaryItems(folder, upToDate);
        LogAndDrop(housekeeping);
    }
    // A bundle an exchange set aside while the application stands at its
    // path is an old one, as is a staging folder (the old bundle when a run
    // stopped right after the exchange): like any bundle set aside they go to
    // the Trash under the old bundle's free name. Whatever else bears a
    // staging name goes too: a link is removed, never followed.
    StErrorContextInstaller clearing(true, true);
    for (const VFilePath& path : {ExchangeAsidePath(install), StagingPath(install, false), StagingPath(install, true)}) {
        if (ItemKind(path) != 0 && !upToDate.IsSameOrChildOf(path))
            _TrashLeftover(path, outdated);
    }
    // The new bundle is built under a staging name that is free: copied into,
    // a staging folder that stayed would mix two bundles. What kept the
    // leftovers in place matters only when no name is free; otherwise it is
    // logged, as housekeeping.
    for (bool second : {false, true}) {
        VFilePath path = StagingPath(install, second);
        if (ItemKind(path) == 0 && !upToDate.IsSameOrChildOf(path)) {
            outStaging = path;
            LogAndDrop(clearing);
            return true;
        }
    }
    return false;
}

bool VUpdateEngine::_LockInstallFolder(const VFilePath& folder)
{
    if (fFolderLock.IsLocked())
        return true;
    const std::string posix = XMacFile::PosixPathText(folder);
    VString shown;
    shown.FromCString(posix.c_str());
    const uint32_t start = _Now();
    bool waitLogged = false;
    for (;;) {
        int err = fFolderLock.TryLock(posix.c_str());
        // On a read-only file system neither this run nor another can
        // change the folder: there is nothing to take turns for, and the run
        // fails where it would change it, saying so.
        if (err == 0 || err == EROFS)
            return true;
        if (err != EWOULDBLOCK) {
            // The folder, or the item in the way at the lock's name.
            VFilePath item(folder);
            if (fFolderLock.FailedItem() != posix) {
                VString name;
                name.FromCString(StFolderLock::kLockFileName);
                VFilePath file(folder);
                file.ToSubFile(name);
                if (ItemKind(file) == S_IFDIR)
                    item.ToSubFolder(name);
                else
                    item = file;
            }
            if (item.IsFolder()) {
                VFolder where(item);
                StThrowError<VFileError> error(&where, PosixErrorFromErrno(err), VE_UPDATER_FOLDER_NOT_LOCKED);
            } else {
                VFile where(item);
                StThrowError<VFileError> error(&where, PosixErrorFromErrno(err), VE_UPDATER_FOLDER_NOT_LOCKED);
            }
            return false;
        }
        if (_Now() - start >= kWaitLimitMs) {
            LogError("Another update in '%S' still runs after maximum wait time. Giving up.", &shown);
            ThrowErrorWithPath(VE_UPDATER_UPDATE_IN_PROGRESS, folder);
            return false;
        }
        if (!waitLogged) {
            LogInfo("Waiting for another update in '%S' to end", &shown);
            waitLogged = true;
        }
        _Sleep(kWaitPollMs);
    }
}

void VUpdateEngine::_UnlockInstallFolder()
{
    fFolderLock.Unlock();
}

VFolder* VUpdateEngine::_SwapApplications(VFolder& outdated, VFolder& upToDate, VFolder& install)
{
    if (outdated.IsSameFolder(&upToDate) || upToDate.GetPath().IsChildOf(outdated.GetPath()) ||
        SameOrInsideOnDisk(outdated.GetPath(), upToDate.GetPath())) {
        ThrowErrorWithPath(VE_UPDATER_SAME_OR_NESTED_APPS, outdated.GetPath());
        return nullptr;
    }

    // The new bundle is built complete under a hidden sibling of the install
    // path, then trades places with the old one in one step: whenever the
    // updater is stopped, the old or the new application stands complete at
    // its path. What a stopped run left beside it goes first, under the
    // folder's lock, which every run holds while it changes the folder: here
    // up to the return, the old bundle set aside or put back.
    const VFilePath& installPath = install.GetPath();
    VFilePath parentPath(installPath);
    parentPath.ToParent();
    VFilePath stagingPath;
    VString stagingName;

    struct StUnlock {
        VUpdateEngine* engine;
        ~StUnlock() { engine->_UnlockInstallFolder(); }
    } unlock{this};
    VFolder* parent = install.RetainParentFolder();
    auto copyToStaging = [&] {
        stagingPath.GetFolderName(stagingName, true);
        return upToDate.CopyTo(*parent, stagingName, nullptr, FCP_Default) == VE_OK;
    };
    bool staged = false;
    bool installed = false;
    if (parent == nullptr || (!parent->Exists() && parent->CreateRecursive() != VE_OK)) {
        ThrowErrorWithPath(VE_UPDATER_INSTALL_PARENT_FAILED, parentPath);
    } else if (!_LockInstallFolder(parentPath)) {
        ReleaseRefCountable(&parent);
        return nullptr;
    } else if (!_ClearLeftovers(outdated.GetPath(), upToDate.GetPath(), installPath, stagingPath) ||
               !copyToStaging()) {
        ThrowCopyFailed(upToDate.GetPath(), installPath);
    } else if (!_IsRunnableCopy(stagingPath, upToDate.GetPath())) {
        staged = true;  // the copy is what would be installed: it goes, in the roll-back below
    } else {
        staged = true;
        // The whole copy is on the disk before it takes the application's
        // place, and the exchange itself before the old bundle moves on: a
        // machine that stops keeps one complete application at the path.
        if (FlushFolder(stagingPath, true) && ExchangeFolders(stagingPath, installPath)) {
            installed = FlushFolder(installPath, false);
            // Undone as a failed exchange; should even that fail, the old
            // bundle under the staging name is kept rather than deleted.
            if (!installed && !ExchangeFolders(stagingPath, installPath))
                staged = false;
        }
        if (!installed)
            ThrowCopyFailed(upToDate.GetPath(), installPath);
    }
    ReleaseRefCountable(&parent);
    if (!installed) {
        LogInfo("Rolling back up-to-date application install");
        // An exchange made of renames that stopped half-way leaves the old
        // bundle aside; it takes its path back before the copy goes.
        if (staged)
            _PutBackAfterFailedExchange(installPath, stagingPath);
        if (staged && ItemKind(installPath) != 0)
            VFolder(stagingPath).Delete(true);
        // A partial copy that the copy could not remove itself goes as well.
        _ClearTemporaryItems(parentPath, upToDate.GetPath());
        return nullptr;
    }

    // The old bundle now bears the staging name; it takes its free name.
    VFilePath freePath;
    VString suffix("old");
    _ComputeTempFolderPath(outdated.GetPath(), freePath, &suffix);
    VString freeName;
    freePath.GetFolderName(freeName, true);

    VFolder old(stagingPath);
    VFolder* setAside = nullptr;
    {
        // The failures of attempts that a later attempt makes good are dropped.
        StErrorContextInstaller ladder(true, true);
        for (int attempt = 1; attempt <= kRenameAttempts; ++attempt) {
            if (old.Rename(freeName, &setAside) == VE_OK)
                break;
            if (attempt < kRenameAttempts) {
                ThrowErrorWithPaths(VE_UPDATER_RENAME_FAILED, outdated.GetPath(), freePath);
                _Sleep(kRenameRetryMs);
            }
        }
        if (setAside != nullptr)
            ladder.Flush();
    }
    if (setAside != nullptr && !FlushFolder(installPath, false)) {
        // Not known to be kept: the old bundle takes the staging name back,
        // from where the roll-back below puts it at its path. Should that
        // rename fail, the new application stays installed and the old one
        // aside, and the errors say so.
        ThrowErrorWithPaths(VE_UPDATER_RENAME_FAILED, outdated.GetPath(), freePath);
        VError back = setAside->Rename(stagingName, nullptr);
        ReleaseRefCountable(&setAside);
        if (back != VE_OK)
            return nullptr;
    }
    if (setAside == nullptr) {
        // The old bundle could not be set aside: it takes its place back and
        // the new copy goes, so that nothing has changed. An exchange made of
        // renames that stopped half-way puts back whatever it set aside, so
        // that an application stands at the path.
        if (ExchangeFolders(stagingPath, installPath))
            VFolder(stagingPath).Delete(true);
        else
            _RestoreSetAsideApplications(parentPath);
        return nullptr;
    }
    return setAside;
}

void VUpdateEngine::_BuildRestartCommand(const VFilePath& application, VString& text,
                                         std::vector<VString>& arguments) const
{
    VString applicationPath;
    application.GetPosixPath(applicationPath);
    text = "open -a \"";
    text.AppendString(applicationPath).AppendUniChar(u'"');
    arguments = {VString("open"), VString("-a"), applicationPath};

    VString paramsText;
    fRestartParams.GetPath(paramsText);
    if (!paramsText.IsNull() && !paramsText.IsEmpty()) {
        VString paramsPath;
        fRestartParams.GetPosixPath(paramsPath);
        text.AppendCString(" --args \"").AppendString(paramsPath).AppendUniChar(u'"');
        arguments.push_back(VString("--args"));
        arguments.push_back(paramsPath);
        if (fRestartHeadless) {
            text.AppendCString(" --headless");
            arguments.push_back(VString("--headless"));
        }
    } else if (fRestartHeadless) {
        text.AppendCString(" --args --headless");
        arguments.push_back(VString("--args"));
        arguments.push_back(VString("--headless"));
    }
}

bool VUpdateEngine::_LaunchApplication(const VFilePath& application)
{
    VString text;
    std::vector<VString> arguments;
    _BuildRestartCommand(application, text, arguments);
    LogInfo("Restarting installed application (%S)...", &text);

    // The command is run from its list: a path holding a quote stays one
    // argument, where splitting the text again would cut it apart.
    VMemoryBuffer<> out, err;
    int32_t status = 0;
    int result = VProcessLauncher::ExecuteCommandLine(arguments, 0, nullptr, &out, &err, nullptr, nullptr, &status,
                                                      nullptr, true, false);
    // A command that ran but exited non-zero did not start the application.
    if (result != 0 || status != 0) {
        LogError("Failed to restart updated application (returned error %d - exit status %d)", result, status);
        ThrowErrorWithPath(VE_UPDATER_RESTART_FAILED, application);
        return false;
    }
    LogInfo("Updated application restarted, returned %d", status);
    return true;
}

// --- file helpers without caller in the update ---

VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32_t options)
{
    VFilePath folderPath(destination);
    folderPath.ToFolder();
    VFolder folder(folderPath);
    if (!folder.Exists()) {
        VError error = folder.CreateRecursive();
        if (error != VE_OK)
            return ThrowErrorWithPath(error, folderPath);
    }
    VFile file(source);
    if (file.CopyTo(destination, nullptr, options) != VE_OK)
        return ThrowErrorWithPaths(VE_UPDATER_COPY_FILE_FAILED, source, destination);
    return VE_OK;
}

bool RobustCopyFolderContent(const VFolder& source, const VFolder& destination, uint32_t options)
{
    if (!source.Exists()) {
        ThrowErrorWithPath(VE_FOLDER_NOT_FOUND, source.GetPath());
        return false;
    }
    if (!destination.Exists()) {
        VError error = destination.CreateRecursive();
        if (error != VE_OK) {
            ThrowErrorWithPath(error, destination.GetPath());
            return false;
        }
    }
    VError error = source.CopyContentsTo(destination, options);
    if (error != VE_OK) {
        ThrowErrorWithPath(error, destination.GetPath());
        return false;
    }
    return true;
}

bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32_t options)
{
    VFolder sourceFolder(source);
    VFolder destinationFolder(destination);
    return RobustCopyFolderContent(sourceFolder, destinationFolder, options);
}

VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& outPath)
{
    outPath.Clear();
    std::vector<VRefPtr<VFile>> files;
    folder.GetContents(&files, nullptr);
    for (const VRefPtr<VFile>& file : files) {
        VString fileExtension;
        file->GetPath().GetExtension(fileExtension);
        if (fileExtension.EqualToString(extension, false)) {
            outPath = file->GetPath();
            return VE_OK;
        }
    }
    return MakeBKitError(600);
}

VError FindFileByExt(const VFilePath& folderPath, const VString& extension, VFilePath& outPath)
{
    if (!folderPath.IsValid() || !folderPath.IsFolder())
        return VE_INVALID_PARAMETER;
    VFolder folder(folderPath);
    return FindFileByExt(folder, extension, outPath);
}
