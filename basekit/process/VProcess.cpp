// VProcess.cpp - registration, the ordered start-up and shutdown, the run, and activity tokens.
#include "basekit/process/VProcess.h"

#include <sys/stat.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/bags/VValueBag.h"
#include "basekit/runtime/ILocalizer.h"
#include "basekit/runtime/VDebugMgr.h"
#include "basekit/runtime/VLogger.h"
#include "basekit/runtime/VMetricsManager.h"
#include "basekit/runtime/VProgressManager.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

VProcess* VProcess::sInstance = nullptr;

namespace {

VString _BundleString(const char* key)
{
    std::string value;
    if (!platform::BundleInfo::GetMainBundleInfoString(key, value))
        return VString();
    VString text;
    text.FromCString(value.c_str());
    return text;
}

uint32_t _Now()
{
    return static_cast<uint32_t>(VSystem::GetCurrentTime());
}

// Held while the process changes sInstance and while an activity token, on
// any task, registers or unregisters with it: a token never reaches a process
// that is past clearing sInstance.
std::mutex gInstanceLock;

// The process inside Run, the only time another thread may call into it: its
// destruction cannot begin before Run returns, and Run takes the lock to
// close the window.
std::mutex gRunningLock;
VProcess* gRunning = nullptr;

}  // namespace

void VProcess::_SetInstance(VProcess* process)
{
    std::lock_guard<std::mutex> lock(gInstanceLock);
    sInstance = process;
}

void VProcess::_ClearInstance()
{
    std::lock_guard<std::mutex> lock(gInstanceLock);
    if (sInstance == this)
        sInstance = nullptr;
}

VProcess::VProcess() : fIdleTime(_Now())
{
    _SetInstance(this);
    fMetricsManager = new VMetricsManager;
    VMetricsManager::SetProcessManager(fMetricsManager);
    fFileSystemNamespace = new VFileSystemNamespace;
    fProductName = _BundleString("CFBundleName");
    fProductVersion = _BundleString("CFBundleShortVersionString");
    fProductFolderName = fProductName;
}

VProcess::~VProcess()
{
    if (fInitialized)
        _DeInit();
    if (fStartedClassStore) {
        fStartedClassStore = false;
        VJSONClassStore::DeInitProcessStore();
    }
    fHasClassStore = false;
    if (VMetricsManager::GetProcessManager() == fMetricsManager)
        VMetricsManager::SetProcessManager(nullptr);
    delete fMetricsManager;
    fMetricsManager = nullptr;
    ReleaseRefCountable(&fBootLogListener);
    ReleaseRefCountable(&fLogger);
    ReleaseRefCountable(&fFileSystemNamespace);
    if (fIntlMgr) {
        fIntlMgr->Release();
        fIntlMgr = nullptr;
    }
    _ClearInstance();
}

bool VProcess::Init(uint32_t flags)
{
    if (!fInitialized) {
        fInitialized = true;
        fInitResult = _Init(flags);
    }
    return fInitResult;
}

bool VProcess::_Init(uint32_t flags)
{
    bool versionOK = DoCheckSystemVersion(kRequiredSystemVersion);
    _SetInstance(this);
    fFibersAllowed = (flags & kInitAllowFibers) != 0;
    if (!versionOK)
        return false;

    // Made before the main task, which starts with a copy of it.
    // Dialect 0 stands for the system's dialect.
    fIntlMgr = VIntlMgr::Create(0, 0, 1);
    if (!fIntlMgr)
        return false;

    // A service already started (by another process object of a test program)
    // stays with whoever started it.
    if (VFileKindManager::Get() == nullptr) {
        if (!VFileKindManager::Init())
            return false;
        fStartedFileKinds = true;
    }
    VFile::Init();

    if (!_CheckCaseInsensitiveInstallFolder())
        return false;

    if (!VTaskMgr::IsInited()) {
        if (!VTaskMgr::Init(this))
            return false;
        fStartedTaskMgr = true;
    }

    if (!VDebugMgr::Get()->GetMessagesEnabled()) {
        if (!VDebugMgr::Get()->Init())
            return false;
        fStartedDebugMgr = true;
    }
    if (VProgressManager::sProgressManager == nullptr) {
        if (!VProgressManager::Init())
            return false;
        fStartedProgressMgr = true;
    }

    if (!_Init_FileSystems())
        return false;

    // The store is process-wide: one made by another process object of a
    // test program is used, not made again.
    if (VJSONClassStore::GetProcessStore() == nullptr) {
        if (VJSONClassStore::InitProcessStore() == nullptr)
            return false;
        fStartedClassStore = true;
    }
    fHasClassStore = true;

    if (flags & kInitCreateLogger) {
        fLogger = new VLogger;
        fBootLogListener = new VBootLogListener;
        fLogger->AddLogListener(fBootLogListener);
        ILogger::SetProcessLogger(fLogger);
        fLogger->Start();
    }
    return true;
}

void VProcess::_DeInit()
{
    // The logger's task is the process's own: it ends while the process is
    // still whole and registered, since it gives up its activity token and
    // logs with the process's name.
    if (fLogger != nullptr) {
        fLogger->Stop();
        if (ILogger::GetProcessLogger() == fLogger)
            ILogger::SetProcessLogger(nullptr);
        ReleaseRefCountable(&fLogger);
    }
    _ClearInstance();
    if (fStartedDebugMgr) {
        fStartedDebugMgr = false;
        VDebugMgr::Get()->DeInit();
    }
    if (fStartedTaskMgr) {
        fStartedTaskMgr = false;
        VTaskMgr::DeInit();
    }
    if (fStartedFileKinds) {
        fStartedFileKinds = false;
        VFileKindManager::DeInit();
    }
    if (fStartedProgressMgr) {
        fStartedProgressMgr = false;
        VProgressManager::Deinit();
    }
    if (fIntlMgr) {
        fIntlMgr->Release();
        fIntlMgr = nullptr;
    }
}

bool VProcess::DoCheckSystemVersion(int32_t version)
{
    bool ok = VSystem::IsSystemVersionOrAbove(version);
    if (!ok) {
        _ShowInitFailedNotice(VString(version == kRequiredSystemVersion ? "This application needs at least OS X 10.12"
                                                                        : "This application needs at least OS X 10.7"));
    }
    return ok;
}

void VProcess::_ShowInitFailedNotice(const VString& text)
{
    VSystem::DisplayNotification(VString("Initialization failed"), text, 0, nullptr);
}

bool VProcess::_CheckCaseInsensitiveInstallFolder()
{
    // Asked of the disk by POSIX path: the check runs before anything else
    // needs a text converter, and the resources folder's name is plain ASCII.
    std::string executable = platform::BundleInfo::GetExecutablePath();
    size_t slash = executable.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    std::string contents = executable.substr(0, slash);
    slash = contents.rfind('/');
    if (slash == std::string::npos)
        return true;
    contents.resize(slash + 1);
    std::string name = "Resources";
    std::string flipped = name;
    char& first = flipped[0];
    if (first >= 'a' && first <= 'z')
        first = static_cast<char>(first - 'a' + 'A');
    else if (first >= 'A' && first <= 'Z')
        first = static_cast<char>(first - 'A' + 'a');
    struct stat st;
    bool exists = stat((contents + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    bool otherExists = stat((contents + flipped).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (exists != otherExists) {
        _ShowInitFailedNotice(VString("Please install the application on a case insensitive file system."));
        return false;
    }
    return true;
}

bool VProcess::_Init_FileSystems()
{
    VError error = VE_OK;
    if (VFolder* documents = VFolder::RetainSystemFolder(eFK_UserDocuments, false)) {
        error = fFileSystemNamespace->RegisterFileSystem(VString(".USER_HOME_DIRECTORY"), documents, eFSHidden);
        documents->Release();
    }
    if (error != VE_OK)
        return false;

    VFolder* resources = RetainFolder(kProcessFolderResources);
    if (resources == nullptr)
        return true;
    error = fFileSystemNamespace->RegisterFileSystem(VString(".PRODUCT_RESOURCES"), resources, 0);
    if (error == VE_OK) {
        VFile* definitions = resources->RetainRelativeFile(VString("fileSystems.json"), FPS_POSIX);
        if (definitions != nullptr && definitions->Exists())
            error = fFileSystemNamespace->LoadFromDefinitionFile(definitions);
        ReleaseRefCountable(&definitions);
    }
    resources->Release();
    return error == VE_OK;
}

void VProcess::Run()
{
    if (!fInitialized)
        Init(kInitCreateLogger | kInitCreateFileSystemNotifier);
    if (!fInitResult) {
        VString reason("VApplication::DoInit failed");
        _ThrowError(VE_INIT_FAILED, &reason);
        return;
    }
    VTask* main = VTask::GetMain();
    if (main == nullptr || VTask::GetCurrent() != main || main->GetState() != TS_RUNNING)
        return;
    VTask::FlushErrors();
    SetMessagingTask(main->GetID());
    StartMessaging();
    {
        // Quit requests from other threads reach this object only in here.
        struct StRunning {
            explicit StRunning(VProcess* process)
            {
                std::lock_guard<std::mutex> lock(gRunningLock);
                gRunning = process;
            }
            ~StRunning()
            {
                std::lock_guard<std::mutex> lock(gRunningLock);
                gRunning = nullptr;
            }
        } running(this);
        DoRun();
        DoQuit();
        main->Kill();
    }
    StopMessaging();
}

bool VProcess::IsRunning() const
{
    VTask* main = VTask::GetMain();
    return main != nullptr && !main->IsDying();
}

void VProcess::QuitAsynchronously(const VString*)
{
    _QuitMainTask();
}

void VProcess::_QuitMainTask()
{
    VTask* main = VTask::GetMain();
    if (main == nullptr)
        return;
    main->Kill();
    main->SetMessageQueueEvent();
}

void VProcess::QuitFromAnotherThread()
{
    std::lock_guard<std::mutex> running(gRunningLock);
    if (gRunning != nullptr) {
        gRunning->QuitAsynchronously(nullptr);
        return;
    }
    bool hasProcess;
    {
        std::lock_guard<std::mutex> lock(gInstanceLock);
        hasProcess = sInstance != nullptr;
    }
    if (hasProcess)
        _QuitMainTask();
}

ILogger* VProcess::GetLogger() const
{
    return fLogger;
}

ILogger* VProcess::GetLogger(EMessageLevel level) const
{
    return (fLogger != nullptr && fLogger->ShouldLog(level)) ? fLogger : nullptr;
}

void VProcess::CleanBootLogListener()
{
    if (fBootLogListener == nullptr)
        return;
    if (fLogger != nullptr) {
        for (const VValueBag* bag : fBootLogListener->GetBags())
            fLogger->LogBag(bag);
        fLogger->RemoveLogListener(fBootLogListener);
    }
    ReleaseRefCountable(&fBootLogListener);
}

VBootLogListener::~VBootLogListener()
{
    for (const VValueBag* bag : fBags)
        bag->Release();
}

void VBootLogListener::Put(const std::vector<const VValueBag*>& bags)
{
    for (const VValueBag* bag : bags) {
        bag->Retain();
        fBags.push_back(bag);
    }
}

VString VProcess::GetLogSourceIdentifier() const
{
    return fProductName;
}

VJSONClassStore* VProcess::GetClassStore() const
{
    return fHasClassStore ? VJSONClassStore::GetProcessStore() : nullptr;
}

VJSONObject* VProcess::GetClassObject(const VString& storeName, const VString& className) const
{
    return fHasClassStore ? VJSONClassStore::RetainProcessClassObject(storeName, className) : nullptr;
}

void VProcess::RegisterActivityToken(VActivityToken* token)
{
    StLocker<VCriticalSection> lock(fTokensLock);
    fActivityTokens.insert(token);
}

void VProcess::UnregisterActivityToken(VActivityToken* token)
{
    StLocker<VCriticalSection> lock(fTokensLock);
    if (fActivityTokens.erase(token) != 0 && fActivityTokens.empty())
        fIdleTime = _Now();
}

bool VProcess::HasSomeActivityTokens(uint32_t ms) const
{
    StLocker<VCriticalSection> lock(fTokensLock);
    if (!fActivityTokens.empty())
        return true;
    return _Now() - fIdleTime < ms;
}

VActivityToken::VActivityToken(const VString& name) : fName(name)
{
    std::lock_guard<std::mutex> lock(gInstanceLock);
    if (VProcess::sInstance != nullptr)
        VProcess::sInstance->RegisterActivityToken(this);
}

VActivityToken::~VActivityToken()
{
    std::lock_guard<std::mutex> lock(gInstanceLock);
    if (VProcess::sInstance != nullptr)
        VProcess::sInstance->UnregisterActivityToken(this);
}

VString LocalizeString(const VString& key, const VString& defaultText)
{
    VProcess* process = VProcess::sInstance;
    ILocalizer* localizer = process != nullptr ? process->GetLocalizer() : nullptr;
    VString text;
    if (localizer != nullptr && localizer->LocalizeStringWithKey(key, text))
        return text;
    return defaultText;
}

}  // namespace bkit
