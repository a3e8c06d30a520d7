// VURLFolder.cpp - URLs of paths relative to a folder object.
//
// This file holds the VURL operations that take a VFolder, apart from VURL.cpp
// so that plain URL code does not depend on folder objects.
#include "basekit/files/VFilePath.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VURL.h"

namespace bkit {

VURL::VURL(const VFolder& folder, const VString& relativePath, EURLPathStyle style)
{
    FromRelativePath(folder, relativePath, style);
}

void VURL::FromRelativePath(const VFolder& folder, const VString& relativePath, EURLPathStyle style)
{
    VString relative(relativePath);
    if (style == eURL_WIN_STYLE)
        WIN_to_POSIX(relative);
    // An internal-form text stays internal; the other styles are POSIX by now.
    FilePathStyle pathStyle = style == eURL_HFS_STYLE ? FPS_SYSTEM : FPS_POSIX;
    VFilePath path(folder.GetPathRef(), relative, pathStyle, false);
    FromFilePath(path);
}

}  // namespace bkit
