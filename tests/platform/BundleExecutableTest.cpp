// BundleExecutableTest.cpp - which bundle executables a copy of the bundle could still start.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "basekit/platform/BundleExecutable.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

using platform::BundleExecutable;
using Verdict = BundleExecutable::Verdict;

class BundleExecutableTest : public test::TempFolderTest {
protected:
    // B.app naming "app", whose Contents/MacOS/app (mode 0755) and
    // Contents/Resources/main (mode 0755) are scripts; "tool" lies beside it.
    void MakeBundle()
    {
        for (const char* name : {"B.app", "Other", "tool"})
            test::TempFolder::RemoveTree(fTemp.Path(name));
        for (const char* folder : {"B.app", "B.app/Contents", "B.app/Contents/MacOS", "B.app/Contents/Resources"})
            fTemp.MakeFolder(folder);
        WriteName(fTemp, "app");
        fTemp.WriteFile("B.app/Contents/MacOS/app", "#!/bin/sh\n", 0755);
        fTemp.WriteFile("B.app/Contents/Resources/main", "#!/bin/sh\n", 0755);
        fTemp.WriteFile("tool", "#!/bin/sh\n", 0755);
    }

    static void WriteName(const test::TempFolder& t, const std::string& name)
    {
        t.WriteFile("B.app/Contents/Info.plist", "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n"
                                                 "\t<key>CFBundleExecutable</key>\n\t<string>" +
                                                     name + "</string>\n</dict>\n</plist>\n");
    }

    // Replaces Contents/MacOS/app with a link to target.
    static void LinkApp(const test::TempFolder& t, const std::string& target)
    {
        unlink(t.Path("B.app/Contents/MacOS/app").c_str());
        t.MakeLink("B.app/Contents/MacOS/app", target);
    }
};

TEST_F(BundleExecutableTest, JudgesTheExecutableAsACopyOfTheBundleWouldRunIt)
{
    struct Case {
        const char* what;
        void (*shape)(const test::TempFolder&);
        bool mustBeExecutable;
        Verdict verdict;
        const char* resolved;  // below B.app, with kUsable
    } cases[] = {
        {"plain executable", [](const test::TempFolder&) {}, true, Verdict::kUsable, "Contents/MacOS/app"},
        // Root may run a regular file only when one execute bit is set.
        {"no execute bit", [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0644); },
         true, Verdict::kNotExecutable, nullptr},
        {"no execute bit, to be added by the caller",
         [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0644); }, false,
         Verdict::kUsable, "Contents/MacOS/app"},
        {"owner's execute bit alone",
         [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0700); }, true,
         Verdict::kUsable, "Contents/MacOS/app"},

        {"no information list", [](const test::TempFolder& t) { unlink(t.Path("B.app/Contents/Info.plist").c_str()); },
         true, Verdict::kNoName, nullptr},
        {"no executable named",
         [](const test::TempFolder& t) {
             t.WriteFile("B.app/Contents/Info.plist", "<plist version=\"1.0\"><dict></dict></plist>");
         },
         true, Verdict::kNoName, nullptr},
        {"empty name", [](const test::TempFolder& t) { WriteName(t, ""); }, true, Verdict::kNameNotPlain, nullptr},
        {"name '.'", [](const test::TempFolder& t) { WriteName(t, "."); }, true, Verdict::kNameNotPlain, nullptr},
        {"name '..'", [](const test::TempFolder& t) { WriteName(t, ".."); }, true, Verdict::kNameNotPlain, nullptr},
        {"name with a folder", [](const test::TempFolder& t) { WriteName(t, "../Resources/main"); }, true,
         Verdict::kNameNotPlain, nullptr},
        {"name leading to a tool beside the bundle", [](const test::TempFolder& t) { WriteName(t, "../../../tool"); },
         true, Verdict::kNameNotPlain, nullptr},

        {"executable missing", [](const test::TempFolder& t) { unlink(t.Path("B.app/Contents/MacOS/app").c_str()); },
         true, Verdict::kMissing, nullptr},
        {"executable a folder",
         [](const test::TempFolder& t) {
             unlink(t.Path("B.app/Contents/MacOS/app").c_str());
             t.MakeFolder("B.app/Contents/MacOS/app");
         },
         true, Verdict::kNotRegularFile, nullptr},
        {"executable a pipe",
         [](const test::TempFolder& t) {
             unlink(t.Path("B.app/Contents/MacOS/app").c_str());
             mkfifo(t.Path("B.app/Contents/MacOS/app").c_str(), 0755);
         },
         true, Verdict::kNotRegularFile, nullptr},

        {"link to a file of the bundle", [](const test::TempFolder& t) { LinkApp(t, "../Resources/main"); }, true,
         Verdict::kUsable, "Contents/Resources/main"},
        {"links through links inside the bundle",
         [](const test::TempFolder& t) {
             t.MakeLink("B.app/Contents/Resources/up", "..");
             LinkApp(t, "./../Resources/up/Resources//main");
         },
         true, Verdict::kUsable, "Contents/Resources/main"},
        {"folder on the way a link inside the bundle",
         [](const test::TempFolder& t) {
             test::TempFolder::RemoveTree(t.Path("B.app/Contents/MacOS"));
             t.MakeLink("B.app/Contents/MacOS", "Resources");
             WriteName(t, "main");
         },
         true, Verdict::kUsable, "Contents/Resources/main"},
        {"link to a file without execute bit, to be added by the caller",
         [](const test::TempFolder& t) {
             chmod(t.Path("B.app/Contents/Resources/main").c_str(), 0600);
             LinkApp(t, "../Resources/main");
         },
         false, Verdict::kUsable, "Contents/Resources/main"},

        // It dangles once the bundle is copied, whatever it reaches now.
        {"link to the tool beside the bundle", [](const test::TempFolder& t) { LinkApp(t, "../../../tool"); }, true,
         Verdict::kOutsideBundle, nullptr},
        {"link out and back in through the bundle's name",
         [](const test::TempFolder& t) { LinkApp(t, "../../../B.app/Contents/Resources/main"); }, true,
         Verdict::kOutsideBundle, nullptr},
        {"absolute link to a file of the bundle",
         [](const test::TempFolder& t) { LinkApp(t, t.Path("B.app/Contents/Resources/main")); }, true,
         Verdict::kOutsideBundle, nullptr},
        {"folder on the way a link leading out",
         [](const test::TempFolder& t) {
             t.MakeFolder("Other");
             t.WriteFile("Other/app", "#!/bin/sh\n", 0755);
             test::TempFolder::RemoveTree(t.Path("B.app/Contents/MacOS"));
             t.MakeLink("B.app/Contents/MacOS", "../../Other");
         },
         true, Verdict::kOutsideBundle, nullptr},

        {"dangling link", [](const test::TempFolder& t) { LinkApp(t, "gone"); }, true, Verdict::kMissing, nullptr},
        {"link to itself", [](const test::TempFolder& t) { LinkApp(t, "app"); }, true, Verdict::kMissing, nullptr},
        {"link to a folder of the bundle", [](const test::TempFolder& t) { LinkApp(t, "../.."); }, true,
         Verdict::kNotRegularFile, nullptr},
        {"link through a file", [](const test::TempFolder& t) { LinkApp(t, "../Info.plist/.."); }, true,
         Verdict::kMissing, nullptr},
        {"link to a file as a folder", [](const test::TempFolder& t) { LinkApp(t, "../Resources/main/"); }, true,
         Verdict::kMissing, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeBundle();
        c.shape(fTemp);
        // The final '/' of a folder path changes nothing.
        for (const std::string& bundle : {fTemp.Path("B.app"), fTemp.Path("B.app/")}) {
            BundleExecutable::Result found = BundleExecutable::Find(bundle, c.mustBeExecutable);
            EXPECT_EQ(c.verdict, found.verdict) << BundleExecutable::Describe(found);
            EXPECT_EQ(c.resolved ? fTemp.Path("B.app/") + c.resolved : "", found.resolved);
            EXPECT_EQ(c.verdict == Verdict::kUsable, BundleExecutable::Describe(found).empty());
        }
    }
}

}  // namespace
}  // namespace bkit
