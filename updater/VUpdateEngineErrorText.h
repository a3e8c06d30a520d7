// VUpdateEngineErrorText.h - the words the updater shows and logs for its error records.
//
// The toolbox's records keep their paths in the internal volume form
// ("Vol:dir:App.app:"), which names no folder a user knows, and some codes
// have no text at all ("Error code: 5 (bkit)"). This file defines how the
// updater tells a record to its user, in the notice, on standard error and in
// its log:
// - the path parameters ("path", "srcPath", "dstPath", "from", "to", and
//   the "destination" of a folder copy) are given in their POSIX form; a
//   text already in that form, or no path ("n/a"), stays as it is;
// - a code without a text of its own is told in words, with its component
//   and number;
// - a path the text does not name is added after it ("Path: '/a/b/'.",
//   "Source: …", "Destination: …"), so that every error tells what it
//   concerns;
// - a native record ('POSX' and the like, with no parameters of its own)
//   right beneath a record is the reason of that record: it is told within
//   that record's text, unless the record's code is merely that reason
//   translated (access denied for EACCES, not found for ENOENT);
// - the control characters of every text told (a path holding a line break,
//   a terminal's escape) are written as escapes (ControlEscapes.h), so that
//   no path starts a line of its own in the log, on standard error or in
//   the notice.
//
// Contracts: telling changes no record, so stored records keep the internal
// form their readers rely on; only KeepErrorTexts writes, and then only each
// record's "message" (its description from then on). Texts come from the
// process localizer, with the English texts here as defaults. Records are read
// on the task that holds the context.
#pragma once

#include <vector>

#include "basekit/text/VString.h"

namespace bkit {
class VErrorBase;
class VErrorContext;
}  // namespace bkit

// The text of error, with reason (a native record beneath it, or null) told
// within it as the file comment says.
bkit::VString ErrorTextForUser(const bkit::VErrorBase& error, const bkit::VErrorBase* reason = nullptr);

// One record of a context as it is told.
struct ToldError {
    bkit::VErrorBase* error;  // held by the context, not retained
    bkit::VString text;
    // A native record told within the text of the record above it. Its own
    // text names the paths of that record.
    bool isReason;
};

// Every record of the context, oldest first; none for a null context.
std::vector<ToldError> TellErrors(const bkit::VErrorContext* context);

// What a failed run shows its user (the notice, or standard error without
// one): the newest record's text with the first native record beneath it, at
// any depth, as its reason, since the records between (a copy that failed, a
// folder that could not be made) are in the log. Empty for an empty or null
// context.
bkit::VString FailureText(const bkit::VErrorContext* context);

// The sentence for a log file (POSIX path) that lines could not be written
// to, with errnum in words as its reason.
bkit::VString LogNotWrittenText(const bkit::VString& posixPath, int errnum);

// Stores the told text of every record of the context as its "message", so
// that whoever describes the records later (the process logger, when they
// leave the run) says what the run said. Call it once, after the last telling.
void KeepErrorTexts(bkit::VErrorContext* context);
