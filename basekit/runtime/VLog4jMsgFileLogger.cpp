// VLog4jMsgFileLogger.cpp - entries made into log4j-style lines and written to split files.
#include "basekit/runtime/VLog4jMsgFileLogger.h"

#include <string>
#include <string_view>
#include <unordered_map>

#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"
#include "basekit/runtime/VSplitableLogFile.h"
#include "basekit/text/ControlEscapes.h"

namespace bkit {

namespace {

const char* const kLevelNames[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

// The attribute prefix of an entry's key; null for the keys the line shows
// elsewhere. Keys not listed use their own name and "=".
const std::unordered_map<std::string_view, const char*> sAttributePrefixes = {
    {"message", nullptr},
    {"error_code", nullptr},
    {"level", nullptr},
    {"source", nullptr},
    {"component_signature", nullptr},
    {"task_id", "task="},
    {"task_name", "taskName="},
    {"socket", "socket="},
    {"local_addr", "localAddr="},
    {"local_port", "localPort="},
    {"peer_addr", "peerAddr="},
    {"peer_port", "peerPort="},
    {"exchange_id", "exchangeEndpointId="},
    {"is_blocking", "blocking="},
    {"is_ssl", "SSL="},
    {"is_select_io", "selectIO="},
    {"ms_timeout", "timeout="},
    {"count_bytes_asked", "asked="},
    {"count_bytes_sent", "sent="},
    {"count_bytes_received", "received="},
    {"ms_spent", "executionTime="},
    {"dump_offset", "offset="},
    {"dump_buffer", "data="},
    {"file_name", "fileName="},
    {"line_number", "lineNumber="},
    {"stack_crawl", "stackCrawl="},
    {"user_id", "UUID="},
};

// Appends the value's text with every line feed written as " ; ".
void AppendAttributeValue(const VValueSingle& value, VString& out)
{
    VString text;
    value.GetString(text);
    const UniChar* units = text.GetCPointer();
    VIndex start = 0;
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        if (units[i] != u'\n') continue;
        out.AppendUniChars(units + start, i - start).AppendCString(" ; ");
        start = i + 1;
    }
    out.AppendUniChars(units + start, text.GetLength() - start);
}

}  // namespace

// --- the listener ---

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const std::vector<const VValueBag*>& bags)
{
    StLocker<VCriticalSection> lock(&fWriter->fLock);
    if (!fWriter->fFile) return;
    VString source, message;
    for (const VValueBag* bag : bags) {
        EMessageLevel level = EML_Information;
        GetLogInfosFromBag(bag, source, level, message);
        fWriter->Log(source, level, message);
    }
    fWriter->fFile->Flush();
}

// --- the writer ---

VLog4jMsgFileLogger::VLog4jMsgFileLogger(VFolder* folder, const VString& logName)
    : fFolder(folder), fLogName(logName), fListener(this)
{
    if (fFolder) fFolder->Retain();
    fStartTime.SetNull(true);
}

VLog4jMsgFileLogger::~VLog4jMsgFileLogger()
{
    Stop();
    delete fStoppedFile;
    if (fFolder) fFolder->Release();
}

void VLog4jMsgFileLogger::BuildLogFileName(const VString& logName, int32_t number, VString& out)
{
    VSplitableLogFile::BuildLogFileName(logName, number, out);
}

void VLog4jMsgFileLogger::Start()
{
    int32_t number;
    {
        StLocker<VCriticalSection> lock(&fLock);
        number = fStoppedFile ? fStoppedFile->GetLogNumber() : 1;
    }
    Start(number);
}

void VLog4jMsgFileLogger::Start(int32_t number)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fFile || !fFolder || fLogName.IsNull() || fLogName.IsEmpty()) return;
    if (fStoppedFile && fStoppedFile->GetLogNumber() == number) {
        fFile = fStoppedFile;
        fStoppedFile = nullptr;
    } else {
        fFile = new VSplitableLogFile(fFolder, fLogName, number, false);
    }
    if (!fFile->Open(false, false)) {
        fStartError = fFile->GetOpenError();
        if (fFile->GetWriteError() != 0 && fWriteError == 0) fWriteError = fFile->GetWriteError();
        delete fFile;
        fFile = nullptr;
        return;
    }
    fStartError = 0;
    VTime::Now(fStartTime);
    if (ILogger* logger = ILogger::GetProcessLogger()) logger->AddLogListener(&fListener);
}

void VLog4jMsgFileLogger::Stop()
{
    // Outside the writer's lock: the removal flushes the logger into Put, and
    // the logger's task may be inside its listener lock waiting for ours.
    if (ILogger* logger = ILogger::GetProcessLogger()) logger->RemoveLogListener(&fListener);
    StLocker<VCriticalSection> lock(&fLock);
    if (!fFile) return;
    fFile->Close();
    if (fStoppedFile && fStoppedFile->GetWriteError() != 0 && fWriteError == 0)
        fWriteError = fStoppedFile->GetWriteError();
    delete fStoppedFile;
    fStoppedFile = fFile;
    fFile = nullptr;
    fStartTime.SetNull(true);
}

bool VLog4jMsgFileLogger::IsStarted() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fFile != nullptr;
}

int VLog4jMsgFileLogger::GetStartError() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fStartError;
}

int VLog4jMsgFileLogger::GetWriteError() const
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fWriteError != 0) return fWriteError;
    if (fFile) return fFile->GetWriteError();
    return fStoppedFile ? fStoppedFile->GetWriteError() : 0;
}

void VLog4jMsgFileLogger::Flush()
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fFile) fFile->Flush();
}

bool VLog4jMsgFileLogger::ShouldLog(EMessageLevel level) const
{
    if (!IsStarted()) return false;
    return (fLevelMask & (1u << (static_cast<uint32_t>(level) % 32u))) != 0;
}

const char* VLog4jMsgFileLogger::GetMessageLevelName(EMessageLevel level)
{
    return (level >= EML_Dump && level <= EML_Fatal) ? kLevelNames[level] : "INFO";
}

void VLog4jMsgFileLogger::GetLogFolderPath(VFilePath& out) const
{
    if (fFolder) out = fFolder->GetPath();
}

void VLog4jMsgFileLogger::SetLogMaxNumberToKeep(int32_t count)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fFile) fFile->SetMaxLogsToKeep(count);
}

int32_t VLog4jMsgFileLogger::GetLogMaxNumberToKeep()
{
    StLocker<VCriticalSection> lock(&fLock);
    return fFile ? fFile->GetMaxLogsToKeep() : 0;
}

void VLog4jMsgFileLogger::GetCurrentLogFileName(VString& out)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fFile) fFile->GetCurrentFileName(out);
    else out.Clear();
}

void VLog4jMsgFileLogger::GetLogInfosFromBag(const VValueBag* bag, VString& source, EMessageLevel& level,
                                             VString& message)
{
    message.Clear();
    source.Clear();
    level = EML_Information;
    VError code = 0;
    if (bag) {
        ILoggerBagKeys::message.Get(bag, message);
        level = static_cast<EMessageLevel>(ILoggerBagKeys::level.Get(bag));
        ILoggerBagKeys::error_code.Get(bag, code);
    }
    if (!bag || !ILoggerBagKeys::source.Get(bag, source)) ILogger::GetLogSourceIdentifier(source);

    uint32_t signature = 0;
    if (!bag || !ILoggerBagKeys::component_signature.Get(bag, signature)) signature = COMPONENT_FROM_VERROR(code);
    if (signature != 0) {
        if (!source.IsEmpty()) source.AppendUniChar(u'.');
        source.AppendOsType(signature);
    }
    if (code != 0) {
        VString prefix;
        prefix.AppendUniChar(u'[').AppendLong(ERRCODE_FROM_VERROR(code)).AppendCString("] ");
        message = prefix.AppendString(message);
    }

    message.AppendCString(" (");
    const VValueBag::AttributeStore* attributes = bag ? &bag->GetAttributes() : nullptr;
    size_t count = attributes ? attributes->GetCount() : 0;
    bool first = true;
    for (size_t i = 0; i < count; ++i) {
        size_t length = 0;
        const char* bytes = attributes->GetNameBytes(i, &length);
        std::string_view name(bytes, length);
        auto found = sAttributePrefixes.find(name);
        if (found != sAttributePrefixes.end() && !found->second) continue;
        const VValueSingle* value = attributes->GetNthValue(i);
        if (!value) continue;
        if (!first) message.AppendCString(", ");
        first = false;
        if (found != sAttributePrefixes.end()) {
            message.AppendCString(found->second);
        } else {
            message.AppendBlock(bytes, length, VTC_UTF_8);
            message.AppendUniChar(u'=');
        }
        AppendAttributeValue(*value, message);
    }
    message.AppendUniChar(u')');
}

const char* VLog4jMsgFileLogger::_CurrentTimeText()
{
    VTime now;
    VTime::Now(now);
    uint64_t stamp = now.GetStamp();
    if (stamp != fTimeStamp) {
        VString text;
        now.GetRfc3339String(text, kRfc3339_NoOffset);
        std::string utf8 = to_string(text);
        utf8.copy(fTimeText, sizeof(fTimeText) - 1);
        fTimeText[std::min(utf8.size(), sizeof(fTimeText) - 1)] = 0;
        fTimeStamp = stamp;
    }
    return fTimeText;
}

void VLog4jMsgFileLogger::Log(const VString& source, EMessageLevel level, const VString& message)
{
    StStringConverter<char> sourceText(source, VTC_UTF_8);
    StStringConverter<char> messageText(message, VTC_UTF_8);
    Log(sourceText.GetCPointer(), level, messageText.GetCPointer());
}

void VLog4jMsgFileLogger::Log(const char* source, EMessageLevel level, const char* message)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (!fFile || IsPaused() || (fLevelMask & (1u << (static_cast<uint32_t>(level) % 32u))) == 0) return;
    std::string escapedSource, escapedMessage;
    if (source && HasControls(source)) source = (escapedSource = EscapeControls(source)).c_str();
    if (message && HasControls(message)) message = (escapedMessage = EscapeControls(message)).c_str();
    uint64_t sequence = ILogger::GetSequenceNumber();
    const char* levelName = GetMessageLevelName(level);
    if (sequence != 0)
        fFile->AppendFormattedString("%llu %s [%s] %s - %s\n", static_cast<unsigned long long>(sequence),
                                     _CurrentTimeText(), source, levelName, message);
    else
        fFile->AppendFormattedString("%s [%s] %s - %s\n", _CurrentTimeText(), source, levelName, message);
}

}  // namespace bkit
