// VTextConverterForms.cpp - hexadecimal, XML, JSON and Base64 forms of strings.
#include "basekit/text/VTextConverterForms.h"
#include "basekit/text/HexDigits.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/Base64Coder.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/VTextConverterLineEnds.h"
#include "basekit/text/VTextConverters.h"

namespace bkit {

namespace {

constexpr VError kNonASCIIInBase64 = MakeBKitError(210);


const char16_t kHexUpper[] = u"0123456789ABCDEF";

// The units of a text up to its first zero unit.
VIndex LengthToFirstZero(const VString& text)
{
    const UniChar* p = text.GetCPointer();
    VIndex n = text.GetLength();
    for (VIndex i = 0; i < n; ++i) {
        if (p[i] == 0)
            return i;
    }
    return n;
}

}  // namespace

// --- hexadecimal ---

int64_t TextToHexLong(const VString& text)
{
    uint64_t value = 0;
    const UniChar* p = text.GetCPointer();
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        int digit = HexDigitValue(p[i]);
        if (digit >= 0)
            value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return static_cast<int64_t>(value);
}

void HexLongToText(uint64_t value, int bits, bool prefixed, VString& text)
{
    if (bits < 64)
        value &= (uint64_t{1} << bits) - 1;
    int digits = 1;
    for (uint64_t v = value >> 4; v != 0; v >>= 4)
        ++digits;
    if (prefixed) {
        int width = bits == 8 ? 2 : digits <= 4 ? 4 : digits <= 8 ? 8 : 16;
        if (digits < width)
            digits = width;
    }
    VIndex length = digits + (prefixed ? 2 : 0);
    if (!text._ReallocBuffer(bits / 4 + (prefixed ? 2 : 0), false)) {
        text.Clear();
        return;
    }
    UniChar* out = text.GetCPointerForWrite();
    VIndex at = 0;
    if (prefixed) {
        out[at++] = u'0';
        out[at++] = u'x';
    }
    for (int k = digits - 1; k >= 0; --k)
        out[at++] = kHexUpper[(value >> (4 * k)) & 0xF];
    text.Validate(length);
}

// --- XML ---

void TranscodeToXML(VString& text, bool escapeControls)
{
    const VIndex n = LengthToFirstZero(text);
    const UniChar* p = text.GetCPointer();
    auto needsEscape = [escapeControls](UniChar u) {
        if (u == u'&' || u == u'<' || u == u'>' || u == u'"' || u == u'\'')
            return true;
        return escapeControls && ((u < 0x20 && u != 9 && u != 10 && u != 13) || u == 0x7F);
    };
    VIndex first = 0;
    while (first < n && !needsEscape(p[first]))
        ++first;
    if (first == n)
        return;
    std::u16string out(p, static_cast<size_t>(first));
    out.reserve(static_cast<size_t>(n) + 16);
    for (VIndex i = first; i < n; ++i) {
        UniChar u = p[i];
        switch (u) {
            case u'&': out += u"&amp;"; break;
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            case u'"': out += u"&quot;"; break;
            case u'\'': out += u"&apos;"; break;
            default:
                if (needsEscape(u)) {
                    out += u"&#x";
                    out += kHexUpper[(u >> 4) & 0xF];
                    out += kHexUpper[u & 0xF];
                    out += u';';
                } else {
                    out += u;
                }
        }
    }
    if (out.size() > static_cast<size_t>(INT32_MAX)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    // Whatever follows a zero unit is kept as it was.
    out.append(p + n, static_cast<size_t>(text.GetLength() - n));
    text.FromUniString(out.data(), static_cast<VIndex>(out.size()));
}

void TranscodeFromXML(VString& text)
{
    static const struct {
        const char16_t* name;
        VIndex length;
        UniChar unit;
    } kEntities[] = {{u"&amp;", 5, u'&'}, {u"&lt;", 4, u'<'}, {u"&gt;", 4, u'>'},
                     {u"&quot;", 6, u'"'}, {u"&apos;", 6, u'\''}};
    const VIndex n = LengthToFirstZero(text);
    const UniChar* p = text.GetCPointer();
    VIndex first = 0;
    while (first < n && p[first] != u'&')
        ++first;
    if (first == n)
        return;
    std::u16string out(p, static_cast<size_t>(first));
    VIndex i = first;
    while (i < n) {
        UniChar u = p[i];
        if (u != u'&') {
            out += u;
            ++i;
            continue;
        }
        bool replaced = false;
        for (const auto& entity : kEntities) {
            if (n - i >= entity.length &&
                std::memcmp(p + i, entity.name, static_cast<size_t>(entity.length) * sizeof(UniChar)) == 0) {
                out += entity.unit;
                i += entity.length;
                replaced = true;
                break;
            }
        }
        if (!replaced && n - i >= 3 && p[i + 1] == u'#' && p[i + 2] == u'x') {
            VIndex k = i + 3;
            uint32_t value = 0;
            while (k < n && HexDigitValue(p[k]) >= 0) {
                value = ((value << 4) | static_cast<uint32_t>(HexDigitValue(p[k]))) & 0xFFFFFFF;
                ++k;
            }
            if (k > i + 3 && k < n && p[k] == u';' && (value & 0xFFFF) != 0) {
                out += static_cast<UniChar>(value & 0xFFFF);
                i = k + 1;
                replaced = true;
            }
        }
        if (!replaced) {
            out += u;
            ++i;
        }
    }
    out.append(p + n, static_cast<size_t>(text.GetLength() - n));
    text.FromUniString(out.data(), static_cast<VIndex>(out.size()));
}

// --- JSON ---

VIndex WriteJSONEscaped(const UniChar* p, VIndex n, UniChar* w, uint32_t options)
{
    VIndex at = 0;
    const bool quotes = (options & kJSONWithQuotes) != 0;
    if (quotes)
        w[at++] = u'"';
    if (options & kJSONNoEscaping) {
        std::memcpy(w + at, p, static_cast<size_t>(n) * sizeof(UniChar));
        at += n;
    } else {
        const bool escapeAmpersand = (options & kJSONEscapeAmpersandAndApos) != 0;
        auto plain = [escapeAmpersand](UniChar u) {
            return u >= 0x20 && u != u'"' && u != u'\\' && u != 0x7F && !(escapeAmpersand && (u == u'&' || u == u'\''));
        };
        VIndex i = 0;
        while (i < n) {
            // Runs that need nothing are copied whole.
            const VIndex run = i;
            while (i < n && plain(p[i]))
                ++i;
            std::memcpy(w + at, p + run, static_cast<size_t>(i - run) * sizeof(UniChar));
            at += i - run;
            if (i == n)
                break;
            const UniChar u = p[i++];
            UniChar letter = 0;
            switch (u) {
                case u'"': letter = u'"'; break;
                case u'\\': letter = u'\\'; break;
                case 0x08: letter = u'b'; break;
                case 0x09: letter = u't'; break;
                case 0x0A: letter = u'n'; break;
                case 0x0C: letter = u'f'; break;
                case 0x0D: letter = u'r'; break;
                default: break;
            }
            w[at++] = u'\\';
            if (letter != 0) {
                w[at++] = letter;
            } else {
                w[at++] = u'u';
                w[at++] = u'0';
                w[at++] = u'0';
                w[at++] = kHexUpper[(u >> 4) & 0xF];
                w[at++] = kHexUpper[u & 0xF];
            }
        }
    }
    if (quotes)
        w[at++] = u'"';
    return at;
}

VError GetJSONStringOf(const VString& text, VString& out, uint32_t options)
{
    const UniChar* p = text.GetCPointer();
    const VIndex n = text.GetLength();
    const bool quotes = (options & kJSONWithQuotes) != 0;
    if (options & kJSONNoEscaping) {
        if (!quotes) {
            out.FromString(text);
            return VE_OK;
        }
        VString quoted;
        quoted.AppendUniChar(u'"').AppendString(text).AppendUniChar(u'"');
        out.FromString(quoted);
        return VE_OK;
    }
    int64_t room = JSONEscapedRoom(n);
    VString escaped;
    if (room > 0x7FFFFFFF || !escaped._ReallocBuffer(static_cast<VIndex>(room), false))
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    VIndex at = WriteJSONEscaped(p, n, escaped.GetCPointerForWrite(), options);
    escaped.Validate(at);
    out.FromString(escaped);
    return VE_OK;
}

VError FromJSONStringTo(const VString& json, VString& out, uint32_t options)
{
    if (options & kJSONNoEscaping) {
        out.FromString(json);
        return VE_OK;
    }
    const UniChar* p = json.GetCPointer();
    const VIndex n = json.GetLength();
    std::u16string text;
    text.reserve(static_cast<size_t>(n));
    for (VIndex i = 0; i < n; ++i) {
        UniChar u = p[i];
        if (u != u'\\') {
            text += u;
            continue;
        }
        if (i + 1 >= n)
            break;  // a backslash as the last unit is dropped
        UniChar e = p[++i];
        switch (e) {
            case u'b': text += UniChar(0x08); break;
            case u'f': text += UniChar(0x0C); break;
            case u'n': text += UniChar(0x0A); break;
            case u'r': text += UniChar(0x0D); break;
            case u't': text += UniChar(0x09); break;
            case u'u':
                if (n - (i + 1) < 4) {
                    text += u'u';
                } else {
                    // A first unit that is no digit counts as 0; later ones are skipped.
                    uint32_t value = 0;
                    for (int k = 1; k <= 4; ++k) {
                        int digit = HexDigitValue(p[i + k]);
                        if (digit >= 0)
                            value = (value << 4) | static_cast<uint32_t>(digit);
                        else if (k == 1)
                            value = 0;
                    }
                    text += static_cast<UniChar>(value);
                    i += 4;
                }
                break;
            default: text += e; break;
        }
    }
    out.FromUniString(text.data(), static_cast<VIndex>(text.size()));
    if (text.empty())
        out.Clear();
    return VE_OK;
}

void GetCleanJSNameOf(const VString& text, VString& out)
{
    const UniChar* p = text.GetCPointer();
    const VIndex n = text.GetLength();
    std::u16string name;
    if (n > 0 && p[0] >= u'0' && p[0] <= u'9')
        name += u'_';
    for (VIndex i = 0; i < n; ++i) {
        UniChar u = p[i];
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_' ||
            u == u'$')
            name += u;
    }
    out.FromUniString(name.data(), static_cast<VIndex>(name.size()));
    if (name.empty())
        out.Clear();
}

// --- four-character codes ---

OsType TextToOsType(const VString& text)
{
    uint8_t bytes[4] = {' ', ' ', ' ', ' '};
    size_t produced = 0;
    VTextConverters::Get()->ConvertFromVString(text, nullptr, bytes, sizeof(bytes), &produced, VTC_UTF_8);
    return (OsType(bytes[0]) << 24) | (OsType(bytes[1]) << 16) | (OsType(bytes[2]) << 8) | OsType(bytes[3]);
}

// --- blocks and buffers ---

CharSet FromBlockWithOptionalBOM(VString& text, const void* bytes, size_t size, CharSet charSet)
{
    size_t bom = 0;
    CharSet found = VTC_UNKNOWN;
    if (VTextConverters::ParseBOM(bytes, size, &bom, &found)) {
        text.FromBlock(static_cast<const uint8_t*>(bytes) + bom, size - bom, found);
        return found;
    }
    CharSet guess = charSet;
    VTextConverters::GuessCharsetWithNoBom(bytes, static_cast<int>(std::min<size_t>(size, INT32_MAX)), &guess, false);
    text.FromBlock(bytes, size, guess);
    return guess;
}

bool TextToBuffer(const VString& text, VMemoryBuffer<>& buffer, CharSet charSet)
{
    VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
    bool ok = false;
    if (converter->IsValid()) {
        buffer.Clear();
        ok = converter->ConvertToBuffer(text.GetCPointer(), text.GetLength(), buffer, 0);
    }
    converter->Release();
    return ok;
}

bool ConvertLineEndsOf(VString& text, ECarriageReturnMode mode)
{
    if (mode != eCRM_CRLF && mode != eCRM_CR && mode != eCRM_LF)
        return true;
    const VIndex n = text.GetLength();
    if (n == 0)
        return true;
    // Private first: the conversion writes in place.
    if (!text._ReallocBuffer(n, true))
        return false;
    size_t length = ConvertLineEndUnits<UniChar>(text.GetCPointerForWrite(), static_cast<size_t>(n),
                                                 static_cast<size_t>(text.GetCapacity()), mode, u'\r', u'\n');
    if (length > static_cast<size_t>(text.GetCapacity())) {
        if (length > static_cast<size_t>(INT32_MAX)) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return false;
        }
        if (!text._ReallocBuffer(static_cast<VIndex>(length), true))
            return false;
        length = ConvertLineEndUnits<UniChar>(text.GetCPointerForWrite(), static_cast<size_t>(n), length, mode,
                                              u'\r', u'\n');
    }
    text.Validate(static_cast<VIndex>(length));
    return true;
}

// --- Base64 ---

bool EncodeBase64To(VString& text, const void* bytes, size_t size, bool urlSafe)
{
    Base64Coder::Buffer encoded;
    if (!Base64Coder::_Encode(bytes, size, encoded, 0, urlSafe))
        return false;
    size_t n = encoded.GetDataSize();
    if (n > static_cast<size_t>(INT32_MAX)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    VString result;
    if (n > 0 && !result._ReallocBuffer(static_cast<VIndex>(n), false))
        return false;
    const uint8_t* in = static_cast<const uint8_t*>(encoded.GetDataPtr());
    UniChar* out = result.GetCPointerForWrite();
    for (size_t i = 0; i < n; ++i)
        out[i] = in[i];
    result.Validate(static_cast<VIndex>(n));
    text.FromString(result);
    return true;
}

bool EncodeBase64Of(VString& text, CharSet charSet, bool urlSafe)
{
    if (text.IsNull() || text.IsEmpty())
        return true;
    StStringConverter<char> bytes(text, charSet, eCRM_NONE);
    return EncodeBase64To(text, bytes.GetCPointer(), static_cast<size_t>(bytes.GetSize()), urlSafe);
}

bool DecodeBase64From(const VString& text, VMemoryBuffer<>& out, bool urlSafe)
{
    const VIndex n = text.GetLength();
    const UniChar* p = text.GetCPointer();
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    size_t size = static_cast<size_t>(n > 0 ? n : 1);
    auto* narrow = static_cast<uint8_t*>(manager ? manager->Malloc(size, false, kMemTag_Buffer) : std::malloc(size));
    if (narrow == nullptr) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    bool ok = true;
    for (VIndex i = 0; i < n && ok; ++i) {
        if (p[i] >= 128)
            ok = false;
        else
            narrow[i] = static_cast<uint8_t>(p[i]);
    }
    if (!ok)
        _ThrowError(kNonASCIIInBase64);
    else
        ok = Base64Coder::Decode(narrow, static_cast<size_t>(n), out, urlSafe, false);
    if (manager)
        manager->Free(narrow);
    else
        std::free(narrow);
    return ok;
}

bool DecodeBase64Of(VString& text, CharSet charSet, bool urlSafe)
{
    if (text.IsNull() || text.IsEmpty())
        return true;
    VMemoryBuffer<> decoded;
    if (!DecodeBase64From(text, decoded, urlSafe))
        return false;
    text.FromBlock(decoded.GetDataPtr(), decoded.GetDataSize(), charSet);
    return true;
}

}  // namespace bkit
