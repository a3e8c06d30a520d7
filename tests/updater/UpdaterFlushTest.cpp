// UpdaterFlushTest.cpp - an update reaches the disk in order, and one whose flush fails changes nothing.
//
// The swap asks the disk to keep the staged copy before the exchange, then
// the exchange, then the rename that sets the old bundle aside. A flush that
// fails at any of those points must leave the old application at its path
// and nothing else. The order of the system calls is read from the built
// updater run under strace, which the test skips without.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "support/TempFolder.h"
#include "updater/UpdaterTestSupport.h"
#include "updater/VUpdateEngine.h"

namespace bkit {
namespace {

class UpdaterFlushTest : public test::UpdateEngineTest {
protected:
    static bool Holds(const StErrorContextInstaller& errors, VError code)
    {
        for (VErrorBase* error : errors.GetContext()->GetErrors()) {
            if (error->GetError() == code)
                return true;
        }
        return false;
    }
};

TEST_F(UpdaterFlushTest, AFailedFlushRollsTheUpdateBack)
{
    test::MakeSampleApp(fTemp, "Name.app", "old");
    test::MakeSampleApp(fTemp, "New.app", "new");
    VFolder outdated(fTemp.FolderPath("Name.app")), upToDate(fTemp.FolderPath("New.app")),
        install(fTemp.FolderPath("Name.app"));
    struct Case {
        const char* what;
        int nth;
        VError last;
    } cases[] = {
        {"the staged copy", 1, VE_UPDATER_COPY_FAILED},
        {"the exchange", 2, VE_UPDATER_COPY_FAILED},
        {"the set-aside rename", 3, VE_UPDATER_RENAME_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StErrorContextInstaller errors(true, true);
        StFaultSeam fault(FaultOperation::kFlush, c.nth, EIO);
        EXPECT_EQ(nullptr, fEngine->_SwapApplications(outdated, upToDate, install));
        EXPECT_FALSE(FaultSeam::IsArmed(FaultOperation::kFlush));
        EXPECT_EQ(c.last, errors.GetLastError());
        EXPECT_TRUE(Holds(errors, PosixErrorFromErrno(EIO))) << "the flush's own failure is on the stack";
        EXPECT_EQ("old", fTemp.ReadFile("Name.app/Contents/content.txt"));
        EXPECT_EQ("new", fTemp.ReadFile("New.app/Contents/content.txt"));
        EXPECT_EQ((std::vector<std::string>{"Name.app", "New.app"}), fTemp.List(""));
    }

    // The exchange cannot even be undone: the new application stays at the
    // path and the old one is kept under the staging name, never deleted.
    StErrorContextInstaller errors(true, true);
    FaultSeam::Arm(FaultOperation::kFlush, 2, EIO);
    FaultSeam::Arm(FaultOperation::kRename, 3, EIO);  // the staging rename, the exchange, its undoing
    EXPECT_EQ(nullptr, fEngine->_SwapApplications(outdated, upToDate, install));
    EXPECT_EQ(VE_UPDATER_COPY_FAILED, errors.GetLastError());
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    EXPECT_EQ("old", fTemp.ReadFile(".Name.app.uptodate/Contents/content.txt"));
}

// --- the system calls of the built updater ---

// One traced call: its name and its text (arguments and result), the
// descriptors shown with their paths.
struct TracedCall {
    std::string name;
    std::string text;
};

// The calls of an strace -f log in the order they started.
std::vector<TracedCall> ReadTrace(const std::string& path)
{
    std::vector<TracedCall> calls;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        size_t blank = line.find(' ');  // after the process id
        if (blank == std::string::npos)
            continue;
        std::string rest = line.substr(blank + 1);
        while (!rest.empty() && rest[0] == ' ')
            rest.erase(0, 1);
        size_t paren = rest.find('(');
        if (rest.rfind("<...", 0) == 0 || rest.rfind("+++", 0) == 0 || rest.rfind("---", 0) == 0 ||
            paren == std::string::npos)
            continue;
        calls.push_back({rest.substr(0, paren), rest.substr(paren)});
    }
    return calls;
}

// The index of the first call at or after from whose name is one of names and
// whose text holds every one of parts; -1 when none.
int Find(const std::vector<TracedCall>& calls, int from, const std::vector<std::string>& names,
         const std::vector<std::string>& parts)
{
    for (int i = std::max(from, 0); i < static_cast<int>(calls.size()); ++i) {
        bool named = false;
        for (const std::string& name : names)
            named = named || calls[i].name == name;
        bool holds = named;
        for (const std::string& part : parts)
            holds = holds && calls[i].text.find(part) != std::string::npos;
        if (holds)
            return i;
    }
    return -1;
}

TEST_F(UpdaterFlushTest, TheBuiltUpdaterFlushesEachStepBeforeTheNextOneShowsIt)
{
    std::string whyNot;
    const std::string strace = test::FindUsableStrace(whyNot);
    if (strace.empty())
        GTEST_SKIP() << whyNot;

    char real[PATH_MAX];
    ASSERT_NE(nullptr, realpath(fTemp.Path().c_str(), real));
    const std::string root = real;
    test::MakeSampleApp(fTemp, "Name.app", "old");
    test::MakeSampleApp(fTemp, "New.app", "new", "#!/bin/sh\ntouch '" + root + "/restarted'\n");
    // The link file is written over one that is there: a replacement.
    fTemp.MakeFolder("New.app/Contents/Database");
    fTemp.WriteFile("New.app/Contents/Database/ZizozazIzudud.Zanthlink", "stale");
    fTemp.WriteFile("client.json", "{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"server.example\"}");
    fTemp.MakeFolder("logs");
    fTemp.MakeFolder("notices");
    fTemp.MakeFolder("xdg");
    const char* path = getenv("PATH");
    // The leak checker of a sanitised build cannot work under a tracer.
    const char* sanitizer = getenv("ASAN_OPTIONS");
    const std::vector<std::string> variables = {
        "PATH=" + std::string(BKIT_OPEN_FOLDER) + ":" + (path ? path : "/usr/bin:/bin"),
        "BKIT_NOTICE_DIR=" + root + "/notices", "XDG_DATA_HOME=" + root + "/xdg",
        "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + (sanitizer && *sanitizer ? ":" : "") +
            "detect_leaks=0"};
    const std::string trace = root + "/trace";
    ASSERT_EQ(0, test::RunProgram(strace,
                                  {"-f", "-qq", "-y", "-s", "8", "-o", trace, "-e",
                                   "trace=write,fsync,fdatasync,syncfs,rename,renameat,renameat2",
                                   BKIT_UPDATER_PROGRAM, "--silent", "--log-dir", root + "/logs", "--client-info",
                                   root + "/client.json", root + "/Name.app", root + "/New.app"},
                                  variables));
    EXPECT_EQ("new", fTemp.ReadFile("Name.app/Contents/content.txt"));
    const std::vector<TracedCall> calls = ReadTrace(trace);
    ASSERT_FALSE(calls.empty());
    const std::vector<std::string> renames = {"rename", "renameat", "renameat2"};

    // The link file: its new content is flushed before it takes the name,
    // and its folder after.
    const std::string database = root + "/New.app/Contents/Database";
    int written = Find(calls, 0, {"write"}, {"<" + database + "/.bkit-copy-"});
    int flushed = Find(calls, written, {"fsync", "fdatasync"}, {"<" + database + "/.bkit-copy-"});
    int named = Find(calls, flushed, renames, {database + "/ZizozazIzudud.Zanthlink\""});
    int folderFlushed = Find(calls, named, {"fsync"}, {"<" + database + ">"});
    EXPECT_NE(-1, written);
    EXPECT_NE(-1, flushed) << "the new content is flushed before the rename";
    EXPECT_NE(-1, named);
    EXPECT_NE(-1, folderFlushed) << "the folder is flushed after the rename";
    EXPECT_EQ(named, Find(calls, 0, renames, {database + "/ZizozazIzudud.Zanthlink\""}))
        << "no rename before the flush shows the link file";

    // The update: the staged copy on the disk, then the exchange, the parent
    // flushed; the rename that sets the old bundle aside, the parent flushed.
    const std::string staging = root + "/.Name.app.uptodate";
    int staged = Find(calls, folderFlushed, {"syncfs"}, {"<" + staging + ">"});
    int exchanged = Find(calls, 0, {"renameat2"}, {"RENAME_EXCHANGE", staging});
    EXPECT_EQ(exchanged, Find(calls, 0, {"renameat2"}, {"RENAME_EXCHANGE"})) << "the first exchange";
    int afterExchange = Find(calls, exchanged, {"fsync"}, {"<" + root + ">"});
    int setAside = Find(calls, afterExchange, renames, {staging, root + "/Name_old0001.app"});
    int afterSetAside = Find(calls, setAside, {"fsync"}, {"<" + root + ">"});
    EXPECT_NE(-1, staged);
    EXPECT_LT(staged, exchanged) << "the staged copy is flushed before the exchange";
    EXPECT_NE(-1, afterExchange) << "the parent is flushed after the exchange";
    EXPECT_NE(-1, setAside) << "the old bundle is set aside after that flush";
    EXPECT_NE(-1, afterSetAside) << "the parent is flushed after the set-aside rename";

    // The log: its last line is written, then the file and its folder flushed.
    int lastLine = -1;
    for (int at = 0; (at = Find(calls, at, {"write"}, {"<" + root + "/logs/"})) != -1; ++at)
        lastLine = at;
    ASSERT_NE(-1, lastLine);
    int logFlushed = Find(calls, lastLine, {"fsync"}, {"<" + root + "/logs/", ".txt>"});
    EXPECT_NE(-1, logFlushed) << "the log file is flushed after its last line";
    EXPECT_NE(-1, Find(calls, logFlushed, {"fsync"}, {"<" + root + "/logs>"}));
}

}  // namespace
}  // namespace bkit
