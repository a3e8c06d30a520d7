// XMacUUID.h - the platform half of the UUID value.
//
// This file defines XMacUUID, through which VUUID gets new identifiers from the
// platform's generator (see basekit/platform/UUIDGenerator.h). Stateless; any
// thread may call it.
#pragma once

#include "basekit/values/VUUID.h"

namespace bkit {

class XMacUUID {
public:
    // Fills buffer with a new identifier. False, buffer untouched, when the
    // platform cannot make one.
    static bool Generate(VUUIDBuffer* buffer);

    XMacUUID() = delete;
};

}  // namespace bkit
