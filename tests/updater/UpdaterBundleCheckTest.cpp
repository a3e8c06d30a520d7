// UpdaterBundleCheckTest.cpp - up-to-date bundles whose restart cannot work, refused by the built updater and by "open".
#include <gtest/gtest.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/StMount.h"
#include "support/TempFolder.h"
#include "updater/UpdaterTestSupport.h"

namespace bkit {
namespace {

struct Outcome {
    int32_t exitCode;
    std::string err;
};

// A bundle the restart would run something outside of, or nothing at all.
struct SpoiledBundle {
    const char* what;
    void (*spoil)(const test::TempFolder&);
    const char* named;  // what the log's reason names, below the temporary folder
};

class UpdaterBundleCheckTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        fTemp.MakeFolder("xdg");
    }

    // Runs program with our "open" first on PATH, the Trash below the
    // temporary folder and no graphical session, so that a notice goes to
    // standard error and is answered at once.
    Outcome Run(const std::string& program, const std::vector<std::string>& args)
    {
        test::LaunchedRun run = test::RunLaunched(fTemp, program, args);
        EXPECT_EQ(0, run.result);
        return {run.exitCode, run.err};
    }

    // Old.app, and the downloaded dl/New.app with "tool" beside it; the
    // executables leave "ran-old", "ran-new" and "ran-tool" when they run.
    void MakeBundles()
    {
        for (const char* name : {"Old.app", "dl", "logs", "ran-old", "ran-new", "ran-tool"})
            test::TempFolder::RemoveTree(fTemp.Path(name));
        fTemp.MakeFolder("logs");
        fTemp.MakeFolder("dl");
        test::MakeSampleApp(fTemp, "Old.app", "old", Script("ran-old"));
        test::MakeSampleApp(fTemp, "dl/New.app", "new", Script("ran-new"));
        fTemp.WriteFile("dl/tool", Script("ran-tool"), 0755);
    }

    std::string Script(const std::string& marker) const
    {
        return "#!/bin/sh\necho \"ran $*\" > '" + fTemp.Path(marker) + "'\n";
    }

    static void WriteExecutableName(const test::TempFolder& t, const std::string& name)
    {
        t.WriteFile("dl/New.app/Contents/Info.plist", "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n"
                                                   "\t<key>CFBundleExecutable</key>\n\t<string>" +
                                                       name + "</string>\n</dict>\n</plist>\n");
    }

    // The whole content of the temporary folder but the log files.
    std::string Snapshot() const
    {
        std::string all;
        for (const std::string& name : fTemp.List("")) {
            if (name != "logs")
                all += name + "\n" + test::TreeText(fTemp.Path(name));
        }
        return all;
    }

    // Every log file's content.
    std::string LogText() const { return test::FolderText(fTemp, "logs"); }

    std::string WaitForFile(const std::string& name) const { return test::WaitForFile(fTemp, name); }

    // True when text names the up-to-date bundle by its POSIX path (with or
    // without the final '/' of a folder).
    bool NamesNewBundle(const std::string& text) const
    {
        return text.find("'" + fTemp.Path("dl/New.app") + "'") != std::string::npos ||
               text.find("'" + fTemp.Path("dl/New.app/") + "'") != std::string::npos;
    }

    static const std::vector<SpoiledBundle>& SpoiledBundles()
    {
        static const std::vector<SpoiledBundle> cases = {
            {"executable without any execute permission",
             [](const test::TempFolder& t) { chmod(t.Path("dl/New.app/Contents/MacOS/app").c_str(), 0644); },
             "dl/New.app/Contents/MacOS/app"},
            // Found from the downloaded bundle's place, missing from the
            // installed one's, and outside the bundle either way.
            {"executable name leading out of the bundle",
             [](const test::TempFolder& t) { WriteExecutableName(t, "../../../tool"); }, "dl/New.app"},
            {"executable a link leading out of the bundle",
             [](const test::TempFolder& t) {
                 unlink(t.Path("dl/New.app/Contents/MacOS/app").c_str());
                 t.MakeLink("dl/New.app/Contents/MacOS/app", "../../../tool");
             },
             "dl/New.app/Contents/MacOS/app"},
            // Read through the link now; the installed copy keeps the link,
            // which then dangles, or leads to a file the bundle does not hold.
            {"information list a link climbing out of the bundle",
             [](const test::TempFolder& t) {
                 rename(t.Path("dl/New.app/Contents/Info.plist").c_str(), t.Path("dl/real.plist").c_str());
                 t.MakeLink("dl/New.app/Contents/Info.plist", "../../real.plist");
             },
             "dl/New.app/Contents/Info.plist"},
            {"information list an absolute link",
             [](const test::TempFolder& t) {
                 rename(t.Path("dl/New.app/Contents/Info.plist").c_str(), t.Path("dl/real.plist").c_str());
                 t.MakeLink("dl/New.app/Contents/Info.plist", t.Path("dl/real.plist"));
             },
             "dl/New.app/Contents/Info.plist"},
        };
        return cases;
    }
};

TEST_F(UpdaterBundleCheckTest, UpToDateBundleThatCannotBeRestartedChangesNothing)
{
    for (const SpoiledBundle& c : SpoiledBundles()) {
        SCOPED_TRACE(c.what);
        MakeBundles();
        c.spoil(fTemp);
        std::string before = Snapshot();
        Outcome run = Run(BKIT_UPDATER_PROGRAM, {"--log-dir", fTemp.Path("logs"), fTemp.Path("Old.app"), fTemp.Path("dl/New.app")});
        EXPECT_EQ(2, run.exitCode);
        EXPECT_NE(std::string::npos, run.err.find("The up-to-date application cannot be found at")) << run.err;
        EXPECT_TRUE(NamesNewBundle(run.err)) << run.err;
        // The log says why, naming what the restart would have run.
        std::string log = LogText();
        EXPECT_NE(std::string::npos, log.find(fTemp.Path(c.named) + "'")) << log;
        // Nothing moved, nothing was made, trashed or run.
        EXPECT_EQ(before, Snapshot());
        for (const char* marker : {"ran-old", "ran-new", "ran-tool"})
            EXPECT_FALSE(fTemp.ItemExists(marker)) << marker;
    }
}

TEST_F(UpdaterBundleCheckTest, OpenRefusesABundleWhoseExecutableCannotBeRun)
{
    for (const SpoiledBundle& c : SpoiledBundles()) {
        SCOPED_TRACE(c.what);
        MakeBundles();
        c.spoil(fTemp);
        Outcome run = Run(std::string(BKIT_OPEN_FOLDER) + "/open", {"-a", fTemp.Path("dl/New.app")});
        EXPECT_EQ(1, run.exitCode);
        EXPECT_EQ(0u, run.err.find("open: ")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(fTemp.Path(c.named) + "'")) << run.err;
        // open had nothing to start: it exits 1 only before starting anything.
        for (const char* marker : {"ran-new", "ran-tool"})
            EXPECT_FALSE(fTemp.ItemExists(marker)) << marker;
    }
}

TEST_F(UpdaterBundleCheckTest, LinkedExecutableInsideTheBundleIsInstalledAndRestarted)
{
    struct Case {
        const char* what;
        mode_t mode;       // of the file the link leads to
        bool clientInfo;   // the client customization, which makes it executable, runs
    } cases[] = {
        {"executable file behind the link", 0755, false},
        {"file behind the link made executable by the client customization", 0644, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeBundles();
        test::TempFolder::RemoveTree(fTemp.Path("xdg"));
        fTemp.MakeFolder("xdg");
        fTemp.MakeFolder("dl/New.app/Contents/Resources");
        fTemp.WriteFile("dl/New.app/Contents/Resources/main", Script("ran-new"), c.mode);
        unlink(fTemp.Path("dl/New.app/Contents/MacOS/app").c_str());
        fTemp.MakeLink("dl/New.app/Contents/MacOS/app", "../Resources/main");
        std::vector<std::string> args = {"--log-dir", fTemp.Path("logs"), fTemp.Path("Old.app"), fTemp.Path("dl/New.app")};
        if (c.clientInfo) {
            fTemp.WriteFile("client.json", "{\"ServerPlatform\": \"mac\"}");
            args.insert(args.begin(), {"--client-info", fTemp.Path("client.json")});
        }
        Outcome run = Run(BKIT_UPDATER_PROGRAM, args);
        EXPECT_EQ(0, run.exitCode) << run.err << LogText();
        EXPECT_EQ("new", fTemp.ReadFile("Old.app/Contents/content.txt"));
        EXPECT_EQ("ran \n", WaitForFile("ran-new"));
        struct stat st;
        ASSERT_EQ(0, lstat(fTemp.Path("Old.app/Contents/Resources/main").c_str(), &st));
        EXPECT_EQ(0755u, st.st_mode & 07777);
    }
}

// An ordinary user updates an application in a folder it owns from a
// bundle root downloaded: the copy it makes is its own, and is judged so.
TEST_F(UpdaterBundleCheckTest, AnOrdinaryUsersCopyIsJudgedAsItWillRun)
{
    if (getuid() != 0)
        GTEST_SKIP() << "only root can run the updater as another user here";
    const auto [uid, gid] = test::NobodyIds();
    chmod(fTemp.Path().c_str(), 0755);
    test::ProgramsForOtherUsers programs;
    std::string whyNot;
    if (!test::CopyProgramsForOtherUsers(fTemp, "programs", uid, gid, programs, whyNot))
        GTEST_SKIP() << whyNot;

    struct Case {
        const char* what;
        mode_t mode;     // of root's executable in the downloaded bundle
        bool installed;  // else refused: 'UPQN' 2, the folder of the application as it was
    } cases[] = {
        {"root's executable that only its owner may run", 0744, true},
        // Run by anyone but its owner: the user's own copy it may not run.
        {"root's executable that all but its owner may run", 0055, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::RemoveTree(fTemp.Path("user"));
        MakeBundles();
        chmod(fTemp.Path("dl/New.app/Contents/MacOS/app").c_str(), c.mode);
        for (const char* folder : {"user", "user/Apps", "user/logs", "user/xdg"})
            fTemp.MakeFolder(folder);
        test::MakeSampleApp(fTemp, "user/Apps/Old.app", "old", Script("user/ran-old"));
        fTemp.WriteFile("dl/New.app/Contents/MacOS/app", Script("user/ran-new"));
        ::nftw(fTemp.Path("user").c_str(), [](const char* path, const struct stat*, int, struct FTW*) {
            const auto [user, group] = test::NobodyIds();
            return ::lchown(path, user, group);
        }, 16, FTW_PHYS);
        const std::string apps = test::TreeText(fTemp.Path("user/Apps"));

        int out = open(fTemp.Path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const char* path = getenv("PATH");
        pid_t pid = test::StartProgramAsUser(
            programs.updater,
            {"--log-dir", fTemp.Path("user/logs"), fTemp.Path("user/Apps/Old.app"), fTemp.Path("dl/New.app")},
            {"PATH=" + programs.openFolder + ":" + (path ? path : "/usr/bin:/bin"), "HOME=" + fTemp.Path("user"),
             "XDG_DATA_HOME=" + fTemp.Path("user/xdg"), "DISPLAY=", "WAYLAND_DISPLAY=", "BKIT_NOTICE_DIR="},
            uid, gid, out);
        close(out);
        int status = pid > 0 ? test::WaitForProgram(pid, 120000) : -1;
        const std::string said = fTemp.ReadFile("out.txt");
        std::string log;
        for (const std::string& name : fTemp.List("user/logs"))
            log += fTemp.ReadFile("user/logs/" + name);
        ASSERT_TRUE(status != -1 && WIFEXITED(status)) << status;

        if (c.installed) {
            EXPECT_EQ(0, WEXITSTATUS(status)) << said << log;
            EXPECT_EQ("new", fTemp.ReadFile("user/Apps/Old.app/Contents/content.txt"));
            EXPECT_EQ("ran \n", WaitForFile("user/ran-new"));
            struct stat st;
            ASSERT_EQ(0, lstat(fTemp.Path("user/Apps/Old.app/Contents/MacOS/app").c_str(), &st));
            EXPECT_EQ(uid, st.st_uid);
            EXPECT_EQ(0744u, st.st_mode & 07777);
        } else {
            EXPECT_EQ(2, WEXITSTATUS(status)) << said << log;
            // The application is as it was, with nothing left beside it.
            EXPECT_EQ(apps, test::TreeText(fTemp.Path("user/Apps")));
            EXPECT_NE(std::string::npos,
                      log.find("The up-to-date application cannot be found at '" + fTemp.Path("dl/New.app/") + "'"))
                << log;
            EXPECT_NE(std::string::npos,
                      log.find("the executable '" + fTemp.Path("dl/New.app/Contents/MacOS/app") +
                               "' may not be run by this user"))
                << log;
            EXPECT_FALSE(fTemp.ItemExists("user/ran-new"));
        }
        EXPECT_FALSE(fTemp.ItemExists("user/ran-old"));
    }
}

// The copy runs where it is installed: on a volume that runs nothing, the
// update would install an application that cannot start.
TEST_F(UpdaterBundleCheckTest, CopyThatCouldNotRunWhereItIsInstalledChangesNothing)
{
    MakeBundles();
    test::StTmpfs mount(fTemp.Path("mnt"));
    if (!mount.IsMounted())
        GTEST_SKIP() << "no tmpfs can be mounted here: " << strerror(mount.GetError());
    test::MakeSampleApp(fTemp, "mnt/Old.app", "old", Script("ran-old"));
    if (::mount("tmpfs", fTemp.Path("mnt").c_str(), "tmpfs", MS_REMOUNT | MS_NOEXEC, "size=16m") != 0)
        GTEST_SKIP() << "the tmpfs cannot be made noexec: " << strerror(errno);
    const std::string before = test::TreeText(fTemp.Path("mnt"));

    Outcome run = Run(BKIT_UPDATER_PROGRAM,
                      {"--log-dir", fTemp.Path("logs"), fTemp.Path("mnt/Old.app"), fTemp.Path("dl/New.app")});
    EXPECT_EQ(2, run.exitCode) << run.err;
    // Nothing changed at the application's path, nothing left beside it.
    EXPECT_EQ(before, test::TreeText(fTemp.Path("mnt")));
    const std::string log = LogText();
    EXPECT_NE(std::string::npos,
              log.find("The up-to-date application cannot be found at '" + fTemp.Path("dl/New.app/") + "'"))
        << log;
    EXPECT_NE(std::string::npos, log.find("the executable '" + fTemp.Path("dl/New.app/Contents/MacOS/app") +
                                          "' may not be run by this user"))
        << log;
    for (const char* marker : {"ran-old", "ran-new"})
        EXPECT_FALSE(fTemp.ItemExists(marker)) << marker;
}

}  // namespace
}  // namespace bkit
