// VArrayKinds.cpp - the descriptors of the array kinds, registered at start-up.
//
// They are defined together so that they register in one fixed order:
// 100 to 109, then 111 and 110.
#include "basekit/values/VArrayBlob.h"
#include "basekit/values/VArrayBoolean.h"
#include "basekit/values/VArrayImage.h"
#include "basekit/values/VArrayNumeric.h"
#include "basekit/values/VArrayString.h"

namespace bkit {

const VValueInfo_array<VArrayBoolean, VK_ARRAY_BOOLEAN, unsigned char> VArrayBoolean::sInfo;
const VValueInfo_array<VArrayByte, VK_ARRAY_BYTE, char> VArrayByte::sInfo;
const VValueInfo_array<VArrayWord, VK_ARRAY_WORD, short> VArrayWord::sInfo;
const VValueInfo_array<VArrayLong, VK_ARRAY_LONG, int> VArrayLong::sInfo;
const VValueInfo_array<VArrayLong8, VK_ARRAY_LONG8, long long> VArrayLong8::sInfo;
const VValueInfo_array<VArrayReal, VK_ARRAY_REAL, double> VArrayReal::sInfo;
const VValueInfo_array<VArrayTime, VK_ARRAY_TIME, unsigned long long> VArrayTime::sInfo;
const VValueInfo_array<VArrayDuration, VK_ARRAY_DURATION, long long> VArrayDuration::sInfo;
const VValueInfo_array<VArrayString, VK_ARRAY_STRING, char> VArrayString::sInfo;
const VValueInfo_array<VArrayImage, VK_ARRAY_IMAGE, char> VArrayImage::sInfo;
const VValueInfo_array<VArrayBlob, VK_ARRAY_BLOB, char> VArrayBlob::sInfo;

}  // namespace bkit
