// UUIDGenerator.cpp - new identifiers from libuuid.
#include "basekit/platform/UUIDGenerator.h"

#include <uuid/uuid.h>

#include <cstring>

namespace bkit::platform {

bool GenerateUUID(uint8_t (&bytes)[16])
{
    static_assert(sizeof(uuid_t) == 16, "libuuid identifiers are 16 bytes");
    uuid_t uuid;
    uuid_generate(uuid);
    std::memcpy(bytes, uuid, sizeof(uuid));
    return true;
}

}  // namespace bkit::platform
