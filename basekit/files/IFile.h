// IFile.h - the file interface of the toolbox.
//
// This file defines IFile, the reference-counted interface through which the
// toolbox reads and writes a file without knowing its concrete class
// (VFile implements it), with the content helpers implemented once for every
// file (text, JSON, copy of content), and the process-wide hooks through which
// a host wraps files and folders into JSON values.
//
// Contracts:
// - Every operation returns an error code (0 success) and leaves its records
//   on the calling task's error stack; none throws.
// - The content operations never hand back half-built text: a failed read
//   clears the string.
// - The hooks are null at start; nothing in the toolbox sets them. Setting
//   them is not synchronised: do it once at start-up.
#pragma once

#include <cstdint>

#include "basekit/files/IFileSystemObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VMemoryBuffer.h"

namespace bkit {

class VFile;
class VFolder;
class IFolder;

// 'bkit' 208: no usable converter for the character set.
constexpr VError VE_FILE_NO_CONVERTER = MakeBKitError(208);

class IFile : public IFileSystemObject {
public:
    ~IFile() override = default;

    virtual VError GetContent(VMemoryBuffer<>& out) const = 0;
    virtual VError GetData(void* buffer, unsigned long size, unsigned long* read) const = 0;
    virtual VError SetContent(const void* data, unsigned long size) const = 0;
    virtual VError AppendContent(const void* data, unsigned long size) const = 0;
    virtual VError Delete() const = 0;
    virtual bool IsWritable() const = 0;
    virtual VError GetSize(long long* size) const = 0;
    virtual VError CopyTo(const VFile& destination, unsigned int options) const = 0;
    virtual VError CopyTo(const VFolder& destination, VFile** outFile, unsigned int options) const = 0;

    // GetFileName(out, false) of the path.
    void GetNameWithoutExtension(VString& out) const override;

    // The whole content as text in charSet (a leading byte-order mark wins),
    // line ends converted by mode; cleared on failure.
    VError GetContentAsString(VString& out, CharSet charSet, ECarriageReturnMode mode) const;
    // The content parsed as JSON text.
    VError GetContentAsJSON(VJSONValue& out, CharSet charSet) const;
    // Replaces the content by the text converted to charSet, line ends by
    // mode, with the set's byte-order mark in front when asked (never for an
    // empty text).
    VError SetContentAsString(const VString& text, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const;
    VError SetContentAsJSON(const VJSONValue& value, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const;
    // Replaces dest's content by this file's; a null dest only reads.
    VError CopyContentTo(IFile* dest) const;
};

// Host hooks that turn files and folders into JSON values and back.
using ExtractFileHook = IFile* (*)(const VJSONValue&);
using ExtractFolderHook = IFolder* (*)(const VJSONValue&);
using WrapFileHook = VJSONValue (*)(IFile*);
using WrapFolderHook = VJSONValue (*)(IFolder*);

void SetFileFolderExtractorAndWrapper(ExtractFileHook extractFile, ExtractFolderHook extractFolder,
                                      WrapFileHook wrapFile, WrapFolderHook wrapFolder);
// The hook's answer, or null when no hook is set.
IFile* ExtractFile(const VJSONValue& value);
IFolder* ExtractFolder(const VJSONValue& value);
// The hook's answer, or an undefined value when no hook is set.
VJSONValue WrapFile(IFile* file);
VJSONValue WrapFolder(IFolder* folder);

}  // namespace bkit
