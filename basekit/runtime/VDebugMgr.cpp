// VDebugMgr.cpp - debug messages, failed assertions and thrown errors.
#include "basekit/runtime/VDebugMgr.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "basekit/bags/VValueBag.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/platform/ProcessTable.h"
#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/runtime/mac/XMacStackCrawl.h"
#include "basekit/text/VString.h"

namespace bkit {

VDebugMgr VDebugMgr::sInstance;

namespace {

constexpr long kAssertFileSplitSize = 10485761;  // more than 10 MiB written
constexpr size_t kMaxAssertPathLength = 4095;

// The calling task's debug context, when the task manager runs and the
// calling thread is a task.
VDebugContext* CurrentDebugContext()
{
    if (!VTaskMgr::IsInited()) return nullptr;
    VTask* task = VTask::GetCurrent();
    return task ? &task->GetDebugContext() : nullptr;
}

// Sets the context's guard for a scope (when it was free).
class StDebugGuard {
public:
    explicit StDebugGuard(VDebugContext* context) : fContext(context && context->EnterGuard() ? context : nullptr) {}
    ~StDebugGuard() { if (fContext) fContext->LeaveGuard(); }
    bool IsHeld() const { return fContext != nullptr; }

private:
    VDebugContext* fContext;
};

void WriteUTF8ToConsole(const VString& text)
{
    std::string utf8 = to_string(text);
    std::fputs(utf8.c_str(), stderr);
}

std::string LocalDate(const char* format)
{
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[256];
    size_t length = std::strftime(text, sizeof(text), format, &local);
    return std::string(text, length);
}

}  // namespace

VDebugMgr::~VDebugMgr()
{
    // Nothing is reported while the process takes its statics down.
    fMessagesEnabled = false;
    delete fIgnoredLocations;
    delete fIgnoredErrors;
    delete fAssertFilePath;
    fIgnoredLocations = nullptr;
    fIgnoredErrors = nullptr;
    fAssertFilePath = nullptr;
}

bool VDebugMgr::Init()
{
    fMessagesEnabled = true;
    return true;
}

void VDebugMgr::DeInit()
{
    SetDebugMessageHandler(nullptr);
    fMessagesEnabled = false;
    fWriteAssertFile = false;
    std::lock_guard<std::recursive_mutex> lock(fAssertFileMutex);
    delete fAssertFilePath;
    fAssertFilePath = nullptr;
}

void VDebugMgr::SetDebugMessageHandler(IDebugMessageHandler* handler)
{
    if (handler == fHandler) return;
    if (handler) handler->Retain();
    IDebugMessageHandler* previous = fHandler;
    fHandler = handler;
    if (previous) previous->Release();
}

bool VDebugMgr::SetBreakOnAssert(bool on) { return std::exchange(fBreakOnAssert, on); }
bool VDebugMgr::SetBreakOnDebugMsg(bool on) { return std::exchange(fBreakOnDebugMsg, on); }
bool VDebugMgr::SetBreakOnError(bool on) { return std::exchange(fBreakOnError, on); }
bool VDebugMgr::SetMessagesEnabled(bool on) { return std::exchange(fMessagesEnabled, on); }
bool VDebugMgr::SetLogInDebugger(bool on) { return std::exchange(fLogInDebugger, on); }
bool VDebugMgr::SetWriteAssertFile(bool on) { return std::exchange(fWriteAssertFile, on); }

void VDebugMgr::StartLowLevelMode()
{
    if (VDebugContext* context = CurrentDebugContext()) context->StartLowLevelMode();
}

void VDebugMgr::StopLowLevelMode()
{
    if (VDebugContext* context = CurrentDebugContext()) context->StopLowLevelMode();
}

// --- debug messages ---

void VDebugMgr::DebugMsg(const char* format, va_list args)
{
    VDebugContext* context = CurrentDebugContext();
    if (context && context->IsInLowLevelMode()) {
        // No toolbox formatting in low-level mode: the format goes out as is.
        if (fLogInDebugger && fDebuggerPresent) vfprintf_console(format, args);
        if (fBreakOnDebugMsg) Break();
        return;
    }
    VString message;
    message.VPrintf(format, args);
    DebugMsg(message);
}

void VDebugMgr::DebugMsg(const VString& message)
{
    VDebugContext* context = fMessagesEnabled ? CurrentDebugContext() : nullptr;
    StDebugGuard guard(context);
    if (guard.IsHeld()) {
        if (!context->IsInLowLevelMode()) {
            if (fWriteAssertFile) WriteToAssertFile(message, true, true);
            ILogger* logger = ILogger::GetProcessLogger();
            if (logger && logger->ShouldLog(EML_Debug)) {
                VString text(message);
                if (!text.IsEmpty() && text.GetCPointer()[text.GetLength() - 1] == u'\n')
                    text.Truncate(text.GetLength() - 1);
                VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
                ILoggerBagKeys::message.Set(bag.Get(), text);
                ILoggerBagKeys::level.Set(bag.Get(), EML_Debug);
                logger->LogBag(bag.Get());
            }
        }
        if (fLogInDebugger && fDebuggerPresent) WriteUTF8ToConsole(message);
    }
    if (fBreakOnDebugMsg) Break();
}

// --- assertions ---

bool VDebugMgr::_BreakOrQuit(int32_t reply)
{
    if (reply == eDebugReplyQuit || (reply == eDebugReplyBreak && !fDebuggerPresent)) Abort();
    return reply == eDebugReplyBreak;
}

bool VDebugMgr::_IsLocationIgnored(const std::string& location)
{
    std::lock_guard<std::mutex> lock(fIgnoredMutex);
    return fIgnoreAllAsserts || (fIgnoredLocations && fIgnoredLocations->count(location) != 0);
}

bool VDebugMgr::_IsErrorIgnored(VError code)
{
    std::lock_guard<std::mutex> lock(fIgnoredMutex);
    return fIgnoreAllErrors || (fIgnoredErrors && fIgnoredErrors->count(code) != 0);
}

bool VDebugMgr::AssertFailed(const char* condition, const char* file, int line)
{
    bool answer = fBreakOnAssert;
    if (!fMessagesEnabled) return answer;
    if (fLogInDebugger && fDebuggerPresent) fprintf_console("Assert Failed: %s, %s, %d\n", condition, file, line);
    VDebugContext* context = CurrentDebugContext();
    if (!context || context->IsInLowLevelMode()) return answer;
    StDebugGuard guard(context);
    if (!guard.IsHeld()) return answer;

    std::string location = std::string(file ? file : "") + std::to_string(line);
    if (_IsLocationIgnored(location)) return false;
    if (fWriteAssertFile) {
        VString text;
        text.Printf("Assert Failed: %s, %s, %d\n", condition, file, line);
        WriteToAssertFile(text, true, true);
    }
    if (ILogger* logger = ILogger::GetProcessLogger()) logger->LogAssertIfNecessary(condition, file, line);
    if (!fHandler) return answer;

    int32_t reply = fHandler->AssertFailed(*context, condition, file, line);
    std::lock_guard<std::mutex> lock(fIgnoredMutex);
    switch (reply) {
    case eDebugReplyBreak:
    case eDebugReplyQuit:
        return _BreakOrQuit(reply);
    case eDebugReplyIgnoreThis:
        if (!fIgnoredLocations) fIgnoredLocations = new std::set<std::string>;
        fIgnoredLocations->insert(location);
        return false;
    case eDebugReplyIgnoreAll:
        fIgnoreAllAsserts = true;
        return false;
    default:
        return false;
    }
}

// --- errors ---

void VDebugMgr::ErrorThrown(VErrorBase* error)
{
    bool shouldBreak = fBreakOnError;
    VDebugContext* context = (fMessagesEnabled && error) ? CurrentDebugContext() : nullptr;
    if (context && !context->IsInLowLevelMode()) {
        StDebugGuard guard(context);
        if (guard.IsHeld()) {
            VError code = error->GetError();
            if (_IsErrorIgnored(code)) {
                shouldBreak = false;
            } else {
                VString dump;
                error->DumpToString(dump);
                VString text("Error: ");
                text.AppendString(dump).AppendUniChar(u'\n');
                if (fWriteAssertFile) WriteToAssertFile(text, true, true);
                if (ILogger* logger = ILogger::GetProcessLogger()) logger->LogErrorIfNecessary(error);
                if (fLogInDebugger && fDebuggerPresent) WriteUTF8ToConsole(text);
                if (fHandler) {
                    int32_t reply = fHandler->ErrorThrown(*context, error);
                    shouldBreak = _BreakOrQuit(reply);
                    std::lock_guard<std::mutex> lock(fIgnoredMutex);
                    if (reply == eDebugReplyIgnoreThis) {
                        if (!fIgnoredErrors) fIgnoredErrors = new std::set<VError>;
                        fIgnoredErrors->insert(code);
                    } else if (reply == eDebugReplyIgnoreAll) {
                        fIgnoreAllErrors = true;
                    }
                }
            }
        }
    }
    if (shouldBreak) Break();
}

// --- console, breaks ---

void VDebugMgr::fprintf_console(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf_console(format, args);
    va_end(args);
}

void VDebugMgr::vfprintf_console(const char* format, va_list args)
{
    std::vfprintf(stderr, format, args);
}

void VDebugMgr::Break()
{
    if (VTaskMgr::IsInited()) {
        if (VTask* task = VTask::GetCurrent(); task && task->GetDebugContext().GetBreakSuppression() != 0) return;
    }
    if (platform::IsBeingTraced()) ::raise(SIGTRAP);
}

void VDebugMgr::Abort()
{
    std::fflush(nullptr);
    std::_Exit(0);
}

bool VDebugMgr::_GetDebuggerType(int32_t* type)
{
    if (type) *type = 2;
    return true;
}

// --- assertion file ---

std::string VDebugMgr::_GetAssertFilePath()
{
    std::lock_guard<std::recursive_mutex> lock(fAssertFileMutex);
    if (fAssertFilePath && !fAssertFilePath->empty()) return *fAssertFilePath;
    std::string path = platform::BundleInfo::GetMainBundlePath();
    if (path.empty()) path = platform::BundleInfo::GetExecutablePath();
    if (path.size() > kMaxAssertPathLength) {
        // Cut on a character boundary: the path stays valid UTF-8.
        size_t cut = kMaxAssertPathLength;
        while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
        path.resize(cut);
    }
    size_t dot = path.rfind('.');
    if (dot != std::string::npos) path.resize(dot);
    path += "_asserts.txt";
    if (!fAssertFilePath) fAssertFilePath = new std::string;
    *fAssertFilePath = path;
    return path;
}

FILE* VDebugMgr::_OpenAssertFile(bool withDate, bool withCrawl)
{
    std::lock_guard<std::recursive_mutex> lock(fAssertFileMutex);
    std::string path = _GetAssertFilePath();
    const char* bannerFormat = "%A, %B %d, %Y %I:%M:%S %p";
    FILE* file = nullptr;
    if (!fAssertFileOpened) {
        fAssertFileOpened = true;
        file = std::fopen(path.c_str(), "w");
        if (file) std::fprintf(file, "Zanth log file opened on %s\n\n", LocalDate(bannerFormat).c_str());
    } else {
        file = std::fopen(path.c_str(), "a");
        if (file && std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) >= kAssertFileSplitSize) {
            std::fclose(file);
            std::string aside = path + std::to_string(fRotationCounter);
            std::rename(path.c_str(), aside.c_str());
            ++fRotationCounter;
            file = std::fopen(path.c_str(), "w");
            if (file)
                std::fprintf(file, "%d nth log opened on %s\n\n", static_cast<int>(fRotationCounter),
                             LocalDate(bannerFormat).c_str());
        }
    }
    if (!file) return nullptr;
    if (withDate)
        std::fprintf(file, "\n%s\n", LocalDate("%m/%d/%y, %X").c_str());
    else if (withCrawl)
        std::fputc('\n', file);
    if (withCrawl) {
        XMacStackCrawl crawl;
        crawl.LoadFrames(4, 8);
        crawl.Dump(file);
    }
    return file;
}

void VDebugMgr::WriteToAssertFile(const VString& text, bool withDate, bool withCrawl)
{
    std::string utf8 = to_string(text);
    std::lock_guard<std::recursive_mutex> lock(fAssertFileMutex);
    if (FILE* file = _OpenAssertFile(withDate, withCrawl)) {
        std::fputs(utf8.c_str(), file);
        std::fclose(file);
    }
}

void VDebugMgr::_ResetAssertFileForTesting()
{
    std::lock_guard<std::recursive_mutex> lock(fAssertFileMutex);
    fAssertFileOpened = false;
    fRotationCounter = 0;
    delete fAssertFilePath;
    fAssertFilePath = nullptr;
}

// --- VNotificationDebugMessageHandler ---

int32_t VNotificationDebugMessageHandler::AssertFailed(VDebugContext& context, const char* condition,
                                                       const char* file, int line)
{
    if (!context.IsUIAllowed()) return eDebugReplyContinue;
    VString text;
    text.Printf("Condition: %s\nFile: %s, %d", condition, file, line);
    ENotificationResponse response = eNotificationResponseNone;
    VSystem::DisplayNotification(VString("Assert Failed"), text, kNotificationRetryIgnoreAbort, &response);
    return _TranslateNotificationResponse(response);
}

int32_t VNotificationDebugMessageHandler::ErrorThrown(VDebugContext& context, VErrorBase* error)
{
    if (!context.IsUIAllowed()) return eDebugReplyContinue;
    VString dump;
    if (error) error->DumpToString(dump);
    VString text("Error: ");
    text.AppendString(dump).AppendUniChar(u'\n');
    ENotificationResponse response = eNotificationResponseNone;
    VSystem::DisplayNotification(VString("Error Thrown"), text, kNotificationRetryIgnoreAbort, &response);
    return _TranslateNotificationResponse(response);
}

int32_t VNotificationDebugMessageHandler::_TranslateNotificationResponse(int32_t response)
{
    switch (response) {
    case eNotificationResponseAbort:
        return VDebugMgr::Get()->GetDebuggerPresent() ? eDebugReplyBreak : eDebugReplyQuit;
    case eNotificationResponseRetry:
        return eDebugReplyContinue;
    default:
        return eDebugReplyIgnoreThis;
    }
}

}  // namespace bkit
