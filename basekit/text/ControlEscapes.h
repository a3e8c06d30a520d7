// ControlEscapes.h - control characters written as visible escapes.
//
// This file defines the one escaping of control characters for text that is
// shown or logged one line at a time: a path or a message that holds a line
// break, a carriage return, a terminal's escape character or an invisible
// character that reorders what follows must not start a line of its own,
// rewrite what a terminal shows, or pass for something else. Escaped are:
// - tab, line feed and carriage return as "\t", "\n" and "\r";
// - every other unit below U+0020, and U+007F, as "\x" and two upper-case
//   hexadecimal digits ("\x1B");
// - the C1 controls U+0080 to U+009F, the line and paragraph separators
//   U+2028 and U+2029, and the bidirectional embeddings, overrides and
//   isolates (U+202A to U+202E, U+2066 to U+2069) as "\u{" and upper-case
//   hexadecimal digits "}" ("\u{85}", "\u{202E}").
// Nothing else changes; the backslash itself is not escaped, so escaping an
// escaped text again changes nothing (a name that holds a backslash and an
// "n" reads as an escaped line break, but stays on its line). Text is UTF-8;
// bytes that are not valid UTF-8 are left as they are (none of them is a
// control).
//
// Thread-safe; nothing is shared.
#pragma once

#include <string>
#include <string_view>

#include "basekit/text/VString.h"

namespace bkit {

// True when utf8 holds a character that EscapeControls writes as an escape.
bool HasControls(std::string_view utf8);

// utf8 with every control written as its escape (see above).
std::string EscapeControls(std::string_view utf8);
inline std::string EscapeControls(const char* utf8) { return EscapeControls(std::string_view(utf8)); }

// The same for a string; a string without controls comes back as it is.
VString EscapeControls(const VString& text);

}  // namespace bkit
