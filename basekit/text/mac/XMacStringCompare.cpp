// XMacStringCompare.cpp - the system collator's platform comparer.
#include "basekit/text/mac/XMacStringCompare.h"

#include "basekit/platform/Locale.h"
#include "basekit/platform/LocaleStringCompare.h"

namespace bkit {

XMacStringCompare::XMacStringCompare(std::shared_ptr<const platform::Locale> locale)
    : fLocale(std::move(locale)), fComparer(*fLocale)
{
}

XMacStringCompare::XMacStringCompare(const XMacStringCompare& other)
    : fLocale(other.fLocale), fComparer(other.fComparer)
{
}

XMacStringCompare::~XMacStringCompare() = default;

bool XMacStringCompare::IsValid() const
{
    return fComparer.IsValid();
}

bool XMacStringCompare::_FindCFString(const UniChar* text, VIndex textLength, const UniChar* pattern,
                                      VIndex patternLength, bool withDiacritics, VIndex& location,
                                      VIndex& length) const
{
    int32_t at = 0;
    int32_t covered = 0;
    bool found = fComparer.Find(text, textLength, pattern, patternLength, withDiacritics, at, covered);
    location = at;
    length = covered;
    return found;
}

std::string XMacStringCompare::GetVersion() const
{
    return fComparer.GetVersion();
}

}  // namespace bkit
