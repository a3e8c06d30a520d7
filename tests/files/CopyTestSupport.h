// CopyTestSupport.h - what the file and folder copy tests share.
//
// The status of an item, the ids of the unprivileged user that items are
// given to, pipes, sockets and device nodes, a set of sparse files with the
// check that a copy kept their holes and their bytes, and child processes:
// a program run to compare with (cp -a), and a piece of the test run as the
// unprivileged user. Children are started and waited for by pid.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempFolder.h"

namespace bkit::test {

inline struct stat StatOf(const std::string& path)
{
    struct stat st = {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st;
}

// The user and group "nobody" (65534 where the system has no such user).
inline std::pair<uid_t, gid_t> NobodyIds()
{
    const struct passwd* nobody = getpwnam("nobody");
    return {nobody ? nobody->pw_uid : 65534, nobody ? nobody->pw_gid : 65534};
}

// Makes a pipe or device node (type S_IFIFO, S_IFCHR or S_IFBLK) with the
// owner and mode given, the mode set last (a change of owner clears set-id
// bits). 0 or the errno of the first failing step (EPERM where device nodes
// may not be made).
inline int MakeNode(const std::string& path, mode_t type, dev_t device, uid_t uid, gid_t gid, mode_t mode)
{
    if (mknod(path.c_str(), type | 0600, device) != 0 || lchown(path.c_str(), uid, gid) != 0 ||
        chmod(path.c_str(), mode) != 0)
        return errno;
    return 0;
}

// Binds a Unix socket at path (and closes it: the socket item stays).
inline bool MakeSocket(const std::string& path)
{
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::strcpy(address.sun_path, path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    bool made = fd >= 0 && bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        close(fd);
    return made;
}

// Runs the program (found on PATH) with its arguments and waits for it: its
// exit status, or -1 when it could not be run or did not exit.
inline int RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Runs body in a child process that has become the user and group given (no
// other groups) and answers what body answered; "<child failed>" when the
// child could not take the ids or did not end normally.
inline std::string RunAsUser(uid_t uid, gid_t gid, const std::function<std::string()>& body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "<child failed>";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(1);
        std::string answer = body();
        bool written = write(fds[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    std::string answer;
    char buffer[512];
    ssize_t n;
    while (pid > 0 && (n = read(fds[0], buffer, sizeof(buffer))) > 0)
        answer.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "<child failed>";
    return answer;
}

// Names of the files MakeSparseFiles makes.
inline const std::vector<std::string>& SparseFileNames()
{
    static const std::vector<std::string> names = {"holes", "leading", "empty"};
    return names;
}

// Makes the sparse files of SparseFileNames in the folder of temp (which must
// exist; "" for temp itself): a hole inside and at the end, a hole at the start, nothing but a
// hole. False when the volume does not keep holes (the caller skips).
inline bool MakeSparseFiles(const TempFolder& temp, const std::string& folder)
{
    const off_t kMiB = 1024 * 1024;
    struct File {
        std::vector<std::pair<off_t, std::string>> writes;
        off_t size;
    } files[] = {
        {{{0, "head"}, {2 * kMiB, "middle"}}, 4 * kMiB},
        {{{1 * kMiB, "tail"}}, 1 * kMiB + 4},
        {{}, 2 * kMiB},
    };
    bool keepsHoles = true;
    for (size_t i = 0; i < SparseFileNames().size(); ++i) {
        const std::string& name = SparseFileNames()[i];
        const std::string path = temp.Path(folder.empty() ? name : folder + "/" + name);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        EXPECT_LE(0, fd) << path;
        for (const auto& [offset, text] : files[i].writes)
            EXPECT_EQ(static_cast<ssize_t>(text.size()), pwrite(fd, text.data(), text.size(), offset));
        EXPECT_EQ(0, ftruncate(fd, files[i].size));
        EXPECT_EQ(0, fsync(fd));
        close(fd);
        struct stat st = StatOf(path);
        keepsHoles = keepsHoles && st.st_blocks * 512 < st.st_size;
    }
    return keepsHoles;
}

// Expects the file copy (a path inside temp) to hold the bytes of source in
// as many blocks.
inline void ExpectSameHolesAndBytes(const TempFolder& temp, const std::string& source, const std::string& copy)
{
    SCOPED_TRACE(copy);
    int fd = open(temp.Path(copy).c_str(), O_RDONLY);
    ASSERT_LE(0, fd);
    EXPECT_EQ(0, fsync(fd));
    close(fd);
    struct stat from = StatOf(temp.Path(source));
    struct stat to = StatOf(temp.Path(copy));
    EXPECT_EQ(from.st_size, to.st_size);
    EXPECT_EQ(from.st_blocks, to.st_blocks);
    EXPECT_TRUE(temp.ReadFile(source) == temp.ReadFile(copy));
}

}  // namespace bkit::test
