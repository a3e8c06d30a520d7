// SystemNotice.h - system notices with buttons, in place of user notifications.
//
// This file stands in for the CoreFoundation user-notification service the
// system facade shows its notices with. A notice has a header, an optional
// message, up to three buttons (default, alternate, other; each answering its
// own response number) and a caution level. It is shown the first way that
// applies:
// - BKIT_NOTICE_DIR names a folder (the test seam): the notice is written there
//   as one JSON file "notice-<pid>-<n>.json"; a waiting notice then polls for
//   "notice-<pid>-<n>.answer", whose text is the response number.
// - A graphical session (DISPLAY or WAYLAND_DISPLAY) with zenity on PATH: the
//   notice is a zenity question (or message when it has no buttons), and the
//   button pressed is mapped back to its response.
// - Otherwise the notice goes to standard error (when open) and to the system
//   log, and a waiting notice answers its default button at once, so that a
//   headless run never waits for a person who is not there.
//
// A process asked to quit ends the waits (SetNoticeWaitsEnded): each waiting
// notice then answers its default button, as a headless one does.
//
// Where it falls short: there is no icon; a zenity window closed without a
// button answers the alternate button (zenity cannot tell them apart), and a
// notice shown without waiting cannot report its answer. Thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bkit::platform {

struct NoticeButton {
    std::string title;   // UTF-8
    int32_t response;    // the toolbox's answer for this button
};

struct Notice {
    std::string header;                 // UTF-8, never empty in practice
    std::string message;                // UTF-8, may be empty
    std::vector<NoticeButton> buttons;  // default, alternate, other; empty: one system button
    int32_t defaultResponse = 1;        // the answer of the system button when buttons is empty
    uint32_t flags = 0;                 // the caller's flags, recorded as given
    bool caution = false;
};

// The response of a notice closed without a button.
constexpr int32_t kNoticeDismissed = 8;

// A notice shown without waiting: what CancelNotice needs to withdraw it.
struct PendingNotice {
    std::string noticeFile;  // the seam's file, else empty
    pid_t viewer = -1;       // the zenity process, else -1
};

// Shows a notice. With response given, blocks until it is answered and stores
// the answer there; without, returns at once and fills pending (when given)
// with what is needed to withdraw the notice later. False when the notice could
// not be shown at all (nothing is then left behind).
bool ShowNotice(const Notice& notice, int32_t* response, PendingNotice* pending);

// With ended true, the waits of ShowNotice, those under way and those to
// come, end at once with the notice's default answer, as if that button had
// been chosen: for a process that was asked to quit, where nobody may be left
// to answer. A zenity viewer is ended; a seam file stays. False lets notices
// wait again. Safe from any thread.
void SetNoticeWaitsEnded(bool ended);

// True when a notice shown without waiting is still up (its viewer has not
// ended; a seam file stays up until withdrawn). Reaps an ended viewer.
bool IsNoticePending(PendingNotice& pending);

// Withdraws a notice shown without waiting: ends its viewer or removes its
// seam file.
void CancelNotice(PendingNotice& pending);

}  // namespace bkit::platform
