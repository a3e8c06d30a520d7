// LocaleDateFormatter.cpp - date formatters over ICU.
#include "basekit/platform/LocaleDateFormatter.h"

#include <mutex>

#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/udatpg.h>
#include <unicode/ustring.h>

#include "basekit/platform/Locale.h"

namespace bkit::platform {

namespace {

UDateFormatStyle IcuStyle(DateFormatter::Style style)
{
    switch (style) {
        case DateFormatter::kShortStyle:
            return UDAT_SHORT;
        case DateFormatter::kMediumStyle:
            return UDAT_MEDIUM;
        case DateFormatter::kLongStyle:
            return UDAT_LONG;
        case DateFormatter::kFullStyle:
            return UDAT_FULL;
        default:
            return UDAT_NONE;
    }
}

UDateFormat* AsFormat(void* format)
{
    return static_cast<UDateFormat*>(format);
}

// The host's zone as it is now (the TZ environment is read again), so that a
// formatter follows a zone changed after the first one was made. ICU detects
// the host zone in static buffers of its own: one thread at a time.
std::u16string HostZone()
{
    static std::mutex sHostZoneLock;
    std::lock_guard<std::mutex> guard(sHostZoneLock);
    UChar buffer[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = ucal_getHostTimeZone(buffer, 128, &status);
    if (U_FAILURE(status) || length <= 0 || length > 128)
        return std::u16string();
    return std::u16string(buffer, static_cast<size_t>(length));
}

UDateFormat* OpenFormat(UDateFormatStyle time, UDateFormatStyle date, const char* locale, const UChar* pattern,
                        int32_t patternLength)
{
    std::u16string zone = HostZone();
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(time, date, locale, zone.empty() ? nullptr : zone.data(),
                                    zone.empty() ? -1 : static_cast<int32_t>(zone.size()), pattern, patternLength,
                                    &status);
    if (U_SUCCESS(status))
        return format;
    if (format != nullptr)
        udat_close(format);
    return nullptr;
}

// Runs an ICU call that fills a UTF-16 buffer, growing it once when too small.
template <class Call>
bool FillString(std::u16string& out, Call call)
{
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = call(buffer, 256, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        std::u16string big(static_cast<size_t>(length) + 1, u'\0');
        status = U_ZERO_ERROR;
        length = call(big.data(), length + 1, &status);
        if (U_FAILURE(status))
            return false;
        out.assign(big.data(), static_cast<size_t>(length));
        return true;
    }
    if (U_FAILURE(status))
        return false;
    out.assign(buffer, static_cast<size_t>(length));
    return true;
}

}  // namespace

DateFormatter::DateFormatter(const Locale& locale, Style dateStyle, Style timeStyle)
{
    UDateFormatStyle date = IcuStyle(dateStyle);
    UDateFormatStyle time = IcuStyle(timeStyle);
    if (date == UDAT_NONE && time == UDAT_NONE) {
        fEmpty = true;
        return;
    }
    fFormat = OpenFormat(time, date, locale.GetIdentifier().c_str(), nullptr, -1);
}

DateFormatter::DateFormatter(const Locale& locale, const std::u16string& skeleton)
{
    UErrorCode status = U_ZERO_ERROR;
    const char* identifier = locale.GetIdentifier().c_str();
    UDateTimePatternGenerator* generator = udatpg_open(identifier, &status);
    if (U_FAILURE(status)) {
        if (generator != nullptr)
            udatpg_close(generator);
        return;
    }
    std::u16string pattern;
    bool found = FillString(pattern, [&](UChar* buffer, int32_t capacity, UErrorCode* err) {
        return udatpg_getBestPattern(generator, skeleton.data(), static_cast<int32_t>(skeleton.size()), buffer,
                                     capacity, err);
    });
    udatpg_close(generator);
    if (!found)
        return;
    fFormat = OpenFormat(UDAT_PATTERN, UDAT_PATTERN, identifier, pattern.data(), static_cast<int32_t>(pattern.size()));
}

DateFormatter::~DateFormatter()
{
    if (fFormat != nullptr)
        udat_close(AsFormat(fFormat));
}

std::u16string DateFormatter::GetPattern() const
{
    std::u16string pattern;
    if (fFormat != nullptr) {
        FillString(pattern, [&](UChar* buffer, int32_t capacity, UErrorCode* err) {
            return udat_toPattern(AsFormat(fFormat), false, buffer, capacity, err);
        });
    }
    return pattern;
}

bool DateFormatter::GetAMSymbol(std::u16string& symbol) const
{
    if (fFormat == nullptr)
        return false;
    return FillString(symbol, [&](UChar* buffer, int32_t capacity, UErrorCode* err) {
        return udat_getSymbols(AsFormat(fFormat), UDAT_AM_PMS, 0, buffer, capacity, err);
    });
}

bool DateFormatter::GetPMSymbol(std::u16string& symbol) const
{
    if (fFormat == nullptr)
        return false;
    return FillString(symbol, [&](UChar* buffer, int32_t capacity, UErrorCode* err) {
        return udat_getSymbols(AsFormat(fFormat), UDAT_AM_PMS, 1, buffer, capacity, err);
    });
}

bool DateFormatter::GetSymbols(Symbols which, std::vector<std::u16string>& names) const
{
    names.clear();
    if (fFormat == nullptr)
        return false;
    UDateFormatSymbolType type = UDAT_MONTHS;
    int32_t first = 0;
    switch (which) {
        case kMonthNames:
            type = UDAT_MONTHS;
            break;
        case kShortMonthNames:
            type = UDAT_SHORT_MONTHS;
            break;
        case kWeekdayNames:
            type = UDAT_WEEKDAYS;
            first = 1;  // ICU keeps an empty entry before Sunday
            break;
        case kShortWeekdayNames:
            type = UDAT_SHORT_WEEKDAYS;
            first = 1;
            break;
    }
    int32_t count = udat_countSymbols(AsFormat(fFormat), type);
    for (int32_t i = first; i < count; ++i) {
        std::u16string name;
        if (!FillString(name, [&](UChar* buffer, int32_t capacity, UErrorCode* err) {
                return udat_getSymbols(AsFormat(fFormat), type, i, buffer, capacity, err);
            }))
            return false;
        names.push_back(std::move(name));
    }
    // Lunar calendars may have a thirteenth month; the toolbox wants twelve.
    size_t wanted = (which == kMonthNames || which == kShortMonthNames) ? 12 : 7;
    if (names.size() < wanted)
        return false;
    names.resize(wanted);
    return true;
}

void DateFormatter::SetTimeZoneGMT()
{
    if (fFormat == nullptr)
        return;
    UErrorCode status = U_ZERO_ERROR;
    UCalendar* calendar = ucal_clone(udat_getCalendar(AsFormat(fFormat)), &status);
    if (U_FAILURE(status) || calendar == nullptr)
        return;
    static const UChar kGMT[] = u"GMT";
    ucal_setTimeZone(calendar, kGMT, 3, &status);
    if (U_SUCCESS(status))
        udat_setCalendar(AsFormat(fFormat), calendar);
    ucal_close(calendar);
}

bool DateFormatter::Format(int64_t secondsSince1970, std::u16string& out) const
{
    if (fEmpty) {
        out.clear();
        return true;
    }
    if (fFormat == nullptr)
        return false;
    UDate date = static_cast<UDate>(secondsSince1970) * 1000.0;
    return FillString(out, [&](UChar* buffer, int32_t capacity, UErrorCode* err) {
        return udat_format(AsFormat(fFormat), date, buffer, capacity, nullptr, err);
    });
}

}  // namespace bkit::platform
