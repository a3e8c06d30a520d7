// VURLEncoding.cpp - percent encoding and path-style conversion of URLs.
//
// This file implements VURL's static text services: percent encoding and
// decoding, the test for safe characters, and the conversions between POSIX,
// Windows and internal ':' path texts (full paths go through XMacVolumes).
#include <array>
#include <cstring>
#include <string>

#include "basekit/files/VURL.h"
#include "basekit/text/HexDigits.h"
#include "basekit/files/mac/XMacVolumes.h"

namespace bkit {

namespace {

const char kSafeChars[] =
    ":/?#[]@!$&'()*+,;=0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-._~%";

const char kUnsafeWithoutBrackets[] = "<>\"#%{}|\\^` ";

using ByteSet = std::array<bool, 256>;

ByteSet MakeEncodingSet(bool withBrackets)
{
    ByteSet set{};
    for (const char* p = kUnsafeWithoutBrackets; *p; ++p)
        set[static_cast<unsigned char>(*p)] = true;
    if (withBrackets) {
        set['['] = true;
        set[']'] = true;
    }
    for (int b = 0; b < 32; ++b)
        set[b] = true;
    for (int b = 127; b < 256; ++b)
        set[b] = true;
    return set;
}

const ByteSet& EncodingSet(bool withBrackets)
{
    static const ByteSet sWith = MakeEncodingSet(true);
    static const ByteSet sWithout = MakeEncodingSet(false);
    return withBrackets ? sWith : sWithout;
}


}  // namespace

bool VURL::IsOnlySafeChars(const VString& text)
{
    const UniChar* units = text.GetCPointer();
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        UniChar c = units[i];
        if (c > 127 || c == 0 || strchr(kSafeChars, static_cast<char>(c)) == nullptr)
            return false;
    }
    return true;
}

void VURL::Encode(VString& text, bool keepColons, bool decomposeFirst, bool withBrackets, bool keepBackslashU)
{
    const ByteSet& set = EncodingSet(withBrackets);
    if (decomposeFirst)
        text.Decompose();
    std::string bytes = to_string(text);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (keepBackslashU && b == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'u') {
            out.push_back('\\');
        } else if (b == ':' && keepColons) {
            out.push_back(':');
        } else if (set[b]) {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        } else {
            out.push_back(static_cast<char>(b));
        }
    }
    if (out.empty())
        text.Clear();
    else
        text.FromBlock(out.data(), out.size(), VTC_UTF_8);
}

void VURL::Decode(VString& text)
{
    if (text.FindUniChar(u'%') == 0) {
        text.Compose();
        return;
    }
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VString out;
    VIndex i = 0;
    while (i < length) {
        // An escape needs its two units; a '%' nearer the end is plain text.
        if (units[i] != u'%' || i + 2 >= length) {
            out.AppendUniChar(units[i]);
            ++i;
            continue;
        }
        std::string run;
        while (i + 2 < length && units[i] == u'%') {
            int high = HexDigitValue(units[i + 1]);
            int low = HexDigitValue(units[i + 2]);
            run.push_back(static_cast<char>(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low)));
            i += 3;
        }
        if (run.size() == 1)
            out.AppendUniChar(static_cast<UniChar>(static_cast<unsigned char>(run[0])));
        else
            out.AppendBlock(run.data(), run.size(), VTC_UTF_8);
    }
    out.Compose();
    text.FromString(out);
}

void VURL::WIN_to_POSIX(VString& text)
{
    text.Exchange(u'\\', u'/');
}

void VURL::POSIX_to_WIN(VString& text)
{
    text.Exchange(u'/', u'\\');
}

void VURL::Convert(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative)
{
    if (from == eURL_POSIX_STYLE && to == eURL_WIN_STYLE)
        POSIX_to_WIN(text);
    else if (from == eURL_WIN_STYLE && to == eURL_POSIX_STYLE)
        WIN_to_POSIX(text);
    else if (from == eURL_POSIX_STYLE && to == eURL_HFS_STYLE)
        POSIX_to_HFS(text, relative);
    else if (from == eURL_HFS_STYLE && to == eURL_POSIX_STYLE)
        HFS_to_POSIX(text, relative);
}

void VURL::POSIX_to_HFS(VString& text, bool relative)
{
    if (!relative) {
        VString converted;
        std::string bytes = to_string(text);
        bool isFolder = !bytes.empty() && bytes.back() == '/';
        if (XMacVolumes::PosixFullPathToHFS(bytes.c_str(), isFolder, converted)) {
            text.FromString(converted);
            return;
        }
    }

    // One pass counting pending levels: each run of '/' is one, each ".."
    // component one more; "." components vanish. A ".." or "." that ends the
    // text counts as one that ends with '/', so that no component named ".."
    // is ever made.
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VString out;
    int pending = 0;
    bool componentStart = true;
    VIndex i = 0;
    while (i < length) {
        UniChar c = units[i];
        if (c == u'/') {
            ++pending;
            while (i < length && units[i] == u'/')
                ++i;
            componentStart = true;
            continue;
        }
        if (componentStart && c == u'.') {
            bool dotEnds = i + 1 == length || units[i + 1] == u'/';
            bool dotDotEnds = i + 1 < length && units[i + 1] == u'.' && (i + 2 == length || units[i + 2] == u'/');
            if (dotEnds) {
                i += (i + 1 == length) ? 1 : 2;
                continue;
            }
            if (dotDotEnds) {
                ++pending;
                i += (i + 2 == length) ? 2 : 3;
                continue;
            }
        }
        for (; pending > 0; --pending)
            out.AppendUniChar(u':');
        out.AppendUniChar(c == u':' ? u'/' : c);
        componentStart = false;
        ++i;
    }
    for (; pending > 0; --pending)
        out.AppendUniChar(u':');
    text.FromString(out);
}

void VURL::HFS_to_POSIX(VString& text, bool relative)
{
    if (text.IsEmpty() || text.IsNull())
        return;
    if (!relative) {
        VString out;
        XMacVolumes::HFSFullPathToPosix(text, out);
        text.FromString(out);
        return;
    }

    // A run of n ':' is one separator and n-1 climbs. A run at the very start
    // writes no '/': a relative text must not turn into a full one.
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VString out;
    VIndex i = 0;
    while (i < length) {
        if (units[i] != u':') {
            out.AppendUniChar(units[i] == u'/' ? u':' : units[i]);
            ++i;
            continue;
        }
        VIndex runStart = i;
        while (i < length && units[i] == u':')
            ++i;
        VIndex run = i - runStart;
        if (runStart != 0)
            out.AppendUniChar(u'/');
        for (VIndex n = 1; n < run; ++n)
            out.AppendCString("../");
    }
    text.FromString(out);
}

}  // namespace bkit
