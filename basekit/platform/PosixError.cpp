// PosixError.cpp - errno, EINTR retries and native error codes of the file layer.

#include "basekit/platform/PosixError.h"

#include <unistd.h>

namespace bkit {

VError PosixErrorFromErrno(int errnum)
{
    return errnum == 0 ? VE_OK : MakeVError(kPOSX_SIGNATURE, errnum);
}

VError LastPosixError()
{
    return PosixErrorFromErrno(errno);
}

VError CocoaErrorFromErrno(int errnum, bool reading)
{
    int32_t number;
    switch (errnum) {
        case 0:
            return VE_OK;
        case EEXIST:
            number = kCocoaFileWriteFileExists;
            break;
        case ENOENT:
            number = reading ? kCocoaFileReadNoSuchFile : kCocoaFileNoSuchFile;
            break;
        case EACCES:
        case EPERM:
            number = reading ? kCocoaFileReadNoPermission : kCocoaFileWriteNoPermission;
            break;
        case ENOSPC:
        case EDQUOT:
            number = kCocoaFileWriteOutOfSpace;
            break;
        case EROFS:
            number = kCocoaFileWriteVolumeReadOnly;
            break;
        case ENAMETOOLONG:
            number = kCocoaFileWriteInvalidFileName;
            break;
        case ENOTSUP:
            number = kCocoaFeatureUnsupported;
            break;
        default:
            number = kCocoaFileWriteUnknown;
            break;
    }
    return MakeVError(kCOCO_SIGNATURE, number);
}

void StFileDescriptor::Reset(int fd)
{
    if (fFD >= 0)
        ::close(fFD);
    fFD = fd;
}

}  // namespace bkit
