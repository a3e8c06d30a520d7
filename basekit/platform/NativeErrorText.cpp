// NativeErrorText.cpp - fixed tables of native error texts.
#include "basekit/platform/NativeErrorText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bkit {

namespace {

struct CarbonText {
    int32_t status;
    const char* comment;
    const char* name;
};

// The statuses the toolbox maps or raises: file manager, memory, user
// cancellation and text-encoding conversion.
constexpr CarbonText kCarbonTexts[] = {
    {-34, "Disk full", "dskFulErr"},
    {-37, "Bad file name or volume name", "bdNamErr"},
    {-39, "End of file", "eofErr"},
    {-43, "File not found", "fnfErr"},
    {-45, "File is locked", "fLckdErr"},
    {-46, "Volume is locked", "vLckdErr"},
    {-48, "File already exists", "dupFNErr"},
    {-50, "Error in user parameter list", "paramErr"},
    {-54, "Permission error", "permErr"},
    {-108, "Not enough memory", "memFullErr"},
    {-120, "Directory not found", "dirNFErr"},
    {-128, "User cancelled", "userCanceledErr"},
    {-192, "Resource not found", "resNotFound"},
    {-8738, "Text encoding not supported", "kTextUnsupportedEncodingErr"},
    {-8739, "Malformed input text", "kTextMalformedInputErr"},
    {-8740, "Text holds a character the target encoding lacks", "kTextUndefinedElementErr"},
    {-8749, "No conversion path between the two encodings", "kTECNoConversionPathErr"},
};

struct CodeText {
    int32_t code;
    const char* text;
};

// The file errors the toolbox reports in the Cocoa domain.
constexpr CodeText kCocoaTexts[] = {
    {4, "The file doesn't exist."},
    {256, "The file couldn't be opened."},
    {257, "The file couldn't be opened because you don't have permission to view it."},
    {260, "The file couldn't be opened because there is no such file."},
    {512, "The file couldn't be saved."},
    {513, "You don't have permission to save the file."},
    {514, "The file name is invalid."},
    {516, "The file couldn't be saved because a file with the same name already exists."},
    {640, "The file couldn't be saved because there isn't enough space."},
    {642, "The file couldn't be saved because the volume is read only."},
    {3328, "The requested operation couldn't be completed because the feature is not supported."},
};

constexpr CodeText kMachTexts[] = {
    {0, "(os/kern) successful"},
    {1, "(os/kern) invalid address"},
    {2, "(os/kern) protection failure"},
    {3, "(os/kern) no space available"},
    {4, "(os/kern) invalid argument"},
    {5, "(os/kern) failure"},
    {6, "(os/kern) resource shortage"},
    {14, "(os/kern) operation aborted"},
    {15, "(os/kern) invalid name"},
    {49, "(os/kern) operation timed out"},
};

template <size_t N>
const char* FindText(const CodeText (&table)[N], int32_t code)
{
    for (const CodeText& row : table) {
        if (row.code == code)
            return row.text;
    }
    return nullptr;
}

// strerror_r comes in two shapes: the XSI one returns an int, the GNU one a
// pointer to the text (which may not be the buffer). Both are handled here.
[[maybe_unused]] bool TakeStrerrorResult(int result, int, char* buffer, size_t)
{
    return (result == 0 || result == ERANGE) && buffer[0] != 0;
}

[[maybe_unused]] bool TakeStrerrorResult(const char* result, int, char* buffer, size_t size)
{
    if (result == nullptr || result[0] == 0)
        return false;
    if (result != buffer) {
        strncpy(buffer, result, size - 1);
        buffer[size - 1] = 0;
    }
    return buffer[0] != 0;
}

}  // namespace

bool GetCarbonStatusTexts(int32_t status, const char** comment, const char** name)
{
    for (const CarbonText& row : kCarbonTexts) {
        if (row.status == status) {
            if (comment)
                *comment = row.comment;
            if (name)
                *name = row.name;
            return true;
        }
    }
    if (comment)
        *comment = nullptr;
    if (name)
        *name = nullptr;
    return false;
}

const char* GetCocoaErrorText(int32_t code, char* buffer, size_t size)
{
    if (size == 0)
        return buffer;
    if (const char* text = FindText(kCocoaTexts, code))
        snprintf(buffer, size, "%s", text);
    else
        snprintf(buffer, size, "The operation couldn't be completed. (Cocoa error %d.)", code);
    return buffer;
}

const char* GetMachErrorText(int32_t code)
{
    const char* text = FindText(kMachTexts, code);
    return text ? text : "unknown error code";
}

bool GetPOSIXErrorText(int errnum, char* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return false;
    buffer[0] = 0;
    return TakeStrerrorResult(strerror_r(errnum, buffer, size), errnum, buffer, size);
}

}  // namespace bkit
