// VLog4jMsgFileLoggerTest.cpp - log lines byte for byte, file naming, continuation, splits and Stop races.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/runtime/VLog4jMsgFileLogger.h"
#include "basekit/runtime/VSplitableLogFile.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "runtime/LoggerTestSupport.h"
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
    std::vector<unsigned long long> sequence;
    size_t start = 0;
    for (const char* tail : tails) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << text;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t blank = line.find(' ');
        ASSERT_NE(blank, std::string::npos) << line;
        sequence.push_back(std::stoull(line.substr(0, blank)));
        EXPECT_TRUE(IsLocalTimeText(line.substr(blank + 1, 23))) << line;
        EXPECT_EQ(line.substr(blank + 24), tail);
    }
    EXPECT_EQ(start, text.size()) << "nothing else was written: " << text;
    ASSERT_EQ(sequence.size(), 2u) << text;
    EXPECT_EQ(sequence[1], sequence[0] + 1) << "a paused writer uses no sequence number";
    EXPECT_FALSE(writer.IsStarted());
    EXPECT_EQ(writer.GetLogMaxNumberToKeep(), 0);
}

TEST_F(LogFileTest, RestartAppendsToTheHighestContiguousNumber)
{
    {
        VLog4jMsgFileLogger writer(Folder().Get(), VString("base"));
        writer.Start();
        Log("one");
        writer.Stop();
        writer.Start();
        Log("two");
        writer.Stop();
    }
    std::string text = Read("base_1.txt");
    EXPECT_NE(text.find("one ()\n"), std::string::npos);
    EXPECT_NE(text.find("two ()\n"), std::string::npos) << "appended, not replaced";

    ASSERT_TRUE(fTemp.WriteFile("logs/base_2.txt", "kept\n"));
    ASSERT_TRUE(fTemp.WriteFile("logs/base_4.txt", "after a gap\n"));
    VLog4jMsgFileLogger writer(Folder().Get(), VString("base"));
    writer.Start();
    Log("three");
    writer.Stop();
    EXPECT_EQ(Read("base_2.txt").rfind("kept\n", 0), 0u);
    EXPECT_NE(Read("base_2.txt").find("three ()\n"), std::string::npos);
    EXPECT_EQ(Read("base_4.txt"), "after a gap\n");

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

TEST_F(LogFileTest, FullFileMovesToTheNextNumberAndTheFileFiftyOlderIsDeleted)
{
    ASSERT_TRUE(fTemp.MakeFolder("logs"));
    MakeFullFile("split_1.txt");
    {
        VLog4jMsgFileLogger writer(Folder().Get(), VString("split"));
        writer.Start();
        EXPECT_EQ(writer.GetLogMaxNumberToKeep(), 50);
        Log("goes to two");
        writer.Stop();
    }
    EXPECT_EQ(Size("split_1.txt"), VSplitableLogFile::kSplitSize) << "the full file is not written to";
    EXPECT_NE(Read("split_2.txt").find("goes to two ()\n"), std::string::npos);

    for (int n = 1; n <= 50; ++n) MakeFullFile("many_" + std::to_string(n) + ".txt");
    // Continue at 50: its first line goes to 51, and 1 is deleted.
    VLog4jMsgFileLogger writer(Folder().Get(), VString("many"));
    writer.Start();
    Log("fifty-one");
    writer.Stop();
    EXPECT_EQ(Size("many_1.txt"), -1) << "file 51 - 50 is deleted";
    EXPECT_EQ(Size("many_2.txt"), VSplitableLogFile::kSplitSize);
    EXPECT_EQ(Size("many_50.txt"), VSplitableLogFile::kSplitSize);
    EXPECT_NE(Read("many_51.txt").find("fifty-one ()\n"), std::string::npos);
}

TEST_F(LogFileTest, SplitEmptiesALeftoverFileOfTheNextNumber)
{
    ASSERT_TRUE(fTemp.MakeFolder("logs"));
    MakeFullFile("left_1.txt");
    ASSERT_TRUE(fTemp.WriteFile("logs/left_2.txt", "stale\n"));
    VRefPtr<VFolder> folder = Folder();
    VSplitableLogFile file(folder.Get(), VString("left"), 1, false);
    ASSERT_TRUE(file.Open(false, false));
    file.AppendString("fresh\n");
    EXPECT_EQ(file.GetLogNumber(), 2);
    file.Close();
    EXPECT_EQ(Read("left_2.txt"), "fresh\n");

    VSplitableLogFile free(folder.Get(), VString("left"), 1, false);
    ASSERT_TRUE(free.Open(false, true));
    EXPECT_EQ(free.GetLogNumber(), 3) << "the first number without a file";
    VString name;
    VSplitableLogFile::BuildLogFileNameWithExt(VString("b"), 7, VString("log"), name);
    EXPECT_EQ(to_string(name), "b_7.log");
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

}  // namespace
}  // namespace bkit
