// UpdaterErrorTextTest.cpp - the words and the paths of the errors the updater shows and logs.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "support/StMount.h"
#include "support/TempFolder.h"
#include "updater/UpdaterTestSupport.h"
#include "updater/VUpdateEngineErrorText.h"

extern char** environ;

namespace bkit {
namespace {

// --- telling records (no localizer here: codes have no texts of their own) ---

class ErrorTextTest : public test::TempFolderTest {
protected:
    // A record of code with the internal form of these paths of the temporary
    // folder (key, POSIX path inside it).
    VErrorBase* Record(VError code, const std::vector<std::pair<const char*, std::string>>& paths = {})
    {
        VErrorBase* error = new VErrorBase(code);
        for (const auto& [key, name] : paths)
            error->SetString(VString(key), Internal(name));
        return error;
    }
    VString Internal(const std::string& name) const { return fTemp.FilePath(name).GetPath(); }
    // What the user reads for a POSIX path inside the temporary folder.
    std::string Shown(const std::string& name) const { return "'" + fTemp.Path(name) + "'"; }
};

TEST_F(ErrorTextTest, RecordsAreToldInWordsWithTheirPosixPathsAndTheirReason)
{
    struct Case {
        const char* what;
        std::function<std::vector<VErrorBase*>()> records;  // oldest first
        std::vector<std::string> told;                       // oldest first, "(reason) " marks a reason
    };
    const Case cases[] = {
        {"a code without a text", [this] { return std::vector{Record(MakeBKitError(9999), {{"path", "a/"}})}; },
         {"An unexpected error occurred (bkit error 9999). Path: " + Shown("a/") + "."}},
        {"paths of a copy",
         [this] {
             return std::vector{Record(MakeVError(MakeOsType("UPQN"), 13), {{"from", "New.app/"}, {"to", "App.app/"}})};
         },
         {"An unexpected error occurred (UPQN error 13). Source: " + Shown("New.app/") +
          ". Destination: " + Shown("App.app/") + "."}},
        {"a native reason beneath",
         [this] {
             return std::vector<VErrorBase*>{new VErrorBase(MakePOSIXVError(EROFS)),
                                             new VFileError(fTemp.FolderPath("a"), VE_CANNOT_CREATE_FOLDER)};
         },
         {"(reason) Read-only file system. Path: " + Shown("a/") + ".",
          "An unexpected error occurred (bkit error 652). Path: " + Shown("a/") + ". Reason: Read-only file system."}},
        {"a code that is its reason translated",
         [this] {
             return std::vector<VErrorBase*>{new VErrorBase(MakePOSIXVError(EACCES)),
                                             new VFileError(fTemp.FolderPath("a"), VE_ACCESS_DENIED)};
         },
         {"(reason) Permission denied. Path: " + Shown("a/") + ".",
          "An unexpected error occurred (bkit error 5). Path: " + Shown("a/") + "."}},
        {"a native record with a path of its own is no reason",
         [this] {
             return std::vector{Record(MakePOSIXVError(ENOENT), {{"path", "b"}}), Record(MakeBKitError(9999))};
         },
         {"No such file or directory. Path: " + Shown("b") + ".", "An unexpected error occurred (bkit error 9999)."}},
        {"a text given by its creator",
         [] {
             return std::vector<VErrorBase*>{new VErrorUserGenerated(MakeBKitError(1), VString("Given words."))};
         },
         {"Given words."}},
        {"paths and texts holding controls",
         [this] {
             return std::vector<VErrorBase*>{
                 new VErrorBase(MakePOSIXVError(EROFS)),
                 Record(MakeBKitError(9999), {{"path", "a\nb\x1B/"}}),
                 new VErrorUserGenerated(MakeBKitError(1), VString("Given\rwords."))};
         },
         {"(reason) Read-only file system. Path: '" + fTemp.Path("a\\nb\\x1B/") + "'.",
          "An unexpected error occurred (bkit error 9999). Path: '" + fTemp.Path("a\\nb\\x1B/") +
              "'. Reason: Read-only file system.",
          "Given\\rwords."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VRefPtr<VErrorContext> context = VRefPtr<VErrorContext>::Adopt(new VErrorContext(true, true));
        for (VErrorBase* error : c.records()) {
            context->PushError(error);
            error->Release();
        }
        std::vector<std::string> told;
        for (const ToldError& one : TellErrors(context.Get()))
            told.push_back((one.isReason ? "(reason) " : "") + to_string(one.text));
        EXPECT_EQ(c.told, told);
    }
}

TEST_F(ErrorTextTest, AFailureIsShownWithTheFirstReasonBeneathIt)
{
    const VError installFailed = MakeVError(MakeOsType("UPQN"), 100);
    struct Case {
        const char* what;
        std::function<std::vector<VErrorBase*>()> records;  // oldest first
        std::string shown;
    };
    const Case cases[] = {
        {"a reason beneath the records between",
         [&] {
             return std::vector<VErrorBase*>{new VErrorBase(MakePOSIXVError(ENOSPC)),
                                             new VErrorBase(MakePOSIXVError(EROFS)),
                                             new VFileError(fTemp.FolderPath("a"), VE_CANNOT_CREATE_FOLDER),
                                             Record(installFailed, {{"path", "App.app/"}})};
         },
         "An unexpected error occurred (UPQN error 100). Path: " + Shown("App.app/") +
             ". Reason: Read-only file system."},
        {"no native record", [&] { return std::vector{Record(MakeBKitError(9999)), Record(installFailed)}; },
         "An unexpected error occurred (UPQN error 100)."},
        {"a code that is its reason translated",
         [this] {
             return std::vector<VErrorBase*>{new VErrorBase(MakePOSIXVError(EACCES)), Record(MakeBKitError(9999)),
                                             new VFileError(fTemp.FolderPath("a"), VE_ACCESS_DENIED)};
         },
         "An unexpected error occurred (bkit error 5). Path: " + Shown("a/") + "."},
        {"none", [] { return std::vector<VErrorBase*>{}; }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VRefPtr<VErrorContext> context = VRefPtr<VErrorContext>::Adopt(new VErrorContext(true, true));
        for (VErrorBase* error : c.records()) {
            context->PushError(error);
            error->Release();
        }
        EXPECT_EQ(c.shown, to_string(FailureText(context.Get())));
    }
    EXPECT_EQ("", to_string(FailureText(nullptr)));
    EXPECT_EQ("The log file '/l/a\\nb_1.txt' could not be written. Reason: No space left on device.",
              to_string(LogNotWrittenText(VString("/l/a\nb_1.txt"), ENOSPC)));
}

TEST_F(ErrorTextTest, KeptTextsLeaveThePathParametersAsStored)
{
    VRefPtr<VErrorContext> context = VRefPtr<VErrorContext>::Adopt(new VErrorContext(true, true));
    VErrorBase* error = Record(MakeBKitError(9999), {{"path", "a/"}});
    context->PushError(error);
    error->Release();
    KeepErrorTexts(context.Get());

    VString description, path;
    error->GetErrorDescription(description);
    EXPECT_EQ("An unexpected error occurred (bkit error 9999). Path: " + Shown("a/") + ".", to_string(description));
    error->GetParameters()->GetProperty(VString("path")).GetString(path);
    EXPECT_EQ(Internal("a/"), path);
}

// --- the built updater ---

struct UpdaterRun {
    int status = -1;    // wait status
    std::string shown;  // the notice's file, or standard error without one
    std::string log;    // every log file of the "logs" folder
};


class UpdaterErrorTextTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        // An unprivileged run reaches the bundles and writes its notices.
        chmod(fTemp.Path().c_str(), 0755);
        test::MakeSampleApp(fTemp, "App.app", "old");
        test::MakeSampleApp(fTemp, "New.app", "new");
    }

    // Runs the built updater (as the unprivileged user when asked) with no
    // graphical session, and answers its notices "No". With a notice folder
    // the shown text is the notice's file; without, the notice goes to
    // standard error, which is then the shown text.
    UpdaterRun Run(const std::vector<std::string>& args, bool withNoticeFolder, bool unprivileged = false)
    {
        test::TempFolder::RemoveTree(fTemp.Path("notices"));
        fTemp.MakeFolder("notices");
        chmod(fTemp.Path("notices").c_str(), 0777);  // past the umask
        test::TempFolder::RemoveTree(fTemp.Path("logs"));
        const char* path = getenv("PATH");
        // The user run the programs copied where it can reach them.
        const std::string program = unprivileged ? fForOthers.updater : BKIT_UPDATER_PROGRAM;
        const std::string openFolder = unprivileged ? fForOthers.openFolder : BKIT_OPEN_FOLDER;
        std::vector<std::string> variables = {"PATH=" + openFolder + ":" + (path ? path : "/bin"),
                                              "XDG_DATA_HOME=" + fTemp.Path("xdg"), "DISPLAY=", "WAYLAND_DISPLAY="};
        if (withNoticeFolder)
            variables.push_back("BKIT_NOTICE_DIR=" + fTemp.Path("notices"));
        test::ProgramLine line(program, args, variables);
        // The session's display variables, replaced by empty ones above, are
        // then left out: a headless session has none.
        std::vector<char*> envp;
        for (char* entry : line.envp)
            if (entry == nullptr || (std::string(entry) != "DISPLAY=" && std::string(entry) != "WAYLAND_DISPLAY="))
                envp.push_back(entry);

        int err = open(fTemp.Path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        const auto [uid, gid] = test::NobodyIds();
        pid_t pid = fork();
        if (pid == 0) {
            if (unprivileged && getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
                _exit(126);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            execve(program.c_str(), line.argv.data(), envp.data());
            _exit(127);
        }
        close(err);
        close(null);
        UpdaterRun run;
        for (int waited = 0; pid > 0 && waited < 30000; waited += 10) {
            if (waitpid(pid, &run.status, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            AnswerNotices();
            usleep(10000);
        }
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &run.status, 0);
            run.status = -1;
        }
        run.shown = withNoticeFolder ? FolderText("notices", ".json") : fTemp.ReadFile("stderr.txt");
        run.log = FolderText("logs", ".txt");
        return run;
    }

    void AnswerNotices() { test::AnswerNotices(fTemp, "notices", "4"); }

    // Copies the programs for the unprivileged runs; false, with the reason
    // in whyNot, when that user cannot run them.
    bool PrepareUnprivilegedRuns(std::string& whyNot)
    {
        const auto [uid, gid] = test::NobodyIds();
        return test::CopyProgramsForOtherUsers(fTemp, "programs", uid, gid, fForOthers, whyNot);
    }

    // Runs every case of the table (what, args, unprivileged) with a notice
    // folder and without one, and hands each run to check. The unprivileged
    // cases are left out where that user cannot run the programs: false then,
    // with the reason in whyNot.
    template <typename Cases, typename Check>
    bool RunEachCase(const Cases& cases, std::string& whyNot, Check check)
    {
        const bool unprivilegedRuns = PrepareUnprivilegedRuns(whyNot);
        for (const auto& c : cases) {
            if (c.unprivileged && !unprivilegedRuns)
                continue;
            for (bool withNoticeFolder : {true, false}) {
                SCOPED_TRACE(std::string(c.what) + (withNoticeFolder ? ", notice" : ", standard error"));
                check(c, Run(c.args, withNoticeFolder, c.unprivileged));
            }
        }
        return unprivilegedRuns;
    }

    test::ProgramsForOtherUsers fForOthers;

    std::string FolderText(const std::string& folder, const std::string& extension)
    {
        return test::FolderText(fTemp, folder, extension);
    }

    // The internal form of a folder's path, which no text may show.
    std::string InternalForm(const std::string& posix)
    {
        return to_string(VFilePath(VString((posix + "/").c_str()), FPS_POSIX).GetPath());
    }

    // The shown text and every error line of the log say expected and name
    // no path in its internal form; none is a bare number.
    void ExpectWordsAndPosixPaths(const UpdaterRun& run, const std::string& expected, bool withLog,
                                  const std::vector<std::string>& internalForms)
    {
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 2) << run.status;
        EXPECT_NE(std::string::npos, run.shown.find(expected)) << run.shown;
        std::vector<std::string> texts = {run.shown};
        if (withLog) {
            EXPECT_NE(std::string::npos, run.log.find("ERROR - " + expected)) << run.log;
            size_t start = 0;
            while ((start = run.log.find("ERROR - ", start)) != std::string::npos) {
                size_t end = run.log.find('\n', start);
                texts.push_back(run.log.substr(start, end - start));
                start = end;
            }
        }
        for (const std::string& text : texts) {
            EXPECT_EQ(std::string::npos, text.find("Error code:")) << text;
            for (const std::string& internal : internalForms)
                EXPECT_EQ(std::string::npos, text.find(internal)) << internal << " in " << text;
        }
    }
};

TEST_F(UpdaterErrorTextTest, ErrorsAreShownAndLoggedInWordsWithTheirPosixPaths)
{
    fTemp.WriteFile("plain", "x");
    // A folder of another user, in which the updater's user can make nothing.
    fTemp.MakeFolder("locked", getuid() == 0 ? 0755 : 0555);
    const std::string logs = fTemp.Path("logs");
    const std::string app = fTemp.Path("App.app");
    const std::string upToDate = fTemp.Path("New.app");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool unprivileged;
        std::string expected;
        bool withLog;
    } cases[] = {
        {"a log folder the user cannot make", {"--log-dir", fTemp.Path("locked/logs"), app, upToDate}, true,
         "Access is denied. Path: '" + fTemp.Path("locked/logs") + "/'.", false},
        {"a log folder that is a file", {"--log-dir", fTemp.Path("plain"), app, upToDate}, false,
         "The folder '" + fTemp.Path("plain") + "/' cannot be created.", false},
        {"a missing outdated bundle", {"--log-dir", logs, fTemp.Path("Gone.app"), upToDate}, false,
         "The application to update cannot be found at '" + fTemp.Path("Gone.app") + "/'.", true},
        {"a missing up-to-date bundle", {"--log-dir", logs, app, fTemp.Path("Away.app")}, false,
         "The up-to-date application cannot be found at '" + fTemp.Path("Away.app") + "/'.", true},
    };
    std::string whyNot;
    const bool unprivilegedRuns = RunEachCase(cases, whyNot, [&](const Case& c, const UpdaterRun& run) {
        ExpectWordsAndPosixPaths(run, c.expected, c.withLog, {InternalForm(fTemp.Path())});
    });
    EXPECT_EQ("old", fTemp.ReadFile("App.app/Contents/content.txt"));
    if (!unprivilegedRuns)
        GTEST_SKIP() << "the unprivileged case did not run: " << whyNot;
}

TEST_F(UpdaterErrorTextTest, BundleOnAnotherMountIsNamedByItsPosixPath)
{
    test::StTmpfs mount(fTemp.Path("mnt"), "size=8m");
    if (!mount.IsMounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const std::string mnt = fTemp.Path("mnt");
    const std::vector<std::string> internalForms = {InternalForm(fTemp.Path()), InternalForm(mnt), "mnt:"};

    UpdaterRun run = Run({"--log-dir", fTemp.Path("logs"), mnt + "/Apps/App.app", fTemp.Path("New.app")}, true);
    ExpectWordsAndPosixPaths(run, "The application to update cannot be found at '" + mnt + "/Apps/App.app/'.", true,
                             internalForms);

    // A volume that refuses the copy: the install fails, and says why.
    test::MakeSampleApp(fTemp, "mnt/App.app", "old");
    ASSERT_TRUE(mount.MakeReadOnly());
    run = Run({"--log-dir", fTemp.Path("logs"), mnt + "/App.app", fTemp.Path("New.app")}, true);
    ExpectWordsAndPosixPaths(run, "The up-to-date application could not be installed at '" + mnt + "/App.app/'.", true,
                             internalForms);
    EXPECT_NE(std::string::npos, run.log.find("Reason: Read-only file system.")) << run.log;
    EXPECT_EQ("old", fTemp.ReadFile("mnt/App.app/Contents/content.txt"));
}

// Each line of a log text is one entry of the writer: "<n> <time> [<source>] <LEVEL> - ...",
// the numbers consecutive. The offending line otherwise.
std::string LineThatIsNoEntry(const std::string& log)
{
    unsigned long long previous = 0;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = log.substr(start, end - start);
        size_t blank = line.find(' ');
        bool numbered = blank != std::string::npos && blank > 0 &&
                        line.find_first_not_of("0123456789") == blank;
        unsigned long long number = numbered ? std::stoull(line.substr(0, blank)) : 0;
        // A new file (a new run) starts again from 1.
        bool next = numbered && (number == previous + 1 || number == 1);
        bool shaped = next && line.size() > blank + 25 && line[blank + 5] == '-' && line[blank + 11] == 'T' &&
                      line.compare(blank + 24, 2, " [") == 0;
        if (!shaped)
            return line;
        previous = number;
    }
    return start == log.size() ? std::string() : log.substr(start);
}

TEST_F(UpdaterErrorTextTest, ControlsInPathsAreShownAndLoggedEscaped)
{
    const std::string forged = "New\n1 2026-01-01T00:00:00.000 [X] INFO - forged\x1B[2J.app";
    const std::string escaped = "New\\n1 2026-01-01T00:00:00.000 [X] INFO - forged\\x1B[2J.app";
    const std::string aside = "Ap\rp\n.app";
    test::MakeSampleApp(fTemp, aside, "old");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        std::string shown;   // empty: nothing shown
        std::string logged;  // in one line of the log
    } cases[] = {
        {"a missing up-to-date bundle whose name forges a log line",
         {"--log-dir", fTemp.Path("logs"), fTemp.Path("App.app"), fTemp.Path(forged)}, 2,
         "The up-to-date application cannot be found at '" + fTemp.Path(escaped) + "/'.",
         "ERROR - The up-to-date application cannot be found at '" + fTemp.Path(escaped) + "/'."},
        {"an application updated at a path with a line break",
         {"--log-dir", fTemp.Path("logs"), fTemp.Path(aside), fTemp.Path("New.app")}, 0, "",
         "Restarting installed application (open -a \"" + fTemp.Path("Ap\\rp\\n.app") + "/\")"},
    };
    for (const Case& c : cases) {
        for (bool withNoticeFolder : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (withNoticeFolder ? ", notice" : ", standard error"));
            UpdaterRun run = Run(c.args, withNoticeFolder);
            EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == c.exitCode) << run.status;
            EXPECT_EQ("", LineThatIsNoEntry(run.log)) << run.log;
            EXPECT_NE(std::string::npos, run.log.find(c.logged)) << run.log;
            if (c.shown.empty()) {
                EXPECT_EQ("", run.shown);
                continue;
            }
            // The notice's file is JSON, which writes a backslash as two (and
            // a raw line break as a backslash and an "n").
            std::string expected = c.shown;
            for (size_t at = 0; withNoticeFolder && (at = expected.find('\\', at)) != std::string::npos; at += 2)
                expected.insert(at, 1, '\\');
            EXPECT_NE(std::string::npos, run.shown.find(expected)) << run.shown;
            EXPECT_EQ(std::string::npos, run.shown.find("\n1 2026")) << run.shown;
            EXPECT_EQ(std::string::npos, run.shown.find('\x1B')) << run.shown;
        }
        test::MakeSampleApp(fTemp, "New.app", "new");
    }
}

TEST_F(UpdaterErrorTextTest, FailuresUsersMeetAreShownWithTheirReason)
{
    test::StTmpfs readOnly(fTemp.Path("ro"), "size=4m");
    test::StTmpfs small(fTemp.Path("small"), "size=256k");
    if (!readOnly.IsMounted() || !small.IsMounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    test::MakeSampleApp(fTemp, "ro/App.app", "old");
    fTemp.MakeFolder("ro/logs");
    ASSERT_TRUE(readOnly.MakeReadOnly());
    test::MakeSampleApp(fTemp, "small/App.app", "old");
    test::MakeLargeApp(fTemp, "Large.app", "large", 200);
    // A log folder there, in which the updater's user can make nothing.
    fTemp.MakeFolder("closed");
    chmod(fTemp.Path("closed").c_str(), 0755);

    const std::string logs = fTemp.Path("logs");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool unprivileged;
        std::string expected;
        std::string reasonWord = "";  // also shown after "Reason: "
    } cases[] = {
        {"an application on a read-only mount",
         {"--log-dir", logs, fTemp.Path("ro/App.app"), fTemp.Path("New.app")}, false,
         "The up-to-date application could not be installed at '" + fTemp.Path("ro/App.app") +
             "/'. Reason: Read-only file system."},
        {"an application on a full disk", {"--log-dir", logs, fTemp.Path("small/App.app"), fTemp.Path("Large.app")},
         false,
         "The up-to-date application could not be installed at '" + fTemp.Path("small/App.app") + "/'. Reason: ",
         "space"},
        {"a log folder on a read-only mount",
         {"--log-dir", fTemp.Path("ro/logs"), fTemp.Path("App.app"), fTemp.Path("New.app")}, false,
         "The log file cannot be started in the folder '" + fTemp.Path("ro/logs") +
             "/'. Reason: Read-only file system."},
        {"a log folder of another user",
         {"--log-dir", fTemp.Path("closed"), fTemp.Path("App.app"), fTemp.Path("New.app")}, true,
         "The log file cannot be started in the folder '" + fTemp.Path("closed") + "/'. Reason: Permission denied."},
    };
    std::string whyNot;
    const bool unprivilegedRuns = RunEachCase(cases, whyNot, [&](const Case& c, const UpdaterRun& run) {
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 2) << run.status;
        size_t at = run.shown.find(c.expected);
        EXPECT_NE(std::string::npos, at) << run.shown;
        if (at != std::string::npos && !c.reasonWord.empty()) {
            EXPECT_NE(std::string::npos, run.shown.find(c.reasonWord, at + c.expected.size())) << run.shown;
        }
    });
    EXPECT_EQ("old", fTemp.ReadFile("ro/App.app/Contents/content.txt"));
    EXPECT_EQ("old", fTemp.ReadFile("small/App.app/Contents/content.txt"));
    EXPECT_EQ("old", fTemp.ReadFile("App.app/Contents/content.txt"));
    if (!unprivilegedRuns)
        GTEST_SKIP() << "the unprivileged case did not run: " << whyNot;
}

TEST_F(UpdaterErrorTextTest, ALogThatCannotBeWrittenIsSaid)
{
    test::StTmpfs full(fTemp.Path("full"), "size=64k");
    if (!full.IsMounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    // The disk takes the log file, but none of its lines.
    fTemp.WriteFile("full/filler", std::string(64 * 1024, 'x'));
    const std::string notWritten = "The log file '" + fTemp.Path("full") + "/";
    const std::string because = "' could not be written. Reason: No space left on device.";

    // An update that succeeds stands, and keeps its code; the missing log is said.
    UpdaterRun run = Run({"--log-dir", fTemp.Path("full"), fTemp.Path("App.app"), fTemp.Path("New.app")}, false);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    EXPECT_EQ("new", fTemp.ReadFile("App.app/Contents/content.txt"));
    EXPECT_NE(std::string::npos, run.shown.find(notWritten)) << run.shown;
    EXPECT_NE(std::string::npos, run.shown.find(because)) << run.shown;
    std::vector<std::string> files = fTemp.List("full");
    std::erase(files, "filler");
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("", fTemp.ReadFile("full/" + files[0]));

    // A failed one says it in its notice, in place of sending the user to the file.
    run = Run({"--log-dir", fTemp.Path("full"), fTemp.Path("App.app"), fTemp.Path("Away.app")}, true);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 2) << run.status;
    EXPECT_NE(std::string::npos, run.shown.find("The up-to-date application cannot be found")) << run.shown;
    EXPECT_NE(std::string::npos, run.shown.find(because)) << run.shown;
    EXPECT_EQ(std::string::npos, run.shown.find("More information")) << run.shown;
    EXPECT_EQ("", fTemp.ReadFile("stderr.txt")) << "said once, in the notice";
}

}  // namespace
}  // namespace bkit
