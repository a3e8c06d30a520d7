// VIntlMgrDialects.cpp - the dialect table and the language-code operations.
//
// This file holds the constant table of the dialects the toolbox knows (code,
// ISO 639-1 and 639-2 codes, English language name, ISO 3166 region, RFC
// 3066bis subtag) and the static operations of VIntlMgr over it: code
// conversions, comparisons of language codes, the user-interface languages,
// script families and the candidate names of localization folders. Lookups
// take the first matching row, so duplicated codes answer with their first row.
#include <cstring>
#include <string>

#include "basekit/platform/Locale.h"
#include "basekit/platform/PreferredLanguages.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

namespace {

struct DialectRow {
    uint32_t fCode;
    const char* fISO6391;
    const char* fISO6392;
    const char* fName;
    const char* fRegion;
    const char* fSubTag;
};

// The rows keep their historical values, quirks included (Welsh and Gaelic
// named "english", Urdu "pakistan", duplicated 1044, 1050 and 1065).
constexpr DialectRow kDialects[] = {
    {1078, "af", "afr", "afrikaans", "ZA", ""},
    {1052, "sq", "alb", "albanian", "AL", ""},
    {94, "am", "amh", "amharic", "", ""},
    {1, "ar", "ara", "arabic", "", ""},
    {1025, "ar", "ara", "arabic", "SA", "sa"},
    {2049, "ar", "ara", "arabic", "IQ", "iq"},
    {3073, "ar", "ara", "arabic", "EG", "eg"},
    {4097, "ar", "ara", "arabic", "LY", "ly"},
    {5121, "ar", "ara", "arabic", "DZ", "dz"},
    {6145, "ar", "ara", "arabic", "MA", "ma"},
    {7169, "ar", "ara", "arabic", "TN", "tn"},
    {8193, "ar", "ara", "arabic", "OM", "om"},
    {9217, "ar", "ara", "arabic", "YE", "ye"},
    {10241, "ar", "ara", "arabic", "SY", "sy"},
    {11265, "ar", "ara", "arabic", "JO", "jo"},
    {12289, "ar", "ara", "arabic", "LB", "lb"},
    {13313, "ar", "ara", "arabic", "KW", "kw"},
    {14337, "ar", "ara", "arabic", "AE", "ae"},
    {15361, "ar", "ara", "arabic", "BH", "bh"},
    {16385, "ar", "ara", "arabic", "QA", "qa"},
    {1067, "hy", "hye", "armenian", "AM", ""},
    {44, "az", "aze", "azerbaijani", "", ""},
    {1069, "eu", "baq", "spanish", "ES", "es"},
    {1059, "be", "bel", "belarusian", "BY", ""},
    {1093, "bn", "ben", "bangladesh", "BD", "bd"},
    {1026, "bg", "bul", "bulgarian", "BG", ""},
    {1027, "ca", "cat", "catalan", "ES", ""},
    {1028, "zh", "chi", "chinese", "TW", "Hant"},
    {2052, "zh", "chi", "chinese", "CN", "Hans"},
    {3076, "zh", "chi", "chinese", "HK", "hk"},
    {4100, "zh", "chi", "chinese", "SG", "sg"},
    {1050, "hr", "scr", "croatian", "HR", ""},
    {1029, "cs", "cze", "czech", "CZ", ""},
    {1030, "da", "dan", "danish", "DK", ""},
    {1043, "nl", "dut", "dutch", "NL", ""},
    {2067, "nl", "dut", "dutch", "BE", "be"},
    {1122, "fy", "dut", "dutch", "NL", "nl"},
    {1033, "en", "eng", "english", "US", ""},
    {2057, "en", "eng", "english", "GB", "gb"},
    {3081, "en", "eng", "english", "AU", "au"},
    {4105, "en", "eng", "english", "CA", "ca"},
    {5129, "en", "eng", "english", "NZ", "nz"},
    {6153, "en", "eng", "english", "IE", "ie"},
    {7177, "en", "eng", "english", "ZA", "za"},
    {8201, "en", "eng", "english", "JM", "jm"},
    {9225, "en", "eng", "english", "CB", "cb"},
    {10249, "en", "eng", "english", "BZ", "bz"},
    {11273, "en", "eng", "english", "TT", "tt"},
    {18441, "en", "eng", "english", "SG", "sg"},
    {1061, "et", "est", "estonian", "EE", ""},
    {1080, "fo", "fao", "faorese", "FO", ""},
    {1065, "fa", "per", "persian", "IR", ""},
    {1035, "fi", "fin", "finnish", "FI", ""},
    {1036, "fr", "fre", "french", "FR", ""},
    {2060, "fr", "fre", "french", "BE", "be"},
    {3084, "fr", "fre", "french", "CA", "ca"},
    {4108, "fr", "fre", "french", "CH", "ch"},
    {5132, "fr", "fre", "french", "LU", "lu"},
    {8192, "fr", "fre", "french", "NC", ""},
    {11264, "fr", "fre", "french", "NC", ""},
    {1169, "gd", "eng", "english", "GB", ""},
    {1110, "gl", "spa", "spanish", "ES", ""},
    {1031, "de", "ger", "german", "DE", ""},
    {2055, "de", "ger", "german", "CH", "ch"},
    {3079, "de", "ger", "german", "AT", "at"},
    {4103, "de", "ger", "german", "LU", "lu"},
    {5127, "de", "ger", "german", "LI", "li"},
    {1032, "el", "gre", "greek", "GR", ""},
    {1095, "gu", "guj", "india", "IN", ""},
    {1037, "he", "heb", "hebrew", "IL", ""},
    {1081, "hi", "hin", "india", "IN", ""},
    {1038, "hu", "hun", "hungarian", "HU", ""},
    {1039, "is", "ice", "iceland", "IS", ""},
    {1057, "id", "ind", "indonesian", "ID", ""},
    {2108, "ga", "gle", "ireland", "IE", ""},
    {1040, "it", "ita", "italian", "IT", ""},
    {2064, "it", "ita", "italian", "CH", "ch"},
    {1041, "ja", "jpn", "japanese", "JP", ""},
    {83, "kh", "khm", "khmer", "", ""},
    {1159, "rw", "kin", "kinyarwanda", "RW", ""},
    {1089, "sw", "swk", "kiswahili", "KE", ""},
    {1042, "ko", "kor", "korean", "", ""},
    {2066, "ko", "kor", "korean", "", ""},
    {1062, "lv", "lav", "latvian", "LV", ""},
    {1063, "lt", "lit", "lithuanian", "LT", ""},
    {1134, "lb", "ltz", "luxembourg", "LU", "lu"},
    {1071, "mk", "mkd", "macedonian", "MK", ""},
    {1086, "ms", "may", "malaysian", "MY", "my"},
    {58, "mt", "mlt", "malte", "", ""},
    {129, "mi", "mao", "new zealand", "", ""},
    {1102, "mr", "mar", "india", "IN", ""},
    {1100, "ml", "mal", "india", "IN", ""},
    {1104, "mn", "mon", "mongolian", "MN", ""},
    {1121, "ne", "nep", "nepali", "NP", ""},
    {1044, "no", "nor", "norwegian", "NO", ""},
    {1044, "nb", "nob", "bokmal", "NO", "no"},
    {2068, "nn", "nno", "nynorsk", "NO", "no"},
    {1154, "oc", "oci", "french", "FR", "fr"},
    {72, "or", "ori", "oriya", "", ""},
    {1065, "fa", "peo", "persian", "IR", "ir"},
    {1045, "pl", "pol", "polish", "PL", ""},
    {2070, "pt", "por", "portuguese", "PT", ""},
    {1046, "pt", "por", "portuguese", "BR", "br"},
    {70, "pa", "pan", "punjabi", "", ""},
    {1131, "qu", "que", "bolivia", "BO", ""},
    {1048, "ro", "rum", "romanian", "RO", ""},
    {1049, "ru", "rus", "russian", "RU", ""},
    {1083, "se", "sme", "Sami", "", ""},
    {2107, "se", "sme", "Sami", "", ""},
    {3131, "se", "sme", "Sami", "", ""},
    {4155, "smj", "smj", "Sami", "", ""},
    {5179, "smj", "smj", "Sami", "", ""},
    {6203, "sma", "sma", "Sami", "", ""},
    {7227, "sma", "sma", "Sami", "", ""},
    {8251, "sms", "sms", "Sami", "", ""},
    {9275, "smn", "smn", "Sami", "", ""},
    {1050, "sr", "scc", "serbian", "", ""},
    {2074, "sr", "scc", "serbian", "RS", "Latn"},
    {3098, "sr", "scc", "serbian", "RS", "Cyrl"},
    {1074, "tn", "afr", "afrikaans", "ZA", ""},
    {1115, "si", "sin", "sri lanka", "LK", ""},
    {1051, "sk", "slo", "slovak", "SK", ""},
    {1060, "sl", "slv", "slovenian", "SI", ""},
    {1034, "es", "spa", "spanish", "ES", "es"},
    {2058, "es", "spa", "spanish", "MX", "mx"},
    {3082, "es", "spa", "spanish", "", ""},
    {4106, "es", "spa", "spanish", "GT", "gt"},
    {5130, "es", "spa", "spanish", "CR", "cr"},
    {6154, "es", "spa", "spanish", "PA", "pa"},
    {7178, "es", "spa", "spanish", "DO", "do"},
    {8202, "es", "spa", "spanish", "VE", "ve"},
    {9226, "es", "spa", "spanish", "CO", "co"},
    {10250, "es", "spa", "spanish", "PE", "pe"},
    {11274, "es", "spa", "spanish", "AR", "ar"},
    {12298, "es", "spa", "spanish", "EC", "ec"},
    {13322, "es", "spa", "spanish", "CL", "cl"},
    {14346, "es", "spa", "spanish", "UY", "uy"},
    {15370, "es", "spa", "spanish", "PY", "py"},
    {16394, "es", "spa", "spanish", "BO", "bo"},
    {17418, "es", "spa", "spanish", "SV", "sv"},
    {18442, "es", "spa", "spanish", "HN", "hn"},
    {19466, "es", "spa", "spanish", "NI", "ni"},
    {20490, "es", "spa", "spanish", "PR", "pr"},
    {1053, "sv", "swe", "swedish", "SE", ""},
    {2077, "sv", "swe", "swedish", "FI", "fi"},
    {73, "ta", "tam", "indian", "", ""},
    {1054, "th", "tha", "thai", "TH", ""},
    {1055, "tr", "tur", "turkish", "TR", ""},
    {1058, "uk", "ukr", "ukrainian", "UA", ""},
    {1056, "ur", "urd", "pakistan", "PK", "pk"},
    {1066, "vi", "vie", "vietnamese", "VN", ""},
    {1106, "cy", "wel", "english", "GB", "gb"},
    {1076, "xh", "xho", "afrikaans", "ZA", ""},
    {1077, "zu", "zul", "afrikaans", "ZA", ""},
};

constexpr size_t kDialectCount = sizeof(kDialects) / sizeof(kDialects[0]);
static_assert(kDialectCount == 154, "the dialect table has 154 rows");

const DialectRow* FindRow(uint32_t code)
{
    for (const DialectRow& row : kDialects) {
        if (row.fCode == code)
            return &row;
    }
    return nullptr;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualAsciiNoCase(const char* a, const char* b)
{
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
    }
    return *a == *b;
}

// Replaces out with a column text; true when it is not empty.
bool ColumnToString(const char* text, VString& out)
{
    out.Clear();
    if (text != nullptr && *text != 0)
        out.FromCString(text);
    return !out.IsEmpty();
}

std::string ToUTF8(const VString& text, size_t maxBytes)
{
    // Language codes are ASCII: narrowed directly, without a text converter.
    std::string ascii;
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        UniChar c = text.GetCPointer()[i];
        if (c >= 0x80) {
            ascii.clear();
            break;
        }
        ascii.push_back(static_cast<char>(c));
    }
    if (ascii.size() == static_cast<size_t>(text.GetLength()))
        return ascii.size() > maxBytes ? ascii.substr(0, maxBytes) : ascii;
    StStringConverter<char> converter(text);
    std::string result(converter.GetCPointer() != nullptr ? converter.GetCPointer() : "");
    if (result.size() > maxBytes)
        result.resize(maxBytes);
    return result;
}

// Splits at sep: the parts, empty ones included.
std::vector<VString> Split(const VString& text, UniChar sep)
{
    std::vector<VString> parts;
    VIndex start = 1;
    for (;;) {
        VIndex at = text.FindUniChar(sep, start);
        if (at == 0) {
            parts.push_back(text.GetSubString(start, text.GetLength() - start + 1));
            return parts;
        }
        parts.push_back(text.GetSubString(start, at - start));
        start = at + 1;
    }
}

uint32_t DialectOfLanguageIdentifier(const std::string& language)
{
    std::string canonical = platform::Locale::CanonicalLanguageIdentifier(language);
    if (canonical.size() > 80)
        canonical.resize(80);
    uint32_t code = VIntlMgr::kNoDialect;
    if (canonical.empty() ||
        !VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(canonical.c_str()), code, true, true))
        return VIntlMgr::kDefaultDialect;
    return code;
}

}  // namespace

const char* VIntlMgr::GetISO6391LanguageCode(uint32_t dialect)
{
    const DialectRow* row = FindRow(dialect);
    return row != nullptr ? row->fISO6391 : nullptr;
}

bool VIntlMgr::GetISO6391LanguageCode(uint32_t dialect, VString& code)
{
    const DialectRow* row = FindRow(dialect);
    return ColumnToString(row != nullptr ? row->fISO6391 : nullptr, code);
}

bool VIntlMgr::GetISO6392LanguageCode(uint32_t dialect, VString& code)
{
    const DialectRow* row = FindRow(dialect);
    return ColumnToString(row != nullptr ? row->fISO6392 : nullptr, code);
}

bool VIntlMgr::GetISOLanguageName(uint32_t dialect, VString& name)
{
    const DialectRow* row = FindRow(dialect);
    return ColumnToString(row != nullptr ? row->fName : nullptr, name);
}

const char* VIntlMgr::GetISO3166RegionCode(uint32_t dialect)
{
    const DialectRow* row = FindRow(dialect);
    return row != nullptr ? row->fRegion : nullptr;
}

bool VIntlMgr::GetISO3166RegionCode(uint32_t dialect, VString& code)
{
    return ColumnToString(GetISO3166RegionCode(dialect), code);
}

bool VIntlMgr::GetRFC3066BisSubTagRegionCode(uint32_t dialect, VString& code)
{
    const DialectRow* row = FindRow(dialect);
    return ColumnToString(row != nullptr ? row->fSubTag : nullptr, code);
}

bool VIntlMgr::GetBCP47LanguageCode(uint32_t dialect, VString& code)
{
    code.Clear();
    const DialectRow* row = FindRow(dialect);
    if (row == nullptr)
        return false;
    code.FromCString(row->fISO6391);
    if (*row->fRegion != 0) {
        code.AppendUniChar(u'-');
        code.AppendCString(row->fRegion);
    }
    return true;
}

bool VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(uint32_t dialect, VString& code, char separator)
{
    code.Clear();
    const DialectRow* row = FindRow(dialect);
    if (row == nullptr)
        return false;
    code.FromCString(row->fISO6391);
    if (*row->fSubTag != 0) {
        code.AppendUniChar(static_cast<UniChar>(static_cast<unsigned char>(separator)));
        code.AppendCString(row->fSubTag);
    }
    return true;
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const char* language, const char* subtag, uint32_t& code,
                                                        bool fallBack, bool primary)
{
    code = kNoDialect;
    if (language == nullptr)
        return false;
    auto bareLanguage = [&](bool asPrimary) {
        for (const DialectRow& row : kDialects) {
            if (*row.fSubTag == 0 && EqualAsciiNoCase(row.fISO6391, language)) {
                code = asPrimary ? ((row.fCode & 0x3FF) | 0x400) : row.fCode;
                return true;
            }
        }
        return false;
    };
    if (subtag == nullptr || *subtag == 0)
        return bareLanguage(primary);
    for (const DialectRow& row : kDialects) {
        if (EqualAsciiNoCase(row.fISO6391, language) && EqualAsciiNoCase(row.fSubTag, subtag)) {
            code = row.fCode;
            return true;
        }
    }
    return fallBack && bareLanguage(true);
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const VString& language, uint32_t& code, bool fallBack,
                                                        bool primary)
{
    code = kNoDialect;
    std::vector<VString> parts = Split(language, u'-');
    if (parts.size() == 1)
        parts = Split(language, u'_');
    if (parts.size() == 1)
        return GetDialectCodeWithRFC3066BisLanguageCode(ToUTF8(parts[0], 256).c_str(), nullptr, code, fallBack,
                                                        primary);
    if (parts.size() == 2)
        return GetDialectCodeWithRFC3066BisLanguageCode(ToUTF8(parts[0], 256).c_str(),
                                                        ToUTF8(parts[1], 256).c_str(), code, fallBack, primary);
    return false;
}

bool VIntlMgr::GetDialectCodeWithISOLanguageName(const VString& name, uint32_t& code)
{
    code = kNoDialect;
    VString lower(name);
    lower.ToLowerCase();
    for (const DialectRow& row : kDialects) {
        if (*row.fSubTag == 0 && lower.EqualToString(VString(row.fName), false)) {
            code = (row.fCode & 0xFF) | 0x400;
            return true;
        }
    }
    return false;
}

int32_t VIntlMgr::Compare2RFC3066LanguageCodes(const VString& a, const VString& b)
{
    VString lowerA(a);
    VString lowerB(b);
    lowerA.ToLowerCase();
    lowerB.ToLowerCase();
    uint32_t codeA = kNoDialect;
    uint32_t codeB = kNoDialect;
    if (!GetDialectCodeWithRFC3066BisLanguageCode(lowerA, codeA, true, true) ||
        !GetDialectCodeWithRFC3066BisLanguageCode(lowerB, codeB, true, true))
        return -1;
    if (lowerA.EqualToStringRaw(lowerB))
        return 4;
    std::vector<VString> partsA = Split(lowerA, u'-');
    std::vector<VString> partsB = Split(lowerB, u'-');
    bool sameLanguage = partsA[0].EqualToStringRaw(partsB[0]);
    if (partsA.size() == 2 && partsB.size() == 1)
        return sameLanguage ? 3 : 0;
    if (partsA.size() == 1 && partsB.size() == 2)
        return sameLanguage ? 2 : 0;
    if (partsA.size() == 2 && partsB.size() == 2)
        return sameLanguage ? 1 : 0;
    return 0;
}

bool VIntlMgr::IsDialectCode(uint32_t dialect)
{
    return FindRow(dialect) != nullptr;
}

bool VIntlMgr::IsRightToLeftDialect(uint32_t dialect)
{
    uint32_t language = ResolveDialectCode(dialect) & 0x3FF;
    // Arabic, Hebrew, Urdu, Persian.
    return language == 1 || language == 13 || language == 32 || language == 41;
}

void VIntlMgr::GetAllDialects(std::vector<uint32_t>& dialects)
{
    for (const DialectRow& row : kDialects)
        dialects.push_back(row.fCode);
}

void VIntlMgr::GetDialectsHavingCollator(std::vector<std::pair<VString, uint32_t>>& dialects)
{
    for (const DialectRow& row : kDialects)
        dialects.emplace_back(VString(FindRow(row.fCode)->fISO6391), row.fCode);
}

uint32_t VIntlMgr::GetSystemUIDialectCode()
{
    return DialectOfLanguageIdentifier(platform::GetPreferredLanguages().front());
}

void VIntlMgr::GetSystemUIDialectCodes(std::vector<uint32_t>& dialects)
{
    dialects.clear();
    for (const std::string& language : platform::GetPreferredLanguages())
        dialects.push_back(DialectOfLanguageIdentifier(language));
}

bool VIntlMgr::IsSystemUIDialectIdeographic()
{
    switch (GetSystemUIDialectCode()) {
        case 1028:
        case 1041:
        case 1042:
        case 2052:
        case 2066:
        case 3076:
        case 4100:
            return true;
        default:
            return false;
    }
}

namespace {

int32_t ListedScriptCode(uint32_t dialect)
{
    switch (dialect) {
        case 1025:
        case 2049:
            return 5;
        case 1026:
        case 1049:
        case 1058:
        case 1059:
        case 1064:
        case 1071:
        case 1092:
        case 1104:
        case 2092:
        case 2115:
        case 3098:  // Serbian in Cyrillic script
            return 8;
        case 1028:
        case 3076:  // Hong Kong writes traditional characters
            return 2;
        case 2052:
        case 4100:  // Singapore writes simplified characters
            return 3;
        case 1041:
            return 1;
        case 1042:
            return 4;
        case 1029:
        case 1038:
        case 1045:
        case 1051:
        case 1061:
        case 1062:
        case 1063:
        case 1091:
        case 2074:
            return 9;
        case 1032:
            return 7;
        case 1037:
            return 6;
        case 1039:
        case 1080:
            return 11;
        case 1048:
            return 13;
        case 1050:
        case 1060:
            return 10;
        case 1054:
            return 14;
        case 1055:
            return 16;
        case 1065:
            return 12;
        case 1066:
            return 15;
        case 1027:
        case 1030:
        case 1031:
        case 1033:
        case 1034:
        case 1035:
        case 1036:
        case 1040:
        case 1043:
        case 1044:
        case 1046:
        case 1052:
        case 1053:
        case 1057:
        case 1068:
        case 1069:
        case 1070:
        case 1078:
        case 1083:
        case 1086:
        case 1106:
        case 1122:
        case 1134:
        case 2055:
        case 2057:
        case 2058:
        case 2060:
        case 2064:
        case 2067:
        case 2068:
        case 2070:
        case 2077:
        case 2094:
        case 2107:
        case 2108:
            return 0;
        default:
            return -2;  // not listed
    }
}

}  // namespace

int32_t VIntlMgr::DialectCodeToScriptCode(uint32_t dialect)
{
    int32_t script = ListedScriptCode(dialect);
    if (script != -2)
        return script;
    if (dialect >= 1047 && dialect <= 1133)
        return -1;
    // A regional dialect writes as its language's primary dialect does.
    uint32_t primary = (dialect & 0x3FF) | 0x400;
    if (primary != dialect && !(primary >= 1047 && primary <= 1133)) {
        script = ListedScriptCode(primary);
        if (script != -2)
            return script;
    }
    return -1;
}

void VIntlMgr::GetLocalizationFolderNames(uint32_t dialect, std::vector<VString>& names)
{
    names.clear();
    const DialectRow* row = FindRow(dialect);
    if (row == nullptr)
        return;
    const VString suffix(".lproj");
    VString first;
    GetRFC3066BisLanguageCodeWithDialectCode(dialect, first, '-');
    names.push_back(first + suffix);
    auto addUnlessFirst = [&](const VString& candidate) {
        if (!candidate.EqualToString(first, false))
            names.push_back(candidate + suffix);
    };
    VString candidate;
    GetRFC3066BisLanguageCodeWithDialectCode(dialect, candidate, '_');
    addUnlessFirst(candidate);
    candidate.FromCString(row->fISO6391);
    addUnlessFirst(candidate);
    if (*row->fRegion != 0) {
        candidate.FromCString(row->fISO6391);
        candidate.AppendUniChar(u'_');
        candidate.AppendCString(row->fRegion);
        addUnlessFirst(candidate);
    }
    if (*row->fName != 0) {
        candidate.FromCString(row->fName);
        VString initial = candidate.GetSubString(1, 1);
        initial.ToUpperCase();
        candidate.Replace(initial, 1, 1);
        names.push_back(candidate + suffix);
    }
}

}  // namespace bkit
