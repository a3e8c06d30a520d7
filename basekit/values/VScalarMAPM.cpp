// VScalarMAPM.cpp - reading a stored arbitrary-precision decimal as a double.
//
// This file implements MAPM_FloatToReal. The stored number is a mantissa of
// decimal digits d1 d2 d3 ... meaning 0.d1d2d3... x 10^exponent; it is written
// out as the scientific text "d1.d2d3...E<exponent - 1>" and read back with the
// POSIX numeric locale, so the double is the correctly rounded value of the
// (possibly shortened) decimal text.
#include "basekit/values/VScalarCLocale.h"
#include "basekit/values/VScalars.h"

namespace bkit {

namespace {

// Offsets of the packed fields.
constexpr size_t kExponentOffset = 0;
constexpr size_t kSignOffset = 4;
constexpr size_t kCountOffset = 5;
constexpr size_t kDigitsOffset = 9;

// Digits past this many are dropped: a double holds 17 significant digits, so
// the rest can move the result by its last bit's rounding at most.
constexpr int32_t kMaxDigits = 400;

}  // namespace

double MAPM_FloatToReal(const void* data)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    int32_t exponent = scalar::LoadRaw<int32_t>(bytes + kExponentOffset);
    int8_t sign = scalar::LoadRaw<int8_t>(bytes + kSignOffset);
    int32_t count = scalar::LoadRaw<int32_t>(bytes + kCountOffset);
    const unsigned char* digits = bytes + kDigitsOffset;

    if (sign == 0)
        return 0.0;
    if (count < 1)
        return 0.0;
    if (count > kMaxDigits)
        count = kMaxDigits;

    // '-', the digits, '.', 'E', a sign, up to 11 exponent characters, NUL.
    char text[kMaxDigits + 32];
    size_t at = 0;
    if (sign < 0)
        text[at++] = '-';
    for (int32_t i = 0; i < count; ++i) {
        unsigned char pair = digits[i / 2];
        if (pair > 99)
            return 0.0;
        int digit = (i % 2 == 0) ? pair / 10 : pair % 10;
        text[at++] = static_cast<char>('0' + digit);
        if (i == 0 && count > 1)
            text[at++] = '.';
    }
    // In 64 bits: the smallest exponent minus 1 does not fit 32.
    long long shown = static_cast<long long>(exponent) - 1;
    scalar::FormatCText(text + at, sizeof(text) - at, shown < 0 ? "E%lld" : "E+%lld", shown);
    return scalar::ReadCDouble(text, nullptr);
}

}  // namespace bkit
