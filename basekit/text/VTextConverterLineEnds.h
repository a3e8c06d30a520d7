// VTextConverterLineEnds.h - line-end conversion of text in code units.
//
// This file defines the line-end conversion shared by strings, the scoped
// string converter and streams (encoded buffers go through
// VString::ConvertCarriageReturns): every line end (CR LF, CR or
// LF) of a text becomes what an ECarriageReturnMode asks (2 CR LF, 3 CR, 4 LF;
// any other mode leaves the text alone). It works on code units of any width,
// so that encoded text is converted in the units of its charset (a 16-bit
// CR of UTF-16 big-endian is the two bytes 00 0D, never a lone 0D byte).
//
// Contracts: the functions are pure and thread-safe; the in-place form writes
// nothing when the converted text would not fit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VMemoryBuffer.h"

namespace bkit {

// Converts the line ends of the first n units of text in place. Answers the
// length of the converted text; when that is larger than capacity (mode 2
// only), the text is left as it was and the caller grows the room to the
// answer and calls again. cr and lf are the units' values of CR and LF as they
// lie in memory.
template <class Unit>
size_t ConvertLineEndUnits(Unit* text, size_t n, size_t capacity, ECarriageReturnMode mode, Unit cr, Unit lf)
{
    if (mode == eCRM_CRLF) {
        size_t grown = n;
        for (size_t i = 0; i < n; ++i) {
            if (text[i] == cr) {
                if (i + 1 < n && text[i + 1] == lf)
                    ++i;
                else
                    ++grown;
            } else if (text[i] == lf) {
                ++grown;
            }
        }
        if (grown > capacity || grown == n)
            return grown;
        // From the end, so that nothing is overwritten before it is read.
        size_t w = grown;
        for (size_t i = n; i-- > 0;) {
            Unit u = text[i];
            if (u == lf) {
                text[--w] = lf;
                text[--w] = cr;
                if (i > 0 && text[i - 1] == cr)
                    --i;
            } else if (u == cr) {
                text[--w] = lf;
                text[--w] = cr;
            } else {
                text[--w] = u;
            }
        }
        return grown;
    }
    if (mode != eCRM_CR && mode != eCRM_LF)
        return n;
    const Unit end = mode == eCRM_CR ? cr : lf;
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        Unit u = text[i];
        if (u == cr) {
            if (i + 1 < n && text[i + 1] == lf)
                ++i;
            text[w++] = end;
        } else if (u == lf) {
            text[w++] = end;
        } else {
            text[w++] = u;
        }
    }
    return w;
}

}  // namespace bkit
