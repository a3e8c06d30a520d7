// LoggerTestSupport.h - a process logger and a debug handler that record what reaches them.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VDebugMgr.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VLogger.h"
#include "basekit/values/VObject.h"

namespace bkit::test {

// Keeps every entry it receives (retained), in order; any thread.
class RecordingListener : public VObject, public ILogListener {
public:
    ~RecordingListener() override { Clear(); }
    void Put(const std::vector<const VValueBag*>& bags) override
    {
        std::lock_guard<std::mutex> lock(fMutex);
        for (const VValueBag* bag : bags) {
            bag->Retain();
            fBags.push_back(bag);
        }
        ++fBatches;
    }
    std::vector<std::string> Messages()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        std::vector<std::string> out;
        for (const VValueBag* bag : fBags) {
            VString text;
            ILoggerBagKeys::message.Get(bag, text);
            out.push_back(to_string(text));
        }
        return out;
    }
    std::vector<VError> ErrorCodes()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        std::vector<VError> out;
        for (const VValueBag* bag : fBags) {
            VError code = 0;
            if (ILoggerBagKeys::error_code.Get(bag, code)) out.push_back(code);
        }
        return out;
    }
    std::vector<const VValueBag*> Bags()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fBags;
    }
    int Batches()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fBatches;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        for (const VValueBag* bag : fBags) bag->Release();
        fBags.clear();
    }

private:
    std::mutex fMutex;
    std::vector<const VValueBag*> fBags;
    int fBatches = 0;
};

// A started process logger with a recording listener, for a scope.
class StProcessLogger {
public:
    StProcessLogger()
    {
        fLogger->Start();
        fLogger->AddLogListener(fListener.Get());
        ILogger::SetProcessLogger(fLogger.Get());
    }
    ~StProcessLogger()
    {
        ILogger::SetProcessLogger(nullptr);
        fLogger->RemoveLogListener(fListener.Get());
    }
    VLogger* Logger() { return fLogger.Get(); }
    RecordingListener* Listener() { return fListener.Get(); }
    // Flushes, then the error codes of every entry received so far.
    std::vector<VError> LoggedCodes()
    {
        fLogger->Flush();
        return fListener->ErrorCodes();
    }
    std::vector<std::string> LoggedMessages()
    {
        fLogger->Flush();
        return fListener->Messages();
    }

private:
    VRefPtr<VLogger> fLogger = VRefPtr<VLogger>::Adopt(new VLogger());
    VRefPtr<RecordingListener> fListener = VRefPtr<RecordingListener>::Adopt(new RecordingListener());
};

// A debug handler that records errors and assertions and answers as told.
class RecordingHandler : public VObject, public IDebugMessageHandler {
public:
    int32_t AssertFailed(VDebugContext&, const char* condition, const char*, int line) override
    {
        std::lock_guard<std::recursive_mutex> lock(fMutex);
        fAssertions.push_back(std::string(condition) + ":" + std::to_string(line));
        return fReply;
    }
    int32_t ErrorThrown(VDebugContext&, VErrorBase* error) override
    {
        std::lock_guard<std::recursive_mutex> lock(fMutex);
        fErrors.push_back(error->GetError());
        if (fOnError) fOnError();
        return fReply;
    }
    std::vector<VError> fErrors;
    std::vector<std::string> fAssertions;
    int32_t fReply = eDebugReplyContinue;
    void (*fOnError)() = nullptr;

private:
    std::recursive_mutex fMutex;
};

// The debug manager enabled with a recording handler, for a scope.
class StDebugHandler {
public:
    StDebugHandler()
    {
        fWasEnabled = VDebugMgr::Get()->SetMessagesEnabled(true);
        VDebugMgr::Get()->SetDebugMessageHandler(fHandler.Get());
    }
    ~StDebugHandler()
    {
        VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
        VDebugMgr::Get()->SetMessagesEnabled(fWasEnabled);
    }
    RecordingHandler* Handler() { return fHandler.Get(); }

private:
    VRefPtr<RecordingHandler> fHandler = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler());
    bool fWasEnabled = false;
};

}  // namespace bkit::test
