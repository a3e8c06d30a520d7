// IFileSystemObject.cpp - the operations every file and folder shares, and the
// content helpers of IFile.
#include "basekit/files/IFileSystemObject.h"

#include <cstring>

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverters.h"

namespace bkit {

namespace {

// Line ends to CR LF, CR or LF; other modes leave the text alone.
void ConvertLineEnds(VString& text, ECarriageReturnMode mode)
{
    if (mode != eCRM_CRLF && mode != eCRM_CR && mode != eCRM_LF)
        return;
    const UniChar* units = text.GetCPointer();
    VIndex n = text.GetLength();
    VString out;
    for (VIndex i = 0; i < n; ++i) {
        UniChar c = units[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < n && units[i + 1] == u'\n')
                ++i;
            if (mode == eCRM_CRLF)
                out.AppendUniChar(u'\r').AppendUniChar(u'\n');
            else
                out.AppendUniChar(mode == eCRM_CR ? u'\r' : u'\n');
        } else {
            out.AppendUniChar(c);
        }
    }
    text = out;
}

// Text of bytes in charSet, a leading byte-order mark choosing the set instead.
void TextFromBytesWithOptionalBOM(const void* bytes, size_t size, CharSet charSet, VString& out)
{
    size_t bomBytes = 0;
    CharSet marked = charSet;
    if (VTextConverters::ParseBOM(bytes, size, &bomBytes, &marked))
        charSet = marked;
    VTextConverters::Get()->ConvertToVString(static_cast<const char*>(bytes) + bomBytes, size - bomBytes, charSet, out);
}

}  // namespace

void IFileSystemObject::GetName(VString& out) const { GetPath().GetName(out); }

void IFileSystemObject::GetExtension(VString& out) const { GetPath().GetExtension(out); }

bool IFileSystemObject::MatchExtension(const VString& ext) const { return GetPath().MatchExtension(ext, false); }

void IFile::GetNameWithoutExtension(VString& out) const { GetPath().GetFileName(out, false); }

void IFolder::GetNameWithoutExtension(VString& out) const { GetPath().GetFolderName(out, false); }

bool IFolder::IsSameFolder(const IFolder* other) const
{
    if (other == nullptr)
        return false;
    return GetPath().GetPath().EqualToString(other->GetPath().GetPath(), false);
}

VError IFile::GetContentAsString(VString& out, CharSet charSet, ECarriageReturnMode mode) const
{
    StErrorContextInstaller context(true, false);
    VMemoryBuffer<> buffer;
    VError err = GetContent(buffer);
    if (err != 0) {
        out.Clear();
    } else {
        TextFromBytesWithOptionalBOM(buffer.GetDataPtr(), buffer.GetDataSize(), charSet, out);
        ConvertLineEnds(out, mode);
    }
    VError last = context.GetLastError();
    return last != 0 ? last : err;
}

VError IFile::GetContentAsJSON(VJSONValue& out, CharSet charSet) const
{
    VString text;
    VError err = GetContentAsString(text, charSet, eCRM_NONE);
    if (err != 0) {
        out.SetUndefined();
        return err;
    }
    VJSONImporter importer(text, VJSONImporter::kOption_NonAmbiguousDates);
    VString path;
    GetPlatformPath(path, FPS_POSIX);
    importer.SetSourceName(path);
    return importer.Parse(out);
}

VError IFile::SetContentAsString(const VString& text, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const
{
    StErrorContextInstaller context(true, false);
    VString converted(text);
    ConvertLineEnds(converted, mode);

    VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
    if (converter == nullptr || !converter->IsValid()) {
        if (converter)
            converter->Release();
        return _ThrowError(VE_FILE_NO_CONVERTER);
    }

    VError err = 0;
    void* block = nullptr;
    size_t used = 0;
    if (converted.GetLength() == 0 ||
        converter->ConvertRealloc(converted.GetCPointer(), converted.GetLength(), block, used, 0)) {
        size_t bomLength = 0;
        const uint8_t* bom = withBOM && used > 0 ? VTextConverters::GetBOMForCharSet(charSet, &bomLength) : nullptr;
        if (bom != nullptr && bomLength > 0) {
            VMemoryBuffer<> withMark;
            if (withMark.SetSize(bomLength + used)) {
                std::memcpy(withMark.GetDataPtr(), bom, bomLength);
                std::memcpy(static_cast<char*>(withMark.GetDataPtr()) + bomLength, block, used);
                err = SetContent(withMark.GetDataPtr(), static_cast<unsigned long>(withMark.GetDataSize()));
            } else {
                err = _ThrowError(VE_MEMORY_FULL);
            }
        } else {
            err = SetContent(block, static_cast<unsigned long>(used));
        }
    }
    if (block)
        VObject::GetMainMemMgr()->Free(block);
    converter->Release();
    VError last = context.GetLastError();
    return last != 0 ? last : err;
}

VError IFile::SetContentAsJSON(const VJSONValue& value, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const
{
    // The text is complete before the content is touched: a failed writer
    // leaves the file as it was.
    VString text;
    VJSONWriter writer(VJSONWriter::kFlag_Quoted | VJSONWriter::kFlag_Indented);
    VError err = writer.StringifyValue(value, text);
    if (err != 0)
        return err;
    return SetContentAsString(text, charSet, mode, withBOM);
}

VError IFile::CopyContentTo(IFile* dest) const
{
    VMemoryBuffer<> buffer;
    VError err = GetContent(buffer);
    if (err == 0 && dest != nullptr)
        err = dest->SetContent(buffer.GetDataPtr(), static_cast<unsigned long>(buffer.GetDataSize()));
    return err;
}

namespace {
ExtractFileHook sExtractFile = nullptr;
ExtractFolderHook sExtractFolder = nullptr;
WrapFileHook sWrapFile = nullptr;
WrapFolderHook sWrapFolder = nullptr;
}  // namespace

void SetFileFolderExtractorAndWrapper(ExtractFileHook extractFile, ExtractFolderHook extractFolder,
                                      WrapFileHook wrapFile, WrapFolderHook wrapFolder)
{
    sExtractFile = extractFile;
    sExtractFolder = extractFolder;
    sWrapFile = wrapFile;
    sWrapFolder = wrapFolder;
}

IFile* ExtractFile(const VJSONValue& value) { return sExtractFile ? sExtractFile(value) : nullptr; }

IFolder* ExtractFolder(const VJSONValue& value) { return sExtractFolder ? sExtractFolder(value) : nullptr; }

VJSONValue WrapFile(IFile* file) { return sWrapFile ? sWrapFile(file) : VJSONValue(JSON_undefined); }

VJSONValue WrapFolder(IFolder* folder) { return sWrapFolder ? sWrapFolder(folder) : VJSONValue(JSON_undefined); }

}  // namespace bkit
