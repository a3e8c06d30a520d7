// VFileTestSupport.h - helpers shared by the file tests.
//
// Reading error records off the calling task's stack and building file
// objects inside a TempFolder.
#pragma once

#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "support/TempFolder.h"

namespace bkit::test {

inline std::string Text(const VString& s) { return to_string(s); }

inline std::string Parameter(const VErrorBase& error, const char* name)
{
    VString text;
    error.GetParameters()->GetProperty(VString(name)).GetString(text);
    return Text(text);
}

// The codes on the level, oldest first.
inline std::vector<VError> Codes(const StErrorContextInstaller& errors)
{
    std::vector<VError> out;
    for (VErrorBase* e : errors.GetContext()->GetErrors())
        out.push_back(e->GetError());
    return out;
}

inline VRefPtr<VFile> FileIn(const TempFolder& temp, const std::string& name)
{
    return VRefPtr<VFile>::Adopt(new VFile(temp.FilePath(name)));
}

inline VError Posix(int errnum) { return MakePOSIXVError(errnum); }
inline VError Cocoa(int32_t number) { return MakeVError(kCOCO_SIGNATURE, number); }

}  // namespace bkit::test
