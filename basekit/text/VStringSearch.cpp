// VStringSearch.cpp - searching, replacing and similarity of string texts.
//
// This file implements the searches of VString (exact unit searches: a scan
// for the pattern's first unit with a comparison at each hit, which hands over
// to a Knuth-Morris-Pratt matcher when false starts pile up, so the search
// stays linear; and locale-aware ones through the collator),
// the replacement of occurrences, and the longest-common-subsequence
// similarity. Every position handed in is checked against the text: a range
// outside it finds nothing and changes nothing.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

// Plain search, for when the failure table cannot be had.
VIndex NaiveFind(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength)
{
    for (VIndex i = 0; i + patternLength <= textLength; ++i) {
        if (std::memcmp(text + i, pattern, static_cast<size_t>(patternLength) * sizeof(UniChar)) == 0)
            return i + 1;
    }
    return 0;
}

// The first index in [from, to) holding c, or to.
VIndex FindUnit(const UniChar* text, VIndex from, VIndex to, UniChar c)
{
    VIndex i = from;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
    for (; i + 8 <= to; i += 8) {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted));
        if (mask != 0)
            return i + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
    }
#endif
    for (; i < to; ++i) {
        if (text[i] == c)
            return i;
    }
    return to;
}

// Knuth-Morris-Pratt from index from; 1-based position of the first match or 0.
VIndex KMPFind(const UniChar* text, VIndex from, VIndex textLength, const UniChar* pattern, VIndex patternLength)
{
    // failure[i]: length of the longest proper border of pattern[0, i).
    VIndex stackTable[256];
    VIndex* failure = stackTable;
    if (patternLength >= 256) {
        failure = static_cast<VIndex*>(std::malloc((static_cast<size_t>(patternLength) + 1) * sizeof(VIndex)));
        if (failure == nullptr) {
            VIndex at = NaiveFind(text + from, textLength - from, pattern, patternLength);
            return at == 0 ? 0 : at + from;
        }
    }
    failure[0] = -1;
    VIndex k = -1;
    for (VIndex i = 0; i < patternLength; ++i) {
        while (k >= 0 && pattern[k] != pattern[i])
            k = failure[k];
        ++k;
        failure[i + 1] = k;
    }

    VIndex result = 0;
    VIndex matched = 0;
    for (VIndex i = from; i < textLength; ++i) {
        while (matched >= 0 && pattern[matched] != text[i])
            matched = failure[matched];
        ++matched;
        if (matched == patternLength) {
            result = i - patternLength + 2;
            break;
        }
    }
    if (failure != stackTable)
        std::free(failure);
    return result;
}

}  // namespace

VIndex VString::FindRawString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength)
{
    if (patternLength <= 0)
        return 1;
    if (text == nullptr || textLength < patternLength)
        return 0;

    // Candidates are the places of the first unit. Units compared at false
    // starts are counted: once they outweigh the text scanned so far, the
    // pattern is one that repeats itself and the linear matcher takes over
    // from the current place (every earlier place is known not to match).
    const VIndex lastStart = textLength - patternLength;
    const size_t restBytes = static_cast<size_t>(patternLength - 1) * sizeof(UniChar);
    int64_t wasted = 0;
    VIndex i = 0;
    for (;;) {
        i = FindUnit(text, i, lastStart + 1, pattern[0]);
        if (i > lastStart)
            return 0;
        if (std::memcmp(text + i + 1, pattern + 1, restBytes) == 0)
            return i + 1;
        wasted += patternLength;
        ++i;
        if (wasted > 256 + 2 * static_cast<int64_t>(i))
            return KMPFind(text, i, textLength, pattern, patternLength);
    }
}

VIndex VString::FindRawString(const VString& s, VIndex start) const
{
    if (start < 1 || static_cast<int64_t>(fLength) - (start - 1) < s.fLength)
        return 0;
    if (s.fLength == 0)
        return start;
    VIndex at = FindRawString(fBuffer + start - 1, fLength - start + 1, s.fBuffer, s.fLength);
    return at == 0 ? 0 : at + start - 1;
}

VIndex VString::FindUniChar(UniChar c, VIndex start, bool backwards) const
{
    if (fLength == 0 || start > fLength)
        return 0;
    VIndex from = std::max<VIndex>(start, 1);
    if (backwards) {
        for (VIndex i = from; i >= 1; --i) {
            if (fBuffer[i - 1] == c)
                return i;
        }
        return 0;
    }
    for (VIndex i = from; i <= fLength; ++i) {
        if (fBuffer[i - 1] == c)
            return i;
    }
    return 0;
}

VIndex VString::Find(const VString& s, VIndex start, bool withDiacritics) const
{
    if (start < 1 || start > fLength + 1)
        return 0;
    VIndex matchLength = 0;
    VIndex at = VIntlMgr::GetCurrentOrDefault()->GetCollator()->FindString(
        fBuffer + start - 1, fLength - start + 1, s.fBuffer, s.fLength, withDiacritics, &matchLength);
    return at == 0 ? 0 : at + start - 1;
}

bool VString::BeginsWith(const VString& s, bool withDiacritics) const
{
    // A prefix can only match near the start; the collator gets a short window.
    VIndex window = static_cast<VIndex>(std::min<int64_t>(static_cast<int64_t>(s.fLength) + 16, fLength));
    VIndex matchLength = 0;
    return VIntlMgr::GetCurrentOrDefault()->GetCollator()->BeginsWithString(fBuffer, window, s.fBuffer, s.fLength,
                                                                            withDiacritics, &matchLength);
}

bool VString::EndsWith(const VString& s, bool withDiacritics) const
{
    VIndex matchLength = 0;
    return VIntlMgr::GetCurrentOrDefault()->GetCollator()->EndsWithString(fBuffer, fLength, s.fBuffer, s.fLength,
                                                                          withDiacritics, &matchLength);
}

bool VString::BeginsWithRawString(const VString& s) const
{
    return s.fLength <= fLength &&
           std::memcmp(fBuffer, s.fBuffer, static_cast<size_t>(s.fLength) * sizeof(UniChar)) == 0;
}

bool VString::EndsWithRawString(const VString& s) const
{
    return s.fLength <= fLength &&
           std::memcmp(fBuffer + fLength - s.fLength, s.fBuffer, static_cast<size_t>(s.fLength) * sizeof(UniChar)) ==
               0;
}

VIndex VString::ExchangeRawString(const VString& patternIn, const VString& replacementIn, VIndex start, VIndex count)
{
    if (count < 1 || start < 1 || start > fLength || patternIn.fLength == 0)
        return 0;
    // Shares keep both texts alive (and unchanged) while this buffer changes.
    VString pattern(patternIn);
    VString replacement(replacementIn);
    const VIndex p = pattern.fLength;
    const VIndex r = replacement.fLength;

    if (r == p) {
        VIndex replaced = 0;
        VIndex pos = start;
        while (replaced < count) {
            VIndex at = FindRawString(pattern, pos);
            if (at == 0)
                break;
            if (replaced == 0 && !_EnsurePrivate(fLength))
                return 0;
            std::memcpy(fBuffer + at - 1, replacement.fBuffer, static_cast<size_t>(r) * sizeof(UniChar));
            ++replaced;
            pos = at + p;
        }
        if (replaced > 0)
            SetDirty(true);
        return replaced;
    }

    if (r < p) {
        // One pass from left to right: the text only shrinks, each kept stretch moves once.
        VIndex first = FindRawString(pattern, start);
        if (first == 0 || !_EnsurePrivate(fLength))
            return 0;
        VIndex replaced = 0;
        VIndex read = first - 1;
        VIndex write = first - 1;
        VIndex at = first;
        while (at != 0 && replaced < count) {
            VIndex stretch = (at - 1) - read;
            if (stretch > 0 && write != read)
                std::memmove(fBuffer + write, fBuffer + read, static_cast<size_t>(stretch) * sizeof(UniChar));
            write += stretch;
            if (r > 0)
                std::memcpy(fBuffer + write, replacement.fBuffer, static_cast<size_t>(r) * sizeof(UniChar));
            write += r;
            read = at - 1 + p;
            ++replaced;
            at = replaced < count ? FindRawString(pattern, read + 1) : 0;
        }
        VIndex tail = fLength - read;
        if (tail > 0)
            std::memmove(fBuffer + write, fBuffer + read, static_cast<size_t>(tail) * sizeof(UniChar));
        _SetLengthAndTerminate(write + tail);
        return replaced;
    }

    // Longer replacement: collect the matches, make room once, move from the right.
    std::vector<VIndex> matches;
    VIndex pos = start;
    while (static_cast<VIndex>(matches.size()) < count) {
        VIndex at = FindRawString(pattern, pos);
        if (at == 0)
            break;
        matches.push_back(at);
        pos = at + p;
    }
    if (matches.empty())
        return 0;
    int64_t finalLength = static_cast<int64_t>(fLength) + static_cast<int64_t>(matches.size()) * (r - p);
    if (finalLength > INT32_MAX) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return 0;
    }
    if (!_EnsurePrivate(static_cast<VIndex>(finalLength)))
        return 0;
    VIndex readEnd = fLength;
    VIndex writeEnd = static_cast<VIndex>(finalLength);
    for (size_t i = matches.size(); i-- > 0;) {
        VIndex matchEnd = matches[i] - 1 + p;
        VIndex stretch = readEnd - matchEnd;
        writeEnd -= stretch;
        std::memmove(fBuffer + writeEnd, fBuffer + matchEnd, static_cast<size_t>(stretch) * sizeof(UniChar));
        writeEnd -= r;
        std::memcpy(fBuffer + writeEnd, replacement.fBuffer, static_cast<size_t>(r) * sizeof(UniChar));
        readEnd = matches[i] - 1;
    }
    _SetLengthAndTerminate(static_cast<VIndex>(finalLength));
    return static_cast<VIndex>(matches.size());
}

void VString::Exchange(const VString& patternIn, const VString& replacementIn, VIndex start, VIndex count,
                       bool withDiacritics, VCollator* collator)
{
    if (count < 1 || start < 1 || start > fLength || patternIn.fLength == 0)
        return;
    if (collator == nullptr)
        collator = VIntlMgr::GetCurrentOrDefault()->GetCollator();
    VString pattern(patternIn);
    VString replacement(replacementIn);

    VString result;
    if (!result._ReallocBuffer(fLength, false))
        return;
    result._SetLengthAndTerminate(0);
    result.AppendUniChars(fBuffer, start - 1);
    // One search over the rest of the text hands every occurrence in turn,
    // and the result grows by appending: the whole exchange follows the text
    // once, however many occurrences it replaces.
    VIndex pos = start - 1;
    VIndex replaced = 0;
    collator->FindEachString(fBuffer + pos, fLength - pos, pattern.fBuffer, pattern.fLength, withDiacritics,
                             [&](VIndex at, VIndex matchLength) {
                                 const VIndex begin = start - 1 + at - 1;
                                 result.AppendUniChars(fBuffer + pos, begin - pos);
                                 result.AppendString(replacement);
                                 // A match of no units still moves on, or the search would never end.
                                 pos = begin + std::max<VIndex>(matchLength, 1);
                                 if (matchLength == 0)
                                     result.AppendUniChar(fBuffer[begin]);
                                 return ++replaced < count;
                             });
    if (replaced == 0)
        return;
    result.AppendUniChars(fBuffer + pos, fLength - pos);
    Swap(result);
    SetNull(false);
    SetDirty(true);
}

double VString::SimilarToString(const VString& s) const
{
    if (fLength == 0 || s.fLength == 0)
        return 0.0;
    // Longest common subsequence with one row over the shorter text.
    const UniChar* longer = fBuffer;
    const UniChar* shorter = s.fBuffer;
    VIndex longLength = fLength;
    VIndex shortLength = s.fLength;
    if (shortLength > longLength) {
        std::swap(longer, shorter);
        std::swap(longLength, shortLength);
    }
    std::vector<VIndex> row(static_cast<size_t>(shortLength) + 1, 0);
    for (VIndex i = 0; i < longLength; ++i) {
        VIndex diagonal = 0;  // row[j] of the previous line
        for (VIndex j = 1; j <= shortLength; ++j) {
            VIndex above = row[j];
            if (longer[i] == shorter[j - 1])
                row[j] = diagonal + 1;
            else
                row[j] = std::max(row[j], row[j - 1]);
            diagonal = above;
        }
    }
    return static_cast<double>(row[shortLength]) / static_cast<double>(fLength);
}

}  // namespace bkit
