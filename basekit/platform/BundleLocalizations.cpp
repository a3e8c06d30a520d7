// BundleLocalizations.cpp - a bundle's localizations and the one to use.
#include "basekit/platform/BundleLocalizations.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>

#include "basekit/platform/PreferredLanguages.h"

namespace bkit::platform {

namespace {

std::string LanguagePart(const std::string& code)
{
    size_t cut = code.find_first_of("-_");
    return cut == std::string::npos ? code : code.substr(0, cut);
}

bool SameCode(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] == '_' ? '-' : a[i];
        char y = b[i] == '_' ? '-' : b[i];
        if (::tolower(static_cast<unsigned char>(x)) != ::tolower(static_cast<unsigned char>(y)))
            return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> GetBundleLocalizations(const std::string& bundleFolder)
{
    std::vector<std::string> names;
    std::string resources = bundleFolder + "/Contents/Resources";
    DIR* dir = ::opendir(resources.c_str());
    if (!dir)
        return names;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        const std::string extension = ".lproj";
        if (name.size() > extension.size() &&
            ::strcasecmp(name.c_str() + name.size() - extension.size(), extension.c_str()) == 0)
            names.push_back(name.substr(0, name.size() - extension.size()));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string GetPreferredLocalization(const std::vector<std::string>& localizations)
{
    if (localizations.empty())
        return std::string();
    for (const std::string& wanted : GetPreferredLanguages()) {
        for (const std::string& name : localizations) {
            if (SameCode(name, wanted))
                return name;
        }
        for (const std::string& name : localizations) {
            if (SameCode(LanguagePart(name), LanguagePart(wanted)))
                return name;
        }
    }
    for (const char* english : {"en", "en-US", "English"}) {
        for (const std::string& name : localizations) {
            if (SameCode(name, english))
                return name;
        }
    }
    return localizations.front();
}

}  // namespace bkit::platform
