// BundleExecutable.h - the program that starting an application bundle runs, checked as it will be run.
//
// This file defines BundleExecutable, which stands in for the executable
// lookup of the system's bundle services (the "CFBundleExecutable" key of
// Contents/Info.plist, run from Contents/MacOS) for those that start a bundle
// or must know beforehand that it can be started: the "open" command and the
// updater. A bundle counts as startable only when what it names would still
// work after the bundle has been copied elsewhere (copies keep links as
// links): the name is a plain file name, and Contents/MacOS/<name>, with its
// links resolved inside the bundle, is a regular file of the bundle. A link
// with an absolute target, or one that climbs above the bundle's folder,
// leads out of the bundle even when its target exists now. Execution is
// judged with the effective ids of the calling process (as root, a regular
// file still needs one execute bit). Links in the bundle's own path are
// followed. Nothing here writes to the disk; thread-safe.
#pragma once

#include <string>

namespace bkit {
namespace platform {

class BundleExecutable {
public:
    enum class Verdict {
        kUsable,
        kNoName,          // no readable Info.plist, or no "CFBundleExecutable" string in it
        kNameNotPlain,    // empty, ".", "..", or holding '/' (or a NUL)
        kMissing,         // some part of the path is missing or unreadable, or its links loop
        kOutsideBundle,   // a link leads out of the bundle
        kNotRegularFile,  // a folder, a pipe, a device...
        kNotExecutable,   // the calling process may not run it
    };

    struct Result {
        Verdict verdict = Verdict::kNoName;
        std::string bundle;    // the bundle's path, without a final '/'
        std::string name;      // the name Info.plist gives, as read; empty with kNoName
        std::string path;      // <bundle>/Contents/MacOS/<name>; empty with kNoName
        std::string resolved;  // with kUsable, the file itself: <bundle>/<path inside it, no link in it>
    };

    // Finds the executable of the bundle at the POSIX path bundle (a final
    // '/' is ignored) and judges it. With mustBeExecutable false, a regular
    // file the process may not run is kUsable too (for a caller that will
    // add the execute permission itself, on resolved: never chmod path, whose
    // last part may be a link).
    static Result Find(const std::string& bundle, bool mustBeExecutable);

    // One sentence on why the result is not kUsable, naming the path
    // concerned between single quotes (empty for kUsable).
    static std::string Describe(const Result& result);
};

}  // namespace platform
}  // namespace bkit
