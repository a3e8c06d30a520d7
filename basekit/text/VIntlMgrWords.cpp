// VIntlMgrWords.cpp - words, string finding and text direction of the
// international manager.
//
// The built-in word rules (word-rule kind 1) see a word as a run of letters
// and digits; every other unit, controls included, separates words.
#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

namespace {

bool IsDeadUnit(UniChar c, bool (*isAlpha)(UniChar), bool (*isDigit)(UniChar))
{
    return c < 0x20 || !(isAlpha(c) || isDigit(c));
}

// Whether 1-based position falls inside a word but not on its first unit.
bool StrictlyAfterWordStart(VIndex position, const std::vector<std::pair<VIndex, VIndex>>& words)
{
    for (const auto& [start, length] : words) {
        if (position > start && position < start + length)
            return true;
    }
    return false;
}

// Whether 1-based position falls inside a word but not on its last unit.
bool StrictlyBeforeWordEnd(VIndex position, const std::vector<std::pair<VIndex, VIndex>>& words)
{
    for (const auto& [start, length] : words) {
        if (position >= start && position < start + length - 1)
            return true;
    }
    return false;
}

}  // namespace

bool VIntlMgr::GetWordBoundariesWithOptions(const VString& text, std::vector<std::pair<VIndex, VIndex>>& words,
                                            uint32_t options)
{
    words.clear();
    if ((options & 1) == 0 || text.IsNull() || text.IsEmpty())
        return false;
    const UniChar* p = text.GetCPointer();
    VIndex n = text.GetLength();
    VIndex i = 0;
    while (i < n) {
        if (IsDeadUnit(p[i], _IsAlphaUnit, _IsDigitUnit)) {
            ++i;
            continue;
        }
        VIndex start = i;
        ++i;
        while (i < n && !IsDeadUnit(p[i], _IsAlphaUnit, _IsDigitUnit))
            ++i;
        words.emplace_back(start + 1, i - start);
        ++i;  // the unit that ended the word is dead
    }
    return true;
}

void VIntlMgr::_GetWordRanges(const VString& text, std::vector<std::pair<VIndex, VIndex>>& words) const
{
    GetWordBoundariesWithOptions(text, words, fWordRuleKind);
}

bool VIntlMgr::_HasApostropheSecondFollowedByVowel(const VString& text, VIndex position, VIndex length)
{
    if (length < 4)
        return false;
    UniChar apostrophe = text.GetUniChar(position);
    if (apostrophe != 0x2019 && apostrophe != 0x0027)
        return false;
    VString word = text.GetSubString(position - 1, length);
    word.ToLowerCase();
    UniChar third = word.GetUniChar(3);
    return third == u'a' || third == u'e' || third == u'i' || third == u'o' || third == u'u' || third == u'h' ||
           third == u'y';
}

bool VIntlMgr::_SplitWordRangeOnDot(const VString& text, VIndex start, VIndex length,
                                    std::vector<std::pair<VIndex, VIndex>>& ranges, bool keepDots)
{
    bool foundDot = false;
    VIndex pieceStart = start;
    for (VIndex pos = start; pos < start + length; ++pos) {
        if (text.GetUniChar(pos) != u'.')
            continue;
        foundDot = true;
        if (pos > pieceStart)
            ranges.emplace_back(pieceStart, pos - pieceStart);
        if (keepDots)
            ranges.emplace_back(pos, 1);
        pieceStart = pos + 1;
    }
    if (start + length > pieceStart)
        ranges.emplace_back(pieceStart, start + length - pieceStart);
    return foundDot;
}

bool VIntlMgr::FindWord(const VString& text, const VString& word, const VCompareOptions& options) const
{
    const UniChar* w = word.GetCPointer();
    VIndex wl = word.GetLength();
    bool wildInWord = options.IsLike() && word.FindUniChar(GetWildChar()) > 0;
    if (wildInWord || (fWordRuleKind & 4) != 0) {
        std::vector<std::pair<VIndex, VIndex>> words;
        _GetWordRanges(text, words);
        for (const auto& [start, length] : words) {
            if (fCollator->EqualString_Like(text.GetCPointer() + start - 1, length, w, wl, options.IsDiacritical()))
                return true;
        }
        return false;
    }
    if ((fWordRuleKind & 1) == 0 || wl == 0)
        return false;
    const UniChar* t = text.GetCPointer();
    VIndex tl = text.GetLength();
    VIndex from = 0;
    while (from < tl) {
        VIndex matched = 0;
        VIndex at = fCollator->FindString(t + from, tl - from, w, wl, options.IsDiacritical(), &matched);
        if (at == 0)
            return false;
        VIndex first = from + at - 1;  // 0-based
        VIndex after = first + matched;
        bool deadBefore = first == 0 || IsDeadUnit(t[first - 1], _IsAlphaUnit, _IsDigitUnit);
        bool deadAfter = after >= tl || IsDeadUnit(t[after], _IsAlphaUnit, _IsDigitUnit);
        if (deadBefore && deadAfter)
            return true;
        from = first + 1;
    }
    return false;
}

void VIntlMgr::FindStrings(const VString& text, const VString& pattern, EFindStringMode mode, bool withDiacritics,
                           std::vector<std::pair<VIndex, VIndex>>& found, bool all) const
{
    found.clear();
    if (pattern.IsNull() || pattern.IsEmpty())
        return;
    const UniChar* t = text.GetCPointer();
    VIndex tl = text.GetLength();
    std::vector<std::pair<VIndex, VIndex>> words;
    bool haveWords = false;
    VIndex from = 0;  // 0-based
    while (from < tl) {
        VIndex matched = 0;
        VIndex at = fCollator->FindString(t + from, tl - from, pattern.GetCPointer(), pattern.GetLength(),
                                          withDiacritics, &matched);
        if (at == 0)
            break;
        VIndex position = from + at;  // 1-based in the whole text
        VIndex last = position + (matched > 0 ? matched : 1) - 1;
        if (!haveWords && (mode == eFindWholeWord || mode == eFindStartsWithWord || mode == eFindEndsWithWord)) {
            _GetWordRanges(text, words);
            haveWords = true;
        }
        bool accepted = true;
        if (mode == eFindWholeWord)
            accepted = !StrictlyAfterWordStart(position, words) && !StrictlyBeforeWordEnd(last, words);
        else if (mode == eFindStartsWithWord)
            accepted = !StrictlyAfterWordStart(position, words);
        else if (mode == eFindEndsWithWord)
            accepted = !StrictlyBeforeWordEnd(last, words);
        if (accepted) {
            found.emplace_back(position, matched);
            if (!all)
                return;
        }
        // Going on from the match's last unit may overlap the next match by
        // one unit; a one-unit match must still move the search on.
        VIndex next = last - 1;  // 0-based index of the last unit
        from = next > position - 1 ? next : position;
    }
}

bool VIntlMgr::TextLogicalToVisual(VString& text, int32_t) const
{
    return text.IsEmpty() || (text.GetLength() == 1 && text.GetUniChar(1) == u'\r');
}

bool VIntlMgr::GetBidiRuns(const UniChar* text, VIndex length, std::vector<VBidiRun>& runs,
                           std::vector<int32_t>& visualOrder, int32_t direction, bool ignoreTrailingCR)
{
    runs.clear();
    visualOrder.clear();
    if (ignoreTrailingCR && length > 0 && text != nullptr && text[length - 1] == u'\r')
        --length;
    bool rightToLeft = (direction & 1) != 0;
    runs.emplace_back(0, length, rightToLeft);
    visualOrder.push_back(0);
    return rightToLeft;
}

}  // namespace bkit
