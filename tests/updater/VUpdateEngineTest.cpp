// VUpdateEngineTest.cpp - the updater's command line, wait, free name, swap with roll-back, restart and client files.
#include <gtest/gtest.h>

#include <limits.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FolderLock.h"
#include "basekit/process/VCommandLineParser.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/xml/VLocalizationManager.h"
#include "process/ProcessTestSupport.h"
#include "support/TempFolder.h"
#include "support/UserChild.h"
#include "updater/UpdaterTestSupport.h"
#include "updater/VUpdateEngine.h"
#include "updater/VUpdateEngineErrorText.h"

namespace bkit {
namespace {

std::string Posix(const VFilePath& path)
{
    VString text;
    path.GetPosixPath(text);
    return to_string(text);
}

class UpdaterTest : public test::UpdateEngineTest {
protected:
    struct Parsed {
        int32_t result;
        std::string out;
        std::string err;
    };
    Parsed Parse(std::initializer_list<const char*> args)
    {
        std::vector<VString> list = {VString("updater")};
        for (const char* a : args)
            list.emplace_back(a);
        VCommandLineParser parser(list);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int32_t result = fEngine->DoParseCommandLine(parser);
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        return {result, out, err};
    }

    void MakeApp(const std::string& name, const std::string& content, mode_t executableMode = 0755)
    {
        test::MakeSampleApp(fTemp, name, content, "#!/bin/sh\n", executableMode);
    }

    // Swaps Name.app for the bundle upToDateName; the set-aside bundle, or null.
    VRefPtr<VFolder> Swap(const std::string& upToDateName = "New.app")
    {
        VFolder outdated(fTemp.FolderPath("Name.app")), upToDate(fTemp.FolderPath(upToDateName)),
            install(fTemp.FolderPath("Name.app"));
        return VRefPtr<VFolder>::Adopt(fEngine->_SwapApplications(outdated, upToDate, install));
    }

    // The items of the test's folder, less the Trash's and the restart
    // command's folders.
    std::vector<std::string> Items()
    {
        std::vector<std::string> items = fTemp.List("");
        std::erase_if(items, [](const std::string& name) { return name == "xdg" || name == "bin"; });
        return items;
    }

    // The contents.txt of every bundle in the Trash, sorted.
    std::vector<std::string> TrashedContents()
    {
        std::vector<std::string> contents;
        for (const std::string& name : fTemp.List("xdg/Trash/files"))
            contents.push_back(fTemp.ReadFile("xdg/Trash/files/" + name + "/Contents/content.txt"));
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    // The whole update of outdatedName by upToDateName, as a run does it,
    // with a restart command that succeeds; the error it leaves.
    VError ApplyUpdate(const std::string& outdatedName, const std::string& upToDateName)
    {
        fTemp.MakeFolder("bin");
        fTemp.WriteFile("bin/open", "#!/bin/sh\nexit 0\n", 0755);
        EXPECT_EQ(0, Parse({fTemp.Path(outdatedName).c_str(), fTemp.Path(upToDateName).c_str()}).result);
        StErrorContextInstaller errors(true, true);
        test::StEnvironmentVariable path("PATH", fTemp.Path("bin") + ":/usr/bin:/bin");
        fEngine->_ApplyUpdate();
        return errors.GetLastError();
    }
};

TEST_F(UpdaterTest, CommandLineMessagesAndResults)
{
    const std::string missingBoth = "mismatched value for option --uptodate-app\n\nmismatched value for option --outdated-app\n\n";
    struct Case {
        std::initializer_list<const char*> args;
        int32_t result;
        std::string err;
    } cases[] = {
        {{}, 1, missingBoth},
        {{"--silent", "--pid", "12"}, 1, missingBoth},
        {{"/a/Old.app"}, 1, "not enough arguments from the command line (required <dest> <src>)\n\n"},
        {{"/a", "/b", "/c"}, 1, "two many arguments from the command line\n"},
        {{"--outdated-app", "/x/Other.app", "/a/Old.app", "/b/New.app"}, 1, "mismatched value for option --outdated-app\n\n"},
        {{"--uptodate-app", "/x/Other.app", "/a/Old.app", "/b/New.app"}, 1, "mismatched value for option --uptodate-app\n\n"},
        {{"--uptodate-app=/b/New.app"}, 1, "mismatched value for option --outdated-app\n\n"},
        {{"--version", "--bogus"}, 1, "error: unknown option `bogus`\n"},
        // After a blank a negative number is no value: the next plain argument is.
        {{"--pid", "-5", "/a/Old.app", "/b/New.app"}, 1,
         "invalid value for argument '--pid' got \"/a/Old.app\" expected a signed integral\n"},
        {{"--pid=-5", "/a/Old.app", "/b/New.app"}, 0, ""},
        {{"--outdated-app", "/a/Old.app", "/a/Old.app", "/b/New.app"}, 0, ""},
        {{"--outdated-app=/a/Old.app", "--uptodate-app=/b/New.app"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        Parsed parsed = Parse(c.args);
        EXPECT_EQ(c.result, parsed.result);
        EXPECT_EQ(c.err, parsed.err);
    }
}

TEST_F(UpdaterTest, CommandLineFillsTheEngine)
{
    Parsed parsed = Parse({"--pid", "0123", "--caller-log", "yes", "--log-dir", "/var/logs", "--restart-params",
                           "/p/link.json", "--client-info", "/c/client.json", "--install-path", "/ignored",
                           "--restart-headless", "--silent", "/a/Old.app", "/b/New.app/"});
    ASSERT_EQ(0, parsed.result) << parsed.err;
    EXPECT_EQ(83, fEngine->GetCallerPid());  // base detection: octal
    EXPECT_TRUE(fEngine->GetLogProgressToCaller());
    EXPECT_TRUE(fEngine->GetSilent());
    EXPECT_TRUE(fEngine->GetRestartHeadless());
    EXPECT_EQ("/a/Old.app/", Posix(fEngine->GetOutdatedApp()));
    EXPECT_EQ("/b/New.app/", Posix(fEngine->GetUpToDateApp()));
    EXPECT_EQ(fEngine->GetOutdatedApp(), fEngine->GetInstallApp());
    EXPECT_EQ("/var/logs/", Posix(fEngine->GetLogFolder()));
    EXPECT_EQ("/p/link.json", Posix(fEngine->GetRestartParams()));
    EXPECT_EQ("/c/client.json", Posix(fEngine->GetClientInfoFile()));

    // The defaults come back with every parse; a log folder with its "/" is the same.
    parsed = Parse({"--log-dir=/var/logs/", "/a/Old.app", "/b/New.app"});
    ASSERT_EQ(0, parsed.result);
    EXPECT_EQ(-1, fEngine->GetCallerPid());
    EXPECT_FALSE(fEngine->GetSilent());
    EXPECT_FALSE(fEngine->GetRestartHeadless());
    EXPECT_EQ("/var/logs/", Posix(fEngine->GetLogFolder()));

    parsed = Parse({"--version"});
    EXPECT_EQ(2, parsed.result);
    EXPECT_EQ(to_string(fEngine->GetProductVersion()) + "\n", parsed.out);
}

TEST_F(UpdaterTest, RelativeOptionPathsAreReadAgainstTheCurrentFolder)
{
    fTemp.MakeFolder("work");
    char saved[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(saved, sizeof(saved)));
    ASSERT_EQ(0, chdir(fTemp.Path("work").c_str()));

    Parsed parsed = Parse({"--client-info", "client.json", "--restart-params", "../params/./link.json", "--log-dir",
                           "logs", "/a/Old.app", "/b/New.app"});
    EXPECT_EQ(0, parsed.result) << parsed.err;
    EXPECT_EQ(fTemp.Path("work/client.json"), Posix(fEngine->GetClientInfoFile()));
    EXPECT_EQ(fTemp.Path("params/link.json"), Posix(fEngine->GetRestartParams()));
    EXPECT_EQ(fTemp.Path("work/logs/"), Posix(fEngine->GetLogFolder()));

    // A text that still gives no usable path is refused.
    std::string above = "../../../../../../../../../../../../../../../../../../../../../../../../x";
    struct Case {
        const char* option;
        std::string text;
    } cases[] = {
        {"--client-info", "settings/"},
        {"--restart-params", "."},
        {"--log-dir", above},
        {"--client-info", above},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        parsed = Parse({c.option, c.text.c_str(), "/a/Old.app", "/b/New.app"});
        EXPECT_EQ(1, parsed.result);
        EXPECT_EQ(std::string("invalid path for option ") + c.option + "\n\n", parsed.err);
    }
    ASSERT_EQ(0, chdir(saved));
}

TEST_F(UpdaterTest, UsageTextListsTheOptionsInOrder)
{
    Parsed parsed = Parse({"--help"});
    EXPECT_EQ(2, parsed.result);
    const std::string& usage = parsed.out;
    EXPECT_EQ(0u, usage.find("Usage: updater [OPTION]... [FILE]...\n\nZanth Updater\nUpdates an existing"));
    size_t at = 0;
    for (const char* option : {"--pid=VALUE", "--silent", "--install-path=VALUE", "--restart-params=VALUE",
                               "--caller-log=VALUE", "--log-dir=VALUE", "--client-info=VALUE", "--outdated-app=VALUE",
                               "--uptodate-app=VALUE", "--restart-headless", "\nHelp:\n", "--version", "--help"}) {
        size_t found = usage.find(option, at);
        ASSERT_NE(std::string::npos, found) << option;
        at = found + 1;
    }
    EXPECT_EQ(std::string::npos, usage.find('\t'));
    EXPECT_NE(std::string::npos, usage.find("      --help                  Display the help and exit\n"));
}

TEST_F(UpdaterTest, FreeNameForTheOldBundle)
{
    MakeApp("Name.app", "old");
    VFilePath free;
    VString suffix("old");
    EXPECT_TRUE(fEngine->_ComputeTempFolderPath(fTemp.FolderPath("Name.app"), free, &suffix));
    EXPECT_EQ(fTemp.Path("Name_old0001.app/"), Posix(free));
    fTemp.MakeFolder("Name_old0001.app");
    EXPECT_TRUE(fEngine->_ComputeTempFolderPath(fTemp.FolderPath("Name.app"), free, &suffix));
    EXPECT_EQ(fTemp.Path("Name_old0002.app/"), Posix(free));
    EXPECT_TRUE(fEngine->_ComputeTempFolderPath(fTemp.FolderPath("Name.app"), free, nullptr));
    EXPECT_EQ(fTemp.Path("Name0001.app/"), Posix(free));
}

TEST_F(UpdaterTest, SwapSetsTheOldBundleAsideAndInstallsTheNewOne)
{
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    StErrorContextInstaller errors(true, true);
    VRefPtr<VFolder> setAside = Swap();
    ASSERT_TRUE(setAside);
    EXPECT_EQ(VE_OK, errors.GetLastError());
    EXPECT_EQ(fTemp.Path("Name_old0001.app/"), Posix(setAside->GetPath()));
    EXPECT_EQ("old", fTemp.ReadFile("Name_old0001.app/Contents/content.txt"));
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ("new", fTemp.ReadFile("New.app/Contents/content.txt"));
    EXPECT_EQ((std::vector<std::string>{"Name.app", "Name_old0001.app", "New.app"}), fTemp.List(""));
}

TEST_F(UpdaterTest, SwapRefusesTheSameOrANestedBundle)
{
    MakeApp("Name.app", "old");
    MakeApp("Name.app/Contents/New.app", "new");
    for (const char* upToDateName : {"Name.app", "Name.app/Contents/New.app"}) {
        SCOPED_TRACE(upToDateName);
        VFolder outdated(fTemp.FolderPath("Name.app")), upToDate(fTemp.FolderPath(upToDateName)),
            install(fTemp.FolderPath("Name.app"));
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(nullptr, fEngine->_SwapApplications(outdated, upToDate, install));
        EXPECT_EQ(VE_UPDATER_SAME_OR_NESTED_APPS, errors.GetLastError());
        EXPECT_FALSE(fTemp.ItemExists("Name_old0001.app"));
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
    }
}

TEST_F(UpdaterTest, FailedCopyOrExchangeRollsBack)
{
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    VFolder outdated(fTemp.FolderPath("Name.app")), upToDate(fTemp.FolderPath("New.app")),
        install(fTemp.FolderPath("Name.app"));
    struct Case {
        const char* what;
        FaultOperation op;
        int nth;
        bool removalFails;  // the copy's own removal of its partial copy fails
    } cases[] = {
        {"copy", FaultOperation::kCopy, 2, false},
        {"copy that cannot remove its partial copy", FaultOperation::kCopy, 2, true},
        // The first rename puts the finished copy under its staging name; the
        // second is the exchange.
        {"exchange", FaultOperation::kRename, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StErrorContextInstaller errors(true, true);
        StFaultSeam fault(c.op, c.nth, ENOSPC);
        if (c.removalFails)
            FaultSeam::Arm(FaultOperation::kDelete, 2, EBUSY);
        EXPECT_EQ(nullptr, fEngine->_SwapApplications(outdated, upToDate, install));
        EXPECT_EQ(VE_UPDATER_COPY_FAILED, errors.GetLastError());
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        // Neither a set-aside bundle nor any partial copy is left.
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app"}), fTemp.List(""));
    }
}

TEST_F(UpdaterTest, StagedCopyThatWouldNotStartRollsBack)
{
    // The copy is judged before it takes the application's place, whatever
    // was checked of the up-to-date bundle before.
    struct Case {
        const char* what;
        void (*spoil)(const test::TempFolder&);
    } cases[] = {
        {"executable this process may not run",
         [](const test::TempFolder& t) { chmod(t.Path("New.app/Contents/MacOS/app").c_str(), 0644); }},
        {"information list a link leading out of the bundle",
         [](const test::TempFolder& t) {
             rename(t.Path("New.app/Contents/Info.plist").c_str(), t.Path("real.plist").c_str());
             t.MakeLink("New.app/Contents/Info.plist", "../../real.plist");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : {"Name.app", "New.app", "real.plist"})
            test::TempFolder::RemoveTree(fTemp.Path(name));
        MakeApp("Name.app", "old");
        MakeApp("New.app", "new");
        c.spoil(fTemp);
        const std::vector<std::string> before = fTemp.List("");
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(nullptr, Swap().Get());
        EXPECT_EQ(VE_UPDATER_UPTODATE_APP_MISSING, errors.GetLastError());
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        // The copy went; nothing else was made.
        EXPECT_EQ(before, fTemp.List(""));
    }
}

// A process id that no process has: a child that has ended and was collected.
pid_t GonePid()
{
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST_F(UpdaterTest, SwapClearsWhatAStoppedRunLeft)
{
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    MakeApp("Name.app", "mid");
    MakeApp("New.app", "new");
    // The run stopped right after its exchange: the application it replaced
    // bears the staging name; or in the middle of an exchange made of
    // renames, once the new bundle stood at the path.
    MakeApp(".Name.app.uptodate", "old");
    MakeApp(".Name.app.uptodate2", "older");
    MakeApp(".Name.app.bkit-aside", "oldest");
    // Partial copies: of a process that is gone and of one whose pid is in
    // use (in another pid namespace it could be anyone's): the folder's lock,
    // which this run holds, says both runs have stopped. An item that only
    // looks like one stays.
    const std::string gone = ".bkit-copy-" + std::to_string(GonePid()) + "-0-0";
    const std::string running = ".bkit-copy-" + std::to_string(getppid()) + "-0-0";
    fTemp.MakeFolder(gone);
    fTemp.WriteFile(gone + "/part", "partial");
    fTemp.WriteFile(".bkit-copy-" + std::to_string(GonePid()) + "-3-1", "partial file");
    fTemp.MakeFolder(running);
    fTemp.MakeFolder(".bkit-copy-notes");

    StErrorContextInstaller errors(true, true);
    VRefPtr<VFolder> setAside = Swap();
    ASSERT_TRUE(setAside);
    EXPECT_EQ(VE_OK, errors.GetLastError());
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ("mid", fTemp.ReadFile("Name_old0001.app/Contents/content.txt"));
    EXPECT_EQ((std::vector<std::string>{".bkit-copy-notes", "Name.app", "Name_old0001.app", "New.app", "xdg"}),
              fTemp.List(""));
    // The staging folders and the bundle aside went to the Trash as bundles
    // set aside.
    for (const std::string& name : fTemp.List("xdg/Trash/files"))
        EXPECT_EQ(0u, name.find("Name_old000")) << name;
    EXPECT_EQ((std::vector<std::string>{"old", "older", "oldest"}), TrashedContents());
}

TEST_F(UpdaterTest, UpToDateBundleAtTheStagingNameIsInstalledAndKept)
{
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    MakeApp("Name.app", "old");
    MakeApp(".Name.app.uptodate", "new");
    StErrorContextInstaller errors(true, true);
    VRefPtr<VFolder> setAside = Swap(".Name.app.uptodate");
    ASSERT_TRUE(setAside);
    EXPECT_EQ(VE_OK, errors.GetLastError());
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ("new", fTemp.ReadFile(".Name.app.uptodate/Contents/content.txt"));
    EXPECT_EQ((std::vector<std::string>{".Name.app.uptodate", "Name.app", "Name_old0001.app"}), fTemp.List(""));
}

TEST_F(UpdaterTest, LeftoversThatCannotGoToTheTrashKeepTheirNames)
{
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    MakeApp("New.app", "new");
    for (bool both : {false, true}) {
        SCOPED_TRACE(both);
        test::TempFolder::RemoveTree(fTemp.Path("Name.app"));
        test::TempFolder::RemoveTree(fTemp.Path("Name_old0001.app"));
        MakeApp("Name.app", "old");
        MakeApp(".Name.app.uptodate", "stale");
        if (both)
            MakeApp(".Name.app.uptodate2", "stale2");
        StErrorContextInstaller errors(true, true);
        // Nothing takes them to the Trash (another user's, say); nothing
        // deletes them either.
        FaultSeam::ArmAlways(FaultOperation::kTrash, EPERM);
        VRefPtr<VFolder> setAside = Swap();
        FaultSeam::DisarmAll();
        EXPECT_EQ("stale", fTemp.ReadFile(".Name.app.uptodate/Contents/content.txt"));
        if (!both) {
            // The new bundle is staged under the other name.
            ASSERT_TRUE(setAside);
            EXPECT_EQ(VE_OK, errors.GetLastError());
            EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
            EXPECT_EQ("old", fTemp.ReadFile("Name_old0001.app/Contents/content.txt"));
            EXPECT_EQ((std::vector<std::string>{".Name.app.uptodate", "Name.app", "Name_old0001.app", "New.app"}),
                      fTemp.List(""));
        } else {
            // No staging name is free: the swap stops before its copy, with
            // what failed to clear them beneath, and nothing changed.
            EXPECT_FALSE(setAside);
            EXPECT_EQ(VE_UPDATER_COPY_FAILED, errors.GetLastError());
            EXPECT_LT(1u, errors.GetContext()->GetErrorCount());
            EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
            EXPECT_EQ("stale2", fTemp.ReadFile(".Name.app.uptodate2/Contents/content.txt"));
            EXPECT_EQ((std::vector<std::string>{".Name.app.uptodate", ".Name.app.uptodate2", "Name.app", "New.app"}),
                      fTemp.List(""));
        }
    }
}

TEST_F(UpdaterTest, FileOrLinkAtTheStagingNameIsClearedAndTheUpdateGoesOn)
{
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    MakeApp("New.app", "new");
    fTemp.MakeFolder("Keep");
    fTemp.WriteFile("Keep/kept", "kept");
    struct Case {
        const char* what;
        void (*make)(const test::TempFolder&);
        bool trashed;
    } cases[] = {
        {"file", [](const test::TempFolder& t) { t.WriteFile(".Name.app.uptodate", "a file"); }, true},
        {"dangling link", [](const test::TempFolder& t) { t.MakeLink(".Name.app.uptodate", "Nowhere"); }, false},
        {"link to a folder", [](const test::TempFolder& t) { t.MakeLink(".Name.app.uptodate", "Keep"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(fTemp.Path("Name.app"));
        test::TempFolder::RemoveTree(fTemp.Path("Name_old0001.app"));
        test::TempFolder::RemoveTree(fTemp.Path("xdg"));
        MakeApp("Name.app", "old");
        c.make(fTemp);
        StErrorContextInstaller errors(true, true);
        ASSERT_TRUE(Swap());
        EXPECT_EQ(VE_OK, errors.GetLastError());
        EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ((std::vector<std::string>{"Keep", "Name.app", "Name_old0001.app", "New.app"}), Items());
        // A link is removed, never followed.
        EXPECT_EQ("kept", fTemp.ReadFile("Keep/kept"));
        EXPECT_EQ(c.trashed ? 1u : 0u, fTemp.List("xdg/Trash/files").size());
    }
}

TEST_F(UpdaterTest, TheSameBundleThroughALinkIsRefused)
{
    MakeApp("Name.app", "old");
    MakeApp("Name.app/Contents/New.app", "new");
    fTemp.MakeLink("Same.app", "Name.app");
    fTemp.MakeFolder("A");
    fTemp.MakeLink("A/Same.app", "../Name.app");
    fTemp.MakeLink("Inner.app", "Name.app/Contents/New.app");
    fTemp.MakeLink("Through", "Name.app");
    for (const char* upToDateName : {"Same.app", "A/Same.app", "Inner.app", "Through/Contents/New.app"}) {
        SCOPED_TRACE(upToDateName);
        StErrorContextInstaller errors(true, true);
        EXPECT_FALSE(Swap(upToDateName));
        EXPECT_EQ(VE_UPDATER_SAME_OR_NESTED_APPS, errors.GetLastError());
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ((std::vector<std::string>{"A", "Inner.app", "Name.app", "Same.app", "Through"}), fTemp.List(""));
    }
}

uint32_t gFakeNow = 0;
void AdvanceFakeClock(int ms)
{
    gFakeNow += static_cast<uint32_t>(ms);
}
uint32_t FakeClock()
{
    return gFakeNow;
}

// On a file system without the one-step exchange (EINVAL, as NFS, SMB or
// exFAT answer), the exchange is three renames. However a run stops or fails
// among them, an application stands at its path once the next run in the
// folder has started, whatever that run updates, and the old application
// only ever goes to the Trash.
TEST_F(UpdaterTest, ExchangeMadeOfRenamesStoppedAtEachStepLosesNoApplication)
{
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    for (int step = 1; step <= 3; ++step) {
        SCOPED_TRACE(step);
        for (const std::string& name : fTemp.List(""))
            test::TempFolder::RemoveTree(fTemp.Path(name));
        MakeApp("Name.app", "old");
        MakeApp("New.app", "new");
        MakeApp("Other.app", "other old");
        MakeApp("OtherNew.app", "other new");

        pid_t child = fork();
        if (child == 0) {
            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
            FaultSeam::ArmStop(FaultOperation::kExchangeStep, step);
            Swap();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status));
        // Stopped after the first rename, the run left no application at its
        // path: only the old one aside and the new one staged.
        EXPECT_EQ(step != 2, fTemp.ItemExists("Name.app"));

        // An update of another application in the folder puts it back.
        EXPECT_EQ(VE_OK, ApplyUpdate("Other.app", "OtherNew.app"));
        EXPECT_EQ("other new", fTemp.ReadFile("Other.app/Contents/content.txt"));
        const std::string now = fTemp.ReadFile("Name.app/Contents/content.txt");
        EXPECT_EQ(step == 3 ? "new" : "old", now);
        EXPECT_EQ(test::TreeText(fTemp.Path(now == "new" ? "New.app" : "Name.app")), test::TreeText(fTemp.Path("Name.app")));

        // The same update again ends with the new application at the path,
        // nothing hidden beside it, and the old one in the Trash.
        EXPECT_EQ(VE_OK, ApplyUpdate("Name.app", "New.app"));
        EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app", "Other.app", "OtherNew.app"}), Items());
        std::vector<std::string> trashed = TrashedContents();
        EXPECT_NE(trashed.end(), std::find(trashed.begin(), trashed.end(), "old"));
        EXPECT_NE(trashed.end(), std::find(trashed.begin(), trashed.end(), "other old"));
    }
}

TEST_F(UpdaterTest, ExchangeMadeOfRenamesThatFailsRollsBackToTheOldApplication)
{
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    const std::string before = test::TreeText(fTemp.Path("Name.app"));
    struct Case {
        int step;   // the first failing rename
        int count;  // renames failing from there on, the undoing ones included
    } cases[] = {{1, 1}, {2, 1}, {3, 1}, {2, 2}, {3, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.step) + "+" + std::to_string(c.count));
        StErrorContextInstaller errors(true, true);
        FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
        FaultSeam::Arm(FaultOperation::kExchangeStep, c.step, EIO, c.count);
        EXPECT_FALSE(Swap());
        FaultSeam::DisarmAll();
        EXPECT_EQ(VE_UPDATER_COPY_FAILED, errors.GetLastError());
        EXPECT_EQ(before, test::TreeText(fTemp.Path("Name.app")));
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app"}), Items());
    }
}

// Another run holding the folder's lock: set to the Trash, its staging
// folder would make it fail, and its partial copy would be deleted under it.
StFolderLock gHeldLock;
void ReleaseTheLockAtTheThirdWait(int)
{
    static int waits = 0;
    if (++waits == 3)
        gHeldLock.Unlock();
}

TEST_F(UpdaterTest, ARunWaitsForTheRunThatHoldsTheFolderLock)
{
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    MakeApp(".Name.app.uptodate", "staged by the other run");
    fTemp.MakeFolder(".bkit-copy-1-0-0");
    ASSERT_EQ(0, gHeldLock.TryLock(fTemp.Path().c_str()));
    {
        // Held past the wait limit: the run gives up, having changed nothing.
        gFakeNow = 0;
        VUpdateEngine::SetWaitsForTesting(&AdvanceFakeClock, &FakeClock);
        EXPECT_EQ(VE_UPDATER_UPDATE_IN_PROGRESS, ApplyUpdate("Name.app", "New.app"));
        EXPECT_LE(VUpdateEngine::kWaitLimitMs, gFakeNow);
        EXPECT_EQ((std::vector<std::string>{".Name.app.uptodate", ".bkit-copy-1-0-0", ".bkit-folder-lock", "Name.app",
                                            "New.app"}),
                  Items());
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
    }
    {
        // Released during the wait: the run goes on and clears what the
        // other run left.
        VUpdateEngine::SetWaitsForTesting(&ReleaseTheLockAtTheThirdWait, nullptr);
        EXPECT_EQ(VE_OK, ApplyUpdate("Name.app", "New.app"));
        EXPECT_FALSE(gHeldLock.IsLocked());
        EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app"}), Items());
        EXPECT_EQ((std::vector<std::string>{"old", "staged by the other run"}), TrashedContents());
    }
    // The run let the lock go.
    StFolderLock lock;
    EXPECT_EQ(0, lock.TryLock(fTemp.Path().c_str()));
}

// A user who may only read the application's folder locks whatever it can
// there: the folder itself, and the lock file a killed run of root's left
// (it can open neither that nor any other lock file). Root's update does not
// wait for it, takes the left file over, and leaves nothing beside the
// application.
TEST_F(UpdaterTest, AReaderOfTheFolderHoldsUpNoUpdate)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user";
    ASSERT_EQ(0, chmod(fTemp.Path().c_str(), 0755));
    const test::UserIds reader = test::NobodyUser();
    if (!test::UserCanReach(reader, fTemp.Path()))
        GTEST_SKIP() << "another user cannot reach " << fTemp.Path();
    test::StEnvironmentVariable trash("XDG_DATA_HOME", fTemp.Path("xdg"));
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    pid_t killed = fork();
    if (killed == 0) {
        StFolderLock lock;
        _exit(lock.TryLock(fTemp.Path().c_str()) == 0 ? 0 : 1);  // leaves without letting go
    }
    int status = 0;
    ASSERT_EQ(killed, waitpid(killed, &status, 0));
    ASSERT_EQ(0, status);
    ASSERT_TRUE(fTemp.ItemExists(StFolderLock::kLockFileName));

    const std::string folder = fTemp.Path(), file = fTemp.Path(StFolderLock::kLockFileName);
    test::StUserChild holder(reader, [&] {
        int held = 0;
        int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (dir >= 0 && flock(dir, LOCK_EX | LOCK_NB) == 0)
            held |= 1;
        for (int flags : {O_RDWR, O_RDONLY}) {
            int fd = open(file.c_str(), flags);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
                held |= 2;
        }
        return held;
    });
    ASSERT_EQ(1, holder.Result());  // the folder's flock, and nothing else

    gFakeNow = 0;
    VUpdateEngine::SetWaitsForTesting(&AdvanceFakeClock, &FakeClock);
    EXPECT_EQ(VE_OK, ApplyUpdate("Name.app", "New.app"));
    EXPECT_EQ(0u, gFakeNow) << "the update waited";
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app"}), Items());
}

// Whatever stands at the lock's name and is no file the lock can use is
// named in the error, not the folder; the update changes nothing.
TEST_F(UpdaterTest, AnItemInTheWayOfTheLockIsNamed)
{
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    fTemp.WriteFile("elsewhere", "kept");
    const std::string item = fTemp.Path(StFolderLock::kLockFileName);
    struct Case {
        const char* what;
        std::string shown;  // the path the error names
        bool folder;
    } cases[] = {
        {"folder", item + "/", true},
        {"link", item, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(item);
        ASSERT_EQ(0, c.folder ? mkdir(item.c_str(), 0755) : symlink(fTemp.Path("elsewhere").c_str(), item.c_str()));
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(VE_UPDATER_FOLDER_NOT_LOCKED, ApplyUpdate("Name.app", "New.app"));
        std::string told;
        for (const ToldError& one : TellErrors(errors.GetContext()))
            told += to_string(one.text) + "\n";
        EXPECT_NE(std::string::npos, told.find("'" + c.shown + "'")) << told;
        EXPECT_EQ(std::string::npos, told.find("'" + fTemp.Path() + "/'")) << told;
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ("kept", fTemp.ReadFile("elsewhere"));
        struct stat st;
        ASSERT_EQ(0, lstat(item.c_str(), &st));
        EXPECT_EQ(c.folder ? S_IFDIR : S_IFLNK, st.st_mode & S_IFMT);
    }
}

// A file under the free name makes each attempt to set the old bundle aside
// fail; it goes at the second wait, so that the third attempt succeeds.
std::string gBlocker;
void RemoveBlockerAtSecondWait(int)
{
    static int waits = 0;
    if (++waits == 2)
        unlink(gBlocker.c_str());
}

TEST_F(UpdaterTest, RenameLadder)
{
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    VFolder outdated(fTemp.FolderPath("Name.app")), upToDate(fTemp.FolderPath("New.app")),
        install(fTemp.FolderPath("Name.app"));
    gBlocker = fTemp.Path("Name_old0001.app");
    {
        // Succeeding at the third attempt leaves no error behind.
        fTemp.WriteFile("Name_old0001.app", "in the way");
        VUpdateEngine::SetWaitsForTesting(&RemoveBlockerAtSecondWait, nullptr);
        StErrorContextInstaller errors(true, true);
        VRefPtr<VFolder> setAside = VRefPtr<VFolder>::Adopt(fEngine->_SwapApplications(outdated, upToDate, install));
        EXPECT_TRUE(setAside);
        EXPECT_EQ(VE_OK, errors.GetLastError());
        EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ("old", fTemp.ReadFile("Name_old0001.app/Contents/content.txt"));
    }
    {
        // Five failures: one 'UPQN' 11 for each retried attempt, and the old
        // bundle back at its path with nothing else left.
        test::TempFolder::RemoveTree(fTemp.Path("Name.app"));
        ASSERT_EQ(0, rename(fTemp.Path("Name_old0001.app").c_str(), fTemp.Path("Name.app").c_str()));
        fTemp.WriteFile("Name_old0001.app", "in the way");
        VUpdateEngine::SetWaitsForTesting(&NoSleep, nullptr);
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(nullptr, fEngine->_SwapApplications(outdated, upToDate, install));
        int renameErrors = 0;
        for (VErrorBase* error : errors.GetContext()->GetErrors())
            renameErrors += error->GetError() == VE_UPDATER_RENAME_FAILED ? 1 : 0;
        EXPECT_EQ(4, renameErrors);
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ("in the way", fTemp.ReadFile("Name_old0001.app"));
        EXPECT_FALSE(fTemp.ItemExists(".Name.app.uptodate"));
        EXPECT_FALSE(fTemp.ItemExists("Name_old0002.app"));
    }
}

TEST_F(UpdaterTest, WaitingForTheCaller)
{
    StErrorContextInstaller errors(true, true);
    fEngine->SetCallerPid(-1);
    EXPECT_TRUE(fEngine->_WaitForPidToQuit());

    pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_EQ(child, waitpid(child, nullptr, 0));
    fEngine->SetCallerPid(child);
    EXPECT_TRUE(fEngine->_WaitForPidToQuit());
    EXPECT_EQ(VE_OK, errors.GetLastError());

    // A caller that has exited but that its parent has not collected yet (a
    // zombie) has quit as well: the wait ends at the first poll, well before
    // the limit of a clock that each wait advances.
    child = fork();
    if (child == 0)
        _exit(0);
    siginfo_t info;
    ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT));
    gFakeNow = 0;
    VUpdateEngine::SetWaitsForTesting(&AdvanceFakeClock, &FakeClock);
    fEngine->SetCallerPid(child);
    EXPECT_TRUE(fEngine->_WaitForPidToQuit());
    EXPECT_EQ(VE_OK, errors.GetLastError());
    EXPECT_EQ(uint32_t(VUpdateEngine::kWaitPollMs + VUpdateEngine::kWaitAfterQuitMs), gFakeNow);
    ASSERT_EQ(child, waitpid(child, nullptr, 0));

    // Still there after 60 s (of a clock that each wait advances, starting
    // near its wrap-around).
    gFakeNow = 0xFFFFF000u;
    VUpdateEngine::SetWaitsForTesting(&AdvanceFakeClock, &FakeClock);
    fEngine->SetCallerPid(getpid());
    EXPECT_FALSE(fEngine->_WaitForPidToQuit());
    EXPECT_EQ(VE_UPDATER_WAIT_FAILED, errors.GetLastError());
    EXPECT_EQ(0xFFFFF000u + 60000u, gFakeNow);
}

TEST_F(UpdaterTest, RestartCommandTextAndArguments)
{
    struct Case {
        const char* params;
        bool headless;
        std::string text;
        std::vector<std::string> arguments;
    } cases[] = {
        {nullptr, false, "open -a \"/Apps/My App.app/\"", {"open", "-a", "/Apps/My App.app/"}},
        {nullptr, true, "open -a \"/Apps/My App.app/\" --args --headless",
         {"open", "-a", "/Apps/My App.app/", "--args", "--headless"}},
        {"/p/link.json", false, "open -a \"/Apps/My App.app/\" --args \"/p/link.json\"",
         {"open", "-a", "/Apps/My App.app/", "--args", "/p/link.json"}},
        {"/p/link.json", true, "open -a \"/Apps/My App.app/\" --args \"/p/link.json\" --headless",
         {"open", "-a", "/Apps/My App.app/", "--args", "/p/link.json", "--headless"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VFilePath params;
        if (c.params != nullptr)
            params.FromFullPath(VString(c.params), FPS_POSIX);
        fEngine->SetRestartParams(params);
        fEngine->SetRestartHeadless(c.headless);
        VString text;
        std::vector<VString> arguments;
        fEngine->_BuildRestartCommand(VFilePath(VString("/Apps/My App.app/"), FPS_POSIX), text, arguments);
        EXPECT_EQ(c.text, to_string(text));
        std::vector<std::string> got;
        for (const VString& a : arguments)
            got.push_back(to_string(a));
        EXPECT_EQ(c.arguments, got);
    }
}

TEST_F(UpdaterTest, RestartHandsEachPathAsOneArgument)
{
    // An "open" of our own records what it was given, one argument a line.
    fTemp.MakeFolder("bin");
    fTemp.WriteFile("bin/open", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + fTemp.Path("args") + "\"\n",
                    0755);
    VString app;
    app.FromCString((fTemp.Path("My \"Quoted\" App.app") + "/").c_str());
    StErrorContextInstaller errors(true, true);
    {
        test::StEnvironmentVariable path("PATH", fTemp.Path("bin") + ":/usr/bin:/bin");
        EXPECT_TRUE(fEngine->_LaunchApplication(VFilePath(app, FPS_POSIX)));
    }
    EXPECT_EQ("-a\n" + fTemp.Path("My \"Quoted\" App.app") + "/\n", fTemp.ReadFile("args"));
    EXPECT_EQ(VE_OK, errors.GetLastError());

    // Without any "open": the restart fails with its error.
    {
        test::StEnvironmentVariable path("PATH", fTemp.Path("nothing"));
        EXPECT_FALSE(fEngine->_LaunchApplication(VFilePath(app, FPS_POSIX)));
    }
    EXPECT_EQ(VE_UPDATER_RESTART_FAILED, errors.GetLastError());
}

TEST_F(UpdaterTest, ClientCustomizationChecksItsFileAndFixesTheExecutable)
{
    MakeApp("New.app", "new", 0644);
    struct Case {
        const char* content;
        VError error;
        VError beneath;  // the reader's error under 'UPQN' 41, 0 when none
    } cases[] = {
        {"[1, 2]", VE_UPDATER_CLIENT_INFO_UNUSABLE, VE_OK},
        {"{\"ServerPlatform\": 3}", VE_UPDATER_CLIENT_INFO_UNUSABLE, VE_OK},
        {"{not json", VE_UPDATER_CLIENT_INFO_UNUSABLE, VE_JSON_MALFORMED},
        // Cut short, or no JSON at all: not whole objects, whatever their start reads as.
        {"{\"ServerPlatform\":\"mac\",", VE_UPDATER_CLIENT_INFO_UNUSABLE, VE_JSON_MALFORMED},
        {"{\"ServerPlatform\":\"mac\"", VE_UPDATER_CLIENT_INFO_UNUSABLE, VE_JSON_MALFORMED},
        {"not json", VE_UPDATER_CLIENT_INFO_UNUSABLE, VE_JSON_MALFORMED},
        {"{\"ServerPlatform\": \"mac\"}", VE_OK, VE_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        fTemp.WriteFile("client.json", c.content);
        Parse({"--client-info", fTemp.Path("client.json").c_str(), fTemp.Path("Old.app").c_str(),
               fTemp.Path("New.app").c_str()});
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(c.error == VE_OK, fEngine->_FinishClientCustomization());
        EXPECT_EQ(c.error, errors.GetLastError());
        const VErrorContext::ErrorList& list = errors.GetContext()->GetErrors();
        EXPECT_EQ(c.beneath, list.size() >= 2 ? list[list.size() - 2]->GetError() : VE_OK);
    }
    struct stat st;
    ASSERT_EQ(0, stat(fTemp.Path("New.app/Contents/MacOS/app").c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
}

TEST_F(UpdaterTest, ClientLinkFile)
{
    MakeApp("New.app", "new");
    struct Case {
        const char* content;
        std::string link;
    } cases[] = {
        {"{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"10.0.0.7\", \"BuildIPPort\": \"8080\", "
         "\"PublishName\": \"Sales & <Co>\", \"BuildCacheFolderNameClient\": \"cache\"}",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<database_shortcut is_remote=\"true\" server_database_name=\"Sales &amp; &lt;Co&gt;\" "
         "server_path=\"10.0.0.7:8080\" cache_folder_name=\"cache\" remote_shared_resources=\"false\"/>"},
        {"{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"host\", \"BuildIPPort\": 8080}",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<database_shortcut is_remote=\"true\" server_database_name=\"\" server_path=\"host\" "
         "cache_folder_name=\"\" remote_shared_resources=\"false\"/>"},
        {"{\"ServerPlatform\": \"mac\"}", "<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        test::TempFolder::RemoveTree(fTemp.Path("New.app/Contents/Database"));
        // An older link file is replaced.
        if (c.link != "<missing>") {
            fTemp.MakeFolder("New.app/Contents/Database");
            fTemp.WriteFile("New.app/Contents/Database/ZizozazIzudud.Zanthlink", std::string(4000, 'x'));
        }
        fTemp.WriteFile("client.json", c.content);
        Parse({"--client-info", fTemp.Path("client.json").c_str(), fTemp.Path("Old.app").c_str(),
               fTemp.Path("New.app").c_str()});
        StErrorContextInstaller errors(true, true);
        EXPECT_TRUE(fEngine->_FinishClientCustomization());
        EXPECT_EQ(c.link, fTemp.ReadFile("New.app/Contents/Database/ZizozazIzudud.Zanthlink"));
    }
}

TEST_F(UpdaterTest, ApplyUpdateFallsBackToDeleteWhenTheTrashFails)
{
    MakeApp("Name.app", "old");
    MakeApp("New.app", "new");
    fTemp.MakeFolder("bin");
    fTemp.WriteFile("bin/open", "#!/bin/sh\nexit 0\n", 0755);
    Parse({fTemp.Path("Name.app").c_str(), fTemp.Path("New.app").c_str()});

    StErrorContextInstaller errors(true, true);
    {
        test::StEnvironmentVariable path("PATH", fTemp.Path("bin") + ":/usr/bin:/bin");
        StFaultSeam fault(FaultOperation::kTrash, 1, EXDEV);
        fEngine->_ApplyUpdate();
    }
    // Installed and restarted; the old bundle is gone, yet the failed Trash
    // move stays on the stack, so the run counts as failed.
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_FALSE(fTemp.ItemExists("Name_old0001.app"));
    EXPECT_NE(VE_OK, errors.GetLastError());
    // What the user is shown says the bundle was deleted, not that a folder
    // that is no more cannot be moved.
    EXPECT_EQ(VE_UPDATER_OLD_APP_DELETED, errors.GetLastError());
    EXPECT_EQ(VE_CANNOT_MOVE_FOLDER_TO_TRASH, errors.GetContext()->GetErrors().end()[-2]->GetError());
    // In the words of the built updater's bundle.
    VFilePath bundlePath(VString(BKIT_UPDATER_PROGRAM), FPS_POSIX);
    bundlePath.ToParent().ToParent().ToParent();
    VFolder bundle(bundlePath);
    VRefPtr<VLocalizationManager> texts = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(1033));
    ASSERT_TRUE(texts->LoadDefaultLocalizationFoldersForComponentOrPlugin(&bundle));
    VErrorBase::RegisterLocalizer(kUpdaterSignature, texts.Get());
    const std::string shown = to_string(FailureText(errors.GetContext()));
    VErrorBase::UnregisterLocalizer(kUpdaterSignature);
    EXPECT_NE(std::string::npos, shown.find("deleted")) << shown;
    EXPECT_NE(std::string::npos, shown.find("'" + fTemp.Path("Name_old0001.app") + "/'")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("cannot be moved to the Trash")) << shown;

    // A bundle that cannot be deleted either is still there, and the Trash's
    // error says so.
    MakeApp("New.app", "newer");
    ASSERT_EQ(0, Parse({fTemp.Path("Name.app").c_str(), fTemp.Path("New.app").c_str()}).result);
    StErrorContextInstaller kept(true, true);
    {
        test::StEnvironmentVariable path("PATH", fTemp.Path("bin") + ":/usr/bin:/bin");
        StFaultSeam fault(FaultOperation::kTrash, 1, EXDEV);
        FaultSeam::ArmAlways(FaultOperation::kDelete, EPERM);
        fEngine->_ApplyUpdate();
    }
    EXPECT_EQ("newer", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_TRUE(fTemp.ItemExists("Name_old0001.app"));
    for (VErrorBase* error : kept.GetContext()->GetErrors())
        EXPECT_NE(VE_UPDATER_OLD_APP_DELETED, error->GetError());
}

TEST_F(UpdaterTest, ApplyUpdateStopsOnMissingBundlesAndFailedRestart)
{
    // Missing bundles, and relative texts, which name no bundle at all.
    for (const auto& [outdated, upToDate] : {std::pair{fTemp.Path("Gone.app"), fTemp.Path("Away.app")},
                                             std::pair{std::string("Gone.app"), std::string("rel/Away.app")}}) {
        SCOPED_TRACE(outdated);
        ASSERT_EQ(0, Parse({outdated.c_str(), upToDate.c_str()}).result);
        StErrorContextInstaller errors(true, true);
        fEngine->_ApplyUpdate();
        ASSERT_EQ(2, errors.GetContext()->GetErrorCount());
        EXPECT_EQ(VE_UPDATER_OUTDATED_APP_MISSING, errors.GetContext()->GetFirst()->GetError());
        EXPECT_EQ(VE_UPDATER_UPTODATE_APP_MISSING, errors.GetLastError());
    }
    {
        // A restart that cannot run leaves the new bundle installed and the
        // old one under its set-aside name.
        MakeApp("Name.app", "old");
        MakeApp("New.app", "new");
        Parse({fTemp.Path("Name.app").c_str(), fTemp.Path("New.app").c_str()});
        StErrorContextInstaller errors(true, true);
        {
            test::StEnvironmentVariable path("PATH", fTemp.Path("nothing"));
            fEngine->_ApplyUpdate();
        }
        EXPECT_EQ(VE_UPDATER_RESTART_FAILED, errors.GetLastError());
        EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ("old", fTemp.ReadFile("Name_old0001.app/Contents/content.txt"));
    }
}

}  // namespace
}  // namespace bkit
