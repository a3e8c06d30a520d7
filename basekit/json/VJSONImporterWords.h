// VJSONImporterWords.h - what the parts of the JSON text reader share about
// words: the "expected" texts of error reports, views of the text, and the
// number grammar of bare words. Internal to the reader's files.
#pragma once

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

// The number grammar of bare words: -? (0 | digits)? (. digits+)? ([eE] [+-U+2212]? digits+)?
// and nothing else. The integer part may be empty (so "-" and "-.5" pass).
inline bool IsNumberWord(const UniChar* p, const UniChar* end)
{
    if (p < end && *p == u'-')
        ++p;
    if (p < end && *p == u'0') {
        ++p;
    } else {
        while (p < end && IsDigit(*p))
            ++p;
    }
    if (p < end && *p == u'.') {
        ++p;
        if (p == end || !IsDigit(*p))
            return false;
        while (p < end && IsDigit(*p))
            ++p;
    }
    if (p < end && (*p == u'e' || *p == u'E')) {
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

// The value of a word that passed IsNumberWord, as the string reader gives it.
double NumberValue(const UniChar* p, const UniChar* end);

}  // namespace bkit::json_reader
