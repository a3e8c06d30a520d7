// XMacStringCompare.h - the platform comparer of the system collator.
//
// This file defines XMacStringCompare, which holds one locale (shared with
// its international manager or made for the collator's dialect) and compares
// and searches UTF-16 text through the platform's localized, width-insensitive
// comparison (basekit/platform/LocaleStringCompare.h). With diacritics, case
// and accents count; without, both are ignored.
//
// Contracts: a comparer is owned by one collator and used by one thread at a
// time; a copy is independent (its own platform collators, the same locale).
// When the platform comparison cannot be made, comparisons give 0 and
// searches find nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "basekit/BKitTypes.h"
#include "basekit/platform/LocaleStringCompare.h"

namespace bkit {

namespace platform {
class Locale;
}  // namespace platform

class XMacStringCompare {
public:
    explicit XMacStringCompare(std::shared_ptr<const platform::Locale> locale);
    XMacStringCompare(const XMacStringCompare& other);
    XMacStringCompare& operator=(const XMacStringCompare&) = delete;
    ~XMacStringCompare();

    bool IsValid() const;

    // -1, 0 or 1 over the whole of both texts.
    int32_t _CompareCFString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                             bool withDiacritics) const
    {
        return fComparer.Compare(a, aLength, b, bLength, withDiacritics);
    }
    // The 0-based location and the length in text of the first occurrence.
    bool _FindCFString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                       bool withDiacritics, VIndex& location, VIndex& length) const;
    // Each occurrence from left to right (platform::StringComparer::FindEach).
    void _FindEachCFString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                           bool withDiacritics, const std::function<bool(VIndex location, VIndex length)>& found) const
    {
        fComparer.FindEach(text, textLength, pattern, patternLength, withDiacritics, found);
    }
    // The version of the platform's collation.
    std::string GetVersion() const;

private:
    std::shared_ptr<const platform::Locale> fLocale;
    platform::StringComparer fComparer;
};

}  // namespace bkit
