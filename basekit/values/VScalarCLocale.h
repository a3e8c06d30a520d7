// VScalarCLocale.h - numbers in text, independent of the process locale.
//
// This file defines the helpers through which the scalar and duration values
// write and read numbers as text: always in the POSIX numeric locale, with '.'
// as the decimal point, whatever locale the process or the thread has set.
// Only the calling thread's locale is switched, and only for one call, so the
// helpers may be called from any thread.
#pragma once

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace bkit {
namespace scalar {

// The POSIX numeric locale, made once; null only when it cannot be made.
inline locale_t CNumericLocale()
{
    static const locale_t sLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    return sLocale;
}

// strtod in the POSIX numeric locale.
inline double ReadCDouble(const char* text, char** end)
{
    locale_t c = CNumericLocale();
    return (c != static_cast<locale_t>(nullptr)) ? strtod_l(text, end, c) : std::strtod(text, end);
}

// vsnprintf in the POSIX numeric locale (only this thread's locale changes,
// and only for the call).
inline int FormatCText(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    locale_t c = CNumericLocale();
    locale_t previous = (c != static_cast<locale_t>(nullptr)) ? uselocale(c) : static_cast<locale_t>(nullptr);
    int written = std::vsnprintf(buffer, size, format, args);
    if (previous != static_cast<locale_t>(nullptr))
        uselocale(previous);
    va_end(args);
    return written;
}

}  // namespace scalar
}  // namespace bkit
