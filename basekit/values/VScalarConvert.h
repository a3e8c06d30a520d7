// VScalarConvert.h - number conversions shared by the scalar and duration values.
//
// This file defines the small, well-defined conversions the scalar values use
// between doubles and integers, the byte reversal of raw payloads and the
// tolerant comparison of doubles. Converting a double to an integer in C++ is
// undefined when the truncated value does not fit; every conversion here is
// defined for every input instead: NaN gives 0 and values beyond the target's
// range saturate at its limit. Pure functions, callable from any thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "basekit/BKitTypes.h"

namespace bkit {
namespace scalar {

// Truncates toward zero to 64 bits; NaN gives 0, out-of-range values saturate.
inline int64_t TruncToInt64(double d)
{
    if (std::isnan(d))
        return 0;
    // 2^63 is exact in a double; every double below it truncates into range.
    if (d >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (d < -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

// Truncates toward zero to 32 bits; NaN gives 0, out-of-range values saturate.
inline int32_t TruncToInt32(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 2147483648.0)
        return std::numeric_limits<int32_t>::max();
    if (d <= -2147483649.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(d);
}

// Two's complement arithmetic on 64 bits without the undefined overflow of
// signed types: the result wraps as the machine would.
inline int64_t WrapAdd(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

inline int64_t WrapSub(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

inline int64_t WrapMul(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// Reads or writes a raw payload that may sit at any alignment.
template <class T>
inline T LoadRaw(const void* p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

template <class T>
inline void StoreRaw(void* p, T v)
{
    std::memcpy(p, &v, sizeof(T));
}

// Reverses the bytes of one value in place.
inline void ReverseBytes(void* p, size_t size)
{
    auto* b = static_cast<unsigned char*>(p);
    for (size_t i = 0, j = size - 1; i < j; ++i, --j) {
        unsigned char t = b[i];
        b[i] = b[j];
        b[j] = t;
    }
}

template <class T>
inline T Reversed(T v)
{
    ReverseBytes(&v, sizeof(T));
    return v;
}

// Signed (or, for unsigned types, unsigned) three-way comparison.
template <class T>
inline CompareResult CompareNumbers(T a, T b)
{
    return (a < b) ? CR_SMALLER : ((a > b) ? CR_BIGGER : CR_EQUAL);
}

// Doubles closer than epsilon are equal; otherwise the bigger is bigger.
// A NaN on either side answers smaller, which keeps the answer stable for
// callers that only test for equality.
inline CompareResult CompareReals(double a, double b, double epsilon)
{
    if (std::isnan(a) || std::isnan(b))
        return CR_SMALLER;
    if (a == b)  // also equal infinities, whose difference is NaN
        return CR_EQUAL;
    if (std::fabs(a - b) < epsilon)
        return CR_EQUAL;
    return (a > b) ? CR_BIGGER : CR_SMALLER;
}

// Ordering of doubles for sorting: NaN before every number and equal to NaN;
// then equal within epsilon unless exact is asked.
inline CompareResult CompareRealsForSort(double a, double b, double epsilon, bool exact)
{
    bool nanA = std::isnan(a), nanB = std::isnan(b);
    if (nanA || nanB)
        return (nanA && nanB) ? CR_EQUAL : (nanA ? CR_SMALLER : CR_BIGGER);
    if (a == b)
        return CR_EQUAL;
    if (!exact && std::fabs(a - b) < epsilon)
        return CR_EQUAL;
    return (a > b) ? CR_BIGGER : CR_SMALLER;
}

}  // namespace scalar
}  // namespace bkit
