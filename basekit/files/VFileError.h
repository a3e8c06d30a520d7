// VFileError.h - the error record of file operations, and reserved file characters.
//
// This file defines VFileError, the error record that every file, folder and
// open-file operation pushes: a toolbox error record that also carries the path
// it concerns, with the parameters "name" (the path's last component) and
// "path" (the internal ':' text), both "n/a" when there is no path. It also
// declares the codes of file operations and the two text functions that put
// the characters file systems reserve into a percent form and back.
//
// Contracts: a record starts with one reference owned by its creator and is
// pushed with _PushRetainedError or StThrowError<VFileError>, which take that
// reference over. The platform halves of files and folders return native codes
// and push nothing; the portable objects wrap a native code into a VFileError
// (EncodedNativeErrorToVError(native, the operation's code)) and push it with
// the native record beneath it.
#pragma once

#include "basekit/BKitTypes.h"
#include "basekit/files/VFilePath.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

class VFile;
class VFolder;

// Codes of file and open-file operations ('bkit').
// 200, an absolute read past the end, is VE_STREAM_EOF of VStream.h.
constexpr VError VE_FILE_CANNOT_GET_POS = MakeBKitError(213);
constexpr VError VE_FILE_CANNOT_SET_POS = MakeBKitError(214);
constexpr VError VE_FILE_CANNOT_READ = MakeBKitError(215);
constexpr VError VE_FILE_CANNOT_WRITE = MakeBKitError(216);
constexpr VError VE_FILE_CANNOT_FLUSH = MakeBKitError(217);
constexpr VError VE_FILE_CANNOT_GET_EOF = MakeBKitError(218);
constexpr VError VE_FILE_CANNOT_SET_EOF = MakeBKitError(219);
constexpr VError VE_FILE_CANNOT_RENAME = MakeBKitError(601);
constexpr VError VE_FILE_CANNOT_OPEN = MakeBKitError(602);
constexpr VError VE_FILE_CANNOT_DELETE = MakeBKitError(604);
constexpr VError VE_FILE_CANNOT_COPY = MakeBKitError(605);
constexpr VError VE_FILE_CANNOT_MOVE = MakeBKitError(606);
constexpr VError VE_FILE_CANNOT_CREATE = MakeBKitError(607);
constexpr VError VE_FILE_CANNOT_GET_ATTRIBUTES = MakeBKitError(608);
constexpr VError VE_FILE_CANNOT_SET_ATTRIBUTES = MakeBKitError(609);
constexpr VError VE_FILE_CANNOT_CREATE_ALIAS = MakeBKitError(610);
constexpr VError VE_FILE_CANNOT_RESOLVE_ALIAS = MakeBKitError(611);
constexpr VError VE_FILE_CANNOT_REVEAL = MakeBKitError(612);
// 614, a name holding ':', is VE_FS_BAD_NAME of VFilePath.h.
constexpr VError VE_FILE_ALIAS_TARGET_NOT_A_FILE = MakeBKitError(617);

class VFileError : public VErrorBase {
public:
    // Builds the base record with code, then sets "name" and "path" from a
    // copy of path ("n/a" for both when its text is empty).
    VFileError(const VFilePath& path, VError code);
    // The same with the file's or folder's path; a null object leaves the
    // path invalid ("n/a").
    VFileError(const VFile* file, VError code);
    VFileError(const VFolder* folder, VError code);

    ~VFileError() override;

    // Exactly what the base record gives.
    void GetErrorDescription(VString& out) const override;

    const VFilePath& GetFilePath() const { return fPath; }

private:
    void _SetPathParameters();

    VFilePath fPath;
};

// Scoped raiser of a file error: the record's code is
// EncodedNativeErrorToVError(native, defaultCode); a native code ('POSX',
// 'CARB', 'MACH', 'COCO') is pushed beneath the record, a toolbox code passes
// through without a second record. The caller may add parameters through ->;
// both are pushed on the calling task when the raiser goes out of scope.
//   StThrowError<VFileError> err(path, MakePOSIXVError(errno), VE_FILE_CANNOT_OPEN);
template <>
class StThrowError<VFileError> {
public:
    StThrowError(const VFilePath& path, VError native, VError defaultCode)
        : fError(new VFileError(path, VErrorBase::EncodedNativeErrorToVError(native, defaultCode))),
          fNative(_NativeCause(native)) {}
    StThrowError(const VFile* file, VError native, VError defaultCode)
        : fError(new VFileError(file, VErrorBase::EncodedNativeErrorToVError(native, defaultCode))),
          fNative(_NativeCause(native)) {}
    StThrowError(const VFolder* folder, VError native, VError defaultCode)
        : fError(new VFileError(folder, VErrorBase::EncodedNativeErrorToVError(native, defaultCode))),
          fNative(_NativeCause(native)) {}
    // Adopts the caller's reference to error.
    explicit StThrowError(VFileError* error, VError native = 0) : fError(error), fNative(native) {}

    ~StThrowError() { _PushRetainedError(fError, fNative); }

    StThrowError(const StThrowError&) = delete;
    StThrowError& operator=(const StThrowError&) = delete;

    VFileError* operator->() const { return fError; }
    VFileError* Get() const { return fError; }
    VError GetError() const { return fError ? fError->GetError() : 0; }

private:
    static VError _NativeCause(VError native)
    {
        return VErrorBase::IsNativeError(native) ? native : 0;
    }

    VFileError* fError;
    VError fNative;
};

// Reserved code units (0-31, " % * / : < > ? \ |) become '%' and two
// upper-case hexadecimal digits. A text without one is returned unchanged.
VString EncodeReservedFileCharacters(const VString& text);

// Every '%' followed by at least two code units becomes the unit those two
// give read as hexadecimal (not checked to be digits); a '%' nearer the end is
// kept.
VString DecodeReservedFileCharacters(const VString& text);

}  // namespace bkit
