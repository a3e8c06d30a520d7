// VFileIterator.h - listing the files of one folder.
//
// This file defines VFSObjectIterator, the iterator over one folder level that
// yields a new object per matching entry in the file system's order, and its
// file instance VFileIterator. The options are the FileIteratorOptions bits:
// the caller puts in the wanted kind's bit (4 for files) and leaves the other
// kind's out; bit 1 is ignored here (the walks of VFolder descend).
//
// Contracts:
// - The iterator retains the folder and holds one reference to the current
//   item; Current() does not hand out a reference (retain it to keep it).
// - While positioned on an item, GetTime answers that item's times ('bkit' 3
//   at the end).
// - A folder that does not exist or cannot be read yields nothing and reports
//   nothing. One task uses an iterator.
#pragma once

#include <cstdint>

#include "basekit/files/IFileSystemObject.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFolderIterator.h"
#include "basekit/values/VObject.h"

namespace bkit {

template <class T, class Impl>
class VFSObjectIterator : public VObject, public IFileAttributeAccessor {
public:
    VFSObjectIterator(const VFolder* folder, uint32_t options) : fFolder(const_cast<VFolder*>(folder)), fOptions(options)
    {
        fImpl = new Impl(folder, options);
        _Next();
    }
    ~VFSObjectIterator() override { delete fImpl; }
    VFSObjectIterator(const VFSObjectIterator&) = delete;
    VFSObjectIterator& operator=(const VFSObjectIterator&) = delete;

    // The current item, null at the end (no new reference).
    T* Current() const { return fCurrent.Get(); }
    T* operator->() const { return fCurrent.Get(); }
    bool IsValid() const { return fCurrent.Get() != nullptr; }
    // 1 for the first item; 0 before any.
    int32_t GetPos() const { return fIndex; }
    uint32_t GetOptions() const { return fOptions; }

    VFSObjectIterator& operator++()
    {
        _Next();
        return *this;
    }

    VError GetTime(VTime* modified, VTime* created, VTime* accessed) const override
    {
        if (!fCurrent)
            return VE_INVALID_PARAMETER;
        return fCurrent->GetTimeAttributes(modified, created, accessed);
    }

private:
    void _Next()
    {
        fCurrent.Clear();
        if (fImpl == nullptr)
            return;
        T* next = fImpl->Next();
        if (next == nullptr) {
            delete fImpl;
            fImpl = nullptr;
            return;
        }
        fCurrent = VRefPtr<T>::Adopt(next);
        ++fIndex;
    }

    VRefPtr<VFolder> fFolder;
    VRefPtr<T> fCurrent;
    int32_t fIndex = 0;
    uint32_t fOptions;
    Impl* fImpl = nullptr;
};

class VFileIterator : public VFSObjectIterator<VFile, XMacFileIterator> {
public:
    VFileIterator(const VFolder* folder, uint32_t options = FI_WANT_FILES) : VFSObjectIterator(folder, options) {}
};

}  // namespace bkit
