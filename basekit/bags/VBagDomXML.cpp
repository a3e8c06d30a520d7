// VBagDomXML.cpp - bags into and out of DOM trees, and typed values guessed from XML text.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/values/VScalars.h"
#include "basekit/xml/XMLDomHandles.h"

namespace bkit {

// --- DOM ---

VError ReadBagFromDomXML(XMLDOMNode node, VValueBag& bag)
{
    XMLDOMElement element = IXMLDomWrapper::GetNodeElement(node);
    if (element == nullptr)
        return VE_XML_ERROR;
    VString name;
    IXMLDomWrapper::GetNodeElementName(element, name);
    StErrorContextInstaller errors;
    VRefPtr<VXMLBagHandler_UniqueElement> handler =
        VRefPtr<VXMLBagHandler_UniqueElement>::Adopt(new VXMLBagHandler_UniqueElement(&bag, name));
    IXMLDomWrapper::Parse(node, handler.Get());
    return errors.GetLastError();
}

VError WriteBagToDomXML(const VValueBag& bag, XMLDOMNode node, std::vector<XMLDOMNode>* created)
{
    XMLDOMElement element = IXMLDomWrapper::GetNodeElement(node);
    if (element == nullptr)
        return VE_INVALID_PARAMETER;
    return WriteBagToDomXMLElement(bag, element, created) ? VE_OK : VE_UNKNOWN_ERROR;
}

namespace {

// The bag's attributes on the element, in slot order.
void WriteAttributesToDom(const VValueBag& bag, XMLDOMElement element)
{
    VString name;
    VString text;
    for (VIndex i = 1; i <= bag.GetAttributesCount(); ++i) {
        const VValueSingle* value = bag.GetNthAttribute(i, &name);
        if (value == nullptr)
            continue;
        if (value->GetValueKind() == VK_STRING) {
            value->GetString(text);
        } else {
            // The DOM escapes on output: hand it the plain text.
            value->GetXMLString(text, 1);
            text.TranscodeFromXML();
        }
        IXMLDomWrapper::SetNodeElementAttribute(element, name, text, false, nullptr);
    }
}

// A bag being written: its element and the next child bag to write.
struct DomWriteFrame {
    const VValueBag* fBag;
    XMLDOMElement fElement;
    VIndex fNameIndex;
    VIndex fItemIndex;
};

}  // namespace

bool WriteBagToDomXMLElement(const VValueBag& bag, XMLDOMElement element, std::vector<XMLDOMNode>* created)
{
    XMLDOMDocument document = IXMLDomWrapper::GetNodeDocument(IXMLDomWrapper::GetNodeFromNodeElement(element));
    if (document == nullptr)
        return false;
    // Bags can nest deeper than a stack holds: the open bags are kept here,
    // not in calls.
    std::vector<DomWriteFrame> frames;
    WriteAttributesToDom(bag, element);
    frames.push_back(DomWriteFrame{&bag, element, 1, 0});
    VString name;
    while (!frames.empty()) {
        DomWriteFrame& top = frames.back();
        if (top.fNameIndex > top.fBag->GetElementNamesCount()) {
            frames.pop_back();
            continue;
        }
        const VBagArray* list = top.fBag->GetNthElementName(top.fNameIndex, &name);
        if (list == nullptr || ++top.fItemIndex > list->GetCount()) {
            ++top.fNameIndex;
            top.fItemIndex = 0;
            continue;
        }
        XMLDOMElement child = IXMLDomWrapper::CreateElement(document, top.fElement, name.GetCPointer());
        // A child that cannot be made is a failure, not a silent gap.
        if (child == nullptr)
            return false;
        if (created != nullptr)
            created->push_back(IXMLDomWrapper::GetNodeFromNodeElement(child));
        XMLDOMElement parent = top.fElement;
        const bool appended = xmldom::Guard(false, [&] {
            xmldom::Element(parent)->appendChild(xmldom::Element(child));
            return true;
        });
        if (!appended)
            return false;
        const VValueBag* childBag = list->GetNth(top.fItemIndex);
        WriteAttributesToDom(*childBag, child);
        frames.push_back(DomWriteFrame{childBag, child, 1, 0});
    }
    return true;
}

// --- typed values from XML text ---

namespace {

constexpr UniChar kMinusSign = 0x2212;

bool IsDigit(UniChar u) { return u >= '0' && u <= '9'; }
bool IsHexDigit(UniChar u) { return IsDigit(u) || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'); }

bool Equals(const UniChar* p, VIndex n, const char* word)
{
    VIndex i = 0;
    for (; i < n && word[i] != 0; ++i) {
        if (p[i] != static_cast<UniChar>(word[i]))
            return false;
    }
    return i == n && word[i] == 0;
}

// A number covering the whole text (sign already taken off), or null.
VValueSingle* ParseNumber(const UniChar* p, VIndex n, bool negative)
{
    VIndex i = 0;
    std::string ascii;
    while (i < n && IsDigit(p[i]))
        ascii += static_cast<char>(p[i++]);
    const std::string digits = ascii;
    if (digits.empty())
        return nullptr;
    bool isReal = false;
    if (i < n && p[i] == '.') {
        isReal = true;
        ascii += '.';
        ++i;
        const VIndex start = i;
        while (i < n && IsDigit(p[i]))
            ascii += static_cast<char>(p[i++]);
        if (i == start)
            return nullptr;
    }
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        isReal = true;
        ascii += 'e';
        ++i;
        if (i < n && (p[i] == '-' || p[i] == kMinusSign || p[i] == '+'))
            ascii += (p[i++] == '+') ? '+' : '-';
        const VIndex start = i;
        while (i < n && IsDigit(p[i]))
            ascii += static_cast<char>(p[i++]);
        if (i == start)
            return nullptr;
    }
    if (i != n)
        return nullptr;
    if (isReal) {
        if (ascii.size() > 199)
            ascii.resize(199);
        double value = 0;
        auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
        (void)end;
        if (ec != std::errc())
            return nullptr;
        return new VReal(negative ? -value : value);
    }
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    (void)end;
    if (ec != std::errc())
        return nullptr;
    if (value < (1ull << 31))
        return new VLong(negative ? -static_cast<int32_t>(value) : static_cast<int32_t>(value));
    if (std::to_string(value) != digits || value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return nullptr;
    return new VLong8(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
}

// 32 hexadecimal digits, optionally in braces, dashes allowed between digits.
VValueSingle* ParseUUID(const UniChar* p, VIndex n)
{
    if (n < 32)
        return nullptr;
    VIndex begin = 0;
    VIndex end = n;
    if (p[0] == '{') {
        if (p[n - 1] != '}')
            return nullptr;
        begin = 1;
        end = n - 1;
    }
    std::string hex;
    for (VIndex i = begin; i < end; ++i) {
        if (IsHexDigit(p[i]))
            hex += static_cast<char>(p[i]);
        else if (!((p[i] == '-' || p[i] == kMinusSign) && !hex.empty()))
            return nullptr;
    }
    if (hex.size() != 32)
        return nullptr;
    return new VUUID(hex.c_str());
}

}  // namespace

VValueSingle* ParseXMLValue(const VString& text)
{
    const VIntlMgr* intl = VIntlMgr::GetCurrentOrDefault();
    const UniChar* p = text.GetCPointer();
    VIndex n = text.GetLength();
    while (n > 0 && intl->IsSpace(p[0])) {
        ++p;
        --n;
    }
    while (n > 0 && intl->IsSpace(p[n - 1]))
        --n;
    bool plus = false;
    bool negative = false;
    if (n > 0 && (p[0] == '+' || p[0] == '-' || p[0] == kMinusSign)) {
        plus = p[0] == '+';
        negative = !plus;
        ++p;
        --n;
    }
    const bool signed_ = plus || negative;
    const UniChar first = n > 0 ? p[0] : 0;
    const bool letter = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
    if (letter && first != 'I' && first != 'N' && first != 'f' && first != 't')
        return static_cast<VValueSingle*>(text.Clone());

    VValueSingle* value = nullptr;
    if (!plus && Equals(p, n, "INF"))
        value = new VReal(negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity());
    else if (!signed_ && Equals(p, n, "NaN"))
        value = new VReal(std::numeric_limits<double>::quiet_NaN());
    else if (!signed_ && Equals(p, n, "false"))
        value = new VBoolean(false);
    else if (!signed_ && Equals(p, n, "true"))
        value = new VBoolean(true);
    else
        value = ParseNumber(p, n, negative);
    if (value == nullptr && !signed_)
        value = ParseUUID(p, n);
    return value != nullptr ? value : static_cast<VValueSingle*>(text.Clone());
}

}  // namespace bkit
