// XMacStackCrawl.h - room for the return addresses of a calling stack.
//
// This file defines XMacStackCrawl, the fixed-size record of up to 48 return
// addresses that error records and log entries embed. Error records leave it
// empty (a count of 0): capturing and dumping a crawl with demangled names is
// the logger's business and is not built yet. The record is plain data; copying
// it copies the addresses.
#pragma once

#include <cstdint>

namespace bkit {

class XMacStackCrawl {
public:
    static constexpr int kMaxFrames = 48;

    XMacStackCrawl() = default;

    // Number of addresses held, 0 to kMaxFrames.
    int32_t GetCount() const { return fCount; }
    bool IsEmpty() const { return fCount == 0; }

    // The address of frame index (0 is the innermost); null past the count.
    void* GetFrame(int32_t index) const { return (index >= 0 && index < fCount) ? fFrames[index] : nullptr; }

private:
    void* fFrames[kMaxFrames] = {};
    int32_t fCount = 0;
};

}  // namespace bkit
