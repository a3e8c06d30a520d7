// XMacIntlMgr.cpp - the international manager's locale, names and formatters.
#include "basekit/text/mac/XMacIntlMgr.h"

#include <string>
#include <vector>

#include "basekit/platform/Locale.h"
#include "basekit/platform/LocaleCaseMapping.h"
#include "basekit/platform/LocaleDateFormatter.h"
#include "basekit/platform/TimeZone.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"
#include "basekit/text/mac/XMacTextConverter.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VTime.h"

namespace bkit {

struct XMacIntlMgr::Symbols {
    std::vector<std::u16string> fWeekdays;
    std::vector<std::u16string> fMonths;
    std::vector<std::u16string> fShortWeekdays;
    std::vector<std::u16string> fShortMonths;
};

namespace {

platform::DateFormatter::Style PlatformStyle(XMacIntlMgr::EStyle style)
{
    return static_cast<platform::DateFormatter::Style>(style);
}

void AssignUTF16(VString& out, const std::u16string& text)
{
    out.FromUniString(text.data(), static_cast<VIndex>(text.size()));
}

bool EqualIgnoringAsciiCase(const std::string& a, const char* b)
{
    if (b == nullptr || a.size() != std::char_traits<char>::length(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Seconds since 1970 of the time's UTC fields, milliseconds dropped.
int64_t AbsoluteTimeOf(const VTime& time)
{
    int16_t year, month, day, hour, minute, second, ms;
    time.GetUTCTime(year, month, day, hour, minute, second, ms);
    platform::GregorianDate date;
    date.year = year;
    date.month = month;
    date.day = day;
    date.hour = hour;
    date.minute = minute;
    date.second = second;
    return platform::AbsoluteTimeFromGMTDate(date);
}

}  // namespace

XMacIntlMgr::XMacIntlMgr(uint32_t dialect) : fDialect(dialect) {}

XMacIntlMgr::XMacIntlMgr(const XMacIntlMgr& other) : fDialect(other.fDialect) {}

XMacIntlMgr::~XMacIntlMgr() = default;

std::shared_ptr<const platform::Locale> XMacIntlMgr::CreateCFLocaleRef(uint32_t dialect)
{
    // The table's codes are ASCII: no text converter is needed.
    const char* language = VIntlMgr::GetISO6391LanguageCode(dialect);
    const char* region = VIntlMgr::GetISO3166RegionCode(dialect);
    std::string code = language != nullptr ? language : "";
    if (!code.empty() && region != nullptr && *region != 0)
        code.append("-").append(region);
    return platform::Locale::Create(code);
}

const platform::Locale& XMacIntlMgr::GetCFLocaleRef()
{
    if (fLocale == nullptr) {
        if (fDialect == VIntlMgr::ResolveDialectCode(0)) {
            // The user's own locale keeps the user's region formats, as long
            // as it speaks the dialect's language.
            std::shared_ptr<const platform::Locale> current = platform::Locale::CopyCurrent();
            if (EqualIgnoringAsciiCase(current->GetLanguageCode(), VIntlMgr::GetISO6391LanguageCode(fDialect)))
                fLocale = std::move(current);
        }
        if (fLocale == nullptr)
            fLocale = CreateCFLocaleRef(fDialect);
    }
    return *fLocale;
}

std::shared_ptr<const platform::Locale> XMacIntlMgr::RetainCFLocaleRef()
{
    GetCFLocaleRef();
    return fLocale;
}

void XMacIntlMgr::ToUpperLowerCase(VString& text, bool upper) const
{
    VIndex length = text.GetLength();
    if (length == 0)
        return;
    char16_t stackBuffer[512];
    if (length < 256) {
        int32_t produced = platform::MapCase(text.GetCPointer(), length, stackBuffer, 512, upper);
        if (produced >= 0 && produced <= 512) {
            text.FromUniString(stackBuffer, produced);
            return;
        }
        if (produced < 0)
            return;
    }
    std::u16string heap(static_cast<size_t>(length) * 3 + 1, u'\0');
    int32_t produced =
        platform::MapCase(text.GetCPointer(), length, heap.data(), static_cast<int32_t>(heap.size()), upper);
    if (produced > static_cast<int32_t>(heap.size())) {
        heap.assign(static_cast<size_t>(produced), u'\0');
        produced = platform::MapCase(text.GetCPointer(), length, heap.data(), produced, upper);
    }
    if (produced >= 0 && produced <= static_cast<int32_t>(heap.size()))
        text.FromUniString(heap.data(), produced);
}

void XMacIntlMgr::FormatVTime(const VTime& time, VString& out, EStyle dateStyle, EStyle timeStyle, bool utc)
{
    out.Clear();
    platform::DateFormatter formatter(GetCFLocaleRef(), PlatformStyle(dateStyle), PlatformStyle(timeStyle));
    if (!formatter.IsValid())
        return;
    if (utc)
        formatter.SetTimeZoneGMT();
    std::u16string text;
    if (formatter.Format(AbsoluteTimeOf(time), text))
        AssignUTF16(out, text);
}

void XMacIntlMgr::FormatVDuration(const VDuration& duration, VString& out, EStyle timeStyle)
{
    out.Clear();
    int32_t days, hours, minutes, seconds, ms;
    duration.GetDuration(days, hours, minutes, seconds, ms);
    platform::GregorianDate date;
    date.year = 0;
    date.month = 1;
    date.day = days;
    date.hour = hours;
    date.minute = minutes;
    date.second = seconds;
    platform::DateFormatter formatter(GetCFLocaleRef(), platform::DateFormatter::kNoStyle, PlatformStyle(timeStyle));
    std::u16string text;
    if (formatter.IsValid() && formatter.Format(platform::AbsoluteTimeFromGMTDate(date), text))
        AssignUTF16(out, text);
}

void XMacIntlMgr::FormatVTimeWithTemplate(const VTime& time, const VString& skeleton, VString& out, bool utc)
{
    out.Clear();
    std::u16string pattern(skeleton.GetCPointer(), static_cast<size_t>(skeleton.GetLength()));
    platform::DateFormatter formatter(GetCFLocaleRef(), pattern);
    if (!formatter.IsValid())
        return;
    if (utc)
        formatter.SetTimeZoneGMT();
    std::u16string text;
    if (formatter.Format(AbsoluteTimeOf(time), text))
        AssignUTF16(out, text);
}

void XMacIntlMgr::FormatDate(const VTime& time, VString& out, EStyle style, bool utc)
{
    FormatVTime(time, out, style, eNoStyle, utc);
}

void XMacIntlMgr::FormatTime(const VTime& time, VString& out, EStyle style, bool utc)
{
    FormatVTime(time, out, eNoStyle, style, utc);
}

void XMacIntlMgr::FormatDuration(const VDuration& duration, VString& out, EStyle style)
{
    FormatVDuration(duration, out, style);
}

void XMacIntlMgr::GetFormatPattern(EStyle dateStyle, EStyle timeStyle, VString& pattern)
{
    pattern.Clear();
    platform::DateFormatter formatter(GetCFLocaleRef(), PlatformStyle(dateStyle), PlatformStyle(timeStyle));
    if (formatter.IsValid())
        AssignUTF16(pattern, formatter.GetPattern());
}

void XMacIntlMgr::GetAMPMSymbols(VString& am, VString& pm)
{
    platform::DateFormatter formatter(GetCFLocaleRef(), platform::DateFormatter::kNoStyle,
                                      platform::DateFormatter::kShortStyle);
    std::u16string symbol;
    if (formatter.GetAMSymbol(symbol))
        AssignUTF16(am, symbol);
    if (formatter.GetPMSymbol(symbol))
        AssignUTF16(pm, symbol);
}

void XMacIntlMgr::GetNumberSymbols(VString& decimal, VString& grouping, VString& currency)
{
    const platform::Locale& locale = GetCFLocaleRef();
    std::u16string text = locale.GetDecimalSeparator();
    if (!text.empty())
        AssignUTF16(decimal, text);
    text = locale.GetGroupingSeparator();
    if (!text.empty())
        AssignUTF16(grouping, text);
    text = locale.GetCurrencySymbol();
    if (!text.empty())
        AssignUTF16(currency, text);
}

bool XMacIntlMgr::LoadCalendarSymbols()
{
    if (fSymbols != nullptr)
        return true;
    platform::DateFormatter formatter(GetCFLocaleRef(), platform::DateFormatter::kShortStyle,
                                      platform::DateFormatter::kNoStyle);
    auto symbols = std::make_unique<Symbols>();
    if (!formatter.GetSymbols(platform::DateFormatter::kWeekdayNames, symbols->fWeekdays) ||
        !formatter.GetSymbols(platform::DateFormatter::kMonthNames, symbols->fMonths) ||
        !formatter.GetSymbols(platform::DateFormatter::kShortWeekdayNames, symbols->fShortWeekdays) ||
        !formatter.GetSymbols(platform::DateFormatter::kShortMonthNames, symbols->fShortMonths))
        return false;
    fSymbols = std::move(symbols);
    return true;
}

void XMacIntlMgr::GetMonthName(int32_t month, bool shortName, VString& name)
{
    if (month < 1 || month > 12) {
        name.Clear();
        return;
    }
    if (!LoadCalendarSymbols())
        return;
    AssignUTF16(name, (shortName ? fSymbols->fShortMonths : fSymbols->fMonths)[static_cast<size_t>(month - 1)]);
}

void XMacIntlMgr::GetWeekDayName(int32_t day, bool shortName, VString& name)
{
    if (day < 0 || day > 6) {
        name.Clear();
        return;
    }
    if (!LoadCalendarSymbols())
        return;
    AssignUTF16(name, (shortName ? fSymbols->fShortWeekdays : fSymbols->fWeekdays)[static_cast<size_t>(day)]);
}

// --- text converters ---

// A converter that the platform could not open is given back at once: callers
// fall back to a void converter of their own.
VToUnicodeConverter* XMacIntlMgr::NewToUnicodeConverter(CharSet charSet)
{
    auto* converter = new XMacToUnicodeConverter(charSet);
    if (converter->IsValid())
        return converter;
    converter->Release();
    return nullptr;
}

VFromUnicodeConverter* XMacIntlMgr::NewFromUnicodeConverter(CharSet charSet)
{
    auto* converter = new XMacFromUnicodeConverter(charSet);
    if (converter->IsValid())
        return converter;
    converter->Release();
    return nullptr;
}

}  // namespace bkit
