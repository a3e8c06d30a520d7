// VUpdateEngine.h - the updater's process class: command line, the road of one update, log and notice.
//
// This file defines VUpdateEngine, the updater's application. A running
// application that has a newer copy of itself starts the updater with its
// process id and the paths of its outdated and its up-to-date bundle, then
// quits. The updater checks that the up-to-date bundle is an application it
// can restart, waits for the caller to go, clears what a stopped run left
// beside the outdated bundle, copies the up-to-date bundle there under a
// hidden name, exchanges the two in one step and sets the old bundle aside
// under a free name (rolling back, and removing what it made, when a step
// fails), restarts the installed application, moves the old bundle to the
// Trash and reports the outcome in its log file and, on failure, in a notice.
// It also holds the updater's logging functions and error raisers.
//
// Whenever the updater is stopped, even by SIGKILL, a complete application
// (the old or the new) stands at the install path; on a file system without
// an atomic exchange it may stand beside it under its aside name, from where
// the next run in the folder puts it back first. One run at a time changes
// the application's folder: each holds the folder's lock while it does, never
// while it waits for its caller, and what it finds left there is judged by
// that lock, never by process ids. An old application is only ever moved to the Trash, except
// the one this run set aside, which is deleted when the Trash refuses it.
// Everything runs
// synchronously on the main task; a quit signal does not stop an update in
// progress (it only ends the wait of the failure notice), and a standard
// stream whose reader has gone (SIGPIPE is ignored) only costs the line
// written to it. Errors carry the component signature 'UPQN'.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "basekit/files/VFilePath.h"
#include "basekit/platform/FolderLock.h"
#include "basekit/process/VProcessIPC.h"
#include "basekit/runtime/ILogger.h"

namespace bkit {
class VCommandLineParser;
class VErrorBase;
class VErrorContext;
class VFolder;
class VJSONObject;
class VLocalizationManager;
class VLog4jMsgFileLogger;
}  // namespace bkit

constexpr bkit::OsType kUpdaterSignature = bkit::MakeOsType("UPQN");

constexpr bkit::VError MakeUpdaterError(int32_t number)
{
    return bkit::MakeVError(kUpdaterSignature, number);
}

// The updater's errors.
constexpr bkit::VError VE_UPDATER_WAIT_FAILED = MakeUpdaterError(1);
constexpr bkit::VError VE_UPDATER_UPTODATE_APP_MISSING = MakeUpdaterError(2);
constexpr bkit::VError VE_UPDATER_OUTDATED_APP_MISSING = MakeUpdaterError(3);
constexpr bkit::VError VE_UPDATER_COPY_FILE_FAILED = MakeUpdaterError(8);
constexpr bkit::VError VE_UPDATER_RENAME_FAILED = MakeUpdaterError(11);
constexpr bkit::VError VE_UPDATER_INSTALL_PARENT_FAILED = MakeUpdaterError(12);
constexpr bkit::VError VE_UPDATER_COPY_FAILED = MakeUpdaterError(13);
constexpr bkit::VError VE_UPDATER_SAME_OR_NESTED_APPS = MakeUpdaterError(14);
// Another run still held the lock of the application's folder after the
// wait limit ("path": the folder).
constexpr bkit::VError VE_UPDATER_UPDATE_IN_PROGRESS = MakeUpdaterError(15);
// The lock of the application's folder cannot be taken ("path": the folder;
// the native error beneath).
constexpr bkit::VError VE_UPDATER_FOLDER_NOT_LOCKED = MakeUpdaterError(16);
constexpr bkit::VError VE_UPDATER_CLIENT_INFO_UNUSABLE = MakeUpdaterError(41);
constexpr bkit::VError VE_UPDATER_INSTALL_FAILED = MakeUpdaterError(100);
constexpr bkit::VError VE_UPDATER_LOG_FAILED = MakeUpdaterError(101);
constexpr bkit::VError VE_UPDATER_RESTART_FAILED = MakeUpdaterError(120);
// The Trash refused the old bundle, which was deleted instead ("path": the
// bundle; the Trash's error beneath).
constexpr bkit::VError VE_UPDATER_OLD_APP_DELETED = MakeUpdaterError(121);

class VUpdateEngine : public bkit::VProcessIPC {
public:
    // Wait limits of the caller's process and of the rename ladder.
    static constexpr int kWaitPollMs = 500;
    static constexpr uint32_t kWaitLimitMs = 60000;
    static constexpr int kWaitAfterQuitMs = 1000;
    static constexpr int kRenameAttempts = 5;
    static constexpr int kRenameRetryMs = 3000;

    VUpdateEngine();
    ~VUpdateEngine() override;

    // The frame's start-up (command line included), then the localization.
    bool Init(uint32_t flags) override;
    // Declares the updater's options, parses and checks the bundle paths:
    // 0 go on, 1 rejected (message on standard error), 2 help or version shown.
    int32_t DoParseCommandLine(bkit::VCommandLineParser& parser) override;
    // The whole update; its errors are left on the main task.
    void DoRun() override;
    // Flushes the process logger and stops the log file (_DeInitLog).
    void DoQuit() override;
    // Asks the main task to end, as the frame does, and ends the wait of the
    // failure notice as its default answer "No" would: an update in progress
    // goes on, and by the time a notice waits the update is over.
    void QuitAsynchronously(const bkit::VString* text = nullptr) override;
    // Flushes the process logger, then stops and deletes the log-file writer;
    // a log file that lines could not reach is said on standard error (the
    // run's outcome stays as it is), unless the failure notice said it.
    void _DeInitLog();

    // Makes the updater's localizer for the bundle: the process's localizer,
    // the type registry's and the error texts' of 'bkit', 'xmlc', 'PW32' and
    // 'UPQN'. True.
    bool _InitLocalizationManager();

    // --- the road of one update (updater/VUpdateEngine.cpp) ---

    // Checks the bundles, customizes a client, answers the caller, waits for
    // it, swaps the bundles, restarts the application and trashes the old one.
    void _ApplyUpdate();
    // Starts the log file in the --log-dir folder; false without one or when
    // it cannot start (its error pushed, with the native reason beneath).
    bool _InitLog();
    // The run's failure as FailureText tells it, the log file's line (or,
    // when lines could not be written to it, that sentence), buttons No and
    // Yes; Yes opens a log file that was written.
    void _ShowFailureNotice(bkit::VErrorContext* context);
    // The POSIX path of the log file being written; empty while none is.
    bkit::VString _LogFilePosixPath() const;

    // --- client customization (updater/VUpdateEngineClient.cpp) ---

    // Reads the client-customization file, writes the link file and makes the
    // bundle's executable executable; true when no error arose.
    bool _FinishClientCustomization();
    bool _SetIPAdressOnClientPref(const bkit::VJSONObject& info, const bkit::VFilePath& bundle);
    bool _FinishMacClientCustomization();
    // The POSIX path of the file that the restart runs for the bundle:
    // Contents/MacOS/<the name its Info.plist gives>, links resolved, so
    // never a link. False unless the name is a plain file name and the path
    // leads to a regular file inside the bundle (whether it may be run is
    // not asked).
    static bool _GetBundleExecutable(const bkit::VFilePath& bundle, std::string& executable);
    // True when the bundle is an application the restart can start once it
    // is copied: a folder whose Info.plist is, after its links, a regular
    // file inside the bundle that names, by a plain file name, an executable
    // in Contents/MacOS that is, after its links, a regular file inside the
    // bundle with one execute bit at least, or which madeExecutable (the
    // client customization will add the execute bits) lets lack them.
    // Otherwise the reason, with the path, is logged.
    static bool _IsApplicationBundle(const bkit::VFilePath& bundle, bool madeExecutable);
    // The same, with madeExecutable true when this run customizes a client.
    bool _IsApplicationBundle(const bkit::VFilePath& bundle) const;
    // True when this process may run the executable of copy, the up-to-date
    // bundle copied where it is installed from, judged as _IsApplicationBundle
    // judges the up-to-date bundle but on the copy's own permissions, owner
    // and volume, as the restart will find them. Otherwise the reason is
    // logged and 'UPQN' 2 pushed with the path of upToDate.
    static bool _IsRunnableCopy(const bkit::VFilePath& copy, const bkit::VFilePath& upToDate);

    // --- the steps that act on the system (updater/VUpdateEngineSwap.cpp) ---

    // True when the caller's process is gone or no wait was asked; false
    // ('UPQN' 1 pushed) when it is still there after the time limit.
    bool _WaitForPidToQuit();
    // Fills outPath with the first free sibling of folderPath named
    // "<name>_<suffix>%04d.<ext>" (or "<name>%04d.<ext>" without suffix),
    // n from 1; at 9999 that candidate is given even when taken. True when
    // the path given does not exist.
    bool _ComputeTempFolderPath(const bkit::VFilePath& folderPath, bkit::VFilePath& outPath,
                                const bkit::VString* suffix) const;
    // Copies upToDate beside install under a hidden name, makes sure that
    // copy would start (_IsRunnableCopy), exchanges it with
    // the bundle at install, then renames the old bundle to the free name of
    // outdated (five attempts, 3 s apart). Any failure puts the old bundle
    // back at its path and removes the copy. Two paths that name one folder,
    // or a bundle inside the other, once links are followed, are refused
    // ('UPQN' 14). Holds the lock of install's folder from before its first
    // change there to its return (waiting for a run that holds it, see
    // _LockInstallFolder). A new reference to the set-aside bundle, or null.
    bkit::VFolder* _SwapApplications(bkit::VFolder& outdated, bkit::VFolder& upToDate, bkit::VFolder& install);
    // Takes the lock of the folder that holds the application, which every
    // run holds while it changes that folder (putting back what a stopped
    // run set aside, then clearing leftovers, staging, the exchange and
    // setting the old bundle aside), never while it waits for its caller:
    // one run at a time changes the folder, and whatever another left there
    // is known to be a leftover. Only a user who may change the folder can
    // hold it (see StFolderLock). A run that holds it is waited for, polling
    // as the caller's wait does, up to the same limit ('UPQN' 15 then); any
    // other failure is 'UPQN' 16 naming the folder, or the item in the way at
    // the lock's name. The lock is kept until _UnlockInstallFolder or the
    // engine's end; asking again while it is held does nothing. False with
    // the error pushed.
    bool _LockInstallFolder(const bkit::VFilePath& folder);
    void _UnlockInstallFolder();
    // Puts back at its path every application of folder that an exchange
    // made of renames left aside when its run stopped half-way (see
    // ExchangeItems), each logged; a failure is logged, never pushed.
    void _RestoreSetAsideApplications(const bkit::VFilePath& folder);
    // After a failed exchange: when the old bundle was left aside, it takes
    // install back (the new bundle, if it stands there, returning to staging).
    void _PutBackAfterFailedExchange(const bkit::VFilePath& install, const bkit::VFilePath& staging);
    // Clears, under the folder's lock, what stopped runs left beside install:
    // the folder copy's temporary items are deleted; a bundle an exchange set
    // aside while the application stands at its path, and whatever bears a
    // staging name (the old bundle when a run stopped right after its
    // exchange), go to the Trash (a link is only removed). The up-to-date
    // bundle is never touched. outStaging receives the free staging name the
    // new bundle is copied to; false when none is free (the errors of
    // clearing them pushed).
    bool _ClearLeftovers(const bkit::VFilePath& outdated, const bkit::VFilePath& upToDate,
                         const bkit::VFilePath& install, bkit::VFilePath& outStaging);
    // Deletes the folder copy's temporary items in folder, which the lock
    // holder knows to be leftovers; never one that is or holds upToDate.
    static void _ClearTemporaryItems(const bkit::VFilePath& folder, const bkit::VFilePath& upToDate);
    // Moves a leftover at path to the Trash under outdated's free name; it
    // keeps its own name when it cannot go, and is never deleted. A symbolic
    // link is removed instead (never followed). False with the error pushed
    // when it stays.
    bool _TrashLeftover(const bkit::VFilePath& path, const bkit::VFilePath& outdated);
    // Moves a bundle set aside to the Trash, deleting it when the Trash fails;
    // the Trash's error stays pushed, and once the bundle is deleted 'UPQN'
    // 121 above it says so.
    static void _TrashBundle(const bkit::VFolder& bundle);
    // Runs the restart command of the installed application; true when it ran
    // and exited with status 0 (else 'UPQN' 120 pushed).
    bool _LaunchApplication(const bkit::VFilePath& application);
    // The restart command's text (as logged) and its arguments (as run): each
    // path is one argument, whatever characters it holds.
    void _BuildRestartCommand(const bkit::VFilePath& application, bkit::VString& text,
                              std::vector<bkit::VString>& arguments) const;

    // --- test seams of the waits ---
    // Replace VTask::Sleep and the millisecond clock in the waits of the
    // update (null puts each back).
    using SleepFunction = void (*)(int ms);
    using ClockFunction = uint32_t (*)();
    static void SetWaitsForTesting(SleepFunction sleep, ClockFunction clock);

    // --- what the command line set ---
    const bkit::VFilePath& GetLogFolder() const { return fLogFolder; }
    const bkit::VFilePath& GetClientInfoFile() const { return fClientInfoFile; }
    const bkit::VFilePath& GetOutdatedApp() const { return fOutdatedApp; }
    const bkit::VFilePath& GetUpToDateApp() const { return fUpToDateApp; }
    const bkit::VFilePath& GetInstallApp() const { return fInstallApp; }
    const bkit::VFilePath& GetRestartParams() const { return fRestartParams; }
    int32_t GetCallerPid() const { return fCallerPid; }
    bool GetLogProgressToCaller() const { return fLogProgressToCaller; }
    bool GetSilent() const { return fSilent; }
    bool GetRestartHeadless() const { return fRestartHeadless; }
    void SetCallerPid(int32_t pid) { fCallerPid = pid; }
    void SetRestartParams(const bkit::VFilePath& path) { fRestartParams = path; }
    void SetRestartHeadless(bool on) { fRestartHeadless = on; }

protected:
    static void _Sleep(int ms);
    static uint32_t _Now();

private:
    bkit::VFilePath fLogFolder;
    bkit::VFilePath fClientInfoFile;
    bkit::VFilePath fOutdatedApp;
    bkit::VFilePath fUpToDateApp;
    bkit::VFilePath fInstallApp;
    bkit::VLog4jMsgFileLogger* fLogFile = nullptr;
    bool fLogWriteFailureShown = false;  // by the failure notice
    bkit::VLocalizationManager* fLocalizationManager = nullptr;
    int32_t fCallerPid = -1;
    bool fLogProgressToCaller = false;
    bool fSilent = false;
    bkit::VFilePath fRestartParams;
    bool fRestartHeadless = false;
    bkit::StFolderLock fFolderLock;  // the lock of the application's folder, while the run changes it

    static SleepFunction sSleep;
    static ClockFunction sClock;
};

// --- logging (levels 4, 6 and 3), each entry signed 'UPQN' ---
void LogInfo(const char* format, ...);
void LogError(const char* format, ...);
void LogDebug(const char* format, ...);
void Log(bkit::EMessageLevel level, const char* format, va_list args);

// Logs every error of the context with LogError, newest first when asked, in
// the words of TellErrors (updater/VUpdateEngineErrorText.h): POSIX paths, a
// sentence for a code without a text, a native reason within the line of the
// error it lies beneath.
void DumpErrorStack(bkit::VErrorContext* context, bool newestFirst);
// Logs one error record in the words of ErrorTextForUser, without a reason.
void _LogError(bkit::VRefPtr<bkit::VErrorBase> error);
// Shows a notice titled "Debug" with message, without waiting.
void DisplayMessage(const char* message);

// Each pushes a record of code with its path parameters and returns code;
// code 0 does nothing.
bkit::VError ThrowErrorWithPath(bkit::VError code, const bkit::VFilePath& path);
bkit::VError ThrowErrorWithPaths(bkit::VError code, const bkit::VFilePath& src, const bkit::VFilePath& dst);
bkit::VError ThrowServiceError(bkit::VError code, const bkit::VString& name);
