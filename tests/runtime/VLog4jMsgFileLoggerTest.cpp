// VLog4jMsgFileLoggerTest.cpp - log lines byte for byte, file naming, continuation, splits and Stop races.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/runtime/VLog4jMsgFileLogger.h"
#include "basekit/runtime/VSplitableLogFile.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "runtime/LoggerTestSupport.h"
#include "support/StMount.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

VRefPtr<VValueBag> NewBag()
{
    return VRefPtr<VValueBag>::Adopt(new VValueBag());
}

TEST(VLog4jLine, SourceLevelAndMessageOfAnEntry)
{
    VString processSource;
    ILogger::GetLogSourceIdentifier(processSource);
    const std::string proc = to_string(processSource);
    struct Case {
        const char* label;
        void (*fill)(VValueBag*);
        std::string source;
        EMessageLevel level;
        const char* message;
    };
    const Case cases[] = {
        {"message and signature",
         [](VValueBag* b) {
             ILoggerBagKeys::message.Set(b, VString("M"));
             ILoggerBagKeys::source.Set(b, VString("S"));
             ILoggerBagKeys::component_signature.Set(b, MakeOsType("UPQN"));
         },
         "S.UPQN", EML_Information, "M ()"},
        {"error code without signature",
         [](VValueBag* b) {
             ILoggerBagKeys::message.Set(b, VString("failed"));
             ILoggerBagKeys::error_code.Set(b, MakeBKitError(600));
             ILoggerBagKeys::level.Set(b, EML_Error);
         },
         proc + ".bkit", EML_Error, "[600] failed ()"},
        {"signature 0 wins over the error code's",
         [](VValueBag* b) {
             ILoggerBagKeys::error_code.Set(b, MakeVError(MakeOsType("POSX"), -2));
             ILoggerBagKeys::component_signature.Set(b, 0u);
         },
         proc, EML_Information, "[-2]  ()"},
        {"empty source gets no dot",
         [](VValueBag* b) {
             ILoggerBagKeys::source.Set(b, VString(""));
             ILoggerBagKeys::component_signature.Set(b, MakeOsType("UPQN"));
         },
         "UPQN", EML_Information, " ()"},
        {"attributes in bag order, line feeds made \" ; \"",
         [](VValueBag* b) {
             ILoggerBagKeys::message.Set(b, VString("two\nlines"));
             ILoggerBagKeys::task_id.Set(b, 3);
             ILoggerBagKeys::task_name.Set(b, VString("main"));
             ILoggerBagKeys::stack_crawl.Set(b, VString("a\nb"));
             ILoggerBagKeys::is_ssl.Set(b, true);
             b->SetString(StPackedDictionaryKey("custom"), VString("v"));
         },
         proc, EML_Information, "two\nlines (task=3, taskName=main, stackCrawl=a ; b, SSL=true, custom=v)"},
        {"unknown level number", [](VValueBag* b) { ILoggerBagKeys::level.Set(b, 9); }, proc, EMessageLevel(9), " ()"},
    };
    for (const Case& c : cases) {
        VRefPtr<VValueBag> bag = NewBag();
        c.fill(bag.Get());
        VString source, message;
        EMessageLevel level = EML_Dump;
        VLog4jMsgFileLogger::GetLogInfosFromBag(bag.Get(), source, level, message);
        EXPECT_EQ(to_string(source), c.source) << c.label;
        EXPECT_EQ(level, c.level) << c.label;
        EXPECT_EQ(to_string(message), c.message) << c.label;
    }
    VString source, message;
    EMessageLevel level = EML_Dump;
    VLog4jMsgFileLogger::GetLogInfosFromBag(nullptr, source, level, message);
    EXPECT_EQ(to_string(source) + "|" + to_string(message), proc + "| ()");
    EXPECT_EQ(level, EML_Information);

    const char* names[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "INFO", "INFO"};
    for (int i = 0; i < 10; ++i)
        EXPECT_STREQ(VLog4jMsgFileLogger::GetMessageLevelName(static_cast<EMessageLevel>(i == 9 ? -1 : i)), names[i]);
}

// "YYYY-MM-DDTHH:MM:SS.mmm"
bool IsLocalTimeText(const std::string& text)
{
    const char* shape = "dddd-dd-ddTdd:dd:dd.ddd";
    if (text.size() != std::strlen(shape)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i]) return false;
    }
    return true;
}

// A log line "<sequence> <YYYY-MM-DDTHH:MM:SS.mmm><rest>", split; a line or a
// last piece without a line break that lacks the shape is unshaped.
struct LogLine {
    bool shaped = false;
    unsigned long long sequence = 0;
    std::string text, rest;
};

std::vector<LogLine> LogLines(const std::string& text)
{
    std::vector<LogLine> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        const bool broken = end != std::string::npos;
        LogLine line;
        line.text = text.substr(start, broken ? end - start : std::string::npos);
        start = broken ? end + 1 : text.size();
        const size_t blank = line.text.find(' ');
        line.shaped = broken && blank != std::string::npos && blank > 0 &&
                      line.text.find_first_not_of("0123456789") == blank &&
                      IsLocalTimeText(line.text.substr(blank + 1, 23));
        if (line.shaped) {
            line.sequence = std::stoull(line.text.substr(0, blank));
            line.rest = line.text.substr(blank + 24);
        }
        lines.push_back(line);
    }
    return lines;
}

class LogFileTest : public test::TempFolderTest {
protected:
    VRefPtr<VFolder> Folder(const std::string& name = "logs")
    {
        return VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath(name)));
    }
    std::string Read(const std::string& name) { return fTemp.ReadFile("logs/" + name); }
    off_t Size(const std::string& name)
    {
        struct stat st;
        return stat(fTemp.Path("logs/" + name).c_str(), &st) == 0 ? st.st_size : -1;
    }
    // A sparse file past the split size: the size check sees it full.
    void MakeFullFile(const std::string& name)
    {
        ASSERT_TRUE(fTemp.WriteFile("logs/" + name, ""));
        ASSERT_EQ(truncate(fTemp.Path("logs/" + name).c_str(), VSplitableLogFile::kSplitSize), 0);
    }
    void Log(const char* message, EMessageLevel level = EML_Information)
    {
        fLog.Logger()->LogMessage(level, VString(message), VString("Src"));
    }
    test::StProcessLogger fLog;
};

TEST_F(LogFileTest, LinesAreWrittenByteForByteWithConsecutiveSequenceNumbers)
{
    VLog4jMsgFileLogger writer(Folder().Get(), VString("run"));
    writer.Start();
    ASSERT_TRUE(writer.IsStarted()) << "the folder is created with its parents";
    VString name;
    writer.GetCurrentLogFileName(name);
    EXPECT_EQ(to_string(name), "run_1.txt");
    Log("first");
    Log("debug is masked", EML_Debug);
    fLog.Logger()->WithDebug(true);
    Log("debug is masked by the writer too", EML_Debug);
    fLog.Logger()->Flush();
    writer.Pause();
    Log("paused");
    fLog.Logger()->Flush();
    writer.Resume();
    Log("\xc3\xa9t\xc3\xa9", EML_Fatal);
    writer.Stop();
    Log("after stop");
    fLog.Logger()->Flush();

    std::string text = Read("run_1.txt");
    const char* tails[] = {" [Src] INFO - first ()", " [Src] FATAL - \xc3\xa9t\xc3\xa9 ()"};
    const std::vector<LogLine> lines = LogLines(text);
    ASSERT_EQ(lines.size(), 2u) << "nothing else was written: " << text;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].shaped) << lines[i].text;
        EXPECT_EQ(lines[i].rest, tails[i]);
    }
    EXPECT_EQ(lines[1].sequence, lines[0].sequence + 1) << "a paused writer uses no sequence number";
    EXPECT_FALSE(writer.IsStarted());
    EXPECT_EQ(writer.GetLogMaxNumberToKeep(), 0);
}

TEST_F(LogFileTest, RestartAppendsToItsOwnFileAndANewWriterMakesANewOne)
{
    auto current = [](VLog4jMsgFileLogger& writer) {
        VString name;
        writer.GetCurrentLogFileName(name);
        return to_string(name);
    };
    {
        VLog4jMsgFileLogger writer(Folder().Get(), VString("base"));
        writer.Start();
        Log("one");
        writer.Stop();
        writer.Start();
        EXPECT_EQ(current(writer), "base_1.txt");
        Log("two");
        writer.Stop();
    }
    std::string text = Read("base_1.txt");
    EXPECT_NE(text.find("one ()\n"), std::string::npos);
    EXPECT_NE(text.find("two ()\n"), std::string::npos) << "appended, not replaced";

    // Whatever bears a name, a file of another run or a dangling link, is
    // left alone: the next free number is taken.
    ASSERT_TRUE(fTemp.WriteFile("logs/base_2.txt", "kept\n"));
    ASSERT_TRUE(fTemp.MakeLink("logs/base_3.txt", "nowhere.txt"));
    ASSERT_TRUE(fTemp.WriteFile("logs/base_5.txt", "after a gap\n"));
    VLog4jMsgFileLogger writer(Folder().Get(), VString("base"));
    writer.Start();
    EXPECT_EQ(current(writer), "base_4.txt");
    Log("three");
    writer.Stop();
    EXPECT_EQ(Read("base_1.txt"), text);
    EXPECT_EQ(Read("base_2.txt"), "kept\n");
    EXPECT_FALSE(fTemp.ItemExists("logs/nowhere.txt")) << "no file is made through a link";
    EXPECT_NE(Read("base_4.txt").find("three ()\n"), std::string::npos);
    EXPECT_EQ(Read("base_5.txt"), "after a gap\n");

    // Its own file replaced while it was stopped: the writer makes a new one.
    ASSERT_EQ(unlink(fTemp.Path("logs/base_4.txt").c_str()), 0);
    ASSERT_TRUE(fTemp.WriteFile("logs/base_4.txt", "another run's\n"));
    writer.Start();
    EXPECT_EQ(current(writer), "base_6.txt");
    Log("four");
    writer.Stop();
    EXPECT_EQ(Read("base_4.txt"), "another run's\n");
    EXPECT_NE(Read("base_6.txt").find("four ()\n"), std::string::npos);

    // Nothing to start without a name or a folder; a file that cannot be made leaves it stopped.
    VLog4jMsgFileLogger unnamed(Folder().Get(), VString(""));
    unnamed.Start();
    EXPECT_FALSE(unnamed.IsStarted());
    VLog4jMsgFileLogger noFolder(nullptr, VString("x"));
    noFolder.Start();
    EXPECT_FALSE(noFolder.IsStarted());
    ASSERT_TRUE(fTemp.WriteFile("plainfile", ""));
    VLog4jMsgFileLogger blocked(Folder("plainfile/sub").Get(), VString("x"));
    blocked.Start();
    EXPECT_FALSE(blocked.IsStarted());
    EXPECT_EQ(VTask::GetLastError(), 0u) << "folder errors stay off the caller's stack";
}

TEST_F(LogFileTest, TheFileFiftyOlderIsDeletedUnlessAWriterHoldsIt)
{
    // Of "many", file 1 is an old run's; of "held", a writer still writes file 1.
    VRefPtr<VFolder> folder = Folder();
    VSplitableLogFile holder(folder.Get(), VString("held"), 1, false);
    ASSERT_TRUE(holder.Open(false, false));
    for (int n = 1; n <= 50; ++n) {
        MakeFullFile("many_" + std::to_string(n) + ".txt");
        if (n > 1) MakeFullFile("held_" + std::to_string(n) + ".txt");
    }
    for (const std::string base : {"many", "held"}) {
        VLog4jMsgFileLogger writer(folder.Get(), VString(base.c_str()));
        writer.Start();
        EXPECT_EQ(writer.GetLogMaxNumberToKeep(), 50);
        Log("fifty-one");
        writer.Stop();
        EXPECT_NE(Read(base + "_51.txt").find("fifty-one ()\n"), std::string::npos) << base;
        EXPECT_EQ(Size(base + "_2.txt"), VSplitableLogFile::kSplitSize) << base;
        EXPECT_EQ(Size(base + "_50.txt"), VSplitableLogFile::kSplitSize) << base;
    }
    EXPECT_EQ(Size("many_1.txt"), -1) << "file 51 - 50 is deleted";
    holder.AppendString("still written\n");
    holder.Close();
    EXPECT_EQ(Read("held_1.txt"), "still written\n") << "a file in use is kept";
}

TEST_F(LogFileTest, SplitMakesTheNextFreeNumberAndLeavesLeftoversAlone)
{
    VRefPtr<VFolder> folder = Folder();
    VSplitableLogFile file(folder.Get(), VString("left"), 1, false);
    ASSERT_TRUE(file.Open(false, false));
    file.Close();
    ASSERT_EQ(truncate(fTemp.Path("logs/left_1.txt").c_str(), VSplitableLogFile::kSplitSize), 0);
    ASSERT_TRUE(fTemp.WriteFile("logs/left_2.txt", "stale\n"));
    ASSERT_TRUE(file.Open(false, false)) << "its own file, reopened full";
    EXPECT_EQ(file.GetLogNumber(), 1);
    file.AppendString("fresh\n");
    EXPECT_EQ(file.GetLogNumber(), 3);
    VString name;
    file.GetCurrentFileName(name);
    EXPECT_EQ(to_string(name), "left_3.txt");
    file.Close();
    EXPECT_EQ(Size("left_1.txt"), VSplitableLogFile::kSplitSize) << "the full file is not written to";
    EXPECT_EQ(Read("left_2.txt"), "stale\n");
    EXPECT_EQ(Read("left_3.txt"), "fresh\n");

    VSplitableLogFile::BuildLogFileNameWithExt(VString("b"), 7, VString("log"), name);
    EXPECT_EQ(to_string(name), "b_7.log");
}

TEST_F(LogFileTest, OpenAndSetLogNumberWriteOnlyIntoFilesTheObjectMade)
{
    // Each case: files of another run at some numbers; the object, made at
    // number 1, may first make and write its own file 1 (left open or
    // closed); then the call, and "new" is written. The file written must be
    // its own or a new one, at the expected number; the others stay as they were.
    struct Case {
        const char* label;
        std::vector<int> foreign;
        enum { kNone, kOwnClosed, kOwnOpen } own;
        bool (*call)(VSplitableLogFile&);
        int number;        // after the call
        const char* text;  // of that file after "new" is written; null: nothing open
    };
    const Case cases[] = {
        {"Open(false, false) passes a foreign file", {1}, Case::kNone,
         [](VSplitableLogFile& f) { return f.Open(false, false); }, 2, "new\n"},
        {"Open(false, false) appends to its own file", {}, Case::kOwnClosed,
         [](VSplitableLogFile& f) { return f.Open(false, false); }, 1, "mine\nnew\n"},
        {"Open(true, false) makes a new file past its own", {}, Case::kOwnClosed,
         [](VSplitableLogFile& f) { return f.Open(true, false); }, 2, "new\n"},
        {"Open(true, false) empties no foreign file", {1, 2}, Case::kNone,
         [](VSplitableLogFile& f) { return f.Open(true, false); }, 3, "new\n"},
        {"Open(false, true) starts past every taken name", {2}, Case::kOwnClosed,
         [](VSplitableLogFile& f) { return f.Open(false, true); }, 3, "new\n"},
        {"Open(false, true) keeps a free current number", {2}, Case::kNone,
         [](VSplitableLogFile& f) { return f.Open(false, true); }, 1, "new\n"},
        {"Open(true, true)", {1, 2}, Case::kNone, [](VSplitableLogFile& f) { return f.Open(true, true); }, 3,
         "new\n"},
        {"Open(5, false) passes a foreign file", {5}, Case::kNone,
         [](VSplitableLogFile& f) { return f.Open(5, false); }, 6, "new\n"},
        {"Open(1, false) appends to its own file", {}, Case::kOwnClosed,
         [](VSplitableLogFile& f) { return f.Open(1, false); }, 1, "mine\nnew\n"},
        {"Open(1, true) makes a new file", {}, Case::kOwnClosed,
         [](VSplitableLogFile& f) { return f.Open(1, true); }, 2, "new\n"},
        {"Open(7, false) on an open file keeps it", {}, Case::kOwnOpen,
         [](VSplitableLogFile& f) { return f.Open(7, false); }, 1, "mine\nnew\n"},
        {"SetLogNumber(1, false) reopens its own file", {}, Case::kOwnOpen,
         [](VSplitableLogFile& f) {
             f.SetLogNumber(1, false);
             return f.IsOpen();
         },
         1, "mine\nnew\n"},
        {"SetLogNumber(4, true) empties no foreign file", {4}, Case::kOwnOpen,
         [](VSplitableLogFile& f) {
             f.SetLogNumber(4, true);
             return f.IsOpen();
         },
         5, "new\n"},
        {"SetLogNumber(3, false) on a closed file only sets the number", {}, Case::kOwnClosed,
         [](VSplitableLogFile& f) {
             f.SetLogNumber(3, false);
             return !f.IsOpen();
         },
         3, nullptr},
    };
    ASSERT_TRUE(fTemp.MakeFolder("logs"));
    VRefPtr<VFolder> folder = Folder();
    int index = 0;
    for (const Case& c : cases) {
        const std::string base = "c" + std::to_string(index++);
        auto name = [&](int n) { return base + "_" + std::to_string(n) + ".txt"; };
        for (int n : c.foreign) ASSERT_TRUE(fTemp.WriteFile("logs/" + name(n), "foreign\n")) << c.label;
        VSplitableLogFile file(folder.Get(), VString(base.c_str()), 1, false);
        if (c.own != Case::kNone) {
            ASSERT_TRUE(file.Open(false, false)) << c.label;
            file.AppendString("mine\n");
            if (c.own == Case::kOwnClosed) file.Close();
        }
        EXPECT_TRUE(c.call(file)) << c.label;
        EXPECT_EQ(file.GetLogNumber(), c.number) << c.label;
        if (c.text) {
            VString current;
            file.GetCurrentFileName(current);
            EXPECT_EQ(to_string(current), name(c.number)) << c.label;
            file.AppendString("new\n");
        }
        file.Close();
        if (c.text) {
            EXPECT_EQ(Read(name(c.number)), c.text) << c.label;
        }
        for (int n : c.foreign) EXPECT_EQ(Read(name(n)), "foreign\n") << c.label << ": " << name(n);
        if (c.own != Case::kNone && c.number != 1) {
            EXPECT_EQ(Read(name(1)), "mine\n") << c.label;
        }
    }
}

TEST_F(LogFileTest, StopFlushesTheFileAndItsFolderToTheDisk)
{
    VLog4jMsgFileLogger writer(Folder().Get(), VString("kept"));
    writer.Start();
    Log("last words");
    fLog.Logger()->Flush();
    {
        // The second flush (the folder's, after the file's) fails: both were asked for.
        StFaultSeam fault(FaultOperation::kFlush, 2, EIO);
        writer.Stop();
        EXPECT_FALSE(FaultSeam::IsArmed(FaultOperation::kFlush)) << "Stop flushed the file and its folder";
    }
    EXPECT_NE(Read("kept_1.txt").find("last words ()\n"), std::string::npos) << "a failed flush loses no line";
}

TEST_F(LogFileTest, EachEntryIsOneLineWhateverItsTextHolds)
{
    VLog4jMsgFileLogger writer(Folder().Get(), VString("lines"));
    writer.Start();
    ASSERT_TRUE(writer.IsStarted());
    struct Case {
        const char* source;
        const char* message;
        const char* written;  // what follows the time
    };
    const Case cases[] = {
        {"Src", "path '/Apps/New\n1 2026-01-01T00:00:00.000 [X] INFO - forged.app/'",
         " [Src] INFO - path '/Apps/New\\n1 2026-01-01T00:00:00.000 [X] INFO - forged.app/' ()"},
        {"Src", "a\r\nb\x1B[2Jc\xE2\x80\xA8" "d", " [Src] INFO - a\\r\\nb\\x1B[2Jc\\u{2028}d ()"},
        {"S\nrc", "plain", " [S\\nrc] INFO - plain ()"},
    };
    for (const Case& c : cases)
        fLog.Logger()->LogMessage(EML_Information, VString(c.message), VString(c.source));
    writer.Stop();

    std::string text = Read("lines_1.txt");
    const std::vector<LogLine> lines = LogLines(text);
    ASSERT_EQ(lines.size(), std::size(cases)) << "one line per entry: " << text;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].shaped) << lines[i].text;
        EXPECT_EQ(lines[i].rest, cases[i].written);
    }
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
}

TEST_F(LogFileTest, FilesThatCannotBeMadeOrWrittenAreToldWhy)
{
    test::StTmpfs mount(fTemp.Path("mnt"), "size=64k");
    if (!mount.IsMounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (errno " << mount.GetError() << ")";
    ASSERT_TRUE(fTemp.MakeFolder("mnt/logs"));

    {
        // A disk that takes the file but none of its lines.
        std::string filler(64 * 1024, 'x');
        fTemp.WriteFile("mnt/filler", filler);
        VLog4jMsgFileLogger writer(Folder("mnt/logs").Get(), VString("full"));
        writer.Start();
        ASSERT_TRUE(writer.IsStarted()) << writer.GetStartError();
        EXPECT_EQ(0, writer.GetStartError());
        EXPECT_EQ(0, writer.GetWriteError()) << "nothing was written yet";
        Log("lost");
        fLog.Logger()->Flush();
        EXPECT_EQ(ENOSPC, writer.GetWriteError());
        writer.Stop();
        EXPECT_EQ(ENOSPC, writer.GetWriteError()) << "kept after Stop";
        ASSERT_EQ(0, unlink(fTemp.Path("mnt/filler").c_str()));
    }
    {
        // A split whose next file cannot be made (no file is left on the
        // disk) loses what follows.
        test::StTmpfs few(fTemp.Path("few"), "size=16m,nr_inodes=8");
        ASSERT_TRUE(few.IsMounted());
        VSplitableLogFile file(Folder("few").Get(), VString("split"), 1, false);
        ASSERT_TRUE(file.Open(false, false));
        file.AppendString(std::string(VSplitableLogFile::kSplitSize, 'x').c_str());
        file.Flush();
        EXPECT_EQ(0, file.GetWriteError());
        for (int n = 0; n < 16 && fTemp.WriteFile("few/filler" + std::to_string(n), ""); ++n) {
        }
        file.AppendString("lost\n");
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(ENOSPC, file.GetWriteError());
        EXPECT_NE(0, file.GetOpenError());
    }
    {
        // A folder that is there, on a disk that takes no file.
        ASSERT_TRUE(mount.MakeReadOnly());
        VLog4jMsgFileLogger writer(Folder("mnt/logs").Get(), VString("ro"));
        writer.Start();
        EXPECT_FALSE(writer.IsStarted());
        EXPECT_EQ(EROFS, writer.GetStartError());
        EXPECT_EQ(0, writer.GetWriteError());
    }
    {
        VLog4jMsgFileLogger writer(Folder().Get(), VString("fine"));
        writer.Start();
        Log("kept");
        writer.Stop();
        EXPECT_EQ(0, writer.GetStartError());
        EXPECT_EQ(0, writer.GetWriteError());
        EXPECT_NE(Read("fine_1.txt").find("kept ()\n"), std::string::npos);
    }
}

TEST_F(LogFileTest, StopRacingTheLoggerTaskNeitherHangsNorLosesEntries)
{
    // The "Logger" task flushes every 100 ms, holding the logger's listener
    // lock through a slow listener and then the writer's Put, while Stop runs
    // on this task; each round must finish and hold exactly the entries logged
    // before Stop. A watchdog fails the test instead of hanging.
    struct SlowListener : test::RecordingListener {
        void Put(const std::vector<const VValueBag*>&) override { VSystem::Delay(40); }
    };
    VRefPtr<SlowListener> slow = VRefPtr<SlowListener>::Adopt(new SlowListener());
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done) {
            fprintf(stderr, "Stop and the Logger task deadlocked\n");
            _exit(3);
        }
    });
    for (int round = 0; round < 12; ++round) {
        std::string base = "race" + std::to_string(round);
        VLog4jMsgFileLogger writer(Folder().Get(), VString(base.c_str()));
        writer.Start();
        fLog.Logger()->AddLogListener(slow.Get());  // called before the writer's listener
        int count = 50 + round * 37;
        for (int i = 0; i < count; ++i) {
            Log("entry");
            if (i % 16 == 0) VSystem::Delay(1);
        }
        VSystem::Delay(round * 9 % 100);  // land Stop at various points of the task's cycle
        writer.Stop();
        fLog.Logger()->RemoveLogListener(slow.Get());
        Log("after stop");
        VSystem::Delay(round % 3 == 0 ? 120 : 0);
        std::string text = Read(base + "_1.txt");
        size_t lines = std::count(text.begin(), text.end(), '\n');
        EXPECT_EQ(lines, static_cast<size_t>(count)) << round;
        EXPECT_EQ(text.find("after stop"), std::string::npos);
    }
    done = true;
    watchdog.join();
}

// Writers of separate processes, without a process logger: a forked child
// has none of the parent's tasks, so its lines go straight to its writer.
class SharedLogFolderTest : public test::TempFolderTest {
protected:
    static constexpr int kWriters = 4;
    static constexpr int kLines = 300;

    // Long enough that a line shared with others would tear at their buffers' ends.
    static std::string Message(int writer, int line)
    {
        return "w" + std::to_string(writer) + " line " + std::to_string(line) + " " + std::string(150, 'a' + writer);
    }

    // In a child: waits for the barrier's end, starts a writer, writes its
    // lines and reports "<writer> <current file name>\n" on the report pipe.
    // Leaves through the kernel: a forked child has no business with the
    // parent's exit handlers (nor a sanitizer's exit checks).
    [[noreturn]] void Child(int writer, int barrier, int report)
    {
        char byte;
        while (read(barrier, &byte, 1) < 0 && errno == EINTR) {
        }
        int code = 0;
        {
            VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("logs")));
            VLog4jMsgFileLogger log(folder.Get(), VString("shared"));
            log.Start();
            if (!log.IsStarted()) {
                code = 1;
            } else {
                for (int i = 0; i < kLines; ++i) log.Log("Src", EML_Information, Message(writer, i).c_str());
                VString name;
                log.GetCurrentLogFileName(name);
                std::string line = std::to_string(writer) + " " + to_string(name) + "\n";
                if (write(report, line.data(), line.size()) != static_cast<ssize_t>(line.size())) code = 2;
                log.Stop();
            }
        }
        syscall(SYS_exit_group, code);
        __builtin_unreachable();
    }
};

TEST_F(SharedLogFolderTest, WritersStartedTogetherEachWriteTheirOwnFileWhole)
{
    int barrier[2], report[2];
    ASSERT_EQ(pipe(barrier), 0);
    ASSERT_EQ(pipe(report), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(barrier[1]);
            close(report[0]);
            Child(w, barrier[0], report[1]);
        }
        children.push_back(pid);
    }
    close(barrier[0]);
    close(report[1]);
    close(barrier[1]);  // every child starts now
    std::string reported;
    char buffer[256];
    ssize_t n;
    while ((n = read(report[0], buffer, sizeof(buffer))) != 0) {
        if (n > 0) reported.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR) break;
    }
    close(report[0]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid << " status " << status;
    }

    std::map<int, std::string> current;  // writer -> the file it named
    for (size_t at = 0, end; (end = reported.find('\n', at)) != std::string::npos; at = end + 1) {
        size_t blank = reported.find(' ', at);
        current[std::stoi(reported.substr(at, blank - at))] = reported.substr(blank + 1, end - blank - 1);
    }

    // Every line whole, once, in a file of its writer's alone.
    std::map<std::string, std::pair<int, int>> expected;  // the line after its time -> writer, line
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kLines; ++i) expected[" [Src] INFO - " + Message(w, i)] = {w, i};
    std::map<std::pair<int, int>, int> seen;
    std::map<int, std::set<std::string>> filesOf;
    std::vector<std::string> torn;
    const std::vector<std::string> names = fTemp.List("logs");
    for (const std::string& name : names) {
        std::set<int> writers;
        std::string text = fTemp.ReadFile("logs/" + name);
        for (const LogLine& line : LogLines(text)) {
            auto found = line.shaped ? expected.find(line.rest) : expected.end();
            if (found == expected.end()) {
                torn.push_back(name + ": " + line.text.substr(0, 80));
                continue;
            }
            ++seen[found->second];
            writers.insert(found->second.first);
        }
        EXPECT_EQ(writers.size(), 1u) << name << " holds lines of " << writers.size() << " writers";
        for (int w : writers) filesOf[w].insert(name);
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kWriters));
    EXPECT_TRUE(torn.empty()) << torn.size() << " torn lines, the first: " << (torn.empty() ? "" : torn.front());
    int missing = 0, repeated = 0;
    for (const auto& [line, id] : expected) {
        missing += seen[id] == 0;
        repeated += seen[id] > 1;
    }
    EXPECT_EQ(missing, 0) << "lines overwritten";
    EXPECT_EQ(repeated, 0);
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(filesOf[w], std::set<std::string>{current[w]}) << "writer " << w << " names the file it wrote";
}

}  // namespace
}  // namespace bkit
