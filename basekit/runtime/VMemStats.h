// VMemStats.h - statistics of the own allocator and the leak counter.
//
// This file defines VMemStats, the record the memory manager fills for
// VCppMemMgr::GetStatistics (counters, blocks by tag, small blocks and pages by
// size) with its text reports, and VLeaksChecker, which counts blocks
// registered with a stack crawl and opens the leak report file. The system
// allocator gathers no statistics: its record stays zero.
// Neither class is thread-safe; the memory manager fills the record under its
// mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>

#include "basekit/BKitTypes.h"
#include <string>

namespace bkit {

class VCriticalSection;
class VStream;
class VString;
class XMacStackCrawl;

// Serialises memory dumps across tasks; built at start-up.
extern VCriticalSection gDumpMemMutex;

class VMemStats {
public:
    struct ObjectInfo {
        std::string fName;
        size_t fCount = 0;
        size_t fMemory = 0;
    };
    struct TagInfo {
        size_t fCount = 0;
        size_t fMemory = 0;
    };

    VMemStats() = default;

    // Zeroes the counters and empties the tables.
    void Clear();

    // Counts one block in use of size bytes under its tag.
    void AddTag(OsType tag, size_t size);

    // The short report: used and free memory, the biggest free block, the
    // objects by kind and the blocks by tag. Answers the stream's error.
    VError DumpToStream(VStream* stream) const;
    // The long report, composed and answered (it is written nowhere).
    VString Dump() const;

    size_t fUsedMem = 0;
    size_t fFreeMem = 0;
    size_t fNbBigBlocks = 0;
    size_t fNbUsedBigBlocks = 0;
    size_t fNbFreeBigBlocks = 0;
    size_t fNbPages = 0;
    size_t fNbSmallBlocks = 0;
    size_t fNbUsedSmallBlocks = 0;
    size_t fNbFreeSmallBlocks = 0;
    size_t fBiggestBlock = 0;
    size_t fBiggestFreeBlock = 0;
    size_t fNbObjects = 0;
    std::map<uint32_t, ObjectInfo> fObjects;
    std::map<OsType, TagInfo> fTags;
    // Block size -> (used, free) small blocks.
    std::map<size_t, std::pair<size_t, size_t>> fSmallBlocks;
    // Block size -> (full, partial) pages.
    std::map<size_t, std::pair<size_t, size_t>> fPages;
    // Block size -> count of big blocks in use that are no page.
    std::map<size_t, size_t> fOtherBigBlocks;
};

class VLeaksChecker {
public:
    VLeaksChecker() = default;
    virtual ~VLeaksChecker() = default;

    // Answers the previous state.
    bool SetLeaksCheck(bool on);
    bool IsEnabled() const { return fEnabled; }
    void SetStackFramesToSkip(int frames) { fFramesToSkip = frames; }

    // Enabled: loads the caller's stack (at most 8 frames) into crawl and
    // counts the block when frames were found.
    void RegisterBlock(XMacStackCrawl& crawl);
    // Uncounts a block whose crawl holds frames.
    void UnregisterBlock(XMacStackCrawl& crawl);
    int32_t GetRegisteredBlocks() const { return fRegistered; }

    // Opens "<main bundle path without extension>.<name>.leaks" for writing and
    // writes its head (date line and the count of leaks). Null without a main
    // bundle or when the file cannot be opened; the caller closes it.
    FILE* OpenDumpFile(const char* name);

private:
    int fFramesToSkip = 4;
    int32_t fRegistered = 0;
    bool fEnabled = false;
};

}  // namespace bkit
