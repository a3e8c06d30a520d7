// BundleExecutableTest.cpp - which bundle executables a copy of the bundle could still start.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "basekit/platform/BundleExecutable.h"
#include "files/CopyTestSupport.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

using platform::BundleExecutable;
using Verdict = BundleExecutable::Verdict;
using Execution = BundleExecutable::Execution;

// What each case asks of the executable's permissions.
constexpr Execution kRun = Execution::kByThisProcess;
constexpr Execution kAnyBit = Execution::kSomeExecuteBit;
constexpr Execution kNone = Execution::kNotAsked;

class BundleExecutableTest : public test::TempFolderTest {
protected:
    // B.app naming "app", whose Contents/MacOS/app (mode 0755) and
    // Contents/Resources/main (mode 0755) are scripts; "tool" lies beside it.
    void MakeBundle()
    {
        for (const char* name : {"B.app", "Other", "tool", "real.plist"})
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

    // Replaces Contents/Info.plist with a link to target.
    static void LinkInfo(const test::TempFolder& t, const std::string& target)
    {
        unlink(t.Path("B.app/Contents/Info.plist").c_str());
        t.MakeLink("B.app/Contents/Info.plist", target);
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
        Execution execution;
        Verdict verdict;
        const char* resolved;  // below B.app, with kUsable
    } cases[] = {
        {"plain executable", [](const test::TempFolder&) {}, kRun, Verdict::kUsable, "Contents/MacOS/app"},
        // Root may run a regular file only when one execute bit is set.
        {"no execute bit", [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0644); },
         kRun, Verdict::kNotExecutable, nullptr},
        {"no execute bit, to be added by the caller",
         [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0644); }, kNone,
         Verdict::kUsable, "Contents/MacOS/app"},
        {"owner's execute bit alone",
         [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0700); }, kRun,
         Verdict::kUsable, "Contents/MacOS/app"},
        // A copy keeps the mode, whoever makes it: without any execute bit
        // no copy runs; with one, who may run it is told by the copy.
        {"no execute bit, judged for any copy",
         [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0644); }, kAnyBit,
         Verdict::kNoExecuteBit, nullptr},
        {"group's execute bit alone, judged for any copy",
         [](const test::TempFolder& t) { chmod(t.Path("B.app/Contents/MacOS/app").c_str(), 0610); }, kAnyBit,
         Verdict::kUsable, "Contents/MacOS/app"},

        {"no information list", [](const test::TempFolder& t) { unlink(t.Path("B.app/Contents/Info.plist").c_str()); },
         kRun, Verdict::kNoName, nullptr},
        {"no executable named",
         [](const test::TempFolder& t) {
             t.WriteFile("B.app/Contents/Info.plist", "<plist version=\"1.0\"><dict></dict></plist>");
         },
         kRun, Verdict::kNoName, nullptr},
        {"information list a pipe",
         [](const test::TempFolder& t) {
             unlink(t.Path("B.app/Contents/Info.plist").c_str());
             mkfifo(t.Path("B.app/Contents/Info.plist").c_str(), 0644);
         },
         kRun, Verdict::kNoName, nullptr},
        {"information list a folder",
         [](const test::TempFolder& t) {
             unlink(t.Path("B.app/Contents/Info.plist").c_str());
             t.MakeFolder("B.app/Contents/Info.plist");
         },
         kRun, Verdict::kNoName, nullptr},
        {"information list a dangling link", [](const test::TempFolder& t) { LinkInfo(t, "gone.plist"); }, kRun,
         Verdict::kNoName, nullptr},
        {"information list a link inside the bundle",
         [](const test::TempFolder& t) {
             rename(t.Path("B.app/Contents/Info.plist").c_str(), t.Path("B.app/Contents/Resources/Info.plist").c_str());
             t.MakeLink("B.app/Contents/Info.plist", "Resources/Info.plist");
         },
         kRun, Verdict::kUsable, "Contents/MacOS/app"},
        // Read through now, gone from the copy (or left to where the link
        // leads): the copy would name nothing, or what it is not given.
        {"information list a link climbing out of the bundle",
         [](const test::TempFolder& t) {
             rename(t.Path("B.app/Contents/Info.plist").c_str(), t.Path("real.plist").c_str());
             t.MakeLink("B.app/Contents/Info.plist", "../../real.plist");
         },
         kRun, Verdict::kInfoOutsideBundle, nullptr},
        {"information list an absolute link to a file of the bundle",
         [](const test::TempFolder& t) {
             rename(t.Path("B.app/Contents/Info.plist").c_str(), t.Path("B.app/Contents/Resources/Info.plist").c_str());
             t.MakeLink("B.app/Contents/Info.plist", t.Path("B.app/Contents/Resources/Info.plist"));
         },
         kRun, Verdict::kInfoOutsideBundle, nullptr},
        {"Contents a link leading out",
         [](const test::TempFolder& t) {
             rename(t.Path("B.app/Contents").c_str(), t.Path("Other").c_str());
             t.MakeLink("B.app/Contents", "../Other");
         },
         kRun, Verdict::kInfoOutsideBundle, nullptr},
        {"empty name", [](const test::TempFolder& t) { WriteName(t, ""); }, kRun, Verdict::kNameNotPlain, nullptr},
        {"name '.'", [](const test::TempFolder& t) { WriteName(t, "."); }, kRun, Verdict::kNameNotPlain, nullptr},
        {"name '..'", [](const test::TempFolder& t) { WriteName(t, ".."); }, kRun, Verdict::kNameNotPlain, nullptr},
        {"name with a folder", [](const test::TempFolder& t) { WriteName(t, "../Resources/main"); }, kRun,
         Verdict::kNameNotPlain, nullptr},
        {"name leading to a tool beside the bundle", [](const test::TempFolder& t) { WriteName(t, "../../../tool"); },
         kRun, Verdict::kNameNotPlain, nullptr},

        {"executable missing", [](const test::TempFolder& t) { unlink(t.Path("B.app/Contents/MacOS/app").c_str()); },
         kRun, Verdict::kMissing, nullptr},
        {"executable a folder",
         [](const test::TempFolder& t) {
             unlink(t.Path("B.app/Contents/MacOS/app").c_str());
             t.MakeFolder("B.app/Contents/MacOS/app");
         },
         kRun, Verdict::kNotRegularFile, nullptr},
        {"executable a pipe",
         [](const test::TempFolder& t) {
             unlink(t.Path("B.app/Contents/MacOS/app").c_str());
             mkfifo(t.Path("B.app/Contents/MacOS/app").c_str(), 0755);
         },
         kRun, Verdict::kNotRegularFile, nullptr},

        {"link to a file of the bundle", [](const test::TempFolder& t) { LinkApp(t, "../Resources/main"); }, kRun,
         Verdict::kUsable, "Contents/Resources/main"},
        {"links through links inside the bundle",
         [](const test::TempFolder& t) {
             t.MakeLink("B.app/Contents/Resources/up", "..");
             LinkApp(t, "./../Resources/up/Resources//main");
         },
         kRun, Verdict::kUsable, "Contents/Resources/main"},
        {"folder on the way a link inside the bundle",
         [](const test::TempFolder& t) {
             test::TempFolder::RemoveTree(t.Path("B.app/Contents/MacOS"));
             t.MakeLink("B.app/Contents/MacOS", "Resources");
             WriteName(t, "main");
         },
         kRun, Verdict::kUsable, "Contents/Resources/main"},
        {"link to a file without execute bit, to be added by the caller",
         [](const test::TempFolder& t) {
             chmod(t.Path("B.app/Contents/Resources/main").c_str(), 0600);
             LinkApp(t, "../Resources/main");
         },
         kNone, Verdict::kUsable, "Contents/Resources/main"},

        // It dangles once the bundle is copied, whatever it reaches now.
        {"link to the tool beside the bundle", [](const test::TempFolder& t) { LinkApp(t, "../../../tool"); }, kRun,
         Verdict::kOutsideBundle, nullptr},
        {"link out and back in through the bundle's name",
         [](const test::TempFolder& t) { LinkApp(t, "../../../B.app/Contents/Resources/main"); }, kRun,
         Verdict::kOutsideBundle, nullptr},
        {"absolute link to a file of the bundle",
         [](const test::TempFolder& t) { LinkApp(t, t.Path("B.app/Contents/Resources/main")); }, kRun,
         Verdict::kOutsideBundle, nullptr},
        {"folder on the way a link leading out",
         [](const test::TempFolder& t) {
             t.MakeFolder("Other");
             t.WriteFile("Other/app", "#!/bin/sh\n", 0755);
             test::TempFolder::RemoveTree(t.Path("B.app/Contents/MacOS"));
             t.MakeLink("B.app/Contents/MacOS", "../../Other");
         },
         kRun, Verdict::kOutsideBundle, nullptr},

        {"dangling link", [](const test::TempFolder& t) { LinkApp(t, "gone"); }, kRun, Verdict::kMissing, nullptr},
        {"link to itself", [](const test::TempFolder& t) { LinkApp(t, "app"); }, kRun, Verdict::kMissing, nullptr},
        {"link to a folder of the bundle", [](const test::TempFolder& t) { LinkApp(t, "../.."); }, kRun,
         Verdict::kNotRegularFile, nullptr},
        {"link through a file", [](const test::TempFolder& t) { LinkApp(t, "../Info.plist/.."); }, kRun,
         Verdict::kMissing, nullptr},
        {"link to a file as a folder", [](const test::TempFolder& t) { LinkApp(t, "../Resources/main/"); }, kRun,
         Verdict::kMissing, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeBundle();
        c.shape(fTemp);
        // The final '/' of a folder path changes nothing.
        for (const std::string& bundle : {fTemp.Path("B.app"), fTemp.Path("B.app/")}) {
            BundleExecutable::Result found = BundleExecutable::Find(bundle, c.execution);
            EXPECT_EQ(c.verdict, found.verdict) << BundleExecutable::Describe(found);
            EXPECT_EQ(c.resolved ? fTemp.Path("B.app/") + c.resolved : "", found.resolved);
            EXPECT_EQ(c.verdict == Verdict::kUsable, BundleExecutable::Describe(found).empty());
        }
    }
}

TEST_F(BundleExecutableTest, AnotherUsersCopyIsJudgedByTheModeTheCopyKeeps)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can become another user here";
    // root's executable, which its owner alone may run: another user's copy
    // of the bundle belongs to that user, who may then run it.
    MakeBundle();
    chmod(fTemp.Path().c_str(), 0755);
    chmod(fTemp.Path("B.app/Contents/MacOS/app").c_str(), 0744);
    const std::string bundle = fTemp.Path("B.app");
    const auto [uid, gid] = test::NobodyIds();
    std::string verdicts = test::RunAsUser(uid, gid, [&] {
        if (access(bundle.c_str(), R_OK | X_OK) != 0)
            return std::string("unreachable");
        std::string all;
        for (Execution execution : {kNone, kAnyBit, kRun})
            all += BundleExecutable::Describe(BundleExecutable::Find(bundle, execution)) + "|";
        return all;
    });
    if (verdicts == "unreachable")
        GTEST_SKIP() << "other users cannot reach the temporary folder " << fTemp.Path() << " (see TMPDIR)";
    EXPECT_EQ("||the executable '" + bundle +
                  "/Contents/MacOS/app' may not be run by this user (no execute permission)|",
              verdicts);
}

}  // namespace
}  // namespace bkit
