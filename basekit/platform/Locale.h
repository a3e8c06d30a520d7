// Locale.h - locales: identifiers, the user's current locale, number symbols.
//
// This file defines platform::Locale, which replaces the CoreFoundation locale
// services the international manager uses: creating a locale from a BCP 47
// code (CFLocaleCreate), the user's current locale (CFLocaleCopyCurrent), its
// language code and its number symbols (CFLocaleGetValue of the decimal
// separator, grouping separator and currency symbol), and canonical language
// identifiers (CFLocaleCreateCanonicalLanguageIdentifierFromString). It is
// built on ICU locales and number formats.
//
// Contracts:
// - A Locale is immutable once made and handed out as a shared pointer; it may
//   be read from any thread.
// - Where it falls short of macOS: the user's current locale comes from the
//   environment (LC_ALL, then LANG; "C", "POSIX" and unset give en_US) rather
//   than from the user's settings, and there are no user overrides of
//   separators or formats.
#pragma once

#include <memory>
#include <string>

namespace bkit::platform {

class Locale {
public:
    // A locale for a BCP 47 code ("fr-CA") or an ICU identifier ("fr_CA");
    // an empty or unknown code gives the root locale. Never null.
    static std::shared_ptr<const Locale> Create(const std::string& code);
    // The user's current locale (from the environment). Never null.
    static std::shared_ptr<const Locale> CopyCurrent();

    // The canonical BCP 47 form of a language identifier: "fr_CA" and "FR-ca"
    // give "fr-CA"; empty when the text is no identifier.
    static std::string CanonicalLanguageIdentifier(const std::string& text);

    // ICU identifier ("fr_CA"); "" for the root locale.
    const std::string& GetIdentifier() const { return fIdentifier; }
    // ISO 639 language code ("fr"); "" for the root locale.
    std::string GetLanguageCode() const;

    // Number symbols of the locale's decimal format (UTF-16); empty when
    // the platform has none.
    std::u16string GetDecimalSeparator() const;
    std::u16string GetGroupingSeparator() const;
    std::u16string GetCurrencySymbol() const;

    explicit Locale(std::string identifier) : fIdentifier(std::move(identifier)) {}

private:
    std::string fIdentifier;
};

}  // namespace bkit::platform
