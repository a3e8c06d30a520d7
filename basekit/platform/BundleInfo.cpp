// BundleInfo.cpp - the main bundle's location and a tiny property-list reader.
//
// This file implements BundleInfo. Statics here are constant-initialised only
// (a mutex and a character array), so the reader works from the very first
// static initialiser of the program.
#include "basekit/platform/BundleInfo.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

namespace bkit {
namespace platform {

namespace {

std::mutex sOverrideMutex;
char sExecutableOverride[PATH_MAX] = {};
bool sHasOverride = false;

// A forward-only cursor over the list's text.
class PlistCursor {
public:
    PlistCursor(const char* text, size_t length) : fPos(text), fEnd(text + length) {}

    bool AtEnd() const { return fPos >= fEnd; }

    bool StartsWith(const char* literal) const
    {
        size_t n = std::strlen(literal);
        return static_cast<size_t>(fEnd - fPos) >= n && std::memcmp(fPos, literal, n) == 0;
    }

    // Moves past the next occurrence of literal; false (at the end) when absent.
    bool SkipPast(const char* literal)
    {
        size_t n = std::strlen(literal);
        for (; static_cast<size_t>(fEnd - fPos) >= n; ++fPos) {
            if (std::memcmp(fPos, literal, n) == 0) {
                fPos += n;
                return true;
            }
        }
        fPos = fEnd;
        return false;
    }

    // Skips white space, comments, processing instructions and declarations.
    bool SkipMisc()
    {
        for (;;) {
            while (!AtEnd() && (*fPos == ' ' || *fPos == '\t' || *fPos == '\r' || *fPos == '\n'))
                ++fPos;
            if (StartsWith("<!--")) {
                if (!SkipPast("-->"))
                    return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>"))
                    return false;
            } else if (StartsWith("<!") && !StartsWith("<![CDATA[")) {
                if (!SkipPast(">"))
                    return false;
            } else {
                return !AtEnd();
            }
        }
    }

    // Reads a tag at the cursor: its name, whether it closes ("</x>") and
    // whether it is empty ("<x/>"). False when the cursor is not at a tag.
    bool ReadTag(std::string& name, bool& closing, bool& empty)
    {
        if (AtEnd() || *fPos != '<')
            return false;
        ++fPos;
        closing = !AtEnd() && *fPos == '/';
        if (closing)
            ++fPos;
        const char* start = fPos;
        while (!AtEnd() && *fPos != '>' && *fPos != '/' && *fPos != ' ' && *fPos != '\t' && *fPos != '\r' && *fPos != '\n')
            ++fPos;
        name.assign(start, fPos);
        // Attributes are of no interest; quoted values may hold '>'.
        char quote = 0;
        empty = false;
        for (; !AtEnd(); ++fPos) {
            char c = *fPos;
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                empty = fPos > start && fPos[-1] == '/';
                ++fPos;
                return !name.empty();
            }
        }
        return false;
    }

    // Reads character data up to the next tag, decoding references and CDATA
    // sections, and appends it to out as UTF-8.
    bool ReadText(std::string& out)
    {
        while (!AtEnd()) {
            if (StartsWith("<![CDATA[")) {
                fPos += 9;
                const char* start = fPos;
                if (!SkipPast("]]>"))
                    return false;
                out.append(start, fPos - 3);
            } else if (StartsWith("<!--")) {
                if (!SkipPast("-->"))
                    return false;
            } else if (*fPos == '<') {
                return true;
            } else if (*fPos == '&') {
                if (!ReadReference(out))
                    return false;
            } else {
                out.push_back(*fPos++);
            }
        }
        return false;
    }

    // Skips the rest of an element whose start tag (named name) was read.
    bool SkipElement(const std::string& name)
    {
        int depth = 1;
        std::string tag;
        bool closing = false;
        bool empty = false;
        std::string ignored;
        while (depth > 0) {
            if (!ReadText(ignored))
                return false;
            ignored.clear();
            if (!ReadTag(tag, closing, empty))
                return false;
            if (closing)
                --depth;
            else if (!empty)
                ++depth;
        }
        return tag == name;
    }

private:
    static void AppendUTF8(std::string& out, unsigned long code)
    {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    bool ReadReference(std::string& out)
    {
        const char* semicolon = static_cast<const char*>(std::memchr(fPos, ';', static_cast<size_t>(fEnd - fPos)));
        if (!semicolon || semicolon - fPos > 12)
            return false;
        std::string entity(fPos + 1, semicolon);
        fPos = semicolon + 1;
        if (entity == "lt")
            out.push_back('<');
        else if (entity == "gt")
            out.push_back('>');
        else if (entity == "amp")
            out.push_back('&');
        else if (entity == "quot")
            out.push_back('"');
        else if (entity == "apos")
            out.push_back('\'');
        else if (entity.size() > 1 && entity[0] == '#') {
            bool hex = entity[1] == 'x' || entity[1] == 'X';
            const char* digits = entity.c_str() + (hex ? 2 : 1);
            if (*digits == 0)
                return false;
            char* stop = nullptr;
            unsigned long code = std::strtoul(digits, &stop, hex ? 16 : 10);
            if (*stop != 0 || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            AppendUTF8(out, code);
        } else {
            return false;
        }
        return true;
    }

    const char* fPos;
    const char* fEnd;
};

bool ReadWholeFile(const char* path, std::string& contents)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    contents.clear();
    char chunk[4096];
    while (file.read(chunk, sizeof(chunk)) || file.gcount() > 0) {
        contents.append(chunk, static_cast<size_t>(file.gcount()));
        // An information list is small; refuse to swallow anything huge.
        if (contents.size() > 16 * 1024 * 1024)
            return false;
    }
    return !file.bad();
}

}  // namespace

std::string BundleInfo::GetExecutablePath()
{
    {
        std::lock_guard<std::mutex> lock(sOverrideMutex);
        if (sHasOverride)
            return std::string(sExecutableOverride);
    }
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

std::string BundleInfo::GetMainBundlePath()
{
    // <B>/Contents/MacOS/<name>: three components up from the executable.
    std::string path = GetExecutablePath();
    size_t nameSlash = path.rfind('/');
    if (nameSlash == std::string::npos || nameSlash + 1 == path.size())
        return std::string();
    std::string folder = path.substr(0, nameSlash);
    static const char kSuffix[] = "/Contents/MacOS";
    size_t suffixLength = sizeof(kSuffix) - 1;
    if (folder.size() <= suffixLength || folder.compare(folder.size() - suffixLength, suffixLength, kSuffix) != 0)
        return std::string();
    return folder.substr(0, folder.size() - suffixLength);
}

bool BundleInfo::GetMainBundleInfoString(const char* key, std::string& value)
{
    std::string bundle = GetMainBundlePath();
    if (bundle.empty())
        return false;
    std::string plist = bundle + "/Contents/Info.plist";
    return ReadInfoString(plist.c_str(), key, value);
}

bool BundleInfo::ReadInfoString(const char* path, const char* key, std::string& value)
{
    std::string contents;
    if (!path || !ReadWholeFile(path, contents))
        return false;
    return FindInfoString(contents.data(), contents.size(), key, value);
}

bool BundleInfo::FindInfoString(const char* text, size_t length, const char* key, std::string& value)
{
    if (!text || !key)
        return false;
    PlistCursor cursor(text, length);
    std::string tag;
    bool closing = false;
    bool empty = false;

    // Down to the top-level dictionary: <plist ...><dict>.
    if (!cursor.SkipMisc() || !cursor.ReadTag(tag, closing, empty) || closing || tag != "plist" || empty)
        return false;
    if (!cursor.SkipMisc() || !cursor.ReadTag(tag, closing, empty) || closing || tag != "dict" || empty)
        return false;

    for (;;) {
        if (!cursor.SkipMisc() || !cursor.ReadTag(tag, closing, empty))
            return false;
        if (closing)
            return false;  // </dict>: the key is absent
        if (tag != "key")
            return false;  // not a property list this reader understands
        std::string name;
        if (!empty) {
            if (!cursor.ReadText(name) || !cursor.ReadTag(tag, closing, empty) || !closing || tag != "key")
                return false;
        }
        if (!cursor.SkipMisc() || !cursor.ReadTag(tag, closing, empty) || closing)
            return false;
        bool wanted = name == key;
        if (tag == "string") {
            std::string text;
            if (!empty) {
                if (!cursor.ReadText(text) || !cursor.ReadTag(tag, closing, empty) || !closing || tag != "string")
                    return false;
            }
            if (wanted) {
                value = text;
                return true;
            }
        } else {
            if (wanted)
                return false;  // present, but not a string
            if (!empty && !cursor.SkipElement(tag))
                return false;
        }
    }
}

void BundleInfo::SetExecutablePathForTesting(const char* path)
{
    std::lock_guard<std::mutex> lock(sOverrideMutex);
    if (path) {
        std::strncpy(sExecutableOverride, path, sizeof(sExecutableOverride) - 1);
        sExecutableOverride[sizeof(sExecutableOverride) - 1] = 0;
        sHasOverride = true;
    } else {
        sExecutableOverride[0] = 0;
        sHasOverride = false;
    }
}

}  // namespace platform
}  // namespace bkit
