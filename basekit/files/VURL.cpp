// VURL.cpp - URLs in six parts.
//
// This file implements VURL's construction, splitting, part access and
// changes. Percent encoding and the path-style conversions live in
// VURLEncoding.cpp.
#include "basekit/files/VURL.h"

#include "basekit/files/VFilePath.h"

namespace bkit {

namespace {

const VString& FileScheme()
{
    static const VString sFileScheme("file");
    return sFileScheme;
}

// 1-based position of the first unit c at or after start, 0 when none.
VIndex FindFrom(const VString& text, UniChar c, VIndex start)
{
    if (start < 1 || start > text.GetLength())
        return 0;
    return text.FindUniChar(c, start);
}

bool BeginsWithUnit(const VString& text, UniChar c)
{
    return text.GetLength() > 0 && text.GetCPointer()[0] == c;
}

}  // namespace

VURL::VURL() = default;

VURL::VURL(const VURL& other) : VObject()
{
    FromURL(other);
}

VURL::~VURL() = default;

VURL::VURL(const VString& text, bool encoded)
{
    FromString(text, encoded);
}

VURL::VURL(const VString& path, EURLPathStyle style, const VString& base)
{
    FromFilePath(path, style, base);
}

VURL::VURL(const VFilePath& path)
{
    FromFilePath(path);
}

void VURL::FromURL(const VURL& other)
{
    if (&other == this)
        return;
    for (int i = 0; i <= e_LastPart; ++i)
        fParts[i] = other.fParts[i];
    fURL.FromString(other.fURL);
    fEncodedURL.FromString(other.fEncodedURL);
    fIsValid = other.fIsValid;
}

void VURL::Clear()
{
    fURL.Clear();
    fEncodedURL.Clear();
    for (URLPart& part : fParts)
        part = URLPart();
    fIsValid = false;
}

void VURL::_Split(bool noExtras)
{
    fIsValid = _BuildURLArray(fURL, noExtras, fParts);
}

bool VURL::_BuildURLArray(const VString& text, bool noExtras, URLPart parts[6])
{
    for (int i = 0; i <= e_LastPart; ++i)
        parts[i] = URLPart();
    VIndex length = text.GetLength();
    if (length == 0)
        return true;

    const UniChar* units = text.GetCPointer();
    bool valid = false;
    VIndex pathStart = 1;
    VIndex marker = text.FindRawString(VString("://"));
    bool hasScheme = marker == 1;
    if (marker >= 2) {
        hasScheme = true;
        for (VIndex i = 0; i < marker - 1; ++i) {
            if (units[i] == u'/' || units[i] == u':') {
                hasScheme = false;
                break;
            }
        }
    }
    if (hasScheme) {
        parts[e_Scheme] = {1, marker - 1};
        VIndex netStart = marker + 3;
        VIndex slash = FindFrom(text, u'/', netStart);
        VIndex question = slash == 0 ? FindFrom(text, u'?', netStart) : 0;
        if (slash > 0) {
            parts[e_NetLoc] = {netStart, slash - netStart};
            pathStart = slash + 1;
            valid = true;
        } else if (question > 0) {
            parts[e_NetLoc] = {netStart, question - netStart};
            pathStart = question;
            valid = true;
        } else {
            parts[e_NetLoc] = {netStart, length + 1 - netStart};
            parts[e_Path] = {length + 1, 0};
            return false;
        }
    }

    VIndex end = length + 1;
    VIndex semi = 0, question = 0, hash = 0;
    if (!noExtras) {
        semi = FindFrom(text, u';', pathStart);
        question = FindFrom(text, u'?', pathStart);
        hash = FindFrom(text, u'#', pathStart);
        // Everything after '#' is the fragment's: a '?' or ';' there starts
        // no other part.
        if (hash > 0 && semi > hash)
            semi = 0;
        if (hash > 0 && question > hash)
            question = 0;
    }
    // The end of a part starting at start: the first delimiter after it.
    auto endAfter = [&](VIndex start, bool semiCounts) {
        VIndex stop = end;
        if (semiCounts && semi >= start && semi < stop)
            stop = semi;
        if (question >= start && question < stop)
            stop = question;
        if (hash >= start && hash < stop)
            stop = hash;
        return stop;
    };
    // A ';' ends the path only when something follows it.
    parts[e_Path] = {pathStart, endAfter(pathStart, semi != length) - pathStart};
    if (semi > 0)
        parts[e_Parameters] = {semi + 1, endAfter(semi + 1, true) - (semi + 1)};
    if (question > 0)
        parts[e_Query] = {question + 1, endAfter(question + 1, true) - (question + 1)};
    if (hash > 0)
        parts[e_Fragment] = {hash + 1, end - (hash + 1)};
    return valid;
}

void VURL::FromString(const VString& text, bool encoded)
{
    fIsValid = false;
    fURL.FromString(text);
    if (encoded && IsOnlySafeChars(text))
        fEncodedURL.FromString(text);
    else
        fEncodedURL.Clear();
    _Split(false);
    if (!encoded)
        return;
    // Decode the parts from the last one, moving every later start by the
    // change of length.
    for (int i = e_LastPart; i >= 0; --i) {
        URLPart& part = fParts[i];
        if (part.fLength <= 0)
            continue;
        VString value;
        fURL.GetSubString(part.fStart, part.fLength, value);
        Decode(value);
        if (value.EqualToStringRaw(fURL.GetSubString(part.fStart, part.fLength)))
            continue;
        VString rebuilt = fURL.GetSubString(1, part.fStart - 1);
        rebuilt.AppendString(value);
        rebuilt.AppendString(fURL.GetSubString(part.fStart + part.fLength, fURL.GetLength()));
        int32_t delta = value.GetLength() - part.fLength;
        for (int j = 0; j <= e_LastPart; ++j) {
            if (j != i && fParts[j].fStart > part.fStart)
                fParts[j].fStart += delta;
        }
        part.fLength = value.GetLength();
        fURL.FromString(rebuilt);
    }
}

void VURL::FromString(const VString& text, const VString& base, bool encoded)
{
    if (text.FindRawString(VString("://")) == 0 && !base.IsEmpty() && !base.IsNull()) {
        VString full(base);
        if (!BeginsWithUnit(text, u'/'))
            full.AppendUniChar(u'/');
        full.AppendString(text);
        FromString(full, encoded);
        if (!IsOnlySafeChars(text))
            fEncodedURL.Clear();
    } else {
        FromString(text, encoded);
    }
}

void VURL::FromFilePath(const VString& path, EURLPathStyle style, const VString& base)
{
    VString posix(path);
    if (style == eURL_WIN_STYLE)
        WIN_to_POSIX(posix);
    else if (style == eURL_HFS_STYLE)
        HFS_to_POSIX(posix, true);
    VString url(base);
    if (posix.BeginsWithRawString(VString("//"))) {
        url.AppendString(posix.GetSubString(3, posix.GetLength()));
    } else {
        if (!BeginsWithUnit(posix, u'/'))
            url.AppendUniChar(u'/');
        url.AppendString(posix);
    }
    fURL.FromString(url);
    fEncodedURL.Clear();
    _Split(true);
}

void VURL::FromFilePath(const VFilePath& path)
{
    VString posix;
    path.GetPosixPath(posix);
    if (posix.IsEmpty()) {
        Clear();
        return;
    }
    VString url;
    if (posix.BeginsWithRawString(VString("//"))) {
        url.FromCString("file:");
    } else {
        url.FromCString("file://");
        if (!BeginsWithUnit(posix, u'/'))
            url.AppendUniChar(u'/');
    }
    url.AppendString(posix);
    fURL.FromString(url);
    fEncodedURL.Clear();
    _Split(true);
}

// --- reading parts ---

void VURL::_GetPart(EURLParts part, VString& out) const
{
    const URLPart& p = fParts[part];
    if (p.fLength > 0)
        fURL.GetSubString(p.fStart, p.fLength, out);
    else
        out.Clear();
}

void VURL::_GetPartEncoded(EURLParts part, VString& out, bool encoded, bool withBrackets) const
{
    _GetPart(part, out);
    if (encoded)
        Encode(out, true, true, withBrackets, false);
}

void VURL::GetScheme(VString& out) const
{
    _GetPart(e_Scheme, out);
}

void VURL::GetNetworkLocation(VString& out, bool encoded) const
{
    _GetPartEncoded(e_NetLoc, out, encoded, false);
}

void VURL::GetPath(VString& out, EURLPathStyle style, bool encoded) const
{
    _GetPartEncoded(e_Path, out, encoded, true);
    if (style == eURL_WIN_STYLE) {
        POSIX_to_WIN(out);
    } else if (style == eURL_HFS_STYLE) {
        // The path part never holds the '/' that ends the network location; a
        // full path needs it back, or it would be read against the working
        // folder.
        if (!BeginsWithUnit(out, u'/'))
            out.Insert(u'/', 1);
        Convert(out, eURL_POSIX_STYLE, eURL_HFS_STYLE, false);
    }
}

void VURL::GetParameters(VString& out, bool encoded) const
{
    _GetPartEncoded(e_Parameters, out, encoded, true);
}

void VURL::GetQuery(VString& out, bool encoded) const
{
    _GetPartEncoded(e_Query, out, encoded, true);
}

void VURL::GetFragment(VString& out, bool encoded) const
{
    _GetPartEncoded(e_Fragment, out, encoded, true);
}

void VURL::GetResourceSpecifier(VString& out, bool encoded) const
{
    const URLPart& path = fParts[e_Path];
    VIndex delimiter = path.fStart + path.fLength;
    if (path.fStart < 1 || delimiter > fURL.GetLength()) {
        out.Clear();
        return;
    }
    fURL.GetSubString(delimiter, fURL.GetLength() - delimiter + 1, out);
    if (encoded)
        Encode(out, true, true, true, false);
}

void VURL::GetRelativePath(VString& out, EURLPathStyle, bool encoded) const
{
    _GetPartEncoded(e_Path, out, encoded, true);
}

void VURL::GetLastPathComponent(VString& out, bool) const
{
    // Always the encoded form, encoded once: a second pass would turn every
    // '%' of the first one into "%25".
    _GetPartEncoded(e_Path, out, true, true);
    if (out.GetLength() > 0 && out[out.GetLength() - 1] == u'/')
        out.Truncate(out.GetLength() - 1);
    VIndex slash = out.FindUniChar(u'/', out.GetLength(), true);
    if (slash > 0 && slash == out.GetLength())
        out.Clear();
    else if (slash > 0)
        out.SubString(slash + 1, out.GetLength() - slash);
}

void VURL::ParseNetLocation(const VString& netLoc, VString* user, VString* password, VString* host, VString* port)
{
    VString userInfo, hostPort;
    VIndex at = netLoc.FindUniChar(u'@');
    if (at > 0) {
        netLoc.GetSubString(1, at - 1, userInfo);
        netLoc.GetSubString(at + 1, netLoc.GetLength() - at, hostPort);
    } else {
        hostPort.FromString(netLoc);
    }
    if (user != nullptr || password != nullptr) {
        VIndex colon = userInfo.FindUniChar(u':');
        VString u, p;
        if (colon > 0) {
            userInfo.GetSubString(1, colon - 1, u);
            userInfo.GetSubString(colon + 1, userInfo.GetLength() - colon, p);
        } else {
            u.FromString(userInfo);
        }
        if (user != nullptr)
            user->FromString(u);
        if (password != nullptr)
            password->FromString(p);
    }
    VString h, pt;
    if (BeginsWithUnit(hostPort, u'[')) {
        VIndex close = hostPort.FindUniChar(u']');
        if (close > 0) {
            hostPort.GetSubString(2, close - 2, h);
            VIndex colon = FindFrom(hostPort, u':', close + 1);
            if (colon > 0)
                hostPort.GetSubString(colon + 1, hostPort.GetLength() - colon, pt);
        }
    } else {
        VIndex colon = hostPort.FindUniChar(u':', hostPort.GetLength(), true);
        if (colon > 0) {
            hostPort.GetSubString(1, colon - 1, h);
            hostPort.GetSubString(colon + 1, hostPort.GetLength() - colon, pt);
        } else {
            h.FromString(hostPort);
        }
    }
    if (host != nullptr)
        host->FromString(h);
    if (port != nullptr)
        port->FromString(pt);
}

void VURL::GetHostName(VString& out, bool encoded) const
{
    VString netLoc;
    _GetPart(e_NetLoc, netLoc);
    ParseNetLocation(netLoc, nullptr, nullptr, &out, nullptr);
    if (encoded)
        Encode(out, true, true, true, false);
}

void VURL::GetPortNumber(VString& out, bool encoded) const
{
    VString netLoc;
    _GetPart(e_NetLoc, netLoc);
    ParseNetLocation(netLoc, nullptr, nullptr, nullptr, &out);
    if (encoded)
        Encode(out, true, true, true, false);
}

void VURL::GetUserName(VString& out, bool encoded) const
{
    VString netLoc;
    _GetPart(e_NetLoc, netLoc);
    ParseNetLocation(netLoc, &out, nullptr, nullptr, nullptr);
    if (encoded)
        Encode(out, true, true, true, false);
}

void VURL::GetPassword(VString& out, bool encoded) const
{
    VString netLoc;
    _GetPart(e_NetLoc, netLoc);
    ParseNetLocation(netLoc, nullptr, &out, nullptr, nullptr);
    if (encoded)
        Encode(out, true, true, true, false);
}

int32_t VURL::GetPortNumber() const
{
    VString port;
    GetPortNumber(port, false);
    if (port.IsEmpty())
        return 0;
    int32_t value = 0;
    const UniChar* units = port.GetCPointer();
    for (VIndex i = 0; i < port.GetLength(); ++i) {
        UniChar c = units[i];
        if (c == u' ')
            return -1;
        if (c < u'0' || c > u'9')
            continue;
        value = value * 10 + (c - u'0');
        // Ports are 16-bit: 65535 is the last one.
        if (value > 65535)
            return -1;
    }
    return value;
}

bool VURL::IsScheme(const VString& text) const
{
    VString scheme;
    GetScheme(scheme);
    return scheme.EqualToStringRaw(text);
}

bool VURL::IsRoot() const
{
    VString path;
    _GetPartEncoded(e_Path, path, true, true);
    VIndex slash = path.FindUniChar(u'/');
    return slash == 0 || slash == path.GetLength();
}

void VURL::GetAbsoluteURL(VString& out, bool encoded) const
{
    if (!encoded || fURL.EqualToString(VString("about:blank"), true)) {
        out.FromString(fURL);
        return;
    }
    if (!fEncodedURL.IsEmpty()) {
        out.FromString(fEncodedURL);
        return;
    }
    VString part;
    GetScheme(out);
    out.AppendCString("://");
    GetNetworkLocation(part, true);
    out.AppendString(part);
    out.AppendUniChar(u'/');
    GetPath(part, eURL_POSIX_STYLE, true);
    out.AppendString(part);
    GetQuery(part, true);
    if (!part.IsEmpty()) {
        out.AppendUniChar(u'?');
        out.AppendString(part);
    }
    GetParameters(part, true);
    if (!part.IsEmpty()) {
        out.AppendUniChar(u';');
        out.AppendString(part);
    }
    GetFragment(part, true);
    if (!part.IsEmpty()) {
        out.AppendUniChar(u'#');
        out.AppendString(part);
    }
}

namespace {

// The text of six parts in the order every rebuilt URL uses.
void AssembleURL(const VString values[6], VString& out)
{
    out.Clear();
    if (!values[e_Scheme].IsEmpty()) {
        out.AppendString(values[e_Scheme]);
        out.AppendCString(values[e_NetLoc].IsEmpty() ? ":///" : "://");
    }
    if (!values[e_NetLoc].IsEmpty()) {
        out.AppendString(values[e_NetLoc]);
        out.AppendUniChar(u'/');
    }
    out.AppendString(values[e_Path]);
    if (!values[e_Parameters].IsEmpty()) {
        out.AppendUniChar(u';');
        out.AppendString(values[e_Parameters]);
    }
    if (!values[e_Query].IsEmpty()) {
        out.AppendUniChar(u'?');
        out.AppendString(values[e_Query]);
    }
    if (!values[e_Fragment].IsEmpty()) {
        out.AppendUniChar(u'#');
        out.AppendString(values[e_Fragment]);
    }
}

}  // namespace

void VURL::GetRelativeURL(VString& out, bool encoded) const
{
    if (!encoded) {
        out.FromString(fURL);
        return;
    }
    URLPart parts[6];
    _BuildURLArray(fURL, false, parts);
    VString values[6];
    for (int i = 0; i <= e_LastPart; ++i) {
        if (parts[i].fLength > 0) {
            fURL.GetSubString(parts[i].fStart, parts[i].fLength, values[i]);
            Encode(values[i], true, true, true, false);
        }
    }
    AssembleURL(values, out);
}

// --- changing parts ---

void VURL::_SetPart(const VString& value, EURLParts part)
{
    URLPart parts[6];
    if (!_BuildURLArray(fURL, false, parts))
        return;
    fEncodedURL.Clear();
    VString values[6];
    for (int i = 0; i <= e_LastPart; ++i) {
        if (i == part)
            values[i].FromString(value);
        else if (parts[i].fLength > 0)
            fURL.GetSubString(parts[i].fStart, parts[i].fLength, values[i]);
    }
    AssembleURL(values, fURL);
    _Split(false);
}

void VURL::SetScheme(const VString& scheme)
{
    _SetPart(scheme, e_Scheme);
}

void VURL::SetNetWorkLocation(const VString& netLoc, bool encoded)
{
    VString value(netLoc);
    if (encoded)
        Decode(value);
    _SetPart(value, e_NetLoc);
}

void VURL::SetRelativePath(const VString& path, EURLPathStyle style, bool encoded)
{
    VString value(path);
    if (encoded)
        Decode(value);
    if (style == eURL_WIN_STYLE)
        WIN_to_POSIX(value);
    else if (style == eURL_HFS_STYLE)
        HFS_to_POSIX(value, true);
    _SetPart(value, e_Path);
}

void VURL::SetParameters(const VString& parameters, bool encoded)
{
    VString value(parameters);
    if (encoded)
        Decode(value);
    _SetPart(value, e_Parameters);
}

void VURL::SetQuery(const VString& query, bool encoded)
{
    VString value(query);
    if (encoded)
        Decode(value);
    _SetPart(value, e_Query);
}

void VURL::SetFragment(const VString& fragment, bool encoded)
{
    VString value(fragment);
    if (encoded)
        Decode(value);
    _SetPart(value, e_Fragment);
}

bool VURL::ToSubFolder(const VString& name)
{
    VString path;
    _GetPart(e_Path, path);
    if (path.IsEmpty() || path[path.GetLength() - 1] != u'/')
        return false;
    path.AppendString(name);
    SetRelativePath(path, eURL_POSIX_STYLE, false);
    return true;
}

bool VURL::ToParent()
{
    // A URL that does not split cannot be rebuilt with another path: the
    // change would be dropped, and an answer of true would keep every
    // "while (url.ToParent())" loop going round.
    if (!fIsValid || IsRoot())
        return false;
    VString path;
    _GetPart(e_Path, path);
    if (path.GetLength() > 0 && path[path.GetLength() - 1] == u'/')
        path.Truncate(path.GetLength() - 1);
    VIndex slash = path.FindUniChar(u'/', path.GetLength(), true);
    path.Truncate(slash);
    SetRelativePath(path, eURL_POSIX_STYLE, false);
    return true;
}

VURL* VURL::RetainParent() const
{
    VURL* parent = new VURL(*this);
    if (!parent->ToParent()) {
        delete parent;
        return nullptr;
    }
    return parent;
}

bool VURL::GetFilePath(VFilePath& path) const
{
    VString scheme;
    GetScheme(scheme);
    if (!scheme.IsEmpty() && !scheme.EqualToString(FileScheme(), false)) {
        path.Clear();
        return false;
    }
    VString text;
    _GetPart(e_Path, text);
    if (!BeginsWithUnit(text, u'/'))
        text.Insert(u'/', 1);
    Convert(text, eURL_POSIX_STYLE, eURL_HFS_STYLE, false);
    path.FromFullPath(text, FPS_SYSTEM);
    return path.IsValid();
}

}  // namespace bkit
