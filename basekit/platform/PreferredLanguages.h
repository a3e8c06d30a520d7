// PreferredLanguages.h - the user's preferred languages, most preferred first.
//
// This file replaces the platform's list of preferred languages
// (CFLocaleCopyPreferredLanguages and the preference "AppleLanguages").
// Linux has no such list; it is read from the environment on every call:
// LANGUAGE (a colon-separated list), else LC_ALL, else LC_MESSAGES, else LANG,
// the first one that is set and names a language ("C" and "POSIX" do not).
// Each entry loses its encoding (".UTF-8") and modifier ("@euro") and uses "-"
// between language and region ("fr-CA"). When nothing names a language the
// list is US English alone ("en-US"). Thread-safe as far as getenv is (no
// setenv from another thread meanwhile).
#pragma once

#include <string>
#include <vector>

namespace bkit::platform {

// Never empty.
std::vector<std::string> GetPreferredLanguages();

}  // namespace bkit::platform
