// ILogger.cpp - the entry keys, the sequence counter, the process logger and the shared entries.
#include "basekit/runtime/ILogger.h"

#include <cstring>
#include <string>

#include "basekit/platform/BundleInfo.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/mac/XMacStackCrawl.h"
#include "basekit/text/VString.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VUUID.h"

namespace bkit {

// Built at program start, in this order.
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::message("message");
const StBagKeyWithDefault<VLong, int32_t> ILoggerBagKeys::level("level", EML_Information);
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::source("source");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::task_name("task_name");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::file_name("file_name");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::stack_crawl("stack_crawl");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::line_number("line_number");
const StBagKeyNoDefault<VLong, uint32_t> ILoggerBagKeys::component_signature("component_signature");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::elapsed_milliseconds("elapsed_milliseconds");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::count_bytes_sent("count_bytes_sent");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::count_bytes_received("count_bytes_received");
const StBagKeyNoDefault<VUUID, VUUID> ILoggerBagKeys::base_context_uuid("base_context_uuid");
const StBagKeyNoDefault<VLong8, uint64_t> ILoggerBagKeys::error_code("error_code");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::count_bytes_asked("count_bytes_asked");
const StBagKeyNoDefault<VLong8, int64_t> ILoggerBagKeys::socket("socket");
const StBagKeyNoDefault<VBoolean, bool> ILoggerBagKeys::is_blocking("is_blocking");
const StBagKeyNoDefault<VBoolean, bool> ILoggerBagKeys::is_ssl("is_ssl");
const StBagKeyNoDefault<VBoolean, bool> ILoggerBagKeys::is_select_io("is_select_io");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::payload("payload");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::ms_timeout("ms_timeout");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::ms_spent("ms_spent");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::dump_offset("dump_offset");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::dump_buffer("dump_buffer");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::local_addr("local_addr");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::peer_addr("peer_addr");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::local_port("local_port");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::peer_port("peer_port");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::task_id("task_id");
const StBagKeyNoDefault<VBoolean, bool> ILoggerBagKeys::exchange_id("exchange_id");
const StBagKeyNoDefault<VLong8, int64_t> ILoggerBagKeys::debug_context("debug_context");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::jobId("jobId");
const StBagKeyNoDefault<VLong, int32_t> ILoggerBagKeys::jobState("jobState");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::pipe("pipe");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::user_id("user_id");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::stream_id("stream_id");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::system_username("system_username");
const StBagKeyNoDefault<VString, VString> ILoggerBagKeys::hostname("hostname");

std::atomic<uint64_t> ILogger::sSequenceNumber{0};

namespace {

// The process logger. The pointer is read without a lock on every entry; the
// process object sets it at start-up and clears it at the end, while no other
// task logs.
std::atomic<ILogger*> sProcessLogger{nullptr};
// The source of entries when the process names none.
VString ExecutableName()
{
    std::string name = platform::BundleInfo::GetExecutablePath();
    VString source;
    source.FromCString(name.substr(name.rfind('/') + 1).c_str());
    return source;
}

void RemoveAll(VString& text, const char* what)
{
    VString pattern(what);
    for (VIndex at; (at = text.FindRawString(pattern)) > 0;) text.Remove(at, pattern.GetLength());
}

}  // namespace

uint64_t ILogger::GetSequenceNumber()
{
    return sSequenceNumber.fetch_add(1, std::memory_order_relaxed) + 1;
}

ILogger* ILogger::GetProcessLogger()
{
    return sProcessLogger.load(std::memory_order_acquire);
}

void ILogger::SetProcessLogger(ILogger* logger)
{
    if (logger) logger->Retain();
    if (ILogger* previous = sProcessLogger.exchange(logger, std::memory_order_acq_rel)) previous->Release();
}

void ILogger::GetLogSourceIdentifier(VString& out)
{
    // A program without a bundle has no product name: its executable names it.
    VProcess* process = VProcess::Get();
    out = process ? process->GetLogSourceIdentifier() : VString();
    if (out.IsEmpty()) out = ExecutableName();
}

void ILogger::SimplifyStackCrawl(const VString& crawl, VString& out)
{
    out.Clear();
    std::string text = to_string(crawl);
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        VString line;
        line.FromCString(text.substr(start, end - start).c_str());
        start = end + 1;
        VIndex open = line.FindUniChar(u'(');
        VIndex close = line.FindUniChar(u')');
        if (open > 0 && close > open) line.Remove(open, close - open + 1);
        RemoveAll(line, "bkit::");
        RemoveAll(line, "non-virtual thunk to ");
        VString suffix(" const");
        if (line.GetLength() >= suffix.GetLength() && line.EndsWithRawString(suffix))
            line.Truncate(line.GetLength() - suffix.GetLength());
        if (!first) out.AppendCString(" <- ");
        out.AppendString(line);
        first = false;
    }
}

void ILogger::LogErrorIfNecessary(VErrorBase* error)
{
    if (!error || !ShouldLog(EML_Error)) return;
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    ILoggerBagKeys::level.Set(bag.Get(), EML_Error);
    error->SaveToBag(*bag);
    VString description;
    error->GetErrorDescription(description);
    ILoggerBagKeys::message.Set(bag.Get(), description);
    if (OsType signature = COMPONENT_FROM_VERROR(error->GetError()))
        ILoggerBagKeys::component_signature.Set(bag.Get(), signature);
    VString source;
    GetLogSourceIdentifier(source);
    ILoggerBagKeys::source.Set(bag.Get(), source);
    VString crawl, simplified;
    error->GetStackCrawl().Dump(crawl);
    SimplifyStackCrawl(crawl, simplified);
    if (!simplified.IsEmpty()) ILoggerBagKeys::stack_crawl.Set(bag.Get(), simplified);
    LogBag(bag.Get());
}

void ILogger::LogAssertIfNecessary(const char* message, const char* file, int line)
{
    if (!ShouldLog(EML_Assert)) return;
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    ILoggerBagKeys::level.Set(bag.Get(), EML_Assert);
    const char* name = file ? file : "";
    if (const char* slash = std::strrchr(name, '/')) name = slash + 1;
    VString text;
    text.FromCString(name);
    ILoggerBagKeys::file_name.Set(bag.Get(), text);
    ILoggerBagKeys::line_number.Set(bag.Get(), line);
    text.FromCString(message ? message : "");
    ILoggerBagKeys::message.Set(bag.Get(), text);
    XMacStackCrawl crawl;
    crawl.LoadFrames(2, 8);
    VString dump, simplified;
    crawl.Dump(dump);
    SimplifyStackCrawl(dump, simplified);
    if (!simplified.IsEmpty()) ILoggerBagKeys::stack_crawl.Set(bag.Get(), simplified);
    LogBag(bag.Get());
}

}  // namespace bkit
