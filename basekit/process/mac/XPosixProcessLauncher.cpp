// XPosixProcessLauncher.cpp - spawn, pipes, output draining, time-out kill and collection of a child.
#include "basekit/process/mac/XPosixProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VErrorBase.h"

extern char** environ;

namespace bkit {

namespace {

constexpr size_t kChunk = 4096;
constexpr int kEscalationStepMs = 5000;
constexpr int kEscalationPollMs = 30;

std::mutex& _WatchedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::set<pid_t>& _WatchedChildren()
{
    static std::set<pid_t> children;
    return children;
}

void _Watch(pid_t pid)
{
    std::lock_guard<std::mutex> lock(_WatchedMutex());
    _WatchedChildren().insert(pid);
}

void _Close(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// A parent whose standard streams are closed (the updater closes them before
// it restarts the application) gets descriptors 0 to 2 back from pipe(); the
// child's dup2 onto its standard streams would then clobber one another, so
// the pipes are kept above them.
bool _AboveStandardStreams(int& fd)
{
    if (fd > STDERR_FILENO)
        return true;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        return false;
    ::close(fd);
    fd = moved;
    return true;
}

bool _MakePipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    if (_AboveStandardStreams(fds[0]) && _AboveStandardStreams(fds[1]))
        return true;
    _Close(fds[0]);
    _Close(fds[1]);
    return false;
}

bool _SetNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool _IsRegularFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads what waits on fd into the buffer or the handler. Returns 0 at the end
// of the pipe, 1 when nothing more waits for now, -1 on failure.
int _ReadAvailable(int fd, VMemoryBuffer<>* buffer, const ChildOutputHandler* handler)
{
    char chunk[kChunk];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n > 0) {
            if (buffer != nullptr && !buffer->AddData(chunk, static_cast<size_t>(n)))
                return -1;
            if (handler != nullptr && *handler)
                (*handler)(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 1;
        syslog(LOG_ERR, "READ ERROR : %s", strerror(errno));
        return -1;
    }
}

// Keeps SIGPIPE from the calling thread for a scope: a child that stopped
// reading must cost a write error, not the whole process. A SIGPIPE raised
// meanwhile is taken before the mask comes back.
class StNoPipeSignal {
public:
    StNoPipeSignal()
    {
        sigemptyset(&fPipe);
        sigaddset(&fPipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &fPipe, &fPrevious);
    }
    ~StNoPipeSignal()
    {
        struct timespec zero = {0, 0};
        int saved = errno;
        while (sigtimedwait(&fPipe, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &fPrevious, nullptr);
        errno = saved;
    }
    StNoPipeSignal(const StNoPipeSignal&) = delete;
    StNoPipeSignal& operator=(const StNoPipeSignal&) = delete;

private:
    sigset_t fPipe;
    sigset_t fPrevious;
};

}  // namespace

XPosixProcessLauncher::XPosixProcessLauncher() = default;

XPosixProcessLauncher::~XPosixProcessLauncher()
{
    fTimeoutKill.Cancel();
    _ClosePipes();
    if (fStarted && !fCollected && !fHandedOff && !_TryCollect())
        _Watch(fPid);
}

void XPosixProcessLauncher::SetBinaryPath(const VString& path)
{
    fProgramPath = path;
    if (fArguments.empty())
        fArguments.push_back(path);
}

void XPosixProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& commandLine)
{
    // UTF-8 of any length: the words are cut from the converted bytes.
    std::string text = to_string(commandLine);
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size())
            break;
        std::string word;
        char quote = text[i];
        if (quote == '"' || quote == '\'') {
            size_t end = text.find(quote, i + 1);
            if (end == std::string::npos)
                end = text.size();
            word = text.substr(i + 1, end - i - 1);
            i = end < text.size() ? end + 1 : end;
        } else {
            while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
                if (text[i] == '\\') {
                    ++i;
                    if (i >= text.size())
                        break;
                }
                word.push_back(text[i++]);
            }
        }
        words.push_back(std::move(word));
    }
    fArguments.clear();
    for (const std::string& word : words)
        fArguments.emplace_back(VString(word.data(), word.size(), VTC_UTF_8));
    fProgramPath = fArguments.empty() ? VString() : fArguments.front();
}

void XPosixProcessLauncher::AddArgument(const VString& argument, bool quote)
{
    if (argument.IsEmpty() || argument.IsNull())
        return;
    if (!quote) {
        fArguments.push_back(argument);
        return;
    }
    VString quoted("\"");
    quoted.AppendString(argument).AppendUniChar(u'"');
    fArguments.push_back(quoted);
}

void XPosixProcessLauncher::ClearArguments()
{
    fArguments.clear();
}

std::string XPosixProcessLauncher::_ResolveProgram() const
{
    std::string program = to_string(fProgramPath);
    if (program.empty() || program[0] == '/' || _IsRegularFile(program))
        return program;
    const char* path = getenv("PATH");
    if (path == nullptr)
        path = getenv("path");
    if (path == nullptr)
        return program;
    std::string folders(path);
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = folder + (folder.back() == '/' ? "" : "/") + program;
            if (_IsRegularFile(candidate))
                return candidate;
        }
        start = end + 1;
    }
    return program;
}

int XPosixProcessLauncher::_CreatePipes()
{
    if (!_MakePipe(fStatus))
        return -1;
    bool ok = true;
    if (fRedirectInput)
        ok = _MakePipe(fInput);
    if (ok && fRedirectOutput) {
        ok = _MakePipe(fOutput) && _MakePipe(fError) && _SetNonBlocking(fOutput[0]) && _SetNonBlocking(fError[0]);
    }
    if (!ok) {
        _ClosePipes();
        return -1;
    }
    return 0;
}

void XPosixProcessLauncher::_ClosePipes()
{
    for (int* pipe : {fInput, fOutput, fError, fStatus}) {
        _Close(pipe[0]);
        _Close(pipe[1]);
    }
}

void XPosixProcessLauncher::ReapWatchedChildren()
{
    std::lock_guard<std::mutex> lock(_WatchedMutex());
    std::set<pid_t>& children = _WatchedChildren();
    for (auto it = children.begin(); it != children.end();) {
        int status;
        pid_t done = waitpid(*it, &status, WNOHANG);
        if (done == *it || (done < 0 && errno == ECHILD))
            it = children.erase(it);
        else
            ++it;
    }
}

int XPosixProcessLauncher::Start()
{
    if (fStarted)
        return -1;
    if (_CreatePipes() != 0)
        return -1;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        _ClosePipes();
        return -1;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        _ClosePipes();
        return -1;
    }
    sigset_t noSignals;
    sigemptyset(&noSignals);
    int error = 0;
    if (fRedirectInput)
        error = posix_spawn_file_actions_adddup2(&actions, fInput[0], STDIN_FILENO);
    if (error == 0 && fRedirectOutput)
        error = posix_spawn_file_actions_adddup2(&actions, fOutput[1], STDOUT_FILENO);
    if (error == 0 && fRedirectOutput)
        error = posix_spawn_file_actions_adddup2(&actions, fError[1], STDERR_FILENO);
    if (error == 0 && !fWorkingFolder.empty())
        error = posix_spawn_file_actions_addchdir_np(&actions, fWorkingFolder.c_str());
    // Only the standard streams reach the child, as with a close-on-exec default.
    if (error == 0)
        error = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (error == 0)
        error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    if (error == 0)
        error = posix_spawnattr_setpgroup(&attributes, 0);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&attributes, &noSignals);
    if (error != 0) {
        syslog(LOG_ERR, "init_pipes error");
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        _ClosePipes();
        return error;
    }

    std::vector<std::string> argumentBytes;
    for (const VString& argument : fArguments)
        argumentBytes.push_back(to_string(argument));
    std::string program = _ResolveProgram();
    if (argumentBytes.empty())
        argumentBytes.push_back(program);
    std::vector<char*> argv;
    for (std::string& argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::vector<std::string> environmentBytes;
    std::vector<char*> envp;
    char** environment = environ;
    if (!fEnvironment.empty()) {
        for (const auto& [name, value] : fEnvironment)
            environmentBytes.push_back(to_string(name) + "=" + to_string(value));
        for (std::string& entry : environmentBytes)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        environment = envp.data();
    }

    ReapWatchedChildren();

    pid_t pid = 0;
    error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        _ClosePipes();
        return error;
    }
    fPid = pid;
    fProcessGroup = -pid;
    fStarted = true;
    fCollected = false;
    fExitStatus = 0;

    _Close(fInput[0]);
    _Close(fOutput[1]);
    _Close(fError[1]);
    _Close(fStatus[1]);
    int32_t word;
    ssize_t n = RetryOnEINTR([&] { return ::read(fStatus[0], &word, sizeof(word)); });
    _Close(fStatus[0]);
    if (n != 0)
        return -1;

    if (fWaitClosingMs > 0 && fWaitClosingMs < kWaitForever) {
        fTimedOut = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<bool>> timedOut = fTimedOut;
        pid_t group = fPid;
        fTimeoutKill.Schedule(fWaitClosingMs, [timedOut, group] {
            timedOut->store(true);
            killpg(group, SIGKILL);
        });
    }
    return 0;
}

int XPosixProcessLauncher::WriteToChild(const void* data, size_t size, bool closeAfter)
{
    if (fInput[1] < 0)
        return -1;
    int result = 0;
    {
        StNoPipeSignal noPipeSignal;
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = RetryOnEINTR([&] { return ::write(fInput[1], bytes, size); });
            if (n < 0) {
                result = -1;
                break;
            }
            bytes += n;
            size -= static_cast<size_t>(n);
        }
    }
    if (closeAfter)
        CloseStandardInput();
    return result;
}

void XPosixProcessLauncher::CloseStandardInput()
{
    _Close(fInput[1]);
}

bool XPosixProcessLauncher::_HasEnded()
{
    if (!fStarted || fCollected || fHandedOff)
        return true;
    siginfo_t info;
    info.si_pid = 0;
    if (waitid(P_PID, static_cast<id_t>(fPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    return info.si_pid != 0;
}

void XPosixProcessLauncher::_Collected(int status)
{
    fCollected = true;
    if (WIFEXITED(status))
        fExitStatus = WEXITSTATUS(status);
    else
        fExitStatus = kExitStatusSignaled;
}

bool XPosixProcessLauncher::_TryCollect()
{
    if (!fStarted || fCollected || fHandedOff)
        return fCollected;
    int status = 0;
    pid_t done = RetryOnEINTR([&] { return waitpid(fPid, &status, WNOHANG | WUNTRACED | WCONTINUED); });
    if (done == fPid) {
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            _Collected(status);
            return true;
        }
        fExitStatus = 0;  // stopped or continued: still there
        return false;
    }
    if (done < 0 && errno == ECHILD) {
        // Reaped by somebody else: the status is lost, the child is gone.
        fCollected = true;
        return true;
    }
    return false;
}

int XPosixProcessLauncher::_Drain(VMemoryBuffer<>* out, VMemoryBuffer<>* err, const ChildOutputHandler* outHandler,
                                  const ChildOutputHandler* errHandler, const char* input, size_t inputSize)
{
    bool open[2] = {fOutput[0] >= 0, fError[0] >= 0};
    const int fds[2] = {fOutput[0], fError[0]};
    VMemoryBuffer<>* buffers[2] = {out, err};
    const ChildOutputHandler* handlers[2] = {outHandler, errHandler};
    // The input is fed while the output is read, so that a child answering
    // as it reads never waits on us while we wait on it.
    bool feeding = input != nullptr && inputSize > 0 && fInput[1] >= 0 && _SetNonBlocking(fInput[1]);
    StNoPipeSignal noPipeSignal;
    while (open[0] || open[1] || feeding) {
        struct pollfd polled[3];
        int map[3];
        nfds_t count = 0;
        for (int k = 0; k < 2; ++k) {
            if (open[k]) {
                polled[count] = {fds[k], POLLIN, 0};
                map[count++] = k;
            }
        }
        if (feeding) {
            polled[count] = {fInput[1], POLLOUT, 0};
            map[count++] = 2;
        }
        int ready = poll(polled, count, 100);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (ready == 0) {
            if (!_HasEnded())
                continue;
            // The child is gone; whatever still holds the pipes (a grandchild
            // it left behind) is not waited for.
            for (int k = 0; k < 2; ++k) {
                if (open[k] && _ReadAvailable(fds[k], buffers[k], handlers[k]) < 0)
                    return -1;
            }
            break;
        }
        for (nfds_t p = 0; p < count; ++p) {
            if (polled[p].revents == 0)
                continue;
            int k = map[p];
            if (k == 2) {
                ssize_t n = ::write(fInput[1], input, inputSize);
                if (n > 0) {
                    input += n;
                    inputSize -= static_cast<size_t>(n);
                }
                if (inputSize == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    feeding = false;
                    CloseStandardInput();
                }
                continue;
            }
            int state = _ReadAvailable(fds[k], buffers[k], handlers[k]);
            if (state < 0)
                return -1;
            if (state == 0)
                open[k] = false;
        }
    }
    return 0;
}

int XPosixProcessLauncher::ReadStd(VMemoryBuffer<>* out, VMemoryBuffer<>* err)
{
    return _Drain(out, err, nullptr, nullptr);
}

int XPosixProcessLauncher::ExchangeStd(const void* input, size_t size, VMemoryBuffer<>* out, VMemoryBuffer<>* err)
{
    int result = _Drain(out, err, nullptr, nullptr, static_cast<const char*>(input), size);
    CloseStandardInput();
    return result;
}

int XPosixProcessLauncher::ReadFromChildAndShutdown(const ChildOutputHandler& out, const ChildOutputHandler& err)
{
    int result = _Drain(nullptr, nullptr, &out, &err);
    Shutdown(false, false);
    return result;
}

int XPosixProcessLauncher::WaitForData(int ms)
{
    int waited = 0;
    for (;;) {
        struct pollfd polled[2];
        nfds_t count = 0;
        if (fOutput[0] >= 0)
            polled[count++] = {fOutput[0], POLLIN, 0};
        if (fError[0] >= 0)
            polled[count++] = {fError[0], POLLIN, 0};
        int slice = (ms < 0 || ms - waited > 50) ? 50 : ms - waited;
        int ready = poll(polled, count, slice);
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready > 0)
            return 1;
        if (_HasEnded()) {
            _TryCollect();
            return 0;
        }
        waited += slice;
        if (ms >= 0 && waited >= ms)
            return 0;
    }
}

ssize_t XPosixProcessLauncher::ReadFromChild(void* buffer, size_t size)
{
    if (fOutput[0] < 0)
        return -1;
    ssize_t n = RetryOnEINTR([&] { return ::read(fOutput[0], buffer, size); });
    return (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) ? 0 : n;
}

ssize_t XPosixProcessLauncher::ReadErrorFromChild(void* buffer, size_t size)
{
    if (fError[0] < 0)
        return -1;
    ssize_t n = RetryOnEINTR([&] { return ::read(fError[0], buffer, size); });
    return (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) ? 0 : n;
}

int XPosixProcessLauncher::KillProcess(int signal)
{
    if (!fStarted || fCollected || fHandedOff)
        return -1;
    int result = fProcessTreeKill ? killpg(fPid, signal) : kill(fPid, signal);
    return result == 0 ? 0 : errno;
}

bool XPosixProcessLauncher::IsRunning()
{
    return fStarted && !_HasEnded();
}

VError XPosixProcessLauncher::Shutdown(bool wait, bool killTree)
{
    if (!fStarted) {
        _ClosePipes();
        return VE_OK;
    }
    if (fHandedOff)
        return VE_OK;
    if (fWaitClosingMs > 0 && !fCollected) {
        // Output nobody reads is dropped so that the child never blocks on a
        // full pipe while we wait for its end.
        _Drain(nullptr, nullptr, nullptr, nullptr);
        while (!_HasEnded()) {
            siginfo_t info;
            if (waitid(P_PID, static_cast<id_t>(fPid), &info, WEXITED | WNOWAIT) != 0 && errno != EINTR)
                break;
        }
    }
    fTimeoutKill.Cancel();
    VError result = VE_OK;
    if (fTimedOut && fTimedOut->load())
        result = _ThrowError(VE_PROCESS_TIMED_OUT);

    bool ended = fCollected || _HasEnded();
    // The group is killed while its leader is not yet reaped, so its id cannot
    // have been given to anybody else.
    if (ended && killTree && fProcessTreeKill && !fCollected)
        killpg(fPid, SIGKILL);
    _TryCollect();
    _ClosePipes();

    if (!fCollected) {
        if (wait) {
            for (int signal : {SIGTERM, SIGQUIT, SIGKILL}) {
                int sent = fProcessTreeKill ? killpg(fPid, signal) : kill(fPid, signal);
                if (sent != 0 && errno == ESRCH) {
                    _TryCollect();
                    break;
                }
                for (int waited = 0; waited < kEscalationStepMs && !_TryCollect(); waited += kEscalationPollMs)
                    usleep(kEscalationPollMs * 1000);
                if (fCollected)
                    break;
            }
        } else {
            _Watch(fPid);
            fHandedOff = true;
        }
    }
    return result;
}

}  // namespace bkit
