// VJSONImporterWords.h - what the parts of the JSON text reader share about
// words: the "expected" texts of error reports, views of the text, and the
// number grammar of bare words. Internal to the reader's files.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"

namespace bkit::json_reader {

// The "expected" texts of error reports.
inline constexpr const char* kExpectedValue = "\" 0-9 null true false { [";
inline constexpr const char* kExpectedElement = "\" 0-9 null true false { [ ]";
inline constexpr const char* kExpectedNumber = "+- 0-9 eE";

constexpr UniChar kUnicodeMinus = 0x2212;

inline bool IsDigit(UniChar c) { return c >= u'0' && c <= u'9'; }

// A view of units as a string, without copying them. The units must outlive
// the view; whoever keeps the text copies it.
inline VString View(const UniChar* units, VIndex length)
{
    return VString(const_cast<UniChar*>(units), length, VString::kConstantText);
}

inline bool SameWord(const UniChar* p, VIndex n, const char* word)
{
    for (VIndex i = 0; i < n; ++i) {
        if (word[i] == 0 || p[i] != static_cast<UniChar>(word[i]))
            return false;
    }
    return word[n] == 0;
}

// What the number grammar met in a word: its digits gathered into mantissa
// (meaningful up to 19 digits), how many digits there are in all and after
// the point, and whether the word is plain: a non-empty integer part and no
// exponent.
struct NumberParts {
    uint64_t mantissa = 0;
    uint32_t digits = 0;
    uint32_t decimals = 0;
    bool plain = true;
};

// The number grammar of bare words: -? (0 | digits)? (. digits+)? ([eE] [+-U+2212]? digits+)?
// and nothing else. The integer part may be empty (so "-" and "-.5" pass).
// True when the word matches, with what it met in parts.
inline bool ScanNumberWord(const UniChar* p, const UniChar* end, NumberParts& parts)
{
    auto take = [&parts](UniChar c) {
        parts.mantissa = parts.mantissa * 10 + static_cast<uint64_t>(c - u'0');
        ++parts.digits;
    };
    if (p < end && *p == u'-')
        ++p;
    if (p < end && *p == u'0') {
        take(*p++);
    } else {
        const UniChar* start = p;
        while (p < end && IsDigit(*p))
            take(*p++);
        if (p == start)
            parts.plain = false;
    }
    if (p < end && *p == u'.') {
        ++p;
        if (p == end || !IsDigit(*p))
            return false;
        while (p < end && IsDigit(*p)) {
            take(*p++);
            ++parts.decimals;
        }
    }
    if (p < end && (*p == u'e' || *p == u'E')) {
        parts.plain = false;
        ++p;
        if (p < end && (*p == u'+' || *p == u'-' || *p == kUnicodeMinus))
            ++p;
        if (p == end || !IsDigit(*p))
            return false;
        while (p < end && IsDigit(*p))
            ++p;
    }
    return p == end;
}

inline bool IsNumberWord(const UniChar* p, const UniChar* end)
{
    NumberParts parts;
    return ScanNumberWord(p, end, parts);
}

// The value of a word that passed ScanNumberWord with these parts, as the
// string reader gives it.
double NumberValue(const UniChar* p, const UniChar* end, const NumberParts& parts);

// The same for a word that passed IsNumberWord.
inline double NumberValue(const UniChar* p, const UniChar* end)
{
    NumberParts parts;
    ScanNumberWord(p, end, parts);
    return NumberValue(p, end, parts);
}

}  // namespace bkit::json_reader
