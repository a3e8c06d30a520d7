// FuzzFiles.h - what the fuzz targets that read their input from disk share.
//
// The folder and file helpers put each input where the code under test
// expects a file (Check and StartProcess are in FuzzSupport.h).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/xml/VXMLParser.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/WholeFile.h"

namespace bkit::fuzz {

// A new private folder whose path begins with prefix; aborts when none can be made.
inline std::string MakeTemporaryFolder(const std::string& prefix)
{
    std::string pattern = prefix + ".XXXXXX";
    Check(mkdtemp(pattern.data()) != nullptr);
    return pattern;
}

// Starts the process once for the whole run, and the XML library with it (a
// manager would otherwise start and stop the library around every input);
// answers the run's private folder, made under prefix.
inline std::string StartFileFuzzing(const std::string& prefix)
{
    StartProcess();
    VXMLParser::Init();
    return MakeTemporaryFolder(prefix);
}

using test::FileAt;
using test::WriteWhole;

}  // namespace bkit::fuzz
