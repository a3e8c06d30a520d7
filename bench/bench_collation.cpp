// bench_collation.cpp - the system collator against a bare ICU collator.
//
// Each collator benchmark has a bare twin calling ucol_strcoll on an ICU
// collator of the same locale and strength (with the same canonical
// normalisation), over the same pairs of words, so that the pair's times read
// as the cost of the collator's layers: the empty-text guards, the width fold
// scan and the virtual call. Pairs mix equal words, case and accent
// differences and plain order differences.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <unicode/ucol.h>

#include "basekit/text/VCollator.h"
#include "basekit/values/IRefCountable.h"

namespace {

using bkit::VCollator;
using bkit::VCollator_system;
using bkit::VIndex;
using bkit::VRefPtr;

struct Pair {
    std::u16string a;
    std::u16string b;
};

std::vector<Pair> MakePairs()
{
    const char16_t* words[] = {
        u"apple",      u"Apple",         u"application", u"r\u00E9sum\u00E9", u"resume",
        u"R\u00C9SUM\u00C9", u"zebra",   u"Zurich",      u"co\u00F6perate",   u"cooperate",
        u"na\u00EFve", u"naive",         u"Stra\u00DFe", u"strasse",          u"the quick brown fox",
        u"the quick brown dog",          u"\u00C5ngstr\u00F6m", u"angstrom",  u"x",
        u"customer-order-2024-03-05",    u"customer-order-2024-03-06",
    };
    std::vector<Pair> pairs;
    const size_t n = sizeof(words) / sizeof(words[0]);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j)
            pairs.push_back({words[i], words[j]});
    }
    return pairs;
}

const std::vector<Pair>& Pairs()
{
    static const std::vector<Pair> sPairs = MakePairs();
    return sPairs;
}

void BM_Collator_Compare(benchmark::State& state)
{
    bool withDiacritics = state.range(0) != 0;
    VRefPtr<VCollator> collator = VRefPtr<VCollator>::Adopt(VCollator_system::Create(1033, nullptr));
    const std::vector<Pair>& pairs = Pairs();
    for (auto _ : state) {
        int sum = 0;
        for (const Pair& p : pairs)
            sum += collator->CompareString(p.a.data(), static_cast<VIndex>(p.a.size()), p.b.data(),
                                           static_cast<VIndex>(p.b.size()), withDiacritics);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pairs.size()));
}
BENCHMARK(BM_Collator_Compare)->Arg(1)->Arg(0);

void BM_BareICU_Compare(benchmark::State& state)
{
    bool withDiacritics = state.range(0) != 0;
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("en_US", &status);
    ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    ucol_setStrength(collator, withDiacritics ? UCOL_TERTIARY : UCOL_PRIMARY);
    const std::vector<Pair>& pairs = Pairs();
    for (auto _ : state) {
        int sum = 0;
        for (const Pair& p : pairs)
            sum += ucol_strcoll(collator, p.a.data(), static_cast<int32_t>(p.a.size()), p.b.data(),
                                static_cast<int32_t>(p.b.size()));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pairs.size()));
    ucol_close(collator);
}
BENCHMARK(BM_BareICU_Compare)->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
