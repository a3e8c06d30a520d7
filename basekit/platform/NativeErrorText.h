// NativeErrorText.h - texts of native error codes.
//
// This file defines the texts that describe the native error codes an error
// record may carry. It replaces the macOS services GetMacOSStatusCommentString
// and GetMacOSStatusErrorString (Carbon OS status codes, 'CARB'), the
// description of a CFError in the Cocoa domain ('COCO') and mach_error_string
// ('MACH'), and wraps strerror_r for POSIX errno values ('POSX').
//
// Where it falls short: macOS knows thousands of status codes and localizes the
// Cocoa texts; here a fixed English table holds only the codes the toolbox
// raises or maps (file, memory and text-encoding statuses, the Cocoa file
// errors, the common kernel returns). An unknown Carbon code has no text (the
// record then describes itself by its code); an unknown Cocoa code gets the
// generic "The operation couldn't be completed." text with its number; an
// unknown Mach code gets "unknown error code". The Cocoa texts never name the
// file involved. All functions are thread-safe and allocate nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bkit {

// The comment ("File not found") and the symbolic name ("fnfErr") of a Carbon
// OS status. False, and both null, for a status the table does not know.
bool GetCarbonStatusTexts(int32_t status, const char** comment, const char** name);

// The description of a Cocoa error code, written into buffer (always
// terminated when size > 0). Returns buffer.
const char* GetCocoaErrorText(int32_t code, char* buffer, size_t size);

// The text of a Mach kernel return code; never null.
const char* GetMachErrorText(int32_t code);

// The text of an errno value, written into buffer (terminated). False when the
// system has no text for it or the buffer could not take any of it.
bool GetPOSIXErrorText(int errnum, char* buffer, size_t size);

}  // namespace bkit
