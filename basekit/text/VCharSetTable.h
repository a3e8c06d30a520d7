// VCharSetTable.h - the constant table of charset names.
//
// This file declares the table behind the registry's name lookups: one row per
// name (several rows share a charset; the first row of a charset is its
// canonical name), with the IANA MIBenum number and whether web clients are
// offered the name. The table ends with an all-zero row. Internal to the
// registry; read-only, so any thread may read it.
#pragma once

#include <cstdint>

#include "basekit/BKitTypes.h"

namespace bkit {

struct VCharSetNameRow {
    int32_t fCharSet;
    int32_t fMIBEnum;
    const UniChar* fUniName;
    const char* fName;
    int32_t fWeb;
};

// 162 rows and the closing zero row.
extern const VCharSetNameRow sCharSetNameTable[163];

}  // namespace bkit
