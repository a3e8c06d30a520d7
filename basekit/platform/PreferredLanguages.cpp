// PreferredLanguages.cpp - preferred languages from the environment.
#include "basekit/platform/PreferredLanguages.h"

#include <cstdlib>

namespace bkit::platform {

namespace {

// "fr_CA.UTF-8@euro" gives "fr-CA"; "C" and "POSIX" give "".
std::string LanguageOfLocaleName(std::string text)
{
    text = text.substr(0, text.find('.'));
    text = text.substr(0, text.find('@'));
    if (text == "C" || text == "POSIX")
        return std::string();
    for (char& c : text) {
        if (c == '_')
            c = '-';
    }
    return text;
}

}  // namespace

std::vector<std::string> GetPreferredLanguages()
{
    std::vector<std::string> languages;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == 0)
            continue;
        std::string list(value);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            std::string language = LanguageOfLocaleName(list.substr(start, end - start));
            if (!language.empty())
                languages.push_back(language);
            start = end + 1;
        }
        if (!languages.empty())
            return languages;
    }
    languages.push_back("en-US");
    return languages;
}

}  // namespace bkit::platform
