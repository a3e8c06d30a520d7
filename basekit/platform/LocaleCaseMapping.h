// LocaleCaseMapping.h - upper- and lower-casing of UTF-16 text.
//
// This file replaces CFStringUppercase and CFStringLowercase called with no
// locale: the full Unicode case mapping (one unit may give several: U+00DF
// gives "SS"), independent of any language's special rules. It is built on
// ICU. Thread-safe.
#pragma once

#include <cstdint>

namespace bkit::platform {

// Maps source into target (capacity units) and returns the mapped length,
// which may exceed capacity: then nothing usable was written and the caller
// tries again with that much room. -1 on any other failure.
int32_t MapCase(const char16_t* source, int32_t length, char16_t* target, int32_t capacity, bool upper);

}  // namespace bkit::platform
