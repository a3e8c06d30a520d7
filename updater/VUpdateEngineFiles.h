// VUpdateEngineFiles.h - file helpers of the updater that the update itself does not call.
//
// RobustCopyFile copies one file, creating the destination's folder first;
// RobustCopyFolderContent copies a folder's items into another folder,
// creating it first; FindFileByExt finds the first file of a folder with an
// extension (compared ignoring case and accents). Failures are pushed, except
// FindFileByExt's, which only returns 'bkit' 600 (not found) or 'bkit' 3.
#pragma once

#include <cstdint>

#include "basekit/files/VFilePath.h"

namespace bkit {
class VFolder;
}

bkit::VError RobustCopyFile(const bkit::VFilePath& source, const bkit::VFilePath& destination, uint32_t options);
bool RobustCopyFolderContent(const bkit::VFolder& source, const bkit::VFolder& destination, uint32_t options);
bool RobustCopyFolderContent(const bkit::VFilePath& source, const bkit::VFilePath& destination, uint32_t options);
bkit::VError FindFileByExt(const bkit::VFolder& folder, const bkit::VString& extension, bkit::VFilePath& outPath);
bkit::VError FindFileByExt(const bkit::VFilePath& folderPath, const bkit::VString& extension, bkit::VFilePath& outPath);
