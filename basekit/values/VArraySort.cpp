// VArraySort.cpp - the multi-key sort of several sortables kept in step.
//
// The order is computed on a list of indexes with a merge sort, then carried
// out on the sortables with at most one exchange per element. The merge sort
// keeps every access inside the range even when the comparisons are not
// transitive (epsilon comparison of reals, NaNs, collations), it needs fewer
// of the (virtual, possibly collating) comparisons than a quicksort, and it
// stays O(n log n) on ranges full of equal keys.
#include <algorithm>
#include <new>
#include <vector>

#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/values/VArrayValue.h"

namespace bkit {

namespace {

constexpr OsType kMemTag_Sort = MakeOsType("sort");

// Element i against element j over the keys in order of precedence.
CompareResult CompareOnKeys(ISortable** sortables, uint8_t** data, const bool* descending, int32_t keyCount,
                            int32_t i, int32_t j)
{
    for (int32_t k = 0; k < keyCount; ++k) {
        CompareResult result = sortables[k]->CompareElements(data[k], i, j);
        if (result != CR_EQUAL) {
            if (descending && descending[k])
                result = result == CR_BIGGER ? CR_SMALLER : CR_BIGGER;
            return result;
        }
    }
    return CR_EQUAL;
}

}  // namespace

bool ISortable::SortElementsStably(uint8_t*, int32_t, int32_t, bool)
{
    return false;
}

void ISortable::MultiCriteriaQSort(ISortable** sortables, const bool* descending, int32_t keyCount, int32_t first,
                                   int32_t last)
{
    if (!sortables || first < 0 || last - first < 1)
        return;
    int32_t listCount = 0;
    while (sortables[listCount])
        ++listCount;
    if (listCount == 0)
        return;
    keyCount = std::clamp(keyCount, 0, listCount);

    // One sortable on one key: its own stable sort gives the same order
    // without an index list, a permutation pass and the indirection of
    // every comparison through the index.
    if (listCount == 1 && keyCount == 1) {
        uint8_t* own = sortables[0]->LockAndGetData();
        bool sorted = sortables[0]->SortElementsStably(own, first, last, descending && descending[0]);
        sortables[0]->UnlockData();
        if (sorted)
            return;
    }

    auto** data = static_cast<uint8_t**>(VMemory::NewPtr(sizeof(uint8_t*) * static_cast<size_t>(listCount), kMemTag_Sort));
    if (!data)
        return;
    for (int32_t s = 0; s < listCount; ++s)
        data[s] = sortables[s]->LockAndGetData();

    const int32_t n = last - first + 1;
    try {
        // order[k]: the index of the element that goes to position first + k.
        std::vector<int32_t> order(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k)
            order[static_cast<size_t>(k)] = first + k;
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            return CompareOnKeys(sortables, data, descending, keyCount, a, b) == CR_SMALLER;
        });

        // Carry the order out with exchanges: where[e] is the current position
        // of the element that started at first + e, at[p] the one now at first + p.
        std::vector<int32_t> where(static_cast<size_t>(n));
        std::vector<int32_t> at(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k) {
            where[static_cast<size_t>(k)] = k;
            at[static_cast<size_t>(k)] = k;
        }
        for (int32_t k = 0; k < n; ++k) {
            int32_t wanted = order[static_cast<size_t>(k)] - first;
            int32_t p = where[static_cast<size_t>(wanted)];
            if (p == k)
                continue;
            for (int32_t s = 0; s < listCount; ++s)
                sortables[s]->SwapElements(data[s], first + k, first + p);
            int32_t displaced = at[static_cast<size_t>(k)];
            at[static_cast<size_t>(p)] = displaced;
            where[static_cast<size_t>(displaced)] = p;
            at[static_cast<size_t>(k)] = wanted;
            where[static_cast<size_t>(wanted)] = k;
        }
    } catch (const std::bad_alloc&) {
        // No room for the index lists: the sortables stay as they were.
    }

    for (int32_t s = 0; s < listCount; ++s)
        sortables[s]->UnlockData();
    VMemory::DisposePtr(data);
}

}  // namespace bkit
