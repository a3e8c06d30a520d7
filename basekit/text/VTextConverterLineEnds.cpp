// VTextConverterLineEnds.cpp - line ends of encoded text in a buffer.
#include "basekit/text/VTextConverterLineEnds.h"

#include <cstring>

#include "basekit/text/VTextConverterForms.h"

namespace bkit {

namespace {

template <class Unit>
bool ConvertUnits(VMemoryBuffer<>& buffer, ECarriageReturnMode mode, Unit cr, Unit lf)
{
    size_t n = buffer.GetDataSize() / sizeof(Unit);
    if (n == 0)
        return true;
    // A trailing partial unit (an odd byte of UTF-16) follows the text as it was.
    size_t tail = buffer.GetDataSize() - n * sizeof(Unit);
    unsigned char tailBytes[sizeof(Unit)];
    std::memcpy(tailBytes, static_cast<char*>(buffer.GetDataPtr()) + n * sizeof(Unit), tail);
    size_t capacity = buffer.GetAllocatedSize() / sizeof(Unit);
    size_t length = ConvertLineEndUnits(static_cast<Unit*>(buffer.GetDataPtr()), n, capacity, mode, cr, lf);
    if (length > capacity) {
        if (!buffer.Reserve(length * sizeof(Unit) + tail))
            return false;
        length = ConvertLineEndUnits(static_cast<Unit*>(buffer.GetDataPtr()), n, length, mode, cr, lf);
    }
    if (length * sizeof(Unit) + tail > buffer.GetAllocatedSize() && !buffer.Reserve(length * sizeof(Unit) + tail))
        return false;
    std::memcpy(static_cast<char*>(buffer.GetDataPtr()) + length * sizeof(Unit), tailBytes, tail);
    buffer.SetDataSize(length * sizeof(Unit) + tail);
    return true;
}

}  // namespace

bool ConvertLineEndsInBuffer(VMemoryBuffer<>& buffer, CharSet charSet, ECarriageReturnMode mode)
{
    if (mode != eCRM_CRLF && mode != eCRM_CR && mode != eCRM_LF)
        return true;
    switch (charSet) {
        case VTC_UNKNOWN:
            return true;
        case VTC_UTF_16_SMALLENDIAN:
            return ConvertUnits<uint16_t>(buffer, mode, 0x000D, 0x000A);
        case VTC_UTF_16_BIGENDIAN:
            return ConvertUnits<uint16_t>(buffer, mode, __builtin_bswap16(uint16_t(0x000D)), __builtin_bswap16(uint16_t(0x000A)));
        case VTC_UTF_32_SMALLENDIAN:
        case VTC_UTF_32_RAW_SMALLENDIAN:
            return ConvertUnits<uint32_t>(buffer, mode, 0x0000000D, 0x0000000A);
        case VTC_UTF_32_BIGENDIAN:
        case VTC_UTF_32_RAW_BIGENDIAN:
            return ConvertUnits<uint32_t>(buffer, mode, __builtin_bswap32(uint32_t(0x0D)), __builtin_bswap32(uint32_t(0x0A)));
        default:
            return ConvertUnits<uint8_t>(buffer, mode, 0x0D, 0x0A);
    }
}

}  // namespace bkit
