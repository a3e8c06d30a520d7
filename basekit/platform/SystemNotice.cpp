// SystemNotice.cpp - notices through the seam folder, zenity, or standard error and syslog.
#include "basekit/platform/SystemNotice.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "basekit/platform/PosixError.h"

extern char** environ;

namespace bkit::platform {

namespace {

std::atomic<uint32_t> sNoticeCounter{0};
std::atomic<bool> sWaitsEnded{false};

// The answer of the default button (the system button without buttons).
int32_t DefaultAnswer(const Notice& notice)
{
    return notice.buttons.empty() ? notice.defaultResponse : notice.buttons[0].response;
}

// JSON string literal of UTF-8 text (control characters escaped).
std::string JSONQuote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string NoticeJSON(const Notice& notice)
{
    std::string json = "{\"title\":" + JSONQuote(notice.header) + ",\"message\":" + JSONQuote(notice.message) +
                       ",\"buttons\":[";
    for (size_t i = 0; i < notice.buttons.size(); ++i) {
        if (i) json += ",";
        json += "{\"title\":" + JSONQuote(notice.buttons[i].title) +
                ",\"response\":" + std::to_string(notice.buttons[i].response) + "}";
    }
    json += "],\"defaultButton\":";
    json += notice.buttons.empty() ? "null" : JSONQuote(notice.buttons[0].title);
    json += ",\"defaultResponse\":" +
            std::to_string(notice.buttons.empty() ? notice.defaultResponse : notice.buttons[0].response);
    json += ",\"flags\":" + std::to_string(notice.flags);
    json += ",\"caution\":" + std::string(notice.caution ? "true" : "false") + "}\n";
    return json;
}

// Writes the whole text to path through a temporary name, so that a reader
// never sees half a notice.
bool WriteFileAtomically(const std::string& path, const std::string& text)
{
    std::string temporary = path + ".tmp";
    StFileDescriptor fd(RetryOnEINTR([&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }));
    if (!fd.IsValid()) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = RetryOnEINTR([&] { return ::write(fd.Get(), text.data() + done, text.size() - done); });
        if (n <= 0) {
            ::unlink(temporary.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    fd.Reset();
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// The answer written by whoever plays the user: a response number. Anything
// that is not one of the notice's answers counts as a dismissal.
int32_t ParseAnswer(const std::string& text, const Notice& notice)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) return kNoticeDismissed;
    if (notice.buttons.empty() && value == notice.defaultResponse) return notice.defaultResponse;
    for (const NoticeButton& button : notice.buttons) {
        if (button.response == value) return button.response;
    }
    return kNoticeDismissed;
}

bool ReadWholeFile(const std::string& path, std::string& text)
{
    StFileDescriptor fd(RetryOnEINTR([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (!fd.IsValid()) return false;
    text.clear();
    char buffer[256];
    for (;;) {
        ssize_t n = RetryOnEINTR([&] { return ::read(fd.Get(), buffer, sizeof(buffer)); });
        if (n <= 0) return n == 0;
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool ShowThroughFolder(const char* folder, const Notice& notice, int32_t* response, PendingNotice* pending)
{
    std::string base = std::string(folder) + "/notice-" + std::to_string(::getpid()) + "-" +
                       std::to_string(sNoticeCounter.fetch_add(1) + 1);
    std::string noticeFile = base + ".json";
    if (!WriteFileAtomically(noticeFile, NoticeJSON(notice))) return false;
    if (!response) {
        if (pending) pending->noticeFile = noticeFile;
        return true;
    }
    std::string answerFile = base + ".answer";
    std::string text;
    // The seam exists for tests, which answer; an empty file is one being written.
    while (!ReadWholeFile(answerFile, text) || text.empty()) {
        if (sWaitsEnded.load()) {
            *response = DefaultAnswer(notice);
            return true;
        }
        struct timespec pause = {0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    *response = ParseAnswer(text, notice);
    return true;
}

bool HasGraphicalSession()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

std::vector<std::string> ZenityArguments(const Notice& notice)
{
    std::vector<std::string> args = {"zenity"};
    const std::string& text = notice.message.empty() ? notice.header : notice.message;
    if (notice.buttons.empty()) {
        args.push_back(notice.caution ? "--warning" : "--info");
    } else {
        args.push_back("--question");
        if (notice.caution) args.push_back("--icon-name=dialog-warning");
        args.push_back("--ok-label=" + notice.buttons[0].title);
        if (notice.buttons.size() > 1) args.push_back("--cancel-label=" + notice.buttons[1].title);
        if (notice.buttons.size() > 2) args.push_back("--extra-button=" + notice.buttons[2].title);
    }
    args.push_back("--no-markup");
    args.push_back("--title=" + notice.header);
    args.push_back("--text=" + text);
    return args;
}

// Starts zenity without a shell, its standard output on a pipe (the label of
// an extra button comes back there). -1 when it cannot be started.
pid_t StartZenity(const Notice& notice, int* outputFD)
{
    std::vector<std::string> args = ZenityArguments(notice);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipeFDs[2] = {-1, -1};
    if (outputFD && ::pipe2(pipeFDs, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFD) posix_spawn_file_actions_adddup2(&actions, pipeFDs[1], STDOUT_FILENO);
    pid_t pid = -1;
    int result = posix_spawnp(&pid, "zenity", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (outputFD) {
        ::close(pipeFDs[1]);
        if (result != 0) ::close(pipeFDs[0]);
        else *outputFD = pipeFDs[0];
    }
    return result == 0 ? pid : -1;
}

bool ShowThroughZenity(const Notice& notice, int32_t* response, PendingNotice* pending)
{
    if (!response) {
        pid_t pid = StartZenity(notice, nullptr);
        if (pid < 0) return false;
        if (pending)
            pending->viewer = pid;
        else  // nobody will withdraw it: reap it when it ends
            std::thread([pid] { RetryOnEINTR([&] { return ::waitpid(pid, nullptr, 0); }); }).detach();
        return true;
    }
    int outputFD = -1;
    pid_t pid = StartZenity(notice, &outputFD);
    if (pid < 0) return false;
    std::string output;
    char buffer[256];
    bool ended = false;
    for (;;) {
        // Polled, so that an end of the waits is seen while zenity is up.
        if (sWaitsEnded.load()) {
            ::kill(pid, SIGTERM);
            ended = true;
            break;
        }
        struct pollfd ready = {outputFD, POLLIN, 0};
        int count = RetryOnEINTR([&] { return ::poll(&ready, 1, 50); });
        if (count == 0) continue;
        ssize_t n = count < 0 ? -1 : RetryOnEINTR([&] { return ::read(outputFD, buffer, sizeof(buffer)); });
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(outputFD);
    int status = 0;
    pid_t reaped = RetryOnEINTR([&] { return ::waitpid(pid, &status, 0); });
    if (ended) {
        *response = DefaultAnswer(notice);
        return true;
    }
    if (reaped != pid || !WIFEXITED(status)) {
        *response = kNoticeDismissed;
        return true;
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    int code = WEXITSTATUS(status);
    if (notice.buttons.empty()) {
        *response = code == 0 ? notice.defaultResponse : kNoticeDismissed;
    } else if (code == 0) {
        *response = notice.buttons[0].response;
    } else if (code == 1 && notice.buttons.size() > 2 && output == notice.buttons[2].title) {
        *response = notice.buttons[2].response;
    } else if (code == 1 && notice.buttons.size() > 1) {
        *response = notice.buttons[1].response;
    } else {
        *response = kNoticeDismissed;
    }
    return true;
}

bool ShowOnConsole(const Notice& notice, int32_t* response)
{
    std::string text = notice.header;
    if (!notice.message.empty()) text += "\n" + notice.message;
    if (::fcntl(STDERR_FILENO, F_GETFD) != -1) {
        std::string line = text + "\n";
        ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
        (void)ignored;
    }
    syslog((notice.caution ? LOG_WARNING : LOG_NOTICE) | LOG_USER, "%s", text.c_str());
    if (response) *response = DefaultAnswer(notice);
    return true;
}

}  // namespace

bool ShowNotice(const Notice& notice, int32_t* response, PendingNotice* pending)
{
    if (const char* folder = std::getenv("BKIT_NOTICE_DIR"); folder && *folder)
        return ShowThroughFolder(folder, notice, response, pending);
    // A zenity that cannot be started (not on PATH) leaves the console.
    if (HasGraphicalSession() && ShowThroughZenity(notice, response, pending))
        return true;
    return ShowOnConsole(notice, response);
}

void SetNoticeWaitsEnded(bool ended)
{
    sWaitsEnded.store(ended);
}

bool IsNoticePending(PendingNotice& pending)
{
    if (pending.viewer > 0) {
        int status = 0;
        pid_t ended = RetryOnEINTR([&] { return ::waitpid(pending.viewer, &status, WNOHANG); });
        if (ended == 0) return true;
        pending.viewer = -1;
        return false;
    }
    if (!pending.noticeFile.empty()) {
        struct stat st;
        return ::stat(pending.noticeFile.c_str(), &st) == 0;
    }
    return false;
}

void CancelNotice(PendingNotice& pending)
{
    if (pending.viewer > 0) {
        ::kill(pending.viewer, SIGTERM);
        RetryOnEINTR([&] { return ::waitpid(pending.viewer, nullptr, 0); });
        pending.viewer = -1;
    }
    if (!pending.noticeFile.empty()) {
        ::unlink(pending.noticeFile.c_str());
        pending.noticeFile.clear();
    }
}

}  // namespace bkit::platform
