// VProcess.h - the process object, its activity tokens and the product's folders and version.
//
// This file defines VProcess, the one process object of a program. A program
// constructs exactly one, which registers itself as VProcess::sInstance for its
// whole life and unregisters itself when destroyed; everything in the toolbox
// may reach it from any task through sInstance (null before it exists and after
// it is gone). Several toolbox services behave differently without it: raising
// an error, for one, does nothing before the process object exists.
//
// Init starts the process-wide services once, in a fixed order, stopping at
// the first step that fails (later calls answer the first result). The
// destructor of an initialised process stops them again, the process logger's
// task first, so that no task the process started runs on while it goes.
// Init, Run and destruction run on the main thread; the getters may be called
// from any task once Init has returned. Services a step finds already started
// (by another process object of a test program) are left to whoever started
// them.
//
// Other threads reach the object only where it is whole: activity tokens
// register and unregister under the lock that also guards sInstance's changes
// by the process, and a quit request from another thread (QuitFromAnotherThread)
// reaches QuitAsynchronously only while Run runs, since the object's
// destruction may begin as soon as Run has returned.
//
// Folders: the executable is the main bundle's (BundleInfo); 'EXEC' is its
// folder, 'PLST' that folder's parent (the bundle's Contents folder), 'BNDL'
// the bundle. RetainFolder and RetainFile hand out new references (or null).
//
// VActivityToken marks the process busy while it lives; the token set and the
// idle time are guarded by the process's critical section, so tokens may come
// and go on any task.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <vector>

#include "basekit/files/mac/XMacFolder.h"
#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/IMessageable.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class ILocalizer;
class VActivityToken;
class VBootLogListener;
class VFile;
class VFilePath;
class VFileSystemNamespace;
class VFolder;
class VIntlMgr;
class VJSONClassStore;
class VJSONObject;
class VLogger;
class VMetricsManager;
class VValueBag;

// Folder kinds of RetainFolder.
constexpr OsType kProcessFolderBundle = MakeOsType("BNDL");
constexpr OsType kProcessFolderExecutable = MakeOsType("EXEC");
constexpr OsType kProcessFolderContents = MakeOsType("PLST");
constexpr OsType kProcessFolderResources = MakeOsType("RSRC");
constexpr OsType kProcessFolderNativeComponents = MakeOsType("NCMP");
constexpr OsType kProcessFolderDTDs = MakeOsType("DTDs");
constexpr OsType kProcessFolderXSDs = MakeOsType("XSDs");
constexpr OsType kProcessFolderXSLs = MakeOsType("XSLs");
constexpr OsType kProcessFolderJSONSchemas = MakeOsType("JSNs");

class VProcess : public VObject, public virtual IMessageable {
public:
    // Initialisation flags.
    static constexpr uint32_t kInitAllowFibers = 0x2;
    static constexpr uint32_t kInitCreateLogger = 0x10;
    static constexpr uint32_t kInitCreateFileSystemNotifier = 0x40;

    // The system version Init asks for: macOS 10.12.
    static constexpr int32_t kRequiredSystemVersion = 14;

    // Registers this object as sInstance (replacing an earlier registration)
    // and reads the product's name and version from the main bundle.
    VProcess();

    // Stops what Init started, then clears sInstance when it is this object.
    ~VProcess() override;

    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // The first call runs the initialisation and keeps its answer; later calls
    // answer it again without doing anything.
    virtual bool Init(uint32_t flags);

    // Asks the main task to end (it is marked dying and its queue woken). The
    // text is not used.
    virtual void QuitAsynchronously(const VString* text = nullptr);

    // A quit request from a thread that does not own the process object (the
    // quit-signal watcher). While Run runs, the running process's
    // QuitAsynchronously takes it; otherwise, when a process object exists,
    // the main task is asked to end directly and no process object is touched.
    // Run does not return while a request is being handed to it.
    static void QuitFromAnotherThread();

    // A new reference to a folder of the application (kinds above), or null
    // for another kind or when the executable's path is unknown.
    virtual VFolder* RetainFolder(OsType kind) const;

    // The source of log entries: the product name.
    virtual VString GetLogSourceIdentifier() const;

    // A new reference to the class object of className in the process's class
    // store when that store is named storeName exactly; else null.
    virtual VJSONObject* GetClassObject(const VString& storeName, const VString& className) const;

    // The process's JSON class store ("zanth", with its root classes), not
    // retained; null before Init made it. The store is process-wide
    // (VJSONClassStore::GetProcessStore): this answers whatever store is the
    // process's now.
    VJSONClassStore* GetClassStore() const;

    // The application's run and its end; nothing by default.
    virtual void DoRun() {}
    virtual void DoQuit() {}

    // Whether the system is at least version; when not, a notice "Initialization
    // failed" tells which version is needed. False fails Init.
    virtual bool DoCheckSystemVersion(int32_t version);

    // On the main task, while it runs: Init(0x50) when nobody called Init; after
    // a failed Init, pushes 'bkit' 4 and returns; otherwise flushes the task's
    // errors, starts messaging, DoRun, DoQuit, ends the main task and stops
    // messaging. Quit requests of other threads reach QuitAsynchronously only
    // from the start of DoRun to the end of the main task.
    void Run();

    // The main task exists and is not dying.
    bool IsRunning() const;

    bool IsInitialized() const { return fInitialized; }
    bool GetInitResult() const { return fInitResult; }

    // Whether Init was given kInitAllowFibers.
    bool AreFibersAllowed() const { return fFibersAllowed; }

    // The process's international manager (of the system's dialect), null
    // before Init and after a failed one. No reference.
    VIntlMgr* GetIntlMgr() const { return fIntlMgr; }

    // The process logger (created by Init with kInitCreateLogger), or null. No
    // reference. With a level, only when the logger would keep that level.
    ILogger* GetLogger() const;
    ILogger* GetLogger(EMessageLevel level) const;
    // Hands every entry the boot log listener kept to the logger, then removes
    // and releases the listener.
    void CleanBootLogListener();

    // The process's file-system namespace: created empty with the process,
    // filled by Init with the user's and the product's file systems and those
    // of "fileSystems.json". No reference; it lives as long as the process.
    VFileSystemNamespace* GetFileSystemNamespace() const { return fFileSystemNamespace; }

    // The process's metrics manager, made with the process and installed as
    // VMetricsManager::GetProcessManager() while it lives. Owned.
    VMetricsManager* GetMetricsManager() const { return fMetricsManager; }

    // The localizer LocalizeString uses; set by the application, not owned.
    ILocalizer* GetLocalizer() const { return fLocalizer; }
    void SetLocalizer(ILocalizer* localizer) { fLocalizer = localizer; }

    // --- activity tokens (any task) ---
    void RegisterActivityToken(VActivityToken* token);
    void UnregisterActivityToken(VActivityToken* token);
    // True while tokens exist, else while fewer than ms milliseconds passed
    // since the last one went away (or since construction).
    bool HasSomeActivityTokens(uint32_t ms) const;

    // --- the application's files ---
    VFilePath GetExecutableFilePath() const;
    VFile* RetainExecutableFile() const;
    VFilePath GetExecutableFolderPath() const;

    // The existing file name (a POSIX relative path) in RetainFolder(kind);
    // else, with a fallback kind whose folder exists, the existing file name
    // (internal form) there; else null.
    VFile* RetainFile(OsType kind, const VString& name, OsType fallbackKind) const;

    // The product's own folder inside a system folder: the product folder name
    // there (an alias to a folder is followed), created with its parents when
    // asked. Kinds 3, 8, 9, 12 and kinds outside 1 to 13 answer the plain
    // system folder. For 4, 6 and 10 a failed creation falls back silently to
    // 5, 7 and 11; for the others it answers null with the error on the stack.
    VFolder* RetainProductSystemFolder(ESystemFolderKind kind, bool create) const;

    // --- the product ---
    const VString& GetProductName() const { return fProductName; }
    const VString& GetProductVersion() const { return fProductVersion; }
    const VString& GetProductFolderName() const { return fProductFolderName; }
    // From the version "<release> build <major>.<change list>": the release
    // (the whole text without "build "), trimmed.
    void GetShortProductVersion(VString& out) const;
    // The short version up to its first ".".
    void GetMainProductVersion(VString& out) const;
    // The text after "build ", trimmed; empty without one.
    void GetBuildNumber(VString& out) const;
    // The number after the first "." of the build number; 0 without one.
    uint32_t GetChangeListNumber() const;

    // The process id.
    static pid_t GetSystemID();
    // True unless no process of that id exists.
    static bool IsProcessRunning(pid_t pid);

    // The process object, or null.
    static VProcess* Get() { return sInstance; }

    static VProcess* sInstance;

protected:
    // What QuitAsynchronously does by default, touching no process object.
    static void _QuitMainTask();

    // The steps of Init, stopping with false at the first that fails.
    virtual bool _Init(uint32_t flags);
    // Undoes _Init (run by the destructor of an initialised process).
    virtual void _DeInit();

    // Fails (with the notice) when the resources folder's name and its other-case
    // spelling do not both exist or both not exist: the volume is case-sensitive.
    bool _CheckCaseInsensitiveInstallFolder();
    // Registers the user's documents folder as ".USER_HOME_DIRECTORY" (hidden),
    // then the resources folder as ".PRODUCT_RESOURCES", then loads the
    // resources folder's "fileSystems.json" when it exists. False when a
    // registration or the load failed.
    bool _Init_FileSystems();
    void _Init_CheckSystemVersion() { DoCheckSystemVersion(kRequiredSystemVersion); }

    // Shows a notice titled "Initialization failed" without waiting.
    static void _ShowInitFailedNotice(const VString& text);

private:
    bool _FindBuild(const VString& version, VIndex* at) const;
    // Changes sInstance under the lock activity tokens take.
    static void _SetInstance(VProcess* process);
    void _ClearInstance();

    mutable VCriticalSection fTokensLock;
    std::set<VActivityToken*> fActivityTokens;
    uint32_t fIdleTime = 0;
    bool fInitialized = false;
    bool fInitResult = false;
    bool fFibersAllowed = false;
    VIntlMgr* fIntlMgr = nullptr;
    ILocalizer* fLocalizer = nullptr;
    VString fProductName;
    VString fProductVersion;
    VString fProductFolderName;
    VFileSystemNamespace* fFileSystemNamespace = nullptr;
    VMetricsManager* fMetricsManager = nullptr;
    // What this object started, so that it stops only that.
    bool fStartedFileKinds = false;
    bool fStartedTaskMgr = false;
    bool fStartedDebugMgr = false;
    bool fStartedClassStore = false;
    bool fStartedProgressMgr = false;
    bool fHasClassStore = false;
    VLogger* fLogger = nullptr;
    VBootLogListener* fBootLogListener = nullptr;
};

// Keeps every log entry from start-up on (retained, oldest first).
class VBootLogListener : public VObject, public ILogListener {
public:
    VBootLogListener() = default;
    ~VBootLogListener() override;
    void Put(const std::vector<const VValueBag*>& bags) override;
    // The kept entries; the listener keeps its references.
    const std::vector<const VValueBag*>& GetBags() const { return fBags; }

private:
    std::vector<const VValueBag*> fBags;
};

// A named busy marker: registered with the process while it lives.
class VActivityToken : public VObject, public IRefCountable {
public:
    explicit VActivityToken(const VString& name);
    ~VActivityToken() override;
    const VString& GetName() const { return fName; }

private:
    VString fName;
};

// The process localizer's text for key, or defaultText when there is no
// localizer or it has no text for the key.
VString LocalizeString(const VString& key, const VString& defaultText);

}  // namespace bkit
