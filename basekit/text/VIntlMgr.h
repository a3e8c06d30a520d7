// VIntlMgr.h - the locale service of one dialect.
//
// This file defines VIntlMgr, the international manager: it owns the collator
// through which locale-aware string comparison and search run, holds the
// dialect's separators, date and time formats and AM/PM symbols, formats
// dates, times and durations, classifies characters, maps case, finds words,
// and converts between numeric dialect codes and ISO 639, ISO 3166, BCP 47 and
// RFC 3066bis language codes (the constant table of dialects), and finds the
// localization folders (".lproj") of a dialect and the files in them. It also
// defines the small VBidiRun record of GetBidiRuns.
//
// Contracts:
// - Dialect codes are unsigned 32-bit numbers: low 10 bits the primary
//   language, (code AND 0x3FF) OR 0x400 its primary dialect; 1033 (English,
//   United States) is the fallback everywhere. -2, -1 and 0 stand for the
//   system's dialect, resolved once per process from the user's preferred
//   languages (LANGUAGE, LC_ALL, LC_MESSAGES, LANG; US English when none says).
// - A manager is reference counted: Create and Clone hand out one reference,
//   Get... operations hand out none. A manager belongs to one task and is not
//   locked; each task works with its own copy, so its collator is never used
//   by two threads at once.
// - The with-diacritics flag of comparisons and searches makes case and
//   accents significant when true and ignores both when false; width is
//   always ignored. Positions are 1-based; 0 means not found.
// - Code lookups that find nothing return false, leave code outputs at -2 and
//   string outputs empty, and raise no error.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/text/mac/XMacIntlMgr.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class IFolder;
class VCollator;
class VCompareOptions;
class VDuration;
class VTime;

constexpr VError VE_INTL_MGR_NOT_CREATED = MakeBKitError(305);

// Styles of the platform's date, time and duration formats.
enum EOSFormats : int32_t {
    eOS_SHORT_FORMAT = 0,
    eOS_MEDIUM_FORMAT = 1,
    eOS_LONG_FORMAT = 2,  // the full style for dates, the long style for times
};

// How FindStrings filters the matches it finds against word boundaries.
enum EFindStringMode : int32_t {
    eFindContains = 0,        // every match
    eFindWholeWord = 3,       // neither start nor end strictly inside a word
    eFindAnywhere = 4,        // every match
    eFindStartsWithWord = 5,  // the start not strictly inside a word
    eFindEndsWithWord = 6,    // the end not strictly inside a word
};

// One run of text of a single direction.
class VBidiRun {
public:
    VBidiRun() = default;
    VBidiRun(int32_t start, int32_t length, bool rightToLeft)
        : fStart(start), fLength(length), fRightToLeft(rightToLeft ? 1 : 0)
    {
    }
    virtual ~VBidiRun() = default;

    int32_t fStart = 0;
    int32_t fLength = 0;
    int32_t fLevel = 0;
    uint8_t fRightToLeft = 0;
};

class VIntlMgr : public VObject, public IRefCountable {
public:
    // The fallback dialect everywhere: English, United States.
    static constexpr uint32_t kDefaultDialect = 1033;
    // The code outputs of failed lookups.
    static constexpr uint32_t kNoDialect = static_cast<uint32_t>(-2);
    // Creation option: keep the built-in word rules even when ICU word rules
    // are available.
    static constexpr uint8_t kOptionBuiltInWordRules = 32;

    // Whether managers made from now on use ICU word rules (word-rule kind 2)
    // rather than the built-in ones; false, and nothing sets it.
    static bool sICU_Available;

    // --- creation and copies ---

    // A new manager with one reference, or null after raising 'bkit' 305.
    // A dialect that no table row has falls back to its primary dialect, then
    // to 1033; a collator dialect of 1038 or 1054 gives 1033. When the calling
    // task's manager has the same dialects and a collator whose option byte
    // equals options, the result is a clone of it with its collator reset.
    static VIntlMgr* Create(uint32_t dialect, uint32_t collatorDialect, uint8_t options = 0);
    // A new copy with one reference: strings shared, the collator cloned, the
    // platform part without locale and symbols (made again on first use).
    VIntlMgr* Clone() const;
    VIntlMgr(const VIntlMgr& other);
    ~VIntlMgr() override;

    // Puts the collator back to its defaults (wild card).
    void Reset();

    // The calling task's manager; when the task has none (a thread that is no
    // task, or before the process made one), a manager of 1033 owned by the
    // calling thread. Get: no reference. Never null.
    static VIntlMgr* GetCurrentOrDefault();

    // -2, -1 and 0 give the system dialect; anything else is returned unchanged.
    static uint32_t ResolveDialectCode(uint32_t dialect);

    uint32_t GetDialectCode() const { return fDialect; }
    // The manager's collator; owned by the manager (Get: no reference).
    VCollator* GetCollator() const { return fCollator; }
    // The platform part (locale, symbols); owned by the manager.
    XMacIntlMgr& GetImpl() const { return fImpl; }

    // --- formatting (the result replaces out) ---

    // eOS_SHORT_FORMAT, eOS_MEDIUM_FORMAT, eOS_LONG_FORMAT: the platform's
    // short, medium and full date styles; other values leave out untouched.
    // With utc the date is shown in GMT, else in the user's time zone.
    void FormatDate(const VTime& time, VString& out, EOSFormats format, bool utc) const;
    // Short, medium and long time styles; other values use no time style.
    void FormatTime(const VTime& time, VString& out, EOSFormats format, bool utc) const;
    // Days, hours, minutes and seconds placed in a date of year 0 (taken as
    // GMT, shown in the user's zone) and formatted with a time style.
    void FormatDuration(const VDuration& duration, VString& out, EOSFormats format) const;
    // Letters of the pattern (y, M, d, E, H, h, m, s, a ...) replaced by the
    // time's fields, UTC or local; no quoting. monthText, when given, stands
    // for MMM, MMMM and MMMMM.
    void FormatDateTimeWithPattern(const VTime& time, const VString& pattern, bool utc, const VString* monthText,
                                   VString& out) const;
    // Months 1 to 12, weekdays 0 (Sunday) to 6; out of range clears name.
    void GetMonthName(int32_t month, bool shortName, VString& name) const;
    void GetWeekDayName(int32_t day, bool shortName, VString& name) const;
    // Clears out and returns 0.
    int32_t CustomFormatTime(const VTime& time, bool flag, const VString& format, VString& out) const;

    // --- comparison (forwarded to the collator) ---

    CompareResult CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                bool withDiacritics) const;
    // LIKE matching when the options ask for it, else plain, with the options' flag.
    CompareResult CompareString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                const VCompareOptions& options) const;
    CompareResult CompareString_Like(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                                     bool withDiacritics) const;
    bool EqualString(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                     bool withDiacritics) const;
    bool EqualString_Like(const UniChar* a, VIndex aLength, const UniChar* b, VIndex bLength,
                          bool withDiacritics) const;
    UniChar GetWildChar() const;
    void GetStringComparisonAlgorithmSignature(VString& out) const;
    // "AlphaNum" for the built-in word rules.
    void GetKewordAlgorithmSignature(VString& out) const;

    // --- characters ---

    bool IsAlpha(UniChar c) const;
    bool IsDigit(UniChar c) const;
    bool IsPunctuation(UniChar c) const;
    // True for U+0020, U+00A0, U+2000 to U+200B and U+3000 only (no tab, no
    // line ends); the flag is unused.
    bool IsSpace(UniChar c, bool flag = false) const;
    // 0 to 9 for "0" to "9", else -1.
    int32_t CharDigitValue(UniChar c) const;
    // Always 0.
    static int32_t CharType(uint32_t c);
    // Upper- or lower-cases the whole string without locale rules; the length
    // may change (ß gives SS). The first flag is unused.
    void ToUpperLowerCase(VString& text, bool flag, bool upper) const;
    // Byte classes of 8-bit Mac Roman text: 0 printable (with tab and CR),
    // 1 identifier (with 0x80-0x9F and some letters), 2 the same without
    // digits, 3 ASCII identifier, 4 ASCII identifier start, 5 digit.
    static bool IsAMacCharacter(uint8_t byte, uint8_t kind);

    // --- words and text direction ---

    // Option bit 1: the (1-based start, length) of each run of letters and
    // digits. False with no ranges without it or for an empty text.
    static bool GetWordBoundariesWithOptions(const VString& text, std::vector<std::pair<VIndex, VIndex>>& words,
                                             uint32_t options);
    bool FindWord(const VString& text, const VString& word, const VCompareOptions& options) const;
    // Every (1-based position, length) of pattern in text that the mode
    // accepts (only the first without all). Always advances past each match.
    void FindStrings(const VString& text, const VString& pattern, EFindStringMode mode, bool withDiacritics,
                     std::vector<std::pair<VIndex, VIndex>>& found, bool all) const;
    // Changes nothing; true when the text is empty or one carriage return.
    bool TextLogicalToVisual(VString& text, int32_t direction) const;
    // One run covering the text (a final CR left out when asked); answers the
    // run's right-to-left flag (direction bit 0).
    static bool GetBidiRuns(const UniChar* text, VIndex length, std::vector<VBidiRun>& runs,
                            std::vector<int32_t>& visualOrder, int32_t direction, bool ignoreTrailingCR);

    // Copies min(size, targetSize) bytes when both charsets are equal; answers
    // whether they were.
    static bool DebugConvertString(void* source, int32_t size, CharSet sourceCharSet, void* target,
                                   int32_t& targetSize, CharSet targetCharSet);

    // --- locale variables ---

    const VString& GetDecimalSeparator() const { return fDecimalSeparator; }
    const VString& GetThousandsSeparator() const { return fThousandsSeparator; }
    const VString& GetDateSeparator() const { return fDateSeparator; }
    const VString& GetTimeSeparator() const { return fTimeSeparator; }
    const VString& GetCurrency() const { return fCurrency; }
    const VString& GetAMString() const { return fAMString; }
    const VString& GetPMString() const { return fPMString; }
    // Whether the short time format shows AM/PM.
    bool UseAmPm() const { return fUseAmPm; }
    // 0 month-day-year, 1 day-month-year, 2 year-month-day, 3 month-year-day,
    // 4 day-year-month, 5 year-day-month.
    int32_t GetDateOrder() const { return fDateOrder; }
    // Platform patterns of the styles short, medium, long, full (index 0 to 3).
    const VString& GetDatePattern(int32_t style) const;
    const VString& GetTimePattern(int32_t style) const;

    // --- dialects and language codes (the constant table) ---

    // The ISO 639-1 code of the dialect's first row, or null.
    static const char* GetISO6391LanguageCode(uint32_t dialect);
    static bool GetISO6391LanguageCode(uint32_t dialect, VString& code);
    static bool GetISO6392LanguageCode(uint32_t dialect, VString& code);
    static bool GetISOLanguageName(uint32_t dialect, VString& name);
    static const char* GetISO3166RegionCode(uint32_t dialect);
    static bool GetISO3166RegionCode(uint32_t dialect, VString& code);
    static bool GetRFC3066BisSubTagRegionCode(uint32_t dialect, VString& code);
    // ISO 639-1 code, then "-" and the region when the row has one (en-US, am).
    static bool GetBCP47LanguageCode(uint32_t dialect, VString& code);
    // ISO 639-1 code, then separator and the subtag when the row has one
    // (fr-ca, zh_Hant); returns true.
    static bool GetRFC3066BisLanguageCodeWithDialectCode(uint32_t dialect, VString& code, char separator = '-');
    // "ll", "ll-ss" or "ll_ss". fallBack: a language with an unknown subtag
    // gives its primary dialect; primary: a bare language gives its primary
    // dialect. Other shapes (three parts) give false and -2.
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const VString& language, uint32_t& code,
                                                         bool fallBack = true, bool primary = true);
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const char* language, const char* subtag,
                                                         uint32_t& code, bool fallBack = true, bool primary = true);
    // English language name ("french"), any case and accents.
    static bool GetDialectCodeWithISOLanguageName(const VString& name, uint32_t& code);
    // 4 equal, 3 a regional and b its bare language, 2 the reverse, 1 two
    // regions of one language, 0 otherwise, -1 when either is unknown.
    static int32_t Compare2RFC3066LanguageCodes(const VString& a, const VString& b);
    static bool IsDialectCode(uint32_t dialect);
    static bool IsRightToLeftDialect(uint32_t dialect);
    // Appends the table's codes in table order.
    static void GetAllDialects(std::vector<uint32_t>& dialects);
    static void GetDialectsHavingCollator(std::vector<std::pair<VString, uint32_t>>& dialects);
    // The first of the user's preferred languages (1033 when none resolves).
    static uint32_t GetSystemUIDialectCode();
    // One code per preferred language, 1033 for one that does not resolve.
    static void GetSystemUIDialectCodes(std::vector<uint32_t>& dialects);
    static bool IsSystemUIDialectIdeographic();
    // 0 Roman, 1 Japanese, 2 traditional Chinese, 3 simplified Chinese,
    // 4 Korean, 5 Arabic, 6 Hebrew, 7 Greek, 8 Cyrillic, 9 Central European,
    // 10 Croatian and Slovene, 11 Icelandic and Faroese, 12 Persian,
    // 13 Romanian, 14 Thai, 15 Vietnamese, 16 Turkish, -1 unknown.
    static int32_t DialectCodeToScriptCode(uint32_t dialect);
    // The candidate ".lproj" folder names of a dialect, in search order.
    static void GetLocalizationFolderNames(uint32_t dialect, std::vector<VString>& names);
    // Appends to folders each candidate ".lproj" sub-folder of parent that
    // exists, in search order (new references owned by the vector); answers
    // whether one was appended. Null parent or unknown dialect: false.
    static bool GetLocalizationFoldersWithDialect(uint32_t dialect, const IFolder* parent,
                                                  std::vector<VRefPtr<IFolder>>& folders);
    // The file called name in the localization folders of the dialect, the
    // last folder found searched first; one reference, or null. found, when
    // given, tells whether a file was returned.
    static IFile* RetainLocalizationFile(const IFolder* parent, const VString& name, uint32_t dialect,
                                         bool* found = nullptr);

private:
    explicit VIntlMgr(uint32_t dialect);
    void _InitLocaleVariables();
    void _GetWordRanges(const VString& text, std::vector<std::pair<VIndex, VIndex>>& words) const;
    // The letter and digit tables, for the static word rules.
    static bool _IsAlphaUnit(UniChar c);
    static bool _IsDigitUnit(UniChar c);
    static bool _HasApostropheSecondFollowedByVowel(const VString& text, VIndex position, VIndex length);
    static bool _SplitWordRangeOnDot(const VString& text, VIndex start, VIndex length,
                                     std::vector<std::pair<VIndex, VIndex>>& ranges, bool keepDots);

    mutable XMacIntlMgr fImpl;
    uint32_t fWordRuleKind;
    VCollator* fCollator;
    uint32_t fDialect;
    VString fAMString;
    VString fPMString;
    bool fUseAmPm;
    VString fDecimalSeparator;
    VString fThousandsSeparator;
    VString fDateSeparator;
    VString fTimeSeparator;
    VString fCurrency;
    VString fDatePatterns[4];
    VString fTimePatterns[4];
    int32_t fDateOrder;
};

}  // namespace bkit
