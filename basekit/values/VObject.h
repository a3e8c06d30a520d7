// VObject.h - the root class of the toolbox.
//
// This file defines VObject, the base of every toolbox class: a virtual
// destructor and a debug dump. It also holds the process-wide pointer to the one
// memory manager (sCppMemMgr), created by the first static initialiser of the
// program and deleted after every other static; code that runs before it exists
// or after it is gone must cope with a null pointer. sAlternateCppMemMgr is the
// slot of a second manager; this system installs none, and the program's end
// clears it with sCppMemMgr.
#pragma once

#include "basekit/BKitTypes.h"

namespace bkit {

class VCppMemMgr;
class VString;

class VObject {
public:
    VObject() = default;
    virtual ~VObject() = default;

    // Writes a description of the object into buffer (at most length bytes),
    // sets length to the bytes written and returns their charset. The base
    // writes nothing and answers UTF-8.
    virtual CharSet DebugDump(char* buffer, int& length);

    // Offers a 1024-byte buffer to the virtual DebugDump and decodes what it wrote.
    void DebugDump(VString& out);

    // Clears the string; classes that want a name in dumps override nothing here.
    void DebugGetClassName(VString& out) const;

    // The process-wide memory manager; null before it is built and after it is gone.
    static VCppMemMgr* sCppMemMgr;
    static VCppMemMgr* GetMainMemMgr() { return sCppMemMgr; }
    // A second manager; none in this system (null).
    static VCppMemMgr* sAlternateCppMemMgr;
};

}  // namespace bkit
