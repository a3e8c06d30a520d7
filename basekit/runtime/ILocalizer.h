// ILocalizer.h - the interface of localized texts.
//
// This file defines ILocalizer, through which error records and messages get
// their localized texts: the language, an error's message by code, a string by
// key, a string by dotted key and a group of strings as a bag. The localization
// manager implements it. Whoever registers a localizer keeps it alive while it
// is registered: registries hold plain pointers, no references.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"

namespace bkit {

class VString;
class VValueBag;

class ILocalizer {
public:
    virtual ~ILocalizer() = default;

    // The dialect code of the localized texts.
    virtual uint32_t GetLocalizationLanguage() = 0;

    // The text stored for the code under the key "ERR_%c%c%c%c_%d" (the four
    // signature characters, then the signed number). True when found; out may
    // hold {name} placeholders that the caller fills.
    virtual bool LocalizeErrorMessage(VError code, VString& out) = 0;

    // The text of a key; true when found.
    virtual bool LocalizeStringWithKey(const VString& key, VString& out) = 0;

    // The text of a dotted key; true when found.
    virtual bool LocalizeStringWithDotStringsKey(const VString& key, VString& out) = 0;

    // The bag of a named group, retained for the caller; null when none.
    virtual const VValueBag* RetainGroupBag(const VString& groupName) = 0;
};

}  // namespace bkit
