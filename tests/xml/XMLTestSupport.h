// XMLTestSupport.h - a recording handler and helpers shared by the XML tests.
//
// RecordingHandler writes every event it receives, with the element it answers
// for, into one shared log, so that a test compares the whole sequence of
// events in order. Elements named in the refusal list get no handler.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "basekit/runtime/VErrorContext.h"
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
