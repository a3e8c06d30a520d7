// VUpdateEngine.cpp - start-up, the run of one update, its log, its failure notice, logging and error raisers.
#include "updater/VUpdateEngine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/platform/DefaultApplication.h"
#include "basekit/platform/PosixError.h"
#include "basekit/platform/SystemNotice.h"
#include "basekit/runtime/VComponentManager.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VLog4jMsgFileLogger.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/ControlEscapes.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/values/VTime.h"
#include "basekit/xml/VLocalizationManager.h"
#include "basekit/xml/VUTIManager.h"
#include "updater/VUpdateEngineErrorText.h"

using namespace bkit;

VUpdateEngine::VUpdateEngine() = default;

namespace {

const OsType kLocalizedSignatures[] = {kBKIT_SIGNATURE, MakeOsType("xmlc"), MakeOsType("PW32"), kUpdaterSignature};

}  // namespace

VUpdateEngine::~VUpdateEngine()
{
    _UnlockInstallFolder();
    if (fLocalizationManager != nullptr) {
        // The registries hold plain pointers: they let go before the manager does.
        for (OsType signature : kLocalizedSignatures) {
            if (VErrorBase::GetLocalizer(signature) == fLocalizationManager)
                VErrorBase::UnregisterLocalizer(signature);
        }
        VUTIManager::GetUTIManager()->SetLocalizationManager(nullptr);
        if (GetLocalizer() == fLocalizationManager)
            SetLocalizer(nullptr);
        ReleaseRefCountable(&fLocalizationManager);
    }
    _DeInitLog();
}

bool VUpdateEngine::Init(uint32_t flags)
{
    bool ok = VProcessIPC::Init(flags);
    if (ok)
        _InitLocalizationManager();
    return ok;
}

bool VUpdateEngine::_InitLocalizationManager()
{
    if (fLocalizationManager != nullptr)
        return true;
    VFolder* bundle = RetainFolder(kProcessFolderBundle);
    uint32_t dialect = VComponentManager::GetLocalizationLanguage(bundle, true, 0);
    fLocalizationManager = new VLocalizationManager(dialect);
    if (bundle != nullptr)
        fLocalizationManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle);
    SetLocalizer(fLocalizationManager);
    VUTIManager::GetUTIManager()->SetLocalizationManager(fLocalizationManager);
    for (OsType signature : kLocalizedSignatures)
        VErrorBase::RegisterLocalizer(signature, fLocalizationManager);
    ReleaseRefCountable(&bundle);
    return true;
}

void VUpdateEngine::DoQuit()
{
    _DeInitLog();
}

void VUpdateEngine::QuitAsynchronously(const VString* text)
{
    VProcessIPC::QuitAsynchronously(text);
    // Nobody may be left to answer (a shutdown, a service manager).
    platform::SetNoticeWaitsEnded(true);
}

void VUpdateEngine::_DeInitLog()
{
    if (ILogger* logger = GetLogger())
        logger->Flush();
    if (fLogFile != nullptr) {
        // Stopped, the writer names no file.
        VString path = _LogFilePosixPath();
        fLogFile->Stop();
        // A run that succeeded but kept no log (a full disk) must not pass
        // for one that did; the update itself stands, and so does its code.
        int err = fLogFile->GetWriteError();
        if (err != 0 && !fLogWriteFailureShown && !path.IsEmpty()) {
            std::string line = to_string(LogNotWrittenText(path, err)) + "\n";
            // By descriptor: a run that answered its caller closed the stream.
            ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
            (void)ignored;
        }
        delete fLogFile;
        fLogFile = nullptr;
    }
}

VString VUpdateEngine::_LogFilePosixPath() const
{
    VString posix;
    if (fLogFile == nullptr || !fLogFile->IsStarted())
        return posix;
    // The file this run wrote: number 1 may be an earlier run's, or full.
    VFilePath path;
    fLogFile->GetLogFolderPath(path);
    VString name;
    fLogFile->GetCurrentLogFileName(name);
    path.ToSubFile(name);
    path.GetPosixPath(posix);
    return posix;
}

namespace {

void NowTexts(VString& date, VString& time)
{
    VTime now;
    VTime::Now(now);
    now.FormatByOS(date, time, false);
}

}  // namespace

void VUpdateEngine::DoRun()
{
    StErrorContextInstaller context(true, true);

    bool logStarted = _InitLog();
    if (!logStarted && context.GetLastError() != VE_OK)
        fSilent = false;  // a log that cannot start always leads to a notice

    VString date, time;
    NowTexts(date, time);
    LogInfo("Updater starting - %S - %S", &date, &time);

    if (context.GetLastError() == VE_OK)
        _ApplyUpdate();

    DumpErrorStack(context.GetContext(), true);

    NowTexts(date, time);
    if (context.GetLastError() != VE_OK) {
        LogInfo("Update failed - %S - %S", &date, &time);
        if (!fSilent)
            _ShowFailureNotice(context.GetContext());
    } else {
        LogInfo("Update successful - %S - %S", &date, &time);
    }
    // The process logger logs the errors again as they leave the run: in the
    // words this run used.
    KeepErrorTexts(context.GetContext());
}

void VUpdateEngine::_ApplyUpdate()
{
    StErrorContextInstaller context(true, true);

    // One run at a time changes an application's folder, each holding its
    // lock only while it does: a run waiting for its caller below holds up
    // no other. A run stopped half-way through an exchange made of renames
    // left the application aside; whatever this run was started for, it goes
    // back to its path before anything is checked.
    VFilePath folderPath(fInstallApp);
    if (fInstallApp.IsValid() && folderPath.ToParent().IsValid() && VFolder(folderPath).Exists()) {
        if (!_LockInstallFolder(folderPath))
            return;
        _RestoreSetAsideApplications(folderPath);
        _UnlockInstallFolder();
    }

    VFolder outdated(fOutdatedApp);
    VFolder upToDate(fUpToDateApp);
    if (!outdated.Exists())
        ThrowErrorWithPath(VE_UPDATER_OUTDATED_APP_MISSING, fOutdatedApp);
    // A folder that is no application would be swapped in, and only its
    // restart would fail, with the working application set aside.
    if (!_IsApplicationBundle(fUpToDateApp))
        ThrowErrorWithPath(VE_UPDATER_UPTODATE_APP_MISSING, fUpToDateApp);
    if (context.GetLastError() != VE_OK)
        return;

    if (fClientInfoFile.IsValid() && fClientInfoFile.IsFile()) {
        if (!_FinishClientCustomization())
            return;
    }

    if (fLogProgressToCaller) {
        errno = 0;
        bool written = fprintf(stdout, "%s,%d\n", "waitquit", -1) >= 0;
        written = fflush(stdout) == 0 && written;
        // A caller that no longer reads loses the line; the update goes on.
        if (!written)
            LogError("Progress line to the caller not written (%s)", strerror(errno != 0 ? errno : EIO));
        fclose(stdin);
        fclose(stdout);
        fclose(stderr);
        // The descriptors stay taken (by /dev/null): a file opened later, a
        // copied one among them, must never become standard output, where
        // the quit-signal handler writes its line.
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                dup2(null, fd);
                close(null);
            }
        }
        fLogProgressToCaller = false;
    }

    LogInfo("Waiting for external process to quit");
    _WaitForPidToQuit();
    if (context.GetLastError() != VE_OK) {
        LogError("External process wait failed");
        _ThrowError(VE_UPDATER_WAIT_FAILED);
        return;
    }

    LogInfo("Proceeding with up-to-date application install...");
    VFolder install(fInstallApp);
    // The swap takes the lock again and lets it go once the old bundle is
    // set aside: the restart and the Trash move of the old bundle change
    // nothing another run looks at (the bundle set aside bears a free name
    // no run takes for a leftover).
    VFolder* setAside = _SwapApplications(outdated, upToDate, install);
    if (context.GetLastError() != VE_OK) {
        LogError("Up-to-date application install failed");
        ThrowErrorWithPath(VE_UPDATER_INSTALL_FAILED, fInstallApp);
        ReleaseRefCountable(&setAside);
        return;
    }

    LogInfo("Proceeding with up-to-date application restart...");
    _LaunchApplication(fInstallApp);
    if (context.GetLastError() != VE_OK) {
        LogError("Up-to-date application restart failed");
    } else {
        LogInfo("Up-to-date application restarted");
        if (setAside != nullptr)
            _TrashBundle(*setAside);
    }
    ReleaseRefCountable(&setAside);
}

bool VUpdateEngine::_InitLog()
{
    if (!fLogFolder.IsValid() || !fLogFolder.IsFolder())
        return false;
    VFolder* folder = new VFolder(fLogFolder);
    if (!folder->Exists() && folder->CreateRecursive() != VE_OK) {
        folder->Release();
        return false;
    }
    int16_t year, month, day, hour, minute, second, millisecond;
    VTime now;
    VTime::Now(now);
    now.GetLocalTime(year, month, day, hour, minute, second, millisecond);
    char name[64];
    snprintf(name, sizeof(name), "%04d-%02d-%02d_%02d-%02d-%02d_log", year, month, day, hour, minute, second);
    fLogFile = new VLog4jMsgFileLogger(folder, VString(name));
    folder->Release();
    fLogFile->Start();
    if (!fLogFile->IsStarted()) {
        // Why no file could be made there (a read-only disk, a folder of
        // another user) is what the user needs to mend it.
        StThrowError<> error(VE_UPDATER_LOG_FAILED, PosixErrorFromErrno(fLogFile->GetStartError()));
        VString path;
        fLogFolder.GetPath(path);
        error->SetString(VString("path"), path);
    }
    return fLogFile->IsStarted();
}

void VUpdateEngine::_ShowFailureNotice(VErrorContext* context)
{
    VString message = FailureText(context);

    std::string logPath;
    // A writer that could not start has no file to point at.
    if (fLogFile != nullptr && fLogFile->IsStarted()) {
        if (ILogger* logger = GetLogger())
            logger->Flush();
        VString posix = _LogFilePosixPath();
        if (int err = fLogFile->GetWriteError()) {
            // Pointing at a file without the run's lines would send the user
            // to an empty log.
            VString line = LogNotWrittenText(posix, err);
            message.AppendPrintf("\r\n%S", &line);
            fLogWriteFailureShown = true;
        } else {
            logPath = to_string(posix);
            VString line = LocalizeString(VString("MoreInformationsAvailableInLogFile"),
                                          VString("More information is available in the log file '{LogFilePath}'"));
            if (!line.IsNull() && !line.IsEmpty()) {
                VValueBag* values = new VValueBag;
                values->SetString("LogFilePath", EscapeControls(posix));
                line.Format(values, true);
                values->Release();
                message.AppendPrintf("\r\n%S", &line);
            }
        }
    }

    ENotificationResponse answer = eNotificationResponseNone;
    VSystem::DisplayNotification(VString(), message, kNotificationYesNo, &answer);
    if (answer == eNotificationResponseYes && !logPath.empty())
        platform::OpenWithDefaultApplication(logPath.c_str());
}

// --- logging ---

void Log(EMessageLevel level, const char* format, va_list args)
{
    VString message;
    message.VPrintf(format, args);
    VProcess* process = VProcess::sInstance;
    ILogger* logger = process != nullptr ? process->GetLogger() : nullptr;
    if (logger == nullptr)
        return;
    VValueBag* bag = new VValueBag;
    ILoggerBagKeys::message.Set(bag, message);
    // An entry without a level is an entry of the key's default level.
    if (static_cast<int32_t>(level) != ILoggerBagKeys::level.GetDefault())
        ILoggerBagKeys::level.Set(bag, static_cast<int32_t>(level));
    ILoggerBagKeys::component_signature.Set(bag, kUpdaterSignature);
    logger->LogBag(bag);
    bag->Release();
}

void LogInfo(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Log(EML_Information, format, args);
    va_end(args);
}

void LogError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Log(EML_Error, format, args);
    va_end(args);
}

void LogDebug(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Log(EML_Debug, format, args);
    va_end(args);
}

void _LogError(VRefPtr<VErrorBase> error)
{
    if (!error)
        return;
    VString text = ErrorTextForUser(*error);
    LogError("%S", &text);
}

void DisplayMessage(const char* message)
{
    VString text;
    text.FromCString(message != nullptr ? message : "");
    VSystem::DisplayNotification(VString("Debug"), text, 0, nullptr);
}

void DumpErrorStack(VErrorContext* context, bool newestFirst)
{
    if (context == nullptr || context->IsEmpty())
        return;
    std::vector<ToldError> told = TellErrors(context);
    for (size_t i = 0; i < told.size(); ++i) {
        const ToldError& one = told[newestFirst ? told.size() - 1 - i : i];
        // A reason is told within the line of the error above it.
        if (!one.isReason)
            LogError("%S", &one.text);
    }
}

// --- error raisers ---

namespace {

VString PathText(const VFilePath& path)
{
    VString text;
    path.GetPath(text);
    return text;
}

}  // namespace

VError ThrowErrorWithPath(VError code, const VFilePath& path)
{
    if (code == VE_OK)
        return code;
    StThrowError<> error(code);
    error->SetString(VString("path"), PathText(path));
    return code;
}

VError ThrowErrorWithPaths(VError code, const VFilePath& src, const VFilePath& dst)
{
    if (code == VE_OK)
        return code;
    StThrowError<> error(code);
    error->SetString(VString("srcPath"), PathText(src));
    error->SetString(VString("dstPath"), PathText(dst));
    return code;
}

VError ThrowServiceError(VError code, const VString& name)
{
    if (code == VE_OK)
        return code;
    StThrowError<> error(code);
    error->SetString(VString("ServiceName"), name);
    return code;
}
