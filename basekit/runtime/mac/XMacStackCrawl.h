// XMacStackCrawl.h - the return addresses of a calling stack and their text.
//
// This file defines XMacStackCrawl, the fixed-size record of up to 48 return
// addresses that error records, log entries and the assertion file use. Error
// records leave it empty (a count of 0); the debug manager and the logger load
// one where an assertion fails. The record is plain data: copying it copies the
// addresses. Loading and dumping take no lock and may run on any thread; names
// come from backtrace_symbols and dladdr, which see exported symbols only (the
// build links with -rdynamic so that the program's own functions are named).
#pragma once

#include <cstdint>
#include <cstdio>

namespace bkit {

class VString;

class XMacStackCrawl {
public:
    static constexpr int kMaxFrames = 48;

    XMacStackCrawl() = default;

    // Takes the caller's stack: skips the innermost skip frames (this function
    // counts as one) and keeps at most mostFrames (capped at kMaxFrames) of the
    // following ones. Nothing is kept when the stack is not deeper than skip.
    void LoadFrames(uint32_t skip, uint32_t mostFrames);

    // Number of addresses held, 0 to kMaxFrames.
    int32_t GetCount() const { return fCount; }
    bool IsEmpty() const { return fCount == 0; }

    // The address of frame index (0 is the innermost); null past the count.
    void* GetFrame(int32_t index) const { return (index >= 0 && index < fCount) ? fFrames[index] : nullptr; }

    // One line per frame, "  :: frame %u: %s\n", numbered from count-1 down
    // to 0, with the system's symbol line of the address.
    void Dump(FILE* file) const;

    // Appends one line per frame: "   {n} 0x<address> - <demangled name>\n",
    // numbered from count-1 down to 0; "<inline>" when no symbol is found.
    void Dump(VString& out) const;

    // Orders by frame count, then by the addresses from the innermost frame.
    bool operator<(const XMacStackCrawl& other) const;

private:
    void* fFrames[kMaxFrames] = {};
    int32_t fCount = 0;
};

}  // namespace bkit
