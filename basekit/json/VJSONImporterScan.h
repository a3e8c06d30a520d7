// VJSONImporterScan.h - the character scans of the JSON text reader.
//
// This file defines the loops the reader spends most of its time in:
// skipping blanks between tokens, finding where a quoted string's plain run
// stops and where a bare word ends, and narrowing a number word to bytes. On x86-64 they look at eight UTF-16 units at a time (SSE2, which
// every such processor has); elsewhere they go one unit at a time. Both give
// the same answer either way. Internal to the reader's files.
//
// Contracts: p <= end; no scan reads at or past end.
#pragma once

#include <cstddef>

#include "basekit/BKitTypes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bkit::json_reader {

// The first unit at or after p that is not blank (every unit below 33 is
// blank), or end.
inline const UniChar* SkipBlanks(const UniChar* p, const UniChar* end)
{
    // Compact text has no blank at all, and indented text mostly one or two
    // units before a run of spaces: look at the first unit alone.
    if (p == end || *p >= 33)
        return p;
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi16(32);
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Unsigned: a unit above 32 saturates to a non-zero difference.
        const __m128i blank = _mm_cmpeq_epi16(_mm_subs_epu16(units, limit), zero);
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(blank)) ^ 0xFFFFu;
        if (mask != 0)
            return p + (__builtin_ctz(mask) >> 1);
        p += 8;
    }
#endif
    while (p < end && *p < 33)
        ++p;
    return p;
}

// The first unit at or after p that ends a plain run of a quoted string: the
// closing quote, a backslash or a NUL; end when there is none.
inline const UniChar* FindStringStop(const UniChar* p, const UniChar* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i backslash = _mm_set1_epi16(u'\\');
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, backslash)),
                                          _mm_cmpeq_epi16(units, zero));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stop));
        if (mask != 0)
            return p + (__builtin_ctz(mask) >> 1);
        p += 8;
    }
#endif
    while (p < end && *p != u'"' && *p != u'\\' && *p != 0)
        ++p;
    return p;
}

// The first unit at or after p that ends a bare word: a blank or one of
// " , : [ ] { }; end when there is none.
inline const UniChar* FindWordEnd(const UniChar* p, const UniChar* end)
{
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi16(32);
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i stop = _mm_cmpeq_epi16(_mm_subs_epu16(units, limit), zero);
        for (UniChar c : {u'"', u',', u':', u'[', u']', u'{', u'}'})
            stop = _mm_or_si128(stop, _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(c))));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stop));
        if (mask != 0)
            return p + (__builtin_ctz(mask) >> 1);
        p += 8;
    }
#endif
    for (; p < end; ++p) {
        const UniChar c = *p;
        if (c < 33 || c == u'"' || c == u',' || c == u':' || c == u'[' || c == u']' || c == u'{' || c == u'}')
            break;
    }
    return p;
}

// Copies n units to out as bytes when every one is ASCII (below 0x80) and
// says so; false, out partly written, otherwise.
inline bool NarrowASCII(const UniChar* p, size_t n, char* out)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high), zero)) != 0xFFFF)
            return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
    }
#endif
    for (; i < n; ++i) {
        if (p[i] >= 0x80)
            return false;
        out[i] = static_cast<char>(p[i]);
    }
    return true;
}

}  // namespace bkit::json_reader
