// VArraySort.h - the typed sort of the arrays of plain numbers.
//
// This file defines SortPlainElements, which orders a range of plain numbers
// of one type in place. Integers are sorted with the standard introsort (their
// order is a strict weak order). Doubles go through a merge sort: a NaN is
// neither smaller nor greater than any number, so their order is not
// transitive, and a merge sort never reads outside the range whatever the
// comparisons answer.
#pragma once

#include <algorithm>
#include <functional>
#include <type_traits>

namespace bkit {

template <class T>
void SortPlainElements(T* first, T* last, bool descending)
{
    if (last - first < 2)
        return;
    if constexpr (std::is_floating_point_v<T>) {
        if (descending)
            std::stable_sort(first, last, [](T a, T b) { return a > b; });
        else
            std::stable_sort(first, last, [](T a, T b) { return a < b; });
    } else {
        if (descending)
            std::sort(first, last, std::greater<T>());
        else
            std::sort(first, last, std::less<T>());
    }
}

}  // namespace bkit
