// VFileError.cpp - the error record of file operations, and reserved file characters.
//
// This file implements VFileError and the percent form of the characters that
// file systems reserve.
#include "basekit/files/VFileError.h"


namespace bkit {

namespace {

// One flag per code unit 0 to 128: 0-31 and " % * / : < > ? \ |.
bool IsReserved(UniChar c)
{
    if (c > 128)
        return false;
    if (c < 32)
        return true;
    switch (c) {
        case u'"':
        case u'%':
        case u'*':
        case u'/':
        case u':':
        case u'<':
        case u'>':
        case u'?':
        case u'\\':
        case u'|':
            return true;
        default:
            return false;
    }
}

}  // namespace

VFileError::VFileError(const VFilePath& path, VError code) : VErrorBase(code), fPath(path)
{
    _SetPathParameters();
}

VFileError::~VFileError() = default;

void VFileError::_SetPathParameters()
{
    const VString& text = fPath.GetPath();
    if (text.IsEmpty() || text.IsNull()) {
        VString none("n/a");
        SetString(VString("name"), none);
        SetString(VString("path"), none);
        return;
    }
    VString name;
    fPath.GetName(name);
    SetString(VString("name"), name);
    SetString(VString("path"), text);
}

void VFileError::GetErrorDescription(VString& out) const
{
    VErrorBase::GetErrorDescription(out);
}

VString EncodeReservedFileCharacters(const VString& text)
{
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VIndex reserved = 0;
    for (VIndex i = 0; i < length; ++i)
        if (IsReserved(units[i]))
            ++reserved;
    if (reserved == 0)
        return text;

    static const char kHex[] = "0123456789ABCDEF";
    VString out;
    out._ReallocBuffer(length + 2 * reserved, false);
    for (VIndex i = 0; i < length; ++i) {
        UniChar c = units[i];
        if (IsReserved(c)) {
            out.AppendUniChar(u'%');
            out.AppendUniChar(static_cast<UniChar>(kHex[(c >> 4) & 15]));
            out.AppendUniChar(static_cast<UniChar>(kHex[c & 15]));
        } else {
            out.AppendUniChar(c);
        }
    }
    return out;
}

VString DecodeReservedFileCharacters(const VString& text)
{
    if (text.FindUniChar(u'%') == 0)
        return text;
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VString out;
    for (VIndex i = 0; i < length; ++i) {
        if (units[i] == u'%' && i + 2 < length) {
            // Digits of either case count, any other unit is passed over
            // (so "%G1" gives 1).
            out.AppendUniChar(static_cast<UniChar>(VString(units + i + 1, 2).GetHexLong() & 0xFFFF));
            i += 2;
        } else {
            out.AppendUniChar(units[i]);
        }
    }
    return out;
}

}  // namespace bkit
