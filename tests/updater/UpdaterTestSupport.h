// UpdaterTestSupport.h - sample application bundles for the updater's tests.
//
// MakeSampleApp lays out <name>/Contents with an Info.plist naming the
// executable "app", Contents/MacOS/app holding script (mode given) and
// Contents/content.txt holding content.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/TempFolder.h"

namespace bkit::test {

inline void MakeSampleApp(const TempFolder& temp, const std::string& name, const std::string& content,
                          const std::string& script = "#!/bin/sh\n", mode_t executableMode = 0755)
{
    temp.MakeFolder(name);
    temp.MakeFolder(name + "/Contents");
    temp.MakeFolder(name + "/Contents/MacOS");
    temp.WriteFile(name + "/Contents/Info.plist",
                   "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>CFBundleExecutable</key>\n"
                   "\t<string>app</string>\n</dict>\n</plist>\n");
    temp.WriteFile(name + "/Contents/MacOS/app", script, executableMode);
    temp.WriteFile(name + "/Contents/content.txt", content);
}

}  // namespace bkit::test
