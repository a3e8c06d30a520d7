// VFileKindTable.cpp - the table of public type identifiers.
#include "basekit/files/VFileKindTable.h"

#include <cstring>

#include "basekit/files/VFileKind.h"

namespace bkit {

namespace {

const std::vector<TypeDeclaration>& Table()
{
    static const std::vector<TypeDeclaration> table = {
        {"public.item", "item", {}, {}, {}, {}},
        {"public.content", "content", {}, {}, {}, {}},
        {"public.data", "data", {}, {"application/octet-stream"}, {}, {"public.item"}},
        {"public.directory", "directory", {}, {}, {}, {"public.item"}},
        {"public.folder", "folder", {}, {}, {"fold"}, {"public.directory"}},
        {"public.symlink", "symbolic link", {}, {}, {}, {"public.item"}},
        {"com.apple.package", "package", {}, {}, {}, {"public.directory"}},
        {"com.apple.bundle", "bundle", {"bundle"}, {}, {}, {"public.directory"}},
        {"com.apple.application", "application", {}, {}, {}, {"public.data"}},
        {"com.apple.application-bundle", "application", {"app"}, {}, {"APPL"},
         {"com.apple.application", "com.apple.bundle", "com.apple.package"}},
        {"public.executable", "executable", {}, {}, {}, {"public.item"}},
        {"public.unix-executable", "Unix executable", {}, {"application/x-executable"}, {}, {"public.data", "public.executable"}},
        {"public.text", "text", {}, {"text/plain"}, {}, {"public.data", "public.content"}},
        {"public.plain-text", "plain text", {"txt", "text"}, {"text/plain"}, {"TEXT"}, {"public.text"}},
        {"public.utf8-plain-text", "UTF-8 plain text", {}, {"text/plain;charset=utf-8"}, {"utf8"}, {"public.plain-text"}},
        {"public.utf16-plain-text", "UTF-16 plain text", {}, {"text/plain;charset=utf-16"}, {"utxt"}, {"public.plain-text"}},
        {"public.log", "log", {"log"}, {}, {}, {"public.plain-text"}},
        {"public.comma-separated-values-text", "comma-separated values", {"csv"}, {"text/csv"}, {}, {"public.delimited-values-text"}},
        {"public.delimited-values-text", "delimited values", {}, {}, {}, {"public.text"}},
        {"public.rtf", "rich text", {"rtf"}, {"text/rtf"}, {"RTF "}, {"public.text"}},
        {"public.html", "HTML", {"html", "htm", "shtml"}, {"text/html"}, {"HTML"}, {"public.text"}},
        {"public.xml", "XML", {"xml"}, {"application/xml", "text/xml"}, {}, {"public.text"}},
        {"public.json", "JSON", {"json"}, {"application/json"}, {}, {"public.text"}},
        {"com.apple.property-list", "property list", {"plist"}, {}, {}, {"public.data"}},
        {"com.apple.xml-property-list", "XML property list", {}, {}, {}, {"public.xml", "com.apple.property-list"}},
        {"public.source-code", "source code", {}, {}, {}, {"public.plain-text"}},
        {"public.script", "script", {}, {}, {}, {"public.source-code"}},
        {"public.shell-script", "shell script", {"sh", "command"}, {"application/x-sh"}, {}, {"public.script"}},
        {"public.c-source", "C source", {"c"}, {"text/x-c"}, {}, {"public.source-code"}},
        {"public.c-header", "C header", {"h"}, {}, {}, {"public.source-code"}},
        {"public.c-plus-plus-source", "C++ source", {"cp", "cpp", "c++", "cc", "cxx"}, {"text/x-c++"}, {}, {"public.source-code"}},
        {"public.image", "image", {}, {}, {}, {"public.data", "public.content"}},
        {"public.jpeg", "JPEG image", {"jpg", "jpeg", "jpe"}, {"image/jpeg"}, {"JPEG"}, {"public.image"}},
        {"public.png", "PNG image", {"png"}, {"image/png"}, {"PNGf"}, {"public.image"}},
        {"public.tiff", "TIFF image", {"tif", "tiff"}, {"image/tiff"}, {"TIFF"}, {"public.image"}},
        {"com.compuserve.gif", "GIF image", {"gif"}, {"image/gif"}, {"GIFf"}, {"public.image"}},
        {"public.svg-image", "SVG image", {"svg", "svgz"}, {"image/svg+xml"}, {}, {"public.image", "public.xml"}},
        {"com.adobe.pdf", "PDF document", {"pdf"}, {"application/pdf"}, {"PDF "}, {"public.data", "public.content"}},
        {"public.audiovisual-content", "audiovisual content", {}, {}, {}, {"public.data", "public.content"}},
        {"public.movie", "movie", {}, {}, {}, {"public.audiovisual-content"}},
        {"public.audio", "audio", {}, {}, {}, {"public.audiovisual-content"}},
        {"public.mp3", "MP3 audio", {"mp3"}, {"audio/mpeg"}, {"MPG3"}, {"public.audio"}},
        {"public.mpeg-4", "MPEG-4 movie", {"mp4", "mpg4"}, {"video/mp4"}, {"mpg4"}, {"public.movie"}},
        {"public.archive", "archive", {}, {}, {}, {"public.data"}},
        {"public.zip-archive", "ZIP archive", {"zip"}, {"application/zip"}, {"ZIP "}, {"public.archive"}},
        {"org.gnu.gnu-zip-archive", "gzip archive", {"gz", "gzip"}, {"application/x-gzip"}, {}, {"public.archive"}},
        {"public.tar-archive", "tar archive", {"tar"}, {"application/x-tar"}, {}, {"public.archive"}},
        {"com.apple.disk-image", "disk image", {"dmg"}, {"application/x-apple-diskimage"}, {}, {"public.archive"}},
    };
    return table;
}

bool EqualsASCIIIgnoringCase(const VString& text, const char* ascii)
{
    size_t n = std::strlen(ascii);
    if (static_cast<size_t>(text.GetLength()) != n)
        return false;
    const UniChar* units = text.GetCPointer();
    for (size_t i = 0; i < n; ++i) {
        UniChar a = units[i];
        UniChar b = static_cast<unsigned char>(ascii[i]);
        if (a >= u'A' && a <= u'Z')
            a = static_cast<UniChar>(a + 32);
        if (b >= u'A' && b <= u'Z')
            b = static_cast<UniChar>(b + 32);
        if (a != b)
            return false;
    }
    return true;
}

bool ConformsByTable(const TypeDeclaration& a, const VString& b, int depth)
{
    if (EqualsASCIIIgnoringCase(b, a.identifier))
        return true;
    if (depth > 16)
        return false;
    for (const char* parent : a.conformsTo) {
        const TypeDeclaration* p = FindTypeDeclaration(VString(parent));
        if (p != nullptr && ConformsByTable(*p, b, depth + 1))
            return true;
    }
    return false;
}

}  // namespace

const TypeDeclaration* FindTypeDeclaration(const VString& identifier)
{
    for (const TypeDeclaration& d : Table())
        if (EqualsASCIIIgnoringCase(identifier, d.identifier))
            return &d;
    return nullptr;
}

VString PreferredTypeIdentifierForExtension(const VString& extension)
{
    for (const TypeDeclaration& d : Table())
        for (const char* e : d.extensions)
            if (EqualsASCIIIgnoringCase(extension, e))
                return VString(d.identifier);
    return VString();
}

VString PreferredTypeIdentifierForOsType(const VString& osType)
{
    // The first four characters are the code.
    VString code(osType);
    if (code.GetLength() > 4)
        code.Truncate(4);
    for (const TypeDeclaration& d : Table())
        for (const char* t : d.osTypes)
            if (code.EqualToUSASCIICString(t))
                return VString(d.identifier);
    return VString();
}

bool TypeIdentifierConformsTo(const VString& a, const VString& b)
{
    const TypeDeclaration* declaration = FindTypeDeclaration(a);
    if (declaration == nullptr || FindTypeDeclaration(b) == nullptr)
        return false;
    return ConformsByTable(*declaration, b, 0);
}

}  // namespace bkit
