// SeededHash.h - the hash of names in tables that outside input fills (JSON
// members, bag names), under a seed drawn once per process.
//
// Bytes are taken eight at a time; each step multiplies into 128 bits and
// folds the halves together, so what a change in a word does to the hash
// depends on the state, hence on the seed: no two names can be picked that
// collide under every seed (a plain multiply carries a flip of a word's top
// bit through unchanged, and a matching flip in the next word cancels it
// whatever the seed). The last step multiplies by a seeded factor and mixes
// every bit into the low ones that pick a slot: names that differ only in a
// digit or two (ids used as names) still spread.
//
// The value differs from process to process: it is never stored nor sent.
// Thread-safe; the seed is drawn at the first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "basekit/runtime/VSystem.h"

namespace bkit {

// This process's seed, so that no text can be made in advance whose names
// all fall in one slot.
inline uint64_t ProcessHashSeed()
{
    static const uint64_t sSeed = [] {
        uint64_t seed = 0;
        for (int i = 0; i < 3; ++i)
            seed = (seed << 31) ^ static_cast<uint32_t>(VSystem::Random(false));
        return seed;
    }();
    return sSeed;
}

inline uint32_t SeededHash(const void* data, size_t length, uint64_t seed)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    auto fold = [](uint64_t a, uint64_t b) {
        const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
        return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
    };
    constexpr uint64_t kStep = 0x9E3779B97F4A7C15ull;
    constexpr uint64_t kLast = 0xE7037ED1A0B428DBull;
    uint64_t hash = seed ^ (length * kLast);
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof(word));
        hash = fold(hash ^ word, kStep);
    }
    uint64_t tail = 0;
    for (; i < length; ++i)
        tail = (tail << 8) | bytes[i];
    hash = fold(hash ^ tail, seed ^ kLast);
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

inline uint32_t SeededHash(const void* data, size_t length)
{
    return SeededHash(data, length, ProcessHashSeed());
}

}  // namespace bkit
