// VValueBagXML.cpp - the XML text of bags: elements, attributes and character data.
#include <algorithm>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/xml/IXMLHandler.h"

namespace bkit {

namespace {

constexpr int kMaxIndentation = 100;

bool IsHighSurrogate(UniChar u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(UniChar u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Walks the text and hands every character XML 1.0 can carry to emit (a
// surrogate pair as two units); tab, LF and CR go to emit too when
// withWhitespace, else they are dropped like every other control character,
// U+FFFE, U+FFFF and lone surrogates. The walk goes by length, so a NUL unit
// is dropped without ending it.
template <class Emit>
void ForEachXMLCharacter(const UniChar* p, VIndex n, bool withWhitespace, Emit emit)
{
    for (VIndex i = 0; i < n; ++i) {
        const UniChar u = p[i];
        if (u == 9 || u == 10 || u == 13) {
            if (withWhitespace)
                emit(u);
        } else if (IsHighSurrogate(u)) {
            if (i + 1 < n && IsLowSurrogate(p[i + 1])) {
                emit(u);
                emit(p[i + 1]);
                ++i;
            }
        } else if ((u >= 0x20 && u < 0xD800) || (u >= 0xE000 && u <= 0xFFFD)) {
            emit(u);
        }
    }
}

// The attribute value text: the five markup characters as entities, and tab,
// LF and CR as character references, since a parser would turn them into
// spaces otherwise.
void AppendAttributeText(VString& out, const VString& text)
{
    ForEachXMLCharacter(text.GetCPointer(), text.GetLength(), true, [&out](UniChar u) {
        switch (u) {
            case '&': out.AppendCString("&amp;"); break;
            case '<': out.AppendCString("&lt;"); break;
            case '>': out.AppendCString("&gt;"); break;
            case '"': out.AppendCString("&quot;"); break;
            case '\'': out.AppendCString("&apos;"); break;
            case 9: out.AppendCString("&#9;"); break;
            case 10: out.AppendCString("&#10;"); break;
            case 13: out.AppendCString("&#13;"); break;
            default: out.AppendUniChar(u);
        }
    });
}

void AppendAttributeValue(VString& out, const VValueSingle& value)
{
    VString text;
    if (value.GetValueKind() == VK_STRING) {
        value.GetString(text);
        AppendAttributeText(out, text);
    } else {
        // The XML texts of the other kinds hold no markup and no controls.
        value.GetXMLString(text, 1);
        ForEachXMLCharacter(text.GetCPointer(), text.GetLength(), false, [&out](UniChar u) { out.AppendUniChar(u); });
    }
}

}  // namespace

void VValueBag::DumpXMLIndentation(VString& out, int level)
{
    for (int i = 0; i < std::min(level, kMaxIndentation); ++i)
        out.AppendUniChar('\t');
}

bool VValueBag::NeedsEscapeSequence(const VString& text, const UniChar* begin, const UniChar* end)
{
    const UniChar* p = text.GetCPointer();
    const VIndex n = text.GetLength();
    if (begin != end) {
        for (VIndex i = 0; i < n; ++i) {
            if (std::find(begin, end, p[i]) != end)
                return true;
        }
        return false;
    }
    bool lineOrTab = false;
    bool other = false;
    for (VIndex i = 0; i < n && !(lineOrTab && other); ++i) {
        const UniChar u = p[i];
        if (u == 9 || u == 10 || u == 13)
            lineOrTab = true;
        else if (u != ' ')
            other = true;
    }
    return lineOrTab && other;
}

namespace {

VError ThrowNotAnXMLName(const VString& name)
{
    StThrowError<> err(VE_INVALID_PARAMETER);
    err->SetString("name", name);
    return VE_INVALID_PARAMETER;
}

}  // namespace

VError VValueBag::CheckXMLNames(const VString& elementName) const
{
    // A name written as it is could close the tag and add attributes of its
    // own choosing, so every name DumpXML writes is checked before anything is.
    if (!IXMLHandler::IsXMLName(elementName))
        return ThrowNotAnXMLName(elementName);
    std::vector<const VValueBag*> pending{this};
    VString name;
    while (!pending.empty()) {
        const VValueBag* bag = pending.back();
        pending.pop_back();
        const size_t cdataIndex = bag->fAttributes._FindIndex(CDataAttributeName());
        for (size_t i = 0; i < bag->fAttributes.GetCount(); ++i) {
            size_t length = 0;
            const char* bytes = bag->fAttributes.GetNameBytes(i, &length);
            if (i == cdataIndex || _IsHiddenMarker(bytes, length))
                continue;
            bag->fAttributes.GetName(i, name);
            if (!IXMLHandler::IsXMLName(name))
                return ThrowNotAnXMLName(name);
        }
        for (VIndex i = 1; i <= bag->GetElementNamesCount(); ++i) {
            const VBagArray* list = bag->GetNthElementName(i, &name);
            if (list == nullptr || list->GetCount() == 0)
                continue;
            if (!IXMLHandler::IsXMLName(name))
                return ThrowNotAnXMLName(name);
            for (VIndex j = 1; j <= list->GetCount(); ++j)
                pending.push_back(list->GetNth(j));
        }
    }
    return VE_OK;
}

void VValueBag::DumpXML(VString& out, const VString& elementName, bool indented) const
{
    _DumpXML(out, elementName, indented ? 0 : -1);
}

void VValueBag::DumpXMLAttributes(VString& out, const VString& elementName, VIndex cdataPosition) const
{
    out.AppendUniChar('<');
    out.AppendString(elementName);
    VString name;
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        if (static_cast<VIndex>(i + 1) == cdataPosition)
            continue;
        size_t length = 0;
        const char* bytes = fAttributes.GetNameBytes(i, &length);
        if (_IsHiddenMarker(bytes, length))
            continue;
        out.AppendUniChar(' ');
        fAttributes.GetName(i, name);
        out.AppendString(name);
        out.AppendCString("=\"");
        if (const VValueSingle* value = fAttributes.GetNthValue(i))
            AppendAttributeValue(out, *value);
        out.AppendUniChar('"');
    }
    if (cdataPosition == 0 && GetElementNamesCount() == 0)
        out.AppendUniChar('/');
    out.AppendUniChar('>');
}

bool VValueBag::DumpXMLCData(VString& out, VIndex cdataPosition) const
{
    VString text;
    if (const VValueSingle* value = fAttributes.GetNthValue(static_cast<size_t>(cdataPosition - 1)))
        value->GetString(text);
    static const UniChar kMarkup[] = {'&', '>', '"', '\'', '<'};
    const bool section = NeedsEscapeSequence(text, kMarkup, kMarkup + 5) || NeedsEscapeSequence(text, nullptr, nullptr);
    const UniChar* p = text.GetCPointer();
    const VIndex n = text.GetLength();
    if (!section) {
        const VIndex before = out.GetLength();
        ForEachXMLCharacter(p, n, false, [&out](UniChar u) { out.AppendUniChar(u); });
        return out.GetLength() == before;
    }
    out.AppendCString("<![CDATA[");
    // "]]>" inside the text closes the section after "]]" and a new one
    // starts with ">". A CR would read back as LF inside a section (line-end
    // normalisation), so it leaves the section as a character reference.
    VIndex matched = 0;  // how many of "]]" precede the current unit
    ForEachXMLCharacter(p, n, true, [&out, &matched](UniChar u) {
        if (u == 13) {
            out.AppendCString("]]>&#13;<![CDATA[");
            matched = 0;
            return;
        }
        if (u == '>' && matched >= 2) {
            out.AppendCString(">]]<![CDATA[>");
            matched = 0;
            return;
        }
        out.AppendUniChar(u);
        matched = (u == ']') ? matched + 1 : 0;
    });
    out.AppendCString("]]>");
    return false;
}

void VValueBag::_DumpXML(VString& out, const VString& elementName, int level) const
{
    if (level > 0)
        DumpXMLIndentation(out, level);
    const size_t cdataIndex = fAttributes._FindIndex(CDataAttributeName());
    const VIndex cdataPosition = cdataIndex < fAttributes.GetCount() ? static_cast<VIndex>(cdataIndex + 1) : 0;
    DumpXMLAttributes(out, elementName, cdataPosition);
    if (cdataPosition == 0 && GetElementNamesCount() == 0)
        return;
    bool hadChildren = false;
    VString name;
    for (VIndex i = 1; i <= GetElementNamesCount(); ++i) {
        const VBagArray* list = GetNthElementName(i, &name);
        for (VIndex j = 1; list != nullptr && j <= list->GetCount(); ++j) {
            out.AppendUniChar('\n');
            list->GetNth(j)->_DumpXML(out, name, level < 0 ? -1 : level + 1);
            hadChildren = true;
        }
    }
    const bool lineEnd = cdataPosition != 0 ? DumpXMLCData(out, cdataPosition) : hadChildren;
    if (level >= 0 && lineEnd) {
        out.AppendUniChar('\n');
        DumpXMLIndentation(out, level);
    }
    out.AppendCString("</");
    out.AppendString(elementName);
    out.AppendUniChar('>');
}

}  // namespace bkit
