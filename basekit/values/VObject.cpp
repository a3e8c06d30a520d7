// VObject.cpp - the root class of the toolbox.
//
// This file implements the debug dump of VObject. The memory manager pointers
// VObject::sCppMemMgr and sAlternateCppMemMgr are defined beside the manager
// (runtime/VMemoryMgr.cpp), whose start-up and end set and clear them.
#include "basekit/values/VObject.h"

#include "basekit/text/VString.h"

namespace bkit {

CharSet VObject::DebugDump(char*, int& length)
{
    length = 0;
    return VTC_UTF_8;
}

void VObject::DebugDump(VString& out)
{
    char buffer[1024];
    int length = static_cast<int>(sizeof(buffer));
    CharSet charset = DebugDump(buffer, length);
    // A dump that claims more than it was offered is cut to the buffer.
    if (length < 0)
        length = 0;
    if (length > static_cast<int>(sizeof(buffer)))
        length = static_cast<int>(sizeof(buffer));
    out.FromBlock(buffer, static_cast<VSize>(length), charset);
}

void VObject::DebugGetClassName(VString& out) const
{
    out.Clear();
}

}  // namespace bkit
