// BundleLocalizations.h - a bundle's localizations and the one to use, in place
// of CFBundleCopyBundleLocalizations and CFBundleCopyPreferredLocalizationsFromArray.
//
// A bundle's localizations are the names of the ".lproj" folders in its
// Contents/Resources, without the extension. The preferred one is the first
// of the user's preferred languages (platform/PreferredLanguages.h) that a
// localization matches, exactly or by its language part ("fr-CA" takes "fr",
// "fr" takes "fr-CA"); else "en", "en-US" or "English" when present; else the
// first localization. Shortfalls: no development region from Info.plist and no
// language-name aliases beyond "English". Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace bkit::platform {

// Sorted by name; empty for a folder without localizations.
std::vector<std::string> GetBundleLocalizations(const std::string& bundleFolder);

// Empty when localizations is empty.
std::string GetPreferredLocalization(const std::vector<std::string>& localizations);

}  // namespace bkit::platform
