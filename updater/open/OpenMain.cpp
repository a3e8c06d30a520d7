// OpenMain.cpp - the "open" command the updater restarts an application with.
//
// Does for "open -a <bundle> [--args <arguments>...]" what the system's
// command does: reads the bundle's Contents/Info.plist ("CFBundleExecutable"),
// starts Contents/MacOS/<that name> with the arguments after --args, detached
// in a session of its own with its standard streams on /dev/null (so that it
// holds none of its caller's pipes), and exits 0 once it has started, or 1
// with a message on standard error when the bundle or its executable cannot
// be found or started. An executable whose name is not a plain file name, or
// an information list or executable whose links lead out of the bundle, is
// refused the same way: nothing outside the bundle is ever read or started.
// Other forms of the command are refused with 1.
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "basekit/platform/BundleExecutable.h"

extern char** environ;

namespace {

int Fail(const std::string& message)
{
    fprintf(stderr, "open: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || strcmp(argv[1], "-a") != 0)
        return Fail("usage: open -a <application bundle> [--args <arguments>...]");
    std::string bundle = argv[2];
    while (bundle.size() > 1 && bundle.back() == '/')
        bundle.pop_back();
    std::vector<std::string> arguments;
    for (int i = 3; i < argc; ++i) {
        if (i == 3 && strcmp(argv[i], "--args") == 0)
            continue;
        if (i == 3)
            return Fail(std::string("unsupported argument ") + argv[i]);
        arguments.push_back(argv[i]);
    }

    // What a copy of the bundle would still start: nothing outside it.
    using bkit::platform::BundleExecutable;
    BundleExecutable::Result found = BundleExecutable::Find(bundle, BundleExecutable::Execution::kByThisProcess);
    if (found.verdict != BundleExecutable::Verdict::kUsable)
        return Fail(BundleExecutable::Describe(found));
    // The program is told the path its bundle gives it; the file started is
    // the one that was judged, reached without any link.
    std::string executable = found.path;

    std::vector<char*> argv2;
    argv2.push_back(executable.data());
    for (std::string& argument : arguments)
        argv2.push_back(argument.data());
    argv2.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid;
    int error = posix_spawn(&pid, found.resolved.c_str(), &actions, &attributes, argv2.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return Fail("cannot start '" + executable + "': " + strerror(error));
    return 0;
}
