// VCollator.cpp - LIKE matching and the system collator.
//
// This file implements the LIKE logic of VCollator (the wild card stands for
// any run of characters), with a fast path over 7-bit text, and
// VCollator_system, which compares and searches through its platform comparer.
#include "basekit/text/VCollator.h"

#include <algorithm>
#include <memory>

#include "basekit/platform/Locale.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/text/mac/XMacIntlMgr.h"
#include "basekit/text/mac/XMacStringCompare.h"

namespace bkit {

UniChar VCollator::sDefaultWildChar = u'@';

namespace {

bool IsIgnoredInLike(UniChar c)
{
    return c <= 0x08 || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

UniChar FoldAscii(UniChar c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<UniChar>(c + 32) : c;
}

}  // namespace

// --- VCollator ---

VCollator::VCollator(uint32_t dialect) : fDialect(dialect), fWildChar(sDefaultWildChar), fOptions(1) {}

VCollator::VCollator(const VCollator& other)
    : VObject(), IRefCountable(), fDialect(other.fDialect), fWildChar(other.fWildChar), fOptions(other.fOptions)
{
}

bool VCollator::BeginsWithString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                 VIndex patternLength, bool withDiacritics, VIndex* matchLength)
{
    VIndex length = 0;
    if (patternLength <= 0) {
        if (matchLength)
            *matchLength = 0;
        return true;
    }
    bool result = FindString(text, textLength, pattern, patternLength, withDiacritics, &length) == 1;
    if (matchLength)
        *matchLength = result ? length : 0;
    return result;
}

bool VCollator::EndsWithString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                               bool withDiacritics, VIndex* matchLength)
{
    if (matchLength)
        *matchLength = 0;
    if (patternLength <= 0)
        return true;
    VIndex last = 0;
    VIndex from = 0;
    while (from < textLength) {
        VIndex length = 0;
        VIndex at = FindString(text + from, textLength - from, pattern, patternLength, withDiacritics, &length);
        if (at == 0)
            break;
        last = from + at;
        from = last;  // the unit after the start of this hit
    }
    if (last == 0)
        return false;
    VIndex tail = textLength - (last - 1);
    bool result = EqualString(text + last - 1, tail, pattern, patternLength, withDiacritics);
    if (result && matchLength)
        *matchLength = tail;
    return result;
}

void VCollator::FindEachString(const UniChar* text, VIndex textLength, const UniChar* pattern, VIndex patternLength,
                               bool withDiacritics, const OccurrenceFound& found)
{
    VIndex from = 0;
    while (from < textLength) {
        VIndex length = 0;
        const VIndex at = FindString(text + from, textLength - from, pattern, patternLength, withDiacritics, &length);
        if (at == 0 || !found(from + at, length))
            return;
        from += at - 1 + std::max<VIndex>(length, 1);
    }
}

CompareResult VCollator::CompareString_Like(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                            VIndex patternLength, bool withDiacritics)
{
    if (fOptions & kOptionIgnoreWildCharInMiddle)
        return _CompareString_Like_IgnoreWildCharInMiddle(text, textLength, pattern, patternLength, withDiacritics);
    return _CompareString_Like_SupportWildCharInMiddle(text, textLength, pattern, patternLength, withDiacritics);
}

CompareResult VCollator::_CompareString_Like_SupportWildCharInMiddle(const UniChar* text, VIndex textLength,
                                                                      const UniChar* pattern, VIndex patternLength,
                                                                      bool withDiacritics)
{
    const UniChar wild = fWildChar;
    if (patternLength <= 0)
        return CompareString(text, textLength, pattern, 0, withDiacritics);
    VIndex firstWild = -1;
    for (VIndex i = 0; i < patternLength && firstWild < 0; ++i) {
        if (pattern[i] == wild)
            firstWild = i;
    }
    if (firstWild < 0)
        return CompareString(text, textLength, pattern, patternLength, withDiacritics);

    const UniChar* t = text;
    VIndex tl = textLength;
    VIndex p = 0;
    if (firstWild > 0) {
        VIndex matched = 0;
        if (!BeginsWithString(t, tl, pattern, firstWild, withDiacritics, &matched))
            return CompareString(t, tl, pattern, firstWild, withDiacritics);
        t += matched;
        tl -= matched;
        p = firstWild;
    }
    for (;;) {
        while (p < patternLength && pattern[p] == wild)
            ++p;
        if (p == patternLength)
            return CR_EQUAL;
        VIndex q = p;
        while (q < patternLength && pattern[q] != wild)
            ++q;
        const UniChar* segment = pattern + p;
        VIndex segmentLength = q - p;
        if (q < patternLength) {
            VIndex matched = 0;
            VIndex at = FindString(t, tl, segment, segmentLength, withDiacritics, &matched);
            if (at == 0)
                return CR_SMALLER;
            t += at - 1 + matched;
            tl -= at - 1 + matched;
            p = q;
            continue;
        }
        // Final segment: its last occurrence must end the text.
        VIndex last = 0;
        VIndex from = 0;
        while (from < tl) {
            VIndex matched = 0;
            VIndex at = FindString(t + from, tl - from, segment, segmentLength, withDiacritics, &matched);
            if (at == 0)
                break;
            last = from + at;
            from = last;
        }
        if (last == 0)
            return CR_SMALLER;
        CompareResult r = CompareString(t + last - 1, tl - (last - 1), segment, segmentLength, withDiacritics);
        return r == CR_BIGGER ? CR_SMALLER : CR_EQUAL;
    }
}

CompareResult VCollator::_CompareString_Like_IgnoreWildCharInMiddle(const UniChar* text, VIndex textLength,
                                                                     const UniChar* pattern, VIndex patternLength,
                                                                     bool withDiacritics)
{
    const UniChar wild = fWildChar;
    bool atStart = patternLength > 0 && pattern[0] == wild;
    bool atEnd = patternLength > 0 && pattern[patternLength - 1] == wild;
    if (!atStart && !atEnd)
        return CompareString(text, textLength, pattern, patternLength, withDiacritics);
    CompareResult longer = textLength > patternLength ? CR_BIGGER : CR_SMALLER;
    if (atStart && atEnd) {
        if (patternLength < 3)
            return CR_EQUAL;
        VIndex matched = 0;
        return FindString(text, textLength, pattern + 1, patternLength - 2, withDiacritics, &matched) != 0 ? CR_EQUAL
                                                                                                            : longer;
    }
    if (atEnd) {
        VIndex matched = 0;
        if (BeginsWithString(text, textLength, pattern, patternLength - 1, withDiacritics, &matched))
            return CR_EQUAL;
        return CompareString(text, textLength, pattern, patternLength - 1, withDiacritics);
    }
    VIndex matched = 0;
    if (EndsWithString(text, textLength, pattern + 1, patternLength - 1, withDiacritics, &matched))
        return CR_EQUAL;
    return longer;
}

bool VCollator::EqualString_Like(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                 VIndex patternLength, bool withDiacritics)
{
    const UniChar wild = fWildChar;
    auto slow = [&]() {
        return CompareString_Like(text, textLength, pattern, patternLength, withDiacritics) == CR_EQUAL;
    };
    VIndex i = 0;
    VIndex j = 0;
    for (;;) {
        while (i < textLength && IsIgnoredInLike(text[i]))
            ++i;
        while (j < patternLength && IsIgnoredInLike(pattern[j]))
            ++j;
        if (j == patternLength) {
            if (i == textLength)
                return true;
            if (text[i] < 0x7F)
                return false;
            return slow();
        }
        if (i == textLength) {
            VIndex k = j;
            while (k < patternLength && (pattern[k] == wild || IsIgnoredInLike(pattern[k])))
                ++k;
            if (k == patternLength)
                return true;
            if (pattern[k] < 0x7F)
                return false;
            return slow();
        }
        UniChar tc = text[i];
        UniChar pc = pattern[j];
        bool ordinaryWild = pc == wild && (fOptions & kOptionIgnoreWildCharInMiddle) && j > 0 &&
                            j < patternLength - 1;
        if (pc == wild && !ordinaryWild) {
            if (j == patternLength - 1)
                return true;
            return CompareString_Like(text + i, textLength - i, pattern + j, patternLength - j, withDiacritics) ==
                   CR_EQUAL;
        }
        if (tc < 0x80 && pc < 0x80 && tc != u'`' && pc != u'`' && tc != u'^' && pc != u'^') {
            bool same = withDiacritics ? tc == pc : FoldAscii(tc) == FoldAscii(pc);
            if (!same)
                return false;
            ++i;
            ++j;
            continue;
        }
        return CompareString_Like(text + i, textLength - i, pattern + j, patternLength - j, withDiacritics) ==
               CR_EQUAL;
    }
}

bool VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* pattern, VIndex patternLength,
                                                               UniChar wildChar)
{
    VIndex wildAt = -1;
    for (VIndex i = 0; i < patternLength; ++i) {
        if (pattern[i] == wildChar) {
            if (i != patternLength - 1)
                return false;
            wildAt = i;
        }
    }
    if (wildAt < 0)
        return true;
    for (VIndex i = 0; i < patternLength; ++i) {
        UniChar c = pattern[i];
        // Kana sort apart from their keys; a prefix lookup would miss matches.
        if ((c >= 0x3040 && c <= 0x3094) || (c >= 0x309D && c <= 0x309E) || (c >= 0x30A1 && c <= 0x30FE) ||
            (c >= 0xFF65 && c <= 0xFF9F))
            return false;
    }
    return true;
}

// --- VCollator_system ---

VCollator_system::VCollator_system(uint32_t dialect, XMacStringCompare* comparer)
    : VCollator(dialect), fComparer(comparer)
{
}

VCollator_system::VCollator_system(const VCollator_system& other)
    : VCollator(other), fComparer(new XMacStringCompare(*other.fComparer))
{
}

VCollator_system::~VCollator_system()
{
    delete fComparer;
}

VCollator_system* VCollator_system::Create(uint32_t dialect, VIntlMgr* manager)
{
    std::shared_ptr<const platform::Locale> locale =
        manager != nullptr ? manager->GetImpl().RetainCFLocaleRef() : XMacIntlMgr::CreateCFLocaleRef(dialect);
    auto comparer = std::make_unique<XMacStringCompare>(std::move(locale));
    if (!comparer->IsValid())
        return nullptr;
    return new VCollator_system(dialect, comparer.release());
}

VCollator* VCollator_system::Clone() const
{
    return new VCollator_system(*this);
}

void VCollator_system::GetStringComparisonAlgorithmSignature(VString& out) const
{
    out.FromCString("system:");
    out.AppendCString(fComparer->GetVersion().c_str());
}

CompareResult VCollator_system::CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                              bool withDiacritics)
{
    if (aLength <= 0)
        return bLength <= 0 ? CR_EQUAL : CR_SMALLER;
    if (bLength <= 0)
        return CR_BIGGER;
    int32_t result = fComparer->_CompareCFString(a, aLength, b, bLength, withDiacritics);
    return result < 0 ? CR_SMALLER : (result > 0 ? CR_BIGGER : CR_EQUAL);
}

bool VCollator_system::EqualString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                   bool withDiacritics)
{
    return CompareString(a, aLength, b, bLength, withDiacritics) == CR_EQUAL;
}

VIndex VCollator_system::FindString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                    VIndex patternLength, bool withDiacritics, VIndex* matchLength)
{
    if (matchLength)
        *matchLength = 0;
    if (textLength <= 0 || patternLength <= 0)
        return (patternLength <= 0 && textLength > 0) ? 1 : 0;
    VIndex location = 0;
    VIndex length = 0;
    if (!fComparer->_FindCFString(text, textLength, pattern, patternLength, withDiacritics, location, length))
        return 0;
    if (matchLength)
        *matchLength = length;
    return location + 1;
}

void VCollator_system::FindEachString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                      VIndex patternLength, bool withDiacritics, const OccurrenceFound& found)
{
    if (textLength <= 0 || patternLength <= 0) {
        VCollator::FindEachString(text, textLength, pattern, patternLength, withDiacritics, found);
        return;
    }
    fComparer->_FindEachCFString(text, textLength, pattern, patternLength, withDiacritics,
                                 [&found](VIndex location, VIndex length) { return found(location + 1, length); });
}

VIndex VCollator_system::ReversedFindString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                            VIndex patternLength, bool withDiacritics, VIndex* matchLength)
{
    if (matchLength)
        *matchLength = 0;
    if (textLength <= 0)
        return 0;
    if (patternLength <= 0)
        return 1;
    VIndex last = 0;
    VIndex lastLength = 0;
    VIndex from = 0;
    while (from < textLength) {
        VIndex length = 0;
        VIndex at = FindString(text + from, textLength - from, pattern, patternLength, withDiacritics, &length);
        if (at == 0)
            break;
        last = from + at;
        lastLength = length;
        from = last;  // again from the unit after this hit's start
    }
    if (matchLength)
        *matchLength = lastLength;
    return last;
}

}  // namespace bkit
