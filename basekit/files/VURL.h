// VURL.h - URLs in six parts, percent encoding and path-style conversion.
//
// This file defines VURL, which holds one URL text split into scheme, network
// location, path, parameters, query and fragment, converts between URLs and
// file paths, and percent-encodes and decodes parts. Its static conversions
// (Convert and the functions beside it) are the one place where POSIX, Windows
// and internal ':' path texts are turned into one another; VFilePath calls them
// for every POSIX text that enters or leaves.
//
// Contracts:
// - The URL text is kept decoded; a URL built from an encoded text that was
//   made of safe characters only also keeps that text as its encoded copy.
// - Nothing raises an error: the validity flag tells whether the text split
//   into a scheme and a path, and getters of absent parts give empty texts.
// - Full-path conversions ask the mounted-volume cache (XMacVolumes) and may
//   resolve symbolic links of the folders on the way; relative ones touch
//   nothing outside the text.
// - A URL is a value used by one task at a time. The encoding tables are
//   process-wide and built once, thread-safely.
#pragma once

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFilePath;
class VFolder;

enum EURLParts : int32_t {
    e_Scheme = 0,
    e_NetLoc = 1,
    e_Path = 2,
    e_Parameters = 3,
    e_Query = 4,
    e_Fragment = 5,
    e_LastPart = e_Fragment,
};

enum EURLPathStyle : int32_t {
    eURL_POSIX_STYLE = 0,  // '/'
    eURL_HFS_STYLE = 1,    // the internal ':' form
    eURL_WIN_STYLE = 2,    // '\\'
};

// One part: 1-based start and length in code units; length 0 is absent.
struct URLPart {
    int32_t fStart = 0;
    int32_t fLength = 0;
};

class VURL : public VObject {
public:
    // Empty and invalid.
    VURL();
    VURL(const VURL& other);
    VURL& operator=(const VURL& other) { FromURL(other); return *this; }
    ~VURL() override;

    // A URL text; encoded says it is percent-encoded (every part is decoded).
    VURL(const VString& text, bool encoded);
    // A path text of the given style appended to a base URL text.
    VURL(const VString& path, EURLPathStyle style, const VString& base);
    // "file://" and the POSIX full path of a file path.
    explicit VURL(const VFilePath& path);
    // A relative path text ('\\' read as '/' for Windows style) resolved
    // against a folder, then taken as FromFilePath(VFilePath).
    VURL(const VFolder& folder, const VString& relativePath, EURLPathStyle style);

    void FromURL(const VURL& other);
    void FromString(const VString& text, bool encoded);
    // When text holds no "://" and base is not empty, the URL is base + '/'
    // (unless text begins with one) + text.
    void FromString(const VString& text, const VString& base, bool encoded);
    void FromFilePath(const VString& path, EURLPathStyle style, const VString& base);
    void FromFilePath(const VFilePath& path);
    void FromRelativePath(const VFolder& folder, const VString& relativePath, EURLPathStyle style);

    // Both texts emptied, parts zeroed, invalid.
    void Clear();

    bool IsValid() const { return fIsValid; }

    // --- reading parts (encoded asks for the percent form) ---

    void GetScheme(VString& out) const;
    void GetNetworkLocation(VString& out, bool encoded) const;
    // Style 2 turns '/' into '\\'; style 1 converts to the internal form in
    // full-path mode.
    void GetPath(VString& out, EURLPathStyle style, bool encoded) const;
    void GetParameters(VString& out, bool encoded) const;
    void GetQuery(VString& out, bool encoded) const;
    void GetFragment(VString& out, bool encoded) const;
    // From the delimiter after the path to the end; empty when the path part
    // reaches the end.
    void GetResourceSpecifier(VString& out, bool encoded) const;
    // The path part's text (the style is not applied).
    void GetRelativePath(VString& out, EURLPathStyle style, bool encoded) const;
    // The path part, encoded, without a final '/', after its last '/'.
    void GetLastPathComponent(VString& out, bool encoded) const;

    // Splits a network location; any out pointer may be null.
    static void ParseNetLocation(const VString& netLoc, VString* user, VString* password, VString* host,
                                 VString* port);
    void GetHostName(VString& out, bool encoded) const;
    void GetPortNumber(VString& out, bool encoded) const;
    void GetUserName(VString& out, bool encoded) const;
    void GetPassword(VString& out, bool encoded) const;
    // The port as a number: 0 without a port text, -1 for a space in it or a
    // value above 65535; other non-digits are skipped.
    int32_t GetPortNumber() const;

    // The scheme part equals text code unit for code unit.
    bool IsScheme(const VString& text) const;
    // The encoded path holds no '/' or only a final one.
    bool IsRoot() const;

    void GetAbsoluteURL(VString& out, bool encoded) const;
    void GetRelativeURL(VString& out, bool encoded) const;

    // --- changing parts (each re-splits the text); encoded values are decoded
    // first ---

    void SetScheme(const VString& scheme);
    void SetNetWorkLocation(const VString& netLoc, bool encoded);
    void SetRelativePath(const VString& path, EURLPathStyle style, bool encoded);
    void SetParameters(const VString& parameters, bool encoded);
    void SetQuery(const VString& query, bool encoded);
    void SetFragment(const VString& fragment, bool encoded);

    // Appends name to a path part that ends with '/'; false otherwise.
    bool ToSubFolder(const VString& name);
    // Moves to the parent unless IsRoot; false, with nothing changed, when
    // there is none or the URL is not valid (its path cannot be replaced).
    bool ToParent();
    // A new URL at the parent, which the caller deletes; null when none.
    VURL* RetainParent() const;

    // For a "file" URL (or one without scheme) the path part as a full path;
    // any other scheme clears path. Returns the path's flag.
    bool GetFilePath(VFilePath& path) const;

    // --- percent encoding ---

    // Percent-encodes the unsafe bytes of the UTF-8 text (controls, bytes above
    // 126, the unsafe characters with or without '[' and ']'); a "\u" is kept
    // when asked.
    static void Encode(VString& text, bool keepColons = true, bool decomposeFirst = true, bool withBrackets = true,
                       bool keepBackslashU = false);
    // Runs of escapes become bytes: one byte read as ISO-8859-1, two or more as
    // UTF-8.
    static void Decode(VString& text);

    // --- path styles ---

    static void Convert(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative);
    static void WIN_to_POSIX(VString& text);
    static void POSIX_to_WIN(VString& text);
    // Full mode asks the mounted volumes and falls back to the relative rules.
    static void POSIX_to_HFS(VString& text, bool relative);
    static void HFS_to_POSIX(VString& text, bool relative);

    // True when every code unit is one of the 86 safe characters (and an empty
    // text).
    static bool IsOnlySafeChars(const VString& text);

private:
    static bool _BuildURLArray(const VString& text, bool noExtras, URLPart parts[6]);
    void _GetPart(EURLParts part, VString& out) const;
    void _GetPartEncoded(EURLParts part, VString& out, bool encoded, bool withBrackets) const;
    void _SetPart(const VString& value, EURLParts part);
    void _Split(bool noExtras = false);

    URLPart fParts[6];
    VString fURL;
    VString fEncodedURL;
    bool fIsValid = false;
};

}  // namespace bkit
