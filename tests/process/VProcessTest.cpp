// VProcessTest.cpp - the process object's folders, version texts, start-up order, command line and quit signals.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

#include "basekit/files/VFile.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VFileSystemNotifier.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/SystemInfo.h"
#include "basekit/process/VCommandLineParser.h"
#include "basekit/process/VProcessIPC.h"
#include "basekit/process/mac/XPosixProcessIPC.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VMetricsManager.h"
#include "basekit/runtime/VProgressManager.h"
#include "basekit/runtime/VSleepNotifier.h"
#include "basekit/runtime/VTask.h"
#include "process/ProcessTestSupport.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

void DefaultQuitSignals()
{
    for (int signal : {SIGTERM, SIGINT, SIGQUIT})
        ::signal(signal, SIG_DFL);
}

bool HandlerInstalled(int signal)
{
    struct sigaction action;
    sigaction(signal, nullptr, &action);
    return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

// Runs body in a child process (Run ends the main task, and a quit request
// outside Run ends it too) and answers the child's exit code, or -1 when it
// did not exit. Under ThreadSanitizer a race the child hits answers 99: its
// reports go to a file beside reportPrefix, whose existence tells.
int RunInChild(const std::string& reportPrefix, const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
#if defined(__SANITIZE_THREAD__)
        __sanitizer_set_report_path(reportPrefix.c_str());
#endif
        int code = body();
#if defined(__SANITIZE_THREAD__)
        struct stat report;
        if (stat((reportPrefix + "." + std::to_string(getpid())).c_str(), &report) == 0)
            code = 99;
#endif
        (void)reportPrefix;
        // The answer leaves through a new image: a sanitizer would count the
        // parent's threads, which a forked child never has, as leaked at exit.
        std::string exit = "exit " + std::to_string(code);
        execl("/bin/sh", "sh", "-c", exit.c_str(), static_cast<char*>(nullptr));
        _exit(98);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Waits up to 5 s for count to reach at least target; answers its last value.
int WaitForCount(const std::atomic<int>& count, int target)
{
    for (int i = 0; i < 500 && count.load() < target; ++i)
        usleep(10000);
    return count.load();
}

// Each test may build process objects of its own inside a fake bundle; the
// program's process object, its bundle and its signal handling come back after.
class ProcessTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        fSaved = VProcess::sInstance;
        DefaultQuitSignals();
    }
    void TearDown() override
    {
        VProcess::sInstance = fSaved;
        VMetricsManager::SetProcessManager(fSaved != nullptr ? fSaved->GetMetricsManager() : nullptr);
        platform::BundleInfo::SetExecutablePathForTesting(nullptr);
        sProcessCommandLineArgc = 0;
        sProcessCommandLineArgv = nullptr;
        DefaultQuitSignals();
    }

    // Lays out Sample.app with its executable and information list and makes
    // it the main bundle. version null leaves the version key out.
    std::string MakeBundle(const char* version, bool lowerCaseLink = true)
    {
        fTemp.MakeFolder("Sample.app");
        fTemp.MakeFolder("Sample.app/Contents");
        fTemp.MakeFolder("Sample.app/Contents/MacOS");
        fTemp.MakeFolder("Sample.app/Contents/Resources");
        if (lowerCaseLink)
            fTemp.MakeLink("Sample.app/Contents/resources", "Resources");
        fTemp.WriteFile("Sample.app/Contents/MacOS/sample", "", 0755);
        std::string plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                            "\t<key>CFBundleName</key>\n\t<string>Sample</string>\n";
        if (version != nullptr)
            plist += std::string("\t<key>CFBundleShortVersionString</key>\n\t<string>") + version + "</string>\n";
        plist += "</dict>\n</plist>\n";
        fTemp.WriteFile("Sample.app/Contents/Info.plist", plist);
        std::string executable = fTemp.Path("Sample.app/Contents/MacOS/sample");
        platform::BundleInfo::SetExecutablePathForTesting(executable.c_str());
        return fTemp.Path("Sample.app");
    }

    VProcess* fSaved = nullptr;
};

std::string Posix(const VFilePath& path)
{
    VString text;
    path.GetPosixPath(text);
    return to_string(text);
}

TEST_F(ProcessTest, ProductVersionTexts)
{
    struct Case {
        const char* version;
        const char* shortVersion;
        const char* mainVersion;
        const char* build;
        uint32_t changeList;
    } cases[] = {
        {nullptr, "", "", "", 0},
        {"1.2.3", "1.2.3", "1", "", 0},
        {"20R2 build 20.123456", "20R2", "20R2", "20.123456", 123456},
        {"  v19.4  build  19.77 ", "v19.4", "v19", "19.77", 77},
        {"build 42", "", "", "42", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(none)");
        MakeBundle(c.version);
        VProcess process;
        EXPECT_EQ(VString("Sample"), process.GetProductName());
        EXPECT_EQ(VString("Sample"), process.GetProductFolderName());
        EXPECT_EQ(VString("Sample"), process.GetLogSourceIdentifier());
        VString text;
        process.GetShortProductVersion(text);
        EXPECT_EQ(std::string(c.shortVersion), to_string(text));
        process.GetMainProductVersion(text);
        EXPECT_EQ(std::string(c.mainVersion), to_string(text));
        process.GetBuildNumber(text);
        EXPECT_EQ(std::string(c.build), to_string(text));
        EXPECT_EQ(c.changeList, process.GetChangeListNumber());
        VProcess::sInstance = fSaved;
    }
}

TEST_F(ProcessTest, FoldersOfTheBundle)
{
    std::string bundle = MakeBundle("1.0");
    VProcess process;
    struct Case {
        OsType kind;
        std::string path;
    } cases[] = {
        {kProcessFolderBundle, bundle + "/"},
        {kProcessFolderExecutable, bundle + "/Contents/MacOS/"},
        {kProcessFolderContents, bundle + "/Contents/"},
        {kProcessFolderResources, bundle + "/Contents/Resources/"},
        {kProcessFolderNativeComponents, bundle + "/Contents/Native Components/"},
        {kProcessFolderDTDs, bundle + "/Contents/Resources/DTD/"},
        {kProcessFolderXSDs, bundle + "/Contents/Resources/XSD/"},
        {kProcessFolderXSLs, bundle + "/Contents/Resources/XSL/"},
        {kProcessFolderJSONSchemas, bundle + "/Contents/Resources/JSONSchemas/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(process.RetainFolder(c.kind));
        ASSERT_TRUE(folder);
        EXPECT_EQ(c.path, Posix(folder->GetPath()));
    }
    EXPECT_EQ(nullptr, process.RetainFolder(MakeOsType("what")));
    EXPECT_EQ(bundle + "/Contents/MacOS/sample", Posix(process.GetExecutableFilePath()));
    EXPECT_EQ(bundle + "/Contents/MacOS/", Posix(process.GetExecutableFolderPath()));

    // A file is looked for in its folder, then in the fallback folder.
    fTemp.MakeFolder("Sample.app/Contents/Resources/sub");
    fTemp.WriteFile("Sample.app/Contents/Resources/sub/data.json", "{}");
    fTemp.WriteFile("Sample.app/Contents/MacOS/only-here.txt", "x");
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(process.RetainFile(kProcessFolderResources, VString("sub/data.json"), 0));
    ASSERT_TRUE(file);
    EXPECT_EQ(bundle + "/Contents/Resources/sub/data.json", Posix(file->GetPath()));
    file = VRefPtr<VFile>::Adopt(
        process.RetainFile(kProcessFolderResources, VString("only-here.txt"), kProcessFolderExecutable));
    ASSERT_TRUE(file);
    EXPECT_EQ(bundle + "/Contents/MacOS/only-here.txt", Posix(file->GetPath()));
    EXPECT_EQ(nullptr, process.RetainFile(kProcessFolderResources, VString("only-here.txt"), 0));
    EXPECT_EQ(nullptr, process.RetainFile(kProcessFolderResources, VString("nowhere"), kProcessFolderExecutable));
    VProcess::sInstance = fSaved;
}

TEST_F(ProcessTest, ProductFoldersInsideSystemFolders)
{
    MakeBundle("1.0");
    fTemp.MakeFolder("data");
    fTemp.MakeFolder("cache");
    fTemp.MakeFolder("elsewhere");
    fTemp.MakeLink("cache/Sample", fTemp.Path("elsewhere"));
    test::StEnvironmentVariable data("XDG_DATA_HOME", fTemp.Path("data"));
    test::StEnvironmentVariable cache("XDG_CACHE_HOME", fTemp.Path("cache"));
    VProcess process;

    // Not there and not asked to make it.
    EXPECT_EQ(nullptr, process.RetainProductSystemFolder(eFK_UserApplicationData, false));
    VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(process.RetainProductSystemFolder(eFK_UserApplicationData, true));
    ASSERT_TRUE(folder);
    EXPECT_EQ(fTemp.Path("data/Sample/"), Posix(folder->GetPath()));
    EXPECT_TRUE(folder->Exists());

    // An alias of the product's name leads to its folder.
    folder = VRefPtr<VFolder>::Adopt(process.RetainProductSystemFolder(eFK_UserCache, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(fTemp.Path("elsewhere/"), Posix(folder->GetPath()));

    // Kinds without a product folder answer the system folder itself.
    folder = VRefPtr<VFolder>::Adopt(process.RetainProductSystemFolder(eFK_UserLibrary, false));
    ASSERT_TRUE(folder);
    VRefPtr<VFolder> plain = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_UserLibrary, false));
    ASSERT_TRUE(plain);
    EXPECT_EQ(Posix(plain->GetPath()), Posix(folder->GetPath()));

    // The machine's folder that cannot be made falls back to the user's, silently.
    struct stat st;
    if (stat("/usr/local/share", &st) == 0) {
        test::TempFolder::RemoveTree(fTemp.Path("data/Sample"));
        StErrorContextInstaller errors(true, true);
        StFaultSeam fault(FaultOperation::kCreate, 1, EACCES);
        folder = VRefPtr<VFolder>::Adopt(process.RetainProductSystemFolder(eFK_CommonApplicationData, true));
        ASSERT_TRUE(folder);
        EXPECT_EQ(fTemp.Path("data/Sample/"), Posix(folder->GetPath()));
        EXPECT_EQ(VE_OK, errors.GetLastError());
        EXPECT_FALSE(VFolder(VFilePath(VString("/usr/local/share/Sample/"), FPS_POSIX)).Exists());
    }
    VProcess::sInstance = fSaved;
}

// Records which of its steps ran.
class ProbeProcess : public VProcess {
public:
    bool DoCheckSystemVersion(int32_t version) override
    {
        ++fVersionChecks;
        fVersionAsked = version;
        return fVersionOK;
    }
    void DoRun() override { fRan = true; }
    void DoQuit() override { fQuit = IsRunning(); }

    bool fVersionOK = true;
    int fVersionChecks = 0;
    int32_t fVersionAsked = 0;
    bool fRan = false;
    bool fQuit = false;
};

TEST_F(ProcessTest, InitRunsItsStepsInOrderAndOnce)
{
    MakeBundle("1.0");
    {
        // A failed version check stops before the international manager, yet
        // registers the process and notes the fibers flag.
        ProbeProcess process;
        VProcess::sInstance = fSaved;
        process.fVersionOK = false;
        EXPECT_FALSE(process.Init(VProcess::kInitAllowFibers));
        EXPECT_EQ(&process, VProcess::sInstance);
        EXPECT_TRUE(process.AreFibersAllowed());
        EXPECT_EQ(VProcess::kRequiredSystemVersion, process.fVersionAsked);
        EXPECT_EQ(nullptr, process.GetIntlMgr());
        // Later calls answer the first result without running again.
        process.fVersionOK = true;
        EXPECT_FALSE(process.Init(0));
        EXPECT_EQ(1, process.fVersionChecks);

        // Run after a failed start-up only reports it.
        StErrorContextInstaller errors(true, true);
        process.Run();
        EXPECT_EQ(VE_INIT_FAILED, errors.GetLastError());
        EXPECT_FALSE(process.fRan);
    }
    EXPECT_EQ(nullptr, VProcess::sInstance);
    VProcess::sInstance = fSaved;
    {
        ProbeProcess process;
        EXPECT_TRUE(process.Init(0));
        EXPECT_NE(nullptr, process.GetIntlMgr());
        EXPECT_FALSE(process.AreFibersAllowed());
        EXPECT_EQ(&process, VProcess::sInstance);
    }
    EXPECT_EQ(nullptr, VProcess::sInstance);
}

// The concatenated text of every notice file in the folder.
std::string NoticesIn(const test::TempFolder& temp, const std::string& folder)
{
    std::string all;
    for (int n = 0; n < 10; ++n) {
        std::string text = temp.ReadFile(folder + "/notice-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".json");
        if (text != "<missing>")
            all += text;
    }
    return all;
}

TEST_F(ProcessTest, CaseSensitiveInstallFolderIsRefused)
{
    struct Case {
        bool lowerCaseLink;
        bool accepted;
    } cases[] = {{true, true}, {false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lowerCaseLink);
        test::TempFolder::RemoveTree(fTemp.Path("Sample.app"));
        test::TempFolder::RemoveTree(fTemp.Path("notices"));
        fTemp.MakeFolder("notices");
        MakeBundle("1.0", c.lowerCaseLink);
        test::StEnvironmentVariable notices("BKIT_NOTICE_DIR", fTemp.Path("notices"));
        ProbeProcess process;
        EXPECT_EQ(c.accepted, process.Init(0));
        std::string shown = NoticesIn(fTemp, "notices");
        if (c.accepted) {
            EXPECT_EQ("", shown);
        } else {
            EXPECT_NE(std::string::npos, shown.find("Initialization failed"));
            EXPECT_NE(std::string::npos, shown.find("Please install the application on a case insensitive file system."));
        }
        // The step after the check did not run; the one before did.
        EXPECT_NE(nullptr, process.GetIntlMgr());
        VProcess::sInstance = fSaved;
    }
    // Neither spelling: no bundle to judge, accepted.
    test::TempFolder::RemoveTree(fTemp.Path("Sample.app/Contents/Resources"));
    ::unlink(fTemp.Path("Sample.app/Contents/resources").c_str());
    ProbeProcess process;
    EXPECT_TRUE(process.Init(0));
    VProcess::sInstance = fSaved;
}

TEST_F(ProcessTest, OlderSystemIsRefusedWithItsNotice)
{
    MakeBundle("1.0");
    fTemp.MakeFolder("notices");
    test::StEnvironmentVariable notices("BKIT_NOTICE_DIR", fTemp.Path("notices"));
    platform::OSRelease older;
    older.major = 10;
    older.minor = 11;
    platform::SetReleaseForTesting(&older);
    {
        VProcess process;
        EXPECT_FALSE(process.Init(0));
        EXPECT_EQ(nullptr, process.GetIntlMgr());
    }
    platform::SetReleaseForTesting(nullptr);
    EXPECT_NE(std::string::npos, NoticesIn(fTemp, "notices").find("This application needs at least OS X 10.12"));
    VProcess::sInstance = fSaved;
}

TEST_F(ProcessTest, LoggerFlagCreatesTheProcessLoggerWithItsBootListener)
{
    MakeBundle("1.0");
    {
        VProcess process;
        ASSERT_TRUE(process.Init(VProcess::kInitCreateLogger));
        ILogger* logger = process.GetLogger();
        ASSERT_NE(nullptr, logger);
        EXPECT_TRUE(logger->IsStarted());
        EXPECT_EQ(logger, ILogger::GetProcessLogger());
        EXPECT_EQ(logger, process.GetLogger(EML_Error));
        EXPECT_EQ(nullptr, process.GetLogger(EML_Dump));
        VString source;
        ILogger::GetLogSourceIdentifier(source);
        EXPECT_EQ(VString("Sample"), source);
        logger->LogMessage(EML_Information, VString("kept from the start"), VString());
        logger->Flush();
        process.CleanBootLogListener();
    }
    EXPECT_EQ(nullptr, ILogger::GetProcessLogger());
    VProcess::sInstance = fSaved;
}

TEST_F(ProcessTest, InitRegistersTheFileSystems)
{
    MakeBundle("1.0");
    fTemp.MakeFolder("docs");
    fTemp.MakeFolder("Sample.app/Contents/Resources/data");
    test::StEnvironmentVariable documents("XDG_DOCUMENTS_DIR", fTemp.Path("docs"));
    auto rootOf = [](VFileSystemNamespace* ns, const char* name, uint32_t options) {
        VRefPtr<VFileSystem> fs = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString(name), options));
        if (!fs)
            return std::string("<none>");
        VFilePath root;
        fs->GetRoot(root);
        return Posix(root);
    };
    {
        fTemp.WriteFile("Sample.app/Contents/Resources/fileSystems.json",
                        "[{\"name\": \"data\", \"parent\": \".PRODUCT_RESOURCES\", \"path\": \"data\"}]");
        VProcess process;
        VFileSystemNamespace* ns = process.GetFileSystemNamespace();
        ASSERT_NE(nullptr, ns);
        EXPECT_EQ("<none>", rootOf(ns, ".PRODUCT_RESOURCES", 0)) << "empty until Init";
        ASSERT_TRUE(process.Init(0));
        EXPECT_EQ(fTemp.Path("docs/"), rootOf(ns, ".USER_HOME_DIRECTORY", 0));
        EXPECT_EQ("<none>", rootOf(ns, ".USER_HOME_DIRECTORY", eFSN_SkipHidden));
        EXPECT_EQ(fTemp.Path("Sample.app/Contents/Resources/"), rootOf(ns, ".PRODUCT_RESOURCES", eFSN_SkipHidden));
        EXPECT_EQ(fTemp.Path("Sample.app/Contents/Resources/data/"), rootOf(ns, "data", 0));
    }
    VProcess::sInstance = fSaved;
    {
        // A definition file that is not JSON fails the start-up.
        fTemp.WriteFile("Sample.app/Contents/Resources/fileSystems.json", "[{not json");
        VProcess process;
        StErrorContextInstaller errors(false, true);
        EXPECT_FALSE(process.Init(0));
        EXPECT_EQ("<none>", rootOf(process.GetFileSystemNamespace(), "data", 0));
    }
    VProcess::sInstance = fSaved;
}

TEST_F(ProcessTest, InitMakesTheClassStoreWithItsRootClasses)
{
    MakeBundle("1.0");
    auto hasClass = [](const VProcess& process, const char* store, const char* name) {
        VRefPtr<VJSONObject> object =
            VRefPtr<VJSONObject>::Adopt(process.GetClassObject(VString(store), VString(name)));
        return static_cast<bool>(object);
    };
    // The test program's store is set aside, so that this process makes the
    // store and ends it.
    VJSONClassStore::DeInitProcessStore();
    {
        VProcess process;
        EXPECT_EQ(nullptr, process.GetClassStore());
        EXPECT_FALSE(hasClass(process, "zanth", "Object"));
        ASSERT_TRUE(process.Init(0));
        ASSERT_NE(nullptr, process.GetClassStore());
        EXPECT_EQ(VString("zanth"), process.GetClassStore()->GetName());
        for (const char* name : {"Object", "Class", "Function"})
            EXPECT_TRUE(hasClass(process, "zanth", name)) << name;
        EXPECT_FALSE(hasClass(process, "Zanth", "Object")) << "the store's name is compared exactly";
        EXPECT_FALSE(hasClass(process, "zanth", "Nothing"));
    }
    EXPECT_EQ(nullptr, VJSONClassStore::GetProcessStore());
    VProcess::sInstance = fSaved;
    VJSONClassStore::InitProcessStore();
    {
        // A store already made is used and left to whoever made it.
        VProcess process;
        ASSERT_TRUE(process.Init(0));
        EXPECT_EQ(VJSONClassStore::GetProcessStore(), process.GetClassStore());
    }
    EXPECT_NE(nullptr, VJSONClassStore::GetProcessStore());
    VProcess::sInstance = fSaved;
}

TEST_F(ProcessTest, ProcessOwnsItsMetricsAndStartsTheProgressManager)
{
    MakeBundle("1.0");
    // The test program's progress manager is set aside, so that this process
    // starts it and stops it.
    VProgressManager::Deinit();
    {
        VProcess process;
        ASSERT_NE(nullptr, process.GetMetricsManager());
        EXPECT_EQ(process.GetMetricsManager(), VMetricsManager::GetProcessManager());
        EXPECT_EQ(nullptr, VProgressManager::sProgressManager);
        ASSERT_TRUE(process.Init(0));
        EXPECT_NE(nullptr, VProgressManager::sProgressManager);
    }
    EXPECT_EQ(nullptr, VProgressManager::sProgressManager);
    EXPECT_EQ(nullptr, VMetricsManager::GetProcessManager());
    VProcess::sInstance = fSaved;
    VProgressManager::Init();
}

TEST_F(ProcessTest, RunDoesTheApplicationsRunAndEndsTheMainTask)
{
    // Run ends the main task, so it runs in a child process of its own.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ProbeProcess process;
        bool ok = process.Init(0) && process.IsRunning();
        process.Run();
        // The answer leaves through a new image: a sanitizer would count the
        // parent's threads, which a forked child never has, as leaked at exit.
        execl("/bin/sh", "sh", "-c", (ok && process.fRan && process.fQuit && !process.IsRunning()) ? "exit 0" : "exit 1",
              static_cast<char*>(nullptr));
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(ProcessTest, ActivityTokensAndProcessIds)
{
    VProcess::sInstance = fSaved;
    ASSERT_NE(nullptr, fSaved);
    EXPECT_FALSE(fSaved->HasSomeActivityTokens(0));
    {
        VActivityToken token(VString("busy"));
        EXPECT_TRUE(fSaved->HasSomeActivityTokens(0));
    }
    EXPECT_FALSE(fSaved->HasSomeActivityTokens(0));
    EXPECT_TRUE(fSaved->HasSomeActivityTokens(60000));

    EXPECT_EQ(getpid(), VProcess::GetSystemID());
    EXPECT_TRUE(VProcess::IsProcessRunning(getpid()));
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/true", "true", static_cast<char*>(nullptr));
        _exit(0);
    }
    ASSERT_EQ(child, waitpid(child, nullptr, 0));
    EXPECT_FALSE(VProcess::IsProcessRunning(child));
}

// An IPC process with one flag option, recording what its parse saw.
class ProbeIPC : public VProcessIPC {
public:
    int32_t DoParseCommandLine(VCommandLineParser& parser) override
    {
        parser.AddFlag(fFlag, VString("flag"), VString("a flag"));
        parser.AddPositionalArguments(fPositional);
        fArguments = parser.GetInfos().GetArguments();
        return parser.Parse();
    }
    void QuitAsynchronously(const VString*) override { ++fQuitRequests; }
    void DoRun() override
    {
        fRan = true;
        if (fRun)
            fRun();
    }

    bool fFlag = false;
    bool fRan = false;
    std::function<void()> fRun;
    std::vector<VString> fPositional;
    std::vector<VString> fArguments;
    std::atomic<int> fQuitRequests{0};
};

TEST_F(ProcessTest, CommandLineDecidesInitAndExitCode)
{
    MakeBundle("1.0");
    struct Case {
        std::vector<const char*> argv;
        bool initOK;
        int32_t exitCode;
        bool handlersInstalled;
    } cases[] = {
        {{"prog", "--flag", "-psn_0_12345", "file"}, true, 0, true},
        {{"prog", "--help"}, false, 0, false},
        {{"prog", "--bogus"}, false, 1, false},
        {{"prog"}, true, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv.back());
        DefaultQuitSignals();
        std::vector<char*> argv;
        for (const char* a : c.argv)
            argv.push_back(const_cast<char*>(a));
        sProcessCommandLineArgc = static_cast<int32_t>(argv.size());
        sProcessCommandLineArgv = argv.data();
        {
            ProbeIPC process;
            EXPECT_EQ(&process, VProcessIPC::sInstance);
            EXPECT_EQ(1, process.GetExitCode());
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            EXPECT_EQ(c.initOK, process.Init(0));
            testing::internal::GetCapturedStdout();
            testing::internal::GetCapturedStderr();
            EXPECT_EQ(c.exitCode, process.GetExitCode());
            EXPECT_EQ(c.handlersInstalled, HandlerInstalled(SIGTERM));
            for (const VString& argument : process.fArguments)
                EXPECT_FALSE(argument.BeginsWithRawString(VString("-psn_")));
            if (c.argv.size() == 4) {
                EXPECT_TRUE(process.fFlag);
                ASSERT_EQ(1u, process.fPositional.size());
                EXPECT_EQ(VString("file"), process.fPositional[0]);
            }
        }
        EXPECT_EQ(nullptr, VProcessIPC::sInstance);
        VProcess::sInstance = fSaved;
    }
}

TEST_F(ProcessTest, NotifiersOfTheIPCFrame)
{
    MakeBundle("1.0");
    sProcessCommandLineArgc = 0;
    for (uint32_t flags : {0u, VProcess::kInitCreateFileSystemNotifier}) {
        SCOPED_TRACE(flags);
        {
            ProbeIPC process;
            EXPECT_EQ(nullptr, process.GetSleepNotifier());
            ASSERT_TRUE(process.Init(flags));
            // The change notifier only when asked; the sleep notifier always.
            EXPECT_EQ(process.GetFileSystemNotifier(), VFileSystemNotifier::Instance());
            EXPECT_EQ(flags != 0, process.GetFileSystemNotifier() != nullptr);
            EXPECT_NE(nullptr, process.GetSleepNotifier());
            EXPECT_EQ(process.GetSleepNotifier(), VSleepNotifier::Instance());
        }
        EXPECT_EQ(nullptr, VFileSystemNotifier::Instance());
        EXPECT_EQ(nullptr, VSleepNotifier::Instance());
        VProcess::sInstance = fSaved;
    }
}

TEST_F(ProcessTest, QuitSignalsAskTheRunningProcessToQuit)
{
    MakeBundle("1.0");
    int code = RunInChild(fTemp.Path("races"), [] {
        ProbeIPC process;
        if (!process.Init(0))
            return 10;
        for (int signal : {SIGTERM, SIGINT, SIGQUIT}) {
            if (!HandlerInstalled(signal))
                return 11;
        }
        int result = 0;
        process.fRun = [&] {
            raise(SIGTERM);
            if (WaitForCount(process.fQuitRequests, 1) != 1) {
                result = 12;
                return;
            }
            testing::internal::CaptureStdout();
            raise(SIGINT);
            int count = WaitForCount(process.fQuitRequests, 2);
            if (testing::internal::GetCapturedStdout() != XPosixProcessIPC::kInterruptMessage)
                result = 13;
            else if (count != 2)
                result = 14;
            // SIGQUIT is handled once, then goes back to its default action.
            raise(SIGQUIT);
            if (result == 0 && WaitForCount(process.fQuitRequests, 3) != 3)
                result = 15;
            else if (result == 0 && HandlerInstalled(SIGQUIT))
                result = 16;
        };
        process.Run();
        return process.fRan ? result : 17;
    });
    EXPECT_EQ(0, code);
}

TEST_F(ProcessTest, QuitSignalBeforeRunEndsTheMainTaskWithoutReachingTheObject)
{
    MakeBundle("1.0");
    int code = RunInChild(fTemp.Path("races"), [] {
        ProbeIPC process;
        if (!process.Init(0))
            return 10;
        raise(SIGTERM);
        for (int i = 0; i < 500 && process.IsRunning(); ++i)
            usleep(10000);
        if (process.IsRunning())
            return 11;
        process.Run();
        if (process.fRan)
            return 12;
        return process.fQuitRequests.load() == 0 ? 0 : 13;
    });
    EXPECT_EQ(0, code);
}

// A process whose teardown is slow, counting quit requests that reach it
// while its destruction has begun, and telling when its DoRun began.
std::atomic<int> gQuitsWhileTornDown{0};
std::atomic<bool> gRunBegan{false};

class SlowTeardownIPC : public VProcessIPC {
public:
    ~SlowTeardownIPC() override
    {
        fWhole.store(false);
        // Slept out whole: the signals would cut a plain sleep short.
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        while (std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_until(end);
    }
    void DoRun() override
    {
        gRunBegan.store(true);
        WaitForCount(fQuitRequests, 1);
    }
    void QuitAsynchronously(const VString* text) override
    {
        if (!fWhole.load())
            ++gQuitsWhileTornDown;
        ++fQuitRequests;
        VProcessIPC::QuitAsynchronously(text);
    }

    std::atomic<bool> fWhole{true};
    std::atomic<int> fQuitRequests{0};
};

TEST_F(ProcessTest, QuitSignalsDuringTheProcessTeardownReachNothing)
{
    MakeBundle("1.0");
    int code = RunInChild(fTemp.Path("races"), [] {
        std::optional<SlowTeardownIPC> process(std::in_place);
        if (!process->Init(0))
            return 10;
        // From the start of DoRun until the object is gone, SIGTERM keeps
        // coming. Not before: a signal before Run ends the main task without
        // reaching the object (see the test above), and Run then runs nothing.
        std::atomic<bool> hammering{true};
        std::thread hammer([&] {
            while (!gRunBegan.load())
                usleep(100);
            while (hammering.load()) {
                kill(getpid(), SIGTERM);
                usleep(200);
            }
        });
        process->Run();
        gRunBegan.store(true);  // a Run that never began DoRun leaves no hammer waiting
        int quits = process->fQuitRequests.load();
        process.reset();
        hammering.store(false);
        hammer.join();
        if (quits == 0)
            return 11;
        return gQuitsWhileTornDown.load() == 0 ? 0 : 12;
    });
    EXPECT_EQ(0, code);
}

TEST_F(ProcessTest, SecondQuitSignalEndsTheProcess)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        XPosixProcessIPC handlers;
        if (!handlers.Init())
            _exit(2);
        raise(SIGQUIT);
        usleep(100000);
        raise(SIGQUIT);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(SIGQUIT, WTERMSIG(status));
}

}  // namespace
}  // namespace bkit
