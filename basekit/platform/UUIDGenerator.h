// UUIDGenerator.h - new universally unique identifiers from the platform.
//
// This file declares the stand-in for the CoreFoundation UUID service
// (CFUUIDCreate and CFUUIDGetUUIDBytes): GenerateUUID fills 16 bytes with a
// new identifier made by libuuid.
//
// Where it falls short: libuuid makes a random (version 4) identifier when the
// kernel's random source is usable and falls back to a time-based one
// otherwise, where CoreFoundation always makes a random one. It never fails
// here, so the "no UUID could be made" path of callers is never taken.
// Any thread may call it.
#pragma once

#include <cstdint>

namespace bkit::platform {

// Fills bytes with a new identifier in stored order. True on success; on
// failure the bytes are left as they were.
bool GenerateUUID(uint8_t (&bytes)[16]);

}  // namespace bkit::platform
