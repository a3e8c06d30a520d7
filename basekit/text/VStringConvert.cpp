// VStringConvert.cpp - strings to and from byte text.
//
// This file implements the conversions of VString between its UTF-16 units and
// bytes: NUL-terminated UTF-8 text (pure 7-bit text widened unit by unit, with
// no converter), wide text, four-character codes, blocks of bytes in any
// charset, and the scoped converter StStringConverter<char>. Every charset
// other than native UTF-16 goes through the converter the registry hands out
// for it (VTextConverters.h); a charset without one converts nothing.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverterForms.h"
#include "basekit/text/VTextConverterLineEnds.h"
#include "basekit/text/VTextConverters.h"

namespace bkit {

namespace {

void* AllocateBytes(size_t bytes)
{
    if (VCppMemMgr* manager = VObject::sCppMemMgr)
        return manager->Malloc(bytes, false, MakeOsType("strc"), -1);
    return std::malloc(bytes);
}

void FreeBytes(void* block)
{
    if (VCppMemMgr* manager = VObject::sCppMemMgr)
        manager->Free(block);
    else
        std::free(block);
}

bool IsSevenBit(const char* text, size_t n)
{
    // One pass without an early exit: the compiler runs it on vectors.
    unsigned char any = 0;
    for (size_t i = 0; i < n; ++i)
        any |= static_cast<unsigned char>(text[i]);
    return any < 0x80;
}

}  // namespace

// --- byte text in ---

VString::VString(const char* utf8) : VString()
{
    AppendCString(utf8);
}

VString::VString(const wchar_t* text) : VString()
{
    if (text == nullptr)
        return;
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    static_assert(sizeof(wchar_t) == 4, "wide text is taken as 32-bit units");
    VToUnicodeConverter_UTF32_Raw converter(false);
    converter.ConvertString(text, n * sizeof(wchar_t), nullptr, *this);
}

VString::VString(const void* bytes, VSize size, CharSet charset) : VString()
{
    FromBlock(bytes, size, charset);
}

VString& VString::AppendCString(const char* utf8)
{
    if (utf8 == nullptr)
        return *this;
    size_t n = std::strlen(utf8);
    if (IsSevenBit(utf8, n)) {
        if (n == 0)
            return *this;
        if (static_cast<int64_t>(fLength) + static_cast<int64_t>(n) > INT32_MAX) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return *this;
        }
        const VIndex length = fLength;
        const VIndex newLength = length + static_cast<VIndex>(n);
        if (!_EnsurePrivate(newLength))
            return *this;
        UniChar* out = fBuffer + length;
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<UniChar>(static_cast<unsigned char>(utf8[i]));
        out[n] = 0;
        _SetLengthNow(newLength);
        return *this;
    }
    VTextConverters::Get()->GetStdLibToUnicodeConverter()->ConvertString(utf8, n, nullptr, *this);
    return *this;
}

void VString::FromCString(const char* utf8)
{
    if (utf8 == nullptr) {
        Clear();
        return;
    }
    size_t n = std::strlen(utf8);
    if (!IsSevenBit(utf8, n)) {
        FromBlock(utf8, n, VTC_UTF_8);
        return;
    }
    if (n > static_cast<size_t>(INT32_MAX)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    VIndex length = static_cast<VIndex>(n);
    if (!_CanWriteInPlace(length) && !_ReallocBuffer(length, false))
        return;
    for (VIndex i = 0; i < length; ++i)
        fBuffer[i] = static_cast<UniChar>(utf8[i]);
    _SetLengthAndTerminate(length);
}

VString& VString::AppendBlock(const void* bytes, VSize size, CharSet charset)
{
    _AppendBlock(bytes, size, charset);
    return *this;
}

VSize VString::_AppendBlock(const void* bytes, VSize size, CharSet charset)
{
    if (bytes == nullptr || size == 0)
        return 0;
    if (charset == VTC_UTF_16_SMALLENDIAN) {
        VSize units = size / 2;
        if (units == 0)
            return 0;
        if (units > static_cast<VSize>(INT32_MAX) || static_cast<int64_t>(fLength) + static_cast<int64_t>(units) > INT32_MAX) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return 0;
        }
        VIndex n = static_cast<VIndex>(units);
        VIndex offset = 0;
        // The bytes may lie in this string's own buffer, which growing moves.
        if (_Holds(static_cast<const UniChar*>(bytes), fLength, &offset)) {
            VString copy(static_cast<const UniChar*>(bytes), n);
            AppendString(copy);
            return 2 * units;
        }
        VIndex oldLength = fLength;
        if (!_EnsurePrivate(oldLength + n))
            return 0;
        // Not necessarily aligned for UniChar: copy bytes.
        std::memcpy(fBuffer + oldLength, bytes, static_cast<size_t>(n) * sizeof(UniChar));
        _SetLengthAndTerminate(oldLength + n);
        return 2 * units;
    }
    if (size > static_cast<VSize>(SIZE_MAX))
        return 0;
    VIndex offset = 0;
    if (_Holds(static_cast<const UniChar*>(bytes), fLength, &offset)) {
        // Bytes from this string's own buffer, which the conversion may move.
        VString copy(*this);
        copy._ReallocBuffer(fLength, true);
        copy.Validate(fLength);
        size_t at = static_cast<size_t>(static_cast<const char*>(bytes) - reinterpret_cast<const char*>(fBuffer));
        size_t inText = static_cast<size_t>(fLength) * sizeof(UniChar) - std::min(at, static_cast<size_t>(fLength) * sizeof(UniChar));
        return _AppendBlock(reinterpret_cast<const char*>(copy.GetCPointer()) + at,
                            std::min<VSize>(size, inText), charset);
    }
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charset);
    size_t consumed = 0;
    converter->ConvertString(bytes, static_cast<size_t>(size), &consumed, *this);
    converter->Release();
    return consumed;
}

VSize VString::FromBlock(const void* bytes, VSize size, CharSet charset)
{
    if (charset == VTC_UTF_16_SMALLENDIAN) {
        VSize units = (bytes == nullptr) ? 0 : size / 2;
        if (units > static_cast<VSize>(INT32_MAX)) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return 0;
        }
        FromUniString(static_cast<const UniChar*>(bytes), static_cast<VIndex>(units));
        return size;
    }
    _Clear();
    SetNull(false);
    SetDirty(true);
    return _AppendBlock(bytes, size, charset);
}

VString& VString::AppendOsType(OsType code)
{
    char bytes[4] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16), static_cast<char>(code >> 8),
                     static_cast<char>(code)};
    return AppendBlock(bytes, 4, VTC_UTF_8);
}

void VString::FromOsType(OsType code)
{
    char bytes[4] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16), static_cast<char>(code >> 8),
                     static_cast<char>(code)};
    FromBlock(bytes, 4, VTC_UTF_8);
}

// --- byte text out ---

VSize VString::ToBlock(void* buffer, VSize size, CharSet charset, bool withTerminator, bool withLengthPrefix) const
{
    if (buffer == nullptr)
        return 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    bool wide = charset == VTC_UTF_16_SMALLENDIAN;
    VSize unit = wide ? 2 : 1;
    VSize reserved = (withTerminator ? unit : 0) + (withLengthPrefix ? unit : 0);
    if (size < reserved)
        return 0;
    unsigned char* text = out + (withLengthPrefix ? unit : 0);
    size_t written = 0;
    int consumed = 0;
    VTextConverters::Get()->ConvertFromVString(*this, &consumed, text, static_cast<size_t>(size - reserved), &written,
                                               charset);
    if (withTerminator)
        std::memset(text + written, 0, static_cast<size_t>(unit));
    if (withLengthPrefix) {
        if (wide) {
            uint16_t units = static_cast<uint16_t>(written / 2 >= 65536 ? 0 : written / 2);
            std::memcpy(out, &units, 2);
        } else {
            out[0] = static_cast<unsigned char>(written >= 256 ? 0 : written);
        }
    }
    return written;
}

// --- other forms (the workers are in VTextConverterForms.cpp) ---

CharSet VString::FromBlockWithOptionalBOM(const void* bytes, VSize size, CharSet charset)
{
    if (size > static_cast<VSize>(SIZE_MAX))
        size = static_cast<VSize>(SIZE_MAX);
    return bkit::FromBlockWithOptionalBOM(*this, bytes, static_cast<size_t>(size), charset);
}

bool VString::ToBuffer(VMemoryBuffer<>& buffer, CharSet charset) const
{
    return bkit::TextToBuffer(*this, buffer, charset);
}

OsType VString::GetOsType() const
{
    return bkit::TextToOsType(*this);
}

bool VString::ConvertCarriageReturns(ECarriageReturnMode mode)
{
    return bkit::ConvertLineEndsOf(*this, mode);
}

bool VString::ConvertCarriageReturns(VMemoryBuffer<>& buffer, CharSet charset, ECarriageReturnMode mode)
{
    return bkit::ConvertLineEndsInBuffer(buffer, charset, mode);
}

int64_t VString::GetHexLong() const
{
    return bkit::TextToHexLong(*this);
}

void VString::FromHexLong(long long value, bool prefixed)
{
    bkit::HexLongToText(static_cast<uint64_t>(value), 64, prefixed, *this);
}

void VString::FromHexLong(int value, bool prefixed)
{
    bkit::HexLongToText(static_cast<uint32_t>(value), 32, prefixed, *this);
}

void VString::FromHexLong(unsigned char value, bool prefixed)
{
    bkit::HexLongToText(value, 8, prefixed, *this);
}

void VString::FromHexLong(char value, bool prefixed)
{
    bkit::HexLongToText(static_cast<unsigned char>(value), 8, prefixed, *this);
}

void VString::TranscodeToXML(bool escapeControls)
{
    bkit::TranscodeToXML(*this, escapeControls);
}

void VString::TranscodeFromXML()
{
    bkit::TranscodeFromXML(*this);
}

void VString::GetXMLString(VString& out, uint32_t) const
{
    out.FromString(*this);
    out.TranscodeToXML(false);
}

bool VString::FromXMLString(const VString& text)
{
    FromString(text);
    TranscodeFromXML();
    return true;
}

VError VString::GetJSONString(VString& out, uint32_t options) const
{
    return bkit::GetJSONStringOf(*this, out, options);
}

VError VString::FromJSONString(const VString& json, uint32_t options)
{
    return bkit::FromJSONStringTo(json, *this, options);
}

VError VString::GetJSONValue(VJSONValue& out, uint32_t) const
{
    if (IsNull())
        out.SetNull();
    else
        out.SetString(*this);
    return VE_OK;
}

VError VString::FromJSONValue(const VJSONValue& value)
{
    if (value.IsNull()) {
        Clear();
        SetNull(true);
    } else {
        value.GetString(*this);
    }
    return VE_OK;
}

void VString::GetCleanJSName(VString& out) const
{
    bkit::GetCleanJSNameOf(*this, out);
}

bool VString::EncodeBase64(const void* bytes, VSize size, bool urlSafe)
{
    if (size > static_cast<VSize>(SIZE_MAX))
        return false;
    return bkit::EncodeBase64To(*this, bytes, static_cast<size_t>(size), urlSafe);
}

bool VString::EncodeBase64(CharSet charset, bool urlSafe)
{
    return bkit::EncodeBase64Of(*this, charset, urlSafe);
}

bool VString::DecodeBase64(VMemoryBuffer<>& out, bool urlSafe) const
{
    return bkit::DecodeBase64From(*this, out, urlSafe);
}

bool VString::DecodeBase64(CharSet charset, bool urlSafe)
{
    return bkit::DecodeBase64Of(*this, charset, urlSafe);
}

// --- scoped converter ---

StStringConverterBase::StStringConverterBase(CharSet charset, ECarriageReturnMode mode)
    : fBuffer(fInlineBuffer), fSize(0), fMode(mode), fOK(false), fCapacity(sizeof(fInlineBuffer)),
      fHeapBuffer(nullptr), fConverter(VTextConverters::Get()->RetainFromUnicodeConverter(charset))
{
    fInlineBuffer[0] = 0;
}

StStringConverterBase::StStringConverterBase(const StStringConverterBase& other)
    : VObject(), fBuffer(fInlineBuffer), fSize(other.fSize), fMode(other.fMode), fOK(other.fOK),
      fCapacity(sizeof(fInlineBuffer)), fHeapBuffer(nullptr), fConverter(other.fConverter)
{
    if (fConverter != nullptr)
        fConverter->Retain();
    if (other.fHeapBuffer != nullptr) {
        fHeapBuffer = static_cast<char*>(AllocateBytes(static_cast<size_t>(other.fCapacity)));
        if (fHeapBuffer == nullptr) {
            fSize = 0;
            fOK = false;
            fInlineBuffer[0] = 0;
            return;
        }
        fBuffer = fHeapBuffer;
        fCapacity = other.fCapacity;
    }
    std::memcpy(fBuffer, other.fBuffer, static_cast<size_t>(std::min(other.fSize + 4, fCapacity)));
}

StStringConverterBase::StStringConverterBase(StStringConverterBase&& other) noexcept
    : VObject(), fBuffer(fInlineBuffer), fSize(other.fSize), fMode(other.fMode), fOK(other.fOK),
      fCapacity(sizeof(fInlineBuffer)), fHeapBuffer(other.fHeapBuffer), fConverter(other.fConverter)
{
    if (fHeapBuffer != nullptr) {
        fBuffer = fHeapBuffer;
        fCapacity = other.fCapacity;
    } else {
        std::memcpy(fInlineBuffer, other.fInlineBuffer, sizeof(fInlineBuffer));
    }
    other.fConverter = nullptr;
    other.fHeapBuffer = nullptr;
    other.fBuffer = other.fInlineBuffer;
    other.fCapacity = sizeof(other.fInlineBuffer);
    other.fSize = 0;
    other.fOK = false;
    other.fInlineBuffer[0] = 0;
}

StStringConverterBase::~StStringConverterBase()
{
    if (fHeapBuffer != nullptr)
        FreeBytes(fHeapBuffer);
    if (fConverter != nullptr)
        fConverter->Release();
}

CharSet StStringConverterBase::DebugDump(char* buffer, int& length)
{
    int written = std::snprintf(buffer, static_cast<size_t>(std::max(length, 0)), "%llu bytes converted, %s",
                                static_cast<unsigned long long>(fSize), fOK ? "ok" : "not ok");
    length = std::clamp(written, 0, std::max(length - 1, 0));
    return VTC_UTF_8;
}

bool StStringConverterBase::_ConvertString(const UniChar* units, VIndex n, VSize reserve)
{
    fSize = 0;
    if (fConverter == nullptr) {
        // Moved from: nothing to convert with.
        fOK = false;
        std::memset(fBuffer, 0, static_cast<size_t>(reserve));
        return false;
    }
    int consumed = 0;
    size_t written = 0;
    fOK = fConverter->Convert(units, n, &consumed, fBuffer, static_cast<size_t>(fCapacity - reserve), &written);
    if (consumed < n) {
        // The rest goes into a heap block that the converter grows as needed.
        void* block = fHeapBuffer;
        if (block == nullptr) {
            block = AllocateBytes(written + static_cast<size_t>(reserve));
            if (block != nullptr)
                std::memcpy(block, fBuffer, written);
        }
        if (block == nullptr) {
            _ThrowError(VE_MEMORY_FULL);
            fOK = false;
        } else {
            size_t used = written;
            fOK = fConverter->ConvertRealloc(units + consumed, n - consumed, block, used,
                                             static_cast<size_t>(reserve));
            fHeapBuffer = static_cast<char*>(block);
            fBuffer = fHeapBuffer;
            fCapacity = std::max<VSize>(used + reserve, fCapacity);
            written = used;
        }
    }
    fSize = written;
    std::memset(fBuffer + written, 0, static_cast<size_t>(reserve));
    return fOK;
}

const char* StStringConverter<char>::ConvertString(const VString& text)
{
    // Room for a terminator of the widest unit, so that UTF-16 and UTF-32
    // bytes are terminated as well.
    VSize reserve = 4;
    ECarriageReturnMode mode = GetMode();
    if (mode == eCRM_CRLF || mode == eCRM_CR || mode == eCRM_LF) {
        size_t n = static_cast<size_t>(text.GetLength());
        std::u16string converted(text.GetCPointer(), n);
        size_t length = ConvertLineEndUnits<UniChar>(converted.data(), n, n, mode, u'\r', u'\n');
        if (length > n) {
            converted.resize(length);
            length = ConvertLineEndUnits<UniChar>(converted.data(), n, length, mode, u'\r', u'\n');
        }
        _ConvertString(converted.data(), static_cast<VIndex>(length), reserve);
    } else {
        _ConvertString(text.GetCPointer(), text.GetLength(), reserve);
    }
    return GetCPointer();
}

}  // namespace bkit
