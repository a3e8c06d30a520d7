// PosixError.h - errno, EINTR retries and native error codes of the file layer.
//
// This file defines the one place where an errno value becomes a native error
// code: 'POSX' with the host's errno for what the platform does through POSIX
// calls, and 'COCO' numbers for what it does through its file manager (copy,
// move, Trash, system folders). It also defines the EINTR retry loop and a
// scoped owner of a file descriptor. Nothing here pushes an error record: the
// portable objects above wrap these codes into their own records.
#pragma once

#include <cerrno>

#include "basekit/BKitTypes.h"

namespace bkit {

// 'COCO' numbers of file-manager failures.
constexpr int32_t kCocoaFileNoSuchFile = 4;
constexpr int32_t kCocoaFileReadNoSuchFile = 260;
constexpr int32_t kCocoaFileReadNoPermission = 257;
constexpr int32_t kCocoaFileWriteUnknown = 512;
constexpr int32_t kCocoaFileWriteNoPermission = 513;
constexpr int32_t kCocoaFileWriteInvalidFileName = 514;
constexpr int32_t kCocoaFileWriteFileExists = 516;
constexpr int32_t kCocoaFileWriteOutOfSpace = 640;
constexpr int32_t kCocoaFileWriteVolumeReadOnly = 642;
constexpr int32_t kCocoaFeatureUnsupported = 3328;

// 'POSX' code of an errno value; 0 stays 0.
VError PosixErrorFromErrno(int errnum);

// 'POSX' code of the current errno (0 when errno is 0).
VError LastPosixError();

// 'COCO' code of a file-manager operation that failed with errnum. reading is
// true when the failure concerns the source (it could not be read), which
// selects the reading variants of "no such file" and "no permission". 0 stays 0.
VError CocoaErrorFromErrno(int errnum, bool reading);

// Calls op until it does not fail with EINTR; returns its last result. op
// reports failure as -1 with errno set, as POSIX calls do.
template <class Op>
auto RetryOnEINTR(Op op) -> decltype(op())
{
    decltype(op()) result;
    do {
        result = op();
    } while (result == -1 && errno == EINTR);
    return result;
}

// Owns one file descriptor and closes it when it goes out of scope.
class StFileDescriptor {
public:
    StFileDescriptor() = default;
    explicit StFileDescriptor(int fd) : fFD(fd) {}
    ~StFileDescriptor() { Reset(); }
    StFileDescriptor(const StFileDescriptor&) = delete;
    StFileDescriptor& operator=(const StFileDescriptor&) = delete;

    int Get() const { return fFD; }
    bool IsValid() const { return fFD >= 0; }
    // Gives the descriptor to the caller, who closes it.
    int Release() { int fd = fFD; fFD = -1; return fd; }
    // Closes the held descriptor (if any) and holds fd.
    void Reset(int fd = -1);

private:
    int fFD = -1;
};

}  // namespace bkit
