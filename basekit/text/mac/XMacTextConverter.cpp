// XMacTextConverter.cpp - legacy charsets over the platform text-encoding service.
#include "basekit/text/mac/XMacTextConverter.h"

#include <climits>

#include "basekit/runtime/VErrorBase.h"

namespace bkit {

using platform::MakeTextEncoding;
using platform::TextEncoding;

namespace {

constexpr TextEncoding kUnknown = platform::kTextEncodingUnknown;

void PushPlatformError(int32_t status)
{
    _PushRetainedError(new VErrorBase(MakeCarbonVError(status)));
}

}  // namespace

TextEncoding XMacToUnicodeConverter::CharSetToTextEncoding(CharSet charSet)
{
    const uint32_t unicode = platform::kTextEncodingUnicodeDefault;
    switch (charSet) {
        case -2: return platform::kTextEncodingMacRoman;
        case 2: return MakeTextEncoding(unicode, 0, 0);
        case 4: return MakeTextEncoding(unicode, 0, 3);
        case 7: return MakeTextEncoding(unicode, 0, 2);
        case 8: return MakeTextEncoding(unicode, 0, 1);
        case 9: return 0x600;
        case 10: return 0xC02;
        case 11: return 0x400;
        case 100: return 0x0;
        case 101: return 0x500;
        case 102: return 0x1D;
        case 103: return 0x501;
        case 104: return 0x7;
        case 105: return 0x502;
        case 106: return 0x6;
        case 107: return 0x503;
        case 108: return 0x23;
        case 109: return 0x504;
        case 110: return 0x4;
        case 111: return 0x506;
        case 112: return 0x5;
        case 113: return 0x505;
        case 114: return 0x1D;
        case 115: return 0x507;
        case 116: return 0x19;
        case 117: return 0x421;
        case 118: return 0x2;
        case 119: return 0x423;
        case 120: return 0x1;
        case 1000: return 0xA01;
        case 1001: return 0x820;
        case 1002: return 0xA03;
        case 1003: return 0x940;
        case 1004: return 0xA02;
        case 1015: return 0x20D;
        case 1016: return 0x421;
        case 1017: return 0x630;
        case 1018: return 0x20F;
        case 1019: return 0x420;
        default:
            if (charSet >= 1005 && charSet <= 1014)
                return 0x201 + static_cast<uint32_t>(charSet - 1005);
            return kUnknown;
    }
}

// --- to Unicode ---

XMacToUnicodeConverter::XMacToUnicodeConverter(CharSet charSet)
    : fEncoding(CharSetToTextEncoding(charSet)), fInfo(nullptr)
{
    platform::CreateTextToUnicodeConverter(fEncoding, &fInfo);
}

XMacToUnicodeConverter::~XMacToUnicodeConverter()
{
    platform::DisposeTextEncodingConverter(fInfo);
}

bool XMacToUnicodeConverter::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                     UniChar* target, int targetUnits, int* unitsProduced)
{
    *bytesConsumed = 0;
    *unitsProduced = 0;
    size_t read = 0;
    size_t written = 0;
    int32_t status = platform::ConvertTextToUnicode(
        fInfo, platform::kUnicodeUseFallbacksMask | platform::kUnicodeLooseMappingsMask, source, sourceBytes,
        &read, target, 2 * static_cast<size_t>(targetUnits > 0 ? targetUnits : 0), &written);
    if (status == platform::kTECNoError || status == platform::kTECOutputBufferFullStatus ||
        status == platform::kTECPartialCharErr) {
        *bytesConsumed = read;
        *unitsProduced = static_cast<int>(written / 2);
        return true;
    }
    if (sourceBytes == 0)
        return true;
    PushPlatformError(status);
    return false;
}

// --- from Unicode ---

XMacFromUnicodeConverter::XMacFromUnicodeConverter(CharSet charSet)
    : fEncoding(XMacToUnicodeConverter::CharSetToTextEncoding(charSet)), fInfo(nullptr)
{
    platform::CreateUnicodeToTextConverter(fEncoding, &fInfo);
}

XMacFromUnicodeConverter::~XMacFromUnicodeConverter()
{
    platform::DisposeTextEncodingConverter(fInfo);
}

int XMacFromUnicodeConverter::GetCharSize() const
{
    switch (platform::GetTextEncodingFormat(fEncoding)) {
        case 0: return 2;
        case 1: return 1;
        case 2: return 1;
        case 3: return 4;
        case 4: return 2;
        case 5: return 2;
        case 6: return 4;
        case 7: return 4;
        default: return 1;
    }
}

bool XMacFromUnicodeConverter::Convert(const UniChar* source, int sourceUnits, int* unitsConsumed, void* target,
                                       size_t targetBytes, size_t* bytesProduced)
{
    if (unitsConsumed)
        *unitsConsumed = 0;
    if (bytesProduced)
        *bytesProduced = 0;
    if (targetBytes == 0)
        return true;
    int units = sourceUnits > 0 ? sourceUnits : 0;
    size_t read = 0;
    size_t written = 0;
    int32_t status = platform::ConvertUnicodeToText(fInfo, platform::kUnicodeLooseMappingsMask, source,
                                                    2 * static_cast<size_t>(units), &read, target, targetBytes,
                                                    &written);
    size_t readUnits = read / 2;
    if (status == platform::kTECUnmappableElementErr) {
        // The character the charset cannot hold becomes "?" when there is room
        // for it, and is skipped: a surrogate pair as one character.
        if (written < targetBytes) {
            static_cast<char*>(target)[written++] = '?';
            size_t at = readUnits;
            bool pair = at + 1 < static_cast<size_t>(units) && source[at] >= 0xD800 && source[at] <= 0xDBFF &&
                        source[at + 1] >= 0xDC00 && source[at + 1] <= 0xDFFF;
            readUnits += pair ? 2 : 1;
        }
        status = platform::kTECNoError;
    }
    if (status == platform::kTECNoError || status == platform::kTECOutputBufferFullStatus) {
        if (unitsConsumed)
            *unitsConsumed = static_cast<int>(readUnits);
        if (bytesProduced)
            *bytesProduced = written;
        return true;
    }
    PushPlatformError(status);
    return false;
}

}  // namespace bkit
