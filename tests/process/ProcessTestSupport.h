// ProcessTestSupport.h - helpers shared by the process tests.
//
// This file defines StEnvironmentVariable, which sets one environment variable
// for a scope and puts back its old value (or its absence) afterwards.
#pragma once

#include <cstdlib>
#include <string>

namespace bkit::test {

class StEnvironmentVariable {
public:
    StEnvironmentVariable(const char* name, const std::string& value) : fName(name)
    {
        const char* old = getenv(name);
        fHad = old != nullptr;
        if (fHad)
            fOld = old;
        setenv(name, value.c_str(), 1);
    }
    ~StEnvironmentVariable()
    {
        if (fHad)
            setenv(fName.c_str(), fOld.c_str(), 1);
        else
            unsetenv(fName.c_str());
    }
    StEnvironmentVariable(const StEnvironmentVariable&) = delete;
    StEnvironmentVariable& operator=(const StEnvironmentVariable&) = delete;

private:
    std::string fName;
    bool fHad = false;
    std::string fOld;
};

}  // namespace bkit::test
