// XMLTextUtils.h - small text helpers shared by the readers of the XML layer.
#pragma once

#include "basekit/text/VString.h"

namespace bkit {

// Removes spaces and tabs (only those) at both ends of text.
inline void TrimSpacesAndTabs(VString& text)
{
    const UniChar* p = text.GetCPointer();
    VIndex begin = 0;
    VIndex end = text.GetLength();
    while (begin < end && (p[begin] == ' ' || p[begin] == '\t'))
        ++begin;
    while (end > begin && (p[end - 1] == ' ' || p[end - 1] == '\t'))
        --end;
    if (begin > 0 || end < text.GetLength())
        text.SubString(begin + 1, end - begin);
}

}  // namespace bkit
