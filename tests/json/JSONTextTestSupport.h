// JSONTextTestSupport.h - helpers of the JSON text reader and writer tests.
//
// Parsed runs a parse inside its own silent error level and keeps the codes
// and parameters of every error it raised, oldest first, so that tests can
// compare them with tables. Compact writes a value as compact quoted text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"

namespace bkit::test {

struct RaisedError {
    int32_t number;
    VJSONObject* parameters;  // borrowed from the record, valid while the Parsed lives

    // A parameter as text: strings as they are, numbers in decimal, "<none>"
    // when absent.
    std::string Param(const char* name) const
    {
        VJSONValue value = parameters->GetProperty(VString(name));
        if (value.IsUndefined())
            return "<none>";
        VString text;
        value.GetString(text);
        return to_string(text);
    }
};

// Records of errors captured from a silent level; keeps them alive.
class CapturedErrors {
public:
    CapturedErrors() = default;
    CapturedErrors(const CapturedErrors&) = delete;
    CapturedErrors& operator=(const CapturedErrors&) = delete;
    ~CapturedErrors()
    {
        for (VErrorBase* e : fRecords)
            e->Release();
    }
    void Take(const VErrorContext* context)
    {
        for (VErrorBase* e : context->GetErrors()) {
            e->Retain();
            fRecords.push_back(e);
            list.push_back({e->GetErrorNumber(), e->GetParameters()});
        }
    }
    std::vector<int32_t> Numbers() const
    {
        std::vector<int32_t> out;
        for (const RaisedError& e : list)
            out.push_back(e.number);
        return out;
    }
    std::vector<RaisedError> list;

private:
    std::vector<VErrorBase*> fRecords;
};

struct Parsed {
    VError err = 0;
    VJSONValue value;
    CapturedErrors errors;
};

inline void ParseInto(Parsed& parsed, const VString& text, uint32_t options)
{
    StErrorContextInstaller level(false, true);
    parsed.err = VJSONImporter::ParseString(text, parsed.value, options);
    parsed.errors.Take(level.GetContext());
}

inline void ParseInto(Parsed& parsed, const char* utf8, uint32_t options)
{
    ParseInto(parsed, VString(utf8), options);
}

// Compact quoted text of a value ("<error>" when the writer fails).
inline std::string Compact(const VJSONValue& value, uint32_t flags = VJSONWriter::kFlag_Quoted)
{
    StErrorContextInstaller level(false, true);
    VString text;
    if (value.Stringify(text, flags) != 0)
        return "<error>";
    return to_string(text);
}

}  // namespace bkit::test
