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
// (the old or the new) stands at the install path. Everything runs
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
constexpr bkit::VError VE_UPDATER_CLIENT_INFO_UNUSABLE = MakeUpdaterError(41);
constexpr bkit::VError VE_UPDATER_INSTALL_FAILED = MakeUpdaterError(100);
constexpr bkit::VError VE_UPDATER_LOG_FAILED = MakeUpdaterError(101);
constexpr bkit::VError VE_UPDATER_RESTART_FAILED = MakeUpdaterError(120);

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
    // Flushes the process logger, then stops and deletes the log-file writer.
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
    // it cannot start (its error pushed).
    bool _InitLog();
    // The newest error's text as TellErrors tells it, the log file's line,
    // buttons No and Yes; Yes opens the log file.
    void _ShowFailureNotice(bkit::VErrorContext* context);

    // --- client customization (updater/VUpdateEngineClient.cpp) ---

    // Reads the client-customization file, writes the link file and makes the
    // bundle's executable executable; true when no error arose.
    bool _FinishClientCustomization();
    bool _SetIPAdressOnClientPref(const bkit::VJSONObject& info, const bkit::VFilePath& bundle);
    bool _FinishMacClientCustomization();
    // The POSIX path of the executable that the bundle's Contents/Info.plist
    // names below Contents/MacOS; false when the list or the name is missing.
    static bool _GetBundleExecutable(const bkit::VFilePath& bundle, std::string& executable);
    // True when the bundle is an application the restart can start: a folder
    // whose Info.plist names an executable that is a file in Contents/MacOS.
    static bool _IsApplicationBundle(const bkit::VFilePath& bundle);

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
    // Copies upToDate beside install under a hidden name, exchanges it with
    // the bundle at install, then renames the old bundle to the free name of
    // outdated (five attempts, 3 s apart). Any failure puts the old bundle
    // back at its path and removes the copy. A new reference to the set-aside
    // bundle, or null.
    bkit::VFolder* _SwapApplications(bkit::VFolder& outdated, bkit::VFolder& upToDate, bkit::VFolder& install);
    // Clears what a stopped run left beside install: the folder copy's
    // temporary items of processes that are gone are deleted, a staging
    // folder (which may hold the old bundle) goes to the Trash under the old
    // bundle's free name. The up-to-date bundle is never touched. False when
    // something still stands at staging, the name the new bundle is copied to
    // (the errors of clearing it pushed).
    bool _ClearLeftovers(const bkit::VFilePath& outdated, const bkit::VFilePath& upToDate,
                         const bkit::VFilePath& install, const bkit::VFilePath& staging);
    // Deletes the folder copy's temporary items in folder whose process is
    // gone, and with ownToo those of this process (whose copies have ended);
    // never one that is or holds upToDate.
    static void _ClearTemporaryItems(const bkit::VFilePath& folder, const bkit::VFilePath& upToDate, bool ownToo);
    // Moves a bundle set aside to the Trash, deleting it when the Trash fails;
    // the Trash's error stays pushed.
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
    bkit::VLocalizationManager* fLocalizationManager = nullptr;
    int32_t fCallerPid = -1;
    bool fLogProgressToCaller = false;
    bool fSilent = false;
    bkit::VFilePath fRestartParams;
    bool fRestartHeadless = false;

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
