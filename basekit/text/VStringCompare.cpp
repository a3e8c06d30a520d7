// VStringCompare.cpp - comparisons of string texts, exact and locale-aware.
//
// This file implements the exact unit comparisons of VString, the comparisons
// through the calling task's international manager (the flag meaning with
// diacritics), and the comparisons of the value protocol, against another
// string or against flat data (a 32-bit length followed by the units).
#include <algorithm>
#include <cstring>

#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

// --- comparison ---

bool VString::EqualToStringRaw(const VString& s) const
{
    return fLength == s.fLength &&
           (fLength == 0 || std::memcmp(fBuffer, s.fBuffer, static_cast<size_t>(fLength) * sizeof(UniChar)) == 0);
}

CompareResult VString::CompareToStringRaw(const VString& s) const
{
    const UniChar* a = fBuffer;
    const UniChar* b = s.fBuffer;
    for (;; ++a, ++b) {
        if (*a != *b)
            return *a < *b ? CR_SMALLER : CR_BIGGER;
        if (*a == 0)
            return CR_EQUAL;
    }
}

CompareResult VString::CompareToStringRawCase(const VString& s) const
{
    auto fold = [](UniChar c) { return (c >= u'A' && c <= u'Z') ? static_cast<UniChar>(c + 32) : c; };
    const UniChar* a = fBuffer;
    const UniChar* b = s.fBuffer;
    for (;; ++a, ++b) {
        UniChar ca = fold(*a);
        UniChar cb = fold(*b);
        if (ca != cb)
            return ca < cb ? CR_SMALLER : CR_BIGGER;
        if (ca == 0)
            return CR_EQUAL;
    }
}

bool VString::EqualToUSASCIICString(const char* text) const
{
    if (text == nullptr)
        text = "";
    VIndex i = 0;
    for (; text[i] != 0; ++i) {
        if (i >= fLength)
            return false;
        UniChar c = static_cast<UniChar>(static_cast<int16_t>(static_cast<signed char>(text[i])));
        if (fBuffer[i] != c)
            return false;
    }
    return i == fLength;
}

CompareResult VString::CompareToString(const VString& s, bool withDiacritics) const
{
    return VIntlMgr::GetCurrentOrDefault()->CompareString(fBuffer, fLength, s.fBuffer, s.fLength, withDiacritics);
}

bool VString::EqualToString(const VString& s, bool withDiacritics) const
{
    return VIntlMgr::GetCurrentOrDefault()->EqualString(fBuffer, fLength, s.fBuffer, s.fLength, withDiacritics);
}

CompareResult VString::CompareToString_Like(const VString& s, bool withDiacritics) const
{
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(fBuffer, fLength, s.fBuffer, s.fLength,
                                                               withDiacritics);
}

bool VString::EqualToString_Like(const VString& s, bool withDiacritics) const
{
    return VIntlMgr::GetCurrentOrDefault()->EqualString_Like(fBuffer, fLength, s.fBuffer, s.fLength,
                                                             withDiacritics);
}

// --- value comparisons ---

namespace {

void ReadFlatData(const void* data, const UniChar*& units, VIndex& length)
{
    int32_t n;
    std::memcpy(&n, data, 4);
    length = n < 0 ? 0 : n;
    units = reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + 4);
}

VIntlMgr* ManagerOf(const VCompareOptions& options)
{
    return options.GetIntlManager() ? options.GetIntlManager() : VIntlMgr::GetCurrentOrDefault();
}

}  // namespace

CompareResult VString::CompareToSameKind(const VValue* other, bool withDiacritics) const
{
    return CompareToString(*static_cast<const VString*>(other), withDiacritics);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* other, bool withDiacritics) const
{
    const VString& s = *static_cast<const VString*>(other);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(fBuffer, std::min(fLength, s.fLength), s.fBuffer,
                                                          s.fLength, withDiacritics);
}

bool VString::EqualToSameKind(const VValue* other, bool withDiacritics) const
{
    return EqualToString(*static_cast<const VString*>(other), withDiacritics);
}

CompareResult VString::CompareToSameKind_Like(const VValue* other, bool withDiacritics) const
{
    return CompareToString_Like(*static_cast<const VString*>(other), withDiacritics);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* other, bool withDiacritics) const
{
    const VString& s = *static_cast<const VString*>(other);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(fBuffer, std::min(fLength, s.fLength), s.fBuffer,
                                                               s.fLength, withDiacritics);
}

bool VString::EqualToSameKind_Like(const VValue* other, bool withDiacritics) const
{
    return EqualToString_Like(*static_cast<const VString*>(other), withDiacritics);
}

CompareResult VString::CompareToSameKindPtr(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(fBuffer, fLength, units, length, withDiacritics);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(units, length, fBuffer, fLength, withDiacritics);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(fBuffer, std::min(fLength, length), units, length,
                                                          withDiacritics);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(fBuffer, fLength, units, std::min(fLength, length),
                                                          withDiacritics);
}

bool VString::EqualToSameKindPtr(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->EqualString(fBuffer, fLength, units, length, withDiacritics);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(fBuffer, fLength, units, length, withDiacritics);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(units, length, fBuffer, fLength, withDiacritics);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(fBuffer, std::min(fLength, length), units, length,
                                                               withDiacritics);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(fBuffer, fLength, units, std::min(fLength, length),
                                                               withDiacritics);
}

bool VString::EqualToSameKindPtr_Like(const void* data, bool withDiacritics) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    return VIntlMgr::GetCurrentOrDefault()->EqualString_Like(fBuffer, fLength, units, length, withDiacritics);
}

CompareResult VString::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    const VString& s = *static_cast<const VString*>(other);
    VIndex length = options.IsBeginOnly() ? std::min(fLength, s.fLength) : fLength;
    return ManagerOf(options)->CompareString(fBuffer, length, s.fBuffer, s.fLength, options);
}

bool VString::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    return CompareToSameKindWithOptions(other, options) == CR_EQUAL;
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    const UniChar* units;
    VIndex length;
    ReadFlatData(data, units, length);
    VIndex ownLength = fLength;
    if (options.IsBeginOnly()) {
        ownLength = std::min(fLength, length);
        length = ownLength;
    }
    return ManagerOf(options)->CompareString(fBuffer, ownLength, units, length, options);
}

bool VString::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    return CompareToSameKindPtrWithOptions(data, options) == CR_EQUAL;
}

CompareResult VString::CompareTo(const VValueSingle& other, bool withDiacritics) const
{
    if (const VString* s = dynamic_cast<const VString*>(&other))
        return CompareToString(*s, withDiacritics);
    VStr<255> text;
    other.GetString(text);
    return CompareToString(text, withDiacritics);
}

}  // namespace bkit
