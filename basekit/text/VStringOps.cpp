// VStringOps.cpp - operations of the string value on its text.
//
// This file implements reading and writing units, appending, replacing the
// whole text, numbers to and from text, editing, substrings, case and white
// space, splitting and joining. Comparisons are in VStringCompare.cpp. Every change first makes the buffer
// private and large enough (copy-on-write, VString.cpp), then writes the
// terminator, clears the null flag and sets the dirty flag.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/VArrayString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"
#include "basekit/values/VUUID.h"

namespace bkit {

namespace {

// Up to 20 digits and a sign, written backwards from the end of out.
VIndex FormatUnsigned(uint64_t value, bool negative, UniChar (&out)[24])
{
    VIndex pos = 24;
    do {
        out[--pos] = static_cast<UniChar>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (negative)
        out[--pos] = u'-';
    return pos;
}

bool IsAsciiDigit(UniChar c) { return c >= u'0' && c <= u'9'; }

}  // namespace

// --- units ---

VIndex VString::UniCStringLength(const UniChar* text)
{
    if (text == nullptr)
        return 0;
    VIndex n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

UniChar VString::GetUniChar(VIndex pos) const
{
    if (pos < 1 || pos > fLength || IsNull())
        return 0;
    return fBuffer[pos - 1];
}

bool VString::SetUniChar(VIndex pos, UniChar c)
{
    if (pos < 1 || pos > fLength || IsNull())
        return false;
    if (!_EnsurePrivate(fLength))
        return false;
    fBuffer[pos - 1] = c;
    SetDirty(true);
    return true;
}

// --- appending ---

VString& VString::_AppendUniCharGrowing(UniChar c)
{
    if (fLength == INT32_MAX) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return *this;
    }
    if (!_EnsurePrivate(fLength + 1))
        return *this;
    fBuffer[fLength] = c;
    _SetLengthAndTerminate(fLength + 1);
    return *this;
}

VString& VString::_AppendUniCharsGrowing(const UniChar* units, VIndex n)
{
    if (units == nullptr || n <= 0)
        return *this;
    if (static_cast<int64_t>(fLength) + n > INT32_MAX) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return *this;
    }
    // The units may lie in this string's own buffer, which a reallocation frees.
    VIndex offset = 0;
    bool own = _Holds(units, fCapacity, &offset);
    VIndex newLength = fLength + n;
    if (!_EnsurePrivate(newLength))
        return *this;
    if (own)
        units = fBuffer + offset;
    std::memmove(fBuffer + fLength, units, static_cast<size_t>(n) * sizeof(UniChar));
    _SetLengthAndTerminate(newLength);
    return *this;
}

bool VString::_MakeRoomToAppend(VIndex n)
{
    if (n < 0 || static_cast<int64_t>(fLength) + n > INT32_MAX) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    return _EnsurePrivate(fLength + n);
}

VString& VString::AppendUniCString(const UniChar* text)
{
    return AppendUniChars(text, UniCStringLength(text));
}

VString& VString::AppendString(const VString& s)
{
    if (&s == this) {
        VString copy(s);
        return AppendUniChars(copy.fBuffer, copy.fLength);
    }
    return AppendUniChars(s.fBuffer, s.fLength);
}

VString& VString::AppendLong(int32_t value)
{
    return AppendLong8(value);
}

VString& VString::AppendLong8(int64_t value)
{
    UniChar digits[24];
    // Negating in unsigned arithmetic keeps the smallest value exact.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    VIndex pos = FormatUnsigned(magnitude, value < 0, digits);
    return AppendUniChars(digits + pos, 24 - pos);
}

VString& VString::AppendULong8(uint64_t value)
{
    UniChar digits[24];
    VIndex pos = FormatUnsigned(value, false, digits);
    return AppendUniChars(digits + pos, 24 - pos);
}

VString& VString::AppendReal(double value)
{
    char text[255];
    std::snprintf(text, sizeof(text), "%.14G", value);
    return AppendCString(text);
}

VString& VString::AppendValue(const VValueSingle& value)
{
    VStr<255> text;
    value.GetString(text);
    return AppendString(text);
}

// --- replacing the whole text ---

void VString::FromUniChar(UniChar c)
{
    if (c == 0) {
        Clear();
        return;
    }
    if (!_CanWriteInPlace(1) && !_ReallocBuffer(1, false))
        return;
    fBuffer[0] = c;
    _SetLengthAndTerminate(1);
}

void VString::FromUniString(const UniChar* units, VIndex n)
{
    if (units == nullptr || n <= 0) {
        Clear();
        return;
    }
    VIndex offset = 0;
    if (_Holds(units, fLength, &offset)) {
        // A part of this very text: copy it out before the buffer changes.
        VString copy(units, std::min<VIndex>(n, fLength - offset));
        FromString(copy);
        return;
    }
    if (!_CanWriteInPlace(n) && !_ReallocBuffer(n, false))
        return;
    std::memcpy(fBuffer, units, static_cast<size_t>(n) * sizeof(UniChar));
    _SetLengthAndTerminate(n);
}

void VString::FromUniCString(const UniChar* text)
{
    FromUniString(text, UniCStringLength(text));
}

void VString::_EmptyKeepingRoom(VIndex keepBelow)
{
    if (!_IsInline() && (!_CanWriteInPlace(0) || fCapacity >= keepBelow)) {
        _Clear();
    } else {
        fLength = 0;
        fBuffer[0] = 0;
    }
}

void VString::FromBoolean(uint8_t value)
{
    _EmptyForNumber();
    AppendCString(value ? "true" : "false");
    SetNull(false);
    SetDirty(true);
}

void VString::FromByte(int8_t value)
{
    _EmptyForNumber();
    AppendLong8(value);
}

void VString::FromWord(int16_t value)
{
    _EmptyForNumber();
    AppendLong8(value);
}

void VString::FromLong(int32_t value)
{
    _EmptyForNumber();
    AppendLong8(value);
}

void VString::FromLong8(int64_t value)
{
    _EmptyForNumber();
    AppendLong8(value);
}

void VString::FromULong8(uint64_t value)
{
    _EmptyForNumber();
    AppendULong8(value);
}

void VString::FromReal(double value)
{
    _EmptyForNumber();
    AppendReal(value);
}

void VString::FromValue(const VValueSingle& value)
{
    if (&value == this)
        return;
    value.GetString(*this);
}

void VString::FromDuration(const VDuration& duration)
{
    duration.GetString(*this);
}

void VString::FromTime(const VTime& time)
{
    time.GetString(*this);
}

void VString::FromVUUID(const VUUID& uuid)
{
    uuid.GetString(*this);
}

// --- reading the text as another value ---

void VString::GetString(VString& out) const
{
    out.FromString(*this);
}

void VString::GetValue(VValueSingle& out) const
{
    out.FromString(*this);
}

void VString::GetDuration(VDuration& out) const
{
    out.FromString(*this);
}

void VString::GetTime(VTime& out) const
{
    out.FromString(*this);
}

void VString::GetVUUID(VUUID& out) const
{
    out.FromString(*this);
}

uint8_t VString::GetBoolean() const
{
    static const UniChar kTrue[] = u"true";
    return VIntlMgr::GetCurrentOrDefault()->EqualString(fBuffer, fLength, kTrue, 4, false) ? 1 : 0;
}

int64_t VString::GetLong8() const
{
    if (fLength == 0)
        return 0;
    UniChar separator = VIntlMgr::GetCurrentOrDefault()->GetDecimalSeparator().GetUniChar(1);
    // Unsigned accumulation wraps instead of overflowing; the digits read are the same.
    uint64_t value = 0;
    bool negative = false;
    for (VIndex i = 0; i < fLength; ++i) {
        UniChar c = fBuffer[i];
        if (IsAsciiDigit(c))
            value = value * 10 + static_cast<uint64_t>(c - u'0');
        else if (c == u'-' && value == 0)
            negative = true;
        else if (separator != 0 && c == separator)
            break;
    }
    if (negative)
        value = 0 - value;
    return static_cast<int64_t>(value);
}

int32_t VString::GetLong() const
{
    int64_t value = GetLong8();
    return (value >= INT32_MIN && value <= INT32_MAX) ? static_cast<int32_t>(value) : 0;
}

int16_t VString::GetWord() const
{
    int64_t value = GetLong8();
    return (value >= INT16_MIN && value <= INT16_MAX) ? static_cast<int16_t>(value) : 0;
}

double VString::GetReal() const
{
    return GetRealCheckOverflow(nullptr);
}

double VString::GetRealCheckOverflow(bool* overflow) const
{
    // The POSIX numeric locale: '.' as the decimal point, whatever the process set.
    static locale_t sNumericLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    StStringConverter<char> utf8(*this, VTC_UTF_8);
    const char* text = utf8.GetCPointer();
    errno = 0;
    double value = sNumericLocale ? strtod_l(text, nullptr, sNumericLocale) : std::strtod(text, nullptr);
    if (overflow != nullptr)
        *overflow = errno == ERANGE && (value == 0.0 || std::isinf(value));
    return value;
}

// --- editing ---

void VString::Insert(UniChar c, VIndex pos)
{
    if (pos < 1 || c == 0)
        return;
    if (pos > fLength) {
        AppendUniChar(c);
        return;
    }
    if (fLength == INT32_MAX || !_EnsurePrivate(fLength + 1))
        return;
    std::memmove(fBuffer + pos, fBuffer + pos - 1, static_cast<size_t>(fLength - pos + 1) * sizeof(UniChar));
    fBuffer[pos - 1] = c;
    _SetLengthAndTerminate(fLength + 1);
}

void VString::Insert(const VString& s, VIndex pos)
{
    if (pos < 1 || s.fLength == 0)
        return;
    if (pos > fLength) {
        AppendString(s);
        return;
    }
    // A share keeps the inserted text alive while this buffer changes.
    VString source(s);
    VIndex n = source.fLength;
    if (static_cast<int64_t>(fLength) + n > INT32_MAX) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    if (!_EnsurePrivate(fLength + n))
        return;
    std::memmove(fBuffer + pos - 1 + n, fBuffer + pos - 1, static_cast<size_t>(fLength - pos + 1) * sizeof(UniChar));
    std::memcpy(fBuffer + pos - 1, source.fBuffer, static_cast<size_t>(n) * sizeof(UniChar));
    _SetLengthAndTerminate(fLength + n);
}

void VString::Remove(VIndex pos, VIndex n)
{
    if (pos < 1 || pos > fLength || n < 0)
        return;
    n = std::min(n, fLength - pos + 1);
    if (n == 0 || !_EnsurePrivate(fLength))
        return;
    std::memmove(fBuffer + pos - 1, fBuffer + pos - 1 + n, static_cast<size_t>(fLength - pos + 1 - n) * sizeof(UniChar));
    _SetLengthAndTerminate(fLength - n);
}

void VString::Replace(const VString& s, VIndex pos, VIndex n)
{
    if (n <= 0 || pos < 1 || pos > fLength)
        return;
    VString source(s);
    if (static_cast<int64_t>(pos) + n > static_cast<int64_t>(fLength) + 1) {
        Truncate(pos - 1);
        AppendString(source);
        return;
    }
    VIndex m = source.fLength;
    int64_t newLength = static_cast<int64_t>(fLength) - n + m;
    if (newLength > INT32_MAX) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    if (!_EnsurePrivate(std::max(fLength, static_cast<VIndex>(newLength))))
        return;
    VIndex tail = fLength - (pos - 1 + n);
    std::memmove(fBuffer + pos - 1 + m, fBuffer + pos - 1 + n, static_cast<size_t>(tail) * sizeof(UniChar));
    if (m > 0)
        std::memcpy(fBuffer + pos - 1, source.fBuffer, static_cast<size_t>(m) * sizeof(UniChar));
    _SetLengthAndTerminate(static_cast<VIndex>(newLength));
}

void VString::SubString(VIndex first, VIndex n)
{
    if (first < 1 || first > fLength || n < 0)
        return;
    n = std::min(n, fLength - first + 1);
    if (first == 1) {
        Truncate(n);
        return;
    }
    if (!_EnsurePrivate(fLength))
        return;
    std::memmove(fBuffer, fBuffer + first - 1, static_cast<size_t>(n) * sizeof(UniChar));
    _SetLengthAndTerminate(n);
}

void VString::Exchange(UniChar c1, UniChar c2, VIndex start, VIndex count)
{
    if (fLength == 0 || IsNull() || start < 1 || count < 1)
        return;
    bool changed = false;
    for (VIndex i = start - 1; i < fLength && count > 0; ++i) {
        if (fBuffer[i] != c1)
            continue;
        if (!changed) {
            if (!_EnsurePrivate(fLength))
                return;
            changed = true;
        }
        fBuffer[i] = c2;
        --count;
    }
    if (changed)
        SetDirty(true);
}

// --- substrings ---

void VString::GetSubString(VIndex first, VIndex n, VString& out) const
{
    if (first < 1 || n < 1 || first > fLength) {
        out.Clear();
        return;
    }
    n = std::min(n, fLength - first + 1);
    if (&out == this) {
        const_cast<VString*>(this)->SubString(first, n);
        return;
    }
    out.FromUniString(fBuffer + first - 1, n);
}

VString VString::GetSubString(VIndex first, VIndex n) const
{
    VString out;
    GetSubString(first, n, out);
    return out;
}

VString VString::Before(VIndex pos) const
{
    if (pos < 1)
        return VString();
    if (pos > fLength)
        return *this;
    return VString(fBuffer, pos - 1);
}

VString VString::After(VIndex pos) const
{
    if (pos < 1)
        return *this;
    if (pos >= fLength)
        return VString();
    return VString(fBuffer + pos, fLength - pos);
}

// --- case and white space ---

void VString::ToUpperCase(bool withDiacritics)
{
    VIntlMgr::GetCurrentOrDefault()->ToUpperLowerCase(*this, withDiacritics, true);
}

void VString::ToLowerCase(bool withDiacritics)
{
    VIntlMgr::GetCurrentOrDefault()->ToUpperLowerCase(*this, withDiacritics, false);
}

void VString::TrimUniChar(UniChar c)
{
    VIndex end = fLength;
    while (end > 0 && fBuffer[end - 1] == c)
        --end;
    VIndex begin = 0;
    while (begin < end && fBuffer[begin] == c)
        ++begin;
    if (begin == 0 && end == fLength)
        return;
    if (begin == 0)
        Truncate(end);
    else
        SubString(begin + 1, end - begin);
}

void VString::RemoveWhiteSpaces(bool leading, bool trailing, VIndex* leadingCount, VIndex* trailingCount,
                                VIntlMgr* manager, bool flag)
{
    auto isWhite = [&](UniChar c) { return manager ? manager->IsSpace(c, flag) : (c == u' ' || c == u'\t'); };
    VIndex removedLeading = 0;
    VIndex removedTrailing = 0;
    if (trailing) {
        VIndex end = fLength;
        while (end > 0 && isWhite(fBuffer[end - 1]))
            --end;
        if (end < fLength) {
            VIndex before = fLength;
            Truncate(end, true);
            removedTrailing = before - fLength;
        }
    }
    if (leading) {
        VIndex begin = 0;
        while (begin < fLength && isWhite(fBuffer[begin]))
            ++begin;
        if (begin > 0) {
            Remove(1, begin);
            removedLeading = begin;
        }
    }
    if (leadingCount)
        *leadingCount = removedLeading;
    if (trailingCount)
        *trailingCount = removedTrailing;
}

ECarriageReturnMode VString::GetCarriageReturnMode(ECarriageReturnMode defaultMode) const
{
    for (VIndex i = 0; i < fLength; ++i) {
        if (fBuffer[i] == u'\n')
            return eCRM_LF;
        if (fBuffer[i] == u'\r')
            return (i + 1 < fLength && fBuffer[i + 1] == u'\n') ? eCRM_CRLF : eCRM_CR;
    }
    return defaultMode;
}

// --- splitting and joining ---

bool VString::GetSubStrings(UniChar sep, std::vector<VString>& out, bool keepEmpty, bool trim) const
{
    out.clear();
    if (fLength == 0) {
        if (keepEmpty)
            out.push_back(*this);
        return false;
    }
    bool found = false;
    VIndex pieceStart = 0;
    for (VIndex i = 0; i <= fLength; ++i) {
        if (i < fLength && fBuffer[i] != sep)
            continue;
        if (i < fLength)
            found = true;
        VIndex begin = pieceStart;
        VIndex end = i;
        if (trim) {
            while (begin < end && fBuffer[begin] == u' ')
                ++begin;
            while (end > begin && fBuffer[end - 1] == u' ')
                --end;
        }
        if (end > begin || keepEmpty)
            out.emplace_back(fBuffer + begin, end - begin);
        pieceStart = i + 1;
    }
    return found;
}

bool VString::GetSubStrings(UniChar separator, VArrayString& outArray, bool keepEmpty, bool trimSpaces) const
{
    std::vector<VString> pieces;
    bool found = GetSubStrings(separator, pieces, keepEmpty, trimSpaces);
    outArray.Clear();
    for (const VString& piece : pieces)
        outArray.AppendString(piece);
    return found;
}

bool VString::GetSubStrings(const VString& sep, std::vector<VString>& out, bool keepEmpty, bool trim,
                            bool withDiacritics) const
{
    out.clear();
    if (fLength == 0 || IsNull())
        return false;
    if (sep.fLength == 0 || sep.IsNull()) {
        out.push_back(*this);
        return false;
    }
    VCollator* collator = VIntlMgr::GetCurrentOrDefault()->GetCollator();
    bool found = false;
    VIndex pos = 0;
    auto addPiece = [&](VIndex begin, VIndex end) {
        if (trim) {
            while (begin < end && fBuffer[begin] == u' ')
                ++begin;
            while (end > begin && fBuffer[end - 1] == u' ')
                --end;
        }
        if (end > begin || keepEmpty)
            out.emplace_back(fBuffer + begin, end - begin);
    };
    // One search hands every separator in turn: searching the rest of the
    // text again after each one made the cost grow with their square.
    bool endsWithSeparator = false;
    collator->FindEachString(fBuffer, fLength, sep.fBuffer, sep.fLength, withDiacritics,
                             [&](VIndex at, VIndex matchLength) {
                                 found = true;
                                 const VIndex begin = at - 1;
                                 addPiece(pos, begin);
                                 pos = begin + std::max<VIndex>(matchLength, 1);
                                 endsWithSeparator = pos == fLength;
                                 return !endsWithSeparator;
                             });
    addPiece(pos, endsWithSeparator ? pos : fLength);
    return found;
}

bool VString::Join(const std::vector<VString>& parts, UniChar sep)
{
    VString separator(sep);
    return Join(parts, separator);
}

bool VString::Join(const std::vector<VString>& parts, const VString& sep)
{
    if (parts.empty()) {
        Clear();
        return true;
    }
    VString separator(sep);
    int64_t total = static_cast<int64_t>(separator.fLength) * static_cast<int64_t>(parts.size() - 1);
    for (const VString& part : parts)
        total += part.fLength;
    if (total >= 0x7FFFFFFF) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    VString result;
    if (!result._ReallocBuffer(static_cast<VIndex>(total), false))
        return false;
    VIndex pos = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 && separator.fLength > 0) {
            std::memcpy(result.fBuffer + pos, separator.fBuffer, static_cast<size_t>(separator.fLength) * 2);
            pos += separator.fLength;
        }
        if (parts[i].fLength > 0) {
            std::memcpy(result.fBuffer + pos, parts[i].fBuffer, static_cast<size_t>(parts[i].fLength) * 2);
            pos += parts[i].fLength;
        }
    }
    result._SetLengthAndTerminate(pos);
    Swap(result);
    SetNull(false);
    SetDirty(true);
    return true;
}

VString operator+(const VString& a, const VString& b)
{
    VString result(a);
    result.AppendUniChars(b.GetCPointer(), b.GetLength());
    return result;
}

// --- dates in text ---

bool VString::IsISODate() const
{
    if (fLength != 10)
        return false;
    for (VIndex i = 0; i < 10; ++i) {
        bool dash = i == 4 || i == 7;
        if (dash ? fBuffer[i] != u'-' : !IsAsciiDigit(fBuffer[i]))
            return false;
    }
    return true;
}

bool VString::IsNonAmbigousDate() const
{
    if (fLength != 14 || fBuffer[0] != u'!' || fBuffer[1] != u'!' || fBuffer[12] != u'!' || fBuffer[13] != u'!')
        return false;
    for (VIndex i = 2; i < 12; ++i) {
        bool dash = i == 6 || i == 9;
        if (dash ? fBuffer[i] != u'-' : !IsAsciiDigit(fBuffer[i]))
            return false;
    }
    return true;
}

}  // namespace bkit
