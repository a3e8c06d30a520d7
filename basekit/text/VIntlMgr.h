// VIntlMgr.h - the locale service of one dialect.
//
// This file defines VIntlMgr, the international manager: it owns the collator
// through which locale-aware string comparison and search run, and answers
// the dialect's decimal separator, white-space test and case mapping.
//
// Contracts:
// - Dialect codes are numeric language identifiers (1033 English, United
//   States; low 10 bits the primary language, (code AND 0x3FF) OR 0x400 its
//   primary dialect); -2, -1 and 0 stand for the system's dialect, taken from
//   LANGUAGE, LC_ALL, LC_MESSAGES, LANG (US English when none says).
// - A manager is reference counted (Create and Clone hand out one reference)
//   and belongs to one task: it is not locked, and its collator is never used
//   by two threads at once. Each task works with its own copy.
// - The with-diacritics flag of the comparisons makes case and accents
//   significant when true and ignores both when false; width is always ignored.
#pragma once

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VCollator;
class VCompareOptions;

constexpr VError VE_INTL_MGR_NOT_CREATED = MakeBKitError(305);

class VIntlMgr : public VObject, public IRefCountable {
public:
    // The fallback dialect everywhere: English, United States.
    static constexpr uint32_t kDefaultDialect = 1033;

    // A new manager with one reference, or null after raising 'bkit' 305.
    // A dialect without a locale falls back to its primary dialect, then 1033.
    static VIntlMgr* Create(uint32_t dialect, uint32_t collatorDialect, uint8_t options = 0);
    // A new copy with one reference: strings shared, the collator cloned.
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

    // --- characters ---

    // True for U+0020, U+00A0, U+2000 to U+200B and U+3000 only; the flag is unused.
    bool IsSpace(UniChar c, bool flag = false) const;
    // Upper- or lower-cases the whole string without locale rules; the length
    // may change (ß gives SS). The first flag is unused.
    void ToUpperLowerCase(VString& text, bool flag, bool upper) const;

    // --- locale variables ---

    const VString& GetDecimalSeparator() const { return fDecimalSeparator; }
    const VString& GetThousandsSeparator() const { return fThousandsSeparator; }

private:
    explicit VIntlMgr(uint32_t dialect);
    void _InitLocaleVariables();

    VCollator* fCollator;
    uint32_t fDialect;
    VString fDecimalSeparator;
    VString fThousandsSeparator;
};

}  // namespace bkit
