// VJSONImporterNames.h - the member names of one JSON text read.
//
// This file defines json_reader::NameTable, which makes each member name a
// document uses once, so that every object of the document holding that name
// shares one text block, and the objects being read can point at their names
// instead of holding copies while their members are gathered.
//
// Contracts:
// - A name returned stays at its address, unchanged, until the table goes.
// - The table keeps every distinct name it is given: it lives as long as one
//   parse, whose objects hold those names anyway.
// - Used by one task.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"

namespace bkit::json_reader {

class NameTable {
public:
    // The name of these units, made at its first meeting; *hash gets its
    // VJSONObject::HashName. Out of memory throws std::bad_alloc.
    const VString& Get(const UniChar* units, VIndex length, uint32_t* hash);

private:
    void _Grow();

    // One slot of the open-addressed table (name null: free). The units are
    // the name's own, kept beside it so that a probe reads one slot only.
    struct Slot {
        uint32_t hash;
        VIndex length;
        const UniChar* units;
        const VString* name;
    };
    // The names in the order met, each in a block of its own so that none
    // moves as the table grows.
    std::vector<std::unique_ptr<VString>> fNames;
    // At most half full.
    std::vector<Slot> fSlots;
};

}  // namespace bkit::json_reader
