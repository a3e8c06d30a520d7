// Locale.cpp - locales over ICU.
#include "basekit/platform/Locale.h"

#include <cstdlib>

#include <unicode/uloc.h>
#include <unicode/unum.h>

namespace bkit::platform {

namespace {

// The locale part of a POSIX locale name: "fr_FR.UTF-8@euro" gives "fr_FR".
std::string PosixLocaleName(const char* value)
{
    if (value == nullptr)
        return std::string();
    std::string text(value);
    text = text.substr(0, text.find('.'));
    text = text.substr(0, text.find('@'));
    if (text == "C" || text == "POSIX")
        return std::string();
    return text;
}

std::u16string NumberSymbol(const std::string& locale, UNumberFormatSymbol symbol)
{
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, locale.c_str(), nullptr, &status);
    std::u16string result;
    if (U_SUCCESS(status) && format != nullptr) {
        UChar buffer[32];
        int32_t length = unum_getSymbol(format, symbol, buffer, 32, &status);
        if (U_SUCCESS(status) && length > 0 && length <= 32)
            result.assign(buffer, static_cast<size_t>(length));
    }
    if (format != nullptr)
        unum_close(format);
    return result;
}

}  // namespace

std::shared_ptr<const Locale> Locale::Create(const std::string& code)
{
    char identifier[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    if (!code.empty()) {
        if (code.find('-') != std::string::npos) {
            uloc_forLanguageTag(code.c_str(), identifier, sizeof(identifier), nullptr, &status);
        } else {
            uloc_canonicalize(code.c_str(), identifier, sizeof(identifier), &status);
        }
        if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING)
            identifier[0] = 0;
    }
    return std::make_shared<const Locale>(std::string(identifier));
}

std::shared_ptr<const Locale> Locale::CopyCurrent()
{
    std::string name = PosixLocaleName(std::getenv("LC_ALL"));
    if (name.empty())
        name = PosixLocaleName(std::getenv("LANG"));
    if (name.empty())
        name = "en_US";
    return Create(name);
}

std::string Locale::CanonicalLanguageIdentifier(const std::string& text)
{
    if (text.empty())
        return std::string();
    char identifier[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    if (text.find('-') != std::string::npos)
        uloc_forLanguageTag(text.c_str(), identifier, sizeof(identifier), nullptr, &status);
    else
        uloc_canonicalize(text.c_str(), identifier, sizeof(identifier), &status);
    if (U_FAILURE(status) || identifier[0] == 0)
        return std::string();
    char tag[ULOC_FULLNAME_CAPACITY] = "";
    status = U_ZERO_ERROR;
    int32_t length = uloc_toLanguageTag(identifier, tag, sizeof(tag), false, &status);
    if (U_FAILURE(status) || length <= 0 || std::string(tag) == "und")
        return std::string();
    return std::string(tag, static_cast<size_t>(length));
}

std::string Locale::GetLanguageCode() const
{
    char language[ULOC_LANG_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(fIdentifier.c_str(), language, sizeof(language), &status);
    if (U_FAILURE(status))
        return std::string();
    return std::string(language);
}

std::u16string Locale::GetDecimalSeparator() const
{
    return NumberSymbol(fIdentifier, UNUM_DECIMAL_SEPARATOR_SYMBOL);
}

std::u16string Locale::GetGroupingSeparator() const
{
    return NumberSymbol(fIdentifier, UNUM_GROUPING_SEPARATOR_SYMBOL);
}

std::u16string Locale::GetCurrencySymbol() const
{
    return NumberSymbol(fIdentifier, UNUM_CURRENCY_SYMBOL);
}

}  // namespace bkit::platform
