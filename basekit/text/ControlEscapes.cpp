// ControlEscapes.cpp - control characters written as visible escapes.
#include "basekit/text/ControlEscapes.h"

#include <cstdint>

namespace bkit {

namespace {

const char kHex[] = "0123456789ABCDEF";

// The number of bytes of the control at text[i] and its code point, or 0
// when no control starts there.
size_t ControlAt(std::string_view text, size_t i, uint32_t& code)
{
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
    unsigned char first = byte(i);
    if (first < 0x20 || first == 0x7F) {
        code = first;
        return 1;
    }
    if (first == 0xC2 && i + 1 < text.size() && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
        code = byte(i + 1);
        return 2;
    }
    if (first == 0xE2 && i + 2 < text.size() && (byte(i + 1) & 0xC0) == 0x80 && (byte(i + 2) & 0xC0) == 0x80) {
        code = 0x2000u | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
        if ((code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069))
            return 3;
    }
    return 0;
}

void AppendEscape(uint32_t code, std::string& out)
{
    switch (code) {
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    default: break;
    }
    if (code < 0x80) {
        out += "\\x";
        out += kHex[code >> 4];
        out += kHex[code & 0xF];
        return;
    }
    out += "\\u{";
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        uint32_t digit = (code >> shift) & 0xF;
        started = started || digit != 0;
        if (started)
            out += kHex[digit];
    }
    out += '}';
}

}  // namespace

bool HasControls(std::string_view utf8)
{
    uint32_t code;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (ControlAt(utf8, i, code) != 0)
            return true;
    }
    return false;
}

std::string EscapeControls(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() + 8);
    uint32_t code;
    for (size_t i = 0; i < utf8.size();) {
        if (size_t length = ControlAt(utf8, i, code)) {
            AppendEscape(code, out);
            i += length;
        } else {
            out += utf8[i++];
        }
    }
    return out;
}

VString EscapeControls(const VString& text)
{
    std::string utf8 = to_string(text);
    if (!HasControls(utf8))
        return text;
    VString escaped;
    escaped.FromCString(EscapeControls(utf8).c_str());
    return escaped;
}

}  // namespace bkit
