// LocaleCaseMapping.cpp - case mapping over ICU's root rules.
#include "basekit/platform/LocaleCaseMapping.h"

#include <unicode/ustring.h>

namespace bkit::platform {

int32_t MapCase(const char16_t* source, int32_t length, char16_t* target, int32_t capacity, bool upper)
{
    UErrorCode status = U_ZERO_ERROR;
    // The root locale: no Turkish dotless i, no Lithuanian accents.
    int32_t produced = upper ? u_strToUpper(target, capacity, source, length, "", &status)
                             : u_strToLower(target, capacity, source, length, "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR)
        return produced;
    if (U_FAILURE(status))
        return -1;
    return produced;
}

}  // namespace bkit::platform
