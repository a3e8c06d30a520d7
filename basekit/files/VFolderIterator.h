// VFolderIterator.h - listing the sub-folders of one folder.
//
// This file defines VFolderIterator, the folder instance of VFSObjectIterator
// (see VFileIterator.h for the contracts); pass bit 2 in the options.
#pragma once

#include "basekit/files/VFileIterator.h"

namespace bkit {

class VFolderIterator : public VFSObjectIterator<VFolder, XMacFolderIterator> {
public:
    VFolderIterator(const VFolder* folder, uint32_t options = FI_WANT_FOLDERS) : VFSObjectIterator(folder, options) {}
};

}  // namespace bkit
