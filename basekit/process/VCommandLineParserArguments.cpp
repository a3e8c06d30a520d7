// VCommandLineParserArguments.cpp - the converters from argument texts to option variables.
#include "basekit/process/VCommandLineParserArguments.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit::Extension::CommandLineParser {

namespace {

// The text without surrounding white space, when what remains is 1 to 30
// characters of digits and signs; false otherwise.
bool _IntegerText(const VString& text, std::string& out)
{
    VString trimmed(text);
    trimmed.RemoveWhiteSpaces(true, true);
    VIndex n = trimmed.GetLength();
    if (n < 1 || n > 30)
        return false;
    out.clear();
    for (VIndex i = 0; i < n; ++i) {
        UniChar c = trimmed[i];
        if (!((c >= u'0' && c <= u'9') || c == u'-' || c == u'+'))
            return false;
        out.push_back(static_cast<char>(c));
    }
    return true;
}

// Reads the whole text in base 0 within [min, max].
template <class T>
bool _ReadSigned(const VString& text, T& variable)
{
    std::string digits;
    if (!_IntegerText(text, digits))
        return false;
    errno = 0;
    char* end = nullptr;
    long long value = strtoll(digits.c_str(), &end, 0);
    if (errno != 0 || end == digits.c_str() || *end != 0)
        return false;
    if (value < static_cast<long long>(std::numeric_limits<T>::min()) ||
        value > static_cast<long long>(std::numeric_limits<T>::max()))
        return false;
    variable = static_cast<T>(value);
    return true;
}

template <class T>
bool _ReadUnsigned(const VString& text, T& variable)
{
    std::string digits;
    if (!_IntegerText(text, digits) || digits.find('-') != std::string::npos)
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(digits.c_str(), &end, 0);
    if (errno != 0 || end == digits.c_str() || *end != 0 || value > std::numeric_limits<T>::max())
        return false;
    variable = static_cast<T>(value);
    return true;
}

}  // namespace

bool Argument<bool>::Append(VCommandLineParser&, bool& variable, const VString& text)
{
    if (text.EqualToUSASCIICString("1") || text.EqualToString(VString("true"), false)) {
        variable = true;
        return true;
    }
    if (text.EqualToUSASCIICString("0") || text.EqualToString(VString("false"), false)) {
        variable = false;
        return true;
    }
    return false;
}

bool Argument<int32_t>::Append(VCommandLineParser&, int32_t& variable, const VString& text)
{
    return _ReadSigned(text, variable);
}

bool Argument<uint32_t>::Append(VCommandLineParser&, uint32_t& variable, const VString& text)
{
    return _ReadUnsigned(text, variable);
}

bool Argument<int64_t>::Append(VCommandLineParser&, int64_t& variable, const VString& text)
{
    return _ReadSigned(text, variable);
}

bool Argument<uint64_t>::Append(VCommandLineParser&, uint64_t& variable, const VString& text)
{
    return _ReadUnsigned(text, variable);
}

bool ResolvePathArgument(const VString& text, VFilePath& out)
{
    std::string bytes = to_string(text);
    char resolved[PATH_MAX];
    if (realpath(bytes.c_str(), resolved) == nullptr) {
        out.FromFullPath(text, FPS_POSIX);
        return false;
    }
    std::string full(resolved);
    struct stat st;
    if (stat(resolved, &st) == 0 && S_ISDIR(st.st_mode) && (full.empty() || full.back() != '/'))
        full.push_back('/');
    out.FromFullPath(VString(full.c_str()), FPS_POSIX);
    return true;
}

bool Argument<VFilePath>::Append(VCommandLineParser&, VFilePath& variable, const VString& text)
{
    if (text.IsEmpty())
        return false;
    return ResolvePathArgument(text, variable);
}

bool Argument<VRefPtr<VFile>>::Append(VCommandLineParser&, VRefPtr<VFile>& variable, const VString& text)
{
    VFilePath path;
    if (text.IsEmpty() || !ResolvePathArgument(text, path) || !path.IsFile())
        return false;
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(path));
    if (file->IsAliasFile() && VFile::ResolveAliasFile(file, false) != VE_OK)
        return false;
    variable = file;
    return true;
}

bool Argument<VRefPtr<VFolder>>::Append(VCommandLineParser&, VRefPtr<VFolder>& variable, const VString& text)
{
    VFilePath path;
    if (text.IsEmpty() || !ResolvePathArgument(text, path) || !path.IsFolder())
        return false;
    variable = VRefPtr<VFolder>::Adopt(new VFolder(path));
    return true;
}

bool Argument<VJSONValue>::Append(VCommandLineParser&, VJSONValue& variable, const VString& text)
{
    if (variable.IsString()) {
        variable.SetString(text);
        return true;
    }
    if (variable.GetType() == JSON_true || variable.GetType() == JSON_false) {
        static const char* const kTrue[] = {"1", "true", "on"};
        static const char* const kFalse[] = {"0", "false", "off"};
        for (const char* word : kTrue) {
            if (text.EqualToString(VString(word), false)) {
                variable.SetBool(true);
                return true;
            }
        }
        for (const char* word : kFalse) {
            if (text.EqualToString(VString(word), false)) {
                variable.SetBool(false);
                return true;
            }
        }
        return false;
    }
    VJSONValue parsed;
    VError error;
    {
        // The parser reports a refused value itself.
        StErrorContextInstaller silent(false, true);
        error = parsed.ParseFromString(text, false, false);
    }
    if (error != VE_OK)
        return false;
    variable = parsed;
    return true;
}

void Argument<VJSONValue>::SetFlag(VJSONValue& variable)
{
    variable.SetBool(true);
}

}  // namespace bkit::Extension::CommandLineParser
