// ScopedEnv.h - an environment variable set for a scope, for tests of seams read from the environment.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace bkit::test {

// Sets (or, with null, removes) a variable and puts back what was there.
class StEnv {
public:
    StEnv(const char* name, const char* value) : fName(name)
    {
        if (const char* old = getenv(name)) fOld = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~StEnv()
    {
        if (fOld) setenv(fName.c_str(), fOld->c_str(), 1);
        else unsetenv(fName.c_str());
    }
    StEnv(const StEnv&) = delete;
    StEnv& operator=(const StEnv&) = delete;

private:
    std::string fName;
    std::optional<std::string> fOld;
};

}  // namespace bkit::test
