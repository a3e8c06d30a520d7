// VJSONImporterNamesTest.cpp - the hash under which the reader's name table
// and every object's name index file member names: seeded, so that names
// picked to share a slot under one seed spread under another, and no family
// of names shares a slot whatever the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "basekit/json/VJSONObject.h"
#include "json/JSONTextTestSupport.h"

namespace bkit {
namespace {

using test::Parsed;
using test::ParseInto;

constexpr uint64_t kSeedA = 0x0123456789ABCDEFull;
constexpr uint64_t kSeedB = 0xFEDCBA9876543210ull;

uint32_t Slot(const std::u16string& name, uint64_t seed, uint32_t slots)
{
    return VJSONObject::HashName(name.data(), name.size(), seed) & (slots - 1);
}

// How many of the names share the busiest slot of a table of that many slots.
size_t Busiest(const std::vector<std::u16string>& names, uint32_t slots, const uint64_t* seed)
{
    std::map<uint32_t, size_t> filled;
    size_t most = 0;
    for (const std::u16string& name : names) {
        const uint32_t hash = seed ? VJSONObject::HashName(name.data(), name.size(), *seed)
                                   : VJSONObject::HashName(name.data(), name.size());
        most = std::max(most, ++filled[hash & (slots - 1)]);
    }
    return most;
}

TEST(VJSONImporterNames, NamesPickedToCollideUnderOneSeedSpreadUnderAnother)
{
    // Names found by trying, as a crafted text would hold them, all in the
    // slot of "n0" under seed A.
    constexpr uint32_t kSlots = 4096;
    const uint32_t target = Slot(u"n0", kSeedA, kSlots);
    std::vector<std::u16string> crafted;
    for (int i = 1; crafted.size() < 32; ++i) {
        const std::string digits = std::to_string(i);
        const std::u16string name = u"n" + std::u16string(digits.begin(), digits.end());
        if (Slot(name, kSeedA, kSlots) == target)
            crafted.push_back(name);
    }
    ASSERT_EQ(Busiest(crafted, kSlots, &kSeedA), crafted.size());
    EXPECT_LT(Busiest(crafted, kSlots, &kSeedB), 4u);
}

TEST(VJSONImporterNames, NoFamilyOfNamesCollidesWhateverTheSeed)
{
    // Each pair of four-unit words where the first has its top unit's top bit
    // flipped and the second the top bits of its units 1 and 3: a hash that
    // only multiplies and shifts carries those flips through and cancels
    // them, for any seed. Six pairs make 64 names.
    const std::u16string base = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV";
    std::vector<std::u16string> family;
    for (unsigned mask = 0; mask < 64; ++mask) {
        std::u16string name = base;
        for (unsigned pair = 0; pair < 6; ++pair) {
            if (mask & (1u << pair)) {
                for (size_t unit : {3u, 5u, 7u})
                    name[pair * 8 + unit] ^= 0x8000;
            }
        }
        family.push_back(name);
    }
    constexpr uint32_t kSlots = 65536;
    EXPECT_LT(Busiest(family, kSlots, &kSeedA), 4u);
    EXPECT_LT(Busiest(family, kSlots, &kSeedB), 4u);
    EXPECT_LT(Busiest(family, kSlots, nullptr), 4u);  // this process's own seed

    // The reader's table and the object's index agree on the process seed:
    // every member is found again under its name.
    std::string text = "{";
    for (size_t i = 0; i < family.size(); ++i) {
        const VString name(family[i].data(), static_cast<VIndex>(family[i].size()));
        text += (i ? ",\"" : "\"") + to_string(name) + "\":" + std::to_string(i);
    }
    text += "}";
    Parsed parsed;
    ParseInto(parsed, text.c_str(), VJSONImporter::kOption_Strict);
    ASSERT_EQ(parsed.err, 0u);
    VJSONObject* object = parsed.value.GetObject();
    ASSERT_NE(object, nullptr);
    for (size_t i = 0; i < family.size(); ++i) {
        VString name(family[i].data(), static_cast<VIndex>(family[i].size()));
        EXPECT_EQ(object->GetProperty(name).GetNumber(), static_cast<double>(i));
    }
}

}  // namespace
}  // namespace bkit
