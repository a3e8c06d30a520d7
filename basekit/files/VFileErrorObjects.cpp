// VFileErrorObjects.cpp - file errors made for file and folder objects.
//
// This file holds the VFileError constructors that take a VFile or a VFolder,
// apart from VFileError.cpp so that programs raising errors for plain paths do
// not pull in the file and folder objects.
#include "basekit/files/VFile.h"
#include "basekit/files/VFileError.h"
#include "basekit/files/VFolder.h"

namespace bkit {

VFileError::VFileError(const VFile* file, VError code)
    : VErrorBase(code), fPath(file != nullptr ? file->GetPathRef() : VFilePath())
{
    _SetPathParameters();
}

VFileError::VFileError(const VFolder* folder, VError code)
    : VErrorBase(code), fPath(folder != nullptr ? folder->GetPathRef() : VFilePath())
{
    _SetPathParameters();
}

}  // namespace bkit
