// HexDigits.h - reading hexadecimal digits.
//
// This file defines HexDigitValue, the one reader of a hexadecimal digit in
// either case that URLs, UUIDs, JSON numbers and the hexadecimal text forms of
// strings share. It works on any code unit width and needs no locale.
#pragma once

#include <cstdint>

namespace bkit {

// The value (0 to 15) of a hexadecimal digit in either case, or -1.
constexpr int HexDigitValue(uint32_t c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    return -1;
}

}  // namespace bkit
