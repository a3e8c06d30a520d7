// BundleExecutable.h - the program that starting an application bundle runs, checked as it will be run.
//
// This file defines BundleExecutable, which stands in for the executable
// lookup of the system's bundle services (the "CFBundleExecutable" key of
// Contents/Info.plist, run from Contents/MacOS) for those that start a bundle
// or must know beforehand that it can be started: the "open" command and the
// updater. A bundle counts as startable only when what it reads would still
// work after the bundle has been copied elsewhere (copies keep links as
// links): Contents/Info.plist, with its links resolved inside the bundle, is
// a regular file of the bundle; the name it gives is a plain file name; and
// Contents/MacOS/<name>, with its links resolved inside the bundle, is a
// regular file of the bundle. A link with an absolute target, or one that
// climbs above the bundle's folder, leads out of the bundle even when its
// target exists now. Whether the file may be run is judged as the caller
// asks: not at all, by its mode alone (what any copy keeps), or for the
// calling process's effective ids as the file is (as root, a regular file
// still needs one execute bit). Links in the bundle's own path are followed.
// Nothing here writes to the disk, and nothing waits on a pipe or device
// named Info.plist; thread-safe.
#pragma once

#include <string>

namespace bkit {
namespace platform {

class BundleExecutable {
public:
    enum class Verdict {
        kUsable,
        kNoName,             // no readable Info.plist (or not a regular file), or no "CFBundleExecutable" string in it
        kInfoOutsideBundle,  // Contents/Info.plist, or a folder on its way, is a link leading out of the bundle
        kNameNotPlain,       // empty, ".", "..", or holding '/' (or a NUL)
        kMissing,            // some part of the path is missing or unreadable, or its links loop
        kOutsideBundle,      // a link leads out of the bundle
        kNotRegularFile,     // a folder, a pipe, a device...
        kNoExecuteBit,       // with kSomeExecuteBit: no execute bit at all, so no copy of it can be run
        kNotExecutable,      // the calling process may not run it
    };

    // What is asked of the executable's permissions.
    enum class Execution {
        // Nothing: the caller adds the execute permission itself (on
        // Result::resolved: never chmod path, whose last part may be a link).
        kNotAsked,
        // One execute bit at least. A copy keeps the mode but belongs to
        // whoever made it, so who may run the copy is known only once it is
        // made; a file without any execute bit is refused by any copy.
        kSomeExecuteBit,
        // The calling process may run the file as it is now: for a bundle
        // that is itself what will be run (a copy already made, or "open").
        kByThisProcess,
    };

    struct Result {
        Verdict verdict = Verdict::kNoName;
        std::string bundle;    // the bundle's path, without a final '/'
        std::string name;      // the name Info.plist gives, as read; empty with kNoName, kInfoOutsideBundle
        std::string path;      // <bundle>/Contents/MacOS/<name>; empty with kNoName, kInfoOutsideBundle
        std::string resolved;  // with kUsable, the file itself: <bundle>/<path inside it, no link in it>
    };

    // Finds the executable of the bundle at the POSIX path bundle (a final
    // '/' is ignored) and judges it, its permissions as execution asks.
    static Result Find(const std::string& bundle, Execution execution);

    // One sentence on why the result is not kUsable, naming the path
    // concerned between single quotes (empty for kUsable).
    static std::string Describe(const Result& result);
};

}  // namespace platform
}  // namespace bkit
