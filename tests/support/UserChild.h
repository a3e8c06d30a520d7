// UserChild.h - a child process that acts as another user and keeps what it holds until it is told to end.
//
// Tests run as root, where permission bits stop nothing. StUserChild forks a
// child that takes another user's ids (user, group and supplementary groups),
// runs a task there and reports the task's result (0 to 254), then waits,
// holding every descriptor and lock the task left open, until Finish or the
// owner's end. The child is ended and collected by its pid only. A child that
// cannot take the ids reports 255. NobodyUser names the user "nobody" (65534
// where the system has none); UserCanReach tells whether a user can reach a
// path (search permission on every folder on its way, read on the path), so
// that a test run from a private checkout or temporary folder can skip.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace bkit::test {

struct UserIds {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;  // supplementary
};

inline UserIds NobodyUser(std::vector<gid_t> groups = {})
{
    const struct passwd* nobody = getpwnam("nobody");
    return {nobody ? nobody->pw_uid : 65534, nobody ? nobody->pw_gid : 65534, std::move(groups)};
}

class StUserChild {
public:
    StUserChild(const UserIds& user, const std::function<int()>& task)
    {
        int result[2], go[2];
        if (::pipe2(result, O_CLOEXEC) != 0)
            return;
        if (::pipe2(go, O_CLOEXEC) != 0) {
            ::close(result[0]);
            ::close(result[1]);
            return;
        }
        fPid = ::fork();
        if (fPid == 0) {
            ::close(result[0]);
            ::close(go[1]);
            unsigned char answer = 255;
            if (::setgroups(user.groups.size(), user.groups.data()) == 0 && ::setgid(user.gid) == 0 &&
                ::setuid(user.uid) == 0)
                answer = static_cast<unsigned char>(task());
            (void)!::write(result[1], &answer, 1);
            char end;
            (void)!::read(go[0], &end, 1);
            ::_exit(0);
        }
        ::close(result[1]);
        ::close(go[0]);
        fResult = result[0];
        fGo = go[1];
        if (fPid < 0)
            Finish();
    }
    ~StUserChild() { Finish(); }
    StUserChild(const StUserChild&) = delete;
    StUserChild& operator=(const StUserChild&) = delete;

    // The task's result, once it has run; -1 when the child ended without one.
    int Result()
    {
        if (fAnswer == -2) {
            unsigned char answer = 0;
            fAnswer = fResult >= 0 && ::read(fResult, &answer, 1) == 1 ? answer : -1;
        }
        return fAnswer;
    }

    // Lets the child end (what it held is freed) and collects it.
    void Finish()
    {
        if (fGo >= 0)
            ::close(fGo);
        if (fResult >= 0)
            ::close(fResult);
        fGo = fResult = -1;
        if (fPid > 0)
            ::waitpid(fPid, nullptr, 0);
        fPid = -1;
    }

private:
    pid_t fPid = -1;
    int fResult = -1;
    int fGo = -1;
    int fAnswer = -2;
};

// True when user can reach path: search permission on every folder above it,
// and read permission on path itself.
inline bool UserCanReach(const UserIds& user, const std::string& path)
{
    StUserChild child(user, [&] { return ::access(path.c_str(), R_OK) == 0 ? 1 : 0; });
    return child.Result() == 1;
}

}  // namespace bkit::test
