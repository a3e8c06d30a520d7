// XMacUUID.cpp - the platform half of the UUID value.
#include "basekit/values/mac/XMacUUID.h"

#include "basekit/platform/UUIDGenerator.h"

namespace bkit {

bool XMacUUID::Generate(VUUIDBuffer* buffer)
{
    return buffer && platform::GenerateUUID(buffer->fBytes);
}

}  // namespace bkit
