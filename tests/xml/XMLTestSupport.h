// XMLTestSupport.h - a recording handler and helpers shared by the XML tests.
//
// RecordingHandler writes every event it receives, with the element it answers
// for, into one shared log, so that a test compares the whole sequence of
// events in order. Elements named in the refusal list get no handler.
// MemoryFile is a file that is no VFile, whose reads and writes can fail.
#pragma once

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "basekit/files/IFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFilePath.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"
#include "basekit/xml/IXMLHandler.h"

namespace bkit::test {

using EventLog = std::vector<std::string>;

class RecordingHandler : public VObject, public IXMLHandler {
public:
    RecordingHandler(std::shared_ptr<EventLog> log, std::string element, std::set<std::string> refused = {})
        : fLog(std::move(log)), fElement(std::move(element)), fRefused(std::move(refused))
    {
    }

    IXMLHandler* StartElement(const VString& name) override
    {
        std::string n = to_string(name);
        fLog->push_back(fElement + " start " + n);
        if (fRefused.count(n))
            return nullptr;
        return new RecordingHandler(fLog, n, fRefused);
    }
    void EndElement(const VString& name) override { fLog->push_back(fElement + " end " + to_string(name)); }
    void SetAttribute(const VString& name, const VString& value) override
    {
        fLog->push_back(fElement + " attr " + to_string(name) + "=" + to_string(value));
    }
    void SetText(const VString& text) override { fLog->push_back(fElement + " text " + to_string(text)); }
    void StartStyleSheet() override { fLog->push_back(fElement + " style-start"); }
    void SetStyleSheetAttribute(const VString& name, const VString& value) override
    {
        fLog->push_back(fElement + " style " + to_string(name) + "=" + to_string(value));
    }
    void EndStyleSheet() override { fLog->push_back(fElement + " style-end"); }

private:
    std::shared_ptr<EventLog> fLog;
    std::string fElement;
    std::set<std::string> fRefused;
};

// A file that is no VFile: its content lives in memory; with fails set every
// read and write of it fails (a write leaves the content as it was). Records
// whether anyone asked to delete it.
class MemoryFile : public VObject, public IFile {
public:
    MemoryFile(std::string content, bool fails) : fContent(std::move(content)), fFails(fails) {}
    VFilePath GetPath() const override { return VFilePath(VString("/memory/doc.xml"), FPS_POSIX); }
    VFileSystem* GetFileSystem() const override { return nullptr; }
    void GetPlatformPath(VString& out, FilePathStyle) const override { out = VString("/memory/doc.xml"); }
    VString GetPathWithFileSystem() const override { return VString("/memory/doc.xml"); }
    IFolder* RetainParentFolder(bool) const override { return nullptr; }
    bool Exists() const override { return true; }
    VError GetTimeAttributes(VTime*, VTime*, VTime*) const override { return VE_OK; }
    VError GetContent(VMemoryBuffer<>& out) const override
    {
        if (fFails)
            return _ThrowError(VE_FILE_CANNOT_READ);
        out.SetSize(fContent.size());
        out.SetDataSize(fContent.size());
        std::memcpy(out.GetDataPtr(), fContent.data(), fContent.size());
        return VE_OK;
    }
    VError GetData(void*, unsigned long, unsigned long*) const override { return VE_UNIMPLEMENTED; }
    VError SetContent(const void* data, unsigned long size) const override
    {
        if (fFails)
            return _ThrowError(VE_FILE_CANNOT_WRITE);
        fContent.assign(static_cast<const char*>(data), size);
        return VE_OK;
    }
    VError AppendContent(const void*, unsigned long) const override { return VE_UNIMPLEMENTED; }
    VError Delete() const override
    {
        fDeleteAsked = true;
        return VE_UNIMPLEMENTED;
    }
    bool IsWritable() const override { return !fFails; }
    VError GetSize(long long* size) const override
    {
        *size = static_cast<long long>(fContent.size());
        return VE_OK;
    }
    VError CopyTo(const VFile&, unsigned int) const override { return VE_UNIMPLEMENTED; }
    VError CopyTo(const VFolder&, VFile**, unsigned int) const override { return VE_UNIMPLEMENTED; }

    const std::string& Content() const { return fContent; }
    bool DeleteAsked() const { return fDeleteAsked; }

private:
    mutable std::string fContent;
    bool fFails;
    mutable bool fDeleteAsked = false;
};

// The text of every SetText event of the log, joined.
inline std::string JoinedText(const EventLog& log)
{
    std::string text;
    for (const std::string& event : log) {
        size_t at = event.find(" text ");
        if (at != std::string::npos)
            text += event.substr(at + 6);
    }
    return text;
}

// A numeric parameter of an error record (-1 when absent).
inline int ErrorParameter(const VErrorBase* error, const char* name)
{
    VJSONValue value = error->GetParameters()->GetProperty(VString(name));
    return value.IsNumber() ? static_cast<int>(value.GetNumber()) : -1;
}

}  // namespace bkit::test
