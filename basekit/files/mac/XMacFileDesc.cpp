// XMacFileDesc.cpp - positional reads and writes on one descriptor.

#include "basekit/files/mac/XMacFileDesc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basekit/files/VStream.h"
#include "basekit/platform/PosixError.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

XMacFileDesc::~XMacFileDesc()
{
    if (fFD >= 0)
        ::close(fFD);
}

VError XMacFileDesc::GetSize(int64_t* size) const
{
    struct stat st;
    if (::fstat(fFD, &st) != 0) {
        if (size)
            *size = 0;
        return LastPosixError();
    }
    if (size)
        *size = st.st_size;
    return VE_OK;
}

VError XMacFileDesc::SetSize(int64_t size) const
{
    return RetryOnEINTR([&] { return ::ftruncate(fFD, size); }) == 0 ? VE_OK : LastPosixError();
}

namespace {

// The chunked positional transfer shared by reads and writes. An EINTR
// restarts the whole transfer from its start, as the partial chunks already
// done are simply done again.
template <class Transfer>
VError _Transfer(Transfer transfer, size_t& count, int64_t start)
{
    size_t wanted = count;
    size_t done = 0;
    for (;;) {
        done = 0;
        bool interrupted = false;
        while (done < wanted) {
            size_t chunk = wanted - done;
            if (chunk > XMacFileDesc::kMaxChunk)
                chunk = XMacFileDesc::kMaxChunk;
            ssize_t n = transfer(done, chunk, start + static_cast<int64_t>(done));
            if (n < 0) {
                if (errno == EINTR) {
                    interrupted = true;
                    break;
                }
                count = done;
                return LastPosixError();
            }
            // End of file for a read; a write that takes nothing ends too.
            if (n == 0)
                break;
            done += static_cast<size_t>(n);
            if (done < wanted)
                VTaskMgr::Get()->YieldNow();
        }
        if (!interrupted)
            break;
        VTaskMgr::Get()->YieldNow();
    }
    count = done;
    return VE_OK;
}

}  // namespace

VError XMacFileDesc::GetData(void* buffer, size_t& count, int64_t offset, bool absolute) const
{
    size_t wanted = count;
    int64_t start = absolute ? offset : fPos + offset;
    char* bytes = static_cast<char*>(buffer);
    VError err = _Transfer(
        [&](size_t done, size_t chunk, int64_t at) { return ::pread(fFD, bytes + done, chunk, at); }, count, start);
    if (!absolute)
        fPos = start + static_cast<int64_t>(count);
    if (err == VE_OK && count < wanted)
        err = VE_STREAM_EOF;
    return err;
}

VError XMacFileDesc::PutData(const void* buffer, size_t& count, int64_t offset, bool absolute) const
{
    size_t wanted = count;
    int64_t start = absolute ? offset : fPos + offset;
    const char* bytes = static_cast<const char*>(buffer);
    VError err = _Transfer(
        [&](size_t done, size_t chunk, int64_t at) { return ::pwrite(fFD, bytes + done, chunk, at); }, count, start);
    if (!absolute)
        fPos = start + static_cast<int64_t>(count);
    if (err == VE_OK && count < wanted)
        err = PosixErrorFromErrno(EINVAL);
    return err;
}

VError XMacFileDesc::GetPos(int64_t* pos) const
{
    if (pos)
        *pos = fPos;
    return VE_OK;
}

VError XMacFileDesc::SetPos(int64_t pos, bool absolute) const
{
    fPos = absolute ? pos : fPos + pos;
    return VE_OK;
}

VError XMacFileDesc::Flush() const
{
    return RetryOnEINTR([&] { return ::fsync(fFD); }) == 0 ? VE_OK : LastPosixError();
}

}  // namespace bkit
