// VIntlMgrDialectsTest.cpp - the dialect table, language codes and the user's
// preferred languages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

using namespace bkit;

namespace {

std::string UTF8(const VString& s)
{
    StStringConverter<char> converter(s);
    return converter.GetCPointer() ? std::string(converter.GetCPointer()) : std::string();
}

}  // namespace

TEST(VIntlMgrDialects, TableHoldsEveryRowInOrder)
{
    std::vector<uint32_t> dialects;
    VIntlMgr::GetAllDialects(dialects);
    ASSERT_EQ(dialects.size(), 154u);
    EXPECT_EQ(dialects.front(), 1078u);
    EXPECT_EQ(dialects[37], 1033u);
    EXPECT_EQ(dialects.back(), 1077u);

    std::vector<std::pair<VString, uint32_t>> collators;
    VIntlMgr::GetDialectsHavingCollator(collators);
    ASSERT_EQ(collators.size(), 154u);
    // Duplicated codes answer with their first row: 1044 is "no", not "nb".
    for (const auto& [code, dialect] : collators) {
        if (dialect == 1044) {
            EXPECT_EQ(UTF8(code), "no");
        }
        if (dialect == 1065) {
            EXPECT_EQ(UTF8(code), "fa");
        }
    }
    EXPECT_TRUE(VIntlMgr::IsDialectCode(8251));
    EXPECT_FALSE(VIntlMgr::IsDialectCode(1024));
}

TEST(VIntlMgrDialects, ColumnsOfADialect)
{
    struct Case {
        uint32_t dialect;
        const char* iso1;
        const char* iso2;
        const char* name;
        const char* region;
        const char* subtag;
        const char* bcp47;
        const char* rfc;
    } cases[] = {
        {1033, "en", "eng", "english", "US", "", "en-US", "en"},
        {94, "am", "amh", "amharic", "", "", "am", "am"},
        {3084, "fr", "fre", "french", "CA", "ca", "fr-CA", "fr-ca"},
        {1028, "zh", "chi", "chinese", "TW", "Hant", "zh-TW", "zh-Hant"},
        {1056, "ur", "urd", "pakistan", "PK", "pk", "ur-PK", "ur-pk"},
        {1106, "cy", "wel", "english", "GB", "gb", "cy-GB", "cy-gb"},
        {1083, "se", "sme", "Sami", "", "", "se", "se"},
        {1044, "no", "nor", "norwegian", "NO", "", "no-NO", "no"},
        {4155, "smj", "smj", "Sami", "", "", "smj", "smj"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialect);
        VString text;
        EXPECT_STREQ(VIntlMgr::GetISO6391LanguageCode(c.dialect), c.iso1);
        EXPECT_TRUE(VIntlMgr::GetISO6391LanguageCode(c.dialect, text));
        EXPECT_EQ(UTF8(text), c.iso1);
        VIntlMgr::GetISO6392LanguageCode(c.dialect, text);
        EXPECT_EQ(UTF8(text), c.iso2);
        VIntlMgr::GetISOLanguageName(c.dialect, text);
        EXPECT_EQ(UTF8(text), c.name);
        EXPECT_EQ(VIntlMgr::GetISO3166RegionCode(c.dialect, text), *c.region != 0);
        EXPECT_EQ(UTF8(text), c.region);
        EXPECT_EQ(VIntlMgr::GetRFC3066BisSubTagRegionCode(c.dialect, text), *c.subtag != 0);
        EXPECT_EQ(UTF8(text), c.subtag);
        VIntlMgr::GetBCP47LanguageCode(c.dialect, text);
        EXPECT_EQ(UTF8(text), c.bcp47);
        EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(c.dialect, text, '-'));
        EXPECT_EQ(UTF8(text), c.rfc);
    }
    VString text("stale");
    EXPECT_EQ(VIntlMgr::GetISO6391LanguageCode(4242), nullptr);
    EXPECT_FALSE(VIntlMgr::GetISO6391LanguageCode(4242, text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(VIntlMgr::GetBCP47LanguageCode(4242, text));
    EXPECT_TRUE(text.IsEmpty());
    VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(1028, text, '_');
    EXPECT_EQ(UTF8(text), "zh_Hant");
}

TEST(VIntlMgrDialects, DialectOfLanguageCodes)
{
    struct Case {
        const char* code;
        bool fallBack;
        bool primary;
        bool found;
        uint32_t dialect;
    } cases[] = {
        {"fr-CA", true, true, true, 3084},
        {"FR-ca", true, true, true, 3084},
        {"en-US", true, true, true, 1033},    // no row has the subtag us: the primary
        {"en-US", false, true, false, VIntlMgr::kNoDialect},
        {"zh_Hant", true, true, true, 1028},
        {"zh-Hans", true, true, true, 2052},
        {"en-GB", true, true, true, 2057},
        {"ar", true, true, true, 1025},        // bare language: its primary dialect
        {"ar", true, false, true, 1},
        {"de", true, true, true, 1031},
        {"nb", true, true, false, VIntlMgr::kNoDialect},  // only a row with a subtag
        {"xx", true, true, false, VIntlMgr::kNoDialect},
        {"en-US-x", true, true, false, VIntlMgr::kNoDialect},
        {"de-CH", true, true, true, 2055},
        {"de-XX", true, true, true, 1031},
    };
    for (const Case& c : cases) {
        uint32_t dialect = 0;
        EXPECT_EQ(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(c.code), dialect, c.fallBack, c.primary),
                  c.found)
            << c.code;
        EXPECT_EQ(dialect, c.dialect) << c.code;
    }
    uint32_t dialect = 0;
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("sr", "cyrl", dialect, false, false));
    EXPECT_EQ(dialect, 3098u);
}

TEST(VIntlMgrDialects, DialectOfLanguageName)
{
    struct Case {
        const char* name;
        bool found;
        uint32_t dialect;
    } cases[] = {
        {"English", true, 1033},
        {"ENGLISH", true, 1033},
        {"french", true, 1036},
        {"sami", true, 1083},
        {"spanish", true, 1110},   // the first spanish row without a subtag
        // "pakistan" appears only on a row with a subtag: not found.
        {"pakistan", false, VIntlMgr::kNoDialect},
        {"klingon", false, VIntlMgr::kNoDialect},
    };
    for (const Case& c : cases) {
        uint32_t dialect = 0;
        EXPECT_EQ(VIntlMgr::GetDialectCodeWithISOLanguageName(VString(c.name), dialect), c.found) << c.name;
        EXPECT_EQ(dialect, c.dialect) << c.name;
    }
}

TEST(VIntlMgrDialects, CompareLanguageCodes)
{
    struct Case {
        const char* a;
        const char* b;
        int32_t expected;
    } cases[] = {
        {"fr-FR", "fr", 3}, {"fr", "fr-CA", 2}, {"fr-FR", "fr-CA", 1}, {"fr", "FR", 4},
        {"fr", "xx", -1},   {"fr", "de", 0},    {"fr-CA", "de", 0},    {"de-CH", "fr-CA", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VIntlMgr::Compare2RFC3066LanguageCodes(VString(c.a), VString(c.b)), c.expected)
            << c.a << " " << c.b;
}

TEST(VIntlMgrDialects, DirectionAndScript)
{
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1025));
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1037));
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1065));
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(14337));
    EXPECT_FALSE(VIntlMgr::IsRightToLeftDialect(1033));

    struct Case {
        uint32_t dialect;
        int32_t script;
    } cases[] = {
        {1025, 5}, {3073, 5}, {1049, 8}, {1028, 2}, {2052, 3}, {1041, 1}, {1042, 4}, {2074, 9},
        {3098, 8}, {1050, 10}, {1039, 11}, {1054, 14}, {1033, 0}, {2057, 0}, {3084, 0},
        {1081, -1}, {1095, -1}, {1159, -1}, {4242, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(c.dialect), c.script) << c.dialect;
}

TEST(VIntlMgrDialects, LocalizationFolderNames)
{
    struct Case {
        uint32_t dialect;
        std::vector<std::string> names;
    } cases[] = {
        {3084, {"fr-ca.lproj", "fr_ca.lproj", "fr.lproj", "fr_CA.lproj", "French.lproj"}},
        {1033, {"en.lproj", "en_US.lproj", "English.lproj"}},
        {94, {"am.lproj", "Amharic.lproj"}},
        {4242, {}},
    };
    for (const Case& c : cases) {
        std::vector<VString> names;
        VIntlMgr::GetLocalizationFolderNames(c.dialect, names);
        std::vector<std::string> texts;
        for (const VString& name : names)
            texts.push_back(UTF8(name));
        EXPECT_EQ(texts, c.names) << c.dialect;
    }
}

namespace {

// Sets the locale variables for one test and puts them back afterwards.
class PreferredLanguagesTest : public ::testing::Test {
protected:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

    void SetUp() override
    {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            fSaved.emplace_back(value != nullptr, value != nullptr ? value : "");
            unsetenv(name);
        }
    }

    void TearDown() override
    {
        for (size_t i = 0; i < fSaved.size(); ++i) {
            if (fSaved[i].first)
                setenv(kNames[i], fSaved[i].second.c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }

    std::vector<std::pair<bool, std::string>> fSaved;
};

}  // namespace

TEST_F(PreferredLanguagesTest, ReadFromTheEnvironment)
{
    struct Case {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::vector<uint32_t> dialects;
    } cases[] = {
        {nullptr, nullptr, nullptr, nullptr, {1033}},                // nothing says: US English
        {nullptr, nullptr, nullptr, "C.UTF-8", {1033}},
        {nullptr, nullptr, nullptr, "fr_CA.UTF-8", {3084}},
        {nullptr, nullptr, "de_DE.UTF-8", "fr_CA.UTF-8", {1031}},
        {nullptr, "ja_JP", "de_DE", "fr_CA", {1041}},
        {"de_CH:fr:xx", "ja_JP", nullptr, nullptr, {2055, 1036, 1033}},
        {"", "POSIX", nullptr, "es_MX.UTF-8@euro", {2058}},
    };
    for (const Case& c : cases) {
        const char* values[] = {c.language, c.lcAll, c.lcMessages, c.lang};
        for (size_t i = 0; i < 4; ++i) {
            if (values[i] != nullptr)
                setenv(kNames[i], values[i], 1);
            else
                unsetenv(kNames[i]);
        }
        std::vector<uint32_t> dialects{99};
        VIntlMgr::GetSystemUIDialectCodes(dialects);
        EXPECT_EQ(dialects, c.dialects) << (&c - cases);
        EXPECT_EQ(VIntlMgr::GetSystemUIDialectCode(), c.dialects.front()) << (&c - cases);
    }
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_TRUE(VIntlMgr::IsSystemUIDialectIdeographic());
    setenv("LANG", "en_GB.UTF-8", 1);
    EXPECT_FALSE(VIntlMgr::IsSystemUIDialectIdeographic());
}

TEST(VIntlMgrDialects, SystemDialectIsResolvedOnce)
{
    uint32_t system = VIntlMgr::ResolveDialectCode(0);
    EXPECT_TRUE(VIntlMgr::IsDialectCode(system));
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(static_cast<uint32_t>(-1)), system);
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(static_cast<uint32_t>(-2)), system);
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(1036), 1036u);
}
