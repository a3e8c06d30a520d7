// VCollator.h - locale-aware comparison, search and LIKE matching of UTF-16 text.
//
// This file defines VCollator, the abstract comparison object of an
// international manager with the LIKE logic and the wild-card character, and
// VCollator_system, the concrete collator over the platform's localized
// comparison of one dialect (XMacStringCompare).
//
// Contracts:
// - withDiacritics true makes case and accents significant; false ignores
//   both. Width differences are always ignored.
// - LIKE patterns: the wild card (U+0040 unless changed) stands for any run
//   of characters, the empty one included; a LIKE comparison answers 0 for a
//   match. With option bit 2 only a wild card at either end of the pattern
//   has that meaning.
// - Positions are 1-based; a search that finds nothing returns 0 with match
//   length 0. A match may differ in length from the pattern.
// - A collator is reference counted, belongs to one manager and is not locked:
//   use it from one thread at a time. Clone gives an independent one.
#pragma once

#include <functional>

#include "basekit/BKitTypes.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VIntlMgr;
class VString;
class XMacStringCompare;

class VCollator : public VObject, public IRefCountable {
public:
    // The default wild card of LIKE patterns: U+0040.
    static UniChar sDefaultWildChar;

    // Option bit: a wild card inside a pattern is an ordinary character.
    static constexpr uint8_t kOptionIgnoreWildCharInMiddle = 2;

    explicit VCollator(uint32_t dialect);
    VCollator(const VCollator& other);
    ~VCollator() override = default;

    // -1, 0 or 1: a against b.
    virtual CompareResult CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                        bool withDiacritics) = 0;
    virtual bool EqualString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                             bool withDiacritics) = 0;
    // The 1-based position of the first occurrence of pattern in text, or 0;
    // the length of the match in text goes to matchLength (when not null).
    virtual VIndex FindString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                              bool withDiacritics, VIndex* matchLength) = 0;
    // The last occurrence.
    virtual VIndex ReversedFindString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                      VIndex patternLength, bool withDiacritics, VIndex* matchLength) = 0;
    // Every occurrence of pattern in text from left to right, each the one
    // FindString gives on the text after the previous occurrence (one unit
    // further on after an occurrence of no units): found gets the 1-based
    // position and the match length, and returns false to stop. The cost
    // follows the text once, however many occurrences there are.
    using OccurrenceFound = std::function<bool(VIndex position, VIndex matchLength)>;
    virtual void FindEachString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                                bool withDiacritics, const OccurrenceFound& found);
    virtual bool BeginsWithString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                  VIndex patternLength, bool withDiacritics, VIndex* matchLength);
    virtual bool EndsWithString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                VIndex patternLength, bool withDiacritics, VIndex* matchLength);
    // A new collator with one reference.
    virtual VCollator* Clone() const = 0;
    virtual void SetWildChar(UniChar c) { fWildChar = c; }
    virtual void GetStringComparisonAlgorithmSignature(VString& out) const = 0;
    // Puts the wild card back to the default.
    virtual void Reset() { fWildChar = sDefaultWildChar; }

    // LIKE comparison: 0 for a match. The wild card stands for any run of
    // characters, the empty one included.
    CompareResult CompareString_Like(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                     VIndex patternLength, bool withDiacritics);
    bool EqualString_Like(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                          bool withDiacritics);

    // Whether an index lookup by sorted key can serve a LIKE pattern: no wild
    // card, or one only at the end of a pattern without kana.
    static bool IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* pattern, VIndex patternLength,
                                                              UniChar wildChar = sDefaultWildChar);

    UniChar GetWildChar() const { return fWildChar; }
    uint32_t GetDialectCode() const { return fDialect; }
    uint8_t GetOptions() const { return fOptions; }
    void SetOptions(uint8_t options) { fOptions = options; }

protected:
    virtual CompareResult _CompareString_Like_IgnoreWildCharInMiddle(const UniChar* text, VIndex textLength,
                                                                     const UniChar* pattern, VIndex patternLength,
                                                                     bool withDiacritics);
    virtual CompareResult _CompareString_Like_SupportWildCharInMiddle(const UniChar* text, VIndex textLength,
                                                                      const UniChar* pattern, VIndex patternLength,
                                                                      bool withDiacritics);

    uint32_t fDialect;
    UniChar fWildChar;
    uint8_t fOptions;
};

class VCollator_system : public VCollator {
public:
    // A new collator with one reference for the dialect (wild card U+0040,
    // option byte 1), or null when the platform has no collation for it. With
    // a manager the comparer shares the manager's locale (the manager itself
    // is not retained); without, it makes the locale of the dialect's BCP 47
    // code.
    static VCollator_system* Create(uint32_t dialect, VIntlMgr* manager);

    VCollator_system(const VCollator_system& other);
    ~VCollator_system() override;

    CompareResult CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                bool withDiacritics) override;
    bool EqualString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                     bool withDiacritics) override;
    VIndex FindString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                      bool withDiacritics, VIndex* matchLength) override;
    VIndex ReversedFindString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                              bool withDiacritics, VIndex* matchLength) override;
    // One platform search over the whole text.
    void FindEachString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                        bool withDiacritics, const OccurrenceFound& found) override;
    VCollator* Clone() const override;
    // "system:" followed by the version of the platform's collation data.
    void GetStringComparisonAlgorithmSignature(VString& out) const override;

private:
    VCollator_system(uint32_t dialect, XMacStringCompare* comparer);
    XMacStringCompare* fComparer;
};

}  // namespace bkit
