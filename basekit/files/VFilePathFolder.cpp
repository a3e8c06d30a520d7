// VFilePathFolder.cpp - paths relative to a folder object.
//
// This file holds the VFilePath operations that take a VFolder, apart from
// VFilePath.cpp so that plain path code does not depend on folder objects.
#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"

namespace bkit {

VFilePath& VFilePath::FromRelativePath(const VFolder& base, const VString& relativePath, FilePathStyle style,
                                       bool forbidFullPosix)
{
    return FromRelativePath(base.GetPathRef(), relativePath, style, forbidFullPosix);
}

}  // namespace bkit
