// VEmpty.cpp - the empty value (kind 0).
//
// This file implements VEmpty and its descriptor, registered under kind 0 by
// this file's static initialiser.
#include "basekit/values/VEmpty.h"

namespace bkit {

const VEmpty_info VEmpty::sInfo;

VValue* VEmpty_info::Generate() const
{
    return new VEmpty;
}

VValue* VEmpty_info::Generate(VBlob*) const
{
    return new VEmpty;
}

VValue* VEmpty_info::LoadFromPtr(const void*, bool) const
{
    return new VEmpty;
}

const VValueInfo* VEmpty::GetValueInfo() const
{
    return &sInfo;
}

VValue* VEmpty::Clone() const
{
    return new VEmpty;
}

CompareResult VEmpty::CompareTo(const VValueSingle&, bool) const
{
    return CR_UNRELEVANT;
}

}  // namespace bkit
